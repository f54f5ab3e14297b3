// The pole display on its serial port during a sale on the demo shop: the
// register screen's line for an item, the change at the end, and the idle
// text when a sale opens, as the display on the far end of a pseudo-terminal receives them.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/register/demo_project.h"
#include "app/register/devices/pole_display.h"
#include "app/register/view/register_screen.h"
#include "app/register/view/sale_display.h"
#include "peers/scripted_serial_device.h"
#include "platform/base/profile.h"
#include "quorex/comm_ctrl.h"
#include "quorex/serial.h"
#include "support/wait_until.h"

namespace {

using namespace varnex::reg;
namespace ui = platform::ui;

class PoleSaleTest : public varnex_test::DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    ASSERT_TRUE(open());
    platform::Profile::of(platform::ProfileScope::User).deleteSection(kSettingsSection);
    engine->SetManager(read(kClerkTable, 0).data());
    folder_ = testing_support::makeTestFolder();
    device_ = std::make_unique<testing_support::ScriptedSerialDevice>(folder_);
    ui::WindowSpec window;
    window.className = "PoleOwner";
    window.visible = false;
    owner_ = ui::createWindow(window, [this](HWND w, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
      if (m == 0x0E01) pole_.OnCommCd(wp);
      if (m == ui::kWmTimer) port_.TimerProc(static_cast<uint32_t>(wp));
      return ui::defaultWindowProc(w, m, wp, lp);
    });
    port_.SetMsgIDEvent(0x0E01);
    port_.GetCommCtrl().SetSettings((device_->path() + ",9600,8,N,1,None").c_str());
    port_.GetCommCtrl().SetCommLogging(0);
    ASSERT_EQ(port_.CommOpen(owner_), 1);
    pole_.m_pPort = &port_;
    pole_.m_bOpen = 1;
    screen = std::make_unique<varnex_test::RegisterScreen>(engine.get());
    CRegView::Host host;
    host.setMenus = [this](int32_t id) { screen->frame->setMenu(id); };
    screen->view->SetHost(std::move(host));
    hook_.pole = &pole_;
    varnex::reg::AddSaleDisplay(&hook_);
  }
  void TearDown() override {
    varnex::reg::RemoveSaleDisplay(&hook_);
    screen.reset();
    port_.CommClose();
    ui::destroyWindow(owner_);
    device_.reset();
    testing_support::removeTestFolder(folder_);
    DemoProject::TearDown();
  }
  // The pole display hangs on the sale's display hook as the register's does.
  struct PoleHook : varnex::reg::SaleDisplay {
    CPoleDisplay* pole = nullptr;
    void SaleChanged(const void* line, const std::string& poleText) override {
      std::string text = line ? poleText : std::string();
      pole->Update(1, text, "ｲﾗｯｼｬｲﾏｾ");
    }
  } hook_;
  std::string folder_;
  HWND owner_ = nullptr;
  CSerial port_;
  CPoleDisplay pole_;
  std::unique_ptr<testing_support::ScriptedSerialDevice> device_;
  std::unique_ptr<varnex_test::RegisterScreen> screen;
};

TEST_F(PoleSaleTest, ItemThenChangeThenIdleText) {
  screen->type("1000");
  screen->panel(kKeyDepartment, 1);
  const std::string item = "\x0B" + screen->view->Sale().PolePending();
  ASSERT_NE(item.find("ｼｮｳｹｲ"), std::string::npos) << item;
  ASSERT_TRUE(device_->waitFor(item, 1, testing_support::kPatienceMs));
  EXPECT_NE(item.find("1000"), std::string::npos) << item;
  screen->type("2000");
  screen->press(ui::kVkReturn);
  // The change stays up for the customer until the next sale opens, which
  // clears the display to its idle text first.
  ASSERT_TRUE(device_->waitFor("\x0Bｵｱｽﾞｶﾘ", 1, testing_support::kPatienceMs)) << device_->received();
  screen->type("500");
  screen->panel(kKeyDepartment, 1);
  const std::string idle = std::string("\x0C\x1F\x43\x00", 4) + "\x0Bｲﾗｯｼｬｲﾏｾ";
  ASSERT_TRUE(device_->waitFor(idle, 2, testing_support::kPatienceMs)) << device_->received();
  const std::string all = device_->received();
  EXPECT_EQ(all.rfind(idle, 0), 0u);  // the first sale opened on the idle text too
  const size_t change = all.find("\x0Bｵｱｽﾞｶﾘ");
  EXPECT_LT(change, all.rfind(idle));
  EXPECT_NE(all.find("ｵﾂﾘ", change), std::string::npos);
  EXPECT_NE(all.find("2000", change), std::string::npos);  // the amount tendered
}

}  // namespace
