// The disk check on real files (a sound disk, a block nobody names, a file
// ending in blocks nobody names, the report with its dump) and the table and
// index check with its repair.
#include <filesystem>
#include <sstream>

#include "lib/container/disk/container_internal.h"
#include "lib/container/safety/safety_fixture.h"
#include "lib/container/tables/table_internal.h"

namespace {

using safety_test::SafetyTest;
using testing_support::fileBytes;
namespace fs = std::filesystem;

class CheckTest : public SafetyTest {
 protected:
  std::vector<std::string> reportLines() {
    std::vector<std::string> lines;
    std::istringstream in(fileBytes(folder_ / "check.txt"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  static void appendBlocks(const std::string& path, int blocks) {
    std::string bytes;
    for (int i = 0; i < 512 * blocks; ++i) bytes.push_back(static_cast<char>(i % 256));
    std::ofstream(path, std::ios::binary | std::ios::app).write(bytes.data(), std::streamsize(bytes.size()));
  }
};

TEST_F(CheckTest, ASoundDiskHasNoMissingBlocks) {
  FileExDiskHandle disk = make("shop.ifs");
  ASSERT_NE(disk, nullptr);
  ASSERT_EQ(FileExWriteCfgFldStr(disk, 9, (folder_ / "check.txt").c_str()), 0);
  ASSERT_EQ(FileExStartLog(disk, 0), 0);
  FileExHandle table = disk_writer::openSales(disk);
  for (uint32_t code = 1; code <= 60; ++code) addSale(table, code);
  for (int i = 0; i < 20; ++i) ASSERT_EQ(FileExRecDelete(table, 1, 0), 0);
  ASSERT_EQ(FileExRelease(table, nullptr), 0);
  ASSERT_TRUE(disk_writer::runRound(disk, "a", 1));
  FileExProgress progress{};
  EXPECT_EQ(FileExDiskCheck(disk, nullptr, &progress), 0);
  EXPECT_EQ(progress.step, 8);
  EXPECT_EQ(progress.value, 100);
  const std::vector<std::string> lines = reportLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[1].find(" ディスクの検査を開始します"), std::string::npos) << lines[1];
  EXPECT_EQ(lines.back(), "ディスクに問題は見つかりませんでした");
}

TEST_F(CheckTest, ABlockNobodyNamesIsAGapOfOneBlockDumpedIn32Lines) {
  const std::string path = folder_ / "shop.ifs";
  FileExDiskHandle disk = make("shop.ifs");
  ASSERT_NE(disk, nullptr);
  ASSERT_EQ(FileExWriteCfgFldStr(disk, 9, (folder_ / "check.txt").c_str()), 0);
  release(disk);
  const uint64_t lost = fs::file_size(path);
  appendBlocks(path, 1);
  disk = make("shop.ifs");
  ASSERT_NE(disk, nullptr);
  // Work after it puts blocks behind the lost one.
  for (int round = 1; round <= 6; ++round) ASSERT_TRUE(disk_writer::runRound(disk, "b", round));
  ASSERT_GT(fs::file_size(path), lost + 512);
  EXPECT_EQ(FileExDiskCheck(disk, nullptr, nullptr), 1);

  const std::vector<std::string> lines = reportLines();
  char gap[128], dump[64];
  std::snprintf(gap, sizeof gap, "1 個の欠損ブロックが見つかりました（%016llX - %016llX）",
                static_cast<unsigned long long>(lost), static_cast<unsigned long long>(lost + 511));
  std::snprintf(dump, sizeof dump, "Dump Block: %016llX", static_cast<unsigned long long>(lost));
  auto at = std::find(lines.begin(), lines.end(), gap);
  ASSERT_NE(at, lines.end()) << gap;
  ASSERT_EQ(*(at + 2), dump);
  EXPECT_EQ(*(at + 3), "      00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F");
  EXPECT_EQ(*(at + 4), "0000: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F");
  EXPECT_EQ(*(at + 4 + 31), "01F0: F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF");
  EXPECT_EQ(*(at + 4 + 33), "1 個のブロックに問題が見つかりました");
}

TEST_F(CheckTest, AFileEndingInTwoLostBlocksReportsAFinalGapOfTwoWithoutAReportFile) {
  const std::string path = folder_ / "shop.ifs";
  FileExDiskHandle disk = make("shop.ifs");
  ASSERT_NE(disk, nullptr);
  release(disk);
  appendBlocks(path, 2);
  disk = make("shop.ifs");
  ASSERT_NE(disk, nullptr);
  EXPECT_EQ(FileExDiskCheck(disk, nullptr, nullptr), 2);
  EXPECT_FALSE(fs::exists(folder_ / "check.txt"));
  container_test::Reports reports;
  EXPECT_EQ(FileExDiskCheck(disk, disk, nullptr), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_PARAMETER));
}

TEST_F(CheckTest, AnIndexLackingOneKeyIsReportedAndRebuilt) {
  FileExDiskHandle disk = make("shop.ifs");
  ASSERT_NE(disk, nullptr);
  FileExHandle table = disk_writer::openSales(disk);
  ASSERT_NE(table, nullptr);
  for (uint32_t code = 1; code <= 5; ++code) addSale(table, code);
  EXPECT_EQ(FileExTblIdxCheck(table, 0, nullptr), 0);
  EXPECT_EQ(FileExTblIdxCheckAll(disk, 0, nullptr), 0);

  // The key of record 3 leaves the index's key tree.
  ASSERT_EQ(FileExDiskOpen(disk, 3), 0);
  auto* t = static_cast<zemta::container::Entry*>(table);
  ASSERT_EQ(t->indexes.size(), 1u);
  uint64_t id = 0;
  ASSERT_EQ(FileExGetTblRecID(table, 3, 0, &id), 0);
  std::vector<uint8_t> key(4);
  ASSERT_TRUE(zemta::container::treeKeyOfId(t->indexes[0]->secondTree, id, key.data(), key.size()));
  zemta::container::treeDelete(t->indexes[0]->firstTree, id, key.data(), key.size());
  ASSERT_EQ(FileExDiskClose(disk), 0);

  EXPECT_EQ(FileExTblIdxCheck(table, 0, nullptr), 1);
  EXPECT_EQ(FileExTblIdxCheckAll(disk, 0, nullptr), 1);
  FileExProgress progress{};
  EXPECT_EQ(FileExTblIdxCheck(table, 1, &progress), 0x20000001);
  EXPECT_EQ(progress.step, 10);
  EXPECT_EQ(FileExTblIdxCheck(table, 0, nullptr), 0);
  const uint16_t column[] = {1};
  uint32_t wanted = 3;
  int32_t match = 0;
  uint64_t number = 0;
  FileExRecEqu(table, 1, column, &wanted, &match, &number);
  EXPECT_EQ(match, 1);
  EXPECT_EQ(number, 3u);
  EXPECT_EQ(FileExRelease(table, nullptr), 0);
  EXPECT_EQ(FileExDiskCheck(disk, nullptr, nullptr), 0) << "the old index's blocks went back to free space";
}

TEST_F(CheckTest, AGapInTheRecordNumbersBreaksTheStoreAndIsNotRepaired) {
  FileExDiskHandle disk = make("shop.ifs");
  ASSERT_NE(disk, nullptr);
  FileExHandle table = disk_writer::openSales(disk);
  for (uint32_t code = 1; code <= 3; ++code) addSale(table, code);
  ASSERT_EQ(FileExDiskOpen(disk, 3), 0);
  auto* t = static_cast<zemta::container::Entry*>(table);
  uint64_t id = 0;
  ASSERT_EQ(FileExGetTblRecID(table, 2, 0, &id), 0);
  uint8_t number[8] = {2};
  zemta::container::treeDelete(t->storeNumberTree, id, number, 8);
  number[0] = 7;
  zemta::container::treeInsert(t->storeNumberTree, id, number, 8);
  ASSERT_EQ(FileExDiskClose(disk), 0);
  EXPECT_EQ(FileExTblIdxCheck(table, 0, nullptr), 1);
  EXPECT_EQ(FileExTblIdxCheck(table, 1, nullptr), 1) << "no repair of a broken store";
  FileExRelease(table, nullptr);
}

}  // namespace
