// Fields of entries, configuration values, the items of log rows and the
// error row.
//
// Length-prefixed block: a u16 length that counts itself, then length - 2
// bytes. A reader given a length word of 0 answers the length it needs.
//
// Log row of "\SYSTEM\LOG": (4, 1) the 32-byte log information (value type
// 0x11F), (4, 2) the owner name (text), (5, g) and (6, g) the logged values
// of group g before and after the change (0x21F): each a run of u16 item,
// u16 value type, u16 length and the bytes, ended by the block's end or an
// item number 0. A run whose item runs past its block is a damaged row.
//
// Configuration values: items (10, key) of record 1 of "\SYSTEM\CONFIG":
// text (value type 0, with its NUL), integer (1, 4 bytes), schedule (0x81F,
// 4 bytes).
#include <cstring>
#include <string>

#include "lib/container/tables/table_internal.h"
#include "zemta/fileex.h"

namespace container = zemta::container;
using container::AttrItem;
using container::Disk;
using container::Entry;
using container::Target;
using zemta::get_u16le;
using zemta::put_u16le;

namespace {

constexpr uint16_t kGroupLimit = 256;

// An entry with data (and, when asked, a record); reported otherwise.
bool dataEntryOf(FileExHandle handle, Target* target, bool record) {
  if (!container::resolveHandle(handle, target)) return false;
  const uint32_t need = record ? container::kTypeRecord : container::kTypeData;
  if (!target->entry || !(target->entry->typeFlags() & need)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return false;
  }
  return true;
}

// Sets an item inside the entry's access; a new group or item number marks
// the record changed so that the counters are written back.
void setItemOf(Entry& entry, uint16_t group, uint16_t item, uint16_t type, int32_t length, const void* bytes,
               uint32_t* keyOut) {
  const uint16_t groups = get_u16le(entry.record + container::kFieldGroups);
  const uint16_t items = get_u16le(entry.record + container::kFieldItems);
  const int64_t key = container::setItem(entry.attributes, entry.record, group, item, type, length, bytes);
  if (key < 0) throw container::Failure{0, __LINE__};
  if (keyOut) *keyOut = static_cast<uint32_t>(key);
  if (get_u16le(entry.record + container::kFieldGroups) != groups || get_u16le(entry.record + container::kFieldItems) != items)
    entry.state |= container::kStateDirty;
}

// Copies an item's body into a length-prefixed buffer, or answers its size.
int32_t copyBlock(const AttrItem* item, uint8_t* buffer) {
  const uint16_t length = get_u16le(buffer);
  const uint32_t body = item ? item->length : 0;
  if (length == 0) {
    put_u16le(buffer, static_cast<uint16_t>(body + 2));
    return 0;
  }
  if (length == 1) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (item) std::memcpy(buffer + 2, item->bytes, std::min<uint32_t>(body, length - 2u));
  return 0;
}

// Opens record 1 of the configuration table; null after a report.
Entry* openConfigRecord(Disk& disk, bool hold) {
  if (!disk.config) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
    return nullptr;
  }
  return static_cast<Entry*>(FileExRecOpen(disk.config, 1, 0, hold ? 1 : 0, nullptr));
}

int32_t writeConfig(FileExDiskHandle handle, uint32_t key, uint16_t type, int32_t length, const void* bytes) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  if (key == 0 || key > 0xFFFF) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  Entry* record = openConfigRecord(*disk, true);
  if (!record) return -1;
  uint32_t itemKey = container::kGroupFields | (key << 16);
  int32_t result = FileExSetFld(record, &itemKey, bytes, length, type);
  if (result == 0) result = FileExFldWrite(record, disk->config, 0);
  if (FileExRelease(record, nullptr) != 0) result = -1;
  return result;
}

// Reads a configuration value: 1 present, 0 absent, -1.
int32_t readConfig(FileExDiskHandle handle, uint32_t key, std::string* bytes, uint16_t* type) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  Entry* record = openConfigRecord(*disk, false);
  if (!record) return -1;
  const AttrItem* item = container::findItem(record->attributes, container::kGroupFields, static_cast<uint16_t>(key));
  int32_t result = 0;
  if (item && item->length > 0) {
    bytes->assign(reinterpret_cast<const char*>(item->bytes), item->length);
    *type = item->type;
    result = 1;
  }
  if (FileExRelease(record, nullptr) != 0) return -1;
  return result;
}

}  // namespace

ZEMTA_API int32_t FileExGetFld(FileExHandle handle, uint32_t key, void* buffer, int32_t size, uint16_t* type) {
  Target target;
  if (!dataEntryOf(handle, &target, false)) return -1;
  if (type) *type = 0xFFFF;
  const AttrItem* item = container::findItem(container::readListOf(*target.entry, static_cast<uint16_t>(key)),
                                             static_cast<uint16_t>(key), static_cast<uint16_t>(key >> 16));
  if (!item) return 0;
  if (buffer && size > 0) std::memcpy(buffer, item->bytes, std::min<int32_t>(size, item->length));
  if (type) *type = item->type;
  return item->length;
}

