// The system module's pure text helpers: searching, the 8.3 test, path and
// command-line assembly with their bounds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "system/text.h"

constexpr int32_t CommandLineCapacityForTest = 384;  // the installer's working buffer

TEST(FindTextNoCase, PositionsAndCase) {
  struct Case {
    const char* text;
    const char* pattern;
    int32_t position;
  } cases[] = {
      {"My Screensaver", "screensaver", 4},
      {"SCREEN SAVER", "screen saver", 1},
      {"screen  saver", "screen saver", 0},  // two spaces are not one
      {"abc", "", 1},
      {"", "", 1},
      {"", "a", 0},
      {"ab", "abc", 0},  // pattern longer than text
      {"xxabab", "ab", 3},  // the first of two
      {"tail", "AIL", 2},  // match at the very end
      {"\xC0\xE0", "\xE0", 2},  // only ASCII letters fold
      {"[", "{", 0},  // 0x5B and 0x7B differ by 32 but are no letters
      {"a@", "A`", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindTextNoCase(c.text, c.pattern), c.position) << c.text << " / " << c.pattern;
  }
}

TEST(IsShortFileName, TheEightDotThreeRules) {
  struct Case {
    const char* name;
    bool isShort;
  } cases[] = {
      {"", true},
      {"ABCDEFGH.SCR", true},
      {"abcdefgh.scr", true},
      {"my_saver", true},
      {"a.b", true},
      {".scr", true},
      {"name.", true},
      {"ABCDEFGHI.SCR", false},  // nine name characters
      {"ABCDEFGHI", false},
      {"my saver.scr", false},  // space is forbidden
      {"a.b.c", false},         // two separators
      {"abc.scr.", false},      // second separator at the very end
      {"abc.scrx", false},      // a fourth character after the separator
      {"abc.scr ", false},      // trailing space
      {"lumi\xE8re.scr", false},  // byte of 128 or more
      {"\x7F", true},             // 127 is a separator
      {"ab~1.scr", false},        // tilde is a separator: two of them
      {"c:x", true},              // colon is a separator too
      {"a-b", false},             // 45 is forbidden
      {"ab/c", true},             // 47 counts as a separator
  };
  for (const Case& c : cases) EXPECT_EQ(IsShortFileName(c.name), c.isShort) << c.name;
}

TEST(AppendText, AllOrNothing) {
  char buffer[8] = "abc";
  EXPECT_TRUE(AppendText(buffer, sizeof buffer, "defg"));  // 7 characters and the NUL
  EXPECT_STREQ(buffer, "abcdefg");
  EXPECT_FALSE(AppendText(buffer, sizeof buffer, "h"));
  EXPECT_STREQ(buffer, "abcdefg");
}

// A buffer that remembers whether anything was written past the capacity.
struct GuardedPath {
  char bytes[PathCapacity + 16];
  GuardedPath() { std::memset(bytes, 0x5A, sizeof bytes); }
  bool guardIntact() const {
    for (int i = PathCapacity; i < int(sizeof bytes); ++i)
      if (bytes[i] != 0x5A) return false;
    return true;
  }
  // Stands for GetWindowsDirectoryA: returns the length it reports.
  uint32_t directory(const std::string& dir) {
    std::memcpy(bytes, dir.c_str(), dir.size() + 1);
    return uint32_t(dir.size());
  }
};

TEST(BuildWindowsPath, DirectoryAndName) {
  GuardedPath p;
  EXPECT_TRUE(BuildWindowsPath(p.bytes, p.directory("C:\\WINDOWS"), "ABCDEFGH.scr"));
  EXPECT_STREQ(p.bytes, "C:\\WINDOWS\\ABCDEFGH.scr");

  EXPECT_TRUE(BuildWindowsPath(p.bytes, p.directory("C:\\"), "x.scr"));  // a root keeps its one backslash
  EXPECT_STREQ(p.bytes, "C:\\x.scr");

  EXPECT_TRUE(BuildWindowsPath(p.bytes, 0, "x.scr"));  // GetWindowsDirectoryA failed
  EXPECT_STREQ(p.bytes, "c:\\winnt\\x.scr");
  EXPECT_TRUE(p.guardIntact());
}

TEST(BuildWindowsPath, KeepsRoomForTheSuffixOrGivesNothing) {
  GuardedPath p;
  std::string dir = "C:\\" + std::string(200, 'd');
  // The path and " /s" must fit 259 characters and the NUL: 256 at most.
  std::string fits(256 - dir.size() - 1, 'n');
  ASSERT_TRUE(BuildWindowsPath(p.bytes, p.directory(dir), fits.c_str()));
  EXPECT_EQ(std::strlen(p.bytes), 256u);
  EXPECT_TRUE(AppendText(p.bytes, PathCapacity, " /s"));
  EXPECT_TRUE(p.guardIntact());

  std::string tooLong = fits + "n";
  EXPECT_FALSE(BuildWindowsPath(p.bytes, p.directory(dir), tooLong.c_str()));
  EXPECT_STREQ(p.bytes, "");

  std::string huge(600, 'h');  // a name far past the buffer
  EXPECT_FALSE(BuildWindowsPath(p.bytes, p.directory(dir), huge.c_str()));
  EXPECT_STREQ(p.bytes, "");
  EXPECT_TRUE(p.guardIntact());
}

