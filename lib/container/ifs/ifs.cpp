// The Ifs front end: each call goes to the attached local disk (or its
// alternate, for paths beginning "/:") or, with no disk attached, to the
// remote file service. Remote handles travel in the entry-handle type.
#include "zemta/ifs.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "lib/container/ifs/ifs_internal.h"
#include "lib/core/little_endian.h"
#include "lib/core/report.h"
#include "platform/base/last_error.h"
#include "zemta/csr.h"
#include "zemta/sockifs.h"

namespace {

constexpr uint32_t kBadArgument = 0x20000085;
constexpr uint32_t kMissingArgument = 0x200000FF;
constexpr uint32_t kOutOfMemory = 0x20001001;
constexpr uint32_t kLastSystemError = 0xFFFFFFFFu;
// Read and write access for the range deletion.
constexpr uint32_t kRecDeleteOpenMode = 3;
constexpr int32_t kMaxIdsPerCall = 65535;  // the identifier count is a 16-bit value
constexpr uint32_t kNotFound = 0x20000082;
constexpr size_t kBinaryNameSize = 14;
constexpr size_t kDescriptorSize = 360;
// An entry descriptor's attribute word, and its type flags: a table carries
// the folder attribute and the table type flag.
constexpr size_t kDescriptorAttributes = 36;
constexpr size_t kDescriptorTypeFlags = 328;
constexpr size_t kDescriptorId = 336;
constexpr uint32_t kAttributeFolder = 0x10;
constexpr uint32_t kTypeTable = 0x4;

// Plain process-wide values, set before the front end is used from more
// than one thread.
FileExDiskHandle g_disk = nullptr;
FileExDiskHandle g_alternate = nullptr;

bool local() { return g_disk != nullptr; }

uint32_t remoteOf(FileExHandle entry) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(entry)); }
FileExHandle entryOf(uint32_t remote) { return reinterpret_cast<FileExHandle>(static_cast<uintptr_t>(remote)); }

// The disk a path addresses, and the path and length to give it.
struct Target {
  FileExDiskHandle disk;
  const char* path;
  int32_t length;
};

Target pathRule(const char* path, int32_t length) {
  if (g_alternate && path && path[0] == '/' && path[1] == ':')
    return {g_alternate, path + 2, length < 0 ? -1 : length - 2};
  return {g_disk, path, length};
}

int32_t reportRemote() {
  zemta::ReportError(__LINE__, __FILE__, kLastSystemError);
  return -1;
}

FileExHandle reportRemoteHandle() {
  reportRemote();
  return nullptr;
}

int32_t refuse(uint32_t code) {
  zemta::ReportError(__LINE__, __FILE__, code);
  return -1;
}

}  // namespace

FileExDiskHandle zemta::container::ifsAttachedDisk() { return g_disk; }

ZEMTA_API FileExDiskHandle IfsChgDisk(FileExDiskHandle disk, FileExDiskHandle alternate) {
  g_disk = disk;
  g_alternate = alternate;
  // The error reporter logs to the attached disk, or to the server without one.
  zemta::reporterAttachedDisk() = disk;
  return alternate;
}

ZEMTA_API FileExHandle IfsGetSysFile(uint32_t which, void* descriptor) {
  if (local()) {
    if (which == 0) return FileExGetCfgFile(g_disk, descriptor);
    if (which == 1) return FileExGetLogFile(g_disk, descriptor);
    refuse(kBadArgument);
    return nullptr;
  }
  const uint32_t handle = SockIfsGetSysFile(which, descriptor);
  return handle ? entryOf(handle) : reportRemoteHandle();
}

ZEMTA_API FileExHandle IfsCreate(const char* path, int32_t length, const char* description, uint32_t createWord,
                                 uint32_t keyType, uint32_t keyLength) {
  if (local()) {
    Target t = pathRule(path, length);
    return FileExCreate(t.disk, t.path, t.length, description, createWord, keyType, keyLength, nullptr);
  }
  const uint32_t handle = SockIfsCreate(path, length, description, createWord, keyType, keyLength);
  return handle ? entryOf(handle) : reportRemoteHandle();
}

