// The readings in the running shell: opened from the reading menus with the
// main frame's bars, and the end of the day's settlement, which closes the
// program and powers the machine off only after the program has closed down.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/register/view/reg_view.h"
#include "app/shell/modes/mode_shell.h"
#include "platform/base/message_box.h"
#include "platform/base/power.h"
#include "support/scripted_message_box.h"

namespace varnex_test {
namespace {

using namespace varnex::reg;

class ReadingsShellTest : public ModeShellTest {
 protected:
  void SetUp() override {
    ModeShellTest::SetUp();
    previousRunner = platform::setPowerOffRunner([this](std::string* reason) {
      ++powerOffs;
      // By now the program has closed down: frames, engine and files.
      closedFirst = app->m_pMainFrame == nullptr && app->m_pRegCom == nullptr;
      *reason = "Access denied";
      return powerOffAnswer;
    });
  }
  void TearDown() override {
    ModeShellTest::TearDown();
    platform::setPowerOffRunner(previousRunner);
  }
  void emptySteps() {
    uint8_t s[1536];
    FileDBHandle t = app->m_pRegCom->Table(kSettingsTable);
    ASSERT_EQ(FileDBRecRead(t, 0, s), 0);
    for (int i = 0; i < 8; ++i) putU16(s, settings::kReportKind1.offset + 2 * i, 0);
    ASSERT_EQ(FileDBRecWrite(t, 0, s), 0);
  }
  // One cash sale of a department item on the registration screen.
  void sell(uint16_t department, const std::string& price) {
    ASSERT_EQ(app->OpenModeView(7, 0), 1);
    CRegView* view = modeFrame(7)->RegView();
    ASSERT_NE(view, nullptr);
    type(price, view->handle());
    const std::string code = std::to_string(department);
    ui::sendMessage(view->handle(), WM_REG_PANELKEY, kKeyDepartment, reinterpret_cast<LPARAM>(code.c_str()));
    type("5000", view->handle());
    press(ui::kVkReturn, false, false, false, view->handle());
    ASSERT_FALSE(view->Sale().SaleOpen());
  }

  platform::PowerOffRunner previousRunner;
  int powerOffs = 0;
  bool closedFirst = false;
  bool powerOffAnswer = true;
};

TEST_F(ReadingsShellTest, ReadingsFromTheirMenus) {
  ASSERT_TRUE(startShell());
  signOn();
  sell(1, "1280");
  sell(2, "398");
  // 点検 menu, item 1: the X reading of departments.
  ASSERT_EQ(app->OpenModeView(9, 0), 1);
  press('1');
  press(ui::kVkReturn);
  shell::CChildFrame* x = modeFrame(31);
  ASSERT_NE(x, nullptr);
  ASSERT_NE(x->RegView(), nullptr);
  EXPECT_GT(x->RegView()->Sale().LineCount(), 5);
  idle();
  screenshot(frame().GetSafeHwnd(), "shell_reading_x_departments");
  // The cash count, which keeps its frame's close off.
  ASSERT_EQ(app->OpenModeView(37, 0), 1);
  shell::CChildFrame* cash = modeFrame(37);
  ASSERT_NE(cash, nullptr);
  EXPECT_EQ(cash->CashCountOpen(), 1);
  EXPECT_TRUE(cash->isActive());
  idle();
  frame().Frame().updateCommands();
  ui::processPendingMessages();
  screenshot(frame().GetSafeHwnd(), "shell_reading_cash_count");
}

TEST_F(ReadingsShellTest, SettlementNoClosesTheProgramOnly) {
  ASSERT_TRUE(startShell());
  signOn();
  emptySteps();
  HWND main = frame().GetSafeHwnd();
  boxes->answer(platform::kIdNo);
  ASSERT_EQ(app->OpenModeView(46, 0), 1);
  EXPECT_EQ(boxes->lastText().rfind("今日も一日お疲れ様でした", 0), 0u) << boxes->lastText();
  ui::processPendingMessages();
  EXPECT_FALSE(ui::isWindowVisible(main));  // the posted close ran
  app->ExitInstance();
  EXPECT_EQ(powerOffs, 0);
}

TEST_F(ReadingsShellTest, SettlementYesPowersOffAfterTheCloseDown) {
  ASSERT_TRUE(startShell());
  signOn();
  emptySteps();
  HWND main = frame().GetSafeHwnd();
  boxes->answer(platform::kIdYes);
  ASSERT_EQ(app->OpenModeView(46, 0), 1);
  EXPECT_EQ(powerOffs, 0);  // not while the program still runs
  ui::processPendingMessages();
  EXPECT_FALSE(ui::isWindowVisible(main));
  // The system refuses: the register says so and stays closed.
  powerOffAnswer = false;
  app->ExitInstance();
  EXPECT_EQ(powerOffs, 1);
  EXPECT_TRUE(closedFirst);
  EXPECT_EQ(boxes->lastText().rfind("システムをシャットダウンできませんでした", 0), 0u) << boxes->lastText();
  EXPECT_NE(boxes->lastText().find("Access denied"), std::string::npos);
  app->ExitInstance();
  EXPECT_EQ(powerOffs, 1);
}

// A close the screens refuse keeps the register open and forgets the
// power-off: a later ordinary close does not power the machine off.
TEST_F(ReadingsShellTest, RefusedCloseForgetsThePowerOff) {
  ASSERT_TRUE(startShell());
  signOn();
  // An open sale whose close is refused at the question.
  ASSERT_EQ(app->OpenModeView(7, 0), 1);
  CRegView* view = modeFrame(7)->RegView();
  type("100", view->handle());
  const std::string code = "1";
  ui::sendMessage(view->handle(), WM_REG_PANELKEY, kKeyDepartment, reinterpret_cast<LPARAM>(code.c_str()));
  uint8_t manager[48] = {};
  std::memcpy(manager, app->m_pRegCom->Manager(), sizeof manager);
  manager[clerk::kConfirmLevel.offset] = 0;
  app->m_pRegCom->SetManager(manager);
  app->CloseMainWindowLater(1);
  boxes->answer(platform::kIdCancel);
  ui::processPendingMessages();
  EXPECT_TRUE(ui::isWindowVisible(frame().GetSafeHwnd()));
  EXPECT_EQ(app->m_bPowerOffAtExit, 0);
}

}  // namespace
}  // namespace varnex_test
