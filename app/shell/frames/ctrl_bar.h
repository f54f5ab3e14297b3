// CCtrlBar: a pane docked at one edge of the main frame that hosts one view.
// A pane at the top or the bottom is as wide as the frame and can be made
// taller or shorter by dragging its inner edge (the 5 pixels facing the
// centre of the frame); it never gets lower than 12 pixels. A pane at the
// right starts where the register list's columns end.
//
// The heights are kept by the pane views ("Top Height", "Bottom Height").
#pragma once

#include <cstdint>

#include "platform/ui/frame.h"
#include "platform/ui/view.h"

namespace varnex::shell {

class CCtrlBar {
 public:
  enum class Align { Top, Bottom, Right };
  static constexpr int32_t kStretch = 32767;
  static constexpr int32_t kMinHeight = 12;
  static constexpr int32_t kEdge = 5;

  CCtrlBar();
  ~CCtrlBar();
  CCtrlBar(const CCtrlBar&) = delete;
  CCtrlBar& operator=(const CCtrlBar&) = delete;

  // Docks the pane at the edge; rect gives the initial size only. False when
  // the frame refused it.
  bool Create(platform::ui::Frame& frame, Align align, const platform::ui::Rect& rect, uint32_t id);
  HWND GetSafeHwnd() const { return m_hWnd; }
  // Removes the pane and the view in it.
  void Destroy();

  // (width, height) when not stretching; a stretched dimension is 32767.
  platform::ui::Size CalcFixedLayout(bool stretch, bool horizontal) const;
  bool IsHorizontal() const { return m_bHorizontal != 0; }
  int32_t Height() const { return m_nHeight; }
  int32_t Width() const { return m_nWidth; }
  // A new height of a horizontal pane (at least 12 pixels); the frame lays
  // out again.
  void SetHeight(int32_t height);
  // The right pane's left edge: the register list's width (0: none).
  void SetLeftEdge(int32_t x);
  bool IsDragging() const { return m_bDragging != 0; }

  // Mouse over a horizontal pane, y in the pane's pixels; what a drag does.
  void OnMouseMove(int32_t y);
  void OnLButtonDown(int32_t y);
  void OnLButtonUp();
  bool OverEdge(int32_t y) const;

 private:
  LRESULT WindowProc(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);

  platform::ui::Frame* m_pFrame = nullptr;
  HWND m_hWnd = nullptr;
  uint32_t m_nId = 0;
  int32_t m_bDragging = 0;
  int32_t m_bHorizontal = 0;
  int32_t m_bTop = 0;
  int32_t m_bSizingCursor = 0;
  int32_t m_nWidth = 0, m_nHeight = 0;
  int32_t m_nLeftEdge = 0;
  platform::ui::WindowProc m_defaultProc;
};

}  // namespace varnex::shell
