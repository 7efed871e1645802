// Entry transfer: the plain copy, CopyEntry's choice of transfer and record,
// the stores and extractions, the latch, damaged entries, entry checks.
#include "tests/host/archive_fixture.h"

namespace {

using namespace archive_test;

// An RC-block stream of data, each byte XORed with mask before coding.
Bytes Compressed(const Bytes& data, uint8_t mask = 0) {
  auto codec = std::make_unique<Codec>();
  std::memset(codec.get(), 0, sizeof(Codec));
  Bytes out(size_t(CompressedSizeBound(int32_t(data.size()))));
  SetStreamEndpoints(*codec, data.data(), out.data(), int32_t(out.size()));
  EXPECT_TRUE(CompressStream(*codec, InvalidFile, InvalidFile, int32_t(data.size()), mask));
  out.resize(size_t(StreamTotalWritten(*codec)));
  return out;
}

struct Transfer : testing::Test {
  ScratchDir dir;
  std::unique_ptr<Archive> archive = NewArchive();
  std::string source = dir / "source.bin";
  std::string target = dir / "target.bin";
  Bytes stub = Pattern(64, 99);

  // Writes the source archive: the stub, then whatever add stores.
  template <typename Add>
  void MakeSource(Add add) {
    auto writer = NewArchive();
    ArmFailureLatch(*writer, 1);
    ASSERT_NE(CreateTargetArchive(*writer, source.c_str()), InvalidFile);
    ASSERT_TRUE(AppendTargetBytes(*writer, stub.data(), int32_t(stub.size())));
    add(*writer);
    ASSERT_EQ(writer->latch.Failed, 0);
    CloseArchiveFile(*writer, writer->writer.target);
  }
  // A source archive from hand-made records behind body bytes.
  void MakeRawSource(const Bytes& body, const std::vector<Bytes>& records) {
    WriteAll(source, Concat({body, EncipherDirectory(records)}));
  }
  void OpenBoth() {
    ASSERT_NE(OpenSourceArchive(*archive, source.c_str()), InvalidFile);
    ASSERT_NE(CreateTargetArchive(*archive, target.c_str()), InvalidFile);
  }
  // Closes the target and opens it as the source of a second archive state.
  std::unique_ptr<Archive> ReopenTarget() {
    CloseArchiveFile(*archive, archive->writer.target);
    auto reader = NewArchive();
    EXPECT_NE(OpenSourceArchive(*reader, target.c_str()), InvalidFile);
    return reader;
  }
  Bytes StoredBytes(const Archive& reader, const char* name) {
    const uint8_t* record = FindEntry(reader, name, FindRegular);
    if (!record) return {};
    Bytes file = ReadAll(target);
    auto at = file.begin() + RecordInt(record, EntryDataOffsetAt);
    return Bytes(at, at + RecordInt(record, EntryStoredSizeAt));
  }
};

// --- The plain copy ---

TEST_F(Transfer, PlainCopyMovesSixteenKilobyteChunks) {
  Bytes data = Pattern(40000);
  WriteAll(source, data);
  FileHandle in = FileOpenRead(source.c_str());
  FileHandle out = FileCreate(target.c_str());
  int32_t count = 40000;
  EXPECT_TRUE(PlainCopy(*archive, {in, nullptr}, {out, nullptr, 0}, count, 0));
  EXPECT_EQ(count, 40000);
  FileClose(in);
  FileClose(out);
  EXPECT_EQ(ReadAll(target), data);
  // The buffer shows the chunks: 7232 bytes of the third over the second's tail.
  EXPECT_TRUE(std::equal(archive->chunk, archive->chunk + 7232, data.begin() + 32768));
  EXPECT_TRUE(std::equal(archive->chunk + 7232, archive->chunk + ChunkSize, data.begin() + 16384 + 7232));
}

TEST_F(Transfer, PlainCopyStopsAtTheChunkThatFallsShort) {
  struct Case {
    size_t available;
    int32_t written;
  } cases[] = {{39999, 32768}, {16484, 16384}, {100, 0}};
  for (const auto& c : cases) {
    WriteAll(source, Pattern(c.available));
    FileHandle in = FileOpenRead(source.c_str());
    FileHandle out = FileCreate(target.c_str());
    int32_t count = 40000;
    EXPECT_FALSE(PlainCopy(*archive, {in, nullptr}, {out, nullptr, 0}, count, 0));
    EXPECT_EQ(count, c.written) << c.available;
    FileClose(in);
    FileClose(out);
    EXPECT_EQ(ReadAll(target).size(), size_t(c.written));
  }
}

TEST_F(Transfer, PlainCopyBetweenMemoryBlocksAppliesTheMaskAndKeepsToTheRoom) {
  Bytes data = Pattern(20000);
  Bytes out(20010, 0xEE);
  int32_t count = 20000;
  uint32_t flags = TransferMemorySource | TransferMemoryDestination | 0x5A;
  EXPECT_TRUE(PlainCopy(*archive, {InvalidFile, data.data()}, {InvalidFile, out.data(), 20000}, count, flags));
  EXPECT_EQ(count, 20000);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 20000), Xored(data, 0x5A));
  EXPECT_EQ(out[20000], 0xEE);

  std::fill(out.begin(), out.end(), 0xEE);
  count = 20000;
  EXPECT_FALSE(PlainCopy(*archive, {InvalidFile, data.data()}, {InvalidFile, out.data(), 17000}, count, flags));
  EXPECT_EQ(count, 17000);
  EXPECT_EQ(out[16999], data[16999] ^ 0x5A);
  EXPECT_EQ(out[17000], 0xEE);

  count = -1;
  EXPECT_FALSE(PlainCopy(*archive, {InvalidFile, data.data()}, {InvalidFile, out.data(), 17000}, count, flags));
  EXPECT_EQ(count, 0);
}

