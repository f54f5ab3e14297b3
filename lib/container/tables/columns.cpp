// Columns, the column order, index keys, index building and opening,
// temporary indexes, and the table structure reports.
//
// Column definition (item (2, column), value type 0x51F, 270 bytes):
//   | 0 u16 270 | 2 name[128] | 130 zero[128] | 258 u16 field size |
//   | 260 u16 value type | 262 u16 | 264 u16 | 266 u32 (stored as given) |
// Index definition (item (3, index), value type 0x61F, 276 + 2 per column):
//   | 0 u16 flags | 2 u16 key column count | 4 zero[4] | 8 name |
//   | 264 u64 ID of the index entry (0: to be built) | 272 u16 key length |
//   | 274 u16 key type | 276 u16 key columns |
// Index key: a one-column index has the column's type; several columns
// give type 0 plus bit 0x20 of the last column. The key is the column
// values side by side over their sizes (a leading byte 1 when the key type
// has 0x20 and every column has a value, else 0); in a byte key, numbers
// are written big-endian so that bytes sort as the values do. A definition
// whose flags word has kIndexDefOrderedSigns holds keys whose signed
// numbers also sort below zero correctly (makeIndexKey).
//
// Structure reports hand out arrays allocated with malloc: column
// definitions (270 bytes each), links (16 each), action lists (packed, an
// empty list being u16 2), column order (u16 each), index definitions
// (packed) and index numbers (u16 each). FileExFreeOdr frees the order and
// FileExFreeTblStruct any of the others.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lib/container/tables/table_internal.h"
#include "zemta/fileex.h"

