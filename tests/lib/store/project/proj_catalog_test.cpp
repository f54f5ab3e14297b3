// The catalog view of a project the maker built in a temporary folder: its
// tables as "bas"/"rec" catalog tables, columns with SQL type names, index
// statistics, rows laid out byte for byte, and the failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "lib/core/little_endian.h"
#include "lib/core/report.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/store/project/project_definition.h"
#include "lib/store/project/project_writer.h"
#include "lib/store/store_test_support.h"
#include "support/scripted_message_box.h"
#include "zemta/errors.h"
#include "zemta/fileproj.h"
#include "zemta/fileproj_catalog.h"

namespace {

using namespace zemta::fileproj;
using testing_support::ScriptedMessageBox;

// UTF-8, as definition files are. "キー" comes first in the catalog although
// its fdb id is the smaller one; "商品" has header fields and record fields
// of every SQL type the catalog names.
const char8_t kDefinitionText[] = u8R"(# catalog test project
project folder="\\Proj\Data\" folders="Res\" "Tab\" "Tab\" "Tab\" "Tab\"
table "キー" fdb=7 id=7 header=0 record=8 file="KEY.DBF"
  field "位置" id=201 offset=0 size=2 type=4 index="KEY_POS.BXX"
  field "コード" id=202 offset=2 size=2 type=4
  composite "KEY_CPL.BXX" 0 1
end
table "商品" fdb=5 id=5 header=8 record=400 file="ITEM"
  hfield "件数" id=500 offset=0 size=4 type=4
  hfield "更新日時" id=501 offset=4 size=4 type=14
  field "コード" id=510 offset=0 size=4 type=4 index="ITM_CD" rules=0x80000000
  field "名称" id=511 offset=4 size=20 type=0 index="ITM_NAME.BXX" rules=0xA0000000
  field "単価" id=512 offset=24 size=8 type=8.2
  field "率" id=513 offset=32 size=4 type=9.1
  field "登録" id=514 offset=36 size=4 type=14
  field "変更" id=515 offset=40 size=4 type=15
  field "有効" id=516 offset=44 size=2 type=4 bits=1:3
  field "区分" id=517 offset=44 size=2 type=4 bits=4:4
  field "小" id=518 offset=46 size=1 type=4
  field "段" id=519 offset=48 size=4 type=4 bits=12:0
  field "中" id=520 offset=52 size=2 type=4
  field "大" id=521 offset=56 size=8 type=4
  field "備考" id=522 offset=64 size=300 type=1
  field "連番" id=523 offset=364 size=4 type=4 bits=20:0 index="ITM_SEQ" rules=0xC0000000
end
)";
const char kEmptyDefinition[] = R"(project folder="\\Proj\Data\" folders="Res\" "Tab\" "Tab\" "Tab\" "Tab\"
)";

constexpr int32_t kHeader = FILEPROJ_CATALOG_HEADER_BIT;
constexpr size_t kBuffer = 320;

std::string text(const std::vector<uint8_t>& row, size_t at) {
  return fixedText(row.data() + at, 32);
}
int32_t i32(const std::vector<uint8_t>& row, size_t at) { return zemta::get_i32le(row.data() + at); }

void putText(std::vector<uint8_t>& row, size_t at, const std::string& value) {
  std::memcpy(row.data() + at, value.data(), value.size());
}
void putI32(std::vector<uint8_t>& row, size_t at, int32_t value) { zemta::put_i32le(row.data() + at, value); }

class ProjectCatalogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    catalog_ = folder_.file("App/Res/Test.dbf");
    ASSERT_TRUE(make(reinterpret_cast<const char*>(kDefinitionText), catalog_));
    project_ = FileProjOpen(catalog_.c_str(), 5, nullptr);
    ASSERT_NE(project_, 0u);
    box_.clear();
  }
  void TearDown() override {
    if (project_) FileProjClose(project_);
  }

  static bool make(const char* text, const std::string& catalog) {
    ProjectDefinition definition;
    std::string error;
    EXPECT_TRUE(parseProjectDefinition(text, definition, error)) << error;
    EXPECT_TRUE(makeProject(definition, catalog, error)) << error;
    return error.empty();
  }

  // A row filled into a buffer larger than any row, which must keep its tail.
  int32_t fill(int32_t index, int32_t kind, int32_t fdbId, std::vector<uint8_t>& row) {
    row.assign(kBuffer, 0xEE);
    return FileProjGetCatalogData(project_, index, row.data(), kind, fdbId);
  }

  // The last failure showed the code's text, once.
  void expectReported(uint32_t code) {
    EXPECT_EQ(box_.count(), 1u);
    EXPECT_EQ(box_.lastText(), zemta::errorText(code));
    box_.clear();
  }

  ScriptedMessageBox box_;
  store_test::TempFolder folder_;
  std::string catalog_;
  FileProjHandle project_ = 0;
};

TEST_F(ProjectCatalogTest, ListsTablesInCatalogOrderHeaderTableFirst) {
  ASSERT_EQ(FileProjGetCatalogNumber(project_, FILEPROJ_CATALOG_TABLES, 0), 3);
  struct Expected {
    const char* owner;
    const char* name;
  };
  const Expected tables[] = {{"rec", "キー"}, {"bas", "商品"}, {"rec", "商品"}};
  for (int32_t i = 0; i < 3; ++i) {
    std::vector<uint8_t> row;
    // The fdb id plays no part in numbering tables.
    ASSERT_EQ(fill(i, FILEPROJ_CATALOG_TABLES, i == 0 ? 0 : 99, row), 0) << i;
    std::vector<uint8_t> expected(kBuffer, 0xEE);
    std::fill(expected.begin(), expected.begin() + FILEPROJ_CATALOG_TABLE_ROW_LEN, 0);
    putText(expected, 0, "\\\\Proj\\Data\\");
    putText(expected, 32, tables[i].owner);
    putText(expected, 64, tables[i].name);
    putText(expected, 96, "TABLE");
    putI32(expected, 128, -1);
    EXPECT_EQ(row, expected) << i;
  }
  std::vector<uint8_t> row;
  EXPECT_EQ(fill(3, FILEPROJ_CATALOG_TABLES, 0, row), -1);
  expectReported(ZEMTA_ERR_BAD_PARAMETER);
  EXPECT_EQ(row, std::vector<uint8_t>(kBuffer, 0xEE));
}

