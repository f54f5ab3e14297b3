// The extended B-tree: node sizes, making and reopening a tree at its root
// slot, trees sharing one file, the refusals, the dump, and randomized runs
// of insertions and deletions against an ordered set with the tree's own
// check after every step, with and without the store's callbacks.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <utility>

#include "lib/container/container_test_support.h"
#include "lib/container/trees/btreeex_internal.h"
#include "support/temp_folder.h"
#include "zemta/btreeex.h"
#include "zemta/errors.h"

namespace {

using testing_support::fileBytes;
using testing_support::TempFolder;
using testing_support::writeFileBytes;

std::string key8(uint64_t value) {
  std::string key(8, '\0');
  for (int i = 0; i < 8; ++i) key[7 - i] = static_cast<char>(value >> (8 * i));  // big-endian: memcmp sorts it
  return key;
}

// The store's side, played by the test: a free list of node positions.
struct Space {
  std::set<uint64_t> free;
  int allocations = 0;
  int frees = 0;
};

int32_t allocate(uint64_t* position, uint32_t size, void* data) {
  auto* space = static_cast<Space*>(data);
  EXPECT_EQ(size, 512u);
  ++space->allocations;
  if (space->free.empty()) return 0;
  *position = *space->free.begin();
  space->free.erase(space->free.begin());
  return 1;
}

int32_t release(uint32_t low, uint32_t high, uint32_t size, void* data) {
  auto* space = static_cast<Space*>(data);
  EXPECT_EQ(size, 512u);
  ++space->frees;
  const uint64_t position = low | (static_cast<uint64_t>(high) << 32);
  EXPECT_TRUE(space->free.insert(position).second) << "freed twice";
  return 0;
}

int32_t setupWithBoth(void*, BtreeExAllocFunc* a, BtreeExFreeFunc* f, int32_t*) {
  *a = allocate;
  *f = release;
  return 0;
}

int32_t setupAllocOnly(void*, BtreeExAllocFunc* a, BtreeExFreeFunc*, int32_t*) {
  *a = allocate;
  return 0;
}

class BtreeExTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(BtreeExNew(), 128); }
  void TearDown() override { BtreeExDelete(); }

  // A file of 16 zero bytes: the root slot at 8.
  std::string emptyFile(const std::string& name) {
    std::string path = folder_ / name;
    writeFileBytes(path, std::string(16, '\0'));
    return path;
  }

  TempFolder folder_;
};

TEST_F(BtreeExTest, NodesAreRoundedUpToWholeBlocks) {
  struct Case {
    uint32_t order, keyLen, nodeSize;
  } cases[] = {{8, 14, 512}, {10, 8, 512}, {10, 34, 1024}, {1, 4, 512}, {11, 8, 1024}};
  for (const Case& c : cases) {
    std::string path = emptyFile("sizes" + std::to_string(c.order) + "_" + std::to_string(c.keyLen));
    int32_t tree = BtreeExCreate(path.c_str(), 8, 0, c.order, 2, c.keyLen, nullptr, nullptr, 0, nullptr, 0, nullptr);
    ASSERT_NE(tree, -1);
    EXPECT_EQ(BtreeExGetField(tree), c.nodeSize) << c.order << "/" << c.keyLen;
    // A fresh root at the end of the file, its position in the slot.
    std::string bytes = fileBytes(path);
    ASSERT_EQ(bytes.size(), 16u + c.nodeSize);
    EXPECT_EQ(static_cast<uint8_t>(bytes[8]), 16);
    EXPECT_EQ(BtreeExGetRoot(tree), 16);
    EXPECT_EQ(std::string(bytes.data() + 24, 8), std::string(8, '\xFF'));  // parent -1
    EXPECT_EQ(BtreeExRelease(tree), 0);
  }
}

TEST_F(BtreeExTest, AFirstHandleHasTheTopSerialAndTheSlot) {
  std::string path = emptyFile("handle");
  int32_t tree = BtreeExCreate(path.c_str(), 8, 0, 2, 2, 8, nullptr, nullptr, 0, nullptr, 0, nullptr);
  EXPECT_EQ(static_cast<uint32_t>(tree) & 0xFFFF, 0u);
  EXPECT_LT(tree, 0);
}

