// Binding views to project tables and forms: the table grid, forms from the
// project's resources, positioning on a record, loading the record-buffer set
// and drawing its fields, and what the project layer tells a view when
// records change under it.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "lib/core/library_locks.h"
#include "lib/core/report.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/views/edit/edit_object.h"
#include "lib/views/view/view_bind.h"
#include "lib/views/view/view_registry.h"
#include "platform/base/message_box.h"
#include "platform/ui/paint.h"
#include "zemta/errors.h"
#include "zemta/fileproj_resource.h"
#include "zemta/typed.h"

namespace zemta::views {
namespace {

namespace ui = platform::ui;

constexpr int32_t kGridRows = 64;         // cells of the grid's edit, header row included
constexpr int32_t kGridFieldLines = 63;   // record rows a grid column spans
constexpr int32_t kListBufferRows = 4096;
constexpr uint32_t kGridEditFlags = 0x4A10000;
constexpr uint32_t kCurrentRowBox = 0x71100000;
constexpr int32_t kMarkerColumn = 1;  // the current-row buttons
constexpr uint32_t kFormBox = 0x05000000;
constexpr uint8_t kFormDefaultAttribute = 0xE1;  // what the form loader gives text without an attribute
constexpr int32_t kRecordNumberOrder = 9999;
const char kLoseChanges[] = "レコードの移動を行うと変更が失われます。実行しますか？";
const char kWarning[] = "警告";

bool isLead(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// The item that carries the view's virtual rows (a list on the main table).
ViewItem* listItem(ViewObject& v) {
  for (auto& item : v.items)
    if ((item.flags & kItemVirtualList) == kItemVirtualList) return &item;
  return nullptr;
}

// Pixels of one list row: the view's vertical scroll unit.
int32_t rowUnit(const ViewObject& v) {
  return v.virtualRows && v.rowHeight ? v.rowHeight : edit::cellFontHeight() + v.rowGap;
}

// Record rows the list item shows in the window: whole rows between its
// first record row and the record bar, at most its slot's rows.
int32_t shownRows(ViewObject& v, const ViewItem& item) {
  const ui::Rect client = ui::clientRect(v.window);
  int32_t rows = (client.height() - 16) / rowUnit(v) - item.row - item.firstRecordRow;
  rows = std::min(rows, item.slotRows > 0 ? item.slotRows : kGridFieldLines);
  return std::max(rows, 1);
}

int32_t topRow(const ViewObject& v) { return v.scrollY / std::max(rowUnit(v), 1); }

// The image a line of a field shows: a row of the slot for a field that
// repeats over the list rows, else the item's one record.
const uint8_t* imageOfLine(const ViewItem& item, const ViewFieldLayout& f, int32_t line, int32_t& lineInImage,
                           uint16_t& length) {
  lineInImage = line;
  if (!item.slot) {
    length = static_cast<uint16_t>(item.imageLength);
    return item.image;
  }
  if (f.repeats || (item.flags & kItemList)) {
    lineInImage = 0;
    if (line >= item.slotRows) return nullptr;
    length = item.slot[line].length;
    return static_cast<const uint8_t*>(item.slot[line].image);
  }
  length = item.slot[0].length;
  return static_cast<const uint8_t*>(item.slot[0].image);
}

}  // namespace

bool isChoiceField(const ViewFieldLayout& f) {
  const uint16_t t = f.type & 0x3F;
  return t == 32 || t == 34 || t == 35;
}

// The typed-data form the conversions read for a field of the item: the
// field's own words first, then the other choice fields of the item (their
// choice lists bound the field's), the item's auxiliary table as the form's
// text and the record image as its one segment.
struct FieldForm {
  std::vector<ItemFormItem> words;
  ItemSegment segment{};
  ItemForm form{};
};

void makeFieldForm(const ViewItem& item, const ViewFieldLayout& f, const uint8_t* image, uint16_t length,
                   bool oneLine, FieldForm& out) {
  auto wordsOf = [](const ViewFieldLayout& field) {
    ItemFormItem word{};
    std::memcpy(word.words, &field, sizeof word.words);
    // Only a choice field's parameter is the view's (its list's offset).
    if (!isChoiceField(field)) word.words[ITEM_WORD_PARAMETER] = word.words[ITEM_WORD_PARAMETER + 1] = 0;
    return word;
  };
  out.words.clear();
  out.words.push_back(wordsOf(f));
  if (oneLine) {
    out.words[0].words[ITEM_WORD_LINES] = 1;
    out.words[0].words[ITEM_WORD_STEP] = 0;
  }
  if (isChoiceField(f))
    for (const ViewFieldLayout& other : item.fields)
      if (isChoiceField(other)) {
        out.words.push_back(wordsOf(other));
        out.words.back().words[ITEM_WORD_FLAGS] = 0;  // its list's start bounds ours, nothing else
      }
  out.words[0].words[ITEM_WORD_FLAGS] = 0;
  out.segment = {length, const_cast<uint8_t*>(image)};
  out.form = ItemForm{};
  out.form.itemCount = static_cast<uint16_t>(out.words.size());
  out.form.items = out.words.data();
  out.form.textLength = static_cast<uint16_t>(std::min<size_t>(item.auxTable.size(), 0xFFFF));
  out.form.text = item.auxTable.empty() ? nullptr : reinterpret_cast<const char*>(item.auxTable.data());
  out.form.segmentRows = 1;
  out.form.segmentColumns = 1;
  out.form.segments = &out.segment;
}

std::vector<std::string> fieldChoices(const ViewItem& item, const ViewFieldLayout& f) {
  std::vector<std::string> choices;
  if (!isChoiceField(f) || f.width == 0 || f.choiceOffset >= item.auxTable.size()) return choices;
  FieldForm form;
  makeFieldForm(item, f, nullptr, 0, true, form);
  const int32_t area = ItemGetBreakLen(form.form.itemCount, form.form.items, form.form.textLength,
                                       static_cast<int32_t>(f.choiceOffset));
  if (area <= 0) return choices;
  const char* list = form.form.text + f.choiceOffset;
  for (int32_t at = 0; at < area; at += f.width)
    choices.emplace_back(list + at, static_cast<size_t>(std::min<int32_t>(f.width, area - at)));
  return choices;
}

int32_t storeFieldText(const ViewItem& item, const ViewFieldLayout& f, uint8_t* image, uint16_t length,
                       const char* text) {
  FieldForm form;
  makeFieldForm(item, f, image, length, true, form);
  return ItemSetStr(&form.form, &form.words[0], 0, text);
}

// The display text of one line of a field, as wide as the field.
std::string fieldText(const ViewItem& item, const ViewFieldLayout& f, const uint8_t* image, uint16_t length,
                      int32_t line, bool oneLine) {
  std::string text;
  if (image && length > 0 && !(f.offset & kNotStored)) {
    FieldForm form;
    makeFieldForm(item, f, image, length, oneLine, form);
    std::vector<char> buffer(static_cast<size_t>(f.width) + 64, '\0');
    if (ItemGetStr(&form.form, &form.words[0], line, buffer.data(), static_cast<int32_t>(buffer.size())) == 0)
      text = buffer.data();
  }
  // As wide as the field, never cutting a double-byte character in two.
  std::string cells;
  for (size_t i = 0; i < text.size() && cells.size() < f.width; ++i) {
    const uint8_t b = static_cast<uint8_t>(text[i]);
    if (isLead(b)) {
      if (cells.size() + 2 > f.width || i + 1 >= text.size()) break;
      cells += text[i];
      cells += text[++i];
    } else {
      cells += (b < 0x20) ? ' ' : text[i];
    }
  }
  cells.resize(f.width, ' ');
  return cells;
}

namespace {

void writeCells(EditObject* e, int32_t column, int32_t row, const std::string& cells) {
  if (!e || row < 0 || row >= e->allocatedRows || column < 0) return;
  const int32_t n = std::min<int32_t>(static_cast<int32_t>(cells.size()), e->allocatedColumns - column);
  if (n <= 0) return;
  std::memcpy(e->row(row) + column, cells.data(), static_cast<size_t>(n));
  edit::invalidateCells(e, column, row, n, 1);
}

void drawField(ViewItem& item, size_t k) {
  EditObject* e = edit::checked(item.edit);
  if (!e) return;
  const ViewFieldLayout& f = item.fields[k];
  if (f.offset & kNotStored) return;
  const bool repeats = f.repeats || (item.flags & kItemList);
  for (int32_t n = 0; n < f.lines; ++n) {
    int32_t line = 0;
    uint16_t length = 0;
    const uint8_t* image = imageOfLine(item, f, n, line, length);
    writeCells(e, f.column, f.row + n, fieldText(item, f, image, length, line, repeats));
  }
}

void drawItem(ViewItem& item) {
  if (!item.slot && !item.image) return;
  for (size_t k = 0; k < item.fields.size(); ++k) drawField(item, k);
}

void clearChangedRows(ViewObject& v) {
  if (v.project) FileProjBufClearChanged(v.project, v.handle);
}

// Whether the view holds changes the user has not saved.
bool holdsChanges(ViewObject& v) {
  if (v.edit.tempItemPlusOne) {
    const size_t temp = v.edit.tempItemPlusOne - 1u;
    if (temp < v.items.size()) {
      EditObject* e = edit::checked(v.items[temp].edit);
      if (e && e->modified) return true;
    }
  }
  for (const auto& item : v.items)
    for (uint8_t c : item.changed)
      if (c & 4) return true;
  return v.project && FileProjBufIsModify(v.project, v.handle) != 0;
}

void dropChanges(ViewObject& v) {
  for (auto& item : v.items) std::fill(item.changed.begin(), item.changed.end(), 0);
  if (v.project) FileProjBufDropEdits(v.project, v.handle);
  v.topRecord = -1;
}

// Scrolls a list so that the record's row is visible.
void scrollToRecord(ViewObject& v, int32_t record) {
  ViewItem* item = listItem(v);
  if (!item) return;
  const int32_t page = shownRows(v, *item);
  int32_t top = topRow(v);
  if (record < top) top = record;
  if (record >= top + page) top = record - page + 1;
  v.scrollY = std::max(top, 0) * rowUnit(v);
}

// "R" in the marker column of the current record's row, a space elsewhere,
// and the list's highlighted row. The marker column is the column of the
// current-row buttons: a button whose cell is not a space shows its arrow, so
// the clerk sees the current row marked.
void markCurrentRow(ViewObject& v) {
  ViewItem* item = listItem(v);
  if (!item) return;
  EditObject* e = edit::checked(item->edit);
  if (!e) return;
  const int32_t row = v.currentRecord - v.topRecord;
  const bool shown = v.currentRecord >= 0 && row >= 0 && row < item->slotRows;
  if (v.rowMarker && (item->createFlags & 0x800000)) {
    for (int32_t r = 0; r < item->slotRows && item->firstRecordRow + r < e->allocatedRows; ++r) {
      char* cell = e->row(item->firstRecordRow + r);
      const char mark = (shown && r == row) ? 'R' : ' ';
      if (cell[kMarkerColumn] != mark) {
        cell[kMarkerColumn] = mark;
        edit::invalidateCells(e, kMarkerColumn, item->firstRecordRow + r, 1, 1);
      }
    }
  }
  const uint16_t highlighted = shown ? static_cast<uint16_t>(item->firstRecordRow + row) : 0xFFFF;
  if (e->highlightedRow != highlighted) {
    if (e->highlightedRow != 0xFFFF) edit::invalidateCells(e, 0, e->highlightedRow, e->allocatedColumns, 1);
    e->highlightedRow = highlighted;
    if (highlighted != 0xFFFF) edit::invalidateCells(e, 0, highlighted, e->allocatedColumns, 1);
  }
}

// Fills the record-buffer set for the target and redraws.
bool loadRecords(ViewObject& v, int32_t target) {
  const FileRecList* list = hasRecordList(v) ? &v.recordList : nullptr;
  const bool append = v.style & kStyleAppendRow;
  // Within the list; an empty list stands on 0 like an empty table.
  if (list && (target < 0 || target > list->count || (target == list->count && !append && target != 0))) return false;
  const int32_t first = isListView(v) ? topRow(v) : target;
  if (v.topRecord != -1 && first == v.topRecord) {
    v.currentRecord = target;
    markCurrentRow(v);
    return true;
  }
  // A view whose items hold no rows of the project (no record-buffer set)
  // only keeps its position.
  const bool bound = std::any_of(v.items.begin(), v.items.end(), [](const ViewItem& i) { return i.slot != nullptr; });
  if (bound && FileProjBufSetList(v.project, v.handle, v.mainTable, first, list) < 0) return false;
  v.topRecord = first;
  v.currentRecord = target;
  for (auto& item : v.items)
    if (item.slot && !(item.flags & kItemList) && item.slot[0].image) item.image = static_cast<uint8_t*>(item.slot[0].image);
  drawAllFields(v);
  markCurrentRow(v);
  clearChangedRows(v);
  return true;
}

fileproj::Project* projectOf(FileProjHandle project) {
  if (fileproj::FileProjCheckHandle(project) < 0) return nullptr;
  return fileproj::findProject(project);
}

uint32_t tableCount(FileProjHandle project, int32_t fdbId) {
  const int32_t n = FileDBRecGetSize(FileProjGetFdb(project, fdbId));
  return n < 0 ? 0 : static_cast<uint32_t>(n);
}

// The view becomes one the project layer tells of changes to its tables.
void registerBinding(ViewObject& v) {
  installBindBackend();
  registerView(v.handle, v.project);
  for (const auto& item : v.items)
    if (item.table) bindTable(v.handle, FileProjGetFdb(v.project, item.table));
  if (v.mainTable) bindTable(v.handle, FileProjGetFdb(v.project, v.mainTable));
}

// Failure after the view was made: it goes again, nothing left behind.
ViewHandle fail(ViewHandle view) {
  destroyViewObject(view);
  return 0;
}

}  // namespace

// ---- positioning -------------------------------------------------------------

SeekTarget seekTarget(int32_t value, int32_t mode, int32_t current, uint32_t total, bool appendAllowed) {
  const bool toAppend = (mode & 0x100) && appendAllowed;
  const int64_t last = toAppend ? int64_t{total} : int64_t{total} - 1;
  const bool empty = total == 0;
  switch (mode & 0xFF) {
    case 1:
      if (value < 0 || empty) return {0, 1};
      if (value <= last) return {value, (last == 0 && !toAppend) ? 1 : 0};
      return {static_cast<int32_t>(last), 1};
    case 2: {
      const int64_t target = int64_t{current} + value;
      if (target < 0 || empty) return {0, 1};
      if (target <= last) return {static_cast<int32_t>(target), 0};
      if (value == 0 && appendAllowed && current >= 0 && static_cast<uint32_t>(current) == total) return {current, 0};
      return {static_cast<int32_t>(last), 1};
    }
    case 3: {
      const int64_t target = last + value;
      if (target < 0 || empty) return {0, 1};
      if (value <= 0) return {static_cast<int32_t>(target), 0};
      return {static_cast<int32_t>(last), 1};
    }
    default:
      return {0, -1};
  }
}

bool hasRecordList(const ViewObject& v) { return v.recordList.items != nullptr; }

uint32_t viewTotal(const ViewObject& v) {
  return hasRecordList(v) ? static_cast<uint32_t>(std::max(v.recordList.count, 0)) : v.recordCount;
}

int32_t recSeek(ViewObject& v, int32_t value, int32_t mode) {
  if (!v.project || !v.mainTable) return -1;
  const SeekTarget t = seekTarget(value, mode, v.currentRecord, viewTotal(v), (v.style & kStyleAppendRow) != 0);
  if (t.result < 0) return -1;
  if (t.record == v.currentRecord && v.topRecord != -1) {
    if (!isListView(v)) return t.result;
    scrollToRecord(v, t.record);
    if (!loadRecords(v, t.record)) return -1;
    updateRecordBar(v);
    return t.result;
  }
  if (!isListView(v) && v.currentRecord != -1 && holdsChanges(v)) {
    const int answer = UnlockedMessageBox(v.window, kLoseChanges, kWarning,
                                          platform::kMbOkCancel | platform::kMbIconWarning | platform::kMbDefButton2);
    if (answer != platform::kIdOk) return 2;
    dropChanges(v);
  }
  if (isListView(v)) scrollToRecord(v, t.record);
  if (!loadRecords(v, t.record)) return -1;
  updateRecordBar(v);
  return t.result;
}

void drawAllFields(ViewObject& v) {
  for (auto& item : v.items) drawItem(item);
}

int32_t projRefresh(ViewObject& v) {
  if (!v.project) return 0;
  for (auto& item : v.items) {
    if (!item.slot) continue;
    bool changed = false;
    for (int32_t r = 0; r < item.slotRows && !changed; ++r)
      changed = (FileProjBufRowFlags(v.project, &item.slot[r]) & FILEBUF_ROW_CHANGED) != 0;
    if (changed) drawItem(item);
  }
  clearChangedRows(v);
  markCurrentRow(v);
  return 0;
}

void reloadView(ViewObject& v) {
  // A list that runs through the records fits its rows to their new count.
  if (isListView(v)) listAdjustRows(v);
  const int32_t old = v.currentRecord;
  const uint32_t total = viewTotal(v);
  v.currentRecord = -1;
  v.topRecord = -1;
  const bool pastEnd = old >= 0 && static_cast<uint32_t>(old) >= total;
  recSeek(v, std::max(old, 0), ((v.style & kStyleAppendRow) && pastEnd) ? 0x101 : 1);
}

int32_t fieldDisplayWidth(uint16_t typeCode, uint16_t size, uint16_t fieldWord, const std::string& name,
                          bool withName) {
  const uint32_t bits = (fieldWord >> 8) ? (fieldWord >> 8) : size * 8u;
  auto decimalDigits = [](double value) { return static_cast<int32_t>(std::floor(std::log10(value))) + 1; };
  int32_t width = size;
  switch (typeCode & 0x3F) {
    case 2: width = static_cast<int32_t>(bits); break;
    case 3: width = static_cast<int32_t>((bits + 2) / 3); break;
    case 4: width = decimalDigits(std::ldexp(1.0, static_cast<int>(bits))); break;
    case 5: case 6: width = static_cast<int32_t>((bits + 3) / 4); break;
    case 7: width = decimalDigits(std::ldexp(1.0, static_cast<int>(bits) - 1)) + 1; break;
    case 8: width = size == 8 ? 19 : size == 4 ? 12 : size; break;
    case 9: case 10: case 11: case 12: width = size == 8 ? 24 : size == 4 ? 17 : size; break;
    case 14: width = 9; break;
    // Flags show as a choice text such as " ＯＮ ".
    case 16: case 17: case 18: case 19: case 20: case 21: width = std::max<int32_t>(size, 6); break;
    case 15: width = 8; break;
    default: break;
  }
  if (withName) width = std::max(width, static_cast<int32_t>(name.size()));
  return std::max(width, 1);
}

// ---- the view object as the binding makes and drops it ---------------------------

ViewHandle createViewObject(uint32_t flags, const std::string& title, HWND caller) {
  return ViewCreate(flags, title.c_str(), caller, nullptr);
}

int32_t destroyViewObject(ViewHandle view) {
  zemta::ApiLockGuard lock;
  return destroyView(view);
}

void setVirtualRows(ViewObject& v, uint32_t count) { ViewSetScrollVirtual(v.handle, 1, static_cast<int32_t>(count)); }

// What the view object and its items call of the binding.
int32_t viewRecordStep(ViewObject& v, int32_t button) { return recStep(v, button) ? v.currentRecord : -1; }

int32_t viewReloadRecords(ViewObject& v, int32_t record) {
  if (!v.project || !v.mainTable) return 0;
  v.topRecord = -1;
  const int32_t target = v.currentRecord >= 0 ? v.currentRecord : std::max(record, 0);
  return loadRecords(v, target) ? 0 : -1;
}

int32_t viewRefreshChanged(ViewObject& v) { return projRefresh(v); }

}  // namespace zemta::views

using namespace zemta;
using namespace zemta::views;

// ---- opening -------------------------------------------------------------------

ZEMTA_API ViewHandle ViewTableOpen(FileProjHandle project, int32_t tableId, HWND caller, HWND mdiClient) {
  (void)mdiClient;
  fileproj::TableEntry* entry = fileproj::FileProjFindTable(project, tableId);
  if (!entry) return 0;
  if (entry->fields.empty()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return 0;
  }
  const ViewHandle handle = createViewObject(kViewRecordBar, entry->name(), caller);
  ViewObject* v = viewOfHandle(handle);
  if (!v) return 0;
  v->project = project;
  v->mainTable = tableId;
  v->rowGap = 3;
  v->style = kStyleTableGrid;
  v->filterIndex = -1;
  v->recordCount = tableCount(project, tableId);
  setVirtualRows(*v, v->recordCount);

  // Column widths and the header row of field names.
  std::vector<int32_t> widths;
  int32_t lineWidth = 4;
  for (const auto& field : entry->fields) {
    widths.push_back(fieldDisplayWidth(field.typeCode(), field.size(), field.fieldWord(), field.name(), true));
    lineWidth += widths.back() + 1;
  }
  EditHandle e = createItem(*v, kGridEditFlags, lineWidth, kGridRows, 0, 0, lineWidth, kGridRows, 0, nullptr);
  if (!e) return fail(handle);
  ViewItem& item = v->items.back();
  EditSetBuf(e, lineWidth, kGridRows, "", nullptr);
  EditObject* o = edit::checked(e);
  for (int32_t r = 0; r < kGridRows; ++r) {
    std::memset(o->row(r), ' ', static_cast<size_t>(lineWidth));
    std::memset(o->atrRow(r), 0xF5, static_cast<size_t>(lineWidth));
    o->atrRow(r)[0] = 0xF5;  // the row marker "R" is read there
  }
  v->stagingText.assign(o->text.begin(), o->text.end());
  v->stagingColour.assign(o->atr.begin(), o->atr.end());

  item.headerRows = 1;
  item.firstRecordRow = 1;
  item.flags = kItemVirtualList;
  item.table = tableId;
  item.recordCount = v->recordCount;
  item.tables = {static_cast<uint16_t>(tableId)};
  v->rowMarker = true;
  int32_t column = 4;
  for (size_t l = 0; l < entry->fields.size(); ++l) {
    const auto& field = entry->fields[l];
    const std::string name = field.name();
    std::memcpy(o->row(0) + column, name.data(), std::min<size_t>(name.size(), static_cast<size_t>(widths[l])));
    ViewFieldLayout f{};
    f.ids[0] = static_cast<uint16_t>(l + 1);
    f.column = static_cast<uint16_t>(column);
    f.row = 1;
    f.width = static_cast<uint16_t>(widths[l]);
    f.lines = kGridFieldLines;
    f.repeats = 1;  // one record a row: a cell edit opens on one row of the column
    f.colour = 0xE5;
    f.type = field.typeCode();
    f.offset = field.offset();
    f.size = field.size();
    f.detail = field.fieldWord();
    f.enter = l + 1 < entry->fields.size() ? static_cast<uint16_t>(l + 2) : 0;
    f.tabOrder = static_cast<uint16_t>(l + 2);
    item.fields.push_back(f);
    EditSetAtrEx(e, column, 1, widths[l], kGridFieldLines, kListColumnFrame, -1);
    column += widths[l] + 1;
  }
  item.changed.assign(item.fields.size(), 0);

  FileProjBufHandle set = FileProjBufAddV(project, kListBufferRows, 1, tableId);
  if (!set) return fail(handle);
  const int32_t setNumber =
      FileProjBufBind(project, handle, caller, tableId, static_cast<uint16_t>(v->items.size() - 1));
  if (setNumber < 0) {
    FileProjBufRemove(project, set);
    return fail(handle);
  }
  item.slot = set;
  item.slotNumber = setNumber;
  item.slotTables = 1;
  EditSetAtrEx(e, 0, 0, lineWidth, 1, EDIT_LOCK_INPUT, -1);
  item.slotRows = shownRows(*v, item);
  if (FileProjBufSetRows(project, set, item.slotRows) != 0) return fail(handle);
  item.currentRowBox = EditSetAtrEx(e, kMarkerColumn, 1, 1, kGridFieldLines, kCurrentRowBox, -1);
  EditSetViewLock(e, 3, 1);
  registerBinding(*v);
  if (recSeek(*v, 0, 1) < 0) return fail(handle);
  updateRange(*v);
  return handle;
}

ZEMTA_API EditHandle ViewAddFile(ViewHandle view, int32_t tableId, uint32_t itemFlags, const char* path, void* image) {
  ViewObject* v = checkView(view);
  if (!v) return nullptr;
  FileProjForm form{};
  const int32_t need = FileProjResourceLoad(path, &form, nullptr);
  if (need < 0) return nullptr;
  struct FormFree {
    FileProjForm* f;
    ~FormFree() { FileProjResourceFree(f); }
  } freeForm{&form};
  const int32_t imageLength = need & 0x3FFFFFFF;

  // The part's tables: the table id must be one of them and of the project.
  std::vector<uint16_t> tables(form.words, form.words + form.wordCount);
  if (tables.empty() && tableId) tables.push_back(static_cast<uint16_t>(tableId));
  uint32_t records = 0;
  if (v->project && tableId) {
    const bool named = std::any_of(tables.begin(), tables.end(),
                                   [&](uint16_t t) { return (t & 0x7FFF) == static_cast<uint16_t>(tableId); });
    if (!named || !FileProjGetFdb(v->project, tableId)) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return nullptr;
    }
    const bool single = std::any_of(tables.begin(), tables.end(),
                                    [&](uint16_t t) { return (t & 0x8000) && (t & 0x7FFF) == tableId; });
    records = single ? 1 : tableCount(v->project, tableId);
    if (single && tableId == v->mainTable) v->recordCount = 1;
  }
  const bool list = (itemFlags & kItemList) != 0;
  if ((itemFlags & kItemVirtualList) == kItemVirtualList) setVirtualRows(*v, records);

