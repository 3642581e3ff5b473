// The Program Manager client: the DDE exchange, the command bytes it sends,
// its retry waits, and the program group made from the file list.
#include "import/program_group.h"
#include "system/progman_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "standin/dde.h"
#include "standin/faults.h"
#include "standin/kernel.h"
#include "state/install_state.h"
#include "support/test_files.h"
#include "text/bounded_text.h"

namespace {

const char kCreateGroup[] = "[CreateGroup(VKO Halvermont,1)]";

void SetInstallDir(const std::string &dir) {
  ASSERT_TRUE(CopyText(g_installDir, dir.c_str()));
}

std::string AddItem(const std::string &program, const std::string &title) {
  return "[AddItem(\"" + program + "\",\"" + title + "\")]";
}

class ProgmanClientTest : public ::testing::Test {
protected:
  void SetUp() override {
    standin::resetDde();
    standin::resetKernel();
    standin::setSleepRecordOnly(true);
    g_ddeInstance = 0;
    g_progmanConv = nullptr;
    SetInstallDir("D:\\X");
  }
  void TearDown() override {
    for (FILE *file : files_)
      std::fclose(file);
    standin::resetDde();
    standin::resetKernel();
  }

  // An open stream over `content`, positioned at its start.
  FILE *FileList(const std::string &content) {
    FILE *file = std::tmpfile();
    EXPECT_NE(file, nullptr);
    if (file == nullptr)
      return nullptr;
    files_.push_back(file);
    std::fwrite(content.data(), 1, content.size(), file);
    std::rewind(file);
    return file;
  }

  // The execute commands CreateProgramGroup sends for `content`.
  std::vector<std::string> CommandsFor(const std::string &content) {
    standin::resetDde();
    EXPECT_EQ(CreateProgramGroup(FileList(content)), 1);
    return standin::ddeCommands();
  }

  std::vector<FILE *> files_;
};

TEST_F(ProgmanClientTest, CreatesTheGroupAndOneItemPerItemLineInFileOrder) {
  FILE *list = FileList("#start\n"
                        "SETUP.EXE = \"Not an item\"\n"
                        "#item\n"
                        "ABC.EXE = \"Monitor\"\n"
                        "\n"
                        "// the alarm log\n"
                        "LOG.EXE=\"Alarm Log\"   // viewer\r\n"
                        "\tHELP.HLP\t\"Help\"\n"
                        "#end\n"
                        "LATE.EXE = \"After the section\"\n");
  EXPECT_EQ(CreateProgramGroup(list), 1);

  const std::vector<std::string> expected = {
      kCreateGroup, AddItem("D:\\X\\ABC.EXE", "Monitor"),
      AddItem("D:\\X\\LOG.EXE", "Alarm Log"),
      AddItem("D:\\X\\HELP.HLP", "Help")};
  EXPECT_EQ(standin::ddeCommands(), expected);

  // Each command goes as its text and one zero byte, as a synchronous
  // execute without item or format that waits up to 10 s, on the one
  // conversation, and is carried out before the next goes.
  auto transactions = standin::ddeTransactions();
  ASSERT_EQ(transactions.size(), 4u);
  EXPECT_EQ(transactions[0].cbData, 32u);
  EXPECT_EQ(transactions[1].cbData, 36u); // the 35 characters of the example
  for (size_t i = 0; i < transactions.size(); ++i) {
    std::vector<BYTE> bytes(expected[i].begin(), expected[i].end());
    bytes.push_back(0);
    EXPECT_EQ(transactions[i].bytes, bytes) << i;
    EXPECT_NE(transactions[i].conversation, 0);
    EXPECT_EQ(transactions[i].conversation, transactions[0].conversation);
    EXPECT_FALSE(transactions[i].item);
    EXPECT_EQ(transactions[i].format, 0u);
    EXPECT_EQ(transactions[i].type, 0x4050u);
    EXPECT_EQ(transactions[i].timeout, 10000u);
    EXPECT_TRUE(transactions[i].resultPointer);
    EXPECT_EQ(transactions[i].outcome, standin::DdeOutcome::CarriedOut) << i;
  }

  // The peer made the group with the three items.
  auto groups = standin::progmanGroups();
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].name, "VKO Halvermont");
  ASSERT_EQ(groups[0].items.size(), 3u);
  EXPECT_EQ(groups[0].items[1].command, "D:\\X\\LOG.EXE");
  EXPECT_EQ(groups[0].items[1].title, "Alarm Log");
  EXPECT_TRUE(standin::progmanRejected().empty());
  EXPECT_TRUE(standin::sleepCalls().empty());
}

