// The small dialog framework the setup is built on: an application object,
// a window wrapper and modal dialogs with message maps, over plain Win32 calls
// so that the same source runs on the real system and on the native stand-in.
#ifndef FRAMEWORK_FRAMEWORK_H
#define FRAMEWORK_FRAMEWORK_H

#include <windows.h>

#include <atomic>

class CCmdTarget;
class CWnd;
class CWinApp;

// ---- message maps ----
// Handler signatures the maps know how to call.
enum FrameworkSig {
  FwSig_end = 0,
  FwSig_vv, // void handler()          commands, WM_CLOSE, WM_PAINT
  FwSig_vw, // void handler(UINT_PTR)  WM_TIMER (the timer identifier)
  FwSig_hv, // HCURSOR handler()       WM_QUERYDRAGICON
};

// Handler members, held as members of the common base; an entry fills the
// one that matches its signature.
typedef void (CCmdTarget::*FW_PMSG)();
typedef void (CCmdTarget::*FW_PMSG_W)(UINT_PTR);
typedef HCURSOR (CCmdTarget::*FW_PMSG_H)();

struct MessageMapEntry {
  UINT message;        // WM_xxx
  UINT code;           // notification code for WM_COMMAND (BN_CLICKED)
  UINT id;             // control or command identifier for WM_COMMAND
  int sig;             // FrameworkSig
  FW_PMSG pfn;         // FwSig_vv
  FW_PMSG_W pfnWParam; // FwSig_vw
  FW_PMSG_H pfnCursor; // FwSig_hv
};

struct MessageMap {
  const MessageMap *(*pfnGetBaseMap)();
  const MessageMapEntry *entries;
};

#define DECLARE_MESSAGE_MAP()                                                  \
protected:                                                                     \
  static const MessageMap *GetThisMessageMap();                                \
  const MessageMap *GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                 \
  const MessageMap *theClass::GetMessageMap() const {                          \
    return GetThisMessageMap();                                                \
  }                                                                            \
  const MessageMap *theClass::GetThisMessageMap() {                            \
    typedef theClass ThisClass;                                                \
    typedef baseClass TheBaseClass;                                            \
    static const MessageMapEntry entries[] = {

#define END_MESSAGE_MAP()                                                      \
  { 0, 0, 0, FwSig_end, nullptr, nullptr, nullptr }                            \
  }                                                                            \
  ;                                                                            \
  static const MessageMap messageMap = {&TheBaseClass::GetThisMessageMap,      \
                                        &entries[0]};                          \
  return &messageMap;                                                          \
  }

// Member of ThisClass -> member of the common base with the same signature.
#define FW_VV(memberFxn)                                                       \
  static_cast<FW_PMSG>(                                                        \
      static_cast<void (ThisClass::*)()>(&ThisClass::memberFxn))

#define ON_COMMAND(id, memberFxn)                                              \
  {WM_COMMAND, 0, (UINT)(id), FwSig_vv, FW_VV(memberFxn), nullptr, nullptr},
#define ON_BN_CLICKED(id, memberFxn)                                           \
  {WM_COMMAND,       BN_CLICKED, (UINT)(id), FwSig_vv,                         \
   FW_VV(memberFxn), nullptr,    nullptr},
// A message mapped to any void() member (the setup maps WM_CLOSE to its abort
// procedure).
#define ON_MESSAGE_VOID(message, memberFxn)                                    \
  {(UINT)(message), 0, 0, FwSig_vv, FW_VV(memberFxn), nullptr, nullptr},
#define ON_WM_CLOSE()                                                          \
  {WM_CLOSE, 0, 0, FwSig_vv, FW_VV(OnClose), nullptr, nullptr},
#define ON_WM_PAINT()                                                          \
  {WM_PAINT, 0, 0, FwSig_vv, FW_VV(OnPaint), nullptr, nullptr},
#define ON_WM_TIMER()                                                          \
  {WM_TIMER,                                                                   \
   0,                                                                          \
   0,                                                                          \
   FwSig_vw,                                                                   \
   nullptr,                                                                    \
   static_cast<FW_PMSG_W>(                                                     \
       static_cast<void (ThisClass::*)(UINT_PTR)>(&ThisClass::OnTimer)),       \
   nullptr},
#define ON_WM_QUERYDRAGICON()                                                  \
  {WM_QUERYDRAGICON,                                                           \
   0,                                                                          \
   0,                                                                          \
   FwSig_hv,                                                                   \
   nullptr,                                                                    \
   nullptr,                                                                    \
   static_cast<FW_PMSG_H>(                                                     \
       static_cast<HCURSOR (ThisClass::*)()>(&ThisClass::OnQueryDragIcon))},

// The common base of everything that has a message map: windows and the
// application.
class CCmdTarget {
public:
  CCmdTarget() = default;
  CCmdTarget(const CCmdTarget &) = delete;
  CCmdTarget &operator=(const CCmdTarget &) = delete;
  virtual ~CCmdTarget() = default;

