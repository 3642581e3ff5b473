// Test-facing side of the stand-in registry: an in-memory tree under the
// predefined roots (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT,
// HKEY_USERS) that the Reg* functions of <windows.h> work on.
//
// Key paths in this interface start with a root name, either long
// ("HKEY_LOCAL_MACHINE\SOFTWARE\VKO") or short ("HKLM\SOFTWARE\VKO"); the
// names compare without regard to case. An empty value name is the default
// value (written "@" in .reg files).
//
// Journal entries (standin/journal.h), one per registry call, in the form
//   RegOpenKeyA <key> "<subkey>" -> <status>
//   RegOpenKeyExA <key> "<subkey>" access=0x<mask> -> <status>
//   RegCreateKeyA <key> "<subkey>" -> <status>
//   RegSetValueExA <key> "<name>" type=<type> size=<cbData> -> <status>
//   RegDeleteKeyA <key> "<subkey>" -> <status>
//   RegDeleteValueA <key> "<name>" -> <status>
//   RegFlushKey <key> -> <status>
//   RegCloseKey <key> -> <status>
// <key> is the full path of the key behind the handle, spelt as the key was
// created (HKEY_LOCAL_MACHINE for the root itself), or <invalid> for a handle
// that is not open; a null subkey or name shows as (null). <status> is the
// decimal result, <mask> the access asked for in 8-digit upper-case hex.
// RegQueryValueExA is not journaled (tests call it too), but it is one of
// the fault plan's counted calls.
#ifndef STANDIN_REGISTRY_H
#define STANDIN_REGISTRY_H

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace standin {

struct RegValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// Empties every root, forgets every handle (later calls through an old handle
// fail with ERROR_INVALID_HANDLE), zeroes the counters, stops refusing writes,
// runs as an administrator again and drops the backing file.
void resetRegistry();

// Direct access for tests: neither journaled nor subject to refused writes.
bool regKeyExists(const std::string &path);
std::optional<RegValue> regValue(const std::string &path,
                                 const std::string &name);
// Subkey and value names of a key, spelt as created, in creation order.
std::vector<std::string> regSubkeys(const std::string &path);
std::vector<std::string> regValueNames(const std::string &path);
// Creates the key and every missing level; false when the path names no root.
bool regPutKey(const std::string &path);
// Creates the key as needed and stores the value.
bool regPutValue(const std::string &path, const std::string &name, DWORD type,
                 const std::vector<BYTE> &data);
// A REG_SZ holding the text and one terminating zero.
bool regPutString(const std::string &path, const std::string &name,
                  const std::string &text);
bool regPutDword(const std::string &path, const std::string &name, DWORD value);

// Number of successful RegFlushKey calls since the last reset.
int regFlushCount();
// Number of handles that RegOpenKeyA/RegCreateKeyA handed out and
// RegCloseKey has not yet released (the predefined roots do not count).
int regOpenHandleCount();

// While set, RegSetValueExA, RegCreateKeyA, RegDeleteKeyA and RegDeleteValueA
// fail with ERROR_ACCESS_DENIED and change nothing; RegOpenKeyA of existing
// keys still works.
void regRefuseWrites(bool refuse);

// Whether the process runs as an administrator of Windows NT (true after
// resetRegistry). On Windows NT (the stand-in's GetVersion without bit 31;
// the Windows 95 family keeps no rights) an ordinary user reads keys under
// HKEY_LOCAL_MACHINE but
// may change nothing there: RegOpenKeyExA of such a key asking for more than
// KEY_READ (and SYNCHRONIZE), RegCreateKeyA of a key that does not exist,
// RegSetValueExA, RegDeleteKeyA and RegDeleteValueA fail with
// ERROR_ACCESS_DENIED. RegOpenKeyA, and RegCreateKeyA of an existing key,
// still open it. Keys under the other roots stay writable.
void regSetAdministrator(bool isAdministrator);

// The registry as REGEDIT4 text, and loading such text (see regedit4 in
// standin/regfile.h). Loading adds to what is there.
std::string regExportText();
bool regImportText(const std::string &text, std::string *error = nullptr);
bool regSaveFile(const std::string &file);
bool regLoadFile(const std::string &file, std::string *error = nullptr);
// When set, every successful RegFlushKey also saves the whole registry to
// this file; an empty name stops it.
void regSetBackingFile(const std::string &file);

// The journal entries of registry calls, in call order.
std::vector<std::string> regJournal();

} // namespace standin

#endif
