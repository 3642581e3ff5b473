// The setup log: the /LOG switch on the command line, and lines that stay
// within their size whatever they carry.
#include "state/install_log.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "engine/external_steps.h"
#include "standin/kernel.h"
#include "standin/user.h"
#include "state/install_state.h"
#include "support/test_files.h"

namespace {

struct SwitchCase {
  std::string commandLine;
  LogSwitch found;
  std::string path;
};

TEST(LogSwitchTest, FoundWhereverItStandsInAnyCase) {
  const std::string name255 = "C:\\" + std::string(252, 'n');
  const std::string name256 = name255 + "x";
  const std::vector<SwitchCase> cases = {
      {"A:\\MERRIK.EXE", kLogSwitchAbsent, ""},
      {"A:\\MERRIK.EXE /LOG", kLogSwitchDefault, ""},
      {"merrik /log", kLogSwitchDefault, ""},
      {"merrik\t/Log other", kLogSwitchDefault, ""},
      {"merrik /LOG=", kLogSwitchDefault, ""},
      {"merrik /LOG=\"\"", kLogSwitchDefault, ""},
      {"\"C:\\a b\\MERRIK.EXE\" /LOG=\"C:\\any folder\\setup.txt\" x",
       kLogSwitchFile, "C:\\any folder\\setup.txt"},
      {"merrik /LOG=C:\\x.txt more", kLogSwitchFile, "C:\\x.txt"},
      {"merrik one /two \"th ree\" /lOg=C:\\x.txt", kLogSwitchFile,
       "C:\\x.txt"},
      {"merrik /LOG=\"C:\\open end", kLogSwitchFile, "C:\\open end"},
      {"merrik /LOG=C:\\first /LOG=C:\\second", kLogSwitchFile, "C:\\first"},
      // Not the switch: a longer word, the program's own name, an argument
      // in double quotes.
      {"merrik /LOGFILE=C:\\x.txt", kLogSwitchAbsent, ""},
      {"merrik /LO", kLogSwitchAbsent, ""},
      {"\"C:\\x /LOG\\MERRIK.EXE\"", kLogSwitchAbsent, ""},
      {"/LOG", kLogSwitchAbsent, ""},
      {"merrik \"a /LOG\"", kLogSwitchAbsent, ""},
      // The name's buffer: 255 characters fit, 256 do not (the first 255
      // are kept for the message).
      {"merrik /LOG=" + name255, kLogSwitchFile, name255},
      {"merrik /LOG=\"" + name255 + "\"", kLogSwitchFile, name255},
      {"merrik /LOG=" + name256, kLogSwitchTooLong, name255},
      {"merrik /LOG=\"" + name256 + "\" x", kLogSwitchTooLong, name255},
  };
  for (const SwitchCase &c : cases) {
    char path[LOG_PATH_SIZE];
    std::memset(path, 'z', sizeof(path));
    EXPECT_EQ(FindLogSwitch(c.commandLine.c_str(), path), c.found)
        << c.commandLine;
    EXPECT_EQ(std::string(path), c.path) << c.commandLine;
  }
}

// /LOG alone: MERRIK.LOG in the temporary folder, with a backslash put
// between only where the folder's last character is not one. Under code
// page 932 a folder may end in a character whose trail byte is 0x5C (表 is
// 95 5C), which is not a backslash; under 1252 the same bytes end in one.
TEST(DefaultLogTest, BackslashAddedWhereTheLastCharacterIsNotOne) {
  struct Case {
    UINT codePage;
    std::string folder, path;
  } cases[] = {
      {1252, "C:\\WINDOWS\\TEMP\\", "C:\\WINDOWS\\TEMP\\MERRIK.LOG"},
      {1252, "C:\\TEMP", "C:\\TEMP\\MERRIK.LOG"},
      {1252, "C:\\\x95\x5C", "C:\\\x95\x5CMERRIK.LOG"},
      {932, "C:\\\x95\x5C", "C:\\\x95\x5C\\MERRIK.LOG"},
      {932, "C:\\\x95\x5C\\", "C:\\\x95\x5C\\MERRIK.LOG"},
  };
  for (const Case &c : cases) {
    standin::setCodePage(c.codePage);
    standin::setTempPath(c.folder);
    char path[LOG_PATH_SIZE];
    EXPECT_TRUE(GetDefaultLogPath(path)) << c.folder;
    EXPECT_EQ(std::string(path), c.path) << c.codePage << " " << c.folder;
  }
  standin::resetKernel();
}

class LogFileTest : public testsupport::TempFolderTest {
protected:
  void SetUp() override {
    standin::resetKernel();
    standin::resetUser();
    ASSERT_NO_FATAL_FAILURE(TempFolderTest::SetUp());
    log_ = base_ + "/setup.txt";
  }
  void TearDown() override {
    LogClose(0);
    EXPECT_TRUE(standin::waitForThreads(10000));
    g_installHostWindow = nullptr;
    TempFolderTest::TearDown();
    standin::resetKernel();
    standin::resetUser();
  }
  // The log's lines, each with its CR LF.
  std::vector<std::string> Lines() const {
    const std::string text = testsupport::ReadFileOr(log_, "");
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos;
         start = end + 2)
      lines.push_back(text.substr(start, end + 2 - start));
    EXPECT_EQ(start, text.size()) << "the log ends in the middle of a line";
    return lines;
  }
  std::string log_;
};

