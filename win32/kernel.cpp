// The stand-in's base services: settings a test gives, kernel handles over
// host processes, in-process programs and threads, Sleep, DeleteFileA, and
// the few file-time calls over real host files.
#include "standin/kernel.h"
#include "standin/faults.h"
#include "standin/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
// A Windows build of the stand-in (the media checker's) never starts a host
// program: only in-process programs exist there.
#ifndef _WIN32
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#else
#include <io.h>
#include <process.h>
#include <sys/locking.h>
#include <sys/utime.h>
#endif

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#ifndef _WIN32
extern char **environ;
static int hostTruncate(int fd, off_t length) { return ftruncate(fd, length); }
#else
// The Windows C runtime keeps file times to the second and has no
// descriptor flags; these stand in for the POSIX calls used below.
#define O_CLOEXEC 0
#define UTIME_OMIT ((1L << 30) - 2L)
#define st_ctim st_ctime
#define st_atim st_atime
#define st_mtim st_mtime
static int futimens(int fd, const timespec times[2]) {
  struct stat st;
  if (fstat(fd, &st) != 0)
    return -1;
  _utimbuf t;
  t.actime = times[0].tv_nsec == UTIME_OMIT ? st.st_atime : times[0].tv_sec;
  t.modtime = times[1].tv_nsec == UTIME_OMIT ? st.st_mtime : times[1].tv_sec;
  return _futime(fd, &t);
}
static int hostTruncate(int fd, off_t length) {
  return _chsize_s(fd, length) == 0 ? 0 : -1;
}
static tm *localtime_r(const time_t *when, tm *result) {
  tm *local = std::localtime(when); // thread-local in the Windows C runtime
  if (local == nullptr)
    return nullptr;
  *result = *local;
  return result;
}
static tm *gmtime_r(const time_t *when, tm *result) {
  tm *utc = std::gmtime(when); // thread-local in the Windows C runtime
  if (utc == nullptr)
    return nullptr;
  *result = *utc;
  return result;
}
#endif

namespace {

const DWORD kStillActive = 259;

// Something a wait can end on: a process or a thread.
struct Waitable {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  DWORD exitCode = kStillActive;