ZEMTA_API FileExHandle IfsCreateByID(uint32_t idLow, uint32_t idHigh, int32_t keepOpen, int32_t onAlternate) {
  if (local()) {
    FileExDiskHandle disk = onAlternate && g_alternate ? g_alternate : g_disk;
    FileExHandle entry = FileExCreateByID(disk, idLow, idHigh, nullptr, nullptr);
    if (!entry || keepOpen) return entry;
    if (FileExClose(entry) != 0) {
      FileExRelease(entry, g_alternate);
      return nullptr;
    }
    return entry;
  }
  const uint32_t handle = SockIfsCreateByID(idLow, idHigh, keepOpen, onAlternate);
  return handle ? entryOf(handle) : reportRemoteHandle();
}

ZEMTA_API int32_t IfsRelease(FileExHandle entry) {
  if (local()) return FileExRelease(entry, g_alternate);
  return SockIfsRelease(remoteOf(entry)) == 0 ? 0 : reportRemote();
}

namespace {

// A folder path followed by a 14-byte binary record name: the record is
// deleted by its ID from the table the folder part names.
int32_t removeRecordByName(const Target& t, size_t textLength) {
  size_t folderLength = textLength;
  if (folderLength > 1 && t.path[folderLength - 1] == '\\') --folderLength;
  const std::string folder(t.path, folderLength);
  uint8_t descriptor[kDescriptorSize] = {};
  const int32_t exists = FileExIsExist(t.disk, folder.c_str(), -1, descriptor);
  if (exists < 0) return -1;
  if (exists == 0) return refuse(kNotFound);
  if (!(zemta::get_u32le(descriptor + kDescriptorAttributes) & kAttributeFolder) ||
      !(zemta::get_u32le(descriptor + kDescriptorTypeFlags) & kTypeTable))
    return FileExRemove(t.disk, t.path, t.length);
  // The table may be open already; that handle is the caller's and stays open.
  int32_t alreadyOpen = 0;
  FileExHandle table = FileExCreateByID(t.disk, zemta::get_u32le(descriptor + kDescriptorId),
                                        zemta::get_u32le(descriptor + kDescriptorId + 4), nullptr, &alreadyOpen);
  if (!table) return -1;
  const uint8_t* name = reinterpret_cast<const uint8_t*>(t.path) + textLength;
  const int32_t result = FileExRecDelByID(table, zemta::get_u32le(name + 2), zemta::get_u32le(name + 6));
  if (!alreadyOpen) FileExRelease(table, g_alternate);
  return result;
}

}  // namespace

ZEMTA_API int32_t IfsRemove(const char* path, int32_t length) {
  if (local()) {
    Target t = pathRule(path, length);
    if (t.path && t.length > 0) {
      const size_t text = strnlen(t.path, static_cast<size_t>(t.length));
      if (static_cast<size_t>(t.length) == text + kBinaryNameSize && !(text == 1 && t.path[0] == '\\'))
        return removeRecordByName(t, text);
    }
    return FileExRemove(t.disk, t.path, t.length);
  }
  return SockIfsRemove(path, length) == 0 ? 0 : reportRemote();
}

ZEMTA_API FileExHandle IfsCopyCreate(const char* path, int32_t length, FileExHandle search) {
  if (local()) return CsrCopyCreate(g_alternate, nullptr, 0, g_disk, path, length, search);
  const uint32_t handle = SockIfsCopyCreate(path, length, remoteOf(search));
  return handle ? entryOf(handle) : reportRemoteHandle();
}

