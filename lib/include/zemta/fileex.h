// The container store ("disks" of entries, tables, records and indexes): one
// file of 512-byte blocks, laid out in lib/container/disk/disk_file.cpp (the
// disk) and lib/container/disk/entry.cpp (its entries).
//
// Results are 0 (or a handle, count or length) on success and -1 (or null)
// after a report through the library's error reporter. A bad disk handle is
// reported as 0x20000106, a bad entry handle as 0x20000082.
#pragma once

#include "zemta/export.h"

// An open disk; it also stands for the disk's root folder where an entry is
// asked for.
typedef void* FileExDiskHandle;
// An entry of a disk (or the disk itself, for the root folder).
typedef void* FileExHandle;

// Disk types of FileExDiskCreate.
#define FILEEX_DISK_TEMPORARY 1
#define FILEEX_DISK_LOG 2

// Entry creation flags: the low byte is the kind.
#define FILEEX_KIND_FILE 1
#define FILEEX_KIND_DIRECTORY 2
#define FILEEX_KIND_TABLE 3
#define FILEEX_KIND_RECORD 4
#define FILEEX_KIND_INDEX 5
#define FILEEX_KIND_INDEX_ON_DEMAND 6
#define FILEEX_KIND_ID_SET 7
#define FILEEX_CREATE_REPLACE 0x100   // an existing entry is removed first
#define FILEEX_CREATE_TRUNCATE 0x200  // open an existing entry and cut its data
#define FILEEX_CREATE_OPEN 0x400      // open the entry when it exists
// ((flags >> 13) & 3) as the access mode: the handle comes back held open.
#define FILEEX_CREATE_HOLD_MASK 0x6000

#define FILEEX_ENTRY_INFO_SIZE 360
#define FILEEX_LOG_INFO_SIZE 32

// --- disks ---------------------------------------------------------------------
ZEMTA_API FileExDiskHandle FileExDiskCreate(const char* path, const char* title, void* ownerWindow, int32_t type);
// Modes 1, 2, 3, 6 (0x100: do not wait for another process; 0x100000 and up: no write-through).
ZEMTA_API int32_t FileExDiskOpen(FileExDiskHandle disk, uint32_t mode);
ZEMTA_API int32_t FileExDiskClose(FileExDiskHandle disk);
ZEMTA_API int32_t FileExDiskFlush(FileExDiskHandle disk);
ZEMTA_API int32_t FileExDiskRelease(FileExDiskHandle disk);
ZEMTA_API int32_t FileExGetFunc(FileExDiskHandle disk, void* allocate, void* release, int32_t* rootTree);
// Free blocks (parked ones and those of the free-space tree); all ones on a bad handle.
ZEMTA_API uint64_t FileExDiskGetDelCount(FileExDiskHandle disk);
// Names of the root folder's entries in key order: mode 0 first, 1 next. 1, 0 at the end, -1.
ZEMTA_API int32_t FileExDiskGetName(FileExDiskHandle disk, char* buffer, int32_t length, int32_t mode);
ZEMTA_API FileExHandle FileExGetCfgFile(FileExDiskHandle disk, void* info);
ZEMTA_API FileExHandle FileExGetLogFile(FileExDiskHandle disk, void* info);

// --- the change log -------------------------------------------------------------
ZEMTA_API int32_t FileExStartLog(FileExDiskHandle disk, int32_t check);
ZEMTA_API int32_t FileExStopLog(FileExDiskHandle disk);

// --- entries --------------------------------------------------------------------
// Paths: length -1 for text; an explicit length for a folder followed by a 14-byte ID key.
ZEMTA_API int32_t FileExSetCurrent(FileExDiskHandle disk, const char* path);
ZEMTA_API int32_t FileExIsExist(FileExDiskHandle disk, const char* path, int32_t length, void* info);
ZEMTA_API FileExHandle FileExCreate(FileExDiskHandle disk, const char* path, int32_t length, const char* description,
                                    uint32_t flags, uint32_t keyType, uint32_t keyLength, const char* ownerName);
ZEMTA_API FileExHandle FileExCreateByID(FileExDiskHandle disk, uint32_t idLow, uint32_t idHigh, const char* ownerName,
                                        int32_t* alreadyOpen);
ZEMTA_API int32_t FileExOpen(FileExHandle entry, uint32_t mode, const char* ownerName);
ZEMTA_API int32_t FileExClose(FileExHandle entry);
ZEMTA_API int32_t FileExRelease(FileExHandle entry, FileExDiskHandle otherDisk);
ZEMTA_API int32_t FileExReleaseByName(FileExDiskHandle disk, const char* ownerName, int32_t mode);
ZEMTA_API int32_t FileExIsOpen(FileExDiskHandle disk, const char* ownerName);
ZEMTA_API int32_t FileExRemove(FileExDiskHandle disk, const char* path, int32_t length);
ZEMTA_API int32_t FileExRename(FileExDiskHandle disk, const char* path, const char* newName);
ZEMTA_API int32_t FileExChgName(FileExHandle entry, const char* ownerName);
ZEMTA_API int32_t FileExGetName(FileExDiskHandle disk, uint32_t idLow, uint32_t idHigh, uint32_t selector, char* buffer,
                                int32_t size, void* info);
