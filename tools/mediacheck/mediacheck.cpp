// mediacheck: runs the setup's own install sequence against a media folder
// on the stand-in Win32 layer and reports what the installation would do and
// every rule of the setup that the media breaks.
//
// The setup's code runs unchanged: its sibling programs are in-process
// programs that behave as the media's fixture files say (X.handoff becomes
// the hand-off file, X.files\ is copied into the install directory), its
// registry is the stand-in's in-memory one seeded with the keys a fresh
// Windows has, Program Manager is the stand-in's peer, and its message boxes
// are answered by the checker (Cancel at the success prompt, so no restart).
// No file of the machine is written except in a scratch folder, no registry
// of the machine is touched and no program is started.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "engine/external_steps.h"
#include "engine/install_sequence.h"
#include "engine/rollback.h"
#include "file_map.h"
#include "import/defaults_file.h"
#include "import/file_list.h"
#include "import/program_group.h"
#include "program_check.h"
#include "standin/dde.h"
#include "standin/kernel.h"
#include "standin/regfile.h"
#include "standin/registry.h"
#include "standin/reset.h"
#include "standin/user.h"
#include "state/install_log.h"
#include "state/install_state.h"
#include "system/progman_client.h"

namespace fs = std::filesystem;
using namespace mediacheck;

