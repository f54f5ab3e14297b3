// Reading the change log backwards: the roll-back of the newest changes, the
// newest backup the log records, and the copy of a log table to another log
// disk.
//
// The roll-back puts records back as they were, but the disk's ID counter
// never goes back: an ID once given out is never given out again, so old
// logs and backups can never name two different records with one ID.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lib/container/disk/progress.h"
#include "lib/container/tables/table_internal.h"
#include "zemta/fileex.h"

namespace container = zemta::container;
using container::Disk;
using container::Entry;
using container::Target;
using zemta::get_u16le;
using zemta::put_u16le;

namespace {

constexpr int32_t kStepRollback = 13;
constexpr int32_t kStepCopyLog = 14;
constexpr uint16_t kOpInsert = 0x1000;
constexpr uint16_t kOpDelete = 0x2000;
constexpr uint16_t kOpUpdate = 0x4000;

uint32_t lo(uint64_t v) { return static_cast<uint32_t>(v); }
uint32_t hi(uint64_t v) { return static_cast<uint32_t>(v >> 32); }

// A table handle of a live disk; reported otherwise.
bool tableHandle(FileExHandle handle, Target* target) {
  if (!container::resolveHandle(handle, target)) return false;
  if (!target->entry || !container::isTable(target->entry)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return false;
  }
  return true;
}

// One row of the log: its information, its owner text and, when asked, a
// group of its logged values (before or after).
struct Row {
  uint8_t infoBlock[2 + 32] = {};
  container::LogInfo info;
  std::string owner;
  std::vector<uint8_t> values;  // a length-prefixed block; empty when none
};

bool readRow(FileExHandle row, Row* out, bool wantOwner, int wantValues) {
  put_u16le(out->infoBlock, sizeof out->infoBlock);
  uint8_t name[2 + 128] = {};
  put_u16le(name, sizeof name);
  if (FileExGetLogInfo(row, out->infoBlock, wantOwner ? name : nullptr) != 0) return false;
  if (!container::readLogInfo(out->infoBlock + 2, 32, &out->info)) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
    return false;
  }
  if (wantOwner) out->owner.assign(reinterpret_cast<const char*>(name + 2), strnlen(reinterpret_cast<const char*>(name + 2), 127));
  out->values.clear();
  if (wantValues) {
    uint8_t size[2] = {};
    void* before = wantValues == 1 ? size : nullptr;
    void* after = wantValues == 2 ? size : nullptr;
    if (FileExGetLogData(row, 10, before, after) != 0) return false;
    const uint16_t length = get_u16le(size);
    if (length >= 2) {
      out->values.assign(length, 0);
      put_u16le(out->values.data(), length);
      if (FileExGetLogData(row, 10, wantValues == 1 ? out->values.data() : nullptr,
                           wantValues == 2 ? out->values.data() : nullptr) != 0)
        return false;
    }
  }
  return true;
}

// Undoes one logged change on the disk; 0 or -1 (reported).
int32_t undoRow(Disk& disk, const Row& row) {
  const container::LogInfo& info = row.info;
  int32_t alreadyOpen = 0;
  FileExHandle table = FileExCreateByID(&disk, lo(info.tableId), hi(info.tableId), nullptr, &alreadyOpen);
  if (!table) return -1;
  int32_t result = 0;
  if (info.operation & kOpInsert) {
    result = FileExRecDelByID(table, lo(info.entryId), hi(info.entryId));
  } else if (info.operation & (kOpDelete | kOpUpdate)) {
    const bool none = row.values.size() < 2 + 3;
    FileExHandle record = nullptr;
    if (info.operation & kOpDelete) {
      record = FileExRecInsByFlif(table, row.infoBlock + 2, 1);
    } else if (!none) {
      record = FileExRecOpenByID(table, lo(info.entryId), hi(info.entryId), 1, nullptr);
    }
    if ((info.operation & kOpDelete) || !none) {
      if (!record) result = -1;
      if (result == 0 && !none && FileExSetFldByLog(record, 10, row.values.data()) != 0) result = -1;
      if (result == 0 && FileExFldWrite(record, table, 1) != 0) result = -1;
      if (record && FileExRelease(record, nullptr) != 0) result = -1;
    }
  } else {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
    result = -1;
  }
  if (!alreadyOpen && FileExRelease(table, nullptr) != 0) result = -1;
  return result;
}

