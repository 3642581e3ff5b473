// The application object and the backdrop: start-up, the maximised backdrop
// behind the Welcome dialog, its icon, the minimised painting and the end of
// the program.
#include "shell_harness.h"

#include <sys/stat.h>

#include <algorithm>
#include <regex>

#include "standin/faults.h"

#include "shell/backdrop_dialog.h"

namespace shelltest {
namespace {

using standin::windowState;

class Backdrop : public ShellTest {};

// The backdrop is visible, maximised and carries the icon before the Welcome
// dialog appears; the Welcome dialog is owned by it and keeps it disabled.
TEST_F(Backdrop, IsMaximisedWithItsIconBeforeTheWelcomeDialog) {
  standin::WindowState atWelcome;
  HWND welcomeOwner = nullptr;
  OnWelcome([&](HWND w) {
    atWelcome = windowState(ShellTest::Backdrop());
    welcomeOwner = windowState(w).owner;
    standin::command(w, IDOK);
  });

  EXPECT_EQ(RunSetup(), 1602);

  EXPECT_TRUE(atWelcome.visible);
  EXPECT_TRUE(atWelcome.maximised);
  EXPECT_FALSE(atWelcome.enabled);
  EXPECT_FALSE(atWelcome.topmost) << "topmost only once the host starts";
  EXPECT_EQ(welcomeOwner, ShellTest::Backdrop());
  HICON icon = standin::iconHandle(IDI_SETUP);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(atWelcome.bigIcon, icon);
  EXPECT_EQ(atWelcome.smallIcon, icon);
  EXPECT_EQ(atWelcome.showWindowCalls, std::vector<int>{SW_SHOWMAXIMIZED});
}

// However the Welcome dialog ends, the backdrop is destroyed at once, the
// main-window pointer is cleared, the quit request is posted and
// initialisation reports failure, so no application message loop runs.
TEST_F(Backdrop, DestroysItselfAndTheProgramEndsWithoutAMessageLoop) {
  OnWelcome([](HWND w) { standin::postClose(w); });

  EXPECT_FALSE(theApp.InitInstance());

  EXPECT_FALSE(windowState(ShellTest::Backdrop()).exists);
  EXPECT_EQ(theApp.m_pMainWnd, nullptr);
  EXPECT_EQ(JournalCount("PostQuitMessage 0"), 1);
  EXPECT_EQ(theApp.m_nExitCode, 1602);
  // The backdrop was destroyed right after the Welcome dialog's end.
  auto journal = standin::journalEntries();
  size_t welcomeEnd = journal.size(), destroy = journal.size();
  for (size_t i = 0; i < journal.size(); ++i) {
    if (journal[i] == "DestroyWindow dlg131")
      welcomeEnd = i;
    if (journal[i] == "DestroyWindow dlg102")
      destroy = i;
  }
  ASSERT_LT(destroy, journal.size());
  EXPECT_LT(welcomeEnd, destroy);
  for (size_t i = welcomeEnd + 1; i < destroy; ++i)
    EXPECT_EQ(journal[i].find("MessageBoxA"), std::string::npos) << journal[i];
}

// Without its icon the setup runs all the same; the null icon is passed on.
TEST_F(Backdrop, MissingIconIsPassedOnAsNull) {
  standin::setIconMissing(true);
  standin::WindowState atWelcome;
  atWelcome.bigIcon = reinterpret_cast<HICON>(1);
  OnWelcome([&](HWND w) {
    atWelcome = windowState(ShellTest::Backdrop());
    standin::command(w, IDOK);
  });

  EXPECT_EQ(RunSetup(), 1602);
  EXPECT_EQ(atWelcome.bigIcon, nullptr);
  EXPECT_EQ(atWelcome.smallIcon, nullptr);
}

// Minimised, the backdrop paints its icon centred by
// x = (width - icon width + 1) / 2, y likewise, truncating toward zero: an
// odd difference gives the left (top) margin the extra pixel; a client area
// smaller than the icon gives negative positions rounded toward zero.
TEST_F(Backdrop, MinimisedPaintCentresTheIcon) {
  struct Case {
    RECT client;
    int cxIcon, cyIcon;
    int x, y;
  } cases[] = {
      {{0, 0, 101, 67}, 32, 32, 35, 18},   // odd differences 69 and 35
      {{0, 0, 100, 66}, 32, 32, 34, 17},   // even differences
      {{5, 7, 25, 17}, 32, 32, -5, -10},   // -11 and -21 truncate toward zero
      {{10, 20, 111, 87}, 16, 24, 43, 22}, // offset rectangle, other metrics
  };
  std::vector<standin::DrawIconCall> drawn;
  std::vector<standin::SentMessage> erases;
  int defaultPaintsBefore = -1, defaultPaintsAfter = -1;
  LRESULT dragIcon = 0;
  OnWelcome([&](HWND w) {
    HWND backdrop = ShellTest::Backdrop();
    for (const Case &c : cases) {
      standin::setIconic(backdrop, true);
      standin::setClientRect(backdrop, c.client);
      standin::setSystemMetric(SM_CXICON, c.cxIcon);
      standin::setSystemMetric(SM_CYICON, c.cyIcon);
      SendMessageA(backdrop, WM_PAINT, 0, 0);
    }
    drawn = standin::drawnIcons();
    for (const auto &m : windowState(backdrop).sentMessages)
      if (m.message == WM_ICONERASEBKGND)
        erases.push_back(m);
    // Not minimised: the default painting, no icon.
    standin::setIconic(backdrop, false);
    defaultPaintsBefore = windowState(backdrop).defaultPaints;
    SendMessageA(backdrop, WM_PAINT, 0, 0);
    defaultPaintsAfter = windowState(backdrop).defaultPaints;
    dragIcon = SendMessageA(backdrop, WM_QUERYDRAGICON, 0, 0);
    standin::command(w, IDOK);
  });

  RunSetup();

  HICON icon = standin::iconHandle(IDI_SETUP);
  ASSERT_EQ(drawn.size(), std::size(cases));
  ASSERT_EQ(erases.size(), std::size(cases));
  for (size_t i = 0; i < drawn.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(drawn[i].x, cases[i].x);
    EXPECT_EQ(drawn[i].y, cases[i].y);
    EXPECT_EQ(drawn[i].icon, icon);
    // The background is erased on the same device context first.
    EXPECT_NE(drawn[i].hdc, nullptr);
    EXPECT_EQ(erases[i].wParam, reinterpret_cast<WPARAM>(drawn[i].hdc));
    EXPECT_EQ(erases[i].lParam, 0);
  }
  for (const auto &paint : standin::paints())
    EXPECT_TRUE(paint.ended) << "every paint context is closed";
  EXPECT_EQ(defaultPaintsAfter, defaultPaintsBefore + 1);
  EXPECT_EQ(standin::drawnIcons().size(), std::size(cases));
  EXPECT_EQ(dragIcon, reinterpret_cast<LRESULT>(icon));
}

// A log that /LOG names but that cannot be opened (a missing folder, a
// read-only file, a name over 255 characters) is reported before anything
// else, by itself: no backdrop, exit status 1622, the file untouched.
TEST_F(Backdrop, LogThatCannotBeOpenedEndsTheSetupWith1622) {
  const std::string readOnly = base_ + "/old.txt";
  WriteFile(readOnly, "earlier\r\n");
  ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
  const std::string longName = base_ + "/" + std::string(256, 'n');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/LOG=\"" + base_ + "/missing/x.txt\"", base_ + "/missing/x.txt"},
      {"/log=" + readOnly, readOnly},
      {"/LOG=" + longName, longName.substr(0, 255) + "..."},
  };
  for (const auto &c : cases) {
    standin::resetUser();
    standin::setCommandLine("A:\\MERRIK.EXE " + c.first);

    EXPECT_EQ(RunSetup(), 1622) << c.first;

    const auto boxes = standin::messageBoxes();
    ASSERT_EQ(boxes.size(), 1u) << c.first;
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[0].text, "Can not open log file " + c.second + "!");
    EXPECT_EQ(boxes[0].caption, "Install Error");
    EXPECT_EQ(boxes[0].flags, 0x00040010u);
    EXPECT_EQ(ShellTest::Backdrop(), nullptr) << c.first;
  }
  EXPECT_EQ(testsupport::ReadFileOr(readOnly, ""), "earlier\r\n");
  EXPECT_FALSE(FileExists(base_ + "/missing"));
}

