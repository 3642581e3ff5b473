// The stand-in's windows, message queues, timers and dialogs.
//
// Every thread that touches the user layer has a queue. A window belongs to
// the thread that created it: posted messages and timers of the window are
// delivered by that thread's GetMessageA, and a SendMessageA from another
// thread waits until that thread handles it inside GetMessageA, PeekMessageA
// or a SendMessageA of its own.
#include "user_internal.h"

#include "standin/dde.h"
#include "standin/faults.h"
#include "standin/journal.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace standin {
namespace user {

// Never destroyed: framework objects with static storage may still ask
// about their windows while the program exits.
State &state() {
  static State *s = [] {
    State *created = new State;
    resetLocked(*created);
    return created;
  }();
  return *s;
}

namespace {

ULONG_PTR nextHandleValue = 0x10010;

HWND newHandle() {
  HWND h = reinterpret_cast<HWND>(nextHandleValue);
  nextHandleValue += 4;
  return h;
}

DWORD tickNow() {
  return static_cast<DWORD>(
      std::chrono::duration_cast<std::chrono::milliseconds>(
          Clock::now().time_since_epoch())
          .count());
}

[[noreturn]] void reportHang(const char *where, unsigned limitMs) {
  std::fprintf(stderr,
               "stand-in: %s waited %u ms with nothing to deliver; the test "
               "would hang\n",
               where, limitMs);
  std::fflush(stderr);
  std::abort();
}

// Runs one SendMessageA that another thread handed to the calling thread.
bool processOneSent(State &s, std::unique_lock<std::mutex> &lk) {
  Queue &q = queueOf(s, std::this_thread::get_id());
  if (q.sent.empty())
    return false;
  SentCall *call = q.sent.front();
  q.sent.pop_front();
  lk.unlock();
  LRESULT result =
      callWindowProc(call->hwnd, call->message, call->wParam, call->lParam);
  lk.lock();
  call->result = result;
  call->done = true;
  s.changed.notify_all();
  return true;
}

bool matches(const MSG &msg, HWND filter, UINT minMsg, UINT maxMsg) {
  if (filter && msg.hwnd != filter)
    return false;
  if (minMsg || maxMsg)
    return msg.message >= minMsg && msg.message <= maxMsg;
  return true;
}

// Takes the next deliverable message of the calling thread: posted messages
// first, then the quit request, then the earliest due timer.
bool retrieve(State &s, MSG *out, HWND filter, UINT minMsg, UINT maxMsg,
              bool remove, bool includeQuit) {
  std::thread::id me = std::this_thread::get_id();
  Queue &q = queueOf(s, me);
  for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
    if (matches(*it, filter, minMsg, maxMsg)) {
      *out = *it;
      if (remove)
        q.posted.erase(it);
      return true;
    }
  }
  if (includeQuit && q.quit && !filter) {
    *out = MSG{};
    out->message = WM_QUIT;
    out->wParam = static_cast<WPARAM>(q.quitCode);
    out->time = tickNow();
    if (remove)
      q.quit = false;
    return true;
  }
  Clock::time_point now = Clock::now();
  Window *best = nullptr;
  UINT_PTR bestId = 0;
  for (auto &entry : s.windows) {
    Window &w = entry.second;
    if (!w.exists || w.thread != me || w.timers.empty())
      continue;
    for (auto &t : w.timers) {
      MSG probe{};
      probe.hwnd = w.handle;
      probe.message = WM_TIMER;
      if (t.second.due > now || !matches(probe, filter, minMsg, maxMsg))
        continue;
      if (!best || t.second.due < best->timers[bestId].due) {
        best = &w;
        bestId = t.first;
      }
    }
  }
  if (!best)
    return false;
  Timer &t = best->timers[bestId];
  *out = MSG{};
  out->hwnd = best->handle;
  out->message = WM_TIMER;
  out->wParam = bestId;
  out->lParam = reinterpret_cast<LPARAM>(t.proc);
  out->time = tickNow();
  if (remove)
    t.due = now + std::chrono::milliseconds(t.period);
  return true;
}

std::optional<Clock::time_point> nextTimerDue(State &s) {
  std::thread::id me = std::this_thread::get_id();
  std::optional<Clock::time_point> due;
  for (auto &entry : s.windows) {
    const Window &w = entry.second;
    if (!w.exists || w.thread != me)
      continue;
    for (auto &t : w.timers)
      if (!due || t.second.due < *due)
        due = t.second.due;
  }
  return due;
}

Window &createWindow(State &s) {
  HWND h = newHandle();
  Window &w = s.windows[h];
  w.handle = h;
  w.thread = std::this_thread::get_id();
  w.threadNumber = threadNumber(s, w.thread);
  return w;
}

HWND controlOf(State &s, Window &dialog, int id) {
  auto it = dialog.controls.find(id);
  if (it != dialog.controls.end())
    return it->second;
  HWND dialogHandle = dialog.handle;
  std::thread::id owner = dialog.thread;
  bool visible = dialog.visible;
  Window &c = createWindow(s); // may not invalidate `dialog` (map nodes)
  c.thread = owner;
  c.threadNumber = threadNumber(s, owner);
  c.isControl = true;
  c.controlId = id;
  c.parent = dialogHandle;
  c.visible = visible;
  dialog.controls[id] = c.handle;
  return c.handle;
}

std::string insertAfterName(State &s, HWND after) {
  if (after == HWND_TOPMOST)
    return "HWND_TOPMOST";
  if (after == HWND_NOTOPMOST)
    return "HWND_NOTOPMOST";
  if (after == HWND_TOP)
    return "HWND_TOP";
  if (after == HWND_BOTTOM)
    return "HWND_BOTTOM";
  return nameLocked(s, after);
}

LRESULT controlProc(HWND hwnd, UINT message, WPARAM wParam) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Window *c = findWindow(s, hwnd);
  if (!c)
    return 0;
  Window *dialog = findWindow(s, c->parent);
  if (!dialog)
    return 0;
  if (message == BM_SETCHECK)
    dialog->checks[c->controlId] = static_cast<UINT>(wParam);
  else if (message == BM_GETCHECK)
    return dialog->checks[c->controlId];
  return 0;
}

