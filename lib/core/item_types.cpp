// Item types: how a field's bytes inside a record are read through its bit
// field, typed in (input text), shown (display text) and mapped to SQL types,
// and the form-item operations that show and store line n of a form item.
//
// A form item repeats over its lines; line n's field lies at the item's record
// offset plus n times its step (with a step of 0 every line shows the same
// field, except that text items then advance by the display width). The record
// itself is held in segments walked column by column (see ItemForm in
// zemta/typed.h); a field must lie whole inside one segment.
#include "lib/core/item_types.h"

#include <algorithm>
#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "lib/core/calendar.h"
#include "lib/core/report.h"
#include "lib/core/strcnvf.h"
#include "lib/core/typed_data.h"
#include "platform/base/cp932.h"
#include "zemta/date.h"
#include "zemta/scan.h"
#include "zemta/typed.h"

namespace zemta {
namespace {

// Era letters of the date items: the year maps to the Gregorian year as base + year.
constexpr char kShowaLetter = 'S';
constexpr int32_t kShowaBase = 1925;
constexpr char kHeiseiLetter = 'H';
constexpr int32_t kHeiseiBase = 1988;

char g_thirdEraLetter = 'R';
int32_t g_thirdEraBase = 2018;

void normalise(uint16_t position, int32_t size, uint32_t& shift, uint32_t& width) {
  shift = position & 0xFF;
  width = position >> 8;
  const uint32_t bits = 8u * static_cast<uint32_t>(size < 4 ? (size > 0 ? size : 0) : 4);
  if (shift >= 32) shift = 0, width = 0;
  if (width == 0) width = bits;
  if (shift + width > 32) width = 32 - shift;
}

uint32_t maskOf(uint32_t width) { return width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1; }

// Bytes of a code page 932 text, at most limit, that never end on a lead byte.
size_t wholeCharacters(const uint8_t* text, size_t length, size_t limit) {
  return platform::cp932::fitLength(std::string_view(reinterpret_cast<const char*>(text), length), limit);
}

}  // namespace

uint32_t GetBitData(int32_t size, const uint8_t* field, uint16_t position, bool isSigned) {
  uint32_t word = 0;
  const int32_t n = size < 4 ? size : 4;
  for (int32_t i = 0; i < n; ++i) word |= uint32_t(field[i]) << (8 * i);
  uint32_t shift, width;
  normalise(position, size, shift, width);
  if (width == 0) return 0;
  uint32_t v = (word >> shift) & maskOf(width);
  if (isSigned && width < 32 && (v & (1u << (width - 1)))) v |= ~maskOf(width);
  return v;
}

void SetBitData(uint16_t position, int32_t size, uint8_t* field, uint32_t value) {
  uint32_t word = 0;
  const int32_t n = size < 4 ? size : 4;
  for (int32_t i = 0; i < n; ++i) word |= uint32_t(field[i]) << (8 * i);
  uint32_t shift, width;
  normalise(position, size, shift, width);
  const uint32_t mask = maskOf(width) << shift;
  word = (word & ~mask) | ((value << shift) & mask);
  for (int32_t i = 0; i < n; ++i) field[i] = static_cast<uint8_t>(word >> (8 * i));
}

bool IsIntType(uint32_t t) {
  t &= 63;
  return (t >= 2 && t <= 7) || (t >= 14 && t <= 21) || (t >= 28 && t <= 32) || (t >= 34 && t <= 36) || t == 40 ||
         t == 41 || t == 46 || t == 47;
}

bool IsSignedIntType(uint32_t t) {
  t &= 63;
  return t == 7 || t == 28 || t == 29 || (t >= 34 && t <= 36) || t == 46 || t == 47;
}

bool IsFloatType(uint32_t t) {
  t &= 63;
  return (t >= 8 && t <= 13) || t == 48 || t == 49;
}

namespace {

bool isTextType(uint32_t t) { return t == 0 || t == 1 || t == 38 || t == 39; }
bool isChoiceType(uint32_t t) { return t == 32 || t == 34 || t == 35; }
bool isFlagType(uint32_t t) { return t >= 16 && t <= 21; }

// The printf conversion of the number types; null for the others.
const char* conversionOf(uint32_t t) {
  switch (t) {
    case 3: return "lo";
    case 4: case 40: case 41: return "lu";
    case 5: return "lx";
    case 6: return "lX";
    case 7: case 28: case 29: case 36: case 46: case 47: return "ld";
    case 8: case 13: case 48: case 49: return "f";
    case 9: return "e";
    case 10: return "E";
    case 11: return "g";
    case 12: return "G";
  }
  return nullptr;
}

// The DOS date word of an input date: optional era letter, year, month, day.
uint16_t dateWordOf(const char* text) {
  unsigned year = 0, month = 0, day = 0;
  char letter = 0;
  while (*text == ' ') ++text;
  if ((*text >= 'A' && *text <= 'Z') || (*text >= 'a' && *text <= 'z')) letter = static_cast<char>(*text++ & ~0x20);
  if (std::sscanf(text, "%u/%u/%u", &year, &month, &day) != 3) return 0;
  if (year > 99 || month < 1 || month > 12 || day < 1 || day > 31) return 0;
  int64_t full;
  if (letter == kShowaLetter)
    full = kShowaBase + year;
  else if (letter == kHeiseiLetter)
    full = kHeiseiBase + year;
  else if (letter && letter == (g_thirdEraLetter & ~0x20))
    full = g_thirdEraBase + year;
  else if (letter)
    return 0;
  else
    full = year >= 80 ? 1900 + year : 2000 + year;
  if (full < 1980 || full > 2107) return 0;
  return toDosDate(full, static_cast<int>(month), static_cast<int>(day));
}

// The era a date item shows a year in: of Showa, Heisei and the third era, the
// one whose base year lies nearest below the year. False when none does.
bool itemEraOf(int64_t year, char& letter, int64_t& eraYear) {
  const struct {
    char letter;
    int32_t base;
  } eras[3] = {{kShowaLetter, kShowaBase}, {kHeiseiLetter, kHeiseiBase}, {g_thirdEraLetter, g_thirdEraBase}};
  int best = -1;
  for (int i = 0; i < 3; ++i)
    if (eras[i].base < year && (best < 0 || eras[i].base >= eras[best].base)) best = i;
  if (best < 0) return false;
  letter = eras[best].letter;
  eraYear = year - eras[best].base;
  return true;
}

// The Japanese text of a date word (low 16 bits) and time word (high 16
// bits), by which of year, month, day and time are non-zero. The weekday of a
// date without its year or month is taken in the current year or month.
std::string japaneseDateText(uint32_t value) {
  const uint16_t date = static_cast<uint16_t>(value);
  const uint16_t time = static_cast<uint16_t>(value >> 16);
  const unsigned yearBits = date >> 9, month = (date >> 5) & 15, day = date & 31;
  const unsigned year = 1980 + yearBits, hour = time >> 11, minute = (time >> 5) & 63;
  uint16_t today = 0;
  if (!yearBits || !month) GetDate(&today, nullptr);
  const uint16_t dated = static_cast<uint16_t>(((yearBits ? yearBits : today >> 9u) << 9) |
                                               ((month ? month : (today >> 5u) & 15u) << 5) | day);
  const char* weekday = japaneseWeekday(GetWeek(dated));
  char b[80];
  if (time && date)
    std::snprintf(b, sizeof b, "%4u年%2u月%2u日(%2.2s)%2u時%2u分", year, month, day, weekday, hour, minute);
  else if (time)
    std::snprintf(b, sizeof b, "%2u時%2u分", hour, minute);
  else if (yearBits && day)
    std::snprintf(b, sizeof b, "%4u年%2u月%2u日(%2.2s)", year, month, day, weekday);
  else if (yearBits && month)
    std::snprintf(b, sizeof b, "%4u年%2u月", year, month);
  else if (month && day)
    std::snprintf(b, sizeof b, "%2u月%2u日(%2.2s)", month, day, weekday);
  else if (yearBits)
    std::snprintf(b, sizeof b, "%4u年", year);
  else if (month)
    std::snprintf(b, sizeof b, "%2u月", month);
  else if (day)
    std::snprintf(b, sizeof b, "%2u日(%2.2s)", day, weekday);
  else
    b[0] = 0;
  return b;
}

const char kPrintFlags[8] = {0, '-', '+', '0', ' ', '#', 0, 0};

}  // namespace

int32_t ItemStrToData(uint16_t itemType, uint16_t position, int32_t size, uint8_t* field, const char* text) {
  if (!field || !text || size <= 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const uint32_t t = itemType & 63;
  std::string before(reinterpret_cast<const char*>(field), static_cast<size_t>(size));
  if (IsIntType(t)) {
    if (size > 4) return -1;
    uint32_t v = 0;
    if (t == 3) {
      unsigned long u;
      if (std::sscanf(text, "%lo", &u) != 1) return -1;
      v = static_cast<uint32_t>(u);
    } else if (t == 4 || t == 40 || t == 41) {
      unsigned long u;
      if (std::sscanf(text, "%lu", &u) != 1) return -1;
      v = static_cast<uint32_t>(u);
    } else if (t == 5 || t == 6) {
      unsigned long u;
      if (std::sscanf(text, "%lx", &u) != 1) return -1;
      v = static_cast<uint32_t>(u);
    } else if (t == 14 || t == 31) {
      v = dateWordOf(text);
    } else if (t == 15) {
      unsigned h = 0, m = 0, s = 0;
      if (std::sscanf(text, "%u:%u:%u", &h, &m, &s) < 2 || h > 23 || m > 59 || s > 59) return -1;
      v = (h << 11) | (m << 5) | (s / 2);
    } else if (isFlagType(t)) {
      // "ON" (or the stars that types 18 and 19 show) is on; odd types store it inverted.
      while (*text == ' ') ++text;
      const bool on = std::strncmp(text, "ON", 2) == 0 || ((t == 18 || t == 19) && *text == '*');
      v = (on != ((t & 1) != 0)) ? 1 : 0;
    } else {
      long s;
      if (std::sscanf(text, "%ld", &s) != 1) return -1;
      v = static_cast<uint32_t>(s);
    }
    SetBitData(position, size, field, v);
  } else if (IsFloatType(t)) {
    if (size != 4 && size != 8) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return -1;
    }
    double d;
    if (std::sscanf(text, "%lf", &d) != 1) return -1;
    if (size == 4) {
      float f = static_cast<float>(d);
      std::memcpy(field, &f, 4);
    } else {
      std::memcpy(field, &d, 8);
    }
  } else if (isTextType(t)) {
    size_t n = std::strlen(text);
    while (n && text[n - 1] == ' ') --n;
    if (n > static_cast<size_t>(size)) n = static_cast<size_t>(size);
    std::memset(field, 0, static_cast<size_t>(size));
    std::memcpy(field, text, n);
  } else {
    size_t n = std::strlen(text);
    if (n > static_cast<size_t>(size)) n = static_cast<size_t>(size);
    std::memset(field, 0, static_cast<size_t>(size));
    std::memcpy(field, text, n);
  }
  return std::memcmp(before.data(), field, static_cast<size_t>(size)) != 0 ? 1 : 0;
}

std::string ItemDataToStr(uint16_t itemType, int32_t width, const uint8_t* value, int32_t size) {
  if (size <= 0 || width > 4095 || width < 0 || !value) return std::string();
  const uint32_t t = itemType & 63;
  const uint32_t precision = (itemType >> 8) & 31;
  const char flag = kPrintFlags[itemType >> 13];
  const std::string flagText = flag ? std::string(1, flag) : std::string();
  char format[32];

  if (t == 1) {
    // Text at the display width: justified by printf itself, so that its
    // commas and blanks stay as they are.
    const size_t length = strnlen(reinterpret_cast<const char*>(value), static_cast<size_t>(size));
    const std::string s(reinterpret_cast<const char*>(value), wholeCharacters(value, length, length));
    std::snprintf(format, sizeof format, "%%%s%d.%ds", flagText.c_str(), width, size);
    std::string text(static_cast<size_t>(width) + s.size() + 1, '\0');
    const int n = std::snprintf(text.data(), text.size(), format, s.c_str());
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    if (itemType & 0x80) text = toFullWidth(text);
    if (width > 0) text.resize(wholeCharacters(reinterpret_cast<const uint8_t*>(text.data()), text.size(), width));
    return text;
  }
  if (!IsIntType(t) && !IsFloatType(t)) {
    // Text and raw bytes: copied, never ending on the lead byte of a double-byte character.
    const size_t length = strnlen(reinterpret_cast<const char*>(value), static_cast<size_t>(size));
    const size_t n = wholeCharacters(value, length, width > 0 ? static_cast<size_t>(width) : length);
    return std::string(reinterpret_cast<const char*>(value), n);
  }

  const char* conversion = conversionOf(t);
  int32_t integer = 0;
  // Integers always come as 4 bytes: the size may carry a reference word instead.
  if (IsIntType(t)) std::memcpy(&integer, value, 4);
  std::string text;
  if (t == 14 || t == 31) {
    const uint16_t w = static_cast<uint16_t>(integer);
    if (w == 0) {
      text = "  /  /  ";
    } else {
      const CivilDate c = fromDosDate(w);
      char letter = 0;
      int64_t eraYear = 0;
      char buffer[40];
      if (width == 5)
        std::snprintf(buffer, sizeof buffer, "%2u/%2u", unsigned(c.month), unsigned(c.day));
      else if (t == 31 && itemEraOf(c.year, letter, eraYear))
        std::snprintf(buffer, sizeof buffer, "%c%02u/%02u/%02u", letter, unsigned(eraYear), unsigned(c.month),
                      unsigned(c.day));
      else
        std::snprintf(buffer, sizeof buffer, "%02u/%02u/%02u", unsigned(c.year % 100), unsigned(c.month),
                      unsigned(c.day));
      text = buffer;
    }
  } else if (t == 15) {
    const uint32_t w = static_cast<uint16_t>(integer);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02u:%02u:%02u", w >> 11, (w >> 5) & 63, (w & 31) * 2);
    text = buffer;
  } else if (t == 30) {
    text = japaneseDateText(static_cast<uint32_t>(integer));
  } else if (isFlagType(t)) {
    // Odd flag types keep "on" inverted, as their input stores it.
    const bool on = (integer != 0) != ((t & 1) != 0);
    if (t == 18 || t == 19) text.assign(static_cast<size_t>(width), on ? '*' : ' ');
    else if (t == 20 || t == 21) text = on ? "ON" : "OFF";
    else return "#Error!";
  } else if (!conversion) {
    return "#Error!";
  } else {
    // A print flag with no decimals asks for the number itself: a precision of
    // 0 would print nothing for 0 and make printf ignore the "0" flag.
    if (flag && precision == 0 && !IsFloatType(t))
      std::snprintf(format, sizeof format, "%%%s%d%s", flagText.c_str(), width, conversion);
    else
      std::snprintf(format, sizeof format, "%%%s%d.%u%s", flagText.c_str(), width, precision, conversion);
    std::string buffer(static_cast<size_t>(width) + 400, '\0');
    int n;
    if (IsFloatType(t)) {
      double d;
      std::memcpy(&d, value, std::min<size_t>(8, static_cast<size_t>(size)));
      n = std::snprintf(buffer.data(), buffer.size(), format, d);
    } else if (IsSignedIntType(t)) {
      n = std::snprintf(buffer.data(), buffer.size(), format, static_cast<long>(integer));
    } else {
      n = std::snprintf(buffer.data(), buffer.size(), format, static_cast<unsigned long>(static_cast<uint32_t>(integer)));
    }
    text.assign(buffer.data(), n > 0 ? static_cast<size_t>(n) : 0);
    if (t == 13 && text.find('.') != std::string::npos) {
      while (!text.empty() && text.back() == '0') text.pop_back();
      if (!text.empty() && text.back() == '.') text.pop_back();
    }
  }

  // Justify and decorate through the number formatter.
  uint32_t flags = 0;
  if ((itemType >> 13) == 1) flags |= STRCNVF_LEFT;
  if ((itemType & 0x40) && conversion) flags |= STRCNVF_COMMA;
  if (itemType & 0x80) flags |= STRCNVF_FULLWIDTH;
  if (t == 28) flags |= STRCNVF_YEN;
  if (t == 29) flags |= STRCNVF_YEN | STRCNVF_MINUS;
  // Dates, times and the Japanese date texts are no numbers: their zeros stay
  // (an hour 0 is no leading zero to drop).
  if (t == 14 || t == 15 || t == 30 || t == 31 || itemType >= 0x6000) flags |= STRCNVF_KEEPZERO;
  if (t == 29 && !text.empty()) {
    const size_t minus = text.find('-');
    if (minus != std::string::npos) text[minus] = ' ';
    else flags &= ~STRCNVF_MINUS;
  }
  if (width == 0) {
    // No width given: room for every decoration, the blanks in front dropped.
    std::string buffer(text.size() * 3 + 8, ' ');
    std::memcpy(buffer.data() + buffer.size() - text.size(), text.data(), text.size());
    StrCnvf(flags, static_cast<uint32_t>(buffer.size()), buffer.data());
    const size_t first = buffer.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : std::string(buffer.c_str() + first);
  }
  const size_t field = static_cast<size_t>(width);
  // A number wider than the field shows as stars, never cut to other digits.
  if (text.size() > field) return std::string(field, '*');
  std::string buffer(field + 1, '\0');
  std::memset(buffer.data(), ' ', field - text.size());
  std::memcpy(buffer.data() + field - text.size(), text.data(), text.size());
  StrCnvf(flags, static_cast<uint32_t>(field), buffer.data());
  return std::string(buffer.c_str());
}

void ItemMinData(uint16_t itemType, uint16_t position, int32_t size, uint8_t* out) {
  const uint32_t t = itemType & 63;
  std::memset(out, 0, static_cast<size_t>(size));
  if (IsIntType(t)) {
    uint32_t shift, width;
    normalise(position, size, shift, width);
    if (IsSignedIntType(t) && width) SetBitData(position, size, out, 1u << (width - 1));
  } else if (IsFloatType(t)) {
    if (size == 4) {
      float f = FLT_MIN;
      std::memcpy(out, &f, 4);
    } else if (size == 8) {
      double d = DBL_MIN;
      std::memcpy(out, &d, 8);
    }
  }
}

void ItemMaxData(uint16_t itemType, uint16_t position, int32_t size, uint8_t* out) {
  const uint32_t t = itemType & 63;
  if (IsIntType(t)) {
    std::memset(out, 0, static_cast<size_t>(size));
    uint32_t shift, width;
    normalise(position, size, shift, width);
    SetBitData(position, size, out, IsSignedIntType(t) && width ? maskOf(width - 1) : 0xFFFFFFFFu);
  } else if (IsFloatType(t)) {
    std::memset(out, 0, static_cast<size_t>(size));
    if (size == 4) {
      float f = FLT_MAX;
      std::memcpy(out, &f, 4);
    } else if (size == 8) {
      double d = DBL_MAX;
      std::memcpy(out, &d, 8);
    }
  } else {
    std::memset(out, 0xFF, static_cast<size_t>(size));
  }
}

}  // namespace zemta

