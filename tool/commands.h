// The lumaveil commands. Each returns the exit status and throws ToolError
// for a failure that ends it; results go to stdout.
#pragma once
#include <filesystem>
#include <optional>
#include <string>

namespace lumaveil {

namespace fs = std::filesystem;

// Raw bytes to an RC-block stream (mask byte 0), and back.
int CompressCommand(const fs::path& in, const fs::path& out);
int ExpandCommand(const fs::path& in, const fs::path& out);

// The directory of an archive-bearing file.
int ListCommand(const fs::path& file, bool json);
// The settings as the installer reads them, and the raw record.
int InfoCommand(const fs::path& file, bool json);
// One entry's content into out (default: the entry's name in the current directory).
int ExtractCommand(const fs::path& file, const std::string& entry, const std::optional<fs::path>& out);
// Every entry into directory, one file each, named by the entry.
int ExtractAllCommand(const fs::path& file, const fs::path& directory);
// Checks every entry; 1 when anything is wrong.
int VerifyCommand(const fs::path& file);

}  // namespace lumaveil
