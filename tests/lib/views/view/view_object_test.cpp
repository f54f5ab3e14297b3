// Record views: the table of live views, the hostings (caller's window, MDI
// child, top-level frame with its menu), the host's close and destroy, and
// the font height.
#include "platform/ui/dialog.h"
#include "platform/ui/frame.h"
#include "platform/ui/menu.h"
#include "platform/ui/resources.h"
#include "support/wait_until.h"
#include "view_fixture.h"

namespace view_test {
namespace {

TEST_F(ViewTest, TheThirtyThirdViewIsRefusedWithoutAReportAndAFreedSlotServesAgain) {
  std::vector<ViewHandle> made;
  for (int i = 0; i < 32; ++i) made.push_back(make());
  EXPECT_EQ(ViewCreate(0, "部門", caller_, nullptr), 0u);
  EXPECT_EQ(box().count(), 0u);
  ASSERT_EQ(ViewDelete(made[5]), 0);
  EXPECT_NE(ViewCreate(0, "部門", caller_, nullptr), 0u);
}

TEST_F(ViewTest, ViewsInOneWindowTakeTheFirstFreeChildIds) {
  ViewHandle a = make(), b = make();
  EXPECT_EQ(ui::controlId(object(a).window), 59648);
  EXPECT_EQ(ui::controlId(object(b).window), 59649);
  // The view window fills the caller's client area.
  EXPECT_EQ(ui::windowRect(object(a).window).width(), ui::clientRect(caller_).width());
  ASSERT_EQ(ViewDelete(a), 0);
  EXPECT_EQ(ui::controlId(object(make()).window), 59648);
}

TEST_F(ViewTest, BadHandlesAreReportedAndTheTitleIsCopiedAtMost255Characters) {
  ViewHandle v = make(0, std::string(300, 'x'));
  char title[400] = {};
  ASSERT_EQ(ViewGetTitle(v, title, sizeof title), 0);
  EXPECT_EQ(std::string(title), std::string(255, 'x'));
  char shortBuffer[4] = {'#', '#', '#', '#'};
  ASSERT_EQ(ViewGetTitle(v, shortBuffer, 3), 0);
  EXPECT_EQ(std::string(shortBuffer, 4), "xxx#");  // no terminator when it fills the buffer
  ASSERT_EQ(ViewDelete(v), 0);
  box().clear();
  EXPECT_EQ(ViewDelete(v), -1);
  EXPECT_EQ(ViewGetResStyle(v), -1);
  EXPECT_EQ(ViewGetTitle(0, title, 10), -1);
  ASSERT_EQ(box().count(), 3u);
  EXPECT_EQ(box().lastText(), zemta::errorText(ZEMTA_ERR_BAD_VIEW_HANDLE));
}

TEST_F(ViewTest, FontHeightFollowsPointsOrHalfSizeAndStaysWhileEditsExist) {
  struct Case {
    float size;
    int32_t mode;
    int32_t height;
  } cases[] = {{10.5f, 1, 16}, {9.0f, 1, 14}, {20.0f, 0, 20}, {0.2f, 0, 16}, {12.0f, 1, 18}};
  for (const Case& c : cases) EXPECT_EQ(ViewSetFontHeight(c.size, c.mode), c.height) << c.size << " " << c.mode;
  ASSERT_EQ(ViewSetFontHeight(10.5f, 1), 16);
  ViewHandle v = make();
  ASSERT_NE(item(v, 0, 0, 10, 2), nullptr);
  EXPECT_EQ(ViewSetFontHeight(9.0f, 1), 16);
  ASSERT_EQ(ViewDelete(v), 0);
  EXPECT_EQ(ViewSetFontHeight(10.5f, 1), 16);
}

TEST_F(ViewTest, ATopLevelFrameCarriesTheViewMenuAndItsCloseDeletesTheView) {
  ViewHandle v = ViewCreate(0, "部門ﾌｧｲﾙ", nullptr, nullptr);
  ASSERT_NE(v, 0u);
  HWND host = object(v).host;
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(ui::windowText(host), "部門ﾌｧｲﾙ");
  EXPECT_EQ(ui::parentWindow(ui::parentWindow(object(v).window)), host);
  EXPECT_EQ(object(v).menu, 20681);
  EXPECT_EQ(object(v).frame->menuTitles(), (std::vector<std::string>{"ﾌｧｲﾙ(&F)", "編集(&E)"}));
  ui::sendMessage(host, ui::kWmClose, 0, 0);
  ASSERT_TRUE(ui::pumpUntil([&] { return views::viewOfHandle(v) == nullptr; }, 5000));
  EXPECT_FALSE(ui::isWindow(host));
  box().clear();
  EXPECT_EQ(ViewDelete(v), -1);
  EXPECT_EQ(box().lastText(), zemta::errorText(ZEMTA_ERR_BAD_VIEW_HANDLE));
}

// The labels are what the user reads: "次頁" steps to the next record,
// "前頁" to the one before.
TEST_F(ViewTest, TheNextPageCommandGoesForwardAndThePreviousPageBack) {
  ViewHandle v = ViewCreate(0, "部門", nullptr, nullptr);
  ASSERT_NE(v, 0u);
  const std::vector<ui::PopupItem> edit = ui::popupItemsOf(20681, 1);
  auto textOf = [&](uint32_t command) {
    for (const ui::PopupItem& i : edit)
      if (i.command == command) return i.text;
    return std::string();
  };
  EXPECT_EQ(textOf(views::kCmdNextRecord), "次頁(&N)");
  EXPECT_EQ(textOf(views::kCmdPrevRecord), "前頁(&P)");
  views::ViewObject& o = object(v);
  // A view on ten records standing at the fifth.
  o.project = 1;
  o.recordCount = 10;
  o.currentRecord = 4;
  ASSERT_TRUE(o.frame->chooseMenuItem(views::kCmdNextRecord));
  EXPECT_EQ(o.currentRecord, 5);
  ASSERT_TRUE(o.frame->chooseMenuItem(views::kCmdPrevRecord));
  ASSERT_TRUE(o.frame->chooseMenuItem(views::kCmdPrevRecord));
  EXPECT_EQ(o.currentRecord, 3);
  o.project = 0;
}

TEST_F(ViewTest, AnMdiChildHostsTheViewAndClosingItDeletesTheView) {
  ui::Frame mdi("ViewTestMdi", "MDI", {20, 20, 20 + 700, 20 + 500}, ui::FrameKind::Mdi);
  ui::showWindow(mdi.handle(), true);
  ViewHandle v = ViewCreate(0, "PLU", nullptr, mdi.client());
  ASSERT_NE(v, 0u);
  HWND host = object(v).host;
  ui::ChildFrame* child = ui::ChildFrame::fromHandle(host);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->title(), "PLU");
  EXPECT_EQ(mdi.activeChild(), child);
  EXPECT_EQ(ui::windowClassName(object(v).window), views::kViewClass);
  ASSERT_TRUE(child->close());
  ASSERT_TRUE(ui::pumpUntil([&] { return views::viewOfHandle(v) == nullptr; }, 5000));
  EXPECT_TRUE(mdi.childFrames().empty());
  box().clear();
  EXPECT_EQ(ViewDelete(v), -1);
  EXPECT_EQ(box().count(), 1u);

