// Project upkeep: checking index files against their records (and rebuilding
// the broken ones), emptying tables, and the unique-field check made before a
// record is saved.
//
// A check walks the whole index and declares it broken when an entry points
// at no whole record, when the key it holds is not the key of the record it
// points at, when the index and the table disagree on the number of records,
// or when the index file still carries the dirty magic (a write that never
// finished). A rebuild goes through FileAddIndex and puts the new entry back
// in the old entry's place, so index numbers do not change.
#include "zemta/fileproj_upkeep.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "lib/core/little_endian.h"
#include "lib/core/report.h"
#include "lib/store/tables/filedb_internal.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/store/change_listener.h"
#include "platform/base/path.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"
#include "platform/base/message_box.h"
#include "zemta/fileaccess.h"

using namespace zemta;
using namespace zemta::filedb;
using namespace zemta::fileproj;

namespace {

const char kCheckCaption[] = "ｲﾝﾃﾞｯｸｽﾌｧｲﾙの検査";

constexpr int32_t kKindUnique = INT32_MIN;  // bit 31
constexpr int32_t kKindConfirm = 0x40000000;
constexpr int32_t kKindEmptyExempt = 0x20000000;
constexpr uint32_t kMaxUniqueField = 4096;

uint32_t subKind(const Field& f) { return (static_cast<uint32_t>(f.kind()) >> 16) & 0xFF; }

// What the callback of the walk needs to judge each entry.
struct CheckWalk {
  Table* table;
  IndexEntry* entry;
  uint32_t fileSize;
  std::vector<uint8_t> record, key;
  uint32_t every = 1, seen = 0;
  const IndexBuildProgress* progress = nullptr;
};

int32_t checkEntry(uint32_t, uint32_t offset, const void* storedKey, void* data) {
  auto& w = *static_cast<CheckWalk*>(data);
  Table& t = *w.table;
  if (w.progress && w.progress->step && ++w.seen % w.every == 0) w.progress->step();
  if (offset >= w.fileSize || offset < t.headerLen || (offset - t.headerLen) % t.recordLen != 0) return 1;
  uint32_t done = 0;
  if (!ZemtaReadFile(t.file, w.record.data(), t.recordLen, &done, static_cast<int32_t>(offset), ZEMTA_FILE_BEGIN) ||
      done != t.recordLen)
    return 1;
  buildKey(*w.entry, w.record.data(), w.key.data());
  return w.entry->compare(storedKey, w.key.data(), w.entry->keyLen) == 0 ? 0 : 1;
}

// The progress display the window framework installed for index builds.
IndexBuildProgress currentProgress() {
  IndexBuildProgress p = setIndexBuildProgress({});
  setIndexBuildProgress(p);
  return p;
}

// Walks index i of an open table: 0 sound, 1 broken, -1 failure.
int32_t walkIndex(Table& t, IndexEntry& e, const std::string& caption) {
  uint32_t count = 0;
  if (!fileRecordCount(t, count)) return -1;
  uint32_t fileSize = t.headerLen + count * static_cast<uint32_t>(t.recordLen);
  bool held = (e.state & kIndexHeldEx) != 0;
  // A file that cannot even be opened as a tree (missing, cut, overwritten)
  // is as broken as one with wrong entries: it is rebuilt, not given up on.
  if (!held && BtreeOpen(e.handle, BTREE_MODE_READ) < 0) return 1;
  int32_t result = 0;
  uint8_t header[kIndexHeaderLen];
  if (BtreeRead(e.handle, header, kIndexHeaderLen) < 0 || indexHeaderSum(header) != 0 ||
      std::memcmp(header, kCleanMagic, kMagicLen) != 0)
    result = 1;
  if (result == 0) {
    IndexBuildProgress progress = currentProgress();
    CheckWalk w{&t, &e, fileSize, std::vector<uint8_t>(t.recordLen), std::vector<uint8_t>(e.keyLen)};
    w.every = count == 0 ? 1 : (count + 9) / 10;
    w.progress = &progress;
    if (progress.begin) progress.begin(caption, count == 0 ? 0 : (count + w.every - 1) / w.every);
    uint32_t entries = 0;
    int32_t walked = BtreeCheck(e.handle, &entries, checkEntry, &w);
    if (progress.end) progress.end();
    result = walked != 0 ? 1 : (entries != count ? 1 : 0);
  }
  if (!held) BtreeClose(e.handle);
  return result;
}

// Deletes the file of index i and builds it anew in the same place.
int32_t rebuildIndex(Table& t, size_t i, const char* title) {
  IndexEntry old = t.indexes[i];
  if (old.handle >= 0) BtreeRelease(old.handle);
  t.indexes[i].handle = -1;
  t.indexes[i].check = 0;
  t.indexes[i].state = 0;
  if (platform::fileExists(old.path) && !platform::deleteFile(old.path)) {
    ZEMTA_REPORT(platform::lastError());
    return -1;
  }
  if (FileAddIndex(t.handle, old.path.c_str(), old.order, old.keyType, old.keyDesc, old.keyLen, old.fieldWord,
                   old.compare, old.composite() ? old.parts.data() : nullptr, title) < 0) {
    // FileAddIndex may have added the entry before its build failed.
    if (t.indexes.size() > i + 1 && t.indexes.back().path == old.path) {
      BtreeRelease(t.indexes.back().handle);
      t.indexes.pop_back();
    }
    return -1;
  }
  IndexEntry fresh = t.indexes.back();
  t.indexes.pop_back();
  fresh.sourceTable = old.sourceTable;
  fresh.sourceIndex = old.sourceIndex;
  fresh.linkIndex = old.linkIndex;
  fresh.ownIndex = old.ownIndex;
  fresh.remoteIndex = old.remoteIndex;
  t.indexes[i] = fresh;
  return 0;
}

// "[table] - [field]" or, for a composite index, the part fields joined by " + ".
std::string indexTitle(const TableEntry& entry, const IndexEntry& e, int32_t index) {
  std::string title = "[" + entry.name() + "] - [";
  if (!e.composite()) {
    const Field* f = nullptr;
    for (const auto& field : entry.fields)
      if (field.offset() == static_cast<uint16_t>(e.keyDesc) && (field.fieldWord() & 0xFF) == (e.fieldWord & 0xFF)) {
        f = &field;
        break;
      }
    (void)index;
    if (f) title += f->name();
  } else {
    for (int p = 0; p < e.partCount(); ++p) {
      if (p) title += " + ";
      for (const auto& field : entry.fields)
        if (field.offset() == e.parts[p].offset && field.size() == e.parts[p].length) {
          title += field.name();
          break;
        }
    }
  }
  return title + "]";
}

HWND projectOwner(const Project& p) {
  if (p.owner) return p.owner;
  for (const auto& s : p.sets)
    if (s && s->window) return s->window;
  return nullptr;
}

bool isEmptyValue(const Field& f, const uint8_t* at) {
  uint16_t word = f.fieldWord();
  uint32_t bits = word >> 8;
  if (bits != 0 && f.size() <= 4) {
    uint32_t value = 0;
    for (uint32_t i = 0; i < f.size(); ++i) value |= static_cast<uint32_t>(at[i]) << (8 * i);
    uint32_t mask = bits >= 32 ? 0xFFFFFFFFu : ((1u << bits) - 1);
    return ((value >> (word & 0xFF)) & mask) == 0;
  }
  for (uint32_t i = 0; i < f.size(); ++i)
    if (at[i]) return false;
  return true;
}

}  // namespace

