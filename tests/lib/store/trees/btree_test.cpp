#include "zemta/btree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "lib/core/report.h"
#include "lib/store/trees/btree_internal.h"
#include "lib/store/store_test_support.h"
#include "support/scripted_message_box.h"
#include "zemta/errors.h"

namespace {

using store_test::fileBytes;
using store_test::key4;
using store_test::NodeImage;
using store_test::nodeBytes;
using store_test::TempFolder;
using store_test::treeFileBytes;
using testing_support::ScriptedMessageBox;

constexpr uint32_t kHeader = 8;
constexpr uint32_t kOrder = 2;
constexpr uint32_t kKey = 4;
constexpr int32_t kFirstNode = kHeader + 4;
const int32_t kNodeSize = static_cast<int32_t>(store_test::nodeSizeOf(kOrder, kKey));
const std::string kZeroHeader(kHeader, '\0');

class BtreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BtreeNew();
    path_ = folder_.file("index.bt");
  }
  void TearDown() override { BtreeNew(); }

  int32_t create(uint32_t order = kOrder, BtreeCompareFunc compare = nullptr) {
    int32_t tree = BtreeCreate(path_.c_str(), kHeader, order, 7, kKey, compare, 0);
    EXPECT_GT(tree, 0);
    return tree;
  }

  static void insert(int32_t tree, uint32_t value, uint32_t record) {
    ASSERT_EQ(BtreeIns(tree, record, key4(value).data()), 0) << value << "/" << record;
  }

  TempFolder folder_;
  std::string path_;
};

TEST_F(BtreeTest, NewFileIsHeaderRootOffsetAndOneEmptyRoot) {
  create();
  NodeImage root;
  root.children = {-1};
  EXPECT_EQ(fileBytes(path_), treeFileBytes(kZeroHeader, kFirstNode, {nodeBytes(kOrder, kKey, root)}));
  EXPECT_EQ(fileBytes(path_).size(), kHeader + 4 + kNodeSize);
}

TEST_F(BtreeTest, HeaderIsWrittenAndReadBack) {
  int32_t tree = create();
  ASSERT_EQ(BtreeWrite(tree, "ABCDEFGH", kHeader), 0);
  char back[4] = {};
  ASSERT_EQ(BtreeRead(tree, back, 4), 0);
  EXPECT_EQ(std::string(back, 4), "ABCD");
  EXPECT_EQ(fileBytes(path_).substr(0, kHeader), "ABCDEFGH");
}

TEST_F(BtreeTest, TwoNPlusOneInsertsSplitTheRootIntoTwoLeaves) {
  int32_t tree = create();
  for (uint32_t v = 1; v <= 2 * kOrder + 1; ++v) insert(tree, v, 100 + v);
  // The old root stays first as the left leaf; the right leaf and the new
  // root follow.
  const int32_t right = kFirstNode + kNodeSize, root = kFirstNode + 2 * kNodeSize;
  NodeImage left{2, root, {-1, -1, -1}, {{101, key4(1)}, {102, key4(2)}}};
  NodeImage rightLeaf{2, root, {-1, -1, -1}, {{104, key4(4)}, {105, key4(5)}}};
  NodeImage top{1, -1, {kFirstNode, right}, {{103, key4(3)}}};
  EXPECT_EQ(fileBytes(path_), treeFileBytes(kZeroHeader, root,
                                            {nodeBytes(kOrder, kKey, left), nodeBytes(kOrder, kKey, rightLeaf),
                                             nodeBytes(kOrder, kKey, top)}));
  EXPECT_EQ(zemta::BtreeValidate(tree), "");
}

TEST_F(BtreeTest, EqualKeysStandInRecordNumberOrder) {
  int32_t tree = create();
  for (uint32_t record : {5u, 3u, 4u}) insert(tree, 42, record);
  NodeImage root{3, -1, {-1, -1, -1, -1}, {{3, key4(42)}, {4, key4(42)}, {5, key4(42)}}};
  EXPECT_EQ(fileBytes(path_), treeFileBytes(kZeroHeader, kFirstNode, {nodeBytes(kOrder, kKey, root)}));
}

