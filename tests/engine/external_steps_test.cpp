// The media folder of the running program, starting sibling programs, the
// hand-off file install.tmp, and the install directory it names.
#include "engine/external_steps.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "standin/journal.h"
#include "standin/kernel.h"
#include "standin/registry.h"
#include "standin/user.h"
#include "state/install_state.h"
#include "support/test_files.h"

namespace {

// Stands for the install host's window, the owner of the worker's messages.
const HWND kHostWindow = reinterpret_cast<HWND>(0x4712);
const UINT kErrorFlags = 0x00040010; // MB_TOPMOST | MB_ICONERROR

// The media folder that GetSourceDir finds for the program's own file
// `moduleName`, started with `commandLine`.
std::string SourceDirFor(const std::string &moduleName,
                         const std::string &commandLine = "merrik") {
  standin::setModuleFileName(moduleName);
  standin::setCommandLine(commandLine);
  std::memset(g_sourceDir, 'x', sizeof(g_sourceDir) - 1);
  g_sourceDir[sizeof(g_sourceDir) - 1] = '\0';
  GetSourceDir();
  return g_sourceDir;
}

// The folder comes from the program's own file, whatever the command line
// holds: a bare name typed at a command prompt, a drive-relative one, or
// arguments with backslashes of their own.
TEST(GetSourceDir, FolderOfTheProgramsOwnFile) {
  standin::resetKernel();
  EXPECT_EQ(SourceDirFor("D:\\SETUP\\MERRIK.EXE", "merrik"), "D:\\SETUP");
  EXPECT_EQ(SourceDirFor("D:\\SETUP\\MERRIK.EXE", "d:merrik"), "D:\\SETUP");
  EXPECT_EQ(SourceDirFor("D:\\SETUP\\MERRIK.EXE",
                         "\"D:\\SETUP\\MERRIK.EXE\" /dir=C:\\X"),
            "D:\\SETUP");
  EXPECT_EQ(SourceDirFor("D:\\MERRIK.EXE", "D:\\MERRIK.EXE C:\\LOG"), "D:");
  EXPECT_EQ(SourceDirFor("C:\\My Files\\MERRIK.EXE"), "C:\\My Files");
  EXPECT_FALSE(g_sourceDirTooLong);
  // Degenerate names: no backslash, or only separators.
  EXPECT_EQ(SourceDirFor("MERRIK.EXE"), "");
  EXPECT_EQ(SourceDirFor("\\"), "");
  EXPECT_EQ(SourceDirFor("\\\\"), "\\");
  EXPECT_FALSE(g_sourceDirTooLong);
}

// Under a double-byte code page the walk back goes by characters: the
// second byte 0x5C of a Shift-JIS character (0x95 0x5C, 0x83 0x5C) in the
// folder's or the program's name is no backslash.
TEST(GetSourceDir, DoubleByteNamesWithTrailByte5C) {
  standin::resetKernel();
  const std::string folder = "D:\\\x95\\";
  const std::string name = folder + "\\\x83\\.EXE";
  standin::setCodePage(932);
  EXPECT_EQ(SourceDirFor(name), folder);
  // Byte by byte, the trail byte would be taken for the separator.
  standin::setCodePage(1252);
  EXPECT_EQ(SourceDirFor(name), folder + "\\\x83");
}

// g_sourceDir holds 255 characters. A longer folder is never used cut short:
// the folder stays empty and marked too long. The program's file name is
// read into MODULE_NAME_SIZE bytes; one that fills them may have been cut,
// and one that cannot be had at all names no folder either.
TEST(GetSourceDir, FolderAtTheBufferLimit) {
  standin::resetKernel();
  const std::string fits = "C:\\" + std::string(252, 'f');
  EXPECT_EQ(SourceDirFor(fits + "\\MERRIK.EXE"), fits);
  EXPECT_FALSE(g_sourceDirTooLong);
  EXPECT_EQ(SourceDirFor(fits + "g\\MERRIK.EXE"), "");
  EXPECT_TRUE(g_sourceDirTooLong);

  const std::string longName = "D:\\" + std::string(MODULE_NAME_SIZE - 5, 'n');
  ASSERT_EQ(longName.size(), static_cast<size_t>(MODULE_NAME_SIZE - 2));
  EXPECT_EQ(SourceDirFor(longName), "D:");
  EXPECT_FALSE(g_sourceDirTooLong);
  EXPECT_EQ(SourceDirFor(longName + "n"), "");
  EXPECT_TRUE(g_sourceDirTooLong);
  EXPECT_EQ(SourceDirFor(""), "");
  EXPECT_TRUE(g_sourceDirTooLong);
}

class HandoffTest : public testsupport::TempFolderTest {
protected:
  void SetUp() override {
    standin::resetKernel();
    standin::resetUser();
    standin::clearJournal();
    g_installHostWindow = kHostWindow;
    ASSERT_NO_FATAL_FAILURE(TempFolderTest::SetUp());
    SetWindowsDir(base_ + "/win");
    std::strcpy(g_installDir, "PREVIOUS");
    g_amaSetting = 7;
    g_installStatus = 0;
  }
  void TearDown() override {
    EXPECT_TRUE(standin::waitForThreads(10000)) << "a program still runs";
    TempFolderTest::TearDown();
    standin::resetKernel();
    standin::resetUser();
    g_installHostWindow = nullptr;
  }

