#include <windows.h>

#include "standin/dde.h"
#include "standin/journal.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

HDDEDATA CALLBACK callback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR,
                           ULONG_PTR) {
  return nullptr;
}

const DWORD kFlags = APPCMD_CLIENTONLY | CBF_SKIP_ALLNOTIFICATIONS;

class DdeTest : public ::testing::Test {
protected:
  void SetUp() override {
    standin::resetDde();
    standin::clearJournal();
  }

  DWORD instance = 0;
  HCONV conv = nullptr;

  // One exchange as the setup makes it: initialise, connect, send, close.
  void connect() {
    instance = 0;
    DdeInitializeA(&instance, callback, kFlags, 0);
    HSZ progman = DdeCreateStringHandleA(instance, "Progman", 0);
    conv = DdeConnect(instance, progman, progman, nullptr);
  }
  // A synchronous execute (1 s) unless `timeout` says otherwise.
  HDDEDATA send(const char *command, DWORD timeout = 1000) {
    DWORD result = 0;
    return DdeClientTransaction(
        reinterpret_cast<LPBYTE>(const_cast<char *>(command)),
        static_cast<DWORD>(std::strlen(command) + 1), conv, nullptr, 0,
        XTYP_EXECUTE, timeout, &result);
  }
  void disconnect() {
    if (conv)
      DdeDisconnect(conv);
    DdeUninitialize(instance);
  }
};

TEST_F(DdeTest, PresentPeerRecordsEveryCallAndCarriesOutTheCommands) {
  connect();
  ASSERT_NE(nullptr, conv);
  EXPECT_NE(nullptr, send("[CreateGroup(VKO Halvermont,1)]"));
  EXPECT_NE(nullptr, send("[AddItem(\"D:\\X\\ABC.EXE\",\"Monitor\")]"));
  disconnect();

  auto inits = standin::ddeInitCalls();
  ASSERT_EQ(1u, inits.size());
  EXPECT_EQ(0u, inits[0].incomingInstance);
  EXPECT_TRUE(inits[0].callback);
  EXPECT_EQ(0x003C0010u, inits[0].afCmd);
  EXPECT_EQ(0u, inits[0].ulRes);
  EXPECT_NE(0u, inits[0].instance);
  auto strings = standin::ddeStringCalls();
  ASSERT_EQ(1u, strings.size());
  EXPECT_EQ("Progman", *strings[0].text);
  EXPECT_EQ(0, strings[0].codePage);
  auto connects = standin::ddeConnectCalls();
  ASSERT_EQ(1u, connects.size());
  EXPECT_EQ("Progman", *connects[0].service);
  EXPECT_EQ("Progman", *connects[0].topic);
  EXPECT_FALSE(connects[0].context);

  auto ts = standin::ddeTransactions();
  ASSERT_EQ(2u, ts.size());
  const char create[] = "[CreateGroup(VKO Halvermont,1)]";
  EXPECT_EQ(32u, ts[0].cbData);
  EXPECT_EQ(std::vector<BYTE>(create, create + 32), ts[0].bytes);
  EXPECT_EQ(36u, ts[1].cbData);
  EXPECT_EQ(0, ts[1].bytes.back());
  EXPECT_EQ(connects[0].conversation, ts[0].conversation);
  EXPECT_FALSE(ts[0].item);
  EXPECT_EQ(0u, ts[0].format);
  EXPECT_EQ(0x4050u, ts[0].type);
  EXPECT_EQ(1000u, ts[0].timeout);
  EXPECT_TRUE(ts[0].accepted);

  auto groups = standin::progmanGroups();
  ASSERT_EQ(1u, groups.size());
  EXPECT_EQ("VKO Halvermont", groups[0].name);
  ASSERT_EQ(1u, groups[0].items.size());
  EXPECT_EQ("D:\\X\\ABC.EXE", groups[0].items[0].command);
  EXPECT_EQ("Monitor", groups[0].items[0].title);

  ASSERT_EQ(1u, standin::ddeDisconnectCalls().size());
  EXPECT_TRUE(standin::ddeDisconnectCalls()[0].result);
  ASSERT_EQ(1u, standin::ddeUninitializeCalls().size());
  EXPECT_EQ(inits[0].instance, standin::ddeUninitializeCalls()[0].instance);
  EXPECT_EQ(0, standin::ddeOpenInstanceCount());
  EXPECT_EQ(0, standin::ddeOpenConversationCount());

  auto journal = standin::journalEntries();
  ASSERT_EQ(7u, journal.size());
  EXPECT_EQ(
      "DdeClientTransaction conv=1 \"[CreateGroup(VKO Halvermont,1)]\\0\" "
      "cb=32 item=0 fmt=0 type=0x00004050 timeout=0x000003E8 -> 1",
      journal[3]);
}