TEST_F(BtreeTest, TheSameEntryTwiceIsRefusedAndChangesNothing) {
  int32_t tree = create();
  for (uint32_t v = 1; v <= 9; ++v) insert(tree, v, v);
  const std::string before = fileBytes(path_);
  ScriptedMessageBox box;
  EXPECT_EQ(BtreeIns(tree, 4, key4(4).data()), -1);
  EXPECT_EQ(box.lastText(), zemta::errorText(ZEMTA_ERR_FILE_FORMAT));
  EXPECT_EQ(fileBytes(path_), before);
  EXPECT_EQ(BtreeIns(tree, 5, key4(4).data()), 0);  // same key, another record
}

TEST_F(BtreeTest, DeletingEverythingGivesBackTheFreshFile) {
  const std::string fresh = [&] {
    create();
    return fileBytes(path_);
  }();
  int32_t tree = create();
  std::mt19937 random(7);
  std::vector<std::pair<uint32_t, uint32_t>> entries;
  for (uint32_t i = 0; i < 300; ++i) entries.emplace_back(random() % 50, i);
  ASSERT_EQ(BtreeOpen(tree, BTREE_MODE_READ_WRITE | BTREE_MODE_NO_WRITE_THROUGH), 0);
  for (auto [value, record] : entries) insert(tree, value, record);
  // Changed nodes of a hold without write-through reach the file when it closes.
  ASSERT_EQ(BtreeClose(tree), 0);
  EXPECT_GT(fileBytes(path_).size(), 10u * kNodeSize);
  ASSERT_EQ(BtreeOpen(tree, BTREE_MODE_READ_WRITE | BTREE_MODE_NO_WRITE_THROUGH), 0);
  std::shuffle(entries.begin(), entries.end(), random);
  for (auto [value, record] : entries) ASSERT_EQ(BtreeDel(tree, record, key4(value).data()), 0);
  ASSERT_EQ(BtreeClose(tree), 0);
  EXPECT_EQ(fileBytes(path_), fresh);
}

TEST_F(BtreeTest, DeletingAMissingEntryLeavesTheFileAsItWas) {
  int32_t tree = create();
  for (uint32_t v = 1; v <= 12; ++v) insert(tree, v * 10, v);
  const std::string before = fileBytes(path_);
  EXPECT_EQ(BtreeDel(tree, 99, key4(50).data()), 0);   // key there, record not
  EXPECT_EQ(BtreeDel(tree, 1, key4(55).data()), 0);    // key not there
  EXPECT_EQ(fileBytes(path_), before);
}

// The root of a small order-2 file: its entries' key values.
std::vector<uint32_t> rootKeys(const std::string& bytes) {
  int32_t root = static_cast<int32_t>(store_test::getLe(bytes, kHeader, 4));
  uint32_t count = store_test::getLe(bytes, root, 2);
  std::vector<uint32_t> keys;
  for (uint32_t j = 0; j < count; ++j) {
    size_t at = root + 10 + 8 * kOrder + (4 + kKey) * j + 4;
    keys.push_back(static_cast<uint8_t>(bytes[at + 3]));
  }
  return keys;
}

TEST_F(BtreeTest, AnUnderfullLeafBorrowsFromItsLeftSiblingFirst) {
  int32_t tree = create();
  // Leaves [0 1 2] [4 5] [7 8 9] under the root [3 6].
  for (uint32_t v : {1, 2, 3, 4, 5, 6, 7, 8, 0, 9}) insert(tree, v, v);
  ASSERT_EQ(rootKeys(fileBytes(path_)), (std::vector<uint32_t>{3, 6}));
  ASSERT_EQ(BtreeDel(tree, 4, key4(4).data()), 0);
  // 2 went up from the left; borrowing from the right would give [3 7].
  EXPECT_EQ(rootKeys(fileBytes(path_)), (std::vector<uint32_t>{2, 6}));
  EXPECT_EQ(zemta::BtreeValidate(tree), "");
}

