// The edit object: the table of live edits, the shared fonts and cell size,
// creation and deletion, geometry settings and the content of the planes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "lib/core/report.h"
#include "lib/core/zemta_app.h"
#include "lib/views/edit/edit_object.h"
#include "platform/base/cp932.h"
#include "platform/ui/desktop.h"
#include "platform/ui/paint.h"

namespace zemta::edit {

namespace ui = platform::ui;

namespace {

constexpr uint32_t kCheckBase = 0xEACC0000u;

// One set per process, used on the owners' thread only.
struct Library {
  std::vector<EditObject*> edits;  // live edits in creation order
  int32_t fontHeight = 16;
  bool fontsMade = false;
  EditFont fonts[4];
  ZemtaLogFont compositionFont{};
  HostLookup hostLookup;
};

Library& library() {
  static Library* state = new Library;
  return *state;
}

uint32_t checkWordOf(HWND owner) {
  return kCheckBase | static_cast<uint32_t>(reinterpret_cast<uintptr_t>(owner) & 0xFFFF);
}

void makeSharedFonts() {
  Library& lib = library();
  for (int i = 0; i < 4; ++i) {
    lib.fonts[i].height = lib.fontHeight;
    lib.fonts[i].underline = (i & 1) != 0;
    lib.fonts[i].strikeOut = (i & 2) != 0;
  }
  ZemtaLogFont& f = lib.compositionFont;
  f = ZemtaLogFont{};
  f.height = lib.fontHeight;
  f.width = lib.fontHeight / 2;
  f.weight = 500;
  f.charSet = 128;       // Shift-JIS
  f.outPrecision = 4;    // TrueType
  f.quality = 2;         // proof
  f.pitchAndFamily = 1;  // fixed pitch
  std::strncpy(f.faceName, kCellFace, sizeof f.faceName - 1);
  lib.fontsMade = true;
}

// Frees what deletion frees and takes the edit out of the table, closing the
// gap so that the survivors keep their order.
void destroyObject(EditObject* e) {
  for (HWND* bar : {&e->horizontalBar, &e->verticalBar})
    if (*bar) {
      ui::destroyWindow(*bar);
      *bar = nullptr;
    }
  e->checkWord = 0;
  Library& lib = library();
  std::erase(lib.edits, e);
  delete e;
  if (lib.edits.empty()) lib.fontsMade = false;
}

}  // namespace

const char kCellFace[] = "ＭＳ ゴシック";

const std::vector<EditObject*>& liveEdits() { return library().edits; }
int32_t cellFontHeight() { return library().fontHeight; }
bool sharedFontsExist() { return library().fontsMade; }

void setHostLookup(HostLookup lookup) { library().hostLookup = std::move(lookup); }

bool findHost(EditObject* e, HostView& host) {
  const HostLookup& lookup = library().hostLookup;
  return lookup && e->owner && lookup(e->owner, e, host);
}

uint32_t backgroundColour() {
  const uint8_t* face = theApp().palette().buttonFace;
  return face[0] | (face[1] << 8) | (face[2] << 16);
}

uint32_t colourOfAtr(uint8_t atr) {
  const LibPalette& palette = theApp().palette();
  // Red, green and blue: each from its bit.
  const bool bits[3] = {(atr & EDIT_ATR_RED) != 0, (atr & EDIT_ATR_GREEN) != 0, (atr & EDIT_ATR_BLUE) != 0};
  uint32_t colour = 0;
  for (int i = 0; i < 3; ++i) {
    uint32_t component;
    if (atr & EDIT_ATR_SYSTEM) component = bits[i] ? palette.buttonFace[i] : palette.appWorkspace[i];
    else component = bits[i] ? 0xFF : 0;
    colour |= component << (8 * i);
  }
  return colour;
}

EditObject* checked(EditHandle edit) {
  if (!edit) return nullptr;
  const auto& edits = library().edits;
  if (std::find(edits.begin(), edits.end(), edit) == edits.end()) return nullptr;
  if (edit->checkWord != checkWordOf(edit->owner)) return nullptr;
  return edit;
}

int32_t byteKind(EditObject* e, int32_t column, int32_t row) {
  const char* r = e->row(row);
  int32_t i = 0;
  while (i < column) {
    if (i + 1 < e->allocatedColumns && platform::cp932::isLeadByte(static_cast<uint8_t>(r[i])) &&
        platform::cp932::isTrailByte(static_cast<uint8_t>(r[i + 1])))
      i += 2;
    else
      i += 1;
  }
  if (i > column) return 2;
  if (column + 1 < e->allocatedColumns && platform::cp932::isLeadByte(static_cast<uint8_t>(r[column])) &&
      platform::cp932::isTrailByte(static_cast<uint8_t>(r[column + 1])))
    return 1;
  return 0;
}

void rebuildAdvance(EditObject* e) {
  if (e->gapX == 0) {
    e->advance.clear();
    return;
  }
  e->advance.assign(static_cast<size_t>(e->allocatedColumns), e->cw);
}

}  // namespace zemta::edit