// --- CopyEntry ---

TEST_F(Transfer, CopyEntryChoosesTransferAndRecordByFlagsAndStorage) {
  const Bytes content = Pattern(30000, 5);  // three blocks of code
  const uint8_t k = 0x5A;
  const Bytes plainStored = Xored(content, k);
  const Bytes compressedStored = Compressed(content, k);
  enum Stored { Plain, Packed };
  struct Row {
    uint32_t flags;
    Stored entry;
    Bytes expected;
    uint8_t storage, xorByte;
  } rows[] = {
      {TransferExpand | TransferUnmask, Plain, content, StoragePlain, 0},
      {TransferExpand | TransferUnmask, Packed, Xored(content, k), StoragePlain, 0},
      {TransferExpand, Plain, plainStored, StoragePlain, k},
      {TransferExpand, Packed, Xored(content, k), StoragePlain, 0},
      {0, Plain, plainStored, StoragePlain, k},
      {0, Packed, compressedStored, StorageCompressed, k},
      // Unmask never touches the code of a compressed entry.
      {TransferUnmask, Packed, compressedStored, StorageCompressed, k},
      {TransferUnmask, Plain, content, StoragePlain, 0},
  };
  MakeSource([&](Archive& w) {
    ASSERT_TRUE(StorePreparedEntry(w, "PLAIN", plainStored.data(), int32_t(plainStored.size()), 30000, StoragePlain,
                                   k, 77));
    ASSERT_TRUE(StorePreparedEntry(w, "PACKED", compressedStored.data(), int32_t(compressedStored.size()), 30000,
                                   StorageCompressed, k, 88));
  });
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "flags " << std::hex << row.flags << (row.entry == Plain ? " plain" : " packed"));
    ResetArchive(*archive);
    ArmFailureLatch(*archive, 1);
    OpenBoth();
    ASSERT_TRUE(AppendTargetBytes(*archive, stub.data(), 10));
    const char* name = row.entry == Plain ? "plain" : "packed";
    ASSERT_TRUE(CopyEntry(*archive, name, row.flags));
    EXPECT_EQ(archive->writer.AppendPosition, int32_t(10 + row.expected.size()));
    auto reader = ReopenTarget();
    const uint8_t* record = FindEntry(*reader, name, FindRegular);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(StoredBytes(*reader, name), row.expected);
    EXPECT_EQ(RecordInt(record, EntryDataOffsetAt), 10);
    EXPECT_EQ(RecordInt(record, EntryStoredSizeAt), int32_t(row.expected.size()));
    EXPECT_EQ(RecordInt(record, EntryOriginalSizeAt), 30000);
    EXPECT_EQ(RecordInt(record, EntryMarkerOffsetAt), row.entry == Plain ? 77 : 88);
    EXPECT_EQ(record[EntryStorageAt], row.storage);
    EXPECT_EQ(record[EntryXorByteAt], row.xorByte);
  }
}

TEST_F(Transfer, CopyEntryOfAnEmptyEntry) {
  MakeSource([&](Archive& w) { ASSERT_TRUE(StorePreparedEntry(w, "EMPTY", stub.data(), 0, 0, StoragePlain, 0, -1)); });
  OpenBoth();
  ASSERT_TRUE(CopyEntry(*archive, "EMPTY", TransferExpand));
  EXPECT_EQ(archive->writer.AppendPosition, 0);
  auto reader = ReopenTarget();
  EXPECT_EQ(EntryStoredSize(*reader, "EMPTY"), 0);
  EXPECT_EQ(ReadAll(target).size(), 40u);
}

