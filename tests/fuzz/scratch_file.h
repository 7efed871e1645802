// Files in memory for the fuzz paths: a memfd that the library opens by its
// /proc path, so inputs reach the code through the ordinary file layer
// without touching the disk.
#pragma once
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace fuzzpaths {

class ScratchFile {
 public:
  explicit ScratchFile(const uint8_t* data = nullptr, size_t size = 0) {
    fd_ = memfd_create("lumaveil-fuzz", MFD_CLOEXEC);
    std::snprintf(path_, sizeof path_, "/proc/self/fd/%d", fd_);
    size_t done = 0;
    while (fd_ >= 0 && done < size) {
      ssize_t put = ::write(fd_, data + done, size - done);
      if (put <= 0) break;
      done += size_t(put);
    }
    Rewind();
  }
  ~ScratchFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  bool ok() const { return fd_ >= 0; }
  const char* path() const { return path_; }
  // The descriptor doubles as a FileHandle of the POSIX file layer.
  intptr_t handle() const { return fd_; }
  void Rewind() const {
    if (fd_ >= 0) ::lseek(fd_, 0, SEEK_SET);
  }
  void Clear() const {
    if (fd_ >= 0 && ::ftruncate(fd_, 0) == 0) Rewind();
  }
  std::vector<uint8_t> Contents() const {
    std::vector<uint8_t> bytes;
    off_t end = fd_ >= 0 ? ::lseek(fd_, 0, SEEK_END) : 0;
    if (end > 0) {
      bytes.resize(size_t(end));
      if (::pread(fd_, bytes.data(), bytes.size(), 0) != ssize_t(end)) bytes.clear();
    }
    return bytes;
  }

 private:
  int fd_ = -1;
  char path_[40] = {};
};

// A directory for files the library creates by name, removed at exit.
struct TemporaryDirectory {
  explicit TemporaryDirectory(const char* pattern) : path(pattern) {
    if (!mkdtemp(path.data())) std::abort();
  }
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  ~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string path;
};

}  // namespace fuzzpaths
