// Message maps: which member a message reaches, what the dialog procedure
// answers, and what is left to the system's default handling.
#include <gtest/gtest.h>

#include "framework/framework.h"
#include "standin/journal.h"
#include "standin/user.h"

#include <string>
#include <vector>

namespace {

std::vector<std::string> calls;

class MapApp : public CWinApp {
public:
  void Helped() { calls.push_back("app help"); }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(MapApp, CWinApp)
ON_COMMAND(ID_HELP, Helped)
END_MESSAGE_MAP()

class MappedDialog : public CDialog {
public:
  explicit MappedDialog(UINT id = 200) : CDialog(id) {}
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    calls.push_back("init");
    return TRUE;
  }
  void OnFirst() { calls.push_back("first"); }
  void OnMenuCommand() { calls.push_back("command 1001"); }
  void OnTimer(UINT_PTR id) { calls.push_back("timer " + std::to_string(id)); }
  void OnPaint() {
    calls.push_back("paint");
    RequestDefaultHandling();
  }
  HCURSOR OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(0x5678); }
  void Closing() {
    calls.push_back("close");
    EndDialog(5);
  }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(MappedDialog, CDialog)
ON_BN_CLICKED(1000, OnFirst)
ON_COMMAND(1001, OnMenuCommand)
ON_WM_TIMER()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_MESSAGE_VOID(WM_CLOSE, Closing)
END_MESSAGE_MAP()

// Takes the base's handling for WM_CLOSE and overrides OnCancel.
class CancellingDialog : public CDialog {
public:
  CancellingDialog() : CDialog(201) {}
  void OnCancel() override {
    calls.push_back("own cancel");
    EndDialog(9);
  }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CancellingDialog, CDialog)
ON_WM_CLOSE()
END_MESSAGE_MAP()

// Its own map entry for IDOK comes before the base's.
class OwnOkDialog : public CDialog {
public:
  OwnOkDialog() : CDialog(202) {}
  void Accept() {
    calls.push_back("accept");
    EndDialog(11);
  }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(OwnOkDialog, CDialog)
ON_COMMAND(IDOK, Accept)
END_MESSAGE_MAP()

class MessageMapTest : public ::testing::Test {
protected:
  void SetUp() override {
    standin::resetUser();
    calls.clear();
  }
  void TearDown() override { standin::resetUser(); }
  MapApp app;
};

TEST_F(MessageMapTest, MappedMessagesReachTheirMembers) {
  MappedDialog dialog;
  LRESULT dragIcon = 0;
  standin::onDialogInitialised(200, [&](HWND h) {
    standin::click(h, 1000);
    standin::click(h, 1002);                             // not mapped
    PostMessageA(h, WM_COMMAND, MAKEWPARAM(1000, 1), 0); // not a click
    standin::command(h, 1001);
    PostMessageA(h, WM_TIMER, 7, 0);
    PostMessageA(h, WM_PAINT, 0, 0);
    dragIcon = SendMessageA(h, WM_QUERYDRAGICON, 0, 0);
    standin::postClose(h);
  });
  EXPECT_EQ(dialog.DoModal(), 5);
  EXPECT_EQ(calls, (std::vector<std::string>{"init", "first", "command 1001",
                                             "timer 7", "paint", "close"}));
  EXPECT_EQ(dragIcon, 0x5678);
  // The paint handler asked for the default painting as well.
  EXPECT_EQ(standin::windowState(standin::lastDialog(200)).defaultPaints, 1);
}

TEST_F(MessageMapTest, OkFromTheBaseMapEndsWithIdok) {
  MappedDialog dialog;
  standin::onDialogInitialised(200, [](HWND h) { standin::command(h, IDOK); });
  EXPECT_EQ(dialog.DoModal(), IDOK);
}

TEST_F(MessageMapTest, UnmappedCloseEndsWithIdcancelThroughTheDefault) {
  CDialog dialog(203);
  standin::onDialogInitialised(203, [](HWND h) { standin::postClose(h); });
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
}

TEST_F(MessageMapTest, OverriddenOnCancelWinsForEscAndForClose) {
  CancellingDialog esc;
  standin::onDialogInitialised(201,
                               [](HWND h) { standin::command(h, IDCANCEL); });
  EXPECT_EQ(esc.DoModal(), 9);
  // WM_CLOSE goes to the base OnClose, whose default handling sends
  // IDCANCEL, which reaches the override.
  CancellingDialog closed;
  standin::onDialogInitialised(201, [](HWND h) { standin::postClose(h); });
  EXPECT_EQ(closed.DoModal(), 9);
  EXPECT_EQ(calls, (std::vector<std::string>{"own cancel", "own cancel"}));
}

TEST_F(MessageMapTest, ClassEntryComesBeforeTheBaseEntry) {
  OwnOkDialog dialog;
  standin::onDialogInitialised(202, [](HWND h) { standin::command(h, IDOK); });
  EXPECT_EQ(dialog.DoModal(), 11);
  EXPECT_EQ(calls, (std::vector<std::string>{"accept"}));
}

TEST_F(MessageMapTest, CommandsNoWindowHandlesGoToTheApplication) {
  MappedDialog dialog;
  standin::onDialogInitialised(200, [](HWND h) {
    standin::command(h, ID_HELP);
    standin::command(h, IDOK);
  });
  dialog.DoModal();
  EXPECT_EQ(calls, (std::vector<std::string>{"init", "app help"}));
}

} // namespace