TEST_F(ProjectCatalogTest, ColumnRowsNameSqlTypesOfTheFields) {
  // Record table: "RecNo" first, then the record fields.
  ASSERT_EQ(FileProjGetCatalogNumber(project_, FILEPROJ_CATALOG_COLUMNS, 5), 15);
  ASSERT_EQ(FileProjGetCatalogNumber(project_, FILEPROJ_CATALOG_COLUMNS, 5 | kHeader), 2);
  ASSERT_EQ(FileProjGetCatalogNumber(project_, FILEPROJ_CATALOG_COLUMNS, 7), 3);

  std::vector<uint8_t> row;
  ASSERT_EQ(fill(0, FILEPROJ_CATALOG_COLUMNS, 5, row), 0);
  std::vector<uint8_t> expected(kBuffer, 0xEE);
  std::fill(expected.begin(), expected.begin() + FILEPROJ_CATALOG_COLUMN_ROW_LEN, 0);
  putText(expected, 0, "\\\\Proj\\Data\\");
  putText(expected, 32, "rec");
  putText(expected, 64, "商品");
  putText(expected, 96, "RecNo");
  putI32(expected, 128, 4);
  putText(expected, 132, "INTEGER");
  putI32(expected, 164, 10);
  putI32(expected, 168, 4);
  putI32(expected, 172, 0);
  putI32(expected, 176, 10);
  putI32(expected, 180, 0);
  putI32(expected, 184, -1);
  EXPECT_EQ(row, expected);

  struct Column {
    int32_t fdb, index;
    const char* owner;
    const char* name;
    int32_t type;
    const char* typeName;
    int32_t precision, length, scale, radix, nullable;
  };
  const Column columns[] = {
      {5 | kHeader, 0, "bas", "件数", 4, "INTEGER", 10, 4, 0, 10, 0},
      {5 | kHeader, 1, "bas", "更新日時", 11, "TIMESTAMP", 19, 4, 0, 255, 1},
      {5, 1, "rec", "コード", 4, "INTEGER", 10, 4, 0, 10, 0},
      {5, 2, "rec", "名称", 1, "CHAR", 20, 20, 255, 255, 0},
      {5, 3, "rec", "単価", 8, "DOUBLE", 15, 8, 2, 10, 0},
      {5, 4, "rec", "率", 7, "REAL", 7, 4, 1, 10, 0},
      {5, 5, "rec", "登録", 11, "TIMESTAMP", 19, 4, 0, 255, 1},
      {5, 6, "rec", "変更", 11, "TIMESTAMP", 19, 4, 0, 255, 0},
      {5, 7, "rec", "有効", -7, "BIT", 1, 1, 0, 255, 0},
      {5, 8, "rec", "区分", -6, "TINYINT", 3, 2, 0, 10, 0},
      {5, 9, "rec", "小", -6, "TINYINT", 3, 1, 0, 10, 0},
      {5, 10, "rec", "段", 5, "SMALLINT", 5, 4, 0, 10, 0},
      {5, 11, "rec", "中", 5, "SMALLINT", 5, 2, 0, 10, 0},
      {5, 12, "rec", "大", -5, "BIGINT", 19, 8, 0, 10, 0},
      {5, 13, "rec", "備考", 1, "CHAR", 255, 300, 255, 255, 0},
      {5, 14, "rec", "連番", 4, "INTEGER", 10, 4, 0, 10, 0},
      {7, 0, "rec", "RecNo", 4, "INTEGER", 10, 4, 0, 10, 0},
      {7, 2, "rec", "コード", 5, "SMALLINT", 5, 2, 0, 10, 0},
  };
  for (const auto& c : columns) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(fill(c.index, FILEPROJ_CATALOG_COLUMNS, c.fdb, row), 0);
    EXPECT_EQ(text(row, 32), c.owner);
    EXPECT_EQ(text(row, 64), (c.fdb & 0x7FFF) == 5 ? "商品" : "キー");
    EXPECT_EQ(text(row, 96), c.name);
    EXPECT_EQ(i32(row, 128), c.type);
    EXPECT_EQ(text(row, 132), c.typeName);
    EXPECT_EQ(i32(row, 164), c.precision);
    EXPECT_EQ(i32(row, 168), c.length);
    EXPECT_EQ(i32(row, 172), c.scale);
    EXPECT_EQ(i32(row, 176), c.radix);
    EXPECT_EQ(i32(row, 180), c.nullable);
    EXPECT_EQ(i32(row, 184), -1);
    EXPECT_EQ(row[FILEPROJ_CATALOG_COLUMN_ROW_LEN], 0xEE);
  }

  // The end of each listing.
  for (int32_t fdb : {5, 5 | kHeader, 7}) {
    const int32_t count = FileProjGetCatalogNumber(project_, FILEPROJ_CATALOG_COLUMNS, fdb);
    EXPECT_EQ(fill(count, FILEPROJ_CATALOG_COLUMNS, fdb, row), -1) << fdb;
    expectReported(ZEMTA_ERR_BAD_PARAMETER);
  }
}