ZEMTA_API int32_t IfsGetName(int32_t onAlternate, uint32_t idLow, uint32_t idHigh, uint32_t selector, char* buffer,
                             int32_t size, void* descriptor) {
  if (!local()) {
    const int32_t length = SockIfsGetName(static_cast<uint8_t>(onAlternate), idLow, idHigh, selector, buffer, size,
                                          descriptor);
    return length >= 0 ? length : reportRemote();
  }
  if (!onAlternate) return FileExGetName(g_disk, idLow, idHigh, selector, buffer, size, descriptor);
  if (!buffer || (selector & 0xFFFF) != 0)
    return FileExGetName(g_alternate, idLow, idHigh, selector, buffer, size, descriptor);
  // A path on the alternate disk comes back as the front end addresses it.
  if (size < 3) return refuse(kBadArgument);
  const int32_t length = FileExGetName(g_alternate, idLow, idHigh, selector, buffer + 2, size - 2, descriptor);
  if (length < 0) return -1;
  buffer[0] = '/';
  buffer[1] = ':';
  return length + 2;
}

ZEMTA_API int32_t IfsIsExist(const char* path, int32_t length, void* descriptor) {
  if (local()) {
    Target t = pathRule(path, length);
    return FileExIsExist(t.disk, t.path, t.length, descriptor);
  }
  const int32_t answer = SockIfsIsExist(path, length, descriptor);
  return answer >= 0 ? answer : reportRemote();
}

ZEMTA_API int32_t IfsRename(const char* path, const char* newName) {
  if (local()) {
    Target t = pathRule(path, -1);
    return FileExRename(t.disk, t.path, newName);
  }
  return SockIfsRename(path, newName) == 0 ? 0 : reportRemote();
}

ZEMTA_API int32_t IfsOpen(FileExHandle entry, uint32_t mode, const char* description) {
  if (local()) return FileExOpen(entry, mode, description);
  return SockIfsOpen(remoteOf(entry), static_cast<int32_t>(mode)) == 0 ? 0 : reportRemote();
}

ZEMTA_API int32_t IfsClose(FileExHandle entry) {
  if (local()) return FileExClose(entry);
  return SockIfsClose(remoteOf(entry)) == 0 ? 0 : reportRemote();
}

ZEMTA_API int32_t IfsDescriptor(FileExHandle entry, void* descriptor, int32_t mode) {
  if (local()) return FileExDescriptor(entry, descriptor, mode);
  const int32_t result = SockIfsDescriptor(remoteOf(entry), descriptor);
  return result >= 0 ? result : reportRemote();
}

ZEMTA_API uint64_t IfsGetSize(FileExHandle entry) {
  if (local()) return FileExGetSize(entry);
  const int64_t size = SockIfsGetSize(remoteOf(entry));
  if (size == -1) reportRemote();
  return static_cast<uint64_t>(size);
}

ZEMTA_API int32_t IfsSetSize(FileExHandle entry, uint32_t sizeLow, uint32_t sizeHigh) {
  if (local()) return FileExSetSize(entry, sizeLow, sizeHigh);
  return SockIfsSetSize(remoteOf(entry), sizeLow, static_cast<int32_t>(sizeHigh)) == 0 ? 0 : reportRemote();
}

ZEMTA_API uint64_t IfsSetPointer(FileExHandle entry, uint32_t distanceLow, int32_t distanceHigh, int32_t method) {
  if (local()) {
    const int64_t distance = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(distanceHigh)) << 32) |
                                                  distanceLow);
    return FileExSetPointer(entry, distance, method);
  }
  const int64_t position = SockIfsSetPointer(remoteOf(entry), distanceLow, distanceHigh, static_cast<uint32_t>(method));
  if (position == -1) reportRemote();
  return static_cast<uint64_t>(position);
}

namespace {

// Moves a local entry's pointer for a transfer, unless it reads or writes
// on at the current position.
bool positionLocal(FileExHandle entry, uint32_t offsetLow, int32_t offsetHigh, int32_t method) {
  if (offsetLow == 0 && offsetHigh == 0 && method == 1) return true;
  return static_cast<int64_t>(IfsSetPointer(entry, offsetLow, offsetHigh, method)) >= 0;
}

}  // namespace

ZEMTA_API int32_t IfsRead(FileExHandle entry, void* buffer, uint32_t length, uint32_t* count, uint32_t offsetLow,
                          int32_t offsetHigh, int32_t method) {
  if (local()) {
    if (count) *count = 0;
    if (!positionLocal(entry, offsetLow, offsetHigh, method)) return -1;
    return FileExRead(entry, buffer, length, count);
  }
  return SockIfsRead(remoteOf(entry), buffer, length, count, offsetLow, offsetHigh, static_cast<uint32_t>(method)) == 0
             ? 0
             : reportRemote();
}

