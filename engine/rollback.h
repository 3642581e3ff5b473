// Removal of the suite's registry entries and program group after a failed
// installation.
#ifndef ENGINE_ROLLBACK_H
#define ENGINE_ROLLBACK_H

#include <windows.h>

// Undoes the record of this run's changes, the last first: the keys and
// values it created are deleted, the values it replaced get their earlier
// type and bytes back, and the program group goes only if this run created
// it. Entries whose earlier state was not known stay, and every entry not
// undone is named in the log. Shows nothing.
void RollbackInstall();

// The failure report of the abort procedure: the failure message, owned by
// `owner`, then deletion of the hand-off file.
void ReportInstallFailure(HWND owner);

#endif
