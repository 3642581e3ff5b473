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
  // The worker's notices around a sibling program, handled on the
  // user-interface thread: the backdrop gives up its topmost state before
  // the program starts and takes it back once the program has ended.
  void OnSiblingStarting();
  void OnSiblingEnded();

  DECLARE_MESSAGE_MAP()
};

// Called by the worker just before it starts a sibling program, and once that
// program has ended (or could not be started), before anything else happens.
// Each returns when the host has acted on it: a program's windows can then
// come above the backdrop, and afterwards the backdrop is topmost again, as
// the worker's message boxes expect. A host without a window does nothing.
void LetSiblingWindowsAbove();
void KeepBackdropOnTop();

// The abort procedure, applied to the host or to the Welcome dialog: the
// failure message owned by that dialog, deletion of the hand-off file, end of
// that dialog's modal run with 0.
void AbortInstall(CDialog *dialog);

#endif
