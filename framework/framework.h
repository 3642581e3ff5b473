// The small dialog framework the setup is built on: an application object,
// a window wrapper and modal dialogs with message maps, over plain Win32 calls
// so that the same source runs on the real system and on the native stand-in.
#ifndef FRAMEWORK_FRAMEWORK_H
#define FRAMEWORK_FRAMEWORK_H

#include <windows.h>

#include <atomic>

class CWnd;
class CWinApp;

// ---- message maps ----
// Handler signatures the maps know how to call.
enum FrameworkSig {
  FwSig_end = 0,
  FwSig_vv,     // void handler()                     (BN_CLICKED, WM_CLOSE, WM_PAINT)
  FwSig_vw,     // void handler(UINT_PTR)             (WM_TIMER)
  FwSig_hv,     // HCURSOR handler()                  (WM_QUERYDRAGICON)
};

typedef void (CWnd::*FW_PMSG)();

struct MessageMapEntry {
  UINT message;  // WM_xxx
  UINT code;     // notification code for WM_COMMAND (BN_CLICKED)
  UINT id;       // control or command identifier for WM_COMMAND
  int sig;       // FrameworkSig
  FW_PMSG pfn;   // member to call
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
  {0, 0, 0, FwSig_end, (FW_PMSG)0}                                             \
  }                                                                            \
  ;                                                                            \
  static const MessageMap messageMap = {&TheBaseClass::GetThisMessageMap,      \
                                        &entries[0]};                          \
  return &messageMap;                                                          \
  }

#define ON_COMMAND(id, memberFxn)                                              \
  {WM_COMMAND, 0, (UINT)(id), FwSig_vv,                                        \
   reinterpret_cast<FW_PMSG>(                                                  \
       static_cast<void (ThisClass::*)()>(&ThisClass::memberFxn))},
#define ON_BN_CLICKED(id, memberFxn)                                           \
  {WM_COMMAND, BN_CLICKED, (UINT)(id), FwSig_vv,                               \
   reinterpret_cast<FW_PMSG>(                                                  \
       static_cast<void (ThisClass::*)()>(&ThisClass::memberFxn))},
// WM_CLOSE mapped to a named member (the setup maps it to its abort procedure).
#define ON_MESSAGE_VOID(message, memberFxn)                                    \
  {(UINT)(message), 0, 0, FwSig_vv,                                            \
   reinterpret_cast<FW_PMSG>(                                                  \
       static_cast<void (ThisClass::*)()>(&ThisClass::memberFxn))},
#define ON_WM_CLOSE()                                                          \
  {WM_CLOSE, 0, 0, FwSig_vv,                                                   \
   reinterpret_cast<FW_PMSG>(                                                  \
       static_cast<void (ThisClass::*)()>(&ThisClass::OnClose))},
#define ON_WM_PAINT()                                                          \
  {WM_PAINT, 0, 0, FwSig_vv,                                                   \
   reinterpret_cast<FW_PMSG>(                                                  \
       static_cast<void (ThisClass::*)()>(&ThisClass::OnPaint))},
#define ON_WM_TIMER()                                                          \
  {WM_TIMER, 0, 0, FwSig_vw,                                                   \
   reinterpret_cast<FW_PMSG>(                                                  \
       static_cast<void (ThisClass::*)(UINT_PTR)>(&ThisClass::OnTimer))},
#define ON_WM_QUERYDRAGICON()                                                  \
  {WM_QUERYDRAGICON, 0, 0, FwSig_hv,                                           \
   reinterpret_cast<FW_PMSG>(                                                  \
       static_cast<HCURSOR (ThisClass::*)()>(&ThisClass::OnQueryDragIcon))},

// ---- windows ----
class CWnd {
public:
  CWnd();
  virtual ~CWnd();

  HWND m_hWnd;
  HWND GetSafeHwnd() const { return this ? m_hWnd : nullptr; }

  BOOL ShowWindow(int nCmdShow);
  BOOL DestroyWindow();
  int MessageBox(LPCSTR lpszText, LPCSTR lpszCaption = nullptr,
                 UINT nType = MB_OK);
  void CheckDlgButton(int nIDButton, UINT nCheck);
  // The default handling of the message being dispatched.
  LRESULT Default();

  // Routes a message through the map; returns TRUE when a handler ran.
  virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam,
                        LRESULT *pResult);
  // Called after the window is gone (WM_NCDESTROY).
  virtual void PostNcDestroy();

  static const MessageMap *GetThisMessageMap();
  virtual const MessageMap *GetMessageMap() const;

protected:
  // Set while a message is dispatched; Default() asks for the system's
  // default handling of it.
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
  // returns the result given to EndDialog (-1 when it cannot be created).
  virtual INT_PTR DoModal();
  // Ends the modal run with nResult; callable from any thread.
  void EndDialog(int nResult);

  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();

  UINT m_nIDTemplate;
  CWnd *m_pParentWnd;

  static const MessageMap *GetThisMessageMap();
  const MessageMap *GetMessageMap() const override;
  BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam,
                LRESULT *pResult) override;

protected:
  std::atomic<bool> m_endRequested;
  std::atomic<int> m_nModalResult;
};

// ---- application ----
class CWinApp {
public:
  explicit CWinApp(LPCSTR lpszAppName = nullptr);
  virtual ~CWinApp();

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
  virtual const MessageMap *GetMessageMap() const;
};

// The one application object (the last CWinApp constructed).
CWinApp *AfxGetApp();
CWnd *AfxGetMainWnd();
HINSTANCE AfxGetResourceHandle();
// The start-up code: initialises the application, calls InitInstance, runs
// the message loop only when it returns TRUE, then ExitInstance; returns the
// process exit status.
int AfxWinMain(HINSTANCE hInstance, LPSTR lpCmdLine, int nCmdShow);

#define ID_HELP 0xE146

#endif
