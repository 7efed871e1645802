// The animation: a night sky with a few stars, and bands of light that ripple
// like curtains, each with a sharp lower edge and a long glow upward. Frames
// are drawn into a 32-bit DIB section and copied to the window in WM_PAINT, so
// the screen only ever sees finished frames.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "aurora.h"

namespace {

constexpr char SceneClass[] = "LumaveilAuroraScene";
constexpr UINT_PTR FrameTimer = 1;
constexpr UINT FrameInterval = 33;  // ms, about 30 frames a second
constexpr int MoveTolerance = 4;    // pixels the mouse may wander before the saver ends
constexpr int StarCount = 90;
constexpr float Tau = 6.2831853f;

// glow[i] = 256 * e^(-i / 32): light at i/32 band thicknesses from the edge.
constexpr int GlowSteps = 256;
uint16_t g_glow[GlowSteps];

struct Scene {
  SceneRole role;
  Palette palette;
  Settings settings;
  int scale;
  int width, height;  // the frame buffer
  uint32_t* pixels;   // top-down rows of 0x00RRGGBB
  HDC frameDc;
  HBITMAP frame, oldBitmap;
  float clock;        // animation time in ms, advanced by the timer
  DWORD lastTicks;
  POINT firstMouse;
  bool mouseSeen;
  bool inUse;
};

// One scene runs full screen or in a preview; the settings box may show one
// while another runs elsewhere in the process: two slots are plenty.
Scene g_scenes[2];

Scene* TakeSceneSlot() {
  for (Scene& s : g_scenes)
    if (!s.inUse) {
      s = Scene{};
      s.inUse = true;
      return &s;
    }
  return nullptr;
}

struct CreateArgs {
  SceneRole role;
  const Palette* palette;
  const Settings* settings;
};

uint32_t Pack(int r, int g, int b) {
  return uint32_t(r > 255 ? 255 : r) << 16 | uint32_t(g > 255 ? 255 : g) << 8 | uint32_t(b > 255 ? 255 : b);
}

Rgb Mix(const Rgb& a, const Rgb& b, float t) {
  return {int(a.r + (b.r - a.r) * t), int(a.g + (b.g - a.g) * t), int(a.b + (b.b - a.b) * t)};
}

// Each band drifts slowly through the palette's band colours.
Rgb BandColour(const Palette& palette, int band, float time) {
  int n = palette.bandCount;
  float phase = time * 0.00004f + float(band) / float(n);
  phase -= std::floor(phase);
  float at = phase * float(n);
  int i = int(at);
  float t = at - float(i);
  t = t * t * (3 - 2 * t);
  return Mix(palette.band[i % n], palette.band[(i + 1) % n], t);
}

void FreeFrame(Scene& s) {
  if (!s.frameDc) return;
  SelectObject(s.frameDc, s.oldBitmap);
  DeleteObject(s.frame);
  DeleteDC(s.frameDc);
  s.frameDc = nullptr;
  s.pixels = nullptr;
}

bool MakeFrame(Scene& s, int clientWidth, int clientHeight) {
  FreeFrame(s);
  s.width = clientWidth / s.scale > 0 ? clientWidth / s.scale : 1;
  s.height = clientHeight / s.scale > 0 ? clientHeight / s.scale : 1;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = s.width;
  info.bmiHeader.biHeight = -s.height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  s.frame = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!s.frame) return false;
  s.frameDc = CreateCompatibleDC(nullptr);
  s.oldBitmap = static_cast<HBITMAP>(SelectObject(s.frameDc, s.frame));
  s.pixels = static_cast<uint32_t*>(bits);
  return true;
}

