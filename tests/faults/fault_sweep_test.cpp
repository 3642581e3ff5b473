// The fault sweep: each platform call of a whole install fails once, one run
// per call. For each kind of run the run without a fault is counted first (K
// calls); then call n = 1..K fails in a run of its own, in a child process,
// so that a crash or a run that never ends is seen as such. Each run must end
// honestly: a success status only with everything stored that the fault-free
// run stores, byte for byte; a failure with the failure message, status 1603
// and the registry and program group exactly as before the install; never a
// registry value that the fault-free run does not leave (stale or foreign
// bytes); and where a fault must end in a given status, that status.
//
// Then pairs: each fault that fails the install, followed by a second fault
// at each later call, the rollback's among them. Such a run must end with
// 1603 and take nothing of the user's, and whatever it could not undo must be
// named in the log. Pairs run for the kinds marked so; MERRIK_SWEEP_PAIRS=all
// runs them for every kind.
//
// Program Manager is swept too: for each execute command of the fault-free
// run, a run in which Program Manager refuses that command, and one in which
// it stops answering at that command. A success status then needs the whole
// group of the fault-free run or the warning that it is not whole, and no
// command may be sent twice.
//
// Prints one table per kind of run: K and the runs by outcome.
#include "shell/shell_harness.h"
#include "standin/faults.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

namespace {

using standin::messageBoxes;

struct RunKind {
  const char *name;
  DWORD version;
  bool custom;
  bool preSetupFails; // the pre-setup program reports status 0
  int promptAnswer;   // to the success prompt
  bool cancelFirst;   // Cancel on the Welcome dialog, No to the question
  bool earlier;       // the machine holds the suite's entries and group
  bool log;           // the setup runs with /LOG
  bool pairs;         // pairs of faults are swept in every run of the sweep
};

// How Program Manager answers in a run.
enum class Progman { Answers, RefusesCommand, HangsAtCommand };

// The faults of one run: the calls that fail (0 for none), and how Program
// Manager answers which command.
struct Plan {
  uint64_t first = 0;
  uint64_t second = 0;
  Progman progman = Progman::Answers;
  int command = 0;
};

const RunKind kRuns[] = {
    {"Express on Windows 95", 0xC0000004, false, false, IDCANCEL, true, false,
     true, false},
    {"Express on Windows NT", 0x05650004, false, false, IDCANCEL, false, false,
     true, false},
    {"Custom on Windows NT", 0x05650004, true, false, IDCANCEL, false, false,
     true, false},
    {"pre-setup status 0 on Windows NT", 0x05650004, false, true, IDCANCEL,
     false, false, true, false},
    {"restart accepted on Windows NT", 0x05650004, false, false, IDOK, false,
     false, true, false},
    {"Express on Windows NT, earlier entries", 0x05650004, false, false,
     IDCANCEL, false, true, true, true},
    {"Express on Windows 95, earlier entries", 0xC0000004, false, false,
     IDCANCEL, false, true, true, false},
    {"Express on Windows NT without /LOG", 0x05650004, false, false, IDOK,
     false, false, false, false},
};

// Child processes that run at once: a run mostly waits.
const int kParallelRuns = 6;

// A run of the child that takes longer than this has hung.
const int kRunLimitMs = 30000;

// What one run leaves, as its child process reports it.
struct Report {
  bool whole = false; // the child reported to its end
  bool hung = false;
  int exitCode = -1;
  std::vector<std::string> boxes; // caption, tab, text
  std::map<std::string, std::string> before, after;
  uint64_t calls = 0;
  std::vector<std::string> callNames;
  uint64_t faultNumber = 0;
  std::string faultCall;
  std::vector<uint64_t> faultsFired;
  std::vector<std::string> log;      // the lines of the setup log
  std::vector<std::string> commands; // the execute commands sent
  std::vector<std::string> groups;   // each group: name, tab, item titles
  std::vector<std::string> groupsBefore, groupsAfter; // name and items
};

enum Outcome {
  kFailureReported,
  kIgnored,
  kCrash,
  kHang,
  kStale,
  kDishonestSuccess,
  kUnseen,
  kOther,
  kOutcomes
};
const char *const kOutcomeNames[kOutcomes] = {
    "failure reported", "logged and ignored", "crash",  "hang",
    "stale bytes",      "dishonest success",  "unseen", "other ending"};

std::string Escaped(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\t')
      out += "\\t";
    else
      out += c;
  }
  return out;
}

