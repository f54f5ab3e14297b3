// Disk handles and their lifecycle: the process-wide disk table, opening,
// holding, write-back, closing and release, creation with the system
// entries, and paths inside a disk.
//
// A disk's file is open only while somebody needs it: from FileExDiskOpen to
// FileExDiskClose (state 0x4000), for the length of one operation (held,
// 0x10000), or while entries are accessed. Every open takes the file
// unshared, so a second process waits for it (the wait dialog of the file
// layer). Each write-back ends with the file flushed and the roll-back
// journal dropped (disk_journal.cpp), so a disk that was being changed when
// its process died opens as it was at its last write-back.
#include <algorithm>
#include <cstring>

#include "lib/container/disk/container_internal.h"
#include "lib/container/disk/disk_journal.h"
#include "lib/core/report.h"
#include "lib/store/tables/file_access.h"
#include "platform/base/clock.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"

namespace zemta::container {

namespace {

constexpr size_t kTableStep = 128;
constexpr size_t kMaxPath = 260;

std::vector<Disk*>& diskTable() {
  static std::vector<Disk*> table;
  return table;
}

uint32_t systemError() {
  uint32_t code = platform::lastError();
  return code != 0 ? code : static_cast<uint32_t>(ZEMTA_ERR_FILE_ACCESS);
}

bool rootHoldsFile(const Disk& disk) { return disk.rootTree != -1; }

}  // namespace

uint64_t fileTimeNow() { return platform::fileTimeUtcNow(); }

Disk* findDisk(const void* handle) {
  if (!handle) return nullptr;
  for (Disk* disk : diskTable())
    if (disk == handle) return disk->check == kDiskCheck ? disk : nullptr;
  return nullptr;
}

Disk* diskAt(size_t slot) {
  auto& table = diskTable();
  return slot < table.size() ? table[slot] : nullptr;
}

int32_t FileExGetFuncOf(void* userData, BtreeExAllocFunc* alloc, BtreeExFreeFunc* release, int32_t* shared);

// --- the file ------------------------------------------------------------------

int32_t FileExDiskOpenFile(Disk& disk, uint32_t mode, uint32_t* error) {
  if (error) *error = 0;
  if ((mode & kStateModeBits) == 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_MODE);
    return -1;
  }
  const uint32_t kept = disk.state & (kStateOpen | kStateHeld);
  const uint32_t requested = (mode & ~(kStateOpen | kStateHeld | kStateCreate)) | kStateModeBits;
  const uint32_t current = disk.state & ~(kStateOpen | kStateHeld | kStateDirty);
  if (disk.file != 0) {
    if (requested == current) return 0;
    if ((requested ^ current) == kStateNoWait) {
      disk.state ^= kStateNoWait;
      return 0;
    }
    disk.state &= ~(kStateOpen | kStateHeld);
    if (FileExDiskCloseFile(disk, true) != 0) return -1;
  }
  uint32_t treeMode = kStateModeBits | (requested & kStateNoWait);
  if (disk.temporary) treeMode |= btreeex::kFlagTemporary;
  else if (requested & kStatePlainAccess) treeMode |= btreeex::kFlagNoWriteThrough;
  ZemtaFileHandle file = 0;
  if (!rootHoldsFile(disk)) {
    uint32_t code = 0;
    if (mode & kStateCreate) treeMode |= btreeex::kFlagOpenAlways;
    file = BtreeExCreateFile(disk.path.c_str(), treeMode, &code, disk.owner, nullptr);
    if (file == 0) {
      if (error) *error = code;
      // A missing file is the caller's to judge (creation makes it).
      if (!error || code == platform::kErrorSharingViolation) ZEMTA_REPORT(code ? code : systemError());
      platform::setLastError(code);
      return -1;
    }
  } else {
    if (BtreeExOpen(disk.rootTree, treeMode & ~btreeex::kFlagTemporary) != 0) {
      if (error) *error = platform::lastError();
      return -1;
    }
    file = BtreeExGetHandle(disk.rootTree);
  }
  disk.file = file;
  disk.state = requested | kept;
  bool rolledBack = false;
  if (!journalAttach(file, disk.path, &rolledBack)) {
    uint32_t code = systemError();
    ZEMTA_REPORT(code);
    FileExDiskCloseFile(disk, true);
    return -1;
  }
  if (rolledBack && rootHoldsFile(disk)) {
    // The root tree read its root before the file was put back: open it
    // again on the file as it now is.
    journalDetach(file);
    BtreeExClose(disk.rootTree);
    if (BtreeExOpen(disk.rootTree, treeMode & ~btreeex::kFlagTemporary) != 0) {
      disk.file = 0;
      disk.state = 0;
      return -1;
    }
    file = disk.file = BtreeExGetHandle(disk.rootTree);
    journalAttach(file, disk.path, &rolledBack);
  }
  if (rootHoldsFile(disk)) {
    uint32_t code = 0;
    if (!diskRead(disk, 0, disk.header, kBlock, &code)) {
      ZEMTA_REPORT(code);
      FileExDiskCloseFile(disk, true);
      return -1;
    }
    disk.state &= ~kStateDirty;
    disk.cacheCount = disk.taken = disk.queueCount = 0;
    if (BtreeExSpaceFlush(&disk, 1) < 0) {
      FileExDiskCloseFile(disk, true);
      return -1;
    }
  }
  return 0;
}

