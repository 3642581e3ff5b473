// The setup log that /LOG asks for: plain ANSI text, one event a CR LF line,
// each line starting with the milliseconds since the log was opened. Every
// layer of the setup writes to it; while no log is open every call here
// returns at once and does nothing else, so a run without /LOG is the run it
// always was.
//
// Each line is written whole at the file's end, with one WriteFile under one
// lock that both threads share and under the file's own byte-range lock that
// other setups writing the same file take too, in the order the lines were
// made, and nothing is held back in the process: a restart that ends the
// setup loses no line. Each line names the process that wrote it. A write
// that fails does not stop the installation; it stops the log, whose last
// line says so when it can.
#ifndef STATE_INSTALL_LOG_H
#define STATE_INSTALL_LOG_H

#include <windows.h>

#include <cstddef>
#include <cstdint>

// The log file's name: at most 255 characters.
#define LOG_PATH_SIZE 256
// One line with its CR LF: the most that USER32's formatting gives.
#define LOG_LINE_SIZE 1024

// What FindLogSwitch found on a command line.
enum LogSwitch {
  kLogSwitchAbsent,  // no /LOG: no log
  kLogSwitchDefault, // /LOG alone: MERRIK.LOG in the temporary folder
  kLogSwitchFile,    // /LOG=file: `path` holds the file's name
  kLogSwitchTooLong, // the name does not fit: `path` holds its first 255
                     // characters, for the message
};

// Finds the switch among the arguments of `commandLine`, the whole line that
// GetCommandLineA gives: the program's name (in double quotes or up to the
// first blank) comes first and is never taken for an argument. Arguments are
// separated by blanks or tabs. The switch is "/LOG" in any letter case, alone
// or followed by "=" and the file's name: in double quotes up to the closing
// quote (or the end of the line), otherwise up to the first blank. An empty
// name is /LOG alone. The first such argument counts; an argument that only
// begins with the letters ("/LOGFILE") is not the switch.
LogSwitch FindLogSwitch(const char *commandLine, char (&path)[LOG_PATH_SIZE]);

// The default log's name: MERRIK.LOG in the folder GetTempPathA names. False
// when that folder cannot be had or the name does not fit.
bool GetDefaultLogPath(char (&path)[LOG_PATH_SIZE]);

// Opens `path` for appending, shared with other setups (made when missing,
// never replaced); it writes nothing: the header is LogInstallHeader's. False,
// with no log open, when the file cannot be opened for writing or its end
// cannot be found.
bool LogOpen(const char *path);
// True while a log is open.
bool LogIsOpen();
// Formats one line with USER32's wvsprintfA (the types c d i s u x X of
// 32-bit int and unsigned arguments, no "l": a long is 64 bits in the native
// build) after the milliseconds and the process id (eight hex digits), and
// writes it. A line longer than LOG_LINE_SIZE bytes with its CR LF is cut
// and ends in "...". The system's last error is the same afterwards as
// before.
void LogLine(const char *format, ...);
// Writes the exit status line ("exit status N: meaning"), unless the same
// status is already written and no line was lost since. Once a line could
// not be written the log stops: no further line is written, each is
// counted, and the exit status is tried once more as the last line, with
// the count of lines before it not written and the first failure.
void LogExitStatus(int32_t exitCode);
// Writes the exit status line as LogExitStatus does and closes the log.
void LogClose(int32_t exitCode);

// The meaning of an exit status, as README's table gives it.
const char *ExitStatusMeaning(int32_t exitCode);

// Copies `count` bytes into `out` (`size` bytes, terminator included) as
// text: control characters (below 0x20, and 0x7F) as \xHH, every other byte
// as it is. Stops, still terminated, where the next byte would not fit.
void EscapeBytes(char *out, size_t size, const void *bytes, size_t count);

// The platform call of the file streams that failed last, for the file
// that `what` names: "<what>: <call>: failed, error N" ("HeapAlloc: failed"
// for the heap, which gives no error).
void LogStreamFailure(const char *what);
// How many platform calls of the file streams have failed so far: a call
// that reports nothing (rewind) failed when the count grew.
unsigned StreamFailureCount();

// "ok" or "failed, error N" for a call that reported `ok`; `error` is
// GetLastError read right after the call.
const char *CallOutcome(char (&text)[32], bool ok, DWORD error);

#endif
