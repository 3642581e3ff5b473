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

#include "state/install_state.h"
#include "text/bounded_text.h"
#include "text/product_name.h"

HKEY OpenRegistryKey(HKEY parent, const char *name) {
  HKEY key = nullptr;
  if (parent == nullptr || RegOpenKeyA(parent, name, &key) != ERROR_SUCCESS)
    return nullptr;
  return key;
}

HKEY CreateRegistryKey(HKEY parent, const char *name) {
  HKEY key = nullptr;
  if (parent == nullptr || RegCreateKeyA(parent, name, &key) != ERROR_SUCCESS)
    return nullptr;
  return key;
}

void CloseRegistryKey(HKEY key) {
  if (key != nullptr)
    RegCloseKey(key);
}

// Writes a REG_SZ value with its terminating zero. False when it is not
// stored: its key could not be opened, or the registry refused the write.
static bool SetText(HKEY key, const char *name, const char *text) {
  return key != nullptr &&
         RegSetValueExA(
             key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
             static_cast<DWORD>(std::strlen(text) + 1)) == ERROR_SUCCESS;
}

// Writes a REG_DWORD value (little-endian, so -1 is FF FF FF FF); false as
// SetText.
static bool SetDword(HKEY key, const char *name, int32_t number) {
  DWORD value = static_cast<DWORD>(number);
  return key != nullptr &&
         RegSetValueExA(key, name, 0, REG_DWORD,
                        reinterpret_cast<const BYTE *>(&value),
                        sizeof(value)) == ERROR_SUCCESS;
}

static void DeleteKey(HKEY parent, const char *name) {
  if (parent != nullptr)
    RegDeleteKeyA(parent, name);
}

static void DeleteValue(HKEY key, const char *name) {
  if (key != nullptr)
    RegDeleteValueA(key, name);
}

int IsInstalled() {
  HKEY software = nullptr;
  LONG status = RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE", &software);
  HKEY vko = nullptr;
  if (status == ERROR_SUCCESS)
    status = RegOpenKeyA(software, "VKO", &vko);
  HKEY product = nullptr;
  if (status == ERROR_SUCCESS)
    status = RegOpenKeyA(vko, "DMI", &product);
  HKEY monitor = nullptr;
  if (status == ERROR_SUCCESS)
    status = RegOpenKeyA(product, "LM78", &monitor);
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

  RegFlushKey(HKEY_LOCAL_MACHINE);

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
