// Program Manager client over the DDE Management Library.
#include "system/progman_client.h"

#include "import/file_list.h"
#include "shell/setup_globals.h"
#include "system/bounded_text.h"

#include <cstring>

DWORD g_ddeInstance = 0;
HCONV g_progmanConv = nullptr;

HDDEDATA CALLBACK ProgmanCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA,
                                  ULONG_PTR, ULONG_PTR) {
  return nullptr;
}

int ProgmanConnect() {
  const DWORD flags = APPCMD_CLIENTONLY | CBF_SKIP_ALLNOTIFICATIONS;
  if (DdeInitializeA(&g_ddeInstance, ProgmanCallback, flags, 0) !=
      DMLERR_NO_ERROR) {
    // The library may be busy; one more attempt, whose outcome only shows in
    // whether the connect below succeeds.
    Sleep(500);
    DdeInitializeA(&g_ddeInstance, ProgmanCallback, flags, 0);
  }
  HSZ progman = DdeCreateStringHandleA(g_ddeInstance, "Progman", 0);
  g_progmanConv = DdeConnect(g_ddeInstance, progman, progman, nullptr);
  if (g_progmanConv != nullptr)
    return 1;
  Sleep(500);
  g_progmanConv = DdeConnect(g_ddeInstance, progman, progman, nullptr);
  return g_progmanConv != nullptr ? 1 : 0;
}

int ProgmanExecute(const char *command) {
  if (command == nullptr)
    return 0;
  // The library takes the bytes through a non-const pointer but only reads
  // them for an execute transaction.
  LPBYTE data = reinterpret_cast<LPBYTE>(const_cast<char *>(command));
  const DWORD count = static_cast<DWORD>(std::strlen(command) + 1);
  DWORD transaction = 0;
  if (DdeClientTransaction(data, count, g_progmanConv, nullptr, 0, XTYP_EXECUTE,
                           TIMEOUT_ASYNC, &transaction) != nullptr)
    return 1;
  Sleep(100);
  return DdeClientTransaction(data, count, g_progmanConv, nullptr, 0,
                              XTYP_EXECUTE, TIMEOUT_ASYNC,
                              &transaction) != nullptr
             ? 1
             : 0;
}

int ProgmanDisconnect() {
  if (g_progmanConv != nullptr) {
    DdeDisconnect(g_progmanConv);
    g_progmanConv = nullptr;
  }
  DdeUninitialize(g_ddeInstance);
  g_ddeInstance = 0;
  return 1;
}

// Program Manager takes a bracket inside a double-quoted argument as a plain
// character, so brackets in a path or title are sent as they are. A double
// quote cannot be carried: it would end the quoted argument early and make
// Program Manager run something other than the intended AddItem.
static bool HoldsDoubleQuote(const char *text) {
  return std::strchr(text, '"') != nullptr;
}

// Sends the AddItem command for the item line in g_lineBuffer: the program
// path <install dir>\<item name> in double quotes, then the title in double
// quotes. The command is sent whole or not at all.
static void AddProgramItem() {
  // An item line needs a separator after its name and a quoted title;
  // without either it names no item.
  if (std::strpbrk(g_lineBuffer, " =") == nullptr ||
      std::strchr(g_lineBuffer, '"') == nullptr)
    return;

  char command[256] = "";
  ParseItemName();
  if (HoldsDoubleQuote(g_installDir) || HoldsDoubleQuote(g_itemField))
    return;
  bool fits = AppendText(command, "[AddItem(\"") &&
              AppendText(command, g_installDir) && AppendText(command, "\\") &&
              AppendText(command, g_itemField) && AppendText(command, "\",\"");
  // The target text replaces the item name in the shared field.
  ParseItemTarget();
  if (HoldsDoubleQuote(g_itemField))
    return;
  fits =
      fits && AppendText(command, g_itemField) && AppendText(command, "\")]");
  if (!fits)
    return;
  ProgmanExecute(command);
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

  char command[256] = "";
  if (AppendText(command, "[CreateGroup(") &&
      AppendText(command, PRODUCT_NAME) && AppendText(command, ",1)]"))
    ProgmanExecute(command);

  // Read from the first line whatever the caller read before; the rewind also
  // clears the end-of-file and error states. A read error ends the list as its
  // end would: the reader then delivers only empty lines and never reaches the
  // end of the file.
  std::rewind(stream);
  bool inSection = false;
  while (!std::feof(stream) && !std::ferror(stream)) {
    ReadLogLine(stream);
    if (g_lineBuffer[0] == '\0')
      continue;
    if (inSection) {
      if (g_lineBuffer[0] == '#')
        break;
      // A line too long to read whole names no item that can be trusted.
      if (!g_lineCut)
        AddProgramItem();
    }
    if (IsItemMarker(g_lineBuffer))
      inSection = true;
  }

  return ProgmanDisconnect();
}
