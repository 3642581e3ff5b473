// The full-screen backdrop: the application's main window, shown maximised
// behind the setup's other dialogs, which all run inside its initialisation.
#ifndef SHELL_BACKDROP_DIALOG_H
#define SHELL_BACKDROP_DIALOG_H

#include "framework/framework.h"

class BackdropDialog : public CDialog {
public:
  BackdropDialog();
  ~BackdropDialog() override;

  BOOL OnInitDialog() override;
  void OnPaint();
  HCURSOR OnQueryDragIcon();

  // Icon group 128; null when it cannot be loaded. Never released.
  HICON m_hIcon;

  DECLARE_MESSAGE_MAP()
};

#endif
