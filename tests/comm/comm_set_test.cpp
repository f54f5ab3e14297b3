// The port settings dialogs in the offscreen window system, driven from a
// helper window's timer while they run modal: what they list, what OK
// stores, the profile keys, and a screenshot of each.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>

#include "peers/scripted_serial_device.h"
#include "platform/base/profile.h"
#include "platform/ui/dialog.h"
#include "platform/ui/window.h"
#include "quorex/comm_ctrl.h"
#include "quorex/comm_set.h"
#include "support/temp_folder.h"
#include "support/wait_until.h"

namespace ui = platform::ui;

namespace {

constexpr const char* kSection = "Quorex Test Dialogs";

platform::Profile& profile() { return platform::Profile::of(platform::ProfileScope::User); }

std::string testOutput(const std::string& name) {
  std::filesystem::path folder = std::filesystem::path(VARNEX_TEST_OUTPUT_DIR) / "comm";
  std::filesystem::create_directories(folder);
  return (folder / name).string();
}

// Runs run() (which shows a modal dialog); once a visible top-level window
// with the caption is up, act(dialog) drives it.
int32_t withDialog(const std::string& caption, const std::function<void(HWND)>& act,
                   const std::function<int32_t()>& run) {
  bool done = false;
  ui::WindowSpec window;
  window.title = "driver";
  window.visible = false;
  HWND driver = ui::createWindow(window, [&](HWND w, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m == ui::kWmTimer && !done) {
      for (HWND top : ui::topLevelWindows()) {
        if (top != w && ui::isWindowVisible(top) && ui::windowText(top) == caption) {
          done = true;
          ui::killTimer(w, 1);
          act(top);
          break;
        }
      }
      return 0;
    }
    return ui::defaultWindowProc(w, m, wp, lp);
  });
  ui::setTimer(driver, 1, 20);
  const int32_t result = run();
  ui::destroyWindow(driver);
  return result;
}

std::vector<std::string> items(HWND combo) {
  std::vector<std::string> list;
  for (int32_t i = 0; i < ui::listItemCount(combo); ++i) list.push_back(ui::listItemText(combo, i));
  return list;
}

int32_t indexOf(HWND combo, const std::string& text) {
  for (int32_t i = 0; i < ui::listItemCount(combo); ++i)
    if (ui::listItemText(combo, i) == text) return i;
  return -1;
}

void screenshot(HWND dialog, const std::string& name) {
  ui::processPendingMessages();
  EXPECT_TRUE(ui::grabWindowToPng(dialog, testOutput(name + ".png"))) << name;
}

class CommSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = testing_support::makeTestFolder();
    first_ = std::make_unique<testing_support::ScriptedSerialDevice>(folder_);
    second_ = std::make_unique<testing_support::ScriptedSerialDevice>(folder_);
    profile().deleteSection(kSection);
    const std::string devices = std::string(kSection) + "\\Devices";
    profile().setString(devices, "COM7", first_->path());
    profile().setString(devices, "COM12", second_->path());
    profile().setString(devices, "COM9", folder_ + "/no such device");
    port_.SetProfileSection(kSection);
  }
  void TearDown() override {
    profile().deleteSection(kSection);
    first_.reset();
    second_.reset();
    testing_support::removeTestFolder(folder_);
  }
  std::string folder_;
  std::unique_ptr<testing_support::ScriptedSerialDevice> first_, second_;
  CCommCtrl port_;
};

TEST_F(CommSetTest, PortListHasTheMappedPseudoTerminalsInNumberOrder) {
  CCommSet dialog;
  dialog.SetProfileSection(kSection);
  char buffer[4096];
  int32_t count = 0;
  const int32_t n = dialog.GetPortList(&count, buffer, sizeof buffer);
  ASSERT_GE(count, 2);
  std::vector<std::string> names;
  for (const char* p = buffer; p < buffer + n; p += std::strlen(p) + 1) names.push_back(p);
  EXPECT_EQ(static_cast<int32_t>(names.size()), count);
  const auto seven = std::find(names.begin(), names.end(), "COM7");
  const auto twelve = std::find(names.begin(), names.end(), "COM12");
  ASSERT_NE(seven, names.end());
  ASSERT_NE(twelve, names.end());
  EXPECT_LT(seven, twelve);
  EXPECT_EQ(std::find(names.begin(), names.end(), "COM9"), names.end());
  // Only whole names that fit.
  EXPECT_EQ(dialog.GetPortList(&count, buffer, 7), 5);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(dialog.GetPortList(nullptr, buffer, 7), -1);
  EXPECT_EQ(dialog.GetModemList(&count, buffer, sizeof buffer), 0);
  EXPECT_EQ(count, 0);
  // The list holds 4096 bytes at most; what was added before stays.
  std::string many;
  for (int i = 0; i < 700; ++i) many += "COM" + std::to_string(100 + i) + std::string(1, '\0');
  CCommSet full;
  EXPECT_EQ(full.AddPortList(2, "COM1\0COM2\0"), 1);
  EXPECT_EQ(full.AddPortList(700, many.data()), 0);
  EXPECT_GE(full.PortCount(), 2);
}

