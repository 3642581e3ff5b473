// Import of default.cfg into the monitor keys LM78 and LM75.
#include "import/defaults_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "standin/journal.h"
#include "standin/registry.h"
#include "standin/user.h"
#include "state/install_state.h"
#include "support/test_files.h"

namespace {

using Bytes = std::vector<BYTE>;

const char kLm78[] = "HKLM\\SOFTWARE\\VKO\\DMI\\LM78";
const char kLm75[] = "HKLM\\SOFTWARE\\VKO\\DMI\\LM75";
// Stands for the install host's window, the owner of the worker's messages.
const HWND kHostWindow = reinterpret_cast<HWND>(0x4711);

// A default.cfg of 1291 bytes whose every byte differs from its neighbours,
// so a field read from a wrong offset shows.
Bytes PatternFile(size_t size = 1291) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<BYTE>(i * 7 + 3);
  bytes[260] = 5; // ChipSet length
  bytes[277] = 9; // MaxSpeed length
  return bytes;
}

Bytes Slice(const Bytes &bytes, size_t offset, size_t count) {
  return Bytes(bytes.begin() + offset, bytes.begin() + offset + count);
}

Bytes Text(const Bytes &bytes, size_t offset, size_t length) {
  Bytes text = Slice(bytes, offset, length);
  text.push_back(0);
  return text;
}

Bytes Dword(uint32_t value) {
  return Bytes{static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
               static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
}

struct Value {
  DWORD type;
  Bytes data;
  bool operator==(const Value &other) const {
    return type == other.type && data == other.data;
  }
};

std::ostream &operator<<(std::ostream &out, const Value &value) {
  out << "type " << value.type << ", " << value.data.size() << " bytes:";
  for (BYTE b : value.data)
    out << ' ' << static_cast<int>(b);
  return out;
}

Value Read(const std::string &path, const std::string &name) {
  auto value = standin::regValue(path, name);
  if (!value)
    return Value{0xFFFFFFFFu, {}};
  return Value{value->type, value->data};
}

class DefaultsFile : public testsupport::TempFolderTest {
protected:
  void SetUp() override {
    standin::resetRegistry();
    standin::resetUser();
    standin::clearJournal();
    g_installHostWindow = kHostWindow;
    ASSERT_NO_FATAL_FAILURE(TempFolderTest::SetUp());
    SetInstallDir(base_ + "/inst");
    // The registry of a fresh Windows: SOFTWARE exists, the suite's keys not.
    standin::regPutKey("HKLM\\SOFTWARE\\Microsoft");
  }
  void TearDown() override {
    TempFolderTest::TearDown();
    standin::resetRegistry();
    standin::resetUser();
    g_installHostWindow = nullptr;
  }

  void SetInstallDir(const std::string &dir) {
    ASSERT_LT(dir.size(), sizeof(g_installDir));
    std::strcpy(g_installDir, dir.c_str());
  }
  // The file exactly as the program names it: <install dir>\default.cfg.
  std::string CfgPath() const {
    return std::string(g_installDir) + "\\default.cfg";
  }
  // The file for the next import, which is a run of its own with its own
  // record of changes.
  void WriteCfg(const Bytes &bytes) {
    WriteFile(CfgPath(), std::string(bytes.begin(), bytes.end()));
    g_changeCount = 0;
  }
};

TEST_F(DefaultsFile, StoresEveryFieldWithItsTypeAndSize) {
  const Bytes cfg = PatternFile();
  WriteCfg(cfg);
  ASSERT_EQ(ImportMonitorDefaults(), 0);

  EXPECT_EQ(
      standin::regValueNames(kLm78),
      (std::vector<std::string>{"Chassis Secure", "Fans", "VID", "Temperature",
                                "Voltages", "ChipSet", "MaxSpeed"}));
  EXPECT_EQ(Read(kLm78, "Chassis Secure"), (Value{REG_DWORD, Dword(0)}));
  EXPECT_EQ(Read(kLm78, "Fans"), (Value{REG_BINARY, Slice(cfg, 606, 160)}));
  EXPECT_EQ(Read(kLm78, "VID"), (Value{REG_DWORD, Dword(cfg[931])}));
  EXPECT_EQ(Read(kLm78, "Temperature"),
            (Value{REG_BINARY, Slice(cfg, 932, 37)}));
  EXPECT_EQ(Read(kLm78, "Voltages"), (Value{REG_BINARY, Slice(cfg, 969, 322)}));
  EXPECT_EQ(Read(kLm78, "ChipSet"), (Value{REG_SZ, Text(cfg, 261, 5)}));
  EXPECT_EQ(Read(kLm78, "MaxSpeed"), (Value{REG_SZ, Text(cfg, 278, 9)}));
  EXPECT_EQ(standin::regValueNames(kLm75),
            (std::vector<std::string>{"Temperatures"}));
  EXPECT_EQ(Read(kLm75, "Temperatures"),
            (Value{REG_BINARY, Slice(cfg, 300, 304)}));
  EXPECT_EQ(standin::regSubkeys("HKLM\\SOFTWARE\\VKO\\DMI"),
            (std::vector<std::string>{"LM78", "LM75"}));
  EXPECT_TRUE(standin::regValueNames("HKLM\\SOFTWARE\\VKO\\DMI").empty());
  EXPECT_EQ(standin::regFlushCount(), 1);
  EXPECT_EQ(standin::regOpenHandleCount(), 0);
  EXPECT_TRUE(standin::messageBoxes().empty());
}

TEST_F(DefaultsFile, TextFieldsAndTheVidByte) {
  Bytes cfg = PatternFile();
  const char area[] = "ABCDEFGHIJKLMNOP";
  std::memcpy(&cfg[261], area, 16);
  std::memcpy(&cfg[278], area, 16);
  cfg[931] = 0xFF;
  struct Case {
    BYTE length;
    std::string stored; // without its zero
  };
  for (Case c : {Case{0, ""}, Case{5, "ABCDE"}, Case{16, area},
                 // Longer lengths are held to the 16-byte area.
                 Case{17, area}, Case{255, area}}) {
    SCOPED_TRACE(static_cast<int>(c.length));
    cfg[260] = c.length;
    cfg[277] = c.length;
    WriteCfg(cfg);
    ASSERT_EQ(ImportMonitorDefaults(), 0);
    Bytes expected(c.stored.begin(), c.stored.end());
    expected.push_back(0);
    EXPECT_EQ(Read(kLm78, "ChipSet"), (Value{REG_SZ, expected}));
    EXPECT_EQ(Read(kLm78, "MaxSpeed"), (Value{REG_SZ, expected}));
    EXPECT_EQ(Read(kLm78, "VID"), (Value{REG_DWORD, Dword(255)}));
    EXPECT_EQ(Read(kLm78, "Chassis Secure"), (Value{REG_DWORD, Dword(0)}));
  }
}

TEST_F(DefaultsFile, BytesOutsideTheFieldsChangeNothing) {
  Bytes first = PatternFile(1291);
  WriteCfg(first);
  ASSERT_EQ(ImportMonitorDefaults(), 0);
  const std::string expected = standin::regExportText();

  // Unread stretches, the unused part of both text areas, and a tail.
  Bytes second = first;
  auto scramble = [&second](size_t from, size_t to) {
    for (size_t i = from; i <= to; ++i)
      second[i] = static_cast<BYTE>(~second[i]);
  };
  scramble(0, 259);
  scramble(261 + 5, 276);
  scramble(278 + 9, 299);
  scramble(604, 605);
  scramble(766, 930);
  second.insert(second.end(), 500, 0xEE);

  standin::resetRegistry();
  standin::regPutKey("HKLM\\SOFTWARE\\Microsoft");
  WriteCfg(second);
  ASSERT_EQ(ImportMonitorDefaults(), 0);
  EXPECT_EQ(standin::regExportText(), expected);
}

TEST_F(DefaultsFile, ReplacesItsValuesAndKeepsOthers) {
  standin::regPutString(kLm78, "Fans", "old");
  standin::regPutDword(kLm78, "Chassis Secure", 9);
  standin::regPutDword(kLm78, "Custom", 42);
  standin::regPutString(kLm75, "Other", "keep");
  const Bytes cfg = PatternFile();
  WriteCfg(cfg);
  ASSERT_EQ(ImportMonitorDefaults(), 0);
  EXPECT_EQ(Read(kLm78, "Fans"), (Value{REG_BINARY, Slice(cfg, 606, 160)}));
  EXPECT_EQ(Read(kLm78, "Chassis Secure"), (Value{REG_DWORD, Dword(0)}));
  EXPECT_EQ(Read(kLm78, "Custom"), (Value{REG_DWORD, Dword(42)}));
  EXPECT_EQ(Read(kLm75, "Other").data.size(), 5u);
}

// Every failure shows one message and comes before any registry call.
void ExpectRefused(int result) {
  EXPECT_EQ(result, 1);
  auto boxes = standin::messageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].owner, kHostWindow);
  EXPECT_EQ(boxes[0].text, "Can not Open default.cfg file!");
  EXPECT_EQ(boxes[0].caption, "Installation Error");
  EXPECT_EQ(boxes[0].flags, 0x00040010u);
  EXPECT_TRUE(standin::regJournal().empty());
  EXPECT_FALSE(standin::regKeyExists("HKLM\\SOFTWARE\\VKO"));
}

