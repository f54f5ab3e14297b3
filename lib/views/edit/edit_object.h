// The edit object and the library-wide state all edits share, with the
// operations the record views call besides the flat exports of zemta/edit.h.
//
// The cell model (planes, boxes, caret, selection, the editing rules) works
// without a display: windows are touched only through the owner's handle, and
// an owner that is not a window simply gets nothing drawn.
//
// Cell planes: a cell (column, row) lies at row x allocatedColumns + column of
// each plane. text holds code page 932 bytes without terminators (initially
// spaces), atr one attribute byte a cell (initially 0xF5), lock one lock byte
// a cell, absent (empty) until the first EditSetAtrEx.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/draw.h"
#include "platform/ui/window.h"
#include "zemta/edit.h"
#include "zemta/winhelp.h"

// One box of an edit: cells of the edit's buffer and the flags of EditSetAtrEx.
struct EditBox {
  uint16_t x = 0, y = 0, width = 0, height = 0;
  uint32_t flags = 0;
};

// One of the four shared fonts: the face and decorations of the cells.
struct EditFont {
  int32_t height = 16;
  bool underline = false, strikeOut = false;
};

struct EditObject {
  uint32_t checkWord = 0;
  uint32_t createFlags = 0;
  int32_t hpix = 0, vpix = 0;                // owner's scroll, in pixels, when followed by pixels
  int32_t clientWidth = 0, clientHeight = 0;
  int32_t x = 0, y = 0;                      // top-left cell in the owner's (or parent's) grid
  int32_t visibleColumns = 0, visibleRows = 0;
  int32_t allocatedColumns = 0, allocatedRows = 0;
  HWND owner = nullptr;
  uint32_t inputFlags = 0;
  int32_t gapX = 0, gapY = 0;
  int32_t cw = 8, ch = 16;                   // cell size in pixels
  int32_t caretColumn = 0, caretRow = 0;
  int32_t fx = 0, fy = 0;                    // first visible column and row
  int32_t sx = 0, sy = 0;                    // shown columns and rows (a partial cell counted)
  int32_t ux = 0, uy = 0;                    // used columns and rows
  int32_t lx = 0, ly = 0;                    // locked columns and rows
  std::vector<int32_t> advance;              // per allocated column while gapX is not 0
  std::vector<char> text;
  std::vector<uint8_t> atr;
  std::vector<uint8_t> lock;
  int32_t caretWidth = 0, caretHeight = 0;
  bool hasFocus = false;
  bool caretWanted = false;
  bool caretCreated = false, caretShown = false;
  bool modified = false;
  bool wideCaret = false;
  bool extending = false;
  bool insertMode = true;
  bool selecting = false;
  int32_t anchorColumn = 0, anchorRow = 0, endColumn = 0, endRow = 0;
  uint16_t highlightedRow = 0xFFFF;
  // Regions: empty rectangles stand for none.
  platform::ui::Rect editRegion, textRegion, cornerRegion;
  HWND horizontalBar = nullptr, verticalBar = nullptr;
  EditFont fonts[4];                         // plain, underlined, struck out, both
  HWND inputContext = nullptr;               // the owner's input context (its window)
  bool imeManaged = false;
  uint32_t lastKeyUp = 0;
  int32_t savedOpen = 0;
  uint32_t savedConversion = 0, savedSentence = 0;
  int32_t ownOpen = 0;
  uint32_t ownConversion = 0, ownSentence = 0;
  ZemtaLogFont savedCompositionFont{};
  uint8_t pendingLead = 0;
  EditObject* parent = nullptr;
  int32_t homeX = 0, homeY = 0;
  uint32_t boxCapacity = 0;
  std::vector<EditBox> boxes;
  uint16_t pressedBox = 0, pressedRow = 0;
  bool dragging = false;
  // Set by a hosting view for one paint so that all its items draw into it.
  platform::ui::DrawContext* paintContext = nullptr;
  platform::ui::Rect paintRect;

  char* row(int32_t r) { return text.data() + static_cast<size_t>(r) * allocatedColumns; }
  uint8_t* atrRow(int32_t r) { return atr.data() + static_cast<size_t>(r) * allocatedColumns; }
  size_t index(int32_t column, int32_t r) const { return static_cast<size_t>(r) * allocatedColumns + column; }
  uint8_t lockAt(int32_t column, int32_t r) const { return lock.empty() ? 0 : lock[index(column, r)]; }
  bool isNumeric() const { return (inputFlags & 0xFFFF) != 0; }
};

