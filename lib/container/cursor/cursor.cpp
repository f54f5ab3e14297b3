// Cursor tables (new tables whose columns the caller describes and whose rows
// come from a search) and the library's CRC-32.
//
// Descriptors (caller-owned, each beginning with its u16 length):
//   column (270): u16 270, name[128], second text[128], u16 width, u16 type,
//                 u16, u16, i32 (the further definition values)
//   table link (16): u16 16, u16 kind, u16 field number, u16 index number,
//                 u64 linked table ID
//   column links: {u16 2} (no link) or u16 count * 16 + 8, u16 value,
//                 u16 level, u16 count, then count table links
//   calculated column (16): u16, u8, u8, u16, u16, u64
//   index: u16 columns * 2 + 276, u16 key column count, i32 attributes,
//                 name[128], second text[128], zero[12], u16 key columns
// A cursor table made without a name is called "\%016llX" after the disk's
// next entry ID.
//
// CRC-32: the reflected polynomial 0xEDB88320; CsrCalcCrc32 returns the
// complement of the updated running value, so a caller that starts with
// 0xFFFFFFFF gets the standard CRC-32.
#include "zemta/csr.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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
using zemta::get_u32le;
using zemta::put_u16le;
using zemta::put_u32le;

namespace {

uint32_t g_crcTable[256];
bool g_crcReady = false;

constexpr size_t kColumnSize = 270;
constexpr size_t kLinkSize = 16;
constexpr size_t kIndexHead = 276;

// Grows a caller's buffer to hold more bytes: the old contents copied, the
// old allocation freed. False when the memory cannot be had.
bool grow(void** buffer, size_t oldSize, size_t newSize) {
  void* grown = std::calloc(newSize, 1);
  if (!grown) return false;
  if (*buffer && oldSize) std::memcpy(grown, *buffer, oldSize);
  std::free(*buffer);
  *buffer = grown;
  return true;
}

// The packed length of the first count records of a buffer of length-prefixed records.
size_t packedLength(const uint8_t* buffer, int32_t count) {
  size_t at = 0;
  for (int32_t i = 0; i < count && buffer; ++i) at += std::max<uint16_t>(get_u16le(buffer + at), 2);
  return at;
}

}  // namespace

ZEMTA_API void CsrInitCrcTable(void) {
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t value = n;
    for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
    g_crcTable[n] = value;
  }
  g_crcReady = true;
}

ZEMTA_API uint32_t CsrCalcCrc32(const void* data, uint32_t length, uint32_t value) {
  if (!g_crcReady) CsrInitCrcTable();
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (uint32_t i = 0; bytes && i < length; ++i) value = (value >> 8) ^ g_crcTable[(value ^ bytes[i]) & 0xFF];
  return ~value;
}

ZEMTA_API int32_t CsrSetCol(void* column, const char* name, const char* second, uint16_t width, uint16_t type,
                            uint16_t third, uint16_t fourth, int32_t fifth) {
  if (!column || !name) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  auto* out = static_cast<uint8_t*>(column);
  std::memset(out, 0, kColumnSize);
  put_u16le(out, kColumnSize);
  std::memcpy(out + 2, name, std::min<size_t>(std::strlen(name), 127));
  if (second) std::memcpy(out + 130, second, std::min<size_t>(std::strlen(second), 127));
  put_u16le(out + 258, width);
  put_u16le(out + 260, type);
  put_u16le(out + 262, third);
  put_u16le(out + 264, fourth);
  put_u32le(out + 266, static_cast<uint32_t>(fifth));
  return 0;
}

ZEMTA_API int32_t CsrSetTblLink(void* link, uint16_t kind, uint16_t field, uint16_t index, uint32_t idLow, uint32_t idHigh) {
  if (!link) return -1;
  auto* out = static_cast<uint8_t*>(link);
  put_u16le(out, kLinkSize);
  put_u16le(out + 2, kind);
  put_u16le(out + 4, field);
  put_u16le(out + 6, index);
  put_u32le(out + 8, idLow);
  put_u32le(out + 12, idHigh);
  return 0;
}