namespace zemta::container {

namespace {

uint16_t widthOf(const AttrItem* def) {
  return def && def->length >= kColumnDefType + 2 ? get_u16le(def->bytes + kColumnDefWidth) : 0;
}
uint16_t typeOf(const AttrItem* def) {
  return def && def->length >= kColumnDefType + 2 ? get_u16le(def->bytes + kColumnDefType) : 0;
}

// The entry's folder tree: an open handle's, or one opened for the call.
int32_t folderTreeOf(Disk& disk, uint64_t folderId, bool* opened) {
  *opened = false;
  if (folderId == 0) return disk.rootTree;
  for (Entry* e : disk.handles)
    if (e && e->position != 0 && e->id() == folderId && e->firstTree != -1 && !(e->typeFlags() & kTypeIndex))
      return e->firstTree;
  uint8_t key[8];
  put_u64le(key, folderId);
  uint64_t position = 0;
  const int32_t found = BtreeExEqu(disk.idTree, &position, key);
  if (found < 0) ENTRY_FAIL(0);
  if (found == 0) ENTRY_FAIL(ZEMTA_ERR_FILE_FORMAT);
  const int32_t tree = openFolderTree(disk, static_cast<int64_t>(position));
  if (tree == -1) ENTRY_FAIL(0);
  *opened = true;
  return tree;
}

// Moves an index handle into the table's slots, sharing the table's state.
void addSlot(Disk& disk, Entry& table, Entry* index) {
  auto at = std::find(disk.handles.begin(), disk.handles.end(), index);
  if (at != disk.handles.end()) disk.handles.erase(at);
  constexpr uint32_t kShared = 0x3 | kStatePlainAccess | kStateOpen | kStateHeld;
  index->state |= table.state & kShared;
  if (index->state & (0x3 | kStatePlainAccess)) ++disk.accessed;
  if (table.indexes.size() == table.indexes.capacity()) table.indexes.reserve(table.indexes.size() + 128);
  table.indexes.push_back(index);
}

Entry* openIndexEntry(Disk& disk, uint64_t id) {
  return openEntryById(disk, id, kTypeIndex, ZEMTA_ERR_FILE_FORMAT);
}

}  // namespace

const AttrItem* columnDefOf(const AttrList& table, uint16_t column) {
  const AttrItem* def = findItem(table, kGroupColumns, column);
  return def && def->type == kValueColumnDef ? def : nullptr;
}

std::vector<uint8_t> buildKey(const AttrList& table, const uint8_t* def, size_t defLength, const AttrList& record) {
  const uint16_t count = get_u16le(def + kIndexDefCount);
  const uint16_t keyLength = get_u16le(def + kIndexDefKeyLength);
  const uint16_t keyType = get_u16le(def + kIndexDefKeyType);
  std::vector<uint8_t> key(keyLength, 0);
  if (defLength < kIndexDefColumns + 2u * count) return key;
  if (get_u16le(def) & kIndexDefOrderedSigns) {
    std::vector<KeyColumn> columns;
    std::vector<AttrItem> values(count);
    for (uint16_t i = 0; i < count; ++i) {
      const uint16_t column = get_u16le(def + kIndexDefColumns + 2 * i);
      const AttrItem* columnDef = columnDefOf(table, column);
      KeyColumn c;
      c.type = typeOf(columnDef);
      c.size = widthOf(columnDef);
      const AttrItem* field = findItem(record, kGroupFields, column);
      if (field && field->length >= c.size && c.size > 0) c.value = field->bytes;
      columns.push_back(c);
    }
    std::vector<uint8_t> made = makeIndexKey(columns);
    std::memcpy(key.data(), made.data(), std::min(made.size(), key.size()));
    return key;
  }
  size_t offset = (keyType & 0x20) ? 1 : 0;
  bool all = true;
  for (uint16_t i = 0; i < count; ++i) {
    const uint16_t column = get_u16le(def + kIndexDefColumns + 2 * i);
    const AttrItem* columnDef = columnDefOf(table, column);
    const size_t size = widthOf(columnDef);
    const AttrItem* field = findItem(record, kGroupFields, column);
    if (!field || field->length == 0) {
      all = false;
    } else if (offset < key.size()) {
      const size_t n = std::min<size_t>({field->length, size, key.size() - offset});
      std::memcpy(&key[offset], field->bytes, n);
      if ((keyType & 0x1F) == 0 && (field->type & 0x1F) != 0 && size >= 2) {
        const size_t end = std::min(offset + size, key.size());
        std::reverse(key.begin() + static_cast<long>(offset), key.begin() + static_cast<long>(end));
      }
    }
    offset += size;
  }
  if ((keyType & 0x20) && !key.empty()) key[0] = all ? 1 : 0;
  return key;
}

void removeEntryById(Disk& disk, uint64_t id, bool fromRecordDeletion) {
  uint8_t key[8];
  put_u64le(key, id);
  uint64_t position = 0;
  const int32_t found = BtreeExEqu(disk.idTree, &position, key);
  if (found < 0) ENTRY_FAIL(0);
  if (found == 0) return;  // already gone
  uint8_t record[kBlock];
  readRecord(disk, static_cast<int64_t>(position), record);
  bool opened = false;
  const int32_t tree = folderTreeOf(disk, get_u64le(record + kFieldParentId), &opened);
  try {
    removeEntryAt(disk, tree, static_cast<int64_t>(position), fromRecordDeletion);
  } catch (...) {
    if (opened) BtreeExRelease(tree);
    throw;
  }
  if (opened) BtreeExRelease(tree);
}

Entry* buildIndex(Disk& disk, Entry& table, std::vector<uint8_t>& def, Entry* under, Entry* idSet, int32_t* progress) {
  if (def.size() < kIndexDefColumns) ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
  const uint16_t count = get_u16le(def.data() + kIndexDefCount);
  if (count == 0 || def.size() < kIndexDefColumns + 2u * count) ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
  uint32_t keyType = 0, keyLength = 0;
  for (uint16_t i = 0; i < count; ++i) {
    const AttrItem* columnDef = columnDefOf(table.attributes, get_u16le(def.data() + kIndexDefColumns + 2 * i));
    keyLength += widthOf(columnDef);
    keyType = typeOf(columnDef);
  }
  if (count > 1) keyType &= 0x20;
  if (keyType & 0x20) keyLength += 1;
  const uint16_t heldLength = get_u16le(def.data() + kIndexDefKeyLength), heldType = get_u16le(def.data() + kIndexDefKeyType);
  if ((heldLength != 0 || heldType != 0) && (heldLength != keyLength || heldType != keyType))
    ENTRY_FAIL(ZEMTA_ERR_FILE_FORMAT);
  put_u16le(def.data() + kIndexDefKeyLength, static_cast<uint16_t>(keyLength));
  put_u16le(def.data() + kIndexDefKeyType, static_cast<uint16_t>(keyType));
  uint8_t name[14] = {};
  put_u64le(name + 2, ~0ull);
  put_u16le(name + 10, FILEEX_KIND_INDEX_ON_DEMAND);
  const std::string folder = under ? fullPathOf(disk, under->record) : std::string();
  const std::string path = folder + "\\" + std::string(reinterpret_cast<char*>(name), 14);
  Entry* index = createAt(disk, folder + "\\", path.data(), static_cast<int32_t>(path.size()), nullptr,
                          FILEEX_KIND_INDEX_ON_DEMAND, keyType, keyLength, nullptr);
  try {
    put_u64le(def.data() + kIndexDefEntry, index->id());
    const int32_t walk = idSet ? idSet->secondTree : table.storeNumberTree;
    const uint64_t total = idSet ? get_u64le(idSet->record + kFieldRecordCount) : get_u64le(table.record + kFieldRecordCount);
    if (progress) {
      progress[0] = 10;
      progress[1] = 0;
    }
    std::vector<uint64_t> ids;
    BtreeExSetCurPos(walk, 0xFFFFFFFFu, 0xFFFFFFFFu, 0);
    for (;;) {
      uint64_t id = 0;
      const int32_t step = BtreeExNext(walk, &id, nullptr);
      if (step < 0) ENTRY_FAIL(0);
      if (step == 0) break;
      ids.push_back(id);
    }
    uint64_t done = 0;
    for (uint64_t id : ids) {
      Entry* record = openRecordEntry(disk, table, id);
      const std::vector<uint8_t> key = buildKey(table.attributes, def.data(), def.size(), record->attributes);
      releaseEntryObject(disk, record);
      treeInsert(index->firstTree, id, key.data(), key.size());
      treeInsert(index->secondTree, id, key.data(), key.size());
      if (BtreeExSpaceFlush(&disk, 0) < 0) ENTRY_FAIL(0);
      ++done;
      if (progress && total > 0) progress[1] = static_cast<int32_t>(std::min<uint64_t>(done * 100 / total, 100));
    }
    if (progress) progress[1] = 100;
  } catch (...) {
    const uint64_t id = index->id();
    releaseEntryObject(disk, index);
    try {
      removeEntryById(disk, id, false);
    } catch (const Failure&) {
    }
    throw;
  }
  return index;
}

void closeTableIndexes(Disk& disk, Entry& table) {
  for (Entry* index : table.indexes) {
    if (!index) continue;
    int32_t ignored = 0;
    FileExEntryFlush(disk, *index, &ignored);
    if ((index->state & (0x3 | kStatePlainAccess)) && disk.accessed > 0) --disk.accessed;
    releaseEntryObject(disk, index);
  }
  table.indexes.clear();
}

void openTableIndexes(Disk& disk, Entry& table, bool mayBuild) {
  try {
    // Copies: building an index rewrites its definition in the list.
    struct Definition {
      uint16_t item;
      uint16_t type;
      std::vector<uint8_t> bytes;
    };
    std::vector<Definition> definitions;
    for (const AttrItem& found : itemsOf(table.attributes, kGroupIndexes))
      definitions.push_back({found.item, found.type, std::vector<uint8_t>(found.bytes, found.bytes + found.length)});
    for (const Definition& found : definitions) {
      if (found.type != kValueIndexDef) ENTRY_FAIL(ZEMTA_ERR_FILE_FORMAT);
      std::vector<uint8_t> def = found.bytes;
      if (def.size() < kIndexDefColumns + 2) def.resize(kIndexDefColumns + 2, 0);
      const uint16_t item = found.item;
      const uint64_t id = get_u64le(def.data() + kIndexDefEntry);
      Entry* index = nullptr;
      if (id != 0) {
        index = openIndexEntry(disk, id);
        if (get_u16le(index->record + kFieldKeyLength) != get_u16le(def.data() + kIndexDefKeyLength) ||
            get_u16le(index->record + kFieldKeyType) != get_u16le(def.data() + kIndexDefKeyType)) {
          releaseEntryObject(disk, index);
          ENTRY_FAIL(ZEMTA_ERR_FILE_FORMAT);
        }
      } else {
        if (!mayBuild) ENTRY_FAIL(ZEMTA_ERR_FILE_FORMAT);
        index = buildIndex(disk, table, def, &table, nullptr, nullptr);
        def.resize(std::max<size_t>(found.bytes.size(), kIndexDefColumns));
        if (setItem(table.attributes, table.record, kGroupIndexes, item, kValueIndexDef, static_cast<int32_t>(def.size()),
                    def.data()) < 0) {
          releaseEntryObject(disk, index);
          ENTRY_FAIL(0);
        }
      }
      addSlot(disk, table, index);
    }
  } catch (...) {
    closeTableIndexes(disk, table);
    throw;
  }
}

}  // namespace zemta::container

