// The programming files' own commands: F9 prints the receipt message, F11
// orders a department's PLU items in the picker, and the general settings'
// files show the fields of their own screens.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "app/register/engine/key_codes.h"
#include "app/register/engine/records.h"
#include "app/register/engine/reg_com.h"
#include "app/register/view/reg_view.h"
#include "app/shell/frames/dpt_view.h"
#include "app/shell/modes/menu_views.h"
#include "lib/views/edit/edit_object.h"
#include "platform/base/message_box.h"
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

class ProgramCommandsTest : public SignedOnShellTest {
 protected:
  // The command's state as the frame of the department file gives it.
  bool enabled(uint32_t command, int32_t mode = 103) {
    ui::CommandState state;
    EXPECT_TRUE(modeFrame(mode)->updateCommand(command, state)) << command;
    return state.enabled;
  }
  // The programming file of the mode, opened from the setup menu: its record
  // view.
  ViewHandle openFile(int32_t mode) {
    if (mode >= 110) {
      // Past the menu's single digits: as its button does it.
      screens->OpenProgramView(mode);
      ui::processPendingMessages();
    } else {
      press(0x73);  // the setup menu, and the file's number in it
      type(std::to_string(mode - 100));
      press(ui::kVkReturn);
    }
    shell::CChildFrame* f = modeFrame(mode);
    EXPECT_NE(f, nullptr) << mode << " " << boxes->lastText();
    return f ? static_cast<ViewHandle>(f->m_hLibraryView) : 0;
  }
  // The cell of a table's field in the view, -1 when the form has none.
  int32_t cellOf(ViewHandle view, const char* table, const char* field) {
    FileProjTypeInfo info{};
    const int32_t id = FileProjGetType(app->m_pRegCom->Project(), 0, table, 0, field, &info, nullptr, 1);
    EXPECT_NE(id, 0) << field;
    const uint16_t key[4] = {info.offset, info.size, info.fieldWord, info.typeCode};
    return ViewItemGetID(view, id, key);
  }
  // The library's view window in the mode's frame.
  HWND viewWindow(ViewHandle view) {
    ViewSetFocus(view);
    return ui::focusWindow();
  }
  std::string cellText(ViewHandle view, int32_t cell, int32_t row) {
    char text[256] = {};
    EXPECT_GE(ViewItemGetText(view, static_cast<uint32_t>(cell), text, sizeof text, row), 0);
    std::string t = text;
    t.erase(t.find_last_not_of(' ') + 1);
    return t;
  }
};

// The four files of the general settings each show the fields of their own
// screen; the general file shows those the other three leave.
TEST_F(ProgramCommandsTest, SettingsFilesShowTheirOwnFields) {
  struct Case {
    int32_t mode;
    std::vector<const char*> shown, elsewhere;
  };
  const Case cases[] = {
      {102, {"ｽﾄｱｰ/ﾏｼﾝ№", "標準税率", "税率3", "決済サービス"}, {"ﾚｼｰﾄﾒｯｾｰｼﾞ", "２段値札の設定", "レポート種別1"}},
      {111, {"ﾚｼｰﾄﾒｯｾｰｼﾞ"}, {"ｽﾄｱｰ/ﾏｼﾝ№", "値札価格桁", "レポート種別8"}},
      {112, {"２段値札の設定", "値札1印字指定", "２段値札の設定2", "値札2印字指定", "値札価格桁"}, {"ﾚｼｰﾄﾒｯｾｰｼﾞ", "税率1"}},
      {113, {"レポート種別1", "レポート種別5", "レポート種別8"}, {"ﾚｼｰﾄﾒｯｾｰｼﾞ", "ｽﾄｱｰ/ﾏｼﾝ№"}},
  };
  for (const Case& c : cases) {
    const ViewHandle view = openFile(c.mode);
    ASSERT_NE(view, 0u) << c.mode;
    for (const char* field : c.shown) EXPECT_GE(cellOf(view, "全体設定", field), 0) << c.mode << " " << field;
    for (const char* field : c.elsewhere) EXPECT_LT(cellOf(view, "全体設定", field), 0) << c.mode << " " << field;
  }
  // The receipt message: its five lines of 46 characters one below the other.
  const ViewHandle message = static_cast<ViewHandle>(modeFrame(111)->m_hLibraryView);
  const int32_t cell = cellOf(message, "全体設定", "ﾚｼｰﾄﾒｯｾｰｼﾞ");
  EXPECT_EQ(cellText(message, cell, 0), "毎度ありがとうございます");
  EXPECT_EQ(cellText(message, cell, 2), "お待ちしております");
  EXPECT_EQ(cellText(message, cell, 4), "※印は軽減税率対象商品です");
  EXPECT_EQ(cellText(message, cell, -1), "毎度ありがとうございます");
  EXPECT_LT(ViewItemGetText(message, static_cast<uint32_t>(cell), nullptr, 10, 0), 0);
  EXPECT_LT(ViewItemGetText(message, static_cast<uint32_t>(cell), nullptr, 10, 5), 0);
  modeFrame(111)->activate();
  idle();
  screenshot(frame().GetSafeHwnd(), "receipt_message_file");
  modeFrame(102)->activate();
  idle();
  screenshot(frame().GetSafeHwnd(), "general_settings_file");
  modeFrame(112)->activate();
  idle();
  screenshot(frame().GetSafeHwnd(), "price_tag_file");
}

