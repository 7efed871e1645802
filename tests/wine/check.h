// A few check macros for the Windows test programs: each failure prints its
// place, the program ends with status 1 when any check failed.
#pragma once
#include <cstdio>

inline int g_checksFailed = 0;
inline int g_checksRun = 0;

#define CHECK(cond)                                                          \
  do {                                                                       \
    ++g_checksRun;                                                           \
    if (!(cond)) {                                                           \
      ++g_checksFailed;                                                      \
      std::printf("%s:%d: CHECK failed: %s\n", __FILE__, __LINE__, #cond);   \
    }                                                                        \
  } while (0)

#define CHECK_EQ(a, b)                                                                           \
  do {                                                                                           \
    ++g_checksRun;                                                                               \
    long long va_ = (long long)(a), vb_ = (long long)(b);                                        \
    if (va_ != vb_) {                                                                            \
      ++g_checksFailed;                                                                          \
      std::printf("%s:%d: CHECK_EQ failed: %s = %lld, %s = %lld\n", __FILE__, __LINE__, #a, va_, \
                  #b, vb_);                                                                      \
    }                                                                                            \
  } while (0)

inline int CheckSummary(const char* program) {
  std::printf("%s: %d checks, %d failed\n", program, g_checksRun, g_checksFailed);
  std::fflush(stdout);
  return g_checksFailed ? 1 : 0;
}