ZEMTA_API int32_t FileIdxCheck(FileDBHandle handle, int32_t index, uint32_t flags, const char* title) {
  Table* tp = checkedTable(handle);
  if (!tp) return -1;
  Table& t = *tp;
  if (index < 0 || static_cast<size_t>(index) >= t.indexes.size() || !t.indexes[index].own()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
    return -1;
  }
  if (t.indexes[index].remoteIndex != 0 || t.remote()) return 0;
  std::string caption = kCheckCaption;
  if (title && *title) caption += std::string(" - ") + title;

  if (!openTable(t, FILEDB_MODE_READ)) return -1;
  IndexEntry& e = t.indexes[index];
  int32_t result = e.handle < 0 ? 1 : walkIndex(t, e, caption);
  if (!closeTable(t) && result >= 0) result = -1;
  if (result != 1) return result;

  std::string path = t.indexes[index].path;
  if (flags & FILEIDX_CHECK_SHOW) {
    std::string text = "インデックスファイル(" + path + ")が壊れています";
    UnlockedMessageBox(t.owner, text, caption, platform::kMbOk | platform::kMbIconWarning);
  }
  if (flags & FILEIDX_CHECK_REBUILD) {
    if (rebuildIndex(t, static_cast<size_t>(index), title) < 0) return -1;
  } else if (flags & FILEIDX_CHECK_DELETE) {
    IndexEntry& broken = t.indexes[index];
    if (broken.handle >= 0 && broken.state != 0) BtreeCloseEx(broken.handle);
    broken.state = 0;
    if (platform::fileExists(path) && !platform::deleteFile(path)) {
      ZEMTA_REPORT(platform::lastError());
      return -1;
    }
  }
  return 1;
}

