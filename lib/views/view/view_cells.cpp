// Item cells: one column (layout entry) of one item, addressed from outside
// the view by a cell id, found from a table field's position key, written,
// edited and redrawn. Also what printing reads of a view.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "lib/core/report.h"
#include "lib/views/edit/edit_object.h"
#include "lib/views/print/print_internal.h"
#include "lib/views/view/view_object.h"
#include "platform/base/cp932.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"

using namespace zemta::views;

namespace {

struct Cell {
  ViewItem* item = nullptr;
  ViewFieldLayout* field = nullptr;
  int32_t itemIndex = 0, fieldIndex = 0;
};

// The item and column of a cell id; reported when either is out of range.
bool cellOf(ViewObject& v, uint32_t id, Cell& cell) {
  const uint32_t item = id >> 16, field = id & 0xFFFF;
  if (item >= v.items.size() || field >= v.items[item].fields.size()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return false;
  }
  cell.item = &v.items[item];
  cell.field = &cell.item->fields[field];
  cell.itemIndex = static_cast<int32_t>(item);
  cell.fieldIndex = static_cast<int32_t>(field);
  return true;
}

int32_t rowsOf(const ViewFieldLayout& f) { return std::max<int32_t>(f.lines, 1); }

bool isRecordField(const ViewFieldLayout& f) { return (f.offset & kNotStored) == 0; }

// Redraws one row of a column, or all of them with row -1.
void redraw(const Cell& cell, int32_t row) {
  EditObject* e = zemta::edit::checked(cell.item->edit);
  if (!e) return;
  const ViewFieldLayout& f = *cell.field;
  if (row < 0) zemta::edit::invalidateCells(e, f.column, f.row, f.width, rowsOf(f));
  else zemta::edit::invalidateCells(e, f.column, f.row + row, f.width, 1);
}

// The field's bytes in the record buffer: a repeated column reads the buffer
// row of its list row, a single-valued one row 0.
uint8_t* fieldBytes(ViewObject& v, const Cell& cell, int32_t row) {
  const ViewFieldLayout& f = *cell.field;
  const int32_t bufferRow = f.repeats ? std::max(row, 0) : 0;
  auto* image = static_cast<uint8_t*>(FileProjGetBufFdb(v.project, v.handle, cell.item->table, bufferRow));
  if (!image && bufferRow == 0) image = cell.item->image;
  return image ? image + f.offset : nullptr;
}

// Marks the field changed in its buffer row and runs the after-change step.
int32_t fieldChanged(ViewObject& v, const Cell& cell, int32_t row) {
  uint8_t* bytes = fieldBytes(v, cell, row);
  if (!bytes || FileProjRbfSetAct(v.project, bytes, 0x02, 1) < 0) return -1;
  if (static_cast<size_t>(cell.fieldIndex) < cell.item->changed.size()) cell.item->changed[cell.fieldIndex] |= 4;
  if (viewAfterChange(v, bytes) < 0) return -1;
  return viewRefreshChanged(v) < 0 ? -1 : 0;
}

// Element numbers of an array field shown in several columns: the count of
// earlier columns of the item with the same field word.
int32_t elementOf(const ViewItem& item, size_t index) {
  int32_t element = 0;
  for (size_t i = 0; i < index; ++i)
    if (item.fields[i].offset == item.fields[index].offset) ++element;
  return element;
}

// Record length of the item's tables before the one given, for fields placed
// by byte offset in an image that holds several tables' records.
int32_t precedingLength(ViewObject& v, const ViewItem& item, int32_t tableId) {
  int32_t length = 0;
  for (uint16_t id : item.tables) {
    if ((id & 0x7FFF) == (tableId & 0x7FFF)) break;
    FileDBHandle table = FileProjGetFdb(v.project, id & 0x7FFF);
    if (table) length += std::max(0, FileDBRecGetFieldSize(table));
  }
  return length;
}

}  // namespace

namespace zemta::views {

// Printing reads the view's project, main table, window, current record and
// record list through this source.
void installPrintSource() {
  static std::once_flag once;
  std::call_once(once, [] {
    zemta::print::viewPrintSource() = [](ZemtaView view, zemta::print::ViewPrintInfo& info) {
      ViewObject* v = checkView(view);
      if (!v) return false;
      info.project = v->project;
      info.mainTable = v->mainTable;
      info.window = v->window;
      info.currentRecord = v->currentRecord;
      info.list = &v->recordList;
      return true;
    };
  });
}

// Writes the text into the cells of one row of the column, padded with
// spaces, never leaving half a double-byte character at the end.
bool putCellText(EditObject* e, const ViewFieldLayout& f, int32_t row, const char* text, int32_t length) {
  const int32_t r = f.row + row;
  if (r >= e->allocatedRows || f.column >= e->allocatedColumns) return false;
  const int32_t width = std::min<int32_t>(f.width, e->allocatedColumns - f.column);
  std::string cells(static_cast<size_t>(width), ' ');
  const int32_t n = std::clamp(length, 0, width);
  int32_t i = 0;
  while (i < n) {
    const auto c = static_cast<uint8_t>(text[i]);
    if (platform::cp932::isLeadByte(c)) {
      if (i + 1 >= n) break;
      cells[static_cast<size_t>(i)] = text[i];
      cells[static_cast<size_t>(i) + 1] = text[i + 1];
      i += 2;
    } else {
      if (c == 0) break;
      cells[static_cast<size_t>(i)] = text[i];
      ++i;
    }
  }
  std::memcpy(e->row(r) + f.column, cells.data(), cells.size());
  e->modified = true;
  return true;
}

// Cells as the view shows them: the text of one row of a column.
std::string cellText(const ViewItem& item, const ViewFieldLayout& f, int32_t row) {
  EditObject* e = zemta::edit::checked(item.edit);
  if (!e || f.row + row >= e->allocatedRows || f.column >= e->allocatedColumns) return {};
  const int32_t width = std::min<int32_t>(f.width, e->allocatedColumns - f.column);
  return std::string(e->row(f.row + row) + f.column, static_cast<size_t>(width));
}

}  // namespace zemta::views