TEST_F(BtreeExTest, ATreeIsReopenedFromItsSlot) {
  std::string path = emptyFile("reopen");
  int32_t tree = BtreeExCreate(path.c_str(), 8, 0, 2, 2, 8, nullptr, nullptr, 0, nullptr, 0, nullptr);
  for (uint64_t i = 1; i <= 50; ++i) ASSERT_EQ(BtreeExIns(tree, static_cast<uint32_t>(i), 0, key8(i * 7).data()), 0);
  const int64_t root = BtreeExGetRoot(tree);
  ASSERT_EQ(BtreeExRelease(tree), 0);
  const size_t size = fileBytes(path).size();

  tree = BtreeExCreate(path.c_str(), 8, 0, 2, 2, 8, nullptr, nullptr, 0, nullptr, 0, nullptr);
  ASSERT_NE(tree, -1);
  EXPECT_EQ(fileBytes(path).size(), size);
  ASSERT_EQ(BtreeExReOpen(tree), 0);
  EXPECT_EQ(BtreeExGetRoot(tree), root);
  uint64_t id = 0;
  EXPECT_EQ(BtreeExEqu(tree, &id, key8(21).data()), 1);
  EXPECT_EQ(id, 3u);
  EXPECT_EQ(BtreeExEqu(tree, &id, key8(22).data()), 0);
  EXPECT_EQ(BtreeExGEqu(tree, &id, key8(22).data()), 1);
  EXPECT_EQ(id, 4u);
  EXPECT_EQ(BtreeExLess(tree, &id, key8(21).data()), 1);
  EXPECT_EQ(id, 2u);
  EXPECT_EQ(BtreeExLEqu(tree, &id, key8(21).data()), 1);
  EXPECT_EQ(id, 3u);
  EXPECT_EQ(BtreeExGrtr(tree, &id, key8(350).data()), 0);
  EXPECT_EQ(zemta::BtreeExValidate(tree), "");
}

TEST_F(BtreeExTest, RefusalsAreReportedWithTheirCodes) {
  container_test::Reports reports;
  std::string shortFile = folder_ / "short";
  writeFileBytes(shortFile, std::string(12, '\0'));
  EXPECT_EQ(BtreeExCreate(shortFile.c_str(), 8, 0, 2, 2, 8, nullptr, nullptr, 0, nullptr, 0, nullptr), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_FILE_FORMAT));
  EXPECT_EQ(fileBytes(shortFile), std::string(12, '\0'));

  std::string path = emptyFile("refusals");
  EXPECT_EQ(BtreeExCreate(path.c_str(), 8, 0, 0, 2, 8, nullptr, nullptr, 0, nullptr, 0, nullptr), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_PARAMETER));
  EXPECT_EQ(BtreeExCreate(std::string(128, 'a').c_str(), 8, 0, 2, 2, 8, nullptr, nullptr, 0, nullptr, 0, nullptr), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_PARAMETER));

  int32_t wide = BtreeExCreate(path.c_str(), 8, 0, 8, 4, 14, nullptr, nullptr, 0, nullptr, 0, nullptr);
  ASSERT_NE(wide, -1);
  EXPECT_EQ(BtreeExChgRecKey(wide, 1, 0, 2, 0, 5, 0), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_FILE_FORMAT));
  EXPECT_EQ(BtreeExOpen(wide, 4), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_MODE));

  const std::string key(14, 'k');
  ASSERT_EQ(BtreeExIns(wide, 5, 0, key.data()), 0);
  EXPECT_EQ(BtreeExIns(wide, 5, 0, key.data()), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_FILE_FORMAT));
  ASSERT_EQ(BtreeExRelease(wide), 0);
  EXPECT_EQ(BtreeExEqu(wide, nullptr, key.data()), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_INDEX_HANDLE));
}

TEST_F(BtreeExTest, ChangingKeysMovesARangeAndFindKeyFindsByID) {
  std::string path = emptyFile("chgkey");
  int32_t tree = BtreeExCreate(path.c_str(), 8, 0, 2, 2, 8, nullptr, nullptr, 0, nullptr, 0, nullptr);
  auto le = [](uint64_t v) {
    std::string k(8, '\0');
    for (int i = 0; i < 8; ++i) k[i] = static_cast<char>(v >> (8 * i));
    return k;
  };
  for (uint64_t i = 1; i <= 20; ++i) ASSERT_EQ(BtreeExIns(tree, static_cast<uint32_t>(100 + i), 0, le(i).data()), 0);
  ASSERT_EQ(BtreeExChgRecKey(tree, 5, 0, 8, 0, 1000, 0), 0);
  char key[8];
  EXPECT_EQ(BtreeExFindKey(tree, 106, 0, key, 8), 1);
  EXPECT_EQ(std::string(key, 8), le(1001));
  EXPECT_EQ(BtreeExFindKey(tree, 104, 0, key, 8), 1);
  EXPECT_EQ(std::string(key, 8), le(4));
  EXPECT_EQ(BtreeExFindKey(tree, 99, 0, key, 8), 0);
}

