// The settings record "INFO" and the table of texts filled from it.
#include "installer/settings.h"

#include "platform/bytes.h"

namespace {

constexpr char SaverSuffix[] = ".scr";
constexpr int32_t SaverSuffixLength = sizeof SaverSuffix - 1;
constexpr char DefaultDisplayPropertiesCommand[] = "Rundll32 Shell32.dll,Control_RunDLL Desk.cpl @0,1";

// Entries whose expansion the progress bar counts.
constexpr const char* ProgressEntries[] = {"SAVER",    "STUB",     "MOVIE", "ZETT", "LESMI",
                                           "PREVIEWB", "PREVIEWF", "VERL",  "ADDL", "PSSB"};
constexpr int32_t ProgressEntryCount = sizeof ProgressEntries / sizeof ProgressEntries[0];
constexpr int32_t NumberedProgressEntries = 16;  // ADDL0 .. ADDL15

// Copies a record field of fieldSize bytes, which need not hold a NUL, into a
// table slot of capacity bytes: cut to fit, always terminated. Returns the
// length copied.
int32_t CopyField(char* to, int32_t capacity, const uint8_t* field, int32_t fieldSize) {
  int32_t n = 0;
  while (n < capacity - 1 && n < fieldSize && field[n]) {
    to[n] = char(field[n]);
    ++n;
  }
  to[n] = 0;
  return n;
}

bool Present(const uint8_t* installInfo, int32_t at) { return installInfo[at] != 0; }

}  // namespace

int32_t InfoInt(const uint8_t* installInfo, int32_t at) { return int32_t(GetLe32(installInfo + at)); }

void SetInfoInt(uint8_t* installInfo, int32_t at, int32_t value) { PutLe32(installInfo + at, uint32_t(value)); }

void ResetInstallerTexts(InstallerTexts& texts) {
  FillBytes(&texts, 0, int32_t(sizeof texts));
  // One-character texts on the zeroed table.
  texts.SaverFileName[0] = '1';
  texts.QuestionText[0] = '-';
  texts.FinishText[0] = '-';
  texts.FailureText[0] = '-';
  texts.ProgressText[0] = '-';
  texts.YesText[0] = '-';
  texts.NoText[0] = '-';
  texts.ShowProgress = 9;
  texts.PostInstallAction = 1;
  CopyText(texts.DisplayPropertiesCommand, DefaultDisplayPropertiesCommand, CommandCapacity);
  texts.ProgressTotal = 7;
}

void LoadInstallerSettings(Archive& archive, const char* path, uint8_t* installInfo, InstallerTexts& texts,
                           TextPool& pool) {
  FileHandle source = OpenSourceArchive(archive, path);
  if (source == InvalidFile) return;
  FillBytes(installInfo, 0, InstallInfoSize);
  int read = ExtractEntryToMemory(archive, "INFO", installInfo, InstallInfoSize);
  CloseArchiveFile(archive, source);
  if (!read) return;

  char* slots[] = {texts.QuestionText, texts.FinishText, texts.FailureText, texts.ProgressText};
  for (int32_t i = 0; i < 4; ++i) {
    if (Present(installInfo, TextPresentAt + i))
      CopyField(slots[i], TextCapacity, installInfo + TextSlotsAt + i * TextSlotSize, TextSlotSize);
    else
      slots[i][0] = 0;
  }
  CopyText(texts.YesText, "Yes", LabelCapacity);
  CopyText(texts.NoText, "No", LabelCapacity);

  // The name is cut so that ".scr" always fits behind it.
  int32_t nameLength = CopyField(texts.SaverFileName, TextCapacity - SaverSuffixLength, installInfo + SaverNameAt,
                                 SaverNameSize);
  CopyText(texts.SaverFileName + nameLength, SaverSuffix, SaverSuffixLength + 1);

  texts.ShowProgress = uint8_t(InfoInt(installInfo, ShowProgressAt));
  texts.PostInstallAction = uint8_t(InfoInt(installInfo, PostInstallActionAt));
  CopyText(texts.DisplayPropertiesCommand, DecipherTextBlock(archive.cipher, pool, 0), CommandCapacity);
  if (InfoInt(installInfo, ShowProgressAt) != 0) texts.ProgressTotal = ComputeProgressTotal(archive, path);

  if (Present(installInfo, YesTextPresentAt))
    CopyField(texts.YesText, LabelCapacity, installInfo + YesTextAt, TextSlotSize);
  if (Present(installInfo, NoTextPresentAt))
    CopyField(texts.NoText, LabelCapacity, installInfo + NoTextAt, TextSlotSize);
}

int32_t ComputeProgressTotal(Archive& archive, const char* path) {
  FileHandle source = OpenSourceArchive(archive, path);
  if (source == InvalidFile) return 0;
  // Summed with a cap, so a damaged directory cannot wrap the total.
  int32_t total = 0;
  char numbered[8] = {'A', 'D', 'D', 'L'};
  for (int32_t i = 0; i < ProgressEntryCount + NumberedProgressEntries; ++i) {
    const char* name = numbered;
    if (i < ProgressEntryCount) {
      name = ProgressEntries[i];
    } else {
      const int32_t n = i - ProgressEntryCount;
      int32_t at = 4;
      if (n >= 10) numbered[at++] = char('0' + n / 10);
      numbered[at++] = char('0' + n % 10);
      numbered[at] = 0;
    }
    const int32_t size = EntryProgressSize(archive, name);  // never negative
    total = size > 0x7FFFFFFF - total ? 0x7FFFFFFF : total + size;
  }
  CloseArchiveFile(archive, source);
  return total;
}

int32_t EntryProgressSize(const Archive& archive, const char* name) {
  int32_t original = EntryOriginalSize(archive, name);
  // A negative size can only come from a damaged record; it counts nothing.
  if (original < 0 || original == EntryStoredSize(archive, name)) return 0;
  return original;
}
