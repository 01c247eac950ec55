// Speed of load, save and display of large reply tables, each figure next to its floor: the same
// work done directly with the SQLite C API or with plain Qt calls. Every database benchmark works
// on a real file in a temporary directory.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

#include <unistd.h>

#include "bench/benchdata.h"
#include "store/common.h"
#include "store/sqlite_engine.h"
#include "window/mainform.h"
#include "window/textmapping.h"

namespace {

namespace fs = std::filesystem;

// The data of one table size, made once per run: the table's text, the same with ten lines
// edited in scattered places, and with every line edited.
struct Data {
  std::vector<replytext::ReplyEntry> entries;
  replytext::ReplyText text, edited, rewritten;
  std::vector<std::pair<std::string, std::string>> rows;
};

replytext::ReplyText EditedText(std::vector<replytext::ReplyEntry> entries, std::size_t every) {
  for (std::size_t i = every / 2; i < entries.size(); i += every) entries[i].answer += u"（改）";
  return bench::JoinEntries(entries);
}

const Data& DataOf(int count) {
  static std::map<int, std::unique_ptr<Data>> cache;
  auto& data = cache[count];
  if (!data) {
    data = std::make_unique<Data>();
    data->entries = bench::MakeEntries(count);
    data->text = bench::JoinEntries(data->entries);
    data->rows = bench::Utf8Rows(data->entries);
    data->edited = EditedText(data->entries, data->entries.size() / 10);
    data->rewritten = EditedText(data->entries, 1);
  }
  return *data;
}

fs::path TempRoot() {
  static const fs::path root = [] {
    const char* base = std::getenv("VELMORA_BENCH_DIR");
    fs::path dir = base && *base ? fs::path(base) : fs::temp_directory_path();
    dir /= "velmora-bench-" + std::to_string(::getpid());
    fs::create_directories(dir);
    return dir;
  }();
  return root;
}

// A directory holding a tarvello.db with count rows, made afresh.
fs::path FreshDatabase(const std::string& name, int count) {
  const fs::path dir = TempRoot() / (name + "-" + std::to_string(count));
  bench::MakeDatabase(dir, DataOf(count).rows);
  return dir;
}

// The database both loads read, made on first use whichever of them runs first.
fs::path LoadDatabase(int count) {
  const fs::path dir = TempRoot() / ("load-" + std::to_string(count));
  if (!fs::exists(dir / "tarvello.db")) bench::MakeDatabase(dir, DataOf(count).rows);
  return dir;
}

void SetCounters(benchmark::State& state, int count) {
  const auto bytes = static_cast<int64_t>(DataOf(count).text.size() * sizeof(char16_t));
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["rows"] = count;
}

// ---- Save: the whole text replaces the table ----

void BM_SaveFloor(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const Data& data = DataOf(count);
  const fs::path dir = FreshDatabase("save-floor", count);
  sqlite3* db = bench::OpenDatabaseFile(dir / "tarvello.db");
  sqlite3_busy_timeout(db, store::kBusyTimeoutMs);
  for (auto _ : state) bench::InsertRows(db, data.rows);
  sqlite3_close_v2(db);
  SetCounters(state, count);
}

// The floor of a save that writes every row: a prepared UPDATE of each row's texts by its id, in
// one transaction, of the same two texts in turn.
void BM_UpdateFloor(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const Data& data = DataOf(count);
  const std::vector<std::pair<std::string, std::string>> rewritten = bench::Utf8Rows(bench::ParseEntries(data.rewritten));
  const fs::path dir = FreshDatabase("update-floor", count);
  sqlite3* db = bench::OpenDatabaseFile(dir / "tarvello.db");
  bool original = true;
  for (auto _ : state) {
    original = !original;
    bench::UpdateRows(db, original ? data.rows : rewritten);
  }
  sqlite3_close_v2(db);
  SetCounters(state, count);
}

// Velmora's save of a text that differs from the table in no line, in ten, or in every line:
// each pass saves the other of two texts, so that every pass has the same difference to write.
// With another writer, a second connection changes ten other rows before each save (not timed),
// so that the save must read the table to find what it wrote.
void RunSave(benchmark::State& state, const replytext::ReplyText Data::*other, bool otherWriter = false) {
  const int count = static_cast<int>(state.range(0));
  const Data& data = DataOf(count);
  const fs::path dir = FreshDatabase("save", count);
  store::Common common(bench::AppPath(dir));
  common.LoadReplyText();
  sqlite3* writer = otherWriter ? bench::OpenDatabaseFile(dir / "tarvello.db") : nullptr;
  bool original = true;
  for (auto _ : state) {
    original = !original;
    if (writer) {
      state.PauseTiming();
      bench::EditTenRows(writer, count, original);
      state.ResumeTiming();
    }
    common.SaveReplyText(original ? data.text : data.*other);
  }
  if (writer) sqlite3_close_v2(writer);
  common.CloseDatabase();
  SetCounters(state, count);
}
void BM_SaveUnchanged(benchmark::State& state) { RunSave(state, &Data::text); }
void BM_SaveEdited(benchmark::State& state) { RunSave(state, &Data::edited); }
void BM_SaveEditedOtherWriter(benchmark::State& state) { RunSave(state, &Data::edited, true); }
void BM_SaveRewritten(benchmark::State& state) { RunSave(state, &Data::rewritten); }

// ---- Load: the whole table as one text ----

void BM_LoadFloor(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const fs::path dir = LoadDatabase(count);
  sqlite3* db = bench::OpenDatabaseFile(dir / "tarvello.db");
  for (auto _ : state) {
    sqlite3_stmt* select = nullptr;
    bench::Check(db, sqlite3_prepare_v2(db, "select * from zorvrobot order by id asc", -1, &select, nullptr),
                 "prepare");
    std::u16string text;
    while (sqlite3_step(select) == SQLITE_ROW) {
      if (!text.empty()) text.append(u"\r\n");
      const auto* ask = reinterpret_cast<const char*>(sqlite3_column_text(select, 1));
      store::AppendUtf8AsUtf16({ask, static_cast<std::size_t>(sqlite3_column_bytes(select, 1))}, text);
      text.append(u"###");
      const auto* answer = reinterpret_cast<const char*>(sqlite3_column_text(select, 2));
      store::AppendUtf8AsUtf16({answer, static_cast<std::size_t>(sqlite3_column_bytes(select, 2))}, text);
    }
    sqlite3_finalize(select);
    benchmark::DoNotOptimize(text.data());
  }
  sqlite3_close_v2(db);
  SetCounters(state, count);
}

void BM_Load(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const fs::path dir = LoadDatabase(count);
  store::Common common(bench::AppPath(dir));
  common.OpenDatabase();
  for (auto _ : state) {
    replytext::ReplyText text = common.LoadReplyText();
    benchmark::DoNotOptimize(text.data());
  }
  common.CloseDatabase();
  SetCounters(state, count);
}

// ---- The text format alone: split, parse every line, join the entries again ----

void BM_ParseJoin(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const Data& data = DataOf(count);
  for (auto _ : state) {
    replytext::ReplyText joined;
    for (const std::u16string_view line : replytext::SplitReplyText(data.text)) {
      const std::optional<replytext::ReplyEntryView> entry = replytext::ParseReplyLine(line);
      if (entry) replytext::AppendReplyLine(joined, entry->ask, entry->answer);
    }
    benchmark::DoNotOptimize(joined.data());
  }
  SetCounters(state, count);
}

// ---- The text box: assigning the loaded text and reading it back for a save ----

// A shown text box: Qt's own for the floor, Velmora's (which also marks the lines a save would
// leave out, and picks how to wrap) for the subject.
template <typename Box = QPlainTextEdit>
std::unique_ptr<QPlainTextEdit> ShownBox() {
  auto box = std::make_unique<Box>();
  box->resize(620, 400);
  box->show();
  QApplication::processEvents();
  return box;
}

void BM_TextBoxFloor(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const Data& data = DataOf(count);
  auto box = ShownBox();
  for (auto _ : state) {
    box->setPlainText(QString::fromUtf16(data.text.data(), static_cast<qsizetype>(data.text.size())));
    QApplication::processEvents();
    const std::u16string back = box->toPlainText().toStdU16String();
    benchmark::DoNotOptimize(back.data());
  }
  SetCounters(state, count);
}

void BM_TextBox(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const Data& data = DataOf(count);
  auto box = ShownBox<window::ReplyTextBox>();
  for (auto _ : state) {
    window::SetReplyText(*box, data.text);
    QApplication::processEvents();
    const std::u16string back = window::ReplyTextOf(*box);
    benchmark::DoNotOptimize(back.data());
  }
  SetCounters(state, count);
}

// ---- One line of a megabyte ----

// A line of 1M units: a run without spaces (a URL list, Base64) if unbreakable, else words.
std::u16string LongLine(bool unbreakable) {
  std::u16string line = u"q###";
  while (line.size() < (1u << 20)) line += unbreakable ? u"abcdefghij" : u"abcd efghi";
  return line;
}

// The line shown in the text box, then one key typed in its middle.
void BM_LongLine(benchmark::State& state) {
  const std::u16string line = LongLine(state.range(0) == 1);
  auto box = ShownBox<window::ReplyTextBox>();
  for (auto _ : state) {
    window::SetReplyText(*box, line);
    QApplication::processEvents();
    QTextCursor middle(box->document());
    middle.setPosition(static_cast<int>(line.size() / 2));
    box->setTextCursor(middle);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QApplication::sendEvent(box.get(), &press);
    QApplication::processEvents();
  }
  state.SetLabel(state.range(0) == 1 ? "unbreakable" : "words");
}

// ---- Typing one character into the loaded window ----

// The time of one key press and release in the middle of the text, including the editor's change
// handler and the repaint that follows. Floor: the same key in a one-line text.
void BM_Keystroke(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const fs::path dir = FreshDatabase("keystroke", count);
  store::Common common(bench::AppPath(dir));
  window::MainForm form(common);
  form.Form().StartUp();
  form.show();
  QApplication::processEvents();
  QTextCursor cursor(form.Txt().document()->findBlockByNumber(count / 2));
  cursor.movePosition(QTextCursor::EndOfBlock);
  form.Txt().setTextCursor(cursor);
  form.Txt().setFocus();
  QApplication::processEvents();
  for (auto _ : state) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QApplication::sendEvent(&form.Txt(), &press);
    QApplication::sendEvent(&form.Txt(), &release);
    QApplication::processEvents();
  }
  if (!form.Form().Modified()) state.SkipWithError("the key press did not reach the editor");
  common.CloseDatabase();
  state.counters["rows"] = count;
}

