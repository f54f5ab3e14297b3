// Record-buffer sets: the rows of project tables that a record view or a
// print job shows and edits. A set holds, for each of its tables, a number of
// buffer rows (a record image, its saved copy as last read or written, a flag
// word and the record number) and a table of visible entries through which the
// owner reaches the image shown at each visible position. The project fills
// the rows from record lists, follows the references between the tables of
// the owner's sets, tells the bound window of every change (ZEMTA_REF_EXTERN,
// see zemta/fileproj.h) and saves edited rows back to their tables.
//
// Owners are the handles of the views and print jobs (zemta/view.h); 0 stands
// for "every owner" where a function takes it as a filter. Functions return 0
// (or a count, a handle, an address) on success and -1 (or null) after a
// report through the library's error reporter.
#pragma once

#include "zemta/export.h"
#include "zemta/fileproj.h"
#include "zemta/filesearch.h"
#include "zemta/types.h"

// One visible entry: the length of the image shown at that position and its
// address (null: nothing shown). Table-major: entry [table × visible rows +
// position]. The address of the first entry is the set's handle.
typedef struct FileProjBufEntry {
  uint16_t length;
  void* image;
} FileProjBufEntry;
typedef FileProjBufEntry* FileProjBufHandle;

// Row flag bits.
#define FILEBUF_ROW_USED 0x01u      // the row holds an image (stored or new)
#define FILEBUF_ROW_CHANGED 0x02u   // the view must redraw the row
#define FILEBUF_ROW_EDITED 0x04u    // edited by the user, not yet saved
#define FILEBUF_ROW_SHOWN 0x08u     // shown at a visible position
#define FILEBUF_ROW_PENDING 0x10u   // must not be reused; a save of all fails
#define FILEBUF_ROW_NEW 0x20u       // a record not yet stored
#define FILEBUF_ROW_LEFT_OUT 0x40u  // left out when rows are saved as new
#define FILEBUF_ROW_RELEASE 0x80u   // written once more, then released

// Event codes of ZEMTA_REF_EXTERN (wParam).
#define FILEBUF_EVENT_CALCULATE 5
#define FILEBUF_EVENT_REFERENCE 6
#define FILEBUF_EVENT_READ 7
#define FILEBUF_EVENT_BEFORE_UPDATE 8
#define FILEBUF_EVENT_BEFORE_APPEND 9
#define FILEBUF_EVENT_UPDATE_CHECKED 10
#define FILEBUF_EVENT_APPEND_CHECKED 11
#define FILEBUF_EVENT_UPDATED 12
#define FILEBUF_EVENT_APPENDED 13
#define FILEBUF_EVENT_BEFORE_SEARCH 14
#define FILEBUF_EVENT_SEARCHED 15

// The notification block: 4180 bytes as documented in fileproj_notify.cpp;
// on this platform the whole image and list addresses follow at 4180 and 4188.
#define FILEBUF_NOTIFY_BLOCK_LEN 4180
#define FILEBUF_NOTIFY_IMAGE_ADDRESS 4180
#define FILEBUF_NOTIFY_LIST_ADDRESS 4188

// Sets.
// Adds a set of rows buffer rows for each table (fdb ids with bit 15 make a
// header slot, whose one image is the table's user header).
ZEMTA_API FileProjBufHandle FileProjBufAdd(FileProjHandle project, int32_t rows, int32_t tableCount,
                                           const int32_t* fdbIds);
ZEMTA_API FileProjBufHandle FileProjBufAddV(FileProjHandle project, int32_t rows, int32_t tableCount, ...);
// The creating view or print job binds the first set without an owner: its
// owner, the window that receives its notifications, the main table (0 none)
// and the owner's item that shows it. The set number, or -1.
ZEMTA_API int32_t FileProjBufBind(FileProjHandle project, uint32_t owner, HWND window, int32_t mainFdbId,
                                  uint16_t item);
