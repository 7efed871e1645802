// Building an installer from a manifest: the stub program, the entries
// (compressed in parallel, written in manifest order) and the enciphered
// directory, all written through the archive writer.
#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

namespace lumaveil {

struct BuildOptions {
  std::filesystem::path manifest;
  std::optional<std::filesystem::path> output;  // default: <manifest dir>/<saver-name>-setup.exe
  std::optional<std::filesystem::path> stub;    // default: the manifest's stub, else defaultStub
  std::span<const uint8_t> defaultStub;         // the installer program built with the tool, if any
  int threads = 0;                              // 0: one per core
};

struct BuildResult {
  std::filesystem::path output;
  int64_t size = 0;
  int32_t entries = 0;  // INFO included
};

BuildResult BuildInstaller(const BuildOptions& options);

}  // namespace lumaveil
