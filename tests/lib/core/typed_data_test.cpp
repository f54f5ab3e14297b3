#include "zemta/typed.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "lib/core/typed_data.h"
#include "support/scripted_message_box.h"
#include "zemta/date.h"

namespace {

using testing_support::ScriptedMessageBox;

std::string toStr(uint32_t type, int32_t length, const void* value, uint32_t format = 0) {
  char buffer[256];
  int32_t n = TypeDataToStr(buffer, sizeof buffer, type, length, value, format);
  if (n < 0) return "(fail)";
  EXPECT_EQ(n, GetTypeStrBufLen(type, length, value, format)) << buffer;
  return buffer;
}

TEST(TypeDataToStr, Forms) {
  const int32_t minus = -1234567;
  const uint16_t u16 = 0xBEEF;
  const double pi = 3.14159;
  const uint32_t date = (2024u << 9) | (3 << 5) | 15;
  const uint32_t time = (12u << 27) | (34u << 21) | (56u << 15) | (789 * 20 + 1);
  const uint32_t both[2] = {date, time};
  struct Case {
    std::string got, expected;
  } cases[] = {
      {toStr(TYPE_SIGNED, 4, &minus), "-1234567"},
      {toStr(TYPE_SIGNED, 4, &minus, 64), "-1,234,567"},
      {toStr(TYPE_SIGNED, 4, &minus, 80), "-1 234 567"},
      {toStr(TYPE_UNSIGNED, 2, &u16, 32), "BEEF"},
      {toStr(TYPE_UNSIGNED, 2, &u16, 48), "0xBEEF"},
      {toStr(TYPE_SIGNED, 4, &minus, 32), "FFED2979"},
      {toStr(TYPE_FLOAT, 8, &pi), "3.14159"},
      {toStr(TYPE_FLOAT, 8, &pi, 0x2300), "3.14"},
      {toStr(TYPE_TEXT, 5, "ab,c"), "\"ab,c\""},
      {toStr(TYPE_TEXT, 4, "abc"), "abc"},
      {toStr(TYPE_TEXT, 4, "a'c", 8), "'a''c'"},
      {toStr(TYPE_DATE, 4, &date), "2024/03/15"},
      {toStr(TYPE_DATE, 4, &date, 0x3000000), "03/15"},
      {toStr(TYPE_DATE, 4, &date, 0x4000000), "2024年 3月15日"},
      {toStr(TYPE_DATE, 4, &date, 0x7000000), "2024/03/15(Fri)"},
      {toStr(TYPE_DATE, 4, &date, 0xC000000), " 3月15日(金)"},
      {toStr(TYPE_DATE, 4, &date, 0x2000000), "'24/03/15"},
      {toStr(TYPE_TIME, 4, &time), "12:34:56"},
      {toStr(TYPE_TIME, 4, &time, 0x200000), "12:34:56.789"},
      {toStr(TYPE_TIME, 4, &time, 0x500000), "12時34分56.789秒"},
      {toStr(TYPE_DATETIME, 8, both, 0x10200000), "2024/03/15 12:34:56"},
      {toStr(TYPE_DATETIME, 8, both, 0x30000000), "2024/03/15"},
      {toStr(TYPE_SIGNED | TYPE_NULLABLE, 5, "\0\0\0\0", 0), ""},
      {toStr(TYPE_SIGNED | TYPE_NULLABLE, 5, "\0\0\0\0", 2), "<null>"},
      {toStr(TYPE_SIGNED | TYPE_NULLABLE, 2, "\x01\x05"), "5"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected);
}

TEST(TypeDataToStr, ErasAndLogValues) {
  DeleteEra();
  AddEra(2019, 5, 1, 'R', "令和");
  const uint32_t date = (2024u << 9) | (3 << 5) | 15;
  EXPECT_EQ(toStr(TYPE_DATE, 4, &date, 0x2000000), "R06/03/15");
  EXPECT_EQ(toStr(TYPE_DATE, 4, &date, 0x5000000), "令和 6年 3月15日");
  DeleteEra();
  const uint16_t insert = 0x1000, cancel = 0x3000;
  EXPECT_EQ(toStr(TYPE_LOG | 0x100, 2, &insert), "Insert");
  EXPECT_EQ(toStr(TYPE_LOG | 0x100, 2, &cancel), "Cancel Insert");
  const uint32_t schedule = (1u << 26) | (1u << 28) | (1u << 25) | (9u << 15) | (30u << 9) | 1;
  EXPECT_EQ(toStr(TYPE_LOG | 0x800, 4, &schedule), "月水日 09:30:00");
  EXPECT_EQ(GetTypeStrBufLen(TYPE_LOG | 0x800, 4, &schedule, 0), 10 + 2 * 3);
}

TEST(TypeDataToStr, SmallBufferAndBadArguments) {
  const int32_t v = 1234567;
  char buffer[5];
  EXPECT_EQ(TypeDataToStr(buffer, 5, TYPE_SIGNED, 4, &v, 0), 5);
  EXPECT_STREQ(buffer, "****");
  ScriptedMessageBox box;
  EXPECT_EQ(TypeDataToStr(nullptr, 5, TYPE_SIGNED, 4, &v, 0), -1);
  EXPECT_EQ(TypeDataToStr(buffer, 0, TYPE_SIGNED, 4, &v, 0), -1);
  EXPECT_EQ(box.count(), 2u);
  EXPECT_EQ(TypeDataToStr(buffer, 5, TYPE_SIGNED, 9, "123456789", 0), -1);
  EXPECT_EQ(TypeDataToStr(buffer, 5, 7, 4, &v, 0), -1);
}

TEST(GetTypeStrBufLen, WithoutAValue) {
  EXPECT_EQ(GetTypeStrBufLen(TYPE_SIGNED, 4, nullptr, 0), 12);      // -2147483648
  EXPECT_EQ(GetTypeStrBufLen(TYPE_UNSIGNED, 4, nullptr, 0), 11);    // 4294967295
  EXPECT_EQ(GetTypeStrBufLen(TYPE_UNSIGNED, 4, nullptr, 64), 14);   // 4,294,967,295
  EXPECT_EQ(GetTypeStrBufLen(TYPE_UNSIGNED, 4, nullptr, 48), 11);
  EXPECT_EQ(GetTypeStrBufLen(TYPE_TIME, 4, nullptr, 0x200000), 13);
  EXPECT_EQ(GetTypeStrBufLen(TYPE_DATE, 4, nullptr, 0xA000000), 19);
  EXPECT_EQ(GetTypeStrBufLen(TYPE_DATETIME, 8, nullptr, 0x10200000), 11 + 9);
  EXPECT_EQ(GetTypeStrBufLen(TYPE_SIGNED, 9, nullptr, 0), -1);
  EXPECT_EQ(GetTypeStrBufLen(TYPE_FLOAT, 5, nullptr, 0), -1);
  EXPECT_EQ(GetTypeStrBufLen(TYPE_SIGNED, 0, nullptr, 3), -1);
  EXPECT_EQ(GetTypeStrBufLen(TYPE_SIGNED, 0, nullptr, 2), 7);
  EXPECT_EQ(GetTypeStrBufLen(7, 4, nullptr, 0), -1);
  // A float's text, whatever the value, fits the size given without one.
  const double big = -1.5e300;
  EXPECT_LE(GetTypeStrBufLen(TYPE_FLOAT, 8, &big, 0x3F00), GetTypeStrBufLen(TYPE_FLOAT, 8, nullptr, 0x3F00));
}

TEST(SetTypeDefFmt, ReplacesOnlyNonZeroGroups) {
  const uint32_t previous = SetTypeDefFmt(0x00000040);
  EXPECT_EQ(previous, 0x5110F115u);
  const int32_t v = 1234;
  EXPECT_EQ(toStr(TYPE_SIGNED, 4, &v), "1,234");
  EXPECT_EQ(SetTypeDefFmt(previous), 0x5110F145u);
  EXPECT_EQ(toStr(TYPE_SIGNED, 4, &v), "1234");
}

TEST(StrToTypeData, ParsesAndSteps) {
  uint8_t out[16];
  EXPECT_EQ(StrToTypeData(TYPE_SIGNED, 2, out, "-300", 0), 2);
  EXPECT_EQ(int16_t(out[0] | out[1] << 8), -300);
  EXPECT_EQ(StrToTypeData(TYPE_SIGNED, 2, out, "-300", 1), 2);
  EXPECT_EQ(int16_t(out[0] | out[1] << 8), -299);
  EXPECT_EQ(StrToTypeData(TYPE_SIGNED, 1, out, "300", 0), -1);
  EXPECT_EQ(StrToTypeData(TYPE_UNSIGNED, 4, out, "-1", 0), -1);
  EXPECT_EQ(StrToTypeData(TYPE_UNSIGNED | TYPE_NULLABLE, 4, out, "7", -1), 5);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1], 6);
  EXPECT_EQ(StrToTypeData(TYPE_UNSIGNED | TYPE_NULLABLE, 4, out, "<null>", 0), 1);
  EXPECT_EQ(out[0], 0);
  uint32_t t = 0;
  EXPECT_EQ(StrToTypeData(TYPE_TIME, 4, &t, "12:34:56.789", 0), 4);
  EXPECT_EQ(t, (12u << 27) | (34u << 21) | (56u << 15) | (789 * 20 + 1));
  EXPECT_EQ(StrToTypeData(TYPE_TIME, 4, &t, "24:00:00", 0), -1);
  uint32_t d = 0;
  EXPECT_EQ(StrToTypeData(TYPE_DATE, 4, &d, "2024/2/29", 1), 4);
  EXPECT_EQ(d, (2024u << 9) | (3 << 5) | 1);
  EXPECT_EQ(StrToTypeData(TYPE_DATE, 4, &d, "2023/2/29", 0), -1);
  EXPECT_EQ(StrToTypeData(TYPE_BINARY, 4, &d, "x", 0), -1);
}

