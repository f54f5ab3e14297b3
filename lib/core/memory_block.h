// The inside of a memory block, for the block's own code and its tests.
#pragma once

#include <cstdint>

#include "zemta/memory.h"

namespace zemta {
// A growable block holds at most this many chunks.
constexpr uint32_t kMemoryMaxChunks = 4096;
}  // namespace zemta

struct MemoryBlock {
  int32_t growable;     // 1: the block owns its chunks; 0: fixed over the caller's buffer
  uint32_t chunkSize;   // fixed mode: the length of the caller's buffer
  uint32_t chunkCount;  // chunks allocated (fixed mode: 1)
  uint8_t* chunks[zemta::kMemoryMaxChunks];  // fixed mode: entry 0 is the caller's buffer
  uint32_t length;      // bytes held (growable mode; stays 0 in fixed mode)
  uint32_t position;    // the current byte position
};
