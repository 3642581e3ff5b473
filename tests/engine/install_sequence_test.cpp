// The worker's install sequence, run as the install host starts it: the
// sibling programs, the registry it leaves, the program group, the success
// prompt, the restart request, the statuses over a run and the exit status;
// and every failure with what the rollback leaves.
#include "engine/install_sequence.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shell/install_dialog.h"
#include "shell/resource_ids.h"
#include "shell/setup_app.h"
#include "standin/dde.h"
#include "standin/journal.h"
#include "standin/kernel.h"
#include "standin/registry.h"
#include "standin/security.h"
#include "standin/user.h"
#include "state/install_log.h"
#include "state/install_state.h"
#include "support/machine_fixture.h"
#include "text/bounded_text.h"

#include "registry_snapshot.h"

namespace {

using enginetest::EraseEntry;
using enginetest::RegistrySnapshot;
using enginetest::Snapshot;
using Bytes = std::vector<BYTE>;

const UINT kErrorFlags = 0x00040010;  // MB_TOPMOST | MB_ICONERROR
const UINT kPromptFlags = 0x00040001; // MB_OKCANCEL | MB_TOPMOST
const char kPromptText[] =
    "VKO Halvermont, successfully Installed!\nWindows will restart now! ";
const char kFailureText[] = "VKO Halvermont Installation Failed!";

const std::string kProduct = "HKLM\\SOFTWARE\\VKO\\DMI";
const std::string kCurrentVersion =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const std::string kRun = kCurrentVersion + "\\Run";
const std::string kUninstall = kCurrentVersion + "\\Uninstall";
const std::string kServices = "HKLM\\SYSTEM\\CurrentControlSet\\Services";

const DWORD kWindows95 = 0xC0000004;
const DWORD kWindowsNt = 0x05650004;

// A default.cfg whose every byte is known: a pattern, with the two text
// fields and the VID byte set.
std::string DefaultsFile() {
  std::string bytes(1291, '\0');
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  bytes.replace(260, 5, "\x04LM78");
  bytes.replace(277, 5,
                "\x04"
                "4800");
  bytes[931] = '\xFF';
  return bytes;
}

Bytes Slice(const std::string &bytes, size_t offset, size_t length) {
  return Bytes(bytes.begin() + offset, bytes.begin() + offset + length);
}

const char kFileList[] = "[files]\n"
                         "Zezoroza.exe\n"
                         "#item\n"
                         "Zezoroza.exe = \"Hardware Monitor\"\n"
                         "Dovrel.exe = \"Uninstall\"\n"
                         "#end\n";

class InstallRun : public testsupport::MachineTest {
public:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(MachineTest::SetUp());
    PutWindowsKeys();
  }

  // Windows' own keys, with other programs' entries.
  static void PutWindowsKeys() {
    standin::regPutString(kRun, "Other", "C:\\other.exe");
    standin::regPutString(kUninstall + "\\Other App", "DisplayName",
                          "Other App");
    standin::regPutDword(kServices + "\\Disk", "Start", 1);
  }

  // A sibling program: notes the status it finds, leaves `handoff` (unless
  // empty) and the files given.
  void AddSibling(const std::string &commandLine, const std::string &handoff,
                  std::vector<std::pair<std::string, std::string>> files = {}) {
    std::string path = HandoffPath();
    auto seen = statusesSeen_;
    standin::registerProgram(commandLine, [=]() -> DWORD {
      seen->push_back(g_installStatus.load());
      if (!handoff.empty())
        WriteFile(path, handoff);
      for (const auto &file : files)
        WriteFile(file.first, file.second);
      return 0;
    });
  }
  // Media on which every step succeeds. The pre-install test leaves the
  // install directory empty, which is never used; the pre-setup program
  // names the install directory and leaves the data files; each program
  // gives its own AMA character.
  void GoodMedia(bool withFileList = true) {
    AddSibling(Sondel(), "1\r\n1\r\n\r\n");
    std::vector<std::pair<std::string, std::string>> files = {
        {installDir_ + "\\default.cfg", DefaultsFile()}};
    if (withFileList)
      files.push_back({installDir_ + "\\setup.log", kFileList});
    AddSibling(Quillan(), "1\r\n0\r\n" + installDir_ + "\r\n", files);
    AddSibling(Tessary(), "1\r\nx\r\n" + installDir_ + "\r\n");
  }

