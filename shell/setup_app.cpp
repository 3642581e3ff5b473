// The application object: runs the backdrop, inside which the whole setup
// takes place, and lets the program end.
#include "shell/setup_app.h"

#include "engine/external_steps.h"
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

// The log's first lines: when and what runs, on which system, from where.
static void LogHeader(const char *path) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  LogLine("MERRIK.EXE setup log, started %04u-%02u-%02u %02u:%02u:%02u, "
          "file \"%s\"",
          static_cast<unsigned>(now.wYear), static_cast<unsigned>(now.wMonth),
          static_cast<unsigned>(now.wDay), static_cast<unsigned>(now.wHour),
          static_cast<unsigned>(now.wMinute),
          static_cast<unsigned>(now.wSecond), path);
  char name[MODULE_NAME_SIZE];
  const DWORD length = GetModuleFileNameA(nullptr, name, sizeof(name));
  if (length == 0 || length >= sizeof(name))
    name[0] = '\0';
  else
    name[length] = '\0';
  LogLine("program \"%s\"", name);
  const char *commandLine = GetCommandLineA();
  LogLine("command line %s", commandLine != nullptr ? commandLine : "");
  const DWORD version = GetVersion();
  const int32_t platform = PlatformOfVersion(version);
  LogLine("GetVersion 0x%08X: %s", static_cast<unsigned>(version),
          platform == 1   ? "Windows 95 family, supported"
          : platform == 0 ? "Windows NT 4.0, supported"
                          : "unsupported");
  char windowsDir[HANDOFF_NAME_SIZE];
  const UINT written = GetWindowsDirectoryA(windowsDir, sizeof(windowsDir));
  if (written == 0 || written >= sizeof(windowsDir))
    LogLine("Windows directory: not to be had (GetWindowsDirectoryA %u)",
            static_cast<unsigned>(written));
  else
    LogLine("Windows directory \"%s\"", windowsDir);
  GetSourceDir();
  if (g_sourceDirTooLong)
    LogLine("media folder: too long, or the program's name not to be had");
  else
    LogLine("media folder \"%s\"", g_sourceDir);
}

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
    LogHeader(path);
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
  }

  // Every dialog has ended by now; the install sequence stores its outcome
  // before it ends the install host.
  m_nExitCode = g_exitCode.load();
  LogClose(m_nExitCode);
  return FALSE;
}