TEST_F(DdeTest, AbsentPeerGivesNoConversationAndTransactionsFail) {
  standin::setProgmanMode(standin::ProgmanMode::Absent);
  connect();
  EXPECT_EQ(nullptr, conv);
  EXPECT_EQ(static_cast<UINT>(DMLERR_NO_CONV_ESTABLISHED),
            DdeGetLastError(instance));
  EXPECT_EQ(nullptr, send("[DeleteGroup(VKO Halvermont,1)]"));
  disconnect();
  auto ts = standin::ddeTransactions();
  ASSERT_EQ(1u, ts.size());
  EXPECT_EQ(0, ts[0].conversation);
  EXPECT_EQ(32u, ts[0].bytes.size());
  EXPECT_FALSE(ts[0].accepted);
  EXPECT_EQ((std::vector<std::string>{"[DeleteGroup(VKO Halvermont,1)]"}),
            standin::ddeCommands());
  EXPECT_TRUE(standin::ddeDisconnectCalls().empty());
  ASSERT_EQ(1u, standin::ddeUninitializeCalls().size());
  EXPECT_TRUE(standin::ddeUninitializeCalls()[0].result);
}

TEST_F(DdeTest, RefusingPeerConnectsButAcceptsNothing) {
  standin::setProgmanMode(standin::ProgmanMode::Refusing);
  connect();
  ASSERT_NE(nullptr, conv);
  EXPECT_EQ(nullptr, send("[CreateGroup(VKO Halvermont,1)]"));
  EXPECT_TRUE(standin::progmanGroups().empty());
  disconnect();
  // After the disconnect even a present peer refuses that conversation.
  standin::setProgmanMode(standin::ProgmanMode::Present);
  EXPECT_EQ(nullptr, send("[CreateGroup(VKO Halvermont,1)]"));
  EXPECT_FALSE(DdeDisconnect(conv));
  EXPECT_TRUE(standin::progmanGroups().empty());
}

TEST_F(DdeTest, FailingInitialisationForAGivenNumberOfCalls) {
  standin::failDdeInitialize(1);
  DWORD id = 0;
  EXPECT_EQ(static_cast<UINT>(DMLERR_SYS_ERROR),
            DdeInitializeA(&id, callback, kFlags, 0));
  EXPECT_EQ(0u, id);
  EXPECT_EQ(nullptr, DdeCreateStringHandleA(id, "Progman", 0));
  EXPECT_EQ(nullptr, DdeConnect(id, nullptr, nullptr, nullptr));
  EXPECT_FALSE(DdeUninitialize(id));
  EXPECT_EQ(static_cast<UINT>(DMLERR_NO_ERROR),
            DdeInitializeA(&id, callback, kFlags, 0));
  EXPECT_NE(0u, id);

  standin::failDdeInitialize(-1);
  DWORD other = 0;
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(static_cast<UINT>(DMLERR_SYS_ERROR),
              DdeInitializeA(&other, callback, kFlags, 0));
  auto inits = standin::ddeInitCalls();
  ASSERT_EQ(5u, inits.size());
  EXPECT_EQ(0u, inits[1].incomingInstance);
  EXPECT_EQ(static_cast<UINT>(DMLERR_SYS_ERROR), inits[4].result);
}

