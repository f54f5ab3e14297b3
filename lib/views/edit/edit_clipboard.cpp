// Cut, copy and paste of an edit's text through the clipboard, as code page
// 932 text: the selection goes out as rows ended by CR LF; a paste comes in
// as a block of rows or as typed characters.
#include <cstdlib>
#include <string>

#include "lib/core/report.h"
#include "lib/views/edit/edit_object.h"
#include "platform/ui/input.h"
#include "zemta/winhelp.h"

namespace zemta::edit {
namespace {

// The selection as clipboard text; false when there is none.
bool selectionText(EditObject* e, std::string& out) {
  if (!e->selecting) return false;
  const Block b = selectionBlock(e);
  out.clear();
  out.reserve(static_cast<size_t>(b.width + 3) * b.height + 1);
  for (int32_t r = b.top; r < b.top + b.height; ++r) {
    int32_t right = b.left + b.width;
    if (right - 1 >= b.left && right - 1 < e->ux && byteKind(e, right - 1, r) == 1) ++right;
    for (int32_t c = b.left; c < right && c < e->allocatedColumns; ++c) {
      if (!cellCounts(e, b, c, r)) {
        out.push_back(' ');
        continue;
      }
      if (c == b.left && byteKind(e, c, r) == 2) continue;  // half of a character
      out.push_back(e->text[e->index(c, r)]);
    }
    out += "\r\n";
  }
  return true;
}

}  // namespace
}  // namespace zemta::edit

using namespace zemta::edit;

int32_t EditCopyClipboardText(EditHandle edit) {
  EditObject* e = checked(edit);
  if (!e) return -1;
  std::string text;
  try {
    if (!selectionText(e, text)) return -1;
  } catch (const std::bad_alloc&) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }
  return SetClipboardText(e->owner, text.c_str()) ? 0 : -1;
}

int32_t EditCutClipboardText(EditHandle edit) {
  EditObject* e = checked(edit);
  if (!e || EditCopyClipboardText(e) != 0) return -1;
  // Boxes wholly inside the block go with it (their cells go with the text).
  const Block b = selectionBlock(e);
  std::erase_if(e->boxes, [&b](const EditBox& box) {
    return box.x >= b.left && box.x + box.width <= b.left + b.width && box.y >= b.top &&
           box.y + box.height <= b.top + b.height;
  });
  EditDeleteSel(e);
  return 0;
}

int32_t EditPasteClipboardText(EditHandle edit) {
  EditObject* e = checked(edit);
  if (!e) return -1;
  // The clipboard first: with nothing to paste the edit stays as it is.
  char* text = GetClipboardTextAlloc(e->owner);
  if (!text) return -1;
  EditDeleteSel(e);
  e->extending = false;
  if (e->createFlags & EDIT_CREATE_BLOCK_PASTE) {
    BlockWritten written;
    if (writeBlock(e, text, written)) {
      invalidateCells(e, written.firstColumn, written.firstRow, written.widestEnd - written.firstColumn + 1,
                      written.lastRow - written.firstRow + 1);
      EditMoveCaret(e, written.widestEnd, written.lastRow, false);
      e->modified = true;
    }
  } else {
    for (const char* p = text; *p; ++p) {
      if (*p == '\r' || *p == '\n') {
        if (*p == '\r' && p[1] == '\n') ++p;
        EditKeyDown(e, platform::ui::kVkReturn);
        e->lastKeyUp = platform::ui::kVkReturn;
        continue;
      }
      EditChar(e, static_cast<uint8_t>(*p));
    }
  }
  std::free(text);
  return 0;
}