// A dialog window's procedure: the dialog procedure first, then the
// system's default handling of what it leaves (it returned FALSE).
LRESULT dialogWindowProc(HWND hwnd, DLGPROC proc, UINT message, WPARAM wParam,
                         LPARAM lParam) {
  INT_PTR handled = proc ? proc(hwnd, message, wParam, lParam) : FALSE;
  State &s = state();
  std::unique_lock<std::mutex> lk(s.mutex);
  Window *w = findWindow(s, hwnd);
  if (handled) {
    // These messages take the dialog procedure's return value itself;
    // the others the value it stored at DWLP_MSGRESULT.
    if (message == WM_INITDIALOG || message == WM_QUERYDRAGICON)
      return handled;
    return w ? w->msgResult : 0;
  }
  if (!w)
    return 0;
  switch (message) {
  case WM_CLOSE:
    lk.unlock();
    PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return 0;
  case WM_PAINT:
    ++w->defaultPaints;
    return 0;
  case WM_SETICON: {
    HICON icon = reinterpret_cast<HICON>(lParam);
    HICON old = wParam == ICON_BIG ? w->bigIcon : w->smallIcon;
    (wParam == ICON_BIG ? w->bigIcon : w->smallIcon) = icon;
    return reinterpret_cast<LRESULT>(old);
  }
  default:
    return 0;
  }
}

} // namespace

Window *findWindow(State &s, HWND hwnd) {
  auto it = s.windows.find(hwnd);
  if (it == s.windows.end() || !it->second.exists)
    return nullptr;
  return &it->second;
}

Queue &queueOf(State &s, std::thread::id thread) { return s.queues[thread]; }

DWORD threadNumber(State &s, std::thread::id thread) {
  auto it = s.threadNumbers.find(thread);
  if (it != s.threadNumbers.end())
    return it->second;
  DWORD number = 0x100 + static_cast<DWORD>(s.threadNumbers.size()) * 4;
  s.threadNumbers[thread] = number;
  return number;
}