TEST(TypeBounds, MaxAndMin) {
  uint8_t out[9];
  EXPECT_EQ(TypeMaxData(TYPE_SIGNED, 4, out), 4);
  EXPECT_EQ(std::memcmp(out, "\xFF\xFF\xFF\x7F", 4), 0);
  EXPECT_EQ(TypeMinData(TYPE_SIGNED | TYPE_NULLABLE, 2, out), 3);
  EXPECT_EQ(std::memcmp(out, "\x01\x00\x80", 3), 0);
  uint32_t v;
  TypeMaxData(TYPE_TIME, 4, &v);
  EXPECT_EQ(v, 0xBF7DCE1Fu);
  TypeMinData(TYPE_DATE, 4, &v);
  EXPECT_EQ(v, 0x80000021u);
  TypeMaxData(TYPE_FLOAT, 4, &v);
  EXPECT_EQ(v, 0x7F7FFFFFu);
  EXPECT_EQ(TypeMaxData(TYPE_FLOAT, 5, out), -1);
  EXPECT_EQ(TypeMaxData(TYPE_BINARY, 4, out), -1);
}

TEST(CalcData, RoundTrips) {
  int64_t calc = 0;
  const uint8_t minusTwo[2] = {0xFE, 0xFF};
  EXPECT_EQ(TypeDataToCalcData(&calc, TYPE_SIGNED, 2, minusTwo), 0);
  EXPECT_EQ(calc, -2);
  EXPECT_EQ(TypeDataToCalcData(&calc, TYPE_UNSIGNED, 2, minusTwo), 0);
  EXPECT_EQ(calc, 0xFFFE);
  const float f = 1.5f;
  double d = 0;
  EXPECT_EQ(TypeDataToCalcData(&d, TYPE_FLOAT, 4, &f), 0);
  EXPECT_EQ(d, 1.5);
  EXPECT_EQ(TypeDataToCalcData(&calc, TYPE_SIGNED | TYPE_NULLABLE, 3, "\0\1\2"), 0);
  EXPECT_EQ(calc, 0);
  EXPECT_EQ(TypeDataToCalcData(&calc, TYPE_SIGNED, 9, "123456789"), -1);

  uint8_t out[8];
  d = 2.25;
  EXPECT_EQ(CalcDataToTypeData(TYPE_FLOAT, 4, out, &d), 0);
  float back;
  std::memcpy(&back, out, 4);
  EXPECT_EQ(back, 2.25f);
  calc = -2;
  EXPECT_EQ(CalcDataToTypeData(TYPE_SIGNED | TYPE_NULLABLE, 3, out, &calc), 0);
  EXPECT_EQ(std::memcmp(out, "\x01\xFE\xFF", 3), 0);
  // A length the type can't take fails before anything is written.
  std::memset(out, 0xAA, sizeof out);
  EXPECT_EQ(CalcDataToTypeData(TYPE_TIME, 8, out, &calc), -1);
  EXPECT_EQ(CalcDataToTypeData(TYPE_SIGNED | TYPE_NULLABLE, 1, out, &calc), -1);
  EXPECT_EQ(CalcDataToTypeData(TYPE_FLOAT, 5, out, &calc), -1);
  for (uint8_t b : out) EXPECT_EQ(b, 0xAA);
}

