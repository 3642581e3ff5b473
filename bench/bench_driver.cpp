// Timing driver of the benchmark: starts an installer as a user would (its
// path in double quotes as the whole command line, its folder as the current
// directory), clicks Install when it has a Welcome dialog, waits for the
// message box that ends the measured stretch, answers it, and writes what it
// saw with readings of the performance counter, the clock the sibling
// stand-ins write into X.times.
//
//   bench_driver.exe <report> <program> [option...]
//
// Options:
//   --welcome           wait for the "Welcome" dialog and click Install (1000)
//   --box <caption>     caption of the message box awaited (default Success)
//   --answer <button>   button that answers it (default Cancel)
//   --reset             first remove what an earlier run left: the suite's
//                       registry keys, install.tmp, the group's shell window
//   --timeout <ms>      give up after this long (default 600000)
//
// Report lines (counter readings as decimal numbers):
//   freq <counts per second>
//   launch <counter>              just before the program is started
//   click <counter>               just before Install is clicked
//   box <counter>                 the awaited box is first seen visible
//   peak_working_set <bytes>      the program's peak, read when the box shows
//   exit <code>
//   error <text>                  the driver gave up (exit status 2)
// RegDeleteTreeA is declared for Vista and later; Wine has it whatever
// version it reports.
#define _WIN32_WINNT 0x0600
#include <windows.h>
// After windows.h, whose types it uses.
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

FILE *g_out = nullptr;
PROCESS_INFORMATION g_proc = {};
DWORD g_timeoutMs = 600000;

long long Now() {
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return c.QuadPart;
}

long long Frequency() {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return f.QuadPart;
}

void Fail(const char *what) {
  fprintf(g_out, "error %s\n", what);
  fclose(g_out);
  if (g_proc.hProcess && WaitForSingleObject(g_proc.hProcess, 0) != 0)
    TerminateProcess(g_proc.hProcess, 99);
  ExitProcess(2);
}

