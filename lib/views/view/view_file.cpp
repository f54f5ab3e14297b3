// The view's file operations: saving, flushing, checking, deleting and
// blanking the records of its main table, and the record list through which
// it moves (a filter's result, or a list its owner hands in).
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "lib/core/item_types.h"
#include "lib/core/library_locks.h"
#include "lib/core/report.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/views/edit/edit_object.h"
#include "lib/views/view/view_bind.h"
#include "lib/views/view/view_file_internal.h"
#include "lib/views/view/view_object.h"
#include "lib/views/view/view_registry.h"
#include "platform/base/message_box.h"
#include "platform/ui/dialog.h"
#include "platform/ui/paint.h"
#include "platform/ui/window.h"
#include "zemta/errors.h"
#include "zemta/filebuf.h"
#include "zemta/view.h"

namespace ui = platform::ui;

namespace zemta::views {

FileDBHandle mainTableHandle(const ViewObject& view) {
  if (!view.project || !view.mainTable) return 0;
  return FileProjGetFdb(view.project, view.mainTable);
}

namespace {
bool hasList(const ViewObject& view) { return view.recordList.items != nullptr && view.recordList.count > 0; }
}  // namespace

int32_t positionCount(const ViewObject& view) {
  if (view.recordList.items != nullptr) return view.recordList.count;
  return static_cast<int32_t>(view.recordCount);
}

int32_t recordAtPosition(const ViewObject& view, int32_t position) {
  if (position < 0 || position >= positionCount(view)) return -1;
  if (view.recordList.items != nullptr) return static_cast<int32_t>(view.recordList.items[position]);
  return position;
}

bool endCellEdit(ViewObject& view, bool drop) {
  if (view.edit.tempItemPlusOne == 0) return true;
  return ViewDeleteItem(view.handle, view.edit.tempItemPlusOne - 1, drop ? 1 : 0) > 0;
}

bool viewIsModified(ViewObject& view, bool withEdit) {
  for (const ViewItem& item : view.items)
    for (uint8_t flag : item.changed)
      if (flag & 4) return true;
  if (view.project && FileProjBufIsModify(view.project, view.handle)) return true;
  if (withEdit && view.edit.tempItemPlusOne != 0 && view.edit.tempItemPlusOne - 1u < view.items.size()) {
    EditObject* e = edit::checked(view.items[view.edit.tempItemPlusOne - 1].edit);
    if (e && e->modified) return true;
  }
  return false;
}

void discardChanges(ViewObject& view) {
  endCellEdit(view, true);
  for (ViewItem& item : view.items)
    for (uint8_t& flag : item.changed) flag &= ~4;
  if (view.project) FileProjBufDropEdits(view.project, view.handle);
}

std::string fieldText(uint16_t type, uint16_t position, uint16_t size, const uint8_t* data, int32_t width) {
  type &= 0x3F;
  if (IsIntType(type)) {
    const uint32_t value = GetBitData(size, data, position, IsSignedIntType(type));
    uint8_t four[4];
    std::memcpy(four, &value, 4);
    return ItemDataToStr(type, width, four, 4);
  }
  if (IsFloatType(type) && size == 4) {
    float f;
    std::memcpy(&f, data, 4);
    const double wide = f;
    uint8_t eight[8];
    std::memcpy(eight, &wide, 8);
    return ItemDataToStr(type, width, eight, 8);
  }
  return ItemDataToStr(type, width, data, size);
}

bool dropRecordList(ViewObject& view) {
  if (view.recordList.items == nullptr) {
    view.recordList = FileRecList{};
    return true;
  }
  const bool ok = FileDeleteRecList(&view.recordList) == 0;
  view.recordList = FileRecList{};
  return ok;
}

int32_t seekPosition(ViewObject& view, int32_t position) {
  const int32_t count = positionCount(view);
  if (position < 0) position = 0;
  if (position > count) position = count;
  view.currentRecord = position;
  view.topRecord = -1;
  return viewReloadRecords(view, position) < 0 ? -1 : 0;
}

void refreshCount(ViewObject& view) { updateRange(view); }

int32_t viewFileSave(ViewObject& view, int32_t reseek) { return ViewFileSave(view.handle, reseek); }

namespace {

// The view is invalidated and its rows reloaded at the next position asked for.
void invalidateAll(ViewObject& view) {
  if (view.window) ui::invalidateWindow(view.window);
  view.topRecord = -1;
}

int32_t currentPosition(const ViewObject& view) { return std::max(view.currentRecord, 0); }

// The record-buffer set that the view's main table is shown through.
bool mainSlot(ViewObject& view, fileproj::Project*& project, int32_t& setNumber, int32_t& slot) {
  project = fileproj::findProject(view.project);
  if (!project || !view.mainTable) return false;
  const int32_t tableIndex = fileproj::tableIndexOf(*project, view.mainTable);
  if (tableIndex < 0) return false;
  return fileproj::findSlot(*project, view.handle, tableIndex, -1, setNumber, slot);
}

}  // namespace
}  // namespace zemta::views

