// The install sequence run by the worker thread.
#include "engine/install_sequence.h"

#include "engine/external_steps.h"
#include "engine/system_restart.h"
#include "import/defaults_file.h"
#include "import/program_group.h"
#include "state/install_log.h"
#include "state/install_state.h"
#include "system/registry_layout.h"
#include "text/bounded_text.h"
#include "text/product_name.h"

#include <cstdio>

// Exit status of a finished installation: restart under way, or restart
// still needed to complete it.
static const int32_t kExitRestartStarted = 1641;
static const int32_t kExitRestartRequired = 3010;

// Composes `directory` followed by `file` into `path` (256 bytes). False when
// the whole name does not fit: a cut name would start or open something else.
static bool ComposePath(char (&path)[256], const char *directory,
                        const char *file) {
  path[0] = '\0';
  return AppendText(path, directory) && AppendText(path, file);
}

// Runs one sibling program. Returns 0 to go on; nonzero when the sequence
// must stop, with g_installStatus already -1. A path too long to compose
// names a program that cannot be started, and is reported as such.
static int RunSibling(const char *directory, const char *file) {
  char path[256];
  if (directory == nullptr || !ComposePath(path, directory, file))
    return RunExternalStep(nullptr);
  return RunExternalStep(path);
}

void LogInstallHeader(const char *path) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  LogLine("MERRIK.EXE setup log, started %04u-%02u-%02u %02u:%02u:%02u, "
          "file \"%s\"",
          static_cast<unsigned>(now.wYear), static_cast<unsigned>(now.wMonth),
          static_cast<unsigned>(now.wDay), static_cast<unsigned>(now.wHour),
          static_cast<unsigned>(now.wMinute),
          static_cast<unsigned>(now.wSecond), path);
  char computer[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof(computer);
  if (GetComputerNameA(computer, &size))
    LogLine("computer \"%s\"", computer);
  else
    LogLine("GetComputerNameA: failed, error %u",
            static_cast<unsigned>(GetLastError()));
  char name[MODULE_NAME_SIZE];
  const DWORD length = GetModuleFileNameA(nullptr, name, sizeof(name));
  if (length == 0)
    LogLine("GetModuleFileNameA: failed, error %u",
            static_cast<unsigned>(GetLastError()));
  if (length == 0 || length >= sizeof(name))
    name[0] = '\0';
  else
    name[length] = '\0';
  LogLine("program \"%s\"", name);
  const char *commandLine = GetCommandLineA();
  LogLine("command line %s", commandLine != nullptr ? commandLine : "");
  const DWORD version = GetVersion();
  const int32_t platform = PlatformOfVersion(version);
  LogLine("GetVersion 0x%08X: %s", static_cast<unsigned>(version),
          platform == 1   ? "Windows 95 family, supported"
          : platform == 0 ? "Windows NT 4.0, supported"
                          : "unsupported");
  char windowsDir[HANDOFF_NAME_SIZE];
  const UINT written = GetWindowsDirectoryA(windowsDir, sizeof(windowsDir));
  if (written == 0)
    LogLine("GetWindowsDirectoryA: failed, error %u",
            static_cast<unsigned>(GetLastError()));
  if (written == 0 || written >= sizeof(windowsDir))
    LogLine("Windows directory: not to be had (GetWindowsDirectoryA %u)",
            static_cast<unsigned>(written));
  else
    LogLine("Windows directory \"%s\"", windowsDir);
  GetSourceDir();
  if (g_sourceDirTooLong)
    LogLine("media folder: too long, or the program's name not to be had");
  else
    LogLine("media folder \"%s\"", g_sourceDir);
}

int32_t PlatformOfVersion(DWORD version) {
  if (HIWORD(version) >= 0x8000)
    return 1;
  if (LOWORD(version) == 4)
    return 0;
  return -1;
}

DWORD WINAPI InstallWorker(LPVOID) {
  // A media folder too long to hold names no program on the media; its
  // empty stand-in would name programs at the root of the current drive.
  const char *media = g_sourceDirTooLong ? nullptr : g_sourceDir;
  if (RunSibling(media, "\\Utility\\Sondel.exe") != 0)
    return 0;
  if (RunSibling(media, "\\Utility\\Quillan.exe") != 0)
    return 0;
  // The configuration program lies in the install directory that the
  // pre-setup program has just named. That directory is judged where it is
  // used, before a program is started from it and before the product is
  // registered under it; the pre-install test's is never used.
  if (g_customMode == 1 && (CheckInstallDir() != 0 ||
                            RunSibling(g_installDir, "\\Tessary.exe") != 0))
    return 0;
  if (CheckInstallDir() != 0)
    return 0;
  if (RegisterProduct() != 0 || FinishInstall() != 0) {
    g_installStatus.store(-1);
    return 0;
  }
  g_installStatus.store(1);
  return 0;
}