ZEMTA_API int32_t FileExGetPath(FileExHandle entry, int32_t size, char* buffer);
// Modes 0 first child, 1 next child, 8 the entry itself. 1 filled, 0 at the end, -1.
ZEMTA_API int32_t FileExDescriptor(FileExHandle entry, void* info, int32_t mode);
ZEMTA_API int32_t FileExIsTemp(FileExHandle entry);
ZEMTA_API int32_t FileExGetID(FileExHandle entry, uint64_t* id);
ZEMTA_API int32_t FileExGetParentID(FileExHandle entry, uint64_t* id);
ZEMTA_API int32_t FileExGetCLSID(FileExHandle entry, void* clsid);
ZEMTA_API int32_t FileExSetCLSID(FileExHandle entry, const void* clsid);
ZEMTA_API int32_t FileExGetDescr(FileExHandle entry, char* buffer, int32_t size);
ZEMTA_API int32_t FileExSetDescr(FileExHandle entry, const char* text);
ZEMTA_API int32_t FileExGetAttribute(FileExHandle entry, uint32_t* attributes);
ZEMTA_API int32_t FileExSetAttribute(FileExHandle entry, uint32_t attributes);

// --- entry data -----------------------------------------------------------------
ZEMTA_API uint64_t FileExGetSize(FileExHandle entry);
ZEMTA_API int32_t FileExSetSize(FileExHandle entry, uint32_t sizeLow, uint32_t sizeHigh);
// Origin 0 start, 1 current, 2 end; the new position, or all ones.
ZEMTA_API uint64_t FileExSetPointer(FileExHandle entry, int64_t distance, int32_t origin);
ZEMTA_API int32_t FileExWrite(FileExHandle entry, const void* data, uint32_t length);
ZEMTA_API int32_t FileExRead(FileExHandle entry, void* buffer, uint32_t length, uint32_t* count);

// --- table records (numbered 1 to n; number all ones appends) --------------------
ZEMTA_API FileExHandle FileExRecInsert(FileExHandle table, uint32_t numberLow, uint32_t numberHigh, const char* description,
                                       int32_t holdOpen, void* info);
// Puts a logged record back with its ID (the 32-byte log information block).
ZEMTA_API FileExHandle FileExRecInsByFlif(FileExHandle table, const void* logInfo, int32_t holdOpen);
ZEMTA_API FileExHandle FileExRecOpen(FileExHandle table, uint32_t numberLow, uint32_t numberHigh, int32_t holdOpen,
                                     void* info);
ZEMTA_API FileExHandle FileExRecOpenByID(FileExHandle table, uint32_t idLow, uint32_t idHigh, int32_t holdOpen, void* info);
ZEMTA_API int32_t FileExRecDelete(FileExHandle table, uint32_t numberLow, uint32_t numberHigh);
ZEMTA_API int32_t FileExRecDelByID(FileExHandle table, uint32_t idLow, uint32_t idHigh);
ZEMTA_API int32_t FileExGetRecCount(FileExHandle table, uint64_t* count);

// --- fields (item keys: group in the low word, item in the high word) -------------
#define FILEEX_FIELD_KEY(group, item) ((uint32_t)(group) | ((uint32_t)(item) << 16))
ZEMTA_API int32_t FileExGetFld(FileExHandle entry, uint32_t key, void* buffer, int32_t size, uint16_t* type);
ZEMTA_API int32_t FileExSetFld(FileExHandle entry, uint32_t* key, const void* data, int32_t length, uint16_t type);
ZEMTA_API int32_t FileExClrFld(FileExHandle entry);
ZEMTA_API int32_t FileExGetFldCount(FileExHandle entry, uint16_t group, uint16_t* items, int32_t capacity);
// Blocks are length-prefixed: a u16 length counting itself, then the bytes.
ZEMTA_API int32_t FileExSetFldByLog(FileExHandle entry, uint16_t group, const void* block);
ZEMTA_API int32_t FileExSetLogInfo(FileExHandle record, const void* info, const void* name);
ZEMTA_API int32_t FileExSetLogData(FileExHandle record, uint16_t group, const void* before, const void* after);
ZEMTA_API int32_t FileExGetLogInfo(FileExHandle record, void* info, void* name);
ZEMTA_API int32_t FileExGetLogData(FileExHandle record, uint16_t group, void* before, void* after);
ZEMTA_API int32_t FileExWriteCfgFldStr(FileExDiskHandle disk, uint32_t key, const char* text);
ZEMTA_API int32_t FileExWriteCfgFldInt(FileExDiskHandle disk, uint32_t key, int32_t value);
ZEMTA_API int32_t FileExWriteCfgFldSch(FileExDiskHandle disk, uint32_t key, const void* schedule);
ZEMTA_API int32_t FileExReadCfgFldStr(FileExDiskHandle disk, uint32_t key, char* buffer, int32_t size);
ZEMTA_API int32_t FileExReadCfgFldInt(FileExDiskHandle disk, uint32_t key);
// 1 with the 4-byte value, 0 when absent, -1.
ZEMTA_API int32_t FileExReadCfgFldSch(FileExDiskHandle disk, uint32_t key, void* schedule);
// Appends one row (line, file, error, description, name) to the disk's
// "\SYSTEM\ERROR" table; 0, or -1 (a bad disk is reported as 0x20000106).
ZEMTA_API int32_t FileExRecInsErr(void* disk, int32_t line, const char* file, uint32_t code,
                                  const char* description, const char* name);

