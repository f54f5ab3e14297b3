// Discounts and surcharges by tax rate, and the subtotal key.
//
// Items of different rates and of inner and outer tax can be mixed in one
// sale, so an adjustment line carries a tax class and a rate slot like an
// item: FindAdjustTaxSlot takes them from the sale's item lines, and a
// subtotal adjustment (with bit 10 of the settings' tax word) is shared out
// over the rate slots in use by SplitAdjustByTaxSlot, one line per slot.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/register/engine/reg_com.h"
#include "app/register/view/reg_sale.h"
#include "app/shell/app/reg_app.h"
#include "zemta/tax.h"

namespace varnex::reg {

namespace {

uint16_t keyOf(const uint8_t* record) { return getU16(record, line::kKeyCode); }
uint16_t flagsOf(const uint8_t* record) { return getU16(record, line::kFlags); }

bool liveItem(const uint8_t* l) {
  return keyType(keyOf(l)) == kKeyDepartment && (flagsOf(l) & (line::kCcts | line::kClct)) == 0;
}

int32_t appliedSlot(const uint8_t* l) { return (flagsOf(l) >> line::kRateShift) & 3; }

// Flags of an adjustment line in a slot: the slot as its own and as the
// applied one (SetLineTaxFlags applies 減税), the class of the line's tax.
uint16_t slotFlags(uint16_t flags, int32_t slot, bool inner) {
  flags = static_cast<uint16_t>(flags & ~(0x000C | 0x0030 | line::kInnerTax));
  flags |= static_cast<uint16_t>((slot << 2) | (slot << line::kRateShift));
  if (inner) flags |= line::kInnerTax;
  return flags;
}

// The settings' tax word (bits 0-1 outer rounding ... bit 10 split by slot).
constexpr uint16_t kSplitBySlot = 0x0400;

}  // namespace

void CRegSale::DropLinesFrom(int32_t first) {
  std::vector<std::array<uint8_t, line::kSize>> kept;
  if (lineCount_ <= first || !ReadAllLines(&kept)) return;
  kept.resize(static_cast<size_t>(first));
  ReplaceLines(kept);
}

int32_t CRegSale::TaxRateOfSlot(int32_t slot) const {
  static const FieldPlace* const kRates[4] = {&settings::kRate0, &settings::kRate1, &settings::kRate2,
                                              &settings::kRate3};
  if (slot < 0 || slot > 3 || !engine_->Settings()) return 0;
  return getU16(engine_->Settings(), kRates[slot]->offset);
}

int32_t CRegSale::FindAdjustTaxSlot(int32_t* mixed, int32_t* inner, int32_t* slot, int32_t amountTest,
                                    int32_t pointsOnly) {
  *inner = 0;
  const int32_t amount = *slot;
  *slot = -1;
  int32_t rates[4];
  for (int s = 0; s < 4; ++s) rates[s] = TaxRateOfSlot(s);
  bool first = true, outerSeen = false, innerSeen = false, haveLowest = false;
  int32_t lowest = 0, lowestSlot = 0, highest = 0, highestSlot = 0;
  uint8_t l[line::kSize];
  for (int32_t n = lineCount_ - 1; n >= 0; --n) {
    if (!ReadLine(n, l)) return ShowRegError(kErrBadHandle);
    if (pointsOnly && !(flagsOf(l) & line::kPointTarget)) continue;
    if (liveItem(l)) {
      const int32_t s = appliedSlot(l);
      const bool isInner = (flagsOf(l) & line::kInnerTax) != 0;
      if (isInner) {
        if (!innerSeen) highest = highestSlot = 0;
        innerSeen = true;
        *inner = 1;
      } else {
        outerSeen = true;
        if (rates[s] != 0 && (!haveLowest || rates[s] < lowest)) {
          lowest = rates[s];
          lowestSlot = s;
          haveLowest = true;
        }
      }
      if ((isInner || !innerSeen) && rates[s] != 0 && rates[s] > highest) {
        highest = rates[s];
        highestSlot = s;
      }
      if (first) {
        first = false;
        *slot = s;
        if (amountTest) break;
      }
    } else if (keyOf(l) == makeKeyCode(kKeyFunction, kFunctionSubtotal) && first) {
      // Lines before a subtotal no longer choose the slot; with the amount
      // test, slots too small for the amount take no part.
      if (amountTest)
        for (int s = 0; s < 4; ++s)
          if (totals_[saletotal::kOuterTaxable + s] < amount) rates[s] = 0;
      first = false;
    }
  }
  if (!outerSeen && !innerSeen) {
    if (!pointsOnly) return ShowRegError(kErrNoTarget);
    *mixed = 0;
    *slot = 0;
    return 1;
  }
  *mixed = outerSeen && innerSeen ? 1 : 0;
  if (*slot < 0) *slot = amountTest && !innerSeen ? lowestSlot : highestSlot;
  return 1;
}

int32_t CRegSale::SplitAdjustByTaxSlot(uint16_t keyCode, const uint8_t* target, int32_t value,
                                       const uint16_t* attributes) {
  const uint16_t code = keyNumber(keyCode);
  const bool byAmount = code == kTrans2AmountDiscount || code == kTrans2AmountSurcharge;
  const bool negative = code == kTrans2AmountDiscount || code == kTrans2PercentDiscount;
  const int32_t targetAmount = getI32(target, line::kPrice);
  // The entered amount is shared in proportion to the target's amount: a
  // target of 0 has no proportions to share by.
  if (byAmount && targetAmount == 0) return ShowRegError(kErrNoTarget);
  int64_t sums[4] = {};
  uint8_t l[line::kSize];
  for (int32_t n = 0; n < lineCount_; ++n) {
    if (!ReadLine(n, l)) return ShowRegError(kErrBadHandle);
    if (liveItem(l)) sums[appliedSlot(l)] += getI32(l, line::kPrice);
  }
  const int32_t rounding = (*attributes >> attribute::kRoundingShift) & 3;
  int32_t amounts[4] = {};
  int64_t total = 0;
  int largest = -1;
  for (int s = 0; s < 4; ++s) {
    if (sums[s] == 0) continue;
    const double sum = static_cast<double>(negative ? -sums[s] : sums[s]);
    double share = byAmount ? sum / targetAmount * value : sum * value / 100.0;
    amounts[s] = CalRound(&share, 0, rounding);
    total += amounts[s];
    if (largest < 0 || std::llabs(sums[s]) > std::llabs(sums[largest])) largest = s;
  }
  if (largest < 0) return ShowRegError(kErrNoTarget);
  // Rounded shares may miss the amount entered by a yen or two: the largest
  // slot takes the difference, so the lines add up to the amount exactly.
  if (byAmount) amounts[largest] += static_cast<int32_t>((negative ? -int64_t{value} : int64_t{value}) - total);

  const int32_t linesBefore = lineCount_;
  bool pending = false;
  for (int s = 0; s < 4; ++s) {
    if (sums[s] == 0) continue;
    if (pending) {
      // The line of the slot before is written first; the line being made
      // stays aside meanwhile.
      uint8_t aside[line::kSize];
      std::memcpy(aside, current_, sizeof aside);
      if (!WriteLine(1, 0)) {
        DropLinesFrom(linesBefore);
        return ShowRegError(kErrBadHandle);
      }
      std::memcpy(current_, aside, sizeof aside);
    }
    const uint16_t keep = static_cast<uint16_t>(flagsOf(current_) & line::kVoid);
    std::memset(current_ + line::kCode, 0, line::kKeyCode - line::kCode);
    putU16(current_, line::kKeyCode, keyCode);
    putI32(current_, line::kUnit, 0);
    putI32(current_, line::kUnitPrice, byAmount ? 0 : value);
    putI32(current_, line::kPrice, amounts[s]);
    const uint16_t flags = static_cast<uint16_t>(slotFlags(flagsOf(target), s, flagsOf(target) & line::kInnerTax) |
                                                 keep);
    putU16(current_, line::kFlags, flags);
    uint16_t derived = CRegCom::LineFlagsToItemFlags(flags);
    SetLineTaxFlags(&derived);
    pending = true;
  }
  return 1;
}

// 3:30 amount discount, 3:31 percent discount, 3:32 amount surcharge, 3:33
// percent surcharge.
int32_t CRegSale::AdjustKey(uint16_t keyCode, const uint8_t* keyRecord) {
  const uint16_t code = keyNumber(keyCode);
  const uint16_t attributes = getU16(keyRecord, transkey::kAttributes.offset);
  uint8_t target[line::kSize];
  if (!CheckKeyEntry(attributes, 0x15FC, target)) return kRefused;
  const bool percent = code == kTrans2PercentDiscount || code == kTrans2PercentSurcharge;
  const int32_t targetAmount = getI32(target, line::kPrice);
  int64_t value = 0;
  if (!EntryValue(&value)) {
    value = getU16(keyRecord, transkey::kPreset.offset);
    if (value == 0) return ShowRegError(kErrEntryMissing);
  }
  if (percent && targetAmount == 0) return ShowRegError(kErrNoTarget);
  if (code == kTrans2PercentDiscount && value > 100) return ShowRegError(kErrAboveTarget);
  if (code == kTrans2AmountDiscount && value > targetAmount) return ShowRegError(kErrAboveTarget);
  NameFromRecord(keyRecord);

  const uint16_t taxWord = getU16(engine_->Settings(), settings::kTaxWord);
  if (state_.subtotalTaken && (taxWord & kSplitBySlot)) {
    const int32_t linesBefore = lineCount_;
    const std::string entry = entry_;
    if (!SplitAdjustByTaxSlot(keyCode, target, static_cast<int32_t>(value), &attributes)) {
      entry_ = entry;
      state_.subtotalTaken = 1;
      return kRefused;
    }
    // The last line is written here, so that a failure takes back the lines
    // of the slots before it too: the adjustment goes in whole or not at all.
    if (!WriteLine(1, 0)) {
      DropLinesFrom(linesBefore);
      entry_ = entry;
      state_.subtotalTaken = 1;
      return ShowRegError(kErrBadHandle);
    }
    message_.clear();
    return kEnded;
  }

  int32_t mixed = 0, inner = 0;
  int32_t slot = static_cast<int32_t>(code == kTrans2PercentSurcharge ? targetAmount : value);
  const int32_t amountTest = code == kTrans2AmountDiscount || code == kTrans2PercentSurcharge;
  if (!FindAdjustTaxSlot(&mixed, &inner, &slot, amountTest, 0)) return kRefused;
  int64_t amount = value;
  if (percent) {
    double share = static_cast<double>(targetAmount) * static_cast<double>(value) / 100.0;
    amount = CalRound(&share, 0, (attributes >> attribute::kRoundingShift) & 3);
  } else if (code == kTrans2AmountDiscount && app_->m_bInputIncludPrice && !(inner && !mixed)) {
    // A price entered with its tax: an outer-tax target is discounted by the
    // tax-exclusive part, nudged so that the sale's total ends in a round ten.
    int32_t lastMixed = 0, lastInner = 0, lastSlot = static_cast<int32_t>(value);
    if (!FindAdjustTaxSlot(&lastMixed, &lastInner, &lastSlot, 1, 0)) return kRefused;
    if (!lastInner) {
      slot = lastSlot;
      inner = 0;
      const int32_t e = CalTaxInc(static_cast<int32_t>(value), 1, slot);
      int32_t outer[4];
      for (int s = 0; s < 4; ++s) outer[s] = totals_[saletotal::kOuterTaxable + s];
      const int32_t taxBefore = engine_->OuterTaxOfRates(outer);
      outer[slot] -= e;
      const int64_t after = int64_t{amount_} - e - taxBefore + engine_->OuterTaxOfRates(outer);
      const int32_t r = static_cast<int32_t>(((after % 10) + 10) % 10);
      amount = r < 3 ? e + r : r > 7 ? e + r - 10 : e;
    }
  }
  if (code == kTrans2AmountDiscount || code == kTrans2PercentDiscount) amount = -amount;
  const uint16_t keep = static_cast<uint16_t>(flagsOf(current_) & line::kVoid);
  putU16(current_, line::kKeyCode, keyCode);
  putI32(current_, line::kUnit, 0);
  putI32(current_, line::kUnitPrice, percent ? static_cast<int32_t>(value) : 0);
  putI32(current_, line::kPrice, static_cast<int32_t>(amount));
  // The adjustment keeps the tax exemptions of what it adjusts.
  const uint16_t inherited =
      flagsOf(target) & (line::kNonTaxable | line::kTaxExempt | line::kNoSpecialTax | line::kPointTarget);
  const uint16_t flags = static_cast<uint16_t>(slotFlags(inherited, slot, inner != 0 && (!mixed ||
                                                         (flagsOf(target) & line::kInnerTax))) | keep);
  putU16(current_, line::kFlags, flags);
  uint16_t derived = CRegCom::LineFlagsToItemFlags(flags);
  SetLineTaxFlags(&derived);
  return kWritten;
}

// 4:62: the sale so far, less its outer tax (the whole amount when outer
// and inner tax are mixed), in the slot and class of its items.
int32_t CRegSale::SubtotalKey(const uint8_t* keyRecord) {
  const uint16_t attributes = getU16(keyRecord, transkey::kAttributes.offset);
  if (!CheckKeyEntry(attributes, 0x1DC2, nullptr)) return kRefused;
  if (state_.subtotalTaken) return ShowRegError(kErrTwice);
  int32_t mixed = 0, inner = 0, slot = 0;
  if (!FindAdjustTaxSlot(&mixed, &inner, &slot, 0, 0)) return kRefused;
  int32_t outer[4];
  for (int s = 0; s < 4; ++s) outer[s] = totals_[saletotal::kOuterTaxable + s];
  NameFromRecord(keyRecord);
  putI32(current_, line::kPrice, mixed ? amount_ : amount_ - engine_->OuterTaxOfRates(outer));
  putU16(current_, line::kFlags, slotFlags(flagsOf(current_), slot, mixed || inner));
  state_.subtotalTaken = 1;
  return kWritten;
}

}  // namespace varnex::reg