TEST_F(Transfer, CopyEntryNeedsSourceTargetSlotAndEntry) {
  MakeSource([&](Archive& w) { ASSERT_TRUE(StorePreparedEntry(w, "ZETT", stub.data(), 5, 5, StoragePlain, 0, -1)); });
  ArmFailureLatch(*archive, 1);
  EXPECT_FALSE(CopyEntry(*archive, "ZETT", 0));  // nothing open
  EXPECT_EQ(archive->latch.Failed, 0x7FFF);

  ArmFailureLatch(*archive, 1);
  OpenBoth();
  EXPECT_FALSE(CopyEntry(*archive, "KMDL", TransferExpand));  // missing
  EXPECT_EQ(archive->latch.Failed, 0x7FFF);

  ArmFailureLatch(*archive, 1);
  for (int i = 0; i < MaxEntries; ++i) ASSERT_TRUE(CopyEntry(*archive, "ZETT", 0));
  EXPECT_FALSE(CopyEntry(*archive, "ZETT", 0));  // directory full
  EXPECT_EQ(archive->latch.Failed, 0x7FFF);
  EXPECT_EQ(archive->writer.AppendPosition, 5 * MaxEntries);
}

TEST_F(Transfer, ShortWriteFailsTheCopyAndRecordsNothing) {
  if (!Exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  Bytes data = Pattern(1000);
  MakeSource([&](Archive& w) { ASSERT_TRUE(StorePreparedEntry(w, "SAVER", data.data(), 1000, 1000, StoragePlain, 0, -1)); });
  ArmFailureLatch(*archive, 1);
  ASSERT_NE(OpenSourceArchive(*archive, source.c_str()), InvalidFile);
  ASSERT_NE(CreateTargetArchive(*archive, "/dev/full"), InvalidFile);
  EXPECT_FALSE(CopyEntry(*archive, "SAVER", TransferExpand | TransferUnmask));
  EXPECT_EQ(archive->latch.Failed, 0x7FFF);
  EXPECT_EQ(archive->writer.TargetCount, 0);
  EXPECT_EQ(archive->writer.AppendPosition, 0);
}

// --- StoreMemoryEntry ---

TEST_F(Transfer, StoreMemoryEntryCompressesTheSettingsRecord) {
  Bytes info = Pattern(5640, 3);
  std::fill(info.begin() + 100, info.begin() + 3000, 0);  // mostly empty, as a settings record is
  MakeSource([&](Archive& w) { ASSERT_TRUE(StorePreparedEntry(w, "SAVER", stub.data(), 9, 9, StoragePlain, 0, -1)); });
  OpenBoth();
  ASSERT_TRUE(CopyEntry(*archive, "SAVER", TransferExpand | TransferUnmask));
  ASSERT_TRUE(StoreMemoryEntry(*archive, info.data(), 5640, "INFO", TransferCompress));
  int32_t written = archive->writer.AppendPosition - 9;
  auto reader = ReopenTarget();
  const uint8_t* record = FindEntry(*reader, "INFO", FindRegular);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record[EntryStorageAt], StorageCompressed);
  EXPECT_EQ(record[EntryXorByteAt], 0);
  EXPECT_EQ(RecordInt(record, EntryDataOffsetAt), 9);
  EXPECT_EQ(RecordInt(record, EntryStoredSizeAt), written);
  EXPECT_LT(written, 5640);
  EXPECT_EQ(RecordInt(record, EntryOriginalSizeAt), 5640);
  EXPECT_EQ(RecordInt(record, EntryMarkerOffsetAt), -1);
  Bytes back(5640);
  ASSERT_TRUE(ExtractEntryToMemory(*reader, "INFO", back.data(), 5640));
  EXPECT_EQ(back, info);
}

TEST_F(Transfer, StoreMemoryEntryPlainKeepsTheMask) {
  Bytes data = Pattern(300);
  ASSERT_NE(CreateTargetArchive(*archive, target.c_str()), InvalidFile);
  ASSERT_TRUE(StoreMemoryEntry(*archive, data.data(), 300, "NOTE", 0x33));
  auto reader = ReopenTarget();
  EXPECT_EQ(StoredBytes(*reader, "NOTE"), Xored(data, 0x33));
  EXPECT_EQ(FindEntry(*reader, "NOTE", FindRegular)[EntryXorByteAt], 0x33);
  Bytes back(300);
  ASSERT_TRUE(ExtractEntryToMemory(*reader, "NOTE", back.data(), 300));
  EXPECT_EQ(back, data);
}