  void SetWindowsDir(const std::string &dir) {
    windowsDir_ = dir;
    standin::setWindowsDirectory(dir);
  }
  // The hand-off file exactly as the program names it.
  std::string HandoffPath() const { return windowsDir_ + "\\install.tmp"; }
  void WriteHandoff(const std::string &content) {
    WriteFile(HandoffPath(), content);
  }
  // A failed step changes neither value and has touched no registry key.
  void ExpectUnchanged() {
    EXPECT_STREQ(g_installDir, "PREVIOUS");
    EXPECT_EQ(g_amaSetting, 7);
    EXPECT_TRUE(standin::regJournal().empty());
  }
  void ExpectOneError(const std::string &text, const std::string &caption) {
    auto boxes = standin::messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, kHostWindow);
    EXPECT_EQ(boxes[0].text, text);
    EXPECT_EQ(boxes[0].caption, caption);
    EXPECT_EQ(boxes[0].flags, kErrorFlags);
  }

  std::string windowsDir_;
};

TEST_F(HandoffTest, ReadsStatusSettingAndDirectory) {
  struct Case {
    std::string content;
    int32_t ama;
    std::string dir;
  };
  for (const Case &c : {
           Case{"1\r\n0\r\nC:\\SUITE\r\n", 1, "C:\\SUITE"},
           Case{"1\r\n1\r\nC:\\SUITE\r\n", 0, "C:\\SUITE"},
           Case{"1\r\nA\r\nC:\\SUITE\r\n", -1, "C:\\SUITE"},
           Case{"X\r\n0\r\nC:\\SUITE\rrest", 1, "C:\\SUITE"},
           // No line end: the path runs to the end of the file.
           Case{"1\r\n0\r\nC:\\SUITE", 1, "C:\\SUITE"},
           // Only a CR ends the path; LF is an ordinary byte.
           Case{"1\r\n0\r\nC:\\SUITE\nnext\n", 1, "C:\\SUITE\nnext\n"},
           // Lines ended by LF alone are still read at the fixed offsets.
           Case{"1\n0\nC:\\SUITE\n", -1, "\\SUITE\n"},
           Case{"1\r\n0\r\nC:\\A B\r\n\r\n", 1, "C:\\A B"},
           // Short files: missing fields read as the end.
           Case{"1", -1, ""},
           Case{"1\r\n0", 1, ""},
           Case{"1\r\n0\r\n", 1, ""},
       }) {
    SCOPED_TRACE(c.content);
    std::strcpy(g_installDir, "PREVIOUS");
    g_amaSetting = 7;
    WriteHandoff(c.content);
    EXPECT_EQ(ReadHandoffFile(), 0);
    EXPECT_EQ(g_amaSetting, c.ama);
    EXPECT_EQ(std::string(g_installDir), c.dir);
  }
  EXPECT_TRUE(standin::messageBoxes().empty());
}

