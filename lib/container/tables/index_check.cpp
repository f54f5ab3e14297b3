// The table and index check: every record of a table must stand once in the
// record store (numbered 1 to the record count without a gap) and once in
// each index under the key its values make; broken indexes can be rebuilt.
#include <algorithm>
#include <cstring>
#include <string>
#include <set>
#include <utility>
#include <vector>

#include "lib/container/disk/progress.h"
#include "lib/container/tables/table_internal.h"
#include "zemta/btreeex.h"
#include "zemta/fileex.h"

namespace container = zemta::container;
using container::AttrItem;
using container::Disk;
using container::Entry;
using container::Target;

namespace zemta::container {

namespace {

constexpr int32_t kStepCheck = 9;
constexpr int32_t kStepRebuild = 10;
constexpr uint32_t kRebuilt = 0x20000000;

using Pairs = std::set<std::pair<uint64_t, std::vector<uint8_t>>>;

// Every (ID, key) of a tree.
Pairs treePairs(int32_t tree, size_t keyLength) {
  Pairs pairs;
  if (BtreeExSetCurPos(tree, 0xFFFFFFFFu, 0xFFFFFFFFu, 0) != 0) ENTRY_FAIL(0);
  std::vector<uint8_t> key(std::max<size_t>(keyLength, 1));
  for (;;) {
    uint64_t id = 0;
    const int32_t step = BtreeExNext(tree, &id, key.data());
    if (step < 0) ENTRY_FAIL(0);
    if (step == 0) break;
    pairs.insert({id, std::vector<uint8_t>(key.begin(), key.begin() + static_cast<ptrdiff_t>(keyLength))});
  }
  return pairs;
}

// The IDs of the table's records, from its folder tree.
std::vector<uint64_t> recordIds(Disk& disk, Entry& table) {
  std::vector<uint64_t> ids;
  if (BtreeExSetCurPos(table.firstTree, 0xFFFFFFFFu, 0xFFFFFFFFu, 0) != 0) ENTRY_FAIL(0);
  std::vector<uint64_t> positions;
  for (;;) {
    uint64_t position = 0;
    const int32_t step = BtreeExNext(table.firstTree, &position, nullptr);
    if (step < 0) ENTRY_FAIL(0);
    if (step == 0) break;
    positions.push_back(position);
  }
  for (uint64_t position : positions) {
    uint8_t record[kBlock];
    readRecord(disk, static_cast<int64_t>(position), record);
    if (get_u32le(record + kFieldTypeFlags) & kTypeRecord) ids.push_back(get_u64le(record + kFieldId));
  }
  return ids;
}

// The check of a table in its access: the broken count (store + indexes),
// or after a repair the rebuilt count with bit 29.
int32_t checkTable(Disk& disk, Entry& table, bool repair, FileExProgress* progress) {
  const std::vector<AttrItem> defs = itemsOf(table.attributes, kGroupIndexes);
  if (defs.size() != table.indexes.size()) ENTRY_FAIL(ZEMTA_ERR_FILE_FORMAT);
  // Each slot with its definition.
  std::vector<const AttrItem*> defOf(table.indexes.size(), nullptr);
  for (size_t i = 0; i < table.indexes.size(); ++i) {
    if (!table.indexes[i]) ENTRY_FAIL(ZEMTA_ERR_INDEX_UPDATE);
    for (const AttrItem& def : defs)
      if (def.length >= kIndexDefColumns && get_u64le(def.bytes + kIndexDefEntry) == table.indexes[i]->id())
        defOf[i] = &def;
    if (!defOf[i]) ENTRY_FAIL(ZEMTA_ERR_INDEX_UPDATE);
  }
  const uint64_t count = get_u64le(table.record + kFieldRecordCount);
  Percent percent(progress, kStepCheck, count);
  progressWords(progress, &table, nullptr);
  const std::string tableName(reinterpret_cast<const char*>(table.record + kFieldName),
                              strnlen(reinterpret_cast<const char*>(table.record + kFieldName), 127));
  progressLabel(progress, tableName);

  const std::vector<uint64_t> ids = recordIds(disk, table);
  std::vector<Pairs> expected(table.indexes.size());
  uint64_t walked = 0;
  for (uint64_t id : ids) {
    Entry* record = openRecordEntry(disk, table, id);
    for (size_t i = 0; i < table.indexes.size(); ++i)
      expected[i].insert({id, buildKey(table.attributes, defOf[i]->bytes, defOf[i]->length, record->attributes)});
    releaseEntryObject(disk, record);
    percent.at(++walked);
    if (walked > count) break;
  }
  // The store: the records' IDs, numbered 1 to the count.
  bool storeBroken = walked != count;
  const Pairs byId = treePairs(table.storeIdTree, 8);
  const Pairs byNumber = treePairs(table.storeNumberTree, 8);
  std::set<uint64_t> idSet(ids.begin(), ids.end());
  if (byId.size() != idSet.size() || byNumber.size() != count) storeBroken = true;
  for (const auto& [id, key] : byId)
    if (!idSet.count(id)) storeBroken = true;
  std::set<uint64_t> numbers;
  for (const auto& [id, key] : byNumber) {
    numbers.insert(get_u64le(key.data()));
    if (!idSet.count(id)) storeBroken = true;
  }
  if (numbers.size() != count || (count > 0 && (*numbers.begin() != 1 || *numbers.rbegin() != count))) storeBroken = true;

  std::vector<size_t> broken;
  for (size_t i = 0; i < table.indexes.size(); ++i) {
    Entry& index = *table.indexes[i];
    const size_t keyLength = get_u16le(index.record + kFieldKeyLength);
    bool sound = keyLength == get_u16le(defOf[i]->bytes + kIndexDefKeyLength);
    for (const auto& [id, key] : expected[i])
      if (key.size() != keyLength) sound = false;
    sound = sound && treePairs(index.secondTree, keyLength) == expected[i] && treePairs(index.firstTree, keyLength) == expected[i];
    if (!sound) broken.push_back(i);
  }
  percent.done();
  progressWords(progress, nullptr, nullptr);
  progressLabel(progress, std::string());
  if (!repair || storeBroken || broken.empty()) return static_cast<int32_t>(broken.size()) + (storeBroken ? 1 : 0);

  // Rebuilding: a definition without its index entry is built again when
  // the table's list is written.
  Percent rebuild(progress, kStepRebuild, broken.size());
  std::vector<std::pair<uint16_t, std::vector<uint8_t>>> reset;
  for (size_t i : broken) {
    std::vector<uint8_t> def(defOf[i]->bytes, defOf[i]->bytes + defOf[i]->length);
    put_u64le(def.data() + kIndexDefEntry, 0);
    put_u16le(def.data() + kIndexDefKeyLength, 0);
    put_u16le(def.data() + kIndexDefKeyType, 0);
    reset.push_back({defOf[i]->item, std::move(def)});
  }
  for (auto& [item, def] : reset) {
    progressWords(progress, &table, def.data());
    const char* indexName = reinterpret_cast<const char*>(def.data() + kIndexDefName);
    progressLabel(progress, tableName + " (" + std::string(indexName, strnlen(indexName, def.size() - kIndexDefName)) + ")");
    if (setItem(table.attributes, table.record, kGroupIndexes, item, kValueIndexDef, static_cast<int32_t>(def.size()),
                def.data()) < 0)
      ENTRY_FAIL(0);
  }
  writeEntry(disk, table, nullptr, false);
  rebuild.done();
  progressWords(progress, nullptr, nullptr);
  progressLabel(progress, std::string());
  return static_cast<int32_t>(kRebuilt | broken.size());
}

}  // namespace

}  // namespace zemta::container

