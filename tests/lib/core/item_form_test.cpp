// Form items: line n of an item shown, typed in and stored through a record
// held in segments.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lib/core/report.h"
#include "support/scripted_message_box.h"
#include "zemta/date.h"
#include "zemta/typed.h"

namespace {

using testing_support::ScriptedMessageBox;

struct ItemSpec {
  uint16_t type = 0, width = 0, lines = 0, offset = 0, size = 0, position = 0, step = 0, parameter = 0, flags = 0;
};

ItemFormItem makeItem(const ItemSpec& s) {
  ItemFormItem item{};
  item.words[ITEM_WORD_TYPE] = s.type;
  item.words[ITEM_WORD_WIDTH] = s.width;
  item.words[ITEM_WORD_LINES] = s.lines ? s.lines : 1;
  item.words[ITEM_WORD_OFFSET] = s.offset;
  item.words[ITEM_WORD_SIZE] = s.size;
  item.words[ITEM_WORD_POSITION] = s.position;
  item.words[ITEM_WORD_STEP] = s.step;
  item.words[ITEM_WORD_PARAMETER] = s.parameter;
  item.words[ITEM_WORD_FLAGS] = s.flags;
  return item;
}

constexpr uint16_t dosDate(int year, int month, int day) {
  return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}
constexpr uint16_t dosTime(int hour, int minute) { return static_cast<uint16_t>((hour << 11) | (minute << 5)); }

// One record in one segment, a table header and the form's text.
struct Form {
  std::vector<uint8_t> record = std::vector<uint8_t>(64);
  std::vector<uint8_t> header = std::vector<uint8_t>(8);
  std::vector<ItemFormItem> items;
  std::string text;
  ItemSegment segment{};
  ItemForm form{};

