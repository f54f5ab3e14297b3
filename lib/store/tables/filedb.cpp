// Tables: fixed-length records after one fixed-length user header, with the
// index files that point into them (index_keys.cpp).
//
// Table file (".dbf"), little-endian:
//
//   offset                            size            content
//   0                                 headerLen       user header, opaque here (may be empty)
//   headerLen + n * recordLen         recordLen       record n (0-based)
//
// No magic, no stored record count, no deleted-record flag, no free list: the
// count is (file size - headerLen) / recordLen, and a file shorter than its
// header or whose record area is not a whole number of records is malformed
// (0x20000002). Deleting records moves every later record down. A new file
// starts as headerLen zero bytes and no records.
//
// Writers compare the stored record with the image this table last read or
// wrote: a record changed by another process since then is not overwritten
// (result 2). While a write or delete changes keys, each index file carries
// the dirty magic; a crash in between leaves it dirty for the next check.
#include "lib/store/tables/filedb_internal.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "lib/core/handle_table.h"
#include "lib/core/library_locks.h"
#include "lib/core/report.h"
#include "lib/store/change_listener.h"
#include "lib/store/tables/file_access.h"
#include "platform/base/cp932.h"
#include "platform/base/last_error.h"

namespace zemta::filedb {

const char kCleanMagic[kMagicLen + 1] = "ZEMTA BTRX\r\n";
const char kDirtyMagic[kMagicLen + 1] = "RXBTA MTZE\r\n";

namespace {

constexpr uint32_t kAttributesWriteThrough = 0x90000080;
constexpr uint32_t kAttributesNoWriteThrough = 0x10100080;
constexpr uint32_t kShareViolation = platform::kErrorSharingViolation;

HandleTable<Table>& tables() {
  static HandleTable<Table> table(kTableCheckWord, 0xFFFF, kMaxTables);
  return table;
}

TableBindings& bindings() {
  static TableBindings b;
  return b;
}

std::string& localPath() {
  static std::string path;
  return path;
}

uint32_t lastErrorCode() {
  uint32_t code = platform::lastError();
  return code != 0 ? code : static_cast<uint32_t>(ZEMTA_ERR_FILE_ACCESS);
}

// The records of a held table kept in memory: at most this many bytes.
constexpr size_t kHeldImageLimit = 256u << 10;

void dropHeldImage(Table& t) {
  t.heldImageFile = 0;
  t.heldImage.clear();
}

// Copies what was written at a file offset into the held image (the header's
// part aside); an image the write would leave with a gap is dropped.
void patchHeldImage(Table& t, uint32_t offset, const uint8_t* data, uint32_t length) {
  if (!t.heldImageFile) return;
  if (t.heldImageFile != t.file) {
    dropHeldImage(t);
    return;
  }
  const uint64_t end = static_cast<uint64_t>(offset) + length;
  if (end <= t.headerLen) return;
  const uint32_t skip = offset < t.headerLen ? t.headerLen - offset : 0;
  const uint64_t at = static_cast<uint64_t>(offset) + skip - t.headerLen;
  if (at > t.heldImage.size() || end - t.headerLen > kHeldImageLimit) {
    dropHeldImage(t);
    return;
  }
  if (end - t.headerLen > t.heldImage.size()) t.heldImage.resize(static_cast<size_t>(end - t.headerLen));
  std::memcpy(t.heldImage.data() + at, data + skip, length - skip);
}

// Waiting records come first: every caller opened the table (openTable)
// or wrote them itself.
bool readAt(Table& t, uint32_t offset, void* buffer, uint32_t length, uint32_t& done) {
  assert(t.waiting.empty());
  done = 0;
  if (!ZemtaReadFile(t.file, buffer, length, &done, static_cast<int32_t>(offset), ZEMTA_FILE_BEGIN)) {
    ZEMTA_REPORT(lastErrorCode());
    return false;
  }
  return true;
}

bool writeAt(Table& t, uint32_t offset, const void* data, uint32_t length, uint32_t& done) {
  assert(t.waiting.empty());
  done = 0;
  t.heldCount = kCountUnknown;
  if (t.mode & kModeNoWriteThrough) t.recordsUnsynced = true;
  if (!ZemtaWriteFile(t.file, data, length, &done, static_cast<int32_t>(offset), ZEMTA_FILE_BEGIN)) {
    dropHeldImage(t);
    ZEMTA_REPORT(lastErrorCode());
    return false;
  }
  patchHeldImage(t, offset, static_cast<const uint8_t*>(data), done);
  return true;
}

// The open of openTable without writing the waiting records first.
bool openFile(Table& t, uint32_t mode);

// Appended records wait in memory up to this many bytes at a time.
constexpr size_t kWaitingLimit = 256u << 10;

// Whether an append at record c may wait in memory: FileDBOpenEx holds the
// local file for writing without write-through and the table counts its
// records itself, so no other open can read or change the file meanwhile.
bool canWait(const Table& t, uint32_t c) {
  return t.heldEx && (t.mode & FILEDB_MODE_WRITE) && (t.mode & kModeNoWriteThrough) && t.heldCount == c &&
         !t.remote();
}

// Whether the held image stands for the file, read now if need be.
bool heldImageReady(Table& t) {
  if (t.heldImageFile && t.heldImageFile == t.file) return true;
  dropHeldImage(t);
  if (!t.heldEx || !(t.mode & FILEDB_MODE_WRITE) || t.remote() || !t.file || !isLocalFile(t.file)) return false;
  uint32_t count = 0;
  if (!fileRecordCount(t, count)) return false;
  const uint64_t bytes = static_cast<uint64_t>(count) * t.recordLen;
  if (bytes > kHeldImageLimit) return false;
  t.heldImage.resize(static_cast<size_t>(bytes));
  uint32_t done = 0;
  if (bytes > 0 && (!readAt(t, t.headerLen, t.heldImage.data(), static_cast<uint32_t>(bytes), done) || done != bytes)) {
    dropHeldImage(t);
    return false;
  }
  t.heldImageFile = t.file;
  return true;
}

// Reads record n whole: from the file (or its held image), or from the
// service for a record store.
bool readRecord(Table& t, uint32_t n, uint8_t* buffer, uint32_t& done) {
  if (!t.remote()) {
    if (heldImageReady(t) && (static_cast<uint64_t>(n) + 1) * t.recordLen <= t.heldImage.size()) {
      std::memcpy(buffer, t.heldImage.data() + static_cast<size_t>(n) * t.recordLen, t.recordLen);
      done = t.recordLen;
      return true;
    }
    return readAt(t, t.recordOffset(n), buffer, t.recordLen, done);
  }
  done = 0;
  if (remoteRead(t, n, buffer) < 0) return false;
  done = t.recordLen;
  return true;
}

std::string makeDisplayName(const char* title, const std::string& path) {
  if (!title || !*title) return {};
  std::string name;
  if (path.size() < 124) name = platform::cp932::cutText(title, 124 - path.size());
  name += "： ";
  name += path;
  return platform::cp932::cutText(name, kDisplayNameSize - 1);
}

// Opens or keeps the own index B-trees for a change: mode 3 unless held by
// FileDBOpenEx; the dirty magic replaces the clean one. A tree already marked
// dirty by a crashed writer is refused (0x20000004) and left as it is. Under
// FileDBOpenEx an index is marked once, at its first change, and stays marked
// until the hold ends: a crash inside the hold leaves it dirty for the next
// check all the same. changing, when given, names the indexes (by their
// place) whose keys the change touches; the others are left alone.
bool markIndexesDirty(Table& t, const std::vector<char>* changing = nullptr) {
  for (size_t i = 0; i < t.indexes.size(); ++i) {
    IndexEntry& e = t.indexes[i];
    if (!e.own() || e.handle < 0) continue;
    if (changing && !(*changing)[i]) continue;
    if ((e.state & kIndexHeldEx) && (e.state & kIndexDirty)) continue;
    if (!(e.state & kIndexHeldEx)) {
      if (BtreeOpen(e.handle, BTREE_MODE_READ_WRITE) < 0) return false;
      e.state = BTREE_MODE_READ_WRITE;
    }
    uint8_t magic[kMagicLen];
    if (BtreeRead(e.handle, magic, kMagicLen) < 0) return false;
    if (std::memcmp(magic, kCleanMagic, kMagicLen) != 0) {
      ZEMTA_REPORT(ZEMTA_ERR_INDEX_UPDATE);
      return false;
    }
    if (BtreeWrite(e.handle, kDirtyMagic, kMagicLen) < 0) return false;
    e.state |= kIndexDirty;
  }
  return true;
}

// Writes the clean magic back into one index and ends the call's open. A
// held index keeps its mark until the hold ends (closeTable cleans it),
// unless its keys could not be changed: then the dirty magic stays for good.
bool finishIndex(IndexEntry& e, bool clean) {
  if (e.state & kIndexHeldEx) {
    if (!clean) e.state &= ~kIndexDirty;
    return true;
  }
  bool ok = true;
  if (clean && BtreeWrite(e.handle, kCleanMagic, kMagicLen) < 0) ok = false;
  e.state &= ~kIndexDirty;
  if (!(e.state & kIndexHeldEx)) {
    if (e.state != 0 && BtreeClose(e.handle) < 0) ok = false;
    e.state = 0;
  }
  return ok;
}

bool indexEntriesSound(Table& t) {
  for (const auto& e : t.indexes)
    if (e.own() && !e.sound()) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
      return false;
    }
  return true;
}

// Runs after the API lock is let go: bound rows and views hear of a change.
struct AfterLock {
  Table* table = nullptr;
  FileDBHandle handle = 0;
  bool tellSize = false;
  void run() {
    if (!handle || !findTable(handle)) return;
    Table& t = *table;
    if (!t.notifySuppressed && t.notifyPending) {
      t.notifyPending = false;
      syncBoundRows(t, t.appended, t.lastRead);
    }
    if (tellSize) store::tellTableResized(handle, 0);
  }
};

int32_t recordRead(Table& t, int32_t n, uint8_t* buffer, AfterLock& after) {
  if (!buffer) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  if (n < 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (!openTable(t, FILEDB_MODE_READ)) return -1;
  uint32_t count;
  if (!fileRecordCount(t, count)) {
    closeTable(t);
    return -1;
  }
  uint32_t limit = std::min(t.count, count);
  if (count != t.count) {
    t.count = count;
    after.tellSize = true;
  }
  int32_t result = 0;
  if (static_cast<uint32_t>(n) < limit) {
    uint32_t done;
    if (!readRecord(t, static_cast<uint32_t>(n), buffer, done)) {
      closeTable(t);
      return -1;
    }
    if (done != t.recordLen) {
      closeTable(t);
      return -1;
    }
    std::memcpy(t.cachedImage(), buffer, t.recordLen);
    t.cached = n;
    if (!t.notifyPending) {
      t.notifyPending = true;
      t.appended = false;
      t.lastRead = true;
    }
  } else {
    std::memset(buffer, 0, t.recordLen);
    t.cached = -1;
    result = 1;
  }
  if (!closeTable(t)) return -1;
  return result;
}

// A record is written (locally or on the service): it becomes the cached
// image, and the count and the size notification follow it.
void noteWritten(Table& t, uint32_t p, const uint8_t* data, uint32_t newCount, bool append, AfterLock& after) {
  std::memcpy(t.cachedImage(), data, t.recordLen);
  t.cached = static_cast<int32_t>(p);
  if (!t.notifyPending) t.appended = false;
  t.count = newCount;
  t.notifyPending = true;
  if (append) {
    t.appended = true;
    after.tellSize = true;
  }
  t.lastRead = false;
}

int32_t recordWrite(Table& t, int32_t n, const uint8_t* data, AfterLock& after) {
  if (t.count == kCountUnknown) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_ACCESS);
    return -1;
  }
  // A record store keeps its indexes on the service: its entries have no file.
  if (!t.remote() && !indexEntriesSound(t)) return -1;
  if (!data) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  if (n < 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (!openFile(t, FILEDB_MODE_READ_WRITE)) return -1;
  auto fail = [&]() {
    closeTable(t);
    return -1;
  };
  uint32_t c;
  if (!fileRecordCount(t, c)) return fail();
  const bool append = static_cast<uint32_t>(n) >= c;
  // Only an append may leave the records before it waiting.
  const bool mayWait = append && canWait(t, c);
  if (!mayWait && !flushWaiting(t)) return fail();
  const uint32_t p = append ? c : static_cast<uint32_t>(n);
  const uint32_t newCount = append ? c + 1 : c;
  const uint32_t offset = t.recordOffset(p);

  if (!append) {
    uint32_t done;
    if (t.cached == static_cast<int32_t>(p)) {
      if (!readRecord(t, p, t.scratchImage(), done)) return fail();
      if (done != t.recordLen) {
        t.cached = -1;
        ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
        return fail();
      }
      if (std::memcmp(t.scratchImage(), t.cachedImage(), t.recordLen) != 0) {
        closeTable(t);
        return 2;
      }
    } else {
      if (!readRecord(t, p, t.cachedImage(), done)) {
        t.cached = -1;
        return fail();
      }
      if (done != t.recordLen) {
        t.cached = -1;
        ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
        return fail();
      }
      t.cached = static_cast<int32_t>(p);
    }
    if (std::memcmp(data, t.cachedImage(), t.recordLen) == 0) return closeTable(t) ? 0 : -1;
  }

  if (t.remote()) {
    // The service stores the values as record p + 1 (one past the last
    // appends) and keeps its own indexes.
    t.count = kCountUnknown;
    if (remoteWrite(t, p, data) < 0) {
      t.count = c;
      return fail();
    }
    noteWritten(t, p, data, newCount, append, after);
    return closeTable(t) ? 0 : -1;
  }

  // An overwrite that changes no key of an index (a counter posting) leaves
  // that index alone: it stays clean, and nothing of it is written.
  std::vector<uint8_t>& oldKey = t.oldKey;
  std::vector<uint8_t>& newKey = t.newKey;
  std::vector<char>& changing = t.keysChanging;
  changing.assign(t.indexes.size(), 0);
  bool keysChange = false;
  for (size_t i = 0; i < t.indexes.size(); ++i) {
    IndexEntry& e = t.indexes[i];
    if (!e.own() || e.handle < 0) continue;
    if (!append) {
      oldKey.assign(e.keyLen, 0);
      newKey.assign(e.keyLen, 0);
      buildKey(e, data, newKey.data());
      buildKey(e, t.cachedImage(), oldKey.data());
      if (oldKey == newKey) continue;
    }
    changing[i] = 1;
    keysChange = true;
  }

  t.count = kCountUnknown;
  if (keysChange && !markIndexesDirty(t, &changing)) return fail();
  if (mayWait) {
    // The record waits in memory with the appends before it; the indexes
    // were marked dirty first all the same, and stay so until it is in.
    if (t.waiting.size() + t.recordLen > kWaitingLimit && !flushWaiting(t)) return fail();
    if (t.waiting.empty()) t.waitingFirst = p;
    t.waiting.insert(t.waiting.end(), data, data + t.recordLen);
    t.heldCount = newCount;
  } else {
    const bool counted = t.heldCount == c;
    uint32_t done;
    if (!writeAt(t, offset, data, t.recordLen, done)) return fail();
    if (done != t.recordLen) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
      return fail();
    }
    if (counted) t.heldCount = newCount;
  }

