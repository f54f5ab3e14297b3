// The container store's free-space flush and tree flush.
//
// The store hands blocks out of a run of up to 512 free positions read from
// its free-space tree (key u64 512 for every entry, ID the block's position,
// so entries stand in position order), and queues the blocks given back.
// BtreeExSpaceFlush brings the tree up to date: taken positions are deleted,
// queued ones inserted. Both can take or give back tree nodes themselves,
// so it repeats its passes until nothing taken is left and at most two
// blocks given back by its own deletions remain; those two are parked in
// the disk header (count u16 at 358, positions u64 at 360 and 368) rather
// than inserted, which would start another pass. The free count (u64 at 376)
// follows every insertion and deletion.
#include <algorithm>

#include "lib/container/disk/container_internal.h"
#include "lib/core/report.h"

namespace zemta::container {
namespace {

constexpr int32_t kKeepCache = 64;  // a run with more left than this is kept

const uint8_t* blockKey() {
  static uint8_t key[16] = {};
  static bool made = false;
  if (!made) {
    put_u64le(key + 8, kBlock);
    made = true;
  }
  return key;  // the ID's 8 bytes in front, then the key
}

void addFreeCount(Disk& disk, int64_t delta) {
  put_u64le(disk.header + kFieldFreeCount, get_u64le(disk.header + kFieldFreeCount) + static_cast<uint64_t>(delta));
  disk.markDirty();
}

bool insertFree(Disk& disk, uint64_t position) {
  if (BtreeExIns(disk.spaceTree, static_cast<uint32_t>(position), static_cast<uint32_t>(position >> 32),
                 blockKey() + 8) != 0)
    return false;
  addFreeCount(disk, 1);
  return true;
}

bool deleteFree(Disk& disk, uint64_t position) {
  if (BtreeExDel(disk.spaceTree, static_cast<uint32_t>(position), static_cast<uint32_t>(position >> 32),
                 blockKey() + 8) != 0)
    return false;
  addFreeCount(disk, -1);
  return true;
}

int32_t spaceFlush(Disk& disk, int32_t mode) {
  if (mode == 0 && disk.taken == 0 && disk.queueCount == 0) return 0;
  if (!btreeex::findTree(disk.spaceTree)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
    return -1;
  }
  bool stale = disk.cacheCount < disk.taken + 2;
  const uint64_t bound =
      (!stale && disk.cacheCount > 0) ? disk.cache[disk.cacheCount - 1] : 0;
  int32_t deleted = 0;
  auto deleteTaken = [&]() {
    while (deleted < disk.taken) {
      if (!deleteFree(disk, disk.cache[deleted])) return false;
      ++deleted;
    }
    return true;
  };
  if (disk.taken > 0 && !deleteTaken()) return -1;

  for (bool firstPass = true;; firstPass = false) {
    uint16_t parked = get_u16le(disk.header + kFieldParkedCount);
    if (!firstPass && (disk.queueCount == 1 || disk.queueCount == 2) && parked == 0) {
      std::sort(disk.queue, disk.queue + disk.queueCount);
      for (int32_t i = 0; i < disk.queueCount; ++i) {
        put_u64le(disk.header + kFieldParked + 8 * i, disk.queue[i]);
        if (disk.queue[i] < bound) stale = true;
      }
      put_u16le(disk.header + kFieldParkedCount, static_cast<uint16_t>(disk.queueCount));
      disk.markDirty();
      disk.queueCount = 0;
      break;
    }
    // Insertions take nodes but give none back, so the queue holds still.
    for (int32_t i = 0; i < disk.queueCount; ++i) {
      if (!insertFree(disk, disk.queue[i])) {
        // Keep what is not inserted yet queued.
        std::copy(disk.queue + i, disk.queue + disk.queueCount, disk.queue);
        disk.queueCount -= i;
        return -1;
      }
      if (disk.queue[i] < bound) stale = true;
    }
    disk.queueCount = 0;
    parked = get_u16le(disk.header + kFieldParkedCount);
    if (parked > 0 && disk.cacheCount >= disk.taken + 2) {
      // Cleared first, so that the insertions' own allocations do not take them.
      uint64_t blocks[2] = {get_u64le(disk.header + kFieldParked), get_u64le(disk.header + kFieldParked + 8)};
      put_u16le(disk.header + kFieldParkedCount, 0);
      std::memset(disk.header + kFieldParked, 0, 16);
      disk.markDirty();
      for (uint16_t i = 0; i < parked; ++i) {
        if (!insertFree(disk, blocks[i])) return -1;
        if (blocks[i] < bound) stale = true;
      }
    }
    if (deleted == disk.taken) break;
    if (!deleteTaken()) return -1;
  }

  if (mode == 0 && !stale && disk.cacheCount - disk.taken > kKeepCache) {
    std::copy(disk.cache + disk.taken, disk.cache + disk.cacheCount, disk.cache);
    disk.cacheCount -= disk.taken;
    disk.taken = 0;
    return 0;
  }
  disk.cacheCount = 0;
  disk.taken = 0;
  if (mode < 0) return 0;
  if (BtreeExSetCurPos(disk.spaceTree, 0xFFFFFFFFu, 0xFFFFFFFFu, 0) != 0) return -1;
  for (;;) {
    uint64_t position = 0;
    int32_t step = BtreeExNext(disk.spaceTree, &position, nullptr);
    if (step != 1) return step;
    disk.cache[disk.cacheCount++] = position;
    if (disk.cacheCount == static_cast<int32_t>(kFreeRun)) return 1;
  }
}

}  // namespace
}  // namespace zemta::container

namespace container = zemta::container;

ZEMTA_API int32_t BtreeExSpaceFlush(void* handle, int32_t mode) {
  container::Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  return container::spaceFlush(*disk, mode);
}

ZEMTA_API int32_t BtreeExFlushStore(void* handle, void* entryHandle) {
  container::Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  if (!container::isLiveEntry(entryHandle)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return -1;
  }
  auto* entry = static_cast<container::Entry*>(entryHandle);
  int32_t result = 0;
  auto flush = [&](int32_t tree) {
    if (tree == -1) return;
    if (!zemta::btreeex::findTree(tree)) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
      result = -1;
    } else if (BtreeExFlush(tree) != 0) {
      result = -1;
    }
  };
  flush(entry->secondTree);
  if (entry->firstTree != disk->currentTree) flush(entry->firstTree);
  flush(entry->storeNumberTree);
  flush(entry->storeIdTree);
  for (container::Entry* index : entry->indexes) {
    if (!index) continue;
    flush(index->firstTree);
    flush(index->secondTree);
  }
  return result;
}
