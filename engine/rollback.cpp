// Rollback after a failed installation, run on the user-interface thread.
#include "engine/rollback.h"

#include "shell/setup_globals.h"
#include "system/bounded_text.h"
#include "system/progman_client.h"
#include "system/registry_layout.h"

void RollbackInstall() {
  RollbackInstallEntries();

  // A failed installation does not arm a relaunch of the setup at the next
  // start of Windows: nothing is written to RunOnce.

  // The group is deleted whether or not it exists; a missing Program Manager
  // only costs the retry waits.
  ProgmanConnect();
  char command[256] = "";
  if (AppendText(command, "[DeleteGroup(") &&
      AppendText(command, PRODUCT_NAME) && AppendText(command, ",1)]"))
    ProgmanExecute(command);
  ProgmanDisconnect();
}
