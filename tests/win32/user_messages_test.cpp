// The stand-in's message queues: posted and sent messages across threads,
// the quit request, timers, and the hooks that let a test act while a thread
// waits for messages.
#include <gtest/gtest.h>

#include <windows.h>

#include "standin/journal.h"
#include "standin/user.h"

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Seen {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  std::thread::id thread;
};

std::mutex seenMutex;
std::vector<Seen> seen;

std::vector<Seen> Messages(UINT message) {
  std::lock_guard<std::mutex> lock(seenMutex);
  std::vector<Seen> out;
  for (const Seen &s : seen)
    if (s.message == message)
      out.push_back(s);
  return out;
}

// Records what it gets; WM_USER answers wParam + 1.
INT_PTR CALLBACK RecordingProc(HWND, UINT message, WPARAM wParam,
                               LPARAM lParam) {
  {
    std::lock_guard<std::mutex> lock(seenMutex);
    seen.push_back(Seen{message, wParam, lParam, std::this_thread::get_id()});
  }
  if (message == WM_USER) {
    return TRUE; // the result is read from DWLP_MSGRESULT
  }
  return FALSE;
}

INT_PTR CALLBACK AnsweringProc(HWND hwnd, UINT message, WPARAM wParam,
                               LPARAM lParam) {
  RecordingProc(hwnd, message, wParam, lParam);
  if (message == WM_USER) {
    SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, static_cast<LONG_PTR>(wParam + 1));
    return TRUE;
  }
  return FALSE;
}

class UserMessagesTest : public ::testing::Test {
protected:
  void SetUp() override {
    standin::resetUser();
    standin::clearJournal();
    std::lock_guard<std::mutex> lock(seenMutex);
    seen.clear();
  }
  void TearDown() override { standin::resetUser(); }
  static HWND Dialog(UINT id, DLGPROC proc = RecordingProc,
                     HWND owner = nullptr) {
    return CreateDialogParamA(nullptr, MAKEINTRESOURCEA(id), owner, proc, 0);
  }
};

TEST_F(UserMessagesTest, PostedMessagesComeInOrderAndTheQuitRequestLast) {
  HWND h = Dialog(100);
  PostQuitMessage(7);
  PostMessageA(h, WM_USER + 1, 1, 0);
  PostMessageA(h, WM_USER + 2, 2, 0);
  MSG msg;
  ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
  EXPECT_EQ(msg.message, WM_USER + 1u);
  EXPECT_EQ(msg.hwnd, h);
  ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
  EXPECT_EQ(msg.message, WM_USER + 2u);
  EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 7u);
  EXPECT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), FALSE);
}

TEST_F(UserMessagesTest, PostingToAWindowOfAnotherThreadQueuesItThere) {
  HWND h = Dialog(100);
  std::thread other([h] { EXPECT_TRUE(PostMessageA(h, WM_USER, 5, 6)); });
  other.join();
  MSG msg;
  ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));
  DispatchMessageA(&msg);
  ASSERT_EQ(Messages(WM_USER).size(), 1u);
  EXPECT_EQ(Messages(WM_USER)[0].thread, std::this_thread::get_id());
  EXPECT_EQ(Messages(WM_USER)[0].lParam, 6);
  EXPECT_FALSE(PostMessageA(reinterpret_cast<HWND>(0x4), WM_USER, 0, 0));
}

TEST_F(UserMessagesTest, SendFromAnotherThreadRunsOnTheOwnerWhileItPumps) {
  HWND h = Dialog(100, AnsweringProc);
  std::atomic<bool> returned{false};
  std::future<LRESULT> result = std::async(std::launch::async, [&] {
    LRESULT r = SendMessageA(h, WM_USER, 41, 0);
    returned = true;
    return r;
  });
  // Not handled until the owner thread looks at its queue.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(returned);
  EXPECT_TRUE(Messages(WM_USER).empty());
  MSG msg;
  while (!returned)
    PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
  EXPECT_EQ(result.get(), 42);
  ASSERT_EQ(Messages(WM_USER).size(), 1u);
  EXPECT_EQ(Messages(WM_USER)[0].thread, std::this_thread::get_id());
  // On the owner's own thread the procedure runs at once.
  EXPECT_EQ(SendMessageA(h, WM_USER, 9, 0), 10);
}

