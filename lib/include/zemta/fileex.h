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

// Appends one row (line, file, error, description, name) to the disk's
// "\SYSTEM\ERROR" table; 0, or -1 (a bad disk is reported as 0x20000106).
ZEMTA_API int32_t FileExRecInsErr(void* disk, int32_t line, const char* file, uint32_t code,
                                  const char* description, const char* name);
