// The filter dialog "検索キーワード入力": the user types search keys for up to
// eight indexes of a table, chooses a new, narrowing or widening search and a
// sort order, and the keys become index range searches whose result is a
// record list. A key row whose field refers to another table offers "参照...",
// which runs the same dialog on that table.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lib/core/item_types.h"
#include "lib/core/report.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/store/tables/filedb_internal.h"
#include "lib/views/view/view_bind.h"
#include "lib/views/view/view_file_internal.h"
#include "lib/views/view/view_object.h"
#include "platform/base/message_box.h"
#include "platform/ui/desktop.h"
#include "platform/ui/dialog.h"
#include "platform/ui/paint.h"
#include "platform/ui/window.h"
#include "zemta/errors.h"
#include "zemta/filebuf.h"
#include "zemta/fileidx.h"
#include "zemta/view.h"
#include "zemta/winhelp.h"

namespace ui = platform::ui;

namespace zemta::views {
namespace {

constexpr int32_t kFilterDialog = 20730;
constexpr int32_t kKeyName = 21892, kKeyEdit = 21900, kKeyRef = 21908;
constexpr int32_t kNewSearch = 21883, kNarrowSearch = 21885, kAddSearch = 21887;
constexpr int32_t kSortCheck = 21928, kSortList = 21927;
constexpr size_t kMaxRows = 8;
constexpr size_t kMaxOpenDialogs = 128;
constexpr size_t kMaxKeyText = 4096;
constexpr uint32_t kSearchableField = 0x1000000;

// Dialog results.
constexpr intptr_t kDone = 1, kCancelled = 2, kFailed = 3, kNoKeys = 4, kClosed = 8;

// One key row: an index of the table and the field its keys are made of.
// An index the table borrowed from a linked table is searched in that table:
// its index on the key, and its index on the field that links its records to
// this table's records through this table's own index on the linked field.
struct KeyRow {
  int32_t index = -1;
  fileproj::Field field;
  uint16_t keyLen = 0;
  int32_t refFdb = 0;  // the table the field refers to (its "参照..." button), 0 none
  int32_t width = 0;   // characters the edit shows
  int32_t linkedFdb = 0;  // 0: an index of the table itself
  int32_t linkedIndex = -1, linkingIndex = -1, ownIndex = -1;
};

// How a row's key is typed: numbers without the input method (4), text as
// its field says (0 to 3, see fileproj::Field::imeMode).
constexpr int32_t kImeDetached = 4;
int32_t rowImeMode(const KeyRow& row) { return row.field.typeCode() != 0 ? kImeDetached : row.field.imeMode(); }

struct FilterDlgData {
  FileProjHandle project = 0;
  ViewHandle view = 0;
  fileproj::TableEntry* table = nullptr;
  HWND dialog = nullptr;
  int32_t searchMode = 0;  // in: 1 the list holds records; out: 0 new, 1 narrow, 2 add
  std::vector<KeyRow> rows;
  std::array<FileRecList, kMaxRows> refLists{};
  std::array<std::string, kMaxRows> keys;
  HIMC context = nullptr;
  int32_t imeOpen = 0;
  uint32_t conversion = 0, sentence = 0;
  int32_t focusedRow = -1;  // the key row whose edit has the focus
  int32_t imeMode = 0;      // the input mode given to it
  bool sortOffered = false;
  bool ascending = true;
  int32_t sortIndex = -1;
  std::vector<int32_t> sortIndexes;  // index number of each row of the sort list
};

std::vector<FilterDlgData*>& openDialogs() {
  static std::vector<FilterDlgData*> dialogs;
  return dialogs;
}

void freeRefLists(FilterDlgData& d) {
  for (FileRecList& list : d.refLists) {
    if (list.items) FileDeleteRecList(&list);
    list = FileRecList{};
  }
}

// Characters a key of the field takes when typed.
int32_t displayWidth(const fileproj::Field& field) {
  switch (field.typeCode()) {
    case 0:
    case 1: return std::clamp<int32_t>(field.size(), 4, 40);
    case 12:
    case 13:
    case 14: return 10;
    default: return 12;
  }
}

// The table's searchable indexes in index order, at most eight: the index is
// in use and its key field may be searched (the view offers the filter for
// every field, or the field is marked searchable).
std::vector<KeyRow> searchableRows(fileproj::Project& project, const fileproj::TableEntry& entry, uint32_t style) {
  std::vector<KeyRow> rows;
  filedb::Table* t = filedb::findTable(entry.table);
  if (!t) return rows;
  for (size_t i = 0; i < t->indexes.size() && rows.size() < kMaxRows; ++i) {
    const filedb::IndexEntry& ie = t->indexes[i];
    if (ie.handle < 0 || ie.composite()) continue;
    // The key's field: of the table itself, or of the linked table whose
    // index it is.
    const fileproj::TableEntry* keyTable = &entry;
    if (!ie.own()) {
      const int32_t linked = fileproj::tableIndexOf(project, ie.sourceTable);
      if (linked < 0) continue;
      keyTable = &project.tables[static_cast<size_t>(linked)];
    }
    const fileproj::Field* field = nullptr;
    for (const auto& f : keyTable->fields)
      if (f.offset() == ie.keyDesc && (f.fieldWord() & 0xFF) == (ie.fieldWord & 0xFF)) {
        field = &f;
        break;
      }
    if (!field) continue;
    if (!(style & kStyleFilter) && !(static_cast<uint32_t>(field->indexFlags()) & kSearchableField)) continue;
    KeyRow row;
    row.index = static_cast<int32_t>(i);
    row.field = *field;
    row.keyLen = ie.keyLen;
    row.width = displayWidth(*field);
    if (!ie.own()) {
      row.linkedFdb = ie.sourceTable;
      row.linkedIndex = ie.sourceIndex;
      row.linkingIndex = ie.linkIndex;
      row.ownIndex = ie.ownIndex;
    }
    const int32_t kind = field->kind() & 0xFF;
    if (field->refTable() != 0 && (kind == 1 || kind == 9) &&
        fileproj::tableIndexOf(project, field->refTable()) >= 0)
      row.refFdb = field->refTable();
    rows.push_back(row);
  }
  return rows;
}

// The dialog's layout for its rows: labels, key edits and their "参照..."
// buttons one row each, then the search types and the sort order, OK and
// Cancel at the right. Rectangles are dialog units (left, top, right, bottom).
ui::DialogTemplate filterTemplate(const FilterDlgData& d) {
  ui::DialogTemplate t;
  t.id = kFilterDialog;
  t.caption = "検索キーワード入力";
  const int32_t rowHeight = 14;
  int32_t labelWidth = 40, editWidth = 40;
  bool anyRef = false;
  for (const KeyRow& row : d.rows) {
    labelWidth = std::max<int32_t>(labelWidth, static_cast<int32_t>(row.field.name().size()) * 4 + 6);
    editWidth = std::max(editWidth, row.width * 4 + 12);
    anyRef = anyRef || row.refFdb != 0;
  }
  const int32_t editLeft = 8 + labelWidth + 4;
  const int32_t refLeft = editLeft + editWidth + 4;
  const int32_t rowsRight = anyRef ? refLeft + 40 : editLeft + editWidth;
  const int32_t shown = static_cast<int32_t>(d.rows.size());
  int32_t y = 8 + shown * rowHeight + 4;
  for (size_t i = 0; i < kMaxRows; ++i) {
    const int32_t top = i < d.rows.size() ? 8 + static_cast<int32_t>(i) * rowHeight : 8;
    const int32_t n = static_cast<int32_t>(i);
    t.controls.push_back({ui::ControlKind::Static, kKeyName + n, {8, top + 2, 8 + labelWidth, top + 11},
                          "ｷｰ名" + std::to_string(i + 1), 0, ""});
    const int32_t width = i < d.rows.size() ? d.rows[i].width * 4 + 12 : editWidth;
    t.controls.push_back({ui::ControlKind::Edit, kKeyEdit + n, {editLeft, top, editLeft + width, top + 12}, "", 0, ""});
    t.controls.push_back(
        {ui::ControlKind::PushButton, kKeyRef + n, {refLeft, top, refLeft + 40, top + 12}, "参照...", 0, ""});
  }
  const int32_t typesTop = y;
  t.controls.push_back({ui::ControlKind::RadioButton, kNewSearch, {8, y, 62, y + 10}, "新規検索", 0, ""});
  t.controls.push_back({ui::ControlKind::RadioButton, kNarrowSearch, {66, y, 120, y + 10}, "絞込検索", 0, ""});
  t.controls.push_back({ui::ControlKind::RadioButton, kAddSearch, {124, y, 178, y + 10}, "追加検索", 0, ""});
  if (d.searchMode == 1) y += 14;
  t.controls.push_back({ui::ControlKind::CheckBox, kSortCheck, {8, y + 1, 78, y + 11}, "並べ替え　昇順", 0, ""});
  t.controls.push_back(
      {ui::ControlKind::ComboBox, kSortList, {82, y, 82 + std::max(80, editWidth), y + 12}, "", ui::kControlDropList, ""});
  if (d.sortOffered) y += 16;
  (void)typesTop;
  const int32_t right = std::max({rowsRight, 82 + std::max(80, editWidth), 178}) + 8;
  t.controls.push_back({ui::ControlKind::DefPushButton, 1, {right, 8, right + 48, 22}, "OK", 0, ""});
  t.controls.push_back({ui::ControlKind::PushButton, 2, {right, 26, right + 48, 40}, "ｷｬﾝｾﾙ", 0, ""});
  t.rect = {0, 0, right + 56, std::max(y + 4, 80)};
  return t;
}

void saveIme(FilterDlgData& d) {
  int32_t open = 0;
  d.context = ImeGetStatus(d.dialog, &open, &d.conversion, &d.sentence, nullptr);
  d.imeOpen = open;
}

// A key edit got the focus: its row's input mode. The state saved when the
// dialog opened is what the edit gets back when it is left (mode 0 takes
// the state as it stands now instead).
void keyFocused(FilterDlgData& d, size_t n) {
  HWND edit = ui::dialogItem(d.dialog, kKeyEdit + static_cast<int32_t>(n));
  int32_t open = 0;
  uint32_t conversion = 0, sentence = 0;
  HIMC context = edit ? ImeGetStatus(edit, &open, &conversion, &sentence, nullptr) : nullptr;
  if (!context) return;
  d.focusedRow = static_cast<int32_t>(n);
  d.imeMode = rowImeMode(d.rows[n]);
  const uint32_t roman = d.conversion & 0x10;
  switch (d.imeMode) {
    case 0:
      d.imeOpen = open;
      d.conversion = conversion;
      d.sentence = sentence;
      break;
    case 1: ImeSetStatus(context, 1, conversion, sentence, nullptr); break;
    case 2: ImeSetStatus(context, 0, 0x903 | roman, sentence, nullptr); break;
    case 3: ImeSetStatus(context, 1, 0x801 | roman, 8, nullptr); break;
    default:
      ImeSetStatus(context, 0, 0x900, sentence, nullptr);
      ui::setImeAttached(edit, false);
      break;
  }
}

// The focused key edit is left: the input method as it was saved.
void keyLeft(FilterDlgData& d) {
  if (d.focusedRow < 0) return;
  HWND edit = ui::dialogItem(d.dialog, kKeyEdit + d.focusedRow);
  d.focusedRow = -1;
  if (!edit) return;
  if (d.imeMode == kImeDetached) ui::setImeAttached(edit, true);
  if (HIMC context = ImeGetStatus(edit, nullptr, nullptr, nullptr, nullptr))
    ImeSetStatus(context, d.imeOpen, d.conversion, d.sentence, nullptr);
}

void restoreIme(FilterDlgData& d) {
  keyLeft(d);
  if (d.context) ImeSetStatus(d.context, d.imeOpen, d.conversion, d.sentence, nullptr);
}

// The referenced field's value of a record, as the text a key row shows.
bool referencedText(FilterDlgData& d, const KeyRow& row, uint32_t record, std::string& text) {
  fileproj::TableEntry* ref = fileproj::FileProjFindTable(d.project, row.refFdb);
  if (!ref) return false;
  const fileproj::Field* field = fileproj::FileProjFindField(*ref, row.field.refField());
  if (!field) return false;
  std::vector<uint8_t> value(field->size() + 1u, 0);
  if (FileDBRecReadField(ref->table, static_cast<int32_t>(record), field->offset(), field->size(), value.data()) < 0)
    return false;
  text = fieldText(field->typeCode(), field->fieldWord(), field->size(), value.data(), 0);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  while (!text.empty() && text.front() == ' ') text.erase(text.begin());
  return true;
}

int32_t runFilter(ViewHandle view, int32_t fdbId, HWND parent, FileRecList* list, bool viewsOwn);

// "参照..." of a row: the same dialog on the table the row's field refers to.
void runReference(FilterDlgData& d, size_t n) {
  const KeyRow& row = d.rows[n];
  FileRecList& refs = d.refLists[n];
  HWND edit = ui::dialogItem(d.dialog, kKeyEdit + static_cast<int32_t>(n));
  if (!refs.items && FileNewRecList(&refs, 1) != 0) {
    ui::endDialog(d.dialog, kFailed);
    return;
  }
  refs.count = 0;
  const int32_t result = runFilter(d.view, row.refFdb, d.dialog, &refs, false);
  if (result == kFailed) {
    ui::endDialog(d.dialog, kFailed);
    return;
  }
  if (result != kDone) return;
  if (refs.count <= 0) {
    FileDeleteRecList(&refs);
    refs = FileRecList{};
    ui::setWindowText(edit, "");
    ui::setEditReadOnly(edit, false);
    return;
  }
  // Several records: the clerk picks one in the select window; none picked
  // (no selection form for the table) searches by all of them.
  const int32_t chosen = selectRecord(d.project, row.refFdb, d.dialog, &refs, refs.count - 1);
  if (chosen < 0 || chosen >= refs.count) {
    // The whole list is the key.
    ui::setWindowText(edit, std::string(static_cast<size_t>(row.width), '*'));
    ui::setEditReadOnly(edit, true);
    return;
  }
  std::string text;
  if (!referencedText(d, row, refs.items[chosen], text)) {
    ui::endDialog(d.dialog, kFailed);
    return;
  }
  FileDeleteRecList(&refs);
  refs = FileRecList{};
  ui::setWindowText(edit, text);
  ui::setEditReadOnly(edit, false);
}

bool initDialog(FilterDlgData& d) {
  if (openDialogs().size() >= kMaxOpenDialogs) return false;
  openDialogs().push_back(&d);
  for (size_t i = 0; i < kMaxRows; ++i) {
    const int32_t n = static_cast<int32_t>(i);
    HWND name = ui::dialogItem(d.dialog, kKeyName + n), edit = ui::dialogItem(d.dialog, kKeyEdit + n),
         ref = ui::dialogItem(d.dialog, kKeyRef + n);
    if (!name || !edit || !ref) return false;
    const bool used = i < d.rows.size();
    ui::showWindow(name, used);
    ui::showWindow(edit, used);
    ui::showWindow(ref, used && d.rows[i].refFdb != 0);
    if (used) ui::setWindowText(name, d.rows[i].field.name());
  }
  ui::setWindowText(d.dialog, d.table->name() + "検索");
  HWND check = ui::dialogItem(d.dialog, kSortCheck), sortList = ui::dialogItem(d.dialog, kSortList);
  if (!check || !sortList) return false;
  ui::showWindow(check, d.sortOffered);
  ui::showWindow(sortList, d.sortOffered);
  if (d.sortOffered) {
    ui::checkButton(check, 1);
    // The table's own fields only: its records are sorted by its own indexes.
    for (const KeyRow& row : d.rows) {
      if (row.linkedFdb) continue;
      ui::addListItem(sortList, row.field.name());
      d.sortIndexes.push_back(row.index);
    }
    ui::setListSelection(sortList, -1);  // no sort chosen yet
  }
  for (int32_t id : {kNewSearch, kNarrowSearch, kAddSearch}) {
    HWND button = ui::dialogItem(d.dialog, id);
    if (!button) return false;
    ui::showWindow(button, d.searchMode == 1);
  }
  if (d.searchMode == 1) ui::checkButton(ui::dialogItem(d.dialog, kNewSearch), 1);
  saveIme(d);
  if (!d.rows.empty()) ui::setFocus(ui::dialogItem(d.dialog, kKeyEdit));
  return true;
}

void takeInput(FilterDlgData& d) {
  for (size_t i = 0; i < d.rows.size(); ++i) {
    std::string text = ui::dialogItemText(d.dialog, kKeyEdit + static_cast<int32_t>(i));
    if (text.size() > kMaxKeyText) text.resize(kMaxKeyText);
    d.keys[i] = text;
  }
  if (d.sortOffered) {
    d.ascending = ui::buttonState(ui::dialogItem(d.dialog, kSortCheck)) == 1;
    const int32_t chosen = ui::listSelection(ui::dialogItem(d.dialog, kSortList));
    d.sortIndex = chosen >= 0 && static_cast<size_t>(chosen) < d.sortIndexes.size() ? d.sortIndexes[chosen] : -1;
  }
  d.searchMode = 0;
  if (ui::buttonState(ui::dialogItem(d.dialog, kNarrowSearch)) == 1) d.searchMode = 1;
  else if (ui::buttonState(ui::dialogItem(d.dialog, kAddSearch)) == 1) d.searchMode = 2;
}

intptr_t filterDlgProc(FilterDlgData& d, HWND dialog, uint32_t message, WPARAM wParam) {
  switch (message) {
    case ui::kWmInitDialog:
      d.dialog = dialog;
      if (!initDialog(d)) ui::endDialog(dialog, kFailed);
      return 1;
    case ui::kWmClose:
      restoreIme(d);
      ui::endDialog(dialog, kClosed);
      return 1;
    case ui::kWmDestroy:
      std::erase(openDialogs(), &d);
      return 0;
    case ui::kWmCommand: {
      const int32_t id = static_cast<int32_t>(ui::lowWord(wParam));
      if (id == 1) {
        takeInput(d);
        restoreIme(d);
        ui::endDialog(dialog, kDone);
        return 1;
      }
      if (id == 2) {
        restoreIme(d);
        ui::endDialog(dialog, kCancelled);
        return 1;
      }
      const int32_t rows = static_cast<int32_t>(d.rows.size());
      if (id >= kKeyEdit && id < kKeyEdit + rows) {
        if (ui::highWord(wParam) == ui::kEnSetFocus) {
          keyLeft(d);
          keyFocused(d, static_cast<size_t>(id - kKeyEdit));
          return 1;
        }
        if (ui::highWord(wParam) == ui::kEnKillFocus) {
          if (d.focusedRow == id - kKeyEdit) keyLeft(d);
          return 1;
        }
        return 0;
      }
      if (id >= kKeyRef && id < kKeyRef + rows && ui::highWord(wParam) == ui::kBnClicked) {
        runReference(d, static_cast<size_t>(id - kKeyRef));
        return 1;
      }
      return 0;
    }
    default:
      return 0;
  }
}

// Takes a list's array over into another, freeing what that held.
void moveList(FileRecList& to, FileRecList& from) {
  if (to.items && to.items != from.items) FileDeleteRecList(&to);
  to = from;
  from = FileRecList{};
}

// Adds the records of add that into does not hold yet, growing into's array
// as needed. False after a report.
bool unite(FileRecList& into, const FileRecList& add) {
  if (add.count <= 0) return true;
  const int32_t needed = into.count + add.count;
  if (!into.items || into.capacity < needed) {
    auto* grown = static_cast<uint32_t*>(std::realloc(into.items, static_cast<size_t>(needed) * sizeof(uint32_t)));
    if (!grown) {
      ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
      return false;
    }
    into.items = grown;
    into.capacity = needed;
  }
  return FileIdxCombine(&into, &add, 0) == 0;
}

// Narrows result to [from, to] on the index, or searches it when there is no
// result yet. False after a report.
bool searchRange(FileDBHandle table, int32_t index, const void* from, const void* to, FileRecList& result,
                 bool& have) {
  if (have) return FileIdxAndSear(table, index, from, to, &result, 0, 0) >= 0;
  if (result.items) FileDeleteRecList(&result);
  result = FileRecList{};
  if (FileIdxSear(table, index, from, to, &result, 0, 0) < 0) return false;
  if (!result.items && FileNewRecList(&result, 1) != 0) return false;
  have = true;
  return true;
}

// Drops the second and later appearances of a record, keeping the order.
void dropRepeats(FileRecList& list) {
  std::vector<bool> seen;
  int32_t kept = 0;
  for (int32_t i = 0; i < list.count; ++i) {
    const uint32_t n = list.items[i];
    if (n >= seen.size()) seen.resize(static_cast<size_t>(n) + 1, false);
    if (seen[n]) continue;
    seen[n] = true;
    list.items[kept++] = n;
  }
  list.count = kept;
}

// searchRange for a key row. A key on an index of a linked table is searched
// there, and this table's records linked to the records found stand for
// them (each once, whatever number of linked records it has).
bool searchRow(FilterDlgData& d, FileDBHandle table, const KeyRow& row, const void* from, const void* to,
               FileRecList& result, bool& have) {
  if (!row.linkedFdb) return searchRange(table, row.index, from, to, result, have);
  const FileDBHandle linked = FileProjGetFdb(d.project, row.linkedFdb);
  if (!linked) return false;
  FileRecList found{}, mapped{};
  bool ok = FileIdxSear(linked, row.linkedIndex, from, to, &found, 0, 0) >= 0;
  if (ok && !found.items) ok = FileNewRecList(&found, 1) == 0;
  ok = ok && FileLstFromIndLst(table, row.ownIndex, &mapped, linked, row.linkingIndex, &found) >= 0;
  if (found.items) FileDeleteRecList(&found);
  if (ok) {
    dropRepeats(mapped);
    if (have) {
      ok = FileIdxCombine(&result, &mapped, 1) == 0;
    } else {
      moveList(result, mapped);
      have = true;
    }
  }
  if (mapped.items) FileDeleteRecList(&mapped);
  return ok;
}

// A key row searched by the records chosen through its "参照...": each
// record's referenced value is an exact key; the rows matching any of them.
bool searchByReferences(FilterDlgData& d, FileDBHandle table, const KeyRow& row, const FileRecList& refs,
                        FileRecList& result, bool& have) {
  fileproj::TableEntry* ref = fileproj::FileProjFindTable(d.project, row.refFdb);
  const fileproj::Field* field = ref ? fileproj::FileProjFindField(*ref, row.field.refField()) : nullptr;
  if (!field) return false;
  FileRecList united{};
  bool any = false;
  std::vector<uint8_t> key(std::max<size_t>(row.keyLen, field->size()), 0);
  for (int32_t i = 0; i < refs.count; ++i) {
    std::fill(key.begin(), key.end(), 0);
    if (FileDBRecReadField(ref->table, static_cast<int32_t>(refs.items[i]), field->offset(), field->size(),
                           key.data()) < 0) {
      if (united.items) FileDeleteRecList(&united);
      return false;
    }
    FileRecList part{};
    bool partHave = false;
    if (have) {
      if (FileNewRecList(&part, std::max(result.count, 1)) != 0) return false;
      std::memcpy(part.items, result.items, static_cast<size_t>(result.count) * sizeof(uint32_t));
      part.count = result.count;
      partHave = true;
    }
    if (!searchRow(d, table, row, key.data(), key.data(), part, partHave)) {
      if (part.items) FileDeleteRecList(&part);
      if (united.items) FileDeleteRecList(&united);
      return false;
    }
    if (!any) {
      moveList(united, part);
      any = true;
    } else {
      const bool ok = unite(united, part);
      FileDeleteRecList(&part);
      if (!ok) {
        FileDeleteRecList(&united);
        return false;
      }
    }
  }
  if (!any && FileNewRecList(&united, 1) != 0) return false;
  moveList(result, united);
  have = true;
  return true;
}

// The search of the keys the dialog took, into list: 1, or 3 (the list then
// empty).
int32_t searchKeys(FilterDlgData& d, FileRecList& list) {
  const FileDBHandle table = d.table->table;
  FileRecList kept{};
  FileRecList result{};
  bool have = false;
  if (d.searchMode == 1) {
    moveList(result, list);
    if (!result.items && FileNewRecList(&result, 1) != 0) return kFailed;
    have = true;
  } else {
    if (d.searchMode == 2) moveList(kept, list);
    else if (list.items) FileDeleteRecList(&list);
    list = FileRecList{};
  }
  // Without a chosen sort, the last key given sets the order (a key on a
  // linked table leaves this table's records in the order of the linked
  // field).
  int32_t orderIndex = -1;
  if (d.sortIndex < 0)
    for (size_t i = 0; i < d.rows.size(); ++i)
      if (!d.keys[i].empty() || (d.refLists[i].items && d.refLists[i].count > 0))
        orderIndex = d.rows[i].linkedFdb ? d.rows[i].ownIndex : d.rows[i].index;
  PushCursor(ZEMTA_IDC_WAIT);
  bool ok = true;
  int32_t keysUsed = 0;
  for (size_t i = 0; i < d.rows.size() && ok; ++i) {
    const KeyRow& row = d.rows[i];
    if (have && result.count == 0) break;
    if (d.refLists[i].items && d.refLists[i].count > 0) {
      ok = searchByReferences(d, table, row, d.refLists[i], result, have);
      ++keysUsed;
      continue;
    }
    if (d.keys[i].empty()) continue;
    std::vector<uint8_t> from(row.keyLen, 0), to(row.keyLen, 0);
    if (FileIdxKeyMake(row.field.typeWord(), row.keyLen, from.data(), to.data(), d.keys[i].c_str(), nullptr) < 0) {
      ok = false;
      break;
    }
    ok = searchRow(d, table, row, from.data(), to.data(), result, have);
    ++keysUsed;
  }
  freeRefLists(d);
  if (ok && d.searchMode == 2) {
    if (kept.items && kept.count > 0 && result.items && result.count > 0) {
      ok = unite(kept, result);
      if (ok) moveList(result, kept);
    } else if (kept.items && kept.count > 0) {
      moveList(result, kept);
    }
  }
  if (kept.items) FileDeleteRecList(&kept);
  if (ok && result.items && result.count > 1) {
    if (d.sortIndex >= 0) {
      const uint32_t flags = d.ascending ? 1 : 2;
      ok = FileIdxOrder(table, &result, 1, &d.sortIndex, &flags) >= 0;
    } else if (keysUsed > 1 || d.searchMode != 0) {
      const uint32_t flags = 1;
      if (orderIndex >= 0) ok = FileIdxOrder(table, &result, 1, &orderIndex, &flags) >= 0;
    }
  }
  PopCursor();
  if (!ok) {
    if (result.items) FileDeleteRecList(&result);
    return kFailed;
  }
  moveList(list, result);
  return kDone;
}

// viewsOwn: the list stands for the view's own record list, so the view's
// unsaved changes are lost when the search is applied.
int32_t runFilter(ViewHandle handle, int32_t fdbId, HWND parent, FileRecList* list, bool viewsOwn) {
  ViewObject* view = checkView(handle);
  if (!view) return kFailed;
  fileproj::Project* project = fileproj::findProject(view->project);
  fileproj::TableEntry* entry = project ? fileproj::FileProjFindTable(view->project, fdbId) : nullptr;
  if (!entry || entry->fields.empty() || !list) {
    if (entry && !list) ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return kFailed;
  }
  FilterDlgData d;
  d.project = view->project;
  d.view = handle;
  d.table = entry;
  d.searchMode = list->items && list->count > 0 ? 1 : 0;
  d.sortOffered = true;
  d.rows = searchableRows(*project, *entry, view->style);
  if (d.rows.empty()) return kNoKeys;
  const ui::DialogTemplate tmpl = filterTemplate(d);
  intptr_t result = ui::dialogBoxFromTemplate(
      tmpl, parent, [&d](HWND dialog, uint32_t message, WPARAM wParam, LPARAM) -> LRESULT {
        return filterDlgProc(d, dialog, message, wParam);
      });
  std::erase(openDialogs(), &d);
  if (result < 0) result = kFailed;
  if (result != kDone) {
    freeRefLists(d);
    return static_cast<int32_t>(result);
  }
  view = checkView(handle);
  if (view && viewsOwn && viewIsModified(*view, true)) {
    if (UnlockedMessageBox(view->window, "レコードの移動を行うと変更が失われます。実行しますか？", "警告",
                           platform::kMbOkCancel | platform::kMbIconWarning | platform::kMbDefButton2) !=
        platform::kIdOk) {
      freeRefLists(d);
      return kCancelled;
    }
    discardChanges(*view);
  }
  return searchKeys(d, *list);
}

}  // namespace
}  // namespace zemta::views

