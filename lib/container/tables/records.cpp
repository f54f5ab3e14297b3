// The records of a table: inserted, opened and deleted by number or ID, and
// counted.
//
// A record is an entry of kind 4 under its table, named by its ID key (u16
// 0, u64 ID, u16 4, u16 0); its fields live in its attribute list (group
// 10, item = column number), stored in its data. Records are numbered 1 to
// n without gaps: the table's record store (a kind-5 entry) holds the
// record-number tree (u64 number -> record ID) and the ID tree (record ID ->
// number); the count is the u64 at 384 of the table's entry record.
// Inserting or deleting in the middle renumbers the records after it.
#include <algorithm>
#include <cstring>
#include <string>

#include "lib/container/tables/table_internal.h"
#include "lib/core/typed_data.h"
#include "platform/base/last_error.h"
#include "zemta/fileex.h"
#include "zemta/typed.h"

namespace zemta::container {

namespace {

uint64_t countOf(const Entry& table) { return get_u64le(table.record + kFieldRecordCount); }

void setCount(Entry& table, uint64_t count) {
  put_u64le(table.record + kFieldRecordCount, count);
  table.state |= kStateDirty;
}

std::string recordPath(Disk& disk, Entry& table, uint64_t id) {
  uint8_t key[14] = {};
  put_u64le(key + 2, id);
  put_u16le(key + 10, FILEEX_KIND_RECORD);
  return fullPathOf(disk, table.record) + "\\" + std::string(reinterpret_cast<char*>(key), 14);
}

void holdOrLeave(Disk& disk, Entry& record, bool holdOpen) {
  if (!holdOpen) return;
  beginAccess(disk, &record, 1 | kStatePlainAccess);
  record.state |= kStateOpen;
}

// Puts a new record's (number, ID) into the store, renumbering those after it.
uint64_t placeRecord(Disk& disk, Entry& table, uint64_t wanted, uint64_t id) {
  const uint64_t count = countOf(table) + 1;
  setCount(table, count);
  const uint64_t number = wanted < count ? wanted : count;
  if (number < count) {
    for (int32_t tree : {table.storeNumberTree, table.storeIdTree})
      if (BtreeExChgRecKey(tree, static_cast<uint32_t>(number), static_cast<uint32_t>(number >> 32),
                           static_cast<uint32_t>(count - 1), static_cast<uint32_t>((count - 1) >> 32),
                           static_cast<uint32_t>(number + 1), static_cast<uint32_t>((number + 1) >> 32)) != 0)
        ENTRY_FAIL(0);
  }
  uint8_t key[8];
  put_u64le(key, number);
  treeInsert(table.storeNumberTree, id, key, 8);
  treeInsert(table.storeIdTree, id, key, 8);
  if (BtreeExSpaceFlush(&disk, 0) < 0) ENTRY_FAIL(0);
  return number;
}

Entry* makeRecord(Disk& disk, Entry& table, uint64_t id, const char* description) {
  const std::string path = recordPath(disk, table, id);
  Entry* record = createAt(disk, path.substr(0, path.size() - 14), path.data(), static_cast<int32_t>(path.size()),
                           description, FILEEX_KIND_RECORD, 0, 0, table.ownerName.c_str());
  record->ownerHandle = &table;
  return record;
}

}  // namespace

bool isTable(const Entry* entry) { return entry && (entry->typeFlags() & kTypeTable) && entry->store; }

uint64_t recordIdAt(Entry& table, uint64_t number) {
  uint8_t key[8];
  put_u64le(key, number);
  uint64_t id = 0;
  const int32_t found = BtreeExEqu(table.storeNumberTree, &id, key);
  if (found < 0) ENTRY_FAIL(0);
  return found == 1 ? id : 0;
}

uint64_t recordNumberOf(Entry& table, uint64_t id) {
  uint8_t key[8] = {};
  if (!treeKeyOfId(table.storeIdTree, id, key, 8)) return 0;
  return get_u64le(key);
}

Entry* openEntryById(Disk& disk, uint64_t id, uint32_t type, int32_t missing) {
  uint8_t idKey[8];
  put_u64le(idKey, id);
  uint64_t position = 0;
  const int32_t found = BtreeExEqu(disk.idTree, &position, idKey);
  if (found < 0) ENTRY_FAIL(0);
  if (found == 0) ENTRY_FAIL(missing);
  Entry* entry = newEntry(disk);
  try {
    readRecord(disk, static_cast<int64_t>(position), entry->record);
    if (!(entry->typeFlags() & type)) ENTRY_FAIL(ZEMTA_ERR_FILE_FORMAT);
    entry->position = static_cast<int64_t>(position);
    attachTrees(disk, *entry);
  } catch (...) {
    releaseEntryObject(disk, entry);
    throw;
  }
  return entry;
}

Entry* openRecordEntry(Disk& disk, Entry& table, uint64_t id) {
  Entry* record = openEntryById(disk, id, kTypeRecord, ZEMTA_ERR_BAD_PARAMETER);
  try {
    record->ownerHandle = &table;
    setOwnerName(*record, table.ownerName.c_str());
    if (get_u64le(record->record + kFieldDataSize) != 0) loadAttributes(disk, *record);
  } catch (...) {
    releaseEntryObject(disk, record);
    throw;
  }
  return record;
}

Entry* insertRecord(Disk& disk, Entry& table, uint64_t number, const char* description, bool holdOpen) {
  if (!isTable(&table)) ENTRY_FAIL(ZEMTA_ERR_BAD_FILE_NAME);
  if (number == 0) ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
  Entry* record = makeRecord(disk, table, ~0ull, description);
  try {
    placeRecord(disk, table, number, record->id());
    holdOrLeave(disk, *record, holdOpen);
  } catch (...) {
    releaseEntryObject(disk, record);
    throw;
  }
  return record;
}

// Link slots come from the table's column links (item (4, column), 0x91F,
// 16 bytes: two bytes, u16 key column of this table, u16 column of the
// linked table, u16 link word = index number in the linked table, u64 ID of
// the linked table): one slot per distinct pair of table ID and link word,
// the slot of link word 0 first, the others in ascending order of table ID.
// A slot that still names the same link keeps its current record.
void syncLinkSlots(Entry& table) {
  std::vector<LinkSlot> wanted;
  for (const AttrItem& link : itemsOf(table.saved, kGroupLinks)) {
    if (link.length < 16) continue;
    LinkSlot slot;
    slot.keyColumn = get_u16le(link.bytes + 2);
    slot.index = get_u16le(link.bytes + 6);
    slot.tableId = get_u64le(link.bytes + 8);
    if (slot.tableId == 0) continue;
    const bool known = std::any_of(wanted.begin(), wanted.end(), [&](const LinkSlot& w) {
      return w.tableId == slot.tableId && w.index == slot.index;
    });
    if (!known) wanted.push_back(std::move(slot));
  }
  std::stable_sort(wanted.begin(), wanted.end(), [](const LinkSlot& a, const LinkSlot& b) {
    if ((a.index == 0) != (b.index == 0)) return a.index == 0;
    return a.tableId < b.tableId;
  });
  for (LinkSlot& slot : wanted)
    for (LinkSlot& old : table.linkSlots)
      if (old.tableId == slot.tableId && old.index == slot.index && old.keyColumn == slot.keyColumn) slot = std::move(old);
  table.linkSlots = std::move(wanted);
}

namespace {

void clearSlot(LinkSlot& slot) {
  slot.currentId = 0;
  slot.written = 0;
  slot.list.groups.clear();
  slot.keyValue.clear();
  slot.keyType = 0;
}

// The first record ID of the key in an index's key tree, 0 when none.
uint64_t firstWithKey(int32_t keyTree, const uint8_t* key) {
  uint64_t last = 0;
  int32_t found = BtreeExLEqu(keyTree, &last, key);
  if (found < 0) ENTRY_FAIL(0);
  if (found != 1) return 0;
  uint64_t before = 0;
  found = BtreeExLess(keyTree, &before, key);
  if (found < 0) ENTRY_FAIL(0);
  if (found == 1 && before == last) return 0;
  uint64_t first = 0;
  if (BtreeExNext(keyTree, &first, nullptr) != 1) ENTRY_FAIL(ZEMTA_ERR_FILE_FORMAT);
  return first;
}

// Finds the record of the linked table for the slot's key value.
void searchSlot(Disk& disk, Entry& linked, LinkSlot& slot, const AttrItem& value) {
  const std::vector<AttrItem> defs = itemsOf(linked.saved, kGroupIndexes);
  size_t position = 0;
  while (position < defs.size() && defs[position].item != slot.index) ++position;
  if (position == defs.size() || defs[position].type != 0x61F || defs[position].length < kIndexDefColumns + 2)
    ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
  const AttrItem& def = defs[position];
  if (position >= linked.indexes.size() || !linked.indexes[position] || linked.indexes[position]->firstTree == -1)
    ENTRY_FAIL(ZEMTA_ERR_FILE_FORMAT);
  // The key is built as the linked record's would be, from the value in the
  // index's first key column.
  AttrList probe;
  uint8_t scratch[kBlock] = {};
  const uint16_t firstColumn = get_u16le(def.bytes + kIndexDefColumns);
  if (setItem(probe, scratch, kGroupFields, firstColumn, value.type, value.length, value.bytes) < 0) ENTRY_FAIL(0);
  const std::vector<uint8_t> key = buildKey(linked.saved, def.bytes, def.length, probe);
  const uint64_t id = firstWithKey(linked.indexes[position]->firstTree, key.data());
  slot.keyType = value.type;
  slot.keyValue.assign(value.bytes, value.bytes + value.length);
  if (id == 0) return;
  Entry* found = openRecordEntry(disk, linked, id);
  slot.currentId = id;
  slot.written = get_u64le(found->record + kFieldWritten);
  slot.list = found->saved;
  releaseEntryObject(disk, found);
}

// The columns of a linked table, each copied from the current record of the
// slot its column link names (the base record for slot 0) into slot 0's list,
// from which the linked table's fields are read.
void fillLinkedColumns(Entry& table, Entry& record) {
  LinkSlot& base = table.linkSlots[0];
  uint8_t scratch[kBlock] = {};
  std::vector<uint16_t> order;
  if (const AttrItem* found = findItem(table.saved, kGroupColumnOrder, 1))
    for (uint16_t i = 0; i + 1 < found->length; i += 2) order.push_back(get_u16le(found->bytes + i));
  AttrList filled;
  for (uint16_t column : order) {
    const AttrItem* link = findItem(table.saved, kGroupLinks, column);
    if (!link || link->length < 16 || get_u64le(link->bytes + 8) == 0) continue;
    const uint64_t tableId = get_u64le(link->bytes + 8);
    const uint16_t word = get_u16le(link->bytes + 6);
    const LinkSlot* slot = nullptr;
    for (const LinkSlot& s : table.linkSlots)
      if (s.tableId == tableId && s.index == word) slot = &s;
    if (!slot) ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
    if (slot->currentId == 0) continue;
    const AttrList& from = slot == &base ? record.saved : slot->list;
    const AttrItem* value = findItem(from, kGroupFields, get_u16le(link->bytes + 4));
    if (value && value->length > 0 &&
        setItem(filled, scratch, kGroupFields, column, value->type, value->length, value->bytes) < 0)
      ENTRY_FAIL(0);
  }
  base.list = std::move(filled);
}

}  // namespace

bool isLinkedTable(const Entry& table) {
  return (table.typeFlags() & kTypeLinked) && !table.linkSlots.empty() && table.linkSlots[0].index == 0;
}

const AttrList& readListOf(const Entry& entry, uint16_t group) {
  const Entry* owner = entry.ownerHandle;
  if (group == kGroupFields && (entry.typeFlags() & kTypeRecord) && owner && isLiveEntry(owner) &&
      isLinkedTable(*owner) && owner->linkSlots[0].currentId == entry.id())
    return owner->linkSlots[0].list;
  return entry.attributes;
}

void refreshLinks(Disk& disk, Entry& table, Entry* record) {
  syncLinkSlots(table);
  const bool linkedTable = isLinkedTable(table);
  if (linkedTable) {
    // Slot 0 is the base table: it takes the opened record itself.
    LinkSlot& base = table.linkSlots[0];
    clearSlot(base);
    if (record) {
      base.currentId = record->id();
      base.written = get_u64le(record->record + kFieldWritten);
      record->ownerHandle = &table;
    }
  }
  Entry* linked = nullptr;
  bool borrowed = false;
  auto letGo = [&]() {
    if (linked && !borrowed) FileExRelease(linked, nullptr);
    linked = nullptr;
  };
  try {
    for (LinkSlot& slot : table.linkSlots) {
      if (slot.index == 0) continue;
      if (!record) {
        clearSlot(slot);
        continue;
      }
      // Consecutive slots of one table share its handle.
      if (!linked || linked->id() != slot.tableId) {
        letGo();
        int32_t already = 0;
        linked = static_cast<Entry*>(FileExCreateByID(&disk, static_cast<uint32_t>(slot.tableId),
                                                      static_cast<uint32_t>(slot.tableId >> 32),
                                                      table.ownerName.c_str(), &already));
        if (!linked) ENTRY_FAIL(0);
        borrowed = already != 0;
        if (!isTable(linked)) ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
      }
      const AttrItem* value = findItem(record->saved, kGroupFields, slot.keyColumn);
      if (!value || value->length == 0) {
        clearSlot(slot);
        continue;
      }
      if (slot.currentId != 0 && slot.keyType == value->type && slot.keyValue.size() == value->length &&
          std::equal(slot.keyValue.begin(), slot.keyValue.end(), value->bytes))
        continue;
      clearSlot(slot);
      searchSlot(disk, *linked, slot, *value);
    }
  } catch (...) {
    letGo();
    throw;
  }
  letGo();
  if (linkedTable && record) fillLinkedColumns(table, *record);
}

// Column actions: per column an action list (item (5, column), 0xA1F):
//   u16 total size (2 when empty, else 8 + 16 per action), two bytes, i16
//   value-slot base, u16 action count; each action: u16 flags, i8 value
//   slot, u8 operation, i16 skip count, i16 column, 8-byte operand.
// Flags: 0x40 the operand is a value slot, 0x8000 a field (the operand a
// table ID, 0 for the record's own table; column 0 the record ID), 0x4000
// the result is stored into the list's column; the low bits name the
// events at which the action runs (4: a record is opened).
int32_t runColumnActions(Entry& table, Entry& record, uint16_t events) {
  std::vector<uint16_t> order;
  if (const AttrItem* found = findItem(table.attributes, kGroupColumnOrder, 1))
    for (uint16_t i = 0; i + 1 < found->length; i += 2) order.push_back(get_u16le(found->bytes + i));
  struct List {
    uint16_t column;
    std::vector<uint8_t> bytes;
  };
  std::vector<List> lists;
  size_t slotCount = 128;
  for (uint16_t column : order) {
    const AttrItem* found = findItem(table.attributes, kGroupActions, column);
    if (!found || found->length <= 2) continue;
    if (found->length < 8 || found->length != 8u + 16u * get_u16le(found->bytes + 6)) ENTRY_FAIL(ZEMTA_ERR_FILE_FORMAT);
    lists.push_back({column, std::vector<uint8_t>(found->bytes, found->bytes + found->length)});
    if (!(found->bytes[2] & 0x80)) slotCount += get_u16le(found->bytes + 4);
  }
  if (lists.empty()) return 0;
  table.valueSlots.assign(slotCount, 0);
  // A linked table's own fields are those of slot 0's list.
  const bool linkedTable = isLinkedTable(table);
  AttrList& ownFields = linkedTable ? table.linkSlots[0].list : record.attributes;
  uint8_t* ownCounters = record.record;
  uint8_t scratch[kBlock] = {};
  if (linkedTable) ownCounters = scratch;
  std::vector<int64_t>& slots = table.valueSlots;
  int32_t verdict = (events & 0x3000) ? -1 : 0;
  int32_t base = 0;
  for (const List& list : lists) {
    const uint16_t count = get_u16le(list.bytes.data() + 6);
    bool stored = false;
    for (uint16_t a = 0; a < count; ++a) {
      const uint8_t* action = list.bytes.data() + 8 + 16 * a;
      const uint16_t flags = get_u16le(action);
      const auto slot = static_cast<int8_t>(action[2]);
      const uint8_t operation = action[3];
      const auto skip = static_cast<int16_t>(get_u16le(action + 4));
      const auto column = static_cast<int16_t>(get_u16le(action + 6));
      if (!(flags & events)) continue;
      if (verdict == -1 && (flags & 0x0400)) verdict = 0;
      if (verdict == -1 && (flags & 0x0800)) verdict = 1;
      const int32_t index = (flags & 0xFF) < 0x80 ? slot + base + 128 : slot;
      int64_t operand = static_cast<int64_t>(get_u64le(action + 8));
      if (flags & 0x40) {
        if (index < 0 || static_cast<size_t>(index) >= slots.size()) ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
        operand = slots[static_cast<size_t>(index)];
      } else if (flags & 0x8000) {
        const uint64_t tableId = static_cast<uint64_t>(operand);
        // A field of a linked table comes from its slot's current record.
        const LinkSlot* slotOf = nullptr;
        bool own = tableId == 0 || tableId == table.id();
        if (!own) {
          for (const LinkSlot& link : table.linkSlots)
            if (link.tableId == tableId && (link.index != 0 || linkedTable)) {
              slotOf = &link;
              break;
            }
          if (!slotOf) ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
        }
        // The base table of a linked table: its fields are the opened record's.
        const bool baseRecord = slotOf && linkedTable && slotOf == &table.linkSlots[0];
        if (baseRecord && column == 0) ENTRY_FAIL(ZEMTA_ERR_FILE_FORMAT);
        if (column == 0) {
          operand = static_cast<int64_t>(slotOf ? slotOf->currentId : record.id());
        } else {
          const AttrList& from = baseRecord ? record.attributes : slotOf ? slotOf->list : ownFields;
          const AttrItem* field = findItem(from, kGroupFields, static_cast<uint16_t>(column));
          operand = 0;
          if (field && field->length > 0 && TypeDataToCalcData(&operand, field->type, field->length, field->bytes) != 0)
            ENTRY_FAIL(ZEMTA_ERR_FILE_FORMAT);
        }
      }
      const int32_t result = ActionExecVal(flags, operation, static_cast<int32_t>(slots.size()), slots.data(),
                                           static_cast<uint16_t>(base), slot, operand);
      if (result < 0) ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
      if (flags & 0x4000) {
        if (stored) ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
        stored = true;
        const AttrItem* def = columnDefOf(table.attributes, list.column);
        if (!def || def->length < kColumnDefType + 2) ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
        const uint16_t width = get_u16le(def->bytes + kColumnDefWidth), type = get_u16le(def->bytes + kColumnDefType);
        std::vector<uint8_t> value(std::max<uint16_t>(width, 1), 0);
        if (operation == 223) {
          // Text from the operands of this and the following actions, 8 bytes each.
          std::string text;
          for (uint16_t t = a; t < count && text.size() < static_cast<size_t>(std::max<int8_t>(slot, 0)); ++t) {
            const uint8_t* part = list.bytes.data() + 8 + 16 * t;
            if (part[3] != 223) ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
            text.append(reinterpret_cast<const char*>(part + 8), 8);
          }
          text.resize(static_cast<size_t>(std::max<int8_t>(slot, 0)));
          std::memcpy(value.data(), text.data(), std::min(text.size(), value.size()));
        } else {
          if (index < 0 || static_cast<size_t>(index) >= slots.size()) ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
          if (CalcDataToTypeData(type, width, value.data(), &slots[static_cast<size_t>(index)]) < 0)
            ENTRY_FAIL(ZEMTA_ERR_FILE_FORMAT);
        }
        if (setItem(ownFields, ownCounters, kGroupFields, list.column, type, width, value.data()) < 0)
          ENTRY_FAIL(0);
      }
      if (result != 0) {
        if (skip == 0) {
          if ((operation == 247 || operation == 248) && (flags & 0x0800)) verdict = 0;
          else if (flags & 0x3400) verdict |= 1;
          else if (flags & 0x0800) verdict &= 1;
          break;
        }
        a = static_cast<uint16_t>(a + skip);
      }
    }
    base += static_cast<int16_t>(get_u16le(list.bytes.data() + 4));
  }
  return verdict != 0 ? 1 : 0;
}

// Opens a record by ID for the caller: refused while another handle has it.
// The record comes from the data table; links and actions are the table's.
Entry* openForCaller(Disk& disk, Entry& table, Entry& data, uint64_t id, bool holdOpen) {
  if (container::openHandleWithId(disk, id, nullptr))
    throw container::Failure{platform::kErrorSharingViolation, __LINE__};
  Entry* record = container::openRecordEntry(disk, data, id);
  try {
    container::refreshLinks(disk, table, record);
    container::runColumnActions(table, *record, kColumnEventOpen);
    container::holdOrLeave(disk, *record, holdOpen);
  } catch (...) {
    container::releaseEntryObject(disk, record);
    throw;
  }
  return record;
}

}  // namespace zemta::container

