// Backups of a container disk on real files: plain copies with their
// history and generations, the newest log row in a copy's header, the log
// emptied by mode 3, zip backups restored byte for byte, and a damaged zip
// refused with the disk left as it was.
#include <filesystem>
#include <fstream>

#include "lib/container/safety/safety_fixture.h"
#include "platform/base/archive.h"

namespace {

using safety_test::SafetyTest;
using testing_support::fileBytes;
namespace fs = std::filesystem;

class BackupTest : public SafetyTest {};

uint64_t u64At(const std::string& bytes, size_t at) {
  uint64_t v = 0;
  std::memcpy(&v, bytes.data() + at, 8);
  return v;
}

TEST_F(BackupTest, ABackupOfANewDiskKeepsTheFileItMade) {
  FileExDiskHandle disk = make("shop.ifs");
  ASSERT_NE(disk, nullptr);
  ASSERT_EQ(FileExReadCfgFldInt(disk, 5), 0) << "a new disk keeps no generations by its count";
  char name[260] = {};
  ASSERT_EQ(FileExDiskBackup(disk, name, 0, nullptr), 0);
  EXPECT_TRUE(fs::exists(name)) << name;
  EXPECT_FALSE(fs::exists(std::string(name) + ".part"));
  EXPECT_EQ(tableRows(disk, "\\SYSTEM\\HISTORY\\DATA"), 1u);
  EXPECT_EQ(text(disk, "\\SYSTEM\\HISTORY\\DATA", 1), name);
  // The default name: the disk's own name with the time.
  const std::string base = fs::path(name).filename().string();
  EXPECT_EQ(base.rfind("shop_", 0), 0u) << base;
  EXPECT_EQ(base.size(), std::string("shop_20261211073000.ifs").size()) << base;
  // A second backup keeps only the newest one.
  FileExWriteCfgFldStr(disk, 2, (folder_ / "second.ifs").c_str());
  ASSERT_EQ(FileExDiskBackup(disk, name, 0, nullptr), 0);
  EXPECT_STREQ(name, (folder_ / "second.ifs").c_str());
  EXPECT_TRUE(fs::exists(name));
  EXPECT_EQ(tableRows(disk, "\\SYSTEM\\HISTORY\\DATA"), 1u);
}

TEST_F(BackupTest, GenerationsKeepTheCountSetAndDeleteTheOldestFiles) {
  FileExDiskHandle disk = make("shop.ifs");
  ASSERT_NE(disk, nullptr);
  ASSERT_EQ(FileExWriteCfgFldInt(disk, 5, 3), 0);
  for (int i = 1; i <= 4; ++i) {
    const std::string name = folder_ / ("gen" + std::to_string(i) + ".ifs");
    ASSERT_EQ(FileExWriteCfgFldStr(disk, 2, name.c_str()), 0);
    ASSERT_EQ(FileExDiskBackup(disk, nullptr, 0, nullptr), 0);
    ASSERT_TRUE(fs::exists(name));
  }
  EXPECT_FALSE(fs::exists(folder_ / "gen1.ifs")) << "the oldest file goes with its row";
  EXPECT_EQ(tableRows(disk, "\\SYSTEM\\HISTORY\\DATA"), 3u);
  EXPECT_EQ(text(disk, "\\SYSTEM\\HISTORY\\DATA", 1), (folder_ / "gen2.ifs"));
  EXPECT_EQ(text(disk, "\\SYSTEM\\HISTORY\\DATA", 3), (folder_ / "gen4.ifs"));
}

TEST_F(BackupTest, ACopyCarriesTheNewestLogRowAndModeThreeEmptiesTheLog) {
  FileExDiskHandle disk = make("shop.ifs");
  ASSERT_NE(disk, nullptr);
  ASSERT_EQ(FileExStartLog(disk, 0), 0);
  FileExHandle table = disk_writer::openSales(disk);
  ASSERT_NE(table, nullptr);
  for (uint32_t code : {11u, 12u, 13u}) addSale(table, code);
  FileExHandle log = FileExGetLogFile(disk, nullptr);
  const uint64_t logRows = rows(log);
  ASSERT_GE(logRows, 3u);
  uint64_t lastId = 0;
  ASSERT_EQ(FileExGetTblRecID(log, uint32_t(logRows), 0, &lastId), 0);
  ASSERT_EQ(FileExRelease(table, nullptr), 0);

  char name[260] = {};
  ASSERT_EQ(FileExDiskBackup(disk, name, 3, nullptr), 0);
  EXPECT_EQ(u64At(fileBytes(name), 328), lastId);
  EXPECT_EQ(u64At(fileBytes(folder_ / "shop.ifs"), 328), 0u) << "the disk's own header is unchanged";
  // Mode 3 empties the log; its first row is the backup's own history row,
  // through which the newest backup is found.
  EXPECT_EQ(rows(FileExGetLogFile(disk, nullptr)), 1u);
  char newest[260] = {};
  EXPECT_EQ(FileExGetLastBackup(disk, newest, sizeof newest, nullptr), 1);
  EXPECT_STREQ(newest, name);
  // The copy is a disk of its own with the sales.
  FileExDiskHandle copy = FileExDiskCreate(name, nullptr, nullptr, 0);
  ASSERT_NE(copy, nullptr);
  disks_.push_back(copy);
  FileExHandle copied = disk_writer::openSales(copy);
  ASSERT_NE(copied, nullptr);
  EXPECT_EQ(codes(copied), (std::vector<uint32_t>{11, 12, 13}));
  FileExRelease(copied, nullptr);
}

TEST_F(BackupTest, AZipBackupRestoresByteForByte) {
  const std::string path = folder_ / "shop.ifs", zip = folder_ / "backup.zip", logPath = folder_ / "shop.log";
  FileExDiskHandle disk = make("shop.ifs");
  ASSERT_NE(disk, nullptr);
  FileExHandle table = disk_writer::openSales(disk);
  ASSERT_NE(table, nullptr);
  for (uint32_t code = 1; code <= 40; ++code) addSale(table, code);
  ASSERT_EQ(FileExRelease(table, nullptr), 0);
  ASSERT_EQ(FileExWriteCfgFldStr(disk, 4, zip.c_str()), 0);
  // Kept open, the disk is archived as it stands written back now.
  ASSERT_EQ(FileExDiskOpen(disk, 3), 0);
  ASSERT_EQ(FileExDiskFlush(disk), 0);
  const std::string saved = fileBytes(path);

  char name[260] = {};
  ASSERT_EQ(FileExDiskBackup(disk, name, 0, nullptr), 0);
  ASSERT_EQ(FileExDiskClose(disk), 0);
  EXPECT_EQ(std::string(name), zip);
  EXPECT_EQ(tableRows(disk, "\\SYSTEM\\HISTORY\\LIB"), 1u);
  // Work after the backup, then the restore brings the disk back as saved.
  table = disk_writer::openSales(disk);
  addSale(table, 99);
  ASSERT_EQ(FileExRelease(table, nullptr), 0);
  release(disk);
  const std::string changed = fileBytes(path);
  ASSERT_NE(changed, saved);

  char kept[260] = "untouched";
  ASSERT_EQ(FileExDiskRestore(path.c_str(), logPath.c_str(), zip.c_str(), kept, sizeof kept, 0, nullptr), 0);
  // Byte for byte what the archive holds (the disk as the backup wrote it
  // back; it opens below with the sales it had then).
  std::string archived;
  ASSERT_EQ(platform::zipExtract(zip, [&](const std::string&) { return (folder_ / "archived.ifs"); }, nullptr), 0);
  archived = fileBytes(folder_ / "archived.ifs");
  fs::remove(folder_ / "archived.ifs");
  std::string restored = fileBytes(path);
  EXPECT_TRUE(restored == archived);
  EXPECT_EQ(restored.size(), saved.size());
  EXPECT_STREQ(kept, "untouched") << "no log was replaced";
  // The replaced disk is kept under its error name.
  int keptCopies = 0;
  for (const auto& entry : fs::directory_iterator(folder_.path())) {
    const std::string file = entry.path().filename().string();
    if (file.rfind("shop_Err", 0) == 0) {
      ++keptCopies;
      EXPECT_EQ(fileBytes(entry.path()), changed);
    }
    EXPECT_EQ(file.find("_Rst"), std::string::npos) << file;
  }
  EXPECT_EQ(keptCopies, 1);
  disk = make("shop.ifs");
  ASSERT_NE(disk, nullptr);
  table = disk_writer::openSales(disk);
  EXPECT_EQ(codes(table).size(), 40u);
  FileExRelease(table, nullptr);
}

TEST_F(BackupTest, AZipCutInTheMiddleIsRefusedAndTheDiskStaysAsItWas) {
  const std::string path = folder_ / "shop.ifs", zip = folder_ / "backup.zip", logPath = folder_ / "shop.log";
  FileExDiskHandle disk = make("shop.ifs");
  ASSERT_NE(disk, nullptr);
  FileExHandle table = disk_writer::openSales(disk);
  for (uint32_t code = 1; code <= 40; ++code) addSale(table, code);
  ASSERT_EQ(FileExRelease(table, nullptr), 0);
  ASSERT_EQ(FileExWriteCfgFldStr(disk, 4, zip.c_str()), 0);
  ASSERT_EQ(FileExDiskBackup(disk, nullptr, 0, nullptr), 0);
  release(disk);
  const std::string whole = fileBytes(zip);
  testing_support::writeFileBytes(zip, whole.substr(0, whole.size() / 2));
  const std::string before = fileBytes(path);

  container_test::Reports reports;
  EXPECT_EQ(FileExDiskRestore(path.c_str(), logPath.c_str(), zip.c_str(), nullptr, 0, 0, nullptr), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_COMPRESS | (platform::kArchiveFatal << 8)));
  EXPECT_EQ(fileBytes(path), before);
  int files = 0;
  for (const auto& entry : fs::directory_iterator(folder_.path())) ++files, (void)entry;
  EXPECT_EQ(files, 2) << "nothing made beside the disk and the archive";
}

