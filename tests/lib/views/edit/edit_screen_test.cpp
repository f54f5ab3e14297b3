// An edit on the screen: inside a view of a shown window (offscreen), fed by
// real key, input-method and mouse events, painted and grabbed to a PNG.
#include <filesystem>

#include "edit_fixture.h"
#include "platform/ui/desktop.h"
#include "platform/ui/draw.h"
#include "platform/ui/paint.h"
#include "platform/ui/view.h"
#include "support/wait_until.h"
#include "zemta/winhelp.h"

namespace edit_test {
namespace {

std::string testOutput(const std::string& name) {
  std::filesystem::path folder = std::filesystem::path(VARNEX_TEST_OUTPUT_DIR) / "lib" / "views";
  std::filesystem::create_directories(folder);
  return (folder / name).string();
}

// A view that passes its window's messages to its edits, as the record views do.
class EditHostView : public ui::View {
 public:
  std::vector<EditHandle> edits;

  void onPaint(ui::DrawContext& dc) override {
    for (EditHandle e : edits) {
      EditCallBackProc(e, ui::kWmEraseBkgnd, 0, 0);
      EditCallBackProc(e, ui::kWmPaint, 0, 0);
    }
  }
  bool onKeyDown(uint32_t key, LPARAM flags) override { return pass(ui::kWmKeyDown, key, flags); }
  bool onKeyUp(uint32_t key, LPARAM flags) override { return pass(ui::kWmKeyUp, key, flags); }
  bool onChar(uint8_t c) override { return pass(ui::kWmChar, c, 1); }
  bool onMouse(uint32_t message, int32_t x, int32_t y, uint32_t keys) override {
    return pass(message, keys, static_cast<LPARAM>((x & 0xFFFF) | ((y & 0xFFFF) << 16)));
  }
  void onSetFocus() override { pass(ui::kWmSetFocus, 0, 0); }
  void onKillFocus() override { pass(ui::kWmKillFocus, 0, 0); }
  LRESULT onMessage(uint32_t message, WPARAM wParam, LPARAM lParam) override {
    if (message == ui::kWmHScroll || message == ui::kWmVScroll || message == ui::kWmMouseWheel) {
      pass(message, wParam, lParam);
      return 0;
    }
    return View::onMessage(message, wParam, lParam);
  }
  void onSize(int32_t width, int32_t height) override {
    pass(ui::kWmSize, 0, static_cast<LPARAM>((width & 0xFFFF) | ((height & 0xFFFF) << 16)));
  }

 private:
  bool pass(uint32_t message, WPARAM wParam, LPARAM lParam) {
    bool used = false;
    for (EditHandle e : edits) used |= EditCallBackProc(e, message, wParam, lParam) != 0;
    return used;
  }
};

class EditScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::ensureApplication();
    ui::setCaretBlinkTime(0);
    ui::WindowSpec shape;
    shape.className = "EditScreen";
    shape.title = "エディット";
    shape.rect = {40, 40, 40 + 680, 40 + 300};
    window_ = ui::createWindow(shape, ui::defaultWindowProc);
    ASSERT_NE(window_, nullptr);
    ASSERT_NE(view_.create(window_), nullptr);
    ui::moveWindow(view_.handle(), {0, 0, 680, 300});
    ui::bringToFront(window_);
    ui::processPendingMessages();
  }
  void TearDown() override {
    for (EditHandle e : view_.edits) EditDelete(e);
    view_.destroy();
    ui::destroyWindow(window_);
  }

  EditHandle add(uint32_t create, int32_t columns, int32_t rows, uint32_t input) {
    EditHandle e = EditCreate(create, 0, 0, columns, rows, columns, rows, view_.handle(), input);
    EXPECT_NE(e, nullptr);
    view_.edits.push_back(e);
    // A host that has the focus already hands it to a new edit.
    if (ui::focusWindow() == view_.handle()) EditCallBackProc(e, ui::kWmSetFocus, 0, 0);
    return e;
  }

  HWND window_ = nullptr;
  EditHostView view_;
};