  // The record is on disk or waits for it: from here each index is brought
  // in step on its own, and one whose keys could not be changed keeps its
  // dirty magic.
  int32_t result = 0;
  for (size_t i = 0; i < t.indexes.size(); ++i) {
    if (!changing[i]) continue;
    IndexEntry& e = t.indexes[i];
    oldKey.assign(e.keyLen, 0);
    newKey.assign(e.keyLen, 0);
    buildKey(e, data, newKey.data());
    bool ok = true;
    if (!append) {
      buildKey(e, t.cachedImage(), oldKey.data());
      if (BtreeDel(e.handle, offset, oldKey.data()) < 0) ok = false;
    }
    if (ok && BtreeIns(e.handle, offset, newKey.data()) < 0) ok = false;
    if (!finishIndex(e, ok) || !ok) result = -1;
  }

  noteWritten(t, p, data, newCount, append, after);
  if (!closeTable(t)) result = -1;
  return result;
}

int32_t recordDelete(Table& t, int32_t first, int32_t last, const char* savePath) {
  if (t.count == kCountUnknown) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_ACCESS);
    return -1;
  }
  if (!t.remote() && !indexEntriesSound(t)) return -1;
  if (!openTable(t, FILEDB_MODE_READ_WRITE)) return -1;
  auto fail = [&]() {
    closeTable(t);
    return -1;
  };
  uint32_t fileCount;
  if (!fileRecordCount(t, fileCount)) return fail();
  uint32_t c = std::min(t.count, fileCount);
  if (first < 0 || last < first || static_cast<uint32_t>(last) >= c) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return fail();
  }
  t.cached = -1;
  const uint32_t len = t.recordLen;
  uint8_t* scratch = t.scratchImage();

  if (savePath) {
    uint32_t error = 0;
    ZemtaFileHandle save = ZemtaOpenFileWait(savePath, ZEMTA_GENERIC_WRITE, ZEMTA_FILE_SHARE_READ,
                                             ZEMTA_OPEN_ALWAYS, ZEMTA_FILE_ATTRIBUTE_NORMAL, nullptr, t.owner,
                                             &error, 0);
    if (!save) {
      if (error != kShareViolation) ZEMTA_REPORT(error ? error : lastErrorCode());
      return fail();
    }
    bool ok = ZemtaSetFilePointer(save, 0, ZEMTA_FILE_END) != 0xFFFFFFFFu;
    if (!ok) ZEMTA_REPORT(lastErrorCode());
    for (int32_t r = first; ok && r <= last; ++r) {
      uint32_t done;
      if (!readRecord(t, static_cast<uint32_t>(r), scratch, done)) {
        ok = false;
      } else if (done != len) {
        ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
        ok = false;
      } else if (!ZemtaWriteFile(save, scratch, len, &done, 0, ZEMTA_FILE_CURRENT)) {
        ZEMTA_REPORT(lastErrorCode());
        ok = false;
      } else if (done != len) {
        ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
        ok = false;
      }
    }
    ZemtaCloseFile(save);
    if (!ok) return fail();
  }

  const uint32_t removed = static_cast<uint32_t>(last - first + 1);
  if (t.remote()) {
    // The service deletes the records and keeps its indexes in step.
    t.count = kCountUnknown;
    if (remoteDelete(t, static_cast<uint32_t>(first), static_cast<uint32_t>(last)) < 0) {
      t.count = c;
      return fail();
    }
    t.count = c - removed;
    if (bindings().deletedRows) bindings().deletedRows(t, static_cast<uint32_t>(first), t.count);
    return closeTable(t) ? 0 : -1;
  }

  t.count = kCountUnknown;
  t.heldCount = kCountUnknown;
  if (!markIndexesDirty(t)) return fail();

  std::vector<char> indexOk(t.indexes.size(), 1);
  std::vector<uint8_t> key;
  for (int32_t r = first; r <= last; ++r) {
    uint32_t done;
    if (!readAt(t, t.recordOffset(r), scratch, len, done)) return fail();
    if (done != len) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
      return fail();
    }
    for (size_t i = 0; i < t.indexes.size(); ++i) {
      IndexEntry& e = t.indexes[i];
      if (!e.own() || e.handle < 0 || !indexOk[i]) continue;
      key.assign(e.keyLen, 0);
      buildKey(e, scratch, key.data());
      if (BtreeDel(e.handle, t.recordOffset(r), key.data()) < 0) indexOk[i] = 0;
    }
  }

  // Move the tail down. Records another process appended since this table
  // last counted are part of the tail too: the file is never cut below them.
  const uint32_t tailRecords = fileCount - static_cast<uint32_t>(last) - 1;
  const uint32_t oldEnd = t.recordOffset(fileCount);
  if (tailRecords > 0) {
    std::vector<uint8_t> tail;
    try {
      tail.resize(static_cast<size_t>(tailRecords) * len);
    } catch (const std::bad_alloc&) {
      ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
      return fail();
    }
    uint32_t done;
    if (!readAt(t, t.recordOffset(last + 1), tail.data(), static_cast<uint32_t>(tail.size()), done))
      return fail();
    if (done != tail.size()) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
      return fail();
    }
    if (!writeAt(t, t.recordOffset(first), tail.data(), static_cast<uint32_t>(tail.size()), done)) return fail();
    if (done != tail.size()) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
      return fail();
    }
  }
  dropHeldImage(t);
  if (!ZemtaSetEndOfFile(t.file, static_cast<int32_t>(t.recordOffset(first + tailRecords)))) {
    ZEMTA_REPORT(lastErrorCode());
    return fail();
  }
  int32_t result = 0;
  for (size_t i = 0; i < t.indexes.size(); ++i) {
    IndexEntry& e = t.indexes[i];
    if (!e.own() || e.handle < 0) continue;
    if (indexOk[i] && tailRecords > 0 &&
        BtreeChgRec(e.handle, t.recordOffset(last + 1), oldEnd - 1, t.recordOffset(first)) < 0)
      indexOk[i] = 0;
    if (!finishIndex(e, indexOk[i] != 0) || !indexOk[i]) result = -1;
  }
  t.count = fileCount - removed;
  if (bindings().deletedRows) bindings().deletedRows(t, static_cast<uint32_t>(first), t.count);
  if (!closeTable(t)) result = -1;
  return result;
}

