// Small pieces every receipt and report text is made of: printf into a
// string, fields of a given column width that never cut a double-byte
// character, and amounts with thousands commas and the yen sign.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/register/engine/records.h"
#include "zemta/scan.h"

namespace varnex::reg::receipt {

inline constexpr char kCR = '\r', kLF = '\n', kFF = '\f', kSO = 0x0E, kSI = 0x0F, kESC = 0x1B;
inline constexpr char kYen = 0x5C;  // the yen sign of code page 932
inline const std::string kCRLF = "\r\n";

inline bool isLeadByte(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

inline std::string format(const char* f, ...) __attribute__((format(printf, 1, 2)));
inline std::string format(const char* f, ...) {
  char buffer[512];
  va_list args;
  va_start(args, f);
  int n = std::vsnprintf(buffer, sizeof buffer, f, args);
  va_end(args);
  if (n < 0) return std::string();
  return std::string(buffer, static_cast<size_t>(n) < sizeof buffer ? static_cast<size_t>(n) : sizeof buffer - 1);
}

inline std::string spaces(int32_t count) { return count > 0 ? std::string(static_cast<size_t>(count), ' ') : ""; }

// At most width bytes of text without cutting a double-byte character in two.
inline std::string cutColumns(const std::string& text, int32_t width) {
  size_t n = 0;
  const size_t limit = width > 0 ? static_cast<size_t>(width) : 0;
  while (n < text.size() && n < limit) {
    const size_t step = isLeadByte(static_cast<uint8_t>(text[n])) && n + 1 < text.size() ? 2 : 1;
    if (n + step > limit) break;
    n += step;
  }
  return text.substr(0, n);
}

// "%-*.*s": the text in exactly width columns, padded with spaces.
inline std::string fitColumns(const std::string& text, int32_t width) {
  std::string out = cutColumns(text, width);
  return out + spaces(width - static_cast<int32_t>(out.size()));
}

inline std::string trimRight(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

// A number right-justified in width columns with thousands commas ("%*ld" and
// StrCnvf); the last leading space becomes mark (0: none) when there is one.
// A number too wide for the field fills it with "*".
inline std::string numberField(int64_t value, int32_t width, char mark) {
  if (width <= 0) return std::string();
  std::string field = format("%*lld", static_cast<int>(width), static_cast<long long>(value));
  if (static_cast<int32_t>(field.size()) > width) return std::string(static_cast<size_t>(width), '*');
  if (StrCnvf(STRCNVF_COMMA, static_cast<uint32_t>(width), field.data()) != 0)
    return std::string(static_cast<size_t>(width), '*');
  if (mark) {
    const size_t first = field.find_first_not_of(' ');
    if (first != std::string::npos && first > 0) field[first - 1] = mark;
  }
  return field;
}

// An amount: commas, and the yen sign when yen is set.
inline std::string amountField(int64_t value, int32_t width, bool yen) { return numberField(value, width, yen ? kYen : 0); }

// ---- line record fields ------------------------------------------------------

struct LineView {
  const uint8_t* p;
  std::string displayName() const { return getText(p, line::kDisplayName, line::kDisplayNameLen); }
  std::string customerName() const { return getText(p, line::kDisplayName, line::kCustomerNameLen); }
  std::string printName() const { return getText(p, line::kPrintName, line::kPrintNameLen); }
  std::string code() const { return getText(p, line::kCode, line::kCodeLen); }
  std::string subCode() const { return getText(p, line::kSubCode, line::kSubCodeLen); }
  uint16_t flags() const { return getU16(p, line::kFlags); }
  uint16_t keyCode() const { return getU16(p, line::kKeyCode); }
  uint16_t type() const { return keyType(keyCode()); }
  uint16_t number() const { return keyNumber(keyCode()); }
  int32_t unit() const { return getI32(p, line::kUnit); }
  int32_t unitPrice() const { return getI32(p, line::kUnitPrice); }
  int32_t price() const { return getI32(p, line::kPrice); }
  int32_t unitNet() const { return getI32(p, line::kUnitNet); }
  int32_t netPrice() const { return getI32(p, line::kNetPrice); }
  int32_t taxClass() const { return (flags() >> line::kRateShift) & 3; }
  // A department line: an item line of a department (department 0 is none).
  bool isDepartmentLine() const { return type() == kKeyDepartment && number() != 0; }
};

}  // namespace varnex::reg::receipt
