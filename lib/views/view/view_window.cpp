// The view window's own handling: focus, keys and mouse turned into record
// moves and cell edits. A cell edit is a temporary item laid over one field:
// a small edit control, child of the item's edit, holding the field's text.
// Ending it writes the text back into the record (or the item's cells) and
// runs the after-change rules, or drops it.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "lib/core/item_types.h"
#include "lib/core/little_endian.h"
#include "lib/core/report.h"
#include "lib/views/edit/edit_object.h"
#include "lib/views/view/view_bind.h"
#include "lib/views/view/view_file_internal.h"
#include "lib/views/view/view_object.h"
#include "lib/views/view/view_registry.h"
#include "platform/base/message_box.h"
#include "platform/ui/input.h"
#include "platform/ui/paint.h"
#include "platform/ui/window.h"
#include "zemta/errors.h"
#include "zemta/filebuf.h"
#include "zemta/fileproj.h"
#include "zemta/view.h"
#include "zemta/winhelp.h"

namespace ui = platform::ui;

namespace zemta::views {
namespace {

constexpr size_t kMaxFieldText = 4096;
constexpr const char* kLoseChangesOnClose = "閉じると変更が失われます。実行しますか？";
constexpr const char* kWarning = "警告";

uint16_t typeOf(const ViewFieldLayout& f) { return f.type & 0x3F; }
bool isSwitch(uint16_t t) { return t == 20 || t == 21; }
bool isChoice(uint16_t t) { return t == 32 || t == 34 || t == 35; }
bool isListType(uint16_t t) { return (t >= 16 && t <= 21) || isChoice(t); }
bool isDateTime(uint16_t t) { return t == 14 || t == 15 || t == 31; }
bool isPlainNumber(uint16_t t) { return (t >= 2 && t <= 13) || t == 28 || t == 29 || (t >= 46 && t <= 49); }

// The input flags of a cell edit by the field's type.
uint32_t cellInputFlags(const ViewFieldLayout& f) {
  const uint16_t t = typeOf(f);
  uint32_t flags;
  if (t == 1) {
    flags = 0x4000020;
  } else if ((f.type & 0x40) && (t <= 15 || t == 28 || t == 29 || (t >= 46 && t <= 49))) {
    flags = 0x4000002;
  } else if (isListType(t)) {
    flags = 0x44000000;
  } else if (t == 0) {
    const bool imeFull = f.displayFlags & 1, kana = f.displayFlags & 2;
    flags = 0;
    if (imeFull) flags |= 0x1000000;
    if (kana) flags |= imeFull ? 0x4000000 : 0x6000000;
  } else {
    flags = 0x4000000;
  }
  if (t == 4 || t == 14 || t == 15 || t == 31 || t == 36) flags |= 0x400;
  if (t == 7 || t == 28 || t == 29 || t == 46 || t == 47) flags |= 0x1000;
  if ((t >= 8 && t <= 12) || t == 48 || t == 49) flags |= 0x2000;
  if (f.type & ~0x7F) flags |= 4;
  if (t == 14 || t == 15 || t == 31) flags |= 0x10000000;
  return flags;
}

ViewItem* tempItem(ViewObject& v) {
  if (v.edit.tempItemPlusOne == 0 || v.edit.tempItemPlusOne > v.items.size()) return nullptr;
  return &v.items[v.edit.tempItemPlusOne - 1u];
}

EditObject* openEdit(ViewObject& v) {
  ViewItem* t = tempItem(v);
  return t ? edit::checked(t->edit) : nullptr;
}

bool itemEditable(const ViewItem& item) { return (item.flags & kItemReadOnly) == 0 && item.edit != nullptr; }

// The record image of an item's row: a record-buffer row's image through the
// set's visible entry for the line, else the item's own image.
uint8_t* rowImage(ViewObject& v, const ViewItem& item, int32_t line) {
  if (item.slot && item.slotRows > 0) {
    const int32_t position = std::clamp(line, 0, item.slotRows - 1);
    return static_cast<uint8_t*>(item.slot[position].image);
  }
  return item.image;
}

// The lines of a field's text: what its cells show, one string per line,
// trailing spaces cut.
std::vector<std::string> fieldLines(const ViewItem& item, const ViewFieldLayout& f, int32_t firstLine, int32_t lines) {
  std::vector<std::string> out;
  for (int32_t l = 0; l < lines; ++l) {
    std::string s = cellText(item, f, firstLine + l);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    out.push_back(s);
  }
  return out;
}

// Date and time texts get their separators where the cells leave them out.
std::string withSeparators(uint16_t t, std::string text, bool wide) {
  const bool time = t == 15;
  if (!wide && text.size() > 7) {
    text[text.size() - 6] = time ? ':' : '/';
    text[text.size() - 3] = time ? ':' : '/';
  } else if (wide && text.size() > 15) {
    const char* sep = time ? "\x81\x46" : "\x81\x5E";
    text.replace(text.size() - 12, 2, sep);
    text.replace(text.size() - 6, 2, sep);
  }
  return text;
}

// The text of width x rows cells as an edit loads it: rows padded with
// spaces to the full width, back to back (a line break after a full row
// would make an empty row of its own).
std::string cellsOf(const std::vector<std::string>& lines, int32_t width, int32_t rows) {
  std::string cells;
  for (int32_t r = 0; r < rows; ++r) {
    std::string s = static_cast<size_t>(r) < lines.size() ? lines[static_cast<size_t>(r)] : std::string();
    s.resize(static_cast<size_t>(width), ' ');
    cells += s;
  }
  return cells;
}

// Tells the caller's window that a field not kept in the record changed (the
// event code 6 of the project's notifications). False when the window
// answered -1.
bool notifyFieldChanged(ViewObject& v, size_t itemNo, size_t fieldNo, int32_t line) {
  if (!v.caller || g_nMsgRefExt == 0) return true;
  const ViewItem& item = v.items[itemNo];
  const ViewFieldLayout& f = item.fields[fieldNo];
  std::vector<uint8_t> block(FILEBUF_NOTIFY_BLOCK_LEN + 16, 0);
  put_u32le(block.data(), v.handle);
  put_u16le(block.data() + 4, static_cast<uint16_t>(itemNo));
  put_u32le(block.data() + 24, static_cast<uint32_t>(item.table));
  put_u32le(block.data() + 48, f.ids[0]);
  put_u16le(block.data() + 52, f.offset);
  put_u16le(block.data() + 54, f.size);
  put_u16le(block.data() + 58, typeOf(f));
  put_u16le(block.data() + 4166, static_cast<uint16_t>(fieldNo));
  put_u16le(block.data() + 4170, static_cast<uint16_t>(line));
  const LRESULT answer = ui::sendMessage(v.caller, g_nMsgRefExt, FILEBUF_EVENT_REFERENCE,
                                         reinterpret_cast<LPARAM>(block.data()));
  return answer != -1;
}

// Redraws the fields whose record bytes overlap the edited one.
void redrawOverlapping(ViewObject& v, const ViewFieldLayout& edited) {
  for (ViewItem& item : v.items)
    if (item.edit) edit::invalidateVisible(edit::checked(item.edit));
  (void)edited;
}

// Moves both scroll positions by the least amount that shows the edit's
// cells in the scrolling area (a list of records scrolls by its records).
void scrollEditIntoView(ViewObject& v, const EditObject& e) {
  const int32_t cw = std::max(e.cw, 1), ch = std::max(e.ch, 1);
  auto scroll = [&](int32_t bar, int32_t from, int32_t to, int32_t offset, int32_t room, int32_t perPosition) {
    if (perPosition <= 0 || room <= 0) return;
    int32_t wanted = offset;
    if (to > offset + room) wanted = to - room;
    if (from < wanted) wanted = from;
    if (wanted == offset) return;
    const int32_t position = wanted > offset ? (wanted + perPosition - 1) / perPosition : wanted / perPosition;
    ViewSetScrollPos(v.handle, bar, std::clamp(position, 0, 0x7FFF));
  };
  const int32_t left = e.homeX * cw, top = e.homeY * ch;
  if (v.horizontalBar)
    scroll(0, left, left + e.visibleColumns * cw, v.scrollX, v.scrollArea.width(), v.cellWidth * std::max<int32_t>(v.stepX, 1));
  if (v.verticalBar && !v.virtualRows)
    scroll(1, top, top + e.visibleRows * ch, v.scrollY, v.scrollArea.height(), v.rowHeight * std::max<int32_t>(v.stepY, 1));
}

}  // namespace

int32_t beginCellEdit(ViewObject& v, int32_t itemNo, int32_t fieldNo, int32_t line) {
  if (itemNo < 0 || static_cast<size_t>(itemNo) >= v.items.size()) return 0;
  if (v.edit.tempItemPlusOne && static_cast<size_t>(itemNo) == v.edit.tempItemPlusOne - 1u) return 0;
  ViewItem& item = v.items[static_cast<size_t>(itemNo)];
  if (!itemEditable(item) || fieldNo < 0 || static_cast<size_t>(fieldNo) >= item.fields.size()) return 0;
  const ViewFieldLayout f = item.fields[static_cast<size_t>(fieldNo)];
  EditObject* parent = edit::checked(item.edit);
  if (!parent) return 0;
  if (f.lines > 0 && f.column < parent->allocatedColumns) {
    const int32_t r = f.row + (f.repeats ? std::min<int32_t>(line, f.lines - 1) : 0);
    if (r < parent->allocatedRows && (parent->lockAt(f.column, r) & EDIT_LOCK_CARET)) return 0;
  }
  const uint16_t t = typeOf(f);
  const bool repeats = f.repeats != 0;
  if (repeats) line = std::clamp<int32_t>(line, 0, std::max<int32_t>(f.lines - 1, 0));
  else line = 0;
  int32_t width = std::max<int32_t>(f.width, 1);
  int32_t lines = repeats ? 1 : std::max<int32_t>(f.lines, 1);
  if (!repeats && t == 0 && f.lines > 1 && width > 0) lines = std::max<int32_t>(lines, (f.size + width - 1) / width);
  // The text the field shows now.
  std::vector<std::string> text = fieldLines(item, f, repeats ? line : 0, lines);
  const bool wide = (cellInputFlags(f) & 4) != 0;
  if (isDateTime(t) && !text.empty()) text[0] = withSeparators(t, text[0], wide);
  // Switches and choices: a list of their choices, the current one chosen,
  // showing one row over the field with the list's bar beside it.
  int32_t selected = -1, shownLines = lines;
  if (isSwitch(t)) {
    const std::string now = text.empty() ? std::string() : text[0];
    selected = now.find("ON") != std::string::npos || now.find("ＯＮ") != std::string::npos ? 0 : 1;
    text = wide ? std::vector<std::string>{" ＯＮ", "ＯＦＦ"} : std::vector<std::string>{"ON", "OFF"};
    width += 2;
    lines = 2;
  } else if (isChoice(t)) {
    const std::string now = text.empty() ? std::string() : text[0];
    text = fieldChoices(item, f);
    if (text.empty()) return 0;  // a choice field without its list cannot be edited
    auto trimmed = [](std::string s) {
      while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
      return s;
    };
    selected = 0;
    for (size_t k = 0; k < text.size(); ++k)
      if (trimmed(text[k]) == trimmed(now)) selected = static_cast<int32_t>(k);
    width += 2;
    lines = static_cast<int32_t>(text.size());
  } else if (isListType(t)) {
    width += 2;
    lines = std::max<int32_t>(lines, 1) + 1;
  }
  if (isListType(t)) shownLines = 1;
  const int32_t column = item.column + f.column;
  const int32_t row = item.row + f.row + (repeats ? line : 0);
  const std::string cells = cellsOf(text, width, lines);
  const uint8_t colour = f.colour ? f.colour : static_cast<uint8_t>(EDIT_ATR_NORMAL);
  v.stagingText = cells;
  v.stagingColour.assign(cells.size(), colour);
  const uint32_t editFlags = isListType(t) ? 0x10003u : 3u;
  // The item's edit is the parent; the new edit's cells lie over the field's.
  EditHandle e = createItem(v, editFlags, width, lines, column, row, width, shownLines, cellInputFlags(f), item.edit);
  if (!e) return 0;
  const size_t temp = v.items.size() - 1;
  if (EditSetBuf(e, width, lines, cells.c_str(), v.stagingColour.data()) != 0) {
    deleteItem(v, static_cast<int32_t>(temp), 1);
    return 0;
  }
  // The field's frame: one drawn inside the cells (or moved by a gap) would
  // be covered by the edit laid over them, so the edit draws it itself.
  const int32_t fieldRow = f.row + (repeats ? line : 0);
  for (const EditBox& box : parent->boxes) {
    if (f.column < box.x || f.column >= box.x + box.width || fieldRow < box.y || fieldRow >= box.y + box.height)
      continue;
    if (!(box.flags & EDIT_BOX_OUTSIDE) || v.cellGap || v.rowGap)
      EditSetAtrEx(e, 0, 0, width, lines, (box.flags & ~0xFFu) | EDIT_BOX_FLOATING, -1);
    break;
  }
  v.edit.tempItemPlusOne = static_cast<uint16_t>(temp + 1);
  v.edit.item = static_cast<uint16_t>(itemNo);
  v.edit.field = static_cast<uint16_t>(fieldNo);
  v.edit.line = static_cast<uint16_t>(line);
  v.edit.lines = static_cast<uint16_t>(repeats ? f.lines : 1);
  v.edit.record = v.topRecord;
  setEditItem(v.handle, v.edit.tempItemPlusOne);
  // The caret at the end of the last line's text, or on the current choice.
  // A number stands right-aligned and takes its digits at its right end: the
  // caret stands after its last cell, where they come in.
  if (EditObject* eo = edit::checked(e)) {
    if (selected >= 0) {
      // The chosen row is the list's first visible one.
      eo->fy = selected;
      edit::layout(eo);
      edit::EditMoveCaret(eo, 0, selected, false);
    } else if (eo->isNumeric()) {
      edit::EditMoveCaret(eo, width, 0, false);
    } else {
      const int32_t last = std::max<int32_t>(static_cast<int32_t>(text.size()) - 1, 0);
      const int32_t end = text.empty() ? 0 : static_cast<int32_t>(text[static_cast<size_t>(last)].size());
      edit::EditMoveCaret(eo, std::min(end, width - 1), std::min(last, lines - 1), false);
    }
    eo->modified = false;
  }
  // A field kept in a record-buffer row: the row is being edited.
  ViewItem& edited = v.items[static_cast<size_t>(itemNo)];
  ViewItem& tmp = v.items[temp];
  if (v.project && !(f.offset & kNotStored)) {
    if (uint8_t* image = rowImage(v, edited, line)) {
      tmp.image = image + f.offset;
      tmp.imageLength = static_cast<int16_t>(f.size);
      if (edited.slot) FileProjRbfSetAct(v.project, tmp.image, FILEBUF_ROW_PENDING, 1);
    }
  }
  scrollEditIntoView(v, *edit::checked(e));
  // Focus: the view window keeps it, the new edit shows the caret.
  if (ui::focusWindow() != v.window) ui::setFocus(v.window);
  for (size_t i = 0; i < v.items.size(); ++i)
    if (i != temp && v.items[i].edit) EditCallBackProc(v.items[i].edit, ui::kWmKillFocus, 0, 0);
  EditCallBackProc(e, ui::kWmSetFocus, 0, 0);
  return 1;
}

int32_t viewCommitEdit(ViewObject& v) {
  ViewItem* t = tempItem(v);
  if (!t || v.edit.item >= v.items.size()) return -1;
  EditObject* e = edit::checked(t->edit);
  if (!e) return -1;
  ViewItem& item = v.items[v.edit.item];
  if (v.edit.field >= item.fields.size()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const ViewFieldLayout f = item.fields[v.edit.field];
  const uint16_t type = typeOf(f);
  // The text: a choice is the row the caret stands on; otherwise the lines.
  std::string text;
  if (isSwitch(type)) {
    text = std::min(e->fy, e->caretRow) == 0 ? "ON" : "OFF";
  } else if (isChoice(type)) {
    const int32_t chosen = std::clamp(e->fy, 0, std::max(e->uy - 1, 0));
    text.assign(e->row(chosen), static_cast<size_t>(std::max(e->ux - 2, 0)));
  } else {
    for (int32_t r = 0; r < e->uy && r < e->allocatedRows; ++r) {
      std::string line(e->row(r), static_cast<size_t>(e->allocatedColumns));
      while (!line.empty() && (line.back() == ' ' || line.back() == '\0')) line.pop_back();
      if (r) text += "\r\n";
      text += line;
    }
    while (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) text.resize(text.size() - 2);
    while (!text.empty() && text.front() == ' ' && type != 0) text.erase(text.begin());
  }
  // A number of 0 shows blank: a blank number cell stores that 0 again.
  if (text.empty() && isPlainNumber(type)) text = "0";
  if (text.size() >= kMaxFieldText) {
    ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
    return -1;
  }
  const int32_t line = v.edit.line;
  uint8_t* address = t->image;
  if (address && v.project) {
    // A field kept in a record-buffer row: through the field's conversion
    // (a choice through its list).
    uint8_t* const record = address - (f.offset & 0x7FFF);
    const uint16_t recordLength = static_cast<uint16_t>((f.offset & 0x7FFF) + f.size);
    int32_t changed = isChoice(type) ? storeFieldText(item, f, record, recordLength, text.c_str())
                                     : ItemStrToData(type, f.detail, f.size, address, text.c_str());
    FileProjRbfSetAct(v.project, address, FILEBUF_ROW_PENDING, 0);
    if (changed < 0) return -1;
    if (changed > 0) {
      if (v.edit.field < item.changed.size()) item.changed[v.edit.field] |= 4;
      if (viewAfterChange(v, address) < 0) return -1;
    }
    const std::string shown = isChoice(type) ? fieldText(item, f, record, recordLength, 0, true)
                                             : fieldText(type, f.detail, f.size, address, f.width);
    putCellText(edit::checked(item.edit), f, f.repeats ? line : 0, shown.c_str(), static_cast<int32_t>(shown.size()));
    redrawOverlapping(v, f);
    return changed > 0 ? 1 : 0;
  }
  // A field of the item's own cells (not kept in a record).
  const std::string before = cellText(item, f, f.repeats ? line : 0);
  if (!putCellText(edit::checked(item.edit), f, f.repeats ? line : 0, text.c_str(), static_cast<int32_t>(text.size())))
    return -1;
  const bool changed = cellText(item, f, f.repeats ? line : 0) != before;
  if (changed) {
    if (item.changed.size() < item.fields.size()) item.changed.resize(item.fields.size(), 0);
    item.changed[v.edit.field] |= 4;
    if (v.project && !notifyFieldChanged(v, v.edit.item, v.edit.field, line)) return -1;
  }
  redrawOverlapping(v, f);
  return changed ? 1 : 0;
}

namespace {

// Ends the open edit: written back, or dropped. False when writing failed.
bool endEdit(ViewObject& v, bool discard) {
  if (v.edit.tempItemPlusOne == 0) return true;
  return deleteItem(v, v.edit.tempItemPlusOne - 1, discard ? 1 : 0) > 0;
}

// The field a key leads to from the field's layout, passing over fields the
// caret may not stand on.
bool navTarget(const ViewObject& v, uint16_t id, uint32_t key, size_t& item, size_t& field) {
  for (int guard = 0; guard < 128 && id != 0; ++guard) {
    if (!findField(v, id, item, field)) return false;
    const ViewItem& it = v.items[item];
    const ViewFieldLayout& f = it.fields[field];
    EditObject* e = edit::checked(it.edit);
    const bool skip = e && f.column < e->allocatedColumns && f.row < e->allocatedRows &&
                      (e->lockAt(f.column, f.row) & EDIT_LOCK_CARET);
    if (!skip) return true;
    switch (key) {
      case ui::kVkUp: id = f.up; break;
      case ui::kVkDown: id = f.down; break;
      case ui::kVkLeft: id = f.left; break;
      case ui::kVkRight: id = f.right; break;
      case ui::kVkReturn: id = f.enter; break;
      default: return false;
    }
  }
  return false;
}

// The next field in Tab order (the previous with back), wrapping round;
// fields without ids and those of read-only items are left out.
bool tabTarget(const ViewObject& v, size_t fromItem, size_t fromField, bool back, size_t& item, size_t& field) {
  struct Stop {
    uint16_t order;
    size_t item, field;
  };
  std::vector<Stop> stops;
  for (size_t i = 0; i < v.items.size(); ++i) {
    if (v.edit.tempItemPlusOne && i == v.edit.tempItemPlusOne - 1u) continue;
    if (!itemEditable(v.items[i])) continue;
    for (size_t k = 0; k < v.items[i].fields.size(); ++k) {
      const ViewFieldLayout& f = v.items[i].fields[k];
      if (f.tabOrder != 0 && (f.ids[0] || f.ids[1] || f.ids[2])) stops.push_back({f.tabOrder, i, k});
    }
  }
  if (stops.empty()) return false;
  std::stable_sort(stops.begin(), stops.end(), [](const Stop& a, const Stop& b) { return a.order < b.order; });
  size_t at = stops.size();
  for (size_t s = 0; s < stops.size(); ++s)
    if (stops[s].item == fromItem && stops[s].field == fromField) at = s;
  size_t next;
  if (at == stops.size()) next = back ? stops.size() - 1 : 0;
  else next = back ? (at + stops.size() - 1) % stops.size() : (at + 1) % stops.size();
  item = stops[next].item;
  field = stops[next].field;
  return true;
}

// Moves the view to a record and reloads its rows.
void moveToRecord(ViewObject& v, int32_t record) {
  const int32_t count = positionCount(v) + ((v.style & kStyleAppendRow) ? 1 : 0);
  record = std::clamp(record, 0, std::max(count - 1, 0));
  v.currentRecord = record;
  viewReloadRecords(v, record);
}

// The record step of a key: ends the edit, moves the record when the line
// leaves the loaded rows, opens the edit at the target.
void stepTo(ViewObject& v, size_t item, size_t field, int32_t line, bool discard) {
  const ViewFieldLayout& target = v.items[item].fields[field];
  const int32_t loaded = target.repeats ? std::max<int32_t>(target.lines, 1) : 1;
  if (!endEdit(v, discard)) return;
  if (target.repeats && (line < 0 || line >= loaded)) {
    const int32_t base = std::max(v.topRecord, 0);
    moveToRecord(v, base + line);
    line = std::clamp(line, 0, loaded - 1);
  } else if (target.repeats && v.virtualRows) {
    v.currentRecord = std::max(v.topRecord, 0) + line;
  }
  beginCellEdit(v, static_cast<int32_t>(item), static_cast<int32_t>(field), line);
}

// Keys while a cell edit is open.
bool editKey(ViewObject& v, uint32_t key) {
  if (key == ui::kVkShift) {
    v.shift = true;
    return true;
  }
  if (v.edit.item >= v.items.size()) return false;
  const size_t fromItem = v.edit.item, fromField = v.edit.field;
  const ViewFieldLayout f = v.items[fromItem].fields[fromField];
  const int32_t line = v.edit.line;
  const bool lined = f.repeats != 0 || f.lines > 1;
  size_t item = fromItem, field = fromField;
  int32_t toLine = line;
  bool found = false;
  switch (key) {
    case ui::kVkTab:
      found = tabTarget(v, fromItem, fromField, v.shift, item, field);
      break;
    case ui::kVkReturn:
      found = navTarget(v, f.enter, key, item, field);
      if (!found && f.repeats) {
        item = fromItem, field = fromField, toLine = line + 1, found = true;
      }
      break;
    case ui::kVkEscape:
      found = true;
      break;
    case ui::kVkLeft:
      found = navTarget(v, f.left, key, item, field);
      break;
    case ui::kVkRight:
      found = navTarget(v, f.right, key, item, field);
      break;
    case ui::kVkUp:
      found = navTarget(v, f.up, key, item, field);
      if (!found && lined && (line > 0 || v.topRecord > 0)) item = fromItem, field = fromField, toLine = line - 1, found = true;
      break;
    case ui::kVkDown:
      found = line == 0 && navTarget(v, f.down, key, item, field);
      if (!found && lined) item = fromItem, field = fromField, toLine = line + 1, found = true;
      break;
    default:
      return false;
  }
  if (!found) return false;
  if (!(item == fromItem && field == fromField) && key != ui::kVkReturn && key != ui::kVkDown && key != ui::kVkUp)
    toLine = 0;
  const ViewFieldLayout& target = v.items[item].fields[field];
  if (!(item == fromItem && field == fromField) && !(target.repeats && line < target.lines)) toLine = 0;
  else if (!(item == fromItem && field == fromField)) toLine = line;
  // Past the last record (and its append row) a list goes no further.
  if (target.repeats) {
    const int32_t total = positionCount(v) + ((v.style & kStyleAppendRow) ? 1 : 0);
    const int32_t record = std::max(v.topRecord, 0) + toLine;
    if (record >= total || record < 0) return true;
  }
  stepTo(v, item, field, toLine, key == ui::kVkEscape);
  return true;
}

// Keys of a bound list without a cell edit.
bool listKey(ViewObject& v, uint32_t key) {
  if (!v.project || !v.mainTable) return false;
  const int32_t total = positionCount(v) + ((v.style & kStyleAppendRow) ? 1 : 0);
  const int32_t a = std::max(v.currentRecord, 0);
  int32_t visible = 1;
  for (const ViewItem& item : v.items)
    if ((item.flags & kItemVirtualList) == kItemVirtualList) visible = std::max<int32_t>(item.visibleRows - item.firstRecordRow, 1);
  int32_t to = a;
  switch (key) {
    case ui::kVkReturn:
      if (v.host) ui::postMessage(v.host, ui::kWmClose, 0, 0);
      return true;
    case ui::kVkPrior:
      if (std::max(v.topRecord, 0) == 0) return true;
      to = a >= visible ? a - visible : a;
      break;
    case ui::kVkNext:
      if (total - std::max(v.topRecord, 0) <= visible) return true;
      to = a + visible < total ? a + visible : a;
      break;
    case ui::kVkEnd: to = total - 1; break;
    case ui::kVkHome: to = 0; break;
    case ui::kVkUp:
      if (a == 0) return true;
      to = a - 1;
      break;
    case ui::kVkDown:
      if (a + 1 >= total) return true;
      to = a + 1;
      break;
    default:
      return false;
  }
  moveToRecord(v, to);
  return true;
}

// The field box under a point of the view window: item and field, and the
// line of a repeating field.
bool fieldAt(ViewObject& v, int32_t x, int32_t y, size_t& item, size_t& field, int32_t& line) {
  for (size_t i = 0; i < v.items.size(); ++i) {
    if (v.edit.tempItemPlusOne && i == v.edit.tempItemPlusOne - 1u) continue;
    EditObject* e = edit::checked(v.items[i].edit);
    if (!e) continue;
    const int32_t point[2] = {x, y};
    int32_t cell[2] = {0, 0};
    const int32_t box = EditGetPtInBox(e, point, EDIT_LOCK_CARET, cell) - 1;
    if (box < 0 || static_cast<size_t>(box) >= v.items[i].fields.size()) continue;
    item = i;
    field = static_cast<size_t>(box);
    line = v.items[i].fields[field].repeats ? cell[1] : 0;
    return true;
  }
  return false;
}

LRESULT closeMessage(ViewObject& v) {
  return viewCloseQuery(v) != 0 ? 1 : ui::defaultWindowProc(v.window, ui::kWmClose, 0, 0);
}

}  // namespace

int32_t viewCloseQuery(ViewObject& v) {
  if (!v.project) return 0;
  if (!endEdit(v, false)) return 0;
  if (!viewIsModified(v, false)) return 0;
  const int answer = UnlockedMessageBox(v.window, kLoseChangesOnClose, kWarning,
                                        platform::kMbOkCancel | platform::kMbIconWarning | platform::kMbDefButton2);
  return answer == platform::kIdOk ? 0 : 1;
}

int32_t viewStartEdit(ViewObject& v, int32_t item, int32_t field, int32_t character, int32_t row) {
  if (!endEdit(v, false)) return -1;
  if (!beginCellEdit(v, item, field, row)) return -1;
  // The caret at the character of the row asked for (a field of several
  // lines keeps its lines in one edit).
  if (EditObject* e = openEdit(v)) {
    const int32_t line = v.items[static_cast<size_t>(item)].fields[static_cast<size_t>(field)].repeats ? 0 : row;
    edit::EditMoveCaret(e, std::clamp(character, 0, std::max(e->allocatedColumns - 1, 0)),
                        std::clamp(line, 0, std::max(e->allocatedRows - 1, 0)), false);
  }
  return 0;
}

int32_t viewEnterText(ViewObject& v, int32_t item, int32_t field, int32_t row, const char* text, int32_t length) {
  if (!endEdit(v, false)) return -1;
  ViewItem& it = v.items[static_cast<size_t>(item)];
  const ViewFieldLayout& f = it.fields[static_cast<size_t>(field)];
  const std::string before = cellText(it, f, row);
  if (!beginCellEdit(v, item, field, row)) {
    // A field the user cannot edit still shows what the program puts there.
    if (!putCellText(edit::checked(it.edit), f, row, text, length)) return -1;
    return cellText(it, f, row) == before ? 0 : 1;
  }
  ViewItem* t = tempItem(v);
  EditObject* e = t ? edit::checked(t->edit) : nullptr;
  if (!e) return -1;
  std::string typed(text, static_cast<size_t>(std::max(length, 0)));
  if (const size_t nul = typed.find('\0'); nul != std::string::npos) typed.resize(nul);
  const std::string cells = cellsOf({typed}, e->allocatedColumns, e->allocatedRows);
  EditSetBuf(t->edit, e->allocatedColumns, e->allocatedRows, cells.c_str(), nullptr);
  e->modified = true;
  const int32_t committed = viewCommitEdit(v);
  deleteItem(v, v.edit.tempItemPlusOne - 1, 1);
  if (committed < 0) return -1;
  return cellText(v.items[static_cast<size_t>(item)], v.items[static_cast<size_t>(item)].fields[static_cast<size_t>(field)], row) == before ? 0 : 1;
}

LRESULT viewItemsMessage(ViewObject& v, uint32_t message, WPARAM wParam, LPARAM lParam) {
  // Shift held during a cell edit turns the Tab order round, whether or not
  // the edit uses the key itself.
  if (message == ui::kWmKeyDown && wParam == ui::kVkShift && v.edit.tempItemPlusOne) v.shift = true;
  // The items' edits first, last item first, until one takes the message.
  LRESULT taken = 0;
  switch (message) {
    case ui::kWmSetFocus:
      if (ViewItem* t = tempItem(v)) taken = EditCallBackProc(t->edit, message, wParam, lParam);
      break;
    case ui::kWmEraseBkgnd:
      break;
    case ui::kWmDestroy:
      for (ViewItem& item : v.items)
        if (item.edit) EditCallBackProc(item.edit, message, wParam, lParam);
      break;
    case ui::kWmLButtonDown: {
      for (size_t i = v.items.size(); i-- > 0;) {
        if (!v.items[i].edit) continue;
        if (EditCallBackProc(v.items[i].edit, message, wParam, lParam) != 0) {
          taken = 1;
          break;
        }
      }
      break;
    }
    default:
      for (size_t i = v.items.size(); i-- > 0;) {
        if (!v.items[i].edit) continue;
        if ((taken = EditCallBackProc(v.items[i].edit, message, wParam, lParam)) != 0) break;
      }
      break;
  }
  switch (message) {
    case ui::kWmDestroy:
      if (!v.destroying) ViewDelete(v.handle);
      return 0;
    case ui::kWmActivate:
      if (ui::lowWord(wParam) == 0) v.hasFocus = v.shift = false;
      return 0;
    case ui::kWmSetFocus:
      v.hasFocus = true;
      return 0;
    case ui::kWmKillFocus:
      v.hasFocus = false;
      return 0;
    case ui::kWmClose:
      if (taken) return taken;
      return closeMessage(v);
    case ui::kWmKeyDown:
      if (taken) return taken;
      if (v.edit.tempItemPlusOne) return editKey(v, static_cast<uint32_t>(wParam)) ? 1 : 0;
      return listKey(v, static_cast<uint32_t>(wParam)) ? 1 : 0;
    case ui::kWmKeyUp:
      if (wParam == ui::kVkShift) v.shift = false;
      return taken;
    case ui::kWmLButtonDown: {
      if (ui::focusWindow() != v.window) ui::setFocus(v.window);
      const int32_t x = static_cast<int16_t>(ui::lowWord(static_cast<uintptr_t>(lParam)));
      const int32_t y = static_cast<int16_t>(ui::highWord(static_cast<uintptr_t>(lParam)));
      size_t item = 0, field = 0;
      int32_t line = 0;
      if (fieldAt(v, x, y, item, field, line)) {
        if (v.items[item].fields[field].repeats && v.virtualRows) v.currentRecord = std::max(v.topRecord, 0) + line;
        const int32_t total = positionCount(v) + ((v.style & kStyleAppendRow) ? 1 : 0);
        if (!v.items[item].fields[field].repeats || !v.project || std::max(v.topRecord, 0) + line < total)
          stepTo(v, item, field, line, false);
      }
      return 0;
    }
    case ui::kWmLButtonDblClk:
      if (v.virtualRows && v.host && v.currentRecord >= 0) ui::postMessage(v.host, ui::kWmClose, 0, 0);
      else viewLookUpReference(v);
      return 0;
    case ui::kWmRButtonDown:
      if (v.caller) ui::postMessage(v.caller, message, wParam, lParam);
      return 0;
    default:
      if (taken) return taken;
      return ui::defaultWindowProc(v.window, message, wParam, lParam);
  }
}

}  // namespace zemta::views

using namespace zemta;
using namespace zemta::views;

ZEMTA_API int32_t ViewIsEdit(ViewHandle handle) {
  ViewObject* v = checkView(handle);
  return v && v->edit.tempItemPlusOne ? 1 : 0;
}

ZEMTA_API int32_t ViewEditIsSelect(ViewHandle handle) {
  ViewObject* v = checkView(handle);
  if (!v || !v->edit.tempItemPlusOne) return 0;
  return EditIsSelect(v->items[v->edit.tempItemPlusOne - 1u].edit);
}

ZEMTA_API int32_t ViewIsClipboardText(ViewHandle handle) {
  ViewObject* v = checkView(handle);
  EditObject* e = v ? openEdit(*v) : nullptr;
  if (!e) return 0;
  if (e->isNumeric()) return IsClipboardNumeric(v->window, e->inputFlags & 0xFFFF);
  return IsClipboardText(v->window);
}

namespace {
// Cut and copy take the selection as plain text: the edit's boxes are set
// aside for the call.
int32_t clipboardCall(ViewHandle handle, int32_t (*call)(EditHandle)) {
  ViewObject* v = checkView(handle);
  EditObject* e = v ? openEdit(*v) : nullptr;
  if (!e) return -1;
  std::vector<EditBox> boxes;
  boxes.swap(e->boxes);
  const int32_t result = call(e);
  e->boxes.swap(boxes);
  return result;
}
}  // namespace

ZEMTA_API int32_t ViewEditCutClipboardText(ViewHandle view) { return clipboardCall(view, EditCutClipboardText); }
ZEMTA_API int32_t ViewEditCopyClipboardText(ViewHandle view) { return clipboardCall(view, EditCopyClipboardText); }

ZEMTA_API int32_t ViewEditPasteClipboardText(ViewHandle handle) {
  ViewObject* v = checkView(handle);
  EditObject* e = v ? openEdit(*v) : nullptr;
  return e ? EditPasteClipboardText(e) : -1;
}

ZEMTA_API int32_t ViewEditIsModify(ViewHandle handle) {
  ViewObject* v = checkView(handle);
  EditObject* e = v ? openEdit(*v) : nullptr;
  return e && e->modified ? 1 : 0;
}

ZEMTA_API int32_t ViewEditUndo(ViewHandle handle) {
  ViewObject* v = checkView(handle);
  if (!v || !v->edit.tempItemPlusOne) return -1;
  return editKey(*v, ui::kVkEscape) ? 0 : -1;
}

ZEMTA_API int32_t ViewIsModify(ViewHandle handle, int32_t flag) {
  ViewObject* v = checkView(handle);
  return v && viewIsModified(*v, flag != 0) ? 1 : 0;
}

ZEMTA_API int32_t ViewIsClose(ViewHandle handle) {
  ViewObject* v = checkView(handle);
  if (!v) return 1;
  if (!endEdit(*v, false)) return 1;
  if (!viewIsModified(*v, false)) return 1;
  const int answer = UnlockedMessageBox(v->window, kLoseChangesOnClose, std::string(kWarning) + " - " + v->title,
                                        platform::kMbOkCancel | platform::kMbIconWarning | platform::kMbDefButton2);
  return answer == platform::kIdOk ? 1 : 0;
}
