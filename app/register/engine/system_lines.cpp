// System lines (key type 8: subtotal, tax, change, counts...) with the rate of
// their tax in the name, and the tax-inclusive printing that shows
// tax-exclusive items with their tax and replaces the tax summary lines by
// tax-included totals.
#include <cstring>

#include "app/register/print/receipt_format.h"
#include "app/register/print/receipt_printer.h"
#include "app/register/engine/reg_com.h"
#include "app/register/engine/sale_calc.h"
#include "zemta/tax.h"

namespace varnex::reg {

using namespace receipt;

namespace {

// Writes text into a fixed field from position on: what does not fit stays
// out (never a half double-byte character), and the text is zero-terminated
// only when the terminator fits, so nothing spills into the next field.
void writeInField(uint8_t* field, size_t width, size_t position, const std::string& text) {
  if (position >= width) return;
  const std::string fitted = cutColumns(text, static_cast<int32_t>(width - position));
  std::memcpy(field + position, fitted.data(), fitted.size());
  if (position + fitted.size() < width) field[position + fitted.size()] = 0;
}

// Kinds that print the tax rate of a slot, and that slot (-1: none).
int rateSlotOf(uint16_t kind) {
  if (kind <= kLineTaxContained || kind == 9 || kind == kLineExemptContained) return 0;
  if (kind > kLineExemptContained && kind <= kLineExemptContained + 3) return kind - kLineExemptContained;
  // The kinds of rates 1-3 come in threes.
  for (uint16_t rate1 : {kLineTaxable1, kLineTax1, kLineTaxIncluded1, kLineTaxContained1})
    if (kind >= rate1 && kind < rate1 + 3) return kind - rate1 + 1;
  return -1;
}

}  // namespace

void CReceiptPrinter::MakeSystemLine(void* lineOut, uint16_t kind, int32_t amount, int32_t voidFlag) {
  auto* record = static_cast<uint8_t*>(lineOut);
  std::memset(record, 0, line::kSize);
  putU16(record, line::kKeyCode, systemLineKey(kind));
  putText(record, line::kDisplayName, line::kDisplayNameLen, SystemLineName(kind, kSystemDisplayName));
  putText(record, line::kPrintName, line::kPrintNameLen,
          SystemLineName(kind, m_bPrnSA ? kSystemPrintNameSa : kSystemPrintName));
  putI32(record, line::kUnit, 0);
  putI32(record, line::kPrice, amount);
  putU16(record, line::kFlags, static_cast<uint16_t>((voidFlag ? line::kVoid : 0) | SystemLineFlags(kind)));
  if (!m_bTaxDetail) return;

  const uint8_t* s = GeneralSettings();
  int rate = -1;
  int slot = -1;
  if (kind == kLineSpecialTax) {
    rate = getU16(s, settings::kSpecialRate.offset) / 100;
  } else if (kind == kLineServiceCharge) {
    rate = getU16(s, 40) / 100;  // service charge rate
  } else {
    slot = rateSlotOf(kind);
    static const uint16_t kRateOffsets[4] = {settings::kRate0.offset, settings::kRate1.offset,
                                             settings::kRate2.offset, settings::kRate3.offset};
    if (slot >= 0) rate = getU16(s, kRateOffsets[slot]) / 100;
  }
  if (rate < 0) return;

  char mark = ' ';
  if (slot >= 0) {
    if (kind == kLineTaxable || (kind >= kLineTaxable1 && kind < kLineTaxable1 + 3)) {
      if (static_cast<size_t>(slot) < m_strTaxOut.size()) mark = m_strTaxOut[static_cast<size_t>(slot)];
    } else if (kind == kLineTaxIncluded || (kind >= kLineTaxIncluded1 && kind < kLineTaxIncluded1 + 3)) {
      if (static_cast<size_t>(slot) < m_strTaxIn.size()) mark = m_strTaxIn[static_cast<size_t>(slot)];
    }
  }
  std::string display, print;
  if (mark != ' ' && mark != 0) {
    display = format("(%d%%対象:%c)", rate, mark);
    print = format("%c(%d%%)", mark, rate);
  } else {
    display = print = format("(%d%%)", rate);
  }
  const size_t displayAt = kind >= kLineExemptContained && kind <= kLineExemptContained + 3 ? 10 : 6;
  const bool saShort = m_bPrnSA && (kind == kLineTax || kind == kLineTaxContained ||
                                     (kind >= kLineTax1 && kind < kLineTax1 + 3) ||
                                     (kind >= kLineTaxContained1 && kind < kLineTaxContained1 + 3));
  const size_t printAt = saShort ? 5 : 6;
  writeInField(record + line::kDisplayName, line::kDisplayNameLen, displayAt, display);
  writeInField(record + line::kPrintName, line::kPrintNameLen, printAt, print);
}

void CReceiptPrinter::ConvertTaxInclusive(uint8_t* record, bool* suppress) {
  *suppress = false;
  const LineView view{record};
  int32_t* totals = m_anTaxIncTotals;
  const uint16_t type = view.type();
  if (type == kKeyClosing) {
    std::memset(m_abTaxIncSeen, 0, sizeof m_abTaxIncSeen);
    std::memset(m_anTaxIncTotals, 0, sizeof m_anTaxIncTotals);
    return;
  }
  int32_t& stop = totals[saletotal::kReading];
  if (stop) return;
  if (type == kKeyReportHeading) {
    stop = 1;
    return;
  }
  const int32_t outerRounding = static_cast<int32_t>(getBits(GeneralSettings(), settings::kOuterRounding));
  const uint16_t flags = view.flags();
  const int cls = view.taxClass();
  if (type == kKeyDepartment) {
    if (flags & line::kInnerTax) m_abTaxIncSeen[cls] = 1;
    if (!(flags & 0x7800)) {
      const int32_t unitPrice = view.unitPrice() + CalTax(view.unitPrice(), outerRounding, cls);
      putI32(record, line::kUnitPrice, unitPrice);
      putI32(record, line::kPrice, static_cast<int32_t>(static_cast<int64_t>(view.unit()) * unitPrice));
      putU16(record, line::kFlags, static_cast<uint16_t>(flags | line::kInnerTax));
    }
    if (m_pPrintEngine) m_pPrintEngine->AddLineToTotals(record, totals);
    return;
  }
  if (type != kKeySystemLine) return;
  const uint16_t kind = view.number();
  // The kinds of each rate slot: the standard rate's, then those of rates 1-3.
  auto ofSlot = [](uint16_t standard, uint16_t rate1, int slot) {
    return static_cast<uint16_t>(slot == 0 ? standard : rate1 + slot - 1);
  };
  uint16_t kTaxable[4], kTax[4], kIncluded[4], kContained[4];
  for (int c = 0; c < 4; ++c) {
    kTaxable[c] = ofSlot(kLineTaxable, kLineTaxable1, c);
    kTax[c] = ofSlot(kLineTax, kLineTax1, c);
    kIncluded[c] = ofSlot(kLineTaxIncluded, kLineTaxIncluded1, c);
    kContained[c] = ofSlot(kLineTaxContained, kLineTaxContained1, c);
  }
  for (int c = 0; c < 4; ++c) {
    if ((kind == kTaxable[c] || kind == kTax[c]) && cls == c && m_abTaxIncSeen[c]) {
      *suppress = true;
      return;
    }
  }
  const int32_t voidFlag = flags & line::kVoid;
  for (int c = 0; c < 4; ++c) {
    const int32_t included = totals[saletotal::kInner + c];
    if (kind == kTaxable[c] || kind == kIncluded[c]) {
      MakeSystemLine(record, kIncluded[c], included, voidFlag);
      return;
    }
    if (kind == kTax[c] || kind == kContained[c]) {
      MakeSystemLine(record, kContained[c], included - CalTaxInc(included, outerRounding, c), voidFlag);
      return;
    }
  }
}

}  // namespace varnex::reg
