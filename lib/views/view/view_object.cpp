// Creating and destroying record views, the ways a view is hosted (in the
// caller's window, as an MDI child, as a top-level frame with its menu), the
// host window procedure and the small exports on the view object.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <set>

#include "lib/core/library_locks.h"
#include "lib/core/report.h"
#include "lib/resources/zemta_resources.h"
#include "lib/views/view/view_object.h"
#include "lib/views/view/view_bind.h"
#include "lib/views/view/view_registry.h"
#include "platform/ui/dialog.h"
#include "platform/ui/paint.h"
#include "platform/ui/resources.h"
#include "zemta/errors.h"

namespace zemta::views {
namespace ui = platform::ui;

namespace {

// The top-level frame's close runs here after the frame agreed, once the
// close event is over: the frame window cannot go from inside its own close.
constexpr uint32_t kDeferredDelete = ui::kWmUser + 0x7A0;

// The view window: every handler runs the view window procedure.
class ViewWindow : public ui::View {
 public:
  void onPaint(ui::DrawContext&) override {
    pass(ui::kWmEraseBkgnd, 0, 0);
    pass(ui::kWmPaint, 0, 0);
  }
  void onSize(int32_t width, int32_t height) override {
    pass(ui::kWmSize, 0, static_cast<LPARAM>((width & 0xFFFF) | ((height & 0xFFFF) << 16)));
  }
  bool onKeyDown(uint32_t key, LPARAM flags) override { return pass(ui::kWmKeyDown, key, flags) != 0; }
  bool onKeyUp(uint32_t key, LPARAM flags) override { return pass(ui::kWmKeyUp, key, flags) != 0; }
  bool onChar(uint8_t c) override { return pass(ui::kWmChar, c, 1) != 0; }
  bool onMouse(uint32_t message, int32_t x, int32_t y, uint32_t keys) override {
    pass(message, keys, static_cast<LPARAM>((x & 0xFFFF) | ((y & 0xFFFF) << 16)));
    return true;
  }
  void onSetFocus() override { pass(ui::kWmSetFocus, 0, 0); }
  void onKillFocus() override { pass(ui::kWmKillFocus, 0, 0); }
  LRESULT onMessage(uint32_t message, WPARAM wParam, LPARAM lParam) override {
    return pass(message, wParam, lParam);
  }

 private:
  LRESULT pass(uint32_t message, WPARAM wParam, LPARAM lParam) {
    return viewWndProc(handle(), message, wParam, lParam);
  }
};

// Scroll offsets kept while the host is minimised, brought back on restore.
void hostSized(ViewObject& v, WPARAM how) {
  if (how == 1) {  // minimised
    v.savedScrollX = v.scrollX;
    v.savedScrollY = v.scrollY;
    return;
  }
  if (v.savedScrollX != 0) {
    v.scrollX = v.savedScrollX;
    v.scrollY = v.savedScrollY;
    v.savedScrollX = v.savedScrollY = 0;
  } else if (v.savedScrollY != v.savedScrollX) {
    v.scrollX = 0;
    v.scrollY = v.savedScrollY;
    v.savedScrollX = v.savedScrollY = 0;
  }
  layoutView(v);
  ui::invalidateWindow(v.window);
}

// The commands a host runs for its view: 1 when handled and it succeeded, 0
// when it failed, -1 when the command is not the host's.
int32_t hostCommand(ViewObject& v, uint32_t command) {
  if (!v.project && (command == kCmdNextRecord || command == kCmdPrevRecord || command == kCmdSave)) return 0;
  switch (command) {
    case kCmdNextRecord:
      return viewRecordStep(v, kBarNext) >= 0 ? 1 : 0;
    case kCmdPrevRecord:
      return viewRecordStep(v, kBarPrev) >= 0 ? 1 : 0;
    case kCmdSave:
      return viewFileSave(v, 1) >= 0 ? 1 : 0;
    default:
      return -1;
  }
}

// An MDI child frame hosting one view.
class ViewChildFrame : public ui::ChildFrame {
 public:
  ViewChildFrame(ui::Frame& frame, const std::string& title) : ChildFrame(frame, title, kChildClass) {}
  // The frame is going: the view goes with it, and leaves the frame alone.
  ~ViewChildFrame() override {
    ViewObject* v = viewOfHandle(view);
    if (!v || v->destroying) return;
    v->hostIsChildFrame = false;
    v->host = nullptr;
    ViewDelete(view);
  }
  ViewHandle view = 0;

