// The suite's registry layout, all under HKEY_LOCAL_MACHINE:
//   SOFTWARE\VKO\DMI            "path", "Security", "AMA"
//   SOFTWARE\VKO\DMI\LM78, LM75 monitor defaults (written by the import)
//   ...\CurrentVersion\Run      "ZEZOroza"
//   ...\CurrentVersion\Uninstall\VKO DMI
//   system\currentcontrolset\services\VEZUDA, Riveze (Windows NT only)
// Key and value names compare without regard to case, so "SOFTWARE" and
// "Software", and "MicroSoft" for Microsoft, name the same keys.
#include "system/registry_layout.h"

#include <cstring>

#include "state/install_log.h"
#include "state/install_state.h"
#include "text/bounded_text.h"
#include "text/product_name.h"

// The setup log and the record of this run's changes name each key by its
// path below HKEY_LOCAL_MACHINE, as the setup composed it from the names it
// opened one below the other. The names of the keys open at the moment are
// kept here; the oldest gives way when more are open than fit (the setup
// closes its keys, so a dozen at most are open at once). The registry is
// never used by both threads at once, so neither is this table.
#define KEY_NAME_SLOTS 32
struct KeyName {
  HKEY key;
  char path[LOG_PATH_SIZE];
};
static KeyName s_keyNames[KEY_NAME_SLOTS];
static size_t s_nextKeyName = 0;

// Appends `text` to `path`, as much as fits.
static void AppendCut(char (&path)[LOG_PATH_SIZE], const char *text) {
  size_t used = std::strlen(path);
  while (*text != '\0' && used + 1 < sizeof(path))
    path[used++] = *text++;
  path[used] = '\0';
}

// The log's name of `key`: "HKLM", or the path it was opened by.
static void KeyPath(char (&path)[LOG_PATH_SIZE], HKEY key) {
  path[0] = '\0';
  if (key == HKEY_LOCAL_MACHINE) {
    AppendCut(path, "HKLM");
    return;
  }
  for (const KeyName &slot : s_keyNames) {
    if (key != nullptr && slot.key == key) {
      AppendCut(path, slot.path);
      return;
    }
  }
  AppendCut(path, "(a key of unknown name)");
}

// The log's name of `name` below `parent`.
static void SubkeyPath(char (&path)[LOG_PATH_SIZE], HKEY parent,
                       const char *name) {
  KeyPath(path, parent);
  AppendCut(path, "\\");
  AppendCut(path, name != nullptr ? name : "");
}

static void RememberKeyName(HKEY key, const char (&path)[LOG_PATH_SIZE]) {
  KeyName &slot = s_keyNames[s_nextKeyName];
  s_nextKeyName = (s_nextKeyName + 1) % KEY_NAME_SLOTS;
  slot.key = key;
  std::memcpy(slot.path, path, sizeof(slot.path));
}

static void ForgetKeyName(HKEY key) {
  for (KeyName &slot : s_keyNames)
    if (slot.key == key)
      slot.key = nullptr;
}

// RegOpenKeyA or RegCreateKeyA (`create`) of `name` below `parent`, logged
// with its status; the new key's name is kept for the lines that use it.
static LONG OpenOrCreateKey(HKEY parent, const char *name, HKEY *key,
                            bool create) {
  const LONG status = create ? RegCreateKeyA(parent, name, key)
                             : RegOpenKeyA(parent, name, key);
  char path[LOG_PATH_SIZE];
  SubkeyPath(path, parent, name);
  LogLine("%s %s: status %d", create ? "RegCreateKeyA" : "RegOpenKeyA", path,
          static_cast<int>(status));
  if (status == ERROR_SUCCESS)
    RememberKeyName(*key, path);
  return status;
}

HKEY OpenRegistryKey(HKEY parent, const char *name) {
  HKEY key = nullptr;
  if (parent == nullptr ||
      OpenOrCreateKey(parent, name, &key, false) != ERROR_SUCCESS)
    return nullptr;
  return key;
}

