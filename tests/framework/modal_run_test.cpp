// Modal runs of the framework's dialogs: owner, ending from the dialog's own
// thread and from another one, timers inside the run, nesting, the quit
// request, and dialogs that go away during their initialisation.
#include <gtest/gtest.h>

#include "framework/framework.h"
#include "standin/journal.h"
#include "standin/user.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace {

INT_PTR CALLBACK PlainProc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG;
}

class TestApp : public CWinApp {
public:
  BOOL InitInstance() override { return FALSE; }
};

// A dialog whose initialisation and button 1000 run what the test gives.
class ScriptedDialog : public CDialog {
public:
  explicit ScriptedDialog(UINT id, CWnd *parent = nullptr)
      : CDialog(id, parent) {}
  std::function<void(ScriptedDialog &)> onInit;
  std::function<void(ScriptedDialog &)> onButton;
  std::function<void(ScriptedDialog &, UINT_PTR)> onTimer;
  int ncDestroyed = 0;

  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    if (onInit)
      onInit(*this);
    return TRUE;
  }
  void OnButton() {
    if (onButton)
      onButton(*this);
  }
  void OnTimer(UINT_PTR id) {
    if (onTimer)
      onTimer(*this, id);
  }
  void PostNcDestroy() override { ++ncDestroyed; }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ScriptedDialog, CDialog)
ON_BN_CLICKED(1000, OnButton)
ON_WM_TIMER()
END_MESSAGE_MAP()

class ModalRunTest : public ::testing::Test {
protected:
  void SetUp() override {
    standin::resetUser();
    standin::clearJournal();
    // The application's main window: a window of its own.
    mainWnd.m_hWnd = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(102), nullptr,
                                        PlainProc, 0);
    app.m_pMainWnd = &mainWnd;
  }
  void TearDown() override {
    app.m_pMainWnd = nullptr;
    standin::setIdleHook(nullptr);
    standin::resetUser();
    mainWnd.m_hWnd = nullptr;
  }
  static MSG TakeQuit() {
    MSG msg{};
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) &&
           msg.message != WM_QUIT) {
    }
    return msg;
  }
  TestApp app;
  CWnd mainWnd;
};

TEST_F(ModalRunTest, OwnerIsTheMainWindowDisabledOnlyWhileTheRunLasts) {
  ScriptedDialog dialog(300);
  HWND owner = nullptr;
  BOOL ownerEnabled = TRUE;
  standin::onDialogInitialised(300, [&](HWND h) {
    owner = standin::windowState(h).owner;
    ownerEnabled = IsWindowEnabled(mainWnd.m_hWnd);
    standin::command(h, IDOK);
  });
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(owner, mainWnd.m_hWnd);
  EXPECT_FALSE(ownerEnabled);
  EXPECT_TRUE(IsWindowEnabled(mainWnd.m_hWnd));
  HWND h = standin::lastDialog(300);
  EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(dialog.m_hWnd, nullptr);
  EXPECT_EQ(dialog.ncDestroyed, 1);
}

TEST_F(ModalRunTest, OwnerThatWasAlreadyDisabledStaysDisabled) {
  EnableWindow(mainWnd.m_hWnd, FALSE);
  ScriptedDialog dialog(300);
  standin::onDialogInitialised(300, [](HWND h) { standin::command(h, IDOK); });
  dialog.DoModal();
  EXPECT_FALSE(IsWindowEnabled(mainWnd.m_hWnd));
}

TEST_F(ModalRunTest, GivenParentIsTheOwnerAndTheMainWindowHasNone) {
  ScriptedDialog parent(301);
  ScriptedDialog child(302, &parent);
  HWND childOwner = nullptr;
  HWND parentOwner = reinterpret_cast<HWND>(1);
  parent.onInit = [&](ScriptedDialog &self) {
    parentOwner = standin::windowState(self.m_hWnd).owner;
    child.DoModal();
    self.EndDialog(0);
  };
  standin::onDialogInitialised(302, [&](HWND h) {
    childOwner = standin::windowState(h).owner;
    standin::command(h, IDOK);
  });
  app.m_pMainWnd = &parent;
  parent.DoModal();
  EXPECT_EQ(parentOwner, nullptr); // the main window owns no run of its own
  EXPECT_EQ(childOwner, standin::lastDialog(301));
}

TEST_F(ModalRunTest, CreationFailureReturnsMinusOneAndReleasesTheOwner) {
  standin::setDialogCreationFails(303, true);
  ScriptedDialog dialog(303);
  EXPECT_EQ(dialog.DoModal(), -1);
  EXPECT_TRUE(IsWindowEnabled(mainWnd.m_hWnd));
}

TEST_F(ModalRunTest, EndDialogFromAnotherThreadEndsTheRunOnItsOwnThread) {
  ScriptedDialog dialog(304);
  std::thread worker;
  std::atomic<bool> ended{false};
  dialog.onInit = [&](ScriptedDialog &self) {
    worker = std::thread([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      self.EndDialog(4);
      ended = true;
    });
  };
  // The run blocks with nothing to do until the other thread ends it.
  std::atomic<int> idle{0};
  standin::setIdleHook([&] { ++idle; });
  EXPECT_EQ(dialog.DoModal(), 4);
  worker.join();
  EXPECT_TRUE(ended);
  EXPECT_GE(idle.load(), 1);
  EXPECT_EQ(standin::journalEntries().back(), "DestroyWindow dlg304");
}

