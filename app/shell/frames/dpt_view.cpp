// The department and PLU picker (see dpt_view.h).
#include "app/shell/frames/dpt_view.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "app/register/engine/key_codes.h"
#include "app/register/engine/records.h"
#include "app/register/engine/reg_com.h"
#include "app/register/print/receipt_format.h"
#include "app/register/view/key_text.h"
#include "app/register/view/reg_view.h"
#include "app/register/view/top_view.h"
#include "app/shell/app/reg_app.h"
#include "app/shell/frames/child_frame.h"
#include "app/shell/frames/main_frame.h"
#include "app/shell/frames/sel_adj_dlg.h"
#include "platform/base/file.h"
#include "platform/base/path.h"
#include "platform/base/profile.h"
#include "platform/ui/input.h"
#include "platform/ui/menu.h"
#include "platform/ui/paint.h"
#include "platform/ui/window.h"
#include "zemta/filedb.h"
#include "zemta/keys.h"
#include "zemta/tax.h"

namespace varnex::shell {

namespace ui = platform::ui;
using reg::getI32;
using reg::getU16;
using reg::putU16;

namespace {

const char kFace[] = "ＭＳ ゴシック";
// Colours (0x00BBGGRR).
constexpr uint32_t kBlue = 0xFF0000, kDarkBlue = 0x800000, kBrightBlue = 0xFF3000;
constexpr uint32_t kPictureCell = 0xC8E8E8, kPlainCell = 0xE0FFFF, kBlack = 0, kWhite = 0xFFFFFF;
constexpr int32_t kEntryDigits = 13;
constexpr int32_t kLastOrder = 255;
constexpr uint32_t kBeepAsterisk = 0x40;
// The frame's status panes and its button strip.
constexpr uint32_t kPaneList = 59395, kPaneEntry = 59396;
constexpr int32_t kDialogBar = 130;
constexpr uint32_t kBarClose = 1083;

platform::Profile& profile() { return platform::Profile::of(platform::ProfileScope::User); }

std::string textOf(const CDptView::Item& item, size_t offset, size_t width) {
  return reg::receipt::trimRight(reg::getText(item.data(), offset, width));
}

CDptFrm*& currentFrame() {
  static CDptFrm* frame = nullptr;
  return frame;
}

}  // namespace

// ---- the view ---------------------------------------------------------------------------

CDptView::CDptView(CREGApp* app, reg::CRegCom* engine, int32_t kind, bool embedded, bool displayOrder)
    : app_(app), engine_(engine), kind_(kind), embedded_(embedded), displayOrder_(displayOrder) {}

bool CDptView::IsEmpty(const Item& item) {
  return std::all_of(item.begin(), item.end(), [](uint8_t b) { return b == 0; });
}

std::string CDptView::CodeOf(int32_t i) const {
  if (i < 0 || i >= Count()) return std::string();
  return textOf(items_[static_cast<size_t>(i)], kCode, 14);
}

std::string CDptView::ImagePath(const std::string& code) const {
  const std::string folder = app_ ? app_->m_strPicturePath : std::string();
  if (folder.empty() || code.empty()) return std::string();
  return platform::mapPath(platform::withSeparator(folder) + code + ".jpg");
}

void CDptView::onInitialUpdate() { Load(false); }

void CDptView::Load(bool refresh) {
  items_.clear();
  pictures_.clear();
  selection_ = dragSource_ = dropTarget_ = -1;
  entry_.clear();
  order_.clear();
  entryShowsSelection_ = false;
  pictureFound_ = false;
  scrollY_ = 0;
  if (engine_ && engine_->IsOpen()) {
    if (kind_ == 0) LoadDepartments(embedded_);
    else LoadPlu();
  }
  // Pictures: a file named by the item's code in the image folder.
  pictures_.resize(items_.size());
  for (size_t i = 0; i < items_.size(); ++i) {
    Item& item = items_[i];
    if (IsEmpty(item)) continue;
    const std::string path = ImagePath(textOf(item, kCode, 14));
    if (!path.empty() && platform::fileExists(path) && pictures_[i].load(path)) {
      putU16(item.data(), kFlags, static_cast<uint16_t>(getU16(item.data(), kFlags) | kHasPicture));
      pictureFound_ = true;
    }
  }
  // Cell geometry.
  const int32_t width = app_ ? app_->m_nBmpWidth : 133, height = app_ ? app_->m_nBmpHeight : 100;
  textOnly_ = !pictureFound_ && kind_ == 0;
  if (textOnly_) {
    pictureWidth_ = pictureHeight_ = 0;
    cellWidth_ = width + 33;
    cellHeight_ = 36;
  } else if (!pictureFound_) {
    pictureWidth_ = 133;
    pictureHeight_ = 44;
    cellWidth_ = 166;
    cellHeight_ = 100;
  } else {
    pictureWidth_ = width;
    pictureHeight_ = height;
    cellWidth_ = width + 33;
    cellHeight_ = height + 36;
  }
  if (!embedded_ && !refresh) {
    for (int32_t i = 0; i < Count(); ++i)
      if (!IsEmpty(items_[static_cast<size_t>(i)])) {
        Select(i);
        break;
      }
  }
  Layout();
  ShowTexts();
  if (items_.empty()) ui::messageBeep(ui::kBeepPlain);
  invalidate();
}

void CDptView::LoadDepartments(bool allWhenNone) {
  FileDBHandle table = engine_->Table(reg::kDepartmentTable);
  if (!table || FileDBOpenEx(table, FILEDB_MODE_READ) != 0) return;
  std::vector<std::array<uint8_t, 64>> listed, all;
  const int32_t count = FileDBRecGetSize(table);
  for (int32_t n = 1; n < count; ++n) {
    std::array<uint8_t, 64> record{};
    if (FileDBRecRead(table, n, record.data()) != 0) break;
    if (getU16(record.data(), reg::department::kNumber.offset) == 0) continue;
    all.push_back(record);
    if (getU16(record.data(), reg::department::kListSelect.offset) == 1) listed.push_back(record);
  }
  FileDBCloseEx(table);
  // The embedded pane shows every department when none is marked for the list.
  std::vector<std::array<uint8_t, 64>>& shown = listed.empty() && allWhenNone ? all : listed;
  std::stable_sort(shown.begin(), shown.end(), [](const auto& a, const auto& b) {
    return getU16(a.data(), reg::department::kNumber.offset) < getU16(b.data(), reg::department::kNumber.offset);
  });
  for (const auto& record : shown) {
    Item item{};
    std::memcpy(item.data(), record.data(), 36);
    const uint16_t number = getU16(record.data(), reg::department::kNumber.offset);
    const std::string text = std::to_string(number);
    std::memcpy(item.data() + kCode, text.data(), text.size());
    putU16(item.data(), kDeptNumber, number);
    uint8_t layout[8] = {};
    if (engine_->FindKeyByCode(reg::makeKeyCode(reg::kKeyDepartment, number), layout) >= 0)
      putU16(item.data(), kKeyWord, getU16(layout, reg::keylayout::kKeyWord.offset));
    reg::putI32(item.data(), kPrice, getI32(record.data(), reg::department::kUnitPrice.offset));
    items_.push_back(item);
  }
}

void CDptView::LoadPlu() {
  std::vector<Item> found;
  if (engine_->OdbcPluLinked() && engine_->OdbcIsOpen()) {
    // The shop's items live in its own database: the rows of the department.
    ui::overrideCursor(ui::CursorShape::Wait);
    uint8_t row[reg::odbcplu::kLen] = {};
    reg::OdbcStmt statement;
    for (int32_t r = engine_->OdbcSelectByNumber(kind_, row, &statement); r == 1;
         r = engine_->OdbcFetchNextByNumber(row, &statement)) {
      Item item{};
      std::memcpy(item.data(), row, item.size());
      if (textOf(item, kCode, 14).empty()) continue;
      putU16(item.data(), kFlags, static_cast<uint16_t>(getU16(item.data(), kFlags) & ~0x000F));
      found.push_back(item);
    }
    reg::OdbcDrop(&statement);
    ui::restoreCursor();
  } else {
    FileDBHandle table = engine_->Table(reg::kPluTable);
    if (!table || FileDBOpenEx(table, FILEDB_MODE_READ) != 0) return;
    const int32_t count = FileDBRecGetSize(table);
    for (int32_t n = 1; n < count; ++n) {
      Item item{};
      if (FileDBRecRead(table, n, item.data()) != 0) break;
      if (getU16(item.data(), reg::plu::kDepartment.offset) != kind_) continue;
      if (textOf(item, kCode, 14).empty()) continue;
      putU16(item.data(), kFlags, static_cast<uint16_t>(getU16(item.data(), kFlags) & ~0x000F));
      found.push_back(item);
    }
    FileDBCloseEx(table);
  }
  // In display order, then by name.
  std::stable_sort(found.begin(), found.end(), [](const Item& a, const Item& b) {
    const uint16_t oa = getU16(a.data(), kOrder), ob = getU16(b.data(), kOrder);
    if (oa != ob) return oa < ob;
    return std::memcmp(a.data(), b.data(), 24) < 0;
  });
  // In the frame every display-order number from the first to the last has
  // its cell: a free number is an empty cell.
  for (size_t i = 0; i < found.size(); ++i) {
    if (i > 0 && !embedded_) {
      const uint16_t before = getU16(found[i - 1].data(), kOrder), order = getU16(found[i].data(), kOrder);
      for (int32_t free = order - before - 1; free > 0; --free) items_.push_back(Item{});
    }
    items_.push_back(found[i]);
  }
}

void CDptView::Layout() {
  const ui::Rect client = clientRect();
  columns_ = std::max(1, client.width() / std::max(1, cellWidth_));
  const int32_t count = Count() + (dragSource_ >= 0 ? 1 : 0);
  rows_ = (count + columns_ - 1) / columns_;
  const int32_t most = std::max(0, rows_ * cellHeight_ - client.height());
  scrollY_ = std::clamp(scrollY_, 0, most);
}

void CDptView::ScrollBy(int32_t pixels) {
  const int32_t most = std::max(0, rows_ * cellHeight_ - clientRect().height());
  scrollY_ = std::clamp(scrollY_ + pixels, 0, most);
  invalidate();
}

void CDptView::onSize(int32_t, int32_t) {
  Layout();
  invalidate();
}

ui::Rect CDptView::CellRect(int32_t i) const {
  const int32_t left = (i % columns_) * cellWidth_, top = (i / columns_) * cellHeight_ - scrollY_;
  return {left, top, left + cellWidth_, top + cellHeight_};
}

int32_t CDptView::IndexAt(int32_t x, int32_t y) const {
  if (x < 0 || y < 0) return -1;
  const int32_t column = x / cellWidth_;
  if (column >= columns_) return -1;
  return ((y + scrollY_) / cellHeight_) * columns_ + column;
}

void CDptView::Select(int32_t index) {
  if (index == selection_) return;
  if (selection_ >= 0) invalidate(CellRect(selection_));
  selection_ = index;
  if (index >= 0 && index < Count()) {
    invalidate(CellRect(index));
    entry_ = CodeOf(index);
    order_ = std::to_string(getU16(ItemAt(index).data(), kOrder));
    entryShowsSelection_ = true;
  } else {
    if (entryShowsSelection_) entry_.clear();
    order_.clear();
    entryShowsSelection_ = false;
  }
  ShowTexts();
}

std::string CDptView::PaneText(int32_t pane) const {
  if (pane == 1) return kind_ == 0 ? "部門一覧" : "部門№" + std::to_string(kind_);
  return displayOrder_ ? "表示順: " + order_ : "入力: " + entry_;
}

void CDptView::ShowTexts() {
  if (!frame_ || embedded_) return;
  std::string title = "Varnex - 部門一覧選択";
  if (kind_ != 0) {
    uint8_t record[64] = {};
    std::string name = "該当する部門はありません";
    if (engine_ && engine_->GetDepartmentRecord(static_cast<uint32_t>(kind_), record) >= 0)
      name = reg::receipt::trimRight(reg::getText(record, 0, 24));
    title = std::string(displayOrder_ ? "Varnex - PLU 表示順設定 - [" : "Varnex - PLU 選択 - [") + name + "]";
  }
  frame_->ShowTexts(title);
}

// ---- drawing ----------------------------------------------------------------------------

void CDptView::onPaint(ui::DrawContext& dc) {
  const ui::Rect client = clientRect();
  dc.fillRect(client, kWhite);
  if (items_.empty()) {
    const ui::Rect box{0, 0, cellWidth_ * 2, cellHeight_};
    dc.setFont(kFace, 14);
    dc.setTextColour(kBlack);
    dc.drawText(box, "該当するＰＬＵはありません", ui::kTextCentre | ui::kTextVerticalCentre | ui::kTextSingleLine);
    return;
  }
  const int32_t count = Count() + (dragSource_ >= 0 ? 1 : 0);
  const int32_t first = (scrollY_ / cellHeight_) * columns_;
  const int32_t last = ((scrollY_ + client.height()) / cellHeight_ + 1) * columns_;
  for (int32_t i = first; i < std::min(count, last); ++i) DrawCell(dc, i);
}

void CDptView::DrawCell(ui::DrawContext& dc, int32_t index) {
  const ui::Rect cell = CellRect(index);
  const bool lit = index == selection_ || (dragSource_ >= 0 && index == dropTarget_);
  if (lit) {
    dc.setPen(kDarkBlue);
    dc.setBrush(kBrightBlue);
  } else {
    dc.setPen(kBlue);
    dc.setBrush(pictureFound_ ? kPictureCell : kPlainCell);
  }
  dc.roundRectangle({cell.left + 1, cell.top + 1, cell.right - 1, cell.bottom - 1}, 12, 12);
  if (index >= Count()) return;  // the spare cell of a drag
  const Item& item = ItemAt(index);
  if (IsEmpty(item)) return;
  const std::string code = textOf(item, kCode, 14);

  // The name above the picture area, the price below it; a text-only cell
  // has the two lines one under the other.
  ui::Rect nameBox{cell.left + 4, cell.top + 2, cell.right - 4, cell.top + 18};
  ui::Rect priceBox{cell.left + 4, cell.top + 18, cell.right - 6, cell.bottom - 2};
  if (!textOnly_) {
    const int32_t top = cell.top + (cellHeight_ - pictureHeight_ - 32) / 2 + 15;
    const ui::Rect area{cell.left + (cellWidth_ - pictureWidth_) / 2, top,
                        cell.left + (cellWidth_ - pictureWidth_) / 2 + pictureWidth_, top + pictureHeight_};
    if (!pictureFound_ && kind_ != 0) {
      DrawBarcode(dc, area, code);
    } else if (!pictures_[static_cast<size_t>(index)].isNull()) {
      dc.drawImage(area, pictures_[static_cast<size_t>(index)]);
    } else {
      // No picture of its own: a plain placeholder frame.
      dc.setPen(0x808080);
      dc.setBrush(0xF0F0F0);
      dc.rectangle(area);
    }
    nameBox.bottom = area.top - 1;
    priceBox.top = area.bottom + 1;
  }
  uint32_t text = kBlack, back = pictureFound_ ? kPictureCell : kPlainCell;
  if (lit && textOnly_) {
    text = kWhite;
    back = kBrightBlue;
  } else if (!lit && pictureFound_) {
    back = kWhite;
  }
  if (pictureFound_) dc.fillRect(nameBox, back);
  auto fontFor = [](const ui::Rect& box) { return std::clamp(box.height() - 2, 10, 14); };
  dc.setFont(kFace, fontFor(nameBox));
  dc.setTextColour(text);
  dc.drawText(nameBox, reg::receipt::trimRight(reg::getText(item.data(), 0, 24)),
              ui::kTextLeft | ui::kTextVerticalCentre | ui::kTextSingleLine);
  // Price (right-aligned), or in the embedded department list the keyboard
  // key of a department without a price.
  const int32_t price = getI32(item.data(), kPrice);
  std::string priceText;
  if (embedded_ && kind_ == 0 && price == 0) {
    if (!(app_ && app_->m_bHideFunctionFKey)) priceText = reg::KeyWordText(getU16(item.data(), kKeyWord));
  } else {
    priceText = reg::ScreenPrice(price);
  }
  if (!priceText.empty()) {
    dc.setFont(kFace, fontFor(priceBox));
    dc.drawText(priceBox, priceText, ui::kTextRight | ui::kTextVerticalCentre | ui::kTextSingleLine);
  }
}

void CDptView::DrawBarcode(ui::DrawContext& dc, const ui::Rect& area, const std::string& code) {
  char pattern[64] = {};
  const int32_t elements = code.size() == 13 || code.size() == 8
                               ? BarCodeMake(BARCODE_EAN, code.c_str(), static_cast<int32_t>(code.size()), pattern,
                                             sizeof pattern)
                               : 0;
  if (elements <= 0) {
    dc.setPen(0x808080);
    dc.setBrush(0xF0F0F0);
    dc.rectangle(area);
    return;
  }
  int32_t total = 0;
  for (int32_t i = 0; i < elements; ++i) total += pattern[i] - '0';
  int32_t x = area.left + std::max(0, (area.width() - total) / 2);
  dc.fillRect({x - 4, area.top, x + total + 4, area.bottom}, kWhite);
  for (int32_t i = 0; i < elements; ++i) {
    const int32_t w = pattern[i] - '0';
    if (i % 2 == 1 && w > 0) dc.fillRect({x, area.top, x + w, area.bottom}, kBlack);
    x += w;
  }
}

// ---- input ------------------------------------------------------------------------------

void CDptView::Refuse() {
  ui::messageBeep(ui::kBeepPlain);
  if (selection_ >= 0) {
    entry_ = CodeOf(selection_);
    order_ = std::to_string(getU16(ItemAt(selection_).data(), kOrder));
    entryShowsSelection_ = true;
  } else {
    entry_.clear();
    order_.clear();
  }
  ShowTexts();
}

bool CDptView::onMouse(uint32_t message, int32_t x, int32_t y, uint32_t) {
  // A touch on the floating pad above the picker is the pad's.
  if ((message == ui::kWmMouseMove || message == ui::kWmLButtonDown) && app_ &&
      app_->IsOverTenKeyPad(handle(), false, x, y))
    return true;
  const ui::Rect client = clientRect();
  const bool inside = x >= 0 && y >= 0 && x < client.width() && y < client.height();
  const int32_t index = inside ? IndexAt(x, y) : -1;
  const bool onItem = index >= 0 && index < Count() && !IsEmpty(ItemAt(index));
  switch (message) {
    case ui::kWmMouseMove:
      if (dragSource_ >= 0) {
        if (!inside) {
          // Leaving the view ends the drag.
          dragSource_ = dropTarget_ = -1;
          Select(-1);
          Layout();
          invalidate();
          if (captured_) ui::releaseCapture();
          captured_ = false;
          return true;
        }
        const int32_t target = index >= 0 && index <= Count() ? index : -1;
        if (target != dropTarget_) {
          dropTarget_ = target;
          invalidate();
        }
        return true;
      }
      if (onItem) {
        Select(index);
        if (embedded_ && !captured_) {
          ui::setCapture(handle());
          captured_ = true;
        }
      } else if (embedded_) {
        Select(-1);
        if (captured_) ui::releaseCapture();
        captured_ = false;
      }
      return true;
    case ui::kWmLButtonDown:
      if (displayOrder_ && !embedded_) {
        if (onItem && index == selection_) {
          dragSource_ = dropTarget_ = index;
          ui::setCapture(handle());
          captured_ = true;
          Layout();
          invalidate();
        } else {
          ui::messageBeep(ui::kBeepPlain);
        }
        return true;
      }
      if (onItem && index == selection_) {
        entry_ = CodeOf(index);
        Commit(true);
      } else {
        ui::messageBeep(ui::kBeepPlain);
      }
      return true;
    case ui::kWmLButtonUp:
      if (dragSource_ >= 0) {
        const int32_t from = dragSource_, to = dropTarget_;
        dragSource_ = dropTarget_ = -1;
        if (captured_) ui::releaseCapture();
        captured_ = false;
        if (to >= 0 && to != from) MoveItem(from, to);
        else Layout(), invalidate();
      }
      return true;
    case ui::kWmRButtonDown: {
      // The embedded department list has no menu.
      if (embedded_ && kind_ == 0) return true;
      const ui::Point at = ui::clientToScreen(handle(), x, y);
      if (const uint32_t chosen = ui::trackPopupMenu(BuildPopupMenu(), handle(), at.x, at.y, false))
        RunCommand(chosen);
      return true;
    }
    case ui::kWmLButtonDblClk:
      // Closing: the cancel key follows unless a pick was delivered already.
      if (frame_ && !embedded_) frame_->CloseWith(0, "CLEAR", sent_);
      return true;
    default:
      return false;
  }
}

bool CDptView::onKeyDown(uint32_t virtualKey, LPARAM) {
  if (virtualKey == ui::kVkF1 + 9) {  // F10
    if (frame_ && !embedded_) frame_->Close();
    return true;
  }
  if (virtualKey == ui::kVkShift || virtualKey == ui::kVkControl || virtualKey == ui::kVkMenu) return true;
  const int32_t character = ZemtaVKeyToChar(virtualKey);
  if (character >= '0' && character <= '9') {
    if (entryShowsSelection_) entry_.clear();
    entryShowsSelection_ = false;
    entry_ += static_cast<char>(character);
    if (static_cast<int32_t>(entry_.size()) > kEntryDigits) entry_.erase(0, 1);
    ShowTexts();
    return true;
  }
  // Any other key means what the key layout gives it.
  uint16_t word = static_cast<uint16_t>(reg::keylayout::kVirtual | (virtualKey & 0xFF));
  if (ui::isShiftDown()) word |= reg::keylayout::kShift;
  if (ui::isAltDown()) word |= reg::keylayout::kAlt;
  if (ui::isControlDown()) word |= reg::keylayout::kCtrl;
  uint8_t layout[8] = {};
  if (!engine_ || (engine_->GetKeyByCode(word, layout) < 0 &&
                   (character <= 0 || engine_->GetKeyByCode(static_cast<uint16_t>(character), layout) < 0))) {
    ui::messageBeep(ui::kBeepPlain);
    return true;
  }
  const uint16_t key = getU16(layout, reg::keylayout::kFunction.offset);
  const uint16_t type = reg::keyType(key), code = reg::keyNumber(key);
  auto move = [this](int32_t to) {
    if (to < 0 || to >= Count()) return Refuse();
    Select(to);
  };
  if (type == reg::kKeyDepartment) {
    uint8_t record[64] = {};
    if (displayOrder_ || engine_->GetDepartmentRecord(code, record) < 0 ||
        getU16(record, reg::department::kListSelect.offset) != 1)
      return Refuse(), true;
    SwitchKind(code);
    return true;
  }
  if (type != reg::kKeyFunction) return Refuse(), true;
  switch (code) {
    case reg::kFunctionCursorUp: move(selection_ - columns_); break;
    case reg::kFunctionCursorDown: move(selection_ + columns_); break;
    case reg::kFunctionCursorLeft: move(selection_ + 1); break;
    case reg::kFunctionCursorRight: move(selection_ - 1); break;
    case reg::kFunctionPageUp:
    case reg::kFunctionPageDown: {
      // A page is the rows the view shows; the selection moves as far.
      const int32_t page = std::max(1, clientRect().height() / std::max(1, cellHeight_));
      const int32_t step = code == reg::kFunctionPageUp ? -page : page;
      int32_t to = selection_ + step * columns_;
      if (code == reg::kFunctionPageUp) to = std::max(selection_ % std::max(1, columns_), to);
      else if (to >= Count()) to = Count() - 1;
      if (selection_ < 0 || to == selection_) return Refuse(), true;
      ScrollBy(step * cellHeight_);
      move(to);
      break;
    }
    case reg::kFunctionQuantity: {
      // The typed digits go to the register as an entry with the quantity key.
      if (displayOrder_ || !frame_ || !frame_->Target() || !ui::isWindow(frame_->Target())) return Refuse(), true;
      const std::string typed = entry_;
      const LRESULT kept = ui::sendMessage(frame_->Target(), reg::WM_REG_DPTSELECT, static_cast<WPARAM>(-1),
                                           reinterpret_cast<LPARAM>(typed.c_str()));
      if (kept == 0) {
        sent_ = true;
        frame_->CloseWith(kind_, typed, true);
      } else {
        const int32_t at = selection_;
        selection_ = -1;
        Select(at);
      }
      break;
    }
    case reg::kFunctionFirstRow: move(0); break;
    case reg::kFunctionLastRow: move(Count() - 1); break;
    case reg::kFunctionDepartmentLink: {
      const int32_t number = std::atoi(entry_.c_str());
      uint8_t record[64] = {};
      if (displayOrder_ || entryShowsSelection_ || number < 1 || number > 4095 ||
          engine_->GetDepartmentRecord(static_cast<uint32_t>(number), record) < 0 ||
          getU16(record, reg::department::kListSelect.offset) != 1)
        return Refuse(), true;
      SwitchKind(number);
      break;
    }
    case reg::kFunctionPlu:
      if (displayOrder_ || selection_ < 0) return Refuse(), true;
      if (!entryShowsSelection_ && entry_.size() != 8 && entry_.size() != 13) return Refuse(), true;
      Commit(false);
      break;
    case reg::kFunctionCancelLine:
      if (displayOrder_) return Refuse(), true;
      if (kind_ == 0) {
        entry_ = "CLEAR";
        Commit(false);
      } else {
        SwitchKind(0);
      }
      break;
    default:
      Refuse();
      break;
  }
  return true;
}

void CDptView::SwitchKind(int32_t kind) {
  kind_ = kind;
  Load(false);
}

void CDptView::Commit(bool delivery) {
  if (entry_.empty()) return;
  if (!embedded_ && kind_ == 0 && entry_ != "CLEAR") {
    const bool noPrice = selection_ < 0 || getI32(ItemAt(selection_).data(), kPrice) == 0;
    if (noPrice) {
      // A department without its own price: its items are picked next.
      SwitchKind(std::atoi(entry_.c_str()));
      return;
    }
  }
  const std::string picked = entry_;
  if (captured_) {
    captured_ = false;
    ui::releaseCapture();
  }
  if (embedded_) {
    HWND target = activeView_ ? activeView_() : nullptr;
    if (target) ui::sendMessage(target, reg::WM_REG_DPTSELECT, static_cast<WPARAM>(kind_),
                                reinterpret_cast<LPARAM>(picked.c_str()));
    Select(-1);
    return;
  }
  bool sent = false;
  if (delivery && frame_ && frame_->Target() && ui::isWindow(frame_->Target())) {
    const LRESULT kept = ui::sendMessage(frame_->Target(), reg::WM_REG_DPTSELECT, static_cast<WPARAM>(kind_),
                                         reinterpret_cast<LPARAM>(picked.c_str()));
    sent_ = true;
    if (kept) {
      // Taken: the picker stays for the next item.
      ui::messageBeep(kBeepAsterisk);
      entry_.clear();
      entryShowsSelection_ = false;
      ShowTexts();
      return;
    }
    sent = true;
  }
  if (frame_) frame_->CloseWith(kind_, picked, sent);
}

// ---- the right-button menu -------------------------------------------------------------

std::vector<ui::PopupItem> CDptView::BuildPopupMenu() const {
  std::vector<ui::PopupItem> items;
  auto add = [&items](uint32_t command, const char* text, bool enabled) {
    ui::PopupItem i;
    i.command = command;
    i.text = text;
    i.enabled = enabled;
    items.push_back(i);
  };
  const bool selected = selection_ >= 0 && selection_ < Count() && !IsEmpty(ItemAt(selection_));
  add(kCmdCancel, "ｷｬﾝｾﾙ", true);
  add(kCmdClose, "閉じる", true);
  if (displayOrder_) {
    ui::PopupItem separator;
    separator.separator = true;
    items.push_back(separator);
    add(kCmdOpenOrder, "表示順を空ける...", selected && selection_ > 0);
    add(kCmdCloseOrder, "表示順を詰める...", selected && selection_ > 0 && IsEmpty(ItemAt(selection_ - 1)));
    add(kCmdChangeOrder, "表示順を変える...", selected);
  } else if (kind_ != 0) {
    add(kCmdBackToDepartments, "部門一覧選択に戻る", true);
  }
  return items;
}

void CDptView::RunCommand(uint32_t command) {
  switch (command) {
    case kCmdClose:
      if (frame_ && !embedded_) frame_->CloseWith(0, "CLEAR", sent_);
      break;
    case kCmdBackToDepartments:
      if (!displayOrder_ && kind_ != 0) SwitchKind(0);
      break;
    case kCmdChangeOrder:
      ChangeOrder();
      break;
    case kCmdOpenOrder:
      OpenOrder();
      break;
    case kCmdCloseOrder:
      CloseOrder();
      break;
    default:  // ｷｬﾝｾﾙ: the menu goes, nothing else
      break;
  }
}

// ---- display order ----------------------------------------------------------------------

int32_t CDptView::OrderAt(int32_t i) const { return getU16(ItemAt(i).data(), kOrder); }

void CDptView::SetOrderAt(int32_t i, int32_t order) {
  putU16(items_[static_cast<size_t>(i)].data(), kOrder, static_cast<uint16_t>(std::clamp(order, 1, kLastOrder)));
}

int32_t CDptView::LastOrder() const {
  for (int32_t i = Count() - 1; i >= 0; --i)
    if (!IsEmpty(ItemAt(i))) return OrderAt(i);
  return 0;
}

bool CDptView::WriteChanged(const std::vector<Item>& before) {
  // Only the items whose number moved are written.
  int32_t first = -1, last = -1;
  for (int32_t i = 0; i < Count(); ++i)
    if (!IsEmpty(ItemAt(i)) && getU16(before[static_cast<size_t>(i)].data(), kOrder) != OrderAt(i)) {
      if (first < 0) first = i;
      last = i;
    }
  if (first < 0) return true;
  return WriteOrders(first, last);
}

void CDptView::ChangeOrder() {
  const int32_t sel = selection_;
  if (!displayOrder_ || sel < 0 || sel >= Count() || IsEmpty(ItemAt(sel))) return Refuse();
  const int32_t n = CSelAdjDlg::Ask(handle(), CSelAdjDlg::kMove, std::min(kLastOrder, LastOrder() + 1));
  if (n <= 0) return;
  const int32_t current = OrderAt(sel);
  if (n == current) return;
  const std::vector<Item> before = items_;
  // The non-empty neighbours: a number shared with one of them means the
  // item leaves no gap behind.
  int32_t previous = -1, next = -1;
  for (int32_t i = sel - 1; i >= 0 && previous < 0; --i)
    if (!IsEmpty(ItemAt(i))) previous = i;
  for (int32_t i = sel + 1; i < Count() && next < 0; ++i)
    if (!IsEmpty(ItemAt(i))) next = i;
  const bool shared = (previous >= 0 && OrderAt(previous) == current) || (next >= 0 && OrderAt(next) == current);
  int32_t holder = -1;  // the first other item numbered n
  for (int32_t i = 0; i < Count() && holder < 0; ++i)
    if (i != sel && !IsEmpty(ItemAt(i)) && OrderAt(i) == n) holder = i;
  auto shift = [this](int32_t from, int32_t to, int32_t by, int32_t skip) {
    for (int32_t i = from; i < to; ++i)
      if (i != skip && !IsEmpty(ItemAt(i))) SetOrderAt(i, OrderAt(i) + by);
  };
  if (holder >= 0) {
    if (shared) {
      shift(holder, Count(), 1, sel);
    } else if (n > current) {
      int32_t above = sel + 1;
      while (above < Count() && (IsEmpty(ItemAt(above)) || OrderAt(above) <= n)) ++above;
      shift(sel + 1, above, -1, sel);
    } else {
      shift(holder, sel, 1, sel);
    }
    SetOrderAt(sel, n);
  } else if (shared) {
    SetOrderAt(sel, n);
  } else {
    SetOrderAt(sel, n > current && current != n - 1 ? n - 1 : n);
    shift(sel + 1, Count(), -1, sel);
  }
  if (!WriteChanged(before)) ui::messageBeep(ui::kBeepPlain);
  Load(true);
}

void CDptView::OpenOrder() {
  const int32_t sel = selection_;
  if (!displayOrder_ || sel <= 0 || sel >= Count() || IsEmpty(ItemAt(sel))) return Refuse();
  const int32_t count = CSelAdjDlg::Ask(handle(), CSelAdjDlg::kOpen, kLastOrder - LastOrder());
  if (count <= 0) return;
  const std::vector<Item> before = items_;
  bool capped = false;
  for (int32_t i = sel; i < Count(); ++i) {
    if (IsEmpty(ItemAt(i))) continue;
    capped = capped || OrderAt(i) + count > kLastOrder;
    SetOrderAt(i, OrderAt(i) + count);
  }
  if (!WriteChanged(before)) ui::messageBeep(ui::kBeepPlain);
  Load(true);
  // The free numbers stand before the item, which stays selected.
  if (!capped && sel + count < Count()) Select(sel + count);
}

void CDptView::CloseOrder() {
  const int32_t sel = selection_;
  if (!displayOrder_ || sel <= 0 || sel >= Count() || IsEmpty(ItemAt(sel))) return Refuse();
  int32_t free = 0;
  for (int32_t i = sel - 1; i >= 0 && IsEmpty(ItemAt(i)); --i) ++free;
  if (free == 0) return Refuse();
  const int32_t count = CSelAdjDlg::Ask(handle(), CSelAdjDlg::kClose, free);
  if (count <= 0) return;
  const std::vector<Item> before = items_;
  for (int32_t i = sel; i < Count(); ++i)
    if (!IsEmpty(ItemAt(i))) SetOrderAt(i, OrderAt(i) - count);
  if (!WriteChanged(before)) ui::messageBeep(ui::kBeepPlain);
  Load(true);
  Select(sel - count);
}

void CDptView::MoveItem(int32_t from, int32_t to) {
  // The moved item takes the number of the cell it lands on; the items in
  // between shift by one cell, keeping the free numbers where they are.
  if (to >= Count()) to = Count() - 1;
  if (from == to || from < 0 || to < 0) {
    Load(true);
    return;
  }
  // Cell i shows display order first + i.
  int32_t firstOrder = -1;
  for (int32_t i = 0; i < Count() && firstOrder < 0; ++i)
    if (!IsEmpty(ItemAt(i))) firstOrder = getU16(ItemAt(i).data(), kOrder) - i;
  if (firstOrder < 1) firstOrder = 1;
  Item moved = items_[static_cast<size_t>(from)];
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, moved);
  const int32_t low = std::min(from, to), high = std::max(from, to);
  for (int32_t i = low; i <= high; ++i) {
    Item& item = items_[static_cast<size_t>(i)];
    if (IsEmpty(item)) continue;
    putU16(item.data(), kOrder, static_cast<uint16_t>(std::min(kLastOrder, firstOrder + i)));
  }
  if (!WriteOrders(low, high)) ui::messageBeep(ui::kBeepPlain);
  Load(true);
}

