// The Windows window's speed, each figure beside its floor: a bare RichEdit control in plain-text
// mode, of Txt's style in a window of the same size, which gets the same text once, already at
// its final size; and, for comparison, the plain EDIT control the window used before.
//   start-up   from nothing to the window shown and painted with the table in it (Velmora's time
//              includes opening the database and loading the table)
//   key        one character typed at the end of the text, shown (Velmora's marks kept up to date)
//   resize     the shown window widened and painted again
//   reload     "重新加载" in a window that already shows the table
// Each measurement runs in a process of its own, so that no control's leftovers slow the next.
// The tables are the benchmarks' usual ones with each full-width comma and question mark made an
// ideograph: given a whole text in one message, as the floor is, wine's RichEdit takes time
// growing with the square of the text over full-width punctuation (about 4 s at 20,000 such
// entries, 22 s at 30,000, where plain ideographs take 1 and 4), which would make the floor at
// 100,000 entries take most of an hour.
// Run under wine by scripts/bench-windows; prints one line per figure, medians, then the goals.
//
//   velmora_win32_bench DIR [REPETITIONS]   every measurement, its databases made in DIR
//   velmora_win32_bench DIR KIND COUNT      one: KIND is velmora, richedit or edit; prints its
//                                           figures as "name seconds" lines
#include "window/win32/mainform.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/benchdata.h"
#include "store/common.h"
#include "window/standins.h"

