// RenameAtRestart and DeleteDocumentLater against the prefix: MoveFileExA's
// delayed rename where the system offers it, and the "[Rename]" section of
// WinInit.Ini in the Windows directory where it does not (MoveFileExA made to
// fail, or the file step called directly). The Windows 98 run is a second
// start of this program with Wine reporting that version.
#include "system/restart.h"

#include "installer/run_state.h"
#include "system/post_install.h"
#include "tests/wine/system_support.h"

namespace {
const char* SessionManagerKey = "System\\CurrentControlSet\\Control\\Session Manager";

std::string RestartFile() { return RealWindowsDirectory() + "\\WinInit.Ini"; }

// The delayed renames Wine keeps for the next boot, as one text ("\0" -> "|").
bool ReadPendingRenames(std::wstring& pending, DWORD& type) {
  HKEY key;
  pending.clear();
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  wchar_t data[8192];
  DWORD size = sizeof data;
  LONG status = RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return false;
  pending.assign(data, size / 2);
  return true;
}

void ClearPendingRenames() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  RegDeleteValueA(key, "PendingFileRenameOperations");
  RegCloseKey(key);
}

std::string Printable(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c == 0 ? '|' : (c < 128 ? char(c) : '?');
  return out;
}

std::string g_record;  // where lv_record.exe writes its command lines

// Redirected imports: MoveFileExA as on the 9x family (not available),
// GetWindowsDirectoryA unknown or too long, the mapping calls failing, Sleep
// recorded instead of waited.
BOOL WINAPI MoveFileUnavailable(LPCSTR, LPCSTR, DWORD) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}
UINT g_directoryResult = 0;
UINT WINAPI FakeWindowsDirectory(LPSTR buffer, UINT size) {
  if (size) buffer[0] = 0;
  return g_directoryResult;
}
HANDLE WINAPI MappingFails(HANDLE, LPSECURITY_ATTRIBUTES, DWORD, DWORD, DWORD, LPCSTR) { return nullptr; }
LPVOID WINAPI ViewFails(HANDLE, DWORD, DWORD, DWORD, SIZE_T) { return nullptr; }
DWORD g_slept = 0;
int g_sleeps = 0;
void WINAPI RecordSleep(DWORD ms) {
  g_slept += ms;
  ++g_sleeps;
}

DWORD WINAPI HugeFileSize(HANDLE, LPDWORD high) {
  if (high) *high = 0;
  return 0x7FFFFFF8;  // the file plus a header and a line would pass 2 GiB
}

enum class Fault { None, NoWindowsDirectory, WindowsDirectoryTooLong, MappingFails, ViewFails, FileLocked, HugeFile };

struct RestartCase {
  const char* what;
  const char* before;  // null: no restart file
  Fault fault;
  bool longLine;
  int result;
  const char* after;  // null: no restart file; "=": as before
};

// The document's line as the restart file must hold it.
std::string LineFor(const std::string& path) { return "NUL=" + path + "\r\n"; }

std::string Expand(const char* pattern, const std::string& line) {
  std::string text = pattern;
  size_t at;
  while ((at = text.find("$LINE")) != std::string::npos) text.replace(at, 5, line);
  std::string upper = line;
  CharUpperBuffA(&upper[0], DWORD(upper.size()));
  while ((at = text.find("$UPPER")) != std::string::npos) text.replace(at, 6, upper);
  return text;
}