using namespace zemta::edit;
namespace ui = platform::ui;

EditHandle EditCreate(uint32_t createFlags, int32_t x, int32_t y, int32_t visibleColumns, int32_t visibleRows,
                      int32_t allocatedColumns, int32_t allocatedRows, HWND ownerWindow, uint32_t inputFlags) {
  if (liveEdits().size() >= kMaxEdits || !ownerWindow || visibleColumns <= 0 || visibleRows <= 0 ||
      allocatedColumns < visibleColumns || allocatedRows < visibleRows || x < 0 || y < 0 || allocatedColumns > 0xFFFF ||
      allocatedRows > 0xFFFF)
    return nullptr;
  EditObject* e = new (std::nothrow) EditObject;
  if (!e) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return nullptr;
  }
  e->createFlags = createFlags;
  e->x = e->homeX = x;
  e->y = e->homeY = y;
  e->visibleColumns = visibleColumns;
  e->visibleRows = visibleRows;
  e->allocatedColumns = allocatedColumns;
  e->allocatedRows = allocatedRows;
  e->owner = ownerWindow;
  e->inputFlags = inputFlags;
  e->checkWord = 0xEACC0000u | static_cast<uint32_t>(reinterpret_cast<uintptr_t>(ownerWindow) & 0xFFFF);
  e->insertMode = true;
  try {
    const size_t cells = static_cast<size_t>(allocatedColumns) * static_cast<size_t>(allocatedRows);
    e->text.assign(cells, ' ');
    e->atr.assign(cells, EDIT_ATR_NORMAL);
  } catch (const std::bad_alloc&) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    delete e;
    return nullptr;
  }
  Library& lib = library();
  if (!lib.fontsMade) makeSharedFonts();
  e->cw = lib.fontHeight / 2;
  e->ch = lib.fontHeight;
  for (int i = 0; i < 4; ++i) e->fonts[i] = lib.fonts[i];

  // The input method as the owner had it, kept to be given back; the edit's
  // own state starts from it.
  int32_t open = 0;
  uint32_t conversion = 0, sentence = 0;
  HIMC context = ImeGetStatus(ownerWindow, &open, &conversion, &sentence, &e->savedCompositionFont);
  e->inputContext = reinterpret_cast<HWND>(context);
  e->savedOpen = open;
  e->savedConversion = conversion;
  e->savedSentence = sentence;
  if (context) ImeSetStatus(context, open, conversion, sentence, &lib.compositionFont);
  e->ownOpen = open;
  e->ownConversion = conversion;
  e->ownSentence = sentence;
  const uint32_t imeBits = inputFlags & 0x07000000u;
  if (inputFlags & (EDIT_INPUT_IME_FULLWIDTH | EDIT_INPUT_IME_ENFORCED)) {
    e->ownOpen = (inputFlags & EDIT_INPUT_IME_FULLWIDTH) ? 1 : 0;
    if (context) ImeSetStatus(context, e->ownOpen, conversion, sentence, nullptr);
  }
  if (imeBits == EDIT_INPUT_IME_ENFORCED && context) {
    // Detached: no input method reaches the owner while the edit lives.
    ImeSetStatus(context, 0, conversion, sentence, nullptr);
  }
  e->imeManaged = true;
  e->caretWanted = !(createFlags & EDIT_CREATE_READONLY);
  e->highlightedRow = 0xFFFF;
  lib.edits.push_back(e);

  const ui::Rect clip = clipRect(e);
  e->clientWidth = clip.right;
  e->clientHeight = clip.bottom;
  syncScroll(e);
  layout(e);
  try {
    e->boxes.reserve(32);
    e->boxCapacity = 32;
  } catch (const std::bad_alloc&) {
    EditDelete(e);
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return nullptr;
  }
  return e;
}