namespace container = zemta::container;
using container::AttrItem;
using container::Disk;
using container::Entry;
using container::Target;
using zemta::get_u16le;
using zemta::put_u16le;

namespace {

bool tableOf(FileExHandle handle, Target* target) {
  if (!container::resolveHandle(handle, target)) return false;
  if (!container::isTable(target->entry)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return false;
  }
  return true;
}

template <typename T>
T* allocate(size_t bytes) {
  void* memory = std::calloc(std::max<size_t>(bytes, 1), 1);
  if (!memory) throw std::bad_alloc();
  return static_cast<T*>(memory);
}

}  // namespace

ZEMTA_API int32_t FileExInsColumn(FileExHandle handle, uint16_t column, const char* name, uint16_t size, uint16_t type,
                                  uint16_t third, uint16_t fourth, uint32_t fifth, int32_t position) {
  Target target;
  if (!tableOf(handle, &target)) return -1;
  if (!name || column == 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return container::withAccess(*target.disk, target.entry, [&]() -> int32_t {
    Entry& table = *target.entry;
    std::vector<uint16_t> order;
    if (const AttrItem* found = container::findItem(table.attributes, container::kGroupColumnOrder, 1))
      for (uint16_t i = 0; i + 1 < found->length; i += 2) order.push_back(get_u16le(found->bytes + i));
    if (position < 0 || static_cast<size_t>(position) >= order.size()) order.push_back(column);
    else order.insert(order.begin() + position, column);
    std::vector<uint8_t> bytes(order.size() * 2);
    for (size_t i = 0; i < order.size(); ++i) put_u16le(&bytes[2 * i], order[i]);
    if (container::setItem(table.attributes, table.record, container::kGroupColumnOrder, 1, container::kValueColumnOrder,
                           static_cast<int32_t>(bytes.size()), bytes.data()) < 0)
      throw container::Failure{0, __LINE__};
    uint8_t def[container::kColumnDefSize] = {};
    put_u16le(def, container::kColumnDefSize);
    std::memcpy(def + container::kColumnDefName, name, std::min<size_t>(std::strlen(name), 127));
    put_u16le(def + container::kColumnDefWidth, size);
    put_u16le(def + container::kColumnDefType, type);
    put_u16le(def + 262, third);
    put_u16le(def + 264, fourth);
    zemta::put_u32le(def + 266, fifth);
    if (container::setItem(table.attributes, table.record, container::kGroupColumns, column, container::kValueColumnDef,
                           sizeof def, def) < 0)
      throw container::Failure{0, __LINE__};
    table.state |= container::kStateDirty;
    return 0;
  });
}

ZEMTA_API int32_t FileExAllocOdr(FileExHandle handle, int32_t kind, uint16_t** order) {
  Target target;
  if (!tableOf(handle, &target)) return -1;
  if (kind != 1) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const AttrItem* found = container::findItem(target.entry->attributes, container::kGroupColumnOrder, 1);
  const int32_t count = found ? found->length / 2 : 0;
  if (!order) return count;
  *order = nullptr;
  if (count == 0) return 0;
  try {
    *order = allocate<uint16_t>(static_cast<size_t>(count) * 2);
  } catch (const std::bad_alloc&) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }
  std::memcpy(*order, found->bytes, static_cast<size_t>(count) * 2);
  return count;
}