// Asynchronous commands wait in the conversation's queue until the client's
// thread waits inside the library; the disconnect abandons what is left. A
// synchronous command first lets the queue through, one after the other.
TEST_F(DdeTest, CommandsAreCarriedOutOnlyWhileTheClientWaits) {
  using O = standin::DdeOutcome;
  connect();
  EXPECT_NE(nullptr, send("[CreateGroup(A,1)]", TIMEOUT_ASYNC));
  EXPECT_NE(nullptr, send("[CreateGroup(B,1)]", TIMEOUT_ASYNC));
  EXPECT_TRUE(standin::progmanGroups().empty());
  EXPECT_NE(nullptr, send("[CreateGroup(C,1)]")); // A and B go first
  EXPECT_EQ(3u, standin::progmanGroups().size());
  EXPECT_NE(nullptr, send("[CreateGroup(D,1)]", TIMEOUT_ASYNC));
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // a message wait
  EXPECT_EQ(4u, standin::progmanGroups().size());
  EXPECT_NE(nullptr, send("[CreateGroup(E,1)]", TIMEOUT_ASYNC));
  disconnect();
  EXPECT_EQ(4u, standin::progmanGroups().size());
  std::vector<O> outcomes;
  for (const auto &t : standin::ddeTransactions())
    outcomes.push_back(t.outcome);
  EXPECT_EQ((std::vector<O>{O::CarriedOut, O::CarriedOut, O::CarriedOut,
                            O::CarriedOut, O::Abandoned}),
            outcomes);
}

// A synchronous command returns after its answer: carried out (nonzero),
// refused (0, DMLERR_NOTPROCESSED), or none in time (0,
// DMLERR_EXECACKTIMEOUT). A slow server's late command is still carried out;
// a hung one carries out nothing more.
TEST_F(DdeTest, SynchronousResultsOfASlowRefusingOrHungServer) {
  connect();
  standin::setProgmanDelay(400);
  EXPECT_NE(nullptr, send("[CreateGroup(A,1)]"));
  EXPECT_EQ(static_cast<UINT>(DMLERR_NO_ERROR), DdeGetLastError(instance));
  EXPECT_EQ(nullptr, send("[CreateGroup(B,1)]", 300));
  EXPECT_EQ(static_cast<UINT>(DMLERR_EXECACKTIMEOUT),
            DdeGetLastError(instance));
  standin::setProgmanDelay(0);
  standin::refuseProgmanCommand(3);
  EXPECT_EQ(nullptr, send("[CreateGroup(C,1)]"));
  EXPECT_EQ(static_cast<UINT>(DMLERR_NOTPROCESSED), DdeGetLastError(instance));
  EXPECT_EQ(nullptr, send("[DeleteGroup(Missing,1)]")); // the peer cannot
  EXPECT_EQ(static_cast<UINT>(DMLERR_NOTPROCESSED), DdeGetLastError(instance));
  standin::hangProgmanAt(5);
  EXPECT_EQ(nullptr, send("[CreateGroup(E,1)]"));
  EXPECT_EQ(nullptr, send("[CreateGroup(F,1)]"));
  EXPECT_EQ(static_cast<UINT>(DMLERR_EXECACKTIMEOUT),
            DdeGetLastError(instance));
  disconnect();
  auto groups = standin::progmanGroups();
  ASSERT_EQ(2u, groups.size());
  EXPECT_EQ("B", groups[1].name); // late, but carried out
  std::vector<DWORD> waited;
  for (const auto &t : standin::ddeTransactions())
    waited.push_back(t.waitedMs);
  EXPECT_EQ((std::vector<DWORD>{400, 300, 0, 0, 1000, 1000}), waited);
}

TEST_F(DdeTest, PeerModelFollowsGroupCommands) {
  standin::addProgmanGroup("Old");
  connect();
  send("[DeleteGroup(Missing,1)]");
  send("[AddItem(\"C:\\A.EXE\")]"); // no group created in this exchange yet
  send("[CreateGroup(\"G, one\",1)][AddItem(C:\\B\\B.EXE)]");
  send("[DeleteGroup(old)]");
  disconnect();
  auto groups = standin::progmanGroups();
  ASSERT_EQ(1u, groups.size());
  EXPECT_EQ("G, one", groups[0].name);
  ASSERT_EQ(1u, groups[0].items.size());
  EXPECT_EQ("B.EXE", groups[0].items[0].title);
  EXPECT_EQ((std::vector<std::string>{"[DeleteGroup(Missing,1)]",
                                      "[AddItem(\"C:\\A.EXE\")]"}),
            standin::progmanRejected());
}

} // namespace