ZEMTA_API int32_t FileProjBufRemove(FileProjHandle project, FileProjBufHandle set);
ZEMTA_API int32_t FileProjBufSetRows(FileProjHandle project, FileProjBufHandle set, int32_t visibleRows);
// The set number of a handle, or -1 (unreported).
ZEMTA_API int32_t FileProjBufNumber(FileProjHandle project, FileProjBufHandle set);
// The next set number of the owner (any set with owner 0) after number (-1:
// from the first); -1 at the end.
ZEMTA_API int32_t FileProjBufNextSet(FileProjHandle project, uint32_t owner, int32_t number);
// The set's record count: the records of its main table's list (or table),
// raised by one for each record appended through the set.
ZEMTA_API int32_t FileProjBufRecordCount(FileProjHandle project, int32_t setNumber);

// Rows and flags.
// The image of a buffer row of the owner's slot of the table (the first such
// slot of its sets, every set with owner 0), taken from the visible entry that
// shows it; null when no position shows it or on failure.
ZEMTA_API void* FileProjGetBufFdb(FileProjHandle project, uint32_t owner, int32_t fdbId, int32_t row);
// The flag word of a buffer row of that slot (-1 on failure), and setting or
// clearing bits of it.
ZEMTA_API int32_t FileProjGetAct(FileProjHandle project, uint32_t owner, int32_t fdbId, int32_t row);
ZEMTA_API int32_t FileProjSetAct(FileProjHandle project, uint32_t owner, int32_t fdbId, int32_t row, uint32_t bits,
                                 int32_t set);
// The flag word of the row shown through a visible entry, 0 when none.
ZEMTA_API uint32_t FileProjBufRowFlags(FileProjHandle project, const FileProjBufEntry* entry);
ZEMTA_API int32_t FileProjBufSetFlag(FileProjHandle project, const FileProjBufEntry* entry, uint32_t bits,
                                     int32_t set);
// Sets (set non-zero) or clears bits of the row whose image holds the address.
ZEMTA_API int32_t FileProjRbfSetAct(FileProjHandle project, const void* address, uint32_t bits, int32_t set);
// The record number of the row whose image holds the address (-1: none or
// not stored); -2 when no set holds the address (reported).
ZEMTA_API int32_t FileProjBufRecordNumber(FileProjHandle project, const void* address);
// 1 when a row of the owner's sets (all sets: owner 0) is edited or to be
// written once more, else 0.
ZEMTA_API int32_t FileProjBufIsModify(FileProjHandle project, uint32_t owner);
// Fills visible position (-1: every position) of a slot from the list (null:
// record numbers from first) starting at list entry first.
ZEMTA_API int32_t FileProjBufReadRow(FileProjHandle project, int32_t setNumber, int32_t slot, int32_t position,
                                     FileRecList* list, int32_t first);
// Puts a copy of the list (null: the whole table in record order) into the
// owner's slot of the table, shows it from entry first and refills the
// dependent slots.
ZEMTA_API int32_t FileProjBufSetList(FileProjHandle project, uint32_t owner, int32_t fdbId, int32_t first,
                                     const FileRecList* list);
// Shows the slot's list from entry first and refills the dependent slots.
ZEMTA_API int32_t FileProjBufScroll(FileProjHandle project, uint32_t owner, int32_t fdbId, int32_t first);
// A search on a key field (kind 3) of the row shown first in the owner's slot
// of the table: the slot's list becomes the records whose field equals that
// value (narrowed when the slot had a list), shown from its first entry, with
// codes 14 before and 15 after the search. The number of records found.
ZEMTA_API int32_t FileProjBufSearch(FileProjHandle project, uint32_t owner, int32_t fdbId, int32_t fieldId);
ZEMTA_API int32_t FileProjBufClearRows(FileProjHandle project, uint32_t owner, int32_t fdbId);
ZEMTA_API int32_t FileProjBufDropEdits(FileProjHandle project, uint32_t owner);
ZEMTA_API int32_t FileProjBufClearChanged(FileProjHandle project, uint32_t owner);
// The visible position that shows a buffer row of a slot, -1 when none.
ZEMTA_API int32_t FileProjBufVisiblePos(FileProjHandle project, int32_t setNumber, int32_t slot, int32_t row);
// For an address on a reference field (kind 1 or 9) of a record slot: the
// fdb id of the referenced table when another slot of the set shows it; 0
// otherwise.
ZEMTA_API int32_t FileProjBufRefTable(FileProjHandle project, const void* address);