using namespace zemta;

ZEMTA_API int32_t ItemSetEra(char letter, int32_t baseYear) {
  g_thirdEraLetter = letter;
  g_thirdEraBase = baseYear;
  return baseYear;
}

namespace {

// Display width of a field by its type (ItemGetData's text).
int32_t displayWidth(uint16_t itemType, uint16_t position, int32_t size) {
  const uint32_t t = itemType & 63;
  if (t == 14 || t == 31) return 9;
  if (t == 15) return 8;
  if (IsIntType(t)) {
    uint32_t shift, width;
    normalise(position, size, shift, width);
    const double bits = width;
    int32_t digits;
    if (t == 3) digits = static_cast<int32_t>(std::ceil(bits / 3));
    else if (t == 5 || t == 6) digits = static_cast<int32_t>(std::ceil(bits / 4));
    else if (IsSignedIntType(t)) digits = static_cast<int32_t>(std::ceil((bits - 1) * std::log10(2.0))) + 1;
    else digits = static_cast<int32_t>(std::ceil(bits * std::log10(2.0)));
    if (itemType & 0x1F00) digits += (digits - 1) / 3;
    return digits;
  }
  if (t == 8) return size == 4 ? ((itemType & 0x1F00) ? 15 : 12) : ((itemType & 0x1F00) ? 24 : 19);
  if (t >= 9 && t <= 12) return size == 4 ? 17 : 24;
  return size;
}

}  // namespace

