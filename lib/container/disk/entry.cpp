// The entries of a container disk: entry records, handles, the access
// bracket, lookup, creation, release, removal, renaming, the current folder,
// names and paths, entry information and the small getters and setters.
//
// Entry record (one 512-byte block; little-endian):
//   | offset | size | field                                                        |
//   | 0      | 4    | tag 0xFE0F01F0 (0xFEDB0124 is read as well, never written)    |
//   | 4      | 128  | name, NUL-padded (at most 127), or the 14-byte ID key + zeros |
//   | 132    | 128  | description, NUL-padded (at most 127)                        |
//   | 260    | 76   | zero                                                         |
//   | 336    | 2    | u16 highest group number of the attribute list               |
//   | 338    | 2    | u16 highest item number of the attribute list                |
//   | 340    | 4    | zero                                                         |
//   | 344    | 8    | table: u64 ID of its record store                            |
//   | 352    | 2    | index, ID set: i16 tree order                                |
//   | 354    | 2    | index, ID set: i16 key type                                  |
//   | 356    | 2    | index, ID set: i16 key length                                |
//   | 358    | 26   | zero (the disk header's free-space fields)                   |
//   | 384    | 8    | table, ID set: u64 record count                              |
//   | 392    | 8    | u64 entry ID                                                 |
//   | 400    | 8    | u64 parent ID (0 under the root)                             |
//   | 408    | 16   | CLSID                                                        |
//   | 424    | 24   | creation, last access, last write (FILETIME, UTC)            |
//   | 448    | 4    | attributes: 0x10 folder, 0x80 normal, 0x100 temporary, 6 set up |
//   | 452    | 4    | type flags: 1 first tree, 2 data, 4 table, 8 record, 0x10 index, |
//   |        |      | 0x20 ID set, 0x40000000 linked table, 0x80000000 temporary   |
//   | 456    | 24   | reserved, zero                                               |
//   | 480    | 8    | u64 data size                                                |
//   | 488    | 8    | zero                                                         |
//   | 496    | 8    | root slot of the first tree (folder names; an index's keys)  |
//   | 504    | 8    | root slot of the second tree (data blocks; an index's IDs)   |
//
// Kinds (low byte of the creation flags): 1 file (0x80, data), 2 folder (0x10,
// first tree), 3 table (0x10, first tree, data, table; with a record store),
// 4 record (0x80, data, record), 5 index and 6 index on demand (0x80, first
// tree, index), 7 ID set (0x80, first tree, index, ID set; order 10, key type
// 0x82, key length 8). An index's order is (488 / (key length + 16)) / 2.
//
// IDs: the header's counter is raised by one for each new entry; a result
// below 16 becomes 16 for a path outside "\SYSTEM", and 14 for "\SYSTEM\LOG"
// when it is below 14, so system entries take 1 to 15 and user entries start
// at 16.
//
// Attribute list: groups (u16 1 to 255) of items (u16 1 to 65535), each item
// stored as u16 item, u16 value type, u16 length, then the bytes.
//
// Multi-column index keys: the column values side by side; text and bytes as
// they are, numbers big-endian over the column's size so that bytes sort as
// values do. Signed integers have their sign bit flipped and reals their
// sign bit flipped (all bits of negatives), so that negative values sort
// below positive ones; an index definition whose first word has
// kIndexDefOrderedSigns set holds keys made so, and one without it was made
// with plain reversed bytes and is to be rebuilt by the index check.
#include <algorithm>
#include <cstring>
#include <set>

#include "lib/container/disk/container_internal.h"
#include "lib/container/disk/entry_access.h"
#include "lib/container/disk/entry_model.h"
#include "lib/container/tables/table_internal.h"
#include "lib/core/report.h"
#include "platform/base/last_error.h"

namespace zemta::container {


std::set<const void*>& liveEntries() {
  static std::set<const void*> live;
  return live;
}

constexpr uint32_t kMaxName = 127;


void report(const Failure& failure) {
  if (failure.code != 0) ReportError(failure.line, __FILE__, failure.code);
}


bool isLiveEntry(const void* handle) { return handle && liveEntries().count(handle) != 0; }

// --- handles -------------------------------------------------------------------



bool resolveHandle(const void* handle, Target* target) {
  if (Disk* disk = findDisk(handle)) {
    target->disk = disk;
    return true;
  }
  if (!isLiveEntry(handle)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return false;
  }
  auto* entry = const_cast<Entry*>(static_cast<const Entry*>(handle));
  const uint32_t tag = get_u32le(entry->record);
  if (tag != kEntryTag && tag != kEntryTagOther) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return false;
  }
  Disk* disk = diskAt(entry->diskSlot);
  if (!disk || disk->check != kDiskCheck) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return false;
  }
  target->disk = disk;
  target->entry = entry;
  return true;
}

Entry* newEntry(Disk& disk) {
  auto* entry = new Entry();
  put_u32le(entry->record, kEntryTag);
  entry->diskSlot = disk.slot;
  disk.handles.push_back(entry);
  liveEntries().insert(entry);
  return entry;
}

void dropTree(Disk& disk, int32_t* tree) {
  if (*tree == -1) return;
  if (*tree == disk.currentTree) {
    *tree = -1;
    return;
  }
  if (*tree == disk.cachedTree) disk.cachedTree = -1;
  BtreeExRelease(*tree);
  *tree = -1;
}


void releaseEntryObject(Disk& disk, Entry* entry) {
  for (Entry* index : entry->indexes)
    if (index && isLiveEntry(index)) releaseEntryObject(disk, index);
  entry->indexes.clear();
  if (entry->store && isLiveEntry(entry->store)) releaseEntryObject(disk, entry->store);
  entry->store = nullptr;
  dropTree(disk, &entry->firstTree);
  dropTree(disk, &entry->secondTree);
  entry->storeNumberTree = entry->storeIdTree = -1;
  auto at = std::find(disk.handles.begin(), disk.handles.end(), entry);
  if (at != disk.handles.end()) disk.handles.erase(at);
  liveEntries().erase(entry);
  put_u32le(entry->record, 0);
  delete entry;
}

// --- the access bracket --------------------------------------------------------


constexpr uint32_t kAccessBits = 0x3 | kStatePlainAccess;

bool accessed(const Entry& entry) { return (entry.state & kAccessBits) != 0; }


bool beginAccess(Disk& disk, Entry* entry, uint32_t mode) {
  if (entry && (entry->state & (kAccessBits | kStateOpen | kStateHeld))) return false;
  if (!entry && disk.accessed > 0 && disk.file != 0) {
    ++disk.accessed;
    return true;
  }
  if (disk.file == 0 && FileExDiskOpenFile(disk, mode, nullptr) != 0) ENTRY_FAIL(0);
  if (!entry) {
    ++disk.accessed;
    return true;
  }
  forFamily(*entry, [&](Entry& e) {
    e.state |= mode & kAccessBits;
    ++disk.accessed;
  });
  return true;
}