TEST(ToInsSepStr, Groups) {
  char out[16];
  EXPECT_EQ(zemta::ToInsSepStr(out, sizeof out, "-1234567.891", -1, ','), 14);
  EXPECT_STREQ(out, "-1,234,567.891");
  zemta::ToInsSepStr(out, sizeof out, "123", -1, ',');
  EXPECT_STREQ(out, "123");
  zemta::ToInsSepStr(out, 5, "12345", -1, ',');
  EXPECT_STREQ(out, "****");
  ScriptedMessageBox box;
  EXPECT_EQ(zemta::ToInsSepStr(out, sizeof out, "1", -1, 0), -1);
}

TEST(Kana, HiraToKataAndZenToHan) {
  char out[64];
  EXPECT_EQ(HiraToKata(out, sizeof out, "ひらがなゝゞとABC"), 17);
  EXPECT_STREQ(out, "ヒラガナヽヾトABC");
  EXPECT_EQ(HiraToKata(out, 4, "ひらがな"), 2);  // no half character
  EXPECT_STREQ(out, "ヒ");
  EXPECT_EQ(HiraToKata(out, sizeof out, "みんな"), 6);
  EXPECT_STREQ(out, "ミンナ");

  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"ＡＢＣ１２３ａｂｃ", "ABC123abc"},
      {"ガッコウ", "ｶﾞｯｺｳ"},
      {"ぱぴぷ", "ﾊﾟﾋﾟﾌﾟ"},
      {"ヴァ", "ｳﾞｧ"},
      {"（＄１，０００）", "($1,000)"},
      {"≦≧", "<=>="},
      {"ヮゎ漢、", "ヮゎ漢、"},
      {"ー", "ｰ"},
  };
  for (const auto& c : cases) {
    ZenToHan(out, sizeof out, c.in);
    EXPECT_STREQ(out, c.out) << c.in;
  }
  EXPECT_EQ(ZenToHan(out, 3, "ガガ"), 2);  // the second would need two more bytes
  EXPECT_STREQ(out, "ｶﾞ");
  ScriptedMessageBox box;
  EXPECT_EQ(ZenToHan(nullptr, 3, "a"), -1);
  EXPECT_EQ(HiraToKata(out, 0, "a"), -1);
}

