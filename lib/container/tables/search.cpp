// Record search through a table's indexes, and result sets.
//
// Result set: an ID set entry (kind 7) under its owner entry (by default the
// searched table), possibly on another disk. Its count is the u64 at 384;
// its key tree maps the 1-based position (u64) to the record ID, its
// reverse tree the record ID to the position, so a set keeps the order in
// which records were appended and answers at once whether it holds one.
//
// Index of a column list: the first index definition of the table (group
// 3, item order) whose key columns equal the list; its trees are those of
// the table's index slot at the same place. Index key trees map the key to
// the record ID (duplicate keys allowed), reverse trees the ID to the key.
//
// A pattern search (to key 0 or -1) visits every key of a text index: the
// pattern and each key are turned to half-width, lower-case letters raised
// to upper case and, with to key 0, dashes ("-", half-width and full-width
// prolonged sound marks and the full-width minus) dropped; a key matches
// when the pattern occurs in it.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "lib/container/tables/table_internal.h"
#include "platform/base/last_error.h"
#include "zemta/fileex.h"
#include "zemta/typed.h"

namespace zemta::container {

namespace {

struct IndexRef {
  const uint8_t* def = nullptr;
  uint16_t keyLength = 0;
  uint16_t keyType = 0;
  int32_t keyTree = -1;
  int32_t reverseTree = -1;
};

// The index of a column list; false when the table has none on them.
bool findIndex(Entry& table, uint16_t count, const uint16_t* columns, IndexRef* out) {
  const std::vector<AttrItem> defs = itemsOf(table.saved, kGroupIndexes);
  for (size_t i = 0; i < defs.size(); ++i) {
    const AttrItem& def = defs[i];
    if (def.length < kIndexDefColumns || get_u16le(def.bytes + kIndexDefCount) != count) continue;
    if (def.length < kIndexDefColumns + 2u * count) continue;
    bool same = true;
    for (uint16_t c = 0; c < count && same; ++c) same = get_u16le(def.bytes + kIndexDefColumns + 2 * c) == columns[c];
    if (!same) continue;
    if (i >= table.indexes.size() || !table.indexes[i] || table.indexes[i]->firstTree == -1)
      ENTRY_FAIL(ZEMTA_ERR_FILE_FORMAT);
    out->def = def.bytes;
    out->keyLength = get_u16le(def.bytes + kIndexDefKeyLength);
    out->keyType = get_u16le(def.bytes + kIndexDefKeyType);
    out->keyTree = table.indexes[i]->firstTree;
    out->reverseTree = table.indexes[i]->secondTree;
    return true;
  }
  // A temporary index made on the table for one search or ordering serves
  // like a defined one while it is open.
  Disk* disk = diskAt(table.diskSlot);
  if (!disk) return false;
  for (Entry* handle : disk->handles) {
    if (!handle || handle->table != &table || handle->indexDef.size() < kIndexDefColumns + 2u * count ||
        handle->firstTree == -1 || (handle->typeFlags() & kTypeIdSet))
      continue;
    const uint8_t* def = handle->indexDef.data();
    if (get_u16le(def + kIndexDefCount) != count) continue;
    bool same = true;
    for (uint16_t c = 0; c < count && same; ++c) same = get_u16le(def + kIndexDefColumns + 2 * c) == columns[c];
    if (!same) continue;
    out->def = def;
    out->keyLength = get_u16le(def + kIndexDefKeyLength);
    out->keyType = get_u16le(def + kIndexDefKeyType);
    out->keyTree = handle->firstTree;
    out->reverseTree = handle->secondTree;
    return true;
  }
  return false;
}

IndexRef requireIndex(Entry& table, uint16_t count, const uint16_t* columns) {
  if (count == 0 || !columns) ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
  IndexRef ref;
  if (!findIndex(table, count, columns, &ref)) ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
  return ref;
}

uint64_t countOf(const Entry& set) { return get_u64le(set.record + kFieldRecordCount); }

bool inSet(Entry& set, uint64_t id) {
  uint8_t key[8];
  return treeKeyOfId(set.secondTree, id, key, 8);
}

void append(Disk& disk, Entry& set, uint64_t id) {
  const uint64_t count = countOf(set) + 1;
  put_u64le(set.record + kFieldRecordCount, count);
  set.state |= kStateDirty;
  uint8_t key[8];
  put_u64le(key, count);
  if (set.firstTree != -1) treeInsert(set.firstTree, id, key, 8);
  treeInsert(set.secondTree, id, key, 8);
  if (BtreeExSpaceFlush(&disk, 0) < 0) ENTRY_FAIL(0);
}

Disk& diskOf(Entry& entry) {
  Disk* disk = diskAt(entry.diskSlot);
  if (!disk || disk->check != kDiskCheck) ENTRY_FAIL(ZEMTA_ERR_BAD_DISK_HANDLE);
  return *disk;
}

// A new entry of the kind under the owner (null: the root of the disk).
Entry* makeUnder(Disk& disk, Entry* owner, uint32_t kind, uint32_t keyType, uint32_t keyLength) {
  uint8_t name[14] = {};
  put_u64le(name + 2, ~0ull);
  put_u16le(name + 10, static_cast<uint16_t>(kind));
  const std::string folder = owner ? fullPathOf(disk, owner->record) : std::string();
  const std::string path = folder + "\\" + std::string(reinterpret_cast<char*>(name), 14);
  return createAt(disk, folder + "\\", path.data(), static_cast<int32_t>(path.size()), nullptr, kind, keyType, keyLength,
                  nullptr);
}

Entry* newSet(Disk& disk, Entry* owner, Entry& table) {
  Entry* set = makeUnder(disk, owner, FILEEX_KIND_ID_SET, 0, 0);
  set->table = &table;
  set->ownerHandle = owner;
  return set;
}

// Releases a result or sort index and removes its entry.
void dropResult(Disk& disk, Entry* entry) {
  const uint64_t id = entry->id();
  int32_t ignored = 0;
  FileExEntryFlush(disk, *entry, &ignored);
  releaseEntryObject(disk, entry);
  removeEntryById(disk, id, false);
}

// The caller's handle takes the new contents; the old ones are removed.
void takeContents(Disk& disk, Entry& kept, Entry* fresh) {
  int32_t flushed = 0;
  FileExEntryFlush(disk, kept, &flushed);
  FileExEntryFlush(disk, *fresh, &flushed);
  std::swap(kept.record, fresh->record);
  std::swap(kept.position, fresh->position);
  std::swap(kept.firstTree, fresh->firstTree);
  std::swap(kept.secondTree, fresh->secondTree);
  dropResult(disk, fresh);
  if (flushed != 0) ENTRY_FAIL(0);
}

// The normalised text of a pattern or key for the pattern search.
std::string normalise(const uint8_t* bytes, size_t length, bool dashes) {
  std::string raw(reinterpret_cast<const char*>(bytes), strnlen(reinterpret_cast<const char*>(bytes), length));
  std::string half(raw.size() * 2 + 1, '\0');
  if (!raw.empty()) {
    const int32_t n = ZenToHan(half.data(), static_cast<int32_t>(half.size()), raw.c_str());
    if (n < 0) ENTRY_FAIL(0);
    half.resize(static_cast<size_t>(n));
  } else {
    half.clear();
  }
  std::string out;
  for (size_t i = 0; i < half.size(); ++i) {
    const auto c = static_cast<uint8_t>(half[i]);
    if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
      if (i + 1 >= half.size()) {
        out += static_cast<char>(c);
        break;
      }
      const auto t = static_cast<uint8_t>(half[i + 1]);
      ++i;
      if (dashes && c == 0x81 && (t == 0x5B || t == 0x7C)) continue;
      out += static_cast<char>(c);
      out += static_cast<char>(t);
      continue;
    }
    if (dashes && (c == 0x2D || c == 0xB0)) continue;
    out += static_cast<char>(c >= 0x61 && c <= 0x7A ? c - 0x20 : c);
  }
  return out;
}

bool isPattern(const void* to) { return to == FILEEX_PATTERN_LOOSE || to == FILEEX_PATTERN_STRICT; }

// Walks the index over the range or pattern, calling visit for each record ID in index order.
template <typename Visit>
void walkIndex(const IndexRef& index, const uint8_t* from, const void* toArgument, Visit&& visit) {
  if (!from) ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
  const size_t length = index.keyLength;
  std::vector<uint8_t> key(length + 8);
  if (isPattern(toArgument)) {
    if ((index.keyType & ~0x20u) != 0) ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
    const bool dashes = toArgument == FILEEX_PATTERN_LOOSE;
    const bool presence = (index.keyType & 0x20) != 0;
    const size_t skip = presence ? 1 : 0;
    const bool patternPresent = !presence || (from[0] & 1);
    const std::string pattern = patternPresent ? normalise(from + skip, length - skip, dashes) : std::string();
    BtreeExSetCurPos(index.keyTree, 0xFFFFFFFFu, 0xFFFFFFFFu, 0);
    for (;;) {
      uint64_t id = 0;
      const int32_t step = BtreeExNext(index.keyTree, &id, key.data());
      if (step < 0) ENTRY_FAIL(0);
      if (step == 0) break;
      bool match;
      if (presence && !patternPresent) match = !(key[0] & 1);
      else if (presence && !(key[0] & 1)) match = false;
      else match = normalise(key.data() + skip, length - skip, dashes).find(pattern) != std::string::npos;
      if (match) visit(id);
    }
    return;
  }
  const auto* to = static_cast<const uint8_t*>(toArgument);
  BtreeExCompareFunc compare = FileExSelectCompare(index.keyType, index.keyLength);
  if (!compare) ENTRY_FAIL(ZEMTA_ERR_FILE_FORMAT);
  const bool descending = compare(from, to, index.keyLength) > 0;
  uint64_t endId = 0;
  const int32_t end = descending ? BtreeExGEqu(index.keyTree, &endId, to) : BtreeExLEqu(index.keyTree, &endId, to);
  if (end < 0) ENTRY_FAIL(0);
  if (end == 0) return;
  // An end that lies before the start (no key in the range) leaves the set empty.
  if (BtreeExGetCurKey(index.keyTree, static_cast<uint32_t>(endId), static_cast<uint32_t>(endId >> 32), key.data()) != 0)
    ENTRY_FAIL(0);
  const int32_t side = compare(key.data(), from, index.keyLength);
  if (descending ? side > 0 : side < 0) return;
  uint64_t id = 0;
  const int32_t start = descending ? BtreeExGrtr(index.keyTree, &id, from) : BtreeExLess(index.keyTree, &id, from);
  if (start < 0) ENTRY_FAIL(0);
  for (;;) {
    const int32_t step = descending ? BtreeExPrev(index.keyTree, &id, nullptr) : BtreeExNext(index.keyTree, &id, nullptr);
    if (step < 0) ENTRY_FAIL(0);
    if (step == 0) break;
    visit(id);
    if (id == endId) break;
  }
}

// Runs body with every entry of the list accessed; failures are reported.
template <typename Body>
int32_t withEntries(std::vector<Entry*> entries, Body&& body) {
  std::vector<std::pair<Disk*, Entry*>> begun;
  int32_t result = 0;
  int32_t value = -1;
  try {
    for (Entry* e : entries) {
      Disk& disk = diskOf(*e);
      if (beginAccess(disk, e, kImplicitMode)) begun.emplace_back(&disk, e);
    }
    value = body();
  } catch (const Failure& failure) {
    report(failure);
    result = -1;
  } catch (const std::bad_alloc&) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    result = -1;
  }
  for (auto at = begun.rbegin(); at != begun.rend(); ++at) endAccess(*at->first, at->second, &result);
  return result == 0 ? value : -1;
}

}  // namespace

}  // namespace zemta::container

