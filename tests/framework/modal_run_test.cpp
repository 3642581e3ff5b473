// Modal runs of the framework's dialogs on the stand-in: creation, owner,
// ending from the dialog's own thread and from another one, nesting.
#include <gtest/gtest.h>

#include "framework/framework.h"
#include "standin/journal.h"
#include "standin/user.h"

#include <thread>

namespace {

class TestApp : public CWinApp {
public:
  BOOL InitInstance() override { return FALSE; }
};

class ModalRunTest : public ::testing::Test {
protected:
  void SetUp() override {
    standin::resetUser();
    standin::clearJournal();
    app.m_pMainWnd = nullptr;
  }
  void TearDown() override { standin::resetUser(); }
  TestApp app;
};

TEST_F(ModalRunTest, OkCommandEndsTheRunWithIdok) {
  CDialog dialog(300);
  standin::onDialogInitialised(300,
                               [](HWND h) { standin::command(h, IDOK); });
  EXPECT_EQ(dialog.DoModal(), IDOK);
  HWND h = standin::lastDialog(300);
  EXPECT_FALSE(standin::windowState(h).exists);
  EXPECT_EQ(dialog.m_hWnd, nullptr);
}

} // namespace
