#include "installer/main.h"

#include "installer/install.h"
#include "installer/run_state.h"
#include "system/paths.h"
#include "system/post_install.h"
#include "system/text.h"
#include "ui/boxes.h"
#include "ui/progress.h"

void SetInstallerTitle(char* title, const char* saverFileName) {
  int32_t length = TextLength(saverFileName) - 4;
  if (length < 0) length = 0;
  if (length > TextCapacity - 1) length = TextCapacity - 1;
  CopyText(title, saverFileName, length + 1);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int) {
  g_run.InstanceHandle = instance;
  g_run.TestMode = IsTestArgument(arguments);
  g_run.InstallSucceeded = false;
  ResetInstallerTexts(g_texts);
  ResetArchive(g_archive);
  ResetBoxState();
  ResetProgressState();

  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IconResource));
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = MainWindowName;
  windowClass.hIconSm = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IconResource), IMAGE_ICON,
                                                      GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                                      LR_DEFAULTCOLOR));
  RegisterClassExA(&windowClass);
  // Never shown: it starts the run, owns the boxes and receives MsgAnswerBox.
  // Without it no message would ever end the loop below.
  if (!CreateWindowExA(0, MainWindowName, MainWindowName, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                       CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr))
    return 0;

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      g_run.MainWindow = window;
      // The run takes place inside the message loop, so that boxes and
      // dialogs work and outside messages are handled meanwhile.
      PostMessageA(window, MsgRunInstaller, 0, 0);
      return 1;
    case MsgRunInstaller:
      RunInstaller();
      DestroyWindow(window);
      break;
    case MsgAnswerBox:
      AnswerOpenBox();
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 1;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool ArchiveCheck() {
  FileHandle source = OpenSourceArchive(g_archive, nullptr);
  if (source != InvalidFile) {
    CloseArchiveFile(g_archive, source);
    return true;
  }
  // Read but without a directory: damaged. Anything else the later steps
  // meet and report themselves.
  if (g_archive.reader.OpenStage == StageNoDirectory) {
    ShowText(DamagedInstallerText);
    return false;
  }
  return true;
}

// Offers to start the installed screensaver at once; false when declined.
static bool OfferTest() {
  SetIconMode(2);
  if (ShowAnsweredBox(TestBoxText, TestBoxCaption, MB_OKCANCEL, IDCANCEL) != IDOK) return false;
  Sleep(50);
  // The installation checked that the path has room for the suffix.
  char* command = WindowsPath(g_texts.SaverFileName);
  AppendText(command, PathCapacity, " /s");
  WinExec(command, SW_SHOWNORMAL);
  return true;
}

// Kept out of MainWindowProc: inlined there, it would make the procedure
// copy its arguments around the run for the call of DefWindowProcA.
[[gnu::noinline]] int RunInstaller() {
  if (!ArchiveCheck()) return 0;
  LoadInstallerSettings(g_archive, nullptr, g_installInfo, g_texts, g_textPool);
  SetInstallerTitle(g_run.InstallerTitle, g_texts.SaverFileName);

  bool goOn = true;
  if (g_texts.QuestionText[0]) goOn = AskQuestion();
  if (goOn) {
    if (g_texts.ShowProgress && g_texts.ProgressText[0]) {
      RunProgressDialog();
    } else {
      InstallScreensaver();
      Sleep(50);
    }
  }

  bool noActionTaken = true;
  if (g_run.InstallSucceeded) noActionTaken = RunPostInstallAction();
  if (g_run.TestMode && g_run.InstallSucceeded && g_texts.PostInstallAction == ActionNone) {
    if (!OfferTest()) FocusAnotherWindow();
  } else if (noActionTaken) {
    FocusAnotherWindow();
  }
  DeleteDocumentLater();
  return 0;
}
