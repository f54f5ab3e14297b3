#include "app/shell/frames/ctrl_bar.h"

#include <algorithm>

namespace varnex::shell {

namespace ui = platform::ui;

CCtrlBar::CCtrlBar() = default;

CCtrlBar::~CCtrlBar() { Destroy(); }

bool CCtrlBar::Create(ui::Frame& frame, Align align, const ui::Rect& rect, uint32_t id) {
  m_pFrame = &frame;
  m_nId = id;
  m_bHorizontal = align != Align::Right;
  m_bTop = align == Align::Top;
  m_nWidth = rect.width();
  m_nHeight = rect.height();
  if (m_bHorizontal) m_nWidth = kStretch;
  else m_nHeight = kStretch;
  const ui::DockSide side = align == Align::Top ? ui::DockSide::Top
                            : align == Align::Bottom ? ui::DockSide::Bottom
                                                     : ui::DockSide::Right;
  const int32_t size = m_bHorizontal ? std::max(kMinHeight, m_nHeight) : std::max(1, rect.width());
  if (m_bHorizontal) m_nHeight = size;
  m_hWnd = frame.addPane(id, side, size);
  if (!m_hWnd) return false;
  m_defaultProc = ui::setWindowProc(m_hWnd, [this](HWND h, uint32_t m, WPARAM wp, LPARAM lp) {
    return WindowProc(h, m, wp, lp);
  });
  return true;
}

void CCtrlBar::Destroy() {
  if (m_pFrame && m_hWnd) m_pFrame->removePane(m_nId);
  m_hWnd = nullptr;
  m_pFrame = nullptr;
}

ui::Size CCtrlBar::CalcFixedLayout(bool stretch, bool horizontal) const {
  if (!stretch) return {m_nWidth, m_nHeight};
  return horizontal ? ui::Size{kStretch, m_nHeight} : ui::Size{m_nWidth, kStretch};
}

void CCtrlBar::SetHeight(int32_t height) {
  if (!m_bHorizontal || !m_pFrame) return;
  m_nHeight = std::max(kMinHeight, height);
  m_pFrame->resizePane(m_nId, m_nHeight);
}

void CCtrlBar::SetLeftEdge(int32_t x) {
  if (m_bHorizontal || !m_pFrame) return;
  m_nLeftEdge = x;
  const ui::Rect client = ui::windowRect(m_pFrame->client());
  const ui::Rect pane = ui::windowRect(m_hWnd);
  // The pane reaches from the list's right end to the frame's right edge.
  const int32_t right = client.width() + pane.width();
  if (x > 0 && right - x > 0) {
    m_nWidth = right - x;
    m_pFrame->resizePane(m_nId, m_nWidth);
  }
}

bool CCtrlBar::OverEdge(int32_t y) const {
  if (!m_bHorizontal) return false;
  return m_bTop ? (y >= m_nHeight - kEdge && y < m_nHeight) : (y >= 0 && y < kEdge);
}

void CCtrlBar::OnMouseMove(int32_t y) {
  if (!m_bHorizontal) return;
  if (m_bDragging) {
    // The edge follows the mouse: a top pane grows downwards, a bottom pane
    // upwards (y is negative above the bottom pane's top).
    SetHeight(m_bTop ? y + 3 : m_nHeight - y + 3);
    m_bSizingCursor = 1;
    return;
  }
  m_bSizingCursor = OverEdge(y) ? 1 : 0;
  if (m_bSizingCursor) ui::overrideCursor(ui::CursorShape::SizeAll);
}

void CCtrlBar::OnLButtonDown(int32_t y) {
  if (!m_bHorizontal) return;
  if (m_bSizingCursor || OverEdge(y)) m_bDragging = 1;
}

void CCtrlBar::OnLButtonUp() {
  if (!m_bDragging) return;
  m_bDragging = 0;
  m_bSizingCursor = 0;
  if (ui::currentCursor() != ui::CursorShape::Arrow) ui::restoreCursor();
}

LRESULT CCtrlBar::WindowProc(HWND h, uint32_t m, WPARAM wp, LPARAM lp) {
  const int32_t y = static_cast<int16_t>(ui::highWord(static_cast<uintptr_t>(lp)));
  switch (m) {
    case ui::kWmMouseMove: OnMouseMove(y); break;
    case ui::kWmLButtonDown: OnLButtonDown(y); break;
    case ui::kWmLButtonUp: OnLButtonUp(); break;
    case ui::kWmSize:
      // The frame gave the pane a new height (its own splitter, a resize):
      // keep it, never below the minimum.
      if (m_bHorizontal && !m_bDragging) {
        const int32_t height = static_cast<int32_t>(ui::highWord(static_cast<uintptr_t>(lp)));
        if (height > 0 && height < kMinHeight) SetHeight(kMinHeight);
        else if (height > 0) m_nHeight = height;
      }
      break;
    default: break;
  }
  return m_defaultProc ? m_defaultProc(h, m, wp, lp) : ui::defaultWindowProc(h, m, wp, lp);
}

}  // namespace varnex::shell
