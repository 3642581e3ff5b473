#include <windows.h>

#include "standin/journal.h"
#include "standin/kernel.h"
#include "standin/regfile.h"
#include "standin/registry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

using standin::RegValue;

std::vector<BYTE> bytesOf(const std::string &s, bool withZero) {
  std::vector<BYTE> b(s.begin(), s.end());
  if (withZero)
    b.push_back(0);
  return b;
}

std::string tempName(const char *tag) {
  return "/tmp/h1_reg_" + std::to_string(getpid()) + "_" + tag + ".reg";
}

std::string readFile(const std::string &name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class RegistryTest : public ::testing::Test {
protected:
  void SetUp() override {
    standin::resetRegistry();
    standin::resetKernel(); // Windows 95, whatever a test before set
    standin::clearJournal();
  }
};

TEST_F(RegistryTest, NamesCompareWithoutCaseAndKeepTheirSpelling) {
  HKEY k = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE,
                                         "SOFTWARE\\Microsoft\\Windows", &k));
  HKEY again = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_LOCAL_MACHINE,
                                       "Software\\MicroSoft\\WINDOWS", &again));
  const BYTE one[] = {1, 0, 0, 0};
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExA(again, "Value", 0, REG_DWORD, one, 4));
  const BYTE two[] = {2, 0, 0, 0};
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, "VALUE", 0, REG_DWORD, two, 4));

  EXPECT_EQ(std::vector<std::string>{"Microsoft"},
            standin::regSubkeys("HKLM\\software"));
  EXPECT_EQ(std::vector<std::string>{"Value"},
            standin::regValueNames("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\"
                                   "Windows"));
  auto v = standin::regValue("hklm\\SOFTWARE\\MICROSOFT\\windows", "value");
  ASSERT_TRUE(v);
  EXPECT_EQ(std::vector<BYTE>({2, 0, 0, 0}), v->data);
}

TEST_F(RegistryTest, OpenNeverCreatesAndAFailedOpenLeavesNoHandle) {
  standin::regPutKey("HKLM\\SOFTWARE");
  HKEY k = reinterpret_cast<HKEY>(0x1234);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\VKO\\DMI", &k));
  EXPECT_EQ(nullptr, k);
  EXPECT_FALSE(standin::regKeyExists("HKLM\\SOFTWARE\\VKO"));
  EXPECT_EQ(0, standin::regOpenHandleCount());

  // Every call through the null handle fails and changes nothing.
  const BYTE d[] = {1, 2, 3, 4};
  HKEY sub = reinterpret_cast<HKEY>(0x1234);
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegSetValueExA(k, "x", 0, REG_DWORD, d, 4));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCreateKeyA(k, "LM78", &sub));
  EXPECT_EQ(nullptr, sub);
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyA(k, "", &sub));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegDeleteKeyA(k, "LM78"));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegDeleteValueA(k, "x"));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegFlushKey(k));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(k));
  EXPECT_EQ("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n",
            standin::regExportText());
  EXPECT_EQ(0, standin::regFlushCount());
}

TEST_F(RegistryTest, CreateMakesEveryMissingLevelAndPathsMustBeWellFormed) {
  HKEY k = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, "a\\b\\c", &k));
  EXPECT_TRUE(standin::regKeyExists("HKLM\\A\\B\\C"));
  EXPECT_EQ(1, standin::regOpenHandleCount());

  HKEY bad = reinterpret_cast<HKEY>(0x1234);
  EXPECT_EQ(ERROR_BAD_PATHNAME, RegCreateKeyA(HKEY_LOCAL_MACHINE, "\\a", &bad));
  EXPECT_EQ(nullptr, bad);
  EXPECT_EQ(ERROR_BAD_PATHNAME,
            RegCreateKeyA(HKEY_LOCAL_MACHINE, "a\\\\d", &bad));
  EXPECT_EQ(std::vector<std::string>{"b"}, standin::regSubkeys("HKLM\\a"));

  // An empty subkey reaches the key itself: the root is handed back as is.
  HKEY self = nullptr;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_LOCAL_MACHINE, "", &self));
  EXPECT_EQ(HKEY_LOCAL_MACHINE, self);
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyA(k, nullptr, &self));
  EXPECT_NE(k, self);
  EXPECT_EQ(2, standin::regOpenHandleCount());
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(self));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(k));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(k));
  EXPECT_EQ(0, standin::regOpenHandleCount());
}

