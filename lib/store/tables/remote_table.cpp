// Record stores of the remote file service behind the table interface:
// column descriptors, the value forms of record fields, and the remote form
// of the record operations and key look-ups.
//
// Value forms (record field -> service value):
//   text          the bytes up to the last non-zero one, then one zero byte
//   bit field     the field word's value in ceil(bit count / 8) bytes
//   time (12)     hour << 11 | minute << 5 | s  ->  hour << 27 | minute << 21 | s << 15 | 1
//   date (13)     (year - 1980) << 9 | month << 5 | day  ->  year << 9 | month << 5 | day
//   date and time (14)  the date word, time word or both as 64-bit local seconds
//   other         the field's bytes
// Values coming back are placed by their column; their lengths are those
// that arrived, and a field never takes more than its size.
#include "lib/store/tables/remote_table.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "lib/core/item_types.h"
#include "lib/core/little_endian.h"
#include "lib/core/report.h"
#include "lib/store/tables/file_access.h"
#include "lib/store/tables/filedb_internal.h"
#include "platform/base/clock.h"
#include "platform/base/last_error.h"

namespace zemta::filedb {

namespace {

constexpr size_t kColumnNameOffset = 2;
constexpr size_t kColumnNameSize = 128;
constexpr size_t kColumnSizeOffset = 258;
constexpr size_t kColumnTypeOffset = 260;
constexpr size_t kColumnDefinitionMin = 262;
constexpr size_t kBindNameLength = 16;
constexpr uint32_t kAllOnes = 0xFFFFFFFFu;

uint16_t u16At(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void putLe(std::vector<uint8_t>& out, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint64_t getLe(const uint8_t* p, size_t bytes) {
  uint64_t value = 0;
  for (size_t i = 0; i < bytes && i < 8; ++i) value |= static_cast<uint64_t>(p[i]) << (8 * i);
  return value;
}

// A failed exchange: the service's error is the last error.
int32_t failExchange() {
  uint32_t code = platform::lastError();
  ZEMTA_REPORT(code != 0 ? code : static_cast<uint32_t>(ZEMTA_ERR_FILE_ACCESS));
  return -1;
}

// Frees a value block of the service.
struct ItemsBlock {
  SockIfsCidItem* items = nullptr;
  ~ItemsBlock() { std::free(items); }
};

// The date and time words of a field under a date-and-time column.
void wordsOfField(const RemoteColumn& c, const uint8_t* field, uint16_t* date, uint16_t* time) {
  *date = 0;
  *time = 0;
  if (c.itemType == kItemTimeWord) {
    if (c.size >= 2) *time = u16At(field);
  } else {
    if (c.size >= 2) *date = u16At(field);
    if (c.itemType == kItemDateTimeWords && c.size >= 4) *time = u16At(field + 2);
  }
}

bool isTimeKind(uint16_t kind) { return kind == kColumnTime || kind == kColumnDate || kind == kColumnDateTime; }

// The service form of a time, date or date-and-time number read from a key.
void putTimeValue(const RemoteColumn& c, uint32_t dateWord, uint32_t timeWord, std::vector<uint8_t>& out) {
  switch (c.kind()) {
    case kColumnTime: putLe(out, timeToService(static_cast<uint16_t>(timeWord)), 4); break;
    case kColumnDate: putLe(out, dateToService(static_cast<uint16_t>(dateWord)), 4); break;
    default:
      putLe(out, static_cast<uint64_t>(secondsOfWords(c.itemType, static_cast<uint16_t>(dateWord),
                                                      static_cast<uint16_t>(timeWord))),
            8);
  }
}

}  // namespace

uint32_t timeToService(uint16_t w) {
  const uint32_t hour = w >> 11, minute = (w >> 5) & 0x3F, seconds = w & 0x1F;
  return hour << 27 | minute << 21 | seconds << 15 | 1;
}

uint16_t timeFromService(uint32_t v) {
  return static_cast<uint16_t>((v >> 27) << 11 | ((v >> 21) & 0x3F) << 5 | ((v >> 15) & 0x1F));
}

uint32_t dateToService(uint16_t w) {
  const uint32_t year = (w >> 9) + 1980u, month = (w >> 5) & 0x0F, day = w & 0x1F;
  return year << 9 | month << 5 | day;
}

uint16_t dateFromService(uint32_t v) {
  if (v == 0) return 0;
  const uint32_t year = ((v >> 9) - 1980u) % 128u;
  return static_cast<uint16_t>(year << 9 | (v & 0x1FF));
}

int64_t secondsOfWords(uint16_t itemType, uint16_t dateWord, uint16_t timeWord) {
  platform::LocalTime t;
  if (itemType == kItemTimeWord) {
    // Day 0 of January 1980: local-time normalisation makes it 31 December 1979.
    t.year = 1980;
    t.month = 1;
    t.day = 0;
  } else {
    t.year = (dateWord >> 9) + 1980;
    t.month = (dateWord >> 5) & 0x0F;
    t.day = dateWord & 0x1F;
    if (t.month == 0 || t.day == 0) {
      t.month = 1;
      t.day = 1;
      t.year = 1980;
    }
  }
  if (itemType != kItemDateWord) {
    t.hour = timeWord >> 11;
    t.minute = (timeWord >> 5) & 0x3F;
    t.second = timeWord & 0x1F;
  }
  return platform::unixSecondsOf(t);
}

void wordsOfSeconds(int64_t seconds, uint16_t* dateWord, uint16_t* timeWord) {
  const platform::LocalTime t = platform::localTimeOf(seconds);
  uint16_t date = static_cast<uint16_t>(((t.year - 1980) & 0x7F) << 9 | (t.month & 0x0F) << 5 | (t.day & 0x1F));
  if (t.year == 1980 && t.month == 1 && t.day == 1) date = 0;
  *dateWord = date;
  *timeWord = static_cast<uint16_t>((t.hour & 0x1F) << 11 | (t.minute & 0x3F) << 5 | (t.second & 0x1F));
}

std::vector<RemoteColumn> columnsFromItems(const SockIfsCidItem* items, int32_t count) {
  std::vector<RemoteColumn> columns;
  for (int32_t i = 0; items && i < count; ++i) {
    const SockIfsCidItem& item = items[i];
    RemoteColumn c;
    c.id = item.column;
    if (item.data && item.length >= kColumnDefinitionMin) {
      describeColumn(c, item.data, item.length);
    } else {
      // The name alone: the definition is asked for on its own.
      const char* name = reinterpret_cast<const char*>(item.data);
      if (name) c.name.assign(name, strnlen(name, item.length));
    }
    columns.push_back(std::move(c));
  }
  return columns;
}

bool describeColumn(RemoteColumn& c, const uint8_t* definition, size_t length) {
  if (!definition || length < kColumnDefinitionMin) return false;
  c.type = u16At(definition + kColumnTypeOffset);
  c.size = u16At(definition + kColumnSizeOffset);
  const char* name = reinterpret_cast<const char*>(definition + kColumnNameOffset);
  c.name.assign(name, strnlen(name, std::min(kColumnNameSize, length - kColumnNameOffset)));
  c.described = true;
  return true;
}

std::vector<uint8_t> valueOfField(const RemoteColumn& c, const uint8_t* record) {
  const uint8_t* field = record + c.offset;
  std::vector<uint8_t> out;
  if (c.kind() == kColumnText) {
    size_t end = c.size;
    while (end > 0 && field[end - 1] == 0) --end;
    out.assign(field, field + end);
    out.push_back(0);
  } else if (c.bitCount != 0) {
    const uint32_t value = GetBitData(c.size, field, c.fieldWord(), false);
    putLe(out, value, (c.bitCount + 7u) / 8u);
  } else if (c.kind() == kColumnTime && c.size >= 2) {
    putLe(out, timeToService(u16At(field)), 4);
  } else if (c.kind() == kColumnDate && c.size >= 2) {
    putLe(out, dateToService(u16At(field)), 4);
  } else if (c.kind() == kColumnDateTime) {
    uint16_t date, time;
    wordsOfField(c, field, &date, &time);
    putLe(out, static_cast<uint64_t>(secondsOfWords(c.itemType, date, time)), 8);
  } else {
    out.assign(field, field + c.size);
  }
  return out;
}

void placeValue(const RemoteColumn& c, const uint8_t* value, size_t length, uint8_t* record) {
  uint8_t* field = record + c.offset;
  if (!value) length = 0;
  if (c.kind() == kColumnText) {
    std::memcpy(field, value, std::min<size_t>(length, c.size));
  } else if (c.bitCount != 0) {
    const uint32_t number = static_cast<uint32_t>(getLe(value, std::min<size_t>(length, 4)));
    SetBitData(c.fieldWord(), c.size, field, number);
  } else if (c.kind() == kColumnTime && c.size >= 2) {
    const uint16_t w = timeFromService(static_cast<uint32_t>(getLe(value, std::min<size_t>(length, 4))));
    field[0] = static_cast<uint8_t>(w);
    field[1] = static_cast<uint8_t>(w >> 8);
  } else if (c.kind() == kColumnDate && c.size >= 2) {
    const uint16_t w = dateFromService(static_cast<uint32_t>(getLe(value, std::min<size_t>(length, 4))));
    field[0] = static_cast<uint8_t>(w);
    field[1] = static_cast<uint8_t>(w >> 8);
  } else if (c.kind() == kColumnDateTime) {
    if (length < 8) return;
    uint16_t date, time;
    wordsOfSeconds(static_cast<int64_t>(getLe(value, 8)), &date, &time);
    auto put = [&](size_t at, uint16_t w) {
      if (at + 2 > c.size) return;
      field[at] = static_cast<uint8_t>(w);
      field[at + 1] = static_cast<uint8_t>(w >> 8);
    };
    if (c.itemType == kItemTimeWord) {
      put(0, time);
    } else {
      put(0, date);
      if (c.itemType == kItemDateTimeWords) put(2, time);
    }
  } else {
    std::memcpy(field, value, std::min<size_t>(length, c.size));
  }
}

const RemoteColumn* columnAt(const Table& t, uint32_t offset, uint8_t bitPosition) {
  for (const RemoteColumn& c : t.remoteColumns)
    if (c.size != 0 && c.offset == offset && c.bitPosition == bitPosition) return &c;
  return nullptr;
}

bool bindRemoteColumn(Table& t, const std::string& fieldName, uint16_t offset, uint16_t size, uint16_t typeCode,
                      uint16_t fieldWord) {
  if (static_cast<uint32_t>(offset) + size > t.recordLen) return false;
  const std::string want = fieldName.substr(0, kBindNameLength);
  for (RemoteColumn& c : t.remoteColumns) {
    if (c.name.substr(0, kBindNameLength) != want) continue;
    c.offset = offset;
    c.size = size;
    c.itemType = typeCode;
    c.bitPosition = static_cast<uint8_t>(fieldWord);
    c.bitCount = static_cast<uint8_t>(fieldWord >> 8);
    c.bound = true;
    return true;
  }
  return false;
}

void keepBoundColumns(Table& t) {
  std::vector<RemoteColumn> kept;
  for (RemoteColumn& c : t.remoteColumns) {
    if (c.bound) kept.push_back(std::move(c));
  }
  t.remoteColumns = std::move(kept);
}

uint32_t remoteHandleOf(const Table& t) { return t.file ? zemta::remoteHandleOf(t.file) : 0; }

bool remoteCreate(Table& t) {
  const uint32_t handle = remoteHandleOf(t);
  ItemsBlock block;
  const int32_t count = SockIfsGetCID(handle, kColumnListKind, &block.items, 1, kAllOnes, kAllOnes);
  if (count < 0) return failExchange() == 0;
  t.remoteColumns = columnsFromItems(block.items, count);
  for (RemoteColumn& c : t.remoteColumns) {
    if (c.described) continue;
    // The column's definition: its type and size (field class 2 of the
    // table itself, item = the column).
    ItemsBlock one;
    const uint32_t key = kColumnListKind | static_cast<uint32_t>(c.id) << 16;
    const int32_t got = SockIfsGetCID(handle, key, &one.items, 0, kAllOnes, kAllOnes);
    if (got < 0) return failExchange() == 0;
    if (got == 0 || !describeColumn(c, one.items->data, one.items->length)) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
      return false;
    }
  }
  uint32_t total = 0;
  if (remoteRecordTotal(t, &total) < 0) return false;
  t.count = total;
  t.storageKind = kRemoteRecordStore;
  return true;
}

int32_t remoteRecordTotal(Table& t, uint32_t* count) {
  const int64_t total = SockIfsRecTotal(remoteHandleOf(t));
  if (total < 0) return failExchange();
  // The table's size stands for total x record length + header length: the
  // count must keep that within 32 bits.
  const uint64_t limit = (0xFFFFFFFFull - t.headerLen) / t.recordLen;
  if (static_cast<uint64_t>(total) > limit || total > 0x7FFFFFFF) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
    return -1;
  }
  *count = static_cast<uint32_t>(total);
  return 0;
}

int32_t remoteRead(Table& t, uint32_t n, uint8_t* buffer) {
  ItemsBlock block;
  const int32_t count = SockIfsRecRead(remoteHandleOf(t), n + 1, 0, &block.items);
  if (count < 0) return failExchange();
  std::memset(buffer, 0, t.recordLen);
  for (int32_t i = 0; i < count; ++i) {
    const SockIfsCidItem& item = block.items[i];
    for (const RemoteColumn& c : t.remoteColumns)
      if (c.id == item.column && c.size != 0) {
        placeValue(c, item.data, item.length, buffer);
        break;
      }
  }
  return 0;
}

int32_t remoteWrite(Table& t, uint32_t p, const uint8_t* data) {
  std::vector<std::vector<uint8_t>> values;
  std::vector<SockIfsCidItem> items;
  for (const RemoteColumn& c : t.remoteColumns) {
    if (c.size == 0) continue;
    values.push_back(valueOfField(c, data));
  }
  size_t v = 0;
  for (const RemoteColumn& c : t.remoteColumns) {
    if (c.size == 0) continue;
    std::vector<uint8_t>& bytes = values[v++];
    items.push_back({c.id, c.type, static_cast<uint16_t>(bytes.size()), bytes.empty() ? nullptr : bytes.data()});
  }
  if (items.empty()) {
    // No field reaches a column of the store: the record would be lost.
    ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
    return -1;
  }
  if (SockIfsRecWrite(remoteHandleOf(t), p + 1, 0, static_cast<int32_t>(items.size()), items.data()) < 0)
    return failExchange();
  return 0;
}

int32_t remoteDelete(Table& t, uint32_t first, uint32_t last) {
  if (SockIfsRecDelete(remoteHandleOf(t), first + 1, 0, last + 1, 0) < 0) return failExchange();
  return 0;
}

bool convertKey(const Table& t, const IndexEntry& e, const uint8_t* from, const uint8_t* to, RemoteKey& out) {
  out = RemoteKey{};
  if (!e.composite()) {
    const RemoteColumn* c = columnAt(t, static_cast<uint16_t>(e.keyDesc), static_cast<uint8_t>(e.fieldWord));
    if (!c) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return false;
    }
    out.columns.push_back(c->id);
    auto convert = [&](const uint8_t* key, std::vector<uint8_t>& into) {
      if (!key) return;
      if (!isTimeKind(c->kind()) || c->bitCount != 0) {
        into.assign(key, key + e.keyLen);
        return;
      }
      // The key holds the field's bytes: convert them as the field's value.
      std::vector<uint8_t> record(t.recordLen, 0);
      std::memcpy(record.data() + c->offset, key, std::min<size_t>(e.keyLen, c->size));
      into = valueOfField(*c, record.data());
    };
    convert(from, out.from);
    convert(to, out.to);
    return true;
  }
  bool timeParts = false;
  std::vector<const RemoteColumn*> partColumns;
  for (int i = 0; i < e.partCount(); ++i) {
    const FileIndexKeyPart& part = e.parts[i];
    const RemoteColumn* c = nullptr;
    for (const RemoteColumn& rc : t.remoteColumns)
      if (rc.size != 0 && rc.offset == part.offset) {
        c = &rc;
        break;
      }
    if (!c) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return false;
    }
    partColumns.push_back(c);
    out.columns.push_back(c->id);
    if (isTimeKind(c->kind())) timeParts = true;
  }
  auto convert = [&](const uint8_t* key, std::vector<uint8_t>& into) {
    if (!key) return;
    if (!timeParts) {
      into.assign(key, key + e.keyLen);
      return;
    }
    size_t at = 0;
    for (int i = 0; i < e.partCount(); ++i) {
      const FileIndexKeyPart& part = e.parts[i];
      const RemoteColumn& c = *partColumns[i];
      if (part.type < 2) {
        into.insert(into.end(), key + at, key + at + part.length);
        at += part.length;
        continue;
      }
      const size_t digits = 2u * part.length;
      const std::string hex(reinterpret_cast<const char*>(key + at), digits);
      at += digits;
      const uint32_t number = static_cast<uint32_t>(std::strtoul(hex.c_str(), nullptr, 16));
      if (isTimeKind(c.kind())) {
        uint16_t date = 0, time = 0;
        if (c.kind() == kColumnTime || c.itemType == kItemTimeWord) {
          time = static_cast<uint16_t>(number);
        } else if (c.itemType == kItemDateTimeWords) {
          date = static_cast<uint16_t>(number);
          time = static_cast<uint16_t>(number >> 16);
        } else {
          date = static_cast<uint16_t>(number);
        }
        putTimeValue(c, date, time, into);
      } else {
        for (size_t b = part.length; b-- > 0;) into.push_back(static_cast<uint8_t>(b < 4 ? number >> (8 * b) : 0));
      }
    }
  };
  convert(from, out.from);
  convert(to, out.to);
  return true;
}

