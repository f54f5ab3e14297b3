// Checked handles. Every object family of the library (B-trees, tables,
// projects, views, print jobs, edits, disks) hands its callers a 32-bit handle
// made of the family's check word in the high bits and, in the low bits, a
// slot number and the slot's generation. A handle is looked up, never
// dereferenced: a made-up handle finds nothing, and so does a stale one
// whose slot was freed and given to a new object since (the generation
// moved on), so that a caller holding a closed handle cannot reach another
// caller's object. The caller reports the family's error code.
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
      : checkWord_(checkWord), slotMask_(slotMask), slots_(capacity), generations_(capacity, 0) {
    while ((uint64_t{1} << numberBits_) <= capacity) ++numberBits_;
  }

  // Takes the object and returns its handle; 0 when every slot is in use.
  uint32_t add(std::unique_ptr<T> object) {
    for (size_t i = 0; i < slots_.size(); ++i) {
      if (!slots_[i]) {
        slots_[i] = std::move(object);
        generations_[i] = (generations_[i] + 1) & generationMask();
        return handleOf(i);
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
      if (slots_[i]) visit(handleOf(i), *slots_[i]);
  }

  size_t count() const {
    size_t n = 0;
    for (const auto& slot : slots_) n += slot ? 1 : 0;
    return n;
  }

 private:
  static constexpr size_t kNone = static_cast<size_t>(-1);

  // The low numberBits_ bits hold slot + 1; the bits of the slot mask above
  // them hold the slot's generation.
  uint32_t generationMask() const { return numberBits_ >= 32 ? 0 : slotMask_ >> numberBits_; }

  uint32_t handleOf(size_t slot) const {
    return checkWord_ | (generations_[slot] << numberBits_) | static_cast<uint32_t>(slot + 1);
  }

  size_t slotOf(uint32_t handle) const {
    if ((handle & ~slotMask_) != checkWord_) return kNone;
    uint32_t number = handle & ((uint32_t{1} << numberBits_) - 1);
    if (number == 0 || number > slots_.size() || !slots_[number - 1]) return kNone;
    if (handle != handleOf(number - 1)) return kNone;
    return number - 1;
  }

  uint32_t checkWord_;
  uint32_t slotMask_;
  std::vector<std::unique_ptr<T>> slots_;
  std::vector<uint32_t> generations_;
  uint32_t numberBits_ = 1;
};

}  // namespace zemta
