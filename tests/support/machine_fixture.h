// A stand-in machine with setup media: every stand-in module reset, a
// temporary folder holding the Windows directory, the media folder of the
// running program and the install directory's files, the program's globals at
// known values, and after each test no worker or sibling program still
// running.
#ifndef TESTS_SUPPORT_MACHINE_FIXTURE_H
#define TESTS_SUPPORT_MACHINE_FIXTURE_H

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include "shell/resource_ids.h"
#include "shell/setup_app.h"
#include "standin/dde.h"
#include "standin/faults.h"
#include "standin/journal.h"
#include "standin/kernel.h"
#include "standin/registry.h"
#include "standin/security.h"
#include "standin/user.h"
#include "state/install_state.h"
#include "support/test_files.h"

namespace testsupport {

class MachineTest : public TempFolderTest {
protected:
  // Windows 95 with the system's own keys, the media in <base>/CD, nothing
  // installed, no hand-off file,
  // Express mode. The platform holds a value the program never stores, so a
  // test sees what the run itself decides.
  void SetUp() override {
    standin::resetUser();
    standin::resetKernel();
    standin::resetRegistry();
    standin::resetDde();
    standin::resetSecurity();
    standin::resetFaults();
    standin::clearJournal();
    standin::setSleepRecordOnly(true);
    standin::setVersion(0xC0000004);
    // The keys that every Windows 95 and NT 4.0 machine has, under which the
    // setup stores its entries (a test of Windows NT adds the services key).
    standin::regPutKey(
        "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
    standin::regPutKey(
        "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall");

    ASSERT_NO_FATAL_FAILURE(TempFolderTest::SetUp());
    windowsDir_ = base_ + "/WINDOWS";
    sourceDir_ = base_ + "/CD";
    // The install directory is an absolute Windows path, as the setup
    // demands; the files under it ("C:\VKO\default.cfg") are files of that
    // name in the temporary folder, the current directory during the test.
    installDir_ = "C:\\VKO";
    ASSERT_NE(getcwd(previousDir_, sizeof(previousDir_)), nullptr);
    ASSERT_EQ(chdir(base_.c_str()), 0);
    standin::setWindowsDirectory(windowsDir_);
    standin::setModuleFileName(sourceDir_ + "\\MERRIK.EXE");

    g_installStatus = 0;
    g_exitCode = 1603;
    g_customMode = 0;
    g_changeCount = 0;
    g_platform = 7;
    theApp.m_pMainWnd = nullptr;
  }

  // Lets a started worker and every program end before the stand-in and the
  // folder go, then puts the globals back to their values at start-up.
  void TearDown() override {
    WaitForWorker();
    EXPECT_TRUE(standin::waitForThreads(10000)) << "a program still runs";
    standin::setMessageBoxResponder(nullptr);
    standin::setIdleHook(nullptr);
    standin::resetUser();
    standin::resetKernel();
    EXPECT_EQ(chdir(previousDir_), 0);
    TempFolderTest::TearDown();
    g_platform = -1;
    g_customMode = 0;
    g_installStatus = 0;
  }

public:
  // The worker's last act is its status store; once a worker has been
  // started, waits for that store so that no worker outlives its test.
  void WaitForWorker() {
    if (JournalCount("CreateThread -> 1") == 0)
      return;
    for (int i = 0; i < 1000 && g_installStatus.load() == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  // The hand-off file exactly as the program names it.
  std::string HandoffPath() const { return windowsDir_ + "\\install.tmp"; }
  // The sibling programs as the program starts them.
  std::string Sondel() const { return sourceDir_ + "\\Utility\\Sondel.exe"; }
  std::string Quillan() const { return sourceDir_ + "\\Utility\\Quillan.exe"; }
  std::string Tessary() const { return installDir_ + "\\Tessary.exe"; }

  HWND Host() const { return standin::lastDialog(IDD_INSTALL); }

  static void ExpectBox(const standin::MessageBoxCall &box, HWND owner,
                        const std::string &text, const std::string &caption,
                        UINT flags) {
    EXPECT_EQ(box.owner, owner);
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, caption);
    EXPECT_EQ(box.flags, flags) << std::hex << box.flags;
  }
  // How many journal entries start with `prefix`.
  static int JournalCount(const std::string &prefix) {
    int n = 0;
    for (const auto &e : standin::journalEntries())
      if (e.compare(0, prefix.size(), prefix) == 0)
        ++n;
    return n;
  }

  std::string windowsDir_, sourceDir_, installDir_;

private:
  char previousDir_[4096] = "";
};

} // namespace testsupport

#endif
