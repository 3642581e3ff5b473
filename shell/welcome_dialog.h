// The Welcome dialog: the installation mode (Express or Custom) and the
// choice between Install and Cancel.
#ifndef SHELL_WELCOME_DIALOG_H
#define SHELL_WELCOME_DIALOG_H

#include "framework/framework.h"

class WelcomeDialog : public CDialog {
public:
  WelcomeDialog();
  ~WelcomeDialog() override;

  BOOL OnInitDialog() override;
  void OnCancel() override;
  void OnExpress();
  void OnCustom();
  void OnInstall();
  // The close request: the abort procedure applied to this dialog.
  void AbortInstall();

  DECLARE_MESSAGE_MAP()
};

// Logs the Welcome dialog's end when none of its own handlers did: the run
// ended through the dialog's OK (Enter), which installs nothing.
void LogWelcomeEnd();

#endif
