#include "system/paths.h"

#include <windows.h>

#include "system/text.h"

namespace {
struct PathState {
  char Path[PathCapacity];
};
PathState s_paths;
}  // namespace

char* WindowsPath(const char* name) {
  UINT length = GetWindowsDirectoryA(s_paths.Path, PathCapacity);
  BuildWindowsPath(s_paths.Path, length, name);
  return s_paths.Path;
}

char* ShortWindowsPath(const char* name) {
  bool isShort = IsShortFileName(name);
  char* path = WindowsPath(name);
  if (isShort || path[0] == 0) return path;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search != INVALID_HANDLE_VALUE) {
    if (found.cAlternateFileName[0]) WindowsPath(found.cAlternateFileName);
    FindClose(search);
  }
  return path;
}
