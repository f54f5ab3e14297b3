// Temporary indexes over a real table: built for every record or for a list,
// searched and ordered like a declared index over the same field and checked
// against a brute-force scan, then deleted with their files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/base/file.h"
#include "lib/core/report.h"
#include "lib/store/store_test_support.h"
#include "support/scripted_message_box.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"
#include "zemta/fileidx.h"
#include "zemta/filesearch.h"
#include "zemta/tempidx.h"

namespace {

// Record: code (4 bytes unsigned), level (2 bytes signed), name (8 bytes text).
constexpr uint16_t kRecordLen = 24;
constexpr uint16_t kCode = 0, kLevel = 4, kName = 6;
constexpr uint32_t kRecords = 40;

int32_t byUnsigned(const void* x, const void* y, uint32_t) {
  uint32_t p, q;
  std::memcpy(&p, x, 4);
  std::memcpy(&q, y, 4);
  return (p > q) - (p < q);
}

int32_t bySigned(const void* x, const void* y, uint32_t) {
  int16_t p, q;
  std::memcpy(&p, x, 2);
  std::memcpy(&q, y, 2);
  return (p > q) - (p < q);
}

int32_t byBytes(const void* x, const void* y, uint32_t n) { return std::memcmp(x, y, n); }

struct KeyCase {
  const char* what;
  FileTempIndexKey key;
  int32_t declared;            // the declared index over the same field
  BtreeCompareFunc compare;    // the brute force's order of the keys
};

const KeyCase kCases[] = {
    {"unsigned", {kCode, 4, 0, 4}, 0, byUnsigned},
    {"signed", {kLevel, 2, 0, 7}, 1, bySigned},
    {"text", {kName, 8, 0, 0}, 2, byBytes},
};

std::vector<uint8_t> recordOf(uint32_t i) {
  std::vector<uint8_t> r(kRecordLen, 0);
  uint32_t code = (i * 7919u) % 23u;  // duplicates on purpose
  int16_t level = static_cast<int16_t>(static_cast<int32_t>((i * 37u) % 19u) - 9);
  std::memcpy(r.data() + kCode, &code, 4);
  std::memcpy(r.data() + kLevel, &level, 2);
  char name[9];
  std::snprintf(name, sizeof name, "N%c%02u", 'A' + static_cast<char>(i % 5), (i * 13u) % 17u);
  std::memcpy(r.data() + kName, name, std::strlen(name));
  return r;
}

class TempIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    messages_ = ZemtaEnableLastErrorMessage(1);
    const char* old = std::getenv("TMPDIR");
    hadTmp_ = old != nullptr;
    if (old) oldTmp_ = old;
    setenv("TMPDIR", folder_.path().c_str(), 1);
    table_ = FileDBCreate(folder_.file("t.dbf").c_str(), 5, 0, kRecordLen, "t", nullptr);
    ASSERT_NE(table_, 0u);
    for (uint32_t i = 0; i < kRecords; ++i) {
      records_.push_back(recordOf(i));
      ASSERT_EQ(FileDBRecWrite(table_, static_cast<int32_t>(i), records_.back().data()), 0);
    }
    for (const auto& c : kCases)
      ASSERT_EQ(FileAddIndex(table_, folder_.file(std::string(c.what) + ".bxx").c_str(), 8, c.key.keyType,
                             c.key.keyOffset, c.key.keyLen, 0, nullptr, nullptr, nullptr),
                0);
  }
  void TearDown() override {
    FileDBDelete(table_);
    if (hadTmp_)
      setenv("TMPDIR", oldTmp_.c_str(), 1);
    else
      unsetenv("TMPDIR");
    ZemtaEnableLastErrorMessage(messages_);
  }

  std::string tempPath(uint16_t keyOffset) const {
    char name[32];
    std::snprintf(name, sizeof name, "%08X.%03X", table_, keyOffset);
    return folder_.file(name);
  }

  std::vector<uint32_t> search(intptr_t index, uint32_t flags, const void* from, const void* to) {
    FileRecList list{};
    EXPECT_EQ(FileIdxSear(table_, index, from, to, &list, flags, 0), 0);
    std::vector<uint32_t> found(list.items, list.items + list.count);
    FileDeleteRecList(&list);
    return found;
  }

  // The records among members whose key lies between from and to (both
  // included), by key then record number, or the reverse when from > to.
  std::vector<uint32_t> scan(const FileTempIndexKey& k, BtreeCompareFunc compare, const std::vector<uint32_t>& members,
                             const uint8_t* from, const uint8_t* to) {
    const bool up = compare(from, to, k.keyLen) <= 0;
    const uint8_t* low = up ? from : to;
    const uint8_t* high = up ? to : from;
    std::vector<uint32_t> out;
    for (uint32_t n : members) {
      const uint8_t* key = records_[n].data() + k.keyOffset;
      if (compare(key, low, k.keyLen) >= 0 && compare(key, high, k.keyLen) <= 0) out.push_back(n);
    }
    std::stable_sort(out.begin(), out.end(), [&](uint32_t a, uint32_t b) {
      int32_t c = compare(records_[a].data() + k.keyOffset, records_[b].data() + k.keyOffset, k.keyLen);
      return c != 0 ? c < 0 : a < b;
    });
    if (!up) std::reverse(out.begin(), out.end());
    return out;
  }

  // The failure shows the code's text in a new message box.
  void expectReported(uint32_t code) {
    EXPECT_GT(box_.count(), seen_);
    seen_ = box_.count();
    EXPECT_EQ(box_.lastText(), zemta::errorText(code));
  }

  testing_support::ScriptedMessageBox box_;
  size_t seen_ = 0;
  store_test::TempFolder folder_;
  FileDBHandle table_ = 0;
  std::vector<std::vector<uint8_t>> records_;
  int32_t messages_ = 0;
  bool hadTmp_ = false;
  std::string oldTmp_;
};

