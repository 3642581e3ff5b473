// The install host: pre-flight checks, the status timer, the worker's start
// and the abort procedure.
#include "shell/install_dialog.h"

#include "engine/external_steps.h"
#include "engine/install_sequence.h"
#include "engine/rollback.h"
#include "shell/resource_ids.h"
#include "state/install_log.h"
#include "state/install_state.h"
#include "system/registry_layout.h"
#include "text/product_name.h"

// Exit statuses the host decides; the install sequence sets those of a
// finished installation.
static const int32_t kExitUnsupportedPlatform = 1633;
static const int32_t kExitAlreadyInstalled = 1638;
// Lacking the rights to install: the status deployment tools read as "an
// administrator is required".
static const int32_t kExitAdministratorRequired = 1925;

static const UINT_PTR kStatusTimerId = 1;
static const UINT kStatusTimerPeriod = 10;

// Set once the current host run is committed to an end of its own: a
// pre-flight check has failed (its abort follows the message), or the timer
// and the worker are being started (the worker or the timer ends the host).
// From then on a close request must not end the host a second time, nor
// under a running worker. User-interface thread only.
static bool s_hostEnding = false;
// Set once the status timer has acted on the worker's result. Timer messages
// still queued, or dispatched by the failure message box's own message loop,
// must not roll back and abort a second time. User-interface thread only.
static bool s_resultSeen = false;

InstallDialog::InstallDialog() : CDialog(IDD_INSTALL, nullptr) {}

InstallDialog::~InstallDialog() {}

// The host takes no input of its own. The commands that would end a dialog
// (IDOK, IDCANCEL) can only come from outside the setup and are handled like
// a close request, so that the base's OnOK/OnCancel never end the host under
// a running worker.
BEGIN_MESSAGE_MAP(InstallDialog, CDialog)
ON_WM_TIMER()
ON_MESSAGE_VOID(WM_CLOSE, AbortInstall)
ON_COMMAND(IDOK, AbortInstall)
ON_COMMAND(IDCANCEL, AbortInstall)
ON_MESSAGE_VOID(WM_SIBLING_STARTING, OnSiblingStarting)
ON_MESSAGE_VOID(WM_SIBLING_ENDED, OnSiblingEnded)
ON_MESSAGE_VOID(WM_INSTALL_FINISHED, OnInstallFinished)
END_MESSAGE_MAP()

// True unless the system refuses this process the right to create subkeys
// under `name` below HKEY_LOCAL_MACHINE. The key is opened with that right
// alone and closed at once; nothing is written. Only a refusal counts: a key
// that cannot be opened for another reason says nothing about the rights.
static bool MayCreateSubkeys(const char *name) {
  HKEY key = nullptr;
  LONG status =
      ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, name, 0, KEY_CREATE_SUB_KEY, &key);
  LogLine("RegOpenKeyExA HKLM\\%s KEY_CREATE_SUB_KEY: status %d", name,
          static_cast<int>(status));
  if (status == ERROR_SUCCESS)
    ::RegCloseKey(key);
  return status != ERROR_ACCESS_DENIED;
}

// On Windows NT only administrators may create the driver services and the
// suite's keys under SOFTWARE; the setup ignores registry results, so without
// these rights it would report success for an installation whose drivers
// never load.
static bool MayInstallOnWindowsNt() {
  return MayCreateSubkeys("System\\CurrentControlSet\\Services") &&
         MayCreateSubkeys("SOFTWARE");
}

// Places the backdrop (the application's main window) with or without the
// topmost state, leaving its size, position and activation as they are.
static void SetBackdropTopmost(bool topmost) {
  CWnd *mainWnd = AfxGetMainWnd();
  if (mainWnd == nullptr || mainWnd->m_hWnd == nullptr)
    return;
  if (!::SetWindowPos(mainWnd->m_hWnd, topmost ? HWND_TOPMOST : HWND_NOTOPMOST,
                      -1, -1, -1, -1, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE))
    LogLine("SetWindowPos backdrop %s: failed, error %u",
            topmost ? "topmost" : "not topmost",
            static_cast<unsigned>(GetLastError()));
}

