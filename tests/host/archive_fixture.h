// Helpers for the archive and settings tests: a scratch directory, whole-file
// reads and writes, and hand-built enciphered directories for the cases the
// writer cannot make.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive.h"

namespace archive_test {

using Bytes = std::vector<uint8_t>;

inline std::unique_ptr<Archive> NewArchive() {
  auto archive = std::make_unique<Archive>();
  ResetArchive(*archive);
  return archive;
}

// A directory of its own for each test, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumaveil-archive-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    if (!mkdtemp(buffer.data())) std::abort();
    path_ = buffer.data();
  }
  ~ScratchDir() { std::filesystem::remove_all(path_); }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// Bytes that differ from position to position, so misplaced chunks show.
inline Bytes Pattern(size_t size, uint32_t seed = 1) {
  Bytes bytes(size);
  uint32_t x = seed * 2654435761u + 12345;
  for (auto& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = uint8_t(x);
  }
  return bytes;
}

inline Bytes Xored(Bytes bytes, uint8_t mask) {
  for (auto& b : bytes) b ^= mask;
  return bytes;
}

inline void PutInt(uint8_t* record, int32_t at, int32_t value) {
  for (int i = 0; i < 4; ++i) record[at + i] = uint8_t(uint32_t(value) >> (8 * i));
}

struct RecordFields {
  std::string name;
  uint8_t storage = StoragePlain;
  uint8_t xorByte = 0;
  int32_t dataOffset = 0;
  int32_t storedSize = 0;
  int32_t originalSize = 0;
  int32_t markerOffset = -1;
  uint8_t leadByte = 0;
};

inline Bytes MakeRecord(const RecordFields& fields) {
  Bytes record(EntryRecordSize, 0);
  record[EntryLeadByteAt] = fields.leadByte;
  record[EntryStorageAt] = fields.storage;
  record[EntryXorByteAt] = fields.xorByte;
  std::memcpy(&record[EntryNameAt], fields.name.data(), std::min<size_t>(fields.name.size(), EntryNameSize));
  PutInt(record.data(), EntryDataOffsetAt, fields.dataOffset);
  PutInt(record.data(), EntryStoredSizeAt, fields.storedSize);
  PutInt(record.data(), EntryOriginalSizeAt, fields.originalSize);
  PutInt(record.data(), EntryMarkerOffsetAt, fields.markerOffset);
  record[EntryRecordSizeAt] = EntryRecordSize;
  PutInt(record.data(), EntryMagicAt, int32_t(EntryMagic));
  return record;
}

// Records given in entry order (entry 0 first) as the enciphered bytes that
// end a file: entry N-1 first, one stream under the directory key.
inline Bytes EncipherDirectory(const std::vector<Bytes>& entries) {
  Bytes out;
  for (size_t i = entries.size(); i-- > 0;) out.insert(out.end(), entries[i].begin(), entries[i].end());
  Pc1Cipher cipher{};
  Pc1SetKey(cipher, DirectoryKey);
  Pc1Crypt(cipher, out.data(), int32_t(out.size()), 1);
  return out;
}

// The last count records of a file deciphered as one stream, in entry order.
inline std::vector<Bytes> DecipherDirectory(const Bytes& file, int count) {
  Bytes tail(file.end() - count * EntryRecordSize, file.end());
  Pc1Cipher cipher{};
  Pc1SetKey(cipher, DirectoryKey);
  Pc1Crypt(cipher, tail.data(), int32_t(tail.size()), 0);
  std::vector<Bytes> entries;
  for (int i = 0; i < count; ++i) {
    auto at = tail.end() - (i + 1) * EntryRecordSize;
    entries.emplace_back(at, at + EntryRecordSize);
  }
  return entries;
}

inline std::string NameOf(const uint8_t* record) {
  char name[17];
  RecordName(record, name);
  return name;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

}  // namespace archive_test
