// Index searches and record lists: the record numbers (0-based positions in
// the table) of the records whose keys lie in a range, in index order, and
// the set operations over such lists. Searches return 0 when the range was
// read to its end, 1 when the caller's list filled up first and -1 on failure.
#pragma once

#include "zemta/export.h"
#include "zemta/filedb.h"

typedef struct FileRecList {
  int32_t capacity;   // record numbers the array holds
  int32_t count;      // record numbers held
  uint32_t* items;    // array (malloc'd), or null
  uint32_t remoteId;  // list kept by the remote file service (0 none)
} FileRecList;

// Flags of the searches.
#define FILEIDX_FROM_EXCLUDED 0x1u
#define FILEIDX_TO_EXCLUDED 0x2u
#define FILEIDX_ONLY_LISTED 0xF0u
#define FILEIDX_INDEX_POINTER 0x10000u
#define FILEIDX_OTHER_INDEX_POINTER 0x20000u

ZEMTA_API int32_t FileNewRecList(FileRecList* list, int32_t capacity);
ZEMTA_API int32_t FileDeleteRecList(FileRecList* list);
// Makes the from and to keys (size bytes each) of what a user typed; prefixes
// > >= < <= = and ~ (dates), era years and months on date fields.
ZEMTA_API int32_t FileIdxKeyMake(uint32_t type, int32_t size, void* fromKey, void* toKey, const char* text,
                                 const char* toText);
ZEMTA_API int32_t FileIdxSear(FileDBHandle table, intptr_t index, const void* from, const void* to,
                              FileRecList* list, uint32_t flags, int32_t remoteWord);
ZEMTA_API int32_t FileIdxAndSear(FileDBHandle table, intptr_t index, const void* from, const void* to,
                                 FileRecList* list, uint32_t flags, int32_t remoteWord);
ZEMTA_API int32_t FileIdxOrSear(FileDBHandle table, intptr_t index, const void* from, const void* to,
                                FileRecList* list, uint32_t flags, int32_t remoteWord);
ZEMTA_API int32_t FileIdxJoinSear(FileDBHandle table, intptr_t index, FileRecList* list, FileDBHandle otherTable,
                                  intptr_t otherIndex, uint32_t flags);
// mode 0 union, 1 intersection, 2 complement, 3 difference.
ZEMTA_API int32_t FileIdxCombine(FileRecList* list, const FileRecList* other, int32_t mode);
// FileIdxCombine for the lists of a table: a table kept by the remote file
// service has the service combine its lists.
ZEMTA_API int32_t FileDBIdxCombine(FileDBHandle table, FileRecList* list, const FileRecList* other, int32_t mode);
ZEMTA_API int32_t FileLstFromIndLst(FileDBHandle table, int32_t index, FileRecList* outList,
                                    FileDBHandle otherTable, int32_t otherIndex, const FileRecList* inList);
ZEMTA_API int32_t FileIdxOrder(FileDBHandle table, FileRecList* list, int32_t keyCount, const int32_t* indexes,
                               const uint32_t* flags);
