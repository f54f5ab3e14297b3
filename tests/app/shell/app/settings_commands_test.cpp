// The settings commands of the Tools menu with their dialogs, offscreen: each
// dialog shown (and photographed), the printer's line width, the ranges, the
// rights, the sales-slip link's browse rule and the display-order range.
#include <gtest/gtest.h>

#include <cstring>

#include "app/shell/dialogs/setup_dialogs.h"
#include "app/shell/frames/sel_adj_dlg.h"
#include "app/shell/modes/mode_shell.h"
#include "peers/sa_device_peer.h"
#include "peers/scripted_serial_device.h"
#include "platform/base/message_box.h"
#include "platform/ui/dialog.h"
#include "support/scripted_message_box.h"
#include "support/wait_until.h"

namespace varnex_test {
namespace {

class SettingsCommandsTest : public ModeShellTest {
 protected:
  void SetUp() override {
    ModeShellTest::SetUp();
    ASSERT_TRUE(startShell());
    signOn();
  }
  // Chooses the command; the action runs on its dialog (by caption).
  bool run(uint32_t command, const std::string& caption, const std::function<void(HWND)>& action) {
    WhileModal driver(caption, [&](HWND dialog) {
      ui::processPendingMessages();
      action(dialog);
    });
    frame().Frame().updateCommands();
    EXPECT_TRUE(frame().Frame().chooseMenuItem(command)) << caption;
    ui::processPendingMessages();
    return driver.done();
  }
  static HWND item(HWND dialog, int32_t id) { return ui::dialogItem(dialog, id); }
  static void ok(HWND dialog) { ui::clickButton(item(dialog, 1)); }
  static void cancel(HWND dialog) { ui::clickButton(item(dialog, 2)); }
};

TEST_F(SettingsCommandsTest, DialogsShow) {
  const struct {
    uint32_t command;
    const char* caption;
    const char* shot;
  } dialogs[] = {
      {shell::ID_PERIPHERALS, "周辺機器設定", "setup_port_dialog"},
      {shell::ID_PRINT_FORMAT, "印刷書式設定", "print_format_dialog"},
      {shell::ID_OPTIONS, "オプション設定", "option_dialog"},
      {shell::ID_IMAGE_SIZE, "イメージサイズ設定", "image_size_dialog"},
      {shell::ID_LOGO_FILE, "ロゴファイルの設定", "logo_file_dialog"},
      {shell::ID_SALES_SLIP_LINK, "売上伝票処理リンク設定", "sales_slip_link_dialog"},
  };
  for (const auto& d : dialogs) {
    EXPECT_TRUE(run(d.command, d.caption, [&](HWND dialog) {
      screenshot(dialog, d.shot);
      cancel(dialog);
    })) << d.caption;
  }
  // Nothing stored by a cancelled dialog.
  EXPECT_EQ(setting("Use CD"), -999);
  EXPECT_EQ(setting("Prn Col"), -999);
  EXPECT_EQ(setting("BMP Width"), -999);
}

TEST_F(SettingsCommandsTest, ValuesAndRights) {
  // "Prn Col" 1 shows 46 characters; 30 characters stores -2.
  EXPECT_TRUE(run(shell::ID_PRINT_FORMAT, "印刷書式設定", [&](HWND dialog) {
    EXPECT_EQ(ui::buttonState(item(dialog, 1487)), 1);
    EXPECT_EQ(ui::windowText(item(dialog, 1475)), "通常使うプリンタ");
    ui::checkButton(item(dialog, 1487), 0);
    ui::checkButton(item(dialog, 1484), 1);
    ok(dialog);
  }));
  EXPECT_EQ(setting("Prn Col"), -2);
  EXPECT_EQ(userProfile().getString("Settings", "Prn Name", "x"), "");

  // A width outside 133-640 is refused and the dialog stays; then a good one.
  EXPECT_TRUE(run(shell::ID_IMAGE_SIZE, "イメージサイズ設定", [&](HWND dialog) {
    ui::setWindowText(item(dialog, 1495), "700");
    ok(dialog);
    EXPECT_TRUE(ui::isWindowVisible(dialog));
    EXPECT_EQ(boxes->lastText(), "133 から 640 までの整数を入力してください。");
    ui::setWindowText(item(dialog, 1495), "200");
    ok(dialog);
  }));
  EXPECT_EQ(setting("BMP Width"), 200);
  EXPECT_EQ(app->m_nBmpWidth, 200);
  EXPECT_EQ(boxes->lastText(), "イメージサイズを変更しました\nイメージを最適化するには、イメージファイルのインポートを行います");

  // Options: the reserve class code follows the class chosen.
  EXPECT_TRUE(run(shell::ID_OPTIONS, "オプション設定", [&](HWND dialog) {
    ui::setListSelection(item(dialog, 1599), 5);  // 23...
    ok(dialog);
  }));
  EXPECT_EQ(setting("Reserve Name Class"), 5);
  EXPECT_EQ(app->m_strReserveClassCode, "23");

  // A manager of programming level 0 may not store the sales-slip link.
  uint8_t manager[48] = {};
  std::memcpy(manager, app->m_pRegCom->Manager(), sizeof manager);
  manager[varnex::reg::clerk::kProgramLevel.offset] = 0;
  app->m_pRegCom->SetManager(manager);
  EXPECT_TRUE(run(shell::ID_SALES_SLIP_LINK, "売上伝票処理リンク設定", [&](HWND dialog) {
    ui::setWindowText(item(dialog, 1176), "/opt/slip/Orvane.exe");
    boxes->clear();
    ok(dialog);
    EXPECT_TRUE(ui::isWindowVisible(dialog));
    EXPECT_EQ(boxes->lastText(), "現在の責任者には、設定の更新保存に関する権限がありません\nシステム管理者にご相談下さい");
    cancel(dialog);
  }));
  EXPECT_EQ(userProfile().getString("Settings", "Smp Link", "none"), "none");
}

// While a receipt prints, the printer, option and port settings wait for it;
// the other settings stay offered.
TEST_F(SettingsCommandsTest, PrinterSettingsWaitForTheOpenPrintJob) {
  app->PrintReceiptText("TEST\n");
  ASSERT_TRUE(app->PrintJobOpen());
  frame().Frame().updateCommands();
  for (uint32_t command : {shell::ID_PRINT_FORMAT, shell::ID_OPTIONS, shell::ID_PERIPHERALS})
    EXPECT_FALSE(frame().Frame().commandState(command).enabled) << command;
  EXPECT_TRUE(frame().Frame().commandState(shell::ID_IMAGE_SIZE).enabled);
  EXPECT_TRUE(frame().Frame().commandState(shell::ID_SALES_SLIP_LINK).enabled);
  app->AbortPrintJob();
  ASSERT_FALSE(app->PrintJobOpen());
  EXPECT_TRUE(run(shell::ID_OPTIONS, "オプション設定", [&](HWND dialog) { cancel(dialog); }));
}

// A port changed in the peripherals dialog is closed and opened again on its
// new device, which the register polls and whose answers it takes.
class PortReopenTest : public ModeShellTest {
 protected:
  void SetUp() override {
    ModeShellTest::SetUp();
    first = std::make_unique<testing_support::SaDevicePeer>(folder.string());
    second = std::make_unique<testing_support::SaDevicePeer>(folder.string());
    jet = std::make_unique<testing_support::ScriptedSerialDevice>(folder.string());
    pole = std::make_unique<testing_support::ScriptedSerialDevice>(folder.string());
    setSetting("Use SA", 1);
    setSetting("SA Port", first->path());
    setSetting("Use JET", 1);
    setSetting("JET Port", jet->path());
    // Without parity: a pseudo-terminal set to even parity once refuses the
    // same setting when it is opened again.
    setSetting("JET Interface", 2);
    setSetting("Use CD", 1);
    setSetting("CD Device", std::string("Techno Veins VFD660"));
    setSetting("CD Port", pole->path());
    ASSERT_TRUE(startShell());
    signOn();
  }
  std::unique_ptr<testing_support::SaDevicePeer> first, second;
  std::unique_ptr<testing_support::ScriptedSerialDevice> jet, pole;
};

TEST_F(PortReopenTest, ChangedPortReopensAndTheDeviceAnswers) {
  // The register polls the device it started with, and polls again once the
  // device has answered.
  ASSERT_TRUE(ui::pumpUntil([&] { return first->pollCount() >= 2; }, testing_support::kPatienceMs));
  EXPECT_EQ(app->m_bOpenSA, 1);
  EXPECT_EQ(app->m_bOpenJET, 1);
  EXPECT_EQ(app->m_bOpenCD, 1);

  WhileModal driver("周辺機器設定", [&](HWND dialog) {
    ui::processPendingMessages();
    ui::setWindowText(ui::dialogItem(dialog, 1472), second->path());
    ui::clickButton(ui::dialogItem(dialog, 1));
  });
  frame().Frame().updateCommands();
  ASSERT_TRUE(frame().Frame().chooseMenuItem(shell::ID_PERIPHERALS));
  ui::processPendingMessages();
  ASSERT_TRUE(driver.done());
  EXPECT_EQ(userProfile().getString("Settings", "SA Port", ""), second->path());
  EXPECT_EQ(app->m_bOpenSA, 1);
  EXPECT_EQ(app->m_bOpenJET, 1);
  EXPECT_EQ(app->m_bOpenCD, 1);

  // The new device is polled, and polled again after each answer.
  ASSERT_TRUE(ui::pumpUntil([&] { return second->pollCount() >= 3; }, testing_support::kPatienceMs));
  const size_t polled = first->pollCount();

  // Opened again on the same device: the old line is let go each time.
  for (int round = 0; round < 3; ++round) {
    const size_t before = second->pollCount();
    app->ReopenSerialPorts();
    EXPECT_EQ(app->m_bOpenSA, 1);
    EXPECT_EQ(app->m_bOpenJET, 1);
    EXPECT_EQ(app->m_bOpenCD, 1);
    ASSERT_TRUE(ui::pumpUntil([&] { return second->pollCount() >= before + 2; }, testing_support::kPatienceMs));
  }
  EXPECT_EQ(first->pollCount(), polled);
}

TEST(SetupDialogRules, SalesSlipBrowseQuotesPathsWithBlanks) {
  const struct {
    const char* chosen;
    const char* target;
    const char* work;
  } cases[] = {
      {"/opt/slip/Orvane.exe", "/opt/slip/Orvane.exe", "/opt/slip/"},
      {"/opt/sales slip/Orvane.exe", "\"/opt/sales slip/Orvane.exe\"", "\"/opt/sales slip/\""},
      {"C:Orvane.exe", "C:Orvane.exe", "C:"},
      {"Orvane.exe", "Orvane.exe", ""},
  };
  for (const auto& c : cases) {
    std::string target, work;
    shell::CSmpLinkDlg::SplitProgramPath(c.chosen, &target, &work);
    EXPECT_EQ(target, c.target) << c.chosen;
    EXPECT_EQ(work, c.work) << c.chosen;
  }
}

// The display order runs from 1 to the largest number.
TEST_F(SettingsCommandsTest, DisplayOrderRunsFromOne) {
  int32_t chosen = -1;
  WhileModal driver("表示順の調整", [&](HWND dialog) {
    HWND value = item(dialog, shell::CSelAdjDlg::kValueId);
    // The number never goes below 1 nor above the largest.
    ui::setWindowText(value, "0");
    EXPECT_EQ(ui::windowText(value), "1");
    ui::setWindowText(value, "256");
    EXPECT_EQ(ui::windowText(value), "255");
    screenshot(dialog, "display_order_dialog");
    ui::setWindowText(value, "255");
    ok(dialog);
  });
  chosen = shell::CSelAdjDlg::Ask(frame().GetSafeHwnd(), shell::CSelAdjDlg::kMove, 255);
  EXPECT_TRUE(driver.done());
  EXPECT_EQ(chosen, 255);
}

}  // namespace
}  // namespace varnex_test
