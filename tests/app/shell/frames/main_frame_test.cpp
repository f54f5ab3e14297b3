#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/register/engine/key_codes.h"
#include "app/shell/frames/bottom_view.h"
#include "app/shell/frames/ctrl_bar.h"
#include "platform/base/process.h"
#include "platform/ui/desktop.h"
#include "platform/ui/dialog.h"
#include "platform/ui/input.h"
#include "app/shell/shell_fixture.h"
#include "zemta/filedb.h"

namespace varnex_test {
namespace {

using varnex::reg::kTables;
using varnex::reg::kTrans1Table;

class MainFrameTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    ASSERT_TRUE(start()) << boxes->lastText();
    // The tests are the clock: the real 200 ms tick stays out of the way.
    ui::killTimer(frame().GetSafeHwnd(), shell::kTimerIdle);
  }
  HWND barItem(int32_t id) { return ui::dialogItem(frame().Frame().dialogBar(), id); }
};

// The shell is locked at start; a sign-on opens it, and after 30 s without
// input on a register screen (150 ticks of 200 ms) it locks again.
TEST_F(MainFrameTest, IdleLockAfterItsCountOfTicks) {
  HWND main = frame().GetSafeHwnd();
  EXPECT_TRUE(frame().IsLocked());
  screenshot(main, "sign_on_lock");
  if (app->m_hAccountDlg) screenshot(app->m_hAccountDlg, "sign_on_lock_dialog");
  // The sign-on dialog sits in the middle of the locked register, above it.
  ASSERT_NE(app->m_hAccountDlg, nullptr);
  const ui::Rect outer = ui::windowRect(main), dialog = ui::windowRect(app->m_hAccountDlg);
  EXPECT_LE(std::abs((dialog.left + dialog.right) - (outer.left + outer.right)), 2);
  EXPECT_LE(std::abs((dialog.top + dialog.bottom) - (outer.top + outer.bottom)), 2);
  EXPECT_TRUE(ui::isWindowVisible(app->m_hAccountDlg));
  screenshotScreen("sign_on_lock_screen");
  signOn();
  EXPECT_FALSE(frame().IsLocked());
  EXPECT_TRUE(ui::isWindowEnabled(main));

  // Input now, then 150 ticks without any.
  ui::sendKeyInput(main, 'A', true, false, false, false);
  ui::sendKeyInput(main, 'A', false, false, false, false);
  tick(1);
  EXPECT_EQ(frame().IdleTicks(), 0u);
  tick(150);
  EXPECT_FALSE(frame().IsLocked());
  EXPECT_EQ(frame().IdleTicks(), 150u);
  // A key pressed resets the count.
  ui::sendKeyInput(main, 'A', true, false, false, false);
  ui::sendKeyInput(main, 'A', false, false, false, false);
  tick(1);
  EXPECT_EQ(frame().IdleTicks(), 0u);
  tick(151);
  EXPECT_TRUE(frame().IsLocked());
  EXPECT_EQ(app->m_bManagerSelected, 0);
  EXPECT_FALSE(ui::isWindowEnabled(main));
  EXPECT_NE(frame().m_nDeviceStatus & 0x80, 0u);
  screenshot(main, "idle_lock");
  if (app->m_hAccountDlg) screenshot(app->m_hAccountDlg, "idle_lock_dialog");
}

