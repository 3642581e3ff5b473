// The stand-in registry: an in-memory tree of keys per predefined root, with
// handles that stay valid (and report ERROR_KEY_DELETED) when their key is
// deleted underneath them.
#include "standin/registry.h"
#include "standin/faults.h"
#include "standin/journal.h"
#include "standin/regfile.h"
#include "text_compare.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace {

struct Key;
using KeyPtr = std::shared_ptr<Key>;

struct Key {
  std::string name;
  std::string path; // full path, spelt as created
  std::weak_ptr<Key> parent;
  std::vector<KeyPtr> subkeys;
  std::vector<standin::RegFileValue> values;
  bool deleted = false;
};

struct RootName {
  HKEY hkey;
  const char *name;
  const char *shortName;
};

const RootName kRoots[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", "HKCR"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "HKCU"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "HKLM"},
    {HKEY_USERS, "HKEY_USERS", "HKU"},
};
const int kRootCount = 4;

std::mutex regMutex;
KeyPtr roots[kRootCount];
std::map<uintptr_t, KeyPtr> handles;
uintptr_t nextHandle = 0x1000;
int flushCount = 0;
bool refuseWrites = false;
bool administrator = true;
std::string backingFile;

bool sameName(const std::string &a, const std::string &b) {
  return standin::sameTextIgnoringCase(a, b);
}

KeyPtr &rootSlot(int i) {
  if (!roots[i]) {
    roots[i] = std::make_shared<Key>();
    roots[i]->name = kRoots[i].name;
    roots[i]->path = kRoots[i].name;
  }
  return roots[i];
}

int rootIndex(HKEY h) {
  for (int i = 0; i < kRootCount; ++i)
    if (kRoots[i].hkey == h)
      return i;
  return -1;
}

// Splits "a\b\c" into names. A leading backslash or an empty name between
// two backslashes is a bad path; one trailing backslash is tolerated.
bool splitPath(const char *sub, std::vector<std::string> &names) {
  names.clear();
  if (!sub || !*sub)
    return true;
  std::string s(sub);
  if (s[0] == '\\')
    return false;
  if (s.back() == '\\')
    s.pop_back();
  size_t start = 0;
  while (true) {
    size_t bs = s.find('\\', start);
    std::string name = s.substr(
        start, bs == std::string::npos ? std::string::npos : bs - start);
    if (name.empty())
      return false;
    names.push_back(name);
    if (bs == std::string::npos)
      return true;
    start = bs + 1;
  }
}

KeyPtr findChild(const KeyPtr &k, const std::string &name) {
  for (const KeyPtr &c : k->subkeys)
    if (sameName(c->name, name))
      return c;
  return nullptr;
}

KeyPtr walk(KeyPtr k, const std::vector<std::string> &names) {
  for (const std::string &n : names) {
    k = findChild(k, n);
    if (!k)
      return nullptr;
  }
  return k;
}

KeyPtr walkCreate(KeyPtr k, const std::vector<std::string> &names) {
  for (const std::string &n : names) {
    KeyPtr c = findChild(k, n);
    if (!c) {
      c = std::make_shared<Key>();
      c->name = n;
      c->path = k->path + "\\" + n;
      c->parent = k;
      k->subkeys.push_back(c);
    }
    k = c;
  }
  return k;
}

// Resolves a handle: the key, or null with the error in *status.
KeyPtr resolve(HKEY h, LONG *status) {
  int r = rootIndex(h);
  if (r >= 0) {
    *status = ERROR_SUCCESS;
    return rootSlot(r);
  }
  auto it = handles.find(reinterpret_cast<uintptr_t>(h));
  if (it == handles.end()) {
    *status = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  if (it->second->deleted) {
    *status = ERROR_KEY_DELETED;
    return nullptr;
  }
  *status = ERROR_SUCCESS;
  return it->second;
}

std::string keyText(HKEY h) {
  int r = rootIndex(h);
  if (r >= 0)
    return kRoots[r].name;
  auto it = handles.find(reinterpret_cast<uintptr_t>(h));
  return it == handles.end() ? "<invalid>" : it->second->path;
}

// The rights an ordinary user of Windows NT holds on keys under
// HKEY_LOCAL_MACHINE: reading, enumerating and being notified. Anything
// else (setting values, creating subkeys or links, deleting, changing
// the security) needs an administrator.
const REGSAM kUserRights = KEY_READ | SYNCHRONIZE;

// True when the key lies under HKEY_LOCAL_MACHINE (or is that root) and
// the process does not run as an administrator.
// Only Windows NT keeps rights on keys: on the Windows 95 family (bit 31 of
// the version) every caller may change every key.
bool machineKeyReadOnly(const KeyPtr &k) {
  static const std::string root = "HKEY_LOCAL_MACHINE";
  return !administrator && (GetVersion() & 0x80000000u) == 0 &&
         k->path.compare(0, root.size(), root) == 0 &&
         (k->path.size() == root.size() || k->path[root.size()] == '\\');
}

std::string hex8(DWORD v) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", v);
  return text;
}

