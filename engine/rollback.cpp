// Rollback after a failed installation, run on the user-interface thread.
#include "engine/rollback.h"

#include <windows.h>

#include "engine/external_steps.h"
#include "state/install_log.h"
#include "system/progman_client.h"
#include "system/registry_layout.h"
#include "text/bounded_text.h"
#include "text/product_name.h"

void RollbackInstall() {
  LogLine("rollback: the suite's registry entries, then its program group");
  RollbackInstallEntries();

  // A failed installation does not arm a relaunch of the setup at the next
  // start of Windows: nothing is written to RunOnce.

  // The group is deleted whether or not it exists; a missing Program Manager
  // only costs the retry waits. The wait holds the user-interface thread, so
  // it is the short one.
  ProgmanConnect();
  char command[256] = "";
  if (AppendText(command, "[DeleteGroup(") &&
      AppendText(command, PRODUCT_NAME) && AppendText(command, ",1)]"))
    ProgmanExecute(command, PROGMAN_UI_TIMEOUT_MS);
  ProgmanDisconnect();
  LogLine("rollback: done");
}

void ReportInstallFailure(HWND owner) {
  const int shown =
      MessageBoxA(owner, PRODUCT_NAME " Installation Failed!",
                  "Abort Installation", MB_TOPMOST | MB_ICONERROR);
  LogLine("failure message \"" PRODUCT_NAME " Installation Failed!\": %s",
          shown != 0 ? "shown" : "not shown (MessageBoxA returned 0)");

  // A Windows directory too long for the name's buffer leaves no name to
  // delete: a cut-short name could name another file.
  char handoffName[HANDOFF_NAME_SIZE];
  if (GetHandoffFileName(handoffName, sizeof(handoffName))) {
    const BOOL deleted = DeleteFileA(handoffName);
    char outcome[32];
    LogLine("DeleteFileA \"%s\": %s", handoffName,
            CallOutcome(outcome, deleted != FALSE, GetLastError()));
  }
}
