#include "lib/core/item_types.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/scripted_message_box.h"
#include "zemta/typed.h"

namespace {

using testing_support::ScriptedMessageBox;

TEST(BitFields, GetAndSet) {
  uint8_t field[4] = {0, 0, 0, 0};
  const uint16_t position = (7 << 8) | 9;  // year bits of a DOS date
  zemta::SetBitData(position, 2, field, 44);
  EXPECT_EQ(field[0] | field[1] << 8, 44 << 9);
  EXPECT_EQ(zemta::GetBitData(2, field, position, false), 44u);
  zemta::SetBitData((4 << 8) | 0, 1, field, 0xF);
  EXPECT_EQ(zemta::GetBitData(1, field, (4 << 8) | 0, true), 0xFFFFFFFFu);  // -1 sign-extended
  EXPECT_EQ(zemta::GetBitData(1, field, (4 << 8) | 0, false), 15u);
  // Shift 32 or more: the whole field; width past bit 31 is cut.
  uint8_t whole[4] = {1, 2, 3, 4};
  EXPECT_EQ(zemta::GetBitData(4, whole, 40, false), 0x04030201u);
  EXPECT_EQ(zemta::GetBitData(4, whole, (20 << 8) | 24, false), 4u);
}

TEST(ItemInput, StoresByType) {
  uint8_t field[8] = {};
  EXPECT_EQ(zemta::ItemStrToData(7, 0, 4, field, "-12"), 1);
  EXPECT_EQ(zemta::ItemStrToData(7, 0, 4, field, "-12"), 0);  // unchanged
  int32_t v;
  std::memcpy(&v, field, 4);
  EXPECT_EQ(v, -12);
  EXPECT_EQ(zemta::ItemStrToData(14, 0, 2, field, "24/3/15"), 1);
  EXPECT_EQ(field[0] | field[1] << 8, (44 << 9) | (3 << 5) | 15);
  EXPECT_EQ(zemta::ItemStrToData(14, 0, 2, field, "H31/4/30"), 1);
  EXPECT_EQ(field[0] | field[1] << 8, (39 << 9) | (4 << 5) | 30);
  EXPECT_EQ(zemta::ItemStrToData(14, 0, 2, field, "R6/3/15"), 1);
  EXPECT_EQ(field[0] | field[1] << 8, (44 << 9) | (3 << 5) | 15);
  EXPECT_EQ(zemta::ItemStrToData(14, 0, 2, field, "24/13/1"), 1);  // no date: 0
  EXPECT_EQ(field[0] | field[1] << 8, 0);
  EXPECT_EQ(zemta::ItemStrToData(15, 0, 2, field, "12:34:56"), 1);
  EXPECT_EQ(field[0] | field[1] << 8, (12 << 11) | (34 << 5) | 28);
  EXPECT_EQ(zemta::ItemStrToData(0, 0, 6, field, "ab   "), 1);
  EXPECT_EQ(std::memcmp(field, "ab\0\0\0\0", 6), 0);
  EXPECT_EQ(zemta::ItemStrToData(7, 0, 8, field, "1"), -1);  // integers take at most 4 bytes
}

TEST(ItemDisplay, Forms) {
  int32_t v = 1234567;
  uint8_t bytes[8];
  std::memcpy(bytes, &v, 4);
  EXPECT_EQ(zemta::ItemDataToStr(7, 10, bytes, 4), "   1234567");
  EXPECT_EQ(zemta::ItemDataToStr(7 | 0x40, 10, bytes, 4), " 1,234,567");
  EXPECT_EQ(zemta::ItemDataToStr(28 | 0x40, 11, bytes, 4), " \\1,234,567");
  v = -500;
  std::memcpy(bytes, &v, 4);
  EXPECT_EQ(zemta::ItemDataToStr(29, 6, bytes, 4), " \\500-");
  uint16_t date = (44 << 9) | (3 << 5) | 15;
  std::memcpy(bytes, &date, 2);
  EXPECT_EQ(zemta::ItemDataToStr(14, 8, bytes, 2), "24/03/15");
  EXPECT_EQ(zemta::ItemDataToStr(14, 5, bytes, 2), " 3/15");
  double d = 2.5;
  std::memcpy(bytes, &d, 8);
  EXPECT_EQ(zemta::ItemDataToStr(8 | (2 << 8), 6, bytes, 8), "  2.50");
  EXPECT_EQ(zemta::ItemDataToStr(2, 6, bytes, 4), "#Error!");
  // Text never ends on a lead byte.
  EXPECT_EQ(zemta::ItemDataToStr(0, 2, reinterpret_cast<const uint8_t*>("aあ"), 3), "a");
  EXPECT_EQ(zemta::ItemDataToStr(0, 3, reinterpret_cast<const uint8_t*>("aあ"), 3), "aあ");
}

TEST(ItemValues, SetAndGet) {
  uint8_t record[16] = {};
  ItemValue v{};
  v.offset = 4;
  v.size = 4;
  v.type = 7 | 0x40;
  v.record = record;
  v.kind = ITEM_VALUE_INTEGER;
  v.integer = -98765;
  EXPECT_EQ(ItemSetData(&v), 1);
  EXPECT_EQ(ItemSetData(&v), 0);
  v.kind = ITEM_VALUE_TEXT;
  EXPECT_EQ(ItemGetData(&v), 0);
  EXPECT_STREQ(v.text, "    -98,765");  // 11 wide for 32 signed bits
  v.kind = ITEM_VALUE_DOUBLE;
  v.real = 0;
  ItemGetData(&v);
  EXPECT_EQ(v.real, -98765.0);

  ScriptedMessageBox box;
  EXPECT_EQ(ItemGetData(nullptr), -1);
  v.type = 8;
  v.size = 5;
  EXPECT_EQ(ItemGetData(&v), -1);
  EXPECT_EQ(box.count(), 2u);
  EXPECT_EQ(std::string(box.lastText()).find("\x83\x70\x83\x89\x83\x81\x81\x5B\x83\x5E") != std::string::npos, true);
}

TEST(ItemSql, TypesAndInfo) {
  ItemValue f{};
  int16_t type;
  char name[16];
  int32_t size;
  struct Case {
    uint16_t itemType, size, position;
    int16_t sqlType;
    const char* name;
    int32_t column;
  } cases[] = {
      {0, 300, 0, 1, "CHAR", 255}, {8, 8, 0, 8, "DOUBLE", 15}, {8, 4, 0, 7, "REAL", 7},
      {14, 2, 0, 11, "TIMESTAMP", 19}, {16, 1, 0x0100, -7, "BIT", 1}, {7, 1, 0, -6, "TINYINT", 3},
      {7, 2, 0, 5, "SMALLINT", 5}, {7, 4, 0, 4, "INTEGER", 10}, {7, 4, 0x0C00, 5, "SMALLINT", 5},
      {7, 8, 0, -5, "BIGINT", 19},
  };
  for (const auto& c : cases) {
    f.type = c.itemType;
    f.size = c.size;
    f.position = c.position;
    EXPECT_EQ(ItemConvSqlType(&f, &type, name, &size), c.sqlType) << c.name;
    EXPECT_STREQ(name, c.name);
    EXPECT_EQ(size, c.column) << c.name;
  }
  EXPECT_EQ(ItemGetTypeInfo(nullptr, 0, 0), 23);
  ItemTypeInfoRow row;
  EXPECT_EQ(ItemGetTypeInfo(&row, -6, 0), -6);
  EXPECT_STREQ(row.typeName, "BYTE");
  EXPECT_EQ(ItemGetTypeInfo(&row, 0, 22), -11);
  EXPECT_STREQ(row.literalPrefix, "0x");
  EXPECT_EQ(row.columnSize, 510);
  EXPECT_EQ(ItemGetTypeInfo(&row, 12, 0), 12);
  EXPECT_STREQ(row.createParams, "length");
}

}  // namespace