// F9 prints the receipt message of the settings; only the receipt message
// file has it. Refused at the question, nothing prints.
TEST_F(ProgramCommandsTest, ReceiptMessagePrintsWithF9) {
  ASSERT_NE(openFile(103), 0u);
  EXPECT_FALSE(enabled(shell::kCmdProgPrint));
  ASSERT_NE(openFile(111), 0u);
  EXPECT_TRUE(enabled(shell::kCmdProgPrint, 111));

  app->m_bReceiptOn = 0;  // printing off: the clerk is asked first
  boxes->answer(platform::kIdNo);
  const size_t shown = boxes->count();
  press(0x78);  // F9
  EXPECT_EQ(boxes->count(), shown + 1);
  EXPECT_EQ(boxes->lastText(), "印刷を行ってもよろしいですか?");
  EXPECT_TRUE(app->LastPrintFile().empty());

  app->m_bReceiptOn = 1;
  press(0x78);
  EXPECT_EQ(boxes->count(), shown + 1) << boxes->lastText();
  ASSERT_FALSE(app->LastPrintFile().empty());
  const std::string printed = testing_support::pdfText(app->LastPrintFile());
  for (const char8_t* line : {u8"毎度ありがとうございます", u8"お待ちしております", u8"※印は軽減税率対象商品です"})
    EXPECT_NE(printed.find(reinterpret_cast<const char*>(line)), std::string::npos) << printed;
  std::filesystem::copy_file(app->LastPrintFile(), testOutput("receipt_message_print.pdf"),
                             std::filesystem::copy_options::overwrite_existing);
}