TEST_F(Transfer, StoreMemoryEntryWithoutTargetOrSlotDoesNotLatch) {
  Bytes data = Pattern(10);
  ArmFailureLatch(*archive, 1);
  EXPECT_FALSE(StoreMemoryEntry(*archive, data.data(), 10, "INFO", TransferCompress));
  EXPECT_EQ(archive->latch.Failed, 0);
  ASSERT_NE(CreateTargetArchive(*archive, target.c_str()), InvalidFile);
  for (int i = 0; i < MaxEntries; ++i) ASSERT_TRUE(StoreMemoryEntry(*archive, data.data(), 10, "X", 0));
  EXPECT_FALSE(StoreMemoryEntry(*archive, data.data(), 10, "INFO", 0));
  EXPECT_EQ(archive->latch.Failed, 0);
  EXPECT_EQ(archive->writer.AppendPosition, 10 * MaxEntries);
}

// --- Extraction ---

struct Extract : Transfer {
  Bytes content = Pattern(30000, 8);
  Bytes hundred = Pattern(100, 9);
  void SetUp() override {
    MakeSource([&](Archive& w) {
      Bytes masked = Xored(hundred, 0x5A);
      ASSERT_TRUE(StorePreparedEntry(w, "HUNDRED", masked.data(), 100, 100, StoragePlain, 0x5A, -1));
      Bytes packed = Compressed(content);
      ASSERT_TRUE(StorePreparedEntry(w, "PACKED", packed.data(), int32_t(packed.size()), 30000, StorageCompressed,
                                     0, -1));
      ASSERT_TRUE(StoreInlineEntry(w, "SMALL", hundred.data(), 5));
    });
    ArmFailureLatch(*archive, 1);
    ASSERT_NE(OpenSourceArchive(*archive, source.c_str()), InvalidFile);
  }
};

TEST_F(Extract, PlainEntryToMemoryIsCutAtTheLimit) {
  Bytes buffer(100, 0xEE);
  ASSERT_TRUE(ExtractEntryToMemory(*archive, "HUNDRED", buffer.data(), 60));
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 60), Bytes(hundred.begin(), hundred.begin() + 60));
  EXPECT_EQ(buffer[60], 0xEE);
  ASSERT_TRUE(ExtractEntryToMemory(*archive, "hundred", buffer.data(), 100));
  EXPECT_EQ(buffer, hundred);
  EXPECT_FALSE(ExtractEntryToMemory(*archive, "HUNDRED", buffer.data(), -1));
}

TEST_F(Extract, CompressedEntryToMemoryNeverPassesTheBuffer) {
  Bytes buffer(30016, 0xEE);
  ASSERT_TRUE(ExtractEntryToMemory(*archive, "PACKED", buffer.data(), 30000));
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 30000), content);
  EXPECT_EQ(buffer[30000], 0xEE);

  std::fill(buffer.begin(), buffer.end(), 0xEE);
  EXPECT_FALSE(ExtractEntryToMemory(*archive, "PACKED", buffer.data(), 29999));
  EXPECT_EQ(archive->latch.Failed, 0x7FFF);
  EXPECT_TRUE(std::all_of(buffer.begin() + 29999, buffer.end(), [](uint8_t b) { return b == 0xEE; }));
}

TEST_F(Extract, InlineEntriesAreReadOnlyIntoFiles) {
  Bytes buffer(16);
  EXPECT_FALSE(ExtractEntryToMemory(*archive, "SMALL", buffer.data(), 16));
  ArmFailureLatch(*archive, 1);
  std::string out = dir / "small.txt";
  ASSERT_TRUE(ExtractEntryToFile(*archive, "small", out.c_str()));
  EXPECT_EQ(ReadAll(out), Bytes(hundred.begin(), hundred.begin() + 5));
}

TEST_F(Extract, EntriesToFilesHoldTheirContent) {
  std::string out = dir / "out.bin";
  ASSERT_TRUE(ExtractEntryToFile(*archive, "PACKED", out.c_str()));
  EXPECT_EQ(ReadAll(out), content);
  WriteAll(out, Pattern(5000));  // an existing file is replaced
  ASSERT_TRUE(ExtractEntryToFile(*archive, "HUNDRED", out.c_str()));
  EXPECT_EQ(ReadAll(out), hundred);
}

