// The client of the remote file service: one TCP connection per process to
// the remote file server, bound by a text handshake, over which files,
// tables, records and result lists kept on the server are reached. All
// SockIfs calls share that connection; with none open they fail with last
// error 10093, and a connection that breaks (10053) is dropped.
//
// Failures set the thread's last error: a socket error number, 22 for bad
// names, sizes and replies of the wrong size, or a library code (0x2000xxxx,
// the server's status mapped). Callers hand it to the error reporter.
#pragma once

#include <cstdint>

#include "zemta/export.h"

// --- Connection ---------------------------------------------------------
// 0 when connected, else a socket error number. server: dotted IPv4 or a host name.
ZEMTA_API int32_t SockConnect(const char* server, int32_t port);
// 0, or 10093 when there is no connection.
ZEMTA_API int32_t SockDisconnect();
ZEMTA_API int32_t SockIsConnect();
// The handshake: 0 when the server accepted; 10093 without a connection;
// 10053 for a reply that is not the server's (the connection is then closed).
ZEMTA_API int32_t SockBindWVSrv(const char* application, const char* version);
// The server version as "%u.%u.%u.%u" (at most size bytes); 10093 without a connection.
ZEMTA_API int32_t SockGetWVSrvVer(char* buffer, int32_t size);

// --- Service, files and transfers ---------------------------------------
struct SockIfsProgress {
  int32_t phase;  // 1 and up running, 0 done, -1 failed
  int32_t value;  // percent while running; the result when done; the status when failed
  uint32_t word1;
  uint32_t word2;
};

ZEMTA_API int32_t SockIfsMaintenance(int32_t on);
ZEMTA_API int32_t SockIfsNotify();
ZEMTA_API int32_t SockIfsGetProgress(SockIfsProgress* progress);
// Runs a server backup (mode 4: a check) and polls its progress; its result, or -1.
ZEMTA_API int32_t SockIfsBackup(int32_t mode);
// Rolls back on the server, or logs one error there (a = b = 0, c = the
// source line, text = the source file, d = the error code).
ZEMTA_API int32_t SockIfsRollback(uint32_t a, uint32_t b, int32_t c, const char* text, uint32_t d);
ZEMTA_API int32_t SockIfsUser(uint32_t a, uint32_t b, const char* text);

// Opens or creates a remote file or entry; its remote handle, or 0.
// nameLength -1: zero-terminated. mode: 0x2000 read, 0x4000 write, 0x401 open or create.
ZEMTA_API uint32_t SockIfsCreate(const char* name, int32_t nameLength, const char* second, uint32_t word1,
                                 uint32_t word2, uint32_t word3);
ZEMTA_API uint32_t SockIfsCopyCreate(const char* name, int32_t nameLength, uint32_t source);
ZEMTA_API uint32_t SockIfsCreateByID(uint32_t a, uint32_t b, int32_t kind, int32_t flag);
ZEMTA_API int32_t SockIfsRelease(uint32_t handle);
ZEMTA_API int32_t SockIfsRemove(const char* name, int32_t nameLength);
// which: 0 or 1. descriptor: 360 bytes or null. The handle, or 0.
ZEMTA_API uint32_t SockIfsGetSysFile(uint32_t which, void* descriptor);
// The server's answer (1 exists) and, when asked, the 360-byte descriptor; -1 on failure.
ZEMTA_API int32_t SockIfsIsExist(const char* name, int32_t nameLength, void* descriptor);
ZEMTA_API int32_t SockIfsGetName(uint8_t a, uint32_t b, uint32_t c, uint32_t d, char* buffer, int32_t size,
                                 void* descriptor);
ZEMTA_API int32_t SockIfsRename(const char* oldName, const char* newName);
ZEMTA_API int32_t SockIfsOpen(uint32_t handle, int32_t mode);
ZEMTA_API int32_t SockIfsClose(uint32_t handle);
// 1 with the descriptor copied, 0 when the server gave none, -1 on failure.
ZEMTA_API int32_t SockIfsDescriptor(uint32_t handle, void* descriptor);
// The new 64-bit position, or -1. moveMethod: 0 begin, 1 current, 2 end.
ZEMTA_API int64_t SockIfsSetPointer(uint32_t handle, uint32_t distanceLow, int32_t distanceHigh,
                                    uint32_t moveMethod);