namespace container = zemta::container;
using container::Disk;
using container::Entry;
using container::Target;

namespace {


bool tableOf(FileExHandle handle, Target* target) {
  if (!container::resolveHandle(handle, target)) return false;
  if (!container::isTable(target->entry)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return false;
  }
  return true;
}

uint64_t join(uint32_t low, uint32_t high) { return low | (static_cast<uint64_t>(high) << 32); }

void fillInfo(Entry* record, void* info) {
  if (info && record) FileExDescriptor(record, info, 8);
}

// Runs the body on the table that really holds the records: for a linked
// table its base table (opened by the ID of link slot 0, or the handle that
// has it open, under the linked table's owner name, and accessed), else the
// table itself.
template <typename Body>
auto onDataTable(Disk& disk, Entry& table, Body&& body) {
  if (!container::isLinkedTable(table)) return body(table);
  const uint64_t baseId = table.linkSlots[0].tableId;
  int32_t already = 0;
  auto* base = static_cast<Entry*>(FileExCreateByID(&disk, static_cast<uint32_t>(baseId),
                                                    static_cast<uint32_t>(baseId >> 32), table.ownerName.c_str(), &already));
  if (!base) throw container::Failure{0, __LINE__};
  bool began = false;
  auto done = [&](bool failed) {
    int32_t ended = 0;
    if (began) container::endAccess(disk, base, &ended);
    if (!already && FileExRelease(base, nullptr) != 0) ended = -1;
    if (ended != 0 && !failed) throw container::Failure{0, __LINE__};
  };
  try {
    if (!container::isTable(base)) throw container::Failure{ZEMTA_ERR_BAD_FILE_NAME, __LINE__};
    began = container::beginAccess(disk, base, container::kImplicitMode);
    auto result = body(*base);
    done(false);
    return result;
  } catch (...) {
    done(true);
    throw;
  }
}

int32_t deleteRecord(Disk& disk, Entry& table, uint64_t number, uint64_t id) {
  if (number == 0) number = container::recordNumberOf(table, id);
  if (id == 0) id = container::recordIdAt(table, number);
  if (number == 0 || id == 0) throw container::Failure{ZEMTA_ERR_BAD_PARAMETER, __LINE__};
  if (container::openHandleWithId(disk, id, nullptr)) throw container::Failure{ZEMTA_ERR_FILE_IN_USE, __LINE__};
  Entry* record = container::openRecordEntry(disk, table, id);
  const int64_t position = record->position;
  try {
    if (zemta::container::get_u64le(record->record + container::kFieldDataSize) != 0) {
      record->deleting = true;
      container::writeEntry(disk, *record, &table, false);
    }
  } catch (...) {
    container::releaseEntryObject(disk, record);
    throw;
  }
  container::releaseEntryObject(disk, record);
  uint8_t key[8];
  zemta::container::put_u64le(key, number);
  container::treeDelete(table.storeNumberTree, id, key, 8);
  container::treeDelete(table.storeIdTree, id, key, 8);
  const uint64_t count = container::countOf(table);
  if (number < count) {
    for (int32_t tree : {table.storeNumberTree, table.storeIdTree})
      if (BtreeExChgRecKey(tree, static_cast<uint32_t>(number + 1), static_cast<uint32_t>((number + 1) >> 32),
                           static_cast<uint32_t>(count), static_cast<uint32_t>(count >> 32), static_cast<uint32_t>(number),
                           static_cast<uint32_t>(number >> 32)) != 0)
        throw container::Failure{0, __LINE__};
  }
  container::setCount(table, count - 1);
  container::removeEntryAt(disk, table.firstTree, position, true);
  return 0;
}

}  // namespace

