// The library's character-cell edit control.
//
// An edit is a rectangle of fixed character cells drawn inside a window that
// belongs to its caller (the owner window); it owns no window of its own. The
// caller passes that window's messages to EditCallBackProc, which answers 1
// when the edit consumed one. The cells hold code page 932 text (a
// double-byte character takes two cells of one row, lead byte first), an
// attribute byte each (EDIT_ATR_...) and, once EditSetAtrEx was called, a lock
// byte each (EDIT_LOCK_...). Boxes frame rectangles of cells.
//
// Every call takes the edit first and checks it: a handle that is not a live
// edit makes the call fail (-1, or null, or 0 where noted) without a report.
// At most 128 edits live at once. Edits are used on their owner's thread only.
#pragma once

#include "zemta/export.h"
#include "zemta/types.h"

typedef struct EditObject* EditHandle;

// EditCreate's first argument.
#define EDIT_CREATE_HSCROLL 0x00000001u         // a horizontal scroll bar may be shown
#define EDIT_CREATE_VSCROLL 0x00000002u         // a vertical scroll bar may be shown
#define EDIT_CREATE_READONLY 0x00010000u        // no caret, no typing
#define EDIT_CREATE_FOLLOW_WIDTH 0x00100000u    // visible width follows the owner's client width
#define EDIT_CREATE_FOLLOW_HEIGHT 0x00200000u   // visible height follows the owner's client height
#define EDIT_CREATE_FIXED_H 0x00400000u         // does not follow the owner's horizontal scrolling
#define EDIT_CREATE_FIXED_V 0x00800000u         // nor its vertical scrolling
#define EDIT_CREATE_HSCROLL_CELLS 0x04000000u   // the owner's horizontal scroll counts in cells
#define EDIT_CREATE_VSCROLL_CELLS 0x08000000u   // the owner's vertical scroll counts in cells
#define EDIT_CREATE_BLOCK_PASTE 0x40000000u     // paste writes the clipboard as a block

// EditCreate's last argument: the low 16 bits are the field's number format
// (a StrCnvf format word; not 0 makes a numeric field), and these bits.
#define EDIT_INPUT_FULLWIDTH_DIGITS 0x0004u
#define EDIT_INPUT_ANY_CHARACTER 0x0020u
#define EDIT_INPUT_DIGITS 0x0400u
#define EDIT_INPUT_SIGNED 0x1000u
#define EDIT_INPUT_DECIMAL 0x2000u
#define EDIT_INPUT_IME_FULLWIDTH 0x01000000u    // input method open in full-width mode
#define EDIT_INPUT_IME_KATAKANA 0x02000000u     // half-width katakana mode
#define EDIT_INPUT_IME_ENFORCED 0x04000000u     // alone: the input method is closed and detached
#define EDIT_INPUT_DATE_TIME 0x10000000u        // groups of 2 digits between separators
#define EDIT_INPUT_CHECK_DIGIT 0x20000000u      // the last column is a modulus-10 check digit
#define EDIT_INPUT_CHOICE_LIST 0x40000000u      // each used row is a choice; the first visible one is chosen
#define EDIT_INPUT_ROW_SELECT 0x80000000u       // one row is highlighted

// Attribute byte of a cell.
#define EDIT_ATR_VISIBLE 0x01u     // the character is drawn
#define EDIT_ATR_STRIKE 0x02u      // struck-out font
#define EDIT_ATR_PAPER 0x04u       // the colour is the background and the text black
#define EDIT_ATR_UNDERLINE 0x08u   // underlined font
#define EDIT_ATR_SYSTEM 0x10u      // components from the button-face and workspace colours
#define EDIT_ATR_BLUE 0x20u
#define EDIT_ATR_RED 0x40u
#define EDIT_ATR_GREEN 0x80u
#define EDIT_ATR_NORMAL 0xF5u      // black text on the button-face colour

// Lock byte of a cell.
#define EDIT_LOCK_INPUT 0x01u      // takes no typed, replaced or pasted character
#define EDIT_LOCK_CARET 0x02u      // the caret never stands on it

// Box flags (EditSetAtrEx): the low byte is the lock byte of the box's cells.
#define EDIT_BOX_ARROW 0x00100000u     // with a push button: a right-pointing triangle
#define EDIT_BOX_BUTTON 0x01000000u    // frame types
#define EDIT_BOX_SUNKEN 0x05000000u
#define EDIT_BOX_RECTANGLE 0x07000000u
#define EDIT_BOX_TYPE_MASK 0x0F000000u
#define EDIT_BOX_OUTSIDE 0x10000000u   // the frame lies outside the cells
#define EDIT_BOX_WIDE 0x30000000u      // with OUTSIDE: four pixels outside
#define EDIT_BOX_PER_ROW 0x40000000u   // one frame per row
#define EDIT_BOX_FLOATING 0x80000000u  // counted from the first visible cell

