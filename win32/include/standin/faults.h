// The fault plan: a test names a call number N, and the Nth call of the
// install's platform functions, counted together on every thread, fails once
// with that function's failure result and last error; every other call
// behaves as usual.
//
// Counted calls:
//   registry  RegOpenKeyA, RegOpenKeyExA, RegCreateKeyA, RegQueryValueExA,
//             RegSetValueExA, RegDeleteKeyA, RegDeleteValueA, RegFlushKey
//             -> ERROR_REGISTRY_IO_FAILED (1016) as the status
//   files     CreateFileA -> INVALID_HANDLE_VALUE, ERROR_NOT_READY (21);
//             ReadFile -> FALSE, ERROR_CRC (23);
//             SetFilePointer -> INVALID_SET_FILE_POINTER, ERROR_SEEK (25);
//             GetFileSize -> INVALID_FILE_SIZE, ERROR_NOT_READY;
//             GetFileTime, SetFileTime -> FALSE, ERROR_ACCESS_DENIED (5);
//             GetWindowsDirectoryA, GetModuleFileNameA -> 0,
//             ERROR_NOT_ENOUGH_MEMORY (8)
//   processes CreateProcessA -> FALSE, ERROR_NOT_ENOUGH_MEMORY;
//             WaitForSingleObject -> WAIT_FAILED, ERROR_INVALID_HANDLE (6);
//             CreateThread -> NULL, ERROR_NOT_ENOUGH_MEMORY
//   windows   SetTimer -> 0, CreateDialogParamA -> NULL, SetWindowPos ->
//             FALSE, each with ERROR_NOT_ENOUGH_MEMORY; MessageBoxA -> 0
//             (no box is shown or recorded), ERROR_NOT_ENOUGH_MEMORY
//   DDE       DdeInitializeA -> DMLERR_SYS_ERROR; DdeCreateStringHandleA ->
//             0, DdeGetLastError DMLERR_SYS_ERROR; DdeConnect -> 0,
//             DMLERR_NO_CONV_ESTABLISHED; DdeClientTransaction -> 0,
//             DMLERR_EXECACKTIMEOUT (the command does not reach the server;
//             DMLERR_DATAACKTIMEOUT for a request)
//   restart   OpenProcessToken -> FALSE, ERROR_ACCESS_DENIED;
//             LookupPrivilegeValueA -> FALSE, ERROR_NO_SUCH_PRIVILEGE (1313);
//             AdjustTokenPrivileges -> FALSE, ERROR_ACCESS_DENIED;
//             ExitWindowsEx -> FALSE, ERROR_PRIVILEGE_NOT_HELD (1314)
//   memory    HeapAlloc, HeapReAlloc -> NULL (the heap sets no last error)
//
// A failed call journals its usual line with its failure result, and a line
// "fault <N> <call>" before it.
#ifndef STANDIN_FAULTS_H
#define STANDIN_FAULTS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace standin {

// Counting from 0 again, no fault planned, no call names kept.
void resetFaults();
// The `number`th counted call from now (1 is the next) fails once; 0 plans
// none. The count goes on from where it is.
void setFaultAt(uint64_t number);
// One more call to fail, the `number`th counted call from now, beside those
// planned already (a second fault, for instance inside the rollback).
void addFaultAt(uint64_t number);
// Counted calls since the reset.
uint64_t faultCallCount();
// The names of the counted calls since the reset, in the order made.
std::vector<std::string> faultCallNames();

struct InjectedFault {
  uint64_t number = 0; // its place among the counted calls
  std::string call;    // the function's name
};
// The last fault that fired since the reset, if any.
std::optional<InjectedFault> injectedFault();
// Every fault that fired since the reset, in order.
std::vector<InjectedFault> injectedFaults();

// For the stand-in's own modules: counts one call of `call` and tells
// whether it is the one that must fail.
bool faultHere(const char *call);

} // namespace standin

#endif
