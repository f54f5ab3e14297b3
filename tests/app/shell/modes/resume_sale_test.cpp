// An interrupted sale is taken up at the next start in the frame of its own
// mode: a refund sale in the refund frame, never in a registration frame
// that would change its mode for it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "app/register/engine/key_codes.h"
#include "app/register/view/reg_view.h"
#include "app/shell/modes/mode_shell.h"

namespace varnex_test {
namespace {

namespace reg = varnex::reg;

class ResumeSaleTest : public SignedOnShellTest {
 protected:
  size_t temporaryFiles() {
    size_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(folder))
      if (e.path().extension() == ".log") ++n;
    return n;
  }
  // Digits as the main frame and the ten-key pad give them to a view.
  void keys(reg::CRegView* view, const std::string& digits) {
    for (char c : digits) ui::sendMessage(view->handle(), ui::kWmKeyDown, static_cast<WPARAM>(c), 0);
  }
  void restart() {
    app->ExitInstance();
    app.reset();
    ui::processPendingMessages();
    // The file's time lies before the next start's own.
    for (const auto& e : fs::recursive_directory_iterator(folder))
      if (e.path().extension() == ".log")
        fs::last_write_time(e.path(), fs::last_write_time(e.path()) - std::chrono::seconds(2));
    app = std::make_unique<shell::CREGApp>();
    app->m_strWorkFolder = folder.string();
    app->m_strProgramFolder = (folder / "program").string();
    screens = shell::InstallModeScreens(*app);
    ASSERT_TRUE(startShell()) << boxes->lastText();
  }
};

TEST_F(ResumeSaleTest, RefundSaleResumesInTheRefundFrame) {
  ASSERT_EQ(app->OpenModeView(5, 0), 1);
  ui::processPendingMessages();
  shell::CChildFrame* refund = modeFrame(5);
  ASSERT_NE(refund, nullptr);
  reg::CRegView* view = refund->RegView();
  keys(view, "1000");
  const std::string department = "1";
  ui::sendMessage(view->handle(), reg::WM_REG_PANELKEY, reg::kKeyDepartment,
                  reinterpret_cast<LPARAM>(department.c_str()));
  ASSERT_EQ(view->Sale().LineCount(), 1) << view->Sale().Entry() << "|" << view->PaneMessage() << "|"
                                         << boxes->lastText();
  // The program ends with the refund sale open.
  restart();

  // Start-up opens 登録１ and 登録２; the sale comes up in a refund frame.
  ASSERT_EQ(countFrames(5), 1);
  shell::CChildFrame* again = modeFrame(5);
  EXPECT_EQ(again->ViewMode(), 5);
  ASSERT_NE(again->RegView(), nullptr);
  EXPECT_TRUE(again->RegView()->Sale().SaleOpen());
  EXPECT_EQ(again->RegView()->Sale().LineCount(), 1);
  EXPECT_EQ(again->RegView()->Sale().ModeCode(), reg::kModeRefund);
  // It is the frame in front, where the clerk goes on.
  EXPECT_EQ(activeModeFrame(), again);
  for (int32_t mode : {7, 8}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(countFrames(mode), 1);
    EXPECT_EQ(modeFrame(mode)->ViewMode(), mode);
    EXPECT_FALSE(modeFrame(mode)->RegView()->Sale().SaleOpen());
    EXPECT_EQ(modeFrame(mode)->RegView()->Sale().ModeCode(),
              mode == 7 ? reg::kModeRegister1 : reg::kModeRegister2);
  }
  EXPECT_EQ(temporaryFiles(), 1u);
}

// A manager who may not refund: the refund frame is refused with the rights
// message, and the sale stays on disk for one who may.
TEST_F(ResumeSaleTest, RefusedModeKeepsTheSaleOnDisk) {
  ASSERT_EQ(app->OpenModeView(5, 0), 1);
  ui::processPendingMessages();
  reg::CRegView* view = modeFrame(5)->RegView();
  keys(view, "500");
  const std::string department = "2";
  ui::sendMessage(view->handle(), reg::WM_REG_PANELKEY, reg::kKeyDepartment,
                  reinterpret_cast<LPARAM>(department.c_str()));
  ASSERT_EQ(view->Sale().LineCount(), 1);
  // Its frames go (the sale's file stays); the next manager may not refund.
  for (int32_t mode : {5, 7}) {
    ui::sendMessage(modeFrame(mode)->handle(), ui::kWmClose, 0, 0);
    ui::processPendingMessages();
    ASSERT_EQ(countFrames(mode), 0);
  }
  ASSERT_EQ(temporaryFiles(), 1u);
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.path().extension() == ".log")
      fs::last_write_time(e.path(), fs::last_write_time(e.path()) - std::chrono::seconds(2));
  uint8_t manager[48];
  std::memcpy(manager, app->m_pRegCom->Manager(), 48);
  reg::putU16(manager, reg::clerk::kForbiddenModes, reg::kForbidRefund);
  app->m_pRegCom->SetManager(manager);
  boxes->clear();
  ASSERT_EQ(app->OpenModeView(7, 0), 1);
  EXPECT_EQ(countFrames(5), 0);
  EXPECT_EQ(boxes->lastText(), "現在の責任者には、戻しに関する権限がありません\nシステム管理者にご相談下さい");
  EXPECT_FALSE(modeFrame(7)->RegView()->Sale().SaleOpen());
  EXPECT_EQ(modeFrame(7)->ViewMode(), 7);
  EXPECT_EQ(temporaryFiles(), 1u);
}

}  // namespace
}  // namespace varnex_test