namespace {

// Whether a stored name (at most 128 bytes) equals the text, ASCII case ignored.
bool sameNameIgnoringCase(const uint8_t* stored, const char* text) {
  for (size_t i = 0; i < 128; ++i) {
    const auto a = static_cast<unsigned char>(stored[i]), b = static_cast<unsigned char>(text[i]);
    const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; };
    if (lower(a) != lower(b)) return false;
    if (a == 0) return true;
  }
  return text[128] == 0;
}

// The number of the table's column whose name is the given one (case
// ignored); reported and 0 when there is none.
uint16_t columnByName(Entry& table, const char* name) {
  for (const AttrItem& def : container::itemsOf(table.attributes, container::kGroupColumns)) {
    if (def.type != container::kValueColumnDef) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
      return 0;
    }
    if (def.length >= container::kColumnDefName + 128 && sameNameIgnoringCase(def.bytes + container::kColumnDefName, name))
      return def.item;
  }
  ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
  return 0;
}

// Opens an existing table of the disk by path, or borrows the handle that
// has it open already; null after a report.
Entry* openTable(FileExDiskHandle disk, const char* path, int32_t length, bool* borrowed) {
  *borrowed = false;
  if (!path) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return nullptr;
  }
  uint8_t info[FILEEX_ENTRY_INFO_SIZE] = {};
  const int32_t exists = FileExIsExist(disk, path, length, info);
  if (exists < 0) return nullptr;
  if (exists == 0 || !(get_u32le(info + 328) & container::kTypeTable)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return nullptr;
  }
  const uint64_t id = zemta::container::get_u64le(info + 336);
  int32_t already = 0;
  auto* table = static_cast<Entry*>(FileExCreateByID(disk, static_cast<uint32_t>(id), static_cast<uint32_t>(id >> 32),
                                                     nullptr, &already));
  if (!table) return nullptr;
  *borrowed = already != 0;
  if (!container::isTable(table)) {
    if (!*borrowed) FileExRelease(table, nullptr);
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return nullptr;
  }
  return table;
}

// Releases a table that openTable opened.
int32_t closeTable(Entry* table, bool borrowed) { return borrowed ? 0 : FileExRelease(table, nullptr); }

}  // namespace

ZEMTA_API int32_t CsrSetTblLinkByName(void* link, FileExDiskHandle disk, const char* tablePath, const char* fieldName,
                                      int32_t columnLength, void* column, const char* indexName) {
  if (!container::findDisk(disk)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  if (!link || !fieldName) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  bool borrowed = false;
  Entry* table = openTable(disk, tablePath, -1, &borrowed);
  if (!table) return -1;
  int32_t result = 0;
  const uint16_t field = columnByName(*table, fieldName);
  uint16_t index = 0;
  if (field == 0) result = -1;
  if (result == 0 && indexName) {
    for (const AttrItem& def : container::itemsOf(table->attributes, container::kGroupIndexes))
      if (def.length >= container::kIndexDefName + 128 && sameNameIgnoringCase(def.bytes + container::kIndexDefName, indexName)) {
        index = def.item;
        break;
      }
    if (index == 0) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      result = -1;
    }
  }
  if (result == 0) {
    if (column && columnLength > 0) {
      const AttrItem* def = container::columnDefOf(table->attributes, field);
      std::memset(column, 0, static_cast<size_t>(columnLength));
      if (def) std::memcpy(column, def->bytes, std::min<size_t>(std::min<size_t>(def->length, static_cast<size_t>(columnLength)), kColumnSize));
    }
    const uint64_t id = table->id();
    CsrSetTblLink(link, 0, field, index, static_cast<uint32_t>(id), static_cast<uint32_t>(id >> 32));
  }
  if (closeTable(table, borrowed) != 0) result = -1;
  return result;
}

