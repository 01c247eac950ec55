// Fields no ordinary editor expects (NUL, lone surrogates, a lone CR or LF, U+2028/U+2029, tabs,
// a megabyte in one field, 200,000 rows): loading and saving them, directly and through the real
// text box, gives back every code unit, so a save after a load never changes a stored entry.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>

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
namespace fs = std::filesystem;


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
// unchanged to the byte, as dump shows it.
void ExpectUneditedSaveKeepsTable(const TempDir& dir, const std::u16string* shown = nullptr,
                                  int lines = -1,
                                  const std::function<std::string(const fs::path&)>& dump = DumpTable) {
  App();
  const std::string before = dump(dir.DatabaseFile());
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
  const std::string after = dump(dir.DatabaseFile());
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

// What the sqlite3 command-line tool prints for sql run on file.
std::string Sqlite3(const fs::path& file, const std::string& sql) {
  const fs::path script = file.parent_path() / "script.sql";
  std::ofstream(script) << sql << "\n";
  const std::string command = "sqlite3 -batch '" + file.string() + "' < '" + script.string() + "' 2>&1";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    pclose(pipe);
  }
  return output;
}

// Every stored byte of both fields, and the exact value of the numbers among them.
std::string StoredBytes(const fs::path& file) {
  return Sqlite3(file, "select hex(ask), hex(answer), printf('%!.17g', ask), printf('%!.17g', answer) "
                       "from zorvrobot order by id;");
}

// A value another program stored: not UTF-8 text, not text at all, or in a UTF-16 database.
struct StoredValue {
  const char* name;
  const char* encoding;
  const char* type;  // of ask and answer
  const char* ask;   // SQL expressions
  const char* answer;
};

const StoredValue kStoredValues[] = {
    {"Gbk", "UTF-8", "text", "cast(x'C4E3BAC3' as text)", "cast(x'C4FABAC3' as text)"},
    {"Latin1", "UTF-8", "text", "'caf' || cast(x'E9' as text)", "cast(x'A9' as text) || '2026'"},
    {"Blob", "UTF-8", "text", "x'68656C6C6F'", "x'00FF80C0AF'"},
    {"Numbers", "UTF-8", "numeric", "42", "0.30000000000000004"},
    {"Nul", "UTF-8", "text", "cast(x'610062' as text)", "cast(x'00' as text)"},
    // Lone surrogates as Velmora stores them, one in the escape range, a split pair, and a lone
    // high one before a byte that is not text.
    {"StoredSurrogates", "UTF-8", "text", "cast(x'EDA08061' as text)",
     "cast(x'EDB280EDA080EDB080EDA08080' as text)"},
    {"Utf16le", "UTF-16le", "text", "cast(x'00D87800' as text)", "cast(x'FFFE4100FEFF' as text)"},
    {"Utf16be", "UTF-16be", "text", "cast(x'D8000078DC80' as text)", "cast(x'FEFF0041' as text)"},
    {"Utf16Blob", "UTF-16le", "text", "x'4100'", "x'00DC4200'"},
};

void PrintTo(const StoredValue& value, std::ostream* out) { *out << value.name; }

class StoredByAnotherProgram : public testing::TestWithParam<StoredValue> {};

TEST_P(StoredByAnotherProgram, UneditedSaveKeepsEveryByte) {
  const StoredValue& value = GetParam();
  TempDir dir;
  const std::string created = Sqlite3(
      dir.DatabaseFile(),
      std::string("pragma encoding='") + value.encoding + "'; create table zorvrobot (id integer primary key, ask " +
          value.type + ", answer " + value.type + "); insert into zorvrobot (ask, answer) values ('前', '一'), (" +
          value.ask + ", " + value.answer + "), ('后', '二');");
  ASSERT_EQ(created, "");
  ExpectUneditedSaveKeepsTable(dir, nullptr, 3, StoredBytes);
}

INSTANTIATE_TEST_SUITE_P(Safety, StoredByAnotherProgram, testing::ValuesIn(kStoredValues),
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
