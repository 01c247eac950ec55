#include "replytext/replytext.h"

#include <gtest/gtest.h>

#include "tests/support/testdb.h"

using namespace replytext;

namespace {

struct Line {
  std::u16string_view line, ask, answer;
};

const Line kLines[] = {
    {u"a###b", u"a", u"b"},
    {u"  a ### b  ", u"a ", u" b"},  // only the line's ends are trimmed
    {u"a###b###c", u"a", u"b###c"},  // later separators belong to the answer
    {u"a####b", u"a", u"#b"},
    {u"\ta###b\t", u"\ta", u"b\t"},                    // tabs are kept
    {u"\u3000a###b\u00A0", u"\u3000a", u"b\u00A0"},  // and so are other spaces
    {u"a\n###b\r", u"a\n", u"b\r"},                  // a lone LF or CR is an ordinary character
    {u"问题###答案", u"问题", u"答案"},
};
const std::u16string_view kLinesYieldingNothing[] = {u"###b", u"a###", u"###", u"a##b", u"", u"    ", u"  ###  ", u" a ###   "};

TEST(ReplyText, ParseTrimsSpacesAndCutsAtTheFirstSeparator) {
  for (const Line& c : kLines) {
    SCOPED_TRACE(testsupport::U8(c.line));
    const auto entry = ParseReplyLine(c.line);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->ask, c.ask);
    EXPECT_EQ(entry->answer, c.answer);
  }
  for (auto line : kLinesYieldingNothing) EXPECT_FALSE(ParseReplyLine(line)) << testsupport::U8(line);
}

// Joining what a line gave and parsing it again gives the same entry: saving, loading and saving
// again never changes an entry.
TEST(ReplyText, JoinedEntriesParseBackUnchanged) {
  std::u16string text;
  std::vector<ReplyEntry> joined;
  for (const Line& c : kLines) {
    AppendReplyLine(text, c.ask, c.answer);
    joined.push_back({std::u16string(c.ask), std::u16string(c.answer)});
  }
  std::vector<ReplyEntry> parsed;
  for (auto line : SplitReplyText(text))
    if (auto entry = ParseReplyLine(line)) parsed.push_back({std::u16string(entry->ask), std::u16string(entry->answer)});
  EXPECT_EQ(parsed, joined);
  EXPECT_EQ(text.substr(0, 12), u"a###b\r\na ###");  // one CR LF between lines, none before
}

TEST(ReplyText, SplitCutsOnlyAtCrLf) {
  const struct {
    std::u16string_view text;
    std::vector<std::u16string_view> lines;
  } cases[] = {
      {u"", {}},
      {u"a", {u"a"}},
      {u"\r\n", {u"", u""}},
      {u"a###b\r\n\r\nc###d\r\n", {u"a###b", u"", u"c###d", u""}},
      {u"a\rb\nc\u2028d", {u"a\rb\nc\u2028d"}},
      {u"a\r\r\nb\n\r\n", {u"a\r", u"b\n", u""}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitReplyText(c.text), c.lines) << testsupport::U8(c.text);
}

}  // namespace
