// The register's "SA" device for tests, on a pseudo-terminal: it answers
// every frame of the register in the binary framing (its sequence byte
// echoed), records what it was sent, and reports key presses as the answer
// to the register's next poll (or to the poll waiting for one).
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "peers/scripted_serial_device.h"

namespace testing_support {

class SaDevicePeer {
 public:
  explicit SaDevicePeer(const std::string& folder);
  const std::string& path() const { return device_.path(); }

  // A key report of these key bytes (0x01-0x72 keys, 0xC0-0xC6 mode key,
  // 0x00 digits... 0xFF) goes out as the answer to a poll.
  void pressKeys(const std::string& keyBytes);
  // An "=" report (the device asks for the sale's end).
  void reportEquals();
  // The frames the register sent, without sequence, length and check bytes
  // (STX, command, 00 00 00, data), in order.
  std::vector<std::string> frames() const;
  size_t pollCount() const;
  // Waits until a frame satisfying the test has arrived.
  bool waitForFrame(const std::string& frame, int timeoutMs) const;

  static std::string reply(uint8_t message, uint8_t sequence, const std::string& data);

 private:
  std::string onBurst(const std::string& burst);
  void sendQueued();

  ScriptedSerialDevice device_;
  mutable std::mutex mutex_;
  std::string pending_;
  std::vector<std::string> frames_;
  std::deque<std::string> reports_;  // (message byte + data) waiting for a poll
  bool owed_ = false;
  uint8_t owedSequence_ = 0;
  size_t polls_ = 0;
};

}  // namespace testing_support
