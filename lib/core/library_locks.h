// The library's two process-wide locks and the count of their releases.
//
// ZemtaApiLock is held by every table, index and project operation that
// touches files; ZemtaRefreshLock by the refresh timer while it works. They
// exist from the first project open to the last close; while a lock does not
// exist, operations run unlocked.
//
// A lock is not re-entrant, and it may be let go by another piece of code than
// the one that took it: a message box or wait dialog releases a held lock for
// as long as it is up and takes it back after (counted in the use counter),
// so the holder's thread can run other work from the box's message loop.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace zemta {

class LibraryLock {
 public:
  void create();
  void destroy();
  bool exists() const;

  // Waits until free and takes it; false (and last error set) when the lock
  // does not exist.
  bool take();
  // Takes it only when free right now.
  bool tryTake();
  void release();
  bool isHeld() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable freed_;
  bool exists_ = false;
  bool held_ = false;
};

LibraryLock& apiLock();
LibraryLock& refreshLock();
// Releases made by boxes and wait dialogs that are still outstanding.
int32_t& lockUseCounter();

// Lets go of whichever of the two locks is held, for the life of the object,
// and takes them back (API lock first, then the refresh lock) when it ends.
class ScopedLockRelease {
 public:
  ScopedLockRelease();
  ~ScopedLockRelease();
  ScopedLockRelease(const ScopedLockRelease&) = delete;
  ScopedLockRelease& operator=(const ScopedLockRelease&) = delete;

 private:
  bool releasedRefresh_ = false;
  bool releasedApi_ = false;
};

// Holds the API lock for one operation when it exists. A lock that exists
// but cannot be taken is reported (the thread's last error) and the caller
// returns its failure value without doing its work.
class ApiLockGuard {
 public:
  ApiLockGuard();
  ~ApiLockGuard();
  // False when the lock exists and could not be taken (already reported).
  bool ok() const { return ok_; }

 private:
  bool taken_ = false;
  bool ok_ = true;
};

}  // namespace zemta
