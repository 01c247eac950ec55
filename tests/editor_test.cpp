#include "editor/frmmain.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <optional>
#include <set>

#include "editor/messages.h"
#include "tests/support/fakewindow.h"
#include "tests/support/testdb.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

struct EditorTest : testing::Test {
  TempDir dir;
  Editor editor{dir.AppPath()};
  FakeWindow& window = editor.window;
  void StartWith(const std::string& rows) {
    CreateReplyDatabase(dir.DatabaseFile(), rows);
    editor.form.StartUp();
  }
  int Close() {
    int cancel = 0;
    editor.form.CloseRequest(cancel);
    return cancel;
  }
};

TEST_F(EditorTest, TypingSavingAndReloadingDriveTheCaptionAndModified) {
  StartWith("('a', '1')");
  EXPECT_EQ(window.text, u"a###1");
  EXPECT_EQ(window.caption, u"Velmora");
  EXPECT_FALSE(editor.form.Modified());
  EXPECT_EQ(window.linkCursors, 2);

  window.Type(u"\r\nb###2");
  EXPECT_EQ(window.caption, u"Velmora* ");
  EXPECT_TRUE(editor.form.Modified());
  int key = 19, other = 'x';  // Ctrl+S, and an ordinary key
  editor.form.TextKeyPress(key);
  editor.form.TextKeyPress(other);
  EXPECT_EQ(key, 0) << "Ctrl+S is swallowed";
  EXPECT_EQ(other, 'x');
  EXPECT_EQ(window.caption, u"Velmora(保存成功)");
  EXPECT_FALSE(editor.form.Modified());
  EXPECT_EQ(Dump(dir.DatabaseFile()), "a|1\nb|2\n");

  window.Type(u"\r\nlost###edit");
  Sql(dir.DatabaseFile(), "insert into zorvrobot (ask, answer) values ('x', 'y')");
  EXPECT_TRUE(editor.Reload());
  EXPECT_EQ(window.text, u"a###1\r\nb###2\r\nx###y") << "a reload discards edits without asking";
  EXPECT_EQ(window.caption, u"Velmora(加载完毕)");
  EXPECT_TRUE(editor.form.Modified()) << "a reload is a change of the text";
  Sql(dir.DatabaseFile(), "delete from zorvrobot");
  EXPECT_TRUE(editor.Save()) << "a save runs even without changes";
  EXPECT_EQ(Dump(dir.DatabaseFile()), "a|1\nb|2\nx|y\n");
  EXPECT_TRUE(window.messages.empty());
}

