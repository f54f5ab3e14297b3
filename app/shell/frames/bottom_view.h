// CBottomView: the totals pane under the sales list of the registration
// screen. A framed bar shows the items bought (買上点数) and the subtotal (小計)
// of the open sale; under it a box shows the register screen's one- or
// two-line message (prompts, change due, errors). The register screen writes
// the three members and invalidates the pane.
//
// Geometry, in device units of the client area (right R, bottom B):
// u = (R - 40) / 70; label font 2u high, number font h = floor(20u / 6) high
// (bold); the bar is the rectangle (4, 4)-(R - 4, h + 12) with its texts in
// the band y 8..h + 8; the message box is (4, h + 16)-(R - 4, B - 4), drawn
// only when h + 16 < B - 4.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui/view.h"

namespace varnex::reg {
class CRegCom;
}

namespace varnex::shell {

class CBottomView : public platform::ui::View {
 public:
  // Where everything of the pane goes for a client area and a message.
  struct Layout {
    int32_t unit = 0;         // u
    int32_t labelFont = 0;    // 2u
    int32_t numberFont = 0;   // h
    int32_t barBottom = 0;    // h + 12
    bool hasMessageBox = false;
    platform::ui::Rect messageBox;
    // The message: line 1 (empty for a one-line message) and line 2, each cut
    // at its first two spaces into a left and a right part.
    bool twoLines = false;
    std::string left1, right1, left2, right2;
    int32_t columns = 0;      // n: characters the box must hold, at least 32
    int32_t columnWidth = 0;  // c = (R - 16) / n
    int32_t font1 = 0, font2 = 0;    // heights of line 1 and line 2
    platform::ui::Rect band1, band2; // where line 1 and line 2 are drawn
  };
  static Layout Measure(const platform::ui::Rect& client, const std::string& message);

  // The subtotal as the pane shows it: rounding field 1 truncates to a
  // multiple of 5, 2 to a multiple of 10; other values leave it.
  static int32_t RoundSubtotal(int32_t subtotal, uint32_t roundingField);
  // The count and subtotal texts: "%*d" formatted as full-width digits with
  // commas (left-justified), in half width where full width would not fit.
  static std::string FormatFigure(int32_t value, uint32_t width);

  CBottomView();
  ~CBottomView() override;

  // Paints the pane.
  void OnDraw(platform::ui::DrawContext& dc);

  // Items bought in the open sale, its subtotal in yen, and the message.
  int32_t m_nItemCount = 0;
  int32_t m_nSubtotal = 0;
  std::string m_strMessage;

  // The engine whose settings record gives the subtotal's rounding (null: none).
  reg::CRegCom* m_pRegCom = nullptr;

  // The profile value that keeps the pane's height.
  static constexpr const char* kHeightKey = "Bottom Height";

 protected:
  void onPaint(platform::ui::DrawContext& dc) override { OnDraw(dc); }
  void onSize(int32_t width, int32_t height) override;
  LRESULT onMessage(uint32_t message, WPARAM wParam, LPARAM lParam) override;
  platform::ui::Size sizeHint() const override { return {640, 160}; }

 private:
  void OnDestroy();
};

}  // namespace varnex::shell