namespace {

const char kUsage[] =
    "usage: mediacheck MEDIA [--install-dir DIR] [--windows-dir DIR]\n"
    "                  [--platform 95|nt] [--mode express|custom] [--reg "
    "FILE]\n"
    "                  [--log FILE]\n"
    "\n"
    "Runs the setup's own install sequence against the media folder MEDIA,\n"
    "without touching this machine's registry or starting any program, and\n"
    "prints what the installation would do: the programs it runs, the\n"
    "message boxes it shows, the registry changes as REGEDIT4 text, and the\n"
    "Program Manager DDE commands byte for byte. Then it lists every problem\n"
    "of the media, one a line: file, line or offset, what is wrong.\n"
    "\n"
    "The media is taken to be drive D: (the setup runs as D:\\MERRIK.EXE),\n"
    "the Windows directory C:\\WINDOWS. The sibling programs "
    "Utility\\Sondel.exe,\n"
    "Utility\\Quillan.exe and, in Custom mode, Tessary.exe in the install\n"
    "directory must be present; each one that runs leaves the hand-off file\n"
    "given by X.handoff beside it and copies the files of X.files\\ beside it\n"
    "into the install directory (the test and demo media's stand-ins).\n"
    "\n"
    "  --install-dir DIR  host folder holding what the install directory\n"
    "                     would hold (default.cfg, setup.log, Tessary.exe);\n"
    "                     then no X.files\\ folder is copied\n"
    "  --windows-dir DIR  host folder whose install.tmp every sibling\n"
    "                     program leaves, instead of its X.handoff\n"
    "  --platform 95|nt   Windows 95 (default) or Windows NT 4.0\n"
    "  --mode express|custom  Express (default) or Custom mode\n"
    "  --reg FILE         also write the registry changes to FILE, a\n"
    "                     REGEDIT4 file that regedit can import\n"
    "  --log FILE         also append to FILE the log that MERRIK.EXE /LOG\n"
    "                     would write for this run (the setup's own code)\n"
    "  --help             this text\n"
    "\n"
    "Exit status: 0 the media is sound, 1 it has problems, 2 bad usage.\n";

const char kMediaDrive[] = "D:";
const char kWindowsDir[] = "C:\\WINDOWS";

struct Options {
  std::string media;
  std::string installDir;
  std::string windowsDir;
  bool windowsNt = false;
  bool custom = false;
  std::string regFile;
  std::string logFile;
};

// A hand-off file that a sibling program left, and where its bytes came
// from.
struct Handoff {
  std::string origin;
  std::string bytes;
};

Options options;
std::string scratch;
std::vector<std::string> problems;
std::mutex runMutex; // the sibling programs run on stand-in threads
std::vector<Handoff> handoffs;
std::map<std::string, std::string> installOrigins; // lower-case name -> file
int installFolders = 0;

std::string Lower(std::string text) {
  for (char &c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

void Problem(const std::string &file, const std::string &where,
             const std::string &what) {
  std::lock_guard<std::mutex> lock(runMutex);
  problems.push_back(file + ": " + where + ": " + what);
}

std::string Offset(size_t offset) { return "offset " + std::to_string(offset); }

bool ReadHostFile(const std::string &path, std::string &bytes) {
  std::error_code error;
  if (path.empty() || !fs::is_regular_file(path, error))
    return false;
  FILE *file = OpenHostFile(path, "rb");
  if (file == nullptr)
    return false;
  bytes.clear();
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0)
    bytes.append(buffer, n);
  bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

bool WriteHostFile(const std::string &path, const std::string &bytes) {
  FILE *file = OpenHostFile(path, "wb");
  if (file == nullptr)
    return false;
  bool written =
      std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

// The install directory of a hand-off file: offset 6 up to the first CR.
std::string HandoffDirectory(const std::string &bytes) {
  if (bytes.size() <= 6)
    return std::string();
  size_t end = bytes.find('\r', 6);
  return bytes.substr(6,
                      end == std::string::npos ? std::string::npos : end - 6);
}

// Where a file of the install directory came from, for problem lines: the
// file of --install-dir or of the media that was copied there; otherwise
// its Windows path.
std::string InstallOrigin(const std::string &name) {
  if (!options.installDir.empty())
    return JoinHostPath(options.installDir, name);
  std::lock_guard<std::mutex> lock(runMutex);
  auto it = installOrigins.find(Lower(name));
  return it != installOrigins.end() ? it->second
                                    : std::string(g_installDir) + "\\" + name;
}

DWORD RunSibling(const std::string &windowsPath);

// Makes `windowsPath` an in-process program when its file is present.
void RegisterSibling(const std::string &windowsPath) {
  std::string host = HostPath(windowsPath);
  std::error_code error;
  if (!host.empty() && fs::is_regular_file(host, error))
    standin::registerProgram(windowsPath,
                             [windowsPath] { return RunSibling(windowsPath); });
}

// A sibling program as the media's fixture files describe it.
DWORD RunSibling(const std::string &windowsPath) {
  const std::string host = HostPath(windowsPath);
  std::string base = host;
  size_t dot = base.rfind('.');
  if (dot != std::string::npos && base.find('/', dot) == std::string::npos)
    base.erase(dot);

  Handoff handoff;
  const std::string file =
      options.windowsDir.empty()
          ? base + ".handoff"
          : JoinHostPath(options.windowsDir, "install.tmp");
  handoff.origin = file;
  // A program in the install directory was copied there from the media.
  if (file.rfind(scratch + "/", 0) == 0)
    handoff.origin = InstallOrigin(file.substr(file.rfind('/') + 1));
  if (!ReadHostFile(file, handoff.bytes)) {
    Problem(handoff.origin, Offset(0),
            "missing: " + windowsPath + " leaves no hand-off file");
    return 0;
  }
  WriteHostFile(HostPath(std::string(kWindowsDir) + "\\install.tmp"),
                handoff.bytes);
  {
    std::lock_guard<std::mutex> lock(runMutex);
    handoffs.push_back(handoff);
  }

  const std::string directory = HandoffDirectory(handoff.bytes);
  if (directory.empty() || directory.size() > 255)
    return 0;
  if (!IsMapped(directory)) {
    std::string folder = options.installDir;
    if (folder.empty()) {
      std::lock_guard<std::mutex> lock(runMutex);
      folder = scratch + "/install-" + std::to_string(++installFolders);
    }
    std::error_code error;
    fs::create_directories(folder, error);
    MapFolder(directory, folder);
  }
  // The fixture's files go into the install directory, unless the caller
  // named a folder that stands for it; only ever into the scratch folder (an
  // install directory that names the media itself gets no copies).
  std::error_code error;
  const std::string target = HostPath(directory);
  if (options.installDir.empty() && target.rfind(scratch + "/", 0) == 0 &&
      fs::is_directory(base + ".files", error)) {
    for (const auto &entry : fs::directory_iterator(base + ".files", error)) {
      if (!entry.is_regular_file(error))
        continue;
      std::string name = entry.path().filename().string();
      fs::copy_file(entry.path(), target + "/" + name,
                    fs::copy_options::overwrite_existing, error);
      std::lock_guard<std::mutex> lock(runMutex);
      installOrigins[Lower(name)] = base + ".files/" + name;
    }
  }
  RegisterSibling(directory + "\\Tessary.exe");
  return 0;
}

// The keys that every fresh Windows 95 / NT 4.0 holds and that the setup
// opens without creating them.
void SeedRegistry() {
  standin::regPutKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\"
                     "CurrentVersion\\Run");
  standin::regPutKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\"
                     "CurrentVersion\\RunOnce");
  standin::regPutKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\"
                     "CurrentVersion\\Uninstall");
  standin::regPutKey("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services");
}

// The keys and values of `after` that `before` does not hold or holds with
// other contents.
std::vector<standin::RegFileKey>
RegistryChanges(const std::vector<standin::RegFileKey> &before,
                const std::vector<standin::RegFileKey> &after) {
  std::vector<standin::RegFileKey> changes;
  for (const standin::RegFileKey &key : after) {
    const standin::RegFileKey *old = standin::findRegKey(before, key.path);
    standin::RegFileKey changed{key.path, {}};
    for (const standin::RegFileValue &value : key.values) {
      const standin::RegFileValue *was =
          old != nullptr ? standin::findRegValue(*old, value.name) : nullptr;
      if (was == nullptr || was->type != value.type || was->data != value.data)
        changed.values.push_back(value);
    }
    if (old == nullptr || !changed.values.empty())
      changes.push_back(changed);
  }
  return changes;
}

// Bytes as text: printable characters as they are, others as \xNN.
std::string Shown(const std::string &bytes) {
  std::string out;
  char hex[8];
  for (unsigned char c : bytes) {
    if (c < 0x20 || c == 0x7F) {
      std::snprintf(hex, sizeof(hex), "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// The program Windows tries first for an unquoted command line holding a
// blank.
std::string FirstSearched(const std::string &path) {
  return path.substr(0, path.find(' ')) + ".exe";
}

// The rules of the hand-off files the run read: the status character and
// line ends of each; the AMA character and the install directory of the
// last one that reported success, which every later step builds on.
void CheckHandoffs() {
  const Handoff *last = nullptr;
  for (const Handoff &h : handoffs) {
    const std::string &b = h.bytes;
    if (b.empty()) {
      Problem(h.origin, Offset(0),
              "empty: without its status character the setup takes the "
              "hand-off file as unusable (\"Can not open install.tmp "
              "file!\") and the installation stops");
      continue;
    }
    if (b[0] == '0') {
      Problem(h.origin, Offset(0),
              "status character \"0\": the program reports failure and the "
              "installation stops");
      continue;
    }
    last = &h;
    if (b.size() < 6) {
      Problem(h.origin, Offset(b.size()),
              "the file ends before the install directory line");
      continue;
    }
    if (b.compare(1, 2, "\r\n") != 0)
      Problem(h.origin, Offset(1), "the status line does not end in CR LF");
    if (b.compare(4, 2, "\r\n") != 0)
      Problem(h.origin, Offset(4), "the AMA line does not end in CR LF");
  }
  if (last == nullptr)
    return;
  const std::string &b = last->bytes;
  const std::string &origin = last->origin;
  if (b.size() < 4 || (b[3] != '0' && b[3] != '1'))
    Problem(origin, Offset(3),
            "the AMA character is neither \"0\" nor \"1\": AMA is stored as "
            "0xFFFFFFFF");
  // The pre-install test's directory is never used: with no later hand-off
  // file the run stopped before any use.
  if (last == &handoffs.front())
    return;
  std::string directory = HandoffDirectory(b);
  const std::string unusable = ": the setup takes the hand-off file as "
                               "unusable and the installation fails";
  if (directory.empty()) {
    Problem(origin, Offset(6), "no install directory" + unusable);
    return;
  }
  if (directory.size() > 255) {
    Problem(origin, Offset(6),
            "the install directory is " + std::to_string(directory.size()) +
                " characters, over 255: the setup cannot read it");
    return;
  }
  // The setup's own rule for a directory it starts a program from or
  // registers: absolute and free of control characters.
  size_t control = 0;
  while (control < directory.size() &&
         static_cast<unsigned char>(directory[control]) >= 0x20 &&
         directory[control] != 0x7F)
    ++control;
  if (control < directory.size()) {
    char hex[8];
    std::snprintf(hex, sizeof(hex), "\\x%02X",
                  static_cast<unsigned char>(directory[control]));
    Problem(origin, Offset(6 + control),
            (directory[control] == '\n'
                 ? std::string("the install directory holds a line feed "
                               "(only a CR ends it)")
                 : "the install directory holds the control character " +
                       std::string(hex)) +
                unusable);
  } else if (!IsUsableInstallDir(directory.c_str())) {
    Problem(origin, Offset(6),
            "the install directory \"" + directory +
                "\" is not absolute (a drive letter, a colon and a "
                "backslash, or \\\\server\\share\\)" +
                unusable);
  }
  struct Composed {
    const char *file;
    const char *use;
  };
  const Composed composed[] = {
      {"\\Tessary.exe", "the configuration program cannot be started"},
      {"\\setup.log", "no program group is made"},
      {"\\Zezoroza.exe", "no start-up entry is written"},
      {"\\Dovrel.exe", "no uninstall command is written"},
  };
  // The start-up and uninstall commands are stored in double quotes when
  // the directory holds a blank.
  const bool quoted = directory.find(' ') != std::string::npos;
  for (const Composed &c : composed) {
    if (!options.custom && std::strcmp(c.file, "\\Tessary.exe") == 0)
      continue;
    const bool command = std::strcmp(c.file, "\\Zezoroza.exe") == 0 ||
                         std::strcmp(c.file, "\\Dovrel.exe") == 0;
    const bool inQuotes = command && quoted;
    size_t length = directory.size() + std::strlen(c.file) + (inQuotes ? 2 : 0);
    if (length > 255)
      Problem(
          origin, Offset(6),
          std::string(inQuotes ? "the quoted command of " : "the path of ") +
              (c.file + 1) + " is " + std::to_string(length) +
              " characters, over 255: " + c.use);
  }
}

void CheckDefaults() {
  const std::string origin = InstallOrigin("default.cfg");
  std::string bytes;
  if (!ReadHostFile(HostPath(std::string(g_installDir) + "\\default.cfg"),
                    bytes)) {
    Problem(origin, Offset(0),
            "missing: \"Can not Open default.cfg file!\", the installation "
            "fails");
    return;
  }
  if (bytes.size() < DEFAULTS_FILE_SIZE) {
    Problem(origin, Offset(bytes.size()),
            "the file ends after " + std::to_string(bytes.size()) +
                " bytes; the setup needs at least 1291");
    return;
  }
  const size_t fields[] = {260, 277};
  const char *names[] = {"ChipSet", "MaxSpeed"};
  for (int i = 0; i < 2; ++i) {
    unsigned length = static_cast<unsigned char>(bytes[fields[i]]);
    if (length > 16)
      Problem(origin, Offset(fields[i]),
              std::string("the length byte of ") + names[i] + " is " +
                  std::to_string(length) + ", over 16");
  }
}

// True when the setup sends an AddItem command for the logical line `line`:
// its own program group code is run on a file list holding only that item.
bool SetupSendsItem(const std::string &line) {
  const std::string path = scratch + "/item.log";
  if (!WriteHostFile(path, "#item\n" + line + "\n"))
    return false;
  FILE *list = OpenHostFile(path, "rb");
  if (list == nullptr)
    return false;
  standin::resetDde();
  CreateProgramGroup(list);
  std::fclose(list);
  return standin::ddeCommands().size() == 2;
}

// Why an item line makes no sound item; empty when nothing is wrong.
std::string ItemFaults(const std::string &line, bool sent) {
  std::vector<std::string> faults;
  const size_t separator = line.find_first_of(" =");
  const std::string name = line.substr(0, separator);
  const size_t quote = line.find('"');
  std::string title;
  if (quote != std::string::npos && line.size() - quote > 1)
    title = line.substr(quote + 1, line.size() - quote - 2);
  if (separator == std::string::npos)
    faults.push_back("no blank or equals sign after the item name");
  else if (name.empty())
    faults.push_back("no item name");
  if (quote == std::string::npos)
    faults.push_back("no double-quoted title");
  else if (line.size() == quote + 1 || line.back() != '"')
    faults.push_back("the title's closing double quote is not the last "
                     "character of the line");
  const std::string directory = g_installDir;
  size_t length = 17 + directory.size() + name.size() + title.size();
  if (length > 255)
    faults.push_back("the AddItem command would be " + std::to_string(length) +
                     " characters, over 255");
  if (directory.find('"') != std::string::npos)
    faults.push_back("the install directory holds a double quote");
  if (name.find('"') != std::string::npos)
    faults.push_back("the item name holds a double quote");
  if (title.find('"') != std::string::npos)
    faults.push_back("the title holds a double quote");
  if (!sent && faults.empty())
    faults.push_back("the setup sends no command for it");
  std::string text;
  for (const std::string &f : faults)
    text += (text.empty() ? "" : "; ") + f;
  if (!text.empty() && !sent)
    text += ": no shortcut is made";
  return text;
}

// Reads setup.log with the setup's own line reader, as the program group
// does, and checks the item section line by line.
void CheckFileList() {
  const std::string origin = InstallOrigin("setup.log");
  FILE *list =
      std::fopen((std::string(g_installDir) + "\\setup.log").c_str(), "r");
  if (list == nullptr) {
    Problem(origin, Offset(0), "missing: no program group is made");
    return;
  }
  struct ItemLine {
    int number;
    std::string text;
    bool cut;
  };
  std::vector<ItemLine> items;
  bool found = false;
  int number = 0;
  int lastText = 0; // the last line that holds text
  while (!std::feof(list) && !std::ferror(list)) {
    ReadLogLine(list);
    ++number;
    if (g_lineBuffer[0] == '\0')
      continue;
    lastText = number;
    if (found) {
      if (g_lineBuffer[0] == '#')
        break;
      items.push_back({number, g_lineBuffer, g_lineCut});
    } else if (Lower(std::string(g_lineBuffer, 5)) == "#item") {
      found = true;
    }
  }
  std::fclose(list);
  if (!found) {
    Problem(origin, "line " + std::to_string(lastText),
            "no \"#item\" section up to the end of the file: the program "
            "group gets no items");
    return;
  }
  for (const ItemLine &item : items) {
    std::string faults;
    if (item.cut)
      faults = "the line is longer than 255 characters: no shortcut is made";
    else
      faults = ItemFaults(item.text, SetupSendsItem(item.text));
    if (!faults.empty())
      Problem(origin, "line " + std::to_string(item.number), faults);
  }
}

// The setup's rules for the programs of the media: MERRIK.EXE at the media's
// root, the two sibling programs, and Tessary.exe when the --install-dir
// folder holds it; then a msvcrt.dll beside the setup, which it does not
// need.
void CheckPrograms(const std::string &sourceDir) {
  std::vector<std::string> files = {
      HostPath(std::string(kMediaDrive) + "\\MERRIK.EXE"),
      HostPath(sourceDir + "\\Utility\\Sondel.exe"),
      HostPath(sourceDir + "\\Utility\\Quillan.exe")};
  if (!options.installDir.empty())
    files.push_back(HostFileIn(options.installDir, "Tessary.exe"));
  std::string bytes;
  for (size_t i = 0; i < files.size(); ++i) {
    if (!ReadHostFile(files[i], bytes)) {
      // A missing sibling program is a problem of the run already.
      if (i == 0)
        Problem(files[i], Offset(0),
                "missing: the media has no setup program MERRIK.EXE");
      continue;
    }
    for (const ProgramProblem &p : CheckProgram(bytes))
      Problem(files[i], Offset(p.offset), p.what);
  }
  std::string runtime = HostFileIn(options.media, "msvcrt.dll");
  std::error_code error;
  if (fs::is_regular_file(runtime, error))
    Problem(runtime, Offset(0),
            "unnecessary: the setup needs no C runtime DLL; leave "
            "Microsoft's file off the media");
}

bool MakeScratch() {
  std::error_code error;
  fs::path temp = fs::temp_directory_path(error);
  if (error)
    return false;
  std::random_device random;
  for (int i = 0; i < 100; ++i) {
    fs::path candidate = temp / ("mediacheck-" + std::to_string(random()));
    if (fs::create_directory(candidate, error)) {
      scratch = candidate.generic_string();
      return fs::create_directory(candidate / "WINDOWS", error);
    }
  }
  return false;
}

int Usage(const std::string &error) {
  std::fprintf(stderr, "mediacheck: %s\n\n%s", error.c_str(), kUsage);
  return 2;
}

const char *ButtonName(int answer) {
  switch (answer) {
  case IDOK:
    return "OK";
  case IDCANCEL:
    return "Cancel";
  case IDYES:
    return "Yes";
  case IDNO:
    return "No";
  }
  return "?";
}

} // namespace

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string &into) {
      if (i + 1 >= argc)
        return false;
      into = argv[++i];
      return !into.empty();
    };
    std::string text;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--install-dir") {
      if (!value(options.installDir))
        return Usage("--install-dir needs a folder");
    } else if (arg == "--windows-dir") {
      if (!value(options.windowsDir))
        return Usage("--windows-dir needs a folder");
    } else if (arg == "--reg") {
      if (!value(options.regFile))
        return Usage("--reg needs a file name");
    } else if (arg == "--log") {
      if (!value(options.logFile))
        return Usage("--log needs a file name");
    } else if (arg == "--platform") {
      if (!value(text) || (text != "95" && text != "nt"))
        return Usage("--platform takes 95 or nt");
      options.windowsNt = text == "nt";
    } else if (arg == "--mode") {
      if (!value(text) || (text != "express" && text != "custom"))
        return Usage("--mode takes express or custom");
      options.custom = text == "custom";
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage("unknown option " + arg);
    } else if (options.media.empty()) {
      options.media = arg;
    } else {
      return Usage("one media folder only");
    }
  }
  std::error_code error;
  if (options.media.empty())
    return Usage("no media folder given");
  for (const std::string *folder :
       {&options.media, &options.installDir, &options.windowsDir}) {
    if (!folder->empty() && !fs::is_directory(*folder, error))
      return Usage(*folder + " is not a folder");
  }
  if (!MakeScratch()) {
    std::fprintf(stderr, "mediacheck: no scratch folder can be made\n");
    return 2;
  }

