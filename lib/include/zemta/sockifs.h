// The client of the remote file service: byte access to files kept on the
// remote file server, and the error log the reporter writes to it. All calls
// share one connection; with none open they fail with 10093, and a connection
// that breaks (10053) is dropped.
//
// NOT YET WORKING: the client cannot connect to a server yet. Every call here
// fails as with no connection (-1, or 0 from SockIfsCreate, last error 10093),
// so remote mode (ZemtaSetSockIfs) opens no file and the reporter logs nothing
// remotely. Keep a project's files local until the client is built.
#pragma once

#include "zemta/export.h"

// Opens or creates a remote file; its 32-bit remote handle, or 0 with the last
// error set. nameLength -1: zero-terminated. mode: 0x2000 read, 0x4000 write,
// 0x401 open or create.
ZEMTA_API uint32_t SockIfsCreate(const char* name, int32_t nameLength, const char* description,
                                 uint32_t mode, uint32_t reserved1, uint32_t reserved2);
ZEMTA_API int32_t SockIfsRelease(uint32_t handle);
// The new 64-bit position, or -1. moveMethod as for a file pointer: 0 begin, 1 current, 2 end.
ZEMTA_API int64_t SockIfsSetPointer(uint32_t handle, uint32_t distanceLow, int32_t distanceHigh,
                                    uint32_t moveMethod);
ZEMTA_API int64_t SockIfsGetSize(uint32_t handle);
// (-1, -1) cuts the file at the current pointer.
ZEMTA_API int32_t SockIfsSetSize(uint32_t handle, uint32_t sizeLow, int32_t sizeHigh);
// 0 on success, non-zero with the last error set.
ZEMTA_API int32_t SockIfsRead(uint32_t handle, void* buffer, uint32_t length, uint32_t* bytesRead,
                              uint32_t offsetLow, int32_t offsetHigh, uint32_t moveMethod);
ZEMTA_API int32_t SockIfsWrite(uint32_t handle, const void* data, uint32_t length,
                               uint32_t offsetLow, int32_t offsetHigh, uint32_t moveMethod);
// Logs one error on the server.
ZEMTA_API int32_t SockIfsRollback(uint32_t handle1, uint32_t handle2, int32_t line,
                                  const char* file, uint32_t code);