ZEMTA_API int32_t ItemGetData(ItemValue* v) {
  if (!v) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  if (!v->record) {
    v->integer = 0;
    v->real = 0;
    std::memset(v->text, 0, sizeof v->text);
    return 0;
  }
  const uint32_t t = v->type & 63;
  const uint8_t* field = v->record + (v->offset & 0x7FFF);
  const int32_t size = v->size;
  if (IsFloatType(t) && size != 4 && size != 8) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  double real = 0;
  int32_t integer = 0;
  if (IsIntType(t) && size <= 4) {
    integer = static_cast<int32_t>(GetBitData(size, field, v->position, IsSignedIntType(t)));
    real = integer;
  } else if (IsFloatType(t)) {
    if (size == 4) {
      float f;
      std::memcpy(&f, field, 4);
      real = f;
    } else {
      std::memcpy(&real, field, 8);
    }
    integer = static_cast<int32_t>(real);
  }
  if (v->kind == ITEM_VALUE_TEXT) {
    int32_t width = displayWidth(v->type, v->position, size);
    if (width > 4095) width = 4095;
    std::string text;
    if (IsIntType(t)) {
      uint8_t bytes[4];
      std::memcpy(bytes, &integer, 4);
      text = size > 4 ? std::string("#Error!") : ItemDataToStr(v->type, width, bytes, 4);
    } else if (IsFloatType(t)) {
      uint8_t bytes[8];
      std::memcpy(bytes, &real, 8);
      text = ItemDataToStr(v->type, width, bytes, 8);
    } else {
      text = ItemDataToStr(v->type, width, field, size);
    }
    std::memset(v->text, 0, sizeof v->text);
    std::memcpy(v->text, text.data(), std::min(text.size(), sizeof v->text - 1));
  } else if (v->kind == ITEM_VALUE_INTEGER || v->kind == ITEM_VALUE_DOUBLE) {
    v->integer = integer;
    v->real = real;
  } else {
    std::memset(v->text, 0, sizeof v->text);
    std::memcpy(v->text, field, static_cast<size_t>(std::min<int32_t>(size, sizeof v->text)));
  }
  return 0;
}