  // The machine: a fresh Windows of the chosen platform, nothing installed,
  // the setup started from the media's drive. No host program may start.
  standin::resetAll();
  // The log is a file of this machine, opened before Windows names are
  // mapped to the scratch folder.
  if (!options.logFile.empty() && !LogOpen(options.logFile.c_str())) {
    std::fprintf(stderr, "mediacheck: cannot open log file %s\n",
                 options.logFile.c_str());
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    return 2;
  }
  standin::setHostPrograms(false);
  // The stand-in's own file calls (the hand-off file's write time) see the
  // same files as the setup's fopen.
  standin::setFileNameMap(HostPath);
  standin::setSleepRecordOnly(true);
  standin::setVersion(options.windowsNt ? 0x05650004 : 0xC0000004);
  standin::setWindowsDirectory(kWindowsDir);
  standin::setModuleFileName(std::string(kMediaDrive) + "\\MERRIK.EXE");
  standin::setMessageBoxResponder([](const standin::MessageBoxCall &box) {
    // Cancel at the success prompt: no restart is requested.
    return (box.flags & 0xF) == MB_OKCANCEL ? IDCANCEL : IDOK;
  });
  SeedRegistry();
  MapFolder(kMediaDrive, options.media);
  MapFolder(kWindowsDir, scratch + "/WINDOWS");
  StartFileMap(scratch);

