// The archive reader (directory found by trial, look-ups, the latch) and the
// writer (records, aliases, the enciphered directory).
#include "tests/host/archive_fixture.h"

namespace {

using namespace archive_test;

// Writes a target holding one plain entry per name, with distinct sizes.
void WriteArchive(Archive& archive, const std::string& path, const std::vector<std::string>& names,
                  const Bytes& stub = {}) {
  ASSERT_NE(CreateTargetArchive(archive, path.c_str()), InvalidFile);
  if (!stub.empty()) {
    ASSERT_TRUE(AppendTargetBytes(archive, stub.data(), int32_t(stub.size())));
  }
  for (size_t i = 0; i < names.size(); ++i) {
    Bytes data = Pattern(10 + i, uint32_t(i));
    ASSERT_TRUE(StorePreparedEntry(archive, names[i].c_str(), data.data(), int32_t(data.size()),
                                   int32_t(data.size()), StoragePlain, 0, -1));
  }
  CloseArchiveFile(archive, archive.writer.target);
}

std::vector<std::string> Names(int count) {
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) names.push_back("E" + std::to_string(i));
  return names;
}

struct Reader : testing::Test {
  ScratchDir dir;
  std::unique_ptr<Archive> archive = NewArchive();
  std::string path = dir / "archive.bin";
};

TEST_F(Reader, FileShorterThanOneRecordHasNoDirectory) {
  for (size_t size : {0, 1, 39}) {
    WriteAll(path, Bytes(size, 0x45));
    EXPECT_EQ(OpenSourceArchive(*archive, path.c_str()), InvalidFile);
    EXPECT_EQ(archive->reader.OpenStage, StageNoDirectory) << size;
  }
}

TEST_F(Reader, MissingFileStopsAtStageOneAndLatchesWhenArmed) {
  WriteArchive(*archive, path, {"A"});
  std::string missing = dir / "missing.bin";
  EXPECT_EQ(OpenSourceArchive(*archive, missing.c_str()), InvalidFile);
  EXPECT_EQ(archive->reader.OpenStage, StageOpenFailed);
  EXPECT_EQ(archive->latch.Failed, 0);  // disarmed: failures do not count
  ArmFailureLatch(*archive, 1);
  EXPECT_EQ(OpenSourceArchive(*archive, missing.c_str()), InvalidFile);
  EXPECT_EQ(archive->latch.Failed, 0x7FFF);
  // Latched: nothing is opened, even a good file.
  EXPECT_EQ(OpenSourceArchive(*archive, path.c_str()), InvalidFile);
  EXPECT_EQ(archive->reader.OpenStage, StageLatched);
}

TEST_F(Reader, DirectoryOfNEntriesIsFoundAtAttemptN) {
  for (int count : {1, 2, 5, 31, 32}) {
    WriteArchive(*archive, path, Names(count), Pattern(77));
    FileHandle source = OpenSourceArchive(*archive, path.c_str());
    ASSERT_NE(source, InvalidFile) << count;
    EXPECT_EQ(archive->reader.OpenStage, StageNoDirectory);
    EXPECT_EQ(archive->reader.SourceCount, count);
    // Every earlier attempt was undone: all records read back intact.
    for (int i = 0; i < count; ++i) EXPECT_EQ(NameOf(SourceEntry(*archive, i)), "E" + std::to_string(i));
    EXPECT_EQ(SourceEntry(*archive, count), nullptr);
    EXPECT_EQ(SourceEntry(*archive, -1), nullptr);
    CloseArchiveFile(*archive, source);
    EXPECT_EQ(archive->reader.source, InvalidFile);
  }
}

// 80 bytes whose last record deciphers on its own to a one-entry directory,
// while all 80 decipher to a two-entry directory as well.
const Bytes TwoCandidates = {
    0x5B, 0x72, 0x1D, 0xFD, 0x0E, 0x8F, 0x71, 0x94, 0x5E, 0x15, 0xA6, 0xBE, 0xD2, 0x71, 0xB9, 0xE7,
    0x71, 0xFC, 0x53, 0x97, 0x49, 0x44, 0x55, 0xCA, 0x7B, 0x1D, 0x43, 0xB7, 0x1A, 0x88, 0x32, 0xBC,
    0xCA, 0x84, 0x93, 0xB5, 0xDE, 0xFF, 0x1A, 0x2F, 0xD6, 0x99, 0xC8, 0x56, 0xB8, 0x83, 0x7A, 0x2A,
    0x0D, 0xB0, 0x0F, 0x2D, 0xD5, 0x0A, 0x99, 0x8D, 0x10, 0x00, 0x39, 0xAE, 0xC8, 0x88, 0xBF, 0x69,
    0xBA, 0x36, 0x26, 0x71, 0x6C, 0xE2, 0x6F, 0x88, 0x3A, 0x10, 0x81, 0x5E, 0x8D, 0x2C, 0xC6, 0x61,
};