ZEMTA_API FileExHandle FileExRecInsert(FileExHandle handle, uint32_t numberLow, uint32_t numberHigh, const char* description,
                                       int32_t holdOpen, void* info) {
  Target target;
  if (!tableOf(handle, &target)) return nullptr;
  Entry* made = nullptr;
  if (container::withAccess(*target.disk, target.entry, [&]() -> int32_t {
        made = onDataTable(*target.disk, *target.entry, [&](Entry& data) {
          return container::insertRecord(*target.disk, data, join(numberLow, numberHigh), description, holdOpen != 0);
        });
        return 0;
      }) != 0)
    return nullptr;
  fillInfo(made, info);
  return made;
}

ZEMTA_API FileExHandle FileExRecInsByFlif(FileExHandle handle, const void* logInfo, int32_t holdOpen) {
  Target target;
  if (!tableOf(handle, &target)) return nullptr;
  container::LogInfo info;
  if (!logInfo || !container::readLogInfo(static_cast<const uint8_t*>(logInfo), 32, &info) ||
      info.kind != FILEEX_KIND_RECORD || info.recordNumber == 0 || info.entryId == 0 || info.entryId == ~0ull) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return nullptr;
  }
  Entry* made = nullptr;
  if (container::withAccess(*target.disk, target.entry, [&]() -> int32_t {
        Disk& disk = *target.disk;
        Entry& table = *target.entry;
        Entry* record = container::makeRecord(disk, table, info.entryId, nullptr);
        try {
          container::placeRecord(disk, table, info.recordNumber, record->id());
          container::holdOrLeave(disk, *record, holdOpen != 0);
        } catch (...) {
          container::releaseEntryObject(disk, record);
          throw;
        }
        made = record;
        return 0;
      }) != 0)
    return nullptr;
  return made;
}

