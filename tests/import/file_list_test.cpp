// The setup.log reader: logical lines and the fields of item lines.
#include "import/file_list.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace {

// A stream over `content`, opened in text mode as the install sequence does.
class LogFile {
public:
  explicit LogFile(const std::string &content)
      : folder_(testsupport::MakeTempFolder()) {
    EXPECT_FALSE(folder_.empty());
    const std::string path = folder_ + "/setup.log";
    EXPECT_TRUE(testsupport::StoreFile(path, content)) << path;
    stream_ = std::fopen(path.c_str(), "r");
    EXPECT_NE(stream_, nullptr);
  }
  ~LogFile() {
    if (stream_ != nullptr)
      std::fclose(stream_);
    if (!folder_.empty()) {
      EXPECT_TRUE(testsupport::RemoveFolder(folder_)) << folder_;
    }
  }
  FILE *stream() const { return stream_; }

private:
  std::string folder_;
  FILE *stream_ = nullptr;
};

// True when every byte of g_lineBuffer after its text is zero.
bool LineTailIsZero() {
  size_t length = strnlen(g_lineBuffer, sizeof(g_lineBuffer));
  for (size_t i = length; i < sizeof(g_lineBuffer); ++i)
    if (g_lineBuffer[i] != '\0')
      return false;
  return true;
}

// Reads the whole stream the way the program group is built: one call per
// pass while the stream is not at its end. Returns every line, empty ones
// included.
std::vector<std::string> ReadAll(const std::string &content) {
  LogFile file(content);
  std::vector<std::string> lines;
  for (int guard = 0; !std::feof(file.stream()) && guard < 1000; ++guard) {
    ReadLogLine(file.stream());
    EXPECT_TRUE(LineTailIsZero());
    lines.push_back(g_lineCut ? "<cut>" + std::string(g_lineBuffer)
                              : std::string(g_lineBuffer));
  }
  EXPECT_TRUE(std::feof(file.stream()));
  return lines;
}

using Lines = std::vector<std::string>;

TEST(ReadLogLine, AppliesTheLineRules) {
  EXPECT_EQ(ReadAll("abc // a note\n"
                    "  \t#item\n"
                    "a/b\n"
                    "a/\n"
                    "one\ttwo\n"
                    "x\t/y z\n"
                    "   \n"
                    "// whole line comment\n"
                    "tail   \t \n"
                    "cr\rmid\n"
                    "ABC.EXE = \"Monitor\"   // comment\n"),
            (Lines{"abc", "#item", "a/b", "a/", "one two", "x /y z", "", "",
                   "tail", "cr\rmid", "ABC.EXE = \"Monitor\"", ""}));
}

TEST(ReadLogLine, DeliversTheLastLineWithOrWithoutLineFeed) {
  EXPECT_EQ(ReadAll("first\nlast"), (Lines{"first", "last"}));
  EXPECT_EQ(ReadAll("first\nlast\n"), (Lines{"first", "last", ""}));
  EXPECT_EQ(ReadAll("ends in a slash/"), (Lines{"ends in a slash/"}));
  EXPECT_EQ(ReadAll("ends in a tab\t"), (Lines{"ends in a tab"}));
  EXPECT_EQ(ReadAll("comment at the end //"), (Lines{"comment at the end"}));
  EXPECT_EQ(ReadAll("   "), (Lines{""}));
}

TEST(ReadLogLine, EmptyFileGivesOneEmptyLineAndTheEnd) {
  LogFile file("");
  std::memset(g_lineBuffer, 'x', sizeof(g_lineBuffer));
  ReadLogLine(file.stream());
  EXPECT_EQ(std::string(g_lineBuffer), "");
  EXPECT_TRUE(LineTailIsZero());
  EXPECT_TRUE(std::feof(file.stream()));
  // Once at the end, further calls keep yielding empty lines.
  ReadLogLine(file.stream());
  EXPECT_EQ(std::string(g_lineBuffer), "");
}

TEST(ReadLogLine, ShortLineAfterLongLineLeavesNoStaleBytes) {
  LogFile file(std::string(200, 'L') + "\nshort\n");
  ReadLogLine(file.stream());
  EXPECT_EQ(std::string(g_lineBuffer), std::string(200, 'L'));
  ReadLogLine(file.stream());
  EXPECT_EQ(std::string(g_lineBuffer), "short");
  EXPECT_TRUE(LineTailIsZero());
}