BOOL InstallDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  g_installHostWindow = m_hWnd;
  s_hostEnding = false;
  s_resultSeen = false;

  // The backdrop stays above other programs' windows while the setup runs.
  CWnd *mainWnd = AfxGetMainWnd();
  if (!::SetWindowPos(mainWnd ? mainWnd->m_hWnd : nullptr, HWND_TOPMOST, -1, -1,
                      -1, -1, SWP_NOSIZE | SWP_NOMOVE))
    LogLine("SetWindowPos backdrop topmost: failed, error %u",
            static_cast<unsigned>(GetLastError()));
  // The host has nothing to show: it only owns the installation's message
  // boxes and its timer. An empty window region keeps the maximised host from
  // covering the backdrop, so the picture stays on screen for the whole
  // installation and repaints itself where a message box has closed.
  HRGN nothingShown = ::CreateRectRgn(0, 0, 0, 0);
  if (nothingShown != nullptr &&
      ::SetWindowRgn(m_hWnd, nothingShown, FALSE) == 0)
    ::DeleteObject(nothingShown);
  ShowWindow(SW_SHOWMAXIMIZED);

  GetSourceDir();

  // Platform test: bit 31 marks the Windows 95 family whatever its version;
  // otherwise only major 4, minor 0 (Windows NT 4.0) is supported.
  DWORD version = ::GetVersion();
  g_platform = PlatformOfVersion(version);
  LogLine("platform test: GetVersion 0x%08X, %s",
          static_cast<unsigned>(version),
          g_platform == 1   ? "Windows 95 family"
          : g_platform == 0 ? "Windows NT 4.0"
                            : "unsupported: exit");
  if (g_platform == -1) {
    s_hostEnding = true;
    g_exitCode = kExitUnsupportedPlatform;
    MessageBox(PRODUCT_NAME " Only Design for Windows95 and Windows NT4.0 "
                            "PlatForm!",
               "Install Error", MB_TOPMOST | MB_ICONERROR);
    ::AbortInstall(this);
    return TRUE;
  }

  const int installed = IsInstalled();
  LogLine("installed test: %s (status %d)",
          installed == 0 ? "installed already, exit" : "not installed",
          installed);
  if (installed == 0) {
    s_hostEnding = true;
    g_exitCode = kExitAlreadyInstalled;
    MessageBox("This system has installed " PRODUCT_NAME
               "!\nPlease Uninstall " PRODUCT_NAME
               " first, before you reinstall!",
               "Warning", MB_TOPMOST | MB_ICONWARNING);
    ::AbortInstall(this);
    return TRUE;
  }

  const bool mayInstall = g_platform != 0 || MayInstallOnWindowsNt();
  if (g_platform == 0)
    LogLine("administrator test: %s",
            mayInstall ? "may install" : "not an administrator, exit");
  if (!mayInstall) {
    s_hostEnding = true;
    g_exitCode = kExitAdministratorRequired;
    MessageBox("An administrator of this computer must install " PRODUCT_NAME
               ".\nPlease log on as an administrator and start the setup "
               "again.",
               "Install Error", MB_TOPMOST | MB_ICONERROR);
    ::AbortInstall(this);
    return TRUE;
  }

  s_hostEnding = true;
  // Without the timer nobody would see the worker's result: stop here.
  if (::SetTimer(m_hWnd, kStatusTimerId, kStatusTimerPeriod, nullptr) == 0) {
    LogLine("SetTimer: failed, error %u",
            static_cast<unsigned>(GetLastError()));
    ::AbortInstall(this);
    return TRUE;
  }
  DWORD threadId = 0;
  HANDLE worker =
      ::CreateThread(nullptr, 0, InstallWorker, nullptr, 0, &threadId);
  char outcome[32];
  LogLine("CreateThread for the install: %s",
          CallOutcome(outcome, worker != nullptr, GetLastError()));
  if (worker == nullptr) {
    // No worker will ever store a result: stop the timer and abort.
    ::KillTimer(m_hWnd, kStatusTimerId);
    ::AbortInstall(this);
  }
  return TRUE;
}

void InstallDialog::OnTimer(UINT_PTR /*nIDEvent*/) {
  int32_t status = g_installStatus.load();
  if (status != 0 && !s_resultSeen) {
    s_resultSeen = true;
    ::KillTimer(m_hWnd, kStatusTimerId);
    LogLine("status timer: the install %s", status == -1 ? "failed" : "ended");
    if (status == -1) {
      RollbackInstall();
      ::AbortInstall(this);
    }
  }
  RequestDefaultHandling();
}

void InstallDialog::OnSiblingStarting() { SetBackdropTopmost(false); }

void InstallDialog::OnSiblingEnded() { SetBackdropTopmost(true); }

void InstallDialog::OnInstallFinished() { EndDialog(0); }

void InstallDialog::PostNcDestroy() { g_installHostWindow = nullptr; }

void InstallDialog::AbortInstall() {
  if (s_hostEnding)
    return;
  s_hostEnding = true;
  ::AbortInstall(this);
}

void AbortInstall(CDialog *dialog) {
  ReportInstallFailure(dialog->m_hWnd);
  dialog->EndDialog(0);
}

void LogDialogCreation(const CDialog &dialog, const char *name) {
  if (dialog.m_dwCreateError != 0)
    LogLine("CreateDialogParamA dialog %u, %s: failed, error %u",
            dialog.m_nIDTemplate, name,
            static_cast<unsigned>(dialog.m_dwCreateError));
}
