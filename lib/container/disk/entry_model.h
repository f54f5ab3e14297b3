// The entry model's pieces that the entry operations, the data in blocks
// and the table layers share: attribute lists, index orders and keys, the
// log information block. Formats are at the top of entry.cpp.
#pragma once

#include <cstdint>
#include <vector>

#include "lib/container/disk/container_internal.h"

namespace zemta::container {

// Value types of attribute items.
constexpr uint16_t kValueLogInfo = 0x11F;
constexpr uint16_t kValueLoggedFields = 0x21F;
constexpr uint16_t kValueColumnOrder = 0x41F;
constexpr uint16_t kValueColumnDef = 0x51F;
constexpr uint16_t kValueIndexDef = 0x61F;
constexpr uint16_t kValueSchedule = 0x81F;
constexpr uint16_t kValueColumnLink = 0x91F;
constexpr uint16_t kValueActionList = 0xA1F;

// First word of an index definition: its keys order signed numbers by value.
constexpr uint16_t kIndexDefOrderedSigns = 0x0001;

// The order of an index tree for a key length; 0 when the key is too long.
inline uint32_t indexOrder(uint32_t keyLength) { return (488 / (keyLength + 16)) / 2; }

// One item of an attribute list, as found (pointing into the list).
struct AttrItem {
  uint16_t item = 0;
  uint16_t type = 0;
  uint16_t length = 0;
  const uint8_t* bytes = nullptr;
};

// Sets the item (group, item) of the list: length 0 removes it; a negative
// length takes the type's default (text with its NUL, 4 or 8 for numbers).
// Group 0 asks for a new group and item 0 for a new item (the record's
// counters at 336 and 338 follow). The key used, as group | item << 16, or
// -1 after a report (0x20000085 bad type or length, 0x20001001 no numbers left).
int64_t setItem(AttrList& list, uint8_t* record, uint16_t group, uint16_t item, uint16_t type, int32_t length,
                const void* bytes);
const AttrItem* findItem(const AttrList& list, uint16_t group, uint16_t item);
// The items of a group in their order.
std::vector<AttrItem> itemsOf(const AttrList& list, uint16_t group);

// One column of a multi-column key: its value type (bit 0x20: may be empty),
// its size, and its value (null: empty).
struct KeyColumn {
  uint16_t type = 0;
  uint16_t size = 0;
  const uint8_t* value = nullptr;
};
// The key of a multi-column index: the key length is the sum of the sizes
// (plus a leading presence byte when the last column may be empty).
std::vector<uint8_t> makeIndexKey(const std::vector<KeyColumn>& columns);

// The 32-byte log information block.
struct LogInfo {
  uint16_t operation = 0;
  uint16_t kind = 0;
  uint64_t entryId = 0;
  uint64_t tableId = 0;
  uint64_t recordNumber = 0;
};
void writeLogInfo(const LogInfo& info, uint8_t out[32]);
bool readLogInfo(const uint8_t* bytes, uint32_t length, LogInfo* info);

// The entry's data size (entry_data.cpp): 0 or -1 after a report.
int32_t setDataSize(Disk& disk, Entry& entry, uint64_t size);

}  // namespace zemta::container
