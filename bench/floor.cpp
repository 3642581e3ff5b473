// The floor of the benchmark: the least a program can do for the same job.
// It runs Utility\Sondel.exe and Utility\Quillan.exe beside itself one after
// the other, waits 1000 ms and asks the success question, with no window of
// its own. Before each start it appends the performance counter to X.times
// beside itself (X: its own base name), which gives the system's own cost of
// starting a program (up to the sibling's first reading in its X.times).
//
// With X.dde beside it (one Program Manager command per line), it also holds
// the setup's exchange with Program Manager before the wait: initialise,
// connect to "Progman", every command as a synchronous execute that waits up
// to 10 s for Program Manager's answer (the setup's own time-out), disconnect,
// uninitialise. That is the least the platform costs for the group.
//
// With X.timer beside it, the job runs on a second thread while the first
// keeps a window with a 10 ms timer and a message loop, as the setup's status
// timer does: the least the platform costs for that polling.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

char g_folder[MAX_PATH];
char g_base[MAX_PATH]; // own path without its extension

void Stamp() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  char path[MAX_PATH + 16];
  snprintf(path, sizeof path, "%s.times", g_base);
  if (FILE *f = fopen(path, "ab")) {
    fprintf(f, "%lld\r\n", static_cast<long long>(now.QuadPart));
    fclose(f);
  }
}

bool RunAndWait(const char *name) {
  char commandLine[MAX_PATH + 32];
  snprintf(commandLine, sizeof commandLine, "%s\\Utility\\%s", g_folder, name);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  Stamp();
  if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &si, &pi))
    return false;
  WaitForSingleObject(pi.hProcess, INFINITE);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

HDDEDATA CALLBACK Callback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR,
                           ULONG_PTR) {
  return nullptr;
}

void ProgmanExchange() {
  char path[MAX_PATH + 16];
  snprintf(path, sizeof path, "%s.dde", g_base);
  FILE *f = fopen(path, "rb");
  if (!f)
    return;
  DWORD instance = 0;
  DdeInitializeA(&instance, Callback,
                 APPCMD_CLIENTONLY | CBF_SKIP_ALLNOTIFICATIONS, 0);
  HSZ progman = DdeCreateStringHandleA(instance, "Progman", 0);
  HCONV conv = DdeConnect(instance, progman, progman, nullptr);
  char line[512];
  while (fgets(line, sizeof line, f)) {
    line[strcspn(line, "\r\n")] = '\0';
    if (line[0] == '\0')
      continue;
    DWORD result = 0;
    DdeClientTransaction(reinterpret_cast<LPBYTE>(line),
                         static_cast<DWORD>(strlen(line) + 1), conv, nullptr, 0,
                         XTYP_EXECUTE, 10000, &result);
  }
  fclose(f);
  if (conv)
    DdeDisconnect(conv);
  DdeUninitialize(instance);
}

int Job() {
  if (!RunAndWait("Sondel.exe") || !RunAndWait("Quillan.exe"))
    return 1;
  ProgmanExchange();
  Sleep(1000);
  MessageBoxA(nullptr,
              "VKO Halvermont, successfully Installed!\nWindows will restart "
              "now! ",
              "Success", MB_OKCANCEL | MB_TOPMOST);
  return 0;
}

DWORD g_mainThread = 0;

DWORD WINAPI JobThread(LPVOID) {
  int result = Job();
  PostThreadMessageA(g_mainThread, WM_QUIT, static_cast<WPARAM>(result), 0);
  return 0;
}

// Runs the job beside a window whose 10 ms timer is only dispatched.
int JobWithTimer(HINSTANCE instance) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = instance;
  wc.lpszClassName = "FloorTimer";
  RegisterClassA(&wc);
  HWND window = CreateWindowA("FloorTimer", "", WS_POPUP, 0, 0, 10, 10, nullptr,
                              nullptr, instance, nullptr);
  if (!window || !SetTimer(window, 1, 10, nullptr))
    return 1;
  g_mainThread = GetCurrentThreadId();
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // the queue exists now
  HANDLE job = CreateThread(nullptr, 0, JobThread, nullptr, 0, nullptr);
  if (!job)
    return 1;
  CloseHandle(job);
  while (GetMessageA(&msg, nullptr, 0, 0) > 0)
    DispatchMessageA(&msg);
  return static_cast<int>(msg.wParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  DWORD n = GetModuleFileNameA(nullptr, g_folder, sizeof g_folder);
  if (n == 0 || n >= sizeof g_folder)
    return 1;
  memcpy(g_base, g_folder, n + 1);
  if (char *dot = strrchr(g_base, '.'))
    *dot = '\0';
  if (char *slash = strrchr(g_folder, '\\'))
    *slash = '\0';
  char timer[MAX_PATH + 16];
  snprintf(timer, sizeof timer, "%s.timer", g_base);
  if (GetFileAttributesA(timer) != INVALID_FILE_ATTRIBUTES)
    return JobWithTimer(instance);
  return Job();
}
