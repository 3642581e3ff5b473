// The application object: runs the backdrop, inside which the whole setup
// takes place, and lets the program end.
#include "shell/setup_app.h"

#include "shell/backdrop_dialog.h"
#include "shell/install_dialog.h"
#include "state/install_state.h"

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

BOOL SetupApp::InitInstance() {
  Enable3dControlsStatic();

  {
    BackdropDialog backdrop;
    m_pMainWnd = &backdrop;
    backdrop.DoModal();
  }

  // Every dialog has ended by now; the install sequence stores its outcome
  // before it ends the install host.
  m_nExitCode = g_exitCode.load();
  return FALSE;
}