using namespace zemta;
using namespace zemta::views;

ZEMTA_API int32_t ViewFileSave(ViewHandle handle, int32_t reseek) {
  ViewObject* view = checkView(handle);
  if (!view) return -1;
  if (!endCellEdit(*view)) return -1;
  for (ViewItem& item : view->items)
    for (uint8_t& flag : item.changed) flag &= ~4;
  if (view->project) {
    const int32_t saved = FileProjBufSaveAll(view->project, view->handle, view->mainTable, 0, view->window);
    if (saved != 0) return saved;
  }
  if (ViewProjRefresh(view->handle) < 0) return -1;
  if (reseek == 0) return 0;
  const int32_t position = currentPosition(*view);
  if (hasList(*view)) {
    // A record saved as new is the table's last: it joins the list so that
    // it stays in sight. A list that already holds it (all the records, say)
    // keeps its size.
    const FileDBHandle table = mainTableHandle(*view);
    const int32_t records = table ? FileDBRecGetSize(table) : -1;
    if (records > 0) view->recordCount = static_cast<uint32_t>(records);
    const uint32_t last = records > 0 ? static_cast<uint32_t>(records - 1) : 0;
    const FileRecList& old = view->recordList;
    const bool present = records <= 0 || std::find(old.items, old.items + old.count, last) != old.items + old.count;
    if (!present) {
      FileRecList grown{};
      const int32_t capacity = std::max({records, old.capacity, old.count + 1});
      grown.items = static_cast<uint32_t*>(std::malloc(static_cast<size_t>(capacity) * sizeof(uint32_t)));
      if (!grown.items) {
        ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
        return -1;
      }
      grown.capacity = capacity;
      std::memcpy(grown.items, old.items, static_cast<size_t>(old.count) * sizeof(uint32_t));
      grown.count = old.count;
      grown.items[grown.count++] = last;
      if (ViewFileSetRecList(handle, &grown) != 0) return -1;
    }
  }
  view->currentRecord = -1;
  return seekPosition(*view, position);
}

ZEMTA_API int32_t ViewFileFlush(ViewHandle handle) {
  ViewObject* view = checkView(handle);
  if (!view) return -1;
  if (!endCellEdit(*view)) return -1;
  if (fileproj::Project* p = fileproj::findProject(view->project)) {
    for (size_t n = 0; n < p->sets.size(); ++n) {
      fileproj::BufferSet& set = *p->sets[n];
      if (set.owner != view->handle) continue;
      for (size_t k = 0; k < set.slots.size(); ++k) {
        if (FileProjBufSaveRow(view->project, static_cast<int32_t>(n), static_cast<int32_t>(k), 0, 0) != 0) return -1;
        // A row the write left edited or pending was not written.
        for (uint32_t flags : set.slots[k].flags)
          if (flags & (fileproj::kRowEdited | fileproj::kRowPending)) {
            ZEMTA_REPORT(ZEMTA_ERR_MEMORY_IN_USE);
            return -1;
          }
        for (uint32_t& flags : set.slots[k].flags) flags &= ~(fileproj::kRowHoldsRecord | fileproj::kRowChanged);
      }
    }
  }
  view->topRecord = -1;
  return seekPosition(*view, currentPosition(*view));
}