std::string quoted(const char *s) {
  return s ? "\"" + std::string(s) + "\"" : "(null)";
}

LONG logged(const std::string &entry, LONG status) {
  standin::journal(entry + " -> " + std::to_string(status));
  return status;
}

HKEY newHandle(const KeyPtr &k) {
  uintptr_t value = nextHandle;
  nextHandle += 4;
  handles[value] = k;
  return reinterpret_cast<HKEY>(value);
}

// A handle for the key reached by an empty subkey: the root itself, or a
// new handle to the same key.
HKEY handleFor(HKEY parent, const KeyPtr &k, bool sameAsParent) {
  if (sameAsParent && rootIndex(parent) >= 0)
    return parent;
  return newHandle(k);
}

standin::RegFileValue *findValue(const KeyPtr &k, const std::string &name) {
  for (standin::RegFileValue &v : k->values)
    if (sameName(v.name, name))
      return &v;
  return nullptr;
}

// Test-API paths: a root name, long or short, then names.
KeyPtr rootOfPath(const std::string &path, std::vector<std::string> &names) {
  size_t bs = path.find('\\');
  std::string root = path.substr(0, bs);
  std::string rest = bs == std::string::npos ? "" : path.substr(bs + 1);
  for (int i = 0; i < kRootCount; ++i)
    if (sameName(root, kRoots[i].name) || sameName(root, kRoots[i].shortName))
      return splitPath(rest.c_str(), names) ? rootSlot(i) : nullptr;
  return nullptr;
}

KeyPtr lookupPath(const std::string &path) {
  std::vector<std::string> names;
  KeyPtr root = rootOfPath(path, names);
  return root ? walk(root, names) : nullptr;
}

void snapshot(const KeyPtr &k, std::vector<standin::RegFileKey> &out,
              bool isRoot) {
  if (!isRoot || !k->values.empty())
    out.push_back(standin::RegFileKey{k->path, k->values});
  for (const KeyPtr &c : k->subkeys)
    snapshot(c, out, false);
}

std::vector<standin::RegFileKey> snapshotAll() {
  std::vector<standin::RegFileKey> out;
  for (int i = 0; i < kRootCount; ++i)
    snapshot(rootSlot(i), out, true);
  return out;
}

} // namespace

namespace {

// The open shared by RegOpenKeyA and RegOpenKeyExA; with `checkRights` an
// ordinary user's request for more than reading a machine key is refused.
// The caller holds regMutex.
LONG openKey(const std::string &entry, HKEY hKey, LPCSTR lpSubKey,
             bool checkRights, REGSAM samDesired, PHKEY phkResult) {
  *phkResult = nullptr;
  LONG status;
  KeyPtr k = resolve(hKey, &status);
  if (!k)
    return logged(entry, status);
  std::vector<std::string> names;
  if (!splitPath(lpSubKey, names))
    return logged(entry, ERROR_BAD_PATHNAME);
  KeyPtr target = walk(k, names);
  if (!target)
    return logged(entry, ERROR_FILE_NOT_FOUND);
  if (checkRights && machineKeyReadOnly(target) &&
      (samDesired & ~kUserRights) != 0)
    return logged(entry, ERROR_ACCESS_DENIED);
  *phkResult = handleFor(hKey, target, names.empty());
  return logged(entry, ERROR_SUCCESS);
}

} // namespace

