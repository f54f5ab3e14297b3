// Editing an edit from the keyboard and the mouse: caret moves and the
// selection, typing into text, numeric, date/time and check-digit fields,
// choice and row-select lists, deleting across rows, and writing text as a
// block (EditSetSel, EditReplaceSel).
//
// Text flows across row ends as one stream: an insert pushes what no longer
// fits at a row's end to the start of the next row, a delete pulls the start
// of the next row up; a double-byte character is never cut in two (the cell
// it cannot fill is left blank and the character moves whole).
#include <algorithm>
#include <cstring>
#include <string>

#include "lib/core/report.h"
#include "lib/views/edit/edit_object.h"
#include "platform/base/cp932.h"
#include "platform/ui/desktop.h"
#include "platform/ui/input.h"
#include "platform/ui/paint.h"
#include "zemta/scan.h"
#include "zemta/tax.h"

namespace zemta::edit {

namespace ui = platform::ui;

namespace {

constexpr char kCheckDigitMessage[] = "チェックデジットが異なっています";

bool isLead(uint8_t b) { return platform::cp932::isLeadByte(b); }
bool isTrail(uint8_t b) { return platform::cp932::isTrailByte(b); }

bool hasCaret(const EditObject* e) {
  return e->hasFocus && e->caretWanted && !(e->createFlags & EDIT_CREATE_READONLY);
}
bool isDateTime(const EditObject* e) { return e->isNumeric() && (e->inputFlags & EDIT_INPUT_DATE_TIME); }
bool fullWidthDigits(const EditObject* e) { return (e->inputFlags & EDIT_INPUT_FULLWIDTH_DIGITS) != 0; }

// The end (exclusive) of the editable run of a row from a column: the first
// cell with a lock bit, or the used width.
int32_t runEnd(const EditObject* e, int32_t row, int32_t from) {
  int32_t c = from;
  while (c < e->ux && e->lockAt(c, row) == 0) ++c;
  return c;
}

bool rowHasText(EditObject* e, int32_t row, int32_t from) {
  const char* r = e->row(row);
  for (int32_t c = from; c < e->ux; ++c)
    if (r[c] != ' ') return true;
  return false;
}

// Width (1 or 2) of the character whose first cell is at column.
int32_t charWidth(EditObject* e, int32_t column, int32_t row) {
  return (column + 1 < e->ux && byteKind(e, column, row) == 1) ? 2 : 1;
}

void changed(EditObject* e, int32_t column, int32_t row, int32_t columns, int32_t rows) {
  invalidateCells(e, column, row, columns, rows);
  e->modified = true;
}

// --- flowing text across rows --------------------------------------------------

// Inserts bytes at (column, row) of the row's run; what no longer fits flows
// into the next rows whose runs continue from their start, and what falls off
// the last of them is lost. Returns the last row changed.
int32_t insertFlow(EditObject* e, int32_t column, int32_t row, std::string carry) {
  int32_t r = row, from = column;
  for (;;) {
    const int32_t end = runEnd(e, r, from);
    char* cells = e->row(r);
    std::string content = carry + std::string(cells + from, cells + end);
    std::string overflow;
    if (static_cast<int32_t>(content.size()) > end - from) {
      overflow = content.substr(static_cast<size_t>(end - from));
      content.resize(static_cast<size_t>(end - from));
      // A character cut at the run's end moves whole; its cell stays blank.
      int32_t i = 0;
      while (i < static_cast<int32_t>(content.size())) {
        const bool pair = isLead(static_cast<uint8_t>(content[i])) && i + 1 <= static_cast<int32_t>(content.size());
        if (pair && i + 1 == static_cast<int32_t>(content.size())) {
          overflow.insert(overflow.begin(), content[i]);
          content[i] = ' ';
          break;
        }
        i += pair ? 2 : 1;
      }
    }
    std::memcpy(cells + from, content.data(), content.size());
    // The flow goes on while something other than blanks falls off a run
    // that reaches the row end and a row follows.
    const bool blanks = overflow.find_first_not_of(' ') == std::string::npos;
    if (blanks || end < e->ux || r + 1 >= e->uy) return r;
    carry = overflow;
    ++r;
    from = 0;
  }
}

// Removes count bytes at (column, row) of the row's run; when the run reaches
// the row end, its end is filled from the start of the next row, and so on
// down to the last row that holds text. Returns the last row changed.
int32_t deleteFlow(EditObject* e, int32_t column, int32_t row, int32_t count) {
  int32_t lastText = row;
  for (int32_t r = e->uy - 1; r > row; --r)
    if (rowHasText(e, r, 0)) {
      lastText = r;
      break;
    }
  int32_t r = row, from = column;
  for (;;) {
    const int32_t end = runEnd(e, r, from);
    count = std::min(count, end - from);
    char* cells = e->row(r);
    std::memmove(cells + from, cells + from + count, static_cast<size_t>(end - from - count));
    std::memset(cells + end - count, ' ', static_cast<size_t>(count));
    if (end < e->ux || r >= lastText || count == 0) return r;
    // Pull the start of the next row up, never half a character.
    const int32_t nextEnd = runEnd(e, r + 1, 0);
    int32_t take = 0;
    while (take < count && take < nextEnd) {
      const int32_t w = charWidth(e, take, r + 1);
      if (take + w > count) break;
      take += w;
    }
    if (take == 0) return r;
    std::memcpy(cells + end - count, e->row(r + 1), static_cast<size_t>(take));
    ++r;
    from = 0;
    count = take;
  }
}

// --- caret steps ---------------------------------------------------------------

// One character left of (column, row), across rows, over cells the caret
// skips; false when there is none.
bool stepLeft(EditObject* e, int32_t& column, int32_t& row) {
  int32_t c = column, r = row;
  for (;;) {
    if (c > 0) {
      --c;
      if (byteKind(e, c, r) == 2) --c;
    } else {
      if (r == 0) return false;
      --r;
      c = e->ux - 1;
      if (byteKind(e, c, r) == 2) --c;
    }
    if (!(e->lockAt(c, r) & EDIT_LOCK_CARET)) {
      column = c;
      row = r;
      return true;
    }
  }
}

bool stepRight(EditObject* e, int32_t& column, int32_t& row, uint8_t skipMask) {
  int32_t c = column, r = row;
  for (;;) {
    c += (c < e->ux) ? charWidth(e, c, r) : 1;
    if (c >= e->ux) {
      if (r + 1 >= e->uy) {
        if (column == e->ux && row == r) return false;
        c = e->ux;  // the row end of the last row
        column = c;
        row = r;
        return true;
      }
      ++r;
      c = 0;
    }
    if (!(e->lockAt(c, r) & skipMask)) {
      column = c;
      row = r;
      return true;
    }
  }
}

bool stepVertical(EditObject* e, int32_t& column, int32_t& row, int32_t direction) {
  int32_t c = std::min(column, e->ux - 1), r = row;
  for (;;) {
    r += direction;
    if (r < 0 || r >= e->uy) return false;
    int32_t target = c;
    if (byteKind(e, target, r) == 2 && !(e->lockAt(target - 1, r) & EDIT_LOCK_CARET)) --target;
    if (!(e->lockAt(target, r) & EDIT_LOCK_CARET)) {
      column = target;
      row = r;
      return true;
    }
  }
}

// --- lists ---------------------------------------------------------------------------

bool rowLocked(const EditObject* e, int32_t row) { return e->lock.empty() || (e->lockAt(0, row) & EDIT_LOCK_INPUT); }

int32_t choose(EditObject* e, int32_t row) {
  if (row < 0 || row >= e->uy || row == e->fy) return 0;
  e->fy = row;
  e->modified = true;
  layout(e);
  invalidateVisible(e);
  updateCaret(e);
  return 1;
}

int32_t highlight(EditObject* e, int32_t target) {
  if (e->highlightedRow == 0xFFFF || target < 0 || target >= e->uy || rowLocked(e, target)) return 0;
  invalidateCells(e, 0, e->highlightedRow, e->ux, 1);
  EditMoveCaret(e, 0, target, false);
  e->highlightedRow = (e->caretRow == target && e->caretColumn == 0) ? static_cast<uint16_t>(target) : 0xFFFF;
  invalidateCells(e, 0, target, e->ux, 1);
  return 1;
}

// --- numeric fields ----------------------------------------------------------------

// The cells of a numeric field the caret works on: a date/time group ending
// at the caret, or the whole used width.
bool numericField(EditObject* e, int32_t& start, int32_t& width) {
  if (isDateTime(e)) {
    width = fullWidthDigits(e) ? 4 : 2;
    start = e->caretColumn - width;
    return start >= 0 && e->caretColumn <= e->ux;
  }
  start = 0;
  width = e->ux;
  return true;
}

std::string rawOf(EditObject* e, int32_t start, int32_t width) {
  std::string buffer(e->row(e->caretRow) + start, static_cast<size_t>(width));
  buffer.push_back('\0');
  StrCnvf(STRCNVF_LEFT | (e->inputFlags & STRCNVF_KEEPZERO), static_cast<uint32_t>(width), buffer.data());
  return std::string(buffer.c_str());
}

// Formats raw into the field; false (the field unchanged) when it does not fit.
bool writeNumber(EditObject* e, int32_t start, int32_t width, const std::string& raw) {
  std::string buffer(static_cast<size_t>(width) + 1, '\0');
  if (raw.size() > static_cast<size_t>(width)) return false;
  std::memcpy(buffer.data(), raw.data(), raw.size());
  if (raw.empty()) {
    std::memset(buffer.data(), ' ', static_cast<size_t>(width));
  } else if (StrCnvf(e->inputFlags & 0xFFFF, static_cast<uint32_t>(width), buffer.data()) != 0) {
    return false;
  }
  char* cells = e->row(e->caretRow) + start;
  for (int32_t i = 0; i < width; ++i) cells[i] = buffer[static_cast<size_t>(i)] ? buffer[static_cast<size_t>(i)] : ' ';
  invalidateCells(e, start, e->caretRow, width, 1);
  return true;
}

int32_t numericBackspace(EditObject* e) {
  int32_t start = 0, width = 0;
  if (!numericField(e, start, width)) return 0;
  std::string raw = rawOf(e, start, width);
  if (raw.empty()) return 0;
  raw.pop_back();
  if (!writeNumber(e, start, width, raw)) return 0;
  e->modified = true;
  return 1;
}

int32_t numericChar(EditObject* e, uint8_t c) {
  if (e->ux > 4095 || e->uy > 1) return 0;
  const uint32_t format = e->inputFlags & 0xFFFF;
  const bool full = fullWidthDigits(e);
  if (isDateTime(e) && e->caretColumn <= e->ux - 3) {
    const char* cell = e->row(e->caretRow) + e->caretColumn;
    const bool slash = c == '/' && (cell[0] == '/' || (cell[0] == '\x81' && cell[1] == '\x5E'));
    const bool colon = c == ':' && (cell[0] == ':' || (cell[0] == '\x81' && cell[1] == '\x46'));
    if (slash || colon) {
      EditMoveCaret(e, e->caretColumn + (full ? 6 : 3), e->caretRow, false);
      return 1;
    }
  }
  int32_t start = 0, width = 0;
  if (!numericField(e, start, width)) return 0;
  std::string raw = rawOf(e, start, width);
  const bool digit = c >= '0' && c <= '9';
  if (!(format & EDIT_INPUT_ANY_CHARACTER)) {
    const bool signs = format & (EDIT_INPUT_SIGNED | EDIT_INPUT_DECIMAL);
    if ((c == '-' || c == '+') && signs) {
      const bool negative = !raw.empty() && raw[0] == '-';
      if (c == '-' ? negative : !negative) return 0;
      raw = c == '-' ? "-" + raw : raw.substr(1);
      if (!writeNumber(e, start, width, raw)) return 0;
      e->modified = true;
      return 1;
    }
    if ((format & EDIT_INPUT_DIGITS) && !digit) return 0;
    if ((format & EDIT_INPUT_SIGNED) && !digit) return 0;
    if ((format & EDIT_INPUT_DECIMAL) && !digit && (c != '.' || raw.find('.') != std::string::npos)) return 0;
  }
  // The field must have room: its first cell is still blank.
  const char* first = e->row(e->caretRow) + start;
  const bool room = full ? (first[0] == ' ' && first[1] == ' ') || (first[0] == '\x81' && first[1] == '\x40')
                         : first[0] == ' ';
  if (!room) return 0;
  raw.push_back(static_cast<char>(c));
  if (!writeNumber(e, start, width, raw)) return 0;
  e->modified = true;
  updateCaret(e);
  return 1;
}

// --- typing into text ------------------------------------------------------------------

// Overwrites the character at the caret; returns the width written.
int32_t overwrite(EditObject* e, const char* bytes, int32_t width) {
  const int32_t column = e->caretColumn, row = e->caretRow;
  const int32_t end = runEnd(e, row, column);
  char* cells = e->row(row);
  if (width == 2 && column + 2 > end) {
    cells[column] = ' ';
    return 1;
  }
  const int32_t oldWidth = charWidth(e, column, row);
  if (width == 1 && oldWidth == 2) {
    // The rest of the run moves left into the freed trail cell.
    cells[column] = bytes[0];
    std::memmove(cells + column + 1, cells + column + 2, static_cast<size_t>(end - column - 2));
    cells[end - 1] = ' ';
    return 1;
  }
  if (width == 2 && oldWidth == 1 && column + 1 < e->ux && byteKind(e, column + 1, row) == 1) cells[column + 2] = ' ';
  std::memcpy(cells + column, bytes, static_cast<size_t>(width));
  if (width == 2) e->atr[e->index(column + 1, row)] = e->atr[e->index(column, row)];
  return width;
}

// After typing: one character right, over locked cells, backwards from the
// end when nothing is free towards it.
void advanceCaret(EditObject* e, int32_t width) {
  int32_t column = e->caretColumn + width, row = e->caretRow;
  if (column >= e->ux) {
    if (row + 1 < e->uy) {
      ++row;
      column = 0;
    } else {
      column = e->ux;
    }
  }
  for (int32_t c = column, r = row;;) {
    if (c >= e->ux || e->lockAt(c, r) == 0) {
      EditMoveCaret(e, c, r, false);
      return;
    }
    if (++c >= e->ux) {
      if (r + 1 >= e->uy) break;
      ++r;
      c = 0;
    }
  }
  // Nothing free towards the end: the last free cell before it.
  for (int32_t c = column, r = row;;) {
    if (--c < 0) {
      if (r == 0) return;
      --r;
      c = e->ux - 1;
    }
    if (e->lockAt(c, r) == 0) {
      EditMoveCaret(e, c, r, false);
      return;
    }
  }
}

int32_t typeText(EditObject* e, const char* bytes, int32_t width) {
  if (e->caretColumn >= e->ux) return 0;
  const int32_t column = e->caretColumn, row = e->caretRow;
  int32_t written = width;
  int32_t lastRow = row;
  if (e->insertMode) {
    const int32_t end = runEnd(e, row, column);
    if (width == 2 && end - column < 2) {
      lastRow = insertFlow(e, column, row, " ");
      written = 1;
    } else {
      lastRow = insertFlow(e, column, row, std::string(bytes, static_cast<size_t>(width)));
      if (width == 2) e->atr[e->index(column + 1, row)] = e->atr[e->index(column, row)];
    }
  } else {
    written = overwrite(e, bytes, width);
  }
  invalidateCells(e, lastRow > row ? 0 : column, row, e->ux, lastRow - row + 1);
  e->modified = true;
  if ((e->inputFlags & EDIT_INPUT_CHECK_DIGIT) && column + written == e->ux) {
    char* cells = e->row(row);
    if (bytes[0] == 'C' || bytes[0] == 'c') {
      BccMake(cells, e->ux);
      for (int32_t i = 0; i < e->ux; ++i)
        if (cells[i] == '\0') cells[i] = ' ';
    } else if (!BccCheck(cells, e->ux)) {
      ui::messageBox(e->owner, kCheckDigitMessage, std::string(), 0x30);
      cells[column] = ' ';
      if (written == 2) cells[column + 1] = ' ';
      updateCaret(e);
      return 1;
    }
  }
  advanceCaret(e, written);
  updateCaret(e);
  return 1;
}

}  // namespace

// --- the caret and the selection -------------------------------------------------------

Block selectionBlock(const EditObject* e) {
  Block b;
  b.left = std::min(e->anchorColumn, e->endColumn);
  b.width = std::abs(e->anchorColumn - e->endColumn);
  b.top = std::min(e->anchorRow, e->endRow);
  b.height = std::abs(e->anchorRow - e->endRow) + 1;
  return b;
}

void EditMoveCaret(EditObject* e, int32_t column, int32_t row, bool extend) {
  if (e->parent) {
    const int32_t pc = e->homeX + std::min(column, e->visibleColumns - 1) - e->parent->x;
    const int32_t pr = e->homeY + std::min(row, e->visibleRows - 1) - e->parent->y;
    if (pc >= 0 && pr >= 0 && (e->parent->caretColumn != pc || e->parent->caretRow != pr))
      EditMoveCaret(e->parent, pc, pr, false);
    layout(e);
  }
  const ui::Rect visible = visibleRect(e);
  const int32_t fitColumns = visible.width() / e->cw, fitRows = visible.height() / e->ch;
  if (e->createFlags & EDIT_CREATE_FIXED_H) column = std::max(0, std::min(column, fitColumns - 1));
  if (e->createFlags & EDIT_CREATE_FIXED_V) row = std::max(0, std::min(row, fitRows - 1));
  if (column == e->caretColumn && row == e->caretRow) return;
  const int32_t oldColumn = e->caretColumn, oldRow = e->caretRow;
  e->caretColumn = column;
  e->caretRow = row;
  if (e->extending || extend) {
    const Block before = selectionBlock(e);
    const bool had = e->selecting;
    if (!e->selecting) {
      e->selecting = true;
      e->anchorColumn = oldColumn;
      e->anchorRow = oldRow;
    }
    e->endColumn = column;
    e->endRow = row;
    if (column == e->anchorColumn && row == e->anchorRow) e->selecting = false;
    const Block after = selectionBlock(e);
    if (had) invalidateCells(e, before.left, before.top, before.width + 1, before.height);
    invalidateCells(e, after.left, after.top, after.width + 1, after.height);
  } else if (e->selecting) {
    e->selecting = false;
    const Block b = selectionBlock(e);
    invalidateCells(e, b.left, b.top, b.width + 1, b.height);
  }
  bool scrolled = false;
  if ((e->createFlags & EDIT_CREATE_HSCROLL) && (column < e->fx || column >= e->fx + std::max(fitColumns, 1))) {
    const int32_t page = e->horizontalBar ? e->sx : e->visibleColumns;
    int32_t fx = e->fx;
    if (column < fx) fx = column / 8 * 8;
    else if (column >= fx + page) fx = std::max(0, std::min((column - page) / 8 * 8 + 8, e->ux - page));
    scrolled |= fx != e->fx;
    e->fx = fx;
  }
  if ((e->createFlags & EDIT_CREATE_VSCROLL) && (row < e->fy || row >= e->fy + std::max(fitRows, 1))) {
    const int32_t page = e->verticalBar ? e->sy : e->visibleRows;
    int32_t fy = e->fy;
    if (row < fy) fy = row;
    else if (row >= fy + page) fy = std::max(0, row - page + 1);
    scrolled |= fy != e->fy;
    e->fy = fy;
  }
  if (scrolled) {
    if (e->horizontalBar) ui::setScrollPosition(e->horizontalBar, e->fx);
    if (e->verticalBar) ui::setScrollPosition(e->verticalBar, e->fy);
    invalidateVisible(e);
  }
  updateCaret(e);
}

void EditDeleteChar(EditObject* e, int32_t column, int32_t row) {
  if (column >= e->ux || row >= e->uy) return;
  if (byteKind(e, column, row) == 2) --column;
  bool text = false;
  for (int32_t r = row; r < e->uy && !text; ++r) text = rowHasText(e, r, r == row ? column : 0);
  if (!text) return;
  const int32_t last = deleteFlow(e, column, row, charWidth(e, column, row));
  changed(e, last > row ? 0 : column, row, e->ux, last - row + 1);
}

void EditDeleteSel(EditObject* e) {
  if (!e->selecting) return;
  const Block b = selectionBlock(e);
  e->selecting = false;
  if (isDateTime(e)) {
    const bool full = fullWidthDigits(e);
    const int32_t group = full ? 4 : 2, separator = full ? 2 : 1, span = full ? 16 : 8;
    for (int32_t r = b.top; r < b.top + b.height && r < e->uy; ++r) {
      char* cells = e->row(r);
      const int32_t start = std::max(e->ux - span, 0);
      for (int32_t g = 0; g < 3; ++g) {
        const int32_t at = start + g * (group + separator);
        for (int32_t i = 0; i < group && at + i < e->ux; i += full ? 2 : 1) {
          if (full) {
            cells[at + i] = '\x81';
            cells[at + i + 1] = '\x40';
          } else {
            cells[at + i] = ' ';
          }
        }
      }
    }
    EditMoveCaret(e, std::max(e->ux - (full ? 12 : 6), 0), b.top, false);
  } else {
    if (!e->isNumeric()) EditMoveCaret(e, b.left, b.top, false);
    for (int32_t r = b.top; r < b.top + b.height && r < e->uy; ++r) {
      int32_t left = b.left, right = std::min(b.left + b.width, e->ux);
      if (left >= right) continue;
      if (byteKind(e, left, r) == 2) --left;
      if (byteKind(e, right - 1, r) == 1) ++right;
      const int32_t end = runEnd(e, r, left);
      right = std::min(right, end);
      if (right <= left) continue;
      char* cells = e->row(r);
      std::memmove(cells + left, cells + right, static_cast<size_t>(end - right));
      std::memset(cells + end - (right - left), ' ', static_cast<size_t>(right - left));
    }
  }
  changed(e, 0, b.top, e->ux, b.height);
  updateCaret(e);
}

int32_t EditKeyDown(EditObject* e, uint32_t key) {
  const bool choice = (e->inputFlags & EDIT_INPUT_CHOICE_LIST) && e->uy > 1;
  const bool rowSelect = e->inputFlags & EDIT_INPUT_ROW_SELECT;
  if (choice) {
    if (key == ui::kVkBack) return choose(e, e->fy == 0 ? e->uy - 1 : e->fy - 1);
    if (key == ui::kVkSpace) return choose(e, e->fy + 1 >= e->uy ? 0 : e->fy + 1);
    if (key == ui::kVkUp || key == ui::kVkDown) return 0;
  }
  if (rowSelect) {
    // A list moves its highlight; the key is not also taken as editing.
    if (key == ui::kVkBack || key == ui::kVkUp) return highlight(e, e->highlightedRow - 1);
    if (key == ui::kVkSpace || key == ui::kVkDown) return highlight(e, e->highlightedRow + 1);
  }
  if (!hasCaret(e) || e->text.empty()) return 0;
  if (e->isNumeric()) {
    const int32_t step = fullWidthDigits(e) ? 6 : 3;
    switch (key) {
      case ui::kVkBack:
      case ui::kVkDelete:
        if (e->selecting) {
          EditDeleteSel(e);
          return 1;
        }
        return numericBackspace(e);
      case ui::kVkReturn:
      case ui::kVkRight:
        if (!isDateTime(e) || e->caretColumn >= e->ux) return 0;
        EditMoveCaret(e, std::min(e->caretColumn + step, e->ux), e->caretRow, false);
        return 1;
      case ui::kVkLeft: {
        if (!isDateTime(e)) return 0;
        const int32_t floor = fullWidthDigits(e) ? std::max(e->ux - 8, 8) : std::max(e->ux - 4, 4);
        if (e->caretColumn <= floor) return 0;
        EditMoveCaret(e, e->caretColumn - step, e->caretRow, false);
        return 1;
      }
      default:
        return 0;
    }
  }
  int32_t column = e->caretColumn, row = e->caretRow;
  switch (key) {
    case ui::kVkBack: {
      if (e->selecting) {
        EditDeleteSel(e);
        return 1;
      }
      if (column == 0 && row == 0) return 0;
      if (column > 0) {
        column = std::min(column, e->ux) - 1;
      } else {
        --row;
        column = e->ux - 1;
      }
      if (byteKind(e, column, row) == 2) --column;
      if (e->lockAt(column, row)) return 0;
      EditDeleteChar(e, column, row);
      EditMoveCaret(e, column, row, false);
      return 1;
    }
    case ui::kVkDelete:
      if (e->selecting) EditDeleteSel(e);
      else EditDeleteChar(e, column, row);
      return 1;
    case ui::kVkReturn:
      return 0;
    case ui::kVkShift:
      e->extending = true;
      updateCaret(e);
      return 0;
    case ui::kVkEnd: {
      int32_t last = e->ux;
      while (last > 0 && e->row(row)[last - 1] == ' ') --last;
      EditMoveCaret(e, last, row, false);
      return 1;
    }
    case ui::kVkHome:
      EditMoveCaret(e, 0, row, false);
      return 1;
    case ui::kVkLeft:
      if (e->selecting && !e->extending) {
        const Block b = selectionBlock(e);
        EditMoveCaret(e, b.left, e->caretRow, false);
        return 1;
      }
      if (!stepLeft(e, column, row)) return 0;
      EditMoveCaret(e, column, row, false);
      return 1;
    case ui::kVkRight:
      if (e->selecting && !e->extending) {
        const Block b = selectionBlock(e);
        EditMoveCaret(e, b.left + b.width, e->caretRow, false);
        return 1;
      }
      if (!stepRight(e, column, row, EDIT_LOCK_CARET)) return 0;
      EditMoveCaret(e, column, row, false);
      return 1;
    case ui::kVkUp:
    case ui::kVkDown:
      if (!stepVertical(e, column, row, key == ui::kVkUp ? -1 : 1)) return 0;
      EditMoveCaret(e, column, row, false);
      return 1;
    case ui::kVkInsert:
      e->insertMode = !e->insertMode;
      updateCaret(e);
      return 1;
    default:
      return 0;
  }
}

int32_t EditKeyUp(EditObject* e, uint32_t key) {
  e->lastKeyUp = key;
  if (key == ui::kVkShift) e->extending = false;
  return 0;
}

int32_t EditChar(EditObject* e, uint32_t character) {
  const uint8_t c = static_cast<uint8_t>(character);
  if (c < 0x20 || c == 0x7F) {
    e->pendingLead = 0;  // a control character between two bytes drops the first
    return 0;
  }
  if ((e->inputFlags & EDIT_INPUT_CHOICE_LIST) && e->uy > 1) {
    int32_t row = -1;
    if (c >= '0' && c <= '9') row = c - '0';
    else if (c >= 'A' && c <= 'Z') row = 10 + c - 'A';
    else if (c >= 'a' && c <= 'z') row = 10 + c - 'a';
    if (row >= 0) {
      if (row < e->uy && row != e->fy) choose(e, row);
      return 1;
    }
    if (c == ' ') return 1;  // Space already stepped the list
  }
  if (e->inputFlags & EDIT_INPUT_ROW_SELECT) return c == ' ' ? 1 : 0;
  if (!hasCaret(e) || e->text.empty()) return 0;
  if (e->caretColumn < e->ux && e->caretRow < e->uy && (e->lockAt(e->caretColumn, e->caretRow) & EDIT_LOCK_INPUT)) {
    e->pendingLead = 0;
    return 0;
  }
  if (e->selecting) {
    EditDeleteSel(e);
    e->extending = false;
  }
  if (e->isNumeric()) return numericChar(e, c);
  if (e->pendingLead) {
    const char pair[2] = {static_cast<char>(e->pendingLead), static_cast<char>(c)};
    e->pendingLead = 0;
    if (!isTrail(c)) return 0;
    return typeText(e, pair, 2);
  }
  if (isLead(c)) {
    e->pendingLead = c;
    return 1;
  }
  const char single[1] = {static_cast<char>(c)};
  return typeText(e, single, 1);
}

// --- the block writer -----------------------------------------------------------------

bool writeBlock(EditObject* e, const char* text, BlockWritten& written) {
  if (e->text.empty() || e->ux <= 0 || e->caretRow >= e->uy) return false;
  int32_t start = std::min(e->caretColumn, e->ux);
  if (start < e->ux && byteKind(e, start, e->caretRow) == 2) ++start;
  written = BlockWritten{start, e->caretRow, start - 1, e->caretRow - 1, start};
  int32_t column = start, row = e->caretRow;
  bool wrapped = false;
  bool any = false;
  const size_t length = std::strlen(text);
  for (size_t i = 0; i < length && row < e->uy;) {
    const uint8_t b = static_cast<uint8_t>(text[i]);
    if (b == '\r' || b == '\n') {
      i += (b == '\r' && i + 1 < length && text[i + 1] == '\n') ? 2 : 1;
      if (!wrapped) {
        ++row;
        column = start;
      }
      wrapped = false;
      continue;
    }
    if (column >= e->ux) {
      ++row;
      column = start;
      wrapped = true;
      if (row >= e->uy || start >= e->ux) break;
      continue;
    }
    wrapped = false;
    char bytes[2] = {static_cast<char>(b), ' '};
    int32_t width = 1;
    if (!isLead(b)) {
      ++i;
    } else if (i + 1 >= length) {
      break;  // a lead byte waits for a trail byte that never comes
    } else if (text[i + 1] == '\r' || text[i + 1] == '\n') {
      bytes[0] = ' ';  // a lost trail byte: the line break still counts
      ++i;
    } else if (!isTrail(static_cast<uint8_t>(text[i + 1]))) {
      bytes[0] = ' ';  // a bad pair
      width = 2;
      i += 2;
    } else if (column == e->ux - 1) {
      // It cannot start in the last column: the cell stays blank and the
      // character goes on at the start of the next row.
      bytes[0] = ' ';
    } else {
      bytes[1] = text[i + 1];
      width = 2;
      i += 2;
    }
    width = std::min(width, e->ux - column);
    char* cells = e->row(row);
    // An old double-byte character the write cuts loses its other half.
    if (byteKind(e, column, row) == 2) cells[column - 1] = ' ';
    const int32_t lastCell = column + width - 1;
    if (lastCell + 1 < e->ux && byteKind(e, lastCell, row) == 1) cells[lastCell + 1] = ' ';
    for (int32_t k = 0; k < width; ++k) {
      if (e->lockAt(column + k, row) & EDIT_LOCK_INPUT) continue;
      cells[column + k] = bytes[k];
      any = true;
    }
    if (width == 2 && bytes[0] != ' ') e->atr[e->index(column + 1, row)] = e->atr[e->index(column, row)];
    column += width;
    written.lastRow = row;
    written.lastColumn = std::max(written.lastColumn, column - 1);
    written.widestEnd = std::max(written.widestEnd, column);
  }
  return any;
}

int32_t mouseDown(EditObject* e, int32_t x, int32_t y) {
  const ui::Rect visible = visibleRect(e);
  e->dragging = x >= visible.left && x < visible.right && y >= visible.top && y < visible.bottom;
  const int32_t box = EditPtInBox(e, x, y);
  if (box > 0) {
    e->pressedBox = static_cast<uint16_t>(box);
    e->pressedRow = static_cast<uint16_t>(invalidateBox(e, static_cast<size_t>(box - 1), y));
  }
  const bool rowSelect = e->inputFlags & EDIT_INPUT_ROW_SELECT;
  if ((e->createFlags & EDIT_CREATE_READONLY) && !rowSelect) return box > 0 ? 1 : 0;
  const ui::Rect& region = e->editRegion;
  if (!(x >= region.left && x < region.right && y >= region.top && y < region.bottom)) {
    e->caretWanted = false;
    updateCaret(e);
    return 0;
  }
  if (!(e->createFlags & EDIT_CREATE_READONLY)) e->caretWanted = true;
  const int32_t column = e->fx + (x + e->hpix) / e->cw - e->x;
  const int32_t row = e->fy + (y + e->vpix) / e->ch - e->y;
  if (rowSelect) {
    if (row >= 0 && row < e->uy && row != e->highlightedRow && column >= 0 && column < e->allocatedColumns &&
        !(e->lockAt(column, row) & EDIT_LOCK_INPUT)) {
      if (e->highlightedRow != 0xFFFF) invalidateCells(e, 0, e->highlightedRow, e->ux, 1);
      e->highlightedRow = static_cast<uint16_t>(row);
      EditMoveCaret(e, 0, row, false);
      invalidateCells(e, 0, row, e->ux, 1);
    }
  } else if (!e->isNumeric() && row >= 0 && column >= 0 && row < e->uy) {
    const int32_t c = std::min(column, e->ux);
    if (!(c < e->ux && (e->lockAt(c, row) & EDIT_LOCK_CARET))) {
      if (e->selecting) {
        e->selecting = false;
        const Block b = selectionBlock(e);
        invalidateCells(e, b.left, b.top, b.width + 1, b.height);
      }
      EditMoveCaret(e, c, row, false);
    }
  }
  updateCaret(e);
  return 1;
}

int32_t mouseMove(EditObject* e, uint32_t keys, int32_t x, int32_t y) {
  if (e->pressedBox && EditPtInBox(e, x, y) != e->pressedBox) {
    invalidateBox(e, e->pressedBox - 1u, -1);
    e->pressedBox = 0;
  }
  if ((keys & (ui::kMkLButton | ui::kMkRButton | ui::kMkMButton)) != ui::kMkLButton) return 0;
  if ((e->createFlags & EDIT_CREATE_READONLY) || !e->dragging || e->isNumeric()) return 0;
  if (e->inputFlags & (EDIT_INPUT_ROW_SELECT | EDIT_INPUT_CHOICE_LIST)) return 0;
  int32_t column = std::clamp(e->fx + (x + e->hpix) / e->cw - e->x, 0, e->allocatedColumns);
  const int32_t row = std::clamp(e->fy + (y + e->vpix) / e->ch - e->y, 0, std::max(e->uy - 1, 0));
  column = std::min(column, e->ux);
  if (column < e->ux && byteKind(e, column, row) == 2) {
    if (column > e->caretColumn && column + 1 <= e->ux) ++column;
    else --column;
  }
  if (column == e->caretColumn && row == e->caretRow) return 0;
  if (column < e->ux && (e->lockAt(column, row) & EDIT_LOCK_CARET)) return 0;
  EditMoveCaret(e, column, row, true);
  return 1;
}

int32_t mouseUp(EditObject* e, int32_t, int32_t) {
  const bool handled = e->dragging || e->pressedBox;
  e->dragging = false;
  if (e->pressedBox) {
    invalidateBox(e, e->pressedBox - 1u, -1);
    e->pressedBox = 0;
  }
  return handled ? 1 : 0;
}

}  // namespace zemta::edit