bool CDptView::WriteOrders(int32_t first, int32_t last) {
  if (engine_ && engine_->OdbcPluLinked() && engine_->OdbcIsOpen()) {
    // The items are the outside database's: their numbers go there.
    ui::overrideCursor(ui::CursorShape::Wait);
    bool ok = true;
    reg::OdbcStmt statement;
    for (int32_t i = first; i <= last && ok; ++i)
      if (!IsEmpty(ItemAt(i))) ok = engine_->OdbcExecText(&statement, ItemAt(i).data()) == 1;
    reg::OdbcDrop(&statement);
    ui::restoreCursor();
    return ok;
  }
  FileDBHandle table = engine_ ? engine_->Table(reg::kPluTable) : 0;
  if (!table || FileDBOpenEx(table, FILEDB_MODE_READ_WRITE) != 0) return false;
  bool ok = true;
  for (int32_t i = first; i <= last && ok; ++i) {
    const Item& item = ItemAt(i);
    if (IsEmpty(item)) continue;
    uint8_t record[80] = {};
    const int32_t n = engine_->GetPluRecord(CodeOf(i).c_str(), record);
    if (n < 0) {
      ok = false;
      break;
    }
    putU16(record, reg::plu::kDisplayOrder.offset, getU16(item.data(), kOrder));
    ok = FileDBRecWrite(table, n, record) == 0;
  }
  FileDBCloseEx(table);
  return ok;
}