TEST_F(Reader, SmallerEntryCountWins) {
  ASSERT_EQ(TwoCandidates.size(), 80u);
  auto asTwo = DecipherDirectory(TwoCandidates, 2);
  ASSERT_EQ(asTwo[0][EntryLeadByteAt], 2);  // the larger directory is valid too
  ASSERT_EQ(RecordInt(asTwo[0].data(), EntryMagicAt), int32_t(EntryMagic));
  WriteAll(path, Concat({Pattern(100), TwoCandidates}));
  ASSERT_NE(OpenSourceArchive(*archive, path.c_str()), InvalidFile);
  EXPECT_EQ(archive->reader.SourceCount, 1);
}

TEST_F(Reader, MoreThan32EntriesAreNeverFound) {
  auto records = [](int count) {
    std::vector<Bytes> entries;
    for (int i = 0; i < count; ++i) entries.push_back(MakeRecord({.name = "R" + std::to_string(i)}));
    entries[0][EntryLeadByteAt] = uint8_t(count);
    return entries;
  };
  WriteAll(path, EncipherDirectory(records(33)));
  EXPECT_EQ(OpenSourceArchive(*archive, path.c_str()), InvalidFile);
  EXPECT_EQ(archive->reader.OpenStage, StageNoDirectory);
  WriteAll(path, EncipherDirectory(records(32)));
  EXPECT_NE(OpenSourceArchive(*archive, path.c_str()), InvalidFile);
  EXPECT_EQ(archive->reader.SourceCount, 32);
}

TEST_F(Reader, CountBeyondTheFileIsNeverFound) {
  // One record that claims three entries: the file holds no room for them.
  auto entry = MakeRecord({.name = "ONLY", .leadByte = 3});
  WriteAll(path, EncipherDirectory({entry}));
  EXPECT_EQ(OpenSourceArchive(*archive, path.c_str()), InvalidFile);
  EXPECT_EQ(archive->reader.OpenStage, StageNoDirectory);
  // A negative count is no count either.
  entry[EntryLeadByteAt] = 0xFF;
  WriteAll(path, EncipherDirectory({entry}));
  EXPECT_EQ(OpenSourceArchive(*archive, path.c_str()), InvalidFile);
}

TEST_F(Reader, FailedOpenKeepsTheLastDirectory) {
  WriteArchive(*archive, path, {"SAVER", "INFO"});
  ASSERT_NE(OpenSourceArchive(*archive, path.c_str()), InvalidFile);
  std::string junk = dir / "junk.bin";
  WriteAll(junk, Pattern(400));
  EXPECT_EQ(OpenSourceArchive(*archive, junk.c_str()), InvalidFile);
  EXPECT_EQ(archive->reader.source, InvalidFile);  // the first source was closed
  EXPECT_EQ(archive->reader.SourceCount, 2);
  EXPECT_EQ(EntryStoredSize(*archive, "INFO"), 11);
}

TEST_F(Reader, RunningProgramIsOpenedForANullPath) {
  // The test binary carries no archive: it is read, and no directory is found.
  EXPECT_EQ(OpenSourceArchive(*archive, nullptr), InvalidFile);
  EXPECT_EQ(archive->reader.OpenStage, StageNoDirectory);
}