// --- field text, the change check and the record writer ----------------------------
// Text of an item: bytes written with the NUL (the size needed for a null
// buffer), 0 when absent or empty.
ZEMTA_API int32_t FileExGetFldStr(FileExHandle entry, uint32_t key, char* buffer, int32_t size, uint32_t format);
// The items' texts joined by commas; a text holding a comma, a quote or a
// line break is quoted as CSV quotes it.
ZEMTA_API int32_t FileExGetFldCsv(FileExHandle entry, uint16_t group, uint16_t count, const uint16_t* items, char* buffer,
                                  int32_t size);
// Change lists: u16 capacity (0 asks for the size), entries of u16 column,
// u16 type, u16 length and the bytes, a closing u16 0. 1 changed, 0 not, -1.
ZEMTA_API int32_t FileExFldModifyCheck(FileExHandle record, FileExHandle table, void* before, void* after);
ZEMTA_API int32_t FileExFldWrite(FileExHandle entry, FileExHandle table, int32_t noLog);
ZEMTA_API int32_t FileExFldRead(FileExHandle entry);

// --- columns, column order, indexes and structure reports -------------------------
// Position -1 (or beyond the end) appends the column to the order.
ZEMTA_API int32_t FileExInsColumn(FileExHandle table, uint16_t column, const char* name, uint16_t size, uint16_t type,
                                  uint16_t third, uint16_t fourth, uint32_t fifth, int32_t position);
ZEMTA_API int32_t FileExAllocOdr(FileExHandle table, int32_t kind, uint16_t** order);
ZEMTA_API int32_t FileExFreeOdr(FileExHandle table, uint16_t** order);
// Progress: [0] 10 at the start, [1] the percentage done.
ZEMTA_API FileExHandle FileExTempIdxCreate(FileExHandle table, uint16_t count, const uint16_t* columns, FileExHandle folder,
                                           FileExHandle idSet, int32_t* progress);
// Column definitions, links, action lists and order in column order; the
// number of columns. Arrays belong to the caller: FileExFreeOdr for the
// order, FileExFreeTblStruct for the others.
ZEMTA_API int32_t FileExGetTblStruct(FileExHandle table, uint8_t** columns, uint8_t** links, uint8_t** actions,
                                     uint16_t** order);
ZEMTA_API int32_t FileExGetTblIdxStruct(FileExHandle table, uint8_t** definitions, uint16_t** numbers);
// Frees an array of a structure report and sets the pointer to null.
ZEMTA_API int32_t FileExFreeTblStruct(void** array);

// --- record search and result sets -------------------------------------------------
ZEMTA_API int32_t FileExGetTblRecID(FileExHandle table, uint32_t numberLow, uint32_t numberHigh, uint64_t* id);
ZEMTA_API int32_t FileExGetTblRecNo(FileExHandle table, uint32_t idLow, uint32_t idHigh, uint64_t* number);
ZEMTA_API int32_t FileExIsIndex(FileExHandle table, int32_t count, const uint16_t* columns);
// Match class 0 none, 1 one, 2 several. With a number pointer the first
// match's number is given and null returned; else the record is opened.
ZEMTA_API FileExHandle FileExRecEqu(FileExHandle table, uint16_t count, const uint16_t* columns, const void* key,
                                    int32_t* matchClass, uint64_t* number);
