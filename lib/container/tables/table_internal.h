// The table layers of the container store: serialised attribute lists and
// the record writer (attribute_store.cpp), fields, configuration values and
// log rows (fields.cpp), records (records.cpp), columns and indexes
// (columns.cpp), structure reports (structure.cpp), searches and result
// sets (search.cpp). The formats are laid out at the top of each file.
#pragma once

#include <cstdint>
#include <vector>

#include "lib/container/disk/container_internal.h"
#include "lib/container/disk/entry_access.h"
#include "lib/container/disk/entry_model.h"

namespace zemta::container {

// Groups of a table's and a record's attribute lists.
constexpr uint16_t kGroupColumnOrder = 1;
constexpr uint16_t kGroupColumns = 2;
constexpr uint16_t kGroupIndexes = 3;
constexpr uint16_t kGroupLinks = 4;
constexpr uint16_t kGroupActions = 5;
constexpr uint16_t kGroupFields = 10;
constexpr uint16_t kGroupLog = 4;
constexpr uint16_t kGroupBefore = 5;
constexpr uint16_t kGroupAfter = 6;

// Column definition and index definition fields (byte offsets).
constexpr uint32_t kColumnDefSize = 270;
constexpr uint32_t kColumnDefName = 2;
constexpr uint32_t kColumnDefWidth = 258;
constexpr uint32_t kColumnDefType = 260;
constexpr uint32_t kIndexDefCount = 2;
constexpr uint32_t kIndexDefName = 8;
constexpr uint32_t kIndexDefEntry = 264;
constexpr uint32_t kIndexDefKeyLength = 272;
constexpr uint32_t kIndexDefKeyType = 274;
constexpr uint32_t kIndexDefColumns = 276;

// Log operation flags of the record writer.
constexpr uint16_t kLogUpdate = 0x400C;
constexpr uint16_t kLogInsert = 0x1008;
constexpr uint16_t kLogDelete = 0x2004;

// --- serialised attribute lists (attribute_store.cpp) ---------------------------
std::vector<uint8_t> serialiseList(const AttrList& list);
// False when the bytes are not a whole, sound list (the list is left empty).
bool parseList(const uint8_t* data, size_t size, AttrList* list);
// Loads the entry's lists from its data (a data size below 8 or a malformed
// list: 0x20000002, both lists empty). Throws Failure.
void loadAttributes(Disk& disk, Entry& entry);
// The record writer; throws Failure. 0, or 0 with nothing written when a
// record did not change.
int32_t writeEntry(Disk& disk, Entry& entry, Entry* table, bool noLog);

// One item of a logged data block.
struct LoggedItem {
  uint16_t item = 0;
  uint16_t type = 0;
  uint16_t length = 0;
  const uint8_t* bytes = nullptr;
};
// The items of a logged data block's body; false when an item's length runs
// past the body (a damaged row), with nothing read past it.
bool parseLoggedRun(const uint8_t* body, size_t length, std::vector<LoggedItem>* items);

// --- trees whose compare reads the ID in front of the key -----------------------
void treeInsert(int32_t tree, uint64_t id, const uint8_t* key, size_t length);
void treeDelete(int32_t tree, uint64_t id, const uint8_t* key, size_t length);
// The key stored with the ID in an ID-ordered tree; false when absent.
bool treeKeyOfId(int32_t tree, uint64_t id, uint8_t* key, size_t length);

// --- records (records.cpp) -------------------------------------------------------
// 0 when the table has no such record.
uint64_t recordIdAt(Entry& table, uint64_t number);
uint64_t recordNumberOf(Entry& table, uint64_t id);
// Opens a record of the table by its ID (its list loaded); throws Failure.
// Opens the entry with the ID, which must be of the type; an ID the disk
// does not hold fails with missing.
Entry* openEntryById(Disk& disk, uint64_t id, uint32_t type, int32_t missing);
Entry* openRecordEntry(Disk& disk, Entry& table, uint64_t id);
// The column actions' event of a record opened for a caller.
constexpr uint16_t kColumnEventOpen = 4;
// Opens a record by ID for the caller: refused while another handle has it.
// The record comes from the data table (a linked table's base); links and
// column actions are the table's. holdOpen keeps the disk accessed for it.
Entry* openForCaller(Disk& disk, Entry& table, Entry& data, uint64_t id, bool holdOpen);
// Appends or inserts a new record (number all ones: append); throws Failure.
Entry* insertRecord(Disk& disk, Entry& table, uint64_t number, const char* description, bool holdOpen);
bool isTable(const Entry* entry);
// Runs the table's column actions of the events on an opened record: 1 or
// 0 (the verdict); throws Failure.
int32_t runColumnActions(Entry& table, Entry& record, uint16_t events);
// Rebuilds the table's link slots from its column links and finds, for each,
// the linked record whose key is the opened record's value (every slot
// cleared without a record); throws Failure.
void syncLinkSlots(Entry& table);
void refreshLinks(Disk& disk, Entry& table, Entry* record);
// A table that shows the records of the base table of its first link slot.
bool isLinkedTable(const Entry& table);
// The list a caller reads the group from: for the fields of a record opened
// through a linked table, that table's slot 0; else the entry's working list.
const AttrList& readListOf(const Entry& entry, uint16_t group);

// --- columns and indexes (columns.cpp) -------------------------------------------
const AttrItem* columnDefOf(const AttrList& table, uint16_t column);
// The key of a record for an index definition (the key rule of the entry model).
std::vector<uint8_t> buildKey(const AttrList& table, const uint8_t* def, size_t defLength, const AttrList& record);
// Opens the index slots of a table from group 3; builds an index whose
// definition has no entry yet when mayBuild (else 0x20000002). Throws Failure.
void openTableIndexes(Disk& disk, Entry& table, bool mayBuild);
void closeTableIndexes(Disk& disk, Entry& table);
// Builds an index over the table's records (or the ID set's) under the entry;
// the definition takes the key length, type and the new entry's ID. Throws.
Entry* buildIndex(Disk& disk, Entry& table, std::vector<uint8_t>& def, Entry* under, Entry* idSet, int32_t* progress);
// Removes an entry of the disk by its ID; throws Failure.
void removeEntryById(Disk& disk, uint64_t id, bool fromRecordDeletion);

}  // namespace zemta::container