TEST_F(TempIndexTest, AllRecordsSearchAndOrderLikeTheDeclaredIndex) {
  std::vector<uint32_t> all(kRecords);
  for (uint32_t i = 0; i < kRecords; ++i) all[i] = i;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    intptr_t temp = FileMakeTempIndex(table_, &c.key, nullptr, nullptr);
    ASSERT_NE(temp, -1);
    EXPECT_TRUE(platform::fileExists(tempPath(c.key.keyOffset)));
    // Ranges between the keys of some records, up and down, every end mode.
    for (uint32_t a : {0u, 3u, 11u, 29u}) {
      for (uint32_t b : {0u, 8u, 21u, 39u}) {
        const uint8_t* from = records_[a].data() + c.key.keyOffset;
        const uint8_t* to = records_[b].data() + c.key.keyOffset;
        for (uint32_t mode : {0u, 1u, 2u}) {
          std::vector<uint32_t> declared = search(c.declared, mode, from, to);
          EXPECT_EQ(search(temp, FILEIDX_INDEX_POINTER | mode, from, to), declared) << a << ".." << b;
        }
      }
    }
    // Brute force over the whole key space.
    std::vector<uint8_t> low(c.key.keyLen, 0), high(c.key.keyLen, 0xFF);
    if (c.key.keyType == 7) low[1] = 0x80, high[1] = 0x7F;
    EXPECT_EQ(search(temp, FILEIDX_INDEX_POINTER, low.data(), high.data()), scan(c.key, c.compare, all, low.data(), high.data()));
    EXPECT_EQ(search(temp, FILEIDX_INDEX_POINTER, high.data(), low.data()), scan(c.key, c.compare, all, high.data(), low.data()));

    // Narrowing and widening a list.
    const uint8_t* from = records_[5].data() + c.key.keyOffset;
    const uint8_t* to = records_[30].data() + c.key.keyOffset;
    for (bool widen : {false, true}) {
      std::vector<uint32_t> lists[2];
      for (int which = 0; which < 2; ++which) {
        FileRecList list{};
        ASSERT_EQ(FileNewRecList(&list, static_cast<int32_t>(kRecords)), 0);
        for (uint32_t n = 0; n < kRecords; n += 3) list.items[list.count++] = n;
        intptr_t index = which ? temp : c.declared;
        uint32_t flags = which ? FILEIDX_INDEX_POINTER : 0;
        if (widen)
          EXPECT_GE(FileIdxOrSear(table_, index, from, to, &list, flags, 0), 0);
        else
          EXPECT_EQ(FileIdxAndSear(table_, index, from, to, &list, flags, 0), 0);
        lists[which].assign(list.items, list.items + list.count);
        FileDeleteRecList(&list);
      }
      EXPECT_EQ(lists[1], lists[0]) << (widen ? "or" : "and");
    }

    // Ordering: by the temporary index, down, then by record order.
    std::vector<uint32_t> ordered[2];
    for (int which = 0; which < 2; ++which) {
      FileRecList list{};
      ASSERT_EQ(FileNewRecList(&list, static_cast<int32_t>(kRecords)), 0);
      for (uint32_t n = kRecords; n-- > 0;) list.items[list.count++] = n;
      const uint32_t flags[2] = {2u | (which ? FILEIDX_INDEX_POINTER : 0u), 1u};
      if (which) {
        const intptr_t keys[2] = {temp, FILEIDX_RECORD_ORDER};
        ASSERT_EQ(FileIdxOrderPtr(table_, &list, 2, keys, flags), 0);
      } else {
        const int32_t keys[2] = {c.declared, FILEIDX_RECORD_ORDER};
        ASSERT_EQ(FileIdxOrder(table_, &list, 2, keys, flags), 0);
      }
      ordered[which].assign(list.items, list.items + list.count);
      FileDeleteRecList(&list);
    }
    EXPECT_EQ(ordered[0].size(), kRecords);
    EXPECT_EQ(ordered[1], ordered[0]);

    ASSERT_EQ(FileDeleteTempIndex(temp), 0);
    EXPECT_FALSE(platform::fileExists(tempPath(c.key.keyOffset)));
    // The entry is gone: searches and a second delete refuse it.
    FileRecList list{};
    EXPECT_EQ(FileIdxSear(table_, temp, low.data(), high.data(), &list, FILEIDX_INDEX_POINTER, 0), -1);
    expectReported(ZEMTA_ERR_BAD_INDEX_HANDLE);
    EXPECT_EQ(FileDeleteTempIndex(temp), -1);
    expectReported(ZEMTA_ERR_BAD_PARAMETER);
  }
}