int32_t FileExDiskFlushAll(Disk& disk) {
  int32_t result = 0;
  if (disk.logDiskHandle && disk.logDiskHandle->file != 0 && FileExDiskFlushAll(*disk.logDiskHandle) != 0) result = -1;
  if (disk.file == 0) return result;
  if (disk.spaceTree != -1 && BtreeExSpaceFlush(&disk, 0) < 0) result = -1;
  for (Entry* entry : std::vector<Entry*>(disk.handles))
    if (entry) FileExEntryFlush(disk, *entry, &result);
  if (disk.headerDirty()) {
    uint32_t code = 0;
    if (!diskWrite(disk, 0, disk.header, kDirtyPart, &code)) {
      ZEMTA_REPORT(code);
      result = -1;
    } else {
      disk.state &= ~kStateDirty;
    }
  }
  for (int32_t tree : {disk.cachedTree, disk.currentTree, disk.idTree, disk.spaceTree, disk.rootTree})
    if (tree != -1 && BtreeExFlush(tree) != 0) result = -1;
  if (result == 0 && !journalCommit(disk.file)) {
    ZEMTA_REPORT(systemError());
    result = -1;
  }
  return result;
}

int32_t FileExDiskCloseFile(Disk& disk, bool force) {
  if (!force) {
    if (disk.accessed > 0) return 0;
    for (Entry* entry : disk.handles)
      if (entry && (entry->state & (kStateOpen | kStateHeld))) return 0;
  }
  if (disk.file == 0) {
    disk.state = 0;
    return 0;
  }
  if (!force && (disk.state & (kStateOpen | kStateHeld))) return 0;
  int32_t result = FileExDiskFlushAll(disk) == 0 ? 0 : -1;
  const ZemtaFileHandle file = disk.file;
  journalDetach(file);
  if (rootHoldsFile(disk) && BtreeExGetHandle(disk.rootTree) == file) {
    // Closing the root tree closes the file and every tree that borrowed it.
    if (BtreeExClose(disk.rootTree) != 0) result = -1;
  } else if (!ZemtaCloseFile(file)) {
    ZEMTA_REPORT(systemError());
    result = -1;
  }
  disk.file = 0;
  disk.state = 0;
  disk.accessed = 0;
  return result;
}

int32_t FileExDiskHold(Disk& disk) {
  if (disk.state & kStateOpen) return 0;
  if (FileExDiskOpenFile(disk, kImplicitMode, nullptr) != 0) return -1;
  disk.state |= kStateHeld;
  return 0;
}

