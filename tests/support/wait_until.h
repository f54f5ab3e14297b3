// Waiting in tests: on a condition, never for a fixed time. The time-out is
// only there so that a broken test ends; a passing test never gets near it,
// however loaded the machine.
#pragma once

#include <cstdint>
#include <functional>

// Not <chrono>: tests compiled for code page 932 cannot include it.
#include "platform/base/clock.h"

namespace testing_support {

// Long enough for a machine busy with other builds and tests.
constexpr int kPatienceMs = 30000;

// Polls done() until it holds (true) or the time-out runs out (false).
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = kPatienceMs) {
  const uint64_t deadline = platform::tickCount64() + static_cast<uint64_t>(timeoutMs);
  for (;;) {
    if (done()) return true;
    if (platform::tickCount64() > deadline) return false;
    platform::sleepMilliseconds(1);
  }
}

}  // namespace testing_support