// Ends access; failures are remembered in *result and every step still runs.
void endAccess(Disk& disk, Entry* entry, int32_t* result) {
  if (entry) {
    if ((entry->state & (kStateOpen | kStateHeld)) || !accessed(*entry)) return;
    FileExEntryFlush(disk, *entry, result);
    forFamily(*entry, [&](Entry& e) {
      e.state &= ~kAccessBits;
      if (disk.accessed > 0) --disk.accessed;
    });
  } else if (disk.accessed > 0) {
    --disk.accessed;
  }
  if (disk.accessed == 0 && FileExDiskCloseFile(disk, false) != 0) *result = -1;
}



void FileExEntryFlush(Disk& disk, Entry& entry, int32_t* result) {
  if (entry.store) FileExEntryFlush(disk, *entry.store, result);
  for (Entry* index : entry.indexes)
    if (index) FileExEntryFlush(disk, *index, result);
  if (entry.state & kStateDirty) {
    uint32_t code = 0;
    if (!diskWrite(disk, entry.position, entry.record, kDirtyPart, &code)) {
      ZEMTA_REPORT(code);
      *result = -1;
    } else {
      entry.state &= ~kStateDirty;
    }
  }
  if (entry.firstTree != -1 || entry.secondTree != -1 || entry.store || !entry.indexes.empty())
    if (BtreeExFlushStore(&disk, &entry) != 0) *result = -1;
}

// --- trees of an entry ---------------------------------------------------------


int32_t FileExGetFuncHere(void* userData, BtreeExAllocFunc* alloc, BtreeExFreeFunc* release, int32_t* shared) {
  return FileExGetFunc(userData, reinterpret_cast<void*>(alloc), reinterpret_cast<void*>(release), shared);
}

int32_t makeTree(Disk& disk, int64_t slot, uint32_t order, uint32_t keyType, uint32_t keyLen, BtreeExCompareFunc compare) {
  int32_t tree = BtreeExCreate(nullptr, static_cast<uint32_t>(slot), static_cast<uint32_t>(static_cast<uint64_t>(slot) >> 32),
                               order, keyType, keyLen, disk.owner, compare, 0, &disk, 0, FileExGetFuncHere);
  if (tree == -1) ENTRY_FAIL(0);
  return tree;
}

void attachTrees(Disk& disk, Entry& entry) {
  const uint32_t flags = entry.typeFlags();
  if (flags & kTypeIndex) {
    const uint32_t order = static_cast<uint16_t>(get_u16le(entry.record + kFieldOrder));
    const uint32_t keyType = get_u16le(entry.record + kFieldKeyType);
    const uint32_t keyLen = get_u16le(entry.record + kFieldKeyLength);
    BtreeExCompareFunc compare = FileExSelectCompare(keyType, keyLen);
    if (!compare || order == 0) ENTRY_FAIL(ZEMTA_ERR_FILE_FORMAT);
    entry.firstTree = makeTree(disk, entry.position + kFieldFirstRoot, order, keyType, keyLen, compare);
    if (flags & kTypeIdSet)
      entry.secondTree = makeTree(disk, entry.position + kFieldSecondRoot, 10, 0xC2, 8, FileExCmpBlockID);
    else
      entry.secondTree = makeTree(disk, entry.position + kFieldSecondRoot, order, keyType | 0x40, keyLen,
                                  FileExCmpBlockID);
    return;
  }
  if (flags & kTypeFirstTree) {
    if (disk.currentSet && disk.currentPosition == entry.position) entry.firstTree = disk.currentTree;
    else entry.firstTree = makeTree(disk, entry.position + kFieldFirstRoot, 8, 4, 14, FileExCmpEntryKey);
  }
  if (flags & kTypeData)
    entry.secondTree = makeTree(disk, entry.position + kFieldSecondRoot, 10, 2, 8, FileExCmpUnsigned);
}

uint64_t newId(Disk& disk, const std::string& path) {
  uint64_t id = get_u64le(disk.header + kFieldId) + 1;
  if (id < 16) {
    if (path.compare(0, 7, "\\SYSTEM") != 0) id = 16;
    else if (path == "\\SYSTEM\\LOG" && id < 14) id = 14;
  }
  put_u64le(disk.header + kFieldId, id);
  disk.markDirty();
  return id;
}

void readRecord(Disk& disk, int64_t position, uint8_t* record) {
  uint32_t code = 0;
  if (!diskRead(disk, position, record, kBlock, &code)) ENTRY_FAIL(code);
  const uint32_t tag = get_u32le(record);
  if (tag != kEntryTag && tag != kEntryTagOther) ENTRY_FAIL(ZEMTA_ERR_FILE_FORMAT);
}

Entry* openHandleWithId(Disk& disk, uint64_t id, const Entry* except) {
  for (Entry* e : disk.handles)
    if (e && e != except && e->position != 0 && e->id() == id && !e->table) return e;
  return nullptr;
}

// The full path of a handle's entry, from its parent chain.
std::string fullPathOf(Disk& disk, const uint8_t* record);

void removeEntryAt(Disk& disk, int32_t folderTree, int64_t position, bool fromRecordDeletion);

// Frees every block of a tree and the tree's root; the tree's entries are
// deleted one by one (each freed node goes to the disk's queue).
void emptyTree(Disk& disk, int32_t tree, bool freeIds) {
  for (;;) {
    uint64_t id = 0;
    std::vector<uint8_t> key(BtreeExGetField(tree) ? 512 : 512);
    BtreeExSetCurPos(tree, 0xFFFFFFFFu, 0xFFFFFFFFu, 0);
    int32_t step = BtreeExNext(tree, &id, key.data());
    if (step < 0) ENTRY_FAIL(0);
    if (step == 0) break;
    if (freeIds && FileExBlockFree(static_cast<uint32_t>(id), static_cast<uint32_t>(id >> 32), kBlock, &disk) != 0)
      ENTRY_FAIL(0);
    // An indirect tree compares by the ID in front of the key.
    std::vector<uint8_t> given(8 + key.size());
    put_u64le(given.data(), id);
    std::memcpy(given.data() + 8, key.data(), key.size());
    if (BtreeExDel(tree, static_cast<uint32_t>(id), static_cast<uint32_t>(id >> 32), given.data() + 8) != 0)
      ENTRY_FAIL(0);
    if (BtreeExSpaceFlush(&disk, 0) < 0) ENTRY_FAIL(0);
  }
  const int64_t root = BtreeExGetRoot(tree);
  if (root > 0 && FileExBlockFree(static_cast<uint32_t>(root), static_cast<uint32_t>(static_cast<uint64_t>(root) >> 32),
                                  BtreeExGetField(tree), &disk) != 0)
    ENTRY_FAIL(0);
}


// --- creation ------------------------------------------------------------------


struct KindSpec {
  uint32_t attributes;
  uint32_t typeFlags;
};

const KindSpec kKinds[8] = {
    {0, 0},                                          // open only
    {kAttrNormal, kTypeData},                        // file
    {kAttrDirectory, kTypeFirstTree},                // folder
    {kAttrDirectory, kTypeFirstTree | kTypeData | kTypeTable},  // table
    {kAttrNormal, kTypeData | kTypeRecord},          // record
    {kAttrNormal, kTypeFirstTree | kTypeIndex},      // index
    {kAttrNormal, kTypeFirstTree | kTypeIndex},      // index on demand
    {kAttrNormal, kTypeFirstTree | kTypeIndex | kTypeIdSet},  // ID set
};

