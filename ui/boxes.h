// Every text the installer shows: the message box with the installer's icon,
// the OK box of ShowText, the opening question (a standard Yes/No box or the
// question dialog 1030), and the answer given to an open box when another
// program sends MsgAnswerBox to the main window.
#pragma once
#include <windows.h>

inline constexpr int IconResource = 200;
inline constexpr int TestIconResource = 201;  // icon mode 2's icon; not in the resources
inline constexpr int QuestionDialogResource = 1030;
inline constexpr int QuestionTextControl = 1031;
inline constexpr int NoAnswer = -1;

struct BoxState {
  int PendingAnswer;     // command that answers the open box; NoAnswer when none is open
  int IconMode;          // 2 from the test offer on (icon 201 is not in the resources)
  HWND QuestionDialog;   // dialog 1030 while it is open
  HWND ProgressDialog;   // dialog 1010 while it is open
};
extern BoxState g_boxes;
// No box open, icon mode 0, no dialogs. Set at start-up rather than as an
// initialiser: the program then carries no initialised data section.
void ResetBoxState();

// Shows a message box owned by the main window; returns the button that ended it.
int ShowBox(const char* text, const char* caption, UINT style);
// ShowBox with PendingAnswer set to answer while the box is open.
int ShowAnsweredBox(const char* text, const char* caption, UINT style, int answer);
// The icon resource a box asks for: 200. Icon mode 2 would ask for 201, which
// the resources do not hold.
int BoxIcon();
void SetIconMode(int mode);
// Closes the progress dialog, then shows text in an OK box; nothing for an empty text.
void ShowText(const char* text);
// Ends the progress dialog when it is open.
void CloseProgressDialog();
// Asks QuestionText; true when the user chose to go on.
bool AskQuestion();

// Where a window of the given rectangle goes to be centred on the desktop.
struct Placement {
  int x, y, width, height;
};
Placement CentredOnDesktop(const RECT& desktop, const RECT& window);
void CentreOnDesktop(HWND window);
INT_PTR CALLBACK QuestionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// MsgAnswerBox: answers the open box with its declining or dismissing answer.
void AnswerOpenBox();
// Answers every dialog-class window that the main window owns.
void AnswerOwnedBoxes();
