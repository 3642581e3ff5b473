// Registry files as text: REGEDIT4 out, REGEDIT4 and version 5.00 in.
#include "standin/regfile.h"
#include "text_compare.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace standin {
namespace {

const char kHeader4[] = "REGEDIT4";
const char kHeader5[] = "Windows Registry Editor Version 5.00";
const size_t kHexLineLimit = 76;

const char *hexDigits = "0123456789abcdef";

void appendHexByte(std::string &out, BYTE b) {
  out += hexDigits[b >> 4];
  out += hexDigits[b & 15];
}

void appendQuoted(std::string &out, const std::string &text) {
  out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"')
      out += '\\';
    out += c;
  }
  out += '"';
}

// True when the bytes are text without zero, CR or LF followed by exactly
// one terminating zero: the only REG_SZ that the quoted form reproduces.
bool fitsTextForm(const std::vector<BYTE> &data) {
  if (data.empty() || data.back() != 0)
    return false;
  for (size_t i = 0; i + 1 < data.size(); ++i)
    if (data[i] == 0 || data[i] == '\r' || data[i] == '\n')
      return false;
  return true;
}

void appendValue(std::string &out, const RegFileValue &v) {
  std::string line;
  if (v.name.empty())
    line = "@";
  else
    appendQuoted(line, v.name);
  line += '=';
  if (v.type == REG_SZ && fitsTextForm(v.data)) {
    appendQuoted(line, std::string(v.data.begin(), v.data.end() - 1));
    out += line + "\r\n";
    return;
  }
  if (v.type == REG_DWORD && v.data.size() == 4) {
    char buf[16];
    unsigned value = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) |
                     (static_cast<unsigned>(v.data[3]) << 24);
    std::snprintf(buf, sizeof buf, "dword:%08x", value);
    out += line + buf + "\r\n";
    return;
  }
  if (v.type == REG_BINARY) {
    line += "hex:";
  } else {
    char buf[24];
    std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
    line += buf;
  }
  for (size_t i = 0; i < v.data.size(); ++i) {
    appendHexByte(line, v.data[i]);
    if (i + 1 < v.data.size()) {
      line += ',';
      if (line.size() > kHexLineLimit) {
        out += line + "\\\r\n";
        line = "  ";
      }
    }
  }
  out += line + "\r\n";
}

// ---- reading ----

struct Reader {
  std::vector<std::string> lines;
  size_t next = 0;
  bool wide = false; // version 5.00: hex text types hold UTF-16LE
  std::string error;

  bool fail(size_t lineNo, const std::string &what) {
    error = "line " + std::to_string(lineNo) + ": " + what;
    return false;
  }
};

// UTF-16LE (after a byte-order mark) to 8-bit text.
std::string narrowUtf16(const std::string &bytes, size_t start) {
  std::string out;
  for (size_t i = start; i + 1 < bytes.size(); i += 2) {
    unsigned c = static_cast<unsigned char>(bytes[i]) |
                 (static_cast<unsigned char>(bytes[i + 1]) << 8);
    out += c < 256 ? static_cast<char>(c) : '?';
  }
  return out;
}

std::vector<BYTE> narrowUtf16Bytes(const std::vector<BYTE> &data) {
  if (data.size() % 2 != 0)
    return data;
  std::vector<BYTE> out;
  for (size_t i = 0; i < data.size(); i += 2) {
    unsigned c = data[i] | (data[i + 1] << 8);
    out.push_back(c < 256 ? static_cast<BYTE>(c) : '?');
  }
  return out;
}

std::vector<std::string> splitLines(const std::string &text) {
  std::vector<std::string> lines;
  std::string cur;
  for (char c : text) {
    if (c == '\n') {
      if (!cur.empty() && cur.back() == '\r')
        cur.pop_back();
      lines.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty() && cur.back() == '\r')
    cur.pop_back();
  if (!cur.empty())
    lines.push_back(cur);
  return lines;
}

std::string trim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos)
    return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// Reads a quoted text at s[pos] == '"'; pos ends after the closing quote.
