// Index searches and record lists: ranges of an index turned into lists of
// record numbers, lists narrowed, widened, joined, combined and ordered, and
// the search keys made from what a user typed.
//
// Index entries carry the record's file offset; a record number is
// (offset - header length) / record length. Set operations work over one bit
// per record number, sized max(list capacity, record count).
#include <algorithm>
#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "lib/core/item_types.h"
#include "lib/core/library_locks.h"
#include "lib/core/report.h"
#include "lib/store/tables/file_access.h"
#include "lib/store/tables/filedb_internal.h"
#include "zemta/date.h"
#include "zemta/filesearch.h"

namespace zemta::filedb {
namespace {

constexpr int32_t kGrowStep = 0x4000;

using Visit = std::function<bool(uint32_t recordNumber)>;  // false: stop

struct Bits {
  std::vector<uint32_t> words;
  size_t size = 0;
  explicit Bits(size_t n) : words((n + 31) / 32, 0), size(((n + 31) / 32) * 32) {}
  bool has(uint32_t n) const { return n < size && (words[n >> 5] >> (n & 31)) & 1; }
  void set(uint32_t n) { words[n >> 5] |= 1u << (n & 31); }
  void clear(uint32_t n) { words[n >> 5] &= ~(1u << (n & 31)); }
};

// The index an argument names: a number, or with the pointer flag the
// entry itself. Null with record order set for 9999; null and false on error.
bool resolveIndex(Table& t, intptr_t index, bool pointer, IndexEntry*& entry, bool& recordOrder) {
  entry = nullptr;
  recordOrder = false;
  if (pointer) {
    auto* e = reinterpret_cast<IndexEntry*>(index);
    for (auto& own : t.indexes)
      if (&own == e && (own.handle >= 0 || t.remote()) && own.own()) {
        entry = e;
        return true;
      }
    if ((entry = findTempIndex(t, e))) return true;
    ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
    return false;
  }
  if (index == FILEIDX_RECORD_ORDER) {
    recordOrder = true;
    return true;
  }
  // A borrowed entry holds the record offsets of another table: never
  // searched as if they were this table's.
  if (index < 0 || static_cast<size_t>(index) >= t.indexes.size() ||
      (t.indexes[index].handle < 0 && !t.remote()) || !t.indexes[index].own()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
    return false;
  }
  entry = &t.indexes[index];
  return true;
}

bool recordCount(Table& t, uint32_t& count) {
  if (!openTable(t, FILEDB_MODE_READ)) return false;
  bool ok = fileRecordCount(t, count);
  if (!closeTable(t)) ok = false;
  return ok;
}

uint32_t recordOf(const Table& t, uint32_t offset) {
  return (offset - t.headerLen) / t.recordLen;
}

// Holds an index tree open for one operation (nothing when already held).
struct TreeOpen {
  int32_t handle;
  bool ok;
  explicit TreeOpen(int32_t h) : handle(h), ok(BtreeOpen(h, BTREE_MODE_READ) == 0) {}
  ~TreeOpen() {
    if (ok) BtreeClose(handle);
  }
};

void extremeKey(const IndexEntry& e, bool highest, std::vector<uint8_t>& key) {
  key.assign(e.keyLen, highest ? 0xFF : 0x00);
  if (e.compare == compareSigned && e.keyLen > 0) {
    key[e.keyLen - 1] = highest ? 0x7F : 0x80;
  } else if (e.compare == compareFloat && (e.keyLen == 4 || e.keyLen == 8)) {
    if (e.keyLen == 4) {
      float f = highest ? FLT_MAX : -FLT_MAX;
      std::memcpy(key.data(), &f, 4);
    } else {
      double d = highest ? DBL_MAX : -DBL_MAX;
      std::memcpy(key.data(), &d, 8);
    }
  }
}

// Walks every entry of the index, lowest key first (or highest first).
// 0 done, 1 stopped by the visitor, -1 failure.
int32_t walkIndex(Table& t, IndexEntry& e, bool down, const std::function<bool(uint32_t, const uint8_t*)>& visit) {
  TreeOpen open(e.handle);
  if (!open.ok) return -1;
  std::vector<uint8_t> start, key(e.keyLen);
  extremeKey(e, down, start);
  uint32_t position = 0;
  int32_t found = down ? BtreeLEqu(e.handle, &position, start.data()) : BtreeGEqu(e.handle, &position, start.data());
  if (found < 0) return -1;
  if (found == 0) {
    // Nothing at or beyond the extreme: only when the tree is empty.
    found = down ? BtreePrev(e.handle, &position, key.data()) : BtreeNext(e.handle, &position, key.data());
    if (found <= 0) return found < 0 ? -1 : 0;
  } else if (BtreeGetCurKey(e.handle, position, key.data()) < 0) {
    return -1;
  }
  while (true) {
    if (!visit(recordOf(t, position), key.data())) return 1;
    int32_t step = down ? BtreePrev(e.handle, &position, key.data()) : BtreeNext(e.handle, &position, key.data());
    if (step < 0) return -1;
    if (step == 0) return 0;
  }
}

// Scans the range from..to of the index (or of record numbers) in scan order.
int32_t scanRange(Table& t, IndexEntry* e, const void* from, const void* to, uint32_t flags, uint32_t count,
                  const Visit& visit) {
  const bool fromExcluded = (flags & 0xF) == 1;
  const bool toExcluded = (flags & 0xF) == 2;
  if (!e) {
    int64_t a, b;
    {
      int32_t fa, fb;
      std::memcpy(&fa, from, 4);
      std::memcpy(&fb, to, 4);
      a = fa;
      b = fb;
    }
    if (fromExcluded) a += a <= b ? 1 : -1;
    if (toExcluded) b += a <= b ? -1 : 1;
    // Numbers outside the table are skipped: clip the walk to 0 .. count - 1.
    const int64_t top = static_cast<int64_t>(count) - 1;
    if (a <= b) {
      for (int64_t n = std::max<int64_t>(a, 0); n <= std::min(b, top); ++n)
        if (!visit(static_cast<uint32_t>(n))) return 1;
    } else {
      for (int64_t n = std::min(a, top); n >= std::max<int64_t>(b, 0); --n)
        if (!visit(static_cast<uint32_t>(n))) return 1;
    }
    return 0;
  }
  TreeOpen open(e->handle);
  if (!open.ok) return -1;
  const bool up = e->compare(from, to, e->keyLen) <= 0;
  std::vector<uint8_t> key(e->keyLen);
  uint32_t position = 0;
  int32_t found;
  if (up)
    found = fromExcluded ? BtreeGrtr(e->handle, &position, from) : BtreeGEqu(e->handle, &position, from);
  else
    found = fromExcluded ? BtreeLess(e->handle, &position, from) : BtreeLEqu(e->handle, &position, from);
  if (found <= 0) return found < 0 ? -1 : 0;
  if (BtreeGetCurKey(e->handle, position, key.data()) < 0) return -1;
  while (true) {
    int32_t c = e->compare(key.data(), to, e->keyLen);
    if (up ? (c > 0 || (c == 0 && toExcluded)) : (c < 0 || (c == 0 && toExcluded))) return 0;
    if (!visit(recordOf(t, position))) return 1;
    int32_t step = up ? BtreeNext(e->handle, &position, key.data()) : BtreePrev(e->handle, &position, key.data());
    if (step < 0) return -1;
    if (step == 0) return 0;
  }
}

// Appends to a list, growing it by 16384 up to limit when it may grow.
// 1 appended, 0 full, -1 no memory (reported).
int32_t append(FileRecList& list, uint32_t n, bool grow, uint32_t limit) {
  if (list.count >= list.capacity) {
    if (!grow || static_cast<uint32_t>(list.capacity) >= limit) return 0;
    int64_t capacity = std::min<int64_t>(static_cast<int64_t>(list.capacity) + kGrowStep, limit);
    auto* items = static_cast<uint32_t*>(std::realloc(list.items, static_cast<size_t>(capacity) * 4));
    if (!items) {
      ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
      return -1;
    }
    list.items = items;
    list.capacity = static_cast<int32_t>(capacity);
  }
  list.items[list.count++] = n;
  return 1;
}

// A list array made by a search for a caller's list without one.
bool allocateFor(FileRecList& list, uint32_t count) {
  int32_t capacity = static_cast<int32_t>(std::min<uint32_t>(count, kGrowStep));
  list.items = static_cast<uint32_t*>(std::malloc(static_cast<size_t>(std::max(capacity, 1)) * 4));
  if (!list.items) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return false;
  }
  list.capacity = capacity;
  list.count = 0;
  return true;
}

void dropArray(FileRecList& list) {
  std::free(list.items);
  list.items = nullptr;
  list.count = 0;
}

struct SearchArgs {
  Table* t = nullptr;
  IndexEntry* e = nullptr;
};

// The checks every search starts with; false after a report.
bool startSearch(FileDBHandle handle, intptr_t index, const void* from, const void* to, const FileRecList* list,
                 uint32_t flags, SearchArgs& args) {
  args.t = checkedTable(handle);
  if (!args.t) return false;
  if (!from || !to || !list) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return false;
  }
  bool recordOrder;
  return resolveIndex(*args.t, index, (flags & FILEIDX_INDEX_POINTER) != 0, args.e, recordOrder);
}

