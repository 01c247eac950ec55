#include "store/common.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <optional>
#include <thread>

#include "check/forwardingengine.h"
#include "check/profile.h"
#include "store/odbc_engine.h"
#include "tests/support/testdb.h"

using namespace testsupport;
using namespace std::string_literals;
using store::Common;
using store::Fault;

namespace {

Fault FaultOf(const std::function<void()>& call) try {
  call();
  ADD_FAILURE() << "the call did not fail";
  return Fault::Engine;
} catch (const store::Error& error) {
  return error.fault();
}

// True iff another program can write the file at once: no transaction, not even one that only
// read, was left open.
bool OtherCanWrite(const fs::path& file) try {
  return Sqlite(file, 0).Run("begin exclusive; rollback").empty();
} catch (const std::exception&) {
  return false;
}

// The engines the tests of what every engine must do run on: the one the file calls for (SQLite),
// and the ODBC one through the SQLite ODBC driver, standing in for Jet. The store's contract
// through ODBC as another program sees it is the check's case table (check_test); the tests on
// the SQLite engine alone look into the file itself.
const struct Engine {
  const char* name;
  store::EngineOpener open;
  bool odbc;
} kEngines[] = {{"Sqlite", store::OpenEngine, false}, {"Odbc", check::OpenStandIn, true}};

struct StoreTest : testing::TestWithParam<Engine> {
  bool Odbc() const { return GetParam().odbc; }
  TempDir dir;
  fs::path file = dir.DatabaseFile();
  Common common{dir.AppPath(), GetParam().open};
};

struct SqliteStoreTest : testing::Test {
  TempDir dir;
  fs::path file = dir.DatabaseFile();
  Common common{dir.AppPath()};
};

// A load joins the rows in id order, a missing value shown as empty. A save waits for another
// program's write to end, stores the lines a save accepts, in line order, and leaves the file's
// journal mode and other settings as they were.
TEST_F(SqliteStoreTest, LoadJoinsRowsInIdOrderAndSaveStoresAcceptedLinesInLineOrder) {
  const std::string settings = "pragma journal_mode; pragma user_version; pragma application_id; pragma page_size; "
                               "pragma auto_vacuum";
  Sql(file, "pragma journal_mode=wal; pragma user_version=7; pragma application_id=42; create table zorvrobot (id "
            "integer primary key, ask text, answer text); insert into zorvrobot values (10, 'b', '2'), (3, 'a', '1'), "
            "(4, null, 'x'), (5, 'y', null), (6, 'q', 'a###b')");
  const std::string before = Sql(file, settings);
  common.OpenDatabase();
  EXPECT_EQ(U8(common.LoadReplyText()), "a###1\r\n###x\r\ny###\r\nq###a###b\r\nb###2");
  Sqlite holder(file);  // another program writing, which lets go within the save's wait
  holder.Run("begin exclusive");
  std::thread release([&] { std::this_thread::sleep_for(std::chrono::milliseconds(500)), holder.Run("rollback"); });
  EXPECT_NO_THROW(common.SaveReplyText(u"z###1\r\n\r\nbad line\r\n  a ### b  \r\n###x\r\nq###a###b\r\n"));
  release.join();
  EXPECT_EQ(Dump(file), "z|1\na | b\nq|a###b\n");
  EXPECT_EQ(Sql(file, settings), before);
}

// The SQLite engine, counting its whole-table reads, pulling rows away just before updating them,
// and, unless codePage is 0, holding only the texts of a code page, as a Jet 3 file does.
struct Wrapping {
  int wholeReads = 0, pullAways = 0;
  unsigned codePage = 0;
};
struct WrappedEngine : check::ForwardingEngine {
  Wrapping& wrapping;
  WrappedEngine(const fs::path& path, Wrapping& wrapping) : ForwardingEngine(store::OpenEngine(path)), wrapping(wrapping) {}
  void ReadRows(store::IdRange range, const store::RowVisitor& visit) override {
    wrapping.wholeReads += range.IsAll();
    ForwardingEngine::ReadRows(range, visit);
  }
  bool HoldsEveryText() const override { return wrapping.codePage == 0; }
  bool Holds(std::u16string_view text) const override { return store::CodePageHolds(wrapping.codePage, text); }
  void Update(const store::RowTexts& row) override {
    if (wrapping.pullAways > 0) --wrapping.pullAways, Inner().Delete(row.id);
    ForwardingEngine::Update(row);
  }
};
store::EngineOpener Wrapped(Wrapping& wrapping) {
  return [&wrapping](const fs::path& path) { return std::make_unique<WrappedEngine>(path, wrapping); };
}

// A save writes the operator's changes since the load on top of what another program wrote
// meanwhile: every other row keeps its id and its own column and fires no trigger, a row both
// changed is asked about first, and no text is written twice under the table's unique index.
// Rows are shown as id:ask answer:kind, the triggers' log as what they saw, the box as the text
// it shows after the save when that is not the operator's.
TEST_F(SqliteStoreTest, ASaveWritesTheOperatorsChangesOverTheTableNow) {
  const std::string base = "a###1\r\nb###2\r\nc###3\r\nd###4\r\ne###5", rows = "3:a1:k3 7:b2:k7 12:c3:k12 13:d4:k13 14:e5:k14";
  const std::string edited = "a###1\r\nb###2!\r\nc###3\r\nd###4\r\ne###5";
  enum Answer { None, Yes, No, Cancel };
  const struct {
    const char* name;
    std::string text, meanwhile, rows, log, box = "";
    Answer answer = None;  // the answer to the question, which None expects not to be asked
  } cases[] = {
      {"unchanged", base, "", rows, ""},
      {"edited in place", edited, "", "3:a1:k3 7:b2!:k7 12:c3:k12 13:d4:k13 14:e5:k14", "u7>7"},
      {"inserted where an id is free", "a###1\r\nn###0\r\nb###2\r\nc###3\r\nd###4\r\ne###5", "",
       "3:a1:k3 4:n0:x 7:b2:k7 12:c3:k12 13:d4:k13 14:e5:k14", "i4"},
      {"inserted where no id is free", "a###1\r\nb###2\r\nc###3\r\nn###0\r\nd###4\r\ne###5", "",
       "3:a1:k3 7:b2:k7 8:c3:k12 9:n0:x 13:d4:k13 14:e5:k14", "u12>8 i9"},
      {"inserted first", "n###0\r\n" + base, "", "2:n0:x " + rows, "i2"},
      {"deleted and the next edited", "a###1\r\nc###3!\r\nd###4\r\ne###5", "",
       "3:a1:k3 12:c3!:k12 13:d4:k13 14:e5:k14", "d7 u12>12"},
      {"edited in place beside a deleted line", "x###2\r\ny###9\r\nd###4\r\ne###5", "",
       "7:x2:k7 12:y9:k12 13:d4:k13 14:e5:k14", "d3 u7>7 u12>12"},
      {"moved", "b###2\r\nc###3\r\nd###4\r\ne###5\r\na###1", "", "7:b2:k7 12:c3:k12 13:d4:k13 14:e5:k14 15:a1:k3",
       "u3>15"},
      {"a question given to a new line", "f###1\r\nb###2\r\nc###3\r\nd###4\r\ne###5\r\na###9", "",
       "3:f1:k3 7:b2:k7 12:c3:k12 13:d4:k13 14:e5:k14 15:a9:x", "u3>3 i15"},
      {"questions swapped under their unique index", "b###1\r\na###2\r\nc###3\r\nd###4\r\ne###5", "",
       "3:b1:k3 7:a2:k7 12:c3:k12 13:d4:k13 14:e5:k14", "u3>3 u7>7 u3>3"},
      {"another program added, edited and deleted other rows", edited,
       "update zorvrobot set answer = '1!' where id = 3; insert into zorvrobot values (20, 'z', '9', 'k20'); "
       "delete from zorvrobot where id = 13",
       "3:a1!:k3 7:b2!:k7 12:c3:k12 14:e5:k14 20:z9:k20", "u7>7", "a###1!\r\nb###2!\r\nc###3\r\ne###5\r\nz###9"},
      {"both edited a row, the operator's kept", edited, "update zorvrobot set answer = '2?' where id = 7",
       "3:a1:k3 7:b2!:k7 12:c3:k12 13:d4:k13 14:e5:k14", "u7>7", "", Yes},
      {"both edited a row, the other's kept", edited, "update zorvrobot set answer = '2?' where id = 7",
       "3:a1:k3 7:b2?:k7 12:c3:k12 13:d4:k13 14:e5:k14", "", "a###1\r\nb###2?\r\nc###3\r\nd###4\r\ne###5", No},
      {"both edited a row, cancelled", edited, "update zorvrobot set answer = '2?' where id = 7",
       "3:a1:k3 7:b2?:k7 12:c3:k12 13:d4:k13 14:e5:k14", "", "", Cancel},
      {"both made the same edit", edited, "update zorvrobot set answer = '2!' where id = 7",
       "3:a1:k3 7:b2!:k7 12:c3:k12 13:d4:k13 14:e5:k14", ""},
      {"edited a row the other deleted, kept", edited, "delete from zorvrobot where id = 7",
       "3:a1:k3 4:b2!:x 12:c3:k12 13:d4:k13 14:e5:k14", "i4", "", Yes},
      {"deleted a row the other edited, kept by the other", "a###1\r\nb###2\r\nd###4\r\ne###5",
       "update zorvrobot set answer = '3?' where id = 12", "3:a1:k3 7:b2:k7 12:c3?:k12 13:d4:k13 14:e5:k14", "",
       base.substr(0, 12) + "\r\nc###3?\r\nd###4\r\ne###5", No},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path file = dir.DatabaseFile();
    Sql(file, "create table zorvrobot (id integer primary key, ask text, answer text, kind text not null default 'x'); "
              "insert into zorvrobot values (3, 'a', '1', 'k3'), (7, 'b', '2', 'k7'), (12, 'c', '3', 'k12'), "
              "(13, 'd', '4', 'k13'), (14, 'e', '5', 'k14'); create unique index one_ask on zorvrobot (ask); "
              "create table log (what text); "
              "create trigger i after insert on zorvrobot begin insert into log values ('i' || new.id); end; "
              "create trigger u after update on zorvrobot begin insert into log values ('u' || old.id || '>' || new.id); end; "
              "create trigger d after delete on zorvrobot begin insert into log values ('d' || old.id); end;");
    Wrapping wrapping;
    Common common(dir.AppPath(), Wrapped(wrapping));
    EXPECT_EQ(U8(common.LoadReplyText()), base);
    if (!c.meanwhile.empty()) Sql(file, c.meanwhile + "; delete from log");
    std::size_t asked = 0;
    wrapping.wholeReads = 0;
    const store::SaveOutcome outcome = common.SaveReplyText(U16(c.text), [&](const std::vector<store::ShownConflict>& conflicts) {
      asked = conflicts.size();
      return c.answer == Yes ? std::optional(store::Resolution::Mine)
                             : c.answer == No ? std::optional(store::Resolution::Theirs) : std::nullopt;
    });
    EXPECT_EQ(asked, c.answer == None ? 0u : 1u);
    EXPECT_EQ(outcome.cancelled, c.answer == Cancel);
    EXPECT_EQ(U8(outcome.saved.value_or(u"")), c.box);
    EXPECT_EQ(wrapping.wholeReads == 0, c.meanwhile.empty()) << "the table is read only when another program wrote";
    EXPECT_EQ(Sql(file, "select group_concat(id || ':' || ask || answer || ':' || kind, ' ') from "
                        "(select * from zorvrobot order by id)"), c.rows + "\n");
    EXPECT_EQ(Sql(file, "select group_concat(what, ' ') from log"), (c.log.empty() ? "<null>" : c.log) + "\n");
  }
}

// A write that finds its row gone (as where reads take no locks) has the save planned once more
// against the table now; gone again, the save fails and changes nothing. A text the file cannot
// hold is refused, its line named, before anything is written.
TEST_F(SqliteStoreTest, ASaveThatCannotWriteALineAsItIsChangesNothing) {
  const struct {
    int pullAways; unsigned codePage; const char *text, *rows; std::optional<Fault> fault; const char* line;
  } cases[] = {{1, 0, "a###1\r\nb###2!", "a|1\nb|2!\n", std::nullopt, ""},
               {2, 0, "a###1\r\nb###2!", "a|1\nb|2\n", Fault::Vanished, "2"},
               {0, 1252, "a###caf\u00e9\r\nb###\u9000", "a|1\nb|2\n", Fault::Unstorable, "2"}};
  for (const auto& c : cases) {
    TempDir dir;
    CreateReplyDatabase(dir.DatabaseFile(), "('a', '1'), ('b', '2')");
    Wrapping wrapping{0, c.pullAways, c.codePage};
    Common common(dir.AppPath(), Wrapped(wrapping));
    common.LoadReplyText();
    std::optional<Fault> fault;
    std::string line;
    try { common.SaveReplyText(U16(c.text)); } catch (const store::Error& e) { fault = e.fault(), line = e.at() ? std::to_string(e.at()->line) : ""; }
    EXPECT_EQ(fault, c.fault) << c.pullAways;
    EXPECT_EQ(line, c.line);
    EXPECT_EQ(Dump(dir.DatabaseFile()), c.rows);
  }
}

// Once a save's transaction ends, committed or rolled back, reads leave no transaction open that
// would keep another program from writing.
TEST_P(StoreTest, AReadAfterASaveLeavesTheFileFreeForOthers) {
  CreateReplyDatabase(file, "('a', '1')");
  const std::unique_ptr<store::Engine> engine = GetParam().open(file);
  for (const bool commit : {true, false}) {
    engine->BeginWrite();
    commit ? engine->Commit() : engine->Rollback();
    engine->ReadRows({}, [](std::int64_t, std::u16string_view, std::u16string_view) {});
    EXPECT_TRUE(OtherCanWrite(file)) << (commit ? "after Commit" : "after Rollback");
  }
}

// Lines in reverse order: all rows but one move, to ids other rows hold until they move.
TEST_F(SqliteStoreTest, ASaveOfLinesInReverseOrderStoresThemInThatOrder) {
  CreateReplyDatabase(file, "('first', printf('%.10000c', 'r'))");
  const std::string reversed = Sql(file, "with recursive n(i) as (select 1 union all select i + 1 from n where i < 3000) "
                                         "insert into zorvrobot (ask, answer) select 'q' || i, 'a' || i from n; "
                                         "select group_concat(line, char(13, 10)) from (select ask || '###' || "
                                         "answer as line from zorvrobot order by id desc)");
  common.LoadReplyText();
  common.SaveReplyText(U16(reversed.substr(0, reversed.size() - 1)));
  EXPECT_EQ(U8(common.LoadReplyText()) + "\n", reversed);
}

// A missing file is never created, and once it is there a reload opens it.
TEST_P(StoreTest, OpensOnlyTheExistingDatabaseBesideTheProgram) {
  EXPECT_EQ(FaultOf([&] { common.OpenDatabase(); }), Fault::CantOpen);
  EXPECT_EQ(FaultOf([&] { common.LoadReplyText(); }), Fault::CantOpen) << "the reload says why";
  EXPECT_EQ(FaultOf([&] { common.SaveReplyText(u"a###b"); }), Fault::CantOpen);
  EXPECT_FALSE(fs::exists(file));
  CreateReplyDatabase(file, "('now', 'here')");
  EXPECT_EQ(U8(common.LoadReplyText()), "now###here");
  if (fs::path::preferred_separator == '\\') return;
  // Where "\\" is no separator, a folder's name may hold one: only the last separates the file.
  const fs::path folder = dir.path() / "x\\y";
  fs::create_directory(folder);
  CreateReplyDatabase(folder / "tarvello.db", "('in', 'x\\y')");
  EXPECT_EQ(U8(Common(folder.u16string(), GetParam().open).LoadReplyText()), "in###x\\y");
}

// Values other programs store (not UTF-8 text, not text at all, in a UTF-16 database) are shown
// as a text that gives back their bytes, and every code unit of any text Velmora saves comes back.
TEST_F(SqliteStoreTest, ShownTextGivesBackEveryStoredByteAndSavedTextComesBackWhole) {
  const std::unique_ptr<char[]> lead(new char[1]{'\xE0'});  // a value ending inside a sequence
  EXPECT_EQ(store::Utf8ToUtf16({lead.get(), 1}), u"\xDCE0") << "read to its end and not past it";
  const struct {
    const char *encoding, *values;
  } cases[] = {
      {"UTF-8", "(cast(x'C4E3BAC3' as text), 'caf' || cast(x'E9' as text)), (x'00FF80C0AF', 42), "
                "(0.30000000000000004, cast(x'610062' as text)), (cast(x'EDA08061' as text), "
                "cast(x'EDB280EDA080EDB080EDA08080' as text)), (x'E0', x'61E0')"},
      {"UTF-16le", "(cast(x'00D87800' as text), cast(x'FFFE4100FEFF' as text)), (x'4100', x'00DC4200'), (42, -7)"},
      {"UTF-16be", "(cast(x'D8000078DC80' as text), cast(x'FEFF0041' as text))"},
  };
  const std::string stored = "select hex(ask), hex(answer), printf('%!.17g', ask), printf('%!.17g', answer) "
                             "from zorvrobot order by id";
  const std::u16string text = u"\uFEFFa\0\u00E9b###\xD800x\r\n\xDC80\xDCFF\xD83D###\n\r\u2028\uFFFE"s;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.encoding);
    TempDir other;
    const fs::path file = other.DatabaseFile();
    Sql(file, "pragma encoding='"s + c.encoding + "'; create table zorvrobot (id integer primary key, ask "
              "numeric, answer numeric); insert into zorvrobot (ask, answer) values " + c.values);
    const std::string before = Sql(file, stored);
    Common store(other.AppPath());
    store.OpenDatabase();
    // Every row written anew from the text shown: the bytes must be those stored.
    const std::u16string shown = store.LoadReplyText();
    Sql(file, "delete from zorvrobot");
    store.LoadReplyText();
    store.SaveReplyText(shown);
    EXPECT_EQ(Sql(file, stored), before);
    store.SaveReplyText(text);
    EXPECT_EQ(store.LoadReplyText(), text);
    // A BLOB of odd length has no UTF-16 text that gives back its bytes.
    Sql(file, "insert into zorvrobot (ask, answer) values ('a', x'414243')");
    EXPECT_EQ(c.encoding == "UTF-8"s || FaultOf([&] { store.LoadReplyText(); }) == Fault::NotText, true);
  }
}

