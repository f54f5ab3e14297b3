// The shell's tests: the register's application object started on a copy of
// the demo shop in a fresh folder, with an empty profile section "Settings"
// and a scripted message box; mode frames of the tests' own stand in for the
// mode screens.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/register/engine/reg_com.h"
#include "app/register/engine/records.h"
#include "app/shell/app/reg_app.h"
#include "app/shell/frames/main_frame.h"
#include "platform/base/profile.h"
#include "platform/ui/frame.h"
#include "platform/ui/window.h"
#include "app/register/demo_project.h"
#include "support/temp_folder.h"

namespace varnex_test {

namespace shell = varnex::shell;
namespace ui = platform::ui;

inline platform::Profile& userProfile() { return platform::Profile::of(platform::ProfileScope::User); }
inline int64_t setting(const char* key, int64_t fallback = -999) {
  userProfile().reload();
  return userProfile().getInt("Settings", key, fallback);
}
inline void setSetting(const char* key, int64_t value) { userProfile().setInt("Settings", key, value); }
inline void setSetting(const char* key, const std::string& value) { userProfile().setString("Settings", key, value); }

inline std::string fileBytesOf(const fs::path& path) { return testing_support::fileBytes(path.string()); }

// Where tests leave their screenshots.
inline std::string testOutput(const std::string& name) {
  fs::path folder = fs::path(VARNEX_TEST_OUTPUT_DIR);
  fs::create_directories(folder);
  return (folder / name).string();
}

inline void screenshot(HWND window, const std::string& name) {
  ui::processPendingMessages();
  EXPECT_TRUE(ui::grabWindowToPng(window, testOutput(name + ".png"))) << name;
}

// The whole screen as the clerk sees it: every window at its place.
inline void screenshotScreen(const std::string& name) {
  ui::processPendingMessages();
  EXPECT_TRUE(ui::grabScreenToPng(testOutput(name + ".png"))) << name;
}

// A mode frame as the mode screens will make it: a child frame of the main
// frame with a mode number and the flags the main frame reads.
class TestModeFrame : public ui::ChildFrame, public shell::CModeFrameInfo {
 public:
  TestModeFrame(ui::Frame& main, int32_t mode, int32_t registerView = 0)
      : ui::ChildFrame(main, "mode " + std::to_string(mode)), mode_(mode), registerView_(registerView) {}
  int32_t ViewMode() const override { return mode_; }
  int32_t ModalDialogFlag() const override { return modal; }
  int32_t RegisterViewFlag() const override { return registerView_; }
  ui::Date FrameDate() const override { return date; }
  void SetFrameDate(const ui::Date& d) override { date = d; }
  int32_t RegisterListWidth() const override { return 300; }
  int32_t modal = 0;
  ui::Date date{2026, 12, 10};

 private:
  int32_t mode_;
  int32_t registerView_;
};

class ShellTest : public DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    userProfile().deleteSection("Settings");
    userProfile().reload();
    app = std::make_unique<shell::CREGApp>();
    app->m_strWorkFolder = folder.string();
    app->m_strProgramFolder = (folder / "program").string();
  }
  void TearDown() override {
    app.reset();
    ui::processPendingMessages();
    DemoProject::TearDown();
  }

  // Starts the register; the sign-on lock's message is delivered.
  bool start() {
    bool ok = app->InitInstance();
    ui::processPendingMessages();
    return ok;
  }
  shell::CMainFrame& frame() { return *app->m_pMainFrame; }
  // A manager signs on: the manager dialog's part, until it exists.
  void signOn() {
    uint8_t manager[48] = {};
    ASSERT_GE(app->m_pRegCom->GetClerkRecord(1, manager), 0);
    app->m_pRegCom->SetManager(manager);
    app->m_bManagerSelected = 1;
    ui::sendMessage(frame().GetSafeHwnd(), shell::WM_TENKEY_PAD, 0, 0);
  }
  // Runs the idle update (bar selection) and the rebuild it asks for.
  void idle() {
    for (int i = 0; i < 3; ++i) frame().SelectBar();
  }
  void tick(int n) {
    for (int i = 0; i < n; ++i) ui::sendMessage(frame().GetSafeHwnd(), ui::kWmTimer, shell::kTimerIdle, 0);
  }

  std::unique_ptr<shell::CREGApp> app;
};

}  // namespace varnex_test