  if (LogIsOpen()) {
    standin::setCommandLine(std::string(kMediaDrive) + "\\MERRIK.EXE /LOG=\"" +
                            options.logFile + "\"");
    LogInstallHeader(options.logFile.c_str());
  }
  GetSourceDir();
  g_platform = options.windowsNt ? 0 : 1;
  g_customMode = options.custom ? 1 : 0;
  LogLine("Welcome dialog: Install, %s mode (chosen by mediacheck)",
          options.custom ? "Custom" : "Express");
  g_installStatus = 0;
  std::string sourceDir = g_sourceDir;
  RegisterSibling(sourceDir + "\\Utility\\Sondel.exe");
  RegisterSibling(sourceDir + "\\Utility\\Quillan.exe");

  std::vector<standin::RegFileKey> before, after;
  standin::parseRegText(standin::regExportText(), before);
  InstallWorker(nullptr);
  standin::waitForThreads(60000);
  // After a failure the install host's status timer rolls back and reports
  // the failure; there is no host window to own the message.
  if (g_installStatus == -1) {
    RollbackInstall();
    ReportInstallFailure(nullptr);
  }
  LogClose(g_exitCode.load());
  standin::parseRegText(standin::regExportText(), after);
  const std::vector<standin::RegFileKey> changes =
      RegistryChanges(before, after);
  const std::vector<standin::DdeTransaction> transactions =
      standin::ddeTransactions();
  const std::vector<standin::MessageBoxCall> boxes = standin::messageBoxes();
  const std::vector<standin::CreateProcessCall> programs =
      standin::createProcessCalls();

