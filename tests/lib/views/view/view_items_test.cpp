// Record views: items, extents, scroll bars, scrolling by bar, position and
// wheel, virtual extents, item removal, attribute groups, item cells, and the
// view on the screen.
#include "lib/store/change_listener.h"
#include "lib/views/view/view_registry.h"
#include "support/wait_until.h"
#include "view_fixture.h"

namespace view_test {
namespace {

TEST_F(ViewTest, AnItemSmallerThanTheWindowNeedsNoScrollBars) {
  ViewHandle v = make();
  ASSERT_NE(item(v, 1, 1, 10, 3), nullptr);
  views::ViewObject& o = object(v);
  EXPECT_EQ(o.horizontalBar, nullptr);
  EXPECT_EQ(o.verticalBar, nullptr);
  EXPECT_EQ(o.originColumn, 1);
  EXPECT_EQ(o.originRow, 1);
  EXPECT_EQ(o.extentColumns, 10);
  EXPECT_EQ(o.extentRows, 3);
}

TEST_F(ViewTest, ALargeItemBringsBothBarsAndScrollsByPositionAndWheel) {
  ViewHandle v = make();
  EditHandle e = item(v, 0, 0, 120, 60);
  ASSERT_NE(e, nullptr);
  views::ViewObject& o = object(v);
  ASSERT_NE(o.horizontalBar, nullptr);
  ASSERT_NE(o.verticalBar, nullptr);
  const ui::Rect client = ui::clientRect(o.window);
  EXPECT_EQ(ui::windowRect(o.verticalBar).left, client.right - 16);
  EXPECT_EQ(ui::windowRect(o.verticalBar).bottom, client.bottom - 16);
  EXPECT_EQ(ui::windowRect(o.horizontalBar).right, client.right - 16);

  EXPECT_EQ(ViewSetScrollPos(v, 1, 5), 5);
  EXPECT_EQ(o.scrollY, 5 * 16);
  EXPECT_EQ(e->vpix, 5 * 16);  // the edit follows the view
  EXPECT_EQ(ViewGetScrollPos(o.window, 1), 5 * 16);
  EXPECT_EQ(ViewGetScrollBarCtrl(o.window, 1), o.verticalBar);
  EXPECT_EQ(ViewSetScrollPos(v, 1, 0x8000), -1);

  // A wheel turn towards the user scrolls one line on.
  ASSERT_TRUE(ui::sendWheelInput(o.window, -120));
  ASSERT_TRUE(ui::pumpUntil([&] { return o.scrollY == 6 * 16; }, 5000));
  // Near the end no empty space opens: the offset stops at the content's end.
  ViewSetScrollPos(v, 1, 0x7FFF);
  const int32_t area = client.height() - 16;
  EXPECT_LE(o.scrollY, 60 * e->ch - area + 16);
  EXPECT_GE(o.scrollY + area, 60 * e->ch - 16);
}

TEST_F(ViewTest, ClickingTheScrollBarArrowMovesTheViewOneUnit) {
  ViewHandle v = make();
  ASSERT_NE(item(v, 0, 0, 120, 60), nullptr);
  views::ViewObject& o = object(v);
  ui::updateWindow(o.window);
  const ui::Rect bar = ui::windowRect(o.horizontalBar);
  ASSERT_TRUE(ui::sendMouseInput(o.horizontalBar, ui::kWmLButtonDown, bar.width() - 4, 8, ui::kMkLButton));
  ASSERT_TRUE(ui::sendMouseInput(o.horizontalBar, ui::kWmLButtonUp, bar.width() - 4, 8, 0));
  ASSERT_TRUE(ui::pumpUntil([&] { return o.scrollX == 16; }, 5000));
}

TEST_F(ViewTest, VirtualScrollingKeepsPositionsBelow0x8000) {
  ViewHandle v = make();
  views::ViewObject& o = object(v);
  struct Case {
    int32_t count;
    uint16_t step;
  } cases[] = {{70000, 3}, {10, 1}, {32766, 1}, {32767, 2}};
  for (const Case& c : cases) {
    ASSERT_EQ(ViewSetScrollVirtual(v, 1, c.count), 0);
    EXPECT_EQ(o.stepY, c.step) << c.count;
    EXPECT_EQ(o.virtualRows, static_cast<uint32_t>(c.count) + 1);
  }
  o.style = views::kStyleAppendRow;
  ASSERT_EQ(ViewSetScrollVirtual(v, 1, 9), 0);
  EXPECT_EQ(o.virtualRows, 11u);
  ASSERT_EQ(ViewSetScrollVirtual(v, 0, 70000), 0);
  EXPECT_EQ(o.stepX, 3);
  EXPECT_EQ(o.virtualColumns, 70001u);
  EXPECT_EQ(ViewSetScrollVirtual(v, 1, -1), -1);
}

// A list of records shows as many rows as the window has room for, never
// more than the records left (and the append row) or the edit can hold.
TEST_F(ViewTest, AVirtualListShowsTheRowsThatFitTheWindowAndTheRecordsLeft) {
  ViewHandle v = make();
  views::ViewObject& o = object(v);
  o.style = views::kStyleAppendRow;
  EditHandle e = views::createItem(o, EDIT_CREATE_FOLLOW_HEIGHT, 40, 64, 0, 0, 40, 20, 0, nullptr);
  ASSERT_NE(e, nullptr);
  views::ViewItem& list = o.items[0];
  list.flags = views::kItemVirtualList;
  list.firstRecordRow = 1;
  list.fields = {field(1, 0, 1, 6), field(2, 7, 1, 20)};
  ASSERT_EQ(EditSetAtrEx(e, 0, 1, 6, 1, EDIT_BOX_RECTANGLE, -1), 0);
  ASSERT_EQ(EditSetAtrEx(e, 7, 1, 20, 1, EDIT_BOX_RECTANGLE, -1), 1);
  const int32_t rowHeight = zemta::edit::cellFontHeight();
  // Nothing is wider than the window: no horizontal bar takes a row.
  const int32_t fitting = ui::clientRect(o.window).height() / rowHeight - 1;
  struct Case {
    uint32_t records;
    int32_t top;
    int32_t rows;
  } cases[] = {
      {1000, 0, fitting},   // the window is the limit
      {5, 0, 6},            // five records and the append row
      {1000, 997, 4},       // three left and the append row
      {0, -1, 1},           // only the append row
  };
  for (const Case& c : cases) {
    o.recordCount = c.records;
    o.topRecord = c.top;
    ASSERT_EQ(ViewSetScrollVirtual(v, 1, static_cast<int32_t>(c.records)), 0);
    if (c.top >= 0 && o.verticalBar) o.topRecord = c.top;
    views::listAdjustRows(o);
    EXPECT_EQ(list.slotRows, c.rows) << c.records << " from " << c.top;
    EXPECT_EQ(e->boxes[1].height, std::max(c.rows, 1));
  }
}

TEST_F(ViewTest, RemovingAnItemBeforeTheCellEditRenumbersItWithoutEndingIt) {
  ViewHandle v = make();
  views::ViewObject& o = object(v);
  ASSERT_NE(item(v, 0, 0, 10, 2), nullptr);
  ASSERT_NE(item(v, 0, 3, 10, 2), nullptr);
  ASSERT_NE(item(v, 0, 6, 4, 1), nullptr);
  o.edit.tempItemPlusOne = 3;
  o.edit.item = 1;
  EditHandle editOfTemp = o.items[2].edit;
  ASSERT_EQ(views::deleteItem(o, 0, 0), 1);
  EXPECT_EQ(o.items.size(), 2u);
  EXPECT_EQ(o.edit.tempItemPlusOne, 2);
  EXPECT_EQ(o.edit.item, 0);
  EXPECT_EQ(o.items[1].edit, editOfTemp);
  // The origin follows what is left (the cell edit item does not count).
  EXPECT_EQ(o.originRow, 3);
  EXPECT_EQ(ViewGetEdit(v, 1), editOfTemp);
  box().clear();
  EXPECT_EQ(ViewGetEdit(v, 2), nullptr);
  EXPECT_EQ(box().lastText(), zemta::errorText(ZEMTA_ERR_BAD_PARAMETER));
  // Removing the edit item itself ends the edit.
  ASSERT_EQ(views::deleteItem(o, 1, 1), 1);
  EXPECT_EQ(o.edit.tempItemPlusOne, 0);
}

// Records changed under a view drop only the cell edit in progress; the
// view's own items stay.
TEST_F(ViewTest, ChangedRecordsDropOnlyThePendingCellEdit) {
  ViewHandle v = make();
  views::ViewObject& o = object(v);
  ASSERT_NE(item(v, 0, 0, 20, 2), nullptr);
  ASSERT_NE(item(v, 0, 3, 20, 2), nullptr);
  views::registerView(v, 0);
  zemta::store::tellBufferSetChanged(v);
  EXPECT_EQ(o.items.size(), 2u);
  // With a cell edit open (the last item), that item goes.
  ASSERT_NE(item(v, 2, 0, 6, 1), nullptr);
  o.edit.tempItemPlusOne = 3;
  views::setEditItem(v, 3);
  zemta::store::tellBufferSetChanged(v);
  EXPECT_EQ(o.items.size(), 2u);
  EXPECT_EQ(o.edit.tempItemPlusOne, 0);
  EXPECT_EQ(views::editItem(v), 0);
  views::unregisterView(v);
}

TEST_F(ViewTest, AttributeGroupsColourAndLockEveryFieldWithTheKey) {
  ViewHandle v = make();
  views::ViewObject& o = object(v);
  EditHandle a = item(v, 0, 0, 20, 2);
  EditHandle b = item(v, 0, 3, 20, 2);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  o.items[0].fields = {field(7, 2, 0, 4), field(8, 10, 0, 6)};
  o.items[1].fields = {field(7, 0, 1, 3)};
  // One box per field, as the binding makes them.
  ASSERT_EQ(EditSetAtrEx(a, 2, 0, 4, 1, EDIT_BOX_SUNKEN, -1), 0);
  ASSERT_EQ(EditSetAtrEx(a, 10, 0, 6, 1, EDIT_BOX_SUNKEN, -1), 1);
  ASSERT_EQ(EditSetAtrEx(b, 0, 1, 3, 1, EDIT_BOX_SUNKEN, -1), 0);

  ASSERT_EQ(ViewSetItemAtrGrp(v, 7, EDIT_ATR_RED | EDIT_ATR_VISIBLE), 0);
  EXPECT_EQ(a->atr[a->index(2, 0)], EDIT_ATR_RED | EDIT_ATR_VISIBLE);
  EXPECT_EQ(a->atr[a->index(5, 0)], EDIT_ATR_RED | EDIT_ATR_VISIBLE);
  EXPECT_EQ(a->atr[a->index(10, 0)], EDIT_ATR_NORMAL);
  EXPECT_EQ(b->atr[b->index(0, 1)], EDIT_ATR_RED | EDIT_ATR_VISIBLE);

  ASSERT_EQ(ViewSetItemAtrExGrp(v, 7, EDIT_LOCK_INPUT, 1), 0);
  EXPECT_EQ(ViewGetItemAtrExGrp(v, 7) & 0xFF, static_cast<int32_t>(EDIT_LOCK_INPUT));
  EXPECT_EQ(a->lockAt(3, 0), EDIT_LOCK_INPUT);
  EXPECT_EQ(a->lockAt(10, 0), 0);
  EXPECT_EQ(b->lockAt(2, 1), EDIT_LOCK_INPUT);
  EXPECT_EQ(ViewGetItemAtrExGrp(v, 99), -1);

  ASSERT_EQ(ViewDeleteItemGrp(v, 7), 0);
  ASSERT_EQ(o.items[0].fields.size(), 1u);
  EXPECT_EQ(o.items[0].fields[0].ids[0], 8);
  EXPECT_EQ(a->boxes.size(), 1u);
  EXPECT_TRUE(o.items[1].fields.empty());
}

TEST_F(ViewTest, ItemCellsAreWrittenAsTheyAreOrAsTypedAndEditedWithinTheirRows) {
  ViewHandle v = make();
  views::ViewObject& o = object(v);
  EditHandle e = item(v, 0, 0, 30, 4);
  ASSERT_NE(e, nullptr);
  o.items[0].fields = {field(1, 0, 0, 8), field(2, 10, 0, 12, 3)};
  const uint32_t name = (0u << 16) | 1u;

  // Written as they are, cut at the width without halving a kanji.
  ASSERT_EQ(ViewItemUpdateData(v, name, "売上伝票売上伝票", 16, 1, 2), 0);
  EXPECT_EQ(rowText(e, 2).substr(10, 12), "売上伝票売上");
  ASSERT_EQ(ViewItemUpdateData(v, name, "部門ｺｰﾄﾞ", 8, 1, 0), 0);
  EXPECT_EQ(rowText(e, 0).substr(10, 12), "部門ｺｰﾄﾞ    ");
  // As typed: the same value changes nothing, a new one does.
  EXPECT_EQ(ViewItemUpdateData(v, name, "部門ｺｰﾄﾞ", 8, 0, 0), 0);
  EXPECT_EQ(ViewItemUpdateData(v, name, "部門名", 6, 0, 0), 1);
  EXPECT_EQ(rowText(e, 0).substr(10, 12), "部門名      ");

  box().clear();
  EXPECT_EQ(ViewItemUpdateData(v, (1u << 16) | 0u, "x", 1, 1, 0), -1);  // no item 1
  EXPECT_EQ(ViewItemUpdateData(v, 5u, "x", 1, 1, 0), -1);               // no column 5
  EXPECT_EQ(ViewItemUpdateData(v, name, nullptr, 0, 1, 0), -1);         // direct needs a text
  EXPECT_EQ(ViewItemEdit(v, name, 3), -1);                              // three rows: 0..2
  EXPECT_EQ(box().count(), 4u);
  EXPECT_EQ(box().lastText(), zemta::errorText(ZEMTA_ERR_BAD_PARAMETER));
  ASSERT_EQ(ViewItemEdit(v, name, 2), 0);  // a cell edit over the field, its caret on the row
  ASSERT_EQ(ViewIsEdit(v), 1);
  int32_t caret[2] = {};
  ASSERT_EQ(EditGetCaretPos(o.items[o.edit.tempItemPlusOne - 1u].edit, caret), 0);
  EXPECT_EQ(caret[0], 0);
  EXPECT_EQ(caret[1], 2);
  EXPECT_EQ(ViewItemUpdate(v, name, -1), 0);
  // Without a project no table field can be found.
  const uint16_t key[3] = {0, 4, 0};
  EXPECT_EQ(ViewItemGetID(v, 3, key), -1);
}

TEST_F(ViewTest, ATableOfCellsOnTheScreen) {
  ViewHandle v = make();
  views::ViewObject& o = object(v);
  ui::bringToFront(caller_);
  o.cellGap = 1;
  o.rowGap = 3;  // as views on tables have it
  EditHandle head = item(v, 0, 0, 40, 1);
  EditHandle body = item(v, 0, 1, 60, 30);
  ASSERT_NE(head, nullptr);
  ASSERT_NE(body, nullptr);
  o.items[0].fields = {field(1, 0, 0, 6), field(2, 7, 0, 20), field(3, 28, 0, 10)};
  o.items[1].fields = {field(4, 0, 0, 6, 30), field(5, 7, 0, 20, 30), field(6, 28, 0, 10, 30)};
  ASSERT_EQ(ViewItemUpdateData(v, 0, "ｺｰﾄﾞ", 4, 1, 0), 0);
  ASSERT_EQ(ViewItemUpdateData(v, 1, "部門名称", 8, 1, 0), 0);
  ASSERT_EQ(ViewItemUpdateData(v, 2, "単価", 4, 1, 0), 0);
  const char* names[] = {"野菜", "果物", "鮮魚", "精肉", "惣菜", "日配品", "冷凍食品", "菓子"};
  for (int32_t r = 0; r < 30; ++r) {
    const std::string code = std::to_string(100 + r);
    const std::string price = std::to_string(100 * (r + 1));
    ASSERT_EQ(ViewItemUpdateData(v, (1u << 16) | 0u, code.c_str(), static_cast<int32_t>(code.size()), 1, r), 0);
    const std::string n = names[r % 8];
    ASSERT_EQ(ViewItemUpdateData(v, (1u << 16) | 1u, n.c_str(), static_cast<int32_t>(n.size()), 1, r), 0);
    ASSERT_EQ(ViewItemUpdateData(v, (1u << 16) | 2u, price.c_str(), static_cast<int32_t>(price.size()), 1, r), 0);
  }
  for (EditHandle e : {head, body})
    for (int32_t f = 0; f < 3; ++f) {
      const views::ViewFieldLayout& l = o.items[e == head ? 0 : 1].fields[static_cast<size_t>(f)];
      ASSERT_GE(EditSetAtrEx(e, l.column, l.row, l.width, std::max<int32_t>(l.lines, 1),
                             e == head ? EDIT_BOX_BUTTON : EDIT_BOX_PER_ROW | EDIT_BOX_RECTANGLE, -1), 0);
    }
  ASSERT_NE(o.verticalBar, nullptr);
  ui::updateWindow(caller_);
  ui::processPendingMessages();
  ASSERT_TRUE(ui::grabWindowToPng(caller_, outputFile("table_of_cells.png")));
  ASSERT_EQ(ViewSetScrollPos(v, 1, 3), 3);
  ui::updateWindow(caller_);
  ui::processPendingMessages();
  ASSERT_TRUE(ui::grabWindowToPng(caller_, outputFile("table_of_cells_scrolled.png")));
}

}  // namespace
}  // namespace view_test
