#include "replytext/replytext.h"

#include <gtest/gtest.h>

#include "tests/support/testdb.h"

using namespace replytext;
using testsupport::U8;

namespace {

// A line and what it reads as: "ask|answer", or "" when it yields nothing.
std::u16string Read(std::u16string_view line) {
  const auto entry = ParseReplyLine(line);
  return entry ? std::u16string(entry->ask) + u"|" + std::u16string(entry->answer) : u"";
}

const struct {
  std::u16string_view line, entry;
} kLines[] = {
    {u"a###b", u"a|b"},
    {u"  a ### b  ", u"a | b"},      // only the line's ends are trimmed
    {u"a###b###c", u"a|b###c"},      // later separators belong to the answer
    {u"a####b", u"a|#b"},
    {u"\ta###b\t", u"\ta|b\t"},                  // tabs are kept
    {u"\u3000a###b\u00A0", u"\u3000a|b\u00A0"},  // and so are other spaces
    {u"a\n###b\r", u"a\n|b\r"},                  // a lone LF or CR is an ordinary character
    {u"问题###答案", u"问题|答案"},
    {u"###b", u""}, {u"a###", u""}, {u"###", u""}, {u"a##b", u""}, {u"", u""}, {u"  ", u""}, {u" ### ", u""},
    {u" a ###   ", u""},
};

// Each line reads as its entry; the entries joined as a load joins them read back the same, so
// saving, loading and saving again never changes an entry.
TEST(ReplyText, LinesReadAsTheirEntriesAndJoinedEntriesReadBackUnchanged) {
  std::u16string joined, expected;
  for (const auto& c : kLines) {
    EXPECT_EQ(U8(Read(c.line)), U8(c.entry)) << U8(c.line);
    if (const auto entry = ParseReplyLine(c.line)) {
      AppendReplyLine(joined, entry->ask, entry->answer);
      expected += std::u16string(c.entry) + u"\n";
    }
  }
  std::u16string read;
  for (const auto line : SplitReplyText(joined)) read += Read(line) + u"\n";
  EXPECT_EQ(U8(read), U8(expected));
  EXPECT_EQ(joined.substr(0, 12), u"a###b\r\na ###");  // one CR LF between lines, none before
}

}  // namespace
