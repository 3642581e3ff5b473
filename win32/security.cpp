// The stand-in's token and privilege calls, with outcomes a test chooses,
// and the restart request.
#include "standin/security.h"
#include "standin/faults.h"
#include "standin/journal.h"
#include "standin/kernel.h"

#include <cstdio>
#include <mutex>

namespace {

std::mutex securityMutex;
bool tokenOpenFails = false;
standin::PrivilegeOutcome outcome = standin::PrivilegeOutcome::Held;
BOOL exitResult = TRUE;
DWORD exitError = ERROR_ACCESS_DENIED;
bool shutdownEnabled = false;
std::vector<standin::TokenOpenCall> openCalls;
std::vector<standin::PrivilegeLookupCall> lookupCalls;
std::vector<standin::AdjustCall> adjusts;
std::vector<standin::ExitWindowsCall> exits;

struct Privilege {
  const char *name;
  DWORD luid;
};
const Privilege kPrivileges[] = {
    {"SeSecurityPrivilege", 8},    {"SeTakeOwnershipPrivilege", 9},
    {"SeSystemtimePrivilege", 12}, {"SeBackupPrivilege", 17},
    {"SeRestorePrivilege", 18},    {"SeShutdownPrivilege", 19},
    {"SeDebugPrivilege", 20},      {"SeRemoteShutdownPrivilege", 24},
};
const DWORD kShutdownLuid = 19;

bool sameName(const char *a, const char *b) {
  for (; *a && *b; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'A' && x <= 'Z')
      x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z')
      y = static_cast<char>(y - 'A' + 'a');
    if (x != y)
      return false;
  }
  return *a == *b;
}

std::string hex8(DWORD v) {
  char buf[12];
  std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(v));
  return buf;
}

} // namespace

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess,
                             PHANDLE TokenHandle) {
  DWORD error = ERROR_SUCCESS;
  if (standin::faultHere("OpenProcessToken"))
    error = ERROR_ACCESS_DENIED;
  else if (!TokenHandle)
    error = ERROR_INVALID_PARAMETER;
  else if (ProcessHandle != GetCurrentProcess() &&
           !standin::isKernelObject(ProcessHandle,
                                    standin::KernelObjectKind::Process))
    error = ERROR_INVALID_HANDLE;
  {
    std::lock_guard<std::mutex> lock(securityMutex);
    if (error == ERROR_SUCCESS && tokenOpenFails)
      error = ERROR_ACCESS_DENIED;
  }
  if (TokenHandle)
    *TokenHandle =
        error == ERROR_SUCCESS
            ? standin::newKernelObject(standin::KernelObjectKind::Token)
            : nullptr;
  BOOL result = error == ERROR_SUCCESS;
  {
    std::lock_guard<std::mutex> lock(securityMutex);
    openCalls.push_back({ProcessHandle, DesiredAccess, result});
  }
  standin::journal("OpenProcessToken access=0x" + hex8(DesiredAccess) + " -> " +
                   std::to_string(result));
  if (!result)
    SetLastError(error);
  return result;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName,
                                  PLUID lpLuid) {
  standin::PrivilegeLookupCall call;
  if (lpSystemName)
    call.systemName = lpSystemName;
  if (lpName)
    call.name = lpName;
  DWORD error = ERROR_NO_SUCH_PRIVILEGE;
  if (standin::faultHere("LookupPrivilegeValueA")) {
    // The fault's error is the one above.
  } else if (!lpName || !lpLuid) {
    error = ERROR_INVALID_PARAMETER;
  } else {
    for (const Privilege &p : kPrivileges) {
      if (sameName(p.name, lpName)) {
        lpLuid->LowPart = p.luid;
        lpLuid->HighPart = 0;
        call.luid = *lpLuid;
        error = ERROR_SUCCESS;
        break;
      }
    }
  }
  call.result = error == ERROR_SUCCESS;
  {
    std::lock_guard<std::mutex> lock(securityMutex);
    lookupCalls.push_back(call);
  }
  standin::journal(
      std::string("LookupPrivilegeValueA ") +
      (lpSystemName ? "\"" + std::string(lpSystemName) + "\"" : "(null)") +
      " " + (lpName ? "\"" + std::string(lpName) + "\"" : "(null)") + " -> " +
      std::to_string(call.result));
  if (!call.result)
    SetLastError(error);
  return call.result;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                                  PTOKEN_PRIVILEGES NewState,
                                  DWORD BufferLength,
                                  PTOKEN_PRIVILEGES PreviousState,
                                  LPDWORD ReturnLength) {
  standin::AdjustCall call;
  call.validToken =
      standin::isKernelObject(TokenHandle, standin::KernelObjectKind::Token);
  call.disableAll = DisableAllPrivileges;
  call.bufferLength = BufferLength;
  call.previousState = PreviousState != nullptr;
  call.returnLength = ReturnLength != nullptr;
  if (NewState) {
    call.count = NewState->PrivilegeCount;
    // The entries follow one another as in the system's structure; only a
    // sane count is read.
    const LUID_AND_ATTRIBUTES *entries = NewState->Privileges;
    for (DWORD i = 0; i < call.count && i < 64; ++i)
      call.privileges.push_back(entries[i]);
  }
  std::string attributes;
  for (const LUID_AND_ATTRIBUTES &p : call.privileges)
    attributes += (attributes.empty() ? "0x" : ",0x") + hex8(p.Attributes);

  BOOL result = FALSE;
  DWORD error;
  const bool fault = standin::faultHere("AdjustTokenPrivileges");
  {
    std::lock_guard<std::mutex> lock(securityMutex);
    if (fault) {
      error = ERROR_ACCESS_DENIED;
    } else if (!call.validToken) {
      error = ERROR_INVALID_HANDLE;
    } else if (!DisableAllPrivileges && !NewState) {
      error = ERROR_INVALID_PARAMETER;
    } else if (outcome == standin::PrivilegeOutcome::Fails) {
      error = ERROR_ACCESS_DENIED;
    } else {
      result = TRUE;
      error = outcome == standin::PrivilegeOutcome::Held
                  ? ERROR_SUCCESS
                  : ERROR_NOT_ALL_ASSIGNED;
      if (outcome == standin::PrivilegeOutcome::Held && !DisableAllPrivileges)
        for (const LUID_AND_ATTRIBUTES &p : call.privileges)
          if (p.Luid.LowPart == kShutdownLuid && p.Luid.HighPart == 0 &&
              (p.Attributes & SE_PRIVILEGE_ENABLED))
            shutdownEnabled = true;
    }
    call.result = result;
    call.error = error;
    adjusts.push_back(call);
  }
  standin::journal("AdjustTokenPrivileges disableAll=" +
                   std::to_string(DisableAllPrivileges ? 1 : 0) +
                   " count=" + std::to_string(call.count) +
                   " attributes=" + attributes + " -> " +
                   std::to_string(result) + " error=" + std::to_string(error));
  SetLastError(error);
  return result;
}