TEST_F(BtreeExTest, TreesInOneFileCloseWithTheFirst) {
  // Three root slots at 0, 8, 16 of one file; the second and third tree
  // borrow the first one's open file.
  std::string path = folder_ / "store";
  writeFileBytes(path, std::string(512, '\0'));
  Space space;
  int32_t first = BtreeExCreate(path.c_str(), 0, 0, 10, 2, 8, nullptr, nullptr, 0, &space, 0, setupWithBoth);
  ASSERT_NE(first, -1);
  static int32_t shared;
  shared = first;
  auto setupShared = [](void*, BtreeExAllocFunc* a, BtreeExFreeFunc* f, int32_t* s) {
    *a = allocate;
    *f = release;
    *s = shared;
    return 0;
  };
  ASSERT_EQ(BtreeExOpen(first, 0x100003), 0);
  int32_t second = BtreeExCreate(nullptr, 8, 0, 10, 2, 8, nullptr, nullptr, 0, &space, 0, setupShared);
  int32_t third = BtreeExCreate(nullptr, 16, 0, 10, 2, 8, nullptr, nullptr, 0, &space, 0, setupShared);
  ASSERT_NE(second, -1);
  ASSERT_NE(third, -1);
  for (uint64_t i = 0; i < 200; ++i) {
    ASSERT_EQ(BtreeExIns(second, static_cast<uint32_t>(i), 0, key8(i).data()), 0);
    ASSERT_EQ(BtreeExIns(third, static_cast<uint32_t>(i), 0, key8(1000 - i).data()), 0);
  }
  ASSERT_EQ(BtreeExClose(first), 0);
  EXPECT_EQ(BtreeExGetHandle(second), 0u);
  EXPECT_EQ(BtreeExGetHandle(third), 0u);

  // Roots on disk match the trees; all three sound after reopening.
  std::string bytes = fileBytes(path);
  int64_t slot8 = 0;
  std::memcpy(&slot8, bytes.data() + 8, 8);
  EXPECT_EQ(slot8, BtreeExGetRoot(second));
  ASSERT_EQ(BtreeExOpen(first, 3), 0);
  EXPECT_EQ(zemta::BtreeExValidate(second), "");
  EXPECT_EQ(zemta::BtreeExValidate(third), "");
  uint64_t id = 0;
  EXPECT_EQ(BtreeExEqu(third, &id, key8(1000 - 77).data()), 1);
  EXPECT_EQ(id, 77u);
  ASSERT_EQ(BtreeExClose(first), 0);
}

TEST_F(BtreeExTest, TheDumpListsEveryNodeAndCounts) {
  std::string path = emptyFile("dump");
  int32_t tree = BtreeExCreate(path.c_str(), 8, 0, 1, 2, 8, nullptr, nullptr, 0, nullptr, 0, nullptr);
  auto le = [](uint64_t v) {
    std::string k(8, '\0');
    for (int i = 0; i < 8; ++i) k[i] = static_cast<char>(v >> (8 * i));
    return k;
  };
  for (uint64_t i = 1; i <= 3; ++i) ASSERT_EQ(BtreeExIns(tree, static_cast<uint32_t>(i), 0, le(i * 10).data()), 0);
  std::string dump = folder_ / "dump.txt";
  ASSERT_EQ(BtreeExStructDump(tree, dump.c_str(), "Title"), 0);
  std::string text = fileBytes(dump);
  EXPECT_EQ(text.rfind("Title\r\n", 0), 0u);
  EXPECT_NE(text.find("Mbr:  1, Parent Rec: 0xFFFFFFFFFFFFFFFF\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("ID: 0x0000000000000002, Key: 20"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\n\r\nTotal Member: 3\r\n"), std::string::npos) << text;
}

// --- randomized runs against a model ----------------------------------------

struct RandomCase {
  const char* name;
  uint32_t order;
  bool userData;         // the store's object is given
  BtreeExSetupFunc setup;  // callbacks
  bool held;
  int operations;
};

void PrintTo(const RandomCase& c, std::ostream* out) { *out << c.name; }

