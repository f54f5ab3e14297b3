// Temporary indexes: an index entry of its own (kept here, not in the table)
// over one field of a table, built for every record or for the records of a
// list into a B-tree file of the temporary folder, and deleted by the caller.
//
// The file is named "<table handle, 8 hex digits>.<key offset, 3 hex digits>"
// in the temporary folder; it is a B-tree file (zemta/btree.h) with a 48-byte
// user header, left zero, and order 8. Entries carry the record's file offset
// like the entries of a declared index, so the searches read it the same way.
//
// The key of an entry is the field's keyLen bytes as the record holds them,
// the form the declared indexes use and the compares expect.
//
// A table kept by the remote file service has the service build the index
// over the field's column (for all records, or for the records of a list the
// service holds) and drop it again; the entry then holds the service's index
// in place of a B-tree, and searches name it by that.
#include <cstdio>
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include "lib/core/report.h"
#include "lib/store/tables/filedb_internal.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"
#include "platform/base/path.h"
#include "zemta/errors.h"
#include "zemta/tempidx.h"

namespace zemta::filedb {
namespace {

constexpr uint32_t kTempOrder = 8;
constexpr uint32_t kTempHeaderLen = 48;

struct TempIndex {
  IndexEntry entry;
  FileDBHandle table = 0;
};

std::mutex& registryLock() {
  static std::mutex lock;
  return lock;
}

// Entries stay where they are while others come and go: callers hold pointers.
std::list<TempIndex>& registry() {
  static std::list<TempIndex> entries;
  return entries;
}

std::string tempIndexPath(FileDBHandle table, uint16_t keyOffset) {
  char name[32];
  std::snprintf(name, sizeof name, "%08X.%03X", static_cast<unsigned>(table), static_cast<unsigned>(keyOffset));
  return platform::joinPath(platform::temporaryFolder(), name);
}

// Removes the file; a file already gone counts as removed.
bool removeFile(const std::string& path) {
  if (!platform::fileExists(path) || platform::deleteFile(path)) return true;
  ZEMTA_REPORT(platform::lastError());
  return false;
}

bool readRecord(Table& t, uint32_t n, uint32_t count, uint8_t* record) {
  if (n >= count) {  // past the end: nothing to read
    ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
    return false;
  }
  uint32_t done = 0;
  if (!ZemtaReadFile(t.file, record, t.recordLen, &done, static_cast<int32_t>(t.recordOffset(n)), ZEMTA_FILE_BEGIN)) {
    ZEMTA_REPORT(platform::lastError());
    return false;
  }
  if (done != t.recordLen) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
    return false;
  }
  return true;
}

// Inserts the key of every record (or of every listed record, in list order).
bool fillTree(Table& t, const IndexEntry& e, const FileRecList* list) {
  uint32_t count = 0;
  if (!fileRecordCount(t, count)) return false;
  std::vector<uint8_t> record(t.recordLen);
  const uint32_t total = list ? static_cast<uint32_t>(list->count) : count;
  for (uint32_t i = 0; i < total; ++i) {
    const uint32_t n = list ? list->items[i] : i;
    if (!readRecord(t, n, count, record.data())) return false;
    if (BtreeIns(e.handle, t.recordOffset(n), record.data() + e.keyDesc) < 0) return false;
  }
  return true;
}

// Keeps a built index among the temporary ones: the caller's handle on it.
intptr_t keep(IndexEntry& e, FileDBHandle table) {
  e.check = ~e.handle;
  std::lock_guard<std::mutex> guard(registryLock());
  registry().push_back({e, table});
  return reinterpret_cast<intptr_t>(&registry().back().entry);
}

// A table kept by the remote file service: the service builds the index over
// the column of the key's field, for the records of the list's own list on
// the service or for all records, and keeps it; no file is made here.
intptr_t makeRemote(Table& t, IndexEntry& e, const FileRecList* list) {
  const RemoteColumn* column = columnAt(t, static_cast<uint16_t>(e.keyDesc), static_cast<uint8_t>(e.fieldWord));
  if (!column || (list && list->remoteId == 0)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const uint32_t index = remoteTempIndex(t, *column, list ? list->remoteId : 0);
  if (index == 0) return -1;
  e.remoteIndex = static_cast<int32_t>(index);
  return keep(e, t.handle);
}

}  // namespace

IndexEntry* findTempIndex(const Table& table, const void* entry) {
  std::lock_guard<std::mutex> guard(registryLock());
  for (auto& temp : registry())
    if (&temp.entry == entry && temp.table == table.handle && temp.entry.sound()) return &temp.entry;
  return nullptr;
}

}  // namespace zemta::filedb

using namespace zemta::filedb;

ZEMTA_API intptr_t FileMakeTempIndex(FileDBHandle handle, const FileTempIndexKey* key, const FileRecList* list,
                                     BtreeCompareFunc compare) {
  Table* t = checkedTable(handle);
  if (!t) return -1;
  if (!key) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  if (list && !list->items) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  if (list && (list->count <= 0 || list->count > list->capacity)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  // The key must lie inside the record.
  if (key->keyLen == 0 || static_cast<uint32_t>(key->keyOffset) + key->keyLen > t->recordLen) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  IndexEntry e;
  e.order = kTempOrder;
  e.keyType = key->keyType;
  e.keyDesc = static_cast<int16_t>(key->keyOffset);
  e.keyLen = key->keyLen;
  e.fieldWord = key->fieldWord;
  e.compare = compare ? compare : chooseCompare(key->keyType, key->keyLen);
  e.sourceIndex = e.linkIndex = e.ownIndex = -1;
  if (t->remote()) return makeRemote(*t, e, list);
  e.path = tempIndexPath(handle, key->keyOffset);
  // A file left behind by an earlier run would be opened with its entries.
  if (!removeFile(e.path)) return -1;
  e.handle = BtreeCreate(e.path.c_str(), kTempHeaderLen, kTempOrder, key->keyType, key->keyLen, e.compare, 1);
  if (e.handle < 0) {
    removeFile(e.path);
    return -1;
  }
  const bool wasHeld = t->held;
  bool ok = holdTable(*t, FILEDB_MODE_READ);
  if (ok) {
    bool treeOpen = BtreeOpen(e.handle, BTREE_MODE_READ_WRITE | BTREE_MODE_NO_WRITE_THROUGH) == 0;
    ok = treeOpen && fillTree(*t, e, list);
    if (treeOpen && BtreeClose(e.handle) < 0) ok = false;
    if (!wasHeld) releaseHold(*t);
  }
  if (!ok) {
    BtreeRelease(e.handle);
    removeFile(e.path);
    return -1;
  }
  return keep(e, handle);
}

ZEMTA_API int32_t FileDeleteTempIndex(intptr_t index) {
  if (index == 0 || index == -1) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  std::string path;
  int32_t tree = -1;
  uint32_t remoteIndex = 0;
  {
    std::lock_guard<std::mutex> guard(registryLock());
    auto& entries = registry();
    auto it = entries.begin();
    while (it != entries.end() && reinterpret_cast<intptr_t>(&it->entry) != index) ++it;
    if (it == entries.end()) {  // not one of ours, or deleted already
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return -1;
    }
    path = it->entry.path;
    tree = it->entry.handle;
    remoteIndex = static_cast<uint32_t>(it->entry.remoteIndex);
    entries.erase(it);
  }
  // The service's index is dropped there; the entry goes either way.
  if (remoteIndex != 0) return dropServiceObject(remoteIndex);
  BtreeRelease(tree);
  return removeFile(path) ? 0 : -1;
}
