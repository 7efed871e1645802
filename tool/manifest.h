// The build manifest: a TOML file naming the installer's settings and the
// payload entries. LoadManifest reads and checks it completely, so that a
// build starts only from a manifest that can be built.
#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lumaveil {

enum class EntryKind { File, Alias, Inline };
enum class Compression { Auto, Lzhuf, None };

struct ManifestEntry {
  std::string name;
  int line = 0;  // of the entry's table, for messages
  EntryKind kind = EntryKind::File;
  // File entries.
  std::filesystem::path file;  // resolved against the manifest's directory
  int32_t size = 0;            // of the file when the manifest was read
  Compression compression = Compression::Auto;
  uint8_t xorByte = 0;
  int32_t marker = -1;
  // Alias entries: the name of the file entry whose stored bytes it shares.
  std::string sameAs;
  // Inline entries: at most 16 bytes.
  std::string inlineData;
};

struct PatchRange {
  int32_t source = 0, target = 0, length = 0;
  int line = 0;
};

struct Manifest {
  std::filesystem::path path;       // as given
  std::filesystem::path directory;  // relative paths start here
  std::optional<std::filesystem::path> stub;
  std::string saverName;      // single-byte, as the installer stores it
  std::string saverNameText;  // UTF-8, as written in the manifest
  std::vector<uint8_t> installInfo;  // the complete 5640-byte record
  std::vector<PatchRange> patches;
  std::vector<ManifestEntry> entries;  // in manifest order, without INFO
};

// Entries every installer needs (the installation fails without them).
inline const char* const RequiredEntries[] = {"SAVER", "STUB", "MOVIE", "ZETT", "KMDL"};

// Reads and checks a manifest. Throws ToolError with the first problem, as
// "<manifest>:<line>: <key>: <what>".
Manifest LoadManifest(const std::filesystem::path& path);

// "<manifest>:<line>: <key>: <what>" (the line left out when 0).
std::string ManifestMessage(const Manifest& manifest, int line, const std::string& key, const std::string& what);

}  // namespace lumaveil
