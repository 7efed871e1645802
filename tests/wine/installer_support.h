// Shared by the installer's Wine test programs.
#pragma once
#include <windows.h>

// Wine without a window manager waits about 2 s for every window it hides;
// the windows of the named program need no management, so they are left
// unmanaged (a per-program setting of the throw-away prefix).
inline void UnmanagedWindows(const char* program) {
  char keyName[160];
  wsprintfA(keyName, "Software\\Wine\\AppDefaults\\%s\\X11 Driver", program);
  HKEY key;
  if (RegCreateKeyA(HKEY_CURRENT_USER, keyName, &key) != ERROR_SUCCESS) return;
  RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
  RegCloseKey(key);
}