// Reads the field's unsigned number through its bit-field word (low byte the
// shift, high byte the width; width 0 is all of it).
uint32_t getBitData(const uint8_t* field, uint32_t size, uint16_t word) {
  uint32_t value = 0;
  for (uint32_t i = 0; i < std::min<uint32_t>(size, 4); ++i) value |= static_cast<uint32_t>(field[i]) << (8 * i);
  uint32_t shift = word & 0xFF, width = word >> 8;
  value = shift < 32 ? value >> shift : 0;
  if (width != 0 && width < 32) value &= (1u << width) - 1;
  return value;
}

void setBitData(uint8_t* field, uint32_t size, uint16_t word, uint32_t number) {
  uint32_t stored = 0, bytes = std::min<uint32_t>(size, 4);
  for (uint32_t i = 0; i < bytes; ++i) stored |= static_cast<uint32_t>(field[i]) << (8 * i);
  uint32_t shift = word & 0xFF, width = word >> 8;
  if (shift >= 32) return;
  uint32_t mask = (width == 0 || width >= 32) ? 0xFFFFFFFFu : (1u << width) - 1;
  stored = (stored & ~(mask << shift)) | ((number & mask) << shift);
  for (uint32_t i = 0; i < bytes; ++i) field[i] = static_cast<uint8_t>(stored >> (8 * i));
}

}  // namespace

