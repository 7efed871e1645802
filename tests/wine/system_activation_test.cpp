// ActivateScreensaver, WidenPath, RegisterUninstall and SetRegistryString
// against the prefix's system.ini and registry. The program runs as the NT
// family, then starts itself again with Wine told to report Windows 98 for
// it (the per-program AppDefaults version), which takes the single-byte
// profile route.
#include "system/activation.h"

#include "installer/run_state.h"
#include "system/paths.h"
#include "tests/wine/system_support.h"

namespace {
std::wstring Widen(const std::string& text) {
  std::wstring wide;
  for (unsigned char c : text) wide += wchar_t(c);
  return wide;
}

std::string Hex(const std::wstring& text) {
  std::string out;
  char unit[8];
  for (wchar_t c : text) {
    if (c >= 32 && c < 127) {
      out += char(c);
    } else {
      std::snprintf(unit, sizeof unit, "<%04X>", unsigned(c));
      out += unit;
    }
  }
  return out;
}

std::wstring ReadBootEntryW() {
  wchar_t value[512];
  GetPrivateProfileStringW(L"boot", L"SCRNSAVE.EXE", L"<none>", value, 512, L"system.ini");
  return value;
}

std::string ReadBootEntryA() {
  char value[512];
  GetPrivateProfileStringA("boot", "SCRNSAVE.EXE", "<none>", value, 512, "system.ini");
  return value;
}

// The value of "SCRNSAVE.EXE=" in the bytes of system.ini itself.
std::string BootEntryBytes() {
  std::string content;
  ReadWholeFile(RealWindowsDirectory() + "\\system.ini", content);
  size_t at = content.find("SCRNSAVE.EXE=");
  if (at == std::string::npos) return "<none>";
  at += 13;
  size_t end = content.find_first_of("\r\n", at);
  return content.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// What the module hands to WritePrivateProfileStringW, recorded on the way
// through: Wine writes system.ini in the ANSI code page, where U+258C and
// U+00A6 both become byte 166, so the file alone cannot tell them apart.
struct ProfileWrite {
  int count = 0;
  std::wstring section, key, value, file;
} g_wideWrite;
decltype(&WritePrivateProfileStringW) g_realWriteW = nullptr;
BOOL WINAPI RecordingWriteW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file) {
  ++g_wideWrite.count;
  g_wideWrite.section = section ? section : L"";
  g_wideWrite.key = key ? key : L"";
  g_wideWrite.value = value ? value : L"";
  g_wideWrite.file = file ? file : L"";
  return g_realWriteW(section, key, value, file);
}

int g_narrowWrites = 0;
std::string g_narrowValue;
decltype(&WritePrivateProfileStringA) g_realWriteA = nullptr;
BOOL WINAPI RecordingWriteA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  ++g_narrowWrites;
  g_narrowValue = value ? value : "";
  return g_realWriteA(section, key, value, file);
}

// The length each RegSetValueExA call was given, by value name.
int g_setCount = 0;
DWORD g_setLength[2];
decltype(&RegSetValueExA) g_realSetValue = nullptr;
LONG WINAPI RecordingSetValue(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
  if (g_setCount < 2) g_setLength[g_setCount] = size;
  ++g_setCount;
  return g_realSetValue(key, name, reserved, type, data, size);
}

void SetWidenSpecialChar(int32_t value) { SetInfoInt(g_installInfo, WidenSpecialCharAt, value); }

bool ScreenSavingOn() {
  BOOL active = FALSE;
  SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
  return active != FALSE;
}

const char* g_fakeDirectory = nullptr;
UINT WINAPI FakeWindowsDirectory(LPSTR buffer, UINT size) {
  lstrcpynA(buffer, g_fakeDirectory, int(size));
  return UINT(lstrlenA(g_fakeDirectory));
}

// One registry value as stored: its type and data.
struct StoredValue {
  LONG status = -1;
  DWORD type = 0;
  std::string data;
};
StoredValue ReadValue(const std::string& keyName, const char* valueName) {
  StoredValue v;
  HKEY key;
  if ((v.status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, KEY_READ, &key)) != ERROR_SUCCESS) return v;
  char data[600];
  DWORD size = sizeof data;
  v.status = RegQueryValueExA(key, valueName, nullptr, &v.type, reinterpret_cast<BYTE*>(data), &size);
  if (v.status == ERROR_SUCCESS) v.data.assign(data, size);
  RegCloseKey(key);
  return v;
}