// Every new connection may hold values of at most 1000 bytes, like a database built so.
int LimitLength(sqlite3* db, char**, const sqlite3_api_routines*) {
  return sqlite3_limit(db, SQLITE_LIMIT_LENGTH, 1000), SQLITE_OK;
}
Doing TableOf(const std::string& columns) {
  return Exec("drop table zorvrobot; create table zorvrobot (" + columns + ", ask text, answer text); "
              "insert into zorvrobot (ask, answer) values ('keep', '1'), ('keep', '2')");
}
std::optional<Sqlite> other;  // another program's connection, held through a save
Doing Hold(const std::string& sql) {
  return [sql](const fs::path& file) { other.emplace(file).Run(sql); };
}
void Delete(const fs::path& file) { fs::remove(file); }
void Replace(const fs::path& file) {
  CreateReplyDatabase(file.parent_path() / "new.db", "('new', 'table')");
  fs::rename(file.parent_path() / "new.db", file);
}
// A write version SQLite does not know, with which it opens the file read-only, and the change
// counter moved on so that open connections read the header again.
void MakeReadOnly(const fs::path& file) {
  std::string bytes = ReadBytes(file);
  bytes[18] = 3, bytes[24] ^= 1;
  WriteBytes(file, bytes);
}

// Each way a save can fail leaves the table as it was and no transaction open, and says why.
TEST_P(StoreTest, FailedSaveLeavesTheTableAsItWas) {
  const std::string text = "a###x\r\nb###y\r\nc###y\r\nd###" + std::string(1001, 'z');
  const struct {
    const char* name;
    Doing before, meanwhile;  // done to the file before Velmora opens it, and while it is open
    Fault fault;
  } cases[] = {
      {"trigger refusing the third row", Exec("create trigger no_c before insert on zorvrobot when new.ask "
                                              "= 'c' begin select raise(abort, 'no'); end"), {}, Fault::Constraint},
      {"NOT NULL column", Exec("alter table zorvrobot rename to old; create table zorvrobot (id integer primary "
                               "key, ask, answer, kind not null); insert into zorvrobot select *, 'k' from old"),
       {}, Fault::Constraint},
      {"value over the length limit", [](auto&) { sqlite3_auto_extension((void (*)())LimitLength); }, {}, Fault::TooBig},
      {"id INTEGER", TableOf("id INTEGER"), {}, Fault::OrderNotKept},
      {"id without a type", TableOf("id"), {}, Fault::OrderNotKept},
      {"id unique only with ask", [](auto& file) { TableOf("id INTEGER")(file), Sql(file, "create unique index "
                                                   "pair on zorvrobot (id, ask)"); }, {}, Fault::OrderNotKept},
      {"exclusive lock", {}, Hold("begin exclusive"), Fault::Busy},
      {"read transaction at commit", {}, Hold("begin; select count(*) from zorvrobot"), Fault::Busy},
      {"read-only file", {}, MakeReadOnly, Fault::ReadOnly},
      {"file deleted", {}, Delete, Fault::Moved},
      {"file deleted in WAL mode", Exec("pragma journal_mode=wal"), Delete, Fault::Moved},
      {"file replaced", {}, Replace, Fault::Moved},
      {"file replaced in WAL mode", Exec("pragma journal_mode=wal"), Replace, Fault::Moved},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Windows does not let a program delete or replace an open file.
    if (c.fault == Fault::Moved && fs::path::preferred_separator == '\\') continue;
    // Nor does Jet; and the SQLite ODBC driver binds a value over SQLite's limit as NULL.
    if ((c.fault == Fault::Moved || c.fault == Fault::TooBig) && Odbc()) continue;
    TempDir dir;
    const fs::path file = dir.DatabaseFile();
    CreateReplyDatabase(file, "('keep', '1'), ('keep', '2')");
    if (c.before) c.before(file);
    Common common(dir.AppPath(), GetParam().open);
    common.OpenDatabase();
    common.LoadReplyText();  // as at start-up; in WAL mode this also opens the log
    const std::string table = Dump(file);
    if (c.meanwhile) c.meanwhile(file);
    EXPECT_EQ(FaultOf([&] { common.SaveReplyText(U16(text)); }), c.fault);
    other.reset();
    sqlite3_reset_auto_extension();
    if (!fs::exists(file)) continue;  // deleted, and not made again
    EXPECT_EQ(Dump(file), c.fault == Fault::Moved ? "new|table\n" : table);
    if (c.fault == Fault::Moved) {
      EXPECT_EQ(U8(common.LoadReplyText()), "new###table") << "a reload opens the new file";
    }
    // No transaction is left open; but a file SQLite opens read-only nobody can write.
    EXPECT_EQ(OtherCanWrite(file), c.fault != Fault::ReadOnly);
    if (c.fault != Fault::Busy) continue;
    common.SaveReplyText(U16(text));  // the lock gone, the same save is the one to write
    EXPECT_EQ(Dump(file), "a|x\nb|y\nc|y\nd|" + std::string(1001, 'z') + "\n");
  }
}