std::string Text(HWND h) {
  char buf[256];
  int n = GetWindowTextA(h, buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string ClassOf(HWND h) {
  char buf[64];
  int n = GetClassNameA(h, buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

struct Search {
  DWORD pid;
  const char *title;
  bool othersOnly;
  std::vector<HWND> found;
};

BOOL CALLBACK Collect(HWND h, LPARAM lp) {
  Search *s = reinterpret_cast<Search *>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if ((pid == s->pid) != s->othersOnly && IsWindowVisible(h) &&
      Text(h) == s->title)
    s->found.push_back(h);
  return TRUE;
}

// A visible top-level dialog of the program with this title, or null.
HWND FindDialog(const char *title) {
  Search s = {g_proc.dwProcessId, title, false, {}};
  EnumWindows(Collect, reinterpret_cast<LPARAM>(&s));
  for (HWND h : s.found)
    if (ClassOf(h) == "#32770")
      return h;
  return nullptr;
}

// Removes what an earlier run left behind, so that the setup's
// existing-installation test passes and every run starts alike.
void Reset() {
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\VKO");
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\VKO");
  RegDeleteTreeA(HKEY_LOCAL_MACHINE,
                 "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                 "VKO DMI");
  RegDeleteKeyA(HKEY_LOCAL_MACHINE,
                "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                "VKO DMI");
  HKEY run;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE,
                  "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                  &run) == ERROR_SUCCESS) {
    RegDeleteValueA(run, "ZEZOroza");
    RegCloseKey(run);
  }
  RegFlushKey(HKEY_LOCAL_MACHINE);
  char windows[MAX_PATH];
  UINT n = GetWindowsDirectoryA(windows, sizeof windows);
  if (n > 0 && n + 13 < sizeof windows) {
    strcat(windows, "\\install.tmp");
    DeleteFileA(windows);
  }
  // The shell opens a folder window for every group it creates.
  Search s = {0, "VKO Halvermont", true, {}};
  EnumWindows(Collect, reinterpret_cast<LPARAM>(&s));
  for (HWND h : s.found)
    PostMessageA(h, WM_CLOSE, 0, 0);
}

template <class F> void WaitFor(const char *what, F ready, DWORD pauseMs) {
  DWORD start = GetTickCount();
  while (!ready()) {
    // The program may have ended right after the check: look once more.
    if (WaitForSingleObject(g_proc.hProcess, 0) == 0 && !ready()) {
      std::string w = std::string("program ended while waiting for ") + what;
      Fail(w.c_str());
    }
    if (GetTickCount() - start > g_timeoutMs) {
      std::string w = std::string("timed out waiting for ") + what;
      Fail(w.c_str());
    }
    Sleep(pauseMs);
  }
}

BOOL CALLBACK CollectChild(HWND h, LPARAM lp) {
  reinterpret_cast<std::vector<HWND> *>(lp)->push_back(h);
  return TRUE;
}

void Press(HWND box, const char *name) {
  std::vector<HWND> children;
  EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&children));
  for (HWND c : children) {
    std::string t;
    for (char ch : Text(c))
      if (ch != '&')
        t += ch;
    if (ClassOf(c) == "Button" && lstrcmpiA(t.c_str(), name) == 0) {
      PostMessageA(c, BM_CLICK, 0, 0);
      return;
    }
  }
  Fail("no such button in the box");
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: bench_driver <report> <program> [option...]\n");
    return 2;
  }
  g_out = fopen(argv[1], "wb");
  if (!g_out)
    return 2;
  bool welcome = false, reset = false;
  const char *caption = "Success";
  const char *answer = "Cancel";
  for (int i = 3; i < argc; ++i) {
    std::string o = argv[i];
    bool more = i + 1 < argc;
    if (o == "--welcome")
      welcome = true;
    else if (o == "--reset")
      reset = true;
    else if (o == "--box" && more)
      caption = argv[++i];
    else if (o == "--answer" && more)
      answer = argv[++i];
    else if (o == "--timeout" && more)
      g_timeoutMs = strtoul(argv[++i], nullptr, 10);
    else
      Fail("unknown option");
  }
  if (reset)
    Reset();

  char folder[MAX_PATH];
  size_t len = strlen(argv[2]);
  if (len + 3 > sizeof folder)
    Fail("program path too long");
  memcpy(folder, argv[2], len + 1);
  if (char *slash = strrchr(folder, '\\'))
    *slash = '\0';
  std::string cmd = std::string("\"") + argv[2] + "\"";
  std::vector<char> cmdBuf(cmd.begin(), cmd.end());
  cmdBuf.push_back('\0');
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  fprintf(g_out, "freq %lld\n", Frequency());
  fprintf(g_out, "launch %lld\n", Now());
  if (!CreateProcessA(nullptr, cmdBuf.data(), nullptr, nullptr, FALSE, 0,
                      nullptr, folder, &si, &g_proc))
    Fail("cannot start the program");

  if (welcome) {
    HWND dialog = nullptr;
    WaitFor(
        "the Welcome dialog",
        [&] {
          dialog = FindDialog("Welcome");
          return dialog != nullptr && IsWindowEnabled(dialog);
        },
        20);
    Sleep(300); // let its initialisation settle, as a user's click would
    HWND install = GetDlgItem(dialog, 1000);
    if (!install)
      Fail("no Install button");
    fprintf(g_out, "click %lld\n", Now());
    PostMessageA(install, BM_CLICK, 0, 0);
  }

  // The box is looked for every millisecond, so that its time is the time it
  // appeared.
  HWND box = nullptr;
  WaitFor(
      "the message box",
      [&] {
        box = FindDialog(caption);
        return box != nullptr;
      },
      1);
  fprintf(g_out, "box %lld\n", Now());

  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof memory;
  if (GetProcessMemoryInfo(g_proc.hProcess, &memory, sizeof memory))
    fprintf(g_out, "peak_working_set %lu\n",
            static_cast<unsigned long>(memory.PeakWorkingSetSize));
  Sleep(100); // let it paint before it is answered
  Press(box, answer);
  if (WaitForSingleObject(g_proc.hProcess, g_timeoutMs) != WAIT_OBJECT_0)
    Fail("timed out waiting for the program to end");
  DWORD code = 0;
  GetExitCodeProcess(g_proc.hProcess, &code);
  fprintf(g_out, "exit %lu\n", static_cast<unsigned long>(code));
  fclose(g_out);
  return 0;
}
