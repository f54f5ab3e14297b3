#include "app/shell/display/cd_view.h"

#include <cstring>

#include "app/register/print/receipt_printer.h"
#include "app/shell/app/reg_app.h"
#include "app/shell/display/sorted_record_list.h"
#include "app/shell/frames/main_frame.h"
#include "platform/base/cp932.h"
#include "platform/base/message_box.h"
#include "platform/base/path.h"
#include "platform/base/profile.h"
#include "platform/ui/desktop.h"
#include "platform/ui/draw.h"
#include "platform/ui/paint.h"

namespace varnex::shell {

namespace ui = platform::ui;

namespace {

const char kNoSecondDisplay[] = "複数のディスプレイが見つかりませんでした\nサブディスプレイウインドウは使用できません";
const char kDisplayFont[] = "ＭＳ ゴシック";
constexpr uint32_t kWhite = 0xFFFFFF, kBlack = 0x000000;

bool sameRect(const ui::Rect& a, const ui::Rect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

int32_t getI32(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

void SplitDisplayLines(const std::string& text, std::string* first, std::string* second) {
  const size_t cut = platform::cp932::fitLength(text, 20);
  *first = text.substr(0, cut);
  *second = text.substr(cut);
}

// ---- CCdFrm ------------------------------------------------------------------------

CCdFrm::CCdFrm(CREGApp* app) : app_(app) {}

CCdFrm::~CCdFrm() = default;

bool CCdFrm::Create(const ui::Rect& rect) {
  ui::WindowSpec window;
  window.className = "CCdFrm";
  window.rect = rect;
  window.visible = false;
  // No caption, no sizing border, above the register's own windows, and the
  // clerk's keys stay with the register.
  window.frameless = true;
  window.topmost = true;
  hwnd_ = ui::createWindow(window, [this](HWND h, uint32_t m, WPARAM w, LPARAM l) { return WindowProc(h, m, w, l); });
  if (!hwnd_) return false;
  view_ = std::make_unique<CCdView>(app_);
  if (!view_->Create(hwnd_, {0, 0, rect.width(), rect.height()})) {
    view_.reset();
    // Destroying runs OnDestroy, which would delete this object; the caller
    // deletes it on a false answer instead.
    ui::setWindowProc(hwnd_, ui::defaultWindowProc);
    ui::destroyWindow(hwnd_);
    hwnd_ = nullptr;
    return false;
  }
  ui::showWindow(hwnd_, true);
  return true;
}

LRESULT CCdFrm::WindowProc(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case ui::kWmSize:
      if (view_) ui::moveWindow(view_->GetSafeHwnd(), ui::clientRect(hwnd));
      return 0;
    case ui::kWmDestroy:
      OnDestroy();
      return 0;  // this object is gone
    default:
      return ui::defaultWindowProc(hwnd, message, wParam, lParam);
  }
}

void CCdFrm::OnDestroy() {
  CREGApp* app = app_;
  const ui::Rect rect = ui::windowRect(hwnd_);
  if (app->m_pCdFrm == this) app->m_pCdFrm = nullptr;
  if (m_hOwner && ui::isWindow(m_hOwner)) ui::setFocus(m_hOwner);
  if (!app->m_Display.secondDisplay) {
    platform::MessageBoxRequest request;
    request.owner = m_hOwner;
    request.text = kNoSecondDisplay;
    request.style = platform::kMbIconWarning;
    platform::showMessageBox(request);
  } else if (!sameRect(rect, app->m_rcCdMonitor)) {
    // A window the shop placed by hand opens there again next time.
    auto& profile = platform::Profile::of(platform::ProfileScope::User);
    profile.setInt(reg::kSettingsSection, "Cd LeftPt", rect.left);
    profile.setInt(reg::kSettingsSection, "Cd TopPt", rect.top);
    profile.setInt(reg::kSettingsSection, "Cd RightPt", rect.right);
    profile.setInt(reg::kSettingsSection, "Cd BottomPt", rect.bottom);
  }
  delete this;
}

// ---- CCdView -----------------------------------------------------------------------

CCdView::CCdView(CREGApp* app) : app_(app) {}

CCdView::~CCdView() {
  if (hwnd_ && ui::isWindow(hwnd_)) {
    ui::killTimer(hwnd_, kTimerCdPicture);
    ui::setPaintHandler(hwnd_, {});
  }
}

bool CCdView::Create(HWND parent, const ui::Rect& rect) {
  ui::WindowSpec window;
  window.className = "CCdView";
  window.parent = parent;
  window.rect = rect;
  hwnd_ = ui::createWindow(window, [this](HWND h, uint32_t m, WPARAM w, LPARAM l) { return WindowProc(h, m, w, l); });
  if (!hwnd_) return false;
  // The customer types nothing here: no input method.
  ui::setImeState(hwnd_, ui::ImeState{});
  ui::setPaintHandler(hwnd_, [this](HWND h, ui::DrawContext& dc) { OnPaint(h, dc); });
  return true;
}

LRESULT CCdView::WindowProc(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CD_UPDATE:
      return OnCdUpdate(wParam, lParam);
    case ui::kWmTimer:
      OnTimer(static_cast<uint32_t>(wParam));
      return 0;
    case ui::kWmDestroy:
      ui::killTimer(hwnd, kTimerCdPicture);
      return 0;
    default:
      return ui::defaultWindowProc(hwnd, message, wParam, lParam);
  }
}

LRESULT CCdView::OnCdUpdate(WPARAM, LPARAM lParam) {
  if (!app_->m_Display.secondDisplay) return 0;
  if (app_->m_pMainFrame && lParam == reinterpret_cast<LPARAM>(app_->m_pMainFrame)) return 1;
  if (lParam) {
    m_bSaleShown = 1;
    ui::invalidateWindow(hwnd_);
    return 1;
  }
  // Back to idle. The last sale's lines are always painted over: they must
  // not stay up for the next customer, whatever the idle message and option.
  m_bSaleShown = 0;
  ui::invalidateWindow(hwnd_);
  SortedRecordList* pictures = app_->m_pCdPictures.get();
  if (pictures && pictures->Count() > 0) {
    if (m_nPictureIndex >= pictures->Count()) m_nPictureIndex = 0;
    StartPictureTimer();
  }
  return 1;
}

// Starts timer 106 with the display time of the picture shown, when there
// is more than one to cycle through.
bool CCdView::StartPictureTimer() {
  SortedRecordList* pictures = app_->m_pCdPictures.get();
  uint8_t record[kCdPictureRecordSize];
  if (!pictures || !pictures->Read(m_nPictureIndex, record)) return false;
  if (pictures->Count() <= 1) return true;
  const int32_t time = getI32(record + 4);
  ui::setTimer(hwnd_, kTimerCdPicture, static_cast<uint32_t>(time > 0 ? time : 1));
  return true;
}

void CCdView::OnTimer(uint32_t id) {
  if (id != kTimerCdPicture) return;
  ui::killTimer(hwnd_, kTimerCdPicture);
  SortedRecordList* pictures = app_->m_pCdPictures.get();
  if (!app_->m_Display.secondDisplay || !pictures) return;
  const int32_t count = pictures->Count();
  if (count == 0) return;
  m_nPictureIndex = m_nPictureIndex + 1 >= count ? 0 : m_nPictureIndex + 1;
  ui::invalidateWindow(hwnd_);
  StartPictureTimer();
}

void CCdView::OnPaint(HWND hwnd, ui::DrawContext& dc) {
  painted_ = Painted{};
  if (!app_->m_Display.secondDisplay || !app_->m_pCdFrm) return;
  if (ui::screens().size() < 2) {
    // The second monitor is gone: the window closes and says why.
    app_->m_Display.secondDisplay = 0;
    ui::postMessage(app_->m_pCdFrm->GetSafeHwnd(), ui::kWmClose, 0, 0);
    return;
  }
  const ui::Rect client = ui::clientRect(hwnd);
  const int32_t width = client.width();
  const int32_t n = (width - 16) / 20, h = 2 * n;
  const int32_t top = client.bottom - (2 * h + 24);
  const ui::Rect first{4, top, width - 4, top + h + 8};
  const ui::Rect second{4, top + h + 12, width - 4, top + 2 * h + 20};
  const bool idle = !m_bSaleShown;
  const bool boxes = !idle || app_->m_Display.idleOption == 0;

  dc.fillRect(client, kWhite);
  // The picture: while idle the one at the picture index, else "CD0".
  std::string name = "CD0";
  uint8_t record[kCdPictureRecordSize];
  if (idle && app_->m_pCdPictures && app_->m_pCdPictures->Read(m_nPictureIndex, record)) {
    record[kCdPictureRecordSize - 1] = 0;
    name = reinterpret_cast<const char*>(record + 8);
  }
  const std::string file = platform::mapPath(app_->m_strPicturePath + name + ".jpg");
  ui::Image picture;
  if (picture.load(file)) {
    // The text band stays clear of the picture.
    if (boxes) dc.setClip({0, 0, width, first.top - 4});
    dc.drawImage(client, picture);
    dc.clearClip();
    painted_.picture = name;
  }
  if (!boxes) return;

  std::string line1, line2;
  SplitDisplayLines(idle ? app_->m_strMsgCD : app_->m_strCdText, &line1, &line2);
  dc.setPen(kBlack);
  dc.setBrush(kWhite);
  if (idle) {
    dc.rectangle({first.left, first.top, second.right, second.bottom});
  } else {
    dc.rectangle(first);
    dc.rectangle(second);
  }
  dc.setFont(kDisplayFont, h, 400);
  dc.setTextColour(kBlack);
  const uint32_t align = (idle ? ui::kTextLeft : ui::kTextRight) | ui::kTextVerticalCentre | ui::kTextSingleLine;
  dc.drawText({8, first.top, width - 8, first.bottom}, line1, align);
  dc.drawText({8, second.top, width - 8, second.bottom}, line2, align);
  painted_.texts = {line1, line2};
}

}  // namespace varnex::shell
