// What the record files and the project database call of the record views and
// print jobs. Views and print jobs are reached by handles that the record views
// hand out; the library keeps a table of each (see lib/views/view/view_registry.h).
// While no record-view implementation is bound, every view call does nothing
// and returns 0.
#pragma once

#include "zemta/edit.h"
#include "zemta/export.h"
#include "zemta/types.h"

typedef uint32_t ZemtaView;      // 0: none
typedef ZemtaView ViewHandle;    // what the record views hand out
typedef uint32_t ZemtaPrintJob;  // 0: none

// A table's record count changed: the view updates the count its items bound
// to that table keep. timer is 1 from the refresh timer, else 0.
ZEMTA_API int32_t ViewFileUpdateSize(ZemtaView view, uint32_t table, int32_t timer);
// Ends the edit of item item (with drop 1 the pending edit is dropped).
// Non-zero: the caller may go on to ViewProjRefresh.
ZEMTA_API int32_t ViewDeleteItem(ZemtaView view, int32_t item, int32_t drop);
// Reloads and redraws the cells whose buffer rows carry the changed flag.
ZEMTA_API int32_t ViewProjRefresh(ZemtaView view);
// Resizes the list item showing a record-buffer set to its record count plus
// the append row; 0 also when nothing had to change.
ZEMTA_API int32_t ViewItemAdjustRows(ZemtaView view, int32_t item);
// Destroy a view or a print job bound to a project being closed; non-zero is a failure.
ZEMTA_API int32_t ViewDestroy(ZemtaView view);
// (print jobs: zemta/print.h)
ZEMTA_API int32_t PrintDestroy(ZemtaPrintJob job);

// --- record views: the object and its hostings -------------------------------
// A view lives in the caller's window when one is given, else as an MDI child
// of the MDI client when one is given, else as a top-level frame with its own
// menu. flags 0x100000: the view has a record bar. Null when 32 views exist
// or a window could not be made.
#define VIEW_CREATE_RECORD_BAR 0x00100000u
ZEMTA_API ViewHandle ViewCreate(uint32_t flags, const char* title, HWND callerWindow, HWND mdiClient);
ZEMTA_API int32_t ViewDelete(ViewHandle view);
ZEMTA_API LRESULT ViewProc(ViewHandle view, uint32_t message, WPARAM wParam, LPARAM lParam);
// The previous focus window, null for a bad handle.
ZEMTA_API HWND ViewSetFocus(ViewHandle view);
ZEMTA_API int32_t ViewSize(ViewHandle view, int32_t unused, int32_t width, int32_t height);
// At most length characters (no terminator when the title is that long).
ZEMTA_API int32_t ViewGetTitle(ViewHandle view, char* buffer, int32_t length);
ZEMTA_API int32_t ViewGetResStyle(ViewHandle view);
// The cell font height of views made from now on: mode non-zero takes the
// size in points (10.5 gives 16); returns the height in force (unchanged
// while any edit exists).
ZEMTA_API int32_t ViewSetFontHeight(float size, int32_t mode);

// --- record views: items, layout and scrolling --------------------------------
ZEMTA_API EditHandle ViewGetEdit(ViewHandle view, int32_t item);
ZEMTA_API int32_t ViewSetItemAtrGrp(ViewHandle view, int32_t key, int32_t colour);
ZEMTA_API int32_t ViewGetItemAtrExGrp(ViewHandle view, int32_t key);
ZEMTA_API int32_t ViewSetItemAtrExGrp(ViewHandle view, int32_t key, uint32_t bits, int32_t on);
ZEMTA_API int32_t ViewDeleteItemGrp(ViewHandle view, int32_t key);
ZEMTA_API int32_t ViewGetEditListIndex(ViewHandle view, int32_t* item, int32_t flag);
ZEMTA_API int32_t ViewInsertListIndex(ViewHandle view, int32_t item, int32_t line);
ZEMTA_API int32_t ViewDeleteListIndex(ViewHandle view, int32_t item, int32_t line);
// bar 0 horizontal, 1 vertical.
ZEMTA_API int32_t ViewSetScrollPos(ViewHandle view, int32_t bar, int32_t position);
ZEMTA_API int32_t ViewSetScrollVirtual(ViewHandle view, int32_t bar, int32_t count);
// Looked up by the view window (what an edit knows of its owner).
ZEMTA_API int32_t ViewGetScrollStep(HWND viewWindow, int32_t bar);
ZEMTA_API int32_t ViewGetScrollPos(HWND viewWindow, int32_t bar);
ZEMTA_API HWND ViewGetScrollBarCtrl(HWND viewWindow, int32_t bar);