// Steps a key by one unit: text types their last byte, numbers by size (a
// 4-byte value as a whole, so that >65535 starts at 65536).
void stepKey(uint32_t type, int32_t size, uint8_t* key, int direction) {
  if (size <= 0) return;
  if (type == 0 || type == 1) {
    key[size - 1] = static_cast<uint8_t>(key[size - 1] + direction);
    return;
  }
  switch (size) {
    case 1:
      key[0] = static_cast<uint8_t>(key[0] + direction);
      break;
    case 2: {
      uint16_t v = static_cast<uint16_t>(key[0] | (key[1] << 8));
      v = static_cast<uint16_t>(v + direction);
      key[0] = static_cast<uint8_t>(v);
      key[1] = static_cast<uint8_t>(v >> 8);
      break;
    }
    case 4: {
      uint32_t v = 0;
      for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(key[i]) << (8 * i);
      v += static_cast<uint32_t>(direction);
      for (int i = 0; i < 4; ++i) key[i] = static_cast<uint8_t>(v >> (8 * i));
      break;
    }
    case 8: {
      double d;
      std::memcpy(&d, key, 8);
      d += direction;
      std::memcpy(key, &d, 8);
      break;
    }
    default:
      break;
  }
}

// Full years of the era letters the typed-data conversions know.
int32_t eraBase(char letter) {
  switch (letter & ~0x20) {
    case 'S': return 1925;
    case 'H': return 1988;
    case 'R': return 2018;
  }
  return -1;
}