void setOwnerName(Entry& entry, const char* name) {
  entry.ownerName.clear();
  if (name) entry.ownerName.assign(name, std::min<size_t>(std::strlen(name), kMaxName));
}

void cutData(Disk& disk, Entry& entry);

Entry* createAt(Disk& disk, const std::string& pathText, const char* path, int32_t length, const char* description,
                uint32_t flags, uint32_t keyType, uint32_t keyLength, const char* ownerName);

// A table or record that holds data has its attribute list loaded; a
// table also opens its indexes.
void loadOpenedEntry(Disk& disk, Entry& entry) {
  const uint32_t flags = entry.typeFlags();
  if (!(flags & (kTypeTable | kTypeRecord))) return;
  if (get_u64le(entry.record + kFieldDataSize) != 0) loadAttributes(disk, entry);
  if (flags & kTypeTable) openTableIndexes(disk, entry, false);
}

void openRecordStore(Disk& disk, Entry& table) {
  std::string tablePath = fullPathOf(disk, table.record);
  uint8_t key[14] = {};
  uint64_t storeId = get_u64le(table.record + kFieldRecordStore);
  const bool make = storeId == 0;
  put_u64le(key + 2, make ? ~0ull : storeId);
  put_u16le(key + 10, FILEEX_KIND_INDEX);
  std::string path = tablePath + "\\" + std::string(reinterpret_cast<char*>(key), 14);
  Entry* store = createAt(disk, tablePath + "\\", path.data(), static_cast<int32_t>(path.size()), nullptr,
                          make ? (FILEEX_KIND_INDEX | FILEEX_CREATE_OPEN) : FILEEX_KIND_INDEX | FILEEX_CREATE_OPEN, 2, 8,
                          nullptr);
  if (!store) ENTRY_FAIL(0);
  if (make) {
    put_u64le(table.record + kFieldRecordStore, store->id());
    table.state |= kStateDirty;
  }
  store->table = nullptr;
  table.store = store;
  table.storeNumberTree = store->firstTree;
  table.storeIdTree = store->secondTree;
  // The store is reached through its table, not by the disk's handle list.
  auto at = std::find(disk.handles.begin(), disk.handles.end(), store);
  if (at != disk.handles.end()) disk.handles.erase(at);
}

Entry* createAt(Disk& disk, const std::string& pathText, const char* path, int32_t length, const char* description,
                uint32_t flags, uint32_t keyType, uint32_t keyLength, const char* ownerName) {
  const uint32_t kind = flags & 0xFF;
  Resolved where;
  if (FileExResolvePath(disk, path, length, &where) != 0) ENTRY_FAIL(0);
  Entry* entry = newEntry(disk);
  try {
    int64_t position = lookUpName(disk, where.tree, where.name, entry->record);
    if (position < 0) ENTRY_FAIL(0);
    if (position > 0 && (flags & FILEEX_CREATE_REPLACE) && kind != 0) {
      removeEntryAt(disk, where.tree, position, false);
      position = 0;
      std::memset(entry->record, 0, kBlock);
      put_u32le(entry->record, kEntryTag);
    }
    if (position > 0) {
      const uint32_t tag = get_u32le(entry->record);
      if (tag != kEntryTag && tag != kEntryTagOther) ENTRY_FAIL(ZEMTA_ERR_FILE_FORMAT);
      if (kind != 0 && !(flags & (FILEEX_CREATE_OPEN | FILEEX_CREATE_TRUNCATE))) ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
      if (openHandleWithId(disk, entry->id(), entry)) ENTRY_FAIL(platform::kErrorSharingViolation);
      entry->position = position;
      attachTrees(disk, *entry);
      if ((flags & FILEEX_CREATE_TRUNCATE) && (entry->typeFlags() & kTypeData)) cutData(disk, *entry);
    } else {
      if (flags & FILEEX_CREATE_TRUNCATE) ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
      if (kind == 0) ENTRY_FAIL(platform::kErrorFileNotFound);
      if (kind > 7) ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
      uint8_t* r = entry->record;
      put_u32le(r + kFieldAttributes, kKinds[kind].attributes);
      put_u32le(r + kFieldTypeFlags, kKinds[kind].typeFlags);
      if (kind == FILEEX_KIND_INDEX || kind == FILEEX_KIND_INDEX_ON_DEMAND) {
        const uint32_t order = indexOrder(keyLength);
        if (order == 0 || keyLength > 0x7FFF || !FileExSelectCompare(keyType, keyLength))
          ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
        put_u16le(r + kFieldOrder, static_cast<uint16_t>(order));
        put_u16le(r + kFieldKeyType, static_cast<uint16_t>(keyType));
        put_u16le(r + kFieldKeyLength, static_cast<uint16_t>(keyLength));
      } else if (kind == FILEEX_KIND_ID_SET) {
        put_u16le(r + kFieldOrder, 10);
        put_u16le(r + kFieldKeyType, 0x82);
        put_u16le(r + kFieldKeyLength, 8);
      }
      // Name and ID.
      std::memcpy(r + kFieldName, where.name, 128);
      uint64_t id;
      if (!where.binary) {
        id = newId(disk, pathText);
      } else {
        const uint64_t asked = get_u64le(where.name + 2);
        if (asked == ~0ull) {
          id = newId(disk, pathText);
        } else {
          if (get_u16le(where.name + 10) != kind || get_u16le(where.name + 12) != 0) ENTRY_FAIL(ZEMTA_ERR_BAD_PARAMETER);
          id = asked;
          if (id > get_u64le(disk.header + kFieldId)) {
            put_u64le(disk.header + kFieldId, id);
            disk.markDirty();
          }
        }
        put_u64le(r + kFieldName + 2, id);
      }
      put_u64le(r + kFieldId, id);
      if (description)
        std::memcpy(r + kFieldDescription, description, std::min<size_t>(std::strlen(description), kMaxName));
      if (disk.temporary) {
        put_u32le(r + kFieldAttributes, get_u32le(r + kFieldAttributes) | kAttrTemporary);
        put_u32le(r + kFieldTypeFlags, get_u32le(r + kFieldTypeFlags) | kTypeTemporary);
      }
      put_u64le(r + kFieldParentId, where.folderId);
      const uint64_t now = fileTimeNow();
      for (uint32_t field : {kFieldCreated, kFieldAccessed, kFieldWritten}) put_u64le(r + field, now);
      disk.markDirty();
      entry->created = true;
      // The record's block, then its keys in the folder and ID trees.
      bool reused = false;
      uint32_t code = 0;
      const int64_t at = takeBlock(disk, &reused, &code);
      if (at < 0) ENTRY_FAIL(code);
      if (!diskWrite(disk, at, r, kBlock, &code)) {
        if (reused) giveBackTakenBlock(disk, at);
        ENTRY_FAIL(code);
      }
      entry->position = at;
      uint8_t key[14];
      entryKeyOf(r + kFieldName, key);
      if (BtreeExIns(where.tree, static_cast<uint32_t>(at), static_cast<uint32_t>(static_cast<uint64_t>(at) >> 32), key) != 0)
        ENTRY_FAIL(0);
      uint8_t idKey[8];
      put_u64le(idKey, id);
      if (BtreeExIns(disk.idTree, static_cast<uint32_t>(at), static_cast<uint32_t>(static_cast<uint64_t>(at) >> 32), idKey) != 0)
        ENTRY_FAIL(0);
      if (BtreeExSpaceFlush(&disk, 0) < 0) ENTRY_FAIL(0);
      attachTrees(disk, *entry);
    }
    if (entry->typeFlags() & kTypeTable) openRecordStore(disk, *entry);
    setOwnerName(*entry, ownerName);
    loadOpenedEntry(disk, *entry);
  } catch (...) {
    releaseEntryObject(disk, entry);
    FileExDiskDropDirTree(disk);
    throw;
  }
  FileExDiskDropDirTree(disk);
  return entry;
}


