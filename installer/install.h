// The installation procedure: builds the screensaver file in the Windows
// directory from the installer's own payload, activates it, registers its
// uninstall entry, provides the accompanying document and reports the outcome.
#pragma once
#include <cstdint>

#include "platform/file.h"

// One whole installation; the outcome is g_run.InstallSucceeded. Returns 0.
int InstallScreensaver();
// Copies base, then base01, base02, ... up to the first that fails; leaves the
// failure latch as it found it. Returns 0.
int CopyAdditionalEntries(const char* base);
// Copies the two byte ranges that InstallInfo names from the installer file
// into the new file, then moves the new file to its end.
void CopyPatchRanges(FileHandle installer, FileHandle target);

// A name that stays a file of its own in the directory it is put in: not
// empty, no directory part, no "..", no drive, not a device such as CON or LPT1.
bool IsPlainFileName(const char* name);
// The full path of the installed file for SaverFileName into path (260
// bytes); false when the name is not a plain ".scr" file name or the path,
// with room for " /s" behind it, does not fit.
bool SaverTargetPath(const char* saverFileName, char* path);
// The document's file name: the part of the 256-byte DocumentPath field
// after its last backslash; null when it is not a plain file name.
const char* DocumentFileName(const uint8_t* documentPathField);
