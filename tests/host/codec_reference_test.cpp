// The encoder against the plain stdio coder of bench/, written apart from it:
// the same code bytes for every input, and each side expands the other's.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "bench/reference_lzhuf.h"
#include "bench/reference_run.h"
#include "tests/host/codec_support.h"

using namespace codec_test;

namespace {

std::vector<std::pair<std::string, Bytes>> Inputs() {
  std::vector<std::pair<std::string, Bytes>> inputs;
  inputs.push_back({"empty", {}});
  for (size_t n = 1; n <= 70; n += 3) inputs.push_back({"random " + std::to_string(n), RandomBytes(n, n)});
  for (uint64_t seed = 0; seed < 12; ++seed) {
    const size_t size = 1000 + seed * 7919;
    inputs.push_back({"text " + std::to_string(seed), Text(size * 3, seed)});
    inputs.push_back({"structured " + std::to_string(seed), Structured(size * 2, seed)});
    inputs.push_back({"random " + std::to_string(seed), RandomBytes(size, seed + 100)});
    inputs.push_back({"runs " + std::to_string(seed), Runs(size * 4, seed)});
  }
  inputs.push_back({"spaces first", Concat(Bytes(4100, ' '), Text(3000, 1))});
  inputs.push_back({"text 1 MB", Text(1000000, 99)});
  inputs.push_back({"random and text by turns", RandomAndTextByTurns()});
  return inputs;
}

TEST(CodecReference, SameCodeBytesAndEachExpandsTheOther) {
  auto codec = NewCodec();
  for (const auto& [name, input] : Inputs()) {
    SCOPED_TRACE(name);
    const Bytes ours = Compress(*codec, input);
    const Bytes body = Unframe(ours);
    const Bytes theirs = RunReference(RefEncode, input);
    ASSERT_TRUE(body == theirs) << "sizes " << body.size() << " and " << theirs.size();
    EXPECT_TRUE(RunReference(RefDecode, body) == input);
    EXPECT_TRUE(Expand(*codec, Frame(theirs), int32_t(input.size()), int32_t(Frame(theirs).size())).data == input);
  }
}

}  // namespace