std::string Unescaped(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
  }
  return out;
}

// Every key and value under HKEY_LOCAL_MACHINE: a key as "path\", a value as
// "path:name" with its type and bytes in hexadecimal.
void Snapshot(const std::string &path,
              std::map<std::string, std::string> &out) {
  out[path + "\\"] = "";
  for (const std::string &name : standin::regValueNames(path)) {
    auto value = standin::regValue(path, name);
    std::string bytes = std::to_string(value->type) + ":";
    for (BYTE b : value->data) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02x", b);
      bytes += hex;
    }
    out[path + ":" + name] = bytes;
  }
  for (const std::string &sub : standin::regSubkeys(path))
    Snapshot(path + "\\" + sub, out);
}

// Program Manager's groups, each with its items, one text a group.
std::vector<std::string> Groups() {
  std::vector<std::string> out;
  for (const auto &group : standin::progmanGroups()) {
    std::string text = group.name;
    for (const auto &item : group.items)
      text += "|" + item.command + "|" + item.title;
    out.push_back(text);
  }
  return out;
}

// Every entry the install writes, with bytes of an earlier version of the
// suite (but no LM78 key: the setup would refuse to install), earlier driver
// services with values and subkeys of their own, and the suite's group with
// the user's shortcuts.
void PutEarlierInstallation() {
  const std::string product = "HKLM\\SOFTWARE\\VKO\\DMI";
  standin::regPutString(product, "path", "D:\\OLD");
  standin::regPutDword(product, "Security", 1);
  standin::regPutDword(product, "AMA", 7);
  standin::regPutValue(product + "\\LM75", "Temperatures", REG_BINARY,
                       {9, 8, 7});
  const std::string cv = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
  standin::regPutString(cv + "\\Run", "ZEZOroza", "D:\\OLD\\Zezoroza.exe");
  standin::regPutString(cv + "\\Uninstall\\VKO DMI", "DisplayName", "VKO old");
  standin::regPutString(cv + "\\Uninstall\\VKO DMI", "UninstallString",
                        "D:\\OLD\\Dovrel.exe");
  for (const char *name : {"VEZUDA", "Riveze"}) {
    const std::string key =
        std::string("HKLM\\System\\CurrentControlSet\\Services\\") + name;
    standin::regPutDword(key, "Type", 2);
    standin::regPutDword(key, "Start", 3);
    standin::regPutDword(key, "ErrorControl", 0);
    standin::regPutString(key, "Group", "Old group");
    standin::regPutString(key, "ImagePath", "System32\\drivers\\x.sys");
    standin::regPutDword(key + "\\Enum", "Count", 1);
    standin::regPutValue(key + "\\Security", "Security", REG_BINARY,
                         {1, 0, 4, 0x80});
  }
  standin::addProgmanGroup("VKO Halvermont",
                           {{"D:\\OLD\\Zezoroza.exe", "Hardware Monitor"},
                            {"C:\\mine.exe", "My own shortcut"}});
}

// default.cfg with a different byte at every offset, so that bytes stored
// under the wrong name or from the wrong place show.
std::string DefaultsFile() {
  std::string cfg(1400, '\0');
  for (size_t i = 0; i < cfg.size(); ++i)
    cfg[i] = static_cast<char>((i * 7 + 13) % 251 + 1);
  cfg[260] = 4;
  cfg.replace(261, 4, "LM78");
  cfg[277] = 8;
  cfg.replace(278, 8, "4800 RPM");
  return cfg;
}

const char kSetupLog[] =
    "#file\r\nZezoroza.exe\r\n#item\r\n"
    "Zezoroza.exe = \"Hardware Monitor\"\r\n"
    "Dovrel.exe = \"Uninstall VKO Halvermont\"\r\n#end\r\n";

