// A small seeded generator (xorshift) for deterministic test and benchmark data.
#pragma once
#include <cstdint>

struct Random {
  uint64_t state;
  explicit Random(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return uint32_t(state >> 11);
  }
};
