// The sales list's column texts of a line record: name, quantity, unit price
// and amount, as the registration screen's list and the customer display show
// them. Digits are full width where they fit and half width with commas where
// they are long; the marks beside an amount are those of the receipt.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "app/register/engine/records.h"
#include "app/register/engine/reg_com.h"
#include "app/shell/app/reg_app.h"
#include "zemta/scan.h"

namespace varnex::shell {

using namespace varnex::reg;

namespace {

constexpr char kCorrected[] = "訂正";  // 4 bytes
constexpr char kDot[] = "・";          // 0x81 0x45
constexpr char kStar[] = "＊";         // 0x81 0x96
constexpr char kDash[] = "－";         // 0x81 0x7C
static_assert(sizeof kCorrected == 5 && sizeof kDot == 3 && sizeof kStar == 3 && sizeof kDash == 3);

std::string printf64(const char* format, long long value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

std::string printDouble(const char* format, double value) {
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

std::string trimLeft(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

// The number text right-aligned in width and formatted by StrCnvf with the
// flags. Where the full-width form is too wide the half-width one is used,
// and where commas make it too wide it goes without; only a number that does
// not fit at all shows as "*".
std::string formatNumber(const std::string& text, size_t width, uint32_t flags) {
  const std::string trimmed = trimLeft(text);
  for (uint32_t f : {flags, flags & ~STRCNVF_FULLWIDTH, flags & ~(STRCNVF_FULLWIDTH | STRCNVF_COMMA)}) {
    if (trimmed.size() > width) continue;
    std::string field(width - trimmed.size(), ' ');
    field += trimmed;
    if (StrCnvf(f, static_cast<uint32_t>(width), field.data()) == 0) return field;
  }
  return std::string(width, '*');
}

// The printed number with c in place of its last leading space (when it has
// leading spaces).
std::string markLastLeadingSpace(std::string s, char c) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  if (i > 0) s[i - 1] = c;
  return s;
}

std::string repeat(const char* pair, size_t width) {
  std::string s;
  while (s.size() + 2 <= width) s += pair;
  return s;
}

std::string padRight(std::string s, size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

std::string slice(const std::string& row, size_t from, size_t to) {
  if (from >= row.size()) return std::string();
  return row.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

}  // namespace

void CREGApp::GetLineColumns(const void* recordIn, std::string* nameOut, std::string* quantityOut,
                             std::string* unitPriceOut, std::string* amountOut) const {
  if (!recordIn) return;
  const auto* record = static_cast<const uint8_t*>(recordIn);
  const bool compact = nameOut && quantityOut && unitPriceOut && !amountOut;
  const bool singleRow = nameOut && !quantityOut && !unitPriceOut && !amountOut;
  const size_t q = compact ? kColumnQuantityCompact : kColumnQuantity;

  const uint16_t flags = getU16(record, line::kFlags);
  const uint16_t keyCode = getU16(record, line::kKeyCode);
  const uint16_t type = keyType(keyCode);
  const uint16_t code = keyNumber(keyCode);
  int64_t unit = getI32(record, line::kUnit);
  const int32_t unitPrice = getI32(record, line::kUnitPrice);
  int64_t price = getI32(record, line::kPrice);
  // A void line of a refund is shown with the signs the customer sees.
  if (m_bRollbackView && (flags & line::kVoid) && type != kKeyClosing) {
    unit = -unit;
    price = -price;
  }
  const int64_t absUnit = unit < 0 ? -unit : unit;

  // 1. Name.
  std::string name = getText(record, line::kDisplayName, line::kDisplayNameLen);

  // 2. Quantity.
  std::string quantity;
  const bool percent = type == kKeyTrans2 && (code == kTrans2PercentDiscount || code == kTrans2PercentSurcharge);
  if (unit != 0 && !(type == kKeyTrans2 && code == kTrans2Number) && !(percent && absUnit == 1)) {
    if (type == kKeyReportTotal && code == kFunctionPersons) {  // guests in hundredths
      const bool half = !compact && (unit < -99 || unit > 999);
      quantity = formatNumber(printDouble("%.2f", static_cast<double>(unit) / 100.0), q, half ? 0 : STRCNVF_FULLWIDTH);
    } else {
      const uint32_t f = compact ? 6u : (unit >= -999 && unit <= 999) ? 4u : 2u;
      quantity = formatNumber(printf64("%lld", unit), q, f);
    }
  }

  // 3. Unit price.
  std::string unitText;
  if (unitPrice != 0) {
    if (type == kKeyCustomer) {
      char buffer[64];
      std::snprintf(buffer, sizeof buffer, "%*g", static_cast<int>(kColumnUnitPrice), unitPrice / 100.0);
      unitText = formatNumber(markLastLeadingSpace(buffer, 'x'), kColumnUnitPrice, STRCNVF_FULLWIDTH);
    } else if (percent) {
      std::string printed = printf64("%13lld", unitPrice) + "%";
      unitText = formatNumber(markLastLeadingSpace(printed, code == kTrans2PercentDiscount ? '-' : '+'), kColumnUnitPrice,
                              STRCNVF_FULLWIDTH);
    } else {
      const uint32_t f = unitPrice >= -99999 && unitPrice <= 999999 ? 6u : 2u;
      unitText = formatNumber(printf64("%lld", unitPrice), kColumnUnitPrice, f);
    }
  }

  // 4. Amount.
  std::string amount;
  const bool points = type == kKeySystemLine && (code == kLinePointsEarned || code == kLinePointBalance);
  const bool small = price >= -9999999 && price <= 9999999;
  if ((type == kKeyCustomer && price != 0) || points) {
    if (small)
      amount = formatNumber(printf64("%lld", price), kColumnAmount - 2, 6) + "Ｐ";
    else
      amount = formatNumber(printf64("%lld", price), kColumnAmount - 1, 2) + "P";
  } else if (type == kKeySystemLine && code == kLineSpecialTax && price == 0) {
    amount = (flags & line::kClct) ? kCorrected : "    ";
    for (int i = 0; i < 10; ++i) amount += kDot;
  } else if (type == kKeySystemLine && code == kLineMarginShare) {
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%*.2f%%", static_cast<int>(kColumnAmount - 1), price / 100.0);
    amount = buffer;
  } else if (type == kKeyEntry) {
    amount = " ";
    amount += (flags & line::kNonTaxable) ? '*' : ' ';
    if (flags & line::kNoSpecialTax) amount += '/';
  } else if (type == kKeyTrans2 && code == kTrans2Number) {
    // A code of |unit| digits, leading zeros kept; "#" before it.
    const size_t digits = absUnit > 23 ? 23 : static_cast<size_t>(absUnit);
    const unsigned long long magnitude = price < 0 ? static_cast<unsigned long long>(-price) : price;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%0*llu", static_cast<int>(digits), magnitude);
    const std::string printed = std::string(kColumnAmount - digits, ' ') + buffer;
    amount = formatNumber(markLastLeadingSpace(printed, '#'), kColumnAmount,
                          STRCNVF_KEEPZERO | (digits < 10 ? STRCNVF_FULLWIDTH : 0));
  } else {
    amount = formatNumber(printf64("%lld", price), kColumnAmount, small ? 6u : 2u);
  }
  // Marks in the first bytes of the amount.
  const bool marked = price != 0 && (type == kKeyDepartment || (type == kKeySystemLine && code == kLineServiceCharge) ||
                                     (type == kKeyTrans2 && code >= kTrans2AmountDiscount && code <= kTrans2PercentSurcharge));
  // System lines of a sale lie below the report kinds (個数 and up).
  const bool saleSystemLine = type == kKeySystemLine && code < kLineCount;
  const bool corrected = (flags & line::kClct) &&
                         (saleSystemLine || (type != kKeySystemLine && type != kKeyReportItem && type != kKeyReportTotal));
  if (marked || corrected) amount = padRight(amount, 4);
  if (marked) {
    const std::string& marks = (flags & line::kInnerTax) ? m_strTaxIn : m_strTaxOut;
    const size_t taxClass = (flags >> line::kRateShift) & 3u;
    amount[0] = taxClass < marks.size() ? marks[taxClass] : ' ';
    if (flags & line::kNonTaxable) amount[1] = '*';
    if (flags & line::kNoSpecialTax) amount[2] = '/';
    if (flags & line::kTaxExempt) amount[3] = '$';
  }
  if (corrected) amount.replace(0, 4, kCorrected);

  // 5. By type.
  if (saleSystemLine) quantity.clear();
  if (type == kKeyReportHeading) {
    quantity.clear();
    unitText.clear();
    amount = (flags & line::kCcts) ? std::string() : std::string(20, ' ') + printf64("%04lld", price);
  } else if (type == kKeySeparator) {
    const char* fill = (flags & line::kClct) ? kStar : kDash;
    quantity = repeat(fill, q);
    unitText = repeat(fill, kColumnUnitPrice);
    amount = repeat(fill, kColumnAmount);
  } else if (type == kKeyClosing) {
    uint8_t clerk[48] = {};
    std::string clerkName;
    if (m_pRegCom && m_pRegCom->IsOpen() &&
        m_pRegCom->GetClerkRecord(static_cast<uint32_t>(getU32(record, line::kPrice) >> 16), clerk) >= 0)
      clerkName = getText(clerk, clerk::kName.offset, clerk::kName.size);
    const uint16_t mode = code;
    const std::string count = (mode == kModeProgram || mode == kModeXReading || mode == kModeSettlement)
                                  ? std::string(8, ' ')
                                  : printf64("%5lld", getI32(record, line::kUnit)) + " 点";
    const char* label = mode == kModeSettlement  ? "  Ｚ  "
                        : mode == kModeXReading  ? "  Ｘ  "
                        : mode == kModeRegister2 ? " REG2 "
                        : mode == kModeRegister1 ? " REG1 "
                        : mode == kModeRefund    ? "  戻  "
                        : mode == kModeProgram   ? "ＰＲＧ"
                                                 : "      ";
    const uint32_t time = getU32(record, line::kUnitPrice) & 0xFFFFu;
    const long long receipt = static_cast<long long>(getU32(record, line::kPrice) & 0xFFFFu) +
                              getI32(record, line::kUnitNet);
    char row[256];
    std::snprintf(row, sizeof row, "%-*.*s     %s      %s        %02u:%02u           %05lld", 16, 16,
                  clerkName.c_str(), count.c_str(), label, (time >> 11) & 31u, (time >> 5) & 63u, receipt);
    const std::string r = row;
    name = slice(r, 0, kColumnName);
    quantity = slice(r, kColumnName, kRowQuantityEnd);
    unitText = slice(r, kRowQuantityEnd, kRowUnitPriceEnd);
    amount = slice(r, kRowUnitPriceEnd, std::string::npos);
  } else if (type == kKeyReportTotal && code == kTextLineCode) {
    // Free text over the record's text fields, cut into the four columns.
    const std::string r = padRight(getText(record, 0, line::kFlags), kRowWidth);
    name = slice(r, 0, kColumnName);
    quantity = slice(r, kColumnName, kRowQuantityEnd);
    unitText = slice(r, kRowQuantityEnd, kRowUnitPriceEnd);
    amount = slice(r, kRowUnitPriceEnd, kRowWidth);
  }

  // 6. Out.
  if (singleRow) {
    std::string row = padRight(name, kRowWidth);
    auto place = [&row](const std::string& text, size_t end) {
      if (text.empty()) return;
      const size_t n = text.size() < end ? text.size() : end;
      if (row.size() < end) row.resize(end, ' ');
      row.replace(end - n, n, text.substr(text.size() - n));
    };
    place(quantity, kRowQuantityEnd);
    place(unitText, kRowUnitPriceEnd);
    place(amount, kRowWidth);
    *nameOut = row;
    return;
  }
  if (nameOut) *nameOut = name;
  if (quantityOut) *quantityOut = quantity;
  if (compact) {
    *unitPriceOut = amount;
    return;
  }
  if (unitPriceOut) *unitPriceOut = unitText;
  if (amountOut) *amountOut = amount;
}

}  // namespace varnex::shell
