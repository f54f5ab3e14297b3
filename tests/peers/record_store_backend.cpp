#include "peers/record_store_backend.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "peers/file_service_peer.h"
#include "platform/base/last_error.h"
#include "zemta/btreeex.h"

namespace testing_support {

namespace {

constexpr uint8_t kDone = 0x06;
constexpr uint8_t kData = 0x42;
constexpr uint8_t kRefused = 0x15;
constexpr uint32_t kAll = 0xFFFFFFFFu;
constexpr size_t kMaxFrame = 4096;
constexpr size_t kHeader = 10;

using P = FileServicePeer;

std::string lastPart(const std::string& name) {
  const size_t cut = name.find_last_of("/\\");
  return cut == std::string::npos ? name : name.substr(cut + 1);
}

std::vector<uint16_t> columnsAt(const std::string& payload, size_t offset, uint16_t count) {
  std::vector<uint16_t> columns;
  for (uint16_t i = 0; i < count; ++i) columns.push_back(P::u16At(payload, offset + 2u * i));
  return columns;
}

// An index on the columns for one request: the table's own, or one made for
// the request and removed after it.
class IndexForRequest {
 public:
  IndexForRequest(FileExHandle table, const std::vector<uint16_t>& columns) {
    const auto count = static_cast<uint16_t>(columns.size());
    const int32_t has = FileExIsIndex(table, count, columns.data());
    if (has == 0) made_ = FileExTempIdxCreate(table, count, columns.data(), nullptr, nullptr, nullptr);
    ready_ = has == 1 || made_;
  }
  ~IndexForRequest() {
    if (made_) FileExIdxRemove(made_);
  }
  IndexForRequest(const IndexForRequest&) = delete;
  IndexForRequest& operator=(const IndexForRequest&) = delete;
  bool ready() const { return ready_; }

