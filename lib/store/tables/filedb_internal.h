// The inside of the table layer, shared by filedb.cpp (tables and records),
// index_keys.cpp (index files and keys) and the project database, which holds
// tables open, walks their indexes and keeps record-buffer rows in step.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lib/store/tables/remote_table.h"
#include "zemta/fileaccess.h"
#include "zemta/filedb.h"
#include "zemta/fileidx.h"

namespace zemta::filedb {

constexpr uint32_t kTableCheckWord = 0x25340000;
constexpr size_t kMaxTables = 128;
constexpr size_t kMaxIndexes = 32;
constexpr size_t kMaxCallerBuffers = 8;
constexpr size_t kMaxPath = 259;
constexpr size_t kDisplayNameSize = 128;
constexpr uint32_t kCountUnknown = 0xFFFFFFFFu;

// Table open-state bits beside the open mode.
constexpr uint32_t kModeNoWait = 0x100;
constexpr uint32_t kModeOpenAlways = 0x8000;
constexpr uint32_t kModeNoWriteThrough = 0x100000;

// Index entry state bits beside the B-tree open mode.
constexpr uint32_t kIndexDirty = 0x1000;
constexpr uint32_t kIndexHeldEx = 0x10000;
constexpr uint32_t kIndexNoWriteThrough = 0x100000;

// The index file header and its two magics.
constexpr uint32_t kIndexHeaderLen = 48;
constexpr uint32_t kMagicLen = 12;
extern const char kCleanMagic[kMagicLen + 1];  // "ZEMTA BTRX\r\n"
extern const char kDirtyMagic[kMagicLen + 1];  // "RXBTA MTZE\r\n"

struct IndexEntry {
  int32_t check = 0;   // ~handle while the entry is sound
  int32_t handle = -1; // B-tree handle; -1 none
  uint32_t state = 0;  // 0 closed; B-tree mode | kIndexDirty | kIndexHeldEx | kIndexNoWriteThrough
  uint16_t order = 0;
  uint16_t keyType = 0;
  int16_t keyDesc = 0;  // simple key: record offset; composite: -(number of parts)
  uint16_t keyLen = 0;
  uint16_t fieldWord = 0;
  BtreeCompareFunc compare = nullptr;
  std::string path;
  std::array<FileIndexKeyPart, FILEIDX_MAX_PARTS> parts{};
  int32_t sourceTable = 0;  // 0: the table's own index
  int32_t sourceIndex = -1, linkIndex = -1, ownIndex = -1;
  int32_t remoteIndex = 0;

  bool own() const { return sourceTable == 0; }
  bool composite() const { return keyDesc < 0; }
  int partCount() const { return keyDesc < 0 ? -keyDesc : 0; }
  bool sound() const { return check == ~handle; }
};

struct Table {
  FileDBHandle handle = 0;
  int32_t check = 0;  // id - kTableCheckWord
  uint16_t id = 0;
  std::string path;
  uint16_t headerLen = 0;
  uint16_t recordLen = 0;
  ZemtaFileHandle file = 0;
  uint32_t mode = 0;    // current open mode, 0 closed
  bool held = false;    // internal hold
  bool heldEx = false;  // FileDBOpenEx
  bool lingerHold = false;  // the FileDBOpenEx hold lingers after its close
  bool lingers = false;     // closed by FileDBCloseEx, still held open
  int32_t cached = -1;
  uint32_t count = kCountUnknown;
  // The record count while FileDBOpenEx holds the local file open for
  // writing: no other open may write it then (a write open shares nothing),
  // so it changes only through this table and is not asked of the system
  // before every record. kCountUnknown otherwise, and after any change of the
  // file this table did not count itself.
  uint32_t heldCount = kCountUnknown;
  // Records appended while FileDBOpenEx holds the local file for writing
  // without write-through wait here, in record order from waitingFirst,
  // and reach the file in one write (flushWaiting) before anything reads,
  // writes, counts or closes the file: the hold keeps every other open out
  // meanwhile, and its indexes stay marked dirty until the records are in.
  std::vector<uint8_t> waiting;
  uint32_t waitingFirst = 0;
  // While FileDBOpenEx holds the local file for writing, no other open can
  // change it either: its records are read into memory whole at the hold's
  // first record read (up to kHeldImageLimit bytes) and read from there, and
  // every write of the file through this table is copied into the image.
  // heldImageFile is the open file the image belongs to (0: no image).
  std::vector<uint8_t> heldImage;
  ZemtaFileHandle heldImageFile = 0;
  // Records written without write-through since the file was last synced:
  // they go to the disk before an index is marked clean over them.
  bool recordsUnsynced = false;
  std::vector<uint8_t> header;
  std::vector<uint8_t> images;  // cached record image, then a scratch image
  // A write's keys before and after, and which indexes it changes (kept
  // between writes so that a run of appends allocates nothing).
  std::vector<uint8_t> oldKey, newKey;
  std::vector<char> keysChanging;
  std::vector<IndexEntry> indexes;
  std::vector<std::unique_ptr<uint8_t[]>> callerBuffers;
  std::string displayName;
  HWND owner = nullptr;
  bool notifySuppressed = false;
  bool notifyPending = false;
  bool appended = false;
  bool lastRead = false;
  uint32_t storageKind = 0;  // kRemoteRecordStore: records kept by the remote file service
  std::vector<RemoteColumn> remoteColumns;

