// The items of a view (blocks of cells, each drawn by its own edit), their
// field layout, the view's extents, scroll bars and scrolling, and painting
// of the view window.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "lib/core/report.h"
#include "lib/views/edit/edit_object.h"
#include "lib/views/view/view_object.h"
#include "lib/views/view/view_registry.h"
#include "platform/ui/desktop.h"
#include "platform/ui/paint.h"
#include "zemta/errors.h"
#include "zemta/winhelp.h"

namespace zemta::views {
namespace ui = platform::ui;

namespace {

constexpr int32_t kBar = 16;
// Edit creation flags that keep an item out of the content size.
constexpr uint32_t kNotCounted = 0x1000000;

bool isEmptyRect(const ui::Rect& r) { return r.right <= r.left || r.bottom <= r.top; }

bool isTempItem(const ViewObject& v, size_t index) { return v.edit.tempItemPlusOne == index + 1; }

bool hasKey(const ViewFieldLayout& f, uint16_t key) {
  return key != 0 && (f.ids[0] == key || f.ids[1] == key || f.ids[2] == key);
}

// The list item that carries the view's virtual rows, or null.
ViewItem* virtualListItem(ViewObject& v) {
  for (ViewItem& item : v.items)
    if ((item.flags & kItemVirtualList) == kItemVirtualList) return &item;
  return nullptr;
}

// Records the list runs through: the record list when one is set, else the
// list item's table.
int64_t listRecords(ViewObject& v) {
  if (v.recordList.count > 0) return v.recordList.count;
  if (ViewItem* list = virtualListItem(v)) return list->table ? list->recordCount : v.recordCount;
  return v.recordCount;
}

void recomputeOrigin(ViewObject& v) {
  bool first = true;
  uint16_t originColumn = 0, originRow = 0;
  int32_t right = 0, bottom = 0;
  for (size_t i = 0; i < v.items.size(); ++i) {
    if (isTempItem(v, i)) continue;
    const ViewItem& item = v.items[i];
    if (first || item.column < originColumn) originColumn = item.column;
    if (first || item.row < originRow) originRow = item.row;
    first = false;
  }
  for (size_t i = 0; i < v.items.size(); ++i) {
    if (isTempItem(v, i)) continue;
    const ViewItem& item = v.items[i];
    right = std::max(right, item.column + item.visibleColumns - originColumn);
    bottom = std::max(bottom, item.row + item.visibleRows - originRow);
  }
  v.originColumn = first ? 0 : originColumn;
  v.originRow = first ? 0 : originRow;
  v.extentColumns = static_cast<uint16_t>(std::max(0, right));
  v.extentRows = static_cast<uint16_t>(std::max(0, bottom));
}

LRESULT sizeParam(int32_t width, int32_t height) {
  return static_cast<LPARAM>((width & 0xFFFF) | ((height & 0xFFFF) << 16));
}

// The locked part of the scrolling area that stays in place: the largest
// locked columns (rows) of the items that scroll by cells.
int32_t lockedWidth(const ViewObject& v) {
  int32_t width = 0;
  for (const ViewItem& item : v.items)
    if (item.edit && (item.edit->createFlags & EDIT_CREATE_HSCROLL_CELLS)) width = std::max(width, item.edit->lx * item.edit->cw);
  return width;
}
int32_t lockedHeight(const ViewObject& v) {
  int32_t height = 0;
  for (const ViewItem& item : v.items)
    if (item.edit && (item.edit->createFlags & EDIT_CREATE_VSCROLL_CELLS)) height = std::max(height, item.edit->ly * item.edit->ch);
  return height;
}

// The items take the area above the bottom strip (record bar, scroll bar)
// down to their last whole row as they stand scrolled: no row shows cut at
// the strip.
void fitItems(ViewObject& v, int32_t areaWidth, int32_t areaHeight) {
  for (ViewItem& item : v.items) {
    if (!item.edit) continue;
    const EditObject* e = item.edit;
    int32_t itemHeight = areaHeight;
    const int32_t top = e->y * e->ch - e->vpix;
    if (e->ch > 0 && itemHeight > top) itemHeight -= (itemHeight - top) % e->ch;
    EditCallBackProc(item.edit, ui::kWmSize, 0, sizeParam(areaWidth, itemHeight));
    item.visibleColumns = static_cast<uint16_t>(std::max(0, item.edit->visibleColumns));
    item.visibleRows = static_cast<uint16_t>(std::max(0, item.edit->visibleRows));
  }
}

void scrollBy(ViewObject& v, bool horizontal, uint32_t request) {
  HWND bar = horizontal ? v.horizontalBar : v.verticalBar;
  if (!bar) return;
  const int32_t position = ScrollCtlBar(bar, request);
  if (position < 0) return;
  const int32_t unit = horizontal ? v.cellWidth : v.rowHeight;
  const int32_t step = horizontal ? v.stepX : v.stepY;
  const int32_t offset = position * step * unit;
  int32_t& current = horizontal ? v.scrollX : v.scrollY;
  if (offset == current) return;
  current = offset;
  if (!horizontal && v.virtualRows) {
    // Scrolling a list of records moves the top record and reloads.
    v.topRecord = position * step;
    viewReloadRecords(v, v.topRecord);
  }
  ui::invalidateRect(v.window, v.scrollArea);
  const LPARAM from = reinterpret_cast<LPARAM>(bar);
  for (ViewItem& item : v.items)
    if (item.edit) EditCallBackProc(item.edit, horizontal ? ui::kWmHScroll : ui::kWmVScroll, request, from);
  // Scrolled by pixels, the rows meet the bottom strip elsewhere.
  if (!horizontal && !v.virtualRows) fitItems(v, v.scrollArea.width(), v.scrollArea.height());
}

void paintItems(ViewObject& v) {
  for (size_t i = v.items.size(); i-- > 0;)
    if (v.items[i].edit) EditCallBackProc(v.items[i].edit, ui::kWmPaint, 0, 0);
}

// The background the items leave: the scrolling area and the corner.
void eraseBackground(ViewObject& v) {
  ui::DrawContext* dc = ui::paintInProgress(v.window, nullptr);
  if (!dc) return;
  dc->save();
  for (ViewItem& item : v.items)
    if (item.edit) {
      const ui::Rect r = edit::visibleRect(item.edit);
      if (!isEmptyRect(r)) dc->excludeClip(r);
    }
  const uint32_t colour = edit::backgroundColour();
  if (!isEmptyRect(v.scrollArea)) dc->fillRect(v.scrollArea, colour);
  if (!isEmptyRect(v.cornerArea)) dc->fillRect(v.cornerArea, colour);
  dc->restore();
}

}  // namespace

EditObject* itemEdit(const ViewItem& item) { return item.edit; }

bool findField(const ViewObject& v, uint16_t key, size_t& item, size_t& field) {
  for (size_t i = 0; i < v.items.size(); ++i)
    for (size_t f = 0; f < v.items[i].fields.size(); ++f)
      if (hasKey(v.items[i].fields[f], key)) {
        item = i;
        field = f;
        return true;
      }
  return false;
}

ViewExtent calcExtent(ViewObject& v, bool apply) {
  ViewExtent x;
  recomputeOrigin(v);
  const ViewItem* first = nullptr;
  for (size_t i = 0; i < v.items.size(); ++i) {
    if (isTempItem(v, i) || !v.items[i].edit) continue;
    const ViewItem& item = v.items[i];
    const EditObject* e = item.edit;
    if (!first) first = &item;
    if (!(e->createFlags & (kNotCounted | EDIT_CREATE_FOLLOW_WIDTH)))
      x.contentWidth = std::max(x.contentWidth, (item.column + e->ux) * e->cw);
    if (!(e->createFlags & (kNotCounted | EDIT_CREATE_FOLLOW_HEIGHT)))
      x.contentHeight = std::max(x.contentHeight, (item.row + e->uy) * e->ch);
  }
  const int32_t font = edit::cellFontHeight();
  if (v.virtualColumns) {
    x.unitX = font / 2 + v.cellGap;
    x.contentWidth = x.unitX * static_cast<int32_t>(v.virtualColumns);
  } else {
    x.unitX = first && (first->edit->createFlags & EDIT_CREATE_HSCROLL_CELLS) ? first->edit->cw : 16;
  }
  if (v.virtualRows) {
    x.unitY = font + v.rowGap;
    const ViewItem* list = virtualListItem(v);
    const int64_t rows = listRecords(v) + (list ? list->firstRecordRow : 0) + ((v.style & kStyleAppendRow) ? 1 : 0);
    x.contentHeight = static_cast<int32_t>(std::min<int64_t>(rows * x.unitY, 0x7FFFFFFF));
  } else {
    x.unitY = first && (first->edit->createFlags & EDIT_CREATE_VSCROLL_CELLS) ? first->edit->ch : 16;
  }
  x.unitX = std::max(1, x.unitX);
  x.unitY = std::max(1, x.unitY);

  const ui::Rect client = v.window ? ui::clientRect(v.window) : ui::Rect{};
  const int32_t width = client.width(), height = client.height();
  x.horizontalBar = x.contentWidth > width || v.recordBar != nullptr;
  x.verticalBar = x.contentHeight > height - (x.horizontalBar ? kBar : 0);
  if (x.verticalBar && !x.horizontalBar) x.horizontalBar = x.contentWidth > width - kBar;
  const int32_t areaWidth = width - (x.verticalBar ? kBar : 0);
  const int32_t areaHeight = height - (x.horizontalBar ? kBar : 0);
  // No empty space opens at the end.
  v.scrollX = std::clamp(v.scrollX, 0, std::max(0, x.contentWidth - areaWidth));
  if (v.virtualRows) {
    if (!x.verticalBar) v.topRecord = -1;
    v.scrollY = x.verticalBar ? x.unitY * std::max(v.topRecord, 0) : 0;
  } else {
    v.scrollY = std::clamp(v.scrollY, 0, std::max(0, x.contentHeight - areaHeight));
  }
  v.cellWidth = static_cast<uint16_t>(x.unitX);
  v.rowHeight = static_cast<uint16_t>(x.unitY);
  if (apply) fitItems(v, areaWidth, areaHeight);
  return x;
}

int32_t layoutView(ViewObject& v) {
  if (!v.window) return -1;
  const ViewExtent x = calcExtent(v, true);
  const ui::Rect client = ui::clientRect(v.window);
  const int32_t width = client.width(), height = client.height();
  v.clientWidth = width;
  v.clientHeight = height;

  auto place = [&](HWND& bar, bool needed, const ui::Rect& rect, bool vertical) {
    if (!needed) {
      if (bar) {
        ui::invalidateRect(v.window, ui::windowRect(bar));
        ui::destroyWindow(bar);
        bar = nullptr;
      }
      return;
    }
    if (!bar) bar = ui::createScrollBar(v.window, rect, vertical);
    else ui::moveWindow(bar, rect);
  };
  place(v.horizontalBar, x.horizontalBar,
        {v.recordBarWidth, height - kBar, width - (x.verticalBar ? kBar : 0), height}, false);
  place(v.verticalBar, x.verticalBar, {width - kBar, 0, width, height - (x.horizontalBar ? kBar : 0)}, true);

  // Ranges in whole steps; the offset follows what the bar accepted.
  auto range = [&](HWND bar, int32_t content, int32_t window, int32_t unit, int32_t step, int32_t& offset) {
    if (!bar) return;
    const int32_t perPosition = std::max(1, unit * step);
    ui::ScrollInfo info;
    info.minimum = 0;
    info.maximum = std::max(0, (content + perPosition - 1) / perPosition - 1);
    info.page = std::max(1, window / perPosition);
    info.position = offset / perPosition;
    ui::setScrollInfo(bar, info);
    ui::setScrollPosition(bar, info.position);
    ui::ScrollInfo accepted;
    if (ui::scrollInfo(bar, accepted)) offset = accepted.position * perPosition;
  };
  const int32_t areaWidth = width - (x.verticalBar ? kBar : 0);
  const int32_t areaHeight = height - (x.horizontalBar ? kBar : 0);
  range(v.horizontalBar, x.contentWidth, areaWidth, x.unitX, v.stepX, v.scrollX);
  range(v.verticalBar, x.contentHeight, areaHeight, x.unitY, v.stepY, v.scrollY);

  if (v.recordBar) {
    const int32_t barWidth = x.horizontalBar ? v.recordBarWidth : (x.verticalBar ? width - kBar : width);
    ui::moveWindow(v.recordBar, {0, height - kBar, barWidth, height});
  }
  const bool bottomStrip = x.horizontalBar || v.recordBar;
  v.scrollArea = {0, 0, areaWidth, height - (bottomStrip ? kBar : 0)};
  v.cornerArea = x.horizontalBar && x.verticalBar ? ui::Rect{width - kBar, height - kBar, width, height} : ui::Rect{};

  if (v.virtualRows) {
    const int32_t changed = listAdjustRows(v);
    if (changed < 0) return -1;
    if (changed > 0 && viewReloadRecords(v, v.currentRecord) < 0) return -1;
  }
  return 0;
}

int32_t listAdjustRows(ViewObject& v) {
  ViewItem* list = virtualListItem(v);
  if (!list || !list->edit) return 0;
  EditObject* e = list->edit;
  const int32_t unit = std::max(1, static_cast<int32_t>(v.rowHeight));
  const int32_t freeRows = std::max(0, v.scrollArea.height() / unit - list->row - list->firstRecordRow);
  const int64_t remaining =
      listRecords(v) - std::max(v.topRecord, 0) + ((v.style & kStyleAppendRow) ? 1 : 0);
  const int32_t viewport = std::max(0, e->allocatedRows - list->firstRecordRow);
  const int32_t rows = static_cast<int32_t>(std::max<int64_t>(0, std::min<int64_t>({freeRows, remaining, viewport})));
  if (rows == list->slotRows) return 0;
  return setListRows(v, *list, rows);
}

int32_t setListRows(ViewObject& v, ViewItem& list, int32_t rows) {
  EditObject* e = edit::checked(list.edit);
  if (!e) return -1;
  int32_t result = 1;
  const int32_t usedRows = list.firstRecordRow + rows;
  if (usedRows > e->uy) result = 2;
  e->uy = std::min(usedRows, e->allocatedRows);
  e->visibleRows = e->uy;
  list.visibleRows = static_cast<uint16_t>(e->uy);
  // Each stored field draws and boxes the new rows.
  for (ViewFieldLayout& field : list.fields)
    if (!(field.offset & kNotStored)) field.lines = std::max<uint16_t>(field.lines, static_cast<uint16_t>(rows));
  for (size_t f = 0; f < list.fields.size() && f < e->boxes.size(); ++f) {
    const ViewFieldLayout& field = list.fields[f];
    if (field.offset & kNotStored) continue;
    const bool noIds = field.ids[0] == 0 && field.ids[1] == 0 && field.ids[2] == 0;
    if (EditSetAtrEx(e, field.column, list.firstRecordRow, field.width, std::max(rows, 1),
                     kListColumnFrame | (noIds ? EDIT_LOCK_CARET : 0u), static_cast<int32_t>(f)) < 0)
      return -1;
  }
  if (list.currentRowBox >= 0 && static_cast<size_t>(list.currentRowBox) < e->boxes.size()) {
    const EditBox box = e->boxes[static_cast<size_t>(list.currentRowBox)];
    if (EditSetAtrEx(e, box.x, box.y, box.width, box.height, 0x71100000u, list.currentRowBox) < 0) return -1;
  }
  list.slotRows = rows;
  if (list.slot && v.project && FileProjBufSetRows(v.project, list.slot, rows) < 0) return -1;
  edit::layout(e);
  edit::invalidateVisible(e);
  return result;
}

bool itemWindowMessage(ViewObject& v, uint32_t message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  result = 0;
  switch (message) {
    case ui::kWmSize:
      layoutView(v);
      ui::invalidateWindow(v.window);
      return true;
    case ui::kWmHScroll:
    case ui::kWmVScroll: {
      const bool horizontal = message == ui::kWmHScroll;
      HWND from = reinterpret_cast<HWND>(lParam);
      if (!from || from != (horizontal ? v.horizontalBar : v.verticalBar)) return false;
      scrollBy(v, horizontal, static_cast<uint32_t>(wParam));
      return true;
    }
    case ui::kWmMouseWheel: {
      const uint32_t keys = ui::lowWord(wParam);
      const int16_t delta = static_cast<int16_t>(ui::highWord(wParam));
      if (!v.verticalBar || delta == 0 || (keys & (ui::kMkShift | ui::kMkControl))) return false;
      scrollBy(v, false, delta > 0 ? 0 : 1);
      result = 1;
      return true;
    }
    case ui::kWmPaint:
      paintItems(v);
      return true;
    case ui::kWmEraseBkgnd:
      eraseBackground(v);
      result = 1;
      return true;
    default:
      return false;
  }
}

EditHandle createItem(ViewObject& v, uint32_t editFlags, int32_t bufferColumns, int32_t bufferRows, int32_t column,
                      int32_t row, int32_t visibleColumns, int32_t visibleRows, uint32_t attribute,
                      EditHandle parent) {
  if (v.items.size() >= kMaxItems) return nullptr;
  const ViewExtent before = calcExtent(v, false);
  if (editFlags & EDIT_CREATE_FOLLOW_WIDTH) bufferColumns = std::max(bufferColumns, 256);
  if (editFlags & EDIT_CREATE_FOLLOW_HEIGHT) bufferRows = std::max(bufferRows, 64);
  EditHandle e = EditCreate(editFlags, column, row, visibleColumns, visibleRows, bufferColumns, bufferRows, v.window,
                            attribute);
  if (!e) return nullptr;
  const bool ok = parent ? EditSetParent(e, parent) == 0
                         : ((v.cellGap == 0 && v.rowGap == 0) || EditSetViewGap(e, v.cellGap, v.rowGap) == 0);
  if (!ok) {
    EditDelete(e);
    return nullptr;
  }
  ViewItem item;
  item.bufferColumns = static_cast<uint16_t>(bufferColumns);
  item.bufferRows = static_cast<uint16_t>(bufferRows);
  item.column = static_cast<uint16_t>(column);
  item.row = static_cast<uint16_t>(row);
  item.visibleColumns = static_cast<uint16_t>(visibleColumns);
  item.visibleRows = static_cast<uint16_t>(visibleRows);
  item.edit = e;
  item.createFlags = editFlags;
  v.items.push_back(std::move(item));
  // The staging buffers carry the cells prepared for the item; an item made
  // before anything was prepared starts blank.
  const size_t cells = static_cast<size_t>(bufferColumns) * static_cast<size_t>(bufferRows);
  if (v.stagingText.size() < cells || v.stagingColour.size() < cells) {
    v.stagingText.assign(cells, ' ');
    v.stagingColour.assign(cells, static_cast<uint8_t>(EDIT_ATR_NORMAL));
  }
  if (EditSetBuf(e, bufferColumns, bufferRows, v.stagingText.c_str(), v.stagingColour.data()) != 0) {
    v.items.pop_back();
    EditDelete(e);
    return nullptr;
  }
  const ViewExtent after = calcExtent(v, false);
  if (after.contentWidth != before.contentWidth || after.contentHeight != before.contentHeight) {
    const ui::Rect client = ui::clientRect(v.window);
    for (ViewItem& other : v.items)
      if (other.edit) EditCallBackProc(other.edit, ui::kWmSize, 0, sizeParam(client.width(), client.height()));
    if (layoutView(v) < 0) {
      v.items.pop_back();
      EditDelete(e);
      calcExtent(v, false);
      return nullptr;
    }
  }
  ui::invalidateWindow(v.window);
  return e;
}

int32_t deleteItem(ViewObject& v, int32_t index, int32_t discard) {
  if (index < 0 || static_cast<size_t>(index) >= v.items.size()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return 0;
  }
  const size_t n = static_cast<size_t>(index);
  int32_t result = 1;
  const bool wasEditItem = isTempItem(v, n);
  if (wasEditItem && v.edit.lines > 0) {
    ViewItem& item = v.items[n];
    if (discard) {
      if (v.project && item.image && FileProjRbfSetAct(v.project, item.image, 0x10, 0) < 0) return -1;
    } else if (viewCommitEdit(v) < 0) {
      result = 0;
    }
  }
  ViewItem& item = v.items[n];
  if (item.edit && EditDelete(item.edit) != 0) return 0;
  item.edit = nullptr;
  if (item.slot && v.project && FileProjBufRemove(v.project, item.slot) != 0) result = 0;
  item.slot = 0;
  v.items.erase(v.items.begin() + static_cast<std::ptrdiff_t>(n));
  if (wasEditItem) {
    v.edit = ViewCurrentEdit{};
    setEditItem(v.handle, 0);
  } else {
    if (v.edit.tempItemPlusOne > n + 1) {
      --v.edit.tempItemPlusOne;
      setEditItem(v.handle, v.edit.tempItemPlusOne);
    }
    if (v.edit.tempItemPlusOne && v.edit.item > n) --v.edit.item;
  }
  calcExtent(v, false);
  ui::invalidateWindow(v.window);
  return result;
}

namespace {

// What an edit drawn in a view window reads of the view.
bool hostOf(HWND owner, EditObject* e, edit::HostView& host) {
  ViewObject* v = viewOfWindow(owner);
  if (!v) return false;
  host.client = ui::clientRect(owner);
  host.lockLeft = lockedWidth(*v);
  host.lockTop = lockedHeight(*v);
  host.verticalBar = v->verticalBar != nullptr;
  host.horizontalBar = v->horizontalBar != nullptr || v->recordBar != nullptr;
  host.scrollX = v->scrollX;
  host.scrollY = v->virtualRows ? 0 : v->scrollY;
  host.unitX = host.unitY = 1;
  for (size_t i = 0; i < v->items.size(); ++i) {
    if (v->items[i].edit != e) continue;
    host.editIsItem = true;
    host.itemRegion = v->scrollArea;
    host.laterItemEdits.clear();
    for (size_t j = i + 1; j < v->items.size(); ++j)
      if (v->items[j].edit) host.laterItemEdits.push_back(v->items[j].edit);
    break;
  }
  return true;
}

}  // namespace

void installEditHost() {
  static std::once_flag once;
  std::call_once(once, [] { edit::setHostLookup(hostOf); });
}

}  // namespace zemta::views