// The record's name of a key: its path below HKEY_LOCAL_MACHINE, without
// the log's "HKLM\". False when the key's name is not known or too long.
static bool RecordPath(char (&out)[CHANGE_KEY_SIZE],
                       const char (&path)[LOG_PATH_SIZE]) {
  static const char root[] = "HKLM\\";
  if (std::strncmp(path, root, sizeof(root) - 1) != 0)
    return false;
  return CopyText(out, sizeof(out), path + sizeof(root) - 1);
}

// A new entry at the end of the record, for `path` and `name`; null, with a
// log line, when the record is full or the names do not fit.
static RecordedChange *NewChange(ChangeKind kind,
                                 const char (&path)[LOG_PATH_SIZE],
                                 const char *name) {
  if (g_changeCount >= CHANGE_RECORD_SLOTS) {
    LogLine("record of changes: full, %s \"%s\" not changed", path, name);
    return nullptr;
  }
  RecordedChange &change = g_changes[g_changeCount];
  change.kind = kind;
  change.type = REG_NONE;
  change.size = 0;
  if (!RecordPath(change.key, path) ||
      !CopyText(change.name, sizeof(change.name), name)) {
    LogLine("record of changes: %s \"%s\" has no name to keep, not changed",
            path, name);
    return nullptr;
  }
  ++g_changeCount;
  return &change;
}

HKEY CreateRegistryKey(HKEY parent, const char *name) {
  HKEY key = nullptr;
  if (parent == nullptr)
    return nullptr;
  // An existing key is the user's, or an earlier installation's: it is
  // opened, and stays whatever happens to this run.
  const LONG found = OpenOrCreateKey(parent, name, &key, false);
  if (found == ERROR_SUCCESS)
    return key;
  char path[LOG_PATH_SIZE];
  SubkeyPath(path, parent, name);
  // A key whose existence cannot be read may be the user's: the rollback
  // leaves it.
  RecordedChange *change = NewChange(
      found == ERROR_FILE_NOT_FOUND ? kKeyCreated : kKeyUnknown, path, "");
  if (change == nullptr)
    return nullptr;
  if (found != ERROR_FILE_NOT_FOUND)
    LogLine("%s: not known whether it exists, treated as the user's", path);
  if (OpenOrCreateKey(parent, name, &key, true) != ERROR_SUCCESS) {
    --g_changeCount;
    return nullptr;
  }
  return key;
}

void CloseRegistryKey(HKEY key) {
  if (key == nullptr)
    return;
  const LONG status = RegCloseKey(key);
  // Only a failure is worth a line: every key the setup opens is closed.
  if (status != ERROR_SUCCESS && LogIsOpen()) {
    char path[LOG_PATH_SIZE];
    KeyPath(path, key);
    LogLine("RegCloseKey %s: status %d", path, static_cast<int>(status));
  }
  ForgetKeyName(key);
}

static const char *TypeName(DWORD type) {
  switch (type) {
  case REG_SZ:
    return "REG_SZ";
  case REG_DWORD:
    return "REG_DWORD";
  case REG_BINARY:
    return "REG_BINARY";
  }
  return "REG_NONE";
}

// RegSetValueExA, logged; returns its status.
static LONG WriteValue(HKEY key, const char *name, DWORD type, const BYTE *data,
                       DWORD size) {
  const LONG status = RegSetValueExA(key, name, 0, type, data, size);
  if (!LogIsOpen())
    return status;
  char path[LOG_PATH_SIZE];
  KeyPath(path, key);
  // The data as well where it is short: a text (its first bytes, so that
  // the status always fits the line), or a number.
  char shown[320] = "";
  if (type == REG_SZ && size > 0) {
    shown[0] = ' ';
    shown[1] = '"';
    EscapeBytes(shown + 2, sizeof(shown) - 3, data, size - 1);
    std::strcat(shown, "\"");
  } else if (type == REG_DWORD && size == sizeof(DWORD)) {
    DWORD number;
    std::memcpy(&number, data, sizeof(number));
    wsprintfA(shown, " %d", static_cast<int>(number));
  }
  LogLine("RegSetValueExA %s \"%s\" %s %u bytes%s: status %d", path, name,
          TypeName(type), static_cast<unsigned>(size), shown,
          static_cast<int>(status));
  return status;
}

