#include "window/win32/leftoutmarks.h"

#include <algorithm>
#include <tuple>

#include "replytext/replytext.h"

namespace window::win32 {

namespace {

constexpr std::size_t kTypedKept = 256;  // typed characters followed between two paints
constexpr LONG kPiece = 4096;  // a line's end is looked for in pieces: a line may be long

// The lines of text, split at CR, that a save would leave out. Stand-ins are neither spaces nor
// '#', so a shown line reads as its reply text does.
std::vector<LeftOutMarks::Line> LeftOutIn(std::u16string_view lines) {
  std::vector<LeftOutMarks::Line> leftOut;
  std::size_t number = 0;
  for (std::size_t start = 0; start <= lines.size(); ++number) {
    const std::size_t end = std::min(lines.find(u'\r', start), lines.size());
    if (replytext::IsLeftOut(lines.substr(start, end - start))) leftOut.push_back({number, start, end});
    start = end + 1;
  }
  return leftOut;
}

bool SameLines(const std::vector<LeftOutMarks::Line>& one, const std::vector<LeftOutMarks::Line>& other) {
  return std::equal(one.begin(), one.end(), other.begin(), other.end(),
                    [](const auto& a, const auto& b) { return a.number == b.number; });
}

bool SameRows(const SCROLLINFO& one, const SCROLLINFO& other) {
  return one.nPos == other.nPos && one.nMin == other.nMin && one.nMax == other.nMax && one.nPage == other.nPage;
}

LONG MarginRight(const RECT& format) { return std::max<LONG>(1, format.left - 1); }

}  // namespace

void LeftOutMarks::Typed(CHARRANGE before, LONG lengthBefore, char16_t unit) {
  const CHARRANGE after = box_.Selection();
  typedJustNow_ = before.cpMin == before.cpMax && after.cpMin == before.cpMin + 1 && after.cpMax == after.cpMin &&
                  box_.Length() == lengthBefore + 1 && typed_.size() < kTypedKept;
  if (typedJustNow_) typed_.emplace_back(before.cpMin, unit);
}

void LeftOutMarks::Handled(bool textChanged) {
  if (!std::exchange(typedJustNow_, false) && textChanged) Forget();
}

void LeftOutMarks::Forget() {
  painted_.reset();
  typed_.clear();
  typedJustNow_ = false;
}

bool LeftOutMarks::InPlace() const { return painted_ && GetScrollPos(box_.Handle(), SB_VERT) == painted_->scroll.nPos; }

void LeftOutMarks::Paint(COLORREF colour, const RECT* painted) {
  const View now = ViewNow();
  const bool followed = FollowTyping(now);
  typed_.clear();
  if (followed && painted && painted->left >= MarginRight(now.format)) return;
  const HDC dc = GetDC(box_.Handle());
  if (!dc) return Forget();
  if (!followed) painted_ = Read(now, dc);
  const RECT margin = {0, now.format.top, MarginRight(now.format), now.format.bottom};
  FillRect(dc, &margin, GetSysColorBrush(COLOR_WINDOW));  // the marks of lines since mended go
  const HBRUSH band = CreateSolidBrush(colour);
  for (const RECT& mark : painted_->bands) FillRect(dc, &mark, band);
  DeleteObject(band);
  ReleaseDC(box_.Handle(), dc);
}

LeftOutMarks::View LeftOutMarks::ViewNow() const {
  View view;
  box_.Ask(EM_GETRECT, 0, reinterpret_cast<LPARAM>(&view.format));
  view.scroll.cbSize = sizeof view.scroll;
  view.scroll.fMask = SIF_POS | SIF_RANGE | SIF_PAGE;
  GetScrollInfo(box_.Handle(), SB_VERT, &view.scroll);
  view.length = box_.Length();
  return view;
}

// True when the bands painted still stand beside the lines left out: the view is where it was,
// and nothing changed but characters typed below the view's first line that left every line as
// it was marked. The lines read then hold those characters.
bool LeftOutMarks::FollowTyping(const View& now) {
  if (!painted_ || !EqualRect(&now.format, &painted_->format) || !SameRows(now.scroll, painted_->scroll) ||
      now.length != painted_->length + static_cast<LONG>(typed_.size()))
    return false;
  if (typed_.empty()) return true;
  // A row more or fewer shows in the scroll bar's range only while the bar has something to scroll.
  if (now.scroll.nMax - now.scroll.nMin + 1 <= static_cast<int>(now.scroll.nPage)) return false;
  std::u16string lines = painted_->lines;
  for (const auto& [at, unit] : typed_) {
    if (at <= painted_->firstLineEnd) return false;  // the view's first row may start elsewhere now
    if (at <= painted_->from + static_cast<LONG>(lines.size()))
      lines.insert(static_cast<std::size_t>(at - painted_->from), 1, unit);
  }
  std::vector<Line> leftOut = LeftOutIn(lines);
  if (!SameLines(leftOut, painted_->leftOut)) return false;
  painted_->lines = std::move(lines);
  painted_->leftOut = std::move(leftOut);
  painted_->length = now.length;
  return true;
}

// The lines from the character at the view's top left to as many characters further as the view
// could show were each half as wide as the font's average: one walk through the control's text to
// find it, one to read.
LeftOutMarks::View LeftOutMarks::Read(View view, HDC dc) const {
  const HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));  // Txt's font
  TEXTMETRICW font = {};
  GetTextMetricsW(dc, &font);
  SelectObject(dc, oldFont);
  POINTL corner = {view.format.left, view.format.top};
  const auto first = static_cast<LONG>(box_.Ask(EM_CHARFROMPOS, 0, reinterpret_cast<LPARAM>(&corner)));
  const LONG perRow = (view.format.right - view.format.left) / std::max<LONG>(2, font.tmAveCharWidth / 2);
  const LONG inView = perRow * ((view.format.bottom - view.format.top) / std::max<LONG>(1, font.tmHeight) + 1);
  std::tie(view.from, view.lines) = LinesAround(first, std::min(view.length, first + inView), view.length);
  const std::size_t firstLineEnd = view.lines.find(u'\r', static_cast<std::size_t>(first - view.from));
  view.firstLineEnd = view.from + static_cast<LONG>(std::min(firstLineEnd, view.lines.size()));
  view.leftOut = LeftOutIn(view.lines);
  view.bands = Bands(view, font.tmHeight + font.tmExternalLeading);
  return view;
}

