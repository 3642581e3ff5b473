// The install host: a dialog without controls that carries the installation
// from the Install button to its end, with the status timer and the abort
// procedure.
#ifndef SHELL_INSTALL_DIALOG_H
#define SHELL_INSTALL_DIALOG_H

#include "framework/framework.h"

class InstallDialog : public CDialog {
public:
  InstallDialog();
  ~InstallDialog() override;

  BOOL OnInitDialog() override;
  void OnTimer(UINT_PTR nIDEvent);
  // Failure message, deletion of the hand-off file, end of this dialog with 0.
  void AbortInstall();

  DECLARE_MESSAGE_MAP()
};

#endif
