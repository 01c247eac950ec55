// The code units of reply text that a text box cannot show as they are, the visible stand-ins
// both windows show for them, and (for a box that holds plain characters only) where those
// stand-ins are, followed through the operator's edits; and where text pasted from another
// program breaks its lines. Neither Qt nor Win32 is used here.
//
// A box shows one line per CR LF. A lone CR or LF, a NUL, U+2028, U+2029, the frame marks
// U+FDD0/U+FDD1 and a surrogate that is not half of a pair (also the escape of a stored byte that
// is not text) are shown as ␍, ␊, ␀, ␤, ¶ and � respectively. A stand-in character that was
// typed, pasted or stored as such stays what it is: only the places a text was shown with
// stand-ins give back the original units.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace window {

// The stand-in shown for unit.
char16_t StandIn(char16_t unit);

// A stand-in in a shown text, and the code unit it stands for.
struct Original {
  std::size_t position;
  char16_t unit;
};

// Turns reply text, in place, into the text a box shows: each unit that needs one becomes its
// stand-in, and each CR LF becomes lineBreak (u"\n" or u"\r\n"), so the shown text is never
// longer. Returns the stand-ins, in order.
std::vector<Original> ShowStandIns(std::u16string& text, std::u16string_view lineBreak);

// Text pasted from another program, with each of its line ends (CR LF, LF, CR, U+2028, U+2029)
// as CR LF: each breaks the line where it was copied, so it does in the box too.
std::u16string PastedLines(std::u16string_view text);

// The stand-ins of a box holding plain characters, followed through its edits.
class StandInTrack {
 public:
  // Takes reply text to be shown; returns the shown text (CR LF kept as it is).
  std::u16string Show(std::u16string text);

  // The box's text after an edit, which changed nothing before position editFrom (npos where
  // that is not known, as for an undo). A text the box held after one of the last kTextsKept
  // edits followed gets back the stand-ins it had then: an undo or a redo returns to one. Other
  // edits drop the stand-ins they replaced, putting them aside until an edit puts the text they
  // were in back in its place (an undo of an edit older than those); those after it move with
  // the text. added are the stand-ins the edit put in (a paste of reply text), at their places
  // in shown.
  void Follow(std::u16string shown, std::size_t editFrom, std::vector<Original> added = {});

  // The box's text after one edit that changed all of it, leaving originals as its stand-ins,
  // in order (a replace of every match knows them); those it replaced return on an undo.
  void Replace(std::u16string shown, std::vector<Original> originals);

  // The stand-ins of shown, the box's present text, in order.
  std::vector<Original> Originals(std::u16string_view shown) const;

  // The reply text of shown, the box's present text: its stand-ins give back their units.
  std::u16string Restore(std::u16string shown) const;

  // Whether there is nothing to follow.
  bool Empty() const { return originals_.empty() && replaced_.empty() && !textsHadStandIns_; }

  // How many of the edits that replaced stand-ins are kept aside, at most: as many steps as the
  // box's undo history holds; and how many texts are known again, with how many stand-ins in all.
  static constexpr std::size_t kEditsKept = 1000;
  static constexpr std::size_t kTextsKept = 10000, kTextStandInsKept = std::size_t{1} << 22;

 private:
  // What an edit that replaced stand-ins replaced: its place, its text, and its stand-ins
  // (positions counted from the place).
  struct Replaced {
    std::size_t from = 0;
    std::u16string text;
    std::vector<Original> originals;
  };

  // The stand-ins of the edit the text from..newEnd of shown takes back, if it is one put aside:
  // the newest first, as undos take edits back. Removes it from those put aside.
  std::vector<Original> TakeBack(const std::u16string& shown, std::size_t from, std::size_t newEnd);

  // A text the box held, known by a 128-bit hash of its units (equal hashes are taken for equal
  // texts, at 2^-128 a pair), and its stand-ins then.
  struct KnownText {
    std::uint64_t low = 0, high = 0;
    std::vector<Original> originals;
  };
  static KnownText Know(std::u16string_view shown);
  // Makes the present text and stand-ins the newest known, forgetting the oldest beyond the bounds.
  void Remember(KnownText known);

  std::vector<Original> originals_;
  std::vector<Replaced> replaced_;  // oldest first
  std::deque<KnownText> texts_;     // oldest first
  std::size_t textStandIns_ = 0;    // how many stand-ins texts_ holds
  bool textsHadStandIns_ = false;   // whether a text known since the last Show had stand-ins
  std::u16string shown_;  // the box's text as last shown or followed, held only while not Empty()
};

}  // namespace window