Table* findTable(FileDBHandle handle) {
  Table* t = tables().find(handle);
  if (!t || static_cast<uint32_t>(t->check) + kTableCheckWord != t->id) return nullptr;
  return t;
}

bool openTable(Table& t, uint32_t mode) {
  if (!flushWaiting(t)) return false;
  return openFile(t, mode);
}

bool flushWaiting(Table& t) {
  if (t.waiting.empty()) return true;
  const uint32_t length = static_cast<uint32_t>(t.waiting.size());
  uint32_t done = 0;
  if (t.mode & kModeNoWriteThrough) t.recordsUnsynced = true;
  if (!ZemtaWriteFile(t.file, t.waiting.data(), length, &done, static_cast<int32_t>(t.recordOffset(t.waitingFirst)),
                      ZEMTA_FILE_BEGIN)) {
    dropHeldImage(t);
    ZEMTA_REPORT(lastErrorCode());
    return false;
  }
  patchHeldImage(t, t.recordOffset(t.waitingFirst), t.waiting.data(), done);
  if (done != length) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
    return false;
  }
  t.waiting.clear();
  return true;
}

namespace {

bool openFile(Table& t, uint32_t mode) {
  if (t.held || t.heldEx) return true;
  if ((mode & 3) == 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_MODE);
    return false;
  }
  if (t.file && (t.mode & ~kModeNoWait) == (mode & ~kModeNoWait)) return true;
  dropHeldImage(t);
  if (t.file) {
    ZemtaCloseFile(t.file);
    t.file = 0;
    t.mode = 0;
  }
  uint32_t access = ((mode & 1) ? ZEMTA_GENERIC_READ : 0) | ((mode & 2) ? ZEMTA_GENERIC_WRITE : 0);
  uint32_t share = (mode & 3) == 1 ? ZEMTA_FILE_SHARE_READ : 0;
  uint32_t disposition = (mode & kModeOpenAlways) ? ZEMTA_OPEN_ALWAYS : ZEMTA_OPEN_EXISTING;
  uint32_t attributes = (mode & kModeNoWriteThrough) ? kAttributesNoWriteThrough : kAttributesWriteThrough;
  uint32_t error = 0;
  ZemtaFileHandle file = ZemtaOpenFileWait(t.path.c_str(), access, share, disposition, attributes,
                                           t.displayName.c_str(), t.owner, &error, (mode & kModeNoWait) ? 1 : 0);
  if (!file) {
    // A sharing violation was either waited for and cancelled (reported by the
    // wait) or asked not to be waited for.
    if (error != kShareViolation) ZEMTA_REPORT(error ? error : lastErrorCode());
    platform::setLastError(error);
    return false;
  }
  t.file = file;
  t.mode = mode;
  t.heldCount = kCountUnknown;
  return true;
}

}  // namespace

