// Stand-in for the suite's sibling programs (Sondel.exe, Quillan.exe,
// Tessary.exe). One binary, copied under each name; what a copy does is given
// by files beside it, named after its own base name X:
//   X.handoff  its bytes are written verbatim to <Windows dir>\install.tmp
//   X.files\   every file in it is copied into the directory named by the
//              third line of X.handoff (bytes from offset 6 up to the first
//              CR), which is created with any missing parents
//   X.sleep    decimal milliseconds to wait before exiting
//   X.window   a visible top-level window titled "X window", 400 by 300 at
//              100,100, is shown and serviced during that wait, as a real
//              pre-setup program shows one (without X.sleep it is shown and
//              gone at once)
// Then it appends one line to X.times beside itself: the performance counter
// at its start and at its end, two decimal numbers, so that a driver reading
// the same counter can time the setup between programs. Then it exits with 0. A
// path that does not fit its buffer, or a copy that fails, ends the program
// with 1 so that a broken fixture is not mistaken for a sibling that did its
// work.
//
// Like the programs it stands for on a media, it runs on Windows 95 and NT
// 4.0 on a 486: it is compiled for the 486 and links no C runtime and no
// start-up code (its own entry point, SiblingEntry), so that it imports from
// KERNEL32 and USER32 only and holds no instruction newer than the 486
// (mediacheck checks both).
#include <windows.h>

namespace {

const DWORD kPath = MAX_PATH;

size_t Length(const char *text) {
  size_t n = 0;
  while (text[n] != '\0')
    ++n;
  return n;
}

bool Same(const char *a, const char *b) {
  while (*a != '\0' && *a == *b)
    ++a, ++b;
  return *a == *b;
}

// The last `c` in `text`, or nullptr.
char *LastOf(char *text, char c) {
  char *found = nullptr;
  for (; *text != '\0'; ++text)
    if (*text == c)
      found = text;
  return found;
}

// Appends text to buf (capacity cap, zero-terminated); false when it does not
// fit, leaving buf unchanged.
bool Append(char *buf, size_t cap, const char *text) {
  size_t used = Length(buf);
  size_t add = Length(text);
  if (used + add + 1 > cap)
    return false;
  for (size_t i = 0; i <= add; ++i)
    buf[used + i] = text[i];
  return true;
}

bool Join(char *out, size_t cap, const char *a, const char *b, const char *c) {
  out[0] = '\0';
  return Append(out, cap, a) && Append(out, cap, b) && Append(out, cap, c);
}

bool Exists(const char *path) {
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const char *path) {
  DWORD attr = GetFileAttributesA(path);
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

// A file read byte by byte through a buffer.
struct Reader {
  HANDLE file;
  char buffer[512];
  DWORD length;
  DWORD next;
};

bool Open(Reader &r, const char *path) {
  r.file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  r.length = r.next = 0;
  return r.file != INVALID_HANDLE_VALUE;
}

// The next byte, or -1 at the end of the file or on an error.
int Next(Reader &r) {
  if (r.next == r.length) {
    r.next = 0;
    if (!ReadFile(r.file, r.buffer, sizeof r.buffer, &r.length, nullptr))
      r.length = 0;
    if (r.length == 0)
      return -1;
  }
  return static_cast<unsigned char>(r.buffer[r.next++]);
}

// Reads the third line of a hand-off file: the bytes from offset 6 up to the
// first CR or the end of the file. False when the file is unreadable, the
// line is empty, or it does not fit the buffer.
bool ReadTargetDir(const char *handoff, char *dir, size_t cap) {
  Reader r;
  if (!Open(r, handoff))
    return false;
  bool ok = SetFilePointer(r.file, 6, nullptr, FILE_BEGIN) == 6;
  size_t n = 0;
  int c;
  while (ok && (c = Next(r)) != -1 && c != '\r') {
    if (n + 1 >= cap)
      ok = false;
    else
      dir[n++] = static_cast<char>(c);
  }
  dir[n] = '\0';
  CloseHandle(r.file);
  return ok && n > 0;
}

// Creates dir and every missing parent. The name is walked by characters:
// in a double-byte code page a trail byte 0x5C is no separator.
bool MakeDirs(const char *dir) {
  char part[kPath];
  size_t len = Length(dir);
  if (len >= sizeof part)
    return false;
  if (len == 0)
    return true;
  for (size_t i = 0; i <= len; ++i)
    part[i] = dir[i];
  for (char *at = CharNextA(part);; at = CharNextA(at)) {
    if (*at != '\\' && *at != '/' && *at != '\0')
      continue;
    if (at == part + 2 && part[1] == ':')
      continue; // drive root "C:"
    char keep = *at;
    *at = '\0';
    if (!IsDirectory(part) && !CreateDirectoryA(part, nullptr) &&
        !IsDirectory(part))
      return false;
    if (keep == '\0')
      return true;
    *at = keep;
  }
}

bool CopyTree(const char *from, const char *to) {
  if (!MakeDirs(to))
    return false;
  char pattern[kPath];
  if (!Join(pattern, sizeof pattern, from, "\\*", ""))
    return false;
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(pattern, &found);
  if (h == INVALID_HANDLE_VALUE)
    return true; // an empty folder copies nothing
  bool ok = true;
  do {
    const char *name = found.cFileName;
    if (Same(name, ".") || Same(name, ".."))
      continue;
    char src[kPath], dst[kPath];
    if (!Join(src, sizeof src, from, "\\", name) ||
        !Join(dst, sizeof dst, to, "\\", name)) {
      ok = false;
      continue;
    }
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      ok = CopyTree(src, dst) && ok;
    else
      ok = CopyFileA(src, dst, FALSE) && ok;
  } while (FindNextFileA(h, &found));
  FindClose(h);
  return ok;
}

// The number of milliseconds written in the file (leading decimal digits,
// at most 24 hours); 0 without the file.
DWORD WaitAsTold(const char *path) {
  Reader r;
  if (!Open(r, path))
    return 0;
  unsigned long ms = 0;
  int c;
  while ((c = Next(r)) == ' ' || c == '\t' || c == '\r' || c == '\n') {
  }
  while (c >= '0' && c <= '9') {
    ms = ms * 10 + static_cast<unsigned long>(c - '0');
    if (ms > 86400000UL)
      ms = 86400000UL;
    c = Next(r);
  }
  CloseHandle(r.file);
  return static_cast<DWORD>(ms);
}

// Shows the window "<name> window" (400 by 300 at 100,100) and services its
// messages for `ms` milliseconds, then destroys it. Without a window (it
// cannot be made) the wait is a plain one.
void WaitWithWindow(const char *name, DWORD ms) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA wc;
  wc.style = 0;
  wc.lpfnWndProc = DefWindowProcA;
  wc.cbClsExtra = 0;
  wc.cbWndExtra = 0;
  wc.hInstance = instance;
  wc.hIcon = nullptr;
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszMenuName = nullptr;
  wc.lpszClassName = "SiblingWindow";
  char title[kPath];
  HWND window = nullptr;
  if (RegisterClassA(&wc) && Join(title, sizeof title, name, " window", ""))
    window =
        CreateWindowExA(0, wc.lpszClassName, title, WS_OVERLAPPEDWINDOW, 100,
                        100, 400, 300, nullptr, nullptr, instance, nullptr);
  if (!window) {
    Sleep(ms);
    return;
  }
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    DWORD waited = GetTickCount() - start;
    if (waited >= ms)
      break;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - waited, QS_ALLINPUT);
  }
  DestroyWindow(window);
}