struct Lookups : Reader {
  void SetUp() override {
    // Entry 0 "INFO", entry 1 inline "DOC", entry 2 regular "DOC", entry 3
    // "MOVIE" and entry 4 "PREVIEWF" over the same bytes, entry 5 a 16-character name.
    std::vector<Bytes> entries = {
        MakeRecord({.name = "INFO", .dataOffset = 0, .storedSize = 10, .originalSize = 20, .leadByte = 6}),
        MakeRecord({.name = "DOC", .storage = StorageInline, .leadByte = 2}),
        MakeRecord({.name = "Doc", .dataOffset = 10, .storedSize = 5, .originalSize = 5}),
        MakeRecord({.name = "MOVIE", .storage = StorageCompressed, .dataOffset = 15, .storedSize = 3,
                    .originalSize = 9}),
        MakeRecord({.name = "PREVIEWF", .storage = StorageCompressed, .dataOffset = 15, .storedSize = 3,
                    .originalSize = 9}),
        MakeRecord({.name = "SIXTEENCHARSLONG", .dataOffset = 1, .storedSize = 1, .originalSize = 1}),
    };
    WriteAll(path, Concat({Pattern(18), EncipherDirectory(entries)}));
    ASSERT_NE(OpenSourceArchive(*archive, path.c_str()), InvalidFile);
    ASSERT_EQ(archive->reader.SourceCount, 6);
  }
};

TEST_F(Lookups, NamesAreComparedWithoutLetterCase) {
  EXPECT_NE(FindEntry(*archive, "info", FindRegular), nullptr);
  EXPECT_EQ(FindEntry(*archive, "info", FindRegular), FindEntry(*archive, "INFO", FindRegular));
  EXPECT_EQ(EntryStoredSize(*archive, "Info"), 10);
  EXPECT_EQ(EntryOriginalSize(*archive, "iNfO"), 20);
  EXPECT_EQ(FindEntry(*archive, "INF", 3), nullptr);
  EXPECT_EQ(FindEntry(*archive, "INFOX", 3), nullptr);
  EXPECT_EQ(FindEntry(*archive, "INFO", 0), nullptr);
}

TEST_F(Lookups, FirstRecordOfANameDecides) {
  EXPECT_EQ(FindEntry(*archive, "doc", FindRegular), nullptr);
  const uint8_t* found = FindEntry(*archive, "doc", FindInline);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(RecordStorage(found), StorageInline);
  EXPECT_EQ(FindEntry(*archive, "DOC", FindRegular | FindInline), found);
  EXPECT_EQ(EntryStoredSize(*archive, "DOC"), -1);
}

TEST_F(Lookups, MissingNamesGiveMinusOneAndFalse) {
  ArmFailureLatch(*archive, 1);
  EXPECT_EQ(FindEntry(*archive, "ZETT", 3), nullptr);
  EXPECT_EQ(EntryStoredSize(*archive, "ZETT"), -1);
  EXPECT_EQ(EntryOriginalSize(*archive, "ZETT"), -1);
  EXPECT_TRUE(EntriesShareData(*archive, "MOVIE", "previewf"));
  EXPECT_FALSE(EntriesShareData(*archive, "MOVIE", "ZETT"));
  EXPECT_FALSE(EntriesShareData(*archive, "ZETT", "MOVIE"));
  EXPECT_FALSE(EntriesShareData(*archive, "MOVIE", "INFO"));
  EXPECT_FALSE(EntriesShareData(*archive, "DOC", "DOC"));  // inline entries have no data offset
  EXPECT_EQ(archive->latch.Failed, 0);                       // look-ups never latch
}

TEST_F(Lookups, NameFieldWithoutTerminatorIsReadWithinItsSixteenBytes) {
  EXPECT_NE(FindEntry(*archive, "sixteencharslong", FindRegular), nullptr);
  EXPECT_EQ(FindEntry(*archive, "SIXTEENCHARSLONGER", FindRegular), nullptr);
  EXPECT_EQ(FindEntry(*archive, "SIXTEENCHARSLON", FindRegular), nullptr);
  EXPECT_EQ(NameOf(SourceEntry(*archive, 5)), "SIXTEENCHARSLONG");
}

// --- Writer ---

struct Writer : Reader {
  Bytes FileBytes() { return ReadAll(path); }
  void Record(const char* name, int32_t dataOffset = 0, int32_t stored = 1, int32_t original = 1) {
    AddTargetEntry(*archive, name, 0, stored, original, dataOffset, -1);
  }
};

TEST_F(Writer, ClosingWithoutEntriesWritesNoDirectory) {
  ASSERT_NE(CreateTargetArchive(*archive, path.c_str()), InvalidFile);
  Bytes stub = Pattern(123);
  ASSERT_TRUE(AppendTargetBytes(*archive, stub.data(), int32_t(stub.size())));
  CloseArchiveFile(*archive, archive->writer.target);
  EXPECT_EQ(archive->writer.target, InvalidFile);
  EXPECT_EQ(FileBytes(), stub);
}