TEST_F(TempIndexTest, ListedRecordsOnlyAndOneFilePerKeyOffset) {
  FileRecList list{};
  ASSERT_EQ(FileNewRecList(&list, 8), 0);
  for (uint32_t n : {17u, 3u, 9u}) list.items[list.count++] = n;
  const KeyCase& code = kCases[0];
  const KeyCase& level = kCases[1];
  intptr_t byCode = FileMakeTempIndex(table_, &code.key, &list, nullptr);
  ASSERT_NE(byCode, -1);
  intptr_t byLevel = FileMakeTempIndex(table_, &level.key, nullptr, nullptr);
  ASSERT_NE(byLevel, -1);
  EXPECT_NE(tempPath(kCode), tempPath(kLevel));
  EXPECT_TRUE(platform::fileExists(tempPath(kCode)));
  EXPECT_TRUE(platform::fileExists(tempPath(kLevel)));

  // Three entries, whatever the table holds, in key order.
  std::vector<uint8_t> low(4, 0), high(4, 0xFF);
  std::vector<uint32_t> listed(list.items, list.items + list.count);
  EXPECT_EQ(search(byCode, FILEIDX_INDEX_POINTER, low.data(), high.data()),
            scan(code.key, code.compare, listed, low.data(), high.data()));
  EXPECT_EQ(search(byCode, FILEIDX_INDEX_POINTER, low.data(), high.data()).size(), 3u);
  uint8_t lowLevel[2] = {0x00, 0x80}, highLevel[2] = {0xFF, 0x7F};
  EXPECT_EQ(search(byLevel, FILEIDX_INDEX_POINTER, lowLevel, highLevel).size(), kRecords);

  // Another table's search does not take this table's entry.
  FileDBHandle other = FileDBCreate(folder_.file("o.dbf").c_str(), 6, 0, kRecordLen, "o", nullptr);
  ASSERT_NE(other, 0u);
  FileRecList found{};
  EXPECT_EQ(FileIdxSear(other, byCode, low.data(), high.data(), &found, FILEIDX_INDEX_POINTER, 0), -1);
  expectReported(ZEMTA_ERR_BAD_INDEX_HANDLE);
  FileDBDelete(other);

  EXPECT_EQ(FileDeleteTempIndex(byCode), 0);
  EXPECT_FALSE(platform::fileExists(tempPath(kCode)));
  EXPECT_TRUE(platform::fileExists(tempPath(kLevel)));
  EXPECT_EQ(FileDeleteTempIndex(byLevel), 0);
  EXPECT_FALSE(platform::fileExists(tempPath(kLevel)));
  FileDeleteRecList(&list);
}

