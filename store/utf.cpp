#include "store/utf.h"

namespace store {

std::string Utf16ToUtf8(std::u16string_view text) {
  // Written through a pointer into a buffer of the largest size (three bytes per code unit),
  // then cut to length: much cheaper per character than push_back.
  std::string out(text.size() * 3, '\0');
  char* dst = out.data();
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    char32_t c = text[i];
    if (c < 0x80) {
      *dst++ = static_cast<char>(c);
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    if (c < 0x800) {
      *dst++ = static_cast<char>(0xC0 | (c >> 6));
    } else if (c < 0x10000) {
      *dst++ = static_cast<char>(0xE0 | (c >> 12));
      *dst++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    } else {  // a pair of two code units takes four bytes, less than the six reserved
      *dst++ = static_cast<char>(0xF0 | (c >> 18));
      *dst++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *dst++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    }
    *dst++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  out.resize(static_cast<std::size_t>(dst - out.data()));
  return out;
}

namespace {

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

void AppendUtf8AsUtf16(std::string_view bytes, std::u16string& out) {
  const std::size_t start = out.size();
  out.resize(start + bytes.size());  // UTF-16 never needs more units than UTF-8 has bytes
  char16_t* dst = out.data() + start;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    const unsigned char b = *p;
    if (b < 0x80) {
      *dst++ = b;
      ++p;
      continue;
    }
    const std::size_t left = static_cast<std::size_t>(end - p);
    if (b >= 0xC2 && b < 0xE0 && left >= 2 && IsContinuation(p[1])) {
      *dst++ = static_cast<char16_t>(((b & 0x1F) << 6) | (p[1] & 0x3F));
      p += 2;
    } else if (b >= 0xE0 && b < 0xF0 && left >= 3 && IsContinuation(p[1]) && IsContinuation(p[2])) {
      const char32_t c = ((b & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F);
      if (c < 0x800) {  // overlong: keep the lead byte as it is
        *dst++ = b;
        ++p;
        continue;
      }
      *dst++ = static_cast<char16_t>(c);
      p += 3;
    } else if (b >= 0xF0 && b < 0xF5 && left >= 4 && IsContinuation(p[1]) && IsContinuation(p[2]) &&
               IsContinuation(p[3])) {
      const char32_t c =
          ((b & 0x07) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) | (p[3] & 0x3F);
      if (c < 0x10000 || c > 0x10FFFF) {
        *dst++ = b;
        ++p;
        continue;
      }
      *dst++ = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      *dst++ = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
      p += 4;
    } else {
      *dst++ = b;
      ++p;
    }
  }
  out.resize(static_cast<std::size_t>(dst - out.data()));
}

}  // namespace store
