// Fuzz target: default.cfg, imported by ImportMonitorDefaults. The input is
// the whole file (an empty input: no file at all).
//
// Invariants: a file shorter than 1291 bytes is refused with its one message
// and no registry operation at all; a complete file gives exactly the eight
// monitor values from their fixed offsets, every value holding the size that
// was written, a text field never more than its 16 characters.
#include <string>
#include <vector>

#include "fuzz_machine.h"
#include "import/defaults_file.h"

namespace {
const std::string kLm78 = "HKLM\\SOFTWARE\\VKO\\DMI\\LM78";
const std::string kLm75 = "HKLM\\SOFTWARE\\VKO\\DMI\\LM75";

void ExpectValue(const std::string &key, const char *name, DWORD type,
                 const std::string &bytes) {
  auto value = standin::regValue(key, name);
  FUZZ_CHECK(value && value->type == type &&
                 std::string(value->data.begin(), value->data.end()) == bytes,
             key + ":" + name);
}

std::string Dword(uint32_t n) {
  return std::string(reinterpret_cast<const char *>(&n), 4);
}

// The text field at `offset`: its length byte, at most 16 characters, then
// the terminating zero.
std::string TextField(const std::string &file, size_t offset) {
  size_t length = static_cast<unsigned char>(file[offset]);
  if (length > 16)
    length = 16;
  return file.substr(offset + 1, length) + std::string(1, '\0');
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string file(reinterpret_cast<const char *>(data), size);
  fuzzmachine::ResetMachine();
  standin::regPutKey("HKLM\\SOFTWARE");
  std::strcpy(g_installDir, "I");
  if (!file.empty())
    fuzzmachine::StoreBytes("I\\default.cfg", file);

  const int result = ImportMonitorDefaults();
  std::remove("I\\default.cfg");

  const auto boxes = standin::messageBoxes();
  if (file.size() < DEFAULTS_FILE_SIZE) {
    FUZZ_CHECK(result == 1, std::to_string(file.size()));
    FUZZ_CHECK(standin::regJournal().empty(), "registry used");
    FUZZ_CHECK(boxes.size() == 1 &&
                   boxes[0].text == "Can not Open default.cfg file!" &&
                   boxes[0].caption == "Installation Error" &&
                   boxes[0].flags == (MB_TOPMOST | MB_ICONERROR),
               "refusal message");
    return 0;
  }

  FUZZ_CHECK(result == 0 && boxes.empty(), std::to_string(file.size()));
  FUZZ_CHECK(fuzzmachine::CheckRegistrySizes() == 8, "eight values");
  ExpectValue(kLm78, "Chassis Secure", REG_DWORD, Dword(0));
  ExpectValue(kLm78, "Fans", REG_BINARY, file.substr(606, 160));
  ExpectValue(kLm78, "VID", REG_DWORD,
              Dword(static_cast<unsigned char>(file[931])));
  ExpectValue(kLm78, "Temperature", REG_BINARY, file.substr(932, 37));
  ExpectValue(kLm78, "Voltages", REG_BINARY, file.substr(969, 322));
  ExpectValue(kLm78, "ChipSet", REG_SZ, TextField(file, 260));
  ExpectValue(kLm78, "MaxSpeed", REG_SZ, TextField(file, 277));
  ExpectValue(kLm75, "Temperatures", REG_BINARY, file.substr(300, 304));
  return 0;
}
