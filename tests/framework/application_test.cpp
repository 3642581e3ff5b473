// The application object and the start-up code, and the window operations
// the setup calls through CWnd.
#include <gtest/gtest.h>

#include "framework/framework.h"
#include "standin/user.h"

namespace {

class App : public CWinApp {
public:
  explicit App(LPCSTR name = nullptr) : CWinApp(name) {}
  BOOL result = FALSE;
  int exitCode = 0;
  bool postQuit = false;
  HINSTANCE seenResourceHandle = nullptr;
  BOOL InitInstance() override {
    seenResourceHandle = AfxGetResourceHandle();
    m_nExitCode = exitCode;
    if (postQuit)
      PostQuitMessage(9);
    return result;
  }
};

class ApplicationTest : public ::testing::Test {
protected:
  void SetUp() override { standin::resetUser(); }
  void TearDown() override {
    standin::setIdleHook(nullptr);
    standin::resetUser();
  }
};

TEST_F(ApplicationTest, FailedInitialisationEndsWithoutAMessageLoop) {
  App app;
  app.exitCode = 3;
  bool waited = false;
  standin::setIdleHook([&] { waited = true; });
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(0x400000);
  char commandLine[] = "";
  EXPECT_EQ(AfxWinMain(instance, commandLine, SW_SHOWNORMAL), 3);
  EXPECT_FALSE(waited);
  EXPECT_EQ(app.seenResourceHandle, instance);
  EXPECT_EQ(AfxGetApp(), &app);
}

TEST_F(ApplicationTest, MessageLoopRunsUntilTheQuitRequestAndReturnsItsCode) {
  App app;
  app.result = TRUE;
  app.postQuit = true;
  char commandLine[] = "";
  EXPECT_EQ(AfxWinMain(nullptr, commandLine, SW_SHOWNORMAL), 9);
}

TEST_F(ApplicationTest, ApplicationBasics) {
  {
    App app;
    EXPECT_EQ(AfxGetApp(), &app);
    EXPECT_EQ(AfxGetMainWnd(), nullptr);
    EXPECT_TRUE(app.Enable3dControlsStatic());
    app.OnHelp(); // no help content: nothing happens
  }
  EXPECT_EQ(AfxGetApp(), nullptr);
  char commandLine[] = "";
  EXPECT_EQ(AfxWinMain(nullptr, commandLine, SW_SHOWNORMAL), -1);
}

INT_PTR CALLBACK PlainProc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG;
}

TEST_F(ApplicationTest, WindowOperationsActOnTheWindow) {
  App app("Setup");
  CWnd wnd;
  wnd.m_hWnd =
      CreateDialogParamA(nullptr, MAKEINTRESOURCEA(131), nullptr, PlainProc, 0);
  HWND h = wnd.m_hWnd;
  wnd.CheckDlgButton(1002, BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(h, 1002), 1u);
  wnd.ShowWindow(SW_HIDE);
  EXPECT_FALSE(IsWindowVisible(h));
  EXPECT_EQ(wnd.MessageBox("text", "caption", MB_OK | MB_ICONERROR), IDOK);
  EXPECT_EQ(wnd.MessageBox("no caption"), IDOK);
  std::vector<standin::MessageBoxCall> boxes = standin::messageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].owner, h);
  EXPECT_EQ(boxes[0].caption, "caption");
  EXPECT_EQ(boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONERROR));
  EXPECT_EQ(boxes[1].caption, "Setup"); // the application's name
  EXPECT_TRUE(wnd.DestroyWindow());
  EXPECT_FALSE(IsWindow(h));
  wnd.m_hWnd = nullptr;
}

TEST_F(ApplicationTest, PaintContextPairsBeginAndEnd) {
  CWnd wnd;
  wnd.m_hWnd =
      CreateDialogParamA(nullptr, MAKEINTRESOURCEA(102), nullptr, PlainProc, 0);
  HDC inside = nullptr;
  {
    CPaintDC dc(&wnd);
    inside = dc;
    ASSERT_NE(inside, nullptr);
    EXPECT_FALSE(standin::paints().at(0).ended);
  }
  EXPECT_EQ(standin::paints().at(0).hdc, inside);
  EXPECT_TRUE(standin::paints().at(0).ended);
  wnd.DestroyWindow();
  wnd.m_hWnd = nullptr;
}

} // namespace
