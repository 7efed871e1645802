// The installer's user interaction under Wine: command-line and title rules,
// dialog placement, the resources as the program carries them, the progress
// pump, and every box answered from outside the way another program would.
#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "installer/main.h"
#include "installer/run_state.h"
#include "platform/runtime_win32.h"
#include "tests/wine/check.h"
#include "tests/wine/installer_support.h"
#include "ui/boxes.h"
#include "ui/progress.h"

namespace {

// --- Command line and title ---

void TestCommandLine() {
  struct Case {
    const char* commandLine;
    const char* arguments;
    bool test;
  };
  const Case cases[] = {
      {"installer.exe -test", "-test", true},
      {"\"C:\\Program Files\\setup.exe\" -test", "-test", true},
      {"installer.exe \t  -test", "-test", true},
      {"\"setup.exe\"-test", "-test", true},
      {"installer.exe -test ", "-test ", false},
      {"installer.exe -test x", "-test x", false},
      {"installer.exe -TEST", "-TEST", false},
      {"installer.exe -tes", "-tes", false},
      {"installer.exe", "", false},
      {"\"unterminated -test", "", false},
  };
  for (const Case& c : cases) {
    const char* arguments = SkipProgramName(c.commandLine);
    CHECK(std::strcmp(arguments, c.arguments) == 0);
    CHECK_EQ(IsTestArgument(arguments), c.test);
  }
  // WinMain itself skips further blanks.
  CHECK(IsTestArgument("   -test"));
}

void TestInstallerTitle() {
  struct Case {
    const char* saverFileName;
    const char* title;
  };
  const Case cases[] = {
      {"Aurora.scr", "Aurora"}, {"A.scr", "A"}, {".scr", ""}, {"1", ""}, {"", ""}, {"abcd", ""},
  };
  char title[TextCapacity];
  for (const Case& c : cases) {
    std::memset(title, 'x', sizeof title);
    SetInstallerTitle(title, c.saverFileName);
    CHECK(std::strcmp(title, c.title) == 0);
  }
  char longest[TextCapacity];
  std::memset(longest, 'n', sizeof longest - 1);
  longest[sizeof longest - 1] = 0;
  SetInstallerTitle(title, longest);
  CHECK_EQ(std::strlen(title), TextCapacity - 1 - 4);
}

// --- Placement ---

void TestPlacement() {
  struct Case {
    RECT desktop, window;
    Placement centred, progress;
  };
  const Case cases[] = {
      // Both grow the window by one pixel each way.
      {{0, 0, 1024, 768}, {10, 20, 310, 120}, {361, 333, 301, 101}, {362, 334, 301, 101}},
      // A desktop that does not start at 0: only CentreOnDesktop adds its corner.
      {{-100, -50, 924, 718}, {0, 0, 300, 100}, {261, 283, 301, 101}, {362, 334, 301, 101}},
      // A window larger than the desktop: the divisions truncate toward zero.
      {{0, 0, 100, 100}, {0, 0, 300, 300}, {-100, -100, 301, 301}, {-100, -100, 301, 301}},
  };
  for (const Case& c : cases) {
    Placement a = CentredOnDesktop(c.desktop, c.window);
    CHECK_EQ(a.x, c.centred.x);
    CHECK_EQ(a.y, c.centred.y);
    CHECK_EQ(a.width, c.centred.width);
    CHECK_EQ(a.height, c.centred.height);
    Placement b = ProgressPlacement(c.desktop, c.window);
    CHECK_EQ(b.x, c.progress.x);
    CHECK_EQ(b.y, c.progress.y);
    CHECK_EQ(b.width, c.progress.width);
    CHECK_EQ(b.height, c.progress.height);
  }
}

void TestProgressRange() {
  CHECK_EQ(ProgressRangeUpper(0), 0);
  CHECK_EQ(ProgressRangeUpper(70 * 1024 + 1023), 70);
  CHECK_EQ(ProgressRangeUpper(65535 * 1024), 65535);
  CHECK_EQ(ProgressRangeUpper(67108864), 0);  // 65536 KiB: only 16 bits stay
  CHECK_EQ(ProgressRangeUpper(67108864 + 5 * 1024), 5);
}

// --- Resources ---

// Reads a dialog template item by item.
struct TemplateReader {
  const BYTE* p;
  WORD Word() {
    WORD w = WORD(p[0] | p[1] << 8);
    p += 2;
    return w;
  }
  DWORD Dword() {
    DWORD lo = Word();
    return lo | DWORD(Word()) << 16;
  }
  short Short() { return short(Word()); }
  // A name or ordinal: "#n" for an ordinal, else the text.
  void Text(char* out, int size) {
    WORD first = Word();
    if (first == 0xFFFF) {
      wsprintfA(out, "#%u", Word());
      return;
    }
    int n = 0;
    for (WORD c = first; c; c = Word())
      if (n < size - 1) out[n++] = char(c);
    out[n] = 0;
  }
  void AlignDword(const BYTE* base) {
    while ((p - base) % 4) ++p;
  }
};

struct ExpectedItem {
  DWORD style;
  short x, y, cx, cy;
  WORD id;
  const char* className;  // "#128" button, "#130" static
  const char* text;
};

void CheckDialog(int resource, DWORD style, short cx, short cy, const ExpectedItem* items, int count) {
  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(resource), MAKEINTRESOURCEA(5));  // RT_DIALOG
  CHECK(found != nullptr);
  if (!found) return;
  const BYTE* base = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)));
  TemplateReader r{base};
  char text[64];
  CHECK_EQ(r.Dword(), style);
  CHECK_EQ(r.Dword(), 0u);  // extended style
  CHECK_EQ(r.Word(), count);
  CHECK_EQ(r.Short(), 0);
  CHECK_EQ(r.Short(), 0);
  CHECK_EQ(r.Short(), cx);
  CHECK_EQ(r.Short(), cy);
  r.Text(text, sizeof text);  // menu
  CHECK(text[0] == 0);
  r.Text(text, sizeof text);  // class
  CHECK(text[0] == 0);
  r.Text(text, sizeof text);  // caption
  CHECK(text[0] == 0);
  CHECK_EQ(r.Word(), 8);      // points
  r.Text(text, sizeof text);
  CHECK(std::strcmp(text, "MS Sans Serif") == 0);
  for (int i = 0; i < count; ++i) {
    const ExpectedItem& e = items[i];
    r.AlignDword(base);
    CHECK_EQ(r.Dword(), e.style);
    CHECK_EQ(r.Dword(), 0u);
    CHECK_EQ(r.Short(), e.x);
    CHECK_EQ(r.Short(), e.y);
    CHECK_EQ(r.Short(), e.cx);
    CHECK_EQ(r.Short(), e.cy);
    CHECK_EQ(r.Word(), e.id);
    r.Text(text, sizeof text);
    CHECK(lstrcmpiA(text, e.className) == 0);
    r.Text(text, sizeof text);
    CHECK(std::strcmp(text, e.text) == 0);
    CHECK_EQ(r.Word(), 0);  // no creation data
  }
}