  uint32_t createFlags = (itemFlags & 1) ? ((itemFlags & 2) ? 0x10002u : 0x10003u) : 0x1010003u;
  if (list && (itemFlags & 1)) createFlags = (createFlags & ~2u) | 0xA00000u;
  const uint32_t inputFlags = list ? (itemFlags & 0xFFFE0000u) << 14 : 0;

  int32_t columns = form.width, rows = form.height;
  std::vector<ViewFieldLayout> fields(form.itemCount);
  if (form.itemCount) std::memcpy(fields.data(), form.items, sizeof(ViewFieldLayout) * form.itemCount);
  // The first record row of a list part: the topmost field that repeats.
  // The form's rows above it are headers; from it down the form draws one
  // record a row. The list opens with a row for every record (and an empty
  // one to append to) below the headers, to at most the rows it may grow to.
  int32_t firstRecordRow = 0;
  if (list) {
    firstRecordRow = rows;
    for (const auto& f : fields)
      if (f.repeats || !(f.offset & kNotStored)) firstRecordRow = std::min<int32_t>(firstRecordRow, f.row);
    if (firstRecordRow >= rows) firstRecordRow = 0;
    const int64_t wanted = int64_t{records} + ((itemFlags & kStyleAppendRow) ? 1 : 0);
    const int32_t recordRows =
        static_cast<int32_t>(std::clamp<int64_t>(wanted, 1, std::max(kGridRows - firstRecordRow, 1)));
    rows = firstRecordRow + recordRows;
    for (auto& f : fields)
      if (!(f.offset & kNotStored)) f.lines = static_cast<uint16_t>(recordRows);
  }
  // A list keeps room for the rows it may grow by when records are added.
  const int32_t allocatedRows = list ? std::max(rows, kGridRows) : rows;
  EditHandle e = createItem(*v, createFlags, columns, allocatedRows, 0, 0, columns, rows, inputFlags, nullptr);
  if (!e) return nullptr;
  ViewItem& item = v->items.back();
  const size_t itemNumber = v->items.size() - 1;
  EditSetBuf(e, columns, rows, "", nullptr);
  EditObject* o = edit::checked(e);
  // The rows a list may grow into are made up as its record rows are, so
  // that a row added later takes its fields' colours as the first rows did.
  const int32_t preparedRows = list ? allocatedRows : rows;
  for (int32_t r = 0; r < preparedRows; ++r) {
    std::memset(o->row(r), ' ', static_cast<size_t>(columns));
    std::memset(o->atrRow(r), 0xF5, static_cast<size_t>(columns));
    if (r < form.height) {
      std::memcpy(o->row(r), form.chars + static_cast<size_t>(r) * form.width, static_cast<size_t>(form.width));
      std::memcpy(o->atrRow(r), form.attributes + static_cast<size_t>(r) * form.width, static_cast<size_t>(form.width));
      // Text the form gave no attribute of its own reads as the view's own text.
      for (int32_t c = 0; c < form.width; ++c)
        if (o->atrRow(r)[c] == kFormDefaultAttribute) o->atrRow(r)[c] = 0xF5;
    }
  }
  // The form's marks where the fields stand go; the fields draw there.
  for (const auto& f : fields) {
    const int32_t lines = list && !(f.offset & kNotStored) ? preparedRows - f.row : f.lines;
    for (int32_t l = 0; l < lines; ++l)
      if (f.row + l < preparedRows) {
        std::memset(o->row(f.row + l) + f.column, ' ', std::min<size_t>(f.width, static_cast<size_t>(columns - f.column)));
        std::memset(o->atrRow(f.row + l) + f.column, f.colour ? f.colour : 0xE5,
                    std::min<size_t>(f.width, static_cast<size_t>(columns - f.column)));
      }
  }
  v->stagingText.assign(o->text.begin(), o->text.end());
  v->stagingColour.assign(o->atr.begin(), o->atr.end());
  item.fields = std::move(fields);
  // What the form's trailer holds after its table list: the choice lists.
  item.auxTable.assign(form.trailer, form.trailer + form.trailerLen);
  item.auxCount = static_cast<int16_t>(std::min<size_t>(item.auxTable.size(), 0x7FFF));
  item.changed.assign(item.fields.size(), 0);
  item.tables = tables;
  item.flags = itemFlags;
  item.table = tableId;
  item.recordCount = records;
  item.firstRecordRow = firstRecordRow;
  item.headerRows = static_cast<uint16_t>(firstRecordRow);