ZEMTA_API int32_t FileExFreeOdr(FileExHandle handle, uint16_t** order) {
  Target target;
  if (!tableOf(handle, &target)) return -1;
  if (!order || !*order) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  std::free(*order);
  *order = nullptr;
  return 0;
}

ZEMTA_API int32_t FileExFreeTblStruct(void** array) {
  if (!array) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  std::free(*array);
  *array = nullptr;
  return 0;
}

ZEMTA_API int32_t FileExGetTblStruct(FileExHandle handle, uint8_t** columns, uint8_t** links, uint8_t** actions,
                                     uint16_t** order) {
  Target target;
  if (!tableOf(handle, &target)) return -1;
  for (void** out : {reinterpret_cast<void**>(columns), reinterpret_cast<void**>(links), reinterpret_cast<void**>(actions),
                     reinterpret_cast<void**>(order)})
    if (out) *out = nullptr;
  const container::AttrList& list = target.entry->attributes;
  const AttrItem* orderItem = container::findItem(list, container::kGroupColumnOrder, 1);
  const size_t n = orderItem ? orderItem->length / 2 : 0;
  if (n == 0) return 0;
  std::vector<uint16_t> numbers(n);
  for (size_t i = 0; i < n; ++i) numbers[i] = get_u16le(orderItem->bytes + 2 * i);
  uint8_t* defs = nullptr;
  uint8_t* linkArray = nullptr;
  uint8_t* actionArray = nullptr;
  auto fail = [&](uint32_t code) {
    std::free(defs);
    std::free(linkArray);
    std::free(actionArray);
    ZEMTA_REPORT(code);
    return -1;
  };
  try {
    if (columns) {
      defs = allocate<uint8_t>(n * container::kColumnDefSize);
      for (size_t i = 0; i < n; ++i) {
        const AttrItem* def = container::findItem(list, container::kGroupColumns, numbers[i]);
        if (!def) continue;
        if (def->type != container::kValueColumnDef) return fail(ZEMTA_ERR_FILE_FORMAT);
        std::memcpy(defs + i * container::kColumnDefSize, def->bytes, std::min<size_t>(def->length, container::kColumnDefSize));
      }
    }
    if (links) {
      linkArray = allocate<uint8_t>(n * 16);
      for (size_t i = 0; i < n; ++i) {
        const AttrItem* link = container::findItem(list, container::kGroupLinks, numbers[i]);
        if (!link) continue;
        if (link->length < 16 || link->type != container::kValueColumnLink) return fail(ZEMTA_ERR_FILE_FORMAT);
        std::memcpy(linkArray + i * 16, link->bytes, 16);
      }
    }
    if (actions) {
      size_t total = 0;
      for (size_t i = 0; i < n; ++i) {
        const AttrItem* list5 = container::findItem(list, container::kGroupActions, numbers[i]);
        total += list5 && list5->length >= 2 ? list5->length : 2;
      }
      if (total != 2 * n) {
        actionArray = allocate<uint8_t>(total);
        size_t at = 0;
        for (size_t i = 0; i < n; ++i) {
          const AttrItem* list5 = container::findItem(list, container::kGroupActions, numbers[i]);
          if (list5 && list5->length >= 2) {
            if (list5->type != container::kValueActionList) return fail(ZEMTA_ERR_FILE_FORMAT);
            std::memcpy(actionArray + at, list5->bytes, list5->length);
            at += list5->length;
          } else {
            put_u16le(actionArray + at, 2);
            at += 2;
          }
        }
      }
    }
    if (order) {
      *order = allocate<uint16_t>(n * 2);
      std::memcpy(*order, numbers.data(), n * 2);
    }
  } catch (const std::bad_alloc&) {
    return fail(ZEMTA_ERR_NO_MEMORY);
  }
  if (columns) *columns = defs;
  if (links) *links = linkArray;
  if (actions) *actions = actionArray;
  return static_cast<int32_t>(n);
}

