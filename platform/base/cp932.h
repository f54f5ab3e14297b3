// Code page 932 (Shift-JIS as Windows has it): the byte classes that every
// scanner and cutter of text asks about, and conversion to and from UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::cp932 {

// Lead bytes 0x81-0x9F and 0xE0-0xFC open a double-byte character.
constexpr bool isLeadByte(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
// Trail bytes 0x40-0x7E and 0x80-0xFC close one.
constexpr bool isTrailByte(uint8_t b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }
// Half-width katakana and their marks, 0xA1-0xDF, are single bytes.
constexpr bool isHalfWidthKana(uint8_t b) { return b >= 0xA1 && b <= 0xDF; }

// True when a double-byte character starts at text[pos] and both of its bytes
// lie inside the text.
inline bool isDoubleByteAt(std::string_view text, size_t pos) {
  return pos + 1 < text.size() && isLeadByte(static_cast<uint8_t>(text[pos])) &&
         isTrailByte(static_cast<uint8_t>(text[pos + 1]));
}

// The bytes of the character at text[pos]: 2 for a lead byte with a byte after
// it, else 1. Every scanner that steps through text steps by this.
constexpr size_t charLength(std::string_view text, size_t pos) {
  return pos + 1 < text.size() && isLeadByte(static_cast<uint8_t>(text[pos])) ? 2 : 1;
}

// The length of the longest start of text that is at most limit bytes and
// cuts no double-byte character in two (a lead byte that ends the text is
// half a character and is left out too).
size_t fitLength(std::string_view text, size_t limit);
// That start itself.
inline std::string cutText(std::string_view text, size_t limit) { return std::string(text.substr(0, fitLength(text, limit))); }

// Names and keywords compare and fold by their ASCII letters only: a
// double-byte character is compared whole, so the trail byte 61 of "ヂ"
// (83 61) never folds to the 41 of "ア" (83 41).
char upperAscii(char c);
std::string upperAscii(std::string_view text);
bool equalNoCase(std::string_view a, std::string_view b);
bool startsWithNoCase(std::string_view text, std::string_view prefix);

}  // namespace platform::cp932

namespace platform {

// Converts the whole text. On a byte sequence that has no form in the other
// encoding the output is left as far as it got and false is returned (with the
// offset of the offending input byte in *badOffset when given): nothing is
// silently replaced.
bool cp932ToUtf8(std::string_view cp932, std::string& utf8, size_t* badOffset = nullptr);
bool utf8ToCp932(std::string_view utf8, std::string& cp932, size_t* badOffset = nullptr);

// Convenience forms for places where a failure cannot matter (log lines):
// unconvertible input is replaced by '?'.
std::string toUtf8Lossy(std::string_view cp932);
std::string toCp932Lossy(std::string_view utf8);

}  // namespace platform
