// The extended B-tree: 64-bit positions and IDs, nodes rounded up to whole
// 512-byte blocks, the root's position kept in an 8-byte slot that the caller
// places, and node space handed out and taken back by the caller's
// callbacks, so that several trees can live in one file (the container
// store). The node format is described in lib/container/trees/btreeex.cpp.
//
// Every call takes a handle from BtreeExCreate. Results are -1 on failure
// after a report through the library's error reporter, unless said
// otherwise; a callback's failure gives -1 without a further report. 64-bit
// positions and IDs cross as a low and a high 32-bit half.
#pragma once

#include "zemta/export.h"
#include "zemta/fileaccess.h"

// Compares a stored key with a given key of keyLen bytes: below, at or above
// 0. A tree whose key type has bit 0x40 (indirect keys) hands the compare a
// given key that has the entry's 64-bit ID in the 8 bytes before it, as a
// stored key has.
typedef int32_t (*BtreeExCompareFunc)(const void* storedKey, const void* givenKey, uint32_t keyLen);
// Space for a node of size bytes: -1 failure, 0 none to give (the node then
// goes at the end of the file), else the position is in *position.
typedef int32_t (*BtreeExAllocFunc)(uint64_t* position, uint32_t size, void* userData);
// Takes back the space of a freed node: 0, or a failure.
typedef int32_t (*BtreeExFreeFunc)(uint32_t positionLow, uint32_t positionHigh, uint32_t size, void* userData);
// Fills in the callbacks and the handle of the tree whose open file the new
// tree is to use (each may be left as it is); non-zero ends the creation.
typedef int32_t (*BtreeExSetupFunc)(void* userData, BtreeExAllocFunc* alloc, BtreeExFreeFunc* release,
                                    int32_t* sharedTree);

// Key type bits that the engine reads itself.
#define BTREEEX_KEY_NULLABLE 0x20u  // first key byte: bit 0 set when a value follows (the dump only)
#define BTREEEX_KEY_INDIRECT 0x40u  // the compare reads the IDs in front of the keys

// Modes of BtreeExOpen and BtreeExCreateFile: 1 read, 2 write, 3 both; 0x100
// fails at once on a file another process holds instead of waiting.
#define BTREEEX_MODE_NO_WAIT 0x100u

// Releases every tree and makes an empty table of 128 slots: 128, or -1.
ZEMTA_API int32_t BtreeExNew(void);
// Releases every tree, writing changed roots first.
ZEMTA_API void BtreeExDelete(void);
// Opens a file for trees; 0 on failure (error receives the code).
ZEMTA_API ZemtaFileHandle BtreeExCreateFile(const char* path, uint32_t mode, uint32_t* error, void* ownerWindow,
                                            const char* displayName);
// Opens the tree whose root slot is at rootSlot of the file (path, or file
// when given: a file of the caller, never closed by the tree), making it when
// the slot holds 0. The handle, or -1.
ZEMTA_API int32_t BtreeExCreate(const char* path, uint32_t rootSlotLow, uint32_t rootSlotHigh, uint32_t order,
                                uint32_t keyType, uint32_t keyLen, void* ownerWindow, BtreeExCompareFunc compare,
                                int32_t temporary, void* userData, ZemtaFileHandle file, BtreeExSetupFunc setup);
ZEMTA_API int32_t BtreeExRelease(int32_t handle);
ZEMTA_API int32_t BtreeExOpen(int32_t handle, uint32_t mode);
ZEMTA_API int32_t BtreeExClose(int32_t handle);
ZEMTA_API int32_t BtreeExOpenEx(int32_t handle, uint32_t mode);
ZEMTA_API int32_t BtreeExCloseEx(int32_t handle);
ZEMTA_API int32_t BtreeExReOpen(int32_t handle);
// Writes a changed root to its slot while the file is open: 0, or -1 unreported.
ZEMTA_API int32_t BtreeExFlush(int32_t handle);
// Writes a changed root to its slot.
ZEMTA_API int32_t BtreeExWriteRoot(int32_t handle);
// Node size (0 for a bad handle), root position (0 for a bad handle), file
// (0 while closed or for a bad handle).
ZEMTA_API uint32_t BtreeExGetField(int32_t handle);
ZEMTA_API int64_t BtreeExGetRoot(int32_t handle);
ZEMTA_API ZemtaFileHandle BtreeExGetHandle(int32_t handle);

// Searches: 1 with the ID of the entry found (the cursor on it), 0 when there
// is none (the cursor cleared), -1 on failure. An indirect-key tree takes a
// key buffer that begins with the ID, the key following.
ZEMTA_API int32_t BtreeExEqu(int32_t handle, uint64_t* id, const void* key);
ZEMTA_API int32_t BtreeExGrtr(int32_t handle, uint64_t* id, const void* key);
ZEMTA_API int32_t BtreeExGEqu(int32_t handle, uint64_t* id, const void* key);
ZEMTA_API int32_t BtreeExLess(int32_t handle, uint64_t* id, const void* key);
ZEMTA_API int32_t BtreeExLEqu(int32_t handle, uint64_t* id, const void* key);
ZEMTA_API int32_t BtreeExNext(int32_t handle, uint64_t* id, void* keyBuffer);
ZEMTA_API int32_t BtreeExPrev(int32_t handle, uint64_t* id, void* keyBuffer);
ZEMTA_API int32_t BtreeExGetCurKey(int32_t handle, uint32_t idLow, uint32_t idHigh, void* keyBuffer);
ZEMTA_API int32_t BtreeExSetCurPos(int32_t handle, uint32_t nodeLow, uint32_t nodeHigh, uint32_t index);
ZEMTA_API int32_t BtreeExGetCurPos(int32_t handle, int64_t* node, uint16_t* index);
// 1 with the key of the entry holding the ID, 0 when none does.
ZEMTA_API int32_t BtreeExFindKey(int32_t handle, uint32_t idLow, uint32_t idHigh, void* keyBuffer, uint32_t keyLen);
// Every 8-byte key k with first <= k <= last becomes k - first + newFirst.
ZEMTA_API int32_t BtreeExChgRecKey(int32_t handle, uint32_t firstLow, uint32_t firstHigh, uint32_t lastLow,
                                   uint32_t lastHigh, uint32_t newFirstLow, uint32_t newFirstHigh);
// Adds an entry (the same key and ID already there: 0x20000002, nothing
// changed) or removes one (0 also when it is not there).
ZEMTA_API int32_t BtreeExIns(int32_t handle, uint32_t idLow, uint32_t idHigh, const void* key);
ZEMTA_API int32_t BtreeExDel(int32_t handle, uint32_t idLow, uint32_t idHigh, const void* key);
// Writes every node with its entries to the dump file (appended), or with no
// path only counts the entries.
ZEMTA_API int32_t BtreeExStructDump(int32_t handle, const char* dumpPath, const char* title);

// The container store's side of its free-space tree and its trees' roots
// (disk and entry are its objects).
ZEMTA_API int32_t BtreeExSpaceFlush(void* disk, int32_t mode);
ZEMTA_API int32_t BtreeExFlushStore(void* disk, void* entry);
