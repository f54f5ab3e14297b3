// The customer-display window on a second monitor: Qt's offscreen platform
// is given two screens side by side (two_screens.json: the counter's
// 800 x 600 at 0, 0, the customer's 640 x 480 to its right). Timers run on
// the test's clock. This program runs apart from the others, which see one
// screen.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/register/demo_project.h"
#include "app/register/engine/records.h"
#include "app/register/view/register_screen.h"
#include "app/shell/display/cd_view.h"
#include "platform/base/profile.h"
#include "platform/ui/draw.h"
#include "platform/ui/window.h"
#include "support/scripted_message_box.h"

namespace {

using namespace varnex::reg;
namespace fs = std::filesystem;
namespace ui = platform::ui;

std::string joined(const std::vector<std::string>& texts) {
  std::string all;
  for (const std::string& t : texts) all += t + "|";
  return all;
}

class CdWindowTest : public varnex_test::DemoProject {
 protected:
  void SetUp() override {
    ASSERT_EQ(ui::screens().size(), 2u) << "run with two_screens.json";
    DemoProject::SetUp();
    ASSERT_TRUE(open());
    ui::useManualTimerClock(true);
    auto& profile = platform::Profile::of(platform::ProfileScope::User);
    profile.deleteSection(kSettingsSection);
    profile.setString(kSettingsSection, "CD Device", "サブディスプレイウインドウ");
    engine->SetManager(read(kClerkTable, 0).data());
    screen = std::make_unique<varnex_test::RegisterScreen>(engine.get());
    app = screen->app.get();
    app->m_bUseCD = 1;
    app->m_Display = varnex::shell::SelectDisplayDevice("サブディスプレイウインドウ", "");
    pictures = folder / "Thumbnails";
    fs::create_directories(pictures);
    app->m_strPicturePath = pictures.string() + "\\";
  }
  void TearDown() override {
    screen.reset();
    ui::useManualTimerClock(false);
    platform::Profile::of(platform::ProfileScope::User).deleteSection(kSettingsSection);
    DemoProject::TearDown();
  }

  // A picture of one colour with its number drawn large.
  void picture(const std::string& name, uint32_t colour) {
    ui::Image image = ui::Image::blank(640, 480, colour);
    {
      ui::DrawContext dc(image);
      dc.setFont("ＭＳ ゴシック", 120);
      dc.setTextColour(0xFFFFFF);
      dc.textOut(40, 40, name);
    }
    ASSERT_TRUE(image.saveJpeg((pictures / (name + ".jpg")).string()));
  }

  varnex::shell::CCdView* view() { return app->m_pCdFrm ? app->m_pCdFrm->View() : nullptr; }
  // Paints the display now and says what it drew.
  const varnex::shell::CCdView::Painted& painted() {
    ui::processPendingMessages();  // a window paints once it is shown
    ui::updateWindow(view()->GetSafeHwnd());
    return view()->LastPaint();
  }
  void grab(const std::string& name) {
    const fs::path out = fs::path(VARNEX_TEST_OUTPUT_DIR) / "customer_display";
    fs::create_directories(out);
    ui::processPendingMessages();
    EXPECT_TRUE(ui::grabWindowToPng(app->m_pCdFrm->GetSafeHwnd(), (out / name).string()));
  }

