// Renames one entry in the enciphered directory at the end of an
// archive-bearing file, in place. The end-to-end tests use it to make an
// installer that lacks an entry the tool would never leave out:
//   e2e_rename_entry FILE OLD NEW
#include <cstdio>
#include <cstring>
#include <vector>

#include "archive/archive.h"
#include "archive/cipher.h"

namespace {

bool SameName(const uint8_t* record, const char* name) {
  for (int i = 0; i < EntryNameSize; ++i) {
    char a = char(record[EntryNameAt + i]), b = name[i];
    if (a >= 'a' && a <= 'z') a = char(a - 32);
    if (b >= 'a' && b <= 'z') b = char(b - 32);
    if (a != b) return false;
    if (!a) return true;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || std::strlen(argv[3]) >= size_t(EntryNameSize)) {
    std::fprintf(stderr, "usage: e2e_rename_entry FILE OLD NEW (NEW at most 15 characters)\n");
    return 2;
  }
  FILE* file = std::fopen(argv[1], "r+b");
  if (!file) {
    std::perror(argv[1]);
    return 1;
  }
  std::fseek(file, 0, SEEK_END);
  long size = std::ftell(file);
  long most = size / EntryRecordSize < MaxEntries ? size / EntryRecordSize : MaxEntries;
  std::vector<uint8_t> area(size_t(most) * EntryRecordSize);
  std::fseek(file, size - long(area.size()), SEEK_SET);
  if (std::fread(area.data(), 1, area.size(), file) != area.size()) {
    std::fprintf(stderr, "%s: short read\n", argv[1]);
    std::fclose(file);
    return 1;
  }
  // The directory is found by trial, as the installer finds it.
  for (long n = 1; n <= most; ++n) {
    std::vector<uint8_t> directory(area.end() - n * EntryRecordSize, area.end());
    Pc1Cipher cipher{};
    Pc1SetKey(cipher, DirectoryKey);
    Pc1Crypt(cipher, directory.data(), int32_t(directory.size()), 0);
    const uint8_t* last = directory.data() + directory.size() - EntryRecordSize;
    uint32_t magic = uint32_t(last[EntryMagicAt]) | uint32_t(last[EntryMagicAt + 1]) << 8 |
                     uint32_t(last[EntryMagicAt + 2]) << 16 | uint32_t(last[EntryMagicAt + 3]) << 24;
    if (magic != EntryMagic || int8_t(last[EntryLeadByteAt]) != n) continue;
    bool renamed = false;
    for (long i = 0; i < n && !renamed; ++i) {
      uint8_t* record = directory.data() + directory.size() - (i + 1) * EntryRecordSize;
      if (!SameName(record, argv[2])) continue;
      std::memset(record + EntryNameAt, 0, EntryNameSize);
      std::memcpy(record + EntryNameAt, argv[3], std::strlen(argv[3]));
      renamed = true;
    }
    if (!renamed) {
      std::fprintf(stderr, "%s: no entry %s\n", argv[1], argv[2]);
      std::fclose(file);
      return 1;
    }
    Pc1SetKey(cipher, DirectoryKey);
    Pc1Crypt(cipher, directory.data(), int32_t(directory.size()), 1);
    std::fseek(file, size - long(directory.size()), SEEK_SET);
    bool ok = std::fwrite(directory.data(), 1, directory.size(), file) == directory.size();
    ok = std::fclose(file) == 0 && ok;
    return ok ? 0 : 1;
  }
  std::fprintf(stderr, "%s: no archive directory\n", argv[1]);
  std::fclose(file);
  return 1;
}