TEST_F(ProgmanClientTest, ExchangeArgumentsAndCleanState) {
  EXPECT_EQ(CreateProgramGroup(FileList("#item\nA.EXE \"A\"\n")), 1);

  auto inits = standin::ddeInitCalls();
  ASSERT_EQ(inits.size(), 1u);
  EXPECT_TRUE(inits[0].instancePointer);
  EXPECT_EQ(inits[0].incomingInstance, 0u);
  EXPECT_TRUE(inits[0].callback);
  EXPECT_EQ(inits[0].afCmd, 0x003C0010u);
  EXPECT_EQ(inits[0].ulRes, 0u);

  auto strings = standin::ddeStringCalls();
  ASSERT_EQ(strings.size(), 2u);
  EXPECT_EQ(strings[0].instance, inits[0].instance);
  EXPECT_EQ(strings[0].text, "Progman");
  EXPECT_EQ(strings[0].codePage, 0);
  // Before the group is made, the groups that exist are asked for: the
  // item "Groups" as text, with a time-out.
  EXPECT_EQ(strings[1].text, "Groups");
  auto requests = standin::ddeRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].type, 0x20B0u);
  EXPECT_EQ(requests[0].format, 1u);
  EXPECT_TRUE(requests[0].item);
  EXPECT_EQ(requests[0].timeout, 5000u);
  EXPECT_TRUE(requests[0].accepted);
  EXPECT_EQ(standin::ddeOpenDataCount(), 0);

  auto connects = standin::ddeConnectCalls();
  ASSERT_EQ(connects.size(), 1u);
  EXPECT_EQ(connects[0].service, "Progman");
  EXPECT_EQ(connects[0].topic, "Progman");
  EXPECT_FALSE(connects[0].context);

  auto disconnects = standin::ddeDisconnectCalls();
  ASSERT_EQ(disconnects.size(), 1u);
  EXPECT_EQ(disconnects[0].conversation, connects[0].conversation);
  auto uninits = standin::ddeUninitializeCalls();
  ASSERT_EQ(uninits.size(), 1u);
  EXPECT_EQ(uninits[0].instance, inits[0].instance);

  EXPECT_EQ(g_ddeInstance, 0u);
  EXPECT_EQ(g_progmanConv, nullptr);
  EXPECT_EQ(standin::ddeOpenInstanceCount(), 0);
  EXPECT_EQ(standin::ddeOpenConversationCount(), 0);
}

TEST_F(ProgmanClientTest, OnlyTheFirstItemSectionIsRead) {
  // No marker: the group alone.
  EXPECT_EQ(CommandsFor("#start\nA.EXE = \"A\"\n"),
            std::vector<std::string>{kCreateGroup});
  // Markers in any case, indented, with more after "#item"; "# item" is none.
  EXPECT_EQ(
      CommandsFor("# item\nA.EXE = \"A\"\n  \t#ITEMS\nB.EXE = \"B\""),
      (std::vector<std::string>{kCreateGroup, AddItem("D:\\X\\B.EXE", "B")}));
  // A second marker ends the section; neither it nor what follows is sent.
  EXPECT_EQ(
      CommandsFor("#item\nA.EXE = \"A\"\n#item\nB.EXE = \"B\"\n"),
      (std::vector<std::string>{kCreateGroup, AddItem("D:\\X\\A.EXE", "A")}));
  // An empty file.
  EXPECT_EQ(CommandsFor(""), std::vector<std::string>{kCreateGroup});
}

TEST_F(ProgmanClientTest, ReadsTheListFromItsBeginning) {
  FILE *list = FileList("#item\nA.EXE = \"A\"\nB.EXE = \"B\"\n");
  // The caller has read it to its end already.
  while (std::fgetc(list) != EOF) {
  }
  ASSERT_TRUE(std::feof(list));
  CreateProgramGroup(list);
  EXPECT_EQ(
      standin::ddeCommands(),
      (std::vector<std::string>{kCreateGroup, AddItem("D:\\X\\A.EXE", "A"),
                                AddItem("D:\\X\\B.EXE", "B")}));
}