TEST_F(UserMessagesTest, ThreadsSendingToEachOtherDoNotDeadlock) {
  HWND mine = Dialog(100, AnsweringProc);
  std::promise<HWND> theirs;
  std::atomic<bool> done{false};
  std::thread other([&] {
    HWND h = Dialog(101, AnsweringProc);
    theirs.set_value(h);
    // Waits for the main thread, which meanwhile sends to this one.
    EXPECT_EQ(SendMessageA(mine, WM_USER, 1, 0), 2);
    while (!done)
      standin::pumpMessages();
    DestroyWindow(h);
  });
  HWND h = theirs.get_future().get();
  EXPECT_EQ(SendMessageA(h, WM_USER, 100, 0), 101);
  MSG msg;
  while (Messages(WM_USER).size() < 2)
    PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
  done = true;
  other.join();
}

TEST_F(UserMessagesTest, TimerPostsItsIdentifierUntilKilled) {
  HWND h = Dialog(100);
  EXPECT_EQ(SetTimer(h, 5, 10, nullptr), 5u);
  EXPECT_EQ(standin::windowState(h).timers.at(5), 10u);
  MSG msg;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(msg.wParam, 5u);
    DispatchMessageA(&msg);
  }
  EXPECT_EQ(Messages(WM_TIMER).size(), 3u);
  EXPECT_TRUE(KillTimer(h, 5));
  EXPECT_FALSE(KillTimer(h, 5));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), FALSE);
  EXPECT_EQ(standin::journalEntries(),
            (std::vector<std::string>{
                "CreateDialogParamA dlg100", "SetTimer dlg100 5 10",
                "KillTimer dlg100 5", "KillTimer dlg100 5"}));
}

TEST_F(UserMessagesTest, TimerCanBeMadeToFailAndDiesWithItsWindow) {
  HWND h = Dialog(100);
  standin::setTimerFails(true);
  EXPECT_EQ(SetTimer(h, 1, 10, nullptr), 0u);
  EXPECT_TRUE(standin::windowState(h).timers.empty());
  standin::setTimerFails(false);
  ASSERT_EQ(SetTimer(h, 1, 10, nullptr), 1u);
  DestroyWindow(h);
  EXPECT_TRUE(standin::windowState(h).timers.empty());
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  MSG msg;
  EXPECT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), FALSE);
}

TEST_F(UserMessagesTest, IdleHookRunsOnceWhenTheThreadWouldBlock) {
  HWND h = Dialog(100);
  int calls = 0;
  standin::setIdleHook([&] {
    ++calls;
    EXPECT_TRUE(PostMessageA(h, WM_USER + 3, 0, 0));
  });
  PostMessageA(h, WM_USER + 1, 0, 0);
  MSG msg;
  ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
  EXPECT_EQ(msg.message, WM_USER + 1u);
  EXPECT_EQ(calls, 0); // something was waiting
  ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
  EXPECT_EQ(msg.message, WM_USER + 3u);
  EXPECT_EQ(calls, 1);
}

TEST_F(UserMessagesTest, PumpDispatchesWhatIsPendingAndLeavesTheQuit) {
  HWND h = Dialog(100);
  PostMessageA(h, WM_USER + 1, 0, 0);
  PostQuitMessage(3);
  PostMessageA(h, WM_USER + 2, 0, 0);
  EXPECT_EQ(standin::pumpMessages(), 2);
  EXPECT_EQ(Messages(WM_USER + 1).size(), 1u);
  EXPECT_EQ(Messages(WM_USER + 2).size(), 1u);
  MSG msg;
  EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
  EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(UserMessagesTest, DestroyedWindowLosesItsPostedMessages) {
  HWND h = Dialog(100);
  PostMessageA(h, WM_USER, 0, 0);
  EXPECT_TRUE(DestroyWindow(h));
  MSG msg;
  EXPECT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), FALSE);
  EXPECT_FALSE(DestroyWindow(h));
  EXPECT_FALSE(IsWindow(h));
}

TEST(UserMessagesDeathTest, WaitingForeverIsReportedInsteadOfHanging) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        standin::resetUser();
        standin::setBlockLimit(100);
        MSG msg;
        GetMessageA(&msg, nullptr, 0, 0);
      },
      "GetMessageA waited 100 ms");
}

} // namespace