bool closeTable(Table& t) {
  if (t.held || t.heldEx) return true;
  dropHeldImage(t);
  // The records the indexes point to go in before the indexes are marked
  // clean; records that cannot be written leave them dirty.
  bool ok = flushWaiting(t);
  if (!ok) {
    t.count = t.waitingFirst;
    t.waiting.clear();
  }
  // On the disk, too, before a clean mark can get there: a power cut must
  // never leave an index marked clean over records that did not.
  const bool anyDirty = std::any_of(t.indexes.begin(), t.indexes.end(),
                                    [](const IndexEntry& e) { return e.own() && (e.state & kIndexDirty); });
  if (ok && anyDirty && t.recordsUnsynced && t.file) {
    if (ZemtaFlushFile(t.file)) {
      t.recordsUnsynced = false;
    } else {
      ZEMTA_REPORT(lastErrorCode());
      ok = false;
    }
  }
  const bool recordsIn = ok;
  for (auto& e : t.indexes) {
    if (!e.own() || e.handle < 0 || e.state == 0) continue;
    if (recordsIn && (e.state & kIndexDirty) && BtreeWrite(e.handle, kCleanMagic, kMagicLen) < 0) ok = false;
    if (BtreeCloseEx(e.handle) < 0) ok = false;
    e.state = 0;
  }
  if (t.file) {
    if (!ZemtaCloseFile(t.file)) {
      ZEMTA_REPORT(lastErrorCode());
      ok = false;
    }
    t.file = 0;
    t.mode = 0;
    t.heldCount = kCountUnknown;
    t.recordsUnsynced = false;
  }
  return ok;
}

namespace {
// The thread whose tables linger: lingering holds are that thread's (the
// register's screen thread), and only its own opens end them.
std::atomic<std::thread::id> g_lingerThread{};
}  // namespace

bool endLinger(Table& t) {
  if (!t.lingers) return true;
  t.lingers = false;
  t.lingerHold = false;
  t.heldEx = false;
  t.held = false;
  for (auto& e : t.indexes) e.state &= ~kIndexHeldEx;
  return closeTable(t);
}

bool endLingeringHolds() {
  if (g_lingerThread.load() != std::this_thread::get_id()) return false;
  bool ended = false;
  tables().forEach([&](uint32_t, Table& t) {
    if (!t.lingers) return;
    endLinger(t);
    ended = true;
  });
  return ended;
}

bool holdTable(Table& t, uint32_t mode) {
  if (!openTable(t, mode)) return false;
  t.held = true;
  return true;
}

void releaseHold(Table& t) {
  if (t.heldEx) return;
  t.held = false;
  closeTable(t);
}

bool fileRecordCount(Table& t, uint32_t& count) {
  if (t.remote()) return remoteRecordTotal(t, &count) == 0;
  if (t.heldCount != kCountUnknown) {
    count = t.heldCount;
    return true;
  }
  uint32_t size = ZemtaGetFileSize(t.file);
  if (size == 0xFFFFFFFFu) {
    ZEMTA_REPORT(lastErrorCode());
    return false;
  }
  if (size < t.headerLen || (size - t.headerLen) % t.recordLen != 0) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
    return false;
  }
  count = (size - t.headerLen) / t.recordLen;
  if (t.heldEx && (t.mode & FILEDB_MODE_WRITE) && isLocalFile(t.file)) t.heldCount = count;
  return true;
}

