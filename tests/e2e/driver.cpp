// GUI driver for the setup program: starts it as a user would (its path in
// double quotes as the whole command line), acts by a small script, and writes
// a transcript of what the setup showed.
//
//   driver.exe <transcript> <program> [step...]
//
// With MERRIK_DRIVER_COMMAND_LINE set (such as "merrik"), the program is
// started as a command prompt in its folder starts it: named by its path,
// with that text as the whole command line.
//
// Steps:
//   welcome                               wait for the Welcome dialog
//   express | custom | install | cancel   click that Welcome button
//   enter | esc | tab                     key into the focused dialog
//   close                                 WM_SYSCOMMAND SC_CLOSE to Welcome
//   closehost                             WM_CLOSE to the install host
//   box                                   wait for the next message box
//   answer:<button>                       press a named button of the box
//                                         (waits for a box first if needed)
//   sync:<name>                           create <transcript>.<name>, wait
//                                         until someone deletes it
//   picture                               compare the screen with the
//                                         backdrop's picture (below)
//   movebox:<x>,<y>                       drag the open message box to x,y
//   wait:<ms>                             pause
//
// Transcript lines (one event each, flushed at once, each ending with t=<ms
// since the driver started>):
//   start cmdline="..."
//   welcome backdrop_visible=1 backdrop_maximized=1 backdrop_topmost=0
//   step name=...
//   host welcome_visible=0 backdrop_maximized=1 backdrop_topmost=0
//   box n=1 owner=welcome|host|backdrop|none|other caption="..." text="..."
//       buttons=Yes,No icon=error|warning|question|information|none|unknown
//       backdrop_visible=1 backdrop_maximized=1 backdrop_topmost=0
//       welcome_visible=0
//   key focus=1000                   (control focused when a key was sent)
//   answer n=1 button=Yes
//   closed n=1                       (the box has gone)
//   sync name=...
//   picture compared=786432 differ=0 at=- others=0   (backdrop pixels
//       compared with its bitmap, read from the program file, and the dialog
//       face colour beyond it; the setup's other windows and the windows of
//       other programs, `others` of them, are left out; `at` is the first
//       differing pixel. Up to 3 s are given for the screen to settle)
//   moved n=1 x=20 y=20
//   unexpected_box n=...            (a box that no step was waiting for)
//   exit code=1602
//   summary host_seen=1 welcome_visible_during_install=0 boxes=2
//   error what="..."                (the driver gave up; exit status 2)
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

FILE *g_out = nullptr;
PROCESS_INFORMATION g_proc = {};
DWORD g_timeoutMs = 60000;

HWND g_backdrop = nullptr;
HWND g_welcome = nullptr;
HWND g_host = nullptr;
bool g_welcomeLogged = false;
bool g_hostSeen = false;
bool g_welcomeVisibleDuringInstall = false;
int g_boxCount = 0;
std::vector<HWND> g_seenBoxes;
HWND g_currentBox = nullptr; // recorded, not yet answered
int g_currentBoxN = 0;

void Line(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vfprintf(g_out, fmt, ap);
  va_end(ap);
  static DWORD start = GetTickCount();
  fprintf(g_out, " t=%lu\n",
          static_cast<unsigned long>(GetTickCount() - start));
  fflush(g_out);
}

// Text as a double-quoted transcript value: backslash, quote, CR, LF and
// other control bytes escaped.
std::string Quote(const std::string &s) {
  std::string q = "\"";
  for (unsigned char c : s) {
    if (c == '\\' || c == '"') {
      q += '\\';
      q += static_cast<char>(c);
    } else if (c == '\n') {
      q += "\\n";
    } else if (c == '\r') {
      q += "\\r";
    } else if (c == '\t') {
      q += "\\t";
    } else if (c < 0x20) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      q += hex;
    } else {
      q += static_cast<char>(c);
    }
  }
  q += '"';
  return q;
}

