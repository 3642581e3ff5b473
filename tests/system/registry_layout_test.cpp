// The suite's registry entries: what IsInstalled tests, what registering and
// finishing an installation leave.
#include "system/registry_layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "standin/registry.h"
#include "state/install_state.h"

namespace {

using Bytes = std::vector<BYTE>;

const char kProduct[] = "HKLM\\SOFTWARE\\VKO\\DMI";
const char kCurrentVersion[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const char kRun[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kUninstall[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kEntry[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
                      "Uninstall\\VKO DMI";
const char kServices[] = "HKLM\\SYSTEM\\CurrentControlSet\\Services";

Bytes Text(const std::string &text) {
  Bytes bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

Bytes Dword(uint32_t value) {
  return Bytes{static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
               static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
}

// Type and exact bytes of a value, or "missing".
std::string Describe(const std::string &path, const std::string &name) {
  auto value = standin::regValue(path, name);
  if (!value)
    return "missing";
  std::string text = "type " + std::to_string(value->type) + ":";
  for (BYTE b : value->data)
    text += " " + std::to_string(b);
  return text;
}

std::string Expect(DWORD type, const Bytes &data) {
  std::string text = "type " + std::to_string(type) + ":";
  for (BYTE b : data)
    text += " " + std::to_string(b);
  return text;
}

// A machine as Windows sets it up, with the spelling Windows uses and
// entries of other programs in the keys the suite shares.
void PutWindowsKeys() {
  standin::regPutString(kRun, "Other", "C:\\other.exe");
  standin::regPutString(std::string(kUninstall) + "\\Other App", "DisplayName",
                        "Other App");
  standin::regPutDword(std::string(kServices) + "\\Disk", "Start", 1);
}

class RegistryLayout : public ::testing::Test {
protected:
  void SetUp() override {
    standin::resetRegistry();
    g_changeCount = 0;
    std::strcpy(g_installDir, "D:\\X");
    g_platform = 1;
    g_amaSetting = 1;
  }
  void TearDown() override { standin::resetRegistry(); }
};

TEST_F(RegistryLayout, IsInstalledTestsForTheLm78Key) {
  EXPECT_NE(IsInstalled(), 0);
  standin::regPutKey(kProduct);
  EXPECT_NE(IsInstalled(), 0);
  standin::regPutKey(std::string(kProduct) + "\\LM75");
  EXPECT_NE(IsInstalled(), 0);
  // An empty LM78 key is an installation; its spelling does not matter.
  standin::regPutKey("HKLM\\software\\vko\\dmi\\lm78");
  EXPECT_EQ(IsInstalled(), 0);
  EXPECT_EQ(standin::regOpenHandleCount(), 0);
}

TEST_F(RegistryLayout, RegisterWritesPathStartUpAndUninstallEntries) {
  PutWindowsKeys();
  standin::regPutKey(kProduct);
  RegisterProductEntries();

  EXPECT_EQ(Describe(kProduct, "path"), Expect(REG_SZ, Text("D:\\X")));
  EXPECT_EQ(Describe(kRun, "ZEZOroza"),
            Expect(REG_SZ, Text("D:\\X\\Zezoroza.exe")));
  EXPECT_EQ(Describe(kEntry, "DisplayName"),
            Expect(REG_SZ, Text("VKO Halvermont")));
  EXPECT_EQ(Describe(kEntry, "UninstallString"),
            Expect(REG_SZ, Text("D:\\X\\Dovrel.exe")));
  EXPECT_EQ(standin::regValue(kRun, "ZEZOroza")->data.size(), 18u);
  EXPECT_EQ(standin::regValue(kEntry, "UninstallString")->data.size(), 16u);
  EXPECT_EQ(standin::regValue(kEntry, "DisplayName")->data.size(), 15u);
  EXPECT_EQ(standin::regValueNames(kEntry),
            (std::vector<std::string>{"DisplayName", "UninstallString"}));
  // "MicroSoft" found the key Windows spells Microsoft; no second key.
  EXPECT_EQ(standin::regSubkeys("HKLM\\SOFTWARE"),
            (std::vector<std::string>{"Microsoft", "VKO"}));
  EXPECT_EQ(Describe(kRun, "Other"), Expect(REG_SZ, Text("C:\\other.exe")));
  EXPECT_EQ(standin::regFlushCount(), 1);
  EXPECT_EQ(standin::regOpenHandleCount(), 0);
}

TEST_F(RegistryLayout, RegisterCreatesRunButNotUninstall) {
  standin::regPutKey(kCurrentVersion);
  standin::regPutKey(kProduct);
  RegisterProductEntries();
  EXPECT_EQ(Describe(kRun, "ZEZOroza"),
            Expect(REG_SZ, Text("D:\\X\\Zezoroza.exe")));
  EXPECT_FALSE(standin::regKeyExists(kUninstall));
  EXPECT_FALSE(standin::regKeyExists(kEntry));
}

// A command whose path holds a blank is stored in double quotes, so that
// Windows runs that very file rather than searching C:\Program.exe first; the
// install path itself stays bare.
TEST_F(RegistryLayout, CommandsWithABlankAreQuoted) {
  PutWindowsKeys();
  standin::regPutKey(kProduct);
  std::strcpy(g_installDir, "C:\\Program Files\\VKO Halvermont");
  RegisterProductEntries();
  EXPECT_EQ(Describe(kProduct, "path"),
            Expect(REG_SZ, Text("C:\\Program Files\\VKO Halvermont")));
  EXPECT_EQ(
      Describe(kRun, "ZEZOroza"),
      Expect(REG_SZ,
             Text("\"C:\\Program Files\\VKO Halvermont\\Zezoroza.exe\"")));
  EXPECT_EQ(Describe(kEntry, "UninstallString"),
            Expect(REG_SZ,
                   Text("\"C:\\Program Files\\VKO Halvermont\\Dovrel.exe\"")));
}

// The two command lines are composed in 256-byte buffers, quotes included.
// One that does not fit is not written at all; neither is ever cut short.
TEST_F(RegistryLayout, CommandLinesAtTheBufferLimit) {
  struct Case {
    size_t dirLength;
    bool blank;     // quoted: two more characters
    bool zezoroza;  // dir + "\Zezoroza.exe": 13 more characters
    bool uninstall; // dir + "\Dovrel.exe": 11 more characters
  };
  for (Case c : {Case{242, false, true, true}, Case{243, false, false, true},
                 Case{244, false, false, true}, Case{245, false, false, false},
                 Case{255, false, false, false}, Case{240, true, true, true},
                 Case{241, true, false, true}, Case{242, true, false, true},
                 Case{243, true, false, false}}) {
    SCOPED_TRACE(std::to_string(c.dirLength) + (c.blank ? " quoted" : ""));
    standin::resetRegistry();
    g_changeCount = 0;
    PutWindowsKeys();
    standin::regPutKey(kProduct);
    std::string dir =
        (c.blank ? "C:\\ " : "C:\\d") + std::string(c.dirLength - 4, 'd');
    std::strcpy(g_installDir, dir.c_str());
    const std::string quote = c.blank ? "\"" : "";
    RegisterProductEntries();
    EXPECT_EQ(Describe(kProduct, "path"), Expect(REG_SZ, Text(dir)));
    EXPECT_EQ(Describe(kRun, "ZEZOroza"),
              c.zezoroza
                  ? Expect(REG_SZ, Text(quote + dir + "\\Zezoroza.exe" + quote))
                  : "missing");
    EXPECT_EQ(Describe(kEntry, "UninstallString"),
              c.uninstall
                  ? Expect(REG_SZ, Text(quote + dir + "\\Dovrel.exe" + quote))
                  : "missing");
    EXPECT_EQ(Describe(kEntry, "DisplayName"),
              Expect(REG_SZ, Text("VKO Halvermont")));
  }
}

TEST_F(RegistryLayout, FinishWritesSecurityAndAma) {
  PutWindowsKeys();
  standin::regPutKey(kProduct);
  for (int32_t ama : {1, 0, -1}) {
    g_amaSetting = ama;
    FinishInstallEntries();
    EXPECT_EQ(Describe(kProduct, "Security"), Expect(REG_DWORD, Dword(3)));
    EXPECT_EQ(Describe(kProduct, "AMA"),
              Expect(REG_DWORD, Dword(static_cast<uint32_t>(ama))));
  }
  EXPECT_EQ(Describe(kProduct, "AMA"),
            Expect(REG_DWORD, Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  // Windows 95: the services key is not touched, nothing is flushed.
  EXPECT_EQ(standin::regSubkeys(kServices), (std::vector<std::string>{"Disk"}));
  EXPECT_EQ(standin::regFlushCount(), 0);
  EXPECT_EQ(standin::regOpenHandleCount(), 0);
}

TEST_F(RegistryLayout, FinishOnNtWritesBothDriverServices) {
  g_platform = 0;
  PutWindowsKeys();
  standin::regPutKey(kProduct);
  // VEZUDA exists already, with subkeys and a value of its own.
  const std::string vezuda = std::string(kServices) + "\\VEZUDA";
  standin::regPutKey(vezuda + "\\Enum");
  standin::regPutKey(vezuda + "\\Security");
  standin::regPutKey(vezuda + "\\Parameters");
  standin::regPutDword(vezuda, "Start", 3);
  standin::regPutString(vezuda, "ImagePath", "x.sys");

  FinishInstallEntries();

  for (const char *name : {"VEZUDA", "Riveze"}) {
    SCOPED_TRACE(name);
    const std::string key = std::string(kServices) + "\\" + name;
    EXPECT_EQ(Describe(key, "Type"), Expect(REG_DWORD, Dword(1)));
    EXPECT_EQ(Describe(key, "Start"), Expect(REG_DWORD, Dword(0)));
    EXPECT_EQ(Describe(key, "ErrorControl"), Expect(REG_DWORD, Dword(1)));
    EXPECT_EQ(Describe(key, "Group"), Expect(REG_SZ, Text("Extended base")));
    EXPECT_EQ(standin::regValue(key, "Group")->data.size(), 14u);
    EXPECT_FALSE(standin::regKeyExists(key + "\\Enum"));
    EXPECT_FALSE(standin::regKeyExists(key + "\\Security"));
  }
  EXPECT_EQ(Describe(vezuda, "ImagePath"), Expect(REG_SZ, Text("x.sys")));
  EXPECT_TRUE(standin::regKeyExists(vezuda + "\\Parameters"));
  EXPECT_EQ(standin::regSubkeys(kServices),
            (std::vector<std::string>{"Disk", "VEZUDA", "Riveze"}));
  EXPECT_EQ(standin::regOpenHandleCount(), 0);
}

TEST_F(RegistryLayout, FinishCreatesNoMissingProductOrServicesKey) {
  g_platform = 0;
  const std::string empty = standin::regExportText();
  FinishInstallEntries();
  EXPECT_EQ(standin::regExportText(), empty);
}

TEST_F(RegistryLayout, KeysSpeltOtherwiseAreFound) {
  g_platform = 0;
  standin::regPutKey("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\"
                     "Uninstall");
  standin::regPutKey("HKLM\\SYSTEM\\CurrentControlSet\\Services");
  standin::regPutKey("HKLM\\Software\\vko\\dmi\\LM78");
  RegisterProductEntries();
  FinishInstallEntries();
  EXPECT_EQ(standin::regSubkeys("HKLM"),
            (std::vector<std::string>{"Software", "SYSTEM"}));
  EXPECT_EQ(standin::regSubkeys("HKLM\\SYSTEM\\CurrentControlSet"),
            (std::vector<std::string>{"Services"}));
  EXPECT_TRUE(standin::regKeyExists(kEntry));
  EXPECT_EQ(Describe(kProduct, "AMA"), Expect(REG_DWORD, Dword(1)));
  EXPECT_TRUE(standin::regKeyExists(std::string(kServices) + "\\Riveze"));
}

} // namespace