// The line buffer holds 255 characters. A longer logical line is consumed up
// to its line feed; its first 255 characters are delivered, marked as cut,
// and the next line is read normally (and unmarked).
TEST(ReadLogLine, LongLinesAtTheBufferLimit) {
  const std::string fits(255, 'a');
  const std::string tooLong(256, 'b');
  EXPECT_EQ(ReadAll(fits + "\nnext\n"), (Lines{fits, "next", ""}));
  const std::string cut = "<cut>" + std::string(255, 'b');
  EXPECT_EQ(ReadAll(tooLong + "\nnext\n"), (Lines{cut, "next", ""}));
  EXPECT_EQ(ReadAll(tooLong), (Lines{cut}));
  // Leading blanks, trailing blanks and comments do not count.
  EXPECT_EQ(ReadAll("\t  " + fits + "    \t\nnext"), (Lines{fits, "next"}));
  EXPECT_EQ(ReadAll(fits + " // " + std::string(300, 'c') + "\nnext"),
            (Lines{fits, "next"}));
  // Inner blanks do count.
  const std::string withBlank =
      std::string(127, 'x') + " " + std::string(128, 'y');
  EXPECT_EQ(ReadAll(withBlank + "\nnext"),
            (Lines{"<cut>" + withBlank.substr(0, 255), "next"}));
  // An over-long line of an item section ends with a slash or a quote.
  EXPECT_EQ(ReadAll(fits + "/\nnext"), (Lines{"<cut>" + fits, "next"}));
  EXPECT_EQ(ReadAll(std::string(254, 'q') + "\"\nnext"),
            (Lines{std::string(254, 'q') + "\"", "next"}));
}

// Blanks inside a line are held back until the next character, and then
// count with it: a line whose inner blanks carry it to 255 characters fits
// whole; one more blank makes it a cut line that keeps only the text before
// the blanks, and nothing is written past the buffer (the item field after
// it keeps its bytes).
TEST(ReadLogLine, InnerBlanksCountAtTheBufferLimit) {
  const std::string text(200, 'a');
  const std::string fits = text + std::string(54, ' ') + "b";
  ASSERT_EQ(fits.size(), 255u);
  EXPECT_EQ(ReadAll(fits + "\nnext"), (Lines{fits, "next"}));
  EXPECT_EQ(ReadAll(text + std::string(55, ' ') + "b\nnext"),
            (Lines{"<cut>" + text, "next"}));
  std::memset(g_itemField, 'z', sizeof(g_itemField));
  const std::string longer(250, 'c');
  EXPECT_EQ(ReadAll(longer + std::string(20, ' ') + "d\nnext"),
            (Lines{"<cut>" + longer, "next"}));
  EXPECT_EQ(std::string(g_itemField, sizeof(g_itemField)),
            std::string(sizeof(g_itemField), 'z'));
}

// A zero byte would end the text early: the line keeps its text up to that
// byte, is marked as cut (so it never names an item), and the bytes after
// the text stay zero; the next line is read normally.
TEST(ReadLogLine, ZeroByteEndsTheTextAndMarksTheLine) {
  const std::string zero(1, '\0');
  EXPECT_EQ(ReadAll("#item\nA.EXE \"Ti" + zero + "tle\"\nB.EXE \"b\"\n"),
            (Lines{"#item", "<cut>A.EXE \"Ti", "B.EXE \"b\"", ""}));
  EXPECT_EQ(ReadAll("ab  " + zero + "cd\n" + zero),
            (Lines{"<cut>ab", "<cut>"}));
}

void SetLine(const std::string &line) {
  std::memset(g_lineBuffer, 0, sizeof(g_lineBuffer));
  std::memcpy(g_lineBuffer, line.data(), line.size());
}

std::string Name(const std::string &line) {
  SetLine(line);
  std::memset(g_itemField, 'z', sizeof(g_itemField));
  ParseItemName();
  return g_itemField;
}

std::string Target(const std::string &line) {
  SetLine(line);
  std::memset(g_itemField, 'z', sizeof(g_itemField));
  ParseItemTarget();
  for (size_t i = strnlen(g_itemField, sizeof(g_itemField));
       i < sizeof(g_itemField); ++i)
    EXPECT_EQ(g_itemField[i], '\0') << "byte " << i << " of " << line;
  return g_itemField;
}

TEST(ParseItem, NameEndsAtTheFirstBlankOrEqualsSign) {
  EXPECT_EQ(Name("ABC.EXE = \"Monitor\""), "ABC.EXE");
  EXPECT_EQ(Name("ABC.EXE=\"Monitor\""), "ABC.EXE");
  EXPECT_EQ(Name("=\"Monitor\""), "");
  EXPECT_EQ(Name(""), "");
  // Without a blank or an equals sign the whole line is the name.
  EXPECT_EQ(Name("LONE.EXE"), "LONE.EXE");
  EXPECT_EQ(Name(std::string(255, 'n')), std::string(255, 'n'));
}

TEST(ParseItem, TargetIsTheTextAfterTheFirstQuoteLessTheLastCharacter) {
  EXPECT_EQ(Target("ABC.EXE = \"Monitor\""), "Monitor");
  EXPECT_EQ(Target("A \"say \"hi\"\""), "say \"hi\"");
  EXPECT_EQ(Target("ABC.EXE \"Monitor\" extra"), "Monitor\" extr");
  EXPECT_EQ(Target("ABC.EXE \""), "");
  EXPECT_EQ(Target("ABC.EXE \"x"), "");
  EXPECT_EQ(Target(""), "");
  EXPECT_EQ(Target("NOQUOTE.EXE Monitor"), "");
  EXPECT_EQ(Target("\"" + std::string(254, 't')), std::string(253, 't'));
}

} // namespace
