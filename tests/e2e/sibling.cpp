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
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

const size_t kPath = MAX_PATH;

// Appends text to buf (capacity cap, zero-terminated); false when it does not
// fit, leaving buf unchanged.
bool Append(char *buf, size_t cap, const char *text) {
  size_t used = strlen(buf);
  size_t add = strlen(text);
  if (used + add + 1 > cap)
    return false;
  memcpy(buf + used, text, add + 1);
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

// Reads the third line of a hand-off file: the bytes from offset 6 up to the
// first CR or the end of the file. False when the file is unreadable, the
// line is empty, or it does not fit the buffer.
bool ReadTargetDir(const char *handoff, char *dir, size_t cap) {
  FILE *f = fopen(handoff, "rb");
  if (!f)
    return false;
  bool ok = fseek(f, 6, SEEK_SET) == 0;
  size_t n = 0;
  int c;
  while (ok && (c = fgetc(f)) != EOF && c != '\r') {
    if (n + 1 >= cap)
      ok = false;
    else
      dir[n++] = static_cast<char>(c);
  }
  dir[n] = '\0';
  fclose(f);
  return ok && n > 0;
}

// Creates dir and every missing parent.
bool MakeDirs(const char *dir) {
  char part[kPath];
  size_t len = strlen(dir);
  if (len >= sizeof part)
    return false;
  memcpy(part, dir, len + 1);
  for (size_t i = 1; i <= len; ++i) {
    if (part[i] != '\\' && part[i] != '/' && part[i] != '\0')
      continue;
    if (i == 2 && part[1] == ':')
      continue; // drive root "C:"
    char keep = part[i];
    part[i] = '\0';
    if (!IsDirectory(part) && !CreateDirectoryA(part, nullptr) &&
        !IsDirectory(part))
      return false;
    part[i] = keep;
  }
  return true;
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
    if (!strcmp(name, ".") || !strcmp(name, ".."))
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
  FILE *f = fopen(path, "rb");
  if (!f)
    return 0;
  unsigned long ms = 0;
  int c;
  while ((c = fgetc(f)) == ' ' || c == '\t' || c == '\r' || c == '\n') {
  }
  while (c >= '0' && c <= '9') {
    ms = ms * 10 + static_cast<unsigned long>(c - '0');
    if (ms > 86400000UL)
      ms = 86400000UL;
    c = fgetc(f);
  }
  fclose(f);
  return static_cast<DWORD>(ms);
}

// Shows the window "<name> window" (400 by 300 at 100,100) and services its
// messages for `ms` milliseconds, then destroys it. Without a window (it
// cannot be made) the wait is a plain one.
void WaitWithWindow(const char *name, DWORD ms) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA wc = {};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
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

// Appends "<start> <end>" (performance counter readings) as one line to the
// file. A missing or unwritable file only loses the reading.
void AppendTimes(const char *path, const LARGE_INTEGER &start) {
  LARGE_INTEGER end;
  QueryPerformanceCounter(&end);
  FILE *f = fopen(path, "ab");
  if (!f)
    return;
  fprintf(f, "%lld %lld\r\n", static_cast<long long>(start.QuadPart),
          static_cast<long long>(end.QuadPart));
  fclose(f);
}

int Run() {
  LARGE_INTEGER started;
  QueryPerformanceCounter(&started);
  char self[kPath];
  DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  if (n == 0 || n >= sizeof self)
    return 1;
  // Base path: the own path without its extension.
  char *slash = strrchr(self, '\\');
  char *dot = strrchr(self, '.');
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

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return Run(); }
