#include "editor/frmmain.h"

#include <gtest/gtest.h>

#include <new>
#include <set>
#include <tuple>

#include "editor/messages.h"
#include "tests/support/testdb.h"

using namespace testsupport;
using namespace std::string_literals;

namespace {

// A window that records what the editor shows, for driving frmMain without a toolkit.
class FakeWindow : public editor::Window {
 public:
  editor::frmMain* form = nullptr;  // told of every change of the text, as by a real text box
  std::u16string text, caption;
  std::vector<std::u16string> messages;  // of the message boxes shown, in turn
  int answer = editor::vbNo;  // the button pressed in boxes that ask; those that tell give OK
  bool ended = false;
  bool failSetText = false;  // SetText then keeps half the text and runs out of memory
  bool failQuestions = false;  // message boxes that ask cannot be shown

  bool IsOrdinaryFile(std::u16string_view path) const override { return fs::is_regular_file(store::NativePath(path)); }
  std::u16string Text() const override { return text; }
  void SetText(std::u16string value) override {
    if (failSetText) text = value.substr(0, value.size() / 2);
    if (failSetText) throw std::bad_alloc();
    Type(std::move(value), true);
  }
  void SetCaption(std::u16string_view value) override { caption = value; }
  int ShowMessage(std::u16string_view message, editor::Buttons buttons, editor::Icon, std::u16string_view) override {
    messages.emplace_back(message);
    if (failQuestions && buttons != editor::Buttons::Ok) throw std::runtime_error("no message box");
    return buttons == editor::Buttons::Ok ? editor::vbOK : answer;
  }
  void EndRun() override { ended = true; }
  void SetLinkCursor(int) override {}
  void MoveText(int, int) override {}
  std::size_t caretLine = 0;
  std::size_t CaretLine() const override { return caretLine; }
  void SetCaretLine(std::size_t line) override { caretLine = line; }
  void SelectLine(std::size_t line) override { caretLine = line, lineSelected = true; }
  bool lineSelected = false;

