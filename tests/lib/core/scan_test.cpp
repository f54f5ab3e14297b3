#include "zemta/scan.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "lib/core/report.h"
#include "lib/core/strcnvf.h"
#include "platform/base/cp932.h"
#include "support/scripted_message_box.h"

namespace {

using testing_support::ScriptedMessageBox;

struct Field {
  std::string text;
  int32_t result;
  int32_t position;
  bool operator==(const Field&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Field& f) {
  return out << '"' << f.text << "\" " << f.result << " @" << f.position;
}

// Every field of a row, read the way callers loop: while the position is not -1.
std::vector<Field> fieldsOf(const std::string& row, char quote, const char* separators,
                            int32_t doubleByte = 1, int32_t keepInnerBlanks = 0) {
  std::vector<Field> fields;
  int32_t position = 0;
  while (position != -1 && fields.size() < 20) {
    char buffer[64];
    int32_t length = sizeof buffer;
    const int32_t result = NextData(row.size(), row.data(), &length, buffer, &position, quote,
                                    separators, doubleByte, keepInnerBlanks);
    fields.push_back({std::string(buffer, length > 0 ? length : 0), result, position});
  }
  return fields;
}

TEST(NextString, SkipsBlanksAroundFields) {
  const char* text = "  abc , def";
  char field[4096];
  int32_t position = 0;
  EXPECT_EQ(NextString(text, field, &position, '"', nullptr), 1);
  EXPECT_STREQ(field, "abc");
  EXPECT_EQ(position, 7);
  EXPECT_EQ(NextString(text, field, &position, '"', nullptr), 0);
  EXPECT_STREQ(field, "def");
  EXPECT_EQ(position, -1);
}

struct RowCase {
  std::string row;
  char quote;
  const char* separators;
  int32_t doubleByte;
  int32_t keepInnerBlanks;
  std::vector<Field> fields;
};

TEST(NextData, SplitsRowsIntoFields) {
  const RowCase cases[] = {
      {"a,,b", '"', nullptr, 1, 0, {{"a", 1, 2}, {"", 1, 3}, {"b", 0, -1}}},
      {"a,", '"', nullptr, 1, 0, {{"a", 1, 2}, {"", 0, -1}}},
      {"\"x,y\",z", '"', nullptr, 1, 0, {{"\"x,y\"", 1, 6}, {"z", 0, -1}}},
      {"'a b';[c,d] ", '\'', ";", 1, 0, {{"'a b'", 1, 6}, {"[c,d]", 0, -1}}},
      {"[a;b];c", '[', ";", 1, 0, {{"[a;b]", 1, 6}, {"c", 0, -1}}},
      {"  a b  ,c", '"', nullptr, 1, 1, {{"a b", 1, 8}, {"c", 0, -1}}},
      {"  a b  ,c", '"', nullptr, 1, 0, {{"a", 0, 4}, {"b", 1, 8}, {"c", 0, -1}}},
      {"1|2,3", 0, "|,", 1, 0, {{"1", 1, 2}, {"2", 2, 4}, {"3", 0, -1}}},
      // A tab that separates is no blank: empty fields stay.
      {"a\t\tb", 0, "\t", 1, 0, {{"a", 1, 2}, {"", 1, 3}, {"b", 0, -1}}},
      // "表" is 0x95 0x5C: its trail byte is the separator "\" only when the
      // row is read byte by byte.
      {"表\\x", 0, "\\", 1, 0, {{"表", 1, 3}, {"x", 0, -1}}},
      {"表\\x", 0, "\\", 0, 0, {{"\x95", 1, 2}, {"", 1, 3}, {"x", 0, -1}}},
      {"\"表]\"]", '"', "]", 1, 0, {{"\"表]\"", 1, 6}, {"", 0, -1}}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(fieldsOf(c.row, c.quote, c.separators, c.doubleByte, c.keepInnerBlanks), c.fields) << c.row;
}

TEST(NextData, CutsTheFieldToTheCapacity) {
  const char row[] = "abcdef,g";
  char field[8] = {};
  int32_t length = 2, position = 0;
  EXPECT_EQ(NextData(8, row, &length, field, &position, 0, nullptr, 1, 0), 1);
  EXPECT_EQ(length, 2);
  EXPECT_EQ(std::string(field, 3), std::string("ab\0", 3));
  EXPECT_EQ(position, 7);
}

TEST(NextData, RefusesBadArguments) {
  ScriptedMessageBox box;
  const char row[] = "a,b";
  char field[8];
  int32_t length = 8, position = 0;
  EXPECT_EQ(NextData(3, row, nullptr, field, &position, 0, nullptr, 1, 0), -1);
  EXPECT_EQ(NextData(3, row, &length, nullptr, &position, 0, nullptr, 1, 0), -1);
  position = -1;
  EXPECT_EQ(NextData(3, row, &length, field, &position, 0, nullptr, 1, 0), -1);
  position = 3;
  EXPECT_EQ(NextData(3, row, &length, field, &position, 0, nullptr, 1, 0), 0);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(position, -1);
}

struct FindCase {
  std::string data;
  std::string pattern;
  int32_t start;
  int32_t doubleByte;
  int32_t forward;  // FindData
  int32_t reverse;  // ReverseFindData
};

TEST(FindData, FindsForwardAndBackward) {
  const FindCase cases[] = {
      {"abcabc", "bc", 0, 1, 1, -1},
      {"abcabc", "bc", 2, 1, 4, 1},
      {"abcabc", "bc", -1, 1, -1, 4},
      {"abcabc", "bc", 99, 1, -1, 4},
      {"abcabc", "abc", 0, 1, 0, 0},
      {"abcabc", "x", 0, 1, -1, -1},
      {"abc", "abcd", 0, 1, -1, -1},
      {"abc", "", 0, 1, -1, -1},
      // The "\" inside "表" (0x95 0x5C) is no match when double bytes count.
      {"表\\", "\\", 0, 1, 2, -1},
      {"表\\", "\\", 0, 0, 1, -1},
      {"表表", "\\", -1, 1, -1, -1},
      {"表表", "\\", -1, 0, 1, 3},
      {"a表b", "表", -1, 1, 1, 1},
  };
  for (const auto& c : cases) {
    const auto size = static_cast<int32_t>(c.data.size());
    const auto patternSize = static_cast<int32_t>(c.pattern.size());
    if (c.start >= 0) {
      EXPECT_EQ(FindData(size, c.data.data(), patternSize, c.pattern.data(), c.start, c.doubleByte), c.forward)
          << c.data << " / " << c.pattern;
    }
    EXPECT_EQ(ReverseFindData(size, c.data.data(), patternSize, c.pattern.data(), c.start, c.doubleByte),
              c.reverse)
        << c.data << " / " << c.pattern << " from " << c.start;
  }
  EXPECT_EQ(ReverseFindData(6, "abcabc", 1, "a", -2, 0), -1);
}

TEST(FindString, WorksOnZeroTerminatedTextsDoubleByteAware) {
  EXPECT_EQ(FindString("表示\\", "\\", 0), 4);
  EXPECT_EQ(FindString("abcabc", "c", 3), 5);
  EXPECT_EQ(ReverseFindString("abcabc", "a", -1), 3);
  EXPECT_EQ(ReverseFindString("abcabc", "a", 2), 0);
  EXPECT_EQ(ReverseFindString("表", "\\", -1), -1);
}

struct FormatCase {
  uint32_t flags;
  std::string field;  // its size is the width
  std::string expected;
  int32_t result;
};

std::string padded(const char* text, size_t width, char fill = '\0') {
  std::string field(text);
  field.resize(width, fill);
  return field;
}

TEST(StrCnvf, FormatsTheFieldInPlace) {
  const FormatCase cases[] = {
      {0x02, padded("1234567", 10), " 1,234,567", 0},
      {0x12, padded("1234567", 10), padded("1,234,567", 10), 0},
      {0x42, "123456", "******", 1},
      {0x00, "-00012", "   -12", 0},
      {0x00, "+0012 ", "   +12", 0},
      {0x00, padded("0000", 5), "    0", 0},
      {0x00, padded("0.50", 5), " 0.50", 0},
      {0x00, padded("00.5", 5), "  0.5", 0},
      {0x00, padded("0E3", 5), "  0E3", 0},
      {0x00, padded("-0", 3), " -0", 0},
      {0x20, "  0012", "  0012", 0},
      {0x10, padded(" -0012", 8), padded("-12", 8), 0},
      {0x00, padded("1,234", 8), "    1234", 0},
      {0x02, " 12,34  ", "   1,234", 0},
      {0x02, padded("-1234567.891", 14), "-1,234,567.891", 0},
      {0x02, padded("123", 5), "  123", 0},
      {0x48, padded("5", 6), "   \\5-", 0},
      {0x4A, padded("1000", 7), "\\1,000-", 0},
      {0x4A, padded("1000", 6), "******", 1},
      {0x10, padded("  12  ", 6), padded("12", 6), 0},
      {0x00, std::string("12\0" "99", 5), "   12", 0},  // only the text up to the zero byte
      {0x00, "    ", "    ", 0},
      {0x00, std::string(4, '\0'), std::string(4, '\0'), 0},
      {0x10, "  ", std::string(2, '\0'), 0},
      {0x10, padded("　１２３", 8), padded("123", 8), 0},
      {0x12, "１，２３４５", padded("12,345", 12), 0},
      {0x04, padded("12", 6), "  １２", 0},
      {0x06, padded("1234", 10), "１，２３４", 0},
      {0x06, padded("1234", 9), "*********", 1},
      {0x14, padded("ｱｲｳ", 8), padded("アイウ", 8), 0},
      {0x44, padded("-5", 6), "￥－５", 0},
  };
  for (const auto& c : cases) {
    std::string field = c.field;
    EXPECT_EQ(StrCnvf(c.flags, field.size(), field.data()), c.result)
        << std::hex << c.flags << " [" << c.field << "]";
    EXPECT_EQ(field, c.expected) << std::hex << c.flags << " [" << c.field << "]";
  }
}

TEST(StrCnvf, UsesTheLow16BitsOfTheWidthAndTouchesNothingBehind) {
  char field[8] = {'1', '2', 0, 0, 'X', 'X', 'X', 'X'};
  EXPECT_EQ(StrCnvf(0, 0x10004, field), 0);
  EXPECT_EQ(std::string(field, 8), "  12XXXX");
}

TEST(FullWidth, AsciiBecomesItsCodePage932FullWidthForm) {
  EXPECT_EQ(zemta::toFullWidth("0"), "\x82\x4F");
  EXPECT_EQ(zemta::toFullWidth("A"), "\x82\x60");
  EXPECT_EQ(zemta::toFullWidth(" "), "\x81\x40");
  EXPECT_EQ(zemta::toFullWidth("\\"), "\x81\x8F");  // the yen sign of the code page
  EXPECT_EQ(zemta::toFullWidth("-"), "\x81\x7C");
  EXPECT_EQ(zemta::toFullWidth("~"), "\x81\x60");
  EXPECT_EQ(zemta::toFullWidth("\""), "\x81\x68");
  EXPECT_EQ(zemta::toFullWidth("'"), "\x81\x66");
  // The rest are U+FF01.. in order, as Unicode lays them out.
  for (int b = 0x21; b <= 0x7E; ++b) {
    if (b == '"' || b == '\'' || b == '\\' || b == '~') continue;
    std::string utf8;
    ASSERT_TRUE(platform::cp932ToUtf8(zemta::toFullWidth(std::string(1, static_cast<char>(b))), utf8)) << b;
    const char32_t code = 0xFF01 + (b - 0x21);
    const std::string expected{static_cast<char>(0xE0 | (code >> 12)),
                               static_cast<char>(0x80 | ((code >> 6) & 0x3F)),
                               static_cast<char>(0x80 | (code & 0x3F))};
    EXPECT_EQ(utf8, expected) << static_cast<char>(b);
  }
}

TEST(FullWidth, HalfWidthKanaBecomeFullWidthKatakanaAndBack) {
  std::string kana;
  for (int b = 0xA1; b <= 0xDF; ++b) kana.push_back(static_cast<char>(b));
  std::string utf8;
  ASSERT_TRUE(platform::cp932ToUtf8(zemta::toFullWidth(kana), utf8));
  EXPECT_EQ(utf8, reinterpret_cast<const char*>(
                      u8"。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソ"
                      u8"タチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワン゛゜"));
  std::string ascii;
  for (int b = 0x20; b <= 0x7E; ++b) ascii.push_back(static_cast<char>(b));
  EXPECT_EQ(zemta::toSingleByte(zemta::toFullWidth(ascii + kana)), ascii + kana);
  // Double-byte characters without a single-byte form stay; so do other bytes.
  EXPECT_EQ(zemta::toFullWidth("表\x01\x80"), "表\x01\x80");
  EXPECT_EQ(zemta::toSingleByte("ガ表Ａ"), "ガ表A");
}

TEST(GetLength, CountsDigitsCommasSignAndWidth) {
  struct LongCase {
    uint32_t flags;
    int32_t value;
    int32_t length;
  };
  const LongCase longs[] = {
      {0, 0, 1},       {0, 9, 1},       {0, 10, 2},       {0, -1, 2},        {0x02, 123, 3},
      {0x02, 1234, 5}, {0x02, -1234, 6}, {0x04, -12, 6},   {0x48, 5, 1},
      {0x02, std::numeric_limits<int32_t>::min(), 14},
  };
  for (const auto& c : longs) EXPECT_EQ(GetLongLength(c.flags, c.value), c.length) << c.value;

  struct DoubleCase {
    uint32_t flags;
    double value;
    int32_t decimals;
    int32_t length;
  };
  const DoubleCase doubles[] = {
      {0, 1234.5, 2, 7}, {0x02, -1234.5, 1, 8}, {0, 0.5, 0, 1}, {0, 0.5, -2, 1}, {0x04, 12.0, 1, 8},
  };
  for (const auto& c : doubles) EXPECT_EQ(GetDoubleLength(c.flags, &c.value, c.decimals), c.length) << c.value;
}

TEST(LongToStr, PrintsFormatsOrFillsWithStars) {
  struct Case {
    uint32_t flags;
    int32_t value;
    int32_t size;
    std::string expected;  // all size bytes
  };
  const Case cases[] = {
      {0x02, -1234, 6, std::string("*****\0", 6)},
      {0x02, -1234, 8, std::string(" -1,234\0", 8)},
      {0x10, 42, 5, std::string("42\0\0\0", 5)},
      {0x00, 0, 3, std::string(" 0\0", 3)},
      {0x40, 12345, 6, std::string("*****\0", 6)},  // the yen sign does not fit
      {0x04, 7, 4, std::string(" ７\0", 4)},
  };
  for (const auto& c : cases) {
    std::string buffer(c.size + 1, '#');
    LongToStr(c.flags, buffer.data(), c.value, c.size);
    EXPECT_EQ(buffer.substr(0, c.size), c.expected.substr(0, c.size)) << c.value;
    EXPECT_EQ(buffer[c.size], '#');
  }
}

TEST(DoubleToStr, RoundsHalfAwayFromZeroAndFormats) {
  struct Case {
    uint32_t flags;
    double value;
    int32_t decimals;
    int32_t size;
    const char* expected;  // the zero-terminated text
  };
  const Case cases[] = {
      {0, 1.25, 1, 6, "  1.3"},
      {0, -1.25, 1, 6, " -1.3"},
      {0, 0.5, 0, 4, "  1"},
      {0, -0.5, 0, 4, " -1"},
      {0, -0.04, 1, 5, " 0.0"},
      {0x02, 1234567.891, 2, 14, " 1,234,567.89"},
      {0x10, 3.0, 2, 8, "3.00"},
      {0, 1234.0, -2, 6, " 1200"},
      {0, 999.96, 1, 7, "1000.0"},
      {0, 999.96, 1, 8, " 1000.0"},
      {0, 999.96, 1, 6, "*****"},  // rounding made it one digit longer
      {0, 1e300, 2, 20, "*******************"},
      {0, std::numeric_limits<double>::infinity(), 2, 6, "*****"},
      {0, std::nan(""), 2, 6, "*****"},
  };
  for (const auto& c : cases) {
    std::string buffer(c.size + 1, '#');
    DoubleToStr(c.flags, buffer.data(), &c.value, c.decimals, c.size);
    EXPECT_STREQ(buffer.c_str(), c.expected) << c.value << " / " << c.decimals;
    EXPECT_EQ(buffer[c.size], '#');
  }
}

}  // namespace
