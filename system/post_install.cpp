#include "system/post_install.h"

#include "installer/run_state.h"
#include "platform/bytes.h"
#include "system/paths.h"
#include "system/restart.h"
#include "system/text.h"

namespace {
struct PostInstallState {
  char RegistryString[RegistryStringCapacity];
  char Expanded[RegistryStringCapacity];
  char CommandLine[CommandLineCapacity];  // the key name first, then the command line
  bool DeleteDocumentPending;
};
PostInstallState s_post;

constexpr char OpenCommandKey[] = "\\shell\\Open\\Command";

// Drops one message of our own queue, undispatched: the panel's reaction
// must not re-enter the installer's window procedure.
void DropOneMessage() {
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);
}
}  // namespace

HWND FindDisplayProperties() { return FindWindowA(nullptr, DisplayPropertiesTitle); }

HWND CloseDisplayProperties() {
  HWND panel = FindDisplayProperties();
  if (!panel) return nullptr;
  HWND box = FindWindowA(nullptr, g_run.InstallerTitle);
  if (box && GetParent(box) == panel) {
    SendMessageA(box, WM_COMMAND, IDCANCEL, 0);
    DropOneMessage();
    Sleep(100);
  }
  PostMessageA(panel, WM_QUIT, 0, 0);
  DropOneMessage();
  Sleep(300);
  return panel;
}

BOOL RunPostInstallAction() {
  uint8_t action = g_texts.PostInstallAction;
  if (action == ActionDisplayProperties) {
    if (!FindDisplayProperties()) WinExec(g_texts.DisplayPropertiesCommand, SW_SHOWNORMAL);
  } else if (action == ActionStartSaver) {
    char* command = WindowsPath(g_texts.SaverFileName);
    if (command[0] != 0 && AppendText(command, PathCapacity, " /s")) WinExec(command, SW_SHOWNORMAL);
  } else if (action == ActionOpenDocument) {
    if (OpenDocument(g_run.DocumentTempPath)) {
      s_post.DeleteDocumentPending = true;
    } else {
      DeleteFileA(g_run.DocumentTempPath);
    }
  }
  return action == ActionNone;
}

BOOL OpenDocument(const char* path) {
  if (FindTextNoCase(path, "://")) return OpenWithAssociation(path, ".html");
  const char* extension = nullptr;
  for (const char* p = path; *p; ++p) {
    if (*p == '.') extension = p;
  }
  if (!extension) return FALSE;
  return OpenWithAssociation(path, extension);
}

BOOL OpenWithAssociation(const char* path, const char* extension) {
  PostInstallState& s = s_post;
  const char* typeName = ReadRegistryString(HKEY_CLASSES_ROOT, extension);
  if (!typeName) return FALSE;
  if (!JoinTexts(s.CommandLine, CommandLineCapacity, typeName, OpenCommandKey)) return FALSE;
  const char* command = ReadRegistryString(HKEY_CLASSES_ROOT, s.CommandLine);
  if (!command) return FALSE;
  if (!BuildCommandLine(s.CommandLine, CommandLineCapacity, command, path)) return FALSE;
  return WinExec(s.CommandLine, SW_SHOWNORMAL) >= 32;
}

const char* ReadRegistryString(HKEY root, const char* keyName) {
  PostInstallState& s = s_post;
  HKEY key;
  if (RegOpenKeyA(root, keyName, &key) != ERROR_SUCCESS) return nullptr;
  DWORD type = 0;
  DWORD size = RegistryStringCapacity;
  LONG status = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(s.RegistryString), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return nullptr;
  // Stored strings need not end in a NUL; one that fills the buffer without
  // it is too long for it.
  if (size == 0 || s.RegistryString[size - 1] != 0) {
    if (size >= DWORD(RegistryStringCapacity)) return nullptr;
    s.RegistryString[size] = 0;
  }
  if (type == REG_EXPAND_SZ) {
    DWORD needed = ExpandEnvironmentStringsA(s.RegistryString, s.Expanded, RegistryStringCapacity);
    if (needed == 0 || needed > DWORD(RegistryStringCapacity)) return nullptr;
    return s.Expanded;
  }
  return s.RegistryString;
}

void FocusAnotherWindow() {
  char title[128];
  HWND window = GetWindow(GetDesktopWindow(), GW_CHILD);
  for (int32_t examined = 0; examined < FocusWindowLimit && window; ++examined) {
    title[0] = 0;
    if (IsWindow(window) && !IsIconic(window) && IsWindowVisible(window) && GetWindowTextA(window, title, sizeof title) > 0 &&
        title[0] != 0 && !(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST)) {
      SetForegroundWindow(window);
      return;
    }
    window = GetWindow(window, GW_HWNDNEXT);
  }
}

void DeleteDocumentLater() {
  if (!s_post.DeleteDocumentPending) return;
  s_post.DeleteDocumentPending = false;
  Sleep(5000);  // give the application time to open it
  if (!DeleteFileA(g_run.DocumentTempPath)) RenameAtRestart(g_run.DocumentTempPath, "NUL");
}
