// The install host: pre-flight checks, the status timer, the worker's start,
// the abort procedure, and what the user sees and the program leaves behind
// in each outcome.
#include "shell_harness.h"

namespace shelltest {
namespace {

using standin::messageBoxes;
using standin::windowState;

class InstallHost : public ShellTest {};

// The platform test comes first: on an unsupported system with the product
// installed, only the platform message and the failure message appear, and
// neither the installed test, the timer nor the worker run.
TEST_F(InstallHost, UnsupportedWindowsEndsWithPlatformThenFailureMessage) {
  for (DWORD version : {0x00003303u /* NT 3.51 */, 0x00000005u /* NT 5.0 */,
                        0x08930005u /* NT 5.0 build 2195 */}) {
    SCOPED_TRACE(version);
    TearDown();
    SetUp();
    standin::setVersion(version);
    ASSERT_TRUE(standin::regPutKey(kMonitorKey));
    GoodMedia();
    ClickInstall();

    EXPECT_EQ(RunSetup(), 1633);

    EXPECT_EQ(g_platform, -1);
    auto boxes = messageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    ExpectBox(boxes[0], Host(), kPlatformText, "Install Error", kErrorFlags);
    ExpectBox(boxes[1], Host(), kFailureText, kFailureCaption, kErrorFlags);
    EXPECT_EQ(JournalCount("SetTimer"), 0);
    EXPECT_EQ(standin::createThreadCount(), 0);
    EXPECT_EQ(JournalCount("RegOpenKeyA"), 0) << "no installed test";
    EXPECT_FALSE(FileExists(HandoffPath()));
    EXPECT_FALSE(windowState(Host()).exists);
    EXPECT_FALSE(windowState(Backdrop()).exists);
  }
}

// Only major 4 with minor 0 is Windows NT 4.0: a later NT 4.x (minor 10,
// bit 31 clear) is refused like any other unsupported system.
TEST_F(InstallHost, LaterWindowsNt4MinorVersionIsRefused) {
  standin::setVersion(0x05650A04);
  GoodMedia();
  ClickInstall();

  EXPECT_EQ(RunSetup(), 1633);

  EXPECT_EQ(g_platform, -1);
  EXPECT_EQ(Captions(),
            (std::vector<std::string>{"Install Error", kFailureCaption}));
  EXPECT_EQ(messageBoxes()[0].text, kPlatformText);
  EXPECT_EQ(standin::createThreadCount(), 0);
}

// Supported systems pass the platform test with the value the worker reads;
// with the product's monitor key present (even empty) the warning follows.
TEST_F(InstallHost, SupportedWindowsThenInstalledProductEndsWithWarning) {
  struct Case {
    DWORD version;
    int32_t platform;
  } cases[] = {{0xC0000004, 1},  // Windows 95
               {0xC0000A04, 1},  // Windows 98: bit 31 whatever the version
               {0x80000005, 1},  // bit 31 with a major version 5
               {0x05650004, 0}}; // Windows NT 4.0 build 1381
  for (const Case &c : cases) {
    SCOPED_TRACE(c.version);
    TearDown();
    SetUp();
    standin::setVersion(c.version);
    ASSERT_TRUE(standin::regPutKey(kMonitorKey));
    GoodMedia();
    ClickInstall();

    EXPECT_EQ(RunSetup(), 1638);

    EXPECT_EQ(g_platform, c.platform);
    auto boxes = messageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    ExpectBox(boxes[0], Host(), kInstalledText, "Warning", kWarningFlags);
    ExpectBox(boxes[1], Host(), kFailureText, kFailureCaption, kErrorFlags);
    EXPECT_EQ(standin::createThreadCount(), 0);
    EXPECT_EQ(JournalCount("SetTimer"), 0);
    EXPECT_FALSE(FileExists(HandoffPath()));
    // The registry is left as it was.
    EXPECT_EQ(standin::regSubkeys("HKLM\\SOFTWARE\\VKO\\DMI"),
              std::vector<std::string>{"LM78"});
    EXPECT_TRUE(standin::regValueNames(kMonitorKey).empty());
  }
}

TEST_F(InstallHost, ProductKeyWithoutMonitorKeyIsNoInstallation) {
  ASSERT_TRUE(standin::regPutString("HKLM\\SOFTWARE\\VKO\\DMI", "path", "C:"));
  GoodMedia();
  ClickInstall();
  Answer({IDCANCEL}); // the success prompt: no restart

  EXPECT_EQ(RunSetup(), 3010);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Success"});
  EXPECT_TRUE(standin::regKeyExists(kMonitorKey));
}

// The backdrop is topmost from the start of the host's initialisation, so
// already while a pre-flight message is shown; the host is maximised.
TEST_F(InstallHost, BackdropIsTopmostBeforeThePreflightMessages) {
  standin::setVersion(0x00000005);
  ClickInstall();
  bool topmostDuringBox = false;
  standin::setMessageBoxResponder([&](const standin::MessageBoxCall &box) {
    if (box.caption == "Install Error")
      topmostDuringBox = windowState(Backdrop()).topmost;
    return IDOK;
  });

  RunSetup();

  EXPECT_TRUE(topmostDuringBox);
  auto calls = windowState(Backdrop()).setWindowPosCalls;
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].insertAfter, HWND_TOPMOST);
  EXPECT_EQ(calls[0].x, -1);
  EXPECT_EQ(calls[0].y, -1);
  EXPECT_EQ(calls[0].cx, -1);
  EXPECT_EQ(calls[0].cy, -1);
  EXPECT_EQ(calls[0].flags, UINT(SWP_NOSIZE | SWP_NOMOVE));
  EXPECT_EQ(windowState(Host()).showWindowCalls, std::vector<int>{3});
}

