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
  HDDEDATA send(const char *command) {
    DWORD result = 0;
    return DdeClientTransaction(
        reinterpret_cast<LPBYTE>(const_cast<char *>(command)),
        static_cast<DWORD>(std::strlen(command) + 1), conv, nullptr, 0,
        XTYP_EXECUTE, TIMEOUT_ASYNC, &result);
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
  EXPECT_EQ(0xFFFFFFFFu, ts[0].timeout);
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
      "cb=32 item=0 fmt=0 type=0x00004050 timeout=0xFFFFFFFF -> 1",
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