LRESULT CDptView::onMessage(uint32_t message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case ui::kWmCreate:
      if (embedded_) Load(false);
      break;
    case WM_DPT_REFRESH:
      Load(true);
      return 1;
    case ui::kWmMouseWheel: {
      const uint32_t keys = static_cast<uint32_t>(wParam & 0xFFFF);
      if (keys & (ui::kMkControl | ui::kMkShift)) return 0;
      const int16_t delta = static_cast<int16_t>((wParam >> 16) & 0xFFFF);
      ScrollBy(delta < 0 ? cellHeight_ : delta > 0 ? -cellHeight_ : 0);
      return 0;
    }
    case ui::kWmCaptureChanged:
      captured_ = false;
      return 0;
    default:
      break;
  }
  return View::onMessage(message, wParam, lParam);
}

// ---- the frame --------------------------------------------------------------------------

CDptFrm* CDptFrm::Current() { return currentFrame(); }

CDptFrm* CDptFrm::Open(CREGApp& app, reg::CRegCom* engine, int32_t kind, bool displayOrder, HWND target,
                       HWND owner) {
  if (currentFrame()) return nullptr;  // one picker at a time
  auto* self = new CDptFrm();
  self->app_ = &app;
  self->owner_ = owner;
  self->target_ = target;
  self->kind_ = kind;
  // Where the clerk left it, else over the main window.
  ui::Rect rect = owner ? ui::windowRect(owner) : ui::Rect{0, 0, 640, 480};
  const auto& p = profile();
  ui::Rect saved{static_cast<int32_t>(p.getInt(reg::kSettingsSection, "Dpt LeftPt", rect.left)),
                 static_cast<int32_t>(p.getInt(reg::kSettingsSection, "Dpt TopPt", rect.top)),
                 static_cast<int32_t>(p.getInt(reg::kSettingsSection, "Dpt RightPt", rect.right)),
                 static_cast<int32_t>(p.getInt(reg::kSettingsSection, "Dpt BottomPt", rect.bottom))};
  if (saved.width() > 100 && saved.height() > 100) rect = saved;
  self->frame_ = std::make_unique<ui::Frame>("VarnexDptFrame", "Varnex - 部門一覧選択", rect);
  HWND h = self->frame_->handle();
  if (!h) {
    delete self;
    return nullptr;
  }
  self->defaultProc_ = ui::setWindowProc(h, [self](HWND w, uint32_t m, WPARAM wp, LPARAM lp) {
    return self->WindowProc(w, m, wp, lp);
  });
  // The status bar's two panes: the list shown and the entry (or the
  // display order); the button strip when the shop wants one.
  self->frame_->setStatusIndicators({kPaneList, kPaneEntry});
  self->frame_->mapUpdate(kPaneList, [self](uint32_t, ui::CommandState& s) {
    s.enabled = true;
    s.hasText = true;
    s.text = self->view_ ? self->view_->PaneText(1) : std::string();
  });
  self->frame_->mapUpdate(kPaneEntry, [self](uint32_t, ui::CommandState& s) {
    s.enabled = true;
    s.hasText = true;
    s.text = self->view_ ? self->view_->PaneText(2) : std::string();
  });
  if (!displayOrder && profile().getInt(reg::kSettingsSection, "Dpt Dialog Bar", 0) != 0) {
    if (!self->frame_->setDialogBar(kDialogBar)) {
      self->frame_.reset();
      delete self;
      return nullptr;
    }
    self->frame_->mapCommand(kBarClose, [self](uint32_t) { self->Close(); });
    self->frame_->mapUpdate(kBarClose, [](uint32_t, ui::CommandState& s) { s.enabled = true; });
  }
  auto view = std::make_unique<CDptView>(&app, engine, kind, false, displayOrder);
  view->SetFrame(self);
  self->view_ = static_cast<CDptView*>(self->frame_->setView(std::move(view)));
  if (!self->view_) {
    self->frame_.reset();
    delete self;
    return nullptr;
  }
  currentFrame() = self;
  self->view_->onInitialUpdate();
  if (owner) ui::enableWindow(owner, false);
  ui::showWindow(h, true);
  self->view_->setFocus();
  return self;
}