  // Answers the success prompt with `answer`, noting the status meanwhile;
  // other boxes get OK.
  void AnswerPrompt(int answer) {
    auto seen = promptStatuses_;
    standin::setMessageBoxResponder(
        [answer, seen](const standin::MessageBoxCall &box) {
          if (box.caption != "Success")
            return IDOK;
          seen->push_back(g_installStatus.load());
          return answer;
        });
  }

  // The install host's modal run, as the Welcome dialog starts it; returns
  // its result once the worker has finished.
  INT_PTR RunHost() {
    INT_PTR result = theInstallDialog.DoModal();
    // What was settled when the host's run ended; the worker may still be
    // on its way to its status store.
    exitCodeAtEnd_ = g_exitCode.load();
    requestsAtEnd_ = standin::exitWindowsCalls().size();
    WaitForWorker();
    return result;
  }
  std::vector<std::string> Started() const {
    std::vector<std::string> out;
    for (const auto &call : standin::createProcessCalls())
      out.push_back(call.commandLine.value_or("(null)"));
    return out;
  }
  // Position of the first journal entry that starts with `prefix`, or -1.
  static int JournalIndex(const std::string &prefix) {
    auto entries = standin::journalEntries();
    for (size_t i = 0; i < entries.size(); ++i)
      if (entries[i].compare(0, prefix.size(), prefix) == 0)
        return static_cast<int>(i);
    return -1;
  }

  // The registry a successful installation leaves: Windows' keys, then the
  // suite's layout with `ama`, and on Windows NT the driver services. Builds
  // it in place of the current registry; take the run's snapshot first.
  Snapshot ExpectedInstallation(uint32_t ama, bool nt) {
    standin::resetRegistry();
    PutWindowsKeys();
    const std::string cfg = DefaultsFile();
    const std::string lm78 = kProduct + "\\LM78";
    standin::regPutDword(lm78, "Chassis Secure", 0);
    standin::regPutValue(lm78, "Fans", REG_BINARY, Slice(cfg, 606, 160));
    standin::regPutDword(lm78, "VID", 255);
    standin::regPutValue(lm78, "Temperature", REG_BINARY, Slice(cfg, 932, 37));
    standin::regPutValue(lm78, "Voltages", REG_BINARY, Slice(cfg, 969, 322));
    standin::regPutString(lm78, "ChipSet", "LM78");
    standin::regPutString(lm78, "MaxSpeed", "4800");
    standin::regPutValue(kProduct + "\\LM75", "Temperatures", REG_BINARY,
                         Slice(cfg, 300, 304));
    standin::regPutString(kProduct, "path", installDir_);
    standin::regPutString(kRun, "ZEZOroza", installDir_ + "\\Zezoroza.exe");
    standin::regPutString(kUninstall + "\\VKO DMI", "DisplayName",
                          "VKO Halvermont");
    standin::regPutString(kUninstall + "\\VKO DMI", "UninstallString",
                          installDir_ + "\\Dovrel.exe");
    standin::regPutDword(kProduct, "Security", 3);
    standin::regPutDword(kProduct, "AMA", ama);
    if (nt) {
      for (const char *service : {"VEZUDA", "Riveze"}) {
        const std::string key = kServices + "\\" + service;
        standin::regPutDword(key, "Type", 1);
        standin::regPutDword(key, "Start", 0);
        standin::regPutDword(key, "ErrorControl", 1);
        standin::regPutString(key, "Group", "Extended base");
      }
    }
    return RegistrySnapshot();
  }

  int32_t exitCodeAtEnd_ = 0;
  size_t requestsAtEnd_ = 0;
  std::shared_ptr<std::vector<int32_t>> statusesSeen_ =
      std::make_shared<std::vector<int32_t>>();
  std::shared_ptr<std::vector<int32_t>> promptStatuses_ =
      std::make_shared<std::vector<int32_t>>();
};

// ---- successful runs ----

struct Branch {
  bool nt;
  bool custom;
};

