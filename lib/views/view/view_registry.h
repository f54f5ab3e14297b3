// The library's tables of record views and print jobs, and the seam through
// which the record views fill in the calls of zemta/view.h. The views
// register themselves as they open and close; the registry listens to the
// store (lib/store/change_listener.h) and tells the views bound to a table or
// a project what changed there.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "zemta/view.h"

namespace zemta::views {

// The record views' implementation of the calls of zemta/view.h. A call whose
// function is empty does nothing and returns 0.
struct ViewBackend {
  std::function<int32_t(ZemtaView, uint32_t table, int32_t timer)> updateSize;
  std::function<int32_t(ZemtaView, int32_t item, int32_t drop)> deleteItem;
  std::function<int32_t(ZemtaView)> projRefresh;
  std::function<int32_t(ZemtaView, int32_t item)> adjustRows;
  std::function<int32_t(ZemtaView)> destroy;
};

// Installs the implementation and returns the one it replaces.
ViewBackend bindBackend(ViewBackend backend);

// Registered views: the project each is bound to, the item being edited (0
// none, else item number + 1) and the tables its items show.
void registerView(ZemtaView view, uint32_t project);
void unregisterView(ZemtaView view);
bool isRegisteredView(ZemtaView view);
size_t viewCount();
void setEditItem(ZemtaView view, int32_t itemPlusOne);
int32_t editItem(ZemtaView view);
void bindTable(ZemtaView view, uint32_t table);
void unbindTable(ZemtaView view, uint32_t table);
std::vector<ZemtaView> viewsOfProject(uint32_t project);

void registerPrintJob(ZemtaPrintJob job, uint32_t project);
void unregisterPrintJob(ZemtaPrintJob job);
size_t printJobCount();
std::vector<ZemtaPrintJob> printJobsOfProject(uint32_t project);

// Tells every registered view bound to the table its new record count.
void tellTableSize(uint32_t table, int32_t timer);

// A record-buffer set of the view changed under it: a pending edit is dropped
// first (a zero answer stops there), then the view reloads unless records
// were only appended.
void refreshChangedView(ZemtaView view, bool appended);

}  // namespace zemta::views
