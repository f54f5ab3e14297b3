// Window-level services beyond messages: a window that paints itself through
// a drawing context, mouse messages, the mouse capture, and the caret.
//
// A window made by createWindow paints nothing of its own; a paint handler
// draws its content whenever Qt repaints it (offscreen too, so a grab shows
// it). Mouse messages (WM_MOUSEMOVE, WM_LBUTTONDOWN ...) carry MK_ flags in
// wParam and the client position x | y << 16 in lParam.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/ui/draw.h"
#include "platform/ui/window.h"

namespace platform::ui {

// --- painting --------------------------------------------------------------------

using PaintHandler = std::function<void(HWND window, DrawContext& dc)>;
// Installs (or, with an empty function, removes) the window's paint handler;
// the context is in device units, clipped to the window. False (last error
// invalid handle) for a dead window.
bool setPaintHandler(HWND window, PaintHandler handler);
// Asks for a repaint of the whole window (or of rect, client pixels) when the
// loop is next idle; updateWindow paints at once.
bool invalidateWindow(HWND window);
bool invalidateRect(HWND window, const Rect& rect);
// Inside the paint of window (its paint handler, a view's onPaint, or a
// message handler they call, the way WM_PAINT handlers call BeginPaint): the
// context of that paint and, when damaged is given, the bounding rectangle of
// what is being repainted. Null outside a paint of that window.
DrawContext* paintInProgress(HWND window, Rect* damaged);
// The client area (0, 0, width, height).
Rect clientRect(HWND window);

// --- mouse -------------------------------------------------------------------------

enum : uint32_t { kMkLButton = 0x01, kMkRButton = 0x02, kMkShift = 0x04, kMkControl = 0x08, kMkMButton = 0x10 };

// Mouse events of a window made by createWindow become messages to its
// procedure (views get theirs anyway).
bool setMouseMessages(HWND window, bool on);

// While a window holds the capture, every mouse event of the application goes
// to it (positions relative to its client area), whichever window is under
// the mouse. The window losing the capture gets WM_CAPTURECHANGED (lParam the
// new holder). setCapture returns the previous holder.
HWND setCapture(HWND window);
bool releaseCapture();
HWND captureWindow();

// --- the caret ------------------------------------------------------------------------

// One caret per application, owned by one window: created hidden (showCaret
// once to show it); hideCaret and showCaret nest. It blinks at the blink time
// and is drawn inverted over the owner's paint.
bool createCaret(HWND owner, int32_t width, int32_t height);
bool destroyCaret();
bool setCaretPos(int32_t x, int32_t y);     // client pixels of the owner
bool caretPos(int32_t& x, int32_t& y);
bool showCaret(HWND owner);                 // null: whatever window owns it
bool hideCaret(HWND owner);
HWND caretOwner();
bool isCaretShown();                        // shown, whatever the blink phase
void setCaretBlinkTime(uint32_t ms);        // 0: no blinking, always drawn
uint32_t caretBlinkTime();

}  // namespace platform::ui
