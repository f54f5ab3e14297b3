#include "zemta/fileidx.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "lib/store/filedb_test_support.h"
#include "lib/core/report.h"
#include "support/scripted_message_box.h"
#include "zemta/errors.h"

namespace {

using filedb_test::makeRecord;
using filedb_test::Record;
using filedb_test::TableFixture;
using filedb_test::kRecordLen;
using testing_support::ScriptedMessageBox;
using zemta::errorText;
namespace fdb = zemta::filedb;

class IndexKeysTest : public TableFixture {
 protected:
  FileDBHandle bare(uint32_t id = 5, uint32_t recordLen = 64) {
    FileDBHandle h = FileDBCreate(table_.c_str(), id, 0, recordLen, nullptr, nullptr);
    EXPECT_NE(h, 0u);
    opened_.push_back(h);
    return h;
  }
};

TEST_F(IndexKeysTest, HeaderOfTheExampleAndNewFileSizes) {
  // Table 5, order 8, record length 64, key at offset 36 of length 2.
  FileDBHandle h = bare();
  ASSERT_EQ(FileAddIndex(h, indexPaths_[0].c_str(), 8, 4, 36, 2, 0, nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(FileAddIndex(h, indexPaths_[1].c_str(), 8, 4, 36, 4, 0, nullptr, nullptr, nullptr), 0);
  std::string file = store_test::fileBytes(indexPaths_[0]);
  ASSERT_EQ(file.size(), 222u);
  EXPECT_EQ(store_test::fileBytes(indexPaths_[1]).size(), 254u);
  std::string expected = std::string("ZEMTA BTRX\r\nVer1.34  Q.X 1999\r\n\x1A", 32);
  for (uint16_t word : {48, 5, 8, 0, 64, 36, 2, 0x69C0}) {
    expected += static_cast<char>(word & 0xFF);
    expected += static_cast<char>(word >> 8);
  }
  EXPECT_EQ(file.substr(0, 48), expected);
  EXPECT_EQ(store_test::getLe(file, 48, 4), 52u);  // the root node follows the header
}

TEST_F(IndexKeysTest, SoundFileOpensAsItIsAndAStaleHeaderIsOnlyRewritten) {
  FileDBHandle h = bare();
  for (int i = 0; i < 20; ++i) {
    Record r(64, 0);
    r[36] = static_cast<uint8_t>(i);
    ASSERT_EQ(FileDBRecWrite(h, i, r.data()), 0);
  }
  std::vector<uint32_t> steps;
  std::string caption;
  auto previous = fdb::setIndexBuildProgress({[&](const std::string& c, uint32_t n) {
                                                caption = c;
                                                steps.push_back(n);
                                              },
                                              [&]() { ++steps.back(); }, {}});
  // Missing: built from all 20 records, a progress step per tenth of them.
  ASSERT_EQ(FileAddIndex(h, indexPaths_[0].c_str(), 8, 4, 36, 2, 0, nullptr, nullptr, "部門"), 0);
  ASSERT_EQ(steps.size(), 1u);
  EXPECT_EQ(steps[0], 20u);  // 10 announced, 10 taken
  EXPECT_EQ(caption, "ｲﾝﾃﾞｯｸｽﾌｧｲﾙの作成 - 部門");
  std::string built = store_test::fileBytes(indexPaths_[0]);
  close(h);

  // Sound and matching: opened without reading a record.
  h = bare();
  ASSERT_EQ(FileAddIndex(h, indexPaths_[0].c_str(), 8, 4, 36, 2, 0, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(steps.size(), 1u);
  EXPECT_EQ(store_test::fileBytes(indexPaths_[0]), built);
  close(h);

  // Sound but written for another table id: only the header is rewritten.
  h = bare(6);
  ASSERT_EQ(FileAddIndex(h, indexPaths_[0].c_str(), 8, 4, 36, 2, 0, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(steps.size(), 1u);
  std::string now = store_test::fileBytes(indexPaths_[0]);
  EXPECT_EQ(store_test::getLe(now, 34, 2), 6u);
  EXPECT_EQ(now.substr(48), built.substr(48));
  EXPECT_EQ(fdb::indexHeaderSum(reinterpret_cast<const uint8_t*>(now.data())), 0);
  close(h);

  // A broken check word: reported and built anew.
  patch(indexPaths_[0], 46, "\x01\x02");
  h = bare(6);
  {
    ScriptedMessageBox box;
    ASSERT_EQ(FileAddIndex(h, indexPaths_[0].c_str(), 8, 4, 36, 2, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(box.lastText(), errorText(ZEMTA_ERR_FILE_FORMAT));
  }
  EXPECT_EQ(steps.size(), 2u);
  EXPECT_EQ(store_test::fileBytes(indexPaths_[0]), now);
  fdb::setIndexBuildProgress(previous);
}

TEST_F(IndexKeysTest, EqualKeyLookupCountsAndFindsTheFirst) {
  FileDBHandle h = open();
  const uint32_t codes[] = {5, 7, 7, 3, 7, 9};
  for (int i = 0; i < 6; ++i) {
    Record r = makeRecord(codes[i], 0, "EQU ", 0, 0);
    ASSERT_EQ(FileDBRecWrite(h, i, r.data()), 0);
  }
  struct Case {
    uint32_t key;
    int32_t result, record;
  } cases[] = {{7, 2, 1}, {3, 1, 3}, {9, 1, 5}, {6, 0, -1}, {1, 0, -1}, {10, 0, -1}};
  for (const auto& c : cases) {
    int32_t record = 77;
    EXPECT_EQ(FileIdxEqu(h, 0, &record, &c.key), c.result) << c.key;
    EXPECT_EQ(record, c.record) << c.key;
  }
  // After a delete the offsets moved down: the first 7 is now record 0.
  ASSERT_EQ(FileDBRecDelete(h, 0, 0, nullptr), 0);
  int32_t record = -5;
  uint32_t seven = 7;
  EXPECT_EQ(FileIdxEqu(h, 0, &record, &seven), 2);
  EXPECT_EQ(record, 0);
  ScriptedMessageBox box;
  EXPECT_EQ(FileIdxEqu(h, 3, &record, &seven), -1);
  EXPECT_EQ(box.lastText(), errorText(ZEMTA_ERR_BAD_INDEX_HANDLE));
}

TEST_F(IndexKeysTest, IndexPositionByOffsetAndLength) {
  FileDBHandle h = open();
  EXPECT_EQ(FileGetIndexPos(h, -1, 0, 0), FILEIDX_RECORD_ORDER);
  EXPECT_EQ(FileGetIndexPos(h, 0, 4, 0), 0);
  EXPECT_EQ(FileGetIndexPos(h, 4, 2, 0), 1);
  EXPECT_EQ(FileGetIndexPos(h, 8, 4 + 2 + 1, 0), 2);  // the parts' own lengths add up
  ScriptedMessageBox box;
  EXPECT_EQ(FileGetIndexPos(h, 4, 4, 1), -1);
  EXPECT_EQ(box.count(), 0u);
  EXPECT_EQ(FileGetIndexPos(h, 4, 4, 0), -1);
  EXPECT_EQ(box.lastText(), errorText(ZEMTA_ERR_BAD_PARAMETER));
}

TEST_F(IndexKeysTest, CompositeKeyPartsPrintTheirOwnBytes) {
  FileDBHandle h = open();
  // The flag byte (1 byte) is followed by fill bytes, the group (2 bytes) by
  // the flag: neither neighbour may show up in the key.
  Record r = makeRecord(1, 1, "AB\x01Z", 0x0A0B, 0xC4, 0xFF);
  char key[filedb_test::kCompositeLen + 1] = {};
  ASSERT_EQ(FileMakeCplIndexKey(h, 2, key, r.data()), 0);
  EXPECT_EQ(std::string(key, filedb_test::kCompositeLen), std::string("AB\x01Z" "0A0B" "C4", 10));
  ScriptedMessageBox box;
  EXPECT_EQ(FileMakeCplIndexKey(h, 0, key, r.data()), -1);  // not composite
  EXPECT_EQ(box.lastText(), errorText(ZEMTA_ERR_BAD_INDEX_HANDLE));
}

TEST_F(IndexKeysTest, KeysAreCheckedAgainstTheRecord) {
  FileDBHandle h = bare(5, 16);
  const FileIndexKeyPart wrongLength[2] = {{0, 0, 4}, {2, 4, 2}};  // gives 8 bytes, not 6
  const FileIndexKeyPart outside[1] = {{0, 14, 4}};
  ScriptedMessageBox box;
  EXPECT_EQ(FileAddIndex(h, indexPaths_[0].c_str(), 2, 0, 14, 4, 0, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(FileAddIndex(h, indexPaths_[0].c_str(), 2, 0, -2, 6, 0, nullptr, wrongLength, nullptr), -1);
  EXPECT_EQ(FileAddIndex(h, indexPaths_[0].c_str(), 2, 0, -1, 4, 0, nullptr, outside, nullptr), -1);
  ASSERT_EQ(box.count(), 3u);
  for (const auto& shown : box.shown()) EXPECT_EQ(shown.text, errorText(ZEMTA_ERR_BAD_PARAMETER));
  EXPECT_FALSE(std::filesystem::exists(indexPaths_[0]));
}

TEST(IndexCompareTest, ChosenByKeyType) {
  auto sign = [](int32_t v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); };
  struct Case {
    uint32_t keyType, keyLen;
    std::vector<uint8_t> a, b;
    int32_t expected;
  } cases[] = {
      {7, 2, {0xFF, 0xFF}, {0x01, 0x00}, -1},               // -1 < 1 signed
      {7, 3, {0x00, 0x00, 0x80}, {0x00, 0x00, 0x7F}, -1},   // sign from bit 23
      {7, 4, {0xFE, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF, 0xFF}, -1},
      {7, 1, {0x80}, {0x7F}, -1},
      {4, 2, {0xFF, 0xFF}, {0x01, 0x00}, 1},                // unsigned
      {4, 2, {0x00, 0x01}, {0xFF, 0x00}, 1},                // 256 > 255
      {4, 0, {}, {}, 0},
      {8, 4, {0x00, 0x00, 0x80, 0xBF}, {0x00, 0x00, 0x00, 0x00}, -1},  // -1.0f < 0
      {0, 2, {0x00, 0x01}, {0xFF, 0x00}, -1},               // bytes
  };
  for (const auto& c : cases) {
    BtreeCompareFunc compare = fdb::chooseCompare(c.keyType, c.keyLen);
    EXPECT_EQ(sign(compare(c.a.data(), c.b.data(), c.keyLen)), c.expected) << c.keyType << "/" << c.keyLen;
  }
}

TEST(IndexCompareTest, ProjectNumberFieldsCompareByValue) {
  // A signed field of the project: -5 sorts before 3 (the unsigned compare
  // put every negative value after the positive ones).
  int16_t minus5 = -5, plus3 = 3;
  BtreeCompareFunc compare = fdb::projectIndexCompare(0, 1 + 1, 7, 2);
  EXPECT_LT(compare(&minus5, &plus3, 2), 0);
  float f1 = -2.5f, f2 = 1.0f;
  EXPECT_LT(fdb::projectIndexCompare(0, 3, 8, 4)(&f1, &f2, 4), 0);
  uint16_t big = 0xFFFF, small = 1;
  EXPECT_GT(fdb::projectIndexCompare(0, 2, 4, 2)(&big, &small, 2), 0);
  EXPECT_EQ(fdb::projectIndexCompare(0x10000, 0, 0, 8), fdb::compareAlphaNumeric);
  EXPECT_EQ(fdb::projectIndexCompare(0x20000, 0, 0, 8), fdb::compareKeyword);
  EXPECT_EQ(fdb::projectIndexCompare(0, 0, 0, 8), fdb::compareBytes);
  EXPECT_EQ(fdb::projectIndexCompare(0x10000000, 2, 4, 8), fdb::compareBytes);
}

TEST(IndexCompareTest, KeywordComparesIgnoreSpacingAndCase) {
  auto same = [](BtreeCompareFunc f, const std::string& a, const std::string& b) {
    size_t n = std::max(a.size(), b.size());
    std::string x = a, y = b;
    x.resize(n, '\0');
    y.resize(n, '\0');
    return f(x.data(), y.data(), static_cast<uint32_t>(n)) == 0;
  };
  EXPECT_TRUE(same(fdb::compareAlphaNumeric, "ab-12 c", "AB12C"));
  EXPECT_TRUE(same(fdb::compareAlphaNumeric, "AB\x82\xA0" "C", "ABC"));  // double-byte dropped whole
  EXPECT_FALSE(same(fdb::compareKeyword, "AB\x82\xA0" "C", "ABC"));     // ...kept by the keyword compare
  EXPECT_TRUE(same(fdb::compareKeyword, "\xB1 x", "\xB1X"));            // half-width kana kept
  EXPECT_FALSE(same(fdb::compareAlphaNumeric, "A1", "A2"));
  std::string a = "abc", b = "ABD";
  EXPECT_LT(fdb::compareKeyword(a.data(), b.data(), 3), 0);
}

}  // namespace