  bool handleCommand(uint32_t command) override {
    ViewObject* v = viewOfHandle(view);
    if (!v) return false;
    if (command == kCmdClose) return close();
    if (command == kCmdFind) return ui::sendMessage(v->window, ui::kWmCommand, command, 0) != 0;
    return hostCommand(*v, command) > 0;
  }
  bool handlesCommand(uint32_t command) const override {
    return command == kCmdNextRecord || command == kCmdPrevRecord || command == kCmdSave || command == kCmdClose;
  }

 protected:
  bool onClose() override {
    ViewObject* v = viewOfHandle(view);
    if (!v || v->destroying) return true;
    return viewCloseQuery(*v) == 0;
  }
  void onActivate(bool active) override {
    ViewObject* v = viewOfHandle(view);
    if (active && v && v->window) ui::setFocus(v->window);
  }
};

// The procedure around a host's own: size, focus, close and commands.
LRESULT hostProc(const ui::WindowProc& base, ViewHandle handle, HWND window, uint32_t message, WPARAM wParam,
                 LPARAM lParam) {
  ViewObject* v = viewOfHandle(handle);
  if (!v || v->destroying || v->host != window) return base ? base(window, message, wParam, lParam) : 0;
  switch (message) {
    case ui::kWmSize:
      if (base) base(window, message, wParam, lParam);
      hostSized(*v, wParam);
      return 0;
    case ui::kWmSetFocus:
      ui::setFocus(v->window);
      return 0;
    case kDeferredDelete:
      ViewDelete(handle);
      return 0;
    case ui::kWmClose:
      if (v->hostIsChildFrame) return base ? base(window, message, wParam, lParam) : 0;
      if (LRESULT refused = viewCloseQuery(*v); refused != 0) return refused;
      ui::showWindow(window, false);
      ui::postMessage(window, kDeferredDelete, 0, 0);
      return 0;
    default:
      return base ? base(window, message, wParam, lParam) : 0;
  }
}

void wrapHost(HWND host, ViewHandle handle) {
  auto base = std::make_shared<ui::WindowProc>();
  *base = ui::setWindowProc(host, [base, handle](HWND w, uint32_t m, WPARAM wp, LPARAM lp) {
    return hostProc(*base, handle, w, m, wp, lp);
  });
}

int32_t firstFreeChildId(HWND parent) {
  std::set<int32_t> used;
  for (HWND child : ui::childWindows(parent)) used.insert(ui::controlId(child));
  int32_t id = kFirstViewChildId;
  while (used.count(id)) ++id;
  return id;
}

// The store's calls of zemta/view.h reach the views from the first view on.
void bindStoreCalls() {
  static std::once_flag once;
  std::call_once(once, [] {
    ViewBackend backend;
    backend.destroy = [](ZemtaView view) { return destroyView(view); };
    backend.deleteItem = [](ZemtaView view, int32_t item, int32_t drop) -> int32_t {
      ViewObject* v = checkView(view);
      if (!v) return 0;
      if (item < 0 || static_cast<size_t>(item) >= v->items.size()) {
        ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
        return 0;
      }
      return deleteItem(*v, item, drop);
    };
    backend.projRefresh = [](ZemtaView view) -> int32_t {
      ViewObject* v = checkView(view);
      return v ? viewRefreshChanged(*v) : -1;
    };
    // The calls that follow a bound table (record counts, list rows) come
    // with the binding of views to tables.
    bindBackend(backend);
  });
}

void destroyHost(std::unique_ptr<ui::Frame>& frame, ViewChildFrame* child) {
  frame.reset();
  if (child) {
    child->view = 0;
    child->close();
  }
}

}  // namespace

LRESULT viewWndProc(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
  ViewObject* v = viewOfWindow(window);
  if (!v) {
    if (message == ui::kWmCreate) {
      // The window being made belongs to the first view still without one.
      for (ViewObject* candidate : liveViews()) {
        if (candidate->window) continue;
        candidate->window = window;
        candidate->checkWord = kCheckBase | (static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window)) & 0xFFFF);
        break;
      }
      return 0;
    }
    return ui::defaultWindowProc(window, message, wParam, lParam);
  }
  if ((v->checkWord & 0xFFFF0000u) != kCheckBase) return 0;
  // The record count changed under a bound view: back to its record.
  if (message == ui::kWmCommand && ui::lowWord(wParam) == kCmdReload) {
    reloadView(*v);
    return 1;
  }
  LRESULT result = 0;
  if (itemWindowMessage(*v, message, wParam, lParam, result)) return result;
  return viewItemsMessage(*v, message, wParam, lParam);
}

