// The stand-in DDE Management Library, client side, with an in-process
// Program Manager peer that answers service and topic "Progman".
#include "standin/dde.h"
#include "standin/faults.h"
#include "standin/journal.h"
#include "text_compare.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace {

struct Instance {
  UINT lastError = DMLERR_NO_ERROR;
  std::thread::id thread; // the thread that made it
};
struct StringHandle {
  DWORD instance;
  std::string text;
};
struct Conversation {
  DWORD instance;
  int number;
  bool connected;
  // Asynchronous transactions not yet acknowledged, oldest first (indices
  // into `transactions`); the first is the one outstanding at the server.
  std::deque<size_t> queued;
};

std::mutex ddeMutex;
standin::ProgmanMode mode = standin::ProgmanMode::Present;
int initFailures = 0;
std::map<DWORD, Instance> instances;
DWORD nextInstance = 0x1001;
std::map<uintptr_t, StringHandle> strings;
uintptr_t nextString = 0xC000;
std::map<uintptr_t, Conversation> conversations;
uintptr_t nextConversation = 0x2000;
int nextConversationNumber = 1;
DWORD nextTransactionId = 1;

std::vector<standin::DdeInitCall> initCalls;
std::vector<standin::DdeStringCall> stringCalls;
std::vector<standin::DdeConnectCall> connectCalls;
std::vector<standin::DdeTransaction> transactions;
std::vector<standin::DdeTransaction> requests;
std::vector<standin::DdeDisconnectCall> disconnectCalls;
std::vector<standin::DdeUninitializeCall> uninitializeCalls;

// The server's behaviour and how many commands have reached it.
DWORD serverDelay = 0;
int refuseAt = 0;
int hangAt = 0;
int served = 0;

// Data handles handed to the client by a request: the bytes, until freed.
std::map<uintptr_t, std::vector<BYTE>> dataHandles;
uintptr_t nextData = 0x5000;

std::vector<standin::ProgmanGroup> groups;
int currentGroup = -1;
std::vector<std::string> rejected;

bool sameText(const std::string &a, const std::string &b) {
  return standin::sameTextIgnoringCase(a, b);
}

std::string hex8(DWORD v) {
  char buf[12];
  std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(v));
  return buf;
}

std::string shown(const std::optional<std::string> &s) {
  return s ? "\"" + *s + "\"" : "<invalid>";
}

std::string shownBytes(const std::vector<BYTE> &bytes) {
  std::string out = "\"";
  for (BYTE b : bytes) {
    if (b == 0) {
      out += "\\0";
    } else if (b < 0x20 || b >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", b);
      out += buf;
    } else {
      out += static_cast<char>(b);
    }
  }
  return out + "\"";
}

// The text of a string handle of this instance; caller holds ddeMutex.
std::optional<std::string> stringOf(DWORD instance, HSZ hsz) {
  auto it = strings.find(reinterpret_cast<uintptr_t>(hsz));
  if (it == strings.end() || it->second.instance != instance)
    return std::nullopt;
  return it->second.text;
}

int conversationNumberLocked(HCONV h) {
  auto it = conversations.find(reinterpret_cast<uintptr_t>(h));
  return it == conversations.end() ? 0 : it->second.number;
}

// ---- the Program Manager model ----

std::string trimmed(const std::string &s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos)
    return "";
  size_t e = s.find_last_not_of(" \t");
  std::string t = s.substr(b, e - b + 1);
  if (t.size() >= 2 && t.front() == '"' && t.back() == '"')
    t = t.substr(1, t.size() - 2);
  return t;
}

int findGroup(const std::string &name) {
  for (size_t i = 0; i < groups.size(); ++i)
    if (sameText(groups[i].name, name))
      return static_cast<int>(i);
  return -1;
}

bool runCommand(const std::string &name, const std::vector<std::string> &args) {
  if (sameText(name, "CreateGroup")) {
    if (args.empty() || args[0].empty())
      return false;
    int g = findGroup(args[0]);
    if (g < 0) {
      groups.push_back(standin::ProgmanGroup{args[0], {}});
      g = static_cast<int>(groups.size()) - 1;
    }
    currentGroup = g;
    return true;
  }
  if (sameText(name, "AddItem")) {
    if (currentGroup < 0 || args.empty() || args[0].empty())
      return false;
    std::string title;
    if (args.size() > 1) {
      title = args[1];
    } else {
      size_t bs = args[0].find_last_of("\\/");
      title = bs == std::string::npos ? args[0] : args[0].substr(bs + 1);
    }
    groups[static_cast<size_t>(currentGroup)].items.push_back(
        standin::ProgmanItem{args[0], title});
    return true;
  }
  if (sameText(name, "DeleteGroup")) {
    if (args.empty())
      return false;
    int g = findGroup(args[0]);
    if (g < 0)
      return false;
    groups.erase(groups.begin() + g);
    if (currentGroup == g)
      currentGroup = -1;
    else if (currentGroup > g)
      --currentGroup;
    return true;
  }
  return false;
}

