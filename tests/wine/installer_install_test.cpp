// The installation procedure under Wine: the name checks that keep every
// write inside its directory, the bounds of the patch copy, the series of
// additional entries, and whole runs of installers made from the program
// next to this one with payloads written here, answered from outside.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "installer/install.h"
#include "installer/run_state.h"
#include "platform/bytes.h"
#include "system/paths.h"
#include "system/text.h"
#include "tests/wine/check.h"
#include "tests/wine/installer_support.h"

namespace {

char g_dir[MAX_PATH];  // this program's directory, with its backslash

void PathIn(char* path, const char* directory, const char* name) { wsprintfA(path, "%s%s", directory, name); }

bool FileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool WriteWholeFile(const char* path, const void* data, DWORD size) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(file, data, size, &written, nullptr);
  CloseHandle(file);
  return written == size;
}

DWORD ReadWholeFile(const char* path, void* data, DWORD capacity) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD got = 0;
  ReadFile(file, data, capacity, &got, nullptr);
  CloseHandle(file);
  return got;
}

// --- Names ---

void TestPlainFileNames() {
  struct Case {
    const char* name;
    bool plain;
  };
  const Case cases[] = {
      {"Aurora.scr", true},   {"readme.txt", true},  {"a", true},        {"con.txt.scr", false},
      {"console.scr", true},  {"com0.scr", true},    {"lpt10.scr", true}, {"", false},
      {"..", false},          {"a..b.scr", false},   {"..\\x.scr", false}, {"sub\\x.scr", false},
      {"sub/x.scr", false},   {"c:x.scr", false},    {"CON", false},      {"con.scr", false},
      {"Nul.txt", false},     {"aux .scr", false},   {"PRN", false},      {"COM1.scr", false},
      {"lpt9", false},
  };
  for (const Case& c : cases) {
    if (IsPlainFileName(c.name) != c.plain) std::printf("  name \"%s\"\n", c.name);
    CHECK_EQ(IsPlainFileName(c.name), c.plain);
  }
}

void TestSaverTargetPath() {
  char path[PathCapacity];
  CHECK(SaverTargetPath("Aurora.scr", path));
  CHECK(std::strcmp(path, WindowsPath("Aurora.scr")) == 0);
  CHECK(SaverTargetPath("aurora.SCR", path));

  const char* refused[] = {".scr", "1", "scr", "Aurora.exe", "..\\Aurora.scr", "c:Aurora.scr", "a/b.scr",
                           "CON.scr", "x..scr"};
  for (const char* name : refused) CHECK(!SaverTargetPath(name, path));

  // The longest name that fits with " /s" behind the path, and one more.
  int32_t room = PathCapacity - 1 - PathSuffixRoom - int32_t(std::strlen(WindowsPath("")));
  static char name[400];
  std::memset(name, 'n', sizeof name);
  CopyText(name + room - 4, ".scr", 5);
  CHECK(SaverTargetPath(name, path));
  CHECK_EQ(std::strlen(path) + PathSuffixRoom, PathCapacity - 1);
  std::memset(name, 'n', sizeof name);
  CopyText(name + room - 3, ".scr", 5);
  CHECK(!SaverTargetPath(name, path));
}

void TestDocumentFileName() {
  struct Case {
    const char* documentPath;
    const char* name;  // null: no document can be provided
  };
  const Case cases[] = {
      {"C:\\Docs\\Aurora\\readme.txt", "readme.txt"},
      {"readme.txt", "readme.txt"},
      {"\\readme.txt", "readme.txt"},
      {"C:\\Docs\\", nullptr},
      {"", nullptr},
      {"C:\\Docs\\..", nullptr},
      {"notes/../../escape.txt", nullptr},
      {"C:readme.txt", nullptr},
      {"C:\\Docs\\NUL.txt", nullptr},
      {"http://example.org/x.html", nullptr},
  };
  static uint8_t field[DocumentPathSize];
  for (const Case& c : cases) {
    std::memset(field, 0, sizeof field);
    std::memcpy(field, c.documentPath, std::strlen(c.documentPath));
    const char* name = DocumentFileName(field);
    if (!c.name) {
      CHECK(name == nullptr);
    } else {
      CHECK(name && std::strcmp(name, c.name) == 0);
    }
  }
  // A path that fills its field without a terminating zero is not read past it.
  std::memset(field, 'a', sizeof field);
  CHECK(DocumentFileName(field) == nullptr);
  field[DocumentPathSize - 1] = 0;
  CHECK(DocumentFileName(field) != nullptr);
}

// --- Patch ranges ---