// Creation and geometry.
ZEMTA_API EditHandle EditCreate(uint32_t createFlags, int32_t x, int32_t y, int32_t visibleColumns,
                                int32_t visibleRows, int32_t allocatedColumns, int32_t allocatedRows,
                                HWND ownerWindow, uint32_t inputFlags);
ZEMTA_API int32_t EditDelete(EditHandle edit);
// The cell font height in pixels (cells are half as wide). Changes only while
// no edit exists: size in points (10.5 gives 16) or in pixels (rounded to an
// even number); returns the height in force.
ZEMTA_API int32_t EditSetFontHeight(float size, int32_t inPoints);
ZEMTA_API int32_t EditSetParent(EditHandle edit, EditHandle parent);
ZEMTA_API int32_t EditSetViewGap(EditHandle edit, int32_t gapX, int32_t gapY);
ZEMTA_API int32_t EditSetViewLock(EditHandle edit, int32_t lockedColumns, int32_t lockedRows);
// point: two 32-bit integers (x, y); size: (width, height); pixels.
ZEMTA_API int32_t EditGetViewPos(EditHandle edit, int32_t* point);
ZEMTA_API int32_t EditGetViewSize(EditHandle edit, int32_t* size);
ZEMTA_API int32_t EditSetReadOnly(EditHandle edit, int32_t on);

// Content. EditSetBuf reads text row by row (LF, CR or CR LF end a row, NUL
// ends the load) into usedColumns x usedRows cells, with the attribute byte at
// the same place of atr when given. EditGetBuf copies the used rows back to
// back without separators (a choice list: the chosen row only).
ZEMTA_API int32_t EditSetBuf(EditHandle edit, int32_t usedColumns, int32_t usedRows, const char* text,
                             const uint8_t* atr);
ZEMTA_API int32_t EditGetBuf(EditHandle edit, char* text, uint8_t* atr);
// point: (caret column, caret row); -1 when there is no caret.
ZEMTA_API int32_t EditGetCaretPos(EditHandle edit, int32_t* point);

// The owner window's messages; 1 when the edit consumed the message (0 also
// for a bad handle).
ZEMTA_API LRESULT EditCallBackProc(EditHandle edit, uint32_t message, WPARAM wParam, LPARAM lParam);

// Selection by linear cell positions (row x used columns + column); end -1:
// to the end. EditReplaceSel writes NUL-terminated text as a block at the caret.
ZEMTA_API int32_t EditSetSel(EditHandle edit, int32_t start, int32_t end);
ZEMTA_API int32_t EditReplaceSel(EditHandle edit, const char* text);

// Boxes. EditSetAtrEx: index -1 adds a box; returns its index, 65535 when
// only lock bytes were written (no frame type), -1 when refused.
ZEMTA_API int32_t EditSetAtrEx(EditHandle edit, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags,
                               int32_t index);
ZEMTA_API int32_t EditDeleteBox(EditHandle edit, int32_t index);  // -1: all; the count removed
ZEMTA_API int32_t EditBoxFill(EditHandle edit, int32_t index, int32_t character, int32_t withAtr, int32_t atr);
// Box index + 1 under a point of the owner's client area, 0 for none.
ZEMTA_API int32_t EditPtInBox(EditHandle edit, int32_t x, int32_t y);
// The same, 0 also when the cell's lock byte shares a bit with lockMask;
// cellInBox (may be null) receives the cell relative to the box.
ZEMTA_API int32_t EditGetPtInBox(EditHandle edit, const int32_t* point, uint32_t lockMask, int32_t* cellInBox);

// The selection's attributes and ruled-line frame.
ZEMTA_API int32_t EditIsSelect(EditHandle edit);                   // 1 or 0 (0 also for a bad handle)
ZEMTA_API int32_t EditGetSelRect(EditHandle edit, int32_t* rect);  // left, top, last column, last row
ZEMTA_API int32_t EditGetSelAtr(EditHandle edit);
ZEMTA_API int32_t EditSetSelAtr(EditHandle edit, int32_t atr);
ZEMTA_API int32_t EditMakeLine(EditHandle edit, int32_t thick);

// The clipboard, as code page 932 text.
ZEMTA_API int32_t EditCopyClipboardText(EditHandle edit);
ZEMTA_API int32_t EditCutClipboardText(EditHandle edit);
ZEMTA_API int32_t EditPasteClipboardText(EditHandle edit);
