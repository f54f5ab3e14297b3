// The edit's cell model: the table of edits and the cell size, loading and
// reading content, typing into each kind of field, boxes, ruled lines and the
// clipboard. No display: the owner window stays hidden.
#include <cstring>

#include "edit_fixture.h"
#include "support/scripted_message_box.h"
#include "zemta/errors.h"
#include "zemta/tax.h"
#include "zemta/winhelp.h"

namespace edit_test {
namespace {

using zemta::edit::liveEdits;

std::string row(EditHandle e, int32_t r) { return std::string(e->row(r), static_cast<size_t>(e->ux)); }

TEST_F(EditFixture, CellHeightFollowsTheFontSizeOnlyWhileNoEditExists) {
  struct Case {
    float size;
    int32_t inPoints, height;
  };
  for (const Case& c : {Case{10.5f, 1, 16}, Case{12, 0, 12}, Case{13, 0, 14}, Case{0, 0, 16}})
    EXPECT_EQ(EditSetFontHeight(c.size, c.inPoints), c.height) << c.size;

  EditSetFontHeight(12, 0);
  EditHandle e = make(4, 1);
  EXPECT_EQ(e->ch, 12);
  EXPECT_EQ(e->cw, 6);
  EXPECT_EQ(EditSetFontHeight(20, 0), 12);  // an edit lives: unchanged
  EXPECT_TRUE(zemta::edit::sharedFontsExist());
  EditDelete(e);
  EXPECT_FALSE(zemta::edit::sharedFontsExist());  // the last edit takes the fonts with it

  EXPECT_EQ(EditSetFontHeight(16, 0), 16);
  e = make(4, 1);
  EXPECT_EQ(e->fonts[0].height, 16);
  EXPECT_TRUE(e->fonts[3].underline && e->fonts[3].strikeOut);
}

TEST_F(EditFixture, AtMost128EditsLiveAndTheSurvivorsKeepTheirOrder) {
  testing_support::ScriptedMessageBox boxes;
  const int32_t previous = ZemtaEnableLastErrorMessage(1);
  std::vector<EditHandle> made;
  for (int i = 0; i < 128; ++i) {
    made.push_back(EditCreate(0, 0, 0, 2, 1, 2, 1, owner_, 0));
    ASSERT_NE(made.back(), nullptr) << i;
  }
  EXPECT_EQ(EditCreate(0, 0, 0, 2, 1, 2, 1, owner_, 0), nullptr);
  EXPECT_EQ(boxes.count(), 0u);  // a full table is no error to report
  ZemtaEnableLastErrorMessage(previous);

  EXPECT_EQ(EditDelete(made[5]), 0);
  EXPECT_EQ(EditDelete(made[5]), -1);  // gone
  EXPECT_EQ(liveEdits()[5], made[6]);
  EXPECT_NE(EditCreate(0, 0, 0, 2, 1, 2, 1, owner_, 0), nullptr);
  EXPECT_EQ(liveEdits().back(), liveEdits()[127]);

  // A handle whose owner's low word changed no longer passes the check.
  made[7]->owner = reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(owner_) + 1);
  EXPECT_EQ(EditSetReadOnly(made[7], 1), -1);
  made[7]->owner = owner_;
  EXPECT_EQ(EditSetReadOnly(made[7], 1), 0);

