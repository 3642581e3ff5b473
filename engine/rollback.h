// Removal of the suite's registry entries and program group after a failed
// installation.
#ifndef ENGINE_ROLLBACK_H
#define ENGINE_ROLLBACK_H

#include <windows.h>

// Deletes the suite's entries by name (the driver services on Windows NT, the
// product's values and monitor keys, the uninstall and start-up entries) and
// asks Program Manager to delete the group. Reports nothing.
void RollbackInstall();

// The failure report of the abort procedure: the failure message, owned by
// `owner`, then deletion of the hand-off file.
void ReportInstallFailure(HWND owner);

#endif