// Lines that name no item, and texts that would change the command Program
// Manager runs, are left out; the other items still go.
TEST_F(ProgmanClientTest, ItemsThatCannotFormASoundCommandAreLeftOut) {
  auto commands = CommandsFor("#item\n"
                              "NOSEPARATOR\"Title\"\n"    // no blank or =
                              "NOQUOTE.EXE = Title\n"     // no quote
                              "A.EXE = \"Say \"hi\"\"\n"  // quote in title
                              "B.EXE = \"Title\" extra\n" // text after quote
                              "D\"X.EXE = \"Title\"\n"    // quote in name
                              "OK.EXE = \"Fine\"\n");
  EXPECT_EQ(commands, (std::vector<std::string>{
                          kCreateGroup, AddItem("D:\\X\\OK.EXE", "Fine")}));
  EXPECT_TRUE(standin::progmanRejected().empty());

  // An install directory that holds a quote spoils every item.
  SetInstallDir("D:\\\"X");
  EXPECT_EQ(CommandsFor("#item\nOK.EXE = \"Fine\"\n"),
            std::vector<std::string>{kCreateGroup});
}

// Inside the quoted arguments brackets are plain characters to Program
// Manager: an install directory, item name or title with brackets makes its
// item, sent byte for byte as written.
TEST_F(ProgmanClientTest, BracketsAreSentInsideTheQuotedArguments) {
  SetInstallDir("C:\\Tools [2]");
  auto commands = CommandsFor("#item\n"
                              "A.EXE = \"Ti]tle [B]\"\n"
                              "C[1].EXE = \"Run][ForceQuit()\"\n"
                              "F.EXE = \"[\"\n");
  const std::vector<std::string> expected = {
      kCreateGroup, "[AddItem(\"C:\\Tools [2]\\A.EXE\",\"Ti]tle [B]\")]",
      "[AddItem(\"C:\\Tools [2]\\C[1].EXE\",\"Run][ForceQuit()\")]",
      "[AddItem(\"C:\\Tools [2]\\F.EXE\",\"[\")]"};
  EXPECT_EQ(commands, expected);
  auto transactions = standin::ddeTransactions();
  ASSERT_EQ(transactions.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    std::vector<BYTE> bytes(expected[i].begin(), expected[i].end());
    bytes.push_back(0);
    EXPECT_EQ(transactions[i].bytes, bytes) << i;
  }

  // The peer, which reads quoted arguments as Program Manager does, made
  // every item.
  EXPECT_TRUE(standin::progmanRejected().empty());
  auto groups = standin::progmanGroups();
  ASSERT_EQ(groups.size(), 1u);
  ASSERT_EQ(groups[0].items.size(), 3u);
  EXPECT_EQ(groups[0].items[0].command, "C:\\Tools [2]\\A.EXE");
  EXPECT_EQ(groups[0].items[0].title, "Ti]tle [B]");
  EXPECT_EQ(groups[0].items[1].title, "Run][ForceQuit()");
  EXPECT_EQ(groups[0].items[2].title, "[");
}

// Under code page 932 a title's last character may be two bytes: the long
// vowel mark (0x81 0x5B) ends in the byte of "[". A line without its
// closing quote loses that character whole, never leaving a lead byte that
// would take the closing quote of the command for its trail byte. Trail
// bytes 0x5C in the install directory are sent as they are.
TEST_F(ProgmanClientTest, DoubleByteTitlesLoseTheirLastCharacterWhole) {
  standin::setCodePage(932);
  SetInstallDir("C:\\\x95\\");
  const std::string title = "\x83\x82\x83\x6A\x83\x5E\x81\x5B";
  const std::string closed = "A.EXE = \"" + title + "\"\n";
  const std::string unclosed = "B.EXE = \"" + title + "\n";
  auto commands = CommandsFor("#item\n" + closed + unclosed);
  EXPECT_EQ(commands, (std::vector<std::string>{
                          kCreateGroup, AddItem("C:\\\x95\\\\A.EXE", title),
                          AddItem("C:\\\x95\\\\B.EXE", title.substr(0, 6))}));
}

// The section marker is compared on all five characters of "#item": "#itex"
// starts no section, so only the items after the real marker are sent.
TEST_F(ProgmanClientTest, TheMarkerIsComparedOnAllFiveCharacters) {
  EXPECT_EQ(
      CommandsFor("#itex\nA.EXE = \"A\"\n#item\nB.EXE = \"B\"\n"),
      (std::vector<std::string>{kCreateGroup, AddItem("D:\\X\\B.EXE", "B")}));
}

