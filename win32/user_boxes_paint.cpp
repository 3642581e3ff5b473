// The stand-in's message boxes, painting, icons, metrics and window
// regions, and the test controls of the user layer.
#include "user_internal.h"

#include "standin/faults.h"
#include "standin/journal.h"

#include <cstring>

namespace standin {
namespace user {

void resetLocked(State &s) {
  s.windows.clear();
  s.queues.clear();
  s.threadNumbers.clear();
  s.dialogsInOrder.clear();
  s.regions.clear();
  s.initHooks.clear();
  s.idleHook = nullptr;
  s.responder = nullptr;
  s.blockLimitMs = 20000;
  s.defaultClient = RECT{0, 0, 800, 600};
  s.metrics.clear();
  s.metrics[SM_CXICON] = 32;
  s.metrics[SM_CYICON] = 32;
  s.metrics[SM_CXSCREEN] = 800;
  s.metrics[SM_CYSCREEN] = 600;
  s.iconMissing = false;
  s.timerFails = false;
  s.creationFails.clear();
  s.templateStyles.clear();
  s.boxes.clear();
  s.paintCalls.clear();
  s.drawCalls.clear();
}

namespace {

ULONG_PTR nextDcValue = 0x0DC00004;

int defaultAnswer(UINT type) {
  switch (type & 0x0F) {
  case MB_OK:
  case MB_OKCANCEL:
    return IDOK;
  case 2: // MB_ABORTRETRYIGNORE
    return IDABORT;
  case 3: // MB_YESNOCANCEL
  case MB_YESNO:
    return IDNO;
  case 5: // MB_RETRYCANCEL
    return IDCANCEL;
  default:
    return IDOK;
  }
}

} // namespace
} // namespace user

using namespace user;

void resetUser() {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  resetLocked(s);
  s.changed.notify_all();
}

WindowState windowState(HWND hwnd) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  WindowState ws;
  auto it = s.windows.find(hwnd);
  if (!hwnd || it == s.windows.end())
    return ws;
  const Window &w = it->second;
  ws.known = true;
  ws.exists = w.exists;
  ws.visible = w.visible;
  ws.enabled = w.enabled;
  ws.maximised = w.maximised;
  ws.minimised = w.minimised;
  ws.topmost = w.topmost;
  ws.isDialog = w.isDialog;
  ws.templateId = w.templateId;
  ws.owner = w.owner;
  ws.thread = w.thread;
  ws.showWindowCalls = w.showCalls;
  ws.setWindowPosCalls = w.posCalls;
  ws.topmostHistory = w.topmostHistory;
  ws.sentMessages = w.sent;
  ws.hasRegion = w.hasRegion;
  ws.region = w.region;
  if (w.isControl) {
    auto parent = s.windows.find(w.parent);
    if (parent != s.windows.end()) {
      auto check = parent->second.checks.find(w.controlId);
      if (check != parent->second.checks.end())
        ws.checkedButtons[w.controlId] = check->second;
    }
  } else {
    ws.checkedButtons = w.checks;
  }
  ws.bigIcon = w.bigIcon;
  ws.smallIcon = w.smallIcon;
  ws.defaultPaints = w.defaultPaints;
  for (auto &t : w.timers)
    ws.timers[t.first] = t.second.period;
  return ws;
}

bool topmostAt(HWND hwnd, uint64_t moment) {
  bool topmost = false;
  for (const TopmostChange &change : windowState(hwnd).topmostHistory) {
    if (change.moment > moment)
      break;
    topmost = change.topmost;
  }
  return topmost;
}

HWND findDialog(UINT templateId) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  for (auto it = s.dialogsInOrder.rbegin(); it != s.dialogsInOrder.rend();
       ++it) {
    Window *w = findWindow(s, *it);
    if (w && w->templateId == templateId)
      return *it;
  }
  return nullptr;
}

HWND lastDialog(UINT templateId) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  for (auto it = s.dialogsInOrder.rbegin(); it != s.dialogsInOrder.rend(); ++it)
    if (s.windows[*it].templateId == templateId)
      return *it;
  return nullptr;
}

std::string windowName(HWND hwnd) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return nameLocked(s, hwnd);
}

void setMessageBoxResponder(MessageBoxResponder responder) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.responder = std::move(responder);
}

std::vector<MessageBoxCall> messageBoxes() {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.boxes;
}

void onDialogInitialised(UINT templateId, std::function<void(HWND)> hook) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (hook)
    s.initHooks[templateId] = std::move(hook);
  else
    s.initHooks.erase(templateId);
}

void setIdleHook(std::function<void()> hook) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.idleHook = std::move(hook);
}

void setBlockLimit(unsigned milliseconds) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.blockLimitMs = milliseconds;
}

void click(HWND dialog, int controlId) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, controlId)));
}

void postClose(HWND dialog) { PostMessageA(dialog, WM_CLOSE, 0, 0); }

void command(HWND dialog, int commandId) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(commandId, 0), 0);
}

void setIconic(HWND hwnd, bool minimised) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Window *w = findWindow(s, hwnd);
  if (w)
    w->minimised = minimised;
}

void setClientRect(HWND hwnd, RECT rect) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Window *w = findWindow(s, hwnd);
  if (w) {
    w->hasClientRect = true;
    w->client = rect;
  }
}

void setDefaultClientRect(RECT rect) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.defaultClient = rect;
}

void setSystemMetric(int index, int value) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.metrics[index] = value;
}

void setIconMissing(bool missing) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.iconMissing = missing;
}