int32_t FileExDiskUnhold(Disk& disk) {
  if (disk.state & kStateOpen) return 0;
  disk.state &= ~kStateHeld;
  return FileExDiskCloseFile(disk, false);
}

// --- paths ---------------------------------------------------------------------

void entryKeyOf(const uint8_t name[128], uint8_t key[14]) { std::memcpy(key, name, 14); }

int32_t openFolderTree(Disk& disk, int64_t position) {
  return BtreeExCreate(nullptr, static_cast<uint32_t>(position + kFieldFirstRoot),
                       static_cast<uint32_t>(static_cast<uint64_t>(position + kFieldFirstRoot) >> 32), 8, 4, 14,
                       disk.owner, FileExCmpEntryKey, 0, &disk, 0, FileExGetFuncOf);
}

namespace {

bool treeUsedByHandle(const Disk& disk, int32_t tree) {
  for (const Entry* entry : disk.handles)
    if (entry && (entry->firstTree == tree || entry->secondTree == tree)) return true;
  return false;
}

}  // namespace

void FileExDiskDropDirTree(Disk& disk) {
  if (disk.cachedTree == -1) return;
  if (disk.cachedTree != disk.currentTree && !treeUsedByHandle(disk, disk.cachedTree))
    BtreeExRelease(disk.cachedTree);
  disk.cachedTree = -1;
}

int64_t lookUpName(Disk& disk, int32_t tree, const uint8_t name[128], uint8_t* record) {
  uint8_t key[14];
  entryKeyOf(name, key);
  uint8_t local[kBlock];
  uint8_t* block = record ? record : local;
  // The run of equal keys: from the entry after the last one less than the key.
  uint64_t position = 0;
  int32_t found = BtreeExLess(tree, &position, key);
  if (found < 0) return -1;
  if (found == 0 && BtreeExSetCurPos(tree, 0xFFFFFFFFu, 0xFFFFFFFFu, 0) != 0) return -1;
  uint8_t stored[14];
  while ((found = BtreeExNext(tree, &position, stored)) == 1) {
    if (FileExCmpEntryKey(stored, key, 14) != 0) break;
    uint32_t code = 0;
    if (!diskRead(disk, static_cast<int64_t>(position), block, kBlock, &code)) {
      ZEMTA_REPORT(code);
      return -1;
    }
    if (std::memcmp(block + kFieldName, name, 128) == 0) return static_cast<int64_t>(position);
  }
  return found < 0 ? -1 : 0;
}

int32_t FileExSplitPath(const char* path, int32_t length, std::string* folder, uint8_t name[128]) {
  std::memset(name, 0, 128);
  if (!path) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (length < 0) {
    const size_t size = std::strlen(path);
    if (size >= kMaxPath) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return -1;
    }
    const char* slash = std::strrchr(path, '\\');
    const char* leaf = slash ? slash + 1 : path;
    const size_t leafSize = std::strlen(leaf);
    if (leafSize > 127) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return -1;
    }
    folder->assign(path, slash ? static_cast<size_t>(slash - path) : 0);
    std::memcpy(name, leaf, leafSize);
    return 0;
  }
  if (length < 14 || length - 14 > 256) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const auto* key = reinterpret_cast<const uint8_t*>(path) + length - 14;
  const size_t folderSize = static_cast<size_t>(length - 14);
  if ((folderSize > 0 && path[folderSize - 1] != '\\') || key[0] || key[1] || key[12] || key[13] ||
      get_u64le(key + 2) == 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  folder->assign(path, folderSize > 0 ? folderSize - 1 : 0);
  std::memcpy(name, key, 14);
  return 0;
}