ZEMTA_API int32_t ItemSetData(ItemValue* v) {
  if (!v || !v->record) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  const uint32_t t = v->type & 63;
  uint8_t* field = v->record + (v->offset & 0x7FFF);
  const int32_t size = v->size;
  if (v->kind == ITEM_VALUE_TEXT) {
    v->text[sizeof v->text - 1] = 0;
    return ItemStrToData(v->type, v->position, size, field, v->text);
  }
  std::string before(reinterpret_cast<const char*>(field), static_cast<size_t>(size));
  if (v->kind == ITEM_VALUE_INTEGER || v->kind == ITEM_VALUE_DOUBLE) {
    const double real = v->kind == ITEM_VALUE_DOUBLE ? v->real : v->integer;
    if (IsIntType(t)) {
      if (size > 4) {
        ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
        return -1;
      }
      const int32_t integer = v->kind == ITEM_VALUE_DOUBLE ? static_cast<int32_t>(v->real) : v->integer;
      SetBitData(v->position, size, field, static_cast<uint32_t>(integer));
    } else if (IsFloatType(t)) {
      if (size == 4) {
        float f = static_cast<float>(real);
        std::memcpy(field, &f, 4);
      } else if (size == 8) {
        std::memcpy(field, &real, 8);
      } else {
        ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
        return -1;
      }
    } else {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return -1;
    }
  } else {
    std::memcpy(field, v->text, static_cast<size_t>(std::min<int32_t>(size, sizeof v->text)));
  }
  return std::memcmp(before.data(), field, static_cast<size_t>(size)) != 0 ? 1 : 0;
}

