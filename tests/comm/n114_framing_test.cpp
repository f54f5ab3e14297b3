// N114 framing over a pseudo-terminal with a scripted station on the far
// end: check bytes, the commands' lengths, ACK and NAK, and pairing.
#include <gtest/gtest.h>

#include "comm/line_fixture.h"

namespace {

constexpr uint16_t kHost = 0x2001;
constexpr uint16_t kStation = 0x2005;

class N114Test : public LineTest {
 protected:
  void openN114() {
    serial_->SetHostAddress(kHost);
    serial_->SetN114Mode(0x01000000);  // on, no HDLC
    open();
  }
  // A frame as a station sends it: header, data, S and R.
  static std::string frame(uint16_t to, uint16_t from, uint8_t number, uint8_t command, uint16_t lengthField,
                           const std::string& data = "") {
    uint8_t b[64] = {static_cast<uint8_t>(to >> 8), static_cast<uint8_t>(to), static_cast<uint8_t>(from >> 8),
                     static_cast<uint8_t>(from), number, command, static_cast<uint8_t>(lengthField >> 8),
                     static_cast<uint8_t>(lengthField)};
    std::memcpy(b + 8, data.data(), data.size());
    int32_t n = static_cast<int32_t>(8 + data.size());
    CSerial::MakeCheck(b, &n);
    return std::string(reinterpret_cast<char*>(b), static_cast<size_t>(n));
  }
  static std::string ack(uint16_t to, uint16_t from, uint8_t number) {
    return bytes({to >> 8, to & 0xFF, from >> 8, from & 0xFF, number, 0x06});
  }
  static std::string nak(uint16_t to, uint16_t from, uint8_t number, uint8_t code) {
    return bytes({to >> 8, to & 0xFF, from >> 8, from & 0xFF, number, 0x15, code});
  }
};

TEST(N114CheckBytes, SumAndRotate) {
  uint8_t b[4] = {0x01};
  int32_t n = 1;
  CSerial::MakeCheck(b, &n);
  ASSERT_EQ(n, 3);
  EXPECT_EQ(b[1], 0xFF);
  EXPECT_EQ(b[2], 0x41);
  EXPECT_EQ(CSerial::CalCheck(b, 3), 1);
  b[2] = 0x42;
  EXPECT_EQ(CSerial::CalCheck(b, 3), 0);
  EXPECT_EQ(CSerial::CalCheck(b, 2), 0);
}

TEST_F(N114Test, A_FrameToTheHostIsTakenAndAcknowledged) {
  openN114();
  device_->send(frame(kHost, kStation, 7, 0xA8, 0));
  ASSERT_TRUE(waitEntries(1));
  EXPECT_EQ(entries_[0].type, 0x10150000u);
  EXPECT_EQ(entries_[0].data.size(), 10u);
  ASSERT_TRUE(waitDeviceBytes(6));
  EXPECT_EQ(device_->received(), ack(kStation, kHost, 7));
}

TEST_F(N114Test, A_FrameToAnotherStationIsTakenWithoutAnswer) {
  openN114();
  device_->send(frame(0x2002, kStation, 8, 0xA8, 0));
  ASSERT_TRUE(waitEntries(1));
  EXPECT_EQ(entries_[0].type, 0x10150000u);
  // The next frame to the host is answered: only its ACK reaches the station.
  device_->send(frame(kHost, kStation, 9, 0xA8, 2, "xy"));
  ASSERT_TRUE(waitEntries(2));
  ASSERT_TRUE(waitDeviceBytes(6));
  EXPECT_EQ(device_->received(), ack(kStation, kHost, 9));
}

TEST_F(N114Test, WrongLengthGetsNak5AndBadRotateByteNak4) {
  openN114();
  device_->send(frame(kHost, kStation, 3, 0xA8, 5, "abcde"));
  ASSERT_TRUE(waitDeviceBytes(7));
  EXPECT_EQ(device_->received(), nak(kStation, kHost, 3, 5));
  ASSERT_TRUE(waitEntries(1));
  EXPECT_EQ(entries_[0].type, 0x10004000u);
  device_->clearReceived();
  entries_.clear();

  std::string bad = frame(kHost, kStation, 4, 0xA9, 0);
  bad.back() = static_cast<char>(bad.back() ^ 0x01);
  device_->send(bad);
  ASSERT_TRUE(waitEntries(1));
  EXPECT_EQ(entries_[0].type, 0x10154000u);
  ASSERT_TRUE(waitDeviceBytes(7));
  EXPECT_EQ(device_->received(), nak(kStation, kHost, 4, 4));
}

TEST_F(N114Test, RequestIsPairedWithItsAckAndAnL2AnswerWithoutRequestGetsNak5) {
  openN114();
  ASSERT_EQ(serial_->N114L1Write(kStation, 0xFFFF, 0xA8, 41, 0, nullptr), 0);
  ASSERT_TRUE(waitDeviceBytes(10));
  const std::string sent = device_->received();
  EXPECT_TRUE(CSerial::CalCheck(reinterpret_cast<const uint8_t*>(sent.data()), 10));
  EXPECT_EQ(sent.substr(0, 4), bytes({0x20, 0x05, 0x20, 0x01}));
  const uint8_t number = static_cast<uint8_t>(sent[4]);
  device_->clearReceived();
  device_->send(ack(kHost, kStation, number));
  ASSERT_TRUE(waitEntries(1));
  EXPECT_EQ(entries_[0].type, 0x10150000u);
  EXPECT_EQ(entries_[0].tag, 41);
  EXPECT_EQ(serial_->OutEntry(serial_->OutHead()).answered, 1);

  // An L2 frame (command 2) that answers nothing sent: NAK 5.
  const std::string l2 = bytes({0x01, 0x05, 0x33, 0x40, 0x00, 0x01}) + "z";
  device_->send(frame(kHost, kStation, 12, 0x02, 7, l2));
  ASSERT_TRUE(waitEntries(2));
  EXPECT_EQ(entries_[1].type, 0x10250000u);
  EXPECT_TRUE(owner_->pumpUntil([&] { return device_->received().find(nak(kStation, kHost, 12, 5)) != std::string::npos; }));
}

TEST_F(N114Test, L2RequestWaitsAfterItsL1AckAndPairsWithTheL2Answer) {
  openN114();
  ASSERT_EQ(serial_->N114L2Write(kStation, 0xFFFF, 0x02, 0x40, 77, 2, "hi"), 0);
  ASSERT_TRUE(waitDeviceBytes(18));
  const std::string sent = device_->received();
  EXPECT_EQ(static_cast<uint8_t>(sent[7]), 8);     // L2 length + 6
  EXPECT_EQ(static_cast<uint8_t>(sent[8]), 0x05);  // low byte of the L1 destination
  EXPECT_EQ(static_cast<uint8_t>(sent[9]), 0x01);
  EXPECT_TRUE(CSerial::CalCheck(reinterpret_cast<const uint8_t*>(sent.data()), 18));
  device_->send(ack(kHost, kStation, static_cast<uint8_t>(sent[4])));
  ASSERT_TRUE(waitEntries(1));
  EXPECT_EQ(entries_[0].tag, 77);
  EXPECT_EQ(serial_->OutEntry(serial_->OutHead()).answered, 0);  // waits for L2
  // The station's L2 answer: addresses crossed, the same L2 sequence number.
  const std::string body = bytes({0x01, 0x05, static_cast<uint8_t>(sent[10]), 0x41, 0x00, 0x00});
  device_->send(frame(kHost, kStation, 20, 0x02, 6, body));
  ASSERT_TRUE(waitEntries(2));
  EXPECT_EQ(entries_[1].type, 0x10250000u);
  EXPECT_EQ(entries_[1].tag, 77);
  EXPECT_EQ(serial_->OutEntry(serial_->OutHead()).answered, 1);
}

}  // namespace