bool KeyExists(const std::string& keyName) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

void DeleteUninstallKey(const char* fileName) {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(UninstallKeyPrefix) + fileName).c_str());
}

void SetSaverFileName(const char* name) { lstrcpynA(g_texts.SaverFileName, name, TextCapacity); }

// NT family: the wide profile write, with and without the special character.
void CheckWideActivation() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  CHECK_EQ(version.dwPlatformId, VER_PLATFORM_WIN32_NT);
  const std::string windows = RealWindowsDirectory();

  struct Case {
    const char* fileName;
    int32_t widenSpecialChar;
    wchar_t special;  // what byte 166 or 233 must become
  } cases[] = {
      {"lv\xA6saver.scr", 1, 0x258C},
      {"lv\xA6saver.scr", 0, 0x00A6},
      {"lv\xA6saver.scr", 7, 0x258C},  // any nonzero value
      {"lv\xE9saver.scr", 1, 0x00E9},
      {"lv\xE9saver.scr", 0, 0x00E9},
  };
  ImportHook writeW("kernel32.dll", "WritePrivateProfileStringW", reinterpret_cast<void*>(&RecordingWriteW));
  CHECK(writeW.installed());
  g_realWriteW = reinterpret_cast<decltype(g_realWriteW)>(writeW.original());
  for (const Case& c : cases) {
    SetWidenSpecialChar(c.widenSpecialChar);
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 0, nullptr, SPIF_UPDATEINIFILE);
    g_wideWrite = ProfileWrite();
    ActivateScreensaver(c.fileName);
    std::wstring expected = Widen(windows + "\\lv") + c.special + L"saver.scr";
    CHECK_EQ(g_wideWrite.count, 1);
    CHECK(g_wideWrite.section == L"boot" && g_wideWrite.key == L"SCRNSAVE.EXE" && g_wideWrite.file == L"system.ini");
    if (g_wideWrite.value != expected) {
      std::printf("  written %s, expected %s\n", Hex(g_wideWrite.value).c_str(), Hex(expected).c_str());
    }
    CHECK(g_wideWrite.value == expected);
    // What lands in the file: byte 166 for both U+258C and U+00A6, read back
    // through the wide interface as U+00A6; 233 stays 233.
    CHECK_TEXT(BootEntryBytes(), windows + "\\" + c.fileName);
    CHECK(ReadBootEntryW() == Widen(windows + "\\" + c.fileName));
    CHECK(ScreenSavingOn());
  }

  // Kept as UTF-16 (a system.ini that starts with a byte-order mark), the
  // file holds the very units written, and reading back tells them apart.
  {
    const std::string systemIni = windows + "\\system.ini";
    std::string ansi;
    CHECK(ReadWholeFile(systemIni, ansi));
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, L"system.ini");  // drop Wine's cached copy
    std::wstring wide = L"\xFEFF" + Widen(ansi);
    CHECK(WriteWholeFile(systemIni, std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2)));
    for (const Case& c : cases) {
      SetWidenSpecialChar(c.widenSpecialChar);
      ActivateScreensaver(c.fileName);
      CHECK(ReadBootEntryW() == Widen(windows + "\\lv") + c.special + L"saver.scr");
    }
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, L"system.ini");
    CHECK(WriteWholeFile(systemIni, ansi));
  }

  // An 8.3 name as it is; a long name of an existing file by its short name.
  SetWidenSpecialChar(0);
  ActivateScreensaver("LVSAVER.SCR");
  CHECK(ReadBootEntryW() == Widen(windows + "\\LVSAVER.SCR"));
  const char* longName = "Lumaveil Activation Test.scr";
  CHECK(WriteWholeFile(windows + "\\" + longName, "saver"));
  std::string shortPath = ShortWindowsPath(longName);
  ActivateScreensaver(longName);
  CHECK(ReadBootEntryW() == Widen(shortPath));
  CHECK(shortPath != windows + "\\" + longName);  // Wine gives long names an alternate name
  DeleteFileA((windows + "\\" + longName).c_str());

  // A path of more than 255 characters does not fit the widened buffer: the
  // entry keeps its old value, and screen saving is still switched on.
  {
    ImportHook directory("kernel32.dll", "GetWindowsDirectoryA", reinterpret_cast<void*>(&FakeWindowsDirectory));
    std::string longDirectory = "C:\\" + std::string(237, 'd');  // 240 characters
    g_fakeDirectory = longDirectory.c_str();
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 0, nullptr, SPIF_UPDATEINIFILE);
    ActivateScreensaver("lv_exactly_15.s");  // 240 + 1 + 15 = 256 characters
    CHECK(ReadBootEntryW() == Widen(shortPath));
    CHECK(ScreenSavingOn());
    ActivateScreensaver("lv_exactly_14.");  // 255 characters fit
    CHECK(ReadBootEntryW() == Widen(longDirectory + "\\lv_exactly_14."));
  }
  // A name that does not fit the path buffer at all writes nothing either.
  ActivateScreensaver("LVSAVER.SCR");
  ActivateScreensaver(std::string(300, 'n').c_str());
  CHECK(ReadBootEntryW() == Widen(windows + "\\LVSAVER.SCR"));
}