  if (image) {
    item.image = static_cast<uint8_t*>(image);
    item.imageLength = static_cast<int16_t>(imageLength);
  } else if (v->project && tableId) {
    int32_t bufferRows = list ? kListBufferRows : 1;
    if (!list)
      for (const auto& f : item.fields)
        if (f.repeats) bufferRows = std::max<int32_t>(bufferRows, f.lines);
    std::vector<int32_t> ids;
    for (uint16_t t : tables) ids.push_back(t);
    FileProjBufHandle set = FileProjBufAdd(v->project, bufferRows, static_cast<int32_t>(ids.size()), ids.data());
    if (!set) return nullptr;
    const int32_t setNumber =
        FileProjBufBind(v->project, view, v->caller, v->mainTable, static_cast<uint16_t>(itemNumber));
    if (setNumber < 0) {
      FileProjBufRemove(v->project, set);
      return nullptr;
    }
    item.slot = set;
    item.slotNumber = setNumber;
    item.slotTables = static_cast<uint16_t>(ids.size());
    item.slotRows = list ? rows - firstRecordRow : bufferRows;
    if (FileProjBufSetRows(v->project, set, item.slotRows) != 0) return nullptr;
    item.image = static_cast<uint8_t*>(set[0].image);
    item.imageLength = static_cast<int16_t>(set[0].length);
  } else {
    item.ownImage.assign(static_cast<size_t>(imageLength), 0);
    item.image = item.ownImage.data();
    item.imageLength = static_cast<int16_t>(imageLength);
  }

