// Attribute lists in an entry's data, the change check, the record writer
// and the text forms of fields.
//
// Serialised attribute list (the whole data of a table or record; LE):
//   | offset | size | field                                                |
//   | 0      | 2    | u16 number of groups (at most 255)                   |
//   | 2      | ...  | groups back to back: u16 group number (1 to 255),    |
//   |        |      | u32 length L of its items, L bytes of items          |
//   The data size is exactly 2 + sum(6 + L); an empty list is empty data.
//   Items: u16 item number, u16 value type, u16 length, the bytes.
//
// Change list (the change check's before and after lists, and the logged
// data of a log row): u16 capacity of the whole buffer; entries of u16
// column, u16 value type, u16 length, the bytes; a closing u16 0. Its size
// is 4 + sum(6 + length); an absent value has length 0.
//
// A record's write is logged as one row of "\SYSTEM\LOG": the 32-byte log
// information (flags 0x400C update, 0x1008 insertion, 0x2004 deletion),
// the owner name, and the before (group 5) and after (group 6) values of
// the record's fields (group 10).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lib/container/tables/table_internal.h"
#include "zemta/fileex.h"
#include "zemta/typed.h"

namespace zemta::container {

namespace {

constexpr uint16_t kMaxGroups = 255;
constexpr uint32_t kItemHead = 6;

// The log writer does not log its own rows.
thread_local bool g_writingLog = false;

}  // namespace

namespace {

bool parseListInto(const uint8_t* data, size_t size, AttrList* list) {
  list->groups.clear();
  if (size < 8) return false;
  const uint16_t count = get_u16le(data);
  if (count > kMaxGroups) return false;
  size_t at = 2;
  for (uint16_t g = 0; g < count; ++g) {
    if (size - at < 6) return false;
    const uint16_t number = get_u16le(data + at);
    const uint32_t length = get_u32le(data + at + 2);
    at += 6;
    if (number == 0 || number > kMaxGroups || length > size - at) return false;
    // The items must tile the group exactly.
    size_t item = 0;
    while (item < length) {
      if (length - item < kItemHead) return false;
      const uint16_t itemLength = get_u16le(data + at + item + 4);
      if (length - item - kItemHead < itemLength) return false;
      item += kItemHead + itemLength;
    }
    AttrGroup group;
    group.number = number;
    group.bytes.assign(data + at, data + at + length);
    list->groups.push_back(std::move(group));
    at += length;
  }
  return at == size;
}

}  // namespace

std::vector<uint8_t> serialiseList(const AttrList& list) {
  std::vector<uint8_t> out;
  if (list.groups.empty()) return out;
  out.resize(2);
  put_u16le(out.data(), static_cast<uint16_t>(list.groups.size()));
  for (const AttrGroup& group : list.groups) {
    const size_t at = out.size();
    out.resize(at + 6 + group.bytes.size());
    put_u16le(&out[at], group.number);
    put_u32le(&out[at + 2], static_cast<uint32_t>(group.bytes.size()));
    if (!group.bytes.empty()) std::memcpy(&out[at + 6], group.bytes.data(), group.bytes.size());
  }
  return out;
}

bool parseList(const uint8_t* data, size_t size, AttrList* list) {
  if (parseListInto(data, size, list)) return true;
  list->groups.clear();
  return false;
}

bool parseLoggedRun(const uint8_t* body, size_t length, std::vector<LoggedItem>* items) {
  items->clear();
  size_t at = 0;
  while (length - at > 5) {
    LoggedItem item;
    item.item = get_u16le(body + at);
    if (item.item == 0) break;
    item.type = get_u16le(body + at + 2);
    item.length = get_u16le(body + at + 4);
    if (length - at - kItemHead < item.length) {
      items->clear();
      return false;
    }
    item.bytes = body + at + kItemHead;
    items->push_back(item);
    at += kItemHead + item.length;
  }
  // Fewer than six bytes left over can only be a closing zero word or padding.
  return true;
}

void treeInsert(int32_t tree, uint64_t id, const uint8_t* key, size_t length) {
  std::vector<uint8_t> given(8 + length);
  put_u64le(given.data(), id);
  std::memcpy(given.data() + 8, key, length);
  if (BtreeExIns(tree, static_cast<uint32_t>(id), static_cast<uint32_t>(id >> 32), given.data() + 8) != 0) ENTRY_FAIL(0);
}

void treeDelete(int32_t tree, uint64_t id, const uint8_t* key, size_t length) {
  std::vector<uint8_t> given(8 + length);
  put_u64le(given.data(), id);
  std::memcpy(given.data() + 8, key, length);
  if (BtreeExDel(tree, static_cast<uint32_t>(id), static_cast<uint32_t>(id >> 32), given.data() + 8) != 0) ENTRY_FAIL(0);
}

bool treeKeyOfId(int32_t tree, uint64_t id, uint8_t* key, size_t length) {
  std::vector<uint8_t> given(8 + length, 0);
  put_u64le(given.data(), id);
  uint64_t found = 0;
  const int32_t result = BtreeExEqu(tree, &found, given.data());
  if (result < 0) ENTRY_FAIL(0);
  if (result == 0 || found != id) return false;
  if (BtreeExGetCurKey(tree, static_cast<uint32_t>(id), static_cast<uint32_t>(id >> 32), key) != 0) ENTRY_FAIL(0);
  return true;
}

void loadAttributes(Disk& disk, Entry& entry) {
  (void)disk;
  entry.attributes.groups.clear();
  entry.saved.groups.clear();
  const uint64_t size = get_u64le(entry.record + kFieldDataSize);
  if (size < 8 || size > 0x7FFFFFFF) ENTRY_FAIL(ZEMTA_ERR_FILE_FORMAT);
  std::vector<uint8_t> data(size);
  if (FileExSetPointer(&entry, 0, 0) == ~0ull) ENTRY_FAIL(0);
  uint32_t count = 0;
  if (FileExRead(&entry, data.data(), static_cast<uint32_t>(size), &count) != 0) ENTRY_FAIL(0);
  if (count != size || !parseList(data.data(), data.size(), &entry.attributes)) {
    entry.attributes.groups.clear();
    ENTRY_FAIL(ZEMTA_ERR_FILE_FORMAT);
  }
  entry.saved = entry.attributes;
  if (isTable(&entry)) syncLinkSlots(entry);
}

// --- the change check ----------------------------------------------------------

namespace {

// Appends to a change list while it fits its capacity.
struct ChangeList {
  uint8_t* buffer = nullptr;
  size_t capacity = 0;
  size_t used = 0;    // bytes of entries written
  size_t needed = 4;  // the size the whole list needs
  void add(uint16_t column, const AttrItem* value) {
    const size_t length = value ? value->length : 0;
    needed += kItemHead + length;
    if (!buffer || capacity < 4) return;
    if (2 + used + kItemHead + length + 2 > capacity) return;
    uint8_t* at = buffer + 2 + used;
    put_u16le(at, column);
    put_u16le(at + 2, value ? value->type : 0);
    put_u16le(at + 4, static_cast<uint16_t>(length));
    if (length) std::memcpy(at + kItemHead, value->bytes, length);
    used += kItemHead + length;
    put_u16le(buffer + 2 + used, 0);
  }
};

bool sameValue(const AttrItem* a, const AttrItem* b) {
  if (!a || !b) return !a && !b;
  return a->type == b->type && a->length == b->length && std::memcmp(a->bytes, b->bytes, a->length) == 0;
}

// 1 changed, 0 unchanged. With lists, every column is visited.
int32_t changeCheck(Entry& record, const Entry& table, uint8_t* before, uint8_t* after, bool deletion) {
  if (const AttrItem* info = findItem(record.attributes, kGroupLog, 1); info && info->length > 0) return 1;
  ChangeList lists[2];
  uint8_t* buffers[2] = {before, after};
  for (int i = 0; i < 2; ++i) {
    if (!buffers[i]) continue;
    lists[i].buffer = buffers[i];
    lists[i].capacity = get_u16le(buffers[i]);
    if (lists[i].capacity > 3) put_u16le(buffers[i] + 2, 0);
  }
  const bool wantLists = before || after;
  int32_t changed = 0;
  for (const AttrItem& column : itemsOf(table.attributes, kGroupColumns)) {
    AttrItem working{};
    const AttrItem* now = deletion ? nullptr : findItem(record.attributes, kGroupFields, column.item);
    if (now) {
      working = *now;
      now = &working;
    }
    const AttrItem* was = findItem(record.saved, kGroupFields, column.item);
    if (sameValue(now, was)) continue;
    changed = 1;
    if (!wantLists) break;
    lists[0].add(column.item, was);
    lists[1].add(column.item, now);
  }
  for (int i = 0; i < 2; ++i)
    if (buffers[i] && lists[i].capacity == 0) put_u16le(buffers[i], static_cast<uint16_t>(std::min<size_t>(lists[i].needed, 0xFFFF)));
  return changed;
}

bool isRecord(const Entry& entry) { return (entry.typeFlags() & kTypeRecord) != 0; }

// Writes the log row of a record's change; false when the record did not change.
bool logChange(Disk& disk, Entry& entry, Entry* table) {
  uint8_t sizes[2][2] = {};
  put_u16le(sizes[0], 0);
  put_u16le(sizes[1], 0);
  const bool deletion = entry.deleting;
  const bool inserted = entry.created;
  if (!table) return false;
  if (changeCheck(entry, *table, sizes[0], sizes[1], deletion) == 0) return false;
  const size_t beforeSize = get_u16le(sizes[0]), afterSize = get_u16le(sizes[1]);
  std::vector<uint8_t> before(std::max<size_t>(beforeSize, 4)), after(std::max<size_t>(afterSize, 4));
  put_u16le(before.data(), static_cast<uint16_t>(before.size()));
  put_u16le(after.data(), static_cast<uint16_t>(after.size()));
  changeCheck(entry, *table, before.data(), after.data(), deletion);
  // The list's capacity word becomes the length word of a length-prefixed block.
  LogInfo info;
  info.operation = deletion ? kLogDelete : inserted ? kLogInsert : kLogUpdate;
  info.kind = FILEEX_KIND_RECORD;
  info.entryId = entry.id();
  info.tableId = table->id();
  info.recordNumber = recordNumberOf(*table, entry.id());
  uint8_t infoBlock[2 + 32];
  put_u16le(infoBlock, sizeof infoBlock);
  writeLogInfo(info, infoBlock + 2);
  const std::string& owner = !table->ownerName.empty() ? table->ownerName : entry.ownerName;

  Disk& logDisk = disk.logDiskHandle ? *disk.logDiskHandle : disk;
  Entry& logTable = *disk.logTable;
  g_writingLog = true;
  bool logBegan = false;
  Entry* row = nullptr;
  uint64_t rowId = 0;
  try {
    logBegan = beginAccess(logDisk, &logTable, kImplicitMode);
    row = insertRecord(logDisk, logTable, ~0ull, nullptr, false);
    rowId = row->id();
    std::vector<uint8_t> name;
    if (!owner.empty()) {
      name.resize(2 + owner.size() + 1);
      put_u16le(name.data(), static_cast<uint16_t>(name.size()));
      std::memcpy(name.data() + 2, owner.c_str(), owner.size() + 1);
    }
    if (FileExSetLogInfo(row, infoBlock, name.empty() ? nullptr : name.data()) != 0) ENTRY_FAIL(0);
    put_u16le(before.data(), static_cast<uint16_t>(std::min(before.size(), beforeSize ? beforeSize : before.size())));
    put_u16le(after.data(), static_cast<uint16_t>(std::min(after.size(), afterSize ? afterSize : after.size())));
    if (FileExSetLogData(row, kGroupFields, inserted && !deletion ? nullptr : before.data(),
                         deletion ? nullptr : after.data()) != 0)
      ENTRY_FAIL(0);
    writeEntry(logDisk, *row, &logTable, true);
    Entry* done = row;
    row = nullptr;
    if (FileExRelease(done, nullptr) != 0) ENTRY_FAIL(0);
    int32_t ended = 0;
    if (logBegan) endAccess(logDisk, &logTable, &ended);
    logBegan = false;
    if (ended != 0 || FileExDiskFlushAll(logDisk) != 0) ENTRY_FAIL(0);
  } catch (...) {
    g_writingLog = false;
    if (row) FileExRelease(row, nullptr);
    if (rowId != 0) FileExRecDelByID(&logTable, static_cast<uint32_t>(rowId), static_cast<uint32_t>(rowId >> 32));
    int32_t ended = 0;
    if (logBegan) endAccess(logDisk, &logTable, &ended);
    FileExDiskFlushAll(logDisk);
    throw;
  }
  g_writingLog = false;
  return true;
}

// Whether the definition of an index changed between the two lists.
bool sameIndexDef(const AttrList& savedTable, const AttrList& workingTable, const AttrItem& was, const AttrItem* now) {
  if (!now || now->length < kIndexDefColumns || was.length < kIndexDefColumns) return false;
  const uint16_t count = get_u16le(was.bytes + kIndexDefCount);
  if (get_u16le(now->bytes + kIndexDefCount) != count) return false;
  if (get_u16le(now->bytes + kIndexDefKeyLength) != get_u16le(was.bytes + kIndexDefKeyLength) ||
      get_u16le(now->bytes + kIndexDefKeyType) != get_u16le(was.bytes + kIndexDefKeyType))
    return false;
  if (was.length < kIndexDefColumns + 2u * count || now->length < kIndexDefColumns + 2u * count) return false;
  for (uint16_t i = 0; i < count; ++i) {
    const uint16_t column = get_u16le(was.bytes + kIndexDefColumns + 2 * i);
    if (get_u16le(now->bytes + kIndexDefColumns + 2 * i) != column) return false;
    const AttrItem* a = columnDefOf(savedTable, column);
    const uint16_t widthA = a && a->length >= kColumnDefWidth + 2 ? get_u16le(a->bytes + kColumnDefWidth) : 0;
    const AttrItem* b = columnDefOf(workingTable, column);
    const uint16_t widthB = b && b->length >= kColumnDefWidth + 2 ? get_u16le(b->bytes + kColumnDefWidth) : 0;
    if (widthA != widthB) return false;
  }
  return true;
}

// Index definitions whose shape changed are reset to be built again and
// their old index entries removed.
void resetChangedIndexes(Disk& disk, Entry& table) {
  bool any = false;
  for (const AttrItem& was : itemsOf(table.saved, kGroupIndexes)) {
    if (was.length < kIndexDefColumns) continue;
    const uint64_t oldEntry = get_u64le(was.bytes + kIndexDefEntry);
    const AttrItem* nowFound = findItem(table.attributes, kGroupIndexes, was.item);
    AttrItem now{};
    if (nowFound) now = *nowFound;
    if (sameIndexDef(table.saved, table.attributes, was, nowFound ? &now : nullptr) &&
        get_u64le(now.bytes + kIndexDefEntry) == oldEntry)
      continue;
    if (!any) {
      closeTableIndexes(disk, table);
      any = true;
    }
    if (nowFound && now.length >= kIndexDefColumns) {
      std::vector<uint8_t> def(now.bytes, now.bytes + now.length);
      put_u64le(def.data() + kIndexDefEntry, 0);
      put_u16le(def.data() + kIndexDefKeyLength, 0);
      put_u16le(def.data() + kIndexDefKeyType, 0);
      if (setItem(table.attributes, table.record, kGroupIndexes, was.item, kValueIndexDef,
                  static_cast<int32_t>(def.size()), def.data()) < 0)
        ENTRY_FAIL(0);
    }
    if (oldEntry != 0) removeEntryById(disk, oldEntry, false);
  }
  // Slots must follow the definitions: every definition has its index.
  const size_t definitions = itemsOf(table.attributes, kGroupIndexes).size();
  bool unbuilt = false;
  for (const AttrItem& def : itemsOf(table.attributes, kGroupIndexes))
    if (def.length < kIndexDefColumns || get_u64le(def.bytes + kIndexDefEntry) == 0) unbuilt = true;
  if (any || unbuilt || table.indexes.size() != definitions) {
    closeTableIndexes(disk, table);
    openTableIndexes(disk, table, true);
  }
}

// Keeps the table's indexes in step with the record's new values.
void maintainIndexes(Disk& disk, Entry& record, Entry& table) {
  resetChangedIndexes(disk, table);
  const std::vector<AttrItem> defs = itemsOf(table.attributes, kGroupIndexes);
  for (size_t i = 0; i < defs.size() && i < table.indexes.size(); ++i) {
    Entry* index = table.indexes[i];
    if (!index) continue;
    const AttrItem& def = defs[i];
    const size_t length = get_u16le(def.bytes + kIndexDefKeyLength);
    std::vector<uint8_t> key = buildKey(table.attributes, def.bytes, def.length, record.attributes);
    std::vector<uint8_t> old(length);
    const uint64_t id = record.id();
    const bool present = treeKeyOfId(index->secondTree, id, old.data(), length);
    if (record.deleting) {
      if (present) {
        treeDelete(index->firstTree, id, old.data(), length);
        treeDelete(index->secondTree, id, old.data(), length);
      }
    } else if (!present) {
      treeInsert(index->firstTree, id, key.data(), length);
      treeInsert(index->secondTree, id, key.data(), length);
    } else if (old != key) {
      treeDelete(index->firstTree, id, old.data(), length);
      treeDelete(index->secondTree, id, old.data(), length);
      treeInsert(index->firstTree, id, key.data(), length);
      treeInsert(index->secondTree, id, key.data(), length);
    }
    if (BtreeExSpaceFlush(&disk, 0) < 0) ENTRY_FAIL(0);
  }
}

void storeList(Entry& entry) {
  const std::vector<uint8_t> data = serialiseList(entry.attributes);
  if (!data.empty()) {
    if (FileExSetPointer(&entry, 0, 0) == ~0ull) ENTRY_FAIL(0);
    if (FileExWrite(&entry, data.data(), static_cast<uint32_t>(data.size())) != 0) ENTRY_FAIL(0);
  }
  const uint64_t size = data.size();
  if (get_u64le(entry.record + kFieldDataSize) != size &&
      FileExSetSize(&entry, static_cast<uint32_t>(size), static_cast<uint32_t>(size >> 32)) != 0)
    ENTRY_FAIL(0);
}

}  // namespace

int32_t writeEntry(Disk& disk, Entry& entry, Entry* table, bool noLog) {
  const bool entryIsTable = isTable(&entry);
  if (table && (entryIsTable || !isRecord(entry))) ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
  if (!table && isRecord(entry)) ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
  if (table && !isTable(table)) ENTRY_FAIL(ZEMTA_ERR_BAD_FILE_NAME);
  if (!entryIsTable && table) {
    const bool logged = disk.logTable && &entry != disk.logTable && table != disk.logTable && !g_writingLog && !noLog;
    if (!logged) {
      entry.created = false;
      if (changeCheck(entry, *table, nullptr, nullptr, entry.deleting) == 0) return 0;
    } else {
      if (!logChange(disk, entry, table)) return 0;
      entry.created = false;
    }
  }
  Entry* indexed = entryIsTable ? &entry : table;
  if (indexed) {
    const bool began = beginAccess(disk, indexed, kImplicitMode);
    try {
      if (entryIsTable) resetChangedIndexes(disk, entry);
      else maintainIndexes(disk, entry, *indexed);
    } catch (...) {
      int32_t ignored = 0;
      if (began) endAccess(disk, indexed, &ignored);
      throw;
    }
    int32_t ended = 0;
    if (began) endAccess(disk, indexed, &ended);
    if (ended != 0) ENTRY_FAIL(0);
    // A table whose index definitions were built has new entry IDs to keep.
    if (!entryIsTable && table->attributes.groups.size() && serialiseList(table->attributes) != serialiseList(table->saved)) {
      storeList(*table);
      table->saved = table->attributes;
    }
  }
  if (entry.deleting) return 0;
  storeList(entry);
  entry.saved = entry.attributes;
  if (entryIsTable) {
    // A table whose first link has no index shows the records of that table.
    syncLinkSlots(entry);
    const bool linked = !entry.linkSlots.empty() && entry.linkSlots[0].index == 0;
    const uint32_t flags = entry.typeFlags();
    const uint32_t wanted = linked ? (flags | kTypeLinked) : (flags & ~kTypeLinked);
    if (wanted != flags) {
      put_u32le(entry.record + kFieldTypeFlags, wanted);
      entry.state |= kStateDirty;
    }
  }
  return 0;
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

// The handle as an entry (not the root); reported and false otherwise.
bool entryOf(FileExHandle handle, Target* target) {
  if (!container::resolveHandle(handle, target)) return false;
  if (!target->entry) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return false;
  }
  return true;
}

// The text form of an item; false when the item has none (reported).
bool itemText(const Entry& entry, uint16_t group, uint16_t item, uint32_t format, std::string* text, bool* present,
              bool forCsv = false) {
  *present = false;
  text->clear();
  const AttrItem* found = container::findItem(container::readListOf(entry, group), group, item);
  if (!found || found->length == 0) return true;
  const uint32_t flags = entry.typeFlags();
  if (flags & container::kTypeTable) {
    if (group == container::kGroupColumns) {
      if (found->length <= 261 || found->length > 270) {
        ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
        return false;
      }
      const char* name = reinterpret_cast<const char*>(found->bytes + container::kColumnDefName);
      text->assign(name, strnlen(name, found->length - container::kColumnDefName));
    } else if (group == container::kGroupIndexes) {
      if (found->length <= 275) {
        ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
        return false;
      }
      const char* name = reinterpret_cast<const char*>(found->bytes + container::kIndexDefName);
      text->assign(name, strnlen(name, found->length - container::kIndexDefName));
    } else {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return false;
    }
    *present = true;
    return true;
  }
  if (!(flags & container::kTypeRecord)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return false;
  }
  if (forCsv && (found->type & 0x1F) == 0) {
    // Text as it is stored: the joined row does its own quoting.
    const size_t skip = (found->type & 0x20) ? 1 : 0;
    if (found->length > skip) {
      const char* bytes = reinterpret_cast<const char*>(found->bytes + skip);
      text->assign(bytes, strnlen(bytes, found->length - skip));
    }
    *present = true;
    return true;
  }
  const int32_t size = GetTypeStrBufLen(found->type, found->length, found->bytes, format);
  if (size <= 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return false;
  }
  std::vector<char> buffer(static_cast<size_t>(size) + 1, 0);
  if (TypeDataToStr(buffer.data(), size, found->type, found->length, found->bytes, format) < 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return false;
  }
  text->assign(buffer.data());
  *present = true;
  return true;
}

// A field as a CSV reader takes it back: quoted, with its quotes doubled,
// when it holds a comma, a quote or a line break.
std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

int32_t copyOut(const std::string& text, char* buffer, int32_t size) {
  const int32_t needed = static_cast<int32_t>(text.size() + 1);
  if (!buffer) return needed;
  if (size < needed) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return needed;
}

}  // namespace

