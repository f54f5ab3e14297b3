// Item types: how a field's bytes inside a record are read through its bit
// field, typed in (input text), shown (display text) and mapped to SQL types.
#include "lib/core/item_types.h"

#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "lib/core/calendar.h"
#include "lib/core/report.h"
#include "zemta/scan.h"
#include "zemta/typed.h"

namespace zemta {
namespace {

char g_thirdEraLetter = 'R';
int32_t g_thirdEraBase = 2018;

void normalise(uint16_t position, int32_t size, uint32_t& shift, uint32_t& width) {
  shift = position & 0xFF;
  width = position >> 8;
  const uint32_t bits = 8u * static_cast<uint32_t>(size < 4 ? size : 4);
  if (shift >= 32) shift = 0, width = 0;
  if (width == 0) width = bits;
  if (shift + width > 32) width = 32 - shift;
}

uint32_t maskOf(uint32_t width) { return width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1; }

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

// The DOS date word of an input date: optional era letter, year, month, day.
uint16_t dateWordOf(const char* text) {
  unsigned year = 0, month = 0, day = 0;
  char letter = 0;
  while (*text == ' ') ++text;
  if ((*text >= 'A' && *text <= 'Z') || (*text >= 'a' && *text <= 'z')) letter = static_cast<char>(*text++ & ~0x20);
  if (std::sscanf(text, "%u/%u/%u", &year, &month, &day) != 3) return 0;
  if (year > 99 || month < 1 || month > 12 || day < 1 || day > 31) return 0;
  int64_t full;
  if (letter == 'S')
    full = 1925 + year;
  else if (letter == 'H')
    full = 1988 + year;
  else if (letter && letter == (g_thirdEraLetter & ~0x20))
    full = g_thirdEraBase + year;
  else if (letter)
    return 0;
  else
    full = year >= 80 ? 1900 + year : 2000 + year;
  if (full < 1980 || full > 2107) return 0;
  return toDosDate(full, static_cast<int>(month), static_cast<int>(day));
}

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
    } else if (t >= 16 && t <= 21) {
      const bool on = std::strncmp(text, "ON", 2) == 0;
      v = (on != ((t & 1) != 0)) ? 1 : 0;
      if (t == 21) v = on ? 0 : 1;
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

namespace {

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

const char kPrintFlags[8] = {0, '-', '+', '0', ' ', '#', 0, 0};

}  // namespace

std::string ItemDataToStr(uint16_t itemType, int32_t width, const uint8_t* value, int32_t size) {
  if (size <= 0 || width > 4095 || width < 0 || !value) return std::string();
  const uint32_t t = itemType & 63;
  const uint32_t precision = (itemType >> 8) & 31;
  const char flag = kPrintFlags[itemType >> 13];
  std::string text;
  char format[32];
  if (IsIntType(t) || IsFloatType(t) || t == 1) {
    const char* conversion = t == 1 ? "s" : conversionOf(t);
    if (t == 14 || t == 31) {
      uint32_t w = static_cast<uint32_t>(value[0] | value[1] << 8);
      if (w == 0) {
        text = "  /  /  ";
      } else {
        CivilDate c = fromDosDate(static_cast<uint16_t>(w));
        char buffer[40];
        if (width == 5)
          std::snprintf(buffer, sizeof buffer, "%2u/%2u", unsigned(c.month), unsigned(c.day));
        else if (t == 31 && c.year > g_thirdEraBase)
          std::snprintf(buffer, sizeof buffer, "%c%02u/%02u/%02u", g_thirdEraLetter,
                        unsigned(c.year - g_thirdEraBase) % 100, unsigned(c.month), unsigned(c.day));
        else
          std::snprintf(buffer, sizeof buffer, "%02u/%02u/%02u", unsigned(c.year % 100), unsigned(c.month),
                        unsigned(c.day));
        text = buffer;
      }
    } else if (t == 15) {
      uint32_t w = static_cast<uint32_t>(value[0] | value[1] << 8);
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%02u:%02u:%02u", w >> 11, (w >> 5) & 63, (w & 31) * 2);
      text = buffer;
    } else if (t >= 16 && t <= 21) {
      int32_t v;
      std::memcpy(&v, value, 4);
      const bool on = v != 0;
      if (t == 18 || t == 19) text.assign(static_cast<size_t>(width), on ? '*' : ' ');
      else if (t == 20 || t == 21) text = on ? "ON" : "OFF";
      else return "#Error!";
    } else if (!conversion) {
      return "#Error!";
    } else {
      std::snprintf(format, sizeof format, "%%%s%d.%u%s", flag ? std::string(1, flag).c_str() : "", width,
                    precision, conversion);
      std::string buffer(static_cast<size_t>(width) + 400, '\0');
      int n;
      if (t == 1) {
        std::snprintf(format, sizeof format, "%%%s%d.%us", flag ? std::string(1, flag).c_str() : "", width,
                      static_cast<unsigned>(size));
        std::string s(reinterpret_cast<const char*>(value), strnlen(reinterpret_cast<const char*>(value), size));
        n = std::snprintf(buffer.data(), buffer.size(), format, s.c_str());
      } else if (IsFloatType(t)) {
        double d;
        std::memcpy(&d, value, 8);
        if (t == 8 || t == 13 || t == 48 || t == 49) {
          std::snprintf(format, sizeof format, "%%%s%d.%uf", flag ? std::string(1, flag).c_str() : "", width, precision);
        }
        n = std::snprintf(buffer.data(), buffer.size(), format, d);
      } else {
        int32_t v;
        std::memcpy(&v, value, 4);
        if (IsSignedIntType(t))
          n = std::snprintf(buffer.data(), buffer.size(), format, static_cast<long>(v));
        else
          n = std::snprintf(buffer.data(), buffer.size(), format, static_cast<unsigned long>(static_cast<uint32_t>(v)));
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
    if ((itemType & 0x40) && (IsIntType(t) || IsFloatType(t))) flags |= STRCNVF_COMMA;
    if (itemType & 0x80) flags |= STRCNVF_FULLWIDTH;
    if (t == 28) flags |= STRCNVF_YEN;
    if (t == 29) flags |= STRCNVF_YEN | STRCNVF_MINUS;
    if (t == 1 || t == 14 || t == 15 || t == 31 || itemType >= 0x6000) flags |= STRCNVF_KEEPZERO;
    if (t == 29 && !text.empty()) {
      const size_t minus = text.find('-');
      if (minus != std::string::npos) text[minus] = ' ';
      else flags &= ~STRCNVF_MINUS;
    }
    const int32_t field = width > 0 ? width : static_cast<int32_t>(text.size());
    std::string buffer(static_cast<size_t>(field) + 1, '\0');
    std::memcpy(buffer.data(), text.data(), std::min(text.size(), static_cast<size_t>(field)));
    if (text.size() <= static_cast<size_t>(field)) {
      // Right-justified input for the formatter: spaces in front.
      std::string padded(static_cast<size_t>(field) - text.size(), ' ');
      padded += text;
      std::memcpy(buffer.data(), padded.data(), static_cast<size_t>(field));
    }
    StrCnvf(flags, static_cast<uint32_t>(field), buffer.data());
    return std::string(buffer.c_str());
  }
  {
    // Text and raw bytes: copied, never ending on the lead byte of a double-byte character.
    size_t n = strnlen(reinterpret_cast<const char*>(value), static_cast<size_t>(size));
    if (width > 0 && n > static_cast<size_t>(width)) n = static_cast<size_t>(width);
    size_t i = 0;
    while (i < n) {
      const uint8_t b = value[i];
      const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
      if (lead && i + 1 >= n) break;
      i += lead ? 2 : 1;
    }
    return std::string(reinterpret_cast<const char*>(value), i);
  }
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