TEST_F(BtreeTest, ExistingFileOpensAsItIs) {
  int32_t tree = create();
  for (uint32_t v = 1; v <= 20; ++v) insert(tree, v, v + 1000);
  ASSERT_EQ(BtreeRelease(tree), 0);
  const std::string before = fileBytes(path_);
  tree = create();
  uint32_t record = 0;
  EXPECT_EQ(BtreeEqu(tree, &record, key4(17).data()), 1);
  EXPECT_EQ(record, 1017u);
  EXPECT_EQ(fileBytes(path_), before);
}

// Keys 10, 20 (records 1, 2, 3), 30, 40 ... 200 in an order-2 tree.
class BtreeSearchTest : public BtreeTest {
 protected:
  void SetUp() override {
    BtreeTest::SetUp();
    tree_ = create();
    for (uint32_t v = 10; v <= 200; v += 10) insert(tree_, v, v);
    // Key 20 with records 1, 2, 3.
    ASSERT_EQ(BtreeDel(tree_, 20, key4(20).data()), 0);
    for (uint32_t record : {3u, 1u, 2u}) insert(tree_, 20, record);
  }
  int32_t tree_ = 0;
};

struct SearchCase {
  const char* name;
  int32_t (*search)(int32_t, uint32_t*, const void*);
  uint32_t probe;
  int32_t found;
  uint32_t record;
};

TEST_F(BtreeSearchTest, EachSearchFindsItsSideOfTheKey) {
  const SearchCase cases[] = {
      {"Equ hit", BtreeEqu, 30, 1, 30},
      {"Equ miss", BtreeEqu, 35, 0, 0},
      {"GEqu run: first of it", BtreeGEqu, 20, 1, 1},
      {"GEqu between", BtreeGEqu, 35, 1, 40},
      {"GEqu below all", BtreeGEqu, 0, 1, 10},
      {"GEqu above all", BtreeGEqu, 201, 0, 0},
      {"Grtr run: past it", BtreeGrtr, 20, 1, 30},
      {"Grtr last", BtreeGrtr, 200, 0, 0},
      {"Less run: before it", BtreeLess, 20, 1, 10},
      {"Less first", BtreeLess, 10, 0, 0},
      {"LEqu run: last of it", BtreeLEqu, 20, 1, 3},
      {"LEqu between", BtreeLEqu, 35, 1, 30},
      {"LEqu above all", BtreeLEqu, 999, 1, 200},
  };
  for (const auto& c : cases) {
    uint32_t record = 0;
    int32_t found = c.search(tree_, &record, key4(c.probe).data());
    EXPECT_EQ(found, c.found) << c.name;
    if (found == 1) {
      EXPECT_EQ(record, c.record) << c.name;
    }
  }
}

TEST_F(BtreeSearchTest, GreaterOrEqualBetweenTwoLeavesFindsTheSeparator) {
  // Every inner entry is found by a probe just above its left neighbour.
  ASSERT_EQ(BtreeOpen(tree_, BTREE_MODE_READ), 0);
  uint32_t record = 0;
  char key[kKey];
  std::vector<std::pair<uint32_t, uint32_t>> order;  // key value, record
  while (BtreeNext(tree_, &record, key) == 1) order.emplace_back(store_test::keyValue(key), record);
  ASSERT_EQ(order.size(), 22u);
  for (size_t i = 1; i < order.size(); ++i) {
    if (order[i].first == order[i - 1].first) continue;
    uint32_t found = 0;
    ASSERT_EQ(BtreeGEqu(tree_, &found, key4(order[i - 1].first + 1).data()), 1);
    EXPECT_EQ(found, order[i].second);
  }
  EXPECT_EQ(BtreeClose(tree_), 0);
}

