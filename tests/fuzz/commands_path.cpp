// Fuzz path over the tool's reading commands: verify, list and info (plain
// and JSON) on any file. Their output goes to /dev/null; a failure must come
// as the tool's own error, never as another exception.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <exception>

#include "tests/fuzz/fuzz_paths.h"
#include "tests/fuzz/plain_directory.h"
#include "tests/fuzz/scratch_file.h"
#include "tool/commands.h"
#include "tool/files.h"

namespace fuzzpaths {
namespace {

// Standard output sent to /dev/null while it lives.
class QuietOutput {
 public:
  QuietOutput() {
    std::fflush(stdout);
    saved_ = ::dup(1);
    int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
      ::dup2(null, 1);
      ::close(null);
    }
  }
  ~QuietOutput() {
    std::fflush(stdout);
    if (saved_ >= 0) {
      ::dup2(saved_, 1);
      ::close(saved_);
    }
  }

 private:
  int saved_ = -1;
};

}  // namespace

const char* RunToolCommands(const uint8_t* plain, size_t size) {
  std::vector<uint8_t> bytes = WithEncipheredDirectory(plain, size);
  ScratchFile file(bytes.data(), size);
  if (!file.ok()) return nullptr;
  QuietOutput quiet;
  static char line[256];
  const char* names[] = {"verify", "list", "list --json", "info", "info --json"};
  for (int command = 0; command < 5; ++command) {
    try {
      int status = 0;
      switch (command) {
        case 0: status = lumaveil::VerifyCommand(file.path()); break;
        case 1: status = lumaveil::ListCommand(file.path(), false); break;
        case 2: status = lumaveil::ListCommand(file.path(), true); break;
        case 3: status = lumaveil::InfoCommand(file.path(), false); break;
        case 4: status = lumaveil::InfoCommand(file.path(), true); break;
      }
      if (status != 0 && status != 1) {
        std::snprintf(line, sizeof line, "%s returned status %d", names[command], status);
        return line;
      }
    } catch (const lumaveil::ToolError&) {
    } catch (const std::exception& e) {
      std::snprintf(line, sizeof line, "%s: an exception other than ToolError escaped: %s", names[command], e.what());
      return line;
    }
  }
  return nullptr;
}

}  // namespace fuzzpaths
