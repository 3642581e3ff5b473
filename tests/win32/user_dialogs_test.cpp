// The stand-in's dialogs and window state: creation and initialisation,
// the default dialog handling, destruction, and the state a test reads.
#include <gtest/gtest.h>

#include <windows.h>

#include "standin/journal.h"
#include "standin/user.h"

#include <string>
#include <vector>

namespace {

std::vector<std::string> events;
HWND destroyInInit = nullptr;

std::string Name(UINT message) {
  switch (message) {
  case WM_INITDIALOG:
    return "init";
  case WM_DESTROY:
    return "destroy";
  case WM_NCDESTROY:
    return "ncdestroy";
  case WM_COMMAND:
    return "command";
  case WM_CLOSE:
    return "close";
  default:
    return std::to_string(message);
  }
}

INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  std::string who = standin::windowName(hwnd);
  events.push_back(who + " " + Name(message));
  if (message == WM_INITDIALOG) {
    events.back() += " visible=" + std::to_string(IsWindowVisible(hwnd)) +
                     " param=" + std::to_string(lParam);
    if (destroyInInit)
      DestroyWindow(hwnd);
    return TRUE;
  }
  if (message == WM_COMMAND)
    events.back() += " " + std::to_string(LOWORD(wParam)) + "/" +
                     std::to_string(HIWORD(wParam));
  if (message == WM_QUERYDRAGICON)
    return 0x1234;
  return FALSE;
}

class UserDialogsTest : public ::testing::Test {
protected:
  void SetUp() override {
    standin::resetUser();
    standin::clearJournal();
    events.clear();
    destroyInInit = nullptr;
  }
  void TearDown() override { standin::resetUser(); }
  static HWND Dialog(UINT id, HWND owner = nullptr, LPARAM param = 0) {
    return CreateDialogParamA(nullptr, MAKEINTRESOURCEA(id), owner, Proc,
                              param);
  }
  static void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
      DispatchMessageA(&msg);
  }
};

TEST_F(UserDialogsTest, CreationInitialisesThenShowsThenCallsTheHook) {
  HWND hooked = nullptr;
  standin::onDialogInitialised(131, [&](HWND h) {
    hooked = h;
    events.push_back("hook visible=" + std::to_string(IsWindowVisible(h)));
  });
  HWND owner = Dialog(102);
  HWND h = Dialog(131, owner, 77);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(hooked, h);
  EXPECT_EQ(events, (std::vector<std::string>{"dlg102 init visible=0 param=0",
                                              "dlg131 init visible=0 param=77",
                                              "hook visible=1"}));
  standin::WindowState state = standin::windowState(h);
  EXPECT_TRUE(state.exists && state.isDialog && state.enabled);
  EXPECT_EQ(state.templateId, 131u);
  EXPECT_EQ(state.owner, owner);
  EXPECT_EQ(standin::findDialog(131), h);
}

TEST_F(UserDialogsTest, TemplateStyleGivesTheInitialState) {
  standin::setTemplateStyle(132, WS_POPUP | WS_VISIBLE | WS_DISABLED,
                            WS_EX_TOPMOST);
  standin::setTemplateStyle(133, WS_POPUP, 0);
  HWND disabled = Dialog(132);
  HWND hidden = Dialog(133);
  EXPECT_FALSE(IsWindowEnabled(disabled));
  EXPECT_TRUE(standin::windowState(disabled).topmost);
  EXPECT_TRUE(IsWindowVisible(disabled));
  EXPECT_FALSE(IsWindowVisible(hidden));
}

TEST_F(UserDialogsTest, DialogDestroyedInItsInitialisationIsGoneAtOnce) {
  destroyInInit = reinterpret_cast<HWND>(1);
  bool hooked = false;
  standin::onDialogInitialised(140, [&](HWND) { hooked = true; });
  HWND h = Dialog(140);
  EXPECT_FALSE(IsWindow(h));
  EXPECT_FALSE(hooked);
  EXPECT_EQ(standin::findDialog(140), nullptr);
  EXPECT_EQ(standin::lastDialog(140), h);
  EXPECT_EQ(events,
            (std::vector<std::string>{"dlg140 init visible=0 param=0",
                                      "dlg140 destroy", "dlg140 ncdestroy"}));
}

TEST_F(UserDialogsTest, CreationCanBeMadeToFail) {
  standin::setDialogCreationFails(131, true);
  EXPECT_EQ(Dialog(131), nullptr);
  EXPECT_TRUE(events.empty());
}

TEST_F(UserDialogsTest, UnhandledCloseBecomesCancelCommand) {
  HWND h = Dialog(131);
  standin::postClose(h);
  Pump();
  EXPECT_EQ(events.back(), "dlg131 command 2/0");
  EXPECT_EQ(events[events.size() - 2], "dlg131 close");
}

TEST_F(UserDialogsTest, HelpersPostWhatTheDialogManagerWould) {
  HWND h = Dialog(131);
  standin::click(h, 1003);
  standin::command(h, IDOK);
  Pump();
  EXPECT_EQ(events[1], "dlg131 command 1003/0");
  EXPECT_EQ(events[2], "dlg131 command 1/0");
}

TEST_F(UserDialogsTest, DragIconQueryReturnsTheProcedureValue) {
  HWND h = Dialog(102);
  EXPECT_EQ(SendMessageA(h, WM_QUERYDRAGICON, 0, 0), 0x1234);
}

