// Typed values: text forms, parsing, bounds and calculation values, and the
// code page 932 text helpers (hiragana to katakana, full-width to half-width).
//
// Sizes: GetTypeStrBufLen gives, for a given value, exactly the bytes that
// TypeDataToStr writes for it (the value is formatted once and measured), so a
// buffer of that size always holds the text. Without a value it gives the
// size for any value of the type and length.
#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cstdarg>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "lib/core/calendar.h"
#include "lib/core/report.h"
#include "lib/core/typed_data.h"
#include "platform/base/clock.h"
#include "platform/base/cp932.h"
#include "zemta/date.h"
#include "zemta/typed.h"

namespace zemta {
namespace {

uint32_t g_defaultFormat = 0x5110F115;

// A format word with every group left 0 taken from the default.
uint32_t resolveFormat(uint32_t f) {
  const uint32_t d = g_defaultFormat;
  auto take = [&](uint32_t mask) {
    if (!(f & mask)) f |= d & mask;
  };
  take(0x3);
  take(0xC);
  take(0xF0);
  if (!(f & 0xF00)) f = (f & ~0xFF00u) | (d & 0xFF00u);
  take(0xF00000);
  take(0xF000000);
  take(0x30000000);
  take(0xC0000000);
  return f;
}

std::string printf1(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string printf1(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof buffer) return std::string(buffer, n);
  std::string big(static_cast<size_t>(n) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(big.data(), big.size(), format, args);
  va_end(args);
  big.resize(static_cast<size_t>(n));
  return big;
}

int64_t readSigned(const uint8_t* p, int32_t length) {
  uint64_t v = 0;
  for (int32_t i = 0; i < length; ++i) v |= uint64_t(p[i]) << (8 * i);
  if (length < 8 && (p[length - 1] & 0x80)) v |= ~uint64_t(0) << (8 * length);
  return static_cast<int64_t>(v);
}

uint64_t readUnsigned(const uint8_t* p, int32_t length) {
  uint64_t v = 0;
  for (int32_t i = 0; i < length; ++i) v |= uint64_t(p[i]) << (8 * i);
  return v;
}

void writeLittle(uint8_t* p, int32_t length, uint64_t v) {
  for (int32_t i = 0; i < length; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t read32(const uint8_t* p) { return static_cast<uint32_t>(readUnsigned(p, 4)); }

double readFloat(const uint8_t* p, int32_t length) {
  if (length == 4) {
    float f;
    std::memcpy(&f, p, 4);
    return f;
  }
  double d;
  std::memcpy(&d, p, 8);
  return d;
}

std::string withSeparators(const std::string& number, char separator) {
  std::string out(number.size() * 2 + 8, '\0');
  int32_t n = ToInsSepStr(out.data(), static_cast<int32_t>(out.size()), number.c_str(), -1, separator);
  out.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return out;
}

// --- text ---
bool formatText(const uint8_t* value, int32_t length, uint32_t format, std::string& text) {
  const uint32_t quoting = format & 0xC;
  std::string raw(reinterpret_cast<const char*>(value), static_cast<size_t>(length));
  size_t zero = raw.find('\0');
  if (zero != std::string::npos) raw.resize(zero);
  char quote = quoting == 8 ? '\'' : '"';
  bool quoted = quoting == 8 || quoting == 12 ||
                (quoting == 4 && raw.find_first_of("\",") != std::string::npos);
  if (!quoted) {
    text = raw;
    return true;
  }
  text.assign(1, quote);
  for (char c : raw) {
    text += c;
    if (c == quote) text += c;
  }
  text += quote;
  return true;
}

// --- times and dates ---
std::string formatTime(uint32_t t, uint32_t form, bool withMilliseconds) {
  if (!(t & 1)) return std::string();
  const unsigned h = t >> 27, m = (t >> 21) & 63, s = (t >> 15) & 63, ms = (t & 0x7FFF) / 20;
  if (!withMilliseconds) form = form == 2 ? 1 : form == 5 ? 4 : form;
  switch (form) {
    case 1: return printf1("%02u:%02u:%02u", h, m, s);
    case 2: return printf1("%02u:%02u:%02u.%03u", h, m, s, ms);
    case 3: return printf1("%02u:%02u", h, m);
    case 4: return printf1("%02u時%02u分%02u秒", h, m, s);
    case 5: return printf1("%02u時%02u分%02u.%03u秒", h, m, s, ms);
    case 6: return printf1("%02u時%02u分", h, m);
  }
  return std::string();
}

constexpr int kTimeSizes[7] = {0, 9, 13, 6, 13, 17, 9};
constexpr int kTimeSizesNoMs[7] = {0, 9, 9, 6, 13, 13, 9};
constexpr int kDateSizes[13] = {0, 11, 10, 6, 15, 17, 9, 16, 15, 11, 19, 21, 13};

const char* const kEnglishWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

std::string formatDate(uint32_t value, uint32_t form) {
  if (value == 0) return std::string();
  if (form < 1 || form > 12) return std::string();
  const uint32_t base = form > 6 ? form - 6 : form;
  if ((value & 0x80000000u) && (base == 1 || base == 4))
    return std::string(static_cast<size_t>(kDateSizes[form] - 1), '*');
  const CivilDate c = fromExDate(value);
  const unsigned y = static_cast<unsigned>(c.year), m = static_cast<unsigned>(c.month), d = static_cast<unsigned>(c.day);
  std::string text;
  switch (base) {
    case 1: text = printf1("%04u/%02u/%02u", y, m, d); break;
    case 2: {
      char letter;
      std::string name;
      int32_t eraYear;
      if (findEra(value, letter, name, eraYear))
        text = printf1("%c%02u/%02u/%02u", letter, static_cast<unsigned>(eraYear), m, d);
      else
        text = printf1("'%02u/%02u/%02u", y % 100, m, d);
      break;
    }
    case 3: text = printf1("%02u/%02u", m, d); break;
    case 4: text = printf1("%04u年%2u月%2u日", y, m, d); break;
    case 5: {
      char letter;
      std::string name;
      int32_t eraYear;
      if (findEra(value, letter, name, eraYear))
        text = printf1("%s%2u年%2u月%2u日", name.c_str(), static_cast<unsigned>(eraYear), m, d);
      else
        text = printf1("？%04u年%2u月%2u日", y, m, d);
      break;
    }
    case 6: text = printf1("%2u月%2u日", m, d); break;
  }
  if (form > 6) {
    const int w = weekdayOf(c.year, c.month, c.day);
    text += printf1("(%s)", form <= 9 ? kEnglishWeekdays[w] : japaneseWeekday(w));
  }
  return text;
}

bool dateTimeText(uint32_t date, uint32_t time, uint32_t choice, uint32_t format, bool withMilliseconds,
                  std::string& text) {
  const uint32_t timeForm = (format >> 20) & 15, dateForm = (format >> 24) & 15;
  if (timeForm < 1 || timeForm > 6 || dateForm < 1 || dateForm > 12) return false;
  switch (choice) {
    case 1: text = formatDate(date, dateForm) + " " + formatTime(time, timeForm, withMilliseconds); return true;
    case 2: text = formatTime(time, timeForm, withMilliseconds); return true;
    case 3: text = formatDate(date, dateForm); return true;
  }
  return false;
}

// A file time (100 ns since 1601, UTC) as a local ExDate and ExTime.
void fileTimeParts(uint64_t fileTime, uint32_t& date, uint32_t& time) {
  date = FileTimeToExDate(fileTime);
  time = FileTimeToExTime(fileTime);
}

// --- log values, lists, schedules ---
bool formatLog(uint32_t type, int32_t length, const uint8_t* value, std::string& text);

std::string scheduleText(uint32_t v) {
  if (!(v & 7)) return "No Schedule";
  static const char* const kDays[6] = {"月", "火", "水", "木", "金", "土"};
  std::string text;
  for (int i = 0; i < 6; ++i)
    if (v & (1u << (26 + i))) text += kDays[i];
  if (v & (1u << 25)) text += "日";
  text += printf1(" %02u:%02u:%02u", (v >> 15) & 31, (v >> 9) & 63, (v >> 3) & 63);
  return text;
}

std::string logText(uint16_t w) {
  if ((w & 0x3000) == 0x3000) return "Cancel Insert";
  if (w & 0x1000) return "Insert";
  if (w & 0x2000) return "Update";
  if (w & 0x4000) return "Delete";
  return "Unknown";
}

bool formatLog(uint32_t type, int32_t length, const uint8_t* value, std::string& text) {
  switch ((type >> 8) & 0xFF) {
    case 1:
      if (length < 2) return false;
      text = logText(static_cast<uint16_t>(readUnsigned(value, 2)));
      return true;
    case 2: {
      text.clear();
      int32_t at = 0;
      bool first = true;
      while (at + 6 <= length) {
        const uint32_t elementType = static_cast<uint32_t>(readUnsigned(value + at + 2, 2));
        const int32_t elementLength = static_cast<int32_t>(readUnsigned(value + at + 4, 2));
        at += 6;
        if (elementLength > length - at) return false;
        std::string element;
        if (!formatTypedValue(elementType, elementLength, elementLength ? value + at : nullptr, 0, element))
          return false;
        if (!first) text += ", ";
        text += element;
        first = false;
        at += elementLength;
      }
      return true;
    }
    case 8:
      if (length != 4) return false;
      text = scheduleText(read32(value));
      return true;
  }
  text.clear();
  return true;
}

}  // namespace

int32_t ToInsSepStr(char* out, int32_t size, const char* text, int32_t length, char separator) {
  if (!out || !text || separator == 0 || size <= 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const std::string number(text, length < 0 ? std::strlen(text) : static_cast<size_t>(length));
  size_t start = number.size() && number[0] == '-' ? 1 : 0;
  size_t end = start;
  while (end < number.size() && number[end] >= '0' && number[end] <= '9') ++end;
  std::string result = number.substr(0, start);
  for (size_t i = start; i < end; ++i) {
    if (i > start && (end - i) % 3 == 0) result += separator;
    result += number[i];
  }
  result += number.substr(end);
  if (result.size() + 1 > static_cast<size_t>(size)) {
    std::memset(out, '*', static_cast<size_t>(size - 1));
    out[size - 1] = 0;
    return size - 1;
  }
  std::memcpy(out, result.c_str(), result.size() + 1);
  return static_cast<int32_t>(result.size());
}

const char* japaneseWeekday(int weekday) {
  static const char* const kJapaneseWeekdays[7] = {"日", "月", "火", "水", "木", "金", "土"};
  return kJapaneseWeekdays[((weekday % 7) + 7) % 7];
}

bool formatTypedValue(uint32_t type, int32_t length, const uint8_t* value, uint32_t format, std::string& text) {
  format = resolveFormat(format);
  const uint32_t code = type & 31;
  if (length < 0) return false;
  if (type & TYPE_NULLABLE) {
    if (value && length > 0) {
      const bool present = value[0] & 1;
      ++value;
      --length;
      if (!present) value = nullptr;
    } else {
      value = nullptr;
    }
  }
  if (!value || length == 0) {
    if ((format & 3) == 1) {
      text.clear();
      return true;
    }
    text = "<null>";
    return (format & 3) == 2 || (format & 3) == 3;
  }
  switch (code) {
    case TYPE_TEXT:
      return formatText(value, length, format, text);
    case TYPE_SIGNED:
    case TYPE_UNSIGNED: {
      if (length > 8) return false;
      const uint32_t form = format & 0xF0;
      const bool isSigned = code == TYPE_SIGNED;
      const int64_t s = isSigned ? readSigned(value, length) : 0;
      const uint64_t u = readUnsigned(value, length);
      switch (form) {
        case 16: text = isSigned ? printf1("%" PRId64, s) : printf1("%" PRIu64, u); return true;
        case 32: text = printf1("%0*" PRIX64, 2 * length, u); return true;
        case 48: text = printf1("0x%0*" PRIX64, 2 * length, u); return true;
        case 64:
        case 80:
          text = withSeparators(isSigned ? printf1("%" PRId64, s) : printf1("%" PRIu64, u), form == 64 ? ',' : ' ');
          return true;
      }
      return false;
    }
    case TYPE_FLOAT: {
      if (length != 4 && length != 8) return false;
      const double v = readFloat(value, length);
      const int precision = static_cast<int>((format >> 12) & 15);
      switch (format & 0xF00) {
        case 256: text = printf1("%.*g", precision, v); return true;
        case 512: text = printf1("%.*e", precision, v); return true;
        case 768: text = printf1("%.*f", precision, v); return true;
        case 1024:
        case 1280: text = withSeparators(printf1("%.*f", precision, v), (format & 0xF00) == 1024 ? ',' : ' '); return true;
      }
      return false;
    }
    case TYPE_BINARY:
      if (length == 8 && value[0] == 0 && value[1] == 0) {
        text = printf1("0x%016" PRIX64, readUnsigned(value, 8));
        return true;
      }
      if (length >= 2 && value[0] == 0 && value[1] == 0) {
        text = printf1("0x%016" PRIX64, readUnsigned(value, length < 8 ? length : 8));
        return true;
      }
      text.assign(reinterpret_cast<const char*>(value), strnlen(reinterpret_cast<const char*>(value),
                                                                static_cast<size_t>(length < 128 ? length : 128)));
      return true;
    case TYPE_TIME: {
      if (length != 4) return false;
      const uint32_t form = (format >> 20) & 15;
      if (form < 1 || form > 6) return false;
      text = formatTime(read32(value), form, true);
      return true;
    }
    case TYPE_DATE: {
      if (length != 4) return false;
      const uint32_t form = (format >> 24) & 15;
      if (form < 1 || form > 12) return false;
      text = formatDate(read32(value), form);
      return true;
    }
    case TYPE_DATETIME:
      if (length != 8) return false;
      return dateTimeText(read32(value), read32(value + 4), (format >> 28) & 3, format, false, text);
    case TYPE_FILETIME: {
      if (length != 8) return false;
      uint32_t date, time;
      fileTimeParts(readUnsigned(value, 8), date, time);
      return dateTimeText(date, time, (format >> 30) & 3, format, true, text);
    }
    case TYPE_LOG:
      return formatLog(type, length, value, text);
  }
  return false;
}

namespace {

int decimalDigits(uint64_t v) {
  int d = 1;
  while (v >= 10) {
    v /= 10;
    ++d;
  }
  return d;
}

// Sizes for any value of a type and length (no value given).
int32_t sizeWithoutValue(uint32_t type, int32_t length, uint32_t format) {
  const uint32_t code = type & 31;
  if (type & TYPE_NULLABLE) --length;
  if (length < 0) return -1;
  if (length == 0) {
    switch (format & 3) {
      case 1: return 1;
      case 2: return 7;
    }
    return -1;
  }
  switch (code) {
    case TYPE_TEXT: {
      const uint32_t q = format & 0xC;
      if (q != 4 && q != 8 && q != 12) return -1;
      const int32_t extra = q == 4 ? 0 : 2;
      // Worst case: every byte a quote character, doubled.
      int32_t need = q == 4 ? 2 * length + 3 : 2 * length + 1 + extra;
      int32_t partRule = std::max(length + 1 + extra, 7) + extra;
      return std::max(need, partRule);
    }
    case TYPE_SIGNED:
    case TYPE_UNSIGNED: {
      if (length > 8) return -1;
      const uint32_t form = format & 0xF0;
      if (form == 32) return 2 * length + 1;
      if (form == 48) return 2 * length + 3;
      if (form != 16 && form != 64 && form != 80) return -1;
      const bool isSigned = code == TYPE_SIGNED;
      const uint64_t largest = isSigned ? (uint64_t(1) << (8 * length - 1))
                                        : (length == 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * length)) - 1);
      const int d = decimalDigits(largest);
      const int sign = isSigned ? 1 : 0;
      return form == 16 ? d + 1 + sign : d + (d - 1) / 3 + 1 + sign;
    }
    case TYPE_FLOAT: {
      if (length != 4 && length != 8) return -1;
      const uint32_t form = format & 0xF00;
      if (form != 256 && form != 512 && form != 768 && form != 1024 && form != 1280) return -1;
      // The longest text is that of the largest negative value.
      const double v = length == 4 ? -static_cast<double>(FLT_MAX) : -DBL_MAX;
      uint8_t bytes[8];
      if (length == 4) {
        float f = static_cast<float>(v);
        std::memcpy(bytes, &f, 4);
      } else {
        std::memcpy(bytes, &v, 8);
      }
      std::string text;
      formatTypedValue(TYPE_FLOAT, length, bytes, format, text);
      return static_cast<int32_t>(text.size()) + 1;
    }
    case TYPE_BINARY:
      return 129;
    case TYPE_TIME: {
      if (length != 4) return -1;
      const uint32_t form = (format >> 20) & 15;
      return form >= 1 && form <= 6 ? kTimeSizes[form] : -1;
    }
    case TYPE_DATE: {
      if (length != 4) return -1;
      const uint32_t form = (format >> 24) & 15;
      // Era names take up to 6 bytes where the table's size counts 4.
      return form >= 1 && form <= 12 ? kDateSizes[form] + ((form == 5 || form == 11) ? 2 : 0) : -1;
    }
    case TYPE_DATETIME:
    case TYPE_FILETIME: {
      if (length != 8) return -1;
      const uint32_t choice = code == TYPE_DATETIME ? (format >> 28) & 3 : (format >> 30) & 3;
      const uint32_t timeForm = (format >> 20) & 15, dateForm = (format >> 24) & 15;
      if (timeForm < 1 || timeForm > 6 || dateForm < 1 || dateForm > 12) return -1;
      const int timeSize = code == TYPE_DATETIME ? kTimeSizesNoMs[timeForm] : kTimeSizes[timeForm];
      const int dateSize = kDateSizes[dateForm] + ((dateForm == 5 || dateForm == 11) ? 2 : 0);
      if (choice == 1) return dateSize + timeSize;
      if (choice == 2) return timeSize;
      if (choice == 3) return dateSize;
      return -1;
    }
    case TYPE_LOG:
      switch ((type >> 8) & 0xFF) {
        case 1: return length >= 2 ? 14 : -1;
        case 2: return -1;
        case 8: return length == 4 ? 14 : -1;
      }
      return 1;
  }
  return -1;
}

}  // namespace
}  // namespace zemta

using namespace zemta;

ZEMTA_API uint32_t SetTypeDefFmt(uint32_t format) {
  const uint32_t previous = g_defaultFormat;
  uint32_t d = g_defaultFormat;
  auto replace = [&](uint32_t mask) {
    if (format & mask) d = (d & ~mask) | (format & mask);
  };
  replace(0x3);
  replace(0xC);
  replace(0xF0);
  if (format & 0xF00) d = (d & ~0xFF00u) | (format & 0xFF00u);
  replace(0xF00000);
  replace(0xF000000);
  replace(0x30000000);
  replace(0xC0000000);
  g_defaultFormat = d;
  return previous;
}

ZEMTA_API int32_t GetTypeStrBufLen(uint32_t type, int32_t length, const void* value, uint32_t format) {
  const uint32_t resolved = resolveFormat(format);
  if (length < 0) return -1;
  if (!value) {
    if (((type & 31) == TYPE_LOG) && ((type >> 8) & 0xFF) == 2) return -1;
    return sizeWithoutValue(type, length, resolved);
  }
  std::string text;
  if (!formatTypedValue(type, length, static_cast<const uint8_t*>(value), resolved, text)) return -1;
  return static_cast<int32_t>(text.size()) + 1;
}

ZEMTA_API int32_t TypeDataToStr(char* buffer, int32_t size, uint32_t type, int32_t length, const void* value,
                                uint32_t format) {
  if (!buffer || size <= 0 || (!value && length > 0)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  std::string text;
  if (!formatTypedValue(type, length, static_cast<const uint8_t*>(value), format, text)) return -1;
  if (text.size() + 1 > static_cast<size_t>(size)) {
    if (text == "<null>") return -1;
    // Too small: a row of "*" says so rather than a cut number.
    std::memset(buffer, '*', static_cast<size_t>(size - 1));
    buffer[size - 1] = 0;
    return size;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<int32_t>(text.size()) + 1;
}

namespace {

int32_t storeNullable(uint32_t type, int32_t length, uint8_t*& out) {
  if (!(type & TYPE_NULLABLE)) return 0;
  out[0] = 1;
  ++out;
  return 1;
}

}  // namespace

ZEMTA_API int32_t StrToTypeData(uint32_t type, int32_t length, void* outVoid, const char* text, int32_t direction) {
  if (!outVoid || !text || length <= 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  uint8_t* out = static_cast<uint8_t*>(outVoid);
  const bool nullable = type & TYPE_NULLABLE;
  if (nullable && platform::cp932::equalNoCase(text, "<NULL>")) {
    std::memset(out, 0, static_cast<size_t>(length) + 1);
    return 1;
  }
  const uint32_t code = type & 31;
  uint8_t value[8] = {};
  switch (code) {
    case TYPE_TEXT: {
      std::string t(length, '\0');
      std::strncpy(t.data(), text, static_cast<size_t>(length - 1));
      uint8_t& last = reinterpret_cast<uint8_t&>(t[static_cast<size_t>(length - 1)]);
      if (direction > 0) ++last;
      if (direction < 0) --last;
      const int32_t offset = storeNullable(type, length, out);
      std::memcpy(out, t.data(), static_cast<size_t>(length));
      return length + offset;
    }
    case TYPE_SIGNED: {
      if (length > 8) return -1;
      long long v;
      char end;
      if (std::sscanf(text, "%lld%c", &v, &end) != 1) return -1;
      const int64_t lo = length == 8 ? INT64_MIN : -(int64_t(1) << (8 * length - 1));
      const int64_t hi = length == 8 ? INT64_MAX : (int64_t(1) << (8 * length - 1)) - 1;
      if (v < lo || v > hi) return -1;
      if (direction > 0 && v < hi) ++v;
      if (direction < 0 && v > lo) --v;
      writeLittle(value, length, static_cast<uint64_t>(v));
      break;
    }
    case TYPE_UNSIGNED: {
      if (length > 8 || std::strchr(text, '-')) return -1;
      unsigned long long v;
      char end;
      if (std::sscanf(text, "%llu%c", &v, &end) != 1) return -1;
      const uint64_t hi = length == 8 ? UINT64_MAX : (uint64_t(1) << (8 * length)) - 1;
      if (v > hi) return -1;
      if (direction > 0 && v < hi) ++v;
      if (direction < 0 && v > 0) --v;
      writeLittle(value, length, v);
      break;
    }
    case TYPE_FLOAT: {
      if (length != 4 && length != 8) return -1;
      double v;
      char end;
      if (std::sscanf(text, "%lf%c", &v, &end) != 1) return -1;
      if (length == 4) {
        float f = static_cast<float>(v);
        if (direction > 0) f += FLT_MIN;
        if (direction < 0) f -= FLT_MIN;
        std::memcpy(value, &f, 4);
      } else {
        if (direction > 0) v += DBL_MIN;
        if (direction < 0) v -= DBL_MIN;
        std::memcpy(value, &v, 8);
      }
      break;
    }
    case TYPE_TIME: {
      if (length != 4) return -1;
      unsigned h = 0, m = 0, s = 0, ms = 0;
      if (std::sscanf(text, "%u:%u:%u.%u", &h, &m, &s, &ms) < 2) return -1;
      if (h > 23 || m >= 60 || s >= 60 || ms >= 1000) return -1;
      uint32_t t = toExTime(static_cast<int>(h), static_cast<int>(m), static_cast<int>(s), static_cast<int>(ms));
      if (direction > 0) t += 2;
      if (direction < 0) t -= 2;
      writeLittle(value, 4, t);
      break;
    }
    case TYPE_DATE: {
      if (length != 4) return -1;
      unsigned a = 0, b = 0, c = 0;
      const int n = std::sscanf(text, "%u/%u/%u", &a, &b, &c);
      const platform::LocalTime now = platform::localTime();
      int64_t year = now.year;
      unsigned month = static_cast<unsigned>(now.month), day;
      if (n == 1) {
        day = a;
      } else if (n == 2) {
        month = a;
        day = b;
      } else if (n == 3) {
        year = a;
        month = b;
        day = c;
      } else {
        return -1;
      }
      if (month < 1 || month > 12 || day < 1 || static_cast<int>(day) > daysInMonth(year, static_cast<int>(month)))
        return -1;
      int64_t days = daysFromCivil(year, static_cast<int>(month), static_cast<int>(day)) + (direction > 0) -
                     (direction < 0);
      int64_t y;
      int m, d;
      civilFromDays(days, y, m, d);
      writeLittle(value, 4, toExDate(y, m, d));
      break;
    }
    default:
      return -1;
  }
  const int32_t offset = storeNullable(type, length, out);
  std::memcpy(out, value, static_cast<size_t>(length));
  return length + offset;
}

namespace {

int32_t writeBound(uint32_t type, int32_t length, void* outVoid, bool largest) {
  if (!outVoid || length <= 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  uint8_t* out = static_cast<uint8_t*>(outVoid);
  const uint32_t code = type & 31;
  uint8_t bytes[8];
  switch (code) {
    case TYPE_TEXT: {
      const int32_t offset = storeNullable(type, length, out);
      std::memset(out, largest ? 0xFF : 0x00, static_cast<size_t>(length));
      return length + offset;
    }
    case TYPE_UNSIGNED:
      if (length > 8) return -1;
      std::memset(bytes, largest ? 0xFF : 0x00, 8);
      break;
    case TYPE_SIGNED:
      if (length > 8) return -1;
      std::memset(bytes, largest ? 0xFF : 0x00, 8);
      bytes[length - 1] = largest ? 0x7F : 0x80;
      break;
    case TYPE_FLOAT:
      if (length == 4)
        writeLittle(bytes, 4, largest ? 0x7F7FFFFFu : 0xFF7FFFFFu);
      else if (length == 8)
        writeLittle(bytes, 8, largest ? 0x7FEFFFFFFFFFFFFFull : 0xFFEFFFFFFFFFFFFFull);
      else
        return -1;
      break;
    case TYPE_TIME:
      if (length != 4) return -1;
      writeLittle(bytes, 4, largest ? 0xBF7DCE1Fu : 1u);
      break;
    case TYPE_DATE:
      if (length != 4) return -1;
      writeLittle(bytes, 4, largest ? 0x7FFFFF9Fu : 0x80000021u);
      break;
    default:
      return -1;
  }
  const int32_t offset = storeNullable(type, length, out);
  std::memcpy(out, bytes, static_cast<size_t>(length));
  return length + offset;
}

}  // namespace

ZEMTA_API int32_t TypeMaxData(uint32_t type, int32_t length, void* out) { return writeBound(type, length, out, true); }
ZEMTA_API int32_t TypeMinData(uint32_t type, int32_t length, void* out) { return writeBound(type, length, out, false); }

ZEMTA_API int32_t TypeDataToCalcData(void* calc, uint32_t type, int32_t length, const void* valueVoid) {
  if (!calc || !valueVoid) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  const uint8_t* value = static_cast<const uint8_t*>(valueVoid);
  uint8_t result[8] = {};
  if (type & TYPE_NULLABLE) {
    if (length < 1) return -1;
    if (!(value[0] & 1)) {
      std::memcpy(calc, result, 8);
      return 0;
    }
    ++value;
    --length;
  }
  switch (type & 31) {
    case TYPE_SIGNED:
      if (length < 1 || length > 8) return -1;
      writeLittle(result, 8, static_cast<uint64_t>(readSigned(value, length)));
      break;
    case TYPE_UNSIGNED:
      if (length < 1 || length > 8) return -1;
      writeLittle(result, 8, readUnsigned(value, length));
      break;
    case TYPE_FLOAT: {
      if (length != 4 && length != 8) return -1;
      const double d = readFloat(value, length);
      std::memcpy(result, &d, 8);
      break;
    }
    case TYPE_DATETIME:
    case TYPE_FILETIME:
      if (length != 8) return -1;
      std::memcpy(result, value, 8);
      break;
    case TYPE_TIME:
    case TYPE_DATE:
      if (length != 4) return -1;
      std::memcpy(result, value, 4);
      break;
    default:
      return -1;
  }
  std::memcpy(calc, result, 8);
  return 0;
}

namespace {

// The length of the value part of a field (after the presence byte of a
// nullable type) that can hold a calculation value, or -1 when the type or
// length can't.
int32_t calcValueLength(uint32_t type, int32_t length) {
  if (type & TYPE_NULLABLE) {
    if (length < 2) return -1;
    --length;
  }
  switch (type & 31) {
    case TYPE_SIGNED:
    case TYPE_UNSIGNED:
      return length <= 8 ? length : -1;
    case TYPE_FLOAT:
      return length == 4 || length == 8 ? length : -1;
    case TYPE_DATETIME:
    case TYPE_FILETIME:
      return length == 8 ? length : -1;
    case TYPE_TIME:
    case TYPE_DATE:
      return length == 4 ? length : -1;
  }
  return -1;
}

}  // namespace

ZEMTA_API int32_t CalcDataToTypeData(uint32_t type, int32_t length, void* outVoid, const void* calc) {
  if (!outVoid || !calc || length <= 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  // The length is checked before anything is written: a caller that passed a
  // length its buffer does not have gets a failure, not an overrun.
  const int32_t valueLength = calcValueLength(type, length);
  if (valueLength < 0) return -1;
  uint8_t* out = static_cast<uint8_t*>(outVoid);
  uint8_t value[8];
  std::memcpy(value, calc, 8);
  std::memset(out, 0, static_cast<size_t>(length));
  if (type & TYPE_NULLABLE) *out++ = 1;
  if ((type & 31) == TYPE_FLOAT && valueLength == 4) {
    double d;
    std::memcpy(&d, value, 8);
    const float f = static_cast<float>(d);
    std::memcpy(out, &f, 4);
  } else {
    std::memcpy(out, value, static_cast<size_t>(valueLength));
  }
  return 0;
}