// ---- Find and replace in the window ----

// The window with its messages answered at once, showing text.
std::unique_ptr<window::MainForm> SearchedWindow(store::Common& common, const std::u16string& text) {
  auto form = std::make_unique<window::MainForm>(common);
  form->messageHook = [](auto&&...) { return editor::vbOK; };
  form->show();
  window::SetReplyText(form->Txt(), text);
  QApplication::processEvents();
  return form;
}

// Every answer's "（改）" (once in each) replaced by "（新）" with Replace All. Floor: the same
// box given the replaced text once.
const std::u16string& ReplacedText(int count) {
  static std::map<int, std::u16string> cache;
  std::u16string& text = cache[count];
  if (text.empty()) {
    text = DataOf(count).rewritten;
    for (std::size_t at = text.find(u"（改）"); at != std::u16string::npos; at = text.find(u"（改）", at + 3))
      text.replace(at, 3, u"（新）");
  }
  return text;
}

void BM_ReplaceAllFloor(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  store::Common common(u"/nonexistent");
  const auto form = SearchedWindow(common, u"");
  for (auto _ : state) {
    window::SetReplyText(form->Txt(), ReplacedText(count));
    QApplication::processEvents();
  }
  SetCounters(state, count);
}

void BM_ReplaceAll(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  store::Common common(u"/nonexistent");
  const auto form = SearchedWindow(common, u"");
  window::Search search;
  search.what = u"（改）", search.with = u"（新）";
  for (auto _ : state) {
    state.PauseTiming();
    window::SetReplyText(form->Txt(), DataOf(count).rewritten);
    QApplication::processEvents();
    state.ResumeTiming();
    form->Searches().ReplaceAll(search);
    QApplication::processEvents();
  }
  if (form->Text() != ReplacedText(count)) state.SkipWithError("Replace All did not give the replaced text");
  SetCounters(state, count);
}