ZEMTA_API int32_t IfsWrite(FileExHandle entry, const void* data, uint32_t length, uint32_t offsetLow,
                           int32_t offsetHigh, int32_t method) {
  if (local()) {
    if (!positionLocal(entry, offsetLow, offsetHigh, method)) return -1;
    return FileExWrite(entry, data, length);
  }
  return SockIfsWrite(remoteOf(entry), data, length, offsetLow, offsetHigh, static_cast<uint32_t>(method)) == 0
             ? 0
             : reportRemote();
}

namespace {

constexpr uint64_t kTableItself = ~0ull;
constexpr uint16_t kDescriptorType = 0x71F;

// The remote item array is handed on as it came: same layout.
static_assert(sizeof(IfsFieldValue) == sizeof(SockIfsCidItem));
static_assert(offsetof(IfsFieldValue, length) == offsetof(SockIfsCidItem, length));
static_assert(offsetof(IfsFieldValue, value) == offsetof(SockIfsCidItem, data));

struct Value {
  uint16_t field;
  uint16_t type;
  std::vector<uint8_t> bytes;
};

// Reads one field of an entry; false on a failure (reported).
bool readField(FileExHandle entry, uint16_t fieldClass, uint16_t field, bool definitionText, Value* out) {
  const uint32_t key = FILEEX_FIELD_KEY(fieldClass, field);
  out->field = field;
  out->type = 0;
  out->bytes.clear();
  if (definitionText) {
    // A column's definition is handed on as its text, with the end.
    const int32_t size = FileExGetFldStr(entry, key, nullptr, 0, 0);
    if (size < 0) return false;
    uint16_t type = 0;
    if (FileExGetFld(entry, key, nullptr, 0, &type) < 0) return false;
    out->type = type;
    if (size == 0) return true;
    out->bytes.resize(static_cast<size_t>(size));
    return FileExGetFldStr(entry, key, reinterpret_cast<char*>(out->bytes.data()), size, 0) >= 0;
  }
  uint16_t type = 0;
  const int32_t length = FileExGetFld(entry, key, nullptr, 0, &type);
  if (length < 0) return false;
  out->type = type;
  if (length == 0) return true;
  out->bytes.resize(static_cast<size_t>(length));
  return FileExGetFld(entry, key, out->bytes.data(), length, &type) >= 0;
}

// One allocation: the items, then the values they point at.
int32_t handOut(const std::vector<Value>& values, IfsFieldValue** out) {
  size_t total = values.size() * sizeof(IfsFieldValue);
  for (const Value& v : values) {
    if (v.bytes.size() > 0xFFFF) return refuse(kBadArgument);  // the item's length is 16 bits
    total += v.bytes.size();
  }
  auto* block = static_cast<uint8_t*>(std::malloc(total ? total : 1));
  if (!block) return refuse(kOutOfMemory);
  auto* items = reinterpret_cast<IfsFieldValue*>(block);
  uint8_t* data = block + values.size() * sizeof(IfsFieldValue);
  for (size_t i = 0; i < values.size(); ++i) {
    const Value& v = values[i];
    items[i] = {v.field, v.type, static_cast<uint16_t>(v.bytes.size()), 0, nullptr};
    if (!v.bytes.empty()) {
      std::memcpy(data, v.bytes.data(), v.bytes.size());
      items[i].value = data;
      data += v.bytes.size();
    }
  }
  *out = items;
  return static_cast<int32_t>(values.size());
}

int32_t localGetCID(FileExHandle entry, uint32_t selector, IfsFieldValue** out, int32_t mode, uint64_t number) {
  if (mode == 0) {
    Value value;
    if (!readField(entry, static_cast<uint16_t>(selector), static_cast<uint16_t>(selector >> 16), false, &value))
      return -1;
    const bool present = value.type != 0xFFFF;
    if (!out) return present ? 1 : 0;
    if (value.bytes.empty()) return 0;
    return handOut({value}, out);
  }
  if (selector >= 0x10000) return refuse(kBadArgument);
  const auto fieldClass = static_cast<uint16_t>(selector);
  FileExHandle source = entry;
  if (number != kTableItself) {
    source = FileExRecOpen(entry, static_cast<uint32_t>(number), static_cast<uint32_t>(number >> 32), 0, nullptr);
    if (!source) return -1;
  }
  int32_t result = -1;
  std::vector<Value> values;
  std::vector<uint16_t> fields;
  bool ok = true;
  if (fieldClass == 3) {
    const int32_t count = FileExGetFldCount(source, 3, nullptr, 0);
    ok = count >= 0;
    if (ok && count > 0) {
      fields.resize(static_cast<size_t>(count));
      ok = FileExGetFldCount(source, 3, fields.data(), count) == count;
    }
  } else {
    uint16_t* order = nullptr;
    const int32_t count = FileExAllocOdr(entry, 1, &order);
    ok = count >= 0;
    if (ok && order) {
      fields.assign(order, order + count);
      FileExFreeOdr(entry, &order);
    }
  }
  const bool definitions = fieldClass == 2 && source == entry;
  for (size_t i = 0; ok && i < fields.size(); ++i) {
    values.emplace_back();
    ok = readField(source, fieldClass, fields[i], definitions, &values.back());
  }
  if (ok && fieldClass == 4) {
    for (uint16_t extraClass : {uint16_t{5}, uint16_t{6}}) {
      values.emplace_back();
      ok = ok && readField(source, extraClass, 10, false, &values.back());
    }
  }
  if (ok && mode == 2) {
    Value descriptor{0, kDescriptorType, std::vector<uint8_t>(kDescriptorSize)};
    ok = FileExDescriptor(source, descriptor.bytes.data(), 8) >= 0;
    values.push_back(std::move(descriptor));
  }
  if (ok) {
    bool any = false;
    for (const Value& v : values) any = any || !v.bytes.empty();
    if (out) *out = nullptr;
    if (!any && mode != 2) result = 0;
    else if (!out) result = static_cast<int32_t>(values.size());
    else result = handOut(values, out);
  }
  if (source != entry) FileExRelease(source, nullptr);
  return result;
}

int32_t localSetCID(FileExHandle table, uint16_t fieldClass, int32_t count, const IfsFieldValue* values,
                    uint64_t number) {
  FileExHandle target = table;
  bool inserted = false;
  uint64_t insertedId = 0;
  if (number != kTableItself) {
    uint64_t records = 0;
    if (FileExGetRecCount(table, &records) < 0) return -1;
    if (number <= records) {
      target = FileExRecOpen(table, static_cast<uint32_t>(number), static_cast<uint32_t>(number >> 32), 0, nullptr);
    } else {
      target = FileExRecInsert(table, ~0u, ~0u, nullptr, 0, nullptr);
      inserted = target && FileExGetID(target, &insertedId) == 0;
    }
    if (!target) return -1;
  }
  bool ok = true;
  for (int32_t i = 0; ok && i < count; ++i) {
    uint32_t key = FILEEX_FIELD_KEY(fieldClass, values[i].field);
    ok = FileExSetFld(target, &key, values[i].value, values[i].length, values[i].type) == 0;
  }
  if (ok) ok = FileExFldWrite(target, target == table ? nullptr : table, 0) == 0;
  if (target != table) FileExRelease(target, nullptr);
  if (!ok && inserted)
    FileExRecDelByID(table, static_cast<uint32_t>(insertedId), static_cast<uint32_t>(insertedId >> 32));
  return ok ? 0 : -1;
}

}  // namespace

