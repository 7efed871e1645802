// The installer's process-wide state: one instance of each module's struct,
// living for the whole run. Windows only.
#pragma once
#include <windows.h>

#include "archive/archive.h"
#include "installer/settings.h"

// Private window messages.
inline constexpr UINT MsgRunInstaller = WM_USER + 1;
inline constexpr UINT MsgStartInstall = WM_USER + 3;
inline constexpr UINT MsgAnswerBox = WM_USER + 10;

inline constexpr char MainWindowName[] = "LumaveilsaverInstaller";
// Not inline: the entry point shows it too, from outside the link-time
// optimisation, which cannot share one definition with it.
constexpr char DamagedInstallerText[] = "The installer file appears to be damaged. Please get a fresh copy.";

struct RunState {
  HINSTANCE InstanceHandle;
  HWND MainWindow;
  bool InstallSucceeded;
  bool TestMode;
  char InstallerTitle[64];     // SaverFileName without ".scr": every caption
  char DocumentTempPath[256];  // the extracted document, for the post-install action
};

extern RunState g_run;
extern InstallerTexts g_texts;
extern uint8_t g_installInfo[InstallInfoSize];
extern Archive g_archive;
extern TextPool g_textPool;
