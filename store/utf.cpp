#include "store/utf.h"

namespace store {

namespace {

bool IsHigh(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool IsByteEscape(char32_t c) { return c >= kFirstByteEscape && c <= kLastByteEscape; }
bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

char16_t Escape(unsigned char byte) { return static_cast<char16_t>(0xDC00 + byte); }

}  // namespace

void AppendUtf16AsUtf8(std::u16string_view text, std::string& out) {
  // Written through a pointer into room for the largest size (three bytes per code unit), then
  // cut to length: much cheaper per character than push_back.
  const std::size_t start = out.size();
  out.resize(start + text.size() * 3);
  char* dst = out.data() + start;
  const char16_t* in = text.data();
  const char16_t* const end = in + text.size();
  while (in != end) {
    char32_t c = *in++;
    // Most units are characters of the basic plane outside the surrogates: straight through.
    if (c < 0x80) {
      *dst++ = static_cast<char>(c);
      continue;
    }
    if (c < 0xD800 || c > 0xDFFF) {
      const bool two = c < 0x800;
      if (!two) *dst++ = static_cast<char>(0xE0 | c >> 12);
      *dst++ = static_cast<char>((two ? 0xC0 : 0x80) | ((c >> 6) & (two ? 0x1F : 0x3F)));
      *dst++ = static_cast<char>(0x80 | (c & 0x3F));
      continue;
    }
    if (IsByteEscape(c)) {
      *dst++ = static_cast<char>(c - 0xDC00);  // a byte that was not text when it was read
      continue;
    }
    // A pair of two code units is one character; other lone surrogates are written like any
    // other unit of the basic plane.
    if (IsHigh(c) && in != end && IsLow(*in)) c = 0x10000 + ((c - 0xD800) << 10) + (*in++ - 0xDC00);
    const int continuations = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    *dst++ = static_cast<char>((continuations ? 0xFF00 >> (continuations + 1) : 0) | (c >> (6 * continuations)));
    for (int i = continuations - 1; i >= 0; --i) *dst++ = static_cast<char>(0x80 | ((c >> (6 * i)) & 0x3F));
  }
  out.resize(static_cast<std::size_t>(dst - out.data()));
}

namespace {

// The length of the well-formed UTF-8 sequence at p (left bytes remain), or 0 if there is none.
// A three-byte sequence for a surrogate counts as well formed here: it is how lone surrogates
// are stored.
std::size_t SequenceLength(const unsigned char* p, std::size_t left) {
  const unsigned char b = p[0];
  const std::size_t length = b >= 0xC2 && b < 0xE0 ? 2 : b >= 0xE0 && b < 0xF0 ? 3 : b >= 0xF0 && b < 0xF5 ? 4 : 0;
  // Only the bytes the value holds are looked at: it may end inside a sequence.
  if (length == 0 || left < length) return 0;
  for (std::size_t i = 1; i < length; ++i)
    if (!IsContinuation(p[i])) return 0;
  const bool overlong = (b == 0xE0 && p[1] < 0xA0) || (b == 0xF0 && p[1] < 0x90);
  const bool outOfRange = b == 0xF4 && p[1] >= 0x90;
  return overlong || outOfRange ? 0 : length;
}

// A lone high surrogate followed by a low one would read as a pair, which is stored back as
// four bytes. So before a low unit is written, the lone high units just before it go back to
// being the escapes of their three bytes. Returns the new end of the written units.
char16_t* UnpairLoneHighs(char16_t* begin, char16_t* dst) {
  char16_t* run = dst;
  while (run != begin && IsHigh(run[-1])) --run;
  const std::size_t count = static_cast<std::size_t>(dst - run);
  // From the back, so no unit is overwritten before it is read.
  for (std::size_t i = count; i-- > 0;) {
    const char16_t high = run[i];
    run[3 * i] = Escape(0xED);
    run[3 * i + 1] = Escape(static_cast<unsigned char>(0x80 | ((high >> 6) & 0x3F)));
    run[3 * i + 2] = Escape(static_cast<unsigned char>(0x80 | (high & 0x3F)));
  }
  return run + 3 * count;
}

}  // namespace

void AppendUtf8AsUtf16(std::string_view bytes, std::u16string& out) {
  const std::size_t start = out.size();
  out.resize(start + bytes.size());  // never more units than bytes
  char16_t* const begin = out.data() + start;
  char16_t* dst = begin;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* const end = p + bytes.size();
  while (p < end) {
    if (*p < 0x80) {
      *dst++ = *p++;
      continue;
    }
    // Chinese text is mostly three-byte characters that are neither overlong (E0) nor surrogates
    // (ED): those go straight through.
    if (*p >= 0xE1 && *p < 0xF0 && *p != 0xED && end - p >= 3 && IsContinuation(p[1]) && IsContinuation(p[2])) {
      *dst++ = static_cast<char16_t>((p[0] & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F));
      p += 3;
      continue;
    }
    const std::size_t length = SequenceLength(p, static_cast<std::size_t>(end - p));
    char32_t c = p[0] & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) c = c << 6 | (p[i] & 0x3F);
    if (length == 4) {
      *dst++ = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      *dst++ = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
      p += 4;
      continue;
    }
    // A stored escape-range surrogate would be stored back as one byte: keep its bytes instead.
    if (length == 0 || IsByteEscape(c)) {
      if (dst != begin && IsHigh(dst[-1])) dst = UnpairLoneHighs(begin, dst);
      *dst++ = Escape(*p++);
      continue;
    }
    if (IsLow(c) && dst != begin && IsHigh(dst[-1])) dst = UnpairLoneHighs(begin, dst);
    *dst++ = static_cast<char16_t>(c);
    p += length;
  }
  out.resize(static_cast<std::size_t>(dst - out.data()));
}

}  // namespace store
