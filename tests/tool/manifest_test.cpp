// Manifest checks: each mistake is reported with the manifest, the line and
// the key; a good manifest fills the settings record as the installer reads it.
#include <fmt/format.h>

#include "installer/settings.h"
#include "support.h"
#include "tool/files.h"
#include "tool/manifest.h"

namespace tooltest {
namespace {

// Appended to cases that are not about the required entries; it comes last,
// so that it moves no line number.
const std::string RequiredTables = R"(
[entry.SAVER]
file = "f.bin"
[entry.STUB]
file = "f.bin"
[entry.MOVIE]
file = "f.bin"
[entry.ZETT]
file = "f.bin"
[entry.KMDL]
file = "f.bin"
)";

const std::string Head = "[installer]\nsaver-name = \"A\"\n";  // lines 1 and 2

class ManifestTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    WriteFile(dir / "f.bin", TextBytes(100, 1));
    WriteFile(dir / "short-record.bin", Bytes(100, 0));
    fs::create_directory(dir / "folder");
  }

  // The message LoadManifest throws for text, or "" when it loads.
  std::string Problem(const std::string& text) {
    WriteText(dir / "m.toml", text);
    try {
      lumaveil::LoadManifest(dir / "m.toml");
      return "";
    } catch (const lumaveil::ToolError& e) {
      return e.what();
    }
  }
};

struct Case {
  const char* what;
  std::string text;
  const char* fragment;  // expected in the message, which starts with the manifest's path
};

