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

// view_window.cpp: the items' edits see the message, last item first, until
// one takes it.
LRESULT viewItemsMessage(ViewObject& v, uint32_t message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case ui::kWmSetFocus:
      v.hasFocus = true;
      return 0;
    case ui::kWmKillFocus:
      v.hasFocus = false;
      return 0;
    case ui::kWmDestroy:
      for (ViewItem& item : v.items)
        if (item.edit) EditCallBackProc(item.edit, message, wParam, lParam);
      return 0;
    default:
      break;
  }
  for (size_t i = v.items.size(); i-- > 0;)
    if (v.items[i].edit && EditCallBackProc(v.items[i].edit, message, wParam, lParam) != 0) return 1;
  return ui::defaultWindowProc(v.window, message, wParam, lParam);
}

// view_window.cpp: nothing unsaved to ask about.
int32_t viewCloseQuery(ViewObject&) { return 0; }

// view_window.cpp.
int32_t viewCommitEdit(ViewObject&) { return 0; }

// view_file.cpp.
int32_t viewFileSave(ViewObject&, int32_t) { return 0; }

// view_window.cpp: the caret goes to the cell.
int32_t viewStartEdit(ViewObject& v, int32_t item, int32_t field, int32_t, int32_t row) {
  ViewItem& i = v.items[static_cast<size_t>(item)];
  const ViewFieldLayout& f = i.fields[static_cast<size_t>(field)];
  if (!i.edit) return -1;
  ui::setFocus(v.window);
  EditCallBackProc(i.edit, ui::kWmSetFocus, 0, 0);
  edit::EditMoveCaret(i.edit, f.column, f.row + row, false);
  return 0;
}

// view_window.cpp: the text goes in as it is; 1 when the cells changed.
int32_t viewEnterText(ViewObject& v, int32_t item, int32_t field, int32_t row, const char* text, int32_t length) {
  ViewItem& i = v.items[static_cast<size_t>(item)];
  const ViewFieldLayout& f = i.fields[static_cast<size_t>(field)];
  const std::string before = cellText(i, f, row);
  if (!putCellText(i.edit, f, row, text, length)) return -1;
  return cellText(i, f, row) == before ? 0 : 1;
}

// view_bind.cpp.
int32_t viewAfterChange(ViewObject&, int32_t, int32_t, int32_t) { return 0; }

}  // namespace zemta::views
