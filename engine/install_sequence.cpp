// The install sequence run by the worker thread.
#include "engine/install_sequence.h"

#include "engine/external_steps.h"
#include "engine/system_restart.h"
#include "import/defaults_file.h"
#include "import/program_group.h"
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
  return RegisterProductEntries() != 0 ? 1 : 0;
}

int FinishInstall() {
  // Without the file list (missing, or a name too long to compose) there is
  // nothing to put into a group, so no group is made; the installation still
  // ends with its prompt.
  char path[256];
  FILE *fileList = nullptr;
  if (ComposePath(path, g_installDir, "\\setup.log"))
    fileList = std::fopen(path, "r");

  // The suite needs every entry: one that is not stored is a failed
  // installation, before the group is made or success is announced.
  if (FinishInstallEntries() != 0) {
    if (fileList != nullptr)
      std::fclose(fileList);
    return 1;
  }

  if (fileList != nullptr) {
    CreateProgramGroup(fileList);
    std::fclose(fileList);
  }

  Sleep(1000);
  const int answer = MessageBoxA(
      g_installHostWindow,
      PRODUCT_NAME ", successfully Installed!\nWindows will restart now! ",
      "Success", MB_OKCANCEL | MB_TOPMOST);
  int32_t exitCode = kExitRestartRequired;
  if (answer == IDOK && RestartWindows() == 0)
    exitCode = kExitRestartStarted;
  g_exitCode.store(exitCode);

  if (g_installHostWindow != nullptr)
    SendMessageA(g_installHostWindow, WM_INSTALL_FINISHED, 0, 0);
  return 0;
}
