// Helper for the system module's Wine tests: real top-level windows in a
// process of their own.
//   lv_windows display RECORD [TITLE [free]]
//     a window titled "Display Properties", and optionally a popup titled
//     TITLE that it owns (or, with "free", that nobody owns). Records in the
//     file RECORD "cancel" when the popup gets WM_COMMAND/IDCANCEL and
//     "quit panel" when the thread's loop ends by a WM_QUIT posted to the panel.
//   lv_windows focus
//     "LV Target" (normal), then above it "LV Minimised", "LV Hidden" (never
//     shown), an untitled window and "LV Topmost" (always on top).
//   lv_windows deep N
//     "LV Deep Target" (normal) with N hidden windows "LV Filler" above it,
//     and "LV Decoy" (always on top, so it takes the foreground).
// Sending WM_CLOSE to a window closes it; the program ends when its first
// window is closed or a WM_QUIT arrives.
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {
const char* g_record = nullptr;
HWND g_first = nullptr;
HWND g_panel = nullptr;

void Record(const char* line) {
  if (!g_record) return;
  HANDLE file = CreateFileA(g_record, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(file, line, lstrlenA(line), &written, nullptr);
  WriteFile(file, "\n", 1, &written, nullptr);
  CloseHandle(file);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
    Record(lParam == 0 ? "cancel" : "cancel with lParam");
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY && window == g_first) PostQuitMessage(0);
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND Make(const char* title, DWORD style, DWORD exStyle, HWND owner, int x) {
  HWND w = CreateWindowExA(exStyle, "LvHelperWindow", title, style, x, 40, 240, 120, owner, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
  if (!g_first) g_first = w;
  return w;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "LvHelperWindow";
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  RegisterClassA(&windowClass);

  const DWORD normal = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
  if (std::strcmp(argv[1], "display") == 0 && argc >= 3) {
    g_record = argv[2];
    g_panel = Make("Display Properties", normal, 0, nullptr, 40);
    if (argc >= 4) {
      bool owned = !(argc >= 5 && std::strcmp(argv[4], "free") == 0);
      // A popup, as a dialog would be: GetParent reports the owner of popups only.
      Make(argv[3], WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, owned ? g_panel : nullptr, 300);
    }
  } else if (std::strcmp(argv[1], "focus") == 0) {
    Make("LV Target", normal, 0, nullptr, 40);
    HWND minimised = Make("LV Minimised", WS_OVERLAPPEDWINDOW, 0, nullptr, 80);
    ShowWindow(minimised, SW_SHOWMINNOACTIVE);
    Make("LV Hidden", WS_OVERLAPPEDWINDOW, 0, nullptr, 120);
    Make("", normal, 0, nullptr, 160);
    Make("LV Topmost", normal, WS_EX_TOPMOST, nullptr, 200);
  } else if (std::strcmp(argv[1], "deep") == 0 && argc >= 3) {
    Make("LV Deep Target", normal, 0, nullptr, 40);
    for (int i = std::atoi(argv[2]); i > 0; --i) Make("LV Filler", WS_OVERLAPPEDWINDOW, 0, nullptr, 80);
    Make("LV Decoy", normal, WS_EX_TOPMOST, nullptr, 200);
  } else {
    return 2;
  }

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  if (message.message == WM_QUIT && g_panel && message.hwnd == g_panel) Record("quit panel");
  return 0;
}
