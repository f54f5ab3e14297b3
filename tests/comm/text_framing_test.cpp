// Text framing: the card terminal and the customer display keep every
// default, so what they send is cut into CR-ended lines and compared with
// the command in progress.
#include <gtest/gtest.h>

#include "comm/line_fixture.h"

namespace {

class TextFramingTest : public LineTest {};

TEST_F(TextFramingTest, EchoOfTheCommandIsMarkedAndTheCommandStaysQueued) {
  serial_->SetMsgIDEvent(0x0E02);  // the card terminal
  open();
  device_->onReceive("atz\r", "ATZ\r");
  ASSERT_EQ(serial_->CommWrite(0, 4, "atz\r", 1, 5000, 11), 0);
  ASSERT_TRUE(waitEntries(1));
  EXPECT_EQ(entries_[0].type, 0x1000u);
  EXPECT_EQ(entries_[0].data, std::string("ATZ\0", 4));
  EXPECT_EQ(entries_[0].tag, 11);
  ASSERT_FALSE(queueEmpty());
  EXPECT_EQ(serial_->OutEntry(serial_->OutHead()).tag, 11);
  EXPECT_NE(log().find("<Echo Detect: ATZ>"), std::string::npos) << log();
}

TEST_F(TextFramingTest, AnswerMatchingThePatternCompletesTheCommandAndTheNextGoesOut) {
  serial_->SetMsgIDEvent(0x0E01);  // the customer display
  open();
  device_->onReceive("AT2\r", "ok\r");
  ASSERT_EQ(serial_->CommWrite(0, 4, "AT1\r", 1, 60000, 21, 2, "OK"), 0);
  ASSERT_EQ(serial_->CommWrite(0, 4, "AT2\r", 1, 60000, 22, 3, "OK\r"), 0);
  ASSERT_TRUE(waitDeviceBytes(4));
  EXPECT_EQ(device_->received(), "AT1\r");  // the second waits behind the first
  device_->send(bytes({0x0A, 0x0A, 'O', 'K', 0x0D, 0x0A}));
  ASSERT_TRUE(waitEntries(2));
  EXPECT_EQ(entries_[0].type, 0u);
  EXPECT_EQ(entries_[0].data, std::string("OK\0", 3));
  EXPECT_EQ(entries_[0].tag, 21);
  EXPECT_EQ(entries_[1].data, std::string("ok\0", 3));
  EXPECT_EQ(entries_[1].tag, 22);
  EXPECT_EQ(device_->received(), "AT1\rAT2\r");
  EXPECT_TRUE(queueEmpty());
  // Every byte was consumed: nothing is left for the receive timer.
  EXPECT_TRUE(owner_->pumpUntil([&] { return serial_->receiveCount_ == 0 && serial_->receiveTimerId_ == 0; }));
  EXPECT_EQ(entries_.size(), 2u);
  EXPECT_NE(log().find("<Response Detect: OK>"), std::string::npos);
}

TEST_F(TextFramingTest, ReplyPatterns) {
  open();
  struct Case {
    const char* pattern;
    const char* message;
    bool matches;
  } cases[] = {
      {"OK", "ok", true},         {"OK", "OK1", false},          {"O?", "OX", true},
      {"RESULT*", "result=0", true}, {"OK*", "O", false},        {"*END", "the end", true},
      {"*END", "ending", false},  {"*", "anything", true},       {"*ERR*", "AN ERROR 5", true},
      {"*ERR*", "fine", false},   {"OK\rjunk", "OK", true},     {"A?C", "AC", false},
  };
  int32_t tag = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " / " + c.message);
    entries_.clear();
    ++tag;
    ASSERT_EQ(serial_->CommWrite(0, 4, "CMD\r", 1, 60000, tag, static_cast<int32_t>(strlen(c.pattern)), c.pattern),
              0);
    ASSERT_TRUE(owner_->pumpUntil([&] { return serial_->OutEntry(serial_->OutHead()).inProgress != 0; }));
    feed(std::string(c.message) + "\r");
    ASSERT_EQ(entries_.size(), 1u);
    EXPECT_EQ(entries_[0].type, 0u);
    EXPECT_EQ(entries_[0].data, std::string(c.message) + '\0');
    EXPECT_EQ(entries_[0].tag, c.matches ? tag : 0);
    EXPECT_EQ(queueEmpty(), c.matches);
    serial_->CommCueDelete(tag);
  }
}

