// Drives a running installer from outside, the way a user or a setup script
// would: finds its boxes, prints what they say, answers them, watches the
// progress dialog; also reads and writes the registry for the test scripts, so
// that one Windows process does what would otherwise take many `wine reg` runs.
//
//   e2e_driver.exe [--timeout SECONDS] [--sync DIR] STEP...
// With --sync it creates DIR\driver.started before its first step.
//
// Steps run in order; each prints one line (the scripts compare lines):
//   main              wait for the installer's main window; says whether it is visible
//   box               wait for the next box of the installer and describe it
//   lone-box          the same for a box of a program that has no main window:
//                     an installer whose program could not be started
//   answer            send the installer's answer-box message to its main window
//   press:LABEL       click the button labelled LABEL in the current box
//   hold:NAME         create DIR\NAME.ready, wait for DIR\NAME.done (screenshots)
//   progress          wait for the progress dialog and sample its bar until it closes
//   progress-hold:NAME  the same, pausing the installer mid-way for hold:NAME
//   progress-answer   the same, sending the answer-box message mid-way
//   quiet:SECONDS     check that no new box appears for that long
//   progress-seen     say whether a progress dialog was seen during the run so far
//   gone              wait until the installer's main window has gone
//   display-properties  open a window titled "Display Properties" (kept open,
//                     WM_QUIT is reported and ignored) for the rest of the run
//   reg:ROOT\KEY:NAME print a string value (NAME empty: the default value)
//   regset:ROOT\KEY:NAME=DATA, regsetx:... (REG_EXPAND_SZ), regdel:ROOT\KEY (the
//                     key and all below it), regdelv:ROOT\KEY:NAME (one value)
//   ini:FILE:SECTION:KEY  print a profile string (read as the system reads it,
//                     whatever the file's encoding); inidel:FILE:SECTION:KEY
//   short:PATH        print the 8.3 form of a path
//   sleep:MS
// The run ends with status 1 after the first step that could not be done.
#include <windows.h>
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char InstallerWindowName[] = "LumaveilsaverInstaller";
constexpr UINT MsgAnswerBox = WM_USER + 10;
constexpr int QuestionTextId = 1031;
constexpr int ProgressTextId = 1001;
constexpr int ProgressBarId = 1000;

struct Driver {
  DWORD timeoutMs = 20000;
  std::string syncDir = ".";
  HWND mainWindow = nullptr;
  DWORD installerProcess = 0;
  HWND currentBox = nullptr;
  std::vector<HWND> seenBoxes;
  bool sawProgress = false;  // a progress dialog was visible while we looked for boxes
};

Driver g;

void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Line breaks and quotes made visible, so each box prints as one line.
std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '"' || c == '\\') out += std::string("\\") + c;
    else out += c;
  }
  return out;
}

std::string ClassOf(HWND window) {
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

// WM_GETTEXT is marshalled across processes; a hung installer must not hang us.
std::string TextOf(HWND window) {
  char text[1024] = "";
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 3000, &result))
    GetWindowTextA(window, text, sizeof text);
  text[sizeof text - 1] = 0;
  return text;
}

std::string WithoutMnemonic(const std::string& label) {
  std::string out;
  for (size_t i = 0; i < label.size(); ++i) {
    if (label[i] == '&' && i + 1 < label.size()) ++i;
    out += label[i];
  }
  return out;
}

bool Seen(HWND window) {
  for (HWND w : g.seenBoxes)
    if (w == window) return true;
  return false;
}

bool FindMainWindow() {
  if (g.mainWindow && IsWindow(g.mainWindow)) return true;
  g.mainWindow = FindWindowA(InstallerWindowName, InstallerWindowName);
  if (!g.mainWindow) return false;
  GetWindowThreadProcessId(g.mainWindow, &g.installerProcess);
  return true;
}

HWND ChildOfClass(HWND parent, const char* className) {
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    if (ClassOf(child) == className) return child;
  return nullptr;
}

bool IsProgressDialog(HWND window) { return GetDlgItem(window, ProgressBarId) && ChildOfClass(window, PROGRESS_CLASSA); }

