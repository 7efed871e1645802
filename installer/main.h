// The installer's spine: the entry point, the hidden main window and the run
// sequence from the first check of the installer file to the clean-up.
#pragma once
#include <windows.h>

#include "platform/bytes.h"

inline constexpr char TestBoxText[] = "Ready to test the screensaver.\nPress OK, then stop moving the mouse.";
inline constexpr char TestBoxCaption[] = "Lumaveil";

// True when the arguments, after leading blanks, are exactly "-test".
inline bool IsTestArgument(const char* arguments) {
  while (*arguments == ' ') ++arguments;
  return EqualText(arguments, "-test");
}

// SaverFileName without its last four characters (".scr") into the
// 64-byte title; empty for a shorter name.
void SetInstallerTitle(char* title, const char* saverFileName);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int showState);
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The run sequence; returns 0.
int RunInstaller();
// False when the installer file is damaged and the run must stop.
bool ArchiveCheck();
