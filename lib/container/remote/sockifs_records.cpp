// Requests of the remote file service client on remote tables: column items
// of records and tables, record totals and deletions, temporary indexes, key
// look-ups, searches, combinations and orderings of result lists kept on the
// server, and the 'f' fetch of their entries.
//
// Column item on the wire: column id u16, attribute u16, data length u16, data.
// Result entry: 8 bytes, two u32 words.
// 'f' request (22 bytes; handle = the table): list id u32, entries already
// received u32, 0 u32; reply 'B' with whole 8-byte entries, or 0x06 when the
// list is gone.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "lib/container/remote/connection.h"
#include "lib/core/little_endian.h"
#include "platform/base/last_error.h"
#include "zemta/sockifs.h"

using namespace zemta::remote;
using zemta::get_u16le;
using zemta::get_u32le;

namespace {

constexpr uint8_t kFetchLetter = 'f';
constexpr size_t kCidFixed = 14;      // kind, a, b, item count
constexpr size_t kItemHeader = 6;
constexpr size_t kMaxKey = 128;
constexpr int32_t kMaxDeleteIds = 510;
constexpr size_t kListReplySize = 12;

void freeEntries(SockIfsList* list) {
  std::free(list->entries);
  list->entries = nullptr;
  list->received = 0;
}

// Fetches the list's entries with 'f' until the announced total has arrived.
// Room for the whole total is reserved first; no page ever writes past it.
bool fetchEntries(uint32_t table, SockIfsList* list) {
  freeEntries(list);
  if (list->total <= 0) return true;
  list->entries = static_cast<SockIfsEntry*>(std::calloc(static_cast<size_t>(list->total), sizeof(SockIfsEntry)));
  if (!list->entries) return fail(kOutOfMemory);
  while (list->received < list->total) {
    Request request(kFetchLetter, 0, table);
    request.u32(list->listId).u32(static_cast<uint32_t>(list->received)).u32(0);
    Reply reply;
    if (!exchange(request, &reply, std::nullopt, {kReplyDone, kReplyData})) {
      freeEntries(list);
      return false;
    }
    if (reply.code() == kReplyDone) {
      // The server no longer has the list: an empty result.
      freeEntries(list);
      list->total = 0;
      return true;
    }
    const size_t length = reply.payloadLength();
    // A page must bring whole entries, and at least one, or the loop could
    // never end.
    if (length % 8 != 0 || length == 0) {
      freeEntries(list);
      return fail(kBadReplySize);
    }
    const size_t room = static_cast<size_t>(list->total - list->received);
    const size_t count = std::min(length / 8, room);
    const uint8_t* p = reply.payload();
    for (size_t i = 0; i < count; ++i) {
      list->entries[list->received + static_cast<int32_t>(i)] = {get_u32le(p + i * 8), get_u32le(p + i * 8 + 4)};
    }
    list->received += static_cast<int32_t>(count);
  }
  return true;
}

// The common end of the list requests: 0x06 no match (0), 'B' with list id,
// count and a further word (1), fetching the entries when asked.
int32_t takeList(uint32_t table, const Reply& reply, SockIfsList* list, bool fetch) {
  if (reply.code() == kReplyDone) return 0;
  if (reply.payloadLength() != kListReplySize) return failWith(kBadReplySize);
  const uint8_t* p = reply.payload();
  const uint32_t total = get_u32le(p + 4);
  if (total > 0x7FFFFFFFu) return failWith(kBadReplySize);
  list->listId = get_u32le(p);
  list->total = static_cast<int32_t>(total);
  list->further = get_u32le(p + 8);
  if (!fetch) return 1;
  return fetchEntries(table, list) ? 1 : -1;
}

}  // namespace