ZEMTA_API int32_t ItemConvSqlType(const ItemValue* field, int16_t* sqlType, char* typeName, int32_t* columnSize) {
  if (!field) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  const uint32_t t = field->type & 63;
  const int32_t s = field->size;
  uint32_t shift, w;
  normalise(field->position, s, shift, w);
  if ((field->position >> 8) == 0 && s > 4) w = 0;
  int16_t type;
  const char* name;
  int32_t column;
  if (t == 0 || t == 1) type = 1, name = "CHAR", column = s < 255 ? s : 255;
  else if (IsFloatType(t) && s > 4) type = 8, name = "DOUBLE", column = 15;
  else if (IsFloatType(t)) type = 7, name = "REAL", column = 7;
  else if (t == 14 || t == 15) type = 11, name = "TIMESTAMP", column = 19;
  else if (w == 1) type = -7, name = "BIT", column = 1;
  else if (s < 2 || (w > 0 && w < 9)) type = -6, name = "TINYINT", column = 3;
  else if (s < 3 || (w > 0 && w <= 16)) type = 5, name = "SMALLINT", column = 5;
  else if (s > 4) type = -5, name = "BIGINT", column = 19;
  else type = 4, name = "INTEGER", column = 10;
  if (sqlType) *sqlType = type;
  if (typeName) std::snprintf(typeName, 16, "%s", name);
  if (columnSize) *columnSize = column;
  return type;
}

namespace {

struct TypeInfo {
  const char* name;
  int16_t type;
};
constexpr TypeInfo kTypeInfo[23] = {
    {"BIGINT", -5}, {"BINARY", -2}, {"BIT", -7}, {"CHAR", 1}, {"DATE", 9}, {"DECIMAL", 3},
    {"DOUBLE", 8}, {"FLOAT", 6}, {"INTEGER", 4}, {"LONGVARBINARY", -4}, {"LONGCHAR", -1}, {"CURRENCY", 2},
    {"REAL", 7}, {"SMALLINT", 5}, {"TIME", 10}, {"TIMESTAMP", 11}, {"BYTE", -6}, {"VARBINARY", -3},
    {"VARCHAR", 12}, {"DATETIME", 9}, {"TINYINT", -6}, {"NVARCHAR", -9}, {"GUID", -11},
};

int32_t columnSizeOf(int16_t type) {
  switch (type) {
    case -4: case -1: return 0x3FFFFFFF;
    case -11: case -3: case -2: return 510;
    case 1: case 12: case -9: return 255;
    case 9: case 10: case 11: case 2: return 19;
    case 4: return 10;
    case 5: return 5;
    case 6: case 8: return 15;
    case -7: return 1;
    case -6: return 3;
    case -5: return 18;
  }
  return 0;
}

}  // namespace