ZEMTA_API int32_t IfsGetCID(FileExHandle entry, uint32_t selector, IfsFieldValue** out, int32_t mode,
                            uint32_t numberLow, uint32_t numberHigh) {
  if (out) *out = nullptr;
  if (local()) return localGetCID(entry, selector, out, mode, (static_cast<uint64_t>(numberHigh) << 32) | numberLow);
  const int32_t result = SockIfsGetCID(remoteOf(entry), selector, reinterpret_cast<SockIfsCidItem**>(out), mode,
                                       numberLow, numberHigh);
  return result >= 0 ? result : reportRemote();
}

ZEMTA_API int32_t IfsSetCID(FileExHandle table, uint16_t fieldClass, int32_t count, const IfsFieldValue* values,
                            uint32_t numberLow, uint32_t numberHigh) {
  if (count < 0) return refuse(kBadArgument);
  if (count > 0 && !values) return refuse(kMissingArgument);
  if (local())
    return localSetCID(table, fieldClass, count, values, (static_cast<uint64_t>(numberHigh) << 32) | numberLow);
  return SockIfsSetCID(remoteOf(table), fieldClass, count, reinterpret_cast<const SockIfsCidItem*>(values), numberLow,
                       numberHigh) == 0
             ? 0
             : reportRemote();
}