  // The rules behind what the run met.
  for (const standin::CreateProcessCall &call : programs) {
    std::string path = call.commandLine ? *call.commandLine
                                        : call.applicationName.value_or("");
    if (!call.result) {
      std::string host = HostPath(path);
      std::string file = path;
      if (Lower(path).rfind(Lower(sourceDir) + "\\", 0) == 0)
        file = host;
      Problem(file, Offset(0),
              "missing: the setup cannot start " + path +
                  " (\"Can not find Resource file.\")");
    } else if (!call.applicationName && path.find(' ') != std::string::npos) {
      Problem(path, Offset(0),
              "started without an application name: with the blank, Windows "
              "tries " +
                  FirstSearched(path) + " first");
    }
  }
  CheckHandoffs();
  bool importRan = g_installStatus == 1;
  for (const standin::MessageBoxCall &box : boxes)
    if (box.text == "Can not Open default.cfg file!")
      importRan = true;
  // Without an install directory (a problem already) there are no files.
  if (importRan && g_installDir[0] != '\0')
    CheckDefaults();
  if (g_installStatus == 1 && g_installDir[0] != '\0')
    CheckFileList();
  if (g_installStatus != 1 && problems.empty())
    problems.push_back(options.media + ": " + Offset(0) +
                       ": the installation fails");
  CheckPrograms(sourceDir);
  StopFileMap();

