// The customer-display window on the second monitor: CCdFrm, a borderless
// top-most window that never takes the activation, and its view CCdView.
//
// During a sale the view repeats the two 20-byte lines a pole display would
// show (the application's pending pole-display text); between sales it
// shows the idle message ("Msg CD") over the idle pictures, which it cycles
// on timer 106, each for its own time. The application opens the window and
// fills its picture list (customer_display.cpp); the register tells it of
// each change through WM_CD_UPDATE.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/types.h"
#include "platform/ui/window.h"

namespace platform::ui {
class DrawContext;
}

namespace varnex::shell {

class CREGApp;
class CCdView;

inline constexpr uint32_t kTimerCdPicture = 106;

// A picture-list record: order number, display time, file title.
inline constexpr int32_t kCdPictureRecordSize = 264;
inline constexpr int32_t kCdPictureTitleSize = 256;

class CCdFrm {
 public:
  explicit CCdFrm(CREGApp* app);
  ~CCdFrm();
  CCdFrm(const CCdFrm&) = delete;
  CCdFrm& operator=(const CCdFrm&) = delete;

  // Makes the window (frameless, top-most, shown without activation) with
  // its view; false when it cannot be made. Once made, the object lives
  // until its window is destroyed, and is deleted with it.
  bool Create(const platform::ui::Rect& rect);
  HWND GetSafeHwnd() const { return hwnd_; }
  CCdView* View() const { return view_.get(); }
  HWND m_hOwner = nullptr;  // the main frame, which gets the focus back

 private:
  LRESULT WindowProc(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam);
  void OnDestroy();

  CREGApp* app_;
  HWND hwnd_ = nullptr;
  std::unique_ptr<CCdView> view_;
};

class CCdView {
 public:
  explicit CCdView(CREGApp* app);
  ~CCdView();
  CCdView(const CCdView&) = delete;
  CCdView& operator=(const CCdView&) = delete;

  bool Create(HWND parent, const platform::ui::Rect& rect);
  HWND GetSafeHwnd() const { return hwnd_; }

  // What the last paint drew: the picture's file (empty when none was
  // drawn) and the texts of the boxes (none when no boxes were drawn).
  struct Painted {
    std::string picture;
    std::vector<std::string> texts;
  };
  const Painted& LastPaint() const { return painted_; }
  int32_t SaleShown() const { return m_bSaleShown; }
  int32_t PictureIndex() const { return m_nPictureIndex; }

 private:
  LRESULT WindowProc(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam);
  LRESULT OnCdUpdate(WPARAM wParam, LPARAM lParam);
  void OnTimer(uint32_t id);
  void OnPaint(HWND hwnd, platform::ui::DrawContext& dc);
  bool StartPictureTimer();

  CREGApp* app_;
  HWND hwnd_ = nullptr;
  int32_t m_bSaleShown = 0;
  int32_t m_nPictureIndex = 0;
  Painted painted_;
};

// Splits a text into the two lines of the display: at most 20 bytes in the
// first (one byte fewer when the 20th would cut a double-byte character in
// two), the rest in the second.
void SplitDisplayLines(const std::string& text, std::string* first, std::string* second);

}  // namespace varnex::shell
