#include "platform/base/sync.h"

#include <chrono>

namespace platform {

void Event::set() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    set_ = true;
  }
  changed_.notify_all();
}

void Event::reset() {
  std::lock_guard<std::mutex> guard(mutex_);
  set_ = false;
}

bool Event::isSet() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return set_;
}

bool Event::waitImpl(uint32_t timeoutMs, bool reset) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto ready = [this] { return set_; };
  if (timeoutMs == kInfinite) {
    changed_.wait(lock, ready);
  } else if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
    return false;
  }
  if (reset || !manualReset_) set_ = false;
  return true;
}

bool Event::wait(uint32_t timeoutMs) { return waitImpl(timeoutMs, false); }

bool Event::waitAndReset(uint32_t timeoutMs) { return waitImpl(timeoutMs, true); }

}  // namespace platform
