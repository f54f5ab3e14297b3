// Index files of tables: one B-tree file per index (zemta/btree.h) with a
// 48-byte header of its own (described in lib/store/tables/index_keys.cpp), over a
// field of the records or up to three fields joined into one composite key.
// Index entries point at records by file offset: header length + n x record
// length for record n.
#pragma once

#include "zemta/btree.h"
#include "zemta/export.h"
#include "zemta/filedb.h"

// One part of a composite key. Types 0 and 1 contribute the field's bytes;
// type 2 and above the field's unsigned value as 2 x length upper-case
// hexadecimal digits, so that numbers sort by value under a byte compare.
typedef struct FileIndexKeyPart {
  uint16_t type;
  uint16_t offset;
  uint16_t length;
} FileIndexKeyPart;

#define FILEIDX_MAX_PARTS 3
#define FILEIDX_RECORD_ORDER 9999

// Adds an index to the table and makes sure its file is sound: created when
// missing, rebuilt from the records when broken or left dirty. keyDesc is the
// key's record offset, or for a composite key minus the number of parts (then
// parts holds them and keyLen is the sum of their contributions). A null
// compare chooses one by keyType (an item type).
ZEMTA_API int32_t FileAddIndex(FileDBHandle table, const char* path, uint32_t order, uint32_t keyType,
                               int32_t keyDesc, uint32_t keyLen, uint32_t fieldWord, BtreeCompareFunc compare,
                               const FileIndexKeyPart* parts, const char* progressTitle);
// Builds the composite key of a record image for index index.
ZEMTA_API int32_t FileMakeCplIndexKey(FileDBHandle table, int32_t index, void* key, const void* record);
// The first own index over a key at that offset and of that length; offset -1
// gives FILEIDX_RECORD_ORDER. -1 when none (reported unless quiet).
ZEMTA_API int32_t FileGetIndexPos(FileDBHandle table, int32_t keyOffset, int32_t keyLen, int32_t quiet);
// 0 no record has the key, 1 one record, 2 several; recordNumber receives the
// first in index order (-1 when none).
ZEMTA_API int32_t FileIdxEqu(FileDBHandle table, int32_t index, int32_t* recordNumber, const void* key);