TEST_F(BtreeSearchTest, CursorStepsBothWaysAndGivesItsKey) {
  ASSERT_EQ(BtreeOpen(tree_, BTREE_MODE_READ), 0);
  uint32_t record = 0;
  char key[kKey];
  ASSERT_EQ(BtreeGEqu(tree_, &record, key4(20).data()), 1);
  EXPECT_EQ(record, 1u);
  ASSERT_EQ(BtreeGetCurKey(tree_, record, key), 0);
  EXPECT_EQ(std::string(key, kKey), key4(20));
  ASSERT_EQ(BtreeNext(tree_, &record, key), 1);
  EXPECT_EQ(record, 2u);
  ASSERT_EQ(BtreeNext(tree_, &record, key), 1);
  EXPECT_EQ(record, 3u);
  ASSERT_EQ(BtreeNext(tree_, &record, key), 1);
  EXPECT_EQ(record, 30u);
  EXPECT_EQ(std::string(key, kKey), key4(30));
  ASSERT_EQ(BtreePrev(tree_, &record, nullptr), 1);
  EXPECT_EQ(record, 3u);
  // The record number given must be the cursor's.
  ScriptedMessageBox box;
  EXPECT_EQ(BtreeGetCurKey(tree_, 30, key), -1);
  EXPECT_EQ(box.lastText(), zemta::errorText(ZEMTA_ERR_BAD_PARAMETER));
  // Past the last entry the cursor clears; Prev then starts from the end.
  ASSERT_EQ(BtreeLEqu(tree_, &record, key4(500).data()), 1);
  EXPECT_EQ(BtreeNext(tree_, &record, nullptr), 0);
  ASSERT_EQ(BtreePrev(tree_, &record, nullptr), 1);
  EXPECT_EQ(record, 200u);
  EXPECT_EQ(BtreeClose(tree_), 0);
}

TEST_F(BtreeSearchTest, WithoutAHoldNextAlwaysGivesTheFirstEntry) {
  uint32_t record = 0;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(BtreeNext(tree_, &record, nullptr), 1);
    EXPECT_EQ(record, 10u);
  }
  ScriptedMessageBox box;
  char key[kKey];
  EXPECT_EQ(BtreeGetCurKey(tree_, 10, key), -1);  // no cursor survives the call
}

TEST_F(BtreeTest, EmptyTreeFindsNothing) {
  int32_t tree = create();
  uint32_t record = 0;
  const std::string key = key4(5);
  for (auto search : {BtreeEqu, BtreeGrtr, BtreeGEqu, BtreeLess, BtreeLEqu})
    EXPECT_EQ(search(tree, &record, key.data()), 0);
  EXPECT_EQ(BtreeNext(tree, &record, nullptr), 0);
  EXPECT_EQ(BtreePrev(tree, &record, nullptr), 0);
  uint32_t count = 99;
  EXPECT_EQ(BtreeCheck(tree, &count, nullptr, nullptr), 0);
  EXPECT_EQ(count, 0u);
}

struct ChangeCase {
  uint32_t first, last, newFirst;
  std::vector<uint32_t> expected;  // records of keys 1..6 afterwards
};

TEST_F(BtreeTest, ChangeOfRecordNumbersMovesExactlyTheRange) {
  const ChangeCase cases[] = {
      {3, 3, 30, {1, 2, 30, 4, 5, 6}},
      {2, 4, 12, {1, 12, 13, 14, 5, 6}},
      {4, 100, 3, {1, 2, 3, 3, 4, 5}},
      {7, 9, 0, {1, 2, 3, 4, 5, 6}},
  };
  for (const auto& c : cases) {
    BtreeNew();
    std::filesystem::remove(path_);
    int32_t tree = create(1);
    for (uint32_t v = 1; v <= 6; ++v) insert(tree, v, v);
    ASSERT_EQ(BtreeChgRec(tree, c.first, c.last, c.newFirst), 0);
    for (uint32_t v = 1; v <= 6; ++v) {
      uint32_t record = 0;
      ASSERT_EQ(BtreeEqu(tree, &record, key4(v).data()), 1);
      EXPECT_EQ(record, c.expected[v - 1]) << c.first << ".." << c.last << " key " << v;
    }
  }
  ScriptedMessageBox box;
  int32_t tree = create(1);
  EXPECT_EQ(BtreeChgRec(tree, 5, 4, 0), -1);
  EXPECT_EQ(box.lastText(), zemta::errorText(ZEMTA_ERR_BAD_PARAMETER));
}