// From the top of each line's first row to the top of the next line's, or for the last line, to
// a row's height below the top of its own last row.
std::vector<RECT> LeftOutMarks::Bands(const View& view, int rowHeight) const {
  std::vector<RECT> bands;
  for (const Line& line : view.leftOut) {
    const LONG start = view.from + static_cast<LONG>(line.start), end = view.from + static_cast<LONG>(line.end);
    POINTL top = {}, bottom = {};
    box_.Ask(EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&top), start);
    if (top.y >= view.format.bottom) break;  // this line and those after it are below the view
    box_.Ask(EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&bottom), end < view.length ? end + 1 : end);
    if (end >= view.length) bottom.y += rowHeight;
    bands.push_back({0, std::max(top.y, view.format.top), MarginRight(view.format), std::min(bottom.y, view.format.bottom)});
  }
  return bands;
}

LONG LeftOutMarks::LineStartAt(LONG at) const {
  for (LONG end = at; end > 0;) {
    const LONG start = std::max<LONG>(0, end - kPiece);
    const std::u16string piece = box_.Text(start, end);
    if (const std::size_t cr = piece.rfind(u'\r'); cr != std::u16string::npos) return start + static_cast<LONG>(cr) + 1;
    end = start;
  }
  return 0;
}

LONG LeftOutMarks::LineEndAt(LONG at) const {
  const LONG length = box_.Length();
  for (LONG start = at; start < length; start += kPiece) {
    const std::u16string piece = box_.Text(start, std::min(length, start + kPiece));
    if (const std::size_t cr = piece.find(u'\r'); cr != std::u16string::npos) return start + static_cast<LONG>(cr);
  }
  return length;
}

std::pair<LONG, std::u16string> LeftOutMarks::LinesAround(LONG first, LONG last, LONG length) const {
  // Read at once with some text around them, which holds their ends unless a line is very long:
  // each read costs the control a walk from the start of the text.
  constexpr LONG kAround = 512;
  const LONG from = std::max<LONG>(0, first - kAround), to = std::min(length, last + kAround);
  const std::u16string text = box_.Text(from, to);
  const std::size_t before = first > from ? text.rfind(u'\r', static_cast<std::size_t>(first - from - 1)) : std::u16string::npos;
  const std::size_t after = last < to ? text.find(u'\r', static_cast<std::size_t>(last - from)) : std::u16string::npos;
  const LONG start = before != std::u16string::npos ? from + static_cast<LONG>(before) + 1 : from > 0 ? LineStartAt(from) : 0;
  const LONG end = after != std::u16string::npos ? from + static_cast<LONG>(after) : to < length ? LineEndAt(to) : length;
  if (start < from || end > to) return {start, box_.Text(start, end)};
  return {start, text.substr(static_cast<std::size_t>(start - from), static_cast<std::size_t>(end - start))};
}

}  // namespace window::win32