TEST_F(ManifestTest, EveryMistakeNamesLineAndKey) {
  const std::string longText(64, 'x'), longLabel(32, 'y'), longName(60, 'n');
  const Case cases[] = {
      {"toml syntax", Head + "question = \"unclosed\n" + RequiredTables, "m.toml:3: "},
      {"unknown top-level key", "colour = 1\n" + Head + RequiredTables, "m.toml:1: colour: unknown key"},
      {"unknown installer key", Head + "colour = \"red\"\n" + RequiredTables, "m.toml:3: installer.colour: unknown key"},
      {"unknown entry key", Head + "[entry.X]\nfile = \"f.bin\"\nsize = 3\n" + RequiredTables,
       "m.toml:5: entry.X.size: unknown key"},
      {"unknown patch key", Head + "[[installer.patch]]\nsource = 1\ntarget = 2\nlength = 3\nextra = 4\n" + RequiredTables,
       "m.toml:7: installer.patch[1].extra: unknown key"},
      {"wrong type", Head + "question = 5\n" + RequiredTables, "m.toml:3: installer.question: expected a text"},
      {"wrong type of flag", Head + "show-progress = \"yes\"\n" + RequiredTables,
       "m.toml:3: installer.show-progress: expected true or false"},
      {"no installer table", RequiredTables, "m.toml: installer: the [installer] table is missing"},
      {"no saver-name", "[installer]\nquestion = \"Q\"\n" + RequiredTables,
       "m.toml:1: installer.saver-name: missing"},
      // Texts that do not fit the installer's table.
      {"question too long", Head + "question = \"" + longText + "\"\n" + RequiredTables,
       "m.toml:3: installer.question: text is 64 characters; the installer shows at most 63"},
      {"progress too long", Head + "progress = \"" + longText + "\"\n" + RequiredTables,
       "m.toml:3: installer.progress: text is 64 characters; the installer shows at most 63"},
      {"label too long", Head + "no = \"" + longLabel + "\"\n" + RequiredTables,
       "m.toml:3: installer.no: label is 32 characters; the installer shows at most 31"},
      {"saver-name too long", "[installer]\nsaver-name = \"" + longName + "\"\n" + RequiredTables,
       "m.toml:2: installer.saver-name: name is 60 characters; the installer shows at most 59"},
      {"character outside the code page", Head + "finish = \"Done \u2192 ok\"\n" + RequiredTables,
       "m.toml:3: installer.finish: U+2192 has no character"},
      {"control character", Head + "failure = \"bell\\u0007\"\n" + RequiredTables,
       "m.toml:3: installer.failure: contains the control character U+0007"},
      // Names Windows refuses, or that leave the Windows directory.
      {"saver-name with a colon", "[installer]\nsaver-name = \"Au:rora\"\n" + RequiredTables,
       "m.toml:2: installer.saver-name: the name contains ':'"},
      {"saver-name with a separator", "[installer]\nsaver-name = \"..\\\\Aurora\"\n" + RequiredTables,
       "m.toml:2: installer.saver-name: the name contains the path separator '\\'"},
      {"saver-name with a slash", "[installer]\nsaver-name = \"a/b\"\n" + RequiredTables,
       "m.toml:2: installer.saver-name: the name contains the path separator '/'"},
      {"saver-name ..", "[installer]\nsaver-name = \"..\"\n" + RequiredTables,
       "m.toml:2: installer.saver-name: the name would leave the target directory"},
      {"saver-name device", "[installer]\nsaver-name = \"com1\"\n" + RequiredTables,
       "m.toml:2: installer.saver-name: the name is the reserved device name COM1"},
      {"saver-name trailing dot", "[installer]\nsaver-name = \"Aurora.\"\n" + RequiredTables,
       "m.toml:2: installer.saver-name: the name ends in a dot or a space"},
      {"saver-name empty", "[installer]\nsaver-name = \"\"\n" + RequiredTables,
       "m.toml:2: installer.saver-name: the name is empty"},
      {"document name with a question mark", Head + "document = \"dir\\\\a?b.txt\"\n" + RequiredTables,
       "m.toml:3: installer.document: the file name \"a?b.txt\" contains '?'"},
      {"document name reserved", Head + "document = \"dir\\\\nul.txt\"\n" + RequiredTables,
       "m.toml:3: installer.document: the file name \"nul.txt\" is the reserved device name NUL"},
      {"open-document without a name", Head + "after-install = \"open-document\"\ndocument = \"docs\\\\\"\n" +
                                           RequiredTables + "[entry.LESMI]\nfile = \"f.bin\"\n",
       "m.toml:4: installer.document: open-document needs a document file name"},
      {"open-document without a document", Head + "after-install = \"open-document\"\n" + RequiredTables +
                                               "[entry.LESMI]\nfile = \"f.bin\"\n",
       "m.toml:1: installer.document: open-document needs a document file name"},
      {"open-document without LESMI", Head + "after-install = \"open-document\"\ndocument = \"a.txt\"\n" +
                                          RequiredTables,
       "m.toml:6: entry.LESMI: missing"},
      {"unknown action", Head + "after-install = \"reboot\"\n" + RequiredTables,
       "m.toml:3: installer.after-install: \"reboot\" is not one of none, display-properties, start-saver, "
       "open-document"},
      // Patch ranges.
      {"patch too long", Head + "[[installer.patch]]\nsource = 0\ntarget = 9\nlength = 8193\n" + RequiredTables,
       "m.toml:6: installer.patch[1].length: 8193 is outside 0..8192"},
      {"patch negative", Head + "[[installer.patch]]\nsource = -1\ntarget = 9\nlength = 1\n" + RequiredTables,
       "m.toml:4: installer.patch[1].source: -1 is outside 0..2147483647"},
      {"patch incomplete", Head + "[[installer.patch]]\nsource = 1\nlength = 1\n" + RequiredTables,
       "m.toml:3: installer.patch[1].target: missing"},
      {"three patches",
       Head + "[[installer.patch]]\nsource = 0\ntarget = 1\nlength = 1\n[[installer.patch]]\nsource = 0\ntarget = "
              "1\nlength = 1\n[[installer.patch]]\nsource = 0\ntarget = 1\nlength = 1\n" +
           RequiredTables,
       "m.toml:11: installer.patch: 3 ranges; the installer copies at most 2"},
      {"first patch at target 0", Head + "[[installer.patch]]\nsource = 5\ntarget = 0\nlength = 4\n" + RequiredTables,
       "m.toml:5: installer.patch[1].target: the installer never applies a first range whose target is 0"},
      {"patch as a plain table", Head + "[installer.patch]\nsource = 1\n" + RequiredTables,
       "installer.patch: expected [[installer.patch]] tables"},
      // The settings template.
      {"record of the wrong size", Head + "record = \"short-record.bin\"\n" + RequiredTables,
       "m.toml:3: installer.record: the template is 100 bytes; a settings record is exactly 5640"},
      {"record missing", Head + "record = \"nowhere.bin\"\n" + RequiredTables,
       "m.toml:3: installer.record: cannot use the file: "},
      // Entries.
      {"missing SAVER",
       Head + "[entry.STUB]\nfile = \"f.bin\"\n[entry.MOVIE]\nfile = \"f.bin\"\n[entry.ZETT]\nfile = "
              "\"f.bin\"\n[entry.KMDL]\nfile = \"f.bin\"\n",
       "entry.SAVER: missing: every installer needs SAVER, STUB, MOVIE, ZETT and KMDL"},
      {"required entry inline",
       Head + "[entry.SAVER]\nfile = \"f.bin\"\n[entry.STUB]\nfile = \"f.bin\"\n[entry.MOVIE]\nfile = "
              "\"f.bin\"\n[entry.ZETT]\ninline = \"z\"\n[entry.KMDL]\nfile = \"f.bin\"\n",
       "m.toml:9: entry.ZETT: the installer copies this entry; it cannot be inline"},
      {"INFO given", Head + "[entry.info]\nfile = \"f.bin\"\n" + RequiredTables,
       "m.toml:3: entry.info: INFO is written by the tool from [installer]"},
      {"duplicate name", Head + "[entry.saver]\nfile = \"f.bin\"\n" + RequiredTables,
       "entry.SAVER: the name repeats entry saver of line 3"},
      {"name of 16 characters", Head + "[entry.ABCDEFGHIJKLMNOP]\nfile = \"f.bin\"\n" + RequiredTables,
       "m.toml:3: entry.ABCDEFGHIJKLMNOP: the name is 16 characters; entry names have at most 15"},
      {"empty name", Head + "[entry.\"\"]\nfile = \"f.bin\"\n" + RequiredTables,
       "m.toml:3: entry.: the entry name is empty"},
      {"name with a space", Head + "[entry.\"MY ENTRY\"]\nfile = \"f.bin\"\n" + RequiredTables,
       "m.toml:3: entry.MY ENTRY: entry names are printable ASCII without spaces"},
      {"no content", Head + "[entry.X]\ncompression = \"none\"\n" + RequiredTables,
       "m.toml:3: entry.X: needs one of file, same-as or inline"},
      {"two contents", Head + "[entry.X]\nfile = \"f.bin\"\ninline = \"x\"\n" + RequiredTables,
       "m.toml:3: entry.X: file, same-as and inline exclude each other"},
      {"file missing", Head + "[entry.X]\nfile = \"nowhere.bin\"\n" + RequiredTables,
       "m.toml:4: entry.X.file: cannot use the file: "},
      {"file is a directory", Head + "[entry.X]\nfile = \"folder\"\n" + RequiredTables,
       "m.toml:4: entry.X.file: cannot use the file: "},
      {"inline too long", Head + "[entry.X]\ninline = \"12345678901234567\"\n" + RequiredTables,
       "m.toml:4: entry.X.inline: inline data is 17 bytes; at most 16"},
      {"same-as nowhere", Head + "[entry.X]\nsame-as = \"NOPE\"\n" + RequiredTables,
       "m.toml:3: entry.X.same-as: there is no entry NOPE"},
      {"same-as an alias", Head + "[entry.X]\nsame-as = \"MOVIE\"\n[entry.Y]\nsame-as = \"X\"\n" + RequiredTables,
       "m.toml:5: entry.Y.same-as: X is a same-as entry; same-as needs an entry with a file"},
      {"same-as an inline entry", Head + "[entry.X]\ninline = \"x\"\n[entry.Y]\nsame-as = \"x\"\n" + RequiredTables,
       "m.toml:5: entry.Y.same-as: X is an inline entry"},
      {"same-as itself", Head + "[entry.X]\nsame-as = \"X\"\n" + RequiredTables,
       "m.toml:3: entry.X.same-as: an entry cannot share its own bytes"},
      {"compression with same-as", Head + "[entry.X]\nsame-as = \"MOVIE\"\ncompression = \"none\"\n" + RequiredTables,
       "m.toml:5: entry.X.compression: has no meaning for a same-as entry"},
      {"xor on a compressed entry", Head + "[entry.X]\nfile = \"f.bin\"\nxor = 5\n" + RequiredTables,
       "m.toml:5: entry.X.xor: masks only uncompressed entries"},
      {"xor too large", Head + "[entry.X]\nfile = \"f.bin\"\ncompression = \"none\"\nxor = 256\n" + RequiredTables,
       "m.toml:6: entry.X.xor: 256 is outside 0..255"},
      {"unknown compression", Head + "[entry.X]\nfile = \"f.bin\"\ncompression = \"zip\"\n" + RequiredTables,
       "m.toml:5: entry.X.compression: \"zip\" is not one of auto, lzhuf, none"},
      {"marker 0", Head + "[entry.X]\nfile = \"f.bin\"\nmarker = 0\n" + RequiredTables,
       "m.toml:5: entry.X.marker: offset 0 cannot be recorded"},
      {"marker past the content", Head + "[entry.X]\nfile = \"f.bin\"\nmarker = 100\n" + RequiredTables,
       "m.toml:5: entry.X.marker: offset 100 lies beyond the entry's 100 bytes"},
      {"stub missing", "stub = \"nowhere.exe\"\n" + Head + RequiredTables, "m.toml:1: stub: cannot use the file: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string message = Problem(c.text);
    EXPECT_NE(message.find(c.fragment), std::string::npos) << message;
    EXPECT_EQ(message.rfind((dir / "m.toml").string(), 0), 0u) << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
  }
  EXPECT_EQ(Problem(Head + RequiredTables), "");
}

TEST_F(ManifestTest, AtMostThirtyTwoEntriesCountingInfo) {
  std::string text = Head + RequiredTables;  // 5 entries, INFO makes 6
  for (int i = 0; i < 26; ++i) text += "[entry.E" + std::to_string(i) + "]\ninline = \"x\"\n";
  EXPECT_EQ(Problem(text), "");
  text += "[entry.LAST]\ninline = \"x\"\n";
  int lastLine = int(std::count(text.begin(), text.end(), '\n')) - 1;
  std::string message = Problem(text);
  EXPECT_NE(message.find(fmt::format("m.toml:{}: entry: 32 entries and INFO; an archive holds at most 32", lastLine)),
            std::string::npos)
      << message;
}

TEST_F(ManifestTest, FilesOverTwoGibibytesAreRefused) {
  {
    std::ofstream big(dir / "big.bin", std::ios::binary);
  }
  fs::resize_file(dir / "big.bin", uint64_t(1) << 31);
  std::string message = Problem(Head + "[entry.X]\nfile = \"big.bin\"\n" + RequiredTables);
  EXPECT_NE(message.find("m.toml:4: entry.X.file: cannot use the file: "), std::string::npos) << message;
  EXPECT_NE(message.find("2147483648 bytes is too large"), std::string::npos) << message;
}

TEST_F(ManifestTest, FillsTheRecordAndKeepsTheTemplateBytes) {
  Bytes record(InstallInfoSize);
  for (size_t i = 0; i < record.size(); ++i) record[i] = uint8_t(i * 7 + 3);
  WriteFile(dir / "info.bin", record);
  WriteText(dir / "m.toml", "[installer]\nsaver-name = \"Aurora\"\nrecord = \"info.bin\"\nyes = \"Go\"\n"
                            "after-install = \"start-saver\"\n[[installer.patch]]\nsource = 10\ntarget = 20\n"
                            "length = 30\n" +
                                RequiredTables);
  lumaveil::Manifest m = lumaveil::LoadManifest(dir / "m.toml");
  const uint8_t* info = m.installInfo.data();
  ASSERT_EQ(m.installInfo.size(), size_t(InstallInfoSize));
  // Interpreted fields as the manifest says.
  EXPECT_STREQ(reinterpret_cast<const char*>(info + SaverNameAt), "Aurora");
  EXPECT_STREQ(reinterpret_cast<const char*>(info + YesTextAt), "Go");
  EXPECT_EQ(info[YesTextPresentAt], 1);
  EXPECT_EQ(info[NoTextPresentAt], 0);
  for (int slot = 0; slot < 4; ++slot) EXPECT_EQ(info[TextPresentAt + slot], 0) << slot;
  EXPECT_EQ(info[QuestionTextAt], 0);
  EXPECT_EQ(InfoInt(info, PostInstallActionAt), 2);
  EXPECT_EQ(InfoInt(info, ShowProgressAt), 0);
  EXPECT_EQ(InfoInt(info, DoNotActivateAt), 0);
  EXPECT_EQ(InfoInt(info, PatchEnabledAt), 1);
  EXPECT_EQ(InfoInt(info, PatchSource1At), 10);
  EXPECT_EQ(InfoInt(info, PatchTarget1At), 20);
  EXPECT_EQ(InfoInt(info, PatchLength1At), 30);
  EXPECT_EQ(InfoInt(info, PatchLength2At), 0);
  // Bytes the installer does not read come from the template.
  for (int32_t at : {0, 100, 2059, 2380, 2539, 2704, 2705, 2708, 2727, 2988, 3000, 3291, 3552, 3847, 3876, 4039, 4044,
                     5639})
    EXPECT_EQ(info[at], record[size_t(at)]) << at;
  // Entries in manifest order.
  ASSERT_EQ(m.entries.size(), 5u);
  EXPECT_EQ(m.entries[0].name, "SAVER");
  EXPECT_EQ(m.entries[4].name, "KMDL");
}

}  // namespace
}  // namespace tooltest
