#include <windows.h>

#include "standin/journal.h"
#include "standin/kernel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

class KernelTest : public ::testing::Test {
protected:
  void SetUp() override {
    standin::resetKernel();
    standin::clearJournal();
  }

  // Starts a program the way the setup does: the path as the whole command
  // line, default startup information.
  BOOL start(const std::string &commandLine, PROCESS_INFORMATION &pi) {
    std::vector<char> buf(commandLine.begin(), commandLine.end());
    buf.push_back('\0');
    STARTUPINFOA si;
    std::memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    std::memset(&pi, 0, sizeof pi);
    return CreateProcessA(nullptr, buf.data(), nullptr, nullptr, FALSE, 0,
                          nullptr, nullptr, &si, &pi);
  }
};

TEST_F(KernelTest, WindowsDirectoryFollowsTheSystemContract) {
  standin::setWindowsDirectory("C:\\WIN"); // 6 characters
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(7u, GetWindowsDirectoryA(buf, 6)); // no room for the zero
  EXPECT_EQ('x', buf[0]);
  EXPECT_EQ(7u, GetWindowsDirectoryA(nullptr, 0));
  EXPECT_EQ(6u, GetWindowsDirectoryA(buf, 7)); // exactly enough
  EXPECT_STREQ("C:\\WIN", buf);
  EXPECT_EQ('x', buf[7]);
}

TEST_F(KernelTest, VersionAndCommandLineAreWhatTheTestSet) {
  EXPECT_EQ(0xC0000004u, GetVersion());
  standin::setVersion(0x05650004u);
  standin::setCommandLine("\"E:\\SETUP\\MERRIK.EXE\" -x");
  EXPECT_EQ(0x05650004u, GetVersion());
  EXPECT_STREQ("\"E:\\SETUP\\MERRIK.EXE\" -x", GetCommandLineA());
}

// The program's own file name, cut to a small buffer as Windows cuts it; no
// other module is known. CharPrevA and CharNextA step over a Shift-JIS
// character whose trail byte is 0x5C only under code page 932; CharNextA
// stays on the terminator, and takes a lead byte before it alone.
TEST_F(KernelTest, ModuleFileNameAndCharWalksFollowTheSystem) {
  standin::setModuleFileName("E:\\SETUP\\MERRIK.EXE");
  char buf[32];
  EXPECT_EQ(19u, GetModuleFileNameA(nullptr, buf, sizeof buf));
  EXPECT_STREQ("E:\\SETUP\\MERRIK.EXE", buf);
  EXPECT_EQ(8u, GetModuleFileNameA(nullptr, buf, 8));
  EXPECT_STREQ("E:\\SETU", buf);
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_EQ(0u, GetModuleFileNameA(reinterpret_cast<HMODULE>(0x10000000), buf,
                                   sizeof buf));

  const char text[] = "a\x83\\b";
  EXPECT_EQ(text + 2, CharPrevA(text, text + 3));
  EXPECT_EQ(text + 2, CharNextA(text + 1));
  standin::setCodePage(932);
  EXPECT_EQ(text + 1, CharPrevA(text, text + 3));
  EXPECT_EQ(text + 3, CharPrevA(text, text + 4));
  EXPECT_EQ(text, CharPrevA(text, text));
  EXPECT_EQ(text + 3, CharNextA(text + 1));
  EXPECT_EQ(text + 4, CharNextA(text + 4));
  const char lastLead[] = "\x83";
  EXPECT_EQ(lastLead + 1, CharNextA(lastLead));
}

TEST_F(KernelTest, InProcessProgramRunsOnItsOwnThreadAndIsWaitedFor) {
  std::atomic<bool> release{false};
  std::thread::id programThread;
  standin::registerProgram("A:\\Utility\\Sondel.exe", [&]() -> DWORD {
    programThread = std::this_thread::get_id();
    while (!release)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 7;
  });
  PROCESS_INFORMATION pi;
  ASSERT_TRUE(start("A:\\Utility\\Sondel.exe", pi));
  EXPECT_EQ(2, standin::openKernelHandleCount());
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(pi.hProcess, 20));
  EXPECT_FALSE(standin::exitCodeOf(pi.hProcess));
  release = true;
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, INFINITE));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hThread, 0));
  EXPECT_NE(std::this_thread::get_id(), programThread);
  EXPECT_EQ(7u, *standin::exitCodeOf(pi.hProcess));
  EXPECT_TRUE(CloseHandle(pi.hThread));
  EXPECT_TRUE(CloseHandle(pi.hProcess));
  EXPECT_EQ(0, standin::openKernelHandleCount());
  EXPECT_FALSE(CloseHandle(pi.hProcess));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(pi.hProcess, 0));
}