int32_t EditDelete(EditHandle edit) {
  EditObject* e = checked(edit);
  if (!e) return -1;
  e->imeManaged = false;
  // The owner's input method as it was before the edit (a context detached
  // for the edit's life is attached again by this).
  HIMC context = reinterpret_cast<HIMC>(e->inputContext);
  if (context && ui::isWindow(e->owner)) {
    if (!(e->inputFlags & EDIT_INPUT_IME_ENFORCED)) {
      int32_t open = 0;
      uint32_t conversion = 0, sentence = 0;
      ImeGetStatus(e->owner, &open, &conversion, &sentence, nullptr);
      e->savedOpen = open;
      e->savedConversion = conversion;
      e->savedSentence = sentence;
    }
    ImeSetStatus(context, e->savedOpen, e->savedConversion, e->savedSentence, &e->savedCompositionFont);
  }
  if (e->caretCreated) {
    if (ui::caretOwner() == e->owner) {
      ui::hideCaret(e->owner);
      ui::destroyCaret();
    }
    e->caretCreated = false;
  }
  invalidateVisible(e);
  destroyObject(e);
  return 0;
}

int32_t EditSetFontHeight(float size, int32_t inPoints) {
  if (!liveEdits().empty()) return cellFontHeight();
  const double v = inPoints ? static_cast<double>(size) * 8.0 / 10.5 : static_cast<double>(size) * 0.5;
  int32_t height = 2 * static_cast<int32_t>(std::floor(v + 0.5));
  if (height < 2) height = 16;
  // The shared fonts are made from it at the next creation.
  library().fontHeight = height;
  return height;
}

int32_t EditSetParent(EditHandle edit, EditHandle parentHandle) {
  EditObject* e = checked(edit);
  if (!e) return -1;
  EditObject* parent = nullptr;
  if (parentHandle) {
    parent = checked(parentHandle);
    if (!parent) return -1;
  }
  e->parent = parent;
  if (!parent) return 0;
  const int32_t column = e->homeX + e->caretColumn - parent->x;
  const int32_t row = e->homeY + e->caretRow - parent->y;
  if (column >= 0 && row >= 0 && (parent->caretColumn != column || parent->caretRow != row))
    EditMoveCaret(parent, column, row, false);
  const bool gapChanged = parent->gapX != e->gapX || parent->gapY != e->gapY;
  if (gapChanged) {
    e->gapX = parent->gapX;
    e->gapY = parent->gapY;
    e->cw = parent->cw;
    e->ch = parent->ch;
    try {
      rebuildAdvance(e);
    } catch (const std::bad_alloc&) {
      ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
      return -1;
    }
  }
  layout(e);
  if (gapChanged) invalidateVisible(e);
  return 0;
}

int32_t EditSetViewGap(EditHandle edit, int32_t gapX, int32_t gapY) {
  EditObject* e = checked(edit);
  if (!e || gapX < 0 || gapY < 0) return -1;
  e->gapX = gapX;
  e->gapY = gapY;
  e->cw = gapX + cellFontHeight() / 2;
  e->ch = gapY + cellFontHeight();
  layout(e);
  try {
    rebuildAdvance(e);
  } catch (const std::bad_alloc&) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }
  invalidateVisible(e);
  return 0;
}

int32_t EditSetViewLock(EditHandle edit, int32_t lockedColumns, int32_t lockedRows) {
  EditObject* e = checked(edit);
  if (!e || lockedColumns < 0 || lockedRows < 0) return -1;
  e->lx = lockedColumns;
  e->ly = lockedRows;
  invalidateVisible(e);
  return 0;
}

int32_t EditGetViewPos(EditHandle edit, int32_t* point) {
  EditObject* e = checked(edit);
  if (!e || !point) return -1;
  point[0] = e->x * e->cw;
  point[1] = e->y * e->ch;
  return 0;
}

