// Fuzz target: the setup log's lines with values of arbitrary bytes, as the
// hand-off file, registry texts and DDE commands put them into the log.
// Byte 0: bits 0-5 the size of the escaping buffer (1-64; 0 for the log
// line's own size), bit 6 a disk that fills during the line (its free bytes
// are byte 1), bit 7 a second line. The rest are the value's bytes.
//
// Invariants: the escaped text is terminated within its buffer, holds no
// control character, and is the start of the bytes escaped byte by byte
// (control characters as \xHH, every other byte as it is), stopping only
// where the next one would not fit. The log file holds whole CR LF lines
// only, at most 1024 bytes each, and each written line is the value whole
// or cut to end in "..."; after a write that fails the last line gives the
// exit status with the count of lines not written.
#include <memory>
#include <string>
#include <vector>

#include "fuzz_machine.h"
#include "state/install_log.h"

static std::string Escaped(const std::string &bytes) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

static std::string ReadAll(const char *path) {
  std::string text;
  if (FILE *file = std::fopen(path, "rb")) {
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
      text.append(chunk, n);
    std::fclose(file);
  }
  return text;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2)
    return 0;
  const size_t bufferSize =
      (data[0] & 0x3F) == 0 ? 4 * LOG_LINE_SIZE : (data[0] & 0x3F);
  const bool diskFills = (data[0] & 0x40) != 0;
  const bool secondLine = (data[0] & 0x80) != 0;
  const std::string bytes(reinterpret_cast<const char *>(data + 2), size - 2);
  const std::string shown = fuzzmachine::Visible(
      std::string(reinterpret_cast<const char *>(data), 2) + bytes);
  fuzzmachine::ResetMachine();

  // Exactly the buffer's size: a write past it is a heap overflow.
  std::unique_ptr<char[]> out(new char[bufferSize]);
  EscapeBytes(out.get(), bufferSize, bytes.data(), bytes.size());
  const std::string escaped(out.get(), strnlen(out.get(), bufferSize));
  FUZZ_CHECK(escaped.size() < bufferSize, shown);
  const std::string whole = Escaped(bytes);
  FUZZ_CHECK(whole.compare(0, escaped.size(), escaped) == 0, shown);
  if (escaped.size() < whole.size()) {
    const size_t next = whole[escaped.size()] == '\\' ? 4 : 1;
    FUZZ_CHECK(escaped.size() + next + 1 > bufferSize, shown);
  }
  for (unsigned char c : escaped)
    FUZZ_CHECK(c >= 0x20 && c != 0x7F, shown);

  static const char log[] = "fuzz.log";
  std::remove(log);
  FUZZ_CHECK(LogOpen(log), shown);
  if (diskFills)
    standin::setDiskSpace(data[1]);
  const int lines = secondLine ? 2 : 1;
  for (int i = 0; i < lines; ++i)
    LogLine("value %s", escaped.c_str());
  standin::setDiskSpace(-1);
  LogClose(1603);

  const std::string text = ReadAll(log);
  std::vector<std::string> written;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    FUZZ_CHECK(end + 2 - start <= LOG_LINE_SIZE, shown);
    FUZZ_CHECK(end - start >= 17, shown);
    written.push_back(text.substr(start + 17, end - start - 17));
  }
  FUZZ_CHECK(start == text.size(), shown + ": a line without its end");
  FUZZ_CHECK(!written.empty(), shown);
  const std::string value = "value " + escaped;
  const size_t room = LOG_LINE_SIZE - 17 - 2;
  const std::string line =
      value.size() <= room ? value : value.substr(0, room - 3) + "...";
  const std::string exit = "exit status 1603: a failure after Install";
  for (size_t i = 0; i + 1 < written.size(); ++i)
    FUZZ_CHECK(written[i] == line, shown);
  const std::string &last = written.back();
  if (written.size() == static_cast<size_t>(lines) + 1) {
    FUZZ_CHECK(last == exit, shown);
  } else {
    FUZZ_CHECK(diskFills, shown);
    const std::string missing =
        "; " + std::to_string(lines - (written.size() - 1)) +
        " lines before it not written, the first failure: WriteFile: ";
    FUZZ_CHECK(last.compare(0, exit.size() + missing.size(), exit + missing) ==
                   0,
               shown + " -> " + fuzzmachine::Visible(last));
  }
  return 0;
}