uint32_t searchKind(const IndexEntry& e, const uint8_t* from, const uint8_t* to, uint32_t keyLen, uint32_t step) {
  uint32_t kind = 0;
  const bool alpha = e.compare == compareAlphaNumeric;
  const bool keyword = e.compare == compareKeyword;
  if ((alpha || keyword) && from && to) {
    const size_t fromEnd = std::find(from, from + keyLen, 0) - from;
    size_t toEnd = std::find(to, to + keyLen, 0xFF) - to;
    if (toEnd == keyLen) toEnd = std::find(to, to + keyLen, 0) - to;
    if (fromEnd == toEnd && std::memcmp(from, to, fromEnd) == 0) kind = keyword ? 48 : 16;
  }
  return kind + step;
}

int32_t remoteIdxEqu(Table& t, const IndexEntry& e, const void* key, int32_t* recordNumber) {
  RemoteKey k;
  if (!convertKey(t, e, static_cast<const uint8_t*>(key), nullptr, k)) return -1;
  SockIfsEntry first{};
  const int32_t found = SockIfsIdxEqu(remoteHandleOf(t), static_cast<int32_t>(k.columns.size()), k.columns.data(),
                                      k.from.data(), static_cast<int32_t>(k.from.size()), nullptr, &first);
  if (found < 0) return failExchange();
  if (found > 0) *recordNumber = first.low == 0 ? -1 : static_cast<int32_t>(first.low - 1);
  return found;
}

}  // namespace zemta::filedb
