// Tax and rounding by the register's rounding modes, the modulus-10 check
// digit of article codes, and the bar and space widths of EAN and ITF symbols
// for the receipt printer.
//
// Tax is computed exactly on integers: amount × rate (0.01 % units) fits in
// 64 bits, so every exact case stays exact and the rest round by the mode.
// A floating-point quotient with a fixed epsilon nudge does not: 1080 yen at
// 8 % would come out at 999 + 81 tax in the away-from-zero mode.
#include "zemta/tax.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "lib/core/report.h"

// Declared with its linkage in the header; defined here without "extern".
uint32_t g_nTaxRate[4] = {800, 0, 0, 0};

namespace zemta {
namespace {

constexpr int64_t kRateUnit = 10000;  // the rates are in 1/10000

int32_t clampToInt32(int64_t v) {
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

int32_t clampToInt32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

// Quotient of non-negative numerator by positive denominator, rounded by a
// rounding mode applied to the magnitude.
enum class Rounding { kTowardZero, kHalfAwayFromZero, kHalfTowardZero, kAwayFromZero };

uint64_t divideRounded(uint64_t numerator, uint64_t denominator, Rounding rounding) {
  uint64_t q = numerator / denominator;
  uint64_t r = numerator % denominator;
  switch (rounding) {
    case Rounding::kTowardZero:
      return q;
    case Rounding::kAwayFromZero:
      return r ? q + 1 : q;
    case Rounding::kHalfAwayFromZero:
      return 2 * r >= denominator ? q + 1 : q;
    case Rounding::kHalfTowardZero:
      return 2 * r > denominator ? q + 1 : q;
  }
  return q;
}

bool validSlot(int32_t slot) {
  if (slot >= 0 && slot < 4) return true;
  ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
  return false;
}

}  // namespace
}  // namespace zemta

using namespace zemta;

ZEMTA_API int32_t SetTaxRate(uint32_t rate0, uint32_t rate1, uint32_t rate2, uint32_t rate3) {
  g_nTaxRate[0] = rate0;
  g_nTaxRate[1] = rate1;
  g_nTaxRate[2] = rate2;
  g_nTaxRate[3] = rate3;
  return 0;
}

ZEMTA_API int32_t CalTax(int32_t amount, int32_t roundMode, int32_t slot) {
  if (!validSlot(slot)) return 0;
  const bool negative = amount < 0;
  const uint64_t magnitude = negative ? uint64_t(-int64_t(amount)) : uint64_t(amount);
  const Rounding rounding = roundMode == 1   ? Rounding::kHalfAwayFromZero
                            : roundMode == 2 ? Rounding::kAwayFromZero
                                             : Rounding::kTowardZero;
  // At most 2^31 × (2^32 − 1): fits in 64 bits.
  const uint64_t tax = divideRounded(magnitude * g_nTaxRate[slot], kRateUnit, rounding);
  return clampToInt32(negative ? -int64_t(tax) : int64_t(tax));
}

ZEMTA_API int32_t CalTaxInc(int32_t amount, int32_t roundMode, int32_t slot) {
  if (!validSlot(slot)) return amount;  // no tax taken out
  const bool negative = amount < 0;
  const uint64_t magnitude = negative ? uint64_t(-int64_t(amount)) : uint64_t(amount);
  // The exclusive part rounds opposite to the tax: the tax is amount − part.
  const Rounding rounding = roundMode == 1   ? Rounding::kHalfTowardZero
                            : roundMode == 2 ? Rounding::kTowardZero
                                             : Rounding::kAwayFromZero;
  const uint64_t part = divideRounded(magnitude * kRateUnit, kRateUnit + g_nTaxRate[slot], rounding);
  return clampToInt32(negative ? -int64_t(part) : int64_t(part));
}

ZEMTA_API int32_t CalRound(double* value, int32_t power, int32_t roundMode) {
  if (!value) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return 0;
  }
  const double v = *value;
  const double factor = std::pow(10.0, power);
  const double c = v * factor;
  const double e = DBL_EPSILON;
  double r;
  if (roundMode == 1)
    r = v >= 0 ? std::floor(c + 0.5 + e) : std::ceil(c - 0.5 - e);
  else if (roundMode == 2)
    r = v >= 0 ? std::ceil(c - e) : std::floor(c + e);
  else
    r = v >= 0 ? std::floor(c + e) : std::ceil(c - e);
  *value = r / factor;
  return clampToInt32(*value);
}

namespace zemta {
namespace {

// Modulus-10 check digit of the data characters: weights 3 and 1 from the
// right, each character adding (58 − its code) × weight into a 16-bit sum, so
// that a digit adds (10 − digit) × weight. Characters are not checked.
char checkDigit(const char* data, int32_t length) {
  uint16_t sum = 0;
  uint16_t weight = 3;
  for (int32_t i = length - 1; i >= 0; --i) {
    sum = static_cast<uint16_t>(sum + static_cast<uint16_t>((58 - static_cast<uint8_t>(data[i])) * weight));
    weight = weight == 3 ? 1 : 3;
  }
  return static_cast<char>('0' + sum % 10);
}

int32_t textLength(const char* code, int32_t length) {
  return length == -1 ? static_cast<int32_t>(std::strlen(code)) : length;
}

}  // namespace
}  // namespace zemta