TEST_F(Extract, MissingEntryCreatesNoFile) {
  std::string out = dir / "LESMI.txt";
  EXPECT_FALSE(ExtractEntryToFile(*archive, "LESMI", out.c_str()));
  EXPECT_FALSE(Exists(out));
  EXPECT_EQ(archive->latch.Failed, 0x7FFF);
  ArmFailureLatch(*archive, 1);
  EXPECT_FALSE(ExtractEntryToFile(*archive, "HUNDRED", nullptr));
  EXPECT_EQ(archive->latch.Failed, 0x7FFF);
}

TEST_F(Extract, FailedExpansionRemovesThePartlyWrittenFile) {
  // Damage the last block of the body: the first blocks expand and are written.
  Bytes file = ReadAll(source);
  const uint8_t* record = FindEntry(*archive, "PACKED", FindRegular);
  int32_t end = RecordInt(record, EntryDataOffsetAt) + RecordInt(record, EntryStoredSizeAt);
  file[size_t(end - 3)] ^= 0xFF;
  WriteAll(source, file);
  ASSERT_NE(OpenSourceArchive(*archive, source.c_str()), InvalidFile);
  std::string out = dir / "out.bin";
  EXPECT_FALSE(ExtractEntryToFile(*archive, "PACKED", out.c_str()));
  EXPECT_FALSE(Exists(out));
  EXPECT_EQ(archive->latch.Failed, 0x7FFF);
}

TEST_F(Extract, FailedPlainCopyRemovesThePartlyWrittenFile) {
  Bytes big = Pattern(40000);
  MakeSource([&](Archive& w) { ASSERT_TRUE(StorePreparedEntry(w, "BIG", big.data(), 40000, 40000, StoragePlain, 0, -1)); });
  ASSERT_NE(OpenSourceArchive(*archive, source.c_str()), InvalidFile);
  std::filesystem::resize_file(source, 64 + 20000);  // the file shrinks after it was opened
  std::string out = dir / "big.bin";
  EXPECT_FALSE(ExtractEntryToFile(*archive, "BIG", out.c_str()));
  EXPECT_FALSE(Exists(out));
}

// Inline entries with lengths that are no lengths write empty files.
TEST_F(Transfer, InlineLengthOutsideZeroToSixteenGivesAnEmptyFile) {
  std::vector<Bytes> records = {MakeRecord({.name = "SAVER", .storedSize = 0, .leadByte = 4})};
  for (uint8_t lead : {0, 20, 0x80}) {
    Bytes inlineRecord = MakeRecord({.name = "DOC" + std::to_string(lead), .storage = StorageInline, .leadByte = lead});
    std::fill(inlineRecord.begin() + InlineDataAt, inlineRecord.begin() + InlineDataAt + 12, 'x');
    records.push_back(inlineRecord);
  }
  MakeRawSource({}, records);
  ArmFailureLatch(*archive, 1);
  ASSERT_NE(OpenSourceArchive(*archive, source.c_str()), InvalidFile);
  for (const char* name : {"DOC0", "DOC20", "DOC128"}) {
    std::string out = dir / name;
    EXPECT_TRUE(ExtractEntryToFile(*archive, name, out.c_str())) << name;
    EXPECT_TRUE(Exists(out));
    EXPECT_EQ(ReadAll(out).size(), 0u);
  }
  EXPECT_EQ(archive->latch.Failed, 0);
}

// --- Damaged records ---

TEST_F(Transfer, EntriesOutsideTheFileFailCleanly) {
  Bytes body = Pattern(1000);
  struct Case {
    const char* name;
    int32_t offset, size;
  } cases[] = {
      {"NEGOFFSET", -10, 20}, {"NEGSIZE", 10, -20}, {"PASTEND", 900, 500}, {"WRAPS", 0x7FFFFFF0, 0x100},
  };
  std::vector<Bytes> records = {MakeRecord({.name = "GOOD", .dataOffset = 0, .storedSize = 10, .originalSize = 10,
                                            .leadByte = 5})};
  for (const auto& c : cases)
    records.push_back(MakeRecord({.name = c.name, .dataOffset = c.offset, .storedSize = c.size, .originalSize = 1}));
  MakeRawSource(body, records);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (uint8_t storage : {StoragePlain, StorageCompressed}) {
      ResetArchive(*archive);
      ArmFailureLatch(*archive, 1);
      OpenBoth();
      // The record as found, with the storage under test.
      uint8_t* record = const_cast<uint8_t*>(FindEntry(*archive, c.name, FindRegular));
      ASSERT_NE(record, nullptr);
      record[EntryStorageAt] = storage;
      EXPECT_FALSE(CopyEntry(*archive, c.name, TransferExpand));
      EXPECT_EQ(archive->latch.Failed, 0x7FFF);
      EXPECT_EQ(archive->writer.AppendPosition, 0);
      EXPECT_EQ(archive->writer.TargetCount, 0);

      ArmFailureLatch(*archive, 1);
      Bytes buffer(64, 0xEE);
      EXPECT_FALSE(ExtractEntryToMemory(*archive, c.name, buffer.data(), 64));
      EXPECT_EQ(archive->latch.Failed, 0x7FFF);
      EXPECT_EQ(buffer, Bytes(64, 0xEE));

      ArmFailureLatch(*archive, 1);
      std::string out = dir / "out.bin";
      EXPECT_FALSE(ExtractEntryToFile(*archive, c.name, out.c_str()));
      EXPECT_FALSE(Exists(out));
      EXPECT_EQ(archive->latch.Failed, 0x7FFF);

      EXPECT_EQ(CheckEntry(*archive, record).problem, EntryProblem::OutsideFile);
      CloseArchiveFile(*archive, archive->writer.target);
    }
  }
}

