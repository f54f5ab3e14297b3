// CTenKeyDlg: the floating on-screen ten-key pad (dialog template 156), a
// modeless window of 19 buttons for shops that run the register on a touch
// screen. Attached to a register view it turns each button into the key a
// real keyboard's numeric pad would give the view (WM_KEYDOWN); attached to
// a dialog it edits the dialog's entry field and moves its list.
//
// The pad owns itself: it is made by Create and deleted when its window is
// destroyed; the application keeps its window handle. Outside dialog mode the
// pad remembers where the clerk left it ("Ten Key LeftPt", "Ten Key TopPt").
#pragma once

#include <cstdint>

#include "platform/ui/window.h"

namespace varnex::reg {

class CTenKeyDlg {
 public:
  enum Kind {
    kRegister,    // a sale's register view: digits, operators, Enter, Esc
    kNavigation,  // a register view of readings: ／＊－＋ page and move the rows
    kDialog,      // a dialog: the entry field and the list of entryId, listId
  };
  enum Button : int32_t {
    kButton0 = 1548, kButton1 = 1549, kButton2 = 1560, kButton3 = 1571, kButton4 = 1572, kButton5 = 1573,
    kButton6 = 1574, kButton7 = 1575, kButton8 = 1576, kButton9 = 1577, kButton00 = 1578, kButtonPoint = 1579,
    kButtonEscape = 1580, kButtonDivide = 1581, kButtonMultiply = 1582, kButtonBack = 1583,
    kButtonMinus = 1584, kButtonPlus = 1585, kButtonEnter = 1586,
  };
  static constexpr int32_t kTemplate = 156;

  // Makes the pad window owned by owner; null when it cannot be made (the
  // object is gone then too).
  static HWND Create(HWND owner, HWND target, Kind kind, int32_t entryId = 0, int32_t listId = 0);
  // The pad of a window, or null.
  static CTenKeyDlg* FromHandle(HWND pad);

  HWND Target() const { return target_; }
  Kind PadKind() const { return kind_; }
  // What a button does: its characters, in order, to the key routine.
  void SendKey(char character);

 private:
  CTenKeyDlg(HWND target, Kind kind, int32_t entryId, int32_t listId);
  LRESULT Procedure(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog();
  void KeyToView(char character);
  void KeyToDialog(char character);

  HWND self_ = nullptr;
  HWND target_;
  Kind kind_;
  int32_t entryId_, listId_;
};

}  // namespace varnex::reg
