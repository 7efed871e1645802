// The progress dialog 1010: a line of text and a progress bar. The dialog
// starts the installation itself on its first paint; two hooks of the block
// stream move the bar and keep the thread's messages flowing meanwhile.
#pragma once
#include <windows.h>

#include <cstdint>

#include "ui/boxes.h"

inline constexpr int ProgressDialogResource = 1010;
inline constexpr int ProgressBarControl = 1000;
inline constexpr int ProgressTextControl = 1001;
inline constexpr int32_t TicksPerPump = 128;

struct ProgressState {
  bool StartPending;          // the dialog has not yet started the installation
  int32_t BytesWrittenTotal;  // sum of the counts given to OnBytesWritten
  int32_t TickCount;          // calls of OnTick; the pump may set it back
};
extern ProgressState g_progress;
// The installation not yet started, nothing counted. Set at start-up.
void ResetProgressState();

// Loads the progress bar class and runs dialog 1010; returns when it has ended.
void RunProgressDialog();
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// The dialog's own centring (unlike CentreOnDesktop, the desktop's left and top are not added).
Placement ProgressPlacement(const RECT& desktop, const RECT& dialog);

// The bar's upper end for a total in bytes: KiB, of which the bar keeps 16 bits.
inline WORD ProgressRangeUpper(int32_t total) { return WORD(total / 1024); }

// Block stream hooks: the bar follows the bytes written; every 128th tick pumps messages.
void OnBytesWritten(void* context, int32_t count);
void OnTick(void* context);
// Dispatches the thread's waiting messages; a run of three paints ends it.
void PumpMessages();
