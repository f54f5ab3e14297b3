// The refresh timer: every 10 seconds, on the thread that opened the first
// project, each open project's tables are re-counted from their files and the
// record-buffer rows are compared with what is stored now, so that records
// another process added or changed reach the views and their owner windows.
//
// The timer runs on a hidden window of the window framework (the framework's
// timers belong to windows); its message handler calls refreshTick, which
// the tests call by hand instead of waiting.
//
// The notification each changed row sends is built in fileproj_notify.cpp.
#include <cstring>

#include "lib/core/library_locks.h"
#include "lib/core/report.h"
#include "lib/store/tables/filedb_internal.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/core/little_endian.h"
#include "lib/store/change_listener.h"
#include "platform/base/last_error.h"
#include "platform/ui/desktop.h"
#include "platform/ui/application.h"
#include "platform/ui/window.h"

namespace zemta::fileproj {
namespace {

constexpr uint32_t kTimerId = 1;

HWND& timerWindow() {
  static HWND window = nullptr;
  return window;
}

// Re-counts one table; tells its views when the count changed.
void refreshCount(TableEntry& entry) {
  filedb::Table* t = filedb::findTable(entry.table);
  if (!t || t->held || t->heldEx) return;
  if (!filedb::openTable(*t, FILEDB_MODE_READ | filedb::kModeNoWait)) return;
  uint32_t count = 0;
  bool ok = filedb::fileRecordCount(*t, count);
  filedb::closeTable(*t);
  if (!ok || count == t->count) return;
  t->count = count;
  store::tellTableResized(entry.table, 1);
}

// Compares the watched rows of one slot with the stored records.
void refreshSlot(Project& p, int32_t setNumber, BufferSlot& slot) {
  BufferSet& set = *p.sets[setNumber];
  if (slot.table < 0) return;
  TableEntry& entry = p.tables[slot.table];
  filedb::Table* t = filedb::findTable(entry.table);
  if (entry.local || !t || t->held || t->heldEx) return;
  bool any = false;
  for (uint16_t r = 0; r < slot.rows; ++r)
    if ((slot.flags[r] & kRowHoldsRecord) && !(slot.flags[r] & kRowEdited) && slot.recordNumbers[r] >= 0) any = true;
  if (!any) return;
  if (!filedb::openTable(*t, FILEDB_MODE_READ | filedb::kModeNoWait)) return;
  std::vector<uint8_t> scratch(slot.size());
  for (uint16_t r = 0; r < slot.rows; ++r) {
    uint32_t flags = slot.flags[r];
    if (!(flags & kRowHoldsRecord) || (flags & (kRowEdited | kRowSkipRefresh))) continue;
    const int32_t n = slot.recordNumbers[r];
    if (n < 0) continue;
    const uint32_t offset = slot.header() ? 0 : t->recordOffset(static_cast<uint32_t>(n));
    uint32_t done = 0;
    if (!ZemtaReadFile(t->file, scratch.data(), slot.size(), &done, static_cast<int32_t>(offset),
                       ZEMTA_FILE_BEGIN)) {
      ZEMTA_REPORT(platform::lastError() ? platform::lastError() : static_cast<uint32_t>(ZEMTA_ERR_FILE_ACCESS));
      break;
    }
    if (done != slot.size()) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
      break;
    }
    // The table's own images follow the file too, so that its next write does
    // not take the other process's change for a conflict of its own.
    if (slot.header())
      std::memcpy(t->header.data(), scratch.data(), std::min<size_t>(t->header.size(), scratch.size()));
    else if (t->cached == n)
      std::memcpy(t->cachedImage(), scratch.data(), slot.size());
    uint8_t* image = set.image(slot, r);
    if (std::memcmp(image, scratch.data(), slot.size()) == 0) continue;
    std::memcpy(image, scratch.data(), slot.size());
    std::memcpy(set.saved(slot, r), scratch.data(), slot.size());
    if (flags & kRowWatched) {
      slot.flags[r] |= kRowChanged;
      set.redraw = true;
    }
    apiLock().release();
    notifyRow(p, setNumber, 7, nullptr, image);
    if (!apiLock().take()) {
      ZEMTA_REPORT(-1);
      filedb::closeTable(*t);
      return;
    }
  }
  filedb::closeTable(*t);
}

}  // namespace

bool startRefreshTimer() {
  if (timerWindow()) return true;
  // Without an application there is no message loop to tick on: a tool that
  // opens a project to read or write it goes without the refresh, rather
  // than needing a display.
  if (!platform::ui::hasApplication()) return true;
  platform::ui::WindowSpec windowSpec;
  windowSpec.className = "ZemtaRefreshTimer";
  windowSpec.visible = false;
  HWND window = platform::ui::createWindow(windowSpec, [](HWND w, uint32_t message, WPARAM wParam, LPARAM lParam) {
    if (message == platform::ui::kWmTimer && wParam == kTimerId) {
      refreshTick();
      return LRESULT{0};
    }
    return platform::ui::defaultWindowProc(w, message, wParam, lParam);
  });
  if (!window) return false;
  if (!platform::ui::setTimer(window, kTimerId, kRefreshPeriodMs)) {
    platform::ui::destroyWindow(window);
    return false;
  }
  timerWindow() = window;
  return true;
}

void stopRefreshTimer() {
  HWND window = timerWindow();
  timerWindow() = nullptr;
  if (!window) return;
  platform::ui::killTimer(window, kTimerId);
  platform::ui::destroyWindow(window);
}

bool refreshTimerRunning() { return timerWindow() != nullptr; }

void refreshTick() {
  HWND main = platform::ui::mainWindow();
  if (main && !platform::ui::isWindowEnabled(main)) return;
  if (!refreshLock().exists()) return;
  if (refreshLock().isHeld() || apiLock().isHeld()) return;
  if (lockUseCounter() > 0) return;
  if (lockUseCounter() < 0) lockUseCounter() = 0;
  if (!refreshLock().tryTake()) return;
  if (!apiLock().tryTake()) {
    refreshLock().release();
    return;
  }
  for (Project* p : openProjects()) {
    if (!refreshLock().exists()) break;
    if (p->opening || p->refreshOff) continue;
    for (auto& entry : p->tables)
      if (!entry.local) refreshCount(entry);
    for (size_t s = 0; s < p->sets.size(); ++s) {
      BufferSet& set = *p->sets[s];
      set.redraw = false;
      for (auto& slot : set.slots) {
        refreshSlot(*p, static_cast<int32_t>(s), slot);
        if (!apiLock().isHeld() && !apiLock().take()) break;
      }
      if (set.redraw && set.owner) {
        apiLock().release();
        store::tellBufferSetChanged(set.owner);
        apiLock().take();
      }
    }
  }
  apiLock().release();
  refreshLock().release();
}

}  // namespace zemta::fileproj
