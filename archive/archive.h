// The payload archive: a directory of 40-byte records at the very end of a
// file, enciphered as one stream; the reader finds it by trial. Also the
// writer of a new archive, the transfer of entry bytes, and the failure latch
// that all archive operations share. One Archive holds the whole state; the
// installer keeps a single one.
//
// Failures are latched: once ArmFailureLatch(archive, 1) ran, the first failing
// create, open, copy, store or extract sets latch.Failed, and while it is set
// those operations do nothing and return 0. Look-ups and CloseArchiveFile
// work regardless.
#pragma once
#include <cstdint>

#include "archive/cipher.h"
#include "compression/codec.h"
#include "platform/file.h"

inline constexpr int32_t EntryRecordSize = 40;
inline constexpr int32_t MaxEntries = 32;
inline constexpr uint32_t EntryMagic = 0x474C5545;
inline constexpr int32_t EntryNameSize = 16;
inline constexpr int32_t InlineDataMax = 16;
inline constexpr int32_t ChunkSize = 16384;

inline constexpr uint8_t StoragePlain = 0;
inline constexpr uint8_t StorageCompressed = 1;
inline constexpr uint8_t StorageInline = 0xFF;

// Field offsets within an ArchiveEntry record.
inline constexpr int32_t EntryLeadByteAt = 0;
inline constexpr int32_t EntryStorageAt = 1;
inline constexpr int32_t EntryXorByteAt = 2;
inline constexpr int32_t EntryNameAt = 3;
inline constexpr int32_t EntryDataOffsetAt = 19;
inline constexpr int32_t EntryStoredSizeAt = 23;
inline constexpr int32_t EntryOriginalSizeAt = 27;
inline constexpr int32_t EntryMarkerOffsetAt = 31;
inline constexpr int32_t EntryRecordSizeAt = 35;
inline constexpr int32_t EntryMagicAt = 36;
inline constexpr int32_t InlineDataAt = 23;

// TransferFlags.
inline constexpr uint32_t TransferXorMask = 0xFF;
inline constexpr uint32_t TransferCompress = 0x100;
inline constexpr uint32_t TransferExpand = 0x200;
inline constexpr uint32_t TransferUnmask = 0x2000;
inline constexpr uint32_t TransferMemoryDestination = 0x1000000;
inline constexpr uint32_t TransferMemorySource = 0x2000000;

// Kinds for FindEntry.
inline constexpr int FindRegular = 1;
inline constexpr int FindInline = 2;

// OpenStage values.
inline constexpr int32_t StageLatched = 0, StageOpenFailed = 1, StageShortRead = 2, StageNoDirectory = 3;

struct FailureLatch {
  int Failed;
  int LatchMask;  // 0x7FFF when armed
};

struct ArchiveReader {
  FileHandle source;
  uint32_t sourceSize;
  uint8_t directory[MaxEntries * EntryRecordSize];  // entry i is the (i+1)-th record from the end
  int32_t SourceCount;
  int32_t OpenStage;
};

struct ArchiveWriter {
  FileHandle target;
  uint8_t directory[MaxEntries * EntryRecordSize];  // slot i = entry i, kept plain
  int32_t TargetCount;
  int32_t AppendPosition;
};

struct Archive {
  FailureLatch latch;
  ArchiveReader reader;
  ArchiveWriter writer;
  Pc1Cipher cipher;
  Codec codec;
  uint8_t chunk[ChunkSize];  // the plain copy's buffer; also scratch for directories
};

// Puts a fresh archive state in place: no files open, latch disarmed, no hooks.
void ResetArchive(Archive& archive);

// --- Failure latch ---
// Clears Failed; arms the latch when enable is nonzero, else disarms it.
void ArmFailureLatch(Archive& archive, int enable);

// --- Reader ---
// Opens path (null: the running program) as the source archive, closing an
// open source first. Returns the handle or InvalidFile; OpenStage tells how far
// it got (StageNoDirectory: read, but no directory). The directory and
// SourceCount change only when a directory is found.
FileHandle OpenSourceArchive(Archive& archive, const char* path);
// Closes the source, or finishes the target (directory written) and closes it;
// any other handle is ignored. A directory write that falls short latches.
void CloseArchiveFile(Archive& archive, FileHandle handle);
// The record of entry index (0 = last in the file) of the open source, or null.
const uint8_t* SourceEntry(const Archive& archive, int32_t index);
// The first record named name (ASCII case ignored); null unless its kind is in kinds.
const uint8_t* FindEntry(const Archive& archive, const char* name, int kinds);
// StoredSize / OriginalSize of the regular entry name, -1 when there is none.
int32_t EntryStoredSize(const Archive& archive, const char* name);
int32_t EntryOriginalSize(const Archive& archive, const char* name);
// True when both are regular entries with the same DataOffset.
int EntriesShareData(const Archive& archive, const char* name1, const char* name2);

