#include "store/common.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>
#include <functional>

#include "tests/support/testdb.h"

using namespace testsupport;
using store::Common;
using store::Fault;

namespace {

// While zero or more, the number of allocations left before every further one fails.
std::atomic<long> allocationsBeforeFailure{-1};

}  // namespace

// GCC takes free() of what this operator new returns for a mismatch, though both use malloc.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
  const long left = allocationsBeforeFailure;
  if (left == 0) throw std::bad_alloc();
  if (left > 0) --allocationsBeforeFailure;
  if (void* memory = std::malloc(size ? size : 1)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

// True iff another program can start writing the file at once: no transaction was left open.
bool OtherCanWrite(const std::filesystem::path& file) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.u8string().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  const bool free = sqlite3_exec(db, "begin immediate; rollback", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return free;
}

class StoreTest : public ::testing::Test {
 protected:
  StoreTest() : common_(dir_.AppPath()) {}

  void Create(const Rows& rows) { CreateReplyDatabase(dir_.DatabaseFile(), rows); }
  std::string Load() { return U8(common_.LoadReplyText()); }
  void Save(const std::string& text) { common_.SaveReplyText(U16(text)); }
  std::string Dump() { return DumpTable(dir_.DatabaseFile()); }

  Fault FaultOf(const std::function<void()>& call) {
    try {
      call();
    } catch (const store::Error& error) {
      return error.fault();
    }
    ADD_FAILURE() << "call did not fail";
    return Fault::Engine;
  }

  TempDir dir_;
  Common common_;
};

TEST_F(StoreTest, DatabasePathIsPlainConcatenation) {
  EXPECT_EQ(Common(u"C:\\Soft").DatabasePath(), u"C:\\Soft\\tarvello.db");
  EXPECT_EQ(Common(u"C:\\").DatabasePath(), u"C:\\\\tarvello.db");
  EXPECT_EQ(Common(u"/").DatabasePath(), u"/\\tarvello.db");
  EXPECT_EQ(Common(u"x").ConnectionString(),
            u"Provider=Microsoft.Jet.OLEDB.4.0;Mode=ReadWrite;Data Source=x\\tarvello.db");
}

// Only the "\" that DatabasePath puts before the file name separates; where "\" may be part of a
// directory's name, the database beside the program is still the one opened.
TEST_F(StoreTest, BackslashInTheDirectoryNameIsPartOfTheName) {
  if (std::filesystem::path::preferred_separator == '\\') GTEST_SKIP() << "no such names here";
  const std::filesystem::path inner = dir_.path() / "a\\b";
  std::filesystem::create_directory(inner);
  CreateReplyDatabase(inner / "tarvello.db", {{"beside", "me"}});
  std::filesystem::create_directories(dir_.path() / "a" / "b");
  CreateReplyDatabase(dir_.path() / "a" / "b" / "tarvello.db", {{"wrong", "file"}});
  Common beside(inner.u16string());
  beside.OpenDatabase();
  EXPECT_EQ(U8(beside.LoadReplyText()), "beside###me");
}

TEST_F(StoreTest, EmptyTableLoadsAsEmptyText) {
  Create({});
  common_.OpenDatabase();
  EXPECT_EQ(Load(), "");
  EXPECT_FALSE(common_.HasRs()) << "the load releases its recordset";
}

TEST_F(StoreTest, LoadJoinsRowsInIdOrderWithNullsAsEmptyText) {
  Create({{"b", "2"}, {"a", "1"}, {kNull, "x"}, {"y", kNull}, {"q", "a###b"}});
  ExecSql(dir_.DatabaseFile(), "update zorvrobot set id = 10 where ask = 'b'");
  common_.OpenDatabase();
  EXPECT_EQ(Load(), "a###1\r\n###x\r\ny###\r\nq###a###b\r\nb###2");
}

TEST_F(StoreTest, SaveReplacesTableWithAcceptedLinesInLineOrder) {
  Create({{"old", "row"}});
  common_.OpenDatabase();
  Save("z###1\r\n\r\nbad line\r\n  a ### b  \r\n###x\r\nq###a###b\r\n");
  EXPECT_TRUE(common_.HasRs()) << "the save closes but keeps its recordset";
  EXPECT_EQ(Dump(), "z|1\na | b\nq|a###b\n");
  EXPECT_EQ(Load(), "z###1\r\na ### b\r\nq###a###b");
}

TEST_F(StoreTest, SavingTextWithoutEntriesEmptiesTheTable) {
  for (const char* text : {"", "no separator", "\r\n\r\n", "###x\r\ny###"}) {
    Create({{"a", "b"}});
    common_.OpenDatabase();
    Save(text);
    EXPECT_EQ(Dump(), "") << text;
    common_.CloseDatabase();
    std::filesystem::remove(dir_.DatabaseFile());
  }
}

TEST_F(StoreTest, RowsAddedLaterLoadAfterEarlierOnes) {
  Create({});
  common_.OpenDatabase();
  Save("1###a\r\n2###b\r\n3###c");
  Save(Load() + "\r\n4###d");
  EXPECT_EQ(Load(), "1###a\r\n2###b\r\n3###c\r\n4###d");
}

TEST_F(StoreTest, OpenWhileOpenReopensAndCloseTwiceIsHarmless) {
  Create({{"a", "b"}});
  common_.OpenDatabase();
  common_.OpenDatabase();  // an open connection refuses to open again: it was closed first
  EXPECT_EQ(common_.Conn().State(), store::ado::adStateOpen);
  EXPECT_EQ(common_.Conn().CursorLocation(), store::ado::adUseClient);
  EXPECT_EQ(Load(), "a###b");

  common_.CloseDatabase();
  EXPECT_FALSE(common_.HasConn());
  common_.CloseDatabase();  // creates a fresh closed object and leaves it
  EXPECT_TRUE(common_.HasConn());
  EXPECT_EQ(common_.Conn().State(), store::ado::adStateClosed);
}

TEST_F(StoreTest, OpeningNeverCreatesAMissingFile) {
  EXPECT_EQ(FaultOf([&] { common_.OpenDatabase(); }), Fault::CantOpen);
  EXPECT_FALSE(std::filesystem::exists(dir_.DatabaseFile()));
  EXPECT_EQ(FaultOf([&] { common_.LoadReplyText(); }), Fault::ConnectionClosed);
  EXPECT_EQ(FaultOf([&] { Save("a###b"); }), Fault::ConnectionClosed);
}

TEST_F(StoreTest, ConnectionStringIsParsedNotGuessed) {
  Create({});
  store::ado::Connection conn;
  const std::u16string source = u"Data Source=" + dir_.DatabaseFile().u16string();
  auto fault = [&](const std::u16string& text) {
    return FaultOf([&] { conn.Open(text, u"", u"", -1); });
  };
  EXPECT_EQ(fault(u"Provider=Other;" + source), Fault::BadArgument);
  EXPECT_EQ(fault(u"Provider=Microsoft.Jet.OLEDB.4.0;Mode=Share Deny;" + source), Fault::BadArgument);
  EXPECT_EQ(fault(u"Provider=Microsoft.Jet.OLEDB.4.0;Colour=blue;" + source), Fault::BadArgument);
  EXPECT_EQ(fault(u"Provider=Microsoft.Jet.OLEDB.4.0;Mode=ReadWrite"), Fault::CantOpen);
  conn.Open(u" provider = microsoft.jet.oledb.4.0 ; mode=readwrite;" + source + u";", u"", u"", -1);
  EXPECT_EQ(conn.State(), store::ado::adStateOpen);
}

TEST_F(StoreTest, LoadOfAnUnreadableTableFailsInsteadOfReturningPartialText) {
  Create({{"a", "b"}});
  ExecSql(dir_.DatabaseFile(), "alter table zorvrobot rename to other");
  common_.OpenDatabase();
  EXPECT_EQ(FaultOf([&] { common_.LoadReplyText(); }), Fault::NoSuchTable);
  EXPECT_FALSE(common_.HasRs());
  // The store is still usable once the table is back.
  ExecSql(dir_.DatabaseFile(), "alter table other rename to zorvrobot");
  EXPECT_EQ(Load(), "a###b");
}

// Every new connection may hold values of at most 1000 bytes, like a database built with a
// small length limit.
int LimitLength(sqlite3* db, char**, const sqlite3_api_routines*) {
  sqlite3_limit(db, SQLITE_LIMIT_LENGTH, 1000);
  return SQLITE_OK;
}

// The reply table declared with an id the database does not assign, holding the same rows.
std::function<void(const std::filesystem::path&)> IdDeclaredAs(const std::string& declaration) {
  return [declaration](const std::filesystem::path& file) {
    ExecSql(file, "drop table zorvrobot; create table zorvrobot (" + declaration +
                      ", ask text, answer text); insert into zorvrobot (ask, answer) values "
                      "('keep', '1'), ('keep', '2')");
  };
}

// Each way a save can fail must leave the table exactly as it was.
TEST_F(StoreTest, FailedSaveLeavesTableUntouched) {
  const std::string text = "a###x\r\nb###y\r\nc###y\r\nd###z";
  const struct {
    const char* name;
    std::function<void(const std::filesystem::path&)> arrange;
    Fault fault;
    std::string text;
  } cases[] = {
      {"trigger refuses the third row",
       [](const std::filesystem::path& file) {
         ExecSql(file,
                 "create trigger no_c before insert on zorvrobot when new.ask = 'c' "
                 "begin select raise(abort, 'refused'); end");
       },
       Fault::Constraint, text},
      {"unique answer refuses a duplicate",
       [](const std::filesystem::path& file) {
         ExecSql(file, "create unique index one_answer on zorvrobot(answer)");
       },
       Fault::Constraint, text},
      {"extra NOT NULL column",
       [](const std::filesystem::path& file) {
         ExecSql(file, "alter table zorvrobot add column kind text not null default 'x'; "
                       "create trigger need_kind before insert on zorvrobot "
                       "begin select raise(abort, 'kind') where new.kind = 'x'; end");
       },
       Fault::Constraint, text},
      {"value over the length limit",
       [](const std::filesystem::path&) {
         sqlite3_auto_extension(reinterpret_cast<void (*)()>(LimitLength));
       },
       Fault::TooBig, "a###x\r\nb###" + std::string(1001, 'y')},
      {"id INTEGER without key", IdDeclaredAs("id INTEGER"), Fault::OrderNotKept, text},
      {"id INT PRIMARY KEY", IdDeclaredAs("id INT PRIMARY KEY"), Fault::OrderNotKept, text},
      {"id without a type", IdDeclaredAs("id"), Fault::OrderNotKept, text},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CreateReplyDatabase(dir_.DatabaseFile(), {{"keep", "1"}, {"keep", "2"}});
    c.arrange(dir_.DatabaseFile());
    const std::string dump = Dump();
    common_.OpenDatabase();
    EXPECT_EQ(FaultOf([&] { Save(c.text); }), c.fault);
    EXPECT_EQ(Dump(), dump);
    EXPECT_EQ(Load(), "keep###1\r\nkeep###2") << "the connection stays usable";
    common_.CloseDatabase();
    sqlite3_reset_auto_extension();
    std::filesystem::remove(dir_.DatabaseFile());
  }
}

// Out of memory at any point of a run's first save leaves no transaction open and the table as
// it was.
TEST_F(StoreTest, SaveRunningOutOfMemoryAnywhereChangesNothing) {
  Create({{"keep", "1"}});
  for (long allocations = 0;; ++allocations) {
    Common common(dir_.AppPath());
    common.OpenDatabase();
    bool saved = false;
    allocationsBeforeFailure = allocations;
    try {
      common.SaveReplyText(u"a###1\r\nb###2");
      saved = true;
    } catch (const std::bad_alloc&) {
    }
    allocationsBeforeFailure = -1;
    if (saved) break;
    ASSERT_TRUE(OtherCanWrite(dir_.DatabaseFile())) << "after " << allocations << " allocations";
    ASSERT_EQ(Dump(), "keep|1\n");
  }
  EXPECT_EQ(Dump(), "a|1\nb|2\n");
}

TEST_F(StoreTest, FieldsAreLookedUpByNameIgnoringCase) {
  Create({{"a", "b"}});
  common_.OpenDatabase();
  auto& rs = common_.Rs();
  rs.Open(u"select * from zorvrobot order by id asc", common_.Conn(), 1, 1, -1);
  EXPECT_EQ(rs.Fields(u"ASK").Value(), u"a");
  EXPECT_EQ(FaultOf([&] { rs.Fields(u"nope"); }), Fault::NoSuchField);
  EXPECT_EQ(FaultOf([&] { rs.AddNew(); }), Fault::BadArgument) << "read-only recordset";
  rs.MoveNext();
  EXPECT_TRUE(rs.Eof());
  EXPECT_EQ(FaultOf([&] { rs.MoveNext(); }), Fault::BadArgument);
  rs.Close();
  EXPECT_EQ(FaultOf([&] { rs.Eof(); }), Fault::BadArgument) << "a closed recordset has no EOF";
}

}  // namespace