  const ItemForm* get() {
    segment = {static_cast<uint16_t>(record.size()), record.data()};
    form = {static_cast<uint16_t>(items.size()), items.data(), static_cast<uint16_t>(text.size()), text.data(),
            1, 1, &segment, static_cast<uint16_t>(header.size()), header.data()};
    return &form;
  }
  void put(size_t at, const void* bytes, size_t n) { std::memcpy(record.data() + at, bytes, n); }
  void put16(size_t at, uint16_t v) { put(at, &v, 2); }
  void put32(size_t at, int32_t v) { put(at, &v, 4); }
};

std::string show(Form& f, const ItemSpec& setup, int32_t line = 0) {
  const ItemFormItem item = makeItem(setup);
  char buffer[128];
  std::memset(buffer, 'x', sizeof buffer);
  if (ItemGetStr(f.get(), &item, line, buffer, sizeof buffer) != 0) return "(fail)";
  return buffer;
}

// The record every display case reads.
Form displayForm() {
  Form f;
  f.put32(0, 1234);
  f.put32(4, 250);
  f.put16(8, dosDate(2024, 3, 15));
  f.put16(10, dosDate(2000, 1, 1));
  f.put16(12, dosDate(1985, 6, 1));
  f.put16(14, dosDate(1999, 12, 31));
  const double real = 2.5;
  f.put(16, &real, 8);
  f.put16(24, 0);  // condition words
  f.put16(26, 1);
  f.put32(28, 0);
  f.put16(32, 0);  // date 0, time 9:05
  f.put16(34, dosTime(9, 5));
  f.put16(36, dosDate(2024, 3, 15));  // date and time 0:05
  f.put16(38, dosTime(0, 5));
  f.record[40] = 1;  // flags
  f.record[41] = 0;
  f.put(42, "ab,c\0\0", 6);
  f.put32(48, -500);
  f.put16(52, 1);  // reference word
  f.put16(56, 0);  // time 0:05 alone
  f.put16(58, dosTime(0, 5));
  const uint16_t headerValue = 7;
  std::memcpy(f.header.data(), &headerValue, 2);
  return f;
}

constexpr uint16_t kMinus80 = static_cast<uint16_t>(-80);
constexpr uint16_t kYearBits = 0x0709;  // shift 9, width 7
constexpr uint16_t kFlagZero = 0x6000;  // print flag "0"
constexpr uint16_t kReferenceInHeader = 0x8002;

TEST(ItemGetStr, ShowsEachTypeWithItsOffsetsConditionsAndReferences) {
  Form f = displayForm();
  struct Case {
    ItemSpec item;
    int32_t line;
    std::string expected;
  } cases[] = {
      {{7, 6, 1, 0, 4}, 0, "  1234"},
      {{7 | 0x40, 6, 1, 0, 4}, 0, " 1,234"},
      {{7, 3, 1, 0, 4}, 0, "***"},  // too wide: stars, not the digits "123"
      {{7, 6, 1, 28, 4}, 0, "      "},  // 0 shows blank
      {{7 | kFlagZero, 6, 1, 28, 4}, 0, "000000"},  // unless a print flag asks for it
      {{7 | kFlagZero, 6, 1, 0, 4}, 0, "001234"},
      {{7 | 0x100, 3, 1, 28, 4}, 0, "  0"},
      {{29, 6, 1, 48, 4}, 0, " \\500-"},
      // Value offsets: once per line, or times n + 1 when all lines share the field.
      {{7, 6, 1, 4, 4, 0, 4, 100}, 0, "   150"},
      {{7, 6, 3, 4, 4, 0, 0, 100}, 2, "   -50"},
      // Two-digit years over the year bits of a date word.
      {{4, 2, 1, 8, 2, kYearBits, 0, kMinus80}, 0, "24"},
      {{4, 2, 1, 14, 2, kYearBits, 0, kMinus80}, 0, "99"},
      {{4 | kFlagZero, 2, 1, 10, 2, kYearBits, 0, kMinus80}, 0, "00"},
      {{4 | 0x80, 4, 1, 8, 2, kYearBits, 0, kMinus80}, 0, "２４"},
      // Dates, era dates (with their reference word) and times.
      {{14, 8, 1, 8, 2}, 0, "24/03/15"},
      {{14, 5, 1, 8, 2}, 0, " 3/15"},
      {{31, 9, 1, 8, 2, 0, 0, 52}, 0, "R06/03/15"},
      {{31, 9, 1, 10, 2, 0, 0, 52}, 0, "H12/01/01"},
      {{31, 9, 1, 12, 2, 0, 0, 52}, 0, "S60/06/01"},
      {{31, 9, 1, 8, 2, 0, 0, kReferenceInHeader}, 0, ""},  // reference word 0: an empty text
      {{15, 8, 1, 58, 2}, 0, "00:05:00"},
      // Japanese date texts by the parts that are set.
      {{30, 24, 1, 8, 2}, 0, "      2024年 3月15日(金)"},
      {{30, 30, 1, 36, 4}, 0, "    2024年 3月15日(金) 0時 5分"},
      {{30, 10, 1, 32, 4}, 0, "   9時 5分"},
      {{30, 10, 1, 56, 4}, 0, "   0時 5分"},
      {{30, 6, 1, 8, 2, kYearBits}, 0, "2024年"},
      // Flags: odd types keep "on" inverted; never blank.
      {{20, 3, 1, 40, 1}, 0, " ON"},
      {{21, 3, 1, 40, 1}, 0, "OFF"},
      {{20, 3, 1, 41, 1}, 0, "OFF"},
      {{18, 4, 1, 40, 1}, 0, "****"},
      {{19, 4, 1, 40, 1}, 0, "    "},
      // Floats with decimals and a float offset (0.5f in words 14-15).
      {{8 | 0x200, 8, 1, 16, 8}, 0, "    2.50"},
      // Conditions: even types show when the word is 0, odd ones when it is not.
      {{40, 6, 1, 0, 4, 0, 0, 24}, 0, "  1234"},
      {{40, 6, 1, 0, 4, 0, 0, 26}, 0, "      "},
      {{41, 6, 1, 0, 4, 0, 0, 26}, 0, "  1234"},
      {{46 | 0x100, 3, 1, 28, 4, 0, 0, 24}, 0, "  0"},
      {{46 | 0x100, 3, 1, 28, 4, 0, 0, 26}, 0, "   "},
      {{46, 6, 1, 0, 4, 0, 0, 26}, 0, "  1234"},  // not 0: no condition
      // Text; a step of 0 moves text lines by the display width.
      {{0, 4, 1, 42, 6}, 0, "ab,c"},
      {{1, 6, 1, 42, 6}, 0, "  ab,c"},
      {{0, 2, 2, 42, 2}, 1, ",c"},
      // A field in the table header.
      {{7, 2, 1, 0x8000, 2}, 0, " 7"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(show(f, c.item, c.line), c.expected) << "type " << (c.item.type & 63) << " at " << c.item.offset;

  // The float offset itself: 2.5 - 0.5 shows 2.00; with a step of 0, line 1
  // takes it twice.
  ItemSpec withOffset{8 | 0x200, 8, 2, 16, 8, 0, 8, 0x0000, 0};
  ItemFormItem item = makeItem(withOffset);
  item.words[15] = 0x3F00;  // 0.5f
  char buffer[32];
  ASSERT_EQ(ItemGetStr(f.get(), &item, 0, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "    2.00");
  item.words[ITEM_WORD_STEP] = 0;
  ASSERT_EQ(ItemGetStr(f.get(), &item, 1, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "    1.50");
}

TEST(ItemGetStr, MonthAndDayTakeTheWeekdayOfTheCurrentYear) {
  Form f = displayForm();
  uint16_t today = 0;
  GetDate(&today, nullptr);
  const char* const weekdays[7] = {"日", "月", "火", "水", "木", "金", "土"};
  const int weekday = GetWeek(static_cast<uint16_t>((today & 0xFE00) | (3 << 5) | 15));
  EXPECT_EQ(show(f, {30, 14, 1, 8, 2, 0x0900}), std::string("   3月15日(") + weekdays[weekday] + ")");
}

TEST(ItemGetStr, ChoicesComeFromTheFormTextUpToTheNearestBoundary) {
  Form f;
  f.text = "現金掛売券  合計";  // choices 4 bytes wide, then another item's text at 12
  ItemSpec choice{32, 4, 1, 60, 1, 0, 0, 0, 0};
  struct Case {
    uint16_t type;
    uint8_t value;
    bool bounded;
    std::string expected;
  } cases[] = {
      {32, 0, true, "現金"}, {32, 1, true, "掛売"}, {32, 2, true, "券  "}, {32, 3, true, ""},
      {32, 255, true, ""},   {32, 3, false, "合計"}, {34, 7, true, "掛売"}, {34, 0, true, "現金"},
      {35, 0, true, "掛売"}, {35, 1, true, "現金"},
  };
  for (const auto& c : cases) {
    choice.type = c.type;
    f.items.clear();
    f.items.push_back(makeItem(choice));
    if (c.bounded) f.items.push_back(makeItem({0, 4, 1, 0, 4, 0, 0, 12, 0x400}));
    f.record[60] = c.value;
    EXPECT_EQ(show(f, choice), c.expected) << c.type << " " << int(c.value);
  }

  // The buffer must hold the whole choice area: -1 without a report.
  ScriptedMessageBox box;
  f.items = {makeItem(choice), makeItem({0, 4, 1, 0, 4, 0, 0, 12, 0x400})};
  const ItemFormItem item = makeItem(choice);
  char buffer[16];
  EXPECT_EQ(ItemGetStr(f.get(), &item, 0, buffer, 12), -1);
  EXPECT_EQ(ItemGetStr(f.get(), &item, 0, buffer, 13), 0);
  EXPECT_EQ(box.count(), 0u);
}

TEST(ItemGetStr, RefusesWhatDoesNotFitWithTheRangeError) {
  Form f = displayForm();
  const std::string rangeText = zemta::errorText(ZEMTA_ERR_MEMORY_RANGE);
  struct Case {
    ItemSpec item;
    int32_t line;
    int32_t size;
  } cases[] = {
      {{7, 6, 1, 0, 4}, 0, 6},       // buffer not above the display width
      {{7, 6, 2, 0, 4, 0, 4}, 2, 32},  // line not below the line count
      {{7, 6, 1, 62, 4}, 0, 32},     // field runs past the end of the segment
      {{7, 6, 1, 64, 4}, 0, 32},     // field past every segment
      {{7, 6, 1, 0, 5}, 0, 32},      // integer wider than 4 bytes
      {{8, 6, 1, 16, 5}, 0, 32},     // float neither 4 nor 8 bytes
      {{7, 2, 1, 0x8007, 2}, 0, 32},  // past the table header
  };
  for (const auto& c : cases) {
    ScriptedMessageBox box;
    const ItemFormItem item = makeItem(c.item);
    char buffer[32];
    EXPECT_EQ(ItemGetStr(f.get(), &item, c.line, buffer, c.size), -1) << c.item.offset;
    ASSERT_EQ(box.count(), 1u) << c.item.offset;
    EXPECT_EQ(box.lastText(), rangeText);
  }
}

TEST(ItemSegments, WalkColumnByColumn) {
  // 2 rows x 2 columns; entry (row j, column i) at i + 2j. Walk: 0, 2, 1, 3.
  uint8_t a[10], b[30], c[20], d[40];
  ItemSegment table[4] = {{10, a}, {30, b}, {20, c}, {40, d}};
  ItemFormItem item = makeItem({7, 4, 11, 5, 4, 0, 10});
  struct Case {
    int32_t line;
    const ItemSegment* segment;
    int32_t offset;
  } cases[] = {{0, &table[0], 5}, {2, &table[2], 15}, {3, &table[1], 5}, {6, &table[3], 5}, {10, nullptr, 0}};
  ScriptedMessageBox box;
  for (const auto& k : cases) {
    int32_t offset = -1;
    EXPECT_EQ(ItemGetSegment(2, 2, table, &item, k.line, &offset), k.segment) << k.line;
    if (k.segment) {
      EXPECT_EQ(offset, k.offset) << k.line;
    }
  }
  EXPECT_EQ(ItemGetSegment(2, 2, table, &item, 11, nullptr), nullptr);  // line past the count
  ItemSegment gap[4] = {{10, a}, {30, b}, {0, c}, {40, d}};
  EXPECT_EQ(ItemGetSegment(2, 2, gap, &item, 3, nullptr), nullptr);  // zero-size segment first
  ItemSegment empty[4] = {{10, a}, {30, nullptr}, {20, c}, {40, d}};
  EXPECT_EQ(ItemGetSegment(2, 2, empty, &item, 3, nullptr), nullptr);  // no buffer
  item.words[ITEM_WORD_OFFSET] = 0x8005;
  EXPECT_EQ(ItemGetSegment(2, 2, table, &item, 0, nullptr), nullptr);  // table header
  EXPECT_EQ(box.count(), 0u);

  ItemForm form{};
  form.segmentRows = 2;
  form.segmentColumns = 2;
  form.segments = table;
  EXPECT_EQ(ItemGetDataPtr(&form, 8, 2), a + 8);
  EXPECT_EQ(ItemGetDataPtr(&form, 35, 4), b + 5);
  EXPECT_EQ(ItemGetDataPtr(&form, 8, 4), nullptr);  // would run past its segment
  EXPECT_EQ(ItemGetDataPtr(&form, 100, 1), nullptr);
  EXPECT_EQ(box.count(), 2u);
  EXPECT_EQ(box.lastText(), zemta::errorText(ZEMTA_ERR_MEMORY_RANGE));
}

TEST(ItemGetBreakLen, NearestBoundaryBeyondThePosition) {
  std::vector<ItemFormItem> items = {
      makeItem({0, 4, 1, 0, 4, 0, 0, 10, 0x400}),  // own position marked
      makeItem({32, 4, 1, 0, 1, 0, 0, 20, 0}),     // a choice always is one
      makeItem({0, 4, 1, 0, 4, 0, 0, 7, 0}),       // not marked
  };
  ItemFormItem marks = makeItem({0, 4, 1, 0, 4, 0, 0, 0, 0x800 | 0x8000});
  marks.words[15] = 30;
  marks.words[21] = 5;
  marks.words[16] = 3;  // its flag 0x1000 is not set
  items.push_back(marks);
  const int32_t count = static_cast<int32_t>(items.size());
  struct Case {
    int32_t position, expected;
  } cases[] = {{0, 5}, {5, 5}, {12, 8}, {25, 5}, {35, 5}, {39, 1}};
  for (const auto& c : cases) EXPECT_EQ(ItemGetBreakLen(count, items.data(), 40, c.position), c.expected) << c.position;
  ScriptedMessageBox box;
  EXPECT_EQ(ItemGetBreakLen(count, items.data(), 40, 40), -1);
  EXPECT_EQ(ItemGetBreakLen(count, items.data(), 40, -1), -1);
  EXPECT_EQ(box.count(), 2u);
  EXPECT_EQ(box.lastText(), zemta::errorText(ZEMTA_ERR_MEMORY_RANGE));
}

TEST(ItemSetStr, StoresBackWhatItemGetStrShows) {
  Form base = displayForm();
  base.text = "現金掛売券  ";
  const float half = 0.5f;
  uint16_t halfWords[2];
  std::memcpy(halfWords, &half, 4);
  struct Case {
    ItemSpec item;
    int32_t line;
    std::vector<uint8_t> value;  // the field's bytes
  } cases[] = {
      {{7 | 0x40, 8, 1, 0, 4}, 0, {0x2E, 0xFB, 0xFF, 0xFF}},  // -1234 as "  -1,234"
      {{28 | 0x40, 8, 1, 0, 4}, 0, {0xD2, 0x04, 0, 0}},        // " \1,234"
      {{29, 6, 1, 0, 4}, 0, {0x0C, 0xFE, 0xFF, 0xFF}},         // " \500-"
      {{6, 8, 1, 0, 4}, 0, {0xEF, 0xBE, 0, 0}},                // "    BEEF"
      {{3, 4, 1, 0, 4}, 0, {8, 0, 0, 0}},                      // "  10"
      {{7, 6, 2, 0, 4, 0, 0, 100}, 1, {250, 0, 0, 0}},         // "    50"
      {{7, 6, 1, 0, 4}, 0, {0, 0, 0, 0}},                      // blank
      {{14, 8, 1, 0, 2}, 0, {0x6F, 0x58}},                     // "24/03/15"
      {{31, 9, 1, 0, 2, 0, 0, 52}, 0, {0x21, 0x28}},           // "H12/01/01"
      {{31, 9, 1, 0, 2, 0, 0, 52}, 0, {0xC1, 0x0A}},           // "S60/06/01"
      {{15, 8, 1, 0, 2}, 0, {0x5C, 0x64}},                     // "12:34:56"
      {{20, 3, 1, 0, 1}, 0, {1}},
      {{20, 3, 1, 0, 1}, 0, {0}},
      {{21, 3, 1, 0, 1}, 0, {1}},
      {{21, 3, 1, 0, 1}, 0, {0}},
      {{18, 4, 1, 0, 1}, 0, {1}},
      {{19, 4, 1, 0, 1}, 0, {0}},
      {{19, 4, 1, 0, 1}, 0, {1}},
      {{32, 4, 1, 0, 1}, 0, {2}},
      {{34, 4, 1, 0, 1}, 0, {1}},
      {{35, 4, 1, 0, 1}, 0, {0}},
      {{0, 6, 1, 0, 6}, 0, {'a', 'b', ',', 'c', 0, 0}},
      {{8 | 0x200, 8, 1, 0, 8, 0, 8, 0}, 0, {0, 0, 0, 0, 0, 0, 4, 0x40}},  // 2.5 minus 0.5
  };
  for (const auto& c : cases) {
    Form f = base;
    ItemFormItem item = makeItem(c.item);
    if ((c.item.type & 63) == 8) item.words[15] = halfWords[1];
    const size_t at = c.item.offset + static_cast<size_t>(c.line) * c.item.step;
    std::memcpy(f.record.data() + at, c.value.data(), c.value.size());
    const std::vector<uint8_t> original = f.record;
    char shown[64];
    ASSERT_EQ(ItemGetStr(f.get(), &item, c.line, shown, sizeof shown), 0);
    std::memset(f.record.data() + at, 0xAB, c.value.size());
    EXPECT_EQ(ItemSetStr(f.get(), &item, c.line, shown), 1) << "type " << (c.item.type & 63) << " \"" << shown << "\"";
    EXPECT_EQ(f.record, original) << "type " << (c.item.type & 63) << " \"" << shown << "\"";
    EXPECT_EQ(ItemSetStr(f.get(), &item, c.line, shown), 0) << "type " << (c.item.type & 63);
  }
}

TEST(ItemSetStr, KeepsTheBitsAndTheYearItDoesNotShow) {
  Form f;
  f.put16(0, dosDate(2024, 3, 15));
  const ItemFormItem year = makeItem({4, 2, 1, 0, 2, kYearBits, 0, kMinus80});
  EXPECT_EQ(ItemSetStr(f.get(), &year, 0, "31"), 1);
  EXPECT_EQ(f.record[0] | f.record[1] << 8, dosDate(2031, 3, 15));
  EXPECT_EQ(ItemSetStr(f.get(), &year, 0, "99"), 1);
  EXPECT_EQ(f.record[0] | f.record[1] << 8, dosDate(1999, 3, 15));

  const ItemFormItem monthDay = makeItem({14, 5, 1, 0, 2});
  EXPECT_EQ(ItemSetStr(f.get(), &monthDay, 0, "12/24"), 1);
  EXPECT_EQ(f.record[0] | f.record[1] << 8, dosDate(1999, 12, 24));
}

TEST(ItemSetStr, RefusesWithoutChangingTheRecord) {
  Form f = displayForm();
  f.text = "現金掛売";
  const std::vector<uint8_t> original = f.record;
  struct Case {
    ItemSpec item;
    const char* text;
    uint32_t code;  // 0: no report
  } cases[] = {
      {{32, 4, 1, 60, 1}, "小切手", ZEMTA_ERR_BAD_PARAMETER},  // no such choice
      {{7, 6, 1, 0, 4}, "abc", 0},                            // no number
      {{30, 24, 1, 8, 2}, "2024/3/15", ZEMTA_ERR_MEMORY_RANGE},  // no input form
      {{7, 6, 1, 0, 5}, "1", ZEMTA_ERR_MEMORY_RANGE},
      {{7, 6, 1, 62, 4}, "1", ZEMTA_ERR_MEMORY_RANGE},
  };
  for (const auto& c : cases) {
    ScriptedMessageBox box;
    const ItemFormItem item = makeItem(c.item);
    EXPECT_EQ(ItemSetStr(f.get(), &item, 0, c.text), -1) << c.text;
    EXPECT_EQ(f.record, original) << c.text;
    if (c.code) {
      ASSERT_EQ(box.count(), 1u) << c.text;
      EXPECT_EQ(box.lastText(), zemta::errorText(c.code));
    } else {
      EXPECT_EQ(box.count(), 0u) << c.text;
    }
  }
}

TEST(ItemValues, StoredInTheFieldsOwnTypeWithinItsRange) {
  Form f;
  ScriptedMessageBox box;
  struct Case {
    ItemSpec item;
    int32_t kind;
    double value;
    int32_t result;
  } cases[] = {
      {{7, 4, 1, 0, 1}, ITEM_VALUE_INTEGER, 127, 1},
      {{7, 4, 1, 0, 1}, ITEM_VALUE_INTEGER, 127, 0},
      {{7, 4, 1, 0, 1}, ITEM_VALUE_INTEGER, 128, -1},
      {{7, 4, 1, 0, 1}, ITEM_VALUE_INTEGER, -128, 1},
      {{7, 4, 1, 0, 1}, ITEM_VALUE_INTEGER, -129, -1},
      {{4, 4, 1, 1, 1, 0x0400}, ITEM_VALUE_INTEGER, 15, 1},
      {{4, 4, 1, 1, 1, 0x0400}, ITEM_VALUE_INTEGER, 16, -1},
      {{4, 4, 1, 1, 1, 0x0400}, ITEM_VALUE_INTEGER, -1, -1},
      {{7, 4, 1, 4, 4}, ITEM_VALUE_DOUBLE, 12.9, 1},
      {{8, 4, 1, 8, 4}, ITEM_VALUE_DOUBLE, 1.5, 1},
      {{8, 4, 1, 8, 4}, ITEM_VALUE_DOUBLE, 1e39, -1},
      {{0, 4, 1, 12, 4}, ITEM_VALUE_INTEGER, 1, -1},
  };
  for (const auto& c : cases) {
    const ItemFormItem item = makeItem(c.item);
    const int32_t integer = static_cast<int32_t>(c.value);
    const void* value = c.kind == ITEM_VALUE_INTEGER ? static_cast<const void*>(&integer) : &c.value;
    EXPECT_EQ(ItemSetValue(f.get(), &item, 0, c.kind, value), c.result) << c.value;
  }
  EXPECT_EQ(f.record[0], 0x80);
  EXPECT_EQ(f.record[1], 0x0F);
  int32_t integer = 0;
  const ItemFormItem signedByte = makeItem({7, 4, 1, 0, 1});
  EXPECT_EQ(ItemGetValue(f.get(), &signedByte, 0, &integer, 4), 4);
  EXPECT_EQ(integer, -128);
  const ItemFormItem whole = makeItem({7, 4, 1, 4, 4});
  EXPECT_EQ(ItemGetValue(f.get(), &whole, 0, &integer, 4), 4);
  EXPECT_EQ(integer, 12);
  double real = 0;
  const ItemFormItem single = makeItem({8, 4, 1, 8, 4});
  EXPECT_EQ(ItemGetValue(f.get(), &single, 0, &real, 8), 8);
  EXPECT_EQ(real, 1.5);
  const ItemFormItem text = makeItem({0, 4, 1, 12, 4});
  EXPECT_EQ(ItemSetValue(f.get(), &text, 0, 0, "ABCD"), 1);
  char bytes[4];
  EXPECT_EQ(ItemGetValue(f.get(), &text, 0, bytes, 4), 4);
  EXPECT_EQ(std::string(bytes, 4), "ABCD");
  EXPECT_EQ(ItemGetValue(f.get(), &text, 0, bytes, 3), -1);  // buffer too small

  // A page counter on line 2 of a repeating item.
  const ItemFormItem counter = makeItem({7, 4, 3, 16, 4, 0, 4});
  const int32_t page = 42;
  EXPECT_EQ(ItemSetValue(f.get(), &counter, 2, ITEM_VALUE_INTEGER, &page), 1);
  std::memcpy(&integer, f.record.data() + 24, 4);
  EXPECT_EQ(integer, 42);
}

}  // namespace