TEST_F(Transfer, ExpansionReadsNoFurtherThanTheStoredSize) {
  Bytes content = Pattern(25000, 4);
  Bytes packed = Compressed(content);
  // The whole stream is in the file, but the record claims 10 bytes less.
  MakeSource([&](Archive& w) {
    ASSERT_TRUE(StorePreparedEntry(w, "CUT", packed.data(), int32_t(packed.size()) - 10, 25000, StorageCompressed, 0,
                                   -1));
    ASSERT_TRUE(AppendTargetBytes(w, packed.data() + packed.size() - 10, 10));
    ASSERT_TRUE(StorePreparedEntry(w, "WHOLE", packed.data(), int32_t(packed.size()), 25000, StorageCompressed, 0, -1));
  });
  ArmFailureLatch(*archive, 1);
  ASSERT_NE(OpenSourceArchive(*archive, source.c_str()), InvalidFile);
  Bytes buffer(25000);
  EXPECT_FALSE(ExtractEntryToMemory(*archive, "CUT", buffer.data(), 25000));
  ArmFailureLatch(*archive, 1);
  EXPECT_TRUE(ExtractEntryToMemory(*archive, "WHOLE", buffer.data(), 25000));
  EXPECT_EQ(buffer, content);
  EXPECT_NE(CheckEntry(*archive, FindEntry(*archive, "CUT", FindRegular)).problem, EntryProblem::None);
}

// --- The latch ---

TEST_F(Transfer, EverythingIsANoOpWhileFailedIsSet) {
  Bytes data = Pattern(100);
  MakeSource([&](Archive& w) {
    ASSERT_TRUE(StorePreparedEntry(w, "SAVER", data.data(), 100, 100, StoragePlain, 0, -1));
    ASSERT_TRUE(StoreInlineEntry(w, "DOC", data.data(), 3));
  });
  ArmFailureLatch(*archive, 1);
  OpenBoth();
  ASSERT_TRUE(CopyEntry(*archive, "SAVER", 0));
  archive->latch.Failed = 0x7FFF;
  Bytes before(archive->writer.directory, archive->writer.directory + sizeof archive->writer.directory);
  Bytes buffer(100, 0xEE);
  std::string out = dir / "out.bin";

  EXPECT_FALSE(CopyEntry(*archive, "SAVER", TransferExpand));
  EXPECT_FALSE(StoreMemoryEntry(*archive, data.data(), 100, "INFO", TransferCompress));
  EXPECT_FALSE(ExtractEntryToMemory(*archive, "SAVER", buffer.data(), 100));
  EXPECT_FALSE(ExtractEntryToFile(*archive, "SAVER", out.c_str()));
  EXPECT_FALSE(ExtractEntryToFile(*archive, "DOC", out.c_str()));
  EXPECT_FALSE(AliasTargetEntry(*archive, "PREVIEWF", "SAVER"));
  EXPECT_FALSE(AppendTargetBytes(*archive, data.data(), 10));
  EXPECT_FALSE(StorePreparedEntry(*archive, "P", data.data(), 10, 10, StoragePlain, 0, -1));
  EXPECT_FALSE(StoreInlineEntry(*archive, "I", data.data(), 3));

  EXPECT_EQ(archive->latch.Failed, 0x7FFF);
  EXPECT_EQ(archive->writer.AppendPosition, 100);
  EXPECT_EQ(archive->writer.TargetCount, 1);
  EXPECT_EQ(Bytes(archive->writer.directory, archive->writer.directory + sizeof archive->writer.directory), before);
  EXPECT_EQ(buffer, Bytes(100, 0xEE));
  EXPECT_FALSE(Exists(out));
  // Look-ups and closing still work.
  EXPECT_EQ(EntryStoredSize(*archive, "SAVER"), 100);
  CloseArchiveFile(*archive, archive->writer.target);
  EXPECT_EQ(ReadAll(target).size(), 140u);
}

