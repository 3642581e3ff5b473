// Registry files in the text form of the system's registry editor, as plain
// data: a list of keys, each with its values.
//
// Writing gives REGEDIT4 text with CR LF line ends:
//   REGEDIT4
//   <blank line>
//   [HKEY_LOCAL_MACHINE\SOFTWARE\VKO]      one section per key, then a blank
//   "name"="text"        REG_SZ whose bytes are text (no zero, CR or LF)
//                        plus exactly one terminating zero; \ and " escaped
//   "name"=dword:0000002a  REG_DWORD of exactly 4 bytes, little-endian
//   "name"=hex:01,02       REG_BINARY (possibly empty: hex:)
//   "name"=hex(N):..       any other type or size, N in hex (hex(1): for a
//                          REG_SZ that does not fit the text form)
//   @=...                  the default value (empty name)
// Hex lists longer than a line continue with "\" and an indented next line.
//
// Reading accepts that, and also what `reg export` writes: the header
// "Windows Registry Editor Version 5.00", UTF-16LE with a byte-order mark or
// 8-bit text, CR LF or LF line ends, ";" comment lines, and the escapes \n,
// \r and \0 in strings. In a version 5.00 file the hex forms of REG_SZ,
// REG_EXPAND_SZ and REG_MULTI_SZ hold UTF-16LE text; they are read back as
// the 8-bit text that the ANSI functions see. Characters beyond 8 bits
// become '?'.
#ifndef STANDIN_REGFILE_H
#define STANDIN_REGFILE_H

#include <windows.h>

#include <string>
#include <vector>

namespace standin {

struct RegFileValue {
  std::string name; // empty: the default value
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct RegFileKey {
  std::string path; // "HKEY_LOCAL_MACHINE\SOFTWARE\VKO"
  std::vector<RegFileValue> values;
};

std::string formatRegText(const std::vector<RegFileKey> &keys);
// On failure returns false, leaves keys as it was and, when error is given,
// says which line is wrong.
bool parseRegText(const std::string &text, std::vector<RegFileKey> &keys,
                  std::string *error = nullptr);
bool readRegFile(const std::string &file, std::vector<RegFileKey> &keys,
                 std::string *error = nullptr);
bool writeRegFile(const std::string &file, const std::vector<RegFileKey> &keys);

// Lookups that compare names without regard to case, as the registry does;
// null when absent. A key path may use the short root names (HKLM\...).
const RegFileKey *findRegKey(const std::vector<RegFileKey> &keys,
                             const std::string &path);
const RegFileValue *findRegValue(const RegFileKey &key,
                                 const std::string &name);

} // namespace standin

#endif
