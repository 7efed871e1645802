// The archive writer: a target file written strictly in order, its directory
// kept in memory and enciphered behind the entries when the target is closed.
#include "archive/internal.h"
#include "platform/bytes.h"

namespace {

constexpr int32_t DirectoryBytes = MaxEntries * EntryRecordSize;
constexpr int32_t NoMarker = -1;

uint8_t* TargetSlot(Archive& archive, int32_t index) { return archive.writer.directory + index * EntryRecordSize; }

// Takes the next slot: entry 0's LeadByte carries the count.
void CountTargetEntry(Archive& archive) {
  ++archive.writer.TargetCount;
  archive.writer.directory[EntryLeadByteAt] = uint8_t(archive.writer.TargetCount);
}

// Enciphers the slots in file order (last slot first, entry 0 last) as one
// stream behind the entries. The slots themselves stay plain.
bool WriteTargetDirectory(Archive& archive) {
  ArchiveWriter& writer = archive.writer;
  int32_t bytes = writer.TargetCount * EntryRecordSize;
  uint8_t* out = archive.chunk;
  for (int32_t i = 0; i < writer.TargetCount; ++i)
    CopyBytes(out + (writer.TargetCount - 1 - i) * EntryRecordSize, TargetSlot(archive, i), EntryRecordSize);
  Pc1SetKey(archive.cipher, DirectoryKey);
  Pc1Crypt(archive.cipher, out, bytes, 1);
  return FileWrite(writer.target, out, bytes) == bytes;
}

bool NameFitsRecord(const char* name) {
  if (!name || !name[0]) return false;
  int32_t length = 0;
  while (name[length] && length < EntryNameSize) ++length;
  return length < EntryNameSize;
}

}  // namespace

void CloseArchiveFile(Archive& archive, FileHandle handle) {
  if (handle == InvalidFile) return;
  if (handle == archive.reader.source) {
    FileClose(handle);
    archive.reader.source = InvalidFile;
    return;
  }
  if (handle != archive.writer.target) return;
  // Written even after a failure, so the file is complete; a short write is
  // a failure of its own: the file would not be a readable archive.
  if (archive.writer.TargetCount > 0 && !WriteTargetDirectory(archive)) LatchResult(archive, 0);
  FileClose(handle);
  archive.writer.target = InvalidFile;
}

FileHandle CreateOutputFile(const char* path) { return path ? FileCreate(path) : InvalidFile; }

FileHandle CreateTargetArchive(Archive& archive, const char* path) {
  ArchiveWriter& writer = archive.writer;
  if (writer.target != InvalidFile) CloseArchiveFile(archive, writer.target);
  writer.TargetCount = 0;
  writer.AppendPosition = 0;
  // A fresh directory, so that no byte of an earlier target's records
  // (LeadBytes are never written) reaches this one.
  FillBytes(writer.directory, 0, DirectoryBytes);
  if (!archive.latch.Failed) {
    writer.target = CreateOutputFile(path);
    LatchResult(archive, writer.target != InvalidFile);
  }
  return writer.target;
}

uint8_t* NextTargetSlot(Archive& archive) {
  int32_t count = archive.writer.TargetCount;
  return count >= 0 && count < MaxEntries ? TargetSlot(archive, count) : nullptr;
}

void AddTargetEntry(Archive& archive, const char* name, uint32_t flags, int32_t storedSize, int32_t originalSize,
                    int32_t dataOffset, int32_t markerOffset) {
  uint8_t* slot = NextTargetSlot(archive);
  if (!slot || !name) return;
  SetRecordName(slot, name);
  PutLe32(slot + EntryMagicAt, EntryMagic);
  slot[EntryStorageAt] = (flags & TransferCompress) ? StorageCompressed : StoragePlain;
  slot[EntryXorByteAt] = uint8_t(flags & TransferXorMask);
  SetRecordInt(slot, EntryDataOffsetAt, dataOffset);
  SetRecordInt(slot, EntryMarkerOffsetAt, markerOffset != 0 && markerOffset < originalSize ? markerOffset : NoMarker);
  SetRecordInt(slot, EntryStoredSizeAt, storedSize);
  SetRecordInt(slot, EntryOriginalSizeAt, originalSize);
  slot[EntryRecordSizeAt] = uint8_t(EntryRecordSize);
  CountTargetEntry(archive);
}

int AliasTargetEntry(Archive& archive, const char* newName, const char* existingName) {
  if (archive.latch.Failed || !newName || !existingName) return 0;
  for (int32_t i = 0; i < archive.writer.TargetCount; ++i) {
    const uint8_t* existing = TargetSlot(archive, i);
    if (!RecordNameIs(existing, existingName)) continue;
    uint8_t* slot = NextTargetSlot(archive);
    if (!slot) return 0;
    CopyBytes(slot, existing, EntryRecordSize);
    SetRecordName(slot, newName);
    CountTargetEntry(archive);
    return 1;
  }
  return 0;
}

int AppendTargetBytes(Archive& archive, const uint8_t* data, int32_t size) {
  if (archive.latch.Failed) return 0;
  ArchiveWriter& writer = archive.writer;
  if (writer.target == InvalidFile || !data || size < 0) return LatchResult(archive, 0);
  int32_t written = size ? FileWrite(writer.target, data, size) : 0;
  writer.AppendPosition += written;
  return LatchResult(archive, written == size);
}

int StorePreparedEntry(Archive& archive, const char* name, const uint8_t* stored, int32_t storedSize,
                       int32_t originalSize, uint8_t storage, uint8_t xorByte, int32_t markerOffset) {
  if (archive.latch.Failed) return 0;
  ArchiveWriter& writer = archive.writer;
  if (writer.target == InvalidFile || !NextTargetSlot(archive) || !NameFitsRecord(name) || !stored ||
      storedSize < 0 || originalSize < 0 || (storage != StoragePlain && storage != StorageCompressed))
    return LatchResult(archive, 0);
  int32_t start = writer.AppendPosition;
  int32_t written = storedSize ? FileWrite(writer.target, stored, storedSize) : 0;
  writer.AppendPosition += written;
  if (written != storedSize) return LatchResult(archive, 0);
  uint32_t flags = (storage == StorageCompressed ? TransferCompress : 0) | xorByte;
  AddTargetEntry(archive, name, flags, storedSize, originalSize, start, markerOffset);
  return LatchResult(archive, 1);
}

int StoreInlineEntry(Archive& archive, const char* name, const uint8_t* data, int32_t length) {
  if (archive.latch.Failed) return 0;
  uint8_t* slot = NextTargetSlot(archive);
  if (archive.writer.target == InvalidFile || !slot || archive.writer.TargetCount == 0 || !NameFitsRecord(name) ||
      length < 0 || length > InlineDataMax || (length > 0 && !data))
    return LatchResult(archive, 0);
  FillBytes(slot, 0, EntryRecordSize);
  slot[EntryLeadByteAt] = uint8_t(length);
  slot[EntryStorageAt] = StorageInline;
  SetRecordName(slot, name);
  slot[EntryRecordSizeAt] = uint8_t(EntryRecordSize);
  PutLe32(slot + EntryMagicAt, EntryMagic);
  // 16 bytes of data reach over RecordSize and Magic, which only entry 0 needs.
  CopyBytes(slot + InlineDataAt, data, length);
  CountTargetEntry(archive);
  return LatchResult(archive, 1);
}