// --- paths of entries ----------------------------------------------------------


std::string fullPathOf(Disk& disk, const uint8_t* record) {
  std::vector<std::string> parts;
  auto nameOf = [](const uint8_t* r) {
    if (get_u16le(r + kFieldName) == 0) return std::string(reinterpret_cast<const char*>(r + kFieldName), 14);
    return std::string(reinterpret_cast<const char*>(r + kFieldName), strnlen(reinterpret_cast<const char*>(r + kFieldName), 128));
  };
  parts.push_back(nameOf(record));
  uint64_t parent = get_u64le(record + kFieldParentId);
  uint8_t block[kBlock];
  for (int depth = 0; parent != 0; ++depth) {
    if (depth > 256) ENTRY_FAIL(ZEMTA_ERR_FILE_FORMAT);
    uint8_t key[16] = {};
    put_u64le(key, parent);
    uint64_t position = 0;
    int32_t found = BtreeExEqu(disk.idTree, &position, key);
    if (found < 0) ENTRY_FAIL(0);
    if (found == 0) ENTRY_FAIL(ZEMTA_ERR_FILE_FORMAT);
    readRecord(disk, static_cast<int64_t>(position), block);
    parts.push_back(nameOf(block));
    parent = get_u64le(block + kFieldParentId);
  }
  std::string path;
  for (auto part = parts.rbegin(); part != parts.rend(); ++part) path += "\\" + *part;
  return path;
}


// --- removal -------------------------------------------------------------------


void removeEntryAt(Disk& disk, int32_t folderTree, int64_t position, bool fromRecordDeletion) {
  uint8_t record[kBlock];
  readRecord(disk, position, record);
  const uint32_t flags = get_u32le(record + kFieldTypeFlags);
  if ((flags & kTypeRecord) && !fromRecordDeletion) ENTRY_FAIL(ZEMTA_ERR_BAD_FILE_NAME);
  for (Entry* e : disk.handles)
    if (e && e->position == position) ENTRY_FAIL(ZEMTA_ERR_FILE_IN_USE);
  Entry scratch;
  std::memcpy(scratch.record, record, kBlock);
  scratch.position = position;
  scratch.diskSlot = disk.slot;
  attachTrees(disk, scratch);
  try {
    if (flags & kTypeIndex) {
      emptyTree(disk, scratch.firstTree, false);
      emptyTree(disk, scratch.secondTree, false);
    } else if (flags & kTypeFirstTree) {
      for (;;) {
        uint64_t child = 0;
        BtreeExSetCurPos(scratch.firstTree, 0xFFFFFFFFu, 0xFFFFFFFFu, 0);
        int32_t step = BtreeExNext(scratch.firstTree, &child, nullptr);
        if (step < 0) ENTRY_FAIL(0);
        if (step == 0) break;
        removeEntryAt(disk, scratch.firstTree, static_cast<int64_t>(child), true);
      }
      const int64_t root = BtreeExGetRoot(scratch.firstTree);
      if (root > 0 && FileExBlockFree(static_cast<uint32_t>(root), static_cast<uint32_t>(static_cast<uint64_t>(root) >> 32),
                                      kBlock, &disk) != 0)
        ENTRY_FAIL(0);
    }
    if ((flags & kTypeData) && scratch.secondTree != -1) emptyTree(disk, scratch.secondTree, true);
  } catch (...) {
    dropTree(disk, &scratch.firstTree);
    dropTree(disk, &scratch.secondTree);
    throw;
  }
  dropTree(disk, &scratch.firstTree);
  dropTree(disk, &scratch.secondTree);
  if (FileExBlockFree(static_cast<uint32_t>(position), static_cast<uint32_t>(static_cast<uint64_t>(position) >> 32), kBlock,
                      &disk) != 0)
    ENTRY_FAIL(0);
  uint8_t key[14];
  entryKeyOf(record + kFieldName, key);
  if (BtreeExDel(folderTree, static_cast<uint32_t>(position), static_cast<uint32_t>(static_cast<uint64_t>(position) >> 32),
                 key) != 0)
    ENTRY_FAIL(0);
  uint8_t idKey[8];
  put_u64le(idKey, get_u64le(record + kFieldId));
  if (BtreeExDel(disk.idTree, static_cast<uint32_t>(position), static_cast<uint32_t>(static_cast<uint64_t>(position) >> 32),
                 idKey) != 0)
    ENTRY_FAIL(0);
  if (BtreeExSpaceFlush(&disk, 0) < 0) ENTRY_FAIL(0);
}


// --- data cut (entry_data.cpp) --------------------------------------------------

void cutData(Disk& disk, Entry& entry) {
  if (setDataSize(disk, entry, 0) != 0) ENTRY_FAIL(0);
}

// --- the system entries --------------------------------------------------------

namespace {

struct SystemColumn {
  const char* table;
  uint16_t number;
  const char* name;
  uint16_t size, type, third;
  uint32_t fifth;
};

// The columns of the system tables, as (size, type word, third value).
const SystemColumn kSystemColumns[] = {
    {"\\SYSTEM\\CONFIG", 1, "Log File Path", 12, 32, 40, 0},
    {"\\SYSTEM\\CONFIG", 2, "Backup File Path", 12, 32, 40, 0},
    {"\\SYSTEM\\CONFIG", 3, "Log Backup File Path", 12, 32, 40, 0},
    {"\\SYSTEM\\CONFIG", 4, "Lib Backup File Path", 12, 32, 40, 0},
    {"\\SYSTEM\\CONFIG", 5, "Backup Count", 2, 2, 2, 0},
    {"\\SYSTEM\\CONFIG", 6, "Log Backup Count", 2, 2, 2, 0},
    {"\\SYSTEM\\CONFIG", 7, "Lib Backup Count", 2, 2, 2, 0},
    {"\\SYSTEM\\CONFIG", 8, "Backup Schedule", 4, 2111, 16, 0},
    {"\\SYSTEM\\CONFIG", 9, "Check Log File Path", 12, 32, 40, 0},
    {"\\SYSTEM\\ERROR", 1, "Line", 4, 1, 5, 0},
    {"\\SYSTEM\\ERROR", 2, "File", 12, 0, 28, 0},
    {"\\SYSTEM\\ERROR", 3, "Error", 4, 2, 8, 32},
    {"\\SYSTEM\\ERROR", 4, "Description", 12, 32, 12, 0},
    {"\\SYSTEM\\ERROR", 5, "Name", 16, 32, 14, 0},
    {"\\SYSTEM\\HISTORY\\DATA", 1, "Backup File Path", 12, 0, 40, 0},
    {"\\SYSTEM\\HISTORY\\LOG", 1, "Backup File Path", 12, 0, 40, 0},
    {"\\SYSTEM\\HISTORY\\LIB", 1, "Backup File Path", 12, 0, 40, 0},
    {"\\SYSTEM\\LOG", 1, "Action", 32, 287, 80, 0},
    {"\\SYSTEM\\LOG", 2, "Name", 16, 32, 14, 0},
};

}  // namespace

