// Full-width and single-byte forms of code page 932 text, as the number
// formatter uses them; for other formatters of the library.
#pragma once

#include <string>
#include <string_view>

namespace zemta {

// Each single byte 0x20-0x7E and each half-width katakana 0xA1-0xDF becomes its
// full-width double-byte form; double-byte characters and other bytes stay.
std::string toFullWidth(std::string_view text);

// Each double-byte character that has a single-byte form (the reverse of
// toFullWidth) becomes that byte.
std::string toSingleByte(std::string_view text);

}  // namespace zemta