class FaultSweep : public shelltest::ShellTest {
protected:
  // A machine of the run's kind with media on which every step succeeds
  // (unless the kind says otherwise), and the user's answers.
  void Prepare(const RunKind &kind) {
    standin::setVersion(kind.version);
    if (kind.earlier)
      PutEarlierInstallation();
    standin::regPutKey("HKLM\\System\\CurrentControlSet\\Services");
    standin::regPutKey(
        "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
    standin::regPutString(
        "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other",
        "DisplayName", "Another program");
    const std::string handoff = "1\r\n0\r\n" + installDir_ + "\r\n";
    const std::string path = HandoffPath();
    const std::string dir = installDir_;
    standin::registerProgram(Sondel(), [=]() -> DWORD {
      testsupport::StoreFile(path, handoff);
      return 0;
    });
    const std::string preSetup = std::string(kind.preSetupFails ? "0" : "1") +
                                 "\r\n1\r\n" + dir + "\r\n";
    standin::registerProgram(Quillan(), [=]() -> DWORD {
      testsupport::StoreFile(path, preSetup);
      testsupport::StoreFile(dir + "\\default.cfg", DefaultsFile());
      testsupport::StoreFile(dir + "\\setup.log", kSetupLog);
      return 0;
    });
    standin::registerProgram(Tessary(), [=]() -> DWORD {
      testsupport::StoreFile(path, "1\r\n-\r\n" + dir + "\r\n");
      return 0;
    });
    // The exit question (a box that cannot be shown must not end the
    // setup), then the mode and Install.
    OnWelcome([kind](HWND w) {
      if (kind.cancelFirst)
        standin::click(w, IDCANCEL);
      if (kind.custom)
        standin::click(w, IDC_CUSTOM);
      standin::click(w, IDC_INSTALL);
    });
    const int promptAnswer = kind.promptAnswer;
    standin::setMessageBoxResponder(
        [promptAnswer](const standin::MessageBoxCall &box) {
          if ((box.flags & 0xF) == MB_YESNO)
            return IDNO;
          return (box.flags & 0xF) == MB_OKCANCEL ? promptAnswer : IDOK;
        });
  }

  // In the child: one whole run on a fresh machine, reported as lines.
  std::string RunInChild(const RunKind &kind, const Plan &plan) {
    SetUp();
    Prepare(kind);
    if (plan.progman == Progman::RefusesCommand)
      standin::refuseProgmanCommand(plan.command);
    else if (plan.progman == Progman::HangsAtCommand)
      standin::hangProgmanAt(plan.command);
    // The setup log, where a fault that shows no message must appear.
    const std::string log = base_ + "/sweep.log";
    standin::setCommandLine("\"" + sourceDir_ + "\\MERRIK.EXE\"" +
                            (kind.log ? " /LOG=\"" + log + "\"" : ""));
    std::map<std::string, std::string> before;
    Snapshot("HKLM", before);
    const std::vector<std::string> groupsBefore = Groups();
    standin::resetFaults();
    standin::setFaultAt(plan.first);
    standin::addFaultAt(plan.second);
    const int exitCode = RunSetup();
    WaitForWorker();
    standin::waitForThreads(10000);
    std::ostringstream out;
    out << "exit\t" << exitCode << "\n";
    for (const auto &box : messageBoxes())
      out << "box\t" << Escaped(box.caption + "\t" + box.text) << "\n";
    for (const auto &v : before)
      out << "before\t" << Escaped(v.first) << "\t" << v.second << "\n";
    std::map<std::string, std::string> after;
    Snapshot("HKLM", after);
    for (const auto &v : after)
      out << "after\t" << Escaped(v.first) << "\t" << v.second << "\n";
    out << "calls\t" << standin::faultCallCount() << "\n";
    for (const auto &name : standin::faultCallNames())
      out << "name\t" << name << "\n";
    const auto fired = standin::injectedFaults();
    if (!fired.empty())
      out << "fault\t" << fired[0].number << "\t" << fired[0].call << "\n";
    for (const auto &fault : fired)
      out << "fired\t" << fault.number << "\n";
    for (const std::string &command : standin::ddeCommands())
      out << "dde\t" << Escaped(command) << "\n";
    for (const auto &group : standin::progmanGroups()) {
      std::string items = group.name;
      for (const auto &item : group.items)
        items += "\t" + item.title;
      out << "group\t" << Escaped(items) << "\n";
    }
    for (const auto &group : groupsBefore)
      out << "gbefore\t" << Escaped(group) << "\n";
    for (const auto &group : Groups())
      out << "gafter\t" << Escaped(group) << "\n";
    std::istringstream logLines(testsupport::ReadFileOr(log, ""));
    std::string line;
    while (std::getline(logLines, line))
      out << "log\t" << Escaped(line) << "\n";
    out << "end\n";
    TearDown();
    return out.str();
  }

  // Runs the planned faults (first, second; 0 for none), each in a child of
  // its own, kParallelRuns at a time; the reports in the order planned.
  std::vector<Report> RunAll(const RunKind &kind,
                             const std::vector<Plan> &plans) {
    struct Child {
      pid_t pid;
      int fd;
      size_t index;
      std::string text;
      std::chrono::steady_clock::time_point deadline;
    };
    std::vector<Report> reports(plans.size());
    std::vector<Child> running;
    size_t next = 0;
    while (next < plans.size() || !running.empty()) {
      while (next < plans.size() &&
             static_cast<int>(running.size()) < kParallelRuns) {
        int fds[2];
        if (pipe(fds) != 0) {
          ADD_FAILURE() << "no pipe";
          return reports;
        }
        std::fflush(nullptr);
        pid_t child = fork();
        if (child == 0) {
          close(fds[0]);
          const std::string text = RunInChild(kind, plans[next]);
          for (size_t done = 0; done < text.size();) {
            ssize_t n = write(fds[1], text.data() + done, text.size() - done);
            if (n <= 0)
              break;
            done += static_cast<size_t>(n);
          }
          close(fds[1]);
          _exit(0);
        }
        close(fds[1]);
        running.push_back(Child{child, fds[0], next, "",
                                std::chrono::steady_clock::now() +
                                    std::chrono::milliseconds(kRunLimitMs)});
        ++next;
      }
      std::vector<pollfd> polls;
      for (const Child &c : running)
        polls.push_back(pollfd{c.fd, POLLIN, 0});
      poll(polls.data(), polls.size(), 100);
      for (size_t k = running.size(); k-- > 0;) {
        Child &c = running[k];
        bool ended = false;
        Report &report = reports[c.index];
        if (polls[k].revents != 0) {
          char chunk[4096];
          ssize_t n = read(c.fd, chunk, sizeof chunk);
          if (n > 0)
            c.text.append(chunk, static_cast<size_t>(n));
          else
            ended = true;
        } else if (std::chrono::steady_clock::now() > c.deadline) {
          report.hung = true;
          kill(c.pid, SIGKILL);
          ended = true;
        }
        if (!ended)
          continue;
        close(c.fd);
        int status = 0;
        waitpid(c.pid, &status, 0);
        Parse(c.text, status, report);
        running.erase(running.begin() + static_cast<std::ptrdiff_t>(k));
      }
    }
    return reports;
  }

  Report Run(const RunKind &kind, uint64_t faultAt) {
    return RunAll(kind, {Plan{faultAt, 0}})[0];
  }

  static void Parse(const std::string &text, int status, Report &report) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
      std::vector<std::string> f;
      std::istringstream fields(line);
      std::string field;
      while (std::getline(fields, field, '\t'))
        f.push_back(field);
      if (f.empty())
        continue;
      if (f[0] == "exit" && f.size() == 2)
        report.exitCode = std::stoi(f[1]);
      else if (f[0] == "box" && f.size() >= 2)
        report.boxes.push_back(Unescaped(line.substr(4)));
      else if ((f[0] == "before" || f[0] == "after") && f.size() >= 2)
        (f[0] == "before" ? report.before : report.after)[Unescaped(f[1])] =
            f.size() > 2 ? f[2] : "";
      else if (f[0] == "calls" && f.size() == 2)
        report.calls = std::stoull(f[1]);
      else if (f[0] == "log" && f.size() >= 2)
        report.log.push_back(Unescaped(line.substr(4)));
      else if (f[0] == "dde" && f.size() >= 2)
        report.commands.push_back(Unescaped(line.substr(4)));
      else if (f[0] == "group" && f.size() >= 2)
        report.groups.push_back(Unescaped(line.substr(6)));
      else if (f[0] == "name" && f.size() == 2)
        report.callNames.push_back(f[1]);
      else if (f[0] == "fault" && f.size() == 3) {
        report.faultNumber = std::stoull(f[1]);
        report.faultCall = f[2];
      } else if (f[0] == "fired" && f.size() == 2)
        report.faultsFired.push_back(std::stoull(f[1]));
      else if (f[0] == "gbefore" && f.size() >= 2)
        report.groupsBefore.push_back(Unescaped(line.substr(8)));
      else if (f[0] == "gafter" && f.size() >= 2)
        report.groupsAfter.push_back(Unescaped(line.substr(7)));
      else if (f[0] == "end")
        report.whole = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
  }
};