TEST_F(Writer, DirectoryHoldsTheEntriesInRecordingOrder) {
  ASSERT_NE(CreateTargetArchive(*archive, path.c_str()), InvalidFile);
  Bytes saver = Pattern(50, 1), stub = Pattern(7, 2), movie = Pattern(300, 3);
  ASSERT_TRUE(StorePreparedEntry(*archive, "SAVER", saver.data(), 50, 50, StoragePlain, 0, -1));
  ASSERT_TRUE(StorePreparedEntry(*archive, "STUB", stub.data(), 7, 7, StoragePlain, 0x21, 3));
  ASSERT_TRUE(StorePreparedEntry(*archive, "MOVIE", movie.data(), 300, 900, StorageCompressed, 0, -1));
  CloseArchiveFile(*archive, archive->writer.target);

  Bytes file = FileBytes();
  ASSERT_EQ(file.size(), 357u + 120u);
  auto entries = DecipherDirectory(file, 3);
  EXPECT_EQ(NameOf(entries[0].data()), "SAVER");
  EXPECT_EQ(NameOf(entries[1].data()), "STUB");
  EXPECT_EQ(NameOf(entries[2].data()), "MOVIE");
  EXPECT_EQ(entries[0][EntryLeadByteAt], 3);
  EXPECT_EQ(entries[1][EntryLeadByteAt], 0);
  EXPECT_EQ(entries[2][EntryLeadByteAt], 0);
  for (auto& entry : entries) {
    EXPECT_EQ(entry[EntryRecordSizeAt], 40);
    EXPECT_EQ(uint32_t(RecordInt(entry.data(), EntryMagicAt)), EntryMagic);
  }
  EXPECT_EQ(RecordInt(entries[1].data(), EntryDataOffsetAt), 50);
  EXPECT_EQ(entries[1][EntryXorByteAt], 0x21);
  EXPECT_EQ(RecordInt(entries[1].data(), EntryMarkerOffsetAt), 3);
  EXPECT_EQ(entries[2][EntryStorageAt], StorageCompressed);
  EXPECT_EQ(RecordInt(entries[2].data(), EntryDataOffsetAt), 57);
  EXPECT_EQ(RecordInt(entries[2].data(), EntryStoredSizeAt), 300);
  EXPECT_EQ(RecordInt(entries[2].data(), EntryOriginalSizeAt), 900);
  EXPECT_EQ(Bytes(file.begin() + 57, file.begin() + 357), movie);

  // The reader agrees.
  ASSERT_NE(OpenSourceArchive(*archive, path.c_str()), InvalidFile);
  EXPECT_EQ(archive->reader.SourceCount, 3);
  EXPECT_EQ(EntryOriginalSize(*archive, "movie"), 900);
}

TEST_F(Writer, MarkerOffsetIsNormalised) {
  struct Case {
    int32_t marker, original, stored;
  } cases[] = {
      {0, 100, -1}, {100, 100, -1}, {5, 100, 5}, {99, 100, 99}, {150, 100, -1}, {-1, 100, -1}, {-5, 100, -5},
  };
  ASSERT_NE(CreateTargetArchive(*archive, path.c_str()), InvalidFile);
  int index = 0;
  for (const auto& c : cases) {
    AddTargetEntry(*archive, "M", 0, 1, c.original, 0, c.marker);
    EXPECT_EQ(RecordInt(archive->writer.directory + index++ * EntryRecordSize, EntryMarkerOffsetAt), c.stored)
        << c.marker << " of " << c.original;
  }
}

TEST_F(Writer, RecordTakesStorageAndMaskFromTheFlags) {
  ASSERT_NE(CreateTargetArchive(*archive, path.c_str()), InvalidFile);
  AddTargetEntry(*archive, "A", TransferCompress | 0x5A, 10, 20, 30, -1);
  AddTargetEntry(*archive, "B", TransferExpand | TransferUnmask | 0x07, 1, 1, 0, -1);
  const uint8_t* a = archive->writer.directory;
  const uint8_t* b = a + EntryRecordSize;
  EXPECT_EQ(a[EntryStorageAt], StorageCompressed);
  EXPECT_EQ(a[EntryXorByteAt], 0x5A);
  EXPECT_EQ(b[EntryStorageAt], StoragePlain);
  EXPECT_EQ(b[EntryXorByteAt], 0x07);
}

