// Aurora's entry point: the screensaver arguments Windows passes.
//   /s         run full screen until the mouse moves, a button or a key
//   /p HWND    draw into the preview area of the Display Properties
//   /c[:HWND]  the settings box (also with no argument at all)
//   -U         uninstall (the uninstall entry's command)
#include <cstdlib>

#include "aurora.h"

namespace {

enum class Mode { Settings, Fullscreen, Preview, Uninstall };

struct Command {
  Mode mode;
  HWND window;  // /p: the preview area; /c: the owner, when given
};

const char* SkipBlanks(const char* p) {
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

// Windows writes "/p 1234", some shells "/p:1234"; the letter may be either case.
Command ParseCommand(const char* text) {
  Command command = {Mode::Settings, nullptr};
  const char* p = SkipBlanks(text);
  if (*p != '/' && *p != '-') return command;
  char letter = p[1];
  if (letter >= 'A' && letter <= 'Z') letter = char(letter - 'A' + 'a');
  p = SkipBlanks(p + 2);
  if (*p == ':') p = SkipBlanks(p + 1);
  HWND window = reinterpret_cast<HWND>(std::strtoul(p, nullptr, 10));
  switch (letter) {
    case 's': command.mode = Mode::Fullscreen; break;
    case 'p': command.mode = window ? Mode::Preview : Mode::Settings; command.window = window; break;
    case 'c': command.window = window; break;
    case 'u': command.mode = Mode::Uninstall; break;
  }
  return command;
}

// The whole virtual screen; the 95 family knows only the primary one.
RECT ScreenArea() {
  RECT area = {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN), 0, 0};
  int width = GetSystemMetrics(SM_CXVIRTUALSCREEN), height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  if (width <= 0 || height <= 0) {
    area.left = area.top = 0;
    width = GetSystemMetrics(SM_CXSCREEN);
    height = GetSystemMetrics(SM_CYSCREEN);
  }
  area.right = area.left + width;
  area.bottom = area.top + height;
  return area;
}

int RunScene(HINSTANCE instance, SceneRole role, HWND parent, const RECT& area, const Payload& payload) {
  if (!RegisterSceneClass(instance)) return 1;
  HWND scene = CreateSceneWindow(instance, role, parent, area, payload.palette, LoadSettings(payload.defaults));
  if (!scene) return 1;
  if (role == SceneRole::Fullscreen) SetForegroundWindow(scene);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  Command command = ParseCommand(commandLine);
  if (command.mode == Mode::Uninstall) return Uninstall();

  static Payload payload;
  LoadPayload(payload);
  switch (command.mode) {
    case Mode::Fullscreen: {
      // A second start (the system may ask again) only brings the first forward.
      HWND running = FindWindowA("LumaveilAuroraScene", nullptr);
      if (running && !GetParent(running)) {
        SetForegroundWindow(running);
        return 0;
      }
      return RunScene(instance, SceneRole::Fullscreen, nullptr, ScreenArea(), payload);
    }
    case Mode::Preview: {
      if (!IsWindow(command.window)) return 1;
      RECT area;
      GetClientRect(command.window, &area);
      return RunScene(instance, SceneRole::Preview, command.window, area, payload);
    }
    default:
      RegisterSceneClass(instance);
      // Owned only by the window Windows names: owned by some other window, the
      // box would vanish with it.
      RunSettingsBox(IsWindow(command.window) ? command.window : nullptr, payload);
      return 0;
  }
}