TEST_F(CommSetTest, JapaneseDialogListsThePortsAndRoundTripsTheSettings) {
  port_.SetSettings("COM7,7200,8,偶数,1,RTS/CTS");
  std::vector<std::string> ports;
  int32_t baudSelection = 0;
  const int32_t result = withDialog("通信ﾎﾟｰﾄの設定", [&](HWND d) {
    ports = items(ui::dialogItem(d, 21486));
    baudSelection = ui::listSelection(ui::dialogItem(d, 21487));  // 7200 is not listed
    EXPECT_EQ(ui::listItemText(ui::dialogItem(d, 21490), ui::listSelection(ui::dialogItem(d, 21490))), "偶数");
    screenshot(d, "comm_set_japanese");
    HWND port = ui::dialogItem(d, 21486);
    ui::setListSelection(port, indexOf(port, "COM12"));
    HWND parity = ui::dialogItem(d, 21490);
    ui::setListSelection(parity, indexOf(parity, "ﾏｰｸ"));
    ui::clickButton(ui::dialogItem(d, 1));
  }, [&] { return port_.CommSet(0x7E | 0x40000 | 0x100000); });
  EXPECT_EQ(result, 1);
  EXPECT_NE(std::find(ports.begin(), ports.end(), "COM7"), ports.end());
  EXPECT_NE(std::find(ports.begin(), ports.end(), "COM12"), ports.end());
  EXPECT_EQ(baudSelection, -1);
  // The baud rate without a selection keeps its text.
  EXPECT_EQ(port_.GetSettings(), "COM12,7200,8,ﾏｰｸ,1,RTS/CTS");
  profile().reload();
  EXPECT_EQ(profile().getString(kSection, "Port", ""), "COM12");
  EXPECT_EQ(profile().getString(kSection, "Parity", ""), "ﾏｰｸ");
  EXPECT_EQ(port_.DevicePathOf(port_.GetPortName()), second_->path());
}

TEST_F(CommSetTest, EnglishDialogShowsEnglishWordsAndStoresJapaneseOnes) {
  port_.SetSettings("COM12,9600,8,偶数,1,なし");
  std::string parityShown, flowShown;
  const int32_t result = withDialog("Communication port settings", [&](HWND d) {
    HWND parity = ui::dialogItem(d, 21490);
    parityShown = ui::listItemText(parity, ui::listSelection(parity));
    HWND flow = ui::dialogItem(d, 21492);
    flowShown = ui::listItemText(flow, ui::listSelection(flow));
    EXPECT_GE(indexOf(ui::dialogItem(d, 21486), "COM7"), 0);
    screenshot(d, "comm_set_english");
    ui::setListSelection(parity, indexOf(parity, "Mark"));
    ui::setListSelection(ui::dialogItem(d, 21487), indexOf(ui::dialogItem(d, 21487), "115200"));
    ui::clickButton(ui::dialogItem(d, 1));
  }, [&] { return port_.CommSetEn(0x7E | 0x40000); });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(parityShown, "Even");
  EXPECT_EQ(flowShown, "None");
  EXPECT_EQ(port_.GetSettings(), "COM12,115200,8,ﾏｰｸ,1,なし");
}