TEST_F(ModalRunTest, EndDialogDuringInitialisationSkipsTheLoop) {
  ScriptedDialog dialog(305);
  dialog.onInit = [](ScriptedDialog &self) {
    std::thread other([&] { self.EndDialog(0); });
    other.join();
  };
  bool waited = false;
  standin::setIdleHook([&] { waited = true; });
  EXPECT_EQ(dialog.DoModal(), 0);
  EXPECT_FALSE(waited);
  EXPECT_FALSE(IsWindow(standin::lastDialog(305)));
}

TEST_F(ModalRunTest, TimersFireInsideTheRunWithTheirIdentifier) {
  ScriptedDialog dialog(306);
  std::vector<UINT_PTR> ids;
  dialog.onInit = [](ScriptedDialog &self) {
    SetTimer(self.m_hWnd, 1, 10, nullptr);
  };
  dialog.onTimer = [&](ScriptedDialog &self, UINT_PTR id) {
    ids.push_back(id);
    if (ids.size() == 3) {
      KillTimer(self.m_hWnd, 1);
      self.EndDialog(0);
    }
  };
  EXPECT_EQ(dialog.DoModal(), 0);
  EXPECT_EQ(ids, (std::vector<UINT_PTR>{1, 1, 1}));
}

TEST_F(ModalRunTest, NestedRunEndsOnlyItselfAndLeavesTheSharedOwnerAlone) {
  ScriptedDialog outer(307);
  ScriptedDialog inner(308);
  INT_PTR innerResult = 0;
  BOOL ownerEnabledAfterInner = TRUE;
  outer.onButton = [&](ScriptedDialog &self) {
    innerResult = inner.DoModal();
    ownerEnabledAfterInner = IsWindowEnabled(mainWnd.m_hWnd);
    self.EndDialog(6);
  };
  standin::onDialogInitialised(307, [](HWND h) { standin::click(h, 1000); });
  standin::onDialogInitialised(308, [&](HWND h) {
    // Both runs have the main window as owner; the outer one disabled it.
    EXPECT_EQ(standin::windowState(h).owner, mainWnd.m_hWnd);
    standin::command(h, IDOK);
  });
  EXPECT_EQ(outer.DoModal(), 6);
  EXPECT_EQ(innerResult, IDOK);
  EXPECT_FALSE(ownerEnabledAfterInner);
  EXPECT_TRUE(IsWindowEnabled(mainWnd.m_hWnd));
}

TEST_F(ModalRunTest, QuitRequestEndsTheRunAndIsPassedOn) {
  ScriptedDialog dialog(309);
  standin::onDialogInitialised(309, [](HWND) { PostQuitMessage(5); });
  EXPECT_EQ(dialog.DoModal(), -1);
  EXPECT_FALSE(IsWindow(standin::lastDialog(309)));
  EXPECT_TRUE(IsWindowEnabled(mainWnd.m_hWnd));
  MSG quit = TakeQuit();
  EXPECT_EQ(quit.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(quit.wParam, 5u);
}

TEST_F(ModalRunTest, HandlerThatDestroysTheDialogEndsTheRun) {
  ScriptedDialog dialog(310);
  dialog.onButton = [](ScriptedDialog &self) { self.DestroyWindow(); };
  standin::onDialogInitialised(310, [](HWND h) { standin::click(h, 1000); });
  EXPECT_EQ(dialog.DoModal(), -1);
  EXPECT_EQ(dialog.ncDestroyed, 1);
}

// The backdrop's shape: the main window runs a nested dialog inside its own
// initialisation and then destroys itself.
TEST_F(ModalRunTest, MainWindowDestroyedInItsInitialisationEndsTheProgram) {
  ScriptedDialog backdrop(311);
  ScriptedDialog welcome(312);
  BOOL backdropEnabledDuringWelcome = TRUE;
  backdrop.onInit = [&](ScriptedDialog &self) {
    self.ShowWindow(SW_SHOWMAXIMIZED);
    welcome.DoModal();
    self.DestroyWindow();
    EXPECT_EQ(app.m_pMainWnd, nullptr);
  };
  standin::onDialogInitialised(312, [&](HWND h) {
    backdropEnabledDuringWelcome = IsWindowEnabled(standin::findDialog(311));
    EXPECT_EQ(standin::windowState(h).owner, standin::findDialog(311));
    standin::command(h, IDCANCEL);
  });
  bool waited = false;
  standin::setIdleHook([&] { waited = true; });
  app.m_pMainWnd = &backdrop;
  EXPECT_EQ(backdrop.DoModal(), -1);
  EXPECT_FALSE(waited); // the backdrop's own run never waited
  EXPECT_FALSE(backdropEnabledDuringWelcome);
  EXPECT_EQ(app.m_pMainWnd, nullptr);
  EXPECT_EQ(backdrop.m_hWnd, nullptr);
  MSG quit = TakeQuit();
  EXPECT_EQ(quit.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(quit.wParam, 0u);
}

TEST_F(ModalRunTest, DestroyingAnotherWindowDoesNotEndTheProgram) {
  ScriptedDialog dialog(313);
  dialog.onInit = [](ScriptedDialog &self) {
    self.DestroyWindow(); // not the main window
  };
  EXPECT_EQ(dialog.DoModal(), -1);
  EXPECT_EQ(app.m_pMainWnd, &mainWnd);
  EXPECT_NE(TakeQuit().message, static_cast<UINT>(WM_QUIT));
}

} // namespace
