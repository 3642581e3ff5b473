// The application object: runs the full-screen backdrop and lets the program
// end.
#ifndef SHELL_SETUP_APP_H
#define SHELL_SETUP_APP_H

#include "framework/framework.h"

class SetupApp : public CWinApp {
public:
  SetupApp();
  ~SetupApp() override;

  BOOL InitInstance() override;

  DECLARE_MESSAGE_MAP()
};

extern SetupApp theApp;

#endif