ZEMTA_API int32_t FileExGetTblIdxStruct(FileExHandle handle, uint8_t** definitions, uint16_t** numbers) {
  Target target;
  if (!tableOf(handle, &target)) return -1;
  if (!definitions) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  *definitions = nullptr;
  if (numbers) *numbers = nullptr;
  const std::vector<AttrItem> defs = container::itemsOf(target.entry->attributes, container::kGroupIndexes);
  if (defs.empty()) return 0;
  size_t total = 0;
  for (const AttrItem& def : defs) {
    if (def.type != container::kValueIndexDef) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
      return -1;
    }
    total += def.length >= 2 ? def.length : 2;
  }
  uint8_t* packed = nullptr;
  uint16_t* items = nullptr;
  try {
    packed = allocate<uint8_t>(total);
    if (numbers) items = allocate<uint16_t>(defs.size() * 2);
  } catch (const std::bad_alloc&) {
    std::free(packed);
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }
  size_t at = 0;
  for (size_t i = 0; i < defs.size(); ++i) {
    if (defs[i].length >= 2) {
      std::memcpy(packed + at, defs[i].bytes, defs[i].length);
      at += defs[i].length;
    } else {
      put_u16le(packed + at, 2);
      at += 2;
    }
    if (items) items[i] = defs[i].item;
  }
  *definitions = packed;
  if (numbers) *numbers = items;
  return static_cast<int32_t>(defs.size());
}