// Carries out "[Cmd(a,b)][Cmd2(..)]"; what it cannot do is put aside.
// False when any part could not be carried out.
bool execute(const std::string &text) {
  size_t pos = 0;
  bool allDone = true;
  while (true) {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' ||
                                 text[pos] == '\r' || text[pos] == '\n'))
      ++pos;
    if (pos >= text.size())
      return allDone;
    size_t start = pos;
    if (text[pos] != '[') {
      rejected.push_back(text.substr(start));
      return false;
    }
    bool inQuotes = false;
    size_t end = pos + 1;
    for (; end < text.size(); ++end) {
      if (text[end] == '"')
        inQuotes = !inQuotes;
      else if (text[end] == ']' && !inQuotes)
        break;
    }
    if (end >= text.size()) {
      rejected.push_back(text.substr(start));
      return false;
    }
    std::string body = text.substr(pos + 1, end - pos - 1);
    std::string whole = text.substr(start, end - start + 1);
    pos = end + 1;
    size_t open = body.find('(');
    std::string name = trimmed(body.substr(0, open));
    std::vector<std::string> args;
    bool ok = true;
    if (open != std::string::npos) {
      if (body.back() != ')') {
        ok = false;
      } else {
        std::string list = body.substr(open + 1, body.size() - open - 2);
        std::string cur;
        bool q = false;
        for (char c : list) {
          if (c == '"')
            q = !q;
          if (c == ',' && !q) {
            args.push_back(trimmed(cur));
            cur.clear();
          } else {
            cur += c;
          }
        }
        if (!list.empty())
          args.push_back(trimmed(cur));
      }
    }
    if (!ok || !runCommand(name, args)) {
      rejected.push_back(whole);
      allDone = false;
    }
  }
}

