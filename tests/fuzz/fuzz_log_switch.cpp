// Fuzz target: the /LOG switch on the command line that GetCommandLineA
// gives, which anyone who starts the setup writes. The input is the command
// line up to its first zero byte, in a buffer of exactly its size.
//
// Invariants: the name buffer is terminated within its 256 bytes; without a
// name (no switch, or /LOG alone) it is empty; a name found is a piece of
// the command line that stands right after "/LOG=" or "/LOG=\"" (the letters
// in any case), whole when it fits, its first 255 characters when it does
// not.
#include <memory>
#include <string>

#include "fuzz_machine.h"
#include "state/install_log.h"

static bool IsSwitchBefore(const std::string &line, size_t at) {
  static const char name[] = "/log=";
  if (at < 5)
    return false;
  for (size_t i = 0; i < 5; ++i) {
    char c = line[at - 5 + i];
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
    if (c != name[i])
      return false;
  }
  return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string line(reinterpret_cast<const char *>(data), size);
  line = line.substr(0, line.find('\0'));
  // Exactly the line and its terminator: a read past it is a heap overflow.
  std::unique_ptr<char[]> buffer(new char[line.size() + 1]);
  std::memcpy(buffer.get(), line.c_str(), line.size() + 1);
  char path[LOG_PATH_SIZE];
  std::memset(path, 'z', sizeof(path));

  const LogSwitch found = FindLogSwitch(buffer.get(), path);

  const std::string shown = fuzzmachine::Visible(line);
  FUZZ_CHECK(fuzzmachine::IsTerminated(path), shown);
  const std::string name = path;
  if (found == kLogSwitchAbsent || found == kLogSwitchDefault) {
    FUZZ_CHECK(name.empty(), shown);
    return 0;
  }
  FUZZ_CHECK(found == kLogSwitchFile || found == kLogSwitchTooLong, shown);
  FUZZ_CHECK(!name.empty(), shown);
  FUZZ_CHECK(found == kLogSwitchFile ? name.size() <= LOG_PATH_SIZE - 1
                                     : name.size() == LOG_PATH_SIZE - 1,
             shown);
  bool piece = false;
  for (size_t at = line.find(name); at != std::string::npos && !piece;
       at = line.find(name, at + 1)) {
    const bool quoted = at > 0 && line[at - 1] == '"';
    piece =
        IsSwitchBefore(line, at) || (quoted && IsSwitchBefore(line, at - 1));
    // A name that fits ends where its argument or its quotes end.
    if (piece && found == kLogSwitchFile) {
      const char after = line.c_str()[at + name.size()];
      piece = quoted ? after == '"' || after == '\0'
                     : after == ' ' || after == '\t' || after == '\0';
    }
  }
  FUZZ_CHECK(piece, shown + " -> " + fuzzmachine::Visible(name));
  return 0;
}
