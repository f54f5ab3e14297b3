#include "peers/scripted_serial_device.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <cstdlib>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace testing_support {

std::string makeTestFolder() {
  char pattern[] = "/tmp/quorex-test-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

void removeTestFolder(const std::string& folder) {
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

ScriptedSerialDevice::ScriptedSerialDevice(const std::string& folder) : folder_(folder) {
  linkPath_ = folder_ + "/ttyQX" + std::to_string(reinterpret_cast<uintptr_t>(this) & 0xFFFFFF);
  plugIn();
}

ScriptedSerialDevice::~ScriptedSerialDevice() {
  unplug();
  ::unlink(linkPath_.c_str());
}

void ScriptedSerialDevice::plugIn() {
  unplug();
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
  termios t{};
  tcgetattr(slave, &t);
  cfmakeraw(&t);  // nothing echoes before the code under test sets the line up
  tcsetattr(slave, TCSANOW, &t);
  char name[128] = {};
  if (ttyname_r(slave, name, sizeof name) != 0) throw std::runtime_error("ttyname failed");
  ::unlink(linkPath_.c_str());
  if (::symlink(name, linkPath_.c_str()) != 0) throw std::runtime_error("symlink failed");
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  master_ = master;
  slave_ = slave;  // kept open, so the master never reads EIO while the code closes and opens
  start();
}

void ScriptedSerialDevice::unplug() {
  stop();
  // The link goes with the device: the freed terminal number may soon belong
  // to someone else's pair.
  ::unlink(linkPath_.c_str());
  if (master_ >= 0) ::close(master_);
  if (slave_ >= 0) ::close(slave_);
  master_ = slave_ = -1;
}

void ScriptedSerialDevice::start() {
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
}

void ScriptedSerialDevice::stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
}

void ScriptedSerialDevice::onReceive(const std::string& expected, const std::string& reply, uint32_t delayMs) {
  std::lock_guard<std::mutex> guard(mutex_);
  rules_.push_back({expected, reply, delayMs});
}

void ScriptedSerialDevice::send(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return;
    } else {
      // The terminal's buffer is full: wait until the code under test has
      // read enough of it to take more.
      pollfd p{master_, POLLOUT, 0};
      ::poll(&p, 1, 1000);
    }
  }
}

std::string ScriptedSerialDevice::received() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return received_;
}

void ScriptedSerialDevice::clearReceived() {
  std::lock_guard<std::mutex> guard(mutex_);
  received_.clear();
  consumed_ = 0;
}

int ScriptedSerialDevice::countOf(const std::string& pattern) const {
  std::lock_guard<std::mutex> guard(mutex_);
  int count = 0;
  for (size_t at = received_.find(pattern); at != std::string::npos; at = received_.find(pattern, at + pattern.size()))
    ++count;
  return count;
}

bool ScriptedSerialDevice::waitForBytes(size_t count, int timeoutMs) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> lock(mutex_);
  while (received_.size() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    changed_.wait_for(lock, std::chrono::milliseconds(10));
  }
  return true;
}

bool ScriptedSerialDevice::waitFor(const std::string& pattern, int times, int timeoutMs) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (countOf(pattern) < times) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(10));
  }
  return true;
}

void ScriptedSerialDevice::run() {
  char buffer[4096];
  while (!stopping_) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, 10) <= 0) continue;
    ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) continue;
    std::vector<Rule> due;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      received_.append(buffer, static_cast<size_t>(n));
      while (!rules_.empty()) {
        size_t at = received_.find(rules_.front().expected, consumed_);
        if (at == std::string::npos) break;
        consumed_ = at + rules_.front().expected.size();
        due.push_back(rules_.front());
        rules_.pop_front();
      }
    }
    changed_.notify_all();
    for (const Rule& rule : due) {
      if (rule.delayMs) std::this_thread::sleep_for(std::chrono::milliseconds(rule.delayMs));
      send(rule.reply);
    }
    if (responder_) {
      const std::string reply = responder_(std::string(buffer, static_cast<size_t>(n)));
      if (!reply.empty()) send(reply);
    }
  }
}

void ScriptedSerialDevice::setResponder(std::function<std::string(const std::string& burst)> responder) {
  responder_ = std::move(responder);
}

}  // namespace testing_support
