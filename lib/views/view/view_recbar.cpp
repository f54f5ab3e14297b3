// The record bar at the bottom of a view, the record moves it and the
// program's commands make, and the go-to-number entry.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <mutex>

#include "lib/core/report.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/views/edit/edit_object.h"
#include "lib/views/view/view_bind.h"
#include "lib/views/view/view_file_internal.h"
#include "platform/ui/desktop.h"
#include "platform/ui/dialog.h"
#include "platform/ui/draw.h"
#include "platform/ui/input.h"
#include "platform/ui/paint.h"
#include "zemta/errors.h"
#include "zemta/fileproj_resource.h"

namespace zemta::views {
namespace {

namespace ui = platform::ui;

constexpr int32_t kBarHeight = 16;
const char kBarClass[] = "ZEMTA_RecordBar";

struct BarControl {
  ui::ControlKind kind;
  int32_t id;
  int32_t x, width;
  const char* text;
};

// Left to right; the five move buttons show pictures (barPicture), their
// texts name them.
const BarControl kControls[] = {
    {ui::ControlKind::Static, kBarLabel, 4, 50, "ﾚｺｰﾄﾞ:"},
    {ui::ControlKind::PushButton, kBarOk, 54, 26, "OK"},
    {ui::ControlKind::PushButton, kBarTop, 80, 20, "Top"},
    {ui::ControlKind::PushButton, kBarPrev, 100, 20, "Prev"},
    {ui::ControlKind::Edit, kBarEntry, 120, 56, ""},
    {ui::ControlKind::PushButton, kBarNext, 176, 20, "Next"},
    {ui::ControlKind::PushButton, kBarBottom, 196, 20, "Bottom"},
    {ui::ControlKind::PushButton, kBarAppend, 216, 20, "Append"},
    {ui::ControlKind::Static, kBarTotal, 240, 80, "/ 0"},
};
constexpr int32_t kBarWidth = 320;

struct Step {
  int32_t control;
  int32_t mode;
  int32_t value;
};
// Next goes forward and Prev back, as their pictures say.
const Step kSteps[] = {
    {kBarTop, 1, 0}, {kBarPrev, 2, -1}, {kBarNext, 2, 1}, {kBarBottom, 3, 0}, {kBarAppend, 0x103, 0},
};

// The picture of a move button, black on nothing: an arrow to the left for
// back, to the right for on; first and last put a bar at the arrow's point;
// a new record follows its arrow with a star. A null picture for any other
// control.
ui::Image barPicture(int32_t control) {
  constexpr int32_t kWidth = 11, kHeight = 9, kBlack = 0x000000;
  ui::Image picture = ui::Image::transparent(kWidth, kHeight);
  ui::DrawContext dc(picture);
  dc.setPen(kBlack);
  dc.setBrush(kBlack);
  auto arrow = [&](int32_t x, bool back) {
    const ui::Point tip{back ? x : x + 4, 4};
    const ui::Point points[] = {{back ? x + 4 : x, 0}, {back ? x + 4 : x, 8}, tip};
    dc.polygon(points, 3);
  };
  auto bar = [&](int32_t x) { dc.fillRect({x, 0, x + 2, kHeight}, kBlack); };
  switch (control) {
    case kBarTop: bar(1); arrow(4, true); break;
    case kBarPrev: arrow(3, true); break;
    case kBarNext: arrow(3, false); break;
    case kBarBottom: arrow(2, false); bar(8); break;
    case kBarAppend:
      arrow(0, false);
      dc.line(8, 1, 8, 8);    // the star: upright,
      dc.line(6, 3, 11, 6);   // and both slants
      dc.line(6, 6, 11, 3);
      break;
    default: return ui::Image();
  }
  return picture;
}

HWND entryOf(const ViewObject& v) { return v.recordBar ? ui::dialogItem(v.recordBar, kBarEntry) : nullptr; }

void setEnabled(HWND bar, int32_t id, bool on) {
  HWND control = ui::dialogItem(bar, id);
  if (control && ui::isWindowEnabled(control) != on) ui::enableWindow(control, on);
}

std::string numberText(uint32_t n) {
  char text[16];
  std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(n));
  return text;
}

// Enter in a bar's number entry is the bar's OK.
bool enterKeyHook(const ui::KeyInput& in) {
  if (in.virtualKey != ui::kVkReturn || !in.focus) return false;
  for (ViewObject* v : liveViews()) {
    if (!v->recordBar || entryOf(*v) != in.focus) continue;
    if (in.down && !in.repeat) ui::postMessage(v->recordBar, ui::kWmCommand, ui::makeWParam(kBarOk, 0), 0);
    return true;
  }
  return false;
}

}  // namespace