// The host shows nothing of its own: from before it is first shown to its
// end, its window region is empty, so the backdrop's picture stays on the
// screen behind the worker's message boxes.
TEST_F(InstallHost, HostLeavesTheBackdropPictureUncovered) {
  GoodMedia();
  ClickInstall();
  standin::WindowState hostAtPrompt;
  standin::setMessageBoxResponder([&](const standin::MessageBoxCall &) {
    hostAtPrompt = windowState(Host());
    return IDCANCEL;
  });

  EXPECT_EQ(RunSetup(), 3010);

  EXPECT_TRUE(hostAtPrompt.visible);
  EXPECT_TRUE(hostAtPrompt.maximised);
  ASSERT_TRUE(hostAtPrompt.hasRegion);
  const RECT &shown = hostAtPrompt.region;
  EXPECT_TRUE(shown.left >= shown.right || shown.top >= shown.bottom);
  auto journal = standin::journalEntries();
  auto at = [&](const std::string &entry) {
    return std::find(journal.begin(), journal.end(), entry) - journal.begin();
  };
  EXPECT_LT(at("SetWindowRgn dlg132 empty"), at("ShowWindow dlg132 3"));
}

// The record of this run's changes holding the program group, so that the
// rollback shows in the calls it makes (a failure of a sibling program
// itself comes before any change).
void RecordGroupOfThisRun() {
  g_changes[0].kind = kGroupCreated;
  g_changeCount = 1;
  standin::addProgmanGroup("VKO Halvermont");
}