TEST_F(RegistryTest, SetStoresExactlyTheGivenBytesAndQueryReportsSizes) {
  HKEY k = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, "K", &k));
  const BYTE text[] = "D:\\X\\Zezoroza.exe"; // 18 bytes with the zero
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, "ZEZOroza", 0, REG_SZ, text, 18));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, "cut", 0, REG_SZ, text, 4));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, nullptr, 0, REG_BINARY, text, 0));
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegSetValueExA(k, "nodata", 0, REG_BINARY, nullptr, 3));

  EXPECT_EQ((RegValue{REG_SZ, bytesOf("D:\\X\\Zezoroza.exe", true)}.data),
            standin::regValue("HKLM\\K", "zezoroza")->data);
  EXPECT_EQ(bytesOf("D:\\X", false), standin::regValue("HKLM\\K", "cut")->data);
  auto def = standin::regValue("HKLM\\K", "");
  ASSERT_TRUE(def);
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), def->type);
  EXPECT_TRUE(def->data.empty());
  EXPECT_FALSE(standin::regValue("HKLM\\K", "nodata"));

  DWORD type = 0, size = 0;
  EXPECT_EQ(ERROR_SUCCESS,
            RegQueryValueExA(k, "ZEZOroza", nullptr, &type, nullptr, &size));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(18u, size);
  BYTE small[17];
  size = sizeof small;
  EXPECT_EQ(ERROR_MORE_DATA,
            RegQueryValueExA(k, "ZEZOroza", nullptr, nullptr, small, &size));
  EXPECT_EQ(18u, size);
  BYTE exact[18];
  size = sizeof exact;
  EXPECT_EQ(ERROR_SUCCESS,
            RegQueryValueExA(k, "ZEZOroza", nullptr, nullptr, exact, &size));
  EXPECT_STREQ("D:\\X\\Zezoroza.exe", reinterpret_cast<char *>(exact));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegQueryValueExA(k, "missing", nullptr, nullptr, nullptr, &size));
}

TEST_F(RegistryTest, DeleteKeyRefusesSubkeysAndWorksThroughAnOpenHandle) {
  standin::regPutDword("HKLM\\services\\VEZUDA", "Type", 1);
  standin::regPutKey("HKLM\\services\\VEZUDA\\Enum");
  HKEY services = nullptr, service = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyA(HKEY_LOCAL_MACHINE, "SERVICES", &services));
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(services, "vezuda", &service));

  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(services, "VEZUDA"));
  EXPECT_TRUE(standin::regKeyExists("HKLM\\services\\VEZUDA\\Enum"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(service, "Security"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(service, "ENUM"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(services, "VEZUDA"));
  EXPECT_FALSE(standin::regKeyExists("HKLM\\services\\VEZUDA"));

  // The stale handle now fails; recreating the key gives a new, empty key.
  const BYTE d[] = {0, 0, 0, 0};
  EXPECT_EQ(ERROR_KEY_DELETED,
            RegSetValueExA(service, "Start", 0, REG_DWORD, d, 4));
  HKEY sub = reinterpret_cast<HKEY>(0x1234);
  EXPECT_EQ(ERROR_KEY_DELETED, RegCreateKeyA(service, "Enum", &sub));
  EXPECT_EQ(nullptr, sub);
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(services, "VEZUDA", &sub));
  EXPECT_TRUE(standin::regValueNames("HKLM\\services\\VEZUDA").empty());
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(service));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""));
}

TEST_F(RegistryTest, DeleteValueRemovesOnlyTheNamedValue) {
  standin::regPutDword("HKLM\\P", "AMA", 1);
  standin::regPutDword("HKLM\\P", "Security", 3);
  HKEY k = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_LOCAL_MACHINE, "p", &k));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(k, "ama"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(k, "AMA"));
  EXPECT_EQ(std::vector<std::string>{"Security"},
            standin::regValueNames("HKLM\\P"));
}

TEST_F(RegistryTest, RefusedWritesChangeNothingButOpensStillWork) {
  standin::regPutDword("HKLM\\P", "AMA", 1);
  standin::regPutKey("HKLM\\P\\Sub");
  const std::string before = standin::regExportText();
  standin::regRefuseWrites(true);
  HKEY k = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_LOCAL_MACHINE, "P", &k));
  HKEY c = reinterpret_cast<HKEY>(0x1234);
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyA(k, "Sub", &c));
  EXPECT_EQ(nullptr, c);
  const BYTE d[] = {7, 0, 0, 0};
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(k, "AMA", 0, REG_DWORD, d, 4));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(k, "AMA"));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(k, "Sub"));
  EXPECT_EQ(before, standin::regExportText());
}