// A line too long for the line buffer still marks or ends the item section
// by its beginning, but is never sent as an item: its name or title would be
// cut.
TEST_F(ProgmanClientTest, OverlongLinesKeepTheSectionRules) {
  const std::string longTail(300, 'x');
  EXPECT_EQ(
      CommandsFor("#item" + longTail + "\nA.EXE = \"A\"\n"),
      (std::vector<std::string>{kCreateGroup, AddItem("D:\\X\\A.EXE", "A")}));
  EXPECT_EQ(
      CommandsFor("#item\nA.EXE = \"A\"\n#end" + longTail +
                  "\nB.EXE = \"B\"\n"),
      (std::vector<std::string>{kCreateGroup, AddItem("D:\\X\\A.EXE", "A")}));
  EXPECT_EQ(
      CommandsFor("#item\nC.EXE = \"" + longTail + "\"\nD.EXE = \"D\"\n"),
      (std::vector<std::string>{kCreateGroup, AddItem("D:\\X\\D.EXE", "D")}));
}

// The command buffer holds 255 characters: the 17 fixed ones and 238 of
// directory, name and title. A longer command is not sent cut short; it is
// not sent at all.
TEST_F(ProgmanClientTest, AddItemCommandAtTheBufferLimit) {
  const std::string name(100, 'n');
  const std::string fits(134, 't'); // 4 + 100 + 134 = 238
  const std::string over(135, 't');
  auto commands = CommandsFor("#item\n" + name + " \"" + fits + "\"\n" + name +
                              " \"" + over + "\"\nLAST.EXE \"Last\"\n");
  ASSERT_EQ(commands.size(), 3u);
  EXPECT_EQ(commands[1], AddItem("D:\\X\\" + name, fits));
  EXPECT_EQ(commands[1].size(), 255u);
  EXPECT_EQ(commands[2], AddItem("D:\\X\\LAST.EXE", "Last"));
  EXPECT_EQ(standin::ddeTransactions()[1].cbData, 256u);

  // The same limit reached through a long install directory.
  std::string longDir = "D:\\" + std::string(232, 'd'); // 235 characters
  SetInstallDir(longDir);
  commands = CommandsFor("#item\nAB \"C\"\nABC \"D\"\n");
  ASSERT_EQ(commands, (std::vector<std::string>{
                          kCreateGroup, AddItem(longDir + "\\AB", "C")}));
  EXPECT_EQ(commands[1].size(), 255u);
}

// Without a server: two connects 500 ms apart, the group's command twice,
// 100 ms apart, and no item (it would land in another group); the exchange
// still ends cleanly.
TEST_F(ProgmanClientTest, NoProgramManagerCostsOnlyTheRetryWaits) {
  standin::setProgmanMode(standin::ProgmanMode::Absent);
  EXPECT_EQ(CreateProgramGroup(FileList("#item\nA.EXE \"A\"\nB.EXE \"B\"\n")),
            -1);

  EXPECT_EQ(standin::sleepCalls(), (std::vector<DWORD>{500, 100}));
  EXPECT_EQ(standin::ddeConnectCalls().size(), 2u);
  auto transactions = standin::ddeTransactions();
  ASSERT_EQ(transactions.size(), 2u);
  for (const auto &transaction : transactions) {
    EXPECT_EQ(transaction.conversation, 0);
    EXPECT_FALSE(transaction.accepted);
  }
  EXPECT_TRUE(standin::ddeDisconnectCalls().empty());
  EXPECT_EQ(standin::ddeUninitializeCalls().size(), 1u);
  EXPECT_EQ(g_ddeInstance, 0u);
  EXPECT_EQ(standin::ddeOpenInstanceCount(), 0);
}