ZEMTA_API FileExHandle FileExTempIdxCreate(FileExHandle handle, uint16_t count, const uint16_t* columns, FileExHandle folder,
                                           FileExHandle idSet, int32_t* progress) {
  Target target;
  if (!tableOf(handle, &target)) return nullptr;
  if (count == 0 || !columns) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return nullptr;
  }
  Target where, set;
  if (folder) {
    if (!container::resolveHandle(folder, &where)) return nullptr;
    if (where.entry && !(where.entry->typeFlags() & container::kTypeFirstTree)) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
      return nullptr;
    }
  }
  if (idSet) {
    if (!container::resolveHandle(idSet, &set) || !set.entry || !(set.entry->typeFlags() & container::kTypeIdSet)) {
      if (set.disk) ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
      return nullptr;
    }
  }
  std::vector<uint8_t> def(container::kIndexDefColumns + 2u * count, 0);
  put_u16le(def.data() + container::kIndexDefCount, count);
  for (uint16_t i = 0; i < count; ++i) put_u16le(def.data() + container::kIndexDefColumns + 2 * i, columns[i]);
  Entry* made = nullptr;
  Disk& disk = *target.disk;
  if (folder && where.disk != target.disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return nullptr;
  }
  if (container::withAccess(disk, target.entry, [&]() -> int32_t {
        Entry* under = folder ? where.entry : target.entry;
        made = container::buildIndex(disk, *target.entry, def, under, idSet ? set.entry : nullptr, progress);
        made->indexDef = def;
        made->table = target.entry;
        made->ownerHandle = under;
        return 0;
      }) != 0)
    return nullptr;
  return made;
}