void DrawSky(Scene& s) {
  const Palette& p = s.palette;
  for (int y = 0; y < s.height; ++y) {
    float t = float(y) / float(s.height);
    Rgb c = Mix(p.sky, p.horizon, t * t);
    uint32_t v = Pack(c.r, c.g, c.b);
    uint32_t* row = s.pixels + y * s.width;
    for (int x = 0; x < s.width; ++x) row[x] = v;
  }
  if (!s.settings.stars) return;
  uint32_t seed = 0x2545F491;  // same sky every frame: the stars only twinkle
  for (int i = 0; i < StarCount; ++i) {
    seed = seed * 1664525u + 1013904223u;
    int x = int((seed >> 8) % uint32_t(s.width));
    seed = seed * 1664525u + 1013904223u;
    int y = int((seed >> 8) % uint32_t(s.height * 2 / 3 + 1));
    int light = 90 + int(70 * std::sin(s.clock * 0.0015f * float(1 + i % 5) + float(i)));
    uint32_t& px = s.pixels[y * s.width + x];
    px = Pack(int(px >> 16 & 255) + light, int(px >> 8 & 255) + light, int(px & 255) + light);
  }
}

// One band: for every column, a lower edge that ripples with two waves, a
// thickness that breathes, and a brightness that forms slow vertical rays.
void DrawBand(Scene& s, int band, float time) {
  const float w = float(s.width), h = float(s.height), b = float(band);
  const Rgb colour = BandColour(s.palette, band, time);
  const float base = h * (0.42f + 0.09f * b);
  const float amplitude = h * (0.05f + 0.012f * b);
  const float k1 = Tau * (1.1f + 0.35f * b) / w, k2 = Tau * (2.7f + 0.6f * b) / w, k3 = Tau * 0.9f / w;
  const float k4 = Tau * (7.0f + 2.0f * b) / w;
  const float w1 = 0.00031f * (1 + 0.25f * b), w2 = -0.00019f * (1 + 0.3f * b), w3 = 0.00011f, w4 = 0.00023f;

  for (int x = 0; x < s.width; ++x) {
    float fx = float(x);
    float edge = base + amplitude * (0.65f * std::sin(fx * k1 + time * w1 + 1.7f * b) +
                                     0.35f * std::sin(fx * k2 + time * w2 + 0.6f * b));
    float thickness = h * 0.09f * (1.0f + 0.45f * std::sin(fx * k3 + time * w3 + b));
    float ray = std::sin(fx * k4 + time * w4 * (1 + b) + 2.3f * b);
    float strength = 0.35f + 0.65f * ray * ray;  // 0.35..1
    int top = int(edge - thickness * 3.0f), bottom = int(edge + thickness * 0.4f) + 1;
    if (top < 0) top = 0;
    if (bottom > s.height) bottom = s.height;
    // Glow upward spans three thicknesses; below the edge it dies within 0.4.
    float upStep = 32.0f / (thickness * 0.75f), downStep = 32.0f / (thickness * 0.1f);
    for (int y = top; y < bottom; ++y) {
      float d = float(y) - edge;
      int i = int(d < 0 ? -d * upStep : d * downStep);
      if (i >= GlowSteps) continue;
      int light = int(float(g_glow[i]) * strength);  // 0..256
      uint32_t& px = s.pixels[y * s.width + x];
      px = Pack(int(px >> 16 & 255) + (colour.r * light >> 8), int(px >> 8 & 255) + (colour.g * light >> 8),
                int(px & 255) + (colour.b * light >> 8));
    }
  }
}

void RenderFrame(Scene& s) {
  if (!s.pixels) return;
  DrawSky(s);
  for (int band = 0; band < s.palette.bandCount; ++band) DrawBand(s, band, s.clock);
}

void Advance(Scene& s) {
  DWORD now = GetTickCount();
  float step = float(now - s.lastTicks);
  s.lastTicks = now;
  if (step > 200) step = 200;  // after a stall, go on smoothly instead of jumping
  s.clock += step * (s.settings.motion == Motion::Lively ? 3.0f : 1.0f);
}

void EndSaver(HWND window) { PostMessageA(window, WM_CLOSE, 0, 0); }

