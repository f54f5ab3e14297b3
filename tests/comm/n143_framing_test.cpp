// N143 framing with a scripted host on the far end of a pseudo-terminal:
// frames out, CRC-32, elements bounded by their frame, the host's frame
// numbers across their wrap.
#include <gtest/gtest.h>

#include "comm/line_fixture.h"

namespace {

constexpr uint32_t kLink = 0x11223344;
constexpr uint32_t kHostLink = 0xAABBCCDD;

uint32_t crc32(const std::string& s, size_t from, size_t to) {
  uint32_t reg = 0xFFFFFFFFu;
  for (size_t i = from; i < to; ++i) {
    reg ^= static_cast<uint8_t>(s[i]);
    for (int k = 0; k < 8; ++k) reg = (reg & 1) ? (reg >> 1) ^ 0xEDB88320u : reg >> 1;
  }
  return ~reg;
}

std::string le32(uint32_t v) { return bytes({int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF), int(v >> 24)}); }

// A frame as the host sends it.
std::string hostFrame(uint8_t command, uint8_t number, uint8_t byte7, const std::string& data, uint32_t from = kHostLink) {
  std::string f = bytes({0x16}) + le32(from) +
                  bytes({command, number, byte7, int(data.size() & 0xFF), int((data.size() >> 8) & 0x0F)}) + data;
  return f + le32(crc32(f, 1, f.size()));
}

class N143Test : public LineTest {
 protected:
  void openN143(uint8_t hostNumber = 0) {
    serial_->SetN143Mode(0);  // on
    serial_->SetPLinkID(kLink);
    serial_->SetHostID(kHostLink, hostNumber);
    open();
  }
};

TEST_F(N143Test, DataFrameWithDestinationAndRequestElements) {
  openN143();
  const std::string value = le32(0x01020304);
  ASSERT_EQ(serial_->N143L2Write(0xFE, 5, 4, value.data(), 0, 0, 0), 0);
  ASSERT_TRUE(waitDeviceBytes(25));
  const std::string f = device_->received();
  ASSERT_EQ(f.size(), 25u);
  EXPECT_EQ(static_cast<uint8_t>(f[0]), 0x16);
  EXPECT_EQ(f.substr(1, 4), le32(kLink));
  EXPECT_EQ(static_cast<uint8_t>(f[5]), 0x82);
  EXPECT_EQ(static_cast<uint8_t>(f[8]), 11);  // 1 + 5 + 5
  EXPECT_EQ(static_cast<uint8_t>(f[10]), 2);  // element count
  EXPECT_EQ(f.substr(11, 5), bytes({0x01}) + le32(kHostLink));  // destination 0 is the host
  EXPECT_EQ(f.substr(16, 5), bytes({0xFE}) + value);
  EXPECT_EQ(f.substr(21, 4), le32(crc32(f, 1, 21)));

  // The host's answer (next frame number) pairs with it and completes it.
  device_->send(hostFrame(0x82, 1, 0, bytes({1, 0xF6}) + value + bytes({0, 0})));
  ASSERT_TRUE(waitEntries(1));
  EXPECT_EQ(entries_[0].type, 0x20210000u | 0x20u);
  EXPECT_EQ(entries_[0].tag, 5);
}

TEST_F(N143Test, WithoutALinkIdNothingIsWritten) {
  serial_->SetN143Mode(0);
  open();
  EXPECT_EQ(serial_->N143L1Write(1, 0, nullptr, 0xCC, 0, 0), -1);
  EXPECT_EQ(serial_->N143L2Write(0xFE, 1, 4, "abcd", 0, 0, 0), -1);
}

TEST_F(N143Test, CommandA0IsNoN143Frame) {
  openN143();
  device_->send(hostFrame(0xA0, 1, 0, ""));
  ASSERT_TRUE(waitEntries(1));
  EXPECT_EQ(entries_[0].type, 0x20004000u);
}

TEST_F(N143Test, ElementSizesAreBoundedByTheFrame) {
  openN143();
  // A 0x52 element claiming 0xFFFF data bytes, and a 0xA2 claiming 10 + 2 x 200.
  device_->send(hostFrame(0x82, 1, 0, bytes({1, 0x52, 0, 0, 0, 0, 0xFF, 0xFF, 1, 2})));
  device_->send(hostFrame(0x82, 2, 0, bytes({1, 0xA2, 0, 0, 0, 0, 0, 0, 0, 0, 200})));
  device_->send(hostFrame(0x82, 3, 0, bytes({2, 0xFC, 0x99})));  // unknown type
  ASSERT_TRUE(waitEntries(3));
  for (const Entry& e : entries_) EXPECT_EQ(e.type, 0x20004000u);
  uint8_t body[16] = {};
  body[9] = 3;
  EXPECT_EQ(CSerial::N143L2NextFrame(0xA2, body), body + 16);
  body[9] = 0xFF;
  EXPECT_EQ(CSerial::N143L2NextFrame(0xA2, body), body + 16);
  EXPECT_EQ(CSerial::N143L2NextFrame(0x99, body), nullptr);
}

