#include "lib/views/view/view_registry.h"

#include <algorithm>
#include <mutex>

#include "lib/store/change_listener.h"

namespace zemta::views {
namespace {

struct ViewEntry {
  ZemtaView handle = 0;
  uint32_t project = 0;
  int32_t editItem = 0;
  std::vector<uint32_t> tables;
};

struct PrintEntry {
  ZemtaPrintJob handle = 0;
  uint32_t project = 0;
};

struct Registry {
  std::recursive_mutex mutex;
  ViewBackend backend;
  std::vector<ViewEntry> views;
  std::vector<PrintEntry> printJobs;
};

// The views and print jobs that are bound to the store's tables and projects.
store::ChangeListener storeListener() {
  store::ChangeListener listener;
  listener.tableResized = [](uint32_t table, int32_t timer) { tellTableSize(table, timer); };
  listener.projectClosing = [](uint32_t project) {
    bool ok = true;
    for (ZemtaView view : viewsOfProject(project))
      if (ViewDestroy(view) != 0) ok = false;
    for (ZemtaPrintJob job : printJobsOfProject(project))
      if (PrintDestroy(job) != 0) ok = false;
    return ok;
  };
  // The owner's pending edit (only that item) is dropped first; a view that
  // refuses to drop it keeps its rows as they are.
  listener.bufferSetChanged = [](uint32_t owner) { refreshChangedView(owner, false); };
  return listener;
}

// The store hears of the registry the first time it is used: before that no
// view or print job can be bound to anything.
Registry& registry() {
  static Registry r;
  static const bool listening = (store::setChangeListener(storeListener()), true);
  (void)listening;
  return r;
}

ViewEntry* findView(Registry& r, ZemtaView view) {
  for (auto& entry : r.views)
    if (entry.handle == view) return &entry;
  return nullptr;
}

// Copies the backend out so that a call into a view never runs under the mutex
// (a view may register or unregister from inside it).
ViewBackend backend() {
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> guard(r.mutex);
  return r.backend;
}

}  // namespace

ViewBackend bindBackend(ViewBackend backend) {
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> guard(r.mutex);
  std::swap(r.backend, backend);
  return backend;
}

void registerView(ZemtaView view, uint32_t project) {
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> guard(r.mutex);
  if (ViewEntry* entry = findView(r, view)) {
    entry->project = project;
    return;
  }
  r.views.push_back(ViewEntry{view, project, 0, {}});
}

void unregisterView(ZemtaView view) {
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> guard(r.mutex);
  std::erase_if(r.views, [view](const ViewEntry& e) { return e.handle == view; });
}

bool isRegisteredView(ZemtaView view) {
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> guard(r.mutex);
  return view != 0 && findView(r, view) != nullptr;
}

size_t viewCount() {
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> guard(r.mutex);
  return r.views.size();
}

void setEditItem(ZemtaView view, int32_t itemPlusOne) {
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> guard(r.mutex);
  if (ViewEntry* entry = findView(r, view)) entry->editItem = itemPlusOne;
}

int32_t editItem(ZemtaView view) {
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> guard(r.mutex);
  ViewEntry* entry = findView(r, view);
  return entry ? entry->editItem : 0;
}

void bindTable(ZemtaView view, uint32_t table) {
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> guard(r.mutex);
  ViewEntry* entry = findView(r, view);
  if (entry && std::find(entry->tables.begin(), entry->tables.end(), table) == entry->tables.end())
    entry->tables.push_back(table);
}

void unbindTable(ZemtaView view, uint32_t table) {
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> guard(r.mutex);
  if (ViewEntry* entry = findView(r, view)) std::erase(entry->tables, table);
}

std::vector<ZemtaView> viewsOfProject(uint32_t project) {
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> guard(r.mutex);
  std::vector<ZemtaView> found;
  for (const auto& entry : r.views)
    if (entry.project == project) found.push_back(entry.handle);
  return found;
}

void registerPrintJob(ZemtaPrintJob job, uint32_t project) {
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> guard(r.mutex);
  for (auto& entry : r.printJobs)
    if (entry.handle == job) {
      entry.project = project;
      return;
    }
  r.printJobs.push_back(PrintEntry{job, project});
}

void unregisterPrintJob(ZemtaPrintJob job) {
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> guard(r.mutex);
  std::erase_if(r.printJobs, [job](const PrintEntry& e) { return e.handle == job; });
}

size_t printJobCount() {
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> guard(r.mutex);
  return r.printJobs.size();
}

std::vector<ZemtaPrintJob> printJobsOfProject(uint32_t project) {
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> guard(r.mutex);
  std::vector<ZemtaPrintJob> found;
  for (const auto& entry : r.printJobs)
    if (entry.project == project) found.push_back(entry.handle);
  return found;
}

void tellTableSize(uint32_t table, int32_t timer) {
  std::vector<ZemtaView> bound;
  {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> guard(r.mutex);
    for (const auto& entry : r.views)
      if (std::find(entry.tables.begin(), entry.tables.end(), table) != entry.tables.end())
        bound.push_back(entry.handle);
  }
  for (ZemtaView view : bound) ViewFileUpdateSize(view, table, timer);
}

void refreshChangedView(ZemtaView view, bool appended) {
  if (!isRegisteredView(view)) return;
  int32_t item = editItem(view);
  if (item != 0 && ViewDeleteItem(view, item - 1, 1) == 0) return;
  if (!appended) ViewProjRefresh(view);
}

}  // namespace zemta::views

using zemta::views::backend;

ZEMTA_API int32_t ViewFileUpdateSize(ZemtaView view, uint32_t table, int32_t timer) {
  auto b = backend();
  return b.updateSize ? b.updateSize(view, table, timer) : 0;
}

ZEMTA_API int32_t ViewDeleteItem(ZemtaView view, int32_t item, int32_t drop) {
  auto b = backend();
  return b.deleteItem ? b.deleteItem(view, item, drop) : 0;
}

ZEMTA_API int32_t ViewProjRefresh(ZemtaView view) {
  auto b = backend();
  return b.projRefresh ? b.projRefresh(view) : 0;
}

ZEMTA_API int32_t ViewItemAdjustRows(ZemtaView view, int32_t item) {
  auto b = backend();
  return b.adjustRows ? b.adjustRows(view, item) : 0;
}

ZEMTA_API int32_t ViewDestroy(ZemtaView view) {
  auto b = backend();
  return b.destroy ? b.destroy(view) : 0;
}