using namespace zemta::views;
namespace ui = platform::ui;

namespace {

ViewItem* checkedItem(ViewObject& v, int32_t item) {
  if (item < 0 || static_cast<size_t>(item) >= v.items.size()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return nullptr;
  }
  return &v.items[static_cast<size_t>(item)];
}

bool matches(const ViewFieldLayout& f, int32_t key) {
  const uint16_t k = static_cast<uint16_t>(key);
  return k != 0 && (f.ids[0] == k || f.ids[1] == k || f.ids[2] == k);
}

}  // namespace

ZEMTA_API EditHandle ViewGetEdit(ViewHandle view, int32_t item) {
  ViewObject* v = checkView(view);
  if (!v) return nullptr;
  ViewItem* i = checkedItem(*v, item);
  return i ? i->edit : nullptr;
}

ZEMTA_API int32_t ViewSetItemAtrGrp(ViewHandle view, int32_t key, int32_t colour) {
  ViewObject* v = checkView(view);
  if (!v) return -1;
  const uint8_t c = static_cast<uint8_t>(colour);
  for (ViewItem& item : v->items) {
    EditObject* e = item.edit;
    for (ViewFieldLayout& f : item.fields) {
      if (!matches(f, key) || f.colour == c) continue;
      f.colour = c;
      if (!e) continue;
      const int32_t lines = std::max<int32_t>(f.lines, 1);
      for (int32_t r = f.row; r < f.row + lines && r < e->allocatedRows; ++r)
        for (int32_t col = f.column; col < f.column + f.width && col < e->allocatedColumns; ++col)
          e->atr[e->index(col, r)] = c;
      zemta::edit::invalidateCells(e, f.column, f.row, f.width, lines);
    }
  }
  return 0;
}