// What suspends the idle lock: another screen's longer limit, a modal
// dialog of a Tools command, a sale in progress, "Cas No Timeout", a
// minimised window.
TEST_F(MainFrameTest, IdleLockWaitsWhileSomethingHoldsIt) {
  signOn();
  struct Case {
    const char* name;
    std::function<void()> hold;
    std::function<void()> release;
  };
  TestModeFrame* menu = nullptr;
  TestModeFrame* sale = nullptr;
  const Case cases[] = {
      {"dialog open", [&] { frame().m_bDialogOpen = 1; }, [&] { frame().m_bDialogOpen = 0; }},
      {"no timeout", [&] { app->m_bCasNoTimeout = 1; }, [&] { app->m_bCasNoTimeout = 0; }},
      {"sale open", [&] { sale = new TestModeFrame(frame().Frame(), 7, 1); sale->modal = 1; },
       [&] { sale->close(); ui::processPendingMessages(); }},
      {"menu screen", [&] { menu = new TestModeFrame(frame().Frame(), 4); },
       [&] { menu->close(); ui::processPendingMessages(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.hold();
    tick(1);
    tick(300);
    EXPECT_FALSE(frame().IsLocked());
    c.release();
  }
  // The menu screen does lock after 180 s.
  menu = new TestModeFrame(frame().Frame(), 4);
  tick(1);
  tick(901);
  EXPECT_TRUE(frame().IsLocked());
}

// The dialog bar follows the active mode frame.
TEST_F(MainFrameTest, BarFollowsTheActiveModeFrame) {
  idle();
  EXPECT_EQ(frame().CurrentBarId(), 120);
  signOn();
  idle();
  EXPECT_EQ(frame().CurrentBarId(), 120);  // no mode frame
  struct Case {
    int32_t mode, registerView, modal, bar;
    bool panes;
  };
  const Case cases[] = {
      {4, 0, 0, 122, false},   {7, 1, 0, 122, true},  {7, 1, 1, 126, true},  {5, 1, 1, 126, true},
      {103, 0, 0, 124, false}, {110, 0, 0, 124, false}, {33, 0, 0, 128, false}, {38, 0, 0, 128, false},
      {9, 0, 0, 122, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    auto* f = new TestModeFrame(frame().Frame(), c.mode, c.registerView);
    f->modal = c.modal;
    idle();
    EXPECT_EQ(frame().CurrentBarId(), c.bar);
    EXPECT_EQ(frame().Pane(shell::kBottomPaneId) != nullptr, c.panes);
    EXPECT_EQ(frame().BottomView() != nullptr, c.panes);
    HWND bar = frame().Frame().dialogBar();
    ASSERT_NE(bar, nullptr);
    if (c.bar == 128) {
      EXPECT_EQ(ui::isWindowVisible(barItem(shell::ID_BAR_RECEIPT)), c.mode == 38);
      EXPECT_TRUE(ui::isWindowVisible(barItem(shell::ID_BAR_PRINT)));
    }
    if (c.bar == 124) {
      EXPECT_EQ(ui::isWindowVisible(barItem(shell::ID_PROG_EXTRA)), c.mode == 103);
    }
    if (c.bar == 126 && c.mode == 7) screenshot(frame().GetSafeHwnd(), "register_sale_bar");
    f->close();
    ui::processPendingMessages();
    idle();
    EXPECT_EQ(frame().CurrentBarId(), 120);
  }
  // Signed off: back to 120 whatever is active.
  auto* f = new TestModeFrame(frame().Frame(), 7, 1);
  idle();
  EXPECT_EQ(frame().CurrentBarId(), 122);
  EXPECT_TRUE(frame().Frame().runCommand(shell::ID_SIGN_OFF));
  idle();
  EXPECT_TRUE(frame().IsLocked());
  EXPECT_EQ(frame().CurrentBarId(), 120);
  EXPECT_FALSE(ui::isWindowVisible(f->handle()));  // mode frames hidden while locked
}

// The function-key buttons of a sale are labelled from the key layout; a
// long name falls back to the shorter forms.
TEST_F(MainFrameTest, FunctionKeyLabels) {
  FileDBHandle trans1 = app->m_pRegCom->Table(kTrans1Table);
  std::vector<uint8_t> credit(kTables[kTrans1Table].recordLen);
  const int32_t cardRecord = varnex::reg::kTenderCard - varnex::reg::transkey::kTrans1Base;
  ASSERT_EQ(FileDBRecRead(trans1, cardRecord, credit.data()), 0);
  const std::string longName = "クレジットカード決済";  // 20 bytes
  std::fill(credit.begin(), credit.begin() + 36, ' ');
  std::copy(longName.begin(), longName.end(), credit.begin());
  const std::string printName = "ｸﾚｼﾞｯﾄ";
  std::copy(printName.begin(), printName.end(), credit.begin() + 24);
  ASSERT_EQ(FileDBRecWrite(trans1, cardRecord, credit.data()), 0);
  struct Case {
    uint32_t vk;
    const char* label;
  };
  const Case cases[] = {
      {0x70, "F1: 小計"}, {0x71, "F2:ｸﾚｼﾞｯﾄ"}, {0x72, "F3:商品券"}, {0x7A, "F11:減税"}, {0x7B, "F12:切換"},
  };
  for (const Case& c : cases) EXPECT_EQ(frame().FormatFunctionKeyButton(0, c.vk), c.label) << c.vk;
  // A key with no layout has no label; so has an engine without a project.
  signOn();
  auto* f = new TestModeFrame(frame().Frame(), 7, 1);
  f->modal = 1;
  idle();
  ASSERT_EQ(frame().CurrentBarId(), 126);
  EXPECT_EQ(ui::windowText(barItem(shell::ID_FKEY_FIRST)), "F1: 小計");
  EXPECT_EQ(ui::windowText(barItem(shell::ID_FKEY_FIRST + 11)), "F12:切換");
}

// Every bar fits the register's 640 x 480 window and shows each caption
// whole: no bar widens the window, and no caption is wider than the room its
// button leaves (the font shrinks where the screen font would not fit).
TEST_F(MainFrameTest, BarCaptionsFitTheirButtons) {
  HWND main = frame().GetSafeHwnd();
  EXPECT_EQ(ui::windowRect(main).width(), 640);
  EXPECT_EQ(ui::windowRect(main).height(), 480);
  auto checkBar = [&](int32_t bar) {
    SCOPED_TRACE(bar);
    ui::processPendingMessages();
    EXPECT_EQ(frame().CurrentBarId(), bar);
    EXPECT_EQ(ui::windowRect(main).width(), 640);
    HWND dialogBar = frame().Frame().dialogBar();
    ASSERT_NE(dialogBar, nullptr);
    EXPECT_LE(ui::windowRect(dialogBar).right, ui::windowRect(main).width());
    int32_t buttons = 0;
    for (int32_t id : {1002, 1003, 32777, 1004, 1005, 1006, 1007, 1594, 1595, 1587, 1086, 1085, 1083, 1401, 1402,
                       1403, 1404, 1405, 1406, 1407, 1408, 1409, 1410, 1201, 1202, 1203, 1204, 1205, 1206, 1207,
                       1208, 1209, 1210, 1211, 1212}) {
      HWND button = barItem(id);
      if (!button || !ui::isWindowVisible(button)) continue;
      const std::string caption = ui::windowText(button);
      if (caption.empty()) continue;
      ++buttons;
      EXPECT_LE(ui::textWidth(button, caption), ui::textRoom(button)) << id << " " << caption;
      EXPECT_GE(ui::textWidth(button, caption), 9) << id;  // a font was found, the text drawn
    }
    EXPECT_GE(buttons, 3);
  };
  app->m_bTenKey = 1;
  checkBar(120);
  signOn();
  const struct {
    int32_t mode, registerView, modal, bar;
  } cases[] = {{4, 0, 0, 122}, {7, 1, 0, 122}, {7, 1, 1, 126}, {103, 0, 0, 124}, {38, 0, 0, 128}};
  for (const auto& c : cases) {
    auto* f = new TestModeFrame(frame().Frame(), c.mode, c.registerView);
    f->modal = c.modal;
    idle();
    checkBar(c.bar);
    screenshot(main, "bar_" + std::to_string(c.bar) + "_mode_" + std::to_string(c.mode));
    f->close();
    ui::processPendingMessages();
    idle();
  }
}

// "Big Dialog" bars fit a 1024-pixel screen: none widens the window.
TEST_F(MainFrameTest, BigBarsFitA1024PixelScreen) {
  HWND main = frame().GetSafeHwnd();
  ui::moveWindow(main, {0, 0, 1024, 768});
  app->m_bTenKey = 1;
  app->m_bBigDialog = 1;
  signOn();
  const struct {
    int32_t mode, registerView, modal, bar;
  } cases[] = {{4, 0, 0, 123}, {7, 1, 1, 127}, {103, 0, 0, 125}, {38, 0, 0, 129}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bar);
    auto* f = new TestModeFrame(frame().Frame(), c.mode, c.registerView);
    f->modal = c.modal;
    idle();
    EXPECT_EQ(frame().CurrentBarId(), c.bar - 1);  // its big form
    EXPECT_EQ(ui::windowRect(main).width(), 1024);
    HWND dialogBar = frame().Frame().dialogBar();
    ASSERT_NE(dialogBar, nullptr);
    EXPECT_LE(ui::windowRect(dialogBar).right, 1024);
    for (HWND child : ui::childWindows(dialogBar)) {
      if (ui::isWindowVisible(child)) {
        EXPECT_LE(ui::windowRect(child).right, 1024) << ui::windowText(child);
      }
    }
    screenshot(main, "big_bar_" + std::to_string(c.bar));
    f->close();
    ui::processPendingMessages();
    idle();
  }
}

// Receipt on/off, the manual and the clerk code.
TEST_F(MainFrameTest, ReceiptSwitchManualAndClerkCodeRights) {
  signOn();
  EXPECT_TRUE(frame().Frame().runCommand(shell::ID_RECEIPT_ONOFF));
  EXPECT_EQ(app->m_bReceiptOn, 0);
  EXPECT_EQ(frame().m_strStatusText, "レシートＯＦＦ");
  EXPECT_TRUE(frame().Frame().runCommand(shell::ID_RECEIPT_ONOFF));
  EXPECT_EQ(frame().m_strStatusText, "");

  std::vector<std::string> opened;
  auto previous = platform::setDocumentOpener([&](const std::string& path) {
    opened.push_back(path);
    return true;
  });
  EXPECT_TRUE(frame().Frame().runCommand(shell::ID_HELP_INDEX));
  testing_support::writeFileBytes((folder / "Varnex.pdf").string(), "%PDF-1.4\n");
  EXPECT_TRUE(frame().Frame().runCommand(shell::ID_HELP_INDEX));
  platform::setDocumentOpener(previous);
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0], (folder / "hlp" / "Varnex.pdf").string());
  EXPECT_EQ(opened[1], (folder / "Varnex.pdf").string());

  // A manager barred from 設定 (forbidden-mode bit 0) may not make clerk codes.
  uint8_t manager[48] = {};
  std::memcpy(manager, app->m_pRegCom->Manager(), sizeof manager);
  manager[30] |= 0x01;
  manager[29] = (manager[29] & ~3) | 1;
  app->m_pRegCom->SetManager(manager);
  boxes->clear();
  EXPECT_TRUE(frame().Frame().runCommand(shell::ID_MAKE_CLERK_CODE));
  ASSERT_EQ(boxes->count(), 1u);
  EXPECT_EQ(boxes->lastText(), "現在の責任者には、担当者コードの生成に関する権限がありません\nシステム管理者にご相談下さい");
}

// The pane bar: the drag edge of the bottom pane, never under 12 pixels.
TEST_F(MainFrameTest, PaneBarDragEdgeAndMinimumHeight) {
  signOn();
  auto* f = new TestModeFrame(frame().Frame(), 7, 1);
  idle();
  shell::CCtrlBar* bottom = frame().Pane(shell::kBottomPaneId);
  ASSERT_NE(bottom, nullptr);
  EXPECT_EQ(bottom->Height(), 112);
  EXPECT_EQ(bottom->CalcFixedLayout(true, true).width, shell::CCtrlBar::kStretch);
  HWND pane = bottom->GetSafeHwnd();
  auto at = [](int y) { return static_cast<LPARAM>(static_cast<uint16_t>(10) | (static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16)); };
  // Away from the edge nothing happens.
  ui::sendMessage(pane, ui::kWmMouseMove, 0, at(40));
  ui::sendMessage(pane, ui::kWmLButtonDown, 1, at(40));
  EXPECT_FALSE(bottom->IsDragging());
  // Over the edge: drag up 30 pixels, then far down.
  ui::sendMessage(pane, ui::kWmMouseMove, 0, at(2));
  ui::sendMessage(pane, ui::kWmLButtonDown, 1, at(2));
  EXPECT_TRUE(bottom->IsDragging());
  ui::sendMessage(pane, ui::kWmMouseMove, 1, at(-30));
  EXPECT_EQ(bottom->Height(), 112 + 30 + 3);
  ui::sendMessage(pane, ui::kWmMouseMove, 1, at(500));
  EXPECT_EQ(bottom->Height(), shell::CCtrlBar::kMinHeight);
  ui::sendMessage(pane, ui::kWmLButtonUp, 0, at(500));
  EXPECT_FALSE(bottom->IsDragging());
  // The pane view keeps its height for the next time.
  bottom->SetHeight(140);
  f->close();
  ui::processPendingMessages();
  idle();
  EXPECT_EQ(frame().Pane(shell::kBottomPaneId), nullptr);
  EXPECT_EQ(setting("Bottom Height"), 140);
}

// A register key of the SA device goes to the register's own window.
TEST_F(MainFrameTest, DeviceKeysGoToTheRegisterOnly) {
  signOn();
  // A window of something else has the focus.
  std::vector<uint32_t> strangerKeys, ownKeys;
  ui::WindowSpec other;
  other.className = "Other";
  other.title = "another program";
  HWND stranger = ui::createWindow(other, [&](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m == ui::kWmKeyDown) strangerKeys.push_back(static_cast<uint32_t>(wp));
    return ui::defaultWindowProc(h, m, wp, lp);
  });
  // The register screen: a mode frame whose view takes the keys.
  struct KeyView : ui::View {
    std::vector<uint32_t>* keys = nullptr;
    bool onKeyDown(uint32_t vk, LPARAM) override {
      keys->push_back(vk);
      return true;
    }
  };
  auto* screen = new TestModeFrame(frame().Frame(), 7, 1);
  auto view = std::make_unique<KeyView>();
  view->keys = &ownKeys;
  ASSERT_NE(screen->setView(std::move(view)), nullptr);
  ui::setFocus(stranger);
  EXPECT_EQ(frame().SimulateKeyStrokeChar('5'), 1);
  EXPECT_EQ(frame().SimulateKeyStrokeAt(214), 1);  // the digit 1 of the pad
  EXPECT_EQ(frame().SimulateKeyStrokeChar('A'), 0);  // only digits and 255
  ui::processPendingMessages();
  EXPECT_TRUE(strangerKeys.empty());
  EXPECT_EQ(ownKeys, (std::vector<uint32_t>{'5', '1'}));
  ui::destroyWindow(stranger);
}

}  // namespace
}  // namespace varnex_test