// F11 in the department file opens the picker over the current department in
// display-order mode; while it is up, every programming command of the frame
// is disabled; when it closes, the frame's link to it is cleared.
TEST_F(ProgramCommandsTest, F11OpensTheOrderPickerOverTheDepartment) {
  const ViewHandle view = openFile(103);
  ASSERT_NE(view, 0u);
  shell::CChildFrame* f = modeFrame(103);
  idle();
  // The new record after the last offers nothing to order.
  EXPECT_FALSE(enabled(shell::kCmdProgPicker));
  ui::CommandState state;
  f->updateCommand(shell::kCmdProgPicker, state);
  EXPECT_TRUE(state.hasText);
  EXPECT_EQ(state.text, "F11:ＰＬＵ");
  frame().Frame().runCommand(shell::kCmdRecordFirst);
  ViewRecMove(view, 3);  // department 2, 精肉
  EXPECT_TRUE(enabled(shell::kCmdProgPicker));

  press(0x7A);  // F11
  shell::CDptFrm* picker = shell::CDptFrm::Current();
  ASSERT_NE(picker, nullptr);
  EXPECT_EQ(f->m_pDptFrame, picker);
  EXPECT_EQ(picker->OwningFrame(), f);
  EXPECT_EQ(picker->View()->Kind(), 2);
  EXPECT_EQ(picker->View()->PaneText(2).rfind("表示順: ", 0), 0u) << picker->View()->PaneText(2);
  EXPECT_EQ(ui::windowText(picker->handle()), "Varnex - PLU 表示順設定 - [精肉]");
  const uint32_t programCommands[] = {
      shell::kCmdProgSave,     shell::kCmdProgEdit,      shell::kCmdProgFilter,     shell::kCmdProgSaveNew,
      shell::kCmdProgList,     shell::kCmdProgPrevPage,  shell::kCmdProgNextPage,   shell::kCmdProgGoto,
      shell::kCmdProgPrint,    shell::kCmdProgClose,     shell::kCmdProgPicker,     shell::kCmdEditCut,
      shell::kCmdEditCopy,     shell::kCmdEditPaste,     shell::kCmdEditUndo,       shell::kCmdEditFind,
      shell::kCmdListSelect,   shell::kCmdRecordFirst,   shell::kCmdRecordPrevious, shell::kCmdRecordNext,
      shell::kCmdRecordLast,   shell::kCmdRecordAppend,
  };
  for (uint32_t c : programCommands) EXPECT_FALSE(enabled(c)) << c;
  for (uint32_t c : {shell::kCmdCsvExport, shell::kCmdCsvImport}) EXPECT_TRUE(enabled(c)) << c;
  ui::CommandState close;
  EXPECT_FALSE(f->updateCommand(shell::kCmdFrameClose, close));  // no rule: always enabled
  EXPECT_TRUE(f->handlesCommand(shell::kCmdFrameClose));
  // The record stays where it was while the picker is up.
  frame().Frame().runCommand(shell::kCmdRecordFirst);
  EXPECT_EQ(ViewIsRecMove(view, 2), 1);
  screenshotScreen("department_file_with_order_picker");

  picker->Close();
  ui::processPendingMessages();
  EXPECT_EQ(shell::CDptFrm::Current(), nullptr);
  EXPECT_EQ(f->m_pDptFrame, nullptr);
  EXPECT_TRUE(enabled(shell::kCmdProgPicker));
  EXPECT_TRUE(enabled(shell::kCmdRecordFirst));
  EXPECT_TRUE(enabled(shell::kCmdProgClose));
}

// The general settings' form is taller than its window: the view scrolls
// by the wheel, and Tab to a field below the window (Shift+Tab from the first
// goes round to the last) scrolls it into view; Tab on to the first scrolls
// back up.
TEST_F(ProgramCommandsTest, TallSettingsFormScrolls) {
  const ViewHandle view = openFile(102);
  ASSERT_NE(view, 0u);
  idle();
  const HWND window = viewWindow(view);
  ASSERT_NE(window, nullptr);
  ASSERT_NE(ViewGetScrollBarCtrl(window, 1), nullptr);
  EXPECT_EQ(ViewGetScrollPos(window, 1), 0);

  ASSERT_TRUE(ui::sendWheelInput(window, -120));
  ui::processPendingMessages();
  const int32_t notch = ViewGetScrollPos(window, 1);
  EXPECT_GT(notch, 0);
  ASSERT_TRUE(ui::sendWheelInput(window, 120));
  ui::processPendingMessages();
  EXPECT_EQ(ViewGetScrollPos(window, 1), 0);

  press(0x71);  // F2: 入力, on the first field
  ASSERT_EQ(ViewIsEdit(view), 1);
  // Shift held, then Tab: round to the last field, below the window.
  ui::sendKeyInput(window, ui::kVkShift, true, true, false, false);
  press(ui::kVkTab, true, false, false, window);
  ui::sendKeyInput(window, ui::kVkShift, false, false, false, false);
  ui::processPendingMessages();
  ASSERT_EQ(ViewIsEdit(view), 1);
  const int32_t bottom = ViewGetScrollPos(window, 1);
  EXPECT_GT(bottom, notch);
  // The last field's cell edit lies whole inside the window.
  const EditHandle last = ViewGetEdit(view, 1);
  ASSERT_NE(last, nullptr);
  const ui::Rect client = ui::clientRect(window);
  const ui::Rect cell = last->editRegion;
  EXPECT_GE(cell.top, 0);
  EXPECT_LE(cell.bottom, client.bottom - 16);
  idle();
  screenshot(frame().GetSafeHwnd(), "general_settings_scrolled");
  press(ui::kVkTab);  // round to the first field, above the window
  EXPECT_EQ(ViewGetScrollPos(window, 1), 0);
}

