// The application's side of the customer display: choosing the monitor,
// opening, feeding and closing the window on it (cd_view.cpp), the list of
// idle pictures, and the DM-D display's device fonts.
//
// Idle pictures are the files "CD<order>[S<seconds>].jpg" in the picture
// folder: CD3.jpg is shown third for 5 seconds, CD12S8.jpg twelfth for 8.
// "CD0.jpg" is the background behind the sale and never cycles. The list
// keeps 264-byte records in order of their number:
//
// | offset | width    | field                                              |
// |--------|----------|----------------------------------------------------|
// | 0      | int32    | order number (the key), at least 1                 |
// | 4      | int32    | display time in milliseconds                       |
// | 8      | char[256]| file title as found (no folder, no extension), NUL |
#include "app/shell/display/customer_display.h"

#include <cstring>
#include <limits>

#include "app/register/print/receipt_printer.h"
#include "app/shell/app/reg_app.h"
#include "app/shell/display/cd_view.h"
#include "app/shell/display/sorted_record_list.h"
#include "app/shell/frames/main_frame.h"
#include "platform/base/cp932.h"
#include "platform/base/file.h"
#include "platform/base/message_box.h"
#include "platform/base/path.h"
#include "platform/base/profile.h"
#include "platform/ui/window.h"

namespace varnex::shell {

namespace ui = platform::ui;

namespace {

const char kNoSecondDisplay[] = "複数のディスプレイが見つかりませんでした\nサブディスプレイウインドウは使用できません";
constexpr int32_t kDefaultPictureTime = 5000;

// The decimal number at the start of text (digits only); 0 when there is
// none or it does not fit an int32.
int64_t leadingNumber(const std::string& text) {
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > std::numeric_limits<int32_t>::max()) return 0;
  }
  return value;
}

void putI32(uint8_t* p, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  p[0] = static_cast<uint8_t>(u);
  p[1] = static_cast<uint8_t>(u >> 8);
  p[2] = static_cast<uint8_t>(u >> 16);
  p[3] = static_cast<uint8_t>(u >> 24);
}

void sendToWindowAndDescendants(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (!ui::isWindow(window)) return;
  ui::sendMessage(window, message, wParam, lParam);
  for (HWND child : ui::childWindows(window)) sendToWindowAndDescendants(child, message, wParam, lParam);
}

}  // namespace

ui::Rect ChooseCustomerMonitor(const std::vector<ui::ScreenInfo>& monitors) {
  // The monitor furthest to the right (the first of equals), when it lies
  // right of 0; else the primary one.
  const ui::ScreenInfo* chosen = nullptr;
  for (const ui::ScreenInfo& m : monitors)
    if (m.geometry.right > 0 && (!chosen || m.geometry.right > chosen->geometry.right)) chosen = &m;
  if (chosen) return chosen->geometry;
  if (monitors.empty()) return {};
  const ui::ScreenInfo* primary = &monitors.front();
  for (const ui::ScreenInfo& m : monitors)
    if (m.primary) primary = &m;
  return {0, 0, primary->geometry.width(), primary->geometry.height()};
}

// Fills the list from the picture folder; names that do not follow the
// pattern are left out.
void BuildCustomerPictureList(const std::string& folder, SortedRecordList& list) {
  const std::string mapped = platform::mapPath(folder);
  for (const std::string& name : platform::listFolder(mapped, "CD*.jpg")) {
    if (name.empty() || name[0] == '.') continue;  // hidden
    const std::string path = platform::withSeparator(mapped, '/') + name;
    if (!platform::fileExists(path)) continue;  // a folder
    const std::string title = name.substr(0, name.size() - 4);
    if (title.size() >= kCdPictureTitleSize) continue;
    const std::string upper = platform::cp932::upperAscii(title);
    if (upper == "CD0") continue;
    const size_t s = upper.find('S', 2);
    int64_t time = kDefaultPictureTime;
    std::string orderText = upper.substr(2);
    if (s != std::string::npos) {
      time = leadingNumber(upper.substr(s + 1)) * 1000;
      if (time == 0 || time > std::numeric_limits<int32_t>::max()) continue;
      orderText = upper.substr(2, s - 2);
    }
    const int64_t order = leadingNumber(orderText);
    if (order == 0) continue;
    uint8_t record[kCdPictureRecordSize] = {};
    putI32(record, static_cast<int32_t>(order));
    putI32(record + 4, static_cast<int32_t>(time));
    std::memcpy(record + 8, title.data(), title.size());
    list.Insert(record);
  }
}