ZEMTA_API int32_t ItemGetTypeInfo(ItemTypeInfoRow* row, int32_t sqlType, int32_t index) {
  if (!row) return 23;
  int found = -1;
  if (sqlType != 0) {
    for (int i = 0; i < 23; ++i)
      if (kTypeInfo[i].type == sqlType) {
        found = i;
        break;
      }
  } else if (index >= 0 && index < 23) {
    found = index;
  }
  if (found < 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const TypeInfo& info = kTypeInfo[found];
  std::memset(row, 0, sizeof *row);
  std::snprintf(row->typeName, sizeof row->typeName, "%s", info.name);
  row->sqlType = info.type;
  row->columnSize = columnSizeOf(info.type);
  const bool binary = info.type == -11 || info.type == -3 || info.type == -2;
  const bool character = info.type == 1 || info.type == 12 || info.type == -9;
  const bool date = info.type >= 9 && info.type <= 11;
  const char* affix = binary ? "0x" : character ? "'" : date ? "#" : "";
  std::snprintf(row->literalPrefix, sizeof row->literalPrefix, "%s", affix);
  std::snprintf(row->literalSuffix, sizeof row->literalSuffix, "%s", binary ? "" : affix);
  if (binary || character) std::snprintf(row->createParams, sizeof row->createParams, "length");
  row->nullable = 1;
  row->caseSensitive = character ? 1 : 0;
  row->searchable = 3;
  return info.type;
}

namespace zemta {

// ---------------------------------------------------------------------------
// Form items: line n of an item inside a record held in segments.

namespace {

constexpr uint16_t kInHeader = 0x8000;

// The segment that holds a record offset, walking column by column, and the
// offset inside it; null at a zero-size segment or past the last one.
const ItemSegment* segmentOf(uint16_t rows, uint16_t columns, const ItemSegment* segments, int64_t offset,
                             int64_t& inside) {
  if (!segments || offset < 0) return nullptr;
  for (uint32_t i = 0; i < columns; ++i)
    for (uint32_t j = 0; j < rows; ++j) {
      const ItemSegment& segment = segments[i + uint32_t(columns) * j];
      if (segment.size == 0) return nullptr;
      if (offset < segment.size) {
        inside = offset;
        return &segment;
      }
      offset -= segment.size;
    }
  return nullptr;
}

// length bytes at a record offset: through the segments, or directly in the
// table header when bit 15 of the offset word is set. Null after a report.
uint8_t* fieldAt(const ItemForm* form, uint16_t offsetWord, int64_t extra, int32_t length) {
  const int64_t offset = (offsetWord & 0x7FFF) + extra;
  if (offsetWord & kInHeader) {
    if (!form->header || offset < 0 || offset + std::max(length, 0) > form->headerSize ||
        offset >= form->headerSize) {
      ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
      return nullptr;
    }
    return form->header + offset;
  }
  if (offset > INT32_MAX) {
    ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
    return nullptr;
  }
  return ItemGetDataPtr(form, static_cast<int32_t>(offset), length);
}

uint16_t readWord(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// One line of a form item, its words read out and its field found.
struct FormLine {
  const uint16_t* words = nullptr;
  uint16_t type = 0;
  uint32_t t = 0;
  int32_t width = 0;
  int32_t size = 0;
  uint16_t position = 0;
  uint16_t step = 0;
  uint16_t parameter = 0;
  int32_t line = 0;
  uint8_t* field = nullptr;
};

// False after a report: bad arguments, a line past the item's lines, a field
// outside the record.
bool locateLine(const ItemForm* form, const ItemFormItem* item, int32_t line, FormLine& out) {
  if (!form || !item) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return false;
  }
  const uint16_t* w = item->words;
  out.words = w;
  out.type = w[ITEM_WORD_TYPE];
  out.t = out.type & 63;
  out.width = w[ITEM_WORD_WIDTH];
  out.size = w[ITEM_WORD_SIZE];
  out.position = w[ITEM_WORD_POSITION];
  out.step = w[ITEM_WORD_STEP];
  out.parameter = w[ITEM_WORD_PARAMETER];
  out.line = line;
  if (line < 0 || line >= w[ITEM_WORD_LINES]) {
    ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
    return false;
  }
  const int64_t lineOffset = out.step ? int64_t(line) * out.step : (out.t == 0 ? int64_t(line) * out.width : 0);
  out.field = fieldAt(form, w[ITEM_WORD_OFFSET], lineOffset, out.size);
  return out.field != nullptr;
}

// The value offset of a number line (types 2-7), counted once per line when
// every line shows the same field.
int64_t integerOffsetOf(const FormLine& l) {
  const int64_t offset = static_cast<int16_t>(l.parameter);
  return l.step ? offset : offset * (int64_t(l.line) + 1);
}

float floatOffsetOf(const FormLine& l) {
  const uint32_t bits = uint32_t(l.words[ITEM_WORD_PARAMETER]) | uint32_t(l.words[ITEM_WORD_PARAMETER + 1]) << 16;
  float offset;
  std::memcpy(&offset, &bits, 4);
  return l.step ? offset : offset * static_cast<float>(l.line + 1);
}

// A type 4 item two characters wide over the year bits of a date word with the
// offset -80 shows the year in two digits (2024 as 24).
bool isTwoDigitYear(const FormLine& l) {
  return l.t == 4 && l.position == 0x0709 && static_cast<int16_t>(l.parameter) == -80 &&
         l.width == ((l.type & 0x80) ? 4 : 2);
}

// The choice area of a choice item: from its position to the nearest boundary.
int32_t choiceAreaOf(const ItemForm* form, const FormLine& l) {
  return ItemGetBreakLen(form->itemCount, form->items, form->textLength, l.parameter);
}

int32_t floatFieldOf(const FormLine& l, double& real) {
  if (l.size == 8) {
    std::memcpy(&real, l.field, 8);
  } else if (l.size == 4) {
    float f;
    std::memcpy(&f, l.field, 4);
    real = f;
  } else {
    ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
    return -1;
  }
  return 0;
}

void storeFloat(const FormLine& l, double real) {
  if (l.size == 4) {
    const float f = static_cast<float>(real);
    std::memcpy(l.field, &f, 4);
  } else {
    std::memcpy(l.field, &real, 8);
  }
}

// A displayed number turned back into what the input scanners read: blanks,
// commas and full-width digits, the yen sign and a trailing minus undone.
std::string plainNumber(uint32_t t, const char* text) {
  std::string s(text, strnlen(text, 4095));
  if (s.empty()) return s;
  StrCnvf(STRCNVF_LEFT | STRCNVF_KEEPZERO, static_cast<uint32_t>(s.size()), s.data());
  s.resize(std::strlen(s.c_str()));
  if ((t == 28 || t == 29) && !s.empty() && s[0] == '\\') s.erase(0, 1);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  if (t == 29 && !s.empty() && s.back() == '-') {
    s.pop_back();
    s.insert(0, 1, '-');
  }
  return s;
}

bool isBlank(const char* text) {
  for (; *text; ++text)
    if (*text != ' ') return false;
  return true;
}

}  // namespace

}  // namespace zemta

using namespace zemta;

ZEMTA_API uint8_t* ItemGetDataPtr(const ItemForm* form, int32_t offset, int32_t length) {
  if (!form) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return nullptr;
  }
  int64_t inside = 0;
  const ItemSegment* segment = segmentOf(form->segmentRows, form->segmentColumns, form->segments, offset, inside);
  // The bytes asked for must lie whole inside the segment that holds the first.
  if (!segment || !segment->buffer || inside + std::max(length, 0) > segment->size) {
    ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
    return nullptr;
  }
  return segment->buffer + inside;
}

ZEMTA_API const ItemSegment* ItemGetSegment(uint16_t rows, uint16_t columns, const ItemSegment* segments,
                                            const ItemFormItem* item, int32_t line, int32_t* offset) {
  if (!item || line < 0 || line >= item->words[ITEM_WORD_LINES]) return nullptr;
  const uint16_t offsetWord = item->words[ITEM_WORD_OFFSET];
  if (offsetWord & kInHeader) return nullptr;
  int64_t inside = 0;
  const ItemSegment* segment =
      segmentOf(rows, columns, segments, offsetWord + int64_t(line) * item->words[ITEM_WORD_STEP], inside);
  if (!segment || !segment->buffer) return nullptr;
  if (offset) *offset = static_cast<int32_t>(inside);
  return segment;
}