ZEMTA_API int32_t ViewFileCheck(ViewHandle handle, int32_t force) {
  ViewObject* view = checkView(handle);
  if (!view) return -1;
  // Lists of the main table grow by the records others added.
  bool grown = false;
  for (size_t i = 0; i < view->items.size(); ++i) {
    if (!(view->items[i].flags & kItemList) || !view->items[i].table) continue;
    const int32_t result = itemCheckSize(*view, i);
    if (result < 0) return -1;
    grown = grown || result > 0;
  }
  if (grown) return 1;
  const FileDBHandle table = mainTableHandle(*view);
  if (!table) return 0;
  const int32_t records = FileDBRecGetSize(table);
  if (records < 0) return -1;
  const bool changed = static_cast<uint32_t>(records) != view->recordCount;
  if (!force && !changed) return 0;
  const int32_t position = currentPosition(*view);
  view->recordCount = static_cast<uint32_t>(records);
  refreshCount(*view);
  if (!force) return 1;
  view->currentRecord = -1;
  return seekPosition(*view, position) == 0 ? 1 : -1;
}

ZEMTA_API int32_t ViewFileReadSmall(ViewHandle handle, int32_t fdbId) {
  ViewObject* view = checkView(handle);
  if (!view) return -1;
  fileproj::Project* p = fileproj::findProject(view->project);
  fileproj::TableEntry* entry = (p && view->mainTable && fdbId) ? fileproj::FileProjFindTable(view->project, fdbId)
                                                                 : nullptr;
  const fileproj::Field* key = nullptr;
  if (entry)
    for (const auto& f : entry->fields)
      if (f.kind() == 3) {
        key = &f;
        break;
      }
  if (!key) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (!endCellEdit(*view)) return -1;
  if (FileProjBufSearch(view->project, view->handle, fdbId, key->id()) < 0) return -1;
  return ViewProjRefresh(view->handle) < 0 ? -1 : 0;
}

ZEMTA_API int32_t ViewFileIsAppend(ViewHandle handle) {
  ViewObject* view = checkView(handle);
  if (!view || !mainTableHandle(*view)) return 0;
  return view->currentRecord >= positionCount(*view) ? 1 : 0;
}

ZEMTA_API int32_t ViewFileIsDelRecPos(ViewHandle handle) {
  ViewObject* view = checkView(handle);
  if (!view) return 0;
  const int32_t count = hasList(*view) ? view->recordList.count : static_cast<int32_t>(view->recordCount);
  return view->currentRecord >= 0 && view->currentRecord < count ? 1 : 0;
}

ZEMTA_API int32_t ViewFileDelRecPos(ViewHandle handle) {
  ViewObject* view = checkView(handle);
  if (!view) return -1;
  if (!endCellEdit(*view)) return -1;
  const FileDBHandle table = mainTableHandle(*view);
  if (!table) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
    return -1;
  }
  int32_t record = -1;
  bool reseek = false;
  if (hasList(*view)) {
    FileRecList& list = view->recordList;
    const int32_t at = view->currentRecord;
    if (at < 0 || at >= list.count) {  // the append row of a filtered view: nothing to delete
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return -1;
    }
    record = static_cast<int32_t>(list.items[at]);
    std::memmove(list.items + at, list.items + at + 1, static_cast<size_t>(list.count - at - 1) * sizeof(uint32_t));
    --list.count;
    // The table closes the gap: the records behind the deleted one move down.
    for (int32_t i = 0; i < list.count; ++i)
      if (list.items[i] > static_cast<uint32_t>(record)) --list.items[i];
    if (view->currentRecord >= list.count && view->currentRecord > 0) --view->currentRecord;
  } else {
    record = view->currentRecord;
    if (record < 0 || record >= static_cast<int32_t>(view->recordCount)) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return -1;
    }
    if (record + 1 >= static_cast<int32_t>(view->recordCount)) {
      --view->currentRecord;
      reseek = true;
    }
  }
  if (FileDBRecDelete(table, record, record, nullptr) != 0) return -1;
  if (view->recordCount > 0) --view->recordCount;
  refreshCount(*view);
  if (reseek) return seekPosition(*view, std::max(view->currentRecord, 0));
  invalidateAll(*view);
  return seekPosition(*view, std::max(view->currentRecord, 0));
}