TEST_F(KernelTest, CallsAreRecordedWithTheirStartupFields) {
  standin::registerProgram("P.EXE", [] { return DWORD(0); });
  char cmd[] = "P.EXE";
  char empty[] = "";
  STARTUPINFOA si;
  std::memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  si.lpDesktop = empty;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION pi;
  ASSERT_TRUE(CreateProcessA(nullptr, cmd, nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &si, &pi));
  WaitForSingleObject(pi.hProcess, INFINITE);
  auto calls = standin::createProcessCalls();
  ASSERT_EQ(1u, calls.size());
  EXPECT_FALSE(calls[0].applicationName);
  EXPECT_EQ("P.EXE", *calls[0].commandLine);
  EXPECT_EQ(static_cast<DWORD>(sizeof(STARTUPINFOA)), calls[0].cb);
  ASSERT_TRUE(calls[0].desktop);
  EXPECT_EQ("", *calls[0].desktop);
  EXPECT_FALSE(calls[0].title);
  EXPECT_EQ(static_cast<DWORD>(STARTF_USESHOWWINDOW), calls[0].dwFlags);
  EXPECT_EQ(SW_SHOWNORMAL, calls[0].wShowWindow);
  EXPECT_TRUE(calls[0].result);
  auto journal = standin::journalEntries();
  ASSERT_FALSE(journal.empty());
  EXPECT_EQ("CreateProcessA (null) \"P.EXE\" -> 1", journal[0]);
}

TEST_F(KernelTest, RunsRealHostProgramsAndRefusesUnknownOnes) {
  PROCESS_INFORMATION pi;
  ASSERT_TRUE(start("/bin/true", pi));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 10000));
  EXPECT_EQ(0u, *standin::exitCodeOf(pi.hProcess));
  // Blank-separated words are the arguments.
  ASSERT_TRUE(start("/bin/sh  -c\ttrue", pi));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 10000));
  EXPECT_EQ(0u, *standin::exitCodeOf(pi.hProcess));
  ASSERT_TRUE(start("/bin/false", pi));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 10000));
  EXPECT_EQ(1u, *standin::exitCodeOf(pi.hProcess));

  SetLastError(0);
  EXPECT_FALSE(start("A:\\Utility\\Quillan.exe", pi));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_EQ(nullptr, pi.hProcess);
  EXPECT_FALSE(start("/etc/passwd", pi)); // exists, not executable
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_EQ(6, standin::openKernelHandleCount());
  auto calls = standin::createProcessCalls();
  ASSERT_EQ(5u, calls.size());
  EXPECT_FALSE(calls[3].result);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), calls[3].error);
}