int32_t setUpSystemTable(const char* path, FileExHandle table) {
  if (!isTable(static_cast<Entry*>(table))) return 0;
  if (FileExAllocOdr(table, 1, nullptr) > 0) return 0;  // made before
  int32_t made = 0;
  bool any = false;
  for (const SystemColumn& c : kSystemColumns) {
    if (std::strcmp(c.table, path) != 0) continue;
    if (FileExInsColumn(table, c.number, c.name, c.size, c.type, c.third, 0, c.fifth, -1) != 0) return -1;
    any = true;
    made = 1;
  }
  if (any && FileExFldWrite(table, nullptr, 1) != 0) return -1;
  // The configuration table holds its one record from the start.
  uint64_t records = 0;
  if (std::strcmp(path, "\\SYSTEM\\CONFIG") == 0 && FileExGetRecCount(table, &records) == 0 && records == 0) {
    FileExHandle record = FileExRecInsert(table, 0xFFFFFFFFu, 0xFFFFFFFFu, nullptr, 0, nullptr);
    if (!record || FileExRelease(record, nullptr) != 0) return -1;
  }
  return made;
}

int32_t initSystemEntries(Disk& disk) {
  struct SystemEntry {
    const char* path;
    uint32_t flags;
  };
  // The folder, then the tables of an ordinary disk; a log disk has only the folder.
  const SystemEntry entries[] = {
      {"\\SYSTEM", FILEEX_KIND_DIRECTORY | FILEEX_CREATE_OPEN},
      {"\\SYSTEM\\CONFIG", 1027},
      {"\\SYSTEM\\ERROR", 25603},
      {"\\SYSTEM\\HISTORY", 25602},
      {"\\SYSTEM\\HISTORY\\DATA", 24579},
      {"\\SYSTEM\\HISTORY\\LOG", 24579},
      {"\\SYSTEM\\HISTORY\\LIB", 24579},
  };
  const size_t count = disk.logDisk ? 1 : std::size(entries);
  bool madeTables = false;
  for (size_t i = 0; i < count; ++i) {
    Entry* entry = static_cast<Entry*>(
        FileExCreate(&disk, entries[i].path, -1, nullptr, entries[i].flags | FILEEX_CREATE_OPEN, 0, 0, nullptr));
    if (!entry) return -1;
    const int32_t setUp = setUpSystemTable(entries[i].path, entry);
    if (setUp < 0) {
      FileExRelease(entry, nullptr);
      return -1;
    }
    madeTables = madeTables || setUp > 0;
    if (i == 0 && !(get_u32le(entry->record + kFieldAttributes) & kAttrSetUp)) {
      // Marked set up when made.
      put_u32le(entry->record + kFieldAttributes, get_u32le(entry->record + kFieldAttributes) | kAttrSetUp);
      entry->state |= kStateDirty;
    }
    if (i == 1) {
      // The configuration table stays open in the disk object.
      FileExClose(entry);
      disk.config = entry;
      continue;
    }
    if (FileExRelease(entry, nullptr) != 0) return -1;
  }
  if (madeTables) {
    // A fresh disk shows its creation time in all three stamps.
    std::memcpy(disk.header + kFieldAccessed, disk.header + kFieldCreated, 8);
    std::memcpy(disk.header + kFieldWritten, disk.header + kFieldCreated, 8);
    disk.markDirty();
  }
  return 0;
}

}  // namespace zemta::container

namespace container = zemta::container;
using zemta::get_u16le;
using zemta::get_u32le;
using zemta::put_u16le;
using zemta::put_u32le;
using zemta::container::get_u64le;
using zemta::container::put_u64le;
using container::Disk;
using container::Entry;
using container::Target;

// --- exported calls --------------------------------------------------------------

ZEMTA_API int32_t FileExSetCurrent(FileExDiskHandle handle, const char* path) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  if (!path) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  std::string folder = path;
  const bool slash = !folder.empty() && folder.back() == '\\';
  if (folder.size() > (slash ? 255u : 254u)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_NAME);
    return -1;
  }
  if (!slash) folder += '\\';
  return container::withAccess(*disk, nullptr, [&]() -> int32_t {
    if (disk->currentTree != -1 && disk->currentTree != disk->cachedTree) {
      bool used = false;
      for (Entry* e : disk->handles)
        if (e && e->firstTree == disk->currentTree) used = true;
      if (!used) BtreeExRelease(disk->currentTree);
    }
    disk->currentTree = -1;
    disk->currentSet = false;
    disk->currentId = 0;
    disk->currentPosition = 0;
    // Resolving "folder\x" gives the folder's tree as the place of "x".
    std::string probe = folder + "x";
    container::Resolved where;
    if (container::FileExResolvePath(*disk, probe.c_str(), -1, &where) != 0) throw container::Failure{0, __LINE__};
    if (where.tree != disk->rootTree) {
      disk->currentTree = where.tree;
      if (disk->cachedTree == where.tree) disk->cachedTree = -1;
      disk->currentSet = true;
      disk->currentId = where.folderId;
      disk->currentPosition = where.folderPosition;
    }
    return 0;
  });
}

ZEMTA_API FileExHandle FileExCreate(FileExDiskHandle handle, const char* path, int32_t length, const char* description,
                                    uint32_t flags, uint32_t keyType, uint32_t keyLength, const char* ownerName) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return nullptr;
  }
  const uint32_t kind = flags & 0xFF;
  if (!path || length == 0 || (length < 0 && (path[0] == 0 || (kind == 0 && std::strcmp(path, "\\") == 0)))) {
    if (kind != 0) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return nullptr;
    }
    if (disk->rootInTable) {
      ZEMTA_REPORT(platform::kErrorSharingViolation);
      return nullptr;
    }
    disk->rootInTable = true;
    return disk;
  }
  Entry* made = nullptr;
  const std::string pathText = length < 0 ? std::string(path) : std::string(path, static_cast<size_t>(length));
  const int32_t result = container::withAccess(*disk, nullptr, [&]() -> int32_t {
    made = container::createAt(*disk, pathText, path, length, description, flags, keyType, keyLength, ownerName);
    if (flags & FILEEX_CREATE_HOLD_MASK) {
      const uint32_t mode = ((flags >> 13) & 3) | container::kStatePlainAccess;
      container::beginAccess(*disk, made, mode);
      made->state |= container::kStateOpen;
      if (made->store) made->store->state |= container::kStateOpen;
    }
    return 0;
  });
  if (result != 0) return nullptr;
  return made;
}