TEST_F(EditScreenTest, KanjiCommittedByTheInputMethodAreStoredAsCodePage932) {
  EditHandle e = add(0, 10, 2, EDIT_INPUT_IME_FULLWIDTH);
  ASSERT_EQ(EditSetBuf(e, 10, 2, "", nullptr), 0);
  // The clerk clicks into the field: the view takes the focus, the edit the caret.
  ASSERT_TRUE(ui::sendMouseInput(view_.handle(), ui::kWmLButtonDown, 2, 2, ui::kMkLButton));
  ASSERT_TRUE(ui::sendMouseInput(view_.handle(), ui::kWmLButtonUp, 2, 2, 0));
  ASSERT_TRUE(testing_support::waitUntil([&] {
    ui::processPendingMessages();
    return e->hasFocus;
  }));
  // The edit opened the input method and told it where the caret is.
  ui::ImeState ime;
  ASSERT_TRUE(ui::imeState(view_.handle(), ime));
  EXPECT_TRUE(ime.open);
  ui::Rect caret;
  ASSERT_TRUE(ui::imeCompositionWindow(view_.handle(), caret));
  EXPECT_EQ(caret.left, 0);

  ASSERT_TRUE(ui::sendImeCommit(view_.handle(), "売上伝票ｶﾅ"));
  std::string text(20, '\0');
  EditGetBuf(e, text.data(), nullptr);
  EXPECT_EQ(text.substr(0, 10), "売上伝票ｶﾅ");
  EXPECT_EQ(e->caretColumn, 0);
  EXPECT_EQ(e->caretRow, 1);  // past the row end to the next row
  ASSERT_TRUE(ui::imeCompositionWindow(view_.handle(), caret));
  EXPECT_EQ(caret.top, e->ch);

  // Nine cells left on a row: the fifth kanji does not fit and flows on whole.
  ASSERT_TRUE(ui::sendImeCommit(view_.handle(), "a漢字漢字漢"));
  EditGetBuf(e, text.data(), nullptr);
  EXPECT_EQ(text.substr(10), "a漢字漢字 ");
  for (int32_t r = 0; r < 2; ++r) EXPECT_NE(zemta::edit::byteKind(e, 9, r), 1) << r;  // no half character

  // Keys through the view: Backspace removes the blank, then a whole kanji.
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(ui::sendKeyInput(view_.handle(), ui::kVkBack, true, false, false, false));
    ASSERT_TRUE(ui::sendKeyInput(view_.handle(), ui::kVkBack, false, false, false, false));
  }
  EditGetBuf(e, text.data(), nullptr);
  EXPECT_EQ(text.substr(10), "a漢字漢   ");
}

TEST_F(EditScreenTest, AClosedInputMethodCommitsNothing) {
  EditHandle e = add(0, 10, 1, EDIT_INPUT_IME_ENFORCED);
  ASSERT_EQ(EditSetBuf(e, 10, 1, "", nullptr), 0);
  ui::setFocus(view_.handle());
  ui::processPendingMessages();
  EXPECT_FALSE(ui::sendImeCommit(view_.handle(), "漢"));
  EditDelete(e);
  view_.edits.clear();
}

TEST_F(EditScreenTest, ScrollBarsShowWhenAllowedAndTheirClicksScrollTheEdit) {
  // 120 x 40 cells do not fit the 680 x 300 view.
  std::string text(120 * 40, 'x');
  EditHandle plain = EditCreate(0, 0, 0, 10, 2, 120, 40, view_.handle(), 0);
  ASSERT_EQ(EditSetBuf(plain, 120, 40, text.c_str(), nullptr), 0);
  EXPECT_EQ(plain->horizontalBar, nullptr);  // not allowed
  EditDelete(plain);

  EditHandle e = EditCreate(EDIT_CREATE_HSCROLL | EDIT_CREATE_VSCROLL, 0, 0, 10, 2, 120, 40, view_.handle(), 0);
  view_.edits.push_back(e);
  ASSERT_EQ(EditSetBuf(e, 120, 40, text.c_str(), nullptr), 0);
  ASSERT_NE(e->horizontalBar, nullptr);
  ASSERT_NE(e->verticalBar, nullptr);
  EXPECT_EQ(ui::windowRect(e->verticalBar).width(), 16);
  EXPECT_EQ(e->sx, (680 - 16) / e->cw);

  // A click on the bar's right arrow asks the owner, which passes it on.
  const ui::Rect bar = ui::windowRect(e->horizontalBar);
  ASSERT_TRUE(ui::sendMouseInput(e->horizontalBar, ui::kWmLButtonDown, bar.width() - 4, 8, ui::kMkLButton));
  ASSERT_TRUE(ui::sendMouseInput(e->horizontalBar, ui::kWmLButtonUp, bar.width() - 4, 8, 0));
  EXPECT_EQ(e->fx, 1);
  ui::ScrollInfo info;
  ASSERT_TRUE(ui::scrollInfo(e->horizontalBar, info));
  EXPECT_EQ(info.position, 1);

  // The wheel scrolls by a row, but not with Ctrl held.
  const WPARAM down = static_cast<WPARAM>(static_cast<uint16_t>(-120)) << 16;
  EXPECT_EQ(EditCallBackProc(e, ui::kWmMouseWheel, down | ui::kMkControl, 0), 0);
  EXPECT_EQ(e->fy, 0);
  EXPECT_EQ(EditCallBackProc(e, ui::kWmMouseWheel, down, 0), 1);
  EXPECT_EQ(e->fy, 1);
}

