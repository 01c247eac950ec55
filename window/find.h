// Find and replace over the text a box shows, one behaviour for both windows; neither Qt nor
// Win32 is used here. A search runs over the text as shown, so a stand-in (window/standins.h) is
// found as the character it shows. Searching never changes the text; a replacement is an edit
// like typing, and replacing all is one edit that one undo takes back, the stand-ins outside the
// matches keeping the units they stand for.
//
// Error model: what the operator should hear of (nothing found, a line break asked for) is told
// through the box; a box's own failures pass through as its exceptions.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "window/standins.h"

namespace window {

struct Search {
  std::u16string what, with;  // what to find, and what replaces it
  bool matchCase = false;
  bool wholeWord = false;  // a match must not have a letter or digit right before or after it
  bool down = true;
};

// A stretch of shown text, [start, end).
struct Stretch {
  std::size_t start = 0, end = 0;
};

// The nearest match after the selection (down: starting at or after its end; up: ending at or
// before its start), wrapping once round the text; none when the text holds no match.
std::optional<Stretch> FindMatch(std::u16string_view shown, const Search& search, Stretch selection);

// Replaces every match of search in shown, from the start, and returns how many. The stand-ins
// in originals that a match covered are dropped; the others move with the text.
std::size_t ReplaceMatches(std::u16string& shown, std::vector<Original>& originals, const Search& search);

// What a box does for a search.
class SearchedBox {
 public:
  virtual ~SearchedBox() = default;
  // The text as shown, with its stand-ins; the view lasts until the box's text next changes.
  virtual std::u16string_view ShownText() = 0;
  virtual Stretch Selection() const = 0;
  virtual void Select(Stretch stretch) = 0;  // and scrolls it into view
  virtual void ReplaceSelection(std::u16string_view with) = 0;  // as if typed
  // The stand-ins shown now, and the whole text replaced by shown with those of originals, as
  // one edit.
  virtual std::vector<Original> StandIns() = 0;
  virtual void ReplaceAllText(std::u16string shown, std::vector<Original> originals) = 0;
  // A message box titled "Velmora".
  virtual void Tell(std::u16string_view message) = 0;
};

// The find and replace commands on one box, keeping the last search for find-next.
class Finder {
 public:
  explicit Finder(SearchedBox& box) : box_(box) {}

  // Each takes search as the last search, then does its work; false when it was refused or
  // found nothing, and the operator told why.
  bool FindNext(const Search& search);
  bool ReplaceOne(const Search& search);  // the selection, if it is a match, then finds the next
  bool ReplaceAll(const Search& search);
  // The last search again, down or up (F3, Shift+F3); false when there was none.
  bool FindAgain(bool down);

 private:
  bool Accept(const Search& search);
  bool SelectNext();
  bool TellNotFound();  // returns false

  SearchedBox& box_;
  Search search_;
};

}  // namespace window
