#include "window/standins.h"

#include <algorithm>

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
  replaced_ = {};
  shown_ = Empty() ? std::u16string() : text;
  return text;
}

void StandInTrack::Follow(std::u16string shown, std::size_t editFrom, std::vector<Original> added) {
  if (Empty() && added.empty()) return;
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
  if (from == replaced_.from && shown.compare(from, newEnd - from, replaced_.text) == 0) {
    for (const Original& original : replaced_.originals) followed.push_back({from + original.position, original.unit});
    replaced_ = {};
  }
  for (const Original& original : originals_)
    if (original.position >= oldEnd) followed.push_back({original.position - oldEnd + newEnd, original.unit});
  followed.insert(followed.end(), added.begin(), added.end());
  if (!dropped.empty()) replaced_ = {from, shown_.substr(from, oldEnd - from), std::move(dropped)};
  originals_ = std::move(followed);
  shown_ = Empty() ? std::u16string() : std::move(shown);
}

void StandInTrack::Replace(std::u16string shown, std::vector<Original> originals) {
  Follow(std::move(shown), 0);
  originals_ = std::move(originals);
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
