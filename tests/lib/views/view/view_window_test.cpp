// The view window by key and mouse: a department form (name, price, number)
// over one record of the department table, its cells edited in place, Tab,
// Escape and the close question.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "department_views.h"
#include "lib/core/item_types.h"
#include "lib/views/edit/edit_object.h"
#include "lib/views/view/view_file_internal.h"
#include "lib/views/view/view_object.h"
#include "platform/base/message_box.h"
#include "platform/ui/desktop.h"
#include "platform/ui/draw.h"
#include "platform/ui/input.h"
#include "platform/ui/paint.h"
#include "platform/ui/window.h"
#include "support/scripted_message_box.h"
#include "support/wait_until.h"
#include "zemta/edit.h"
#include "zemta/filebuf.h"
#include "zemta/fileidx.h"
#include "zemta/view.h"

namespace {

namespace ui = platform::ui;
using testing_support::ScriptedMessageBox;
using namespace zemta::views;
using namespace view_test;

constexpr size_t kName = 0, kPrice = 1, kNumber = 2;

ViewFieldLayout field(uint16_t id, uint16_t column, uint16_t width, uint16_t type, uint16_t offset, uint16_t size,
                      uint16_t tab) {
  ViewFieldLayout f{};
  f.ids[0] = id;
  f.column = column;
  f.width = width;
  f.lines = 1;
  f.colour = EDIT_ATR_NORMAL;
  f.type = type;
  f.offset = offset;
  f.size = size;
  f.tabOrder = tab;
  return f;
}

class ViewWindowTest : public DepartmentViews {
 protected:
  void SetUp() override {
    DepartmentViews::SetUp();
    if (HasFatalFailure()) return;
    view_ = ViewCreate(0, "部門", window_, nullptr);
    ASSERT_NE(view_, 0u);
    ViewObject& v = view();
    v.project = project_;
    v.mainTable = kDepartments;
    v.recordCount = 10;
    v.currentRecord = v.topRecord = 3;
    EditHandle e = createItem(v, 0, 40, 1, 1, 1, 40, 1, 0, nullptr);
    ASSERT_NE(e, nullptr);
    ViewItem& item = v.items[0];
    item.fields = {field(1, 0, 20, 0, 2, 20, 1), field(2, 22, 8, 4, 24, 4, 2), field(3, 32, 4, 4, 0, 2, 3)};
    item.fields[kName].right = 2;
    item.fields[kPrice].left = 1;
    item.changed.assign(3, 0);
    for (const ViewFieldLayout& f : item.fields) ASSERT_GE(EditSetAtrEx(e, f.column, 0, f.width, 1, EDIT_BOX_SUNKEN, -1), 0);
    // The record-buffer set of the item: department 4 (record 3).
    int32_t fdb = kDepartments;
    item.slot = FileProjBufAdd(project_, 1, 1, &fdb);
    ASSERT_NE(item.slot, nullptr);
    ASSERT_GE(FileProjBufBind(project_, view_, v.window, kDepartments, 0), 0);
    ASSERT_EQ(FileProjBufSetList(project_, view_, kDepartments, 3, nullptr), 0);
    item.slotRows = 1;
    item.table = kDepartments;
    showRecord();
  }
  void TearDown() override {
    if (viewOfHandle(view_)) ViewDelete(view_);
    DepartmentViews::TearDown();
  }

  ViewObject& view() { return *viewOfHandle(view_); }
  ViewItem& form() { return view().items[0]; }
  // The cells show the record of the set's row, as a view draws it (numbers
  // right-aligned).
  void showRecord() {
    ViewItem& item = form();
    const uint8_t* image = static_cast<const uint8_t*>(item.slot[0].image);
    ASSERT_NE(image, nullptr);
    for (const ViewFieldLayout& f : item.fields) {
      const std::string text = fieldText(f.type, f.detail, f.size, image + f.offset, f.width);
      ASSERT_TRUE(putCellText(zemta::edit::checked(item.edit), f, 0, text.c_str(), static_cast<int32_t>(text.size())));
    }
  }
  // A click in the middle of a field's first cell.
  void click(size_t fieldNo, uint32_t message = ui::kWmLButtonDown) {
    EditObject* e = zemta::edit::checked(form().edit);
    const ViewFieldLayout& f = form().fields[fieldNo];
    const int32_t x = (e->x + f.column) * e->cw + e->cw / 2, y = e->y * e->ch + e->ch / 2;
    ui::sendMouseInput(view().window, message, x, y);
    if (message == ui::kWmLButtonDown) ui::sendMouseInput(view().window, ui::kWmLButtonUp, x, y);
  }
  std::string editText() {
    EditObject* e = zemta::edit::checked(view().items[view().edit.tempItemPlusOne - 1u].edit);
    std::string text(e->row(0), static_cast<size_t>(e->allocatedColumns));
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  }
  size_t editedField() { return view().edit.field; }

