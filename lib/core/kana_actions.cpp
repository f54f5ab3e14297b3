// Code page 932 character helpers of the typed values (byte classes, hiragana
// to katakana, full-width to half-width) and the value actions of the
// container store's records.
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "lib/core/calendar.h"
#include "lib/core/report.h"
#include "lib/core/typed_data.h"
#include "platform/base/clock.h"
#include "platform/base/cp932.h"
#include "zemta/typed.h"

namespace zemta {

int32_t ChkMbcPos(const char* text, int32_t index) {
  if (!text) return -1;
  if (index < 0) return 0;
  int32_t i = 0;
  while (i < index) {
    if (text[i] == 0) return 0;  // past the end
    if (platform::cp932::isLeadByte(static_cast<uint8_t>(text[i])) &&
        platform::cp932::isTrailByte(static_cast<uint8_t>(text[i + 1])))
      i += 2;
    else
      i += 1;
  }
  if (i > index) return 2;
  const uint8_t b = static_cast<uint8_t>(text[index]);
  if (b == 0) return 0;
  if (platform::cp932::isLeadByte(b) && platform::cp932::isTrailByte(static_cast<uint8_t>(text[index + 1]))) return 1;
  return 0;
}

namespace {

uint16_t codeAt(const char* p) { return static_cast<uint16_t>((uint8_t(p[0]) << 8) | uint8_t(p[1])); }

bool isDoubleByte(const char* p) {
  return platform::cp932::isLeadByte(static_cast<uint8_t>(p[0])) &&
         platform::cp932::isTrailByte(static_cast<uint8_t>(p[1]));
}

// Half-width forms of the katakana 0x8340-0x8394 (0x837F is no character);
// null: copied unchanged (the small and old kana ヮ, ヰ, ヱ).
const char* const kHalfKatakana[] = {
    "ｧ", "ｱ", "ｨ", "ｲ", "ｩ", "ｳ", "ｪ", "ｴ", "ｫ", "ｵ", "ｶ", "ｶﾞ", "ｷ", "ｷﾞ", "ｸ", "ｸﾞ",
    "ｹ", "ｹﾞ", "ｺ", "ｺﾞ", "ｻ", "ｻﾞ", "ｼ", "ｼﾞ", "ｽ", "ｽﾞ", "ｾ", "ｾﾞ", "ｿ", "ｿﾞ", "ﾀ", "ﾀﾞ",
    "ﾁ", "ﾁﾞ", "ｯ", "ﾂ", "ﾂﾞ", "ﾃ", "ﾃﾞ", "ﾄ", "ﾄﾞ", "ﾅ", "ﾆ", "ﾇ", "ﾈ", "ﾉ", "ﾊ", "ﾊﾞ",
    "ﾊﾟ", "ﾋ", "ﾋﾞ", "ﾋﾟ", "ﾌ", "ﾌﾞ", "ﾌﾟ", "ﾍ", "ﾍﾞ", "ﾍﾟ", "ﾎ", "ﾎﾞ", "ﾎﾟ", "ﾏ", "ﾐ", nullptr,
    "ﾑ", "ﾒ", "ﾓ", "ｬ", "ﾔ", "ｭ", "ﾕ", "ｮ", "ﾖ", "ﾗ", "ﾘ", "ﾙ", "ﾚ", "ﾛ", nullptr, "ﾜ",
    nullptr, nullptr, "ｦ", "ﾝ", "ｳﾞ",
};

struct SymbolForm {
  uint16_t code;
  const char* half;
};
const SymbolForm kSymbols[] = {
    {0x8140, "\x20"}, {0x8143, "\x2C"}, {0x8144, "\x2E"}, {0x8146, "\x3A"}, {0x8147, "\x3B"},
    {0x8148, "\x3F"}, {0x8149, "\x21"}, {0x814F, "\x5E"}, {0x8151, "\x5F"}, {0x815B, "\xB0"},
    {0x815E, "\x2F"}, {0x8160, "\x7E"}, {0x8162, "\x7C"}, {0x8165, "\x27"}, {0x8166, "\x27"},
    {0x8167, "\x22"}, {0x8168, "\x22"}, {0x8169, "\x28"}, {0x816A, "\x29"}, {0x816D, "\x5B"},
    {0x816E, "\x5D"}, {0x816F, "\x7B"}, {0x8170, "\x7D"}, {0x8171, "\x3C"}, {0x8172, "\x3E"},
    {0x8175, "\xA2"}, {0x8176, "\xA3"}, {0x817C, "\x2D"}, {0x8181, "\x3D"}, {0x8183, "\x3C"},
    {0x8184, "\x3E"}, {0x8185, "\x3C\x3D"}, {0x8186, "\x3E\x3D"}, {0x818C, "\x27"}, {0x818D, "\x22"},
    {0x818E, "\xDF\x43"}, {0x818F, "\x5C"}, {0x8190, "\x24"}, {0x8193, "\x25"}, {0x8194, "\x23"},
    {0x8195, "\x26"}, {0x8196, "\x2A"}, {0x8197, "\x40"},
};

// Katakana code of a hiragana code.
uint16_t hiraganaToKatakana(uint16_t code) { return static_cast<uint16_t>(code + 0xA1 + (code > 0x82DD ? 1 : 0)); }

// The half-width form of a double-byte character, or null to copy it.
const char* halfWidthOf(uint16_t code, char (&scratch)[3]) {
  if (code >= 0x824F && code <= 0x8258) {
    scratch[0] = static_cast<char>('0' + code - 0x824F);
    scratch[1] = 0;
    return scratch;
  }
  if (code >= 0x8260 && code <= 0x8279) {
    scratch[0] = static_cast<char>('A' + code - 0x8260);
    scratch[1] = 0;
    return scratch;
  }
  if (code >= 0x8281 && code <= 0x829A) {
    scratch[0] = static_cast<char>('a' + code - 0x8281);
    scratch[1] = 0;
    return scratch;
  }
  if (code >= 0x829F && code <= 0x82F1) code = hiraganaToKatakana(code);
  if (code >= 0x8340 && code <= 0x8394 && code != 0x837F) return kHalfKatakana[code - 0x8340];
  for (const auto& s : kSymbols)
    if (s.code == code) return s.half;
  return nullptr;
}

}  // namespace

int32_t ActionExecVal(uint16_t flags, uint8_t code, int32_t count, int64_t* slots, uint16_t base, int8_t slotByte,
                      int64_t operand) {
  const bool flag15 = flags & 0x8000, flag14 = flags & 0x4000;
  const bool noSlot = code == 223 || code == 224 || ((code == 225 || code == 226) && flag15);
  if (noSlot) {
    if (code != 223 && slotByte != 0) return -1;
    switch (code) {
      case 223: return slotByte < 0 || flag15 ? -1 : (slotByte <= 8 ? 0 : 1);
      case 224: return !flag14 && !flag15 ? 1 : -1;
      case 225: return flag14 ? -1 : (operand == 0 ? 1 : 0);
      case 226: return flag14 ? -1 : (operand != 0 ? 1 : 0);
    }
  }
  if (!slots) return -1;
  const int32_t index = (flags & 0x80) ? slotByte : slotByte + base + 128;
  if (index < 0 || index >= count) return -1;
  int64_t& s = slots[index];
  auto asDouble = [](int64_t v) {
    double d;
    std::memcpy(&d, &v, 8);
    return d;
  };
  auto fromDouble = [](double d) {
    int64_t v;
    std::memcpy(&v, &d, 8);
    return v;
  };
  const uint64_t us = static_cast<uint64_t>(s), uo = static_cast<uint64_t>(operand);
  switch (code) {
    case 1: s = operand; return 0;
    case 2: {
      if (flag15) return -1;
      const int32_t from = base + 128 + static_cast<int8_t>(operand & 0xFF);
      if (from < 0 || from >= count) return -1;
      s = slots[from];
      return 0;
    }
    case 3: s = static_cast<int64_t>(us + uo); return 0;
    case 4: s = static_cast<int64_t>(us - uo); return 0;
    case 5: s = static_cast<int64_t>(uo - us); return 0;
    case 6: s = static_cast<int64_t>(us * uo); return 0;
    // A zero divisor fails and leaves the slot as it was.
    case 7: if (uo == 0) return -1; s = static_cast<int64_t>(us / uo); return 0;
    case 8: if (us == 0) return -1; s = static_cast<int64_t>(uo / us); return 0;
    case 67: s = operand; return 0;
    case 68: s = fromDouble(asDouble(s) + asDouble(operand)); return 0;
    case 69: s = fromDouble(asDouble(s) - asDouble(operand)); return 0;
    case 70: s = fromDouble(asDouble(operand) - asDouble(s)); return 0;
    case 71: s = fromDouble(asDouble(s) * asDouble(operand)); return 0;
    case 72: s = fromDouble(asDouble(s) / asDouble(operand)); return 0;
    case 160: {
      const platform::LocalTime now = platform::localTime();
      const uint32_t op = static_cast<uint32_t>(operand);
      const int opYear = static_cast<int32_t>(op) >> 9, opMonth = (op >> 5) & 15, opDay = op & 31;
      int64_t year = now.year + opYear;
      const bool before = now.month < opMonth || (now.month == opMonth && now.day < opDay);
      const int64_t lowYear = before ? year - 1 : year;
      const uint32_t low = toExDate(lowYear, opMonth, opDay);
      uint32_t high;
      if (opDay <= 1) {
        high = opMonth <= 1 ? toExDate(year - 1, 12, 31)
                            : toExDate(year, opMonth - 1, daysInMonth(year, opMonth - 1));
      } else {
        high = toExDate(year, opMonth, opDay - 1);
      }
      s = static_cast<int64_t>((uint64_t(high) << 32) | low);
      return 0;
    }
    case 225: return s == 0 ? 1 : 0;
    case 226: return s != 0 ? 1 : 0;
    case 227: case 247: return s == operand ? 1 : 0;
    case 228: case 248: return s != operand ? 1 : 0;
    case 229: return s >= operand ? 1 : 0;
    case 230: return s > operand ? 1 : 0;
    case 231: return s <= operand ? 1 : 0;
    case 232: return s < operand ? 1 : 0;
    case 233: return us >= uo ? 1 : 0;
    case 234: return us > uo ? 1 : 0;
    case 235: return us <= uo ? 1 : 0;
    case 236: return us < uo ? 1 : 0;
    case 237: return asDouble(s) >= asDouble(operand) ? 1 : 0;
    case 238: return asDouble(s) > asDouble(operand) ? 1 : 0;
    case 239: return asDouble(s) <= asDouble(operand) ? 1 : 0;
    case 240: return asDouble(s) < asDouble(operand) ? 1 : 0;
    case 243:
    case 244: {
      const uint64_t range = flag15 ? us : uo, probe = flag15 ? uo : us;
      const bool inside = (probe >> 32) == 0 && uint32_t(probe) >= uint32_t(range) && uint32_t(probe) <= uint32_t(range >> 32);
      return (code == 243) == inside ? 1 : 0;
    }
    case 245:
      if (s == operand) return 1;
      s = operand;
      return 0;
  }
  return -1;
}

}  // namespace zemta

