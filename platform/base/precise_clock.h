// A monotonic clock finer than the tick count, for timing short operations.
#pragma once

#include <cstdint>

namespace platform {

// Nanoseconds since an arbitrary start; never goes back.
uint64_t monotonicNanoseconds();

}  // namespace platform
