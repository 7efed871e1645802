// The payload archive: a directory of 40-byte records at the very end of a
// file, enciphered as one stream; the reader finds it by trial. Also the
// writer of a new archive, the transfer of entry bytes, and the failure latch
// that all archive operations share. One Archive holds the whole state; the
// installer keeps a single one.
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
  uint8_t directory[MaxEntries * EntryRecordSize];
  int32_t SourceCount;
  int32_t OpenStage;
};

struct ArchiveWriter {
  FileHandle target;
  uint8_t directory[MaxEntries * EntryRecordSize];  // slot i = entry i
  int32_t TargetCount;
  int32_t AppendPosition;
};

struct Archive {
  FailureLatch latch;
  ArchiveReader reader;
  ArchiveWriter writer;
  Pc1Cipher cipher;
  Codec codec;
  uint8_t chunk[16384];
};

// Puts a fresh archive state in place: no files open, latch disarmed.
void ResetArchive(Archive& archive);

// --- Failure latch ---
void ArmFailureLatch(Archive& archive, int enable);

// --- Reader ---
// Opens path (null: the running program) as the source archive. Returns the
// handle or InvalidFile; OpenStage tells how far it got.
FileHandle OpenSourceArchive(Archive& archive, const char* path);
// Closes the source, or finishes the target (directory written) and closes it.
void CloseArchiveFile(Archive& archive, FileHandle handle);
// The record of entry index (0 = last in the file) of the open source, or null.
const uint8_t* SourceEntry(const Archive& archive, int32_t index);
// The first record named name; null unless its kind is in kinds.
const uint8_t* FindEntry(const Archive& archive, const char* name, int kinds);
int32_t EntryStoredSize(const Archive& archive, const char* name);
int32_t EntryOriginalSize(const Archive& archive, const char* name);
int EntriesShareData(const Archive& archive, const char* name1, const char* name2);

// Record fields.
inline uint8_t RecordStorage(const uint8_t* record) { return record[EntryStorageAt]; }
int32_t RecordInt(const uint8_t* record, int32_t at);
// The name, NUL-terminated, into a 17-byte buffer.
void RecordName(const uint8_t* record, char* name17);

// --- Writer ---
FileHandle CreateOutputFile(const char* path);
FileHandle CreateTargetArchive(Archive& archive, const char* path);
uint8_t* NextTargetSlot(Archive& archive);
void AddTargetEntry(Archive& archive, const char* name, uint32_t flags, int32_t storedSize, int32_t originalSize,
                    int32_t dataOffset, int32_t markerOffset);
int AliasTargetEntry(Archive& archive, const char* newName, const char* existingName);

// Builder operations for the tool: raw bytes before the entries (the stub),
// entries whose stored bytes were prepared elsewhere, inline entries. Each
// consults and sets the latch like the transfers below.
int AppendTargetBytes(Archive& archive, const uint8_t* data, int32_t size);
int StorePreparedEntry(Archive& archive, const char* name, const uint8_t* stored, int32_t storedSize,
                       int32_t originalSize, uint8_t storage, uint8_t xorByte, int32_t markerOffset);
int StoreInlineEntry(Archive& archive, const char* name, const uint8_t* data, int32_t length);

// --- Entry transfer ---
int CopyEntry(Archive& archive, const char* name, uint32_t flags);
int StoreMemoryEntry(Archive& archive, const uint8_t* data, int32_t size, const char* name, uint32_t flags);
// Content of a regular entry into buffer; never writes more than limit bytes
// (a compressed entry that expands to more fails).
int ExtractEntryToMemory(Archive& archive, const char* name, uint8_t* buffer, int32_t limit);
// Content of an entry (regular or inline) into a new file; a partly written
// file is removed when the transfer fails.
int ExtractEntryToFile(Archive& archive, const char* name, const char* path);

// --- Checking (the tool's verify) ---
enum class EntryProblem : uint8_t { None, OutsideFile, BadBlock, Truncated, SizeMismatch, BadInline };
struct EntryCheck {
  EntryProblem problem;
  int32_t badBlockOffset;  // file offset of the bad block, -1 when none
  int32_t expandedSize;    // bytes the entry expanded to
};
EntryCheck CheckEntry(Archive& archive, const uint8_t* record);
