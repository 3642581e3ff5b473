// The suite's program group, made from the item section of the file list
// setup.log through the Program Manager client.
#include "import/program_group.h"

#include <cstring>

#include "import/file_list.h"
#include "state/install_log.h"
#include "state/install_state.h"
#include "system/progman_client.h"
#include "text/bounded_text.h"
#include "text/product_name.h"

// Program Manager takes a bracket inside a double-quoted argument as a plain
// character, so brackets in a path or title are sent as they are. A double
// quote cannot be carried: it would end the quoted argument early and make
// Program Manager run something other than the intended AddItem.
static bool HoldsDoubleQuote(const char *text) {
  return std::strchr(text, '"') != nullptr;
}

// Sends the AddItem command for the item line in g_lineBuffer: the program
// path <install dir>\<item name> in double quotes, then the title in double
// quotes. The command is sent whole or not at all. Returns what
// ProgmanExecute returns, or 2 when the line gives no command to send.
static int AddProgramItem() {
  // An item line needs a separator after its name and a quoted title;
  // without either it names no item.
  if (std::strpbrk(g_lineBuffer, " =") == nullptr ||
      std::strchr(g_lineBuffer, '"') == nullptr)
    return 2;

  char command[256] = "";
  ParseItemName();
  if (HoldsDoubleQuote(g_installDir) || HoldsDoubleQuote(g_itemField))
    return 2;
  bool fits = AppendText(command, "[AddItem(\"") &&
              AppendText(command, g_installDir) && AppendText(command, "\\") &&
              AppendText(command, g_itemField) && AppendText(command, "\",\"");
  // The target text replaces the item name in the shared field.
  ParseItemTarget();
  if (HoldsDoubleQuote(g_itemField))
    return 2;
  fits =
      fits && AppendText(command, g_itemField) && AppendText(command, "\")]");
  if (!fits)
    return 2;
  return ProgmanExecute(command, PROGMAN_TIMEOUT_MS);
}

// True when the line begins with "#item" in any letter case (of A to Z
// only, as in the "C" locale).
static bool IsItemMarker(const char *line) {
  static const char marker[] = "#item";
  for (int i = 0; i < 5; ++i) {
    char c = line[i];
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
    if (c != marker[i])
      return false;
  }
  return true;
}

int CreateProgramGroup(FILE *stream) {
  if (stream == nullptr)
    return 1;
  ProgmanConnect();

  // A group of the suite's name that is there already is the user's, or an
  // earlier installation's: only a group this run creates goes into the
  // record of its changes. Where the groups cannot be asked for, the group
  // is taken for the user's.
  const int existed = ProgmanGroupExists(PRODUCT_NAME);
  if (existed != 0)
    LogLine("program group \"" PRODUCT_NAME "\": %s",
            existed == 1 ? "there already, not this run's"
                         : "not known whether it exists, treated as the "
                           "user's");
  const bool recorded = existed == 0;
  if (recorded && g_changeCount >= CHANGE_RECORD_SLOTS) {
    LogLine("record of changes: full, the program group is not made");
    ProgmanDisconnect();
    return -1;
  }
  if (recorded) {
    RecordedChange &change = g_changes[g_changeCount++];
    change.kind = kGroupCreated;
    change.key[0] = '\0';
    change.name[0] = '\0';
    change.size = 0;
  }
  char command[256] = "";
  int created = 0;
  if (AppendText(command, "[CreateGroup(") &&
      AppendText(command, PRODUCT_NAME) && AppendText(command, ",1)]"))
    created = ProgmanExecute(command, PROGMAN_TIMEOUT_MS);
  // A refused CreateGroup made nothing. One that timed out may still be
  // carried out late, and the group did not exist before: it stays in the
  // record as this run's.
  if (recorded && created == 0)
    --g_changeCount;
  if (created != 1) {
    // Without the group Program Manager would put the items into whatever
    // group is active, so none is sent.
    LogLine("program group: not created, no item sent");
    ProgmanDisconnect();
    return -1;
  }

  // Read from the first line whatever the caller read before; the rewind also
  // clears the end-of-file and error states. A read error ends the list as its
  // end would: the reader then delivers only empty lines and never reaches the
  // end of the file.
  const unsigned failures = StreamFailureCount();
  std::rewind(stream);
  if (StreamFailureCount() != failures)
    LogStreamFailure("setup.log");
  bool inSection = false;
  unsigned made = 0;
  unsigned missing = 0;
  // After a time-out Program Manager is taken as hung: the items left are
  // not sent, so that it costs the time-out once.
  bool hung = false;
  while (!std::feof(stream) && !std::ferror(stream)) {
    ReadLogLine(stream);
    if (g_lineBuffer[0] == '\0')
      continue;
    if (inSection) {
      if (g_lineBuffer[0] == '#')
        break;
      // A line too long to read whole names no item that can be trusted.
      if (!g_lineCut && hung) {
        ++missing;
      } else if (!g_lineCut) {
        const int added = AddProgramItem();
        made += added == 1 ? 1 : 0;
        missing += added == 0 || added == -1 ? 1 : 0;
        hung = added == -1;
      }
    }
    if (IsItemMarker(g_lineBuffer))
      inSection = true;
  }
  // A list that cannot be read to its end may hold items never sent.
  const bool unread = std::ferror(stream) != 0;
  if (unread)
    LogStreamFailure("setup.log");

  if (unread)
    LogLine("program group: lacks the items after a read error in setup.log");
  else if (missing == 0)
    LogLine("program group: whole, %u items", made);
  else
    LogLine("program group: lacks %u of %u items%s", missing, made + missing,
            hung ? " (Program Manager did not answer in time)" : "");
  ProgmanDisconnect();
  return missing == 0 && !unread ? 1 : 0;
}
