// The setup log: the /LOG switch, the file and its lines.
#include "state/install_log.h"

#include <atomic>
#include <cstring>

#include "runtime/streams.h"

// The open log, or INVALID_HANDLE_VALUE. Set before the worker starts and
// cleared under the lock, so a line from the other thread either goes out
// whole or not at all.
static HANDLE s_logFile = INVALID_HANDLE_VALUE;
static std::atomic<int32_t> s_logOpen{0};
static CRITICAL_SECTION s_logLock;
static bool s_logLockReady = false;
static DWORD s_startTick = 0;
static DWORD s_processId = 0;
// Lines not written: the first that failed and every one after it, as the
// log stops there. What failed first, for the log's last line.
static DWORD s_failedWrites = 0;
static char s_firstFailure[64];
// A failed write left part of a line that could not be cut off again: the
// last line starts on a line of its own.
static bool s_tornLine = false;
// The exit status already written, and the lines not written by then, so
// that the end repeats it only when it changed or lines were lost since.
static bool s_exitLogged = false;
static int32_t s_loggedExit = 0;
static DWORD s_failedAtExit = 0;

// The byte that every writer of a shared log locks while it appends a line:
// past any log's end (a range beyond the end may be locked, and that is how
// appends are coordinated) and below 2 GB, for servers that take 31-bit
// offsets only. LockFile exists on Windows 95 and NT, on local and network
// drives alike; it never waits, so the wait is bounded here: 200 tries 25 ms
// apart, five seconds.
static const DWORD kLockOffset = 0x7FFFFFFF;
static const int kLockTries = 200;
static const DWORD kLockPause = 25;

static char LowerCase(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Copies the text from `from` up to `end` (exclusive) into `path`; false
// when it does not fit, with its first 255 characters stored.
static bool TakeName(char (&path)[LOG_PATH_SIZE], const char *from,
                     const char *end) {
  size_t length = static_cast<size_t>(end - from);
  const bool fits = length < sizeof(path);
  if (!fits)
    length = sizeof(path) - 1;
  std::memcpy(path, from, length);
  path[length] = '\0';
  return fits;
}

LogSwitch FindLogSwitch(const char *commandLine, char (&path)[LOG_PATH_SIZE]) {
  path[0] = '\0';
  if (commandLine == nullptr)
    return kLogSwitchAbsent;
  const char *p = commandLine;
  // The program's name.
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"')
      ++p;
    if (*p == '"')
      ++p;
  }
  while (*p != '\0' && !IsBlank(*p))
    ++p;

  for (;;) {
    while (IsBlank(*p))
      ++p;
    if (*p == '\0')
      return kLogSwitchAbsent;
    const char *argument = p;
    static const char name[] = "/log";
    size_t matched = 0;
    while (matched < 4 && LowerCase(argument[matched]) == name[matched])
      ++matched;
    const char next = argument[matched];
    if (matched == 4 && (next == '\0' || IsBlank(next) || next == '=')) {
      if (next != '=')
        return kLogSwitchDefault;
      const char *from = argument + 5;
      const char *end = from;
      if (*from == '"') {
        end = ++from;
        while (*end != '\0' && *end != '"')
          ++end;
      } else {
        while (*end != '\0' && !IsBlank(*end))
          ++end;
      }
      if (end == from)
        return kLogSwitchDefault;
      return TakeName(path, from, end) ? kLogSwitchFile : kLogSwitchTooLong;
    }
    // Another argument: up to the next blank outside double quotes.
    bool quoted = false;
    while (*p != '\0' && (quoted || !IsBlank(*p))) {
      if (*p == '"')
        quoted = !quoted;
      ++p;
    }
  }
}

bool GetDefaultLogPath(char (&path)[LOG_PATH_SIZE]) {
  static const char file[] = "MERRIK.LOG";
  path[0] = '\0';
  const DWORD length = GetTempPathA(sizeof(path), path);
  if (length == 0 || length >= sizeof(path) ||
      length + sizeof(file) > sizeof(path)) {
    path[0] = '\0';
    return false;
  }
  // The folder's last character, walked as the code page has it: in a
  // double-byte code page a trail byte 0x5C is not a backslash.
  if (*CharPrevA(path, path + length) != '\\') {
    if (length + 1 + sizeof(file) > sizeof(path)) {
      path[0] = '\0';
      return false;
    }
    path[length] = '\\';
    path[length + 1] = '\0';
  }
  std::memcpy(path + std::strlen(path), file, sizeof(file));
  return true;
}

