// Line correction (訂正, key 3:38): one line of the open sale, chosen by the
// focused list row, is cancelled together with the lines that hang on it.
//
// With the history kept (the default) the line is marked corrected (0x200)
// and a counter-line with quantity and amount negated (0x600) is written
// for it, so the receipt shows both. With the history hidden ("Hide
// History" on and the history flag off) the line and its dependants are
// removed from the sale and the rows after them renumbered.
//
// Either way the whole correction is one ReplaceLines: the file, the block
// and the list come out all corrected or all as before.
#include <cstring>

#include "app/register/engine/reg_com.h"
#include "app/register/view/reg_sale.h"
#include "app/shell/app/reg_app.h"

namespace varnex::reg {

namespace {

using LineImage = std::array<uint8_t, line::kSize>;

uint16_t keyOf(const uint8_t* l) { return getU16(l, line::kKeyCode); }
uint16_t flagsOf(const uint8_t* l) { return getU16(l, line::kFlags); }
bool live(const uint8_t* l) { return (flagsOf(l) & (line::kCcts | line::kClct)) == 0; }

bool isAdjustment(uint16_t key) {
  return keyType(key) == kKeyTrans2 && keyNumber(key) >= kTrans2AmountDiscount &&
         keyNumber(key) <= kTrans2PercentSurcharge;
}
bool isSubtotal(uint16_t key) { return key == makeKeyCode(kKeyFunction, kFunctionSubtotal); }
bool isSpecialTax(uint16_t key) { return key == systemLineKey(kLineSpecialTax); }
bool isServiceCharge(uint16_t key) { return key == systemLineKey(kLineServiceCharge); }

// Lines that belong to the line before them.
bool isAttached(uint16_t key) {
  return isSubtotal(key) || isSpecialTax(key) || isServiceCharge(key) || isAdjustment(key);
}

}  // namespace

int32_t CRegSale::CorrectionKey(const uint8_t* keyRecord) {
  if (!CheckKeyEntry(getU16(keyRecord, transkey::kAttributes.offset), 0x1542, nullptr)) return kRefused;
  // The focused row's line; the entry row (or none) stands for the last line.
  int32_t index = screen_->FocusedListNumber();
  if (index < 0 || index >= lineCount_) index = lineCount_ - 1;
  int32_t more = 0;
  return CorrectLine(&index, &more) ? kEnded : kRefused;
}

int32_t CRegSale::CorrectLine(int32_t* index, int32_t* more) {
  *more = 0;
  std::vector<LineImage> lines;
  if (!ReadAllLines(&lines)) return ShowRegError(kErrBadHandle);
  const int32_t count = static_cast<int32_t>(lines.size());
  int32_t i = *index;
  if (i < 0 || i >= count) return ShowRegError(kErrBadHandle);
  auto at = [&](int32_t n) { return lines[static_cast<size_t>(n)].data(); };

  const bool deleteMode = app_->m_bHideHistory && !app_->m_bHistory;
  const uint16_t flags = flagsOf(at(i)), key = keyOf(at(i));
  // A counter-line carries both bits: it is one that cannot be corrected.
  if ((flags & line::kClct) || keyType(key) == kKeyCustomer) return ShowRegError(kErrNotCorrectable);
  if (flags & line::kCcts) return ShowRegError(kErrCorrected);
  if (!deleteMode && isSubtotal(key)) return ShowRegError(kErrNotCorrectable);
  // The special local tax goes with the service charge just before it.
  if (isSpecialTax(key) && i > 0 && isServiceCharge(keyOf(at(i - 1))) && live(at(i - 1))) --i;

  uint8_t shown[line::kSize];
  if (!deleteMode) {
    // The line, and the adjustment or tax line right after it, each get a
    // counter-line at the end of the sale.
    std::vector<LineImage> updated = lines;
    for (int32_t n = i;;) {
      uint8_t* original = updated[static_cast<size_t>(n)].data();
      putU16(original, line::kFlags, static_cast<uint16_t>(flagsOf(original) | line::kCcts));
      std::memcpy(current_, original, line::kSize);
      putI32(current_, line::kUnit, -getI32(original, line::kUnit));
      putI32(current_, line::kPrice, -getI32(original, line::kPrice));
      // The counter-line keeps the line's tax class and slots exactly (0x600
      // with them), so a later 減税 or 免税 moves both alike.
      putU16(current_, line::kFlags, static_cast<uint16_t>(flagsOf(current_) | line::kClct));
      LineImage counter;
      std::memcpy(counter.data(), current_, line::kSize);
      updated.push_back(counter);
      const int32_t next = n + 1;
      if (next >= count || !live(at(next))) break;
      const uint16_t nextKey = keyOf(at(next));
      if (!isSpecialTax(nextKey) && !isAdjustment(nextKey)) break;
      *more = 1;
      n = next;
    }
    if (!ReplaceLines(updated)) return ShowRegError(kErrBadHandle);
    std::memcpy(shown, updated.back().data(), sizeof shown);
  } else {
    // The line and what hangs on it go; so do the subtotals and tax lines
    // after it, which were worked out from totals that held it.
    std::vector<bool> removed(static_cast<size_t>(count), false);
    auto removeWithAttached = [&](int32_t n) {
      removed[static_cast<size_t>(n)] = true;
      for (++n; n < count && live(at(n)) && isAttached(keyOf(at(n))); ++n) removed[static_cast<size_t>(n)] = true;
      return n;
    };
    int32_t n = removeWithAttached(i);
    for (; n < count; ++n) {
      const uint16_t k = keyOf(at(n));
      if (live(at(n)) && (isSubtotal(k) || isSpecialTax(k) || isServiceCharge(k))) n = removeWithAttached(n) - 1;
    }
    std::vector<LineImage> kept;
    for (int32_t m = 0; m < count; ++m)
      if (!removed[static_cast<size_t>(m)]) kept.push_back(lines[static_cast<size_t>(m)]);
    if (!ReplaceLines(kept)) return ShowRegError(kErrBadHandle);
    // The displays show the removed line as a negative entry.
    std::memcpy(shown, at(i), sizeof shown);
    putI32(shown, line::kUnit, -getI32(shown, line::kUnit));
    putI32(shown, line::kPrice, -getI32(shown, line::kPrice));
  }
  *index = i;
  // The sale begins again from its lines: totals, points, the 税／奉 state.
  std::memcpy(current_, shown, sizeof shown);
  WriteLine(1, 1);
  return 1;
}

void CRegSale::MarkCorrectedLines() {
  std::vector<LineImage> lines;
  if (!ReadAllLines(&lines)) return;
  // The line a counter-line cancels: the same but for the counter's bit and
  // the signs of its quantity and amount.
  auto cancels = [](const uint8_t* counter, const uint8_t* l) {
    return std::memcmp(counter, l, line::kFlags) == 0 && keyOf(counter) == keyOf(l) &&
           flagsOf(counter) == (flagsOf(l) | line::kCcts | line::kClct) &&
           getI32(counter, line::kUnit) == -getI32(l, line::kUnit) &&
           getI32(counter, line::kUnitPrice) == getI32(l, line::kUnitPrice) &&
           getI32(counter, line::kPrice) == -getI32(l, line::kPrice);
  };
  std::vector<bool> taken(lines.size(), false);
  bool marked = false;
  for (size_t c = 0; c < lines.size(); ++c) {
    const uint8_t* counter = lines[c].data();
    if ((flagsOf(counter) & (line::kCcts | line::kClct)) != (line::kCcts | line::kClct)) continue;
    size_t found = c;
    for (size_t o = 0; o < c && found == c; ++o)
      if (!taken[o] && (flagsOf(lines[o].data()) & 0x600) == line::kCcts && cancels(counter, lines[o].data()))
        found = o;
    for (size_t o = c; found == c && o-- > 0;) {
      uint8_t* l = lines[o].data();
      if (!taken[o] && (flagsOf(l) & 0x600) == 0 && cancels(counter, l)) {
        putU16(l, line::kFlags, static_cast<uint16_t>(flagsOf(l) | line::kCcts));
        found = o;
        marked = true;
      }
    }
    if (found != c) taken[found] = true;
  }
  if (marked) ReplaceLines(lines);
}

}  // namespace varnex::reg
