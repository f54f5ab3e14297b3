// The table layout change over a three-table project made by the project
// maker: fields matched by name (moved, widened, renamed), the header, the
// indexes and a form's items following their fields; and the change killed
// at every write and every step of its switch, after which the project opens
// in the old or the new layout with every record.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "lib/store/project/fileproj_layout_internal.h"
#include "lib/store/project/project_definition.h"
#include "lib/store/project/project_writer.h"
#include "lib/store/store_test_support.h"
#include "platform/base/file.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"
#include "zemta/fileidx.h"
#include "zemta/fileproj.h"
#include "zemta/fileproj_layout.h"
#include "zemta/fileproj_resource.h"

namespace fs = std::filesystem;
using store_test::TempFolder;

namespace {

const char8_t kOldText[] = u8R"(
project folder="\\Proj\Data" folders="Res\" "Tab\" "" "" ""
table "部門" fdb=5 id=5 header=0 record=32 file="DEPT"
  field "コード" id=1 offset=0 size=2 type=2 index="DPT01"
  field "名称" id=2 offset=2 size=20 type=0
  field "区分" id=3 offset=22 size=2 type=2
end
table "商品" fdb=6 id=6 header=0 record=16 file="PLU"
  field "コード" id=1 offset=0 size=4 type=2 index="PLU01"
  field "単価" id=2 offset=4 size=2 type=7
  field "部門" id=3 offset=6 size=2 type=2 index="PLU02"
end
table "担当者" fdb=7 id=7 header=8 record=16 file="CLERK"
  hfield "件数" id=9 offset=0 size=4 type=2
  field "コード" id=1 offset=0 size=2 type=2 index="CLK01"
  field "氏名" id=2 offset=2 size=10 type=0
end
resource "部門" file="DEPT" flags=1 tables=5
)";
const char* const kOld = reinterpret_cast<const char*>(kOldText);

// Departments: the kind moved before the name; items: the price widened to
// 4 bytes and the department moved; clerks: the name field renamed (its
// data is lost), the header kept.
const char8_t kNewText[] = u8R"(
project folder="\\Proj\Data" folders="Res\" "Tab\" "" "" ""
table "部門" fdb=5 id=5 header=0 record=32 file="DEPT"
  field "コード" id=1 offset=0 size=2 type=2 index="DPT01"
  field "区分" id=3 offset=2 size=2 type=2
  field "名称" id=2 offset=4 size=20 type=0
end
table "商品" fdb=6 id=6 header=0 record=16 file="PLU"
  field "コード" id=1 offset=0 size=4 type=2 index="PLU01"
  field "単価" id=2 offset=4 size=4 type=7
  field "部門" id=3 offset=8 size=2 type=2 index="PLU02"
end
table "担当者" fdb=7 id=7 header=8 record=20 file="CLERK"
  hfield "件数" id=9 offset=0 size=4 type=2
  field "コード" id=1 offset=0 size=2 type=2 index="CLK01"
  field "名前" id=2 offset=2 size=16 type=0
end
resource "部門" file="DEPT" flags=1 tables=5
)";
const char* const kNew = reinterpret_cast<const char*>(kNewText);

using Record = std::vector<uint8_t>;
using Tables = std::map<int32_t, std::vector<Record>>;

void put(Record& r, size_t at, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) r[at + i] = static_cast<uint8_t>(value >> (8 * i));
}
void putText(Record& r, size_t at, const char* text) { std::memcpy(r.data() + at, text, std::strlen(text)); }

constexpr int kDepartments = 40, kItems = 60, kClerks = 12;
const char* const kNames[] = {"食品", "衣料", "雑貨", "酒類"};

// The records as the old layout holds them, and as the new one must.
Tables oldRecords() {
  Tables t;
  for (int i = 0; i < kDepartments; ++i) {
    Record r(32, 0);
    put(r, 0, 100 + i, 2), putText(r, 2, kNames[i % 4]), put(r, 22, i % 3, 2);
    t[5].push_back(r);
  }
  for (int i = 0; i < kItems; ++i) {
    Record r(16, 0);
    put(r, 0, 4900000 + i, 4), put(r, 4, static_cast<uint32_t>(i % 2 ? -(i * 10) : i * 10), 2), put(r, 6, 100 + i % 40, 2);
    t[6].push_back(r);
  }
  for (int i = 0; i < kClerks; ++i) {
    Record r(16, 0);
    put(r, 0, i + 1, 2), putText(r, 2, "山田");
    t[7].push_back(r);
  }
  return t;
}

