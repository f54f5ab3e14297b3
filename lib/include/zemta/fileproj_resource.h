// A project's resources: its data forms (".daf") and print forms (".paf"),
// each a file in the project's resource folder (folder 0 of the catalog)
// listed in the catalog with the tables it serves. The loader, the look-ups
// over the catalog's resource entries, the form-choice dialog and the
// key-entry dialog. The file format is described in
// lib/store/project/fileproj_resource.cpp.
#pragma once

#include "zemta/export.h"
#include "zemta/fileproj.h"
#include "zemta/filesearch.h"
#include "zemta/types.h"

// A loaded form. The arrays belong to the form until FileProjResourceFree.
typedef struct FileProjForm {
  uint8_t format;          // 'A' or 'B'
  uint16_t version;
  uint16_t width, height;  // the screen in character cells and lines
  uint8_t* chars;          // width x height characters
  uint8_t* attributes;     // width x height attribute bytes
  uint8_t block[32];       // format 'B' only; zero for 'A'
  uint16_t itemCount;
  uint8_t* items;          // itemCount x 64 bytes
  uint16_t trailerLen;
  uint8_t* trailer;        // the trailer after the word table was split off
  uint16_t wordCount;
  uint16_t* words;         // the trailer's word table
} FileProjForm;

// The resource entry's flags word.
#define FILEPROJ_RESOURCE_DEFAULT 0x1    // offered for its tables
#define FILEPROJ_RESOURCE_STOP 0x2       // a stop mark for the default search
#define FILEPROJ_RESOURCE_REPORTED 0x10000

// The file of resource entry number entry (0-based, catalog order). 0 or -1.
ZEMTA_API int32_t FileProjResourcePath(FileProjHandle project, int32_t entry, char* outPath);
// Accepts a resource file by its 16-byte header. 0 or -1.
ZEMTA_API int32_t FileProjResourceCheck(const char* path, uint8_t* outHeader);
// Loads a form; itemPosition (or null) receives the file position of the
// first item. The data length the items need (bit 30 when they lie in a
// table header), or -1.
ZEMTA_API int32_t FileProjResourceLoad(const char* path, FileProjForm* form, int32_t* itemPosition);
// Frees the arrays of a loaded form and zeroes it.
ZEMTA_API void FileProjResourceFree(FileProjForm* form);
// The next entry after position (-1: from the start) naming the table id in
// one of its three table ids (any entry for 0); position -1 at the end.
ZEMTA_API int32_t FileProjResourceNext(FileProjHandle project, int32_t tableId, int32_t* position);
// The default entry of the table id (flag bit 0), or -1 when there is none
// or after a report. flag (or null) becomes 1 when a matching entry has bit 16.
ZEMTA_API int32_t FileProjResourceDefault(FileProjHandle project, int32_t tableId, int32_t* flag);
// The attribute word of the first default entry naming the table id, or -1.
ZEMTA_API int32_t FileProjGetResourceAtr(FileProjHandle project, int32_t tableId);
// Offers the forms of a table (the dialog "書式選択" when there are two or
// more) and returns the related table id of the chosen one; 0 when the user
// cancels, -1 on failure or when no entry names the table.
ZEMTA_API int32_t FileProjSelResourceDlg(FileProjHandle project, int32_t tableId, HWND parent, int32_t formWord);
// The key-entry dialog "暗証番号入力": 1 with the record number of the one
// record whose key field equals the typed text, 2 after three failed entries,
// 8 when the dialog is closed, 3 on failure.
ZEMTA_API int32_t FileProjKeyWordDlg(FileProjHandle project, int32_t fdbId, const char* keyFieldName,
                                     int32_t minimumLength, HWND parent, int32_t* recordNumber);
// The keyword search behind a reference field: address lies inside the
// reference field of a record-buffer row; the table the field refers to is
// searched through the index on the referenced field for the field's value
// (a text as a prefix), and for a text, while nothing is found, through the
// table's other indexes long enough for it. The list (whose array the search
// makes) holds what was found. 0 complete, 1 when the list filled up, -1 on
// failure.
ZEMTA_API int32_t FileProjKeySearch(FileProjHandle project, const void* address, FileRecList* list);
