// The shared state of the setup and its two global objects.
//
// The application object and the install host are defined here, in this
// order, so that static initialisation constructs the application object
// first and destruction at exit runs in the reverse order.
#include "shell/setup_globals.h"

#include "shell/install_dialog.h"
#include "shell/setup_app.h"

char g_sourceDir[256];
bool g_sourceDirTooLong = false;
char g_installDir[256];
int32_t g_platform = -1;
int32_t g_customMode = 0;
std::atomic<int32_t> g_installStatus{0};
int32_t g_amaSetting = -1;
std::atomic<int32_t> g_exitCode{1603};

SetupApp theApp;
InstallDialog theInstallDialog;
