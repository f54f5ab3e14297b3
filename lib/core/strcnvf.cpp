// The number formatter: a number already printed into a text field becomes the
// form screens and receipts show (justified, thousands commas, yen sign,
// trailing minus, leading zeros removed, full-width if asked).
#include "lib/core/strcnvf.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "lib/core/report.h"
#include "platform/base/cp932.h"
#include "zemta/scan.h"

namespace zemta {
namespace {

// Full-width forms of 0x20-0x7E, two code page 932 bytes each. The backslash
// byte is the yen sign in this code page, so its full-width form is "￥"; the
// quotes take the JIS forms that every receipt font has.
constexpr char kFullWidthAscii[] =
    "　！”＃＄％＆’（）＊＋，－．／０１２３４５６７８９：；＜＝＞？"
    "＠ＡＢＣＤＥＦＧＨＩＪＫＬＭＮＯＰＱＲＳＴＵＶＷＸＹＺ［￥］＾＿"
    "｀ａｂｃｄｅｆｇｈｉｊｋｌｍｎｏｐｑｒｓｔｕｖｗｘｙｚ｛｜｝～";
static_assert(sizeof kFullWidthAscii == (0x7E - 0x20 + 1) * 2 + 1);

// Full-width forms of the half-width katakana and marks 0xA1-0xDF.
constexpr char kFullWidthKana[] =
    "。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソ"
    "タチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワン゛゜";
static_assert(sizeof kFullWidthKana == (0xDF - 0xA1 + 1) * 2 + 1);

// The full-width pair of a single byte, or null when it has none.
const char* fullWidthOf(uint8_t b) {
  if (b >= 0x20 && b <= 0x7E) return kFullWidthAscii + (b - 0x20) * 2;
  if (platform::cp932::isHalfWidthKana(b)) return kFullWidthKana + (b - 0xA1) * 2;
  return nullptr;
}

// The single byte of a full-width pair, or 0 when it has none.
uint8_t singleByteOf(char lead, char trail) {
  for (int b = 0x20; b <= 0x7E; ++b)
    if (kFullWidthAscii[(b - 0x20) * 2] == lead && kFullWidthAscii[(b - 0x20) * 2 + 1] == trail)
      return static_cast<uint8_t>(b);
  for (int b = 0xA1; b <= 0xDF; ++b)
    if (kFullWidthKana[(b - 0xA1) * 2] == lead && kFullWidthKana[(b - 0xA1) * 2 + 1] == trail)
      return static_cast<uint8_t>(b);
  return 0;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Digits of the integer part of |x|, at least 1.
int32_t integerDigits(double x) {
  char buffer[400];
  const int n = std::snprintf(buffer, sizeof buffer, "%.0f", std::floor(std::fabs(x)));
  return n > 0 ? n : 1;
}

int32_t finishLength(uint32_t flags, int64_t digits, bool negative, int64_t extra) {
  int64_t length = digits;
  if (flags & STRCNVF_COMMA) length += (digits - 1) / 3;
  if (negative) length += 1;
  length += extra;
  if (flags & STRCNVF_FULLWIDTH) length *= 2;
  return length > INT32_MAX ? INT32_MAX : static_cast<int32_t>(length);
}

void fillStars(char* buffer, int32_t size) {
  std::memset(buffer, 0, static_cast<size_t>(size));
  std::memset(buffer, '*', static_cast<size_t>(size - 1));
}

// Lays a printed number into buffer[0..size - 1) and formats it there.
void formatPrinted(uint32_t flags, char* buffer, int32_t size, const std::string& printed) {
  if (printed.size() > static_cast<size_t>(size - 1)) {
    fillStars(buffer, size);
    return;
  }
  std::memcpy(buffer, printed.data(), printed.size());
  StrCnvf(flags, static_cast<uint32_t>(size - 1), buffer);
}

}  // namespace

std::string toFullWidth(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (size_t i = 0; i < text.size(); ++i) {
    if (platform::cp932::isDoubleByteAt(text, i)) {
      out.append(text.substr(i, 2));
      ++i;
    } else if (const char* pair = fullWidthOf(static_cast<uint8_t>(text[i]))) {
      out.append(pair, 2);
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string toSingleByte(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (platform::cp932::isDoubleByteAt(text, i)) {
      if (const uint8_t b = singleByteOf(text[i], text[i + 1])) out.push_back(static_cast<char>(b));
      else out.append(text.substr(i, 2));
      ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace zemta

ZEMTA_API int32_t StrCnvf(uint32_t flags, uint32_t width, char* field) {
  if (!field) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  const size_t size = width & 0xFFFFu;
  const bool left = flags & STRCNVF_LEFT;

  // Leading half- and full-width spaces; the text ends at the first zero byte,
  // without its trailing spaces.
  size_t begin = 0;
  while (begin < size) {
    if (field[begin] == ' ') ++begin;
    else if (begin + 1 < size && field[begin] == '\x81' && field[begin + 1] == '\x40') begin += 2;
    else break;
  }
  size_t end = begin;
  while (end < size && field[end] != '\0') ++end;
  while (end > begin && field[end - 1] == ' ') --end;
  std::string text(field + begin, end - begin);
  if (text.empty()) {
    if (left) std::memset(field, 0, size);
    return 0;
  }
  if (left) text = zemta::toSingleByte(text);

  // Commas already in the text go.
  std::erase(text, ',');

  if (!(flags & STRCNVF_KEEPZERO)) {
    const size_t first = (text[0] == '+' || text[0] == '-') ? 1 : 0;
    size_t zeros = first;
    while (text.size() - zeros > 1 && text[zeros] == '0' && text[zeros + 1] != '.' &&
           text[zeros + 1] != 'E' && text[zeros + 1] != 'e')
      ++zeros;
    text.erase(first, zeros - first);
  }

  if (flags & STRCNVF_COMMA) {
    size_t point = text.find('.');
    if (point == std::string::npos) point = text.size();
    size_t run = 0;
    for (size_t i = point; i > 0 && zemta::isDigit(text[i - 1]); --i) {
      if (run > 0 && run % 3 == 0) text.insert(i, 1, ',');
      ++run;
    }
  }
  if (flags & STRCNVF_YEN) text.insert(0, 1, '\\');
  if (flags & STRCNVF_MINUS) text.push_back('-');
  if (flags & STRCNVF_FULLWIDTH) text = zemta::toFullWidth(text);

  if (text.size() > size) {
    std::memset(field, '*', size);
    return 1;
  }
  if (left) {
    std::memcpy(field, text.data(), text.size());
    std::memset(field + text.size(), 0, size - text.size());
  } else {
    std::memset(field, ' ', size - text.size());
    std::memcpy(field + size - text.size(), text.data(), text.size());
  }
  return 0;
}

ZEMTA_API int32_t GetLongLength(uint32_t flags, int32_t value) {
  int64_t magnitude = value < 0 ? -static_cast<int64_t>(value) : value;
  int64_t digits = 1;
  while (magnitude >= 10) {
    magnitude /= 10;
    ++digits;
  }
  return zemta::finishLength(flags, digits, value < 0, 0);
}

ZEMTA_API int32_t GetDoubleLength(uint32_t flags, const double* value, int32_t decimals) {
  if (!value) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  // Infinity and NaN have no digits to show: no field is wide enough.
  if (!std::isfinite(*value)) return INT32_MAX;
  const int64_t extra = decimals > 0 ? static_cast<int64_t>(decimals) + 1 : 0;
  return zemta::finishLength(flags, zemta::integerDigits(*value), *value < 0, extra);
}

ZEMTA_API void LongToStr(uint32_t flags, char* buffer, int32_t value, int32_t size) {
  if (!buffer) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return;
  }
  if (size <= 0) return;
  std::memset(buffer, 0, static_cast<size_t>(size));
  if (GetLongLength(flags, value) >= size) {
    zemta::fillStars(buffer, size);
    return;
  }
  zemta::formatPrinted(flags, buffer, size, std::to_string(value));
}

ZEMTA_API void DoubleToStr(uint32_t flags, char* buffer, const double* value, int32_t decimals,
                           int32_t size) {
  if (!buffer || !value) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return;
  }
  if (size <= 0) return;
  std::memset(buffer, 0, static_cast<size_t>(size));
  double x = *value;
  if (!std::isfinite(x)) {
    zemta::fillStars(buffer, size);
    return;
  }
  // Half away from zero at 10^decimals. Past 2^52 a double has no fraction
  // left at that scale, so it is already rounded (and the scaling might not
  // stay finite).
  const double factor = std::pow(10.0, decimals);
  const double scaled = x * factor;
  if (std::isfinite(scaled) && std::fabs(scaled) < 4503599627370496.0) {
    x = x >= 0 ? std::floor(scaled + 0.5 + DBL_EPSILON) : std::ceil(scaled - 0.5 - DBL_EPSILON);
    x /= factor;
  }
  if (x == 0) x = 0.0;  // no "-0" for a small negative rounded away
  // Measured on the rounded value: 999.96 at one decimal prints as 1000.0.
  if (GetDoubleLength(flags, &x, decimals) >= size) {
    zemta::fillStars(buffer, size);
    return;
  }
  const int places = decimals > 0 ? decimals : 0;
  const int needed = std::snprintf(nullptr, 0, "%.*f", places, x);
  std::string printed(static_cast<size_t>(needed > 0 ? needed : 0), '\0');
  std::snprintf(printed.data(), printed.size() + 1, "%.*f", places, x);
  zemta::formatPrinted(flags, buffer, size, printed);
}