ZEMTA_API FileExHandle FileExRecOpen(FileExHandle handle, uint32_t numberLow, uint32_t numberHigh, int32_t holdOpen,
                                     void* info) {
  Target target;
  if (!tableOf(handle, &target)) return nullptr;
  const uint64_t number = join(numberLow, numberHigh);
  Entry* made = nullptr;
  if (container::withAccess(*target.disk, target.entry, [&]() -> int32_t {
        made = onDataTable(*target.disk, *target.entry, [&](Entry& data) {
          if (number == 0 || number > container::countOf(data)) throw container::Failure{ZEMTA_ERR_BAD_PARAMETER, __LINE__};
          const uint64_t id = container::recordIdAt(data, number);
          if (id == 0) throw container::Failure{ZEMTA_ERR_BAD_PARAMETER, __LINE__};
          return openForCaller(*target.disk, *target.entry, data, id, holdOpen != 0);
        });
        return 0;
      }) != 0)
    return nullptr;
  fillInfo(made, info);
  return made;
}

ZEMTA_API FileExHandle FileExRecOpenByID(FileExHandle handle, uint32_t idLow, uint32_t idHigh, int32_t holdOpen, void* info) {
  Target target;
  if (!tableOf(handle, &target)) return nullptr;
  const uint64_t id = join(idLow, idHigh);
  Entry* made = nullptr;
  if (container::withAccess(*target.disk, target.entry, [&]() -> int32_t {
        made = onDataTable(*target.disk, *target.entry, [&](Entry& data) {
          if (id == 0 || container::recordNumberOf(data, id) == 0) throw container::Failure{ZEMTA_ERR_BAD_PARAMETER, __LINE__};
          return openForCaller(*target.disk, *target.entry, data, id, holdOpen != 0);
        });
        return 0;
      }) != 0)
    return nullptr;
  fillInfo(made, info);
  return made;
}

