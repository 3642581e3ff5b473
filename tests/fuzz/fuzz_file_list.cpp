// Fuzz target: setup.log, read by CreateProgramGroup with the file-list
// reader, so that the composition of the Program Manager commands is covered.
//
// Input: byte 0 is the length of the install directory; the rest is the
// content of setup.log.
//
// Invariants: the group is created first; every command sent is well formed
// (at most 255 characters, quotes paired, brackets balanced outside quotes,
// ending in ")]"); every item names <install dir>\<name> with the name and
// its title each standing whole in one line of the file, never cut; the
// reader always advances and leaves its buffer terminated and zero after the
// text.
#include <string>

#include "fuzz_machine.h"
#include "import/file_list.h"
#include "import/program_group.h"
#include "system/progman_client.h"

namespace {

bool IsBlank(char c) { return c == ' '; }

// The name stands at the start of a line, after blanks only, and a blank or
// an equals sign follows it.
bool NameStandsWhole(const std::string &file, const std::string &name) {
  for (size_t at = file.find(name); at != std::string::npos;
       at = file.find(name, at + 1)) {
    size_t start = at;
    while (start > 0 && IsBlank(file[start - 1]))
      --start;
    size_t end = at + name.size();
    if ((start == 0 || file[start - 1] == '\n') && end < file.size() &&
        (IsBlank(file[end]) || file[end] == '='))
      return true;
  }
  return false;
}

// True when only blanks stand at `at` up to the end of the line, the end of
// the file or a comment.
bool LineEndsAt(const std::string &file, size_t at) {
  while (at < file.size() && IsBlank(file[at]))
    ++at;
  return at == file.size() || file[at] == '\n' ||
         file.compare(at, 2, "//") == 0;
}

// The title follows a double quote, and after it comes exactly one more
// character of the line (the closing quote of a well-formed line), then the
// end of the line; or the title is empty and the quote ends the line.
bool TitleStandsWhole(const std::string &file, const std::string &title) {
  const std::string quoted = "\"" + title;
  for (size_t at = file.find(quoted); at != std::string::npos;
       at = file.find(quoted, at + 1)) {
    size_t last = at + quoted.size();
    if (title.empty() && LineEndsAt(file, last))
      return true;
    if (!LineEndsAt(file, last) && !IsBlank(file[last]) &&
        LineEndsAt(file, last + 1))
      return true;
  }
  return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0)
    return 0;
  const std::string installDir(data[0], 'd');
  const std::string file(reinterpret_cast<const char *>(data + 1), size - 1);
  fuzzmachine::ResetMachine();
  std::memcpy(g_installDir, installDir.c_str(), installDir.size() + 1);
  fuzzmachine::StoreBytes("setup.log", file);
  FILE *stream = std::fopen("setup.log", "r");
  FUZZ_CHECK(stream != nullptr, "setup.log");

  const int result = CreateProgramGroup(stream);

  // The reader alone, as the group reads it: every call ends, consuming at
  // least one character until the end of the file, and after every line the
  // text fits the buffer and every byte after it is zero.
  std::rewind(stream);
  size_t calls = 0;
  while (!std::feof(stream)) {
    ReadLogLine(stream);
    FUZZ_CHECK(++calls <= file.size() + 1, "the reader does not advance");
    const size_t length = strnlen(g_lineBuffer, sizeof(g_lineBuffer));
    FUZZ_CHECK(length < sizeof(g_lineBuffer), "line not terminated");
    for (size_t i = length; i < sizeof(g_lineBuffer); ++i)
      FUZZ_CHECK(g_lineBuffer[i] == '\0', "bytes after the line's text");
  }
  std::fclose(stream);

  const std::string shown = fuzzmachine::Visible(file);
  // The reader stores a tab as a blank.
  std::string lines = file;
  for (char &c : lines)
    if (c == '\t')
      c = ' ';
  // The group is whole unless Program Manager could not carry out a command.
  FUZZ_CHECK(result == (standin::progmanRejected().empty() ? 1 : 0), shown);
  const auto commands = fuzzmachine::CheckDdeCommands();
  FUZZ_CHECK(!commands.empty() &&
                 commands[0] == "[CreateGroup(VKO Halvermont,1)]",
             shown);
  const std::string head = "[AddItem(\"" + installDir + "\\";
  for (size_t i = 1; i < commands.size(); ++i) {
    const std::string &command = commands[i];
    FUZZ_CHECK(command.compare(0, head.size(), head) == 0 &&
                   command.size() >= head.size() + 6 &&
                   command.compare(command.size() - 3, 3, "\")]") == 0,
               fuzzmachine::Visible(command));
    const std::string items =
        command.substr(head.size(), command.size() - head.size() - 3);
    const size_t comma = items.find("\",\"");
    FUZZ_CHECK(comma != std::string::npos, fuzzmachine::Visible(command));
    const std::string name = items.substr(0, comma);
    const std::string title = items.substr(comma + 3);
    FUZZ_CHECK(name.empty() || NameStandsWhole(lines, name),
               fuzzmachine::Visible(command) + "\n  in " + shown);
    FUZZ_CHECK(TitleStandsWhole(lines, title),
               fuzzmachine::Visible(command) + "\n  in " + shown);
  }
  return 0;
}
