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

// Peer present, initialisation working, no instances, no records, no groups.
void resetDde();
void setProgmanMode(ProgmanMode mode);
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
struct DdeTransaction {
  int conversation = 0;    // 0: NULL or not a known conversation
  std::vector<BYTE> bytes; // exactly cbData bytes (none when pData is NULL)
  DWORD cbData = 0;
  bool item = false; // hszItem not NULL
  UINT format = 0;
  UINT type = 0;
  DWORD timeout = 0;
  bool resultPointer = false;
  bool accepted = false;
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

} // namespace standin

#endif