TableBindings setTableBindings(TableBindings b) {
  std::swap(bindings(), b);
  return b;
}

void syncBoundRows(Table& t, bool appended, bool read) {
  if (bindings().syncRows) bindings().syncRows(t, appended, read);
}

std::string localDataPath() { return localPath(); }

Table* checkedTable(FileDBHandle handle) {
  Table* t = findTable(handle);
  if (!t) ZEMTA_REPORT(ZEMTA_ERR_BAD_FILEDB_HANDLE);
  return t;
}

}  // namespace zemta::filedb

using namespace zemta;
using namespace zemta::filedb;

namespace {

bool goodExMode(uint32_t mode) {
  uint32_t m = mode & 0xFFFFF & ~kModeNoWait;
  return m == 1 || m == 2 || m == 3 || m == 6;
}

// The last steps of opening a table, local or kept by the service, once its
// record count is known: the record images made, the file closed again, and
// the table given its handle. 0 when the close or the handle fails.
FileDBHandle registerTable(std::unique_ptr<Table> owned) {
  Table& t = *owned;
  t.images.assign(2u * t.recordLen, 0);
  t.cached = -1;
  if (!closeTable(t)) return 0;
  FileDBHandle handle = tables().add(std::move(owned));
  if (!handle) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return 0;
  }
  findTable(handle)->handle = handle;
  return handle;
}

}  // namespace

ZEMTA_API FileDBHandle FileDBCreate(const char* path, uint32_t id, uint32_t headerLen, uint32_t recordLen,
                                    const char* title, HWND owner) {
  ApiLockGuard lock;
  if (!lock.ok()) return 0;
  if (tables().count() >= kMaxTables) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return 0;
  }
  if (!path || !*path || std::strlen(path) >= kMaxPath + 1) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return 0;
  }
  if (id == 0 || id > 0xFFFF) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_ACCESS_CODE);
    return 0;
  }
  if (recordLen == 0 || recordLen > 0xFFFF || headerLen > 0xFFFF) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_SIZE);
    return 0;
  }
  auto owned = std::make_unique<Table>();
  Table& t = *owned;
  t.id = static_cast<uint16_t>(id);
  t.check = static_cast<int32_t>(id - kTableCheckWord);
  t.headerLen = static_cast<uint16_t>(headerLen);
  t.recordLen = static_cast<uint16_t>(recordLen);
  t.path = path;
  t.owner = owner;
  t.displayName = makeDisplayName(title, t.path);

  // Shared read first; a missing file is then created (a file another process
  // holds is not).
  bool isNew = false;
  uint32_t error = 0;
  ZemtaFileHandle file = ZemtaOpenFileWait(path, ZEMTA_GENERIC_READ, ZEMTA_FILE_SHARE_READ, ZEMTA_OPEN_EXISTING,
                                           kAttributesWriteThrough, t.displayName.c_str(), owner, &error, 0);
  if (file) {
    t.file = file;
    t.mode = FILEDB_MODE_READ;
  } else {
    if (error == kShareViolation) {
      platform::setLastError(error);
      return 0;
    }
    if (!openTable(t, kModeOpenAlways | FILEDB_MODE_READ_WRITE)) return 0;
    isNew = true;
  }
  auto fail = [&]() -> FileDBHandle {
    closeTable(t);
    return 0;
  };
  t.header.assign(headerLen, 0);
  if (mappingFlagOf(t.file) == static_cast<int32_t>(kRemoteRecordStore)) {
    // A record store of the remote file service: no header is read; the
    // service lists its columns and counts the records.
    if (!remoteCreate(t)) return fail();
    return registerTable(std::move(owned));
  }
  uint32_t size = ZemtaGetFileSize(t.file);
  if (size == 0xFFFFFFFFu) {
    ZEMTA_REPORT(lastErrorCode());
    return fail();
  }
  if (headerLen > 0) {
    uint32_t want = std::min(size, headerLen), done = 0;
    if (want > 0) {
      if (!readAt(t, 0, t.header.data(), want, done)) return fail();
      if (done != want) {
        ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
        return fail();
      }
    }
    if (size < headerLen) {
      if (!isNew) {
        ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
        return fail();
      }
      if (!writeAt(t, 0, t.header.data(), headerLen, done)) return fail();
      if (done != headerLen) {
        ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
        return fail();
      }
      size = headerLen;
    }
  }
  if ((size - headerLen) % recordLen != 0) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
    return fail();
  }
  t.count = (size - headerLen) / recordLen;
  return registerTable(std::move(owned));
}

ZEMTA_API int32_t FileDBDelete(FileDBHandle handle) {
  Table* t = checkedTable(handle);
  if (!t) return -1;
  ApiLockGuard lock;
  if (!lock.ok()) return -1;
  t->held = t->heldEx = t->lingers = t->lingerHold = false;
  for (auto& e : t->indexes) e.state &= ~kIndexHeldEx;
  bool ok = closeTable(*t);
  for (auto& e : t->indexes)
    if (e.own() && e.handle >= 0) BtreeRelease(e.handle);
  tables().remove(handle);
  return ok ? 0 : -1;
}

