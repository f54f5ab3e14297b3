// The receive pipeline: HDLC frames on the wire and in the receive buffer,
// the check sequences, and what happens to bytes no framing takes.
#include <gtest/gtest.h>

#include <random>

#include "comm/line_fixture.h"

namespace {

std::string encode(uint32_t mode, const std::string& data) {
  static CSerial encoder;
  std::vector<uint8_t> out(3 * data.size() + 16);
  const int32_t n = encoder.EncodeHDLC(mode, out.data(), reinterpret_cast<const uint8_t*>(data.data()),
                                       static_cast<int32_t>(data.size()));
  return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(n));
}

std::string frame(const std::string& content) { return encode(0x03000000, content); }

TEST(Hdlc, EncodesTheExamplesOnTheWire) {
  EXPECT_EQ(encode(0x01000000, bytes({0x7E})), bytes({0x7E, 0x7D, 0x5E, 0x81, 0x6A, 0x7E}));
  const std::string withHeader = encode(0x03000000, "A");
  EXPECT_EQ(withHeader.substr(0, 7), bytes({0x7E, 0xFF, 0x7D, 0x23, 0x7D, 0x20, 'A'}));
  EXPECT_EQ(withHeader.back(), '\x7E');
  // Data that already begins with address and control gets no second header.
  EXPECT_EQ(encode(0x03000000, bytes({0xFF, 0x03, 'A'})), encode(0x01000000, bytes({0xFF, 0x03, 'A'})));
  EXPECT_EQ(encode(0x0B000000, "A"), bytes({0xFF, 0x03, 0x00, 'A'}));  // no FCS, no escaping, no flags
}

TEST(Hdlc, CheckSequencesOfTheStandardCheckString) {
  CSerial serial;
  auto check16 = [&](const std::string& s) {
    return serial.ChkCrc(reinterpret_cast<const uint8_t*>(s.data()), static_cast<int32_t>(s.size()));
  };
  auto check32 = [&](const std::string& s) {
    return serial.ChkCrc32(reinterpret_cast<const uint8_t*>(s.data()), static_cast<int32_t>(s.size()));
  };
  EXPECT_EQ(check16("123456789" + bytes({0x6E, 0x90})), 1);  // CRC-16/X-25 0x906E
  EXPECT_EQ(check16("123456789" + bytes({0x90, 0x6E})), 0);
  EXPECT_EQ(check16(bytes({0xFF, 0xFF})), 0);  // too short to hold an FCS and data
  EXPECT_EQ(check32("123456789" + bytes({0x26, 0x39, 0xF4, 0xCB})), 1);  // CRC-32 0xCBF43926
  EXPECT_EQ(check32("123456788" + bytes({0x26, 0x39, 0xF4, 0xCB})), 0);
  EXPECT_EQ(check32(bytes({0, 0, 0, 0})), 0);
}

TEST(Hdlc, DecodeUndoesEncodeAndLeavesForeignEscapesAlone) {
  SerialProbe probe;
  auto decode = [&](const std::string& wire) {
    std::memcpy(probe.receiveBuffer_, wire.data(), wire.size());
    probe.receiveCount_ = static_cast<int32_t>(wire.size());
    uint8_t out[CSerial::kReceiveBufferSize];
    const int32_t n = probe.DecodeHDLC(static_cast<int32_t>(wire.size()), out);
    return std::string(reinterpret_cast<const char*>(out), static_cast<size_t>(n));
  };
  EXPECT_EQ(decode(bytes({0x7E, 0x41, 0x7D, 0x41, 0x42, 0x7E})), bytes({0x41, 0x7D, 0x41, 0x42}));
  EXPECT_EQ(decode(bytes({0x7E, 0x7D, 0x5E, 0x7D, 0x5D, 0x7D, 0x20, 0x7E})), bytes({0x7E, 0x7D, 0x00}));

  std::mt19937 random(1234);
  for (int run = 0; run < 300; ++run) {
    std::string data(1 + random() % 600, '\0');
    for (char& c : data) c = static_cast<char>(random());
    const std::string wire = encode(0x01000000, data);
    ASSERT_LE(wire.size(), 2 * data.size() + 6);
    const std::string body = decode(wire);
    ASSERT_EQ(body.size(), data.size() + 2);
    ASSERT_EQ(body.substr(0, data.size()), data);
    ASSERT_EQ(probe.ChkCrc(reinterpret_cast<const uint8_t*>(body.data()), static_cast<int32_t>(body.size())), 1);
  }
}

class ReceivePipelineTest : public LineTest {
 protected:
  void SetUp() override {
    LineTest::SetUp();
    serial_->SetN114Mode(0x10000000);  // N114 off and HDLC frames expected at any time
    serial_->SetReceiveTimeOut(60000);
    open();
  }
};

