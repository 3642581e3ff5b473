// The Welcome dialog: mode selection, Install, and Cancel with its question.
#include "shell/welcome_dialog.h"

#include "shell/install_dialog.h"
#include "shell/resource_ids.h"
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
  ShowWindow(SW_HIDE);
  g_exitCode = kExitInstallFailure;
  theInstallDialog.DoModal();
  EndDialog(0);
}

void WelcomeDialog::OnCancel() {
  if (IsHidden(m_hWnd))
    return;
  int answer =
      MessageBox("Do you want to exit " PRODUCT_NAME " installation?",
                 "Exit Installation", MB_YESNO | MB_ICONQUESTION | MB_TOPMOST);
  if (answer == IDYES && !s_welcomeAborted) {
    s_welcomeAborted = true;
    ::AbortInstall(this);
  }
}

void WelcomeDialog::AbortInstall() {
  if (IsHidden(m_hWnd) || s_welcomeAborted)
    return;
  s_welcomeAborted = true;
  ::AbortInstall(this);
}