TEST_F(ProgmanClientTest, ExecuteRetriesOnceOnTheSameConversation) {
  standin::setProgmanMode(standin::ProgmanMode::Refusing);
  ASSERT_EQ(ProgmanConnect(), 1);
  EXPECT_EQ(ProgmanExecute(kCreateGroup, PROGMAN_TIMEOUT_MS), 0);
  auto transactions = standin::ddeTransactions();
  ASSERT_EQ(transactions.size(), 2u);
  EXPECT_EQ(transactions[0].conversation, transactions[1].conversation);
  EXPECT_NE(transactions[0].conversation, 0);
  EXPECT_EQ(standin::sleepCalls(), std::vector<DWORD>{100});
  EXPECT_EQ(ProgmanDisconnect(), 1);
  EXPECT_EQ(g_progmanConv, nullptr);
  EXPECT_EQ(standin::ddeOpenConversationCount(), 0);

  standin::setProgmanMode(standin::ProgmanMode::Present);
  ASSERT_EQ(ProgmanConnect(), 1);
  EXPECT_EQ(ProgmanExecute(kCreateGroup, PROGMAN_TIMEOUT_MS), 1);
  ProgmanDisconnect();
}

TEST_F(ProgmanClientTest, LibraryThatCannotBeInitialised) {
  // Both attempts fail: 500 ms before the second, then the connect retry and
  // the command retry; the instance is still released.
  standin::failDdeInitialize(2);
  EXPECT_EQ(ProgmanConnect(), 0);
  EXPECT_EQ(ProgmanExecute(kCreateGroup, PROGMAN_TIMEOUT_MS), 0);
  EXPECT_EQ(ProgmanDisconnect(), 1);
  EXPECT_EQ(standin::sleepCalls(), (std::vector<DWORD>{500, 500, 100}));
  EXPECT_EQ(standin::ddeInitCalls().size(), 2u);
  EXPECT_EQ(standin::ddeUninitializeCalls().size(), 1u);
  EXPECT_EQ(g_ddeInstance, 0u);

  // The next exchange asks for a new instance and works.
  ASSERT_EQ(ProgmanConnect(), 1);
  auto inits = standin::ddeInitCalls();
  ASSERT_EQ(inits.size(), 3u);
  EXPECT_EQ(inits[2].incomingInstance, 0u);
  EXPECT_EQ(ProgmanExecute(kCreateGroup, PROGMAN_TIMEOUT_MS), 1);
  ProgmanDisconnect();
  EXPECT_EQ(standin::progmanGroups().size(), 1u);
}

TEST_F(ProgmanClientTest, SecondInitialisationRescuesTheExchange) {
  standin::failDdeInitialize(1);
  EXPECT_EQ(CreateProgramGroup(FileList("#item\nA.EXE \"A\"\n")), 1);
  EXPECT_EQ(standin::sleepCalls(), std::vector<DWORD>{500});
  EXPECT_EQ(
      standin::ddeCommands(),
      (std::vector<std::string>{kCreateGroup, AddItem("D:\\X\\A.EXE", "A")}));
  EXPECT_EQ(standin::progmanGroups().size(), 1u);
}

// A stream that fails to read (here: a folder opened as the file list) ends
// the reading like the end of the file instead of looping for ever.
TEST_F(ProgmanClientTest, ReadErrorEndsTheList) {
  const std::string folder = testsupport::MakeTempFolder();
  ASSERT_FALSE(folder.empty());
  FILE *list = std::fopen(folder.c_str(), "r");
  if (list == nullptr) {
    testsupport::RemoveFolder(folder);
    GTEST_SKIP() << "this system does not open folders as streams";
  }
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread reader([list, done] {
    CreateProgramGroup(list);
    *done = true;
  });
  for (int i = 0; i < 500 && !*done; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!*done) {
    reader.detach();
    FAIL() << "CreateProgramGroup did not return";
  }
  reader.join();
  std::fclose(list);
  EXPECT_TRUE(testsupport::RemoveFolder(folder)) << folder;
  EXPECT_EQ(standin::ddeCommands(), std::vector<std::string>{kCreateGroup});
  EXPECT_EQ(g_ddeInstance, 0u);
}

