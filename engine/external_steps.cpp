// Sibling programs and the hand-off file install.tmp.
//
// install.tmp holds three CR LF lines: the status character ("0" means the
// sibling program failed; a file without one is unusable), the AMA setting
// character ("0" gives 1, "1" gives 0, anything else -1) and the install
// directory, which only a CR ends.
#include "engine/external_steps.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "state/install_log.h"
#include "state/install_state.h"
#include "text/bounded_text.h"

// The start-up information is the 68-byte structure of the 32-bit system.
static_assert(sizeof(void *) != 4 || sizeof(STARTUPINFOA) == 68,
              "STARTUPINFOA must be 68 bytes in the 32-bit program");

void GetSourceDir() {
  // The folder of the program's own file, however it was started: a command
  // prompt passes the name as typed ("merrik", "d:merrik"), and arguments may
  // hold backslashes of their own. A name that cannot be had whole (no name,
  // or one that may have been cut to the buffer) names no folder.
  char moduleName[MODULE_NAME_SIZE];
  const DWORD length =
      GetModuleFileNameA(nullptr, moduleName, sizeof(moduleName));
  g_sourceDir[0] = '\0';
  if (length == 0)
    LogLine("GetModuleFileNameA: failed, error %u",
            static_cast<unsigned>(GetLastError()));
  if (length == 0 || length >= sizeof(moduleName) - 1) {
    g_sourceDirTooLong = true;
    return;
  }
  moduleName[length] = '\0';

  // Back to the last backslash character by character: in a double-byte
  // code page (Shift-JIS, GBK) a trail byte 0x5C is part of a character, not
  // a separator. Without a backslash the folder is empty.
  const char *cut = moduleName + length;
  while (cut != moduleName) {
    cut = CharPrevA(moduleName, cut);
    if (*cut == '\\')
      break;
  }
  const size_t folderLength = static_cast<size_t>(cut - moduleName);

  // A folder that does not fit g_sourceDir is never used cut short.
  g_sourceDirTooLong =
      !CopyTextN(g_sourceDir, sizeof(g_sourceDir), moduleName, folderLength);
}

