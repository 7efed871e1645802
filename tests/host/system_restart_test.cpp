// Editing the "[Rename]" section of the restart file, as the installer does
// inside the file mapping: the buffer has room for a header and a line more,
// and the bytes past the old content are zero.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "system/text.h"

namespace {
// Runs AddRenameLine over content as the mapping would present it; returns
// the content cut to the new size, and checks nothing beyond the room changed.
std::string AddLine(const std::string& content, const std::string& line) {
  const size_t room = content.size() + RenameHeaderLength + line.size();
  std::vector<char> mapping(room + 8, 0);
  for (size_t i = room; i < mapping.size(); ++i) mapping[i] = 0x5A;
  std::copy(content.begin(), content.end(), mapping.begin());
  int32_t size = AddRenameLine(mapping.data(), int32_t(content.size()), line.c_str(), int32_t(line.size()));
  for (size_t i = room; i < mapping.size(); ++i) EXPECT_EQ(mapping[i], 0x5A) << "overrun at " << i;
  EXPECT_GE(size, int32_t(content.size()));
  EXPECT_LE(size_t(size), room);
  return std::string(mapping.data(), size_t(size));
}

const std::string Line = "NUL=C:\\TEMP\\doc.txt\r\n";
}  // namespace

TEST(AddRenameLine, Cases) {
  struct Case {
    const char* what;
    std::string before;
    std::string after;
  } cases[] = {
      {"no file yet", "", "[Rename]\r\n" + Line},
      {"lower-case header with other lines: inserted first",
       "[rename]\r\nNUL=C:\\old.txt\r\n",
       "[rename]\r\n" + Line + "NUL=C:\\old.txt\r\n"},
      {"header in the middle of other sections",
       "[Other]\r\na=b\r\n[Rename]\r\nx=y\r\n[Last]\r\n",
       "[Other]\r\na=b\r\n[Rename]\r\n" + Line + "x=y\r\n[Last]\r\n"},
      {"same line in another case: unchanged",
       "[RENAME]\r\nnul=c:\\temp\\DOC.TXT\r\n",
       "[RENAME]\r\nnul=c:\\temp\\DOC.TXT\r\n"},
      {"no header, last line without a break: appended right behind it",
       "[Other]\r\na=b",
       "[Other]\r\na=b[Rename]\r\n" + Line},
      {"header without CR LF is no header", "[Rename]", "[Rename][Rename]\r\n" + Line},
      {"the line before the header does not count",
       Line + "[Rename]\r\n",
       Line + "[Rename]\r\n" + Line},
      {"a longer path with the same start is another line",
       "[Rename]\r\nNUL=C:\\TEMP\\doc.txt.bak\r\n",
       "[Rename]\r\n" + Line + "NUL=C:\\TEMP\\doc.txt.bak\r\n"},
      {"header at the very end", "[Rename]\r\n", "[Rename]\r\n" + Line},
  };
  for (const Case& c : cases) EXPECT_EQ(AddLine(c.before, Line), c.after) << c.what;
}

TEST(AddRenameLine, ContentIsTextUpToItsFirstZero) {
  // A header behind a zero byte is not seen: a new one goes after the old end.
  std::string content = std::string("junk\0", 5) + "[Rename]\r\n";
  EXPECT_EQ(AddLine(content, Line), content + "[Rename]\r\n" + Line);
  // Bytes behind a zero after the header are still moved along.
  content = std::string("[Rename]\r\nx=y\r\n\0tail", 20);
  EXPECT_EQ(AddLine(content, Line), "[Rename]\r\n" + Line + std::string("x=y\r\n\0tail", 10));
}