// The command bytes of a transaction up to the first zero.
std::string commandText(const standin::DdeTransaction &t) {
  size_t n = 0;
  while (n < t.bytes.size() && t.bytes[n] != 0)
    ++n;
  return std::string(t.bytes.begin(),
                     t.bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

enum class Ack { Positive, Negative, None };

// The server receives one command: it carries it out (or refuses it) and
// acknowledges, or, hung, does neither.
Ack serve(const standin::DdeTransaction &t) {
  const int number = ++served;
  if (hangAt != 0 && number >= hangAt)
    return Ack::None;
  if (number == refuseAt)
    return Ack::Negative;
  return execute(commandText(t)) ? Ack::Positive : Ack::Negative;
}

// Lets the queued asynchronous transactions of `conv` reach the server one
// after another, each once the previous one is acknowledged, within
// `budget` milliseconds of waiting (TIMEOUT_ASYNC: no limit). Returns the
// milliseconds used; false in `drained` when something is still queued.
DWORD deliverQueued(Conversation &conv, DWORD budget, bool *drained) {
  DWORD used = 0;
  while (!conv.queued.empty()) {
    if (budget != TIMEOUT_ASYNC && budget - used < serverDelay) {
      *drained = false;
      return budget;
    }
    standin::DdeTransaction &t = transactions[conv.queued.front()];
    const Ack ack = serve(t);
    if (ack == Ack::None) {
      // The outstanding one is never answered; the queue stays blocked.
      --served;
      *drained = false;
      return budget == TIMEOUT_ASYNC ? used : budget;
    }
    used += serverDelay;
    t.outcome = ack == Ack::Positive ? standin::DdeOutcome::CarriedOut
                                     : standin::DdeOutcome::Refused;
    conv.queued.pop_front();
  }
  *drained = true;
  return used;
}

// Abandons what `conv` still has queued; caller holds ddeMutex.
void abandonQueued(Conversation &conv) {
  for (size_t index : conv.queued)
    transactions[index].outcome = standin::DdeOutcome::Abandoned;
  conv.queued.clear();
}

} // namespace

UINT WINAPI DdeInitializeA(LPDWORD pidInst, PFNCALLBACK pfnCallback,
                           DWORD afCmd, DWORD ulRes) {
  std::unique_lock<std::mutex> lock(ddeMutex);
  standin::DdeInitCall call;
  call.instancePointer = pidInst != nullptr;
  call.incomingInstance = pidInst ? *pidInst : 0;
  call.callback = pfnCallback != nullptr;
  call.afCmd = afCmd;
  call.ulRes = ulRes;
  UINT result = DMLERR_NO_ERROR;
  if (standin::faultHere("DdeInitializeA")) {
    result = DMLERR_SYS_ERROR;
  } else if (!pidInst || !pfnCallback || ulRes != 0) {
    result = DMLERR_INVALIDPARAMETER;
  } else if (initFailures != 0) {
    if (initFailures > 0)
      --initFailures;
    result = DMLERR_SYS_ERROR;
  } else if (*pidInst != 0) {
    // Asking again for an instance that exists changes nothing here.
    if (instances.count(*pidInst))
      call.instance = *pidInst;
    else
      result = DMLERR_INVALIDPARAMETER;
  } else {
    DWORD id = nextInstance++;
    instances[id] = Instance{DMLERR_NO_ERROR, std::this_thread::get_id()};
    *pidInst = id;
    call.instance = id;
  }
  call.result = result;
  initCalls.push_back(call);
  lock.unlock();
  standin::journal(
      "DdeInitializeA inst=" + std::to_string(call.incomingInstance) +
      " callback=" + std::to_string(call.callback ? 1 : 0) + " afCmd=0x" +
      hex8(afCmd) + " ulRes=" + std::to_string(ulRes) + " -> " +
      std::to_string(result) + " id=" + std::to_string(call.instance));
  return result;
}

HSZ WINAPI DdeCreateStringHandleA(DWORD idInst, LPCSTR psz, int iCodePage) {
  std::unique_lock<std::mutex> lock(ddeMutex);
  standin::DdeStringCall call;
  call.instance = idInst;
  if (psz)
    call.text = psz;
  call.codePage = iCodePage;
  uintptr_t handle = 0;
  auto inst = instances.find(idInst);
  if (inst != instances.end() && standin::faultHere("DdeCreateStringHandleA")) {
    inst->second.lastError = DMLERR_SYS_ERROR;
  } else if (inst != instances.end()) {
    if (!psz) {
      inst->second.lastError = DMLERR_INVALIDPARAMETER;
    } else {
      // Like atoms: one handle per text and instance, whatever the case.
      for (const auto &s : strings)
        if (s.second.instance == idInst && sameText(s.second.text, psz))
          handle = s.first;
      if (!handle) {
        handle = nextString++;
        strings[handle] = StringHandle{idInst, psz};
      }
    }
  }
  call.result = handle != 0;
  stringCalls.push_back(call);
  lock.unlock();
  standin::journal("DdeCreateStringHandleA inst=" + std::to_string(idInst) +
                   " " + shown(call.text) + " cp=" + std::to_string(iCodePage) +
                   " -> " + std::to_string(call.result ? 1 : 0));
  return reinterpret_cast<HSZ>(handle);
}

HCONV WINAPI DdeConnect(DWORD idInst, HSZ hszService, HSZ hszTopic,
                        PCONVCONTEXT pCC) {
  std::unique_lock<std::mutex> lock(ddeMutex);
  standin::DdeConnectCall call;
  call.instance = idInst;
  call.service = stringOf(idInst, hszService);
  call.topic = stringOf(idInst, hszTopic);
  call.context = pCC != nullptr;
  uintptr_t handle = 0;
  auto inst = instances.find(idInst);
  if (inst != instances.end() && standin::faultHere("DdeConnect")) {
    inst->second.lastError = DMLERR_NO_CONV_ESTABLISHED;
  } else if (inst != instances.end()) {
    // A NULL service or topic stands for any, as in the system's library.
    bool serviceOk =
        !hszService || (call.service && sameText(*call.service, "Progman"));
    bool topicOk =
        !hszTopic || (call.topic && sameText(*call.topic, "Progman"));
    if (mode != standin::ProgmanMode::Absent && serviceOk && topicOk) {
      handle = nextConversation;
      nextConversation += 4;
      conversations[handle] =
          Conversation{idInst, nextConversationNumber++, true, {}};
      call.conversation = conversations[handle].number;
    } else {
      inst->second.lastError = DMLERR_NO_CONV_ESTABLISHED;
    }
  }
  connectCalls.push_back(call);
  lock.unlock();
  standin::journal("DdeConnect inst=" + std::to_string(idInst) + " service=" +
                   shown(call.service) + " topic=" + shown(call.topic) +
                   " -> " + std::to_string(handle ? 1 : 0));
  return reinterpret_cast<HCONV>(handle);
}

HDDEDATA WINAPI DdeClientTransaction(LPBYTE pData, DWORD cbData, HCONV hConv,
                                     HSZ hszItem, UINT wFmt, UINT wType,
                                     DWORD dwTimeout, LPDWORD pdwResult) {
  if (dwTimeout != TIMEOUT_ASYNC) {
    // A synchronous transaction waits in a modal loop of the library, which
    // dispatches the calling thread's messages meanwhile.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      DispatchMessageA(&msg);
    }
  }
  std::unique_lock<std::mutex> lock(ddeMutex);
  standin::DdeTransaction t;
  t.conversation = conversationNumberLocked(hConv);
  if (pData)
    t.bytes.assign(pData, pData + cbData);
  t.cbData = cbData;
  t.item = hszItem != nullptr;
  t.format = wFmt;
  t.type = wType;
  t.timeout = dwTimeout;
  t.resultPointer = pdwResult != nullptr;
  auto conv = conversations.find(reinterpret_cast<uintptr_t>(hConv));
  bool live = conv != conversations.end() && conv->second.connected;
  const bool fault = standin::faultHere("DdeClientTransaction");
  if (wType == XTYP_REQUEST) {
    // Program Manager answers the item "Groups" as text: each group's name
    // followed by CR LF, the whole ended by a zero byte.
    auto inst = live ? instances.find(conv->second.instance) : instances.end();
    auto item = live ? stringOf(conv->second.instance, hszItem) : std::nullopt;
    uintptr_t data = 0;
    if (inst != instances.end() && fault) {
      inst->second.lastError = DMLERR_DATAACKTIMEOUT;
    } else if (inst != instances.end() &&
               (mode != standin::ProgmanMode::Present || !item ||
                !sameText(*item, "Groups") || wFmt != CF_TEXT)) {
      inst->second.lastError = DMLERR_NOTPROCESSED;
    } else if (inst != instances.end()) {
      std::string list;
      for (const auto &g : groups)
        list += g.name + "\r\n";
      data = nextData++;
      dataHandles[data].assign(list.begin(), list.end());
      dataHandles[data].push_back(0);
    }
    t.accepted = data != 0;
    requests.push_back(t);
    lock.unlock();
    standin::journal(
        "DdeClientTransaction conv=" + std::to_string(t.conversation) +
        " request item=" + shown(item) + " fmt=" + std::to_string(wFmt) +
        " timeout=" + std::to_string(dwTimeout) + " -> " +
        std::to_string(data ? 1 : 0));
    return reinterpret_cast<HDDEDATA>(data);
  }
  const bool startable = live && pData && wType == XTYP_EXECUTE &&
                         mode == standin::ProgmanMode::Present;
  Instance *inst = nullptr;
  if (live) {
    auto found = instances.find(conv->second.instance);
    if (found != instances.end())
      inst = &found->second;
  }
  UINT error = DMLERR_NO_ERROR;
  if (fault && live) {
    // The command is lost on its way: it never reaches the server.
    t.outcome = standin::DdeOutcome::TimedOut;
    t.waitedMs = dwTimeout == TIMEOUT_ASYNC ? 0 : dwTimeout;
    error = DMLERR_EXECACKTIMEOUT;
  } else if (fault || !startable) {
    error = live ? DMLERR_NO_CONV_ESTABLISHED : DMLERR_NO_ERROR;
  } else if (dwTimeout == TIMEOUT_ASYNC) {
    t.outcome = standin::DdeOutcome::Queued;
    t.accepted = true;
    conv->second.queued.push_back(transactions.size());
    if (pdwResult)
      *pdwResult = nextTransactionId++;
  } else {
    // Synchronous: what is queued goes first, then this command, all within
    // the time-out.
    bool drained = false;
    DWORD used = deliverQueued(conv->second, dwTimeout, &drained);
    Ack ack = Ack::None;
    if (drained) {
      ack = serve(t);
      if (ack != Ack::None && serverDelay > dwTimeout - used) {
        // Carried out (or refused) after the client stopped waiting.
        ack = Ack::None;
      } else if (ack != Ack::None) {
        used += serverDelay;
      }
    }
    if (ack == Ack::None) {
      t.waitedMs = dwTimeout;
      t.outcome = standin::DdeOutcome::TimedOut;
      error = DMLERR_EXECACKTIMEOUT;
    } else {
      t.waitedMs = used;
      t.outcome = ack == Ack::Positive ? standin::DdeOutcome::CarriedOut
                                       : standin::DdeOutcome::Refused;
      t.accepted = ack == Ack::Positive;
      error = t.accepted ? DMLERR_NO_ERROR : DMLERR_NOTPROCESSED;
    }
  }
  if (inst != nullptr)
    inst->lastError = error;
  transactions.push_back(t);
  lock.unlock();
  standin::journal(
      "DdeClientTransaction conv=" + std::to_string(t.conversation) + " " +
      shownBytes(t.bytes) + " cb=" + std::to_string(cbData) + " item=" +
      std::to_string(t.item ? 1 : 0) + " fmt=" + std::to_string(wFmt) +
      " type=0x" + hex8(wType) + " timeout=0x" + hex8(dwTimeout) + " -> " +
      std::to_string(t.accepted ? 1 : 0));
  return reinterpret_cast<HDDEDATA>(static_cast<uintptr_t>(t.accepted));
}

