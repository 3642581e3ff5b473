// Program Manager client over the DDE Management Library.
#include "system/progman_client.h"

#include <cstring>

#include "state/install_log.h"

DWORD g_ddeInstance = 0;
HCONV g_progmanConv = nullptr;

HDDEDATA CALLBACK ProgmanCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA,
                                  ULONG_PTR, ULONG_PTR) {
  return nullptr;
}

// The DDE library's own error for the log; it also clears it.
static unsigned DdeError() {
  return static_cast<unsigned>(DdeGetLastError(g_ddeInstance));
}

// DdeInitializeA, logged with its result.
static UINT StartInstance(DWORD flags) {
  const UINT result = DdeInitializeA(&g_ddeInstance, ProgmanCallback, flags, 0);
  LogLine("DdeInitializeA: result %u%s", static_cast<unsigned>(result),
          result == DMLERR_NO_ERROR ? ", ok" : ", failed");
  return result;
}

// DdeConnect to "Progman", logged with DdeGetLastError when it fails.
static HCONV ConnectProgman(HSZ progman) {
  const HCONV conv = DdeConnect(g_ddeInstance, progman, progman, nullptr);
  if (conv != nullptr)
    LogLine("DdeConnect Progman: ok");
  else if (LogIsOpen())
    LogLine("DdeConnect Progman: failed, DdeGetLastError %u", DdeError());
  return conv;
}

int ProgmanConnect() {
  const DWORD flags = APPCMD_CLIENTONLY | CBF_SKIP_ALLNOTIFICATIONS;
  if (StartInstance(flags) != DMLERR_NO_ERROR) {
    // The library may be busy; one more attempt, whose outcome only shows in
    // whether the connect below succeeds.
    Sleep(500);
    StartInstance(flags);
  }
  HSZ progman = DdeCreateStringHandleA(g_ddeInstance, "Progman", 0);
  if (progman == nullptr && LogIsOpen())
    LogLine("DdeCreateStringHandleA Progman: failed, DdeGetLastError %u",
            DdeError());
  g_progmanConv = ConnectProgman(progman);
  if (g_progmanConv != nullptr)
    return 1;
  Sleep(500);
  g_progmanConv = ConnectProgman(progman);
  return g_progmanConv != nullptr ? 1 : 0;
}

// What one execute transaction came to.
enum ExecuteOutcome {
  kCarriedOut,
  kRefused,
  kTimedOut,
  kNotStarted,
};

// One synchronous execute transaction of `count` bytes that waits up to
// `timeout` milliseconds for Program Manager's acknowledgement, logged: the
// outcome, DdeGetLastError, the milliseconds it took, the command as sent.
static ExecuteOutcome Execute(LPBYTE data, DWORD count, DWORD timeout) {
  DWORD result = 0;
  const DWORD started = GetTickCount();
  const bool carriedOut =
      DdeClientTransaction(data, count, g_progmanConv, nullptr, 0, XTYP_EXECUTE,
                           timeout, &result) != nullptr;
  const DWORD took = GetTickCount() - started;
  // Read once: the library clears its error when asked.
  const unsigned error = DdeError();
  ExecuteOutcome outcome = kNotStarted;
  const char *shownOutcome = "not started";
  if (carriedOut) {
    outcome = kCarriedOut;
    shownOutcome = "carried out";
  } else if (error == DMLERR_NOTPROCESSED) {
    outcome = kRefused;
    shownOutcome = "refused";
  } else if (error == DMLERR_EXECACKTIMEOUT) {
    outcome = kTimedOut;
    shownOutcome = "timed out";
  }
  if (LogIsOpen()) {
    char shown[4 * 256 + 1];
    EscapeBytes(shown, sizeof(shown), data, count);
    LogLine("DdeClientTransaction XTYP_EXECUTE %u bytes: %s, DdeGetLastError "
            "%u, %u ms: %s",
            static_cast<unsigned>(count), shownOutcome, error,
            static_cast<unsigned>(took), shown);
  }
  return outcome;
}

