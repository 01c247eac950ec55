// Conversions between the program's UTF-16 texts and the UTF-8 bytes SQLite stores.
#pragma once

#include <string>
#include <string_view>

namespace store {

// Appends the UTF-8 form of UTF-16 text to out. A lone surrogate is encoded on its own as a
// three-byte sequence, so that every UTF-16 text, even an invalid one, comes back unchanged from
// Utf8ToUtf16.
void AppendUtf16AsUtf8(std::u16string_view text, std::string& out);

inline std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  AppendUtf16AsUtf8(text, out);
  return out;
}

// Appends the UTF-16 form of UTF-8 bytes to out. Bytes that do not form a valid sequence are
// taken one by one as code units U+0080..U+00FF would be (Latin-1), so nothing is dropped.
void AppendUtf8AsUtf16(std::string_view bytes, std::u16string& out);

inline std::u16string Utf8ToUtf16(std::string_view bytes) {
  std::u16string out;
  AppendUtf8AsUtf16(bytes, out);
  return out;
}

}  // namespace store