ZEMTA_API int32_t CsrSetColFldByName(int32_t count, uint16_t** fields, FileExDiskHandle disk, const char* tablePath,
                                     const char* fieldName) {
  if (count < 0 || !fields) return -1;
  if (count == 0) *fields = nullptr;
  if (!container::findDisk(disk)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  if (!fieldName) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  bool borrowed = false;
  Entry* table = openTable(disk, tablePath, -1, &borrowed);
  if (!table) return -1;
  const uint16_t field = columnByName(*table, fieldName);
  closeTable(table, borrowed);
  if (field == 0) return -1;
  void* buffer = *fields;
  if (!grow(&buffer, static_cast<size_t>(count) * 2, static_cast<size_t>(count + 1) * 2)) return -1;
  *fields = static_cast<uint16_t*>(buffer);
  (*fields)[count] = field;
  return count + 1;
}

ZEMTA_API int32_t CsrSetColLink(int32_t count, uint8_t** buffer, uint16_t value, int16_t level, uint16_t linkCount,
                                const void* links) {
  if (count < 0 || !buffer || (linkCount > 0 && !links)) return -1;
  if (count == 0) *buffer = nullptr;
  const size_t used = packedLength(*buffer, count);
  const size_t length = linkCount == 0 ? 2 : linkCount * kLinkSize + 8;
  void* grown = *buffer;
  if (!grow(&grown, used, used + length)) return -1;
  *buffer = static_cast<uint8_t*>(grown);
  uint8_t* out = *buffer + used;
  put_u16le(out, static_cast<uint16_t>(length));
  if (linkCount > 0) {
    const auto* source = static_cast<const uint8_t*>(links);
    uint16_t deepest = 0;
    for (uint16_t i = 0; i < linkCount; ++i) deepest = std::max<uint16_t>(deepest, source[i * kLinkSize + 2]);
    put_u16le(out + 2, value);
    put_u16le(out + 4, level == -1 ? static_cast<uint16_t>(deepest + 1) : static_cast<uint16_t>(level));
    put_u16le(out + 6, linkCount);
    std::memcpy(out + 8, source, linkCount * kLinkSize);
  }
  return count + 1;
}

ZEMTA_API int32_t CsrSetColCalc(int32_t count, uint8_t** array, uint16_t a, uint8_t b, uint8_t c, uint16_t d, uint16_t e,
                                const uint64_t* operand) {
  if (count < 0 || !array) return -1;
  if (count == 0) *array = nullptr;
  void* grown = *array;
  if (!grow(&grown, static_cast<size_t>(count) * 16, static_cast<size_t>(count + 1) * 16)) return -1;
  *array = static_cast<uint8_t*>(grown);
  uint8_t* out = *array + static_cast<size_t>(count) * 16;
  put_u16le(out, a);
  out[2] = b;
  out[3] = c;
  put_u16le(out + 4, d);
  put_u16le(out + 6, e);
  zemta::container::put_u64le(out + 8, operand ? *operand : 0);
  return count + 1;
}

ZEMTA_API int32_t CsrSetIdx(int32_t count, uint8_t** buffer, int32_t attributes, const char* name, const char* second,
                            uint16_t columnCount, const uint16_t* columns) {
  if (count < 0 || !buffer || (columnCount > 0 && !columns)) return -1;
  if (count == 0) *buffer = nullptr;
  const size_t used = packedLength(*buffer, count);
  const size_t length = kIndexHead + 2u * columnCount;
  void* grown = *buffer;
  if (!grow(&grown, used, used + length)) return -1;
  *buffer = static_cast<uint8_t*>(grown);
  uint8_t* out = *buffer + used;
  put_u16le(out, static_cast<uint16_t>(length));
  put_u16le(out + 2, columnCount);
  put_u32le(out + 4, static_cast<uint32_t>(attributes));
  if (name) std::memcpy(out + 8, name, std::min<size_t>(std::strlen(name), 127));
  if (second) std::memcpy(out + 136, second, std::min<size_t>(std::strlen(second), 127));
  for (uint16_t i = 0; i < columnCount; ++i) put_u16le(out + kIndexHead + 2 * i, columns[i]);
  return count + 1;
}

namespace {

struct SearchOf {
  Entry* set = nullptr;
  Entry* table = nullptr;
};

}  // namespace

namespace {

// Where a cursor column's value comes from: a field of the searched record,
// or, through a table link (or a column link's chain) naming another table,
// the field of the record that the searched table's link to it has found.
struct RowSource {
  uint16_t column = 0;
  uint16_t field = 0;
  uint16_t index = 0;
  uint64_t table = 0;
  std::vector<std::pair<uint64_t, uint16_t>> chain;  // (table ID, index number)
};

// The value of the row's column; false when the record has none. The record
// was opened through the searched table, so its links are refreshed and its
// calculated columns evaluated by that table's column actions.
bool rowValue(const Entry& searched, Entry* record, const RowSource& source, std::vector<uint8_t>* value, uint16_t* type) {
  const container::LinkSlot* slot = nullptr;
  auto findSlot = [&](uint64_t table, uint16_t index) {
    for (const container::LinkSlot& s : searched.linkSlots)
      if (s.tableId == table && (index == 0 || s.index == index) && s.index != 0) return &s;
    return static_cast<const container::LinkSlot*>(nullptr);
  };
  const bool own = source.table == 0 || source.table == searched.id() ||
                   (container::isLinkedTable(searched) && source.table == searched.linkSlots[0].tableId);
  if (!own) {
    slot = findSlot(source.table, source.index);
    for (size_t i = source.chain.size(); !slot && i-- > 0;) slot = findSlot(source.chain[i].first, source.chain[i].second);
    if (!slot || slot->currentId == 0) return false;
    const AttrItem* item = container::findItem(slot->list, container::kGroupFields, source.field);
    if (!item || item->length == 0) return false;
    value->assign(item->bytes, item->bytes + item->length);
    *type = item->type;
    return true;
  }
  // The record's own field, as a caller reads it (a linked table's from its slot).
  const int32_t length = FileExGetFld(record, FILEEX_FIELD_KEY(container::kGroupFields, source.field), nullptr, 0, type);
  if (length <= 0) return false;
  value->resize(static_cast<size_t>(length));
  return FileExGetFld(record, FILEEX_FIELD_KEY(container::kGroupFields, source.field), value->data(), length, type) == length;
}

}  // namespace

ZEMTA_API FileExHandle CsrCreate(FileExDiskHandle disk, const char* name, int32_t nameLength, FileExDiskHandle sourceDisk,
                                 int32_t columnCount, const void* columns, const void* links, const void* columnLinks,
                                 const uint16_t* numbers, FileExHandle search, uint32_t extraA, uint32_t extraB) {
  Disk* target = container::findDisk(disk);
  if (!target || !container::findDisk(sourceDisk)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return nullptr;
  }
  if (!columns || !links || columnCount < 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return nullptr;
  }
  Entry* set = nullptr;
  if (search) {
    Target found;
    if (!container::resolveHandle(search, &found)) return nullptr;
    set = found.entry;
    if ((extraA == 0) != (extraB == 0) || !set || !(set->typeFlags() & container::kTypeIdSet) ||
        !container::isLiveEntry(set->table)) {
      ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
      return nullptr;
    }
  } else if (extraA != 0 || extraB != 0) {
    ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
    return nullptr;
  }
  std::string path;
  if (name && nameLength != 0) {
    path = nameLength < 0 ? std::string(name) : std::string(name, static_cast<size_t>(nameLength));
  } else {
    char temporary[24];
    std::snprintf(temporary, sizeof temporary, "\\%016llX",
                  static_cast<unsigned long long>(zemta::container::get_u64le(target->header + container::kFieldId) + 1));
    path = temporary;
  }
  auto* table = static_cast<Entry*>(
      FileExCreate(disk, path.c_str(), -1, nullptr, FILEEX_KIND_TABLE, 0, 0, nullptr));
  if (!table) return nullptr;
  const auto* columnBytes = static_cast<const uint8_t*>(columns);
  const auto* linkBytes = static_cast<const uint8_t*>(links);
  const auto* columnLinkBytes = static_cast<const uint8_t*>(columnLinks);
  int32_t result = 0;
  std::vector<uint16_t> order;
  std::vector<RowSource> sources;
  for (int32_t i = 0; i < columnCount && result == 0; ++i) {
    const uint8_t* column = columnBytes + static_cast<size_t>(i) * kColumnSize;
    const uint8_t* link = linkBytes + static_cast<size_t>(i) * kLinkSize;
    const uint8_t* columnLink = columnLinkBytes;
    uint16_t columnLinkLength = 2;
    if (columnLinkBytes) {
      columnLinkLength = get_u16le(columnLink);
      columnLinkBytes += std::max<uint16_t>(columnLinkLength, 2);
    }
    if (search && columnLinkLength > 2 && (get_u16le(columnLink + 2) & 1)) continue;
    const uint16_t number = numbers ? numbers[i] : static_cast<uint16_t>(i + 1);
    order.push_back(number);
    uint32_t key = container::kGroupColumns | (static_cast<uint32_t>(number) << 16);
    uint8_t def[kColumnSize];
    std::memcpy(def, column, kColumnSize);
    std::memset(def + 130, 0, 128);
    if (FileExSetFld(table, &key, def, kColumnSize, container::kValueColumnDef) != 0) result = -1;
    if (result == 0 && !search && get_u16le(link + 4) != 0) {
      key = container::kGroupLinks | (static_cast<uint32_t>(number) << 16);
      if (FileExSetFld(table, &key, link, kLinkSize, container::kValueColumnLink) != 0) result = -1;
    }
    if (result == 0 && !search && columnLinkBytes) {
      if (columnLinkLength < 2 || (columnLinkLength > 2 && columnLinkLength != get_u16le(columnLink + 6) * kLinkSize + 8)) {
        ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
        result = -1;
      }
    }
    // A row takes the source's field named by the link, or the same column.
    RowSource source;
    source.column = number;
    source.field = get_u16le(link + 4) != 0 ? get_u16le(link + 4) : number;
    source.index = get_u16le(link + 6);
    source.table = zemta::container::get_u64le(link + 8);
    if (columnLink && columnLinkLength > 2)
      for (uint16_t l = 0; l < get_u16le(columnLink + 6); ++l) {
        const uint8_t* chained = columnLink + 8 + kLinkSize * l;
        source.chain.emplace_back(zemta::container::get_u64le(chained + 8), get_u16le(chained + 6));
      }
    sources.push_back(std::move(source));
  }
  if (result == 0) {
    std::vector<uint8_t> bytes(order.size() * 2);
    for (size_t i = 0; i < order.size(); ++i) put_u16le(&bytes[2 * i], order[i]);
    uint32_t key = container::kGroupColumnOrder | (1u << 16);
    if (!order.empty() && FileExSetFld(table, &key, bytes.data(), static_cast<int32_t>(bytes.size()),
                                       container::kValueColumnOrder) != 0)
      result = -1;
  }
  if (result == 0 && FileExFldWrite(table, nullptr, 1) != 0) result = -1;
  if (result == 0 && set) {
    uint64_t position = 0;
    for (;;) {
      FileExHandle record = FileExFetchNext(set->table, set, &position);
      if (!record) break;
      FileExHandle row = FileExRecInsert(table, 0xFFFFFFFFu, 0xFFFFFFFFu, nullptr, 0, nullptr);
      if (!row) {
        result = -1;
        FileExRelease(record, nullptr);
        break;
      }
      for (const RowSource& source : sources) {
        std::vector<uint8_t> copy;
        uint16_t type = 0;
        if (!rowValue(*set->table, static_cast<Entry*>(record), source, &copy, &type)) continue;
        uint32_t key = container::kGroupFields | (static_cast<uint32_t>(source.column) << 16);
        if (FileExSetFld(row, &key, copy.data(), static_cast<int32_t>(copy.size()), type) != 0) result = -1;
      }
      if (result == 0 && FileExFldWrite(row, table, 1) != 0) result = -1;
      FileExRelease(row, nullptr);
      FileExRelease(record, nullptr);
      if (result != 0) break;
    }
  }
  if (result != 0) {
    CsrDelete(table);
    return nullptr;
  }
  return table;
}

ZEMTA_API int32_t CsrSetIndex(FileExHandle handle, int32_t count, const void* indexes, const uint16_t* numbers) {
  Target target;
  if (!container::resolveHandle(handle, &target)) return -1;
  if (!container::isTable(target.entry)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return -1;
  }
  if (count <= 0 || !indexes) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const auto* at = static_cast<const uint8_t*>(indexes);
  for (int32_t i = 0; i < count; ++i) {
    // A record of length 2 is skipped; a definition steps by its key columns.
    const bool skip = get_u16le(at) == 2;
    const size_t length = skip ? 2 : kIndexHead + 2u * get_u16le(at + 2);
    if (!skip) {
      std::vector<uint8_t> def(at, at + length);
      std::memset(def.data() + 264, 0, 12);
      put_u16le(def.data(), 0);
      uint32_t key = container::kGroupIndexes | (static_cast<uint32_t>(numbers ? numbers[i] : i + 1) << 16);
      if (FileExSetFld(handle, &key, def.data(), static_cast<int32_t>(def.size()), container::kValueIndexDef) != 0) return -1;
    }
    at += length;
  }
  int32_t result = FileExFldWrite(handle, nullptr, 1);
  if (FileExClose(handle) != 0) result = -1;
  return result;
}

ZEMTA_API FileExHandle CsrCopyCreate(FileExDiskHandle disk, const char* name, int32_t nameLength, FileExDiskHandle sourceDisk,
                                     const char* sourcePath, int32_t sourceLength, FileExHandle search) {
  if (!container::findDisk(disk) || !container::findDisk(sourceDisk)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return nullptr;
  }
  Target found;
  if (!search || !container::resolveHandle(search, &found) || !found.entry ||
      !(found.entry->typeFlags() & container::kTypeIdSet)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return nullptr;
  }
  Entry* set = found.entry;
  Entry* opened = nullptr;
  bool borrowed = false;
  if (sourcePath && (sourceLength != 0)) {
    if (set->table) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return nullptr;
    }
    opened = openTable(sourceDisk, sourcePath, sourceLength, &borrowed);
    if (!opened) return nullptr;
    set->table = opened;
  } else if (sourcePath || sourceLength != 0 || !container::isLiveEntry(set->table)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return nullptr;
  }
  Entry* source = set->table;
  uint8_t* columns = nullptr;
  uint8_t* links = nullptr;
  uint16_t* order = nullptr;
  FileExHandle made = nullptr;
  const int32_t count = FileExGetTblStruct(source, &columns, &links, nullptr, &order);
  if (count > 0) {
    made = CsrCreate(disk, name, nameLength, sourceDisk, count, columns, links, nullptr, order, set, 1, 1);
    uint8_t* defs = nullptr;
    uint16_t* numbers = nullptr;
    const int32_t indexes = made ? FileExGetTblIdxStruct(source, &defs, &numbers) : 0;
    if (made && indexes > 0 && CsrSetIndex(made, indexes, defs, numbers) != 0) {
      CsrDelete(made);
      made = nullptr;
    }
    FileExFreeTblStruct(reinterpret_cast<void**>(&defs));
    FileExFreeTblStruct(reinterpret_cast<void**>(&numbers));
  } else if (count == 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
  }
  FileExFreeTblStruct(reinterpret_cast<void**>(&columns));
  FileExFreeTblStruct(reinterpret_cast<void**>(&links));
  if (order) FileExFreeOdr(source, &order);
  if (opened) {
    set->table = nullptr;
    closeTable(opened, borrowed);
  }
  return made;
}

ZEMTA_API int32_t CsrDelete(FileExHandle handle) {
  Target target;
  if (!container::resolveHandle(handle, &target)) return -1;
  if (!target.entry) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return -1;
  }
  std::vector<char> path(1024);
  const int32_t length = FileExGetPath(handle, static_cast<int32_t>(path.size()), path.data());
  int32_t result = FileExRelease(handle, nullptr);
  if (length < 0 || static_cast<size_t>(length) >= path.size()) return -1;
  if (FileExRemove(target.disk, path.data(), -1) != 0) result = -1;
  return result;
}
