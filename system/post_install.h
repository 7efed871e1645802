// What the installer does to the desktop around the install: closing an open
// Display Properties panel before the file is written, the post-install
// action afterwards, bringing another window to the front, and deleting the
// opened document later. Failures are silent.
#pragma once
#include <windows.h>

#include <cstdint>

inline constexpr char DisplayPropertiesTitle[] = "Display Properties";
inline constexpr int32_t RegistryStringCapacity = 256;
inline constexpr int32_t CommandLineCapacity = 384;
inline constexpr int32_t FocusWindowLimit = 64;

// The top-level window titled "Display Properties", or null.
HWND FindDisplayProperties();
// Tells an open Display Properties panel (and a box of ours it owns) to
// close, waiting 100 and 300 ms; returns the panel, or null without waiting.
HWND CloseDisplayProperties();
// Carries out g_texts.PostInstallAction; true only for code 0 (nothing done).
BOOL RunPostInstallAction();
// Opens a file (by its extension) or a URL (as ".html") with its registered
// application; true when one was started.
BOOL OpenDocument(const char* path);
// Runs the open command registered for extension with path; true when
// WinExec reported success. False when the command line does not fit.
BOOL OpenWithAssociation(const char* path, const char* extension);
// The default value of root\keyName as text, environment references of a
// REG_EXPAND_SZ expanded; null when missing or longer than 255 characters.
const char* ReadRegistryString(HKEY root, const char* keyName);
// Brings the first of the top 64 windows that is visible, not minimised,
// titled and not always on top to the foreground.
void FocusAnotherWindow();
// Deletes the opened document after 5 s, or schedules it for the restart
// when it is still in use. Does nothing unless action 3 opened it.
void DeleteDocumentLater();
