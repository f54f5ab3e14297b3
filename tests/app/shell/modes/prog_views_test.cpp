// The programming files from the setup menu: each opens as a record view of
// the library in a frame of its own, and the frame's record commands move
// through its records.
#include <gtest/gtest.h>

#include "app/shell/modes/menu_views.h"
#include "app/shell/modes/mode_shell.h"
#include "zemta/view.h"

namespace varnex_test {
namespace {

class ProgramViewsTest : public ModeShellTest {
 protected:
  void SetUp() override {
    ModeShellTest::SetUp();
    ASSERT_TRUE(startShell()) << boxes->lastText();
    signOn();
    ui::processPendingMessages();
  }
  // The command's state as the frame of the department file gives it.
  bool enabled(uint32_t command) {
    ui::CommandState state;
    EXPECT_TRUE(modeFrame(103)->updateCommand(command, state)) << command;
    return state.enabled;
  }
};

TEST_F(ProgramViewsTest, DepartmentFileMoves) {
  press(0x73);  // the setup menu
  const size_t shown = boxes->count();
  press('3');
  press(ui::kVkReturn);
  EXPECT_EQ(boxes->count(), shown) << boxes->lastText();
  shell::CChildFrame* f = modeFrame(103);
  ASSERT_NE(f, nullptr);
  ASSERT_NE(f->m_hLibraryView, 0u);
  const ViewHandle view = static_cast<ViewHandle>(f->m_hLibraryView);
  EXPECT_EQ(f->title(), "部門");
  // The form opens on a new record after the last one.
  EXPECT_EQ(ViewIsRecMove(view, 5), 0);
  EXPECT_EQ(ViewIsRecMove(view, 3), 0);
  EXPECT_EQ(ViewIsRecMove(view, 1), 1);
  EXPECT_FALSE(enabled(shell::kCmdRecordAppend));
  EXPECT_FALSE(enabled(shell::kCmdRecordNext));
  EXPECT_TRUE(enabled(shell::kCmdRecordFirst));
  EXPECT_TRUE(enabled(shell::kCmdProgGoto));

  frame().Frame().runCommand(shell::kCmdRecordFirst);
  EXPECT_EQ(ViewIsRecMove(view, 2), 0);
  EXPECT_TRUE(enabled(shell::kCmdRecordNext));
  EXPECT_FALSE(enabled(shell::kCmdProgPrevPage));
  press(0x76);  // F7: next
  EXPECT_EQ(ViewIsRecMove(view, 2), 1);
  press(0x75);  // F6: previous
  EXPECT_EQ(ViewIsRecMove(view, 2), 0);
  frame().Frame().runCommand(shell::kCmdRecordLast);
  EXPECT_EQ(ViewIsRecMove(view, 3), 0);
  EXPECT_TRUE(enabled(shell::kCmdRecordAppend));
  idle();
  screenshot(frame().GetSafeHwnd(), "department_file");

  // Opening it again brings the same frame forward.
  press(0x73);
  press('3');
  press(ui::kVkReturn);
  EXPECT_EQ(countFrames(103), 1);
}

}  // namespace
}  // namespace varnex_test