int32_t compareSigned(const void* stored, const void* given, uint32_t) {
  int32_t a, b;
  std::memcpy(&a, stored, 4);
  std::memcpy(&b, given, 4);
  return a < b ? -1 : (a > b ? 1 : 0);
}

TEST_F(BtreeTest, CompareFunctionOrdersTheKeysAndTheCheckAcceptsNegatives) {
  int32_t tree = create(kOrder, compareSigned);
  for (int32_t v : {5, -3, 0, -100, 42, 7, -8, 1}) ASSERT_EQ(BtreeIns(tree, 1, &v), 0);
  std::vector<int32_t> seen;
  ASSERT_EQ(BtreeOpen(tree, BTREE_MODE_READ), 0);
  uint32_t record;
  int32_t key;
  while (BtreeNext(tree, &record, &key) == 1) seen.push_back(key);
  ASSERT_EQ(BtreeClose(tree), 0);
  EXPECT_EQ(seen, (std::vector<int32_t>{-100, -8, -3, 0, 1, 5, 7, 42}));
  uint32_t count = 0;
  EXPECT_EQ(BtreeCheck(tree, &count, nullptr, nullptr), 0);
  EXPECT_EQ(count, 8u);
}

struct CheckLog {
  std::vector<uint32_t> records;
  int32_t answerAt = -1;  // stop (-1) at this call
  int32_t markAt = -1;    // answer 5 at this call
};

int32_t logEntry(uint32_t handleLow, uint32_t record, const void*, void* data) {
  auto* log = static_cast<CheckLog*>(data);
  log->records.push_back(record);
  int32_t call = static_cast<int32_t>(log->records.size()) - 1;
  if (call == log->answerAt) return -1;
  return call == log->markAt ? 5 : 0;
}

TEST_F(BtreeTest, CheckWalksEveryEntryAndFindsABrokenFile) {
  int32_t tree = create();
  for (uint32_t v = 1; v <= 30; ++v) insert(tree, v, v);
  CheckLog log;
  uint32_t count = 0;
  EXPECT_EQ(BtreeCheck(tree, &count, logEntry, &log), 0);
  EXPECT_EQ(count, 30u);
  EXPECT_EQ(log.records.size(), 30u);
  EXPECT_TRUE(std::is_sorted(log.records.begin(), log.records.end()));

  CheckLog marked;
  marked.markAt = 3;
  EXPECT_EQ(BtreeCheck(tree, &count, logEntry, &marked), 5);
  CheckLog stopped;
  stopped.answerAt = 4;
  EXPECT_EQ(BtreeCheck(tree, &count, logEntry, &stopped), -1);
  EXPECT_EQ(stopped.records.size(), 5u);

  // Swap the keys of the first leaf's two entries: out of order.
  std::string bytes = fileBytes(path_);
  size_t first = kFirstNode + 10 + 8 * kOrder + 4;
  std::string a = bytes.substr(first, kKey), b = bytes.substr(first + 8, kKey);
  bytes.replace(first, kKey, b);
  bytes.replace(first + 8, kKey, a);
  store_test::writeFileBytes(path_, bytes);
  EXPECT_EQ(BtreeCheck(tree, &count, nullptr, nullptr), 1);
  EXPECT_NE(zemta::BtreeValidate(tree), "");
}

TEST_F(BtreeTest, CheckTakesEqualKeysInAnyRecordOrderAsSound) {
  // Renumbering leaves equal keys whose record numbers fall: the keys are
  // still in order, so the tree is not broken.
  int32_t tree = create();
  for (uint32_t record = 1; record <= 12; ++record) insert(tree, 7, record);
  insert(tree, 9, 1);
  ASSERT_EQ(BtreeChgRec(tree, 1, 4, 40), 0);
  CheckLog log;
  uint32_t count = 0;
  ScriptedMessageBox box;
  EXPECT_EQ(BtreeCheck(tree, &count, logEntry, &log), 0);
  EXPECT_EQ(count, 13u);
  ASSERT_EQ(log.records.size(), 13u);
  EXPECT_EQ(log.records.front(), 40u);
  EXPECT_FALSE(std::is_sorted(log.records.begin(), log.records.end()));
  EXPECT_EQ(box.count(), 0u);
}