ZEMTA_API int32_t ItemGetBreakLen(int32_t itemCount, const ItemFormItem* items, int32_t textLength,
                                  int32_t position) {
  if (position < 0 || position >= textLength) {
    ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
    return -1;
  }
  if (itemCount > 0 && !items) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  int32_t nearest = textLength;
  auto consider = [&](uint16_t boundary) {
    if (boundary > position && boundary < nearest) nearest = boundary;
  };
  static constexpr struct {
    uint16_t flag;
    int word;
  } kMarks[] = {{0x800, 15}, {0x1000, 16}, {0x2000, 19}, {0x4000, 20}, {0x8000, 21}};
  for (int32_t i = 0; i < itemCount; ++i) {
    const uint16_t* w = items[i].words;
    const uint16_t flags = w[ITEM_WORD_FLAGS];
    if ((flags & 0x400) || isChoiceType(w[ITEM_WORD_TYPE] & 63)) consider(w[ITEM_WORD_PARAMETER]);
    for (const auto& mark : kMarks)
      if (flags & mark.flag) consider(w[mark.word]);
  }
  return nearest - position;
}

ZEMTA_API int32_t ItemGetStr(const ItemForm* form, const ItemFormItem* item, int32_t line, char* buffer,
                             int32_t size) {
  if (!buffer) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (item && size <= item->words[ITEM_WORD_WIDTH]) {
    ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
    return -1;
  }
  FormLine l;
  if (!locateLine(form, item, line, l)) return -1;
  const uint32_t t = l.t;
  const bool integerType = IsIntType(t), floatType = IsFloatType(t);

  uint32_t integer = 0;
  double real = 0;
  if (integerType) {
    if (l.size > 4) {
      ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
      return -1;
    }
    integer = GetBitData(l.size, l.field, l.position, IsSignedIntType(t));
    if (t == 30) {
      // The date and time bits go back where the field keeps them.
      uint32_t shift, width;
      normalise(l.position, l.size, shift, width);
      integer <<= shift;
    }
  } else if (floatType) {
    if (floatFieldOf(l, real) < 0) return -1;
  }

  if (isChoiceType(t)) {
    const int32_t area = choiceAreaOf(form, l);
    if (area < 0 || size <= area) return -1;
    if (!form->text) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return -1;
    }
    const uint64_t k = t == 32 ? uint64_t(integer) : t == 34 ? (integer != 0) : (integer == 0);
    const uint64_t start = k * uint64_t(l.width);
    size_t n = 0;
    if (l.width > 0 && start < uint64_t(area)) {
      n = static_cast<size_t>(std::min<uint64_t>(uint64_t(l.width), uint64_t(area) - start));
      std::memcpy(buffer, form->text + l.parameter + start, n);
    }
    buffer[n] = 0;
    return 0;
  }

  // Numbers of 0 are blank unless a print flag or decimals ask for them.
  bool blank = false;
  if ((integerType || floatType) && !isFlagType(t) && l.type < 0x2000 && !(l.type & 0x1F00))
    blank = integerType ? integer == 0 : real == 0;

  if (t >= 2 && t <= 7) {
    integer = static_cast<uint32_t>(int64_t(int32_t(integer)) - integerOffsetOf(l));
    if (isTwoDigitYear(l) && integer >= 100) integer %= 100;
  } else if (t >= 8 && t <= 13) {
    real -= floatOffsetOf(l);
  } else if (isFlagType(t)) {
    integer -= static_cast<uint32_t>(int32_t(int16_t(l.parameter)));
  }

  // Conditional items: even types show when the condition word is 0, odd
  // types when it is not.
  const bool conditional = (t >= 38 && t <= 41) || ((t == 46 || t == 47) && integer == 0) ||
                           ((t == 48 || t == 49) && real == 0);
  if (conditional) {
    const uint8_t* word = ItemGetDataPtr(form, static_cast<int32_t>(int64_t(line) * l.step + l.parameter), 2);
    if (!word) return -1;
    const uint16_t condition = readWord(word);
    if ((t & 1) ? condition == 0 : condition != 0) blank = true;
  }

  // Types 31 and 36 hand their reference word to the display in place of the size.
  int32_t valueSize = l.size;
  if (t == 31 || t == 36) {
    const uint8_t* reference = fieldAt(form, l.parameter, 0, 2);
    if (!reference) return -1;
    valueSize = readWord(reference);
  }

  std::string text;
  if (blank) {
    text.assign(static_cast<size_t>(l.width), ' ');
  } else if (integerType) {
    uint8_t bytes[4];
    std::memcpy(bytes, &integer, 4);
    text = ItemDataToStr(l.type, l.width, bytes, t == 31 || t == 36 ? valueSize : 4);
  } else if (floatType) {
    uint8_t bytes[8];
    std::memcpy(bytes, &real, 8);
    text = ItemDataToStr(l.type, l.width, bytes, 8);
  } else {
    text = ItemDataToStr(l.type, l.width, l.field, l.size);
  }
  const size_t n = wholeCharacters(reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                                   static_cast<size_t>(size - 1));
  std::memcpy(buffer, text.data(), n);
  buffer[n] = 0;
  return 0;
}