// The ID of a table of the disk; 0 when it has none.
uint64_t tableIdOf(Disk& disk, const char* path) {
  if (FileExIsExist(&disk, path, -1, nullptr) <= 0) return 0;
  FileExHandle table = FileExCreate(&disk, path, -1, nullptr, FILEEX_KIND_TABLE | FILEEX_CREATE_OPEN, 0, 0, nullptr);
  if (!table) return 0;
  uint64_t id = 0;
  FileExGetID(table, &id);
  FileExRelease(table, nullptr);
  return id;
}

}  // namespace

ZEMTA_API int32_t FileExRollback(FileExDiskHandle handle, FileExHandle logTable, uint32_t lastLow, uint32_t lastHigh,
                                 const char* ownerName, FileExProgress* progress) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  Target log;
  if (!tableHandle(logTable, &log)) return -1;
  const uint64_t last = static_cast<uint64_t>(lastHigh) << 32 | lastLow;
  uint64_t count = 0;
  if (FileExGetRecCount(logTable, &count) != 0) return -1;
  if (last == 0 || last > count) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const bool elsewhere = log.disk != disk;
  if (elsewhere && container::FileExDiskHold(*disk) != 0) return -1;
  // What the roll-back writes is not a change to log: the log is taken off
  // the disk while it runs.
  Entry* keptLog = disk->logTable;
  disk->logTable = nullptr;
  container::Percent percent(progress, kStepRollback, count - last + 1);
  container::progressWords(progress, nullptr, nullptr);
  int32_t result = 0;
  uint64_t visited = 0;
  for (uint64_t n = count; n >= last; --n) {
    FileExHandle record = FileExRecOpen(logTable, lo(n), hi(n), 0, nullptr);
    if (!record) {
      result = -1;
      break;
    }
    Row row;
    bool ok = readRow(record, &row, ownerName != nullptr, 1);
    const bool skipped = ok && ownerName && row.owner != ownerName;
    if (FileExRelease(record, nullptr) != 0) ok = false;
    if (ok && !skipped) ok = undoRow(*disk, row) == 0 && FileExRecDelete(logTable, lo(n), hi(n)) == 0;
    if (!ok) {
      result = -1;
      break;
    }
    percent.at(++visited);
    if (n == 1) break;
  }
  if (result == 0) {
    percent.done();
    char text[64];
    std::snprintf(text, sizeof text, "ロールバック: %llu", static_cast<unsigned long long>(visited));
    if (FileExRecInsErr(disk, __LINE__, __FILE__, 0, text, ownerName) != 0) result = -1;
  }
  disk->logTable = keptLog;
  if (elsewhere && container::FileExDiskUnhold(*disk) != 0) result = -1;
  return result;
}

ZEMTA_API int32_t FileExGetLastBackup(FileExDiskHandle handle, char* buffer, int32_t size, uint64_t* rowNumber) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  if (!buffer || size <= 1) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  buffer[0] = 0;
  FileExHandle log = disk->logTable;
  bool opened = false;
  if (!log) {
    if (FileExIsExist(disk, "\\SYSTEM\\LOG", -1, nullptr) <= 0) return 0;
    log = FileExCreate(disk, "\\SYSTEM\\LOG", -1, nullptr, 0, 0, 0, nullptr);
    if (!log) return -1;
    opened = true;
  }
  int32_t result = 0;
  Target target;
  if (!tableHandle(log, &target)) result = -1;
  const uint64_t dataId = result == 0 ? tableIdOf(*disk, "\\SYSTEM\\HISTORY\\DATA") : 0;
  const uint64_t zipId = result == 0 ? tableIdOf(*disk, "\\SYSTEM\\HISTORY\\LIB") : 0;
  uint64_t count = 0;
  if (result == 0 && FileExGetRecCount(log, &count) != 0) result = -1;
  for (uint64_t n = count; result == 0 && n >= 1; --n) {
    FileExHandle record = FileExRecOpen(log, lo(n), hi(n), 0, nullptr);
    if (!record) {
      result = -1;
      break;
    }
    Row row;
    bool ok = readRow(record, &row, false, 0);
    const bool found = ok && (row.info.operation & kOpInsert) && row.info.tableId != 0 &&
                       (row.info.tableId == dataId || row.info.tableId == zipId);
    if (found) ok = readRow(record, &row, false, 2);
    if (FileExRelease(record, nullptr) != 0) ok = false;
    if (!ok) {
      result = -1;
      break;
    }
    if (found) {
      const std::vector<uint8_t>& v = row.values;
      // The first logged value: u16 column, u16 type, u16 length, the text.
      if (v.size() > 8 && get_u16le(v.data() + 2) == 1 && (get_u16le(v.data() + 4) & 0x1F) == 0 &&
          get_u16le(v.data() + 6) > 0) {
        const size_t length = std::min<size_t>(get_u16le(v.data() + 6), v.size() - 8);
        const size_t n2 = std::min(length, static_cast<size_t>(size));
        std::memcpy(buffer, v.data() + 8, n2);
        buffer[std::min(n2, static_cast<size_t>(size - 1))] = 0;
        if (rowNumber) *rowNumber = n;
        result = row.info.tableId == dataId ? 1 : 3;
      }
      break;
    }
    if (n == 1) break;
  }
  if (opened && FileExRelease(log, nullptr) != 0) result = -1;
  return result;
}