ZEMTA_API int32_t SockIfsGetCID(uint32_t handle, uint32_t kind, SockIfsCidItem** items, int32_t many, uint32_t a,
                                uint32_t b) {
  if (items) *items = nullptr;
  Request request('q', static_cast<uint8_t>(many), handle);
  request.u32(kind).u32(a).u32(b);
  Reply reply;
  if (!exchange(request, &reply, handle, {kReplyDone, kReplyData})) return -1;
  const size_t length = reply.payloadLength();
  if (reply.code() == kReplyDone || length < kItemHeader) return 0;
  const uint8_t* p = reply.payload();
  if (many == 0) {
    if (!items) return 1;
    // One item, its data NUL-terminated behind it.
    const size_t data = length - kItemHeader;
    auto* block = static_cast<uint8_t*>(std::malloc(sizeof(SockIfsCidItem) + data + 1));
    if (!block) return failWith(kOutOfMemory);
    auto* item = reinterpret_cast<SockIfsCidItem*>(block);
    uint8_t* bytes = block + sizeof(SockIfsCidItem);
    std::memcpy(bytes, p + kItemHeader, data);
    bytes[data] = 0;
    *item = {get_u16le(p), get_u16le(p + 2), get_u16le(p + 4), bytes};
    // The length word is the server's; the data is what arrived.
    item->length = static_cast<uint16_t>(std::min<size_t>(item->length, data));
    *items = item;
    return 1;
  }
  const size_t count = get_u16le(p);
  auto* block = static_cast<uint8_t*>(std::malloc(count * sizeof(SockIfsCidItem) + length + 1));
  if (!block) return failWith(kOutOfMemory);
  auto* array = reinterpret_cast<SockIfsCidItem*>(block);
  uint8_t* data = block + count * sizeof(SockIfsCidItem);
  std::memcpy(data, p, length);
  size_t at = 2;
  size_t made = 0;
  while (made < count && length - at >= kItemHeader) {
    SockIfsCidItem& item = array[made++];
    item.column = get_u16le(p + at);
    item.attribute = get_u16le(p + at + 2);
    // A length running past the payload is cut to what is left.
    item.length = static_cast<uint16_t>(std::min<size_t>(get_u16le(p + at + 4), length - at - kItemHeader));
    item.data = item.length ? data + at + kItemHeader : nullptr;
    at += kItemHeader + item.length;
  }
  if (items)
    *items = array;
  else
    std::free(block);
  return static_cast<int32_t>(made);
}

ZEMTA_API int32_t SockIfsSetCID(uint32_t handle, uint32_t kind, int32_t count, const SockIfsCidItem* items,
                                uint32_t a, uint32_t b) {
  if (count == 0) return 0;
  if (!connected()) return failWith(kNoConnection);
  if (count < 0 || !items) return failWith(kBadArgument);
  for (int32_t i = 0; i < count; ++i) {
    // An item that cannot fit one packet can never be sent.
    if (kHeaderSize + kCidFixed + kItemHeader + items[i].length > kMaxData) return failWith(kBadArgument);
    if (items[i].length && !items[i].data) return failWith(kMissingList);
  }
  int32_t next = 0;
  while (next < count) {
    size_t size = kHeaderSize + kCidFixed;
    int32_t end = next;
    while (end < count && size + kItemHeader + items[end].length <= kMaxData) size += kItemHeader + items[end++].length;
    Request request('u', end == count ? 1 : 0, handle);
    request.u32(kind).u32(a).u32(b).u16(static_cast<uint16_t>(end - next));
    for (int32_t i = next; i < end; ++i)
      request.u16(items[i].column).u16(items[i].attribute).u16(items[i].length).bytes(items[i].data, items[i].length);
    Reply reply;
    if (!exchange(request, &reply, handle, {kReplyDone})) return -1;
    next = end;
  }
  return 0;
}

ZEMTA_API int32_t SockIfsRecRead(uint32_t handle, uint32_t record, uint32_t b, SockIfsCidItem** items) {
  return SockIfsGetCID(handle, 10, items, 1, record, b);
}

ZEMTA_API int32_t SockIfsRecWrite(uint32_t handle, uint32_t record, uint32_t b, int32_t count,
                                  const SockIfsCidItem* items) {
  return SockIfsSetCID(handle, 10, count, items, record, b);
}

ZEMTA_API int64_t SockIfsRecTotal(uint32_t handle) {
  Request request('t', 0, handle);
  Reply reply;
  if (!exchange(request, &reply, handle, {kReplyData})) return -1;
  if (reply.payloadLength() != 8) return failWith(kBadReplySize);
  return static_cast<int64_t>(static_cast<uint64_t>(get_u32le(reply.payload())) |
                              (static_cast<uint64_t>(get_u32le(reply.payload() + 4)) << 32));
}