  EXPECT_EQ(EditCreate(0, 0, 0, 0, 1, 2, 1, owner_, 0), nullptr);  // no visible columns
}

TEST_F(EditFixture, LoadingBreaksRowsAtLineEndsAndReadingJoinsThem) {
  EditHandle e = EditCreate(0, 0, 0, 3, 3, 3, 3, owner_, 0);
  ASSERT_NE(e, nullptr);
  ASSERT_EQ(EditSetBuf(e, 3, 3, "XXXYYYZZZ", nullptr), 0);
  ASSERT_EQ(EditSetBuf(e, 3, 3, "AB\nCD", nullptr), 0);
  EXPECT_EQ(content(e), "ABXCDYZZZ");  // each third cell, and row 2, kept

  ASSERT_EQ(EditSetBuf(e, 3, 3, "XXXYYYZZZ", nullptr), 0);
  ASSERT_EQ(EditSetBuf(e, 3, 3, "ABC\r\nDE", nullptr), 0);
  EXPECT_EQ(content(e), "ABCYYYDEZ");  // a break after a full row: an empty row

  const uint8_t atr[] = {0x11, 0x22, 0x33, 0, 0x44};
  ASSERT_EQ(EditSetBuf(e, 3, 1, "AB\nC", atr), 0);
  EXPECT_EQ(e->atr[0], 0x11);
  EXPECT_EQ(e->atr[1], 0x22);
  EXPECT_EQ(e->atr[2], EDIT_ATR_NORMAL);  // the line feed stored nothing

  EditHandle four = EditCreate(0, 0, 0, 4, 2, 4, 2, owner_, 0);
  ASSERT_EQ(EditSetBuf(four, 4, 2, "abcdefgh", nullptr), 0);  // full rows need no breaks
  char out[10];
  std::memset(out, '#', sizeof out);
  ASSERT_EQ(EditGetBuf(four, out, nullptr), 0);
  EXPECT_EQ(std::string(out, 10), "abcdefgh##");
  EXPECT_EQ(EditSetBuf(four, 5, 2, "x", nullptr), -1);  // beyond the planes
}

TEST_F(EditFixture, NumericFieldTakesDigitsRightAlignedUntilFull) {
  EditHandle e = make(6, 1, EDIT_INPUT_DIGITS);
  load(e, "");
  EXPECT_EQ(type(e, "123"), 3);
  EXPECT_EQ(content(e), "   123");
  EXPECT_EQ(type(e, "a"), 0);
  EXPECT_EQ(type(e, "456"), 3);
  EXPECT_EQ(content(e), "123456");
  EXPECT_EQ(type(e, "7"), 0);  // full
  EXPECT_EQ(content(e), "123456");
  EXPECT_EQ(key(e, ui::kVkBack), 1);
  EXPECT_EQ(content(e), " 12345");
  EXPECT_TRUE(e->modified);

  // Signed: a minus goes in front once; a comma format re-formats as it grows.
  EditHandle s = make(7, 1, EDIT_INPUT_SIGNED | STRCNVF_COMMA);
  load(s, "");
  type(s, "1234");
  EXPECT_EQ(content(s), "  1,234");
  EXPECT_EQ(type(s, "-"), 1);
  EXPECT_EQ(content(s), " -1,234");
  EXPECT_EQ(type(s, "-"), 0);
  EXPECT_EQ(type(s, "5"), 1);
  EXPECT_EQ(content(s), "-12,345");
  EXPECT_EQ(type(s, "6"), 0);  // no blank cell left in front
}

TEST_F(EditFixture, DateFieldCaretStopsAtItsGroups) {
  EditHandle e = make(8, 1, EDIT_INPUT_DATE_TIME | EDIT_INPUT_DIGITS | STRCNVF_KEEPZERO);
  load(e, "26/01/15");
  EXPECT_EQ(e->caretColumn, 2);
  std::vector<int32_t> stops;
  for (int i = 0; i < 3; ++i) {
    key(e, ui::kVkRight);
    stops.push_back(e->caretColumn);
  }
  EXPECT_EQ(stops, (std::vector<int32_t>{5, 8, 8}));
  key(e, ui::kVkLeft);
  EXPECT_EQ(e->caretColumn, 5);
  key(e, ui::kVkLeft);
  EXPECT_EQ(e->caretColumn, 2);
  EXPECT_EQ(key(e, ui::kVkLeft), 0);
  EXPECT_EQ(e->caretColumn, 2);

  // A typed separator where the field has one moves on to the next group;
  // a full group takes no digit until Backspace makes room.
  EXPECT_EQ(type(e, "/"), 1);
  EXPECT_EQ(e->caretColumn, 5);
  EXPECT_EQ(type(e, "9"), 0);
  key(e, ui::kVkBack);
  EXPECT_EQ(content(e), "26/ 0/15");
  EXPECT_EQ(type(e, "9"), 1);
  EXPECT_EQ(content(e), "26/09/15");
}

TEST_F(EditFixture, CheckDigitFieldWritesARightDigitAndRefusesAWrongOne) {
  testing_support::ScriptedMessageBox boxes;
  EditHandle e = make(13, 1, EDIT_INPUT_CHECK_DIGIT);
  load(e, "490123456789");
  key(e, ui::kVkEnd);
  ASSERT_EQ(e->caretColumn, 12);
  std::string expected = "490123456789C";
  BccMake(expected.data(), 13);
  const char wrong = expected[12] == '0' ? '1' : '0';

  EXPECT_EQ(type(e, std::string(1, wrong)), 1);
  ASSERT_EQ(boxes.count(), 1u);
  EXPECT_EQ(boxes.lastText(), "チェックデジットが異なっています");
  EXPECT_EQ(boxes.shown()[0].style, 0x30u);
  EXPECT_EQ(content(e), "490123456789 ");
  EXPECT_EQ(e->caretColumn, 12);

  EXPECT_EQ(type(e, "C"), 1);
  EXPECT_EQ(content(e), expected);
  EXPECT_EQ(boxes.count(), 1u);
}

TEST_F(EditFixture, ChoiceListWrapsWithSpaceAndTakesADigit) {
  EditHandle e = make(3, 3, EDIT_INPUT_CHOICE_LIST, EDIT_CREATE_READONLY);
  load(e, "AAABBBCCC");
  std::string chosen(3, '\0');
  key(e, ui::kVkSpace);
  key(e, ui::kVkSpace);
  EXPECT_EQ(e->fy, 2);
  key(e, ui::kVkSpace);
  EXPECT_EQ(e->fy, 0);  // from the last row back to the first
  key(e, ui::kVkBack);
  EXPECT_EQ(e->fy, 2);
  EXPECT_EQ(type(e, "1"), 1);
  EXPECT_EQ(e->fy, 1);
  EditGetBuf(e, chosen.data(), nullptr);
  EXPECT_EQ(chosen, "BBB");
  type(e, "3");  // no such row
  EXPECT_EQ(e->fy, 1);
  EXPECT_TRUE(e->modified);
}

TEST_F(EditFixture, RowSelectListMovesItsHighlightOverUnlockedRows) {
  EditHandle e = make(3, 3, EDIT_INPUT_ROW_SELECT, EDIT_CREATE_READONLY);
  load(e, "AAABBBCCC");
  ASSERT_EQ(EditSetAtrEx(e, 0, 0, 1, 3, 0, -1), 65535);  // a lock plane: rows selectable
  ASSERT_EQ(EditSetAtrEx(e, 0, 2, 1, 1, EDIT_LOCK_INPUT, -1), 65535);  // but the last
  e->highlightedRow = 0;
  key(e, ui::kVkDown);
  EXPECT_EQ(e->highlightedRow, 1);
  EXPECT_EQ(key(e, ui::kVkDown), 0);
  EXPECT_EQ(e->highlightedRow, 1);  // the locked row takes no highlight
  key(e, ui::kVkUp);
  EXPECT_EQ(e->highlightedRow, 0);
  EXPECT_EQ(key(e, ui::kVkUp), 0);
}

TEST_F(EditFixture, InsertingIntoAFullFieldFlowsOnAndLosesOnlyWhatFallsOffTheEnd) {
  EditHandle e = make(4, 3);
  load(e, "ABCDEFGHIJKL");
  const std::vector<uint8_t> atrBefore = e->atr;
  caretTo(e, 1, 0);
  EXPECT_EQ(type(e, "x"), 1);
  EXPECT_EQ(row(e, 0), "AxBC");
  EXPECT_EQ(row(e, 1), "DEFG");
  EXPECT_EQ(row(e, 2), "HIJK");  // L fell off the last row
  EXPECT_EQ(e->atr, atrBefore);
  EXPECT_EQ(e->caretColumn, 2);

  // A locked cell ends the flow: what passes it is lost, the row below keeps.
  load(e, "ABCDEFGHIJKL");
  ASSERT_EQ(EditSetAtrEx(e, 3, 1, 1, 1, EDIT_LOCK_INPUT, -1), 65535);
  caretTo(e, 0, 0);
  type(e, "x");
  EXPECT_EQ(row(e, 0), "xABC");
  EXPECT_EQ(row(e, 1), "DEFH");  // G fell off before the locked H
  EXPECT_EQ(row(e, 2), "IJKL");

  // A double-byte character at a row end moves whole; its cell stays blank.
  EditHandle k = make(4, 2);
  load(k, "AB漢CDEF");
  caretTo(k, 0, 0);
  type(k, "x");
  EXPECT_EQ(row(k, 0), "xAB ");
  EXPECT_EQ(row(k, 1), "漢CD");

  // Overwrite mode replaces in place.
  load(e, "ABCDEFGHIJKL");
  key(e, ui::kVkInsert);
  caretTo(e, 1, 1);
  type(e, "xy");
  EXPECT_EQ(content(e), "ABCDExyHIJKL");
}

TEST_F(EditFixture, DeletingPullsTheNextRowUpWithoutSplittingACharacter) {
  EditHandle e = make(4, 3);
  load(e, "ABCDEFGHIJ");
  caretTo(e, 1, 0);
  EXPECT_EQ(key(e, ui::kVkDelete), 1);
  EXPECT_EQ(content(e), "ACDEFGHIJ   ");  // the rows flow up as one stream
  EXPECT_EQ(key(e, ui::kVkBack), 1);
  EXPECT_EQ(content(e), "CDEFGHIJ    ");
  EXPECT_EQ(e->caretColumn, 0);

  // A one-cell gap cannot take a two-cell character: it stays below.
  load(e, "ABCD漢EFGH  ");
  caretTo(e, 0, 0);
  key(e, ui::kVkDelete);
  EXPECT_EQ(content(e), "BCD 漢EFGH  ");
  // Deleting a double-byte character frees two cells, and it comes up.
  load(e, "字CD漢EFGH  ");
  caretTo(e, 1, 0);  // on the trail byte: the whole character goes
  key(e, ui::kVkDelete);
  EXPECT_EQ(content(e), "CD漢EFGH    ");
}

TEST_F(EditFixture, DoubleByteCharacterArrivesInTwoMessages) {
  EditHandle e = make(6, 1);
  load(e, "");
  EXPECT_EQ(type(e, "\x8A\xBF"), 2);  // 漢 as lead then trail
  EXPECT_EQ(row(e, 0).substr(0, 2), "漢");
  EXPECT_EQ(e->caretColumn, 2);
  type(e, "\x8A");
  EXPECT_EQ(EditCallBackProc(e, ui::kWmChar, 0x09, 1), 0);  // a control character drops the lead
  type(e, "\xBF");  // alone, a trail byte is a half-width katakana
  EXPECT_EQ(row(e, 0), "漢\xBF   ");
}

TEST_F(EditFixture, CaretIsWideOnAKanjiOnlyInOverwriteMode) {
  EditHandle e = make(6, 1);
  load(e, "漢字AB");
  EXPECT_EQ(e->caretWidth, 2);  // insert mode
  key(e, ui::kVkInsert);
  EXPECT_TRUE(e->wideCaret);
  EXPECT_EQ(e->caretWidth, 16);
  key(e, ui::kVkRight);
  EXPECT_EQ(e->caretColumn, 2);  // over the whole character
  key(e, ui::kVkRight);
  EXPECT_EQ(e->caretWidth, 8);
  caretTo(e, 3, 0);  // a trail byte: the caret stands on its lead
  EXPECT_EQ(e->caretColumn, 2);
}

TEST_F(EditFixture, SelectionByPositionAndReplacingIt) {
  EditHandle e = make(4, 3);
  load(e, "ABCDEFGHIJKL");
  ASSERT_EQ(EditSetSel(e, 0, -1), 0);
  int32_t rect[4];
  ASSERT_EQ(EditGetSelRect(e, rect), 0);
  EXPECT_EQ(std::vector<int32_t>(rect, rect + 4), (std::vector<int32_t>{0, 0, 3, 2}));
  EXPECT_EQ(EditSetSel(e, 3, 2), -1);

  EditHandle r = make(5, 3);
  load(r, "");
  caretTo(r, 1, 0);
  const bool modified = r->modified;
  ASSERT_EQ(EditReplaceSel(r, "ab\r\ncd"), 0);
  EXPECT_EQ(row(r, 0), " ab  ");
  EXPECT_EQ(row(r, 1), " cd  ");
  EXPECT_EQ(r->caretColumn, 1);
  EXPECT_EQ(r->caretRow, 0);
  EXPECT_EQ(r->modified, modified);
}

TEST_F(EditFixture, BoxesCarryLockBytesAndMoveTheirText) {
  EditHandle e = make(6, 3);
  load(e, "ABCDEFGHIJKLMNOPQR");
  EXPECT_EQ(EditSetAtrEx(e, 0, 0, 2, 1, EDIT_BOX_OUTSIDE, -1), -1);  // a frame outside no frame
  EXPECT_EQ(EditSetAtrEx(e, 0, 0, 2, 1, EDIT_LOCK_CARET, -1), 65535);
  EXPECT_EQ(e->lock[0], EDIT_LOCK_CARET);
  EXPECT_TRUE(e->boxes.empty());
  EXPECT_EQ(EditSetAtrEx(e, 5, 0, 2, 1, EDIT_BOX_RECTANGLE, -1), -1);  // past the used columns

  e->atr[e->index(1, 1)] = 0x35;
  ASSERT_EQ(EditSetAtrEx(e, 2, 1, 2, 1, EDIT_BOX_SUNKEN | EDIT_LOCK_INPUT, -1), 0);
  ASSERT_EQ(EditSetAtrEx(e, 3, 2, 2, 1, EDIT_BOX_SUNKEN, 0), 0);  // box 0 moves
  EXPECT_EQ(row(e, 1), "GH  KL");
  EXPECT_EQ(e->atr[e->index(2, 1)], 0x35);  // the left neighbour's attribute stays behind
  EXPECT_EQ(e->lock[e->index(2, 1)], 0);
  EXPECT_EQ(row(e, 2), "MNOIJR");

  ASSERT_EQ(EditSetAtrEx(e, 0, 0, 1, 1, EDIT_BOX_RECTANGLE, -1), 1);
  ASSERT_EQ(EditSetAtrEx(e, 5, 0, 1, 1, EDIT_BOX_BUTTON, -1), 2);
  EXPECT_EQ(EditDeleteBox(e, -1), 3);
  EXPECT_EQ(row(e, 2), "MNO  R");
  EXPECT_EQ(e->atr[0], 0xE1);  // a box at column 0 leaves white on black
  EXPECT_EQ(EditDeleteBox(e, -1), 0);

  for (int i = 0; i < 33; ++i) ASSERT_EQ(EditSetAtrEx(e, 0, 0, 1, 1, EDIT_BOX_RECTANGLE, -1), i);
  EXPECT_EQ(e->boxCapacity, 4096u);
  EXPECT_EQ(EditBoxFill(e, 32, '*', 1, 0x15), 0);
  EXPECT_EQ(row(e, 0).substr(0, 1), "*");
  EXPECT_EQ(e->atr[0], 0x15);
}

TEST_F(EditFixture, SelectionAttributesLeaveOutBoxesCrossingTheBorder) {
  EditHandle e = make(6, 2);
  load(e, "ABCDEFGHIJKL");
  ASSERT_EQ(EditSetAtrEx(e, 3, 0, 2, 1, EDIT_BOX_SUNKEN, -1), 0);
  e->atr[e->index(3, 0)] = 0x95;
  e->atr[e->index(4, 0)] = 0x95;
  ASSERT_EQ(EditSetSel(e, 0, 4), 0);  // columns 0-3 of row 0: box 0 crosses the border
  EXPECT_EQ(EditGetSelAtr(e), EDIT_ATR_NORMAL);
  EXPECT_EQ(EditSetSelAtr(e, 0x1F5), 0xF5);
  EXPECT_EQ(EditSetSelAtr(e, 0x35), 0x35);
  EXPECT_EQ(e->atr[e->index(2, 0)], 0x35);
  EXPECT_EQ(e->atr[e->index(3, 0)], 0x95);  // inside the crossing box: untouched
  caretTo(e, 0, 0);
  EXPECT_EQ(EditGetSelAtr(e), -1);
}

std::string pair(uint16_t code) { return std::string{static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)}; }

