// Tax, rounding, check digits and bar patterns.
//
// Rounding modes (`RoundMode`): 1 rounds half away from zero, 2 rounds away
// from zero, any other value rounds toward zero.
#pragma once

#include "zemta/export.h"

// The four tax-rate slots, in units of 0.01 % (800 is 8 %). Start as 800, 0, 0, 0.
ZEMTA_API uint32_t g_nTaxRate[4];

// Stores the four rates (slots 0-3); returns 0.
ZEMTA_API int32_t SetTaxRate(uint32_t rate0, uint32_t rate1, uint32_t rate2, uint32_t rate3);

// The tax on a tax-exclusive amount at the rate of a slot (0-3), rounded by
// the mode. Exact: the amount times the rate is formed in 64 bits.
ZEMTA_API int32_t CalTax(int32_t amount, int32_t roundMode, int32_t slot);

// The tax-exclusive part of a tax-inclusive amount, rounded the opposite way
// from the mode so that amount minus the result is the tax rounded by it.
ZEMTA_API int32_t CalTaxInc(int32_t amount, int32_t roundMode, int32_t slot);

// Rounds *value at the decimal power (0 to an integer, 2 to hundredths, -1 to
// tens) by the mode, stores it back and returns it cut to a 32-bit integer.
ZEMTA_API int32_t CalRound(double* value, int32_t power, int32_t roundMode);

// 1 when the last of length characters is the modulus-10 check digit
// (weights 3 and 1 from the right) of the characters before it, else 0.
// A length of -1 takes the zero-terminated text.
ZEMTA_API int32_t BccCheck(const char* code, int32_t length);

// Replaces the first 'C' or 'c' within length by the check digit of the
// characters before it and zeroes the rest up to length.
ZEMTA_API void BccMake(char* code, int32_t length);

// Bar-pattern type word: symbology in bits 12-15, magnification code in bits 0-3.
enum BarCodeKind : uint32_t {
  BARCODE_EAN = 0x1000,
  BARCODE_ITF = 0x2000,
};

// Writes the element widths of an EAN-13, EAN-8 or ITF symbol as '0' + width,
// no terminating zero; returns the number of elements, 0 when refused.
ZEMTA_API int32_t BarCodeMake(uint32_t type, const char* digits, int32_t count, char* output, int32_t size);