// Expands a typed date into what the conversion reads.
std::string expandDate(const std::string& text, bool toEnd) {
  if (text.empty()) return text;
  long a = 0, b = 0, c = 0;
  if (text[0] >= '0' && text[0] <= '9') {
    int n = std::sscanf(text.c_str(), "%ld/%ld/%ld", &a, &b, &c);
    if (n == 3 || n <= 0) return text;
    uint16_t today = 0;
    GetDate(&today, nullptr);
    long year = ((today >> 9) + 1980) % 100, month = (today >> 5) & 15;
    char out[40];
    if (n == 1)
      std::snprintf(out, sizeof out, "%02ld/%2d/%2d", year, static_cast<int>(month), static_cast<int>(a));
    else
      std::snprintf(out, sizeof out, "%02ld/%2d/%2d", year, static_cast<int>(a), static_cast<int>(b));
    return out;
  }
  if (text[0] == '/') return text;
  char letter = 0;
  int n = std::sscanf(text.c_str(), "%c%ld/%ld/%ld", &letter, &a, &b, &c);
  if (n != 2 && n != 3) return text;
  char out[40];
  if (!toEnd) {
    if (n == 2)
      std::snprintf(out, sizeof out, "%c%02ld/01/01", letter, a);
    else
      std::snprintf(out, sizeof out, "%c%02ld/%2d/01", letter, a, static_cast<int>(b));
    return out;
  }
  int32_t base = eraBase(letter);
  if (base < 0) return text;
  if (n == 2) {
    std::snprintf(out, sizeof out, "%c%02ld/12/31", letter, a);
  } else {
    int32_t last = (b >= 1 && b <= 12) ? LastDayOfMonth(base + static_cast<int32_t>(a), static_cast<int32_t>(b)) : 31;
    std::snprintf(out, sizeof out, "%c%02ld/%2d/%2d", letter, a, static_cast<int>(b), static_cast<int>(last));
  }
  return out;
}