// --- record views: item cells --------------------------------------------------
// A cell id: the item in the high 16 bits, the field (its layout entry) in
// the low 16. A field position key: field word (bit 15: a field number, else
// a byte offset), extent, sub-range (low byte first element, high byte count).
ZEMTA_API int32_t ViewItemGetID(ViewHandle view, int32_t tableId, const uint16_t* key);
ZEMTA_API int32_t ViewItemUpdateData(ViewHandle view, uint32_t cell, const char* text, int32_t length,
                                     int32_t direct, int32_t row);
// Reads the text one row of the cell shows (row -1: the current record's
// row), as wide as the field, into a buffer of size bytes (NUL-terminated,
// never half a double-byte character). Its length, or -1.
ZEMTA_API int32_t ViewItemGetText(ViewHandle view, uint32_t cell, char* buffer, int32_t size, int32_t row);
ZEMTA_API int32_t ViewItemEdit(ViewHandle view, uint32_t cell, int32_t row);
ZEMTA_API int32_t ViewItemUpdate(ViewHandle view, uint32_t cell, int32_t row);

// ---- Binding views to project tables and forms ----
#include "zemta/edit.h"
#include "zemta/fileproj.h"
#include "zemta/filesearch.h"

// A grid of every field of one table, one record per row, with a record bar.
// The view lives in the caller's window. Null on failure.
ZEMTA_API ViewHandle ViewTableOpen(FileProjHandle project, int32_t tableId, HWND caller, HWND mdiClient);
// A form view built from the project resource and its parts. With a filter
// index other than -1 (9999: record-number order with 4-byte keys) the view
// moves only through the records that index finds between the two keys.
// The view opens on the last record, or on an empty new record when the
// form allows appending. Null on failure.
ZEMTA_API ViewHandle ViewResourceOpen(FileProjHandle project, int32_t resource, HWND caller, HWND mdiClient,
                                      int32_t filterIndex, const void* fromKey, const void* toKey);
// Loads one form part and adds it as an item; its edit, or null.
ZEMTA_API EditHandle ViewAddFile(ViewHandle view, int32_t tableId, uint32_t itemFlags, const char* path, void* image);
// Moves to a record. Mode low byte: 1 to record value, 2 value records from
// the current one, 3 value records from the last one; bit 0x100 lets the move
// reach the append row when the view has one. 0 moved exactly, 1 moved to the
// nearest allowed record (or nothing to move), 2 the user kept the changes
// the move would have lost, -1 on failure.
ZEMTA_API int32_t ViewProjRecSeek(ViewHandle view, int32_t value, int32_t mode);
// Redraws the fields whose buffer rows changed; 0 or -1.
ZEMTA_API int32_t ViewProjUpdate(ViewHandle view);
// Redraws every field; 0 or -1.
ZEMTA_API int32_t ViewUpdateAll(ViewHandle view);
// Re-reads the set (mode 2: only the cell edit is dropped); 0 or -1.
ZEMTA_API int32_t ViewCancelEdit(ViewHandle view, int32_t mode);

// ---- Record bar, record moves and record selection ----
// Kinds: 1 first, 2 previous, 3 next, 4 last, 5 a new record at the end.
ZEMTA_API int32_t ViewIsRecMove(ViewHandle view, int32_t kind);
ZEMTA_API int32_t ViewRecMove(ViewHandle view, int32_t kind);
// Whether the go-to-number entry can take the focus, and giving it the focus.
ZEMTA_API int32_t ViewIsEditRecPos(ViewHandle view);
ZEMTA_API int32_t ViewEditRecPos(ViewHandle view);
// Modal selection of a record of the table through its selection form (a
// resource with flags 0x30001). With a list: the position chosen in it, or
// -1. Without: the view moves to the chosen record; 0, or -1.
ZEMTA_API int32_t ViewFileRecSelDlg(ViewHandle view, int32_t tableId, HWND owner, FileRecList* list);