ZEMTA_API int64_t SockIfsGetSize(uint32_t handle);
// (-1, -1) cuts the file at the current pointer.
ZEMTA_API int32_t SockIfsSetSize(uint32_t handle, uint32_t sizeLow, int32_t sizeHigh);
// 0 on success (bytesRead fewer than asked at the end of the file), -1 with the last error set.
ZEMTA_API int32_t SockIfsRead(uint32_t handle, void* buffer, uint32_t length, uint32_t* bytesRead,
                              uint32_t offsetLow, int32_t offsetHigh, uint32_t moveMethod);
ZEMTA_API int32_t SockIfsWrite(uint32_t handle, const void* data, uint32_t length, uint32_t offsetLow,
                               int32_t offsetHigh, uint32_t moveMethod);

// --- Records, column items and indexes ------------------------------------
// A column item; on the wire the three words and then the data bytes.
struct SockIfsCidItem {
  uint16_t column;
  uint16_t attribute;
  uint16_t length;
  uint8_t* data;  // null for a zero length
};

// A record identifier as the server gives it.
struct SockIfsEntry {
  uint32_t low;
  uint32_t high;
};

// A result list kept on the server, and the entries fetched of it. The
// entries array belongs to the list (freed by SockIfsIdxRemove or free()).
struct SockIfsList {
  uint32_t listId;  // 0: none
  int32_t received;
  SockIfsEntry* entries;
  int32_t total;
  uint32_t further;
};

// The values of a record or table; *items is one block the caller frees
// with free(). 0 when there are none, the item count, or -1.
ZEMTA_API int32_t SockIfsGetCID(uint32_t handle, uint32_t kind, SockIfsCidItem** items, int32_t many, uint32_t a,
                                uint32_t b);
ZEMTA_API int32_t SockIfsSetCID(uint32_t handle, uint32_t kind, int32_t count, const SockIfsCidItem* items,
                                uint32_t a, uint32_t b);
ZEMTA_API int32_t SockIfsRecRead(uint32_t handle, uint32_t record, uint32_t b, SockIfsCidItem** items);
ZEMTA_API int32_t SockIfsRecWrite(uint32_t handle, uint32_t record, uint32_t b, int32_t count,
                                  const SockIfsCidItem* items);
ZEMTA_API int64_t SockIfsRecTotal(uint32_t handle);
ZEMTA_API int32_t SockIfsRecDelete(uint32_t handle, uint32_t a, uint32_t b, uint32_t c, uint32_t d);
ZEMTA_API int32_t SockIfsRecDelByID(uint32_t handle, int32_t count, const SockIfsEntry* ids);
// The server's result, and its two further words into out[0..1] when given; 0 on failure.
ZEMTA_API uint32_t SockIfsTempIdxCreate(uint32_t handle, int32_t count, const uint16_t* columns, uint32_t flags,
                                        uint32_t* out);
ZEMTA_API int32_t SockIfsIdxEqu(uint32_t handle, int32_t count, const uint16_t* columns, const void* key,
                                int32_t keyLength, uint32_t* found, SockIfsEntry* id);
// count 0xFFFF: columns points at one 32-bit column selector instead of a list.
ZEMTA_API int32_t SockIfsIdxSear(uint32_t handle, int32_t count, const void* columns, int32_t keyLength,
                                 const void* lowKey, const void* highKey, SockIfsList* list, uint32_t flags,
                                 uint32_t baseListId, int32_t fetch);
ZEMTA_API int32_t SockIfsIdxRefSearByIdx(uint32_t handle, uint32_t other, int32_t count, const uint16_t* columns,
                                         const uint16_t* otherColumns, uint32_t value, SockIfsList* list);
ZEMTA_API int32_t SockIfsIdxCombine(uint32_t handle, SockIfsList* list, const uint32_t* otherList, int32_t mode);
ZEMTA_API int32_t SockIfsIdxOrder(uint32_t handle, int32_t count, const uint16_t* columns, int32_t order,
                                  SockIfsList* list, int32_t fetch);
ZEMTA_API int32_t SockIfsIdxRemove(SockIfsList* list);
