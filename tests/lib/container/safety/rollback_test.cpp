// Roll-back of the newest logged changes, with the owner filter; IDs never
// given out twice; the newest backup found through the log.
#include "lib/container/safety/safety_fixture.h"

namespace {

using safety_test::SafetyTest;

class RollbackTest : public SafetyTest {
 protected:
  void SetUp() override {
    SafetyTest::SetUp();
    disk_ = make("shop.ifs");
    ASSERT_NE(disk_, nullptr);
    ASSERT_EQ(FileExStartLog(disk_, 0), 0);
    table_ = disk_writer::openSales(disk_);
    ASSERT_NE(table_, nullptr);
    log_ = FileExGetLogFile(disk_, nullptr);
  }
  void TearDown() override {
    if (table_) FileExRelease(table_, nullptr);
    SafetyTest::TearDown();
  }
  std::string lastError() { return text(disk_, "\\SYSTEM\\ERROR", tableRows(disk_, "\\SYSTEM\\ERROR"), 4); }

  FileExDiskHandle disk_ = nullptr;
  FileExHandle table_ = nullptr;
  FileExHandle log_ = nullptr;
};

TEST_F(RollbackTest, RollingBackToRowOneOfFiveEmptiesTheLogAndIdsStillGrow) {
  uint64_t newest = 0;
  for (uint32_t code = 1; code <= 5; ++code) newest = addSale(table_, code);
  ASSERT_EQ(rows(log_), 5u);
  FileExProgress progress{};
  ASSERT_EQ(FileExRollback(disk_, log_, 1, 0, nullptr, &progress), 0);
  EXPECT_EQ(progress.step, 13);
  EXPECT_EQ(progress.value, 100);
  EXPECT_EQ(rows(table_), 0u);
  EXPECT_EQ(rows(log_), 0u);
  EXPECT_EQ(lastError(), "ロールバック: 5");
  // The IDs of the undone records are not given out again.
  const uint64_t next = addSale(table_, 6);
  EXPECT_GT(next, newest);
}

TEST_F(RollbackTest, ARowBeyondTheCountChangesNothing) {
  for (uint32_t code = 1; code <= 3; ++code) addSale(table_, code);
  container_test::Reports reports;
  EXPECT_EQ(FileExRollback(disk_, log_, 4, 0, nullptr, nullptr), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_PARAMETER));
  EXPECT_EQ(FileExRollback(disk_, log_, 0, 0, nullptr, nullptr), -1);
  EXPECT_EQ(rows(log_), 3u);
  EXPECT_EQ(codes(table_), (std::vector<uint32_t>{1, 2, 3}));
}

TEST_F(RollbackTest, UpdatesAndDeletionsComeBackWithTheirIdsAndNumbers) {
  for (uint32_t code = 1; code <= 3; ++code) addSale(table_, code);
  uint64_t secondId = 0;
  ASSERT_EQ(FileExGetTblRecID(table_, 2, 0, &secondId), 0);
  const uint64_t mark = rows(log_) + 1;
  FileExHandle first = FileExRecOpen(table_, 1, 0, 0, nullptr);
  ASSERT_TRUE(disk_writer::setCode(first, table_, 100));
  FileExRelease(first, nullptr);
  ASSERT_EQ(FileExRecDelete(table_, 2, 0), 0);
  ASSERT_EQ(codes(table_), (std::vector<uint32_t>{100, 3}));
  ASSERT_EQ(rows(log_), mark + 1);

  ASSERT_EQ(FileExRollback(disk_, log_, uint32_t(mark), 0, nullptr, nullptr), 0);
  EXPECT_EQ(codes(table_), (std::vector<uint32_t>{1, 2, 3}));
  uint64_t id = 0;
  ASSERT_EQ(FileExGetTblRecID(table_, 2, 0, &id), 0);
  EXPECT_EQ(id, secondId);
  EXPECT_EQ(rows(log_), mark - 1);
  // The index follows: the code 2 is found again.
  const uint16_t column[] = {1};
  uint32_t key = 2;
  int32_t match = 0;
  uint64_t number = 0;
  FileExRecEqu(table_, 1, column, &key, &match, &number);
  EXPECT_EQ(match, 1);
  EXPECT_EQ(number, 2u);
}

TEST_F(RollbackTest, TheOwnerFilterLeavesOtherOwnersRowsInTheLog) {
  addSale(table_, 1);
  ASSERT_EQ(FileExChgName(table_, "clerk2"), 0);
  addSale(table_, 2);
  addSale(table_, 3);
  ASSERT_EQ(FileExChgName(table_, "clerk1"), 0);
  addSale(table_, 4);
  ASSERT_EQ(FileExRollback(disk_, log_, 1, 0, "clerk2", nullptr), 0);
  EXPECT_EQ(codes(table_), (std::vector<uint32_t>{1, 4}));
  EXPECT_EQ(rows(log_), 2u);
  EXPECT_EQ(lastError(), "ロールバック: 4");
  EXPECT_EQ(text(disk_, "\\SYSTEM\\ERROR", tableRows(disk_, "\\SYSTEM\\ERROR"), 5), "clerk2");
}

TEST_F(RollbackTest, TheNewestBackupIsFoundThroughTheLog) {
  char path[260] = {};
  EXPECT_EQ(FileExGetLastBackup(disk_, path, sizeof path, nullptr), 0);
  ASSERT_EQ(FileExWriteCfgFldStr(disk_, 2, (folder_ / "first.ifs").c_str()), 0);
  ASSERT_EQ(FileExDiskBackup(disk_, nullptr, 0, nullptr), 0);
  addSale(table_, 1);
  uint64_t row = 0;
  EXPECT_EQ(FileExGetLastBackup(disk_, path, sizeof path, &row), 1);
  EXPECT_EQ(std::string(path), (folder_ / "first.ifs"));
  EXPECT_GT(row, 0u);
  // Cut to the buffer, with a NUL in its last byte.
  char small[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
  EXPECT_EQ(FileExGetLastBackup(disk_, small, sizeof small, nullptr), 1);
  EXPECT_EQ(std::string(small), (folder_ / "first.ifs").substr(0, 5));
}

TEST_F(RollbackTest, StepTitlesAndClassNames) {
  EXPECT_STREQ(FileExGetPlsTitle(13), "ロールバック中");
  EXPECT_STREQ(FileExGetPlsTitle(1), "");
  EXPECT_STREQ(FileExGetClassName(3), "Table");
  EXPECT_STREQ(FileExGetClassName(8), "Unknown");
}

}  // namespace
