#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/base/clock.h"
#include "platform/base/cp932.h"
#include "platform/base/sync.h"

namespace platform {
namespace {

TEST(Cp932, RoundTripsIncludingTheVendorExtensions) {
  struct Case {
    const char* utf8;
    std::string cp932;
  };
  const Case cases[] = {
      {"小計", "\x8F\xAC\x8C\x76"},
      {"①", "\x87\x40"},
      {"㈱", "\x87\x8A"},
      {"～", "\x81\x60"},             // U+FF5E, the full-width tilde
      {"ｶﾞ", "\xB6\xDE"},             // half-width kana are single bytes
      {"ソ\\", "\x83\x5C\x5C"},       // a trail byte 5C, then a real backslash
      {"A~\x7F", "A~\x7F"},
  };
  for (const auto& c : cases) {
    std::string cp932, utf8;
    ASSERT_TRUE(utf8ToCp932(c.utf8, cp932)) << c.utf8;
    EXPECT_EQ(cp932, c.cp932) << c.utf8;
    ASSERT_TRUE(cp932ToUtf8(cp932, utf8)) << c.utf8;
    EXPECT_EQ(utf8, c.utf8);
  }
  // U+301C (wave dash) has no form of its own: it becomes 81 60 too, one way.
  std::string wave;
  ASSERT_TRUE(utf8ToCp932("〜", wave));
  EXPECT_EQ(wave, "\x81\x60");
}

TEST(Cp932, UnconvertibleInputIsReportedNotReplaced) {
  std::string out;
  size_t bad = 99;
  EXPECT_FALSE(utf8ToCp932("ab\xF0\x9F\x98\x80" "cd", out, &bad));  // an emoji
  EXPECT_EQ(bad, 2u);
  EXPECT_EQ(out.find('?'), std::string::npos);
  EXPECT_FALSE(cp932ToUtf8("a\x81", out, &bad));  // a lead byte with no trail byte
  EXPECT_EQ(toCp932Lossy("a\xF0\x9F\x98\x80" "b"), "a?b");
}

TEST(Cp932, ByteClasses) {
  EXPECT_TRUE(cp932::isLeadByte(0x81));
  EXPECT_TRUE(cp932::isLeadByte(0xFC));
  EXPECT_FALSE(cp932::isLeadByte(0xA1));
  EXPECT_TRUE(cp932::isHalfWidthKana(0xB6));
  EXPECT_TRUE(cp932::isDoubleByteAt("\x83\x5C", 0));
  EXPECT_FALSE(cp932::isDoubleByteAt("\x83", 0));  // cut off at the end
}

TEST(Event, WaitsTimeOutsAndResets) {
  Event autoReset(false, false);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(autoReset.wait(50));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));

  std::thread setter([&] {
    sleepMilliseconds(20);
    autoReset.set();
  });
  EXPECT_TRUE(autoReset.wait(30000));
  setter.join();
  EXPECT_FALSE(autoReset.isSet());  // the wait that saw it reset it
  EXPECT_FALSE(autoReset.wait(0));

  Event manual(true, true);
  EXPECT_TRUE(manual.wait(0));
  EXPECT_TRUE(manual.wait(0));  // stays set
  EXPECT_TRUE(manual.waitAndReset(0));
  EXPECT_FALSE(manual.wait(0));
  manual.set();
  manual.reset();
  EXPECT_FALSE(manual.wait(10));
}

TEST(Clock, TicksAdvance) {
  uint64_t before = tickCount64();
  sleepMilliseconds(20);
  EXPECT_GE(tickCount64() - before, 19u);
  LocalTime t = localTimeOf(0);
  EXPECT_EQ(unixSecondsOf(t), 0);
}

}  // namespace
}  // namespace platform
