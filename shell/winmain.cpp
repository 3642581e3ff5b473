// The program's entry point on Windows: the framework's start-up code runs
// the application object and returns the process exit status.
#include <windows.h>

#include "framework/framework.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/,
                   LPSTR lpCmdLine, int nCmdShow) {
  return AfxWinMain(hInstance, lpCmdLine, nCmdShow);
}