  // Boxes of the fields; fields without ids take no caret.
  if (item.slot || !list) {
    for (const auto& f : item.fields) {
      const bool stored = !(f.offset & kNotStored);
      uint32_t box = list && stored ? kListColumnFrame : kFormBox;
      if (!f.ids[0] && !f.ids[1] && !f.ids[2]) box |= EDIT_LOCK_CARET;
      EditSetAtrEx(e, f.column, f.row, f.width, std::max<int32_t>(f.lines, 1), box, -1);
    }
  }
  if (firstRecordRow > 0) EditSetAtrEx(e, 0, 0, columns, firstRecordRow, EDIT_LOCK_INPUT, -1);
  return e;
}

ZEMTA_API ViewHandle ViewResourceOpen(FileProjHandle project, int32_t resource, HWND caller, HWND mdiClient,
                                      int32_t filterIndex, const void* fromKey, const void* toKey) {
  (void)mdiClient;
  fileproj::Project* p = projectOf(project);
  if (!p) return 0;
  const int32_t entryNumber = FileProjResourceDefault(project, resource, nullptr);
  if (entryNumber < 0) return 0;
  const uint8_t* entry = p->resources[static_cast<size_t>(entryNumber)].data();
  const std::string title = fileproj::fixedText(entry, 20);
  uint32_t flags = 0;
  std::memcpy(&flags, entry + 20, 4);
  // The main table: the first of the entry's tables that the project has.
  int32_t mainTable = 0;
  for (int k = 0; k < 3 && !mainTable; ++k) {
    uint16_t id = 0;
    std::memcpy(&id, entry + 26 + 2 * k, 2);
    if (id && id != resource && fileproj::tableIndexOf(*p, id) >= 0) mainTable = id;
  }
  if (!mainTable) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
    return 0;
  }
  const ViewHandle handle = createViewObject((flags & 2) ? kViewRecordBar : 0, title, caller);
  ViewObject* v = viewOfHandle(handle);
  if (!v) return 0;
  v->project = project;
  v->resource = static_cast<int16_t>(resource);
  v->rowGap = 3;
  v->style = flags;
  v->filterIndex = filterIndex;
  v->mainTable = mainTable;
  v->recordCount = tableCount(project, mainTable);

  int32_t position = -1;
  while (FileProjResourceNext(project, resource, &position) >= 0) {
    const uint8_t* part = p->resources[static_cast<size_t>(position)].data();
    uint32_t partFlags = 0;
    std::memcpy(&partFlags, part + 20, 4);
    int32_t partTable = 0;
    for (int k = 0; k < 3 && !partTable; ++k) {
      uint16_t id = 0;
      std::memcpy(&id, part + 26 + 2 * k, 2);
      if (id && id != resource && fileproj::tableIndexOf(*p, id) >= 0) partTable = id;
    }
    char path[260];
    if (FileProjResourcePath(project, position, path) != 0) return fail(handle);
    // A data form's flags word is also the style of its item. Bit 0 makes a
    // form item count in the view's extents, so that a tall form scrolls; a
    // list part keeps its own rows (with bit 0 it would take the view's
    // virtual rows).
    uint32_t itemFlags = partFlags & ~0x7u;
    if (!(partFlags & kItemList)) itemFlags |= partFlags & 1u;
    if (!ViewAddFile(handle, partTable, itemFlags, path, nullptr)) return fail(handle);
  }
  if (v->items.empty()) return fail(handle);

  if (filterIndex != -1) {
    FileDBHandle table = FileProjGetFdb(project, mainTable);
    int32_t keyLength = 4;
    if (filterIndex != kRecordNumberOrder) {
      fileproj::TableEntry* t = fileproj::FileProjFindTable(project, mainTable);
      const fileproj::Field* f = t ? fileproj::FileProjGetIndexField(*t, filterIndex) : nullptr;
      if (!f) {
        ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
        return fail(handle);
      }
      keyLength = f->typeCode() < 2 ? f->size() : 2 * f->size();
    }
    if (!fromKey || !toKey) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return fail(handle);
    }
    v->filterRange.assign(static_cast<const uint8_t*>(fromKey), static_cast<const uint8_t*>(fromKey) + keyLength);
    v->filterRange.insert(v->filterRange.end(), static_cast<const uint8_t*>(toKey),
                          static_cast<const uint8_t*>(toKey) + keyLength);
    std::vector<uint8_t> to(v->filterRange.begin() + keyLength, v->filterRange.end());
    if (filterIndex == kRecordNumberOrder) {
      // Record numbers are unsigned, while the record-order search reads a
      // key below the first as a walk downwards: 1 to 0xFFFFFFFF would give
      // records 1 and 0. The range ends at the largest record number instead.
      uint32_t a = 0, b = 0;
      std::memcpy(&a, v->filterRange.data(), 4);
      std::memcpy(&b, to.data(), 4);
      if (a <= b && b > 0x7FFFFFFFu) {
        b = 0x7FFFFFFFu;
        std::memcpy(to.data(), &b, 4);
      }
    }
    if (FileIdxSear(table, filterIndex, v->filterRange.data(), to.data(), &v->recordList, 0, 1) != 0)
      return fail(handle);
  }
  registerBinding(*v);
  if (recSeek(*v, 0, (v->style & kStyleAppendRow) ? 0x103 : 3) < 0) return fail(handle);
  updateRange(*v);
  return handle;
}

