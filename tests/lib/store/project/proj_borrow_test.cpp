// Borrowed indexes: departments borrow the items' index on the item code,
// linked through the items' department field. The borrowed entry is the
// items' live index (never a file of its own, so a leftover file in the
// temporary folder is never read as its entries), and the departments'
// own index operations and searches leave it alone.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lib/core/report.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/store/project/project_definition.h"
#include "lib/store/project/project_writer.h"
#include "lib/store/store_test_support.h"
#include "lib/store/tables/filedb_internal.h"
#include "platform/base/path.h"
#include "support/scripted_message_box.h"
#include "zemta/btree.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"
#include "zemta/fileidx.h"
#include "zemta/fileproj.h"
#include "zemta/filebuf.h"
#include "zemta/fileproj_resource.h"
#include "zemta/filesearch.h"
#include "zemta/tempidx.h"

using store_test::TempFolder;
using testing_support::ScriptedMessageBox;

namespace {

const char8_t kDefinitionText[] = u8R"(
project folder="\\Proj\Data" folders="Res\" "Tab\" "" "" ""
table "部門" fdb=5 id=5 header=0 record=20 file="DEPT"
  field "コード" id=1 offset=0 size=2 type=2 index="DPT01"
  field "区分" id=2 offset=2 size=2 type=2
  field "名称" id=3 offset=4 size=8 type=0 index="DPT02"
  field "略称" id=4 offset=12 size=8 type=0 index="DPT03"
end
table "商品" fdb=6 id=6 header=0 record=20 file="PLU"
  field "コード" id=1 offset=0 size=4 type=2 index="PLU01"
  field "部門" id=2 offset=4 size=2 type=2 index="PLU02" rules=0x1 ref=部門:コード
  field "単価" id=3 offset=6 size=4 type=2
  field "部門名" id=4 offset=10 size=8 type=0 rules=0x1 ref=部門:名称
end
)";
const char* const kDefinition = reinterpret_cast<const char*>(kDefinitionText);

std::vector<uint8_t> item(uint32_t code, uint16_t department) {
  std::vector<uint8_t> r(20, 0);
  std::memcpy(r.data(), &code, 4);
  std::memcpy(r.data() + 4, &department, 2);
  return r;
}

class BorrowedIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    messages_ = ZemtaEnableLastErrorMessage(0);
    catalog_ = folder_.file("App/Res/Test.dbf");
    zemta::fileproj::ProjectDefinition definition;
    std::string error;
    ASSERT_TRUE(zemta::fileproj::parseProjectDefinition(kDefinition, definition, error)) << error;
    ASSERT_TRUE(zemta::fileproj::makeProject(definition, catalog_, error)) << error;
    project_ = FileProjOpen(catalog_.c_str(), 5, nullptr);
    ASSERT_NE(project_, 0u);
    departments_ = FileProjGetFdb(project_, 5);
    items_ = FileProjGetFdb(project_, 6);
    ASSERT_EQ(FileDBRecWrite(items_, 0, item(4901, 10).data()), 0);
    ASSERT_EQ(FileDBRecWrite(items_, 1, item(4902, 11).data()), 0);
  }
  void TearDown() override {
    if (project_) FileProjClose(project_);
    ZemtaEnableLastErrorMessage(messages_);
  }
  std::string shownBy(const std::function<void()>& call) {
    ZemtaEnableLastErrorMessage(1);
    ScriptedMessageBox box;
    call();
    ZemtaEnableLastErrorMessage(0);
    return box.lastText();
  }

  TempFolder folder_;
  std::string catalog_;
  FileProjHandle project_ = 0;
  FileDBHandle departments_ = 0, items_ = 0;
  int32_t messages_ = 0;
};

TEST_F(BorrowedIndexTest, BorrowedEntryIsTheSourcesLiveIndex) {
  // A file left in the temporary folder under the name a temporary index of
  // the departments on offset 0 would take, full of entries from long ago.
  char name[32];
  std::snprintf(name, sizeof name, "%08X.%03X", static_cast<unsigned>(departments_), 0u);
  const std::string leftover = platform::joinPath(platform::temporaryFolder(), name);
  store_test::writeFileBytes(leftover, std::string(600, '\x07'));

  ASSERT_EQ(FileAddIndIndex(project_, 5, 6, 4, 0, 4), 0);
  zemta::filedb::Table* t = zemta::filedb::findTable(departments_);
  zemta::filedb::Table* s = zemta::filedb::findTable(items_);
  ASSERT_EQ(t->indexes.size(), 4u);  // code, name, short name, and the borrowed one
  const zemta::filedb::IndexEntry& borrowed = t->indexes[3];
  EXPECT_EQ(borrowed.sourceTable, 6);
  EXPECT_EQ(borrowed.sourceIndex, 0);
  EXPECT_EQ(borrowed.linkIndex, 1);
  EXPECT_EQ(borrowed.ownIndex, 0);
  EXPECT_EQ(borrowed.handle, s->indexes[0].handle);
  EXPECT_EQ(store_test::fileBytes(leftover), std::string(600, '\x07'));

  // It follows the items as they are written: a new item is in it at once.
  ASSERT_EQ(FileDBRecWrite(items_, 2, item(4903, 10).data()), 0);
  ASSERT_EQ(BtreeOpen(borrowed.handle, BTREE_MODE_READ), 0);
  uint32_t offset = 0;
  const uint32_t code = 4903;
  EXPECT_EQ(BtreeEqu(borrowed.handle, &offset, &code), 1);
  EXPECT_EQ(offset, 2u * 20);
  BtreeClose(borrowed.handle);

  // The departments' own operations skip it: the lookup of an index by its
  // key, a search by its number, and writes.
  EXPECT_EQ(FileGetIndexPos(departments_, 0, 4, 1), -1);
  FileRecList list{};
  EXPECT_EQ(shownBy([&] { EXPECT_EQ(FileIdxSear(departments_, 3, &code, &code, &list, 0, 0), -1); }),
            zemta::errorText(ZEMTA_ERR_BAD_INDEX_HANDLE));
  const uint8_t department[20] = {10, 0, 1, 0};
  EXPECT_EQ(FileDBRecWrite(departments_, 0, department), 0);
  int32_t found = -1;
  EXPECT_EQ(FileIdxEqu(departments_, 0, &found, department), 1);
  std::remove(leftover.c_str());
}

