#include "window/find.h"

#include <algorithm>

namespace window {

namespace {

// A unit's simple small letter, in the scripts whose letters have two cases that operators type:
// Latin, Greek, Cyrillic, and the full-width Latin of East Asian keyboards. Others stay as they are.
char16_t Fold(char16_t c) {
  if (c < 0x80) return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
      (c >= 0x410 && c <= 0x42F) || (c >= 0xFF21 && c <= 0xFF3A))
    return static_cast<char16_t>(c + 32);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
  // Latin Extended-A pairs its cases, the capital first.
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return static_cast<char16_t>(c | 1);
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return static_cast<char16_t>(c + (c & 1));
  return c;
}

// The capital of a small letter c, or c where it has none (the inverse of Fold's shifts).
char16_t OtherCase(char16_t c) {
  for (const int shift : {32, 80, 1}) {
    const auto capital = static_cast<char16_t>(c - shift);
    if (capital != c && Fold(capital) == c) return capital;
  }
  return c;
}

// Letters and digits of every script above, CJK characters, kana and hangul, and "_".
bool IsWordUnit(char16_t c) {
  if (c < 0x80) return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
  return (c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7) || (c >= 0x370 && c <= 0x52F) ||
         (c >= 0x3040 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7A3) ||
         (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF10 && c <= 0xFF19) || (c >= 0xFF21 && c <= 0xFF3A) ||
         (c >= 0xFF41 && c <= 0xFF5A);
}

// What is looked for: the search's text, folded unless case matters.
std::u16string Needle(const Search& search) {
  std::u16string needle = search.what;
  if (!search.matchCase) std::transform(needle.begin(), needle.end(), needle.begin(), Fold);
  return needle;
}

// Whether needle is at at in shown, within word edges where the search asks for them.
bool MatchesAt(std::u16string_view shown, std::u16string_view needle, const Search& search, std::size_t at) {
  const std::size_t end = at + needle.size();
  if (search.matchCase) {
    if (shown.compare(at, needle.size(), needle) != 0) return false;
  } else {
    for (std::size_t i = 0; i < needle.size(); ++i)
      if (Fold(shown[at + i]) != needle[i]) return false;
  }
  return !search.wholeWord ||
         ((at == 0 || !IsWordUnit(shown[at - 1])) && (end == shown.size() || !IsWordUnit(shown[end])));
}

// Whether any of the units [at, at + kBlock) is a or b: a loop without an early exit, which the
// compiler does with vector instructions, so that a block holding neither costs a few cycles.
constexpr std::size_t kBlock = 64;
bool BlockHolds(const char16_t* at, char16_t a, char16_t b) {
  unsigned hits = 0;
  for (std::size_t i = 0; i < kBlock; ++i) hits |= static_cast<unsigned>(at[i] == a) | static_cast<unsigned>(at[i] == b);
  return hits != 0;
}

// The first match starting in [from, to), or the last when backwards. Most of the text is passed
// by looking for the needle's first unit (in either case) a block at a time.
std::optional<std::size_t> Scan(std::u16string_view shown, std::u16string_view needle, const Search& search,
                                std::size_t from, std::size_t to, bool backwards = false) {
  const char16_t first = needle[0], other = search.matchCase ? first : OtherCase(first);
  const char16_t* const units = shown.data();
  const auto tryAt = [&](std::size_t at) {
    return (units[at] == first || units[at] == other) && MatchesAt(shown, needle, search, at);
  };
  if (backwards) {
    for (std::size_t at = to; at-- > from;)
      if (tryAt(at)) return at;
    return std::nullopt;
  }
  for (std::size_t at = from; at < to;) {
    if (to - at >= kBlock && !BlockHolds(units + at, first, other)) {
      at += kBlock;
      continue;
    }
    for (const std::size_t end = std::min(at + kBlock, to); at < end; ++at)
      if (tryAt(at)) return at;
  }
  return std::nullopt;
}

}  // namespace

