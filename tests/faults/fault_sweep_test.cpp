// The fault sweep: each platform call of a whole install fails once, one run
// per call. For each kind of run the run without a fault is counted first (K
// calls); then call n = 1..K fails in a run of its own, in a child process,
// so that a crash or a run that never ends is seen as such. Each run must end
// honestly: a success status only with everything stored that the fault-free
// run stores, a failure with the failure message, status 1603 and the
// registry as before the install, and never a registry value that the
// fault-free run does not leave (stale or foreign bytes).
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
};

// How Program Manager answers in a run.
enum class Progman { Answers, RefusesCommand, HangsAtCommand };

const RunKind kRuns[] = {
    {"Express on Windows 95", 0xC0000004, false, false, IDCANCEL, true},
    {"Express on Windows NT", 0x05650004, false, false, IDCANCEL, false},
    {"Custom on Windows NT", 0x05650004, true, false, IDCANCEL, false},
    {"pre-setup status 0 on Windows NT", 0x05650004, false, true, IDCANCEL,
     false},
    {"restart accepted on Windows NT", 0x05650004, false, false, IDOK, false},
};

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
  std::vector<std::string> log;      // the lines of the setup log
  std::vector<std::string> commands; // the execute commands sent
  std::vector<std::string> groups;   // each group: name, tab, item titles
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
  std::string RunInChild(const RunKind &kind, uint64_t faultAt, Progman progman,
                         int command) {
    SetUp();
    Prepare(kind);
    if (progman == Progman::RefusesCommand)
      standin::refuseProgmanCommand(command);
    else if (progman == Progman::HangsAtCommand)
      standin::hangProgmanAt(command);
    // The setup log, where a fault that shows no message must appear.
    const std::string log = base_ + "/sweep.log";
    standin::setCommandLine("\"" + sourceDir_ + "\\MERRIK.EXE\" /LOG=\"" + log +
                            "\"");
    std::map<std::string, std::string> before;
    Snapshot("HKLM", before);
    standin::resetFaults();
    standin::setFaultAt(faultAt);
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
    if (auto fault = standin::injectedFault())
      out << "fault\t" << fault->number << "\t" << fault->call << "\n";
    for (const std::string &command : standin::ddeCommands())
      out << "dde\t" << Escaped(command) << "\n";
    for (const auto &group : standin::progmanGroups()) {
      std::string items = group.name;
      for (const auto &item : group.items)
        items += "\t" + item.title;
      out << "group\t" << Escaped(items) << "\n";
    }
    std::istringstream logLines(testsupport::ReadFileOr(log, ""));
    std::string line;
    while (std::getline(logLines, line))
      out << "log\t" << Escaped(line) << "\n";
    out << "end\n";
    TearDown();
    return out.str();
  }

  Report Run(const RunKind &kind, uint64_t faultAt,
             Progman progman = Progman::Answers, int command = 0) {
    Report report;
    int fds[2];
    if (pipe(fds) != 0) {
      ADD_FAILURE() << "no pipe";
      return report;
    }
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
      close(fds[0]);
      const std::string text = RunInChild(kind, faultAt, progman, command);
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
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(kRunLimitMs);
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      deadline - std::chrono::steady_clock::now())
                      .count();
      pollfd p{fds[0], POLLIN, 0};
      if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) {
        report.hung = true;
        kill(child, SIGKILL);
        break;
      }
      char chunk[4096];
      ssize_t n = read(fds[0], chunk, sizeof chunk);
      if (n <= 0)
        break;
      text.append(chunk, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
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
      } else if (f[0] == "end")
        report.whole = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    return report;
  }
};

bool IsSuccessStatus(int code) { return code == 3010 || code == 1641; }

// The registry values of a snapshot, without its keys.
std::map<std::string, std::string>
Values(const std::map<std::string, std::string> &snapshot) {
  std::map<std::string, std::string> values;
  for (const auto &entry : snapshot)
    if (entry.first.back() != '\\')
      values.insert(entry);
  return values;
}