TEST_F(KernelTest, ProgramMayWriteTheHandOffFileBeforeTheWaitEnds) {
  const std::string file =
      "/tmp/h1_kernel_" + std::to_string(getpid()) + "_win\\install.tmp";
  standin::registerProgram("S.EXE", [&] {
    std::ofstream(file, std::ios::binary) << "1\r\n1\r\nD:\\X\r\n";
    return DWORD(0);
  });
  PROCESS_INFORMATION pi;
  ASSERT_TRUE(start("S.EXE", pi));
  WaitForSingleObject(pi.hProcess, INFINITE);
  std::ifstream in(file, std::ios::binary);
  std::string first;
  std::getline(in, first);
  EXPECT_EQ("1\r", first);
  in.close();

  // DeleteFileA takes the name as it is, backslash and all.
  EXPECT_TRUE(DeleteFileA(file.c_str()));
  EXPECT_FALSE(DeleteFileA(file.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_FALSE(DeleteFileA("/tmp"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
}

DWORD WINAPI storeThreadId(LPVOID p) {
  *static_cast<DWORD *>(p) = GetCurrentThreadId();
  SetLastError(99);
  return 5;
}

TEST_F(KernelTest, CreateThreadRunsTheRoutineAndCanBeMadeToFail) {
  DWORD seen = 0, id = 0;
  SetLastError(1);
  HANDLE h = CreateThread(nullptr, 0, storeThreadId, &seen, 0, &id);
  ASSERT_NE(nullptr, h);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, INFINITE));
  EXPECT_EQ(id, seen);
  EXPECT_NE(GetCurrentThreadId(), seen);
  EXPECT_EQ(5u, *standin::exitCodeOf(h));
  EXPECT_EQ(1u, GetLastError()); // the last error is per thread

  standin::failCreateThread(1);
  EXPECT_EQ(nullptr, CreateThread(nullptr, 0, storeThreadId, &seen, 0, &id));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
  HANDLE again = CreateThread(nullptr, 0, storeThreadId, &seen, 0, nullptr);
  EXPECT_NE(nullptr, again);
  WaitForSingleObject(again, INFINITE);
  EXPECT_EQ(3, standin::createThreadCount());
  EXPECT_EQ(2, standin::openKernelHandleCount());
}

// A test must be able to outlast every thread it started, programs and
// CreateThread threads alike, even when nobody waits on their handles.
TEST_F(KernelTest, WaitForThreadsOutlastsProgramsAndThreads) {
  std::atomic<bool> release{false};
  standin::registerProgram("C:\\SLOW.EXE", [&]() -> DWORD {
    while (!release)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 0;
  });
  PROCESS_INFORMATION pi;
  ASSERT_TRUE(start("C:\\SLOW.EXE", pi));
  DWORD seen = 0;
  HANDLE t = CreateThread(nullptr, 0, storeThreadId, &seen, 0, nullptr);
  ASSERT_NE(nullptr, t);
  EXPECT_FALSE(standin::waitForThreads(20));
  release = true;
  EXPECT_TRUE(standin::waitForThreads(5000));
}

TEST_F(KernelTest, SleepWaitsForRealUnlessOnlyRecorded) {
  auto t0 = std::chrono::steady_clock::now();
  Sleep(30);
  EXPECT_GE(std::chrono::steady_clock::now() - t0,
            std::chrono::milliseconds(30));
  standin::setSleepRecordOnly(true);
  t0 = std::chrono::steady_clock::now();
  Sleep(100000);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_EQ((std::vector<DWORD>{30, 100000}), standin::sleepCalls());
  EXPECT_EQ((std::vector<std::string>{"Sleep 30", "Sleep 100000"}),
            standin::journalEntries());
}

// Without an application name the unquoted command line is searched at each
// blank, ".exe" added, as Windows does; an application name is taken exactly.
TEST_F(KernelTest, CommandLineIsSearchedUnlessTheProgramIsNamed) {
  std::vector<std::string> ran;
  for (const char *name :
       {"C:\\Program.exe", "C:\\Program Files\\A B\\C.exe", "D:\\Q R.exe"})
    standin::registerProgram(name, [&ran, name] {
      ran.push_back(name);
      return DWORD(0);
    });
  char line[] = "C:\\Program Files\\A B\\C.exe";
  char quoted[] = "\"C:\\Program Files\\A B\\C.exe\" x";
  char other[] = "D:\\Q R.exe";
  STARTUPINFOA si;
  std::memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  for (LPCSTR application :
       {static_cast<LPCSTR>(nullptr), static_cast<LPCSTR>(line)})
    for (LPSTR commandLine : {line, quoted, other}) {
      ASSERT_TRUE(CreateProcessA(application, commandLine, nullptr, nullptr,
                                 FALSE, 0, nullptr, nullptr, &si, &pi));
      WaitForSingleObject(pi.hProcess, INFINITE);
      CloseHandle(pi.hProcess);
      CloseHandle(pi.hThread);
    }
  EXPECT_EQ(
      (std::vector<std::string>{
          "C:\\Program.exe", "C:\\Program Files\\A B\\C.exe", "D:\\Q R.exe",
          "C:\\Program Files\\A B\\C.exe", "C:\\Program Files\\A B\\C.exe",
          "C:\\Program Files\\A B\\C.exe"}),
      ran);
}

// File times over the host file: read and set through handles, a write
// needs a writable handle and a writable file (read-only refuses everyone),
// a FAT volume keeps write times to two seconds, and system times convert
// to 100-nanosecond intervals since 1601.
TEST_F(KernelTest, FileTimesOverHostFiles) {
  const std::string file =
      "/tmp/h1_kernel_" + std::to_string(getpid()) + "_times";
  std::ofstream(file, std::ios::binary) << "x";
  const FILETIME odd = {0x12345677u, 0x01D00000u}; // not on a 2-second step
  FILETIME got;
  for (bool fat : {false, true}) {
    standin::setFatWriteTimes(fat);
    HANDLE w = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, w);
    EXPECT_TRUE(SetFileTime(w, nullptr, nullptr, &odd));
    EXPECT_TRUE(CloseHandle(w));
    HANDLE r = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, r);
    ASSERT_TRUE(GetFileTime(r, nullptr, nullptr, &got));
    uint64_t ticks = (uint64_t(got.dwHighDateTime) << 32) | got.dwLowDateTime;
    uint64_t asked = (uint64_t(odd.dwHighDateTime) << 32) | odd.dwLowDateTime;
    if (fat) {
      EXPECT_EQ(0u, ticks % 20000000u);
      EXPECT_GT(ticks, asked);
      EXPECT_LT(ticks - asked, 20000000u);
    } else {
      EXPECT_EQ(asked, ticks);
    }
    EXPECT_FALSE(SetFileTime(r, nullptr, nullptr, &odd));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_TRUE(CloseHandle(r));
  }
  ASSERT_EQ(0, chmod(file.c_str(), 0444));
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  unlink(file.c_str());
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_FALSE(GetFileTime(INVALID_HANDLE_VALUE, nullptr, nullptr, &got));
  EXPECT_EQ(0, standin::openKernelHandleCount());

  SYSTEMTIME t = {1970, 1, 4, 1, 0, 0, 0, 0};
  ASSERT_TRUE(SystemTimeToFileTime(&t, &got));
  EXPECT_EQ(0x019DB1DEu, got.dwHighDateTime);
  EXPECT_EQ(0xD53E8000u, got.dwLowDateTime);
  t = {2000, 2, 0, 29, 23, 59, 59, 999}; // a leap day
  EXPECT_TRUE(SystemTimeToFileTime(&t, &got));
  t = {1900, 2, 0, 29, 0, 0, 0, 0}; // not a leap year
  EXPECT_FALSE(SystemTimeToFileTime(&t, &got));
  GetSystemTime(&t);
  EXPECT_GE(t.wYear, 2024);
  EXPECT_TRUE(SystemTimeToFileTime(&t, &got));
}

