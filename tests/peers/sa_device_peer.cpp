#include "peers/sa_device_peer.h"

#include <chrono>
#include <thread>

#include "support/wait_until.h"

namespace testing_support {

SaDevicePeer::SaDevicePeer(const std::string& folder) : device_(folder) {
  device_.setResponder([this](const std::string& burst) { return onBurst(burst); });
}

std::string SaDevicePeer::reply(uint8_t message, uint8_t sequence, const std::string& data) {
  std::string f{0x02, static_cast<char>(message), static_cast<char>(sequence), static_cast<char>(data.size() + 1)};
  f += data;
  uint8_t lrc = 0;
  for (size_t i = 1; i < f.size(); ++i) lrc ^= static_cast<uint8_t>(f[i]);
  return f + static_cast<char>(lrc);
}

std::string SaDevicePeer::onBurst(const std::string& burst) {
  std::lock_guard<std::mutex> guard(mutex_);
  pending_ += burst;
  std::string answer;
  // A frame: 02, command, sequence, length (bytes after it, check included), ..., check.
  while (pending_.size() >= 4) {
    if (pending_[0] != 0x02) {
      pending_.erase(0, 1);
      continue;
    }
    const size_t total = static_cast<uint8_t>(pending_[3]) + 4u;
    if (pending_.size() < total) break;
    const std::string frame = pending_.substr(0, total);
    pending_.erase(0, total);
    const uint8_t command = static_cast<uint8_t>(frame[1]), sequence = static_cast<uint8_t>(frame[2]);
    std::string plain = frame.substr(0, total - 1);
    plain[2] = plain[3] = 0;
    frames_.push_back(plain);
    if (command != 0x80) {
      answer += reply(0x06, sequence, std::string(1, '\x30'));
      continue;
    }
    ++polls_;
    if (!reports_.empty()) {
      const std::string r = reports_.front();
      reports_.pop_front();
      answer += reply(static_cast<uint8_t>(r[0]), sequence, r.substr(1));
    } else {
      owed_ = true;
      owedSequence_ = sequence;
    }
  }
  return answer;
}

void SaDevicePeer::sendQueued() {
  std::string out;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!owed_ || reports_.empty()) return;
    const std::string r = reports_.front();
    reports_.pop_front();
    owed_ = false;
    out = reply(static_cast<uint8_t>(r[0]), owedSequence_, r.substr(1));
  }
  device_.send(out);
}

void SaDevicePeer::pressKeys(const std::string& keyBytes) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    // Byte 4 of the frame is the device's status; the keys follow it.
    reports_.push_back(std::string(1, '\x80') + '\x30' + keyBytes);
  }
  sendQueued();
}

void SaDevicePeer::reportEquals() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    reports_.push_back(std::string("=") + '\x30');
  }
  sendQueued();
}

std::vector<std::string> SaDevicePeer::frames() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return frames_;
}

size_t SaDevicePeer::pollCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return polls_;
}

bool SaDevicePeer::waitForFrame(const std::string& frame, int timeoutMs) const {
  return waitUntil(
      [&] {
        for (const std::string& f : frames())
          if (f == frame) return true;
        return false;
      },
      timeoutMs);
}

}  // namespace testing_support
