// The restart request: an ordinary reboot on both platforms (nothing is
// forced), the shutdown privilege on Windows NT, and every way the request
// can fail.
#include "engine/system_restart.h"

#include <gtest/gtest.h>

#include "standin/kernel.h"
#include "standin/security.h"
#include "state/install_state.h"

namespace {

class RestartTest : public ::testing::Test {
protected:
  void SetUp() override {
    standin::resetSecurity();
    standin::resetKernel();
    g_platform = 0;
  }
  void TearDown() override {
    standin::resetSecurity();
    g_platform = -1;
  }
  void ExpectNoTokenUse() {
    EXPECT_TRUE(standin::tokenOpenCalls().empty());
    EXPECT_TRUE(standin::privilegeLookupCalls().empty());
    EXPECT_TRUE(standin::adjustCalls().empty());
  }
  void ExpectOneRequest(UINT flags) {
    auto requests = standin::exitWindowsCalls();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].flags, flags);
    EXPECT_EQ(requests[0].reason, 0u);
  }
};

TEST_F(RestartTest, Windows95FamilyAsksForAPlainRebootWithoutTokens) {
  for (int32_t platform : {1, -1}) {
    SCOPED_TRACE(platform);
    standin::resetSecurity();
    g_platform = platform;
    EXPECT_EQ(RestartWindows(), 0);
    ExpectOneRequest(2);
    ExpectNoTokenUse();
  }
  standin::resetSecurity();
  standin::setExitWindowsResult(FALSE);
  g_platform = 1;
  EXPECT_EQ(RestartWindows(), 1);
  ExpectOneRequest(2);
}

// Forcing would close other programs without asking them, and their unsaved
// work with them: Windows NT gets the same plain request as Windows 95.
TEST_F(RestartTest,
       WindowsNtEnablesTheShutdownPrivilegeThenAsksForAPlainReboot) {
  EXPECT_EQ(RestartWindows(), 0);

  auto opens = standin::tokenOpenCalls();
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].process, GetCurrentProcess());
  EXPECT_EQ(opens[0].access, 0x28u);
  auto lookups = standin::privilegeLookupCalls();
  ASSERT_EQ(lookups.size(), 1u);
  EXPECT_FALSE(lookups[0].systemName.has_value());
  EXPECT_EQ(lookups[0].name, "SeShutdownPrivilege");
  auto adjusts = standin::adjustCalls();
  ASSERT_EQ(adjusts.size(), 1u);
  EXPECT_TRUE(adjusts[0].validToken);
  EXPECT_EQ(adjusts[0].disableAll, FALSE);
  ASSERT_EQ(adjusts[0].count, 1u);
  ASSERT_EQ(adjusts[0].privileges.size(), 1u);
  EXPECT_EQ(adjusts[0].privileges[0].Luid.LowPart, lookups[0].luid.LowPart);
  EXPECT_EQ(adjusts[0].privileges[0].Luid.HighPart, lookups[0].luid.HighPart);
  EXPECT_EQ(adjusts[0].privileges[0].Attributes, 2u);
  EXPECT_EQ(adjusts[0].bufferLength, 0u);
  EXPECT_FALSE(adjusts[0].previousState);
  EXPECT_FALSE(adjusts[0].returnLength);
  EXPECT_TRUE(standin::shutdownPrivilegeEnabled());
  ExpectOneRequest(2);
  // The token handle does not outlive the call.
  EXPECT_EQ(standin::openKernelHandleCount(), 0);
}

TEST_F(RestartTest, WindowsNtFailures) {
  // The account lacks the privilege: the call succeeds, the last error says
  // otherwise, and no request is made.
  standin::setPrivilegeOutcome(standin::PrivilegeOutcome::NotHeld);
  EXPECT_EQ(RestartWindows(), 1);
  EXPECT_EQ(standin::adjustCalls().size(), 1u);
  EXPECT_TRUE(standin::exitWindowsCalls().empty());
  EXPECT_EQ(standin::openKernelHandleCount(), 0);

  standin::resetSecurity();
  standin::setPrivilegeOutcome(standin::PrivilegeOutcome::Fails);
  EXPECT_EQ(RestartWindows(), 1);
  EXPECT_TRUE(standin::exitWindowsCalls().empty());
  EXPECT_EQ(standin::openKernelHandleCount(), 0);

  // The request itself is refused.
  standin::resetSecurity();
  standin::setExitWindowsResult(FALSE);
  EXPECT_EQ(RestartWindows(), 1);
  ExpectOneRequest(2);
  EXPECT_EQ(standin::openKernelHandleCount(), 0);

  // No token: nothing else is tried.
  standin::resetSecurity();
  standin::setTokenOpenFails(true);
  EXPECT_EQ(RestartWindows(), 1);
  EXPECT_EQ(standin::tokenOpenCalls().size(), 1u);
  EXPECT_TRUE(standin::privilegeLookupCalls().empty());
  EXPECT_TRUE(standin::adjustCalls().empty());
  EXPECT_TRUE(standin::exitWindowsCalls().empty());
  EXPECT_EQ(standin::openKernelHandleCount(), 0);
}

} // namespace