// Reads and seeks as Windows does them: a read at the end succeeds with no
// byte, a position past the end is kept, one before the start is refused;
// the size is the file's; a handle opened only for writing cannot read.
TEST_F(KernelTest, ReadsAndSeeksOverHostFiles) {
  const std::string file =
      "/tmp/h1_kernel_" + std::to_string(getpid()) + "_reads";
  std::ofstream(file, std::ios::binary) << "abc\r\nde";
  HANDLE r = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, r);
  char buffer[16] = {};
  DWORD got = 99;
  EXPECT_TRUE(ReadFile(r, buffer, 4, &got, nullptr));
  EXPECT_EQ(4u, got);
  EXPECT_EQ(std::string("abc\r"), std::string(buffer, 4));
  EXPECT_TRUE(ReadFile(r, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(std::string("\nde"), std::string(buffer, got));
  EXPECT_TRUE(ReadFile(r, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(0u, got);
  EXPECT_EQ(7u, GetFileSize(r, nullptr));
  EXPECT_EQ(2u, SetFilePointer(r, 2, nullptr, FILE_BEGIN));
  EXPECT_EQ(1u, SetFilePointer(r, -1, nullptr, FILE_CURRENT));
  EXPECT_EQ(9u, SetFilePointer(r, 2, nullptr, FILE_END));
  EXPECT_TRUE(ReadFile(r, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(0u, got);
  EXPECT_EQ(INVALID_SET_FILE_POINTER,
            SetFilePointer(r, -1, nullptr, FILE_BEGIN));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NEGATIVE_SEEK), GetLastError());
  EXPECT_TRUE(CloseHandle(r));
  EXPECT_FALSE(ReadFile(r, buffer, 1, &got, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  HANDLE w = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_FALSE(ReadFile(w, buffer, 1, &got, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_TRUE(CloseHandle(w));
  unlink(file.c_str());
  EXPECT_EQ(0, standin::openKernelHandleCount());
}

TEST_F(KernelTest, InterlockedFunctionsReturnThePreviousValue) {
  volatile LONG v = 0;
  EXPECT_EQ(0, InterlockedExchange(&v, -1));
  EXPECT_EQ(-1, InterlockedCompareExchange(&v, 1, 0)); // no match: unchanged
  EXPECT_EQ(-1, v);
  EXPECT_EQ(-1, InterlockedCompareExchange(&v, 1, -1));
  EXPECT_EQ(1, v);
}

} // namespace
