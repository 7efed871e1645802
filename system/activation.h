// Making the installed file the active screensaver and registering its
// uninstall entry. Every failure here is silent: the install stays a success.
#pragma once
#include <windows.h>

#include <cstdint>

#include "system/text.h"  // FindTextNoCase

inline constexpr int32_t WidePathCapacity = 256;  // UTF-16 units, NUL included
inline constexpr int32_t UninstallCommandCapacity = 256;
inline constexpr char UninstallKeyPrefix[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\UnInstall\\";

// Records fileName's short path in system.ini [boot] SCRNSAVE.EXE (the wide
// interface on NT, through WidenPath) and switches screen saving on. A path
// that does not fit is not written.
void ActivateScreensaver(const char* fileName);
// Widens text byte by byte (166 -> U+258C when widenSpecialChar is nonzero)
// into a static buffer; null when text has more than 255 characters.
const WCHAR* WidenPath(const char* text, int32_t widenSpecialChar);
// Writes the uninstall key of SaverFileName: "DisplayName" and
// "UninstallString" (the installed file's path and " -U"). Writes nothing
// when the command would not fit its buffer.
void RegisterUninstall();
// Creates or opens root\keyName and stores text as the REG_SZ valueName
// (its length without the NUL); true when stored.
bool SetRegistryString(HKEY root, const char* keyName, const char* valueName, const char* text);