TEST_F(ProjectCatalogTest, StatisticsRowsListRecordNumberThenEachIndex) {
  ASSERT_EQ(FileProjGetCatalogNumber(project_, FILEPROJ_CATALOG_STATISTICS, 5), 4);
  ASSERT_EQ(FileProjGetCatalogNumber(project_, FILEPROJ_CATALOG_STATISTICS, 5 | kHeader), 0);
  ASSERT_EQ(FileProjGetCatalogNumber(project_, FILEPROJ_CATALOG_STATISTICS, 7), 3);

  std::vector<uint8_t> row;
  ASSERT_EQ(fill(0, FILEPROJ_CATALOG_STATISTICS, 5, row), 0);
  std::vector<uint8_t> expected(kBuffer, 0xEE);
  std::fill(expected.begin(), expected.begin() + FILEPROJ_CATALOG_STATISTICS_ROW_LEN, 0);
  putText(expected, 0, "\\\\Proj\\Data\\");
  putText(expected, 32, "rec");
  putText(expected, 64, "商品");
  putI32(expected, 96, 0);
  putText(expected, 100, "商品");
  putText(expected, 132, "REC_NO");
  putI32(expected, 164, 1);
  putI32(expected, 168, 1);
  putText(expected, 172, "RecNo");
  expected[204] = 'A';
  putI32(expected, 236, 0);
  putI32(expected, 240, 1);
  putI32(expected, 244, -1);
  EXPECT_EQ(row, expected);

  // Unique only when the rules ask for it without an exemption.
  struct Index {
    int32_t fdb, index, nonUnique;
    const char* name;
    const char* column;
  };
  const Index indexes[] = {
      {5, 1, 0, "ITM_CD", "コード"},
      {5, 2, 1, "ITM_NAME.BXX", "名称"},
      {5, 3, 1, "ITM_SEQ", "連番"},
      {7, 1, 1, "KEY_POS.BXX", "位置"},
  };
  for (const auto& x : indexes) {
    SCOPED_TRACE(x.name);
    ASSERT_EQ(fill(x.index, FILEPROJ_CATALOG_STATISTICS, x.fdb, row), 0);
    EXPECT_EQ(i32(row, 96), x.nonUnique);
    EXPECT_EQ(text(row, 100), text(row, 64));
    EXPECT_EQ(text(row, 132), x.name);
    EXPECT_EQ(i32(row, 164), 3);
    EXPECT_EQ(i32(row, 168), 1);
    EXPECT_EQ(text(row, 172), x.column);
    EXPECT_EQ(text(row, 204), "A");
    EXPECT_EQ(i32(row, 240), 1);
    EXPECT_EQ(i32(row, 244), -1);
    EXPECT_EQ(row[FILEPROJ_CATALOG_STATISTICS_ROW_LEN], 0xEE);
  }

  // A composite index has no single field behind it.
  EXPECT_EQ(fill(2, FILEPROJ_CATALOG_STATISTICS, 7, row), -1);
  expectReported(ZEMTA_ERR_PROJECT_SETTINGS);
  // The ends, and a header table, which has no statistics.
  for (auto [index, fdb] : {std::pair{4, 5}, std::pair{3, 7}, std::pair{0, 5 | kHeader}}) {
    EXPECT_EQ(fill(index, FILEPROJ_CATALOG_STATISTICS, fdb, row), -1) << fdb;
    expectReported(ZEMTA_ERR_BAD_PARAMETER);
  }
}

