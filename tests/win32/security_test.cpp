#include <windows.h>

#include "standin/journal.h"
#include "standin/kernel.h"
#include "standin/security.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class SecurityTest : public ::testing::Test {
protected:
  void SetUp() override {
    standin::resetKernel();
    standin::resetSecurity();
    standin::clearJournal();
  }

  // The sequence the setup uses before asking for a restart on NT.
  BOOL enableShutdown(HANDLE *token) {
    if (!OpenProcessToken(GetCurrentProcess(),
                          TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token))
      return FALSE;
    TOKEN_PRIVILEGES tp;
    std::memset(&tp, 0, sizeof tp);
    LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &tp.Privileges[0].Luid);
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    return AdjustTokenPrivileges(*token, FALSE, &tp, 0, nullptr, nullptr);
  }
};

TEST_F(SecurityTest, HeldPrivilegeClearsTheLastErrorAndIsRecorded) {
  HANDLE token = nullptr;
  SetLastError(1234);
  ASSERT_TRUE(enableShutdown(&token));
  EXPECT_EQ(0u, GetLastError());
  EXPECT_TRUE(standin::shutdownPrivilegeEnabled());
  EXPECT_TRUE(standin::isKernelObject(token, standin::KernelObjectKind::Token));
  EXPECT_EQ(1, standin::openKernelHandleCount());
  EXPECT_TRUE(CloseHandle(token));
  EXPECT_EQ(0, standin::openKernelHandleCount());

  auto opens = standin::tokenOpenCalls();
  ASSERT_EQ(1u, opens.size());
  EXPECT_EQ(static_cast<DWORD>(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY),
            opens[0].access);
  auto lookups = standin::privilegeLookupCalls();
  ASSERT_EQ(1u, lookups.size());
  EXPECT_FALSE(lookups[0].systemName);
  EXPECT_EQ("SeShutdownPrivilege", *lookups[0].name);
  auto adjusts = standin::adjustCalls();
  ASSERT_EQ(1u, adjusts.size());
  EXPECT_EQ(1u, adjusts[0].count);
  ASSERT_EQ(1u, adjusts[0].privileges.size());
  EXPECT_EQ(lookups[0].luid.LowPart, adjusts[0].privileges[0].Luid.LowPart);
  EXPECT_EQ(static_cast<DWORD>(SE_PRIVILEGE_ENABLED),
            adjusts[0].privileges[0].Attributes);
  EXPECT_EQ((std::vector<std::string>{
                "OpenProcessToken access=0x00000028 -> 1",
                "LookupPrivilegeValueA (null) \"SeShutdownPrivilege\" -> 1",
                "AdjustTokenPrivileges disableAll=0 count=1 "
                "attributes=0x00000002 -> 1 error=0",
                "CloseHandle token -> 1"}),
            standin::journalEntries());
}

TEST_F(SecurityTest, PrivilegeNotHeldStillReturnsTrueWithNotAllAssigned) {
  standin::setPrivilegeOutcome(standin::PrivilegeOutcome::NotHeld);
  HANDLE token = nullptr;
  EXPECT_TRUE(enableShutdown(&token));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED), GetLastError());
  EXPECT_FALSE(standin::shutdownPrivilegeEnabled());

  standin::setPrivilegeOutcome(standin::PrivilegeOutcome::Fails);
  EXPECT_FALSE(enableShutdown(&token));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ(2, standin::openKernelHandleCount()); // neither token closed
}

TEST_F(SecurityTest, TokenThatCannotBeOpenedGivesNoHandle) {
  standin::setTokenOpenFails(true);
  HANDLE token = reinterpret_cast<HANDLE>(0x55);
  EXPECT_FALSE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  EXPECT_EQ(nullptr, token);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ(0, standin::openKernelHandleCount());

  // Adjusting through something that is not a token fails.
  TOKEN_PRIVILEGES tp = {};
  EXPECT_FALSE(AdjustTokenPrivileges(nullptr, FALSE, &tp, 0, nullptr, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  LUID luid;
  EXPECT_FALSE(LookupPrivilegeValueA(nullptr, "SeNoSuchPrivilege", &luid));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_SUCH_PRIVILEGE), GetLastError());
}

TEST_F(SecurityTest, ExitWindowsExRecordsItsFlagsAndAnswersAsTold) {
  EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
  standin::setExitWindowsResult(FALSE, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  auto calls = standin::exitWindowsCalls();
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ(static_cast<UINT>(EWX_REBOOT), calls[0].flags);
  EXPECT_EQ(static_cast<UINT>(EWX_REBOOT | EWX_FORCE), calls[1].flags);
  EXPECT_EQ("ExitWindowsEx flags=0x00000006 reason=0x00000000 -> 0",
            standin::journalEntries().back());
}

} // namespace