ZEMTA_API int32_t FileDBOpenEx(FileDBHandle handle, uint32_t mode) {
  Table* t = checkedTable(handle);
  if (!t) return -1;
  const bool linger = (mode & FILEDB_MODE_LINGER) != 0;
  mode &= ~FILEDB_MODE_LINGER;
  if (!goodExMode(mode)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_MODE);
    return -1;
  }
  if (t->lingers) {
    // Taken up again in its own mode; any other hold starts afresh.
    if (linger && (t->mode & ~kModeNoWait) == (mode & ~kModeNoWait)) {
      t->lingers = false;
      return 0;
    }
    if (!endLinger(*t)) return -1;
  }
  if (!openTable(*t, mode)) return -1;
  uint32_t treeMode = ((mode & 3) == 1 ? BTREE_MODE_READ : BTREE_MODE_READ_WRITE) | (mode & kModeNoWriteThrough);
  for (auto& e : t->indexes) {
    if (!e.own() || e.handle < 0 || (e.state & kIndexHeldEx)) continue;
    if (BtreeOpenEx(e.handle, treeMode) < 0) {
      for (auto& o : t->indexes)
        if (o.state & kIndexHeldEx) {
          BtreeCloseEx(o.handle);
          o.state = 0;
        }
      closeTable(*t);
      return -1;
    }
    e.state = treeMode | kIndexHeldEx;
  }
  if (linger && !t->heldEx) g_lingerThread.store(std::this_thread::get_id());
  if (!t->heldEx) t->lingerHold = linger;
  t->heldEx = true;
  return 0;
}

ZEMTA_API int32_t FileDBCloseEx(FileDBHandle handle) {
  Table* t = checkedTable(handle);
  if (!t) return -1;
  if (t->lingers) return endLinger(*t) ? 0 : -1;
  if (t->heldEx && t->lingerHold) {
    t->lingers = true;
    return 0;
  }
  t->heldEx = false;
  t->lingerHold = false;
  t->held = false;
  for (auto& e : t->indexes) e.state &= ~kIndexHeldEx;
  return closeTable(*t) ? 0 : -1;
}

ZEMTA_API int32_t FileDBEndLinger(FileDBHandle handle) {
  Table* t = checkedTable(handle);
  if (!t) return -1;
  return endLinger(*t) ? 0 : -1;
}

ZEMTA_API int32_t FileDBIsAccess(FileDBHandle handle, uint32_t mode) {
  Table* t = checkedTable(handle);
  if (!t) return 0;
  if (!goodExMode(mode)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_MODE);
    return 0;
  }
  uint32_t access = ((mode & 1) ? ZEMTA_GENERIC_READ : 0) | ((mode & 2) ? ZEMTA_GENERIC_WRITE : 0);
  uint32_t share = (mode & 3) == 1 ? ZEMTA_FILE_SHARE_READ : 0;
  return ZemtaIsFileAccess(t->path.c_str(), access, share) ? 1 : 0;
}

ZEMTA_API int32_t FileDBGetPathName(FileDBHandle handle, char* out) {
  Table* t = checkedTable(handle);
  if (!t) return -1;
  if (!out) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  std::memcpy(out, t->path.c_str(), t->path.size() + 1);
  return static_cast<int32_t>(t->path.size());
}

ZEMTA_API int32_t FileDBRead(FileDBHandle handle, uint32_t offset, void* buffer, uint32_t length) {
  Table* t = checkedTable(handle);
  if (!t) return -1;
  if (!buffer) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  if (t->remote() && static_cast<uint64_t>(offset) + length <= t->headerLen) {
    // A record store keeps no header image.
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  if (!openTable(*t, FILEDB_MODE_READ)) return -1;
  uint32_t done = 0;
  int32_t result;
  if (static_cast<uint64_t>(offset) + length > t->headerLen) {
    if (!readAt(*t, offset, buffer, length, done)) {
      closeTable(*t);
      return -1;
    }
    result = static_cast<int32_t>(done);
  } else {
    std::vector<uint8_t> image(t->headerLen);
    if (!readAt(*t, 0, image.data(), t->headerLen, done)) {
      closeTable(*t);
      return -1;
    }
    std::memcpy(t->header.data(), image.data(), done);
    result = done > offset ? static_cast<int32_t>(std::min(done - offset, length)) : 0;
    if (result > 0) std::memcpy(buffer, t->header.data() + offset, static_cast<size_t>(result));
  }
  if (!closeTable(*t)) return -1;
  if (static_cast<uint64_t>(offset) + length <= t->headerLen) syncBoundRows(*t, false, true);
  return result;
}

ZEMTA_API int32_t FileDBWrite(FileDBHandle handle, uint32_t offset, const void* data, uint32_t length) {
  Table* t = checkedTable(handle);
  if (!t) return -1;
  // A change from outside a lingering hold is written as any other.
  if (!endLinger(*t)) return -1;
  if (!data) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  if (t->remote() && static_cast<uint64_t>(offset) + length <= t->headerLen) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  uint32_t done = 0;
  if (static_cast<uint64_t>(offset) + length > t->headerLen) {
    if (!openTable(*t, FILEDB_MODE_WRITE)) return -1;
    if (!writeAt(*t, offset, data, length, done)) {
      closeTable(*t);
      return -1;
    }
    return closeTable(*t) ? static_cast<int32_t>(done) : -1;
  }
  if (!openTable(*t, FILEDB_MODE_READ_WRITE)) return -1;
  std::vector<uint8_t> stored(t->headerLen);
  if (!readAt(*t, 0, stored.data(), t->headerLen, done)) {
    closeTable(*t);
    return -1;
  }
  if (done != t->headerLen) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
    closeTable(*t);
    return -1;
  }
  if (stored != t->header) {
    // Another writer changed the header since this table read it.
    return closeTable(*t) ? 0 : -1;
  }
  std::memcpy(t->header.data() + offset, data, length);
  if (!writeAt(*t, 0, t->header.data(), t->headerLen, done)) {
    closeTable(*t);
    return -1;
  }
  if (!closeTable(*t)) return -1;
  syncBoundRows(*t, false, false);
  return done > offset ? static_cast<int32_t>(std::min(done - offset, length)) : 0;
}

ZEMTA_API int32_t FileDBRecGetSize(FileDBHandle handle) {
  Table* t = checkedTable(handle);
  if (!t) return -1;
  if (!openTable(*t, FILEDB_MODE_READ)) return -1;
  uint32_t count;
  bool ok = fileRecordCount(*t, count);
  bool closed = closeTable(*t);
  if (!ok || !closed) return -1;
  if (count != t->count) {
    t->count = count;
    store::tellTableResized(handle, 0);
  }
  return static_cast<int32_t>(count);
}