// Runs one case through RenameAtRestart with MoveFileExA unavailable.
void CheckRestartCase(const RestartCase& c, const std::string& doc) {
  const std::string restartFile = RestartFile();
  DeleteFileA(restartFile.c_str());
  std::string before = c.before ? Expand(c.before, LineFor(doc)) : "";
  if (c.before) WriteWholeFile(restartFile, before);

  std::string existing = c.longLine ? TempDirectory() + std::string(1100, 'x') : doc;
  int result;
  {
    ImportHook move("kernel32.dll", "MoveFileExA", reinterpret_cast<void*>(&MoveFileUnavailable));
    ImportHook directory("kernel32.dll", "GetWindowsDirectoryA", reinterpret_cast<void*>(&FakeWindowsDirectory),
                         c.fault == Fault::NoWindowsDirectory || c.fault == Fault::WindowsDirectoryTooLong);
    g_directoryResult = c.fault == Fault::NoWindowsDirectory ? 0 : 250;
    ImportHook mapping("kernel32.dll", "CreateFileMappingA", reinterpret_cast<void*>(&MappingFails),
                       c.fault == Fault::MappingFails);
    ImportHook view("kernel32.dll", "MapViewOfFile", reinterpret_cast<void*>(&ViewFails), c.fault == Fault::ViewFails);
    ImportHook size("kernel32.dll", "GetFileSize", reinterpret_cast<void*>(&HugeFileSize), c.fault == Fault::HugeFile);
    HANDLE lock = INVALID_HANDLE_VALUE;
    if (c.fault == Fault::FileLocked) {
      lock = CreateFileA(restartFile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    result = RenameAtRestart(existing.c_str(), "NUL");
    if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
  }
  if (result != c.result) std::printf("  case: %s\n", c.what);
  CHECK_EQ(result, c.result);
  std::string after;
  bool exists = ReadWholeFile(restartFile, after);
  if (!c.after) {
    if (exists) std::printf("  case: %s\n", c.what);
    CHECK(!exists);
  } else {
    std::string expected = std::string(c.after) == "=" ? before : Expand(c.after, LineFor(doc));
    if (after != expected) std::printf("  case: %s\n", c.what);
    CHECK_TEXT(after, expected);
  }
}

void CheckRestartFile(const std::string& doc) {
  const RestartCase cases[] = {
      {"no restart file yet", nullptr, Fault::None, false, 1, "[Rename]\r\n$LINE"},
      {"lower-case header with lines: inserted after it", "[rename]\r\nNUL=C:\\old.txt\r\n", Fault::None, false, 1,
       "[rename]\r\n$LINENUL=C:\\old.txt\r\n"},
      {"the same line in another case: unchanged", "[RENAME]\r\n$UPPER",
       Fault::None, false, 1, "="},
      {"no header, last line without a break", "[Other]\r\na=b", Fault::None, false, 1, "[Other]\r\na=b[Rename]\r\n$LINE"},
      {"a line over 1024 bytes: no file", nullptr, Fault::None, true, 0, nullptr},
      {"a line over 1024 bytes: file untouched", "[Rename]\r\nx=y\r\n", Fault::None, true, 0, "="},
      {"no Windows directory: nothing written anywhere", nullptr, Fault::NoWindowsDirectory, false, 0, nullptr},
      {"no Windows directory: the file stays as it was", "[Rename]\r\n", Fault::NoWindowsDirectory, false, 0, "="},
      {"a Windows directory too long for the buffer", nullptr, Fault::WindowsDirectoryTooLong, false, 0, nullptr},
      {"file in use by another program", "[Rename]\r\nx=y\r\n", Fault::FileLocked, false, 0, "="},
      {"mapping fails: old size kept", "[Rename]\r\nx=y\r\n", Fault::MappingFails, false, 0, "="},
      {"mapping fails on a new file: none left behind", nullptr, Fault::MappingFails, false, 0, nullptr},
      {"view fails: old size kept", "[Rename]\r\nx=y\r\n", Fault::ViewFails, false, 0, "="},
      {"a file too big for the sizes: left alone", "[Rename]\r\nx=y\r\n", Fault::HugeFile, false, 0, "="},
  };
  for (const RestartCase& c : cases) CheckRestartCase(c, doc);
  // The case for the windows directory must not have written elsewhere.
  CHECK(!FileExists("c:\\winnt\\WinInit.Ini"));
  CHECK(!FileExists("\\WinInit.Ini"));
  CHECK(!FileExists("WinInit.Ini"));

  // The file step on its own, with another new name: "new=existing".
  DeleteFileA(RestartFile().c_str());
  CHECK_EQ(AddRenameToRestartFile(doc.c_str(), "C:\\renamed.txt"), 1);
  std::string content;
  CHECK(ReadWholeFile(RestartFile(), content));
  CHECK_TEXT(content, "[Rename]\r\nC:\\renamed.txt=" + doc + "\r\n");
  CHECK_EQ(AddRenameToRestartFile(doc.c_str(), "NUL"), 1);
  CHECK(ReadWholeFile(RestartFile(), content));
  CHECK_TEXT(content, "[Rename]\r\n" + LineFor(doc) + "C:\\renamed.txt=" + doc + "\r\n");
  DeleteFileA(RestartFile().c_str());
}

// MoveFileExA's delayed deletion works in the prefix: RenameAtRestart leaves
// WinInit.Ini alone and Wine records a deletion (an empty target, not a
// rename onto the NUL device) for the next boot.
void CheckDelayedRename(const std::string& doc) {
  DeleteFileA(RestartFile().c_str());
  ClearPendingRenames();
  CHECK(RenameAtRestart(doc.c_str(), "NUL") != 0);
  CHECK(!FileExists(RestartFile()));
  std::wstring pending;
  DWORD type = 0;
  CHECK(ReadPendingRenames(pending, type));
  CHECK_EQ(type, REG_MULTI_SZ);
  CHECK_TEXT(Printable(pending), "\\??\\" + doc + "|||");  // an empty target: deleted at restart
  ClearPendingRenames();
}

// Hands the document to lv_record.exe through post-install action 3, so that
// it is pending for DeleteDocumentLater.
bool OpenDocumentForDeletion(const std::string& doc) {
  DeleteFileA(g_record.c_str());
  WriteWholeFile(doc, "document");
  lstrcpynA(g_run.DocumentTempPath, doc.c_str(), sizeof g_run.DocumentTempPath);
  g_texts.PostInstallAction = ActionOpenDocument;
  CHECK(!RunPostInstallAction());
  std::string record;
  return WaitForRecord(g_record, record);
}

void CheckDeleteDocumentLater() {
  const std::string doc = TempDirectory() + "lv_later_doc.lvdoc";
  std::string command = "\"" + ProgramDirectory() + "lv_record.exe\" \"%1\"";
  CHECK(RegisterFileType(".lvdoc", "LvDocTest", command.c_str()));

  // Nothing pending: nothing happens, not even the pause.
  WriteWholeFile(doc, "document");
  lstrcpynA(g_run.DocumentTempPath, doc.c_str(), sizeof g_run.DocumentTempPath);
  {
    ImportHook sleep("kernel32.dll", "Sleep", reinterpret_cast<void*>(&RecordSleep));
    g_sleeps = 0;
    DeleteDocumentLater();
    CHECK_EQ(g_sleeps, 0);
  }
  CHECK(FileExists(doc));

  // Opened: deleted after a real pause of five seconds.
  CHECK(OpenDocumentForDeletion(doc));
  DWORD start = GetTickCount();
  DeleteDocumentLater();
  DWORD waited = GetTickCount() - start;
  CHECK(waited >= 4900);
  CHECK(!FileExists(doc));
  std::printf("  DeleteDocumentLater took %lu ms\n", waited);

  // Still in use: scheduled with MoveFileExA, then through WinInit.Ini.
  for (bool moveAvailable : {true, false}) {
    CHECK(OpenDocumentForDeletion(doc));
    ClearPendingRenames();
    DeleteFileA(RestartFile().c_str());
    HANDLE inUse = CreateFileA(doc.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK(inUse != INVALID_HANDLE_VALUE);
    {
      ImportHook sleep("kernel32.dll", "Sleep", reinterpret_cast<void*>(&RecordSleep));
      ImportHook move("kernel32.dll", "MoveFileExA", reinterpret_cast<void*>(&MoveFileUnavailable), !moveAvailable);
      g_slept = 0;
      g_sleeps = 0;
      DeleteDocumentLater();
      CHECK_EQ(g_sleeps, 1);
      CHECK_EQ(g_slept, 5000);
    }
    CloseHandle(inUse);
    CHECK(FileExists(doc));
    std::wstring pending;
    DWORD type = 0;
    std::string content;
    if (moveAvailable) {
      CHECK(ReadPendingRenames(pending, type));
      CHECK_TEXT(Printable(pending), "\\??\\" + doc + "|||");  // an empty target: deleted at restart
      CHECK(!FileExists(RestartFile()));
    } else {
      CHECK(!ReadPendingRenames(pending, type));
      CHECK(ReadWholeFile(RestartFile(), content));
      CHECK_TEXT(content, "[Rename]\r\n" + LineFor(doc));
    }
    ClearPendingRenames();
    DeleteFileA(RestartFile().c_str());
    DeleteFileA(doc.c_str());
  }
  RemoveFileType(".lvdoc", "LvDocTest");
}

// The 9x family: Wine still offers the delayed rename to a program that it
// tells it is Windows 98; with MoveFileExA unavailable, as on that family,
// the restart file takes the line.
int RunAsWindows98(const std::string& doc) {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  CHECK_EQ(version.dwPlatformId, VER_PLATFORM_WIN32_WINDOWS);
  CheckDelayedRename(doc);
  DeleteFileA(RestartFile().c_str());
  {
    ImportHook move("kernel32.dll", "MoveFileExA", reinterpret_cast<void*>(&MoveFileUnavailable));
    CHECK_EQ(RenameAtRestart(doc.c_str(), "NUL"), 1);
  }
  std::string content;
  CHECK(ReadWholeFile(RestartFile(), content));
  CHECK_TEXT(content, "[Rename]\r\n" + LineFor(doc));
  DeleteFileA(RestartFile().c_str());
  return CheckSummary("system_restart_test (as Windows 98)");
}
}  // namespace

int main(int argc, char** argv) {
  // Wine keeps the temporary directory's long name; the checks compare texts.
  const std::string doc = TempDirectory() + "lv_restart_doc.txt";
  WriteWholeFile(doc, "document");
  if (IsWindows98Child(argc, argv)) {
    int status = RunAsWindows98(doc);
    DeleteFileA(doc.c_str());
    return status;
  }
  g_record = TempDirectory() + "lv_restart_record.txt";
  SetEnvironmentVariableA("LV_RECORD", g_record.c_str());

  CheckDelayedRename(doc);
  CheckRestartFile(doc);
  CheckDeleteDocumentLater();
  CHECK_EQ(RunSelfAsWindows98(), 0);

  DeleteFileA(doc.c_str());
  DeleteFileA(g_record.c_str());
  return CheckSummary("system_restart_test");
}
