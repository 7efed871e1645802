// The settings record "INFO" and the table of texts filled from it.
#include "installer/settings.h"
#include "tests/host/archive_fixture.h"

namespace {

using namespace archive_test;

const char DisplayPropertiesCommand[] = "Rundll32 Shell32.dll,Control_RunDLL Desk.cpl @0,1";

void PutText(Bytes& info, int32_t at, const std::string& text) { std::memcpy(&info[size_t(at)], text.data(), text.size()); }

struct Settings : testing::Test {
  ScratchDir dir;
  std::string path = dir / "installer.exe";
  std::unique_ptr<Archive> archive = NewArchive();
  Bytes info = Bytes(InstallInfoSize, 0);
  Bytes loaded = Bytes(InstallInfoSize, 0xEE);
  InstallerTexts texts;
  TextPool pool{};

  void SetUp() override { ResetInstallerTexts(texts); }

  struct Entry {
    std::string name;
    int32_t stored, original;
  };
  // An installer file: a stub, "INFO" (plain, masked, or compressed), and
  // entries whose sizes matter to the progress total.
  void MakeInstaller(const Bytes& record, const std::vector<Entry>& entries = {}, uint8_t storage = StoragePlain,
                     uint8_t mask = 0) {
    auto writer = NewArchive();
    ASSERT_NE(CreateTargetArchive(*writer, path.c_str()), InvalidFile);
    Bytes stub = Pattern(200);
    ASSERT_TRUE(AppendTargetBytes(*writer, stub.data(), 200));
    if (storage == StorageCompressed) {
      ASSERT_TRUE(StoreMemoryEntry(*writer, record.data(), int32_t(record.size()), "INFO", TransferCompress | mask));
    } else if (!record.empty()) {
      Bytes masked = Xored(record, mask);
      ASSERT_TRUE(StorePreparedEntry(*writer, "INFO", masked.data(), int32_t(masked.size()),
                                     int32_t(masked.size()), StoragePlain, mask, -1));
    }
    for (const auto& e : entries) {
      Bytes body = Pattern(size_t(e.stored));
      ASSERT_TRUE(StorePreparedEntry(*writer, e.name.c_str(), body.data(), e.stored, e.original,
                                     e.stored == e.original ? StoragePlain : StorageCompressed, 0, -1));
    }
    CloseArchiveFile(*writer, writer->writer.target);
  }
  void Load() { LoadInstallerSettings(*archive, path.c_str(), loaded.data(), texts, pool); }
};

TEST_F(Settings, InitialTableContents) {
  EXPECT_STREQ(texts.SaverFileName, "1");
  for (const char* text : {texts.QuestionText, texts.FinishText, texts.FailureText, texts.ProgressText, texts.YesText,
                           texts.NoText})
    EXPECT_STREQ(text, "-");
  EXPECT_EQ(texts.ShowProgress, 9);
  EXPECT_EQ(texts.PostInstallAction, 1);
  EXPECT_STREQ(texts.DisplayPropertiesCommand, DisplayPropertiesCommand);
  EXPECT_EQ(texts.ProgressTotal, 7);
}

TEST_F(Settings, TextsAreTakenOnlyWhenPresent) {
  const char* slots[] = {"Install it?", "Done.", "It failed.", "Copying..."};
  for (int i = 0; i < 4; ++i) PutText(info, TextSlotsAt + i * TextSlotSize, slots[i]);
  info[TextPresentAt + 0] = 1;
  info[TextPresentAt + 2] = 0x80;
  PutText(info, SaverNameAt, "Aquarium");
  MakeInstaller(info);
  Load();
  EXPECT_EQ(loaded, info);
  EXPECT_STREQ(texts.QuestionText, "Install it?");
  EXPECT_STREQ(texts.FinishText, "");
  EXPECT_STREQ(texts.FailureText, "It failed.");
  EXPECT_STREQ(texts.ProgressText, "");
  EXPECT_STREQ(texts.SaverFileName, "Aquarium.scr");
  EXPECT_STREQ(texts.DisplayPropertiesCommand, DisplayPropertiesCommand);
}

TEST_F(Settings, LabelsDefaultToYesAndNo) {
  PutText(info, YesTextAt, "Sure");
  PutText(info, NoTextAt, "Never");
  MakeInstaller(info);
  Load();
  EXPECT_STREQ(texts.YesText, "Yes");
  EXPECT_STREQ(texts.NoText, "No");

  info[YesTextPresentAt] = 1;
  MakeInstaller(info);
  Load();
  EXPECT_STREQ(texts.YesText, "Sure");
  EXPECT_STREQ(texts.NoText, "No");

  info[NoTextPresentAt] = 1;
  MakeInstaller(info);
  Load();
  EXPECT_STREQ(texts.NoText, "Never");
}

TEST_F(Settings, ShortRecordLeavesTheRestZero) {
  Bytes shortInfo(2000, 0);
  PutText(shortInfo, 100, "carried");
  MakeInstaller(shortInfo);
  Load();
  EXPECT_EQ(Bytes(loaded.begin(), loaded.begin() + 2000), shortInfo);
  EXPECT_TRUE(std::all_of(loaded.begin() + 2000, loaded.end(), [](uint8_t b) { return b == 0; }));
  for (const char* text : {texts.QuestionText, texts.FinishText, texts.FailureText, texts.ProgressText})
    EXPECT_STREQ(text, "");
  EXPECT_STREQ(texts.YesText, "Yes");
  EXPECT_STREQ(texts.NoText, "No");
  EXPECT_STREQ(texts.SaverFileName, ".scr");
  EXPECT_EQ(texts.PostInstallAction, 0);
  EXPECT_EQ(texts.ShowProgress, 0);
  EXPECT_EQ(texts.ProgressTotal, 7);
}

TEST_F(Settings, OneByteCopiesOfActionAndShowProgress) {
  SetInfoInt(info.data(), PostInstallActionAt, 259);
  SetInfoInt(info.data(), ShowProgressAt, 256);
  MakeInstaller(info, {{"SAVER", 100, 900}});
  Load();
  EXPECT_EQ(texts.PostInstallAction, 3);
  EXPECT_EQ(texts.ShowProgress, 0);
  EXPECT_EQ(texts.ProgressTotal, 900);  // all 32 bits asked for the total
}

TEST_F(Settings, RecordIsReadMaskedOrCompressed) {
  PutText(info, SaverNameAt, "Deep");
  SetInfoInt(info.data(), PostInstallActionAt, 2);
  SetInfoInt(info.data(), DoNotActivateAt, 1);
  MakeInstaller(info, {}, StoragePlain, 0x5A);
  Load();
  EXPECT_EQ(loaded, info);
  EXPECT_STREQ(texts.SaverFileName, "Deep.scr");

  ResetInstallerTexts(texts);
  MakeInstaller(info, {}, StorageCompressed);
  Load();
  EXPECT_EQ(loaded, info);
  EXPECT_STREQ(texts.SaverFileName, "Deep.scr");
  EXPECT_EQ(texts.PostInstallAction, 2);
}

TEST_F(Settings, UnreadableRecordKeepsTheTable) {
  InstallerTexts initial;
  ResetInstallerTexts(initial);
  MakeInstaller({}, {{"SAVER", 10, 10}});  // no "INFO"
  Load();
  EXPECT_EQ(std::memcmp(&texts, &initial, sizeof texts), 0);

  WriteAll(path, Pattern(1000));  // no archive at all
  Load();
  EXPECT_EQ(std::memcmp(&texts, &initial, sizeof texts), 0);

  std::string missing = dir / "missing.exe";
  LoadInstallerSettings(*archive, missing.c_str(), loaded.data(), texts, pool);
  EXPECT_EQ(std::memcmp(&texts, &initial, sizeof texts), 0);

  // An "INFO" that lies partly outside the file is not read either.
  std::vector<Bytes> records = {MakeRecord({.name = "INFO", .dataOffset = 10, .storedSize = 5640,
                                            .originalSize = 5640, .leadByte = 1})};
  WriteAll(path, Concat({Pattern(100), EncipherDirectory(records)}));
  Load();
  EXPECT_EQ(std::memcmp(&texts, &initial, sizeof texts), 0);
  EXPECT_EQ(archive->reader.source, InvalidFile);
}

TEST_F(Settings, ProgressTotalCountsCompressedListedEntries) {
  SetInfoInt(info.data(), ShowProgressAt, 1);
  MakeInstaller(info, {{"SAVER", 100, 1000},
                       {"STUB", 50, 50},      // plain: equal sizes count nothing
                       {"ADDL3", 10, 300},    // never copied, still counted
                       {"ADDL15", 10, 20},
                       {"ADDL", 10, 4},
                       {"KMDL", 10, 5000},    // copied, not counted
                       {"ADDTL", 10, 7000},   // not counted
                       {"LESMI", 10, 60000}});
  Load();
  EXPECT_EQ(texts.ProgressTotal, 1000 + 300 + 20 + 4 + 60000);
  EXPECT_EQ(ComputeProgressTotal(*archive, path.c_str()), texts.ProgressTotal);
  EXPECT_EQ(archive->reader.source, InvalidFile);  // closed again
}

TEST_F(Settings, ProgressTotalIsZeroForPlainPayloadsAndUnreadableFiles) {
  SetInfoInt(info.data(), ShowProgressAt, 1);
  MakeInstaller(info, {{"SAVER", 100, 100}, {"MOVIE", 30, 30}});
  Load();
  EXPECT_EQ(texts.ProgressTotal, 0);
  WriteAll(path, Pattern(10));
  EXPECT_EQ(ComputeProgressTotal(*archive, path.c_str()), 0);
}

TEST_F(Settings, DamagedSizesNeitherSubtractNorWrap) {
  std::vector<Bytes> records = {
      MakeRecord({.name = "SAVER", .storage = StorageCompressed, .storedSize = 1, .originalSize = 0x7FFFFFF0,
                  .leadByte = 3}),
      MakeRecord({.name = "STUB", .storage = StorageCompressed, .storedSize = 1, .originalSize = 0x7FFFFFF0}),
      MakeRecord({.name = "MOVIE", .storage = StorageCompressed, .storedSize = 1, .originalSize = -500}),
  };
  WriteAll(path, Concat({Pattern(10), EncipherDirectory(records)}));
  EXPECT_EQ(ComputeProgressTotal(*archive, path.c_str()), 0x7FFFFFFF);
  EXPECT_EQ(EntryProgressSize(*archive, "MOVIE"), 0);
}

TEST_F(Settings, OverlongTextsAreCutToTheirSlots) {
  // Slots without a terminating NUL inside their 80 bytes.
  for (int i = 0; i < 8; ++i) std::memset(&info[size_t(TextSlotsAt + i * TextSlotSize)], 'a' + i, TextSlotSize);
  std::memset(&info[TextPresentAt], 1, 8);
  std::memset(&info[SaverNameAt], 'S', SaverNameSize);
  MakeInstaller(info);
  Load();
  EXPECT_EQ(std::string(texts.QuestionText), std::string(63, 'a'));
  EXPECT_EQ(std::string(texts.FinishText), std::string(63, 'b'));
  EXPECT_EQ(std::string(texts.FailureText), std::string(63, 'c'));
  EXPECT_EQ(std::string(texts.ProgressText), std::string(63, 'd'));
  EXPECT_EQ(std::string(texts.YesText), std::string(31, 'g'));
  EXPECT_EQ(std::string(texts.NoText), std::string(31, 'h'));
  EXPECT_EQ(std::string(texts.SaverFileName), std::string(59, 'S') + ".scr");

  // Exactly at the limits nothing is cut.
  ResetInstallerTexts(texts);
  std::fill(info.begin(), info.end(), 0);
  info[TextPresentAt] = 1;
  info[YesTextPresentAt] = 1;
  PutText(info, QuestionTextAt, std::string(63, 'q'));
  PutText(info, YesTextAt, std::string(31, 'y'));
  PutText(info, SaverNameAt, std::string(59, 'n'));
  MakeInstaller(info);
  Load();
  EXPECT_EQ(std::string(texts.QuestionText), std::string(63, 'q'));
  EXPECT_EQ(std::string(texts.YesText), std::string(31, 'y'));
  EXPECT_EQ(std::string(texts.SaverFileName), std::string(59, 'n') + ".scr");
}

TEST_F(Settings, RecordFieldsAreLittleEndian) {
  SetInfoInt(info.data(), PatchLength2At, -2);
  EXPECT_EQ(Bytes(info.begin() + PatchLength2At, info.begin() + PatchLength2At + 4), (Bytes{0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(InfoInt(info.data(), PatchLength2At), -2);
  SetInfoInt(info.data(), WidenSpecialCharAt, 0x01020304);
  EXPECT_EQ(info[WidenSpecialCharAt], 0x04);
  EXPECT_EQ(InfoInt(info.data(), WidenSpecialCharAt), 0x01020304);
}

}  // namespace