int32_t convertKey(uint32_t type, int32_t size, uint8_t* key, const std::string& text, bool toEnd) {
  std::memset(key, 0, static_cast<size_t>(size));
  std::string input = type == 14 ? expandDate(text, toEnd) : text;
  int32_t result = ItemStrToData(static_cast<uint16_t>(type), 0, size, key, input.c_str());
  if (type == 0 || type == 1) {
    size_t end = 0;
    while (end < static_cast<size_t>(size) && key[end] != 0) ++end;
    std::memset(key + end, toEnd ? 0xFF : 0x00, static_cast<size_t>(size) - end);
  }
  return result;
}

}  // namespace
}  // namespace zemta::filedb

using namespace zemta;
using namespace zemta::filedb;

ZEMTA_API int32_t FileNewRecList(FileRecList* list, int32_t capacity) {
  if (!list) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  if (capacity < 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  list->capacity = capacity;
  list->count = 0;
  list->remoteId = 0;
  list->items = static_cast<uint32_t*>(std::malloc(static_cast<size_t>(std::max(capacity, 1)) * 4));
  if (!list->items) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }
  return 0;
}

ZEMTA_API int32_t FileDeleteRecList(FileRecList* list) {
  if (!list) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  std::free(list->items);
  list->items = nullptr;
  list->count = 0;
  // The service's own list of a search goes with it.
  if (remoteModeOn()) return dropRemoteList(*list);
  list->remoteId = 0;
  return 0;
}

