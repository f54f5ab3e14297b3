// Text conversion between the register's code page 932 and UTF-8, for the
// bodies of the payment service's requests and replies.
//
// A character that has no form on the other side is never turned into some
// other character: the conversion fails, the result is empty, ok (when
// given) is set false and the thread's last error is ERROR_NO_UNICODE_TRANSLATION
// (1113). A null input converts as an empty text.
#pragma once

#include <string>

namespace varnex::reg {

inline constexpr unsigned kErrorNoUnicodeTranslation = 1113;

// Zero-terminated code page 932 text to the same characters in UTF-8.
std::string AnsiToUtf8(const char* text, bool* ok = nullptr);
// Zero-terminated UTF-8 text to the same characters in code page 932.
std::string Utf8ToAnsi(const char* text, bool* ok = nullptr);

}  // namespace varnex::reg
