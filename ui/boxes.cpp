#include "ui/boxes.h"

#include "installer/run_state.h"
#include "platform/bytes.h"

BoxState g_boxes;

void ResetBoxState() {
  g_boxes = BoxState{};
  g_boxes.PendingAnswer = NoAnswer;
}

int BoxIcon() {
  // Icon mode 2 asks for icon 201, which the installer's resources do not
  // hold (they are fixed at build time); the box would show no icon at all,
  // so every box shows icon 200.
  return IconResource;
}

int ShowBox(const char* text, const char* caption, UINT style) {
  MSGBOXPARAMSA box = {};
  box.cbSize = sizeof box;
  box.hwndOwner = g_run.MainWindow;
  box.hInstance = g_run.InstanceHandle;
  box.lpszText = text;
  box.lpszCaption = caption;
  box.dwStyle = style | MB_USERICON;
  box.lpszIcon = MAKEINTRESOURCEA(BoxIcon());
  return MessageBoxIndirectA(&box);
}

int ShowAnsweredBox(const char* text, const char* caption, UINT style, int answer) {
  g_boxes.PendingAnswer = answer;
  int result = ShowBox(text, caption, style);
  g_boxes.PendingAnswer = NoAnswer;
  return result;
}

void SetIconMode(int mode) { g_boxes.IconMode = mode; }

void ShowText(const char* text) {
  if (!text[0]) return;
  CloseProgressDialog();
  ShowAnsweredBox(text, g_run.InstallerTitle, MB_OK, IDOK);
}

void CloseProgressDialog() {
  HWND dialog = g_boxes.ProgressDialog;
  if (!dialog) return;
  SetForegroundWindow(dialog);
  Sleep(500);
  EndDialog(dialog, IDOK);
  g_boxes.ProgressDialog = nullptr;
}

bool AskQuestion() {
  if (!EqualText(g_texts.YesText, "Yes") || !EqualText(g_texts.NoText, "No")) {
    return DialogBoxParamA(g_run.InstanceHandle, MAKEINTRESOURCEA(QuestionDialogResource), nullptr,
                           QuestionDialogProc, 0) == IDYES;
  }
  return ShowAnsweredBox(g_texts.QuestionText, g_run.InstallerTitle, MB_YESNO, IDNO) == IDYES;
}

Placement CentredOnDesktop(const RECT& desktop, const RECT& window) {
  // One more than the window's size in each direction, as the dialogs have
  // always been placed.
  Placement p;
  p.width = window.right - window.left + 1;
  p.height = window.bottom - window.top + 1;
  p.x = desktop.left + (desktop.right - desktop.left - p.width) / 2;
  p.y = desktop.top + (desktop.bottom - desktop.top - p.height) / 2;
  return p;
}

void CentreOnDesktop(HWND window) {
  RECT desktop, own;
  GetWindowRect(GetDesktopWindow(), &desktop);
  GetWindowRect(window, &own);
  Placement p = CentredOnDesktop(desktop, own);
  MoveWindow(window, p.x, p.y, p.width, p.height, TRUE);
}

INT_PTR CALLBACK QuestionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    CentreOnDesktop(dialog);
    SetWindowTextA(dialog, g_run.InstallerTitle);
    SetWindowTextA(GetDlgItem(dialog, QuestionTextControl), g_texts.QuestionText);
    SetWindowTextA(GetDlgItem(dialog, IDYES), g_texts.YesText);
    SetWindowTextA(GetDlgItem(dialog, IDNO), g_texts.NoText);
    g_boxes.QuestionDialog = dialog;
    g_boxes.PendingAnswer = IDCANCEL;
    return TRUE;
  }
  if (message == WM_COMMAND) {
    g_boxes.QuestionDialog = nullptr;
    g_boxes.PendingAnswer = NoAnswer;
    WORD command = LOWORD(wParam);
    if (command == IDCANCEL || command == IDYES || command == IDNO) EndDialog(dialog, command);
  }
  return FALSE;
}

void AnswerOpenBox() {
  if (g_boxes.PendingAnswer == NoAnswer) return;
  if (g_boxes.QuestionDialog) {
    PostMessageA(g_boxes.QuestionDialog, WM_COMMAND, WPARAM(g_boxes.PendingAnswer), 0);
    PostMessageA(g_boxes.QuestionDialog, WM_COMMAND, IDCANCEL, 0);
    return;
  }
  AnswerOwnedBoxes();
}

// Takes one message off the thread's queue and drops it.
static void DropOneMessage() {
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);
}

static BOOL CALLBACK AnswerOwnedBox(HWND window, LPARAM found) {
  char className[64];
  if (!GetClassNameA(window, className, sizeof className) || !EqualText(className, "#32770")) return TRUE;
  if (GetParent(window) != g_run.MainWindow) return TRUE;
  // The posted answer may be the very message dropped next; the sent
  // commands close the standard boxes: OK on 2, Yes/No on 7, OK/Cancel on 2.
  PostMessageA(window, WM_COMMAND, WPARAM(g_boxes.PendingAnswer), 0);
  DropOneMessage();
  SendMessageA(window, WM_COMMAND, IDCANCEL, 0);
  DropOneMessage();
  SendMessageA(window, WM_COMMAND, IDNO, 0);
  DropOneMessage();
  // An ended box goes away only when its modal loop takes its next message,
  // and the drops above may have taken the one that would have woken it.
  PostMessageA(window, WM_NULL, 0, 0);
  *reinterpret_cast<int*>(found) = 1;
  return TRUE;
}

void AnswerOwnedBoxes() {
  int found = 0;
  EnumWindows(AnswerOwnedBox, reinterpret_cast<LPARAM>(&found));
}
