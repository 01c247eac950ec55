#include "replytext/replytext.h"

#include <gtest/gtest.h>


using replytext::AppendReplyLine;
using replytext::ParseReplyLine;
using replytext::SplitReplyText;

namespace {

// "ask|answer", or "-" for a line that yields nothing.
std::u16string Parsed(std::u16string_view line) {
  const auto entry = ParseReplyLine(line);
  return entry ? std::u16string(entry->ask) + u"|" + std::u16string(entry->answer) : u"-";
}

TEST(ParseReplyLine, CutsTrimmedLineAtFirstSeparator) {
  const struct {
    std::u16string_view line, expected;
  } cases[] = {
      {u"a###b", u"a|b"},
      {u"  a ### b  ", u"a | b"},        // only the line's ends are trimmed
      {u"a###b###c", u"a|b###c"},        // later separators belong to the answer
      {u"a####b", u"a|#b"},
      {u"\ta###b", u"\ta|b"},            // tabs are not trimmed
      {u"\u3000a###b\u3000", u"\u3000a|b\u3000"},  // nor full-width spaces
      {u"a\n###b", u"a\n|b"},            // a lone LF is an ordinary character
      {u"问题###答案", u"问题|答案"},
      {u"###b", u"-"},
      {u"a###", u"-"},
      {u"###", u"-"},
      {u"a##b", u"-"},
      {u"", u"-"},
      {u"    ", u"-"},
      {u"  ###  ", u"-"},
      {u" a ###   ", u"-"},             // the answer is empty once the line is trimmed
  };
  for (const auto& c : cases) EXPECT_EQ(Parsed(c.line), c.expected) << std::string(c.line.begin(), c.line.end());
}

TEST(SplitReplyText, CutsOnlyAtCrLf) {
  const struct {
    std::u16string_view text;
    std::vector<std::u16string_view> lines;
  } cases[] = {
      {u"", {}},
      {u"a", {u"a"}},
      {u"\r\n", {u"", u""}},
      {u"a###b\r\n\r\nc###d\r\n", {u"a###b", u"", u"c###d", u""}},
      {u"a\rb\nc", {u"a\rb\nc"}},
      {u"a\r\r\nb", {u"a\r", u"b"}},
      {u"a\n\r\nb", {u"a\n", u"b"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitReplyText(c.text), c.lines);
}

TEST(SplitReplyText, BlankLinesBetweenEntriesYieldNothing) {
  int entries = 0;
  for (auto line : SplitReplyText(u"a###b\r\n\r\nc###d\r\n")) entries += ParseReplyLine(line).has_value();
  EXPECT_EQ(entries, 2);
}

TEST(Joining, PutsOneCrLfBetweenEntriesAndNoneAtTheEnds) {
  std::u16string text;
  AppendReplyLine(text, u"a", u"b");
  EXPECT_EQ(text, u"a###b");
  AppendReplyLine(text, u"", u"x");  // a null or empty ask still gives a line
  AppendReplyLine(text, u"y", u"");
  EXPECT_EQ(text, u"a###b\r\n###x\r\ny###");
  EXPECT_EQ(replytext::FormatReplyLine({u"q", u"a###b"}), u"q###a###b");
}

TEST(Joining, StoredTextThatTheFormatCannotCarryChangesOnlyAsDocumented) {
  // An ask holding "###" is cut at its first separator; a CR LF inside a field makes two lines.
  std::u16string text;
  AppendReplyLine(text, u"a###b", u"c");
  AppendReplyLine(text, u"d\r\ne###f", u"g");
  std::vector<std::u16string> parsed;
  for (auto line : SplitReplyText(text)) parsed.push_back(Parsed(line));
  EXPECT_EQ(parsed, (std::vector<std::u16string>{u"a|b###c", u"-", u"e|f###g"}));
}

}  // namespace
