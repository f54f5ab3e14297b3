// The container store's inside: the disk object (disk_file.cpp: the disk's
// format, blocks and key orders; disk.cpp: handles and lifecycle), the entry
// object (entry.cpp: the entry model and operations; entry_data.cpp: data in
// blocks) and what they share. The formats are laid out at the top of
// disk_file.cpp (the disk header and its trees) and entry.cpp (the entry
// record and attribute lists).
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lib/container/trees/btreeex_internal.h"
#include "platform/base/clock.h"
#include "zemta/fileex.h"

namespace zemta::container {

using btreeex::get_i64le;
using btreeex::get_u64le;
using btreeex::put_i64le;
using btreeex::put_u64le;

constexpr uint32_t kBlock = 512;
constexpr uint32_t kDiskCheck = 0xFE0D01F2;
constexpr uint32_t kDiskKind = 0xFFFF0000;
constexpr uint32_t kEntryTag = 0xFE0F01F0;
constexpr uint32_t kEntryTagOther = 0xFEDB0124;

// Fields of the disk header and of entry records (byte offsets).
constexpr uint32_t kFieldTag = 0;
constexpr uint32_t kFieldName = 4;
constexpr uint32_t kFieldDescription = 132;
constexpr uint32_t kFieldGroups = 336;
constexpr uint32_t kFieldItems = 338;
constexpr uint32_t kFieldRecordStore = 344;
constexpr uint32_t kFieldOrder = 352;
constexpr uint32_t kFieldKeyType = 354;
constexpr uint32_t kFieldKeyLength = 356;
constexpr uint32_t kFieldParkedCount = 358;
constexpr uint32_t kFieldParked = 360;
constexpr uint32_t kFieldFreeCount = 376;
constexpr uint32_t kFieldRecordCount = 384;
constexpr uint32_t kFieldId = 392;
constexpr uint32_t kFieldParentId = 400;
constexpr uint32_t kFieldClsid = 408;
constexpr uint32_t kFieldCreated = 424;
constexpr uint32_t kFieldAccessed = 432;
constexpr uint32_t kFieldWritten = 440;
constexpr uint32_t kFieldAttributes = 448;
constexpr uint32_t kFieldTypeFlags = 452;
constexpr uint32_t kFieldDataSize = 480;
constexpr uint32_t kFieldSpaceRoot = 488;
constexpr uint32_t kFieldFirstRoot = 496;
constexpr uint32_t kFieldSecondRoot = 504;
constexpr uint32_t kDirtyPart = 488;  // the part of a header or record rewritten when dirty

// Attributes and type flags.
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrNormal = 0x80;
constexpr uint32_t kAttrTemporary = 0x100;
constexpr uint32_t kAttrSetUp = 0x06;
constexpr uint32_t kTypeFirstTree = 0x1;
constexpr uint32_t kTypeData = 0x2;
constexpr uint32_t kTypeTable = 0x4;
constexpr uint32_t kTypeRecord = 0x8;
constexpr uint32_t kTypeIndex = 0x10;
constexpr uint32_t kTypeIdSet = 0x20;
constexpr uint32_t kTypeLinked = 0x40000000;
constexpr uint32_t kTypeTemporary = 0x80000000;

// State words of disks and entries.
constexpr uint32_t kStateModeBits = 0x3;
constexpr uint32_t kStateDirty = 0x2000;
constexpr uint32_t kStateOpen = 0x4000;  // disk: FileExDiskOpen; entry: held open
constexpr uint32_t kStateCreate = 0x8000;
constexpr uint32_t kStateHeld = 0x10000;  // disk: held for one operation; entry: locked
constexpr uint32_t kStateNoWait = 0x100;
constexpr uint32_t kStatePlainAccess = 0x100000;
constexpr uint32_t kImplicitMode = 0x100003;

constexpr size_t kFreeRun = 512;  // positions in the run of free blocks and in the pending queue

struct Entry;

struct Disk {
  uint8_t header[kBlock] = {};
  int32_t rootTree = -1;
  int32_t idTree = -1;
  int32_t spaceTree = -1;
  int32_t currentTree = -1;  // the current folder's name tree
  int32_t cachedTree = -1;   // the folder tree of the last path lookup
  uint64_t currentId = 0;
  int64_t currentPosition = 0;  // the current folder's block (0: the root)
  bool currentSet = false;
  size_t slot = 0;
  uint32_t check = kDiskCheck;
  std::string path;
  std::string title;
  void* owner = nullptr;
  bool temporary = false;
  bool logDisk = false;
  ZemtaFileHandle file = 0;
  uint32_t state = 0;
  Entry* config = nullptr;
  Entry* logTable = nullptr;
  Disk* logDiskHandle = nullptr;
  int32_t accessed = 0;                 // handles accessed now
  std::vector<Entry*> handles;          // the disk's open entry handles
  bool rootInTable = false;             // the disk handle stands in its table as the root
  // Free space (the flush of btreeex_flush.cpp reads and writes these).
  int32_t cacheCount = 0;
  int32_t taken = 0;
  uint64_t cache[kFreeRun] = {};
  int32_t queueCount = 0;
  uint64_t queue[kFreeRun] = {};
  int64_t nameCursorNode = -1;
  uint16_t nameCursorIndex = 0;
  uint8_t blockBuffer[kBlock] = {};