ZEMTA_API int32_t FileIdxKeyMake(uint32_t type, int32_t size, void* fromKey, void* toKey, const char* text,
                                 const char* toText) {
  if (!fromKey || !toKey || !text) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  if (size <= 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  type &= 0x3F;
  auto* from = static_cast<uint8_t*>(fromKey);
  auto* to = static_cast<uint8_t*>(toKey);
  if (toText) {
    convertKey(type, size, from, text, false);
    return convertKey(type, size, to, toText, true);
  }
  std::string s = text;
  if (!s.empty() && (s[0] == '>' || s[0] == '<')) {
    const bool greater = s[0] == '>';
    const bool inclusive = s.size() > 1 && s[1] == '=';
    std::string value = s.substr(inclusive ? 2 : 1);
    int32_t result;
    if (greater) {
      result = convertKey(type, size, from, value, false);
      std::memset(to, 0xFF, static_cast<size_t>(size));
      if (!inclusive) stepKey(type, size, from, +1);
    } else {
      result = convertKey(type, size, to, value, true);
      std::memset(from, 0x00, static_cast<size_t>(size));
      if (!inclusive) stepKey(type, size, to, -1);
    }
    return result;
  }
  if (type == 14 && !s.empty() && s[0] == '~') {
    int32_t result = convertKey(type, size, to, s.substr(1), true);
    uint16_t date = static_cast<uint16_t>(to[0] | (size > 1 ? to[1] << 8 : 0));
    uint16_t start = GetTomorrow(GetLastMonth(date));
    std::memset(from, 0, static_cast<size_t>(size));
    from[0] = static_cast<uint8_t>(start);
    if (size > 1) from[1] = static_cast<uint8_t>(start >> 8);
    return result;
  }
  if (!s.empty() && s[0] == '=') s = s.substr(1);
  convertKey(type, size, from, s, false);
  return convertKey(type, size, to, s, true);
}

ZEMTA_API int32_t FileIdxSear(FileDBHandle handle, intptr_t index, const void* from, const void* to,
                              FileRecList* list, uint32_t flags, int32_t remoteWord) {
  SearchArgs a;
  if (!startSearch(handle, index, from, to, list, flags, a)) return -1;
  ApiLockGuard lock;
  if (!lock.ok()) return -1;
  Table& t = *a.t;
  if (t.remote() && a.e) return remoteSearch(t, *a.e, from, to, *list, 0, remoteWord);
  uint32_t count = 0;
  if (!recordCount(t, count)) return -1;
  const bool made = list->items == nullptr;
  if (!made && list->capacity <= 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (made) {
    if (count == 0) {
      list->count = 0;
      return 0;
    }
    if (!allocateFor(*list, count)) return -1;
  }
  list->count = 0;
  bool failed = false, overflow = false;
  int32_t result = scanRange(t, a.e, from, to, flags, count, [&](uint32_t n) {
    int32_t added = append(*list, n, made, count);
    if (added < 0) failed = true;
    if (added == 0 && made) overflow = true;
    return added > 0;
  });
  if (overflow) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    failed = true;
  }
  if (result < 0 || failed) {
    if (made) dropArray(*list);
    return -1;
  }
  return result;
}

ZEMTA_API int32_t FileIdxAndSear(FileDBHandle handle, intptr_t index, const void* from, const void* to,
                                 FileRecList* list, uint32_t flags, int32_t remoteWord) {
  SearchArgs a;
  if (!startSearch(handle, index, from, to, list, flags, a)) return -1;
  if (list->count <= 0 || !list->items) return 0;
  ApiLockGuard lock;
  if (!lock.ok()) return -1;
  Table& t = *a.t;
  if (t.remote() && a.e) return remoteSearch(t, *a.e, from, to, *list, 1, remoteWord) < 0 ? -1 : 0;
  uint32_t count = 0;
  if (!recordCount(t, count)) return -1;
  Bits bits(std::max<uint32_t>(static_cast<uint32_t>(std::max(list->capacity, 0)), count));
  bool bad = false;
  int32_t result = scanRange(t, a.e, from, to, flags, count, [&](uint32_t n) {
    if (n >= count) {
      bad = true;
      return false;
    }
    bits.set(n);
    return true;
  });
  if (result < 0) return -1;
  int32_t kept = 0;
  for (int32_t i = 0; i < list->count; ++i) {
    uint32_t n = list->items[i];
    if (n >= bits.size) bad = true;
    if (bits.has(n)) list->items[kept++] = n;
  }
  if (bad) {
    ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
    return -1;
  }
  list->count = kept;
  return 0;
}

ZEMTA_API int32_t FileIdxOrSear(FileDBHandle handle, intptr_t index, const void* from, const void* to,
                                FileRecList* list, uint32_t flags, int32_t remoteWord) {
  SearchArgs a;
  if (!startSearch(handle, index, from, to, list, flags, a)) return -1;
  ApiLockGuard lock;
  if (!lock.ok()) return -1;
  Table& t = *a.t;
  if (t.remote() && a.e) return remoteSearch(t, *a.e, from, to, *list, 2, remoteWord);
  uint32_t count = 0;
  if (!recordCount(t, count)) return -1;
  if (!list->items) {
    if (count == 0) {
      list->count = 0;
      return 0;
    }
    if (!allocateFor(*list, count)) return -1;
  }
  Bits bits(std::max<uint32_t>(static_cast<uint32_t>(std::max(list->capacity, 0)), count));
  for (int32_t i = 0; i < list->count; ++i) {
    if (list->items[i] >= bits.size) {
      ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
      return -1;
    }
    bits.set(list->items[i]);
  }
  bool failed = false;
  int32_t result = scanRange(t, a.e, from, to, flags, count, [&](uint32_t n) {
    if (n >= bits.size || bits.has(n)) return true;
    int32_t added = append(*list, n, true, count);
    if (added < 0) failed = true;
    if (added <= 0) return false;
    bits.set(n);
    return true;
  });
  if (result < 0 || failed) return -1;
  return result;
}

namespace {

struct KeyedRecord {
  uint32_t record;
  std::vector<uint8_t> key;
};

// Every entry of an index, lowest key first.
bool collectIndex(Table& t, IndexEntry& e, std::vector<KeyedRecord>& out) {
  return walkIndex(t, e, false, [&](uint32_t n, const uint8_t* key) {
           out.push_back({n, std::vector<uint8_t>(key, key + e.keyLen)});
           return true;
         }) >= 0;
}

// The key fitted to another index's key length (cut, or padded with zeros).
std::vector<uint8_t> fitKey(const std::vector<uint8_t>& key, uint32_t length) {
  std::vector<uint8_t> out(length, 0);
  std::memcpy(out.data(), key.data(), std::min<size_t>(length, key.size()));
  return out;
}

}  // namespace

ZEMTA_API int32_t FileIdxJoinSear(FileDBHandle handle, intptr_t index, FileRecList* list, FileDBHandle otherHandle,
                                  intptr_t otherIndex, uint32_t flags) {
  Table* t = checkedTable(handle);
  if (!t) return -1;
  Table* other = checkedTable(otherHandle);
  if (!other) return -1;
  if (!list) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  IndexEntry *e = nullptr, *oe = nullptr;
  bool order1 = false, order2 = false;
  if (!resolveIndex(*t, index, (flags & FILEIDX_INDEX_POINTER) != 0, e, order1) ||
      !resolveIndex(*other, otherIndex, (flags & FILEIDX_OTHER_INDEX_POINTER) != 0, oe, order2))
    return -1;
  if (!e || !oe) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
    return -1;
  }
  ApiLockGuard lock;
  if (!lock.ok()) return -1;
  uint32_t count = 0;
  if (!recordCount(*t, count)) return -1;
  if (!list->items) {
    if (!allocateFor(*list, count)) return -1;
  }
  Bits listed(std::max<uint32_t>(static_cast<uint32_t>(std::max(list->capacity, 0)), count));
  for (int32_t i = 0; i < list->count; ++i) {
    if (list->items[i] >= listed.size) {
      ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
      return -1;
    }
    listed.set(list->items[i]);
  }
  std::vector<KeyedRecord> entries;
  if (!collectIndex(*t, *e, entries)) return -1;
  Bits keep(listed.size);
  const bool onlyListed = (flags & FILEIDX_ONLY_LISTED) != 0;
  {
    TreeOpen open(oe->handle);
    if (!open.ok) return -1;
    for (const auto& entry : entries) {
      const bool inList = entry.record < listed.size && listed.has(entry.record);
      if (!inList && onlyListed) continue;
      std::vector<uint8_t> key = fitKey(entry.key, oe->keyLen);
      uint32_t position = 0;
      int32_t found = BtreeEqu(oe->handle, &position, key.data());
      if (found < 0) return -1;
      if (found == 0 || entry.record >= keep.size) continue;
      keep.set(entry.record);
      if (!inList) {
        int32_t added = append(*list, entry.record, true, count);
        if (added < 0) return -1;
        if (added > 0) listed.set(entry.record);
      }
    }
  }
  int32_t kept = 0;
  for (int32_t i = 0; i < list->count; ++i)
    if (keep.has(list->items[i])) list->items[kept++] = list->items[i];
  list->count = kept;
  return 0;
}