using namespace zemta::edit;

int32_t EditSetSel(EditHandle edit, int32_t start, int32_t end) {
  EditObject* e = checked(edit);
  if (!e || start < -1 || end < -1 || (end != -1 && end < start) || e->ux <= 0 || e->uy <= 0) return -1;
  if (start == -1) return 0;
  const bool extending = e->extending;
  e->extending = false;
  EditMoveCaret(e, start % e->ux, std::min(start / e->ux, e->uy - 1), false);
  int32_t column = e->ux, row = e->uy - 1;
  if (end != -1) {
    column = end % e->ux;
    row = end / e->ux;
    if (column == 0 && row > 0) {
      column = e->ux;
      --row;
    }
    row = std::min(row, e->uy - 1);
  }
  EditMoveCaret(e, column, row, true);
  e->extending = extending;
  return 0;
}

int32_t EditReplaceSel(EditHandle edit, const char* text) {
  EditObject* e = checked(edit);
  if (!e || !text) return -1;
  const bool modified = e->modified;
  EditDeleteSel(e);
  e->modified = modified;
  BlockWritten written;
  if (writeBlock(e, text, written))
    invalidateCells(e, written.firstColumn, written.firstRow, written.widestEnd - written.firstColumn + 1,
                    written.lastRow - written.firstRow + 1);
  return 0;
}
