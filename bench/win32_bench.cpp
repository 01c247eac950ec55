// The Windows window's start-up and resize, each next to its floor: a plain EDIT control of Txt's
// style in a window of the same size, which gets the same text once, already at its final size.
// Start-up is from nothing to the window shown and painted with the table in it (Velmora's time
// includes opening the database and loading the table); a resize widens the shown window and
// repaints it. Run under wine by scripts/bench-windows; prints one line per figure, medians.
//
//   velmora_win32_bench DIR [REPETITIONS [COUNT...]]   makes its databases in DIR; by default the
//                                                     counts 10000, 50000 (resized) and 100000
#include "window/win32/mainform.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/benchdata.h"
#include "store/common.h"
#include "window/standins.h"

namespace {

constexpr DWORD kTxtStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL |
                            ES_WANTRETURN | ES_NOHIDESEL;

void Pump() {
  for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// The floor: a plain EDIT control, and the window it fills.
class PlainEdit {
 public:
  PlainEdit(const RECT& frame, SIZE txt, const std::u16string& text) {
    window_ = CreateWindowExW(0, L"STATIC", L"floor", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, frame.left, frame.top,
                              frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, nullptr, nullptr);
    edit_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", kTxtStyle, 0, 0, txt.cx, txt.cy, window_, nullptr,
                            nullptr, nullptr);
    SendMessageW(edit_, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    SendMessageW(edit_, EM_SETLIMITTEXT, 0, 0);
    SetWindowTextW(edit_, reinterpret_cast<const wchar_t*>(text.c_str()));
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
    Pump();
  }
  ~PlainEdit() { DestroyWindow(window_); }
  void Widen(int by) {
    RECT frame = {}, box = {};
    GetWindowRect(window_, &frame);
    GetWindowRect(edit_, &box);
    SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left + by, frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER);
    SetWindowPos(edit_, nullptr, 0, 0, box.right - box.left + by, box.bottom - box.top, SWP_NOMOVE | SWP_NOZORDER);
    UpdateWindow(window_);
    Pump();
  }

 private:
  HWND window_ = nullptr;
  HWND edit_ = nullptr;
};

double Seconds(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

struct Figures {
  double startUp, floorStartUp, resize, floorResize;
};

// One start-up of each, on the table in dir, and, if asked, one widening.
Figures Measure(const std::filesystem::path& dir, const std::u16string& shown, bool widen) {
  Figures figures{};
  store::Common common(bench::AppPath(dir));
  std::unique_ptr<window::win32::MainForm> form;
  figures.startUp = Seconds([&] {
    form = std::make_unique<window::win32::MainForm>(GetModuleHandleW(nullptr), common);
    form->Form().StartUp();
    form->Show(SW_SHOWNORMAL);
    Pump();
  });
  RECT frame = {}, txt = {};
  GetWindowRect(form->Handle(), &frame);
  GetWindowRect(form->Txt(), &txt);
  if (widen) figures.resize = Seconds([&] {
    SetWindowPos(form->Handle(), nullptr, 0, 0, frame.right - frame.left + 200, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    UpdateWindow(form->Handle());
    Pump();
  });
  form.reset();
  std::unique_ptr<PlainEdit> floor;
  figures.floorStartUp = Seconds([&] {
    floor = std::make_unique<PlainEdit>(frame, SIZE{txt.right - txt.left, txt.bottom - txt.top}, shown);
  });
  if (widen) figures.floorResize = Seconds([&] { floor->Widen(200); });
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIR [REPETITIONS [COUNT...]]\n", argv[0]);
    return 2;
  }
  const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  std::vector<int> counts = {10000, 50000, 100000};
  if (argc > 3) counts.assign(argc - 3, 0);
  for (int i = 3; i < argc; ++i) counts[static_cast<std::size_t>(i - 3)] = std::atoi(argv[i]);
  for (const int count : counts) {
    const auto entries = bench::MakeEntries(count);
    const std::filesystem::path dir = std::filesystem::path(argv[1]) / std::to_string(count);
    bench::MakeDatabase(dir, bench::Utf8Rows(entries));
    const std::u16string shown = window::StandInTrack().Show(bench::JoinEntries(entries));
    const bool widen = count == 50000;  // the resize is measured where its goal is set
    std::vector<double> startUp, floorStartUp, resize, floorResize;
    for (int run = 0; run < repetitions; ++run) {
      const Figures figures = Measure(dir, shown, widen);
      startUp.push_back(figures.startUp);
      floorStartUp.push_back(figures.floorStartUp);
      resize.push_back(figures.resize);
      floorResize.push_back(figures.floorResize);
    }
    const double start = Median(startUp), startFloor = Median(floorStartUp);
    std::printf("%-28s %9.3f s %9.3f s %7.2fx\n", ("start_up " + std::to_string(count)).c_str(), start, startFloor,
                start / startFloor);
    if (widen) {
      const double resized = Median(resize), resizedFloor = Median(floorResize);
      std::printf("%-28s %9.3f s %9.3f s %7.2fx\n", ("resize " + std::to_string(count)).c_str(), resized,
                  resizedFloor, resized / resizedFloor);
      std::printf("GOAL win32_resize_%dk: %.2f x (goal <= 1.2)\n", count / 1000, resized / resizedFloor);
    } else {
      std::printf("GOAL win32_start_up_%dk: %.2f x (goal <= 1.2)\n", count / 1000, start / startFloor);
    }
    std::fflush(stdout);
  }
  return 0;
}
