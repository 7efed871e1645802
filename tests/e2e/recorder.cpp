// Records how it was started: appends its own path and its command line to the
// log file named by the environment variable E2E_RECORD. Serves the end-to-end
// tests as the screensaver ("SAVER"), as the application registered for the
// document type, and as a stand-in for rundll32. When the last argument names
// an existing file, its first bytes are logged too (the extracted document);
// E2E_HOLD_MS keeps that file open, unshared, for so many milliseconds.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void Append(const char* logPath, const char* line) {
  HANDLE log = CreateFileA(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(log, line, DWORD(std::strlen(line)), &written, nullptr);
  WriteFile(log, "\n", 1, &written, nullptr);
  CloseHandle(log);
}

// The last argument, quotes removed.
void LastArgument(const char* commandLine, char* out, size_t size) {
  out[0] = 0;
  const char* p = commandLine;
  while (*p) {
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p) break;
    size_t n = 0;
    bool quoted = false;
    for (; *p && (quoted || (*p != ' ' && *p != '\t')); ++p) {
      if (*p == '"') quoted = !quoted;
      else if (n + 1 < size) out[n++] = *p;
    }
    out[n] = 0;
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char logPath[MAX_PATH];
  if (!GetEnvironmentVariableA("E2E_RECORD", logPath, sizeof logPath)) return 2;
  char self[MAX_PATH], line[2048];
  GetModuleFileNameA(nullptr, self, sizeof self);
  std::snprintf(line, sizeof line, "started %s cmdline=[%s]", self, GetCommandLineA());
  Append(logPath, line);

  char document[MAX_PATH];
  LastArgument(GetCommandLineA(), document, sizeof document);
  HANDLE file = CreateFileA(document, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  char content[256];
  DWORD got = 0;
  ReadFile(file, content, sizeof content - 1, &got, nullptr);
  content[got] = 0;
  for (DWORD i = 0; i < got; ++i)
    if (content[i] == '\r' || content[i] == '\n') content[i] = ' ';
  std::snprintf(line, sizeof line, "file %s size=%lu content=[%s]", document, GetFileSize(file, nullptr), content);
  Append(logPath, line);
  // Holding, the program looks like an application at rest, waiting for
  // input: the one that started it (WinExec waits for that) goes on meanwhile.
  char hold[32];
  if (GetEnvironmentVariableA("E2E_HOLD_MS", hold, sizeof hold)) {
    DWORD start = GetTickCount(), ms = DWORD(std::atoi(hold));
    MSG msg;
    while (GetTickCount() - start < ms) {
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
  }
  CloseHandle(file);
  return 0;
}
