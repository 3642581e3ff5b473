// The rollback after a failed installation: exactly which registry entries
// go, the group deletion sent to Program Manager, and no relaunch entry.
#include "engine/rollback.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "standin/dde.h"
#include "standin/kernel.h"
#include "standin/registry.h"
#include "state/install_state.h"
#include "system/progman_client.h"
#include "text/bounded_text.h"

#include "registry_snapshot.h"

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

// Every entry a complete installation leaves (on Windows NT with the driver
// services, one of them still holding Enum and Security subkeys, as an
// older installation may have left them).
void PutFullInstallation(bool nt) {
  standin::regPutString(kProduct, "path", "D:\\X");
  standin::regPutDword(kProduct, "Security", 3);
  standin::regPutDword(kProduct, "AMA", 0xFFFFFFFF);
  const std::string lm78 = kProduct + "\\LM78";
  standin::regPutDword(lm78, "Chassis Secure", 0);
  standin::regPutValue(lm78, "Fans", REG_BINARY, std::vector<BYTE>(160, 7));
  standin::regPutDword(lm78, "VID", 255);
  standin::regPutValue(lm78, "Temperature", REG_BINARY,
                       std::vector<BYTE>(37, 8));
  standin::regPutValue(lm78, "Voltages", REG_BINARY, std::vector<BYTE>(322, 9));
  standin::regPutString(lm78, "ChipSet", "LM78");
  standin::regPutString(lm78, "MaxSpeed", "7000");
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

class RollbackTest : public ::testing::Test {
protected:
  void SetUp() override {
    standin::resetRegistry();
    standin::resetDde();
    standin::resetKernel();
    standin::setSleepRecordOnly(true);
    g_ddeInstance = 0;
    g_progmanConv = nullptr;
    ASSERT_TRUE(CopyText(g_sourceDir, "E:\\MEDIA"));
    g_installStatus = -1;
    g_platform = 1;
  }
  void TearDown() override {
    standin::resetRegistry();
    standin::resetDde();
    standin::resetKernel();
    g_installStatus = 0;
    g_platform = -1;
    g_sourceDir[0] = '\0';
  }
};

TEST_F(RollbackTest, RemovesExactlyTheSuiteEntriesOfAFullInstallation) {
  for (bool nt : {false, true}) {
    SCOPED_TRACE(nt ? "Windows NT" : "Windows 95");
    standin::resetRegistry();
    standin::resetDde();
    standin::addProgmanGroup("VKO Halvermont");
    g_platform = nt ? 0 : 1;
    PutWindowsKeys();
    PutFullInstallation(true); // on Windows 95 the services stay untouched
    Snapshot expected = enginetest::RegistrySnapshot();
    ASSERT_EQ(expected.count(kProduct + "\\LM78:Fans"), 1u);
    ASSERT_EQ(expected.count(kServices + "\\Riveze\\Security:Level"), 1u);

    RollbackInstall();

    EraseEntry(expected, kProduct + ":AMA");
    EraseEntry(expected, kProduct + ":Security");
    EraseEntry(expected, kProduct + "\\LM78");
    EraseEntry(expected, kProduct + "\\LM75");
    EraseEntry(expected, kRun + ":ZEZOroza");
    EraseEntry(expected, kUninstall + "\\VKO DMI");
    if (nt) {
      EraseEntry(expected, kServices + "\\VEZUDA");
      EraseEntry(expected, kServices + "\\Riveze");
    }
    EXPECT_EQ(enginetest::RegistrySnapshot(), expected);
    // What stays: the product key with its path, the shared keys with the
    // other programs' entries.
    EXPECT_TRUE(standin::regValue(kProduct, "path").has_value());
    EXPECT_TRUE(standin::regValue(kRun, "Other").has_value());
    EXPECT_TRUE(standin::regKeyExists(kUninstall + "\\Other App"));
    EXPECT_EQ(standin::regFlushCount(), 0);

    EXPECT_EQ(standin::ddeCommands(),
              std::vector<std::string>{"[DeleteGroup(VKO Halvermont,1)]"});
    auto transactions = standin::ddeTransactions();
    ASSERT_EQ(transactions.size(), 1u);
    EXPECT_EQ(transactions[0].cbData, 32u);
    EXPECT_EQ(transactions[0].bytes.back(), 0);
    // The user-interface thread waits at most 2 s for the answer.
    EXPECT_EQ(transactions[0].timeout, 2000u);
    EXPECT_EQ(transactions[0].outcome, standin::DdeOutcome::CarriedOut);
    EXPECT_TRUE(standin::progmanGroups().empty());
    EXPECT_EQ(standin::ddeOpenInstanceCount(), 0);
    EXPECT_EQ(g_ddeInstance, 0u);
  }
}

TEST_F(RollbackTest, MachineWithoutAnInstallationIsLeftUnchanged) {
  for (int32_t platform : {1, 0}) {
    SCOPED_TRACE(platform);
    standin::resetRegistry();
    standin::resetDde();
    g_platform = platform;
    PutWindowsKeys();
    const Snapshot before = enginetest::RegistrySnapshot();

    RollbackInstall();

    EXPECT_EQ(enginetest::RegistrySnapshot(), before);
    // The deletion is asked for whether or not the group exists.
    EXPECT_EQ(standin::ddeCommands(),
              std::vector<std::string>{"[DeleteGroup(VKO Halvermont,1)]"});
  }
  // Not even the keys the rollback opens need to exist.
  standin::resetRegistry();
  RollbackInstall();
  EXPECT_EQ(enginetest::RegistrySnapshot(), (Snapshot{{"HKLM", "key"}}));
}

// A failed installation does not arm a relaunch of the setup, whatever the
// status at the time of the call.
TEST_F(RollbackTest, NoRelaunchEntryIsWritten) {
  for (int32_t status : {-1, 0, 1}) {
    SCOPED_TRACE(status);
    standin::resetRegistry();
    PutWindowsKeys();
    PutFullInstallation(false);
    g_installStatus = status;
    RollbackInstall();
    EXPECT_TRUE(standin::regValueNames(kRunOnce).empty());
    EXPECT_EQ(standin::regFlushCount(), 0);
  }
}

TEST_F(RollbackTest, CompletesWithoutProgramManager) {
  standin::setProgmanMode(standin::ProgmanMode::Absent);
  PutWindowsKeys();
  PutFullInstallation(false);
  RollbackInstall();
  EXPECT_FALSE(standin::regKeyExists(kProduct + "\\LM78"));
  EXPECT_EQ(standin::sleepCalls(), (std::vector<DWORD>{500, 100}));
  EXPECT_EQ(standin::ddeUninitializeCalls().size(), 1u);
  EXPECT_EQ(g_ddeInstance, 0u);

  standin::resetDde();
  standin::resetKernel();
  standin::setSleepRecordOnly(true);
  standin::failDdeInitialize(-1);
  RollbackInstall();
  EXPECT_EQ(standin::sleepCalls(), (std::vector<DWORD>{500, 500, 100}));
  EXPECT_EQ(standin::ddeUninitializeCalls().size(), 1u);
}

} // namespace
