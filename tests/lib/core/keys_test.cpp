#include "zemta/keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/desktop.h"
#include "platform/ui/input.h"
#include "platform/ui/window.h"

namespace {

namespace ui = platform::ui;

constexpr uint32_t kVkF5 = 0x74;

// A real window offscreen with the focus; records the commands it receives.
class KeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::ensureApplication();
    ui::setCapsLock(false);
    ui::WindowSpec windowSpec;
    windowSpec.className = "KeysTestWindow";
    window_ = ui::createWindow(windowSpec, [this](HWND w, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
      if (m == ui::kWmCommand) commands_.push_back(wp);
      return ui::defaultWindowProc(w, m, wp, lp);
    });
    ASSERT_NE(window_, nullptr);
    ui::setFocus(window_);
  }
  void TearDown() override {
    ZemtaSetAccel(nullptr, nullptr, 0);
    ZemtaGetAccel(nullptr, nullptr);
    ZemtaSetKeyCapture(nullptr, 0);
    ui::setCapsLock(false);
    ui::destroyWindow(window_);
    ui::processPendingMessages();
  }
  void press(uint32_t vk, bool shift = false, bool ctrl = false) {
    ui::sendKeyInput(window_, vk, true, shift, ctrl, false);
    ui::sendKeyInput(window_, vk, false, shift, ctrl, false);
  }
  std::vector<WPARAM> delivered() {
    ui::processPendingMessages();
    return commands_;
  }

  HWND window_ = nullptr;
  std::vector<WPARAM> commands_;
};

// Every character of the key table comes back from its key with the Shift
// state the table asks for.
TEST_F(KeysTest, KeyTableRoundTrips) {
  const std::string chars = "abcxyzABCXYZ0123456789!\"#$%&'() -=^~@`[{;+:*]},<.>/?|_";
  for (char c : chars) {
    int32_t shift = -1;
    uint32_t vk = ZemtaCharToVKey(static_cast<unsigned char>(c), &shift);
    ASSERT_NE(vk, 0u) << c;
    if (shift) ui::sendKeyInput(window_, ui::kVkShift, true, true, false, false);
    EXPECT_EQ(ZemtaVKeyToChar(vk), static_cast<unsigned char>(c)) << c;
    if (shift) ui::sendKeyInput(window_, ui::kVkShift, false, false, false, false);
  }
  int32_t shift = 7;
  EXPECT_EQ(ZemtaCharToVKey(0x01, &shift), 0u);
  EXPECT_EQ(shift, 0);
  EXPECT_EQ(ZemtaCharToVKey('\\', nullptr), 0xDCu);  // the yen key comes before the backslash key
  EXPECT_EQ(ZemtaVKeyToChar(0x65), '5');               // numeric pad
  EXPECT_EQ(ZemtaVKeyToChar(kVkF5), 0);
  EXPECT_EQ(ZemtaVKeyToChar(0x1234), 0);
}

TEST_F(KeysTest, CapsLockInvertsLettersOnly) {
  ui::setCapsLock(true);
  EXPECT_EQ(ZemtaVKeyToChar('A'), 'A');
  EXPECT_EQ(ZemtaVKeyToChar('1'), '1');
  int32_t shift = -1;
  EXPECT_EQ(ZemtaCharToVKey('A', &shift), static_cast<uint32_t>('A'));
  EXPECT_EQ(shift, 0);
  EXPECT_EQ(ZemtaCharToVKey('a', &shift), static_cast<uint32_t>('A'));
  EXPECT_EQ(shift, 1);
  EXPECT_EQ(ZemtaCharToVKey('!', &shift), static_cast<uint32_t>('1'));
  EXPECT_EQ(shift, 1);
}

// Ctrl+F5 fires once for Ctrl+F5 only; its release is swallowed without a
// second command.
TEST_F(KeysTest, CtrlF5AcceleratorFiresForItsCombinationOnly) {
  const ZemtaKeyRecord table[] = {
      {ZEMTA_KEY_VALID | ZEMTA_KEY_CTRL, 0, kVkF5, 501},
      {ZEMTA_KEY_CTRL, 0, kVkF5, 502},  // not valid: never matches
  };
  ZemtaSetAccel(window_, table, 2);
  press(kVkF5, true, true);
  press(kVkF5);
  EXPECT_TRUE(delivered().empty());
  press(kVkF5, false, true);
  ASSERT_EQ(delivered().size(), 1u);
  EXPECT_EQ(commands_[0], ui::makeWParam(501, 1));
  ZemtaSetAccel(window_, table, 0);  // cleared
  press(kVkF5, false, true);
  EXPECT_EQ(delivered().size(), 1u);
}

TEST_F(KeysTest, CaptureOfTheNextCombinationFillsTheRecordOnPress) {
  ZemtaKeyRecord record{0, 0, 0, 777};
  ZemtaGetAccel(window_, &record);
  ui::sendKeyInput(window_, kVkF5, true, false, true, false);
  ui::sendKeyInput(window_, kVkF5, false, false, true, false);
  ui::sendKeyInput(window_, ui::kVkControl, false, false, false, false);
  EXPECT_EQ(record.flags, ZEMTA_KEY_VALID | ZEMTA_KEY_CTRL);
  EXPECT_EQ(record.virtualKey, kVkF5);
  EXPECT_EQ(delivered(), std::vector<WPARAM>{ui::makeWParam(777, 1)});
}

// A scanner typing into a 13-character buffer: the buffer keeps the latest
// characters, and the end key posts only once the buffer is full.
TEST_F(KeysTest, CaptureBufferKeepsTheLatestCharacters) {
  struct Case {
    const char* typed;
    const char* held;
    size_t commands;
  } cases[] = {
      {"12345678901234", "2345678901234", 1},
      {"123456789012", "123456789012", 0},
      {"4901234567894", "4901234567894", 1},
  };
  for (const auto& c : cases) {
    commands_.clear();
    char buffer[14];
    ZemtaKeyRecord record{0, 0, 0, 900};
    ZemtaGetAccel(window_, &record);
    ZemtaSetKeyCapture(buffer, 13);
    for (const char* p = c.typed; *p; ++p) press(static_cast<uint32_t>(*p));
    EXPECT_TRUE(delivered().empty()) << c.typed;
    press(ui::kVkReturn);
    EXPECT_STREQ(buffer, c.held);
    EXPECT_EQ(delivered().size(), c.commands) << c.typed;
    ZemtaGetAccel(nullptr, nullptr);
  }
}

TEST_F(KeysTest, HooksCountEveryEventAndWheelSwitchAnswersThePrevious) {
  uint32_t before = ZemtaGetCaptureCount();
  press('A');
  EXPECT_EQ(ZemtaGetCaptureCount(), before + 2);
  EXPECT_EQ(ZemtaGetCaptureCount(), g_nCaptureCount);
  EXPECT_EQ(ZemtaEnableCaptureHook(), 1);
  before = ZemtaGetCaptureCount();
  press('A');
  EXPECT_EQ(ZemtaGetCaptureCount(), before + 4);  // the thread hook and the counting hook
  EXPECT_EQ(ZemtaEnableMouseWheel(0, window_, 0), 1);
  EXPECT_EQ(ZemtaEnableMouseWheel(1, nullptr, 0), 0);
}

}  // namespace