namespace zemta::fileproj {

int32_t uniqueKeyCheck(Project& project, TableEntry& entry, const uint8_t* record, const uint8_t* before,
                       int32_t recordNumber, HWND owner, bool skipAutomatic) {
  Table* tp = checkedTable(entry.table);
  if (!tp) return -1;
  Table& t = *tp;
  const bool isNew = before == nullptr;
  int32_t result = 0;
  for (size_t i = 0; i < t.indexes.size(); ++i) {
    const IndexEntry& e = t.indexes[i];
    if (!e.own() || e.composite()) continue;
    const Field* f = FileProjGetIndexField(entry, static_cast<int32_t>(i));
    if (!f) return -1;
    if (f->size() > kMaxUniqueField) {
      ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
      return -1;
    }
    int32_t kind = f->kind();
    if (!(kind & kKindUnique)) continue;
    // A field must lie inside the record before its bytes are looked at.
    if (static_cast<uint32_t>(f->offset()) + f->size() > t.recordLen) {
      ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
      return -1;
    }
    const uint8_t* value = record + f->offset();
    if ((kind & kKindEmptyExempt) && isEmptyValue(*f, value)) continue;
    if (!isNew && std::memcmp(value, before + f->offset(), f->size()) == 0) continue;
    if (skipAutomatic && subKind(*f) == 1) continue;

    std::vector<uint8_t> key(e.keyLen, 0);
    uint32_t length = f->size();
    if (f->typeCode() == 0) length = static_cast<uint32_t>(strnlen(reinterpret_cast<const char*>(value), length));
    std::memcpy(key.data(), value, std::min<uint32_t>(length, e.keyLen));
    int32_t first = -1;
    result = FileIdxEqu(entry.table, static_cast<int32_t>(i), &first, key.data());
    if (result < 0) return -1;
    bool duplicate = isNew ? result > 0 : (result > 1 || (result == 1 && first != recordNumber));
    if (!duplicate) continue;

    HWND window = owner ? owner : projectOwner(project);
    if (!window) return 3;
    std::string text = std::string(isNew ? "追加保存（新規登録）" : "上書き保存（更新登録）") +
                       "に失敗しました\n\n" + f->name() + "を重複して使用することは禁止されています";
    if (!(kind & kKindConfirm)) {
      UnlockedMessageBox(window, text, entry.name(), platform::kMbOk | platform::kMbIconWarning);
      return 3;
    }
    text += "\n強制的に保存しますか？";
    int answer = UnlockedMessageBox(window, text, entry.name(),
                                    platform::kMbOkCancel | platform::kMbIconQuestion | platform::kMbDefButton2);
    if (answer != platform::kIdOk) return 3;
  }
  return result;
}

}  // namespace zemta::fileproj

