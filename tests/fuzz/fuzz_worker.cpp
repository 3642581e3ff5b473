// Fuzz target: one whole worker run (InstallWorker), fed with the hand-off
// files, default.cfg and setup.log, with an install directory of any length
// (relative below 4 characters);
// after a failure the rollback runs as the status timer would run it.
//
// Input: byte 0 flags (bit 0 Custom mode, bit 1 Windows NT, bit 2 the success
// prompt is cancelled); bytes 1-2 the install directory's length (little
// endian, below 700); bytes 3-4 the status and AMA characters that the
// pre-setup and configuration programs leave; bytes 5-6 the length of
// default.cfg, whose bytes follow; the rest is setup.log.
//
// Invariants: the run ends in success or failure; every program started is
// named whole; a failure has written nothing to the registry and sent no
// command but the group deletion; every value written holds the size written,
// and every composed value is whole or absent; every command is well formed.
#include <string>
#include <vector>

#include "engine/external_steps.h"
#include "engine/install_sequence.h"
#include "engine/rollback.h"
#include "fuzz_machine.h"
#include "import/defaults_file.h"

namespace {

const std::string kProduct = "HKLM\\SOFTWARE\\VKO\\DMI";
const std::string kCurrentVersion =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

// An install directory of exactly `length` characters: from 4 on an
// absolute one, "C:\i" and more, whose host name (relative to the work
// folder) is in parts of at most 100 characters; shorter, a relative one
// (always one character at least), which the setup refuses to use.
std::string FolderOfLength(size_t length) {
  std::string folder = length >= 4 ? "C:\\i" : "i";
  while (folder.size() < length)
    folder += folder.size() % 101 == 100 ? '/' : 'x';
  return folder;
}

unsigned Word(const uint8_t *p) { return p[0] | (p[1] << 8); }

// A composed text value: the whole text, or no value at all.
void ExpectWholeOrAbsent(const std::string &key, const char *name,
                         const std::string &text) {
  auto value = standin::regValue(key, name);
  if (text.size() > 255) {
    FUZZ_CHECK(!value, key + ":" + name + " written for a long text");
    return;
  }
  FUZZ_CHECK(value && value->type == REG_SZ &&
                 std::string(value->data.begin(), value->data.end()) ==
                     text + std::string(1, '\0'),
             key + ":" + name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 7)
    return 0;
  const bool custom = data[0] & 1;
  const bool nt = data[0] & 2;
  const bool cancel = data[0] & 4;
  const std::string installDir = FolderOfLength(Word(data + 1) % 700);
  const char status = static_cast<char>(data[3]);
  const char ama = static_cast<char>(data[4]);
  size_t rest = size - 7;
  const size_t cfgSize = Word(data + 5) < rest ? Word(data + 5) : rest;
  const std::string cfg(reinterpret_cast<const char *>(data + 7), cfgSize);
  const std::string log(reinterpret_cast<const char *>(data + 7 + cfgSize),
                        rest - cfgSize);

  fuzzmachine::ResetMachine();
  standin::setModuleFileName("M\\MERRIK.EXE");
  standin::setWindowsDirectory("W");
  if (nt)
    standin::setVersion(0x05650004);
  g_platform = nt ? 0 : 1;
  g_customMode = custom ? 1 : 0;
  standin::regPutKey(kCurrentVersion + "\\Uninstall");
  standin::regPutKey("HKLM\\SYSTEM\\CurrentControlSet\\Services");
  standin::setMessageBoxResponder([cancel](const standin::MessageBoxCall &box) {
    return (box.flags & MB_OKCANCEL) && cancel ? IDCANCEL : IDOK;
  });

  const std::string handoff = std::string(1, status) + "\r\n" +
                              std::string(1, ama) + "\r\n" + installDir +
                              "\r\n";
  const std::string sondel = "M\\Utility\\Sondel.exe";
  const std::string quillan = "M\\Utility\\Quillan.exe";
  const std::string tessary = installDir + "\\Tessary.exe";
  standin::registerProgram(sondel, [] {
    fuzzmachine::StoreBytes("W\\install.tmp", "1\r\n1\r\nC:\\\r\n");
    return DWORD(0);
  });
  standin::registerProgram(quillan, [&] {
    fuzzmachine::StoreBytes("W\\install.tmp", handoff);
    if (!cfg.empty())
      fuzzmachine::StoreBytes(installDir + "\\default.cfg", cfg);
    fuzzmachine::StoreBytes(installDir + "\\setup.log", log);
    return DWORD(0);
  });
  standin::registerProgram(tessary, [&] {
    fuzzmachine::StoreBytes("W\\install.tmp", handoff);
    return DWORD(0);
  });

  GetSourceDir();
  InstallWorker(nullptr);
  const int32_t outcome = g_installStatus.load();
  std::remove("W\\install.tmp");
  std::remove((installDir + "\\default.cfg").c_str());
  std::remove((installDir + "\\setup.log").c_str());

  const std::string shown = fuzzmachine::Visible(
      std::string(reinterpret_cast<const char *>(data), size < 64 ? size : 64));
  const bool succeeds = status != '0' && installDir.size() >= 4 &&
                        installDir.size() <= 255 &&
                        (!custom || installDir.size() + 12 <= 255) &&
                        cfg.size() >= DEFAULTS_FILE_SIZE;
  FUZZ_CHECK(outcome == (succeeds ? 1 : -1), shown);
  for (const auto &call : standin::createProcessCalls())
    FUZZ_CHECK(call.result && call.commandLine &&
                   (*call.commandLine == sondel ||
                    *call.commandLine == quillan ||
                    (custom && *call.commandLine == tessary)),
               fuzzmachine::Visible(call.commandLine.value_or("(null)")));
  FUZZ_CHECK(fuzzmachine::IsTerminated(g_installDir), shown);
  fuzzmachine::CheckRegistrySizes();
  std::vector<std::string> commands = fuzzmachine::CheckDdeCommands();

  if (outcome == -1) {
    FUZZ_CHECK(fuzzmachine::RegistryWrites() == 0, shown);
    FUZZ_CHECK(commands.empty(), shown);
    // The failure came before any change: the rollback has nothing to undo,
    // and a group of the suite's name is not this run's.
    RollbackInstall();
    commands = fuzzmachine::CheckDdeCommands();
    FUZZ_CHECK(commands.empty(), shown);
    FUZZ_CHECK(fuzzmachine::RegistryWrites() == 0, shown);
    return 0;
  }

  FUZZ_CHECK(installDir == g_installDir, shown);
  ExpectWholeOrAbsent(kProduct, "path", installDir);
  ExpectWholeOrAbsent(kCurrentVersion + "\\Run", "ZEZOroza",
                      installDir + "\\Zezoroza.exe");
  ExpectWholeOrAbsent(kCurrentVersion + "\\Uninstall\\VKO DMI",
                      "UninstallString", installDir + "\\Dovrel.exe");
  // The file list is opened only when its name fits the 256-byte buffer.
  const bool groupMade = installDir.size() + 10 <= 255;
  FUZZ_CHECK(commands.empty() != groupMade, shown);
  if (groupMade)
    FUZZ_CHECK(commands[0] == "[CreateGroup(VKO Halvermont,1)]", shown);
  for (size_t i = 1; i < commands.size(); ++i)
    FUZZ_CHECK(commands[i].compare(0, 10 + installDir.size() + 1,
                                   "[AddItem(\"" + installDir + "\\") == 0,
               fuzzmachine::Visible(commands[i]));
  return 0;
}
