// The thin file layer under the portable code: Win32 calls on Windows, POSIX
// on the host. Sizes and offsets are signed 32-bit, as in the stored formats.
#pragma once
#include <cstdint>

using FileHandle = intptr_t;
inline constexpr FileHandle InvalidFile = -1;

// Opens an existing file for reading (others may read and write it meanwhile).
FileHandle FileOpenRead(const char* path);
// Creates or replaces a file for writing, unshared.
FileHandle FileCreate(const char* path);
// Reads up to count bytes; returns the number read, 0 on failure or at the end.
int32_t FileRead(FileHandle file, void* buffer, int32_t count);
// Writes count bytes; returns the number written.
int32_t FileWrite(FileHandle file, const void* buffer, int32_t count);
// Moves to an absolute position; false on failure.
bool FileSeek(FileHandle file, int32_t position);
// Moves to the end of the file.
bool FileSeekEnd(FileHandle file);
// Size in bytes, low 32 bits as unsigned.
uint32_t FileSize(FileHandle file);
void FileClose(FileHandle file);
bool FileDelete(const char* path);
// Full path of the running program into buffer; false when it does not fit.
bool OwnExecutablePath(char* buffer, int32_t size);