ZEMTA_API int32_t FileProjIdxCheck(FileProjHandle handle, int32_t fdbId, uint32_t flags) {
  if (FileProjCheckHandle(handle) < 0) return -1;
  // Lingering holds close first: the check reopens the files for itself.
  zemta::filedb::endLingeringHolds();
  Project* p = findProject(handle);
  if (!p) return -1;
  if (p->tables.empty()) {
    if (fdbId == 0) return 0;
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
    return -1;
  }
  int32_t broken = 0;
  bool found = false;
  for (size_t n = 0; n < p->tables.size(); ++n) {
    const TableEntry& entry = p->tables[n];
    bool repeated = false;
    for (size_t m = 0; m < n && !repeated; ++m) repeated = platform::sameName(p->tables[m].fileName(), entry.fileName());
    if (repeated) continue;
    if (fdbId != 0 && entry.fdbId() != fdbId) continue;
    found = true;
    Table* t = checkedTable(entry.table);
    if (!t) return -1;
    for (size_t i = 0; i < t->indexes.size(); ++i) {
      if (!t->indexes[i].own()) continue;
      std::string title = indexTitle(entry, t->indexes[i], static_cast<int32_t>(i));
      int32_t r = FileIdxCheck(entry.table, static_cast<int32_t>(i), flags, title.c_str());
      if (r < 0) return -1;
      broken += r;
    }
  }
  if (!found) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return broken;
}

ZEMTA_API int32_t FileProjDeleteDB(FileProjHandle handle, int32_t fdbId) {
  if (FileProjCheckHandle(handle) < 0) return -1;
  Project* p = findProject(handle);
  if (!p) return -1;
  if (p->tables.empty()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
    return -1;
  }
  bool found = false;
  for (auto& entry : p->tables) {
    if (fdbId != 0 && entry.fdbId() != fdbId) continue;
    found = true;
    Table* tp = checkedTable(entry.table);
    if (!tp) return -1;
    Table& t = *tp;
    t.cached = -1;
    if (!openTable(t, FILEDB_MODE_WRITE)) return -1;
    t.heldCount = kCountUnknown;
    std::vector<uint8_t> zeros(t.headerLen, 0);
    uint32_t done = 0;
    bool ok = (t.headerLen == 0 ||
               (ZemtaWriteFile(t.file, zeros.data(), t.headerLen, &done, 0, ZEMTA_FILE_BEGIN) &&
                done == t.headerLen)) &&
              ZemtaSetEndOfFile(t.file, t.headerLen);
    if (!ok) ZEMTA_REPORT(platform::lastError() ? platform::lastError() : ZEMTA_ERR_FILE_SIZE);
    if (ok) {
      t.count = 0;
      if (t.header.size() == t.headerLen) std::fill(t.header.begin(), t.header.end(), 0);
    }
    if (!closeTable(t)) ok = false;
    for (size_t i = 0; ok && i < t.indexes.size(); ++i)
      if (t.indexes[i].own() && rebuildIndex(t, i, nullptr) < 0) ok = false;
    store::tellTableResized(entry.table, 0);
    if (!ok) return -1;
  }
  if (!found) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return 0;
}

ZEMTA_API int32_t FileProjIdxDupCheck(FileProjHandle handle, int32_t fdbId, void* recordImage,
                                      int32_t recordNumber, HWND owner) {
  if (fdbId == 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (!recordImage) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  TableEntry* entry = FileProjFindTable(handle, fdbId);
  if (!entry) return -1;
  Project* p = findProject(handle);
  Table* tp = checkedTable(entry->table);
  if (!p || !tp) return -1;
  Table& t = *tp;
  const auto* record = static_cast<const uint8_t*>(recordImage);
  bool isNew = recordNumber == -1;
  std::vector<uint8_t> stored;
  if (!isNew) {
    if (recordNumber < 0) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return -1;
    }
    stored.assign(t.recordLen, 0);
    if (t.cached == recordNumber && t.images.size() >= t.recordLen)
      std::memcpy(stored.data(), t.cachedImage(), t.recordLen);
    else if (FileDBRecRead(entry->table, recordNumber, stored.data()) < 0)
      return -1;
  }

  int32_t result = uniqueKeyCheck(*p, *entry, record, isNew ? nullptr : stored.data(), recordNumber, owner, isNew);
  if (result < 0 || result == 3 || !isNew) return result;
  // A new record's automatic numbers are drawn once its keys passed.
  for (const auto& f : entry->fields)
    if (isCounterField(f) && drawCounterNumber(*p, f, static_cast<uint8_t*>(recordImage)) < 0) return -1;
  return result;
}