TEST_F(HandoffTest, StatusZeroFailsSilentlyAndKeepsTheValues) {
  WriteHandoff("0\r\n0\r\nC:\\SUITE\r\n");
  EXPECT_EQ(ReadHandoffFile(), -1);
  ExpectUnchanged();
  EXPECT_TRUE(standin::messageBoxes().empty());
}

// A file without its status character is unusable, as a missing one.
TEST_F(HandoffTest, MissingOrEmptyFileShowsItsMessage) {
  EXPECT_EQ(ReadHandoffFile(), -1);
  ExpectUnchanged();
  ExpectOneError("Can not open install.tmp file!", "Install Error");

  standin::resetUser();
  WriteHandoff("");
  EXPECT_EQ(ReadHandoffFile(), -1);
  ExpectUnchanged();
  ExpectOneError("Can not open install.tmp file!", "Install Error");
}

// The install directory that starts a program or is registered: absolute
// (X:\ or \\server\share) and free of control characters, or the hand-off
// counts as unusable, with its message, and -1 stored once it is dismissed.
TEST_F(HandoffTest, InstallDirectoryMustBeAbsoluteWithoutControlCharacters) {
  for (const char *usable :
       {"C:\\", "C:\\VKO", "z:\\Program Files\\VKO Halvermont",
        "\\\\srv\\suite", "\\\\srv\\suite\\VKO", "C:\\\x95\\\x80\xFF"}) {
    SCOPED_TRACE(usable);
    standin::resetUser();
    std::strcpy(g_installDir, usable);
    g_installStatus = 5;
    EXPECT_EQ(CheckInstallDir(), 0);
    EXPECT_EQ(g_installStatus.load(), 5);
    EXPECT_TRUE(standin::messageBoxes().empty());
  }
  for (const char *unusable :
       {"", "VKO", "C:", "C:VKO", "\\VKO", "1:\\VKO", "\\\\", "\\\\srv",
        "\\\\srv\\", "\\\\\\suite", "\\\\srv\\\\suite", "C:\\V\tKO",
        "C:\\VKO\n", "C:\\\x1F", "C:\\\x7F"}) {
    SCOPED_TRACE(unusable);
    standin::resetUser();
    int32_t statusWhileShown = 99;
    standin::setMessageBoxResponder(
        [&statusWhileShown](const standin::MessageBoxCall &) {
          statusWhileShown = g_installStatus.load();
          return IDOK;
        });
    std::strcpy(g_installDir, unusable);
    g_installStatus = 0;
    EXPECT_EQ(CheckInstallDir(), -1);
    EXPECT_EQ(statusWhileShown, 0);
    EXPECT_EQ(g_installStatus.load(), -1);
    ExpectOneError("Can not open install.tmp file!", "Install Error");
  }
}

// Under a double-byte code page the server and share names of a network
// directory are read by characters: a trail byte 0x5C (0x95 0x5C, 0x83 0x5C
// in code page 932) ends neither. Under code page 1252 the same bytes name
// an empty share.
TEST_F(HandoffTest, UncDirectoryWithTrailByte5C) {
  const char *server = "\\\\\x95\\\\\x83\\"; // server and share
  const char *noShare = "\\\\\x95\\x";       // a server alone
  standin::setCodePage(932);
  for (const char *dir : {server, noShare}) {
    SCOPED_TRACE(dir);
    standin::resetUser();
    std::strcpy(g_installDir, dir);
    EXPECT_EQ(CheckInstallDir(), dir == server ? 0 : -1);
  }
  standin::setCodePage(1252);
  standin::resetUser();
  std::strcpy(g_installDir, server);
  EXPECT_EQ(CheckInstallDir(), -1);
}

