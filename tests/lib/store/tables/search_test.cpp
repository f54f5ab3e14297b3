// Index searches and record lists over a real table in a temporary folder:
// the typed search keys of the search fields, ranges, the set operations
// against a brute-force scan, and lists that fill up.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "lib/store/store_test_support.h"
#include "zemta/date.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"
#include "zemta/fileidx.h"
#include "zemta/filesearch.h"

namespace {

// Record: number (2 bytes, index 0), code (4 bytes, index 1), name (8 bytes
// text, index 2), day (DOS date word, index 3), group (2 bytes, index 4).
constexpr uint32_t kRecordLen = 24;
constexpr uint32_t kNumber = 0, kCode = 2, kName = 6, kDay = 14, kGroup = 16;

struct Row {
  uint16_t number = 0;
  uint32_t code = 0;
  std::string name;
  uint16_t day = 0;
  uint16_t group = 0;
};

std::vector<uint8_t> image(const Row& r) {
  std::vector<uint8_t> b(kRecordLen, 0);
  b[kNumber] = r.number & 0xFF;
  b[kNumber + 1] = r.number >> 8;
  for (int i = 0; i < 4; ++i) b[kCode + i] = static_cast<uint8_t>(r.code >> (8 * i));
  std::memcpy(b.data() + kName, r.name.data(), std::min<size_t>(r.name.size(), 8));
  b[kDay] = r.day & 0xFF;
  b[kDay + 1] = r.day >> 8;
  b[kGroup] = r.group & 0xFF;
  b[kGroup + 1] = r.group >> 8;
  return b;
}

uint16_t dosDate(int year, int month, int day) {
  return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}

class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override { messages_ = ZemtaEnableLastErrorMessage(0); }
  void TearDown() override {
    if (table_) FileDBDelete(table_);
    if (other_) FileDBDelete(other_);
    ZemtaEnableLastErrorMessage(messages_);
  }

