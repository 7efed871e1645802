// WindowsPath and ShortWindowsPath against the prefix's real Windows
// directory and file system; a redirected GetWindowsDirectoryA stands in for
// directories the prefix does not have (failing, a root, too long).
#include "system/paths.h"

#include "system/text.h"
#include "tests/wine/system_support.h"

namespace {
int g_searches = 0, g_closes = 0;
bool g_dropAlternateName = false;
decltype(&FindFirstFileA) g_realFindFirst = nullptr;
decltype(&FindClose) g_realFindClose = nullptr;

HANDLE WINAPI CountingFindFirstFile(LPCSTR path, LPWIN32_FIND_DATAA found) {
  ++g_searches;
  HANDLE search = g_realFindFirst(path, found);
  if (search != INVALID_HANDLE_VALUE && g_dropAlternateName) found->cAlternateFileName[0] = 0;
  return search;
}
BOOL WINAPI CountingFindClose(HANDLE search) {
  ++g_closes;
  return g_realFindClose(search);
}

const char* g_fakeDirectory = nullptr;
UINT g_fakeResult = 0;
UINT WINAPI FakeWindowsDirectory(LPSTR buffer, UINT size) {
  if (g_fakeDirectory) lstrcpynA(buffer, g_fakeDirectory, int(size));
  return g_fakeResult;
}

// What the real file system says about a name in the Windows directory:
// its 8.3 alternate name, or "" (also when the file is absent).
std::string AlternateNameOf(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return "";
  FindClose(search);
  return found.cAlternateFileName;
}
}  // namespace

int main() {
  const std::string windows = RealWindowsDirectory();
  ImportHook findFirst("kernel32.dll", "FindFirstFileA", reinterpret_cast<void*>(&CountingFindFirstFile));
  ImportHook findClose("kernel32.dll", "FindClose", reinterpret_cast<void*>(&CountingFindClose));
  CHECK(findFirst.installed() && findClose.installed());
  g_realFindFirst = reinterpret_cast<decltype(g_realFindFirst)>(findFirst.original());
  g_realFindClose = reinterpret_cast<decltype(g_realFindClose)>(findClose.original());

  // The real Windows directory, one backslash, the name; one shared buffer.
  char* first = WindowsPath("ABCDEFGH.scr");
  CHECK_TEXT(first, windows + "\\ABCDEFGH.scr");
  char* second = WindowsPath("other.scr");
  CHECK(first == second);
  CHECK_TEXT(first, windows + "\\other.scr");
  CHECK(ShortWindowsPath("x.scr") == first);

  // 8.3 names are used as they are, without a search.
  g_searches = g_closes = 0;
  for (const char* name : {"ABCDEFGH.SCR", "saver.scr", "a", "ab_c.s"}) {
    CHECK_TEXT(ShortWindowsPath(name), windows + "\\" + name);
  }
  CHECK_EQ(g_searches, 0);

  // Names that are not 8.3, with no such file: a search, and the long path.
  for (const char* name : {"ABCDEFGHI.scr", "my saver.scr", "a.b.scr", "caf\xE9.scr", "ab~1.scr", "abc.scrx",
                           "abc.scr.", "abc.scr "}) {
    g_searches = g_closes = 0;
    CHECK_TEXT(ShortWindowsPath(name), windows + "\\" + name);
    CHECK_EQ(g_searches, 1);
    CHECK_EQ(g_closes, 0);  // nothing was opened
  }

  // A real file with a long name: the 8.3 alternate name when the file
  // system gives one, else the long path; the search is closed either way.
  const char* longName = "Lumaveil Long Name Saver.scr";
  const std::string longPath = windows + "\\" + longName;
  CHECK(WriteWholeFile(longPath, "saver"));
  const std::string alternate = AlternateNameOf(longPath);
  std::printf("alternate name of \"%s\": \"%s\"\n", longName, alternate.c_str());
  g_searches = g_closes = 0;
  CHECK_TEXT(ShortWindowsPath(longName), alternate.empty() ? longPath : windows + "\\" + alternate);
  CHECK_EQ(g_searches, 1);
  CHECK_EQ(g_closes, 1);
  if (!alternate.empty()) {
    CHECK(alternate.size() <= 12);
    CHECK(IsShortFileName(alternate.c_str()) || alternate.find('~') != std::string::npos);
    CHECK(FileExists(windows + "\\" + alternate));  // the short path names the same file
  }

  // A name the file system already takes as short (the hyphen is allowed
  // there, not in our 8.3 test): found, without an alternate name.
  const std::string hyphenPath = windows + "\\lv-saver.scr";
  CHECK(WriteWholeFile(hyphenPath, "saver"));
  CHECK_TEXT(AlternateNameOf(hyphenPath), "");
  g_searches = g_closes = 0;
  CHECK_TEXT(ShortWindowsPath("lv-saver.scr"), hyphenPath);
  CHECK_EQ(g_searches, 1);
  CHECK_EQ(g_closes, 1);
  DeleteFileA(hyphenPath.c_str());

  // The long file seen without an alternate name: the long path, still closed.
  g_dropAlternateName = true;
  g_searches = g_closes = 0;
  CHECK_TEXT(ShortWindowsPath(longName), longPath);
  CHECK_EQ(g_closes, 1);
  g_dropAlternateName = false;
  DeleteFileA(longPath.c_str());

  // A name that cannot fit the buffer gives an empty path and no search.
  std::string hugeName(300, 'n');
  g_searches = 0;
  CHECK_TEXT(WindowsPath(hugeName.c_str()), "");
  CHECK_TEXT(ShortWindowsPath((hugeName + " x").c_str()), "");
  CHECK_EQ(g_searches, 0);

  // Directories the prefix does not have.
  {
    ImportHook directory("kernel32.dll", "GetWindowsDirectoryA", reinterpret_cast<void*>(&FakeWindowsDirectory));
    CHECK(directory.installed());

    g_fakeDirectory = nullptr;
    g_fakeResult = 0;  // failure
    CHECK_TEXT(WindowsPath("saver.scr"), "c:\\winnt\\saver.scr");

    g_fakeDirectory = "D:\\";
    g_fakeResult = 3;  // a root already ends in a backslash
    CHECK_TEXT(WindowsPath("saver.scr"), "D:\\saver.scr");

    std::string longDirectory = "D:\\" + std::string(197, 'd');  // 200 characters
    g_fakeDirectory = longDirectory.c_str();
    g_fakeResult = 200;
    std::string fits(55, 'n');  // 200 + 1 + 55 = 256: room left for " /s"
    char* path = WindowsPath(fits.c_str());
    CHECK_TEXT(path, longDirectory + "\\" + fits);
    CHECK(AppendText(path, PathCapacity, " /s"));
    CHECK_TEXT(WindowsPath((fits + "n").c_str()), "");
    CHECK_TEXT(ShortWindowsPath((fits + " ").c_str()), "");

    g_fakeDirectory = nullptr;
    g_fakeResult = 300;  // the directory does not fit the buffer at all
    CHECK_TEXT(WindowsPath("saver.scr"), "");
  }
  CHECK_TEXT(WindowsPath("saver.scr"), windows + "\\saver.scr");  // the real one again

  return CheckSummary("system_paths_test");
}