ZEMTA_API int32_t FileExRecDelete(FileExHandle handle, uint32_t numberLow, uint32_t numberHigh) {
  Target target;
  if (!tableOf(handle, &target)) return -1;
  const uint64_t number = join(numberLow, numberHigh);
  return container::withAccess(*target.disk, target.entry, [&]() -> int32_t {
    return onDataTable(*target.disk, *target.entry, [&](Entry& data) {
      if (number == 0 || number > container::countOf(data)) throw container::Failure{ZEMTA_ERR_BAD_PARAMETER, __LINE__};
      return deleteRecord(*target.disk, data, number, 0);
    });
  });
}

ZEMTA_API int32_t FileExRecDelByID(FileExHandle handle, uint32_t idLow, uint32_t idHigh) {
  Target target;
  if (!tableOf(handle, &target)) return -1;
  const uint64_t id = join(idLow, idHigh);
  return container::withAccess(*target.disk, target.entry, [&]() -> int32_t {
    return onDataTable(*target.disk, *target.entry, [&](Entry& data) {
      if (id == 0 || container::recordNumberOf(data, id) == 0) throw container::Failure{ZEMTA_ERR_BAD_PARAMETER, __LINE__};
      return deleteRecord(*target.disk, data, 0, id);
    });
  });
}

ZEMTA_API int32_t FileExGetRecCount(FileExHandle handle, uint64_t* count) {
  Target target;
  if (!tableOf(handle, &target)) return -1;
  if (!count) return 0;
  if (!container::isLinkedTable(*target.entry)) {
    *count = container::countOf(*target.entry);
    return 0;
  }
  // A linked table counts the records of its base table.
  return container::withAccess(*target.disk, target.entry, [&]() -> int32_t {
    *count = onDataTable(*target.disk, *target.entry, [](Entry& data) { return container::countOf(data); });
    return 0;
  });
}