// g_installDir holds 255 characters; a longer directory is never used cut
// short: the read fails, without a message of its own, and the previous
// values stay.
TEST_F(HandoffTest, DirectoryAtTheBufferLimit) {
  const std::string fits = "C:\\" + std::string(252, 'd');
  for (const std::string &end : {std::string("\r\n"), std::string()}) {
    SCOPED_TRACE(end.size());
    std::strcpy(g_installDir, "PREVIOUS");
    g_amaSetting = 7;
    WriteHandoff("1\r\n1\r\n" + fits + end);
    EXPECT_EQ(ReadHandoffFile(), 0);
    EXPECT_EQ(std::string(g_installDir), fits);
    EXPECT_EQ(g_amaSetting, 0);

    std::strcpy(g_installDir, "PREVIOUS");
    g_amaSetting = 7;
    WriteHandoff("1\r\n1\r\n" + fits + "e" + end);
    EXPECT_EQ(ReadHandoffFile(), -1);
    ExpectUnchanged();
  }
  EXPECT_TRUE(standin::messageBoxes().empty());
}

// The Windows directory is read into 200 bytes and "\install.tmp" added, so
// it may have 187 characters; a longer one counts as a file that cannot be
// opened.
TEST_F(HandoffTest, WindowsDirectoryAtTheBufferLimit) {
  std::string dir = base_;
  while (dir.size() + 1 + 40 < 187) {
    dir += "/" + std::string(40, 'w');
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  }
  const std::string parent = dir;
  for (size_t length : {187u, 188u, 199u, 250u}) {
    SCOPED_TRACE(length);
    standin::resetUser();
    SetWindowsDir(parent + "/" + std::string(length - parent.size() - 1, 'v'));
    ASSERT_EQ(windowsDir_.size(), length);
    WriteHandoff("1\r\n0\r\nC:\\SUITE\r\n");
    std::strcpy(g_installDir, "PREVIOUS");
    g_amaSetting = 7;
    if (length == 187) {
      EXPECT_EQ(ReadHandoffFile(), 0);
      EXPECT_STREQ(g_installDir, "C:\\SUITE");
      EXPECT_TRUE(standin::messageBoxes().empty());
    } else {
      EXPECT_EQ(ReadHandoffFile(), -1);
      ExpectUnchanged();
      ExpectOneError("Can not open install.tmp file!", "Install Error");
    }
  }
}

TEST_F(HandoffTest, HandoffFileNameIsTheWindowsDirectoryAndInstallTmp) {
  SetWindowsDir("C:\\WINNT");
  char name[HANDOFF_NAME_SIZE];
  ASSERT_TRUE(GetHandoffFileName(name, sizeof(name)));
  EXPECT_STREQ(name, "C:\\WINNT\\install.tmp");
  EXPECT_FALSE(GetHandoffFileName(name, 20));
  EXPECT_STREQ(name, "");
}

// A sibling program that leaves its hand-off file only as it ends, so the
// file is there only if the setup waited for the program.
DWORD SlowSibling(const std::string &handoffPath, const std::string &content) {
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return testsupport::StoreFile(handoffPath, content) ? 0 : 1;
}