// Worker failure: the worker's own message (on the worker's thread, owned by
// the host), then at the next timer message the rollback and the failure
// message on the user-interface thread; the hand-off file is gone.
TEST_F(InstallHost, WorkerFailureRollsBackThenShowsTheFailureMessage) {
  RecordGroupOfThisRun();
  AddSibling(Sondel());
  // The pre-setup program is missing from the media.
  ClickInstall();
  std::vector<std::string> journalAtWorkerBox;
  standin::setMessageBoxResponder([&](const standin::MessageBoxCall &box) {
    if (box.thread != mainThread_) {
      // Nothing happens on the user-interface side while it is open.
      std::this_thread::sleep_for(std::chrono::milliseconds(60));
      journalAtWorkerBox = standin::journalEntries();
    }
    return IDOK;
  });

  EXPECT_EQ(RunSetup(), 1603);

  auto boxes = messageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].owner, Host());
  EXPECT_NE(boxes[0].thread, mainThread_);
  EXPECT_EQ(boxes[0].flags, kErrorFlags);
  ExpectBox(boxes[1], Host(), kFailureText, kFailureCaption, kErrorFlags);
  EXPECT_EQ(boxes[1].thread, mainThread_);
  EXPECT_FALSE(FileExists(HandoffPath()));

  // While the worker's box was open: no rollback, no failure message.
  for (const auto &e : journalAtWorkerBox) {
    EXPECT_EQ(e.find("RegDeleteKeyA"), std::string::npos) << e;
    EXPECT_EQ(e.find("Abort Installation"), std::string::npos) << e;
  }
  // The rollback runs between the worker's message and the failure message:
  // it asks Program Manager to delete the group the record holds.
  auto journal = standin::journalEntries();
  size_t firstRollback = journal.size(), failureBox = journal.size();
  for (size_t i = 0; i < journal.size(); ++i) {
    if (firstRollback == journal.size() &&
        journal[i].find("DeleteGroup") != std::string::npos)
      firstRollback = i;
    if (journal[i].find("\"Abort Installation\"") != std::string::npos)
      failureBox = i;
  }
  ASSERT_LT(firstRollback, journal.size());
  EXPECT_LT(firstRollback, failureBox);
  EXPECT_EQ(JournalCount("KillTimer dlg132 1"), 1);
  EXPECT_FALSE(windowState(Host()).exists);
  EXPECT_FALSE(windowState(Backdrop()).exists);
}

