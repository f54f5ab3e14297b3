// Window and user-interface helpers over the window framework.
#include "zemta/winhelp.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "lib/core/report.h"
#include "platform/base/cp932.h"
#include "platform/base/last_error.h"
#include "platform/ui/desktop.h"
#include "platform/ui/dialog.h"
#include "platform/ui/window.h"

namespace zemta {
namespace {

namespace ui = platform::ui;

constexpr uint32_t kErrorResourceNameNotFound = 1814;
constexpr int kCursorSlots = 2;

std::mutex g_cursorMutex;
int g_cursorDepth = 0;

bool cursorShapeOf(const char* name, ui::CursorShape& shape) {
  switch (reinterpret_cast<uintptr_t>(name)) {
    case 32512: shape = ui::CursorShape::Arrow; return true;
    case 32513: shape = ui::CursorShape::IBeam; return true;
    case 32514: shape = ui::CursorShape::Wait; return true;
    case 32515: shape = ui::CursorShape::Cross; return true;
    case 32516: shape = ui::CursorShape::UpArrow; return true;
    case 32646: shape = ui::CursorShape::SizeAll; return true;
    case 32648: shape = ui::CursorShape::No; return true;
    case 32649: shape = ui::CursorShape::Hand; return true;
    case 32650: shape = ui::CursorShape::AppStarting; return true;
    default: return false;
  }
}

// The clipboard's text with its zero; false when there is none.
bool clipboardText(std::string& text) { return ui::clipboardText(text); }

ui::DialogProc dialogProcOf(ZemtaDlgProc proc) {
  return [proc](HWND w, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT { return proc ? proc(w, m, wp, lp) : 0; };
}

uint32_t capped(uint64_t v) { return static_cast<uint32_t>(std::min<uint64_t>(v, 255)); }

uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); }

}  // namespace
}  // namespace zemta

using namespace zemta;

int32_t PushCursor(const char* cursorName) {
  ui::CursorShape shape;
  std::lock_guard<std::mutex> guard(g_cursorMutex);
  if (g_cursorDepth >= kCursorSlots) {
    ZEMTA_REPORT(ZEMTA_ERR_NEST_FULL);
    return -1;
  }
  if (!cursorShapeOf(cursorName, shape)) {
    platform::setLastError(kErrorResourceNameNotFound);
    ZEMTA_REPORT(-1);
    return -1;
  }
  ui::overrideCursor(shape);
  ++g_cursorDepth;
  return 0;
}

int32_t PopCursor(void) {
  std::lock_guard<std::mutex> guard(g_cursorMutex);
  if (g_cursorDepth == 0) {
    ZEMTA_REPORT(ZEMTA_ERR_NEST_EMPTY);
    return -1;
  }
  ui::restoreCursor();
  --g_cursorDepth;
  return 0;
}

int32_t SetClipboardText(HWND owner, const char* text) {
  if (!text) return 0;
  return ui::setClipboardText(text) ? 1 : 0;
}

int32_t IsClipboardText(HWND owner) {
  std::string text;
  return clipboardText(text) && !text.empty() ? 1 : 0;
}

int32_t IsClipboardNumeric(HWND owner, uint32_t itemType) {
  std::string text;
  if (!clipboardText(text) || text.empty()) return 0;
  for (char c : text) {
    if (c >= '0' && c <= '9') continue;
    if (c == ',' || c == '\r' || c == '\n') continue;
    if (c == '.' && (itemType & 0x2000)) continue;
    if (c == '-' && (itemType & 0x3000)) continue;
    return 0;
  }
  return 1;
}

int32_t GetClipboardText(HWND owner, char* buffer, int32_t size) {
  if (!buffer || size < 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return 0;
  }
  std::string text;
  if (!clipboardText(text)) return 0;
  size_t n = std::min(text.size() + 1, static_cast<size_t>(size));
  std::memcpy(buffer, text.c_str(), n);
  return 1;
}

char* GetClipboardTextAlloc(HWND owner) {
  std::string text;
  if (!clipboardText(text)) return nullptr;
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (!copy) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return nullptr;
  }
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

int32_t GetPathDlg(HWND owner, const char* title, char* folder, int32_t size) {
  if (!folder || size <= 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return 2;
  }
  std::string chosen(folder, strnlen(folder, static_cast<size_t>(size)));
  if (!ui::pickFolder(owner, title ? title : "", chosen)) return 2;
  // A path that does not fit is not cut (a cut path names another folder).
  if (chosen.size() + 1 > static_cast<size_t>(size)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_SIZE);
    return 2;
  }
  std::memcpy(folder, chosen.c_str(), chosen.size() + 1);
  return 1;
}

HICON LibLoadIcon(uint32_t resourceId) {
  // The library's resources hold no icons here.
  platform::setLastError(kErrorResourceNameNotFound);
  return nullptr;
}

HWND LibCreateWindow(const char* className, const char* title, uint32_t style, int32_t x, int32_t y, int32_t width,
                     int32_t height, HWND parent, uint32_t menu) {
  ui::WindowSpec windowSpec;
  windowSpec.className = className ? className : "";
  windowSpec.title = title ? title : "";
  windowSpec.parent = parent;
  windowSpec.rect = {x, y, x + width, y + height};
  windowSpec.visible = (style & ZEMTA_WS_VISIBLE) != 0;
  return ui::createWindow(windowSpec, ui::defaultWindowProc);
}

HWND LibCreateDialog(int32_t dialogId, HWND parent, ZemtaDlgProc proc) {
  if (!parent) parent = ui::mainWindow();
  return ui::createDialog(dialogId, parent, dialogProcOf(proc));
}

