// Conversions between the program's UTF-16 texts and the UTF-8 bytes SQLite stores.
//
// Every byte string survives Utf8ToUtf16 then Utf16ToUtf8 unchanged, whatever it holds. A byte
// that is not part of well-formed UTF-8 (GBK or Latin-1 text written by another program, a BLOB)
// becomes its own escape code unit, a lone low surrogate U+DC80..U+DCFF, which the way back turns
// into that byte again. Other lone surrogates, which Velmora itself stores as three-byte
// sequences, stay lone surrogates both ways, so they are never taken for escapes.
#pragma once

#include <string>
#include <string_view>

namespace store {

// The escape code unit that stands for a byte that is not text, and the byte it stands for.
inline constexpr char16_t kFirstByteEscape = 0xDC80;
inline constexpr char16_t kLastByteEscape = 0xDCFF;

// Appends the UTF-8 form of text to out: escape units as their bytes, other lone surrogates as
// three-byte sequences, everything else as UTF-8.
void AppendUtf16AsUtf8(std::u16string_view text, std::string& out);

inline std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  AppendUtf16AsUtf8(text, out);
  return out;
}

// Appends the UTF-16 form of bytes to out, with escape units for the bytes that are not text.
void AppendUtf8AsUtf16(std::string_view bytes, std::u16string& out);

inline std::u16string Utf8ToUtf16(std::string_view bytes) {
  std::u16string out;
  AppendUtf8AsUtf16(bytes, out);
  return out;
}

}  // namespace store