ZEMTA_API uint64_t IfsRecTotal(FileExHandle table) {
  if (local()) {
    uint64_t count = 0;
    const int32_t result = FileExGetRecCount(table, &count);
    // A negative result is handed on sign-extended: all ones.
    return result < 0 ? static_cast<uint64_t>(static_cast<int64_t>(result)) : count;
  }
  const int64_t total = SockIfsRecTotal(remoteOf(table));
  if (total == -1) reportRemote();
  return static_cast<uint64_t>(total);
}

ZEMTA_API int64_t IfsRecDelete(FileExHandle table, uint32_t fromLow, uint32_t fromHigh, uint32_t toLow,
                               uint32_t toHigh) {
  if (!local()) {
    const int32_t result = SockIfsRecDelete(remoteOf(table), fromLow, fromHigh, toLow, toHigh);
    return result >= 0 ? result : reportRemote();
  }
  const uint64_t from = (static_cast<uint64_t>(fromHigh) << 32) | fromLow;
  const uint64_t to = (static_cast<uint64_t>(toHigh) << 32) | toLow;
  uint64_t count = 0;
  if (FileExGetRecCount(table, &count) < 0) return -1;
  if (from < 1 || from > to || to > count) return refuse(kBadArgument);
  if (FileExOpen(table, kRecDeleteOpenMode, nullptr) != 0) return -1;
  for (uint64_t n = to; n >= from; --n) {
    if (FileExRecDelete(table, static_cast<uint32_t>(n), static_cast<uint32_t>(n >> 32)) != 0) {
      FileExClose(table);
      return -1;
    }
  }
  FileExClose(table);
  return static_cast<int64_t>(count);
}

ZEMTA_API int32_t IfsRecDelByID(FileExHandle table, int32_t count, const uint64_t* ids) {
  if (!ids) return refuse(kMissingArgument);
  // The identifier count travels as a 16-bit value: more would be cut
  // silently, so it is refused whole.
  if (count < 0 || count > kMaxIdsPerCall) return refuse(kBadArgument);
  if (!local()) {
    std::vector<SockIfsEntry> entries(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i)
      entries[static_cast<size_t>(i)] = {static_cast<uint32_t>(ids[i]), static_cast<uint32_t>(ids[i] >> 32)};
    return SockIfsRecDelByID(remoteOf(table), count, entries.data()) >= 0 ? 0 : reportRemote();
  }
  for (int32_t i = 0; i < count; ++i) {
    if (FileExRecDelByID(table, static_cast<uint32_t>(ids[i]), static_cast<uint32_t>(ids[i] >> 32)) != 0) {
      FileExClose(table);
      return -1;
    }
  }
  return 0;
}

