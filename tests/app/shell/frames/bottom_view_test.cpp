// The totals pane: its geometry, its figures, the pane drawn offscreen for a
// sale and for a two-line message (grabbed to PNG files in the test data
// folder, bottom_view/), and the height it keeps when it closes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/register/demo_project.h"
#include "app/register/engine/records.h"
#include "app/shell/frames/bottom_view.h"
#include "platform/base/profile.h"
#include "platform/ui/draw.h"
#include "platform/ui/paint.h"
#include "platform/ui/window.h"

namespace ui = platform::ui;
using varnex::shell::CBottomView;

namespace {

std::string outputFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  std::filesystem::path folder = std::filesystem::path(data ? data : "/tmp") / "bottom_view";
  std::filesystem::create_directories(folder);
  return folder.string();
}

int darkPixels(const ui::Image& image, const ui::Rect& r) {
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) {
      const uint32_t p = image.pixel(x, y);
      if ((p & 0xFF) + ((p >> 8) & 0xFF) + ((p >> 16) & 0xFF) < 3 * 128) ++n;
    }
  return n;
}

TEST(BottomViewLayoutTest, PaneOf640) {
  const CBottomView::Layout g = CBottomView::Measure({0, 0, 640, 160}, "");
  EXPECT_EQ(g.unit, 8);
  EXPECT_EQ(g.labelFont, 16);
  EXPECT_EQ(g.numberFont, 26);
  EXPECT_EQ(g.barBottom, 38);
  EXPECT_TRUE(g.hasMessageBox);
  EXPECT_EQ(g.messageBox.top, 42);
  EXPECT_EQ(g.messageBox.bottom, 156);
  EXPECT_EQ(g.columns, 32);

  // Too low for the message box: the bar only.
  EXPECT_FALSE(CBottomView::Measure({0, 0, 640, 46}, "x").hasMessageBox);
  EXPECT_TRUE(CBottomView::Measure({0, 0, 640, 47}, "x").hasMessageBox);
}

TEST(BottomViewLayoutTest, MessageLinesAndFonts) {
  // One line: a single band, all of it the right part.
  CBottomView::Layout g = CBottomView::Measure({0, 0, 640, 160}, "合計金額を入力して下さい");
  EXPECT_FALSE(g.twoLines);
  EXPECT_EQ(g.right2, "合計金額を入力して下さい");
  EXPECT_EQ(g.font2, 38);  // min(2c = 2 * 19, H - 8 = 106)

  // Two lines of a word, two spaces and an amount.
  g = CBottomView::Measure({0, 0, 640, 160}, "お預り  1,500\nお釣り    266");
  ASSERT_TRUE(g.twoLines);
  EXPECT_EQ(g.left1, "お預り");
  EXPECT_EQ(g.right1, "1,500");
  EXPECT_EQ(g.left2, "お釣り");
  EXPECT_EQ(g.right2, "266");
  EXPECT_EQ(g.font1, 35);  // (114 - 8) / 3
  EXPECT_EQ(g.font2, 38);  // 2c
  EXPECT_LT(g.font1, g.font2);
  EXPECT_LT(g.band1.bottom, g.band2.top);

  // A long line sets the character count: 40 bytes and a left part, plus 4.
  g = CBottomView::Measure({0, 0, 640, 160}, "1234567890  123456789012345678901234567890");
  EXPECT_EQ(g.columns, 44);
  EXPECT_EQ(g.columnWidth, 624 / 44);
}

TEST(BottomViewLayoutTest, Figures) {
  EXPECT_EQ(CBottomView::RoundSubtotal(1234, 2), 1230);
  EXPECT_EQ(CBottomView::RoundSubtotal(1237, 1), 1235);
  EXPECT_EQ(CBottomView::RoundSubtotal(1234, 0), 1234);
  EXPECT_EQ(CBottomView::RoundSubtotal(1234, 3), 1234);
  EXPECT_EQ(CBottomView::FormatFigure(3, 12), "３");
  EXPECT_EQ(CBottomView::FormatFigure(1234, 24), "１，２３４");
  // Too wide for full-width digits: half width, not stars.
  EXPECT_EQ(CBottomView::FormatFigure(2000000000, 24), "2,000,000,000");
  EXPECT_EQ(CBottomView::FormatFigure(1234567, 12), "1,234,567");
}

class BottomViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::ensureApplication();
    ui::WindowSpec windowSpec;
    windowSpec.className = "BottomHost";
    windowSpec.rect = {0, 0, 640, 160};
    host = ui::createWindow(windowSpec, [](HWND w, uint32_t m, WPARAM wp, LPARAM lp) {
      return ui::defaultWindowProc(w, m, wp, lp);
    });
    ASSERT_NE(host, nullptr);
    view = std::make_unique<CBottomView>();
    ASSERT_NE(view->create(host), nullptr);
    ui::processPendingMessages();
  }
  void TearDown() override {
    view.reset();
    if (ui::isWindow(host)) ui::destroyWindow(host);
    ui::processPendingMessages();
  }

  ui::Image grab(const std::string& name) {
    view->invalidate();
    ui::processPendingMessages();
    const std::string path = outputFolder() + "/" + name;
    EXPECT_TRUE(ui::grabWindowToPng(view->handle(), path));
    ui::Image image;
    EXPECT_TRUE(image.load(path)) << path;
    return image;
  }

  HWND host = nullptr;
  std::unique_ptr<CBottomView> view;
};

TEST_F(BottomViewTest, CoversItsParent) {
  const ui::Rect r = ui::windowRect(view->handle());
  EXPECT_EQ(r.width(), 640);
  EXPECT_EQ(r.height(), 160);
}