namespace container = zemta::container;
using container::Disk;
using container::Entry;
using container::Target;

namespace {

uint64_t join(uint32_t low, uint32_t high) { return low | (static_cast<uint64_t>(high) << 32); }

Entry* tableOf(FileExHandle handle) {
  Target target;
  if (!container::resolveHandle(handle, &target)) return nullptr;
  if (!container::isTable(target.entry)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return nullptr;
  }
  return target.entry;
}

Entry* setOf(FileExHandle handle, uint32_t need = container::kTypeIdSet) {
  Target target;
  if (!container::resolveHandle(handle, &target)) return nullptr;
  if (!target.entry || (target.entry->typeFlags() & need) != need || !(target.entry->typeFlags() & container::kTypeIndex)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return nullptr;
  }
  return target.entry;
}

// The owner of a set, which must still be a live entry (or the set lies
// under the root of its disk).
bool ownerIsValid(const Entry& set) {
  if (set.ownerHandle) return container::isLiveEntry(set.ownerHandle);
  return zemta::container::get_u64le(set.record + container::kFieldParentId) == 0;
}

}  // namespace

namespace {

// A record's ID from its number or the other way round: both fail on a
// zero key and on a key the table does not hold.
int32_t mapRecord(FileExHandle handle, uint64_t key, uint64_t* out, uint64_t (*map)(Entry&, uint64_t)) {
  if (out) *out = 0;
  Entry* table = tableOf(handle);
  if (!table) return -1;
  if (!out || key == 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return container::withEntries({table}, [&]() -> int32_t {
    *out = map(*table, key);
    if (*out == 0) throw container::Failure{ZEMTA_ERR_FILE_FORMAT, __LINE__};
    return 0;
  });
}

}  // namespace

ZEMTA_API int32_t FileExGetTblRecID(FileExHandle handle, uint32_t numberLow, uint32_t numberHigh, uint64_t* id) {
  return mapRecord(handle, join(numberLow, numberHigh), id,
                   [](Entry& table, uint64_t number) { return container::recordIdAt(table, number); });
}

ZEMTA_API int32_t FileExGetTblRecNo(FileExHandle handle, uint32_t idLow, uint32_t idHigh, uint64_t* number) {
  return mapRecord(handle, join(idLow, idHigh), number,
                   [](Entry& table, uint64_t id) { return container::recordNumberOf(table, id); });
}

ZEMTA_API int32_t FileExIsIndex(FileExHandle handle, int32_t count, const uint16_t* columns) {
  if (count == -1) {
    Entry* index = setOf(handle, 0);
    if (!index) return -1;
    return index->indexDef.empty() ? 0 : 1;
  }
  Entry* table = tableOf(handle);
  if (!table) return -1;
  if (count <= 0 || count > 0xFFFF || !columns) return 0;
  container::IndexRef ref;
  try {
    return container::findIndex(*table, static_cast<uint16_t>(count), columns, &ref) ? 1 : 0;
  } catch (const container::Failure&) {
    return 0;
  }
}

ZEMTA_API FileExHandle FileExRecEqu(FileExHandle handle, uint16_t count, const uint16_t* columns, const void* key,
                                    int32_t* matchClass, uint64_t* number) {
  if (matchClass) *matchClass = -1;
  if (number) *number = ~0ull;
  Entry* table = tableOf(handle);
  if (!table) return nullptr;
  Entry* opened = nullptr;
  container::withEntries({table}, [&]() -> int32_t {
    if (!key) throw container::Failure{ZEMTA_ERR_BAD_PARAMETER, __LINE__};
    const container::IndexRef index = container::requireIndex(*table, count, columns);
    uint64_t last = 0;
    int32_t found = BtreeExLEqu(index.keyTree, &last, key);
    if (found < 0) throw container::Failure{0, __LINE__};
    int32_t kind = 0;
    uint64_t first = 0;
    if (found == 1) {
      uint64_t before = 0;
      found = BtreeExLess(index.keyTree, &before, key);
      if (found < 0) throw container::Failure{0, __LINE__};
      if (found == 0 || before != last) {
        if (BtreeExNext(index.keyTree, &first, nullptr) != 1) throw container::Failure{ZEMTA_ERR_FILE_FORMAT, __LINE__};
        kind = first == last ? 1 : 2;
      }
    }
    if (matchClass) *matchClass = kind;
    if (kind == 0) return 0;
    Disk& disk = container::diskOf(*table);
    if (number) {
      *number = container::recordNumberOf(*table, first);
      return 0;
    }
    opened = container::openForCaller(disk, *table, *table, first, false);
    return 0;
  });
  return opened;
}

ZEMTA_API FileExHandle FileExRecSear(FileExHandle handle, uint16_t count, const uint16_t* columns, const void* from,
                                     const void* to, FileExHandle ownerHandle) {
  Entry* table = tableOf(handle);
  if (!table) return nullptr;
  Entry* owner = table;
  if (ownerHandle) {
    Target target;
    if (!container::resolveHandle(ownerHandle, &target)) return nullptr;
    owner = target.entry;
  }
  Disk* ownerDisk = nullptr;
  {
    Target target;
    container::resolveHandle(ownerHandle ? ownerHandle : handle, &target);
    ownerDisk = target.disk;
  }
  std::vector<Entry*> accessed = {table};
  if (owner && owner != table) accessed.push_back(owner);
  Entry* made = nullptr;
  if (!owner && ownerDisk) {
    // The set goes in the root of the owner disk: keep that disk's file open.
    try {
      (void)container::beginAccess(*ownerDisk, nullptr, container::kImplicitMode);
    } catch (const container::Failure& failure) {
      container::report(failure);
      return nullptr;
    }
  }
  const int32_t result = container::withEntries(accessed, [&]() -> int32_t {
    const container::IndexRef index = container::requireIndex(*table, count, columns);
    if (container::isPattern(to) && (index.keyType & ~0x20u) != 0) throw container::Failure{ZEMTA_ERR_BAD_PARAMETER, __LINE__};
    Entry* set = container::newSet(*ownerDisk, owner, *table);
    try {
      container::walkIndex(index, static_cast<const uint8_t*>(from), to,
                           [&](uint64_t id) { container::append(*ownerDisk, *set, id); });
    } catch (...) {
      container::dropResult(*ownerDisk, set);
      throw;
    }
    made = set;
    return 0;
  });
  if (!owner && ownerDisk) {
    int32_t ended = 0;
    container::endAccess(*ownerDisk, nullptr, &ended);
  }
  return result == 0 ? made : nullptr;
}

ZEMTA_API int32_t FileExRecOrSear(FileExHandle handle, uint16_t count, const uint16_t* columns, const void* from,
                                  const void* to, FileExHandle setHandle) {
  Entry* table = tableOf(handle);
  if (!table) return -1;
  Entry* set = setOf(setHandle);
  if (!set) return -1;
  return container::withEntries({table, set}, [&]() -> int32_t {
    const container::IndexRef index = container::requireIndex(*table, count, columns);
    Disk& disk = container::diskOf(*set);
    container::walkIndex(index, static_cast<const uint8_t*>(from), to, [&](uint64_t id) {
      if (!container::inSet(*set, id)) container::append(disk, *set, id);
    });
    return 0;
  });
}

ZEMTA_API int32_t FileExRecAndSear(FileExHandle handle, uint16_t count, const uint16_t* columns, const void* from,
                                   const void* to, FileExHandle setHandle) {
  Entry* table = tableOf(handle);
  if (!table) return -1;
  Entry* set = setOf(setHandle);
  if (!set) return -1;
  return container::withEntries({table, set}, [&]() -> int32_t {
    const container::IndexRef index = container::requireIndex(*table, count, columns);
    Disk& disk = container::diskOf(*set);
    Entry* fresh = container::newSet(disk, set->ownerHandle, *table);
    try {
      container::walkIndex(index, static_cast<const uint8_t*>(from), to, [&](uint64_t id) {
        if (container::inSet(*set, id)) container::append(disk, *fresh, id);
      });
    } catch (...) {
      container::dropResult(disk, fresh);
      throw;
    }
    container::takeContents(disk, *set, fresh);
    set->table = table;
    return 0;
  });
}

ZEMTA_API FileExHandle FileExRecRefSearByIdx(FileExHandle handleA, FileExHandle handleB, uint16_t count,
                                             const uint16_t* columnsA, const uint16_t* columnsB, FileExHandle setHandle) {
  Entry* tableA = tableOf(handleA);
  Entry* tableB = tableA ? tableOf(handleB) : nullptr;
  Entry* setB = tableB ? setOf(setHandle) : nullptr;
  if (!setB) return nullptr;
  Entry* made = nullptr;
  container::withEntries({tableA, tableB, setB}, [&]() -> int32_t {
    const container::IndexRef indexB = container::requireIndex(*tableB, count, columnsB);
    const container::IndexRef indexA = container::requireIndex(*tableA, count, columnsA);
    if (indexA.keyLength != indexB.keyLength || indexA.keyType != indexB.keyType)
      throw container::Failure{ZEMTA_ERR_BAD_PARAMETER, __LINE__};
    BtreeExCompareFunc compare = container::FileExSelectCompare(indexA.keyType, indexA.keyLength);
    if (!compare) throw container::Failure{ZEMTA_ERR_FILE_FORMAT, __LINE__};
    Disk& disk = container::diskOf(*setB);
    // The B records, in record-ID order.
    std::vector<uint64_t> ids;
    BtreeExSetCurPos(setB->secondTree, 0xFFFFFFFFu, 0xFFFFFFFFu, 0);
    for (;;) {
      uint64_t id = 0;
      const int32_t step = BtreeExNext(setB->secondTree, &id, nullptr);
      if (step < 0) throw container::Failure{0, __LINE__};
      if (step == 0) break;
      ids.push_back(id);
    }
    Entry* fresh = container::newSet(disk, setB->ownerHandle, *tableA);
    try {
      std::vector<uint8_t> key(indexA.keyLength), found(indexA.keyLength);
      for (uint64_t idB : ids) {
        if (!container::treeKeyOfId(indexB.reverseTree, idB, key.data(), key.size())) continue;
        uint64_t idA = 0;
        int32_t step = BtreeExGEqu(indexA.keyTree, &idA, key.data());
        while (step == 1) {
          if (BtreeExGetCurKey(indexA.keyTree, static_cast<uint32_t>(idA), static_cast<uint32_t>(idA >> 32), found.data()) != 0)
            throw container::Failure{0, __LINE__};
          if (compare(found.data(), key.data(), indexA.keyLength) != 0) break;
          if (!container::inSet(*fresh, idA)) container::append(disk, *fresh, idA);
          // Appending moved no cursor of A's index; step on from the same place.
          step = BtreeExNext(indexA.keyTree, &idA, nullptr);
        }
        if (step < 0) throw container::Failure{0, __LINE__};
      }
    } catch (...) {
      container::dropResult(disk, fresh);
      throw;
    }
    made = fresh;
    return 0;
  });
  return made;
}

ZEMTA_API int32_t FileExRecCombine(FileExHandle handleA, FileExHandle handleB, int32_t mode) {
  Entry* a = setOf(handleA);
  Entry* b = a ? setOf(handleB) : nullptr;
  if (!b) return -1;
  if (!ownerIsValid(*a)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return -1;
  }
  if (mode != 0 && mode != 1) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return container::withEntries({a, b}, [&]() -> int32_t {
    Disk& disk = container::diskOf(*a);
    std::vector<uint64_t> ids;
    BtreeExSetCurPos(b->secondTree, 0xFFFFFFFFu, 0xFFFFFFFFu, 0);
    for (;;) {
      uint64_t id = 0;
      const int32_t step = BtreeExNext(b->secondTree, &id, nullptr);
      if (step < 0) throw container::Failure{0, __LINE__};
      if (step == 0) break;
      ids.push_back(id);
    }
    if (mode == 0) {
      for (uint64_t id : ids)
        if (!container::inSet(*a, id)) container::append(disk, *a, id);
      return 0;
    }
    Entry* fresh = container::newSet(disk, a->ownerHandle, *a->table);
    try {
      for (uint64_t id : ids)
        if (container::inSet(*a, id)) container::append(disk, *fresh, id);
    } catch (...) {
      container::dropResult(disk, fresh);
      throw;
    }
    container::takeContents(disk, *a, fresh);
    return 0;
  });
}

ZEMTA_API int32_t FileExRecOrder(FileExHandle handle, uint16_t count, const uint16_t* columns, int32_t ascending,
                                 FileExHandle setHandle) {
  Entry* table = tableOf(handle);
  if (!table) return -1;
  Entry* set = setOf(setHandle);
  if (!set) return -1;
  if (!ownerIsValid(*set)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return -1;
  }
  return container::withEntries({table, set}, [&]() -> int32_t {
    const container::IndexRef index = container::requireIndex(*table, count, columns);
    Disk& disk = container::diskOf(*set);
    Entry* sort = container::makeUnder(disk, set->ownerHandle, FILEEX_KIND_INDEX_ON_DEMAND, index.keyType, index.keyLength);
    Entry* fresh = nullptr;
    try {
      std::vector<uint8_t> key(index.keyLength);
      BtreeExSetCurPos(set->firstTree, 0xFFFFFFFFu, 0xFFFFFFFFu, 0);
      std::vector<std::pair<uint64_t, uint64_t>> members;  // (record ID, position)
      for (;;) {
        uint64_t id = 0;
        uint8_t position[8];
        const int32_t step = BtreeExNext(set->firstTree, &id, position);
        if (step < 0) throw container::Failure{0, __LINE__};
        if (step == 0) break;
        members.emplace_back(id, zemta::container::get_u64le(position));
      }
      for (const auto& [id, position] : members) {
        if (!container::treeKeyOfId(index.reverseTree, id, key.data(), key.size()))
          throw container::Failure{ZEMTA_ERR_FILE_FORMAT, __LINE__};
        container::treeInsert(sort->firstTree, position, key.data(), key.size());
        if (BtreeExSpaceFlush(&disk, 0) < 0) throw container::Failure{0, __LINE__};
      }
      fresh = container::newSet(disk, set->ownerHandle, *table);
      BtreeExSetCurPos(sort->firstTree, 0xFFFFFFFFu, 0xFFFFFFFFu, 0);
      std::vector<uint64_t> positions;
      for (;;) {
        uint64_t position = 0;
        const int32_t step = ascending ? BtreeExNext(sort->firstTree, &position, nullptr)
                                       : BtreeExPrev(sort->firstTree, &position, nullptr);
        if (step < 0) throw container::Failure{0, __LINE__};
        if (step == 0) break;
        positions.push_back(position);
      }
      for (uint64_t position : positions) {
        uint8_t positionKey[8];
        zemta::container::put_u64le(positionKey, position);
        uint64_t id = 0;
        const int32_t found = BtreeExEqu(set->firstTree, &id, positionKey);
        if (found != 1) throw container::Failure{found < 0 ? 0u : ZEMTA_ERR_FILE_FORMAT, __LINE__};
        container::append(disk, *fresh, id);
      }
    } catch (...) {
      if (fresh) container::dropResult(disk, fresh);
      container::dropResult(disk, sort);
      throw;
    }
    container::dropResult(disk, sort);
    container::takeContents(disk, *set, fresh);
    return 0;
  });
}

ZEMTA_API int32_t FileExGetSearCount(FileExHandle handle, uint64_t* count) {
  Entry* set = setOf(handle);
  if (!set) return -1;
  if (count) *count = container::countOf(*set);
  return 0;
}

namespace {

// The record ID at the position after *position; 1, 0 at the end, -1.
int32_t fetchId(Entry* table, Entry* set, uint64_t* position, uint64_t* id) {
  if (!position) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const uint64_t wanted = *position + 1;
  *position = 0;
  if (!table || !set) return -1;
  if (wanted == 0 || wanted > container::countOf(*set)) return 0;
  return container::withEntries({set}, [&]() -> int32_t {
    if (wanted == 1) BtreeExSetCurPos(set->firstTree, 0xFFFFFFFFu, 0xFFFFFFFFu, 0);
    uint8_t key[8] = {};
    uint64_t found = 0;
    int32_t step = BtreeExNext(set->firstTree, &found, key);
    if (step < 0) throw container::Failure{0, __LINE__};
    if (step == 0 || zemta::container::get_u64le(key) != wanted) {
      zemta::container::put_u64le(key, wanted);
      step = BtreeExEqu(set->firstTree, &found, key);
      if (step < 0) throw container::Failure{0, __LINE__};
    }
    if (step == 0) {
      *position = wanted;
      return 0;
    }
    *position = wanted;
    *id = found;
    return 1;
  });
}

}  // namespace

ZEMTA_API int32_t FileExFetchNextID(FileExHandle tableHandle, FileExHandle setHandle, uint64_t* position, uint64_t* id) {
  Entry* table = tableOf(tableHandle);
  Entry* set = table ? setOf(setHandle) : nullptr;
  uint64_t found = 0;
  const int32_t result = fetchId(table, set, position, &found);
  if (result < 0 && position) *position = 0;
  if (result == 1 && id) *id = found;
  return result;
}

ZEMTA_API int32_t FileExFetchNextRec(FileExHandle tableHandle, FileExHandle setHandle, uint64_t* position, uint64_t* number) {
  if (number) *number = 0;
  Entry* table = tableOf(tableHandle);
  Entry* set = table ? setOf(setHandle) : nullptr;
  uint64_t id = 0;
  const int32_t result = fetchId(table, set, position, &id);
  if (result != 1) {
    if (result < 0 && position) *position = 0;
    return result;
  }
  uint64_t found = 0;
  if (container::withEntries({table}, [&]() -> int32_t {
        found = container::recordNumberOf(*table, id);
        if (found == 0) throw container::Failure{ZEMTA_ERR_FILE_FORMAT, __LINE__};
        return 0;
      }) != 0) {
    *position = 0;
    return -1;
  }
  if (number) *number = found;
  return 1;
}

ZEMTA_API FileExHandle FileExFetchNext(FileExHandle tableHandle, FileExHandle setHandle, uint64_t* position) {
  Entry* table = tableOf(tableHandle);
  Entry* set = table ? setOf(setHandle) : nullptr;
  uint64_t id = 0;
  const int32_t result = fetchId(table, set, position, &id);
  if (result != 1) {
    if (result < 0 && position) *position = 0;
    return nullptr;
  }
  Entry* opened = nullptr;
  if (container::withEntries({table}, [&]() -> int32_t {
        Disk& disk = container::diskOf(*table);
        opened = container::openForCaller(disk, *table, *table, id, false);
        return 0;
      }) != 0) {
    *position = 0;
    return nullptr;
  }
  return opened;
}

ZEMTA_API int32_t FileExIdxRemove(FileExHandle handle) {
  Entry* entry = setOf(handle, 0);
  if (!entry) return -1;
  if (!(entry->typeFlags() & container::kTypeIdSet) && entry->indexDef.empty() && !entry->table) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return -1;
  }
  if (!ownerIsValid(*entry)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return -1;
  }
  Disk* disk = container::diskAt(entry->diskSlot);
  const uint64_t id = entry->id();
  int32_t result = FileExRelease(entry, nullptr);
  if (container::withAccess(*disk, nullptr, [&]() -> int32_t {
        container::removeEntryById(*disk, id, false);
        return 0;
      }) != 0)
    result = -1;
  return result;
}