bool IsSuccessStatus(int code) { return code == 3010 || code == 1641; }

// The failure message of the abort procedure, or for status 1622 the
// message that the log cannot be opened.
bool ShowsFailureMessage(const Report &r) {
  const std::string caption =
      r.exitCode == 1622 ? "Install Error\tCan not open log file "
                         : std::string(shelltest::kFailureCaption) + "\t";
  for (const auto &box : r.boxes)
    if (box.rfind(caption, 0) == 0)
      return true;
  return false;
}

// The number that the log gives with a failure of `call`, as the fault plan
// injects it (standin/faults.h): a registry status, a last error, a DDE
// error; empty where the failure has none (the heap).
std::string FailureNumber(const std::string &call) {
  static const std::map<std::string, int> numbers = {
      {"CreateFileA", 21},
      {"ReadFile", 23},
      {"SetFilePointer", 25},
      {"GetFileSize", 21},
      {"GetFileTime", 5},
      {"SetFileTime", 5},
      {"GetWindowsDirectoryA", 8},
      {"GetModuleFileNameA", 8},
      {"CreateProcessA", 8},
      {"WaitForSingleObject", 6},
      {"CreateThread", 8},
      {"SetTimer", 8},
      {"CreateDialogParamA", 8},
      {"SetWindowPos", 8},
      {"MessageBoxA", 0},
      {"DdeInitializeA", 0x400F},
      {"DdeCreateStringHandleA", 0x400F},
      {"DdeConnect", 0x400A},
      {"DdeClientTransaction", 0x4005},
      {"DdeClientTransaction XTYP_REQUEST", 0x4002},
      {"OpenProcessToken", 5},
      {"LookupPrivilegeValueA", 1313},
      {"AdjustTokenPrivileges", 5},
      {"ExitWindowsEx", 1314}};
  if (call.rfind("Reg", 0) == 0)
    return "1016";
  auto it = numbers.find(call);
  return it == numbers.end() ? "" : std::to_string(it->second);
}

