// The shell with its real mode screens: the register started on the demo
// shop with the mode frames, the layout accelerators and the sign-on dialog
// hung on its hooks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/shell/frames/child_frame.h"
#include "app/shell/modes/mode_screens.h"
#include "app/shell/shell_fixture.h"
#include "platform/ui/desktop.h"
#include "platform/ui/dialog.h"
#include "platform/ui/input.h"
#include "zemta/filedb.h"
#include "support/while_modal.h"

namespace varnex_test {

using testing_support::WhileModal;

class ModeShellTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    screens = shell::InstallModeScreens(*app);
  }
  void TearDown() override {
    ShellTest::TearDown();
    screens.reset();
  }
  bool startShell() {
    if (!start()) return false;
    ui::killTimer(frame().GetSafeHwnd(), shell::kTimerIdle);
    return true;
  }
  // A key pressed and released where the focus is.
  void press(uint32_t vk, bool shift = false, bool ctrl = false, bool alt = false, HWND target = nullptr) {
    // The idle update the message loop runs between keys (commands enabled).
    frame().Frame().updateCommands();
    // Where the focus is: the active frame's view, else the main frame.
    if (!target) target = ui::focusWindow();
    if (!target && frame().Frame().activeView()) target = frame().Frame().activeView()->handle();
    if (!target) target = frame().GetSafeHwnd();
    if (!ui::focusWindow()) ui::setFocus(target);
    ui::sendKeyInput(target, vk, true, shift, ctrl, alt);
    ui::sendKeyInput(target, vk, false, shift, ctrl, alt);
    ui::processPendingMessages();
  }
  void type(const std::string& text, HWND target = nullptr) {
    for (char c : text) press(static_cast<uint32_t>(c), false, false, false, target);
  }
  shell::CChildFrame* modeFrame(int32_t mode) { return screens->FindModeFrame(mode, nullptr); }
  int countFrames(int32_t mode) {
    int n = 0;
    for (ui::ChildFrame* c : frame().Frame().childFrames())
      if (auto* f = dynamic_cast<shell::CChildFrame*>(c); f && f->ViewMode() == mode) ++n;
    return n;
  }
  shell::CChildFrame* activeModeFrame() { return dynamic_cast<shell::CChildFrame*>(frame().Frame().activeChild()); }

  // Clerk records through the running engine.
  void writeClerk(int32_t record, const char* name, uint16_t number, uint16_t pin, uint16_t forbidden = 0,
                  uint8_t confirm = 2, uint8_t programLevel = 2) {
    uint8_t r[48] = {};
    std::snprintf(reinterpret_cast<char*>(r), 17, "%s", name);
    varnex::reg::putU16(r, varnex::reg::clerk::kNumber.offset, number);
    varnex::reg::putU16(r, varnex::reg::clerk::kPin.offset, pin);
    r[varnex::reg::clerk::kConfirmLevel.offset] = confirm;
    r[varnex::reg::clerk::kProgramLevel.offset] = programLevel;
    varnex::reg::putU16(r, varnex::reg::clerk::kForbiddenModes, forbidden);
    ASSERT_EQ(FileDBRecWrite(app->m_pRegCom->Table(varnex::reg::kClerkTable), record, r), 0);
  }

  std::shared_ptr<shell::CModeScreens> screens;
};

// The shell started and a clerk signed on, as most screens are tested.
class SignedOnShellTest : public ModeShellTest {
 protected:
  void SetUp() override {
    ModeShellTest::SetUp();
    ASSERT_TRUE(startShell()) << boxes->lastText();
    signOn();
    ui::processPendingMessages();
  }
};

}  // namespace varnex_test
