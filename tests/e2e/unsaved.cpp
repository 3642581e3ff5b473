// A program with unsaved work, started beside the setup: one visible
// top-level window titled "Unsaved work" that answers the end-of-session
// question with "not now" (FALSE), as a program does whose user has not
// saved yet. What happens to it is appended, one line each, to X.log beside
// itself (X its own base name):
//   shown        its window is on the screen
//   asked        WM_QUERYENDSESSION, answered FALSE
//   ended <0|1>  WM_ENDSESSION with its wParam (0: the session goes on)
// It runs until it is ended from outside.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

char g_log[MAX_PATH];

void Log(const char *line) {
  FILE *f = fopen(g_log, "ab");
  if (!f)
    return;
  fprintf(f, "%s\r\n", line);
  fclose(f);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam,
                            LPARAM lParam) {
  switch (message) {
  case WM_QUERYENDSESSION:
    Log("asked");
    return FALSE;
  case WM_ENDSESSION:
    Log(wParam ? "ended 1" : "ended 0");
    return 0;
  case WM_DESTROY:
    PostQuitMessage(0);
    return 0;
  default:
    return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  DWORD n = GetModuleFileNameA(nullptr, g_log, sizeof g_log);
  char *dot = strrchr(g_log, '.');
  if (n == 0 || n >= sizeof g_log || !dot ||
      static_cast<size_t>(dot - g_log) + 5 > sizeof g_log)
    return 1;
  strcpy(dot, ".log");

  WNDCLASSA wc = {};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = "UnsavedWork";
  if (!RegisterClassA(&wc))
    return 1;
  HWND window = CreateWindowExA(0, wc.lpszClassName, "Unsaved work",
                                WS_OVERLAPPEDWINDOW, 600, 420, 320, 240,
                                nullptr, nullptr, instance, nullptr);
  if (!window)
    return 1;
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  Log("shown");
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