TEST_F(BtreeTest, CheckCallsALoopInTheFileBroken) {
  int32_t tree = create();
  for (uint32_t v = 1; v <= 5; ++v) insert(tree, v, v);
  // The right leaf's parent field points at itself.
  std::string bytes = fileBytes(path_);
  const int32_t right = kFirstNode + kNodeSize;
  store_test::putLe(bytes, right + 2, right, 4);
  store_test::writeFileBytes(path_, bytes);
  uint32_t count = 0;
  ScriptedMessageBox box;
  EXPECT_EQ(BtreeCheck(tree, &count, nullptr, nullptr), 1);
  EXPECT_EQ(box.count(), 0u);
}

TEST_F(BtreeTest, ReadersShareAWriterWaits) {
  int32_t reader = create();
  insert(reader, 1, 1);
  int32_t other = create();
  ASSERT_EQ(BtreeOpen(reader, BTREE_MODE_READ), 0);
  uint32_t record = 0;
  EXPECT_EQ(BtreeEqu(other, &record, key4(1).data()), 1);
  // With messages off a sharing violation fails at once, unreported.
  int32_t previous = ZemtaEnableLastErrorMessage(0);
  EXPECT_EQ(BtreeIns(other, 2, key4(2).data()), -1);
  ZemtaEnableLastErrorMessage(previous);
  ASSERT_EQ(BtreeClose(reader), 0);
  EXPECT_EQ(BtreeIns(other, 2, key4(2).data()), 0);
}

TEST_F(BtreeTest, HoldsNestAsTheyShould) {
  int32_t tree = create();
  int32_t other = create();
  ASSERT_EQ(BtreeOpenEx(tree, BTREE_MODE_READ_WRITE | BTREE_MODE_NO_WRITE_THROUGH), 0);
  EXPECT_EQ(BtreeOpen(tree, BTREE_MODE_READ), 0);  // already held: keeps the earlier mode
  insert(tree, 9, 9);
  EXPECT_EQ(BtreeClose(tree), 0);  // held by OpenEx: stays open
  int32_t previous = ZemtaEnableLastErrorMessage(0);
  uint32_t record = 0;
  EXPECT_EQ(BtreeEqu(other, &record, key4(9).data()), -1);
  EXPECT_EQ(BtreeCloseEx(tree), 0);
  ZemtaEnableLastErrorMessage(previous);
  EXPECT_EQ(BtreeEqu(other, &record, key4(9).data()), 1);
}

TEST_F(BtreeTest, ARootChangedUnderAHoldIsWrittenAtClose) {
  int32_t tree = create();
  ASSERT_EQ(BtreeOpen(tree, BTREE_MODE_READ_WRITE), 0);
  for (uint32_t v = 1; v <= 5; ++v) insert(tree, v, v);
  EXPECT_EQ(store_test::getLe(fileBytes(path_), kHeader, 4), static_cast<uint32_t>(kFirstNode));
  ASSERT_EQ(BtreeClose(tree), 0);
  EXPECT_EQ(store_test::getLe(fileBytes(path_), kHeader, 4), static_cast<uint32_t>(kFirstNode + 2 * kNodeSize));
}

