// The container disk file: its header, its three trees, its 512-byte blocks
// and the orders of tree keys.
//
// The file is a sequence of 512-byte blocks at 64-bit offsets; integers are
// little-endian. Block 0 is the disk header, which is also the entry record
// of the root folder (entry records are laid out at the top of entry.cpp):
//
//   | offset | size | field                                                         |
//   | 0      | 4    | kind word 0xFFFF0000 (any other: not a disk, 0x20000002)       |
//   | 4      | 128  | entry name: zero in the header                                 |
//   | 132    | 128  | title, at most 127 characters and a NUL, the rest zero         |
//   | 260    | 68   | entry fields (zero in a fresh header)                          |
//   | 328    | 8    | in a plain-copy backup: ID of the log table's last row         |
//   | 336    | 22   | entry fields                                                   |
//   | 358    | 2    | u16 count of parked free blocks, 0 to 2                        |
//   | 360    | 16   | two parked free block offsets, ascending                       |
//   | 376    | 8    | u64 count of blocks in the free-space tree                     |
//   | 384    | 8    | u64 entry field (a table's record count)                       |
//   | 392    | 8    | u64 last entry ID handed out (raised by one, then used)        |
//   | 400    | 24   | entry fields                                                   |
//   | 424    | 8    | FILETIME (UTC) of creation                                     |
//   | 432    | 8    | FILETIME, the creation time at creation (last access)          |
//   | 440    | 8    | FILETIME, the creation time at creation (last write)           |
//   | 448    | 4    | flags 1: 0x10 folder, 0x100 temporary disk, 6 set up: 16 or 272|
//   | 452    | 4    | flags 2 (type flags): 1, or 0x80000001 for a temporary disk    |
//   | 456    | 32   | entry fields                                                   |
//   | 488    | 8    | root slot of the free-space tree                               |
//   | 496    | 8    | root slot of the root folder's name tree                       |
//   | 504    | 8    | root slot of the ID tree                                       |
//
// The first 488 bytes are rewritten when the header is dirty; the root slots
// only by the tree engine, 8 bytes at a time, when a root moves.
//
// The three trees (each node exactly one block):
//   | tree             | slot | order | key type | key | ID                    | key                 | order by            |
//   | root name tree   | 496  | 8     | 4        | 14  | child's record offset | child's entry key   | FileExCmpEntryKey   |
//   | free-space tree  | 488  | 10    | 0x42     | 8   | free block offset     | u64 512             | FileExCmpBlockID    |
//   | ID tree          | 504  | 10    | 2        | 8   | entry's record offset | u64 entry ID        | FileExCmpUnsigned   |
// Every folder has a name tree of its own rooted at 496 of its record.
//
// Entry key (14 bytes): the first 14 bytes of the name, zero-padded (its
// first two bytes are not both zero), or a binary key: u16 0, u64 non-zero
// ID, u16 kind, u16 0. Names sharing 14 bytes share a key; a lookup walks the
// equal keys and compares the whole 128-byte name field.
//
// Blocks: new records and tree nodes come from FileExBlockAlloc, else from
// the end of the file. Freed blocks are never given back to the file system;
// offsets below 1024 are never freed. The free-space flush (btreeex_flush.cpp)
// keeps the free-space tree.
#include <cmath>
#include <cstring>

#include "lib/container/disk/container_internal.h"
#include "lib/container/disk/disk_journal.h"
#include "lib/core/report.h"
#include "lib/store/tables/file_access.h"
#include "platform/base/last_error.h"

