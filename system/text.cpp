#include "system/text.h"

#include "platform/bytes.h"

const char RenameHeader[] = "[Rename]\r\n";

namespace {
constexpr char FallbackWindowsDirectory[] = "c:\\winnt";
}  // namespace

int32_t FindTextNoCase(const char* text, const char* pattern) {
  int32_t n = TextLength(text);
  int32_t m = TextLength(pattern);
  for (int32_t p = 0; p + m <= n; ++p) {
    int32_t i = 0;
    while (i < m && AsciiLower(text[p + i]) == AsciiLower(pattern[i])) ++i;
    if (i == m) return p + 1;
  }
  return 0;
}

namespace {
bool IsNameCharacter(uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
}  // namespace

bool IsShortFileName(const char* name) {
  int32_t budget = 8;
  bool separatorSeen = false;
  for (const auto* p = reinterpret_cast<const uint8_t*>(name); *p; ++p) {
    if (!IsNameCharacter(*p)) {
      if (*p < 46 || *p > 127 || separatorSeen) return false;
      separatorSeen = true;
      budget = 4;  // the separator itself and at most three after it
    }
    if (--budget < 0) return false;
  }
  return true;
}

bool AppendText(char* to, int32_t capacity, const char* from) {
  int32_t have = TextLength(to);
  int32_t add = TextLength(from);
  if (have + add >= capacity) return false;
  CopyBytes(to + have, from, add + 1);
  return true;
}

int32_t JoinTexts(char* to, int32_t capacity, const char* a, const char* b, const char* c, const char* d) {
  const char* const parts[] = {a, b, c, d};
  int32_t length = 0;
  for (const char* part : parts) {
    for (; *part; ++part) {
      if (length >= capacity - 1) {
        to[0] = 0;
        return 0;
      }
      to[length++] = *part;
    }
  }
  to[length] = 0;
  return length;
}

bool AppendFileName(char* path, int32_t capacity, uint32_t directoryLength, const char* name, int32_t reserve) {
  // GetWindowsDirectoryA answers a too small buffer with the size it needs.
  if (directoryLength >= uint32_t(capacity)) {
    path[0] = 0;
    return false;
  }
  int32_t length = int32_t(directoryLength);
  bool needsBackslash = length == 0 || path[length - 1] != '\\';
  int32_t nameLength = TextLength(name);
  if (length + (needsBackslash ? 1 : 0) + nameLength + 1 + reserve > capacity) {
    path[0] = 0;
    return false;
  }
  if (needsBackslash) path[length++] = '\\';
  CopyBytes(path + length, name, nameLength + 1);
  return true;
}

bool BuildWindowsPath(char* path, uint32_t directoryLength, const char* name) {
  if (directoryLength == 0) directoryLength = uint32_t(CopyText(path, FallbackWindowsDirectory, PathCapacity));
  return AppendFileName(path, PathCapacity, directoryLength, name, PathSuffixRoom);
}

bool BuildCommandLine(char* line, int32_t capacity, const char* command, const char* path) {
  int32_t length = TextLength(command);
  int32_t pathLength = TextLength(path);
  if (length >= capacity) {
    line[0] = 0;
    return false;
  }
  CopyBytes(line, command, length + 1);
  if (int32_t star = FindTextNoCase(line, "%*")) {
    line[star - 1] = ' ';
    line[star] = ' ';
  }
  if (int32_t one = FindTextNoCase(line, "%1")) {
    int32_t at = one - 1;
    int32_t tail = length - at - 2;  // what follows "%1", NUL not counted
    if (at + pathLength + tail >= capacity) {
      line[0] = 0;
      return false;
    }
    MoveBytes(line + at + pathLength, line + at + 2, tail + 1);
    CopyBytes(line + at, path, pathLength);
    return true;
  }
  if (length + 1 + pathLength >= capacity) {
    line[0] = 0;
    return false;
  }
  line[length] = ' ';
  CopyBytes(line + length + 1, path, pathLength + 1);
  return true;
}

int32_t FormatRenameLine(char* line, const char* newName, const char* existing) {
  return JoinTexts(line, RenameLineCapacity, newName, "=", existing, "\r\n");
}

int32_t AddRenameLine(char* content, int32_t size, const char* line, int32_t lineLength) {
  int32_t header = FindTextNoCase(content, RenameHeader);
  if (header == 0) {
    CopyBytes(content + size, RenameHeader, RenameHeaderLength);
    CopyBytes(content + size + RenameHeaderLength, line, lineLength);
    return size + RenameHeaderLength + lineLength;
  }
  int32_t section = header - 1;
  if (FindTextNoCase(content + section, line)) return size;
  int32_t at = section + RenameHeaderLength;
  MoveBytes(content + at + lineLength, content + at, size - at);
  CopyBytes(content + at, line, lineLength);
  return size + lineLength;
}