ZEMTA_API int32_t FileIdxCombine(FileRecList* list, const FileRecList* other, int32_t mode) {
  if (!list || !other || !list->items || !other->items) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (mode < 0 || mode > 3) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  uint64_t size = static_cast<uint64_t>(std::max({list->capacity, other->capacity, 0}));
  for (int32_t i = 0; i < list->count; ++i) size = std::max<uint64_t>(size, list->items[i] + 1ull);
  for (int32_t i = 0; i < other->count; ++i) size = std::max<uint64_t>(size, other->items[i] + 1ull);
  Bits inList(size), inOther(size);
  for (int32_t i = 0; i < list->count; ++i) inList.set(list->items[i]);
  for (int32_t i = 0; i < other->count; ++i) inOther.set(other->items[i]);
  auto full = [&]() {
    ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
    return 1;
  };
  switch (mode) {
    case 0:
      for (int32_t i = 0; i < other->count; ++i) {
        uint32_t n = other->items[i];
        if (inList.has(n)) continue;
        if (list->count >= list->capacity) return full();
        list->items[list->count++] = n;
        inList.set(n);
      }
      return 0;
    case 1:
    case 3: {
      int32_t kept = 0;
      for (int32_t i = 0; i < list->count; ++i)
        if (inOther.has(list->items[i]) == (mode == 1)) list->items[kept++] = list->items[i];
      list->count = kept;
      return 0;
    }
    default:
      for (int32_t n = 0; n < other->capacity; ++n) {
        if (inOther.has(n) || inList.has(n)) continue;
        if (list->count >= list->capacity) return full();
        list->items[list->count++] = static_cast<uint32_t>(n);
        inList.set(n);
      }
      return 0;
  }
}

