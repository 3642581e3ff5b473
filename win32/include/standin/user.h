// Test controls of the stand-in's user-interface layer: window state that a
// test can read, outcomes it can set, records of message boxes and painting,
// and hooks that let a test act inside a modal run.
#ifndef STANDIN_USER_H
#define STANDIN_USER_H

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace standin {

// Forgets every window, queue, timer, record, hook and setting of the user
// layer. Handles are never reused, so a handle of an earlier test stays dead.
void resetUser();

struct SetWindowPosCall {
  HWND insertAfter;
  int x, y, cx, cy;
  UINT flags;
};

struct SentMessage {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// The topmost state a window took at a moment of the stand-in's clock
// (nextMoment in standin/journal.h), and the thread that set it: at its
// creation, and at every SetWindowPos that places it with HWND_TOPMOST or
// HWND_NOTOPMOST.
struct TopmostChange {
  uint64_t moment;
  bool topmost;
  std::thread::id thread;
};

// A copy of what the stand-in knows about one window.
struct WindowState {
  bool known = false; // the handle was ever a window of this run
  bool exists = false;
  bool visible = false;
  bool enabled = false;
  bool maximised = false;
  bool minimised = false;
  bool topmost = false;
  bool isDialog = false;
  UINT templateId = 0;
  HWND owner = nullptr;
  std::thread::id thread;
  std::vector<int> showWindowCalls;
  std::vector<SetWindowPosCall> setWindowPosCalls;
  std::vector<TopmostChange> topmostHistory; // in order of the moments
  // Every SendMessageA to the window, in order (WM_SETICON,
  // WM_ICONERASEBKGND, ...).
  std::vector<SentMessage> sentMessages;
  std::map<int, UINT> checkedButtons; // control id -> BST_ state
  HICON bigIcon = nullptr;
  HICON smallIcon = nullptr;
  int defaultPaints = 0; // WM_PAINT left to the default handling
  // The window region from SetWindowRgn: only the part of the window inside
  // it is on the screen. Without one the whole window is.
  bool hasRegion = false;
  RECT region{};
  std::map<UINT_PTR, UINT> timers; // live timers: id -> period
};

WindowState windowState(HWND hwnd);
// Whether the window was topmost at `moment`: the state of its last topmost
// change up to that moment; false before the window existed.
bool topmostAt(HWND hwnd, uint64_t moment);
// The most recently created dialog of a template that still exists, or NULL.
HWND findDialog(UINT templateId);
// The most recently created dialog of a template, alive or not, or NULL.
HWND lastDialog(UINT templateId);
// Name used for a window in the journal: "dlg<template>", "ctl<id>", "NULL",
// or "hwnd?" for an unknown handle.
std::string windowName(HWND hwnd);

// ---- message boxes ----
struct MessageBoxCall {
  HWND owner;
  std::string text;
  std::string caption; // as shown: "Error" when the caller gave none
  UINT flags;
  std::thread::id thread;
  int answer;      // the button returned (0 while the box is open)
  uint64_t moment; // when the box was shown (standin/journal.h)
};
// Answers a box on the thread that shows it. Without a responder: IDOK for
// MB_OK and MB_OKCANCEL, IDNO for MB_YESNO and MB_YESNOCANCEL.
using MessageBoxResponder = std::function<int(const MessageBoxCall &)>;
void setMessageBoxResponder(MessageBoxResponder responder);
std::vector<MessageBoxCall> messageBoxes();

// ---- hooks for acting inside modal runs ----
// Called on the creating thread right after a dialog of the template has
// initialised and been shown (only if it still exists). Null removes it.
void onDialogInitialised(UINT templateId, std::function<void(HWND)> hook);
// Called when a thread's GetMessageA has nothing to deliver and would block;
// at most once per GetMessageA call. Null removes it.
void setIdleHook(std::function<void()> hook);
// Dispatches whatever is pending for the calling thread (sent and posted
// messages, due timers) without waiting; returns the number dispatched.
// WM_QUIT is left in place.
int pumpMessages();
// A GetMessageA or cross-thread SendMessageA that waits longer than this
// without anything to do reports the hang on stderr and aborts the test
// program. Default 20000 ms.
void setBlockLimit(unsigned milliseconds);

// What the system's dialog manager would post for a click, a close request
// and a command such as IDOK from the Enter key.
void click(HWND dialog, int controlId);
void postClose(HWND dialog);
void command(HWND dialog, int commandId);

// ---- outcomes a test sets ----
void setIconic(HWND hwnd, bool minimised);
void setClientRect(HWND hwnd, RECT rect);
void setDefaultClientRect(RECT rect); // default 0, 0, 800, 600
void setSystemMetric(int index, int value);
void setIconMissing(bool missing); // LoadIconA returns NULL
void setTimerFails(bool fails);    // SetTimer returns 0
void setDialogCreationFails(UINT templateId, bool fails);
// Style of the windows made from a template (default WS_POPUP | WS_VISIBLE):
// WS_VISIBLE shows it after WM_INITDIALOG, WS_DISABLED creates it disabled,
// WS_EX_TOPMOST makes it topmost.
void setTemplateStyle(UINT templateId, DWORD style, DWORD exStyle);
// The handle LoadIconA gives for an icon resource id.
HICON iconHandle(UINT resourceId);

// ---- painting records ----
struct PaintCall {
  HWND hwnd;
  HDC hdc;
  bool ended;
};
struct DrawIconCall {
  HDC hdc;
  int x, y;
  HICON icon;
};
std::vector<PaintCall> paints();
std::vector<DrawIconCall> drawnIcons();

} // namespace standin

#endif