TEST_F(BottomViewTest, SaleOfThreeItems) {
  view->m_nItemCount = 3;
  view->m_nSubtotal = 1234;
  const ui::Image image = grab("bottom_sale.png");
  ASSERT_EQ(image.width(), 640);
  ASSERT_EQ(image.height(), 160);
  // The bar's frame: top at y 4, bottom edge at the bar's bottom (38; the
  // drawing context's outline takes the last pixel row or the one after);
  // the message box from y 42, with white between them.
  EXPECT_GT(darkPixels(image, {300, 4, 340, 5}), 30);
  EXPECT_GT(darkPixels(image, {300, 37, 340, 39}), 30);
  EXPECT_EQ(darkPixels(image, {300, 39, 340, 42}), 0);
  EXPECT_GT(darkPixels(image, {300, 42, 340, 43}), 30);
  // The separator lines of the bar: x 92, the double line at 187 and 189, x 252.
  for (int x : {92, 187, 189, 252}) EXPECT_GT(darkPixels(image, {x, 10, x + 1, 30}), 15) << "x " << x;
  EXPECT_EQ(darkPixels(image, {188, 10, 189, 30}), 0);
  // Texts: the label, the count before the double line, the subtotal at the right.
  EXPECT_GT(darkPixels(image, {8, 8, 88, 34}), 20);
  EXPECT_GT(darkPixels(image, {150, 8, 186, 34}), 10);
  EXPECT_GT(darkPixels(image, {520, 8, 632, 34}), 40);
  // No message: the box is empty.
  EXPECT_EQ(darkPixels(image, {8, 46, 632, 152}), 0);
}

TEST_F(BottomViewTest, TwoLineMessage) {
  view->m_nItemCount = 3;
  view->m_nSubtotal = 1234;
  view->m_strMessage = "お預り  1,500\nお釣り    266";
  const ui::Image image = grab("bottom_two_lines.png");
  const CBottomView::Layout g = CBottomView::Measure({0, 0, 640, 160}, view->m_strMessage);
  // Words on the left, amounts on the right of both bands.
  for (const ui::Rect& band : {g.band1, g.band2}) {
    EXPECT_GT(darkPixels(image, {band.left, band.top, band.left + 100, band.bottom}), 20);
    EXPECT_EQ(darkPixels(image, {band.left + 200, band.top, band.right - 200, band.bottom}), 0);
    EXPECT_GT(darkPixels(image, {band.right - 120, band.top, band.right, band.bottom}), 20);
  }
}

TEST_F(BottomViewTest, KeepsTheHeightOfItsParentWhenClosed) {
  auto& profile = platform::Profile::of(platform::ProfileScope::User);
  ui::moveWindow(host, {0, 0, 640, 60});
  ui::processPendingMessages();
  ASSERT_TRUE(ui::destroyWindow(view->handle()));
  EXPECT_EQ(profile.getInt("Settings", CBottomView::kHeightKey, 0), 100);

  view = std::make_unique<CBottomView>();
  ASSERT_NE(view->create(host), nullptr);
  ui::moveWindow(host, {0, 0, 640, 180});
  ui::processPendingMessages();
  ASSERT_TRUE(ui::destroyWindow(view->handle()));
  EXPECT_EQ(profile.getInt("Settings", CBottomView::kHeightKey, 0), 180);
}

// The subtotal is shown rounded by the rounding field of the engine's
// settings record: with field 2, 1,234 shows as 1,230 does.
class BottomViewRoundingTest : public varnex_test::DemoProject {};

TEST_F(BottomViewRoundingTest, SubtotalFollowsTheSettingsRounding) {
  ASSERT_TRUE(open()) << boxes->lastText();
  ui::WindowSpec windowSpec;
  windowSpec.className = "BottomHost";
  windowSpec.rect = {0, 0, 640, 60};
  HWND host = ui::createWindow(windowSpec, [](HWND w, uint32_t m, WPARAM wp, LPARAM lp) {
    return ui::defaultWindowProc(w, m, wp, lp);
  });
  ASSERT_NE(host, nullptr);
  auto shot = [&](int32_t subtotal, varnex::reg::CRegCom* engineOrNull, const std::string& name) {
    CBottomView view;
    view.create(host);
    view.m_nItemCount = 3;
    view.m_nSubtotal = subtotal;
    view.m_pRegCom = engineOrNull;
    ui::processPendingMessages();
    const std::string path = outputFolder() + "/" + name;
    EXPECT_TRUE(ui::grabWindowToPng(view.handle(), path));
    ui::Image image;
    EXPECT_TRUE(image.load(path));
    return image;
  };
  uint8_t* settings = engine->Settings();
  const uint16_t word = varnex::reg::getU16(settings, varnex::reg::settings::kTaxWord);
  varnex::reg::putU16(settings, varnex::reg::settings::kTaxWord, static_cast<uint16_t>((word & ~0x30u) | 0x20u));
  const ui::Image rounded = shot(1234, engine.get(), "bottom_rounded_1234.png");
  const ui::Image plain = shot(1230, nullptr, "bottom_plain_1230.png");
  const ui::Image unrounded = shot(1234, nullptr, "bottom_plain_1234.png");
  int same = 0, differ = 0;
  for (int y = 0; y < plain.height(); ++y)
    for (int x = 0; x < plain.width(); ++x) {
      same += rounded.pixel(x, y) != plain.pixel(x, y);
      differ += unrounded.pixel(x, y) != plain.pixel(x, y);
    }
  EXPECT_EQ(same, 0);
  EXPECT_GT(differ, 0);
  ui::destroyWindow(host);
  ui::processPendingMessages();
}

}  // namespace