LRESULT CALLBACK SceneProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Scene* s = reinterpret_cast<Scene*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  switch (message) {
    case WM_CREATE: {
      const CreateArgs* args = static_cast<const CreateArgs*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
      s = TakeSceneSlot();
      if (!s) return -1;
      s->role = args->role;
      s->palette = *args->palette;
      s->settings = *args->settings;
      s->scale = args->role == SceneRole::Fullscreen ? 2 : 1;
      s->lastTicks = GetTickCount();
      s->clock = float(s->lastTicks % 600000);  // a different sky each time
      SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(s));
      RECT client;
      GetClientRect(window, &client);
      if (!MakeFrame(*s, client.right, client.bottom)) {
        s->inUse = false;
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        return -1;
      }
      RenderFrame(*s);
      SetTimer(window, FrameTimer, FrameInterval, nullptr);
      return 0;
    }
    case WM_SIZE:
      if (s && LOWORD(lParam) && HIWORD(lParam)) {
        MakeFrame(*s, LOWORD(lParam), HIWORD(lParam));
        RenderFrame(*s);
      }
      return 0;
    case WM_TIMER:
      if (s && wParam == FrameTimer) {
        Advance(*s);
        RenderFrame(*s);
        InvalidateRect(window, nullptr, FALSE);
      }
      return 0;
    case WM_ERASEBKGND:
      return 1;  // every pixel is painted from the frame
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      if (s && s->frameDc) {
        RECT client;
        GetClientRect(window, &client);
        SetStretchBltMode(dc, COLORONCOLOR);
        StretchBlt(dc, 0, 0, client.right, client.bottom, s->frameDc, 0, 0, s->width, s->height, SRCCOPY);
      }
      EndPaint(window, &paint);
      return 0;
    }
    case WM_SETCURSOR:
      if (s && s->role == SceneRole::Fullscreen) {
        SetCursor(nullptr);
        return TRUE;
      }
      break;
    case WM_MOUSEMOVE:
      if (s && s->role == SceneRole::Fullscreen) {
        POINT at = {short(LOWORD(lParam)), short(HIWORD(lParam))};
        if (!s->mouseSeen) {
          s->firstMouse = at;
          s->mouseSeen = true;
        } else if (std::abs(at.x - s->firstMouse.x) > MoveTolerance || std::abs(at.y - s->firstMouse.y) > MoveTolerance) {
          EndSaver(window);
        }
      }
      return 0;
    case WM_LBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (s && s->role == SceneRole::Fullscreen) EndSaver(window);
      return 0;
    case WM_ACTIVATEAPP:
      if (s && s->role == SceneRole::Fullscreen && !wParam) EndSaver(window);
      break;
    case WM_SYSCOMMAND:
      // No screen saver on top of a screen saver, no menus while running.
      if (s && s->role == SceneRole::Fullscreen && (wParam & 0xFFF0) == SC_SCREENSAVE) return 0;
      break;
    case WM_DESTROY:
      KillTimer(window, FrameTimer);
      if (s) {
        // The settings box's preview dies with the box; the others end the program.
        if (s->role != SceneRole::SettingsPreview) PostQuitMessage(0);
        FreeFrame(*s);
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        s->inUse = false;
      }
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

bool RegisterSceneClass(HINSTANCE instance) {
  for (int i = 0; i < GlowSteps; ++i) g_glow[i] = uint16_t(256.0 * std::exp(-double(i) / 32.0));
  WNDCLASSA wc = {};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = SceneProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  wc.lpszClassName = SceneClass;
  return RegisterClassA(&wc) != 0;
}

HWND CreateSceneWindow(HINSTANCE instance, SceneRole role, HWND parent, const RECT& area, const Palette& palette,
                       const Settings& settings) {
  CreateArgs args = {role, &palette, &settings};
  DWORD style = role == SceneRole::Fullscreen ? WS_POPUP | WS_VISIBLE : WS_CHILD | WS_VISIBLE;
  DWORD exStyle = role == SceneRole::Fullscreen ? WS_EX_TOPMOST : 0;
  return CreateWindowExA(exStyle, SceneClass, "Aurora", style, area.left, area.top, area.right - area.left,
                         area.bottom - area.top, parent, nullptr, instance, &args);
}

void UpdateSceneSettings(HWND scene, const Settings& settings) {
  Scene* s = reinterpret_cast<Scene*>(GetWindowLongPtrA(scene, GWLP_USERDATA));
  if (!s) return;
  s->settings = settings;
  RenderFrame(*s);
  InvalidateRect(scene, nullptr, FALSE);
}