TEST_F(CommSetTest, ALongPortNameWidensTheDialogAndItsPortChoice) {
  const std::string longName = "/dev/serial/by-id/usb-Prolific_Technology_Inc._USB-Serial_Controller-if00-port0";
  CCommSet dialog;
  ASSERT_EQ(dialog.AddPortList(1, longName.c_str()), 1);
  dialog.m_Setting[0] = longName;
  bool fits = false, buttonsRight = false;
  withDialog("通信ﾎﾟｰﾄの設定", [&](HWND d) {
    HWND port = ui::dialogItem(d, 21486);
    const ui::Rect combo = ui::windowRect(port);
    fits = combo.right - combo.left >= ui::textWidth(port, longName);
    buttonsRight = ui::windowRect(ui::dialogItem(d, 1)).left > combo.right &&
                   ui::windowRect(ui::dialogItem(d, 2)).right <= ui::windowRect(d).right - ui::windowRect(d).left;
    screenshot(d, "comm_set_long_port");
    ui::clickButton(ui::dialogItem(d, 2));
  }, [&] { return static_cast<int32_t>(dialog.doModal()); });
  EXPECT_TRUE(fits);
  EXPECT_TRUE(buttonsRight);
}

TEST_F(CommSetTest, PortOnlyModeAndCancel) {
  bool othersHidden = false;
  const int32_t result = withDialog("通信ﾎﾟｰﾄの設定", [&](HWND d) {
    othersHidden = !ui::isWindowVisible(ui::dialogItem(d, 21487)) && !ui::isWindowVisible(ui::dialogItem(d, 1205));
    screenshot(d, "comm_set_port_only");
    ui::clickButton(ui::dialogItem(d, 2));
  }, [&] { return port_.CommSet(0x2 | 0x40000 | 0x10000000); });
  EXPECT_EQ(result, 2);
  EXPECT_TRUE(othersHidden);
  EXPECT_EQ(port_.GetSettings(), "COM1,9600,8,なし,1,XON/XOFF");
  // Port-only with the port choice disabled shows nothing.
  EXPECT_EQ(port_.CommSet(0x10000000), 3);
}

TEST_F(CommSetTest, SocketDialogRoundTripsAddressPortsAndConnect) {
  // The dialog starts from the profile's keys.
  profile().setInt(kSection, "Send Adrs", 0x0A000005);
  profile().setInt(kSection, "Recv Port", 3000);
  profile().setInt(kSection, "Send Port", 4000);
  bool connectEnabledForUdp = true;
  int32_t result = withDialog("ソケットポートの設定", [&](HWND d) {
    EXPECT_EQ(ui::windowText(ui::dialogItem(d, 21495)), "10.0.0.5");
    EXPECT_EQ(ui::controlPosition(ui::dialogItem(d, 21497)), 3000);
    screenshot(d, "sock_set");
    ui::clickButton(ui::dialogItem(d, 21494));  // UDP
    connectEnabledForUdp = ui::isWindowEnabled(ui::dialogItem(d, 21500));
    ui::clickButton(ui::dialogItem(d, 21493));  // TCP again
    ui::setWindowText(ui::dialogItem(d, 21495), "192.168.1.20");
    ui::setControlPosition(ui::dialogItem(d, 21499), 65535);
    ui::clickButton(ui::dialogItem(d, 21500));  // 接続
  }, [&] { return port_.SockSet(0x100000 | 0x100 | 0x200 | 0x400 | 0x800); });
  EXPECT_EQ(result, 1);
  EXPECT_FALSE(connectEnabledForUdp);
  EXPECT_EQ(port_.IsReqCon(), 1);
  EXPECT_EQ(port_.IsSocket(), 1);
  EXPECT_EQ(port_.IsUdp(), 0);
  EXPECT_EQ(port_.GetSendAdrsStr(), "192.168.1.20");
  EXPECT_EQ(port_.GetSendPort(), 65535u);
  EXPECT_EQ(port_.GetRecvPort(), 3000u);
  profile().reload();
  EXPECT_EQ(profile().getInt(kSection, "Send Adrs", 0), 0xC0A80114);
  EXPECT_EQ(profile().getInt(kSection, "Send Port", 0), 65535);

  // A bad address is refused and the dialog stays; Cancel leaves everything.
  bool stayed = false;
  result = withDialog("ソケットポートの設定", [&](HWND d) {
    ui::setWindowText(ui::dialogItem(d, 21495), "300.1.2.3");
    ui::clickButton(ui::dialogItem(d, 1));
    stayed = ui::isWindowVisible(d);
    ui::clickButton(ui::dialogItem(d, 2));
  }, [&] { return port_.SockSet(0); });
  EXPECT_EQ(result, 2);
  EXPECT_TRUE(stayed);
  EXPECT_EQ(port_.GetSendAdrsStr(), "192.168.1.20");
}

}  // namespace
