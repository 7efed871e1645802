// Aurora, the example screensaver that ships with Lumaveil: soft bands of
// coloured light drifting over a night sky. GDI only. The installed file
// carries a payload archive, and Aurora reads its colours ("MOVIE"), its
// default settings ("ZETT") and its credits ("KMDL") from it.
#pragma once
#include <windows.h>

#include <cstdint>

inline constexpr int MaxBands = 6;

struct Rgb {
  int r, g, b;
};

struct Palette {
  Rgb sky;      // top of the screen
  Rgb horizon;  // bottom of the screen
  Rgb band[MaxBands];
  int bandCount;
};

enum class Motion { Calm, Lively };

struct Settings {
  Motion motion;
  bool stars;
};

// What the installed file tells about itself; built-in values when it carries
// no archive (a freshly built aurora.scr) or an entry is missing.
struct Payload {
  Palette palette;
  bool paletteFromArchive;
  Settings defaults;
  char credits[512];
};

// --- Payload (payload.cpp) ---
// Reads the running program's own archive; falls back entry by entry.
void LoadPayload(Payload& payload);
// The text formats of the entries, also used on text from elsewhere.
bool ParsePalette(const char* text, Palette& palette);
void ParseDefaults(const char* text, Settings& settings);

// --- Settings (settings.cpp) ---
// The user's choice from the registry, else the defaults.
Settings LoadSettings(const Settings& defaults);
void SaveSettings(const Settings& settings);
void DeleteSettings();
// The settings box; owner may be null.
void RunSettingsBox(HWND owner, const Payload& payload);

// --- Scene (scene.cpp) ---
// A window that draws the animation into its whole client area, double
// buffered and driven by a timer. scale: the frame buffer is the client area
// divided by it (2 for full screen keeps the frame cheap; the bands are soft).
enum class SceneRole { Fullscreen, Preview, SettingsPreview };
bool RegisterSceneClass(HINSTANCE instance);
HWND CreateSceneWindow(HINSTANCE instance, SceneRole role, HWND parent, const RECT& area, const Palette& palette,
                       const Settings& settings);
// Changes what a running scene shows (the settings box's live preview).
void UpdateSceneSettings(HWND scene, const Settings& settings);

// --- Uninstall (uninstall.cpp) ---
// Undoes what the installer did for this file: the uninstall key, the
// system.ini line when it names this file, and the file itself (at once or at
// the next restart). Returns the process exit code: 0 when all of it worked.
int Uninstall();
