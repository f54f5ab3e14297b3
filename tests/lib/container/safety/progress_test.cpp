// IfsBackup and IfsRollback with their progress dialog in the offscreen
// window system: a check-only run, a backup, a roll-back, and a backup
// whose dialog is closed while the worker is held inside its disk check
// (the worker stops there and the call returns only after it ended).
#include <atomic>
#include <filesystem>
#include <thread>

#include "lib/container/safety/safety_fixture.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"
#include "platform/ui/dialog.h"
#include "platform/ui/window.h"
#include "zemta/ifs_worker.h"

namespace {

using safety_test::SafetyTest;
namespace fs = std::filesystem;
namespace ui = platform::ui;

std::atomic<bool> g_holding{false};
std::atomic<bool> g_release{false};

// Holds the thread writing the check report until the test lets it go.
int32_t holdReport(const std::string& path, uint32_t) {
  if (path.size() >= 9 && path.compare(path.size() - 9, 9, "check.txt") == 0) {
    g_holding = true;
    while (!g_release) std::this_thread::yield();
  }
  return -1;
}

class ProgressTest : public SafetyTest {
 protected:
  void SetUp() override {
    SafetyTest::SetUp();
    ui::ensureApplication();
    ui::WindowSpec shape;
    shape.title = "owner";
    shape.visible = false;
    owner_ = ui::createWindow(shape, ui::defaultWindowProc);
    disk_ = FileExDiskCreate((folder_ / "shop.ifs").c_str(), "shop", owner_, 0);
    ASSERT_NE(disk_, nullptr);
    disks_.push_back(disk_);
    IfsChgDisk(disk_, nullptr);
  }
  void TearDown() override {
    IfsChgDisk(nullptr, nullptr);
    SafetyTest::TearDown();
    ui::destroyWindow(owner_);
  }
  int backups() {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(folder_.path()))
      n += entry.path().filename().string().rfind("shop_", 0) == 0;
    return n;
  }
  static std::string outputPng(const std::string& name) {
    const fs::path folder = fs::path(VARNEX_TEST_OUTPUT_DIR) / "container";
    fs::create_directories(folder);
    return (folder / name).string();
  }
  static HWND dialogCaptioned(const std::string& caption) {
    for (HWND top : ui::topLevelWindows())
      if (ui::isWindowVisible(top) && ui::windowText(top) == caption) return top;
    return nullptr;
  }

  HWND owner_ = nullptr;
  FileExDiskHandle disk_ = nullptr;
};

TEST_F(ProgressTest, ACheckOnlyRunWritesNoFileAndTheOwnerIsEnabledAgain) {
  ASSERT_TRUE(ui::isWindowEnabled(owner_));
  EXPECT_EQ(IfsBackup(4), 0);
  EXPECT_EQ(backups(), 0);
  EXPECT_TRUE(ui::isWindowEnabled(owner_));
  EXPECT_EQ(dialogCaptioned("データベースの検査"), nullptr) << "the dialog is gone";
  // An owner that was disabled stays so.
  ui::enableWindow(owner_, false);
  EXPECT_EQ(IfsBackup(0), 0);
  EXPECT_EQ(backups(), 1);
  EXPECT_FALSE(ui::isWindowEnabled(owner_));
}

TEST_F(ProgressTest, WithNoDiskAttachedNothingRunsHere) {
  IfsChgDisk(nullptr, nullptr);
  container_test::Reports reports;
  EXPECT_EQ(IfsBackup(0), -1);
  EXPECT_EQ(IfsRollback(1, 0), -1);
  EXPECT_EQ(backups(), 0);
}

TEST_F(ProgressTest, TheRollbackRunsOnTheWorker) {
  ASSERT_EQ(FileExStartLog(disk_, 0), 0);
  FileExHandle table = disk_writer::openSales(disk_);
  for (uint32_t code = 1; code <= 4; ++code) addSale(table, code);
  EXPECT_EQ(IfsRollback(3, 0), 0);
  EXPECT_EQ(codes(table), (std::vector<uint32_t>{1, 2}));
  FileExRelease(table, nullptr);
}

TEST_F(ProgressTest, ClosingTheDialogStopsTheWorkerCleanly) {
  ASSERT_EQ(FileExWriteCfgFldStr(disk_, 9, (folder_ / "check.txt").c_str()), 0);
  FileExHandle table = disk_writer::openSales(disk_);
  for (uint32_t code = 1; code <= 30; ++code) addSale(table, code);
  FileExRelease(table, nullptr);

  g_holding = false;
  g_release = false;
  std::string shot, shownText;
  int32_t shownBar = -1;
  bool closed = false;
  ui::WindowSpec shape;
  shape.title = "driver";
  shape.visible = false;
  HWND driver = ui::createWindow(shape, [&](HWND w, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m != ui::kWmTimer) return ui::defaultWindowProc(w, m, wp, lp);
    HWND dialog = dialogCaptioned("バックアップ");
    if (!closed && dialog && g_holding && !ui::dialogItemText(dialog, 21886).empty()) {
      closed = true;
      shownText = ui::dialogItemText(dialog, 21886);
      shownBar = ui::controlPosition(ui::dialogItem(dialog, 21884));
      shot = outputPng("backup_progress.png");
      ui::processPendingMessages();
      ui::grabWindowToPng(dialog, shot);
      // The close box, then the worker may go on.
      ui::sendMessage(dialog, ui::kWmClose, 0, 0);
      g_release = true;
    }
    return 0;
  });
  ui::setTimer(driver, 1, 20);
  platform::setWriteInterposer(holdReport);
  container_test::Reports reports;
  const int32_t result = IfsBackup(0);
  platform::setWriteInterposer(nullptr);
  g_release = true;
  ui::destroyWindow(driver);

  ASSERT_TRUE(closed) << "the dialog never showed while the check ran";
  EXPECT_EQ(shownText, "データベースの構造検査中");
  EXPECT_GE(shownBar, 0);
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(reports.last(platform::kErrorCancelled));
  EXPECT_EQ(backups(), 0) << "stopped before the backup";
  EXPECT_TRUE(ui::isWindowEnabled(owner_));
  EXPECT_TRUE(fs::exists(shot));
  // The disk is free for the next run.
  EXPECT_EQ(IfsBackup(4), 0);
}

}  // namespace