ZEMTA_API int32_t FileLstFromIndLst(FileDBHandle handle, int32_t index, FileRecList* outList,
                                    FileDBHandle otherHandle, int32_t otherIndex, const FileRecList* inList) {
  Table* t = checkedTable(handle);
  if (!t) return -1;
  Table* other = checkedTable(otherHandle);
  if (!other) return -1;
  if (!outList || !inList) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  if (!inList->items) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  IndexEntry *e = nullptr, *oe = nullptr;
  bool order1 = false, order2 = false;
  if (!resolveIndex(*t, index, false, e, order1) || !resolveIndex(*other, otherIndex, false, oe, order2)) return -1;
  if (!e || !oe) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
    return -1;
  }
  if (t->remote() && other->remote()) return remoteJoin(*t, *e, *outList, *other, *oe, *inList);
  if (!outList->items) {
    outList->items = static_cast<uint32_t*>(std::malloc(kGrowStep * 4));
    if (!outList->items) {
      ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
      return -1;
    }
    outList->capacity = kGrowStep;
  }
  outList->count = 0;
  if (inList->count <= 0) return 0;
  uint64_t size = static_cast<uint64_t>(std::max(inList->capacity, 0));
  for (int32_t i = 0; i < inList->count; ++i) size = std::max<uint64_t>(size, inList->items[i] + 1ull);
  Bits marked(size);
  for (int32_t i = 0; i < inList->count; ++i) marked.set(inList->items[i]);
  std::vector<KeyedRecord> entries, others;
  if (!collectIndex(*t, *e, entries) || !collectIndex(*other, *oe, others)) return -1;
  uint32_t count = 0;
  if (!recordCount(*t, count)) return -1;
  for (const auto& entry : entries) {
    std::vector<uint8_t> key = fitKey(entry.key, oe->keyLen);
    auto first = std::lower_bound(others.begin(), others.end(), key, [&](const KeyedRecord& r, const auto& k) {
      return oe->compare(r.key.data(), k.data(), oe->keyLen) < 0;
    });
    for (auto it = first; it != others.end() && oe->compare(it->key.data(), key.data(), oe->keyLen) == 0; ++it) {
      if (!marked.has(it->record)) continue;
      int32_t added = append(*outList, entry.record, true, std::max<uint32_t>(count * 4, kGrowStep));
      if (added < 0) return -1;
      if (added == 0) return 1;
    }
  }
  return 0;
}

