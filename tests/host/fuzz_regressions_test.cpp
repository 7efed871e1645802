// Replays the stored fuzz inputs (the seed corpora and every finding kept in
// tests/fuzz/regressions) through the same code paths the fuzz targets run,
// so each fixed finding stays fixed. Under the sanitizer build an overrun
// fails here too.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_paths.h"

namespace fs = std::filesystem;

namespace fuzzpaths {
void PrintTo(const NamedPath& path, std::ostream* out) { *out << path.name; }
}  // namespace fuzzpaths

namespace {

std::vector<fs::path> StoredInputs(const std::string& path) {
  std::vector<fs::path> files;
  for (const char* kind : {"corpus", "regressions"}) {
    fs::path dir = fs::path(LV_FUZZ_INPUTS) / kind / path;
    if (!fs::is_directory(dir)) continue;
    for (const auto& item : fs::directory_iterator(dir))
      if (item.is_regular_file()) files.push_back(item.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

class FuzzRegressions : public testing::TestWithParam<fuzzpaths::NamedPath> {};

TEST_P(FuzzRegressions, StoredInputsKeepEveryExpectation) {
  const fuzzpaths::NamedPath& path = GetParam();
  std::vector<fs::path> inputs = StoredInputs(path.name);
  EXPECT_FALSE(inputs.empty()) << "no stored inputs for " << path.name;
  for (const fs::path& input : inputs) {
    std::ifstream in(input, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const char* broken = path.run(bytes.data(), bytes.size());
    EXPECT_EQ(broken, nullptr) << input.filename().string() << ": " << (broken ? broken : "");
  }
}

std::vector<fuzzpaths::NamedPath> Paths() {
  int count = 0;
  const fuzzpaths::NamedPath* paths = fuzzpaths::AllPaths(&count);
  return std::vector<fuzzpaths::NamedPath>(paths, paths + count);
}

INSTANTIATE_TEST_SUITE_P(Paths, FuzzRegressions, testing::ValuesIn(Paths()),
                         [](const testing::TestParamInfo<fuzzpaths::NamedPath>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
