// Rewriting lines already in the sale: a correction, a quantity typed into a
// row, a merged repeat, a sale-wide tax switch. The sale lives in three
// places that must agree (the temporary file, the line block and the list);
// ReplaceLines changes all three or, when the file refuses a write, puts
// back what it had written and leaves the sale as it was.
#include <cstring>

#include "app/register/engine/reg_com.h"
#include "app/register/view/reg_sale.h"
#include "zemta/filedb.h"
#include "zemta/memory.h"

namespace varnex::reg {

using LineImage = std::array<uint8_t, line::kSize>;

bool CRegSale::ReadAllLines(std::vector<LineImage>* lines) const {
  lines->assign(static_cast<size_t>(lineCount_ > 0 ? lineCount_ : 0), LineImage{});
  for (int32_t n = 0; n < lineCount_; ++n)
    if (!ReadLine(n, (*lines)[static_cast<size_t>(n)].data())) return false;
  return true;
}

void CRegSale::RebuildList() {
  screen_->DeleteListRows();
  uint8_t l[line::kSize];
  for (int32_t n = 0; n < lineCount_; ++n)
    if (ReadLine(n, l)) screen_->SetListRow(l, n);
  screen_->SetListRow(current_, lineCount_);
}

void CRegSale::TotalsFromLines() {
  std::memset(totals_, 0, sizeof totals_);
  uint8_t l[line::kSize];
  for (int32_t n = 0; n < lineCount_; ++n)
    if (ReadLine(n, l)) engine_->AddLineToTotals(l, totals_);
  ComputeSaleTax();
}

int32_t CRegSale::ReplaceLines(const std::vector<LineImage>& lines) {
  if (!temporary_ || !block_) return 0;
  std::vector<LineImage> old;
  if (!ReadAllLines(&old)) return 0;
  const int32_t oldCount = lineCount_;
  const int32_t newCount = static_cast<int32_t>(lines.size());
  const int32_t common = oldCount < newCount ? oldCount : newCount;
  auto differs = [&](int32_t n) {
    return std::memcmp(old[static_cast<size_t>(n)].data(), lines[static_cast<size_t>(n)].data(), line::kSize) != 0;
  };

  // The file first. Appended lines with at most one line changed in place
  // are written where they stand, the new records on the end before the
  // record in place changes: a sale cut off in between keeps whole lines (a
  // counter-line before the mark on the line it cancels). Lines dropped or
  // several changed (a line taken out, a repeat folded in, a tax switch)
  // cannot be: a kill between two of those writes would leave a line twice
  // or a sale half switched, so the file is rewritten whole instead.
  int32_t inPlace = 0;
  for (int32_t n = 0; n < common; ++n) inPlace += differs(n) ? 1 : 0;
  const bool whole = newCount < oldCount || inPlace > 1;
  std::vector<int32_t> changed;
  auto undoFile = [&]() {
    if (whole) {
      engine_->RewriteTemporary(temporary_, old.empty() ? nullptr : old.front().data(), oldCount);
      return 0;
    }
    for (int32_t n : changed) FileDBRecWrite(temporary_, n, old[static_cast<size_t>(n)].data());
    // A refused write leaves the table's count unknown: it is read again
    // from the file, and whatever lies past the sale's lines goes.
    const int32_t now = FileDBRecGetSize(temporary_);
    if (now > oldCount) FileDBRecDelete(temporary_, oldCount, now - 1, nullptr);
    return 0;
  };
  if (whole) {
    if (!engine_->RewriteTemporary(temporary_, lines.empty() ? nullptr : lines.front().data(), newCount)) return 0;
  } else {
    for (int32_t n = oldCount; n < newCount; ++n) {
      if (FileDBRecWrite(temporary_, n, lines[static_cast<size_t>(n)].data()) != 0) return undoFile();
    }
    for (int32_t n = common - 1; n >= 0; --n) {
      if (!differs(n)) continue;
      if (FileDBRecWrite(temporary_, n, lines[static_cast<size_t>(n)].data()) != 0) return undoFile();
      changed.push_back(n);
    }
    // The file's own count, read again: a write refused before (a full disk)
    // may have left the table unsure of it.
    const int32_t onDisk = FileDBRecGetSize(temporary_);
    if (onDisk < 0) return undoFile();
    if (onDisk > newCount && FileDBRecDelete(temporary_, newCount, onDisk - 1, nullptr) != 0) return undoFile();
  }

  // Then the block, from the first line that differs.
  auto writeBlock = [&](const std::vector<LineImage>& from, int32_t count) {
    for (int32_t n = 0; n < count; ++n) {
      const int32_t at = n * static_cast<int32_t>(line::kSize);
      if (SeekMemory(block_, at, MEMORY_SEEK_BEGIN) != at ||
          WriteDataMemory(block_, from[static_cast<size_t>(n)].data(), line::kSize) !=
              static_cast<int32_t>(line::kSize))
        return false;
    }
    return true;
  };
  if (!writeBlock(lines, newCount)) {
    writeBlock(old, oldCount);
    return undoFile();
  }
  lineCount_ = newCount;

  // The list: a changed count renumbers every row after the change.
  if (newCount != oldCount) {
    RebuildList();
  } else {
    for (int32_t n = 0; n < newCount; ++n)
      if (differs(n)) screen_->SetListRow(lines[static_cast<size_t>(n)].data(), n);
  }
  return 1;
}

}  // namespace varnex::reg