ZEMTA_API int32_t ViewFileDelRecPosAftAll(ViewHandle handle) {
  ViewObject* view = checkView(handle);
  if (!view) return -1;
  if (!endCellEdit(*view)) return -1;
  const FileDBHandle table = mainTableHandle(*view);
  if (!table) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
    return -1;
  }
  int32_t first = view->currentRecord;
  if (hasList(*view)) {
    first = recordAtPosition(*view, view->currentRecord);
    view->currentRecord = -1;
    if (!dropRecordList(*view)) return -1;
  }
  const int32_t records = FileDBRecGetSize(table);
  if (records < 0 || first < 0 || first >= records) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (FileDBRecDelete(table, first, records - 1, nullptr) != 0) return -1;
  view->recordCount = static_cast<uint32_t>(first);
  refreshCount(*view);
  invalidateAll(*view);
  return seekPosition(*view, std::max(first - 1, 0));
}

ZEMTA_API int32_t ViewFileRecDelete(ViewHandle handle) {
  ViewObject* view = checkView(handle);
  if (!view) return -1;
  const FileDBHandle table = mainTableHandle(*view);
  if (!view->project || !table) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
    return -1;
  }
  if (!endCellEdit(*view)) return -1;
  int32_t record = -1;
  FileRecList& list = view->recordList;
  if (list.items != nullptr) {
    if (list.count == 0 || view->currentRecord < 0 || view->currentRecord >= list.count) return -1;
    const int32_t at = view->currentRecord;
    record = static_cast<int32_t>(list.items[at]);
    if (FileDBRecDelete(table, record, record, nullptr) != 0) return -1;
    std::memmove(list.items + at, list.items + at + 1, static_cast<size_t>(list.count - at - 1) * sizeof(uint32_t));
    --list.count;
    // The table renumbers the records behind the deleted one; so does the
    // list, or it would point at their neighbours.
    for (int32_t i = 0; i < list.count; ++i)
      if (list.items[i] > static_cast<uint32_t>(record)) --list.items[i];
  } else {
    record = view->currentRecord;
    if (record < 0 || record >= static_cast<int32_t>(view->recordCount)) return -1;
    if (FileDBRecDelete(table, record, record, nullptr) != 0) return -1;
  }
  if (view->recordCount > 0) --view->recordCount;
  refreshCount(*view);
  invalidateAll(*view);
  return seekPosition(*view, view->currentRecord);
}

ZEMTA_API int32_t ViewFileSetFilter(ViewHandle handle, int32_t index, int32_t type, const void* fromKey,
                                    const void* toKey) {
  ViewObject* view = checkView(handle);
  if (!view) return -1;
  const FileDBHandle table = mainTableHandle(*view);
  if (!view->project || !table) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
    return -1;
  }
  if (type < 1 || type > 3) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (!endCellEdit(*view)) return -1;
  // Moving to the first record loses unsaved changes: a user who declines
  // keeps the view as it is, filter and all.
  if (viewIsModified(*view, false)) {
    const std::string caption = "警告";
    if (UnlockedMessageBox(view->window, "レコードの移動を行うと変更が失われます。実行しますか？", caption,
                           platform::kMbOkCancel | platform::kMbIconWarning | platform::kMbDefButton2) !=
        platform::kIdOk)
      return -1;
    discardChanges(*view);
  }
  if (seekPosition(*view, 0) != 0) return -1;
  if (fromKey && toKey) {
    int32_t result = 0;
    FileRecList& list = view->recordList;
    if (type == 1 || list.items == nullptr) {
      if (!dropRecordList(*view)) return -1;
      result = FileIdxSear(table, index, fromKey, toKey, &list, 0, 0);
    } else if (type == 2) {
      result = FileIdxAndSear(table, index, fromKey, toKey, &list, 0, 0);
    } else {
      result = FileIdxOrSear(table, index, fromKey, toKey, &list, 0, 0);
    }
    if (result < 0) return -1;
    // An empty result is a list of no records, not the whole table.
    if (list.items == nullptr && FileNewRecList(&list, 1) != 0) return -1;
  } else if (view->recordList.items != nullptr) {
    if (!dropRecordList(*view)) return -1;
  }
  refreshCount(*view);
  invalidateAll(*view);
  return seekPosition(*view, 0);
}