// ---- seeking and redrawing -------------------------------------------------------

ZEMTA_API int32_t ViewProjRecSeek(ViewHandle view, int32_t value, int32_t mode) {
  ViewObject* v = checkView(view);
  if (!v) return -1;
  return recSeek(*v, value, mode);
}

ZEMTA_API int32_t ViewProjUpdate(ViewHandle view) {
  ViewObject* v = checkView(view);
  if (!v) return -1;
  return projRefresh(*v);
}

ZEMTA_API int32_t ViewUpdateAll(ViewHandle view) {
  ViewObject* v = checkView(view);
  if (!v) return -1;
  drawAllFields(*v);
  markCurrentRow(*v);
  return 0;
}

ZEMTA_API int32_t ViewCancelEdit(ViewHandle view, int32_t mode) {
  ViewObject* v = checkView(view);
  if (!v) return -1;
  if (mode == 2 || !v->project) return 0;
  if (FileProjRbfRefresh(v->project, view, mode) != 0) return -1;
  return projRefresh(*v);
}

// ---- what the project layer tells a view -------------------------------------------

namespace zemta::views {

namespace {

// A list of the main table grows by the records added, to at most 64 used
// rows in its edit: 1 when it grew, 0 when it could not, -1 on failure.
int32_t growList(ViewObject& v, ViewItem& item, int64_t added) {
  EditObject* e = edit::checked(item.edit);
  if (!e) return -1;
  const int32_t room = std::min(kGridRows, e->allocatedRows) - item.firstRecordRow;
  const int32_t rows = static_cast<int32_t>(std::min<int64_t>(item.slotRows + std::max<int64_t>(added, 0), room));
  if (rows <= item.slotRows) return 0;
  const bool virtualList = (item.flags & kItemVirtualList) == kItemVirtualList;
  return (virtualList ? listAdjustRows(v) : setListRows(v, item, rows)) < 0 ? -1 : 1;
}

bool isMainList(const ViewObject& v, const ViewItem& item) {
  return item.table == v.mainTable && (item.flags & kItemList);
}

}  // namespace

int32_t updateSize(ViewHandle view, uint32_t table, int32_t flag) {
  ViewObject* v = viewOfHandle(view);
  if (!v || !v->project) return -1;
  const FileDBHandle mainHandle = FileProjGetFdb(v->project, v->mainTable);
  for (auto& item : v->items) {
    if (!item.table || FileProjGetFdb(v->project, item.table) != table) continue;
    const uint32_t now = tableCount(v->project, item.table);
    if (item.recordCount == now) break;
    const bool fell = now < item.recordCount;
    if (flag && fell && item.slot)
      for (int32_t r = 0; r < item.slotRows; ++r) {
        const uint32_t f = FileProjBufRowFlags(v->project, &item.slot[r]);
        if ((f & 0x85) == 1) FileProjBufSetFlag(v->project, &item.slot[r], FILEBUF_ROW_USED, 0);
      }
    item.recordCount = now;
    const bool reload = flag && (table != mainHandle || (item.flags & kItemList) || fell);
    if (reload) {
      if (table == mainHandle && now < v->recordCount && hasRecordList(*v)) {
        if (v->currentRecord >= 0 && v->currentRecord < v->recordList.count)
          v->currentRecord = static_cast<int32_t>(v->recordList.items[v->currentRecord]);
        FileDeleteRecList(&v->recordList);
        v->recordList = FileRecList{};
      }
      if (!holdsChanges(*v))
        ui::postMessage(v->window, ui::kWmCommand, ui::makeWParam(kCmdReload, 1), 0);
    }
    break;
  }
  if (table == mainHandle) {
    const uint32_t now = tableCount(v->project, v->mainTable);
    if (now != v->recordCount) {
      v->recordCount = now;
      if (v->currentRecord >= 0 && !hasRecordList(*v) && static_cast<uint32_t>(v->currentRecord) >= now &&
          !((v->style & kStyleAppendRow) && static_cast<uint32_t>(v->currentRecord) == now))
        v->currentRecord = std::max(v->currentRecord - 1, 0);
      updateRange(*v);
      updateRecordBar(*v);
    }
  }
  return 0;
}

int32_t adjustRows(ViewHandle view, int32_t itemNumber) {
  ViewObject* v = viewOfHandle(view);
  if (!v) return -1;
  if (itemNumber < 0 || static_cast<size_t>(itemNumber) >= v->items.size()) return -1;
  ViewItem& item = v->items[static_cast<size_t>(itemNumber)];
  if ((item.flags & kItemVirtualList) == kItemVirtualList || !item.slot) return 0;
  const int32_t records = FileProjBufRecordCount(v->project, item.slotNumber);
  int32_t rows = std::max(records, 0) + ((item.flags & kStyleAppendRow) ? 1 : 0) + item.firstRecordRow;
  rows = std::min<int32_t>(rows, item.bufferRows);
  const int32_t recordRows = std::max(rows - item.firstRecordRow, 1);
  for (auto& f : item.fields)
    if (!(f.offset & kNotStored)) f.lines = static_cast<uint16_t>(recordRows);
  if (recordRows != item.slotRows) {
    item.slotRows = recordRows;
    FileProjBufSetRows(v->project, item.slot, recordRows);
    v->topRecord = -1;
  }
  drawItem(item);
  return 0;
}

int32_t itemCheckSize(ViewObject& v, size_t itemNumber) {
  if (!v.project || itemNumber >= v.items.size()) return -1;
  ViewItem& item = v.items[itemNumber];
  if (!item.table) return 0;
  const uint32_t seen = item.recordCount;
  const uint32_t now = tableCount(v.project, item.table);
  // (Reading the count may tell the view of it at once: the count seen before
  // is the one compared.)
  if (now == seen) return 0;
  item.recordCount = now;
  if (!isMainList(v, item)) return 0;
  // The view's total follows its list, so that the records added can be
  // reached and the record bar counts them.
  v.recordCount = now;
  updateRange(v);
  updateRecordBar(v);
  const int32_t grown = growList(v, item, int64_t{now} - seen);
  if (grown <= 0) return grown < 0 ? -1 : 1;
  // Unsaved changes stay where they are; the rows are read again later.
  if (holdsChanges(v)) return 1;
  v.topRecord = -1;
  return recSeek(v, 0, 2) < 0 ? -1 : 1;
}

void installBindBackend() {
  static std::once_flag once;
  std::call_once(once, [] {
    ViewBackend backend = bindBackend({});
    backend.updateSize = [](ZemtaView view, uint32_t table, int32_t timer) { return updateSize(view, table, timer); };
    backend.projRefresh = [](ZemtaView view) {
      ViewObject* v = viewOfHandle(view);
      return v ? projRefresh(*v) : -1;
    };
    backend.adjustRows = [](ZemtaView view, int32_t item) { return adjustRows(view, item); };
    bindBackend(backend);
  });
}

}  // namespace zemta::views
