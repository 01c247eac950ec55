// Fields no ordinary editor expects (NUL, lone surrogates, a lone CR or LF, U+2028/U+2029, tabs,
// a megabyte in one field, 200,000 rows): loading and saving them, directly and through the real
// text box, gives back every code unit, so a save after a load never changes a stored entry.

#include <gtest/gtest.h>

#include "tests/support/testdb.h"
#include "tests/support/qtapp.h"
#include "window/mainform.h"

namespace safety {
namespace {

using namespace std::string_literals;
using testsupport::App;
using testsupport::DumpTable;
using testsupport::TempDir;
using testsupport::U16;
using testsupport::U8;


// A megabyte of mixed text in one field, with a little of everything the other cases hold.
std::u16string HugeField() {
  std::u16string field;
  const std::u16string piece = u"问题答案abc\t\0\xD800x\r\u2028😀"s;
  while (field.size() < (1u << 20)) field += piece;
  return field;
}

struct BadText {
  const char* name;
  std::u16string ask, answer;
};

const BadText kBadTexts[] = {
    {"Nul", u"\0问\0"s, u"答\0案"s},
    {"LoneHighSurrogate", u"a\xD800"s, u"\xD83D"s},
    {"LoneLowSurrogate", u"\xDC00" u"b"s, u"b\xDFFF"s},
    {"ReversedPair", u"\xDE00\xD83D"s, u"x\xDC00\xD800y"s},
    {"PairOutsideBmp", u"😀"s, u"𠀀答"s},
    {"LoneCr", u"\rq"s, u"a\r"s},
    {"LoneLf", u"\nq"s, u"a\nb\n"s},
    {"LineAndParagraphSeparators", u"q\u2028"s, u"\u2029a\u2028b"s},
    {"Tabs", u"\tq\t"s, u"\ta\t"s},
    {"NoncharactersAndBom", u"\uFEFFq\uFDD0"s, u"\uFFFF\uFFFEa\uFDD1"s},
    {"HashesInAnswer", u"q"s, u"#a###b#"s},
    {"MegabyteField", u"q"s, HugeField()},
};

void PrintTo(const BadText& bad, std::ostream* out) { *out << bad.name; }

// Each bad entry sits between two ordinary ones, so a field that swallowed or split a line
// shows up as a wrong neighbour.
testsupport::Rows RowsWith(const BadText& bad) {
  return {{"前", "一"}, {U8(bad.ask), U8(bad.answer)}, {"后", "二"}};
}

std::u16string TextWith(const BadText& bad) {
  return u"前###一\r\n" + bad.ask + u"###" + bad.answer + u"\r\n后###二";
}

// Starts the real window on dir, saves what it loaded unedited, and expects the stored table
// unchanged to the byte.
void ExpectUneditedSaveKeepsTable(const TempDir& dir, const std::u16string* shown = nullptr,
                                  int lines = -1) {
  App();
  const std::string before = DumpTable(dir.DatabaseFile());
  store::Common common(dir.AppPath());
  window::MainForm form(common);
  form.Form().StartUp();
  if (shown) {
    ASSERT_TRUE(form.Text() == *shown);
  }
  if (lines >= 0) {
    EXPECT_EQ(form.Txt().document()->blockCount(), lines);
  }
  ASSERT_TRUE(form.Form().LinkClick(1));
  common.CloseDatabase();
  const std::string after = DumpTable(dir.DatabaseFile());
  ASSERT_EQ(after.size(), before.size());
  EXPECT_TRUE(after == before);  // not EXPECT_EQ: a failure would print megabytes
}

class BadTextRoundTrip : public testing::TestWithParam<BadText> {};

TEST_P(BadTextRoundTrip, SaveThenLoadGivesTheSameText) {
  TempDir dir;
  testsupport::CreateReplyDatabase(dir.DatabaseFile());
  store::Common common(dir.AppPath());
  common.OpenDatabase();
  const std::u16string text = TextWith(GetParam());
  common.SaveReplyText(text);
  const std::u16string loaded = common.LoadReplyText();
  ASSERT_EQ(loaded.size(), text.size());
  EXPECT_TRUE(loaded == text);  // not EXPECT_EQ: a failure would print a megabyte
}

// Rows another program stored, loaded into the real window and saved back unedited.
TEST_P(BadTextRoundTrip, LoadIntoTextBoxAndSaveLeavesStoredBytesUnchanged) {
  TempDir dir;
  testsupport::CreateReplyDatabase(dir.DatabaseFile(), RowsWith(GetParam()));
  const std::u16string shown = TextWith(GetParam());
  ExpectUneditedSaveKeepsTable(dir, &shown);
}

INSTANTIATE_TEST_SUITE_P(Safety, BadTextRoundTrip, testing::ValuesIn(kBadTexts),
                         [](const auto& info) { return std::string(info.param.name); });

// A CR LF inside a stored field is the one thing a line cannot carry: it becomes a line break,
// and the next save stores each line as its own entry, as the operator saw them in the box.
TEST(BadText, CrLfInsideStoredFieldBecomesSeparateLines) {
  TempDir dir;
  testsupport::CreateReplyDatabase(dir.DatabaseFile(), {{"问", "答一\r\n另问###另答"}, {"下问", "下答"}});
  store::Common common(dir.AppPath());
  common.OpenDatabase();
  const std::u16string text = common.LoadReplyText();
  EXPECT_EQ(text, u"问###答一\r\n另问###另答\r\n下问###下答");
  common.SaveReplyText(text);
  common.CloseDatabase();
  EXPECT_EQ(DumpTable(dir.DatabaseFile()), "问|答一\n另问|另答\n下问|下答\n");
}

TEST(BadText, TwoHundredThousandLinesRoundTripThroughTheTextBox) {
  TempDir dir;
  testsupport::Rows rows;
  for (int i = 0; i < 200000; ++i)
    rows.emplace_back("问题" + std::to_string(i), "答案\t" + std::to_string(i * 7) + "\xE2\x80\xA8末");
  testsupport::CreateReplyDatabase(dir.DatabaseFile(), rows);
  ExpectUneditedSaveKeepsTable(dir, nullptr, 200000);
}

}  // namespace
}  // namespace safety
