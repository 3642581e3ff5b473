// The application object: runs the backdrop, inside which the whole setup
// takes place, and lets the program end.
#include "shell/setup_app.h"

#include "engine/install_sequence.h"
#include "shell/backdrop_dialog.h"
#include "shell/install_dialog.h"
#include "state/install_log.h"
#include "state/install_state.h"
#include "text/bounded_text.h"

// The log that /LOG names cannot be opened: Windows Installer's status for
// "error opening installation log file", which deployment tools know.
static const int32_t kExitLogUnavailable = 1622;

// The program's two global objects, in this order: static initialisation
// constructs the application object first, and destruction at exit runs in
// the reverse order.
SetupApp theApp;
InstallDialog theInstallDialog;

SetupApp::SetupApp() : CWinApp(nullptr) {}

SetupApp::~SetupApp() {}

BEGIN_MESSAGE_MAP(SetupApp, CWinApp)
ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

// Opens the log that the command line asks for, before anything is shown.
// False when it cannot be opened: the message has been shown and nothing
// else may happen.
static bool StartLog() {
  char path[LOG_PATH_SIZE];
  const LogSwitch found = FindLogSwitch(GetCommandLineA(), path);
  if (found == kLogSwitchAbsent)
    return true;
  bool opened = false;
  if (found == kLogSwitchDefault) {
    if (!GetDefaultLogPath(path))
      CopyText(path, "MERRIK.LOG");
    else
      opened = LogOpen(path);
  } else if (found == kLogSwitchFile) {
    opened = LogOpen(path);
  }
  if (opened) {
    LogInstallHeader(path);
    return true;
  }
  // The whole name when it fits; the first 255 characters and "..." when
  // it was too long to be used.
  char text[LOG_PATH_SIZE + 32] = "Can not open log file ";
  AppendText(text, path);
  if (found == kLogSwitchTooLong)
    AppendText(text, "...");
  AppendText(text, "!");
  MessageBoxA(nullptr, text, "Install Error", MB_TOPMOST | MB_ICONERROR);
  return false;
}

BOOL SetupApp::InitInstance() {
  if (!StartLog()) {
    m_nExitCode = kExitLogUnavailable;
    return FALSE;
  }
  Enable3dControlsStatic();

  {
    BackdropDialog backdrop;
    m_pMainWnd = &backdrop;
    backdrop.DoModal();
    LogDialogCreation(backdrop, "the backdrop");
  }

  // Every dialog has ended by now; the install sequence stores its outcome
  // before it ends the install host.
  m_nExitCode = g_exitCode.load();
  LogClose(m_nExitCode);
  return FALSE;
}