namespace zemta::edit {

// What an edit reads of the record view hosting its owner window; the views
// fill it in through the lookup they install. Without a lookup (or when the
// owner hosts no view) the edit behaves as in a plain window.
struct HostView {
  platform::ui::Rect client;       // the view's client rectangle
  int32_t lockLeft = 0, lockTop = 0;
  bool verticalBar = false, horizontalBar = false;
  int32_t scrollX = 0, scrollY = 0;  // pixels
  int32_t unitX = 1, unitY = 1;      // pixels per scroll step
  bool editIsItem = false;           // the edit belongs to one of the view's items
  platform::ui::Rect itemRegion;
  std::vector<EditObject*> laterItemEdits;  // edits of the items after it, drawn on top
};
using HostLookup = std::function<bool(HWND owner, EditObject* edit, HostView& host)>;
void setHostLookup(HostLookup lookup);
bool findHost(EditObject* edit, HostView& host);

// The library-wide state.
constexpr size_t kMaxEdits = 128;
const std::vector<EditObject*>& liveEdits();
int32_t cellFontHeight();
bool sharedFontsExist();
// The face of the cells' fonts and the background colour (button face).
extern const char kCellFace[];
uint32_t backgroundColour();
uint32_t colourOfAtr(uint8_t atr);

// The handle check; null for a bad handle.
EditObject* checked(EditHandle edit);

// Display (edit_display.cpp).
platform::ui::Rect visibleRect(EditObject* e);
platform::ui::Rect clipRect(EditObject* e);
void layout(EditObject* e);
void invalidateCells(EditObject* e, int32_t column, int32_t row, int32_t columns, int32_t rows);
int32_t invalidateBox(EditObject* e, size_t box, int32_t pointY);
void invalidateVisible(EditObject* e);
void updateCaret(EditObject* e);
void syncScroll(EditObject* e);
void syncHScroll(EditObject* e);
void syncVScroll(EditObject* e);
void rebuildAdvance(EditObject* e);  // throws std::bad_alloc
LRESULT EditWndProc(EditObject* e, uint32_t message, WPARAM wParam, LPARAM lParam);
// Paints the damaged rectangle of the owner into dc (WM_PAINT's work).
void paint(EditObject* e, platform::ui::DrawContext& dc, const platform::ui::Rect& damaged);

// Editing (edit_keys.cpp).
void EditMoveCaret(EditObject* e, int32_t column, int32_t row, bool extend);
int32_t EditKeyDown(EditObject* e, uint32_t virtualKey);
int32_t EditKeyUp(EditObject* e, uint32_t virtualKey);
int32_t EditChar(EditObject* e, uint32_t character);
void EditDeleteSel(EditObject* e);
void EditDeleteChar(EditObject* e, int32_t column, int32_t row);
// Writes text as a block at the caret (EditReplaceSel and the block paste);
// the cells written span columns first..last and rows firstRow..lastRow;
// false when nothing was written.
struct BlockWritten {
  int32_t firstColumn = 0, firstRow = 0, lastColumn = -1, lastRow = -1, widestEnd = 0;
};
bool writeBlock(EditObject* e, const char* text, BlockWritten& written);
int32_t mouseDown(EditObject* e, int32_t x, int32_t y);
int32_t mouseMove(EditObject* e, uint32_t keys, int32_t x, int32_t y);
int32_t mouseUp(EditObject* e, int32_t x, int32_t y);

// Boxes and the selection (edit_boxes.cpp).
struct Block {
  int32_t left = 0, top = 0, width = 0, height = 0;
};
Block selectionBlock(const EditObject* e);
// Whether a cell of the selection block counts (lies in no box that crosses
// the block's border).
bool cellCounts(const EditObject* e, const Block& block, int32_t column, int32_t row);
platform::ui::Rect boxCells(const EditObject* e, const EditBox& box);  // in buffer cells, x..right
// Byte kind at a cell: 0 single, 1 lead, 2 trail.
int32_t byteKind(EditObject* e, int32_t column, int32_t row);

}  // namespace zemta::edit
