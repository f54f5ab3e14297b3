// Code page 932 <-> UTF-8 for the payment bodies: round trips, and a
// character without a form on the other side is reported, never replaced.
#include <gtest/gtest.h>

#include <string>

#include "app/register/csv/text_convert.h"
#include "platform/base/last_error.h"

using varnex::reg::AnsiToUtf8;
using varnex::reg::Utf8ToAnsi;

namespace {

std::string utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

TEST(TextConvertTest, RoundTrips) {
  struct Case {
    const char* what;
    std::string ansi;  // code page 932 bytes
    std::string utf8;
  };
  const Case cases[] = {
      {"empty", "", ""},
      {"subtotal", "小計", utf8(u8"小計")},
      {"half-width kana", "ｶﾞｲﾀﾞﾝｽｰﾊﾟｰ", utf8(u8"ｶﾞｲﾀﾞﾝｽｰﾊﾟｰ")},
      {"JSON with marks", "{\"msg\":\"①㈱～￥\\\"}", utf8(u8"{\"msg\":\"①㈱～￥\\\"}")},
  };
  ASSERT_EQ(std::string("小計"), "\x8F\xAC\x8C\x76");
  ASSERT_EQ(std::string("ｶ"), "\xB6");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bool ok = false;
    EXPECT_EQ(AnsiToUtf8(c.ansi.c_str(), &ok), c.utf8);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Utf8ToAnsi(c.utf8.c_str(), &ok), c.ansi);
    EXPECT_TRUE(ok);
  }
  EXPECT_EQ(AnsiToUtf8("小計").size(), 6u);
  EXPECT_EQ(AnsiToUtf8(nullptr), "");
}

// Nothing is silently turned into another character.
TEST(TextConvertTest, UnconvertibleTextIsReported) {
  const std::string noForm[] = {utf8(u8"合計😀"), utf8(u8"Ω€")};
  for (const std::string& text : noForm) {
    platform::setLastError(0);
    bool ok = true;
    EXPECT_EQ(Utf8ToAnsi(text.c_str(), &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(platform::lastError(), 1113u);
  }
  bool ok = true;
  EXPECT_EQ(AnsiToUtf8("ab\x81", &ok), "");  // a lead byte without its trail
  EXPECT_FALSE(ok);
  // A long body is not cut by any fixed buffer.
  std::string longBody(20000, 'a');
  longBody += "小計";
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(longBody.c_str()).c_str()), longBody);
}

}  // namespace