// The installer's boxes: dialogs owned by its main window (message boxes and
// the progress dialog), and its own unowned question dialog.
struct BoxSearch {
  bool wantProgress;
  HWND found;
};

BOOL CALLBACK ConsiderWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<BoxSearch*>(param);
  if (ClassOf(window) != "#32770" || !IsWindowVisible(window)) return TRUE;
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != g.installerProcess) return TRUE;
  HWND owner = GetWindow(window, GW_OWNER);
  bool owned = owner == g.mainWindow;
  bool question = !owner && GetDlgItem(window, QuestionTextId);
  if (!owned && !question) return TRUE;
  bool progress = IsProgressDialog(window);
  g.sawProgress = g.sawProgress || progress;
  if (progress != search->wantProgress) return TRUE;
  if (!search->wantProgress && Seen(window)) return TRUE;
  search->found = window;
  return FALSE;
}

HWND FindBox(bool wantProgress) {
  if (!FindMainWindow()) return nullptr;
  BoxSearch search{wantProgress, nullptr};
  EnumWindows(ConsiderWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitFor(bool wantProgress, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < timeoutMs) {
    if (HWND box = FindBox(wantProgress)) return box;
    Sleep(25);
  }
  return nullptr;
}

bool WaitClosed(HWND window, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < timeoutMs) {
    if (!IsWindow(window) || !IsWindowVisible(window)) return true;
    Sleep(25);
  }
  return false;
}

bool WaitDestroyed(HWND window, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < timeoutMs) {
    if (!IsWindow(window)) return true;
    Sleep(25);
  }
  return false;
}

// One line: kind, caption, text, buttons from left to right, icon shown or not.
void DescribeBox(HWND box) {
  bool question = GetDlgItem(box, QuestionTextId) && !GetWindow(box, GW_OWNER);
  std::string text;
  bool icon = false;
  struct Button {
    int x;
    std::string label;
  };
  std::vector<Button> buttons;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child)) continue;
    std::string cls = ClassOf(child);
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if (cls == "Static" || cls == "STATIC") {
      if ((style & SS_TYPEMASK) == SS_ICON) {
        DWORD_PTR handle = 0;
        SendMessageTimeoutA(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 3000, &handle);
        icon = icon || handle != 0;
      } else if (!question || GetDlgCtrlID(child) == QuestionTextId) {
        std::string t = TextOf(child);
        if (!t.empty()) text = t;
      }
    } else if (cls == "Button" || cls == "BUTTON") {
      RECT r;
      GetWindowRect(child, &r);
      buttons.push_back({r.left, WithoutMnemonic(TextOf(child))});
    }
  }
  for (size_t i = 1; i < buttons.size(); ++i)
    for (size_t j = i; j > 0 && buttons[j].x < buttons[j - 1].x; --j) std::swap(buttons[j], buttons[j - 1]);
  std::string labels;
  for (auto& b : buttons) labels += (labels.empty() ? "" : "|") + b.label;
  Say("box %s caption=\"%s\" text=\"%s\" buttons=\"%s\" icon=%d", question ? "question" : "message",
      Escape(TextOf(box)).c_str(), Escape(text).c_str(), labels.c_str(), icon ? 1 : 0);
}

bool WaitMainWindow() {
  DWORD start = GetTickCount();
  while (!FindMainWindow() && GetTickCount() - start < g.timeoutMs) Sleep(25);
  return g.mainWindow != nullptr;
}

bool StepMain() {
  if (!WaitMainWindow()) {
    Say("main none");
    return false;
  }
  Say("main visible=%d", IsWindowVisible(g.mainWindow) ? 1 : 0);
  return true;
}

// Makes box, once found, the current box and describes it.
bool TakeBox(HWND box) {
  if (!box) {
    Say("box none");
    return false;
  }
  // Let the box finish its initialisation and first paint.
  Sleep(150);
  g.currentBox = box;
  g.seenBoxes.push_back(box);
  DescribeBox(box);
  return true;
}