ZEMTA_API int32_t FileExGetFldStr(FileExHandle handle, uint32_t key, char* buffer, int32_t size, uint32_t format) {
  Target target;
  if (!entryOf(handle, &target)) return -1;
  if ((buffer == nullptr) != (size == 0) || size < 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  std::string text;
  bool present = false;
  if (!itemText(*target.entry, static_cast<uint16_t>(key), static_cast<uint16_t>(key >> 16), format, &text, &present))
    return -1;
  if (!present) return 0;
  return copyOut(text, buffer, size);
}

ZEMTA_API int32_t FileExGetFldCsv(FileExHandle handle, uint16_t group, uint16_t count, const uint16_t* items, char* buffer,
                                  int32_t size) {
  Target target;
  if (!entryOf(handle, &target)) return -1;
  if (group == 0 || (count > 0 && !items) || (buffer == nullptr) != (size == 0) || size < 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  std::string joined;
  for (uint16_t i = 0; i < count; ++i) {
    std::string text;
    bool present = false;
    if (!itemText(*target.entry, group, items[i], 0, &text, &present, true)) return -1;
    if (i > 0) joined += ',';
    joined += csvField(text);
  }
  return copyOut(joined, buffer, size);
}

ZEMTA_API int32_t FileExFldModifyCheck(FileExHandle record, FileExHandle table, void* before, void* after) {
  Target r, t;
  if (!entryOf(record, &r) || !entryOf(table, &t)) return -1;
  if (!(r.entry->typeFlags() & container::kTypeRecord) || !container::isTable(t.entry)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return -1;
  }
  return container::changeCheck(*r.entry, *t.entry, static_cast<uint8_t*>(before), static_cast<uint8_t*>(after), false);
}

ZEMTA_API int32_t FileExFldWrite(FileExHandle handle, FileExHandle table, int32_t noLog) {
  Target target;
  if (!entryOf(handle, &target)) return -1;
  Entry* tableEntry = nullptr;
  if (table) {
    Target t;
    if (!entryOf(table, &t)) return -1;
    tableEntry = t.entry;
  }
  if (!(target.entry->typeFlags() & container::kTypeData)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return -1;
  }
  return container::withAccess(*target.disk, target.entry, [&]() -> int32_t {
    return container::writeEntry(*target.disk, *target.entry, tableEntry, noLog != 0);
  });
}

ZEMTA_API int32_t FileExFldRead(FileExHandle handle) {
  Target target;
  if (!entryOf(handle, &target)) return -1;
  if (!(target.entry->typeFlags() & container::kTypeData)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return -1;
  }
  return container::withAccess(*target.disk, target.entry, [&]() -> int32_t {
    container::loadAttributes(*target.disk, *target.entry);
    return 0;
  });
}