// Held without write-through, changed nodes wait in memory; a write of the
// user header (where the index's clean mark lives) puts them and the root
// offset in the file first, so a clean mark on disk never lacks a node.
TEST_F(BtreeTest, AHeaderWriteUnderAHoldPutsTheWaitingNodesInTheFileFirst) {
  int32_t tree = create();
  const std::string fresh = fileBytes(path_);
  ASSERT_EQ(BtreeOpen(tree, BTREE_MODE_READ_WRITE | BTREE_MODE_NO_WRITE_THROUGH), 0);
  for (uint32_t v = 1; v <= 40; ++v) insert(tree, v * 7 % 41, v);
  EXPECT_EQ(fileBytes(path_), fresh);
  ASSERT_EQ(BtreeWrite(tree, "CLEAN!!!", kHeader), 0);
  const std::string marked = fileBytes(path_);
  EXPECT_EQ(marked.substr(0, kHeader), "CLEAN!!!");
  ASSERT_EQ(BtreeClose(tree), 0);
  EXPECT_EQ(fileBytes(path_), marked);
  EXPECT_EQ(zemta::BtreeValidate(tree), "");
  uint32_t count = 0;
  ASSERT_EQ(BtreeCheck(tree, &count, nullptr, nullptr), 0);
  EXPECT_EQ(count, 40u);
}

// --- errors: reported with their code, nothing changed -----------------------

TEST_F(BtreeTest, ABadHandleIsReportedByEveryCall) {
  int32_t tree = create();
  ASSERT_EQ(BtreeRelease(tree), 0);
  ScriptedMessageBox box;
  uint32_t record = 0, count = 0;
  char key[kKey] = {};
  const int32_t bad[] = {tree, tree + 1, 0, -1, 0x12345678};
  for (int32_t handle : bad) {
    box.clear();
    EXPECT_EQ(BtreeEqu(handle, &record, key), -1);
    EXPECT_EQ(BtreeGEqu(handle, &record, key), -1);
    EXPECT_EQ(BtreeNext(handle, &record, key), -1);
    EXPECT_EQ(BtreeIns(handle, 1, key), -1);
    EXPECT_EQ(BtreeDel(handle, 1, key), -1);
    EXPECT_EQ(BtreeOpen(handle, 1), -1);
    EXPECT_EQ(BtreeClose(handle), -1);
    EXPECT_EQ(BtreeRead(handle, key, 1), -1);
    EXPECT_EQ(BtreeCheck(handle, &count, nullptr, nullptr), -1);
    EXPECT_EQ(BtreeChgRec(handle, 1, 2, 3), -1);
    EXPECT_EQ(BtreeGetCurKey(handle, 1, key), -1);
    ASSERT_EQ(box.count(), 11u) << handle;
    for (const auto& shown : box.shown()) EXPECT_EQ(shown.text, zemta::errorText(ZEMTA_ERR_BAD_INDEX_HANDLE));
    EXPECT_EQ(BtreeRelease(handle), -1);  // unreported
    EXPECT_EQ(box.count(), 11u);
  }
}

TEST_F(BtreeTest, AFileThatIsNotWholeNodesIsRefusedUntouched) {
  int32_t tree = create();
  for (uint32_t v = 1; v <= 9; ++v) insert(tree, v, v);
  std::string bytes = fileBytes(path_) + "x";
  store_test::writeFileBytes(path_, bytes);
  ScriptedMessageBox box;
  uint32_t record = 0;
  EXPECT_EQ(BtreeEqu(tree, &record, key4(3).data()), -1);
  EXPECT_EQ(BtreeIns(tree, 10, key4(10).data()), -1);
  EXPECT_EQ(BtreeDel(tree, 3, key4(3).data()), -1);
  EXPECT_EQ(BtreeOpen(tree, BTREE_MODE_READ), -1);
  ASSERT_EQ(box.count(), 4u);
  for (const auto& shown : box.shown()) EXPECT_EQ(shown.text, zemta::errorText(ZEMTA_ERR_FILE_FORMAT));
  EXPECT_EQ(fileBytes(path_), bytes);
  // A new handle on it is refused as well.
  EXPECT_EQ(BtreeCreate(path_.c_str(), kHeader, kOrder, 0, kKey, nullptr, 0), -1);
  EXPECT_EQ(box.lastText(), zemta::errorText(ZEMTA_ERR_FILE_FORMAT));
  EXPECT_EQ(fileBytes(path_), bytes);
  // A file too short for a tree too.
  store_test::writeFileBytes(path_, "abc");
  EXPECT_EQ(BtreeCreate(path_.c_str(), kHeader, kOrder, 0, kKey, nullptr, 0), -1);
  EXPECT_EQ(fileBytes(path_), "abc");
}

