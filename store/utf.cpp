#include "store/utf.h"

namespace store {

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
    if (c < 0x80) {
      *dst++ = static_cast<char>(c);
      continue;
    }
    if (c < 0x800) {
      dst[0] = static_cast<char>(0xC0 | (c >> 6));
      dst[1] = static_cast<char>(0x80 | (c & 0x3F));
      dst += 2;
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && in != end && *in >= 0xDC00 && *in <= 0xDFFF) {
      // A pair of two code units takes four bytes, less than the six reserved.
      c = 0x10000 + ((c - 0xD800) << 10) + (*in++ - 0xDC00);
      dst[0] = static_cast<char>(0xF0 | (c >> 18));
      dst[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      dst[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      dst[3] = static_cast<char>(0x80 | (c & 0x3F));
      dst += 4;
      continue;
    }
    // The rest of the basic plane, a lone surrogate included.
    dst[0] = static_cast<char>(0xE0 | (c >> 12));
    dst[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    dst[2] = static_cast<char>(0x80 | (c & 0x3F));
    dst += 3;
  }
  out.resize(static_cast<std::size_t>(dst - out.data()));
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
