// Runs one of the reference coder's functions from memory to memory, through
// the stdio streams it was written for. Shared by the benchmark and the tests.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/reference_lzhuf.h"

inline std::vector<uint8_t> RunReference(long (*coder)(FILE*, FILE*), const std::vector<uint8_t>& input) {
  std::vector<uint8_t> copy = input;
  // fmemopen refuses an empty buffer.
  FILE* in = copy.empty() ? std::fopen("/dev/null", "rb") : fmemopen(copy.data(), copy.size(), "rb");
  char* buffer = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);
  coder(in, out);
  std::fclose(in);
  std::fclose(out);
  std::vector<uint8_t> result(buffer, buffer + size);
  std::free(buffer);
  return result;
}