void CREGApp::OpenCustomerDisplay(int32_t bUpdate, WPARAM wParam, LPARAM lParam) {
  // 1. Windows are closed at once, not by a posted close: a line that
  // follows at once must find the window gone and open a new one, rather
  // than feed one that closes under it.
  if (!m_bUseCD || !m_Display.secondDisplay) {
    if (m_pCdFrm) ui::sendMessage(m_pCdFrm->GetSafeHwnd(), ui::kWmClose, 0, 0);
    return;
  }
  HWND mainWindow = m_pMainFrame ? m_pMainFrame->GetSafeHwnd() : nullptr;
  // 2.
  const std::vector<ui::ScreenInfo> monitors = ui::screens();
  if (monitors.size() < 2) {
    m_Display.secondDisplay = 0;
    platform::MessageBoxRequest request;
    request.owner = mainWindow;
    request.text = kNoSecondDisplay;
    request.style = platform::kMbIconWarning;
    platform::showMessageBox(request);
    return;
  }
  // 3.
  m_rcCdMonitor = ChooseCustomerMonitor(monitors);
  // 4: in this mode the window exists only while a sale line is shown.
  if (m_Display.idleOption == 2 && (bUpdate == 0 || lParam == 0)) {
    if (m_pCdFrm) ui::sendMessage(m_pCdFrm->GetSafeHwnd(), ui::kWmClose, 0, 0);
    return;
  }
  // 5.
  if (!m_pCdFrm) {
    auto& profile = platform::Profile::of(platform::ProfileScope::User);
    auto side = [&](const char* key, int32_t fallback) {
      return static_cast<int32_t>(profile.getInt(reg::kSettingsSection, key, fallback));
    };
    ui::Rect rect{side("Cd LeftPt", m_rcCdMonitor.left), side("Cd TopPt", m_rcCdMonitor.top),
                  side("Cd RightPt", m_rcCdMonitor.right), side("Cd BottomPt", m_rcCdMonitor.bottom)};
    if (rect.left == 0 && rect.top == 0 && rect.right == 0 && rect.bottom == 0) rect = m_rcCdMonitor;
    auto* frame = new CCdFrm(this);
    if (!frame->Create(rect)) {
      delete frame;
    } else {
      m_pCdFrm = frame;
      frame->m_hOwner = mainWindow;
    }
  }
  HWND window = m_pCdFrm ? m_pCdFrm->GetSafeHwnd() : nullptr;
  // 6.
  if (bUpdate && m_pCdPictures) {
    sendToWindowAndDescendants(window, WM_CD_UPDATE, wParam, lParam);
    return;
  }
  // 7.
  m_pCdPictures.reset();
  auto pictures = std::make_unique<SortedRecordList>();
  if (!pictures->Create(true, 0, 4, kCdPictureRecordSize)) return;
  BuildCustomerPictureList(m_strPicturePath, *pictures);
  m_pCdPictures = std::move(pictures);
  // 8.
  sendToWindowAndDescendants(window, WM_CD_UPDATE, wParam, lParam);
}

void CREGApp::CreateDisplayFonts() {
  // The DM-D display's Windows driver offered these device fonts; here the
  // display is sent its text as its own commands, so only the names are
  // kept (see the README).
  m_DisplayFonts.clear();
  if (m_Display.dmd)
    m_DisplayFonts = {"DM-D Japanese 1st Line", "DM-D Japanese 2nd Line", "control"};
}

void CREGApp::CloseCustomerDisplay() {
  if (m_pCdFrm) {
    // Closing down is no reason to move the window next time, nor to warn.
    HWND window = m_pCdFrm->GetSafeHwnd();
    m_pCdFrm->m_hOwner = nullptr;
    const int32_t secondDisplay = m_Display.secondDisplay;
    m_Display.secondDisplay = 1;
    ui::destroyWindow(window);
    m_Display.secondDisplay = secondDisplay;
    m_pCdFrm = nullptr;
  }
  m_pCdPictures.reset();
}

void CREGApp::SaleDisplayHook::SaleChanged(const void* line, const std::string& poleText) {
  app->m_strCdText = poleText;
  app->OpenCustomerDisplay(1, 0, reinterpret_cast<LPARAM>(line));
  // The pole display on its serial port shows the same two lines; at idle
  // it goes back to its own idle text.
  if (app->m_pMainFrame) app->m_pMainFrame->UpdateCustomerDisplay(line ? poleText : std::string());
}

}  // namespace varnex::shell