ZEMTA_API int32_t ItemSetStr(const ItemForm* form, const ItemFormItem* item, int32_t line, const char* text) {
  if (!text) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  FormLine l;
  if (!locateLine(form, item, line, l)) return -1;
  const uint32_t t = l.t;
  if ((IsIntType(t) && l.size > 4) || (IsFloatType(t) && l.size != 4 && l.size != 8) || t == 30) {
    // A field size the type cannot store, or a type without an input form.
    ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
    return -1;
  }
  const std::string before(reinterpret_cast<const char*>(l.field), static_cast<size_t>(l.size));
  const bool number = conversionOf(t) != nullptr;
  const std::string plain = number ? plainNumber(t, text) : std::string(text);

  if (isChoiceType(t)) {
    // The index of the choice whose text matches, trailing blanks aside.
    const int32_t area = choiceAreaOf(form, l);
    if (area < 0) return -1;
    if (!form->text || l.width == 0) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return -1;
    }
    auto trimmed = [](std::string s) {
      s.resize(std::strlen(s.c_str()));
      while (!s.empty() && s.back() == ' ') s.pop_back();
      return s;
    };
    const std::string wanted = trimmed(text);
    int64_t found = -1;
    for (int64_t k = 0; k * l.width < area && found < 0; ++k) {
      const int64_t n = std::min<int64_t>(l.width, area - k * l.width);
      if (trimmed(std::string(form->text + l.parameter + k * l.width, static_cast<size_t>(n))) == wanted) found = k;
    }
    if (found < 0) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return -1;
    }
    const uint32_t value = t == 32 ? static_cast<uint32_t>(found) : t == 34 ? (found != 0) : (found == 0);
    SetBitData(l.position, l.size, l.field, value);
  } else if (number && isBlank(plain.c_str())) {
    // A blank number is the 0 that shows blank.
    if (IsIntType(t)) SetBitData(l.position, l.size, l.field, 0);
    else storeFloat(l, 0);
  } else if ((t >= 2 && t <= 7) || isFlagType(t)) {
    // Read as the whole 32-bit value, the display's offset added back, then
    // stored through the bit field.
    uint8_t scratch[4] = {};
    if (ItemStrToData(l.type, 0, 4, scratch, number ? plain.c_str() : text) < 0) return -1;
    int64_t value = int32_t(scratch[0] | scratch[1] << 8 | scratch[2] << 16 | uint32_t(scratch[3]) << 24);
    if (t == 3 || t == 4 || t == 5 || t == 6) value = static_cast<uint32_t>(value);
    if (isFlagType(t)) {
      value += static_cast<int16_t>(l.parameter);
    } else {
      value += integerOffsetOf(l);
      if (isTwoDigitYear(l) && value < 0) value += 100;
    }
    SetBitData(l.position, l.size, l.field, static_cast<uint32_t>(value));
  } else if (t >= 8 && t <= 13) {
    double real;
    uint8_t scratch[8];
    if (ItemStrToData(l.type, 0, 8, scratch, plain.c_str()) < 0) return -1;
    std::memcpy(&real, scratch, 8);
    storeFloat(l, real + floatOffsetOf(l));
  } else if ((t == 14 || t == 31) && l.width == 5) {
    // Month and day only: the year stays the field's own.
    unsigned month = 0, day = 0;
    const CivilDate c = fromDosDate(static_cast<uint16_t>(GetBitData(l.size, l.field, l.position, false)));
    char dated[48];
    const bool monthDay =
        std::sscanf(text, "%u/%u", &month, &day) == 2 && std::strchr(std::strchr(text, '/') + 1, '/') == nullptr;
    if (monthDay) std::snprintf(dated, sizeof dated, "%02u/%u/%u", unsigned(c.year % 100), month, day);
    if (ItemStrToData(l.type, l.position, l.size, l.field, monthDay ? dated : text) < 0) return -1;
  } else {
    if (ItemStrToData(l.type, l.position, l.size, l.field, number ? plain.c_str() : text) < 0) return -1;
  }
  return std::memcmp(before.data(), l.field, static_cast<size_t>(l.size)) != 0 ? 1 : 0;
}

ZEMTA_API int32_t ItemGetValue(const ItemForm* form, const ItemFormItem* item, int32_t line, void* out,
                               int32_t size) {
  if (!out) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  FormLine l;
  if (!locateLine(form, item, line, l)) return -1;
  if (IsIntType(l.t)) {
    if (l.size > 4 || size < 4) {
      ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
      return -1;
    }
    const uint32_t value = GetBitData(l.size, l.field, l.position, IsSignedIntType(l.t));
    std::memcpy(out, &value, 4);
    return 4;
  }
  if (IsFloatType(l.t)) {
    double real;
    if (floatFieldOf(l, real) < 0) return -1;
    if (size < 8) {
      ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
      return -1;
    }
    std::memcpy(out, &real, 8);
    return 8;
  }
  if (size < l.size) {
    ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
    return -1;
  }
  std::memcpy(out, l.field, static_cast<size_t>(l.size));
  return l.size;
}

ZEMTA_API int32_t ItemSetValue(const ItemForm* form, const ItemFormItem* item, int32_t line, int32_t kind,
                               const void* value) {
  if (!value) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  FormLine l;
  if (!locateLine(form, item, line, l)) return -1;
  const std::string before(reinterpret_cast<const char*>(l.field), static_cast<size_t>(l.size));
  const bool numberKind = kind == ITEM_VALUE_INTEGER || kind == ITEM_VALUE_DOUBLE;
  double real = 0;
  if (kind == ITEM_VALUE_INTEGER) {
    int32_t integer;
    std::memcpy(&integer, value, 4);
    real = integer;
  } else if (kind == ITEM_VALUE_DOUBLE) {
    std::memcpy(&real, value, 8);
  }
  if (!numberKind) {
    std::memcpy(l.field, value, static_cast<size_t>(l.size));
  } else if (IsIntType(l.t)) {
    if (l.size > 4) {
      ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
      return -1;
    }
    // The field's own range, from its smallest and largest values.
    const bool isSigned = IsSignedIntType(l.t);
    uint8_t low[4] = {}, high[4] = {};
    ItemMinData(l.type, l.position, l.size, low);
    ItemMaxData(l.type, l.position, l.size, high);
    const uint32_t lowBits = GetBitData(l.size, low, l.position, isSigned);
    const uint32_t highBits = GetBitData(l.size, high, l.position, isSigned);
    const double lowest = isSigned ? double(int32_t(lowBits)) : double(lowBits);
    const double highest = isSigned ? double(int32_t(highBits)) : double(highBits);
    const double whole = std::trunc(real);
    if (!(whole >= lowest && whole <= highest)) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return -1;
    }
    const uint32_t bits = isSigned ? static_cast<uint32_t>(static_cast<int32_t>(whole)) : static_cast<uint32_t>(whole);
    SetBitData(l.position, l.size, l.field, bits);
  } else if (IsFloatType(l.t)) {
    if (l.size != 4 && l.size != 8) {
      ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
      return -1;
    }
    const double largest = l.size == 4 ? double(FLT_MAX) : DBL_MAX;
    if (!(std::fabs(real) <= largest)) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return -1;
    }
    storeFloat(l, real);
  } else {
    // Text and raw fields take raw bytes only.
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return std::memcmp(before.data(), l.field, static_cast<size_t>(l.size)) != 0 ? 1 : 0;
}
