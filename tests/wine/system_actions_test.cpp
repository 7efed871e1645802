// The post-install actions and the file-type look-up against the prefix's
// registry, with lv_record.exe as the program that gets started: it writes
// its command line to a file, which is what the checks read.
#include "system/post_install.h"

#include "installer/run_state.h"
#include "tests/wine/system_support.h"

namespace {
std::string g_record;   // lv_record.exe's output
std::string g_helper;   // lv_record.exe in the build directory
std::string g_windows;  // the real Windows directory

// WinExec as the module calls it: counted and passed on, or answered with a
// fixed result without starting anything.
int g_execs = 0;
std::string g_lastExec;
UINT g_fakeExecResult = 0;  // 0: pass on
decltype(&WinExec) g_realWinExec = nullptr;
UINT WINAPI CountingWinExec(LPCSTR line, UINT show) {
  ++g_execs;
  g_lastExec = line;
  if (g_fakeExecResult) return g_fakeExecResult;
  return g_realWinExec(line, show);
}

int g_sleeps = 0;
void WINAPI RecordSleep(DWORD) { ++g_sleeps; }

const char* g_fakeDirectory = nullptr;
UINT WINAPI FakeWindowsDirectory(LPSTR buffer, UINT size) {
  lstrcpynA(buffer, g_fakeDirectory, int(size));
  return UINT(lstrlenA(g_fakeDirectory));
}

// The command line the started helper saw, "" when nothing was started.
std::string Recorded() {
  std::string content;
  if (!WaitForRecord(g_record, content)) return "";
  DeleteFileA(g_record.c_str());
  return content.substr(0, content.size() - 1);
}

void StartFresh() {
  DeleteFileA(g_record.c_str());
  g_execs = 0;
  g_lastExec.clear();
}

bool SetDefaultValue(const char* keyName, DWORD type, const std::string& data, DWORD size) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, keyName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)) return false;
  LONG status = RegSetValueExA(key, nullptr, 0, type, reinterpret_cast<const BYTE*>(data.data()), size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

const char* TestExtension = ".lvtest";
const char* TestType = "LvTestFile";

void CheckReadRegistryString() {
  const char* key = "LvRegistryStringTest";
  struct Case {
    const char* what;
    DWORD type;
    std::string data;  // stored with its NUL unless noNul
    bool noNul;
    const char* expected;  // null: none
  } cases[] = {
      {"plain text", REG_SZ, "some text", false, "some text"},
      {"empty text", REG_SZ, "", false, ""},
      {"255 characters fill the buffer", REG_SZ, std::string(255, 'a'), false, "255"},
      {"256 characters do not fit", REG_SZ, std::string(256, 'a'), false, nullptr},
      {"stored without its NUL", REG_SZ, "abc", true, "abc"},
      {"256 bytes without a NUL", REG_SZ, std::string(256, 'a'), true, nullptr},
      {"expanded", REG_EXPAND_SZ, "%LV_SHORT%\\x", false, "short\\x"},
      {"expansion of 255 characters", REG_EXPAND_SZ, "%LV_PAD250%12345", false, "255"},
      {"expansion needing more than 256 bytes", REG_EXPAND_SZ, "%LV_PAD250%123456", false, nullptr},
      {"unknown references stay", REG_EXPAND_SZ, "%LV_UNSET_VARIABLE%", false, "%LV_UNSET_VARIABLE%"},
      {"REG_SZ is not expanded", REG_SZ, "%LV_SHORT%", false, "%LV_SHORT%"},
  };
  SetEnvironmentVariableA("LV_SHORT", "short");
  SetEnvironmentVariableA("LV_PAD250", std::string(250, 'p').c_str());
  for (const Case& c : cases) {
    // A byte that is not NUL behind the counted data keeps the registry
    // from adding one.
    std::string stored = c.data + (c.noNul ? "X" : std::string(1, '\0'));
    CHECK(SetDefaultValue(key, c.type, stored, DWORD(c.data.size() + (c.noNul ? 0 : 1))));
    const char* value = ReadRegistryString(HKEY_CLASSES_ROOT, key);
    std::string expected = !c.expected ? "<none>" : std::string(c.expected) == "255" ? "" : c.expected;
    if (c.expected && std::string(c.expected) == "255") {
      expected = c.type == REG_EXPAND_SZ ? std::string(250, 'p') + "12345" : std::string(255, 'a');
    }
    if ((value ? std::string(value) : "<none>") != expected) std::printf("  case: %s\n", c.what);
    CHECK_TEXT(value ? value : "<none>", expected);
  }
  RegDeleteKeyA(HKEY_CLASSES_ROOT, key);
  CHECK(ReadRegistryString(HKEY_CLASSES_ROOT, key) == nullptr);  // no key
  HKEY empty;
  RegCreateKeyExA(HKEY_CLASSES_ROOT, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &empty, nullptr);
  RegCloseKey(empty);
  CHECK(ReadRegistryString(HKEY_CLASSES_ROOT, key) == nullptr);  // no default value
  RegDeleteKeyA(HKEY_CLASSES_ROOT, key);
}

void CheckOpenWithAssociation(const std::string& doc) {
  const std::string h = "\"" + g_helper + "\"";
  SetEnvironmentVariableA("LV_HELPERS", ProgramDirectory().substr(0, ProgramDirectory().size() - 1).c_str());
  struct Case {
    std::string command;
    DWORD type;
    std::string line;  // what the helper must see
  } cases[] = {
      {h + " \"%1\"", REG_SZ, h + " \"" + doc + "\""},
      {h + " %1", REG_SZ, h + " " + doc},
      {h, REG_SZ, h + " " + doc},
      {h + " %*", REG_SZ, h + "    " + doc},  // "%*" became two spaces; then a space and the path
      {h + " \"%1\" %*", REG_SZ, h + " \"" + doc + "\"   "},
      {"%LV_HELPERS%\\lv_record.exe \"%1\"", REG_EXPAND_SZ, g_helper + " \"" + doc + "\""},
  };
  for (const Case& c : cases) {
    CHECK(RegisterFileType(TestExtension, TestType, c.command.c_str(), c.type));
    StartFresh();
    CHECK(OpenWithAssociation(doc.c_str(), TestExtension));
    CHECK_EQ(g_execs, 1);
    CHECK_TEXT(Recorded(), c.line);
  }

  // Failures: nothing is started.
  RemoveFileType(TestExtension, TestType);
  StartFresh();
  CHECK(!OpenWithAssociation(doc.c_str(), TestExtension));  // no such file type
  CHECK(SetDefaultValue(TestExtension, REG_SZ, std::string(TestType) + '\0', DWORD(std::strlen(TestType) + 1)));
  CHECK(!OpenWithAssociation(doc.c_str(), TestExtension));  // a type without an open command
  CHECK(RegisterFileType(TestExtension, TestType, (h + " " + std::string(300, 'a')).c_str()));
  CHECK(!OpenWithAssociation(doc.c_str(), TestExtension));  // a command over 256 bytes
  CHECK(RegisterFileType(TestExtension, TestType, (h + " \"%1\"").c_str()));
  std::string longPath = TempDirectory() + std::string(384 - 3 - h.size() - TempDirectory().size(), 'p');
  CHECK(!OpenWithAssociation(longPath.c_str(), TestExtension));  // 384 characters: no room for the NUL
  CHECK_EQ(g_execs, 0);
  longPath.pop_back();
  g_fakeExecResult = 33;  // 383 characters fit
  CHECK(OpenWithAssociation(longPath.c_str(), TestExtension));
  CHECK_EQ(g_lastExec.size(), 383u);

  // WinExec's result: 32 and above is success.
  g_fakeExecResult = 31;
  CHECK(!OpenWithAssociation(doc.c_str(), TestExtension));
  g_fakeExecResult = 32;
  CHECK(OpenWithAssociation(doc.c_str(), TestExtension));
  g_fakeExecResult = 0;
}

void CheckOpenDocument(const std::string& doc) {
  const std::string h = "\"" + g_helper + "\"";
  CHECK(RegisterFileType(TestExtension, TestType, (h + " \"%1\"").c_str()));

  // A URL goes to the ".html" type, whatever its own ending.
  HKEY key;
  char savedHtml[256] = "";
  LONG savedSize = sizeof savedHtml;
  bool hadHtml = RegQueryValueA(HKEY_CLASSES_ROOT, ".html", savedHtml, &savedSize) == ERROR_SUCCESS;
  CHECK(RegisterFileType(".html", "LvHtmlTest", (h + " %1").c_str()));
  StartFresh();
  CHECK(OpenDocument("http://example.org/readme.lvtest"));
  CHECK_TEXT(Recorded(), h + " http://example.org/readme.lvtest");
  RemoveFileType(".html", "LvHtmlTest");
  if (hadHtml && RegCreateKeyExA(HKEY_CLASSES_ROOT, ".html", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) == 0) {
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(savedHtml), DWORD(std::strlen(savedHtml) + 1));
    RegCloseKey(key);
  }

  // The extension is the text from the last full stop.
  StartFresh();
  CHECK(OpenDocument(doc.c_str()));
  CHECK_TEXT(Recorded(), h + " \"" + doc + "\"");
  CHECK(!OpenDocument("C:\\dir.lvtest\\readme"));  // ".lvtest\readme" is no registered type
  CHECK(!OpenDocument("C:\\dir\\readme"));  // no full stop at all
  CHECK_EQ(g_execs, 1);
}