// On/off settings show " ＯＮ " or "ＯＦＦ" and are edited as a choice: the
// department's list selection is switched off by Space in its cell, saved,
// and F11 no longer offers its items; "0" chooses " ＯＮ " again.
TEST_F(ProgramCommandsTest, OnOffFieldsShowAndEditAsChoices) {
  const ViewHandle view = openFile(103);
  ASSERT_NE(view, 0u);
  frame().Frame().runCommand(shell::kCmdRecordFirst);  // department 1
  const int32_t listSelect = cellOf(view, "部門", "一覧選択");
  ASSERT_GE(listSelect, 0);
  FileDBHandle table = FileProjGetFdb(app->m_pRegCom->Project(), 5);
  std::vector<uint8_t> record(64, 0);
  ASSERT_GE(FileDBRecRead(table, 1, record.data()), 0);
  const std::vector<uint8_t> before = record;
  const size_t at = reg::department::kListSelect.offset;
  auto shown = [&](int32_t cell) {
    char text[64] = {};
    EXPECT_GE(ViewItemGetText(view, static_cast<uint32_t>(cell), text, sizeof text, -1), 0);
    return std::string(text);
  };
  EXPECT_EQ(shown(listSelect), " ＯＮ ");
  EXPECT_TRUE(enabled(shell::kCmdProgPicker));

  ASSERT_EQ(ViewItemEdit(view, static_cast<uint32_t>(listSelect), 0), 0);
  ASSERT_EQ(ViewIsEdit(view), 1);
  const HWND window = viewWindow(view);
  idle();
  screenshot(frame().GetSafeHwnd(), "department_list_select_edit");
  press(ui::kVkSpace, false, false, false, window);  // the next choice: ＯＦＦ
  press(ui::kVkReturn, false, false, false, window);
  EXPECT_EQ(shown(listSelect), "ＯＦＦ");
  // On to the price, blank for 0: saving takes it as the 0 it shows.
  EXPECT_TRUE(enabled(shell::kCmdProgSave));
  press(0x70);  // F1: 登録
  EXPECT_EQ(ViewIsModify(view, 1), 0) << boxes->lastText();
  ASSERT_GE(FileDBRecRead(table, 1, record.data()), 0);
  EXPECT_EQ(record[at] | record[at + 1] << 8, 0);
  EXPECT_FALSE(enabled(shell::kCmdProgPicker));

  ASSERT_EQ(ViewItemEdit(view, static_cast<uint32_t>(listSelect), 0), 0);
  press('0', false, false, false, window);  // choice 0: ＯＮ
  press(ui::kVkReturn, false, false, false, window);
  EXPECT_EQ(shown(listSelect), " ＯＮ ");
  press(0x70);
  ASSERT_GE(FileDBRecRead(table, 1, record.data()), 0);
  EXPECT_EQ(record, before);  // the flags around it kept their bits
  EXPECT_TRUE(enabled(shell::kCmdProgPicker));
}

TEST(ListSelectShown, ReadsTheCellAsTheFormShowsIt) {
  const struct {
    const char* text;
    bool on;
  } cases[] = {
      {" ＯＮ ", true}, {"ＯＦＦ", false}, {"ＯＮ", false}, {" ＯＮ", false},
      {"    1", false}, {"", false},     {"      ", false},
  };
  for (const auto& c : cases) EXPECT_EQ(shell::CChildFrame::ListSelectShown(c.text), c.on) << c.text;
}

}  // namespace
}  // namespace varnex_test
