// Boxes of an edit (frames over rectangles of cells with their lock bytes),
// hit tests, attributes of the selection and ruled-line frames.
#include <algorithm>
#include <cstring>
#include <new>

#include "lib/core/report.h"
#include "lib/views/edit/edit_object.h"
#include "zemta/winhelp.h"

namespace zemta::edit {

namespace {

constexpr uint8_t kAtrLeftEdge = 0xE1;  // where a box at column 0 is taken out
constexpr int32_t kNoBox = 65535;

int32_t half(int32_t gap) { return (gap + 1) / 2; }

bool hasType(uint32_t flags) { return (flags & EDIT_BOX_TYPE_MASK) != 0; }

struct KeptCells {
  std::vector<char> text;
  std::vector<uint8_t> atr;
  int32_t width = 0, height = 0;
};

// Takes a box's cells out: their text and attributes are kept aside, their
// lock bytes cleared, their text blanked and their attributes set to the
// cell left of the box (0xE1 at column 0).
KeptCells removeBoxCells(EditObject* e, EditBox& box) {
  KeptCells kept;
  kept.width = box.width;
  kept.height = box.height;
  kept.text.reserve(static_cast<size_t>(box.width) * box.height);
  kept.atr.reserve(static_cast<size_t>(box.width) * box.height);
  for (int32_t r = box.y; r < box.y + box.height; ++r) {
    const uint8_t left = box.x > 0 ? e->atr[e->index(box.x - 1, r)] : kAtrLeftEdge;
    for (int32_t c = box.x; c < box.x + box.width; ++c) {
      const size_t i = e->index(c, r);
      kept.text.push_back(e->text[i]);
      kept.atr.push_back(e->atr[i]);
      if (!e->lock.empty()) e->lock[i] = 0;
      e->text[i] = ' ';
      e->atr[i] = left;
    }
  }
  invalidateCells(e, box.x, box.y, box.width, box.height);
  box.flags = 0;
  return kept;
}

// Whether the box overlaps the block without lying wholly inside it.
bool crossesBorder(const EditBox& box, const Block& b) {
  const int32_t right = box.x + box.width, bottom = box.y + box.height;
  const bool overlaps = box.x < b.left + b.width && right > b.left && box.y < b.top + b.height && bottom > b.top;
  const bool inside = box.x >= b.left && right <= b.left + b.width && box.y >= b.top && bottom <= b.top + b.height;
  return overlaps && !inside;
}

// Stroke masks of the ruled-line characters and their codes.
uint16_t codeOfMask(uint32_t mask) {
  static const struct { uint16_t mask, code; } kCodes[] = {
      {0x003, 0x86B6}, {0x005, 0x86A4}, {0x006, 0x86AE}, {0x007, 0x86BE}, {0x009, 0x86BA}, {0x00A, 0x86A2},
      {0x00B, 0x86D6}, {0x00C, 0x86B2}, {0x00D, 0x86C6}, {0x00E, 0x86CE}, {0x00F, 0x86DE}, {0x500, 0x86A5},
      {0x900, 0x86BD}, {0xA00, 0x86A3}, {0xA01, 0x86D9}, {0xA04, 0x86D1},
  };
  for (const auto& c : kCodes)
    if (c.mask == mask) return c.code;
  return 0;
}

}  // namespace

bool cellCounts(const EditObject* e, const Block& block, int32_t column, int32_t row) {
  for (const EditBox& box : e->boxes) {
    if (!hasType(box.flags) || !crossesBorder(box, block)) continue;
    if (column >= box.x && column < box.x + box.width && row >= box.y && row < box.y + box.height) return false;
  }
  return true;
}

}  // namespace zemta::edit

using namespace zemta::edit;

