#include "lib/core/library_locks.h"

#include "lib/core/report.h"
#include "platform/base/last_error.h"

namespace zemta {

void LibraryLock::create() {
  std::lock_guard<std::mutex> guard(mutex_);
  exists_ = true;
  held_ = false;
}

void LibraryLock::destroy() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    exists_ = false;
    held_ = false;
  }
  freed_.notify_all();
}

bool LibraryLock::exists() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return exists_;
}

bool LibraryLock::take() {
  std::unique_lock<std::mutex> lock(mutex_);
  freed_.wait(lock, [this] { return !exists_ || !held_; });
  if (!exists_) {
    platform::setLastError(platform::kErrorInvalidHandle);
    return false;
  }
  held_ = true;
  return true;
}

bool LibraryLock::tryTake() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!exists_ || held_) return false;
  held_ = true;
  return true;
}

void LibraryLock::release() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    held_ = false;
  }
  freed_.notify_all();
}

bool LibraryLock::isHeld() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return exists_ && held_;
}

LibraryLock& apiLock() {
  static LibraryLock lock;
  return lock;
}

LibraryLock& refreshLock() {
  static LibraryLock lock;
  return lock;
}

int32_t& lockUseCounter() {
  static int32_t counter = 0;
  return counter;
}

ScopedLockRelease::ScopedLockRelease() {
  if (refreshLock().isHeld()) {
    ++lockUseCounter();
    refreshLock().release();
    releasedRefresh_ = true;
  }
  if (apiLock().isHeld()) {
    ++lockUseCounter();
    apiLock().release();
    releasedApi_ = true;
  }
}

ScopedLockRelease::~ScopedLockRelease() {
  if (releasedApi_ && apiLock().take()) --lockUseCounter();
  if (releasedRefresh_ && refreshLock().take()) --lockUseCounter();
}

ApiLockGuard::ApiLockGuard() {
  if (!apiLock().exists()) return;
  taken_ = apiLock().take();
  ok_ = taken_;
  if (!ok_) ZEMTA_REPORT(-1);
}

ApiLockGuard::~ApiLockGuard() {
  if (taken_) apiLock().release();
}

}  // namespace zemta