BOOL WINAPI ExitWindowsEx(UINT uFlags, DWORD dwReason) {
  BOOL result;
  DWORD error;
  const bool fault = standin::faultHere("ExitWindowsEx");
  {
    std::lock_guard<std::mutex> lock(securityMutex);
    result = fault ? FALSE : exitResult;
    error = fault ? ERROR_PRIVILEGE_NOT_HELD : exitError;
    exits.push_back({uFlags, dwReason, result});
  }
  standin::journal("ExitWindowsEx flags=0x" + hex8(uFlags) + " reason=0x" +
                   hex8(dwReason) + " -> " + std::to_string(result));
  if (!result)
    SetLastError(error);
  return result;
}

namespace standin {

void resetSecurity() {
  std::lock_guard<std::mutex> lock(securityMutex);
  tokenOpenFails = false;
  outcome = PrivilegeOutcome::Held;
  exitResult = TRUE;
  exitError = ERROR_ACCESS_DENIED;
  shutdownEnabled = false;
  openCalls.clear();
  lookupCalls.clear();
  adjusts.clear();
  exits.clear();
}

void setTokenOpenFails(bool fails) {
  std::lock_guard<std::mutex> lock(securityMutex);
  tokenOpenFails = fails;
}

void setPrivilegeOutcome(PrivilegeOutcome o) {
  std::lock_guard<std::mutex> lock(securityMutex);
  outcome = o;
}

void setExitWindowsResult(BOOL result, DWORD error) {
  std::lock_guard<std::mutex> lock(securityMutex);
  exitResult = result;
  exitError = error;
}

std::vector<TokenOpenCall> tokenOpenCalls() {
  std::lock_guard<std::mutex> lock(securityMutex);
  return openCalls;
}

std::vector<PrivilegeLookupCall> privilegeLookupCalls() {
  std::lock_guard<std::mutex> lock(securityMutex);
  return lookupCalls;
}

std::vector<AdjustCall> adjustCalls() {
  std::lock_guard<std::mutex> lock(securityMutex);
  return adjusts;
}

std::vector<ExitWindowsCall> exitWindowsCalls() {
  std::lock_guard<std::mutex> lock(securityMutex);
  return exits;
}

bool shutdownPrivilegeEnabled() {
  std::lock_guard<std::mutex> lock(securityMutex);
  return shutdownEnabled;
}

} // namespace standin
