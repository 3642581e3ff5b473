// The fault plan: the Nth of the install's platform calls, counted together
// over every module and thread, fails once with its failure result and last
// error; the calls before and after it behave as usual.
#include <windows.h>

#include <ddeml.h>

#include "standin/faults.h"
#include "standin/reset.h"
#include "standin/user.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(FaultPlan, TheNamedCallFailsOnceAndOnlyIt) {
  standin::resetAll();
  standin::setFaultAt(3);
  char dir[64];
  EXPECT_GT(GetWindowsDirectoryA(dir, sizeof dir), 0u); // 1
  HKEY key = nullptr;
  std::thread([&] {
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, "A", &key)); // 2
  }).join();
  const BYTE one = 1;
  EXPECT_EQ(ERROR_REGISTRY_IO_FAILED,
            RegSetValueExA(key, "v", 0, REG_BINARY, &one, 1)); // 3
  EXPECT_EQ(ERROR_SUCCESS,
            RegSetValueExA(key, "v", 0, REG_BINARY, &one, 1)); // 4
  void *block = HeapAlloc(GetProcessHeap(), 0, 8); // 5: none planned now
  EXPECT_NE(nullptr, block);
  EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, block));

  standin::setFaultAt(2);
  EXPECT_EQ(IDOK, MessageBoxA(nullptr, "t", "c", MB_OK)); // 6
  EXPECT_EQ(0, MessageBoxA(nullptr, "t", "c", MB_OK));    // 7
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
  EXPECT_EQ(1u, standin::messageBoxes().size()) << "a failed box is unseen";

  EXPECT_EQ(7u, standin::faultCallCount());
  EXPECT_EQ((std::vector<std::string>{
                "GetWindowsDirectoryA", "RegCreateKeyA", "RegSetValueExA",
                "RegSetValueExA", "HeapAlloc", "MessageBoxA", "MessageBoxA"}),
            standin::faultCallNames());
  auto fired = standin::injectedFault();
  ASSERT_TRUE(fired.has_value());
  EXPECT_EQ(7u, fired->number);
  EXPECT_EQ("MessageBoxA", fired->call);
  standin::resetAll();
  EXPECT_EQ(0u, standin::faultCallCount());
  EXPECT_FALSE(standin::injectedFault().has_value());
}

} // namespace
