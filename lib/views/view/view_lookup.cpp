// Reference look-ups. After the clerk changed a field of a record row, the
// key field of a reference looks its value up in the referenced table (the
// record-select window offers the records when several match) and the row
// takes the record chosen; any other field has the row's references and
// calculated fields recomputed. A double click on the key field being edited
// in a form offers the records its value matches in the same way.
#include <algorithm>

#include "lib/store/project/fileproj_internal.h"
#include "lib/views/view/view_bind.h"
#include "lib/views/view/view_object.h"
#include "platform/ui/window.h"
#include "zemta/filebuf.h"
#include "zemta/fileidx.h"
#include "zemta/fileproj_resource.h"
#include "zemta/filesearch.h"

namespace zemta::views {
namespace {

namespace ui = platform::ui;

fileproj::Project* projectOf(const ViewObject& v) {
  return fileproj::FileProjCheckHandle(v.project) < 0 ? nullptr : fileproj::findProject(v.project);
}

// Whether the address lies in a row of a record-buffer set (an item without
// one keeps its record in its own image, which the project knows nothing of).
bool inRecordRow(const ViewObject& v, const uint8_t* address) {
  fileproj::Project* p = projectOf(v);
  fileproj::RowAt at;
  return p && address && fileproj::findRowAt(*p, address, at);
}

// The reference field holding the address, null when it is none or when its
// table cannot be searched for it (no index on the referenced field).
const fileproj::Field* referenceField(const ViewObject& v, const uint8_t* address) {
  fileproj::Project* p = address ? projectOf(v) : nullptr;
  const fileproj::Field* key = p ? fileproj::referenceFieldAt(*p, address) : nullptr;
  fileproj::TableEntry* target = key ? fileproj::FileProjFindTable(v.project, key->refTable()) : nullptr;
  const fileproj::Field* referenced = target ? fileproj::FileProjFindField(*target, key->refField()) : nullptr;
  if (!referenced || FileGetIndexPos(target->table, referenced->offset(), referenced->size(), 1) < 0) return nullptr;
  return key;
}

// A key worth looking up: a text with any character in it; a number always.
bool holdsKey(const fileproj::Field& key, const uint8_t* value) {
  if (key.typeCode() >= 2) return true;
  return std::any_of(value, value + key.size(), [](uint8_t b) { return b != 0; });
}

// The records of the referenced table that the key's value matches; the
// clerk picks one when there are several, and the row takes it. 1 when the
// row took a record, 0 when none matched or none was picked, -1 on failure.
int32_t lookUp(ViewObject& v, uint8_t* address, const fileproj::Field& key) {
  FileRecList hits{};
  struct Free {
    FileRecList& list;
    ~Free() {
      if (list.items) FileDeleteRecList(&list);
    }
  } freeHits{hits};
  if (FileProjKeySearch(v.project, address, &hits) < 0) return -1;
  if (hits.count <= 0) return 0;
  const ViewHandle handle = v.handle;
  const int32_t chosen = selectRecord(v.project, key.refTable(), v.window, &hits, 0);
  // The view may have gone while the select window waited.
  if (viewOfHandle(handle) != &v) return -1;
  if (hits.count > 1) ui::setFocus(v.window);
  if (chosen < 0 || chosen >= hits.count) return 0;
  if (FileProjBufRefSearch(v.project, v.handle, address, static_cast<int32_t>(hits.items[chosen]), 1) < 0) return -1;
  return projRefresh(v) < 0 ? -1 : 1;
}

}  // namespace

int32_t viewAfterChange(ViewObject& v, uint8_t* address) {
  if (!inRecordRow(v, address)) return 0;
  if (FileProjRbfSetAct(v.project, address, FILEBUF_ROW_EDITED, 1) < 0) return -1;
  if (const fileproj::Field* key = referenceField(v, address); key && holdsKey(*key, address)) {
    const int32_t taken = lookUp(v, address, *key);
    if (taken != 0) return taken < 0 ? -1 : 0;
  }
  const int32_t references = FileProjBufRefUpdate(v.project, v.handle, address);
  const int32_t calculated = FileProjRefCalBfp(v.project, v.handle, address);
  if (references < 0 || calculated < 0) return -1;
  return references == 2 || calculated == 2 ? projRefresh(v) : 0;
}

int32_t viewLookUpReference(ViewObject& v) {
  if (!v.project || isListView(v) || v.edit.tempItemPlusOne == 0 || v.edit.tempItemPlusOne > v.items.size()) return 0;
  uint8_t* address = v.items[v.edit.tempItemPlusOne - 1u].image;
  const fileproj::Field* key = referenceField(v, address);
  if (!key) return 0;
  const int32_t taken = lookUp(v, address, *key);
  if (taken <= 0) return taken;
  // The edit opens again on the field, showing the value taken.
  return ViewEditUndo(v.handle) < 0 ? -1 : 1;
}

}  // namespace zemta::views