  FileDBHandle makeTable(const std::string& name, const std::vector<Row>& rows) {
    FileDBHandle t = FileDBCreate(folder_.file(name + ".dbf").c_str(), 7, 0, kRecordLen, name.c_str(), nullptr);
    EXPECT_NE(t, 0u);
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(FileDBRecWrite(t, static_cast<int32_t>(i), image(rows[i]).data()), 0);
    EXPECT_EQ(FileAddIndex(t, folder_.file(name + "_no.bxx").c_str(), 8, 4, kNumber, 2, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(FileAddIndex(t, folder_.file(name + "_cd.bxx").c_str(), 8, 4, kCode, 4, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(FileAddIndex(t, folder_.file(name + "_nm.bxx").c_str(), 8, 0, kName, 8, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(FileAddIndex(t, folder_.file(name + "_dy.bxx").c_str(), 8, 14, kDay, 2, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(FileAddIndex(t, folder_.file(name + "_gr.bxx").c_str(), 8, 4, kGroup, 2, 0, nullptr, nullptr, nullptr), 0);
    return t;
  }

  // The records a typed text finds on one index.
  std::vector<uint32_t> find(int32_t index, uint32_t type, int32_t size, const char* text) {
    std::vector<uint8_t> from(size), to(size);
    FileIdxKeyMake(type, size, from.data(), to.data(), text, nullptr);
    FileRecList list{};
    EXPECT_EQ(FileIdxSear(table_, index, from.data(), to.data(), &list, 0, 1), 0) << text;
    std::vector<uint32_t> found(list.items, list.items + list.count);
    FileDeleteRecList(&list);
    return found;
  }

  store_test::TempFolder folder_;
  FileDBHandle table_ = 0, other_ = 0;
  int32_t messages_ = 0;
};

TEST_F(SearchTest, TypedKeysFindTheRecordsTheUserMeant) {
  std::vector<Row> rows = {
      {99, 65535, "AB", dosDate(1998, 1, 1)},    {100, 65536, "ABC", dosDate(1998, 12, 31)},
      {101, 70000, "ABZZ", dosDate(1997, 12, 31)}, {5, 10, "AC", dosDate(1999, 1, 1)},
      {200, 1, "A", dosDate(1998, 5, 31)},        {0, 0, "B", dosDate(1998, 6, 1)},
  };
  table_ = makeTable("keys", rows);
  struct Case {
    int32_t index;
    uint32_t type;
    int32_t size;
    const char* text;
    std::vector<uint32_t> records;  // in index order
  };
  const Case cases[] = {
      {0, 4, 2, ">100", {2, 4}},
      {0, 4, 2, ">=100", {1, 2, 4}},
      {0, 4, 2, "<100", {5, 3, 0}},
      {0, 4, 2, "<=100", {5, 3, 0, 1}},
      {0, 4, 2, "=100", {1}},
      {0, 4, 2, "101", {2}},
      // A 4-byte key steps as a whole: above 65535 is 65536 and up, not every record.
      {1, 4, 4, ">65535", {1, 2}},
      {1, 4, 4, "<65536", {5, 4, 3, 0}},
      {2, 0, 8, "AB", {0, 1, 2}},
      {2, 0, 8, "A", {4, 0, 1, 2, 3}},
      {3, 14, 2, "H10", {0, 4, 5, 1}},
      {3, 14, 2, "H10/5", {4}},
      {3, 14, 2, "H10/6/1", {5}},
  };
  for (const auto& c : cases) EXPECT_EQ(find(c.index, c.type, c.size, c.text), c.records) << c.text;
}

TEST_F(SearchTest, DayAloneIsTheCurrentMonthAndTildeCoversAMonth) {
  uint16_t today = 0;
  GetDate(&today, nullptr);
  uint16_t the25th = static_cast<uint16_t>((today & ~0x1F) | 25);
  table_ = makeTable("days", {{1, 1, "X", the25th}, {2, 2, "Y", static_cast<uint16_t>(the25th - 1)}});
  EXPECT_EQ(find(3, 14, 2, "25"), std::vector<uint32_t>{0});

  uint8_t from[2], to[2];
  FileIdxKeyMake(14, 2, from, to, "~H10/03/15", nullptr);
  EXPECT_EQ(from[0] | (from[1] << 8), dosDate(1998, 2, 16));
  EXPECT_EQ(to[0] | (to[1] << 8), dosDate(1998, 3, 15));
}

TEST_F(SearchTest, RangesListsAndTheirEnds) {
  std::vector<Row> rows;
  for (uint16_t i = 0; i < 8; ++i) rows.push_back({static_cast<uint16_t>(10 + i), i, "N", 0});
  table_ = makeTable("ranges", rows);
  uint16_t from = 10, to = 17;
  FileRecList list{};
  ASSERT_EQ(FileNewRecList(&list, 5), 0);
  EXPECT_EQ(FileIdxSear(table_, 0, &from, &to, &list, 0, 1), 1);
  EXPECT_EQ(std::vector<uint32_t>(list.items, list.items + list.count), (std::vector<uint32_t>{0, 1, 2, 3, 4}));
  FileDeleteRecList(&list);
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(list.items, nullptr);

  // Descending when from > to; ends left out by the flags.
  EXPECT_EQ(FileIdxSear(table_, 0, &to, &from, &list, 0, 1), 0);
  EXPECT_EQ(std::vector<uint32_t>(list.items, list.items + list.count), (std::vector<uint32_t>{7, 6, 5, 4, 3, 2, 1, 0}));
  FileDeleteRecList(&list);
  EXPECT_EQ(FileIdxSear(table_, 0, &from, &to, &list, FILEIDX_FROM_EXCLUDED, 1), 0);
  EXPECT_EQ(list.count, 7);
  EXPECT_EQ(list.items[0], 1u);
  FileDeleteRecList(&list);
  int32_t first = 6, last = 2;
  EXPECT_EQ(FileIdxSear(table_, FILEIDX_RECORD_ORDER, &first, &last, &list, FILEIDX_TO_EXCLUDED, 1), 0);
  EXPECT_EQ(std::vector<uint32_t>(list.items, list.items + list.count), (std::vector<uint32_t>{6, 5, 4, 3}));
  FileDeleteRecList(&list);

  // An empty table: 0 and an empty list, with and without a caller's array.
  other_ = makeTable("empty", {});
  EXPECT_EQ(FileIdxSear(other_, 0, &from, &to, &list, 0, 1), 0);
  EXPECT_EQ(list.count, 0);
  ASSERT_EQ(FileNewRecList(&list, 3), 0);
  EXPECT_EQ(FileIdxSear(other_, 0, &from, &to, &list, 0, 1), 0);
  EXPECT_EQ(list.count, 0);
  FileDeleteRecList(&list);
  EXPECT_EQ(FileIdxSear(table_, 42, &from, &to, &list, 0, 1), -1);
}

TEST_F(SearchTest, CombineAndOrder) {
  FileRecList list{}, other{};
  ASSERT_EQ(FileNewRecList(&list, 10), 0);
  ASSERT_EQ(FileNewRecList(&other, 10), 0);
  other.items[0] = 2;
  other.items[1] = 5;
  other.count = 2;
  EXPECT_EQ(FileIdxCombine(&list, &other, 2), 0);
  EXPECT_EQ(std::vector<uint32_t>(list.items, list.items + list.count), (std::vector<uint32_t>{0, 1, 3, 4, 6, 7, 8, 9}));

  FileRecList small{};
  ASSERT_EQ(FileNewRecList(&small, 3), 0);
  EXPECT_EQ(FileIdxCombine(&small, &other, 2), 1);  // full after 0, 1, 3
  EXPECT_EQ(small.count, 3);
  EXPECT_EQ(FileIdxCombine(&small, &other, 7), -1);

  std::vector<Row> rows;
  for (uint16_t i = 0; i < 10; ++i) rows.push_back({static_cast<uint16_t>(100 - i), i, "N", 0, static_cast<uint16_t>(i % 3)});
  table_ = makeTable("order", rows);
  list.count = 0;
  for (uint32_t n : {7u, 2u, 7u, 9u}) list.items[list.count++] = n;
  int32_t byNumber = 0;
  uint32_t up = 0;
  EXPECT_EQ(FileIdxOrder(table_, &list, 1, &byNumber, &up), 0);
  EXPECT_EQ(std::vector<uint32_t>(list.items, list.items + list.count), (std::vector<uint32_t>{9, 7, 2}));
  FileDeleteRecList(&list);
  FileDeleteRecList(&other);
  FileDeleteRecList(&small);
}

// The set operations against a scan of every record.
TEST_F(SearchTest, AndOrJoinOrderAgreeWithABruteForceScan) {
  std::mt19937 random(20240607);
  std::vector<Row> rows(3000), others(800);
  for (auto& r : rows) {
    r.number = static_cast<uint16_t>(random() % 1000);
    r.code = random() % 5000;
    r.group = static_cast<uint16_t>(random() % 40);
  }
  for (auto& r : others) {
    r.number = static_cast<uint16_t>(random() % 1000);
    r.group = static_cast<uint16_t>(random() % 40);
  }
  table_ = makeTable("big", rows);
  other_ = makeTable("other", others);
  auto brute = [&](auto predicate) {
    std::set<uint32_t> s;
    for (uint32_t i = 0; i < rows.size(); ++i)
      if (predicate(rows[i])) s.insert(i);
    return s;
  };
  auto asSet = [](const FileRecList& l) { return std::set<uint32_t>(l.items, l.items + l.count); };

  for (int round = 0; round < 6; ++round) {
    uint16_t a = static_cast<uint16_t>(random() % 1000), b = static_cast<uint16_t>(random() % 1000);
    uint16_t lo = std::min(a, b), hi = std::max(a, b);
    uint16_t g1 = static_cast<uint16_t>(random() % 40), g2 = static_cast<uint16_t>(g1 + random() % 10);
    FileRecList list{};
    ASSERT_EQ(FileIdxSear(table_, 0, &lo, &hi, &list, 0, 1), 0);
    EXPECT_EQ(asSet(list), brute([&](const Row& r) { return r.number >= lo && r.number <= hi; }));
    // In index order: the numbers never go down.
    for (int32_t i = 1; i < list.count; ++i) EXPECT_LE(rows[list.items[i - 1]].number, rows[list.items[i]].number);

    ASSERT_EQ(FileIdxAndSear(table_, 4, &g1, &g2, &list, 0, 1), 0);
    EXPECT_EQ(asSet(list), brute([&](const Row& r) {
                return r.number >= lo && r.number <= hi && r.group >= g1 && r.group <= g2;
              }));
    ASSERT_EQ(FileIdxOrSear(table_, 4, &g1, &g2, &list, 0, 1), 0);
    EXPECT_EQ(asSet(list), brute([&](const Row& r) { return r.group >= g1 && r.group <= g2; }));
    EXPECT_EQ(static_cast<size_t>(list.count), asSet(list).size());

    // Join: the records whose number some record of the other table has.
    ASSERT_EQ(FileIdxSear(table_, 0, &lo, &hi, &list, 0, 1), 0);
    std::set<uint16_t> otherNumbers;
    for (const auto& r : others) otherNumbers.insert(r.number);
    ASSERT_EQ(FileIdxJoinSear(table_, 0, &list, other_, 0, FILEIDX_ONLY_LISTED), 0);
    EXPECT_EQ(asSet(list), brute([&](const Row& r) {
                return r.number >= lo && r.number <= hi && otherNumbers.count(r.number) > 0;
              }));
    ASSERT_EQ(FileIdxJoinSear(table_, 0, &list, other_, 0, 0), 0);
    EXPECT_EQ(asSet(list), brute([&](const Row& r) { return otherNumbers.count(r.number) > 0; }));

    // Order by group, then by code.
    int32_t keys[2] = {4, 1};
    uint32_t flags[2] = {0, 0};
    ASSERT_EQ(FileIdxOrder(table_, &list, 2, keys, flags), 0);
    for (int32_t i = 1; i < list.count; ++i) {
      const Row &p = rows[list.items[i - 1]], &q = rows[list.items[i]];
      EXPECT_TRUE(p.group < q.group || (p.group == q.group && p.code <= q.code));
    }
    FileDeleteRecList(&list);
  }
}

TEST_F(SearchTest, ListFromAnotherTablesList) {
  table_ = makeTable("dept", {{1, 0, "A", 0, 5}, {2, 0, "B", 0, 6}, {3, 0, "C", 0, 5}});
  other_ = makeTable("item", {{0, 0, "x", 0, 5}, {0, 0, "y", 0, 7}, {0, 0, "z", 0, 5}});
  FileRecList in{}, out{};
  ASSERT_EQ(FileNewRecList(&in, 4), 0);
  in.items[0] = 0;  // item x, group 5
  in.count = 1;
  ASSERT_EQ(FileLstFromIndLst(table_, 4, &out, other_, 4, &in), 0);
  EXPECT_EQ(std::vector<uint32_t>(out.items, out.items + out.count), (std::vector<uint32_t>{0, 2}));
  FileDeleteRecList(&in);
  FileDeleteRecList(&out);
}

}  // namespace