TEST_F(ReceivePipelineTest, HdlcFramesAreUnwrappedForTheTextCheck) {
  struct Case {
    const char* name;
    std::string in;
    std::vector<std::pair<uint32_t, std::string>> out;
  } cases[] = {
      {"one frame", frame("OK\r"), {{0, std::string("OK\0", 3)}}},
      {"two frames", frame("A\r") + frame("B\r"), {{0, std::string("A\0", 2)}, {0, std::string("B\0", 2)}}},
      {"a line in front", "AB\r" + frame("CD\r"), {{0, std::string("AB\0", 3)}, {0, std::string("CD\0", 3)}}},
      // What no check takes in front of a frame cannot be completed once the
      // frame is there: the frame moves to the front in its place.
      {"a cut-off line in front", "AB" + frame("CD\r"), {{0, std::string("CD\0", 3)}}},
      {"flag in front", bytes({0x7E}) + frame("E\r"), {{0, std::string("E\0", 2)}}},
      {"body no check takes", frame("XY"), {{0x4000, "XY"}}},
      {"link control", encode(0x01000000, bytes({0xFF, 0x03, 0xC0, 0x21, 0x01})), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    entries_.clear();
    feed(c.in);
    ASSERT_EQ(entries_.size(), c.out.size());
    for (size_t i = 0; i < c.out.size(); ++i) {
      EXPECT_EQ(entries_[i].type, c.out[i].first);
      EXPECT_EQ(entries_[i].data, c.out[i].second);
    }
    EXPECT_EQ(serial_->receiveCount_, 0);
  }
  const std::string text = log();
  EXPECT_NE(text.find("<HDLC Frame Error>"), std::string::npos);
  EXPECT_NE(text.find("<Link Control Protocol>"), std::string::npos);
  EXPECT_EQ(text.find("<Receive Time Out>"), std::string::npos);
}

TEST_F(ReceivePipelineTest, FrameWithABadCheckSequenceIsHandedOverAsAnError) {
  std::string bad = frame("OK\r");
  bad[7] = static_cast<char>(bad[7] ^ 0x01);  // 'K' becomes 'J'
  feed(bad + frame("GO\r"));
  ASSERT_EQ(entries_.size(), 2u);
  EXPECT_EQ(entries_[0].type, 0x4000u);
  EXPECT_EQ(entries_[0].data.substr(0, 6), bytes({0xFF, 0x03, 0x00, 'O', 'J', '\r'}));
  EXPECT_EQ(entries_[1].data, std::string("GO\0", 3));
  EXPECT_NE(log().find("<CRC Error>"), std::string::npos);
}

TEST_F(ReceivePipelineTest, FrameWithoutItsClosingFlagIsCutAfter150ms) {
  const std::string open = frame("LATE\r").substr(0, 9);
  feed(open);
  EXPECT_TRUE(entries_.empty());
  ASSERT_TRUE(owner_->pumpUntil([&] { readAll(); return !entries_.empty(); }));
  EXPECT_EQ(entries_[0].type, 0x8000u);
  EXPECT_EQ(entries_[0].data, open);
  EXPECT_NE(log().find("<Receive Time Out>"), std::string::npos);
}

TEST_F(ReceivePipelineTest, PortErrorsNoCarrierAndOverflowAreReported) {
  feed("XY", 0x0004);  // a parity error came with the bytes
  ASSERT_EQ(entries_.size(), 1u);
  EXPECT_EQ(entries_[0].type, 0x4000u);
  EXPECT_EQ(entries_[0].data, "XY");
  EXPECT_EQ(entries_[0].status, 0x0004u);
  EXPECT_NE(log().find("<Comm Error>"), std::string::npos);

  serial_->SetN114Mode(0x11002000);
  feed("xxNO CARRIER\r");
  ASSERT_EQ(entries_.size(), 2u);
  EXPECT_EQ(entries_[1].type, 0x2000u);
  EXPECT_EQ(entries_[1].data, "xxNO CARRIER\r");

  // Held bytes that the new ones do not fit behind reach the owner, not the floor.
  feed(std::string(4000, 'A'));
  feed(std::string(200, 'B'));
  ASSERT_EQ(entries_.size(), 3u);
  EXPECT_EQ(entries_[2].type, 0x8000u);
  EXPECT_EQ(entries_[2].data, std::string(4000, 'A'));
  EXPECT_EQ(serial_->receiveCount_, 200);
}

TEST_F(LineTest, HdlcCommandAndReplyOverTheLine) {
  open();
  device_->onReceive(frame("PING\r").substr(0, 8), frame("pong\r"), 20);
  ASSERT_EQ(serial_->CommWrite(0x03000000, 5, "PING\r", 1, 5000, 61, 4, "PONG"), 0);
  ASSERT_TRUE(waitEntries(1));
  EXPECT_EQ(device_->received(), frame("PING\r"));
  EXPECT_EQ(entries_[0].type, 0u);
  EXPECT_EQ(entries_[0].data, std::string("pong\0", 5));
  EXPECT_EQ(entries_[0].tag, 61);
  EXPECT_TRUE(queueEmpty());
}

}  // namespace
