// Searches, combinations, joins and orderings of record stores, run by the
// remote file service. The service keeps each result as a list of its own
// (the record list's remote id); its record numbers count from 1 and are
// fetched into the caller's list only when asked for.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lib/core/report.h"
#include "lib/store/tables/file_access.h"
#include "lib/store/tables/filedb_internal.h"
#include "platform/base/last_error.h"

namespace zemta::filedb {

namespace {

constexpr int32_t kEmptyCapacity = 0x4000;
constexpr int32_t kSelectorCount = 0xFFFF;

int32_t failExchange() {
  uint32_t code = platform::lastError();
  ZEMTA_REPORT(code != 0 ? code : static_cast<uint32_t>(ZEMTA_ERR_FILE_ACCESS));
  return -1;
}

// Frees what the client fetched and, when the service made the list for a
// call that then failed, drops it there again.
struct ServiceList {
  SockIfsList list{};
  bool keep = false;
  ~ServiceList() {
    if (!keep && list.listId != 0) {
      const uint32_t error = platform::lastError();
      SockIfsIdxRemove(&list);
      platform::setLastError(error);
    }
    std::free(list.entries);
  }
};

// Makes the caller's list hold the service's result: its count (a list
// without an array gets one of that capacity), its id, and the record
// numbers (each minus 1) when they were fetched, else -1 in every slot. A
// caller's array too small for the result keeps what fits: 1.
int32_t takeResult(FileRecList& list, ServiceList& result, bool fetched) {
  const int32_t total = std::max(result.list.total, 0);
  if (!list.items) {
    list.items = static_cast<uint32_t*>(std::malloc(static_cast<size_t>(std::max(total, 1)) * 4));
    if (!list.items) {
      ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
      return -1;
    }
    list.capacity = total;
  }
  const int32_t held = std::min(total, std::max(list.capacity, 0));
  for (int32_t i = 0; i < held; ++i) {
    if (fetched && i < result.list.received)
      list.items[i] = result.list.entries[i].low - 1;
    else
      list.items[i] = 0xFFFFFFFFu;
  }
  list.count = held;
  list.remoteId = result.list.listId;
  result.keep = true;
  return held < total ? 1 : 0;
}

// Nothing found: a list without an array gets the usual empty one.
int32_t takeNothing(FileRecList& list) {
  if (!list.items) {
    list.items = static_cast<uint32_t*>(std::malloc(static_cast<size_t>(kEmptyCapacity) * 4));
    if (!list.items) {
      ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
      return -1;
    }
    list.capacity = kEmptyCapacity;
  }
  list.count = 0;
  list.remoteId = 0;
  return 0;
}

// The columns of an index on the service.
bool indexColumns(const Table& t, const IndexEntry& e, std::vector<uint16_t>& columns) {
  RemoteKey key;
  if (!convertKey(t, e, nullptr, nullptr, key)) return false;
  columns = key.columns;
  return true;
}

// Opens the table for one exchange and closes it again.
struct OpenForCall {
  Table& t;
  bool ok;
  explicit OpenForCall(Table& table) : t(table), ok(openTable(table, FILEDB_MODE_READ)) {}
  ~OpenForCall() {
    if (ok) closeTable(t);
  }
};

}  // namespace

int32_t remoteSearch(Table& t, IndexEntry& e, const void* from, const void* to, FileRecList& list, uint32_t step,
                     int32_t remoteWord) {
  // A temporary index is named by the service's index instead of a column
  // list; its keys travel in the service form of its column all the same.
  RemoteKey key;
  const bool temporary = e.remoteIndex != 0;
  if (!convertKey(t, e, static_cast<const uint8_t*>(from), static_cast<const uint8_t*>(to), key)) return -1;
  if (step != 0 && list.remoteId == 0) {
    // Narrowing or widening needs the service's own list.
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const uint32_t kind = searchKind(e, static_cast<const uint8_t*>(from), static_cast<const uint8_t*>(to),
                                   e.keyLen, step);
  OpenForCall open(t);
  if (!open.ok) return -1;
  ServiceList result;
  const uint32_t selector = static_cast<uint32_t>(e.remoteIndex);
  const int32_t count = temporary ? kSelectorCount : static_cast<int32_t>(key.columns.size());
  const void* columns = temporary ? static_cast<const void*>(&selector) : key.columns.data();
  const int32_t found =
      SockIfsIdxSear(remoteHandleOf(t), count, columns, static_cast<int32_t>(key.from.size()), key.from.data(),
                     key.to.data(), &result.list, kind, step != 0 ? list.remoteId : 0, remoteWord);
  if (found < 0) return failExchange();
  if (found == 0) return takeNothing(list);
  return takeResult(list, result, remoteWord != 0);
}

int32_t remoteOrder(Table& t, FileRecList& list, const std::vector<IndexEntry*>& keys, bool ascending) {
  if (list.remoteId == 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  std::vector<uint16_t> columns;
  for (IndexEntry* e : keys) {
    std::vector<uint16_t> more;
    if (!indexColumns(t, *e, more)) return -1;
    columns.insert(columns.end(), more.begin(), more.end());
  }
  OpenForCall open(t);
  if (!open.ok) return -1;
  ServiceList result;
  result.list.listId = list.remoteId;
  // The ordered list replaces the caller's one on the service.
  result.keep = true;
  if (SockIfsIdxOrder(remoteHandleOf(t), static_cast<int32_t>(columns.size()), columns.data(), ascending ? 1 : 0,
                      &result.list, 1) < 0)
    return failExchange();
  result.keep = false;
  return takeResult(list, result, true) < 0 ? -1 : 0;
}

int32_t remoteCombine(Table& t, FileRecList& list, const FileRecList& other, int32_t mode) {
  if (list.remoteId == 0 || other.remoteId == 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  OpenForCall open(t);
  if (!open.ok) return -1;
  ServiceList result;
  result.list.listId = list.remoteId;
  result.keep = true;  // the combination keeps the first list's id
  const uint32_t otherId = other.remoteId;
  const int32_t combined = SockIfsIdxCombine(remoteHandleOf(t), &result.list, &otherId, mode);
  if (combined < 0) return failExchange();
  result.keep = false;
  if (combined == 0) {
    list.count = 0;
    result.keep = true;
    return 0;
  }
  return takeResult(list, result, true);
}

int32_t remoteJoin(Table& t, IndexEntry& e, FileRecList& out, Table& other, IndexEntry& oe, const FileRecList& in) {
  if (in.remoteId == 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  std::vector<uint16_t> columns, otherColumns;
  if (!indexColumns(t, e, columns) || !indexColumns(other, oe, otherColumns)) return -1;
  if (columns.size() != otherColumns.size()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  OpenForCall open(t);
  if (!open.ok) return -1;
  OpenForCall openOther(other);
  if (!openOther.ok) return -1;
  ServiceList result;
  const int32_t found = SockIfsIdxRefSearByIdx(remoteHandleOf(t), remoteHandleOf(other),
                                               static_cast<int32_t>(columns.size()), columns.data(),
                                               otherColumns.data(), in.remoteId, &result.list);
  if (found < 0) return failExchange();
  if (found == 0) return takeNothing(out);
  return takeResult(out, result, true) < 0 ? -1 : 0;
}

int32_t dropRemoteList(FileRecList& list) {
  const uint32_t id = list.remoteId;
  list.remoteId = 0;
  return dropServiceObject(id);
}

int32_t dropServiceObject(uint32_t id) {
  if (id == 0) return 0;
  SockIfsList remote{};
  remote.listId = id;
  if (SockIfsIdxRemove(&remote) < 0) return failExchange();
  return 0;
}

uint32_t remoteTempIndex(Table& t, const RemoteColumn& column, uint32_t listId) {
  OpenForCall open(t);
  if (!open.ok) return 0;
  const uint32_t index = SockIfsTempIdxCreate(remoteHandleOf(t), 1, &column.id, listId, nullptr);
  if (index == 0) failExchange();
  return index;
}

}  // namespace zemta::filedb