// ---- The view window: in-place cell editing and the close question. The
// Edit menu of the view's owner asks these for its states and runs its
// commands through them.
// 1 while a cell edit is open.
ZEMTA_API int32_t ViewIsEdit(ViewHandle view);
ZEMTA_API int32_t ViewEditIsSelect(ViewHandle view);
// Whether the clipboard holds text the open cell edit can take (numbers only
// for a numeric cell); 0 without an edit.
ZEMTA_API int32_t ViewIsClipboardText(ViewHandle view);
// Cut, copy and paste on the open cell edit; -1 without one.
ZEMTA_API int32_t ViewEditCutClipboardText(ViewHandle view);
ZEMTA_API int32_t ViewEditCopyClipboardText(ViewHandle view);
ZEMTA_API int32_t ViewEditPasteClipboardText(ViewHandle view);
// Whether the open cell edit's text was changed.
ZEMTA_API int32_t ViewEditIsModify(ViewHandle view);
// Shows the stored value in the open cell edit again; -1 without one.
ZEMTA_API int32_t ViewEditUndo(ViewHandle view);
// 1 when a field or a row of the view holds unsaved changes (flag 1: a
// changed open edit counts too).
ZEMTA_API int32_t ViewIsModify(ViewHandle view, int32_t flag);
// 1 when the view may close: the open edit is written back, and unsaved
// changes are given up only when the user says so ("警告 - " and the title).
ZEMTA_API int32_t ViewIsClose(ViewHandle view);

// ---- File operations of a view: saving, reloading, deleting and blanking the
// records of its main table, and the record list it moves through (a filter's
// result, or a list its owner hands in). Results are 0 on success and -1
// after a report unless told otherwise.
#include "zemta/filesearch.h"
// Saves the edited rows; reseek 1 then reloads the current position (and keeps
// a record saved as new in a filtered list). A non-zero save result (a
// duplicate key the user was told of) is returned as it is.
ZEMTA_API int32_t ViewFileSave(ViewHandle view, int32_t reseek);
// Writes every row of the view's record-buffer sets and reloads.
ZEMTA_API int32_t ViewFileFlush(ViewHandle view);
// After other processes may have changed the table: 1 changed, 0 not (force 1
// reloads and answers 1).
ZEMTA_API int32_t ViewFileCheck(ViewHandle view, int32_t force);
ZEMTA_API int32_t ViewFileReadSmall(ViewHandle view, int32_t fdbId);
// 1 when the current position is the append row (0 also for a bad handle).
ZEMTA_API int32_t ViewFileIsAppend(ViewHandle view);
// 1 when the current position shows a stored record.
ZEMTA_API int32_t ViewFileIsDelRecPos(ViewHandle view);
// Deletes the current record; the view moves back when it was the last.
ZEMTA_API int32_t ViewFileDelRecPos(ViewHandle view);
// Deletes the current record and every record after it; a filter is dropped.
ZEMTA_API int32_t ViewFileDelRecPosAftAll(ViewHandle view);
// Deletes the current record and stays at its position.
ZEMTA_API int32_t ViewFileRecDelete(ViewHandle view);
// type 1 a new search of [from, to] on the index, 2 narrows the list, 3 adds
// to it; a missing key removes the filter. Asks before unsaved changes are
// lost; a user who declines changes nothing (-1).
ZEMTA_API int32_t ViewFileSetFilter(ViewHandle view, int32_t index, int32_t type, const void* fromKey,
                                    const void* toKey);
// The main table's fdb id, 0 when none.
ZEMTA_API int32_t ViewFileGetFdbID(ViewHandle view);
ZEMTA_API int32_t ViewFileIsFilterVisible(ViewHandle view);
// The number of positions (list or table); position receives the record
// number at the current position.
ZEMTA_API int32_t ViewFileGetSelCount(ViewHandle view, int32_t* position);
// Copies the view's list (the view keeps it) and returns the main table.
ZEMTA_API FileDBHandle ViewFileGetRecList(ViewHandle view, FileRecList* list);
// The view takes the list over (its array becomes the view's).
ZEMTA_API int32_t ViewFileSetRecList(ViewHandle view, const FileRecList* list);
// Blanks the current record's rows in the view's record-buffer set.
ZEMTA_API int32_t ViewFileClean(ViewHandle view);

// ---- The filter dialog "検索キーワード入力": search keys for up to eight
// indexes of a table, a new, narrowing or widening search, a sort order.
// Runs the dialog on the view's main table (fdbId 0) or the table given and
// installs the result as the view's list: 0 applied, 1 cancelled or closed,
// -1 on error.
ZEMTA_API int32_t ViewFileSetFilterDlg(ViewHandle view, int32_t fdbId, HWND parent);
// Runs the dialog over a table into the list: 1 the list holds the result,
// 2 cancelled, 3 error, 4 the table has no searchable key, 8 closed.
ZEMTA_API int32_t ViewFilterRun(ViewHandle view, int32_t fdbId, HWND parent, FileRecList* list);