// One log for the machines of a logon script: a setup on one machine, its
// restart accepted, then one on another machine with /LOG alone (the
// temporary folder is the log's) whose first value the registry refuses.
// The file holds both runs, every line whole, one after the other: each
// header names its computer, each run ends with its exit status, the first
// one before the restart was requested.
TEST_F(Backdrop, TwoSetupsAppendToOneLog) {
  const std::string folder = "/T\\";
  const std::string log = folder + "MERRIK.LOG";
  standin::setComputerName("ALPHA");
  standin::setCommandLine("A:\\MERRIK.EXE /LOG=\"" + base_ + log + "\"");
  GoodMedia();
  ClickInstall();
  Answer({IDOK});
  EXPECT_EQ(RunSetup(), 1641);
  const std::vector<std::string> calls = standin::faultCallNames();
  const size_t firstValue =
      std::find(calls.begin(), calls.end(), "RegSetValueExA") - calls.begin();
  const std::string firstLog = base_ + log;
  const std::string firstRun = testsupport::ReadFileOr(firstLog, "");

  TearDown();
  SetUp();
  WriteFile(base_ + log, firstRun);
  standin::setComputerName("BETA");
  standin::setTempPath(base_ + folder);
  standin::setCommandLine("A:\\MERRIK.EXE /LOG");
  standin::setFaultAt(firstValue + 1);
  GoodMedia();
  ClickInstall();
  Answer({IDOK});
  EXPECT_EQ(RunSetup(), 1603);
  ASSERT_TRUE(standin::injectedFault().has_value());
  EXPECT_EQ(standin::injectedFault()->call, "RegSetValueExA");

  const std::string text = testsupport::ReadFileOr(base_ + log, "");
  ASSERT_EQ(text.compare(0, firstRun.size(), firstRun), 0)
      << "the first run's lines are not kept";
  const std::regex shape("^ *[0-9]+ [0-9A-F]{8} (.*)$");
  std::vector<std::vector<std::string>> runs;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    const std::string line = text.substr(start, end - start);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
    const std::string event = m[1];
    if (event.rfind("MERRIK.EXE setup log, started ", 0) == 0)
      runs.emplace_back();
    ASSERT_FALSE(runs.empty()) << "a line before the first header: " << line;
    runs.back().push_back(event);
  }
  EXPECT_EQ(start, text.size()) << "the log ends in the middle of a line";
  ASSERT_EQ(runs.size(), 2u);
  const auto holds = [](const std::vector<std::string> &run,
                        const std::string &line) {
    return std::count(run.begin(), run.end(), line);
  };
  const auto exits = [](const std::vector<std::string> &run) {
    return std::count_if(run.begin(), run.end(), [](const std::string &l) {
      return l.rfind("exit status ", 0) == 0;
    });
  };
  const std::vector<std::string> &first = runs[0], &second = runs[1];
  EXPECT_NE(first[0].find("file \"" + firstLog + "\""), std::string::npos)
      << first[0];
  EXPECT_EQ(first[1], "computer \"ALPHA\"");
  EXPECT_EQ(holds(first, "RegSetValueExA HKLM\\SOFTWARE\\MicroSoft\\Windows\\"
                         "CurrentVersion\\Uninstall\\VKO DMI \"DisplayName\" "
                         "REG_SZ 15 bytes \"VKO Halvermont\": status 0"),
            1);
  ASSERT_GE(first.size(), 2u);
  EXPECT_EQ(first[first.size() - 2],
            "exit status 1641: installed, restart requested and accepted");
  EXPECT_EQ(first.back(), "ExitWindowsEx EWX_REBOOT: ok");
  EXPECT_EQ(exits(first), 1);
  EXPECT_NE(second[0].find("file \"" + base_ + log + "\""), std::string::npos)
      << second[0];
  EXPECT_EQ(second[1], "computer \"BETA\"");
  const auto refused =
      std::find_if(second.begin(), second.end(), [](const std::string &l) {
        return l.rfind("RegSetValueExA ", 0) == 0;
      });
  ASSERT_NE(refused, second.end());
  EXPECT_NE(refused->find(": status 1016"), std::string::npos) << *refused;
  EXPECT_EQ(second.back(), "exit status 1603: a failure after Install");
  EXPECT_EQ(exits(second), 1);
}

} // namespace
} // namespace shelltest
