// The file-access layer: every file the library opens, reads or writes goes
// through these calls, so that a file under a registered folder can lie on the
// remote file server instead of the local disk.
//
// Arguments keep the Windows numbering: access GENERIC_READ 0x80000000 and
// GENERIC_WRITE 0x40000000; share 1 read, 2 write, 4 delete; dispositions 1
// CREATE_NEW .. 5 TRUNCATE_EXISTING; attribute 0x80000000 writes through (each
// write is on the disk when the call returns); move methods 0 begin, 1
// current, 2 end. None of the plain wrappers reports an error: they return
// their failure value with the thread's last error set.
#pragma once

#include "zemta/export.h"

// An open file: a checked handle into the layer's table of open files.
// ZEMTA_INVALID_FILE (-1) is what ZemtaCreateFile gives on failure;
// ZemtaOpenFileWait gives 0 instead.
typedef uint32_t ZemtaFileHandle;
#define ZEMTA_INVALID_FILE ((ZemtaFileHandle)0xFFFFFFFFu)

#define ZEMTA_GENERIC_READ 0x80000000u
#define ZEMTA_GENERIC_WRITE 0x40000000u
#define ZEMTA_FILE_SHARE_READ 0x1u
#define ZEMTA_FILE_SHARE_WRITE 0x2u
#define ZEMTA_CREATE_NEW 1u
#define ZEMTA_CREATE_ALWAYS 2u
#define ZEMTA_OPEN_EXISTING 3u
#define ZEMTA_OPEN_ALWAYS 4u
#define ZEMTA_TRUNCATE_EXISTING 5u
#define ZEMTA_FILE_ATTRIBUTE_NORMAL 0x80u
#define ZEMTA_FILE_FLAG_WRITE_THROUGH 0x80000000u
#define ZEMTA_FILE_BEGIN 0u
#define ZEMTA_FILE_CURRENT 1u
#define ZEMTA_FILE_END 2u

// Remote mode: 1 switches it on, any other value off; returns the new mode.
// Switch only while no file of the library is open. Mapped paths open on the
// server of the remote file service connection (zemta/sockifs.h); with no
// connection they fail to open with 10093.
ZEMTA_API int32_t ZemtaSetSockIfs(int32_t mode);
// Appends a mapping: paths starting with localPrefix (any case) open on the
// remote file server under remotePrefix. A flag of 0 keeps the mapping unused.
// 0, or -1 with last error 0x20001001.
ZEMTA_API int32_t ZemtaAddSockIfsDir(const char* localPrefix, const char* remotePrefix, int32_t flag);

// Opens or creates a file; its handle, or ZEMTA_INVALID_FILE with the last error set.
ZEMTA_API ZemtaFileHandle ZemtaCreateFile(const char* path, uint32_t access, uint32_t shareMode,
                                          uint32_t disposition, uint32_t flagsAndAttributes);
// 1 when the existing file could be opened (and closed again) that way, else 0.
ZEMTA_API int32_t ZemtaIsFileAccess(const char* path, uint32_t access, uint32_t shareMode);
// Non-zero on success, 0 on failure.
ZEMTA_API int32_t ZemtaCloseFile(ZemtaFileHandle file);
// The new position (low 32 bits), or 0xFFFFFFFF.
ZEMTA_API uint32_t ZemtaSetFilePointer(ZemtaFileHandle file, int32_t distance, uint32_t moveMethod);
// The size (low 32 bits), or 0xFFFFFFFF.
ZEMTA_API uint32_t ZemtaGetFileSize(ZemtaFileHandle file);
// Moves to offset from the beginning and ends the file there; -1 ends it at
// the current position. Non-zero on success.
ZEMTA_API int32_t ZemtaSetEndOfFile(ZemtaFileHandle file, int32_t offset);
// Moves the pointer (not for method 1 with offset 0) and reads; bytes read may
// be fewer than asked at the end of the file. Non-zero on success.
ZEMTA_API int32_t ZemtaReadFile(ZemtaFileHandle file, void* buffer, uint32_t length, uint32_t* bytesRead,
                                int32_t offset, uint32_t moveMethod);
// As ZemtaReadFile, writing. bytesWritten may be null.
ZEMTA_API int32_t ZemtaWriteFile(ZemtaFileHandle file, const void* data, uint32_t length,
                                 uint32_t* bytesWritten, int32_t offset, uint32_t moveMethod);

// Reads or writes at a 64-bit position from the beginning; a local file's
// pointer stays where it was. Non-zero on success; bytes read may be fewer
// than asked at the end of the file.
ZEMTA_API int32_t ZemtaReadFileAt(ZemtaFileHandle file, int64_t position, void* buffer, uint32_t length,
                                  uint32_t* bytesRead);
ZEMTA_API int32_t ZemtaWriteFileAt(ZemtaFileHandle file, int64_t position, const void* data, uint32_t length,
                                   uint32_t* bytesWritten);
// The 64-bit size, or -1 with the last error set.
ZEMTA_API int64_t ZemtaGetFileSize64(ZemtaFileHandle file);
// Puts the file's data (and the size it needs) on the disk before it
// returns. A file on the remote file server is kept by the server: nothing
// to do there. Non-zero on success.
ZEMTA_API int32_t ZemtaFlushFile(ZemtaFileHandle file);
// Puts a folder's entries (files made or removed in it) on the disk; a
// folder on the remote file server is the server's. Non-zero on success.
ZEMTA_API int32_t ZemtaFlushFolder(const char* folder);
// 1 when the path opens on the remote file server: remote mode is on and a
// mapping in use matches it.
ZEMTA_API int32_t ZemtaIsRemotePath(const char* path);
// 1 when the file exists (on the server for a remote path), else 0.
ZEMTA_API int32_t ZemtaFileExists(const char* path);
// The time of the file's last write as a Windows FILETIME (100-nanosecond
// steps since 1601-01-01 UTC) on the clock of the disk that holds it: the
// local one, or the remote file server's, from the descriptor it gives of an
// existing entry. 1, or 0 with the last error set: 2 when there is no such
// file, 50 when the server answers without a descriptor or time.
ZEMTA_API int32_t ZemtaGetFileWriteTime(const char* path, uint64_t* fileTime);
// Removes the file (on the server for a remote path). Non-zero on success.
ZEMTA_API int32_t ZemtaDeleteFile(const char* path);
// Gives the file `from` the name `to`, replacing a file of that name; both
// lie on the same side (the local disk, or the server). Locally the rename
// is one step and the folder is put on the disk after it; the server renames
// only to a free name, so there the old file is removed first. Non-zero on
// success.
ZEMTA_API int32_t ZemtaMoveFile(const char* from, const char* to);

// The open everyone uses: while another process holds the file (sharing
// violation) it shows the wait dialog "ｱﾝﾛｯｸ待機中" naming displayName (or the
// path) and retries once a second, with the library locks let go. Returns the
// handle, or 0 on failure (never -1); error, when given, receives 0 or the
// failure's code, and failures other than a sharing violation are then not
// reported. With the message switch off or noWait set, a sharing violation
// fails at once without a report; a cancelled wait is reported as 32.
ZEMTA_API ZemtaFileHandle ZemtaOpenFileWait(const char* path, uint32_t access, uint32_t shareMode,
                                            uint32_t disposition, uint32_t flagsAndAttributes,
                                            const char* displayName, void* ownerWindow, uint32_t* error,
                                            int32_t noWait);