int32_t EditSetAtrEx(EditHandle edit, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags,
                     int32_t index) {
  EditObject* e = checked(edit);
  if (!e || e->text.empty()) return -1;
  const int32_t boxIndex = static_cast<int16_t>(index);
  if (((flags >> 24) & 0x1F) == 0x10) return -1;
  if (boxIndex != -1 && (boxIndex < 0 || static_cast<size_t>(boxIndex) >= e->boxes.size() || e->lock.empty()))
    return -1;
  if (x < 0 || y < 0 || width < 0 || height < 0 || x + width > e->ux || y + height > e->uy) return -1;
  const bool typed = hasType(flags);
  try {
    if (typed && boxIndex == -1 && e->boxes.size() >= e->boxCapacity) {
      const uint32_t capacity = (e->boxCapacity / 4096 + 1) * 4096;
      e->boxes.reserve(capacity);
      e->boxCapacity = capacity;
    }
    if (e->lock.empty()) e->lock.assign(e->text.size(), 0);
  } catch (const std::bad_alloc&) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }
  KeptCells kept;
  if (boxIndex != -1 && hasType(e->boxes[static_cast<size_t>(boxIndex)].flags))
    kept = removeBoxCells(e, e->boxes[static_cast<size_t>(boxIndex)]);
  if (width > 0 && height > 0)
    for (int32_t r = y; r < y + height; ++r)
      std::memset(&e->lock[e->index(x, r)], static_cast<int>(flags & 0xFF), static_cast<size_t>(width));
  if (!typed) return kNoBox;
  for (int32_t r = 0; r < std::min(height, kept.height); ++r)
    for (int32_t c = 0; c < std::min(width, kept.width); ++c) {
      const size_t from = static_cast<size_t>(r) * kept.width + c;
      e->text[e->index(x + c, y + r)] = kept.text[from];
      e->atr[e->index(x + c, y + r)] = kept.atr[from];
    }
  EditBox box;
  box.x = static_cast<uint16_t>(x);
  box.y = static_cast<uint16_t>(y);
  box.width = static_cast<uint16_t>(width);
  box.height = static_cast<uint16_t>(height);
  box.flags = flags;
  int32_t at = boxIndex;
  if (at == -1) {
    e->boxes.push_back(box);
    at = static_cast<int32_t>(e->boxes.size() - 1);
  } else {
    e->boxes[static_cast<size_t>(at)] = box;
  }
  if (width > 0 && height > 0) invalidateCells(e, x, y, width, height);
  return at;
}

int32_t EditDeleteBox(EditHandle edit, int32_t index) {
  EditObject* e = checked(edit);
  if (!e || e->text.empty()) return -1;
  const int32_t boxIndex = static_cast<int16_t>(index);
  if (boxIndex != -1 && (boxIndex < 0 || static_cast<size_t>(boxIndex) >= e->boxes.size() || e->lock.empty()))
    return -1;
  if (e->boxes.empty()) return 0;
  const size_t first = boxIndex == -1 ? 0 : static_cast<size_t>(boxIndex);
  const size_t last = boxIndex == -1 ? e->boxes.size() - 1 : static_cast<size_t>(boxIndex);
  int32_t removed = 0;
  for (size_t i = last + 1; i-- > first;) {
    removeBoxCells(e, e->boxes[i]);
    e->boxes.erase(e->boxes.begin() + static_cast<std::ptrdiff_t>(i));
    ++removed;
  }
  return removed;
}

int32_t EditBoxFill(EditHandle edit, int32_t index, int32_t character, int32_t withAtr, int32_t atr) {
  EditObject* e = checked(edit);
  const int32_t boxIndex = static_cast<int16_t>(index);
  if (!e || e->text.empty() || e->lock.empty() || boxIndex < 0 || static_cast<size_t>(boxIndex) >= e->boxes.size())
    return -1;
  const EditBox& box = e->boxes[static_cast<size_t>(boxIndex)];
  if (box.width == 0 || box.height == 0) return 0;
  for (int32_t r = box.y; r < box.y + box.height; ++r)
    for (int32_t c = box.x; c < box.x + box.width; ++c) {
      e->text[e->index(c, r)] = static_cast<char>(character);
      if (withAtr) e->atr[e->index(c, r)] = static_cast<uint8_t>(atr);
    }
  invalidateCells(e, box.x, box.y, box.width, box.height);
  return 0;
}

int32_t EditPtInBox(EditHandle edit, int32_t x, int32_t y) {
  EditObject* e = checked(edit);
  if (!e) return -1;
  const platform::ui::Rect& region = e->editRegion;
  if (e->boxes.empty() || !(x >= region.left && x < region.right && y >= region.top && y < region.bottom)) return 0;
  const bool scrolledX = x >= e->lx * e->cw, scrolledY = y >= e->ly * e->ch;
  for (size_t i = 0; i < e->boxes.size(); ++i) {
    const EditBox& b = e->boxes[i];
    if (b.width == 0 || b.height == 0 || !hasType(b.flags)) continue;
    const bool floating = b.flags & EDIT_BOX_FLOATING;
    const int32_t left =
        (e->x + b.x) * e->cw + half(e->gapX) - e->hpix - (scrolledX && !floating ? e->fx * e->cw : 0);
    const int32_t top = (e->y + b.y) * e->ch + half(e->gapY) - e->vpix - (scrolledY && !floating ? e->fy * e->ch : 0);
    const int32_t right = left + b.width * e->cw - 1, bottom = top + b.height * e->ch - 1;
    if (x >= left && x <= right && y >= top && y <= bottom) return static_cast<int32_t>(i + 1);
  }
  return 0;
}

