// The protocol engine and its queues over a real pseudo-terminal with a
// scripted device, its owner window played by TestOwner.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "comm/test_owner.h"
#include "peers/scripted_serial_device.h"
#include "platform/base/clock.h"
#include "platform/base/sync.h"
#include "quorex/serial.h"
#include "support/wait_until.h"

using testing_support::ScriptedSerialDevice;

namespace {

struct Received {
  uint32_t type = 0;
  std::string data;
  int32_t tag = 0;
};

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = testing_support::makeTestFolder();
    device_ = std::make_unique<ScriptedSerialDevice>(folder_);
    owner_ = std::make_unique<TestOwner>();
    serial_ = std::make_unique<CSerial>();
    serial_->GetCommCtrl().SetSettings((device_->path() + ",9600,8,N,1,None").c_str());
    // The owner forwards its timers to the engine and reads on every notice.
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
  void readAll() {
    char buffer[4096];
    for (;;) {
      Received r;
      int32_t n = serial_->CommRead(&r.type, buffer, sizeof buffer, nullptr, &r.tag, nullptr);
      if (n < 0 || (n == 0 && r.tag == 0 && r.type == 0)) return;
      r.data.assign(buffer, static_cast<size_t>(n));
      received_.push_back(r);
      if (n == 0 && r.tag == 0) return;
    }
  }
  std::string folder_;
  std::unique_ptr<ScriptedSerialDevice> device_;
  std::unique_ptr<TestOwner> owner_;
  std::unique_ptr<CSerial> serial_;
  std::vector<Received> received_;
};

}  // namespace

TEST(SerialConfiguration, SettersClampAndTimerIdsFollowTheMessageId) {
  CSerial serial;
  EXPECT_EQ(serial.GetTimerIdBase(), 0xE000u);
  serial.SetMsgIDEvent(0x0E02);
  EXPECT_EQ(serial.GetTimerIdBase(), 0xFD80A000u);
  serial.SetMsgIDEvent(0x0E01);
  EXPECT_EQ(serial.GetTimerIdBase(), 0xFD80C000u);

  serial.SetRetry(-3);
  EXPECT_EQ(serial.GetRetry(), 0);
  serial.SetMaxTimer(0);
  EXPECT_EQ(serial.GetMaxTimer(), 1);
  serial.SetReceiveTimeOut(0);
  EXPECT_EQ(serial.GetReceiveTimeOut(), 1u);

  EXPECT_EQ(serial.SetHostAddress(0xFFFF), 0xFFFE);
  EXPECT_EQ(serial.SetHostAddress(0x1F00), 0xFFFE);
  EXPECT_EQ(serial.SetHostAddress(0x2001), 0xFFFE);
  EXPECT_EQ(serial.SetHostAddress(0x3000), 0x2001);
  serial.SetHostID(7, 3);
  EXPECT_EQ(serial.SetPLinkID(9), 0u);
  EXPECT_EQ(serial.GetHostID(), 0u);
  EXPECT_EQ(serial.SetN143Delay(4), 0);
  EXPECT_EQ(serial.SetN143Delay(5), 4);
}