TEST_F(N143Test, CrcErrorIsHandedOver) {
  openN143();
  std::string f = hostFrame(0x82, 1, 0, bytes({1, 0xFC}));
  f[11] = 0x7F;
  device_->send(f);
  ASSERT_TRUE(waitEntries(1));
  EXPECT_EQ(entries_[0].type, 0x20114000u);
}

TEST_F(N143Test, HostFrameNumbersWrapFrom255To0) {
  openN143(0xFE);
  device_->send(hostFrame(0x82, 0xFF, 0, bytes({1, 0xFC})));
  device_->send(hostFrame(0x82, 0x00, 0, bytes({1, 0xFC})));  // follows 0xFF
  device_->send(hostFrame(0x82, 0x00, 0, bytes({1, 0xFC})));  // a repeat
  ASSERT_TRUE(waitEntries(3));
  EXPECT_EQ(device_->received(), "");  // nothing asked again
  // 0x03 after 0x00: two frames lost, the host is asked again.
  device_->send(hostFrame(0x82, 0x03, 0, bytes({1, 0xFC})));
  ASSERT_TRUE(waitEntries(4));
  ASSERT_TRUE(waitDeviceBytes(20));
  const std::string nak = device_->received();
  EXPECT_EQ(static_cast<uint8_t>(nak[5]), 0x95);
  EXPECT_EQ(static_cast<uint8_t>(nak[7]), 0x01);  // the number expected next
  EXPECT_EQ(nak.substr(10, 6), le32(kHostLink) + bytes({0x00, 0x08}));
  for (const Entry& e : entries_) EXPECT_EQ(e.type, 0x20210000u);
}

}  // namespace

namespace {

class N143QueueTest : public N143Test {
 protected:
  // Indexes of the frames in the output queue, oldest first.
  std::vector<int32_t> queued() const {
    std::vector<int32_t> list;
    for (int32_t i = serial_->OutHead(); i != serial_->OutTail(); i = (i + 1) & 0xFFF)
      if (serial_->OutEntry(i).data) list.push_back(i);
    return list;
  }
  static bool crcGood(const OutQueueEntry& e) {
    const std::string f(reinterpret_cast<const char*>(e.data), static_cast<size_t>(e.length));
    return f.substr(f.size() - 4) == le32(crc32(f, 1, f.size() - 4));
  }
};

TEST_F(N143QueueTest, SmallDataFramesOfOnePriorityAndTagAreCombined) {
  openN143();
  ASSERT_EQ(serial_->N143L2Write(0xFE, 1, 4, "aaaa", 0, 3, 0), 0);  // goes out at once
  ASSERT_EQ(serial_->N143L2Write(0xFE, 2, 4, "bbbb", 0, 3, 0), 0);  // waits behind it
  ASSERT_EQ(serial_->N143L2Write(0xFE, 2, 4, "cccc", 0, 3, 0), 0);  // joins the waiting one
  const std::vector<int32_t> list = queued();
  ASSERT_EQ(list.size(), 2u);
  const OutQueueEntry& joined = serial_->OutEntry(list[1]);
  EXPECT_EQ(joined.combined, 1);
  EXPECT_EQ(joined.data[10], 3);  // destination, two requests: the repeated destination is dropped
  EXPECT_EQ(joined.length, 14 + 1 + 5 + 5 + 5);
  EXPECT_EQ(joined.data[6], 1);   // its own number; the joined frame's was given back
  EXPECT_TRUE(crcGood(joined));
  // The next frame takes the number given back.
  ASSERT_EQ(serial_->N143L2Write(0xFE, 9, 4, "dddd", 0, 3, 0), 0);
  EXPECT_EQ(serial_->OutEntry(queued().back()).data[6], 2);
}

TEST_F(N143QueueTest, AnUrgentFrameGoesInFrontOfLessUrgentOnes) {
  openN143();
  ASSERT_EQ(serial_->N143L2Write(0xFE, 1, 4, "aaaa", 0, 5, 0), 0);
  ASSERT_EQ(serial_->N143L2Write(0xFE, 2, 4, "bbbb", 0, 5, 0), 0);
  ASSERT_EQ(serial_->N143L2Write(0xFE, 3, 4, "cccc", 0, 1, 0), 0);
  const std::vector<int32_t> list = queued();
  ASSERT_EQ(list.size(), 3u);
  const OutQueueEntry& urgent = serial_->OutEntry(list[1]);
  const OutQueueEntry& later = serial_->OutEntry(list[2]);
  EXPECT_EQ(urgent.tag, 3);
  EXPECT_EQ(urgent.data[6], 1);
  EXPECT_EQ(later.tag, 2);
  EXPECT_EQ(later.data[6], 2);
  EXPECT_TRUE(crcGood(urgent));
  EXPECT_TRUE(crcGood(later));
}

}  // namespace
