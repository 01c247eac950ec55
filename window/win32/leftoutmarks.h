// The marks beside Txt's rows: a pale red band in the control's left margin beside each row in
// view whose line a save would leave out. They are painted straight onto the control after it
// painted: having the control paint its margin would have it paint every row in view again.
//
// Each question that finds a place in the text costs wine's RichEdit a walk from the start of
// the text, so the marks keep the lines they last read. While the view stays where it was and
// the operator only types characters into lines below its first line, the typed characters are
// put into those lines, and the control is read again only when a line's mark would change.
//
// Error model: nothing here throws but std::bad_alloc.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "window/win32/richbox.h"

namespace window::win32 {

class LeftOutMarks {
 public:
  LeftOutMarks() = default;
  explicit LeftOutMarks(RichBox box) : box_(box) {}

  // A character typed at the selection before, where the control held lengthBefore units: it
  // counts as typing when the control took it as one unit at an empty selection.
  void Typed(CHARRANGE before, LONG lengthBefore, char16_t unit);
  // After each message to the control: whether it changed the text. Any change but the
  // character just typed has the lines read again.
  void Handled(bool textChanged);
  void Forget();                // the text changed otherwise: read the lines again
  bool InPlace() const;         // painted for the view's place as it is
  // The margin, with a band beside each line left out in view, where the control just painted
  // over the rectangle painted (all of it by default): the bands stand as they were, unpainted,
  // when the control painted none of the margin and no band moved or changed.
  void Paint(COLORREF colour, const RECT* painted = nullptr);

  // Where a line read starts and ends among the lines read, and which it is, counted from 0.
  struct Line {
    std::size_t number, start, end;
  };

 private:
  // What the marks were painted for: the control's text rectangle, scroll bar and length, the
  // whole lines from the top of the view to some way below it and where they start, where the
  // view's first line ends, the lines left out among them, and the bands painted.
  struct View {
    RECT format{};
    SCROLLINFO scroll{};
    LONG length = 0;
    LONG from = 0;
    std::u16string lines;
    LONG firstLineEnd = 0;
    std::vector<Line> leftOut;
    std::vector<RECT> bands;
  };
  View ViewNow() const;  // the rectangle, scroll bar and length: questions without a walk
  bool FollowTyping(const View& now);
  View Read(View view, HDC dc) const;
  std::vector<RECT> Bands(const View& view, int rowHeight) const;
  std::pair<LONG, std::u16string> LinesAround(LONG first, LONG last, LONG length) const;
  LONG LineStartAt(LONG at) const;  // where the line holding the control's position at starts
  LONG LineEndAt(LONG at) const;    // and where it ends: its CR, or the end

  RichBox box_;
  std::optional<View> painted_;
  std::vector<std::pair<LONG, char16_t>> typed_;  // since painted_: where, and what
  bool typedJustNow_ = false;
};

}  // namespace window::win32