TEST(BuildWindowsPath, DirectoryLongerThanTheBuffer) {
  GuardedPath p;
  p.directory("C:\\WINDOWS");
  EXPECT_FALSE(BuildWindowsPath(p.bytes, 300, "x.scr"));  // the size GetWindowsDirectoryA says it needs
  EXPECT_STREQ(p.bytes, "");
  EXPECT_FALSE(BuildWindowsPath(p.bytes, PathCapacity, "x.scr"));
  EXPECT_TRUE(p.guardIntact());
}

TEST(AppendFileName, WithoutReserve) {
  char path[32];
  std::strcpy(path, "C:\\WIN");
  EXPECT_TRUE(AppendFileName(path, sizeof path, 6, "WinInit.Ini", 0));
  EXPECT_STREQ(path, "C:\\WIN\\WinInit.Ini");
  std::strcpy(path, "C:\\0123456789012345678");  // 22 + 1 + 8 + NUL = 32
  EXPECT_TRUE(AppendFileName(path, sizeof path, 22, "ABCDEFGH", 0));
  std::strcpy(path, "C:\\0123456789012345678");
  EXPECT_FALSE(AppendFileName(path, sizeof path, 22, "ABCDEFGHI", 0));
  EXPECT_STREQ(path, "");
}

TEST(BuildCommandLine, RegisteredCommandForms) {
  struct Case {
    const char* command;
    const char* line;
  } cases[] = {
      {"\"C:\\app.exe\" \"%1\"", "\"C:\\app.exe\" \"C:\\t\\doc.txt\""},
      {"C:\\app.exe", "C:\\app.exe C:\\t\\doc.txt"},
      {"C:\\app.exe %*", "C:\\app.exe    C:\\t\\doc.txt"},  // "%*" is two spaces, then a space and the path
      {"app %1 %*", "app C:\\t\\doc.txt   "},
      {"app %1 %1", "app C:\\t\\doc.txt %1"},  // only the first "%1"
      {"%1", "C:\\t\\doc.txt"},
      {"", " C:\\t\\doc.txt"},
  };
  for (const Case& c : cases) {
    char line[CommandLineCapacityForTest];
    ASSERT_TRUE(BuildCommandLine(line, sizeof line, c.command, "C:\\t\\doc.txt")) << c.command;
    EXPECT_STREQ(line, c.line) << c.command;
  }
}

TEST(BuildCommandLine, FitsExactlyOrFailsWithoutOverrun) {
  struct Case {
    std::string command;
    size_t pathLength;
    bool fits;
  } cases[] = {
      {"app \"%1\"", 377, true},  // 6 + 377 = 383 characters and the NUL
      {"app \"%1\"", 378, false},
      {"app", 379, true},  // 3 + space + 379 = 383
      {"app", 380, false},
      {std::string(383, 'c'), 0, false},  // no room for the space
      {std::string(400, 'c'), 1, false},  // the command alone is too long
      {"%1" + std::string(381, 't'), 2, true},
      {"%1" + std::string(381, 't'), 3, false},
  };
  for (const Case& c : cases) {
    char line[CommandLineCapacityForTest + 16];
    std::memset(line, 0x5A, sizeof line);
    std::string path(c.pathLength, 'p');
    EXPECT_EQ(BuildCommandLine(line, CommandLineCapacityForTest, c.command.c_str(), path.c_str()), c.fits)
        << c.command.size() << " + " << c.pathLength;
    EXPECT_EQ(std::strlen(line), c.fits ? 383u : 0u);
    for (int i = CommandLineCapacityForTest; i < int(sizeof line); ++i) ASSERT_EQ(line[i], 0x5A);
  }
}

TEST(FormatRenameLine, NewNameFirstAndBounded) {
  char line[RenameLineCapacity + 16];
  EXPECT_EQ(FormatRenameLine(line, "NUL", "C:\\TEMP\\doc.txt"), 21);
  EXPECT_STREQ(line, "NUL=C:\\TEMP\\doc.txt\r\n");

  std::memset(line, 0x5A, sizeof line);
  std::string longest(1023 - 6, 'x');  // "NUL=" + path + CR LF = 1023 bytes and the NUL
  EXPECT_EQ(FormatRenameLine(line, "NUL", longest.c_str()), 1023);
  std::string over = longest + "x";
  EXPECT_EQ(FormatRenameLine(line, "NUL", over.c_str()), 0);
  EXPECT_STREQ(line, "");
  for (int i = RenameLineCapacity; i < int(sizeof line); ++i) ASSERT_EQ(line[i], 0x5A);
}
