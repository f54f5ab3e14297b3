// An owner window for the port tests: a handle, a message queue that the
// code under test posts to (and peeks into for coalescing), and window
// timers. The test's thread is the owner's thread: pump() delivers what is
// queued and fires the timers that are due, as a message loop would.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "comm/window_link.h"
#include "platform/base/clock.h"
#include "support/wait_until.h"

class TestOwner {
 public:
  struct Message {
    uint32_t message;
    WPARAM wParam;
    LPARAM lParam;
  };

  TestOwner() : thread_(std::this_thread::get_id()) {
    current() = this;
    quorex::WindowLink link;
    link.isWindow = [](HWND w) { return current() && w == current()->hwnd() && current()->alive_; };
    link.peekMessage = [](HWND w, uint32_t m, WPARAM* wp) { return current()->peek(m, wp); };
    link.postMessage = [](HWND w, uint32_t m, WPARAM wp, LPARAM lp) { return current()->post(w, m, wp, lp); };
    link.setTimer = [](HWND, uint32_t id, uint32_t ms) { return current()->setTimer(id, ms); };
    link.killTimer = [](HWND, uint32_t id) { return current()->killTimer(id); };
    link.isOwnerThread = [](HWND) { return std::this_thread::get_id() == current()->thread_; };
    previous_ = quorex::setWindowLink(link);
  }
  ~TestOwner() {
    quorex::setWindowLink(previous_);
    current() = nullptr;
  }

  HWND hwnd() const { return reinterpret_cast<HWND>(const_cast<TestOwner*>(this)); }

  // What a delivered message does (the test forwards WM_TIMER to TimerProc).
  std::function<void(const Message&)> onMessage;

  // Delivers queued messages and due timers until done() holds or the time runs out.
  bool pumpUntil(const std::function<bool()>& done, int timeoutMs = testing_support::kPatienceMs) {
    const uint64_t deadline = platform::tickCount64() + static_cast<uint64_t>(timeoutMs);
    for (;;) {
      pumpOnce();
      if (done()) return true;
      if (platform::tickCount64() > deadline) return false;
      platform::sleepMilliseconds(1);
    }
  }
  // Delivers what is queued and the timers that are due now, once.
  void pumpNow() { pumpOnce(); }

  // Messages of an id (and wParam) waiting in the queue now.
  int queued(uint32_t message, WPARAM wParam) {
    std::lock_guard<std::mutex> guard(mutex_);
    int n = 0;
    for (const Message& m : queue_)
      if (m.message == message && m.wParam == wParam) ++n;
    return n;
  }
  // Messages delivered so far with that id and wParam.
  int delivered(uint32_t message, WPARAM wParam) {
    int n = 0;
    for (const Message& m : delivered_)
      if (m.message == message && m.wParam == wParam) ++n;
    return n;
  }
  const std::vector<Message>& deliveredMessages() const { return delivered_; }
  size_t runningTimers() const { return timers_.size(); }
  // Running timers with ids from first to last.
  size_t runningTimers(uint32_t first, uint32_t last) const {
    size_t n = 0;
    for (const auto& [id, t] : timers_)
      if (id >= first && id <= last) ++n;
    return n;
  }

 private:
  struct Timer {
    uint32_t periodMs;
    uint64_t due;
  };
  static TestOwner*& current() {
    static TestOwner* owner = nullptr;
    return owner;
  }
  bool peek(uint32_t message, WPARAM* wParam) {
    std::lock_guard<std::mutex> guard(mutex_);
    for (const Message& m : queue_) {
      if (m.message == message) {
        *wParam = m.wParam;
        return true;
      }
    }
    return false;
  }
  bool post(HWND w, uint32_t message, WPARAM wParam, LPARAM lParam) {
    if (w != hwnd() || !alive_) return false;
    std::lock_guard<std::mutex> guard(mutex_);
    queue_.push_back({message, wParam, lParam});
    return true;
  }
  // Timers live on the owner's thread only, as window timers do.
  bool setTimer(uint32_t id, uint32_t ms) {
    if (std::this_thread::get_id() != thread_) std::abort();
    timers_[id] = {ms, platform::tickCount64() + ms};
    return true;
  }
  bool killTimer(uint32_t id) {
    if (std::this_thread::get_id() != thread_) std::abort();
    return timers_.erase(id) > 0;
  }
  void deliver(const Message& m) {
    delivered_.push_back(m);
    if (onMessage) onMessage(m);
  }
  void pumpOnce() {
    for (;;) {
      Message m;
      {
        std::lock_guard<std::mutex> guard(mutex_);
        if (queue_.empty()) break;
        m = queue_.front();
        queue_.pop_front();
      }
      deliver(m);
    }
    const uint64_t now = platform::tickCount64();
    std::vector<uint32_t> due;
    for (auto& [id, t] : timers_)
      if (t.due <= now) due.push_back(id);
    for (uint32_t id : due) {
      auto it = timers_.find(id);
      if (it == timers_.end()) continue;
      it->second.due = now + it->second.periodMs;
      deliver({quorex::kTimerMessage, id, 0});
    }
  }

  std::thread::id thread_;
  bool alive_ = true;
  std::mutex mutex_;
  std::deque<Message> queue_;
  std::vector<Message> delivered_;
  std::map<uint32_t, Timer> timers_;
  quorex::WindowLink previous_;
};
