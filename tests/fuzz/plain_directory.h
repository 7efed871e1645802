// Fuzz inputs whose directory is stored plain: the fuzz paths encipher it
// before the library sees the file. Mutations then change record fields
// (offsets, sizes, storage, names) directly instead of garbling the whole
// enciphered stream, which the reader would only reject.
#pragma once
#include <cstdint>
#include <vector>

#include "archive/archive.h"

namespace fuzzpaths {

// When the last record, read plain, claims n (1..32) entries that fit the
// file and carries the magic, the last 40n bytes are enciphered as one stream.
inline std::vector<uint8_t> WithEncipheredDirectory(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  if (size < size_t(EntryRecordSize)) return bytes;
  const uint8_t* last = bytes.data() + size - EntryRecordSize;
  int32_t count = int8_t(last[EntryLeadByteAt]);
  uint32_t magic = uint32_t(last[EntryMagicAt]) | uint32_t(last[EntryMagicAt + 1]) << 8 |
                   uint32_t(last[EntryMagicAt + 2]) << 16 | uint32_t(last[EntryMagicAt + 3]) << 24;
  if (magic != EntryMagic || count < 1 || count > MaxEntries || size_t(count) * EntryRecordSize > size) return bytes;
  Pc1Cipher cipher;
  Pc1SetKey(cipher, DirectoryKey);
  Pc1Crypt(cipher, bytes.data() + size - size_t(count) * EntryRecordSize, count * EntryRecordSize, 1);
  return bytes;
}

}  // namespace fuzzpaths
