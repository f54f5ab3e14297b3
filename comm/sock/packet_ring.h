// The packet ring of a socket port: 256 entries, each one received packet
// (what one receive call returned, at most 1535 bytes) with its read offset.
// It holds at most 255 packets. When a packet arrives at a full ring the
// oldest unread one is dropped, so the port keeps receiving and the reader
// learns of the loss from push's result.
//
// The receive thread pushes, the owner's thread reads; a lock keeps the two
// apart (dropping the oldest moves the head from the writer's side).
#pragma once

#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

namespace quorex {

class PacketRing {
 public:
  static constexpr int32_t kEntries = 256;
  static constexpr int32_t kMaxPacket = 1535;

  // Adds a copy of the packet; true when the oldest packet had to be dropped for it.
  bool push(const uint8_t* data, int32_t length) {
    std::lock_guard<std::mutex> guard(lock_);
    bool dropped = false;
    if (static_cast<uint8_t>(tail_ + 1) == head_) {
      entries_[head_].bytes.clear();
      entries_[head_].offset = 0;
      ++head_;
      dropped = true;
    }
    Entry& e = entries_[tail_];
    e.bytes.assign(data, data + length);
    e.offset = 0;
    ++tail_;
    return dropped;
  }

  // Copies at most size bytes of the oldest packet from its read offset; a
  // read never spans two packets. 0 when nothing waits.
  int32_t read(void* buffer, int32_t size) {
    std::lock_guard<std::mutex> guard(lock_);
    if (head_ == tail_ || size <= 0) return 0;
    Entry& e = entries_[head_];
    int32_t left = static_cast<int32_t>(e.bytes.size()) - e.offset;
    int32_t n = left < size ? left : size;
    if (n > 0) std::memcpy(buffer, e.bytes.data() + e.offset, static_cast<size_t>(n));
    e.offset += n;
    if (e.offset >= static_cast<int32_t>(e.bytes.size())) {
      e.bytes.clear();
      e.bytes.shrink_to_fit();
      e.offset = 0;
      ++head_;
    }
    return n;
  }

  // The unread bytes of the oldest packet.
  int32_t frontUnread() {
    std::lock_guard<std::mutex> guard(lock_);
    if (head_ == tail_) return 0;
    return static_cast<int32_t>(entries_[head_].bytes.size()) - entries_[head_].offset;
  }

  int32_t count() {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<uint8_t>(tail_ - head_);
  }

  void clear() {
    std::lock_guard<std::mutex> guard(lock_);
    for (Entry& e : entries_) {
      e.bytes = std::vector<uint8_t>();
      e.offset = 0;
    }
    head_ = tail_ = 0;
  }

 private:
  struct Entry {
    std::vector<uint8_t> bytes;
    int32_t offset = 0;
  };
  std::mutex lock_;
  Entry entries_[kEntries];
  uint8_t head_ = 0;
  uint8_t tail_ = 0;
};

}  // namespace quorex