namespace zemta::container {

// --- transfers -----------------------------------------------------------------

bool diskRead(Disk& disk, int64_t position, void* data, uint32_t length, uint32_t* code) {
  uint32_t done = 0;
  if (!readFileAt(disk.file, position, data, length, &done)) {
    *code = platform::lastError() ? platform::lastError() : static_cast<uint32_t>(ZEMTA_ERR_FILE_ACCESS);
    return false;
  }
  if (done != length) {
    *code = ZEMTA_ERR_FILE_SIZE;
    return false;
  }
  return true;
}

bool diskWrite(Disk& disk, int64_t position, const void* data, uint32_t length, uint32_t* code) {
  uint32_t done = 0;
  if (!journalBeforeWrite(disk.file, position, length) || !writeFileAt(disk.file, position, data, length, &done)) {
    *code = platform::lastError() ? platform::lastError() : static_cast<uint32_t>(ZEMTA_ERR_FILE_ACCESS);
    return false;
  }
  if (done != length) {
    *code = ZEMTA_ERR_FILE_SIZE;
    return false;
  }
  return true;
}

int64_t diskSize(Disk& disk) { return fileSize64(disk.file); }

// --- key orders ----------------------------------------------------------------

namespace {

int64_t signedValue(const uint8_t* p, uint32_t width) {
  if (width > 8) width = 8;
  uint64_t v = 0;
  for (uint32_t i = 0; i < width; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  if (width < 8 && width > 0 && (p[width - 1] & 0x80)) v |= ~0ull << (8 * width);
  return static_cast<int64_t>(v);
}

uint64_t unsignedValue(const uint8_t* p, uint32_t width) {
  if (width > 8) width = 8;
  uint64_t v = 0;
  for (uint32_t i = 0; i < width; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  return v;
}

int compareReal(const uint8_t* a, const uint8_t* b, bool single) {
  double x, y;
  if (single) {
    float fx, fy;
    std::memcpy(&fx, a, 4);
    std::memcpy(&fy, b, 4);
    x = fx;
    y = fy;
  } else {
    std::memcpy(&x, a, 8);
    std::memcpy(&y, b, 8);
  }
  return x < y ? -1 : (x > y ? 1 : 0);
}

// The null-flag comparators: an empty key (bit 0 of the first byte clear)
// sorts first; 0 when the plain comparison is to decide (*both).
int comparePresence(const uint8_t* a, const uint8_t* b, bool* both) {
  const bool pa = a[0] & 1, pb = b[0] & 1;
  *both = pa && pb;
  return pa == pb ? 0 : (pa ? 1 : -1);
}

}  // namespace

int32_t FileExCmpEntryKey(const void* left, const void* right, uint32_t) {
  const auto* a = static_cast<const uint8_t*>(left);
  const auto* b = static_cast<const uint8_t*>(right);
  const uint16_t headA = get_u16le(a), headB = get_u16le(b);
  if (headA != 0 && headB != 0) {
    int c = std::memcmp(a, b, 14);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  const int32_t kinds = static_cast<int32_t>(get_u16le(a + 10)) - static_cast<int32_t>(get_u16le(b + 10));
  if (kinds != 0) return kinds;
  if (headA != 0) return 1;
  if (headB != 0) return -1;
  const uint64_t x = get_u64le(a + 2), y = get_u64le(b + 2);
  return x < y ? -1 : (x > y ? 1 : 0);
}

int32_t FileExCmpBlockID(const void* left, const void* right, uint32_t) {
  const uint64_t x = get_u64le(static_cast<const uint8_t*>(left) - 8);
  const uint64_t y = get_u64le(static_cast<const uint8_t*>(right) - 8);
  return x < y ? -1 : (x > y ? 1 : 0);
}

int32_t FileExCmpSigned(const void* left, const void* right, uint32_t width) {
  const int64_t x = signedValue(static_cast<const uint8_t*>(left), width);
  const int64_t y = signedValue(static_cast<const uint8_t*>(right), width);
  return x < y ? -1 : (x > y ? 1 : 0);
}

int32_t FileExCmpUnsigned(const void* left, const void* right, uint32_t width) {
  const uint64_t x = unsignedValue(static_cast<const uint8_t*>(left), width);
  const uint64_t y = unsignedValue(static_cast<const uint8_t*>(right), width);
  return x < y ? -1 : (x > y ? 1 : 0);
}

int32_t FileExCmpReal(const void* left, const void* right, uint32_t width) {
  return compareReal(static_cast<const uint8_t*>(left), static_cast<const uint8_t*>(right), width == 4);
}

int32_t FileExCmpNullBytes(const void* left, const void* right, uint32_t width) {
  const auto* a = static_cast<const uint8_t*>(left);
  const auto* b = static_cast<const uint8_t*>(right);
  bool both = false;
  int c = comparePresence(a, b, &both);
  if (!both || width < 2) return c;
  c = std::memcmp(a + 1, b + 1, width - 1);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int32_t FileExCmpNullSigned(const void* left, const void* right, uint32_t width) {
  const auto* a = static_cast<const uint8_t*>(left);
  const auto* b = static_cast<const uint8_t*>(right);
  bool both = false;
  int c = comparePresence(a, b, &both);
  return both && width >= 2 ? FileExCmpSigned(a + 1, b + 1, width - 1) : c;
}

int32_t FileExCmpNullUnsigned(const void* left, const void* right, uint32_t width) {
  const auto* a = static_cast<const uint8_t*>(left);
  const auto* b = static_cast<const uint8_t*>(right);
  bool both = false;
  int c = comparePresence(a, b, &both);
  return both && width >= 2 ? FileExCmpUnsigned(a + 1, b + 1, width - 1) : c;
}

int32_t FileExCmpNullReal(const void* left, const void* right, uint32_t width) {
  const auto* a = static_cast<const uint8_t*>(left);
  const auto* b = static_cast<const uint8_t*>(right);
  bool both = false;
  int c = comparePresence(a, b, &both);
  return both ? compareReal(a + 1, b + 1, width == 5) : c;
}

namespace {

int32_t signedOver5(const void* l, const void* r, uint32_t) { return FileExCmpSigned(l, r, 5); }
int32_t unsignedOver5(const void* l, const void* r, uint32_t) { return FileExCmpUnsigned(l, r, 5); }

}  // namespace

BtreeExCompareFunc FileExSelectCompare(uint32_t type, uint32_t width) {
  if (width == 0) return nullptr;
  switch (type & 0x3F) {
    case 0: return [](const void* l, const void* r, uint32_t w) {
        int c = std::memcmp(l, r, w);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
      };
    case 1: return width <= 8 ? FileExCmpSigned : nullptr;
    case 2: return width <= 8 ? FileExCmpUnsigned : nullptr;
    case 3: return width == 4 || width == 8 ? FileExCmpReal : nullptr;
    case 12: return width == 4 ? FileExCmpUnsigned : nullptr;
    case 13: return width == 4 ? FileExCmpSigned : nullptr;
    case 14:
    case 15: return width == 8 ? FileExCmpSigned : nullptr;
    case 32: return FileExCmpNullBytes;
    case 33: return width <= 9 ? FileExCmpNullSigned : nullptr;
    case 34: return width <= 9 ? FileExCmpNullUnsigned : nullptr;
    case 35: return width == 5 || width == 9 ? FileExCmpNullReal : nullptr;
    case 44: return width == 5 ? unsignedOver5 : nullptr;
    case 45: return width == 5 ? signedOver5 : nullptr;
    case 46:
    case 47: return width == 9 ? FileExCmpSigned : nullptr;
    default: return nullptr;
  }
}

// --- blocks --------------------------------------------------------------------

int32_t FileExBlockAlloc(uint64_t* position, uint32_t size, void* handle) {
  Disk* disk = findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  if (size == 0 || size % kBlock != 0 || !position) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const uint32_t blocks = size / kBlock;
  uint16_t parked = get_u16le(disk->header + kFieldParkedCount);
  if (blocks == 1 && parked > 0 &&
      (disk->taken >= disk->cacheCount || get_u64le(disk->header + kFieldParked) <= disk->cache[disk->taken])) {
    *position = get_u64le(disk->header + kFieldParked);
    std::memmove(disk->header + kFieldParked, disk->header + kFieldParked + 8, 8);
    std::memset(disk->header + kFieldParked + 8 * (parked - 1), 0, 8);
    put_u16le(disk->header + kFieldParkedCount, static_cast<uint16_t>(parked - 1));
    disk->markDirty();
    return 1;
  }
  if (disk->taken + static_cast<int32_t>(blocks) > disk->cacheCount) return 0;
  for (uint32_t i = 1; i < blocks; ++i)
    if (disk->cache[disk->taken + i] != disk->cache[disk->taken + i - 1] + kBlock) return 0;
  *position = disk->cache[disk->taken];
  disk->taken += static_cast<int32_t>(blocks);
  return 1;
}

int32_t FileExBlockFree(uint32_t low, uint32_t high, uint32_t size, void* handle) {
  Disk* disk = findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  const uint64_t position = low | (static_cast<uint64_t>(high) << 32);
  if (position < 1024 || position % kBlock != 0 || size == 0 || size % kBlock != 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const uint32_t blocks = size / kBlock;
  if (disk->queueCount + blocks > kFreeRun) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }
  for (uint32_t i = 0; i < blocks; ++i) disk->queue[disk->queueCount++] = position + static_cast<uint64_t>(i) * kBlock;
  return 0;
}

int64_t takeBlock(Disk& disk, bool* reused, uint32_t* code) {
  uint64_t position = 0;
  const int32_t answer = FileExBlockAlloc(&position, kBlock, &disk);
  if (answer == -1) {
    *code = 0;
    return -1;
  }
  *reused = answer != 0;
  if (answer != 0) return static_cast<int64_t>(position);
  const int64_t end = diskSize(disk);
  if (end < 0) *code = platform::lastError();
  return end;
}

void giveBackTakenBlock(Disk& disk, int64_t position) {
  FileExBlockFree(static_cast<uint32_t>(position), static_cast<uint32_t>(static_cast<uint64_t>(position) >> 32), kBlock,
                  &disk);
}

}  // namespace zemta::container
