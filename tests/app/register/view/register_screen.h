// A registration screen for the register's tests: the application object
// on a running engine, a frame with the totals pane and the register view of
// a view mode, and the keys a clerk presses, as real key events through the
// input filter or as touch keys.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/register/engine/reg_com.h"
#include "app/register/view/reg_view.h"
#include "app/shell/app/reg_app.h"
#include "app/shell/frames/bottom_view.h"
#include "platform/base/profile.h"
#include "platform/ui/desktop.h"
#include "platform/ui/frame.h"
#include "platform/ui/input.h"
#include "platform/ui/window.h"

namespace varnex_test {

class RegisterScreen {
 public:
  using Line = std::vector<uint8_t>;

  explicit RegisterScreen(varnex::reg::CRegCom* engine, int32_t viewMode = 7) : engine_(engine) {
    namespace ui = platform::ui;
    app = std::make_unique<varnex::shell::CREGApp>();
    app->m_pRegCom = engine;
    app->SetPrintEngine(engine);
    app->LoadReceiptSettings();
    app->LoadPrinterSettings();
    frame = std::make_unique<ui::Frame>("RegFrame", "登録１", ui::Rect{0, 0, 800, 600});
    frame->setMenu(varnex::reg::kIdleMenu);
    auto made = std::make_unique<varnex::reg::CRegView>(engine, app.get(), viewMode);
    varnex::reg::CRegView::Host host;
    host.setMenus = [this](int32_t id) { frame->setMenu(id); };
    made->SetHost(std::move(host));
    view = static_cast<varnex::reg::CRegView*>(frame->setView(std::move(made)));
    static_cast<ui::View*>(view)->onInitialUpdate();
    HWND pane = frame->addPane(0xE801, ui::DockSide::Bottom, 150);
    bottom = std::make_unique<varnex::shell::CBottomView>();
    bottom->m_pRegCom = engine;
    bottom->create(pane);
    view->SetBottomView(bottom.get());
    ui::showWindow(frame->handle(), true);
    ui::processPendingMessages();
    view->setFocus();
  }
  ~RegisterScreen() {
    frame.reset();
    app.reset();
    platform::ui::processPendingMessages();
  }

  // A key typed on the keyboard, through the input filter.
  void press(uint32_t virtualKey) {
    ASSERT_TRUE(platform::ui::sendKeyInput(view->handle(), virtualKey, true, false, false, false));
    ASSERT_TRUE(platform::ui::sendKeyInput(view->handle(), virtualKey, false, false, false, false));
  }
  void type(const std::string& digits) {
    for (char c : digits) press(static_cast<uint32_t>(c));
  }
  // A code read by the barcode scanner: its digits and Enter.
  void scan(const std::string& code) {
    type(code);
    press(platform::ui::kVkReturn);
  }
  // A touch key of the key panel.
  LRESULT panel(uint16_t type, uint16_t code) {
    const std::string text = std::to_string(code);
    return platform::ui::sendMessage(view->handle(), varnex::reg::WM_REG_PANELKEY, type,
                                     reinterpret_cast<LPARAM>(text.c_str()));
  }
  LRESULT plu() { return panel(varnex::reg::kKeyFunction, varnex::reg::kFunctionPlu); }

  std::vector<Line> lines() {
    std::vector<Line> out;
    for (int32_t n = 0; n < view->Sale().LineCount(); ++n) {
      Line l(varnex::reg::line::kSize);
      EXPECT_TRUE(view->Sale().ReadLine(n, l.data()));
      out.push_back(l);
    }
    return out;
  }
  Line current() const {
    const uint8_t* c = view->Sale().CurrentLine();
    return Line(c, c + varnex::reg::line::kSize);
  }
  bool showsError(int32_t code) const {
    return view->PaneMessage().find(varnex::reg::RegErrorText(code)) != std::string::npos;
  }

  // The whole frame as a PNG in the folder of the tests' screenshots.
  bool grab(const std::string& name) {
    bottom->invalidate();
    view->invalidate();
    platform::ui::processPendingMessages();
    const std::filesystem::path folder = std::filesystem::path(VARNEX_TEST_OUTPUT_DIR) / "register";
    std::filesystem::create_directories(folder);
    return platform::ui::grabWindowToPng(frame->handle(), (folder / name).string());
  }

  std::unique_ptr<varnex::shell::CREGApp> app;
  std::unique_ptr<platform::ui::Frame> frame;
  std::unique_ptr<varnex::shell::CBottomView> bottom;
  varnex::reg::CRegView* view = nullptr;

 private:
  varnex::reg::CRegCom* engine_;
};

}  // namespace varnex_test