namespace {

// The number entry got the focus: the clerk is about to type a record
// number, so the cell edit is written back first (and the entry left alone
// when that fails), the number is selected to be typed over, and the input
// method is kept out of the entry, which takes digits only.
void entryFocused(ViewObject& v, HWND entry) {
  if (!endCellEdit(v)) return;
  ui::selectAllText(entry);
  if (!v.entryImeDetached && ui::setImeAttached(entry, false)) v.entryImeDetached = true;
}

// The entry lost the focus: it gets its input method back.
void entryLeft(ViewObject& v, HWND entry) {
  if (v.entryImeDetached) ui::setImeAttached(entry, true);
  v.entryImeDetached = false;
}

}  // namespace

LRESULT viewRecordBarProc(HWND bar, uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (message == ui::kWmCommand) {
    ViewObject* v = viewOfRecordBar(bar);
    if (!v || !v->project) return 0;
    const int32_t id = static_cast<int32_t>(ui::lowWord(wParam));
    const uint32_t code = ui::highWord(wParam);
    if (id == kBarEntry && (code == ui::kEnSetFocus || code == ui::kEnKillFocus)) {
      HWND entry = entryOf(*v);
      if (!entry) return 0;
      if (code == ui::kEnSetFocus) entryFocused(*v, entry);
      else entryLeft(*v, entry);
      return 1;
    }
    if (id == kBarOk) {
      recordBarOk(*v);
      return 1;
    }
    for (const Step& s : kSteps)
      if (s.control == id) {
        recStep(*v, id);
        return 1;
      }
    return 0;
  }
  return ui::defaultWindowProc(bar, message, wParam, lParam);
}

HWND createRecordBar(ViewObject& v) {
  static std::once_flag hook;
  std::call_once(hook, [] { ui::addKeyHook(enterKeyHook); });
  const ui::Rect client = ui::clientRect(v.window);
  ui::WindowSpec shape;
  shape.className = kBarClass;
  shape.parent = v.window;
  shape.rect = {0, client.height() - kBarHeight, kBarWidth, client.height()};
  HWND bar = ui::createWindow(shape, viewRecordBarProc);
  if (!bar) return nullptr;
  for (const BarControl& c : kControls) {
    ui::ControlTemplate t;
    t.kind = c.kind;
    t.id = c.id;
    t.rect = {c.x, 0, c.x + c.width, kBarHeight};
    t.text = c.text;
    HWND control = ui::createControl(bar, t);
    if (!control) {
      ui::destroyWindow(bar);
      return nullptr;
    }
    if (c.kind == ui::ControlKind::PushButton && c.id != kBarOk) ui::setButtonImage(control, barPicture(c.id));
  }
  v.recordBarWidth = kBarWidth;
  return bar;
}

void updateRecordBar(ViewObject& v) {
  if (!v.recordBar) return;
  const uint32_t total = viewTotal(v);
  const int32_t current = v.currentRecord;
  setEnabled(v.recordBar, kBarTop, current > 0);
  setEnabled(v.recordBar, kBarPrev, current > 0);
  const bool more = current >= 0 && static_cast<uint32_t>(current) + 1 < total;
  setEnabled(v.recordBar, kBarNext, more);
  setEnabled(v.recordBar, kBarBottom, more);
  setEnabled(v.recordBar, kBarAppend,
             (v.style & kStyleAppendRow) && (current < 0 || static_cast<uint32_t>(current) < total));
  HWND entry = entryOf(v);
  if (entry && ui::focusWindow() != entry) {
    const std::string text = numberText(static_cast<uint32_t>(std::max(current, 0)) + 1);
    if (ui::windowText(entry) != text) ui::setWindowText(entry, text);
  }
}