void CheckActions(const std::string& doc) {
  const std::string h = "\"" + g_helper + "\"";
  // Programs the actions start by name: the saver and a stand-in for the
  // Display Properties command, both lv_record.exe copied into the Windows
  // directory.
  const std::string saver = g_windows + "\\LvActionSaver.scr";
  const std::string panel = g_windows + "\\lvpanel.exe";
  CHECK(CopyFileA(g_helper.c_str(), saver.c_str(), FALSE));
  CHECK(CopyFileA(g_helper.c_str(), panel.c_str(), FALSE));
  lstrcpynA(g_texts.SaverFileName, "LvActionSaver.scr", TextCapacity);
  lstrcpynA(g_texts.DisplayPropertiesCommand, "lvpanel.exe /panel", CommandCapacity);

  // 0: nothing, and true; 4 and other codes: nothing, and false.
  for (uint8_t action : {0, 4, 255}) {
    StartFresh();
    g_texts.PostInstallAction = action;
    CHECK_EQ(RunPostInstallAction(), action == 0 ? TRUE : FALSE);
    CHECK_EQ(g_execs, 0);
  }

  // 1: the Display Properties command, unless the panel is open.
  g_texts.PostInstallAction = ActionDisplayProperties;
  StartFresh();
  CHECK(!RunPostInstallAction());
  CHECK_TEXT(Recorded(), "lvpanel.exe /panel");
  std::string panelRecord = TempDirectory() + "lv_actions_panel.txt";
  HANDLE helper = StartHelper("lv_windows.exe", "display \"" + panelRecord + "\"");
  HWND open = WaitForWindow(DisplayPropertiesTitle);
  CHECK(open != nullptr);
  StartFresh();
  CHECK(!RunPostInstallAction());
  CHECK_EQ(g_execs, 0);
  CHECK(IsWindow(open));  // left alone
  PostMessageA(open, WM_CLOSE, 0, 0);
  StopHelper(helper);
  DeleteFileA(panelRecord.c_str());

  // 2: the installed file with " /s", unquoted.
  g_texts.PostInstallAction = ActionStartSaver;
  StartFresh();
  CHECK(!RunPostInstallAction());
  CHECK_TEXT(Recorded(), saver + " /s");
  {
    // A path that does not fit starts nothing.
    ImportHook directory("kernel32.dll", "GetWindowsDirectoryA", reinterpret_cast<void*>(&FakeWindowsDirectory));
    std::string longDirectory = "C:\\" + std::string(250, 'd');
    g_fakeDirectory = longDirectory.c_str();
    StartFresh();
    CHECK(!RunPostInstallAction());
    CHECK_EQ(g_execs, 0);
  }

  // 3: the document, opened and left for DeleteDocumentLater; without an
  // application it is deleted at once.
  g_texts.PostInstallAction = ActionOpenDocument;
  CHECK(RegisterFileType(TestExtension, TestType, (h + " \"%1\"").c_str()));
  struct DocumentCase {
    std::string path;
    bool opened;
  } documents[] = {
      {doc, true},
      {TempDirectory() + "lv_unregistered.lvnone", false},
      {TempDirectory() + "lv_no_full_stop", false},
  };
  for (const DocumentCase& d : documents) {
    WriteWholeFile(d.path, "document");
    lstrcpynA(g_run.DocumentTempPath, d.path.c_str(), sizeof g_run.DocumentTempPath);
    StartFresh();
    CHECK(!RunPostInstallAction());
    CHECK_EQ(FileExists(d.path), d.opened);
    if (d.opened) CHECK_TEXT(Recorded(), h + " \"" + d.path + "\"");
    ImportHook sleep("kernel32.dll", "Sleep", reinterpret_cast<void*>(&RecordSleep));
    g_sleeps = 0;
    DeleteDocumentLater();
    CHECK_EQ(g_sleeps, d.opened ? 1 : 0);  // pending only when opened
    CHECK(!FileExists(d.path));
  }

  DeleteFileA(saver.c_str());
  DeleteFileA(panel.c_str());
}
}  // namespace

int main() {
  g_windows = RealWindowsDirectory();
  g_helper = ProgramDirectory() + "lv_record.exe";
  g_record = TempDirectory() + "lv_actions_record.txt";
  SetEnvironmentVariableA("LV_RECORD", g_record.c_str());
  ImportHook winExec("kernel32.dll", "WinExec", reinterpret_cast<void*>(&CountingWinExec));
  CHECK(winExec.installed());
  g_realWinExec = reinterpret_cast<decltype(g_realWinExec)>(winExec.original());
  const std::string doc = TempDirectory() + "lv_actions_doc.lvtest";
  WriteWholeFile(doc, "document");

  CheckReadRegistryString();
  CheckOpenWithAssociation(doc);
  CheckOpenDocument(doc);
  CheckActions(doc);

  RemoveFileType(TestExtension, TestType);
  DeleteFileA(doc.c_str());
  DeleteFileA(g_record.c_str());
  return CheckSummary("system_actions_test");
}
