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

// The setup log names each key by its path below HKEY_LOCAL_MACHINE, as the
// setup composed it from the names it opened one below the other. The
// names of the keys open at the moment are kept here while a log is open;
// the oldest gives way when more are open than fit. The registry is never
// used by both threads at once, so neither is this table.
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
  if (LogIsOpen()) {
    char path[LOG_PATH_SIZE];
    SubkeyPath(path, parent, name);
    LogLine("%s %s: status %d", create ? "RegCreateKeyA" : "RegOpenKeyA", path,
            static_cast<int>(status));
    if (status == ERROR_SUCCESS)
      RememberKeyName(*key, path);
  }
  return status;
}

HKEY OpenRegistryKey(HKEY parent, const char *name) {
  HKEY key = nullptr;
  if (parent == nullptr ||
      OpenOrCreateKey(parent, name, &key, false) != ERROR_SUCCESS)
    return nullptr;
  return key;
}

HKEY CreateRegistryKey(HKEY parent, const char *name) {
  HKEY key = nullptr;
  if (parent == nullptr ||
      OpenOrCreateKey(parent, name, &key, true) != ERROR_SUCCESS)
    return nullptr;
  return key;
}

void CloseRegistryKey(HKEY key) {
  if (key == nullptr)
    return;
  const LONG status = RegCloseKey(key);
  if (LogIsOpen()) {
    // Only a failure is worth a line: every key the setup opens is closed.
    if (status != ERROR_SUCCESS) {
      char path[LOG_PATH_SIZE];
      KeyPath(path, key);
      LogLine("RegCloseKey %s: status %d", path, static_cast<int>(status));
    }
    ForgetKeyName(key);
  }
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

bool SetRegistryValue(HKEY key, const char *name, DWORD type, const BYTE *data,
                      DWORD size) {
  if (key == nullptr) {
    LogLine("RegSetValueExA \"%s\" %s %u bytes: not called, its key is not "
            "open",
            name, TypeName(type), static_cast<unsigned>(size));
    return false;
  }
  const LONG status = RegSetValueExA(key, name, 0, type, data, size);
  if (!LogIsOpen())
    return status == ERROR_SUCCESS;
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
  return status == ERROR_SUCCESS;
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

static void DeleteKey(HKEY parent, const char *name) {
  if (parent == nullptr)
    return;
  const LONG status = RegDeleteKeyA(parent, name);
  if (LogIsOpen()) {
    char path[LOG_PATH_SIZE];
    SubkeyPath(path, parent, name);
    LogLine("RegDeleteKeyA %s: status %d", path, static_cast<int>(status));
  }
}

static void DeleteValue(HKEY key, const char *name) {
  if (key == nullptr)
    return;
  const LONG status = RegDeleteValueA(key, name);
  if (LogIsOpen()) {
    char path[LOG_PATH_SIZE];
    KeyPath(path, key);
    LogLine("RegDeleteValueA %s \"%s\": status %d", path, name,
            static_cast<int>(status));
  }
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
  g_pathStored = stored ? 1 : 0;

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
// "Extended base" group. Its "Enum" and "Security" subkeys go first.
// True when all four are stored; the two subkeys are usually missing, so
// their deletion may fail.
static bool WriteDriverService(HKEY services, const char *name) {
  HKEY service = CreateRegistryKey(services, name);
  DeleteKey(service, "Enum");
  DeleteKey(service, "Security");
  bool stored = SetDword(service, "Type", 1);
  stored = SetDword(service, "Start", 0) && stored;
  stored = SetDword(service, "ErrorControl", 1) && stored;
  stored = SetText(service, "Group", "Extended base") && stored;
  CloseRegistryKey(service);
  return stored;
}

int FinishInstallEntries() {
  HKEY product = OpenRegistryKey(HKEY_LOCAL_MACHINE, "Software\\VKO\\DMI");
  bool stored = SetDword(product, "Security", 3);
  stored = SetDword(product, "AMA", g_amaSetting) && stored;
  CloseRegistryKey(product);

  if (g_platform == 0) {
    HKEY services = OpenRegistryKey(HKEY_LOCAL_MACHINE,
                                    "system\\currentcontrolset\\services");
    stored = WriteDriverService(services, "VEZUDA") && stored;
    stored = WriteDriverService(services, "Riveze") && stored;
    CloseRegistryKey(services);
  }
  return stored ? 0 : 1;
}

// Deletes a driver service key: its "Enum" and "Security" subkeys through
// the service key's own handle, then the key itself.
static void RemoveDriverService(HKEY services, const char *name) {
  HKEY service = OpenRegistryKey(services, name);
  DeleteKey(service, "Enum");
  DeleteKey(service, "Security");
  DeleteKey(services, name);
  CloseRegistryKey(service);
}

void RollbackInstallEntries() {
  if (g_platform == 0) {
    HKEY services = OpenRegistryKey(HKEY_LOCAL_MACHINE,
                                    "system\\currentcontrolset\\services");
    RemoveDriverService(services, "VEZUDA");
    RemoveDriverService(services, "Riveze");
    CloseRegistryKey(services);
  }

  HKEY software = OpenRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE");
  HKEY vko = OpenRegistryKey(software, "VKO");
  HKEY product = OpenRegistryKey(vko, "DMI");
  DeleteValue(product, "AMA");
  DeleteValue(product, "Security");
  // The install path only when this run stored it: an earlier run's stays.
  if (g_pathStored == 1)
    DeleteValue(product, "path");
  DeleteKey(product, "LM78");
  DeleteKey(product, "LM75");
  CloseRegistryKey(product);
  CloseRegistryKey(vko);
  CloseRegistryKey(software);

  software = OpenRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE");
  HKEY microsoft = OpenRegistryKey(software, "MicroSoft");
  HKEY windows = OpenRegistryKey(microsoft, "Windows");
  HKEY currentVersion = OpenRegistryKey(windows, "CurrentVersion");
  HKEY uninstall = OpenRegistryKey(currentVersion, "Uninstall");
  DeleteKey(uninstall, "VKO DMI");
  HKEY run = OpenRegistryKey(currentVersion, "Run");
  DeleteValue(run, "ZEZOroza");
  CloseRegistryKey(run);
  CloseRegistryKey(uninstall);
  CloseRegistryKey(currentVersion);
  CloseRegistryKey(windows);
  CloseRegistryKey(microsoft);
  CloseRegistryKey(software);
}