  // Routes a command (WM_COMMAND with this id and notification code) through
  // the map; TRUE when a handler ran.
  BOOL OnCmdMsg(UINT nID, UINT nCode);

  static const MessageMap *GetThisMessageMap();
  virtual const MessageMap *GetMessageMap() const;

protected:
  // The first entry of the map chain (class map, then its bases) that
  // handles the message, or null.
  const MessageMapEntry *FindEntry(UINT message, WPARAM wParam) const;
};

// ---- windows ----
class CWnd : public CCmdTarget {
public:
  CWnd();
  ~CWnd() override;

  HWND m_hWnd;
  HWND GetSafeHwnd() const { return m_hWnd; }

  BOOL ShowWindow(int nCmdShow);
  BOOL DestroyWindow();
  int MessageBox(LPCSTR lpszText, LPCSTR lpszCaption = nullptr,
                 UINT nType = MB_OK);
  void CheckDlgButton(int nIDButton, UINT nCheck);
  // Asks for the system's default handling of the message being dispatched:
  // a dialog's default handling is the system's, done once the dialog
  // procedure has returned, so the handler can only request it.
  void RequestDefaultHandling();

  // Handlers that the ON_WM_ macros name when a class does not declare its
  // own: each leaves the message to the default handling.
  void OnClose();
  void OnPaint();
  void OnTimer(UINT_PTR nIDEvent);
  HCURSOR OnQueryDragIcon();

  // Routes a message through the map; returns TRUE when a handler ran and
  // stores its result (WM_QUERYDRAGICON: the handle) in *pResult.
  virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam,
                        LRESULT *pResult);
  // Called after the window is gone (WM_NCDESTROY).
  virtual void PostNcDestroy();

  static const MessageMap *GetThisMessageMap();
  const MessageMap *GetMessageMap() const override;

protected:
  // Set while a message is dispatched; RequestDefaultHandling() asks for the
  // system's default handling of it.
  UINT m_currentMsg;
  WPARAM m_currentWParam;
  LPARAM m_currentLParam;
  BOOL m_defaultRequested;
  friend INT_PTR CALLBACK FrameworkDialogProc(HWND, UINT, WPARAM, LPARAM);
};

class CPaintDC {
public:
  explicit CPaintDC(CWnd *pWnd);
  ~CPaintDC();
  CPaintDC(const CPaintDC &) = delete;
  CPaintDC &operator=(const CPaintDC &) = delete;
  HDC m_hDC;
  PAINTSTRUCT m_ps;
  HWND m_hWnd;
  operator HDC() const { return m_hDC; }
  HDC GetSafeHdc() const { return m_hDC; }
};

// ---- dialogs ----
class CDialog : public CWnd {
public:
  explicit CDialog(UINT nIDTemplate, CWnd *pParentWnd = nullptr);
  ~CDialog() override;

  // Creates the dialog from its template, disables its owner, runs the modal
  // loop until EndDialog, re-enables the owner, destroys the window and
  // returns the result given to EndDialog (-1 when it cannot be created, or
  // when the run ended without EndDialog).
  virtual INT_PTR DoModal();
  // Ends the modal run with nResult; callable from any thread.
  void EndDialog(int nResult);

  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();

  UINT m_nIDTemplate;
  CWnd *m_pParentWnd;
  // After DoModal: 0 when the dialog was created, otherwise the last error
  // that the failed creation left (ERROR_INVALID_HANDLE when it left none).
  DWORD m_dwCreateError;

  static const MessageMap *GetThisMessageMap();
  const MessageMap *GetMessageMap() const override;

protected:
  std::atomic<bool> m_endRequested;
  std::atomic<int> m_nModalResult;
  // The window of the current modal run, for EndDialog from other threads.
  std::atomic<HWND> m_hWndRun;
};

// ---- application ----
class CWinApp : public CCmdTarget {
public:
  explicit CWinApp(LPCSTR lpszAppName = nullptr);
  ~CWinApp() override;

  virtual BOOL InitInstance();
  virtual int ExitInstance();
  // Asks for three-dimensional dialog controls; TRUE when available.
  BOOL Enable3dControlsStatic();
  void OnHelp();

  CWnd *m_pMainWnd;
  HINSTANCE m_hInstance;
  LPCSTR m_pszAppName;
  int m_nExitCode; // returned by ExitInstance (the process exit status)

  static const MessageMap *GetThisMessageMap();
  const MessageMap *GetMessageMap() const override;
};

// The one application object (the last CWinApp constructed).
CWinApp *AfxGetApp();
CWnd *AfxGetMainWnd();
HINSTANCE AfxGetResourceHandle();
// The start-up code: initialises the application, calls InitInstance, runs
// the message loop only when it returns TRUE, then ExitInstance; returns the
// process exit status.
int AfxWinMain(HINSTANCE hInstance, LPSTR lpCmdLine, int nCmdShow);

// The framework's dialog procedure (every CDialog window uses it).
INT_PTR CALLBACK FrameworkDialogProc(HWND hwnd, UINT message, WPARAM wParam,
                                     LPARAM lParam);

#define ID_HELP 0xE146

#endif