TEST_F(BackupTest, ALogOnlyBackupNeedsASeparateLog) {
  FileExDiskHandle disk = make("shop.ifs");
  ASSERT_NE(disk, nullptr);
  container_test::Reports reports;
  EXPECT_EQ(FileExDiskBackup(disk, nullptr, 1, nullptr), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_PARAMETER));
}

TEST_F(BackupTest, DataAndLogCopiesOfASeparateLogDiskAreNamedAlike) {
  FileExDiskHandle disk = make("shop.ifs");
  ASSERT_NE(disk, nullptr);
  ASSERT_EQ(FileExWriteCfgFldStr(disk, 1, (folder_ / "shoplog.ifs").c_str()), 0);
  ASSERT_EQ(FileExStartLog(disk, 0), 0);
  FileExHandle table = disk_writer::openSales(disk);
  addSale(table, 5);
  ASSERT_EQ(FileExRelease(table, nullptr), 0);
  ASSERT_EQ(FileExDiskBackup(disk, nullptr, 2, nullptr), 0);
  const std::string data = text(disk, "\\SYSTEM\\HISTORY\\DATA", 1), log = text(disk, "\\SYSTEM\\HISTORY\\LOG", 1);
  EXPECT_TRUE(fs::exists(data)) << data;
  EXPECT_TRUE(fs::exists(log)) << log;
  EXPECT_EQ(fs::path(data).filename().string().substr(4), fs::path(log).filename().string().substr(7))
      << "one time stamp: " << data << " " << log;
}