// Records the value `name` of `key` as it is before this run writes it.
// False when the write must not be made: the record is full, or the earlier
// bytes do not fit the record's buffer (the value is the user's and is kept
// whole rather than lost).
static bool RecordValue(HKEY key, const char *name) {
  char path[LOG_PATH_SIZE];
  KeyPath(path, key);
  RecordedChange *change = NewChange(kValueReplaced, path, name);
  if (change == nullptr)
    return false;
  change->size = sizeof(change->data);
  const LONG status = RegQueryValueExA(key, name, nullptr, &change->type,
                                       change->data, &change->size);
  LogLine("RegQueryValueExA %s \"%s\": status %d", path, name,
          static_cast<int>(status));
  if (status == ERROR_SUCCESS)
    return true;
  if (status == ERROR_FILE_NOT_FOUND) {
    change->kind = kValueCreated;
    return true;
  }
  if (status == ERROR_MORE_DATA) {
    LogLine("%s \"%s\": its earlier value of %u bytes is more than the %u "
            "that can be kept; it stays the user's, not written",
            path, name, static_cast<unsigned>(change->size),
            static_cast<unsigned>(CHANGE_VALUE_SIZE));
    --g_changeCount;
    return false;
  }
  change->kind = kValueUnknown;
  LogLine("%s \"%s\": its earlier value cannot be read, treated as the "
          "user's",
          path, name);
  return true;
}

bool SetRegistryValue(HKEY key, const char *name, DWORD type, const BYTE *data,
                      DWORD size) {
  if (key == nullptr) {
    LogLine("RegSetValueExA \"%s\" %s %u bytes: not called, its key is not "
            "open",
            name, TypeName(type), static_cast<unsigned>(size));
    return false;
  }
  if (!RecordValue(key, name))
    return false;
  if (WriteValue(key, name, type, data, size) == ERROR_SUCCESS)
    return true;
  // Nothing was written, so there is nothing to undo.
  --g_changeCount;
  return false;
}

void FlushRegistry() {
  const LONG status = RegFlushKey(HKEY_LOCAL_MACHINE);
  LogLine("RegFlushKey HKLM: status %d", static_cast<int>(status));
}

// Writes a REG_SZ value with its terminating zero. False when it is not
// stored: its key could not be opened, or the registry refused the write.
static bool SetText(HKEY key, const char *name, const char *text) {
  return SetRegistryValue(key, name, REG_SZ,
                          reinterpret_cast<const BYTE *>(text),
                          static_cast<DWORD>(std::strlen(text) + 1));
}

// Writes a REG_DWORD value (little-endian, so -1 is FF FF FF FF); false as
// SetText.
static bool SetDword(HKEY key, const char *name, int32_t number) {
  DWORD value = static_cast<DWORD>(number);
  return SetRegistryValue(key, name, REG_DWORD,
                          reinterpret_cast<const BYTE *>(&value),
                          sizeof(value));
}

// RegDeleteKeyA of `name` below `parent`, logged; its status, or
// ERROR_INVALID_HANDLE when `parent` is not open (then no call is made).
static LONG DeleteKey(HKEY parent, const char *name) {
  if (parent == nullptr)
    return ERROR_INVALID_HANDLE;
  const LONG status = RegDeleteKeyA(parent, name);
  if (LogIsOpen()) {
    char path[LOG_PATH_SIZE];
    SubkeyPath(path, parent, name);
    LogLine("RegDeleteKeyA %s: status %d", path, static_cast<int>(status));
  }
  return status;
}

// RegDeleteValueA, logged; its status as DeleteKey.
static LONG DeleteValue(HKEY key, const char *name) {
  if (key == nullptr)
    return ERROR_INVALID_HANDLE;
  const LONG status = RegDeleteValueA(key, name);
  if (LogIsOpen()) {
    char path[LOG_PATH_SIZE];
    KeyPath(path, key);
    LogLine("RegDeleteValueA %s \"%s\": status %d", path, name,
            static_cast<int>(status));
  }
  return status;
}