void CheckWidenPath() {
  std::string all;
  for (int b = 1; b < 256; ++b) all += char(b);  // 255 characters: the most that fits
  for (int32_t widen : {0, 1}) {
    const WCHAR* wide = WidenPath(all.c_str(), widen);
    CHECK(wide != nullptr);
    if (!wide) continue;
    int mismatches = 0;
    for (int b = 1; b < 256; ++b) {
      WCHAR expected = (widen && b == 166) ? WCHAR(0x258C) : WCHAR(b);
      if (wide[b - 1] != expected) ++mismatches;
    }
    CHECK_EQ(mismatches, 0);
    CHECK_EQ(wide[255], 0);
  }
  CHECK(WidenPath((all + "x").c_str(), 0) == nullptr);
  const WCHAR* empty = WidenPath("", 1);
  CHECK(empty && empty[0] == 0);
}

void CheckUninstallEntry() {
  const std::string windows = RealWindowsDirectory();
  struct Case {
    const char* fileName;
    const char* displayName;
  } cases[] = {
      {"Aurora.scr", "Aurora screensaver"},
      {"My ScreenSaver.scr", "My ScreenSaver"},
      {"Big SCREEN saver.scr", "Big SCREEN saver"},
      {"screen  saver.scr", "screen  saver screensaver"},  // two spaces are not the words
      {"Screensavers Pack.scr", "Screensavers Pack"},
      {".scr", ".scr screensaver"},
      {"abcd", "abcd screensaver"},  // four characters are not shortened
      {"abcde", "a screensaver"},
  };
  ImportHook setValue("advapi32.dll", "RegSetValueExA", reinterpret_cast<void*>(&RecordingSetValue));
  CHECK(setValue.installed());
  g_realSetValue = reinterpret_cast<decltype(g_realSetValue)>(setValue.original());
  for (const Case& c : cases) {
    DeleteUninstallKey(c.fileName);
    SetSaverFileName(c.fileName);
    g_setCount = 0;
    RegisterUninstall();
    std::string keyName = std::string(UninstallKeyPrefix) + c.fileName;
    std::string uninstall = windows + "\\" + c.fileName + " -U";  // unquoted, spaces and all
    // Both values are handed over without their NUL; the registry (as NT
    // does) stores one anyway when the byte behind the data is a NUL.
    CHECK_EQ(g_setCount, 2);
    CHECK_EQ(g_setLength[0], std::strlen(c.displayName));
    CHECK_EQ(g_setLength[1], uninstall.size());
    StoredValue display = ReadValue(keyName, "DisplayName");
    CHECK_EQ(display.status, ERROR_SUCCESS);
    CHECK_EQ(display.type, REG_SZ);
    CHECK_TEXT(display.data, std::string(c.displayName) + '\0');
    StoredValue command = ReadValue(keyName, "UninstallString");
    CHECK_EQ(command.status, ERROR_SUCCESS);
    CHECK_EQ(command.type, REG_SZ);
    CHECK_TEXT(command.data, uninstall + '\0');
    DeleteUninstallKey(c.fileName);
  }

  // A value that already exists is replaced.
  const char* key = "SOFTWARE\\Lumaveil test";
  CHECK(SetRegistryString(HKEY_LOCAL_MACHINE, key, "Value", "first text"));
  CHECK(SetRegistryString(HKEY_LOCAL_MACHINE, key, "Value", "second"));
  CHECK_TEXT(ReadValue(key, "Value").data, std::string("second") + '\0');
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);

  // A key that cannot be created: false, nothing stored.
  CHECK(!SetRegistryString(reinterpret_cast<HKEY>(uintptr_t(0x1234)), "x", "Value", "text"));

  // An uninstall command of more than 255 characters leaves the entry out
  // altogether; 255 characters are written.
  ImportHook directory("kernel32.dll", "GetWindowsDirectoryA", reinterpret_cast<void*>(&FakeWindowsDirectory));
  std::string longDirectory = "C:\\" + std::string(239, 'd');  // 242 characters
  g_fakeDirectory = longDirectory.c_str();
  SetSaverFileName("Aurora.scr");  // 242 + 1 + 10 + " -U" = 256 characters
  DeleteUninstallKey("Aurora.scr");
  RegisterUninstall();
  CHECK(!KeyExists(std::string(UninstallKeyPrefix) + "Aurora.scr"));
  longDirectory.pop_back();  // 255 characters
  g_fakeDirectory = longDirectory.c_str();
  RegisterUninstall();
  StoredValue command = ReadValue(std::string(UninstallKeyPrefix) + "Aurora.scr", "UninstallString");
  CHECK_TEXT(command.data, longDirectory + "\\Aurora.scr -U" + '\0');
  CHECK_EQ(command.data.size(), 255u + 1);
  DeleteUninstallKey("Aurora.scr");
}

