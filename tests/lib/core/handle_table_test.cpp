#include "lib/core/handle_table.h"

#include <gtest/gtest.h>

namespace {

using zemta::HandleTable;

TEST(HandleTable, FindsLiveObjectsAndNothingElse) {
  HandleTable<int> table(0x25340000, 0xFFFF, 4);
  uint32_t a = table.add(std::make_unique<int>(1));
  uint32_t b = table.add(std::make_unique<int>(2));
  ASSERT_NE(a, 0u);
  EXPECT_EQ(a & 0xFFFF0000u, 0x25340000u);
  EXPECT_EQ(*table.find(a), 1);
  EXPECT_EQ(*table.find(b), 2);
  EXPECT_EQ(table.find(0), nullptr);
  EXPECT_EQ(table.find(0x12340000 | (a & 0xFFFF)), nullptr);  // another family's check word
  EXPECT_EQ(table.find(0x25340000 | 0x00FF), nullptr);          // a slot past the table
  table.add(std::make_unique<int>(3));
  table.add(std::make_unique<int>(4));
  EXPECT_EQ(table.add(std::make_unique<int>(5)), 0u);  // full
}

TEST(HandleTable, AStaleHandleDoesNotReachTheSlotsNextObject) {
  HandleTable<int> table(0x42540000, 0xFFFF, 256);
  uint32_t old = table.add(std::make_unique<int>(1));
  table.remove(old);
  EXPECT_EQ(table.find(old), nullptr);
  uint32_t reused = table.add(std::make_unique<int>(2));
  EXPECT_NE(reused, old);
  EXPECT_EQ(table.find(old), nullptr);
  EXPECT_EQ(table.remove(old), nullptr);
  EXPECT_EQ(*table.find(reused), 2);
}

TEST(HandleTable, GenerationsStayInsideTheSlotBits) {
  // 32 slots in a mask of 0xFF: 6 bits number the slot, 2 count generations.
  HandleTable<int> table(0x5A500000, 0xFF, 32);
  for (int round = 0; round < 10; ++round) {
    uint32_t h = table.add(std::make_unique<int>(round));
    EXPECT_EQ(h & 0xFFFFFF00u, 0x5A500000u);
    EXPECT_EQ(*table.find(h), round);
    table.remove(h);
  }
}

}  // namespace
