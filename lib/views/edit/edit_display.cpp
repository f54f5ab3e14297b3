// Drawing an edit into its owner window: geometry and layout, its scroll bars
// and the owner's scrolling, painting in runs of equal attribute with ruled
// lines and box frames, invalidation, the caret, the input method and the
// message entry.
#include <algorithm>
#include <string>

#include "lib/core/report.h"
#include "lib/views/edit/edit_object.h"
#include "platform/base/cp932.h"
#include "platform/ui/desktop.h"
#include "platform/ui/paint.h"
#include "platform/ui/view.h"
#include "zemta/winhelp.h"

namespace zemta::edit {

namespace ui = platform::ui;

namespace {

constexpr int32_t kBar = 16;  // scroll-bar thickness
constexpr uint32_t kImnSetConversionMode = 6, kImnSetOpenStatus = 8;

int32_t ceilDiv(int32_t a, int32_t b) { return a >= 0 ? (a + b - 1) / b : -((-a) / b); }
int32_t floorDiv(int32_t a, int32_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
int32_t half(int32_t gap) { return (gap + 1) / 2; }  // ceil(gap / 2)

bool isEmpty(const ui::Rect& r) { return r.right <= r.left || r.bottom <= r.top; }

ui::Rect intersect(const ui::Rect& a, const ui::Rect& b) {
  ui::Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  if (isEmpty(r)) return {};
  return r;
}

bool contains(const ui::Rect& r, int32_t x, int32_t y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

ui::Rect ownerClient(HWND owner) {
  if (ui::View* view = ui::viewFromHandle(owner)) return view->clientRect();
  return ui::clientRect(owner);
}

bool isRuledLine(const char* pair) {
  const uint32_t code = (static_cast<uint8_t>(pair[0]) << 8) | static_cast<uint8_t>(pair[1]);
  return GetLineCharMask(code) != 0;
}

// The attribute a cell is drawn with: the selection and the highlighted row
// of a row-select list swap its paper bit. The highlight ends at the row's
// last cell with content (highlightEnd): the empty cells right of the last
// column keep the paper, not a black block.
uint8_t drawnAtr(EditObject* e, const Block& selection, int32_t column, int32_t row, int32_t highlightEnd) {
  if (column >= e->ux || row >= e->uy) return EDIT_ATR_NORMAL;
  uint8_t a = e->atr[e->index(column, row)];
  if ((e->inputFlags & EDIT_INPUT_ROW_SELECT) && row == e->highlightedRow && column < highlightEnd)
    a ^= EDIT_ATR_PAPER;
  if (e->selecting && column >= selection.left && column < selection.left + selection.width && row >= selection.top &&
      row < selection.top + selection.height)
    a ^= EDIT_ATR_PAPER;
  return a;
}

// One past the last cell of the row that is not an empty cell (0xF5).
int32_t contentEnd(EditObject* e, int32_t row) {
  if (row >= e->uy) return 0;
  int32_t end = e->ux;
  while (end > 0 && e->atr[e->index(end - 1, row)] == EDIT_ATR_NORMAL) --end;
  return end;
}

void drawStrokes(ui::DrawContext& dc, uint32_t mask, uint32_t colour, const ui::Rect& pair) {
  const int32_t mx = pair.left + (pair.right - pair.left) / 2, my = pair.top + (pair.bottom - pair.top) / 2;
  for (int thick = 0; thick < 2; ++thick) {
    const uint32_t bits = (mask >> (thick * 8)) & 0xF;
    if (!bits) continue;
    dc.setPen(colour, thick ? 2 : 1);
    if (bits & 1) dc.line(mx, pair.top, mx, my);
    if (bits & 2) dc.line(mx, my, pair.right, my);
    if (bits & 4) dc.line(mx, my, mx, pair.bottom);
    if (bits & 8) dc.line(pair.left, my, mx, my);
  }
}

// The frame rectangle of a box row (inclusive right and bottom, as the
// frames are drawn), in the viewport of the paint.
ui::Rect frameRect(EditObject* e, const EditBox& box, int32_t rowOffset) {
  int32_t left = box.x * e->cw, top = box.y * e->ch;
  if (box.flags & EDIT_BOX_FLOATING) {
    left += e->fx * e->cw;
    top += e->fy * e->ch;
  }
  const bool perRow = box.flags & EDIT_BOX_PER_ROW;
  top += rowOffset * e->ch;
  const int32_t top0 = top;
  int32_t right = left + box.width * e->cw - 1;
  int32_t bottom = top + (perRow ? e->ch : box.height * e->ch) - 1;
  if (box.flags & EDIT_BOX_OUTSIDE) {
    const uint32_t type = box.flags & EDIT_BOX_TYPE_MASK;
    if (type == EDIT_BOX_RECTANGLE) {
      if (e->gapX == 0) --left;
      if (e->gapY == 0) --top;
    } else if ((box.flags & EDIT_BOX_WIDE) == EDIT_BOX_WIDE) {
      left -= 4;
      right += 5;
      top -= 4;
      bottom += 5;
    } else {
      static const int32_t kBefore[4] = {2, 1, 1, 0}, kAfter[4] = {2, 2, 1, 1};
      if (e->gapX < 4) {
        left -= kBefore[e->gapX];
        right += kAfter[e->gapX];
      }
      if (e->gapY < 4) {
        top -= kBefore[e->gapY];
        bottom += kAfter[e->gapY];
      }
    }
    // With a row gap, one frame a row keeps to its own row's pixels: its
    // top line on the row's first, its bottom line on the one before the
    // last, which stays paper between two rows' frames. The glyphs (half the
    // gap down) fill the rows between; drawn higher, a frame covers the foot
    // of the text of the row above.
    if (perRow && e->gapY > 0) {
      top = std::max(top, top0);
      bottom = std::min(bottom, top0 + e->ch - 2);
    }
  }
  return {left, top, right, bottom};
}

void drawBox(EditObject* e, ui::DrawContext& dc, size_t index, int32_t x0, int32_t y0) {
  const EditBox& box = e->boxes[index];
  if (box.width == 0 || box.height == 0) return;
  const uint8_t firstAtr = e->atr[e->index(box.x, box.y)];
  const uint32_t pen = colourOfAtr(firstAtr);
  const uint32_t type = box.flags & EDIT_BOX_TYPE_MASK;
  const bool perRow = box.flags & EDIT_BOX_PER_ROW;
  const int32_t frames = perRow ? box.height : 1;
  for (int32_t r = 0; r < frames; ++r) {
    ui::Rect f = frameRect(e, box, r);
    ui::Rect shown{x0 + f.left, y0 + f.top, x0 + f.right + 1, y0 + f.bottom + 1};
    const bool pushed = e->pressedBox == index + 1 && (!perRow || e->pressedRow == r);
    if (type == EDIT_BOX_BUTTON) {
      dc.buttonFrame(shown, pushed);
      const char first = e->text[e->index(box.x, box.y + (perRow ? r : 0))];
      if ((box.flags & EDIT_BOX_ARROW) && first != ' ') {
        const int32_t mx = (shown.left + shown.right - 1) / 2 + (pushed ? 1 : 0);
        const int32_t my = (shown.top + shown.bottom - 1) / 2 + (pushed ? 1 : 0);
        const ui::Point corners[3] = {{mx - 3, my - 4}, {mx + 1, my}, {mx - 3, my + 4}};
        dc.setPen(0x808000);
        dc.setBrush(0x808000);
        dc.polygon(corners, 3);
        dc.setNoBrush();
      }
    } else if (type == EDIT_BOX_SUNKEN) {
      // A row's frame in a row gap has room for one line above its text and
      // one below: the edge's inner lines and the paper margin around it are
      // drawn at the sides only, and nothing leaves the row.
      const bool withinRow = perRow && e->gapY > 0 && (box.flags & EDIT_BOX_OUTSIDE);
      if (withinRow) {
        dc.save();
        const ui::Rect row{shown.left - 8, shown.top, shown.right + 8, shown.top + e->ch};
        dc.intersectClip(&row, 1);
        dc.excludeClip({shown.left + 2, shown.top + 1, shown.right - 2, shown.bottom - 1});
      }
      dc.sunkenEdge(shown);
      if ((box.flags & EDIT_BOX_WIDE) == EDIT_BOX_WIDE) {
        const uint8_t rowAtr = e->atr[e->index(box.x, box.y + (perRow ? r : 0))];
        const uint32_t colour = (rowAtr & EDIT_ATR_PAPER) ? colourOfAtr(rowAtr) : 0;
        dc.setPen(colour);
        dc.setNoBrush();
        for (int32_t out = 1; out <= 2; ++out)
          dc.rectangle({shown.left - out, shown.top - out, shown.right + out, shown.bottom + out});
      }
      if (withinRow) dc.restore();
    } else if (type == EDIT_BOX_RECTANGLE) {
      dc.setPen(pen);
      dc.setNoBrush();
      dc.rectangle(shown);
    }
  }
}

// Paints cells column..column+columns, row..row+rows of the buffer. mode bit
// 1: the columns are the locked ones, drawn unscrolled; bit 2: the rows.
void paintCells(EditObject* e, ui::DrawContext& dc, int32_t column, int32_t row, int32_t columns, int32_t rows,
                int32_t mode) {
  if (columns <= 0 || rows <= 0 || isEmpty(e->textRegion)) return;
  dc.save();
  ui::Rect base = e->textRegion;
  if (e->parent) base = intersect(base, e->parent->editRegion);
  ui::Rect clip[2] = {base, e->cornerRegion};
  dc.intersectClip(clip, isEmpty(e->cornerRegion) ? 1 : 2);
  HostView host;
  if (findHost(e, host) && host.editIsItem) {
    dc.intersectClip(&host.itemRegion, 1);
    for (EditObject* later : host.laterItemEdits)
      if (!isEmpty(later->editRegion)) dc.excludeClip(later->editRegion);
  }
  int32_t x0 = ((mode & 1) ? e->x : e->x - e->fx) * e->cw - e->hpix;
  int32_t y0 = ((mode & 2) ? e->y : e->y - e->fy) * e->ch - e->vpix;
  if (e->parent) {
    const int32_t lockWidth = e->parent->cw * e->parent->lx, lockHeight = e->parent->ch * e->parent->ly;
    if (x0 < lockWidth) x0 += lockWidth;
    if (y0 < lockHeight) y0 += lockHeight;
  }
  const Block selection = selectionBlock(e);
  const int32_t height = cellFontHeight();
  std::string run;
  for (int32_t r = row; r < row + rows && r < e->allocatedRows; ++r) {
    int32_t first = std::min(column, e->allocatedColumns - 1), last = std::min(column + columns, e->allocatedColumns);
    if (r < e->uy) {
      if (first < e->ux && byteKind(e, first, r) == 2) --first;
      if (last - 1 < e->ux && last - 1 >= 0 && byteKind(e, last - 1, r) == 1) last = std::min(last + 1, e->ux);
    }
    const int32_t highlightEnd = r == e->highlightedRow ? contentEnd(e, r) : 0;
    for (int32_t c = first; c < last;) {
      const uint8_t a = drawnAtr(e, selection, c, r, highlightEnd);
      int32_t end = c;
      while (end < last && drawnAtr(e, selection, end, r, highlightEnd) == a) {
        end += (end < e->ux && r < e->uy && byteKind(e, end, r) == 1) ? 2 : 1;
      }
      end = std::min(end, e->allocatedColumns);
      run.assign(static_cast<size_t>(end - c), ' ');
      if (r < e->uy)
        for (int32_t i = c; i < end && i < e->ux; ++i) run[static_cast<size_t>(i - c)] = e->row(r)[i];
      const uint32_t colour = colourOfAtr(a);
      const uint32_t background = (a & EDIT_ATR_PAPER) ? colour : 0;
      const uint32_t textColour = (a & EDIT_ATR_PAPER) ? 0 : colour;
      const ui::Rect box{x0 + c * e->cw, y0 + r * e->ch, x0 + end * e->cw, y0 + (r + 1) * e->ch};
      if (a & EDIT_ATR_VISIBLE) {
        // Ruled-line characters are drawn as strokes over two blank cells.
        std::vector<std::pair<int32_t, uint32_t>> strokes;
        for (size_t i = 0; i + 1 < run.size(); ++i) {
          if (!platform::cp932::isLeadByte(static_cast<uint8_t>(run[i]))) continue;
          if (isRuledLine(&run[i])) {
            const uint32_t code = (static_cast<uint8_t>(run[i]) << 8) | static_cast<uint8_t>(run[i + 1]);
            strokes.emplace_back(c + static_cast<int32_t>(i), GetLineCharMask(code));
            run[i] = run[i + 1] = ' ';
          }
          ++i;
        }
        dc.setCellFont(kCellFace, height, 500, (a & EDIT_ATR_UNDERLINE) != 0, (a & EDIT_ATR_STRIKE) != 0);
        dc.setTextColour(textColour);
        dc.cellText(box, box.left + half(e->gapX), box.top + half(e->gapY), run, e->cw, background);
        for (auto& [at, mask] : strokes)
          drawStrokes(dc, mask, textColour, {x0 + at * e->cw, box.top, x0 + (at + 2) * e->cw, box.bottom});
      } else {
        dc.fillRect(box, backgroundColour());
      }
      c = end;
    }
  }
  // Boxes that meet the block.
  for (size_t i = 0; i < e->boxes.size(); ++i) {
    const EditBox& b = e->boxes[i];
    int32_t bx = b.x, by = b.y;
    if (b.flags & EDIT_BOX_FLOATING) {
      bx += e->fx;
      by += e->fy;
    }
    if (bx + b.width + 1 < column || bx > column + columns || by + b.height + 1 < row || by > row + rows) continue;
    if ((b.flags & EDIT_BOX_TYPE_MASK) == EDIT_BOX_BUTTON && !(b.flags & EDIT_BOX_ARROW)) {
      const int32_t frames = (b.flags & EDIT_BOX_PER_ROW) ? b.height : 1;
      for (int32_t r = 0; r < frames; ++r) {
        const int32_t top = y0 + (by + r) * e->ch + half(e->gapY);
        const int32_t bottom = (b.flags & EDIT_BOX_PER_ROW) ? top + e->ch - e->gapY : y0 + (by + b.height) * e->ch;
        dc.excludeClip({x0 + bx * e->cw + half(e->gapX), top, x0 + (bx + b.width) * e->cw, bottom});
      }
    }
    drawBox(e, dc, i, x0, y0);
  }
  dc.restore();
  if (!isEmpty(e->cornerRegion)) dc.fillRect(e->cornerRegion, backgroundColour());
}

// The owner's scroll position on one axis and the unit it counts in; false
// when the edit does not follow that axis.
bool ownerScroll(EditObject* e, bool horizontal, int32_t& position, int32_t& unit) {
  if (e->createFlags & (horizontal ? EDIT_CREATE_FIXED_H : EDIT_CREATE_FIXED_V)) return false;
  unit = 1;
  position = 0;
  // A record view scrolls by itself (its window is a view without scroll
  // sizes of its own), so its lookup comes first.
  HostView host;
  if (findHost(e, host)) {
    unit = std::max(1, horizontal ? host.unitX : host.unitY);
    position = (horizontal ? host.scrollX : host.scrollY) / unit;
    return true;
  }
  if (ui::View* view = ui::viewFromHandle(e->owner)) {
    const ui::Point p = view->scrollPosition();
    position = horizontal ? p.x : p.y;
  }
  return true;
}

// Follows the owner on one axis; true when the edit moved.
bool followOwner(EditObject* e, bool horizontal) {
  int32_t position = 0, unit = 1;
  if (!ownerScroll(e, horizontal, position, unit)) return false;
  const bool cells = e->createFlags & (horizontal ? EDIT_CREATE_HSCROLL_CELLS : EDIT_CREATE_VSCROLL_CELLS);
  int32_t& target = cells ? (horizontal ? e->fx : e->fy) : (horizontal ? e->hpix : e->vpix);
  const int32_t value = cells ? ceilDiv(position, horizontal ? e->cw : e->ch) : position * unit;
  if (value == target) return false;
  target = value;
  return true;
}

void applyImeState(EditObject* e, int32_t open, uint32_t conversion, uint32_t sentence) {
  if (e->inputContext) ImeSetStatus(reinterpret_cast<HIMC>(e->inputContext), open, conversion, sentence, nullptr);
}

bool imeBitsSet(const EditObject* e) {
  return (e->inputFlags & (EDIT_INPUT_IME_FULLWIDTH | EDIT_INPUT_IME_ENFORCED)) != 0;
}

void imeNotify(EditObject* e, uint32_t what) {
  if (!e->caretCreated || (what != kImnSetOpenStatus && what != kImnSetConversionMode)) return;
  int32_t open = 0;
  uint32_t conversion = 0, sentence = 0;
  if (!ImeGetStatus(e->owner, &open, &conversion, &sentence, nullptr)) return;
  const bool enforced = e->inputFlags & EDIT_INPUT_IME_ENFORCED;
  if (open) {
    if (enforced) {
      if (e->inputFlags & EDIT_INPUT_IME_FULLWIDTH) {
        conversion |= 0x8;  // full-width
      } else if (e->inputFlags & EDIT_INPUT_IME_KATAKANA) {
        if ((conversion & ~0x910u) != 3) {
          conversion = (e->savedConversion & 0x10) | 0x903;
          sentence = 0;
        }
      } else {
        applyImeState(e, 0, conversion, sentence);
        return;
      }
      applyImeState(e, 1, conversion, sentence);
    }
    e->ownConversion = conversion;
    e->ownSentence = sentence;
  } else if (enforced) {
    if (e->inputFlags & EDIT_INPUT_IME_FULLWIDTH) {
      applyImeState(e, 1, e->ownConversion, e->ownSentence);
    } else if (e->ownConversion != e->savedConversion || e->ownSentence != e->savedSentence ||
               e->ownOpen != e->savedOpen) {
      e->ownOpen = e->savedOpen;
      e->ownConversion = e->savedConversion;
      e->ownSentence = e->savedSentence;
      applyImeState(e, e->ownOpen, e->ownConversion, e->ownSentence);
    }
  }
}

// The edit's own bar moved by a request (WM_HSCROLL, WM_VSCROLL).
void ownBarScroll(EditObject* e, bool horizontal, WPARAM request) {
  HWND bar = horizontal ? e->horizontalBar : e->verticalBar;
  const int32_t position = ScrollCtlBar(bar, static_cast<uint32_t>(request));
  int32_t& first = horizontal ? e->fx : e->fy;
  if (position < 0 || position == first) return;
  first = position;
  if (!horizontal && (e->inputFlags & EDIT_INPUT_CHOICE_LIST)) e->modified = true;
  // The text area beyond the locked columns (rows) shows other cells now.
  ui::Rect area = e->textRegion;
  if (horizontal) area.left += e->lx * e->cw;
  else area.top += e->ly * e->ch;
  if (!isEmpty(area)) ui::invalidateRect(e->owner, area);
  updateCaret(e);
}

void eraseBackground(EditObject* e) {
  ui::Rect damaged;
  ui::DrawContext* dc = ui::paintInProgress(e->owner, &damaged);
  if (!dc) return;
  const ui::Rect client = ownerClient(e->owner);
  dc->save();
  dc->intersectClip(&client, 1);
  if (!isEmpty(e->editRegion)) dc->excludeClip(e->editRegion);
  dc->fillRect(client, backgroundColour());
  dc->restore();
}

}  // namespace

ui::Rect clipRect(EditObject* e) {
  const auto& edits = liveEdits();
  auto self = std::find(edits.begin(), edits.end(), e);
  for (auto it = self; it != edits.begin();) {
    EditObject* o = *--it;
    if (o->owner != e->owner) continue;
    if (o->x <= e->x && o->y <= e->y && o->x + o->visibleColumns >= e->x + std::max(e->visibleColumns, 1) &&
        o->y + o->visibleRows >= e->y + std::max(e->visibleRows, 1))
      return visibleRect(o);
  }
  HostView host;
  if (findHost(e, host)) {
    ui::Rect r = host.client;
    r.left = host.lockLeft;
    r.top = host.lockTop;
    if (host.verticalBar) r.right -= kBar;
    if (host.horizontalBar) r.bottom -= kBar;
    return r;
  }
  return ownerClient(e->owner);
}

ui::Rect visibleRect(EditObject* e) {
  ui::Rect r;
  r.left = std::max(e->x * e->cw - e->hpix, 0);
  r.top = std::max(e->y * e->ch - e->vpix, 0);
  const int32_t columns = (e->parent || (e->createFlags & EDIT_CREATE_FOLLOW_WIDTH)) ? e->visibleColumns : e->ux;
  const int32_t rows = (e->parent || (e->createFlags & EDIT_CREATE_FOLLOW_HEIGHT)) ? e->visibleRows : e->uy;
  r.right = std::min(r.left + columns * e->cw, e->clientWidth);
  r.bottom = std::min(r.top + rows * e->ch, e->clientHeight);
  if (!isEmpty(e->editRegion)) {
    r.right = e->editRegion.right;
    r.bottom = e->editRegion.bottom;
  }
  if (e->verticalBar) r.right -= kBar;
  if (e->horizontalBar) r.bottom -= kBar;
  return intersect(r, clipRect(e));
}

void layout(EditObject* e) {
  int32_t contentColumns = e->ux, contentRows = e->uy;
  if (e->parent) {
    e->x = e->homeX - ((e->parent->createFlags & EDIT_CREATE_HSCROLL_CELLS) ? 0 : e->parent->fx);
    e->y = e->homeY - ((e->parent->createFlags & EDIT_CREATE_VSCROLL_CELLS) ? 0 : e->parent->fy);
    contentColumns = e->visibleColumns;
    contentRows = e->visibleRows;
  }
  int32_t width = contentColumns * e->cw, height = contentRows * e->ch;
  if (e->createFlags & EDIT_CREATE_FOLLOW_WIDTH) {
    e->visibleColumns = std::clamp(ceilDiv(e->clientWidth, e->cw) - e->x, 1, e->allocatedColumns);
    width = e->visibleColumns * e->cw;
  }
  if (e->createFlags & EDIT_CREATE_FOLLOW_HEIGHT) {
    e->visibleRows = std::clamp(ceilDiv(e->clientHeight, e->ch) - e->y, 1, e->allocatedRows);
    height = e->visibleRows * e->ch;
  }
  const int32_t ox = e->x * e->cw - e->hpix, oy = e->y * e->ch - e->vpix;
  int32_t neededH = 0, neededV = 0;
  if (ox + width > e->clientWidth) {
    width = std::max(e->clientWidth - ox, 0);
    if (e->createFlags & EDIT_CREATE_FOLLOW_WIDTH) neededH = 1;
  }
  if (oy + height > e->clientHeight) {
    height = std::max(e->clientHeight - oy, 0);
    if (e->createFlags & EDIT_CREATE_FOLLOW_HEIGHT) neededV = 1;
  }
  if ((e->createFlags & EDIT_CREATE_FOLLOW_WIDTH) && (e->createFlags & EDIT_CREATE_FOLLOW_HEIGHT) &&
      (width < e->ux * e->cw || height < e->uy * e->ch) && width - kBar < e->ux * e->cw &&
      height - kBar < e->uy * e->ch) {
    ++neededH;
    ++neededV;
  }
  bool hbar = (e->createFlags & EDIT_CREATE_HSCROLL) && e->visibleColumns < e->ux + neededH && width > 15 &&
              height >= e->ch + kBar;
  bool vbar = (e->createFlags & EDIT_CREATE_VSCROLL) && e->visibleRows < e->uy + neededV && width > kBar && height > 15;
  auto place = [&](HWND& bar, bool wanted, const ui::Rect& rect, bool vertical) {
    if (!wanted) {
      if (bar) ui::destroyWindow(bar);
      bar = nullptr;
      return false;
    }
    if (bar && ui::isWindow(bar)) return ui::moveWindow(bar, rect);
    bar = ui::isWindow(e->owner) ? ui::createScrollBar(e->owner, rect, vertical) : nullptr;
    return bar != nullptr;
  };
  hbar = place(e->horizontalBar, hbar, {ox, oy + height - kBar, ox + width - (vbar ? kBar : 0), oy + height}, false);
  vbar = place(e->verticalBar, vbar, {ox + width - kBar, oy, ox + width, oy + height - (hbar ? kBar : 0)}, true);
  e->editRegion = (width > 0 && height > 0) ? ui::Rect{ox, oy, ox + width, oy + height} : ui::Rect{};
  const int32_t textWidth = std::max(width - (vbar ? kBar : 0), 0), textHeight = std::max(height - (hbar ? kBar : 0), 0);
  e->sx = textWidth / e->cw;
  e->sy = textHeight / e->ch;
  if (hbar) {
    ui::setScrollInfo(e->horizontalBar, {0, std::max(e->ux - 1, 0), e->sx, std::min(e->fx, std::max(e->ux - e->sx, 0))});
    ui::ScrollInfo info;
    if (ui::scrollInfo(e->horizontalBar, info)) e->fx = info.position;
  }
  if (vbar) {
    ui::setScrollInfo(e->verticalBar, {0, std::max(e->uy - 1, 0), e->sy, std::min(e->fy, std::max(e->uy - e->sy, 0))});
    ui::ScrollInfo info;
    if (ui::scrollInfo(e->verticalBar, info)) e->fy = info.position;
  }
  if (textWidth % e->cw) ++e->sx;
  if (textHeight % e->ch) ++e->sy;
  e->textRegion =
      (textWidth > 0 && textHeight > 0) ? ui::Rect{ox, oy, ox + textWidth, oy + textHeight} : ui::Rect{};
  e->cornerRegion = (hbar && vbar && !isEmpty(e->textRegion))
                        ? ui::Rect{e->textRegion.right, e->textRegion.bottom, e->textRegion.right + kBar,
                                   e->textRegion.bottom + kBar}
                        : ui::Rect{};
}

void syncScroll(EditObject* e) {
  followOwner(e, true);
  followOwner(e, false);
}

void syncHScroll(EditObject* e) {
  if (!followOwner(e, true)) return;
  invalidateVisible(e);
  layout(e);
  invalidateVisible(e);
  updateCaret(e);
}

void syncVScroll(EditObject* e) {
  if (!followOwner(e, false)) return;
  invalidateVisible(e);
  layout(e);
  invalidateVisible(e);
  updateCaret(e);
}

void invalidateCells(EditObject* e, int32_t column, int32_t row, int32_t columns, int32_t rows) {
  if (e->sx == 0 || e->sy == 0 || !ui::isWindow(e->owner)) return;
  bool outside = false, allRectangles = true;
  for (const EditBox& b : e->boxes) {
    if (!(b.flags & EDIT_BOX_OUTSIDE)) continue;
    if (b.x > column + columns || b.x + b.width < column || b.y > row + rows || b.y + b.height < row) continue;
    outside = true;
    if ((b.flags & EDIT_BOX_TYPE_MASK) != EDIT_BOX_RECTANGLE) allRectangles = false;
  }
  if (outside) {
    if (column > 0) --column;
    if (row > 0) --row;
    columns += allRectangles ? 1 : 2;
    rows += allRectangles ? 1 : 2;
  }
  const int32_t maxColumns = e->ux + ((e->createFlags & EDIT_CREATE_FOLLOW_WIDTH) ? 1 : 0);
  const int32_t maxRows = e->uy + ((e->createFlags & EDIT_CREATE_FOLLOW_HEIGHT) ? 1 : 0);
  columns = std::min(columns, maxColumns - column);
  rows = std::min(rows, maxRows - row);
  if (columns <= 0 || rows <= 0) return;
  ui::Rect r;
  r.left = (column + e->x) * e->cw - e->hpix - (column >= e->lx ? e->fx * e->cw : 0);
  r.top = (row + e->y) * e->ch - e->vpix - (row >= e->ly ? e->fy * e->ch : 0);
  r.right = r.left + columns * e->cw;
  r.bottom = r.top + rows * e->ch;
  HostView host;
  const bool hosted = findHost(e, host);
  const ui::Rect visible = visibleRect(e);
  if (r.right + (hosted ? host.unitX : 1) * e->cw >= visible.right) r.right = std::max(r.right, visible.right);
  if (r.bottom + (hosted ? host.unitY : 1) * e->ch >= visible.bottom) r.bottom = std::max(r.bottom, visible.bottom);
  // Frames outside the cells reach a few pixels further.
  if (outside) r = {r.left - 5, r.top - 5, r.right + 6, r.bottom + 6};
  ui::invalidateRect(e->owner, r);
}

int32_t invalidateBox(EditObject* e, size_t index, int32_t pointY) {
  if (index >= e->boxes.size()) return 0;
  const EditBox& b = e->boxes[index];
  int32_t row = 0;
  if (b.flags & EDIT_BOX_PER_ROW) {
    if (pointY >= 0) row = std::clamp((pointY + e->vpix) / e->ch - e->y + e->fy - b.y, 0, b.height - 1);
    else row = e->pressedRow;
    invalidateCells(e, b.x, b.y + row, b.width, 1);
  } else {
    invalidateCells(e, b.x, b.y, b.width, b.height);
  }
  return row;
}

void invalidateVisible(EditObject* e) {
  if (!ui::isWindow(e->owner)) return;
  ui::Rect r = visibleRect(e);
  if (!isEmpty(e->editRegion)) r = e->editRegion;
  if (isEmpty(r)) return;
  ui::invalidateRect(e->owner, {r.left - 5, r.top - 5, r.right + 6, r.bottom + 6});
}

void updateCaret(EditObject* e) {
  if (e->caretShown) {
    ui::hideCaret(e->owner);
    e->caretShown = false;
  }
  const bool readOnly = e->createFlags & EDIT_CREATE_READONLY;
  if (readOnly || !e->hasFocus || !e->caretWanted) {
    if (e->caretCreated) {
      if (imeBitsSet(e)) {
        int32_t open = 0;
        if (ImeGetStatus(e->owner, &open, nullptr, nullptr, nullptr)) e->ownOpen = open;
        applyImeState(e, e->savedOpen, e->savedConversion, e->savedSentence);
      }
      if (ui::caretOwner() == e->owner) ui::destroyCaret();
      e->caretCreated = false;
    }
    e->wideCaret = false;
    e->extending = false;
    return;
  }
  if (e->caretColumn < e->ux && e->caretRow < e->uy) {
    if (byteKind(e, e->caretColumn, e->caretRow) == 2) --e->caretColumn;
  }
  const bool wide = e->caretColumn < e->ux && e->caretRow < e->uy && byteKind(e, e->caretColumn, e->caretRow) == 1;
  e->wideCaret = wide;
  const int32_t height = cellFontHeight();
  // A numeric field takes its characters at its right end: a caret after the
  // last cell stands at that cell's right edge, where the digits come in,
  // clear of the digits.
  const bool pastNumber = e->isNumeric() && e->ux > 0 && e->caretColumn >= e->ux;
  const int32_t cellColumn = pastNumber ? e->ux - 1 : e->caretColumn;
  int32_t px = (cellColumn + e->x - e->fx) * e->cw + half(e->gapX) - e->hpix;
  int32_t py = (e->caretRow + e->y - e->fy) * e->ch + half(e->gapY) - e->vpix;
  int32_t width = (e->insertMode || cellColumn - e->fx >= e->sx - 1) ? 2 : (wide ? height : height / 2);
  if (pastNumber) px = (e->ux + e->x - e->fx) * e->cw - e->hpix - width;
  int32_t caretHeight = height - 1;
  ui::Rect limit;
  if (e->parent) {
    const ui::Rect pv = visibleRect(e->parent);
    limit = {pv.left + e->parent->lx * e->parent->cw, pv.top + e->parent->ly * e->parent->ch, pv.right, pv.bottom};
  } else {
    limit = {0, 0, e->clientWidth, e->clientHeight};
  }
  if (px < limit.left) {
    width -= limit.left - px;
    px = limit.left;
  }
  if (py < limit.top) {
    caretHeight -= limit.top - py;
    py = limit.top;
  }
  width = std::max(0, std::min(width, limit.right - px));
  caretHeight = std::max(0, std::min(caretHeight, limit.bottom - py));
  const bool sameShape = e->caretCreated && e->caretWidth == width && e->caretHeight == caretHeight &&
                         ui::caretOwner() == e->owner;
  if (!sameShape) {
    if (e->caretCreated) {
      if (ui::caretOwner() == e->owner) ui::destroyCaret();
      e->caretCreated = false;
    } else if (imeBitsSet(e)) {
      applyImeState(e, e->ownOpen, e->ownConversion, e->ownSentence);
    }
    e->caretWidth = width;
    e->caretHeight = caretHeight;
    if (width > 0 && caretHeight > 0 && ui::isWindow(e->owner) && ui::createCaret(e->owner, width, caretHeight))
      e->caretCreated = true;
  }
  if (!e->caretCreated) return;
  ui::setCaretPos(px, py);
  // Shown only where the caret's cell can be seen.
  const bool inParent = !e->parent || contains(e->parent->textRegion, px, py);
  const bool shownCell = cellColumn >= e->fx && cellColumn < e->fx + e->sx && e->caretRow >= e->fy &&
                         e->caretRow < e->fy + e->sy;
  if (e->hasFocus && inParent && shownCell) {
    ui::showCaret(e->owner);
    e->caretShown = true;
    ui::setImeCompositionWindow(e->owner, {px, py, px + std::max(width, 1), py + std::max(caretHeight, 1)});
  }
}

void paint(EditObject* e, ui::DrawContext& dc, const ui::Rect& rect) {
  if (e->text.empty()) return;
  const int32_t left = floorDiv(rect.left + e->hpix, e->cw), top = floorDiv(rect.top + e->vpix, e->ch);
  const int32_t firstColumn = std::max(left - e->x, 0), firstRow = std::max(top - e->y, 0);
  const int32_t columns = ceilDiv(rect.right + e->hpix, e->cw) - left;
  const int32_t rows = ceilDiv(rect.bottom + e->vpix, e->ch) - top;
  const int32_t startColumn = std::max(firstColumn, e->lx), startRow = std::max(firstRow, e->ly);
  const int32_t countColumns = std::min(firstColumn + columns, e->sx) - startColumn;
  const int32_t countRows = std::min(firstRow + rows, e->sy) - startRow;
  paintCells(e, dc, e->fx + startColumn, e->fy + startRow, countColumns, countRows, 0);
  const int32_t lockedRows = std::min(e->ly, firstRow + rows) - firstRow;
  const int32_t lockedColumns = std::min(e->lx, firstColumn + columns) - firstColumn;
  if (firstRow < e->ly) paintCells(e, dc, e->fx + startColumn, firstRow, countColumns, lockedRows, 2);
  if (firstColumn < e->lx) paintCells(e, dc, firstColumn, e->fy + startRow, lockedColumns, countRows, 1);
  if (firstRow < e->ly && firstColumn < e->lx) paintCells(e, dc, firstColumn, firstRow, lockedColumns, lockedRows, 3);
}

LRESULT EditWndProc(EditObject* e, uint32_t message, WPARAM wParam, LPARAM lParam) {
  const int32_t px = static_cast<int16_t>(ui::lowWord(static_cast<uintptr_t>(lParam)));
  const int32_t py = static_cast<int16_t>(ui::highWord(static_cast<uintptr_t>(lParam)));
  switch (message) {
    case ui::kWmDestroy:
      EditDelete(e);
      return 0;
    case ui::kWmSize:
      e->clientWidth = static_cast<int32_t>(ui::lowWord(static_cast<uintptr_t>(lParam)));
      e->clientHeight = static_cast<int32_t>(ui::highWord(static_cast<uintptr_t>(lParam)));
      syncScroll(e);
      layout(e);
      updateCaret(e);
      return 0;
    case ui::kWmActivate:
      if (ui::lowWord(wParam) != 0) return 0;
      [[fallthrough]];
    case ui::kWmKillFocus:
      e->hasFocus = false;
      updateCaret(e);
      return 0;
    case ui::kWmSetFocus:
      e->hasFocus = true;
      if (!(e->createFlags & EDIT_CREATE_READONLY)) e->caretWanted = true;
      updateCaret(e);
      return 0;
    case ui::kWmPaint: {
      ui::Rect damaged = e->paintRect;
      ui::DrawContext* dc = e->paintContext ? e->paintContext : ui::paintInProgress(e->owner, &damaged);
      if (dc) paint(e, *dc, damaged);
      return 0;
    }
    case ui::kWmEraseBkgnd:
      if (e->parent) return 0;
      eraseBackground(e);
      return 1;
    case ui::kWmKeyDown:
      return EditKeyDown(e, static_cast<uint32_t>(wParam));
    case ui::kWmKeyUp:
      return EditKeyUp(e, static_cast<uint32_t>(wParam));
    case ui::kWmChar:
      return EditChar(e, static_cast<uint32_t>(wParam));
    case ui::kWmHScroll:
    case ui::kWmVScroll: {
      const bool horizontal = message == ui::kWmHScroll;
      HWND from = reinterpret_cast<HWND>(lParam);
      if (e->parent && from && from == (horizontal ? e->parent->horizontalBar : e->parent->verticalBar)) {
        layout(e);
        updateCaret(e);
      } else if (from && from == (horizontal ? e->horizontalBar : e->verticalBar)) {
        ownBarScroll(e, horizontal, wParam);
      } else if (horizontal) {
        syncHScroll(e);
      } else {
        syncVScroll(e);
      }
      return 0;
    }
    case ui::kWmMouseWheel: {
      const uint32_t keys = ui::lowWord(wParam);
      if (!e->verticalBar || (keys & (ui::kMkShift | ui::kMkControl))) return 0;
      const int16_t delta = static_cast<int16_t>(ui::highWord(wParam));
      if (delta != 0) ownBarScroll(e, false, delta < 0 ? 1 : 0);
      return 1;
    }
    case ui::kWmMouseMove:
      return mouseMove(e, static_cast<uint32_t>(wParam), px, py);
    case ui::kWmLButtonDown:
      return mouseDown(e, px, py);
    case ui::kWmLButtonUp:
      return mouseUp(e, px, py);
    case ui::kWmImeNotify:
      imeNotify(e, static_cast<uint32_t>(wParam));
      return 0;
    default:
      return 0;
  }
}

}  // namespace zemta::edit