  // What the installation does, in order.
  std::printf("mediacheck %s: Windows %s, %s mode, media as %s\\, Windows "
              "directory %s\n",
              options.media.c_str(), options.windowsNt ? "NT 4.0" : "95",
              options.custom ? "Custom" : "Express", kMediaDrive, kWindowsDir);
  std::printf("\nPrograms run:\n");
  for (const standin::CreateProcessCall &call : programs)
    std::printf("  %s%s\n",
                Shown(call.commandLine ? *call.commandLine
                                       : call.applicationName.value_or(""))
                    .c_str(),
                call.result ? "" : "  (cannot be started)");
  std::printf("\nMessage boxes:\n");
  for (const standin::MessageBoxCall &box : boxes)
    std::printf("  \"%s\" \"%s\" flags 0x%08X, answered %s\n",
                Shown(box.caption).c_str(), Shown(box.text).c_str(),
                static_cast<unsigned>(box.flags), ButtonName(box.answer));
  const std::string regText = standin::formatRegText(changes);
  std::printf("\nRegistry changes:\n");
  std::string shown = regText;
  shown.erase(std::remove(shown.begin(), shown.end(), '\r'), shown.end());
  std::fputs(shown.c_str(), stdout);
  std::printf("\nDDE execute commands to Progman (bytes, zero included):\n");
  for (const standin::DdeTransaction &t : transactions)
    std::printf("  %3u %s\n", static_cast<unsigned>(t.cbData),
                Shown(std::string(t.bytes.begin(), t.bytes.end())).c_str());
  std::printf("\n");
  if (problems.empty()) {
    std::printf("No problems: the media is sound.\n");
  } else {
    std::printf("Problems (%u):\n", static_cast<unsigned>(problems.size()));
    for (const std::string &p : problems)
      std::printf("%s\n", p.c_str());
  }

  int status = problems.empty() ? 0 : 1;
  if (!options.regFile.empty() && !WriteHostFile(options.regFile, regText)) {
    std::fprintf(stderr, "mediacheck: cannot write %s\n",
                 options.regFile.c_str());
    status = 2;
  }
  standin::resetKernel();
  fs::remove_all(scratch, error);
  return status;
}