// True when a line of the log names `call` with its failure's number
// (`number` when given, else the one the fault plan injects).
bool LogNamesFault(const Report &r, const std::string &given = "") {
  const std::string number = given.empty() ? FailureNumber(r.faultCall) : given;
  for (const std::string &line : r.log) {
    if (line.find(r.faultCall) == std::string::npos)
      continue;
    // A request's time-out has an error of its own.
    const bool request = line.find("XTYP_REQUEST") != std::string::npos;
    const std::string number =
        FailureNumber(request ? r.faultCall + " XTYP_REQUEST" : r.faultCall);
    if (number.empty())
      return true;
    for (size_t at = line.find(number); at != std::string::npos;
         at = line.find(number, at + 1)) {
      const bool startsNumber =
          at == 0 || !std::isdigit(static_cast<unsigned char>(line[at - 1]));
      const size_t end = at + number.size();
      const bool endsNumber =
          end == line.size() ||
          !std::isdigit(static_cast<unsigned char>(line[end]));
      if (startsNumber && endsNumber)
        return true;
    }
  }
  return false;
}

// True when the run shows the user a box that the fault-free run does not.
bool ShowsNewBox(const Report &clean, const Report &r) {
  std::multiset<std::string> expected(clean.boxes.begin(), clean.boxes.end());
  for (const std::string &box : r.boxes) {
    auto it = expected.find(box);
    if (it == expected.end())
      return true;
    expected.erase(it);
  }
  return false;
}

// True when the run warns that the program group is not whole.
bool WarnsOfTheGroup(const Report &r) {
  for (const auto &box : r.boxes)
    if (box.rfind("Warning\t", 0) == 0 &&
        box.find("program group") != std::string::npos)
      return true;
  return false;
}

