// Restart request, with the shutdown privilege on Windows NT.
#include "engine/system_restart.h"

#include <windows.h>

#include "state/install_log.h"
#include "state/install_state.h"

#include <cstring>

// Enables the shutdown privilege in the process's own token. Returns true
// when it is enabled. The token handle is closed before returning; the
// privilege stays enabled in the token.
static bool EnableShutdownPrivilege() {
  HANDLE token = nullptr;
  char outcome[32];
  const BOOL opened = OpenProcessToken(
      GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token);
  LogLine("OpenProcessToken: %s",
          CallOutcome(outcome, opened != FALSE, GetLastError()));
  if (!opened)
    return false;

  TOKEN_PRIVILEGES privileges;
  std::memset(&privileges, 0, sizeof privileges);
  const BOOL found = LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME,
                                           &privileges.Privileges[0].Luid);
  LogLine("LookupPrivilegeValueA " SE_SHUTDOWN_NAME ": %s",
          CallOutcome(outcome, found != FALSE, GetLastError()));
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  const BOOL adjusted =
      AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  // The call succeeds even when the account does not hold the privilege;
  // only the last error tells. Read it before closing changes it.
  const DWORD error = GetLastError();
  LogLine("AdjustTokenPrivileges: %s, last error %u",
          adjusted ? "ok" : "failed", static_cast<unsigned>(error));
  CloseHandle(token);
  return error == 0;
}

// The setup's exit status once the restart is accepted.
static const int32_t kExitRestartStarted = 1641;

// The restart is an ordinary one on both platforms: programs with unsaved
// work ask their user, and one that refuses stops the restart. Forcing it
// would close them without asking and lose that work.
int RestartWindows() {
  if (g_platform == 0 && !EnableShutdownPrivilege()) {
    LogLine("restart not requested: the shutdown privilege is not enabled");
    return 1;
  }
  // The log's last words come first: once the request is accepted, Windows
  // may end the process at any moment. A refusal adds the status that
  // follows from it at the end.
  LogExitStatus(kExitRestartStarted);
  const BOOL requested = ExitWindowsEx(EWX_REBOOT, 0);
  char outcome[32];
  LogLine("ExitWindowsEx EWX_REBOOT: %s",
          CallOutcome(outcome, requested != FALSE, GetLastError()));
  return requested ? 0 : 1;
}
