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

// Reads `count` bytes at `offset` into `buffer` and stores them as a
// REG_BINARY value.
static void ImportBlock(FILE *file, long offset, size_t count, BYTE *buffer,
                        HKEY key, const char *name) {
  std::fseek(file, offset, SEEK_SET);
  std::fread(buffer, 1, count, file);
  SetRegistryValue(key, name, REG_BINARY, buffer, static_cast<DWORD>(count));
}

// Reads the text field at `offset` (length byte, then 16 character bytes)
// and stores its text as a REG_SZ value. A length byte over 16 is taken as
// 16, so no byte from outside the field is ever stored.
static void ImportTextField(FILE *file, long offset, BYTE *buffer, HKEY key,
                            const char *name) {
  std::fseek(file, offset, SEEK_SET);
  int length = std::fgetc(file);
  if (length < 0)
    length = 0;
  if (length > TEXT_FIELD_SIZE)
    length = TEXT_FIELD_SIZE;
  std::fread(buffer, 1, TEXT_FIELD_SIZE, file);
  buffer[length] = 0;
  SetRegistryValue(key, name, REG_SZ, buffer, static_cast<DWORD>(length + 1));
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
  } else if (file == nullptr && buffer[0] != '\0') {
    LogLine("default.cfg \"%s\": missing (it cannot be opened)", buffer);
  } else if (file != nullptr) {
    LogLine("default.cfg \"%s\", %d bytes: complete, imported", buffer,
            static_cast<int>(size));
  }
  if (file == nullptr) {
    const int shown =
        MessageBoxA(g_installHostWindow, "Can not Open default.cfg file!",
                    "Installation Error", MB_TOPMOST | MB_ICONERROR);
    LogLine("message \"Can not Open default.cfg file!\": %s",
            shown != 0 ? "shown" : "not shown (MessageBoxA returned 0)");
    return 1;
  }

  HKEY software = OpenRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE");
  HKEY vko = CreateRegistryKey(software, "VKO");
  HKEY product = CreateRegistryKey(vko, "DMI");
  HKEY lm78 = CreateRegistryKey(product, "LM78");

  SetRegistryValue(lm78, "Chassis Secure", REG_DWORD,
                   reinterpret_cast<const BYTE *>(&number), sizeof(number));

  ImportBlock(file, 606, 160, field, lm78, "Fans");

  std::fseek(file, 931, SEEK_SET);
  int vid = std::fgetc(file);
  number = vid < 0 ? 0 : static_cast<DWORD>(vid);
  SetRegistryValue(lm78, "VID", REG_DWORD,
                   reinterpret_cast<const BYTE *>(&number), sizeof(number));

  ImportBlock(file, 932, 37, field, lm78, "Temperature");
  ImportBlock(file, 969, 322, field, lm78, "Voltages");
  ImportTextField(file, 260, field, lm78, "ChipSet");
  ImportTextField(file, 277, field, lm78, "MaxSpeed");

  HKEY lm75 = CreateRegistryKey(product, "LM75");
  ImportBlock(file, 300, 304, field, lm75, "Temperatures");

  FlushRegistry();

  CloseRegistryKey(lm75);
  CloseRegistryKey(lm78);
  CloseRegistryKey(product);
  CloseRegistryKey(vko);
  CloseRegistryKey(software);
  std::fclose(file);
  return 0;
}
