// B-tree index files with 32-bit file offsets: one tree per file, fixed-size
// nodes of (record number, fixed-length key) entries ordered by key and then
// by record number. The file format is described in lib/store/trees/btree.cpp.
//
// Every call takes a handle from BtreeCreate. Results are -1 on failure after
// a report through the library's error reporter, unless said otherwise.
// Without a hold (BtreeOpen / BtreeOpenEx) each call opens the file for its
// own length and closes it again, and the cursor does not survive the call.
#pragma once

#include "zemta/export.h"

// Compares a stored key with a given key of keyLen bytes: below, at or above 0.
typedef int32_t (*BtreeCompareFunc)(const void* storedKey, const void* givenKey, uint32_t keyLen);
// Called by BtreeCheck for each entry in order with the low 16 bits of the
// tree's handle: -1 stops the check, another non-zero value becomes its result.
typedef int32_t (*BtreeCheckFunc)(uint32_t handleLow, uint32_t recordNumber, const void* key, void* data);

// BtreeOpen modes: 1 read (shared with other readers), 2 write, 3 read and
// write (both exclusive). 0x100000 may be added: the held file is then written
// without write-through (the operating system writes it back later).
#define BTREE_MODE_READ 1u
#define BTREE_MODE_WRITE 2u
#define BTREE_MODE_READ_WRITE 3u
#define BTREE_MODE_NO_WRITE_THROUGH 0x100000u

// Releases every tree and empties the table; returns its size, 256.
ZEMTA_API int32_t BtreeNew(void);
// Releases every tree (pending root offsets are written first).
ZEMTA_API void BtreeDelete(void);
// Opens the tree file at path, or makes a new one (headerLen bytes of user
// header kept, the root offset, one empty root node). The handle, or -1.
ZEMTA_API int32_t BtreeCreate(const char* path, uint32_t headerLen, uint32_t order, uint32_t tag,
                              uint32_t keyLen, BtreeCompareFunc compare, int32_t temporary);
// Closes the file if open and frees the tree. A bad handle gives -1 unreported.
ZEMTA_API int32_t BtreeRelease(int32_t handle);
ZEMTA_API int32_t BtreeOpen(int32_t handle, uint32_t mode);
ZEMTA_API int32_t BtreeClose(int32_t handle);
ZEMTA_API int32_t BtreeOpenEx(int32_t handle, uint32_t mode);
ZEMTA_API int32_t BtreeCloseEx(int32_t handle);
// Checks the file and re-reads its root offset.
ZEMTA_API int32_t BtreeReOpen(int32_t handle);
// Reads or writes the first length bytes of the user header.
ZEMTA_API int32_t BtreeRead(int32_t handle, void* buffer, uint32_t length);
ZEMTA_API int32_t BtreeWrite(int32_t handle, const void* data, uint32_t length);

// Searches: 1 with the record number of the entry found (the cursor on it),
// 0 when there is none (the cursor cleared), -1 on failure.
ZEMTA_API int32_t BtreeEqu(int32_t handle, uint32_t* recordNumber, const void* key);
ZEMTA_API int32_t BtreeGrtr(int32_t handle, uint32_t* recordNumber, const void* key);
ZEMTA_API int32_t BtreeGEqu(int32_t handle, uint32_t* recordNumber, const void* key);
ZEMTA_API int32_t BtreeLess(int32_t handle, uint32_t* recordNumber, const void* key);
ZEMTA_API int32_t BtreeLEqu(int32_t handle, uint32_t* recordNumber, const void* key);
// Steps to the next or previous entry in order (from a cleared cursor: the
// first or the last). 1, 0 at the end, -1.
ZEMTA_API int32_t BtreeNext(int32_t handle, uint32_t* recordNumber, void* keyBuffer);
ZEMTA_API int32_t BtreePrev(int32_t handle, uint32_t* recordNumber, void* keyBuffer);
// Copies the key of the cursor's entry when its record number is the one given.
ZEMTA_API int32_t BtreeGetCurKey(int32_t handle, uint32_t recordNumber, void* keyBuffer);
// Adds (newFirst - first) to every record number between first and last.
ZEMTA_API int32_t BtreeChgRec(int32_t handle, uint32_t first, uint32_t last, uint32_t newFirst);
// Walks every entry in order: 0 sound, 1 broken (or the callback's last
// non-zero result), -1 failure. count receives the number of entries.
ZEMTA_API int32_t BtreeCheck(int32_t handle, uint32_t* count, BtreeCheckFunc callback, void* data);

// Adds an entry; the same key with the same record number is refused (0x20000002).
ZEMTA_API int32_t BtreeIns(int32_t handle, uint32_t recordNumber, const void* key);
// Removes the entry with that key and record number; 0 also when there is none.
ZEMTA_API int32_t BtreeDel(int32_t handle, uint32_t recordNumber, const void* key);