constexpr int32_t SourceSize = 20000;
constexpr int32_t TargetSize = 12000;
uint8_t g_source[SourceSize], g_target[TargetSize], g_result[40000];

struct PatchCase {
  const char* what;
  int32_t enabled, source1, target1, length1, source2, target2, length2;
};

void RunPatchCase(const PatchCase& c, const char* sourcePath, const char* targetPath) {
  WriteWholeFile(targetPath, g_target, TargetSize);
  SetInfoInt(g_installInfo, PatchEnabledAt, c.enabled);
  SetInfoInt(g_installInfo, PatchSource1At, c.source1);
  SetInfoInt(g_installInfo, PatchTarget1At, c.target1);
  SetInfoInt(g_installInfo, PatchLength1At, c.length1);
  SetInfoInt(g_installInfo, PatchSource2At, c.source2);
  SetInfoInt(g_installInfo, PatchTarget2At, c.target2);
  SetInfoInt(g_installInfo, PatchLength2At, c.length2);
  FileHandle installer = FileOpenRead(sourcePath);
  HANDLE target = CreateFileA(targetPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  CopyPatchRanges(installer, reinterpret_cast<FileHandle>(target));
  // Enabled, the new file is left at its end, where its directory will go.
  DWORD position = SetFilePointer(target, 0, nullptr, FILE_CURRENT);
  DWORD size = GetFileSize(target, nullptr);
  if (c.enabled) CHECK_EQ(position, size);
  CloseHandle(target);
  FileClose(installer);
}

// What the target must hold after a case: the original bytes with the
// ranges copied over it, each only as far as the source has bytes.
int32_t ExpectedPatch(const PatchCase& c, uint8_t* expected) {
  std::memcpy(expected, g_target, TargetSize);
  int32_t size = TargetSize;
  auto apply = [&](int32_t from, int32_t to, int32_t length) {
    if (!c.enabled || length <= 0 || length > PatchLengthMax || from < 0 || to < 0) return;
    int32_t available = from < SourceSize ? SourceSize - from : 0;
    int32_t n = length < available ? length : available;
    if (n <= 0) return;
    if (to > size) std::memset(expected + size, 0, to - size);
    std::memcpy(expected + to, g_source + from, n);
    if (to + n > size) size = to + n;
  };
  if (c.target1) apply(c.source1, c.target1, c.length1);
  apply(c.source2, c.target2, c.length2);
  return size;
}

void TestPatchRanges() {
  char sourcePath[MAX_PATH], targetPath[MAX_PATH];
  PathIn(sourcePath, g_dir, "lv_patch_source.bin");
  PathIn(targetPath, g_dir, "lv_patch_target.bin");
  for (int32_t i = 0; i < SourceSize; ++i) g_source[i] = uint8_t(i * 7 + 3);
  for (int32_t i = 0; i < TargetSize; ++i) g_target[i] = uint8_t(0xA0 ^ i);
  WriteWholeFile(sourcePath, g_source, SourceSize);

  const PatchCase cases[] = {
      {"both ranges", 1, 100, 10, 50, 5000, 2000, 300},
      {"disabled", 0, 100, 10, 50, 5000, 2000, 300},
      {"first target 0 turns the first range off", 1, 100, 0, 50, 5000, 2000, 300},
      {"second range to offset 0", 1, 100, 10, 50, 7000, 0, 16},
      {"the longest range", 1, 0, 100, PatchLengthMax, 1, 9000, 1},
      {"a range over the buffer is skipped", 1, 0, 100, PatchLengthMax + 1, 1, 9000, 1},
      {"a negative length is skipped", 1, 0, 100, -5, 1, 9000, 1},
      {"a short read writes only what was read", 1, SourceSize - 10, 40, 100, 3, 3000, 5},
      {"a source past its end writes nothing", 1, SourceSize + 50, 40, 100, 3, 3000, 5},
      {"a negative source is skipped", 1, -1, 40, 100, 3, 3000, 5},
      {"a target past the end grows the file", 1, 10, TargetSize + 100, 20, 3, 3000, 5},
      {"a negative target is skipped", 1, 10, -40, 20, 3, 3000, 5},
  };
  static uint8_t expected[40000];
  for (const PatchCase& c : cases) {
    RunPatchCase(c, sourcePath, targetPath);
    int32_t expectedSize = ExpectedPatch(c, expected);
    DWORD got = ReadWholeFile(targetPath, g_result, sizeof g_result);
    bool same = int32_t(got) == expectedSize && std::memcmp(g_result, expected, got) == 0;
    if (!same) std::printf("  patch case: %s (size %lu, expected %ld)\n", c.what, got, long(expectedSize));
    CHECK(same);
  }
  DeleteFileA(sourcePath);
  DeleteFileA(targetPath);
  std::memset(g_installInfo, 0, InstallInfoSize);
}

// --- Additional entries ---

Archive g_builder;

// A source archive holding the named plain entries, each a few bytes.
bool WriteSourceArchive(const char* path, const char* const* names, int count) {
  ResetArchive(g_builder);
  FileHandle file = CreateTargetArchive(g_builder, path);
  if (file == InvalidFile) return false;
  const uint8_t data[5] = {1, 2, 3, 4, 5};
  bool stored = true;
  for (int i = 0; i < count; ++i) stored = StorePreparedEntry(g_builder, names[i], data, 5, 5, StoragePlain, 0, -1) && stored;
  CloseArchiveFile(g_builder, file);
  return stored;
}

void TestAdditionalEntries() {
  char sourcePath[MAX_PATH], targetPath[MAX_PATH];
  PathIn(sourcePath, g_dir, "lv_series_source.bin");
  PathIn(targetPath, g_dir, "lv_series_target.bin");

  struct Case {
    const char* what;
    const char* entries[6];
    int count;
    int latchBefore;
    const char* copied[4];
    int copiedCount;
  };
  const Case cases[] = {
      {"a gap ends the series", {"SAVER", "ADDTL", "ADDTL01", "ADDTL03"}, 4, 0, {"ADDTL", "ADDTL01"}, 2},
      {"no base, nothing copied", {"SAVER", "ADDTL01", "ADDTL02"}, 3, 0, {}, 0},
      {"a whole series", {"ADDTL", "ADDTL01", "ADDTL02", "ADDTL03"}, 4, 0, {"ADDTL", "ADDTL01", "ADDTL02", "ADDTL03"}, 4},
      {"a set latch copies nothing and stays set", {"ADDTL", "ADDTL01"}, 2, 1, {}, 0},
  };
  for (const Case& c : cases) {
    CHECK(WriteSourceArchive(sourcePath, c.entries, c.count));
    ResetArchive(g_archive);
    ArmFailureLatch(g_archive, 1);
    FileHandle source = OpenSourceArchive(g_archive, sourcePath);
    FileHandle target = CreateTargetArchive(g_archive, targetPath);
    CHECK(source != InvalidFile && target != InvalidFile);
    g_archive.latch.Failed = c.latchBefore;
    CopyAdditionalEntries("ADDTL");
    CHECK_EQ(g_archive.latch.Failed, c.latchBefore);
    CHECK_EQ(g_archive.writer.TargetCount, c.copiedCount);
    for (int i = 0; i < c.copiedCount && i < g_archive.writer.TargetCount; ++i) {
      char name[17];
      RecordName(g_archive.writer.directory + i * EntryRecordSize, name);
      if (std::strcmp(name, c.copied[i])) std::printf("  %s: entry %d is %s\n", c.what, i, name);
      CHECK(std::strcmp(name, c.copied[i]) == 0);
    }
    CloseArchiveFile(g_archive, target);
    CloseArchiveFile(g_archive, source);
  }
  DeleteFileA(sourcePath);
  DeleteFileA(targetPath);
}

// --- Whole installations ---

uint8_t g_stub[65536];
DWORD g_stubSize;
uint8_t g_info[InstallInfoSize];

void SetText(int32_t slot, const char* text) {
  CopyText(reinterpret_cast<char*>(g_info + TextSlotsAt + slot * TextSlotSize), text, TextSlotSize);
  g_info[TextPresentAt + slot] = 1;
}

void SetField(int32_t at, int32_t size, const char* text) {
  std::memset(g_info + at, 0, size);
  CopyText(reinterpret_cast<char*>(g_info + at), text, size);
}

// The record every run starts from: no question, a finish and a failure
// text, nothing activated, no action.
void BaseInfo(const char* saverName) {
  std::memset(g_info, 0, sizeof g_info);
  SetText(1, "Installed.");
  SetText(2, "Could not install.");
  SetField(SaverNameAt, SaverNameSize, saverName);
  SetInfoInt(g_info, DoNotActivateAt, 1);
}

// The stub next to this program with a payload: the required entries, the
// record, and optionally the document.
bool WriteInstaller(const char* path, bool withDocument) {
  ResetArchive(g_builder);
  FileHandle file = CreateTargetArchive(g_builder, path);
  if (file == InvalidFile) return false;
  bool ok = AppendTargetBytes(g_builder, g_stub, int32_t(g_stubSize));
  static const uint8_t saver[] = "MZ the screensaver program";
  static const uint8_t content[] = "content";
  ok = ok && StorePreparedEntry(g_builder, "SAVER", saver, sizeof saver, sizeof saver, StoragePlain, 0, -1);
  for (const char* name : {"STUB", "MOVIE", "ZETT", "KMDL"})
    ok = ok && StorePreparedEntry(g_builder, name, content, sizeof content, sizeof content, StoragePlain, 0, -1);
  if (withDocument) {
    static const uint8_t document[] = "Read me.";
    ok = ok && StorePreparedEntry(g_builder, "LESMI", document, 8, 8, StoragePlain, 0, -1);
  }
  ok = ok && StoreMemoryEntry(g_builder, g_info, InstallInfoSize, "INFO", TransferCompress);
  CloseArchiveFile(g_builder, file);
  return ok;
}

struct RunResult {
  bool exited;
  int boxes;
  char texts[4][128];
};

BOOL CALLBACK FindBoxOf(HWND window, LPARAM lParam) {
  auto* found = reinterpret_cast<HWND*>(lParam);
  char className[64];
  GetClassNameA(window, className, sizeof className);
  if (std::strcmp(className, "#32770") || GetParent(window) != found[0] || !IsWindowVisible(window)) return TRUE;
  found[1] = window;
  return FALSE;
}

// Runs an installer and answers each of its boxes through the answer
// message, noting their texts, until it exits.
RunResult RunInstallerFile(const char* path) {
  RunResult result = {};
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  char commandLine[MAX_PATH + 2];
  wsprintfA(commandLine, "\"%s\"", path);
  if (!CreateProcessA(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return result;
  HWND lastBox = nullptr;
  for (int waited = 0; waited < 20000; waited += 50) {
    if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0) {
      result.exited = true;
      break;
    }
    HWND found[2] = {FindWindowA("LumaveilsaverInstaller", nullptr), nullptr};
    if (!found[0]) continue;
    EnumWindows(FindBoxOf, reinterpret_cast<LPARAM>(found));
    if (!found[1] || found[1] == lastBox) continue;
    lastBox = found[1];
    if (result.boxes < 4) GetDlgItemTextA(found[1], 0xFFFF, result.texts[result.boxes], 128);
    ++result.boxes;
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(found[0], MsgAnswerBox, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
  }
  if (!result.exited) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
}

void UninstallKeyName(char* keyName, const char* saverFileName) {
  wsprintfA(keyName, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\UnInstall\\%s", saverFileName);
}

bool UninstallKeyExists(const char* saverFileName) {
  char keyName[300];
  UninstallKeyName(keyName, saverFileName);
  HKEY key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, keyName, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// What an earlier run may have left: the file in the Windows directory
// (path) and the uninstall key.
void ForgetInstallation(const char* path, const char* saverFileName) {
  char keyName[300];
  UninstallKeyName(keyName, saverFileName);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyName);
  DeleteFileA(path);
}

void CheckOneBox(const RunResult& run, const char* text) {
  CHECK(run.exited);
  CHECK_EQ(run.boxes, 1);
  if (run.boxes >= 1) {
    if (std::strcmp(run.texts[0], text)) std::printf("  box said: %s\n", run.texts[0]);
    CHECK(std::strcmp(run.texts[0], text) == 0);
  }
}

void TestInstallations() {
  char stubPath[MAX_PATH], installer[MAX_PATH], windows[MAX_PATH], path[MAX_PATH];
  PathIn(stubPath, g_dir, "installer.exe");
  g_stubSize = ReadWholeFile(stubPath, g_stub, sizeof g_stub);
  CHECK(g_stubSize > 0 && g_stubSize < sizeof g_stub);
  if (!g_stubSize || g_stubSize == sizeof g_stub) return;
  PathIn(installer, g_dir, "lv_install_case.exe");
  GetWindowsDirectoryA(windows, MAX_PATH);

  // A name that would leave the Windows directory fails before anything is written.
  wsprintfA(path, "%s\\..\\LvEscape.scr", windows);
  ForgetInstallation(path, "..\\LvEscape.scr");
  BaseInfo("..\\LvEscape");
  CHECK(WriteInstaller(installer, false));
  CheckOneBox(RunInstallerFile(installer), "Could not install.");
  CHECK(!FileExists(path));
  CHECK(!UninstallKeyExists("..\\LvEscape.scr"));

  // So does a device name, and an empty name.
  ForgetInstallation("", "COM1.scr");
  BaseInfo("COM1");
  CHECK(WriteInstaller(installer, false));
  CheckOneBox(RunInstallerFile(installer), "Could not install.");
  CHECK(!UninstallKeyExists("COM1.scr"));
  ForgetInstallation("", ".scr");
  BaseInfo("");
  CHECK(WriteInstaller(installer, false));
  CheckOneBox(RunInstallerFile(installer), "Could not install.");
  CHECK(!UninstallKeyExists(".scr"));

  // A document whose name would leave the temporary directory is not
  // provided: the installation succeeds without the post-install action.
  char temp[MAX_PATH], escaped[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  wsprintfA(escaped, "%s..\\lv_escape.txt", temp);
  DeleteFileA(escaped);
  wsprintfA(path, "%s\\LvDocName.scr", windows);
  ForgetInstallation(path, "LvDocName.scr");
  BaseInfo("LvDocName");
  SetInfoInt(g_info, PostInstallActionAt, ActionOpenDocument);
  SetField(DocumentPathAt, DocumentPathSize, "notes/../../lv_escape.txt");
  CHECK(WriteInstaller(installer, true));
  CheckOneBox(RunInstallerFile(installer), "Installed.");
  wsprintfA(path, "%s\\LvDocName.scr", windows);
  CHECK(FileExists(path));
  CHECK(!FileExists(escaped));
  CHECK(UninstallKeyExists("LvDocName.scr"));
  DeleteFileA(path);

  // A patch range reaching past the end of the installer file copies only
  // the bytes that are there; one longer than the buffer is skipped.
  BaseInfo("LvPatch");
  SetInfoInt(g_info, PatchEnabledAt, 1);
  SetInfoInt(g_info, PatchSource1At, 0);
  SetInfoInt(g_info, PatchTarget1At, 4);
  SetInfoInt(g_info, PatchLength1At, PatchLengthMax + 1);
  CHECK(WriteInstaller(installer, false));
  // The second range starts a few bytes before the end of the installer
  // file, whose size moves a little with the record that names the range.
  static uint8_t built[70000];
  SetInfoInt(g_info, PatchTarget2At, 10);
  SetInfoInt(g_info, PatchLength2At, 100);
  int32_t size = int32_t(ReadWholeFile(installer, built, sizeof built));
  int32_t source2 = 0, available = 0;
  for (int attempt = 0; attempt < 8 && (available <= 0 || available > 12); ++attempt) {
    source2 = size - 6;
    SetInfoInt(g_info, PatchSource2At, source2);
    CHECK(WriteInstaller(installer, false));
    size = int32_t(ReadWholeFile(installer, built, sizeof built));
    available = size - source2;
  }
  CHECK(available > 0 && available <= 12);
  CheckOneBox(RunInstallerFile(installer), "Installed.");
  wsprintfA(path, "%s\\LvPatch.scr", windows);
  static uint8_t installed[4096];
  DWORD installedSize = ReadWholeFile(path, installed, sizeof installed);
  static const uint8_t saver[] = "MZ the screensaver program";
  CHECK(installedSize > 40);
  CHECK(std::memcmp(installed, saver, 10) == 0);  // range 1 skipped
  CHECK(std::memcmp(installed + 10, built + source2, available) == 0);
  CHECK(std::memcmp(installed + 10 + available, saver + 10 + available, sizeof saver - 10 - available) == 0);
  DeleteFileA(path);

  // A screensaver file that cannot be replaced is kept as it was.
  wsprintfA(path, "%s\\LvBusy.scr", windows);
  ForgetInstallation(path, "LvBusy.scr");
  CHECK(WriteWholeFile(path, "old", 3));
  HANDLE busy = CreateFileA(path, GENERIC_READ, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  CHECK(busy != INVALID_HANDLE_VALUE);
  BaseInfo("LvBusy");
  CHECK(WriteInstaller(installer, false));
  CheckOneBox(RunInstallerFile(installer), "Could not install.");
  CloseHandle(busy);
  char kept[8] = {};
  CHECK_EQ(ReadWholeFile(path, kept, sizeof kept), 3u);
  CHECK(std::strcmp(kept, "old") == 0);
  CHECK(!UninstallKeyExists("LvBusy.scr"));
  DeleteFileA(path);

  DeleteFileA(installer);
}

}  // namespace

int main() {
  UnmanagedWindows("lv_install_case.exe");
  GetModuleFileNameA(nullptr, g_dir, MAX_PATH);
  *(std::strrchr(g_dir, '\\') + 1) = 0;
  ResetInstallerTexts(g_texts);
  ResetArchive(g_archive);
  TestPlainFileNames();
  TestSaverTargetPath();
  TestDocumentFileName();
  TestPatchRanges();
  TestAdditionalEntries();
  TestInstallations();
  return CheckSummary("installer_install_test");
}