// An ordinary user of Windows NT: machine keys open for reading, not for
// any change; keys of the other roots stay writable. An administrator may
// open a machine key with any right.
TEST_F(RegistryTest, OrdinaryUserReadsMachineKeysButChangesNothing) {
  standin::setVersion(0x05650004); // Windows NT 4.0
  ASSERT_TRUE(standin::regPutString("HKLM\\SOFTWARE\\A", "v", "x"));
  ASSERT_TRUE(standin::regPutKey("HKCU\\Software"));
  HKEY k = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0,
                                         KEY_CREATE_SUB_KEY, &k));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(k));

  standin::regSetAdministrator(false);
  const std::string before = standin::regExportText();
  for (REGSAM access :
       std::initializer_list<REGSAM>{KEY_CREATE_SUB_KEY, KEY_SET_VALUE,
                                     KEY_WRITE, DELETE, KEY_ALL_ACCESS}) {
    k = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, access, &k))
        << access;
    EXPECT_EQ(nullptr, k);
  }
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\B", 0,
                          KEY_CREATE_SUB_KEY, &k));
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\A", 0, KEY_READ, &k));
  const BYTE one[] = {1};
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(k, "w", 0, REG_BINARY, one, 1));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(k, "v"));
  HKEY created = nullptr;
  EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyA(k, nullptr, &created));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyA(k, "New", &created));
  EXPECT_EQ(ERROR_ACCESS_DENIED,
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\A"));
  EXPECT_EQ(before, standin::regExportText());
  EXPECT_EQ(ERROR_SUCCESS,
            RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Mine", &created));
  EXPECT_EQ("RegOpenKeyExA HKEY_LOCAL_MACHINE \"SOFTWARE\" access=0x00000004 "
            "-> 0",
            standin::regJournal().front());

  standin::resetRegistry();
  ASSERT_TRUE(standin::regPutKey("HKLM\\SOFTWARE"));
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0,
                                         KEY_ALL_ACCESS, &k));
}

