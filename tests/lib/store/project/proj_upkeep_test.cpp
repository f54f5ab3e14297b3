// Project upkeep over a project the maker built in a temporary folder: index
// checks that find damaged and dirty indexes and rebuild them in place
// without asking, emptying tables, and the unique-field check before a save.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "lib/store/tables/filedb_internal.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/store/project/project_definition.h"
#include "lib/store/project/project_writer.h"
#include "lib/store/department_project.h"
#include "lib/store/store_test_support.h"
#include "support/scripted_message_box.h"
#include "zemta/errors.h"
#include "zemta/fileproj.h"
#include "zemta/fileproj_upkeep.h"

namespace {

using namespace zemta::fileproj;
using store_test::department;

// 番号 unique; 名前 unique, an empty name allowed, a duplicate savable after
// the user confirms; 区分 indexed but not unique.
const char8_t kDefinitionText[] = u8R"(# upkeep project
project folder="\\Proj\Data\" folders="Res\" "Tab\" "Tab\" "Tab\" "Tab\"
table "部門" fdb=5 id=5 header=16 record=32 file="DEPT"
  hfield "件数" id=500 offset=0 size=4 type=4
  field "番号" id=501 offset=0 size=2 type=4 index="NO" rules=0x80000000
  field "名前" id=502 offset=2 size=20 type=0 index="NAME.BXX" rules=0xE0000000
  field "区分" id=503 offset=22 size=2 type=4 index="KIND"
end
)";
const char* const kDefinition = reinterpret_cast<const char*>(kDefinitionText);

std::vector<char> readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void patch(const std::string& path, std::streamoff at, const void* data, size_t length) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(at);
  f.write(static_cast<const char*>(data), static_cast<std::streamsize>(length));
}

class UpkeepTest : public store_test::DepartmentProject {
 protected:
  void SetUp() override { openProject(kDefinition); }
  int32_t find(int32_t index, const void* key) {
    int32_t first = -2;
    return FileIdxEqu(table_, index, &first, key) == 1 ? first : -1;
  }

};

TEST_F(UpkeepTest, StartUpCheckRebuildsBrokenIndexesInPlaceWithoutAsking) {
  testing_support::ScriptedMessageBox boxes;
  EXPECT_EQ(FileProjIdxCheck(project_, 0, FILEIDX_CHECK_REBUILD), 0);
  EXPECT_EQ(boxes.count(), 0u);

  // Three kinds of damage: the dirty magic of a write that never finished,
  // an entry whose record no longer has its key, and a file cut short.
  patch(data_ + "NO.bxx", 0, zemta::filedb::kDirtyMagic, 12);
  const uint8_t otherName[] = {'X', 'Y'};
  patch(data_ + "DEPT.dbf", 16 + 32 + 2, otherName, 2);
  std::vector<char> kind = readAll(data_ + "KIND.bxx");
  std::ofstream(data_ + "KIND.bxx", std::ios::binary | std::ios::trunc).write(kind.data(), 20);

  int32_t numberIndex = FileGetIndexPos(table_, 0, 2, 1);
  EXPECT_EQ(FileProjIdxCheck(project_, 0, FILEIDX_CHECK_REBUILD), 3);
  EXPECT_EQ(boxes.count(), 0u);
  EXPECT_EQ(FileProjIdxCheck(project_, 5, FILEIDX_CHECK_REBUILD), 0);
  EXPECT_EQ(FileGetIndexPos(table_, 0, 2, 1), numberIndex);

  // The rebuilt indexes find the records as they are now.
  const uint8_t eleven[2] = {11, 0};
  EXPECT_EQ(find(numberIndex, eleven), 1);
  char name[20] = "XY";
  std::memcpy(name + 2, "業", std::strlen("業"));
  EXPECT_EQ(find(FileGetIndexPos(table_, 2, 20, 1), name), 1);
  const uint8_t kindKey[2] = {1, 0};
  int32_t all = -1;
  EXPECT_EQ(FileIdxEqu(table_, FileGetIndexPos(table_, 22, 2, 1), &all, kindKey), 2);
}

