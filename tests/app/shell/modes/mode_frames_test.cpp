#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/register/engine/key_codes.h"
#include "app/register/view/reg_view.h"
#include "app/shell/frames/bottom_view.h"
#include "app/shell/modes/accelerators.h"
#include "app/shell/modes/menu_views.h"
#include "app/shell/modes/mode_table.h"
#include "app/shell/modes/mode_shell.h"

namespace varnex_test {
namespace {

namespace reg = varnex::reg;

class ModeFramesTest : public SignedOnShellTest {
 protected:
  shell::CMenuViewBase* menuView(int32_t mode) {
    shell::CChildFrame* f = modeFrame(mode);
    return f ? dynamic_cast<shell::CMenuViewBase*>(f->activeView()) : nullptr;
  }
  std::vector<fs::path> temporaryFiles() {
    std::vector<fs::path> found;
    for (const auto& e : fs::recursive_directory_iterator(folder))
      if (e.path().extension() == ".log") found.push_back(e.path());
    return found;
  }
};

// Start-up opens the two registration frames; every mode key opens its frame
// once, a second press brings it forward, and a forbidden mode is refused.
TEST_F(ModeFramesTest, ModeKeysOpenOneFrameEachAndRightsRefuse) {
  EXPECT_EQ(countFrames(7), 1);
  EXPECT_EQ(countFrames(8), 1);
  ASSERT_NE(modeFrame(7)->RegView(), nullptr);
  EXPECT_EQ(modeFrame(7)->RegisterViewFlag(), 1);

  const struct {
    uint32_t vk;
    int32_t mode;
    const char* title;
  } keys[] = {{0x73, 4, "設定メニュー"}, {0x78, 9, "点検メニュー"}, {0x79, 10, "精算メニュー"}, {0x76, 7, "登録１"},
              {0x77, 8, "登録２"}};
  for (const auto& k : keys) {
    press(k.vk);
    ASSERT_NE(activeModeFrame(), nullptr) << k.mode;
    EXPECT_EQ(activeModeFrame()->ViewMode(), k.mode);
    EXPECT_EQ(activeModeFrame()->title(), k.title);
  }
  // Second round: the same frames come forward, none is added.
  for (const auto& k : keys) {
    press(k.vk);
    EXPECT_EQ(activeModeFrame()->ViewMode(), k.mode);
    EXPECT_EQ(countFrames(k.mode), 1) << k.mode;
  }
  // OFF through its command.
  frame().Frame().runCommand(shell::ID_MODE_OFF);
  EXPECT_EQ(activeModeFrame()->ViewMode(), 6);
  EXPECT_EQ(activeModeFrame()->acceleratorsId(), shell::LayoutTableId(0));
  idle();
  screenshot(frame().GetSafeHwnd(), "off_mode");

  // A manager whose 点検 is forbidden: the X menu's item 1 is refused.
  uint8_t manager[48];
  std::memcpy(manager, app->m_pRegCom->Manager(), 48);
  reg::putU16(manager, reg::clerk::kForbiddenModes, reg::kForbidXReading);
  app->m_pRegCom->SetManager(manager);
  press(0x78);
  press('1');
  EXPECT_EQ(menuView(9)->Current(), 0);
  press(ui::kVkReturn);
  EXPECT_EQ(boxes->lastText(), "現在の責任者には、点検に関する権限がありません\nシステム管理者にご相談下さい");
  EXPECT_EQ(countFrames(31), 0);
  EXPECT_EQ(activeModeFrame()->ViewMode(), 9);
  // Allowed again: the item opens its reading frame with the title of the table.
  reg::putU16(manager, reg::clerk::kForbiddenModes, 0);
  app->m_pRegCom->SetManager(manager);
  press(ui::kVkReturn);
  ASSERT_EQ(countFrames(31), 1);
  EXPECT_EQ(activeModeFrame()->title(), "部門点検");
}

// The totals pane goes while a menu mode is up and comes back after: the
// register view writes to the pane there is, never to one that went.
TEST_F(ModeFramesTest, RegisterViewFollowsTheTotalsPane) {
  press(0x76);
  idle();
  ASSERT_EQ(app->OpenModeView(31, 0), 1);  // a reading: another bar, no panes
  idle();
  EXPECT_EQ(frame().BottomView(), nullptr);
  press(0x76);  // the registration key leads out of the reading
  idle();
  ASSERT_NE(frame().BottomView(), nullptr);
  reg::CRegView* view = modeFrame(7)->RegView();
  type("500", view->handle());
  const std::string code = "1";
  ui::sendMessage(view->handle(), reg::WM_REG_PANELKEY, reg::kKeyDepartment, reinterpret_cast<LPARAM>(code.c_str()));
  EXPECT_EQ(frame().BottomView()->m_nSubtotal, view->PaneAmount());
}

TEST_F(ModeFramesTest, ModeTableTitlesAndRights) {
  EXPECT_EQ(shell::ModeInfoOf(38).right, reg::kModeXReading);
  EXPECT_EQ(shell::ModeInfoOf(39).right, reg::kModeSettlement);
  EXPECT_EQ(shell::ModeInfoOf(60).right, reg::kModeSettlement);
  EXPECT_STREQ(shell::ModeInfoOf(60).title, "Unknown");
  EXPECT_EQ(shell::ModeName(7, "C:\\data\\R0001.csv"), "登録１ - R0001");
  EXPECT_EQ(shell::ModeName(9, "C:\\data\\R0001.csv"), "点検メニュー");
  EXPECT_EQ(shell::ReserveFileTitle("R0002"), " - R0002");
}

// Before anybody signs on, mode requests do nothing.
TEST_F(ModeFramesTest, NoModeBeforeSignOn) {
  app->m_bManagerSelected = 0;
  EXPECT_EQ(app->OpenModeView(4, 0), 0);
  EXPECT_EQ(countFrames(4), 0);
}

// The layout tables: a layout record for 4:62 on Ctrl+Shift+F2 gives command
// 1162; F4 stays the setup key; the Z menu has no "9".
TEST_F(ModeFramesTest, LayoutAcceleratorsAndTheDuplicateRule) {
  FileDBHandle layout = app->m_pRegCom->Table(reg::kKeyLayoutTable);
  const int32_t count = FileDBRecGetSize(layout);
  auto addRecord = [&](int32_t n, uint16_t function, uint16_t word) {
    uint8_t r[8] = {};
    reg::putU16(r, 0, function);
    reg::putU16(r, 4, word);
    ASSERT_EQ(FileDBRecWrite(layout, n, r), 0);
  };
  addRecord(count, 0x403E, 0xB071);      // 4:62 on Ctrl+Shift+F2
  addRecord(count + 1, 0x4032, 0x1073);  // 4:50 on F4: taken by the setup key
  ASSERT_TRUE(app->m_fnBuildAccelerators());

  shell::AccelEntry entries[shell::kAccelEntries];
  const int32_t n = shell::BuildFklAccelTable(app->m_pRegCom, entries, 0);
  ASSERT_GT(n, 0);
  int found1162 = 0, f4 = 0;
  for (int32_t i = 0; i < n; ++i) {
    if (entries[i].command == 1162 && entries[i].key == 0x71) {
      ++found1162;
      EXPECT_EQ(entries[i].flags, shell::kFControl | shell::kFShift | shell::kFVirtKey);
      EXPECT_EQ(entries[i].key, 0x71);
    }
    if (entries[i].key == 0x73 && entries[i].flags == shell::kFVirtKey) {
      ++f4;
      EXPECT_EQ(entries[i].command, 1002);
    }
  }
  EXPECT_EQ(found1162, 1);
  EXPECT_EQ(f4, 1);
  // A word 0 gives one entry with no key; a second adds nothing.
  shell::AccelEntry few[4];
  EXPECT_EQ(shell::AddAccelEntry(few, 0, 0, 1150), 1);
  EXPECT_EQ(shell::AddAccelEntry(few, 1, 0, 1151), 0);

  // Keys: in the setup menu Ctrl+Shift+F2 runs the highlighted item (1162);
  // in the Z menu "9" is nothing, "3" highlights item 3.
  press(0x79);
  shell::CMenuViewBase* z = menuView(10);
  ASSERT_NE(z, nullptr);
  EXPECT_EQ(z->Current(), 7);  // the Z menu starts on its last item
  press('9');
  EXPECT_EQ(z->Current(), 7);
  press('3');
  EXPECT_EQ(z->Current(), 2);
  idle();
  screenshot(frame().GetSafeHwnd(), "z_menu");

  press(0x73);
  shell::CMenuViewBase* setup = menuView(4);
  ASSERT_NE(setup, nullptr);
  press('1');
  EXPECT_EQ(setup->Current(), 0);
  press(0x71, true, true, false);  // Ctrl+Shift+F2: execute item 1 (mode 101)
  ui::processPendingMessages();
  EXPECT_EQ(countFrames(101), 1);
}

// Items chosen by digit, moved between columns, and the tab order wrapping.
TEST_F(ModeFramesTest, MenuItemsByDigitAndMoves) {
  press(0x73);
  shell::CMenuViewBase* setup = menuView(4);
  ASSERT_NE(setup, nullptr);
  press('4');
  EXPECT_EQ(setup->Current(), 3);
  EXPECT_EQ(ui::windowText(setup->Button(3)), "４．ＰＬＵ");
  frame().Frame().runCommand(shell::kCmdMenuRight);
  EXPECT_EQ(ui::windowText(setup->Button(setup->Current())), "１２．２段値札                    Alt+2");
  press('3', false, false, true);  // Alt+3: item 13
  EXPECT_EQ(setup->Current(), 12);
  idle();
  screenshot(frame().GetSafeHwnd(), "setup_menu");
  // A programming file opens as a record view in a frame of its own.
  const size_t shown = boxes->count();
  press('2');
  press(ui::kVkReturn);
  EXPECT_EQ(boxes->count(), shown) << boxes->lastText();
  ASSERT_EQ(countFrames(102), 1);
  press(0x79);  // F10 there: 終了 closes the programming file
  EXPECT_EQ(countFrames(102), 0);

  press(0x79);
  shell::CMenuViewBase* z = menuView(10);
  ASSERT_NE(z, nullptr);
  press('1');
  frame().Frame().runCommand(shell::kCmdMenuPrevious);
  EXPECT_EQ(z->Current(), 7);
}

// Closing a registration frame with a sale open keeps the sale's temporary
// file, and the next start takes the sale up again.
// The registration frame's menu bar carries the register's commands: the
// idle ones without a sale, the line ones during it, each enabled by the
// view's rules and run as the key it stands for.
TEST_F(ModeFramesTest, RegisterCommandsFromTheMenuBar) {
  press(0x76);
  idle();
  reg::CRegView* view = modeFrame(7)->RegView();
  ASSERT_NE(view, nullptr);
  ui::Frame& bar = frame().Frame();
  bar.updateCommands();
  const auto titles = bar.menuTitles();
  EXPECT_NE(std::find(titles.begin(), titles.end(), "登録(&R)"), titles.end());
  // No lines yet: nothing to print again; the line keys are not offered.
  EXPECT_FALSE(bar.chooseMenuItem(reg::kCmdReprint));
  EXPECT_FALSE(bar.chooseMenuItem(reg::kCmdCancelSale));

  type("1000", view->handle());
  const std::string code = "1";
  ui::sendMessage(view->handle(), reg::WM_REG_PANELKEY, reg::kKeyDepartment, reinterpret_cast<LPARAM>(code.c_str()));
  ASSERT_TRUE(view->Sale().SaleOpen());
  idle();
  bar.updateCommands();
  EXPECT_EQ(bar.currentMenu(), reg::kSaleMenu);
  // 取消 from the menu bar cancels the sale as the key would.
  EXPECT_TRUE(bar.chooseMenuItem(reg::kCmdCancelSale));
  ui::processPendingMessages();
  EXPECT_FALSE(view->Sale().SaleOpen()) << view->PaneMessage();
  idle();
  bar.updateCommands();
  EXPECT_EQ(bar.currentMenu(), reg::kIdleMenu);
}

TEST_F(ModeFramesTest, ClosedFrameKeepsItsOpenSale) {
  press(0x76);
  shell::CChildFrame* f = modeFrame(7);
  ASSERT_NE(f, nullptr);
  reg::CRegView* view = f->RegView();
  idle();
  screenshot(frame().GetSafeHwnd(), "register_frame_empty");
  type("1000", view->handle());
  const std::string code = std::to_string(1);
  ui::sendMessage(view->handle(), reg::WM_REG_PANELKEY, reg::kKeyDepartment, reinterpret_cast<LPARAM>(code.c_str()));
  ASSERT_TRUE(view->Sale().SaleOpen());
  ASSERT_GT(view->Sale().LineCount(), 0);
  EXPECT_EQ(f->ModalDialogFlag(), 1);
  idle();
  screenshot(frame().GetSafeHwnd(), "register_frame");
  ASSERT_EQ(temporaryFiles().size(), 1u);

  // Confirmation level 0 asks; Cancel keeps the frame.
  uint8_t manager[48];
  std::memcpy(manager, app->m_pRegCom->Manager(), 48);
  manager[reg::clerk::kConfirmLevel.offset] = 0;
  app->m_pRegCom->SetManager(manager);
  boxes->answer(platform::kIdCancel);
  ui::sendMessage(f->handle(), ui::kWmClose, 0, 0);
  ui::processPendingMessages();
  EXPECT_EQ(boxes->lastText(), "閉じると変更が失われます。実行しますか？");
  ASSERT_EQ(countFrames(7), 1);
  // OK closes it, and the sale's file stays.
  boxes->answer(platform::kIdOk);
  ui::sendMessage(f->handle(), ui::kWmClose, 0, 0);
  ui::processPendingMessages();
  EXPECT_EQ(countFrames(7), 0);
  EXPECT_EQ(temporaryFiles().size(), 1u);

  // The next start: the registration frame resumes it.
  app->ExitInstance();
  app.reset();
  ui::processPendingMessages();
  app = std::make_unique<shell::CREGApp>();
  app->m_strWorkFolder = folder.string();
  app->m_strProgramFolder = (folder / "program").string();
  screens = shell::InstallModeScreens(*app);
  ASSERT_TRUE(startShell());
  shell::CChildFrame* again = modeFrame(7);
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->RegView()->Sale().SaleOpen());
  EXPECT_GT(again->RegView()->Sale().LineCount(), 0);
  // Only one screen takes it up.
  EXPECT_FALSE(modeFrame(8)->RegView()->Sale().SaleOpen());
}

// Saving on a programming screen checks the rights before anything else.
TEST_F(ModeFramesTest, SaveRightsComeFirst) {
  auto* f = new shell::CChildFrame(*screens, 104, "PLU");
  uint8_t manager[48];
  std::memcpy(manager, app->m_pRegCom->Manager(), 48);
  manager[reg::clerk::kProgramLevel.offset] = 1;
  app->m_pRegCom->SetManager(manager);
  EXPECT_FALSE(f->SaveRecord(true));
  EXPECT_EQ(boxes->lastText(), "現在の責任者には、設定の追加保存に関する権限がありません\nシステム管理者にご相談下さい");
  boxes->clear();
  EXPECT_FALSE(f->SaveRecord(false));  // allowed, but no record view to save from
  EXPECT_EQ(boxes->count(), 0u);
  f->close();
}

TEST(ChildFrameRows, TransKeyCodeOfRow) {
  EXPECT_EQ(shell::CChildFrame::TransKeyCodeOfRow(reg::kTrans2Table, -1, 12), 32);
  EXPECT_EQ(shell::CChildFrame::TransKeyCodeOfRow(reg::kTrans1Table, 0, 12), 1);
  EXPECT_EQ(shell::CChildFrame::TransKeyCodeOfRow(reg::kTrans3Table, 4, 12), 54);
  EXPECT_EQ(shell::CChildFrame::TransKeyCodeOfRow(reg::kPluTable, 4, 12), -1);
}

}  // namespace
}  // namespace varnex_test