BOOL WINAPI DdeDisconnect(HCONV hConv) {
  std::unique_lock<std::mutex> lock(ddeMutex);
  standin::DdeDisconnectCall call;
  call.conversation = conversationNumberLocked(hConv);
  auto conv = conversations.find(reinterpret_cast<uintptr_t>(hConv));
  if (conv != conversations.end() && conv->second.connected) {
    abandonQueued(conv->second);
    conv->second.connected = false;
    call.result = true;
  }
  disconnectCalls.push_back(call);
  lock.unlock();
  standin::journal("DdeDisconnect conv=" + std::to_string(call.conversation) +
                   " -> " + std::to_string(call.result ? 1 : 0));
  return call.result ? TRUE : FALSE;
}

BOOL WINAPI DdeUninitialize(DWORD idInst) {
  std::unique_lock<std::mutex> lock(ddeMutex);
  standin::DdeUninitializeCall call;
  call.instance = idInst;
  if (instances.erase(idInst)) {
    call.result = true;
    for (auto &c : conversations)
      if (c.second.instance == idInst) {
        abandonQueued(c.second);
        c.second.connected = false;
      }
    for (auto it = strings.begin(); it != strings.end();)
      it = it->second.instance == idInst ? strings.erase(it) : std::next(it);
  }
  uninitializeCalls.push_back(call);
  lock.unlock();
  standin::journal("DdeUninitialize inst=" + std::to_string(idInst) + " -> " +
                   std::to_string(call.result ? 1 : 0));
  return call.result ? TRUE : FALSE;
}

