// compress and expand: byte-exact with the library, damaged streams refused
// without output, and the general rules every command follows (usage,
// version, missing input, unwritable output, size limit).
#include <memory>

#include "compression/codec.h"
#include "support.h"

namespace tooltest {
namespace {

// What the library writes for data, through whole-buffer memory endpoints.
Bytes LibraryCompress(const Bytes& data) {
  auto codec = std::make_unique<Codec>();
  Bytes out(size_t(CompressedSizeBound(int32_t(data.size()))));
  SetStreamEndpoints(*codec, data.data(), out.data(), int32_t(out.size()));
  EXPECT_EQ(CompressStream(*codec, InvalidFile, InvalidFile, int32_t(data.size()), 0), 1);
  out.resize(size_t(StreamTotalWritten(*codec)));
  return out;
}

using StreamCommandTest = ScratchTest;

TEST_F(StreamCommandTest, RoundTripsAreByteExactWithTheLibrary) {
  struct Case {
    const char* what;
    Bytes data;
  };
  const Case cases[] = {
      {"empty", {}},
      {"one byte", {0x41}},
      {"seven bytes", TextBytes(7, 1)},
      {"one block of code less one", TextBytes(10233, 2)},
      {"random, one block and more", RandomBytes(10235, 3)},
      {"text over several blocks", TextBytes(200000, 4)},
      {"random over several blocks", RandomBytes(60000, 5)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(dir / "in.bin", c.data);
    auto r = Lumaveil({"compress", "in.bin", "in.rc"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadFile(dir / "in.rc"), LibraryCompress(c.data));
    r = Lumaveil({"expand", "in.rc", "out.bin"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(dir / "out.bin"), c.data);
  }
  EXPECT_EQ(Listing(dir), (std::vector<std::string>{"in.bin", "in.rc", "out.bin"}));
}

TEST_F(StreamCommandTest, OutputMayReplaceItsInput) {
  Bytes data = TextBytes(50000, 6);
  WriteFile(dir / "a", data);
  ASSERT_EQ(Lumaveil({"compress", "a", "a"}).status, 0);
  ASSERT_EQ(Lumaveil({"expand", "a", "a"}).status, 0);
  EXPECT_EQ(ReadFile(dir / "a"), data);
}

TEST_F(StreamCommandTest, DamagedStreamsAreRefusedWithTheOffsetAndNoOutput) {
  // Random data keeps its size: blocks start at 0, 10, 10250 and 20490.
  const Bytes good = LibraryCompress(RandomBytes(25000, 7));
  ASSERT_GT(good.size(), 20490u);
  struct Case {
    const char* what;
    Bytes stream;
    const char* fragment;
  };
  auto changed = [&](size_t at, uint8_t value) {
    Bytes b = good;
    b[at] = value;
    return b;
  };
  auto cut = [&](size_t size) { return Bytes(good.begin(), good.begin() + long(size)); };
  const Case cases[] = {
      {"bad magic", changed(0, 'X'), "bad block at offset 0"},
      {"checksum of block 2", changed(10 + 100, uint8_t(good[110] ^ 1)), "bad block at offset 10"},
      {"length of block 3 beyond the block", changed(10250 + 5, 0x7F), "bad block at offset 10250"},
      {"cut inside block 3", cut(15000), "offset 10250"},
      {"cut before the last block", cut(20490), "offset 20490"},
      {"cut inside block 1", cut(5), "bad block at offset 0"},
      {"empty", {}, "bad block at offset 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(dir / "bad.rc", c.stream);
    auto r = Lumaveil({"expand", "bad.rc", "out.bin"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("lumaveil: bad.rc: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.fragment), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(Listing(dir), std::vector<std::string>{"bad.rc"});
  }
}

TEST_F(StreamCommandTest, FailuresNameTheFileAndLeaveNothing) {
  WriteFile(dir / "in.bin", TextBytes(1000, 8));
  fs::create_directory(dir / "sub");
  struct Case {
    std::vector<std::string> args;
    const char* fragment;
  };
  const Case cases[] = {
      {{"compress", "missing.bin", "out.rc"}, "lumaveil: missing.bin: no such file"},
      {{"expand", "missing.rc", "out.bin"}, "lumaveil: missing.rc: no such file"},
      {{"compress", "sub", "out.rc"}, "lumaveil: sub: not a regular file"},
      {{"compress", "in.bin", "nodir/out.rc"}, "lumaveil: nodir/out.rc: the directory nodir does not exist"},
      {{"compress", "in.bin", "sub"}, "lumaveil: sub: is a directory"},
      {{"compress", "in.bin"}, "OUT is required"},
      {{"frobnicate"}, "frobnicate"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.fragment);
    auto r = Lumaveil(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.fragment), std::string::npos) << r.err;
    EXPECT_EQ(Listing(dir), (std::vector<std::string>{"in.bin", "sub"}));
    EXPECT_TRUE(fs::is_empty(dir / "sub"));
  }
}

TEST_F(StreamCommandTest, UnwritableOutputDirectoryLeavesNoTemporaryFile) {
  WriteFile(dir / "in.bin", TextBytes(30000, 9));
  fs::create_directory(dir / "locked");
  fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                      fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  for (const char* command : {"compress", "expand"}) {
    SCOPED_TRACE(command);
    if (std::string(command) == "expand") ASSERT_EQ(Lumaveil({"compress", "in.bin", "in.rc"}).status, 0);
    auto r = Lumaveil({command, std::string(command) == "expand" ? "in.rc" : "in.bin", "locked/out"}, true);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("lumaveil: locked/out: cannot write in locked"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(dir / "locked"));
  }
}

TEST_F(StreamCommandTest, InputsOverTwoGibibytesAreRefused) {
  // A sparse file: nothing of it is read.
  {
    std::ofstream big(dir / "big.bin", std::ios::binary);
  }
  fs::resize_file(dir / "big.bin", uint64_t(1) << 31);
  for (const char* command : {"compress", "expand", "list", "verify"}) {
    SCOPED_TRACE(command);
    std::vector<std::string> args = {command, "big.bin"};
    if (std::string(command) == "compress" || std::string(command) == "expand") args.push_back("out");
    auto r = Lumaveil(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("lumaveil: big.bin: 2147483648 bytes is too large (at most 2 GiB - 1 bytes)"),
              std::string::npos)
        << r.err;
  }
  EXPECT_EQ(Listing(dir), std::vector<std::string>{"big.bin"});
}

TEST_F(StreamCommandTest, UsageAndVersion) {
  for (auto args : {std::vector<std::string>{}, std::vector<std::string>{"--help"}}) {
    auto r = Lumaveil(args);
    EXPECT_EQ(r.status, 0);
    for (const char* command : {"compress", "expand", "build", "list", "info", "extract", "verify"})
      EXPECT_NE(r.out.find(command), std::string::npos) << command;
  }
  auto r = Lumaveil({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "lumaveil " LUMAVEIL_VERSION "\n");
}

TEST_F(StreamCommandTest, NoProgressWhenStderrIsNotATerminal) {
  WriteFile(dir / "in.bin", TextBytes(3 << 20, 10));
  auto r = Lumaveil({"compress", "in.bin", "in.rc"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  r = Lumaveil({"expand", "in.rc", "out.bin"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace tooltest
