// Fuzz target: the command line, as GetSourceDir cuts the media folder from
// it. The input is the whole command line (up to its first zero byte).
//
// Invariants: g_sourceDir is terminated within its 256 bytes; it is either the
// whole folder (the text after an opening quote less its last character, cut
// at the last backslash) or, when that folder does not fit, empty with the
// too-long mark set; never a cut folder.
#include <string>

#include "engine/external_steps.h"
#include "fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string commandLine(reinterpret_cast<const char *>(data), size);
  commandLine = commandLine.substr(0, commandLine.find('\0'));
  fuzzmachine::ResetMachine();
  standin::setCommandLine(commandLine);
  std::memset(g_sourceDir, 'x', sizeof(g_sourceDir));
  g_sourceDirTooLong = false;

  GetSourceDir();

  std::string text = commandLine;
  if (!text.empty() && text[0] == '"') {
    text.erase(0, 1);
    if (!text.empty())
      text.pop_back();
  }
  size_t slash = text.rfind('\\');
  std::string folder = slash == std::string::npos ? "" : text.substr(0, slash);

  FUZZ_CHECK(fuzzmachine::IsTerminated(g_sourceDir),
             fuzzmachine::Visible(commandLine));
  if (folder.size() <= 255) {
    FUZZ_CHECK(!g_sourceDirTooLong && folder == g_sourceDir,
               fuzzmachine::Visible(commandLine));
  } else {
    FUZZ_CHECK(g_sourceDirTooLong && g_sourceDir[0] == '\0',
               fuzzmachine::Visible(commandLine));
  }
  return 0;
}
