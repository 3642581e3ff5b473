// setup.log, read as text one logical line at a time.
#include "import/file_list.h"

#include <windows.h>

#include <cstring>

char g_lineBuffer[256];
char g_itemField[256];
bool g_lineCut = false;

// Collects the characters of one logical line into g_lineBuffer. Blanks are
// held back until a later character shows they are not trailing, so the
// length limit applies to the line as it is finally stored.
struct LineCollector {
  size_t length = 0;
  size_t pendingBlanks = 0;
  bool tooLong = false;
  bool holdsZero = false;

  void Store(char c) {
    // A zero byte would end the text early: the line's text stops there and
    // the rest of the line is read but not stored.
    if (c == '\0')
      holdsZero = true;
    if (holdsZero)
      return;
    if (c == ' ') {
      ++pendingBlanks;
      return;
    }
    if (tooLong || length + pendingBlanks + 1 >= sizeof(g_lineBuffer)) {
      tooLong = true;
      return;
    }
    for (; pendingBlanks > 0; --pendingBlanks)
      g_lineBuffer[length++] = ' ';
    g_lineBuffer[length++] = c;
  }
};

void ReadLogLine(FILE *stream) {
  std::memset(g_lineBuffer, 0, sizeof(g_lineBuffer));
  g_lineCut = false;
  if (std::feof(stream))
    return;

  // Skip phase: blanks and tabs at the start of the line.
  for (;;) {
    int c = std::fgetc(stream);
    if (c == EOF)
      return;
    if (c != ' ' && c != '\t') {
      std::ungetc(c, stream);
      break;
    }
  }

  // Collect phase, up to a line feed, a comment or the end of the file.
  LineCollector line;
  while (!std::feof(stream)) {
    int c = std::fgetc(stream);
    if (c == EOF || c == '\n')
      break;
    if (c == '/') {
      int next = std::fgetc(stream);
      if (next == '/') {
        do
          c = std::fgetc(stream);
        while (c != '\n' && c != EOF);
        break;
      }
      line.Store('/');
      if (next == EOF)
        break;
      std::ungetc(next, stream);
    } else if (c == '\t') {
      line.Store(' ');
    } else {
      line.Store(static_cast<char>(c));
    }
  }

  // Trailing blanks were never written. A line that did not fit, or whose
  // text a zero byte ended, keeps its beginning, which still tells a
  // section marker; the caller must not take a cut line for an item, whose
  // file or title would be wrong.
  g_lineCut = line.tooLong || line.holdsZero;
}

void ParseItemName() {
  size_t i = 0;
  while (g_lineBuffer[i] != '\0' && g_lineBuffer[i] != ' ' &&
         g_lineBuffer[i] != '=' && i + 1 < sizeof(g_itemField)) {
    g_itemField[i] = g_lineBuffer[i];
    ++i;
  }
  g_itemField[i] = '\0';
}

void ParseItemTarget() {
  std::memset(g_itemField, 0, sizeof(g_itemField));
  size_t length = 0;
  while (length + 1 < sizeof(g_lineBuffer) && g_lineBuffer[length] != '\0')
    ++length;
  const char *quote =
      static_cast<const char *>(std::memchr(g_lineBuffer, '"', length));
  if (quote == nullptr)
    return;
  // Everything after the quote but the line's last character (the closing
  // quote of a well-formed line). The line is walked by characters: in a
  // double-byte code page the last character may be two bytes, and a lead
  // byte left alone would take whatever follows it for its trail byte.
  const char *last = CharPrevA(g_lineBuffer, g_lineBuffer + length);
  if (last > quote + 1)
    std::memcpy(g_itemField, quote + 1, static_cast<size_t>(last - quote - 1));
}
