#include "ui/progress.h"

#include <commctrl.h>

#include "installer/install.h"
#include "installer/run_state.h"
#include "ui/boxes.h"

ProgressState g_progress;

void ResetProgressState() {
  g_progress = ProgressState{};
  g_progress.StartPending = true;
}

void RunProgressDialog() {
  // COMCTL32 is loaded at run time so that the program imports only the
  // three system libraries; without it the dialog still runs, without a bar.
  using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  if (HMODULE comctl = LoadLibraryA("COMCTL32.DLL")) {
    auto init = reinterpret_cast<InitFunction>(reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControlsEx")));
    if (init) {
      INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
      init(&classes);
    }
  }
  DialogBoxParamA(g_run.InstanceHandle, MAKEINTRESOURCEA(ProgressDialogResource), g_run.MainWindow,
                  ProgressDialogProc, 0);
}

Placement ProgressPlacement(const RECT& desktop, const RECT& dialog) {
  Placement p;
  p.width = dialog.right - dialog.left + 1;
  p.height = dialog.bottom - dialog.top + 1;
  p.x = (desktop.right - desktop.left + 1 - p.width) / 2;
  p.y = (desktop.bottom - desktop.top + 1 - p.height) / 2;
  return p;
}

static void InitProgressDialog(HWND dialog) {
  g_boxes.ProgressDialog = dialog;
  RECT desktop, own;
  GetWindowRect(GetDesktopWindow(), &desktop);
  GetWindowRect(dialog, &own);
  Placement p = ProgressPlacement(desktop, own);
  MoveWindow(dialog, p.x, p.y, p.width, p.height, TRUE);
  SetWindowTextA(GetDlgItem(dialog, ProgressTextControl), g_texts.ProgressText);
  SendMessageA(GetDlgItem(dialog, ProgressBarControl), PBM_SETRANGE, 0,
               MAKELPARAM(0, ProgressRangeUpper(g_texts.ProgressTotal)));
  SetStreamHooks(g_archive.codec, OnBytesWritten, OnTick, nullptr);
  SetWindowTextA(dialog, g_run.InstallerTitle);
}

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      InitProgressDialog(dialog);
      return TRUE;
    case WM_PAINT:
      PostMessageA(dialog, MsgStartInstall, 0, 0);
      break;
    case MsgStartInstall:
      // Paints go on arriving during the installation; only the first starts it.
      if (g_progress.StartPending) {
        g_progress.StartPending = false;
        Sleep(300);
        InstallScreensaver();
      }
      break;
  }
  return FALSE;
}

void OnBytesWritten(void*, int32_t count) {
  g_progress.BytesWrittenTotal = int32_t(uint32_t(g_progress.BytesWrittenTotal) + uint32_t(count));
  if (g_boxes.ProgressDialog)
    SendMessageA(GetDlgItem(g_boxes.ProgressDialog, ProgressBarControl), PBM_SETPOS,
                 WPARAM(g_progress.BytesWrittenTotal / 1024), 0);
}

void OnTick(void*) {
  g_progress.TickCount = int32_t(uint32_t(g_progress.TickCount) + 1);
  if (g_progress.TickCount & (TicksPerPump - 1)) return;
  PumpMessages();
}

void PumpMessages() {
  // A paint that is taken but not dispatched stays pending, so a window that
  // keeps asking to be painted would hold the pump forever: three paints in a
  // row end it.
  int paints = 0;
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_PAINT) {
      if (++paints == 3) return;
    } else {
      if (paints) g_progress.TickCount = TicksPerPump - 1;
      paints = 0;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}