int32_t FileExResolvePath(Disk& disk, const char* path, int32_t length, Resolved* out) {
  std::string folder;
  if (FileExSplitPath(path, length, &folder, out->name) != 0) return -1;
  out->binary = length >= 0;
  const bool absolute = path[0] == '\\';
  int32_t tree = disk.rootTree;
  uint64_t folderId = 0;
  int64_t folderPosition = 0;
  if (!absolute && disk.currentSet) {
    tree = disk.currentTree;
    folderId = disk.currentId;
    folderPosition = disk.currentPosition;
  }
  size_t at = 0;
  while (at <= folder.size()) {
    size_t end = folder.find('\\', at);
    if (end == std::string::npos) end = folder.size();
    const std::string part = folder.substr(at, end - at);
    at = end + 1;
    if (part.empty()) continue;
    uint8_t name[128] = {};
    if (part.size() > 127) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return -1;
    }
    std::memcpy(name, part.data(), part.size());
    uint8_t* record = disk.blockBuffer;
    const int64_t position = lookUpName(disk, tree, name, record);
    if (position < 0) return -1;
    if (position == 0) {
      ZEMTA_REPORT(platform::kErrorFileNotFound);
      platform::setLastError(platform::kErrorFileNotFound);
      return -1;
    }
    if (!(get_u32le(record + kFieldAttributes) & kAttrDirectory)) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
      return -1;
    }
    folderId = get_u64le(record + kFieldId);
    folderPosition = position;
    int32_t next = -1;
    for (Entry* entry : disk.handles)
      if (entry && entry->position == position && entry->firstTree != -1 && !(entry->typeFlags() & kTypeIndex))
        next = entry->firstTree;
    if (next == -1) {
      if (disk.currentSet && disk.currentPosition == position) {
        next = disk.currentTree;
      } else {
        FileExDiskDropDirTree(disk);
        next = openFolderTree(disk, position);
        if (next == -1) return -1;
        disk.cachedTree = next;
      }
    }
    tree = next;
  }
  out->tree = tree;
  out->folderId = folderId;
  out->folderPosition = folderPosition;
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

namespace zemta::container {

int32_t FileExGetFuncOf(void* userData, BtreeExAllocFunc* alloc, BtreeExFreeFunc* release, int32_t* shared) {
  Disk* disk = findDisk(userData);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  if (alloc) *alloc = FileExBlockAlloc;
  if (release) *release = FileExBlockFree;
  if (shared) *shared = disk->rootTree;
  return 0;
}

namespace {

void freeDiskSlot(Disk* disk) {
  auto& table = diskTable();
  if (disk->slot < table.size() && table[disk->slot] == disk) table[disk->slot] = nullptr;
  if (std::all_of(table.begin(), table.end(), [](Disk* d) { return d == nullptr; })) {
    table.clear();
    table.shrink_to_fit();
  }
}

}  // namespace
}  // namespace zemta::container

ZEMTA_API int32_t FileExGetFunc(FileExDiskHandle handle, void* allocate, void* release, int32_t* rootTree) {
  return container::FileExGetFuncOf(handle, static_cast<BtreeExAllocFunc*>(allocate),
                                    static_cast<BtreeExFreeFunc*>(release), rootTree);
}