void setTimerFails(bool fails) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.timerFails = fails;
}

void setDialogCreationFails(UINT templateId, bool fails) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.creationFails[templateId] = fails;
}

void setTemplateStyle(UINT templateId, DWORD style, DWORD exStyle) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.templateStyles[templateId] = TemplateStyle{style, exStyle};
}

HICON iconHandle(UINT resourceId) {
  return reinterpret_cast<HICON>(static_cast<ULONG_PTR>(0x1C000000u) +
                                 resourceId);
}

std::vector<PaintCall> paints() {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.paintCalls;
}

std::vector<DrawIconCall> drawnIcons() {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.drawCalls;
}

} // namespace standin

using namespace standin;
using namespace standin::user;

// A box runs on the calling thread; while it is open its owner is disabled,
// as the system does for a box with an owner.
int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  State &s = state();
  // A box the system cannot show is neither recorded nor answered.
  if (faultHere("MessageBoxA")) {
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      journal("MessageBoxA " + nameLocked(s, hWnd) + " \"" +
              (lpCaption ? lpCaption : "Error") + "\" failed");
    }
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  MessageBoxCall call{
      hWnd,        lpText ? lpText : "",       lpCaption ? lpCaption : "Error",
      uType,       std::this_thread::get_id(), 0,
      nextMoment()};
  size_t index;
  MessageBoxResponder responder;
  bool disabledOwner = false;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    index = s.boxes.size();
    s.boxes.push_back(call);
    responder = s.responder;
    Window *owner = findWindow(s, hWnd);
    if (owner && owner->enabled) {
      owner->enabled = false;
      disabledOwner = true;
    }
    journal("MessageBoxA " + nameLocked(s, hWnd) + " \"" + call.caption + "\"");
  }
  int answer = responder ? responder(call) : defaultAnswer(uType);
  std::lock_guard<std::mutex> lock(s.mutex);
  if (index < s.boxes.size())
    s.boxes[index].answer = answer;
  if (disabledOwner) {
    Window *owner = findWindow(s, hWnd);
    if (owner)
      owner->enabled = true;
  }
  return answer;
}

HICON WINAPI LoadIconA(HINSTANCE, LPCSTR lpIconName) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.iconMissing)
    return nullptr;
  return iconHandle(IS_INTRESOURCE(lpIconName) ? LOWORD(lpIconName) : 0xFFFF);
}

int WINAPI GetSystemMetrics(int nIndex) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.metrics.find(nIndex);
  return it == s.metrics.end() ? 0 : it->second;
}

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Window *w = findWindow(s, hWnd);
  if (!w || !lpRect)
    return FALSE;
  *lpRect = w->hasClientRect ? w->client : s.defaultClient;
  return TRUE;
}

HDC WINAPI BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Window *w = findWindow(s, hWnd);
  if (!w || !lpPaint)
    return nullptr;
  HDC hdc = reinterpret_cast<HDC>(nextDcValue);
  nextDcValue += 4;
  std::memset(lpPaint, 0, sizeof(*lpPaint));
  lpPaint->hdc = hdc;
  lpPaint->rcPaint = w->hasClientRect ? w->client : s.defaultClient;
  s.paintCalls.push_back(PaintCall{hWnd, hdc, false});
  return hdc;
}

BOOL WINAPI EndPaint(HWND hWnd, const PAINTSTRUCT *lpPaint) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!lpPaint)
    return FALSE;
  for (auto &p : s.paintCalls)
    if (p.hwnd == hWnd && p.hdc == lpPaint->hdc && !p.ended) {
      p.ended = true;
      return TRUE;
    }
  return FALSE;
}

BOOL WINAPI DrawIcon(HDC hDC, int X, int Y, HICON hIcon) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.drawCalls.push_back(DrawIconCall{hDC, X, Y, hIcon});
  return hDC && hIcon ? TRUE : FALSE;
}

// ---- window regions ----
// A region is a rectangle here; SetWindowRgn hands it to the window, which
// owns it from then on, as the system does.

HRGN WINAPI CreateRectRgn(int x1, int y1, int x2, int y2) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  // Handles of regions lie in their own range, apart from windows'.
  HRGN region = reinterpret_cast<HRGN>(0x40000000u + s.nextRegion++);
  s.regions[region] = RECT{x1 < x2 ? x1 : x2, y1 < y2 ? y1 : y2,
                           x1 < x2 ? x2 : x1, y1 < y2 ? y2 : y1};
  return region;
}

int WINAPI SetWindowRgn(HWND hWnd, HRGN hRgn, BOOL /*bRedraw*/) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Window *w = findWindow(s, hWnd);
  if (!w)
    return 0;
  if (hRgn == nullptr) {
    w->hasRegion = false;
    journal("SetWindowRgn " + nameLocked(s, hWnd) + " none");
    return 1;
  }
  auto it = s.regions.find(hRgn);
  if (it == s.regions.end())
    return 0;
  w->hasRegion = true;
  w->region = it->second;
  s.regions.erase(it);
  const RECT &r = w->region;
  bool empty = r.left >= r.right || r.top >= r.bottom;
  journal("SetWindowRgn " + nameLocked(s, hWnd) + " " +
          (empty
               ? std::string("empty")
               : std::to_string(r.left) + "," + std::to_string(r.top) + "," +
                     std::to_string(r.right) + "," + std::to_string(r.bottom)));
  return 1;
}

BOOL WINAPI DeleteObject(HGDIOBJ ho) {
  State &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.regions.erase(static_cast<HRGN>(ho)) ? TRUE : FALSE;
}