// A field's box is the edit box of the same index: the binding adds one box
// per layout entry, in order.
ZEMTA_API int32_t ViewGetItemAtrExGrp(ViewHandle view, int32_t key) {
  ViewObject* v = checkView(view);
  if (!v) return -1;
  for (ViewItem& item : v->items)
    for (size_t f = 0; f < item.fields.size(); ++f) {
      if (!matches(item.fields[f], key)) continue;
      EditObject* e = zemta::edit::checked(item.edit);
      if (!e || f >= e->boxes.size()) return 0;
      return static_cast<int32_t>(e->boxes[f].flags);
    }
  return -1;
}

ZEMTA_API int32_t ViewSetItemAtrExGrp(ViewHandle view, int32_t key, uint32_t bits, int32_t on) {
  ViewObject* v = checkView(view);
  if (!v) return -1;
  for (ViewItem& item : v->items)
    for (size_t f = 0; f < item.fields.size(); ++f) {
      if (!matches(item.fields[f], key)) continue;
      EditObject* e = zemta::edit::checked(item.edit);
      if (!e || f >= e->boxes.size() || e->lock.empty()) return -1;
      EditBox& box = e->boxes[f];
      box.flags = on ? (box.flags | bits) : (box.flags & ~bits);
      for (int32_t r = box.y; r < box.y + box.height && r < e->allocatedRows; ++r)
        for (int32_t c = box.x; c < box.x + box.width && c < e->allocatedColumns; ++c)
          e->lock[e->index(c, r)] = static_cast<uint8_t>(box.flags & 0xFF);
      zemta::edit::invalidateBox(e, f, -1);
    }
  return 0;
}