// Each command waits for its answer. A slow Program Manager still gets the
// whole group; a refused item is missing and the rest still go; a command
// that times out is never sent again, even when it is carried out late, and
// the items after it are not sent, so a hung Program Manager costs the
// time-out once; a group that is not created gets no items.
TEST_F(ProgmanClientTest, EveryCommandsOutcomeIsKnownAndNoneIsSentTwice) {
  const std::string list = "#item\nA.EXE \"A\"\nB.EXE \"B\"\nC.EXE \"C\"\n";
  struct Case {
    const char *name;
    DWORD delay;
    int refuse, hang;
    int result;
    std::vector<standin::DdeOutcome> outcomes;
    size_t groups;
    std::vector<std::string> items; // in the group afterwards
  };
  using O = standin::DdeOutcome;
  const Case cases[] = {
      {"slow",
       9000,
       0,
       0,
       1,
       {O::CarriedOut, O::CarriedOut, O::CarriedOut, O::CarriedOut},
       1,
       {"A", "B", "C"}},
      {"item refused",
       0,
       3,
       0,
       0,
       {O::CarriedOut, O::CarriedOut, O::Refused, O::CarriedOut},
       1,
       {"A", "C"}},
      // Carried out after the time-out, so the group is there.
      {"late", 10001, 0, 0, -1, {O::TimedOut}, 1, {}},
      {"hung at an item", 0, 0, 2, 0, {O::CarriedOut, O::TimedOut}, 1, {}},
      {"group refused", 0, 1, 0, -1, {O::Refused}, 0, {}},
      {"hung at once", 0, 0, 1, -1, {O::TimedOut}, 0, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    standin::resetDde();
    standin::resetKernel();
    standin::setSleepRecordOnly(true);
    standin::setProgmanDelay(c.delay);
    standin::refuseProgmanCommand(c.refuse);
    standin::hangProgmanAt(c.hang);
    EXPECT_EQ(CreateProgramGroup(FileList(list)), c.result);

    std::vector<standin::DdeOutcome> outcomes;
    DWORD waited = 0;
    for (const auto &t : standin::ddeTransactions()) {
      outcomes.push_back(t.outcome);
      waited += t.outcome == O::TimedOut ? t.waitedMs : 0;
    }
    EXPECT_EQ(outcomes, c.outcomes);
    EXPECT_EQ(waited, c.hang != 0 || c.delay > 10000 ? 10000u : 0u);
    EXPECT_TRUE(standin::sleepCalls().empty());
    EXPECT_EQ(standin::progmanGroups().size(), c.groups);
    std::vector<std::string> items;
    for (const auto &group : standin::progmanGroups())
      for (const auto &item : group.items)
        items.push_back(item.title);
    EXPECT_EQ(items, c.items);
    EXPECT_EQ(standin::ddeOpenConversationCount(), 0);
    EXPECT_EQ(g_ddeInstance, 0u);
  }
}

TEST_F(ProgmanClientTest, WithoutAFileListNothingIsSent) {
  EXPECT_EQ(CreateProgramGroup(nullptr), 1);
  EXPECT_TRUE(standin::ddeInitCalls().empty());
  EXPECT_TRUE(standin::ddeTransactions().empty());
}

// Only a group this run creates goes into the record of its changes: one of
// the suite's name in any letter case among Program Manager's groups is the
// user's, also where the list is read in more than one piece, and so is the
// group where the list cannot be had. A line longer than the setup reads is
// no group of its name.
TEST_F(ProgmanClientTest, OnlyAGroupThisRunCreatesIsRecorded) {
  const std::string filler(250, 'x');
  const std::string longLine(300, 'y');
  struct Case {
    const char *name;
    std::vector<std::string> groups;
    bool requestFails;
    int32_t recorded;
  };
  const Case cases[] = {
      {"none", {}, false, 1},
      {"others", {"Accessories", "StartUp"}, false, 1},
      {"same name", {"Accessories", "vko HALVERMONT"}, false, 0},
      {"across a piece", {filler.substr(0, 248), "VKO Halvermont"}, false, 0},
      {"in a longer line", {longLine + "VKO Halvermont"}, false, 1},
      {"list not to be had", {}, true, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    standin::resetDde();
    g_changeCount = 0;
    for (const std::string &group : c.groups)
      standin::addProgmanGroup(group);
    // The fifth counted call is the request: after the instance, the
    // service's name, the connect and the item's name.
    standin::resetFaults();
    if (c.requestFails)
      standin::setFaultAt(5);
    CreateProgramGroup(FileList("#item\n"));
    if (c.requestFails) {
      EXPECT_EQ(standin::injectedFault()->call, "DdeClientTransaction");
      EXPECT_EQ(standin::progmanGroups().size(), 1u);
    }
    ASSERT_EQ(g_changeCount, c.recorded);
    if (c.recorded == 1) {
      EXPECT_EQ(g_changes[0].kind, kGroupCreated);
    }
    EXPECT_EQ(standin::ddeOpenDataCount(), 0);
  }
  g_changeCount = 0;
  standin::resetFaults();
}

} // namespace