int ProgmanExecute(const char *command, DWORD timeout) {
  if (command == nullptr)
    return 0;
  // The library takes the bytes through a non-const pointer but only reads
  // them for an execute transaction.
  LPBYTE data = reinterpret_cast<LPBYTE>(const_cast<char *>(command));
  const DWORD count = static_cast<DWORD>(std::strlen(command) + 1);
  ExecuteOutcome outcome = Execute(data, count, timeout);
  // Only a transaction that never reached Program Manager is sent again: a
  // refused command would be refused again, and one that timed out may
  // still be carried out, so that a second one would make a second item.
  if (outcome == kNotStarted) {
    Sleep(100);
    outcome = Execute(data, count, timeout);
  }
  return outcome == kCarriedOut ? 1 : outcome == kTimedOut ? -1 : 0;
}

// A request waits at most this long for Program Manager's answer.
static const DWORD kRequestTimeoutMs = 5000;

// True when `a` and `b` are the same text without regard to the case of A
// to Z.
static bool SameName(const char *a, const char *b) {
  for (;; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'a' && x <= 'z')
      x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z')
      y = static_cast<char>(y - 'a' + 'A');
    if (x != y)
      return false;
    if (x == '\0')
      return true;
  }
}

int ProgmanGroupExists(const char *name) {
  // Without a conversation there is nobody to ask.
  if (g_progmanConv == nullptr)
    return -1;
  HSZ item = DdeCreateStringHandleA(g_ddeInstance, "Groups", 0);
  if (item == nullptr) {
    if (LogIsOpen())
      LogLine("DdeCreateStringHandleA Groups: failed, DdeGetLastError %u",
              DdeError());
    return -1;
  }
  const HDDEDATA list =
      DdeClientTransaction(nullptr, 0, g_progmanConv, item, CF_TEXT,
                           XTYP_REQUEST, kRequestTimeoutMs, nullptr);
  if (list == nullptr) {
    if (LogIsOpen())
      LogLine("DdeClientTransaction XTYP_REQUEST Groups: failed, "
              "DdeGetLastError %u",
              DdeError());
    return -1;
  }
  // The list is read a piece at a time into one line of at most 255
  // characters; the rest of a longer line is dropped, and the line, longer
  // than any group name of ours, names none.
  const DWORD total = DdeGetData(list, nullptr, 0, 0);
  char line[256];
  size_t used = 0;
  bool found = false;
  BYTE piece[256];
  for (DWORD offset = 0; offset < total && !found;) {
    const DWORD got = DdeGetData(list, piece, sizeof(piece), offset);
    if (got == 0)
      break;
    for (DWORD i = 0; i < got && !found; ++i) {
      const char c = static_cast<char>(piece[i]);
      if (c == '\r' || c == '\n' || c == '\0') {
        line[used] = '\0';
        found = SameName(line, name);
        used = 0;
      } else if (used + 1 < sizeof(line)) {
        line[used++] = c;
      }
    }
    offset += got;
  }
  line[used] = '\0';
  found = found || (used > 0 && SameName(line, name));
  DdeFreeDataHandle(list);
  LogLine("DdeClientTransaction XTYP_REQUEST Groups: ok, %u bytes, group "
          "\"%s\" %s",
          static_cast<unsigned>(total), name, found ? "exists" : "missing");
  return found ? 1 : 0;
}

int ProgmanDisconnect() {
  if (g_progmanConv != nullptr) {
    const BOOL ended = DdeDisconnect(g_progmanConv);
    if (ended)
      LogLine("DdeDisconnect: ok");
    else if (LogIsOpen())
      LogLine("DdeDisconnect: failed, DdeGetLastError %u", DdeError());
    g_progmanConv = nullptr;
  }
  const BOOL released = DdeUninitialize(g_ddeInstance);
  LogLine("DdeUninitialize: %s", released ? "ok" : "failed");
  g_ddeInstance = 0;
  return 1;
}
