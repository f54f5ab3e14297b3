// Keeping a project's files sound: checking (and rebuilding) index files,
// emptying tables, and the unique-field check made before a record is saved.
//
// None of these takes the library's API lock itself; the table operations
// they call take it where they need it.
#pragma once

#include "zemta/export.h"
#include "zemta/fileproj.h"
#include "zemta/types.h"

// FileIdxCheck flags.
#define FILEIDX_CHECK_SHOW 1     // show a message when the index is broken
#define FILEIDX_CHECK_DELETE 2   // delete a broken index file
#define FILEIDX_CHECK_REBUILD 4  // delete it and build it anew from the records

// Checks one own index of a table against the records: 0 sound, 1 broken, -1
// failure. title (or null) is added to the progress caption and message.
ZEMTA_API int32_t FileIdxCheck(FileDBHandle table, int32_t index, uint32_t flags, const char* title);
// Checks every own index of the table with that fdb id (0: every table, each
// file once): the number found broken, or -1.
ZEMTA_API int32_t FileProjIdxCheck(FileProjHandle project, int32_t fdbId, uint32_t flags);
// Empties the table with that fdb id (0: every table): zeroed header, no
// records, empty indexes. 0, or -1.
ZEMTA_API int32_t FileProjDeleteDB(FileProjHandle project, int32_t fdbId);
// Checks the unique fields of a record image about to be saved (recordNumber
// -1 for a new record): 3 the save must not go ahead, -1 failure, otherwise
// 0, 1 or 2 (the result of the last index search; the save may go ahead).
ZEMTA_API int32_t FileProjIdxDupCheck(FileProjHandle project, int32_t fdbId, void* record, int32_t recordNumber,
                                      HWND owner);

// Called by FileProjRestore with the project folder once the files are back.
typedef void (*FileProjRestoreFunc)(const char* projectFolder);
// Packs the project's table files and their field index files into one
// combined backup file (null: "DTyymmdd.dbk" of today in the table folder,
// month and day padded with a space). 0 (also for a project without tables),
// or -1.
ZEMTA_API int32_t FileProjBackup(FileProjHandle project, const char* targetPath);
// Restores a backup into the table folder (the file dialog is shown when no
// path is given or ask is non-zero). The backup is checked whole before any
// file is replaced. The number of files restored, 0 when the dialog is
// cancelled, or -1.
ZEMTA_API int32_t FileProjRestore(FileProjHandle project, const char* backupPath, int32_t ask,
                                  FileProjRestoreFunc callback);
