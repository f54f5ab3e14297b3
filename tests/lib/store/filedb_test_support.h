// The test table of the table and index tests: its record described once,
// its three indexes (two single keys and one composite key), and a check that
// walks an index file and compares it with the records the test expects.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "lib/store/tables/filedb_internal.h"
#include "lib/store/store_test_support.h"
#include "zemta/btree.h"
#include "zemta/filedb.h"
#include "zemta/fileidx.h"

namespace filedb_test {

struct Field {
  const char* name;
  uint16_t offset;
  uint16_t width;
};

// The record of the test table (32 bytes).
constexpr uint32_t kHeaderLen = 8;
constexpr uint32_t kRecordLen = 32;
constexpr Field kCode{"code", 0, 4};     // unsigned, index 0
constexpr Field kLevel{"level", 4, 2};   // signed, index 1
constexpr Field kName{"name", 8, 4};     // text, composite part 1
constexpr Field kGroup{"group", 12, 2};  // number, composite part 2
constexpr Field kFlag{"flag", 14, 1};    // number, composite part 3
constexpr Field kFill{"fill", 15, 17};

constexpr uint32_t kItemUnsigned = 4;  // item types: unsigned and signed integers
constexpr uint32_t kItemSigned = 7;
constexpr uint32_t kOrder = 2;  // small nodes: splits and merges happen early

inline const FileIndexKeyPart kParts[3] = {{0, kName.offset, kName.width},
                                           {2, kGroup.offset, kGroup.width},
                                           {2, kFlag.offset, kFlag.width}};
constexpr uint32_t kCompositeLen = 4 + 4 + 2;

using Record = std::vector<uint8_t>;

inline void put(Record& r, const Field& f, uint32_t v) {
  for (uint16_t i = 0; i < f.width; ++i) r[f.offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

inline Record makeRecord(uint32_t code, int16_t level, const char* name, uint16_t group, uint8_t flag,
                         uint8_t fill = 0) {
  Record r(kRecordLen, fill);
  put(r, kCode, code);
  put(r, kLevel, static_cast<uint16_t>(level));
  std::memcpy(r.data() + kName.offset, name, std::min<size_t>(std::strlen(name), kName.width));
  put(r, kGroup, group);
  put(r, kFlag, flag);
  return r;
}

class TableFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    BtreeNew();
    table_ = folder_.file("items.dbf");
    for (int i = 0; i < 3; ++i) indexPaths_.push_back(folder_.file("items" + std::to_string(i) + ".bxx"));
  }
  void TearDown() override {
    for (FileDBHandle h : opened_) FileDBDelete(h);
    BtreeNew();
  }

  // Opens the test table with its three indexes.
  FileDBHandle open(uint32_t headerLen = kHeaderLen) {
    FileDBHandle h = FileDBCreate(table_.c_str(), 9, headerLen, kRecordLen, nullptr, nullptr);
    EXPECT_NE(h, 0u);
    if (!h) return 0;
    opened_.push_back(h);
    EXPECT_EQ(FileAddIndex(h, indexPaths_[0].c_str(), kOrder, kItemUnsigned, kCode.offset, kCode.width, 0,
                           nullptr, nullptr, nullptr),
              0);
    EXPECT_EQ(FileAddIndex(h, indexPaths_[1].c_str(), kOrder, kItemSigned, kLevel.offset, kLevel.width, 0,
                           nullptr, nullptr, nullptr),
              0);
    EXPECT_EQ(FileAddIndex(h, indexPaths_[2].c_str(), kOrder, 0, -3, kCompositeLen, 0, nullptr, kParts, nullptr),
              0);
    return h;
  }

  void close(FileDBHandle h) {
    std::erase(opened_, h);
    EXPECT_EQ(FileDBDelete(h), 0);
  }

  // Every record and every index agree with the model: the indexes walk in
  // key order, each entry points at a record holding its key, and the index
  // files are clean.
  void expectMatches(FileDBHandle h, const std::vector<Record>& model) {
    ASSERT_EQ(FileDBRecGetSize(h), static_cast<int32_t>(model.size()));
    Record got(kRecordLen);
    for (size_t i = 0; i < model.size(); ++i) {
      ASSERT_EQ(FileDBRecRead(h, static_cast<int32_t>(i), got.data()), 0);
      ASSERT_EQ(got, model[i]) << "record " << i;
    }
    zemta::filedb::Table* t = zemta::filedb::findTable(h);
    ASSERT_NE(t, nullptr);
    for (size_t x = 0; x < t->indexes.size(); ++x) {
      const auto& e = t->indexes[x];
      std::vector<std::pair<Record, uint32_t>> expected;
      for (size_t i = 0; i < model.size(); ++i) {
        Record key(e.keyLen);
        zemta::filedb::buildKey(e, model[i].data(), key.data());
        expected.emplace_back(key, t->recordOffset(static_cast<uint32_t>(i)));
      }
      std::sort(expected.begin(), expected.end(), [&](const auto& a, const auto& b) {
        int32_t c = e.compare(a.first.data(), b.first.data(), e.keyLen);
        return c != 0 ? c < 0 : a.second < b.second;
      });
      std::vector<std::pair<Record, uint32_t>> walked;
      ASSERT_EQ(BtreeOpen(e.handle, BTREE_MODE_READ), 0);
      uint32_t offset = 0;
      Record key(e.keyLen);
      while (BtreeNext(e.handle, &offset, key.data()) == 1) walked.emplace_back(key, offset);
      ASSERT_EQ(BtreeClose(e.handle), 0);
      ASSERT_EQ(walked, expected) << "index " << x;
      EXPECT_EQ(store_test::fileBytes(e.path).substr(0, 12), "ZEMTA BTRX\r\n") << "index " << x;
    }
  }

  std::string allFiles() const {
    std::string bytes = store_test::fileBytes(table_);
    for (const auto& p : indexPaths_) bytes += "|" + store_test::fileBytes(p);
    return bytes;
  }

  static void patch(const std::string& path, size_t at, const std::string& bytes) {
    std::string content = store_test::fileBytes(path);
    content.replace(at, bytes.size(), bytes);
    store_test::writeFileBytes(path, content);
  }

  store_test::TempFolder folder_;
  std::string table_;
  std::vector<std::string> indexPaths_;
  std::vector<FileDBHandle> opened_;
};

}  // namespace filedb_test