Tables newRecords() {
  Tables t;
  for (int i = 0; i < kDepartments; ++i) {
    Record r(32, 0);
    put(r, 0, 100 + i, 2), put(r, 2, i % 3, 2), putText(r, 4, kNames[i % 4]);
    t[5].push_back(r);
  }
  for (int i = 0; i < kItems; ++i) {
    Record r(16, 0);
    put(r, 0, 4900000 + i, 4), put(r, 4, static_cast<uint32_t>(i % 2 ? -(i * 10) : i * 10), 4), put(r, 8, 100 + i % 40, 2);
    t[6].push_back(r);
  }
  for (int i = 0; i < kClerks; ++i) {
    Record r(20, 0);
    put(r, 0, i + 1, 2);
    t[7].push_back(r);
  }
  return t;
}

// A form of departments: the name at record offset 2 (20 bytes), the kind at 22.
std::string departmentForm() {
  std::string b = {'N', 'A', 0, 1, 20, 0, 1, 0};
  b.append(8, '\0');
  b += "部門\r";
  b += std::string("\x02\x00", 2);
  for (uint16_t offset : {uint16_t(2), uint16_t(22)}) {
    std::string item(64, '\0');
    item[8] = 0, item[10] = 4, item[12] = 1;  // line 0, width 4, one line
    item[20] = static_cast<char>(offset), item[22] = offset == 2 ? 20 : 2;
    b += item;
  }
  std::string trailer = "ZEMTA RESOURCE\r\n";
  trailer += std::string("\x01\x00\x05\x00", 4);
  b += static_cast<char>(trailer.size());
  b += '\0';
  return b + trailer;
}

std::vector<uint16_t> formOffsets(const std::string& path) {
  FileProjForm form;
  std::vector<uint16_t> offsets;
  if (FileProjResourceLoad(path.c_str(), &form, nullptr) < 0) return offsets;
  for (int i = 0; i < form.itemCount; ++i) offsets.push_back(form.items[64 * i + 20] | form.items[64 * i + 21] << 8);
  FileProjResourceFree(&form);
  return offsets;
}

// Stops the process at the event number given: every write of a file and
// every step of the switch counts.
int32_t g_events = 0;
int32_t g_stopAt = -1;
bool g_torn = false;

int32_t onWrite(const std::string&, uint32_t count) {
  if (g_events++ != g_stopAt) return -1;
  return g_torn ? static_cast<int32_t>(count / 2) : 0;
}
void onStep(const char*) {
  if (g_events++ == g_stopAt) kill(getpid(), SIGKILL);
}

class LayoutChangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    messages_ = ZemtaEnableLastErrorMessage(0);
    catalog_ = folder_.file("App/Res/Test.dbf");
    newCatalog_ = folder_.file("Update/Test.dbf");
    make(kOld, catalog_);
    make(kNew, newCatalog_);
    project_ = FileProjOpen(catalog_.c_str(), 5, nullptr);
    ASSERT_NE(project_, 0u);
    const Tables records = oldRecords();
    for (const auto& [fdb, list] : records)
      for (size_t n = 0; n < list.size(); ++n)
        ASSERT_EQ(FileDBRecWrite(FileProjGetFdb(project_, fdb), static_cast<int32_t>(n), list[n].data()), 0);
    const uint8_t count[4] = {kClerks, 0, 0, 0};
    ASSERT_EQ(FileDBWrite(FileProjGetFdb(project_, 7), 0, count, 4), 4);
    form_ = folder_.file("App/Res/Data/Res/DEPT.daf");
    store_test::writeFileBytes(form_, departmentForm());
  }
  void TearDown() override {
    if (project_) FileProjClose(project_);
    platform::setWriteInterposer(nullptr);
    zemta::fileproj::setLayoutStepHook(nullptr);
    ZemtaEnableLastErrorMessage(messages_);
  }
  void make(const char* text, const std::string& catalog) {
    zemta::fileproj::ProjectDefinition definition;
    std::string error;
    ASSERT_TRUE(zemta::fileproj::parseProjectDefinition(text, definition, error)) << error;
    ASSERT_TRUE(zemta::fileproj::makeProject(definition, catalog, error)) << error;
  }
  // Opens the project from its own catalog and checks it is wholly in one
  // layout, with every record and working indexes. True for the new layout.
  bool openedLayout() {
    project_ = FileProjOpen(catalog_.c_str(), 5, nullptr);
    EXPECT_NE(project_, 0u);
    if (!project_) return false;
    FileProjTypeInfo info{};
    EXPECT_EQ(FileProjGetType(project_, 5, nullptr, 0, "区分", &info, nullptr, 0), 5);
    const bool isNew = info.offset == 2;
    const Tables expected = isNew ? newRecords() : oldRecords();
    for (const auto& [fdb, list] : expected) {
      FileDBHandle table = FileProjGetFdb(project_, fdb);
      EXPECT_EQ(FileDBRecGetSize(table), static_cast<int32_t>(list.size())) << "table " << fdb;
      EXPECT_EQ(FileDBRecGetFieldSize(table), static_cast<int32_t>(list[0].size())) << "table " << fdb;
      Record r(list[0].size());
      for (size_t n = 0; n < list.size(); ++n) {
        EXPECT_EQ(FileDBRecRead(table, static_cast<int32_t>(n), r.data()), 0);
        EXPECT_EQ(r, list[n]) << "table " << fdb << " record " << n << (isNew ? " (new)" : " (old)");
        // The first index (the code) finds the record.
        int32_t found = -1;
        EXPECT_EQ(FileIdxEqu(table, 0, &found, r.data()), 1) << "table " << fdb << " record " << n;
        EXPECT_EQ(found, static_cast<int32_t>(n));
      }
    }
    uint8_t count[4] = {};
    EXPECT_EQ(FileDBRead(FileProjGetFdb(project_, 7), 0, count, 4), 4);
    EXPECT_EQ(count[0], kClerks);
    EXPECT_EQ(formOffsets(form_), isNew ? (std::vector<uint16_t>{4, 2}) : (std::vector<uint16_t>{2, 22}));
    // Items that share a department: the second index still serves them.
    FileRecList list{};
    const uint8_t department[2] = {100, 0};
    EXPECT_EQ(FileIdxSear(FileProjGetFdb(project_, 6), 1, department, department, &list, 0, 0), 0);
    EXPECT_EQ(list.count, 2);
    FileDeleteRecList(&list);
    FileProjClose(project_);
    project_ = 0;
    return isNew;
  }

  TempFolder folder_;
  std::string catalog_, newCatalog_, form_;
  FileProjHandle project_ = 0;
  int32_t messages_ = 0;
};

TEST_F(LayoutChangeTest, RewritesChangedTablesByFieldName) {
  EXPECT_EQ(FileProjDBFldChange(project_, newCatalog_.c_str(), 1), 3);
  // The project is closed.
  EXPECT_EQ(FileProjClose(project_), -1);
  project_ = 0;
  EXPECT_TRUE(openedLayout());
  // Nothing of the change is left beside the project.
  for (const auto& entry : fs::recursive_directory_iterator(folder_.file("App")))
    EXPECT_EQ(entry.path().string().find('$'), std::string::npos) << entry.path();
}

TEST_F(LayoutChangeTest, SameLayoutRewritesNothing) {
  const std::string before = store_test::fileBytes(folder_.file("App/Res/Data/Tab/DEPT.dbf"));
  EXPECT_EQ(FileProjDBFldChange(project_, catalog_.c_str(), 1), 0);
  EXPECT_EQ(FileProjClose(project_), -1);
  project_ = 0;
  EXPECT_EQ(store_test::fileBytes(folder_.file("App/Res/Data/Tab/DEPT.dbf")), before);
  EXPECT_FALSE(openedLayout());
}

TEST_F(LayoutChangeTest, FailureBeforeTheSwitchLeavesTheProjectAsItWas) {
  // The items' table is malformed: its rewrite fails after the departments'.
  FileProjClose(project_);
  const std::string items = folder_.file("App/Res/Data/Tab/PLU.dbf");
  std::string bytes = store_test::fileBytes(items);
  project_ = FileProjOpen(catalog_.c_str(), 5, nullptr);
  ASSERT_NE(project_, 0u);
  store_test::writeFileBytes(items, bytes + "x");
  EXPECT_EQ(FileProjDBFldChange(project_, newCatalog_.c_str(), 1), -1);
  // Still open, still old.
  EXPECT_EQ(FileProjGetFdb(project_, 5) != 0, true);
  FileProjClose(project_);
  project_ = 0;
  store_test::writeFileBytes(items, bytes);
  EXPECT_FALSE(openedLayout());
}