TEST_F(Writer, AliasBecomesTheNextEntryOverTheSameBytes) {
  ASSERT_NE(CreateTargetArchive(*archive, path.c_str()), InvalidFile);
  Record("SAVER", 0);
  Record("STUB", 1);
  Record("MOVIE", 2, 3, 9);
  int32_t append = archive->writer.AppendPosition;
  EXPECT_TRUE(AliasTargetEntry(*archive, "PREVIEWF", "movie"));
  EXPECT_EQ(archive->writer.TargetCount, 4);
  EXPECT_EQ(archive->writer.AppendPosition, append);
  const uint8_t* alias = archive->writer.directory + 3 * EntryRecordSize;
  EXPECT_EQ(NameOf(alias), "PREVIEWF");
  EXPECT_EQ(RecordInt(alias, EntryDataOffsetAt), 2);
  EXPECT_EQ(RecordInt(alias, EntryOriginalSizeAt), 9);
  EXPECT_EQ(archive->writer.directory[EntryLeadByteAt], 4);
  EXPECT_FALSE(AliasTargetEntry(*archive, "OTHER", "ZETT"));
  EXPECT_EQ(archive->writer.TargetCount, 4);

  CloseArchiveFile(*archive, archive->writer.target);
  ASSERT_NE(OpenSourceArchive(*archive, path.c_str()), InvalidFile);
  EXPECT_EQ(archive->reader.SourceCount, 4);
  EXPECT_TRUE(EntriesShareData(*archive, "MOVIE", "PREVIEWF"));
}

TEST_F(Writer, ThirtyThirdRecordingChangesNothing) {
  ASSERT_NE(CreateTargetArchive(*archive, path.c_str()), InvalidFile);
  for (int i = 0; i < 32; ++i) Record(("E" + std::to_string(i)).c_str(), i);
  Bytes before(archive->writer.directory, archive->writer.directory + sizeof archive->writer.directory);
  EXPECT_EQ(NextTargetSlot(*archive), nullptr);
  ArmFailureLatch(*archive, 1);
  Record("LATE", 99);
  EXPECT_FALSE(AliasTargetEntry(*archive, "LATE", "E3"));
  EXPECT_EQ(archive->latch.Failed, 0);  // a full directory does not latch the alias
  EXPECT_EQ(archive->writer.TargetCount, 32);
  EXPECT_EQ(Bytes(archive->writer.directory, archive->writer.directory + sizeof archive->writer.directory), before);
  CloseArchiveFile(*archive, archive->writer.target);
  EXPECT_EQ(FileBytes().size(), 32u * 40u);
}

TEST_F(Writer, NewTargetFinishesTheOldOneAndStartsWithCleanSlots) {
  std::string second = dir / "second.bin";
  ASSERT_NE(CreateTargetArchive(*archive, path.c_str()), InvalidFile);
  Record("FIRST");
  Record("OTHER");
  archive->writer.directory[EntryRecordSize + EntryLeadByteAt] = 0x77;  // as left by an earlier use
  ASSERT_NE(CreateTargetArchive(*archive, second.c_str()), InvalidFile);
  EXPECT_EQ(FileBytes().size(), 80u);  // the first target got its directory
  EXPECT_EQ(archive->writer.TargetCount, 0);
  EXPECT_EQ(archive->writer.AppendPosition, 0);
  Record("A");
  Record("B");
  CloseArchiveFile(*archive, archive->writer.target);
  auto entries = DecipherDirectory(ReadAll(second), 2);
  EXPECT_EQ(entries[1][EntryLeadByteAt], 0);
}

TEST_F(Writer, CreationFailuresLatchOnlyWhenArmed) {
  std::string unreachable = dir / "no-such-dir/target.bin";
  EXPECT_EQ(CreateTargetArchive(*archive, unreachable.c_str()), InvalidFile);
  EXPECT_EQ(archive->latch.Failed, 0);
  ArmFailureLatch(*archive, 1);
  EXPECT_EQ(CreateTargetArchive(*archive, unreachable.c_str()), InvalidFile);
  EXPECT_EQ(archive->latch.Failed, 0x7FFF);
}

