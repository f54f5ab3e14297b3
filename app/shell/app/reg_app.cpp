// The application object: made once, it owns the engine, the main frame and
// the serial ports that start-up makes (app_startup.cpp); the sales list's
// texts are in line_columns.cpp.
#include "app/shell/app/reg_app.h"

#include "app/register/engine/reg_com.h"
#include "app/shell/display/sorted_record_list.h"
#include "app/shell/frames/main_frame.h"
#include "platform/ui/window.h"
#include "quorex/serial.h"

namespace varnex::shell {

namespace {
CREGApp* g_instance = nullptr;
}

CREGApp::CREGApp() {
  if (!g_instance) {
    g_instance = this;
    m_saleDisplay.app = this;
    reg::AddSaleDisplay(&m_saleDisplay);
  }
}

CREGApp::~CREGApp() {
  ExitInstance();
  reg::RemoveSaleDisplay(&m_saleDisplay);
  if (g_instance == this) g_instance = nullptr;
}

CREGApp* CREGApp::Instance() { return g_instance; }

bool CREGApp::IsOverTenKeyPad(HWND view, bool screen, int32_t x, int32_t y) const {
  namespace ui = platform::ui;
  // A touch meant for a dialog or another program is not the view's.
  // (The picker is a window of its own: its own window counts as inside.)
  if (HWND focus = ui::focusWindow()) {
    const HWND main = m_pMainFrame ? m_pMainFrame->GetSafeHwnd() : nullptr;
    HWND own = view;
    while (HWND up = ui::parentWindow(own)) own = up;
    bool inside = false;
    for (HWND w = focus; w && !inside; w = ui::parentWindow(w)) inside = (main && w == main) || w == own;
    if (!inside && !(m_hTenKeyDlg && focus == m_hTenKeyDlg)) return true;
  }
  if (!m_hTenKeyDlg || !ui::isWindow(m_hTenKeyDlg) || !ui::isWindowVisible(m_hTenKeyDlg)) return false;
  const ui::Point at = screen ? ui::Point{x, y} : ui::clientToScreen(view, x, y);
  const ui::Rect pad = ui::screenRect(m_hTenKeyDlg);
  return at.x >= pad.left && at.x < pad.right && at.y >= pad.top && at.y < pad.bottom;
}

}  // namespace varnex::shell