bool IsUsableInstallDir(const char *directory) {
  if (directory == nullptr)
    return false;
  for (const char *p = directory; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c == 0x7F)
      return false;
  }
  const char drive = directory[0];
  if (((drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z')) &&
      directory[1] == ':' && directory[2] == '\\')
    return true;
  // \\server\share, then the end or a backslash; neither name empty. The
  // server's name is walked by characters: in a double-byte code page a
  // trail byte 0x5C is part of a character, not the separator.
  if (directory[0] != '\\' || directory[1] != '\\')
    return false;
  const char *server = directory + 2;
  const char *separator = server;
  while (*separator != '\0' && *separator != '\\')
    separator = CharNextA(separator);
  return *separator == '\\' && separator != server && separator[1] != '\0' &&
         separator[1] != '\\';
}

bool GetHandoffFileName(char *name, size_t size) {
  if (name == nullptr || size == 0)
    return false;
  name[0] = '\0';
  char windowsDir[HANDOFF_NAME_SIZE];
  UINT written = GetWindowsDirectoryA(windowsDir, sizeof(windowsDir));
  if (written == 0)
    LogLine("GetWindowsDirectoryA: failed, error %u",
            static_cast<unsigned>(GetLastError()));
  // Zero means failure; a count of the buffer size or more means the
  // directory did not fit and the buffer holds no usable name.
  if (written == 0 || written >= sizeof(windowsDir))
    return false;
  if (!CopyText(name, size, windowsDir) ||
      !AppendText(name, size, "\\install.tmp")) {
    name[0] = '\0';
    return false;
  }
  return true;
}

// The message for a hand-off file that cannot be had; -1 once dismissed.
static int ReportMissingHandoff() {
  const int shown =
      MessageBoxA(g_installHostWindow, "Can not open install.tmp file!",
                  "Install Error", MB_TOPMOST | MB_ICONERROR);
  LogLine("message \"Can not open install.tmp file!\": %s",
          shown != 0 ? "shown" : "not shown (MessageBoxA returned 0)");
  return -1;
}

int ReadHandoffFile() {
  char fileName[HANDOFF_NAME_SIZE];
  FILE *file = nullptr;
  if (GetHandoffFileName(fileName, sizeof(fileName)))
    file = std::fopen(fileName, "rb");
  if (file == nullptr) {
    LogLine("hand-off file: missing (it cannot be opened)");
    LogStreamFailure("hand-off file");
    return ReportMissingHandoff();
  }

  // Without its status character the file reports nothing: unusable, as a
  // missing one.
  const int status = std::fgetc(file);
  const bool readFailed = std::ferror(file) != 0;
  if (status == EOF || readFailed) {
    std::fclose(file);
    if (readFailed)
      LogStreamFailure("hand-off file");
    LogLine(readFailed ? "hand-off file: missing (a read failed)"
                       : "hand-off file: missing (it holds no status "
                         "character)");
    return ReportMissingHandoff();
  }
  if (status == '0') {
    std::fclose(file);
    LogLine("hand-off file: status 0, the program reports a failure");
    return -1;
  }

  // A seek or read that the system refuses (a bad sector, a drive no longer
  // ready) leaves the file unread: unusable, as a missing one, rather than
  // read as an unknown setting or a cut-short directory.
  int32_t amaSetting = -1;
  int c = std::fseek(file, 3, SEEK_SET) == 0 ? std::fgetc(file) : EOF;
  if (std::ferror(file) || (c == EOF && !std::feof(file))) {
    std::fclose(file);
    LogStreamFailure("hand-off file");
    LogLine("hand-off file: missing (a seek or read failed)");
    return ReportMissingHandoff();
  }
  if (c == '0')
    amaSetting = 1;
  else if (c == '1')
    amaSetting = 0;

  // The install directory runs from offset 6 to the first CR or the end of
  // the file. A directory that does not fit is never used cut short: the
  // read fails and the previous values stay.
  char installDir[sizeof(g_installDir)];
  size_t length = 0;
  if (std::fseek(file, 6, SEEK_SET) != 0) {
    std::fclose(file);
    LogStreamFailure("hand-off file");
    LogLine("hand-off file: missing (a seek or read failed)");
    return ReportMissingHandoff();
  }
  while ((c = std::fgetc(file)) != EOF && c != '\r') {
    if (length + 1 >= sizeof(installDir)) {
      std::fclose(file);
      LogLine("hand-off file: unusable directory (longer than %u characters)",
              static_cast<unsigned>(sizeof(installDir) - 1));
      return -1;
    }
    installDir[length++] = static_cast<char>(c);
  }
  installDir[length] = '\0';
  const bool readWhole = !std::ferror(file);
  std::fclose(file);
  if (!readWhole) {
    LogStreamFailure("hand-off file");
    LogLine("hand-off file: missing (a seek or read failed)");
    return ReportMissingHandoff();
  }

  std::memcpy(g_installDir, installDir, length + 1);
  g_amaSetting = amaSetting;
  if (LogIsOpen()) {
    char shown[4 * sizeof(g_installDir)];
    EscapeBytes(shown, sizeof(shown), g_installDir, length);
    LogLine("hand-off file: report, AMA %d, install directory \"%s\"",
            static_cast<int>(g_amaSetting), shown);
  }
  return 0;
}

int CheckInstallDir() {
  if (IsUsableInstallDir(g_installDir))
    return 0;
  if (LogIsOpen()) {
    char shown[4 * sizeof(g_installDir)];
    EscapeBytes(shown, sizeof(shown), g_installDir, std::strlen(g_installDir));
    LogLine("install directory \"%s\": unusable directory (not absolute, "
            "or holding control characters)",
            shown);
  }
  const int result = ReportMissingHandoff();
  g_installStatus = result;
  return result;
}

// The last-write time of the file `name` as the file system stores it;
// false when the file cannot be opened or its time cannot be read.
static bool GetWriteTime(const char *name, FILETIME *writeTime) {
  HANDLE file =
      CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    LogLine("CreateFileA \"%s\" for its write time: failed, error %u", name,
            static_cast<unsigned>(GetLastError()));
    return false;
  }
  BOOL read = GetFileTime(file, nullptr, nullptr, writeTime);
  if (read == FALSE)
    LogLine("GetFileTime \"%s\": failed, error %u", name,
            static_cast<unsigned>(GetLastError()));
  CloseHandle(file);
  return read != FALSE;
}

