// Test support for the lumaveil tool: a scratch directory per test, file
// helpers, and running the built lumaveil as a subprocess.
#pragma once
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace tooltest {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

inline void WriteFile(const fs::path& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

inline void WriteText(const fs::path& path, const std::string& text) { WriteFile(path, Bytes(text.begin(), text.end())); }

inline Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline std::string ReadText(const fs::path& path) {
  Bytes b = ReadFile(path);
  return std::string(b.begin(), b.end());
}

inline Bytes RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (auto& b : out) b = uint8_t(rng());
  return out;
}

// Text-like data that compresses well.
inline Bytes TextBytes(size_t size, uint32_t seed) {
  static const char* words[] = {"aurora ", "light ", "veil ", "screen ", "saver ", "night ", "sky\n", "green "};
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < size) {
    const char* w = words[rng() % 8];
    out.insert(out.end(), w, w + std::char_traits<char>::length(w));
  }
  out.resize(size);
  return out;
}

struct RunResult {
  int status = -1;
  std::string out, err;
};

// Runs lumaveil with args in directory cwd. asNobody drops root's rights in
// the child, so that file permissions hold for it as they do for a user.
inline RunResult Run(const std::vector<std::string>& args, const fs::path& cwd, bool asNobody = false) {
  fs::path outPath = cwd / ".run.stdout", errPath = cwd / ".run.stderr";
  std::string binary = LUMAVEIL_BINARY;
  fs::path copy = cwd / ".lumaveil";
  if (asNobody && geteuid() == 0) {
    // The build tree may lie where nobody cannot reach; a copy beside the test's files can be run.
    fs::copy_file(binary, copy, fs::copy_options::overwrite_existing);
    binary = copy.string();
  }
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(127);
    if (!freopen(outPath.c_str(), "w", stdout) || !freopen(errPath.c_str(), "w", stderr)) _exit(127);
    if (asNobody && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
    std::vector<char*> argv;
    argv.push_back(binary.data());
    std::vector<std::string> argsCopy = args;
    for (auto& a : argsCopy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  RunResult r;
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  r.out = ReadText(outPath);
  r.err = ReadText(errPath);
  fs::remove(outPath);
  fs::remove(errPath);
  fs::remove(copy);
  return r;
}

// A fresh directory per test, removed afterwards.
class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "lumaveil-tool-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir, ec);
  }
  RunResult Lumaveil(const std::vector<std::string>& args, bool asNobody = false) { return tooltest::Run(args, dir, asNobody); }
  // Files in dir other than the ones named.
  std::vector<std::string> Listing(const fs::path& where) const {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(where)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  fs::path dir;
};

}  // namespace tooltest
