// Events in the Windows sense: set, reset, waited for with a time-out.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

constexpr uint32_t kInfinite = 0xFFFFFFFF;

class Event {
 public:
  Event(bool manualReset, bool initiallySet) : manualReset_(manualReset), set_(initiallySet) {}
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void set();
  void reset();
  // True when the event was (or became) set within the time-out. An
  // auto-reset event is reset by the wait that sees it.
  bool wait(uint32_t timeoutMs = kInfinite);
  // Waits and resets in one step, so that exactly one waiter gets through:
  // this is how a manual-reset event is used as a lock.
  bool waitAndReset(uint32_t timeoutMs = kInfinite);
  bool isSet() const;

 private:
  bool waitImpl(uint32_t timeoutMs, bool reset);
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool manualReset_;
  bool set_;
};

}  // namespace platform
