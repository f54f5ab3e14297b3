// Tens of thousands of random insertions and deletions, with many records
// under one key and repeated (key, record) pairs, checked against an ordered
// set after every few hundred operations: the full walk both ways, every
// search kind, the cursor steps after a search, the tree's own check and the
// whole structure.
#include <gtest/gtest.h>

#include <iterator>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <utility>

#include "lib/store/trees/btree_internal.h"
#include "lib/store/store_test_support.h"
#include "zemta/btree.h"
#include "zemta/errors.h"

namespace {

using store_test::key4;
using Entry = std::pair<std::string, uint32_t>;  // key, record number
using Model = std::set<Entry>;

struct RandomCase {
  const char* name;
  uint32_t order;
  uint32_t keySpace;     // distinct keys
  uint32_t recordSpace;  // record numbers per key
  int operations;
  bool held;             // held open without write-through, else opened per call
  size_t cacheBudget = 0;  // bytes of cached nodes; 0: the engine's default
};

void PrintTo(const RandomCase& c, std::ostream* out) { *out << c.name; }

const RandomCase kCases[] = {
    {"order 2, held", 2, 300, 30, 30000, true},
    {"order 1, held", 1, 120, 12, 12000, true},
    {"order 6, held", 6, 500, 8, 20000, true},
    {"order 3, opened per call", 3, 80, 6, 4000, false},
    {"order 2, held, cache of 5 nodes", 2, 150, 10, 8000, true, 5 * 58},
};

class BtreeRandomTest : public ::testing::TestWithParam<RandomCase> {
 protected:
  void SetUp() override {
    BtreeNew();
    if (GetParam().cacheBudget) zemta::btree::nodeCacheBudget() = GetParam().cacheBudget;
    messages_ = ZemtaEnableLastErrorMessage(0);  // refused duplicates are expected
  }
  void TearDown() override {
    zemta::btree::nodeCacheBudget() = budget_;
    ZemtaEnableLastErrorMessage(messages_);
    BtreeNew();
  }

