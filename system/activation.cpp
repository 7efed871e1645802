#include "system/activation.h"

#include "installer/run_state.h"
#include "platform/bytes.h"
#include "system/paths.h"

namespace {
struct ActivationState {
  WCHAR WidePath[WidePathCapacity];
  char KeyName[128];
  char DisplayName[128];
  char UninstallCommand[UninstallCommandCapacity];
};
ActivationState s_activation;

static_assert(sizeof(OSVERSIONINFOA) == 148, "the version record GetVersionExA expects");

constexpr uint8_t SpecialByte = 166;
constexpr WCHAR SpecialWide = 0x258C;
}  // namespace

void ActivateScreensaver(const char* fileName) {
  const char* path = ShortWindowsPath(fileName);
  OSVERSIONINFOA version;
  FillBytes(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;  // 148
  GetVersionExA(&version);
  if (path[0] != 0) {
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
      const WCHAR* wide = WidenPath(path, InfoInt(g_installInfo, WidenSpecialCharAt));
      if (wide) WritePrivateProfileStringW(L"boot", L"SCRNSAVE.EXE", wide, L"system.ini");
    } else {
      WritePrivateProfileStringA("boot", "SCRNSAVE.EXE", path, "system.ini");
    }
  }
  SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 1, nullptr, SPIF_UPDATEINIFILE);
}

const WCHAR* WidenPath(const char* text, int32_t widenSpecialChar) {
  WCHAR* wide = s_activation.WidePath;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text);
  int32_t n = 0;
  for (; bytes[n]; ++n) {
    if (n == WidePathCapacity - 1) return nullptr;
    wide[n] = (widenSpecialChar != 0 && bytes[n] == SpecialByte) ? SpecialWide : WCHAR(bytes[n]);
  }
  wide[n] = 0;
  return wide;
}

void RegisterUninstall() {
  ActivationState& s = s_activation;
  if (!JoinTexts(s.KeyName, sizeof s.KeyName, UninstallKeyPrefix, g_texts.SaverFileName)) return;

  int32_t length = CopyText(s.DisplayName, g_texts.SaverFileName, sizeof s.DisplayName);
  if (length > 4) s.DisplayName[length - 4] = 0;  // drop ".scr"
  if (FindTextNoCase(s.DisplayName, "screensaver") == 0 && FindTextNoCase(s.DisplayName, "screen saver") == 0) {
    AppendText(s.DisplayName, sizeof s.DisplayName, " screensaver");
  }

  // An entry whose command is cut would uninstall nothing: leave it out.
  const char* path = WindowsPath(g_texts.SaverFileName);
  if (path[0] == 0) return;
  if (!JoinTexts(s.UninstallCommand, sizeof s.UninstallCommand, path, " -U")) return;

  SetRegistryString(HKEY_LOCAL_MACHINE, s.KeyName, "DisplayName", s.DisplayName);
  SetRegistryString(HKEY_LOCAL_MACHINE, s.KeyName, "UninstallString", s.UninstallCommand);
}

bool SetRegistryString(HKEY root, const char* keyName, const char* valueName, const char* text) {
  HKEY key;
  if (RegCreateKeyExA(root, keyName, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  LONG stored = RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), DWORD(TextLength(text)));
  RegCloseKey(key);
  return stored == ERROR_SUCCESS;
}