ZEMTA_API int32_t FileExSetFld(FileExHandle handle, uint32_t* key, const void* data, int32_t length, uint16_t type) {
  Target target;
  if (!dataEntryOf(handle, &target, false)) return -1;
  if (!key || (!data && length != 0) || (*key & 0xFFFF) >= kGroupLimit) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return container::withAccess(*target.disk, target.entry, [&]() -> int32_t {
    setItemOf(*target.entry, static_cast<uint16_t>(*key), static_cast<uint16_t>(*key >> 16), type, length, data, key);
    return 0;
  });
}

ZEMTA_API int32_t FileExClrFld(FileExHandle handle) {
  Target target;
  if (!dataEntryOf(handle, &target, false)) return -1;
  target.entry->attributes.groups.clear();
  return 0;
}

ZEMTA_API int32_t FileExGetFldCount(FileExHandle handle, uint16_t group, uint16_t* items, int32_t capacity) {
  Target target;
  if (!dataEntryOf(handle, &target, false)) return -1;
  const std::vector<AttrItem> found = container::itemsOf(target.entry->attributes, group);
  for (size_t i = 0; items && i < found.size() && static_cast<int32_t>(i) < capacity; ++i) items[i] = found[i].item;
  return static_cast<int32_t>(found.size());
}

ZEMTA_API int32_t FileExSetFldByLog(FileExHandle handle, uint16_t group, const void* block) {
  Target target;
  if (!dataEntryOf(handle, &target, false)) return -1;
  const auto* bytes = static_cast<const uint8_t*>(block);
  if (!bytes || get_u16le(bytes) < 2 || group == 0 || group >= kGroupLimit) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  // The whole run is checked before anything is set: a damaged row changes nothing.
  std::vector<container::LoggedItem> items;
  if (!container::parseLoggedRun(bytes + 2, get_u16le(bytes) - 2u, &items)) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
    return -1;
  }
  return container::withAccess(*target.disk, target.entry, [&]() -> int32_t {
    container::AttrList copy = target.entry->attributes;
    uint8_t record[container::kBlock];
    std::memcpy(record, target.entry->record, sizeof record);
    for (const container::LoggedItem& item : items)
      if (container::setItem(copy, record, group, item.item, item.type, item.length, item.bytes) < 0)
        throw container::Failure{0, __LINE__};
    target.entry->attributes = std::move(copy);
    if (std::memcmp(record, target.entry->record, sizeof record) != 0) {
      std::memcpy(target.entry->record, record, sizeof record);
      target.entry->state |= container::kStateDirty;
    }
    return 0;
  });
}