ZEMTA_API int32_t ViewDeleteItemGrp(ViewHandle view, int32_t key) {
  ViewObject* v = checkView(view);
  if (!v) return -1;
  for (ViewItem& item : v->items)
    for (size_t f = item.fields.size(); f-- > 0;) {
      if (!matches(item.fields[f], key)) continue;
      if (EditDeleteBox(item.edit, static_cast<int32_t>(f)) < 0) return -1;
      item.fields.erase(item.fields.begin() + static_cast<std::ptrdiff_t>(f));
      if (f < item.changed.size()) item.changed.erase(item.changed.begin() + static_cast<std::ptrdiff_t>(f));
    }
  return 0;
}

ZEMTA_API int32_t ViewGetEditListIndex(ViewHandle view, int32_t* item, int32_t flag) {
  ViewObject* v = checkView(view);
  if (!v || !v->edit.tempItemPlusOne || v->edit.lines <= 1 || v->edit.item >= v->items.size()) return -1;
  if (!flag) {
    const ViewItem& edited = v->items[v->edit.item];
    const int32_t act = FileProjGetAct(v->project, v->handle, edited.table, v->edit.line);
    if (act < 0 || (act & 0x24) != 0x20) return -1;
  }
  if (item) *item = v->edit.item;
  return v->edit.line;
}

