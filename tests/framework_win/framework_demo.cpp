// Exercises the framework on a real Win32 implementation: a main dialog
// shown maximised runs a nested dialog inside its initialisation; the nested
// dialog's timer fires, a click reaches its handler, a second thread ends
// it, and the main dialog then destroys itself, which ends the program.
// Exit status 0 when every check held, otherwise the number of the first
// check that failed.
#include <windows.h>

#include "framework/framework.h"

namespace {

int firstFailure = 0;

void Check(bool ok, int number) {
  if (!ok && firstFailure == 0)
    firstFailure = number;
}

DWORD WINAPI EndFromWorker(LPVOID param) {
  static_cast<CDialog *>(param)->EndDialog(7);
  return 0;
}

class NestedDialog : public CDialog {
public:
  NestedDialog() : CDialog(101) {}
  int ticks = 0;
  bool clicked = false;

  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    Check(SetTimer(m_hWnd, 1, 10, nullptr) != 0, 10);
    return TRUE;
  }
  void OnTimer(UINT_PTR id) {
    Check(id == 1, 11);
    if (++ticks == 3)
      PostMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(1000, BN_CLICKED), 0);
  }
  void OnGo() {
    clicked = true;
    KillTimer(m_hWnd, 1);
    // The owner (the main window) is disabled while this dialog runs.
    Check(!IsWindowEnabled(AfxGetMainWnd()->m_hWnd), 12);
    DWORD id;
    HANDLE thread = CreateThread(nullptr, 0, EndFromWorker, this, 0, &id);
    Check(thread != nullptr, 13);
    if (thread)
      CloseHandle(thread);
  }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(NestedDialog, CDialog)
ON_WM_TIMER()
ON_BN_CLICKED(1000, OnGo)
END_MESSAGE_MAP()

class MainDialog : public CDialog {
public:
  MainDialog() : CDialog(100) {}
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    ShowWindow(SW_SHOWMAXIMIZED);
    Check(IsZoomed(m_hWnd) != FALSE, 20);
    NestedDialog nested;
    INT_PTR result = nested.DoModal();
    Check(result == 7, 21);
    Check(nested.ticks >= 3 && nested.clicked, 22);
    Check(nested.m_hWnd == nullptr, 23);
    Check(IsWindowEnabled(m_hWnd) != FALSE, 24);
    DestroyWindow();
    Check(AfxGetMainWnd() == nullptr, 25);
    return TRUE;
  }
};

class DemoApp : public CWinApp {
public:
  BOOL InitInstance() override {
    Enable3dControlsStatic();
    MainDialog main;
    m_pMainWnd = &main;
    Check(main.DoModal() == -1, 30);
    // The main window's destruction asked for the end of the program.
    MSG msg;
    Check(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) &&
              msg.message == WM_QUIT,
          31);
    m_nExitCode = firstFailure;
    return FALSE;
  }
};

DemoApp theDemoApp;

} // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine,
                   int nCmdShow) {
  return AfxWinMain(hInstance, lpCmdLine, nCmdShow);
}