TEST_F(Transfer, FailuresLatchOnlyWhileArmed) {
  MakeSource([&](Archive& w) { ASSERT_TRUE(StorePreparedEntry(w, "SAVER", stub.data(), 10, 10, StoragePlain, 0, -1)); });
  OpenBoth();
  Bytes buffer(10);
  std::string out = dir / "out.bin";
  EXPECT_FALSE(CopyEntry(*archive, "ZETT", 0));
  EXPECT_FALSE(ExtractEntryToMemory(*archive, "ZETT", buffer.data(), 10));
  EXPECT_FALSE(ExtractEntryToFile(*archive, "ZETT", out.c_str()));
  EXPECT_EQ(archive->latch.Failed, 0);
  EXPECT_TRUE(CopyEntry(*archive, "SAVER", 0));  // nothing latched, so the next copy runs

  ArmFailureLatch(*archive, 1);
  EXPECT_EQ(archive->latch.LatchMask, 0x7FFF);
  EXPECT_FALSE(CopyEntry(*archive, "ZETT", 0));
  EXPECT_EQ(archive->latch.Failed, 0x7FFF);
  EXPECT_FALSE(CopyEntry(*archive, "SAVER", 0));  // latched: skipped
  ArmFailureLatch(*archive, 1);                  // clears Failed, stays armed
  EXPECT_EQ(archive->latch.Failed, 0);
  EXPECT_TRUE(CopyEntry(*archive, "SAVER", 0));
  ArmFailureLatch(*archive, 0);
  EXPECT_EQ(archive->latch.LatchMask, 0);
  EXPECT_FALSE(CopyEntry(*archive, "ZETT", 0));
  EXPECT_EQ(archive->latch.Failed, 0);
}

// --- Entry checks ---

TEST_F(Transfer, CheckEntryFindsEachProblem) {
  Bytes content = Pattern(25000, 6);
  Bytes packed = Compressed(content);
  Bytes damaged = packed;
  damaged[10 + 6 + 100] ^= 0x01;  // inside block 2
  Bytes truncated(packed.begin(), packed.end() - 200);
  MakeSource([&](Archive& w) {
    ASSERT_TRUE(StorePreparedEntry(w, "GOOD", packed.data(), int32_t(packed.size()), 25000, StorageCompressed, 0, -1));
    ASSERT_TRUE(StorePreparedEntry(w, "BAD", damaged.data(), int32_t(damaged.size()), 25000, StorageCompressed, 0, -1));
    ASSERT_TRUE(StorePreparedEntry(w, "CUT", truncated.data(), int32_t(truncated.size()), 25000, StorageCompressed,
                                   0, -1));
    ASSERT_TRUE(StorePreparedEntry(w, "SIZE", packed.data(), int32_t(packed.size()), 24999, StorageCompressed, 0, -1));
    ASSERT_TRUE(StorePreparedEntry(w, "PLAIN", content.data(), 100, 100, StoragePlain, 0, -1));
    ASSERT_TRUE(StorePreparedEntry(w, "PLAINSIZE", content.data(), 100, 101, StoragePlain, 0, -1));
    ASSERT_TRUE(StoreInlineEntry(w, "INLINE", content.data(), 7));
  });
  ASSERT_NE(OpenSourceArchive(*archive, source.c_str()), InvalidFile);
  auto check = [&](const char* name) { return CheckEntry(*archive, FindEntry(*archive, name, 3)); };

  EntryCheck good = check("GOOD");
  EXPECT_EQ(good.problem, EntryProblem::None);
  EXPECT_EQ(good.expandedSize, 25000);
  EXPECT_EQ(good.badBlockOffset, -1);

  EntryCheck bad = check("BAD");
  EXPECT_EQ(bad.problem, EntryProblem::BadBlock);
  int32_t badStart = RecordInt(FindEntry(*archive, "BAD", 1), EntryDataOffsetAt);
  EXPECT_EQ(bad.badBlockOffset, badStart + 10);  // block 2 starts behind the 10-byte block 1

  EXPECT_NE(check("CUT").problem, EntryProblem::None);
  EXPECT_EQ(check("SIZE").problem, EntryProblem::SizeMismatch);
  EXPECT_EQ(check("SIZE").expandedSize, 25000);
  EXPECT_EQ(check("PLAIN").problem, EntryProblem::None);
  EXPECT_EQ(check("PLAINSIZE").problem, EntryProblem::SizeMismatch);
  EXPECT_EQ(check("INLINE").problem, EntryProblem::None);
  EXPECT_EQ(check("INLINE").expandedSize, 7);

  Bytes badInline = MakeRecord({.name = "X", .storage = StorageInline, .leadByte = 17});
  EXPECT_EQ(CheckEntry(*archive, badInline.data()).problem, EntryProblem::BadInline);
  badInline[EntryLeadByteAt] = 0xFF;
  EXPECT_EQ(CheckEntry(*archive, badInline.data()).problem, EntryProblem::BadInline);
}