ZEMTA_API FileExHandle FileExCreateByID(FileExDiskHandle handle, uint32_t idLow, uint32_t idHigh, const char* ownerName,
                                        int32_t* alreadyOpen) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return nullptr;
  }
  const uint64_t id = idLow | (static_cast<uint64_t>(idHigh) << 32);
  if (alreadyOpen) {
    *alreadyOpen = 0;
    if (Entry* open = container::openHandleWithId(*disk, id, nullptr)) {
      *alreadyOpen = 1;
      return open;
    }
  }
  if (id == 0) return FileExCreate(handle, nullptr, -1, nullptr, 0, 0, 0, ownerName);
  Entry* made = nullptr;
  const int32_t result = container::withAccess(*disk, nullptr, [&]() -> int32_t {
    uint8_t key[8];
    put_u64le(key, id);
    uint64_t position = 0;
    const int32_t found = BtreeExEqu(disk->idTree, &position, key);
    if (found < 0) throw container::Failure{0, __LINE__};
    if (found == 0) throw container::Failure{ZEMTA_ERR_BAD_PARAMETER, __LINE__};
    if (container::openHandleWithId(*disk, id, nullptr)) throw container::Failure{platform::kErrorSharingViolation, __LINE__};
    Entry* entry = container::newEntry(*disk);
    try {
      container::readRecord(*disk, static_cast<int64_t>(position), entry->record);
      entry->position = static_cast<int64_t>(position);
      container::attachTrees(*disk, *entry);
      if (entry->typeFlags() & container::kTypeTable) container::openRecordStore(*disk, *entry);
      container::setOwnerName(*entry, ownerName);
      container::loadOpenedEntry(*disk, *entry);
    } catch (...) {
      container::releaseEntryObject(*disk, entry);
      throw;
    }
    container::beginAccess(*disk, entry, container::kImplicitMode);
    entry->state |= container::kStateOpen;
    made = entry;
    return 0;
  });
  return result == 0 ? made : nullptr;
}

ZEMTA_API int32_t FileExOpen(FileExHandle handle, uint32_t mode, const char* ownerName) {
  Target target;
  if (!container::resolveHandle(handle, &target)) return -1;
  const uint32_t access = mode & ~0x100u;
  if (access != 1 && access != 2 && access != 3 && access != 6) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_MODE);
    return -1;
  }
  if (!target.entry) return 0;
  try {
    container::beginAccess(*target.disk, target.entry, access | container::kStatePlainAccess);
  } catch (const container::Failure& failure) {
    container::report(failure);
    return -1;
  }
  container::forFamily(*target.entry, [](Entry& e) { e.state |= container::kStateOpen; });
  container::setOwnerName(*target.entry, ownerName);
  return 0;
}

ZEMTA_API int32_t FileExClose(FileExHandle handle) {
  Target target;
  if (!container::resolveHandle(handle, &target)) return -1;
  if (!target.entry) return 0;
  container::forFamily(*target.entry, [](Entry& e) { e.state &= ~(container::kStateOpen | container::kStateHeld); });
  target.entry->ownerName.clear();
  int32_t result = 0;
  container::endAccess(*target.disk, target.entry, &result);
  return result;
}

ZEMTA_API int32_t FileExRelease(FileExHandle handle, FileExDiskHandle) {
  Target target;
  if (!container::resolveHandle(handle, &target)) return -1;
  Disk& disk = *target.disk;
  if (!target.entry) {
    disk.rootInTable = false;
    return 0;
  }
  Entry* entry = target.entry;
  int32_t result = 0;
  // Temporary indexes and ID sets made on a table go with it.
  for (Entry* other : std::vector<Entry*>(disk.handles)) {
    if (!other || other == entry) continue;
    if (other->ownerHandle == entry) other->ownerHandle = nullptr;
    if (other->table == entry) {
      // A temporary index or result set made on the table goes with it.
      const bool temporaryResult = (other->typeFlags() & container::kTypeIndex) != 0;
      const uint64_t id = other->id();
      if (FileExRelease(other, nullptr) != 0) result = -1;
      if (temporaryResult && container::withAccess(disk, nullptr, [&]() -> int32_t {
            container::removeEntryById(disk, id, false);
            return 0;
          }) != 0)
        result = -1;
    }
  }
  container::forFamily(*entry, [](Entry& e) { e.state &= ~(container::kStateOpen | container::kStateHeld); });
  container::endAccess(disk, entry, &result);
  // A change made outside an access bracket is written before the handle goes.
  bool dirty = false;
  container::forFamily(*entry, [&](Entry& e) { dirty = dirty || (e.state & container::kStateDirty); });
  if (dirty && container::withAccess(disk, nullptr, [&]() -> int32_t {
        int32_t flushed = 0;
        container::FileExEntryFlush(disk, *entry, &flushed);
        return flushed;
      }) != 0)
    result = -1;
  if (std::find(disk.handles.begin(), disk.handles.end(), entry) == disk.handles.end() && !entry->table) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    result = -1;
  }
  if (disk.config == entry) disk.config = nullptr;
  if (disk.logTable == entry) disk.logTable = nullptr;
  container::releaseEntryObject(disk, entry);
  return result;
}

ZEMTA_API int32_t FileExReleaseByName(FileExDiskHandle handle, const char* ownerName, int32_t mode) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  const std::string name = ownerName ? ownerName : "";
  int32_t result = 0;
  for (Entry* entry : std::vector<Entry*>(disk->handles)) {
    if (!entry || !container::isLiveEntry(entry)) continue;
    if (entry->ownerName != name || (mode != -1 && entry->ownerName.empty())) continue;
    if (mode == 1) {
      if (FileExClose(entry) != 0) result = -1;
    } else if (mode == -1) {
      // A temporary result: released, then its entry removed by its key.
      if (FileExDiskHold(*disk) != 0) {
        result = -1;
        continue;
      }
      std::string path;
      try {
        path = container::fullPathOf(*disk, entry->record);
      } catch (const container::Failure& failure) {
        container::report(failure);
        result = -1;
      }
      const bool binary = get_u16le(entry->record + container::kFieldName) == 0;
      if (FileExRelease(entry, nullptr) != 0) result = -1;
      if (!path.empty() && FileExRemove(disk, path.data(), binary ? static_cast<int32_t>(path.size()) : -1) != 0)
        result = -1;
      if (FileExDiskUnhold(*disk) != 0) result = -1;
    } else {
      if (FileExRelease(entry, nullptr) != 0) result = -1;
    }
  }
  if (!(disk->state & container::kStateOpen)) disk->state &= ~container::kStateHeld;
  if (container::FileExDiskCloseFile(*disk, false) != 0) result = -1;
  return result;
}

ZEMTA_API int32_t FileExIsOpen(FileExDiskHandle handle, const char* ownerName) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  for (Entry* entry : disk->handles) {
    if (!entry) continue;
    if (ownerName ? entry->ownerName == ownerName : (entry->state & 0x14003) != 0) return 1;
  }
  return 0;
}