int32_t EditGetPtInBox(EditHandle edit, const int32_t* point, uint32_t lockMask, int32_t* cellInBox) {
  EditObject* e = checked(edit);
  if (!e || !point) return -1;
  const int32_t x = point[0], y = point[1];
  const int32_t box = EditPtInBox(e, x, y);
  if (box <= 0) return box;
  int32_t column = (x + e->hpix - half(e->gapX)) / e->cw - e->x;
  int32_t row = (y + e->vpix - half(e->gapY)) / e->ch - e->y;
  if (x >= e->lx * e->cw) column += e->fx;
  if (y >= e->ly * e->ch) row += e->fy;
  if (column >= 0 && row >= 0 && column < e->allocatedColumns && row < e->allocatedRows &&
      (e->lockAt(column, row) & lockMask))
    return 0;
  if (cellInBox) {
    const EditBox& b = e->boxes[static_cast<size_t>(box - 1)];
    cellInBox[0] = column - b.x;
    cellInBox[1] = row - b.y;
  }
  return box;
}

int32_t EditIsSelect(EditHandle edit) {
  EditObject* e = checked(edit);
  return e && e->selecting ? 1 : 0;
}

int32_t EditGetSelRect(EditHandle edit, int32_t* rect) {
  EditObject* e = checked(edit);
  if (!e || !rect || !e->selecting) return -1;
  const Block b = selectionBlock(e);
  rect[0] = b.left;
  rect[1] = b.top;
  rect[2] = b.left + b.width - 1;
  rect[3] = b.top + b.height - 1;
  return 0;
}

int32_t EditGetSelAtr(EditHandle edit) {
  EditObject* e = checked(edit);
  if (!e || !e->selecting) return -1;
  const Block b = selectionBlock(e);
  if (b.left >= e->allocatedColumns) return 0;  // a block of no columns at the row end
  const uint8_t first = e->atr[e->index(b.left, b.top)];
  for (int32_t r = b.top; r < b.top + b.height; ++r)
    for (int32_t c = b.left; c < b.left + b.width; ++c)
      if (cellCounts(e, b, c, r) && e->atr[e->index(c, r)] != first) return 0;
  return first;
}

int32_t EditSetSelAtr(EditHandle edit, int32_t atr) {
  EditObject* e = checked(edit);
  if (!e || !e->selecting) return -1;
  const Block b = selectionBlock(e);
  for (int32_t r = b.top; r < b.top + b.height; ++r)
    for (int32_t c = b.left; c < b.left + b.width; ++c)
      if (cellCounts(e, b, c, r)) e->atr[e->index(c, r)] = static_cast<uint8_t>(atr);
  invalidateCells(e, b.left, b.top, b.width, b.height);
  return atr & 0xFF;
}

int32_t EditMakeLine(EditHandle edit, int32_t thick) {
  EditObject* e = checked(edit);
  if (!e || !e->selecting) return -1;
  Block b = selectionBlock(e);
  if (b.width < 2) return -1;
  b.width &= ~1;  // whole cell pairs
  e->selecting = false;
  const int32_t pairs = b.width / 2, rows = b.height;
  for (int32_t i = 0; i < rows; ++i) {
    for (int32_t j = 0; j < pairs; ++j) {
      const bool firstRow = i == 0, lastRow = i == rows - 1, leftEnd = j == 0, rightEnd = j == pairs - 1;
      if (!firstRow && !lastRow && !leftEnd && !rightEnd) continue;  // inside the frame
      char* cell = e->row(b.top + i) + b.left + j * 2;
      const uint32_t code = (static_cast<uint8_t>(cell[0]) << 8) | static_cast<uint8_t>(cell[1]);
      const uint32_t current = GetLineCharMask(code);
      const uint32_t directions = (current | (current >> 8)) & 0xF;
      const bool vertical = directions & 5, horizontal = directions & 10;
      uint32_t strokes = 0;
      if (rows == 1 && pairs > 1) {
        strokes = 10;
        if (vertical && leftEnd) strokes = 2;
        else if (vertical && rightEnd) strokes = 8;
      } else if (pairs == 1 && rows > 1) {
        strokes = 5;
        if (horizontal && firstRow) strokes = 4;
        else if (horizontal && lastRow) strokes = 1;
      } else if (rows > 1 && pairs > 1) {
        if (firstRow) strokes = leftEnd ? 6 : rightEnd ? 12 : 10;
        else if (lastRow) strokes = leftEnd ? 3 : rightEnd ? 9 : 10;
        else strokes = 5;
      } else {
        continue;  // one pair on one row has no frame
      }
      const uint32_t mask = (current & ~(strokes | (strokes << 8))) | (thick ? strokes << 8 : strokes);
      const uint16_t newCode = codeOfMask(mask);
      if (newCode) {
        cell[0] = static_cast<char>(newCode >> 8);
        cell[1] = static_cast<char>(newCode & 0xFF);
      } else {
        cell[0] = cell[1] = ' ';
      }
      const size_t at = e->index(b.left + j * 2, b.top + i);
      e->atr[at + 1] = e->atr[at];
    }
  }
  invalidateCells(e, b.left, b.top, b.width + 1, b.height);
  return 0;
}
