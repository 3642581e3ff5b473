// The Welcome dialog: the mode it leaves for the installation, and each way
// it can end, with the messages, the hand-off file and the exit status.
#include "shell_harness.h"

namespace shelltest {
namespace {

using standin::messageBoxes;
using standin::windowState;

class WelcomeDialogTest : public ShellTest {
protected:
  // Clicks posted to the Welcome dialog in order once it is up.
  void Clicks(std::vector<int> ids) {
    OnWelcome([ids](HWND w) {
      for (int id : ids)
        standin::click(w, id);
    });
  }
};

// The mode the worker reads: Express unless Custom was the last choice.
TEST_F(WelcomeDialogTest, ModeSelectionDecidesTheConfigurationStep) {
  struct Case {
    std::vector<int> clicks;
    int32_t mode;
  } cases[] = {
      {{IDC_INSTALL}, 0},
      {{IDC_CUSTOM, IDC_EXPRESS, IDC_INSTALL}, 0},
      {{IDC_EXPRESS, IDC_EXPRESS, IDC_INSTALL}, 0},
      {{IDC_CUSTOM, IDC_INSTALL}, 1},
      {{IDC_EXPRESS, IDC_CUSTOM, IDC_CUSTOM, IDC_INSTALL}, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.clicks.size());
    TearDown();
    SetUp();
    GoodMedia();
    Clicks(c.clicks);
    Answer({IDCANCEL});

    EXPECT_EQ(RunSetup(), 3010);

    EXPECT_EQ(g_customMode, c.mode);
    EXPECT_EQ(Started(Tessary()), c.mode == 1);
    EXPECT_TRUE(Started(Quillan()));
  }
}

TEST_F(WelcomeDialogTest, StartsWithExpressCheckedAndModeZero) {
  std::map<int, UINT> checks;
  int32_t modeAtStart = -1;
  OnWelcome([&](HWND w) {
    checks = windowState(w).checkedButtons;
    modeAtStart = g_customMode;
    standin::command(w, IDOK);
  });

  RunSetup();

  EXPECT_EQ(modeAtStart, 0);
  EXPECT_EQ(checks[IDC_EXPRESS], UINT(BST_CHECKED));
  EXPECT_NE(checks[IDC_CUSTOM], UINT(BST_CHECKED));
}

// Cancel and Esc (IDCANCEL) ask first; Yes gives the question and the
// failure message, both owned by the Welcome dialog, deletes the hand-off
// file and ends the program without installing.
TEST_F(WelcomeDialogTest, CancelOrEscapeConfirmedWithYesAbandonsTheSetup) {
  for (int trigger : {0, 1}) {
    SCOPED_TRACE(trigger ? "IDCANCEL" : "Cancel button");
    TearDown();
    SetUp();
    GoodMedia();
    OnWelcome([trigger](HWND w) {
      if (trigger)
        standin::command(w, IDCANCEL);
      else
        standin::click(w, IDC_CANCEL);
    });
    Answer({IDYES});

    EXPECT_EQ(RunSetup(), 1602);

    auto boxes = messageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    ExpectBox(boxes[0], Welcome(), kQuestionText, "Exit Installation",
              kQuestionFlags);
    ExpectBox(boxes[1], Welcome(), kFailureText, kFailureCaption, kErrorFlags);
    EXPECT_FALSE(FileExists(HandoffPath()));
    EXPECT_EQ(Host(), nullptr) << "no install host";
    EXPECT_TRUE(standin::createProcessCalls().empty());
    EXPECT_FALSE(windowState(Backdrop()).exists);
  }
}

// Answered No, the dialog stays as it was, mode included: a later Install
// runs the chosen mode.
TEST_F(WelcomeDialogTest, CancelAnsweredNoKeepsTheDialogAndItsMode) {
  GoodMedia();
  Clicks({IDC_CUSTOM, IDC_CANCEL, IDC_INSTALL});
  Answer({IDNO, IDCANCEL});

  EXPECT_EQ(RunSetup(), 3010);

  EXPECT_EQ(Captions(),
            (std::vector<std::string>{"Exit Installation", "Success"}));
  EXPECT_EQ(g_customMode, 1);
  EXPECT_TRUE(Started(Tessary()));
}

// Esc answered No behaves as Cancel answered No; Enter (the framework's OK)
// then ends the program silently.
TEST_F(WelcomeDialogTest, EnterEndsSilentlyAndKeepsTheHandoffFile) {
  OnWelcome([](HWND w) {
    standin::command(w, IDCANCEL);
    standin::command(w, IDOK);
  });
  Answer({IDNO});

  EXPECT_EQ(RunSetup(), 1602);

  EXPECT_EQ(Captions(), std::vector<std::string>{"Exit Installation"});
  EXPECT_TRUE(FileExists(HandoffPath()));
  EXPECT_EQ(JournalCount("DeleteFileA"), 0);
  EXPECT_EQ(Host(), nullptr);
  EXPECT_FALSE(windowState(Backdrop()).exists);
}

// The close box asks nothing: the failure message alone, owned by the
// Welcome dialog, and the hand-off file is deleted.
TEST_F(WelcomeDialogTest, CloseBoxShowsOnlyTheFailureMessage) {
  OnWelcome([](HWND w) { standin::postClose(w); });

  EXPECT_EQ(RunSetup(), 1602);

  auto boxes = messageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  ExpectBox(boxes[0], Welcome(), kFailureText, kFailureCaption, kErrorFlags);
  EXPECT_FALSE(FileExists(HandoffPath()));
  EXPECT_EQ(Host(), nullptr);
}

// A real message box runs a message loop of its own, so a close request can
// arrive while the exit question is open. The dialog is abandoned once: one
// failure message, whatever the answer.
TEST_F(WelcomeDialogTest, CloseRequestDuringTheQuestionAbandonsOnce) {
  for (int answer : {IDYES, IDNO}) {
    SCOPED_TRACE(answer);
    TearDown();
    SetUp();
    OnWelcome([](HWND w) { standin::click(w, IDC_CANCEL); });
    standin::setMessageBoxResponder(
        [answer](const standin::MessageBoxCall &box) {
          if (box.caption != "Exit Installation")
            return IDOK;
          standin::postClose(box.owner);
          standin::pumpMessages();
          return answer;
        });

    EXPECT_EQ(RunSetup(), 1602);

    EXPECT_EQ(Captions(),
              (std::vector<std::string>{"Exit Installation", kFailureCaption}));
    EXPECT_FALSE(FileExists(HandoffPath()));
  }
}

// After Install the Welcome dialog is hidden for the whole installation and
// never shown again; a close request, Cancel, Esc or a second Install sent to
// it then change nothing.
TEST_F(WelcomeDialogTest, HiddenDuringTheInstallationAndDeafToClose) {
  AddSibling(Quillan(), true);
  std::string handoff = "1\r\n0\r\n" + installDir_ + "\r\n";
  standin::registerProgram(Sondel(), [this, handoff]() -> DWORD {
    HWND welcome = standin::findDialog(IDD_WELCOME);
    standin::postClose(welcome);
    standin::click(welcome, IDC_CANCEL);
    standin::command(welcome, IDCANCEL);
    standin::click(welcome, IDC_INSTALL);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    WriteFile(HandoffPath(), handoff);
    return 0;
  });
  ClickInstall();
  bool visibleAtPrompt = true;
  standin::setMessageBoxResponder([&](const standin::MessageBoxCall &) {
    visibleAtPrompt = windowState(Welcome()).visible;
    return IDCANCEL;
  });

  EXPECT_EQ(RunSetup(), 3010);

  EXPECT_FALSE(visibleAtPrompt);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Success"});
  EXPECT_TRUE(FileExists(HandoffPath()));
  std::vector<int> shows = windowState(Welcome()).showWindowCalls;
  EXPECT_EQ(shows, std::vector<int>{SW_HIDE});
  EXPECT_EQ(JournalCount("CreateDialogParamA dlg132"), 1);
  EXPECT_EQ(JournalCount("CreateThread"), 1);
}

} // namespace
} // namespace shelltest