ZEMTA_API int32_t FileDBRecGetFieldSize(FileDBHandle handle) {
  Table* t = checkedTable(handle);
  return t ? t->recordLen : -1;
}

ZEMTA_API void* FileDBRecBufAlloc(FileDBHandle handle, int32_t zero) {
  Table* t = checkedTable(handle);
  if (!t) return nullptr;
  void* buffer = zero ? std::calloc(1, t->recordLen) : std::malloc(t->recordLen);
  if (!buffer) ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
  return buffer;
}

ZEMTA_API void* FileDBRecBufAllocEx(FileDBHandle handle, int32_t zero) {
  Table* t = checkedTable(handle);
  if (!t) return nullptr;
  if (t->callerBuffers.size() >= kMaxCallerBuffers) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return nullptr;
  }
  std::unique_ptr<uint8_t[]> buffer(zero ? new (std::nothrow) uint8_t[t->recordLen]()
                                         : new (std::nothrow) uint8_t[t->recordLen]);
  if (!buffer) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return nullptr;
  }
  t->callerBuffers.push_back(std::move(buffer));
  return t->callerBuffers.back().get();
}

ZEMTA_API int32_t FileDBRecBufRelease(FileDBHandle handle, void* buffer) {
  Table* t = checkedTable(handle);
  if (!t) return -1;
  auto it = std::find_if(t->callerBuffers.begin(), t->callerBuffers.end(),
                         [buffer](const auto& b) { return b.get() == buffer; });
  if (!buffer || it == t->callerBuffers.end()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  t->callerBuffers.erase(it);
  return 0;
}

ZEMTA_API int32_t FileDBRecRead(FileDBHandle handle, int32_t n, void* buffer) {
  Table* t = checkedTable(handle);
  if (!t) return -1;
  AfterLock after{t, handle};
  int32_t result;
  {
    ApiLockGuard lock;
    if (!lock.ok()) return -1;
    result = recordRead(*t, n, static_cast<uint8_t*>(buffer), after);
  }
  after.run();
  return result;
}

ZEMTA_API int32_t FileDBRecReadField(FileDBHandle handle, int32_t n, uint32_t offset, uint32_t length,
                                     void* buffer) {
  Table* t = checkedTable(handle);
  if (!t) return -1;
  if (length == 0 || static_cast<uint64_t>(offset) + length > t->recordLen) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (!buffer) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  std::vector<uint8_t> record(t->recordLen);
  int32_t result = FileDBRecRead(handle, n, record.data());
  if (result >= 0) std::memcpy(buffer, record.data() + offset, length);
  return result;
}

ZEMTA_API int32_t FileDBRecWrite(FileDBHandle handle, int32_t n, const void* data) {
  Table* t = checkedTable(handle);
  if (!t) return -1;
  // A change from outside a lingering hold is written as any other.
  if (!endLinger(*t)) return -1;
  AfterLock after{t, handle};
  int32_t result;
  {
    ApiLockGuard lock;
    if (!lock.ok()) return -1;
    result = recordWrite(*t, n, static_cast<const uint8_t*>(data), after);
  }
  after.run();
  return result;
}

ZEMTA_API int32_t FileDBRecDelete(FileDBHandle handle, int32_t first, int32_t last, const char* savePath) {
  Table* t = checkedTable(handle);
  if (!t) return -1;
  // A change from outside a lingering hold is written as any other.
  if (!endLinger(*t)) return -1;
  int32_t result;
  {
    ApiLockGuard lock;
    if (!lock.ok()) return -1;
    result = recordDelete(*t, first, last, savePath);
  }
  if (findTable(handle)) store::tellTableResized(handle, 0);
  return result;
}

ZEMTA_API int32_t FileDBUpdateOffset(FileDBHandle handle, int32_t n, const FileFieldPlace* place,
                                     int32_t increment) {
  Table* t = checkedTable(handle);
  if (!t) return -1;
  // A change from outside a lingering hold is written as any other.
  if (!endLinger(*t)) return -1;
  if (!place) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  const uint32_t area = n == -1 ? t->headerLen : t->recordLen;
  if (n < -1 || place->size == 0 || static_cast<uint32_t>(place->offset) + place->size > area) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  std::vector<uint8_t> image;
  try {
    image.resize(area);
  } catch (const std::bad_alloc&) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }
  bool wasHeld = t->held;
  if (!holdTable(*t, FILEDB_MODE_READ_WRITE)) return -1;
  auto release = [&]() {
    if (!wasHeld) releaseHold(*t);
  };
  int32_t result = -1;
  if (n == -1) {
    if (FileDBRead(handle, 0, image.data(), area) == static_cast<int32_t>(area)) {
      uint32_t number = getBitData(image.data() + place->offset, place->size, place->fieldWord) + increment;
      setBitData(image.data() + place->offset, place->size, place->fieldWord, number);
      int32_t written = FileDBWrite(handle, 0, image.data(), area);
      if (written == static_cast<int32_t>(area))
        result = static_cast<int32_t>(number);
      else if (written >= 0)
        ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
    }
  } else {
    int32_t read = FileDBRecRead(handle, n, image.data());
    if (read == 1) {
      // A counter step never creates the record it counts in.
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    } else if (read == 0) {
      uint32_t number = getBitData(image.data() + place->offset, place->size, place->fieldWord) + increment;
      setBitData(image.data() + place->offset, place->size, place->fieldWord, number);
      if (FileDBRecWrite(handle, n, image.data()) == 0) result = static_cast<int32_t>(number);
    }
  }
  release();
  return result;
}

ZEMTA_API int32_t FileSetLocPath(const char* path) {
  if (path && std::strlen(path) > kMaxPath) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return -1;
  }
  localPath() = path ? path : "";
  return 0;
}
