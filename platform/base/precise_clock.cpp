#include "platform/base/precise_clock.h"

#include <chrono>

namespace platform {

uint64_t monotonicNanoseconds() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

}  // namespace platform
