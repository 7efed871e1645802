// One libFuzzer target per fuzz path: the build names the path with
// FUZZ_PATH. A broken expectation aborts, so libFuzzer keeps the input.
#include <cstdio>
#include <cstdlib>

#include "tests/fuzz/fuzz_paths.h"

#define FUZZ_NAME_OF(path) #path
#define FUZZ_NAME(path) FUZZ_NAME_OF(path)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (const char* broken = fuzzpaths::FUZZ_PATH(data, size)) {
    std::fprintf(stderr, "%s: %s\n", FUZZ_NAME(FUZZ_PATH), broken);
    std::abort();
  }
  return 0;
}
