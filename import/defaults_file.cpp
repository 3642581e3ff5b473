// default.cfg: a binary file of fixed layout, read by absolute positioning.
//
//   offset  length  field                      value (key)
//   260     1+16    length byte, 16 chars      "ChipSet" REG_SZ (LM78)
//   277     1+16    length byte, 16 chars      "MaxSpeed" REG_SZ (LM78)
//   300     304     opaque                     "Temperatures" (LM75)
//   606     160     opaque                     "Fans" (LM78)
//   931     1       unsigned byte              "VID" REG_DWORD (LM78)
//   932     37      opaque                     "Temperature" (LM78)
//   969     322     opaque                     "Voltages" (LM78)
// Nothing else in the file is read. "Chassis Secure" (LM78) is always 0.
#include "import/defaults_file.h"

#include <windows.h>

#include <cstdio>

#include "state/install_log.h"
#include "state/install_state.h"
#include "system/registry_layout.h"
#include "text/bounded_text.h"

// The character area of a text field.
#define TEXT_FIELD_SIZE 16

// How the import of a field ended. A field that cannot be read whole (a
// seek or read that the system refuses) is never stored: its buffer would
// hold the previous field's bytes.
enum FieldResult { FIELD_STORED, FIELD_UNREAD, FIELD_UNSTORED };

// Stores one value under `key`; a key that could not be opened or a write
// that the registry refuses leaves the value unstored.
static FieldResult StoreValue(HKEY key, const char *name, DWORD type,
                              const BYTE *data, DWORD size) {
  return SetRegistryValue(key, name, type, data, size) ? FIELD_STORED
                                                       : FIELD_UNSTORED;
}

// Reads `count` bytes at `offset` into `buffer` and stores them as a
// REG_BINARY value.
static FieldResult ImportBlock(FILE *file, long offset, size_t count,
                               BYTE *buffer, HKEY key, const char *name) {
  if (std::fseek(file, offset, SEEK_SET) != 0 ||
      std::fread(buffer, 1, count, file) != count)
    return FIELD_UNREAD;
  return StoreValue(key, name, REG_BINARY, buffer, static_cast<DWORD>(count));
}

// Reads the byte at `offset` and stores it as a REG_DWORD value.
static FieldResult ImportByte(FILE *file, long offset, HKEY key,
                              const char *name) {
  const int byte =
      std::fseek(file, offset, SEEK_SET) == 0 ? std::fgetc(file) : EOF;
  if (byte == EOF)
    return FIELD_UNREAD;
  const DWORD number = static_cast<DWORD>(byte);
  return StoreValue(key, name, REG_DWORD,
                    reinterpret_cast<const BYTE *>(&number), sizeof(number));
}

// Reads the text field at `offset` (length byte, then 16 character bytes)
// and stores its text as a REG_SZ value. A length byte over 16 is taken as
// 16, so no byte from outside the field is ever stored.
static FieldResult ImportTextField(FILE *file, long offset, BYTE *buffer,
                                   HKEY key, const char *name) {
  int length = std::fseek(file, offset, SEEK_SET) == 0 ? std::fgetc(file) : EOF;
  if (length == EOF ||
      std::fread(buffer, 1, TEXT_FIELD_SIZE, file) != TEXT_FIELD_SIZE)
    return FIELD_UNREAD;
  if (length > TEXT_FIELD_SIZE)
    length = TEXT_FIELD_SIZE;
  buffer[length] = 0;
  return StoreValue(key, name, REG_SZ, buffer, static_cast<DWORD>(length + 1));
}

// True when the open file holds at least the bytes of every field; `size`
// receives its size, or -1.
static bool IsCompleteFile(FILE *file, long *size) {
  *size = -1;
  if (std::fseek(file, 0, SEEK_END) != 0)
    return false;
  *size = std::ftell(file);
  return *size >= DEFAULTS_FILE_SIZE;
}