namespace {

void freeIds(IfsRecList* list) {
  std::free(list->ids);
  list->ids = nullptr;
  list->capacity = 0;
  list->count = 0;
}

// Makes room for `total` IDs. A total beyond what the capacity (a 32-bit
// count) can hold, or whose bytes overflow, is refused rather than wrapped.
bool reserveIds(IfsRecList* list, uint64_t total) {
  if (total > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) ||
      total > std::numeric_limits<size_t>::max() / sizeof(uint64_t)) {
    refuse(kOutOfMemory);
    return false;
  }
  if (list->ids && static_cast<uint64_t>(list->capacity) >= total) {
    list->capacity = static_cast<int32_t>(total);
    return true;
  }
  freeIds(list);
  list->ids = static_cast<uint64_t*>(std::calloc(total ? static_cast<size_t>(total) : 1, sizeof(uint64_t)));
  if (!list->ids) {
    refuse(kOutOfMemory);
    return false;
  }
  list->capacity = static_cast<int32_t>(total);
  return true;
}

// An index made on the searched columns for one search when the table has
// none on them, and removed after it whatever the outcome.
class TemporaryIndex {
 public:
  TemporaryIndex(FileExHandle table, uint16_t count, const uint16_t* columns) {
    const int32_t has = FileExIsIndex(table, count, columns);
    if (has < 0) return;
    if (has == 0) {
      made_ = FileExTempIdxCreate(table, count, columns, nullptr, nullptr, nullptr);
      if (!made_) return;
    }
    ready_ = true;
  }
  ~TemporaryIndex() {
    if (made_) FileExIdxRemove(made_);
  }
  TemporaryIndex(const TemporaryIndex&) = delete;
  TemporaryIndex& operator=(const TemporaryIndex&) = delete;
  bool ready() const { return ready_; }

 private:
  FileExHandle made_ = nullptr;
  bool ready_ = false;
};

int32_t remoteSearch(FileExHandle table, uint16_t count, const uint16_t* columns, int32_t keyWidth,
                     const void* fromKey, const void* toKey, IfsRecList* list, uint32_t flags, FileExHandle existing,
                     int32_t fetch) {
  SockIfsList found{};
  const int32_t result = SockIfsIdxSear(remoteOf(table), count, columns, keyWidth, fromKey, toKey, &found, flags,
                                        remoteOf(existing), fetch);
  if (result < 0) return reportRemote();
  list->search = entryOf(found.listId);
  if (list->total) *list->total = static_cast<uint64_t>(found.total);
  if (result > 0 && fetch) {
    if (!reserveIds(list, static_cast<uint64_t>(found.received))) {
      std::free(found.entries);
      return -1;
    }
    for (int32_t i = 0; i < found.received; ++i)
      list->ids[i] = (static_cast<uint64_t>(found.entries[i].high) << 32) | found.entries[i].low;
    list->count = found.received;
  }
  std::free(found.entries);
  return result;
}

}  // namespace

ZEMTA_API int32_t IfsIdxSear(FileExHandle table, int32_t fieldNumber, const uint16_t* columns, int32_t keyWidth,
                             const void* fromKey, const void* toKey, IfsRecList* list, uint32_t flags,
                             FileExHandle existing, int32_t fetch) {
  if (fieldNumber == 0 || keyWidth == 0) return refuse(kBadArgument);
  if (!fromKey || !list || (fieldNumber == -1 && !columns)) return refuse(kMissingArgument);
  const uint32_t kind = flags & 0xF;
  if (kind == IFS_SEARCH_NEW) {
    if (existing) return refuse(kMissingArgument);
    freeIds(list);
  } else if (!existing || kind > IFS_SEARCH_OR) {
    return refuse(kMissingArgument);
  }
  list->count = 0;
  const uint16_t single = static_cast<uint16_t>(fieldNumber);
  const uint16_t count = fieldNumber == -1 ? columns[0] : 1;
  const uint16_t* list16 = fieldNumber == -1 ? columns + 1 : &single;
  if (flags & IFS_SEARCH_NO_TO_KEY) toKey = (flags & IFS_SEARCH_STRICT) ? FILEEX_PATTERN_STRICT : FILEEX_PATTERN_LOOSE;
  else if (!toKey) return refuse(kMissingArgument);
  if (!local()) return remoteSearch(table, count, list16, keyWidth, fromKey, toKey, list, flags, existing, fetch);

  FileExHandle set = existing;
  {
    TemporaryIndex index(table, count, list16);
    if (!index.ready()) return -1;
    if (kind == IFS_SEARCH_NEW) {
      set = FileExRecSear(table, count, list16, fromKey, toKey, nullptr);
      if (!set) return -1;
    } else if ((kind == IFS_SEARCH_AND ? FileExRecAndSear(table, count, list16, fromKey, toKey, set)
                                       : FileExRecOrSear(table, count, list16, fromKey, toKey, set)) < 0) {
      return -1;
    }
  }
  list->search = set;
  uint64_t total = 0;
  if (FileExGetSearCount(set, &total) < 0) return -1;
  if (list->total) *list->total = total;
  if (kind == IFS_SEARCH_NEW && total == 0) {
    list->search = nullptr;
    return FileExIdxRemove(set);
  }
  if (!fetch) return 1;
  if (!reserveIds(list, total)) return -1;
  uint64_t position = 0;
  while (list->count < list->capacity) {
    uint64_t number = 0;
    const int32_t got = FileExFetchNextRec(table, set, &position, &number);
    if (got < 0) return -1;  // a fetch failed before the capacity was reached
    if (got == 0) break;
    list->ids[list->count++] = number;
  }
  return 1;
}