// The keys that a failed installation may leave: the rollback removes the
// suite's entries by name but leaves the product key and its parent.
bool RollbackKeepsKey(const std::string &key) {
  return key == "HKLM\\SOFTWARE\\VKO\\" || key == "HKLM\\SOFTWARE\\VKO\\DMI\\";
}

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
  if (IsSuccessStatus(r.exitCode) || IsSuccessStatus(clean.exitCode)) {
    // A success status, or the run that should have succeeded.
    if (IsSuccessStatus(r.exitCode)) {
      for (const auto &v : clean.after) {
        if (!r.after.count(v.first)) {
          *why = "success without " + v.first;
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
  }
  // A failure: 1603, or 1622 when the log itself cannot be opened.
  if (r.exitCode == 1603 || r.exitCode == 1622) {
    if (Values(r.after) != Values(r.before)) {
      for (const auto &v : Values(r.after))
        if (!r.before.count(v.first))
          *why = "failure leaves " + v.first;
      return kStale;
    }
    for (const auto &key : r.after) {
      if (!r.before.count(key.first) && !RollbackKeepsKey(key.first)) {
        *why = "failure leaves " + key.first;
        return kStale;
      }
    }
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

void PrintRow(const std::string &name, uint64_t k, const int *counts) {
  std::printf("%-56s %5llu", name.c_str(), static_cast<unsigned long long>(k));
  for (int i = 0; i < kOutcomes; ++i)
    std::printf(" | %*d", static_cast<int>(std::strlen(kOutcomeNames[i])),
                counts[i]);
  std::printf("\n");
}

TEST_F(FaultSweep, EveryPlatformCallFailsOnceAndEachRunEndsHonestly) {
  std::printf("\n%-56s %5s", "run", "K");
  for (const char *name : kOutcomeNames)
    std::printf(" | %s", name);
  std::printf("\n");
  for (const RunKind &kind : kRuns) {
    SCOPED_TRACE(kind.name);
    const Report clean = Run(kind, 0);
    ASSERT_TRUE(clean.whole) << "the fault-free run did not end";
    ASSERT_FALSE(clean.log.empty()) << "the fault-free run wrote no log";
    ASSERT_GT(clean.calls, 0u);
    EXPECT_EQ(clean.exitCode, kind.preSetupFails          ? 1603
                              : kind.promptAnswer == IDOK ? 1641
                                                          : 3010);
    // Without a fault the group is whole (a failed run deletes it).
    EXPECT_EQ(clean.groups, kind.preSetupFails ? std::vector<std::string>{}
                                               : std::vector<std::string>{
                                                     "VKO Halvermont\tHardware "
                                                     "Monitor\tUninstall VKO "
                                                     "Halvermont"});
    if (std::getenv("MERRIK_SWEEP_DETAIL") != nullptr) {
      for (size_t i = 0; i < clean.callNames.size(); ++i)
        std::printf("  call %3zu %s\n", i + 1, clean.callNames[i].c_str());
      for (const std::string &line : clean.log)
        std::printf("  log %s\n", line.c_str());
    }
    int counts[kOutcomes] = {};
    for (uint64_t n = 1; n <= clean.calls; ++n) {
      const Report r = Run(kind, n);
      std::string why;
      Outcome outcome = Classify(clean, r, &why);
      // Nothing fails unseen: the user sees a message, or the log names the
      // call with its failure.
      if ((outcome == kFailureReported || outcome == kIgnored) &&
          !ShowsNewBox(clean, r) && !LogNamesFault(r)) {
        why = "neither a message nor a log line names " + r.faultCall;
        outcome = kUnseen;
      }
      ++counts[outcome];
      const std::string call =
          n <= clean.callNames.size() ? clean.callNames[n - 1] : "?";
      if (std::getenv("MERRIK_SWEEP_DETAIL") != nullptr)
        std::printf("  %3llu %-24s exit %4d  %s %s\n",
                    static_cast<unsigned long long>(n), call.c_str(),
                    r.exitCode, kOutcomeNames[outcome], why.c_str());
      if (outcome == kFailureReported || outcome == kIgnored)
        EXPECT_EQ(r.faultNumber, n) << call << ": the fault did not fire";
      else
        ADD_FAILURE() << kind.name << ": call " << n << " " << call << ": "
                      << kOutcomeNames[outcome] << " (exit " << r.exitCode
                      << ") " << why;
    }
    PrintRow(kind.name, clean.calls, counts);

    // Program Manager refuses one command, or stops answering at it.
    const int commands = static_cast<int>(clean.commands.size());
    for (Progman progman : {Progman::RefusesCommand, Progman::HangsAtCommand}) {
      const bool refuses = progman == Progman::RefusesCommand;
      int ddeCounts[kOutcomes] = {};
      for (int c = 1; c <= commands; ++c) {
        Report r = Run(kind, 0, progman, c);
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
        if (std::getenv("MERRIK_SWEEP_DETAIL") != nullptr)
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
               static_cast<uint64_t>(commands), ddeCounts);
    }
  }
}

} // namespace
