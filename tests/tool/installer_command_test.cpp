// build, list, info, extract and verify on installers made from a manifest
// with a stand-in stub, and on damaged copies of them.
#include <fmt/format.h>

#include <cstring>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "archive/archive.h"
#include "installer/settings.h"
#include "support.h"
#include "tool/builder.h"
#include "tool/files.h"

namespace tooltest {
namespace {

using nlohmann::json;

const char* const AuroraManifest = R"(stub = "stub.exe"
[installer]
saver-name = "Aurora"
question = "Install the Aurora screensaver?"
finish = "Aurora is now your screensaver."
failure = "Aurora could not be installed."
progress = "Installing Aurora..."
yes = "Install"
no = "Not now"
show-progress = true
after-install = "open-document"
document = "Aurora\\readme.txt"
activate = false
widen-special-char = true
[[installer.patch]]
source = 16
target = 512
length = 64
[[installer.patch]]
source = 4
target = 0
length = 2
[entry.SAVER]
file = "aurora.scr"
[entry.STUB]
file = "stub-entry.bin"
compression = "none"
xor = 90
marker = 3
[entry.MOVIE]
file = "movie.bin"
[entry.PREVIEWF]
same-as = "MOVIE"
[entry.PREVIEWB]
same-as = "zett"
[entry.ZETT]
file = "zett.bin"
compression = "lzhuf"
[entry.KMDL]
file = "empty.bin"
[entry.TAG]
inline = "hello"
[entry.LESMI]
file = "readme.txt"
)";

class InstallerCommandTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    files = {
        {"stub.exe", RandomBytes(3000, 1)},      {"aurora.scr", TextBytes(300000, 2)},
        {"stub-entry.bin", TextBytes(40, 3)},    {"movie.bin", RandomBytes(50000, 4)},
        {"zett.bin", TextBytes(20000, 5)},       {"empty.bin", {}},
        {"readme.txt", TextBytes(500, 6)},
    };
    for (auto& [name, data] : files) WriteFile(dir / name, data);
    WriteText(dir / "aurora.toml", AuroraManifest);
  }

  void Build() {
    auto r = Lumaveil({"build", "aurora.toml"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(fs::exists(dir / "Aurora-setup.exe"));
  }

  // The content each entry must extract to.
  std::map<std::string, Bytes> Contents() {
    return {{"SAVER", files["aurora.scr"]},    {"STUB", files["stub-entry.bin"]}, {"MOVIE", files["movie.bin"]},
            {"PREVIEWF", files["movie.bin"]},  {"PREVIEWB", files["zett.bin"]},   {"ZETT", files["zett.bin"]},
            {"KMDL", files["empty.bin"]},      {"TAG", Bytes{'h', 'e', 'l', 'l', 'o'}},
            {"LESMI", files["readme.txt"]}};
  }

  std::map<std::string, Bytes> files;
};

TEST_F(InstallerCommandTest, BuildThenListShowsTheDirectoryInManifestOrder) {
  Build();
  auto r = Lumaveil({"list", "Aurora-setup.exe", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  json list = json::parse(r.out);
  ASSERT_EQ(list.size(), 10u);

  struct Expected {
    const char* name;
    const char* storage;
    int xorByte, marker;
  };
  // INFO first; the alias of ZETT waits until ZETT is written.
  const Expected expected[] = {
      {"INFO", "lzhuf", 0, -1},  {"SAVER", "lzhuf", 0, -1},    {"STUB", "plain", 90, 3},
      {"MOVIE", "plain", 0, -1}, {"PREVIEWF", "plain", 0, -1}, {"ZETT", "lzhuf", 0, -1},
      {"PREVIEWB", "lzhuf", 0, -1}, {"KMDL", "plain", 0, -1},  {"TAG", "inline", 0, 0},
      {"LESMI", "lzhuf", 0, -1},
  };
  auto contents = Contents();
  for (size_t i = 0; i < list.size(); ++i) {
    const json& e = list[i];
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(e["index"], i);
    EXPECT_EQ(e["name"], expected[i].name);
    EXPECT_EQ(e["storage"], expected[i].storage);
    EXPECT_EQ(e["xor"], expected[i].xorByte);
    if (e["storage"] == "inline") {
      EXPECT_TRUE(e["offset"].is_null());
      EXPECT_TRUE(e["marker"].is_null());
    } else {
      EXPECT_EQ(e["marker"], expected[i].marker);
    }
    if (i > 0) EXPECT_EQ(e["original"], contents[expected[i].name].size());
  }
  EXPECT_EQ(list[0]["offset"], 3000);  // right behind the stub
  EXPECT_EQ(list[0]["original"], 5640);
  EXPECT_EQ(list[4]["offset"], list[3]["offset"]);  // PREVIEWF shares MOVIE's bytes
  EXPECT_EQ(list[6]["offset"], list[5]["offset"]);
  EXPECT_LT(list[1]["stored"].get<int>(), 300000 / 4);

  r = Lumaveil({"list", "Aurora-setup.exe"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Aurora-setup.exe: 10 entries"), std::string::npos) << r.out;
  for (const Expected& e : expected) EXPECT_NE(r.out.find(e.name), std::string::npos) << e.name;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 12) << r.out;
}

TEST_F(InstallerCommandTest, InfoShowsWhatTheManifestSaid) {
  Build();
  auto r = Lumaveil({"info", "Aurora-setup.exe", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  json info = json::parse(r.out);
  const json& t = info["InstallerTexts"];
  EXPECT_EQ(t["SaverFileName"], "Aurora.scr");
  EXPECT_EQ(t["QuestionText"], "Install the Aurora screensaver?");
  EXPECT_EQ(t["FinishText"], "Aurora is now your screensaver.");
  EXPECT_EQ(t["FailureText"], "Aurora could not be installed.");
  EXPECT_EQ(t["ProgressText"], "Installing Aurora...");
  EXPECT_EQ(t["YesText"], "Install");
  EXPECT_EQ(t["NoText"], "Not now");
  EXPECT_EQ(t["ShowProgress"], 1);
  EXPECT_EQ(t["PostInstallAction"], 3);
  EXPECT_FALSE(t["DisplayPropertiesCommand"].get<std::string>().empty());
  // Compressed entries of the progress list count with their original size
  // (SAVER, ZETT, LESMI); PREVIEWB shares ZETT's compressed bytes and counts again.
  EXPECT_EQ(t["ProgressTotal"], 300000 + 2 * 20000 + 500);

  const json& i = info["InstallInfo"];
  EXPECT_EQ(i["QuestionText"], "Install the Aurora screensaver?");
  EXPECT_EQ(i["YesText"], "Install");
  EXPECT_EQ(i["NoText"], "Not now");
  EXPECT_EQ(i["TextPresent"], json::array({1, 1, 1, 1}));
  EXPECT_EQ(i["YesTextPresent"], 1);
  EXPECT_EQ(i["NoTextPresent"], 1);
  EXPECT_EQ(i["DocumentPath"], "Aurora\\readme.txt");
  EXPECT_EQ(i["PostInstallAction"], 3);
  EXPECT_EQ(i["ShowProgress"], 1);
  EXPECT_EQ(i["SaverName"], "Aurora");
  EXPECT_EQ(i["DoNotActivate"], 1);
  EXPECT_EQ(i["PatchEnabled"], 1);
  EXPECT_EQ(i["PatchSource1"], 16);
  EXPECT_EQ(i["PatchTarget1"], 512);
  EXPECT_EQ(i["PatchLength1"], 64);
  EXPECT_EQ(i["PatchSource2"], 4);
  EXPECT_EQ(i["PatchTarget2"], 0);
  EXPECT_EQ(i["PatchLength2"], 2);
  EXPECT_EQ(i["WidenSpecialChar"], 1);

  r = Lumaveil({"info", "Aurora-setup.exe"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("SaverFileName             \"Aurora.scr\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("TextPresent               1 1 1 1"), std::string::npos) << r.out;
}

TEST_F(InstallerCommandTest, DefaultsAndSingleByteTextsInInfo) {
  WriteText(dir / "aurora.toml", R"(stub = "stub.exe"
[installer]
saver-name = "Café"
question = "Prix: 5 € — d’accord?"
[entry.SAVER]
file = "aurora.scr"
[entry.STUB]
file = "stub-entry.bin"
[entry.MOVIE]
file = "movie.bin"
[entry.ZETT]
file = "zett.bin"
[entry.KMDL]
file = "empty.bin"
)");
  auto r = Lumaveil({"build", "aurora.toml"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_TRUE(fs::exists(dir / "Café-setup.exe"));
  r = Lumaveil({"info", "Café-setup.exe", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Each stored byte of 128 or more is written as \u00NN of its value.
  EXPECT_NE(r.out.find(R"("SaverFileName": "Caf\u00e9.scr")"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(R"("QuestionText": "Prix: 5 \u0080 \u0097 d\u0092accord?")"), std::string::npos) << r.out;
  json info = json::parse(r.out);
  EXPECT_EQ(info["InstallerTexts"]["YesText"], "Yes");
  EXPECT_EQ(info["InstallerTexts"]["NoText"], "No");
  EXPECT_EQ(info["InstallerTexts"]["FinishText"], "");
  EXPECT_EQ(info["InstallerTexts"]["ShowProgress"], 0);
  EXPECT_EQ(info["InstallerTexts"]["PostInstallAction"], 0);
  EXPECT_EQ(info["InstallInfo"]["TextPresent"], json::array({1, 0, 0, 0}));
  EXPECT_EQ(info["InstallInfo"]["DoNotActivate"], 0);
  EXPECT_EQ(info["InstallInfo"]["PatchEnabled"], 0);
  r = Lumaveil({"info", "Café-setup.exe"});
  EXPECT_NE(r.out.find("\"Caf\\xE9.scr\""), std::string::npos) << r.out;
}

TEST_F(InstallerCommandTest, EveryEntryExtractsToItsInput) {
  Build();
  for (auto& [name, content] : Contents()) {
    SCOPED_TRACE(name);
    auto r = Lumaveil({"extract", "Aurora-setup.exe", name, "-o", "one.out"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(dir / "one.out"), content);
  }
  // Without -o the entry's own name, in the current directory; names ignore case.
  auto r = Lumaveil({"extract", "Aurora-setup.exe", "lesmi"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "LESMI"), files["readme.txt"]);

  r = Lumaveil({"extract", "Aurora-setup.exe", "--all", "-o", "all"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto contents = Contents();
  EXPECT_EQ(Listing(dir / "all").size(), contents.size() + 1);
  for (auto& [name, content] : contents) EXPECT_EQ(ReadFile(dir / "all" / name), content) << name;
  EXPECT_EQ(ReadFile(dir / "all" / "INFO").size(), 5640u);

  r = Lumaveil({"extract", "Aurora-setup.exe", "NOPE", "-o", "x"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("lumaveil: Aurora-setup.exe: no entry NOPE"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "x"));
}

TEST_F(InstallerCommandTest, VerifyPassesAndBuildsAreDeterministic) {
  Build();
  auto r = Lumaveil({"verify", "Aurora-setup.exe"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "Aurora-setup.exe: 10 entries, all good\n");
  Bytes first = ReadFile(dir / "Aurora-setup.exe");
  EXPECT_EQ(Bytes(first.begin(), first.begin() + 3000), files["stub.exe"]);

  r = Lumaveil({"build", "aurora.toml", "-o", "again.exe"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "again.exe"), first);
  // One thread or several: the same bytes.
  for (int threads : {1, 3}) {
    lumaveil::BuildOptions options;
    options.manifest = dir / "aurora.toml";
    options.output = dir / "threads.exe";
    options.threads = threads;
    lumaveil::BuildInstaller(options);
    EXPECT_EQ(ReadFile(dir / "threads.exe"), first) << threads;
  }
}

TEST_F(InstallerCommandTest, StubComesFromTheCommandLineTheManifestOrTheTool) {
  WriteFile(dir / "other-stub.exe", RandomBytes(100, 9));
  auto r = Lumaveil({"build", "aurora.toml", "--stub", "other-stub.exe", "-o", "out.exe"});
  ASSERT_EQ(r.status, 0) << r.err;
  Bytes built = ReadFile(dir / "out.exe");
  EXPECT_EQ(Bytes(built.begin(), built.begin() + 100), RandomBytes(100, 9));

  // No stub anywhere: a clear error, no output.
  std::string manifest = AuroraManifest;
  WriteText(dir / "nostub.toml", manifest.substr(manifest.find('\n') + 1));
  lumaveil::BuildOptions options;
  options.manifest = dir / "nostub.toml";
  try {
    lumaveil::BuildInstaller(options);
    ADD_FAILURE() << "built without a stub";
  } catch (const lumaveil::ToolError& e) {
    EXPECT_NE(std::string(e.what()).find("no installer stub"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("--stub"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(dir / "Aurora-setup.exe"));
  const uint8_t builtIn[] = {'M', 'Z', 1, 2};
  options.defaultStub = builtIn;
  lumaveil::BuildInstaller(options);
  EXPECT_EQ(ReadFile(dir / "Aurora-setup.exe")[2], 1);
}

TEST_F(InstallerCommandTest, FailedBuildsLeaveNoOutput) {
  const auto before = Listing(dir);
  std::string manifest = AuroraManifest;
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = manifest;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  struct Case {
    const char* what;
    std::string manifest;
    const char* fragment;
  };
  const Case cases[] = {
      {"an entry file missing", replaced("file = \"zett.bin\"", "file = \"gone.bin\""),
       "aurora.toml:37: entry.ZETT.file: cannot use the file: "},
      // The installer reads its patch ranges out of its own file.
      {"a patch range beyond the installer", replaced("source = 16", "source = 2000000"),
       "aurora.toml:15: installer.patch[1].source: bytes 2000000..2000064 lie beyond the installer's "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteText(dir / "aurora.toml", c.manifest);
    auto r = Lumaveil({"build", "aurora.toml"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.fragment), std::string::npos) << r.err;
    EXPECT_EQ(Listing(dir), before);
  }

  WriteText(dir / "aurora.toml", manifest);
  fs::create_directory(dir / "locked");
  fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                                      fs::perms::others_exec);
  auto r = Lumaveil({"build", "aurora.toml", "-o", "locked/setup.exe"}, true);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("lumaveil: locked/setup.exe: cannot write in locked"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_empty(dir / "locked"));
}

TEST_F(InstallerCommandTest, DamagedInstallersFailVerifyAndList) {
  Build();
  Bytes good = ReadFile(dir / "Aurora-setup.exe");
  json list = json::parse(Lumaveil({"list", "Aurora-setup.exe", "--json"}).out);
  int saverAt = list[1]["offset"];
  int movieAt = list[3]["offset"];

  // A byte of SAVER's second block: the directory is intact, the entry is not.
  Bytes flipped = good;
  flipped[size_t(saverAt + 10 + 500)] ^= 0x55;
  WriteFile(dir / "flipped.exe", flipped);
  auto r = Lumaveil({"verify", "flipped.exe"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, fmt::format("flipped.exe: SAVER: bad block (offset {})\n", saverAt + 10));
  EXPECT_EQ(Lumaveil({"list", "flipped.exe"}).status, 0);
  r = Lumaveil({"extract", "flipped.exe", "SAVER", "-o", "saver.out"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(fmt::format("entry SAVER cannot be extracted: bad block (offset {})", saverAt + 10)),
            std::string::npos)
      << r.err;
  r = Lumaveil({"extract", "flipped.exe", "--all", "-o", "all"});
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(fs::exists(dir / "all"));
  EXPECT_FALSE(fs::exists(dir / "saver.out"));

  // Bytes cut out of the middle: the directory points past the end.
  Bytes holed(good.begin(), good.begin() + movieAt);
  holed.insert(holed.end(), good.end() - 10 * 40, good.end());
  WriteFile(dir / "holed.exe", holed);
  r = Lumaveil({"verify", "holed.exe"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("holed.exe: MOVIE: the stored bytes lie outside the file"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("holed.exe: ZETT: the stored bytes lie outside the file"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("SAVER"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("TAG"), std::string::npos) << r.out;

  // The directory cut off, or a file that never had one.
  const std::string noDirectory = "no archive directory found: the file is damaged or not an installer";
  WriteFile(dir / "cut.exe", Bytes(good.begin(), good.end() - 7));
  WriteFile(dir / "plain.txt", TextBytes(5000, 10));
  for (const char* file : {"cut.exe", "plain.txt"}) {
    SCOPED_TRACE(file);
    for (const char* command : {"list", "info", "verify"}) {
      r = Lumaveil({command, file});
      EXPECT_EQ(r.status, 1);
      EXPECT_NE((std::string(command) == "verify" ? r.out : r.err).find(std::string(file) + ": " + noDirectory),
                std::string::npos)
          << command << r.out << r.err;
    }
  }
}

// Entry names come from the file: extract --all writes nothing for an
// archive whose names are not plain file names.
TEST_F(InstallerCommandTest, ExtractAllRefusesNamesThatAreNoFileNames) {
  const char* names[] = {"..", "../evil", "a/b", "x\\y", "CON", "c:d", "dot.", "TWICE"};
  const auto before = Listing(dir);
  for (const char* bad : names) {
    SCOPED_TRACE(bad);
    auto archive = std::make_unique<Archive>();
    ResetArchive(*archive);
    ArmFailureLatch(*archive, 1);
    std::string path = (dir / "evil.exe").string();
    FileHandle target = CreateTargetArchive(*archive, path.c_str());
    const uint8_t data[] = {'d', 'a', 't', 'a'};
    ASSERT_TRUE(StorePreparedEntry(*archive, "GOOD", data, 4, 4, StoragePlain, 0, -1));
    ASSERT_TRUE(StorePreparedEntry(*archive, bad, data, 4, 4, StoragePlain, 0, -1));
    if (std::string(bad) == "TWICE") ASSERT_TRUE(StorePreparedEntry(*archive, "twice", data, 4, 4, StoragePlain, 0, -1));
    CloseArchiveFile(*archive, target);
    ASSERT_FALSE(archive->latch.Failed);

    auto r = Lumaveil({"extract", "evil.exe", "--all", "-o", "out"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("lumaveil: evil.exe: entry "), std::string::npos) << r.err;
    auto after = before;
    after.insert(std::lower_bound(after.begin(), after.end(), "evil.exe"), "evil.exe");
    EXPECT_EQ(Listing(dir), after);
    r = Lumaveil({"extract", "evil.exe", bad});
    if (std::string(bad) != "TWICE") {
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(r.err.find("give -o FILE"), std::string::npos) << r.err;
    }
    EXPECT_EQ(Lumaveil({"extract", "evil.exe", bad, "-o", "fine.out"}).status, 0);
    EXPECT_EQ(ReadFile(dir / "fine.out"), Bytes(data, data + 4));
    for (auto& name : Listing(dir))
      if (!std::binary_search(before.begin(), before.end(), name)) fs::remove_all(dir / name);
  }
  EXPECT_FALSE(fs::exists(dir.parent_path() / "evil"));
}

// verify reads the settings record too: an installer that cannot load it,
// or whose screensaver name leaves the Windows directory, is damaged.
TEST_F(InstallerCommandTest, VerifyChecksTheSettingsRecord) {
  struct Case {
    const char* what;
    int32_t recordSize;
    const char* saverName;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"a sound record", InstallInfoSize, "Aurora", 0, "1 entries, all good"},
      {"a short record", 2000, "", 1, "INFO: the screensaver name \"\" is empty"},
      {"a record too long to load", 6000, "Aurora", 1, "INFO: the settings record holds 6000 bytes; the installer reads at most 5640"},
      {"a name that leaves the directory", InstallInfoSize, "..\\Evil", 1,
       "INFO: the screensaver name \"..\\Evil\" contains the path separator '\\'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes record(size_t(c.recordSize), 0);
    if (c.recordSize > SaverNameAt) std::memcpy(&record[SaverNameAt], c.saverName, std::strlen(c.saverName));
    auto archive = std::make_unique<Archive>();
    ResetArchive(*archive);
    ArmFailureLatch(*archive, 1);
    std::string path = (dir / "settings.exe").string();
    FileHandle target = CreateTargetArchive(*archive, path.c_str());
    ASSERT_TRUE(StoreMemoryEntry(*archive, record.data(), c.recordSize, "INFO", TransferCompress));
    CloseArchiveFile(*archive, target);
    ASSERT_FALSE(archive->latch.Failed);
    auto r = Lumaveil({"verify", "settings.exe"});
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.out.find(std::string("settings.exe: ") + c.message), std::string::npos) << r.out;
  }
}

}  // namespace
}  // namespace tooltest