bool readQuoted(const std::string &s, size_t &pos, std::string &out) {
  if (pos >= s.size() || s[pos] != '"')
    return false;
  ++pos;
  out.clear();
  while (pos < s.size()) {
    char c = s[pos++];
    if (c == '"')
      return true;
    if (c == '\\') {
      if (pos >= s.size())
        return false;
      char e = s[pos++];
      switch (e) {
      case '\\':
      case '"':
        out += e;
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case '0':
        out += '\0';
        break;
      default:
        return false;
      }
    } else {
      out += c;
    }
  }
  return false;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

bool parseHexList(const std::string &text, std::vector<BYTE> &out) {
  out.clear();
  std::string t = trim(text);
  if (t.empty())
    return true;
  size_t pos = 0;
  while (true) {
    while (pos < t.size() && (t[pos] == ' ' || t[pos] == '\t'))
      ++pos;
    if (pos + 1 >= t.size())
      return false;
    int hi = hexValue(t[pos]), lo = hexValue(t[pos + 1]);
    if (hi < 0 || lo < 0)
      return false;
    out.push_back(static_cast<BYTE>(hi * 16 + lo));
    pos += 2;
    while (pos < t.size() && (t[pos] == ' ' || t[pos] == '\t'))
      ++pos;
    if (pos == t.size())
      return true;
    if (t[pos] != ',')
      return false;
    ++pos;
    if (trim(t.substr(pos)).empty())
      return true; // a trailing comma
  }
}

bool parseValueLine(Reader &r, size_t lineNo, const std::string &line,
                    RegFileValue &v) {
  size_t pos = 0;
  if (line[0] == '@') {
    v.name.clear();
    pos = 1;
  } else if (!readQuoted(line, pos, v.name)) {
    return r.fail(lineNo, "bad value name");
  }
  while (pos < line.size() && line[pos] == ' ')
    ++pos;
  if (pos >= line.size() || line[pos] != '=')
    return r.fail(lineNo, "'=' expected");
  ++pos;
  while (pos < line.size() && line[pos] == ' ')
    ++pos;
  std::string rest = line.substr(pos);
  if (!rest.empty() && rest[0] == '"') {
    std::string text;
    size_t p = 0;
    if (!readQuoted(rest, p, text) || !trim(rest.substr(p)).empty())
      return r.fail(lineNo, "bad text value");
    v.type = REG_SZ;
    v.data.assign(text.begin(), text.end());
    v.data.push_back(0);
    return true;
  }
  if (rest.compare(0, 6, "dword:") == 0) {
    std::string digits = trim(rest.substr(6));
    if (digits.empty() || digits.size() > 8)
      return r.fail(lineNo, "bad dword");
    unsigned value = 0;
    for (char c : digits) {
      int h = hexValue(c);
      if (h < 0)
        return r.fail(lineNo, "bad dword");
      value = value * 16 + static_cast<unsigned>(h);
    }
    v.type = REG_DWORD;
    v.data = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
              static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
    return true;
  }
  if (rest.compare(0, 3, "hex") != 0)
    return r.fail(lineNo, "unknown value form");
  size_t colon = rest.find(':');
  if (colon == std::string::npos)
    return r.fail(lineNo, "':' expected");
  std::string kind = rest.substr(3, colon - 3);
  if (kind.empty()) {
    v.type = REG_BINARY;
  } else {
    if (kind.size() < 3 || kind.front() != '(' || kind.back() != ')' ||
        kind.size() > 10)
      return r.fail(lineNo, "bad hex type");
    unsigned type = 0;
    for (size_t i = 1; i + 1 < kind.size(); ++i) {
      int h = hexValue(kind[i]);
      if (h < 0)
        return r.fail(lineNo, "bad hex type");
      type = type * 16 + static_cast<unsigned>(h);
    }
    v.type = type;
  }
  // Continuation lines: a list that ends in a backslash goes on below.
  std::string list = rest.substr(colon + 1);
  while (true) {
    std::string t = trim(list);
    if (t.empty() || t.back() != '\\')
      break;
    t.pop_back();
    if (r.next >= r.lines.size())
      return r.fail(lineNo, "continuation line missing");
    list = t + r.lines[r.next++];
  }
  if (!parseHexList(list, v.data))
    return r.fail(lineNo, "bad hex list");
  if (r.wide &&
      (v.type == REG_SZ || v.type == REG_EXPAND_SZ || v.type == REG_MULTI_SZ))
    v.data = narrowUtf16Bytes(v.data);
  return true;
}

bool sameName(const std::string &a, const std::string &b) {
  return standin::sameTextIgnoringCase(a, b);
}

// The path with its root spelt in full and without a trailing backslash.
std::string fullPath(const std::string &path) {
  static const char *const shortNames[][2] = {{"HKLM", "HKEY_LOCAL_MACHINE"},
                                              {"HKCU", "HKEY_CURRENT_USER"},
                                              {"HKCR", "HKEY_CLASSES_ROOT"},
                                              {"HKU", "HKEY_USERS"}};
  std::string p = path;
  if (!p.empty() && p.back() == '\\')
    p.pop_back();
  size_t bs = p.find('\\');
  std::string root = p.substr(0, bs);
  for (const auto &n : shortNames)
    if (sameName(root, n[0]))
      return n[1] + (bs == std::string::npos ? "" : p.substr(bs));
  return p;
}

} // namespace

