// Binary framing as the register's "SA" device uses it (LRC, sequence byte,
// NAK byte, one-byte length), and the other check kinds and length widths.
#include <gtest/gtest.h>

#include "comm/line_fixture.h"

namespace {

class BinaryFramingTest : public LineTest {
 protected:
  // The bytes of a reply from the device: 02, message, sequence, length, data, LRC.
  static std::string saFrame(uint8_t message, uint8_t sequence, const std::string& data) {
    std::string f = bytes({0x02, message, sequence, static_cast<int>(data.size() + 1)}) + data;
    uint8_t lrc = 0;
    for (size_t i = 1; i < f.size(); ++i) lrc ^= static_cast<uint8_t>(f[i]);
    return f + static_cast<char>(lrc);
  }
  // Sends a request and returns its bytes as they reached the device.
  std::string writeRequest(int32_t tag) {
    const size_t before = device_->received().size();
    const std::string request = bytes({0x02, 0x31, 0x00, 0x00, 0x41});
    EXPECT_EQ(serial_->BinWrite(tag, 5, request.data(), 0), 0);
    EXPECT_TRUE(waitDeviceBytes(before + 6));
    return device_->received().substr(before, 6);
  }
};

TEST_F(BinaryFramingTest, RequestGetsItsSequenceLengthAndLrcAndTheReplyItsTag) {
  configureSa();
  open();
  const std::string wire = writeRequest(31);
  ASSERT_EQ(wire.size(), 6u);
  const uint8_t sequence = static_cast<uint8_t>(wire[2]);
  EXPECT_EQ(wire, saFrame(0x31, sequence, "A"));  // length 6 - 4 = 2, LRC of bytes 1 to 4
  EXPECT_EQ(serial_->OutEntry(serial_->OutHead()).timeout, 1000u);
  EXPECT_EQ(serial_->OutEntry(serial_->OutHead()).retryLimit, 8);

  const std::string reply = saFrame(0x06, sequence, "OK");
  device_->send(reply);
  ASSERT_TRUE(waitEntries(1));
  EXPECT_EQ(entries_[0].type, 0x10000u);
  EXPECT_EQ(entries_[0].data, reply);
  EXPECT_EQ(entries_[0].tag, 31);
  EXPECT_EQ(serial_->OutEntry(serial_->OutHead()).answered, 1);
  EXPECT_EQ(serial_->RunningTimers(), 0);

  // The same sequence byte again answers nothing any more.
  device_->send(reply);
  ASSERT_TRUE(waitEntries(2));
  EXPECT_EQ(entries_[1].type, 0x10000u);
  EXPECT_EQ(entries_[1].tag, 0);

  // The next request carries the next sequence value.
  EXPECT_EQ(static_cast<uint8_t>(writeRequest(32)[2]), static_cast<uint8_t>(sequence + 1));
}

TEST_F(BinaryFramingTest, NakReachesTheOwnerAndTheRequestIsSentAgain) {
  configureSa();
  open();
  const std::string wire = writeRequest(7);
  const uint8_t sequence = static_cast<uint8_t>(wire[2]);
  device_->send(saFrame(0x15, sequence, ""));
  ASSERT_TRUE(waitEntries(1));
  EXPECT_EQ(entries_[0].type, 0x10000u);
  EXPECT_EQ(entries_[0].tag, 7);
  EXPECT_EQ(serial_->OutEntry(serial_->OutHead()).answered, 0);
  // Sent again, unchanged, when its time-out runs out.
  ASSERT_TRUE(owner_->pumpUntil([&] { return device_->countOf(wire) == 2; }));
  device_->send(saFrame(0x06, sequence, ""));
  ASSERT_TRUE(waitEntries(2));
  EXPECT_EQ(entries_[1].tag, 7);
  EXPECT_EQ(serial_->OutEntry(serial_->OutHead()).answered, 1);
}

TEST_F(BinaryFramingTest, FrameSplitAcrossReadsIsPutTogether) {
  configureSa();
  serial_->SetReceiveTimeOut(3600000);
  open();
  const std::string frame = saFrame(0x40, 0x33, "XYZ");
  // Each piece is held before the next is sent; the owner does not run its
  // timers meanwhile, so the receive time-out cannot cut the frame.
  device_->send(frame.substr(0, 2));
  ASSERT_TRUE(testing_support::waitUntil([&] { return serial_->receiveCount_ == 2; }));
  device_->send(frame.substr(2, 3));
  ASSERT_TRUE(testing_support::waitUntil([&] { return serial_->receiveCount_ == 5; }));
  device_->send(frame.substr(5));
  ASSERT_TRUE(waitEntries(1));
  EXPECT_EQ(serial_->receiveCount_, 0);
  ASSERT_EQ(entries_.size(), 1u);
  EXPECT_EQ(entries_[0].type, 0x10000u);
  EXPECT_EQ(entries_[0].data, frame);
  EXPECT_EQ(entries_[0].tag, 0);  // no request waited for it
}

TEST_F(BinaryFramingTest, BadCheckAndBadHeaderAreRefused) {
  configureSa();
  open();
  const std::string wire = writeRequest(9);
  std::string bad = saFrame(0x06, static_cast<uint8_t>(wire[2]), "OK");
  bad.back() = static_cast<char>(bad.back() ^ 0x01);
  device_->send(bad);
  ASSERT_TRUE(waitEntries(1));
  EXPECT_EQ(entries_[0].type, 0x14000u);
  EXPECT_EQ(entries_[0].data, bad);
  EXPECT_EQ(entries_[0].tag, 0);
  EXPECT_EQ(serial_->OutEntry(serial_->OutHead()).answered, 0);
  EXPECT_NE(log().find("<LRC Error>"), std::string::npos);

  // Not 0x02 while nothing else is pending: the whole buffer is an error.
  device_->send(bytes({0x03, 0x31, 0x00, 0x02, 0x41, 0x72, 'X', 'Y'}));
  ASSERT_TRUE(waitEntries(2));
  EXPECT_EQ(entries_[1].type, 0x4000u);
  EXPECT_EQ(entries_[1].data.substr(0, 2), "\x03\x31");
  EXPECT_NE(log().find("<Bin Check Error>"), std::string::npos);
}

TEST_F(BinaryFramingTest, BinWriteRefusesWhatItCannotBuildAndQueuesNothing) {
  open();
  const std::string data = bytes({0x02, 0x31, 0x00, 0x00, 0x41});
  struct Case {
    uint32_t mode;
    int32_t seq, len, adjust, start;
    uint16_t length;
  } cases[] = {
      {0, 2, 3, 4, 1, 5},                  // binary framing not set up
      {0x00680200, 2, 3, 4, 1, 5},         // both 16-bit length orders
      {0x00020000, 5, 3, 4, 1, 5},         // sequence byte beyond the data
      {0x00080000, 2, 5, 4, 1, 5},         // length field beyond the data
      {0x00280000, 2, 4, 4, 1, 5},         // 16-bit length with one byte left
      {0x00180000, 2, 3, 40, 1, 5},        // negative length value
      {0x01000200, 2, 3, 4, 5, 5},         // check start beyond the data
      {0x00000400, 2, 3, 4, 1, 5},         // no such check kind
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    serial_->SetBinMode(c.mode, 2, 0xFF, c.seq, 1, c.len, c.adjust, c.start);
    EXPECT_EQ(serial_->BinWrite(1, c.length, data.data(), 0), -1);
    EXPECT_TRUE(queueEmpty());
  }
}

// Each configuration: what BinWrite puts on the wire comes back as a reply
// that pairs with it; one changed byte makes it a check error.
TEST_F(BinaryFramingTest, EveryCheckKindAndLengthWidthRoundTrips) {
  struct Case {
    const char* name;
    uint32_t mode;
    int32_t seq, nak, len, adjust, start;
    uint32_t errorType;
  } cases[] = {
      {"sa lrc", 0x011F0200, 2, 1, 3, 4, 1, 0x14000},
      {"sum, 16-bit low first", 0x002B0100, 1, 0, 2, 0, 0, 0x14000},
      {"crc-16, 16-bit high first", 0x015B0300, 1, 0, 2, 0, 1, 0x14000},
      {"no check: never paired", 0x00090000, 0, 0, 1, 0, 0, 0},
  };
  configureSa();
  open();
  const std::string data = bytes({0x02, 0x00, 0x00, 0x00, 0x41, 0x42});
  int32_t tag = 40;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    serial_->SetBinMode(c.mode, 2, 0xFF, c.seq, c.nak, c.len, c.adjust, c.start);
    entries_.clear();
    device_->clearReceived();
    ++tag;
    ASSERT_EQ(serial_->BinWrite(tag, 6, data.data(), 1), 0);
    const int extra = (c.mode & 0xF00) == 0x300 ? 2 : (c.mode & 0xF00) ? 1 : 0;
    ASSERT_TRUE(waitDeviceBytes(6 + extra));
    const std::string wire = device_->received();
    feed(wire);
    ASSERT_EQ(entries_.size(), 1u);
    EXPECT_EQ(entries_[0].type, 0x10000u);
    EXPECT_EQ(entries_[0].data, wire);
    EXPECT_EQ(entries_[0].tag, c.errorType ? tag : 0);
    if (c.errorType) {
      std::string changed = wire;
      changed[4] = static_cast<char>(changed[4] ^ 0x10);
      feed(changed);
      ASSERT_EQ(entries_.size(), 2u);
      EXPECT_EQ(entries_[1].type, c.errorType);
    }
    serial_->CommCueDelete(tag);
  }
}

}  // namespace
