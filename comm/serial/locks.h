// The engine's locks are auto-reset events used as binary locks: waiting
// takes one, setting it releases it. Hold takes one for a scope.
#pragma once

#include "platform/base/sync.h"

namespace quorex {

class Hold {
 public:
  explicit Hold(platform::Event& lock) : lock_(&lock) { lock_->wait(); }
  ~Hold() { release(); }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;
  void release() {
    if (lock_) lock_->set();
    lock_ = nullptr;
  }

 private:
  platform::Event* lock_;
};

}  // namespace quorex