TEST_F(HandoffTest, RunStartsTheProgramWaitsAndReadsItsHandoff) {
  const std::string path = "D:\\Utility\\Quillan.exe";
  const std::string handoff = HandoffPath();
  standin::registerProgram(path, [handoff] {
    return SlowSibling(handoff, "1\r\n1\r\nC:\\Program Files\\VKO\r\n");
  });
  g_installStatus = 5;
  EXPECT_EQ(RunExternalStep(path.c_str()), 0);
  EXPECT_EQ(g_installStatus.load(), 0);
  EXPECT_STREQ(g_installDir, "C:\\Program Files\\VKO");
  EXPECT_EQ(g_amaSetting, 0);

  auto calls = standin::createProcessCalls();
  ASSERT_EQ(calls.size(), 1u);
  const auto &call = calls[0];
  EXPECT_EQ(call.applicationName, path);
  EXPECT_EQ(call.commandLine, path);
  EXPECT_FALSE(call.processAttributes);
  EXPECT_FALSE(call.threadAttributes);
  EXPECT_EQ(call.inheritHandles, FALSE);
  EXPECT_EQ(call.creationFlags, 0u);
  EXPECT_FALSE(call.environment);
  EXPECT_FALSE(call.currentDirectory.has_value());
  ASSERT_TRUE(call.startupInfo);
  EXPECT_EQ(call.cb, sizeof(STARTUPINFOA));
  EXPECT_FALSE(call.reserved.has_value());
  EXPECT_EQ(call.desktop, std::string());
  EXPECT_EQ(call.title, std::string());
  EXPECT_EQ(call.dwFlags, static_cast<DWORD>(STARTF_USESHOWWINDOW));
  EXPECT_EQ(call.wShowWindow, SW_SHOW);
  EXPECT_TRUE(call.processInformation);

  // The wait is on the primary thread, without a time limit, and both
  // handles are closed afterwards.
  bool waitedOnThread = false;
  for (const std::string &entry : standin::journalEntries())
    if (entry.rfind("WaitForSingleObject thread 4294967295", 0) == 0)
      waitedOnThread = true;
  EXPECT_TRUE(waitedOnThread);
  EXPECT_EQ(standin::openKernelHandleCount(), 0);
  EXPECT_TRUE(standin::messageBoxes().empty());
}

TEST_F(HandoffTest, RunReportsAFailureTheProgramHandsOff) {
  const std::string path = "D:\\Utility\\Sondel.exe";
  const std::string handoff = HandoffPath();
  standin::registerProgram(
      path, [handoff] { return SlowSibling(handoff, "0\r\n0\r\nC:\\X\r\n"); });
  EXPECT_EQ(RunExternalStep(path.c_str()), -1);
  EXPECT_EQ(g_installStatus.load(), -1);
  ExpectUnchanged();
  EXPECT_TRUE(standin::messageBoxes().empty());
  EXPECT_EQ(standin::openKernelHandleCount(), 0);
}

TEST_F(HandoffTest, RunWithoutHandoffFileShowsItsMessage) {
  const std::string path = "D:\\Utility\\Sondel.exe";
  standin::registerProgram(path, [] { return DWORD{0}; });
  EXPECT_EQ(RunExternalStep(path.c_str()), -1);
  EXPECT_EQ(g_installStatus.load(), -1);
  ExpectOneError("Can not open install.tmp file!", "Install Error");
}

// The status is stored only once the message has been dismissed.
TEST_F(HandoffTest, ProgramThatCannotStartShowsItsMessageThenFails) {
  int32_t statusWhileShown = 99;
  standin::setMessageBoxResponder(
      [&statusWhileShown](const standin::MessageBoxCall &) {
        statusWhileShown = g_installStatus.load();
        return IDOK;
      });
  EXPECT_EQ(RunExternalStep("\\Utility\\Sondel.exe"), -1);
  EXPECT_EQ(statusWhileShown, 0);
  EXPECT_EQ(g_installStatus.load(), -1);
  ExpectOneError("Can not find Resource file.", "Installation Error");
  ExpectUnchanged();
}