// Writes `value` in decimal at `out` (room for 20 characters) and returns
// the end. Digit by digit with subtractions of powers of ten: a 64-bit
// division would need a compiler helper from a library built for later CPUs.
char *Decimal(char *out, long long value) {
  static const unsigned long long kPowers[] = {10000000000000000000ULL,
                                               1000000000000000000ULL,
                                               100000000000000000ULL,
                                               10000000000000000ULL,
                                               1000000000000000ULL,
                                               100000000000000ULL,
                                               10000000000000ULL,
                                               1000000000000ULL,
                                               100000000000ULL,
                                               10000000000ULL,
                                               1000000000ULL,
                                               100000000ULL,
                                               10000000ULL,
                                               1000000ULL,
                                               100000ULL,
                                               10000ULL,
                                               1000ULL,
                                               100ULL,
                                               10ULL,
                                               1ULL};
  unsigned long long v = static_cast<unsigned long long>(value);
  if (value < 0) {
    *out++ = '-';
    v = 0 - v;
  }
  bool started = false;
  for (unsigned long long power : kPowers) {
    char digit = '0';
    while (v >= power) {
      v -= power;
      ++digit;
    }
    if (digit != '0' || started || power == 1) {
      *out++ = digit;
      started = true;
    }
  }
  return out;
}

// Appends "<start> <end>" (performance counter readings) as one line to the
// file. A missing or unwritable file only loses the reading.
void AppendTimes(const char *path, const LARGE_INTEGER &start) {
  LARGE_INTEGER end;
  QueryPerformanceCounter(&end);
  HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE)
    return;
  char line[48];
  char *at = Decimal(line, start.QuadPart);
  *at++ = ' ';
  at = Decimal(at, end.QuadPart);
  *at++ = '\r';
  *at++ = '\n';
  DWORD written;
  SetFilePointer(f, 0, nullptr, FILE_END);
  WriteFile(f, line, static_cast<DWORD>(at - line), &written, nullptr);
  CloseHandle(f);
}

int Run() {
  LARGE_INTEGER started;
  QueryPerformanceCounter(&started);
  char self[kPath];
  DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  if (n == 0 || n >= sizeof self)
    return 1;
  // Base path: the own path without its extension.
  char *slash = LastOf(self, '\\');
  char *dot = LastOf(self, '.');
  if (dot && (!slash || dot > slash))
    *dot = '\0';

  char handoff[kPath], files[kPath], sleep[kPath], window[kPath], times[kPath];
  if (!Join(handoff, sizeof handoff, self, ".handoff", "") ||
      !Join(files, sizeof files, self, ".files", "") ||
      !Join(sleep, sizeof sleep, self, ".sleep", "") ||
      !Join(window, sizeof window, self, ".window", "") ||
      !Join(times, sizeof times, self, ".times", ""))
    return 1;

  int result = 0;
  if (Exists(handoff)) {
    char windir[kPath], target[kPath];
    UINT w = GetWindowsDirectoryA(windir, sizeof windir);
    if (w == 0 || w >= sizeof windir ||
        !Join(target, sizeof target, windir, "\\install.tmp", "") ||
        !CopyFileA(handoff, target, FALSE))
      result = 1;
  }
  if (IsDirectory(files)) {
    char dir[kPath];
    if (!ReadTargetDir(handoff, dir, sizeof dir) || !CopyTree(files, dir))
      result = 1;
  }
  DWORD ms = WaitAsTold(sleep);
  if (Exists(window))
    WaitWithWindow(slash ? slash + 1 : self, ms);
  else
    Sleep(ms);
  AppendTimes(times, started);
  return result;
}

} // namespace

// The entry point: no C runtime start-up runs before it.
extern "C" void __stdcall SiblingEntry() {
  ExitProcess(static_cast<UINT>(Run()));
}
