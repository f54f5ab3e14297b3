// The Ifs front end: one interface to a container store wherever it is. With
// a disk attached (IfsChgDisk) every call goes to that local disk, or to the
// alternate disk for paths beginning "/:" (the two characters dropped);
// with none attached every call goes to the remote file service
// (zemta/sockifs.h), whose handles the calls then take and return.
//
// Results: 0, a handle, a count on success; -1 or null on failure, all ones
// for the 64-bit totals, sizes and pointers. Failures are reported through
// the library's error reporter (remote ones as the last system error).
#pragma once

#include <cstdint>

#include "zemta/export.h"
#include "zemta/fileex.h"

// Attaches a disk and its alternate (either may be null: none); returns the alternate.
ZEMTA_API FileExDiskHandle IfsChgDisk(FileExDiskHandle disk, FileExDiskHandle alternate);
// which: 0 the configuration file, 1 the log file.
ZEMTA_API FileExHandle IfsGetSysFile(uint32_t which, void* descriptor);
ZEMTA_API FileExHandle IfsCreate(const char* path, int32_t length, const char* description, uint32_t createWord,
                                 uint32_t keyType, uint32_t keyLength);
// Unless keepOpen, the entry is closed before it is handed back.
ZEMTA_API FileExHandle IfsCreateByID(uint32_t idLow, uint32_t idHigh, int32_t keepOpen, int32_t onAlternate);
ZEMTA_API int32_t IfsRelease(FileExHandle entry);
// A path of a folder followed by a 14-byte binary record name (a length of
// its text plus 14) deletes that record of the table the folder part names.
ZEMTA_API int32_t IfsRemove(const char* path, int32_t length);
// A cursor table made under a temporary name on the alternate disk, with the
// structure of the table at path on the attached disk and the records of the
// search.
ZEMTA_API FileExHandle IfsCopyCreate(const char* path, int32_t length, FileExHandle search);
// The name of entry id on the attached disk, or on the alternate one when
// onAlternate is set; a path asked of the alternate disk (selector low word
// 0) comes back with "/:" before it. The length of the name, or -1.
ZEMTA_API int32_t IfsGetName(int32_t onAlternate, uint32_t idLow, uint32_t idHigh, uint32_t selector, char* buffer,
                             int32_t size, void* descriptor);
ZEMTA_API int32_t IfsIsExist(const char* path, int32_t length, void* descriptor);
ZEMTA_API int32_t IfsRename(const char* path, const char* newName);
ZEMTA_API int32_t IfsOpen(FileExHandle entry, uint32_t mode, const char* description);
ZEMTA_API int32_t IfsClose(FileExHandle entry);
ZEMTA_API int32_t IfsDescriptor(FileExHandle entry, void* descriptor, int32_t mode);
ZEMTA_API uint64_t IfsGetSize(FileExHandle entry);
ZEMTA_API int32_t IfsSetSize(FileExHandle entry, uint32_t sizeLow, uint32_t sizeHigh);
ZEMTA_API uint64_t IfsSetPointer(FileExHandle entry, uint32_t distanceLow, int32_t distanceHigh, int32_t method);
// Offset 0 with method 1 reads or writes on at the current position.
ZEMTA_API int32_t IfsRead(FileExHandle entry, void* buffer, uint32_t length, uint32_t* count, uint32_t offsetLow,
                          int32_t offsetHigh, int32_t method);
ZEMTA_API int32_t IfsWrite(FileExHandle entry, const void* data, uint32_t length, uint32_t offsetLow,
                           int32_t offsetHigh, int32_t method);
// One value of an IfsGetCID array; the values follow the items in the same
// allocation.
struct IfsFieldValue {
  uint16_t field;
  uint16_t type;    // the value's type word
  uint16_t length;  // bytes of the value
  uint16_t reserved;
  void* value;      // null for a zero length
};

// Field values of a table or record. mode 0: selector is one field key
// (FILEEX_FIELD_KEY); with a null out only 1 (it exists) or 0. mode 1 and 2:
// selector is a field class, of the table itself (record number all ones)
// or of the record with that number; mode 2 adds the entry's 360-byte
// descriptor as an item of type 0x71F. The number of items with *out the
// array (the caller frees it with free()), 0 with no value, or -1.
ZEMTA_API int32_t IfsGetCID(FileExHandle entry, uint32_t selector, IfsFieldValue** out, int32_t mode,
                            uint32_t numberLow, uint32_t numberHigh);
// The values of a field class as one comma-separated line; with a null
// buffer the size needed. The line's length with its end, or -1.
ZEMTA_API int32_t IfsGetFldCsv(FileExHandle entry, uint16_t fieldClass, char* buffer, int32_t size, uint32_t numberLow,
                               uint32_t numberHigh);
// Writes values of a field class to the table itself (record number all
// ones), to that record, or to a new record when the number is above the
// record count (removed again when a write fails). 0, or -1.
ZEMTA_API int32_t IfsSetCID(FileExHandle table, uint16_t fieldClass, int32_t count, const IfsFieldValue* values,
                            uint32_t numberLow, uint32_t numberHigh);
ZEMTA_API uint64_t IfsRecTotal(FileExHandle table);
// Deletes records from..to (1-based, from the last down); the record count
// the table had before.
ZEMTA_API int64_t IfsRecDelete(FileExHandle table, uint32_t fromLow, uint32_t fromHigh, uint32_t toLow,
                               uint32_t toHigh);
// At most 65535 identifiers in one call.
ZEMTA_API int32_t IfsRecDelByID(FileExHandle table, int32_t count, const uint64_t* ids);

// The record list of a search, kept by the caller across calls.
struct IfsRecList {
  FileExHandle search;  // the local search set, or the server's list id
  int32_t count;        // record IDs fetched into ids
  uint64_t* total;      // where the search puts its total number of hits (may be null)
  uint64_t* ids;        // owned by the list: freed and made again by the searches (free())
  int32_t capacity;
  int32_t word;
  void* scratch;
};

// Search kinds in the low four bits of the flags: 0 new, 1 narrow the
// existing search, 2 widen it. 0x10: no to key (a pattern search); with
// 0x20 as well, the strict pattern.
#define IFS_SEARCH_NEW 0
#define IFS_SEARCH_AND 1
#define IFS_SEARCH_OR 2
#define IFS_SEARCH_NO_TO_KEY 0x10
#define IFS_SEARCH_STRICT 0x20

// fieldNumber -1: columns points at a column count followed by the columns;
// else the field number is the one column. 1 found (0 for a new search
// without hits), -1 on failure or a fetch that stopped short.
ZEMTA_API int32_t IfsIdxSear(FileExHandle table, int32_t fieldNumber, const uint16_t* columns, int32_t keyWidth,
                             const void* fromKey, const void* toKey, IfsRecList* list, uint32_t flags,
                             FileExHandle existing, int32_t fetch);
ZEMTA_API int32_t IfsIdxRemove(IfsRecList* list);
// Narrows the list (or starts it) to the records whose field passes a short
// filter: "like " text, "=", ">", ">=", "<", "<=" and a value, or a plain
// value (on a text field every text beginning with it). As IfsIdxSear.
ZEMTA_API int32_t IfsRecFilter(FileExHandle table, int32_t fieldNumber, const char* filter, IfsRecList* list,
                               int32_t fetch);
// Orders the list's search by the field (or columns, as in IfsIdxSear) and
// fetches its IDs again in that order. The ordering's result, or -1.
ZEMTA_API int32_t IfsRecOrder(FileExHandle table, int32_t fieldNumber, const uint16_t* columns, int32_t ascending,
                              IfsRecList* list);