std::string Lower(std::string text) {
  for (char &c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// True when the rollback's log names the snapshot entry (a key "path\" or a
// value "path:name") as not undone or left.
bool LogNamesEntry(const Report &r, const std::string &entry) {
  std::string wanted;
  if (entry.back() == '\\') {
    wanted = "rollback: key " + entry.substr(0, entry.size() - 1) + ": ";
  } else {
    const size_t colon = entry.rfind(':');
    wanted = "rollback: value " + entry.substr(0, colon) + " \"" +
             entry.substr(colon + 1) + "\": ";
  }
  wanted = Lower(wanted);
  for (const std::string &line : r.log)
    if (Lower(line).find(wanted) != std::string::npos)
      return true;
  return false;
}

// The first difference between the machine after a failed run and the one
// before it; empty when they are equal, registry and program group.
std::string Difference(const Report &r) {
  for (const auto &v : r.before) {
    auto after = r.after.find(v.first);
    if (after == r.after.end())
      return "failure loses " + v.first;
    if (after->second != v.second)
      return "failure changes " + v.first + " to " + after->second;
  }
  for (const auto &v : r.after)
    if (!r.before.count(v.first))
      return "failure leaves " + v.first;
  if (r.groupsAfter != r.groupsBefore)
    return "failure changes the program group";
  return "";
}

// The status that the fault at call `n` must end in, 0 where several are
// honest: a failed wait for a sibling program, a key or value that cannot
// be stored fail the install; a success prompt that cannot be shown asks
// for no restart.
int RequiredExit(const Report &clean, uint64_t n) {
  if (!IsSuccessStatus(clean.exitCode) || n > clean.callNames.size())
    return 0;
  const std::string &call = clean.callNames[n - 1];
  if (call == "WaitForSingleObject" || call == "RegSetValueExA" ||
      call == "RegCreateKeyA")
    return 1603;
  size_t lastBox = 0;
  for (size_t i = 0; i < clean.callNames.size(); ++i)
    if (clean.callNames[i] == "MessageBoxA")
      lastBox = i + 1;
  return n == lastBox ? 3010 : 0;
}

// The outcome of a run with a fault against the fault-free run; `why` says
// what is wrong with a run that is not honest.
Outcome Classify(const Report &clean, const Report &r, std::string *why) {
  if (r.hung)
    return kHang;
  if (!r.whole)
    return kCrash;
  // A command sent again could make a second item of a late one.
  const std::set<std::string> once(clean.commands.begin(),
                                   clean.commands.end());
  if (once.size() == clean.commands.size() &&
      std::set<std::string>(r.commands.begin(), r.commands.end()).size() !=
          r.commands.size()) {
    *why = "a command sent twice";
    return kOther;
  }
  for (const auto &v : r.after) {
    auto inClean = clean.after.find(v.first);
    auto inBefore = r.before.find(v.first);
    if ((inClean == clean.after.end() || inClean->second != v.second) &&
        (inBefore == r.before.end() || inBefore->second != v.second)) {
      *why = "left " + v.first + " = " + v.second;
      return kStale;
    }
  }
  if (IsSuccessStatus(r.exitCode)) {
    for (const auto &v : clean.after) {
      auto got = r.after.find(v.first);
      if (got == r.after.end() || got->second != v.second) {
        *why = "success without " + v.first + " = " + v.second;
        return kDishonestSuccess;
      }
    }
    // The group is whole, or the user is told that it is not.
    if (WarnsOfTheGroup(r))
      return kFailureReported;
    if (r.groups != clean.groups) {
      *why = "success without the whole program group, and no warning";
      return kDishonestSuccess;
    }
    return kIgnored;
  }
  // A failure: 1603, or 1622 when the log itself cannot be opened. The
  // machine is as the install found it.
  if (r.exitCode == 1603 || r.exitCode == 1622) {
    *why = Difference(r);
    if (!why->empty())
      return kStale;
    // Without a box or a dialog there is no window to show the message.
    if (ShowsFailureMessage(r) || r.faultCall == "MessageBoxA" ||
        r.faultCall == "CreateDialogParamA")
      return kFailureReported;
    *why = "failure without its message";
    return kOther;
  }
  if (r.exitCode == clean.exitCode && r.after == clean.after)
    return kIgnored;
  *why = "exit " + std::to_string(r.exitCode);
  return kOther;
}

// One row of the table: the run, K, the runs by outcome, and what follows.
void PrintRow(const std::string &name, uint64_t k, const int *counts,
              const std::string &rest) {
  std::printf("%-56s %5llu", name.c_str(), static_cast<unsigned long long>(k));
  for (int i = 0; i < kOutcomes; ++i)
    std::printf(" | %*d", static_cast<int>(std::strlen(kOutcomeNames[i])),
                counts[i]);
  std::printf("%s\n", rest.c_str());
}

// A run with two faults, the first failing the install: 1603, nothing of
// the user's gone, and with the log, every difference from the machine
// before it named by the rollback's log as not undone. Empty when it holds.
std::string PairFault(const Report &r, bool logged) {
  if (r.hung)
    return "hang";
  if (!r.whole)
    return "crash";
  if (r.exitCode != 1603)
    return "exit " + std::to_string(r.exitCode);
  for (const auto &v : r.before) {
    auto after = r.after.find(v.first);
    if (after == r.after.end())
      return "the user's " + v.first + " removed";
    if (logged && after->second != v.second && !LogNamesEntry(r, v.first))
      return v.first + " changed, and the log does not say so";
  }
  for (const auto &v : r.after)
    if (logged && !r.before.count(v.first) && !LogNamesEntry(r, v.first))
      return v.first + " left, and the log does not say so";
  if (r.groupsAfter != r.groupsBefore)
    return "the program group changed";
  return "";
}

TEST_F(FaultSweep, EveryPlatformCallFailsOnceAndEachRunEndsHonestly) {
  const bool detail = std::getenv("MERRIK_SWEEP_DETAIL") != nullptr;
  const char *pairsFlag = std::getenv("MERRIK_SWEEP_PAIRS");
  const bool allPairs =
      pairsFlag != nullptr && std::strcmp(pairsFlag, "all") == 0;
  std::printf("\n%-56s %5s", "run", "K");
  for (const char *name : kOutcomeNames)
    std::printf(" | %s", name);
  std::printf(" | pairs | pairs failing | second not reached\n");
  for (const RunKind &kind : kRuns) {
    SCOPED_TRACE(kind.name);
    const Report clean = Run(kind, 0);
    ASSERT_TRUE(clean.whole) << "the fault-free run did not end";
    ASSERT_EQ(clean.log.empty(), !kind.log);
    ASSERT_GT(clean.calls, 0u);
    EXPECT_EQ(clean.exitCode, kind.preSetupFails          ? 1603
                              : kind.promptAnswer == IDOK ? 1641
                                                          : 3010);
    // Without a fault the group is whole (a failed run deletes it). Over
    // an earlier installation the group was there before.
    if (kind.earlier) {
      EXPECT_FALSE(clean.groupsBefore.empty());
    } else {
      EXPECT_EQ(clean.groups,
                kind.preSetupFails
                    ? std::vector<std::string>{}
                    : std::vector<std::string>{"VKO Halvermont\tHardware "
                                               "Monitor\tUninstall VKO "
                                               "Halvermont"});
    }
    if (detail) {
      for (size_t i = 0; i < clean.callNames.size(); ++i)
        std::printf("  call %3zu %s\n", i + 1, clean.callNames[i].c_str());
      for (const std::string &line : clean.log)
        std::printf("  log %s\n", line.c_str());
    }
    std::vector<Plan> plans;
    for (uint64_t n = 1; n <= clean.calls; ++n)
      plans.push_back(Plan{n, 0});
    const std::vector<Report> reports = RunAll(kind, plans);
    int counts[kOutcomes] = {};
    std::vector<Plan> pairs;
    for (uint64_t n = 1; n <= clean.calls; ++n) {
      const Report &r = reports[n - 1];
      std::string why;
      Outcome outcome = Classify(clean, r, &why);
      // Nothing fails unseen: the user sees a message, or the log names the
      // call with its failure.
      if (kind.log && (outcome == kFailureReported || outcome == kIgnored) &&
          !ShowsNewBox(clean, r) && !LogNamesFault(r)) {
        why = "neither a message nor a log line names " + r.faultCall;
        outcome = kUnseen;
      }
      const int required = RequiredExit(clean, n);
      if ((outcome == kFailureReported || outcome == kIgnored) &&
          required != 0 && r.exitCode != required) {
        why = "exit " + std::to_string(r.exitCode) +
              ", this fault must end in " + std::to_string(required);
        outcome = kOther;
      }
      ++counts[outcome];
      const std::string call =
          n <= clean.callNames.size() ? clean.callNames[n - 1] : "?";
      if (detail)
        std::printf("  %3llu %-24s exit %4d  %s %s\n",
                    static_cast<unsigned long long>(n), call.c_str(),
                    r.exitCode, kOutcomeNames[outcome], why.c_str());
      if (outcome == kFailureReported || outcome == kIgnored)
        EXPECT_EQ(r.faultNumber, n) << call << ": the fault did not fire";
      else
        ADD_FAILURE() << kind.name << ": call " << n << " " << call << ": "
                      << kOutcomeNames[outcome] << " (exit " << r.exitCode
                      << ") " << why;
      // A fault that fails the install, then each later call.
      if ((kind.pairs || allPairs) && outcome == kFailureReported &&
          r.exitCode == 1603)
        for (uint64_t m = n + 1; m <= r.calls; ++m)
          pairs.push_back(Plan{n, m});
    }
    int pairFailures = 0;
    int unreached = 0;
    const std::vector<Report> pairReports = RunAll(kind, pairs);
    for (size_t k = 0; k < pairs.size(); ++k) {
      const std::string why = PairFault(pairReports[k], kind.log);
      // The threads' calls may come in another order from run to run, so a
      // run may end before the second call is reached; it is counted apart.
      if (why.empty() && pairReports[k].faultsFired.size() != 2)
        ++unreached;
      if (why.empty())
        continue;
      ++pairFailures;
      ADD_FAILURE() << kind.name << ": calls " << pairs[k].first << " and "
                    << pairs[k].second << " fail: " << why;
    }
    char pairColumns[64];
    std::snprintf(pairColumns, sizeof pairColumns, " | %5zu | %13d | %19d",
                  pairs.size(), pairFailures, unreached);
    PrintRow(kind.name, clean.calls, counts, pairColumns);
    // Program Manager refuses one command, or stops answering at it.
    const int commands = static_cast<int>(clean.commands.size());
    for (Progman progman : {Progman::RefusesCommand, Progman::HangsAtCommand}) {
      const bool refuses = progman == Progman::RefusesCommand;
      int ddeCounts[kOutcomes] = {};
      std::vector<Plan> ddePlans;
      for (int c = 1; c <= commands; ++c)
        ddePlans.push_back(Plan{0, 0, progman, c});
      std::vector<Report> ddeReports = RunAll(kind, ddePlans);
      for (int c = 1; c <= commands; ++c) {
        Report &r = ddeReports[static_cast<size_t>(c - 1)];
        r.faultCall = "DdeClientTransaction";
        std::string why;
        Outcome outcome = Classify(clean, r, &why);
        // Refused: DMLERR_NOTPROCESSED; no answer: DMLERR_EXECACKTIMEOUT.
        if ((outcome == kFailureReported || outcome == kIgnored) &&
            !ShowsNewBox(clean, r) &&
            !LogNamesFault(r, refuses ? "16393" : "16389")) {
          why = "neither a message nor a log line names the command";
          outcome = kUnseen;
        }
        // A command that is not carried out always shows: as the group's
        // warning after a success, or inside a failure that is reported.
        if (outcome == kIgnored) {
          why = "the command's failure ended as a plain success";
          outcome = kOther;
        }
        ++ddeCounts[outcome];
        if (detail)
          std::printf("  command %d %s: exit %4d  %s %s\n", c,
                      refuses ? "refused" : "unanswered", r.exitCode,
                      kOutcomeNames[outcome], why.c_str());
        if (outcome != kFailureReported && outcome != kIgnored)
          ADD_FAILURE() << kind.name << ": command " << c
                        << (refuses ? " refused: " : " unanswered: ")
                        << kOutcomeNames[outcome] << " (exit " << r.exitCode
                        << ") " << why;
      }
      PrintRow(std::string(kind.name) +
                   (refuses ? ", a command refused" : ", a command unanswered"),
               static_cast<uint64_t>(commands), ddeCounts, "");
    }
  }
}

} // namespace
