// Sale-wide tax switches and the special local tax line.
//
// 免税 (4:72) makes the whole open sale tax-exempt or taxable again, 減税
// (4:84) moves its standard-rate lines to the reduced rate (slot 1) or back.
// Both rewrite every line that takes part in the sale's tax (items,
// adjustments, the special local tax and service charge lines) in the file,
// the block and the list at once, then make the sale totals again from every
// line, so amounts that are no tax matter (points granted, the number of
// persons) stay counted. Key 4:73 adds the special local tax line when the
// taxable amount per person reaches the threshold of the settings.
#include <cstring>

#include "app/register/engine/reg_com.h"
#include "app/register/view/reg_sale.h"
#include "app/shell/app/reg_app.h"
#include "zemta/tax.h"

namespace varnex::reg {

namespace {

using LineImage = std::array<uint8_t, line::kSize>;

bool takesPartInTax(uint16_t key) {
  const uint16_t type = keyType(key), code = keyNumber(key);
  return type == kKeyDepartment ||
         (type == kKeyTrans2 && code >= kTrans2AmountDiscount && code <= kTrans2PercentSurcharge) ||
         (type == kKeySystemLine && (code == kLineSpecialTax || code == kLineServiceCharge));
}

constexpr uint16_t kOwnSlot = 0x000C, kAppliedSlot = 0x0030;
constexpr uint16_t kReducedSlot = 1 << line::kRateShift;

}  // namespace

int32_t CRegSale::TaxSwitchKey(uint16_t code, uint16_t keyAttributes) {
  if (!CheckKeyEntry(keyAttributes, 0x5C2, nullptr)) return kRefused;
  if (code == kFunctionTaxReduction && TaxRateOfSlot(1) == 0) return ShowRegError(kErrReducedRate);
  if (!(code == kFunctionTaxExempt ? ToggleTaxExempt() : ToggleReducedRate())) return kRefused;
  return kShown;
}

int32_t CRegSale::ToggleTaxExempt() { return ToggleSaleTax(false); }
int32_t CRegSale::ToggleReducedRate() { return ToggleSaleTax(true); }

int32_t CRegSale::ToggleSaleTax(bool reduced) {
  std::vector<LineImage> lines;
  if (!ReadAllLines(&lines)) return ShowRegError(kErrBadHandle);
  const bool on = !(reduced ? taxReduced_ : taxFree_);
  for (LineImage& image : lines) {
    uint8_t* l = image.data();
    if (!takesPartInTax(getU16(l, line::kKeyCode))) continue;
    uint16_t f = getU16(l, line::kFlags);
    if (reduced) {
      // Only lines of the standard rate by their own slot move.
      if (f & kOwnSlot) continue;
      if (on && (f & kAppliedSlot) == 0) f = static_cast<uint16_t>(f | kReducedSlot);
      else if (!on && (f & kAppliedSlot) == kReducedSlot) f = static_cast<uint16_t>(f & ~kAppliedSlot);
    } else {
      f = on ? static_cast<uint16_t>(f | line::kTaxExempt) : static_cast<uint16_t>(f & ~line::kTaxExempt);
    }
    putU16(l, line::kFlags, f);
  }
  // The switch changes only once every line holds it.
  if (!ReplaceLines(lines)) return ShowRegError(kErrBadHandle);
  (reduced ? taxReduced_ : taxFree_) = on ? 1 : 0;
  TotalsFromLines();
  ShowModifierStatus();
  putU16(current_, line::kKeyCode, makeKeyCode(kKeyEntry, 0));
  UpdateCustomerDisplays(previous_, 'T', amount_);
  return 1;
}

int32_t CRegSale::SpecialTaxKey(uint16_t keyAttributes) {
  if (!CheckKeyEntry(keyAttributes, 0x15C2, nullptr)) return kRefused;
  if (!AddSpecialLocalTax()) {
    putU16(current_, line::kKeyCode, makeKeyCode(kKeyEntry, kFunctionSpecialTax));
    return kShown;
  }
  state_.taxService = 1;
  return kWritten;
}

int32_t CRegSale::AddSpecialLocalTax() {
  const uint8_t* s = engine_->Settings();
  if (!s) return 0;
  const int32_t rate = getU16(s, settings::kSpecialRate.offset);
  if (rate == 0) return 0;
  if (totals_[saletotal::kGuests] == 0) totals_[saletotal::kGuests] = 1;
  const int32_t persons = totals_[saletotal::kGuests];
  const int32_t base = totals_[saletotal::kSpecialBase];
  if (persons <= 0 || base / persons < getI32(s, settings::kSpecialThreshold.offset)) return 0;
  double tax = static_cast<double>(rate) * static_cast<double>(base) / 10000.0;
  const int32_t amount = CalRound(&tax, 0, static_cast<int32_t>(getBits(s, settings::kSpecialRounding)));
  BuildSystemLine(kLineSpecialTax, amount, 0);
  // The line itself bears no consumption tax.
  uint16_t attributes = attribute::kNonTaxable;
  SetLineTaxFlags(&attributes);
  return 1;
}

}  // namespace varnex::reg
