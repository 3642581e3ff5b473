// Test-facing side of the stand-in's base services: version, command line,
// the program's own file name, the ANSI code page (for CharPrevA, CharNextA),
// Windows directory, temporary folder, tick count, local time, critical
// sections, processes, threads, waits, Sleep, DeleteFileA, file times.
//
// Files: CreateFileA (OPEN_EXISTING, and OPEN_ALWAYS for writing, which
// makes a missing file in an existing folder), WriteFile, SetFilePointer,
// SetEndOfFile, and LockFile/UnlockFile, whose byte-range locks hold between
// handles and between processes (host locks of open file descriptions).
//
// Journal entries (standin/journal.h):
//   CreateProcessA <application> <command line> -> <0|1>
//   WaitForSingleObject <process|thread|token|invalid> <ms> -> <result>
//   CloseHandle <process|thread|token|pseudo|invalid> -> <0|1>
//   CreateThread -> <0|1>
//   Sleep <ms>
//   DeleteFileA <file> -> <0|1>
//   CreateFileA <file> -> <0|1>
//   SetFileTime -> <0|1>
// Texts are in double quotes, or (null); <ms> and results are decimal
// (INFINITE is 4294967295).
#ifndef STANDIN_KERNEL_H
#define STANDIN_KERNEL_H

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace standin {

// Back to the defaults: version 0xC0000004, command line and module file
// name "A:\MERRIK.EXE", code page 1252, Windows directory "C:\WINDOWS", no
// programs, no records, real sleeping, CreateThread working, exact file times,
// no open kernel handles (their host files are closed). Programs and threads
// still running go on; their handles are forgotten.
void resetKernel();
// Waits until every in-process program and every CreateThread thread has
// ended; false when some still run after `milliseconds`. A test calls it
// before it frees what those threads may still use.
bool waitForThreads(DWORD milliseconds);

void setVersion(DWORD version);
void setCommandLine(const std::string &commandLine);
// What GetModuleFileNameA reports for the program's own module; after
// resetKernel "A:\MERRIK.EXE".
void setModuleFileName(const std::string &name);
// The ANSI code page that CharPrevA and CharNextA walk: 932 (Shift-JIS)
// gives double-byte characters; 1252 after resetKernel.
void setCodePage(UINT page);
void setWindowsDirectory(const std::string &directory);
// What GetComputerNameA reports; "STANDIN" after resetKernel.
void setComputerName(const std::string &name);
// The bytes that WriteFile may still add to files, as on a disk that fills:
// a write that does not fit writes what still fits and fails with
// ERROR_DISK_FULL; SetEndOfFile gives cut bytes back. -1 (after resetKernel):
// no limit.
void setDiskSpace(int64_t bytes);
// What GetTempPathA reports, with its trailing backslash; after resetKernel
// "C:\WINDOWS\TEMP\".
void setTempPath(const std::string &folder);

// A program of this name runs the body on a thread of its own; the body's
// result is the exit code. CreateProcessA finds it by the application name
// when one is given; otherwise by searching the command line as Windows
// does: a quoted first word, or else the text up to each blank in turn and
// at last the whole line, ".exe" added where there is no extension (so
// "C:\Program Files\A.exe" starts a program named "C:\Program.exe" first).
// Without a registered program a host executable runs: the application
// name, or the command line's first blank-separated word, must name an
// executable file; the words are its arguments. Anything else fails with
// ERROR_FILE_NOT_FOUND.
void registerProgram(const std::string &commandLine,
                     std::function<DWORD()> body);
// The host file that a file name given to CreateFileA or DeleteFileA stands
// for; an empty result names no file. Without a map (after resetKernel) the
// name is used as it is.
void setFileNameMap(std::function<std::string(const std::string &)> map);
// When false, CreateProcessA never starts a host executable: a command line
// that no registered program answers fails with ERROR_FILE_NOT_FOUND. True
// after resetKernel. A Windows build of the stand-in has no host programs.
void setHostPrograms(bool allowed);

struct CreateProcessCall {
  std::optional<std::string> applicationName;
  std::optional<std::string> commandLine;
  std::optional<std::string> currentDirectory;
  bool processAttributes = false; // a pointer was passed
  bool threadAttributes = false;
  BOOL inheritHandles = FALSE;
  DWORD creationFlags = 0;
  bool environment = false;
  bool startupInfo = false; // the fields below are read only when true
  DWORD cb = 0;
  std::optional<std::string> reserved;
  std::optional<std::string> desktop; // nullopt: NULL; "" : empty string
  std::optional<std::string> title;
  DWORD dwFlags = 0;
  WORD wShowWindow = 0;
  bool processInformation = false;
  BOOL result = FALSE;
  DWORD error = 0; // last error after a failure
  // When the call was made, before the program could run (the stand-in's
  // clock, standin/journal.h).
  uint64_t moment = 0;
};
std::vector<CreateProcessCall> createProcessCalls();

// The exit code of a finished process or thread, nullopt while it runs or
// for a handle that is not open.
std::optional<DWORD> exitCodeOf(HANDLE handle);

// Kernel handles (processes, threads, tokens) not yet closed.
int openKernelHandleCount();

// The next `calls` CreateThread calls fail (return NULL, last error
// ERROR_NOT_ENOUGH_MEMORY); -1: all of them.
void failCreateThread(int calls);
int createThreadCount();

// When set, a last-write time given to SetFileTime is stored rounded up to
// two seconds, as a FAT volume keeps it; otherwise times are kept exactly.
void setFatWriteTimes(bool fat);

// When set, Sleep returns at once; every Sleep is recorded either way.
void setSleepRecordOnly(bool recordOnly);
std::vector<DWORD> sleepCalls();

// For the stand-in's own modules: kernel objects of other kinds.
enum class KernelObjectKind { Process, Thread, Token, File };
HANDLE newKernelObject(KernelObjectKind kind);
bool isKernelObject(HANDLE handle, KernelObjectKind kind);

} // namespace standin

#endif
