// Stand-ins for what the binding, the record bar, the view window's keys and
// cell editing, and the file operations give the view object. Each goes when
// its real body lands in its own file (view_bind.cpp, view_recbar.cpp,
// view_window.cpp, view_file.cpp); until then they keep views usable as
// plain blocks of cells.
#include <algorithm>
#include <cstring>

#include "lib/views/edit/edit_object.h"
#include "lib/views/view/view_object.h"

namespace zemta::views {
namespace ui = platform::ui;

// view_recbar.cpp: one record on (Next) or back (Prev) within the records.
int32_t viewRecordStep(ViewObject& v, int32_t button) {
  if (v.recordCount == 0) return -1;
  const int32_t last = static_cast<int32_t>(v.recordCount) - 1;
  const int32_t from = std::max(v.currentRecord, 0);
  v.currentRecord = std::clamp(button == kBarNext ? from + 1 : button == kBarPrev ? from - 1 : from, 0, last);
  return v.currentRecord;
}

// view_recbar.cpp.
LRESULT viewRecordBarProc(HWND, uint32_t, WPARAM, LPARAM) { return 0; }

// view_bind.cpp.
int32_t viewReloadRecords(ViewObject&, int32_t) { return 0; }

// view_bind.cpp: redraws every item.
int32_t viewRefreshChanged(ViewObject& v) {
  for (ViewItem& item : v.items)
    if (item.edit) edit::invalidateVisible(item.edit);
  return 0;
}

// view_bind.cpp.
int32_t viewAfterChange(ViewObject&, int32_t, int32_t, int32_t) { return 0; }

}  // namespace zemta::views