  void finish(DWORD code) {
    std::lock_guard<std::mutex> lock(m);
    exitCode = code;
    done = true;
    cv.notify_all();
  }
};

struct KernelObject {
  standin::KernelObjectKind kind;
  std::shared_ptr<Waitable> waitable; // null for tokens and files
  int fd = -1;                        // files: the open host file
  bool writable = false;              // files: opened with GENERIC_WRITE
  bool readable = false;              // files: opened with GENERIC_READ
  // files: the byte ranges (start, length) this handle has locked
  std::vector<std::pair<uint64_t, uint64_t>> locks;
};

const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(-1);

std::mutex kernelMutex;
DWORD version = 0xC0000004u;
std::string commandLine;
std::string moduleFileName;
UINT codePage = 1252;
std::string windowsDirectory;
std::string tempPath;
std::map<std::string, std::function<DWORD()>> programs;
std::vector<standin::CreateProcessCall> processCalls;
std::map<uintptr_t, KernelObject> objects;
uintptr_t nextHandle = 0x100;
bool hostPrograms = true;
std::function<std::string(const std::string &)> fileNameMap;
int threadFailures = 0;
int threadCount = 0;
bool sleepRecordOnly = false;
std::vector<DWORD> sleeps;
bool fatWriteTimes = false;
std::atomic<DWORD> nextThreadId{0x100};
std::atomic<DWORD> nextProcessId{0x1000};
std::string computerName;
int64_t diskSpace = -1; // bytes WriteFile may still add; -1: no limit

// Threads of in-process programs and of CreateThread that have not ended.
std::mutex runningMutex;
std::condition_variable runningChanged;
int runningThreads = 0;

void threadStarted() {
  std::lock_guard<std::mutex> lock(runningMutex);
  ++runningThreads;
}

void threadEnded() {
  std::lock_guard<std::mutex> lock(runningMutex);
  --runningThreads;
  runningChanged.notify_all();
}

thread_local DWORD lastError = 0;
thread_local DWORD threadId = 0;

void initDefaults() {
  version = 0xC0000004u;
  commandLine = "A:\\MERRIK.EXE";
  moduleFileName = "A:\\MERRIK.EXE";
  codePage = 1252;
  windowsDirectory = "C:\\WINDOWS";
  tempPath = "C:\\WINDOWS\\TEMP\\";
  computerName = "STANDIN";
  diskSpace = -1;
}

struct Defaults {
  Defaults() { initDefaults(); }
} defaultsOnStart;

// Caller holds kernelMutex.
HANDLE addObject(standin::KernelObjectKind kind,
                 const std::shared_ptr<Waitable> &w) {
  uintptr_t value = nextHandle;
  nextHandle += 4;
  KernelObject object;
  object.kind = kind;
  object.waitable = w;
  objects[value] = std::move(object);
  return reinterpret_cast<HANDLE>(value);
}

// Caller holds kernelMutex. Closes the host files of every open handle.
void forgetObjects() {
  for (auto &entry : objects)
    if (entry.second.fd >= 0)
      close(entry.second.fd);
  objects.clear();
}

const char *kindName(standin::KernelObjectKind kind) {
  switch (kind) {
  case standin::KernelObjectKind::Process:
    return "process";
  case standin::KernelObjectKind::Thread:
    return "thread";
  case standin::KernelObjectKind::Token:
    return "token";
  case standin::KernelObjectKind::File:
    return "file";
  }
  return "invalid";
}

std::string quoted(const std::optional<std::string> &s) {
  return s ? "\"" + *s + "\"" : "(null)";
}

std::optional<std::string> text(const char *s) {
  if (!s)
    return std::nullopt;
  return std::string(s);
}

std::vector<std::string> splitWords(const std::string &s) {
  std::vector<std::string> words;
  std::string cur;
  for (char c : s) {
    if (c == ' ' || c == '\t') {
      if (!cur.empty())
        words.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty())
    words.push_back(cur);
  return words;
}

bool hasExtension(const std::string &name) {
  size_t dot = name.rfind('.');
  size_t separator = name.find_last_of("\\/");
  return dot != std::string::npos &&
         (separator == std::string::npos || dot > separator);
}

// Caller holds kernelMutex. The registered program that the system finds for
// a command line given without an application name: a quoted first word is
// the name; otherwise the text up to each blank in turn and at last the whole
// line, with ".exe" added to a name without an extension. So for
// C:\Program Files\A.exe a program at C:\Program.exe runs, as on Windows.
std::function<DWORD()> findOnCommandLine(const std::string &commandLine) {
  std::vector<std::string> names;
  if (!commandLine.empty() && commandLine[0] == '"') {
    size_t close = commandLine.find('"', 1);
    names.push_back(commandLine.substr(
        1, close == std::string::npos ? std::string::npos : close - 1));
  } else {
    for (size_t i = 0; i < commandLine.size(); ++i)
      if (commandLine[i] == ' ' || commandLine[i] == '\t')
        names.push_back(commandLine.substr(0, i));
    names.push_back(commandLine);
  }
  for (const std::string &name : names) {
    auto it = programs.find(name);
    if (it == programs.end() && !hasExtension(name))
      it = programs.find(name + ".exe");
    if (it != programs.end())
      return it->second;
  }
  return nullptr;
}

#ifndef _WIN32
bool isExecutableFile(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         access(path.c_str(), X_OK) == 0;
}

// Starts a host executable; the waitable ends with its exit status.
bool spawnHost(const std::string &path, const std::vector<std::string> &args,
               const std::shared_ptr<Waitable> &w, pid_t *pidOut) {
  std::vector<char *> argv;
  for (const std::string &a : args)
    argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) !=
      0)
    return false;
  *pidOut = pid;
  std::thread([pid, w] {
    int status = 0;
    pid_t r;
    do {
      r = waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    DWORD code = 1;
    if (r == pid && WIFEXITED(status))
      code = static_cast<DWORD>(WEXITSTATUS(status));
    w->finish(code);
  }).detach();
  return true;
}
#else
bool isExecutableFile(const std::string &) { return false; }
bool spawnHost(const std::string &, const std::vector<std::string> &,
               const std::shared_ptr<Waitable> &, int *) {
  return false;
}
#endif

// A broken-down host time as a SYSTEMTIME, with the milliseconds of `nsec`.
void FillSystemTime(const tm &t, long nsec, LPSYSTEMTIME out) {
  out->wYear = static_cast<WORD>(t.tm_year + 1900);
  out->wMonth = static_cast<WORD>(t.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(t.tm_wday);
  out->wDay = static_cast<WORD>(t.tm_mday);
  out->wHour = static_cast<WORD>(t.tm_hour);
  out->wMinute = static_cast<WORD>(t.tm_min);
  out->wSecond = static_cast<WORD>(t.tm_sec);
  out->wMilliseconds = static_cast<WORD>(nsec / 1000000);
}

} // namespace

DWORD WINAPI GetVersion(void) {
  std::lock_guard<std::mutex> lock(kernelMutex);
  return version;
}

LPSTR WINAPI GetCommandLineA(void) {
  std::lock_guard<std::mutex> lock(kernelMutex);
  return &commandLine[0];
}

// Only the program's own module is known. A buffer too small for the name
// gets as much of it as fits with a terminator, the result is the buffer's
// size and the last error ERROR_INSUFFICIENT_BUFFER, as Windows does.
DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename,
                                DWORD nSize) {
  if (standin::faultHere("GetModuleFileNameA")) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  std::string name;
  {
    std::lock_guard<std::mutex> lock(kernelMutex);
    name = moduleFileName;
  }
  if (hModule != nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (lpFilename == nullptr || nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  if (name.size() >= nSize) {
    name.copy(lpFilename, nSize - 1);
    lpFilename[nSize - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  name.copy(lpFilename, name.size());
  lpFilename[name.size()] = '\0';
  return static_cast<DWORD>(name.size());
}

// USER32's walks over the text of the ANSI code page, kept beside the code
// page. Under code page 932 (Shift-JIS) a lead byte (0x81-0x9F, 0xE0-0xFC)
// and the byte after it are one character, so a trail byte 0x5C is never a
// backslash of its own; other code pages have single bytes only. A lead
// byte just before the terminator is a character of its own.
static const char *NextCharacter(const char *p, UINT page) {
  if (*p == '\0')
    return p;
  const unsigned char c = static_cast<unsigned char>(*p);
  const bool lead =
      page == 932 && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
  return lead && p[1] != '\0' ? p + 2 : p + 1;
}

static UINT CurrentCodePage() {
  std::lock_guard<std::mutex> lock(kernelMutex);
  return codePage;
}

// The start of the character before `lpszCurrent`, found by walking from
// `lpszStart`.
LPSTR WINAPI CharPrevA(LPCSTR lpszStart, LPCSTR lpszCurrent) {
  const UINT page = CurrentCodePage();
  const char *p = lpszStart;
  while (*p != '\0' && p < lpszCurrent) {
    const char *next = NextCharacter(p, page);
    if (next >= lpszCurrent)
      break;
    p = next;
  }
  return const_cast<LPSTR>(p);
}

// The character after the one at `lpsz`; the terminator stays where it is.
LPSTR WINAPI CharNextA(LPCSTR lpsz) {
  return const_cast<LPSTR>(NextCharacter(lpsz, CurrentCodePage()));
}

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
  if (standin::faultHere("GetWindowsDirectoryA")) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  std::lock_guard<std::mutex> lock(kernelMutex);
  UINT length = static_cast<UINT>(windowsDirectory.size());
  if (!lpBuffer || uSize <= length)
    return length + 1;
  windowsDirectory.copy(lpBuffer, length);
  lpBuffer[length] = '\0';
  return length;
}

BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes,
                           BOOL bInheritHandles, DWORD dwCreationFlags,
                           LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                           LPSTARTUPINFOA lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
  standin::CreateProcessCall call;
  call.moment = standin::nextMoment();
  call.applicationName = text(lpApplicationName);
  call.commandLine = text(lpCommandLine);
  call.currentDirectory = text(lpCurrentDirectory);
  call.processAttributes = lpProcessAttributes != nullptr;
  call.threadAttributes = lpThreadAttributes != nullptr;
  call.inheritHandles = bInheritHandles;
  call.creationFlags = dwCreationFlags;
  call.environment = lpEnvironment != nullptr;
  call.startupInfo = lpStartupInfo != nullptr;
  if (lpStartupInfo) {
    call.cb = lpStartupInfo->cb;
    call.reserved = text(lpStartupInfo->lpReserved);
    call.desktop = text(lpStartupInfo->lpDesktop);
    call.title = text(lpStartupInfo->lpTitle);
    call.dwFlags = lpStartupInfo->dwFlags;
    call.wShowWindow = lpStartupInfo->wShowWindow;
  }
  call.processInformation = lpProcessInformation != nullptr;

  const bool fault = standin::faultHere("CreateProcessA");
  std::unique_lock<std::mutex> lock(kernelMutex);
  DWORD error = ERROR_SUCCESS;
  std::function<DWORD()> body;
  std::string path;
  std::vector<std::string> args;
  if (fault) {
    error = ERROR_NOT_ENOUGH_MEMORY;
  } else if (!lpStartupInfo || !lpProcessInformation ||
             (!lpApplicationName && !lpCommandLine)) {
    error = ERROR_INVALID_PARAMETER;
  } else {
    // An application name names the program exactly; without one the
    // command line is searched.
    std::string key = lpCommandLine ? lpCommandLine : lpApplicationName;
    if (lpApplicationName) {
      auto it = programs.find(lpApplicationName);
      if (it != programs.end())
        body = it->second;
    } else {
      body = findOnCommandLine(key);
    }
    if (!body) {
      args = splitWords(key);
      path =
          lpApplicationName ? lpApplicationName : (args.empty() ? "" : args[0]);
      if (args.empty())
        args.push_back(path);
      if (!hostPrograms || path.empty() || !isExecutableFile(path))
        error = ERROR_FILE_NOT_FOUND;
    }
  }

  if (error == ERROR_SUCCESS) {
    auto w = std::make_shared<Waitable>();
    DWORD tid = nextThreadId.fetch_add(1);
    DWORD pid = 0;
    if (body) {
      pid = nextProcessId.fetch_add(1);
      threadStarted();
      std::thread([body, w, tid] {
        threadId = tid;
        w->finish(body());
        threadEnded();
      }).detach();
    } else {
#ifndef _WIN32
      pid_t hostPid = 0;
#else
      int hostPid = 0;
#endif
      if (spawnHost(path, args, w, &hostPid))
        pid = static_cast<DWORD>(hostPid);
      else
        error = ERROR_FILE_NOT_FOUND;
    }
    if (error == ERROR_SUCCESS) {
      lpProcessInformation->hProcess =
          addObject(standin::KernelObjectKind::Process, w);
      lpProcessInformation->hThread =
          addObject(standin::KernelObjectKind::Thread, w);
      lpProcessInformation->dwProcessId = pid;
      lpProcessInformation->dwThreadId = tid;
    }
  }
  call.result = error == ERROR_SUCCESS ? TRUE : FALSE;
  call.error = error;
  processCalls.push_back(call);
  lock.unlock();

  standin::journal("CreateProcessA " + quoted(call.applicationName) + " " +
                   quoted(call.commandLine) + " -> " +
                   std::to_string(call.result));
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  if (standin::faultHere("WaitForSingleObject")) {
    standin::journal("WaitForSingleObject " + std::to_string(dwMilliseconds) +
                     " -> " + std::to_string(WAIT_FAILED));
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  std::shared_ptr<Waitable> w;
  std::string kind = "invalid";
  {
    std::lock_guard<std::mutex> lock(kernelMutex);
    auto it = objects.find(reinterpret_cast<uintptr_t>(hHandle));
    if (it != objects.end()) {
      kind = kindName(it->second.kind);
      w = it->second.waitable;
    }
  }
  DWORD result;
  if (!w) {
    SetLastError(ERROR_INVALID_HANDLE);
    result = WAIT_FAILED;
  } else {
    std::unique_lock<std::mutex> lock(w->m);
    if (dwMilliseconds == INFINITE) {
      w->cv.wait(lock, [&] { return w->done; });
      result = WAIT_OBJECT_0;
    } else {
      bool done =
          w->cv.wait_for(lock, std::chrono::milliseconds(dwMilliseconds),
                         [&] { return w->done; });
      result = done ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }
  }
  standin::journal("WaitForSingleObject " + kind + " " +
                   std::to_string(dwMilliseconds) + " -> " +
                   std::to_string(result));
  return result;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
  std::string kind = "invalid";
  BOOL result = FALSE;
  {
    std::lock_guard<std::mutex> lock(kernelMutex);
    if (hObject == kCurrentProcess) {
      kind = "pseudo";
      result = TRUE;
    } else {
      auto it = objects.find(reinterpret_cast<uintptr_t>(hObject));
      if (it != objects.end()) {
        kind = kindName(it->second.kind);
        if (it->second.fd >= 0)
          close(it->second.fd);
        objects.erase(it);
        result = TRUE;
      }
    }
  }
  if (!result)
    SetLastError(ERROR_INVALID_HANDLE);
  standin::journal("CloseHandle " + kind + " -> " + std::to_string(result));
  return result;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T,
                           LPTHREAD_START_ROUTINE lpStartAddress,
                           LPVOID lpParameter, DWORD, LPDWORD lpThreadId) {
  HANDLE handle = nullptr;
  DWORD error = ERROR_SUCCESS;
  const bool fault = standin::faultHere("CreateThread");
  {
    std::lock_guard<std::mutex> lock(kernelMutex);
    ++threadCount;
    if (fault) {
      error = ERROR_NOT_ENOUGH_MEMORY;
    } else if (!lpStartAddress) {
      error = ERROR_INVALID_PARAMETER;
    } else if (threadFailures != 0) {
      if (threadFailures > 0)
        --threadFailures;
      error = ERROR_NOT_ENOUGH_MEMORY;
    } else {
      auto w = std::make_shared<Waitable>();
      DWORD tid = nextThreadId.fetch_add(1);
      handle = addObject(standin::KernelObjectKind::Thread, w);
      if (lpThreadId)
        *lpThreadId = tid;
      threadStarted();
      std::thread([lpStartAddress, lpParameter, w, tid] {
        threadId = tid;
        w->finish(lpStartAddress(lpParameter));
        threadEnded();
      }).detach();
    }
  }
  standin::journal(std::string("CreateThread -> ") + (handle ? "1" : "0"));
  if (!handle)
    SetLastError(error);
  return handle;
}

void WINAPI Sleep(DWORD dwMilliseconds) {
  bool recordOnly;
  {
    std::lock_guard<std::mutex> lock(kernelMutex);
    sleeps.push_back(dwMilliseconds);
    recordOnly = sleepRecordOnly;
  }
  standin::journal("Sleep " + std::to_string(dwMilliseconds));
  if (!recordOnly)
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

// The host file that a file name of the program stands for: the name as it
// is, unless a test maps names (an empty result names no file).
static std::string hostFileName(const char *name) {
  std::function<std::string(const std::string &)> map;
  {
    std::lock_guard<std::mutex> lock(kernelMutex);
    map = fileNameMap;
  }
  return map ? map(name) : std::string(name);
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
  BOOL result = FALSE;
  DWORD error = ERROR_INVALID_PARAMETER;
  if (lpFileName) {
    // The name is used as it is: on the host a backslash is an ordinary
    // character of a file name.
    std::string host = hostFileName(lpFileName);
    if (!host.empty() && unlink(host.c_str()) == 0) {
      result = TRUE;
    } else {
      error = (errno == ENOENT || errno == ENOTDIR) ? ERROR_FILE_NOT_FOUND
                                                    : ERROR_ACCESS_DENIED;
    }
  }
  standin::journal("DeleteFileA " + quoted(text(lpFileName)) + " -> " +
                   std::to_string(result));
  if (!result)
    SetLastError(error);
  return result;
}

// Files: existing host files only, opened for their times. Sharing modes are
// not modelled. A host file without its owner's write permission stands for
// a file with the read-only attribute, which refuses every writer.
namespace {

// 100-nanosecond intervals from 1601-01-01 to 1970-01-01.
const int64_t kUnixEpochTicks = 116444736000000000LL;
const int64_t kTicksPerSecond = 10000000LL;

FILETIME toFileTime(const timespec &t) {
  int64_t ticks = kUnixEpochTicks +
                  static_cast<int64_t>(t.tv_sec) * kTicksPerSecond +
                  t.tv_nsec / 100;
  FILETIME f;
  f.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks));
  f.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
  return f;
}

#ifdef _WIN32
FILETIME toFileTime(time_t seconds) {
  timespec t;
  t.tv_sec = seconds;
  t.tv_nsec = 0;
  return toFileTime(t);
}
#endif

int64_t ticksOf(const FILETIME &f) {
  return static_cast<int64_t>((static_cast<uint64_t>(f.dwHighDateTime) << 32) |
                              f.dwLowDateTime);
}

timespec toTimespec(int64_t ticks) {
  int64_t unixTicks = ticks - kUnixEpochTicks;
  int64_t seconds = unixTicks / kTicksPerSecond;
  int64_t rest = unixTicks % kTicksPerSecond;
  if (rest < 0) {
    rest += kTicksPerSecond;
    --seconds;
  }
  timespec t;
  t.tv_sec = static_cast<time_t>(seconds);
  t.tv_nsec = static_cast<long>(rest * 100);
  return t;
}

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

unsigned daysInMonth(unsigned year, unsigned month) {
  static const unsigned days[] = {31, 28, 31, 30, 31, 30,
                                  31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[month - 1];
}

// Caller holds kernelMutex. The open file behind a handle, or null.
KernelObject *fileObject(HANDLE handle) {
  auto it = objects.find(reinterpret_cast<uintptr_t>(handle));
  if (it == objects.end() || it->second.kind != standin::KernelObjectKind::File)
    return nullptr;
  return &it->second;
}

} // namespace

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD,
                          LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition,
                          DWORD, HANDLE) {
  HANDLE handle = INVALID_HANDLE_VALUE;
  DWORD error = ERROR_INVALID_PARAMETER;
  const bool reading = (dwDesiredAccess & GENERIC_READ) != 0;
  const bool writing = (dwDesiredAccess & GENERIC_WRITE) != 0;
  const bool always = dwCreationDisposition == OPEN_ALWAYS;
  bool existed = true;
  if (standin::faultHere("CreateFileA")) {
    error = ERROR_NOT_READY;
  } else if (lpFileName && (dwCreationDisposition == OPEN_EXISTING || always)) {
    std::string host = hostFileName(lpFileName);
    struct stat st;
    if (!host.empty() && always && writing && stat(host.c_str(), &st) != 0) {
      // OPEN_ALWAYS makes a missing file, in a folder that must exist.
      int made =
          open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (made >= 0) {
        close(made);
        existed = false;
      }
    }
    if (host.empty() || stat(host.c_str(), &st) != 0) {
      error = always ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
    } else if (S_ISDIR(st.st_mode) || (writing && !(st.st_mode & S_IWUSR))) {
      error = ERROR_ACCESS_DENIED;
    } else {
      int flags = writing ? (reading ? O_RDWR : O_WRONLY) : O_RDONLY;
#ifdef O_BINARY
      flags |= O_BINARY; // the bytes as they are, never a text translation
#endif
      int fd = open(host.c_str(), flags | O_CLOEXEC);
      if (fd < 0) {
        error = errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
      } else {
        std::lock_guard<std::mutex> lock(kernelMutex);
        handle = addObject(standin::KernelObjectKind::File, nullptr);
        KernelObject &object = objects[reinterpret_cast<uintptr_t>(handle)];
        object.fd = fd;
        object.writable = writing;
        object.readable = reading;
        error = ERROR_SUCCESS;
      }
    }
  }
  standin::journal("CreateFileA " + quoted(text(lpFileName)) + " -> " +
                   (handle != INVALID_HANDLE_VALUE ? "1" : "0"));
  if (handle == INVALID_HANDLE_VALUE)
    SetLastError(error);
  else
    SetLastError(always && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer,
                      DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPVOID) {
  DWORD error = ERROR_SUCCESS;
  DWORD written = 0;
  {
    std::lock_guard<std::mutex> lock(kernelMutex);
    KernelObject *file = fileObject(hFile);
    if (!file) {
      error = ERROR_INVALID_HANDLE;
    } else if (!file->writable) {
      error = ERROR_ACCESS_DENIED;
    } else if (nNumberOfBytesToWrite > 0) {
      // A full disk takes what still fits and refuses the rest.
      DWORD count = nNumberOfBytesToWrite;
      if (diskSpace >= 0 && count > diskSpace)
        count = static_cast<DWORD>(diskSpace);
      ssize_t n = count > 0 ? write(file->fd, lpBuffer, count) : 0;
      if (n < 0) {
        error = ERROR_ACCESS_DENIED;
      } else {
        written = static_cast<DWORD>(n);
        if (diskSpace >= 0)
          diskSpace -= n;
        if (written < nNumberOfBytesToWrite)
          error = ERROR_DISK_FULL;
      }
    }
  }
  if (lpNumberOfBytesWritten)
    *lpNumberOfBytesWritten = written;
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

// A position before the start is refused with ERROR_NEGATIVE_SEEK, one past
// the end is kept, as Windows does.
DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove,
                            PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
  if (standin::faultHere("SetFilePointer")) {
    SetLastError(ERROR_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  DWORD error = ERROR_SUCCESS;
  int64_t position = 0;
  {
    std::lock_guard<std::mutex> lock(kernelMutex);
    KernelObject *file = fileObject(hFile);
    int64_t distance = lDistanceToMove;
    if (lpDistanceToMoveHigh)
      distance = static_cast<int64_t>(
          (static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh))
           << 32) |
          static_cast<uint32_t>(lDistanceToMove));
    const int whence = dwMoveMethod == FILE_BEGIN     ? SEEK_SET
                       : dwMoveMethod == FILE_CURRENT ? SEEK_CUR
                       : dwMoveMethod == FILE_END     ? SEEK_END
                                                      : -1;
    if (!file) {
      error = ERROR_INVALID_HANDLE;
    } else if (whence < 0) {
      error = ERROR_INVALID_PARAMETER;
    } else {
      off_t at = lseek(file->fd, static_cast<off_t>(distance), whence);
      if (at < 0)
        error = errno == EINVAL ? ERROR_NEGATIVE_SEEK : ERROR_INVALID_PARAMETER;
      else
        position = static_cast<int64_t>(at);
    }
  }
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return INVALID_SET_FILE_POINTER;
  }
  if (lpDistanceToMoveHigh)
    *lpDistanceToMoveHigh = static_cast<LONG>(position >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(position);
}

// Sets the end of the file at its pointer, which the file's size follows
// (the disk gets back what is cut).
BOOL WINAPI SetEndOfFile(HANDLE hFile) {
  DWORD error = ERROR_SUCCESS;
  {
    std::lock_guard<std::mutex> lock(kernelMutex);
    KernelObject *file = fileObject(hFile);
    if (!file) {
      error = ERROR_INVALID_HANDLE;
    } else if (!file->writable) {
      error = ERROR_ACCESS_DENIED;
    } else {
      struct stat st;
      const off_t at = lseek(file->fd, 0, SEEK_CUR);
      if (at < 0 || fstat(file->fd, &st) != 0 ||
          hostTruncate(file->fd, at) != 0)
        error = ERROR_ACCESS_DENIED;
      else if (diskSpace >= 0 && st.st_size > at)
        diskSpace += st.st_size - at;
    }
  }
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

// Byte-range locks, as Windows keeps them: a range locked through one handle
// cannot be locked through any other handle of the same file, in this
// process or another, nor again through the same handle; UnlockFile takes
// exactly a range that its handle locked. Between processes the host's
// locks of open file descriptions (each CreateFileA opens one) carry them,
// so two programs on the stand-in contend for real; LockFile never waits.
namespace {

bool overlaps(const std::pair<uint64_t, uint64_t> &range, uint64_t start,
              uint64_t length) {
  return start < range.first + range.second && range.first < start + length;
}

// Locks or unlocks `length` bytes at `start` of the host file; false when
// another description holds a lock there.
bool hostLock(int fd, uint64_t start, uint64_t length, bool lock) {
#ifndef _WIN32
  struct flock range;
  std::memset(&range, 0, sizeof range);
  range.l_type = lock ? F_WRLCK : F_UNLCK;
  range.l_whence = SEEK_SET;
  range.l_start = static_cast<off_t>(start);
  range.l_len = static_cast<off_t>(length);
  return fcntl(fd, F_OFD_SETLK, &range) == 0;
#else
  // The C runtime locks from the descriptor's position with the system's
  // own LockFile, and never waits with _LK_NBLCK.
  const __int64 at = _lseeki64(fd, 0, SEEK_CUR);
  bool done = _lseeki64(fd, static_cast<__int64>(start), SEEK_SET) >= 0 &&
              _locking(fd, lock ? _LK_NBLCK : _LK_UNLCK,
                       static_cast<long>(length)) == 0;
  _lseeki64(fd, at, SEEK_SET);
  return done;
#endif
}

uint64_t wide(DWORD low, DWORD high) {
  return (static_cast<uint64_t>(high) << 32) | low;
}

} // namespace

BOOL WINAPI LockFile(HANDLE hFile, DWORD dwFileOffsetLow,
                     DWORD dwFileOffsetHigh, DWORD nNumberOfBytesToLockLow,
                     DWORD nNumberOfBytesToLockHigh) {
  const uint64_t start = wide(dwFileOffsetLow, dwFileOffsetHigh);
  const uint64_t length =
      wide(nNumberOfBytesToLockLow, nNumberOfBytesToLockHigh);
  DWORD error = ERROR_SUCCESS;
  {
    std::lock_guard<std::mutex> lock(kernelMutex);
    KernelObject *file = fileObject(hFile);
    if (!file) {
      error = ERROR_INVALID_HANDLE;
    } else if (length == 0) {
      error = ERROR_INVALID_PARAMETER;
    } else {
      for (const auto &range : file->locks)
        if (overlaps(range, start, length))
          error = ERROR_LOCK_VIOLATION;
      if (error == ERROR_SUCCESS && !hostLock(file->fd, start, length, true))
        error = ERROR_LOCK_VIOLATION;
      if (error == ERROR_SUCCESS)
        file->locks.emplace_back(start, length);
    }
  }
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI UnlockFile(HANDLE hFile, DWORD dwFileOffsetLow,
                       DWORD dwFileOffsetHigh, DWORD nNumberOfBytesToUnlockLow,
                       DWORD nNumberOfBytesToUnlockHigh) {
  const uint64_t start = wide(dwFileOffsetLow, dwFileOffsetHigh);
  const uint64_t length =
      wide(nNumberOfBytesToUnlockLow, nNumberOfBytesToUnlockHigh);
  DWORD error = ERROR_NOT_LOCKED;
  {
    std::lock_guard<std::mutex> lock(kernelMutex);
    KernelObject *file = fileObject(hFile);
    if (!file) {
      error = ERROR_INVALID_HANDLE;
    } else {
      for (auto it = file->locks.begin(); it != file->locks.end(); ++it) {
        if (it->first == start && it->second == length) {
          hostLock(file->fd, start, length, false);
          file->locks.erase(it);
          error = ERROR_SUCCESS;
          break;
        }
      }
    }
  }
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize) {
  std::string name;
  {
    std::lock_guard<std::mutex> lock(kernelMutex);
    name = computerName;
  }
  if (lpBuffer == nullptr || nSize == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Too small a buffer: the size needed, terminator included.
  if (*nSize <= name.size()) {
    *nSize = static_cast<DWORD>(name.size() + 1);
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return FALSE;
  }
  std::memcpy(lpBuffer, name.c_str(), name.size() + 1);
  *nSize = static_cast<DWORD>(name.size());
  return TRUE;
}

DWORD WINAPI GetCurrentProcessId(void) {
#ifndef _WIN32
  return static_cast<DWORD>(getpid());
#else
  return static_cast<DWORD>(_getpid());
#endif
}

DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
  std::string folder;
  {
    std::lock_guard<std::mutex> lock(kernelMutex);
    folder = tempPath;
  }
  // Too small a buffer: the size needed, terminator included, and nothing
  // stored.
  if (lpBuffer == nullptr || nBufferLength <= folder.size())
    return static_cast<DWORD>(folder.size() + 1);
  std::memcpy(lpBuffer, folder.c_str(), folder.size() + 1);
  return static_cast<DWORD>(folder.size());
}

void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm local;
  localtime_r(&now.tv_sec, &local);
  FillSystemTime(local, now.tv_nsec, lpSystemTime);
}

DWORD WINAPI GetTickCount(void) {
  // Milliseconds on a steady clock, wrapping at 2^32 as the system's do.
  return static_cast<DWORD>(
      std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  std::shared_ptr<Waitable> w;
  {
    std::lock_guard<std::mutex> lock(kernelMutex);
    auto it = objects.find(reinterpret_cast<uintptr_t>(hProcess));
    if (it != objects.end() &&
        it->second.kind == standin::KernelObjectKind::Process)
      w = it->second.waitable;
  }
  if (!w || lpExitCode == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(w->m);
  *lpExitCode = w->done ? w->exitCode : kStillActive;
  return TRUE;
}

// Each critical section owns a recursive lock of the host behind its
// LockSemaphore field, made by the initialisation and freed by the deletion.
void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  std::memset(lpCriticalSection, 0, sizeof(*lpCriticalSection));
  lpCriticalSection->LockSemaphore =
      reinterpret_cast<HANDLE>(new std::recursive_mutex);
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  reinterpret_cast<std::recursive_mutex *>(lpCriticalSection->LockSemaphore)
      ->lock();
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  reinterpret_cast<std::recursive_mutex *>(lpCriticalSection->LockSemaphore)
      ->unlock();
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  delete reinterpret_cast<std::recursive_mutex *>(
      lpCriticalSection->LockSemaphore);
  lpCriticalSection->LockSemaphore = nullptr;
}

BOOL WINAPI GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime,
                        LPFILETIME lpLastAccessTime,
                        LPFILETIME lpLastWriteTime) {
  DWORD error = ERROR_SUCCESS;
  if (standin::faultHere("GetFileTime")) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> lock(kernelMutex);
    KernelObject *file = fileObject(hFile);
    struct stat st;
    if (!file) {
      error = ERROR_INVALID_HANDLE;
    } else if (fstat(file->fd, &st) != 0) {
      error = ERROR_ACCESS_DENIED;
    } else {
      // The host keeps no creation time; the status-change time stands in.
      if (lpCreationTime)
        *lpCreationTime = toFileTime(st.st_ctim);
      if (lpLastAccessTime)
        *lpLastAccessTime = toFileTime(st.st_atim);
      if (lpLastWriteTime)
        *lpLastWriteTime = toFileTime(st.st_mtim);
    }
  }
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI SetFileTime(HANDLE hFile, const FILETIME *,
                        const FILETIME *lpLastAccessTime,
                        const FILETIME *lpLastWriteTime) {
  DWORD error = ERROR_SUCCESS;
  const bool fault = standin::faultHere("SetFileTime");
  {
    std::lock_guard<std::mutex> lock(kernelMutex);
    KernelObject *file = fileObject(hFile);
    if (fault) {
      error = ERROR_ACCESS_DENIED;
    } else if (!file) {
      error = ERROR_INVALID_HANDLE;
    } else if (!file->writable) {
      error = ERROR_ACCESS_DENIED;
    } else {
      // The creation time cannot be set on the host and is left alone.
      timespec times[2];
      times[0].tv_nsec = UTIME_OMIT;
      times[1].tv_nsec = UTIME_OMIT;
      if (lpLastAccessTime)
        times[0] = toTimespec(ticksOf(*lpLastAccessTime));
      if (lpLastWriteTime) {
        int64_t ticks = ticksOf(*lpLastWriteTime);
        // FAT keeps write times to two seconds.
        const int64_t step = 2 * kTicksPerSecond;
        if (fatWriteTimes && ticks % step != 0)
          ticks += step - ticks % step;
        times[1] = toTimespec(ticks);
      }
      if (futimens(file->fd, times) != 0)
        error = ERROR_ACCESS_DENIED;
    }
  }
  standin::journal(std::string("SetFileTime -> ") +
                   (error == ERROR_SUCCESS ? "1" : "0"));
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

// Reads from the file's position on; at the end of the file the call
// succeeds with 0 bytes, as Windows does.
BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesRead)
    *lpNumberOfBytesRead = 0;
  if (standin::faultHere("ReadFile")) {
    SetLastError(ERROR_CRC);
    return FALSE;
  }
  DWORD error = ERROR_SUCCESS;
  {
    std::lock_guard<std::mutex> lock(kernelMutex);
    KernelObject *file = fileObject(hFile);
    if (!file) {
      error = ERROR_INVALID_HANDLE;
    } else if (!lpNumberOfBytesRead || lpOverlapped ||
               (!lpBuffer && nNumberOfBytesToRead > 0)) {
      error = ERROR_INVALID_PARAMETER;
    } else if (!file->readable) {
      error = ERROR_ACCESS_DENIED;
    } else {
      ssize_t got;
      do {
        got = read(file->fd, lpBuffer, nNumberOfBytesToRead);
      } while (got < 0 && errno == EINTR);
      if (got < 0)
        error = ERROR_ACCESS_DENIED;
      else
        *lpNumberOfBytesRead = static_cast<DWORD>(got);
    }
  }
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  if (standin::faultHere("GetFileSize")) {
    SetLastError(ERROR_NOT_READY);
    return INVALID_FILE_SIZE;
  }
  DWORD error = ERROR_SUCCESS;
  uint64_t size = 0;
  {
    std::lock_guard<std::mutex> lock(kernelMutex);
    KernelObject *file = fileObject(hFile);
    struct stat st;
    if (!file)
      error = ERROR_INVALID_HANDLE;
    else if (fstat(file->fd, &st) != 0)
      error = ERROR_ACCESS_DENIED;
    else
      size = static_cast<uint64_t>(st.st_size);
  }
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return INVALID_FILE_SIZE;
  }
  if (lpFileSizeHigh)
    *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

// The process heap: the host's allocator behind one pseudo handle. A block
// that cannot be had is NULL; the heap sets no last error then.
namespace {
const HANDLE kProcessHeap = reinterpret_cast<HANDLE>(0x00140000);
} // namespace

HANDLE WINAPI GetProcessHeap(void) { return kProcessHeap; }

LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
  if (standin::faultHere("HeapAlloc") || hHeap != kProcessHeap)
    return nullptr;
  void *block = (dwFlags & HEAP_ZERO_MEMORY)
                    ? std::calloc(1, dwBytes ? dwBytes : 1)
                    : std::malloc(dwBytes ? dwBytes : 1);
  return block;
}

LPVOID WINAPI HeapReAlloc(HANDLE hHeap, DWORD, LPVOID lpMem, SIZE_T dwBytes) {
  if (standin::faultHere("HeapReAlloc") || hHeap != kProcessHeap || !lpMem)
    return nullptr;
  return std::realloc(lpMem, dwBytes ? dwBytes : 1);
}

BOOL WINAPI HeapFree(HANDLE hHeap, DWORD, LPVOID lpMem) {
  if (hHeap != kProcessHeap) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::free(lpMem);
  return TRUE;
}

void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm utc;
  gmtime_r(&now.tv_sec, &utc);
  FillSystemTime(utc, now.tv_nsec, lpSystemTime);
}

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME *lpSystemTime,
                                 LPFILETIME lpFileTime) {
  const SYSTEMTIME *t = lpSystemTime;
  if (!t || !lpFileTime || t->wYear < 1601 || t->wYear > 30827 ||
      t->wMonth < 1 || t->wMonth > 12 || t->wDay < 1 ||
      t->wDay > daysInMonth(t->wYear, t->wMonth) || t->wHour > 23 ||
      t->wMinute > 59 || t->wSecond > 59 || t->wMilliseconds > 999) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int64_t days =
      daysFromCivil(t->wYear, t->wMonth, t->wDay) - daysFromCivil(1601, 1, 1);
  int64_t seconds =
      days * 86400 + t->wHour * 3600 + t->wMinute * 60 + t->wSecond;
  int64_t ticks = seconds * kTicksPerSecond + t->wMilliseconds * 10000LL;
  lpFileTime->dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks));
  lpFileTime->dwHighDateTime =
      static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
  return TRUE;
}

