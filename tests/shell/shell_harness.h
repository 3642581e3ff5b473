// Runs the whole setup on the stand-in: media folder, Windows directory and
// install directory in a temporary folder, sibling programs registered as
// in-process bodies, message boxes answered by a script.
#ifndef TESTS_SHELL_SHELL_HARNESS_H
#define TESTS_SHELL_SHELL_HARNESS_H

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "shell/install_dialog.h"
#include "shell/resource_ids.h"
#include "shell/setup_app.h"
#include "standin/dde.h"
#include "standin/journal.h"
#include "standin/kernel.h"
#include "standin/registry.h"
#include "standin/security.h"
#include "standin/user.h"
#include "state/install_state.h"
#include "support/machine_fixture.h"

namespace shelltest {

const UINT kErrorFlags = 0x00040010;    // MB_TOPMOST | MB_ICONERROR
const UINT kWarningFlags = 0x00040030;  // MB_TOPMOST | MB_ICONWARNING
const UINT kQuestionFlags = 0x00040024; // MB_YESNO | MB_ICONQUESTION | ...
const UINT kPromptFlags = 0x00040001;   // MB_OKCANCEL | MB_TOPMOST

const char kFailureText[] = "VKO Halvermont Installation Failed!";
const char kFailureCaption[] = "Abort Installation";
const char kPlatformText[] =
    "VKO Halvermont Only Design for Windows95 and Windows NT4.0 PlatForm!";
const char kInstalledText[] = "This system has installed VKO Halvermont!\n"
                              "Please Uninstall VKO Halvermont first, before "
                              "you reinstall!";
const char kQuestionText[] = "Do you want to exit VKO Halvermont installation?";
const char kMonitorKey[] = "HKLM\\SOFTWARE\\VKO\\DMI\\LM78";

class ShellTest : public testsupport::MachineTest {
protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(MachineTest::SetUp());
    // A mode the Welcome dialog never stores, so that every test sees the
    // dialog's own choice.
    g_customMode = 7;
    mainThread_ = std::this_thread::get_id();
    // A hand-off file left over from an earlier run.
    WriteFile(HandoffPath(), "0\r\n0\r\nC:\\OLD\r\n");
  }

  // ---- media ----
  // A sibling program that succeeds: it leaves a hand-off file naming the
  // install directory, and for the pre-setup program the two data files.
  void AddSibling(const std::string &commandLine, bool dataFiles = false) {
    std::string handoff = "1\r\n0\r\n" + installDir_ + "\r\n";
    std::string cfg = installDir_ + "\\default.cfg";
    std::string log = installDir_ + "\\setup.log";
    std::string path = HandoffPath();
    standin::registerProgram(commandLine, [=]() -> DWORD {
      WriteFile(path, handoff);
      if (dataFiles) {
        WriteFile(cfg, std::string(1400, '\x01'));
        WriteFile(log, "[files]\n#item\n");
      }
      return 0;
    });
  }
  // Media on which every step succeeds.
  void GoodMedia() {
    AddSibling(Sondel());
    AddSibling(Quillan(), true);
    AddSibling(Tessary());
  }
  bool Started(const std::string &commandLine) const {
    for (const auto &call : standin::createProcessCalls())
      if (call.commandLine && *call.commandLine == commandLine)
        return true;
    return false;
  }

  // ---- answers ----
  // Answers boxes in order; a box beyond the script gets the default.
  void Answer(std::vector<int> answers) {
    auto script = std::make_shared<std::vector<int>>(std::move(answers));
    auto next = std::make_shared<std::atomic<size_t>>(0);
    standin::setMessageBoxResponder(
        [script, next](const standin::MessageBoxCall &box) {
          size_t i = (*next)++;
          if (i < script->size())
            return (*script)[i];
          return (box.flags & 0xF) == MB_YESNO ? IDNO : IDOK;
        });
  }
  // Clicks and commands sent to the Welcome dialog as soon as it is up.
  void OnWelcome(std::function<void(HWND)> act) {
    standin::onDialogInitialised(IDD_WELCOME, std::move(act));
  }
  void ClickInstall() {
    OnWelcome([](HWND w) { standin::click(w, IDC_INSTALL); });
  }

  // ---- the run ----
  // The framework's start-up code, as the program's entry point calls it;
  // returns the process exit status.
  int RunSetup() {
    char commandLine[] = "";
    return AfxWinMain(nullptr, commandLine, SW_SHOWNORMAL);
  }

  static std::vector<std::string> Captions() {
    std::vector<std::string> out;
    for (const auto &box : standin::messageBoxes())
      out.push_back(box.caption);
    return out;
  }
  HWND Backdrop() const { return standin::lastDialog(IDD_BACKDROP); }
  HWND Welcome() const { return standin::lastDialog(IDD_WELCOME); }

  std::thread::id mainThread_;
};

} // namespace shelltest

#endif