using namespace zemta;

ZEMTA_API int32_t ChkMbcType(const char* text, int32_t index) { return ChkMbcPos(text, index); }

ZEMTA_API int32_t HiraToKata(char* out, int32_t size, const char* text) {
  if (!out || !text || size <= 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  int32_t written = 0;
  const char* p = text;
  while (*p) {
    if (isDoubleByte(p)) {
      if (written + 2 > size - 1) break;
      uint16_t code = codeAt(p);
      if (code >= 0x829F && code <= 0x82F1) code = hiraganaToKatakana(code);
      else if (code == 0x8154 || code == 0x8155) code = static_cast<uint16_t>(code - 2);
      out[written++] = static_cast<char>(code >> 8);
      out[written++] = static_cast<char>(code & 0xFF);
      p += 2;
    } else {
      if (written + 1 > size - 1) break;
      out[written++] = *p++;
    }
  }
  out[written] = 0;
  return written;
}

ZEMTA_API int32_t ZenToHan(char* out, int32_t size, const char* text) {
  if (!out || !text || size <= 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  int32_t written = 0;
  const char* p = text;
  while (*p) {
    std::string_view piece;
    char scratch[3];
    int step = 1;
    if (isDoubleByte(p)) {
      step = 2;
      const char* half = halfWidthOf(codeAt(p), scratch);
      piece = half ? std::string_view(half) : std::string_view(p, 2);
    } else {
      piece = std::string_view(p, 1);
    }
    if (written + static_cast<int32_t>(piece.size()) > size - 1) break;
    std::memcpy(out + written, piece.data(), piece.size());
    written += static_cast<int32_t>(piece.size());
    p += step;
  }
  out[written] = 0;
  return written;
}

ZEMTA_API int32_t IsActionUseVal(int32_t slot, int32_t code) {
  if (code == 223 || code == 224) return 0;
  if ((code == 225 || code == 226) && slot < 0) return 0;
  return 1;
}
