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
  // The close request. Honoured only while nothing else is about to end the
  // host; once a pre-flight check has failed or the worker has been started,
  // the host ends through that path alone.
  void AbortInstall();
  // The worker's notices, handled on the user-interface thread: around a
  // sibling program the backdrop gives up its topmost state and takes it
  // back; a finished installation ends the host's run with 0.
  void OnSiblingStarting();
  void OnSiblingEnded();
  void OnInstallFinished();
  // The window is gone: the worker has no host to notify any more.
  void PostNcDestroy() override;

  DECLARE_MESSAGE_MAP()
};

// The one install host; the Welcome dialog runs it.
extern InstallDialog theInstallDialog;

// The abort procedure, applied to the host or to the Welcome dialog: the
// failure message owned by that dialog, deletion of the hand-off file, end of
// that dialog's modal run with 0.
void AbortInstall(CDialog *dialog);

// Logs a dialog whose modal run found no window: CreateDialogParamA failed,
// so `name` was never shown. Nothing for a dialog that was created.
void LogDialogCreation(const CDialog &dialog, const char *name);

#endif
