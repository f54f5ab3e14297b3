// A CSerial on a real pseudo-terminal with a scripted device on the far end
// and TestOwner as its owner window; what the owner reads is collected.
// SerialProbe opens the receive buffer to the tests that fill it by hand.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "comm/test_owner.h"
#include "peers/scripted_serial_device.h"
#include "support/wait_until.h"
#include "quorex/serial.h"

class SerialProbe : public CSerial {
 public:
  using CSerial::receiveBuffer_;
  using CSerial::receiveCount_;
  using CSerial::receiveTimerId_;
  using CSerial::n143Pending_;
  using CSerial::n143TimerId_;
};

struct Entry {
  uint32_t type = 0;
  std::string data;
  int32_t tag = 0;
  uint32_t status = 0;
};

inline std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

class LineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = testing_support::makeTestFolder();
    device_ = std::make_unique<testing_support::ScriptedSerialDevice>(folder_);
    owner_ = std::make_unique<TestOwner>();
    serial_ = std::make_unique<SerialProbe>();
    serial_->GetCommCtrl().SetSettings((device_->path() + ",9600,8,N,1,None").c_str());
    serial_->GetCommCtrl().SetLogFileName(folder_ + "/LOG.TXT");
    serial_->GetCommCtrl().SetCommLogging(1);
    serial_->GetCommCtrl().SetLogDirStr(0);
    owner_->onMessage = [this](const TestOwner::Message& m) {
      if (m.message == quorex::kTimerMessage) serial_->TimerProc(static_cast<uint32_t>(m.wParam));
      if (m.message == serial_->GetMsgIDEvent() && m.wParam == 1) readAll();
    };
  }
  void TearDown() override {
    serial_.reset();
    owner_.reset();
    device_.reset();
    testing_support::removeTestFolder(folder_);
  }
  void open() { ASSERT_EQ(serial_->CommOpen(owner_->hwnd()), 1); }
  // The register's "SA" device.
  void configureSa() {
    serial_->SetDefaultMode(0x40000);
    serial_->SetBinMode(0x011F0200, 2, 0xFF, 2, 1, 3, 4, 1);
    serial_->SetRetry(8);
    serial_->SetDefaultTimeOut(1000);
  }
  void readAll() {
    char buffer[4096];
    for (;;) {
      Entry e;
      int32_t n = serial_->CommRead(&e.type, buffer, sizeof buffer, &e.status, &e.tag, nullptr);
      if (n < 0) return;
      if (n == 0 && e.type == 0 && e.tag == 0 && e.status == 0) {
        // Empty queue (an entry without data always has a type or a tag here).
        return;
      }
      e.data.assign(buffer, static_cast<size_t>(n));
      entries_.push_back(e);
    }
  }
  bool waitEntries(size_t n, int timeoutMs = testing_support::kPatienceMs) {
    return owner_->pumpUntil([&] { return entries_.size() >= n; }, timeoutMs);
  }
  // Pumps the owner (its timers may hold a frame back) until the device has
  // received count bytes in all.
  bool waitDeviceBytes(size_t count, int timeoutMs = testing_support::kPatienceMs) {
    return owner_->pumpUntil([&] { return device_->received().size() >= count; }, timeoutMs);
  }
  // Runs the pipeline on bytes as the port would, then reads what it queued.
  void feed(const std::string& data, uint32_t status = 0) {
    serial_->ReceiveBytes(data.data(), static_cast<int32_t>(data.size()), status);
    readAll();
  }
  std::string log() const {
    std::ifstream in(folder_ + "/LOG.TXT", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool queueEmpty() const { return serial_->OutHead() == serial_->OutTail(); }

  std::string folder_;
  std::unique_ptr<testing_support::ScriptedSerialDevice> device_;
  std::unique_ptr<TestOwner> owner_;
  std::unique_ptr<SerialProbe> serial_;
  std::vector<Entry> entries_;
};