TEST_F(ProjectCatalogTest, BadHandlesKindsIdsAndBuffersFail) {
  EXPECT_EQ(FileProjGetCatalogNumber(0x1234, FILEPROJ_CATALOG_TABLES, 0), -1);
  expectReported(ZEMTA_ERR_BAD_PROJECT_HANDLE);
  std::vector<uint8_t> row(kBuffer);
  EXPECT_EQ(FileProjGetCatalogData(0x1234, 0, row.data(), FILEPROJ_CATALOG_TABLES, 5), -1);
  expectReported(ZEMTA_ERR_BAD_PROJECT_HANDLE);

  for (int32_t kind : {4, 5, 6}) EXPECT_EQ(FileProjGetCatalogNumber(project_, kind, 5), 0);
  EXPECT_EQ(box_.count(), 0u);

  struct NumberCase {
    int32_t kind, fdb;
  };
  for (const auto& c : {NumberCase{0, 5}, NumberCase{7, 5}, NumberCase{2, 99}, NumberCase{2, 99 | kHeader},
                        NumberCase{3, 0}}) {
    EXPECT_EQ(FileProjGetCatalogNumber(project_, c.kind, c.fdb), -1) << c.kind << " " << c.fdb;
    expectReported(ZEMTA_ERR_BAD_PARAMETER);
  }

  struct DataCase {
    int32_t index;
    bool buffer;
    int32_t kind, fdb;
  };
  for (const auto& c : {DataCase{0, false, 2, 5}, DataCase{0, false, 1, 5}, DataCase{0, true, 2, 0},
                        DataCase{0, true, 3, 0}, DataCase{0, true, 2, 99}, DataCase{0, true, 4, 5},
                        DataCase{0, true, 0, 5}, DataCase{-1, true, 2, 5}, DataCase{-1, true, 1, 5}}) {
    std::fill(row.begin(), row.end(), 0xEE);
    EXPECT_EQ(FileProjGetCatalogData(project_, c.index, c.buffer ? row.data() : nullptr, c.kind, c.fdb), -1)
        << c.index << " " << c.kind << " " << c.fdb;
    expectReported(ZEMTA_ERR_BAD_PARAMETER);
    EXPECT_EQ(row, std::vector<uint8_t>(kBuffer, 0xEE));
  }
}

TEST_F(ProjectCatalogTest, ProjectWithoutTablesHasAnEmptyCatalog) {
  const std::string catalog = folder_.file("Empty/Res/Empty.dbf");
  ASSERT_TRUE(make(kEmptyDefinition, catalog));
  FileProjHandle empty = FileProjOpen(catalog.c_str(), 6, nullptr);
  ASSERT_NE(empty, 0u);
  box_.clear();
  EXPECT_EQ(FileProjGetCatalogNumber(empty, FILEPROJ_CATALOG_TABLES, 0), 0);
  EXPECT_EQ(FileProjGetCatalogNumber(empty, FILEPROJ_CATALOG_COLUMNS, 0), 0);
  EXPECT_EQ(box_.count(), 0u);
  EXPECT_EQ(FileProjGetCatalogNumber(empty, FILEPROJ_CATALOG_TABLES, 5), -1);
  expectReported(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
  std::vector<uint8_t> row(kBuffer);
  EXPECT_EQ(FileProjGetCatalogData(empty, 0, row.data(), FILEPROJ_CATALOG_TABLES, 0), -1);
  expectReported(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
  EXPECT_EQ(FileProjClose(empty), 0);
}

TEST_F(ProjectCatalogTest, LongQualifierIsCutWithinItsFieldWithoutSplittingACharacter) {
  // The catalog keeps up to 36 bytes of data folder, more than a text field holds.
  struct Case {
    std::string folder, qualifier;
  };
  const Case cases[] = {
      {std::string(36, 'A'), std::string(31, 'A')},
      {std::string(30, 'A') + "部門AA", std::string(30, 'A')},
      {std::string(29, 'A') + "部門AAA", std::string(29, 'A') + "部"},
  };
  Project* p = findProject(project_);
  ASSERT_NE(p, nullptr);
  for (const auto& c : cases) {
    ASSERT_EQ(c.folder.size(), 36u);
    std::memcpy(p->header.data() + kHeaderDataFolder, c.folder.data(), kHeaderDataFolderLen);
    std::vector<uint8_t> row;
    ASSERT_EQ(fill(0, FILEPROJ_CATALOG_TABLES, 0, row), 0);
    EXPECT_EQ(text(row, 0), c.qualifier);
    EXPECT_EQ(row[31], 0);
    EXPECT_EQ(text(row, 32), "rec");
  }
}

}  // namespace