DWORD WINAPI GetLastError(void) { return lastError; }

void WINAPI SetLastError(DWORD dwErrCode) { lastError = dwErrCode; }

HANDLE WINAPI GetCurrentProcess(void) { return kCurrentProcess; }

DWORD WINAPI GetCurrentThreadId(void) {
  if (threadId == 0)
    threadId = nextThreadId.fetch_add(1);
  return threadId;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  if (lpModuleName) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x00400000));
}

LONG WINAPI InterlockedExchange(LONG volatile *Target, LONG Value) {
  return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedCompareExchange(LONG volatile *Destination,
                                       LONG Exchange, LONG Comparand) {
  LONG expected = Comparand;
  __atomic_compare_exchange_n(Destination, &expected, Exchange, false,
                              __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return expected;
}

namespace standin {

bool waitForThreads(DWORD milliseconds) {
  std::unique_lock<std::mutex> lock(runningMutex);
  return runningChanged.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                 [] { return runningThreads == 0; });
}

void resetKernel() {
  std::lock_guard<std::mutex> lock(kernelMutex);
  initDefaults();
  programs.clear();
  processCalls.clear();
  forgetObjects();
  fatWriteTimes = false;
  hostPrograms = true;
  fileNameMap = nullptr;
  threadFailures = 0;
  threadCount = 0;
  sleepRecordOnly = false;
  sleeps.clear();
}

void setVersion(DWORD v) {
  std::lock_guard<std::mutex> lock(kernelMutex);
  version = v;
}

void setCommandLine(const std::string &c) {
  std::lock_guard<std::mutex> lock(kernelMutex);
  commandLine = c;
}

void setModuleFileName(const std::string &name) {
  std::lock_guard<std::mutex> lock(kernelMutex);
  moduleFileName = name;
}

void setComputerName(const std::string &name) {
  std::lock_guard<std::mutex> lock(kernelMutex);
  computerName = name;
}

void setDiskSpace(int64_t bytes) {
  std::lock_guard<std::mutex> lock(kernelMutex);
  diskSpace = bytes;
}

void setCodePage(UINT page) {
  std::lock_guard<std::mutex> lock(kernelMutex);
  codePage = page;
}

void setWindowsDirectory(const std::string &d) {
  std::lock_guard<std::mutex> lock(kernelMutex);
  windowsDirectory = d;
}

void setTempPath(const std::string &folder) {
  std::lock_guard<std::mutex> lock(kernelMutex);
  tempPath = folder;
}

void setFileNameMap(std::function<std::string(const std::string &)> map) {
  std::lock_guard<std::mutex> lock(kernelMutex);
  fileNameMap = std::move(map);
}

void setHostPrograms(bool allowed) {
  std::lock_guard<std::mutex> lock(kernelMutex);
  hostPrograms = allowed;
}

void registerProgram(const std::string &c, std::function<DWORD()> body) {
  std::lock_guard<std::mutex> lock(kernelMutex);
  programs[c] = std::move(body);
}

std::vector<CreateProcessCall> createProcessCalls() {
  std::lock_guard<std::mutex> lock(kernelMutex);
  return processCalls;
}

std::optional<DWORD> exitCodeOf(HANDLE handle) {
  std::shared_ptr<Waitable> w;
  {
    std::lock_guard<std::mutex> lock(kernelMutex);
    auto it = objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == objects.end() || !it->second.waitable)
      return std::nullopt;
    w = it->second.waitable;
  }
  std::lock_guard<std::mutex> lock(w->m);
  if (!w->done)
    return std::nullopt;
  return w->exitCode;
}

int openKernelHandleCount() {
  std::lock_guard<std::mutex> lock(kernelMutex);
  return static_cast<int>(objects.size());
}

void failCreateThread(int calls) {
  std::lock_guard<std::mutex> lock(kernelMutex);
  threadFailures = calls;
}

int createThreadCount() {
  std::lock_guard<std::mutex> lock(kernelMutex);
  return threadCount;
}

void setFatWriteTimes(bool fat) {
  std::lock_guard<std::mutex> lock(kernelMutex);
  fatWriteTimes = fat;
}

void setSleepRecordOnly(bool recordOnly) {
  std::lock_guard<std::mutex> lock(kernelMutex);
  sleepRecordOnly = recordOnly;
}

std::vector<DWORD> sleepCalls() {
  std::lock_guard<std::mutex> lock(kernelMutex);
  return sleeps;
}

HANDLE newKernelObject(KernelObjectKind kind) {
  std::lock_guard<std::mutex> lock(kernelMutex);
  return addObject(kind, nullptr);
}

bool isKernelObject(HANDLE handle, KernelObjectKind kind) {
  std::lock_guard<std::mutex> lock(kernelMutex);
  auto it = objects.find(reinterpret_cast<uintptr_t>(handle));
  return it != objects.end() && it->second.kind == kind;
}

} // namespace standin