ZEMTA_API int32_t BccCheck(const char* code, int32_t length) {
  if (!code) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return 0;
  }
  length = textLength(code, length);
  if (length < 2) return 0;
  return code[length - 1] == checkDigit(code, length - 1) ? 1 : 0;
}

ZEMTA_API void BccMake(char* code, int32_t length) {
  if (!code) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return;
  }
  length = textLength(code, length);
  for (int32_t i = 0; i < length; ++i) {
    if (code[i] == 'C' || code[i] == 'c') {
      code[i] = checkDigit(code, i);
      std::memset(code + i + 1, 0, static_cast<size_t>(length - i - 1));
      return;
    }
  }
}

namespace zemta {
namespace {

// EAN widths of each digit: space, bar, space, bar in odd parity (set A);
// even parity reads them backwards, the right half reads bar, space, bar, space.
constexpr const char* kEanWidths[10] = {"3211", "2221", "2122", "1411", "1132",
                                        "1231", "1114", "1312", "1213", "3112"};
// EAN-13: the first digit chooses the parity of the six left digits; bit 5
// is the leftmost digit, a set bit selects even parity.
constexpr uint8_t kEanFirstDigitParity[10] = {0x00, 0x0B, 0x0D, 0x0E, 0x13, 0x19, 0x1C, 0x15, 0x16, 0x1A};
// ITF widths per digit, 1 narrow and 2 wide.
constexpr const char* kItfWidths[10] = {"11221", "21112", "12112", "22111", "11212",
                                        "21211", "12211", "11122", "21121", "12121"};

int magnificationFactor(uint32_t code) {
  if (code == 0) return 1;
  if (code <= 2) return 2;
  if (code == 3) return 3;
  return 4;
}

// Element widths are collected as numbers and written as '0' + width at the end.
class Pattern {
 public:
  void add(int width) { widths_[count_++] = width; }
  void add(const char* digits) {
    for (; *digits; ++digits) add(*digits - '0');
  }
  void addReversed(const char* digits) {
    for (int i = static_cast<int>(std::strlen(digits)) - 1; i >= 0; --i) add(digits[i] - '0');
  }
  int count() const { return count_; }
  int& operator[](int i) { return widths_[i]; }

 private:
  int widths_[5 * 24 + 8] = {};
  int count_ = 0;
};

void makeEan(const char* digits, int32_t count, Pattern& p) {
  const bool ean13 = count == 13;
  p.add(ean13 ? 0 : 14);
  p.add("111");
  if (ean13) {
    const uint8_t parity = kEanFirstDigitParity[digits[0] - '0'];
    for (int i = 0; i < 6; ++i) {
      const char* w = kEanWidths[digits[1 + i] - '0'];
      if (parity & (0x20 >> i))
        p.addReversed(w);
      else
        p.add(w);
    }
  } else {
    for (int i = 0; i < 4; ++i) p.add(kEanWidths[digits[i] - '0']);
  }
  p.add("11111");
  for (int i = ean13 ? 7 : 4; i < count; ++i) p.add(kEanWidths[digits[i] - '0']);
  p.add("111");
}

void makeItf(const char* digits, int32_t count, Pattern& p) {
  p.add(count < 12 ? 7 * (12 - count) / 2 : 0);
  p.add("1111");
  for (int i = 0; i < count; i += 2) {
    const char* bars = kItfWidths[digits[i] - '0'];
    const char* spaces = kItfWidths[digits[i + 1] - '0'];
    for (int k = 0; k < 5; ++k) {
      p.add(bars[k] - '0');
      p.add(spaces[k] - '0');
    }
  }
  p.add("211");
}

}  // namespace
}  // namespace zemta

ZEMTA_API int32_t BarCodeMake(uint32_t type, const char* digits, int32_t count, char* output, int32_t size) {
  if (!digits || !output) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return 0;
  }
  if (count <= 0 || count > 24) return 0;
  for (int32_t i = 0; i < count; ++i)
    if (digits[i] < '0' || digits[i] > '9') return 0;

  Pattern pattern;
  const uint32_t symbology = type & 0xF000;
  if (symbology == BARCODE_EAN) {
    if ((count != 8 && count != 13) || size < (count & ~1) * 4 + 12) return 0;
    makeEan(digits, count, pattern);
  } else if (symbology == BARCODE_ITF) {
    if (count % 2 != 0 || size < 5 * count + 8) return 0;
    makeItf(digits, count, pattern);
  } else {
    return 0;
  }

  const uint32_t magnification = type & 0xF;
  const int factor = magnificationFactor(magnification);
  for (int i = 0; i < pattern.count(); ++i) {
    pattern[i] *= factor;
    // Printed bars spread; a magnified bar is drawn one unit narrower.
    if (factor > 1 && i % 2 == 1 && pattern[i] > 0) pattern[i] -= 1;
  }
  if (symbology == BARCODE_EAN && count == 8)
    pattern[0] += magnification == 0 ? 3 : magnification <= 2 ? 6 : magnification == 3 ? 9 : 13;

  for (int i = 0; i < pattern.count(); ++i) output[i] = static_cast<char>('0' + pattern[i]);
  return pattern.count();
}