intptr_t LibDialogBox(int32_t dialogId, HWND parent, ZemtaDlgProc proc, LPARAM param) {
  return ui::dialogBox(dialogId, parent, dialogProcOf(proc), param);
}

intptr_t CancelDlgProc(HWND dialog, uint32_t message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case ui::kWmInitDialog: return 1;
    case ui::kWmCommand:
      if (ui::lowWord(wParam) == 2) {
        ui::postMessage(dialog, ui::kWmClose, 0, 0);
        return 1;
      }
      return 0;
    case ui::kWmClose:
      ui::endDialog(dialog, 2);
      return 1;
    default: return 0;
  }
}

HIMC ImeGetStatus(HWND window, int32_t* open, uint32_t* conversion, uint32_t* sentence, ZemtaLogFont* font) {
  ui::ImeState state;
  // A window whose context was taken away has none to read.
  if (!ui::imeState(window, state) || !ui::imeAttached(window)) return nullptr;
  if (open) *open = state.open ? 1 : 0;
  if (conversion) *conversion = state.conversion;
  if (sentence) *sentence = state.sentence;
  if (font) {
    std::memset(font, 0, sizeof *font);
    font->height = state.fontHeight;
    font->weight = state.fontWeight;
    std::snprintf(font->faceName, sizeof font->faceName, "%s", state.fontFace.c_str());
  }
  return reinterpret_cast<HIMC>(window);  // the input context is the window's own
}

void ImeSetStatus(HIMC context, int32_t open, uint32_t conversion, uint32_t sentence, const ZemtaLogFont* font) {
  HWND window = reinterpret_cast<HWND>(context);
  ui::ImeState state;
  if (!ui::imeState(window, state)) return;
  state.open = true;  // opened first, so the modes apply to an open method
  state.conversion = conversion;
  state.sentence = sentence;
  ui::setImeState(window, state);
  state.open = open != 0;
  if (font) {
    state.hasFont = true;
    state.fontHeight = font->height;
    state.fontWeight = font->weight;
    state.fontFace.assign(font->faceName, strnlen(font->faceName, sizeof font->faceName));
  }
  ui::setImeState(window, state);
}

int32_t ScrollCtlBar(HWND scrollBar, uint32_t code) {
  ui::ScrollInfo info;
  if (!ui::scrollInfo(scrollBar, info)) return -1;
  int32_t pos = info.position;
  switch (ui::lowWord(code)) {
    case 0: pos = std::max(info.minimum, pos - 1); break;
    case 1: if (pos <= info.maximum - info.page) ++pos; break;
    case 2: pos = std::max(0, pos - info.page); break;
    case 3: pos = std::min(pos + info.page, info.maximum - info.page + 1); break;
    case 4:
    case 5: pos = static_cast<int32_t>(ui::highWord(code)); break;
    default: return -1;
  }
  ui::setScrollPosition(scrollBar, pos);
  ui::scrollInfo(scrollBar, info);
  return info.position;
}

uint32_t ZemtaChangeBright(uint32_t colour, int32_t percent) {
  if (percent < 0) percent = 0;
  uint64_t p = static_cast<uint64_t>(percent);
  return rgb(capped((colour & 0xFF) * p / 100), capped(((colour >> 8) & 0xFF) * p / 100),
             capped(((colour >> 16) & 0xFF) * p / 100));
}

uint32_t ZemtaChangeContrast(uint32_t colour, int32_t percent) {
  if (percent < 0) percent = 0;
  uint64_t p = static_cast<uint64_t>(percent);
  uint32_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
  if (r > g && r > b) b = capped(r * p / 100);
  else if (g > r && g > b) r = capped(g * p / 100);
  else g = capped(g + b * p / 100);
  return rgb(r, g, b);
}

uint32_t GetLineCharMask(uint32_t code) {
  static const struct { uint16_t code, mask; } kMasks[] = {
      {0x86A2, 0x000A}, {0x86A3, 0x0A00}, {0x86A4, 0x0005}, {0x86A5, 0x0500}, {0x86AE, 0x0006}, {0x86B2, 0x000C},
      {0x86B6, 0x0003}, {0x86BA, 0x0009}, {0x86BD, 0x0900}, {0x86BE, 0x0007}, {0x86C6, 0x000D}, {0x86CE, 0x000E},
      {0x86D1, 0x0A04}, {0x86D6, 0x000B}, {0x86D9, 0x0A01}, {0x86DE, 0x000F},
  };
  for (const auto& m : kMasks)
    if (m.code == code) return m.mask;
  return 0;
}

int32_t ZemtaIsSpace(int32_t c) {
  c &= 0xFF;
  return (c >= 9 && c <= 13) || c == ' ';
}
int32_t ZemtaIsDigit(int32_t c) {
  c &= 0xFF;
  return c >= '0' && c <= '9';
}
int32_t ZemtaIsAlnum(int32_t c) {
  c &= 0xFF;
  return ZemtaIsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
int32_t ZemtaIsAlnumKana(int32_t c) {
  c &= 0xFF;
  return ZemtaIsAlnum(c) || (c >= 0xA1 && c <= 0xDF);
}
int32_t ZemtaIsLeadByte(int32_t c) {
  return platform::cp932::isLeadByte(static_cast<uint8_t>(c & 0xFF));
}
int32_t ZemtaIsTrailByte(int32_t c) {
  return platform::cp932::isTrailByte(static_cast<uint8_t>(c & 0xFF));
}
int32_t ZemtaToUpper(int32_t c) {
  c &= 0xFF;
  return (c >= 'a' && c <= 'z') ? c - 0x20 : c;
}