namespace {

// The place of each record in the walk of one ordering key, and the group of
// records whose keys are equal byte for byte.
struct Ranking {
  std::vector<uint32_t> rank, group;
};

bool rankBy(Table& t, intptr_t index, uint32_t flags, const Bits& members, uint32_t size, Ranking& out) {
  out.rank.assign(size, UINT32_MAX);
  out.group.assign(size, UINT32_MAX);
  const bool down = (flags & 3) == 2;
  IndexEntry* e = nullptr;
  bool recordOrder = false;
  if (!resolveIndex(t, index, (flags & FILEIDX_INDEX_POINTER) != 0, e, recordOrder)) return false;
  uint32_t next = 0;
  if (recordOrder) {
    for (uint32_t i = 0; i < size; ++i) {
      uint32_t n = down ? size - 1 - i : i;
      if (members.has(n)) out.rank[n] = out.group[n] = next++;
    }
    return true;
  }
  std::vector<uint8_t> previous;
  uint32_t group = 0;
  return walkIndex(t, *e, down, [&](uint32_t n, const uint8_t* key) {
           if (n >= size || !members.has(n) || out.rank[n] != UINT32_MAX) return true;
           if (previous.empty() || std::memcmp(previous.data(), key, e->keyLen) != 0) {
             ++group;
             previous.assign(key, key + e->keyLen);
           }
           out.rank[n] = next++;
           out.group[n] = group;
           return true;
         }) >= 0;
}

// The ordering of FileIdxOrder over index numbers or (pointer flag) entries.
int32_t orderList(Table* t, FileRecList* list, int32_t keyCount, const intptr_t* indexes, const uint32_t* flags) {
  ApiLockGuard lock;
  if (!lock.ok()) return -1;
  if (t->remote() && list->remoteId != 0) {
    // The service orders its own list, by the columns of every key's index
    // (record order stays with the library).
    std::vector<IndexEntry*> keys;
    for (int32_t k = 0; k < keyCount; ++k) {
      IndexEntry* e = nullptr;
      bool recordOrder = false;
      if (!resolveIndex(*t, indexes[k], (flags[k] & FILEIDX_INDEX_POINTER) != 0, e, recordOrder)) return -1;
      if (!e) break;
      keys.push_back(e);
    }
    if (static_cast<int32_t>(keys.size()) == keyCount) return remoteOrder(*t, *list, keys, (flags[0] & 3) != 2);
  }
  uint64_t size64 = static_cast<uint64_t>(std::max(list->capacity, 0));
  for (int32_t i = 0; i < list->count; ++i) size64 = std::max<uint64_t>(size64, list->items[i] + 1ull);
  const uint32_t size = static_cast<uint32_t>(size64);
  Bits members(size);
  for (int32_t i = 0; i < list->count; ++i) members.set(list->items[i]);
  std::vector<Ranking> levels(static_cast<size_t>(keyCount));
  for (int32_t k = 0; k < keyCount; ++k)
    if (!rankBy(*t, indexes[k], flags[k], members, size, levels[k])) return -1;
  std::vector<uint32_t> ordered;
  for (uint32_t n = 0; n < size; ++n)
    if (members.has(n) && levels[0].rank[n] != UINT32_MAX) ordered.push_back(n);
  // Records equal in one key follow the next key; the last key's walk order
  // decides the rest. A record the next index lacks goes after its run.
  std::sort(ordered.begin(), ordered.end(), [&](uint32_t a, uint32_t b) {
    for (int32_t k = 0; k + 1 < keyCount; ++k)
      if (levels[k].group[a] != levels[k].group[b]) return levels[k].group[a] < levels[k].group[b];
    const Ranking& last = levels[keyCount - 1];
    return keyCount == 1 ? levels[0].rank[a] < levels[0].rank[b] : last.rank[a] < last.rank[b];
  });
  list->count = 0;
  for (uint32_t n : ordered) list->items[list->count++] = n;
  return 0;
}

// The checks both orderings start with: 1 go on, 0 nothing to order, -1.
int32_t startOrder(Table*& t, FileDBHandle handle, FileRecList* list, int32_t keyCount, const void* indexes,
                   const uint32_t* flags) {
  t = checkedTable(handle);
  if (!t) return -1;
  if (!list || !indexes || !flags) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  if (list->count < 2 || !list->items) return 0;
  if (keyCount < 1) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return 1;
}

}  // namespace

ZEMTA_API int32_t FileIdxOrder(FileDBHandle handle, FileRecList* list, int32_t keyCount, const int32_t* indexes,
                               const uint32_t* flags) {
  Table* t = nullptr;
  int32_t go = startOrder(t, handle, list, keyCount, indexes, flags);
  if (go <= 0) return go;
  // Index numbers only: the pointer flag has no room in a 32-bit number.
  std::vector<intptr_t> wide(indexes, indexes + keyCount);
  std::vector<uint32_t> numbers(flags, flags + keyCount);
  for (auto& f : numbers) f &= ~FILEIDX_INDEX_POINTER;
  return orderList(t, list, keyCount, wide.data(), numbers.data());
}

ZEMTA_API int32_t FileIdxOrderPtr(FileDBHandle handle, FileRecList* list, int32_t keyCount, const intptr_t* indexes,
                                  const uint32_t* flags) {
  Table* t = nullptr;
  int32_t go = startOrder(t, handle, list, keyCount, indexes, flags);
  if (go <= 0) return go;
  return orderList(t, list, keyCount, indexes, flags);
}

ZEMTA_API int32_t FileDBIdxCombine(FileDBHandle handle, FileRecList* list, const FileRecList* other, int32_t mode) {
  Table* t = checkedTable(handle);
  if (!t) return -1;
  if (!list || !other) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  if (!t->remote()) return FileIdxCombine(list, other, mode);
  ApiLockGuard lock;
  if (!lock.ok()) return -1;
  return remoteCombine(*t, *list, *other, mode);
}