bool StepBox() {
  if (!WaitMainWindow()) {
    Say("box none: no installer window");
    return false;
  }
  return TakeBox(WaitFor(false, g.timeoutMs));
}

// A visible dialog of another process that nothing owns.
BOOL CALLBACK ConsiderLoneWindow(HWND window, LPARAM param) {
  if (ClassOf(window) != "#32770" || !IsWindowVisible(window) || GetWindow(window, GW_OWNER)) return TRUE;
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId()) return TRUE;
  *reinterpret_cast<HWND*>(param) = window;
  return FALSE;
}

bool StepLoneBox() {
  DWORD start = GetTickCount();
  HWND box = nullptr;
  while (!box && GetTickCount() - start < g.timeoutMs) {
    EnumWindows(ConsiderLoneWindow, reinterpret_cast<LPARAM>(&box));
    if (!box) Sleep(25);
  }
  return TakeBox(box);
}

bool StepAnswer() {
  if (!FindMainWindow()) {
    Say("answer: no installer window");
    return false;
  }
  DWORD_PTR result = 0;
  SendMessageTimeoutA(g.mainWindow, MsgAnswerBox, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
  if (!g.currentBox) {
    Say("answered");
    return true;
  }
  if (!WaitClosed(g.currentBox, 5000)) {
    Say("answer: box still open");
    return false;
  }
  // An ended box is hidden at once but destroyed only when its modal loop
  // takes its next message; a loop left without one keeps the installer
  // waiting for input that may never come. Say so, then wake it.
  if (WaitDestroyed(g.currentBox, 2000)) {
    Say("answered");
    return true;
  }
  PostMessageA(g.currentBox, WM_NULL, 0, 0);
  bool woke = WaitDestroyed(g.currentBox, 3000);
  Say(woke ? "answered; the box's loop had to be woken" : "answer: box hidden but never destroyed");
  return woke;
}

bool StepPress(const std::string& label) {
  if (!g.currentBox || !IsWindow(g.currentBox)) {
    Say("press %s: no box", label.c_str());
    return false;
  }
  for (HWND child = GetWindow(g.currentBox, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    std::string cls = ClassOf(child);
    if ((cls != "Button" && cls != "BUTTON") || WithoutMnemonic(TextOf(child)) != label) continue;
    DWORD_PTR result = 0;
    SendMessageTimeoutA(child, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
    if (!WaitClosed(g.currentBox, 5000)) {
      Say("press %s: box still open", label.c_str());
      return false;
    }
    Say("pressed %s", label.c_str());
    return true;
  }
  Say("press %s: no such button", label.c_str());
  return false;
}

// The ready file holds the window's screen rectangle, for cropping.
bool Hold(const std::string& name, HWND window) {
  std::string ready = g.syncDir + "\\" + name + ".ready", done = g.syncDir + "\\" + name + ".done";
  DeleteFileA(done.c_str());
  HANDLE file = CreateFileA(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    Say("hold %s: cannot create %s", name.c_str(), ready.c_str());
    return false;
  }
  RECT r{};
  if (window) GetWindowRect(window, &r);
  char rect[64];
  DWORD written;
  std::snprintf(rect, sizeof rect, "%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
  WriteFile(file, rect, DWORD(std::strlen(rect)), &written, nullptr);
  CloseHandle(file);
  DWORD start = GetTickCount();
  while (GetFileAttributesA(done.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (GetTickCount() - start > 15000) {
      Say("hold %s: nobody answered", name.c_str());
      return false;
    }
    Sleep(25);
  }
  DeleteFileA(ready.c_str());
  DeleteFileA(done.c_str());
  return true;
}

bool StepHold(const std::string& name) {
  if (!Hold(name, g.currentBox && IsWindow(g.currentBox) ? g.currentBox : nullptr)) return false;
  Say("held %s", name.c_str());
  return true;
}

// Samples the bar until the dialog closes. With a hold name the installer's
// thread is paused once the bar has passed 40 %, so that a screenshot shows it part
// way; the picture on screen stays as last painted.
bool StepProgress(const std::string& holdName, bool answerMidway = false) {
  HWND dialog = WaitFor(true, g.timeoutMs);
  if (!dialog) {
    Say("progress none");
    return false;
  }
  HWND bar = GetDlgItem(dialog, ProgressBarId);
  DWORD_PTR high = 0, low = 0;
  SendMessageTimeoutA(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 3000, &high);
  SendMessageTimeoutA(bar, PBM_GETRANGE, TRUE, 0, SMTO_ABORTIFHUNG, 3000, &low);
  LONG style = GetWindowLongA(dialog, GWL_STYLE);
  Say("progress caption=\"%s\" text=\"%s\" range=%d..%d captionbar=%d", Escape(TextOf(dialog)).c_str(),
      Escape(TextOf(GetDlgItem(dialog, ProgressTextId))).c_str(), int(low), int(high),
      (style & WS_CAPTION) == WS_CAPTION ? 1 : 0);

  std::vector<int> positions;
  bool held = holdName.empty(), answered = !answerMidway;
  DWORD start = GetTickCount();
  while (IsWindow(dialog) && IsWindowVisible(dialog)) {
    if (GetTickCount() - start > 60000) {
      Say("progress: dialog still open after 60 s");
      return false;
    }
    DWORD_PTR pos = 0;
    if (SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &pos) &&
        (positions.empty() || positions.back() != int(pos)))
      positions.push_back(int(pos));
    if (!held && int(pos) > 0 && (high == 0 || int(pos) * 5 >= int(high) * 2)) {
      held = true;
      DWORD threadId = GetWindowThreadProcessId(dialog, nullptr);
      HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, threadId);
      if (thread) SuspendThread(thread);
      bool ok = Hold(holdName, dialog);
      if (thread) {
        ResumeThread(thread);
        CloseHandle(thread);
      }
      if (!ok) return false;
    }
    // With no box open the answer changes nothing; that it is handled at all
    // while the copy runs shows that the copy keeps the messages flowing.
    if (!answered && int(pos) > 0 && (high == 0 || int(pos) * 5 >= int(high) * 2)) {
      answered = true;
      DWORD_PTR result = 0;
      bool handled = SendMessageTimeoutA(g.mainWindow, MsgAnswerBox, 0, 0, SMTO_ABORTIFHUNG, 10000, &result);
      Say("progress answer handled=%d dialog-open=%d", handled ? 1 : 0, IsWindow(dialog) && IsWindowVisible(dialog));
    }
    Sleep(20);
  }
  bool rising = true;
  for (size_t i = 1; i < positions.size(); ++i) rising = rising && positions[i] > positions[i - 1];
  std::string list;
  for (size_t i = 0; i < positions.size() && i < 12; ++i) list += (list.empty() ? "" : ",") + std::to_string(positions[i]);
  if (positions.size() > 12) list += ",...," + std::to_string(positions.back());
  Say("progress positions=%zu rising=%d last=%d closed=1 (%s)", positions.size(), rising ? 1 : 0,
      positions.empty() ? -1 : positions.back(), list.c_str());
  Say("progress open for %lu ms", GetTickCount() - start);
  return true;
}

bool StepQuiet(DWORD ms) {
  HWND box = WaitFor(false, ms);
  if (box) {
    g.seenBoxes.push_back(box);
    g.currentBox = box;
    DescribeBox(box);
    return false;
  }
  Say("quiet");
  return true;
}

bool StepGone() {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < g.timeoutMs) {
    if (!FindWindowA(InstallerWindowName, InstallerWindowName)) {
      Say("gone");
      return true;
    }
    Sleep(25);
  }
  Say("gone: installer still running");
  return false;
}

// --- A stand-in for the Display Properties control panel ---

DWORD WINAPI DisplayPropertiesThread(LPVOID ready) {
  HWND window = CreateWindowExA(0, "STATIC", "Display Properties", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 600, 400,
                                300, 200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  SetEvent(static_cast<HANDLE>(ready));
  if (!window) return 1;
  // WM_QUIT posted to the window ends nobody's loop here: it is reported and
  // the window stays, as a panel that does not close quickly would.
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        Say("display-properties received WM_QUIT");
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
  }
}

bool StepDisplayProperties() {
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  CreateThread(nullptr, 0, DisplayPropertiesThread, ready, 0, nullptr);
  WaitForSingleObject(ready, 5000);
  CloseHandle(ready);
  bool ok = FindWindowA(nullptr, "Display Properties") != nullptr;
  Say(ok ? "display-properties open" : "display-properties: window not created");
  return ok;
}

// --- Registry ---

bool SplitKey(const std::string& path, HKEY& root, std::string& key) {
  size_t slash = path.find('\\');
  std::string rootName = path.substr(0, slash);
  key = slash == std::string::npos ? "" : path.substr(slash + 1);
  if (rootName == "HKLM") root = HKEY_LOCAL_MACHINE;
  else if (rootName == "HKCU") root = HKEY_CURRENT_USER;
  else if (rootName == "HKCR") root = HKEY_CLASSES_ROOT;
  else return false;
  return true;
}

// "ROOT\KEY:REST": the key ends at the first colon.
bool SplitValue(const std::string& arg, HKEY& root, std::string& key, std::string& rest) {
  size_t colon = arg.find(':');
  if (colon == std::string::npos) return false;
  rest = arg.substr(colon + 1);
  return SplitKey(arg.substr(0, colon), root, key);
}

bool StepReg(const std::string& arg) {
  HKEY root, key;
  std::string keyName, valueName;
  if (!SplitValue(arg, root, keyName, valueName)) {
    Say("reg %s: bad argument", arg.c_str());
    return false;
  }
  if (RegOpenKeyExA(root, keyName.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    Say("reg %s absent-key", arg.c_str());
    return true;
  }
  char data[1024];
  DWORD type = 0, size = sizeof data - 1;
  LONG status = RegQueryValueExA(key, valueName.empty() ? nullptr : valueName.c_str(), nullptr, &type,
                                 reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) {
    Say("reg %s absent", arg.c_str());
    return true;
  }
  data[size] = 0;
  // A list of strings prints with its separating NULs as '|'.
  if (type == REG_MULTI_SZ)
    for (DWORD i = 0; i + 1 < size; ++i)
      if (!data[i]) data[i] = '|';
  // The size shows whether a terminating NUL was stored.
  Say("reg %s type=%lu size=%lu \"%s\"", arg.c_str(), type, size, Escape(data).c_str());
  return true;
}

bool StepRegSet(const std::string& arg, DWORD type) {
  HKEY root, key;
  std::string keyName, rest;
  size_t equals;
  if (!SplitValue(arg, root, keyName, rest) || (equals = rest.find('=')) == std::string::npos) {
    Say("regset %s: bad argument", arg.c_str());
    return false;
  }
  std::string name = rest.substr(0, equals), data = rest.substr(equals + 1);
  if (RegCreateKeyExA(root, keyName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    Say("regset %s: cannot create key", arg.c_str());
    return false;
  }
  LONG status = RegSetValueExA(key, name.empty() ? nullptr : name.c_str(), 0, type,
                               reinterpret_cast<const BYTE*>(data.c_str()), DWORD(data.size() + 1));
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) {
    Say("regset %s: failed", arg.c_str());
    return false;
  }
  Say("regset %s", arg.c_str());
  return true;
}

bool StepRegDelete(const std::string& arg) {
  HKEY root;
  std::string keyName;
  if (!SplitKey(arg, root, keyName) || keyName.empty()) {
    Say("regdel %s: bad argument", arg.c_str());
    return false;
  }
  LONG status = RegDeleteTreeA(root, keyName.c_str());
  if (status == ERROR_SUCCESS) RegDeleteKeyA(root, keyName.c_str());
  Say("regdel %s", arg.c_str());
  return true;
}

bool StepRegDeleteValue(const std::string& arg) {
  HKEY root, key;
  std::string keyName, valueName;
  if (!SplitValue(arg, root, keyName, valueName)) {
    Say("regdelv %s: bad argument", arg.c_str());
    return false;
  }
  if (RegOpenKeyExA(root, keyName.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    RegDeleteValueA(key, valueName.c_str());
    RegCloseKey(key);
  }
  Say("regdelv %s", arg.c_str());
  return true;
}

// "FILE:SECTION:KEY".
bool SplitProfile(const std::string& arg, std::string& file, std::string& section, std::string& key) {
  size_t a = arg.find(':'), b = a == std::string::npos ? a : arg.find(':', a + 1);
  if (b == std::string::npos) return false;
  file = arg.substr(0, a);
  section = arg.substr(a + 1, b - a - 1);
  key = arg.substr(b + 1);
  return true;
}

bool StepProfile(const std::string& arg, bool remove) {
  std::string file, section, key;
  if (!SplitProfile(arg, file, section, key)) {
    Say("ini %s: bad argument", arg.c_str());
    return false;
  }
  if (remove) {
    WritePrivateProfileStringA(section.c_str(), key.c_str(), nullptr, file.c_str());
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, file.c_str());  // written out now
    Say("inidel %s", arg.c_str());
    return true;
  }
  char value[1024];
  GetPrivateProfileStringA(section.c_str(), key.c_str(), "\x01", value, sizeof value, file.c_str());
  if (!std::strcmp(value, "\x01")) Say("ini %s absent", arg.c_str());
  else Say("ini %s = \"%s\"", arg.c_str(), Escape(value).c_str());
  return true;
}

bool RunStep(const std::string& step) {
  auto arg = [&](const char* prefix) -> const char* {
    size_t n = std::strlen(prefix);
    return step.compare(0, n, prefix) == 0 ? step.c_str() + n : nullptr;
  };
  const char* a;
  if (step == "main") return StepMain();
  if (step == "box") return StepBox();
  if (step == "lone-box") return StepLoneBox();
  if (step == "answer") return StepAnswer();
  if (step == "progress") return StepProgress("");
  if (step == "gone") return StepGone();
  if (step == "progress-seen") {
    Say("progress-seen=%d", g.sawProgress ? 1 : 0);
    return true;
  }
  if (step == "display-properties") return StepDisplayProperties();
  if ((a = arg("press:"))) return StepPress(a);
  if ((a = arg("hold:"))) return StepHold(a);
  if ((a = arg("progress-hold:"))) return StepProgress(a);
  if (step == "progress-answer") return StepProgress("", true);
  if ((a = arg("quiet:"))) return StepQuiet(DWORD(std::atof(a) * 1000));
  if ((a = arg("reg:"))) return StepReg(a);
  if ((a = arg("regset:"))) return StepRegSet(a, REG_SZ);
  if ((a = arg("regsetx:"))) return StepRegSet(a, REG_EXPAND_SZ);
  if ((a = arg("regdel:"))) return StepRegDelete(a);
  if ((a = arg("regdelv:"))) return StepRegDeleteValue(a);
  if ((a = arg("ini:"))) return StepProfile(a, false);
  if ((a = arg("inidel:"))) return StepProfile(a, true);
  if ((a = arg("short:"))) {
    char path[MAX_PATH] = "";
    DWORD n = GetShortPathNameA(a, path, sizeof path);
    Say(n ? "short %s" : "short none", path);
    return true;
  }
  if ((a = arg("sleep:"))) {
    Sleep(DWORD(std::atoi(a)));
    return true;
  }
  Say("unknown step %s", step.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  int i = 1;
  bool synced = false;
  for (; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--timeout") && i + 1 < argc) g.timeoutMs = DWORD(std::atof(argv[++i]) * 1000);
    else if (!std::strcmp(argv[i], "--sync") && i + 1 < argc) g.syncDir = argv[++i], synced = true;
    else break;
  }
  // The scripts start the installer once the driver runs: an installer that
  // shows no box may otherwise be gone before the driver starts to look.
  if (synced) {
    std::string started = g.syncDir + "\\driver.started";
    CloseHandle(CreateFileA(started.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  for (; i < argc; ++i)
    if (!RunStep(argv[i])) return 1;
  return 0;
}