ZEMTA_API int32_t ViewFileGetFdbID(ViewHandle handle) {
  ViewObject* view = checkView(handle);
  return view ? view->mainTable : 0;
}

ZEMTA_API int32_t ViewFileIsFilterVisible(ViewHandle handle) {
  ViewObject* view = checkView(handle);
  if (!view || !view->mainTable) return 0;
  if (view->style & kStyleFilter) return 1;
  fileproj::Project* p = fileproj::findProject(view->project);
  if (!p) return 0;
  const int32_t index = fileproj::tableIndexOf(*p, view->mainTable);
  if (index < 0) return 0;
  for (const auto& f : p->tables[static_cast<size_t>(index)].fields)
    if (static_cast<uint32_t>(f.indexFlags()) & 0x1000000u) return 1;
  return 0;
}

ZEMTA_API int32_t ViewFileGetSelCount(ViewHandle handle, int32_t* position) {
  ViewObject* view = checkView(handle);
  if (!view) return -1;
  if (view->recordList.items != nullptr) {
    if (position) *position = recordAtPosition(*view, view->currentRecord);
    return view->recordList.count;
  }
  if (position) *position = view->currentRecord;
  return static_cast<int32_t>(view->recordCount);
}

ZEMTA_API FileDBHandle ViewFileGetRecList(ViewHandle handle, FileRecList* out) {
  ViewObject* view = checkView(handle);
  if (!view) return 0;
  if (out) {
    out->capacity = view->recordList.capacity;
    out->count = view->recordList.count;
    out->items = view->recordList.items;
    out->remoteId = view->recordList.remoteId;
  }
  return mainTableHandle(*view);
}

ZEMTA_API int32_t ViewFileSetRecList(ViewHandle handle, const FileRecList* list) {
  ViewObject* view = checkView(handle);
  if (!view) return -1;
  if (!list) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  if (list->items == view->recordList.items) {
    view->recordList = *list;
  } else {
    if (!dropRecordList(*view)) return -1;
    view->recordList = *list;
  }
  if (view->recordList.items == nullptr) view->recordList.count = 0;
  refreshCount(*view);
  invalidateAll(*view);
  return seekPosition(*view, 0);
}

ZEMTA_API int32_t ViewFileClean(ViewHandle handle) {
  ViewObject* view = checkView(handle);
  if (!view) return -1;
  if (!endCellEdit(*view)) return -1;
  for (ViewItem& item : view->items)
    for (uint8_t& flag : item.changed) flag &= ~4;
  fileproj::Project* p = nullptr;
  int32_t setNumber = -1, slot = -1;
  if (!view->mainTable || !mainSlot(*view, p, setNumber, slot)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
    return -1;
  }
  fileproj::BufferSet& set = *p->sets[static_cast<size_t>(setNumber)];
  if (set.visible > 0) {
    // The row shown first in each table of the set: the view's current record.
    for (size_t k = 0; k < set.slots.size(); ++k) {
      const uint16_t row = set.mapAt(k, 0);
      if (row == fileproj::kNoRow) continue;
      fileproj::BufferSlot& s = set.slots[k];
      std::memset(set.image(s, row), 0, s.size());
      s.flags[row] |= fileproj::kRowChanged | fileproj::kRowEdited;
    }
  }
  if (FileProjBufFill(view->project, view->handle, view->mainTable, 0) < 0) return -1;
  return ViewProjRefresh(view->handle) < 0 ? -1 : 0;
}
