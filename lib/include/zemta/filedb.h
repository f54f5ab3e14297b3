// Tables: one fixed-length user header followed by fixed-size records, with
// up to 32 index files each (zemta/fileidx.h). The file format is described
// in lib/store/tables/filedb.cpp.
//
// A table is reached by a handle from FileDBCreate (0: none). Every call
// opens the table file for its own length and closes it again, unless the
// table is held open by FileDBOpenEx. Results are -1 (or 0 for a handle or a
// buffer) on failure after a report through the library's error reporter.
#pragma once

#include "zemta/export.h"
#include "zemta/types.h"

typedef uint32_t FileDBHandle;

// Open modes of FileDBOpenEx and FileDBIsAccess: 1 read (shared with other
// readers), 2 write, 3 read and write (both exclusive), 6 write (its bit 2 is
// kept); 0x100 fails at once instead of waiting for another process;
// 0x100000 writes without write-through; 0x200000 lingers: FileDBCloseEx
// leaves the files open (see FileDBEndLinger).
#define FILEDB_MODE_READ 1u
#define FILEDB_MODE_WRITE 2u
#define FILEDB_MODE_READ_WRITE 3u
#define FILEDB_MODE_NO_WAIT 0x100u
#define FILEDB_MODE_NO_WRITE_THROUGH 0x100000u
#define FILEDB_MODE_LINGER 0x200000u

// Where a counter field lies: record offset, size in bytes, and its bit-field
// word (low byte shift, high byte width; width 0 is the whole field).
typedef struct FileFieldPlace {
  uint16_t offset;
  uint16_t size;
  uint16_t fieldWord;
} FileFieldPlace;

// Opens the table at path, creating an empty file when it is missing.
ZEMTA_API FileDBHandle FileDBCreate(const char* path, uint32_t id, uint32_t headerLen, uint32_t recordLen,
                                    const char* title, HWND owner);
// Closes the table and its indexes and frees it; no file is removed.
ZEMTA_API int32_t FileDBDelete(FileDBHandle table);
// Holds the table file and its indexes open in the mode until FileDBCloseEx.
// Held for writing without write-through, appended records may wait in
// memory until the table is next read, written elsewhere than past its end,
// counted or closed; FileDBCloseEx fails when they could not be written.
ZEMTA_API int32_t FileDBOpenEx(FileDBHandle table, uint32_t mode);
ZEMTA_API int32_t FileDBCloseEx(FileDBHandle table);
// A hold taken with FILEDB_MODE_LINGER outlives its FileDBCloseEx, so that a
// caller holding the same tables again and again (a register committing sale
// after sale) does not open and lock every file each time: a FileDBOpenEx in
// the same mode takes it up again at no cost. Reads go on through it. It ends,
// and the files close as at FileDBCloseEx, at FileDBEndLinger, a second
// FileDBCloseEx, any change made to the table outside the hold (a write, a
// delete, a hold in another mode), a project's backup, restore, index check or
// close, and when this thread opens a file that the lingering files keep from
// being shared. 0, or -1 when a close failed; nothing when the table does
// not linger.
ZEMTA_API int32_t FileDBEndLinger(FileDBHandle table);
// 1 when the table file can be opened in the mode right now, else 0.
ZEMTA_API int32_t FileDBIsAccess(FileDBHandle table, uint32_t mode);
// Copies the path (up to 260 bytes with its zero); its length.
ZEMTA_API int32_t FileDBGetPathName(FileDBHandle table, char* out);
// Reads or writes part of the user header; the bytes moved. A header write
// that finds the stored header changed by another process writes nothing (0).
ZEMTA_API int32_t FileDBRead(FileDBHandle table, uint32_t offset, void* buffer, uint32_t length);
ZEMTA_API int32_t FileDBWrite(FileDBHandle table, uint32_t offset, const void* data, uint32_t length);
// The record count, re-read from the file size.
ZEMTA_API int32_t FileDBRecGetSize(FileDBHandle table);
// The record length.
ZEMTA_API int32_t FileDBRecGetFieldSize(FileDBHandle table);
// A record-length buffer the caller frees with free(); zeroed when zero is set.
ZEMTA_API void* FileDBRecBufAlloc(FileDBHandle table, int32_t zero);
// A record-length buffer owned by the table (at most 8), freed by
// FileDBRecBufRelease or with the table.
ZEMTA_API void* FileDBRecBufAllocEx(FileDBHandle table, int32_t zero);
ZEMTA_API int32_t FileDBRecBufRelease(FileDBHandle table, void* buffer);
// Reads record n: 0, or 1 when n is at or past the end (buffer zeroed).
ZEMTA_API int32_t FileDBRecRead(FileDBHandle table, int32_t n, void* buffer);
ZEMTA_API int32_t FileDBRecReadField(FileDBHandle table, int32_t n, uint32_t offset, uint32_t length,
                                     void* buffer);
// Writes record n (n at or past the end appends): 0, or 2 when another process
// changed the stored record since this table last read or wrote it.
ZEMTA_API int32_t FileDBRecWrite(FileDBHandle table, int32_t n, const void* data);
// Deletes records first to last; with a save path they are appended there first.
ZEMTA_API int32_t FileDBRecDelete(FileDBHandle table, int32_t first, int32_t last, const char* savePath);
// Adds increment to the unsigned counter field of record n (-1: the user
// header) and returns the new value.
ZEMTA_API int32_t FileDBUpdateOffset(FileDBHandle table, int32_t n, const FileFieldPlace* place,
                                     int32_t increment);
// Sets (or clears with null) the local data path: 0, or -1 when too long.
ZEMTA_API int32_t FileSetLocPath(const char* path);
