// The suite's registry entries under HKEY_LOCAL_MACHINE: the test for an
// existing installation and the registry work of registering, finishing and
// rolling back an installation.
#ifndef SYSTEM_REGISTRY_LAYOUT_H
#define SYSTEM_REGISTRY_LAYOUT_H

#include <windows.h>

#include "state/install_state.h"

// Every call below is logged with its status while the setup log is open.

// Opens `name` under `parent` with RegOpenKeyA. Returns the new handle, or
// null when the open fails or `parent` is null (then no call is made), so a
// failed open never leaves a usable handle behind.
HKEY OpenRegistryKey(HKEY parent, const char *name);
// Opens the key, or creates it with RegCreateKeyA when it is missing; a key
// this run creates goes into the record of its changes.
HKEY CreateRegistryKey(HKEY parent, const char *name);
// Closes `key` unless it is null.
void CloseRegistryKey(HKEY key);
// RegSetValueExA of `size` bytes at `data` into `key`, unless `key` is null
// (then no call is made); the log records its status. The value's earlier
// state goes into the record of this run's changes first (RegQueryValueExA);
// a value whose earlier bytes do not fit the record is the user's and is not
// written. True when the value is stored.
bool SetRegistryValue(HKEY key, const char *name, DWORD type, const BYTE *data,
                      DWORD size);
// RegFlushKey of HKEY_LOCAL_MACHINE; its status is only logged.
void FlushRegistry();

// 0 when SOFTWARE\VKO\DMI\LM78 exists (an installation is present),
// nonzero otherwise.
int IsInstalled();

// After the monitor defaults are imported: "path" in the product key, the
// start-up entry in Run, the uninstall entry "VKO DMI"; then a flush. The two
// commands are in double quotes when the install directory holds a blank;
// one that does not fit 255 characters is not written. Returns 0, or 1 when
// an entry could not be stored (a key that cannot be opened or created, a
// write the registry refuses); every entry is still attempted.
int RegisterProductEntries();

// "Security" and "AMA" in the product key; on Windows NT the two driver
// service keys. Returns 0, or 1 as RegisterProductEntries.
int FinishInstallEntries();

// Undoes one entry of the record of this run's changes: deletes a key or
// value this run created, writes a replaced value's earlier type and bytes
// back. An entry whose earlier state was not known is left, and the log says
// so; an undo that fails is logged with its call and status. True when the
// entry is undone. Creates no key and does not flush.
bool UndoRegistryChange(const RecordedChange &change);

#endif