// References, derived and calculated fields.
ZEMTA_API int32_t FileProjBufFill(FileProjHandle project, uint32_t owner, int32_t fdbId, int32_t refill);
ZEMTA_API int32_t FileProjBufInitRow(FileProjHandle project, int32_t setNumber, int32_t slot, int32_t position,
                                     void* image);
// Recomputes the calculated fields that follow the row holding the address:
// 0 when no stored result changed, 2 when one did.
ZEMTA_API int32_t FileProjRefCalBfp(FileProjHandle project, uint32_t owner, const void* address);
// After the user changed the field at the address: calculated fields,
// dependent slots, then code 6 to the window. 2 when the row changed.
ZEMTA_API int32_t FileProjBufRefUpdate(FileProjHandle project, uint32_t owner, const void* address);
// A record chosen for the reference field at the address (kind 1 or 9): the
// referenced field's value of that record of the referenced table goes into
// the field, then as FileProjBufRefUpdate. With markEdited the row is marked
// edited by the user. 2 when the row changed, 0 when it was the same, -1.
ZEMTA_API int32_t FileProjBufRefSearch(FileProjHandle project, uint32_t owner, void* address, int32_t record,
                                       int32_t markEdited);
ZEMTA_API int32_t FileProjRbfInsertIndex(FileProjHandle project, uint32_t owner, int32_t fdbId, int32_t row);
ZEMTA_API int32_t FileProjRbfDeleteIndex(FileProjHandle project, uint32_t owner, int32_t fdbId, int32_t row);
// Re-reads the edited rows (every stored row with all) of the owner's sets.
ZEMTA_API int32_t FileProjRbfRefresh(FileProjHandle project, uint32_t owner, int32_t all);
// Re-reads the record shown at a position: 0 nothing stored there, 5 the row
// is edited (left alone), 1 the image changed, 2 it was the same.
ZEMTA_API int32_t FileProjRefreshFdb(FileProjHandle project, uint32_t owner, int32_t fdbId, int32_t position);
// 1 when a record of another table refers to the key of the field, else 0.
ZEMTA_API int32_t FileProjCheckRefKey(FileProjHandle project, int32_t fdbId, int32_t fieldId, const void* key);
// Rewrites the references to the old key into the new key in every referring
// table (narrowed to those whose second referring field holds secondKey when
// secondFieldId is not 0). The number of records rewritten, or -1.
ZEMTA_API int32_t FileProjUpdateRefKey(FileProjHandle project, int32_t fdbId, int32_t fieldId, const void* oldKey,
                                       const void* newKey, int32_t secondFieldId, const void* secondKey);

// Notifications.
// Sends an event about the row image to the set's window (field id 0: the
// event names no field).
ZEMTA_API int32_t FileProjNotify(FileProjHandle project, int32_t setNumber, int32_t code, int32_t fieldId,
                                 void* image);
// 1 when the block concerns the field (record offset, size, field word).
ZEMTA_API int32_t FileCheckRefExtern(const uint16_t* fieldRef, const void* block);

// Saving.
ZEMTA_API int32_t FileProjBufSaveRow(FileProjHandle project, int32_t setNumber, int32_t slot, int32_t asNew,
                                     int32_t keepEdit);
ZEMTA_API int32_t FileProjBufDupCheck(FileProjHandle project, int32_t setNumber, int32_t slot, int32_t asNew,
                                      HWND window);
ZEMTA_API int32_t FileProjBufSaveAll(FileProjHandle project, uint32_t owner, int32_t mainFdbId, int32_t asNew,
                                     HWND window);
ZEMTA_API int32_t FileProjBufSaveSets(FileProjHandle project, uint32_t owner);
