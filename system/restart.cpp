#include "system/restart.h"

#include <windows.h>

#include "platform/bytes.h"
#include "system/text.h"

namespace {
struct RestartState {
  char Line[RenameLineCapacity];
  char FilePath[PathCapacity];
};
RestartState s_restart;
}  // namespace

int RenameAtRestart(const char* existing, const char* newName) {
  // NT deletes at restart when the new name is null; the name "NUL" would
  // schedule a rename onto the null device instead, and the file would stay.
  // "NUL" keeps its meaning in WinInit.Ini, where it asks for the deletion.
  const char* target = EqualNoCase(newName, "NUL") ? nullptr : newName;
  if (BOOL moved = MoveFileExA(existing, target, MOVEFILE_DELAY_UNTIL_REBOOT)) return moved;
  return AddRenameToRestartFile(existing, newName);
}

int AddRenameToRestartFile(const char* existing, const char* newName) {
  RestartState& s = s_restart;
  int32_t lineLength = FormatRenameLine(s.Line, newName, existing);
  if (lineLength == 0) return 0;
  // Without the Windows directory there is no restart file to edit; a
  // stand-in directory would only leave a stray file.
  UINT directoryLength = GetWindowsDirectoryA(s.FilePath, PathCapacity);
  if (directoryLength == 0 || !AppendFileName(s.FilePath, PathCapacity, directoryLength, RestartFileName, 0)) return 0;

  HANDLE file = CreateFileA(s.FilePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  bool created = GetLastError() != ERROR_ALREADY_EXISTS;

  DWORD sizeHigh = 0;
  DWORD size = GetFileSize(file, &sizeHigh);
  int32_t finalSize = int32_t(size);
  int result = 0;
  // A file too big for the signed sizes is not a restart file we can edit.
  if (size != INVALID_FILE_SIZE && sizeHigh == 0 && size <= DWORD(0x7FFFFFFF - RenameHeaderLength - lineLength)) {
    DWORD grown = size + DWORD(RenameHeaderLength + lineLength);
    if (HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, grown, nullptr)) {
      if (auto* content = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0))) {
        finalSize = AddRenameLine(content, int32_t(size), s.Line, lineLength);
        UnmapViewOfFile(content);
        result = 1;
      }
      CloseHandle(mapping);
    }
  } else {
    finalSize = -1;  // leave the size alone
  }
  if (finalSize >= 0) {
    // The mapping grew the file by the room for a header and a line; keep
    // only the real content.
    SetFilePointer(file, finalSize, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
  }
  CloseHandle(file);
  if (result == 0 && created) DeleteFileA(s.FilePath);
  return result;
}
