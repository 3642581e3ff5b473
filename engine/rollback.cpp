// Rollback after a failed installation, run on the user-interface thread.
#include "engine/rollback.h"

#include <windows.h>

#include "engine/external_steps.h"
#include "state/install_log.h"
#include "state/install_state.h"
#include "system/progman_client.h"
#include "system/registry_layout.h"
#include "text/bounded_text.h"
#include "text/product_name.h"

// Asks Program Manager to delete the suite's group. Returns 1 when Program
// Manager carried out the command. The wait holds the user-interface thread,
// so it is the short one; a missing Program Manager only costs the retry
// waits.
static int DeleteProgramGroup() {
  ProgmanConnect();
  char command[256] = "";
  int accepted = 0;
  if (AppendText(command, "[DeleteGroup(") &&
      AppendText(command, PRODUCT_NAME) && AppendText(command, ",1)]"))
    accepted = ProgmanExecute(command, PROGMAN_UI_TIMEOUT_MS) == 1;
  ProgmanDisconnect();
  return accepted;
}

void RollbackInstall() {
  LogLine("rollback: %d changes of this run to undo, the last first",
          static_cast<int>(g_changeCount));
  // Undone in the reverse order of the changes, so a key this run created
  // is empty again by the time it is deleted. What the run did not change
  // stays as it was.
  int notUndone = 0;
  for (int32_t i = g_changeCount - 1; i >= 0; --i) {
    const RecordedChange &change = g_changes[i];
    if (change.kind == kGroupCreated) {
      if (DeleteProgramGroup() == 0) {
        LogLine("rollback: program group \"" PRODUCT_NAME "\": not undone");
        ++notUndone;
      }
    } else if (!UndoRegistryChange(change)) {
      ++notUndone;
    }
  }
  g_changeCount = 0;

  // A failed installation does not arm a relaunch of the setup at the next
  // start of Windows: nothing is written to RunOnce.
  if (notUndone == 0)
    LogLine("rollback: done, the machine is as the installation found it");
  else
    LogLine("rollback: done, %d changes not undone", notUndone);
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