std::optional<Stretch> FindMatch(std::u16string_view shown, const Search& search, Stretch selection) {
  const std::u16string needle = Needle(search);
  if (needle.empty() || needle.size() > shown.size()) return std::nullopt;
  const std::size_t starts = shown.size() - needle.size() + 1;  // where a match may start
  std::optional<std::size_t> at;
  if (search.down) {
    const std::size_t from = std::min(selection.end, starts);
    at = Scan(shown, needle, search, from, starts);
    if (!at) at = Scan(shown, needle, search, 0, from);
  } else {
    // A match before the selection ends at or before its start.
    const std::size_t to = std::min(selection.start >= needle.size() ? selection.start - needle.size() + 1 : 0, starts);
    at = Scan(shown, needle, search, 0, to, true);
    if (!at) at = Scan(shown, needle, search, to, starts, true);
  }
  if (!at) return std::nullopt;
  return Stretch{*at, *at + needle.size()};
}

std::size_t ReplaceMatches(std::u16string& shown, std::vector<Original>& originals, const Search& search) {
  const std::u16string needle = Needle(search);
  if (needle.empty() || needle.size() > shown.size()) return 0;
  const std::size_t starts = shown.size() - needle.size() + 1;
  std::u16string out;
  std::vector<Original> kept;
  std::size_t count = 0, copied = 0;  // shown is in out up to copied
  auto next = originals.begin();
  // Moves the stand-ins before end along with the text copied, dropping those at or after drop.
  const auto keep = [&](std::size_t end, std::size_t drop) {
    for (; next != originals.end() && next->position < end; ++next)
      if (next->position < drop) kept.push_back({next->position - copied + out.size(), next->unit});
  };
  for (auto at = Scan(shown, needle, search, 0, starts); at; at = Scan(shown, needle, search, *at + needle.size(), starts)) {
    if (count++ == 0) out.reserve(shown.size()), kept.reserve(originals.size());
    keep(*at + needle.size(), *at);
    out.append(shown, copied, *at - copied).append(search.with);
    copied = *at + needle.size();
  }
  if (count == 0) return 0;
  keep(shown.size(), shown.size());
  out.append(shown, copied);
  shown = std::move(out);
  originals = std::move(kept);
  return count;
}

bool Finder::Accept(const Search& search) {
  const auto breaksLine = [](std::u16string_view text) {
    return text.find_first_of(u"\r\n\u2028\u2029") != std::u16string_view::npos;
  };
  if (breaksLine(search.what) || breaksLine(search.with)) {
    box_.Tell(u"查找内容和替换内容都不能包含换行。");
    return false;
  }
  search_ = search;
  return !search.what.empty();
}

bool Finder::TellNotFound() {
  box_.Tell(u"找不到 “" + search_.what + u"”");
  return false;
}

bool Finder::SelectNext() {
  const std::optional<Stretch> match = FindMatch(box_.ShownText(), search_, box_.Selection());
  if (!match) return TellNotFound();
  box_.Select(*match);
  return true;
}

bool Finder::FindNext(const Search& search) { return Accept(search) && SelectNext(); }

bool Finder::FindAgain(bool down) {
  if (search_.what.empty()) return false;
  search_.down = down;
  return SelectNext();
}

bool Finder::ReplaceOne(const Search& search) {
  if (!Accept(search)) return false;
  const Stretch selected = box_.Selection();
  const std::u16string needle = Needle(search_);
  if (selected.end - selected.start == needle.size() && MatchesAt(box_.ShownText(), needle, search_, selected.start))
    box_.ReplaceSelection(search_.with);
  return SelectNext();
}

bool Finder::ReplaceAll(const Search& search) {
  if (!Accept(search)) return false;
  std::u16string shown(box_.ShownText());
  std::vector<Original> originals = box_.StandIns();
  const std::size_t count = ReplaceMatches(shown, originals, search_);
  if (count == 0) return TellNotFound();
  box_.ReplaceAllText(std::move(shown), std::move(originals));
  const std::string digits = std::to_string(count);
  box_.Tell(u"已替换 " + std::u16string(digits.begin(), digits.end()) + u" 处。");
  return true;
}

}  // namespace window