TEST_F(BackupTest, ACopyRolledForwardFromItsLogCatchesUp) {
  const std::string logPath = folder_ / "shoplog.ifs";
  FileExDiskHandle disk = make("shop.ifs");
  ASSERT_NE(disk, nullptr);
  ASSERT_EQ(FileExWriteCfgFldStr(disk, 1, logPath.c_str()), 0);
  ASSERT_EQ(FileExStartLog(disk, 0), 0);
  FileExHandle table = disk_writer::openSales(disk);
  for (uint32_t code = 1; code <= 2; ++code) addSale(table, code);
  char name[260] = {};
  ASSERT_EQ(FileExDiskBackup(disk, name, 0, nullptr), 0);
  const uint64_t first = rows(FileExGetLogFile(disk, nullptr)) + 1;
  for (uint32_t code = 3; code <= 5; ++code) addSale(table, code);
  FileExHandle second = FileExRecOpen(table, 2, 0, 0, nullptr);
  ASSERT_TRUE(disk_writer::setCode(second, table, 20));
  FileExRelease(second, nullptr);
  ASSERT_EQ(FileExRecDelete(table, 1, 0), 0);
  ASSERT_EQ(FileExRelease(table, nullptr), 0);
  release(disk);

  FileExDiskHandle copy = FileExDiskCreate(name, nullptr, nullptr, 0);
  ASSERT_NE(copy, nullptr);
  disks_.push_back(copy);
  FileExProgress progress{};
  ASSERT_EQ(FileExDiskRollforward(copy, logPath.c_str(), uint32_t(first), 0, &progress), 0);
  EXPECT_EQ(progress.step, 12);
  EXPECT_EQ(progress.value, 100);
  FileExHandle copied = disk_writer::openSales(copy);
  EXPECT_EQ(codes(copied), (std::vector<uint32_t>{20, 3, 4, 5}));
  FileExRelease(copied, nullptr);
}

}  // namespace