int IsInstalled() {
  HKEY software = nullptr;
  LONG status =
      OpenOrCreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE", &software, false);
  HKEY vko = nullptr;
  if (status == ERROR_SUCCESS)
    status = OpenOrCreateKey(software, "VKO", &vko, false);
  HKEY product = nullptr;
  if (status == ERROR_SUCCESS)
    status = OpenOrCreateKey(vko, "DMI", &product, false);
  HKEY monitor = nullptr;
  if (status == ERROR_SUCCESS)
    status = OpenOrCreateKey(product, "LM78", &monitor, false);
  if (status == ERROR_SUCCESS)
    CloseRegistryKey(monitor);
  CloseRegistryKey(product);
  CloseRegistryKey(vko);
  CloseRegistryKey(software);
  return static_cast<int>(status);
}

// Composes the command that Windows runs for the suite's program `file`:
// the install directory, a backslash and `file`. Windows runs an unquoted
// command holding a blank by trying each text up to a blank first
// (C:\Program.exe for C:\Program Files\...), so such a command is stored in
// double quotes; one without a blank keeps its bare bytes, as earlier
// installations stored it. Returns false, and the command is not to be
// written, when it does not fit the 256-byte buffer whole.
static bool ComposeCommand(char (&command)[256], const char *file) {
  // The two file names hold no blank; the directory may.
  const char *quote = std::strchr(g_installDir, ' ') != nullptr ? "\"" : "";
  command[0] = '\0';
  return AppendText(command, quote) && AppendText(command, g_installDir) &&
         AppendText(command, "\\") && AppendText(command, file) &&
         AppendText(command, quote);
}

int RegisterProductEntries() {
  HKEY software = OpenRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE");
  HKEY vko = OpenRegistryKey(software, "VKO");
  HKEY product = OpenRegistryKey(vko, "DMI");
  bool stored = SetText(product, "path", g_installDir);

  HKEY microsoft = OpenRegistryKey(software, "MicroSoft");
  HKEY windows = OpenRegistryKey(microsoft, "Windows");
  HKEY currentVersion = OpenRegistryKey(windows, "CurrentVersion");
  HKEY run = CreateRegistryKey(currentVersion, "Run");

  // A command too long to compose is left out by design; one that is not
  // stored fails the registration, as every other entry.
  char command[256];
  if (ComposeCommand(command, "Zezoroza.exe"))
    stored = SetText(run, "ZEZOroza", command) && stored;

  HKEY uninstall = OpenRegistryKey(currentVersion, "Uninstall");
  HKEY entry = CreateRegistryKey(uninstall, "VKO DMI");
  stored = SetText(entry, "DisplayName", PRODUCT_NAME) && stored;
  if (ComposeCommand(command, "Dovrel.exe"))
    stored = SetText(entry, "UninstallString", command) && stored;

  FlushRegistry();

  CloseRegistryKey(entry);
  CloseRegistryKey(uninstall);
  CloseRegistryKey(run);
  CloseRegistryKey(currentVersion);
  CloseRegistryKey(windows);
  CloseRegistryKey(microsoft);
  CloseRegistryKey(product);
  CloseRegistryKey(vko);
  CloseRegistryKey(software);
  return stored ? 0 : 1;
}

// The four values that declare a kernel driver loaded at boot, in the
// "Extended base" group. Returns the service key (null when it cannot be
// opened or created) and sets `stored` false when a value is not stored.
static HKEY WriteDriverService(HKEY services, const char *name, bool &stored) {
  HKEY service = CreateRegistryKey(services, name);
  stored = SetDword(service, "Type", 1) && stored;
  stored = SetDword(service, "Start", 0) && stored;
  stored = SetDword(service, "ErrorControl", 1) && stored;
  stored = SetText(service, "Group", "Extended base") && stored;
  return service;
}

