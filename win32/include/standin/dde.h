// Test-facing side of the stand-in DDE Management Library (client side) and
// the in-process Program Manager peer it talks to.
//
// Journal entries (standin/journal.h):
//   DdeInitializeA inst=<incoming *pidInst> callback=<0|1> afCmd=0x<hex>
//     ulRes=<n> -> <status> id=<instance>                       (one line)
//   DdeCreateStringHandleA inst=<id> "<text>" cp=<n> -> <0|1>
//   DdeConnect inst=<id> service="<text>" topic="<text>" -> <0|1>
//   DdeClientTransaction conv=<n> "<bytes>" cb=<n> item=<0|1> fmt=<n>
//     type=0x<hex> timeout=0x<hex> -> <0|1>                     (one line)
//   DdeDisconnect conv=<n> -> <0|1>
//   DdeUninitialize inst=<id> -> <0|1>
// Conversation numbers are those of ddeConversationNumber (0 for NULL); in
// the transaction the bytes are shown with a zero byte as \0. A request
// (XTYP_REQUEST, answered only for the item "Groups" as CF_TEXT: each
// group's name and CR LF, then a zero byte; otherwise DMLERR_NOTPROCESSED)
// journals
//   DdeClientTransaction conv=<n> request item="<text>" fmt=<n>
//     timeout=<ms> -> <0|1>
// and its data handle is read with DdeGetData and freed with
// DdeFreeDataHandle. Hex values are
// 8-digit upper case; a string handle that is not valid shows as <invalid>.
#ifndef STANDIN_DDE_H
#define STANDIN_DDE_H

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace standin {

enum class ProgmanMode {
  Present,  // connects and accepts execute transactions
  Absent,   // no server: DdeConnect returns NULL
  Refusing, // connects, but DdeClientTransaction returns 0
};

// The library keeps the documented rules of the system's DDE Management
// Library:
// - an asynchronous execute (TIMEOUT_ASYNC) is only queued: it reaches the
//   server, is carried out and acknowledged only while the client's thread
//   waits inside the library (a synchronous transaction on the same
//   conversation, or GetMessageA / PeekMessageA on the thread that made the
//   instance);
// - one transaction of a conversation is outstanding at a time: the next
//   goes to the server after the previous one has been acknowledged;
// - DdeDisconnect and DdeUninitialize abandon what is not yet acknowledged:
//   it is never carried out;
// - a synchronous execute waits in a modal loop that dispatches the calling
//   thread's messages (its timers too);
// - a synchronous execute returns after the acknowledgement: nonzero when
//   the server carried it out, 0 with DMLERR_NOTPROCESSED when it refused
//   (negative acknowledgement), 0 with DMLERR_EXECACKTIMEOUT when no
//   acknowledgement came within the time-out.
// The library never really waits: each synchronous transaction records the
// milliseconds it would have waited.

// Peer present, initialisation working, no instances, no records, no groups,
// a server that answers at once.
void resetDde();
void setProgmanMode(ProgmanMode mode);
// The server takes `ms` to carry out and acknowledge each command. A command
// whose time-out is shorter is still carried out, after the client has
// stopped waiting for it.
void setProgmanDelay(DWORD ms);
// The `n`th command that reaches the server (counted from 1 since the reset)
// is refused: not carried out, negatively acknowledged. 0: none.
void refuseProgmanCommand(int n);
// From the `n`th command that reaches the server on, the server never
// answers: neither that command nor any later one is carried out or
// acknowledged. 0: it always answers.
void hangProgmanAt(int n);
// The next `calls` DdeInitializeA calls return DMLERR_SYS_ERROR; -1: all.
void failDdeInitialize(int calls);

struct DdeInitCall {
  DWORD incomingInstance = 0; // *pidInst on entry (0 when pidInst is NULL)
  bool instancePointer = false;
  bool callback = false;
  DWORD afCmd = 0;
  DWORD ulRes = 0;
  UINT result = 0;
  DWORD instance = 0; // the identifier handed out (0 on failure)
};
struct DdeStringCall {
  DWORD instance = 0;
  std::optional<std::string> text;
  int codePage = 0;
  bool result = false;
};
struct DdeConnectCall {
  DWORD instance = 0;
  std::optional<std::string> service; // nullopt: handle NULL or not valid
  std::optional<std::string> topic;
  bool context = false;
  int conversation = 0; // 0: not connected
};
enum class DdeOutcome {
  NotStarted, // returned 0 before anything reached the server
  Queued,     // asynchronous, not yet acknowledged
  CarriedOut, // positively acknowledged
  Refused,    // negatively acknowledged
  TimedOut,   // no acknowledgement within the time-out
  Abandoned,  // still queued or outstanding at the disconnect
};

struct DdeTransaction {
  int conversation = 0;    // 0: NULL or not a known conversation
  std::vector<BYTE> bytes; // exactly cbData bytes (none when pData is NULL)
  DWORD cbData = 0;
  bool item = false; // hszItem not NULL
  UINT format = 0;
  UINT type = 0;
  DWORD timeout = 0;
  bool resultPointer = false;
  bool accepted = false; // returned nonzero
  DdeOutcome outcome = DdeOutcome::NotStarted;
  DWORD waitedMs = 0; // what a synchronous transaction waited
};
struct DdeDisconnectCall {
  int conversation = 0;
  bool result = false;
};
struct DdeUninitializeCall {
  DWORD instance = 0;
  bool result = false;
};

std::vector<DdeInitCall> ddeInitCalls();
std::vector<DdeStringCall> ddeStringCalls();
std::vector<DdeConnectCall> ddeConnectCalls();
// The execute transactions (and any other but requests), in order.
std::vector<DdeTransaction> ddeTransactions();
// The request transactions, kept apart, in order.
std::vector<DdeTransaction> ddeRequests();
std::vector<DdeDisconnectCall> ddeDisconnectCalls();
std::vector<DdeUninitializeCall> ddeUninitializeCalls();
// Execute commands as text, the bytes up to the first zero, in order.
std::vector<std::string> ddeCommands();
// The number tests use for a conversation handle (0 for NULL or unknown).
int ddeConversationNumber(HCONV conversation);
// Instances and conversations still open.
int ddeOpenInstanceCount();
int ddeOpenConversationCount();

// The present peer's model of Program Manager: it carries out
// [CreateGroup(name[,..])], [AddItem(command[,title[,..]])] into the group
// last created, and [DeleteGroup(name[,..])] (refused for a missing group);
// arguments may be in double quotes.
struct ProgmanItem {
  std::string command;
  std::string title;
};
struct ProgmanGroup {
  std::string name;
  std::vector<ProgmanItem> items;
};
std::vector<ProgmanGroup> progmanGroups();
void addProgmanGroup(const std::string &name,
                     const std::vector<ProgmanItem> &items = {});
// Data handles that a request handed out and the client has not freed.
int ddeOpenDataCount();
// Commands the peer could not carry out (unknown, malformed, refused).
std::vector<std::string> progmanRejected();

// For the stand-in's message calls: the calling thread waits for messages,
// so the acknowledgements of its DDE instances' conversations come in.
void ddeClientThreadWaits();

} // namespace standin

#endif