// A line of 1024 bytes with its CR LF is written whole; one byte more is cut
// to 1024 bytes ending in "...". The milliseconds and the process id take
// 17 characters.
TEST_F(LogFileTest, LineAtItsSizeIsWholeOneByteMoreIsCut) {
  ASSERT_TRUE(LogOpen(log_.c_str()));
  const std::string fits(LOG_LINE_SIZE - 17 - 2, 'a');
  LogLine("%s", fits.c_str());
  LogLine("%s", (fits + "b").c_str());
  LogClose(1603);

  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].size(), 1024u);
  EXPECT_EQ(lines[0].substr(17), fits + "\r\n");
  EXPECT_EQ(lines[1].size(), 1024u);
  EXPECT_EQ(lines[1].substr(17), fits.substr(0, fits.size() - 3) + "...\r\n");
  EXPECT_EQ(lines[2].substr(16),
            " exit status 1603: a failure after Install\r\n");
}

// A sibling program that names a 255-character install directory and leaves
// a hand-off file full of line ends: the line with its bytes is cut at 1024
// bytes, and the step reads the file as without a log.
TEST_F(LogFileTest, LongHandoffBytesAreCutAndTheStepGoesOn) {
  standin::setWindowsDirectory(base_);
  const std::string handoff = base_ + "\\install.tmp";
  const std::string directory = "C:\\" + std::string(252, 'd');
  const std::string bytes =
      "1\r\n0\r\n" + directory + "\r\n" + std::string(300, '\n');
  const std::string program = "D:\\Utility\\" + std::string(230, 'p') + ".exe";
  standin::registerProgram(program, [handoff, bytes] {
    return testsupport::StoreFile(handoff, bytes) ? DWORD{7} : DWORD{1};
  });
  ASSERT_TRUE(LogOpen(log_.c_str()));

  EXPECT_EQ(RunExternalStep(program.c_str()), 0);
  LogClose(0);

  EXPECT_EQ(std::string(g_installDir), directory);
  const std::vector<std::string> lines = Lines();
  std::vector<std::string> wanted = {
      "CreateFileA \"" + handoff + "\" to mark it: failed, error 2\r\n",
      "CreateProcessA \"" + program + "\": ok\r\n",
      "WaitForSingleObject on the program's thread: result 0\r\n",
      "GetExitCodeProcess: ok, exit code 7\r\n",
      "", // the bytes, below
      "hand-off file: report, AMA 1, install directory \"" + directory +
          "\"\r\n",
      "exit status 0: unknown\r\n"};
  ASSERT_EQ(lines.size(), wanted.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!wanted[i].empty()) {
      EXPECT_EQ(lines[i].substr(17), wanted[i]);
    }
  }
  const std::string head =
      "hand-off file \"" + handoff + "\", " + std::to_string(bytes.size()) +
      " bytes, not the marked one: 1\\x0D\\x0A0\\x0D\\x0A" + directory +
      "\\x0D\\x0A\\x0A\\x0A";
  EXPECT_EQ(lines[4].size(), 1024u);
  EXPECT_EQ(lines[4].substr(17, head.size()), head);
  EXPECT_EQ(lines[4].substr(1024 - 5), "...\r\n");
}

// A write that fails stops the log: the line that tore is cut off again,
// no later line is written, and the last line, written once the disk has
// room again, gives the exit status, the count of lines not written and the
// first failure.
TEST_F(LogFileTest, FailedWriteStopsTheLogAndTheLastLineCountsWhatIsMissing) {
  ASSERT_TRUE(LogOpen(log_.c_str()));
  LogLine("first");
  standin::setDiskSpace(10);
  LogLine("second, which the disk cuts");
  standin::setDiskSpace(-1);
  LogLine("third");
  LogLine("fourth");
  LogClose(1603);

  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(17), "first\r\n");
  EXPECT_EQ(lines[1].substr(17),
            "exit status 1603: a failure after Install; 3 lines before it "
            "not written, the first failure: WriteFile: 10 of 46 bytes, "
            "error 112\r\n");
}

// Two processes append to one log at once: every line is whole and in the
// file, each process's lines in their order, under its own process id.
TEST_F(LogFileTest, TwoProcessesShareOneLogLineForLine) {
  const int kLines = 2000;
  const std::string filler(40, 'f');
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (LogOpen(log_.c_str())) {
    for (int i = 0; i < kLines; ++i)
      LogLine("line %d %s", i, filler.c_str());
    LogClose(0);
  }
  if (child == 0)
    _exit(0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);

  const std::regex shape("^ *[0-9]+ ([0-9A-F]{8}) (.*)\r\n$");
  std::map<std::string, std::vector<std::string>> byProcess;
  for (const std::string &line : Lines()) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
    byProcess[m[1]].push_back(m[2]);
  }
  std::vector<std::string> wanted;
  for (int i = 0; i < kLines; ++i)
    wanted.push_back("line " + std::to_string(i) + " " + filler);
  wanted.push_back("exit status 0: unknown");
  char parent[9], other[9];
  std::snprintf(parent, sizeof parent, "%08X", static_cast<unsigned>(getpid()));
  std::snprintf(other, sizeof other, "%08X", static_cast<unsigned>(child));
  ASSERT_EQ(byProcess.size(), 2u);
  EXPECT_EQ(byProcess[parent], wanted);
  EXPECT_EQ(byProcess[other], wanted);
}

} // namespace
