#include "window/standins.h"

#include <algorithm>
#include <iterator>

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace window {

namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Whether c may need a stand-in; a CR, an LF or a surrogate needs one only outside its pair.
bool NeedsCare(char16_t c) {
  if (c < 0x20) return c == u'\n' || c == u'\r' || c == u'\0';
  return (c >= 0xD800 && c <= 0xDFFF) || c == 0x2028 || c == 0x2029 || c == 0xFDD0 || c == 0xFDD1;
}

}  // namespace

char16_t StandIn(char16_t unit) {
  switch (unit) {
    case u'\0':
      return 0x2400;  // SYMBOL FOR NULL
    case u'\n':
      return 0x240A;  // SYMBOL FOR LINE FEED
    case u'\r':
      return 0x240D;  // SYMBOL FOR CARRIAGE RETURN
    case 0x2028:
      return 0x2424;  // SYMBOL FOR NEWLINE
    case 0x2029:
      return 0x00B6;  // PILCROW SIGN
    default:
      return 0xFFFD;  // REPLACEMENT CHARACTER: frame marks, and what is not text
  }
}

// Each unit is written at or before the place it was read from, so this works in place.
std::vector<Original> ShowStandIns(std::u16string& text, std::u16string_view lineBreak) {
  char16_t* const data = text.data();
  const std::size_t size = text.size();
  std::size_t length = 0;
  std::vector<Original> originals;
  for (std::size_t i = 0; i < size;) {
    std::size_t end = i;
    while (end < size && !NeedsCare(data[end])) ++end;
    if (length != i) std::char_traits<char16_t>::move(data + length, data + i, end - i);
    length += end - i;
    if (end == size) break;
    const char16_t c = data[end];
    const char16_t next = end + 1 < size ? data[end + 1] : 0;
    if (c == u'\r' && next == u'\n') {
      for (const char16_t unit : lineBreak) data[length++] = unit;
      i = end + 2;
    } else if (IsHighSurrogate(c) && IsLowSurrogate(next)) {  // a pair, shown as it is
      data[length++] = c;
      data[length++] = next;
      i = end + 2;
    } else {
      originals.push_back({length, c});
      data[length++] = StandIn(c);
      i = end + 1;
    }
  }
  text.resize(length);
  return originals;
}

std::u16string PastedLines(std::u16string_view text) {
  std::u16string lines;
  lines.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit == u'\r' || unit == u'\n' || unit == 0x2028 || unit == 0x2029) {
      lines += u"\r\n";
      if (unit == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      lines += unit;
    }
  }
  return lines;
}

std::u16string StandInTrack::Show(std::u16string text) {
  originals_ = ShowStandIns(text, u"\r\n");
  replaced_.clear();
  texts_.clear();
  textStandIns_ = 0;
  textsHadStandIns_ = false;
  if (!originals_.empty()) Remember(Know(text));
  shown_ = Empty() ? std::u16string() : text;
  return text;
}

StandInTrack::KnownText StandInTrack::Know(std::u16string_view shown) {
  const XXH128_hash_t hash = XXH3_128bits(shown.data(), shown.size() * sizeof(char16_t));
  return {hash.low64, hash.high64, {}};
}

void StandInTrack::Remember(KnownText known) {
  known.originals = originals_;
  textsHadStandIns_ = textsHadStandIns_ || !originals_.empty();
  textStandIns_ += known.originals.size();
  texts_.push_back(std::move(known));
  while (texts_.size() > kTextsKept || (textStandIns_ > kTextStandInsKept && texts_.size() > 1)) {
    textStandIns_ -= texts_.front().originals.size();
    texts_.pop_front();
  }
}

void StandInTrack::Follow(std::u16string shown, std::size_t editFrom, std::vector<Original> added) {
  if (Empty() && added.empty()) return;
  KnownText known = Know(shown);
  const auto same = [&](const KnownText& text) { return text.low == known.low && text.high == known.high; };
  if (const auto again = std::find_if(texts_.rbegin(), texts_.rend(), same); again != texts_.rend() && added.empty()) {
    originals_ = again->originals;  // a text the box held, as after an undo or a redo
    shown_ = std::move(shown);
    return Remember(std::move(known));
  }
  // The edit replaced [from, oldEnd) of the old text with [from, newEnd) of the new one.
  const std::size_t shorter = std::min(shown_.size(), shown.size());
  std::size_t from = 0;
  while (from < std::min(shorter, editFrom) && shown_[from] == shown[from]) ++from;
  std::size_t kept = 0;  // units equal at the end
  while (from + kept < shorter && shown_[shown_.size() - 1 - kept] == shown[shown.size() - 1 - kept]) ++kept;
  const std::size_t oldEnd = shown_.size() - kept, newEnd = shown.size() - kept;
  std::vector<Original> followed, dropped;
  followed.reserve(originals_.size());
  for (const Original& original : originals_) {
    if (original.position < from) followed.push_back(original);
    else if (original.position < oldEnd) dropped.push_back({original.position - from, original.unit});
  }
  for (const Original& original : TakeBack(shown, from, newEnd)) followed.push_back({from + original.position, original.unit});
  for (const Original& original : originals_)
    if (original.position >= oldEnd) followed.push_back({original.position - oldEnd + newEnd, original.unit});
  followed.insert(followed.end(), added.begin(), added.end());
  if (!dropped.empty()) {
    if (replaced_.size() == kEditsKept) replaced_.erase(replaced_.begin());
    replaced_.push_back({from, shown_.substr(from, oldEnd - from), std::move(dropped)});
  }
  originals_ = std::move(followed);
  Remember(std::move(known));
  shown_ = Empty() ? std::u16string() : std::move(shown);
}

std::vector<Original> StandInTrack::TakeBack(const std::u16string& shown, std::size_t from, std::size_t newEnd) {
  for (auto edit = replaced_.rbegin(); edit != replaced_.rend(); ++edit) {
    if (edit->from != from || shown.compare(from, newEnd - from, edit->text) != 0) continue;
    std::vector<Original> originals = std::move(edit->originals);
    replaced_.erase(std::next(edit).base());
    return originals;
  }
  return {};
}

void StandInTrack::Replace(std::u16string shown, std::vector<Original> originals) {
  Follow(shown, 0);
  originals_ = std::move(originals);
  Remember(Know(shown));  // the text known with the stand-ins it keeps
}

std::vector<Original> StandInTrack::Originals(std::u16string_view shown) const {
  std::vector<Original> present;
  for (const Original& original : originals_)
    if (original.position < shown.size() && shown[original.position] == StandIn(original.unit)) present.push_back(original);
  // A paste's stand-ins follow the others.
  std::sort(present.begin(), present.end(), [](const Original& a, const Original& b) { return a.position < b.position; });
  return present;
}

std::u16string StandInTrack::Restore(std::u16string shown) const {
  for (const Original& original : originals_) {
    // A stand-in the box no longer holds there (never so while edits are followed) stays as it is.
    if (original.position < shown.size() && shown[original.position] == StandIn(original.unit))
      shown[original.position] = original.unit;
  }
  return shown;
}

}  // namespace window