int32_t destroyView(ViewHandle handle) {
  if (!checkView(handle)) return -1;
  std::unique_ptr<ViewObject> owned = removeView(handle);
  ViewObject& v = *owned;
  v.destroying = true;
  unregisterView(handle);
  bool editFailed = false;
  for (ViewItem& item : v.items) {
    if (item.edit && EditDelete(item.edit) != 0) editFailed = true;
    item.edit = nullptr;
    if (item.slot && v.project && FileProjBufRemove(v.project, item.slot) != 0) editFailed = true;
    item.slot = 0;
  }
  v.items.clear();
  v.scrollArea = v.cornerArea = {};
  bool listFailed = false;
  if (v.recordList.items && FileDeleteRecList(&v.recordList) != 0) listFailed = true;
  v.recordList = FileRecList{};
  v.stagingText.clear();
  v.stagingColour.clear();
  if (v.recordBar) ui::destroyWindow(v.recordBar);
  if (v.verticalBar) ui::destroyWindow(v.verticalBar);
  if (v.horizontalBar) ui::destroyWindow(v.horizontalBar);
  if (v.windowObject) v.windowObject->destroy();
  v.windowObject.reset();
  v.frame.reset();
  if (v.hostIsChildFrame) {
    if (auto* child = dynamic_cast<ViewChildFrame*>(ui::ChildFrame::fromHandle(v.host))) {
      child->view = 0;
      child->close();
    }
  }
  v.filterRange.clear();
  v.checkWord = 0;
  return listFailed || editFailed ? -1 : 0;
}

}  // namespace zemta::views

using namespace zemta::views;
namespace ui = platform::ui;

