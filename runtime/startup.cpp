// The process entry of MERRIK.EXE, in place of a C runtime's start-up code:
// it constructs the static objects, runs WinMain with the command line that
// follows the program's name and the show state the starter asked for, runs
// the functions registered for the exit (the static objects' destructors,
// in the reverse order of their construction) and ends the process with
// WinMain's result.
#include <windows.h>

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance,
                   LPSTR lpCmdLine, int nCmdShow);

extern "C" {
// The linker's table of static constructors: -1, the constructor functions,
// then 0. The compiler registers each static object's destructor with
// atexit once the object is constructed.
typedef void (*StaticFunction)();
extern StaticFunction __CTOR_LIST__[];

int atexit(void (*function)());
void __stdcall ProgramEntry();
}

namespace {
// The setup has two static objects with destructors; room for many more.
const int MAX_EXIT_FUNCTIONS = 32;
StaticFunction g_exitFunctions[MAX_EXIT_FUNCTIONS];
int g_exitCount = 0;

// Constructors in the order the linker's table runs them: from its end back
// to its start, as the objects of one source file are listed in order.
void RunConstructors() {
  int count = 0;
  while (__CTOR_LIST__[count + 1] != nullptr)
    ++count;
  for (int i = count; i >= 1; --i)
    __CTOR_LIST__[i]();
}

void RunExitFunctions() {
  while (g_exitCount > 0)
    g_exitFunctions[--g_exitCount]();
}

// The command line after the program's name (quoted or not) and the blanks
// that follow it, as WinMain receives it.
LPSTR ArgumentsOf(LPSTR commandLine) {
  char *p = commandLine;
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"')
      ++p;
    if (*p == '"')
      ++p;
  } else {
    while (static_cast<unsigned char>(*p) > ' ')
      ++p;
  }
  while (*p != '\0' && static_cast<unsigned char>(*p) <= ' ')
    ++p;
  return p;
}
} // namespace

int atexit(void (*function)()) {
  if (g_exitCount == MAX_EXIT_FUNCTIONS)
    return -1;
  g_exitFunctions[g_exitCount++] = function;
  return 0;
}

void __stdcall ProgramEntry() {
  RunConstructors();
  STARTUPINFOA startup;
  startup.cb = sizeof(startup);
  GetStartupInfoA(&startup);
  int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow
                                                      : SW_SHOWDEFAULT;
  int status = WinMain(GetModuleHandleA(nullptr), nullptr,
                       ArgumentsOf(GetCommandLineA()), show);
  RunExitFunctions();
  ExitProcess(static_cast<UINT>(status));
}