// The message for a file that cannot be opened or read.
static void ReportUnreadableFile() {
  const int shown =
      MessageBoxA(g_installHostWindow, "Can not Open default.cfg file!",
                  "Installation Error", MB_TOPMOST | MB_ICONERROR);
  LogLine("message \"Can not Open default.cfg file!\": %s",
          shown != 0 ? "shown" : "not shown (MessageBoxA returned 0)");
}

int ImportMonitorDefaults() {
  // One buffer receives the path and then each field in turn; the largest
  // field is 322 bytes, and the longest install directory (255 characters)
  // with "\default.cfg" fits as well.
  char buffer[512] = "";
  BYTE *field = reinterpret_cast<BYTE *>(buffer);
  DWORD number = 0;

  FILE *file = nullptr;
  if (CopyText(buffer, sizeof(buffer), g_installDir) &&
      AppendText(buffer, sizeof(buffer), "\\default.cfg"))
    file = std::fopen(buffer, "rb");
  else
    LogLine("default.cfg: its name does not fit, missing");
  // A file too short to hold every field is refused like a missing one, so
  // that no partial or stale data is stored.
  long size = -1;
  if (file != nullptr && !IsCompleteFile(file, &size)) {
    std::fclose(file);
    file = nullptr;
    LogLine("default.cfg \"%s\", %d bytes: too short, at least %d needed",
            buffer, static_cast<int>(size), DEFAULTS_FILE_SIZE);
    if (size == -1)
      LogStreamFailure("default.cfg");
  } else if (file == nullptr && buffer[0] != '\0') {
    LogLine("default.cfg \"%s\": missing (it cannot be opened)", buffer);
    LogStreamFailure("default.cfg");
  } else if (file != nullptr) {
    LogLine("default.cfg \"%s\", %d bytes: complete, imported", buffer,
            static_cast<int>(size));
  }
  if (file == nullptr) {
    ReportUnreadableFile();
    return 1;
  }

  HKEY software = OpenRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE");
  HKEY vko = CreateRegistryKey(software, "VKO");
  HKEY product = CreateRegistryKey(vko, "DMI");
  HKEY lm78 = CreateRegistryKey(product, "LM78");

  // The fields in their order; the first that cannot be read or stored ends
  // the import, and the installation fails (its rollback removes what was
  // stored).
  FieldResult result =
      StoreValue(lm78, "Chassis Secure", REG_DWORD,
                 reinterpret_cast<const BYTE *>(&number), sizeof(number));
  if (result == FIELD_STORED)
    result = ImportBlock(file, 606, 160, field, lm78, "Fans");
  if (result == FIELD_STORED)
    result = ImportByte(file, 931, lm78, "VID");
  if (result == FIELD_STORED)
    result = ImportBlock(file, 932, 37, field, lm78, "Temperature");
  if (result == FIELD_STORED)
    result = ImportBlock(file, 969, 322, field, lm78, "Voltages");
  if (result == FIELD_STORED)
    result = ImportTextField(file, 260, field, lm78, "ChipSet");
  if (result == FIELD_STORED)
    result = ImportTextField(file, 277, field, lm78, "MaxSpeed");

  HKEY lm75 = nullptr;
  if (result == FIELD_STORED) {
    lm75 = CreateRegistryKey(product, "LM75");
    result = ImportBlock(file, 300, 304, field, lm75, "Temperatures");
  }

  if (result == FIELD_STORED)
    FlushRegistry();

  CloseRegistryKey(lm75);
  CloseRegistryKey(lm78);
  CloseRegistryKey(product);
  CloseRegistryKey(vko);
  CloseRegistryKey(software);
  std::fclose(file);
  // A file that cannot be read is reported as one that cannot be opened; a
  // registry that refuses a value has only the general failure message.
  if (result == FIELD_UNREAD) {
    LogStreamFailure("default.cfg");
    LogLine("default.cfg: a seek or read failed, the installation fails");
    ReportUnreadableFile();
  } else if (result == FIELD_UNSTORED) {
    LogLine("default.cfg: a monitor value was not stored, the installation "
            "fails");
  }
  return result == FIELD_STORED ? 0 : 1;
}
