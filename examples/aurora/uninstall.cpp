// "-U": the command that the uninstall entry runs. The installer put three
// things on the system for this file; this takes each of them back.
#include <cstring>

#include "aurora.h"

namespace {

constexpr char UninstallRoot[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\UnInstall\\";

bool SameTextNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
    if (!x) return true;
  }
}

bool RemoveUninstallKey(const char* fileName) {
  char key[MAX_PATH + 64];
  wsprintfA(key, "%s%s", UninstallRoot, fileName);  // fileName < MAX_PATH
  LONG result = RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
  return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

// system.ini may name us in the long or the short (8.3) form, in any case.
bool NamesThisFile(const char* entry, const char* longPath, const char* shortPath) {
  if (!*entry) return false;
  if (SameTextNoCase(entry, longPath) || SameTextNoCase(entry, shortPath)) return true;
  char entryShort[MAX_PATH];
  DWORD n = GetShortPathNameA(entry, entryShort, sizeof entryShort);
  return n > 0 && n < sizeof entryShort && SameTextNoCase(entryShort, shortPath);
}

// Returns false only when the line names this file and could not be removed.
bool ClearActiveScreensaver(const char* longPath, const char* shortPath) {
  char entry[MAX_PATH];
  GetPrivateProfileStringA("boot", "SCRNSAVE.EXE", "", entry, sizeof entry, "system.ini");
  if (!NamesThisFile(entry, longPath, shortPath)) return true;
  if (!WritePrivateProfileStringA("boot", "SCRNSAVE.EXE", nullptr, "system.ini")) return false;
  // With the file gone there is nothing left to start: screen saving goes off.
  SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, FALSE, nullptr, SPIF_UPDATEINIFILE | SPIF_SENDCHANGE);
  return true;
}

// The 9x family has no MoveFileEx: its restart step reads "NUL=path" lines
// from the [Rename] section of WinInit.Ini (short paths only), which may hold
// several lines with the same key, so the file is edited as text.
bool DeleteAtRestartByWinInit(const char* shortPath) {
  char iniPath[MAX_PATH];
  UINT n = GetWindowsDirectoryA(iniPath, MAX_PATH - 16);
  if (n == 0 || n >= MAX_PATH - 16) return false;
  lstrcatA(iniPath, "\\WinInit.Ini");

  static char text[65536];
  char line[MAX_PATH + 8];
  if (lstrlenA(shortPath) >= MAX_PATH) return false;
  int lineLength = wsprintfA(line, "NUL=%s\r\n", shortPath);

  HANDLE file = CreateFileA(iniPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD size = GetFileSize(file, nullptr), got = 0;
  const char header[] = "[Rename]\r\n";
  const int headerLength = sizeof header - 1;
  bool done = false;
  if (size != INVALID_FILE_SIZE && size + lineLength + headerLength + 2 < sizeof text &&
      ReadFile(file, text, size, &got, nullptr) && got == size) {
    text[size] = 0;
    char* at = nullptr;
    for (char* p = text; *p; ++p)
      if (CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, p, 8, "[Rename]", 8) == CSTR_EQUAL) {
        at = p;
        break;
      }
    DWORD newSize;
    if (at) {
      char* after = at + 8;
      while (*after == '\r' || *after == '\n') ++after;
      std::memmove(after + lineLength, after, size_t(text + size - after));
      std::memcpy(after, line, size_t(lineLength));
      newSize = size + DWORD(lineLength);
    } else {
      DWORD end = size;
      if (end > 0 && text[end - 1] != '\n') text[end++] = '\r', text[end++] = '\n';
      std::memcpy(text + end, header, headerLength);
      std::memcpy(text + end + headerLength, line, size_t(lineLength));
      newSize = end + DWORD(headerLength + lineLength);
    }
    DWORD put = 0;
    done = SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 && WriteFile(file, text, newSize, &put, nullptr) &&
           put == newSize && SetEndOfFile(file);
  }
  CloseHandle(file);
  return done;
}

// A running program cannot delete its own file, so when the direct delete is
// refused the file goes at the next restart: MoveFileEx on the NT family,
// WinInit.Ini on the 9x family (where MoveFileEx fails as not implemented).
bool RemoveOwnFile(const char* longPath, const char* shortPath) {
  if (DeleteFileA(longPath)) return true;
  if (MoveFileExA(longPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return true;
  return DeleteAtRestartByWinInit(shortPath);
}

}  // namespace

int Uninstall() {
  char longPath[MAX_PATH], shortPath[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, longPath, sizeof longPath);
  if (n == 0 || n >= sizeof longPath) return 2;
  n = GetShortPathNameA(longPath, shortPath, sizeof shortPath);
  if (n == 0 || n >= sizeof shortPath) lstrcpyA(shortPath, longPath);
  const char* fileName = std::strrchr(longPath, '\\');
  fileName = fileName ? fileName + 1 : longPath;

  bool ok = RemoveUninstallKey(fileName);
  ok = ClearActiveScreensaver(longPath, shortPath) && ok;
  DeleteSettings();
  ok = RemoveOwnFile(longPath, shortPath) && ok;
  return ok ? 0 : 1;
}