const RandomCase kRandomCases[] = {
    {"order 1, allocate and free callbacks", 1, true, setupWithBoth, true, 3000},
    {"order 2, allocate and free callbacks, opened per call", 2, true, setupWithBoth, false, 600},
    {"order 1, user data without a free callback (nodes compacted)", 1, true, setupAllocOnly, true, 3000},
    {"order 2, no callbacks (nodes compacted)", 2, false, nullptr, true, 3000},
};

class BtreeExRandomTest : public ::testing::TestWithParam<RandomCase> {
 protected:
  void SetUp() override { ASSERT_EQ(BtreeExNew(), 128); }
  void TearDown() override { BtreeExDelete(); }
  TempFolder folder_;
};

TEST_P(BtreeExRandomTest, MatchesAnOrderedSetAfterEveryStep) {
  const RandomCase& c = GetParam();
  std::string path = folder_ / "random";
  writeFileBytes(path, std::string(512, '\0'));
  Space space;
  int32_t tree = BtreeExCreate(path.c_str(), 0, 0, c.order, 2, 8, nullptr, nullptr, 0, c.userData ? &space : nullptr,
                               0, c.setup);
  ASSERT_NE(tree, -1);
  if (c.held) {
    ASSERT_EQ(BtreeExOpen(tree, 0x100003), 0);
  }
  std::set<std::pair<uint64_t, uint64_t>> model;  // key, ID
  std::mt19937_64 random(20261211);
  const int messages = ZemtaEnableLastErrorMessage(0);
  for (int step = 0; step < c.operations; ++step) {
    // Grow to a few hundred entries, then shrink to empty, twice.
    const bool growing = (step / (c.operations / 4)) % 2 == 0;
    const bool insert = random() % 100 < (growing ? 70u : 30u);
    uint64_t key = random() % 60, id = random() % 8;
    if (!insert && !model.empty() && random() % 4 != 0) {
      auto at = model.begin();
      std::advance(at, static_cast<long>(random() % model.size()));
      key = at->first;
      id = at->second;
    }
    if (insert) {
      const bool fresh = !model.count({key, id});
      ASSERT_EQ(BtreeExIns(tree, static_cast<uint32_t>(id), 0, key8(key).data()), fresh ? 0 : -1) << step;
      model.insert({key, id});
    } else {
      ASSERT_EQ(BtreeExDel(tree, static_cast<uint32_t>(id), 0, key8(key).data()), 0) << step;
      model.erase({key, id});
    }
    ASSERT_EQ(zemta::BtreeExValidate(tree), "") << "step " << step;
    if (step % 25 == 0 || model.size() < 3) {
      // The walk both ways gives the model.
      if (!c.held) {
        ASSERT_EQ(BtreeExOpen(tree, 3), 0);
      }
      uint64_t foundId = 0;
      char foundKey[8];
      auto expected = model.begin();
      ASSERT_EQ(BtreeExSetCurPos(tree, 0xFFFFFFFF, 0xFFFFFFFF, 0), 0);
      while (BtreeExNext(tree, &foundId, foundKey) == 1) {
        ASSERT_NE(expected, model.end());
        EXPECT_EQ(std::string(foundKey, 8), key8(expected->first));
        EXPECT_EQ(foundId, expected->second);
        ++expected;
      }
      EXPECT_EQ(expected, model.end()) << step;
      auto back = model.rbegin();
      while (BtreeExPrev(tree, &foundId, foundKey) == 1) {
        ASSERT_NE(back, model.rend());
        EXPECT_EQ(foundId, back->second);
        ++back;
      }
      EXPECT_EQ(back, model.rend()) << step;
      if (!c.held) {
        ASSERT_EQ(BtreeExClose(tree), 0);
      }
    }
  }
  ZemtaEnableLastErrorMessage(messages);
  // Back to one empty root; with a free callback every other node was freed.
  for (auto [key, id] : std::set<std::pair<uint64_t, uint64_t>>(model))
    ASSERT_EQ(BtreeExDel(tree, static_cast<uint32_t>(id), 0, key8(key).data()), 0);
  ASSERT_EQ(zemta::BtreeExValidate(tree), "");
  if (c.held) {
    ASSERT_EQ(BtreeExClose(tree), 0);
  }
  const size_t size = fileBytes(path).size();
  if (c.setup == setupWithBoth) {
    EXPECT_EQ(space.allocations - space.frees, 1) << "every node but the root was given back";
  } else {
    EXPECT_EQ(size, 1024u) << "compaction leaves the slot block and the root";
  }
}

INSTANTIATE_TEST_SUITE_P(Runs, BtreeExRandomTest, ::testing::ValuesIn(kRandomCases));

}  // namespace