  bool headerDirty() const { return (state & kStateDirty) != 0; }
  void markDirty() { state |= kStateDirty; }
};

// An attribute list: groups of typed items.
struct AttrGroup {
  uint16_t number = 0;
  std::vector<uint8_t> bytes;  // items back to back: u16 item, u16 type, u16 length, bytes
};
struct AttrList {
  std::vector<AttrGroup> groups;
};

// A table's link to another table: the record of the linked table whose key
// (in the linked table's index) equals this record's value of the key
// column, kept while that value stays the same.
struct LinkSlot {
  uint16_t keyColumn = 0;  // the column of this table that holds the key
  uint16_t index = 0;      // the index number in the linked table (0: none)
  uint64_t tableId = 0;
  uint64_t count = 0;
  uint64_t currentId = 0;  // the linked record now current, 0 when none
  uint64_t written = 0;    // that record's last write time
  AttrList list;           // a copy of that record's saved list
  uint16_t keyType = 0;    // the key value the slot was found with
  std::vector<uint8_t> keyValue;
};

struct Entry {
  uint8_t record[kBlock] = {};
  int32_t secondTree = -1;
  int32_t firstTree = -1;
  int32_t storeNumberTree = -1;
  int32_t storeIdTree = -1;
  Entry* store = nullptr;
  size_t diskSlot = 0;
  uint32_t state = 0;
  bool created = false;
  int64_t position = 0;
  uint64_t pointer = 0;
  int64_t enumNode = -1;
  uint16_t enumIndex = 0;
  AttrList attributes;
  AttrList saved;
  std::vector<Entry*> indexes;
  Entry* table = nullptr;
  Entry* ownerHandle = nullptr;  // a record's table; a result set's or temporary index's owner entry
  std::string ownerName;
  std::vector<uint8_t> indexDef;  // a temporary index's definition
  bool deleting = false;          // the record writer logs a deletion
  std::vector<int64_t> valueSlots;  // a table's value slots for column actions
  std::vector<LinkSlot> linkSlots;  // a table's links to other tables

  uint32_t typeFlags() const { return get_u32le(record + kFieldTypeFlags); }
  uint64_t id() const { return get_u64le(record + kFieldId); }
};

// The disk of a handle that is live and carries the check word, or null.
Disk* findDisk(const void* handle);
Disk* diskAt(size_t slot);

// Byte transfers on the disk's open file (journaled); false with the last
// error set, or the code in *code (0x20000001 for a short transfer).
bool diskRead(Disk& disk, int64_t position, void* data, uint32_t length, uint32_t* code);
bool diskWrite(Disk& disk, int64_t position, const void* data, uint32_t length, uint32_t* code);
int64_t diskSize(Disk& disk);

// The file (disk_file.cpp and disk.cpp).
int32_t FileExDiskOpenFile(Disk& disk, uint32_t mode, uint32_t* error);
int32_t FileExDiskCloseFile(Disk& disk, bool force);
int32_t FileExDiskFlushAll(Disk& disk);
int32_t FileExDiskHold(Disk& disk);
int32_t FileExDiskUnhold(Disk& disk);
void FileExDiskDropDirTree(Disk& disk);
// A block of 512 bytes for a new entry record or data block: a freed one or
// the end of the file. taken tells the caller whether it came from free space.
int64_t takeBlock(Disk& disk, bool* reused, uint32_t* code);
void giveBackTakenBlock(Disk& disk, int64_t position);

int32_t FileExBlockAlloc(uint64_t* position, uint32_t size, void* disk);
int32_t FileExBlockFree(uint32_t low, uint32_t high, uint32_t size, void* disk);

// Key orders of the disk's trees and of index keys.
int32_t FileExCmpEntryKey(const void* left, const void* right, uint32_t width);
int32_t FileExCmpBlockID(const void* left, const void* right, uint32_t width);
int32_t FileExCmpSigned(const void* left, const void* right, uint32_t width);
int32_t FileExCmpUnsigned(const void* left, const void* right, uint32_t width);
int32_t FileExCmpReal(const void* left, const void* right, uint32_t width);
int32_t FileExCmpNullBytes(const void* left, const void* right, uint32_t width);
int32_t FileExCmpNullSigned(const void* left, const void* right, uint32_t width);
int32_t FileExCmpNullUnsigned(const void* left, const void* right, uint32_t width);
int32_t FileExCmpNullReal(const void* left, const void* right, uint32_t width);
BtreeExCompareFunc FileExSelectCompare(uint32_t type, uint32_t width);

// Paths (disk.cpp).
struct Resolved {
  int32_t tree = -1;        // the folder tree that holds the last component
  uint64_t folderId = 0;    // that folder's ID
  int64_t folderPosition = 0;  // that folder's block (0: the root)
  uint8_t name[128] = {};   // the last component's name field (or ID key)
  bool binary = false;
};
int32_t FileExSplitPath(const char* path, int32_t length, std::string* folder, uint8_t name[128]);
int32_t FileExResolvePath(Disk& disk, const char* path, int32_t length, Resolved* out);
// The entry key of a name field.
void entryKeyOf(const uint8_t name[128], uint8_t key[14]);
// Finds the name in the folder tree: the block's position, or 0 when absent;
// the record is read into record when given. -1 on failure (reported).
int64_t lookUpName(Disk& disk, int32_t tree, const uint8_t name[128], uint8_t* record);
// Creates the tree of a folder block (its name tree at block + 496).
int32_t openFolderTree(Disk& disk, int64_t position);

// Entries (entry.cpp).
void FileExEntryFlush(Disk& disk, Entry& entry, int32_t* result);
void releaseEntryObject(Disk& disk, Entry* entry);
bool isLiveEntry(const void* handle);
// The system folder and tables of a new disk (kept when they exist).
int32_t initSystemEntries(Disk& disk);
// The columns of a system table (and the configuration record) when first made.
int32_t setUpSystemTable(const char* path, FileExHandle table);

// Times.
uint64_t fileTimeNow();

// The name a damaged log disk is kept under (disk_log.cpp).
std::string errorCopyName(const std::string& logPath, const platform::LocalTime& now);

}  // namespace zemta::container
