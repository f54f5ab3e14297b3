// The function-key layout screen, driven by keys and clicks offscreen: keys
// captured from real key presses, saved into the layout table, the menu
// modes' accelerators built from them when the screen closes, and the
// duplicate rules of keys and touch positions.
#include <gtest/gtest.h>

#include "app/register/engine/key_codes.h"
#include "app/shell/modes/accelerators.h"
#include "app/shell/modes/prg_fkl_view.h"
#include "app/shell/modes/mode_shell.h"
#include "platform/base/message_box.h"
#include "support/scripted_message_box.h"

namespace varnex_test {
namespace {

namespace reg = varnex::reg;

class FklViewTest : public ModeShellTest {
 protected:
  void SetUp() override {
    ModeShellTest::SetUp();
    ASSERT_TRUE(startShell());
    signOn();
    // The setup menu, item 1: the layout screen.
    press(0x73);
    press('1');
    press(0x0D);
    ASSERT_EQ(countFrames(101), 1);
    view = dynamic_cast<shell::CPrgFklView*>(modeFrame(101)->activeView());
    ASSERT_NE(view, nullptr);
  }
  HWND control(int32_t id) { return view->Control(id); }
  std::vector<uint8_t> layoutOf(uint16_t function) {
    std::vector<uint8_t> r(8, 0);
    EXPECT_GE(app->m_pRegCom->FindKeyByCode(function, r.data()), 0);
    return r;
  }
  // F8, the code typed, OK: the function is shown.
  void showCode(const std::string& code) {
    press(0x77);
    ui::setWindowText(control(shell::IDC_FKL_CODE), "");
    type(code, control(shell::IDC_FKL_CODE));
    ui::clickButton(control(shell::IDC_FKL_OK));
    ui::processPendingMessages();
  }
  // The capture button, then the keys pressed into the capture dialog.
  void capture(uint32_t vk, bool shift, bool ctrl, bool alt = false) {
    WhileModal driver("キーの入力", [&](HWND dialog) {
      // A modifier alone keeps the dialog waiting.
      ui::sendKeyInput(dialog, 0x10, true, true, false, false);
      ui::processPendingMessages();
      EXPECT_TRUE(ui::isWindowVisible(dialog));
      ui::sendKeyInput(dialog, vk, true, shift, ctrl, alt);
      ui::sendKeyInput(dialog, vk, false, shift, ctrl, alt);
    });
    ui::clickButton(control(shell::IDC_FKL_CAPTURE));
    ui::processPendingMessages();
    EXPECT_TRUE(driver.done());
  }
  shell::CPrgFklView* view = nullptr;
};

// A key captured by pressing it, saved, and the menu modes' accelerator.
TEST_F(FklViewTest, CaptureAndSave) {
  // F3 three times: 取引３キー, codes from 50.
  for (int i = 0; i < 3; ++i) press(0x72);
  EXPECT_EQ(view->ListedType(), 3);
  EXPECT_EQ(ui::reportCell(control(shell::IDC_FKL_LIST), 0, 0), "    50");
  showCode("62");
  EXPECT_EQ(ui::reportCell(control(shell::IDC_FKL_LIST), ui::listSelection(control(shell::IDC_FKL_LIST)), 1), "小計");
  EXPECT_FALSE(view->Modified());

  capture(0x71, true, true);  // Ctrl+Shift+F2
  EXPECT_EQ(ui::windowText(control(shell::IDC_FKL_KEY)), "VK_F2");
  EXPECT_EQ(ui::buttonState(control(shell::IDC_FKL_CTRL)), 1);
  EXPECT_EQ(ui::buttonState(control(shell::IDC_FKL_SHIFT)), 1);
  EXPECT_EQ(ui::buttonState(control(shell::IDC_FKL_ALT)), 0);
  EXPECT_TRUE(view->Modified());
  screenshot(frame().GetSafeHwnd(), "fkl_layout_screen");

  press(0x70);  // F1: save
  EXPECT_FALSE(view->Modified());
  EXPECT_EQ(reg::getU16(layoutOf(0x403E).data(), 4), 0xB071);
  const int row = ui::listSelection(control(shell::IDC_FKL_LIST));
  EXPECT_EQ(ui::reportCell(control(shell::IDC_FKL_LIST), row, 2), "Ctrl + Shift + VK_F2");

  // The same key on a second function (50, ↑) is refused, nothing written.
  showCode("50");
  capture(0x71, true, true);
  boxes->clear();
  press(0x70);
  EXPECT_EQ(boxes->lastText(), "キーが、取引３キーの小計（コード：62）と重複しています\n登録は失敗しました");
  EXPECT_EQ(reg::getU16(layoutOf(0x4032).data(), 4), 0);
  EXPECT_TRUE(view->Modified());

  // Closing asks (changes would be lost); OK closes and the menu modes'
  // accelerators are built again from the saved layout.
  boxes->answer(platform::kIdOk);
  ui::sendMessage(modeFrame(101)->handle(), ui::kWmClose, 0, 0);
  ui::processPendingMessages();
  EXPECT_EQ(boxes->lastText(), "閉じると変更が失われます。実行しますか？");
  EXPECT_EQ(countFrames(101), 0);
  shell::AccelEntry entries[shell::kAccelEntries];
  const int32_t n = shell::BuildFklAccelTable(app->m_pRegCom, entries, 0);
  int found = 0;
  for (int32_t i = 0; i < n; ++i)
    if (entries[i].command == 1162 && entries[i].key == 0x71 &&
        entries[i].flags == (shell::kFControl | shell::kFShift | shell::kFVirtKey))
      ++found;
  EXPECT_EQ(found, 1);
  // In the setup menu Ctrl+Shift+F2 now runs the highlighted item: item 1
  // opens the layout screen again.
  press(0x73);
  press('1');
  press(0x71, true, true, false);
  EXPECT_EQ(countFrames(101), 1);
}

// Leaving the code edit shows the function typed, as OK does, and leaves the
// focus where it went; a code with no row beeps and shows the current
// function's code again.
TEST_F(FklViewTest, LeavingTheCodeEditJumpsToTheCode) {
  for (int i = 0; i < 3; ++i) press(0x72);
  HWND list = control(shell::IDC_FKL_LIST);
  HWND code = control(shell::IDC_FKL_CODE);
  HWND position = control(shell::IDC_FKL_POSITION);
  ASSERT_EQ(ui::listSelection(list), 0);
  press(0x77);  // F8: into the code edit
  ASSERT_EQ(ui::focusWindow(), code);
  ui::setWindowText(code, "");
  type("62", code);
  ui::setFocus(position);
  ui::processPendingMessages();
  EXPECT_EQ(ui::reportCell(list, ui::listSelection(list), 1), "小計");
  EXPECT_EQ(ui::focusWindow(), position);
  EXPECT_FALSE(view->Modified());

  press(0x77);
  ui::setWindowText(code, "");
  type("9999", code);
  ui::setFocus(position);
  ui::processPendingMessages();
  EXPECT_EQ(ui::windowText(code), "62");
  EXPECT_EQ(ui::reportCell(list, ui::listSelection(list), 1), "小計");
  EXPECT_EQ(ui::focusWindow(), position);
}

TEST_F(FklViewTest, KeyTextsAndPositions) {
  for (int i = 0; i < 3; ++i) press(0x72);
  showCode("50");
  const uint16_t ownPosition = reg::getU16(layoutOf(0x4032).data(), 2);
  const uint16_t otherPosition = reg::getU16(layoutOf(0x4033).data(), 2);
  ASSERT_NE(ownPosition, 0);
  ASSERT_NE(otherPosition, 0);
  HWND key = control(shell::IDC_FKL_KEY);
  HWND position = control(shell::IDC_FKL_POSITION);

  // A one-character text is that character; a longer one that is no key
  // name is refused.
  ui::setWindowText(key, "q");
  ui::sendMessage(view->handle(), ui::kWmCommand, ui::makeWParam(shell::IDC_FKL_KEY, ui::kCbnEditChange),
                  reinterpret_cast<LPARAM>(key));
  press(0x70);
  EXPECT_EQ(reg::getU16(layoutOf(0x4032).data(), 4), 'q');
  ui::setWindowText(key, "qq");
  ui::sendMessage(view->handle(), ui::kWmCommand, ui::makeWParam(shell::IDC_FKL_KEY, ui::kCbnEditChange),
                  reinterpret_cast<LPARAM>(key));
  boxes->clear();
  press(0x70);
  EXPECT_EQ(boxes->lastText(), "キーの指定が不適切です\n登録は失敗しました");
  EXPECT_EQ(reg::getU16(layoutOf(0x4032).data(), 4), 'q');
  ui::setWindowText(key, "q");

  // Keeping its own position asks nothing; position 0 asks nothing.
  ui::setWindowText(position, std::to_string(ownPosition));
  ui::setWindowText(key, "w");
  ui::sendMessage(view->handle(), ui::kWmCommand, ui::makeWParam(shell::IDC_FKL_KEY, ui::kCbnEditChange),
                  reinterpret_cast<LPARAM>(key));
  boxes->clear();
  press(0x70);
  EXPECT_EQ(boxes->count(), 0u);
  EXPECT_EQ(reg::getU16(layoutOf(0x4032).data(), 4), 'w');

  // Another function's position: asked; Cancel keeps both, OK takes it over.
  for (int answer : {platform::kIdCancel, platform::kIdOk}) {
    ui::setWindowText(position, std::to_string(otherPosition));
    ui::sendMessage(view->handle(), ui::kWmCommand, ui::makeWParam(shell::IDC_FKL_POSITION, ui::kEnChange),
                    reinterpret_cast<LPARAM>(position));
    EXPECT_TRUE(view->Modified());
    boxes->clear();
    boxes->answer(answer);
    press(0x70);
    EXPECT_EQ(boxes->lastText(),
              "キーの位置が、取引３キーの↓（コード：51）と重複しています\n\n※保存すると、↓（コード：51）"
              "のキーの位置を消去します");
  }
  EXPECT_EQ(reg::getU16(layoutOf(0x4032).data(), 2), otherPosition);
  EXPECT_EQ(reg::getU16(layoutOf(0x4033).data(), 2), 0);
  EXPECT_FALSE(view->Modified());
}

}  // namespace
}  // namespace varnex_test