// A status of -1 stops the timer, rolls back and aborts exactly once, at any
// timer message whatever its identifier, also when several arrive.
TEST_F(InstallHost, FailureStatusIsHandledOnceAtAnyTimerMessage) {
  RecordGroupOfThisRun();
  // The pre-install test reports failure, without a message of its own, once
  // the host's own timer is stopped: only this test's timer messages remain.
  std::atomic<bool> timerStopped{false};
  standin::registerProgram(Sondel(), [&]() -> DWORD {
    for (int i = 0; i < 1000 && !timerStopped; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    WriteFile(HandoffPath(), "0\r\n0\r\nC:\\\r\n");
    return 0;
  });
  ClickInstall();
  // The user-interface thread keeps serving the worker meanwhile (the
  // backdrop's topmost state around the program): the timer messages come
  // from a thread of their own once the status is -1.
  std::atomic<bool> posted{false};
  std::thread poster;
  standin::setIdleHook([&] {
    HWND host = standin::findDialog(IDD_INSTALL);
    if (timerStopped || host == nullptr || JournalCount("CreateThread") == 0)
      return;
    KillTimer(host, 1);
    timerStopped = true;
    poster = std::thread([&posted, host] {
      for (int i = 0; i < 1000 && g_installStatus.load() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      PostMessageA(host, WM_TIMER, 77, 0);
      PostMessageA(host, WM_TIMER, 78, 0);
      PostMessageA(host, WM_TIMER, 1, 0);
      posted = true;
    });
  });
  // A real message box runs a message loop of its own: the timer messages
  // still queued are dispatched while the failure message is open.
  standin::setMessageBoxResponder([](const standin::MessageBoxCall &) {
    standin::pumpMessages();
    return IDOK;
  });

  EXPECT_EQ(RunSetup(), 1603);
  if (poster.joinable())
    poster.join();

  EXPECT_TRUE(posted);
  EXPECT_EQ(g_installStatus.load(), -1);
  EXPECT_EQ(Captions(), std::vector<std::string>{kFailureCaption});
  int deleteGroups = 0;
  for (const auto &command : standin::ddeCommands())
    deleteGroups += command.find("DeleteGroup") != std::string::npos;
  EXPECT_EQ(deleteGroups, 1);
  EXPECT_FALSE(FileExists(HandoffPath()));
}

// Success: only the worker's prompt; the timer sees 1 and only stops; the
// hand-off file stays. The restart's outcome decides the exit status.
TEST_F(InstallHost, SuccessShowsOnlyThePromptAndKeepsTheHandoffFile) {
  struct Case {
    int answer;
    BOOL restartAccepted;
    int exitCode;
  } cases[] = {{IDOK, TRUE, 1641}, {IDOK, FALSE, 3010}, {IDCANCEL, TRUE, 3010}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.exitCode);
    TearDown();
    SetUp();
    standin::setExitWindowsResult(c.restartAccepted);
    GoodMedia();
    ClickInstall();
    Answer({c.answer});

    EXPECT_EQ(RunSetup(), c.exitCode);

    auto boxes = messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, Host());
    EXPECT_EQ(boxes[0].caption, "Success");
    EXPECT_EQ(boxes[0].flags, kPromptFlags);
    EXPECT_TRUE(FileExists(HandoffPath()));
    EXPECT_EQ(JournalCount("DeleteFileA"), 0);
    EXPECT_FALSE(windowState(Backdrop()).exists);
    for (int i = 0; i < 500 && g_installStatus.load() == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(g_installStatus.load(), 1);
  }
}

// A close request, or a command that would end a dialog, sent to the host
// while the worker runs neither ends the program under it nor reports a
// failure: the installation completes.
TEST_F(InstallHost, CloseRequestWhileTheWorkerRunsIsIgnored) {
  AddSibling(Quillan(), true);
  std::string handoff = "1\r\n0\r\n" + installDir_ + "\r\n";
  standin::registerProgram(Sondel(), [this, handoff]() -> DWORD {
    HWND host = standin::findDialog(IDD_INSTALL);
    standin::postClose(host);
    standin::command(host, IDOK);
    standin::command(host, IDCANCEL);
    // The user-interface thread handles the request meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    WriteFile(HandoffPath(), handoff);
    return 0;
  });
  ClickInstall();
  Answer({IDCANCEL});

  EXPECT_EQ(RunSetup(), 3010);

  EXPECT_EQ(Captions(), std::vector<std::string>{"Success"});
  EXPECT_TRUE(FileExists(HandoffPath()));
  EXPECT_TRUE(Started(Quillan()));
}

// Without the timer nobody would see the worker's result, and without the
// worker nobody would ever set it: both end in the abort procedure instead of
// a setup that waits for ever.
TEST_F(InstallHost, TimerOrThreadThatCannotBeCreatedEndsInTheAbort) {
  GoodMedia();
  ClickInstall();
  standin::setTimerFails(true);

  EXPECT_EQ(RunSetup(), 1603);
  EXPECT_EQ(Captions(), std::vector<std::string>{kFailureCaption});
  EXPECT_EQ(standin::createThreadCount(), 0);
  EXPECT_FALSE(Started(Sondel()));
  EXPECT_FALSE(FileExists(HandoffPath()));

  TearDown();
  SetUp();
  GoodMedia();
  ClickInstall();
  standin::failCreateThread(1);

  EXPECT_EQ(RunSetup(), 1603);
  EXPECT_EQ(Captions(), std::vector<std::string>{kFailureCaption});
  EXPECT_EQ(JournalCount("KillTimer dlg132 1"), 1);
  EXPECT_FALSE(Started(Sondel()));
  EXPECT_FALSE(FileExists(HandoffPath()));
}

// The hand-off file's name is composed in 200 bytes: a Windows directory of
// 187 characters still fits with "\install.tmp"; one of 188 does not, and
// then nothing is deleted, in particular no cut-short name.
TEST_F(InstallHost, AbortDeletesTheHandoffFileOnlyWhenItsNameFits) {
  for (size_t length : {187u, 188u}) {
    SCOPED_TRACE(length);
    TearDown();
    SetUp();
    std::string dir = base_ + "/";
    dir += std::string(length - dir.size(), 'w');
    ASSERT_EQ(dir.size(), length);
    standin::setWindowsDirectory(dir);
    std::string full = dir + "\\install.tmp";
    std::string cut = full.substr(0, 199);
    WriteFile(full, "1\r\n");
    WriteFile(cut, "1\r\n");
    standin::setVersion(0x00000005);
    ClickInstall();

    RunSetup();

    EXPECT_EQ(Captions(),
              (std::vector<std::string>{"Install Error", kFailureCaption}));
    if (length == 187) {
      EXPECT_FALSE(FileExists(full));
    } else {
      EXPECT_TRUE(FileExists(full));
      EXPECT_TRUE(FileExists(cut));
      EXPECT_EQ(JournalCount("DeleteFileA"), 0);
    }
  }
}

// A close request that reaches the host while a pre-flight message runs its
// own message loop does not abort a second time.
TEST_F(InstallHost, CloseRequestDuringAPreflightMessageAbortsOnce) {
  standin::setVersion(0x00000005);
  ClickInstall();
  standin::setMessageBoxResponder([](const standin::MessageBoxCall &box) {
    if (box.caption == "Install Error") {
      standin::postClose(box.owner);
      standin::pumpMessages();
    }
    return IDOK;
  });

  EXPECT_EQ(RunSetup(), 1633);
  EXPECT_EQ(Captions(),
            (std::vector<std::string>{"Install Error", kFailureCaption}));
}

const char kAdministratorText[] =
    "An administrator of this computer must install VKO Halvermont.\n"
    "Please log on as an administrator and start the setup again.";
const char kServicesKey[] = "HKLM\\System\\CurrentControlSet\\Services";

// On Windows NT a user who may not create keys under the services key and
// SOFTWARE is refused before anything starts or is written: the message, the
// failure message, status 1925, and the hand-off file gone. An administrator
// passes (each key opened with KEY_CREATE_SUB_KEY alone, closed at once,
// before the timer starts); Windows 95 asks nothing.
TEST_F(InstallHost, WindowsNtRequiresAnAdministratorWindows95AsksNothing) {
  struct Case {
    DWORD version;
    bool administrator;
    int exitCode;
  } cases[] = {{0x05650004, false, 1925},
               {0x05650004, true, 3010},
               {0xC0000004, false, 3010}};
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message()
                 << std::hex << c.version << " admin " << c.administrator);
    TearDown();
    SetUp();
    standin::setVersion(c.version);
    // The keys every machine has.
    ASSERT_TRUE(standin::regPutKey(kServicesKey));
    ASSERT_TRUE(standin::regPutKey("HKLM\\SOFTWARE\\Microsoft\\Windows\\"
                                   "CurrentVersion\\Run"));
    standin::regSetAdministrator(c.administrator);
    GoodMedia();
    ClickInstall();
    Answer({IDCANCEL});
    const std::string registryBefore = standin::regExportText();

    EXPECT_EQ(RunSetup(), c.exitCode);

    if (c.exitCode == 1925) {
      auto boxes = messageBoxes();
      ASSERT_EQ(boxes.size(), 2u);
      ExpectBox(boxes[0], Host(), kAdministratorText, "Install Error",
                kErrorFlags);
      ExpectBox(boxes[1], Host(), kFailureText, kFailureCaption, kErrorFlags);
      EXPECT_EQ(JournalCount("SetTimer"), 0);
      EXPECT_EQ(standin::createThreadCount(), 0);
      EXPECT_TRUE(standin::createProcessCalls().empty());
      EXPECT_EQ(standin::regExportText(), registryBefore);
      EXPECT_EQ(JournalCount("RegCreateKeyA") + JournalCount("RegSet") +
                    JournalCount("RegDelete"),
                0);
      EXPECT_TRUE(standin::ddeCommands().empty());
      EXPECT_FALSE(FileExists(HandoffPath()));
      continue;
    }
    EXPECT_EQ(Captions(), std::vector<std::string>{"Success"});
    EXPECT_TRUE(Started(Quillan()));
    // The check's calls, each open followed at once by its close, then the
    // timer's start.
    auto journal = standin::journalEntries();
    std::vector<std::string> checks;
    for (size_t i = 0; i < journal.size(); ++i) {
      const std::string &e = journal[i];
      bool afterOpen = i > 0 && journal[i - 1].rfind("RegOpenKeyExA", 0) == 0;
      if (e.rfind("RegOpenKeyExA", 0) == 0 || e.rfind("SetTimer", 0) == 0 ||
          (afterOpen && e.rfind("RegCloseKey", 0) == 0))
        checks.push_back(e);
    }
    if (c.version == 0xC0000004) {
      EXPECT_EQ(checks, std::vector<std::string>{"SetTimer dlg132 1 10"});
      continue;
    }
    EXPECT_EQ(
        checks,
        (std::vector<std::string>{
            "RegOpenKeyExA HKEY_LOCAL_MACHINE "
            "\"System\\CurrentControlSet\\Services\" access=0x00000004 -> 0",
            "RegCloseKey HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\"
            "Services -> 0",
            "RegOpenKeyExA HKEY_LOCAL_MACHINE \"SOFTWARE\" "
            "access=0x00000004 -> 0",
            "RegCloseKey HKEY_LOCAL_MACHINE\\SOFTWARE -> 0",
            "SetTimer dlg132 1 10"}));
  }
}