TEST(ChkMbcType, ByteClasses) {
  const char* text = "aあb";
  EXPECT_EQ(ChkMbcType(text, 0), 0);
  EXPECT_EQ(ChkMbcType(text, 1), 1);
  EXPECT_EQ(ChkMbcType(text, 2), 2);
  EXPECT_EQ(ChkMbcType(text, 3), 0);
  EXPECT_EQ(ChkMbcType(text, 9), 0);
  EXPECT_EQ(ChkMbcType(nullptr, 0), -1);
}

TEST(ActionExecVal, ArithmeticAndTests) {
  int64_t slots[4] = {10, 20, 0, 0};
  EXPECT_EQ(zemta::ActionExecVal(0x80, 3, 4, slots, 0, 0, 5), 0);
  EXPECT_EQ(slots[0], 15);
  EXPECT_EQ(zemta::ActionExecVal(0x80, 5, 4, slots, 0, 0, 100), 0);
  EXPECT_EQ(slots[0], 85);
  EXPECT_EQ(zemta::ActionExecVal(0x80, 7, 4, slots, 0, 0, 0), -1);  // no division by zero
  EXPECT_EQ(slots[0], 85);
  EXPECT_EQ(zemta::ActionExecVal(0, 1, 4, slots, 0, -127, 7), 0);  // slot byte + base + 128 = 1
  EXPECT_EQ(slots[1], 7);
  EXPECT_EQ(zemta::ActionExecVal(0x80, 229, 4, slots, 0, 0, 85), 1);
  EXPECT_EQ(zemta::ActionExecVal(0x80, 232, 4, slots, 0, 0, 85), 0);
  EXPECT_EQ(zemta::ActionExecVal(0x80, 1, 4, slots, 0, 4, 0), -1);  // outside the array
  EXPECT_EQ(zemta::ActionExecVal(0x80, 223, 4, slots, 0, 9, 0), 1);
  EXPECT_EQ(zemta::ActionExecVal(0x80, 224, 4, slots, 0, 0, 0), 1);
  EXPECT_EQ(zemta::ActionExecVal(0x8080, 225, 4, slots, 0, 0, 0), 1);
  slots[2] = (int64_t(30) << 32) | 10;
  EXPECT_EQ(zemta::ActionExecVal(0x80, 243, 4, slots, 0, 2, 0), 0);
  EXPECT_EQ(zemta::ActionExecVal(0x8080, 243, 4, slots, 0, 2, 20), 1);
  EXPECT_EQ(zemta::ActionExecVal(0x80, 245, 4, slots, 0, 3, 9), 0);
  EXPECT_EQ(zemta::ActionExecVal(0x80, 245, 4, slots, 0, 3, 9), 1);
  EXPECT_EQ(zemta::ActionExecVal(0x80, 241, 4, slots, 0, 0, 0), -1);
  EXPECT_EQ(IsActionUseVal(0, 223), 0);
  EXPECT_EQ(IsActionUseVal(-1, 225), 0);
  EXPECT_EQ(IsActionUseVal(1, 225), 1);
}

}  // namespace