ZEMTA_API int32_t FileExSetLogInfo(FileExHandle handle, const void* info, const void* name) {
  Target target;
  if (!dataEntryOf(handle, &target, true)) return -1;
  const auto* infoBytes = static_cast<const uint8_t*>(info);
  const auto* nameBytes = static_cast<const uint8_t*>(name);
  if (!infoBytes || get_u16le(infoBytes) < 2 || (nameBytes && get_u16le(nameBytes) < 2)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return container::withAccess(*target.disk, target.entry, [&]() -> int32_t {
    setItemOf(*target.entry, container::kGroupLog, 1, container::kValueLogInfo, get_u16le(infoBytes) - 2, infoBytes + 2,
              nullptr);
    if (nameBytes) setItemOf(*target.entry, container::kGroupLog, 2, 0, get_u16le(nameBytes) - 2, nameBytes + 2, nullptr);
    return 0;
  });
}

ZEMTA_API int32_t FileExSetLogData(FileExHandle handle, uint16_t group, const void* before, const void* after) {
  Target target;
  if (!dataEntryOf(handle, &target, true)) return -1;
  const auto* a = static_cast<const uint8_t*>(before);
  const auto* b = static_cast<const uint8_t*>(after);
  if ((a && get_u16le(a) < 2) || (b && get_u16le(b) < 2)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return container::withAccess(*target.disk, target.entry, [&]() -> int32_t {
    if (a) setItemOf(*target.entry, container::kGroupBefore, group, container::kValueLoggedFields, get_u16le(a) - 2, a + 2, nullptr);
    if (b) setItemOf(*target.entry, container::kGroupAfter, group, container::kValueLoggedFields, get_u16le(b) - 2, b + 2, nullptr);
    return 0;
  });
}

ZEMTA_API int32_t FileExGetLogInfo(FileExHandle handle, void* info, void* name) {
  Target target;
  if (!dataEntryOf(handle, &target, true)) return -1;
  if (!info) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (copyBlock(container::findItem(target.entry->attributes, container::kGroupLog, 1), static_cast<uint8_t*>(info)) != 0)
    return -1;
  if (name && copyBlock(container::findItem(target.entry->attributes, container::kGroupLog, 2), static_cast<uint8_t*>(name)) != 0)
    return -1;
  return 0;
}

ZEMTA_API int32_t FileExGetLogData(FileExHandle handle, uint16_t group, void* before, void* after) {
  Target target;
  if (!dataEntryOf(handle, &target, true)) return -1;
  if (before &&
      copyBlock(container::findItem(target.entry->attributes, container::kGroupBefore, group), static_cast<uint8_t*>(before)) != 0)
    return -1;
  if (after &&
      copyBlock(container::findItem(target.entry->attributes, container::kGroupAfter, group), static_cast<uint8_t*>(after)) != 0)
    return -1;
  return 0;
}

ZEMTA_API int32_t FileExWriteCfgFldStr(FileExDiskHandle disk, uint32_t key, const char* text) {
  if (!text) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return writeConfig(disk, key, 0, static_cast<int32_t>(std::strlen(text) + 1), text);
}

ZEMTA_API int32_t FileExWriteCfgFldInt(FileExDiskHandle disk, uint32_t key, int32_t value) {
  uint8_t bytes[4];
  zemta::put_u32le(bytes, static_cast<uint32_t>(value));
  return writeConfig(disk, key, 1, 4, bytes);
}

ZEMTA_API int32_t FileExWriteCfgFldSch(FileExDiskHandle disk, uint32_t key, const void* schedule) {
  if (!schedule) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return writeConfig(disk, key, container::kValueSchedule, 4, schedule);
}

ZEMTA_API int32_t FileExReadCfgFldStr(FileExDiskHandle disk, uint32_t key, char* buffer, int32_t size) {
  std::string bytes;
  uint16_t type = 0;
  const int32_t present = readConfig(disk, key, &bytes, &type);
  if (present <= 0) {
    if (present == 0 && buffer && size > 0) buffer[0] = 0;
    return present;
  }
  if ((type & 0x1F) != 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const std::string text(bytes.c_str());
  if (buffer && size > 0) {
    const size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = 0;
  }
  return static_cast<int32_t>(text.size());
}

ZEMTA_API int32_t FileExReadCfgFldInt(FileExDiskHandle disk, uint32_t key) {
  std::string bytes;
  uint16_t type = 0;
  const int32_t present = readConfig(disk, key, &bytes, &type);
  if (present <= 0) return present;
  if (bytes.size() > 4 || ((type & 0x1F) != 1 && (type & 0x1F) != 2) || (type & 0x20)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  uint8_t value[4] = {};
  std::memcpy(value, bytes.data(), bytes.size());
  int32_t result = static_cast<int32_t>(zemta::get_u32le(value));
  // A shorter signed value keeps its sign.
  if ((type & 0x1F) == 1 && bytes.size() < 4 && (value[bytes.size() - 1] & 0x80))
    result |= static_cast<int32_t>(~0u << (8 * bytes.size()));
  return result;
}

ZEMTA_API int32_t FileExReadCfgFldSch(FileExDiskHandle disk, uint32_t key, void* schedule) {
  std::string bytes;
  uint16_t type = 0;
  const int32_t present = readConfig(disk, key, &bytes, &type);
  if (present <= 0) return present;
  if (bytes.size() > 4 || type != container::kValueSchedule || !schedule) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  std::memset(schedule, 0, 4);
  std::memcpy(schedule, bytes.data(), bytes.size());
  return 1;
}

ZEMTA_API int32_t FileExRecInsErr(void* disk, int32_t line, const char* file, uint32_t code, const char* description,
                                  const char* name) {
  if (!container::findDisk(disk)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  FileExHandle table = FileExCreate(disk, "\\SYSTEM\\ERROR", -1, nullptr, 0, 0, 0, nullptr);
  if (!table) return -1;
  FileExHandle record = FileExRecInsert(table, 0xFFFFFFFFu, 0xFFFFFFFFu, nullptr, 1, nullptr);
  int32_t result = record ? 0 : -1;
  auto set = [&](uint16_t column, const void* bytes, int32_t length, uint16_t type) {
    uint32_t key = container::kGroupFields | (static_cast<uint32_t>(column) << 16);
    if (result == 0 && FileExSetFld(record, &key, bytes, length, type) != 0) result = -1;
  };
  uint8_t lineBytes[4], codeBytes[4];
  zemta::put_u32le(lineBytes, static_cast<uint32_t>(line));
  zemta::put_u32le(codeBytes, code);
  const char* fileText = file ? file : "";
  set(1, lineBytes, 4, 1);
  set(2, fileText, static_cast<int32_t>(std::strlen(fileText) + 1), 0);
  set(3, codeBytes, 4, 2);
  if (description) set(4, description, static_cast<int32_t>(std::strlen(description) + 1), 0);
  if (name) set(5, name, static_cast<int32_t>(std::strlen(name) + 1), 0);
  if (result == 0 && FileExFldWrite(record, table, 0) != 0) result = -1;
  if (record && FileExRelease(record, nullptr) != 0) result = -1;
  if (FileExRelease(table, nullptr) != 0) result = -1;
  return result;
}