TEST_F(BtreeTest, AKeyLengthThatDoesNotFitTheFileIsRefusedUntouched) {
  int32_t tree = create();
  for (uint32_t v = 1; v <= 5; ++v) insert(tree, v, v);
  const std::string before = fileBytes(path_);
  ScriptedMessageBox box;
  // Three nodes of 58 bytes are not a whole number of 62-byte nodes.
  EXPECT_EQ(BtreeCreate(path_.c_str(), kHeader, kOrder, 0, kKey + 1, nullptr, 0), -1);
  EXPECT_EQ(box.lastText(), zemta::errorText(ZEMTA_ERR_FILE_FORMAT));
  EXPECT_EQ(BtreeCreate(path_.c_str(), kHeader, kOrder, 0, 0, nullptr, 0), -1);
  EXPECT_EQ(box.lastText(), zemta::errorText(ZEMTA_ERR_BAD_PARAMETER));
  // A node that would not fit 16 bits.
  EXPECT_EQ(BtreeCreate(path_.c_str(), kHeader, 2000, 0, 100, nullptr, 0), -1);
  EXPECT_EQ(box.lastText(), zemta::errorText(ZEMTA_ERR_BAD_PARAMETER));
  EXPECT_EQ(fileBytes(path_), before);
}

TEST_F(BtreeTest, ArgumentsOutOfRangeAreReported) {
  int32_t tree = create();
  ScriptedMessageBox box;
  char buffer[64] = {};
  EXPECT_EQ(BtreeOpen(tree, 4), -1);
  EXPECT_EQ(box.lastText(), zemta::errorText(ZEMTA_ERR_BAD_MODE));
  EXPECT_EQ(BtreeRead(tree, buffer, kHeader + 1), -1);
  EXPECT_EQ(box.lastText(), zemta::errorText(ZEMTA_ERR_BAD_SIZE));
  EXPECT_EQ(BtreeCreate(std::string(128, 'a').c_str(), kHeader, kOrder, 0, kKey, nullptr, 0), -1);
  EXPECT_EQ(box.lastText(), zemta::errorText(ZEMTA_ERR_BAD_PARAMETER));
  int32_t wide = BtreeCreate(folder_.file("wide.bt").c_str(), 0, 1, 0, 5000, nullptr, 0);
  ASSERT_GT(wide, 0);
  uint32_t count = 0;
  EXPECT_EQ(BtreeCheck(wide, &count, nullptr, nullptr), -1);
  EXPECT_EQ(box.lastText(), zemta::errorText(ZEMTA_ERR_MEMORY_RANGE));
  // A missing file is the system's error.
  std::filesystem::remove(path_);
  uint32_t record;
  EXPECT_EQ(BtreeEqu(tree, &record, key4(1).data()), -1);
  EXPECT_EQ(box.lastText(), zemta::errorText(2));
}

TEST_F(BtreeTest, TheTableHoldsTwoHundredFiftySixTrees) {
  std::vector<int32_t> trees;
  for (int i = 0; i < 256; ++i) {
    int32_t tree = BtreeCreate(path_.c_str(), kHeader, kOrder, 0, kKey, nullptr, 0);
    ASSERT_GT(tree, 0);
    trees.push_back(tree);
  }
  ScriptedMessageBox box;
  EXPECT_EQ(BtreeCreate(path_.c_str(), kHeader, kOrder, 0, kKey, nullptr, 0), -1);
  EXPECT_EQ(box.lastText(), zemta::errorText(ZEMTA_ERR_NO_MEMORY));
  EXPECT_EQ(BtreeNew(), 256);
  uint32_t record;
  EXPECT_EQ(BtreeEqu(trees[0], &record, key4(1).data()), -1);
}

}  // namespace