TEST_F(TextFramingTest, LinesAreCutCheckedAndHandedOver) {
  const std::string kanji = "小計";  // code page 932 bytes at run time
  struct Case {
    uint32_t options;
    std::string in;
    std::vector<std::pair<uint32_t, std::string>> out;
  } cases[] = {
      {0, bytes({0x0A, 0x0A, 0x0D}), {}},
      {0, "AB\r\nCD\r", {{0, std::string("AB\0", 3)}, {0, std::string("CD\0", 3)}}},
      {0, "A\tB " + kanji + "\xB6\xC5\r", {{0, "A\tB " + kanji + "\xB6\xC5" + '\0'}}},
      {0x200, "\x06", {{0, std::string("\x06\0", 2)}}},
      {0x200, "A\x06" "B\r", {{0, std::string("A\x06" "B\0", 4)}}},
      {0x100, "\x10", {}},  // waits for the byte after DLE
      {0x100, "1", {{0, std::string("\x10" "1\0", 3)}}},
  };
  open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    serial_->SetDefaultMode(c.options);
    entries_.clear();
    feed(c.in);
    ASSERT_EQ(entries_.size(), c.out.size());
    for (size_t i = 0; i < c.out.size(); ++i) {
      EXPECT_EQ(entries_[i].type, c.out[i].first);
      EXPECT_EQ(entries_[i].data, c.out[i].second);
    }
  }
}

TEST_F(TextFramingTest, AnInvalidLineWhileACommandWaitsDropsTheBufferAsAnError) {
  open();
  ASSERT_EQ(serial_->CommWrite(0, 4, "CMD\r", 1, 60000, 5, 2, "OK"), 0);
  for (const std::string& bad : {std::string("A\x7F" "B\r"), std::string("\x8F\r"), std::string("X\x01")}) {
    entries_.clear();
    feed(bad + "OK\r");
    ASSERT_EQ(entries_.size(), 1u) << bad;
    EXPECT_EQ(entries_[0].type, 0x4000u);
    EXPECT_EQ(entries_[0].data, bad + "OK\r");
    EXPECT_EQ(entries_[0].tag, 0);
  }
  EXPECT_FALSE(queueEmpty());
  EXPECT_NE(log().find("<Text Check Error>"), std::string::npos);
}

// An invalid line with no command waiting used to stay in the buffer, and
// every line behind it waited until the line went quiet.
TEST_F(TextFramingTest, AnInvalidLineWithNoCommandWaitingIsHandedOnAndLaterLinesFlow) {
  serial_->SetReceiveTimeOut(3600000);  // far beyond the wait: the lines flow without it
  open();
  device_->send("A\x7F" "B\r");
  device_->send("OK\r");
  ASSERT_TRUE(waitEntries(2));
  EXPECT_EQ(entries_[0].type, 0x4000u);
  EXPECT_EQ(entries_[0].data, "A\x7F" "B\r");
  EXPECT_EQ(entries_[1].type, 0u);
  EXPECT_EQ(entries_[1].data, std::string("OK\0", 3));
}

TEST_F(TextFramingTest, OnlyLineFeedsLeaveNothingWhenTheReceiveTimerFires) {
  open();
  device_->send("\n\n");
  // Both held, then the receive timer has fired.
  ASSERT_TRUE(testing_support::waitUntil([&] { return serial_->receiveCount_ == 2; }));
  ASSERT_TRUE(owner_->pumpUntil([&] { return serial_->receiveCount_ == 0; }));
  EXPECT_TRUE(entries_.empty());
  EXPECT_EQ(serial_->receiveCount_, 0);
}

TEST_F(TextFramingTest, TextCheckFindSkipsLeadingLineFeeds) {
  open();
  serial_->SetReceiveTimeOut(60000);
  feed("\n\nAB");
  EXPECT_EQ(serial_->TextCheckFind('A'), 3);
  EXPECT_EQ(serial_->TextCheckFind('B'), 0);
}

}  // namespace
