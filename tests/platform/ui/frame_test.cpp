#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include "platform/base/cp932.h"
#include "platform/ui/dialog.h"
#include "platform/ui/frame.h"
#include "tests/platform/ui/test_resources.h"
#include "tests/platform/ui/ui_fixture.h"

namespace ui = platform::ui;

namespace {

std::string cp(const char* utf8) {
  std::string out;
  EXPECT_TRUE(platform::utf8ToCp932(utf8, out));
  return out;
}

class FrameTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    std::string error;
    ASSERT_TRUE(ui::loadResourceText(kUiTestResources, &error)) << error;
  }
};

TEST_F(FrameTest, CommandEnableStateIsUpdatedAtIdle) {
  ui::Frame frame("MainFrame", cp("レジ"), {0, 0, 400, 300});
  ASSERT_TRUE(frame.setMenu(201));
  HWND button = frame.addToolButton(0x8001, cp("小計"));
  bool allowed = false;
  std::vector<uint32_t> ran;
  frame.onCommand([&](uint32_t c) { ran.push_back(c); return true; });
  frame.onUpdate([&](uint32_t c, ui::CommandState& s) {
    s.enabled = allowed;
    s.hasText = true;
    s.text = allowed ? cp("小計") : cp("小計（不可）");
  });
  ui::pumpUntil([] { return false; }, 50);  // the loop falls idle
  EXPECT_FALSE(frame.commandState(0x8001).enabled);
  EXPECT_FALSE(ui::isWindowEnabled(button));
  EXPECT_EQ(ui::windowText(button), cp("小計（不可）"));
  EXPECT_FALSE(frame.chooseMenuItem(0x8001));
  EXPECT_FALSE(frame.runCommand(0x8001));
  allowed = true;
  ui::pumpUntil([] { return false; }, 50);
  EXPECT_TRUE(ui::isWindowEnabled(button));
  EXPECT_TRUE(frame.chooseMenuItem(0x8001));
  ui::clickButton(button);
  EXPECT_EQ(ran, (std::vector<uint32_t>{0x8001, 0x8001}));
}

// Ctrl+F5 fires from an edit that has the focus and would take the key
// itself; Ctrl+Shift+F5 and plain F5 do not.
TEST_F(FrameTest, AcceleratorFiresWhateverControlHasTheFocus) {
  ui::Frame frame("MainFrame", cp("レジ"), {0, 0, 400, 300});
  ASSERT_TRUE(frame.setAccelerators(300));
  std::vector<uint32_t> ran;
  frame.onCommand([&](uint32_t c) { ran.push_back(c); return true; });
  ui::ControlTemplate edit;
  edit.kind = ui::ControlKind::Edit;
  edit.id = 5;
  edit.rect = {10, 10, 200, 30};
  HWND e = ui::createControl(frame.client(), edit);
  ui::setFocus(e);
  QWidget* focus = QApplication::focusWidget();
  ASSERT_NE(focus, nullptr);
  QTest::keyClick(focus, Qt::Key_F5, Qt::ControlModifier | Qt::ShiftModifier);
  QTest::keyClick(focus, Qt::Key_F5);
  QTest::keyClick(focus, Qt::Key_F5, Qt::ControlModifier);
  QTest::keyClick(focus, Qt::Key_A, Qt::ShiftModifier);
  ui::processPendingMessages();
  EXPECT_EQ(ran, (std::vector<uint32_t>{0x8001, 0x8002}));
  EXPECT_EQ(ui::windowText(e), "");  // the Shift+A went to the accelerator, not the edit
}

TEST_F(FrameTest, MenuAndAcceleratorsAreSwappedWhileTheFrameRuns) {
  ui::Frame frame("MainFrame", cp("レジ"), {0, 0, 400, 300});
  std::vector<uint32_t> ran;
  frame.onCommand([&](uint32_t c) { ran.push_back(c); return true; });
  ASSERT_TRUE(frame.setMenu(200));
  ASSERT_TRUE(frame.setAccelerators(300));
  EXPECT_EQ(frame.menuTitles(), std::vector<std::string>{cp("ファイル(&F)")});
  ASSERT_TRUE(frame.setMenu(201));
  ASSERT_TRUE(frame.setAccelerators(301));
  EXPECT_EQ(frame.menuTitles(), std::vector<std::string>{cp("登録(&R)")});
  EXPECT_FALSE(frame.chooseMenuItem(0xE101));
  EXPECT_FALSE(frame.setMenu(999));
  ui::setFocus(frame.client());
  QWidget* focus = QApplication::focusWidget();
  ASSERT_NE(focus, nullptr);
  QTest::keyClick(focus, Qt::Key_F5, Qt::ControlModifier);
  QTest::keyClick(focus, Qt::Key_F6);
  ui::processPendingMessages();
  EXPECT_EQ(ran, std::vector<uint32_t>{0x8003});
}

}  // namespace