void updateRange(ViewObject& v) {
  const uint32_t total = viewTotal(v);
  if (v.recordBar) ui::setDialogItemText(v.recordBar, kBarTotal, "/ " + numberText(total));
  if (v.virtualRows) setVirtualRows(v, total);
}

// A move keeps the cell edit open: it is written back, the view moves, and
// it opens again on the same field of the record moved to (in a list whose
// row follows the record, on that record's row), or where it was when the
// clerk chose to keep the record and its changes.
int32_t recStep(ViewObject& v, int32_t control) {
  const Step* step = nullptr;
  for (const Step& s : kSteps)
    if (s.control == control) step = &s;
  if (!step) return 0;
  const bool editing = v.edit.tempItemPlusOne != 0;
  const size_t item = v.edit.item, field = v.edit.field;
  int32_t line = v.edit.line;
  if (editing && !endCellEdit(v)) return 0;
  const int32_t sought = recSeek(v, step->value, step->mode);
  if (sought < 0) return 0;
  if (!editing || item >= v.items.size() || field >= v.items[item].fields.size()) return 1;
  if (sought != 2 && (v.style & kStyleRowFollows)) line = v.currentRecord - std::max(v.topRecord, 0);
  return beginCellEdit(v, static_cast<int32_t>(item), static_cast<int32_t>(field), line) ? 1 : 0;
}

// The entry then shows the record the view moved to, also when the number
// typed was past the total, 0, negative or no number at all.
void recordBarOk(ViewObject& v) {
  HWND entry = entryOf(v);
  if (!entry) return;
  std::string text = ui::windowText(entry);
  if (text.size() > 4096) text.resize(4096);
  const int64_t target = static_cast<int64_t>(std::atol(text.c_str())) - 1;
  if (target != v.currentRecord) {
    const int32_t value = target > INT32_MAX ? INT32_MAX : target < -1 ? -1 : static_cast<int32_t>(target);
    recSeek(v, value, 1);
  }
  ui::setWindowText(entry, numberText(static_cast<uint32_t>(std::max(v.currentRecord, 0)) + 1));
  ui::selectAllText(entry);
}

}  // namespace zemta::views

using namespace zemta;
using namespace zemta::views;

ZEMTA_API int32_t ViewIsRecMove(ViewHandle view, int32_t kind) {
  ViewObject* v = viewOfHandle(view);
  if (!v || v->checkWord == 0 || !v->project || !v->mainTable) return 0;
  const uint32_t total = viewTotal(*v);
  const int32_t current = v->currentRecord;
  switch (kind) {
    case 1: case 2: return total != 0 && current != 0 && current != -1;
    case 3: case 4: return total != 0 && current >= 0 && static_cast<uint32_t>(current) + 1 < total;
    case 5: return (v->style & kStyleAppendRow) && (current < 0 || static_cast<uint32_t>(current) < total);
    default: return 0;
  }
}

ZEMTA_API int32_t ViewRecMove(ViewHandle view, int32_t kind) {
  ViewObject* v = checkView(view);
  if (!v || !v->project || kind < 1 || kind > 5) return -1;
  static const int32_t controls[] = {kBarTop, kBarPrev, kBarNext, kBarBottom, kBarAppend};
  return recStep(*v, controls[kind - 1]) ? 0 : -1;
}

ZEMTA_API int32_t ViewIsEditRecPos(ViewHandle view) {
  ViewObject* v = viewOfHandle(view);
  if (!v || v->checkWord == 0 || !v->recordBar) return 0;
  HWND entry = platform::ui::dialogItem(v->recordBar, kBarEntry);
  if (!entry) {
    ZEMTA_REPORT(static_cast<uint32_t>(-1));
    return 0;
  }
  return platform::ui::focusWindow() != entry && viewTotal(*v) > 1;
}

