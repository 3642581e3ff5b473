// The framework's message maps, windows, modal dialogs and application
// start-up.
#include "framework/framework.h"

namespace {

CWinApp *theApplication = nullptr;

// Private wake-up of a modal loop whose end was requested from another
// thread; WM_NULL does nothing when dispatched.
const UINT kWakeMessage = WM_NULL;

} // namespace

// ---- message maps ----

const MessageMap *CCmdTarget::GetThisMessageMap() {
  static const MessageMapEntry entries[] = {
      {0, 0, 0, FwSig_end, nullptr, nullptr, nullptr}};
  static const MessageMap messageMap = {nullptr, &entries[0]};
  return &messageMap;
}

const MessageMap *CCmdTarget::GetMessageMap() const {
  return GetThisMessageMap();
}

const MessageMapEntry *CCmdTarget::FindEntry(UINT message,
                                             WPARAM wParam) const {
  for (const MessageMap *map = GetMessageMap(); map;
       map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
    for (const MessageMapEntry *e = map->entries; e->sig != FwSig_end; ++e) {
      if (e->message != message)
        continue;
      if (message == WM_COMMAND &&
          (e->id != LOWORD(wParam) || e->code != HIWORD(wParam)))
        continue;
      return e;
    }
  }
  return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, UINT nCode) {
  const MessageMapEntry *e = FindEntry(WM_COMMAND, MAKEWPARAM(nID, nCode));
  if (!e || e->sig != FwSig_vv)
    return FALSE;
  (this->*e->pfn)();
  return TRUE;
}

// ---- windows ----

CWnd::CWnd()
    : m_hWnd(nullptr), m_currentMsg(0), m_currentWParam(0), m_currentLParam(0),
      m_defaultRequested(FALSE) {}

CWnd::~CWnd() {
  if (theApplication && theApplication->m_pMainWnd == this)
    theApplication->m_pMainWnd = nullptr;
  // A window that outlives its object must not reach it any more.
  if (m_hWnd && ::IsWindow(m_hWnd)) {
    HWND hwnd = m_hWnd;
    ::SetWindowLongPtrA(hwnd, DWLP_USER, 0);
    m_hWnd = nullptr;
    ::DestroyWindow(hwnd);
  }
}

const MessageMap *CWnd::GetThisMessageMap() {
  static const MessageMapEntry entries[] = {
      {0, 0, 0, FwSig_end, nullptr, nullptr, nullptr}};
  static const MessageMap messageMap = {&CCmdTarget::GetThisMessageMap,
                                        &entries[0]};
  return &messageMap;
}

const MessageMap *CWnd::GetMessageMap() const { return GetThisMessageMap(); }

BOOL CWnd::ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }

BOOL CWnd::DestroyWindow() { return ::DestroyWindow(m_hWnd); }

int CWnd::MessageBox(LPCSTR lpszText, LPCSTR lpszCaption, UINT nType) {
  if (!lpszCaption && theApplication)
    lpszCaption = theApplication->m_pszAppName;
  return ::MessageBoxA(m_hWnd, lpszText, lpszCaption, nType);
}

void CWnd::CheckDlgButton(int nIDButton, UINT nCheck) {
  ::CheckDlgButton(m_hWnd, nIDButton, nCheck);
}

// The dialog procedure returns FALSE for the message, and the system does
// the rest.
void CWnd::RequestDefaultHandling() { m_defaultRequested = TRUE; }

void CWnd::OnClose() { RequestDefaultHandling(); }
void CWnd::OnPaint() { RequestDefaultHandling(); }
void CWnd::OnTimer(UINT_PTR) { RequestDefaultHandling(); }
HCURSOR CWnd::OnQueryDragIcon() {
  RequestDefaultHandling();
  return nullptr;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM, LRESULT *pResult) {
  *pResult = 0;
  const MessageMapEntry *e = FindEntry(message, wParam);
  if (!e) {
    // Commands that no window map handles get a last chance in the
    // application's map.
    if (message == WM_COMMAND && theApplication)
      return theApplication->OnCmdMsg(LOWORD(wParam), HIWORD(wParam));
    return FALSE;
  }
  switch (e->sig) {
  case FwSig_vv:
    (this->*e->pfn)();
    return TRUE;
  case FwSig_vw:
    (this->*e->pfnWParam)(static_cast<UINT_PTR>(wParam));
    return TRUE;
  case FwSig_hv:
    *pResult = reinterpret_cast<LRESULT>((this->*e->pfnCursor)());
    return TRUE;
  default:
    return FALSE;
  }
}