// A driver service's "Enum" and "Security" subkeys go once every entry is
// stored: they are this install's last registry change, after which nothing
// fails the installation, so a failed installation never has to bring them
// back. Usually missing, so their deletion may fail.
static void ClearDriverService(HKEY service) {
  DeleteKey(service, "Enum");
  DeleteKey(service, "Security");
  CloseRegistryKey(service);
}

int FinishInstallEntries() {
  HKEY product = OpenRegistryKey(HKEY_LOCAL_MACHINE, "Software\\VKO\\DMI");
  bool stored = SetDword(product, "Security", 3);
  stored = SetDword(product, "AMA", g_amaSetting) && stored;
  CloseRegistryKey(product);

  if (g_platform == 0) {
    HKEY services = OpenRegistryKey(HKEY_LOCAL_MACHINE,
                                    "system\\currentcontrolset\\services");
    HKEY vezuda = WriteDriverService(services, "VEZUDA", stored);
    HKEY riveze = WriteDriverService(services, "Riveze", stored);
    if (stored) {
      ClearDriverService(vezuda);
      ClearDriverService(riveze);
    } else {
      CloseRegistryKey(vezuda);
      CloseRegistryKey(riveze);
    }
    CloseRegistryKey(services);
  }
  return stored ? 0 : 1;
}

// The log's name of a recorded entry: the key, and the value in quotes.
static void ChangeName(char (&text)[LOG_PATH_SIZE],
                       const RecordedChange &change) {
  text[0] = '\0';
  const bool value = change.kind == kValueCreated ||
                     change.kind == kValueReplaced ||
                     change.kind == kValueUnknown;
  AppendCut(text, value ? "value HKLM\\" : "key HKLM\\");
  AppendCut(text, change.key);
  if (value) {
    AppendCut(text, " \"");
    AppendCut(text, change.name);
    AppendCut(text, "\"");
  }
}

// Splits the record's key path at its last backslash: `parent` receives the
// path before it, the result points at the last name.
static const char *SplitKeyPath(char (&parent)[CHANGE_KEY_SIZE],
                                const char *path) {
  CopyText(parent, path);
  char *last = nullptr;
  for (char *c = parent; *c != '\0'; ++c)
    if (*c == '\\')
      last = c;
  if (last == nullptr) {
    parent[0] = '\0';
    return path;
  }
  *last = '\0';
  return path + (last - parent) + 1;
}

bool UndoRegistryChange(const RecordedChange &change) {
  char name[LOG_PATH_SIZE];
  ChangeName(name, change);
  if (change.kind == kKeyUnknown || change.kind == kValueUnknown) {
    LogLine("rollback: %s: left, its earlier state unknown", name);
    return false;
  }
  LONG status = ERROR_SUCCESS;
  const char *call = "RegOpenKeyA";
  HKEY key = nullptr;
  if (change.kind == kKeyCreated) {
    char parent[CHANGE_KEY_SIZE];
    const char *last = SplitKeyPath(parent, change.key);
    key = parent[0] != '\0' ? OpenRegistryKey(HKEY_LOCAL_MACHINE, parent)
                            : HKEY_LOCAL_MACHINE;
    if (key != nullptr) {
      call = "RegDeleteKeyA";
      status = DeleteKey(key, last);
    }
  } else {
    key = OpenRegistryKey(HKEY_LOCAL_MACHINE, change.key);
    if (key != nullptr && change.kind == kValueCreated) {
      call = "RegDeleteValueA";
      status = DeleteValue(key, change.name);
    } else if (key != nullptr) {
      call = "RegSetValueExA";
      status =
          WriteValue(key, change.name, change.type, change.data, change.size);
    }
  }
  if (key == nullptr)
    status = -1;
  if (key != HKEY_LOCAL_MACHINE)
    CloseRegistryKey(key);
  if (status == ERROR_SUCCESS)
    return true;
  if (status == -1)
    LogLine("rollback: %s: not undone, its key cannot be opened", name);
  else
    LogLine("rollback: %s: not undone, %s status %d", name, call,
            static_cast<int>(status));
  return false;
}