namespace {

int32_t changeListIndex(ViewHandle view, int32_t item, int32_t line, bool insert) {
  ViewObject* v = checkView(view);
  if (!v) return -1;
  ViewItem* i = checkedItem(*v, item);
  if (!i) return -1;
  if (i->fields.empty() || line < 0 || line >= i->fields[0].lines) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const int32_t table = i->table;
  if (v->edit.tempItemPlusOne && deleteItem(*v, v->edit.tempItemPlusOne - 1, 1) < 0) return -1;
  const int32_t r = insert ? FileProjRbfInsertIndex(v->project, v->handle, table, line)
                           : FileProjRbfDeleteIndex(v->project, v->handle, table, line);
  if (r < 0) return -1;
  if (viewRefreshChanged(*v) < 0) return -1;
  return r;
}

}  // namespace

ZEMTA_API int32_t ViewInsertListIndex(ViewHandle view, int32_t item, int32_t line) {
  return changeListIndex(view, item, line, true);
}

ZEMTA_API int32_t ViewDeleteListIndex(ViewHandle view, int32_t item, int32_t line) {
  return changeListIndex(view, item, line, false);
}

ZEMTA_API int32_t ViewSetScrollPos(ViewHandle view, int32_t bar, int32_t position) {
  ViewObject* v = checkView(view);
  if (!v) return -1;
  HWND control = bar == 0 ? v->horizontalBar : v->verticalBar;
  if (!control || position < 0 || position > 0x7FFF) return -1;
  const uint32_t message = bar == 0 ? ui::kWmHScroll : ui::kWmVScroll;
  const LPARAM from = reinterpret_cast<LPARAM>(control);
  viewWndProc(v->window, message, ui::makeWParam(4, static_cast<uint32_t>(position)), from);
  viewWndProc(v->window, message, 8, from);
  const int32_t unit = bar == 0 ? v->cellWidth : v->rowHeight;
  const int32_t step = bar == 0 ? v->stepX : v->stepY;
  return (bar == 0 ? v->scrollX : v->scrollY) / std::max(1, unit) / std::max(1, step);
}

