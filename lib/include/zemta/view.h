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
ZEMTA_API int32_t ViewItemEdit(ViewHandle view, uint32_t cell, int32_t row);
ZEMTA_API int32_t ViewItemUpdate(ViewHandle view, uint32_t cell, int32_t row);
