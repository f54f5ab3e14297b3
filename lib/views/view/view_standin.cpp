// STAND-IN, to be replaced by the view object's own creation, items and
// window (view_object.cpp, view_items.cpp, view_window.cpp) when they land:
// just enough of a view (a window in the caller's window that hands its
// messages to the items' edits, items with their edits, virtual rows) for the
// binding and the record bar to be built and tested on their own.
#include <memory>

#include "lib/views/edit/edit_object.h"
#include "lib/views/view/view_bind.h"
#include "lib/views/view/view_registry.h"
#include "platform/ui/paint.h"
#include "platform/ui/view.h"

namespace zemta::views {
namespace {

namespace ui = platform::ui;

class StandinWindow : public ui::View {
 public:
  ViewHandle view = 0;

  void onPaint(ui::DrawContext&) override {
    ViewObject* v = viewOfHandle(view);
    if (!v) return;
    for (size_t i = v->items.size(); i-- > 0;) {
      EditCallBackProc(v->items[i].edit, ui::kWmEraseBkgnd, 0, 0);
      EditCallBackProc(v->items[i].edit, ui::kWmPaint, 0, 0);
    }
  }
  bool onKeyDown(uint32_t key, LPARAM flags) override { return pass(ui::kWmKeyDown, key, flags); }
  bool onKeyUp(uint32_t key, LPARAM flags) override { return pass(ui::kWmKeyUp, key, flags); }
  bool onChar(uint8_t c) override { return pass(ui::kWmChar, c, 1); }
  bool onMouse(uint32_t message, int32_t x, int32_t y, uint32_t keys) override {
    return pass(message, keys, static_cast<LPARAM>((x & 0xFFFF) | ((y & 0xFFFF) << 16)));
  }
  void onSetFocus() override { pass(ui::kWmSetFocus, 0, 0); }
  void onKillFocus() override { pass(ui::kWmKillFocus, 0, 0); }
  void onSize(int32_t width, int32_t height) override {
    pass(ui::kWmSize, 0, static_cast<LPARAM>((width & 0xFFFF) | ((height & 0xFFFF) << 16)));
    if (ViewObject* v = viewOfHandle(view); v && v->recordBar)
      ui::moveWindow(v->recordBar, {0, height - 16, v->recordBarWidth, height});
  }
  LRESULT onMessage(uint32_t message, WPARAM wParam, LPARAM lParam) override {
    if (message == ui::kWmCommand && ui::lowWord(wParam) == kCmdReload) {
      if (ViewObject* v = viewOfHandle(view)) reloadView(*v);
      return 1;
    }
    return View::onMessage(message, wParam, lParam);
  }

 private:
  bool pass(uint32_t message, WPARAM wParam, LPARAM lParam) {
    ViewObject* v = viewOfHandle(view);
    if (!v) return false;
    bool used = false;
    for (auto& item : v->items) used |= EditCallBackProc(item.edit, message, wParam, lParam) != 0;
    return used;
  }
};

std::vector<std::unique_ptr<StandinWindow>>& windows() {
  static std::vector<std::unique_ptr<StandinWindow>> w;
  return w;
}

}  // namespace

ViewHandle createViewObject(uint32_t flags, const std::string& title, HWND caller) {
  if (!caller || liveViewCount() >= kMaxViews) return 0;
  auto object = std::make_unique<ViewObject>();
  ViewObject* v = object.get();
  const ViewHandle handle = addView(std::move(object));
  if (!handle) return 0;
  auto window = std::make_unique<StandinWindow>();
  window->view = handle;
  v->window = window->create(caller, kFirstViewChildId, kViewClass);
  if (!v->window) {
    removeView(handle);
    return 0;
  }
  const ui::Rect client = ui::clientRect(caller);
  ui::moveWindow(v->window, {0, 0, client.width(), client.height()});
  v->checkWord = kCheckBase | (static_cast<uint32_t>(reinterpret_cast<uintptr_t>(v->window)) & 0xFFFF);
  v->title = title.substr(0, 255);
  v->flags = flags;
  v->caller = caller;
  windows().push_back(std::move(window));
  if (flags & kViewRecordBar) {
    v->recordBar = createRecordBar(*v);
    if (!v->recordBar) {
      destroyViewObject(handle);
      return 0;
    }
  }
  return handle;
}

int32_t destroyViewObject(ViewHandle view) {
  std::unique_ptr<ViewObject> v = removeView(view);
  if (!v) return -1;
  unregisterView(view);
  for (auto& item : v->items) {
    EditDelete(item.edit);
    if (item.slot && v->project) FileProjBufRemove(v->project, item.slot);
  }
  if (v->recordList.items) FileDeleteRecList(&v->recordList);
  if (v->recordBar) ui::destroyWindow(v->recordBar);
  auto& w = windows();
  for (size_t i = 0; i < w.size(); ++i)
    if (w[i]->view == view) {
      w[i]->destroy();
      w.erase(w.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  return 0;
}

EditHandle createItem(ViewObject& v, uint32_t createFlags, int32_t bufferColumns, int32_t bufferRows, int32_t column,
                      int32_t row, int32_t visibleColumns, int32_t visibleRows, uint32_t attribute) {
  if (v.items.size() >= kMaxItems) return nullptr;
  EditHandle e = EditCreate(createFlags, column, row, visibleColumns, visibleRows, bufferColumns, bufferRows, v.window,
                            attribute);
  if (!e) return nullptr;
  if (v.cellGap || v.rowGap) EditSetViewGap(e, v.cellGap, v.rowGap);
  ViewItem item;
  item.bufferColumns = static_cast<uint16_t>(bufferColumns);
  item.bufferRows = static_cast<uint16_t>(bufferRows);
  item.column = static_cast<uint16_t>(column);
  item.row = static_cast<uint16_t>(row);
  item.visibleColumns = static_cast<uint16_t>(visibleColumns);
  item.visibleRows = static_cast<uint16_t>(visibleRows);
  item.edit = e;
  item.createFlags = createFlags;
  v.items.push_back(std::move(item));
  const ui::Rect client = ui::clientRect(v.window);
  EditCallBackProc(e, ui::kWmSize, 0, static_cast<LPARAM>((client.width() & 0xFFFF) | ((client.height() & 0xFFFF) << 16)));
  return e;
}

void setVirtualRows(ViewObject& v, uint32_t count) {
  v.stepY = static_cast<uint16_t>(((count + 1) >> 15) + 1);
  v.virtualRows = count + ((v.style & kStyleAppendRow) ? 2 : 1);
}

}  // namespace zemta::views