ZEMTA_API ViewHandle ViewCreate(uint32_t flags, const char* title, HWND caller, HWND mdiClient) {
  if (liveViewCount() >= kMaxViews) return 0;
  ui::ensureApplication();
  zemta::loadLibraryResources();
  bindStoreCalls();
  installEditHost();
  installPrintSource();
  std::string text = title ? std::string(title).substr(0, 255) : std::string();

  // The host, when the view is not made in the caller's window.
  std::unique_ptr<ui::Frame> frame;
  ViewChildFrame* child = nullptr;
  HWND host = nullptr, parent = caller;
  if (caller) {
    if (!ui::isWindow(caller)) return 0;
  } else if (mdiClient) {
    ui::Frame* mdi = ui::Frame::fromClient(mdiClient);
    if (!mdi || !mdi->isMdi()) return 0;
    child = new ViewChildFrame(*mdi, text);
    host = child->handle();
    parent = child->client();
  } else {
    if (!ui::findMenuTemplate(kFrameMenu)) return 0;
    frame = std::make_unique<ui::Frame>(kFrameClass, text, ui::Rect{40, 40, 40 + 640, 40 + 480});
    if (!frame->setMenu(kFrameMenu)) return 0;
    host = frame->handle();
    parent = frame->client();
  }

  std::unique_ptr<ViewObject> object(new (std::nothrow) ViewObject);
  if (!object) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    destroyHost(frame, child);
    return 0;
  }
  zemta::ApiLockGuard lock;
  if (!lock.ok()) {
    destroyHost(frame, child);
    return 0;
  }
  ViewObject* v = object.get();
  const ViewHandle handle = addView(std::move(object));
  if (!handle) {
    destroyHost(frame, child);
    return 0;
  }
  v->host = host;
  v->menu = frame ? kFrameMenu : 0;
  v->frame = std::move(frame);
  v->hostIsChildFrame = child != nullptr;
  if (child) child->view = handle;
  v->title = text;
  v->cellWidth = v->rowHeight = 16;
  v->stepX = v->stepY = 1;
  v->topRecord = v->currentRecord = -1;

  const ui::Rect area = ui::clientRect(parent);
  const int32_t id = firstFreeChildId(parent);
  v->windowObject = std::make_unique<ViewWindow>();
  HWND window = v->windowObject->create(parent, id, kViewClass);
  if (!window || v->window != window) {
    if (window) v->windowObject->destroy();
    v->windowObject.reset();
    std::unique_ptr<ViewObject> back = removeView(handle);
    destroyHost(back->frame, child);
    return 0;
  }
  if (caller) ui::moveWindow(window, area);
  v->flags = flags;
  v->caller = caller;
  if (host) wrapHost(host, handle);
  if (v->frame) {
    v->frame->onCommand([handle](uint32_t command) {
      ViewObject* o = viewOfHandle(handle);
      if (!o || o->destroying) return false;
      if (command == kCmdClose) return ui::postMessage(o->host, ui::kWmClose, 0, 0);
      if (command == kCmdFind) return ui::sendMessage(o->window, ui::kWmCommand, command, 0) != 0;
      return hostCommand(*o, command) > 0;
    });
  }

  if (flags & kViewRecordBar) {
    HWND bar = createRecordBar(*v);
    if (!bar) {
      destroyView(handle);
      return 0;
    }
    v->recordBar = bar;
    v->recordBarWidth = static_cast<uint16_t>(std::max(0, ui::clientRect(bar).width()));
    const ui::Rect client = ui::clientRect(window);
    ui::moveWindow(bar, {0, client.bottom - 16, v->recordBarWidth, client.bottom});
  }
  layoutView(*v);
  if (host) {
    ui::showWindow(host, true);
    if (child) child->activate();
    else ui::updateWindow(host);
  }
  return handle;
}

ZEMTA_API int32_t ViewDelete(ViewHandle view) {
  if (!checkView(view)) return -1;
  zemta::ApiLockGuard lock;
  if (!lock.ok()) return -1;
  return destroyView(view);
}

ZEMTA_API LRESULT ViewProc(ViewHandle view, uint32_t message, WPARAM wParam, LPARAM lParam) {
  ViewObject* v = checkView(view);
  return v ? viewWndProc(v->window, message, wParam, lParam) : 0;
}

ZEMTA_API HWND ViewSetFocus(ViewHandle view) {
  ViewObject* v = checkView(view);
  if (!v) return nullptr;
  HWND previous = ui::focusWindow();
  ui::setFocus(v->window);
  return previous;
}

ZEMTA_API int32_t ViewSize(ViewHandle view, int32_t, int32_t width, int32_t height) {
  ViewObject* v = checkView(view);
  if (!v) return 0;
  ui::Rect r = ui::windowRect(v->window);
  return ui::moveWindow(v->window, {r.left, r.top, r.left + width, r.top + height}) ? 1 : 0;
}

ZEMTA_API int32_t ViewGetTitle(ViewHandle view, char* buffer, int32_t length) {
  ViewObject* v = checkView(view);
  if (!v) return -1;
  if (!buffer || length <= 0) return 0;
  const size_t n = std::min(v->title.size(), static_cast<size_t>(length));
  std::memcpy(buffer, v->title.data(), n);
  if (n < static_cast<size_t>(length)) buffer[n] = '\0';
  return 0;
}

ZEMTA_API int32_t ViewGetResStyle(ViewHandle view) {
  ViewObject* v = checkView(view);
  return v ? static_cast<int32_t>(v->style) : -1;
}

ZEMTA_API int32_t ViewSetFontHeight(float size, int32_t mode) {
  // The views draw with the edits' cell font: one height for both.
  return EditSetFontHeight(size, mode);
}