TEST_F(Writer, CreationWhileLatchedFinishesTheOldTargetAndCreatesNothing) {
  ASSERT_NE(CreateTargetArchive(*archive, path.c_str()), InvalidFile);
  Record("KEPT");
  ArmFailureLatch(*archive, 1);
  archive->latch.Failed = 0x7FFF;
  std::string next = dir / "next.bin";
  EXPECT_EQ(CreateTargetArchive(*archive, next.c_str()), InvalidFile);
  EXPECT_FALSE(Exists(next));
  EXPECT_EQ(FileBytes().size(), 40u);
  EXPECT_EQ(archive->writer.target, InvalidFile);
}

TEST_F(Writer, ShortDirectoryWriteLatches) {
  if (!Exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  ArmFailureLatch(*archive, 1);
  ASSERT_NE(CreateTargetArchive(*archive, "/dev/full"), InvalidFile);
  Record("LOST");
  CloseArchiveFile(*archive, archive->writer.target);
  EXPECT_EQ(archive->writer.target, InvalidFile);
  EXPECT_EQ(archive->latch.Failed, 0x7FFF);
}

TEST_F(Writer, CloseIgnoresOtherHandles) {
  ASSERT_NE(CreateTargetArchive(*archive, path.c_str()), InvalidFile);
  Record("A");
  CloseArchiveFile(*archive, InvalidFile);
  CloseArchiveFile(*archive, archive->writer.target + 1000);
  EXPECT_NE(archive->writer.target, InvalidFile);
  EXPECT_EQ(FileBytes().size(), 0u);
}

TEST_F(Writer, InlineEntriesRoundTripAndCannotComeFirst) {
  ASSERT_NE(CreateTargetArchive(*archive, path.c_str()), InvalidFile);
  Bytes data = Pattern(16);
  EXPECT_FALSE(StoreInlineEntry(*archive, "FIRST", data.data(), 4));  // entry 0's LeadByte is the count
  EXPECT_EQ(archive->writer.TargetCount, 0);
  Record("SAVER");
  EXPECT_TRUE(StoreInlineEntry(*archive, "FULL", data.data(), 16));
  EXPECT_TRUE(StoreInlineEntry(*archive, "EMPTY", nullptr, 0));
  EXPECT_TRUE(StoreInlineEntry(*archive, "FIVE", data.data(), 5));
  EXPECT_FALSE(StoreInlineEntry(*archive, "TOOLONG", data.data(), 17));
  EXPECT_FALSE(StoreInlineEntry(*archive, "NEGATIVE", data.data(), -1));
  CloseArchiveFile(*archive, archive->writer.target);

  ASSERT_NE(OpenSourceArchive(*archive, path.c_str()), InvalidFile);
  ASSERT_EQ(archive->reader.SourceCount, 4);
  uint8_t read[16];
  EXPECT_EQ(ReadInlineEntry(FindEntry(*archive, "FULL", FindInline), read), 16);
  EXPECT_EQ(Bytes(read, read + 16), data);
  EXPECT_EQ(ReadInlineEntry(FindEntry(*archive, "EMPTY", FindInline), read), 0);
  EXPECT_EQ(ReadInlineEntry(FindEntry(*archive, "FIVE", FindInline), read), 5);
  EXPECT_EQ(Bytes(read, read + 5), Bytes(data.begin(), data.begin() + 5));
}

TEST_F(Writer, PreparedEntriesAreChecked) {
  ASSERT_NE(CreateTargetArchive(*archive, path.c_str()), InvalidFile);
  Bytes data = Pattern(8);
  EXPECT_FALSE(StorePreparedEntry(*archive, "SIXTEENCHARSLONG", data.data(), 8, 8, StoragePlain, 0, -1));
  EXPECT_FALSE(StorePreparedEntry(*archive, "", data.data(), 8, 8, StoragePlain, 0, -1));
  EXPECT_FALSE(StorePreparedEntry(*archive, "INLINE", data.data(), 8, 8, StorageInline, 0, -1));
  EXPECT_FALSE(StorePreparedEntry(*archive, "NEG", data.data(), -1, 8, StoragePlain, 0, -1));
  EXPECT_EQ(archive->writer.TargetCount, 0);
  EXPECT_EQ(archive->writer.AppendPosition, 0);
  EXPECT_TRUE(StorePreparedEntry(*archive, "FIFTEENCHARSLNG", data.data(), 8, 8, StoragePlain, 0, -1));
  EXPECT_TRUE(StorePreparedEntry(*archive, "EMPTY", data.data(), 0, 0, StoragePlain, 0, -1));
  EXPECT_EQ(archive->writer.AppendPosition, 8);
}

}  // namespace
