// File handling for the commands: whole-file reads with the size limit of the
// stored formats, outputs that appear only when complete, and the one error
// type every command reports through.
#pragma once
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/file.h"

namespace lumaveil {

namespace fs = std::filesystem;

// Sizes and offsets in the archive are signed 32-bit.
inline constexpr uint64_t MaxInputSize = 0x7FFFFFFF;

// A failure the user sees as one line: "lumaveil: <what>".
struct ToolError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The path as the user wrote it, for messages.
std::string Shown(const fs::path& path);

// Size of a regular file; throws naming the file when it is missing, not a
// regular file, or larger than MaxInputSize.
int32_t InputFileSize(const fs::path& path);
std::vector<uint8_t> ReadWholeFile(const fs::path& path);

// An input file opened with the platform layer, closed on scope exit.
struct InputFile {
  explicit InputFile(const fs::path& path);  // checks the size limit too
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  FileHandle handle = InvalidFile;
  int32_t size = 0;
};

// An output written under a temporary name in the target's directory and
// renamed over the target by Commit; removed when destroyed uncommitted, so a
// failure never leaves a partial file.
class OutputFile {
 public:
  explicit OutputFile(fs::path target);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  const fs::path& TemporaryPath() const { return temporary_; }
  // Opens the temporary file for writing (the platform layer's handle).
  FileHandle Open();
  // Writes all bytes to the open handle; throws on a short write.
  void Write(const uint8_t* data, size_t size);
  // Closes the handle if open (the archive writer closes its own).
  void Close();
  void Commit();

 private:
  fs::path target_, temporary_;
  FileHandle handle_ = InvalidFile;
  bool committed_ = false;
};

// Progress on stderr for long work, only when stderr is a terminal.
class Progress {
 public:
  Progress(std::string label, uint64_t workSize);
  ~Progress();
  void Show(uint64_t done, const std::string& detail = {});
  void SetWorkSize(uint64_t workSize) { workSize_ = workSize; }
  bool active() const { return active_; }

 private:
  std::string label_;
  uint64_t workSize_;
  bool active_;
  int64_t lastShown_ = 0;
};

}  // namespace lumaveil