HWND CDptFrm::handle() const { return frame_ ? frame_->handle() : nullptr; }

void CDptFrm::ShowTexts(const std::string& title) {
  if (!frame_) return;
  ui::setWindowText(frame_->handle(), title);
  frame_->updateCommands();
}

void CDptFrm::CloseWith(int32_t kind, const std::string& result, bool sent) {
  kind_ = kind;
  result_ = result;
  hasResult_ = true;
  sent_ = sent;
  // The view that asked is still on the stack: the frame goes once it returns.
  ui::postMessage(handle(), ui::kWmClose, 0, 0);
}

void CDptFrm::Close() {
  hasResult_ = false;
  ui::postMessage(handle(), ui::kWmClose, 0, 0);
}

LRESULT CDptFrm::WindowProc(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (message == ui::kWmClose) {
    Finish();
    return 0;
  }
  return defaultProc_ ? defaultProc_(window, message, wParam, lParam)
                      : ui::defaultWindowProc(window, message, wParam, lParam);
}

void CDptFrm::Finish() {
  if (currentFrame() == this) currentFrame() = nullptr;
  if (owningFrame_) owningFrame_->PickerClosed(this);
  owningFrame_ = nullptr;
  HWND self = handle();
  // Where the picker stood, unless it covered the main window.
  const ui::Rect at = ui::windowRect(self);
  if (!owner_ || !(at.left == ui::windowRect(owner_).left && at.top == ui::windowRect(owner_).top &&
                   at.right == ui::windowRect(owner_).right && at.bottom == ui::windowRect(owner_).bottom)) {
    auto& p = profile();
    p.setInt(reg::kSettingsSection, "Dpt LeftPt", at.left);
    p.setInt(reg::kSettingsSection, "Dpt TopPt", at.top);
    p.setInt(reg::kSettingsSection, "Dpt RightPt", at.right);
    p.setInt(reg::kSettingsSection, "Dpt BottomPt", at.bottom);
  }
  if (owner_ && ui::isWindow(owner_)) {
    ui::enableWindow(owner_, true);
    ui::setFocus(owner_);
  }
  const HWND target = target_;
  const bool deliver = hasResult_ && !sent_ && !result_.empty() && target && ui::isWindow(target);
  const int32_t kind = kind_;
  const std::string result = result_;
  // The frame and its view go first; the register view then takes the key
  // through the same gate and checks as a typed key.
  ui::setWindowProc(self, nullptr);
  frame_.reset();
  delete this;
  if (deliver)
    if (auto* view = dynamic_cast<reg::CRegView*>(ui::viewFromHandle(target))) {
      view->setFocus();
      view->DeliverPickerResult(kind, result);
    }
}

}  // namespace varnex::shell