ZEMTA_API FileExDiskHandle FileExDiskCreate(const char* path, const char* title, void* ownerWindow, int32_t type) {
  if (!path || !*path || std::strlen(path) >= container::kMaxPath) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return nullptr;
  }
  auto& table = container::diskTable();
  Disk* disk = nullptr;
  try {
    size_t slot = 0;
    while (slot < table.size() && table[slot]) ++slot;
    if (slot == table.size()) table.resize(table.size() + container::kTableStep, nullptr);
    disk = new Disk();
    disk->slot = slot;
    table[slot] = disk;
  } catch (const std::bad_alloc&) {
    delete disk;
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return nullptr;
  }
  disk->path = path;
  if (title) disk->title.assign(title, std::min<size_t>(std::strlen(title), 127));
  disk->owner = ownerWindow;
  disk->temporary = type == FILEEX_DISK_TEMPORARY;
  disk->logDisk = type == FILEEX_DISK_LOG;
  auto fail = [&]() -> FileExDiskHandle {
    FileExDiskRelease(disk);
    return nullptr;
  };

  if (disk->temporary) platform::deleteFile(disk->path);
  uint32_t error = 0;
  bool fresh = false;
  if (container::FileExDiskOpenFile(*disk, container::kImplicitMode, &error) != 0) {
    if (error == platform::kErrorSharingViolation) return fail();
    if (container::FileExDiskOpenFile(*disk, container::kImplicitMode | container::kStateCreate, &error) != 0) {
      if (error != 0) ZEMTA_REPORT(error);
      return fail();
    }
    fresh = true;
  }
  // A file that is still empty (made and never written, or a creation that
  // was rolled back) is made anew.
  if (!fresh && container::diskSize(*disk) == 0) fresh = true;
  if (fresh) {
    std::memset(disk->header, 0, container::kBlock);
    put_u32le(disk->header + container::kFieldTag, container::kDiskKind);
    std::memcpy(disk->header + container::kFieldDescription, disk->title.data(), disk->title.size());
    const uint64_t now = container::fileTimeNow();
    for (uint32_t field : {container::kFieldCreated, container::kFieldAccessed, container::kFieldWritten})
      put_u64le(disk->header + field, now);
    put_u32le(disk->header + container::kFieldAttributes, disk->temporary ? 0x110u : 0x10u);
    put_u32le(disk->header + container::kFieldTypeFlags, disk->temporary ? 0x80000001u : 1u);
    uint32_t code = 0;
    if (!container::diskWrite(*disk, 0, disk->header, container::kBlock, &code)) {
      ZEMTA_REPORT(code);
      return fail();
    }
  } else {
    uint32_t code = 0;
    if (!container::diskRead(*disk, 0, disk->header, container::kBlock, &code)) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
      container::FileExDiskCloseFile(*disk, true);
      return fail();
    }
  }
  if (get_u32le(disk->header) != container::kDiskKind) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
    container::FileExDiskCloseFile(*disk, true);
    return fail();
  }
  struct TreeLayout {
    int32_t* handle;
    uint32_t slot, order, keyType, keyLen;
    BtreeExCompareFunc compare;
  } trees[] = {
      {&disk->rootTree, container::kFieldFirstRoot, 8, 4, 14, container::FileExCmpEntryKey},
      {&disk->spaceTree, container::kFieldSpaceRoot, 10, 0x42, 8, container::FileExCmpBlockID},
      {&disk->idTree, container::kFieldSecondRoot, 10, 2, 8, container::FileExCmpUnsigned},
  };
  for (const TreeLayout& layout : trees) {
    *layout.handle = BtreeExCreate(layout.handle == &disk->rootTree ? disk->path.c_str() : nullptr, layout.slot, 0,
                                   layout.order, layout.keyType, layout.keyLen, ownerWindow, layout.compare, 0, disk,
                                   disk->file, container::FileExGetFuncOf);
    if (*layout.handle == -1) {
      container::FileExDiskCloseFile(*disk, true);
      return fail();
    }
  }
  // The trees took blocks at the end of the file; their roots are in place.
  if (container::FileExDiskFlushAll(*disk) != 0) {
    container::FileExDiskCloseFile(*disk, true);
    return fail();
  }
  // Closed as a file of its own; from now on the root tree opens it.
  const ZemtaFileHandle file = disk->file;
  container::journalDetach(file);
  ZemtaCloseFile(file);
  disk->file = 0;
  disk->state = 0;
  if (disk->temporary) return disk;
  if (container::FileExDiskHold(*disk) != 0) return fail();
  const int32_t made = container::initSystemEntries(*disk);
  if (container::FileExDiskUnhold(*disk) != 0 || made != 0) return fail();
  return disk;
}

ZEMTA_API int32_t FileExDiskOpen(FileExDiskHandle handle, uint32_t mode) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  const uint32_t access = mode & 0xFFEFF;
  if (access != 1 && access != 2 && access != 3 && access != 6) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_MODE);
    return -1;
  }
  if (container::FileExDiskOpenFile(*disk, mode, nullptr) != 0) return -1;
  disk->state |= container::kStateOpen;
  return 0;
}