TEST_F(EditFixture, MakeLineFramesTheSelectionWithRuledLines) {
  EditHandle e = make(4, 3);
  load(e, "");
  ASSERT_EQ(EditSetSel(e, 0, -1), 0);
  ASSERT_EQ(EditMakeLine(e, 0), 0);
  EXPECT_EQ(row(e, 0), pair(0x86AE) + pair(0x86B2));
  EXPECT_EQ(row(e, 1), pair(0x86A4) + pair(0x86A4));
  EXPECT_EQ(row(e, 2), pair(0x86B6) + pair(0x86BA));
  EXPECT_FALSE(EditIsSelect(e));

  EditHandle line = make(6, 1);
  load(line, "");
  EditSetSel(line, 0, -1);
  ASSERT_EQ(EditMakeLine(line, 0), 0);
  EXPECT_EQ(row(line, 0), pair(0x86A2) + pair(0x86A2) + pair(0x86A2));

  EditHandle thick = make(4, 3);
  load(thick, "");
  EditSetSel(thick, 0, -1);
  ASSERT_EQ(EditMakeLine(thick, 1), 0);
  EXPECT_EQ(row(thick, 0), "    ");
  EXPECT_EQ(row(thick, 2), "  " + pair(0x86BD));

  EditSetSel(line, 0, 1);
  EXPECT_EQ(EditMakeLine(line, 0), -1);  // one column
}