std::string nameLocked(State &s, HWND hwnd) {
  if (!hwnd)
    return "NULL";
  auto it = s.windows.find(hwnd);
  if (it == s.windows.end())
    return "hwnd?";
  if (it->second.isControl)
    return "ctl" + std::to_string(it->second.controlId);
  return "dlg" + std::to_string(it->second.templateId);
}

LRESULT callWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  State &s = state();
  DLGPROC proc;
  bool isControl;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    Window *w = findWindow(s, hwnd);
    if (!w)
      return 0;
    proc = w->proc;
    isControl = w->isControl;
  }
  if (isControl)
    return controlProc(hwnd, message, wParam);
  return dialogWindowProc(hwnd, proc, message, wParam, lParam);
}

} // namespace user

using namespace user;

int pumpMessages() {
  State &s = state();
  std::unique_lock<std::mutex> lk(s.mutex);
  int count = 0;
  for (;;) {
    if (processOneSent(s, lk)) {
      ++count;
      continue;
    }
    MSG msg;
    if (!retrieve(s, &msg, nullptr, 0, 0, true, false))
      return count;
    lk.unlock();
    DispatchMessageA(&msg);
    lk.lock();
    ++count;
  }
}

} // namespace standin

using namespace standin;
using namespace standin::user;

// ---- messages ----

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  State &s = state();
  std::unique_lock<std::mutex> lk(s.mutex);
  Window *w = findWindow(s, hWnd);
  if (!w)
    return 0;
  w->sent.push_back(SentMessage{Msg, wParam, lParam});
  if (w->thread == std::this_thread::get_id()) {
    lk.unlock();
    return callWindowProc(hWnd, Msg, wParam, lParam);
  }
  SentCall call{hWnd, Msg, wParam, lParam};
  queueOf(s, w->thread).sent.push_back(&call);
  s.changed.notify_all();
  Clock::time_point idleSince = Clock::now();
  while (!call.done) {
    if (processOneSent(s, lk)) {
      idleSince = Clock::now();
      continue;
    }
    s.changed.wait_for(lk, std::chrono::milliseconds(50));
    if (!call.done &&
        Clock::now() - idleSince > std::chrono::milliseconds(s.blockLimitMs))
      reportHang("SendMessageA to another thread", s.blockLimitMs);
  }
  return call.result;
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::thread::id target = std::this_thread::get_id();
  if (hWnd) {
    Window *w = findWindow(s, hWnd);
    if (!w)
      return FALSE;
    target = w->thread;
  }
  MSG msg{};
  msg.hwnd = hWnd;
  msg.message = Msg;
  msg.wParam = wParam;
  msg.lParam = lParam;
  msg.time = tickNow();
  queueOf(s, target).posted.push_back(msg);
  s.changed.notify_all();
  return TRUE;
}

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin,
                        UINT wMsgFilterMax) {
  // A message wait is where the DDE library's acknowledgements come in.
  standin::ddeClientThreadWaits();
  State &s = state();
  std::unique_lock<std::mutex> lk(s.mutex);
  if (!lpMsg || (hWnd && !findWindow(s, hWnd)))
    return -1;
  bool idleCalled = false;
  Clock::time_point waitStart = Clock::now();
  for (;;) {
    if (processOneSent(s, lk)) {
      waitStart = Clock::now();
      continue;
    }
    if (retrieve(s, lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true, true))
      return lpMsg->message == WM_QUIT ? FALSE : TRUE;
    if (s.idleHook && !idleCalled) {
      idleCalled = true;
      std::function<void()> hook = s.idleHook;
      lk.unlock();
      hook();
      lk.lock();
      waitStart = Clock::now();
      continue;
    }
    Clock::time_point limitAt =
        waitStart + std::chrono::milliseconds(s.blockLimitMs);
    std::optional<Clock::time_point> due = nextTimerDue(s);
    if (due) {
      s.changed.wait_until(lk, *due < limitAt ? *due : limitAt);
    } else {
      s.changed.wait_until(lk, limitAt);
    }
    if (Clock::now() >= limitAt) {
      MSG probe;
      if (!retrieve(s, &probe, hWnd, wMsgFilterMin, wMsgFilterMax, false,
                    true) &&
          queueOf(s, std::this_thread::get_id()).sent.empty())
        reportHang("GetMessageA", s.blockLimitMs);
    }
  }
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin,
                         UINT wMsgFilterMax, UINT wRemoveMsg) {
  standin::ddeClientThreadWaits();
  State &s = state();
  std::unique_lock<std::mutex> lk(s.mutex);
  if (!lpMsg)
    return FALSE;
  while (processOneSent(s, lk)) {
  }
  return retrieve(s, lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax,
                  (wRemoveMsg & PM_REMOVE) != 0, true)
             ? TRUE
             : FALSE;
}