class SuccessfulRun : public InstallRun,
                      public ::testing::WithParamInterface<Branch> {};

// The whole run on each platform in each mode: the programs started, the
// statuses each step sees, the one prompt, the group, the restart with the
// platform's flags, and the complete registry layout.
TEST_P(SuccessfulRun, InstallsRegistersAndRestarts) {
  const Branch branch = GetParam();
  standin::setVersion(branch.nt ? kWindowsNt : kWindows95);
  g_customMode = branch.custom ? 1 : 0;
  GoodMedia();
  AnswerPrompt(IDOK);

  EXPECT_EQ(RunHost(), 0);

  EXPECT_EQ(g_installStatus.load(), 1);
  std::vector<std::string> started = {Sondel(), Quillan()};
  if (branch.custom)
    started.push_back(Tessary());
  EXPECT_EQ(Started(), started);
  // 0 for every program and while the prompt is open: the status timer does
  // nothing until the end.
  EXPECT_EQ(*statusesSeen_, std::vector<int32_t>(started.size(), 0));
  EXPECT_EQ(*promptStatuses_, std::vector<int32_t>{0});

  auto boxes = standin::messageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  ExpectBox(boxes[0], Host(), kPromptText, "Success", kPromptFlags);

  EXPECT_EQ(
      standin::ddeCommands(),
      (std::vector<std::string>{"[CreateGroup(VKO Halvermont,1)]",
                                "[AddItem(\"" + installDir_ +
                                    "\\Zezoroza.exe\",\"Hardware Monitor\")]",
                                "[AddItem(\"" + installDir_ +
                                    "\\Dovrel.exe\",\"Uninstall\")]"}));
  EXPECT_EQ(standin::progmanGroups().size(), 1u);

  auto requests = standin::exitWindowsCalls();
  ASSERT_EQ(requests.size(), 1u);
  // An ordinary restart on both platforms: nothing is forced.
  EXPECT_EQ(requests[0].flags, 2u);
  EXPECT_EQ(standin::shutdownPrivilegeEnabled(), branch.nt);
  EXPECT_EQ(standin::tokenOpenCalls().size(), branch.nt ? 1u : 0u);
  EXPECT_EQ(g_exitCode.load(), 1641);
  // The restart is requested and the exit status set before the host ends.
  EXPECT_EQ(requestsAtEnd_, 1u);
  EXPECT_EQ(exitCodeAtEnd_, 1641);

  // One second's wait, then the prompt, then the restart request.
  EXPECT_EQ(standin::sleepCalls(), std::vector<DWORD>{1000});
  int wait = JournalIndex("Sleep 1000");
  int prompt = JournalIndex("MessageBoxA");
  int restart = JournalIndex("ExitWindowsEx");
  EXPECT_LT(wait, prompt);
  EXPECT_LT(prompt, restart);
  EXPECT_GE(wait, 0);

  // AMA from the last hand-off file read: "0" gives 1 (Quillan), any other
  // character -1 (Tessary).
  const Snapshot actual = RegistrySnapshot();
  EXPECT_EQ(actual,
            ExpectedInstallation(branch.custom ? 0xFFFFFFFF : 1, branch.nt));
}

INSTANTIATE_TEST_SUITE_P(Branches, SuccessfulRun,
                         ::testing::Values(Branch{false, false},
                                           Branch{false, true},
                                           Branch{true, false},
                                           Branch{true, true}),
                         [](const ::testing::TestParamInfo<Branch> &info) {
                           return std::string(info.param.nt ? "NT" : "Win95") +
                                  (info.param.custom ? "Custom" : "Express");
                         });

