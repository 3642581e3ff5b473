// The rollback after a failed installation: it undoes exactly what this run
// changed (registry and program group) and nothing else, and writes no
// relaunch entry.
#include "engine/rollback.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "import/program_group.h"
#include "standin/dde.h"
#include "standin/faults.h"
#include "standin/kernel.h"
#include "standin/registry.h"
#include "state/install_log.h"
#include "state/install_state.h"
#include "system/progman_client.h"
#include "system/registry_layout.h"
#include "text/bounded_text.h"

#include "registry_snapshot.h"
#include "support/test_files.h"

namespace {

using enginetest::EraseEntry;
using enginetest::Snapshot;

const std::string kProduct = "HKLM\\SOFTWARE\\VKO\\DMI";
const std::string kCurrentVersion =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const std::string kRun = kCurrentVersion + "\\Run";
const std::string kRunOnce = kCurrentVersion + "\\RunOnce";
const std::string kUninstall = kCurrentVersion + "\\Uninstall";
const std::string kServices = "HKLM\\SYSTEM\\CurrentControlSet\\Services";

// A machine as Windows sets it up, with other programs' entries in the keys
// the suite shares.
void PutWindowsKeys() {
  standin::regPutString(kRun, "Other", "C:\\other.exe");
  standin::regPutKey(kRunOnce);
  standin::regPutString(kUninstall + "\\Other App", "DisplayName", "Other App");
  standin::regPutDword(kServices + "\\Disk", "Start", 1);
}

// Every entry a complete installation leaves but its LM78 key (which would
// make the setup refuse to install), with bytes of an earlier version; the
// driver services, one of them still holding Enum and Security subkeys, as
// an older installation may have left them.
void PutFullInstallation(bool nt) {
  standin::regPutString(kProduct, "path", "D:\\X");
  standin::regPutDword(kProduct, "Security", 3);
  standin::regPutDword(kProduct, "AMA", 0xFFFFFFFF);
  standin::regPutValue(kProduct + "\\LM75", "Temperatures", REG_BINARY,
                       std::vector<BYTE>(304, 10));
  standin::regPutString(kRun, "ZEZOroza", "D:\\X\\Zezoroza.exe");
  standin::regPutString(kUninstall + "\\VKO DMI", "DisplayName",
                        "VKO Halvermont");
  standin::regPutString(kUninstall + "\\VKO DMI", "UninstallString",
                        "D:\\X\\Dovrel.exe");
  if (nt) {
    for (const char *service : {"VEZUDA", "Riveze"}) {
      const std::string key = kServices + "\\" + service;
      standin::regPutDword(key, "Type", 1);
      standin::regPutDword(key, "Start", 0);
      standin::regPutDword(key, "ErrorControl", 1);
      standin::regPutString(key, "Group", "Extended base");
    }
    standin::regPutKey(kServices + "\\Riveze\\Enum");
    standin::regPutDword(kServices + "\\Riveze\\Security", "Level", 1);
  }
}

class RollbackTest : public testsupport::TempFolderTest {
protected:
  void SetUp() override {
    standin::resetRegistry();
    standin::resetDde();
    standin::resetKernel();
    standin::resetFaults();
    standin::setSleepRecordOnly(true);
    ASSERT_NO_FATAL_FAILURE(TempFolderTest::SetUp());
    g_ddeInstance = 0;
    g_progmanConv = nullptr;
    g_changeCount = 0;
    ASSERT_TRUE(CopyText(g_sourceDir, "E:\\MEDIA"));
    ASSERT_TRUE(CopyText(g_installDir, "C:\\Program Files\\VKO"));
    g_amaSetting = 1;
    g_installStatus = -1;
    g_platform = 1;
  }
  void TearDown() override {
    LogClose(1603);
    TempFolderTest::TearDown();
    standin::resetRegistry();
    standin::resetDde();
    standin::resetKernel();
    standin::resetFaults();
    g_changeCount = 0;
    g_installStatus = 0;
    g_platform = -1;
    g_sourceDir[0] = '\0';
    g_installDir[0] = '\0';
  }
  // The registry work of a whole installation, and when its last entries
  // are stored (`finishes`), its program group made from a file list with
  // one item, as the install sequence does.
  void Install(bool finishes = true) {
    HKEY software = OpenRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE");
    HKEY vko = CreateRegistryKey(software, "VKO");
    HKEY product = CreateRegistryKey(vko, "DMI");
    for (const char *monitor : {"LM78", "LM75"}) {
      HKEY key = CreateRegistryKey(product, monitor);
      const BYTE data[3] = {1, 2, 3};
      EXPECT_TRUE(SetRegistryValue(key, "Fans", REG_BINARY, data, 3));
      CloseRegistryKey(key);
    }
    CloseRegistryKey(product);
    CloseRegistryKey(vko);
    CloseRegistryKey(software);
    EXPECT_EQ(RegisterProductEntries(), 0);
    EXPECT_EQ(FinishInstallEntries(), finishes ? 0 : 1);
    if (!finishes)
      return;
    const std::string list = base_ + "/setup.log";
    testsupport::StoreFile(list, "#item\nZezoroza.exe = \"Monitor\"\n");
    FILE *stream = std::fopen(list.c_str(), "r");
    ASSERT_NE(stream, nullptr);
    CreateProgramGroup(stream);
    std::fclose(stream);
  }
};

// On a clean machine, after the whole installation, and on one that already
// holds every entry of the suite with bytes of its own (an earlier version's
// driver services with their Enum and Security subkeys, a group with the
// user's shortcuts), after an installation whose last entry cannot be
// stored, a rollback leaves registry and group as they were.
TEST_F(RollbackTest, PutsBackExactlyWhatTheInstallationFound) {
  for (bool earlier : {false, true}) {
    for (int32_t platform : {1, 0}) {
      SCOPED_TRACE(std::string(earlier ? "earlier entries" : "clean") +
                   (platform == 0 ? ", Windows NT" : ", Windows 95"));
      standin::resetRegistry();
      standin::resetDde();
      g_changeCount = 0;
      g_platform = platform;
      PutWindowsKeys();
      if (earlier) {
        PutFullInstallation(true);
        standin::regPutString(kProduct + "\\LM75", "Fans", "mine");
        standin::regPutString(kServices + "\\VEZUDA", "ImagePath", "x.sys");
        standin::addProgmanGroup("VKO Halvermont", {{"C:\\mine.exe", "Mine"}});
        // The last entry: an earlier value too large to keep.
        standin::regPutValue(platform == 0 ? kServices + "\\Riveze" : kProduct,
                             platform == 0 ? "Group" : "AMA", REG_BINARY,
                             std::vector<BYTE>(CHANGE_VALUE_SIZE + 1, 1));
      }
      const Snapshot before = enginetest::RegistrySnapshot();
      const auto groupsBefore = standin::progmanGroups();

      Install(!earlier);
      ASSERT_NE(enginetest::RegistrySnapshot(), before);
      ASSERT_EQ(standin::progmanGroups().size(), 1u);
      RollbackInstall();

      EXPECT_EQ(enginetest::RegistrySnapshot(), before);
      const auto groups = standin::progmanGroups();
      ASSERT_EQ(groups.size(), groupsBefore.size());
      if (earlier) {
        ASSERT_EQ(groups[0].items.size(), 1u);
        EXPECT_EQ(groups[0].items[0].command, "C:\\mine.exe");
        EXPECT_TRUE(standin::ddeCommands().empty());
      } else {
        EXPECT_EQ(standin::ddeCommands().back(),
                  "[DeleteGroup(VKO Halvermont,1)]");
        // The user-interface thread waits at most 2 s for the answer.
        const auto transactions = standin::ddeTransactions();
        EXPECT_EQ(transactions.back().timeout, 2000u);
        EXPECT_EQ(transactions.back().outcome, standin::DdeOutcome::CarriedOut);
      }
      EXPECT_EQ(standin::ddeOpenDataCount(), 0);
      EXPECT_EQ(standin::regOpenHandleCount(), 0);
    }
  }
}

// An earlier value is kept for the rollback up to the record's buffer; one
// byte more and it is the user's: it is not written over, the entry counts
// as not stored, and everything else is still put back.
TEST_F(RollbackTest, AnEarlierValueTooLargeToKeepIsNotWrittenOver) {
  for (size_t size :
       {size_t{CHANGE_VALUE_SIZE}, size_t{CHANGE_VALUE_SIZE + 1}}) {
    SCOPED_TRACE(size);
    standin::resetRegistry();
    g_changeCount = 0;
    PutWindowsKeys();
    standin::regPutValue(kRun, "ZEZOroza", REG_BINARY,
                         std::vector<BYTE>(size, 0xAB));
    standin::regPutKey(kProduct);
    const Snapshot before = enginetest::RegistrySnapshot();

    const bool fits = size == CHANGE_VALUE_SIZE;
    EXPECT_EQ(RegisterProductEntries(), fits ? 0 : 1);
    EXPECT_EQ(standin::regValue(kRun, "ZEZOroza")->type,
              fits ? DWORD{REG_SZ} : DWORD{REG_BINARY});
    RollbackInstall();
    EXPECT_EQ(enginetest::RegistrySnapshot(), before);
  }
}

// A value whose earlier state cannot be read may be the user's: the
// rollback leaves it, and the log names it.
TEST_F(RollbackTest, AValueOfUnknownEarlierStateIsLeftAndLogged) {
  const std::string log = base_ + "/rollback.txt";
  ASSERT_TRUE(LogOpen(log.c_str()));
  PutWindowsKeys();
  HKEY run =
      OpenRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\"
                                          "Windows\\CurrentVersion\\Run");
  standin::setFaultAt(1); // the query of the earlier value
  const BYTE text[] = "new";
  EXPECT_TRUE(SetRegistryValue(run, "ZEZOroza", REG_SZ, text, 4));
  CloseRegistryKey(run);
  ASSERT_EQ(standin::injectedFault()->call, "RegQueryValueExA");
  RollbackInstall();
  LogClose(1603);
  EXPECT_TRUE(standin::regValue(kRun, "ZEZOroza").has_value());
  EXPECT_NE(testsupport::ReadFileOr(log, "").find(
                "rollback: value HKLM\\SOFTWARE\\Microsoft\\Windows\\"
                "CurrentVersion\\Run \"ZEZOroza\": left, its earlier state "
                "unknown"),
            std::string::npos);
}

// A failed installation does not arm a relaunch of the setup, whatever the
// status at the time of the call.
TEST_F(RollbackTest, NoRelaunchEntryIsWritten) {
  for (int32_t status : {-1, 0, 1}) {
    SCOPED_TRACE(status);
    standin::resetRegistry();
    PutWindowsKeys();
    g_changeCount = 0;
    Install();
    g_installStatus = status;
    RollbackInstall();
    EXPECT_TRUE(standin::regValueNames(kRunOnce).empty());
  }
}

// Without Program Manager the rollback of a group this run made still
// completes, after the client's retry waits.
TEST_F(RollbackTest, CompletesWithoutProgramManager) {
  PutWindowsKeys();
  Install();
  standin::setProgmanMode(standin::ProgmanMode::Absent);
  standin::resetKernel();
  standin::setSleepRecordOnly(true);
  RollbackInstall();
  EXPECT_FALSE(standin::regKeyExists(kProduct));
  EXPECT_EQ(standin::sleepCalls(), (std::vector<DWORD>{500, 100}));
  EXPECT_EQ(g_ddeInstance, 0u);
  EXPECT_EQ(standin::ddeOpenInstanceCount(), 0);
}

} // namespace