// --- Round trip ---

TEST_F(Transfer, ArchiveCopiedEntryByEntryReadsBackIdentically) {
  Bytes saver = Pattern(50000, 11), movie = Pattern(12345, 12), info = Pattern(5640, 13), empty;
  Bytes packedMovie = Compressed(movie, 0x11);
  MakeSource([&](Archive& w) {
    Bytes maskedSaver = Xored(saver, 0x5A);
    ASSERT_TRUE(StorePreparedEntry(w, "SAVER", maskedSaver.data(), 50000, 50000, StoragePlain, 0x5A, 1000));
    ASSERT_TRUE(StorePreparedEntry(w, "MOVIE", packedMovie.data(), int32_t(packedMovie.size()), 12345,
                                   StorageCompressed, 0x11, 44));
    ASSERT_TRUE(AliasTargetEntry(w, "PREVIEWF", "MOVIE"));
    ASSERT_TRUE(StoreMemoryEntry(w, info.data(), 5640, "INFO", TransferCompress));
    ASSERT_TRUE(StoreMemoryEntry(w, empty.data(), 0, "EMPTY", 0));
    ASSERT_TRUE(StoreInlineEntry(w, "LESMI", info.data(), 9));
  });
  ArmFailureLatch(*archive, 1);
  OpenBoth();
  for (int32_t i = 0; i < archive->reader.SourceCount; ++i) {
    const uint8_t* record = SourceEntry(*archive, i);
    std::string name = NameOf(record);
    if (RecordStorage(record) == StorageInline) {
      uint8_t data[16];
      int32_t length = ReadInlineEntry(record, data);
      ASSERT_TRUE(StoreInlineEntry(*archive, name.c_str(), data, length));
    } else if (name == "PREVIEWF") {
      ASSERT_TRUE(AliasTargetEntry(*archive, "PREVIEWF", "MOVIE"));
    } else {
      ASSERT_TRUE(CopyEntry(*archive, name.c_str(), 0)) << name;
    }
  }
  Bytes sourceFile = ReadAll(source);
  auto copy = ReopenTarget();
  Bytes copyFile = ReadAll(target);
  // Same directory, same stored bytes (the stub aside).
  auto first = NewArchive();
  ASSERT_NE(OpenSourceArchive(*first, source.c_str()), InvalidFile);
  ASSERT_EQ(copy->reader.SourceCount, first->reader.SourceCount);
  for (int32_t i = 0; i < first->reader.SourceCount; ++i) {
    Bytes a(SourceEntry(*first, i), SourceEntry(*first, i) + EntryRecordSize);
    Bytes b(SourceEntry(*copy, i), SourceEntry(*copy, i) + EntryRecordSize);
    if (a[EntryStorageAt] != StorageInline) PutInt(a.data(), EntryDataOffsetAt, RecordInt(a.data(), EntryDataOffsetAt) - 64);
    EXPECT_EQ(a, b) << NameOf(a.data());
  }
  EXPECT_EQ(Bytes(sourceFile.begin() + 64, sourceFile.end() - 240), Bytes(copyFile.begin(), copyFile.end() - 240));
  // And the content comes back.
  Bytes buffer(50000);
  ASSERT_TRUE(ExtractEntryToMemory(*copy, "SAVER", buffer.data(), 50000));
  EXPECT_EQ(buffer, saver);
  buffer.assign(12345, 0);
  ASSERT_TRUE(ExtractEntryToMemory(*copy, "PREVIEWF", buffer.data(), 12345));
  EXPECT_EQ(buffer, Xored(movie, 0x11));
  buffer.assign(5640, 0);
  ASSERT_TRUE(ExtractEntryToMemory(*copy, "INFO", buffer.data(), 5640));
  EXPECT_EQ(buffer, info);
  for (int32_t i = 0; i < copy->reader.SourceCount; ++i)
    EXPECT_EQ(CheckEntry(*copy, SourceEntry(*copy, i)).problem, EntryProblem::None) << i;
}

}  // namespace
