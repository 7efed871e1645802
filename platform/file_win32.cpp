#include "platform/file.h"

#include <windows.h>

FileHandle FileOpenRead(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  return reinterpret_cast<FileHandle>(h);
}

FileHandle FileCreate(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return reinterpret_cast<FileHandle>(h);
}

int32_t FileRead(FileHandle file, void* buffer, int32_t count) {
  DWORD got = 0;
  if (file == InvalidFile || count <= 0) return 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(file), buffer, DWORD(count), &got, nullptr)) return 0;
  return int32_t(got);
}

int32_t FileWrite(FileHandle file, const void* buffer, int32_t count) {
  DWORD put = 0;
  if (file == InvalidFile || count <= 0) return 0;
  if (!WriteFile(reinterpret_cast<HANDLE>(file), buffer, DWORD(count), &put, nullptr)) return 0;
  return int32_t(put);
}

bool FileSeek(FileHandle file, int32_t position) {
  if (file == InvalidFile || position < 0) return false;
  return SetFilePointer(reinterpret_cast<HANDLE>(file), position, nullptr, FILE_BEGIN) == DWORD(position);
}

bool FileSeekEnd(FileHandle file) {
  return file != InvalidFile &&
         SetFilePointer(reinterpret_cast<HANDLE>(file), 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER;
}

uint32_t FileSize(FileHandle file) {
  if (file == InvalidFile) return 0;
  DWORD size = GetFileSize(reinterpret_cast<HANDLE>(file), nullptr);
  return size == INVALID_FILE_SIZE ? 0 : uint32_t(size);
}

void FileClose(FileHandle file) {
  if (file != InvalidFile) CloseHandle(reinterpret_cast<HANDLE>(file));
}

bool FileDelete(const char* path) { return DeleteFileA(path) != 0; }

bool OwnExecutablePath(char* buffer, int32_t size) {
  DWORD n = GetModuleFileNameA(nullptr, buffer, DWORD(size));
  return n > 0 && int32_t(n) < size;
}