// A sibling program under a folder with blanks is started by its exact name,
// never by the system's search of the unquoted path, which would run
// C:\Program.exe or C:\VKO.exe first. It still sees the bare path as its
// command line.
TEST_F(HandoffTest, ProgramUnderAFolderWithBlanksIsNamedExactly) {
  const std::string handoff = HandoffPath();
  int trapsRun = 0;
  for (const char *trap : {"C:\\Program.exe", "C:\\VKO.exe"})
    standin::registerProgram(trap, [handoff, &trapsRun] {
      ++trapsRun;
      return SlowSibling(handoff, "0\r\n0\r\nC:\\TRAP\r\n");
    });
  const std::string paths[] = {
      "C:\\VKO Setup Disk\\Utility\\Sondel.exe",
      "C:\\Program Files\\VKO Halvermont\\Tessary.exe"};
  for (const std::string &path : paths)
    standin::registerProgram(path, [handoff, path] {
      return SlowSibling(handoff, "1\r\n0\r\n" + path + "\r\n");
    });

  for (const std::string &path : paths) {
    SCOPED_TRACE(path);
    EXPECT_EQ(RunExternalStep(path.c_str()), 0);
    EXPECT_EQ(g_installStatus.load(), 0);
    EXPECT_EQ(std::string(g_installDir), path);
  }
  EXPECT_EQ(trapsRun, 0);
  auto calls = standin::createProcessCalls();
  ASSERT_EQ(calls.size(), 2u);
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].applicationName, paths[i]);
    EXPECT_EQ(calls[i].commandLine, paths[i]);
  }
  EXPECT_TRUE(standin::messageBoxes().empty());
}

// A hand-off file that the program just run did not write, still the very
// file that was there when it started (an earlier run's), is no report: it
// counts as a missing file, and it stays where it is for the program to read.
// A program that writes it, even the same bytes within the same second,
// reports as usual, also on a volume that keeps write times to two seconds.
// A file whose time cannot be marked (read-only) is read as it is.
TEST_F(HandoffTest, HandoffFileTheProgramDidNotWriteCountsAsMissing) {
  const std::string path = "D:\\Utility\\Sondel.exe";
  const std::string handoff = HandoffPath();
  const std::string earlier = "1\r\n1\r\nC:\\EARLIER\r\n";
  struct Case {
    const char *name;
    bool fat;
    bool readOnly;
    bool writes;
    int result;
  };
  for (const Case &c : {Case{"no write", false, false, false, -1},
                        Case{"no write, FAT", true, false, false, -1},
                        Case{"same bytes", false, false, true, 0},
                        Case{"same bytes, FAT", true, false, true, 0},
                        Case{"read-only, no write", false, true, false, 0}}) {
    SCOPED_TRACE(c.name);
    standin::resetKernel();
    standin::resetUser();
    standin::setWindowsDirectory(windowsDir_);
    standin::setFatWriteTimes(c.fat);
    std::strcpy(g_installDir, "PREVIOUS");
    g_amaSetting = 7;
    std::remove(handoff.c_str());
    WriteHandoff(earlier);
    if (c.readOnly) {
      ASSERT_EQ(chmod(handoff.c_str(), 0444), 0);
    }
    std::string seen;
    standin::registerProgram(path, [&c, &seen, handoff, earlier] {
      seen = testsupport::ReadFileOr(handoff, "(none)");
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (c.writes && !testsupport::StoreFile(handoff, earlier))
        return DWORD{1};
      return DWORD{0};
    });

    EXPECT_EQ(RunExternalStep(path.c_str()), c.result);

    EXPECT_EQ(g_installStatus.load(), c.result);
    EXPECT_EQ(seen, earlier);
    EXPECT_EQ(testsupport::ReadFileOr(handoff, "(none)"), earlier);
    if (c.result == 0) {
      EXPECT_STREQ(g_installDir, "C:\\EARLIER");
      EXPECT_EQ(g_amaSetting, 0);
      EXPECT_TRUE(standin::messageBoxes().empty());
    } else {
      ExpectUnchanged();
      ExpectOneError("Can not open install.tmp file!", "Install Error");
    }
    EXPECT_EQ(standin::openKernelHandleCount(), 0);
    chmod(handoff.c_str(), 0644);
  }
}