ZEMTA_API int32_t FileExRemove(FileExDiskHandle handle, const char* path, int32_t length) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  if (!path || (length < 0 && (std::strlen(path) < 1)) || length == 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return -1;
  }
  return container::withAccess(*disk, nullptr, [&]() -> int32_t {
    container::Resolved where;
    if (container::FileExResolvePath(*disk, path, length, &where) != 0) throw container::Failure{0, __LINE__};
    const int64_t position = container::lookUpName(*disk, where.tree, where.name, nullptr);
    if (position < 0) throw container::Failure{0, __LINE__};
    if (position == 0) throw container::Failure{ZEMTA_ERR_BAD_FILE_NAME, __LINE__};
    const int32_t tree = where.tree;
    try {
      container::removeEntryAt(*disk, tree, position, false);
    } catch (...) {
      container::FileExDiskDropDirTree(*disk);
      throw;
    }
    container::FileExDiskDropDirTree(*disk);
    return 0;
  });
}

ZEMTA_API int32_t FileExRename(FileExDiskHandle handle, const char* path, const char* newName) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  if (!path || !newName || !*newName || std::strlen(newName) > 127 || std::strchr(newName, '\\')) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_NAME);
    return -1;
  }
  return container::withAccess(*disk, nullptr, [&]() -> int32_t {
    container::Resolved where;
    if (container::FileExResolvePath(*disk, path, -1, &where) != 0) throw container::Failure{0, __LINE__};
    uint8_t newField[128] = {};
    std::memcpy(newField, newName, std::strlen(newName));
    if (std::memcmp(newField, where.name, 128) == 0) {
      container::FileExDiskDropDirTree(*disk);
      return 0;
    }
    uint8_t* record = disk->blockBuffer;
    const int64_t clash = container::lookUpName(*disk, where.tree, newField, nullptr);
    if (clash < 0) throw container::Failure{0, __LINE__};
    if (clash > 0) throw container::Failure{ZEMTA_ERR_BAD_NAME, __LINE__};
    const int64_t position = container::lookUpName(*disk, where.tree, where.name, record);
    if (position < 0) throw container::Failure{0, __LINE__};
    if (position == 0) throw container::Failure{ZEMTA_ERR_BAD_FILE_NAME, __LINE__};
    for (Entry* e : disk->handles)
      if (e && e->position == position) throw container::Failure{ZEMTA_ERR_FILE_IN_USE, __LINE__};
    const uint32_t flags = get_u32le(record + container::kFieldTypeFlags);
    if (((flags & container::kTypeFirstTree) && get_u64le(record + container::kFieldFirstRoot) == 0) ||
        ((flags & container::kTypeData) && get_u64le(record + container::kFieldSecondRoot) == 0))
      throw container::Failure{ZEMTA_ERR_FILE_FORMAT, __LINE__};
    uint8_t oldKey[14], newKey[14];
    container::entryKeyOf(record + container::kFieldName, oldKey);
    container::entryKeyOf(newField, newKey);
    const auto low = static_cast<uint32_t>(position), high = static_cast<uint32_t>(static_cast<uint64_t>(position) >> 32);
    if (BtreeExDel(where.tree, low, high, oldKey) != 0) throw container::Failure{0, __LINE__};
    std::memcpy(record + container::kFieldName, newField, 128);
    if (BtreeExIns(where.tree, low, high, newKey) != 0) throw container::Failure{0, __LINE__};
    uint32_t code = 0;
    if (!container::diskWrite(*disk, position, record, container::kDirtyPart, &code)) throw container::Failure{code, __LINE__};
    if (BtreeExSpaceFlush(disk, 0) < 0) throw container::Failure{0, __LINE__};
    container::FileExDiskDropDirTree(*disk);
    return 0;
  });
}

ZEMTA_API int32_t FileExChgName(FileExHandle handle, const char* ownerName) {
  Target target;
  if (!container::resolveHandle(handle, &target)) return -1;
  if (target.entry) container::setOwnerName(*target.entry, ownerName);
  return 0;
}

ZEMTA_API int32_t FileExGetPath(FileExHandle handle, int32_t size, char* buffer) {
  Target target;
  if (!container::resolveHandle(handle, &target)) return -1;
  std::string path;
  const int32_t result = container::withAccess(*target.disk, target.entry, [&]() -> int32_t {
    path = target.entry ? container::fullPathOf(*target.disk, target.entry->record) : std::string("\\");
    return 0;
  });
  if (result != 0) return -1;
  if (buffer && size > 0 && path.size() + 1 <= static_cast<size_t>(size)) std::memcpy(buffer, path.c_str(), path.size() + 1);
  return static_cast<int32_t>(path.size());
}

namespace zemta::container {
namespace {

void fillInfo(Disk& disk, const uint8_t* record, uint8_t* info) {
  std::memset(info, 0, FILEEX_ENTRY_INFO_SIZE);
  put_u32le(info, 125);
  std::memcpy(info + 4, record + kFieldClsid, 16);
  put_u32le(info + 36, get_u32le(record + kFieldAttributes));
  std::memcpy(info + 40, record + kFieldCreated, 24);
  const uint64_t size = get_u64le(record + kFieldDataSize);
  put_u32le(info + 64, static_cast<uint32_t>(size >> 32));
  put_u32le(info + 68, static_cast<uint32_t>(size));
  std::memcpy(info + 72, record + kFieldName, 128);
  std::memcpy(info + 200, record + kFieldDescription, 128);
  put_u32le(info + 328, get_u32le(record + kFieldTypeFlags));
  put_u64le(info + 336, get_u64le(record + kFieldId));
  put_u64le(info + 344, get_u64le(record + kFieldParentId));
  put_u64le(info + 352, get_u64le(record + kFieldRecordCount));
  (void)disk;
}

}  // namespace
}  // namespace zemta::container

ZEMTA_API int32_t FileExIsExist(FileExDiskHandle handle, const char* path, int32_t length, void* info) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  if (!path) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return -1;
  }
  return container::withAccess(*disk, nullptr, [&]() -> int32_t {
    container::Resolved where;
    const int32_t messages = ZemtaEnableLastErrorMessage(0);
    const int32_t resolved = container::FileExResolvePath(*disk, path, length, &where);
    ZemtaEnableLastErrorMessage(messages);
    if (resolved != 0) {
      container::FileExDiskDropDirTree(*disk);
      if (platform::lastError() == platform::kErrorFileNotFound) return 0;
      throw container::Failure{ZEMTA_ERR_BAD_FILE_NAME, __LINE__};
    }
    uint8_t record[container::kBlock];
    const int64_t position = container::lookUpName(*disk, where.tree, where.name, record);
    container::FileExDiskDropDirTree(*disk);
    if (position < 0) throw container::Failure{0, __LINE__};
    if (position == 0) return 0;
    if (info) container::fillInfo(*disk, record, static_cast<uint8_t*>(info));
    return 1;
  });
}