ZEMTA_API int32_t FileExDiskClose(FileExDiskHandle handle) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  disk->state &= ~(container::kStateOpen | container::kStateHeld);
  disk->accessed = 0;
  return container::FileExDiskCloseFile(*disk, false);
}

ZEMTA_API int32_t FileExDiskFlush(FileExDiskHandle handle) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  if (disk->file == 0) return 0;
  if (container::FileExDiskFlushAll(*disk) != 0) return -1;
  if (!zemta::flushFile(disk->file)) {
    ZEMTA_REPORT(container::systemError());
    return -1;
  }
  return 0;
}

ZEMTA_API int32_t FileExDiskRelease(FileExDiskHandle handle) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  int32_t result = 0;
  if (disk->logTable && FileExRelease(disk->logTable, nullptr) != 0) result = -1;
  disk->logTable = nullptr;
  if (disk->config && FileExRelease(disk->config, nullptr) != 0) result = -1;
  disk->config = nullptr;
  if (disk->logDiskHandle && FileExDiskRelease(disk->logDiskHandle) != 0) result = -1;
  disk->logDiskHandle = nullptr;
  // Temporary results made on tables go with the disk.
  for (container::Entry* entry : std::vector<container::Entry*>(disk->handles)) {
    if (entry && entry->table && (entry->typeFlags() & container::kTypeTemporary)) {
      if (FileExRelease(entry, nullptr) != 0) result = -1;
    }
  }
  disk->state &= ~(container::kStateOpen | container::kStateHeld);
  if (container::FileExDiskCloseFile(*disk, true) != 0) result = -1;
  for (container::Entry* entry : std::vector<container::Entry*>(disk->handles))
    if (entry) container::releaseEntryObject(*disk, entry);
  disk->handles.clear();
  container::FileExDiskDropDirTree(*disk);
  for (int32_t* tree : {&disk->currentTree, &disk->idTree, &disk->spaceTree, &disk->rootTree}) {
    if (*tree != -1 && BtreeExRelease(*tree) != 0) result = -1;
    *tree = -1;
  }
  disk->check = 0;
  if (disk->temporary && !platform::deleteFile(disk->path) && platform::lastError() != platform::kErrorFileNotFound) {
    ZEMTA_REPORT(container::systemError());
    result = -1;
  }
  container::freeDiskSlot(disk);
  delete disk;
  return result;
}

ZEMTA_API uint64_t FileExDiskGetDelCount(FileExDiskHandle handle) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return ~0ull;
  }
  return get_u16le(disk->header + container::kFieldParkedCount) +
         get_u64le(disk->header + container::kFieldFreeCount);
}

ZEMTA_API int32_t FileExDiskGetName(FileExDiskHandle handle, char* buffer, int32_t length, int32_t mode) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  if (!buffer || length < 1 || (mode != 0 && mode != 1)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (mode == 0) {
    disk->nameCursorNode = -1;
    disk->nameCursorIndex = 0;
  }
  if (container::FileExDiskHold(*disk) != 0) return -1;
  int32_t result = -1;
  uint64_t position = 0;
  if (BtreeExSetCurPos(disk->rootTree, static_cast<uint32_t>(disk->nameCursorNode),
                       static_cast<uint32_t>(static_cast<uint64_t>(disk->nameCursorNode) >> 32),
                       disk->nameCursorIndex) == 0) {
    result = BtreeExNext(disk->rootTree, &position, nullptr);
    BtreeExGetCurPos(disk->rootTree, &disk->nameCursorNode, &disk->nameCursorIndex);
    if (result == 1) {
      uint32_t code = 0;
      if (container::diskRead(*disk, static_cast<int64_t>(position), disk->blockBuffer, container::kBlock, &code)) {
        std::memcpy(buffer, disk->blockBuffer + container::kFieldName, std::min<int32_t>(length, 128));
      } else {
        ZEMTA_REPORT(code);
        result = -1;
      }
    }
  }
  if (container::FileExDiskUnhold(*disk) != 0) result = -1;
  return result;
}