// Before the program starts, the hand-off file already there is marked with
// a last-write time one day before now, which the program sees. A program
// that then rewrites the file within the same second as the earlier write,
// on a file system that keeps whole seconds, has still written it.
TEST_F(HandoffTest, HandoffFileIsMarkedOneDayBack) {
  const std::string path = "D:\\Utility\\Quillan.exe";
  const std::string handoff = HandoffPath();
  WriteHandoff("1\r\n1\r\nC:\\EARLIER\r\n");
  timespec earlier[2];
  earlier[0].tv_sec = earlier[1].tv_sec = time(nullptr);
  earlier[0].tv_nsec = earlier[1].tv_nsec = 0;
  ASSERT_EQ(utimensat(AT_FDCWD, handoff.c_str(), earlier, 0), 0);
  struct stat seen = {};
  standin::registerProgram(path, [&seen, &earlier, handoff]() -> DWORD {
    if (stat(handoff.c_str(), &seen) != 0 ||
        !testsupport::StoreFile(handoff, "1\r\n0\r\nC:\\NEW\r\n") ||
        utimensat(AT_FDCWD, handoff.c_str(), earlier, 0) != 0)
      return 1;
    return 0;
  });

  const time_t before = time(nullptr);
  EXPECT_EQ(RunExternalStep(path.c_str()), 0);
  const time_t after = time(nullptr);

  EXPECT_GE(seen.st_mtime, before - 86400);
  EXPECT_LE(seen.st_mtime, after - 86400);
  EXPECT_STREQ(g_installDir, "C:\\NEW");
  EXPECT_TRUE(standin::messageBoxes().empty());
}

// The worker stores -1 only once its own message has been dismissed: while
// it is up the status is still 0, so the status timer does nothing yet.
TEST_F(HandoffTest, FailureIsStoredOnlyAfterTheMessageIsDismissed) {
  const std::string sondel = "D:\\Utility\\Sondel.exe";
  standin::registerProgram(sondel, [] { return DWORD{0}; });
  struct Case {
    const char *path;
    bool earlierFile;
    const char *text;
  };
  for (const Case &c :
       {Case{"D:\\Utility\\Quillan.exe", false, "Can not find Resource file."},
        Case{sondel.c_str(), false, "Can not open install.tmp file!"},
        Case{sondel.c_str(), true, "Can not open install.tmp file!"}}) {
    SCOPED_TRACE(std::string(c.text) + (c.earlierFile ? " (earlier)" : ""));
    standin::resetUser();
    std::remove(HandoffPath().c_str());
    if (c.earlierFile)
      WriteHandoff("1\r\n0\r\nC:\\EARLIER\r\n");
    g_installStatus = 0;
    std::vector<int32_t> statusWhileShown;
    standin::setMessageBoxResponder(
        [&statusWhileShown](const standin::MessageBoxCall &) {
          statusWhileShown.push_back(g_installStatus.load());
          return IDOK;
        });

    EXPECT_EQ(RunExternalStep(c.path), -1);

    EXPECT_EQ(statusWhileShown, std::vector<int32_t>{0});
    EXPECT_EQ(g_installStatus.load(), -1);
    ASSERT_EQ(standin::messageBoxes().size(), 1u);
    EXPECT_EQ(standin::messageBoxes()[0].text, c.text);
  }
}

// The command line is at most 255 characters; a longer path is a program
// that cannot be started, never a cut one.
TEST_F(HandoffTest, ProgramPathAtTheBufferLimit) {
  const std::string fits = "D:\\" + std::string(241, 'p') + "\\Sondel.exe";
  ASSERT_EQ(fits.size(), 255u);
  const std::string tooLong = "D:\\" + std::string(242, 'p') + "\\Sondel.exe";
  const std::string handoff = HandoffPath();
  for (const std::string &path : {fits, tooLong})
    standin::registerProgram(path, [handoff] {
      return SlowSibling(handoff, "1\r\n0\r\nC:\\SUITE\r\n");
    });

  EXPECT_EQ(RunExternalStep(fits.c_str()), 0);
  EXPECT_STREQ(g_installDir, "C:\\SUITE");
  EXPECT_TRUE(standin::messageBoxes().empty());

  std::remove(HandoffPath().c_str());
  EXPECT_EQ(RunExternalStep(tooLong.c_str()), -1);
  EXPECT_EQ(g_installStatus.load(), -1);
  ExpectOneError("Can not find Resource file.", "Installation Error");
  EXPECT_EQ(standin::createProcessCalls().size(), 1u);
}

} // namespace