ZEMTA_API int32_t FileExDiskCopyLog(const char* destinationPath, const char* sourcePath, void* ownerWindow,
                                    FileExProgress* progress) {
  if (!destinationPath || !sourcePath) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  FileExDiskHandle source = FileExDiskCreate(sourcePath, nullptr, ownerWindow, FILEEX_DISK_LOG);
  if (!source) return -1;
  FileExDiskHandle destination = FileExDiskCreate(destinationPath, nullptr, ownerWindow, FILEEX_DISK_LOG);
  if (!destination) {
    FileExDiskRelease(source);
    return -1;
  }
  int32_t result = 0;
  FileExHandle from = FileExCreate(source, "\\SYSTEM\\LOG", -1, nullptr, 0x6000, 0, 0, nullptr);
  FileExHandle to = from ? FileExCreate(destination, "\\SYSTEM\\LOG", -1, nullptr, 0x6003 | FILEEX_CREATE_OPEN, 0, 0, nullptr)
                         : nullptr;
  if (!from || !to) result = -1;
  if (to && container::setUpSystemTable("\\SYSTEM\\LOG", to) < 0) result = -1;
  uint64_t count = 0;
  if (result == 0 && FileExGetRecCount(from, &count) != 0) result = -1;
  container::Percent percent(progress, kStepCopyLog, count);
  std::vector<uint8_t> buffer(8192);
  for (uint64_t n = 1; result == 0 && n <= count; ++n) {
    FileExHandle row = FileExRecOpen(from, lo(n), hi(n), 0, nullptr);
    FileExHandle copy = row ? FileExRecInsert(to, 0xFFFFFFFFu, 0xFFFFFFFFu, nullptr, 1, nullptr) : nullptr;
    if (!row || !copy) result = -1;
    const uint64_t size = result == 0 ? FileExGetSize(row) : 0;
    if (result == 0 && (size == ~0ull || FileExSetPointer(row, 0, 0) == ~0ull)) result = -1;
    for (uint64_t done = 0; result == 0 && done < size;) {
      const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(buffer.size(), size - done));
      uint32_t got = 0;
      if (FileExRead(row, buffer.data(), want, &got) != 0) result = -1;
      else if (got != want) {
        ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
        result = -1;
      } else if (FileExWrite(copy, buffer.data(), got) != 0) result = -1;
      done += got;
    }
    if (result == 0) {
      auto* a = static_cast<Entry*>(row);
      auto* b = static_cast<Entry*>(copy);
      std::memcpy(b->record + container::kFieldCreated, a->record + container::kFieldCreated, 24);
      std::memcpy(b->record + 456, a->record + 456, 24);
      b->state |= container::kStateDirty;
    }
    if (copy && FileExRelease(copy, nullptr) != 0) result = -1;
    if (row && FileExRelease(row, nullptr) != 0) result = -1;
    percent.at(n);
  }
  if (result == 0) percent.done();
  if (to && FileExRelease(to, nullptr) != 0) result = -1;
  if (from && FileExRelease(from, nullptr) != 0) result = -1;
  if (FileExDiskRelease(destination) != 0) result = -1;
  if (FileExDiskRelease(source) != 0) result = -1;
  return result;
}