LONG WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  std::lock_guard<std::mutex> lock(regMutex);
  std::string entry = "RegOpenKeyA " + keyText(hKey) + " " + quoted(lpSubKey);
  if (standin::faultHere("RegOpenKeyA")) {
    if (phkResult)
      *phkResult = nullptr;
    return logged(entry, ERROR_REGISTRY_IO_FAILED);
  }
  if (!phkResult)
    return logged(entry, ERROR_INVALID_PARAMETER);
  return openKey(entry, hKey, lpSubKey, false, 0, phkResult);
}

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions,
                          REGSAM samDesired, PHKEY phkResult) {
  std::lock_guard<std::mutex> lock(regMutex);
  std::string entry = "RegOpenKeyExA " + keyText(hKey) + " " +
                      quoted(lpSubKey) + " access=0x" + hex8(samDesired);
  if (standin::faultHere("RegOpenKeyExA")) {
    if (phkResult)
      *phkResult = nullptr;
    return logged(entry, ERROR_REGISTRY_IO_FAILED);
  }
  if (!phkResult || ulOptions != 0)
    return logged(entry, ERROR_INVALID_PARAMETER);
  return openKey(entry, hKey, lpSubKey, true, samDesired, phkResult);
}

LONG WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  std::lock_guard<std::mutex> lock(regMutex);
  std::string entry = "RegCreateKeyA " + keyText(hKey) + " " + quoted(lpSubKey);
  if (standin::faultHere("RegCreateKeyA")) {
    if (phkResult)
      *phkResult = nullptr;
    return logged(entry, ERROR_REGISTRY_IO_FAILED);
  }
  if (!phkResult)
    return logged(entry, ERROR_INVALID_PARAMETER);
  *phkResult = nullptr;
  LONG status;
  KeyPtr k = resolve(hKey, &status);
  if (!k)
    return logged(entry, status);
  std::vector<std::string> names;
  if (!splitPath(lpSubKey, names))
    return logged(entry, ERROR_BAD_PATHNAME);
  if (refuseWrites)
    return logged(entry, ERROR_ACCESS_DENIED);
  // An ordinary user may open an existing machine key this way, but not
  // create one.
  KeyPtr existing = walk(k, names);
  if (machineKeyReadOnly(k) && !existing)
    return logged(entry, ERROR_ACCESS_DENIED);
  KeyPtr target = existing ? existing : walkCreate(k, names);
  *phkResult = handleFor(hKey, target, names.empty());
  return logged(entry, ERROR_SUCCESS);
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType,
                           const BYTE *lpData, DWORD cbData) {
  std::lock_guard<std::mutex> lock(regMutex);
  std::string entry = "RegSetValueExA " + keyText(hKey) + " " +
                      quoted(lpValueName) + " type=" + std::to_string(dwType) +
                      " size=" + std::to_string(cbData);
  if (standin::faultHere("RegSetValueExA")) {
    return logged(entry, ERROR_REGISTRY_IO_FAILED);
  }
  LONG status;
  KeyPtr k = resolve(hKey, &status);
  if (!k)
    return logged(entry, status);
  if (!lpData && cbData > 0)
    return logged(entry, ERROR_INVALID_PARAMETER);
  if (refuseWrites || machineKeyReadOnly(k))
    return logged(entry, ERROR_ACCESS_DENIED);
  std::string name = lpValueName ? lpValueName : "";
  std::vector<BYTE> data(lpData, lpData + cbData);
  if (standin::RegFileValue *v = findValue(k, name)) {
    v->type = dwType;
    v->data = data;
  } else {
    k->values.push_back(standin::RegFileValue{name, dwType, data});
  }
  return logged(entry, ERROR_SUCCESS);
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                             LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  std::lock_guard<std::mutex> lock(regMutex);
  if (standin::faultHere("RegQueryValueExA"))
    return ERROR_REGISTRY_IO_FAILED;
  LONG status;
  KeyPtr k = resolve(hKey, &status);
  if (!k)
    return status;
  if (lpReserved || (lpData && !lpcbData))
    return ERROR_INVALID_PARAMETER;
  standin::RegFileValue *v = findValue(k, lpValueName ? lpValueName : "");
  if (!v)
    return ERROR_FILE_NOT_FOUND;
  if (lpType)
    *lpType = v->type;
  DWORD size = static_cast<DWORD>(v->data.size());
  if (lpData) {
    if (*lpcbData < size) {
      *lpcbData = size;
      return ERROR_MORE_DATA;
    }
    if (size)
      std::memcpy(lpData, v->data.data(), size);
  }
  if (lpcbData)
    *lpcbData = size;
  return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  std::lock_guard<std::mutex> lock(regMutex);
  std::string entry = "RegDeleteKeyA " + keyText(hKey) + " " + quoted(lpSubKey);
  if (standin::faultHere("RegDeleteKeyA")) {
    return logged(entry, ERROR_REGISTRY_IO_FAILED);
  }
  LONG status;
  KeyPtr k = resolve(hKey, &status);
  if (!k)
    return logged(entry, status);
  if (!lpSubKey)
    return logged(entry, ERROR_INVALID_PARAMETER);
  std::vector<std::string> names;
  if (!splitPath(lpSubKey, names))
    return logged(entry, ERROR_BAD_PATHNAME);
  KeyPtr target = walk(k, names);
  if (!target)
    return logged(entry, ERROR_FILE_NOT_FOUND);
  KeyPtr parent = target->parent.lock();
  // A root has no parent and cannot be deleted; neither can a key that
  // still has subkeys.
  if (!parent || !target->subkeys.empty() || refuseWrites ||
      machineKeyReadOnly(target))
    return logged(entry, ERROR_ACCESS_DENIED);
  for (size_t i = 0; i < parent->subkeys.size(); ++i) {
    if (parent->subkeys[i] == target) {
      parent->subkeys.erase(parent->subkeys.begin() +
                            static_cast<std::ptrdiff_t>(i));
      break;
    }
  }
  target->deleted = true;
  target->values.clear();
  return logged(entry, ERROR_SUCCESS);
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  std::lock_guard<std::mutex> lock(regMutex);
  std::string entry =
      "RegDeleteValueA " + keyText(hKey) + " " + quoted(lpValueName);
  if (standin::faultHere("RegDeleteValueA")) {
    return logged(entry, ERROR_REGISTRY_IO_FAILED);
  }
  LONG status;
  KeyPtr k = resolve(hKey, &status);
  if (!k)
    return logged(entry, status);
  if (refuseWrites || machineKeyReadOnly(k))
    return logged(entry, ERROR_ACCESS_DENIED);
  std::string name = lpValueName ? lpValueName : "";
  for (size_t i = 0; i < k->values.size(); ++i) {
    if (sameName(k->values[i].name, name)) {
      k->values.erase(k->values.begin() + static_cast<std::ptrdiff_t>(i));
      return logged(entry, ERROR_SUCCESS);
    }
  }
  return logged(entry, ERROR_FILE_NOT_FOUND);
}

