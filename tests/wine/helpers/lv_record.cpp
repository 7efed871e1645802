// Helper for the system module's Wine tests: a program that the post-install
// actions start. It appends its whole command line, one line per start, to
// the file named by LV_RECORD (else lv_record.txt in the temporary
// directory) and exits.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char path[MAX_PATH];
  if (!GetEnvironmentVariableA("LV_RECORD", path, MAX_PATH)) {
    GetTempPathA(MAX_PATH, path);
    lstrcatA(path, "lv_record.txt");
  }
  const char* line = GetCommandLineA();
  for (int attempt = 0; attempt < 100; ++attempt) {
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      Sleep(20);  // another start is writing
      continue;
    }
    DWORD written;
    WriteFile(file, line, lstrlenA(line), &written, nullptr);
    WriteFile(file, "\n", 1, &written, nullptr);
    CloseHandle(file);
    break;
  }
  return 0;
}
