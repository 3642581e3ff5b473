#include <windows.h>

#include "standin/reset.h"

#include <gtest/gtest.h>

namespace {

HDDEDATA CALLBACK noCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR,
                             ULONG_PTR) {
  return nullptr;
}

// A test that leaves every module dirty must not leak into the next one.
TEST(ResetTest, ResetAllPutsEveryModuleBackToItsStart) {
  HKEY k = nullptr;
  RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\VKO", &k);
  RegFlushKey(HKEY_LOCAL_MACHINE);
  standin::regRefuseWrites(true);
  standin::setWindowsDirectory("D:\\W");
  standin::setSleepRecordOnly(true);
  Sleep(10);
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  standin::setTokenOpenFails(true);
  standin::setExitWindowsResult(FALSE);
  DWORD inst = 0;
  DdeInitializeA(&inst, noCallback, 0, 0);
  standin::setProgmanMode(standin::ProgmanMode::Absent);

  standin::resetAll();

  EXPECT_TRUE(standin::journalEntries().empty());
  EXPECT_FALSE(standin::regKeyExists("HKLM\\SOFTWARE"));
  EXPECT_EQ(0, standin::regOpenHandleCount());
  EXPECT_EQ(0, standin::regFlushCount());
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(k)); // old handles are gone
  EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, "X", &k));
  char dir[16];
  EXPECT_EQ(10u, GetWindowsDirectoryA(dir, sizeof dir));
  EXPECT_EQ(0, standin::openKernelHandleCount());
  EXPECT_TRUE(standin::tokenOpenCalls().empty());
  EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
  EXPECT_EQ(0, standin::ddeOpenInstanceCount());
  EXPECT_TRUE(standin::ddeInitCalls().empty());
  inst = 0;
  DdeInitializeA(&inst, noCallback, 0, 0);
  HSZ progman = DdeCreateStringHandleA(inst, "Progman", 0);
  EXPECT_NE(nullptr, DdeConnect(inst, progman, progman, nullptr));
  EXPECT_TRUE(standin::sleepCalls().empty());
}

} // namespace