bool LogOpen(const char *path) {
  if (path == nullptr || path[0] == '\0' || s_logOpen.load() != 0)
    return false;
  // Other setups may write the same file at once (one log for every machine
  // of a logon script): each line goes to the end under the file's lock.
  HANDLE file =
      CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  // A file whose end cannot be found is not written at all.
  if (SetFilePointer(file, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
      GetLastError() != ERROR_SUCCESS) {
    CloseHandle(file);
    return false;
  }
  if (!s_logLockReady) {
    InitializeCriticalSection(&s_logLock);
    s_logLockReady = true;
  }
  s_startTick = GetTickCount();
  s_processId = GetCurrentProcessId();
  s_failedWrites = 0;
  s_firstFailure[0] = '\0';
  s_tornLine = false;
  s_exitLogged = false;
  s_logFile = file;
  s_logOpen.store(1);
  return true;
}

bool LogIsOpen() { return s_logOpen.load() != 0; }

// Takes the file's lock, waiting a bounded time for another writer. A file
// system without byte-range locks is written without them; false, with the
// failure noted in `failure`, only while another writer holds the lock.
static bool LockLog(char (&failure)[64]) {
  for (int tries = 1;; ++tries) {
    if (LockFile(s_logFile, kLockOffset, 0, 1, 0))
      return true;
    const DWORD error = GetLastError();
    if (error != ERROR_LOCK_VIOLATION)
      return true;
    if (tries == kLockTries) {
      wsprintfA(failure, "LockFile: still locked after %u ms, error %u",
                static_cast<unsigned>(kLockTries * kLockPause),
                static_cast<unsigned>(error));
      return false;
    }
    Sleep(kLockPause);
  }
}

// Appends `count` bytes of `line` at the end of the file with one WriteFile,
// under the file's lock. A write that ends short is cut off again, so that
// the file keeps whole lines. False, with `failure` saying why, when the
// line is not in the file. Caller holds s_logLock.
static bool AppendWhole(const char *line, DWORD count, char (&failure)[64]) {
  if (!LockLog(failure))
    return false;
  bool whole = false;
  LONG endHigh = 0;
  const DWORD end = SetFilePointer(s_logFile, 0, &endHigh, FILE_END);
  if (end == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) {
    wsprintfA(failure, "SetFilePointer: failed, error %u",
              static_cast<unsigned>(GetLastError()));
  } else {
    DWORD written = 0;
    const BOOL ok = WriteFile(s_logFile, line, count, &written, nullptr);
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    whole = ok != FALSE && written == count;
    if (!whole) {
      wsprintfA(failure, "WriteFile: %u of %u bytes, error %u",
                static_cast<unsigned>(written), static_cast<unsigned>(count),
                static_cast<unsigned>(error));
      if (written != 0) {
        LONG high = endHigh;
        if ((SetFilePointer(s_logFile, static_cast<LONG>(end), &high,
                            FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
             GetLastError() != ERROR_SUCCESS) ||
            !SetEndOfFile(s_logFile))
          s_tornLine = true;
      }
    }
  }
  UnlockFile(s_logFile, kLockOffset, 0, 1, 0);
  return whole;
}

// Writes one line unless the log has stopped; the first line that is not
// written stops it. Caller holds s_logLock.
static void WriteLogLine(const char *line, DWORD count) {
  if (s_failedWrites != 0) {
    ++s_failedWrites;
    return;
  }
  if (!AppendWhole(line, count, s_firstFailure))
    s_failedWrites = 1;
}

// Formats the milliseconds and the process, then `format` with `args`, into
// `line` after `lead` (a line break, or nothing); returns the count of
// bytes, CR LF included.
static DWORD FormatLine(char (&line)[LOG_LINE_SIZE], const char *lead,
                        const char *format, va_list args) {
  char message[LOG_LINE_SIZE];
  const int made = wvsprintfA(message, format, args);
  const size_t length = made > 0 ? static_cast<size_t>(made) : 0;
  const int prefix =
      wsprintfA(line, "%s%7u %08X ", lead, GetTickCount() - s_startTick,
                static_cast<unsigned>(s_processId));
  const size_t start = prefix > 0 ? static_cast<size_t>(prefix) : 0;
  const size_t room = sizeof(line) - start - 2;
  if (length <= room) {
    std::memcpy(line + start, message, length);
    line[start + length] = '\r';
    line[start + length + 1] = '\n';
    return static_cast<DWORD>(start + length + 2);
  }
  // Cut: as much as fits, then "..." to show that more was meant.
  std::memcpy(line + start, message, room - 3);
  std::memcpy(line + start + room - 3, "...\r\n", 5);
  return static_cast<DWORD>(sizeof(line));
}

static DWORD MakeLine(char (&line)[LOG_LINE_SIZE], const char *lead,
                      const char *format, ...) {
  va_list args;
  va_start(args, format);
  const DWORD count = FormatLine(line, lead, format, args);
  va_end(args);
  return count;
}

void LogLine(const char *format, ...) {
  if (s_logOpen.load() == 0 || format == nullptr)
    return;
  const DWORD lastError = GetLastError();
  char line[LOG_LINE_SIZE];
  EnterCriticalSection(&s_logLock);
  if (s_logFile != INVALID_HANDLE_VALUE) {
    va_list args;
    va_start(args, format);
    const DWORD count = FormatLine(line, "", format, args);
    va_end(args);
    WriteLogLine(line, count);
  }
  LeaveCriticalSection(&s_logLock);
  SetLastError(lastError);
}

void LogExitStatus(int32_t exitCode) {
  if (s_logOpen.load() == 0)
    return;
  const DWORD lastError = GetLastError();
  char line[LOG_LINE_SIZE];
  EnterCriticalSection(&s_logLock);
  if (s_logFile != INVALID_HANDLE_VALUE &&
      !(s_exitLogged && s_loggedExit == exitCode &&
        s_failedAtExit == s_failedWrites)) {
    s_exitLogged = true;
    s_loggedExit = exitCode;
    const char *meaning = ExitStatusMeaning(exitCode);
    const DWORD before = s_failedWrites;
    if (before == 0)
      WriteLogLine(line, MakeLine(line, "", "exit status %d: %s",
                                  static_cast<int>(exitCode), meaning));
    if (s_failedWrites != 0) {
      // The log has stopped: one last try, with the status and how many
      // lines before it are missing. It is not counted if it fails too.
      char failure[64];
      if (AppendWhole(line,
                      MakeLine(line, s_tornLine ? "\r\n" : "",
                               "exit status %d: %s; %u lines before it not "
                               "written, the first failure: %s",
                               static_cast<int>(exitCode), meaning,
                               static_cast<unsigned>(before), s_firstFailure),
                      failure))
        s_tornLine = false;
    }
    s_failedAtExit = s_failedWrites;
  }
  LeaveCriticalSection(&s_logLock);
  SetLastError(lastError);
}

void LogClose(int32_t exitCode) {
  if (s_logOpen.load() == 0)
    return;
  LogExitStatus(exitCode);
  EnterCriticalSection(&s_logLock);
  CloseHandle(s_logFile);
  s_logFile = INVALID_HANDLE_VALUE;
  s_logOpen.store(0);
  LeaveCriticalSection(&s_logLock);
}

const char *ExitStatusMeaning(int32_t exitCode) {
  switch (exitCode) {
  case 1641:
    return "installed, restart requested and accepted";
  case 3010:
    return "installed, restart declined or refused by the system";
  case 1602:
    return "the user left the Welcome dialog without installing";
  case 1633:
    return "unsupported Windows version";
  case 1638:
    return "already installed";
  case 1925:
    return "Windows NT, and the user is not an administrator";
  case 1603:
    return "a failure after Install";
  case 1622:
    return "the log file cannot be opened";
  }
  return "unknown";
}

void EscapeBytes(char *out, size_t size, const void *bytes, size_t count) {
  if (out == nullptr || size == 0)
    return;
  static const char hex[] = "0123456789ABCDEF";
  const unsigned char *in = static_cast<const unsigned char *>(bytes);
  size_t used = 0;
  for (size_t i = 0; i < count && in != nullptr; ++i) {
    const unsigned char c = in[i];
    if (c < 0x20 || c == 0x7F) {
      if (used + 4 >= size)
        break;
      out[used++] = '\\';
      out[used++] = 'x';
      out[used++] = hex[c >> 4];
      out[used++] = hex[c & 0xF];
    } else {
      if (used + 1 >= size)
        break;
      out[used++] = static_cast<char>(c);
    }
  }
  out[used] = '\0';
}

unsigned StreamFailureCount() { return rt::LastStreamFailure().count; }

void LogStreamFailure(const char *what) {
  const rt::StreamFailure failure = rt::LastStreamFailure();
  if (failure.call == nullptr)
    LogLine("%s: no platform call of the file streams failed", what);
  else if (failure.error == 0)
    LogLine("%s: %s: failed", what, failure.call);
  else
    LogLine("%s: %s: failed, error %u", what, failure.call,
            static_cast<unsigned>(failure.error));
}

const char *CallOutcome(char (&text)[32], bool ok, DWORD error) {
  text[0] = '\0';
  if (s_logOpen.load() == 0)
    return text;
  if (ok)
    wsprintfA(text, "ok");
  else
    wsprintfA(text, "failed, error %u", static_cast<unsigned>(error));
  return text;
}