namespace {

constexpr DWORD kTxtStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL |
                            ES_WANTRETURN | ES_NOHIDESEL;
constexpr int kKeys = 101;       // typed keys, of which the median counts
constexpr int kResizeCount = 50000;

void Pump() {
  for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

double Seconds(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// The median time of a key typed at the end of box's text, shown in window.
double KeyAtTheEnd(HWND window, HWND box) {
  SendMessageW(box, EM_SETSEL, static_cast<WPARAM>(-1), -1);
  SendMessageW(box, EM_SCROLLCARET, 0, 0);
  UpdateWindow(window);
  Pump();
  std::vector<double> keys;
  for (int key = 0; key < kKeys; ++key)
    keys.push_back(Seconds([&] {
      SendMessageW(box, WM_CHAR, u'答', 1);
      UpdateWindow(window);
      Pump();
    }));
  return Median(keys);
}

void Widen(HWND window, HWND box, int by) {
  RECT frame = {}, inner = {};
  GetWindowRect(window, &frame);
  GetWindowRect(box, &inner);
  SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left + by, frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER);
  SetWindowPos(box, nullptr, 0, 0, inner.right - inner.left + by, inner.bottom - inner.top, SWP_NOMOVE | SWP_NOZORDER);
  UpdateWindow(window);
  Pump();
}

// A floor: a bare control of the kind given, and the window it fills, at Velmora's sizes.
class Floor {
 public:
  Floor(const wchar_t* kind, const RECT& frame, SIZE box, const std::u16string& text) {
    window_ = CreateWindowExW(0, L"STATIC", L"floor", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, frame.left, frame.top,
                              frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, nullptr, nullptr);
    box_ = CreateWindowExW(WS_EX_CLIENTEDGE, kind, L"", kTxtStyle, 0, 0, box.cx, box.cy, window_, nullptr, nullptr, nullptr);
    if (std::wstring_view(kind) == MSFTEDIT_CLASS) {
      SendMessageW(box_, EM_SETTEXTMODE, TM_PLAINTEXT | TM_MULTILEVELUNDO | TM_MULTICODEPAGE, 0);
      SendMessageW(box_, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
    } else {
      SendMessageW(box_, EM_SETLIMITTEXT, 0, 0);
    }
    SendMessageW(box_, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    SetWindowTextW(box_, reinterpret_cast<const wchar_t*>(text.c_str()));
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
    Pump();
    SetFocus(box_);  // typed into, it shows a caret as Txt does (about 1 ms a key under wine)
  }
  ~Floor() { DestroyWindow(window_); }
  HWND Window() const { return window_; }
  HWND Box() const { return box_; }

 private:
  HWND window_ = nullptr;
  HWND box_ = nullptr;
};

std::filesystem::path TableDir(const std::filesystem::path& dir, int count) { return dir / std::to_string(count); }

std::vector<replytext::ReplyEntry> Entries(int count) {
  std::vector<replytext::ReplyEntry> entries = bench::MakeEntries(count);
  for (auto& entry : entries)
    for (std::u16string* text : {&entry.ask, &entry.answer})
      for (char16_t& unit : *text)
        if (unit == u'，' || unit == u'？') unit = unit == u'，' ? u'的' : u'吗';
  return entries;
}

// The figures of one kind of window at count entries, printed as "name seconds" lines.
void Measure(const std::filesystem::path& dir, const std::string& kind, int count) {
  const bool typed = count != kResizeCount, resized = count == kResizeCount, reloaded = count >= 100000;
  if (!std::filesystem::exists(TableDir(dir, count)))  // run on its own
    bench::MakeDatabase(TableDir(dir, count), bench::Utf8Rows(Entries(count)));
  store::Common common(bench::AppPath(TableDir(dir, count)));
  auto form = std::make_unique<window::win32::MainForm>(GetModuleHandleW(nullptr), common);
  if (kind == "velmora") {
    std::printf("startup %.6f\n", Seconds([&] {
                  form->Form().StartUp();
                  form->Show(SW_SHOWNORMAL);
                  Pump();
                }));
    if (typed) std::printf("key %.6f\n", KeyAtTheEnd(form->Handle(), form->Txt()));
    if (resized) std::printf("resize %.6f\n", Seconds([&] { Widen(form->Handle(), form->Txt(), 200); }));
    if (reloaded)
      std::printf("reload %.6f\n", Seconds([&] {
                    form->Form().LinkClick(0);
                    UpdateWindow(form->Handle());
                    Pump();
                  }));
    return;
  }
  // The floor takes the sizes the window gives Txt, then the window goes before the floor starts.
  RECT frame = {}, box = {};
  GetWindowRect(form->Handle(), &frame);
  GetWindowRect(form->Txt(), &box);
  form.reset();
  const std::u16string shown = window::StandInTrack().Show(bench::JoinEntries(Entries(count)));
  std::unique_ptr<Floor> floor;
  std::printf("startup %.6f\n", Seconds([&] {
                floor = std::make_unique<Floor>(kind == "edit" ? L"EDIT" : MSFTEDIT_CLASS, frame,
                                                SIZE{box.right - box.left, box.bottom - box.top}, shown);
              }));
  if (typed && kind != "edit") std::printf("key %.6f\n", KeyAtTheEnd(floor->Window(), floor->Box()));
  if (resized) std::printf("resize %.6f\n", Seconds([&] { Widen(floor->Window(), floor->Box(), 200); }));
}

// Runs this program again for one measurement and gives its figures by name.
std::map<std::string, double> MeasureApart(const std::filesystem::path& dir, const std::string& kind, int count) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::filesystem::path output = dir / ("figures-" + kind + "-" + std::to_string(count) + ".txt");
  const std::wstring command = L"\"" + std::wstring(self) + L"\" \"" + dir.wstring() + L"\" " +
                               std::wstring(kind.begin(), kind.end()) + L" " + std::to_wstring(count);
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  const HANDLE file = CreateFileW(output.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = file;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  std::wstring line = command;
  if (file == INVALID_HANDLE_VALUE ||
      !CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "cannot run a measurement (error %lu)\n", GetLastError());
    std::exit(1);
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  CloseHandle(file);
  std::map<std::string, double> figures;
  std::ifstream read(output);
  for (std::string name; read >> name;) read >> figures[name];
  return figures;
}

// The figures of one kind of window by name, each the median of its repetitions.
struct Series {
  std::map<std::string, std::vector<double>> of;
  double operator()(const std::string& name) const { return Median(of.at(name)); }
};

void Report(const std::map<std::string, Series>& by, int count) {
  const auto key = [count](const std::string& kind) { return kind + std::to_string(count); };
  const Series &velmora = by.at(key("velmora")), &richedit = by.at(key("richedit")), &edit = by.at(key("edit"));
  const std::string k = std::to_string(count / 1000) + "k";
  const auto line = [&](const std::string& figure, const char* unit, double scale) {
    char old[32] = "-";  // the EDIT control's figure, where it was measured
    if (edit.of.count(figure)) std::snprintf(old, sizeof old, "%9.3f %s", edit(figure) * scale, unit);
    std::printf("%-14s %9.3f %s  RichEdit %9.3f %s  EDIT %s\n", (figure + " " + k).c_str(), velmora(figure) * scale,
                unit, richedit(figure) * scale, unit, old);
  };
  if (count == kResizeCount) {
    line("resize", "s", 1);
    std::printf("GOAL win32_resize_%s: %.2f x (goal <= 1.2)\n", k.c_str(), velmora("resize") / richedit("resize"));
    return;
  }
  line("startup", "s", 1);
  line("key", "ms", 1000);
  std::printf("GOAL win32_startup_%s: %.2f x (goal <= 1.2)\n", k.c_str(), velmora("startup") / richedit("startup"));
  std::printf("GOAL win32_keystroke_%s: %.2f x, %.1f ms (goal <= 1.3 x%s)\n", k.c_str(), velmora("key") / richedit("key"),
              velmora("key") * 1000, count >= 100000 ? ", <= 16 ms" : "");
  if (count >= 100000) {
    std::printf("%-18s %9.3f s\n", ("reload " + k).c_str(), velmora("reload"));
    std::printf("GOAL win32_reload_%s: %.2f x the start-up (goal <= 1.2)\n", k.c_str(), velmora("reload") / velmora("startup"));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIR [REPETITIONS] | DIR KIND COUNT\n", argv[0]);
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // each figure as soon as it is measured
  const std::filesystem::path dir = argv[1];
  if (argc == 4) return Measure(dir, argv[2], std::atoi(argv[3])), 0;
  const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
  for (const int count : {10000, kResizeCount, 100000}) {
    bench::MakeDatabase(TableDir(dir, count), bench::Utf8Rows(Entries(count)));
    std::map<std::string, Series> by;
    // A key at 10,000 entries takes 1.5 to 3.7 ms from one process to the next, each a median of
    // 101 keys: those processes, seconds each, run five times.
    const int runs = count == 10000 ? std::max(repetitions, 5) : repetitions;
    for (int run = 0; run < runs; ++run)
      for (const std::string kind : {"velmora", "richedit", "edit"}) {
        if (kind == "edit" && (count > 10000 || run >= repetitions)) continue;  // minutes under wine beyond that
        for (const auto& [name, seconds] : MeasureApart(dir, kind, count)) by[kind + std::to_string(count)].of[name].push_back(seconds);
      }
    by.emplace("edit" + std::to_string(count), Series{});
    Report(by, count);
    std::fflush(stdout);
  }
  return 0;
}