// Marks a hand-off file that is already there, so that afterwards a file the
// next sibling program did not write can be told from one it wrote: its
// last-write time becomes one day before now, which a write of the file does
// not give (a write stamps the current time, a copy its source's time, and
// neither is a mark of ours), and `mark` receives the time as the file system
// stored it (FAT keeps two seconds). Returns false, and the file is read
// afterwards whatever it holds, when there is no file or the mark cannot be set
// or read back (a read-only file, one held by another program, a file system
// without settable times).
static bool MarkHandoffFile(const char *name, FILETIME *mark) {
  SYSTEMTIME now;
  FILETIME nowTime;
  GetSystemTime(&now);
  if (!SystemTimeToFileTime(&now, &nowTime))
    return false;
  // One day in 100-nanosecond intervals.
  const unsigned long long day = 864000000000ULL;
  unsigned long long ticks =
      (static_cast<unsigned long long>(nowTime.dwHighDateTime) << 32) |
      nowTime.dwLowDateTime;
  if (ticks < day)
    return false;
  ticks -= day;
  FILETIME wanted;
  wanted.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFULL);
  wanted.dwHighDateTime = static_cast<DWORD>(ticks >> 32);

  HANDLE file =
      CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    // Error 2: there is no earlier file, the usual case.
    LogLine("CreateFileA \"%s\" to mark it: failed, error %u", name,
            static_cast<unsigned>(GetLastError()));
    return false;
  }
  BOOL set = SetFileTime(file, nullptr, nullptr, &wanted);
  char outcome[32];
  LogLine("SetFileTime \"%s\" one day back: %s", name,
          CallOutcome(outcome, set != FALSE, GetLastError()));
  CloseHandle(file);
  return set != FALSE && GetWriteTime(name, mark);
}

// True when the file `name` is still there with the write time `mark`: the
// sibling program did not write it.
static bool HandoffFileKeepsMark(const char *name, const FILETIME &mark) {
  FILETIME writeTime;
  return GetWriteTime(name, &writeTime) &&
         writeTime.dwLowDateTime == mark.dwLowDateTime &&
         writeTime.dwHighDateTime == mark.dwHighDateTime;
}

static void LogExitCode(HANDLE process);
static void LogHandoffBytes(bool keptMark);

int RunExternalStep(const char *path) {
  // The command line buffer is writable, as CreateProcessA requires; a path
  // that does not fit it is a program that cannot be started.
  char commandLine[256] = "";
  static char emptyText[] = "";

  STARTUPINFOA startupInfo;
  std::memset(&startupInfo, 0, sizeof(startupInfo));
  startupInfo.cb = sizeof(startupInfo);
  startupInfo.lpReserved = nullptr;
  startupInfo.lpDesktop = emptyText;
  startupInfo.lpTitle = emptyText;
  startupInfo.dwFlags = STARTF_USESHOWWINDOW;
  startupInfo.wShowWindow = SW_SHOW;
  startupInfo.cbReserved2 = 0;
  startupInfo.lpReserved2 = nullptr;

  PROCESS_INFORMATION processInfo;
  std::memset(&processInfo, 0, sizeof(processInfo));

  // A hand-off file from before this program (an earlier run's, or the one
  // the previous program left) is marked, not removed: the program may read
  // it. The program is named exactly: without an application name the
  // system would search the unquoted path and, for C:\Program Files\...,
  // start C:\Program.exe first. Its command line stays the bare path.
  char handoffName[HANDOFF_NAME_SIZE];
  FILETIME mark = {0, 0};
  bool marked = false;
  bool started = path != nullptr && CopyText(commandLine, path);
  if (started) {
    marked = GetHandoffFileName(handoffName, sizeof(handoffName)) &&
             MarkHandoffFile(handoffName, &mark);
    // While the program runs, its windows (a question, its progress) must
    // be able to come above the backdrop; the backdrop is topmost again
    // before anything else is shown or read.
    LetSiblingWindowsAbove();
    started =
        CreateProcessA(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startupInfo, &processInfo) != FALSE;
    char outcome[32];
    LogLine("CreateProcessA \"%s\": %s", path,
            CallOutcome(outcome, started, GetLastError()));
    if (!started)
      KeepBackdropOnTop();
  } else {
    LogLine("CreateProcessA not called: the program's path does not fit "
            "%u characters",
            static_cast<unsigned>(sizeof(commandLine) - 1));
  }
  if (!started) {
    const int shown =
        MessageBoxA(g_installHostWindow, "Can not find Resource file.",
                    "Installation Error", MB_TOPMOST | MB_ICONERROR);
    LogLine("message \"Can not find Resource file.\": %s",
            shown != 0 ? "shown" : "not shown (MessageBoxA returned 0)");
    g_installStatus = -1;
    return -1;
  }

  const DWORD waited = WaitForSingleObject(processInfo.hThread, INFINITE);
  if (LogIsOpen()) {
    const DWORD waitError = GetLastError();
    LogLine("WaitForSingleObject on the program's thread: result %u%s",
            static_cast<unsigned>(waited),
            waited == WAIT_FAILED ? ", failed" : "");
    if (waited == WAIT_FAILED)
      LogLine("WaitForSingleObject error %u", static_cast<unsigned>(waitError));
    LogExitCode(processInfo.hProcess);
  }
  CloseHandle(processInfo.hThread);
  CloseHandle(processInfo.hProcess);
  KeepBackdropOnTop();

  // A file that still carries the mark is the one that was there before the
  // program ran: the program left no report, which counts as no file. A wait
  // that failed leaves the program's end unknown: what the file holds may be
  // half written, so it is no report either.
  const bool kept = marked && HandoffFileKeepsMark(handoffName, mark);
  if (LogIsOpen()) {
    LogHandoffBytes(kept);
    if (kept)
      LogLine("hand-off file: missing (the program did not write it)");
    else if (waited == WAIT_FAILED)
      LogLine("hand-off file: missing (the wait for the program failed)");
  }
  int result = waited == WAIT_FAILED || kept ? ReportMissingHandoff()
                                             : ReadHandoffFile();
  g_installStatus = result;
  return result;
}