// A to key of 0 (dashes and case ignored) or -1 (case ignored) asks for a
// pattern search with the from key as the pattern.
#define FILEEX_PATTERN_LOOSE ((const void*)0)
#define FILEEX_PATTERN_STRICT ((const void*)-1)
ZEMTA_API FileExHandle FileExRecSear(FileExHandle table, uint16_t count, const uint16_t* columns, const void* from,
                                     const void* to, FileExHandle owner);
ZEMTA_API int32_t FileExRecOrSear(FileExHandle table, uint16_t count, const uint16_t* columns, const void* from,
                                  const void* to, FileExHandle set);
ZEMTA_API int32_t FileExRecAndSear(FileExHandle table, uint16_t count, const uint16_t* columns, const void* from,
                                   const void* to, FileExHandle set);
ZEMTA_API FileExHandle FileExRecRefSearByIdx(FileExHandle tableA, FileExHandle tableB, uint16_t count,
                                             const uint16_t* columnsA, const uint16_t* columnsB, FileExHandle setB);
ZEMTA_API int32_t FileExRecCombine(FileExHandle setA, FileExHandle setB, int32_t mode);
ZEMTA_API int32_t FileExRecOrder(FileExHandle table, uint16_t count, const uint16_t* columns, int32_t ascending,
                                 FileExHandle set);
ZEMTA_API int32_t FileExGetSearCount(FileExHandle set, uint64_t* count);
// 1 found, 0 at the end, -1.
ZEMTA_API int32_t FileExFetchNextID(FileExHandle table, FileExHandle set, uint64_t* position, uint64_t* id);
ZEMTA_API int32_t FileExFetchNextRec(FileExHandle table, FileExHandle set, uint64_t* position, uint64_t* number);
ZEMTA_API FileExHandle FileExFetchNext(FileExHandle table, FileExHandle set, uint64_t* position);
ZEMTA_API int32_t FileExIdxRemove(FileExHandle set);

// --- progress of long operations ----------------------------------------------------
// Written by the operation (on a worker thread), read by a window thread
// that shows it: the step (1 starting, then the step's number, 0 ended
// well, -1 failed), the value (the percentage while running, the result at
// the end), and during the index checks the table being checked and the
// index definition being rebuilt.
typedef struct FileExProgress {
  int32_t step;
  int32_t value;
  void* entry;
  void* detail;
} FileExProgress;

// The title of a step ("" for a number without one) and the name of an
// entry class ("Unknown" for a number without one).
ZEMTA_API const char* FileExGetPlsTitle(int32_t step);
ZEMTA_API const char* FileExGetClassName(int32_t classNumber);

// --- backup, restore and roll-forward --------------------------------------------
// Modes: 0 data, 1 log, 2 data and log, 3 data and log, then a fresh log.
// name (260 characters, or null) receives the name of the file made.
ZEMTA_API int32_t FileExDiskBackup(FileExDiskHandle disk, char* name, int32_t mode, FileExProgress* progress);
// Brings a disk and its log back from a zip backup; the files it replaces
// are kept under "<name>_Err<time>" and "<name>_<time>" (the kept log's
// name goes to keptLog).
ZEMTA_API int32_t FileExDiskRestore(const char* diskPath, const char* logPath, const char* archivePath, char* keptLog,
                                    int32_t keptLogSize, int32_t unused, FileExProgress* progress);
ZEMTA_API int32_t FileExDiskRollforward(FileExDiskHandle disk, const char* logDiskPath, uint32_t firstRowLow,
                                        uint32_t firstRowHigh, FileExProgress* progress);

// --- roll-back, the newest backup and the log copy ---------------------------------
// Undoes the logged changes from the newest row down to row `last` (1-based).
ZEMTA_API int32_t FileExRollback(FileExDiskHandle disk, FileExHandle logTable, uint32_t lastLow, uint32_t lastHigh,
                                 const char* ownerName, FileExProgress* progress);
// 1 the newest backup is a data copy, 3 a zip backup, 0 none recorded; -1.
ZEMTA_API int32_t FileExGetLastBackup(FileExDiskHandle disk, char* buffer, int32_t size, uint64_t* rowNumber);
ZEMTA_API int32_t FileExDiskCopyLog(const char* destinationPath, const char* sourcePath, void* ownerWindow,
                                    FileExProgress* progress);

// --- checks --------------------------------------------------------------------------
// The number of blocks that belong nowhere (0: sound), or -1. scratch may be null.
ZEMTA_API int32_t FileExDiskCheck(FileExDiskHandle disk, FileExDiskHandle scratch, FileExProgress* progress);
// Broken indexes (+1 for a broken record store), or after a repair the
// number rebuilt with bit 29 set; -1.
ZEMTA_API int32_t FileExTblIdxCheck(FileExHandle table, int32_t repair, FileExProgress* progress);
ZEMTA_API int32_t FileExTblIdxCheckAll(FileExDiskHandle disk, int32_t repair, FileExProgress* progress);