BOOL WINAPI TranslateMessage(const MSG *) { return FALSE; }

LRESULT WINAPI DispatchMessageA(const MSG *lpMsg) {
  if (!lpMsg || !lpMsg->hwnd)
    return 0;
  if (lpMsg->message == WM_TIMER && lpMsg->lParam) {
    TIMERPROC proc = reinterpret_cast<TIMERPROC>(lpMsg->lParam);
    proc(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, tickNow());
    return 0;
  }
  {
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    Window *w = findWindow(s, lpMsg->hwnd);
    if (!w || w->thread != std::this_thread::get_id())
      return 0;
  }
  return callWindowProc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam,
                        lpMsg->lParam);
}

// The dialog manager's keyboard handling is not modelled: tests post the
// commands it would send.
BOOL WINAPI IsDialogMessageA(HWND, LPMSG) { return FALSE; }

void WINAPI PostQuitMessage(int nExitCode) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Queue &q = queueOf(s, std::this_thread::get_id());
  q.quit = true;
  q.quitCode = nExitCode;
  journal("PostQuitMessage " + std::to_string(nExitCode));
  s.changed.notify_all();
}

// ---- dialogs and windows ----

HWND WINAPI CreateDialogParamA(HINSTANCE, LPCSTR lpTemplateName,
                               HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam) {
  State &s = state();
  UINT id = IS_INTRESOURCE(lpTemplateName) ? LOWORD(lpTemplateName) : 0;
  DWORD style = WS_POPUP | WS_VISIBLE;
  HWND hwnd;
  if (faultHere("CreateDialogParamA")) {
    journal("CreateDialogParamA dlg" + std::to_string(id) + " failed");
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.creationFails[id]) {
      journal("CreateDialogParamA dlg" + std::to_string(id) + " failed");
      return nullptr;
    }
    DWORD exStyle = 0;
    auto ts = s.templateStyles.find(id);
    if (ts != s.templateStyles.end()) {
      style = ts->second.style;
      exStyle = ts->second.exStyle;
    }
    Window &w = createWindow(s);
    w.isDialog = true;
    w.templateId = id;
    w.owner = hWndParent;
    w.proc = lpDialogFunc;
    w.enabled = (style & WS_DISABLED) == 0;
    w.topmost = (exStyle & WS_EX_TOPMOST) != 0;
    w.topmostHistory.push_back(
        TopmostChange{nextMoment(), w.topmost, std::this_thread::get_id()});
    hwnd = w.handle;
    s.dialogsInOrder.push_back(hwnd);
    journal("CreateDialogParamA " + nameLocked(s, hwnd));
  }
  callWindowProc(hwnd, WM_INITDIALOG, 0, dwInitParam);
  std::function<void(HWND)> hook;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    Window *w = findWindow(s, hwnd);
    if (!w)
      return hwnd; // destroyed during its initialisation
    // A template with WS_VISIBLE is shown once initialisation is done,
    // unless the initialisation has shown it already.
    if ((style & WS_VISIBLE) && !w->visible)
      w->visible = true;
    auto it = s.initHooks.find(id);
    if (it != s.initHooks.end())
      hook = it->second;
  }
  if (hook)
    hook(hwnd);
  return hwnd;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
  State &s = state();
  std::vector<HWND> owned;
  std::vector<HWND> controls;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    Window *w = findWindow(s, hWnd);
    if (!w || w->destroying || w->thread != std::this_thread::get_id())
      return FALSE;
    w->destroying = true;
    for (auto &entry : s.windows)
      if (entry.second.exists && entry.second.owner == hWnd &&
          !entry.second.destroying)
        owned.push_back(entry.first);
    for (auto &c : w->controls)
      controls.push_back(c.second);
    journal("DestroyWindow " + nameLocked(s, hWnd));
  }
  // Owned windows go first, as on the system.
  for (HWND o : owned)
    DestroyWindow(o);
  callWindowProc(hWnd, WM_DESTROY, 0, 0);
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    for (HWND c : controls) {
      Window *cw = findWindow(s, c);
      if (cw)
        cw->exists = false;
    }
  }
  callWindowProc(hWnd, WM_NCDESTROY, 0, 0);
  std::lock_guard<std::mutex> lock(s.mutex);
  Window &w = s.windows[hWnd];
  w.exists = false;
  w.timers.clear();
  Queue &q = queueOf(s, w.thread);
  for (auto it = q.posted.begin(); it != q.posted.end();) {
    bool mine = it->hwnd == hWnd;
    for (HWND c : controls)
      mine = mine || it->hwnd == c;
    it = mine ? q.posted.erase(it) : it + 1;
  }
  s.changed.notify_all();
  return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return findWindow(s, hWnd) ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND hWnd) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Window *w = findWindow(s, hWnd);
  if (!w || !w->visible)
    return FALSE;
  if (w->isControl) {
    Window *parent = findWindow(s, w->parent);
    return parent && parent->visible ? TRUE : FALSE;
  }
  return TRUE;
}

