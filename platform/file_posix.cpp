#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FileHandle FileOpenRead(const char* path) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  return fd < 0 ? InvalidFile : fd;
}

FileHandle FileCreate(const char* path) {
  int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  return fd < 0 ? InvalidFile : fd;
}

int32_t FileRead(FileHandle file, void* buffer, int32_t count) {
  if (file == InvalidFile || count <= 0) return 0;
  int32_t done = 0;
  while (done < count) {  // a pipe or a signal may deliver less than asked
    ssize_t got = ::read(int(file), static_cast<char*>(buffer) + done, size_t(count - done));
    if (got <= 0) break;
    done += int32_t(got);
  }
  return done;
}

int32_t FileWrite(FileHandle file, const void* buffer, int32_t count) {
  if (file == InvalidFile || count <= 0) return 0;
  int32_t done = 0;
  while (done < count) {
    ssize_t put = ::write(int(file), static_cast<const char*>(buffer) + done, size_t(count - done));
    if (put <= 0) break;
    done += int32_t(put);
  }
  return done;
}

bool FileSeek(FileHandle file, int32_t position) {
  return file != InvalidFile && position >= 0 && ::lseek(int(file), position, SEEK_SET) == position;
}

bool FileSeekEnd(FileHandle file) { return file != InvalidFile && ::lseek(int(file), 0, SEEK_END) >= 0; }

uint32_t FileSize(FileHandle file) {
  struct stat st;
  if (file == InvalidFile || ::fstat(int(file), &st) != 0) return 0;
  return uint32_t(uint64_t(st.st_size));
}

void FileClose(FileHandle file) {
  if (file != InvalidFile) ::close(int(file));
}

bool FileDelete(const char* path) { return ::unlink(path) == 0; }

bool OwnExecutablePath(char* buffer, int32_t size) {
  if (size <= 0) return false;
  ssize_t n = ::readlink("/proc/self/exe", buffer, size_t(size));
  if (n <= 0 || n >= size) return false;
  buffer[n] = 0;
  return true;
}
