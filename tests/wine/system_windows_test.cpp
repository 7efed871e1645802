// Closing the Display Properties panel and bringing another window to the
// front, against real windows of lv_windows.exe, a separate process.
#include "system/post_install.h"

#include <vector>

#include "installer/run_state.h"
#include "tests/wine/system_support.h"

namespace {
// Sleep, recorded and then really waited: the pauses give the panel its time.
std::vector<DWORD> g_sleeps;
decltype(&Sleep) g_realSleep = nullptr;
void WINAPI RecordingSleep(DWORD ms) {
  g_sleeps.push_back(ms);
  g_realSleep(ms);
}

// Messages of our own queue, taken off in order.
std::vector<UINT> DrainQueue() {
  std::vector<UINT> messages;
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) messages.push_back(message.message);
  return messages;
}

void FillQueue() {
  DrainQueue();
  for (UINT m = WM_APP + 1; m <= WM_APP + 3; ++m) PostThreadMessageA(GetCurrentThreadId(), m, 0, 0);
}

std::string Lines(const std::string& path) {
  std::string content;
  ReadWholeFile(path, content);
  return content;
}

void CheckCloseDisplayProperties() {
  ImportHook sleep("kernel32.dll", "Sleep", reinterpret_cast<void*>(&RecordingSleep));
  CHECK(sleep.installed());
  g_realSleep = reinterpret_cast<decltype(g_realSleep)>(sleep.original());
  lstrcpynA(g_run.InstallerTitle, "LvCloseTest", sizeof g_run.InstallerTitle);

  // No panel: none, at once, and the queue untouched.
  CHECK(FindDisplayProperties() == nullptr);
  FillQueue();
  g_sleeps.clear();
  CHECK(CloseDisplayProperties() == nullptr);
  CHECK(g_sleeps.empty());
  CHECK_EQ(DrainQueue().size(), 3u);

  struct Case {
    const char* what;
    const char* popupArguments;  // after "display RECORD"
    const char* recorded;
    std::vector<DWORD> sleeps;
  } cases[] = {
      {"panel alone", "", "quit panel\n", {300}},
      {"panel owning our box", " LvCloseTest", "cancel\nquit panel\n", {100, 300}},
      {"our box not owned by the panel", " LvCloseTest free", "quit panel\n", {300}},
      {"the panel owns a box of another title", " \"Other Box\"", "quit panel\n", {300}},
  };
  const std::string record = TempDirectory() + "lv_windows_record.txt";
  for (const Case& c : cases) {
    std::printf("  case: %s\n", c.what);
    DeleteFileA(record.c_str());
    HANDLE helper = StartHelper("lv_windows.exe", "display \"" + record + "\"" + c.popupArguments);
    HWND panel = WaitForWindow(DisplayPropertiesTitle);
    CHECK(panel != nullptr);
    if (*c.popupArguments) {
      const char* title = std::strstr(c.popupArguments, "Other") ? "Other Box" : "LvCloseTest";
      CHECK(WaitForWindow(title) != nullptr);
    }
    CHECK(FindDisplayProperties() == panel);

    FillQueue();
    g_sleeps.clear();
    CHECK(CloseDisplayProperties() == panel);
    CHECK(g_sleeps == c.sleeps);
    // One message of our queue is dropped per message sent or posted.
    std::vector<UINT> left = DrainQueue();
    std::vector<UINT> expected;
    for (UINT m = WM_APP + 1 + UINT(c.sleeps.size()); m <= WM_APP + 3; ++m) expected.push_back(m);
    CHECK(left == expected);

    CHECK_EQ(WaitForSingleObject(helper, 5000), WAIT_OBJECT_0);  // the panel's program ended
    StopHelper(helper);
    CHECK_TEXT(Lines(record), c.recorded);
    CHECK(FindDisplayProperties() == nullptr);
  }
  DeleteFileA(record.c_str());
}

// Where window sits among the desktop's children, counted from the top.
int ZPosition(HWND window) {
  int position = 0;
  for (HWND w = GetWindow(GetDesktopWindow(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT), ++position) {
    if (w == window) return position;
  }
  return -1;
}

void PrintTopWindows(int count) {
  int position = 0;
  for (HWND w = GetWindow(GetDesktopWindow(), GW_CHILD); w && position < count; w = GetWindow(w, GW_HWNDNEXT), ++position) {
    char title[128] = "";
    GetWindowTextA(w, title, sizeof title);
    std::printf("    %2d %p \"%s\" visible %d iconic %d exstyle %08lx\n", position, (void*)w, title, IsWindowVisible(w),
                IsIconic(w), GetWindowLongA(w, GWL_EXSTYLE));
  }
}

// The foreground window once a change asked of another process's window has
// had time to arrive (Wine hands it to that window's thread).
HWND ForegroundAfter(HWND expected) {
  for (int i = 0; i < 50 && GetForegroundWindow() != expected; ++i) Sleep(20);
  return GetForegroundWindow();
}

void CheckFocusAnotherWindow() {
  // Minimised, invisible, untitled and always-on-top windows are passed over.
  HANDLE helper = StartHelper("lv_windows.exe", "focus");
  HWND target = WaitForWindow("LV Target");
  HWND topmost = WaitForWindow("LV Topmost");
  CHECK(target && topmost);
  Sleep(200);  // let the last window's activation settle
  CHECK(GetForegroundWindow() != target);
  FocusAnotherWindow();
  HWND chosen = ForegroundAfter(target);
  CHECK(chosen == target);
  if (chosen != target) PrintTopWindows(10);
  PostMessageA(target, WM_CLOSE, 0, 0);
  StopHelper(helper);

  // At most 64 windows are examined: a qualifying window 65th from the top
  // is not chosen, 64th it is.
  helper = StartHelper("lv_windows.exe", "deep 70");
  target = WaitForWindow("LV Deep Target");
  HWND decoy = WaitForWindow("LV Decoy");
  CHECK(target && decoy);
  Sleep(200);
  while (ZPosition(target) > 64) {
    HWND filler = FindWindowA(nullptr, "LV Filler");
    if (!filler) break;  // other programs' windows crowd the top
    SendMessageA(filler, WM_CLOSE, 0, 0);
  }
  CHECK_EQ(ZPosition(target), 64);
  HWND before = GetForegroundWindow();
  CHECK(before != target);
  FocusAnotherWindow();
  CHECK(ForegroundAfter(target) == before);
  SendMessageA(FindWindowA(nullptr, "LV Filler"), WM_CLOSE, 0, 0);
  CHECK_EQ(ZPosition(target), 63);
  FocusAnotherWindow();
  CHECK(ForegroundAfter(target) == target);
  PostMessageA(target, WM_CLOSE, 0, 0);
  StopHelper(helper);
}
}  // namespace

int main() {
  CheckCloseDisplayProperties();
  CheckFocusAnotherWindow();
  return CheckSummary("system_windows_test");
}
