// Entry transfer: every move of entry bytes (source archive to target, memory
// to target, source archive to memory or to a file of its own) goes through
// TransferData, which copies plainly or runs the codec.
#include "archive/internal.h"
#include "platform/bytes.h"

namespace {

// Positions the source at a regular entry's stored bytes, which must lie
// within the file.
bool SeekEntry(Archive& archive, const uint8_t* record) {
  return EntryWithinSource(archive, record) && FileSeek(archive.reader.source, RecordInt(record, EntryDataOffsetAt));
}

TransferSource FromSourceArchive(const Archive& archive) { return {archive.reader.source, nullptr}; }
TransferSink ToFile(FileHandle file) { return {file, nullptr, 0}; }

// The transfer that reads a regular entry back as its content: expanded when
// compressed, unmasked when plain.
uint32_t ContentFlags(const uint8_t* record) {
  return RecordStorage(record) != StoragePlain ? TransferExpand : record[EntryXorByteAt];
}

}  // namespace

int PlainCopy(Archive& archive, TransferSource source, TransferSink sink, int32_t& count, uint32_t flags) {
  int32_t remaining = count;
  count = 0;
  if (remaining < 0) return 0;
  while (remaining != 0) {
    int32_t chunk = remaining <= ChunkSize ? remaining : ChunkSize;
    remaining -= chunk;
    if (flags & TransferMemorySource) {
      if (!source.memory) return 0;
      CopyBytes(archive.chunk, source.memory, chunk);
      source.memory += chunk;
    } else if (FileRead(source.file, archive.chunk, chunk) != chunk) {
      return 0;
    }
    XorBuffer(archive.chunk, chunk, int(flags & TransferXorMask));
    int32_t written;
    if (flags & TransferMemoryDestination) {
      if (!sink.memory) return 0;
      written = chunk <= sink.room ? chunk : (sink.room > 0 ? sink.room : 0);
      CopyBytes(sink.memory, archive.chunk, written);
      sink.memory += written;
      sink.room -= written;
    } else {
      written = FileWrite(sink.file, archive.chunk, chunk);
    }
    count += written;
    if (written != chunk) return 0;
  }
  return 1;
}

int TransferData(Archive& archive, TransferSource source, TransferSink sink, int32_t& count, uint32_t flags) {
  if (!(flags & (TransferCompress | TransferExpand))) return PlainCopy(archive, source, sink, count, flags);
  if (count < 0) {
    count = 0;
    return 0;
  }
  const uint8_t* memorySource = (flags & TransferMemorySource) ? source.memory : nullptr;
  uint8_t* memorySink = (flags & TransferMemoryDestination) ? sink.memory : nullptr;
  if (((flags & TransferMemorySource) && !memorySource && count > 0) ||
      ((flags & TransferMemoryDestination) && !memorySink)) {
    count = 0;
    return 0;
  }
  SetStreamEndpoints(archive.codec, memorySource, memorySink, memorySink ? sink.room : 0);
  int result;
  if (flags & TransferExpand)
    result = ExpandStream(archive.codec, source.file, sink.file, count);
  else
    result = CompressStream(archive.codec, source.file, sink.file, count, uint8_t(flags & TransferXorMask));
  count = StreamTotalWritten(archive.codec);
  return result;
}

int CopyEntry(Archive& archive, const char* name, uint32_t flags) {
  if (archive.latch.Failed) return 0;
  ArchiveWriter& writer = archive.writer;
  const uint8_t* record = FindEntry(archive, name, FindRegular);
  // SeekEntry fails as well when no source is open.
  if (writer.target == InvalidFile || !NextTargetSlot(archive) || !record || !SeekEntry(archive, record))
    return LatchResult(archive, 0);

  // Expansion applies to compressed entries and never removes a mask; Unmask
  // applies to plain entries only. The record keeps the entry's own Storage
  // and XorByte exactly when the stored bytes are copied unchanged.
  uint8_t mask = record[EntryXorByteAt];
  bool compressed = RecordStorage(record) != StoragePlain;
  uint32_t transfer, recorded;
  if (compressed && (flags & TransferExpand)) {
    transfer = TransferExpand;
    recorded = 0;
  } else if (!compressed && (flags & TransferUnmask)) {
    transfer = mask;
    recorded = 0;
  } else {
    transfer = 0;
    recorded = (compressed ? TransferCompress : 0) | mask;
  }

  int32_t start = writer.AppendPosition;
  int32_t count = RecordInt(record, EntryStoredSizeAt);
  int result = TransferData(archive, FromSourceArchive(archive), ToFile(writer.target), count, transfer);
  writer.AppendPosition += count;
  if (result)
    AddTargetEntry(archive, name, recorded, count, RecordInt(record, EntryOriginalSizeAt), start,
                   RecordInt(record, EntryMarkerOffsetAt));
  return LatchResult(archive, result);
}

int StoreMemoryEntry(Archive& archive, const uint8_t* data, int32_t size, const char* name, uint32_t flags) {
  ArchiveWriter& writer = archive.writer;
  if (archive.latch.Failed || writer.target == InvalidFile || !NextTargetSlot(archive)) return 0;
  int32_t start = writer.AppendPosition;
  int32_t count = 0;
  int result = 0;
  if ((data || size == 0) && name && size >= 0) {
    count = size;
    result = TransferData(archive, {InvalidFile, data}, ToFile(writer.target), count, flags | TransferMemorySource);
  }
  writer.AppendPosition += count;
  if (result) AddTargetEntry(archive, name, flags, count, size, start, 0);
  return LatchResult(archive, result);
}

int ExtractEntryToMemory(Archive& archive, const char* name, uint8_t* buffer, int32_t limit) {
  if (archive.latch.Failed) return 0;
  const uint8_t* record = FindEntry(archive, name, FindRegular);
  int result = 0;
  if (record && buffer && limit >= 0 && SeekEntry(archive, record)) {
    uint32_t flags = ContentFlags(record) | TransferMemoryDestination;
    int32_t count = RecordInt(record, EntryStoredSizeAt);
    // A compressed entry reads its whole stored size; the sink's room keeps
    // its expansion inside the buffer.
    if (!(flags & TransferExpand) && count > limit) count = limit;
    result = TransferData(archive, FromSourceArchive(archive), {InvalidFile, buffer, limit}, count, flags);
  }
  return LatchResult(archive, result);
}

int ExtractEntryToFile(Archive& archive, const char* name, const char* path) {
  if (archive.latch.Failed) return 0;
  const uint8_t* record = FindEntry(archive, name, FindRegular | FindInline);
  bool isInline = record && RecordStorage(record) == StorageInline;
  // Everything is checked before the file is created, so a missing or
  // damaged entry leaves no file behind.
  if (!record || !path || (!isInline && !SeekEntry(archive, record)) || archive.reader.source == InvalidFile)
    return LatchResult(archive, 0);
  FileHandle output = CreateOutputFile(path);
  if (output == InvalidFile) return LatchResult(archive, 0);
  int result;
  if (isInline) {
    uint8_t data[InlineDataMax];
    int32_t length = ReadInlineEntry(record, data);
    result = length == 0 || FileWrite(output, data, length) == length;
  } else {
    int32_t count = RecordInt(record, EntryStoredSizeAt);
    result = TransferData(archive, FromSourceArchive(archive), ToFile(output), count, ContentFlags(record));
  }
  FileClose(output);
  if (!result) FileDelete(path);
  return LatchResult(archive, result);
}
