// Checked handles. Every object family of the library (B-trees, tables,
// projects, views, print jobs, edits, disks) hands its callers a 32-bit handle
// made of the family's check word in the high bits and a slot number in the
// low bits. A handle is looked up, never dereferenced: a stale or made-up
// handle finds nothing, and the caller reports the family's error code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zemta {

template <typename T>
class HandleTable {
 public:
  // checkWord: the family's high bits (for example 0x25340000); slotMask: the
  // low bits that number the slots; capacity: how many objects may be live.
  HandleTable(uint32_t checkWord, uint32_t slotMask, size_t capacity)
      : checkWord_(checkWord), slotMask_(slotMask), slots_(capacity) {}

  // Takes the object and returns its handle; 0 when every slot is in use.
  uint32_t add(std::unique_ptr<T> object) {
    for (size_t i = 0; i < slots_.size(); ++i) {
      if (!slots_[i]) {
        slots_[i] = std::move(object);
        return checkWord_ | static_cast<uint32_t>(i + 1);
      }
    }
    return 0;
  }

  T* find(uint32_t handle) const {
    size_t slot = slotOf(handle);
    return slot == kNone ? nullptr : slots_[slot].get();
  }

  // Gives the object back to the caller and frees the slot.
  std::unique_ptr<T> remove(uint32_t handle) {
    size_t slot = slotOf(handle);
    return slot == kNone ? nullptr : std::move(slots_[slot]);
  }

  template <typename F>
  void forEach(F&& visit) const {
    for (size_t i = 0; i < slots_.size(); ++i)
      if (slots_[i]) visit(checkWord_ | static_cast<uint32_t>(i + 1), *slots_[i]);
  }

  size_t count() const {
    size_t n = 0;
    for (const auto& slot : slots_) n += slot ? 1 : 0;
    return n;
  }

 private:
  static constexpr size_t kNone = static_cast<size_t>(-1);

  size_t slotOf(uint32_t handle) const {
    if ((handle & ~slotMask_) != checkWord_) return kNone;
    uint32_t number = handle & slotMask_;
    if (number == 0 || number > slots_.size() || !slots_[number - 1]) return kNone;
    return number - 1;
  }

  uint32_t checkWord_;
  uint32_t slotMask_;
  std::vector<std::unique_ptr<T>> slots_;
};

}  // namespace zemta