TEST_F(LayoutChangeTest, KilledAtAnyStepOpensInOneLayoutWithEveryRecord) {
  FileProjClose(project_);
  project_ = 0;
  const fs::path app = folder_.file("App"), start = folder_.file("App.start");
  fs::copy(app, start, fs::copy_options::recursive);
  auto restore = [&] {
    fs::remove_all(app);
    fs::copy(start, app, fs::copy_options::recursive);
  };
  auto runChange = [&] {
    FileProjHandle p = FileProjOpen(catalog_.c_str(), 5, nullptr);
    if (!p) _exit(3);
    platform::setWriteInterposer(onWrite);
    zemta::fileproj::setLayoutStepHook(onStep);
    const int32_t n = FileProjDBFldChange(p, newCatalog_.c_str(), 1);
    platform::setWriteInterposer(nullptr);
    zemta::fileproj::setLayoutStepHook(nullptr);
    return n;
  };

  // A crash-free run counts the events.
  g_events = 0;
  g_stopAt = -1;
  ASSERT_EQ(runChange(), 3);
  const int32_t events = g_events;
  ASSERT_GT(events, 8);
  restore();

  int sawOld = 0, sawNew = 0;
  for (int32_t k = 0; k < events; ++k) {
    for (int torn = 0; torn < 2; ++torn) {
      SCOPED_TRACE("stopped at event " + std::to_string(k) + (torn ? ", half written" : ""));
      restore();
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        g_events = 0;
        g_stopAt = k;
        g_torn = torn != 0;
        runChange();
        _exit(0);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
      (openedLayout() ? sawNew : sawOld)++;
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(sawOld, 0);
  EXPECT_GT(sawNew, 0);
  fs::remove_all(start);
}

// Two catalog tables over one file are one table to rewrite.
TEST_F(LayoutChangeTest, TablesSharingAFileAreRewrittenOnce) {
  FileProjClose(project_);
  project_ = 0;
  const char8_t shared[] = u8R"(
project folder="\\Proj\Data" folders="Res\" "Tab\" "" "" ""
table "売上" fdb=20 id=20 header=0 record=8 file="SALES"
  field "金額" id=1 offset=0 size=4 type=2
end
table "売上控" fdb=21 id=21 header=0 record=8 file="SALES"
  field "金額" id=1 offset=0 size=4 type=2
end
)";
  const char8_t widened[] = u8R"(
project folder="\\Proj\Data" folders="Res\" "Tab\" "" "" ""
table "売上" fdb=20 id=20 header=0 record=12 file="SALES"
  field "金額" id=1 offset=4 size=4 type=2
end
table "売上控" fdb=21 id=21 header=0 record=12 file="SALES"
  field "金額" id=1 offset=4 size=4 type=2
end
)";
  const std::string catalog = folder_.file("Shared/Res/Sales.dbf"), next = folder_.file("Shared/Update/Sales.dbf");
  make(reinterpret_cast<const char*>(shared), catalog);
  make(reinterpret_cast<const char*>(widened), next);
  project_ = FileProjOpen(catalog.c_str(), 6, nullptr);
  ASSERT_NE(project_, 0u);
  const uint8_t sale[8] = {0x39, 0x30, 0, 0};
  ASSERT_EQ(FileDBRecWrite(FileProjGetFdb(project_, 20), 0, sale), 0);
  EXPECT_EQ(FileProjDBFldChange(project_, next.c_str(), 0), 1);
  project_ = FileProjOpen(catalog.c_str(), 6, nullptr);
  ASSERT_NE(project_, 0u);
  uint8_t now[12] = {};
  EXPECT_EQ(FileDBRecGetSize(FileProjGetFdb(project_, 21)), 1);
  ASSERT_EQ(FileDBRecRead(FileProjGetFdb(project_, 21), 0, now), 0);
  EXPECT_EQ(now[4] | now[5] << 8, 12345);
}

}  // namespace