void TestResources() {
  const ExpectedItem progress[] = {
      {0x50020000, 12, 10, 130, 10, 1001, "#130", "Installing screensaver..."},
      {0x50800001, 11, 24, 133, 10, 1000, "msctls_progress32", "Progress1"},
  };
  CheckDialog(1010, 0x800000C0, 150, 42, progress, 2);
  const ExpectedItem question[] = {
      {0x50000003, 5, 6, 20, 20, 200, "#130", "#200"},
      {0x50010001, 30, 29, 48, 14, 6, "#128", ""},
      {0x50010000, 90, 29, 48, 14, 7, "#128", ""},
      {0x50020001, 34, 7, 123, 19, 1031, "#130", ""},
  };
  CheckDialog(1030, 0x80C800C0, 170, 47, question, 4);

  // One icon group, 200, with one 32 x 32 image of 8 bits per pixel.
  HRSRC group = FindResourceA(nullptr, MAKEINTRESOURCEA(200), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
  CHECK(group != nullptr);
  if (group) {
    const BYTE* g = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, group)));
    CHECK_EQ(g[4] | g[5] << 8, 1);  // images
    CHECK_EQ(g[6], 32);
    CHECK_EQ(g[7], 32);
    CHECK_EQ(g[12] | g[13] << 8, 8);  // bits per pixel
    WORD image = WORD(g[18] | g[19] << 8);
    HRSRC icon = FindResourceA(nullptr, MAKEINTRESOURCEA(image), MAKEINTRESOURCEA(3));  // RT_ICON
    CHECK(icon != nullptr);
    if (icon) {
      auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(nullptr, icon)));
      CHECK_EQ(header->biWidth, 32);
      CHECK_EQ(header->biHeight, 64);  // colours and mask
      CHECK_EQ(header->biBitCount, 8);
      CHECK_EQ(SizeofResource(nullptr, icon), g[14] | g[15] << 8 | g[16] << 16 | g[17] << 24);
    }
  }
  CHECK(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(200)) != nullptr);
  // There is no icon 201: boxes in icon mode 2 fall back to icon 200.
  CHECK(FindResourceA(nullptr, MAKEINTRESOURCEA(201), MAKEINTRESOURCEA(14)) == nullptr);
  SetIconMode(0);
  CHECK_EQ(BoxIcon(), 200);
  SetIconMode(2);
  CHECK_EQ(BoxIcon(), 200);
  SetIconMode(0);
}

