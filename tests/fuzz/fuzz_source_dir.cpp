// Fuzz target: the program's own file name, as GetSourceDir takes the media
// folder from it. Byte 0 picks the code page (odd: 932, Shift-JIS; even:
// 1252); the rest is the name that GetModuleFileNameA reports (up to its
// first zero byte).
//
// Invariants: g_sourceDir is terminated within its 256 bytes; it is either
// the whole folder (the name up to its last backslash that starts a
// character, walked from the start) or, when that folder does not fit or the
// name may have been cut to its buffer, empty with the too-long mark set;
// never a cut folder.
#include <string>

#include "engine/external_steps.h"
#include "fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0)
    return 0;
  const bool shiftJis = data[0] & 1;
  std::string name(reinterpret_cast<const char *>(data + 1), size - 1);
  name = name.substr(0, name.find('\0'));
  fuzzmachine::ResetMachine();
  standin::setCodePage(shiftJis ? 932 : 1252);
  standin::setModuleFileName(name);
  std::memset(g_sourceDir, 'x', sizeof(g_sourceDir));
  g_sourceDirTooLong = false;

  GetSourceDir();

  // The folder, found independently: characters from the start, a Shift-JIS
  // lead byte taking the byte after it along.
  size_t folderEnd = std::string::npos;
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (name[i] == '\\')
      folderEnd = i;
    else if (shiftJis && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)))
      ++i;
  }
  const std::string folder =
      folderEnd == std::string::npos ? "" : name.substr(0, folderEnd);
  const bool whole = !name.empty() && name.size() < MODULE_NAME_SIZE - 1;

  const std::string shown =
      std::string(shiftJis ? "932 " : "1252 ") + fuzzmachine::Visible(name);
  FUZZ_CHECK(fuzzmachine::IsTerminated(g_sourceDir), shown);
  if (whole && folder.size() <= 255) {
    FUZZ_CHECK(!g_sourceDirTooLong && folder == g_sourceDir, shown);
  } else {
    FUZZ_CHECK(g_sourceDirTooLong && g_sourceDir[0] == '\0', shown);
  }
  return 0;
}