void CWnd::PostNcDestroy() {}

// ---- painting ----

CPaintDC::CPaintDC(CWnd *pWnd) : m_hDC(nullptr), m_ps(), m_hWnd(pWnd->m_hWnd) {
  m_hDC = ::BeginPaint(m_hWnd, &m_ps);
}

CPaintDC::~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }

// ---- the dialog procedure ----

INT_PTR CALLBACK FrameworkDialogProc(HWND hwnd, UINT message, WPARAM wParam,
                                     LPARAM lParam) {
  CWnd *wnd;
  if (message == WM_INITDIALOG) {
    wnd = reinterpret_cast<CDialog *>(lParam);
    if (!wnd)
      return FALSE;
    ::SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    wnd->m_hWnd = hwnd;
  } else {
    wnd = reinterpret_cast<CWnd *>(::GetWindowLongPtrA(hwnd, DWLP_USER));
    if (!wnd)
      return FALSE;
  }

  // Handlers may send or dispatch further messages (nested modal runs), so
  // the message being handled is saved around this one.
  UINT savedMsg = wnd->m_currentMsg;
  WPARAM savedWParam = wnd->m_currentWParam;
  LPARAM savedLParam = wnd->m_currentLParam;
  BOOL savedDefault = wnd->m_defaultRequested;
  wnd->m_currentMsg = message;
  wnd->m_currentWParam = wParam;
  wnd->m_currentLParam = lParam;
  wnd->m_defaultRequested = FALSE;

  INT_PTR result;
  if (message == WM_INITDIALOG) {
    result = static_cast<CDialog *>(wnd)->OnInitDialog();
  } else {
    LRESULT handlerResult = 0;
    BOOL handled = wnd->OnWndMsg(message, wParam, lParam, &handlerResult);
    if (!handled || wnd->m_defaultRequested)
      result = FALSE;
    else if (message == WM_QUERYDRAGICON)
      result = handlerResult;
    else
      result = TRUE;
  }

  wnd->m_currentMsg = savedMsg;
  wnd->m_currentWParam = savedWParam;
  wnd->m_currentLParam = savedLParam;
  wnd->m_defaultRequested = savedDefault;

  if (message == WM_NCDESTROY) {
    // The window is gone: detach the object, and when it was the
    // application's main window, end the application.
    ::SetWindowLongPtrA(hwnd, DWLP_USER, 0);
    if (wnd->m_hWnd == hwnd)
      wnd->m_hWnd = nullptr;
    if (theApplication && theApplication->m_pMainWnd == wnd) {
      theApplication->m_pMainWnd = nullptr;
      ::PostQuitMessage(0);
    }
    wnd->PostNcDestroy();
  }
  return result;
}

// ---- dialogs ----

CDialog::CDialog(UINT nIDTemplate, CWnd *pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd), m_dwCreateError(0),
      m_endRequested(false), m_nModalResult(-1), m_hWndRun(nullptr) {}

CDialog::~CDialog() {}

// Enter and Esc reach the dialog as IDOK and IDCANCEL; the handlers are
// virtual, so a dialog's own OnOK or OnCancel wins.
BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

BOOL CDialog::OnInitDialog() { return TRUE; }

void CDialog::OnOK() { EndDialog(IDOK); }

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::EndDialog(int nResult) {
  m_nModalResult = nResult;
  m_endRequested = true;
  // Wake the dialog's thread: its modal loop sees the request as soon as
  // GetMessageA returns.
  HWND hwnd = m_hWndRun.load();
  if (hwnd)
    ::PostMessageA(hwnd, kWakeMessage, 0, 0);
}

