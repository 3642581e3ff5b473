// Program Manager client over the DDE Management Library.
#include "system/progman_client.h"

#include <cstring>

DWORD g_ddeInstance = 0;
HCONV g_progmanConv = nullptr;

HDDEDATA CALLBACK ProgmanCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA,
                                  ULONG_PTR, ULONG_PTR) {
  return nullptr;
}

int ProgmanConnect() {
  const DWORD flags = APPCMD_CLIENTONLY | CBF_SKIP_ALLNOTIFICATIONS;
  if (DdeInitializeA(&g_ddeInstance, ProgmanCallback, flags, 0) !=
      DMLERR_NO_ERROR) {
    // The library may be busy; one more attempt, whose outcome only shows in
    // whether the connect below succeeds.
    Sleep(500);
    DdeInitializeA(&g_ddeInstance, ProgmanCallback, flags, 0);
  }
  HSZ progman = DdeCreateStringHandleA(g_ddeInstance, "Progman", 0);
  g_progmanConv = DdeConnect(g_ddeInstance, progman, progman, nullptr);
  if (g_progmanConv != nullptr)
    return 1;
  Sleep(500);
  g_progmanConv = DdeConnect(g_ddeInstance, progman, progman, nullptr);
  return g_progmanConv != nullptr ? 1 : 0;
}

int ProgmanExecute(const char *command) {
  if (command == nullptr)
    return 0;
  // The library takes the bytes through a non-const pointer but only reads
  // them for an execute transaction.
  LPBYTE data = reinterpret_cast<LPBYTE>(const_cast<char *>(command));
  const DWORD count = static_cast<DWORD>(std::strlen(command) + 1);
  DWORD transaction = 0;
  if (DdeClientTransaction(data, count, g_progmanConv, nullptr, 0, XTYP_EXECUTE,
                           TIMEOUT_ASYNC, &transaction) != nullptr)
    return 1;
  Sleep(100);
  return DdeClientTransaction(data, count, g_progmanConv, nullptr, 0,
                              XTYP_EXECUTE, TIMEOUT_ASYNC,
                              &transaction) != nullptr
             ? 1
             : 0;
}

int ProgmanDisconnect() {
  if (g_progmanConv != nullptr) {
    DdeDisconnect(g_progmanConv);
    g_progmanConv = nullptr;
  }
  DdeUninitialize(g_ddeInstance);
  g_ddeInstance = 0;
  return 1;
}
