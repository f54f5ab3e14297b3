// The programming files from the setup menu: each opens as a record view of
// the library in a frame of its own, and the frame's record commands move
// through its records.
#include <gtest/gtest.h>

#include <cstring>

#include "app/register/engine/key_codes.h"
#include "app/register/engine/records.h"
#include "app/register/engine/reg_com.h"
#include "app/register/view/reg_view.h"
#include "app/shell/modes/menu_views.h"
#include "platform/ui/desktop.h"
#include "platform/ui/paint.h"
#include "zemta/filedb.h"
#include "zemta/fileproj.h"
#include "app/shell/modes/mode_shell.h"
#include "zemta/view.h"
#include "support/pdf_tools.h"

namespace varnex_test {
namespace {

namespace reg = varnex::reg;

class ProgramViewsTest : public SignedOnShellTest {
 protected:
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

// The programming bar of the department file: its F11 button carries
// "F11:ＰＬＵ" whole, in the font of the other buttons or smaller.
TEST_F(ProgramViewsTest, DepartmentBarShowsF11Whole) {
  press(0x73);
  press('3');
  press(ui::kVkReturn);
  ASSERT_NE(modeFrame(103), nullptr);
  idle();
  HWND bar = frame().Frame().dialogBar();
  ASSERT_NE(bar, nullptr);
  HWND f11 = ui::dialogItem(bar, shell::ID_PROG_EXTRA);
  ASSERT_NE(f11, nullptr);
  EXPECT_TRUE(ui::isWindowVisible(f11));
  EXPECT_EQ(ui::windowText(f11), "F11:ＰＬＵ");
  EXPECT_LE(ui::textWidth(f11, ui::windowText(f11)), ui::textRoom(f11));
  // It stands clear of the buttons beside it.
  const ui::Rect r = ui::windowRect(f11);
  for (uint32_t id : {1405u, 1406u, 1410u}) {
    const ui::Rect o = ui::windowRect(ui::dialogItem(bar, static_cast<int32_t>(id)));
    EXPECT_TRUE(r.right <= o.left || o.right <= r.left || r.bottom <= o.top || o.bottom <= r.top) << id;
  }
  screenshot(frame().GetSafeHwnd(), "department_bar");
}

// A department's name and print name edited in kanji in their cells, saved
// with F1, are in the table; a sale of the department then prints the new name.
TEST_F(ProgramViewsTest, DepartmentNameEditedSavedAndPrinted) {
  press(0x73);
  press('3');
  press(ui::kVkReturn);
  shell::CChildFrame* f = modeFrame(103);
  ASSERT_NE(f, nullptr);
  const ViewHandle view = static_cast<ViewHandle>(f->m_hLibraryView);
  ASSERT_NE(view, 0u);
  frame().Frame().runCommand(shell::kCmdRecordFirst);  // department 1, 青果
  HWND window = nullptr;
  for (HWND child : ui::childWindows(f->activeView()->handle())) window = window ? window : child;
  ASSERT_NE(window, nullptr);
  press(0x71);  // F2: 入力, on the department's name
  ASSERT_EQ(ViewIsEdit(view), 1);
  // The kanji as the input method hands them over: one WM_CHAR a byte.
  auto retype = [&](const std::string& text) {
    press(0x24, false, false, false, window);  // Home
    for (int i = 0; i < 24; ++i) press(ui::kVkDelete, false, false, false, window);
    for (char c : text) ViewProc(view, ui::kWmChar, static_cast<uint8_t>(c), 1);
    press(ui::kVkReturn, false, false, false, window);  // on to the next field
  };
  retype("新鮮青果");
  retype("新鮮野菜");  // the print name
  ASSERT_EQ(ViewIsModify(view, 1), 1);
  press(0x70);  // F1: 登録
  EXPECT_EQ(ViewIsModify(view, 1), 0) << boxes->lastText();
  FileDBHandle table = FileProjGetFdb(app->m_pRegCom->Project(), 5);
  std::vector<uint8_t> record(64, 0);
  ASSERT_GE(FileDBRecRead(table, 1, record.data()), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.data()), 8), "新鮮青果");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.data()) + 24, 8), "新鮮野菜");
  idle();
  screenshot(frame().GetSafeHwnd(), "department_saved");

  ASSERT_EQ(app->OpenModeView(7, 0), 1);
  reg::CRegView* sale = modeFrame(7)->RegView();
  ASSERT_NE(sale, nullptr);
  type("500", sale->handle());
  const std::string code = "1";
  ui::sendMessage(sale->handle(), reg::WM_REG_PANELKEY, reg::kKeyDepartment, reinterpret_cast<LPARAM>(code.c_str()));
  type("1000", sale->handle());
  press(ui::kVkReturn, false, false, false, sale->handle());
  ASSERT_FALSE(sale->Sale().SaleOpen()) << sale->PaneMessage();
  ASSERT_FALSE(app->LastPrintFile().empty());
  const std::string receipt = testing_support::pdfText(app->LastPrintFile());
  EXPECT_NE(receipt.find(reinterpret_cast<const char*>(u8"新鮮野菜")), std::string::npos) << receipt;
}

}  // namespace
}  // namespace varnex_test