ZEMTA_API int32_t IfsRecOrder(FileExHandle table, int32_t fieldNumber, const uint16_t* columns, int32_t ascending,
                              IfsRecList* list) {
  if (fieldNumber == 0) return refuse(kBadArgument);
  if (!list || (fieldNumber == -1 && !columns)) return refuse(kMissingArgument);
  const uint16_t single = static_cast<uint16_t>(fieldNumber);
  const uint16_t count = fieldNumber == -1 ? columns[0] : 1;
  const uint16_t* list16 = fieldNumber == -1 ? columns + 1 : &single;
  if (!local()) {
    freeIds(list);
    SockIfsList remote{};
    remote.listId = remoteOf(list->search);
    const int32_t result = SockIfsIdxOrder(remoteOf(table), count, list16, ascending, &remote, 1);
    if (result < 0) {
      std::free(remote.entries);
      return reportRemote();
    }
    list->search = entryOf(remote.listId);
    if (list->total) *list->total = static_cast<uint64_t>(static_cast<uint32_t>(remote.total));
    if (!reserveIds(list, static_cast<uint64_t>(remote.received))) {
      std::free(remote.entries);
      return -1;
    }
    for (int32_t i = 0; i < remote.received; ++i)
      list->ids[i] = (static_cast<uint64_t>(remote.entries[i].high) << 32) | remote.entries[i].low;
    list->count = remote.received;
    std::free(remote.entries);
    return result;
  }
  if (!list->search) return refuse(kMissingArgument);
  int32_t ordered = -1;
  {
    TemporaryIndex index(table, count, list16);
    if (!index.ready()) return -1;
    ordered = FileExRecOrder(table, count, list16, ascending, list->search);
  }
  if (ordered < 0) return -1;
  // The IDs are fetched again in the new order, as many as the list held.
  const int32_t expected = list->count;
  list->count = 0;
  uint64_t position = 0;
  while (list->ids && list->count < list->capacity) {
    uint64_t number = 0;
    const int32_t got = FileExFetchNextRec(table, list->search, &position, &number);
    if (got < 0) return -1;
    if (got == 0) break;
    list->ids[list->count++] = number;
  }
  return list->count == expected ? ordered : -1;
}

ZEMTA_API int32_t IfsIdxRemove(IfsRecList* list) {
  if (!list) return refuse(kMissingArgument);
  freeIds(list);
  if (!local()) {
    SockIfsList remote{};
    remote.listId = remoteOf(list->search);
    if (SockIfsIdxRemove(&remote) != 0) return reportRemote();
    list->search = nullptr;
    return 0;
  }
  std::free(list->scratch);
  list->scratch = nullptr;
  list->word = 0;
  if (list->search) {
    const int32_t result = FileExIdxRemove(list->search);
    list->search = nullptr;
    if (result != 0) return -1;
  }
  return 0;
}
