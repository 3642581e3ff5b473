// The worker thread's install sequence: the sibling programs, the product's
// registration, and the finish with program group, success prompt and
// restart.
#ifndef ENGINE_INSTALL_SEQUENCE_H
#define ENGINE_INSTALL_SEQUENCE_H

#include <windows.h>

#include <cstdint>

// The platform test: 1 for the Windows 95 family (bit 31 of GetVersion's
// result, whatever the version), 0 for Windows NT 4.0 (major 4, minor 0),
// -1 for anything else.
int32_t PlatformOfVersion(DWORD version);

// The setup log's first lines, once it is open at `path`: the date and time,
// the program's file, the command line, GetVersion with the platform test's
// verdict, the Windows directory and the media folder (GetSourceDir runs for
// it).
void LogInstallHeader(const char *path);

// Thread procedure of the worker; the parameter is ignored. Runs the whole
// installation and leaves its outcome in g_installStatus: -1 after the first
// failure, 1 once FinishInstall has returned.
DWORD WINAPI InstallWorker(LPVOID parameter);

// Imports the monitor defaults, then writes the install path, the start-up
// entry and the uninstall entry. Returns 0; 1 when the defaults could not be
// imported (then nothing of its own is written) or an entry could not be
// stored.
int RegisterProduct();

// Writes the product's last values (and on Windows NT the driver services),
// creates the program group from setup.log, shows the success prompt,
// requests the restart on OK, sets g_exitCode (1641 restart accepted, 3010
// otherwise) and tells the install host, which then ends its run with 0.
// Returns 0; 1, before the group and the prompt, when the product's last
// values or the driver services could not be stored.
int FinishInstall();

// The worker's notice to the install host that the installation has finished.
// It is sent, not posted, so the host has asked its run to end before
// FinishInstall returns.
#define WM_INSTALL_FINISHED (WM_APP + 3)

#endif
