// Support for the system module's Wine tests: redirecting one of the test
// program's own imports (the system module is linked in statically, so its
// Win32 calls go through this program's import table), running helper
// programs, and reading back what they recorded.
#pragma once
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tests/wine/check.h"

// Compares two texts; prints both when they differ.
#define CHECK_TEXT(a, b)                                                                                   \
  do {                                                                                                     \
    ++g_checksRun;                                                                                         \
    std::string va_ = (a), vb_ = (b);                                                                      \
    if (va_ != vb_) {                                                                                      \
      ++g_checksFailed;                                                                                    \
      std::printf("%s:%d: CHECK_TEXT failed: %s = \"%s\", %s = \"%s\"\n", __FILE__, __LINE__, #a, va_.c_str(), \
                  #b, vb_.c_str());                                                                        \
    }                                                                                                      \
  } while (0)

// Replaces the import module!function of this program by replacement for the
// lifetime of the object, e.g. to make GetWindowsDirectoryA fail.
class ImportHook {
 public:
  ImportHook(const char* module, const char* function, void* replacement, bool enabled = true) {
    if (!enabled) return;
    auto* base = reinterpret_cast<uint8_t*>(GetModuleHandleA(nullptr));
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
      if (lstrcmpiA(reinterpret_cast<char*>(base + d->Name), module) != 0) continue;
      auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
      auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
      for (; names->u1.AddressOfData; ++names, ++slots) {
        if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
        auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
        if (std::strcmp(reinterpret_cast<char*>(byName->Name), function) != 0) continue;
        slot_ = reinterpret_cast<void**>(&slots->u1.Function);
        original_ = Swap(replacement);
        return;
      }
    }
  }
  ~ImportHook() {
    if (slot_) Swap(original_);
  }
  ImportHook(const ImportHook&) = delete;
  ImportHook& operator=(const ImportHook&) = delete;
  bool installed() const { return slot_ != nullptr; }
  void* original() const { return original_; }

 private:
  void* Swap(void* value) {
    DWORD old;
    VirtualProtect(slot_, sizeof(void*), PAGE_READWRITE, &old);
    void* previous = *slot_;
    *slot_ = value;
    VirtualProtect(slot_, sizeof(void*), old, &old);
    return previous;
  }
  void** slot_ = nullptr;
  void* original_ = nullptr;
};

// The directory of this program (where the helpers are built), with a
// trailing backslash.
inline std::string ProgramDirectory() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s = path;
  return s.substr(0, s.rfind('\\') + 1);
}

inline std::string RealWindowsDirectory() {
  char dir[MAX_PATH];
  UINT n = GetWindowsDirectoryA(dir, MAX_PATH);
  return std::string(dir, n);
}

inline std::string TempDirectory() {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  return dir;
}

inline bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline bool ReadWholeFile(const std::string& path, std::string& content) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  content.assign(GetFileSize(f, nullptr), '\0');
  DWORD got = 0;
  if (!content.empty()) ReadFile(f, &content[0], DWORD(content.size()), &got, nullptr);
  CloseHandle(f);
  content.resize(got);
  return true;
}

inline bool WriteWholeFile(const std::string& path, const std::string& content) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  WriteFile(f, content.data(), DWORD(content.size()), &put, nullptr);
  CloseHandle(f);
  return put == content.size();
}

// Waits up to timeoutMs for path to hold at least one complete line.
inline bool WaitForRecord(const std::string& path, std::string& content, DWORD timeoutMs = 10000) {
  for (DWORD waited = 0; waited <= timeoutMs; waited += 50) {
    if (ReadWholeFile(path, content) && !content.empty() && content.back() == '\n') return true;
    Sleep(50);
  }
  return false;
}

// Starts a helper program of the build directory with arguments; the process
// handle, to be waited for or ended by the caller.
inline HANDLE StartHelper(const std::string& program, const std::string& arguments) {
  std::string line = "\"" + ProgramDirectory() + program + "\" " + arguments;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return nullptr;
  CloseHandle(process.hThread);
  return process.hProcess;
}

// Waits for a top-level window titled title, up to timeoutMs.
inline HWND WaitForWindow(const char* title, DWORD timeoutMs = 10000) {
  for (DWORD waited = 0; waited <= timeoutMs; waited += 20) {
    if (HWND w = FindWindowA(nullptr, title)) return w;
    Sleep(20);
  }
  return nullptr;
}

inline void StopHelper(HANDLE process) {
  if (!process) return;
  if (WaitForSingleObject(process, 3000) != WAIT_OBJECT_0) TerminateProcess(process, 1);
  WaitForSingleObject(process, 3000);
  CloseHandle(process);
}

// Registers extension (".lvtest") as typeName whose shell\Open\Command
// default value is command, stored with the given type (REG_SZ or
// REG_EXPAND_SZ).
inline bool RegisterFileType(const char* extension, const char* typeName, const char* command, DWORD type = REG_SZ) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, extension, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)) return false;
  RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(typeName), DWORD(std::strlen(typeName) + 1));
  RegCloseKey(key);
  std::string commandKey = std::string(typeName) + "\\shell\\Open\\Command";
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, commandKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)) {
    return false;
  }
  RegSetValueExA(key, nullptr, 0, type, reinterpret_cast<const BYTE*>(command), DWORD(std::strlen(command) + 1));
  RegCloseKey(key);
  return true;
}

inline void RemoveFileType(const char* extension, const char* typeName) {
  RegDeleteKeyA(HKEY_CLASSES_ROOT, extension);
  std::string base = typeName;
  RegDeleteKeyA(HKEY_CLASSES_ROOT, (base + "\\shell\\Open\\Command").c_str());
  RegDeleteKeyA(HKEY_CLASSES_ROOT, (base + "\\shell\\Open").c_str());
  RegDeleteKeyA(HKEY_CLASSES_ROOT, (base + "\\shell").c_str());
  RegDeleteKeyA(HKEY_CLASSES_ROOT, base.c_str());
}

// Starts this program again with the argument "win98", Wine told (through
// its per-program AppDefaults) to report Windows 98 to it; returns the
// child's exit status (98/99 when it could not be started).
inline DWORD RunSelfAsWindows98() {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string name = self;
  name = name.substr(name.rfind('\\') + 1);
  std::string appKey = "Software\\Wine\\AppDefaults\\" + name;
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, appKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return 99;
  }
  RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("win98"), 6);
  RegCloseKey(key);
  std::fflush(stdout);
  std::string line = std::string("\"") + self + "\" win98";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  DWORD status = 98;
  if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    WaitForSingleObject(process.hProcess, 60000);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  RegDeleteKeyA(HKEY_CURRENT_USER, appKey.c_str());
  return status;
}

inline bool IsWindows98Child(int argc, char** argv) { return argc > 1 && std::strcmp(argv[1], "win98") == 0; }
