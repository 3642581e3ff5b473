// The stand-in's message boxes (records, default answers, responder, owner
// state, threads) and its painting, metrics and client rectangles.
#include <gtest/gtest.h>

#include <windows.h>

#include "standin/journal.h"
#include "standin/user.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

INT_PTR CALLBACK Quiet(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG;
}

class UserBoxesPaintTest : public ::testing::Test {
protected:
  void SetUp() override {
    standin::resetUser();
    standin::clearJournal();
    owner =
        CreateDialogParamA(nullptr, MAKEINTRESOURCEA(132), nullptr, Quiet, 0);
  }
  void TearDown() override { standin::resetUser(); }
  HWND owner = nullptr;
};

TEST_F(UserBoxesPaintTest, BoxesWithoutResponderGetTheHarmlessAnswer) {
  EXPECT_EQ(MessageBoxA(owner, "a", "A", MB_OK | MB_TOPMOST), IDOK);
  EXPECT_EQ(MessageBoxA(owner, "b", "B", MB_OKCANCEL), IDOK);
  EXPECT_EQ(MessageBoxA(nullptr, "c", nullptr, MB_YESNO | MB_ICONQUESTION),
            IDNO);
  std::vector<standin::MessageBoxCall> boxes = standin::messageBoxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].owner, owner);
  EXPECT_EQ(boxes[0].text, "a");
  EXPECT_EQ(boxes[0].caption, "A");
  EXPECT_EQ(boxes[0].flags, static_cast<UINT>(MB_OK | MB_TOPMOST));
  EXPECT_EQ(boxes[0].answer, IDOK);
  EXPECT_EQ(boxes[2].owner, nullptr);
  EXPECT_EQ(boxes[2].caption, "Error"); // the system's caption
  EXPECT_EQ(boxes[2].answer, IDNO);
  EXPECT_EQ(standin::journalEntries()[1], "MessageBoxA dlg132 \"A\"");
  EXPECT_EQ(standin::journalEntries()[3], "MessageBoxA NULL \"Error\"");
}

TEST_F(UserBoxesPaintTest, ResponderSeesTheBoxWithItsOwnerDisabled) {
  bool ownerEnabledDuringBox = true;
  standin::setMessageBoxResponder([&](const standin::MessageBoxCall &box) {
    ownerEnabledDuringBox = IsWindowEnabled(box.owner);
    EXPECT_EQ(box.text, "Do you?\nReally?");
    EXPECT_EQ(box.thread, std::this_thread::get_id());
    EXPECT_EQ(box.answer, 0);
    return IDYES;
  });
  EXPECT_EQ(MessageBoxA(owner, "Do you?\nReally?", "Q", MB_YESNO), IDYES);
  EXPECT_FALSE(ownerEnabledDuringBox);
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_EQ(standin::messageBoxes()[0].answer, IDYES);

  // An owner that was disabled before the box stays disabled after it.
  standin::setMessageBoxResponder(nullptr);
  EnableWindow(owner, FALSE);
  MessageBoxA(owner, "x", "X", MB_YESNO);
  EXPECT_FALSE(IsWindowEnabled(owner));
}

TEST_F(UserBoxesPaintTest, WorkerBoxDoesNotBlockTheOwnersThread) {
  std::atomic<bool> release{false};
  standin::setMessageBoxResponder([&](const standin::MessageBoxCall &) {
    while (!release)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return IDOK;
  });
  std::thread worker([&] { MessageBoxA(owner, "w", "W", MB_OK); });
  while (standin::messageBoxes().empty())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // The UI thread keeps receiving its timer while the worker's box is open.
  ASSERT_EQ(SetTimer(owner, 1, 10, nullptr), 1u);
  MSG msg;
  ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
  ASSERT_EQ(standin::messageBoxes().size(), 1u);
  EXPECT_EQ(standin::messageBoxes()[0].thread, worker.get_id());
  EXPECT_EQ(standin::messageBoxes()[0].answer, 0); // still open
  release = true;
  worker.join();
  EXPECT_EQ(standin::messageBoxes()[0].answer, IDOK);
}

TEST_F(UserBoxesPaintTest, PaintingIsRecorded) {
  PAINTSTRUCT ps;
  HDC first = BeginPaint(owner, &ps);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(ps.hdc, first);
  EXPECT_TRUE(DrawIcon(first, 384, 284, standin::iconHandle(128)));
  EXPECT_TRUE(EndPaint(owner, &ps));
  HDC second = BeginPaint(owner, &ps);
  EXPECT_NE(second, first);
  std::vector<standin::PaintCall> paints = standin::paints();
  ASSERT_EQ(paints.size(), 2u);
  EXPECT_TRUE(paints[0].ended);
  EXPECT_FALSE(paints[1].ended);
  std::vector<standin::DrawIconCall> icons = standin::drawnIcons();
  ASSERT_EQ(icons.size(), 1u);
  EXPECT_EQ(icons[0].hdc, first);
  EXPECT_EQ(icons[0].x, 384);
  EXPECT_EQ(icons[0].y, 284);
  EXPECT_EQ(icons[0].icon, standin::iconHandle(128));
}

TEST_F(UserBoxesPaintTest, MetricsAndClientRectangleAreSetByTheTest) {
  EXPECT_EQ(GetSystemMetrics(SM_CXICON), 32);
  EXPECT_EQ(GetSystemMetrics(SM_CYICON), 32);
  standin::setSystemMetric(SM_CXICON, 48);
  EXPECT_EQ(GetSystemMetrics(SM_CXICON), 48);
  RECT r;
  ASSERT_TRUE(GetClientRect(owner, &r));
  EXPECT_EQ(r.right, 800);
  EXPECT_EQ(r.bottom, 600);
  standin::setClientRect(owner, RECT{0, 0, 101, 67});
  ASSERT_TRUE(GetClientRect(owner, &r));
  EXPECT_EQ(r.right, 101);
  EXPECT_EQ(r.bottom, 67);
  standin::setIconic(owner, true);
  EXPECT_TRUE(IsIconic(owner));
  EXPECT_FALSE(GetClientRect(reinterpret_cast<HWND>(0x8), &r));
}

} // namespace