ZEMTA_API int32_t ViewSetScrollVirtual(ViewHandle view, int32_t bar, int32_t count) {
  ViewObject* v = checkView(view);
  if (!v || count == -1) return -1;
  const uint32_t n = static_cast<uint32_t>(count);
  // Positions stay at or below 0x7FFF.
  const uint16_t step = static_cast<uint16_t>(((n + 1) >> 15) + 1);
  if (bar == 0) {
    v->stepX = step;
    v->virtualColumns = n + 1;
  } else {
    v->stepY = step;
    v->virtualRows = n + ((v->style & kStyleAppendRow) ? 2 : 1);
  }
  return layoutView(*v) < 0 ? -1 : 0;
}

ZEMTA_API int32_t ViewGetScrollStep(HWND viewWindow, int32_t bar) {
  ViewObject* v = viewOfWindow(viewWindow);
  if (!v) return 1;
  return bar == 0 ? v->stepX : v->stepY;
}

ZEMTA_API int32_t ViewGetScrollPos(HWND viewWindow, int32_t bar) {
  ViewObject* v = viewOfWindow(viewWindow);
  if (!v) return 0;
  const int32_t step = std::max<int32_t>(1, bar == 0 ? v->stepX : v->stepY);
  return (bar == 0 ? v->scrollX : v->scrollY) / step;
}

ZEMTA_API HWND ViewGetScrollBarCtrl(HWND viewWindow, int32_t bar) {
  ViewObject* v = viewOfWindow(viewWindow);
  if (!v) return nullptr;
  return bar == 0 ? v->horizontalBar : v->verticalBar;
}