// A find from the top to the only match, in the last line, selected and scrolled into view: with
// the text as at the last search (argument 0), and just after a change to it (1), when the window
// first copies the text it searches.
void BM_FindNext(benchmark::State& state) {
  constexpr int kCount = 1000000;
  store::Common common(u"/nonexistent");
  const auto form = SearchedWindow(common, DataOf(kCount).text + u"\r\n最后###热线号码已更改");
  window::Search search;
  search.what = u"热线号码";
  form->Searches().FindNext(search);
  for (auto _ : state) {
    state.PauseTiming();
    QTextCursor top(form->Txt().document());
    if (state.range(0) == 1) top.insertText(QStringLiteral("x")), top.deletePreviousChar();
    form->Txt().setTextCursor(top);
    QApplication::processEvents();
    state.ResumeTiming();
    form->Searches().FindNext(search);
    QApplication::processEvents();
  }
  if (form->Txt().textCursor().selectedText() != QStringLiteral("热线号码")) state.SkipWithError("no match selected");
  state.SetLabel(state.range(0) == 1 ? "after a change" : "text as at the last search");
}

// A million rows takes seconds per pass: those are measured a few times only.
#define VELMORA_PAIR(floor, subject, large)                                                 \
  BENCHMARK(floor)->Unit(benchmark::kMillisecond)->UseRealTime()->Arg(10000)->Arg(100000); \
  BENCHMARK(subject)->Unit(benchmark::kMillisecond)->UseRealTime()->Arg(10000)->Arg(100000); \
  BENCHMARK(floor)->Unit(benchmark::kMillisecond)->UseRealTime()->Arg(1000000)->Iterations(large); \
  BENCHMARK(subject)->Unit(benchmark::kMillisecond)->UseRealTime()->Arg(1000000)->Iterations(large)