ZEMTA_API int32_t SockIfsRecDelete(uint32_t handle, uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  Request request('r', 0, handle);
  request.u32(a).u32(b).u32(c).u32(d);
  Reply reply;
  return exchange(request, &reply, handle, {kReplyDone}) ? 1 : -1;
}

ZEMTA_API int32_t SockIfsRecDelByID(uint32_t handle, int32_t count, const SockIfsEntry* ids) {
  if (!connected()) return failWith(kNoConnection);
  if (!ids) return failWith(kMissingList);
  if (count < 0 || count > kMaxDeleteIds) return failWith(kTooManyIds);
  Request request('r', 1, handle);
  request.u16(static_cast<uint16_t>(count));
  for (int32_t i = 0; i < count; ++i) request.u32(ids[i].low).u32(ids[i].high);
  Reply reply;
  return exchange(request, &reply, handle, {kReplyDone}) ? 1 : -1;
}

ZEMTA_API uint32_t SockIfsTempIdxCreate(uint32_t handle, int32_t count, const uint16_t* columns, uint32_t flags,
                                        uint32_t* out) {
  if (!connected()) return failHandle(kNoConnection);
  if (count < 0 || count > 64 || (count && !columns)) return failHandle(kBadArgument);
  Request request('x', 0, handle);
  request.u32(flags).u16(static_cast<uint16_t>(count));
  for (int32_t i = 0; i < count; ++i) request.u16(columns[i]);
  Reply reply;
  if (!exchange(request, &reply, handle, {kReplyData})) return 0;
  if (reply.payloadLength() != 12) return failHandle(kBadReplySize);
  if (out) {
    out[0] = get_u32le(reply.payload() + 4);
    out[1] = get_u32le(reply.payload() + 8);
  }
  return get_u32le(reply.payload());
}

ZEMTA_API int32_t SockIfsIdxEqu(uint32_t handle, int32_t count, const uint16_t* columns, const void* key,
                                int32_t keyLength, uint32_t* found, SockIfsEntry* id) {
  if (found) *found = 0;
  if (id) *id = {0xFFFFFFFFu, 0xFFFFFFFFu};
  if (!connected()) return failWith(kNoConnection);
  if (keyLength < 0 || static_cast<size_t>(keyLength) > kMaxKey || (!found) == (!id) || count < 0 || count > 64 ||
      (count && !columns) || (keyLength && !key))
    return failWith(kBadArgument);
  Request request('l', id ? 1 : 0, handle);
  request.u32(0).u16(static_cast<uint16_t>(count)).u16(static_cast<uint16_t>(keyLength));
  for (int32_t i = 0; i < count; ++i) request.u16(columns[i]);
  request.bytes(key, static_cast<size_t>(keyLength));
  Reply reply;
  if (!exchange(request, &reply, handle, {kReplyDone, kReplyData})) return -1;
  if (reply.code() == kReplyDone) return 0;
  if (reply.payloadLength() != 12) return failWith(kBadReplySize);
  const uint32_t foundWord = get_u32le(reply.payload());
  const SockIfsEntry first{get_u32le(reply.payload() + 4), get_u32le(reply.payload() + 8)};
  if (id) {
    *id = first;
    return foundWord ? 1 : 2;
  }
  *found = foundWord;
  return first.low == 0xFFFFFFFFu && first.high == 0xFFFFFFFFu ? 2 : 1;
}