// While a sibling program runs its windows can come above the backdrop:
// the backdrop is not topmost at any program's start, and topmost again at
// every message box, the worker's included, whether the program ran, could
// not be started or left no hand-off file. Only the user-interface thread
// changes it.
TEST_F(InstallHost, BackdropGivesWayToEachSiblingProgramOnly) {
  enum Media { kCustomInstall, kNoPreSetupProgram, kNoHandoff };
  for (Media media : {kCustomInstall, kNoPreSetupProgram, kNoHandoff}) {
    SCOPED_TRACE(media);
    TearDown();
    SetUp();
    if (media == kCustomInstall) {
      GoodMedia();
    } else if (media == kNoPreSetupProgram) {
      AddSibling(Sondel());
    } else {
      AddSibling(Sondel());
      standin::registerProgram(Quillan(), [] { return DWORD(0); });
    }
    OnWelcome([](HWND w) {
      standin::click(w, IDC_CUSTOM);
      standin::click(w, IDC_INSTALL);
    });
    Answer({IDCANCEL});

    RunSetup();

    const size_t programs = media == kCustomInstall ? 3u : 2u;
    auto starts = standin::createProcessCalls();
    ASSERT_EQ(starts.size(), programs);
    for (const auto &start : starts)
      EXPECT_FALSE(standin::topmostAt(Backdrop(), start.moment))
          << start.commandLine.value_or("");
    auto boxes = messageBoxes();
    ASSERT_EQ(boxes.size(), media == kCustomInstall ? 1u : 2u);
    EXPECT_NE(boxes[0].thread, mainThread_);
    for (const auto &box : boxes)
      EXPECT_TRUE(standin::topmostAt(Backdrop(), box.moment)) << box.text;
    for (const auto &change : windowState(Backdrop()).topmostHistory)
      EXPECT_EQ(change.thread, mainThread_);
  }
}

// A missing hand-off file is no error for the abort.
TEST_F(InstallHost, AbortWithoutHandoffFileStillEndsNormally) {
  std::remove(HandoffPath().c_str());
  standin::setVersion(0x00000005);
  ClickInstall();

  EXPECT_EQ(RunSetup(), 1633);
  EXPECT_EQ(Captions(),
            (std::vector<std::string>{"Install Error", kFailureCaption}));
  EXPECT_FALSE(windowState(Backdrop()).exists);
}

} // namespace
} // namespace shelltest
