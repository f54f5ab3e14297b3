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
