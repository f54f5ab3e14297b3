// A backup killed at each of its writes: a forked process backs a disk up
// (a plain copy, the history row, the log emptied, the oldest generation
// deleted) and dies (SIGKILL) before its k-th write or halfway through it.
// Each time the disk opens whole: sound trees and indexes, no block lost,
// every sale in place, and a backup file under its name only when whole.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>

#include "lib/container/disk/container_internal.h"
#include "lib/container/safety/safety_fixture.h"
#include "platform/base/file.h"
#include "zemta/errors.h"

namespace {

using safety_test::SafetyTest;
namespace fs = std::filesystem;

int32_t g_writes = 0;
int32_t g_killAt = -1;
bool g_torn = false;
std::vector<std::string> g_paths;  // the file of each write of the crash-free run

int32_t interpose(const std::string& path, uint32_t count) {
  if (g_killAt < 0) g_paths.push_back(path);
  const int32_t n = g_writes++;
  if (n != g_killAt) return -1;
  return g_torn ? static_cast<int32_t>(count / 2) : 0;
}

class BackupKillTest : public SafetyTest {
 protected:
  // A kill loses nothing the process wrote (the system keeps it), so the
  // disk lives in memory where there is such a file system: the test checks
  // what the backup wrote, and its many starts and syncs then cost little.
  void SetUp() override {
    SafetyTest::SetUp();
    root_ = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") / ("varnex-backup-kill-" + std::to_string(getpid()))
                                         : fs::path(folder_.path()) / "kill";
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override {
    SafetyTest::TearDown();
    fs::remove_all(root_);
  }
  fs::path work() { return root_ / "work"; }
  fs::path start() { return root_ / "start"; }
  fs::path root_;
  std::string diskPath() { return (work() / "shop.ifs").string(); }

  void restoreStart() {
    fs::remove_all(work());
    fs::copy(start(), work(), fs::copy_options::recursive);
  }
  // The sales of a disk file, or a note of what failed.
  std::vector<uint32_t> salesOf(const std::string& path) {
    FileExDiskHandle disk = FileExDiskCreate(path.c_str(), nullptr, nullptr, 0);
    if (!disk) return {};
    FileExHandle table = disk_writer::openSales(disk);
    std::vector<uint32_t> found = table ? codes(table) : std::vector<uint32_t>{};
    if (table) FileExRelease(table, nullptr);
    FileExDiskRelease(disk);
    return found;
  }
  int32_t backupOnce() {
    FileExDiskHandle disk = FileExDiskCreate(diskPath().c_str(), nullptr, nullptr, 0);
    if (!disk) return -10;
    if (FileExStartLog(disk, 0) != 0) return -11;
    g_writes = 0;
    platform::setWriteInterposer(interpose);
    int32_t result = FileExDiskBackup(disk, nullptr, 3, nullptr);
    if (FileExDiskRelease(disk) != 0) result = -12;
    platform::setWriteInterposer(nullptr);
    return result;
  }
};

TEST_F(BackupKillTest, ABackupKilledAtEachOfItsWritesLeavesTheDiskWhole) {
  std::vector<uint32_t> sales;
  {
    fs::create_directories(work());
    FileExDiskHandle disk = FileExDiskCreate(diskPath().c_str(), "shop", nullptr, 0);
    ASSERT_NE(disk, nullptr);
    ASSERT_EQ(FileExStartLog(disk, 0), 0);
    FileExHandle table = disk_writer::openSales(disk);
    for (uint32_t code = 1; code <= 12; ++code) {
      addSale(table, code);
      sales.push_back(code);
    }
    ASSERT_EQ(FileExRelease(table, nullptr), 0);
    ASSERT_EQ(FileExWriteCfgFldInt(disk, 5, 1), 0);
    ASSERT_EQ(FileExWriteCfgFldStr(disk, 2, (work() / "old.ifs").c_str()), 0);
    ASSERT_EQ(FileExDiskBackup(disk, nullptr, 0, nullptr), 0);
    ASSERT_EQ(FileExWriteCfgFldStr(disk, 2, (work() / "new.ifs").c_str()), 0);
    ASSERT_EQ(FileExDiskRelease(disk), 0);
    fs::copy(work(), start(), fs::copy_options::recursive);
  }
  // The crash-free run.
  g_killAt = -1;
  g_paths.clear();
  ASSERT_EQ(backupOnce(), 0);
  const int32_t writes = g_writes;
  ASSERT_GT(writes, 5);
  RecordProperty("writes", writes);
  ASSERT_EQ(salesOf((work() / "new.ifs").string()), sales);
  EXPECT_FALSE(fs::exists(work() / "old.ifs"));

  // Every write of the disk and the history; of the run of writes into the
  // copy, which are all alike, its first and last.
  std::vector<int32_t> points;
  for (int32_t k = 0; k < writes; ++k) {
    const bool copy = g_paths[k].size() > 5 && g_paths[k].compare(g_paths[k].size() - 5, 5, ".part") == 0;
    const bool edge = k == 0 || k + 1 == writes || g_paths[k - 1] != g_paths[k] || g_paths[k + 1] != g_paths[k];
    if (!copy || edge) points.push_back(k);
  }
#if defined(__SANITIZE_ADDRESS__)
  // The checking build runs each backup several times slower: there every
  // sixteenth point (the normal build takes them all), still the first and last.
  std::vector<int32_t> sampled;
  for (size_t i = 0; i < points.size(); ++i)
    if (i % 16 == 0 || i + 1 == points.size()) sampled.push_back(points[i]);
  points.swap(sampled);
#endif
  RecordProperty("kill points", static_cast<int>(points.size()));
  for (int32_t k : points) {
    for (int torn = 0; torn < 2; ++torn) {
      char trace[64];
      std::snprintf(trace, sizeof trace, "killed at write %d of %d%s", k, writes, torn ? ", half written" : "");
      SCOPED_TRACE(trace);
      restoreStart();
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        ZemtaEnableLastErrorMessage(0);
        g_killAt = k;
        g_torn = torn != 0;
        backupOnce();
        _exit(0);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

      FileExDiskHandle disk = FileExDiskCreate(diskPath().c_str(), nullptr, nullptr, 0);
      ASSERT_NE(disk, nullptr);
      zemta::container::Disk* d = zemta::container::findDisk(disk);
      ASSERT_EQ(zemta::container::FileExDiskHold(*d), 0);
      for (int32_t tree : {d->rootTree, d->spaceTree, d->idTree}) EXPECT_EQ(zemta::BtreeExValidate(tree), "");
      ASSERT_EQ(zemta::container::FileExDiskUnhold(*d), 0);
      EXPECT_EQ(FileExDiskCheck(disk, nullptr, nullptr), 0);
      EXPECT_EQ(FileExTblIdxCheckAll(disk, 0, nullptr), 0);
      FileExHandle table = disk_writer::openSales(disk);
      ASSERT_NE(table, nullptr);
      EXPECT_EQ(codes(table), sales);
      FileExRelease(table, nullptr);
      // Every row names a whole backup, or nothing when the kill came
      // between the row and its path; the newest named one is whole.
      const uint64_t history = tableRows(disk, "\\SYSTEM\\HISTORY\\DATA");
      std::string newest;
      for (uint64_t row = 1; row <= history; ++row) {
        const std::string named = text(disk, "\\SYSTEM\\HISTORY\\DATA", row);
        if (!named.empty()) newest = named;
      }
      EXPECT_EQ(salesOf(newest), sales) << history << " rows, the newest " << newest;
      // The next backup goes through and leaves only rows that name files.
      ASSERT_EQ(FileExDiskBackup(disk, nullptr, 0, nullptr), 0);
      EXPECT_EQ(tableRows(disk, "\\SYSTEM\\HISTORY\\DATA"), 1u);
      EXPECT_NE(text(disk, "\\SYSTEM\\HISTORY\\DATA", 1), "");
      ASSERT_EQ(FileExDiskRelease(disk), 0);
      if (fs::exists(work() / "new.ifs")) {
        EXPECT_EQ(salesOf((work() / "new.ifs").string()), sales);
      }
    }
  }
}

}  // namespace