TEST_F(TempIndexTest, AFileLeftBehindIsReplaced) {
  store_test::writeFileBytes(tempPath(kCode), std::string(4096, '\x5A'));
  intptr_t temp = FileMakeTempIndex(table_, &kCases[0].key, nullptr, nullptr);
  ASSERT_NE(temp, -1);
  std::vector<uint8_t> low(4, 0), high(4, 0xFF);
  EXPECT_EQ(search(temp, FILEIDX_INDEX_POINTER, low.data(), high.data()), search(0, 0, low.data(), high.data()));
  EXPECT_EQ(store_test::fileBytes(tempPath(kCode)).substr(0, 48), std::string(48, '\0'));
  EXPECT_EQ(FileDeleteTempIndex(temp), 0);
}

TEST_F(TempIndexTest, ErrorsLeaveNoFileBehind) {
  const FileTempIndexKey& key = kCases[0].key;
  uint32_t items[4] = {1, 2, 3, 4};
  struct Case {
    const char* what;
    FileDBHandle table;
    FileTempIndexKey key;
    FileRecList list;
    bool withList;
    uint32_t error;
  };
  const Case cases[] = {
      {"bad table", 0x12345, key, {}, false, ZEMTA_ERR_BAD_FILEDB_HANDLE},
      {"list without numbers", table_, key, {4, 2, nullptr, 0}, true, ZEMTA_ERR_BAD_POINTER},
      {"empty list", table_, key, {4, 0, items, 0}, true, ZEMTA_ERR_BAD_PARAMETER},
      {"count above capacity", table_, key, {2, 3, items, 0}, true, ZEMTA_ERR_BAD_PARAMETER},
      {"key past the record", table_, {20, 8, 0, 0}, {}, false, ZEMTA_ERR_BAD_PARAMETER},
      {"empty key", table_, {0, 0, 0, 0}, {}, false, ZEMTA_ERR_BAD_PARAMETER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(FileMakeTempIndex(c.table, &c.key, c.withList ? &c.list : nullptr, nullptr), -1);
    expectReported(c.error);
  }
  EXPECT_EQ(FileMakeTempIndex(table_, nullptr, nullptr, nullptr), -1);
  expectReported(ZEMTA_ERR_BAD_POINTER);

  // A listed record past the end fails the build part-way: no file stays.
  items[1] = kRecords + 5;
  FileRecList pastEnd{4, 3, items, 0};
  EXPECT_EQ(FileMakeTempIndex(table_, &key, &pastEnd, nullptr), -1);
  expectReported(ZEMTA_ERR_FILE_SIZE);
  EXPECT_FALSE(platform::fileExists(tempPath(key.keyOffset)));

  for (intptr_t bad : {intptr_t{0}, intptr_t{-1}, reinterpret_cast<intptr_t>(items)}) {
    EXPECT_EQ(FileDeleteTempIndex(bad), -1);
    expectReported(ZEMTA_ERR_BAD_PARAMETER);
  }
}

}  // namespace