ZEMTA_API int32_t SockIfsIdxSear(uint32_t handle, int32_t count, const void* columns, int32_t keyLength,
                                 const void* lowKey, const void* highKey, SockIfsList* list, uint32_t flags,
                                 uint32_t baseListId, int32_t fetch) {
  if (!list) return failWith(kMissingList);
  freeEntries(list);
  *list = SockIfsList{};
  if (!connected()) return failWith(kNoConnection);
  const bool highGiven = (flags & 0x10) == 0;
  if (keyLength < 0 || static_cast<size_t>(keyLength) > kMaxKey || count < 0 || (count != 0xFFFF && count > 64) ||
      (count && !columns) || (keyLength && (!lowKey || (highGiven && !highKey))))
    return failWith(kBadArgument);
  Request request('s', static_cast<uint8_t>(flags), handle);
  request.u32(baseListId).u16(static_cast<uint16_t>(count)).u16(static_cast<uint16_t>(keyLength));
  if (count == 0xFFFF) {
    uint32_t selector;
    std::memcpy(&selector, columns, 4);
    request.u32(selector);
  } else {
    const auto* list16 = static_cast<const uint16_t*>(columns);
    for (int32_t i = 0; i < count; ++i) request.u16(list16[i]);
  }
  request.bytes(lowKey, static_cast<size_t>(keyLength));
  if (highGiven) request.bytes(highKey, static_cast<size_t>(keyLength));
  Reply reply;
  if (!exchange(request, &reply, handle, {kReplyDone, kReplyData})) return -1;
  return takeList(handle, reply, list, fetch != 0);
}

ZEMTA_API int32_t SockIfsIdxRefSearByIdx(uint32_t handle, uint32_t other, int32_t count, const uint16_t* columns,
                                         const uint16_t* otherColumns, uint32_t value, SockIfsList* list) {
  if (list) {
    freeEntries(list);
    *list = SockIfsList{};
  }
  if (!connected()) return failWith(kNoConnection);
  if (count < 0 || count > 64 || (count && (!columns || !otherColumns))) return failWith(kBadArgument);
  Request request('i', 0, handle);
  request.u32(other).u32(value).u16(static_cast<uint16_t>(count));
  for (int32_t i = 0; i < count; ++i) request.u16(columns[i]);
  for (int32_t i = 0; i < count; ++i) request.u16(otherColumns[i]);
  Reply reply;
  if (!exchange(request, &reply, handle, {kReplyDone, kReplyData})) return -1;
  if (!list) {
    if (reply.code() == kReplyDone) return 0;
    return reply.payloadLength() == kListReplySize ? 1 : failWith(kBadReplySize);
  }
  return takeList(handle, reply, list, true);
}

ZEMTA_API int32_t SockIfsIdxCombine(uint32_t handle, SockIfsList* list, const uint32_t* otherList, int32_t mode) {
  if (!connected()) return failWith(kNoConnection);
  if (!list || list->listId == 0 || !otherList || *otherList == 0) return failWith(kBadArgument);
  freeEntries(list);
  Request request('c', static_cast<uint8_t>(mode), list->listId);
  request.u32(*otherList);
  Reply reply;
  if (!exchange(request, &reply, list->listId, {kReplyDone, kReplyData})) return -1;
  if (reply.code() == kReplyDone) {
    list->total = 0;
    return 0;
  }
  if (reply.payloadLength() != 8) return failWith(kBadReplySize);
  const uint32_t total = get_u32le(reply.payload());
  if (total > 0x7FFFFFFFu) return failWith(kBadReplySize);
  list->total = static_cast<int32_t>(total);
  list->further = get_u32le(reply.payload() + 4);
  return fetchEntries(handle, list) ? 1 : -1;
}

ZEMTA_API int32_t SockIfsIdxOrder(uint32_t handle, int32_t count, const uint16_t* columns, int32_t order,
                                  SockIfsList* list, int32_t fetch) {
  if (!connected()) return failWith(kNoConnection);
  if (!list) return failWith(kMissingList);
  if (count < 0 || count > 64 || (count && !columns)) return failWith(kBadArgument);
  freeEntries(list);
  Request request('o', static_cast<uint8_t>(order), handle);
  request.u32(list->listId).u16(static_cast<uint16_t>(count)).u16(0);
  for (int32_t i = 0; i < count; ++i) request.u16(columns[i]);
  Reply reply;
  if (!exchange(request, &reply, handle, {kReplyData})) return -1;
  return takeList(handle, reply, list, fetch != 0);
}

ZEMTA_API int32_t SockIfsIdxRemove(SockIfsList* list) {
  if (!list) return failWith(kBadArgument);
  freeEntries(list);
  if (list->listId == 0) return 0;
  Request request('d', 0, list->listId);
  Reply reply;
  if (!exchange(request, &reply, list->listId, {kReplyDone})) return -1;
  list->listId = 0;
  return 0;
}
