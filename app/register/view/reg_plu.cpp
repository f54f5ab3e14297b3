// Items by code: the PLU key 4:66 and the scanned-code routine in front of
// it (see reg_sale.h).
//
// The clerk types or scans a code into the entry and presses the PLU key.
// The scanned-code routine first tells the in-store codes apart:
//   - order codes of the order-sales link: the mask of the link block (digits
//     fixed, S the order number) picks them out; the item comes from the
//     order found in the outside database;
//   - the two codes of a two-stage price tag (the two masks of the general
//     settings): the first stage may carry the department (D) and the tax
//     marks (T, K), the second the price (\ run, times 10 to the settings'
//     exponent); together they make one department line;
// every other code must end in a valid check digit and is looked up as a
// PLU: in the outside database when the PLU table is linked (what is found
// there is kept in the local table), else in the local table. The item then
// becomes a line of its department at its price, or waits for its price
// (open price, or 売価変更 pending).
//
// A refused code leaves the line being built and the sale state as they
// were: nothing of a half-read code leaks into the next item.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "app/register/engine/reg_com.h"
#include "app/register/view/reg_sale.h"
#include "app/shell/app/reg_app.h"
#include "zemta/scan.h"
#include "zemta/tax.h"

namespace varnex::reg {

namespace {

// General settings bytes of the two-stage price tag.
constexpr uint16_t kTagFlag1 = 76;     // non-zero: a completed tag line gets line flag 0x40
constexpr uint16_t kTagFlag2 = 92;     // non-zero: a completed tag line gets line flag 0x80
constexpr uint16_t kTagExponent = 93;  // tag price = price digits x 10^e (signed byte)
constexpr size_t kMaskPositions = 12;

std::string trimRight(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

// The mask of a settings record or link block: up to 12 characters.
std::string maskText(const uint8_t* record, uint16_t offset) {
  return getText(record, offset, kMaskPositions);
}

double getDouble(const uint8_t* record, size_t offset) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | record[offset + static_cast<size_t>(i)];
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// An amount rounded to a whole yen away from zero, as the link's prices are.
int32_t roundAway(double value) {
  if (!std::isfinite(value)) return 0;
  return CalRound(&value, 0, 2);
}

// A caption with its amount right-aligned on one line of 24 columns.
std::string captionAmount(const std::string& caption, int32_t amount) {
  constexpr size_t kWidth = 24;
  const size_t room = caption.size() < kWidth ? kWidth - caption.size() : 1;
  char digits[32];
  std::snprintf(digits, sizeof digits, "%*d", static_cast<int>(room), amount);
  std::string field(digits);
  field.resize(room, ' ');
  StrCnvf(6, static_cast<uint32_t>(room), field.data());
  return caption + field;
}

}  // namespace

// ---- the PLU key -------------------------------------------------------------------

int32_t CRegSale::PluKey() {
  const State before = state_;
  const int32_t result = PluLine();
  if (result == kRefused) {
    state_ = before;
    ShowModifierStatus();
  }
  return result;
}

int32_t CRegSale::PluLine() {
  // 1. A held-sale number brings its held sale back (never while one is
  // being replayed: its item codes are items).
  if (!replaying_ && IsHeldSaleNumber(entry_)) return ImportReserveFile(std::string(entry_), 0) ? kShown : kRefused;

  // 2. In-store codes.
  ScannedCode scanned;
  if (!ProcessScannedCode(&scanned)) return kRefused;
  if (scanned.tagHandled) return scanned.lineDone ? kWritten : kShown;

  // 3, 4. The item: outside, then local.
  uint8_t item[80] = {};
  uint8_t linkRecord[odbcplu::kLen] = {};
  bool linked = false;
  if (!PluLookup(scanned, item, &linked, linkRecord)) return kRefused;
  // What the outside database holds is kept as it is: the tax added below is
  // the line's, not the item's.
  uint8_t fetched[80];
  std::memcpy(fetched, item, sizeof fetched);

  uint16_t attributes = getU16(item, plu::kAttributes.offset);
  // 5. The item's own checks.
  if (!CheckKeyEntry(attributes, 0x4D4, nullptr)) return kRefused;

  // 6. Its department.
  uint16_t number = getU16(item, plu::kDepartment.offset);
  if (state_.twoStageSecond && number == 0) number = scanned.department;
  if (state_.twoStageSecond && number == 0)
    number = getU16(engine_->OrderBlock(), orderblock::kDefaultDepartment.offset);
  uint8_t departmentRecord[64] = {};
  if (engine_->GetDepartmentRecord(number, departmentRecord) < 0) {
    number = 0;
    std::memset(departmentRecord, 0, sizeof departmentRecord);
  }

  // 7. Names and code.
  if (!isBlank(item, plu::kName.offset, plu::kName.size))
    std::memcpy(current_ + line::kDisplayName, item + plu::kName.offset, line::kDisplayNameLen);
  else if (isBlank(current_, line::kDisplayName, line::kDisplayNameLen))
    std::memcpy(current_ + line::kDisplayName, departmentRecord, line::kDisplayNameLen);
  if (!isBlank(item, plu::kPrintName.offset, plu::kPrintName.size))
    std::memcpy(current_ + line::kPrintName, item + plu::kPrintName.offset, line::kPrintNameLen);
  else if (isBlank(current_, line::kPrintName, line::kPrintNameLen))
    std::memcpy(current_ + line::kPrintName, departmentRecord + line::kDisplayNameLen, line::kPrintNameLen);
  if (!isBlank(item, plu::kCode.offset, plu::kCode.size))
    std::memcpy(current_ + line::kCode, item + plu::kCode.offset, line::kCodeLen);
  if (scanned.quantity != 0) putI32(current_, line::kUnit, scanned.quantity);

  // 8. "Uchi Hen": outer-tax items are sold at their tax-inclusive price.
  int32_t itemPrice = getI32(item, plu::kUnitPrice.offset);
  if (app_->m_bUchiHen && !(attributes & (attribute::kInnerTax | attribute::kNonTaxable | attribute::kNoSpecialTax))) {
    attributes = static_cast<uint16_t>(attributes | attribute::kInnerTax);
    const uint16_t taxWord = getU16(engine_->Settings(), settings::kTaxWord);
    itemPrice += CalTax(itemPrice, taxWord & 3, (attributes >> attribute::kRateShift) & 3);
  }

  // 9. An item of the outside database: the case and its net, then the
  // local copy.
  int32_t netShown = getI32(current_, line::kUnitNet);
  if (linked) {
    int32_t caseQuantity = getI32(linkRecord, odbcplu::kSaleUnit.offset);
    if (caseQuantity < 1) caseQuantity = 1;
    bool fits = true;
    const int32_t linePrice = getI32(current_, line::kUnitPrice);
    if (linePrice != 0) {
      const int64_t p = static_cast<int64_t>(linePrice) * caseQuantity;
      fits = p >= std::numeric_limits<int32_t>::min() && p <= std::numeric_limits<int32_t>::max();
      putI32(current_, line::kUnitPrice, static_cast<int32_t>(p));
    }
    const int32_t lineNet = getI32(current_, line::kUnitNet);
    if (lineNet != 0) {
      netShown = lineNet;
      const int64_t n = static_cast<int64_t>(lineNet) * caseQuantity;
      fits = fits && n >= std::numeric_limits<int32_t>::min() && n <= std::numeric_limits<int32_t>::max();
      putI32(current_, line::kUnitNet, static_cast<int32_t>(n));
    } else {
      double cost = getDouble(linkRecord, odbcplu::kPurchasePrice.offset);
      const int32_t divisor = getI32(linkRecord, odbcplu::kPriceDivisor.offset);
      if (divisor != 0 && (engine_->OdbcState().pluFlags & odbclink::kPriceByDivisor)) cost /= divisor;
      putI32(current_, line::kUnitNet, roundAway(cost * caseQuantity));
      netShown = roundAway(cost);
    }
    if (!fits) return ShowRegError(kErrDigitLimit);
    if (engine_->CacheLinkedPlu(fetched) != 0) return ShowRegError(kErrBadHandle);
  }

  // 10. No price yet: the item waits for it (4:61 or 4:67).
  if (state_.priceChange || (getI32(current_, line::kUnitPrice) == 0 && itemPrice == 0)) {
    if (!state_.priceChange) {
      state_.priceChange = 1;
      ShowModifierStatus();
    }
    entry_.clear();
    putI32(current_, line::kUnitPrice, 0);
    if (number != 0) state_.pendingDepartment = number;
    state_.pendingAttributes = attributes;
    putU16(current_, line::kKeyCode, makeKeyCode(kKeyEntry, kFunctionPlu));
    message_ = captionAmount("売価", itemPrice) + "\n" + captionAmount("Net", netShown);
    return kShownWithMessage;
  }

  // 11. A line of the item's department.
  int32_t unitPrice = getI32(current_, line::kUnitPrice);
  if (unitPrice == 0) unitPrice = itemPrice;
  const int32_t quantity = getI32(current_, line::kUnit);
  const int64_t amount = static_cast<int64_t>(unitPrice) * (quantity == 0 ? 1 : quantity);
  if (amount < std::numeric_limits<int32_t>::min() || amount > std::numeric_limits<int32_t>::max())
    return ShowRegError(kErrDigitLimit);
  return DepartmentLine(number, departmentRecord, unitPrice, attributes);
}

// Steps 3 and 4 of the key: the item record of the code (80 bytes); linked
// says it came from the outside database, whose whole answer is then in
// linkRecord.
int32_t CRegSale::PluLookup(const ScannedCode& scanned, uint8_t* item, bool* linked, uint8_t* linkRecord) {
  *linked = false;
  if (engine_->OdbcState().kinds[odbcmap::slotOf(odbclink::kPlu)].count != 0) {
    const int32_t found = engine_->OdbcSelectPlu(scanned.code.c_str(), linkRecord);
    if (found < 0) return ShowRegError(kErrOdbc);
    if (found > 0) {
      std::memcpy(item, linkRecord, 80);
      *linked = true;
      return 1;
    }
  }
  if (engine_->GetPluRecord(scanned.code.c_str(), item) < 0) {
    // An order line may name a product the shop does not keep: it is sold
    // in the order's department.
    if (!state_.twoStageSecond) return ShowRegError(kErrUnknownPlu);
    std::memset(item, 0, 80);
  }
  return 1;
}

// ---- the scanned-code routine ------------------------------------------------------

int32_t CRegSale::ProcessScannedCode(ScannedCode* scanned) {
  scanned->tagHandled = scanned->lineDone = 0;
  scanned->code = entry_;

  // Order codes of the order-sales link.
  const std::string orderMask = maskText(engine_->OrderBlock(), orderblock::kMask.offset);
  if (!entry_.empty() && !orderMask.empty() && engine_->MatchOrderCodePattern(entry_.c_str()))
    return OrderCode(scanned);

  // Every other code ends in its check digit.
  if (BccCheck(entry_.c_str(), static_cast<int32_t>(entry_.size())) != 1) return ShowRegError(kErrCheckDigit);

  // Two-stage price tags.
  int32_t which = 0;
  if (engine_->MatchPriceCodeMasks(entry_.c_str(), &which) == 1 || which == 0) return 1;
  if (which == 1) return PriceTagStage(1, scanned);
  if (!state_.twoStage) return ShowRegError(kErrFirstStageFirst);
  if (which != 2) return ShowRegError(kErrPriceTagSettings);
  return PriceTagStage(2, scanned);
}

int32_t CRegSale::OrderCode(ScannedCode* scanned) {
  const uint8_t* block = engine_->OrderBlock();
  const std::string mask = maskText(block, orderblock::kMask.offset);
  if (engine_->OdbcState().kinds[odbcmap::slotOf(odbclink::kOrders)].count == 0)
    return ShowRegError(kErrOdbcLinkSettings);
  const size_t first = mask.find_first_of("Ss");
  if (first == std::string::npos) return ShowRegError(kErrOrderSettings);
  if (getU16(block, orderblock::kCheckDigit.offset) != 0 &&
      BccCheck(entry_.c_str(), static_cast<int32_t>(entry_.size())) != 1)
    return ShowRegError(kErrCheckDigit);
  std::string number;
  for (size_t i = first; i < kMaskPositions && i < mask.size() && (mask[i] == 'S' || mask[i] == 's'); ++i) {
    if (i >= entry_.size()) return ShowRegError(kErrOrderDigits);
    number += entry_[i];
  }
  uint8_t order[odbcorder::kLen] = {};
  const int32_t found = engine_->GetOrderRecord(number.c_str(), order);
  if (found < 0) return ShowRegError(kErrOdbc);
  if (found == 0) return ShowRegError(kErrUnknownOrder);

  std::string code = trimRight(getText(order, odbcorder::kItemCode.offset, 13));
  if (code.empty()) code = trimRight(getText(block, orderblock::kDefaultCode.offset, orderblock::kDefaultCode.size));
  scanned->code = code;
  state_.twoStageSecond = 1;
  putI32(current_, line::kUnitPrice, roundAway(getDouble(order, odbcorder::kUnitPrice.offset)));
  putI32(current_, line::kUnitNet, roundAway(getDouble(order, odbcorder::kPurchasePrice.offset)));
  const std::string name = trimRight(getText(order, odbcorder::kName.offset, odbcorder::kName.size));
  if (!name.empty()) putText(current_, line::kDisplayName, line::kDisplayNameLen, name);
  const std::string printName = trimRight(getText(order, odbcorder::kPrintName.offset, odbcorder::kPrintName.size));
  if (!printName.empty()) putText(current_, line::kPrintName, line::kPrintNameLen, printName);
  putText(current_, line::kSubCode, line::kSubCodeLen, entry_);
  if (getU16(block, orderblock::kLineFlag.offset) != 0)
    putU16(current_, line::kFlags, static_cast<uint16_t>(getU16(current_, line::kFlags) | line::kPscd));
  scanned->quantity = getI32(order, odbcorder::kQuantity.offset);
  scanned->department = getU16(order, odbcorder::kDepartment.offset);
  return 1;
}

// One stage of a two-stage price tag (1 or 2): its marks, department and
// price go onto the current line.
int32_t CRegSale::PriceTagStage(int32_t stage, ScannedCode* scanned) {
  const uint8_t* s = engine_->Settings();
  if (stage == 1)
    putText(current_, line::kCode, line::kCodeLen, entry_);
  else
    putText(current_, line::kSubCode, line::kSubCodeLen, entry_);
  scanned->tagHandled = 1;
  const std::string mask =
      maskText(s, stage == 1 ? settings::kPriceMask1.offset : settings::kPriceMask2.offset);
  const std::string& code = entry_;

  // T and K: only the first of each counts; "0" there sets the mark.
  uint16_t flags = getU16(current_, line::kFlags);
  const size_t t = mask.find('T'), k = mask.find('K');
  if (t != std::string::npos && t < code.size() && code[t] == '0') flags |= line::kInnerTax;
  if (k != std::string::npos && k < code.size() && code[k] == '0') flags |= line::kNonTaxable;
  putU16(current_, line::kFlags, flags);

  // A run of D (department) or \ (price) from its first character.
  auto run = [&](char mark, int64_t* value) -> int32_t {
    const size_t from = mask.find(mark);
    if (from == std::string::npos) return 0;
    size_t to = from;
    while (to < mask.size() && mask[to] == mark) ++to;
    if (code.size() < to) return -1;
    int64_t v = 0;
    for (size_t i = from; i < to; ++i) v = v * 10 + (code[i] >= '0' && code[i] <= '9' ? code[i] - '0' : 0);
    *value = v;
    return 1;
  };
  int64_t department = 0, digits = 0;
  const int32_t hasDepartment = run('D', &department);
  if (hasDepartment < 0) return ShowRegError(kErrPriceTagDigits);
  if (hasDepartment > 0) {
    if (department > 0xFFF) return ShowRegError(kErrUnknownDepartmentLink);
    state_.pendingDepartment = static_cast<int32_t>(department);
  }
  const int32_t hasPrice = run('\\', &digits);
  if (hasPrice < 0) return ShowRegError(kErrPriceTagDigits);
  if (hasPrice > 0) {
    const int exponent = static_cast<int8_t>(s[kTagExponent]);
    double price = static_cast<double>(digits) * std::pow(10.0, exponent);
    price = std::trunc(price);
    if (price > std::numeric_limits<int32_t>::max()) return ShowRegError(kErrDigitLimit);
    putI32(current_, line::kUnitPrice, static_cast<int32_t>(price));
  }

  // The department of the tag: its names and its checks.
  uint16_t attributes = 0;
  const int32_t pending = state_.pendingDepartment;
  if (pending != 0) {
    uint8_t record[64] = {};
    if (engine_->GetDepartmentRecord(static_cast<uint32_t>(pending), record) < 0)
      return ShowRegError(kErrUnknownDepartmentLink);
    NameFromRecord(record);
    attributes = getU16(record, department::kAttributes.offset);
    state_.pendingDepartment = 0;
  }
  if (!CheckKeyEntry(attributes, 0x4D4, nullptr)) return 0;
  state_.pendingDepartment = pending;

  if (stage == 1) {
    entry_.clear();
    state_.twoStage = 1;
    putU16(current_, line::kKeyCode, makeKeyCode(kKeyEntry, 0));
    ShowModifierStatus();
    return 1;
  }
  if (state_.priceChange) {
    entry_.clear();
    putU16(current_, line::kKeyCode, makeKeyCode(kKeyEntry, 0));
    return 1;
  }
  // The tag's department makes the line; a tag that named none has no
  // department to sell in.
  if (pending == 0) return ShowRegError(kErrNoDepartmentLink);
  putU16(current_, line::kKeyCode, makeKeyCode(kKeyDepartment, static_cast<uint16_t>(pending)));
  // The tag's marks, on top of the department's own tax class (its rate).
  uint16_t lineAttributes = CRegCom::LineFlagsToItemFlags(getU16(current_, line::kFlags));
  lineAttributes |= static_cast<uint16_t>(attributes & ((3u << attribute::kRateShift) | attribute::kInnerTax |
                                                        attribute::kNonTaxable | attribute::kNoSpecialTax |
                                                        attribute::kPointTarget));
  ApplyTaxToUnitPrice(&lineAttributes);
  SetLineTaxFlags(&lineAttributes);
  flags = getU16(current_, line::kFlags);
  if (s[kTagFlag1]) flags |= line::kPcd;
  if (s[kTagFlag2]) flags |= line::kPscd;
  putU16(current_, line::kFlags, flags);
  scanned->lineDone = 1;
  return 1;
}

}  // namespace varnex::reg