ZEMTA_API int32_t ViewEditRecPos(ViewHandle view) {
  ViewObject* v = checkView(view);
  if (!v) return -1;
  if (!v->recordBar) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_HANDLE);
    return -1;
  }
  HWND entry = platform::ui::dialogItem(v->recordBar, kBarEntry);
  if (!entry) {
    ZEMTA_REPORT(static_cast<uint32_t>(-1));
    return -1;
  }
  platform::ui::setFocus(entry);
  platform::ui::selectAllText(entry);
  return 0;
}

// ---- the record-select window --------------------------------------------------

namespace zemta::views {
namespace {

constexpr uint32_t kSelectionForm = 0x30001;  // offered, a list, rows selected whole

// The record under the selected row of a list view: the highlighted row, else
// the current record (highlighted for the next look).
int32_t selectedRecord(ViewObject& v) {
  if (!isListView(v)) return -1;
  for (auto& item : v.items) {
    EditObject* e = edit::checked(item.edit);
    if (!e || !(e->inputFlags & EDIT_INPUT_ROW_SELECT)) continue;
    if (e->highlightedRow != 0xFFFF) return std::max(v.topRecord, 0) + e->highlightedRow - item.firstRecordRow;
    return v.currentRecord;
  }
  return -1;
}

// Runs the frame until it is closed; the record of the selected row then.
// The select window made modal: its owner disabled and its close answering
// the record chosen, before the window shows, so that nothing the clerk does
// (nor any message handled while it comes up) reaches the owner or is lost.
struct ModalSelect {
  HWND owner = nullptr;
  bool disabled = false;
  int32_t answer = -1;
};

void beginModal(ModalSelect& modal, HWND frame, HWND owner, ViewHandle view) {
  namespace ui = platform::ui;
  modal.owner = owner ? owner : ui::mainWindow();
  modal.disabled = modal.owner && ui::isWindowEnabled(modal.owner);
  if (modal.disabled) ui::enableWindow(modal.owner, false);
  ui::WindowProc previous = ui::setWindowProc(frame, nullptr);
  ui::setWindowProc(frame, [&modal, previous, view](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m == ui::kWmClose) {
      ViewObject* v = viewOfHandle(view);
      modal.answer = v ? selectedRecord(*v) : -1;
      if (modal.disabled) ui::enableWindow(modal.owner, true);
      if (v) destroyViewObject(view);
      ui::destroyWindow(h);
      return 0;
    }
    return previous ? previous(h, m, wp, lp) : ui::defaultWindowProc(h, m, wp, lp);
  });
}

int32_t endModal(ModalSelect& modal, HWND frame) {
  namespace ui = platform::ui;
  ui::pumpUntil([frame] { return !ui::isWindow(frame); }, INT32_MAX);
  if (modal.disabled && !ui::isWindowEnabled(modal.owner)) ui::enableWindow(modal.owner, true);
  return modal.answer;
}

}  // namespace