TEST_F(RegistryTest, FlushCountsAndSavesToTheBackingFile) {
  const std::string file = tempName("backing");
  standin::regSetBackingFile(file);
  standin::regPutString("HKLM\\P", "path", "D:\\X");
  EXPECT_EQ(ERROR_SUCCESS, RegFlushKey(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(1, standin::regFlushCount());
  EXPECT_EQ(
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\P]\r\n\"path\"=\"D:\\\\X\"\r\n"
      "\r\n",
      readFile(file));
  std::remove(file.c_str());

  // A flush that cannot write its file reports it and is not counted.
  standin::regSetBackingFile("/nonexistent-dir/x.reg");
  EXPECT_NE(ERROR_SUCCESS, RegFlushKey(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(1, standin::regFlushCount());
}

TEST_F(RegistryTest, JournalNamesKeyPathsAndValueNames) {
  HKEY k = nullptr;
  RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE", &k);
  RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\VKO", &k);
  const BYTE d[] = {0, 0, 0, 0};
  RegSetValueExA(k, "Chassis Secure", 0, REG_DWORD, d, 4);
  RegFlushKey(HKEY_LOCAL_MACHINE);
  RegCloseKey(k);
  EXPECT_EQ((std::vector<std::string>{
                "RegOpenKeyA HKEY_LOCAL_MACHINE \"SOFTWARE\" -> 2",
                "RegCreateKeyA HKEY_LOCAL_MACHINE \"SOFTWARE\\VKO\" -> 0",
                "RegSetValueExA HKEY_LOCAL_MACHINE\\SOFTWARE\\VKO \"Chassis "
                "Secure\" type=4 size=4 -> 0",
                "RegFlushKey HKEY_LOCAL_MACHINE -> 0",
                "RegCloseKey HKEY_LOCAL_MACHINE\\SOFTWARE\\VKO -> 0"}),
            standin::regJournal());
}

// ---- REGEDIT4 files ----

TEST(RegFileTest, WritesEachValueInItsFormAndReadsItBackExactly) {
  std::vector<standin::RegFileKey> keys(2);
  keys[0].path = "HKEY_LOCAL_MACHINE\\SOFTWARE\\VKO";
  keys[1].path = "HKEY_LOCAL_MACHINE\\SOFTWARE\\VKO\\DMI";
  keys[1].values = {
      {"path", REG_SZ, bytesOf("C:\\a \"q\"", true)},
      {"noterm", REG_SZ, bytesOf("abc", false)},
      {"twozeros", REG_SZ, {'a', 0, 0}},
      {"emptysz", REG_SZ, {}},
      {"line", REG_SZ, bytesOf("a\nb", true)},
      {"", REG_SZ, bytesOf("default", true)},
      {"AMA", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"short", REG_DWORD, {1, 2}},
      {"empty", REG_BINARY, {}},
      {"multi", REG_MULTI_SZ, {'a', 0, 0}},
      {"na\\me", 0x20, {0xAB}},
  };
  std::string text = standin::formatRegText(keys);
  EXPECT_EQ("REGEDIT4\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VKO]\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VKO\\DMI]\r\n"
            "\"path\"=\"C:\\\\a \\\"q\\\"\"\r\n"
            "\"noterm\"=hex(1):61,62,63\r\n"
            "\"twozeros\"=hex(1):61,00,00\r\n"
            "\"emptysz\"=hex(1):\r\n"
            "\"line\"=hex(1):61,0a,62,00\r\n"
            "@=\"default\"\r\n"
            "\"AMA\"=dword:ffffffff\r\n"
            "\"short\"=hex(4):01,02\r\n"
            "\"empty\"=hex:\r\n"
            "\"multi\"=hex(7):61,00,00\r\n"
            "\"na\\\\me\"=hex(20):ab\r\n"
            "\r\n",
            text);
  std::vector<standin::RegFileKey> back;
  ASSERT_TRUE(standin::parseRegText(text, back));
  ASSERT_EQ(2u, back.size());
  EXPECT_EQ(keys[0].path, back[0].path);
  ASSERT_EQ(keys[1].values.size(), back[1].values.size());
  for (size_t i = 0; i < keys[1].values.size(); ++i) {
    EXPECT_EQ(keys[1].values[i].name, back[1].values[i].name);
    EXPECT_EQ(keys[1].values[i].type, back[1].values[i].type);
    EXPECT_EQ(keys[1].values[i].data, back[1].values[i].data);
  }
  EXPECT_EQ(text, standin::formatRegText(back));
}

TEST(RegFileTest, LongHexListsWrapAndContinuationsAreRead) {
  std::vector<standin::RegFileKey> keys(1);
  keys[0].path = "HKEY_LOCAL_MACHINE\\K";
  std::vector<BYTE> fans(160);
  for (size_t i = 0; i < fans.size(); ++i)
    fans[i] = static_cast<BYTE>(i * 7);
  keys[0].values = {{"Fans", REG_BINARY, fans}};
  std::string text = standin::formatRegText(keys);
  std::istringstream lines(text);
  std::string line;
  int continued = 0;
  while (std::getline(lines, line)) {
    EXPECT_LE(line.size(), 81u);
    continued += line.size() >= 2 && line[line.size() - 2] == '\\';
  }
  EXPECT_GT(continued, 5);
  std::vector<standin::RegFileKey> back;
  ASSERT_TRUE(standin::parseRegText(text, back));
  EXPECT_EQ(fans, back[0].values[0].data);
}

TEST(RegFileTest, ReadsWhatTheVersion5ExporterWrites) {
  // UTF-16LE with a byte-order mark, CR LF, a wrapped hex(2) in UTF-16.
  std::string narrow = "Windows Registry Editor Version 5.00\r\n\r\n"
                       "[HKEY_LOCAL_MACHINE\\Software\\VKO\\DMI]\r\n"
                       "\"path\"=\"D:\\\\X\"\r\n"
                       "\"AMA\"=dword:00000001\r\n"
                       "\"exp\"=hex(2):25,00,41,00,\\\r\n"
                       "  25,00,00,00\r\n"
                       "@=\"a\\nb\"\r\n\r\n";
  std::string wide = "\xFF\xFE";
  for (char c : narrow) {
    wide += c;
    wide += '\0';
  }
  std::vector<standin::RegFileKey> keys;
  std::string error;
  ASSERT_TRUE(standin::parseRegText(wide, keys, &error)) << error;
  ASSERT_EQ(1u, keys.size());
  ASSERT_EQ(4u, keys[0].values.size());
  EXPECT_EQ(bytesOf("D:\\X", true), keys[0].values[0].data);
  EXPECT_EQ(std::vector<BYTE>({1, 0, 0, 0}), keys[0].values[1].data);
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), keys[0].values[2].type);
  EXPECT_EQ(bytesOf("%A%", true), keys[0].values[2].data);
  EXPECT_EQ(bytesOf("a\nb", true), keys[0].values[3].data);

  // Lookups compare without case and take the short root name.
  const standin::RegFileKey *dmi =
      standin::findRegKey(keys, "HKLM\\SOFTWARE\\vko\\DMI\\");
  ASSERT_NE(nullptr, dmi);
  EXPECT_EQ(&keys[0], dmi);
  EXPECT_EQ(nullptr, standin::findRegKey(keys, "HKLM\\SOFTWARE\\VKO"));
  EXPECT_EQ(nullptr, standin::findRegKey(keys, "HKCU\\Software\\VKO\\DMI"));
  ASSERT_NE(nullptr, standin::findRegValue(*dmi, "PATH"));
  EXPECT_EQ(&keys[0].values[0], standin::findRegValue(*dmi, "PATH"));
  EXPECT_EQ(&keys[0].values[3], standin::findRegValue(*dmi, ""));
  EXPECT_EQ(nullptr, standin::findRegValue(*dmi, "pat"));

  // The same text as plain 8-bit with LF line ends reads the same.
  std::string lf;
  for (char c : narrow)
    if (c != '\r')
      lf += c;
  std::vector<standin::RegFileKey> again;
  ASSERT_TRUE(standin::parseRegText(lf, again));
  EXPECT_EQ(keys[0].values[2].data, again[0].values[2].data);
}

TEST(RegFileTest, RejectsMalformedTextWithoutTouchingTheResult) {
  std::vector<standin::RegFileKey> keys(1);
  keys[0].path = "kept";
  const char *bad[] = {
      "",
      "REGEDIT5\r\n",
      "REGEDIT4\r\n\"v\"=\"x\"\r\n", // value outside a key
      "REGEDIT4\r\n[K]\r\n\"v\"=dword:123456789\r\n",
      "REGEDIT4\r\n[K]\r\n\"v\"=hex:1g\r\n",
      "REGEDIT4\r\n[K]\r\n\"v\"=hex:01,\\\r\n", // continuation missing
      "REGEDIT4\r\n[K]\r\n\"v=\"x\"\r\n",
      "REGEDIT4\r\n[K]\r\n\"v\"=\"a\\q\"\r\n", // unknown escape
      "REGEDIT4\r\n[-K]\r\n",
  };
  for (const char *text : bad) {
    std::string error;
    EXPECT_FALSE(standin::parseRegText(text, keys, &error)) << text;
    EXPECT_FALSE(error.empty());
    ASSERT_EQ(1u, keys.size());
    EXPECT_EQ("kept", keys[0].path);
  }
}

TEST_F(RegistryTest, SaveAndLoadRoundTripTheWholeRegistry) {
  standin::regPutKey("HKLM\\SOFTWARE\\Empty");
  standin::regPutString("HKLM\\SOFTWARE\\VKO\\DMI", "path", "D:\\X");
  standin::regPutValue("HKLM\\SOFTWARE\\VKO\\DMI\\LM78", "Temperature",
                       REG_BINARY, std::vector<BYTE>(37, 0x5A));
  standin::regPutString("HKCU\\Software\\Wine", "Version", "win95");
  const std::string file = tempName("roundtrip");
  ASSERT_TRUE(standin::regSaveFile(file));
  const std::string saved = readFile(file);

  standin::resetRegistry();
  std::string error;
  ASSERT_TRUE(standin::regLoadFile(file, &error)) << error;
  EXPECT_TRUE(standin::regKeyExists("HKLM\\SOFTWARE\\Empty"));
  EXPECT_EQ(
      std::vector<BYTE>(37, 0x5A),
      standin::regValue("HKLM\\SOFTWARE\\VKO\\DMI\\LM78", "Temperature")->data);
  EXPECT_EQ(saved, standin::regExportText());
  std::remove(file.c_str());

  EXPECT_FALSE(standin::regImportText("REGEDIT4\r\n\r\n[HKEY_NOWHERE\\X]\r\n"));
  EXPECT_EQ(saved, standin::regExportText());
}

} // namespace
