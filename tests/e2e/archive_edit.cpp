// Edits the enciphered directory at the end of an archive-bearing file in
// place, to make installers that `lumaveil build` rightly refuses to make:
//   e2e_archive_edit FILE rename OLD NEW
//       renames an entry (an installer that lacks a required entry);
//   e2e_archive_edit FILE append NAME DATA STORAGE ORIGINAL
//       appends DATA's bytes and a new directory whose entry 0 is NAME
//       (STORAGE 0 plain, 1 compressed); the old directory stays behind as dead
//       bytes. The reader finds the first name from the end, so an appended
//       "INFO" replaces the settings the tool wrote.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/archive.h"
#include "archive/cipher.h"

namespace {

using Bytes = std::vector<uint8_t>;

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

uint32_t GetLe32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

void Crypt(Bytes& directory, int encipher) {
  Pc1Cipher cipher{};
  Pc1SetKey(cipher, DirectoryKey);
  Pc1Crypt(cipher, directory.data(), int32_t(directory.size()), encipher);
}

// The deciphered directory (file order: entry N-1 first, entry 0 last), found
// by trial as the installer finds it; empty when there is none.
Bytes ReadDirectory(const Bytes& file) {
  size_t most = file.size() / EntryRecordSize < size_t(MaxEntries) ? file.size() / EntryRecordSize : MaxEntries;
  for (size_t n = 1; n <= most; ++n) {
    Bytes directory(file.end() - long(n * EntryRecordSize), file.end());
    Crypt(directory, 0);
    const uint8_t* last = directory.data() + directory.size() - EntryRecordSize;
    if (GetLe32(last + EntryMagicAt) == EntryMagic && int8_t(last[EntryLeadByteAt]) == int(n)) return directory;
  }
  return {};
}

bool Load(const char* path, Bytes& bytes) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::fseek(f, 0, SEEK_END);
  bytes.resize(size_t(std::ftell(f)));
  std::fseek(f, 0, SEEK_SET);
  bool ok = std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
  std::fclose(f);
  return ok;
}

bool Save(const char* path, const Bytes& bytes) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

int Fail(const char* what, const char* path) {
  std::fprintf(stderr, "e2e_archive_edit: %s: %s\n", path, what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  bool rename = argc == 5 && !std::strcmp(argv[2], "rename");
  bool append = argc == 7 && !std::strcmp(argv[2], "append");
  if (!rename && !append) {
    std::fprintf(stderr, "usage: e2e_archive_edit FILE rename OLD NEW\n"
                         "       e2e_archive_edit FILE append NAME DATA STORAGE ORIGINAL\n");
    return 2;
  }
  const char* path = argv[1];
  const char* name = rename ? argv[4] : argv[3];
  if (std::strlen(name) >= size_t(EntryNameSize)) return Fail("names have at most 15 characters", name);
  Bytes file;
  if (!Load(path, file)) return Fail("cannot read", path);
  Bytes directory = ReadDirectory(file);
  if (directory.empty()) return Fail("no archive directory", path);
  size_t count = directory.size() / EntryRecordSize;

  if (rename) {
    for (size_t i = 0; i < count; ++i) {
      uint8_t* record = directory.data() + (count - 1 - i) * EntryRecordSize;
      if (!SameName(record, argv[3])) continue;
      std::memset(record + EntryNameAt, 0, EntryNameSize);
      std::memcpy(record + EntryNameAt, name, std::strlen(name));
      Crypt(directory, 1);
      std::copy(directory.begin(), directory.end(), file.end() - long(directory.size()));
      return Save(path, file) ? 0 : Fail("cannot write", path);
    }
    return Fail("no such entry", argv[3]);
  }

  if (count >= size_t(MaxEntries)) return Fail("directory full", path);
  Bytes data;
  if (!Load(argv[4], data)) return Fail("cannot read", argv[4]);
  uint8_t record[EntryRecordSize] = {};
  record[EntryLeadByteAt] = uint8_t(count + 1);
  record[EntryStorageAt] = uint8_t(std::atoi(argv[5]));
  std::memcpy(record + EntryNameAt, name, std::strlen(name));
  PutLe32(record + EntryDataOffsetAt, uint32_t(file.size()));
  PutLe32(record + EntryStoredSizeAt, uint32_t(data.size()));
  PutLe32(record + EntryOriginalSizeAt, uint32_t(std::atol(argv[6])));
  PutLe32(record + EntryMarkerOffsetAt, uint32_t(-1));
  record[EntryRecordSizeAt] = EntryRecordSize;
  PutLe32(record + EntryMagicAt, EntryMagic);
  directory.insert(directory.end(), record, record + EntryRecordSize);
  Crypt(directory, 1);
  file.insert(file.end(), data.begin(), data.end());
  file.insert(file.end(), directory.begin(), directory.end());
  return Save(path, file) ? 0 : Fail("cannot write", path);
}