  std::unique_ptr<varnex_test::RegisterScreen> screen;
  varnex::shell::CREGApp* app = nullptr;
  fs::path pictures;
  testing_support::ScriptedMessageBox boxes;
};

TEST_F(CdWindowTest, OpensFramelessAndTopmostOnTheSecondMonitor) {
  app->OpenCustomerDisplay(0, 0, 0);
  ASSERT_NE(app->m_pCdFrm, nullptr);
  const HWND frame = app->m_pCdFrm->GetSafeHwnd();
  const ui::Rect r = ui::windowRect(frame);
  EXPECT_EQ(std::vector<int32_t>({r.left, r.top, r.right, r.bottom}), std::vector<int32_t>({800, 0, 1440, 480}));
  EXPECT_TRUE(ui::isWindowVisible(frame));
  EXPECT_TRUE(ui::isFrameless(frame));
  EXPECT_TRUE(ui::isTopmost(frame));
  const ui::Rect v = ui::windowRect(view()->GetSafeHwnd());
  EXPECT_EQ(v.width(), 640);
  EXPECT_EQ(v.height(), 480);
  EXPECT_EQ(boxes.count(), 0u);

  // A window moved by hand is remembered when it closes, and opens there.
  ui::moveWindow(frame, {820, 10, 1420, 470});
  app->CloseCustomerDisplay();
  EXPECT_EQ(app->m_pCdFrm, nullptr);
  auto& profile = platform::Profile::of(platform::ProfileScope::User);
  EXPECT_EQ(profile.getInt(kSettingsSection, "Cd LeftPt", 0), 820);
  EXPECT_EQ(profile.getInt(kSettingsSection, "Cd BottomPt", 0), 470);
  app->OpenCustomerDisplay(0, 0, 0);
  ASSERT_NE(app->m_pCdFrm, nullptr);
  EXPECT_EQ(ui::windowRect(app->m_pCdFrm->GetSafeHwnd()).left, 820);
}

TEST_F(CdWindowTest, ShowsTheSaleThenTheChangeThenClears) {
  picture("CD0", 0x704020);
  picture("CD1", 0x206040);
  app->m_strMsgCD.clear();  // empty idle message, idle option 0
  app->OpenCustomerDisplay(0, 0, 0);
  ASSERT_NE(view(), nullptr);
  EXPECT_EQ(painted().picture, "CD1");
  grab("cd_idle_before.png");

  screen->type("1000");
  screen->panel(kKeyDepartment, 1);
  ASSERT_EQ(view()->SaleShown(), 1);
  const auto& sale = painted();
  EXPECT_EQ(sale.picture, "CD0");
  ASSERT_EQ(sale.texts.size(), 2u);
  EXPECT_NE(sale.texts[0].find("1000円"), std::string::npos) << joined(sale.texts);
  EXPECT_NE(sale.texts[1].find("小計"), std::string::npos) << joined(sale.texts);
  const int32_t total = screen->view->PaneAmount();  // with the demo shop's tax
  ASSERT_GT(total, 1000);
  EXPECT_NE(sale.texts[1].find(std::to_string(total) + "円"), std::string::npos) << joined(sale.texts);
  grab("cd_sale.png");

  screen->type("2000");
  screen->press(ui::kVkReturn);
  const auto& done = painted();
  ASSERT_EQ(done.texts.size(), 2u);
  EXPECT_NE(done.texts[0].find("お預り"), std::string::npos) << joined(done.texts);
  EXPECT_NE(done.texts[0].find("2000"), std::string::npos) << joined(done.texts);
  EXPECT_NE(done.texts[1].find("お釣"), std::string::npos) << joined(done.texts);
  EXPECT_NE(done.texts[1].find(std::to_string(2000 - total) + "円"), std::string::npos) << joined(done.texts);
  grab("cd_change.png");

  // The register back to idle: the last customer's amounts go.
  app->OpenCustomerDisplay(1, 0, 0);
  EXPECT_EQ(view()->SaleShown(), 0);
  const auto& idle = painted();
  EXPECT_EQ(idle.picture, "CD1");
  EXPECT_EQ(idle.texts, (std::vector<std::string>{"", ""}));
  grab("cd_idle_after.png");
}

TEST_F(CdWindowTest, IdleMessageOverThePictures) {
  picture("CD1", 0x206040);
  app->m_strMsgCD = "いらっしゃいませ　本日は特売日です";  // 34 bytes
  app->OpenCustomerDisplay(0, 0, 0);
  ASSERT_NE(view(), nullptr);
  const auto& idle = painted();
  EXPECT_EQ(idle.texts, (std::vector<std::string>{"いらっしゃいませ　本", "日は特売日です"}));
  grab("cd_idle_message.png");

  // Idle option 1: the picture alone, and still no sale left over.
  app->m_Display.idleOption = 1;
  uint8_t line[96] = {};
  app->m_strCdText = "                    入金          1000円";
  app->OpenCustomerDisplay(1, 0, reinterpret_cast<LPARAM>(line));
  EXPECT_EQ(painted().texts.size(), 2u);
  app->OpenCustomerDisplay(1, 0, 0);
  EXPECT_TRUE(painted().texts.empty());
  EXPECT_EQ(painted().picture, "CD1");
}

TEST_F(CdWindowTest, IdlePicturesCycleEachForItsOwnTime) {
  picture("CD1S2", 0x2020A0);
  picture("CD2S5", 0x20A020);
  picture("CD3S3", 0xA02020);
  app->OpenCustomerDisplay(0, 0, 0);
  ASSERT_NE(view(), nullptr);
  const std::vector<std::pair<uint32_t, std::string>> steps = {
      {1999, "CD1S2"}, {1, "CD2S5"}, {4999, "CD2S5"}, {1, "CD3S3"}, {3000, "CD1S2"}, {2000, "CD2S5"}};
  EXPECT_EQ(painted().picture, "CD1S2");
  for (const auto& [ms, shown] : steps) {
    ui::advanceTimerClock(ms);
    EXPECT_EQ(painted().picture, shown) << "after " << ms;
  }
}

TEST_F(CdWindowTest, OnePictureRunsNoTimer) {
  picture("CD4", 0x2020A0);
  app->OpenCustomerDisplay(0, 0, 0);
  ASSERT_NE(view(), nullptr);
  ui::advanceTimerClock(60000);
  EXPECT_EQ(view()->PictureIndex(), 0);
  EXPECT_EQ(painted().picture, "CD4");
}

TEST_F(CdWindowTest, IdleOptionTwoShowsTheWindowOnlyDuringASale) {
  app->m_Display.idleOption = 2;
  app->OpenCustomerDisplay(0, 0, 0);
  EXPECT_EQ(app->m_pCdFrm, nullptr);
  uint8_t line[96] = {};
  app->OpenCustomerDisplay(1, 0, reinterpret_cast<LPARAM>(line));
  ASSERT_NE(app->m_pCdFrm, nullptr);
  app->OpenCustomerDisplay(1, 0, 0);
  EXPECT_EQ(app->m_pCdFrm, nullptr);
  // A sale opens (idle) and its first line follows at once: the line's
  // window stays up.
  app->OpenCustomerDisplay(1, 0, reinterpret_cast<LPARAM>(line));
  app->OpenCustomerDisplay(1, 0, 0);
  app->OpenCustomerDisplay(1, 0, reinterpret_cast<LPARAM>(line));
  ui::processPendingMessages();
  ASSERT_NE(app->m_pCdFrm, nullptr);
  EXPECT_TRUE(ui::isWindowVisible(app->m_pCdFrm->GetSafeHwnd()));
  EXPECT_EQ(view()->SaleShown(), 1);
}

}  // namespace
