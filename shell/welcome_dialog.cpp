// The Welcome dialog: mode selection, Install, and Cancel with its question.
#include "shell/welcome_dialog.h"

#include "shell/install_dialog.h"
#include "shell/resource_ids.h"
#include "state/install_log.h"
#include "state/install_state.h"
#include "text/product_name.h"

// Exit statuses: leaving this dialog without installing, and the one that
// stands for any failure once Install has been pressed (the install host and
// the install sequence replace it with what they find out).
static const int32_t kExitUserLeft = 1602;
static const int32_t kExitInstallFailure = 1603;

// Set once the abort procedure has been applied to the Welcome dialog. A
// close request that arrives while a message box of this dialog runs its own
// message loop must not end the dialog a second time with a second failure
// message. User-interface thread only.
static bool s_welcomeAborted = false;
// Set once the dialog's outcome is in the log; the dialog's run ended any
// other way (Enter's OK) when it is still clear afterwards.
static bool s_outcomeLogged = false;

static const char *ModeName() {
  return g_customMode == 1 ? "Custom" : "Express";
}

void LogWelcomeEnd() {
  if (!s_outcomeLogged)
    LogLine("Welcome dialog: ended by Enter (OK), %s mode: no install",
            ModeName());
}

WelcomeDialog::WelcomeDialog() : CDialog(IDD_WELCOME, nullptr) {}

WelcomeDialog::~WelcomeDialog() {}

BEGIN_MESSAGE_MAP(WelcomeDialog, CDialog)
ON_BN_CLICKED(IDC_CUSTOM, OnCustom)
ON_BN_CLICKED(IDC_EXPRESS, OnExpress)
ON_BN_CLICKED(IDC_INSTALL, OnInstall)
ON_MESSAGE_VOID(WM_CLOSE, AbortInstall)
ON_BN_CLICKED(IDC_CANCEL, OnCancel)
END_MESSAGE_MAP()

BOOL WelcomeDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  s_welcomeAborted = false;
  s_outcomeLogged = false;
  g_exitCode = kExitUserLeft;
  g_customMode = 0;
  CheckDlgButton(IDC_EXPRESS, BST_CHECKED);
  return TRUE;
}

void WelcomeDialog::OnExpress() { g_customMode = 0; }

void WelcomeDialog::OnCustom() { g_customMode = 1; }

// Once Install has hidden this dialog, the installation owns the rest of the
// run: the hidden dialog takes no further command or close request, which
// could start a second install host, or report a failure and delete the
// hand-off file under the running one.
static bool IsHidden(HWND welcome) { return !IsWindowVisible(welcome); }

void WelcomeDialog::OnInstall() {
  if (IsHidden(m_hWnd))
    return;
  s_outcomeLogged = true;
  LogLine("Welcome dialog: Install, %s mode", ModeName());
  ShowWindow(SW_HIDE);
  g_exitCode = kExitInstallFailure;
  theInstallDialog.DoModal();
  LogDialogCreation(theInstallDialog, "the install host");
  EndDialog(0);
}

void WelcomeDialog::OnCancel() {
  if (IsHidden(m_hWnd))
    return;
  int answer =
      MessageBox("Do you want to exit " PRODUCT_NAME " installation?",
                 "Exit Installation", MB_YESNO | MB_ICONQUESTION | MB_TOPMOST);
  LogLine("Welcome dialog: Cancel, exit question answered %s",
          answer == IDYES  ? "Yes"
          : answer == IDNO ? "No"
                           : "nothing (MessageBoxA returned 0)");
  if (answer == IDYES && !s_welcomeAborted) {
    s_outcomeLogged = true;
    s_welcomeAborted = true;
    ::AbortInstall(this);
  }
}

void WelcomeDialog::AbortInstall() {
  if (IsHidden(m_hWnd) || s_welcomeAborted)
    return;
  s_outcomeLogged = true;
  LogLine("Welcome dialog: close request");
  s_welcomeAborted = true;
  ::AbortInstall(this);
}