// Declining the restart, or a restart that cannot be had, still ends the
// installation as a success, with the exit status asking for a restart.
TEST_F(InstallRun, WithoutARestartTheExitStatusAsksForOne) {
  struct Case {
    const char *name;
    DWORD version;
    int answer;
    bool refused;
    bool privilegeMissing;
    size_t requests;
  } cases[] = {{"cancel", kWindows95, IDCANCEL, false, false, 0},
               {"refused", kWindows95, IDOK, true, false, 1},
               {"refused on NT", kWindowsNt, IDOK, true, false, 1},
               {"no privilege", kWindowsNt, IDOK, false, true, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    standin::setVersion(c.version);
    if (c.refused)
      standin::setExitWindowsResult(FALSE);
    if (c.privilegeMissing)
      standin::setPrivilegeOutcome(standin::PrivilegeOutcome::NotHeld);
    GoodMedia();
    AnswerPrompt(c.answer);

    EXPECT_EQ(RunHost(), 0);

    EXPECT_EQ(g_installStatus.load(), 1);
    EXPECT_EQ(standin::exitWindowsCalls().size(), c.requests);
    EXPECT_EQ(g_exitCode.load(), 3010);
    EXPECT_EQ(exitCodeAtEnd_, 3010);
    EXPECT_EQ(standin::messageBoxes().size(), 1u);
    EXPECT_TRUE(standin::regKeyExists(kProduct + "\\LM78"));
  }
}

// A registry that refuses every write is a failed installation: nothing of
// it is stored, and the failure message follows. A program group that is not
// made whole is not the installation's failure: the user is warned, with the
// install directory, before the prompt, and the installation succeeds.
TEST_F(InstallRun, RefusedRegistryFailsMissingProgramManagerStillSucceeds) {
  const Snapshot before = RegistrySnapshot();
  standin::regRefuseWrites(true);
  GoodMedia();
  AnswerPrompt(IDCANCEL);

  EXPECT_EQ(RunHost(), 0);

  EXPECT_EQ(g_installStatus.load(), -1);
  EXPECT_EQ(RegistrySnapshot(), before);
  auto boxes = standin::messageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Abort Installation");
  EXPECT_TRUE(standin::progmanGroups().empty());

  for (bool absent : {true, false}) {
    TearDown();
    SetUp();
    if (absent)
      standin::setProgmanMode(standin::ProgmanMode::Absent);
    else
      standin::refuseProgmanCommand(2); // the first item
    GoodMedia();
    AnswerPrompt(IDCANCEL);

    EXPECT_EQ(RunHost(), 0);

    EXPECT_EQ(g_installStatus.load(), 1);
    EXPECT_EQ(exitCodeAtEnd_, 3010);
    boxes = standin::messageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text,
              std::string(absent ? "Can not create the VKO Halvermont program "
                                   "group!"
                                 : "The VKO Halvermont program group lacks "
                                   "items!") +
                  "\nVKO Halvermont is installed in " + installDir_);
    EXPECT_EQ(boxes[0].caption, "Warning");
    EXPECT_EQ(boxes[0].flags, 0x00040030u);
    EXPECT_NE(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[0].owner, boxes[1].owner);
    EXPECT_EQ(boxes[1].caption, "Success");
    if (absent) {
      // The connect retry, the group's retry, then the one second.
      EXPECT_EQ(standin::sleepCalls(), (std::vector<DWORD>{500, 100, 1000}));
      EXPECT_TRUE(standin::progmanGroups().empty());
    }
  }
}

