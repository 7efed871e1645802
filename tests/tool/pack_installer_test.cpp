// The packing of the installer program: the call conversion both ways, and
// pack_installer on the win32 build's image and on inputs it must refuse.
#include <cstring>

#include "installer/startup.h"
#include "support.h"

namespace {

using namespace tooltest;

TEST(ConvertCalls, StoresTargetsAndTurnsThemBack) {
  struct Case {
    const char* what;
    Bytes plain, packed;
  };
  const Case cases[] = {
      {"call at 0 to the next byte", {0xE8, 0, 0, 0, 0}, {0xE8, 5, 0, 0, 0}},
      {"call back to byte 1", {0x90, 0xE8, 0xFB, 0xFF, 0xFF, 0xFF}, {0x90, 0xE8, 1, 0, 0, 0}},
      {"E8 too near the end for an operand", {0x00, 0xE8, 1, 2, 3}, {0x00, 0xE8, 1, 2, 3}},
      {"an E8 inside an operand is not a call",
       {0xE8, 0xE8, 0, 0, 0, 0xE8, 0, 0, 0, 0},
       {0xE8, 0xED, 0, 0, 0, 0xE8, 10, 0, 0, 0}},
      {"nothing to convert", {0x55, 0x89, 0xE5}, {0x55, 0x89, 0xE5}},
      {"empty", {}, {}},
  };
  for (const Case& c : cases) {
    Bytes bytes = c.plain;
    ConvertCalls(bytes.data(), uint32_t(bytes.size()), true);
    EXPECT_EQ(bytes, c.packed) << c.what;
    ConvertCalls(bytes.data(), uint32_t(bytes.size()), false);
    EXPECT_EQ(bytes, c.plain) << c.what;
  }
}

TEST(ConvertCalls, RoundTripsDenseCalls) {
  Bytes plain = RandomBytes(100000, 7);
  for (size_t i = 0; i < plain.size(); i += 7) plain[i] = 0xE8;  // calls overlapping calls' operands
  Bytes bytes = plain;
  ConvertCalls(bytes.data(), uint32_t(bytes.size()), true);
  EXPECT_NE(bytes, plain);
  ConvertCalls(bytes.data(), uint32_t(bytes.size()), false);
  EXPECT_EQ(bytes, plain);
}

#ifdef LUMAVEIL_WIN32_DIR
struct PackResult {
  int status;
  std::string err;
};

PackResult Pack(const fs::path& input, const fs::path& output) {
  const fs::path err = output.parent_path() / "pack.err";
  const std::string command = std::string(PACK_INSTALLER_BINARY) + " '" + input.string() + "' '" + output.string() +
                              "' >/dev/null 2>'" + err.string() + "'";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(err)};
}

class PackInstaller : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("lv_pack_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
  const fs::path image = fs::path(LUMAVEIL_WIN32_DIR) / "installer_image.exe";
  const fs::path packed = fs::path(LUMAVEIL_WIN32_DIR) / "installer.exe";
};

// The section header named name, in a PE file's bytes.
const uint8_t* SectionHeader(const Bytes& file, const char* name) {
  const uint32_t pe = GetLe32(file.data() + 0x3C);
  const uint32_t count = GetLe16(file.data() + pe + 6);
  const uint32_t table = pe + 24 + GetLe16(file.data() + pe + 20);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* header = file.data() + table + 40 * i;
    if (std::strncmp(reinterpret_cast<const char*>(header), name, 8) == 0) return header;
  }
  return nullptr;
}

TEST_F(PackInstaller, PacksTheImageAsTheBuildDid) {
  const PackResult result = Pack(image, dir / "out.exe");
  ASSERT_EQ(result.status, 0) << result.err;
  const Bytes out = ReadFile(dir / "out.exe");
  EXPECT_EQ(out, ReadFile(packed));
  EXPECT_LT(out.size(), ReadFile(image).size());
  // The program takes no room in the file; the resident section carries it.
  const uint8_t* program = SectionHeader(out, UnpackedProgramSection);
  const uint8_t* code = SectionHeader(out, PackedProgramSection);
  ASSERT_TRUE(program && code);
  EXPECT_EQ(GetLe32(program + 16), 0u);
  const uint32_t codeOffset = GetLe32(code + 20);
  EXPECT_NE(GetLe32(out.data() + codeOffset + offsetof(PackedProgram, packedSize)), 0u);
}

TEST_F(PackInstaller, RefusesWhatItCannotPackAndWritesNothing) {
  Bytes renamed = ReadFile(image);
  uint8_t* header = const_cast<uint8_t*>(SectionHeader(renamed, UnpackedProgramSection));
  ASSERT_TRUE(header);
  header[6] = 'x';  // ".unpacx"
  WriteFile(dir / "renamed.exe", renamed);
  Bytes cut = ReadFile(image);
  cut.resize(cut.size() / 2);
  WriteFile(dir / "cut.exe", cut);
  WriteText(dir / "text.exe", "not a program at all\n");
  Bytes headerOnly(70, 0);  // a DOS header and the PE signature, nothing after
  headerOnly[0] = 'M', headerOnly[1] = 'Z', headerOnly[0x3C] = 64;
  headerOnly[64] = 'P', headerOnly[65] = 'E';
  WriteFile(dir / "header.exe", headerOnly);
  struct Case {
    fs::path input;
    const char* message;
  };
  const Case cases[] = {
      {packed, "packed already"},
      {dir / "renamed.exe", "no section .unpack"},
      {dir / "cut.exe", "past the end of the file"},
      {dir / "text.exe", "not a Windows program"},
      {dir / "header.exe", "cut short"},
      {dir / "missing.exe", "missing.exe"},
  };
  for (const Case& c : cases) {
    const PackResult result = Pack(c.input, dir / "out.exe");
    EXPECT_EQ(result.status, 1) << c.input;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << c.input << ": " << result.err;
    EXPECT_FALSE(fs::exists(dir / "out.exe")) << c.input;
  }
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir)) files += entry.path().filename() != "pack.err";
  EXPECT_EQ(files, 4u);  // the four inputs made here, no leftovers
}
#endif

}  // namespace