INT_PTR CDialog::DoModal() {
  HWND owner = nullptr;
  if (m_pParentWnd) {
    owner = m_pParentWnd->m_hWnd;
  } else {
    CWnd *main = AfxGetMainWnd();
    if (main && main != this)
      owner = main->m_hWnd;
  }

  m_endRequested = false;
  m_nModalResult = -1;

  // The owner is disabled for the whole run, but only by the run that found
  // it enabled: a nested run leaves it to the outer one.
  bool disabledOwner = false;
  if (owner && ::IsWindowEnabled(owner)) {
    ::EnableWindow(owner, FALSE);
    disabledOwner = true;
  }

  HWND hwnd = ::CreateDialogParamA(
      AfxGetResourceHandle(), MAKEINTRESOURCEA(m_nIDTemplate), owner,
      FrameworkDialogProc, reinterpret_cast<LPARAM>(this));
  m_dwCreateError = 0;
  if (hwnd == nullptr) {
    m_dwCreateError = ::GetLastError();
    if (m_dwCreateError == 0)
      m_dwCreateError = ERROR_INVALID_HANDLE;
  }
  // Without a window (not created, or destroyed by its own initialisation)
  // there is nothing to run: the result is -1 unless EndDialog gave one.
  if (hwnd && ::IsWindow(hwnd)) {
    m_hWndRun = hwnd;
    // EndDialog may have run on another thread before m_hWndRun was set;
    // the flag is checked before every wait, so no wake-up is lost.
    MSG msg;
    while (!m_endRequested) {
      BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
      if (got == 0) {
        // The application is ending: leave the request for the outer loop.
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      if (got == -1)
        break;
      if (!::IsDialogMessageA(hwnd, &msg)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
      }
      if (!::IsWindow(hwnd))
        break; // destroyed by a handler
    }
    m_hWndRun = nullptr;
  }

  if (disabledOwner)
    ::EnableWindow(owner, TRUE);
  if (hwnd && ::IsWindow(hwnd) && m_hWnd == hwnd)
    ::DestroyWindow(hwnd);
  return m_endRequested ? m_nModalResult.load() : -1;
}

// ---- application ----

CWinApp::CWinApp(LPCSTR lpszAppName)
    : m_pMainWnd(nullptr), m_hInstance(nullptr), m_pszAppName(lpszAppName),
      m_nExitCode(0) {
  theApplication = this;
}

CWinApp::~CWinApp() {
  if (theApplication == this)
    theApplication = nullptr;
}

const MessageMap *CWinApp::GetThisMessageMap() {
  static const MessageMapEntry entries[] = {
      {0, 0, 0, FwSig_end, nullptr, nullptr, nullptr}};
  static const MessageMap messageMap = {&CCmdTarget::GetThisMessageMap,
                                        &entries[0]};
  return &messageMap;
}

const MessageMap *CWinApp::GetMessageMap() const { return GetThisMessageMap(); }

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return m_nExitCode; }

// Windows 95 and NT 4.0 draw dialog controls three-dimensionally themselves;
// there is nothing to load.
BOOL CWinApp::Enable3dControlsStatic() { return TRUE; }

// The setup has no help content.
void CWinApp::OnHelp() {}

CWinApp *AfxGetApp() { return theApplication; }

CWnd *AfxGetMainWnd() {
  return theApplication ? theApplication->m_pMainWnd : nullptr;
}

HINSTANCE AfxGetResourceHandle() {
  return theApplication ? theApplication->m_hInstance : nullptr;
}

int AfxWinMain(HINSTANCE hInstance, LPSTR, int) {
  CWinApp *app = theApplication;
  if (!app)
    return -1;
  app->m_hInstance = hInstance;
  if (app->InitInstance()) {
    MSG msg;
    BOOL got;
    while ((got = ::GetMessageA(&msg, nullptr, 0, 0)) != 0) {
      if (got == -1)
        break;
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
    if (got == 0)
      app->m_nExitCode = static_cast<int>(msg.wParam);
  }
  return app->ExitInstance();
}