// The sibling program's exit code, for the log: the setup itself judges the
// program by its hand-off file alone.
static void LogExitCode(HANDLE process) {
  DWORD exitCode = 0;
  if (GetExitCodeProcess(process, &exitCode))
    LogLine("GetExitCodeProcess: ok, exit code %u%s",
            static_cast<unsigned>(exitCode),
            exitCode == STILL_ACTIVE ? " (still running)" : "");
  else
    LogLine("GetExitCodeProcess: failed, error %u",
            static_cast<unsigned>(GetLastError()));
}

// The hand-off file as the program left it, for the log: whether it still
// carries the mark, its size and its first bytes, control characters
// escaped.
static void LogHandoffBytes(bool keptMark) {
  char name[HANDOFF_NAME_SIZE];
  FILE *file = nullptr;
  if (GetHandoffFileName(name, sizeof(name)))
    file = std::fopen(name, "rb");
  if (file == nullptr) {
    LogLine("hand-off file \"%s\": none", name);
    LogStreamFailure("hand-off file for the log");
    return;
  }
  // A hand-off file is 263 bytes at most when sound; what is beyond shows
  // what else the program wrote.
  unsigned char bytes[512];
  const size_t count = std::fread(bytes, 1, sizeof(bytes), file);
  long size = -1;
  if (!std::ferror(file) && std::fseek(file, 0, SEEK_END) == 0)
    size = std::ftell(file);
  else
    LogStreamFailure("hand-off file for the log");
  std::fclose(file);
  char shown[4 * sizeof(bytes) + 1];
  EscapeBytes(shown, sizeof(shown), bytes, count);
  LogLine("hand-off file \"%s\", %d bytes, %s: %s", name,
          static_cast<int>(size),
          keptMark ? "still carries the mark (the program left no report)"
                   : "not the marked one",
          shown);
}

// The worker runs on its own thread, and the backdrop belongs to the
// user-interface thread: the send returns only once the host has acted.
void LetSiblingWindowsAbove() {
  if (g_installHostWindow != nullptr)
    SendMessageA(g_installHostWindow, WM_SIBLING_STARTING, 0, 0);
}

void KeepBackdropOnTop() {
  if (g_installHostWindow != nullptr)
    SendMessageA(g_installHostWindow, WM_SIBLING_ENDED, 0, 0);
}