// Record fields.
inline uint8_t RecordStorage(const uint8_t* record) { return record[EntryStorageAt]; }
int32_t RecordInt(const uint8_t* record, int32_t at);
// The name, NUL-terminated, into a 17-byte buffer.
void RecordName(const uint8_t* record, char* name17);
// Data of an inline entry into a 16-byte buffer; returns its length (LeadByte,
// 0 when below 0 or above 16).
int32_t ReadInlineEntry(const uint8_t* record, uint8_t* data16);

// --- Writer ---
// Creates or replaces path for writing.
FileHandle CreateOutputFile(const char* path);
// Finishes an open target, then creates path as the new, empty target.
FileHandle CreateTargetArchive(Archive& archive, const char* path);
// The slot the next entry goes to, or null when all 32 are taken.
uint8_t* NextTargetSlot(Archive& archive);
// Records an entry whose bytes are in the target: Storage from the Compress
// bit, XorByte from the low byte of flags; a marker offset of 0 or not below
// the original size is stored as -1.
void AddTargetEntry(Archive& archive, const char* name, uint32_t flags, int32_t storedSize, int32_t originalSize,
                    int32_t dataOffset, int32_t markerOffset);
// Records newName as a second entry over the stored bytes of existingName.
int AliasTargetEntry(Archive& archive, const char* newName, const char* existingName);

// Builder operations for the tool. Each returns 0 on failure, consults the
// latch and sets it on failure like the transfers below.
// Raw bytes before the entries (the installer program): written at the
// append position, which moves on; no entry is recorded.
int AppendTargetBytes(Archive& archive, const uint8_t* data, int32_t size);
// An entry whose stored bytes were prepared elsewhere (compressed in parallel,
// say): storage is StoragePlain or StorageCompressed; plain bytes arrive
// already masked with xorByte, compressed ones as the RC-block stream. Names
// have 1..15 characters.
int StorePreparedEntry(Archive& archive, const char* name, const uint8_t* stored, int32_t storedSize,
                       int32_t originalSize, uint8_t storage, uint8_t xorByte, int32_t markerOffset);
// An entry of 0..16 bytes held in its record. It cannot be the first entry:
// entry 0's LeadByte carries the count, not a length.
int StoreInlineEntry(Archive& archive, const char* name, const uint8_t* data, int32_t length);

// --- Entry transfer ---
// Where a transfer reads and writes: the flags MemorySource and
// MemoryDestination choose the memory member, else the file.
struct TransferSource {
  FileHandle file;
  const uint8_t* memory;
};
struct TransferSink {
  FileHandle file;
  uint8_t* memory;
  int32_t room;  // bytes the memory sink may take; writes beyond fail
};
// Moves count source bytes to the sink: expanded (Expand; count bounds the
// compressed input), compressed (Compress) or plainly copied with the low
// byte of flags as XOR mask. count returns the bytes written to the sink.
int TransferData(Archive& archive, TransferSource source, TransferSink sink, int32_t& count, uint32_t flags);
// The plain copy: 16384-byte chunks through archive.chunk.
int PlainCopy(Archive& archive, TransferSource source, TransferSink sink, int32_t& count, uint32_t flags);

// Copies the regular source entry name into the target and records it. flags:
// Expand (a compressed entry is expanded), Unmask (a plain entry loses its
// mask), both, or none.
int CopyEntry(Archive& archive, const char* name, uint32_t flags);
// Stores size bytes of memory into the target as name (Compress: compressed,
// low byte: XOR mask). Does not latch when no target is open or the directory
// is full.
int StoreMemoryEntry(Archive& archive, const uint8_t* data, int32_t size, const char* name, uint32_t flags);
// Content of a regular entry into buffer; never writes more than limit bytes
// (a plain entry is cut at the limit, a compressed entry that expands to more
// fails).
int ExtractEntryToMemory(Archive& archive, const char* name, uint8_t* buffer, int32_t limit);
// Content of an entry (regular or inline) into a new file; a partly written
// file is removed when the transfer fails, and no file is created for a
// missing or damaged entry.
int ExtractEntryToFile(Archive& archive, const char* name, const char* path);

// --- Checking (the tool's verify) ---
// Neither consults nor sets the latch. A regular entry must lie within the
// source file, its blocks must be valid and it must expand to OriginalSize
// (a plain entry: StoredSize equals OriginalSize); an inline entry's length
// must be 0..16. With no source open every regular entry is OutsideFile.
enum class EntryProblem : uint8_t { None, OutsideFile, BadBlock, Truncated, SizeMismatch, BadInline };
struct EntryCheck {
  EntryProblem problem;
  int32_t badBlockOffset;  // file offset of the bad block, -1 when none
  int32_t expandedSize;    // bytes the entry expanded to
};
EntryCheck CheckEntry(Archive& archive, const uint8_t* record);
