// The far end of a serial line for tests: a pseudo-terminal pair whose slave
// is the "device" the code under test opens (through a symbolic link, so the
// device keeps its path when it is unplugged and plugged in again), and whose
// master end this helper plays from a script: when these bytes arrive, wait,
// answer those.
//
// Baud rates are not enforced on a pseudo-terminal: bytes arrive at once, so
// time-outs are tested with the script's own delays.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace testing_support {

// A fresh empty folder under the system's temporary folder; removed with its
// contents by removeTestFolder.
std::string makeTestFolder();
void removeTestFolder(const std::string& folder);

class ScriptedSerialDevice {
 public:
  // The link is made in folder (a test's temporary folder).
  explicit ScriptedSerialDevice(const std::string& folder);
  ~ScriptedSerialDevice();
  ScriptedSerialDevice(const ScriptedSerialDevice&) = delete;
  ScriptedSerialDevice& operator=(const ScriptedSerialDevice&) = delete;

  // The path the code under test opens.
  const std::string& path() const { return linkPath_; }

  // When `expected` has arrived (after what earlier rules took), waits
  // delayMs and sends `reply`. Rules are used once each, in order; several
  // may fire on one burst of bytes.
  void onReceive(const std::string& expected, const std::string& reply, uint32_t delayMs = 0);
  // Sends bytes now.
  void send(const std::string& bytes);
  // Called on the device's thread with each burst of bytes as it arrives
  // (after the rules); what it returns is sent at once. For devices whose
  // answers depend on what came (a sequence byte to echo). Set before the
  // code under test writes.
  void setResponder(std::function<std::string(const std::string& burst)> responder);

  // Everything received since the start (or clearReceived).
  std::string received() const;
  void clearReceived();
  // Waits until `pattern` has arrived `times` times in all.
  bool waitFor(const std::string& pattern, int times, int timeoutMs) const;
  int countOf(const std::string& pattern) const;
  // Waits until at least count bytes have arrived in all.
  bool waitForBytes(size_t count, int timeoutMs) const;

  // The device goes away: both ends close and the link is removed.
  void unplug();
  // A fresh pair behind the same link.
  void plugIn();

 private:
  struct Rule {
    std::string expected;
    std::string reply;
    uint32_t delayMs;
  };
  void run();
  void start();
  void stop();

  std::string folder_;
  std::string linkPath_;
  int master_ = -1;
  int slave_ = -1;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::string received_;
  size_t consumed_ = 0;
  std::deque<Rule> rules_;
  std::function<std::string(const std::string&)> responder_;
};

}  // namespace testing_support
