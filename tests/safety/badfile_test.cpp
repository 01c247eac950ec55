// Bad database files at start-up and at reload: each gets a clear Chinese message, the text box
// never shows a partial table as loaded, a save cannot overwrite anything, and the file's bytes
// stay exactly as they were.
#include <gtest/gtest.h>

#include <string_view>

#include <sqlite3.h>

#include <functional>

#include "editor/messages.h"
#include "tests/safety/files.h"
#include "tests/support/fakewindow.h"
#include "tests/support/testdb.h"

namespace safety {
namespace {

namespace fs = std::filesystem;
using testsupport::Contains;
using testsupport::CreateReplyDatabase;
using testsupport::Editor;
using testsupport::FakeWindow;
using testsupport::IsChinese;
using testsupport::Rows;
using testsupport::TempDir;

// Creates a new database file holding what sql makes.
void ExecSql(const fs::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.u8string().c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error("setup failed: " + sql);
}

Rows SomeRows(int count) {
  Rows rows;
  for (int i = 0; i < count; ++i)
    rows.emplace_back("问题 " + std::to_string(i) + std::string(40, 'q'),
                      "答案 " + std::to_string(i) + std::string(60, 'a'));
  return rows;
}

// A header as Jet 4 / ACE files start: a four-byte prefix, then the engine's name.
std::string AccessFile(const char* engine) {
  std::string bytes(4096, '\0');
  bytes[1] = 1;
  bytes.replace(4, 15, engine);
  return bytes;
}

void MakeSqliteThenEdit(const fs::path& file, const std::function<void(std::string&)>& edit) {
  CreateReplyDatabase(file, SomeRows(400));
  std::string bytes = ReadBytes(file);
  edit(bytes);
  WriteBytes(file, bytes);
}

enum class Outcome { Works, LoadFails, SaveFails, Missing };

struct BadFile {
  const char* name;
  std::function<void(const fs::path&)> make;
  Outcome outcome;
  const char16_t* says;  // part of the message the operator must see
  // How another program would turn a good open file into this one, if not by its bytes.
  const char* alter = nullptr;
};

const BadFile kBadFiles[] = {
    {"ZeroLength", [](const fs::path& f) { WriteBytes(f, ""); }, Outcome::LoadFails, u"zorvrobot"},
    {"TextFile",
     [](const fs::path& f) { WriteBytes(f, "问题###答案\r\n这是一个文本文件，不是数据库。\r\n"); },
     Outcome::LoadFails, u"不是可识别的数据库文件"},
    {"Truncated",
     [](const fs::path& f) { MakeSqliteThenEdit(f, [](std::string& b) { b.resize(b.size() / 2); }); },
     Outcome::LoadFails, u"损坏"},
    {"TableRootOverwritten",
     [](const fs::path& f) {
       // Page 2 holds the root of zorvrobot, the first table created.
       MakeSqliteThenEdit(f, [](std::string& b) { b.replace(4096, 4096, std::string(4096, '\xA5')); });
     },
     Outcome::LoadFails, u"损坏"},
    {"HeaderOverwritten",
     [](const fs::path& f) { MakeSqliteThenEdit(f, [](std::string& b) { b.replace(0, 16, "garbage garbage!"); }); },
     Outcome::LoadFails, u"不是可识别的数据库文件"},
    {"NoReplyTable",
     [](const fs::path& f) { ExecSql(f, "create table customers (id integer primary key, name text)"); },
     Outcome::LoadFails, u"没有应答表", "drop table zorvrobot"},
    {"NoAskColumn",
     [](const fs::path& f) { ExecSql(f, "create table zorvrobot (id integer primary key, answer text)"); },
     Outcome::LoadFails, u"缺少", "alter table zorvrobot drop column ask"},
    {"NoAnswerColumn",
     [](const fs::path& f) {
       ExecSql(f, "create table zorvrobot (id integer primary key, ask text);"
                  "insert into zorvrobot (ask) values ('a')");
     },
     Outcome::LoadFails, u"缺少", "alter table zorvrobot drop column answer"},
    {"ExtraNotNullColumn",
     [](const fs::path& f) {
       ExecSql(f, "create table zorvrobot (id integer primary key, ask text, answer text, "
                  "category text not null);"
                  "insert into zorvrobot values (1, '你好', '您好，请问有什么可以帮您？', 'greeting')");
     },
     Outcome::SaveFails, u"约束"},
    {"JetHeader", [](const fs::path& f) { WriteBytes(f, AccessFile("Standard Jet DB")); },
     Outcome::LoadFails, u"不支持"},
    {"AceHeader", [](const fs::path& f) { WriteBytes(f, AccessFile("Standard ACE DB")); },
     Outcome::LoadFails, u"不支持"},
    {"SymlinkToDatabase",
     [](const fs::path& f) {
       const fs::path target = f.parent_path() / "real" / "data.sqlite";
       fs::create_directory(target.parent_path());
       CreateReplyDatabase(target, {{"a", "b"}});
       fs::create_symlink(target, f);
     },
     Outcome::Works, nullptr},
    {"Directory", [](const fs::path& f) { fs::create_directory(f); }, Outcome::Missing,
     editor::kMissingDatabase.data()},
    {"DanglingSymlink",
     [](const fs::path& f) { fs::create_symlink(f.parent_path() / "gone.db", f); }, Outcome::Missing,
     editor::kMissingDatabase.data()},
};

void PrintTo(const BadFile& bad, std::ostream* out) { *out << bad.name; }

class BadFileAtStart : public testing::TestWithParam<BadFile> {};

TEST_P(BadFileAtStart, ToldClearlyAndNothingWritten) {
  const BadFile& bad = GetParam();
#ifdef _WIN32
  if (std::string_view(bad.name).find("Symlink") != std::string_view::npos)
    GTEST_SKIP() << "symbolic links need privileges Windows programs do not have";
#endif
  TempDir dir;
  const fs::path file = dir.DatabaseFile();
  bad.make(file);
  const bool regular = fs::is_regular_file(file);
  const std::string before = regular ? ReadBytes(file) : "";
  const auto listing = Listing(dir.path());

  Editor editor(dir.AppPath());
  editor.form.StartUp();
  FakeWindow& window = editor.window;

  switch (bad.outcome) {
    case Outcome::Missing:
      EXPECT_TRUE(window.ended);
      ASSERT_EQ(window.messages.size(), 1u);
      EXPECT_EQ(window.messages[0], editor::kMissingDatabase);
      EXPECT_FALSE(editor.common.HasConn()) << "the connection must never be touched";
      break;
    case Outcome::Works:
    case Outcome::SaveFails:
      EXPECT_TRUE(window.messages.empty()) << testsupport::U8(window.LastMessage());
      EXPECT_EQ(window.caption, editor::AppTitle);
      EXPECT_FALSE(window.text.empty());
      break;
    case Outcome::LoadFails:
      EXPECT_FALSE(window.ended);
      ASSERT_EQ(window.messages.size(), 1u);
      EXPECT_TRUE(Contains(window.messages[0], bad.says)) << testsupport::U8(window.messages[0]);
      EXPECT_TRUE(Contains(window.messages[0], u"加载应答内容失败"));
      EXPECT_TRUE(window.text.empty());
      EXPECT_FALSE(Contains(window.caption, editor::kLoadedSuffix));
      break;
  }
  if (bad.outcome == Outcome::Missing) {
    EXPECT_EQ(Listing(dir.path()), listing) << "nothing may be created";
    return;
  }

  // A reload and a save attempt on top: a bad file must still not be written to.
  window.messages.clear();
  const bool reloaded = editor.form.LinkClick(0);
  EXPECT_EQ(reloaded, bad.outcome != Outcome::LoadFails);
  window.text += u"\r\n新问题###新答案";
  editor.form.TextChanged();
  const bool saved = editor.form.LinkClick(1);
  if (bad.outcome == Outcome::Works) {
    EXPECT_TRUE(saved) << testsupport::U8(window.LastMessage());
    EXPECT_TRUE(fs::is_symlink(file)) << "the link must stay a link";
    EXPECT_EQ(testsupport::DumpTable(file), "a|b\n新问题|新答案\n");
    return;
  }
  EXPECT_FALSE(saved);
  EXPECT_TRUE(editor.form.Modified());
  EXPECT_FALSE(Contains(window.caption, editor::kSavedSuffix));
  ASSERT_FALSE(window.messages.empty());
  EXPECT_TRUE(IsChinese(window.LastMessage()));
  if (bad.outcome == Outcome::SaveFails) {
    EXPECT_TRUE(Contains(window.LastMessage(), u"保存失败")) << testsupport::U8(window.LastMessage());
    EXPECT_TRUE(Contains(window.LastMessage(), bad.says)) << testsupport::U8(window.LastMessage());
  }
  editor.common.CloseDatabase();
  EXPECT_EQ(ReadBytes(file), before) << "the file's bytes changed";
  EXPECT_EQ(Listing(dir.path()), listing) << "a journal or other file was left behind";
}

INSTANTIATE_TEST_SUITE_P(Safety, BadFileAtStart, testing::ValuesIn(kBadFiles),
                         [](const auto& info) { return std::string(info.param.name); });

// The same bad contents written over the file while Velmora has it open, then a reload: the
// operator's unsaved edits stay in the box and nothing claims a load.
class BadFileAtReload : public testing::TestWithParam<BadFile> {};

TEST_P(BadFileAtReload, EditsKeptAndNothingWritten) {
  const BadFile& bad = GetParam();
  TempDir dir, scratch;
  const fs::path file = dir.DatabaseFile();
  CreateReplyDatabase(file, {{"旧问题", "旧答案"}});
  Editor editor(dir.AppPath());
  editor.form.StartUp();
  ASSERT_EQ(editor.window.text, u"旧问题###旧答案");
  editor.window.text = u"改过的问题###改过的答案";
  editor.form.TextChanged();

  bad.make(scratch.DatabaseFile());
  std::string bytes = ReadBytes(scratch.DatabaseFile());
  // A program that writes an SQLite file moves its change counter on, which is how an open
  // connection notices that its cached pages are stale; do as such a program would.
  if (bytes.compare(0, 15, "SQLite format 3") == 0) bytes.replace(24, 4, "\x7F\x01\x02\x03");
  if (bad.alter) {
    testsupport::OtherConnection(file).Exec(bad.alter);  // the other program changes the tables
  } else {
    WriteBytes(file, bytes);
  }
  const std::string before = ReadBytes(file);

  EXPECT_FALSE(editor.form.LinkClick(0));
  FakeWindow& window = editor.window;
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_TRUE(Contains(window.messages[0], bad.says)) << testsupport::U8(window.messages[0]);
  EXPECT_FALSE(Contains(window.messages[0], u"在成功加载之前")) << "an earlier load did succeed";
  EXPECT_EQ(window.text, u"改过的问题###改过的答案");
  EXPECT_TRUE(editor.form.Modified());
  EXPECT_EQ(window.caption, std::u16string(editor::AppTitle) + u"* ");

  EXPECT_FALSE(editor.form.LinkClick(1)) << "a save into a bad file cannot succeed";
  EXPECT_TRUE(editor.form.Modified());
  EXPECT_TRUE(IsChinese(window.LastMessage()));
  editor.common.CloseDatabase();
  EXPECT_EQ(ReadBytes(file), before);
}

std::vector<BadFile> ContentOnly() {
  std::vector<BadFile> cases;
  for (const BadFile& bad : kBadFiles)
    if (bad.outcome == Outcome::LoadFails) cases.push_back(bad);
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Safety, BadFileAtReload, testing::ValuesIn(ContentOnly()),
                         [](const auto& info) { return std::string(info.param.name); });

// SQLite takes a zero-length file for an empty database. Opening it read-write, loading and
// failing to save must leave it zero bytes long: the other program may still be about to fill it.
TEST(ZeroLengthFile, StaysZeroBytesThroughOpenLoadAndSave) {
  TempDir dir;
  WriteBytes(dir.DatabaseFile(), "");
  store::Common common(dir.AppPath());
  common.OpenDatabase();
  EXPECT_THROW(common.LoadReplyText(), store::Error);
  EXPECT_THROW(common.SaveReplyText(u"a###b"), store::Error);
  common.CloseDatabase();
  EXPECT_EQ(fs::file_size(dir.DatabaseFile()), 0u);
  EXPECT_EQ(Listing(dir.path()), std::set<std::string>{"tarvello.db"});
}

}  // namespace
}  // namespace safety