ZEMTA_API int32_t ViewItemGetID(ViewHandle view, int32_t tableId, const uint16_t* key) {
  ViewObject* v = checkView(view);
  if (!v) return -1;
  if (!v->project || tableId == 0 || !key) return -1;
  if (FileProjGetType(v->project, tableId, nullptr, 0, nullptr, nullptr, nullptr, 1) == 0) return -1;
  const uint16_t word = key[0], extent = key[1], range = key[2];
  const int32_t first = range & 0xFF, count = range >> 8;
  // The items bound to the table, in order (each shows one slot of the set).
  for (size_t i = 0; i < v->items.size(); ++i) {
    const ViewItem& item = v->items[i];
    const bool shows = item.table == tableId ||
                       std::any_of(item.tables.begin(), item.tables.end(),
                                   [&](uint16_t id) { return (id & 0x7FFF) == (tableId & 0x7FFF); });
    if (!shows) continue;
    const int32_t base = (word & kNotStored) ? 0 : precedingLength(*v, item, tableId);
    for (size_t f = 0; f < item.fields.size(); ++f) {
      const uint16_t own = item.fields[f].offset;
      bool match;
      if (word & kNotStored) {
        const int32_t number = word & 0x7FFF;
        match = (own & kNotStored) && (own & 0x7FFF) >= number && (own & 0x7FFF) < number + extent;
      } else {
        const int32_t from = word + base;
        match = !(own & kNotStored) && own >= from && own < from + extent;
      }
      if (match && range != 0) {
        const int32_t element = elementOf(item, f);
        match = element >= first && element < first + count;
      }
      if (match) return static_cast<int32_t>((i << 16) | f);
    }
  }
  ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
  return -1;
}

ZEMTA_API int32_t ViewItemUpdateData(ViewHandle view, uint32_t cellId, const char* text, int32_t length,
                                     int32_t direct, int32_t row) {
  ViewObject* v = checkView(view);
  if (!v) return -1;
  Cell cell;
  if (!cellOf(*v, cellId, cell)) return -1;
  if (row >= rowsOf(*cell.field)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (direct) {
    EditObject* e = zemta::edit::checked(cell.item->edit);
    if (!text || !e) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return -1;
    }
    if (!putCellText(e, *cell.field, std::max(row, 0), text, length)) return -1;
    redraw(cell, std::max(row, 0));
    return 0;
  }
  int32_t changed = 0;
  if (text) {
    changed = viewEnterText(*v, cell.itemIndex, cell.fieldIndex, std::max(row, 0), text, length);
    if (changed < 0) return -1;
  }
  if (changed && v->project && isRecordField(*cell.field)) {
    if (fieldChanged(*v, cell, row) < 0) return -1;
  } else {
    redraw(cell, row);
  }
  return changed ? 1 : 0;
}

ZEMTA_API int32_t ViewItemGetText(ViewHandle view, uint32_t cellId, char* buffer, int32_t size, int32_t row) {
  ViewObject* v = checkView(view);
  if (!v) return -1;
  Cell cell;
  if (!cellOf(*v, cellId, cell)) return -1;
  if (!buffer || size <= 0 || row < -1 || row >= rowsOf(*cell.field)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  // The current record's row: its line in a list, the one line of a form.
  if (row < 0) {
    const bool list = cell.field->repeats || (cell.item->flags & kItemList);
    row = list ? std::max(v->currentRecord, 0) - std::max(v->topRecord, 0) : 0;
    if (row < 0 || row >= rowsOf(*cell.field)) {
      buffer[0] = 0;
      return 0;
    }
  }
  const std::string text = cellText(*cell.item, *cell.field, row);
  size_t n = 0;
  while (n < text.size()) {
    const size_t step = platform::cp932::isLeadByte(static_cast<uint8_t>(text[n])) ? 2 : 1;
    if (n + step > text.size() || n + step >= static_cast<size_t>(size)) break;
    n += step;
  }
  std::memcpy(buffer, text.data(), n);
  buffer[n] = 0;
  return static_cast<int32_t>(n);
}

ZEMTA_API int32_t ViewItemEdit(ViewHandle view, uint32_t cellId, int32_t row) {
  ViewObject* v = checkView(view);
  if (!v) return -1;
  Cell cell;
  if (!cellOf(*v, cellId, cell)) return -1;
  if (row < 0 || row >= rowsOf(*cell.field)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return viewStartEdit(*v, cell.itemIndex, cell.fieldIndex, 0, row) < 0 ? -1 : 0;
}

ZEMTA_API int32_t ViewItemUpdate(ViewHandle view, uint32_t cellId, int32_t row) {
  ViewObject* v = checkView(view);
  if (!v) return -1;
  Cell cell;
  if (!cellOf(*v, cellId, cell)) return -1;
  if (row >= rowsOf(*cell.field)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (v->project && isRecordField(*cell.field)) {
    uint8_t* bytes = fieldBytes(*v, cell, row);
    if (!bytes || FileProjRbfSetAct(v->project, bytes, 0x02, 1) < 0) return -1;
    return viewRefreshChanged(*v) < 0 ? -1 : 0;
  }
  redraw(cell, row);
  return 0;
}
