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
// Lines whose write failed, and the error of the first.
static DWORD s_failedWrites = 0;
static DWORD s_firstWriteError = 0;

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
  if (path[length - 1] != '\\') {
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
  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  // Appending: an earlier run's lines are never overwritten. A file whose
  // end cannot be found is not written at all.
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
  s_failedWrites = 0;
  s_firstWriteError = 0;
  s_logFile = file;
  s_logOpen.store(1);
  return true;
}

bool LogIsOpen() { return s_logOpen.load() != 0; }

// Writes `count` bytes of `line` as one WriteFile. Caller holds the lock.
static void WriteWholeLine(const char *line, DWORD count) {
  DWORD written = 0;
  if (WriteFile(s_logFile, line, count, &written, nullptr) == FALSE ||
      written != count) {
    if (s_failedWrites++ == 0)
      s_firstWriteError = GetLastError();
  }
}

// Formats the milliseconds, then `format` with `args`, into `line`; returns
// the count of bytes, CR LF included.
static DWORD FormatLine(char (&line)[LOG_LINE_SIZE], const char *format,
                        va_list args) {
  char message[LOG_LINE_SIZE];
  const int made = wvsprintfA(message, format, args);
  const size_t length = made > 0 ? static_cast<size_t>(made) : 0;
  const int prefix = wsprintfA(line, "%7u ", GetTickCount() - s_startTick);
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

void LogLine(const char *format, ...) {
  if (s_logOpen.load() == 0 || format == nullptr)
    return;
  const DWORD lastError = GetLastError();
  char line[LOG_LINE_SIZE];
  EnterCriticalSection(&s_logLock);
  if (s_logFile != INVALID_HANDLE_VALUE) {
    va_list args;
    va_start(args, format);
    const DWORD count = FormatLine(line, format, args);
    va_end(args);
    WriteWholeLine(line, count);
  }
  LeaveCriticalSection(&s_logLock);
  SetLastError(lastError);
}

void LogClose(int32_t exitCode) {
  if (s_logOpen.load() == 0)
    return;
  LogLine("exit status %d: %s", static_cast<int>(exitCode),
          ExitStatusMeaning(exitCode));
  EnterCriticalSection(&s_logLock);
  if (s_failedWrites != 0) {
    // The count includes the exit line when that one failed too.
    LogLine("%u lines of this log could not be written (WriteFile error %u)",
            static_cast<unsigned>(s_failedWrites),
            static_cast<unsigned>(s_firstWriteError));
  }
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
