// What the library's window helpers need of the desktop beyond windows and
// dialogs: input delivered as if typed (through the application-wide filter),
// the input method's state per window, the folder picker, scroll-bar
// controls with the Windows range model, and a few window queries.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/ui/window.h"

namespace platform::ui {

// --- input as if typed -------------------------------------------------------

// Delivers a key press or release to the focus widget (or the given window),
// passing the application-wide input filter first as a real key would. The
// characters of letters, digits and punctuation follow the Japanese layout.
// False when there is no widget to receive it or the key has no Qt key.
bool sendKeyInput(HWND target, uint32_t virtualKey, bool down, bool shift, bool ctrl, bool alt);
// Turns the mouse wheel over the window (delta 120 one notch away from the user).
bool sendWheelInput(HWND target, int32_t delta);
// A mouse event at (x, y) of the window's client area, as the mouse would make
// it: it goes to the deepest window there (a button inside a dialog, say),
// through the application-wide filter and the capture. message is
// WM_MOUSEMOVE or a button's down, up or double click; keys the MK_ flags
// held. False when the window is dead or the message is no mouse message.
bool sendMouseInput(HWND window, uint32_t message, int32_t x, int32_t y, uint32_t keys = 0);

// Hands text to the window as an input method commits it after a
// conversion (kanji and kana as the user chose them): the window receives it
// as code page 932 bytes, one WM_CHAR each, a double-byte character as lead
// then trail byte. False when the window is dead or its input method is off
// (a closed input method commits nothing).
bool sendImeCommit(HWND target, const std::string& cp932);

// --- windows -------------------------------------------------------------------

// True when window lies below parent, at any depth.
bool isChildWindow(HWND parent, HWND window);
// The program's main window: the first visible top-level window created (null
// when there is none).
HWND mainWindow();

// --- input method ---------------------------------------------------------------

// The input method state of one window as the code knows it: open (converting
// to kana and kanji) or closed, the conversion and sentence mode words, and the
// composition font. Input methods on Linux (fcitx5, ibus) take their mode from
// the user; what the window asks is kept here and the open state switches
// input-method input for the widget on and off.
struct ImeState {
  bool open = false;
  uint32_t conversion = 0;
  uint32_t sentence = 0;
  bool hasFont = false;
  std::string fontFace;    // code page 932
  int32_t fontHeight = 0;
  int32_t fontWeight = 0;
};
// False (and last error invalid handle) for a dead window.
bool imeState(HWND window, ImeState& state);
bool setImeState(HWND window, const ImeState& state);
// Takes the window's input context away from it (detached) or gives it back
// (attached; every window starts so). A detached window gets no input-method
// input whatever its open state; the state is kept and may still be set, and
// counts again once the window is attached. False for a dead window.
bool setImeAttached(HWND window, bool attached);
// False also for a dead window.
bool imeAttached(HWND window);
// Where the input method shows its composition and candidate windows: the
// caret's rectangle in the window's client pixels (the cursor rectangle the
// input method asks the window for).
bool setImeCompositionWindow(HWND window, const Rect& caret);
bool imeCompositionWindow(HWND window, Rect& caret);

// --- folder picker -----------------------------------------------------------------

// Shows the folder picker (folders only) with the title, starting at folder when
// it is not empty. True with the chosen folder, false when cancelled.
bool pickFolder(HWND owner, const std::string& title, std::string& folder);
// Tests answer the picker from a script: the answerer gets (title, start folder)
// and returns true with the choice in the folder. An empty function restores the
// real picker; the previous answerer is returned.
using FolderPickerAnswerer = std::function<bool(const std::string& title, std::string& folder)>;
FolderPickerAnswerer setFolderPickerAnswerer(FolderPickerAnswerer answerer);

// --- scroll bars ------------------------------------------------------------------

// Scroll-bar range as Windows keeps it: positions run from minimum to maximum,
// page is the visible part, so the thumb reaches maximum - page + 1 at most.
struct ScrollInfo {
  int32_t minimum = 0;
  int32_t maximum = 100;
  int32_t page = 10;
  int32_t position = 0;
};
// A scroll-bar control (class "ScrollBar") on any window. The bar does not move
// itself: a click or a drag sends WM_HSCROLL or WM_VSCROLL to the parent with
// the request, and the parent sets the position it wants.
HWND createScrollBar(HWND parent, const Rect& rect, bool vertical);
// The control's range and position; false when the window is no scroll bar.
bool scrollInfo(HWND control, ScrollInfo& info);
// Sets range and page (position kept inside) .
bool setScrollInfo(HWND control, const ScrollInfo& info);
// Moves the thumb (clamped to minimum .. maximum - page + 1) and redraws.
bool setScrollPosition(HWND control, int32_t position);

}  // namespace platform::ui
