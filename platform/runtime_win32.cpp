// The few pieces of a C runtime that the installer needs: the memory and
// string routines that the compiler emits calls to for struct copies, clears
// and counting loops. Built with -fno-builtin and
// -fno-tree-loop-distribute-patterns so that these loops are not turned back
// into calls to themselves. (The entry point is installer/startup.cpp.)
#include <cstddef>

extern "C" {

void* memcpy(void* to, const void* from, size_t count) {
  auto* d = static_cast<unsigned char*>(to);
  auto* s = static_cast<const unsigned char*>(from);
  while (count--) *d++ = *s++;
  return to;
}

void* memmove(void* to, const void* from, size_t count) {
  auto* d = static_cast<unsigned char*>(to);
  auto* s = static_cast<const unsigned char*>(from);
  if (d <= s) {
    while (count--) *d++ = *s++;
  } else {
    while (count--) d[count] = s[count];
  }
  return to;
}

void* memset(void* to, int value, size_t count) {
  auto* d = static_cast<unsigned char*>(to);
  while (count--) *d++ = static_cast<unsigned char>(value);
  return to;
}

int memcmp(const void* a, const void* b, size_t count) {
  auto* p = static_cast<const unsigned char*>(a);
  auto* q = static_cast<const unsigned char*>(b);
  for (; count; --count, ++p, ++q) {
    if (*p != *q) return *p < *q ? -1 : 1;
  }
  return 0;
}

size_t strlen(const char* text) {
  const char* end = text;
  while (*end) ++end;
  return size_t(end - text);
}

}  // extern "C"
