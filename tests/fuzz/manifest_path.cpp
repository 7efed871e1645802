// Fuzz path over the build manifest: any bytes as the manifest, in a
// directory that holds a few files for it to name.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <string>

#include "archive/archive.h"
#include "installer/settings.h"
#include "platform/bytes.h"
#include "tests/fuzz/fuzz_paths.h"
#include "tests/fuzz/scratch_file.h"
#include "tool/files.h"
#include "tool/manifest.h"

namespace fuzzpaths {
namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

// The files a manifest may name: see corpus/manifest for manifests that use them.
bool FillManifestDirectory(const std::string& dir) {
  WriteFile(dir + "/stub.exe", std::string(512, 'S'));
  WriteFile(dir + "/saver.scr", std::string("MZ") + std::string(300, '\x90'));
  WriteFile(dir + "/movie.bin", std::string(100, 'm'));
  WriteFile(dir + "/empty.bin", "");
  WriteFile(dir + "/doc.txt", "Read me.\r\n");
  WriteFile(dir + "/record.bin", std::string(InstallInfoSize, '\0'));
  return true;
}

const std::string& ManifestDirectory() {
  static const TemporaryDirectory dir("/tmp/lumaveil-manifest-XXXXXX");
  static const bool filled = FillManifestDirectory(dir.path);
  (void)filled;
  return dir.path;
}

bool PrintableName(const std::string& name) {
  if (name.empty() || name.size() >= size_t(EntryNameSize)) return false;
  for (char c : name)
    if (uint8_t(c) < 0x21 || uint8_t(c) > 0x7E) return false;
  return true;
}

}  // namespace

const char* ParseAnyManifest(const uint8_t* data, size_t size) {
  const std::string path = ManifestDirectory() + "/manifest.toml";
  WriteFile(path, std::string(reinterpret_cast<const char*>(data), size));
  try {
    lumaveil::Manifest m = lumaveil::LoadManifest(path);
    // A manifest that loads can be built: check what the build relies on.
    if (m.installInfo.size() != size_t(InstallInfoSize)) return "the settings record is not 5640 bytes";
    if (m.entries.size() + 1 > size_t(MaxEntries)) return "more entries than an archive holds";
    if (m.patches.size() > 2) return "more than two patch ranges";
    for (const lumaveil::PatchRange& p : m.patches)
      if (p.length < 0 || p.length > PatchLengthMax || p.source < 0 || p.target < 0) return "a patch range out of range";
    if (m.saverName.empty() || m.saverName.size() > size_t(TextCapacity - 1 - 4)) return "a saver name that does not fit";
    for (const lumaveil::ManifestEntry& e : m.entries) {
      if (!PrintableName(e.name)) return "an entry name the directory cannot hold";
      if (e.kind == lumaveil::EntryKind::Inline && e.inlineData.size() > size_t(InlineDataMax))
        return "inline data longer than a record holds";
    }
    for (const char* required : lumaveil::RequiredEntries) {
      bool found = false;
      for (const lumaveil::ManifestEntry& e : m.entries)
        found = found || (e.kind != lumaveil::EntryKind::Inline && EqualNoCase(e.name.c_str(), required));
      if (!found) return "a required entry is missing";
    }
  } catch (const lumaveil::ToolError& e) {
    if (!*e.what()) return "an error without a message";
  } catch (const std::exception& e) {
    static char line[256];
    std::snprintf(line, sizeof line, "an exception other than ToolError escaped: %s", e.what());
    return line;
  }
  return nullptr;
}

}  // namespace fuzzpaths