LONG WINAPI RegFlushKey(HKEY hKey) {
  std::lock_guard<std::mutex> lock(regMutex);
  std::string entry = "RegFlushKey " + keyText(hKey);
  if (standin::faultHere("RegFlushKey")) {
    return logged(entry, ERROR_REGISTRY_IO_FAILED);
  }
  LONG status;
  KeyPtr k = resolve(hKey, &status);
  if (!k)
    return logged(entry, status);
  // A flush that cannot reach the backing file has not made anything
  // persistent and says so.
  if (!backingFile.empty() &&
      !standin::writeRegFile(backingFile, snapshotAll()))
    return logged(entry, ERROR_ACCESS_DENIED);
  ++flushCount;
  return logged(entry, ERROR_SUCCESS);
}

LONG WINAPI RegCloseKey(HKEY hKey) {
  std::lock_guard<std::mutex> lock(regMutex);
  std::string entry = "RegCloseKey " + keyText(hKey);
  if (rootIndex(hKey) >= 0)
    return logged(entry, ERROR_SUCCESS);
  auto it = handles.find(reinterpret_cast<uintptr_t>(hKey));
  if (it == handles.end())
    return logged(entry, ERROR_INVALID_HANDLE);
  handles.erase(it);
  return logged(entry, ERROR_SUCCESS);
}