ZEMTA_API int32_t FileExDescriptor(FileExHandle handle, void* info, int32_t mode) {
  Target target;
  if (!container::resolveHandle(handle, &target)) return -1;
  if (!info) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  std::memset(info, 0, FILEEX_ENTRY_INFO_SIZE);
  Disk& disk = *target.disk;
  const uint8_t* record = target.entry ? target.entry->record : disk.header;
  if (mode == 8) {
    container::fillInfo(disk, record, static_cast<uint8_t*>(info));
    return 1;
  }
  if (mode != 0 && mode != 1) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const int32_t tree = target.entry ? target.entry->firstTree : disk.rootTree;
  if (tree == -1 || (target.entry && (target.entry->typeFlags() & container::kTypeIndex))) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return -1;
  }
  int64_t* cursorNode = target.entry ? &target.entry->enumNode : &disk.nameCursorNode;
  uint16_t* cursorIndex = target.entry ? &target.entry->enumIndex : &disk.nameCursorIndex;
  if (mode == 0) {
    *cursorNode = -1;
    *cursorIndex = 0;
  }
  return container::withAccess(disk, target.entry, [&]() -> int32_t {
    BtreeExSetCurPos(tree, static_cast<uint32_t>(*cursorNode), static_cast<uint32_t>(static_cast<uint64_t>(*cursorNode) >> 32),
                     *cursorIndex);
    uint64_t position = 0;
    const int32_t step = BtreeExNext(tree, &position, nullptr);
    BtreeExGetCurPos(tree, cursorNode, cursorIndex);
    if (step < 0) throw container::Failure{0, __LINE__};
    if (step == 0) return 0;
    uint8_t child[container::kBlock];
    container::readRecord(disk, static_cast<int64_t>(position), child);
    container::fillInfo(disk, child, static_cast<uint8_t*>(info));
    return 1;
  });
}

ZEMTA_API int32_t FileExGetName(FileExDiskHandle handle, uint32_t idLow, uint32_t idHigh, uint32_t selector, char* buffer,
                                int32_t size, void* info) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  int32_t alreadyOpen = 0;
  FileExHandle entry = FileExCreateByID(handle, idLow, idHigh, nullptr, &alreadyOpen);
  if (!entry) return -1;
  std::string text;
  int32_t result = 0;
  const uint32_t what = selector & 0xFFFF;
  if (what == 2 || what == 3) {
    // Column and index names live in the table's attribute list.
    Target target;
    container::resolveHandle(entry, &target);
    const container::AttrItem* item =
        target.entry ? container::findItem(target.entry->attributes, what == 2 ? 2 : 3, selector >> 16) : nullptr;
    if (!item) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    } else if (item->type != (what == 2 ? 0x51Fu : 0x61Fu)) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
      result = -1;
    } else {
      const size_t skip = what == 2 ? 2 : 8;
      if (item->length > skip)
        text.assign(reinterpret_cast<const char*>(item->bytes + skip),
                    strnlen(reinterpret_cast<const char*>(item->bytes + skip), item->length - skip));
    }
  } else {
    std::vector<char> path(512);
    int32_t length = FileExGetPath(entry, static_cast<int32_t>(path.size()), path.data());
    if (length < 0) result = -1;
    else text.assign(path.data(), static_cast<size_t>(length));
  }
  if (info && result == 0 && FileExDescriptor(entry, info, 8) < 0) result = -1;
  if (!alreadyOpen && entry != handle && FileExRelease(entry, nullptr) != 0) result = -1;
  if (result != 0) return -1;
  if (buffer && size > 0) {
    const size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = 0;
  }
  return static_cast<int32_t>(text.size());
}

// --- getters and setters ---------------------------------------------------------

namespace {

const uint8_t* recordOf(const Target& target) {
  return target.entry ? target.entry->record : target.disk->header;
}

template <typename Change>
int32_t setField(FileExHandle handle, Change&& change) {
  Target target;
  if (!container::resolveHandle(handle, &target)) return -1;
  return container::withAccess(*target.disk, target.entry, [&]() -> int32_t {
    uint8_t* record = target.entry ? target.entry->record : target.disk->header;
    const int32_t result = change(record);
    if (result != 0) return result;
    if (target.entry) target.entry->state |= container::kStateDirty;
    else target.disk->markDirty();
    return 0;
  });
}

// Reads a field of an entry (or of the disk's header) into out: a bad handle
// or no place to put it is refused.
template <typename Read>
int32_t getField(FileExHandle handle, const void* out, Read&& read) {
  Target target;
  if (!container::resolveHandle(handle, &target)) return -1;
  if (!out) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  read(target);
  return 0;
}

}  // namespace

ZEMTA_API int32_t FileExIsTemp(FileExHandle handle) {
  Target target;
  if (!container::resolveHandle(handle, &target)) return -1;
  return (get_u32le(recordOf(target) + container::kFieldTypeFlags) & container::kTypeTemporary) ? 1 : 0;
}

ZEMTA_API int32_t FileExGetID(FileExHandle handle, uint64_t* id) {
  return getField(handle, id, [&](const Target& target) {
    *id = target.entry ? target.entry->id() : 0;
  });
}

ZEMTA_API int32_t FileExGetParentID(FileExHandle handle, uint64_t* id) {
  return getField(handle, id, [&](const Target& target) {
    *id = target.entry ? get_u64le(target.entry->record + container::kFieldParentId) : 0;
  });
}

ZEMTA_API int32_t FileExGetCLSID(FileExHandle handle, void* clsid) {
  return getField(handle, clsid, [&](const Target& target) {
    std::memcpy(clsid, recordOf(target) + container::kFieldClsid, 16);
  });
}

ZEMTA_API int32_t FileExSetCLSID(FileExHandle handle, const void* clsid) {
  if (!clsid) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return setField(handle, [&](uint8_t* record) {
    std::memcpy(record + container::kFieldClsid, clsid, 16);
    return 0;
  });
}

ZEMTA_API int32_t FileExGetDescr(FileExHandle handle, char* buffer, int32_t size) {
  return getField(handle, size >= 1 ? buffer : nullptr, [&](const Target& target) {
    const char* text = reinterpret_cast<const char*>(recordOf(target) + container::kFieldDescription);
    const size_t n = std::min(strnlen(text, 128), static_cast<size_t>(size - 1));
    std::memcpy(buffer, text, n);
    buffer[n] = 0;
  });
}

ZEMTA_API int32_t FileExSetDescr(FileExHandle handle, const char* text) {
  if (!text) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return setField(handle, [&](uint8_t* record) {
    std::memset(record + container::kFieldDescription, 0, 128);
    std::memcpy(record + container::kFieldDescription, text, std::min<size_t>(std::strlen(text), 127));
    return 0;
  });
}

ZEMTA_API int32_t FileExGetAttribute(FileExHandle handle, uint32_t* attributes) {
  return getField(handle, attributes, [&](const Target& target) {
    *attributes = get_u32le(recordOf(target) + container::kFieldAttributes);
  });
}

ZEMTA_API int32_t FileExSetAttribute(FileExHandle handle, uint32_t attributes) {
  return setField(handle, [&](uint8_t* record) -> int32_t {
    if ((get_u32le(record + container::kFieldAttributes) ^ attributes) & container::kAttrDirectory) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return -1;
    }
    put_u32le(record + container::kFieldAttributes, attributes);
    return 0;
  });
}