 private:
  FileExHandle made_ = nullptr;
  bool ready_ = false;
};

}  // namespace

RecordStoreBackend::RecordStoreBackend(const std::string& diskPath) {
  BtreeExNew();
  disk_ = FileExDiskCreate(diskPath.c_str(), "store", nullptr, 0);
  IfsChgDisk(disk_, nullptr);
}

RecordStoreBackend::~RecordStoreBackend() {
  for (auto& [id, index] : indexes_) FileExIdxRemove(index.index);
  for (auto& [id, list] : lists_) IfsIdxRemove(&list.list);
  for (auto& [name, table] : tables_) IfsRelease(table);
  IfsChgDisk(nullptr, nullptr);
  if (disk_) FileExDiskRelease(disk_);
  BtreeExDelete();
}

bool RecordStoreBackend::addTable(const std::string& name, const std::vector<Column>& columns) {
  if (!disk_) return false;
  FileExHandle table = IfsCreate(("\\" + name).c_str(), -1, nullptr, FILEEX_KIND_TABLE, 0, 0);
  if (!table) return false;
  for (const Column& c : columns)
    if (FileExInsColumn(table, c.id, c.name.c_str(), c.size, c.type, 0, 0, 0, -1) != 0) return false;
  tables_[name] = table;
  return true;
}

FileExHandle RecordStoreBackend::table(const std::string& name) const {
  auto found = tables_.find(name);
  return found == tables_.end() ? nullptr : found->second;
}

bool RecordStoreBackend::refetch(List& list) {
  list.total = 0;
  if (!list.list.search) return true;
  if (FileExGetSearCount(list.list.search, &list.total) < 0) return false;
  std::free(list.list.ids);
  list.list.ids = static_cast<uint64_t*>(std::calloc(std::max<uint64_t>(list.total, 1), sizeof(uint64_t)));
  list.list.capacity = static_cast<int32_t>(list.total);
  list.list.count = 0;
  uint64_t position = 0;
  while (list.list.count < list.list.capacity) {
    uint64_t number = 0;
    const int32_t got = FileExFetchNextRec(list.table, list.list.search, &position, &number);
    if (got < 0) return false;
    if (got == 0) break;
    list.list.ids[list.list.count++] = number;
  }
  return true;
}

std::string RecordStoreBackend::listReply(uint32_t handle, uint32_t id) {
  const List& list = lists_[id];
  return P::frame(kData, 0, handle, P::u32(id) + P::u32(static_cast<uint32_t>(list.total)) + P::u32(0));
}

std::string RecordStoreBackend::newListReply(uint32_t handle, FileExHandle table, FileExHandle set) {
  const uint32_t id = nextList_++;
  List& list = lists_[id];
  list.table = table;
  list.list.total = &list.total;
  list.list.search = set;
  const bool fetched = refetch(list);
  if (!fetched || list.total == 0) {
    IfsIdxRemove(&list.list);
    lists_.erase(id);
    return fetched ? P::frame(kDone, 0, handle)
                   : P::frame(kRefused, static_cast<uint8_t>(platform::kErrorInvalidParameter), handle);
  }
  return listReply(handle, id);
}

std::optional<std::string> RecordStoreBackend::answer(const std::string& request) {
  const uint32_t handle = P::u32At(request, 4);
  const uint8_t letter = static_cast<uint8_t>(request[8]);
  const uint8_t argument = static_cast<uint8_t>(request[9]);
  const std::string payload = request.substr(kHeader);
  auto refuse = [&](uint32_t error) { return P::frame(kRefused, static_cast<uint8_t>(error), handle); };
  auto tableOf = [&](uint32_t h) -> FileExHandle {
    auto found = open_.find(h);
    return found == open_.end() ? nullptr : found->second;
  };

  if (letter == 'A' && argument == 0) {
    const uint32_t length = P::u32At(payload, 8);
    std::string name = payload.substr(12, length == kAll ? std::string::npos : length);
    name = name.substr(0, name.find('\0'));
    FileExHandle table = this->table(lastPart(name));
    if (!table) return std::nullopt;
    const uint32_t h = nextHandle_++;
    open_[h] = table;
    return P::frame(kDone, 0, h);
  }
  if (letter == 'd') {
    auto index = indexes_.find(handle);
    if (index != indexes_.end()) {
      FileExIdxRemove(index->second.index);
      indexes_.erase(index);
      return P::frame(kDone, 0, handle);
    }
    auto found = lists_.find(handle);
    if (found == lists_.end()) return refuse(platform::kErrorInvalidHandle);
    IfsIdxRemove(&found->second.list);
    lists_.erase(found);
    return P::frame(kDone, 0, handle);
  }
  if (letter == 'f') {
    auto found = lists_.find(P::u32At(payload, 0));
    if (found == lists_.end()) return P::frame(kDone, 0, handle);
    const List& list = found->second;
    const uint32_t from = P::u32At(payload, 4);
    std::string page;
    for (uint32_t i = from; i < static_cast<uint32_t>(list.list.count) && kHeader + page.size() + 8 <= kMaxFrame; ++i)
      page += P::u32(static_cast<uint32_t>(list.list.ids[i])) + P::u32(static_cast<uint32_t>(list.list.ids[i] >> 32));
    return P::frame(kData, 0, handle, page);
  }
  if (letter == 'c') {
    auto first = lists_.find(handle);
    auto second = lists_.find(P::u32At(payload, 0));
    if (first == lists_.end() || second == lists_.end()) return refuse(platform::kErrorInvalidHandle);
    if (FileExRecCombine(first->second.list.search, second->second.list.search, argument) < 0 ||
        !refetch(first->second))
      return refuse(platform::kErrorInvalidParameter);
    if (first->second.total == 0) return P::frame(kDone, 0, handle);
    return P::frame(kData, 0, handle, P::u32(static_cast<uint32_t>(first->second.total)) + P::u32(0));
  }

  FileExHandle table = tableOf(handle);
  if (!table) return std::nullopt;
  switch (letter) {
    case 'D':
      open_.erase(handle);
      pending_.erase(handle);
      return P::frame(kDone, 0, handle);
    case 't': {
      const uint64_t total = IfsRecTotal(table);
      return P::frame(kData, 0, handle, P::u32(static_cast<uint32_t>(total)) + P::u32(static_cast<uint32_t>(total >> 32)));
    }
    case 'q': {
      IfsFieldValue* values = nullptr;
      const int32_t count =
          IfsGetCID(table, P::u32At(payload, 0), &values, argument, P::u32At(payload, 4), P::u32At(payload, 8));
      if (count < 0) return refuse(platform::kErrorInvalidParameter);
      if (count == 0) return P::frame(kDone, 0, handle);
      if (argument == 0) {
        // One item, without a count.
        std::string item = P::u16(values[0].field) + P::u16(values[0].type) + P::u16(values[0].length);
        item.append(static_cast<const char*>(values[0].value), values[0].length);
        std::free(values);
        return P::frame(kData, 0, handle, item);
      }
      std::string items = P::u16(static_cast<uint16_t>(count));
      for (int32_t i = 0; i < count; ++i) {
        items += P::u16(values[i].field) + P::u16(values[i].type) + P::u16(values[i].length);
        if (values[i].length) items.append(static_cast<const char*>(values[i].value), values[i].length);
      }
      std::free(values);
      return P::frame(kData, 0, handle, items);
    }
    case 'u': {
      PendingWrite& write = pending_[handle];
      const uint16_t count = P::u16At(payload, 12);
      size_t at = 14;
      for (uint16_t i = 0; i < count && at + 6 <= payload.size(); ++i) {
        const uint16_t length = P::u16At(payload, at + 4);
        write.bytes.push_back(payload.substr(at + 6, length));
        write.values.push_back({P::u16At(payload, at), P::u16At(payload, at + 2), length, 0, nullptr});
        at += 6u + length;
      }
      if (argument != 1) return P::frame(kDone, 0, handle);
      for (size_t i = 0; i < write.values.size(); ++i) write.values[i].value = write.bytes[i].data();
      const int32_t result = IfsSetCID(table, static_cast<uint16_t>(P::u32At(payload, 0)),
                                       static_cast<int32_t>(write.values.size()), write.values.data(),
                                       P::u32At(payload, 4), P::u32At(payload, 8));
      pending_.erase(handle);
      return result == 0 ? P::frame(kDone, 0, handle) : refuse(platform::kErrorInvalidParameter);
    }
    case 'r': {
      if (argument != 0) return refuse(platform::kErrorNotSupported);
      const int64_t before = IfsRecDelete(table, P::u32At(payload, 0), P::u32At(payload, 4), P::u32At(payload, 8),
                                          P::u32At(payload, 12));
      return before < 0 ? refuse(platform::kErrorInvalidParameter) : P::frame(kDone, 0, handle);
    }
    case 'l': {
      const uint16_t count = P::u16At(payload, 4);
      const std::vector<uint16_t> columns = columnsAt(payload, 8, count);
      const std::string key = payload.substr(8 + 2u * count);
      int32_t matches = 0;
      uint64_t number = 0;
      {
        // A look-up needs an index over the columns.
        IndexForRequest index(table, columns);
        if (!index.ready()) return refuse(platform::kErrorInvalidParameter);
        FileExRecEqu(table, count, columns.data(), key.data(), &matches, &number);
      }
      if (matches == 0) return P::frame(kDone, 0, handle);
      return P::frame(kData, 0, handle, P::u32(matches == 1 ? 1 : 0) + P::u32(static_cast<uint32_t>(number)) +
                                            P::u32(static_cast<uint32_t>(number >> 32)));
    }
    case 's': {
      const uint32_t base = P::u32At(payload, 0);
      const uint16_t count = P::u16At(payload, 4);
      const uint16_t keyLength = P::u16At(payload, 6);
      // The columns, or (count 0xFFFF) a temporary index by its id.
      std::vector<uint16_t> columns;
      size_t keys = 8 + 2u * count;
      if (count == 0xFFFF) {
        auto index = indexes_.find(P::u32At(payload, 8));
        if (index == indexes_.end()) return refuse(platform::kErrorInvalidHandle);
        columns = index->second.columns;
        keys = 12;
      } else {
        columns = columnsAt(payload, 8, count);
      }
      columns.insert(columns.begin(), static_cast<uint16_t>(columns.size()));
      const std::string from = payload.substr(keys, keyLength);
      const std::string to = payload.size() >= keys + 2u * keyLength ? payload.substr(keys + keyLength, keyLength) : "";
      List* list = nullptr;
      uint32_t id = 0;
      if ((argument & 0xF) != 0) {
        auto found = lists_.find(base);
        if (found == lists_.end()) return refuse(platform::kErrorInvalidHandle);
        id = base;
        list = &found->second;
      } else {
        id = nextList_++;
        list = &lists_[id];
        list->table = table;
        list->list.total = &list->total;
      }
      const int32_t found = IfsIdxSear(table, -1, columns.data(), keyLength, from.data(), to.empty() ? nullptr : to.data(),
                                       &list->list, argument, (argument & 0xF) ? list->list.search : nullptr, 0);
      if (found < 0) {
        if ((argument & 0xF) == 0) lists_.erase(id);
        return refuse(platform::kErrorInvalidParameter);
      }
      if (!refetch(*list)) return refuse(platform::kErrorInvalidParameter);
      if (found == 0 || list->total == 0) {
        if ((argument & 0xF) == 0) {
          IfsIdxRemove(&list->list);
          lists_.erase(id);
        }
        return P::frame(kDone, 0, handle);
      }
      return listReply(handle, id);
    }
    case 'x': {
      // Over the records of a list of this service, or (0) over all.
      const uint32_t over = P::u32At(payload, 0);
      FileExHandle set = nullptr;
      if (over != 0) {
        auto list = lists_.find(over);
        if (list == lists_.end()) return refuse(platform::kErrorInvalidHandle);
        set = list->second.list.search;
      }
      const std::vector<uint16_t> columns = columnsAt(payload, 6, P::u16At(payload, 4));
      FileExHandle index =
          FileExTempIdxCreate(table, static_cast<uint16_t>(columns.size()), columns.data(), nullptr, set, nullptr);
      if (!index) return refuse(platform::kErrorInvalidParameter);
      const uint32_t id = nextList_++;
      indexes_[id] = {index, columns};
      return P::frame(kData, 0, handle, P::u32(id) + P::u32(0) + P::u32(0));
    }
    case 'i': {
      // The records of this table whose key equals the key of a record of
      // the other table's list.
      FileExHandle other = tableOf(P::u32At(payload, 0));
      auto list = lists_.find(P::u32At(payload, 4));
      if (!other || list == lists_.end()) return refuse(platform::kErrorInvalidHandle);
      const uint16_t count = P::u16At(payload, 8);
      const std::vector<uint16_t> columns = columnsAt(payload, 10, count);
      const std::vector<uint16_t> otherColumns = columnsAt(payload, 10 + 2u * count, count);
      IndexForRequest index(table, columns), otherIndex(other, otherColumns);
      if (!index.ready() || !otherIndex.ready()) return refuse(platform::kErrorInvalidParameter);
      FileExHandle set = FileExRecRefSearByIdx(table, other, count, columns.data(), otherColumns.data(),
                                               list->second.list.search);
      if (!set) return refuse(platform::kErrorInvalidParameter);
      return newListReply(handle, table, set);
    }
    case 'o': {
      auto found = lists_.find(P::u32At(payload, 0));
      if (found == lists_.end()) return refuse(platform::kErrorInvalidHandle);
      const uint16_t count = P::u16At(payload, 4);
      std::vector<uint16_t> columns = columnsAt(payload, 8, count);
      columns.insert(columns.begin(), count);
      if (IfsRecOrder(table, -1, columns.data(), argument, &found->second.list) < 0 || !refetch(found->second))
        return refuse(platform::kErrorInvalidParameter);
      return listReply(handle, found->first);
    }
    default: return refuse(platform::kErrorBadCommand);
  }
}

}  // namespace testing_support
