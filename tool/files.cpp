#include "tool/files.h"

#include <fmt/format.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace lumaveil {

std::string Shown(const fs::path& path) { return path.string(); }

int32_t InputFileSize(const fs::path& path) {
  std::error_code ec;
  auto status = fs::status(path, ec);
  if (ec || !fs::exists(status)) throw ToolError(fmt::format("{}: no such file", Shown(path)));
  if (!fs::is_regular_file(status)) throw ToolError(fmt::format("{}: not a regular file", Shown(path)));
  uint64_t size = fs::file_size(path, ec);
  if (ec) throw ToolError(fmt::format("{}: cannot read: {}", Shown(path), ec.message()));
  if (size > MaxInputSize)
    throw ToolError(fmt::format("{}: {} bytes is too large (at most 2 GiB - 1 bytes)", Shown(path), size));
  return int32_t(size);
}

std::vector<uint8_t> ReadWholeFile(const fs::path& path) {
  InputFile in(path);
  std::vector<uint8_t> data(static_cast<size_t>(in.size));
  int32_t got = in.size ? FileRead(in.handle, data.data(), in.size) : 0;
  if (got != in.size) throw ToolError(fmt::format("{}: read error", Shown(path)));
  return data;
}

InputFile::InputFile(const fs::path& path) {
  size = InputFileSize(path);
  handle = FileOpenRead(path.string().c_str());
  if (handle == InvalidFile)
    throw ToolError(fmt::format("{}: cannot open: {}", Shown(path), std::strerror(errno)));
}

InputFile::~InputFile() { FileClose(handle); }

// Temporary files still on disk, so that an interrupt does not leave them
// behind. Fixed storage: the signal handler may only read it.
namespace {
constexpr int PendingSlots = 8;
char pendingPaths[PendingSlots][4096];
std::atomic<bool> pendingUsed[PendingSlots];

extern "C" void RemovePendingAndExit(int signal) {
  for (int i = 0; i < PendingSlots; ++i)
    if (pendingUsed[i].load()) std::remove(pendingPaths[i]);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

int RememberPending(const fs::path& path) {
  static bool handlersInstalled = false;
  if (!handlersInstalled) {
    std::signal(SIGINT, RemovePendingAndExit);
    std::signal(SIGTERM, RemovePendingAndExit);
    handlersInstalled = true;
  }
  std::string text = path.string();
  if (text.size() >= sizeof pendingPaths[0]) return -1;
  for (int i = 0; i < PendingSlots; ++i) {
    if (!pendingUsed[i].load()) {
      std::memcpy(pendingPaths[i], text.c_str(), text.size() + 1);
      pendingUsed[i].store(true);
      return i;
    }
  }
  return -1;
}

void ForgetPending(const fs::path& path) {
  std::string text = path.string();
  for (int i = 0; i < PendingSlots; ++i)
    if (pendingUsed[i].load() && text == pendingPaths[i]) pendingUsed[i].store(false);
}
}  // namespace

OutputFile::OutputFile(fs::path target) : target_(std::move(target)) {
  fs::path directory = target_.parent_path();
  if (directory.empty()) directory = ".";
  std::error_code ec;
  if (!fs::is_directory(directory, ec))
    throw ToolError(fmt::format("{}: the directory {} does not exist", Shown(target_), Shown(directory)));
  if (fs::is_directory(target_, ec)) throw ToolError(fmt::format("{}: is a directory", Shown(target_)));
  static std::atomic<int> serial{0};
  std::string base = target_.filename().string();
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = directory / fmt::format(".{}.{}-{}.tmp", base, int(getpid()), serial++);
    // "x": create exclusively, so an unrelated file of that name is never replaced.
    if (FILE* f = std::fopen(candidate.string().c_str(), "wbx")) {
      std::fclose(f);
      temporary_ = candidate;
      RememberPending(temporary_);
      return;
    }
    if (errno != EEXIST) break;
  }
  throw ToolError(fmt::format("{}: cannot write in {}: {}", Shown(target_), Shown(directory), std::strerror(errno)));
}

OutputFile::~OutputFile() {
  Close();
  if (!committed_ && !temporary_.empty()) {
    std::error_code ec;
    fs::remove(temporary_, ec);
    ForgetPending(temporary_);
  }
}

FileHandle OutputFile::Open() {
  handle_ = FileCreate(temporary_.string().c_str());
  if (handle_ == InvalidFile)
    throw ToolError(fmt::format("{}: cannot write: {}", Shown(target_), std::strerror(errno)));
  return handle_;
}

void OutputFile::Write(const uint8_t* data, size_t size) {
  while (size > 0) {
    int32_t piece = size > (1u << 30) ? int32_t(1 << 30) : int32_t(size);
    if (FileWrite(handle_, data, piece) != piece)
      throw ToolError(fmt::format("{}: write error: {}", Shown(target_), std::strerror(errno)));
    data += piece;
    size -= size_t(piece);
  }
}

void OutputFile::Close() {
  FileClose(handle_);
  handle_ = InvalidFile;
}

void OutputFile::Commit() {
  Close();
  std::error_code ec;
  fs::rename(temporary_, target_, ec);
  if (ec) throw ToolError(fmt::format("{}: cannot write: {}", Shown(target_), ec.message()));
  committed_ = true;
  ForgetPending(temporary_);
}

namespace {
bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr));
#else
  return isatty(2);
#endif
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

// Work of less than a mebibyte finishes before a progress line would help.
Progress::Progress(std::string label, uint64_t workSize)
    : label_(std::move(label)), workSize_(workSize), active_(workSize >= (1u << 20) && StderrIsTerminal()) {}

Progress::~Progress() {
  if (active_ && lastShown_ != 0) std::fputs("\r\033[K", stderr);
}

void Progress::Show(uint64_t done, const std::string& detail) {
  if (!active_) return;
  int64_t now = NowMs();
  if (now - lastShown_ < 100) return;
  lastShown_ = now;
  unsigned percent = workSize_ ? unsigned(done * 100 / workSize_) : 0;
  if (percent > 100) percent = 100;
  std::string line = fmt::format("\r\033[Klumaveil: {}: {:3}%", label_, percent);
  if (!detail.empty()) line += " " + detail;
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace lumaveil
