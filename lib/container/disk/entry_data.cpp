// Entry data in blocks: the byte stream of a file, table or record.
//
// The stream is cut into 512-byte blocks; block n holds bytes n * 512 to
// n * 512 + 511 and lies at its own block of the disk, found through the
// entry's block tree (second tree, root slot 504: u64 block number to the
// block's position). Blocks 0 to ceil(size / 512) - 1 exist; the size is the
// u64 at 480 of the entry record. Bytes of a block past the data, and whole
// blocks added to fill a gap, hold 0xFF. The data pointer lives in the handle
// only.
#include <algorithm>
#include <cstring>

#include "lib/container/disk/container_internal.h"
#include "lib/container/disk/entry_model.h"
#include "lib/core/report.h"

namespace zemta::container {

namespace {

constexpr uint32_t kGrowChunk = 65536;

struct DataFailure {
  uint32_t code;  // 0: already reported
};

uint64_t sizeOf(const Entry& entry) { return get_u64le(entry.record + kFieldDataSize); }

void setSizeField(Entry& entry, uint64_t size) {
  put_u64le(entry.record + kFieldDataSize, size);
  entry.state |= kStateDirty;
}

void touch(Disk& disk, Entry& entry, uint32_t field) {
  const uint64_t now = fileTimeNow();
  put_u64le(entry.record + field, now);
  put_u64le(disk.header + field, now);
  entry.state |= kStateDirty;
  disk.markDirty();
}

// The position of block n, or 0 when the tree has none.
int64_t findBlock(Entry& entry, uint64_t n) {
  uint8_t key[8];
  put_u64le(key, n);
  uint64_t position = 0;
  const int32_t found = BtreeExEqu(entry.secondTree, &position, key);
  if (found < 0) throw DataFailure{0};
  return found == 1 ? static_cast<int64_t>(position) : 0;
}

// Adds block n holding the 512 bytes given.
void addBlock(Disk& disk, Entry& entry, uint64_t n, const uint8_t* bytes) {
  bool reused = false;
  uint32_t code = 0;
  const int64_t position = takeBlock(disk, &reused, &code);
  if (position < 0) throw DataFailure{code};
  if (!diskWrite(disk, position, bytes, kBlock, &code)) {
    if (reused) giveBackTakenBlock(disk, position);
    throw DataFailure{code};
  }
  uint8_t key[8];
  put_u64le(key, n);
  if (BtreeExIns(entry.secondTree, static_cast<uint32_t>(position), static_cast<uint32_t>(static_cast<uint64_t>(position) >> 32),
                 key) != 0)
    throw DataFailure{0};
}

void flushSpace(Disk& disk) {
  if (BtreeExSpaceFlush(&disk, 0) < 0) throw DataFailure{0};
}

void writeData(Disk& disk, Entry& entry, const uint8_t* data, uint32_t length) {
  uint8_t* block = disk.blockBuffer;
  while (length > 0) {
    const uint64_t n = entry.pointer / kBlock;
    const uint32_t offset = static_cast<uint32_t>(entry.pointer % kBlock);
    const uint32_t part = std::min(kBlock - offset, length);
    const uint64_t size = sizeOf(entry);
    const uint64_t blocks = (size + kBlock - 1) / kBlock;
    const int64_t position = findBlock(entry, n);
    uint32_t code = 0;
    if (position > 0) {
      if (!diskRead(disk, position, block, kBlock, &code)) throw DataFailure{code};
      std::memcpy(block + offset, data, part);
      if (!diskWrite(disk, position, block, kBlock, &code)) throw DataFailure{code};
    } else {
      if (n < blocks) throw DataFailure{ZEMTA_ERR_FILE_FORMAT};
      // Gap blocks of 0xFF up to the target block.
      for (uint64_t gap = blocks; gap < n; ++gap) {
        std::memset(block, 0xFF, kBlock);
        addBlock(disk, entry, gap, block);
        setSizeField(entry, (gap + 1) * kBlock);
        flushSpace(disk);
      }
      std::memset(block, 0xFF, kBlock);
      std::memcpy(block + offset, data, part);
      addBlock(disk, entry, n, block);
    }
    entry.pointer += part;
    data += part;
    length -= part;
    if (entry.pointer > sizeOf(entry)) setSizeField(entry, entry.pointer);
    touch(disk, entry, kFieldWritten);
    flushSpace(disk);
  }
}

// Reads up to length bytes; the count read.
uint32_t readData(Disk& disk, Entry& entry, uint8_t* out, uint32_t length, bool counted) {
  uint32_t count = 0;
  uint8_t* block = disk.blockBuffer;
  while (count < length) {
    const uint64_t size = sizeOf(entry);
    if (entry.pointer >= size) {
      if (counted) break;
      throw DataFailure{ZEMTA_ERR_FILE_SIZE};
    }
    const uint64_t n = entry.pointer / kBlock;
    const uint32_t offset = static_cast<uint32_t>(entry.pointer % kBlock);
    const int64_t position = findBlock(entry, n);
    if (position <= 0) throw DataFailure{ZEMTA_ERR_FILE_FORMAT};
    uint32_t code = 0;
    if (!diskRead(disk, position, block, kBlock, &code)) throw DataFailure{code};
    touch(disk, entry, kFieldAccessed);
    const uint64_t blockEnd = std::min<uint64_t>((n + 1) * kBlock, size);
    const uint32_t inBlock = static_cast<uint32_t>(blockEnd - entry.pointer);
    const uint32_t part = std::min(inBlock, length - count);
    std::memcpy(out + count, block + offset, part);
    entry.pointer += part;
    count += part;
  }
  return count;
}

void resize(Disk& disk, Entry& entry, uint64_t size) {
  const uint64_t old = sizeOf(entry);
  if (size == old) return;
  if (size > old) {
    static const std::vector<uint8_t> filler(kGrowChunk, 0xFF);
    entry.pointer = old;
    while (entry.pointer < size)
      writeData(disk, entry, filler.data(), static_cast<uint32_t>(std::min<uint64_t>(kGrowChunk, size - entry.pointer)));
    return;
  }
  const uint64_t keep = (size + kBlock - 1) / kBlock;
  for (uint64_t n = (old + kBlock - 1) / kBlock; n-- > keep;) {
    const int64_t position = findBlock(entry, n);
    if (position > 0) {
      if (FileExBlockFree(static_cast<uint32_t>(position), static_cast<uint32_t>(static_cast<uint64_t>(position) >> 32),
                          kBlock, &disk) != 0)
        throw DataFailure{0};
      uint8_t key[8];
      put_u64le(key, n);
      if (BtreeExDel(entry.secondTree, static_cast<uint32_t>(position),
                     static_cast<uint32_t>(static_cast<uint64_t>(position) >> 32), key) != 0)
        throw DataFailure{0};
      flushSpace(disk);
    }
  }
  setSizeField(entry, size);
  if (size % kBlock != 0) {
    const int64_t position = findBlock(entry, size / kBlock);
    if (position <= 0) throw DataFailure{ZEMTA_ERR_FILE_FORMAT};
    uint32_t code = 0;
    uint8_t* block = disk.blockBuffer;
    if (!diskRead(disk, position, block, kBlock, &code)) throw DataFailure{code};
    std::memset(block + size % kBlock, 0xFF, kBlock - size % kBlock);
    if (!diskWrite(disk, position, block, kBlock, &code)) throw DataFailure{code};
  }
  touch(disk, entry, kFieldWritten);
}

// Runs body on an entry with data inside the access bracket.
template <typename Body>
int32_t onData(void* handle, Body&& body) {
  Disk* disk = nullptr;
  Entry* entry = nullptr;
  if (isLiveEntry(handle)) {
    entry = static_cast<Entry*>(handle);
    disk = diskAt(entry->diskSlot);
    if (!disk || disk->check != kDiskCheck) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
      return -1;
    }
  } else if (findDisk(handle)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);  // the root folder has no data
    return -1;
  }
  if (!entry || !(entry->typeFlags() & kTypeData) || entry->secondTree == -1) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return -1;
  }
  const bool open = disk->file != 0;
  const bool wasAccessed = (entry->state & (0x3 | kStatePlainAccess | kStateOpen | kStateHeld)) != 0;
  if (!open && FileExDiskHold(*disk) != 0) return -1;
  if (open && !wasAccessed) ++disk->accessed;
  int32_t result = 0;
  try {
    result = body(*disk, *entry);
  } catch (const DataFailure& failure) {
    if (failure.code != 0) ZEMTA_REPORT(failure.code);
    result = -1;
  } catch (const std::bad_alloc&) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    result = -1;
  }
  if (!wasAccessed) {
    int32_t flushed = 0;
    FileExEntryFlush(*disk, *entry, &flushed);
    if (flushed != 0) result = -1;
  }
  if (open && !wasAccessed && disk->accessed > 0) --disk->accessed;
  if (!open && FileExDiskUnhold(*disk) != 0) result = -1;
  return result;
}

}  // namespace

