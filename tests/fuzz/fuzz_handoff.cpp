// Fuzz target: the hand-off file install.tmp, read by RunExternalStep after a
// sibling program that leaves the input's bytes there.
//
// Input: byte 0 is the length of the Windows directory (over 240: the sibling
// leaves no file); the rest is the content of install.tmp.
//
// Invariants: the result is 0 or -1 and is the stored status; g_installDir is
// terminated within its 256 bytes and is either the whole path line or, after
// any failure, the previous value, as is g_amaSetting; the one message box
// appears exactly when the file cannot be named or opened or is empty; the
// Windows directory may have at most 187 characters.
#include <string>

#include "engine/external_steps.h"
#include "fuzz_machine.h"

namespace {
const char kPrevious[] = "previous\\install\\dir";
const UINT kErrorFlags = MB_TOPMOST | MB_ICONERROR;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0)
    return 0;
  const size_t windowsLength = data[0];
  const std::string content(reinterpret_cast<const char *>(data + 1), size - 1);
  const std::string windowsDir(windowsLength, 'W');
  const bool leavesFile = windowsLength <= 240;

  fuzzmachine::ResetMachine();
  standin::setWindowsDirectory(windowsDir);
  standin::registerProgram("S.exe", [&]() -> DWORD {
    if (leavesFile)
      fuzzmachine::StoreBytes(windowsDir + "\\install.tmp", content);
    return 0;
  });
  std::memset(g_installDir, 'x', sizeof(g_installDir));
  std::memcpy(g_installDir, kPrevious, sizeof(kPrevious));
  g_amaSetting = 7;

  const int result = RunExternalStep("S.exe");
  std::remove((windowsDir + "\\install.tmp").c_str());

  // What the file says, read independently.
  const bool opens = leavesFile && windowsLength >= 1 && windowsLength <= 187;
  int expected = -1;
  int32_t ama = 7;
  std::string dir = kPrevious;
  // A file without its status character is unusable, as a missing one.
  const bool usable = opens && !content.empty();
  if (usable && content[0] != '0') {
    std::string line = content.size() > 6 ? content.substr(6) : "";
    line = line.substr(0, line.find('\r'));
    if (line.size() <= 255) {
      expected = 0;
      dir = line.substr(0, line.find('\0'));
      ama = -1;
      if (content.size() > 3 && content[3] == '0')
        ama = 1;
      else if (content.size() > 3 && content[3] == '1')
        ama = 0;
    }
  }

  const std::string shown = fuzzmachine::Visible(content);
  FUZZ_CHECK(result == expected && g_installStatus == result, shown);
  FUZZ_CHECK(fuzzmachine::IsTerminated(g_installDir), shown);
  FUZZ_CHECK(dir == g_installDir && ama == g_amaSetting, shown);
  const auto boxes = standin::messageBoxes();
  FUZZ_CHECK(boxes.size() == (usable ? 0u : 1u), shown);
  if (!usable)
    FUZZ_CHECK(boxes[0].text == "Can not open install.tmp file!" &&
                   boxes[0].caption == "Install Error" &&
                   boxes[0].flags == kErrorFlags,
               boxes[0].text);
  return 0;
}