  bool remote() const { return storageKind == kRemoteRecordStore; }

  uint8_t* cachedImage() { return images.data(); }
  uint8_t* scratchImage() { return images.data() + recordLen; }
  uint32_t recordOffset(uint32_t n) const { return headerLen + n * static_cast<uint32_t>(recordLen); }
};

// The table of a handle whose check word holds; null otherwise (unreported).
Table* findTable(FileDBHandle handle);
// findTable, reporting a bad handle (0x20000102) when there is none.
Table* checkedTable(FileDBHandle handle);

// Per-call open in a mode (nothing when held or already open so), with the
// records waiting in memory written first; reports.
bool openTable(Table& table, uint32_t mode);
// Writes the records waiting in memory to the file in one write. False, with
// the failure reported, when it failed: they wait on for the next try.
bool flushWaiting(Table& table);
// Closes the file and the indexes opened for the call, unless held. False
// when a close failed (reported).
bool closeTable(Table& table);
// Internal hold: open in the mode and keep open until releaseHold.
bool holdTable(Table& table, uint32_t mode);
void releaseHold(Table& table);
// Ends a lingering hold: the files close as at FileDBCloseEx. True when the
// table did not linger or closed cleanly.
bool endLinger(Table& table);
// Ends every lingering hold of the calling thread's tables: true when one
// was ended (so that an open refused for sharing may be tried again).
bool endLingeringHolds();
// The record count from the file size (0x20000002 when malformed).
bool fileRecordCount(Table& table, uint32_t& count);

// A temporary index of the table (temp_index.cpp) at that address; null
// when there is none (unreported).
IndexEntry* findTempIndex(const Table& table, const void* entry);

// Index layer (index_keys.cpp).
void buildKey(const IndexEntry& entry, const uint8_t* record, uint8_t* key);
BtreeCompareFunc chooseCompare(uint32_t keyType, uint32_t keyLen);
// The compare for a field of the project's tables: its flags, type code and
// item type decide (signed item types compare signed, floats as floats).
BtreeCompareFunc projectIndexCompare(uint32_t fieldFlags, uint32_t typeCode, uint32_t itemType, uint32_t keyLen);
int32_t compareBytes(const void* stored, const void* given, uint32_t keyLen);
int32_t compareSigned(const void* stored, const void* given, uint32_t keyLen);
int32_t compareUnsigned(const void* stored, const void* given, uint32_t keyLen);
int32_t compareFloat(const void* stored, const void* given, uint32_t keyLen);
int32_t compareAlphaNumeric(const void* stored, const void* given, uint32_t keyLen);
int32_t compareKeyword(const void* stored, const void* given, uint32_t keyLen);

// The 48-byte index header: fields and check word (words add up to 0).
struct IndexHeader {
  uint16_t tableId = 0;
  uint16_t order = 0;
  uint16_t recordLen = 0;
  int16_t keyDesc = 0;
  uint16_t keyLen = 0;
};
void writeIndexHeader(uint8_t* out, const IndexHeader& fields, bool clean);
uint16_t indexHeaderSum(const uint8_t* header);
uint32_t indexNodeSize(uint32_t order, uint32_t keyLen);

// What the project database plugs in: bringing record-buffer rows bound to a
// table in step after reads and writes, and after a delete.
struct TableBindings {
  std::function<void(Table& table, bool appended, bool read)> syncRows;
  std::function<void(Table& table, uint32_t first, uint32_t newCount)> deletedRows;
};
TableBindings setTableBindings(TableBindings bindings);
void syncBoundRows(Table& table, bool appended, bool read);

// The progress of an index build (the window framework shows the dialog).
struct IndexBuildProgress {
  std::function<void(const std::string& caption, uint32_t steps)> begin;
  std::function<void()> step;
  std::function<void()> end;
};
IndexBuildProgress setIndexBuildProgress(IndexBuildProgress progress);

// The local data path of FileSetLocPath.
std::string localDataPath();

}  // namespace zemta::filedb