TEST_F(BorrowedIndexTest, RefusesWhatCannotBeBorrowed) {
  struct Case {
    const char* what;
    int32_t borrower, source, link, keyOffset, keyLen;
    uint32_t code;
  } cases[] = {
      {"no index on the key", 5, 6, 4, 6, 4, ZEMTA_ERR_BAD_PARAMETER},
      {"no field at the link offset", 5, 6, 8, 0, 4, ZEMTA_ERR_BAD_PARAMETER},
      {"the link refers to no field the borrower indexes", 5, 6, 0, 0, 4, ZEMTA_ERR_BAD_FILEDB_HANDLE},
      {"unknown table", 9, 6, 4, 0, 4, ZEMTA_ERR_BAD_PARAMETER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(shownBy([&] { EXPECT_EQ(FileAddIndIndex(project_, c.borrower, c.source, c.link, c.keyOffset, c.keyLen), -1); }),
              zemta::errorText(c.code));
  }
  EXPECT_EQ(zemta::filedb::findTable(departments_)->indexes.size(), 3u);
}

// The keyword search behind a reference field of a buffer row: a number
// finds the record with that key; a text is a prefix, and when the
// referenced field's index finds nothing the table's other text indexes are
// tried.
TEST_F(BorrowedIndexTest, KeywordSearchFollowsTheReferenceField) {
  const struct {
    uint16_t code;
    const char* name;
    const char* shortName;
  } departments[] = {{10, "食品", "ｼｮｸﾋﾝ"}, {11, "食料", "ｼｮｸﾘｮｳ"}, {12, "衣料", "ｲﾘｮｳ"}};
  for (int32_t n = 0; n < 3; ++n) {
    std::vector<uint8_t> r(20, 0);
    std::memcpy(r.data(), &departments[n].code, 2);
    std::memcpy(r.data() + 4, departments[n].name, std::strlen(departments[n].name));
    std::memcpy(r.data() + 12, departments[n].shortName, std::strlen(departments[n].shortName));
    ASSERT_EQ(FileDBRecWrite(departments_, n, r.data()), 0);
  }
  using namespace zemta::fileproj;
  const int32_t departmentTable[] = {6};
  FileProjBufHandle added = FileProjBufAdd(project_, 2, 1, departmentTable);
  ASSERT_NE(added, nullptr);
  const int32_t number = FileProjBufNumber(project_, added);
  ASSERT_GE(number, 0);
  BufferSet* set = bufferSet(*findProject(project_), number);
  uint8_t* row = set->image(set->slots[0], 1);
  auto search = [&](const void* address) {
    FileRecList list{};
    std::vector<uint32_t> found;
    EXPECT_EQ(FileProjKeySearch(project_, address, &list), 0);
    for (int32_t i = 0; i < list.count; ++i) found.push_back(list.items[i]);
    FileDeleteRecList(&list);
    return found;
  };
  const uint16_t code = 11;
  std::memcpy(row + 4, &code, 2);
  EXPECT_EQ(search(row + 5), (std::vector<uint32_t>{1}));
  std::memcpy(row + 10, "食", 2);
  EXPECT_EQ(search(row + 10), (std::vector<uint32_t>{0, 1}));
  std::memcpy(row + 10, "ｲﾘ", 2);
  EXPECT_EQ(search(row + 10), (std::vector<uint32_t>{2}));
  // Not a reference field; not inside a row at all.
  FileRecList list{};
  EXPECT_EQ(shownBy([&] { EXPECT_EQ(FileProjKeySearch(project_, row + 6, &list), -1); }),
            zemta::errorText(ZEMTA_ERR_BAD_PARAMETER));
  EXPECT_EQ(shownBy([&] { EXPECT_EQ(FileProjKeySearch(project_, &list, &list), -1); }),
            zemta::errorText(ZEMTA_ERR_BAD_POINTER));
}

}  // namespace