VELMORA_PAIR(BM_SaveFloor, BM_SaveEdited, 2);
VELMORA_PAIR(BM_SaveEditedOtherWriter, BM_SaveUnchanged, 2);
VELMORA_PAIR(BM_UpdateFloor, BM_SaveRewritten, 2);
VELMORA_PAIR(BM_LoadFloor, BM_Load, 2);
BENCHMARK(BM_ParseJoin)->Unit(benchmark::kMillisecond)->Arg(10000)->Arg(100000);
BENCHMARK(BM_ParseJoin)->Unit(benchmark::kMillisecond)->Arg(1000000)->Iterations(3);
VELMORA_PAIR(BM_TextBoxFloor, BM_TextBox, 2);
VELMORA_PAIR(BM_ReplaceAllFloor, BM_ReplaceAll, 2);
BENCHMARK(BM_FindNext)->Unit(benchmark::kMillisecond)->UseRealTime()->Arg(0)->Arg(1)->Iterations(5);
BENCHMARK(BM_LongLine)->Unit(benchmark::kMillisecond)->UseRealTime()->Arg(0)->Arg(1)->Iterations(3);
BENCHMARK(BM_Keystroke)->Unit(benchmark::kMicrosecond)->UseRealTime()->Arg(10000)->Arg(100000)->Arg(1000000)
    ->Iterations(300);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  fs::remove_all(TempRoot(), ignored);
  return 0;
}
