// Restart request, with the shutdown privilege on Windows NT.
#include "engine/system_restart.h"

#include <windows.h>

#include "state/install_state.h"

#include <cstring>

// Enables the shutdown privilege in the process's own token. Returns true
// when it is enabled. The token handle is closed before returning; the
// privilege stays enabled in the token.
static bool EnableShutdownPrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(),
                        TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
    return false;

  TOKEN_PRIVILEGES privileges;
  std::memset(&privileges, 0, sizeof privileges);
  LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME,
                        &privileges.Privileges[0].Luid);
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  // The call succeeds even when the account does not hold the privilege;
  // only the last error tells. Read it before closing changes it.
  const DWORD error = GetLastError();
  CloseHandle(token);
  return error == 0;
}

// The restart is an ordinary one on both platforms: programs with unsaved
// work ask their user, and one that refuses stops the restart. Forcing it
// would close them without asking and lose that work.
int RestartWindows() {
  if (g_platform == 0 && !EnableShutdownPrivilege())
    return 1;
  return ExitWindowsEx(EWX_REBOOT, 0) ? 0 : 1;
}