  // Deleting the view takes its child frame with it.
  ViewHandle w = ViewCreate(0, "PLU", nullptr, mdi.client());
  ASSERT_NE(w, 0u);
  ASSERT_EQ(ViewDelete(w), 0);
  ASSERT_TRUE(ui::pumpUntil([&] { return mdi.childFrames().empty(); }, 5000));
}

TEST_F(ViewTest, TheRecordBarTakesTheBottomSixteenPixelsAndTheScrollBarStartsRightOfIt) {
  // The bar's own controls do not matter here: a plain strip serves when the
  // library's template is not there yet.
  if (!ui::findDialogTemplate(views::kRecordBarDialog)) {
    ASSERT_TRUE(ui::loadResourceText("DIALOG 20721 0 0 120 10 \"\"\nEDIT 21917 0 0 30 10\nEND\n"));
  }
  ViewHandle v = make(VIEW_CREATE_RECORD_BAR);
  views::ViewObject& o = object(v);
  ASSERT_NE(o.recordBar, nullptr);
  const ui::Rect client = ui::clientRect(o.window);
  const ui::Rect bar = ui::windowRect(o.recordBar);
  EXPECT_EQ(bar.top, client.bottom - 16);
  EXPECT_EQ(bar.bottom, client.bottom);
  EXPECT_EQ(bar.left, 0);
  EXPECT_GT(o.recordBarWidth, 0);
  // A small item needs no scrolling; the record bar brings the horizontal
  // bar all the same, beside it.
  ASSERT_NE(item(v, 0, 0, 10, 2), nullptr);
  ASSERT_NE(o.horizontalBar, nullptr);
  EXPECT_EQ(o.verticalBar, nullptr);
  EXPECT_EQ(ui::windowRect(o.horizontalBar).left, o.recordBarWidth);
  EXPECT_EQ(ui::windowRect(o.horizontalBar).top, client.bottom - 16);
}

}  // namespace
}  // namespace view_test