TEST(SerialConfiguration, ClosedObjectRefusesWork) {
  CSerial serial;
  char buffer[8];
  EXPECT_EQ(serial.CommOpen(nullptr), 0);
  EXPECT_EQ(serial.CommWrite(0, 1, "A"), -1);
  EXPECT_EQ(serial.CommRead(nullptr, buffer, 8, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(serial.TimerProc(0xE000), 0);
}

TEST(SerialBuffers, FreeAndMemcpyOnlyTouchTheirOwnBuffers) {
  uint8_t* buffer = CSerial::Alloc(4);
  ASSERT_NE(buffer, nullptr);
  EXPECT_TRUE(CSerial::Memcpy(buffer, "abcd", 4));
  EXPECT_FALSE(CSerial::Memcpy(buffer, "abcde", 5));  // beyond its room
  EXPECT_FALSE(CSerial::Memcpy(buffer, nullptr, 4));
  uint8_t foreign[32] = {};
  EXPECT_FALSE(CSerial::Memcpy(foreign + 16, "ab", 2));
  CSerial::Free(foreign + 16);  // ignored
  CSerial::Free(buffer);
}

TEST_F(SerialTest, FramesGoOutAndTheOwnerHearsOnceThatTheQueueIsEmpty) {
  ASSERT_EQ(serial_->CommOpen(owner_->hwnd()), 1);
  EXPECT_EQ(serial_->CommWrite(0, 0, "X"), 0);              // nothing to queue
  EXPECT_EQ(serial_->CommWrite(0, 1, "X", 3, 0), -1);       // a retry needs a time-out
  EXPECT_EQ(serial_->CommWrite(0, 1, nullptr), -1);
  for (const char* frame : {"one;", "two;", "three;"}) EXPECT_EQ(serial_->CommWrite(0, 4, frame), 0);
  EXPECT_TRUE(device_->waitFor("one;two;thre", 1, testing_support::kPatienceMs));
  EXPECT_EQ(serial_->OutHead(), serial_->OutTail());
  // Every notice was posted before the owner looks: one pump delivers them all.
  EXPECT_TRUE(owner_->pumpUntil([&] { return owner_->delivered(0x0E00, 4) > 0; }));
  EXPECT_EQ(owner_->delivered(0x0E00, 4), 1);
  EXPECT_EQ(serial_->CommCueRetry(1234), -1);
}

TEST_F(SerialTest, UnansweredFrameIsSentRetryPlusOneTimesThenReportedWithItsTag) {
  ASSERT_EQ(serial_->CommOpen(owner_->hwnd()), 1);
  ASSERT_EQ(serial_->CommWrite(0x00010000, 3, "REQ", 2, 40, 77), 0);
  EXPECT_TRUE(owner_->pumpUntil([&] { return !received_.empty(); }));
  EXPECT_TRUE(device_->waitFor("REQ", 3, testing_support::kPatienceMs));
  EXPECT_EQ(device_->countOf("REQ"), 3);
  ASSERT_EQ(received_.size(), 1u);
  EXPECT_EQ(received_[0].type, 0x8000u);
  EXPECT_EQ(received_[0].tag, 77);
  EXPECT_TRUE(received_[0].data.empty());
  EXPECT_EQ(serial_->OutHead(), serial_->OutTail());
  EXPECT_EQ(serial_->RunningTimers(), 0);
  // Every reply timer (one per output entry, base OR index) was stopped.
  const uint32_t base = serial_->GetTimerIdBase();
  EXPECT_EQ(owner_->runningTimers(base, base + CSerial::kOutQueueSize - 1), 0u);
}

TEST_F(SerialTest, AFullOutputQueueRefusesTheNextFrameAndKeepsTheRest) {
  ASSERT_EQ(serial_->CommOpen(owner_->hwnd()), 1);
  serial_->SetMaxTimer(1);
  // The first frame waits for its reply and holds the others back.
  ASSERT_EQ(serial_->CommWrite(0x00010000, 1, "A", 1, 60000, 1), 0);
  for (int32_t tag = 2; tag <= CSerial::kOutQueueSize - 1; ++tag)
    ASSERT_EQ(serial_->CommWrite(0x00010000, 1, "B", 1, 60000, tag), 0) << tag;
  EXPECT_EQ(serial_->CommWrite(0x00010000, 1, "C", 1, 60000, 9999), -1);
  int32_t tag = 1;
  for (int32_t i = serial_->OutHead(); i != serial_->OutTail(); i = (i + 1) & 0xFFF, ++tag) {
    ASSERT_NE(serial_->OutEntry(i).data, nullptr);
    ASSERT_EQ(serial_->OutEntry(i).tag, tag);
  }
  EXPECT_EQ(tag, CSerial::kOutQueueSize);
  EXPECT_EQ(device_->received(), "A");
  // Cancelling makes room again.
  EXPECT_EQ(serial_->CommCueDelete(1), 0);  // the oldest: the ring moves on
  EXPECT_EQ(serial_->CommWrite(0x00010000, 1, "C", 1, 60000, 9999), 0);
}

TEST_F(SerialTest, LongEntriesAreReadInPiecesAndAFullInputQueueDropsTheNext) {
  ASSERT_EQ(serial_->CommOpen(owner_->hwnd()), 1);
  const std::string frame = "0123456789abcdefghijKLMNO";
  ASSERT_EQ(serial_->InQueWrite(0x10000, 25, frame.data(), 0, 5), 0);
  ASSERT_EQ(serial_->InQueWrite(0x10000, 3, "xyz", 0, 6), 0);
  char buffer[10];
  uint32_t type = 0;
  int32_t tag = 0;
  std::string got;
  for (int expected : {10, 10, 5}) {
    int32_t n = serial_->CommRead(&type, buffer, 10, nullptr, &tag, nullptr);
    ASSERT_EQ(n, expected);
    EXPECT_EQ(tag, 5);
    got.append(buffer, static_cast<size_t>(n));
  }
  EXPECT_EQ(got, frame);
  EXPECT_EQ(serial_->CommRead(&type, buffer, 10, nullptr, &tag, nullptr), 3);
  EXPECT_EQ(tag, 6);
  EXPECT_EQ(serial_->CommRead(&type, buffer, 10, nullptr, &tag, nullptr), 0);
  EXPECT_EQ(tag, 0);

  for (int i = 0; i < CSerial::kInQueueSize - 1; ++i) ASSERT_EQ(serial_->InQueWrite(0, 1, "q", 0, i + 1), 0);
  EXPECT_EQ(serial_->InQueWrite(0, 1, "q", 0, 999), -1);
  EXPECT_EQ(owner_->queued(0x0E00, 1), 1);  // one notice for the whole burst
  EXPECT_EQ(serial_->CommRead(&type, buffer, 10, nullptr, &tag, nullptr), 1);
  EXPECT_EQ(tag, 1);
}

TEST_F(SerialTest, UnframedBytesReachTheOwnerAfterTheReceiveTimeOut) {
  ASSERT_EQ(serial_->CommOpen(owner_->hwnd()), 1);
  device_->send("HEL");
  device_->send("LO");
  EXPECT_TRUE(owner_->pumpUntil([&] { return !received_.empty(); }));
  ASSERT_EQ(received_.size(), 1u);
  EXPECT_EQ(received_[0].type, 0x8000u);
  EXPECT_EQ(received_[0].data, "HELLO");
}

TEST_F(SerialTest, APortThatWentAwayIsOpenedAgainByTheTimer) {
  ASSERT_EQ(serial_->CommOpen(owner_->hwnd()), 1);
  device_->unplug();
  EXPECT_TRUE(testing_support::waitUntil([&] { return serial_->CommIsValid() == 0; }));
  // Still gone: nothing to open yet, the next timer tries again.
  EXPECT_EQ(serial_->TimerProc(0x12345), 0);
  device_->plugIn();
  EXPECT_EQ(serial_->TimerProc(0x12345), 0);  // reopened; the id itself is not ours
  EXPECT_EQ(serial_->CommIsValid(), 1);
  EXPECT_TRUE(owner_->pumpUntil([&] { return owner_->delivered(0x0E00, 0x800) > 0; }));
  EXPECT_EQ(owner_->delivered(0x0E00, 0x800), 1);
  EXPECT_EQ(serial_->CommWrite(0, 5, "again"), 0);
  EXPECT_TRUE(device_->waitFor("again", 1, testing_support::kPatienceMs));
}

namespace {
// The engine with its receive lock in the test's hand, as the event thread
// holds it in its receive step.
class ReceiveLockSerial : public CSerial {
 public:
  platform::Event& ReceiveLock() { return *receiveLock_; }
};
}  // namespace

// The timer opens a lost port again while the receive step holds its lock:
// the close waits for the lost port's event thread, which may be waiting for
// that lock, so the reopen must not wait for it too.
TEST(SerialReopen, ALostPortIsOpenedAgainWhileTheReceiveLockIsHeld) {
  const std::string folder = testing_support::makeTestFolder();
  {
    ScriptedSerialDevice device(folder);
    TestOwner owner;
    ReceiveLockSerial serial;
    serial.GetCommCtrl().SetSettings((device.path() + ",9600,8,N,1,None").c_str());
    ASSERT_EQ(serial.CommOpen(owner.hwnd()), 1);
    device.unplug();
    ASSERT_TRUE(testing_support::waitUntil([&] { return serial.CommIsValid() == 0; }));
    device.plugIn();

    serial.ReceiveLock().wait();
    std::thread timer([&] { serial.TimerProc(0x12345); });
    EXPECT_TRUE(testing_support::waitUntil([&] { return owner.queued(0x0E00, 0x800) == 1; }));
    serial.ReceiveLock().set();
    timer.join();
    EXPECT_EQ(serial.CommIsValid(), 1);
    EXPECT_EQ(serial.CommWrite(0, 5, "again"), 0);
    EXPECT_TRUE(device.waitFor("again", 1, testing_support::kPatienceMs));
    serial.CommClose();
  }
  testing_support::removeTestFolder(folder);
}

TEST_F(SerialTest, CloseEmptiesBothQueuesAndStopsTheTimers) {
  ASSERT_EQ(serial_->CommOpen(owner_->hwnd()), 1);
  ASSERT_EQ(serial_->CommWrite(0x00010000, 1, "A", 5, 60000, 1), 0);
  ASSERT_EQ(serial_->InQueWrite(0, 1, "q", 0, 1), 0);
  EXPECT_EQ(owner_->runningTimers(), 1u);
  serial_->CommClose();
  serial_->CommClose();
  EXPECT_EQ(serial_->OutHead(), serial_->OutTail());
  EXPECT_EQ(owner_->runningTimers(), 0u);
  EXPECT_EQ(serial_->CommIsOpen(), 0);
}
