// The stand-in's base services: settings a test gives, kernel handles over
// host processes, in-process programs and threads, Sleep and DeleteFileA.
#include "standin/kernel.h"
#include "standin/journal.h"

// A Windows build of the stand-in (the media checker's) never starts a host
// program: only in-process programs exist there.
#ifndef _WIN32
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#ifndef _WIN32
extern char **environ;
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
  std::shared_ptr<Waitable> waitable; // null for tokens
};

const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(-1);

std::mutex kernelMutex;
DWORD version = 0xC0000004u;
std::string commandLine;
std::string windowsDirectory;
std::map<std::string, std::function<DWORD()>> programs;
std::vector<standin::CreateProcessCall> processCalls;
std::map<uintptr_t, KernelObject> objects;
uintptr_t nextHandle = 0x100;
bool hostPrograms = true;
int threadFailures = 0;
int threadCount = 0;
bool sleepRecordOnly = false;
std::vector<DWORD> sleeps;
std::atomic<DWORD> nextThreadId{0x100};
std::atomic<DWORD> nextProcessId{0x1000};

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
  windowsDirectory = "C:\\WINDOWS";
}

struct Defaults {
  Defaults() { initDefaults(); }
} defaultsOnStart;

// Caller holds kernelMutex.
HANDLE addObject(standin::KernelObjectKind kind,
                 const std::shared_ptr<Waitable> &w) {
  uintptr_t value = nextHandle;
  nextHandle += 4;
  objects[value] = KernelObject{kind, w};
  return reinterpret_cast<HANDLE>(value);
}

const char *kindName(standin::KernelObjectKind kind) {
  switch (kind) {
  case standin::KernelObjectKind::Process:
    return "process";
  case standin::KernelObjectKind::Thread:
    return "thread";
  case standin::KernelObjectKind::Token:
    return "token";
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

} // namespace

DWORD WINAPI GetVersion(void) {
  std::lock_guard<std::mutex> lock(kernelMutex);
  return version;
}

LPSTR WINAPI GetCommandLineA(void) {
  std::lock_guard<std::mutex> lock(kernelMutex);
  return &commandLine[0];
}

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
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

  std::unique_lock<std::mutex> lock(kernelMutex);
  DWORD error = ERROR_SUCCESS;
  std::function<DWORD()> body;
  std::string path;
  std::vector<std::string> args;
  if (!lpStartupInfo || !lpProcessInformation ||
      (!lpApplicationName && !lpCommandLine)) {
    error = ERROR_INVALID_PARAMETER;
  } else {
    std::string key = lpCommandLine ? lpCommandLine : lpApplicationName;
    auto it = programs.find(key);
    if (it == programs.end() && lpApplicationName)
      it = programs.find(lpApplicationName);
    if (it != programs.end()) {
      body = it->second;
    } else {
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
  {
    std::lock_guard<std::mutex> lock(kernelMutex);
    ++threadCount;
    if (!lpStartAddress) {
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

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
  BOOL result = FALSE;
  DWORD error = ERROR_INVALID_PARAMETER;
  if (lpFileName) {
    // The name is used as it is: on the host a backslash is an ordinary
    // character of a file name.
    if (unlink(lpFileName) == 0) {
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
  objects.clear();
  hostPrograms = true;
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

void setWindowsDirectory(const std::string &d) {
  std::lock_guard<std::mutex> lock(kernelMutex);
  windowsDirectory = d;
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
