// Window-level services: a createWindow window painting itself, the caret,
// mouse messages and the mouse capture.
#include <QApplication>
#include <QImage>
#include <QTest>

#include <filesystem>
#include <tuple>

#include "platform/base/cp932.h"
#include "platform/ui/paint.h"
#include "tests/platform/ui/ui_fixture.h"

namespace ui = platform::ui;

namespace {

std::string cp(const char* utf8) {
  std::string out;
  EXPECT_TRUE(platform::utf8ToCp932(utf8, out));
  return out;
}


using WindowExtrasTest = UiTest;

int darkPixels(const ui::Image& image, const ui::Rect& r) {
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) {
      uint32_t c = image.pixel(x, y);
      n += ((c & 0xFF) + ((c >> 8) & 0xFF) + ((c >> 16) & 0xFF)) / 3 < 96;
    }
  return n;
}

ui::Image grabImage(HWND window, const std::string& name) {
  std::string path = (std::filesystem::temp_directory_path() / name).string();
  EXPECT_TRUE(ui::grabWindowToPng(window, path));
  ui::Image image;
  EXPECT_TRUE(image.load(path));
  std::filesystem::remove(path);
  return image;
}

TEST_F(WindowExtrasTest, CreatedWindowPaintsThroughItsHandlerAndShowsTheCaret) {
  ui::WindowSpec windowSpec;
  windowSpec.className = "TotalsPane";
  windowSpec.rect = {0, 0, 200, 80};
  HWND w = ui::createWindow(windowSpec, nullptr);
  int paints = 0;
  ASSERT_TRUE(ui::setPaintHandler(w, [&](HWND, ui::DrawContext& dc) {
    ++paints;
    dc.fillRect(ui::clientRect(w), 0xFFFFFF);
    dc.setFont(cp("IPAGothic"), 32, 700);
    dc.textOut(4, 4, cp("合計"));
  }));
  ui::Image image = grabImage(w, "ui_extras_paint.png");
  EXPECT_GT(paints, 0);
  EXPECT_GT(darkPixels(image, {4, 4, 70, 40}), 60);
  EXPECT_EQ(darkPixels(image, {150, 50, 190, 78}), 0);

  // The caret: hidden when made, drawn inverted once shown, nests hides.
  ui::setCaretBlinkTime(0);
  ASSERT_TRUE(ui::createCaret(w, 3, 20));
  ASSERT_TRUE(ui::setCaretPos(160, 50));
  EXPECT_FALSE(ui::isCaretShown());
  EXPECT_EQ(darkPixels(grabImage(w, "ui_extras_caret0.png"), {160, 50, 163, 70}), 0);
  ASSERT_TRUE(ui::showCaret(w));
  EXPECT_TRUE(ui::isCaretShown());
  EXPECT_EQ(darkPixels(grabImage(w, "ui_extras_caret1.png"), {160, 50, 163, 70}), 60);
  ui::hideCaret(w);
  ui::hideCaret(w);
  ui::showCaret(w);
  EXPECT_FALSE(ui::isCaretShown());
  EXPECT_FALSE(ui::showCaret(nullptr) && ui::showCaret(nullptr));  // no more shows than hides
  int32_t x = 0, y = 0;
  EXPECT_TRUE(ui::caretPos(x, y));
  EXPECT_EQ(x, 160);
  EXPECT_TRUE(ui::destroyCaret());
  EXPECT_EQ(ui::caretOwner(), nullptr);
  EXPECT_FALSE(ui::setCaretPos(1, 1));
  ui::setCaretBlinkTime(530);
  ui::destroyWindow(w);
  EXPECT_FALSE(ui::setPaintHandler(w, nullptr));
}

TEST_F(WindowExtrasTest, CaptureTakesTheMouseEventsOfOtherWindows) {
  std::vector<std::tuple<HWND, uint32_t, int32_t, int32_t>> got;
  auto proc = [&](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    if ((m >= ui::kWmMouseMove && m <= ui::kWmRButtonDblClk) || m == ui::kWmCaptureChanged)
      got.emplace_back(h, m, static_cast<int16_t>(lp & 0xFFFF), static_cast<int16_t>((lp >> 16) & 0xFFFF));
    return ui::defaultWindowProc(h, m, wp, lp);
  };
  ui::WindowSpec windowSpec;
  windowSpec.rect = {0, 0, 300, 200};
  HWND top = ui::createWindow(windowSpec, nullptr);
  windowSpec.parent = top;
  windowSpec.rect = {0, 0, 100, 100};
  HWND a = ui::createWindow(windowSpec, proc);
  windowSpec.rect = {150, 0, 250, 100};
  HWND b = ui::createWindow(windowSpec, proc);
  ASSERT_TRUE(ui::setMouseMessages(a, true));
  ASSERT_TRUE(ui::setMouseMessages(b, true));
  auto widgetOfB = [&]() -> QWidget* {
    for (QWidget* w : QApplication::allWidgets())
      if (w->property("platform.ui.handle").toULongLong() == reinterpret_cast<uintptr_t>(b)) return w;
    return nullptr;
  };
  QWidget* wb = widgetOfB();
  ASSERT_NE(wb, nullptr);
  QTest::mouseClick(wb, Qt::LeftButton, Qt::NoModifier, QPoint(10, 20));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], std::make_tuple(b, ui::kWmLButtonDown, 10, 20));
  got.clear();
  EXPECT_EQ(ui::setCapture(a), nullptr);
  EXPECT_EQ(ui::captureWindow(), a);
  QTest::mouseClick(wb, Qt::LeftButton, Qt::NoModifier, QPoint(10, 20));
  ASSERT_EQ(got.size(), 2u);
  // b's (10, 20) is a's (160, 20).
  EXPECT_EQ(got[0], std::make_tuple(a, ui::kWmLButtonDown, 160, 20));
  EXPECT_EQ(got[1], std::make_tuple(a, ui::kWmLButtonUp, 160, 20));
  got.clear();
  EXPECT_EQ(ui::setCapture(b), a);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(std::get<0>(got[0]), a);
  EXPECT_EQ(std::get<1>(got[0]), ui::kWmCaptureChanged);
  ui::releaseCapture();
  EXPECT_EQ(ui::captureWindow(), nullptr);
  ui::destroyWindow(top);
}

}  // namespace