DWORD WINAPI DdeGetData(HDDEDATA hData, LPBYTE pDst, DWORD cbMax, DWORD cbOff) {
  std::lock_guard<std::mutex> lock(ddeMutex);
  auto it = dataHandles.find(reinterpret_cast<uintptr_t>(hData));
  if (it == dataHandles.end() || cbOff > it->second.size())
    return 0;
  const DWORD left = static_cast<DWORD>(it->second.size()) - cbOff;
  if (pDst == nullptr)
    return left;
  const DWORD n = cbMax < left ? cbMax : left;
  std::memcpy(pDst, it->second.data() + cbOff, n);
  return n;
}

BOOL WINAPI DdeFreeDataHandle(HDDEDATA hData) {
  std::lock_guard<std::mutex> lock(ddeMutex);
  return dataHandles.erase(reinterpret_cast<uintptr_t>(hData)) ? TRUE : FALSE;
}

UINT WINAPI DdeGetLastError(DWORD idInst) {
  std::lock_guard<std::mutex> lock(ddeMutex);
  auto inst = instances.find(idInst);
  if (inst == instances.end())
    return DMLERR_DLL_NOT_INITIALIZED;
  UINT e = inst->second.lastError;
  inst->second.lastError = DMLERR_NO_ERROR;
  return e;
}