namespace {

// Off, N114 leaves text alone even where a byte looks like its command.
TEST_F(N114Test, OffItLeavesTextWithAnAckByteToTheTextFraming) {
  serial_->SetHostAddress(kHost);
  open();
  feed(std::string("ABCDE\x06", 6) + "FGHIJ\r");
  ASSERT_EQ(entries_.size(), 1u);
  EXPECT_NE(entries_[0].type & 0x10000000u, 0x10000000u);
  EXPECT_EQ(entries_[0].data.substr(0, 6), std::string("ABCDE\x06", 6));
}

}  // namespace

namespace {

TEST_F(N114Test, ABroadcastPollNoticesAtItsSecondPeriodAndEndsAfterTheTenth) {
  serial_->SetDefaultTimeOut(100);  // the poll waits half of it a period
  openN114();
  ASSERT_EQ(serial_->N114L1Write(0xFFFF, 0xFFFF, 0xA5, 55, 0, nullptr), 0);
  ASSERT_TRUE(waitDeviceBytes(10));
  // Answers from stations do not end the poll.
  device_->send(ack(kHost, kStation, static_cast<uint8_t>(device_->received()[4])));
  ASSERT_TRUE(waitEntries(2));
  EXPECT_TRUE(owner_->pumpUntil([&] { return queueEmpty(); }));
  ASSERT_EQ(entries_.size(), 2u);
  int notices = 0, answers = 0;
  for (const Entry& e : entries_) {
    EXPECT_EQ(e.tag, 55);
    notices += e.type == 0x8000u;
    answers += e.type == 0x10150000u;
  }
  EXPECT_EQ(notices, 1);
  EXPECT_EQ(answers, 1);
}

}  // namespace