TEST_F(EditorTest, CloseAnswersDoWhatTheySay) {
  const struct {
    int answer, cancel;  // no answer: closed unmodified, without a question
    const char* table;
  } cases[] = {{0, 0, "a|1\n"}, {editor::vbCancel, 1, "a|1\n"}, {editor::vbYes, 0, "a|1\nb|2\n"}, {editor::vbNo, 0, "a|1\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    TempDir dir;
    Editor editor(dir.AppPath());
    CreateReplyDatabase(dir.DatabaseFile(), "('a', '1')");
    editor.form.StartUp();
    if (c.answer) editor.window.Type(u"\r\nb###2");
    if (c.answer) editor.window.answers.push_back(c.answer);
    int cancel = 0;
    editor.form.CloseRequest(cancel);
    EXPECT_EQ(cancel, c.cancel);
    EXPECT_EQ(editor.window.messages, std::vector<std::u16string>(c.answer ? 1 : 0, u"保存当前应答内容？"));
    EXPECT_EQ(Dump(dir.DatabaseFile()), c.table);
    EXPECT_EQ(editor.common.HasConn(), c.cancel == 1) << "closing closes the connection";
  }
}

TEST_F(EditorTest, AFailedSaveIsNeverReportedAsSavedAndKeepsTheWindowOpen) {
  StartWith("('a', '1')");
  Sql(dir.DatabaseFile(), "create trigger no before insert on zorvrobot begin select raise(abort, 'no'); end");
  window.Type(u"\r\nb###2");
  window.answers.push_back(editor::vbYes);
  EXPECT_EQ(Close(), 1) << "closing after a failed save would lose the edits";
  EXPECT_TRUE(editor.form.Modified());
  EXPECT_EQ(window.caption, u"Velmora* ");
  ASSERT_EQ(window.messages.size(), 2u);
  EXPECT_EQ(window.titles[1], u"Velmora");
  EXPECT_EQ(window.messages[1].rfind(u"保存失败，数据库中的应答内容未作任何修改。", 0), 0u);
  EXPECT_EQ(Dump(dir.DatabaseFile()), "a|1\n");
}

// A box left holding part of the table must not be saved over the whole of it.
TEST_F(EditorTest, AFailedAssignmentOfTheTextRefusesSavingUntilAReloadSucceeds) {
  StartWith("('a', '1'), ('b', '2')");
  window.failSetText = true;
  EXPECT_FALSE(editor.Reload());
  EXPECT_FALSE(editor.Save());
  EXPECT_EQ(window.LastMessage(), editor::kSaveRefused);
  EXPECT_EQ(Dump(dir.DatabaseFile()), "a|1\nb|2\n");
  window.failSetText = false;
  EXPECT_TRUE(editor.Reload());
  EXPECT_TRUE(editor.Save());
}

// Bad database files, at start-up and written over the open file before a reload.
enum class Outcome { Works, LoadFails, SaveFails, Missing };
using Doing = std::function<void(const fs::path&)>;
std::optional<Sqlite> holder;  // another program holding the file locked

struct BadFile {
  const char* name;
  Doing make;  // makes the file from nothing
  Outcome outcome;
  std::u16string_view says;  // part of the message the operator must see
  Doing spoil = {};          // spoils the open file, if not by writing what make makes
};

void Truncated(const fs::path& file) {
  CreateReplyDatabase(file);
  Sql(file, "with recursive n(i) as (select 1 union all select i + 1 from n where i < 400) insert into "
            "zorvrobot (ask, answer) select '问题' || i || hex(zeroblob(20)), '答案' || hex(zeroblob(30)) from n");
  WriteBytes(file, ReadBytes(file).substr(0, fs::file_size(file) / 2));
}
Doing Exec(const std::string& sql) {
  return [sql](const fs::path& file) { Sql(file, sql); };
}
Doing Write(const std::string& bytes) {
  return [bytes](const fs::path& file) { WriteBytes(file, bytes); };
}
Doing Lock = [](const fs::path& file) { holder.emplace(file).Run("begin exclusive"); };

const BadFile kBadFiles[] = {
    {"zero length", Write(""), Outcome::LoadFails, u"zorvrobot"},
    {"text file", Write("问题###答案\r\n这是一个文本文件，不是数据库。\r\n"), Outcome::LoadFails, u"不是可识别的数据库文件"},
    {"truncated", Truncated, Outcome::LoadFails, u"损坏"},
    {"no reply table", Exec("create table customers (id integer primary key, name text)"), Outcome::LoadFails,
     u"没有应答表", Exec("drop table zorvrobot")},
    {"no ask column", Exec("create table zorvrobot (id integer primary key, answer text)"), Outcome::LoadFails,
     u"缺少", Exec("alter table zorvrobot drop column ask")},
    {"extra NOT NULL column", Exec("create table zorvrobot (id integer primary key, ask text, answer text, "
                                  "kind text not null); insert into zorvrobot values (1, '问', '答', 'k')"),
     Outcome::SaveFails, u"约束"},
    {"another engine's file", Write(std::string("\0\1\0\0Standard Jet DB", 19) + std::string(4000, '\0')),
     Outcome::LoadFails, u"不支持"},
    {"locked by another program", [](auto& file) { CreateReplyDatabase(file); Lock(file); }, Outcome::LoadFails,
     u"占用", Lock},
    {"directory", [](auto& file) { fs::create_directory(file); }, Outcome::Missing, editor::kMissingDatabase},
#ifndef _WIN32  // links need privileges Windows programs do not have
    {"link to a database", [](auto& file) { CreateReplyDatabase(file.parent_path() / "real.db", "('a', 'b')");
                                            fs::create_symlink("real.db", file); }, Outcome::Works, u""},
    {"dangling link", [](auto& file) { fs::create_symlink("gone.db", file); }, Outcome::Missing, editor::kMissingDatabase},
#endif
};

void PrintTo(const BadFile& bad, std::ostream* out) { *out << bad.name; }

std::set<fs::path> Listing(const fs::path& dir) {
  return {fs::directory_iterator(dir), fs::directory_iterator()};
}

class BadFileTest : public testing::TestWithParam<BadFile> {
 protected:
  void TearDown() override { holder.reset(); }
  TempDir dir;
  fs::path file = dir.DatabaseFile();
  Editor editor{dir.AppPath()};
  FakeWindow& window = editor.window;
};

TEST_P(BadFileTest, AtStartUpToldClearlyAndNothingWritten) {
  const BadFile& bad = GetParam();
  bad.make(file);
  const std::string bytes = ReadBytes(file);
  const auto listing = Listing(dir.path());
  editor.form.StartUp();
  EXPECT_EQ(window.ended, bad.outcome == Outcome::Missing);
  const bool told = bad.outcome == Outcome::LoadFails || bad.outcome == Outcome::Missing;
  ASSERT_EQ(window.messages.size(), told ? 1u : 0u);
  EXPECT_TRUE(Contains(window.LastMessage(), told ? bad.says : u"")) << U8(window.LastMessage());
  EXPECT_EQ(window.text.empty(), bad.outcome != Outcome::Works && bad.outcome != Outcome::SaveFails);
  if (bad.outcome == Outcome::Missing) {
    EXPECT_EQ(window.titles, std::vector<std::u16string>{u"提示"});
    EXPECT_FALSE(editor.common.HasConn());
    EXPECT_EQ(Listing(dir.path()), listing) << "nothing may be created";
    return;
  }
  EXPECT_NE(window.caption, u"Velmora(加载完毕)");
  EXPECT_EQ(editor.Reload(), bad.outcome != Outcome::LoadFails);
  window.Type(u"\r\n新问题###新答案");
  const bool saved = editor.Save();
  EXPECT_EQ(saved, bad.outcome == Outcome::Works) << U8(window.LastMessage());
  EXPECT_EQ(editor.form.Modified(), !saved);
  const std::u16string_view why = bad.outcome == Outcome::LoadFails ? editor::kSaveRefused : bad.says;
  EXPECT_TRUE(Contains(window.LastMessage(), saved ? u"" : why)) << U8(window.LastMessage());
  if (saved) {
    EXPECT_EQ(Dump(file), "a|b\n新问题|新答案\n");
    return;
  }
  editor.common.CloseDatabase();
  EXPECT_EQ(ReadBytes(file), bytes) << "the file's bytes changed";
  EXPECT_EQ(Listing(dir.path()), listing) << "a journal or other file was left behind";
}

// The operator's edits stay in the box, unsaved, and nothing claims a load.
TEST_P(BadFileTest, AtReloadToldClearlyAndEditsKept) {
  const BadFile& bad = GetParam();
  if (bad.outcome != Outcome::LoadFails) GTEST_SKIP() << "not a fault of the file's content";
  CreateReplyDatabase(file, "('旧问题', '旧答案')");
  editor.form.StartUp();
  window.Type(u"改过的问题###改过的答案", true);
  TempDir scratch;
  bad.make(scratch.DatabaseFile());
  std::string bytes = ReadBytes(scratch.DatabaseFile());
  // A program writing an SQLite file moves its change counter on, which tells open connections
  // that the pages they hold are stale.
  if (bytes.compare(0, 15, "SQLite format 3") == 0) bytes[24] ^= 1;
  bad.spoil ? bad.spoil(file) : WriteBytes(file, bytes);
  bytes = ReadBytes(file);

  EXPECT_FALSE(editor.Reload());
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_TRUE(Contains(window.messages[0], bad.says)) << U8(window.messages[0]);
  EXPECT_FALSE(Contains(window.messages[0], u"在成功加载之前")) << "an earlier load did succeed";
  EXPECT_EQ(window.text, u"改过的问题###改过的答案");
  EXPECT_EQ(window.caption, u"Velmora* ");
  EXPECT_FALSE(editor.Save()) << "a save into a bad file cannot succeed";
  EXPECT_TRUE(editor.form.Modified());
  editor.common.CloseDatabase();
  EXPECT_EQ(ReadBytes(file), bytes);
}

INSTANTIATE_TEST_SUITE_P(Files, BadFileTest, testing::ValuesIn(kBadFiles), [](const auto& info) {
  std::string name = info.param.name;
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
});

}  // namespace