const RegFileKey *findRegKey(const std::vector<RegFileKey> &keys,
                             const std::string &path) {
  std::string wanted = fullPath(path);
  for (const RegFileKey &key : keys)
    if (sameName(fullPath(key.path), wanted))
      return &key;
  return nullptr;
}

const RegFileValue *findRegValue(const RegFileKey &key,
                                 const std::string &name) {
  for (const RegFileValue &v : key.values)
    if (sameName(v.name, name))
      return &v;
  return nullptr;
}

std::string formatRegText(const std::vector<RegFileKey> &keys) {
  std::string out = std::string(kHeader4) + "\r\n\r\n";
  for (const RegFileKey &key : keys) {
    out += "[" + key.path + "]\r\n";
    for (const RegFileValue &v : key.values)
      appendValue(out, v);
    out += "\r\n";
  }
  return out;
}

bool parseRegText(const std::string &text, std::vector<RegFileKey> &keys,
                  std::string *error) {
  Reader r;
  std::string body;
  if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
      static_cast<unsigned char>(text[1]) == 0xFE)
    body = narrowUtf16(text, 2);
  else if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
    body = text.substr(3);
  else
    body = text;
  r.lines = splitLines(body);

  // The header is the first line that is not blank.
  while (r.next < r.lines.size() && trim(r.lines[r.next]).empty())
    ++r.next;
  if (r.next >= r.lines.size()) {
    if (error)
      *error = "no header";
    return false;
  }
  std::string header = trim(r.lines[r.next++]);
  if (header == kHeader5) {
    r.wide = true;
  } else if (header != kHeader4) {
    if (error)
      *error = "line " + std::to_string(r.next) + ": unknown header";
    return false;
  }

  std::vector<RegFileKey> result;
  while (r.next < r.lines.size()) {
    size_t lineNo = r.next + 1;
    std::string line = trim(r.lines[r.next++]);
    if (line.empty() || line[0] == ';')
      continue;
    bool ok = true;
    if (line[0] == '[') {
      if (line.back() != ']' || line.size() < 3 || line[1] == '-')
        ok = r.fail(lineNo, "bad key line");
      else
        result.push_back(RegFileKey{line.substr(1, line.size() - 2), {}});
    } else if (result.empty()) {
      ok = r.fail(lineNo, "value outside a key");
    } else {
      RegFileValue v;
      ok = parseValueLine(r, lineNo, line, v);
      if (ok)
        result.back().values.push_back(v);
    }
    if (!ok) {
      if (error)
        *error = r.error;
      return false;
    }
  }
  keys = std::move(result);
  return true;
}

bool readRegFile(const std::string &file, std::vector<RegFileKey> &keys,
                 std::string *error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    if (error)
      *error = "cannot open " + file;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return parseRegText(text.str(), keys, error);
}

bool writeRegFile(const std::string &file,
                  const std::vector<RegFileKey> &keys) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out)
    return false;
  std::string text = formatRegText(keys);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  return !out.fail();
}

} // namespace standin
