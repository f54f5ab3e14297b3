// The touch-key panel (see top_view.h).
#include "app/register/view/top_view.h"

#include <algorithm>
#include <string>

#include "app/register/engine/key_codes.h"
#include "app/register/engine/records.h"
#include "app/register/engine/reg_com.h"
#include "app/register/print/receipt_format.h"
#include "app/register/view/key_text.h"
#include "app/register/view/reg_view.h"
#include "app/shell/app/reg_app.h"
#include "platform/base/file.h"
#include "platform/base/path.h"
#include "platform/base/profile.h"
#include "platform/ui/input.h"
#include "platform/ui/paint.h"
#include "platform/ui/window.h"

namespace varnex::reg {

namespace ui = platform::ui;

namespace {

const char kFace[] = "ＭＳ ゴシック";
// Colours (0x00BBGGRR).
constexpr uint32_t kBlue = 0xFF0000, kDarkBlue = 0x800000, kBrightBlue = 0xFF3000;
constexpr uint32_t kLightYellow = 0xE0FFFF, kPictureGrey = 0xC8E8E8;
constexpr uint32_t kBlack = 0x000000, kWhite = 0xFFFFFF;
// The panel keeps room for this many keys.
constexpr int32_t kMostKeys = 120;
constexpr int32_t kLeastPaneHeight = 100;
constexpr int32_t kNameFont = 13, kPriceFont = 14;

const platform::Profile& profile() { return platform::Profile::of(platform::ProfileScope::User); }

}  // namespace

std::string ScreenPrice(int32_t price) {
  std::string text = receipt::amountField(price, 10, false);
  if (price >= 0) {
    const size_t first = text.find_first_not_of(' ');
    if (first != std::string::npos && first > 0) text = text.substr(0, first - 1) + "￥" + text.substr(first);
  }
  return text;
}

CTopView::CTopView(CRegCom* engine, shell::CREGApp* app, std::function<HWND()> activeView)
    : engine_(engine), app_(app), activeView_(std::move(activeView)) {}

int32_t CTopView::KeyHeight() const { return std::max(1, app_ ? app_->m_nKeyHeight : 75); }

int32_t CTopView::KeyNumber() const { return std::clamp(app_ ? app_->m_nKeyNumber : 12, 0, kMostKeys); }

int32_t CTopView::Rows() const { return (KeyNumber() + kColumns - 1) / kColumns; }

void CTopView::onInitialUpdate() {
  LoadKeys();
  onSize(clientRect().width(), clientRect().height());
}

void CTopView::LoadKeys() {
  keys_.assign(static_cast<size_t>(KeyNumber()), Key{});
  SetScrollSizes();
  if (!engine_ || !engine_->IsOpen()) return;
  // Key pictures lie with the other pictures in the register's picture
  // folder; a shop that keeps them in the folder it imports pictures from
  // ("Image Folder") finds them there too.
  const std::string pictures = app_ ? app_->m_strPicturePath : std::string();
  const std::string source = profile().getString(kSettingsSection, "Image Folder", "");
  for (int32_t i = 0; i < KeyNumber(); ++i) {
    Key& key = keys_[static_cast<size_t>(i)];
    const int32_t position = PositionOfIndex(i);
    uint8_t layout[8] = {};
    if (engine_->GetKeyByPosition(static_cast<uint16_t>(position), layout) < 0) continue;
    key.keyCode = getU16(layout, keylayout::kFunction.offset);
    if (key.keyCode == 0) continue;
    key.drawn = true;
    key.keyText = GetKeyCodeText(layout);
    uint8_t record[64] = {};
    if (keyType(key.keyCode) == kKeyDepartment) {
      if (engine_->GetDepartmentRecord(keyNumber(key.keyCode), record) >= 0) {
        key.name = receipt::trimRight(getText(record, department::kName.offset, department::kName.size));
        key.price = getI32(record, department::kUnitPrice.offset);
      }
    } else if (engine_->GetTransKeyRecord(key.keyCode, record) >= 0) {
      key.name = receipt::trimRight(getText(record, transkey::kName.offset, transkey::kName.size));
    }
    for (const std::string& folder : {pictures, source}) {
      if (folder.empty()) continue;
      const std::string path =
          platform::mapPath(platform::withSeparator(folder) + "KEY" + std::to_string(position) + ".jpg");
      if (platform::fileExists(path) && key.picture.load(path)) break;
      key.picture = ui::Image();
    }
  }
}

ui::Rect CTopView::CellRect(int32_t index) const {
  const ui::Point scroll = scrollPosition();
  const int32_t left = (index % kColumns) * kCellWidth - scroll.x, top = (index / kColumns) * KeyHeight() - scroll.y;
  return {left, top, left + kCellWidth, top + KeyHeight()};
}

int32_t CTopView::IndexAt(int32_t x, int32_t y) const {
  if (x < 0 || y < 0) return -1;
  const ui::Point scroll = scrollPosition();
  const int32_t column = (x + scroll.x) / kCellWidth, row = (y + scroll.y) / KeyHeight();
  if (column >= kColumns) return -1;
  const int32_t index = row * kColumns + column;
  if (index >= KeyNumber() || index >= static_cast<int32_t>(keys_.size())) return -1;
  return index;
}

int32_t CTopView::PositionAt(int32_t x, int32_t y) const {
  const int32_t index = IndexAt(x, y);
  if (index < 0 || !keys_[static_cast<size_t>(index)].drawn) return 0;
  return PositionOfIndex(index);
}

void CTopView::onPaint(ui::DrawContext& dc) {
  const ui::Rect client = clientRect();
  dc.fillRect(client, kWhite);
  const int32_t height = KeyHeight();
  const int32_t scrollY = ScrollY();
  const int32_t firstRow = scrollY / height, lastRow = (scrollY + client.height()) / height;
  for (int32_t row = firstRow; row <= lastRow; ++row)
    for (int32_t column = 0; column < kColumns; ++column) {
      const int32_t index = row * kColumns + column;
      if (index >= KeyNumber() || index >= static_cast<int32_t>(keys_.size())) return;
      DrawKey(dc, index);
    }
}

void CTopView::DrawKey(ui::DrawContext& dc, int32_t index) {
  if (!engine_ || !engine_->IsOpen()) {
    if (engine_) engine_->ReportError("CRegCom", 0x200000FFu);
    return;
  }
  const Key& key = keys_[static_cast<size_t>(index)];
  if (!key.drawn) return;
  const ui::Rect cell = CellRect(index);
  const bool picture = !key.picture.isNull();
  const bool lit = index == highlight_;
  const bool hideName = app_ && app_->m_bHideFunctionName, hideKey = app_ && app_->m_bHideFunctionKey;
  uint32_t text = kBlack;
  if (lit && !picture) {
    dc.setPen(kDarkBlue);
    dc.setBrush(kBrightBlue);
    text = kWhite;
  } else {
    dc.setPen(kBlue);
    dc.setBrush(picture ? kPictureGrey : kLightYellow);
  }
  if (!(lit && picture)) dc.roundRectangle({cell.left + 1, cell.top + 1, cell.right - 1, cell.bottom - 1}, 12, 12);
  dc.setTextColour(text);

  const int32_t inset = (kCellWidth - kPictureWidth) / 2;
  if (picture) {
    const ui::Rect area{cell.left + inset, cell.top + (hideName ? 5 : 18), cell.right - inset,
                        cell.bottom - (hideKey ? 5 : 18)};
    if (area.height() > 0) dc.drawImage(area, key.picture);
  }
  if (!(hideName && picture) && !key.name.empty()) {
    if (picture) {
      dc.setFont(kFace, kNameFont - 1);
      dc.drawText({cell.left + 3, cell.top + 3, cell.right - 3, cell.top + 17}, key.name,
                  ui::kTextCentre | ui::kTextVerticalCentre | ui::kTextSingleLine);
    } else {
      dc.setFont(kFace, kNameFont, 700);
      dc.drawText({cell.left + 5, cell.top + 4, cell.right - 5, cell.bottom - 18}, key.name,
                  ui::kTextLeft | ui::kTextWordBreak | ui::kTextWordEllipsis);
    }
  }
  const ui::Rect bottomLine{cell.left + 4, cell.bottom - 18, cell.right - 6, cell.bottom - 2};
  if (keyType(key.keyCode) == kKeyDepartment && key.price != 0) {
    if (!(hideKey && picture)) {
      dc.setFont(kFace, kPriceFont, 700);
      dc.drawText(bottomLine, ScreenPrice(key.price),
                  ui::kTextRight | ui::kTextVerticalCentre | ui::kTextSingleLine);
    }
  } else if (!hideKey && !key.keyText.empty()) {
    dc.setFont(kFace, kNameFont - 2);
    dc.drawText(bottomLine, key.keyText, ui::kTextRight | ui::kTextVerticalCentre | ui::kTextSingleLine);
  }
}

void CTopView::onSize(int32_t, int32_t) {
  // The bars keep the position within the keys; the page follows the client.
  SetScrollSizes();
}

// Six cells across and every row of keys down; a bar's arrow moves one key,
// its track one client.
void CTopView::SetScrollSizes() {
  setScrollSizes({kColumns * kCellWidth, Rows() * KeyHeight()}, {kCellWidth, KeyHeight()});
}

void CTopView::ScrollTo(int32_t y) { scrollTo(scrollPosition().x, y); }

void CTopView::SetHighlight(int32_t index) {
  if (index == highlight_) return;
  if (highlight_ >= 0) invalidate(CellRect(highlight_));
  highlight_ = index;
  if (index >= 0) {
    invalidate(CellRect(index));
    // The lit key is shown whole.
    const ui::Rect cell = CellRect(index);
    if (cell.top < 0) ScrollTo(ScrollY() + cell.top);
    else if (cell.bottom > clientRect().height()) ScrollTo(ScrollY() + cell.bottom - clientRect().height());
  }
}

void CTopView::PressKey(int32_t x, int32_t y) {
  // The hover's capture ends with the press: the key may open a window
  // (the picker, a dialog) whose touches must not come back here.
  SetHighlight(-1);
  if (captured_) {
    captured_ = false;
    ui::releaseCapture();
  }
  const int32_t position = PositionAt(x, y);
  HWND target = activeView_ ? activeView_() : nullptr;
  if (position == 0 || !target) {
    ui::messageBeep(ui::kBeepPlain);
    return;
  }
  const Key& key = keys_[static_cast<size_t>(IndexAt(x, y))];
  // The key's code goes as its type and the decimal text of its number.
  const std::string number = std::to_string(keyNumber(key.keyCode));
  ui::sendMessage(target, WM_REG_PANELKEY, keyType(key.keyCode), reinterpret_cast<LPARAM>(number.c_str()));
}

bool CTopView::onMouse(uint32_t message, int32_t x, int32_t y, uint32_t) {
  // A touch on the floating pad above the panel is the pad's.
  if ((message == ui::kWmMouseMove || message == ui::kWmLButtonDown) && app_ &&
      app_->IsOverTenKeyPad(handle(), false, x, y))
    return true;
  switch (message) {
    case ui::kWmMouseMove: {
      const ui::Rect client = clientRect();
      const bool inside = x >= 0 && y >= 0 && x < client.width() && y < client.height();
      const int32_t index = inside && x >= 1 && y >= 1 ? IndexAt(x, y) : -1;
      if (index >= 0 && keys_[static_cast<size_t>(index)].drawn) {
        SetHighlight(index);
        if (!captured_) {
          ui::setCapture(handle());
          captured_ = true;
        }
      } else {
        SetHighlight(-1);
        if (captured_) {
          captured_ = false;
          ui::releaseCapture();
        }
      }
      return true;
    }
    case ui::kWmLButtonDown:
      PressKey(x, y);
      return true;
    default:
      return false;
  }
}

LRESULT CTopView::onMessage(uint32_t message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case ui::kWmMouseWheel: {
      const uint32_t keys = static_cast<uint32_t>(wParam & 0xFFFF);
      if (keys & (ui::kMkControl | ui::kMkShift)) break;
      const int16_t delta = static_cast<int16_t>((wParam >> 16) & 0xFFFF);
      if (delta < 0) ScrollTo(ScrollY() + KeyHeight());
      else if (delta > 0) ScrollTo(ScrollY() - KeyHeight());
      return 0;
    }
    case ui::kWmCaptureChanged:
      captured_ = false;
      return 0;
    case ui::kWmDestroy:
      if (HWND pane = ui::parentWindow(handle())) {
        const int32_t height = std::max(kLeastPaneHeight, ui::windowRect(pane).height());
        platform::Profile::of(platform::ProfileScope::User).setInt(kSettingsSection, "Top Height", height);
      }
      break;
    default:
      break;
  }
  return View::onMessage(message, wParam, lParam);
}

}  // namespace varnex::reg