std::string WindowText(HWND h) {
  char buf[1024];
  int n = GetWindowTextA(h, buf, sizeof buf);
  if (n <= 0)
    return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

std::string ClassOf(HWND h) {
  char buf[64];
  int n = GetClassNameA(h, buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string StripAmpersand(const std::string &s) {
  std::string r;
  for (char c : s)
    if (c != '&')
      r += c;
  return r;
}

bool Exited() { return WaitForSingleObject(g_proc.hProcess, 0) == 0; }

struct Enum {
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectTop(HWND h, LPARAM lp) {
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (pid == g_proc.dwProcessId && ClassOf(h) == "#32770")
    reinterpret_cast<Enum *>(lp)->windows.push_back(h);
  return TRUE;
}

BOOL CALLBACK CollectChild(HWND h, LPARAM lp) {
  reinterpret_cast<Enum *>(lp)->windows.push_back(h);
  return TRUE;
}

std::vector<HWND> Children(HWND parent) {
  Enum e;
  EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&e));
  return e.windows;
}

bool Seen(HWND box) {
  for (HWND h : g_seenBoxes)
    if (h == box)
      return true;
  return false;
}

const char *Role(HWND h) {
  if (!h)
    return "none";
  if (h == g_welcome)
    return "welcome";
  if (h == g_host)
    return "host";
  if (h == g_backdrop)
    return "backdrop";
  return "other";
}

const char *Flag(bool b) { return b ? "1" : "0"; }

bool Topmost(HWND h) {
  return (GetWindowLongA(h, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

std::string BackdropState() {
  if (!g_backdrop || !IsWindow(g_backdrop))
    return "backdrop_visible=0 backdrop_maximized=0 backdrop_topmost=0";
  std::string s = "backdrop_visible=";
  s += Flag(IsWindowVisible(g_backdrop));
  s += " backdrop_maximized=";
  s += Flag(IsZoomed(g_backdrop));
  s += " backdrop_topmost=";
  s += Flag(Topmost(g_backdrop));
  return s;
}

// --- icon of a message box, recognised from the screen ----------------------

struct Pixels {
  int w = 0, h = 0;
  std::vector<DWORD> p;
};

// Copies a rectangle of hdc into 32-bit pixels.
Pixels Grab(HDC src, int x, int y, int w, int h) {
  Pixels out;
  HDC mem = CreateCompatibleDC(src);
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void *bits = nullptr;
  HBITMAP dib = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (dib && bits) {
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, w, h, src, x, y, SRCCOPY);
    GdiFlush();
    out.w = w;
    out.h = h;
    const DWORD *b = static_cast<const DWORD *>(bits);
    out.p.assign(b, b + w * h);
    for (DWORD &v : out.p)
      v &= 0x00FFFFFF;
    SelectObject(mem, old);
    DeleteObject(dib);
  }
  DeleteDC(mem);
  return out;
}

// Draws icon over a solid background and returns the pixels.
Pixels Render(HICON icon, COLORREF background, int w, int h) {
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(mem, bmp);
  HBRUSH brush = CreateSolidBrush(background);
  RECT r = {0, 0, w, h};
  FillRect(mem, &r, brush);
  DeleteObject(brush);
  DrawIconEx(mem, 0, 0, icon, w, h, 0, nullptr, DI_NORMAL);
  Pixels px = Grab(mem, 0, 0, w, h);
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return px;
}

// Share of the icon's opaque pixels that the shown pixels match exactly.
double Match(const Pixels &shown, HICON icon) {
  Pixels black = Render(icon, RGB(0, 0, 0), shown.w, shown.h);
  Pixels white = Render(icon, RGB(255, 255, 255), shown.w, shown.h);
  if (black.p.size() != shown.p.size() || white.p.size() != shown.p.size())
    return 0.0;
  int opaque = 0, same = 0;
  for (size_t i = 0; i < shown.p.size(); ++i) {
    if (black.p[i] != white.p[i])
      continue;
    ++opaque;
    if (black.p[i] == shown.p[i])
      ++same;
  }
  return opaque ? static_cast<double>(same) / opaque : 0.0;
}

std::string IconOf(HWND box) {
  HWND iconStatic = nullptr;
  for (HWND c : Children(box)) {
    if (ClassOf(c) != "Static" || !IsWindowVisible(c))
      continue;
    if ((GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
      iconStatic = c;
  }
  DWORD_PTR held = 0;
  if (!iconStatic || (SendMessageTimeoutA(iconStatic, STM_GETICON, 0, 0,
                                          SMTO_ABORTIFHUNG, 2000, &held) &&
                      held == 0))
    return "none";
  static const struct {
    const char *name;
    LPCSTR id;
  } kinds[] = {{"error", IDI_HAND},
               {"warning", IDI_EXCLAMATION},
               {"question", IDI_QUESTION},
               {"information", IDI_ASTERISK}};
  RECT r;
  GetWindowRect(iconStatic, &r);
  int w = GetSystemMetrics(SM_CXICON), h = GetSystemMetrics(SM_CYICON);
  // Up to 3 s for the box to paint on a busy machine.
  for (int attempt = 0; attempt < 30; ++attempt) {
    HDC screen = GetDC(nullptr);
    Pixels shown = Grab(screen, r.left, r.top, w, h);
    ReleaseDC(nullptr, screen);
    const char *best = nullptr;
    double bestScore = 0.0;
    for (const auto &k : kinds) {
      double s = Match(shown, LoadIconA(nullptr, k.id));
      if (s > bestScore) {
        bestScore = s;
        best = k.name;
      }
    }
    if (best && bestScore >= 0.9)
      return best;
    Sleep(100);
  }
  return "unknown";
}

// --- the backdrop's picture on the screen ------------------------------------

const char *g_program = nullptr; // the setup's path, for its bitmap

void Fail(const char *what);

// Bitmap 129 of the setup program, as 32-bit pixels.
Pixels BackdropBitmap() {
  Pixels px;
  HMODULE module = LoadLibraryExA(g_program, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module)
    return px;
  HBITMAP bmp = static_cast<HBITMAP>(LoadImageA(
      module, MAKEINTRESOURCEA(129), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (bmp) {
    BITMAP info = {};
    GetObjectA(bmp, sizeof info, &info);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, bmp);
    px = Grab(mem, 0, 0, info.bmWidth, info.bmHeight);
    SelectObject(mem, old);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    DeleteObject(bmp);
  }
  FreeLibrary(module);
  return px;
}

struct Windows {
  std::vector<RECT> above; // visible windows over the backdrop, or maybe so
  int others = 0;          // of them, windows of other programs
};

// The setup's own visible windows other than the backdrop and the host,
// and every visible window of another program: Wine keeps no stacking
// order between processes without a window manager, so the group window
// that the shell opens for the new program group may lie over the topmost
// backdrop.
BOOL CALLBACK CollectAbove(HWND h, LPARAM lp) {
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (h == g_backdrop || h == g_host || !IsWindowVisible(h))
    return TRUE;
  RECT r;
  GetWindowRect(h, &r);
  if (r.left >= r.right || r.top >= r.bottom)
    return TRUE;
  Windows *w = reinterpret_cast<Windows *>(lp);
  w->above.push_back(r);
  if (pid != g_proc.dwProcessId)
    ++w->others;
  return TRUE;
}

// Compares every screen pixel of the backdrop's client area, less the
// setup's own windows over it, with what the backdrop shows: its bitmap at
// the top left, the dialog face colour beyond. The install host is not
// left out: wherever it covers the picture, the screen differs.
void CheckPicture() {
  if (!g_backdrop || !IsWindow(g_backdrop))
    Fail("no backdrop to compare");
  Pixels bitmap = BackdropBitmap();
  if (bitmap.p.empty())
    Fail("cannot load the backdrop bitmap from the program");
  DWORD face = GetSysColor(COLOR_3DFACE);
  // Grab gives 0x00RRGGBB; COLORREF is 0x00BBGGRR.
  face = (GetRValue(face) << 16) | (GetGValue(face) << 8) | GetBValue(face);
  int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  long compared = 0, differ = 0;
  int atX = -1, atY = -1, others = 0;
  DWORD start = GetTickCount();
  for (;;) {
    Windows w;
    EnumWindows(CollectAbove, reinterpret_cast<LPARAM>(&w));
    others = w.others;
    RECT client;
    GetClientRect(g_backdrop, &client);
    POINT origin = {0, 0};
    ClientToScreen(g_backdrop, &origin);
    HDC screen = GetDC(nullptr);
    Pixels shown = Grab(screen, 0, 0, sw, sh);
    ReleaseDC(nullptr, screen);
    compared = differ = 0;
    atX = atY = -1;
    for (int y = 0; y < sh; ++y) {
      for (int x = 0; x < sw; ++x) {
        int cx = x - origin.x, cy = y - origin.y;
        if (cx < 0 || cy < 0 || cx >= client.right || cy >= client.bottom)
          continue;
        bool covered = false;
        for (const RECT &r : w.above)
          if (x >= r.left && x < r.right && y >= r.top && y < r.bottom)
            covered = true;
        if (covered)
          continue;
        DWORD want = (cx < bitmap.w && cy < bitmap.h)
                         ? bitmap.p[static_cast<size_t>(cy) * bitmap.w + cx]
                         : face;
        ++compared;
        if (shown.p[static_cast<size_t>(y) * sw + x] != want) {
          if (!differ) {
            atX = x;
            atY = y;
          }
          ++differ;
        }
      }
    }
    if ((differ == 0 && compared > 0) || GetTickCount() - start > 3000)
      break;
    Sleep(100);
  }
  if (differ)
    Line("picture compared=%ld differ=%ld at=%d,%d others=%d", compared, differ,
         atX, atY, others);
  else
    Line("picture compared=%ld differ=0 at=- others=%d", compared, others);
}

// Drags the open message box elsewhere, as a user may, so that the screen
// below its old place must be painted again.
void MoveBox(const char *where) {
  if (!g_currentBox)
    Fail("movebox: no open message box");
  int x = atoi(where);
  const char *comma = strchr(where, ',');
  int y = comma ? atoi(comma + 1) : 0;
  SetWindowPos(g_currentBox, nullptr, x, y, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  Line("moved n=%d x=%d y=%d", g_currentBoxN, x, y);
}

// --- window discovery -------------------------------------------------------

void Fail(const char *what);

void Classify() {
  Enum e;
  EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&e));
  for (HWND h : e.windows) {
    if (h == g_backdrop || h == g_welcome || h == g_host || Seen(h))
      continue;
    LONG ex = GetWindowLongA(h, GWL_EXSTYLE);
    std::string title = WindowText(h);
    if (title == "Welcome" && !g_welcome)
      g_welcome = h;
    else if (title.empty() && (ex & WS_EX_APPWINDOW) && !g_backdrop)
      g_backdrop = h;
    else if (title.empty() && (ex & WS_EX_TRANSPARENT) && !g_host)
      g_host = h;
  }
  if (g_welcome && !g_welcomeLogged && IsWindowVisible(g_welcome)) {
    g_welcomeLogged = true;
    Line("welcome %s", BackdropState().c_str());
  }
  if (g_host && !g_hostSeen) {
    g_hostSeen = true;
    Line("host welcome_visible=%s %s",
         Flag(g_welcome && IsWindowVisible(g_welcome)),
         BackdropState().c_str());
  }
  if (g_host && IsWindow(g_host) && g_welcome && IsWindowVisible(g_welcome))
    g_welcomeVisibleDuringInstall = true;
}

// A visible message box of the program not recorded before, or null.
HWND NewBox() {
  Enum e;
  EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&e));
  for (HWND h : e.windows) {
    if (!IsWindowVisible(h))
      continue;
    // A dialog met while it was being created had no caption yet and was
    // left unclassified; shown, its caption and styles are final.
    Classify();
    if (h == g_backdrop || h == g_welcome || h == g_host || Seen(h))
      continue;
    return h;
  }
  return nullptr;
}

void RecordBox(HWND box, const char *kind) {
  Sleep(150); // let it paint before its icon is read from the screen
  g_seenBoxes.push_back(box);
  int n = ++g_boxCount;
  std::string text, buttons;
  std::vector<std::pair<int, std::string>> shown;
  for (HWND c : Children(box)) {
    std::string cls = ClassOf(c);
    if (cls == "Static" && GetDlgCtrlID(c) == 0xFFFF)
      text = WindowText(c);
    if (cls == "Button" && IsWindowVisible(c)) {
      RECT r;
      GetWindowRect(c, &r);
      shown.emplace_back(r.left, StripAmpersand(WindowText(c)));
    }
  }
  for (size_t i = 1; i < shown.size(); ++i)
    for (size_t j = i; j > 0 && shown[j - 1].first > shown[j].first; --j)
      std::swap(shown[j - 1], shown[j]);
  for (const auto &b : shown) {
    if (!buttons.empty())
      buttons += ',';
    buttons += b.second;
  }
  HWND owner = GetWindow(box, GW_OWNER);
  Line("%s n=%d owner=%s caption=%s text=%s buttons=%s icon=%s %s "
       "welcome_visible=%s",
       kind, n, Role(owner), Quote(WindowText(box)).c_str(),
       Quote(text).c_str(), buttons.empty() ? "-" : buttons.c_str(),
       IconOf(box).c_str(), BackdropState().c_str(),
       Flag(g_welcome && IsWindowVisible(g_welcome)));
  g_currentBox = box;
  g_currentBoxN = n;
}

// Polls until ready() holds. A message box that appears meanwhile is an
// error unless boxes are what is awaited.
template <class F> bool WaitFor(const char *what, F ready, bool boxOk) {
  DWORD start = GetTickCount();
  for (;;) {
    Classify();
    if (!boxOk && !g_currentBox) {
      if (HWND b = NewBox()) {
        RecordBox(b, "unexpected_box");
        Fail("a message box appeared that no step waited for");
      }
    }
    if (ready())
      return true;
    if (Exited()) {
      // The program may have ended just after ready() was tested; its end
      // is an error only when what was awaited still does not hold.
      if (ready())
        return true;
      std::string w = std::string("program ended while waiting for ") + what;
      Fail(w.c_str());
    }
    if (GetTickCount() - start > g_timeoutMs) {
      std::string w = std::string("timed out waiting for ") + what;
      Fail(w.c_str());
    }
    Sleep(50);
  }
}

void Fail(const char *what) {
  Line("error what=%s", Quote(what).c_str());
  if (!Exited()) {
    TerminateProcess(g_proc.hProcess, 99);
    WaitForSingleObject(g_proc.hProcess, 5000);
  }
  fclose(g_out);
  ExitProcess(2);
}

bool WelcomeReady() {
  static DWORD readySince = 0;
  bool ok = g_welcome && IsWindow(g_welcome) && IsWindowVisible(g_welcome) &&
            IsWindowEnabled(g_welcome) && !g_currentBox;
  if (!ok) {
    readySince = 0;
    return false;
  }
  // Give its initialisation and focus a moment to settle.
  if (!readySince)
    readySince = GetTickCount();
  return GetTickCount() - readySince >= 300;
}

void ClickWelcomeButton(int id) {
  WaitFor("the Welcome dialog", WelcomeReady, false);
  HWND button = GetDlgItem(g_welcome, id);
  if (!button)
    Fail("Welcome button missing");
  PostMessageA(button, BM_CLICK, 0, 0);
  Sleep(100);
}

void Key(WORD vk) {
  WaitFor("the Welcome dialog", WelcomeReady, false);
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  DWORD tid = GetWindowThreadProcessId(g_welcome, nullptr);
  HWND target = g_welcome;
  if (GetGUIThreadInfo(tid, &info) && info.hwndFocus)
    target = info.hwndFocus;
  // Where the key goes: a control of the Welcome dialog by its identifier,
  // the dialog itself, or "none" when the thread has no focus.
  if (target == g_welcome)
    Line("key focus=%s", info.hwndFocus ? "dialog" : "none");
  else
    Line("key focus=%d", GetDlgCtrlID(target));
  UINT scan = MapVirtualKeyA(vk, 0);
  PostMessageA(target, WM_KEYDOWN, vk, 1 | (scan << 16));
  PostMessageA(target, WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000u);
  Sleep(100);
}

void Answer(const char *name) {
  if (!g_currentBox) {
    WaitFor(
        "a message box",
        [] {
          if (HWND b = NewBox())
            RecordBox(b, "box");
          return g_currentBox != nullptr;
        },
        true);
  }
  for (HWND c : Children(g_currentBox)) {
    if (ClassOf(c) != "Button" || !IsWindowVisible(c))
      continue;
    if (lstrcmpiA(StripAmpersand(WindowText(c)).c_str(), name) == 0) {
      Line("answer n=%d button=%s", g_currentBoxN, name);
      PostMessageA(c, BM_CLICK, 0, 0);
      HWND box = g_currentBox;
      g_currentBox = nullptr;
      DWORD start = GetTickCount();
      while (IsWindow(box) && IsWindowVisible(box) &&
             GetTickCount() - start < 10000) {
        Classify();
        Sleep(20);
      }
      if (IsWindow(box) && IsWindowVisible(box))
        Fail("the message box did not close");
      Line("closed n=%d", g_currentBoxN);
      return;
    }
  }
  std::string w = std::string("no button named ") + name;
  Fail(w.c_str());
}

void SyncWithCaller(const char *transcript, const char *name) {
  std::string flag = std::string(transcript) + "." + name;
  FILE *f = fopen(flag.c_str(), "wb");
  if (!f)
    Fail("cannot create the sync file");
  fclose(f);
  Line("sync name=%s", name);
  DWORD start = GetTickCount();
  while (GetFileAttributesA(flag.c_str()) != INVALID_FILE_ATTRIBUTES) {
    if (GetTickCount() - start > g_timeoutMs)
      Fail("nobody released the sync file");
    Sleep(50);
  }
}

void RunStep(const char *transcript, const char *step) {
  Line("step name=%s", step);
  if (!strcmp(step, "welcome"))
    WaitFor("the Welcome dialog", WelcomeReady, false);
  else if (!strcmp(step, "express"))
    ClickWelcomeButton(1002);
  else if (!strcmp(step, "custom"))
    ClickWelcomeButton(1003);
  else if (!strcmp(step, "install"))
    ClickWelcomeButton(1000);
  else if (!strcmp(step, "cancel"))
    ClickWelcomeButton(1001);
  else if (!strcmp(step, "enter"))
    Key(VK_RETURN);
  else if (!strcmp(step, "esc"))
    Key(VK_ESCAPE);
  else if (!strcmp(step, "tab"))
    Key(VK_TAB);
  else if (!strcmp(step, "close")) {
    WaitFor("the Welcome dialog", WelcomeReady, false);
    PostMessageA(g_welcome, WM_SYSCOMMAND, SC_CLOSE, 0);
    Sleep(100);
  } else if (!strcmp(step, "closehost")) {
    WaitFor(
        "the install host", [] { return g_host != nullptr; }, false);
    PostMessageA(g_host, WM_CLOSE, 0, 0);
    Sleep(100);
  } else if (!strcmp(step, "box")) {
    if (!g_currentBox)
      WaitFor(
          "a message box",
          [] {
            if (HWND b = NewBox())
              RecordBox(b, "box");
            return g_currentBox != nullptr;
          },
          true);
  } else if (!strncmp(step, "answer:", 7))
    Answer(step + 7);
  else if (!strncmp(step, "sync:", 5))
    SyncWithCaller(transcript, step + 5);
  else if (!strcmp(step, "picture")) {
    Classify();
    CheckPicture();
  } else if (!strncmp(step, "movebox:", 8))
    MoveBox(step + 8);
  else if (!strncmp(step, "wait:", 5)) {
    DWORD ms = static_cast<DWORD>(strtoul(step + 5, nullptr, 10));
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
      Classify();
      Sleep(20);
    }
  } else {
    std::string w = std::string("unknown step ") + step;
    Fail(w.c_str());
  }
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: driver <transcript> <program> [step...]\n");
    return 2;
  }
  g_out = fopen(argv[1], "wb");
  if (!g_out) {
    fprintf(stderr, "cannot write %s\n", argv[1]);
    return 2;
  }
  if (const char *t = getenv("MERRIK_DRIVER_TIMEOUT_MS"))
    g_timeoutMs = static_cast<DWORD>(strtoul(t, nullptr, 10));

  // The program's folder is the current directory, as when it is opened
  // from the media's folder window.
  char folder[MAX_PATH];
  size_t len = strlen(argv[2]);
  if (len + 3 > sizeof folder) {
    Line("error what=%s", Quote("program path too long").c_str());
    return 2;
  }
  memcpy(folder, argv[2], len + 1);
  if (char *slash = strrchr(folder, '\\'))
    *slash = '\0';
  std::string cmd = std::string("\"") + argv[2] + "\"";
  // Typed at a command prompt in that folder: the command interpreter finds
  // the program itself and passes the command line as typed.
  const char *typed = getenv("MERRIK_DRIVER_COMMAND_LINE");
  const bool asTyped = typed != nullptr && *typed != '\0';
  if (asTyped)
    cmd = typed;
  std::vector<char> cmdBuf(cmd.begin(), cmd.end());
  cmdBuf.push_back('\0');
  Line("start cmdline=%s", Quote(cmd).c_str());
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  if (!CreateProcessA(asTyped ? argv[2] : nullptr, cmdBuf.data(), nullptr,
                      nullptr, FALSE, 0, nullptr, folder, &si, &g_proc)) {
    Line("error what=%s", Quote("cannot start the program").c_str());
    return 2;
  }
  g_program = argv[2];
  for (int i = 3; i < argc; ++i)
    RunStep(argv[1], argv[i]);

  // The script is done: the program must now end by itself.
  WaitFor(
      "the program to end", [] { return Exited(); }, false);
  DWORD code = 0;
  GetExitCodeProcess(g_proc.hProcess, &code);
  Line("exit code=%lu", static_cast<unsigned long>(code));
  Line("summary host_seen=%s welcome_visible_during_install=%s boxes=%d",
       Flag(g_hostSeen), Flag(g_welcomeVisibleDuringInstall), g_boxCount);
  fclose(g_out);
  return 0;
}
