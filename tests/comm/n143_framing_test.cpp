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

std::string le16(uint32_t v) { return bytes({int(v & 0xFF), int((v >> 8) & 0xFF)}); }

// A read request element and a read answer element.
std::string readElement(uint32_t address, uint16_t length) { return bytes({0x55}) + le32(address) + le16(length); }
std::string dataElement(uint32_t address, uint16_t length) {
  return bytes({0x52}) + le32(address) + le16(length) + std::string(length, 'd');
}

class N143Test : public LineTest {
 protected:
  // N143 on, this link and its host known. The reply time-out outlasts any
  // wait of the test, however slow the machine: a test that wants a frame
  // to run out of time sets its own.
  void configureN143(uint8_t hostNumber = 0) {
    serial_->SetN143Mode(0);  // on
    serial_->SetPLinkID(kLink);
    serial_->SetHostID(kHostLink, hostNumber);
    serial_->SetDefaultTimeOut(10 * testing_support::kPatienceMs);
  }
  void openN143(uint8_t hostNumber = 0) {
    configureN143(hostNumber);
    open();
  }
  // The queued frame with the tag.
  const OutQueueEntry* queuedFrame(int32_t tag) const {
    for (int32_t i = serial_->OutHead(); i != serial_->OutTail(); i = (i + 1) & 0xFFF)
      if (serial_->OutEntry(i).data && serial_->OutEntry(i).tag == tag) return &serial_->OutEntry(i);
    return nullptr;
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

// Element search over a frame from another link whose list changes its
// addressing on the way: to this link, then to link X, then from link S.
TEST_F(N143Test, ElementsAreSearchedWithinTheirAddressing) {
  configureN143();
  constexpr uint32_t kX = 0x0A0B0C0D, kS = 0x01020304, kPeer = 0x55667788;
  std::string f = hostFrame(0x82, 1, 0,
                            bytes({7}) + dataElement(0x100, 4) + bytes({0x01}) + le32(kLink) + dataElement(0x200, 2) +
                                bytes({0x01}) + le32(kX) + dataElement(0x300, 2) + bytes({0x02}) + le32(kS) +
                                dataElement(0x400, 2),
                            kPeer);
  uint8_t* frame = reinterpret_cast<uint8_t*>(f.data());
  struct {
    int32_t after, type;
    uint32_t id;
    int32_t last, index;
  } const kSearches[] = {
      {-1, 0x52, kLink, 0, 0},  // before any 0x01 element: addressed to this link
      {0, 0x52, kLink, 0, 2},   {-1, 0x52, kLink, 1, 2}, {2, 0x52, kLink, 0, -1},
      {-1, -1, kX, 0, 3},       // the 0x01 element opens its part
      {-1, 0x52, kX, 1, 6},     {-1, 0x99, kLink, 0, -1}, {-1, 0x52, kHostLink, 0, -1},
  };
  for (const auto& c : kSearches) {
    SCOPED_TRACE(testing::Message() << "after " << c.after << " type " << c.type << " id " << c.id);
    uint8_t* body = nullptr;
    EXPECT_EQ(serial_->N143L2Search(frame, c.after, c.type, c.id, c.last, &body), c.index);
    if (c.index >= 0) {
      EXPECT_EQ(body[-1], c.type == -1 ? 0x01 : c.type);
    }
  }
  EXPECT_EQ(serial_->N143SrcMultiFrameCheck(kX, frame), 1);
  EXPECT_EQ(serial_->N143SrcMultiFrameCheck(kLink, frame), 0);  // X is named after it
  EXPECT_EQ(serial_->N143SrcMultiFrameCheck(kHostLink, frame), -1);

  struct {
    uint32_t source, address;
    int32_t kind, result;
  } const kReads[] = {
      {kPeer, 0x100, 0x520004, 1},  {kPeer, 0x200, 0x520002, 1},
      {kPeer, 0x100, 0x520002, 0},   // the answer runs past the range asked for
      {kPeer, 0xFE, 0x520004, 0},    // part of it
      {kPeer, 0x104, 0x520004, -1},  {kHostLink, 0x100, 0x520004, -1},
      {kPeer, 0x300, 0x520002, -1},  // addressed to X
      {kPeer, 0x100, 0xF60000, -1},
  };
  for (const auto& c : kReads) {
    SCOPED_TRACE(testing::Message() << std::hex << "source " << c.source << " address " << c.address);
    EXPECT_EQ(serial_->N143ReadFrameCheck(frame, c.source, c.address, c.kind, nullptr), c.result);
  }

  // Two answers that together fill a read of 0x10000 bytes (length 0).
  std::string big = hostFrame(0x82, 1, 0, bytes({2}) + dataElement(0x8000, 2000) + dataElement(0x8000 + 2000, 0), kPeer);
  EXPECT_EQ(serial_->N143ReadFrameCheck(reinterpret_cast<uint8_t*>(big.data()), kPeer, 0x8000, 0x520000, nullptr), 0);
  std::string joined = hostFrame(0x82, 1, 0, bytes({2}) + dataElement(0x10, 3) + dataElement(0x13, 1), kPeer);
  EXPECT_EQ(serial_->N143ReadFrameCheck(reinterpret_cast<uint8_t*>(joined.data()), kPeer, 0x10, 0x520004, nullptr), 1);

  // Link command frames and empty frames hold no elements.
  for (const std::string& g : {hostFrame(0x9C, 1, 0, bytes({1, 0xFC})), hostFrame(0x82, 1, 0, "")}) {
    std::string copy = g;
    EXPECT_EQ(serial_->N143L2Search(reinterpret_cast<uint8_t*>(copy.data()), -1, -1, kLink, 0, nullptr), -1);
  }
}

// A request with two read elements (two requests of one tag combined) is
// answered piece by piece; a data frame that answers no read request pairs
// with the newest other data frame sent to the host.
TEST_F(N143Test, AReadRequestIsAnsweredElementByElement) {
  openN143();
  ASSERT_EQ(serial_->N143L2Write(0xFC, 1, 0, nullptr, 0, 3, 0), 0);  // no read element; goes out at once
  const std::string first = readElement(0x1000, 4).substr(1), second = readElement(0x2000, 2).substr(1);
  ASSERT_EQ(serial_->N143L2Write(0x55, 7, 6, first.data(), 0, 3, 0), 0);
  ASSERT_EQ(serial_->N143L2Write(0x55, 7, 6, second.data(), 0, 3, 0), 0);  // joins the one before
  ASSERT_TRUE(waitDeviceBytes(21 + 34));

  struct {
    uint32_t from;
    std::string elements;
    uint32_t type;
    int32_t tag;
  } const kReplies[] = {
      {kHostLink, bytes({1}) + dataElement(0x2000, 2), 0x20210000, 7},           // one of two
      {kHostLink, bytes({1}) + dataElement(0x1000, 2), 0x20210000, 7},           // part of the other
      {0x55667788, bytes({1}) + dataElement(0x1000, 4), 0x20210000, 0},          // from a link not asked
      {kHostLink, bytes({2}) + dataElement(0x1000, 2) + dataElement(0x1002, 2), 0x20210020, 7},  // the rest
      {kHostLink, bytes({1, 0xFC}), 0x20210020, 1},
  };
  uint8_t number = 1;
  for (const auto& r : kReplies) {
    SCOPED_TRACE(testing::Message() << "reply " << int(number));
    const size_t before = entries_.size();
    device_->send(hostFrame(0x82, r.from == kHostLink ? number++ : 0, 0, r.elements, r.from));
    ASSERT_TRUE(waitEntries(before + 1));
    EXPECT_EQ(entries_.back().type, r.type);
    EXPECT_EQ(entries_.back().tag, r.tag);
  }
  ASSERT_NE(queuedFrame(7), nullptr);
  EXPECT_EQ(queuedFrame(7)->answered, 1);
  EXPECT_EQ(queuedFrame(1)->answered, 1);
}

// Of two outstanding requests to the host, the answer pairs with the one it
// answers, not with the newest; the host's sequence frame names the newest.
TEST_F(N143Test, AnAnswerPairsWithTheRequestItAnswers) {
  openN143();
  const std::string a = le32(0xA), b = le32(0xB);
  ASSERT_EQ(serial_->N143L2Write(0xFE, 7, 4, a.data(), 0, 3, 0), 0);
  ASSERT_EQ(serial_->N143L2Write(0xFE, 8, 4, b.data(), 0, 3, 0), 0);
  ASSERT_TRUE(waitDeviceBytes(50));
  device_->send(hostFrame(0x82, 1, 0, bytes({1, 0xF6}) + le32(0xC) + le16(0)));  // answers neither
  device_->send(hostFrame(0x82, 2, 0, bytes({1, 0xF6}) + a + le16(0)));
  device_->send(hostFrame(0xCE, 3, 2, ""));
  device_->send(hostFrame(0x82, 3, 0, bytes({1, 0xF6}) + b + le16(0)));
  ASSERT_TRUE(waitEntries(4));
  EXPECT_EQ(entries_[0].type, 0x20210000u);
  EXPECT_EQ(entries_[0].tag, 0);
  EXPECT_EQ(entries_[1].type, 0x20210020u);
  EXPECT_EQ(entries_[1].tag, 7);
  EXPECT_EQ(entries_[2].type, 0x20110040u);
  EXPECT_EQ(entries_[2].tag, 8);
  EXPECT_EQ(entries_[3].type, 0x20210020u);
  EXPECT_EQ(entries_[3].tag, 8);
}

// The host's NAK names the first frame it missed: that frame goes out again.
TEST_F(N143Test, TheHostsNakHasTheFrameSentAgain) {
  openN143();
  const std::string value = le32(0x01020304);
  ASSERT_EQ(serial_->N143L2Write(0xFE, 5, 4, value.data(), 0, 0, 0), 0);
  ASSERT_TRUE(waitDeviceBytes(25));
  const std::string frame = device_->received();
  device_->send(hostFrame(0x95, 1, frame[6], le32(kLink) + le16(0)));
  ASSERT_TRUE(waitDeviceBytes(50));
  EXPECT_EQ(device_->received(), frame + frame);
}

// While completion reporting keeps sent frames queued, the N143 link timer
// ends the N143-pending state that would otherwise last until they are
// fetched; each write starts it anew.
TEST_F(N143Test, TheLinkTimerEndsThePendingStateWhileCompletionIsReported) {
  serial_->SetPLinkID(kLink);
  serial_->SetHostID(kHostLink, 0);
  serial_->SetRetry(2);
  serial_->SetDefaultTimeOut(5);  // the link timer runs 2 x 5 x 10 ms
  open();
  const uint32_t base = serial_->GetTimerIdBase();
  const std::string value = le32(1);

  ASSERT_EQ(serial_->N143L2Write(0xFE, 1, 4, value.data(), 0, 0, 0), 0);
  EXPECT_EQ(serial_->n143TimerId_, 0u);  // completion reporting off: no link timer
  serial_->SetEvent2(1);
  ASSERT_EQ(serial_->N143L2Write(0xFE, 2, 4, value.data(), 0, 0, 0), 0);
  const uint32_t firstTimer = serial_->n143TimerId_;
  EXPECT_GE(firstTimer, base + 0x1200);
  ASSERT_EQ(serial_->N143L2Write(0xFE, 3, 4, value.data(), 0, 0, 0), 0);
  EXPECT_EQ(serial_->n143TimerId_, firstTimer + 1);
  EXPECT_EQ(owner_->runningTimers(base + 0x1200, base + 0x12FF), 1u);
  EXPECT_EQ(serial_->n143Pending_, 1);
  ASSERT_TRUE(owner_->pumpUntil([&] { return serial_->n143Pending_ == 0; }));
  EXPECT_EQ(serial_->n143TimerId_, 0u);
  EXPECT_FALSE(queueEmpty());  // the frames wait to be fetched

  // With N143 on the pending state is not in the way: no link timer.
  serial_->SetN143Mode(0);
  ASSERT_EQ(serial_->N143L2Write(0xFE, 4, 4, value.data(), 0, 0, 0), 0);
  EXPECT_EQ(serial_->n143TimerId_, 0u);
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