  // The operator types: more text at the end, or all of it anew.
  void Type(std::u16string more, bool replace = false) {
    text = replace ? std::move(more) : text + more;
    if (form) form->TextChanged();
  }
  std::u16string LastMessage() const { return messages.empty() ? u"" : messages.back(); }
};

// A Common and a frmMain on the reply database of one directory, as in a run.
struct Editor {
  explicit Editor(std::u16string appPath) : common(std::move(appPath)), form(window, common) { window.form = &form; }
  FakeWindow window;
  store::Common common;
  editor::frmMain form;
  bool Reload() { return form.LinkClick(0); }
  bool Save() { return form.LinkClick(1); }
};

inline bool Contains(std::u16string_view text, std::u16string_view part) { return text.find(part) != text.npos; }

struct EditorTest : testing::Test {
  TempDir dir;
  fs::path file = dir.DatabaseFile();
  Editor editor{dir.AppPath()};
  FakeWindow& window = editor.window;
};

// Unchanged, closing asks nothing; No closes without saving; a save that fails after Yes keeps the
// window and the edits. (The real windows' prompts are tested with Yes and Cancel.)
TEST_F(EditorTest, CloseAnswersDoWhatTheySay) {
  const struct {
    int answer;  // 0: closed unchanged, without a question
    bool saveFails;
  } cases[] = {{0, false}, {editor::vbNo, false}, {editor::vbYes, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    TempDir dir;
    const fs::path file = dir.DatabaseFile();
    Editor editor(dir.AppPath());
    CreateReplyDatabase(file, "('a', '1')");
    editor.form.StartUp();
    if (c.saveFails) Sql(file, "create trigger no before insert on zorvrobot begin select raise(abort, 'no'); end");
    if (c.answer) editor.window.Type(u"\r\nb###2");
    editor.window.answer = c.answer;
    int cancel = 0;
    editor.form.CloseRequest(cancel);
    EXPECT_EQ(cancel, c.saveFails ? 1 : 0);
    EXPECT_EQ(editor.window.messages.size(), (c.answer ? 1u : 0u) + c.saveFails);
    EXPECT_EQ(editor.window.LastMessage().rfind(c.saveFails ? u"保存失败，数据库中的应答内容未作任何修改。"
                                                             : c.answer ? u"保存当前应答内容？" : u"", 0), 0u);
    EXPECT_EQ(editor.form.Modified(), c.answer != 0);
    EXPECT_EQ(editor.window.caption == u"Velmora* ", c.answer != 0);
    EXPECT_EQ(Dump(file), "a|1\n");
    EXPECT_EQ(editor.common.HasConn(), c.saveFails) << "closing closes the connection";
  }
}

// A row both the operator and another program changed is asked about, with their count: Cancel,
// or a question that cannot be shown, keeps the edits unsaved. Once saved, the box shows what the
// other program wrote, the caret on the first line it chose the other's version of, or else on
// the line it was on.
TEST_F(EditorTest, ASaveAsksAboutConflictsAndShowsAnotherProgramsWrites) {
  CreateReplyDatabase(file, "('a', '1'), ('b', '2'), ('c', '3')");
  editor.form.StartUp();
  window.Type(u"a###1!\r\nb###2\r\nc###3", true);
  window.caretLine = 1;
  Sql(file, "update zorvrobot set answer = '1?' where id = 1; insert into zorvrobot values (0, 'z', '0')");
  window.answer = editor::vbYes, window.failQuestions = true;
  EXPECT_FALSE(editor.Save());
  window.answer = editor::vbCancel, window.failQuestions = false;
  EXPECT_FALSE(editor.Save());
  EXPECT_TRUE(Contains(window.LastMessage(), u" 1 条")) << U8(window.LastMessage());
  EXPECT_EQ(std::make_tuple(editor.form.Modified(), U8(window.caption), Dump(file)),
            std::make_tuple(true, "Velmora* "s, "z|0\na|1?\nb|2\nc|3\n"s));
  window.answer = editor::vbNo;
  EXPECT_TRUE(editor.Save());
  EXPECT_EQ(std::make_tuple(U8(window.text), window.caretLine, editor.form.Modified(), U8(window.caption)),
            std::make_tuple("z###0\r\na###1?\r\nb###2\r\nc###3"s, 1u, false, "Velmora(保存成功)"s));
  window.caretLine = 2;
  Sql(file, "insert into zorvrobot values (-1, 'y', '9')");
  EXPECT_TRUE(editor.Save());
  EXPECT_EQ(std::make_tuple(U8(window.text), window.caretLine), std::make_tuple("y###9\r\nz###0\r\na###1?\r\nb###2\r\nc###3"s, 3u));
}

// A save refused for one entry names its line (left-out lines counted) and the start of its
// question, and for a duplicate the line or row holding the same text, then selects the line.
TEST_F(EditorTest, ARefusedSaveNamesAndSelectsTheLineItWasRefusedFor) {
  const struct {
    const char* table;  // run after the table is made, before the load
    const char* meanwhile;  // another program's write after the load
    std::u16string typed, says;
    std::size_t line;
  } cases[] = {
      {"create table t (ask check (length(ask) <= 20)); drop table zorvrobot; create table zorvrobot (id integer "
       "primary key, ask text check (length(ask) <= 20), answer text); insert into zorvrobot values (1, 'a', '1')",
       "", u"\r\n没有答案\r\n一二三四五六七八九十一二三四五六七八九十二###x", u"第 3 行：“一二三四五六七八九十一二三四五六七八九十…”", 2},
      {"create unique index one on zorvrobot (ask)", "", u"\r\nb###2\r\n\r\na###3", u"第 4 行：“a”，与第 1 行重复", 3},
      {"create unique index one on zorvrobot (ask)", "insert into zorvrobot values (9, 'n', '0')", u"\r\nn###1",
       u"第 2 行：“n”，与表中已有的另一条应答重复", 1},
  };
  for (const auto& c : cases) {
    TempDir dir;
    Editor editor(dir.AppPath());
    CreateReplyDatabase(dir.DatabaseFile(), "('a', '1')");
    Sql(dir.DatabaseFile(), c.table);
    editor.form.StartUp();
    if (*c.meanwhile) Sql(dir.DatabaseFile(), c.meanwhile);
    editor.window.Type(c.typed);
    EXPECT_FALSE(editor.Save());
    EXPECT_TRUE(Contains(editor.window.LastMessage(), c.says)) << U8(editor.window.LastMessage());
    EXPECT_EQ(std::make_pair(editor.window.lineSelected, editor.window.caretLine), std::make_pair(true, c.line));
  }
}

// The conflict question lists the first five conflicts, each with its line (or as a line the
// operator deleted), its question and both versions, and says how many there are in all.
TEST_F(EditorTest, TheConflictQuestionListsWhatItAsksAbout) {
  CreateReplyDatabase(file, "('q1', 'a'), ('q2', 'a'), ('q3', 'a'), ('q4', 'a'), ('q5', 'a'), ('q6', 'a'), ('q7', 'a')");
  editor.form.StartUp();
  window.Type(u"q2###mine\r\nq3###mine\r\nq4###mine\r\nq5###mine\r\nq6###mine\r\nq7###a", true);
  Sql(file, "update zorvrobot set answer = 'theirs' where id <= 5; delete from zorvrobot where id = 6");
  window.answer = editor::vbCancel;
  EXPECT_FALSE(editor.Save());
  for (const std::u16string_view part : {u"您改动的 6 条应答", u"第 1 行：“q2”\n    您的版本：“mine”\n    其他程序的版本：“theirs”",
                                         u"第 5 行：“q6”\n    您的版本：“mine”\n    其他程序已删除", u"……等共 6 条"})
    EXPECT_TRUE(Contains(window.LastMessage(), part)) << U8(part);
  EXPECT_FALSE(Contains(window.LastMessage(), u"已删除的一行")) << "the sixth, the deleted line, is not listed";
}

// A box left holding part of the table must not be saved over the whole of it.
TEST_F(EditorTest, AFailedAssignmentOfTheTextRefusesSavingUntilAReloadSucceeds) {
  CreateReplyDatabase(file, "('a', '1'), ('b', '2')");
  editor.form.StartUp();
  window.failSetText = true;
  EXPECT_FALSE(editor.Reload());
  EXPECT_FALSE(editor.Save());
  EXPECT_EQ(window.LastMessage(), editor::kSaveRefused);
  EXPECT_EQ(Dump(file), "a|1\nb|2\n");
  window.failSetText = false;
  EXPECT_TRUE(editor.Reload());
  EXPECT_TRUE(editor.Save());
}

// Bad database files, at start-up and written over the open file before a reload.
struct BadFile {
  const char* name;
  Doing make;  // makes the file from nothing
  std::u16string_view says;  // part of the message the operator must see
  Doing spoil = {};          // how another program spoils the open file, if not by writing its bytes
};

void Truncated(const fs::path& file) {
  CreateReplyDatabase(file);
  Sql(file, "with recursive n(i) as (select 1 union all select i + 1 from n where i < 400) insert into "
            "zorvrobot (ask, answer) select '问题' || i || hex(zeroblob(20)), '答案' || hex(zeroblob(30)) from n");
  WriteBytes(file, ReadBytes(file).substr(0, fs::file_size(file) / 2));
}
Doing Write(const std::string& bytes) { return [bytes](const fs::path& file) { WriteBytes(file, bytes); }; }

const BadFile kBadFiles[] = {
    {"ZeroLength", Write(""), u"不是本程序能读取的"},
    {"TextFile", Write("问题###答案\r\n这是一个文本文件，不是数据库。\r\n"), u"不是本程序能读取的"},
    {"Truncated", Truncated, u"损坏"},
    {"NoReplyTable", Exec("create table customers (id integer primary key, name text)"), u"没有应答表",
     Exec("drop table zorvrobot")},
    {"NoAskColumn", Exec("create table zorvrobot (id integer primary key, answer text)"), u"缺少 ask 列",
     Exec("alter table zorvrobot drop column ask")},
    {"NoIdColumn", Exec("create table zorvrobot (ask text, answer text)"), u"缺少 id 列",
     Exec("alter table zorvrobot rename column id to key")},
    // No Access driver here, nor in wine: the file is left alone, and the operator told why.
    {"JetFile", Write(std::string("\0\1\0\0Standard Jet DB", 19) + std::string(4000, '\0')), u"没有安装"},
    {"AceFile", Write(std::string("\0\1\0\0Standard ACE DB", 19) + std::string(4000, '\0')), u"没有安装"},
};

std::set<fs::path> Listing(const fs::path& dir) { return {fs::directory_iterator(dir), {}}; }

struct BadFileTest : EditorTest, testing::WithParamInterface<BadFile> {};

TEST_P(BadFileTest, AtStartUpToldClearlyAndNothingWritten) {
  const BadFile& bad = GetParam();
  bad.make(file);
  const std::string bytes = ReadBytes(file);
  const auto listing = Listing(dir.path());
  editor.form.StartUp();
  EXPECT_FALSE(window.ended);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_TRUE(Contains(window.LastMessage(), bad.says)) << U8(window.LastMessage());
  EXPECT_EQ(window.text, u"");
  EXPECT_NE(window.caption, u"Velmora(加载完毕)");
  EXPECT_FALSE(editor.Reload());
  window.Type(u"\r\n新问题###新答案");
  EXPECT_FALSE(editor.Save());
  EXPECT_TRUE(editor.form.Modified());
  EXPECT_EQ(window.LastMessage(), editor::kSaveRefused);
  editor.common.CloseDatabase();
  EXPECT_EQ(ReadBytes(file), bytes);
  EXPECT_EQ(Listing(dir.path()), listing) << "a journal or other file was left behind";
}

// The operator's edits stay in the box, unsaved, and nothing claims a load.
TEST_P(BadFileTest, AtReloadToldClearlyAndEditsKept) {
  const BadFile& bad = GetParam();
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

INSTANTIATE_TEST_SUITE_P(Files, BadFileTest, testing::ValuesIn(kBadFiles),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