namespace standin {

void resetRegistry() {
  std::lock_guard<std::mutex> lock(regMutex);
  for (KeyPtr &r : roots)
    r.reset();
  handles.clear();
  flushCount = 0;
  refuseWrites = false;
  administrator = true;
  backingFile.clear();
}

bool regKeyExists(const std::string &path) {
  std::lock_guard<std::mutex> lock(regMutex);
  return lookupPath(path) != nullptr;
}

std::optional<RegValue> regValue(const std::string &path,
                                 const std::string &name) {
  std::lock_guard<std::mutex> lock(regMutex);
  KeyPtr k = lookupPath(path);
  if (!k)
    return std::nullopt;
  RegFileValue *v = findValue(k, name);
  if (!v)
    return std::nullopt;
  return RegValue{v->type, v->data};
}

std::vector<std::string> regSubkeys(const std::string &path) {
  std::lock_guard<std::mutex> lock(regMutex);
  std::vector<std::string> out;
  if (KeyPtr k = lookupPath(path))
    for (const KeyPtr &c : k->subkeys)
      out.push_back(c->name);
  return out;
}

std::vector<std::string> regValueNames(const std::string &path) {
  std::lock_guard<std::mutex> lock(regMutex);
  std::vector<std::string> out;
  if (KeyPtr k = lookupPath(path))
    for (const RegFileValue &v : k->values)
      out.push_back(v.name);
  return out;
}

namespace {
KeyPtr putKeyLocked(const std::string &path) {
  std::vector<std::string> names;
  KeyPtr root = rootOfPath(path, names);
  return root ? walkCreate(root, names) : nullptr;
}

bool putValueLocked(const std::string &path, const std::string &name,
                    DWORD type, const std::vector<BYTE> &data) {
  KeyPtr k = putKeyLocked(path);
  if (!k)
    return false;
  if (RegFileValue *v = findValue(k, name)) {
    v->type = type;
    v->data = data;
  } else {
    k->values.push_back(RegFileValue{name, type, data});
  }
  return true;
}
} // namespace

bool regPutKey(const std::string &path) {
  std::lock_guard<std::mutex> lock(regMutex);
  return putKeyLocked(path) != nullptr;
}

bool regPutValue(const std::string &path, const std::string &name, DWORD type,
                 const std::vector<BYTE> &data) {
  std::lock_guard<std::mutex> lock(regMutex);
  return putValueLocked(path, name, type, data);
}

bool regPutString(const std::string &path, const std::string &name,
                  const std::string &text) {
  std::vector<BYTE> data(text.begin(), text.end());
  data.push_back(0);
  return regPutValue(path, name, REG_SZ, data);
}

bool regPutDword(const std::string &path, const std::string &name,
                 DWORD value) {
  return regPutValue(path, name, REG_DWORD,
                     {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                      static_cast<BYTE>(value >> 16),
                      static_cast<BYTE>(value >> 24)});
}

int regFlushCount() {
  std::lock_guard<std::mutex> lock(regMutex);
  return flushCount;
}

int regOpenHandleCount() {
  std::lock_guard<std::mutex> lock(regMutex);
  return static_cast<int>(handles.size());
}

void regRefuseWrites(bool refuse) {
  std::lock_guard<std::mutex> lock(regMutex);
  refuseWrites = refuse;
}

void regSetAdministrator(bool isAdministrator) {
  std::lock_guard<std::mutex> lock(regMutex);
  administrator = isAdministrator;
}

std::string regExportText() {
  std::lock_guard<std::mutex> lock(regMutex);
  return formatRegText(snapshotAll());
}

namespace {
bool importKeys(const std::vector<RegFileKey> &keys, std::string *error) {
  std::lock_guard<std::mutex> lock(regMutex);
  // Check every section first so that a bad file changes nothing.
  for (const RegFileKey &key : keys) {
    std::vector<std::string> names;
    if (!rootOfPath(key.path, names)) {
      if (error)
        *error = "unknown key path: " + key.path;
      return false;
    }
  }
  for (const RegFileKey &key : keys) {
    putKeyLocked(key.path);
    for (const RegFileValue &v : key.values)
      putValueLocked(key.path, v.name, v.type, v.data);
  }
  return true;
}
} // namespace

bool regImportText(const std::string &text, std::string *error) {
  std::vector<RegFileKey> keys;
  return parseRegText(text, keys, error) && importKeys(keys, error);
}

bool regSaveFile(const std::string &file) {
  std::lock_guard<std::mutex> lock(regMutex);
  return writeRegFile(file, snapshotAll());
}

bool regLoadFile(const std::string &file, std::string *error) {
  std::vector<RegFileKey> keys;
  return readRegFile(file, keys, error) && importKeys(keys, error);
}

void regSetBackingFile(const std::string &file) {
  std::lock_guard<std::mutex> lock(regMutex);
  backingFile = file;
}

std::vector<std::string> regJournal() {
  std::vector<std::string> out;
  for (const std::string &e : journalEntries())
    if (e.compare(0, 3, "Reg") == 0)
      out.push_back(e);
  return out;
}

} // namespace standin
