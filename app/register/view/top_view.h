// CTopView: the touch-key panel above the sales list of a registration
// screen. It draws the keys of the function-key layout table as a grid six
// to a row (cell 100 pixels wide, "Key Height" high, "Key Number" keys), each
// with its picture "KEY<position>.jpg" from the image folder when there is
// one, lights the key under the pointer, and turns a click on a key into
// WM_REG_PANELKEY to the register view that has the screen.
//
// Key index i (row-major) is row i / 6, column i % 6, and its position in
// the layout table is row + 100 * column + 101 (101..601 the first row).
// Only keys that are drawn answer: a click beside the sixth column, below
// the last key or on a position the layout table has no key for beeps.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/draw.h"
#include "platform/ui/view.h"

namespace varnex::shell {
class CREGApp;
}

namespace varnex::reg {

class CRegCom;

// A price as the touch keys and the picker show it: "%*ld" in width 10 with
// thousands commas, the yen sign before a price of 0 or more (the full-width
// one: the code page's 5C shows as a back-slash in the screen's fonts).
std::string ScreenPrice(int32_t price);

class CTopView : public platform::ui::View {
 public:
  static constexpr int32_t kColumns = 6, kCellWidth = 100, kPictureWidth = 90;
  // activeView: the window that receives the keys (the active view of the
  // active mode frame), null when there is none.
  CTopView(CRegCom* engine, shell::CREGApp* app, std::function<HWND()> activeView);

  // Reads the keys again from the layout table and their pictures.
  void LoadKeys();
  // The key position of a client point (scrolled), 0 when no drawn key
  // lies there.
  int32_t PositionAt(int32_t x, int32_t y) const;
  static int32_t PositionOfIndex(int32_t index) { return index / kColumns + 100 * (index % kColumns) + 101; }
  int32_t Highlight() const { return highlight_; }
  // Whether key i was given a picture.
  bool HasPicture(int32_t index) const {
    return index >= 0 && index < static_cast<int32_t>(keys_.size()) && !keys_[static_cast<size_t>(index)].picture.isNull();
  }
  int32_t Rows() const;
  int32_t ScrollY() const { return scrollPosition().y; }
  void onInitialUpdate() override;

 protected:
  void onPaint(platform::ui::DrawContext& dc) override;
  void onSize(int32_t width, int32_t height) override;
  bool onMouse(uint32_t message, int32_t x, int32_t y, uint32_t keys) override;
  LRESULT onMessage(uint32_t message, WPARAM wParam, LPARAM lParam) override;
  platform::ui::Size sizeHint() const override { return {kColumns * kCellWidth, 112}; }

 private:
  struct Key {
    bool drawn = false;          // the layout table has a key at the position
    uint16_t keyCode = 0;
    std::string name;
    std::string keyText;         // the keyboard key assigned to it
    int32_t price = 0;           // departments: the preset price
    platform::ui::Image picture;
  };

  int32_t IndexAt(int32_t x, int32_t y) const;
  platform::ui::Rect CellRect(int32_t index) const;
  void DrawKey(platform::ui::DrawContext& dc, int32_t index);
  void SetHighlight(int32_t index);
  void ScrollTo(int32_t y);
  void SetScrollSizes();
  void PressKey(int32_t x, int32_t y);
  int32_t KeyHeight() const;
  int32_t KeyNumber() const;

  CRegCom* engine_;
  shell::CREGApp* app_;
  std::function<HWND()> activeView_;
  std::vector<Key> keys_;
  int32_t highlight_ = -1;
  bool captured_ = false;
};

}  // namespace varnex::reg