TEST_F(DefaultsFile, MissingFileIsRefusedBeforeAnyRegistryCall) {
  ExpectRefused(ImportMonitorDefaults());
}

TEST_F(DefaultsFile, FileOfFewerThan1291BytesIsRefused) {
  WriteCfg(PatternFile(1290));
  ExpectRefused(ImportMonitorDefaults());

  standin::resetUser();
  WriteCfg(Bytes());
  ExpectRefused(ImportMonitorDefaults());

  standin::resetUser();
  WriteCfg(PatternFile(1291));
  EXPECT_EQ(ImportMonitorDefaults(), 0);
  EXPECT_TRUE(standin::messageBoxes().empty());
}

// Paths are at most 255 characters: <install dir>\default.cfg adds 12.
// The path shares the 512-byte working buffer with the fields: the longest
// install directory the hand-off file can name (255 characters) still
// composes a whole path, 267 characters long.
TEST_F(DefaultsFile, LongestInstallDirectoryStillImports) {
  std::string dir = base_;
  while (dir.size() + 1 + 50 < 255) {
    dir += "/" + std::string(50, 'p');
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  }
  dir += "/" + std::string(255 - dir.size() - 1, 'q');
  ASSERT_EQ(dir.size(), 255u);
  SetInstallDir(dir);
  ASSERT_EQ(CfgPath().size(), 267u);
  WriteCfg(PatternFile());
  EXPECT_EQ(ImportMonitorDefaults(), 0);
  EXPECT_TRUE(standin::regKeyExists(kLm75));
}

} // namespace
