// Temporary indexes: an index over one field of a table, for all records or
// for the records of a list, built into a file of the temporary folder and
// deleted again by the caller. The searches (zemta/filesearch.h) take the
// value FileMakeTempIndex returns as their index argument together with
// FILEIDX_INDEX_POINTER.
#pragma once

#include <stdint.h>

#include "zemta/btree.h"
#include "zemta/export.h"
#include "zemta/filedb.h"
#include "zemta/filesearch.h"

// The key of a temporary index: where the field lies in the record, its
// length, the low byte of its field word and its item type.
typedef struct FileTempIndexKey {
  uint16_t keyOffset;
  uint16_t keyLen;
  uint8_t fieldWord;
  uint16_t keyType;
} FileTempIndexKey;

// Builds the index over every record (list null) or the listed records, with
// the compare given or one chosen by the key type. The index entry, or -1.
ZEMTA_API intptr_t FileMakeTempIndex(FileDBHandle table, const FileTempIndexKey* key, const FileRecList* list,
                                     BtreeCompareFunc compare);
// Releases the tree, deletes the file and frees the entry. 0 or -1.
ZEMTA_API int32_t FileDeleteTempIndex(intptr_t index);
// FileIdxOrder over index numbers or, with FILEIDX_INDEX_POINTER in a key's
// flag word, index entries such as a temporary index.
ZEMTA_API int32_t FileIdxOrderPtr(FileDBHandle table, FileRecList* list, int32_t keyCount, const intptr_t* indexes,
                                  const uint32_t* flags);

// Lets the table fdbId borrow the index of table sourceFdbId on (keyOffset,
// keyLen), so a record-buffer set showing both tables can search the
// borrowing table through the linked table's index. linkOffset is the
// offset of the linking field in the source table; the field it refers to
// must have an index in the borrowing table. The borrowed entry shares the
// source table's live index and has no file of its own. 0 or -1.
ZEMTA_API int32_t FileAddIndIndex(uint32_t project, int32_t fdbId, int32_t sourceFdbId, int32_t linkOffset,
                                  int32_t keyOffset, int32_t keyLen);
