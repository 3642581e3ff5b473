// The stand-in machine shared by the fuzz targets, and the invariants they
// check on what the program leaves behind: registry values whose sizes match
// the bytes written, Program Manager commands that are well formed, and texts
// that fit their buffers.
//
// A broken invariant prints what broke and aborts, so libFuzzer keeps the
// input that broke it as a crash.
#ifndef TESTS_FUZZ_FUZZ_MACHINE_H
#define TESTS_FUZZ_FUZZ_MACHINE_H

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "standin/dde.h"
#include "standin/journal.h"
#include "standin/kernel.h"
#include "standin/registry.h"
#include "standin/reset.h"
#include "standin/security.h"
#include "standin/user.h"
#include "state/install_state.h"

namespace fuzzmachine {

[[noreturn]] inline void Fail(const char *what, const std::string &detail) {
  std::fprintf(stderr, "invariant broken: %s\n  %s\n", what, detail.c_str());
  std::fflush(stderr);
  std::abort();
}

#define FUZZ_CHECK(condition, detail)                                          \
  do {                                                                         \
    if (!(condition))                                                          \
      ::fuzzmachine::Fail(#condition, (detail));                               \
  } while (0)

// Shows bytes with everything outside printable ASCII as \xNN.
inline std::string Visible(const std::string &bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

// The private folder of this process, removed with everything in it when
// the process ends normally (a failed run leaves it for a look).
inline char *WorkFolder() {
  static char name[] = "/tmp/merrik-fuzz-XXXXXX";
  return name;
}

inline void RemoveWorkFolder() {
  std::error_code error;
  std::filesystem::remove_all(WorkFolder(), error);
}

// Every target works in a private folder of its own, made once per process:
// all file names the program composes are relative to it, so that no input
// can name a file outside it.
inline void EnterWorkFolder() {
  static bool entered = false;
  if (entered)
    return;
  if (mkdtemp(WorkFolder()) == nullptr || chdir(WorkFolder()) != 0)
    Fail("work folder", WorkFolder());
  std::atexit(RemoveWorkFolder);
  entered = true;
}

// Makes every folder above the host file `path` (names split at '/').
inline void MakeParentFolders(const std::string &path) {
  for (size_t slash = path.find('/'); slash != std::string::npos;
       slash = path.find('/', slash + 1))
    mkdir(path.substr(0, slash).c_str(), 0700);
}

inline void StoreBytes(const std::string &path, const std::string &bytes) {
  MakeParentFolders(path);
  FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr)
    Fail("file cannot be written", path);
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

// A fresh machine: every stand-in module reset, Windows 95, sleeps only
// recorded, message boxes answered with their default button.
inline void ResetMachine() {
  EnterWorkFolder();
  standin::waitForThreads(10000);
  standin::resetAll();
  standin::setSleepRecordOnly(true);
  standin::setVersion(0xC0000004);
  g_installStatus = 0;
  g_changeCount = 0;
  g_exitCode = 1603;
  g_customMode = 0;
  g_platform = 1;
}

// A text buffer holds a terminator within its size.
template <size_t N> inline bool IsTerminated(const char (&buffer)[N]) {
  return std::memchr(buffer, '\0', N) != nullptr;
}

// A Program Manager command as it must reach the server: at most 255
// characters, a bracketed command ending in ")]", double quotes paired, and
// brackets and parentheses balanced outside the quotes.
inline bool IsWellFormedCommand(const std::string &command) {
  if (command.size() < 4 || command.size() > 255 || command[0] != '[' ||
      command.compare(command.size() - 2, 2, ")]") != 0)
    return false;
  int brackets = 0, parentheses = 0;
  bool quoted = false;
  for (char c : command) {
    if (c == '"')
      quoted = !quoted;
    else if (quoted)
      continue;
    else if (c == '[')
      ++brackets;
    else if (c == ']' && --brackets < 0)
      return false;
    else if (c == '(')
      ++parentheses;
    else if (c == ')' && --parentheses < 0)
      return false;
  }
  return !quoted && brackets == 0 && parentheses == 0;
}

// Every execute transaction carries one well-formed command and its
// terminating zero, and nothing else. Returns the commands in order.
inline std::vector<std::string> CheckDdeCommands() {
  std::vector<std::string> commands;
  for (const standin::DdeTransaction &t : standin::ddeTransactions()) {
    std::string bytes(t.bytes.begin(), t.bytes.end());
    FUZZ_CHECK(t.cbData == bytes.size() && !bytes.empty(), Visible(bytes));
    FUZZ_CHECK(bytes.find('\0') == bytes.size() - 1, Visible(bytes));
    bytes.pop_back();
    FUZZ_CHECK(IsWellFormedCommand(bytes), Visible(bytes));
    commands.push_back(bytes);
  }
  return commands;
}

// Parses a journal entry `RegSetValueExA <key> "<name>" type=<t> size=<n> ->
// <status>`; false for any other entry.
inline bool ParseSetValue(const std::string &entry, std::string *value,
                          unsigned long *type, unsigned long *size,
                          long *status) {
  static const char head[] = "RegSetValueExA ";
  if (entry.compare(0, sizeof(head) - 1, head) != 0)
    return false;
  size_t typeAt = entry.rfind(" type=");
  size_t quoteOpen = entry.find(" \"", sizeof(head) - 2);
  if (typeAt == std::string::npos || quoteOpen == std::string::npos ||
      quoteOpen >= typeAt)
    return false;
  std::string key =
      entry.substr(sizeof(head) - 1, quoteOpen - sizeof(head) + 1);
  std::string name = entry.substr(quoteOpen + 2, typeAt - quoteOpen - 3);
  *value = key + ":" + name;
  return std::sscanf(entry.c_str() + typeAt, " type=%lu size=%lu -> %ld", type,
                     size, status) == 3;
}

// Every value the program wrote holds exactly as many bytes as it passed, with
// the type it passed; a text value ends in its terminating zero.
// Returns the number of values written.
inline int CheckRegistrySizes() {
  std::map<std::string, std::pair<unsigned long, unsigned long>> written;
  for (const std::string &entry : standin::regJournal()) {
    std::string value;
    unsigned long type = 0, size = 0;
    long status = -1;
    if (ParseSetValue(entry, &value, &type, &size, &status) && status == 0)
      written[value] = {type, size};
  }
  for (const auto &w : written) {
    size_t colon = w.first.rfind(':');
    auto stored =
        standin::regValue(w.first.substr(0, colon), w.first.substr(colon + 1));
    FUZZ_CHECK(stored.has_value(), w.first);
    FUZZ_CHECK(stored->type == w.second.first, w.first);
    FUZZ_CHECK(stored->data.size() == w.second.second, w.first);
    if (stored->type == REG_SZ)
      FUZZ_CHECK(!stored->data.empty() && stored->data.back() == 0, w.first);
  }
  return static_cast<int>(written.size());
}

// Registry calls that change something (create, set, delete).
inline int RegistryWrites() {
  int writes = 0;
  for (const std::string &entry : standin::regJournal())
    if (entry.compare(0, 13, "RegCreateKeyA") == 0 ||
        entry.compare(0, 14, "RegSetValueExA") == 0 ||
        entry.compare(0, 11, "RegDeleteKe") == 0 ||
        entry.compare(0, 14, "RegDeleteValue") == 0)
      ++writes;
  return writes;
}

} // namespace fuzzmachine

#endif