using namespace zemta;
using namespace zemta::views;

ZEMTA_API int32_t ViewFilterRun(ViewHandle view, int32_t fdbId, HWND parent, FileRecList* list) {
  ViewObject* object = viewOfHandle(view);
  return runFilter(view, fdbId, parent, list, object && list == &object->recordList);
}

ZEMTA_API int32_t ViewFileSetFilterDlg(ViewHandle handle, int32_t fdbId, HWND parent) {
  ViewObject* view = checkView(handle);
  if (!view) return -1;
  if (!endCellEdit(*view)) return -1;
  if (fdbId == 0) fdbId = view->mainTable;
  const int32_t remembered = recordAtPosition(*view, view->currentRecord);
  // The dialog works on a copy: a cancelled or failed search leaves the view's
  // list as it was.
  FileRecList list{};
  if (view->recordList.items) {
    if (FileNewRecList(&list, std::max(view->recordList.count, 1)) != 0) return -1;
    std::memcpy(list.items, view->recordList.items, static_cast<size_t>(view->recordList.count) * sizeof(uint32_t));
    list.count = view->recordList.count;
  }
  const int32_t result = runFilter(handle, fdbId, parent ? parent : view->window, &list, true);
  view = checkView(handle);
  if (!view || result != 1) {
    if (list.items) FileDeleteRecList(&list);
    return !view || result == 3 ? -1 : 1;
  }
  const FileDBHandle table = mainTableHandle(*view);
  // The view's own fixed key range holds whatever the user searched for.
  if (view->filterIndex != -1 && table && !view->filterRange.empty()) {
    const size_t half = view->filterRange.size() / 2;
    const uint8_t* from = view->filterRange.data();
    const uint8_t* to = from + half;
    int32_t searched = 0;
    if (list.items && list.count > 0) {
      searched = FileIdxAndSear(table, view->filterIndex, from, to, &list, 0, 0);
    } else {
      if (list.items) FileDeleteRecList(&list);
      list = FileRecList{};
      searched = FileIdxSear(table, view->filterIndex, from, to, &list, 0, 0);
    }
    if (searched < 0) {
      if (list.items) FileDeleteRecList(&list);
      return -1;
    }
  }
  if (!dropRecordList(*view)) {
    if (list.items) FileDeleteRecList(&list);
    return -1;
  }
  view->recordList = list;
  view->topRecord = -1;
  int32_t position = remembered;
  if (view->recordList.items) {
    position = view->recordList.count > 0 ? view->recordList.count - 1 : 0;
    for (int32_t i = 0; i < view->recordList.count; ++i)
      if (static_cast<int32_t>(view->recordList.items[i]) == remembered) {
        position = i;
        break;
      }
  }
  refreshCount(*view);
  const int32_t sought = seekPosition(*view, std::max(position, 0));
  if (view->window) {
    ui::invalidateWindow(view->window);
    const ui::Rect client = ui::clientRect(view->window);
    ui::sendMessage(view->window, ui::kWmSize, 0,
                    static_cast<LPARAM>((client.width() & 0xFFFF) | ((client.height() & 0xFFFF) << 16)));
  }
  return sought == 0 ? 0 : -1;
}
