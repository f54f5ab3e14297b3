#include "lib/store/change_listener.h"

#include <mutex>
#include <utility>

namespace zemta::store {
namespace {

struct Slot {
  std::mutex mutex;
  ChangeListener listener;
};

Slot& slot() {
  static Slot s;
  return s;
}

// A copy, so that a listener never runs under the mutex (it may call back
// into the store).
ChangeListener current() {
  Slot& s = slot();
  std::lock_guard<std::mutex> guard(s.mutex);
  return s.listener;
}

}  // namespace

ChangeListener setChangeListener(ChangeListener listener) {
  Slot& s = slot();
  std::lock_guard<std::mutex> guard(s.mutex);
  std::swap(s.listener, listener);
  return listener;
}

void tellTableResized(uint32_t table, int32_t timer) {
  ChangeListener l = current();
  if (l.tableResized) l.tableResized(table, timer);
}

bool tellProjectClosing(uint32_t project) {
  ChangeListener l = current();
  return l.projectClosing ? l.projectClosing(project) : true;
}

void tellBufferSetChanged(uint32_t owner) {
  ChangeListener l = current();
  if (l.bufferSetChanged) l.bufferSetChanged(owner);
}

}  // namespace zemta::store