int32_t selectRecord(FileProjHandle project, int32_t tableId, HWND owner, const FileRecList* list, int32_t start) {
  namespace ui = platform::ui;
  if (list && list->count == 1) return 0;
  fileproj::Project* p = fileproj::FileProjCheckHandle(project) < 0 ? nullptr : fileproj::findProject(project);
  if (!p) return -1;
  int32_t position = -1, form = -1;
  while (form < 0 && FileProjResourceNext(project, tableId, &position) >= 0) {
    uint32_t flags = 0;
    std::memcpy(&flags, p->resources[static_cast<size_t>(position)].data() + 20, 4);
    if ((flags & kSelectionForm) == kSelectionForm) form = position;
  }
  if (form < 0) return -1;
  if (list && list->count < 2) return -1;
  const uint32_t records = static_cast<uint32_t>(std::max(FileDBRecGetSize(FileProjGetFdb(project, tableId)), 0));
  if (!list && records < 2) return 0;
  const uint8_t* entry = p->resources[static_cast<size_t>(form)].data();
  uint32_t flags = 0;
  std::memcpy(&flags, entry + 20, 4);
  ui::WindowSpec shape;
  shape.className = kFrameClass;
  shape.title = fileproj::fixedText(entry, 20);
  shape.rect = {60, 60, 60 + 400, 60 + 300};
  shape.visible = false;
  HWND frame = ui::createWindow(shape, ui::defaultWindowProc);
  if (!frame) return -1;
  const ViewHandle handle = createViewObject((flags & 2) ? kViewRecordBar : 0, shape.title, frame);
  ViewObject* v = viewOfHandle(handle);
  if (!v) {
    ui::destroyWindow(frame);
    return -1;
  }
  v->rowGap = 3;
  v->project = project;
  v->style = flags;
  v->host = frame;
  v->mainTable = tableId;
  v->recordCount = records;
  if (list && FileNewRecList(&v->recordList, list->count) == 0) {
    std::memcpy(v->recordList.items, list->items, sizeof(uint32_t) * static_cast<size_t>(list->count));
    v->recordList.count = list->count;
  }
  char path[260];
  if (FileProjResourcePath(project, form, path) != 0 ||
      !ViewAddFile(handle, tableId, kItemVirtualList | kItemReadOnly, path, nullptr)) {
    destroyViewObject(handle);
    ui::destroyWindow(frame);
    return -1;
  }
  installBindBackend();
  updateRange(*v);
  setVirtualRows(*v, viewTotal(*v));
  // As large as the list: its columns (and a vertical bar when the records
  // outnumber the item's rows), its rows down to the last record, the record
  // bar below.
  const ViewItem& item = v->items.front();
  EditObject* e = edit::checked(item.edit);
  const int32_t rowHeight = edit::cellFontHeight() + v->rowGap;
  const int64_t listRows = static_cast<int64_t>(viewTotal(*v)) + item.firstRecordRow;
  const int32_t shown = static_cast<int32_t>(std::min<int64_t>(item.bufferRows, listRows));
  const int32_t columns = std::max<int32_t>(v->originColumn + v->extentColumns, item.column + item.bufferColumns);
  int32_t width = columns * (e ? e->cw : 8) + (listRows > item.bufferRows ? 16 : 0);
  if (v->recordBar) width = std::max<int32_t>(width, v->recordBarWidth);
  const int32_t height = shown * rowHeight + (v->recordBar ? 16 : 0);
  ui::moveWindow(frame, {60, 60, 60 + width, 60 + height});
  ui::moveWindow(v->window, {0, 0, width, height});
  if (v->recordBar) ui::moveWindow(v->recordBar, {0, height - 16, v->recordBarWidth, height});
  recSeek(*v, start, 1);
  ModalSelect modal;
  beginModal(modal, frame, owner, handle);
  ui::showWindow(frame, true);
  // Shown at its size, the list is placed again so that the start's row is
  // the one selected and the rows shown are the ones it reads; unless the
  // clerk has already moved, or closed the window.
  v = viewOfHandle(handle);
  if (v && ui::isWindow(frame)) {
    if (v->currentRecord == start) {
      v->topRecord = -1;
      recSeek(*v, start, 1);
    }
    ui::setFocus(v->window);
  }
  return endModal(modal, frame);
}

}  // namespace zemta::views

ZEMTA_API int32_t ViewFileRecSelDlg(ViewHandle view, int32_t tableId, HWND owner, FileRecList* list) {
  ViewObject* v = checkView(view);
  if (!v || !v->project) return -1;
  if (list) {
    if (!list->items || list->count < 1) return -1;
    return selectRecord(v->project, tableId, owner, list, list->count - 1);
  }
  const FileRecList* own = hasRecordList(*v) ? &v->recordList : nullptr;
  const int32_t chosen = selectRecord(v->project, tableId, owner, own, std::max(v->currentRecord, 0));
  if (chosen < 0) return -1;
  v = checkView(view);
  if (!v) return -1;
  return recSeek(*v, chosen, 1) < 0 ? -1 : 0;
}
