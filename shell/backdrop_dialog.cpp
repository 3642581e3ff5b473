// The full-screen backdrop. Its initialisation runs the Welcome dialog and,
// once that has ended, destroys the backdrop, which ends the program.
#include "shell/backdrop_dialog.h"

#include "shell/install_dialog.h"
#include "shell/resource_ids.h"
#include "shell/welcome_dialog.h"

BackdropDialog::BackdropDialog() : CDialog(IDD_BACKDROP, nullptr) {
  m_hIcon = LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(IDI_SETUP));
}

BackdropDialog::~BackdropDialog() {}

BEGIN_MESSAGE_MAP(BackdropDialog, CDialog)
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
END_MESSAGE_MAP()

BOOL BackdropDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, (LPARAM)m_hIcon);
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, (LPARAM)m_hIcon);
  ShowWindow(SW_SHOWMAXIMIZED);

  {
    WelcomeDialog welcome;
    welcome.DoModal();
    LogDialogCreation(welcome, "the Welcome dialog");
    LogWelcomeEnd();
    // The main window's destruction clears the framework's main-window
    // pointer and posts the quit request; this dialog's own run then ends
    // at once.
    DestroyWindow();
  }
  return TRUE;
}

void BackdropDialog::OnPaint() {
  if (IsIconic(m_hWnd)) {
    CPaintDC dc(this);
    SendMessageA(m_hWnd, WM_ICONERASEBKGND, (WPARAM)dc.GetSafeHdc(), 0);
    int cxIcon = GetSystemMetrics(SM_CXICON);
    int cyIcon = GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(m_hWnd, &rect);
    // Centred; with an odd difference the extra pixel goes to the left
    // (top) margin.
    int x = (rect.right - rect.left - cxIcon + 1) / 2;
    int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
  } else {
    RequestDefaultHandling();
  }
}

HCURSOR BackdropDialog::OnQueryDragIcon() { return (HCURSOR)m_hIcon; }
