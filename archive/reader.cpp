// The archive reader: finds the enciphered directory at the end of a file by
// trying every possible entry count, and looks entries up in it.
#include "archive/internal.h"
#include "platform/bytes.h"

namespace {

constexpr int32_t DirectoryBytes = MaxEntries * EntryRecordSize;
constexpr int LatchArmed = 0x7FFF;
constexpr int32_t PathCapacity = 260;

// Deciphers the last count records of area as one stream and tests entry 0.
// A failed candidate is enciphered again, which restores the file's bytes.
bool TryDirectory(Pc1Cipher& cipher, uint8_t* area, int32_t count) {
  Pc1SetKey(cipher, DirectoryKey);
  Pc1Crypt(cipher, area, count * EntryRecordSize, 0);
  const uint8_t* entry0 = area + (count - 1) * EntryRecordSize;
  if (GetLe32(entry0 + EntryMagicAt) == EntryMagic && int8_t(entry0[EntryLeadByteAt]) == count) return true;
  Pc1SetKey(cipher, DirectoryKey);
  Pc1Crypt(cipher, area, count * EntryRecordSize, 1);
  return false;
}

}  // namespace

void ResetArchive(Archive& archive) {
  FillBytes(&archive, 0, int32_t(sizeof archive));
  archive.reader.source = InvalidFile;
  archive.writer.target = InvalidFile;
}

void ArmFailureLatch(Archive& archive, int enable) {
  archive.latch.Failed = 0;
  archive.latch.LatchMask = enable ? LatchArmed : 0;
}

FileHandle OpenSourceArchive(Archive& archive, const char* path) {
  ArchiveReader& reader = archive.reader;
  if (reader.source != InvalidFile) CloseArchiveFile(archive, reader.source);
  reader.OpenStage = StageLatched;
  if (archive.latch.Failed) return InvalidFile;

  char ownPath[PathCapacity];
  if (!path) path = OwnExecutablePath(ownPath, PathCapacity) ? ownPath : nullptr;
  FileHandle file = path ? FileOpenRead(path) : InvalidFile;
  reader.OpenStage = StageOpenFailed;
  if (file != InvalidFile) {
    uint32_t size = FileSize(file);
    int32_t available = int32_t(size / EntryRecordSize > uint32_t(MaxEntries) ? MaxEntries : size / EntryRecordSize);
    int32_t areaBytes = available * EntryRecordSize;
    // The candidates are tried in the chunk, so a file without a directory
    // leaves the last good directory untouched.
    uint8_t* area = archive.chunk;
    bool read = size <= 0x7FFFFFFFu && FileSeek(file, int32_t(size) - areaBytes) &&
                FileRead(file, area, areaBytes) == areaBytes;
    reader.OpenStage = StageShortRead;
    int32_t found = 0;
    if (read) {
      reader.OpenStage = StageNoDirectory;
      for (int32_t count = 1; count <= available && !found; ++count)
        if (TryDirectory(archive.cipher, area + areaBytes - count * EntryRecordSize, count)) found = count;
    }
    if (found) {
      int32_t bytes = found * EntryRecordSize;
      FillBytes(reader.directory, 0, DirectoryBytes - bytes);
      CopyBytes(reader.directory + DirectoryBytes - bytes, area + areaBytes - bytes, bytes);
      reader.SourceCount = found;
      reader.sourceSize = size;
      reader.source = file;
    } else {
      FileClose(file);
    }
  }
  LatchResult(archive, reader.source != InvalidFile);
  return reader.source;
}

const uint8_t* SourceEntry(const Archive& archive, int32_t index) {
  if (index < 0 || index >= archive.reader.SourceCount || index >= MaxEntries) return nullptr;
  return archive.reader.directory + DirectoryBytes - (index + 1) * EntryRecordSize;
}

const uint8_t* FindEntry(const Archive& archive, const char* name, int kinds) {
  if (!name) return nullptr;
  for (int32_t i = 0; i < archive.reader.SourceCount; ++i) {
    const uint8_t* record = SourceEntry(archive, i);
    if (!record) break;
    if (!RecordNameIs(record, name)) continue;
    // The first record of that name decides, whatever its kind.
    int kind = RecordStorage(record) == StorageInline ? FindInline : FindRegular;
    return (kinds & kind) ? record : nullptr;
  }
  return nullptr;
}

int32_t EntryStoredSize(const Archive& archive, const char* name) {
  const uint8_t* record = FindEntry(archive, name, FindRegular);
  return record ? RecordInt(record, EntryStoredSizeAt) : -1;
}

int32_t EntryOriginalSize(const Archive& archive, const char* name) {
  const uint8_t* record = FindEntry(archive, name, FindRegular);
  return record ? RecordInt(record, EntryOriginalSizeAt) : -1;
}

int EntriesShareData(const Archive& archive, const char* name1, const char* name2) {
  const uint8_t* first = FindEntry(archive, name1, FindRegular);
  const uint8_t* second = FindEntry(archive, name2, FindRegular);
  return first && second && RecordInt(first, EntryDataOffsetAt) == RecordInt(second, EntryDataOffsetAt);
}

int32_t RecordInt(const uint8_t* record, int32_t at) { return int32_t(GetLe32(record + at)); }

void SetRecordInt(uint8_t* record, int32_t at, int32_t value) { PutLe32(record + at, uint32_t(value)); }

void RecordName(const uint8_t* record, char* name17) {
  for (int32_t i = 0; i < EntryNameSize; ++i) name17[i] = char(record[EntryNameAt + i]);
  name17[EntryNameSize] = 0;
}

bool RecordNameIs(const uint8_t* record, const char* name) {
  const uint8_t* field = record + EntryNameAt;
  for (int32_t i = 0; i < EntryNameSize; ++i) {
    char stored = AsciiLower(char(field[i]));
    if (stored != AsciiLower(name[i])) return false;
    if (!stored) return true;
  }
  return name[EntryNameSize] == 0;
}

void SetRecordName(uint8_t* record, const char* name) {
  int32_t i = 0;
  for (; i < EntryNameSize && name[i]; ++i) record[EntryNameAt + i] = uint8_t(name[i]);
  for (; i < EntryNameSize; ++i) record[EntryNameAt + i] = 0;
}

int32_t ReadInlineEntry(const uint8_t* record, uint8_t* data16) {
  int32_t length = int8_t(record[EntryLeadByteAt]);
  if (length < 0 || length > InlineDataMax) length = 0;
  CopyBytes(data16, record + InlineDataAt, length);
  return length;
}

bool EntryWithinSource(const Archive& archive, const uint8_t* record) {
  if (archive.reader.source == InvalidFile) return false;
  int32_t offset = RecordInt(record, EntryDataOffsetAt);
  int32_t size = RecordInt(record, EntryStoredSizeAt);
  // Two sizes below 2^31 add up to less than 2^32: no overflow unsigned.
  return offset >= 0 && size >= 0 && uint32_t(offset) + uint32_t(size) <= archive.reader.sourceSize;
}
