// The application-wide input filter: every key and mouse event of the UI
// thread passes the installed hooks before any window sees it, whatever has
// the focus. Keys come as Windows virtual-key codes of a Japanese keyboard,
// characters as code page 932 bytes (a double-byte character as lead then
// trail byte).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/ui/types.h"

namespace platform::ui {

// Virtual-key codes the code compares against (Windows numbering).
enum : uint32_t {
  kVkCancel = 0x03, kVkBack = 0x08, kVkTab = 0x09, kVkReturn = 0x0D, kVkShift = 0x10,
  kVkControl = 0x11, kVkMenu = 0x12, kVkPause = 0x13, kVkCapital = 0x14, kVkKana = 0x15,
  kVkKanji = 0x19, kVkEscape = 0x1B, kVkConvert = 0x1C, kVkNonConvert = 0x1D, kVkSpace = 0x20,
  kVkPrior = 0x21, kVkNext = 0x22, kVkEnd = 0x23, kVkHome = 0x24, kVkLeft = 0x25, kVkUp = 0x26,
  kVkRight = 0x27, kVkDown = 0x28, kVkInsert = 0x2D, kVkDelete = 0x2E, kVkNumpad0 = 0x60,
  kVkMultiply = 0x6A, kVkAdd = 0x6B, kVkSeparator = 0x6C, kVkSubtract = 0x6D, kVkDecimal = 0x6E,
  kVkDivide = 0x6F, kVkF1 = 0x70, kVkOem1 = 0xBA, kVkOemPlus = 0xBB, kVkOemComma = 0xBC,
  kVkOemMinus = 0xBD, kVkOemPeriod = 0xBE, kVkOem2 = 0xBF, kVkOem3 = 0xC0, kVkOem4 = 0xDB,
  kVkOem5 = 0xDC, kVkOem6 = 0xDD, kVkOem7 = 0xDE, kVkOem102 = 0xE2,
};

struct KeyInput {
  uint32_t virtualKey = 0;
  bool down = true;       // key press (false: release)
  bool repeat = false;    // auto-repeat of a key held down
  bool shift = false, ctrl = false, alt = false;
  std::string chars;      // code page 932 bytes the key types (may be empty)
  HWND focus = nullptr;   // the window with the focus, when it has a handle
};

struct MouseInput {
  uint32_t message = 0;   // WM_MOUSEWHEEL, or 0x200-0x20D for moves and buttons
  int32_t wheelDelta = 0;
  HWND focus = nullptr;   // the window with the keyboard focus
  HWND target = nullptr;  // the window under the mouse, when it has a handle
};

// A hook answers true to swallow the event. Hooks run in the order added.
using KeyHook = std::function<bool(const KeyInput&)>;
using MouseHook = std::function<bool(const MouseInput&)>;
// Returns an id for removeInputHook. first: the hook runs before those
// added so far (one that must see a key before any screen does).
int addKeyHook(KeyHook hook, bool first = false);
int addMouseHook(MouseHook hook);
void removeInputHook(int id);

// The state of the modifier keys and of Caps Lock as the filter has seen it.
bool isShiftDown();
// Ctrl and Alt as the last key event carried them.
bool isControlDown();
bool isAltDown();
bool isCapsLockOn();
// Caps Lock as a program may set it (offscreen there is no keyboard LED).
void setCapsLock(bool on);

// The system beep (MessageBeep): type -1 (0xFFFFFFFF) the plain beep, 0x10
// the stop sound; both sound the desktop's bell. Beeps sounded so far are
// counted for tests.
inline constexpr uint32_t kBeepPlain = 0xFFFFFFFFu, kBeepStop = 0x10;
void messageBeep(uint32_t type);
uint32_t beepCount();

}  // namespace platform::ui