ZEMTA_API int32_t FileExTblIdxCheck(FileExHandle handle, int32_t repair, FileExProgress* progress) {
  Target target;
  if (!container::resolveHandle(handle, &target)) return -1;
  if (!target.entry || !container::isTable(target.entry)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return -1;
  }
  return container::withAccess(*target.disk, target.entry, [&]() -> int32_t {
    return container::checkTable(*target.disk, *target.entry, repair != 0, progress);
  });
}

ZEMTA_API int32_t FileExTblIdxCheckAll(FileExDiskHandle handle, int32_t repair, FileExProgress* progress) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  if (container::FileExDiskHold(*disk) != 0) return -1;
  // The tables of the disk, from its ID tree.
  std::vector<uint64_t> tables;
  int32_t result = container::withAccess(*disk, nullptr, [&]() -> int32_t {
    if (BtreeExSetCurPos(disk->idTree, 0xFFFFFFFFu, 0xFFFFFFFFu, 0) != 0) throw container::Failure{0, __LINE__};
    std::vector<uint64_t> positions;
    for (;;) {
      uint64_t position = 0;
      const int32_t step = BtreeExNext(disk->idTree, &position, nullptr);
      if (step < 0) throw container::Failure{0, __LINE__};
      if (step == 0) break;
      positions.push_back(position);
    }
    const uint64_t configId = disk->config ? static_cast<Entry*>(disk->config)->id() : 0;
    const uint64_t logId = disk->logTable && !disk->logDiskHandle ? disk->logTable->id() : 0;
    for (uint64_t position : positions) {
      uint8_t record[container::kBlock];
      container::readRecord(*disk, static_cast<int64_t>(position), record);
      const uint64_t id = container::get_u64le(record + container::kFieldId);
      const uint32_t flags = zemta::get_u32le(record + container::kFieldTypeFlags);
      if (!(flags & container::kTypeTable) || id == configId || id == logId) continue;
      if (std::find(tables.begin(), tables.end(), id) == tables.end()) tables.push_back(id);
    }
    return 0;
  });
  int64_t brokenTotal = 0, rebuiltTotal = 0;
  for (uint64_t id : tables) {
    if (result != 0) break;
    int32_t alreadyOpen = 0;
    FileExHandle table = FileExCreateByID(disk, static_cast<uint32_t>(id), static_cast<uint32_t>(id >> 32), nullptr,
                                          &alreadyOpen);
    if (!table) {
      result = -1;
      break;
    }
    const int32_t checked = FileExTblIdxCheck(table, repair, progress);
    if (!alreadyOpen && FileExRelease(table, nullptr) != 0) result = -1;
    if (checked < 0) result = -1;
    else if (checked & container::kRebuilt) rebuiltTotal += checked & 0xFFFF;
    else brokenTotal += checked;
  }
  if (container::FileExDiskUnhold(*disk) != 0) result = -1;
  if (result != 0) return -1;
  if (brokenTotal != 0) return static_cast<int32_t>(std::min<int64_t>(brokenTotal, 0x1FFFFFFF));
  if (rebuiltTotal != 0) return static_cast<int32_t>(container::kRebuilt | rebuiltTotal);
  return 0;
}