  ViewHandle view_ = 0;
};

TEST_F(ViewWindowTest, PriceEditedInItsCellAndSavedIsInTheTableAndItsIndex) {
  click(kPrice);
  ASSERT_EQ(ViewIsEdit(view_), 1);
  EXPECT_EQ(editedField(), kPrice);
  EXPECT_EQ(editText().find("100") != std::string::npos, true) << editText();
  for (int i = 0; i < 3; ++i) pressKey(view().window, ui::kVkBack);
  typeText(view().window, "250");
  EXPECT_EQ(ViewEditIsModify(view_), 1);
  EXPECT_TRUE(ui::grabWindowToPng(window_, outputFile("view_cell_edit.png")));
  pressKey(view().window, ui::kVkTab);  // written back; on to the number
  EXPECT_EQ(editedField(), kNumber);
  EXPECT_EQ(ViewIsModify(view_, 0), 1);
  ASSERT_EQ(ViewFileSave(view_, 0), 0);
  EXPECT_EQ(priceOf(3), 250u);
  EXPECT_EQ(ViewIsModify(view_, 0), 0);
  uint32_t key = 250;
  int32_t first = -1;
  EXPECT_EQ(FileIdxEqu(table_, 2, &first, &key), 1);
  EXPECT_EQ(first, 3);
  key = 100;
  EXPECT_EQ(FileIdxEqu(table_, 2, &first, &key), 1);  // department 5 keeps its 100
  EXPECT_EQ(first, 4);
}

// The price field's frame and what stands inside it, in the view window's
// pixels: the frame's edges and the cells within.
struct FieldShot {
  platform::ui::Image image;
  ui::Rect frame;  // the field's cells
  uint32_t at(int32_t x, int32_t y) const { return image.pixel(x, y); }
};

TEST_F(ViewWindowTest, ANumberIsTypedAtItsRightEndInsideItsFrame) {
  EditObject* item = zemta::edit::checked(form().edit);
  const ViewFieldLayout& f = form().fields[kPrice];
  auto shoot = [&](const std::string& name) {
    ui::updateWindow(view().window);
    FieldShot shot;
    EXPECT_TRUE(ui::grabWindowToPng(view().window, outputFile(name)));
    EXPECT_TRUE(shot.image.load(outputFile(name)));
    const int32_t left = (item->x + f.column) * item->cw, top = item->y * item->ch;
    shot.frame = {left, top, left + f.width * item->cw, top + item->ch};
    return shot;
  };
  const FieldShot closed = shoot("view_price_closed.png");
  click(kPrice);
  ASSERT_EQ(ViewIsEdit(view_), 1);
  EditObject* e = zemta::edit::checked(view().items[view().edit.tempItemPlusOne - 1u].edit);
  // After the last of its cells, where the digits come in; drawn inside the
  // field at its right edge.
  EXPECT_EQ(e->caretColumn, f.width);
  int32_t x = 0, y = 0;
  ASSERT_TRUE(ui::caretPos(x, y));
  EXPECT_GT(x, closed.frame.right - item->cw);
  EXPECT_LE(x + e->caretWidth, closed.frame.right);
  typeText(view().window, "5");
  EXPECT_EQ(editText(), "    1005");
  EXPECT_EQ(e->caretColumn, f.width);

  // The open edit draws the field's frame as the closed field shows it (but
  // where the caret stands on it).
  const FieldShot open = shoot("view_cell_edit_price.png");
  const ui::Rect& r = closed.frame;
  EXPECT_NE(closed.at(r.left + r.width() / 2, r.top), closed.at(r.left + r.width() / 2, r.top - 1));
  auto caretOn = [&](int32_t px, int32_t py) {
    return px >= x && px < x + e->caretWidth && py >= y && py < y + e->caretHeight;
  };
  for (int32_t px = r.left; px < r.right; ++px)
    for (int32_t py : {r.top, r.bottom - 1})
      if (!caretOn(px, py)) EXPECT_EQ(open.at(px, py), closed.at(px, py)) << "frame at " << px << ", " << py;
  for (int32_t py = r.top; py < r.bottom; ++py)
    for (int32_t px : {r.left, r.right - 1})
      if (!caretOn(px, py)) EXPECT_EQ(open.at(px, py), closed.at(px, py)) << "frame at " << px << ", " << py;
}

TEST_F(ViewWindowTest, EscapeShowsTheStoredValueAndKeepsTheEditOpen) {
  click(kPrice);
  ASSERT_EQ(ViewIsEdit(view_), 1);
  pressKey(view().window, ui::kVkBack);
  typeText(view().window, "7");
  EXPECT_EQ(editText().find("107") != std::string::npos, true) << editText();
  pressKey(view().window, ui::kVkEscape);
  EXPECT_EQ(ViewIsEdit(view_), 1);
  EXPECT_EQ(editedField(), kPrice);
  EXPECT_EQ(editText().find("100") != std::string::npos, true) << editText();
  EXPECT_EQ(ViewEditIsModify(view_), 0);
  EXPECT_EQ(ViewIsModify(view_, 1), 0);
}

// Shift held down, Tab, Shift let go: as the keyboard sends them.
void shiftTab(HWND window) {
  ui::sendKeyInput(window, ui::kVkShift, true, true, false, false);
  pressKey(window, ui::kVkTab, true);
  ui::sendKeyInput(window, ui::kVkShift, false, false, false, false);
}

TEST_F(ViewWindowTest, TabWrapsBothWaysAndArrowsFollowTheLayout) {
  click(kNumber);
  ASSERT_EQ(editedField(), kNumber);
  pressKey(view().window, ui::kVkTab);
  EXPECT_EQ(editedField(), kName);
  shiftTab(view().window);
  EXPECT_EQ(editedField(), kNumber);
  shiftTab(view().window);
  EXPECT_EQ(editedField(), kPrice);
  pressKey(view().window, ui::kVkTab);  // Shift let go: forward again
  EXPECT_EQ(editedField(), kNumber);
  shiftTab(view().window);
  // Left from the price leads to the name (its caret at the start first).
  pressKey(view().window, ui::kVkHome);
  pressKey(view().window, ui::kVkLeft);
  EXPECT_EQ(editedField(), kName);
}

TEST_F(ViewWindowTest, LeavingWithUnsavedChangesAsks) {
  EXPECT_EQ(ViewIsClose(view_), 1);  // nothing changed: no question
  click(kName);
  typeText(view().window, "A");
  ScriptedMessageBox boxes;
  boxes.answer(platform::kIdCancel);
  EXPECT_EQ(ViewIsClose(view_), 0);
  ASSERT_EQ(boxes.count(), 1u);
  EXPECT_EQ(boxes.lastText(), "閉じると変更が失われます。実行しますか？");
  EXPECT_EQ(boxes.shown().back().caption, "警告 - 部門");
  // The view window's own close asks under "警告"; Cancel keeps it.
  boxes.answer(platform::kIdCancel);
  EXPECT_NE(ui::sendMessage(view().window, ui::kWmClose, 0, 0), 0);
  ASSERT_NE(viewOfHandle(view_), nullptr);
  EXPECT_EQ(boxes.shown().back().caption, "警告");
  boxes.answer(platform::kIdOk);
  EXPECT_EQ(ViewIsClose(view_), 1);
  EXPECT_EQ(ViewIsClose(0), 1);
}

TEST_F(ViewWindowTest, RightClickGoesToTheCaller) {
  std::vector<std::pair<WPARAM, LPARAM>> clicks;
  ui::setWindowProc(window_, [&](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m == ui::kWmRButtonDown) clicks.emplace_back(wp, lp);
    return ui::defaultWindowProc(h, m, wp, lp);
  });
  ui::sendMouseInput(view().window, ui::kWmRButtonDown, 30, 12);
  ASSERT_TRUE(ui::pumpUntil([&] { return !clicks.empty(); }, testing_support::kPatienceMs));
  EXPECT_EQ(ui::lowWord(static_cast<uintptr_t>(clicks[0].second)), 30u);
  EXPECT_EQ(ui::highWord(static_cast<uintptr_t>(clicks[0].second)), 12u);
}

}  // namespace