TEST_F(UserDialogsTest, DestroyingAnOwnerDestroysItsOwnedDialogsFirst) {
  HWND owner = Dialog(102);
  HWND owned = Dialog(131, owner);
  events.clear();
  EXPECT_TRUE(DestroyWindow(owner));
  EXPECT_FALSE(IsWindow(owned));
  EXPECT_EQ(events,
            (std::vector<std::string>{"dlg131 destroy", "dlg131 ncdestroy",
                                      "dlg102 destroy", "dlg102 ncdestroy"}));
  EXPECT_EQ(standin::journalEntries().back(), "DestroyWindow dlg131");
}

TEST_F(UserDialogsTest, OnlyTheOwnerThreadMayDestroy) {
  HWND h = Dialog(131);
  BOOL result = TRUE;
  std::thread other([&] { result = DestroyWindow(h); });
  other.join();
  EXPECT_FALSE(result);
  EXPECT_TRUE(IsWindow(h));
}

TEST_F(UserDialogsTest, ShowWindowChangesAndRecordsTheState) {
  HWND h = Dialog(102);
  EXPECT_TRUE(ShowWindow(h, SW_SHOWMAXIMIZED));
  EXPECT_TRUE(IsZoomed(h));
  EXPECT_TRUE(ShowWindow(h, SW_HIDE));
  EXPECT_FALSE(IsWindowVisible(h));
  EXPECT_TRUE(IsZoomed(h)); // hiding keeps the placement
  EXPECT_FALSE(ShowWindow(h, SW_SHOWMINIMIZED));
  EXPECT_TRUE(IsIconic(h));
  EXPECT_FALSE(IsZoomed(h));
  ShowWindow(h, SW_RESTORE);
  EXPECT_FALSE(IsIconic(h));
  EXPECT_EQ(standin::windowState(h).showWindowCalls,
            (std::vector<int>{3, 0, 2, 9}));
  EXPECT_EQ(standin::journalEntries()[1], "ShowWindow dlg102 3");
  EXPECT_EQ(GetWindowLongA(h, GWL_STYLE) & (WS_VISIBLE | WS_MAXIMIZE),
            WS_VISIBLE);
}

TEST_F(UserDialogsTest, SetWindowPosRecordsAndSetsTopmost) {
  HWND h = Dialog(102);
  SetWindowPos(h, HWND_TOPMOST, -1, -1, -1, -1, SWP_NOSIZE | SWP_NOMOVE);
  standin::WindowState state = standin::windowState(h);
  EXPECT_TRUE(state.topmost);
  ASSERT_EQ(state.setWindowPosCalls.size(), 1u);
  EXPECT_EQ(state.setWindowPosCalls[0].insertAfter, HWND_TOPMOST);
  EXPECT_EQ(state.setWindowPosCalls[0].cx, -1);
  EXPECT_EQ(state.setWindowPosCalls[0].flags, 3u);
  EXPECT_EQ(standin::journalEntries().back(),
            "SetWindowPos dlg102 HWND_TOPMOST -1 -1 -1 -1 3");
  EXPECT_EQ(GetWindowLongA(h, GWL_EXSTYLE), WS_EX_TOPMOST);
  SetWindowPos(h, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOZORDER | 3);
  EXPECT_TRUE(standin::windowState(h).topmost); // no z-order change asked
}

TEST_F(UserDialogsTest, ButtonsAreCheckedPerControl) {
  HWND h = Dialog(131);
  EXPECT_EQ(IsDlgButtonChecked(h, 1002), 0u);
  EXPECT_TRUE(CheckDlgButton(h, 1002, BST_CHECKED));
  EXPECT_EQ(IsDlgButtonChecked(h, 1002), 1u);
  EXPECT_EQ(IsDlgButtonChecked(h, 1003), 0u);
  HWND custom = GetDlgItem(h, 1003);
  ASSERT_NE(custom, nullptr);
  EXPECT_EQ(GetDlgItem(h, 1003), custom);
  SendMessageA(custom, BM_SETCHECK, BST_CHECKED, 0);
  EXPECT_EQ(SendMessageA(GetDlgItem(h, 1002), BM_GETCHECK, 0, 0), 1);
  EXPECT_EQ(standin::windowState(h).checkedButtons,
            (std::map<int, UINT>{{1002, 1}, {1003, 1}}));
  DestroyWindow(h);
  EXPECT_FALSE(IsWindow(custom));
}

TEST_F(UserDialogsTest, IconsSentAreRecordedAndKept) {
  HWND h = Dialog(102);
  HICON icon = LoadIconA(nullptr, MAKEINTRESOURCEA(128));
  EXPECT_EQ(icon, standin::iconHandle(128));
  SendMessageA(h, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessageA(h, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  standin::WindowState state = standin::windowState(h);
  EXPECT_EQ(state.bigIcon, icon);
  EXPECT_EQ(state.smallIcon, icon);
  ASSERT_EQ(state.sentMessages.size(), 2u);
  EXPECT_EQ(state.sentMessages[0].message, static_cast<UINT>(WM_SETICON));
  EXPECT_EQ(state.sentMessages[0].wParam, static_cast<WPARAM>(ICON_BIG));
  EXPECT_EQ(state.sentMessages[1].wParam, static_cast<WPARAM>(ICON_SMALL));
  standin::setIconMissing(true);
  EXPECT_EQ(LoadIconA(nullptr, MAKEINTRESOURCEA(128)), nullptr);
}

TEST_F(UserDialogsTest, ResetForgetsWindowsAndNeverReusesHandles) {
  HWND first = Dialog(131);
  standin::resetUser();
  EXPECT_FALSE(IsWindow(first));
  EXPECT_FALSE(standin::windowState(first).known);
  HWND second = Dialog(131);
  EXPECT_NE(first, second);
}

} // namespace
