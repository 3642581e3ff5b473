// Writes registry keys with every value's type, size and bytes as stored, in
// one run for all keys the suite checks. Strings are stored as wide
// characters; they are written here as ANSI bytes, one per character. (Wine
// stores a string set through RegSetValueExA as its text and one terminator
// whatever size was passed, so string sizes are pinned by the native tests.)
//
//   regdump.exe <output file> <key>...      key: HKLM\path or HKCU\path
//
// Output, one line each, for every key and its subkeys, depth first:
//   key path="HKEY_LOCAL_MACHINE\Software\VKO"
//   value name="path" type=1 size=33 data=433a5c...00
//   missing path="..."                       (the key does not exist)
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

FILE *g_out = nullptr;

std::string Quote(const char *s, size_t n) {
  std::string q = "\"";
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '\\' || c == '"') {
      q += '\\';
      q += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      q += hex;
    } else {
      q += static_cast<char>(c);
    }
  }
  return q + "\"";
}

std::string Quote(const std::string &s) { return Quote(s.data(), s.size()); }

// Characters of the ANSI code page for count wide characters, one for one.
std::string Narrow(const WCHAR *w, DWORD count) {
  if (count == 0)
    return std::string();
  std::string out(count * 2, '\0');
  int n = WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(count), &out[0],
                              static_cast<int>(out.size()), nullptr, nullptr);
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

void Dump(HKEY root, const std::string &rootName, const std::string &sub) {
  std::string path = rootName + (sub.empty() ? "" : "\\" + sub);
  HKEY key;
  if (RegOpenKeyExA(root, sub.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    fprintf(g_out, "missing path=%s\n", Quote(path).c_str());
    return;
  }
  fprintf(g_out, "key path=%s\n", Quote(path).c_str());
  // The wide function returns the stored bytes as they are; the ANSI one
  // adds or drops a string's terminator on the way.
  std::vector<BYTE> data(1 << 16);
  for (DWORD i = 0;; ++i) {
    WCHAR nameW[16384];
    DWORD nameLen = sizeof nameW / sizeof nameW[0], type = 0;
    DWORD size = static_cast<DWORD>(data.size());
    LONG r = RegEnumValueW(key, i, nameW, &nameLen, nullptr, &type, data.data(),
                           &size);
    if (r == ERROR_MORE_DATA) {
      data.resize(size);
      --i;
      continue;
    }
    if (r != ERROR_SUCCESS)
      break;
    std::string name = Narrow(nameW, nameLen);
    std::vector<BYTE> bytes(data.begin(), data.begin() + size);
    bool text = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
    if (text && size % 2 == 0) {
      // One ANSI byte per stored character, as RegSetValueExA stored them.
      std::string a =
          Narrow(reinterpret_cast<const WCHAR *>(data.data()), size / 2);
      bytes.assign(a.begin(), a.end());
    }
    std::string hex;
    for (BYTE b : bytes) {
      char h[4];
      snprintf(h, sizeof h, "%02x", b);
      hex += h;
    }
    fprintf(g_out, "value name=%s type=%lu size=%lu data=%s\n",
            Quote(name).c_str(), static_cast<unsigned long>(type),
            static_cast<unsigned long>(bytes.size()),
            hex.empty() ? "-" : hex.c_str());
  }
  std::vector<std::string> children;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameLen = sizeof name;
    if (RegEnumKeyExA(key, i, name, &nameLen, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS)
      break;
    children.emplace_back(name, nameLen);
  }
  RegCloseKey(key);
  for (const std::string &c : children)
    Dump(root, rootName, sub.empty() ? c : sub + "\\" + c);
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: regdump <output> <key>...\n");
    return 2;
  }
  g_out = fopen(argv[1], "wb");
  if (!g_out)
    return 2;
  for (int i = 2; i < argc; ++i) {
    const char *arg = argv[i];
    const char *slash = strchr(arg, '\\');
    std::string rootText(arg, slash ? static_cast<size_t>(slash - arg)
                                    : strlen(arg));
    std::string sub = slash ? slash + 1 : "";
    if (rootText == "HKLM" || rootText == "HKEY_LOCAL_MACHINE")
      Dump(HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", sub);
    else if (rootText == "HKCU" || rootText == "HKEY_CURRENT_USER")
      Dump(HKEY_CURRENT_USER, "HKEY_CURRENT_USER", sub);
    else
      fprintf(g_out, "missing path=%s\n", Quote(arg, strlen(arg)).c_str());
  }
  fclose(g_out);
  return 0;
}