  int32_t messages_ = 1;
  size_t budget_ = zemta::btree::nodeCacheBudget();
};

// The model's answer for each search kind.
const Entry* firstAtLeast(const Model& model, const std::string& key) {
  auto it = model.lower_bound({key, 0});
  return it == model.end() ? nullptr : &*it;
}
const Entry* firstAbove(const Model& model, const std::string& key) {
  auto it = model.lower_bound({key, 0});
  while (it != model.end() && it->first == key) ++it;
  return it == model.end() ? nullptr : &*it;
}
const Entry* lastBelow(const Model& model, const std::string& key) {
  auto it = model.lower_bound({key, 0});
  return it == model.begin() ? nullptr : &*std::prev(it);
}
const Entry* lastAtMost(const Model& model, const std::string& key) {
  auto it = model.lower_bound({key, 0});
  while (it != model.end() && it->first == key) ++it;
  return it == model.begin() ? nullptr : &*std::prev(it);
}

void compareWithModel(int32_t tree, const Model& model, std::mt19937& random, uint32_t keySpace, int step) {
  SCOPED_TRACE("after operation " + std::to_string(step));
  ASSERT_EQ(zemta::BtreeValidate(tree), "");
  uint32_t count = 0;
  ASSERT_EQ(BtreeCheck(tree, &count, nullptr, nullptr), 0);
  ASSERT_EQ(count, model.size());

  // The hold keeps the cursor between the calls of the walk.
  ASSERT_EQ(BtreeOpen(tree, BTREE_MODE_READ), 0);
  uint32_t record = 0;
  char key[4];
  for (const Entry& entry : model) {
    ASSERT_EQ(BtreeNext(tree, &record, key), 1);
    ASSERT_EQ(Entry(std::string(key, 4), record), entry);
  }
  ASSERT_EQ(BtreeNext(tree, &record, key), 0);
  for (auto it = model.rbegin(); it != model.rend(); ++it) {
    ASSERT_EQ(BtreePrev(tree, &record, key), 1);
    ASSERT_EQ(Entry(std::string(key, 4), record), *it);
  }
  ASSERT_EQ(BtreePrev(tree, &record, key), 0);

  for (int probe = 0; probe < 30; ++probe) {
    const std::string k = key4(random() % (keySpace + 2));
    SCOPED_TRACE("probe " + std::to_string(store_test::keyValue(k.data())));
    // Equal: some entry with that key.
    int32_t found = BtreeEqu(tree, &record, k.data());
    const Entry* atLeast = firstAtLeast(model, k);
    bool present = atLeast && atLeast->first == k;
    ASSERT_EQ(found, present ? 1 : 0);
    if (present) {
      ASSERT_TRUE(model.count({k, record}));
    }

    struct Kind {
      int32_t (*search)(int32_t, uint32_t*, const void*);
      const Entry* expected;
    } kinds[] = {{BtreeGEqu, atLeast}, {BtreeGrtr, firstAbove(model, k)}, {BtreeLess, lastBelow(model, k)},
                 {BtreeLEqu, lastAtMost(model, k)}};
    for (const Kind& kind : kinds) {
      found = kind.search(tree, &record, k.data());
      ASSERT_EQ(found, kind.expected ? 1 : 0);
      if (!kind.expected) continue;
      ASSERT_EQ(record, kind.expected->second);
      ASSERT_EQ(BtreeGetCurKey(tree, record, key), 0);
      ASSERT_EQ(std::string(key, 4), kind.expected->first);
      // One step on from the search's place.
      auto it = model.find(*kind.expected);
      if (++it == model.end()) {
        ASSERT_EQ(BtreeNext(tree, &record, key), 0);
      } else {
        ASSERT_EQ(BtreeNext(tree, &record, key), 1);
        ASSERT_EQ(Entry(std::string(key, 4), record), *it);
      }
    }
  }
  ASSERT_EQ(BtreeClose(tree), 0);
}

TEST_P(BtreeRandomTest, AgreesWithAnOrderedSet) {
  const RandomCase& c = GetParam();
  store_test::TempFolder folder;
  const std::string path = folder.file("random.bt");
  int32_t tree = BtreeCreate(path.c_str(), 16, c.order, 0, 4, nullptr, c.held ? 0 : 1);
  ASSERT_GT(tree, 0);
  const size_t freshSize = store_test::fileBytes(path).size();
  if (c.held) {
    ASSERT_EQ(BtreeOpen(tree, BTREE_MODE_READ_WRITE | BTREE_MODE_NO_WRITE_THROUGH), 0);
  }

  std::mt19937 random(c.order * 7919 + c.keySpace);
  Model model;
  const int checkEvery = c.operations / 60;
  for (int step = 1; step <= c.operations; ++step) {
    // Growing in the first half, shrinking in the second.
    const bool growing = step <= c.operations / 2;
    const bool insert = (random() % 100) < (growing ? 62u : 38u);
    const Entry entry{key4(random() % c.keySpace), static_cast<uint32_t>(random() % c.recordSpace)};
    if (insert) {
      const bool there = model.count(entry) != 0;
      ASSERT_EQ(BtreeIns(tree, entry.second, entry.first.data()), there ? -1 : 0) << "step " << step;
      model.insert(entry);
    } else {
      ASSERT_EQ(BtreeDel(tree, entry.second, entry.first.data()), 0) << "step " << step;
      model.erase(entry);
    }
    if (step % checkEvery == 0) {
      if (c.held) {
        ASSERT_EQ(BtreeClose(tree), 0);
      }
      compareWithModel(tree, model, random, c.keySpace, step);
      if (::testing::Test::HasFatalFailure()) return;
      if (c.held) {
        ASSERT_EQ(BtreeOpen(tree, BTREE_MODE_READ_WRITE | BTREE_MODE_NO_WRITE_THROUGH), 0);
      }
    }
  }

  // Emptied, the file is one empty root again.
  for (const Entry& entry : Model(model)) ASSERT_EQ(BtreeDel(tree, entry.second, entry.first.data()), 0);
  if (c.held) {
    ASSERT_EQ(BtreeClose(tree), 0);
  }
  EXPECT_EQ(store_test::fileBytes(path).size(), freshSize);
  EXPECT_EQ(zemta::BtreeValidate(tree), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, BtreeRandomTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<RandomCase>& info) {
                           std::string name = info.param.name;
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

}  // namespace