TEST_F(UpkeepTest, CheckFlagsShowOrDeleteAndBadArgumentsFail) {
  testing_support::ScriptedMessageBox boxes;
  patch(data_ + "NO.bxx", 0, zemta::filedb::kDirtyMagic, 12);
  int32_t index = FileGetIndexPos(table_, 0, 2, 1);
  EXPECT_EQ(FileIdxCheck(table_, index, FILEIDX_CHECK_SHOW, "[部門] - [番号]"), 1);
  ASSERT_EQ(boxes.count(), 1u);
  EXPECT_EQ(boxes.lastText().rfind("インデックスファイル(", 0), 0u);
  EXPECT_NE(boxes.lastText().find("NO.bxx)が壊れています"), std::string::npos);
  EXPECT_EQ(boxes.shown()[0].caption, std::string("ｲﾝﾃﾞｯｸｽﾌｧｲﾙの検査 - [部門] - [番号]"));
  EXPECT_TRUE(std::ifstream(data_ + "NO.bxx").good());
  EXPECT_EQ(FileIdxCheck(table_, index, FILEIDX_CHECK_DELETE, nullptr), 1);
  EXPECT_FALSE(std::ifstream(data_ + "NO.bxx").good());
  EXPECT_EQ(FileIdxCheck(table_, index, FILEIDX_CHECK_REBUILD, nullptr), 1);
  EXPECT_EQ(FileIdxCheck(table_, index, 0, nullptr), 0);

  EXPECT_EQ(FileIdxCheck(table_, 99, 0, nullptr), -1);
  EXPECT_EQ(FileIdxCheck(0, 0, 0, nullptr), -1);
  EXPECT_EQ(FileProjIdxCheck(project_, 77, 0), -1);
  EXPECT_EQ(FileProjIdxCheck(0, 0, 0), -1);
}

TEST_F(UpkeepTest, EmptyingLeavesZeroedHeaderNoRecordsAndEmptyIndexes) {
  const uint8_t header[16] = {3, 0, 0, 0, 9, 9, 9, 9};
  ASSERT_EQ(FileDBWrite(table_, 0, header, sizeof header), 16);
  ASSERT_EQ(FileProjDeleteDB(project_, 5), 0);
  EXPECT_EQ(FileDBRecGetSize(table_), 0);
  std::vector<char> file = readAll(data_ + "DEPT.dbf");
  EXPECT_EQ(file, std::vector<char>(16, 0));
  const uint8_t ten[2] = {10, 0};
  EXPECT_EQ(find(FileGetIndexPos(table_, 0, 2, 1), ten), -1);
  EXPECT_EQ(FileProjIdxCheck(project_, 0, 0), 0);
  // The emptied table takes records again, its indexes with them.
  ASSERT_EQ(FileDBRecWrite(table_, 0, department(10, "新").data()), 0);
  EXPECT_EQ(find(FileGetIndexPos(table_, 0, 2, 1), ten), 0);
  EXPECT_EQ(FileProjDeleteDB(project_, 0), 0);
  EXPECT_EQ(FileDBRecGetSize(table_), 0);
  EXPECT_EQ(FileProjDeleteDB(project_, 77), -1);
}

TEST_F(UpkeepTest, DuplicateCheckOnUniqueFields) {
  testing_support::ScriptedMessageBox boxes;
  HWND window = reinterpret_cast<HWND>(0x1234);
  struct Case {
    const char* what;
    std::vector<uint8_t> record;
    int32_t number;
    HWND owner;
    int answer;  // 0: no box expected
    int32_t result;
  };
  const Case cases[] = {
      {"new unique number and name", department(20, "人事"), -1, nullptr, 0, 0},
      {"empty name is exempt", department(21, ""), -1, nullptr, 0, 0},
      {"taken number, nobody to tell", department(10, "人事"), -1, nullptr, 0, 3},
      {"taken number, told", department(10, "人事"), -1, window, platform::kIdOk, 3},
      {"taken name, cancelled", department(22, "営業"), -1, window, platform::kIdCancel, 3},
      {"taken name, forced", department(22, "営業"), -1, window, platform::kIdOk, 1},
      {"existing record unchanged", department(11, "営業"), 1, window, 0, 0},
      {"existing record takes another's number", department(12, "営業"), 1, window, platform::kIdOk, 3},
      {"existing record keeps its number, new name", department(11, "企画"), 1, window, 0, 0},
  };
  for (const auto& c : cases) {
    boxes.clear();
    if (c.answer) boxes.answer(c.answer);
    std::vector<uint8_t> record = c.record;
    EXPECT_EQ(FileProjIdxDupCheck(project_, 5, record.data(), c.number, c.owner), c.result) << c.what;
    EXPECT_EQ(boxes.count(), c.answer ? 1u : 0u) << c.what;
  }
  boxes.clear();
  boxes.answer(platform::kIdOk);
  std::vector<uint8_t> record = department(10, "人事");
  FileProjIdxDupCheck(project_, 5, record.data(), -1, window);
  ASSERT_EQ(boxes.count(), 1u);
  EXPECT_EQ(boxes.lastText(), std::string("追加保存（新規登録）に失敗しました\n\n番号を重複して使用することは禁止されています"));
  EXPECT_EQ(boxes.shown()[0].caption, std::string("部門"));
  EXPECT_EQ(boxes.shown()[0].style & platform::kMbIconMask, static_cast<uint32_t>(platform::kMbIconWarning));

  EXPECT_EQ(FileProjIdxDupCheck(project_, 0, record.data(), -1, nullptr), -1);
  EXPECT_EQ(FileProjIdxDupCheck(project_, 77, record.data(), -1, nullptr), -1);
  EXPECT_EQ(FileProjIdxDupCheck(project_, 5, nullptr, -1, nullptr), -1);
}

}  // namespace