// With the log open, a registry write that the system refuses is in the
// log with its status, and so is the failed installation it makes: the
// import's first new key, the import's verdict, the rollback with nothing
// of this run to undo, and the exit status.
TEST_F(InstallRun, RefusedRegistryWriteIsLoggedWithItsStatus) {
  standin::regPutKey(kProduct);
  standin::regRefuseWrites(true);
  GoodMedia();
  AnswerPrompt(IDCANCEL);
  const std::string log = base_ + "/setup.txt";
  ASSERT_TRUE(LogOpen(log.c_str()));

  EXPECT_EQ(RunHost(), 0);
  LogClose(g_exitCode.load());

  EXPECT_EQ(g_installStatus.load(), -1);
  const std::string text = testsupport::ReadFileOr(log, "");
  for (const std::string line :
       {" RegCreateKeyA HKLM\\SOFTWARE\\VKO\\DMI\\LM78: status 5\r\n",
        " default.cfg: a monitor value was not stored, the installation "
        "fails\r\n",
        " rollback: done, the machine is as the installation found it\r\n",
        " exit status 1603: a failure after Install\r\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << "in\n" << text;
}

// Without setup.log there is nothing to make a group of: no exchange with
// Program Manager at all; the user is warned that there is no group, and the
// installation ends as usual.
TEST_F(InstallRun, MissingFileListMakesNoGroup) {
  GoodMedia(false);
  AnswerPrompt(IDOK);

  EXPECT_EQ(RunHost(), 0);

  EXPECT_EQ(g_installStatus.load(), 1);
  EXPECT_TRUE(standin::ddeInitCalls().empty());
  EXPECT_TRUE(standin::ddeTransactions().empty());
  ASSERT_EQ(standin::messageBoxes().size(), 2u);
  EXPECT_EQ(standin::messageBoxes()[0].text,
            "Can not create the VKO Halvermont program group!\nVKO Halvermont "
            "is installed in " +
                installDir_);
  EXPECT_EQ(standin::messageBoxes()[1].caption, "Success");
  EXPECT_EQ(standin::sleepCalls(), std::vector<DWORD>{1000});
  EXPECT_EQ(g_exitCode.load(), 1641);
  const Snapshot actual = RegistrySnapshot();
  EXPECT_EQ(actual, ExpectedInstallation(1, false));
}

// ---- failures ----

// Each failure ends the worker at once with -1; the host rolls back and shows
// the failure message; nothing of this run stays in the registry and the
// group deletion is sent.
TEST_F(InstallRun, EachFailureStopsTheSequenceAndRollsBack) {
  struct Case {
    const char *name;
    bool custom;
    std::function<void(InstallRun &)> media;
    size_t started;
    std::vector<std::pair<std::string, std::string>> workerBoxes;
  };
  const std::pair<std::string, std::string> notFound = {
      "Can not find Resource file.", "Installation Error"};
  const std::pair<std::string, std::string> unusable = {
      "Can not open install.tmp file!", "Install Error"};
  std::vector<Case> cases = {
      {"pre-install test missing",
       false,
       [](InstallRun &t) {
         t.AddSibling(t.Quillan(), "1\r\n0\r\n" + t.installDir_ + "\r\n");
       },
       1,
       {notFound}},
      {"no hand-off file",
       false,
       [](InstallRun &t) {
         t.AddSibling(t.Sondel(), "");
         t.AddSibling(t.Quillan(), "1\r\n0\r\n" + t.installDir_ + "\r\n");
       },
       1,
       {{"Can not open install.tmp file!", "Install Error"}}},
      // The file is there, but the program wrote none of it: an earlier
      // run's, or the one the previous program left.
      {"earlier run's hand-off file, pre-install test writes none",
       false,
       [](InstallRun &t) {
         t.WriteFile(t.HandoffPath(), "1\r\n0\r\n" + t.installDir_ + "\r\n");
         t.AddSibling(t.Sondel(), "");
         t.AddSibling(t.Quillan(), "1\r\n0\r\n" + t.installDir_ + "\r\n");
       },
       1,
       {{"Can not open install.tmp file!", "Install Error"}}},
      {"pre-setup program writes none",
       false,
       [](InstallRun &t) {
         t.AddSibling(t.Sondel(), "1\r\n0\r\n" + t.installDir_ + "\r\n");
         t.AddSibling(t.Quillan(), "",
                      {{t.installDir_ + "\\default.cfg", DefaultsFile()},
                       {t.installDir_ + "\\setup.log", kFileList}});
       },
       2,
       {{"Can not open install.tmp file!", "Install Error"}}},
      {"pre-setup reports failure",
       true,
       [](InstallRun &t) {
         t.AddSibling(t.Sondel(), "1\r\n0\r\n" + t.installDir_ + "\r\n");
         t.AddSibling(t.Quillan(), "0\r\n0\r\n" + t.installDir_ + "\r\n");
         t.AddSibling(t.Tessary(), "1\r\n0\r\n" + t.installDir_ + "\r\n");
       },
       2,
       {}},
      {"configuration program missing",
       true,
       [](InstallRun &t) {
         t.AddSibling(t.Sondel(), "1\r\n0\r\n" + t.installDir_ + "\r\n");
         t.AddSibling(t.Quillan(), "1\r\n0\r\n" + t.installDir_ + "\r\n",
                      {{t.installDir_ + "\\default.cfg", DefaultsFile()}});
       },
       3,
       {notFound}},
      // An install directory that is to start a program or be registered
      // must be absolute and free of control characters: the hand-off file
      // that names another is unusable, before anything is started from it
      // or written. Each program named here would otherwise run.
      {"relative install directory",
       false,
       [](InstallRun &t) {
         t.AddSibling(t.Sondel(), "1\r\n0\r\n\r\n");
         t.AddSibling(t.Quillan(), "1\r\n0\r\nVKO\r\n",
                      {{"VKO\\default.cfg", DefaultsFile()}});
       },
       2,
       {unusable}},
      {"empty install directory, Custom mode",
       true,
       [](InstallRun &t) {
         t.AddSibling(t.Sondel(), "1\r\n0\r\n" + t.installDir_ + "\r\n");
         t.AddSibling(t.Quillan(), "1\r\n0\r\n\r\n");
         t.AddSibling("\\Tessary.exe", "1\r\n0\r\n" + t.installDir_ + "\r\n");
       },
       2,
       {unusable}},
      {"control character in the install directory",
       true,
       [](InstallRun &t) {
         t.AddSibling(t.Sondel(), "1\r\n0\r\n" + t.installDir_ + "\r\n");
         t.AddSibling(t.Quillan(), "1\r\n0\r\nC:\\V\tKO\r\n");
         t.AddSibling("C:\\V\tKO\\Tessary.exe",
                      "1\r\n0\r\n" + t.installDir_ + "\r\n");
       },
       2,
       {unusable}},
      {"configuration program names a relative directory",
       true,
       [](InstallRun &t) {
         t.AddSibling(t.Sondel(), "1\r\n0\r\n" + t.installDir_ + "\r\n");
         t.AddSibling(t.Quillan(), "1\r\n0\r\n" + t.installDir_ + "\r\n",
                      {{t.installDir_ + "\\default.cfg", DefaultsFile()}});
         t.AddSibling(t.Tessary(), "1\r\n0\r\n\\VKO\r\n");
       },
       3,
       {unusable}},
      {"hand-off file without its status character",
       false,
       [](InstallRun &t) {
         t.AddSibling(t.Sondel(), "1\r\n0\r\n" + t.installDir_ + "\r\n");
         t.AddSibling(t.Quillan(), "",
                      {{t.HandoffPath(), ""},
                       {t.installDir_ + "\\default.cfg", DefaultsFile()}});
       },
       2,
       {unusable}},
      {"no default.cfg",
       false,
       [](InstallRun &t) {
         t.AddSibling(t.Sondel(), "1\r\n0\r\n" + t.installDir_ + "\r\n");
         t.AddSibling(t.Quillan(), "1\r\n0\r\n" + t.installDir_ + "\r\n",
                      {{t.installDir_ + "\\setup.log", kFileList}});
       },
       2,
       {{"Can not Open default.cfg file!", "Installation Error"}}},
  };
  for (const Case &c : cases) {
    for (DWORD version : {kWindows95, kWindowsNt}) {
      SCOPED_TRACE(std::string(c.name) +
                   (version == kWindowsNt ? " on NT" : " on Windows 95"));
      TearDown();
      SetUp();
      standin::setVersion(version);
      g_customMode = c.custom ? 1 : 0;
      c.media(*this);
      const Snapshot before = RegistrySnapshot();

      EXPECT_EQ(RunHost(), 0);

      EXPECT_EQ(g_installStatus.load(), -1);
      EXPECT_EQ(Started().size(), c.started);
      auto boxes = standin::messageBoxes();
      ASSERT_EQ(boxes.size(), c.workerBoxes.size() + 1);
      for (size_t i = 0; i < c.workerBoxes.size(); ++i)
        ExpectBox(boxes[i], Host(), c.workerBoxes[i].first,
                  c.workerBoxes[i].second, kErrorFlags);
      ExpectBox(boxes.back(), Host(), kFailureText, "Abort Installation",
                kErrorFlags);
      EXPECT_EQ(RegistrySnapshot(), before);
      // No group was made, so none is deleted: a group of the suite's name
      // is the user's.
      EXPECT_TRUE(standin::ddeCommands().empty());
      EXPECT_TRUE(standin::exitWindowsCalls().empty());
      EXPECT_EQ(g_exitCode.load(), 1603);
    }
  }
}

// The program paths are composed in 256 bytes: "\Utility\Sondel.exe" fits
// after a media folder of 236 characters, "\Utility\Quillan.exe" does not, and
// a program is never started under a cut-short name.
TEST_F(InstallRun, SiblingPathsAtTheBufferLimit) {
  for (size_t length : {235u, 236u}) {
    SCOPED_TRACE(length);
    TearDown();
    SetUp();
    sourceDir_ = "Z:" + std::string(length - 2, 's');
    standin::setModuleFileName(sourceDir_ + "\\MERRIK.EXE");
    GoodMedia();
    AnswerPrompt(IDCANCEL);

    EXPECT_EQ(RunHost(), 0);

    if (length == 235) {
      EXPECT_EQ(Started(), (std::vector<std::string>{Sondel(), Quillan()}));
      EXPECT_EQ(Quillan().size(), 255u);
      EXPECT_EQ(g_installStatus.load(), 1);
    } else {
      EXPECT_EQ(Started(), std::vector<std::string>{Sondel()});
      EXPECT_EQ(Sondel().size(), 255u);
      EXPECT_EQ(g_installStatus.load(), -1);
      // The program that cannot be named cannot be started: its message,
      // then the general failure message.
      auto boxes = standin::messageBoxes();
      ASSERT_EQ(boxes.size(), 2u);
      EXPECT_EQ(boxes[0].text, "Can not find Resource file.");
      EXPECT_EQ(boxes[0].caption, "Installation Error");
      EXPECT_EQ(boxes[1].text, kFailureText);
    }
  }
}

// A media folder too long for g_sourceDir names no program: nothing is
// started, not even a program of that name at the root of the drive.
TEST_F(InstallRun, MediaFolderTooLongStartsNothing) {
  sourceDir_ = "Z:" + std::string(254, 's');
  standin::setModuleFileName(sourceDir_ + "\\MERRIK.EXE");
  // A program where the empty folder would lead.
  AddSibling("\\Utility\\Sondel.exe", "1\r\n1\r\n" + installDir_ + "\r\n");
  GoodMedia();

  EXPECT_EQ(RunHost(), 0);

  EXPECT_TRUE(Started().empty());
  EXPECT_EQ(g_installStatus.load(), -1);
  auto boxes = standin::messageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "Can not find Resource file.");
  EXPECT_EQ(boxes[1].text, kFailureText);
}

// ---- the finish on its own ----

class Finish : public InstallRun {
protected:
  // FinishInstall with an install directory of exactly `length` characters
  // that holds setup.log under the name the product composes, after the
  // product's registration.
  void FinishWithDirectory(size_t length) {
    std::string dir = base_ + "/";
    dir += std::string(length - dir.size(), 'v');
    ASSERT_TRUE(CopyText(g_installDir, dir.c_str()));
    WriteFile(dir + "\\setup.log", kFileList);
    // The product key that the registration before it has made.
    ASSERT_TRUE(standin::regPutKey(kProduct));
    g_platform = 1;
    g_amaSetting = 1;
    FinishInstall();
  }
};

// The file list's name is composed in 256 bytes: with an install directory of
// 245 characters "\setup.log" still fits and the group is made (its items'
// commands are too long and left out); with 246 the name does not fit and no
// group is made, rather than one from a file of a cut-short name, and the
// user is warned.
TEST_F(Finish, FileListNameAtTheBufferLimit) {
  FinishWithDirectory(245);
  EXPECT_EQ(standin::ddeCommands(),
            std::vector<std::string>{"[CreateGroup(VKO Halvermont,1)]"});
  EXPECT_EQ(standin::messageBoxes().size(), 1u);

  standin::resetDde();
  standin::resetUser();
  FinishWithDirectory(246);
  EXPECT_TRUE(standin::ddeInitCalls().empty());
  ASSERT_EQ(standin::messageBoxes().size(), 2u);
  EXPECT_EQ(standin::messageBoxes()[0].caption, "Warning");
  EXPECT_EQ(standin::messageBoxes()[1].caption, "Success");
  EXPECT_EQ(g_exitCode.load(), 1641);
}

} // namespace
