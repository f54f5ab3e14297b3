// Field scanning and byte-string search over code page 932 text.
#include "zemta/scan.h"

#include <cstring>
#include <string_view>

#include "lib/core/report.h"
#include "platform/base/cp932.h"

namespace zemta {
namespace {

constexpr bool isWhiteSpace(uint8_t b) { return (b >= 9 && b <= 13) || b == ' '; }

// The 1-based index of b among the separator characters, 0 when it is none.
int32_t separatorIndex(const char* separators, char b) {
  for (int32_t i = 0; separators[i] != '\0'; ++i)
    if (separators[i] == b) return i + 1;
  return 0;
}

// White space that is not itself a separator: a tab-separated row keeps its
// empty fields.
bool isBlank(const char* separators, char b) {
  return isWhiteSpace(static_cast<uint8_t>(b)) && separatorIndex(separators, b) == 0;
}

}  // namespace
}  // namespace zemta

using zemta::isBlank;
using zemta::separatorIndex;

ZEMTA_API int32_t NextData(int32_t dataLength, const char* data, int32_t* fieldLength, char* field,
                           int32_t* position, char quote, const char* separators,
                           int32_t doubleByte, int32_t keepInnerBlanks) {
  if (!fieldLength || !field || !position || (!data && dataLength > 0)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  if (*position < 0 || dataLength < 0) return -1;
  if (!separators) separators = ",";
  const int32_t capacity = *fieldLength > 0 ? *fieldLength : 0;
  if (*position >= dataLength) {
    *fieldLength = 0;
    *position = -1;
    return 0;
  }
  const std::string_view text(data, static_cast<size_t>(dataLength));
  int32_t p = *position;
  while (p < dataLength && isBlank(separators, data[p])) ++p;

  const int32_t start = p;
  bool quoted = false;
  while (p < dataLength) {
    if (doubleByte && platform::cp932::isDoubleByteAt(text, static_cast<size_t>(p))) {
      p += 2;
      continue;
    }
    const char c = data[p];
    if (quoted) {
      // A quoted stretch closes at its quote character; a bracket opened
      // stretch (and one of single quotes) also at "]".
      if (c == quote || (c == ']' && (quote == '\'' || quote == '['))) quoted = false;
      ++p;
      continue;
    }
    if (quote != '\0' && (c == quote || (c == '[' && quote == '\''))) {
      quoted = true;
      ++p;
      continue;
    }
    if (separatorIndex(separators, c)) break;
    if (isBlank(separators, c) && !keepInnerBlanks) break;
    ++p;
  }
  int32_t end = p;
  if (keepInnerBlanks)
    while (end > start && isBlank(separators, data[end - 1])) --end;

  int32_t length = end - start;
  if (length > capacity) length = capacity;
  if (length > 0) std::memcpy(field, data + start, static_cast<size_t>(length));
  *fieldLength = length;

  while (p < dataLength && isBlank(separators, data[p])) ++p;
  if (p >= dataLength) {
    *position = -1;
    return 0;
  }
  if (const int32_t index = separatorIndex(separators, data[p])) {
    *position = p + 1;
    return index;
  }
  *position = p;
  return 0;
}

ZEMTA_API int32_t NextString(const char* text, char* field, int32_t* position, char quote,
                             const char* separators) {
  if (!text || !field) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  int32_t length = 4095;
  const int32_t result = NextData(static_cast<int32_t>(std::strlen(text)), text, &length, field,
                                  position, quote, separators, 1, 0);
  field[result < 0 ? 0 : length] = '\0';
  return result;
}

ZEMTA_API int32_t FindData(int32_t dataLength, const char* data, int32_t patternLength,
                           const char* pattern, int32_t start, int32_t doubleByte) {
  if (patternLength <= 0 || patternLength > dataLength || start < 0) return -1;
  if (!data || !pattern) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  const std::string_view text(data, static_cast<size_t>(dataLength));
  const auto size = static_cast<size_t>(patternLength);
  for (int32_t i = start; i <= dataLength - patternLength;) {
    if (std::memcmp(data + i, pattern, size) == 0) return i;
    i += doubleByte && platform::cp932::isDoubleByteAt(text, static_cast<size_t>(i)) ? 2 : 1;
  }
  return -1;
}

ZEMTA_API int32_t ReverseFindData(int32_t dataLength, const char* data, int32_t patternLength,
                                  const char* pattern, int32_t start, int32_t doubleByte) {
  if (patternLength <= 0 || patternLength > dataLength || start < -1) return -1;
  if (!data || !pattern) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  const std::string_view text(data, static_cast<size_t>(dataLength));
  const auto size = static_cast<size_t>(patternLength);
  int32_t i = start;
  if (start == -1 || start > dataLength - patternLength) i = dataLength - patternLength;
  for (; i >= 0; --i) {
    // Never match from the trail byte of a double-byte character.
    if (doubleByte && i > 0 && platform::cp932::isDoubleByteAt(text, static_cast<size_t>(i - 1))) --i;
    if (std::memcmp(data + i, pattern, size) == 0) return i;
  }
  return -1;
}

ZEMTA_API int32_t FindString(const char* text, const char* pattern, int32_t start) {
  if (!text || !pattern) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  return FindData(static_cast<int32_t>(std::strlen(text)), text,
                  static_cast<int32_t>(std::strlen(pattern)), pattern, start, 1);
}

ZEMTA_API int32_t ReverseFindString(const char* text, const char* pattern, int32_t start) {
  if (!text || !pattern) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  return ReverseFindData(static_cast<int32_t>(std::strlen(text)), text,
                         static_cast<int32_t>(std::strlen(pattern)), pattern, start, 1);
}