// --- The progress pump ---

constexpr UINT MsgCounted = WM_USER + 5;
constexpr UINT MsgAfterPaint = WM_USER + 6;

struct PumpWindow {
  HWND window;
  int counted, afterPaint, paints;
  bool validatePaint;  // paint properly and post MsgAfterPaint; else leave it invalid
};
PumpWindow g_pump;

LRESULT CALLBACK PumpWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == MsgCounted) ++g_pump.counted;
  if (message == MsgAfterPaint) ++g_pump.afterPaint;
  if (message == WM_PAINT) {
    ++g_pump.paints;
    if (!g_pump.validatePaint) return 0;
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
    PostMessageA(window, MsgAfterPaint, 0, 0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void DrainQueue() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

void TestPump() {
  WNDCLASSA pumpClass = {};
  pumpClass.lpfnWndProc = PumpWindowProc;
  pumpClass.hInstance = GetModuleHandleA(nullptr);
  pumpClass.lpszClassName = "InstallerPumpTest";
  RegisterClassA(&pumpClass);
  g_pump.validatePaint = true;
  g_pump.window = CreateWindowExA(0, "InstallerPumpTest", "pump", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  UpdateWindow(g_pump.window);
  DrainQueue();

  // Only every 128th tick pumps.
  g_progress.TickCount = 0;
  for (int i = 0; i < 3; ++i) PostMessageA(g_pump.window, MsgCounted, 0, 0);
  for (int i = 0; i < 127; ++i) OnTick(nullptr);
  CHECK_EQ(g_pump.counted, 0);
  OnTick(nullptr);
  CHECK_EQ(g_pump.counted, 3);
  CHECK_EQ(g_progress.TickCount, 128);
  g_pump.afterPaint = 0;

  // A window that stays invalid: the third paint in a row ends the pump
  // undispatched.
  g_pump.paints = 0;
  g_pump.validatePaint = false;
  InvalidateRect(g_pump.window, nullptr, FALSE);
  g_progress.TickCount = 127;
  OnTick(nullptr);
  CHECK_EQ(g_pump.paints, 2);
  CHECK_EQ(g_progress.TickCount, 128);
  ValidateRect(g_pump.window, nullptr);

  // A paint followed by another message: the next tick pumps again.
  g_pump.paints = 0;
  g_pump.validatePaint = true;
  InvalidateRect(g_pump.window, nullptr, FALSE);
  g_progress.TickCount = 127;
  OnTick(nullptr);
  CHECK_EQ(g_pump.paints, 1);
  CHECK_EQ(g_pump.afterPaint, 1);
  CHECK_EQ(g_progress.TickCount, 127);

  DestroyWindow(g_pump.window);
  DrainQueue();

  // Without a progress dialog the bytes still count.
  g_boxes.ProgressDialog = nullptr;
  g_progress.BytesWrittenTotal = 0;
  OnBytesWritten(nullptr, 5000);
  OnBytesWritten(nullptr, 240);
  CHECK_EQ(g_progress.BytesWrittenTotal, 5240);
}

// --- Boxes answered from outside ---

// What the answering timer saw while a box was open.
struct Snapshot {
  int boxes;                // answers given
  int pendingAnswer;
  bool questionDialog;
  char boxText[128];
  char caption[64];
  char question[64], yes[32], no[32];
  char progressText[64], progressCaption[64];
  LRESULT progressUpper;
  bool progressVisible;
};
Snapshot g_seen;

struct FindOwned {
  HWND found;
  int control;  // a control the window must have; 0: any
};

BOOL CALLBACK FindOwnedDialog(HWND window, LPARAM lParam) {
  auto* find = reinterpret_cast<FindOwned*>(lParam);
  char className[64];
  GetClassNameA(window, className, sizeof className);
  if (std::strcmp(className, "#32770") || GetParent(window) != g_run.MainWindow) return TRUE;
  if (find->control ? !GetDlgItem(window, find->control) : !IsWindowVisible(window)) return TRUE;
  find->found = window;
  return FALSE;
}

HWND OwnedDialog(int control) {
  FindOwned find = {nullptr, control};
  EnumWindows(FindOwnedDialog, reinterpret_cast<LPARAM>(&find));
  return find.found;
}

// Runs from the open box's modal loop: notes what is shown, then asks the
// main window to answer, as another program would.
void CALLBACK AnswerLater(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  Snapshot& s = g_seen;
  s.pendingAnswer = g_boxes.PendingAnswer;
  s.questionDialog = g_boxes.QuestionDialog != nullptr;
  if (HWND question = g_boxes.QuestionDialog) {
    GetWindowTextA(question, s.caption, sizeof s.caption);
    GetDlgItemTextA(question, QuestionTextControl, s.question, sizeof s.question);
    GetDlgItemTextA(question, IDYES, s.yes, sizeof s.yes);
    GetDlgItemTextA(question, IDNO, s.no, sizeof s.no);
  } else if (HWND box = OwnedDialog(0)) {
    GetWindowTextA(box, s.caption, sizeof s.caption);
    GetDlgItemTextA(box, 0xFFFF, s.boxText, sizeof s.boxText);
  }
  if (HWND progress = OwnedDialog(ProgressBarControl)) {
    GetWindowTextA(progress, s.progressCaption, sizeof s.progressCaption);
    GetDlgItemTextA(progress, ProgressTextControl, s.progressText, sizeof s.progressText);
    s.progressUpper = SendDlgItemMessageA(progress, ProgressBarControl, PBM_GETRANGE, FALSE, 0);
    s.progressVisible = IsWindowVisible(progress);
  }
  ++s.boxes;
  PostMessageA(g_run.MainWindow, MsgAnswerBox, 0, 0);
}

void AnswerSoon() {
  int boxes = g_seen.boxes;
  g_seen = Snapshot{};
  g_seen.boxes = boxes;
  SetTimer(nullptr, 0, 300, AnswerLater);
}

LRESULT CALLBACK TestMainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == MsgAnswerBox) AnswerOpenBox();
  return DefWindowProcA(window, message, wParam, lParam);
}

void SetLabels(const char* yes, const char* no) {
  CopyText(g_texts.YesText, yes, LabelCapacity);
  CopyText(g_texts.NoText, no, LabelCapacity);
}

void TestAnsweredBoxes() {
  WNDCLASSA mainClass = {};
  mainClass.lpfnWndProc = TestMainWindowProc;
  mainClass.hInstance = GetModuleHandleA(nullptr);
  mainClass.lpszClassName = "InstallerUiTestMain";
  RegisterClassA(&mainClass);
  g_run.InstanceHandle = GetModuleHandleA(nullptr);
  g_run.MainWindow = CreateWindowExA(0, "InstallerUiTestMain", "main", WS_CAPTION, CW_USEDEFAULT, CW_USEDEFAULT,
                                     CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, g_run.InstanceHandle, nullptr);
  CopyText(g_run.InstallerTitle, "Aurora", TextCapacity);
  CopyText(g_texts.QuestionText, "Install Aurora?", TextCapacity);

  // No box open: the answer message changes nothing.
  CHECK_EQ(g_boxes.PendingAnswer, NoAnswer);
  PostMessageA(g_run.MainWindow, MsgCounted, 0, 0);
  AnswerOpenBox();
  MSG marker;
  CHECK(PeekMessageA(&marker, g_run.MainWindow, MsgCounted, MsgCounted, PM_REMOVE));

  // An empty text shows nothing.
  ShowText("");
  CHECK_EQ(g_seen.boxes, 0);

  AnswerSoon();
  ShowText("Aurora is installed.");
  CHECK_EQ(g_seen.boxes, 1);
  CHECK_EQ(g_seen.pendingAnswer, IDOK);
  CHECK(std::strcmp(g_seen.boxText, "Aurora is installed.") == 0);
  CHECK(std::strcmp(g_seen.caption, "Aurora") == 0);
  CHECK_EQ(g_boxes.PendingAnswer, NoAnswer);

  // The standard question, declined from outside.
  SetLabels("Yes", "No");
  AnswerSoon();
  CHECK(!AskQuestion());
  CHECK_EQ(g_seen.boxes, 2);
  CHECK_EQ(g_seen.pendingAnswer, IDNO);
  CHECK(!g_seen.questionDialog);
  CHECK(std::strcmp(g_seen.boxText, "Install Aurora?") == 0);
  CHECK_EQ(g_boxes.PendingAnswer, NoAnswer);

  // Labels of its own, even one differing only in case, give dialog 1030.
  const char* labels[][2] = {{"Install", "Not now"}, {"yes", "No"}, {"Yes", "NO"}};
  for (auto& label : labels) {
    SetLabels(label[0], label[1]);
    AnswerSoon();
    CHECK(!AskQuestion());
    CHECK(g_seen.questionDialog);
    CHECK_EQ(g_seen.pendingAnswer, IDCANCEL);
    CHECK(std::strcmp(g_seen.caption, "Aurora") == 0);
    CHECK(std::strcmp(g_seen.question, "Install Aurora?") == 0);
    CHECK(std::strcmp(g_seen.yes, label[0]) == 0);
    CHECK(std::strcmp(g_seen.no, label[1]) == 0);
    CHECK(g_boxes.QuestionDialog == nullptr);
    CHECK_EQ(g_boxes.PendingAnswer, NoAnswer);
  }
  CHECK_EQ(g_seen.boxes, 5);

  // The test offer's OK/Cancel box is answered, never with OK. (Wine's box
  // ends on any standard command, so the last one sent, 7, is its result.)
  SetIconMode(2);
  g_boxes.PendingAnswer = IDCANCEL;
  AnswerSoon();
  int answer = ShowBox(TestBoxText, TestBoxCaption, MB_OKCANCEL);
  CHECK(answer == IDCANCEL || answer == IDNO);
  g_boxes.PendingAnswer = NoAnswer;
  CHECK(std::strcmp(g_seen.caption, TestBoxCaption) == 0);
  SetIconMode(0);

  // The progress dialog starts the installation once, on its paints; this
  // program carries no payload, so the installation ends in the
  // damaged-file text, shown after the dialog was closed.
  CopyText(g_texts.ProgressText, "Copying Aurora...", TextCapacity);
  g_texts.ProgressTotal = 70 * 1024 + 300;
  int before = g_seen.boxes;
  AnswerSoon();
  RunProgressDialog();
  CHECK_EQ(g_seen.boxes, before + 1);
  CHECK(std::strcmp(g_seen.boxText, DamagedInstallerText) == 0);
  CHECK(std::strcmp(g_seen.progressText, "Copying Aurora...") == 0);
  CHECK(std::strcmp(g_seen.progressCaption, "Aurora") == 0);
  CHECK_EQ(g_seen.progressUpper, 70);
  CHECK(!g_seen.progressVisible);  // ended before the text was shown
  CHECK(!g_progress.StartPending);
  CHECK(g_boxes.ProgressDialog == nullptr);
  CHECK(!g_run.InstallSucceeded);
  CHECK(g_archive.codec.stream.onTick == OnTick);
  CHECK(g_archive.codec.stream.onBytesWritten == OnBytesWritten);

  DestroyWindow(g_run.MainWindow);
}

}  // namespace

int main() {
  UnmanagedWindows("installer_ui_test.exe");
  ResetInstallerTexts(g_texts);
  ResetArchive(g_archive);
  ResetBoxState();
  ResetProgressState();
  TestCommandLine();
  TestInstallerTitle();
  TestPlacement();
  TestProgressRange();
  TestResources();
  TestPump();
  TestAnsweredBoxes();
  return CheckSummary("installer_ui_test");
}
