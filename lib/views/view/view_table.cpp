// The table of live views and the handle checks every export starts with.
#include <algorithm>

#include "lib/core/handle_table.h"
#include "lib/core/report.h"
#include "lib/views/view/view_object.h"
#include "zemta/errors.h"

namespace zemta::views {
namespace {

struct Table {
  HandleTable<ViewObject> objects{kCheckBase, 0xFFFF, kMaxViews};
  std::vector<ViewObject*> order;
};

Table& table() {
  static Table t;
  return t;
}

}  // namespace

ViewHandle addView(std::unique_ptr<ViewObject> view) {
  Table& t = table();
  if (t.order.size() >= kMaxViews) return 0;
  ViewObject* object = view.get();
  const ViewHandle handle = t.objects.add(std::move(view));
  if (handle == 0) return 0;
  object->handle = handle;
  t.order.push_back(object);
  return handle;
}

std::unique_ptr<ViewObject> removeView(ViewHandle view) {
  Table& t = table();
  std::unique_ptr<ViewObject> object = t.objects.remove(view);
  if (object) t.order.erase(std::remove(t.order.begin(), t.order.end(), object.get()), t.order.end());
  return object;
}

std::vector<ViewObject*> liveViews() { return table().order; }
size_t liveViewCount() { return table().order.size(); }

ViewObject* viewOfHandle(ViewHandle view) { return view == 0 ? nullptr : table().objects.find(view); }

// Three report lines, so that the log tells which check failed.
ViewObject* checkView(ViewHandle view) {
  ViewObject* object = viewOfHandle(view);
  if (view == 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_VIEW_HANDLE);
  } else if (!object) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_VIEW_HANDLE);
  } else if (object->checkWord == 0 || (object->checkWord & 0xFFFF0000u) != kCheckBase) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_VIEW_HANDLE);
    return nullptr;
  }
  return object;
}

namespace {
template <typename Match>
ViewObject* findView(Match match) {
  for (ViewObject* v : table().order)
    if (match(*v)) return v;
  return nullptr;
}
}  // namespace

ViewObject* viewOfWindow(HWND viewWindow) {
  return viewWindow ? findView([&](const ViewObject& v) { return v.window == viewWindow; }) : nullptr;
}
ViewObject* viewOfHost(HWND host) {
  return host ? findView([&](const ViewObject& v) { return v.host == host; }) : nullptr;
}
ViewObject* viewOfRecordBar(HWND bar) {
  return bar ? findView([&](const ViewObject& v) { return v.recordBar == bar; }) : nullptr;
}

}  // namespace zemta::views
