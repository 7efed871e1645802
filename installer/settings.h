// The settings record that travels in the payload as the entry "INFO", and the
// in-memory table of texts and settings filled from it. One definition of the
// record's layout, used by the installer and by the tool that writes it.
#pragma once
#include <cstdint>

#include "archive/archive.h"

inline constexpr int32_t InstallInfoSize = 5640;

// InstallInfo field offsets.
inline constexpr int32_t TextSlotsAt = 2060;  // eight texts of 80 bytes
inline constexpr int32_t TextSlotSize = 80;
inline constexpr int32_t QuestionTextAt = 2060;
inline constexpr int32_t FinishTextAt = 2140;
inline constexpr int32_t FailureTextAt = 2220;
inline constexpr int32_t ProgressTextAt = 2300;
inline constexpr int32_t YesTextAt = 2540;
inline constexpr int32_t NoTextAt = 2620;
inline constexpr int32_t TextPresentAt = 2700;  // eight presence bytes
inline constexpr int32_t YesTextPresentAt = 2706;
inline constexpr int32_t NoTextPresentAt = 2707;
inline constexpr int32_t DocumentPathAt = 2728;
inline constexpr int32_t DocumentPathSize = 256;
inline constexpr int32_t PostInstallActionAt = 2984;
inline constexpr int32_t ShowProgressAt = 2992;
inline constexpr int32_t SaverNameAt = 3292;
inline constexpr int32_t SaverNameSize = 256;
inline constexpr int32_t DoNotActivateAt = 3548;
inline constexpr int32_t PatchEnabledAt = 3848;
inline constexpr int32_t PatchSource1At = 3852;
inline constexpr int32_t PatchTarget1At = 3856;
inline constexpr int32_t PatchLength1At = 3860;
inline constexpr int32_t PatchSource2At = 3864;
inline constexpr int32_t PatchTarget2At = 3868;
inline constexpr int32_t PatchLength2At = 3872;
inline constexpr int32_t WidenSpecialCharAt = 4040;
inline constexpr int32_t PatchLengthMax = 8192;

// Post-install action codes.
inline constexpr uint8_t ActionNone = 0;
inline constexpr uint8_t ActionDisplayProperties = 1;
inline constexpr uint8_t ActionStartSaver = 2;
inline constexpr uint8_t ActionOpenDocument = 3;

// Table capacities, terminating NUL included.
inline constexpr int32_t TextCapacity = 64;
inline constexpr int32_t LabelCapacity = 32;
inline constexpr int32_t CommandCapacity = 52;

struct InstallerTexts {
  char SaverFileName[TextCapacity];
  char QuestionText[TextCapacity];
  char FinishText[TextCapacity];
  char FailureText[TextCapacity];
  char ProgressText[TextCapacity];
  char YesText[LabelCapacity];
  char NoText[LabelCapacity];
  uint8_t ShowProgress;
  uint8_t PostInstallAction;
  char DisplayPropertiesCommand[CommandCapacity];
  int32_t ProgressTotal;
};

// Record fields.
int32_t InfoInt(const uint8_t* installInfo, int32_t at);
void SetInfoInt(uint8_t* installInfo, int32_t at, int32_t value);

// The table as it stands before any settings are loaded.
void ResetInstallerTexts(InstallerTexts& texts);

// Reads "INFO" from the archive at path (null: the running program) into the
// 5640-byte installInfo record (a shorter record leaves the rest zero) and
// fills the table; leaves the table as it was when the record cannot be read.
// Texts longer than their slot are cut (63 characters, labels 31); SaverName
// is cut to 59 so that ".scr" always fits. The command comes from the text
// block at offset 0, deciphered into pool.
void LoadInstallerSettings(Archive& archive, const char* path, uint8_t* installInfo, InstallerTexts& texts,
                           TextPool& pool);
// Sum of EntryProgressSize over the entries the progress bar counts; 0 when
// the archive does not open.
int32_t ComputeProgressTotal(Archive& archive, const char* path);
// Original size of a compressed entry, else 0 (also for a missing entry or a
// negative size). The total is capped at the largest int32_t.
int32_t EntryProgressSize(const Archive& archive, const char* name);