int32_t setDataSize(Disk& disk, Entry& entry, uint64_t size) {
  try {
    resize(disk, entry, size);
  } catch (const DataFailure& failure) {
    if (failure.code != 0) ZEMTA_REPORT(failure.code);
    return -1;
  }
  return 0;
}

}  // namespace zemta::container

namespace container = zemta::container;

ZEMTA_API uint64_t FileExGetSize(FileExHandle handle) {
  uint64_t size = 0;
  if (container::onData(handle, [&](container::Disk&, container::Entry& entry) {
        size = container::sizeOf(entry);
        return 0;
      }) != 0)
    return ~0ull;
  return size;
}

ZEMTA_API int32_t FileExSetSize(FileExHandle handle, uint32_t sizeLow, uint32_t sizeHigh) {
  const uint64_t size = sizeLow | (static_cast<uint64_t>(sizeHigh) << 32);
  return container::onData(handle, [&](container::Disk& disk, container::Entry& entry) {
    container::resize(disk, entry, size);
    return 0;
  });
}

ZEMTA_API uint64_t FileExSetPointer(FileExHandle handle, int64_t distance, int32_t origin) {
  uint64_t position = 0;
  if (container::onData(handle, [&](container::Disk&, container::Entry& entry) -> int32_t {
        int64_t base;
        switch (origin) {
          case 0: base = 0; break;
          case 1: base = static_cast<int64_t>(entry.pointer); break;
          case 2: base = static_cast<int64_t>(container::sizeOf(entry)); break;
          default: throw container::DataFailure{ZEMTA_ERR_BAD_PARAMETER};
        }
        const int64_t target = base + distance;
        if (target < 0 || (distance > 0 && target < base)) throw container::DataFailure{ZEMTA_ERR_BAD_PARAMETER};
        entry.pointer = static_cast<uint64_t>(target);
        position = entry.pointer;
        return 0;
      }) != 0)
    return ~0ull;
  return position;
}

ZEMTA_API int32_t FileExWrite(FileExHandle handle, const void* data, uint32_t length) {
  if (length > 0 && !data) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return container::onData(handle, [&](container::Disk& disk, container::Entry& entry) {
    if (length == 0) return 0;
    if (entry.pointer + length < entry.pointer) throw container::DataFailure{ZEMTA_ERR_BAD_PARAMETER};
    container::writeData(disk, entry, static_cast<const uint8_t*>(data), length);
    return 0;
  });
}

ZEMTA_API int32_t FileExRead(FileExHandle handle, void* buffer, uint32_t length, uint32_t* count) {
  if (count) *count = 0;
  if (length > 0 && !buffer) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return container::onData(handle, [&](container::Disk& disk, container::Entry& entry) {
    if (length == 0) return 0;
    const uint32_t read = container::readData(disk, entry, static_cast<uint8_t*>(buffer), length, count != nullptr);
    if (count) *count = read;
    return 0;
  });
}