// 9x family: the single-byte write, unchanged whatever WidenSpecialChar says.
int RunAsWindows98() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  CHECK_EQ(version.dwPlatformId, VER_PLATFORM_WIN32_WINDOWS);
  const std::string windows = RealWindowsDirectory();
  ImportHook writeW("kernel32.dll", "WritePrivateProfileStringW", reinterpret_cast<void*>(&RecordingWriteW));
  ImportHook writeA("kernel32.dll", "WritePrivateProfileStringA", reinterpret_cast<void*>(&RecordingWriteA));
  CHECK(writeW.installed() && writeA.installed());
  g_realWriteW = reinterpret_cast<decltype(g_realWriteW)>(writeW.original());
  g_realWriteA = reinterpret_cast<decltype(g_realWriteA)>(writeA.original());
  for (const char* fileName : {"lv\xA6saver.scr", "lv\xE9saver.scr"}) {
    for (int32_t widen : {1, 0}) {
      SetWidenSpecialChar(widen);
      SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 0, nullptr, SPIF_UPDATEINIFILE);
      g_wideWrite = ProfileWrite();
      g_narrowWrites = 0;
      ActivateScreensaver(fileName);
      CHECK_EQ(g_wideWrite.count, 0);
      CHECK_EQ(g_narrowWrites, 1);
      CHECK_TEXT(g_narrowValue, windows + "\\" + fileName);
      CHECK_TEXT(ReadBootEntryA(), windows + "\\" + fileName);
      CHECK_TEXT(BootEntryBytes(), windows + "\\" + fileName);
      CHECK(ScreenSavingOn());
    }
  }
  return CheckSummary("system_activation_test (as Windows 98)");
}

}  // namespace

int main(int argc, char** argv) {
  if (IsWindows98Child(argc, argv)) return RunAsWindows98();

  const std::string systemIni = RealWindowsDirectory() + "\\system.ini";
  std::string savedIni;
  bool hadIni = ReadWholeFile(systemIni, savedIni);
  BOOL savedActive = FALSE;
  SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &savedActive, 0);

  CheckWideActivation();
  CheckWidenPath();
  CheckUninstallEntry();
  CHECK_EQ(RunSelfAsWindows98(), 0);

  WritePrivateProfileStringW(nullptr, nullptr, nullptr, L"system.ini");  // flush Wine's cached copy
  if (hadIni) WriteWholeFile(systemIni, savedIni);
  SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, savedActive, nullptr, SPIF_UPDATEINIFILE);
  return CheckSummary("system_activation_test");
}