int32_t EditGetViewSize(EditHandle edit, int32_t* size) {
  EditObject* e = checked(edit);
  if (!e || !size) return -1;
  const ui::Rect visible = visibleRect(e);
  size[0] = (e->createFlags & EDIT_CREATE_FOLLOW_WIDTH) ? visible.width() + (e->verticalBar ? 16 : 0) : e->ux * e->cw;
  size[1] =
      (e->createFlags & EDIT_CREATE_FOLLOW_HEIGHT) ? visible.height() + (e->horizontalBar ? 16 : 0) : e->uy * e->ch;
  return 0;
}

int32_t EditSetReadOnly(EditHandle edit, int32_t on) {
  EditObject* e = checked(edit);
  if (!e) return -1;
  if (on) e->createFlags |= EDIT_CREATE_READONLY;
  else e->createFlags &= ~EDIT_CREATE_READONLY;
  if (!on && e->hasFocus) e->caretWanted = true;
  updateCaret(e);
  return 0;
}

int32_t EditSetBuf(EditHandle edit, int32_t usedColumns, int32_t usedRows, const char* text, const uint8_t* atr) {
  EditObject* e = checked(edit);
  if (!e || !text || usedColumns < 1 || usedRows < 1 || usedColumns > e->allocatedColumns ||
      usedRows > e->allocatedRows)
    return -1;
  e->ux = usedColumns;
  e->uy = usedRows;
  layout(e);
  try {
    rebuildAdvance(e);
  } catch (const std::bad_alloc&) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }
  // Row by row: a row takes characters until it is full; LF, CR or CR LF end
  // it, so a line break right after a full row makes an empty row; NUL ends
  // the load and the rows after keep what they held.
  const size_t limit = static_cast<size_t>(usedColumns) * static_cast<size_t>(usedRows);
  size_t i = 0;
  bool ended = false;
  for (int32_t r = 0; r < usedRows && !ended; ++r) {
    char* row = e->row(r);
    uint8_t* atrRow = e->atrRow(r);
    int32_t column = 0;
    for (;;) {
      if (column >= usedColumns) break;  // full: a line break after it makes an empty row
      const char c = text[i];
      if (c == '\0') {
        ended = true;
        break;
      }
      if (c == '\n') {
        ++i;
        break;
      }
      if (c == '\r') {
        ++i;
        if (i < limit && text[i] == '\n') ++i;
        break;
      }
      row[column] = c;
      if (atr) atrRow[column] = atr[i];
      ++column;
      ++i;
    }
  }
  // A date/time field's caret stands at the end of a digit group.
  const int32_t group = (e->inputFlags & EDIT_INPUT_FULLWIDTH_DIGITS) ? 4 : 2;
  if (e->isNumeric() && (e->inputFlags & EDIT_INPUT_DATE_TIME) && e->caretColumn < group)
    e->caretColumn = std::min(group, e->ux);
  e->caretRow = std::min(e->caretRow, e->uy - 1);
  e->caretColumn = std::min(e->caretColumn, e->ux);
  invalidateVisible(e);
  updateCaret(e);
  return 0;
}

int32_t EditGetBuf(EditHandle edit, char* text, uint8_t* atr) {
  EditObject* e = checked(edit);
  if (!e || !text || e->text.empty()) return -1;
  if (e->inputFlags & EDIT_INPUT_CHOICE_LIST) {
    const int32_t chosen = std::min(e->fy, std::max(e->uy - 1, 0));
    std::memcpy(text, e->row(chosen), static_cast<size_t>(e->ux));
    if (atr) std::memcpy(atr, e->atrRow(chosen), static_cast<size_t>(e->ux));
    return 0;
  }
  for (int32_t r = 0; r < e->uy; ++r) {
    std::memcpy(text + static_cast<size_t>(r) * e->ux, e->row(r), static_cast<size_t>(e->ux));
    if (atr) std::memcpy(atr + static_cast<size_t>(r) * e->ux, e->atrRow(r), static_cast<size_t>(e->ux));
  }
  return 0;
}

int32_t EditGetCaretPos(EditHandle edit, int32_t* point) {
  EditObject* e = checked(edit);
  if (!e || !point || !e->caretCreated) return -1;
  point[0] = e->caretColumn;
  point[1] = e->caretRow;
  return 0;
}

LRESULT EditCallBackProc(EditHandle edit, uint32_t message, WPARAM wParam, LPARAM lParam) {
  EditObject* e = checked(edit);
  if (!e) return 0;
  return EditWndProc(e, message, wParam, lParam);
}