BOOL WINAPI IsIconic(HWND hWnd) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Window *w = findWindow(s, hWnd);
  return w && w->minimised ? TRUE : FALSE;
}

BOOL WINAPI IsZoomed(HWND hWnd) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Window *w = findWindow(s, hWnd);
  return w && w->maximised ? TRUE : FALSE;
}

BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Window *w = findWindow(s, hWnd);
  if (!w)
    return FALSE;
  BOOL wasDisabled = w->enabled ? FALSE : TRUE;
  w->enabled = bEnable != FALSE;
  return wasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND hWnd) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Window *w = findWindow(s, hWnd);
  return w && w->enabled ? TRUE : FALSE;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Window *w = findWindow(s, hWnd);
  if (!w)
    return FALSE;
  BOOL wasVisible = w->visible ? TRUE : FALSE;
  w->showCalls.push_back(nCmdShow);
  switch (nCmdShow) {
  case SW_HIDE:
    w->visible = false;
    break;
  case SW_SHOWNORMAL:
  case 4: // SW_SHOWNOACTIVATE
  case SW_RESTORE:
    w->visible = true;
    w->maximised = false;
    w->minimised = false;
    break;
  case SW_SHOWMINIMIZED:
  case SW_MINIMIZE:
  case 7: // SW_SHOWMINNOACTIVE
    w->visible = true;
    w->maximised = false;
    w->minimised = true;
    break;
  case SW_SHOWMAXIMIZED:
    w->visible = true;
    w->maximised = true;
    w->minimised = false;
    break;
  default: // SW_SHOW, SW_SHOWNA, ...
    w->visible = true;
    break;
  }
  journal("ShowWindow " + nameLocked(s, hWnd) + " " + std::to_string(nCmdShow));
  return wasVisible;
}

BOOL WINAPI SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx,
                         int cy, UINT uFlags) {
  if (faultHere("SetWindowPos")) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Window *w = findWindow(s, hWnd);
  if (!w)
    return FALSE;
  w->posCalls.push_back(
      SetWindowPosCall{hWndInsertAfter, X, Y, cx, cy, uFlags});
  if (!(uFlags & SWP_NOZORDER) &&
      (hWndInsertAfter == HWND_TOPMOST || hWndInsertAfter == HWND_NOTOPMOST)) {
    w->topmost = hWndInsertAfter == HWND_TOPMOST;
    w->topmostHistory.push_back(
        TopmostChange{nextMoment(), w->topmost, std::this_thread::get_id()});
  }
  if (uFlags & 0x0040) // SWP_SHOWWINDOW
    w->visible = true;
  if (uFlags & 0x0080) // SWP_HIDEWINDOW
    w->visible = false;
  journal("SetWindowPos " + nameLocked(s, hWnd) + " " +
          insertAfterName(s, hWndInsertAfter) + " " + std::to_string(X) + " " +
          std::to_string(Y) + " " + std::to_string(cx) + " " +
          std::to_string(cy) + " " + std::to_string(uFlags));
  return TRUE;
}

LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex) {
  if (nIndex != GWL_STYLE && nIndex != GWL_EXSTYLE)
    return static_cast<LONG>(GetWindowLongPtrA(hWnd, nIndex));
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Window *w = findWindow(s, hWnd);
  if (!w)
    return 0;
  if (nIndex == GWL_EXSTYLE)
    return w->topmost ? WS_EX_TOPMOST : 0;
  DWORD style = w->isControl ? WS_CHILD : WS_POPUP;
  if (w->visible)
    style |= WS_VISIBLE;
  if (!w->enabled)
    style |= WS_DISABLED;
  if (w->maximised)
    style |= WS_MAXIMIZE;
  if (w->minimised)
    style |= WS_MINIMIZE;
  return static_cast<LONG>(style);
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Window *w = findWindow(s, hWnd);
  if (!w)
    return 0;
  LONG_PTR *slot = nullptr;
  if (nIndex == DWLP_USER && w->isDialog)
    slot = &w->user;
  else if (nIndex == DWLP_MSGRESULT && w->isDialog)
    slot = &w->msgResult;
  else if (nIndex == GWLP_USERDATA)
    slot = &w->userData;
  if (!slot)
    return 0;
  LONG_PTR old = *slot;
  *slot = dwNewLong;
  return old;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Window *w = findWindow(s, hWnd);
  if (!w)
    return 0;
  if (nIndex == DWLP_USER && w->isDialog)
    return w->user;
  if (nIndex == DWLP_MSGRESULT && w->isDialog)
    return w->msgResult;
  if (nIndex == GWLP_USERDATA)
    return w->userData;
  return 0;
}

DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Window *w = findWindow(s, hWnd);
  if (!w)
    return 0;
  if (lpdwProcessId)
    *lpdwProcessId = 1;
  return w->threadNumber;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Window *d = findWindow(s, hDlg);
  if (!d || !d->isDialog)
    return nullptr;
  return controlOf(s, *d, nIDDlgItem);
}

BOOL WINAPI CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Window *d = findWindow(s, hDlg);
  if (!d || !d->isDialog)
    return FALSE;
  controlOf(s, *d, nIDButton);
  d->checks[nIDButton] = uCheck;
  return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND hDlg, int nIDButton) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Window *d = findWindow(s, hDlg);
  if (!d || !d->isDialog)
    return 0;
  auto it = d->checks.find(nIDButton);
  return it == d->checks.end() ? BST_UNCHECKED : it->second;
}

// The system's own modal dialogs are not modelled (the framework runs its
// own loop); the call is recorded and the dialog hidden, as the system does.
BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Window *d = findWindow(s, hDlg);
  if (!d || !d->isDialog)
    return FALSE;
  d->visible = false;
  journal("EndDialog " + nameLocked(s, hDlg) + " " + std::to_string(nResult));
  return TRUE;
}

// ---- timers ----

UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse,
                         TIMERPROC lpTimerFunc) {
  const bool fault = faultHere("SetTimer");
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  journal("SetTimer " + nameLocked(s, hWnd) + " " + std::to_string(nIDEvent) +
          " " + std::to_string(uElapse));
  Window *w = findWindow(s, hWnd);
  // Timers without a window are not modelled; the setup's timers all have
  // one.
  if (fault) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  if (s.timerFails || !w)
    return 0;
  UINT period = uElapse < 10 ? 10 : uElapse; // the system's minimum
  w->timers[nIDEvent] = Timer{
      period, Clock::now() + std::chrono::milliseconds(period), lpTimerFunc};
  s.changed.notify_all();
  return nIDEvent ? nIDEvent : 1;
}

BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  journal("KillTimer " + nameLocked(s, hWnd) + " " + std::to_string(uIDEvent));
  Window *w = findWindow(s, hWnd);
  if (!w)
    return FALSE;
  return w->timers.erase(uIDEvent) ? TRUE : FALSE;
}
