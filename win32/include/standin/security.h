// Test-facing side of the stand-in's token calls and ExitWindowsEx.
//
// Journal entries (standin/journal.h):
//   OpenProcessToken access=0x<mask> -> <0|1>
//   LookupPrivilegeValueA <system> "<name>" -> <0|1>
//   AdjustTokenPrivileges disableAll=<0|1> count=<n> attributes=0x<a>[,..]
//     -> <0|1> error=<last error>            (one line)
//   ExitWindowsEx flags=0x<flags> reason=0x<reason> -> <result>
// Masks, attributes and flags are 8-digit upper-case hex.
#ifndef STANDIN_SECURITY_H
#define STANDIN_SECURITY_H

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace standin {

// What AdjustTokenPrivileges does with the privileges it is asked to enable.
enum class PrivilegeOutcome {
  Held,    // TRUE, last error 0
  NotHeld, // TRUE, last error ERROR_NOT_ALL_ASSIGNED (nothing enabled)
  Fails,   // FALSE, last error ERROR_ACCESS_DENIED
};

// Token opens, privilege held, ExitWindowsEx answers TRUE; no records.
void resetSecurity();

// OpenProcessToken fails (FALSE, last error ERROR_ACCESS_DENIED, no handle).
void setTokenOpenFails(bool fails);
void setPrivilegeOutcome(PrivilegeOutcome outcome);
// What ExitWindowsEx returns; with FALSE it sets this last error.
void setExitWindowsResult(BOOL result, DWORD error = ERROR_ACCESS_DENIED);

struct TokenOpenCall {
  HANDLE process = nullptr;
  DWORD access = 0;
  BOOL result = FALSE;
};
struct PrivilegeLookupCall {
  std::optional<std::string> systemName;
  std::optional<std::string> name;
  LUID luid = {0, 0};
  BOOL result = FALSE;
};
struct AdjustCall {
  bool validToken = false;
  BOOL disableAll = FALSE;
  DWORD count = 0;
  std::vector<LUID_AND_ATTRIBUTES> privileges; // the first count entries
  DWORD bufferLength = 0;
  bool previousState = false; // a pointer was passed
  bool returnLength = false;
  BOOL result = FALSE;
  DWORD error = 0; // last error left by the call
};
struct ExitWindowsCall {
  UINT flags = 0;
  DWORD reason = 0;
  BOOL result = FALSE;
};

std::vector<TokenOpenCall> tokenOpenCalls();
std::vector<PrivilegeLookupCall> privilegeLookupCalls();
std::vector<AdjustCall> adjustCalls();
std::vector<ExitWindowsCall> exitWindowsCalls();
// True once an AdjustTokenPrivileges call has enabled the shutdown
// privilege with the outcome Held.
bool shutdownPrivilegeEnabled();

} // namespace standin

#endif
