// The quantity typed into a list row, and repeated items folded together.
//
// The quantity key (4:65) without an entry, on an item row, starts a
// sub-entry: the row's quantity goes to 0 and every digit then raises it
// (q x 10 + digit), with the line, the file, the list and the sale totals
// kept in step after each digit. Any other key finishes it; a quantity still
// 0 then goes back to the one it started with.
//
// With "Hide History" on, an item registered again folds into the earlier
// line that is the same in every respect but its quantity.
#include <cstring>
#include <limits>
#include <string>

#include "app/register/engine/reg_com.h"
#include "app/register/view/reg_sale.h"
#include "app/shell/app/reg_app.h"

namespace varnex::reg {

namespace {

using LineImage = std::array<uint8_t, line::kSize>;

uint16_t keyOf(const uint8_t* l) { return getU16(l, line::kKeyCode); }
uint16_t flagsOf(const uint8_t* l) { return getU16(l, line::kFlags); }

// Unit price times quantity, when the line's 32-bit amount holds it.
bool amountOf(int32_t unitPrice, int64_t quantity, int32_t* amount) {
  const int64_t a = static_cast<int64_t>(unitPrice) * quantity;
  if (a < std::numeric_limits<int32_t>::min() || a > std::numeric_limits<int32_t>::max()) return false;
  *amount = static_cast<int32_t>(a);
  return true;
}

constexpr int32_t kAmountColumn = 3;
constexpr size_t kQuantityDigits = 6;

}  // namespace

int32_t CRegSale::QuantityKey(const uint8_t* keyRecord) {
  const uint16_t attributes = getU16(keyRecord, transkey::kAttributes.offset);
  // The row a sub-entry would edit: the focused one, or the last line.
  int32_t row = screen_->FocusedListNumber();
  if (row < 0 || row >= lineCount_) row = lineCount_ - 1;
  uint8_t l[line::kSize];
  const bool canStart = !app_->m_bPrintEachLine && !state_.subEntry && lineCount_ > 0 && entry_.empty() &&
                        ReadLine(row, l) && keyType(keyOf(l)) == kKeyDepartment &&
                        (flagsOf(l) & (line::kCcts | line::kClct)) == 0;
  if (!CheckKeyEntry(attributes, canStart ? 0x1C0 : 0x1C4, nullptr)) return kRefused;
  if (canStart) {
    state_.subEntry = 1;
    subEntryLine_ = row;
    if (!SetLineQuantity(0, 3)) {
      state_.subEntry = 0;
      return kRefused;
    }
    screen_->FocusListNumber(row);
    putU16(current_, line::kKeyCode, makeKeyCode(kKeyEntry, kFunctionQuantity));
    // The row keeps the cursor: the line being built is not shown again.
    return kEnded;
  }
  if (entry_.size() > kQuantityDigits) return ShowRegError(kErrDigitLimit);
  int64_t value = 0;
  EntryValue(&value);
  putI32(current_, line::kUnit, static_cast<int32_t>(value));
  state_.fixedTail = 0;
  entry_.clear();
  putU16(current_, line::kKeyCode, makeKeyCode(kKeyEntry, kFunctionQuantity));
  return kShown;
}

// Digits, "00", the last digit off, clear and cancel while a sub-entry runs.
int32_t CRegSale::SubEntryKey(uint16_t keyCode) {
  int32_t done = 1;
  if (keyType(keyCode) == kKeyEntry) {
    done = SetLineQuantity((keyNumber(keyCode) & 0xFF) - '0', 1);
  } else {
    switch (keyNumber(keyCode)) {
      case kFunctionDoubleZero:
        done = SetLineQuantity(0, 1) && SetLineQuantity(0, 1);
        break;
      case kFunctionBackspace:
        done = SetLineQuantity(0, -1);
        break;
      case kFunctionClear:
        done = SetLineQuantity(0, 0);
        break;
      case kFunctionCancelLine:
        // Back to the quantity from before; the sub-entry ends with the line.
        done = SetLineQuantity(subEntrySaved_, 0);
        CloseTransaction(0);
        return done ? kShown : kRefused;
      default:
        return kRefused;
    }
  }
  return done ? kEnded : kRefused;
}

int32_t CRegSale::SetLineQuantity(int32_t value, int32_t request) {
  std::vector<LineImage> lines;
  const int32_t n = subEntryLine_;
  if (n < 0 || n >= lineCount_ || !ReadAllLines(&lines)) {
    state_.subEntry = 0;
    return ShowRegError(kErrBadHandle);
  }
  uint8_t* l = lines[static_cast<size_t>(n)].data();
  const int32_t q = getI32(l, line::kUnit);
  int64_t next = 0;
  switch (request) {
    case -3:
      UpdateCustomerDisplays(l, 'T', amount_);
      if (q != 0) return 1;
      next = subEntrySaved_;
      break;
    case 1:
      if (std::to_string(q).size() >= kQuantityDigits) return ShowRegError(kErrDigitLimit);
      next = int64_t{q} * 10 + value;
      break;
    case 3:
      subEntrySaved_ = q;
      next = value;
      break;
    case -1: next = q / 10; break;
    case 0: next = value; break;
    default: return 0;
  }
  // The amount is worked out in 64 bits: what the line cannot hold is
  // refused as too many digits, and the line stays as it was.
  int32_t amount = 0;
  if (next > std::numeric_limits<int32_t>::max() || !amountOf(getI32(l, line::kUnitPrice), next, &amount))
    return ShowRegError(kErrDigitLimit);
  putI32(l, line::kUnit, static_cast<int32_t>(next));
  putI32(l, line::kPrice, amount);
  if (!ReplaceLines(lines)) {
    state_.subEntry = 0;
    return ShowRegError(kErrBadHandle);
  }
  if (next == 0) screen_->ClearListCell(n, kAmountColumn);
  TotalsFromLines();
  message_.clear();
  RefreshPane();
  return 1;
}

int32_t CRegSale::MergeRepeatedLine(int32_t force) {
  if (!app_->m_bHideHistory || (!force && state_.priceChange)) return 1;
  std::vector<LineImage> lines;
  if (!ReadAllLines(&lines)) {
    ShowRegError(kErrBadHandle);
    return 1;
  }
  // Only a line the same in key, names, code, unit price and every flag (tax
  // class, refund, correction) takes the repeat: a non-taxable repeat
  // never lands on a taxable line.
  auto same = [&](const uint8_t* l) {
    return keyOf(l) == keyOf(current_) && flagsOf(l) == flagsOf(current_) &&
           getI32(l, line::kUnitPrice) == getI32(current_, line::kUnitPrice) &&
           std::memcmp(l + line::kCode, current_ + line::kCode, line::kCodeLen) == 0 &&
           std::memcmp(l + line::kDisplayName, current_ + line::kDisplayName, line::kDisplayNameLen) == 0;
  };
  for (LineImage& image : lines) {
    uint8_t* l = image.data();
    if (!same(l)) continue;
    int32_t added = getI32(current_, line::kUnit);
    if (added < 1) added = 1;
    const int64_t quantity = int64_t{getI32(l, line::kUnit)} + added;
    int32_t amount = 0;
    // A quantity the line cannot hold stays a line of its own.
    if (quantity > std::numeric_limits<int32_t>::max() || !amountOf(getI32(l, line::kUnitPrice), quantity, &amount))
      return 1;
    putI32(l, line::kUnit, static_cast<int32_t>(quantity));
    putI32(l, line::kPrice, amount);
    if (!ReplaceLines(lines)) {
      ShowRegError(kErrBadHandle);
      return 1;
    }
    // The sale begins again from its lines, so the repeat counts once.
    WriteLine(1, 1);
    return 0;
  }
  return 1;
}

}  // namespace varnex::reg
