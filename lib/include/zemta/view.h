// What the record files and the project database call of the record views and
// print jobs. Views and print jobs are reached by handles that the record views
// hand out; the library keeps a table of each (see lib/views/view/view_registry.h).
// While no record-view implementation is bound, every view call does nothing
// and returns 0.
#pragma once

#include "zemta/export.h"

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