TEST_F(EditScreenTest, MouseDragSelectsAndTheScreenShowsBoxesRuledLinesSelectionAndKanji) {
  EditHandle e = add(0, 40, 11, 0);
  ASSERT_EQ(EditSetViewGap(e, 4, 10), 0);  // room between rows for the wide frames
  const char* rows[] = {
      "  商品マスタ登録",
      "",
      "  コード    4901234567894",
      "  品名      特選和牛すき焼き用",
      "  単価            ￥3,980",
      "  区分      食品（軽減税率８％）",
      "",
      "  >   精肉                         合計",
      "  >   鮮魚",
      "  >   青果",
      "",
  };
  std::string all;
  for (const char* r : rows) all += std::string(r) + "\n";  // no row is full: each break ends one
  ASSERT_EQ(EditSetBuf(e, 40, 11, all.c_str(), nullptr), 0);
  // The title in white on black; the fields framed as the record views frame
  // them, with a column of arrow buttons and a plain rectangle.
  for (int32_t c = 2; c < 16; ++c) e->atr[e->index(c, 0)] = 0xE1;
  ASSERT_GE(EditSetAtrEx(e, 12, 2, 22, 4, 0x75000000u, -1), 0);
  ASSERT_GE(EditSetAtrEx(e, 2, 7, 2, 3, 0x71100000u, -1), 0);
  ASSERT_GE(EditSetAtrEx(e, 35, 7, 4, 1, EDIT_BOX_RECTANGLE, -1), 0);
  for (int32_t c = 35; c < 39; ++c) e->atr[e->index(c, 7)] = 0xE1;  // its frame takes the cells' white
  // A ruled-line frame around the group list.
  zemta::edit::EditMoveCaret(e, 0, 6, false);
  zemta::edit::EditMoveCaret(e, 34, 10, true);
  ASSERT_EQ(EditMakeLine(e, 0), 0);

  ui::setFocus(view_.handle());
  ui::processPendingMessages();
  // Drag over the name field with the mouse: the selection follows.
  const int32_t y = 3 * e->ch + e->ch / 2;
  ASSERT_TRUE(ui::sendMouseInput(view_.handle(), ui::kWmLButtonDown, 12 * e->cw + 2, y, ui::kMkLButton));
  ASSERT_TRUE(ui::sendMouseInput(view_.handle(), ui::kWmMouseMove, 20 * e->cw + 2, y, ui::kMkLButton));
  ASSERT_TRUE(ui::sendMouseInput(view_.handle(), ui::kWmLButtonUp, 20 * e->cw + 2, y, 0));
  ASSERT_EQ(EditIsSelect(e), 1);
  int32_t rect[4];
  ASSERT_EQ(EditGetSelRect(e, rect), 0);
  EXPECT_EQ(std::vector<int32_t>(rect, rect + 4), (std::vector<int32_t>{12, 3, 19, 3}));

  ui::invalidateWindow(view_.handle());
  ui::updateWindow(view_.handle());
  const std::string png = testOutput("edit_boxes_lines_selection.png");
  ASSERT_TRUE(ui::grabWindowToPng(window_, png));
  ui::Image shot;
  ASSERT_TRUE(shot.load(png));
  // The selected cells are drawn inverted: button-face text on black.
  EXPECT_EQ(shot.pixel(14 * e->cw + 1, 3 * e->ch + 1), 0u);
  // Unselected text cells have the button-face paper.
  EXPECT_EQ(shot.pixel(6 * e->cw, 9 * e->ch + 1) & 0xFF, 0xF0u);
  // The ruled line's top edge runs through the middle of row 6.
  EXPECT_EQ(shot.pixel(10 * e->cw, 6 * e->ch + e->ch / 2), 0u);
}

}  // namespace
}  // namespace edit_test