int RegisterProduct() {
  if (ImportMonitorDefaults() != 0)
    return 1;
  if (RegisterProductEntries() != 0) {
    LogLine("registration: an entry was not stored, the installation fails");
    return 1;
  }
  return 0;
}

// The file list's line for the log: the path, the size, the verdict. The
// stream is left at its start, as the group's reader rewinds it anyway.
static void LogFileList(FILE *fileList, const char *path) {
  if (fileList == nullptr) {
    if (path[0] != '\0') {
      LogLine("setup.log \"%s\": missing (it cannot be opened), no program "
              "group",
              path);
      LogStreamFailure("setup.log");
    }
    return;
  }
  long size = -1;
  if (std::fseek(fileList, 0, SEEK_END) == 0)
    size = std::ftell(fileList);
  else
    LogStreamFailure("setup.log");
  const unsigned failures = StreamFailureCount();
  std::rewind(fileList);
  if (StreamFailureCount() != failures)
    LogStreamFailure("setup.log");
  LogLine("setup.log \"%s\", %d bytes: read for the program group", path,
          static_cast<int>(size));
}

// The warning that the suite is installed but its program group is missing
// or lacks items (`group` as CreateProgramGroup returns it), with the install
// directory, so that the user can find the programs.
static void WarnProgramGroup(int group) {
  const char *const headline =
      group == -1 ? "Can not create the " PRODUCT_NAME " program group!"
                  : "The " PRODUCT_NAME " program group lacks items!";
  char text[128 + 256] = "";
  if (!AppendText(text, headline) ||
      !AppendText(text, "\n" PRODUCT_NAME " is installed in ") ||
      !AppendText(text, g_installDir))
    return;
  const int shown = MessageBoxA(g_installHostWindow, text, "Warning",
                                MB_TOPMOST | MB_ICONWARNING);
  LogLine("message \"%s\" with the install directory: %s", headline,
          shown != 0 ? "shown" : "not shown (MessageBoxA returned 0)");
}

int FinishInstall() {
  // Without the file list (missing, or a name too long to compose) there is
  // nothing to put into a group, so no group is made; the installation still
  // ends with its prompt, after the warning that there is no group.
  char path[256];
  FILE *fileList = nullptr;
  const bool named = ComposePath(path, g_installDir, "\\setup.log");
  if (named)
    fileList = std::fopen(path, "r");
  else
    LogLine("setup.log: its name does not fit, no program group");
  if (LogIsOpen())
    LogFileList(fileList, named ? path : "");

  // The suite needs every entry: one that is not stored is a failed
  // installation, before the group is made or success is announced.
  if (FinishInstallEntries() != 0) {
    LogLine("product values and driver services: an entry was not stored, "
            "the installation fails");
    if (fileList != nullptr)
      std::fclose(fileList);
    return 1;
  }

  int group = -1;
  if (fileList != nullptr) {
    group = CreateProgramGroup(fileList);
    std::fclose(fileList);
  }

  Sleep(1000);
  if (group != 1)
    WarnProgramGroup(group);
  const int answer = MessageBoxA(
      g_installHostWindow,
      PRODUCT_NAME ", successfully Installed!\nWindows will restart now! ",
      "Success", MB_OKCANCEL | MB_TOPMOST);
  LogLine("success prompt: %s", answer == IDOK       ? "OK, restart"
                                : answer == IDCANCEL ? "Cancel, no restart"
                                                     : "no answer (MessageBoxA "
                                                       "returned 0)");
  int32_t exitCode = kExitRestartRequired;
  if (answer == IDOK && RestartWindows() == 0)
    exitCode = kExitRestartStarted;
  g_exitCode.store(exitCode);

  if (g_installHostWindow != nullptr)
    SendMessageA(g_installHostWindow, WM_INSTALL_FINISHED, 0, 0);
  return 0;
}