TEST_F(EditFixture, CopyGivesRowsWithLineEndsAndPasteTypesOrWritesABlock) {
  EditHandle e = make(6, 3);
  load(e, "ABCDEF漢字XYGHIJKL");
  ASSERT_EQ(EditSetSel(e, 0, 9), 0);  // rows 0-1, columns 0-2
  ASSERT_EQ(EditCopyClipboardText(e), 0);
  std::string clip;
  ASSERT_TRUE(ui::clipboardText(clip));
  EXPECT_EQ(clip, "ABC\r\n漢字\r\n");  // the last column is a lead byte: its trail comes along

  caretTo(e, 1, 0);
  zemta::edit::EditMoveCaret(e, 4, 1, true);  // columns 1-3: starts on the trail of 漢
  ASSERT_EQ(EditCopyClipboardText(e), 0);
  ASSERT_TRUE(ui::clipboardText(clip));
  EXPECT_EQ(clip, "BCD\r\n字\r\n");

  ASSERT_EQ(EditSetAtrEx(e, 2, 2, 3, 1, EDIT_BOX_SUNKEN, -1), 0);
  EditSetSel(e, 12, 15);
  ASSERT_EQ(EditCopyClipboardText(e), 0);
  ASSERT_TRUE(ui::clipboardText(clip));
  EXPECT_EQ(clip, "GH \r\n");  // a box crossing the border gives blanks

  caretTo(e, 0, 0);
  EXPECT_EQ(EditCopyClipboardText(e), -1);  // nothing selected

  // Typed paste: a numeric field takes the digits of both lines.
  ASSERT_TRUE(ui::setClipboardText("12\r\n34"));
  EditHandle n = make(6, 1, EDIT_INPUT_DIGITS);
  load(n, "");
  ASSERT_EQ(EditPasteClipboardText(n), 0);
  EXPECT_EQ(content(n), "  1234");
  EXPECT_EQ(n->lastKeyUp, ui::kVkReturn);

  // Block paste: rows from the caret, the caret behind the block.
  EditHandle b = make(5, 3, 0, EDIT_CREATE_BLOCK_PASTE);
  load(b, "");
  caretTo(b, 1, 0);
  ASSERT_EQ(EditPasteClipboardText(b), 0);
  EXPECT_EQ(content(b), std::string(" 12  ") + " 34  " + "     ");
  EXPECT_EQ(b->caretColumn, 3);
  EXPECT_EQ(b->caretRow, 1);
  EXPECT_TRUE(b->modified);

  // Cut removes the selection and the boxes inside it.
  ASSERT_EQ(EditSetAtrEx(b, 1, 0, 2, 1, EDIT_BOX_RECTANGLE, -1), 0);
  EditSetSel(b, 0, 4);
  ASSERT_EQ(EditCutClipboardText(b), 0);
  EXPECT_TRUE(b->boxes.empty());
  EXPECT_EQ(row(b, 0), "     ");
}

TEST_F(EditFixture, BlockCopiedAndPastedBackIsByteIdentical) {
  EditHandle a = make(8, 2);
  load(a, "漢字ｶﾅabかな┌┐");
  EditSetSel(a, 0, -1);
  ASSERT_EQ(EditCopyClipboardText(a), 0);
  EditHandle b = make(8, 2, 0, EDIT_CREATE_BLOCK_PASTE);
  load(b, "");
  ASSERT_EQ(EditPasteClipboardText(b), 0);
  EXPECT_EQ(content(b), content(a));
}

}  // namespace
}  // namespace edit_test
