// Byte and text helpers for code that runs without the C runtime. Small and
// inline; the compiler may still emit memcpy/memset, which the win32 runtime
// file provides.
#pragma once
#include <cstddef>
#include <cstdint>

inline void CopyBytes(void* to, const void* from, int32_t count) {
  auto* d = static_cast<uint8_t*>(to);
  auto* s = static_cast<const uint8_t*>(from);
  for (int32_t i = 0; i < count; ++i) d[i] = s[i];
}

// Overlap-safe copy.
inline void MoveBytes(void* to, const void* from, int32_t count) {
  auto* d = static_cast<uint8_t*>(to);
  auto* s = static_cast<const uint8_t*>(from);
  if (d < s) {
    for (int32_t i = 0; i < count; ++i) d[i] = s[i];
  } else {
    for (int32_t i = count; i > 0; --i) d[i - 1] = s[i - 1];
  }
}

inline void FillBytes(void* to, uint8_t value, int32_t count) {
  auto* d = static_cast<uint8_t*>(to);
  for (int32_t i = 0; i < count; ++i) d[i] = value;
}

inline int32_t TextLength(const char* text) {
  int32_t n = 0;
  while (text[n]) ++n;
  return n;
}

// Copies text into a buffer of capacity bytes, cut to fit, always terminated.
// Returns the length copied.
inline int32_t CopyText(char* to, const char* from, int32_t capacity) {
  if (capacity <= 0) return 0;
  int32_t n = 0;
  while (n < capacity - 1 && from[n]) {
    to[n] = from[n];
    ++n;
  }
  to[n] = 0;
  return n;
}

inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

inline bool EqualNoCase(const char* a, const char* b) {
  while (*a && AsciiLower(*a) == AsciiLower(*b)) {
    ++a;
    ++b;
  }
  return AsciiLower(*a) == AsciiLower(*b);
}

inline bool EqualText(const char* a, const char* b) {
  while (*a && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

// Little-endian access to stored formats. Where the machine's byte order is
// the stored one, each is a single load or store (the byte-wise form costs a
// call in the size-optimised installer).
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
inline uint16_t GetLe16(const uint8_t* p) {
  uint16_t v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}
inline uint32_t GetLe32(const uint8_t* p) {
  uint32_t v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}
inline void PutLe16(uint8_t* p, uint16_t v) { __builtin_memcpy(p, &v, sizeof v); }
inline void PutLe32(uint8_t* p, uint32_t v) { __builtin_memcpy(p, &v, sizeof v); }
#else
inline uint16_t GetLe16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t GetLe32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
#endif
