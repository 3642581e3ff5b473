// Shared state of the stand-in's user-interface layer. One mutex guards all
// of it; window procedures, dialog procedures, hooks and responders are
// always called with the mutex released.
#ifndef STANDIN_USER_INTERNAL_H
#define STANDIN_USER_INTERNAL_H

#include <windows.h>

#include "standin/user.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace standin {
namespace user {

using Clock = std::chrono::steady_clock;

struct Timer {
  UINT period;
  Clock::time_point due;
  TIMERPROC proc;
};

struct Window {
  HWND handle = nullptr;
  std::thread::id thread;
  DWORD threadNumber = 0;
  bool isDialog = false;
  bool isControl = false;
  UINT templateId = 0;
  int controlId = 0;
  HWND owner = nullptr;  // dialogs: the owner given at creation
  HWND parent = nullptr; // controls: their dialog
  DLGPROC proc = nullptr;
  LONG_PTR user = 0;
  LONG_PTR msgResult = 0;
  LONG_PTR userData = 0;
  bool exists = true;
  bool destroying = false;
  bool visible = false;
  bool enabled = true;
  bool maximised = false;
  bool minimised = false;
  bool topmost = false;
  bool hasClientRect = false;
  RECT client{};
  std::vector<int> showCalls;
  std::vector<SetWindowPosCall> posCalls;
  std::vector<TopmostChange> topmostHistory;
  std::vector<SentMessage> sent;
  std::map<int, UINT> checks;
  std::map<int, HWND> controls;
  HICON bigIcon = nullptr;
  HICON smallIcon = nullptr;
  int defaultPaints = 0;
  std::map<UINT_PTR, Timer> timers;
  bool hasRegion = false;
  RECT region{};
};

// A SendMessageA handed from one thread to the window's owner thread.
struct SentCall {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result = 0;
  bool done = false;
};

struct Queue {
  std::deque<MSG> posted;
  bool quit = false;
  int quitCode = 0;
  std::deque<SentCall *> sent;
};

struct TemplateStyle {
  DWORD style;
  DWORD exStyle;
};

struct State {
  std::mutex mutex;
  std::condition_variable changed; // any queue, window or call changed
  std::map<HWND, Window> windows;  // every window of the run, dead ones too
  std::map<std::thread::id, Queue> queues;
  std::map<std::thread::id, DWORD> threadNumbers;
  std::vector<HWND> dialogsInOrder;

  // settings
  std::map<UINT, std::function<void(HWND)>> initHooks;
  std::function<void()> idleHook;
  MessageBoxResponder responder;
  unsigned blockLimitMs = 20000;
  RECT defaultClient{0, 0, 800, 600};
  std::map<int, int> metrics;
  bool iconMissing = false;
  bool timerFails = false;
  std::map<UINT, bool> creationFails;
  std::map<UINT, TemplateStyle> templateStyles;

  // records
  std::vector<MessageBoxCall> boxes;
  std::vector<PaintCall> paintCalls;
  std::vector<DrawIconCall> drawCalls;

  // Rectangular regions made and not yet given to a window or deleted.
  std::map<HRGN, RECT> regions;
  uintptr_t nextRegion = 1;
};

State &state();
// Resets settings and records to their defaults; the caller holds the lock.
void resetLocked(State &s);

// The caller holds the lock.
Window *findWindow(State &s, HWND hwnd); // live windows only
Queue &queueOf(State &s, std::thread::id thread);
DWORD threadNumber(State &s, std::thread::id thread);
std::string nameLocked(State &s, HWND hwnd);

// Runs the window's procedure (with the lock released) on the calling thread.
LRESULT callWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

} // namespace user
} // namespace standin

#endif
