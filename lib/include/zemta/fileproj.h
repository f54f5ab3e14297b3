// Projects: a catalog table that lists the tables of an application with
// their files, fields and indexes. FileProjOpen opens every table and index it
// names; the application then reaches a table by its fdb id or name and reads
// and writes records through zemta/filedb.h. The catalog format is described
// in lib/store/project/fileproj.cpp.
//
// While a project is open the library refreshes its tables every 10 seconds
// from the files (records other processes added or changed) and tells the
// window bound to a record-buffer set with the registered message
// "ZEMTA_REF_EXTERN" (its id is g_nMsgRefExt; wParam the event code, lParam
// the address of a notification block valid during the call).
#pragma once

#include "zemta/export.h"
#include "zemta/filedb.h"
#include "zemta/types.h"

typedef uint32_t FileProjHandle;  // 0: none

// Where a field lies and what it holds: record (or header) offset, size,
// field word (bit count in the high byte, position in the low byte; 0 whole
// field) and type code (the low 6 bits of the descriptor's type word).
typedef struct FileProjTypeInfo {
  uint16_t offset;
  uint16_t size;
  uint16_t fieldWord;
  uint16_t typeCode;
} FileProjTypeInfo;

// The id of the registered message "ZEMTA_REF_EXTERN"; 0 until a project was opened.
#ifdef __cplusplus
extern "C" {
#endif
#if defined(ZEMTA_BUILDING)
__attribute__((visibility("default")))
#endif
extern uint32_t g_nMsgRefExt;
#ifdef __cplusplus
}
#endif

ZEMTA_API FileProjHandle FileProjOpen(const char* catalogPath, uint32_t projectId, HWND owner);
ZEMTA_API int32_t FileProjClose(FileProjHandle project);
// The table handle of the table with that fdb id; 0 on failure.
ZEMTA_API FileDBHandle FileProjGetFdb(FileProjHandle project, int32_t fdbId);
// Finds a table by fdb id (or, with id 0, by name) and optionally one of its
// fields by id (or, with id 0, by name): header fields first, then record
// fields. The table's fdb id, or 0. Names are compared as the catalog keeps
// them: at most 16 bytes, cut without splitting a double-byte character, so a
// longer name finds its table by its full text or by its stored first 16 bytes.
ZEMTA_API int32_t FileProjGetType(FileProjHandle project, int32_t fdbId, const char* tableName, int32_t fieldId,
                                  const char* fieldName, FileProjTypeInfo* info, int32_t* outFieldId,
                                  int32_t quiet);
// kind 0..4: project folder + catalog folder kind + suffix; -1: the catalog path.
// With project 0 and kind -2 (FILEPROJ_PATH_FAILED_OPEN): the catalog, table
// or index file at which the last failed FileProjOpen of the process stopped,
// empty when none.
#define FILEPROJ_PATH_FAILED_OPEN (-2)
ZEMTA_API int32_t FileProjGetPathName(FileProjHandle project, char* out, int32_t kind, const char* suffix);
ZEMTA_API int32_t FileProjGetTableQualifier(FileProjHandle project, char* out, int32_t length);
// on 0 stops the refresh timer's work for this project; non-zero resumes it.
ZEMTA_API int32_t FileProjSetCallback(FileProjHandle project, int32_t on);
// How many open projects have the id; window receives the owner of the last found.
ZEMTA_API int32_t FileSameProjCheck(uint32_t projectId, HWND* window);
// The record-buffer sets of a project: zemta/filebuf.h.