// What the ODBC engine makes of what Windows and its Access driver report, which no driver here
// can: error records (the driver's own after the driver manager's), translated driver names, and
// the characters a Jet 3 file's code page holds ("Ā" only as the look-alike "A", so not at all).
TEST(OdbcReports, AreReadAsWindowsGivesThem) {
  using store::OdbcDriver;
  const std::tuple<OdbcDriver, std::vector<store::OdbcDiagnostic>, Fault> records[] = {
      {OdbcDriver::Jet4, {{u"IM006", 0, u""}, {u"01000", 0, u""}, {u"HY000", -1032, u"in use"}}, Fault::Busy},
      {OdbcDriver::Sqlite, {{u"01000", 0, u"Can't open lib"}}, Fault::DriverMissing},
      {OdbcDriver::Sqlite, {{u"HY000", 1, u"no such table: zorvrobot"}}, Fault::NoSuchTable},
      {OdbcDriver::Jet4, {{u"HY000", -1044, u""}}, Fault::CantOpen}, {OdbcDriver::Jet3, {{u"HY000", -3073, u""}}, Fault::ReadOnly},
      {OdbcDriver::Ace, {{u"23000", -1605, u""}}, Fault::Duplicate}};
  for (const auto& [driver, list, fault] : records)
    EXPECT_EQ(store::ClassifyDiagnostic(driver, *store::ChooseDiagnostic(list)), fault) << U8(list.back().message);
  const std::vector<std::u16string> installed = {u"SQL Server", u"Microsoft Access Driver (*.MDB, *.ACCDB)",
                                                 u"Driver do Microsoft Access (*.mdb)"};
  EXPECT_EQ(store::ChooseAccessDriver(installed, OdbcDriver::Jet3), installed[2]);
  EXPECT_EQ(store::ChooseAccessDriver(installed, OdbcDriver::Ace), installed[1]);
  EXPECT_EQ(store::ChooseAccessDriver({installed[1]}, OdbcDriver::Jet4), installed[1]);
  EXPECT_EQ(store::ChooseAccessDriver({installed[2]}, OdbcDriver::Ace), std::nullopt);
  const std::tuple<unsigned, std::u16string, bool> texts[] = {
      {1252, u"caf\u00e9", true}, {1252, u"\u9000", false}, {1252, u"\u0100", false}, {936, u"\u9000 400", true},
      {936, u"\u0e01", false}, {936, u"\U0001F600", false}, {936, u"a\xD800", false}};
  for (const auto& [codePage, text, holds] : texts) EXPECT_EQ(store::CodePageHolds(codePage, text), holds) << U8(text);
}

INSTANTIATE_TEST_SUITE_P(Engines, StoreTest, testing::ValuesIn(kEngines),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