namespace standin {

void resetDde() {
  std::lock_guard<std::mutex> lock(ddeMutex);
  mode = ProgmanMode::Present;
  serverDelay = 0;
  refuseAt = 0;
  hangAt = 0;
  served = 0;
  initFailures = 0;
  instances.clear();
  strings.clear();
  conversations.clear();
  nextConversationNumber = 1;
  initCalls.clear();
  stringCalls.clear();
  connectCalls.clear();
  transactions.clear();
  requests.clear();
  disconnectCalls.clear();
  uninitializeCalls.clear();
  groups.clear();
  currentGroup = -1;
  rejected.clear();
  dataHandles.clear();
}

void setProgmanMode(ProgmanMode m) {
  std::lock_guard<std::mutex> lock(ddeMutex);
  mode = m;
}

void setProgmanDelay(DWORD ms) {
  std::lock_guard<std::mutex> lock(ddeMutex);
  serverDelay = ms;
}

void refuseProgmanCommand(int n) {
  std::lock_guard<std::mutex> lock(ddeMutex);
  refuseAt = n;
}

void hangProgmanAt(int n) {
  std::lock_guard<std::mutex> lock(ddeMutex);
  hangAt = n;
}

void ddeClientThreadWaits() {
  std::lock_guard<std::mutex> lock(ddeMutex);
  const std::thread::id me = std::this_thread::get_id();
  for (auto &c : conversations) {
    auto inst = instances.find(c.second.instance);
    if (!c.second.connected || inst == instances.end() ||
        inst->second.thread != me)
      continue;
    bool drained = false;
    deliverQueued(c.second, TIMEOUT_ASYNC, &drained);
  }
}

void failDdeInitialize(int calls) {
  std::lock_guard<std::mutex> lock(ddeMutex);
  initFailures = calls;
}

std::vector<DdeInitCall> ddeInitCalls() {
  std::lock_guard<std::mutex> lock(ddeMutex);
  return initCalls;
}

std::vector<DdeStringCall> ddeStringCalls() {
  std::lock_guard<std::mutex> lock(ddeMutex);
  return stringCalls;
}

std::vector<DdeConnectCall> ddeConnectCalls() {
  std::lock_guard<std::mutex> lock(ddeMutex);
  return connectCalls;
}

std::vector<DdeTransaction> ddeTransactions() {
  std::lock_guard<std::mutex> lock(ddeMutex);
  return transactions;
}

std::vector<DdeTransaction> ddeRequests() {
  std::lock_guard<std::mutex> lock(ddeMutex);
  return requests;
}

std::vector<DdeDisconnectCall> ddeDisconnectCalls() {
  std::lock_guard<std::mutex> lock(ddeMutex);
  return disconnectCalls;
}

std::vector<DdeUninitializeCall> ddeUninitializeCalls() {
  std::lock_guard<std::mutex> lock(ddeMutex);
  return uninitializeCalls;
}

std::vector<std::string> ddeCommands() {
  std::lock_guard<std::mutex> lock(ddeMutex);
  std::vector<std::string> out;
  for (const DdeTransaction &t : transactions) {
    if (t.type != XTYP_EXECUTE)
      continue;
    size_t n = 0;
    while (n < t.bytes.size() && t.bytes[n] != 0)
      ++n;
    out.emplace_back(t.bytes.begin(),
                     t.bytes.begin() + static_cast<std::ptrdiff_t>(n));
  }
  return out;
}

int ddeConversationNumber(HCONV conversation) {
  std::lock_guard<std::mutex> lock(ddeMutex);
  return conversationNumberLocked(conversation);
}

int ddeOpenInstanceCount() {
  std::lock_guard<std::mutex> lock(ddeMutex);
  return static_cast<int>(instances.size());
}

int ddeOpenConversationCount() {
  std::lock_guard<std::mutex> lock(ddeMutex);
  int n = 0;
  for (const auto &c : conversations)
    n += c.second.connected ? 1 : 0;
  return n;
}

std::vector<ProgmanGroup> progmanGroups() {
  std::lock_guard<std::mutex> lock(ddeMutex);
  return groups;
}

void addProgmanGroup(const std::string &name,
                     const std::vector<ProgmanItem> &items) {
  std::lock_guard<std::mutex> lock(ddeMutex);
  if (findGroup(name) < 0)
    groups.push_back(ProgmanGroup{name, items});
}

int ddeOpenDataCount() {
  std::lock_guard<std::mutex> lock(ddeMutex);
  return static_cast<int>(dataHandles.size());
}

std::vector<std::string> progmanRejected() {
  std::lock_guard<std::mutex> lock(ddeMutex);
  return rejected;
}

} // namespace standin
