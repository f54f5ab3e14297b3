// Writing a progress block (zemta/fileex.h) that another thread reads
// without a lock: every word is stored atomically, and the step last.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "zemta/fileex.h"

namespace zemta::container {

inline void progressStep(FileExProgress* block, int32_t step) {
  if (block) std::atomic_ref<int32_t>(block->step).store(step, std::memory_order_release);
}
inline void progressValue(FileExProgress* block, int32_t value) {
  if (block) std::atomic_ref<int32_t>(block->value).store(value, std::memory_order_release);
}
inline void progressWords(FileExProgress* block, void* entry, void* detail) {
  if (!block) return;
  std::atomic_ref<void*>(block->entry).store(entry, std::memory_order_release);
  std::atomic_ref<void*>(block->detail).store(detail, std::memory_order_release);
}
inline int32_t readStep(FileExProgress* block) {
  return std::atomic_ref<int32_t>(block->step).load(std::memory_order_acquire);
}
inline int32_t readValue(FileExProgress* block) {
  return std::atomic_ref<int32_t>(block->value).load(std::memory_order_acquire);
}

// What the running step works on, as text ("table (index)"), for a window
// that shows the block: kept beside the block, so that the window never
// touches the entries the worker holds. Cleared with an empty text.
void progressLabel(FileExProgress* block, const std::string& text);
std::string readProgressLabel(FileExProgress* block);

// A step with a percentage: one percent for each hundredth of the total.
class Percent {
 public:
  Percent(FileExProgress* block, int32_t step, uint64_t total) : block_(block), total_(total) {
    progressStep(block, step);
    progressValue(block, 0);
  }
  // Called with the amount done so far.
  void at(uint64_t done) {
    if (!block_ || total_ == 0) return;
    const int32_t percent = static_cast<int32_t>(done >= total_ ? 100 : done * 100 / total_);
    if (percent != shown_) progressValue(block_, shown_ = percent);
  }
  void done() {
    if (block_) progressValue(block_, shown_ = 100);
  }

 private:
  FileExProgress* block_;
  uint64_t total_;
  int32_t shown_ = 0;
};

}  // namespace zemta::container
