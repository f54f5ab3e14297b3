// The sales-registration screen (see reg_view.h).
#include "app/register/view/reg_view.h"

#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

#include "app/register/engine/reg_com.h"
#include "app/shell/app/reg_app.h"
#include "app/shell/frames/bottom_view.h"
#include "platform/base/clock.h"
#include "app/shell/frames/dpt_view.h"
#include "app/shell/frames/main_frame.h"
#include "app/register/view/sale_display.h"
#include "app/register/view/ten_key_dlg.h"
#include "platform/base/profile.h"
#include "platform/ui/paint.h"
#include "platform/ui/dialog.h"
#include "platform/ui/frame.h"
#include "platform/ui/input.h"
#include "platform/ui/window.h"
#include "zemta/keys.h"

namespace varnex::reg {

namespace {

constexpr int32_t kListId = 0xE901;
constexpr int32_t kPageRows = 10;

// A menu command and the key it stands for; direct: opens a sale when none
// is open and goes to the dispatcher without the mode gate.
struct CommandKey {
  uint32_t command;
  uint16_t key;
  bool direct;
};
const CommandKey kCommandKeys[] = {
    {kCmdReceiptOnOff, makeKeyCode(kKeyFunction, kFunctionReceiptOnOff), false},
    {kCmdReprint, makeKeyCode(kKeyFunction, kFunctionReprintOrReserve), false},
    {kCmdFormalReceipt, makeKeyCode(kKeyFunction, kFunctionFormalReceipt), false},
    {kCmdTenKeyPad, makeKeyCode(kKeyFunction, kFunctionTenKeyPad), false},
    {kCmdPriceChange, makeKeyCode(kKeyFunction, kFunctionPriceChange), false},
    {kCmdCancelLine, makeKeyCode(kKeyFunction, kFunctionCancelLine), false},
    {kCmdCorrection, makeKeyCode(kKeyTrans2, kTrans2Correction), false},
    {kCmdRefundShownSale, makeKeyCode(kKeyTrans2, kTrans2RefundShownSale), false},
    {kCmdCancelSale, makeKeyCode(kKeyFunction, kFunctionCancelSale), false},
    {kCmdSalesSlip, makeKeyCode(kKeyFunction, kFunctionSalesSlip), false},
    {kCmdEditNames, makeKeyCode(kKeyFunction, kFunctionEditNames), true},
    {kCmdExchange, makeKeyCode(kKeyTrans2, kTrans2Exchange), true},
    {kCmdDepartmentLink, makeKeyCode(kKeyFunction, kFunctionDepartmentLink), true},
};

const CommandKey* commandKey(uint32_t command) {
  for (const CommandKey& c : kCommandKeys)
    if (c.command == command) return &c;
  return nullptr;
}

}  // namespace

CRegView::CRegView(CRegCom* engine, shell::CREGApp* app, int32_t viewMode)
    : engine_(engine), app_(app), viewMode_(viewMode),
      sale_(std::make_unique<CRegSale>(engine, app, this, viewMode)) {
  sale_->Settings().Load();
  // Keys reach the view whichever of its windows has the focus: the list
  // control would take the arrows and Enter for itself otherwise.
  keyHook_ = platform::ui::addKeyHook([this](const platform::ui::KeyInput& input) {
    if (!input.down || !handle() || !input.focus) return false;
    if (input.focus != handle() && input.focus != list_) return false;
    const int32_t character = input.chars.size() == 1 ? static_cast<uint8_t>(input.chars[0]) : 0;
    OnKeyDown(input.virtualKey, character);
    return true;
  });
  // The wheel over the list moves it one row a notch (the list's own wheel
  // would move three); over the panel or the pane it stays theirs.
  mouseHook_ = platform::ui::addMouseHook([this](const platform::ui::MouseInput& input) {
    if (input.message != platform::ui::kWmMouseWheel || !list_ || input.target != list_) return false;
    OnListWheel(input.wheelDelta);
    return true;
  });
}

void CRegView::OnListWheel(int32_t delta) {
  if (platform::ui::isShiftDown() || platform::ui::isControlDown() || delta == 0) return;
  platform::ui::scrollReportRows(list_, delta > 0 ? -1 : 1);
}

CRegView::~CRegView() {
  closing_ = true;
  platform::ui::removeInputHook(keyHook_);
  platform::ui::removeInputHook(mouseHook_);
  // A pad that serves this view goes with it.
  if (app_ && app_->m_hTenKeyDlg && platform::ui::isWindow(app_->m_hTenKeyDlg)) {
    CTenKeyDlg* pad = CTenKeyDlg::FromHandle(app_->m_hTenKeyDlg);
    if (pad && pad->Target() == handle()) {
      platform::ui::destroyWindow(app_->m_hTenKeyDlg);
      app_->m_hTenKeyDlg = nullptr;
    }
  }
  sale_.reset();
}

void CRegView::CreateList() {
  if (list_ || !handle()) return;
  platform::ui::ControlTemplate t;
  t.kind = platform::ui::ControlKind::ListView;
  t.id = kListId;
  const platform::ui::Rect client = clientRect();
  t.rect = {0, 0, client.width() > 0 ? client.width() : 640, client.height() > 0 ? client.height() : 360};
  list_ = platform::ui::createControl(handle(), t);
  // Each column is as wide as a run of full-width dashes of its width, and
  // a little more; the name's title stands near the middle of its column.
  struct Column {
    const char* title;
    int32_t dashes;
  };
  static const Column kRegistration[] = {{"商  品  名", 12}, {"個数", 4}, {"単  価", 7}, {"金    額", 12}};
  static const Column kReport[] = {{"商  品  名", 12}, {"売  上  個  数", 11}, {"売  上  金  額", 12}};
  static const Column kJournal[] = {{"項目", 35}};
  const Column* columns = kRegistration;
  size_t count = std::size(kRegistration);
  if (sale_->IsRegistrationView() || viewMode_ < 31) {
  } else if (viewMode_ == 38) {
    columns = kJournal;
    count = std::size(kJournal);
  } else {
    columns = kReport;
    count = std::size(kReport);
  }
  constexpr int32_t kDashPixels = 16;
  for (size_t i = 0; i < count; ++i) {
    std::string title = columns[i].title;
    if (i == 0) {
      const int width = static_cast<int>((title.size() + 24) / 2);
      char field[64];
      std::snprintf(field, sizeof field, "%*s", width, title.c_str());
      title = field;
    }
    platform::ui::addReportColumn(list_, title, columns[i].dashes * kDashPixels + 12);
  }
}

void CRegView::onInitialUpdate() {
  CreateList();
  if (sale_->IsReadingView()) {
    const platform::ui::Date day = ReportDate();
    sale_->SetUpReading(dosDate(day.year, day.month, day.day));
  }
}

void CRegView::OnListClick(int32_t row) {
  if (!list_ || row < 0) return;
  const int32_t number = static_cast<int32_t>(platform::ui::reportRowData(list_, row));
  if (sale_->CashCountOpen()) {
    sale_->ClickReadingRow(number);
    return;
  }
  if (!sale_->FinishSubEntry()) return;
  platform::ui::setListSelection(list_, row);
}

void CRegView::onSize(int32_t width, int32_t height) {
  CreateList();
  if (list_) platform::ui::moveWindow(list_, {0, 0, width, height});
}

int32_t CRegView::ResumeInterruptedSale() {
  uint16_t mode = kSaleNone;
  FileDBHandle file = engine_->PrfOpen(4, &mode);
  if (!file) return 0;
  const int32_t viewMode = mode == kSaleRegister1 ? 7 : mode == kSaleRegister2 ? 8 : 5;
  if (viewMode == viewMode_) return TakeOverSale(file);
  if (host_.resumeInMode && host_.resumeInMode(viewMode, file)) return 1;
  // Nobody took it: it stays on disk for the next start.
  FileDBCloseEx(file);
  FileDBDelete(file);
  return 0;
}

int32_t CRegView::TakeOverSale(FileDBHandle file) {
  if (!sale_->ResumeSale(file)) {
    FileDBCloseEx(file);
    FileDBDelete(file);
    return 0;
  }
  return 1;
}

uint16_t CRegView::Modifiers() const {
  uint16_t m = 0;
  if (platform::ui::isShiftDown()) m |= keylayout::kShift;
  if (platform::ui::isAltDown()) m |= keylayout::kAlt;
  if (platform::ui::isControlDown()) m |= keylayout::kCtrl;
  return m;
}

int32_t CRegView::OnKeyDown(uint32_t virtualKey, int32_t character) {
  if (virtualKey == platform::ui::kVkShift || virtualKey == platform::ui::kVkControl ||
      virtualKey == platform::ui::kVkMenu)
    return 0;
  // The reading views print with F9 and give a formal receipt with F8 (the
  // function keys of the layout belong to an open sale).
  if (sale_->IsReadingView() && !sale_->CashCountOpen()) {
    if (virtualKey == platform::ui::kVkF1 + 7) return sale_->OnJournalKey(makeKeyCode(kKeyFunction, kFunctionFormalReceipt));
    if (virtualKey == platform::ui::kVkF1 + 8)
      return sale_->OnJournalKey(makeKeyCode(kKeyFunction, kFunctionReprintOrReserve));
  }
  if (character == 0) character = ZemtaVKeyToChar(virtualKey);
  if (sale_->IsRegistrationView() && IsScannedCodeEnd(virtualKey, character)) {
    sale_->EnterKeyCode(makeKeyCode(kKeyFunction, kFunctionPlu));
    return 1;
  }
  uint16_t key = 0;
  if (!sale_->TranslateKeyboardKey(virtualKey, character, Modifiers(), &key)) return 0;
  if (!sale_->IsRegistrationView()) {
    sale_->ReadingKey(key);
    return 1;
  }
  sale_->DispatchKey(key);
  return 1;
}

// A barcode scanner is a keyboard: a code arrives as a burst of digits and
// Enter. Thirteen digits typed in a row with nothing else between are a
// JAN-13 code, never an amount (no amount the register takes has thirteen
// digits), so the Enter after them is the PLU key whatever key Enter stands
// for in the layout; any other key breaks the run.
bool CRegView::IsScannedCodeEnd(uint32_t virtualKey, int32_t character) {
  constexpr int32_t kScannedDigits = 13;
  if (Modifiers() == 0 && character >= '0' && character <= '9') {
    // A run starts with the entry: digits typed before a key that took the
    // entry are no part of it.
    if (sale_->Entry().empty()) scannedDigits_ = 0;
    ++scannedDigits_;
    return false;
  }
  const bool end = virtualKey == platform::ui::kVkReturn && Modifiers() == 0 && scannedDigits_ == kScannedDigits &&
                   sale_->Entry().size() == static_cast<size_t>(kScannedDigits);
  scannedDigits_ = 0;
  return end;
}

bool CRegView::onKeyDown(uint32_t virtualKey, LPARAM) {
  OnKeyDown(virtualKey, 0);
  return true;
}

LRESULT CRegView::OnPanelKey(WPARAM type, LPARAM codeText) {
  scannedDigits_ = 0;
  const char* text = reinterpret_cast<const char*>(codeText);
  const uint16_t code = static_cast<uint16_t>(text ? std::strtol(text, nullptr, 10) : 0);
  return sale_->EnterKeyCode(makeKeyCode(static_cast<uint16_t>(type), code));
}

LRESULT CRegView::OnDptSelect(WPARAM selector, LPARAM textParam) {
  scannedDigits_ = 0;
  const char* text = reinterpret_cast<const char*>(textParam);
  if (!text) return 0;
  const intptr_t s = static_cast<intptr_t>(selector);
  // A pick is a key like any other: the mode gate first, then the sale.
  if (s == 0) return sale_->EnterKey(kKeyDepartment, static_cast<uint16_t>(std::strtol(text, nullptr, 10) & 0xFFF));
  if (s > 0) return EnterPlu(text);
  if (!sale_->SaleOpen() && !sale_->OpenSale(makeKeyCode(kKeyEntry, 0))) return 0;
  SetEntry(text);
  if (s == -2) return 1;
  return sale_->EnterKey(kKeyFunction, kFunctionQuantity);
}

void CRegView::SetEntry(const std::string& text) {
  // The picked text replaces the entry and is keyed in as typed digits.
  sale_->ReplaceEntry(std::string());
  for (char c : text)
    if (c >= '0' && c <= '9') sale_->DispatchKey(digitKey(c));
}

int32_t CRegView::EnterPlu(const std::string& code) {
  if (!sale_->SaleOpen() && !sale_->OpenSale(makeKeyCode(kKeyEntry, 0))) return 0;
  SetEntry(code);
  return sale_->EnterKey(kKeyFunction, kFunctionPlu);
}

int32_t CRegView::DeliverPickerResult(int32_t kind, const std::string& text) {
  if (text == "CLEAR") return sale_->EnterKey(kKeyFunction, kFunctionCancelLine);
  if (kind != 0) return EnterPlu(text);
  if (!sale_->SaleOpen() && !sale_->OpenSale(makeKeyCode(kKeyEntry, 0))) return 0;
  SetEntry(text);
  return sale_->EnterKey(kKeyFunction, kFunctionDepartmentLink);
}

bool CRegView::AnyListDepartment() const {
  FileDBHandle table = engine_->Table(kDepartmentTable);
  if (!table || FileDBOpenEx(table, FILEDB_MODE_READ) != 0) return false;
  bool found = false;
  uint8_t record[64];
  const int32_t count = FileDBRecGetSize(table);
  for (int32_t n = 1; n < count && !found; ++n) {
    if (FileDBRecRead(table, n, record) != 0) break;
    found = getU16(record, department::kListSelect.offset) == 1 && getU16(record, department::kNumber.offset) != 0;
  }
  FileDBCloseEx(table);
  return found;
}

HWND CRegView::OwnerWindow() const {
  if (app_ && app_->m_pMainFrame) return app_->m_pMainFrame->GetSafeHwnd();
  HWND top = handle();
  while (HWND up = platform::ui::parentWindow(top)) top = up;
  return top;
}

int32_t CRegView::OpenDepartmentPicker(uint16_t department) {
  if (department == 0 && !AnyListDepartment()) return -1;
  if (!shell::CDptFrm::Open(*app_, engine_, department, false, handle(), OwnerWindow()))
    return sale_->ShowRegError(kErrBadHandle);
  return 1;
}

void CRegView::OpenTenKeyPad() {
  if (!app_) return;
  if (app_->m_hTenKeyDlg && platform::ui::isWindow(app_->m_hTenKeyDlg)) {
    // One pad: a pad of another view goes, this view's stays.
    CTenKeyDlg* pad = CTenKeyDlg::FromHandle(app_->m_hTenKeyDlg);
    if (pad && pad->Target() == handle()) {
      platform::ui::setFocus(app_->m_hTenKeyDlg);
      return;
    }
    platform::ui::destroyWindow(app_->m_hTenKeyDlg);
  }
  app_->m_hTenKeyDlg = nullptr;
  const CTenKeyDlg::Kind kind = viewMode_ == 5 || viewMode_ == 7 || viewMode_ == 8 ? CTenKeyDlg::kRegister
                                                                                    : CTenKeyDlg::kNavigation;
  HWND pad = CTenKeyDlg::Create(OwnerWindow(), handle(), kind);
  if (!pad) return;
  app_->m_hTenKeyDlg = pad;
  // Where the clerk left it; the first time in the bottom right corner of
  // the screen's work area.
  platform::ui::Rect work{0, 0, 1024, 768};
  for (const platform::ui::ScreenInfo& screen : platform::ui::screens())
    if (screen.primary) work = screen.workArea;
  const platform::ui::Rect at = platform::ui::windowRect(pad);
  const auto& profile = platform::Profile::of(platform::ProfileScope::User);
  const int32_t left = static_cast<int32_t>(profile.getInt(kSettingsSection, "Ten Key LeftPt", work.right - at.width()));
  const int32_t top = static_cast<int32_t>(profile.getInt(kSettingsSection, "Ten Key TopPt", work.bottom - at.height()));
  platform::ui::moveWindow(pad, {left, top, left + at.width(), top + at.height()});
  platform::ui::setFocus(pad);
  app_->m_bPadShown = 1;
}

void CRegView::onSetFocus() {
  if (!app_ || closing_) return;
  // The customer sees what this view's sale shows.
  RefreshCustomerDisplay(nullptr);
  // The pad serves the view that has the focus.
  if (app_->m_hTenKeyDlg && platform::ui::isWindow(app_->m_hTenKeyDlg)) {
    CTenKeyDlg* pad = CTenKeyDlg::FromHandle(app_->m_hTenKeyDlg);
    if (pad && pad->Target() != handle() && pad->PadKind() != CTenKeyDlg::kDialog) {
      platform::ui::destroyWindow(app_->m_hTenKeyDlg);
      app_->m_hTenKeyDlg = nullptr;
    }
  }
  if (app_->m_bPadShown && !(app_->m_hTenKeyDlg && platform::ui::isWindow(app_->m_hTenKeyDlg))) OpenTenKeyPad();
}

LRESULT CRegView::onMessage(uint32_t message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case platform::ui::kWmCreate:
      CreateList();
      return 0;
    case WM_REG_PANELKEY:
      return OnPanelKey(wParam, lParam);
    case WM_REG_DPTSELECT:
      return OnDptSelect(wParam, lParam);
    case platform::ui::kWmCommand:
      if (list_ && reinterpret_cast<HWND>(lParam) == list_) {
        if (platform::ui::highWord(wParam) == platform::ui::kNmRClick) {
          int32_t x = 0, y = 0;
          platform::ui::listClickPoint(list_, &x, &y);
          OnListRightClick(platform::ui::listClickRow(list_) >= 0, x, y);
        } else if (platform::ui::highWord(wParam) == platform::ui::kNmClick) {
          OnListClick(platform::ui::listClickRow(list_));
        }
        return 0;
      }
      return View::onMessage(message, wParam, lParam);
    case WM_REG_CASTINPUT:
      return sale_->OnCastInput(static_cast<int32_t>(wParam), reinterpret_cast<const uint8_t*>(lParam));
    default:
      return View::onMessage(message, wParam, lParam);
  }
}

bool CRegView::handlesCommand(uint32_t command) const {
  return commandKey(command) != nullptr || command == kCmdExportReport;
}

bool CRegView::updateCommand(uint32_t command, platform::ui::CommandState& state) {
  const bool open = sale_->SaleOpen();
  const bool lines = sale_->LineCount() > 0;
  const bool counting = sale_->IsCashBalanceView();
  switch (command) {
    case kCmdExportReport: state.enabled = !counting && (open || sale_->JournalOpen()) && lines; return true;
    case kCmdReprint: state.enabled = !counting && !open && !sale_->JournalOpen() && lines; return true;
    case kCmdFormalReceipt: state.enabled = sale_->IsRegistrationView() && !open && lines; return true;
    case kCmdDepartmentLink: state.enabled = sale_->Entry().empty(); return true;
    case kCmdEditNames: state.enabled = true; return true;
    case kCmdRefundShownSale: state.enabled = !sale_->IsRefundView() && lines; return true;
    case kCmdExchange: state.enabled = !open; return true;
    default: return View::updateCommand(command, state);
  }
}

std::vector<platform::ui::PopupItem> CRegView::BuildPopupMenu(bool rowHit) const {
  using platform::ui::PopupItem;
  std::vector<PopupItem> items;
  auto item = [&](uint32_t command, const char* text) {
    PopupItem i;
    i.command = command;
    i.text = text;
    items.push_back(i);
  };
  auto separator = [&]() {
    PopupItem i;
    i.separator = true;
    items.push_back(i);
  };
  const bool lines = sale_->LineCount() > 0;
  if (!sale_->SaleOpen()) {
    item(kCmdReceiptOnOff, "ﾚｼｰﾄｵﾝ/ｵﾌ");
    if (lines) {
      item(kCmdReprint, "ﾚｼｰﾄ発行");
      item(kCmdFormalReceipt, "領収証発行");
    }
    separator();
    item(kCmdTenKeyPad, "責任者№");
    separator();
    item(kCmdEditNames, "取引先／商品名入力...");
    item(kCmdExchange, "両替");
    if (!sale_->IsRefundView() && lines) item(kCmdRefundShownSale, "戻し");
  } else {
    if (rowHit || !lines) item(kCmdEditNames, "取引先／商品名入力...");
    item(kCmdPriceChange, "売価変更");
    item(kCmdCancelLine, "クリア");
    if (rowHit) item(kCmdCorrection, "訂正");
    item(kCmdCancelSale, "取消");
  }
  separator();
  item(kCmdDepartmentLink, "部門一覧選択...");
  items.back().enabled = sale_->Entry().empty();
  if (!sale_->SaleOpen() && lines && !sale_->Settings().smpLink.empty()) {
    separator();
    item(kCmdSalesSlip, "売上伝票処理...");
  }
  return items;
}

void CRegView::OnListRightClick(bool rowHit, int32_t x, int32_t y) {
  if (!sale_->IsRegistrationView()) return;
  const uint32_t chosen = platform::ui::trackPopupMenu(BuildPopupMenu(rowHit), handle(), x, y, false);
  if (chosen) handleCommand(chosen);
}

platform::ui::Date CRegView::ReportDate() const {
  if (host_.frameDate) return host_.frameDate();
  const platform::LocalTime now = platform::localTime();
  return {now.year, now.month, now.day};
}

bool CRegView::handleCommand(uint32_t command) {
  scannedDigits_ = 0;
  if (command == kCmdExportReport) {
    OnExportReport();
    return true;
  }
  const CommandKey* c = commandKey(command);
  if (!c) return false;
  if (!c->direct) {
    sale_->EnterKeyCode(c->key);
    return true;
  }
  if (!sale_->SaleOpen() && !sale_->OpenSale(c->key)) return true;
  sale_->DispatchKey(c->key);
  return true;
}

// ---- SaleScreen ----------------------------------------------------------------------

void CRegView::SetBottomTotals(int32_t items, int32_t amount, const std::string& message) {
  paneItems_ = items;
  paneAmount_ = amount;
  paneMessage_ = message;
  if (bottom_) {
    bottom_->m_nItemCount = items;
    bottom_->m_nSubtotal = amount;
    bottom_->m_strMessage = message;
    bottom_->invalidate();
  }
}

void CRegView::SetStatusText(const std::string& text) {
  status_ = text;
  if (host_.setStatusText) host_.setStatusText(text);
}

void CRegView::SetSaleMenus(bool saleOpen) {
  menu_ = saleOpen ? kSaleMenu : kIdleMenu;
  if (host_.setMenus) {
    host_.setMenus(menu_);
  } else if (platform::ui::ChildFrame* frame = parentFrame()) {
    frame->setHandles(menu_, menu_);
  }
}

int32_t CRegView::RowOfNumber(int32_t number) const {
  const int32_t rows = platform::ui::listItemCount(list_);
  // Rows are kept in line order (rows without a line keep -1): the row of a
  // line is found from the end, and a line past the last row's has none, so
  // appending a line costs no search through a long report.
  for (int32_t r = rows - 1; r >= 0; --r) {
    const intptr_t kept = platform::ui::reportRowData(list_, r);
    if (kept == number) return r;
    if (kept >= 0 && kept < number) return -1;
  }
  return -1;
}

int32_t CRegView::SetListRow(const void* line, int32_t number) {
  CreateList();
  if (!list_) return number;
  std::vector<std::string> cells;
  if (sale_->IsRegistrationView() || viewMode_ < 31) {
    cells.resize(4);
    if (line) app_->GetLineColumns(line, &cells[0], &cells[1], &cells[2], &cells[3]);
  } else if (viewMode_ == 38) {
    cells.resize(1);
    if (line) app_->GetLineColumns(line, &cells[0], nullptr, nullptr, nullptr);
  } else {
    // Readings: name, count and amount.
    cells.resize(3);
    if (line) app_->GetLineColumns(line, &cells[0], &cells[1], &cells[2], nullptr);
  }
  int32_t row = RowOfNumber(number);
  if (row < 0) {
    row = platform::ui::addReportRow(list_, cells);
    platform::ui::setReportRowData(list_, row, number);
    return number;
  }
  for (size_t c = 0; c < cells.size(); ++c) platform::ui::setReportCell(list_, row, static_cast<int32_t>(c), cells[c]);
  return number;
}

void CRegView::DeleteListRows() {
  if (list_) platform::ui::clearList(list_);
}

void CRegView::ShowLastListRow() {
  if (!list_) return;
  const int32_t rows = platform::ui::listItemCount(list_);
  if (rows <= 0) return;
  platform::ui::setListSelection(list_, rows - 1);
  platform::ui::showReportRow(list_, rows - 1);
}

bool CRegView::MoveListFocus(int32_t step) {
  if (!list_) return false;
  const int32_t rows = platform::ui::listItemCount(list_);
  if (rows <= 0) return false;
  const int32_t at = platform::ui::listSelection(list_);
  int32_t to = at;
  switch (step) {
    case -1: to = at - 1; break;
    case 1: to = at + 1; break;
    case -2: to = at - kPageRows; break;
    case 2: to = at + kPageRows; break;
    case -3: to = 0; break;
    default: to = rows - 1; break;
  }
  if (to < 0) to = 0;
  if (to >= rows) to = rows - 1;
  if (to == at) return false;
  platform::ui::setListSelection(list_, to);
  platform::ui::showReportRow(list_, to);
  return true;
}

int32_t CRegView::FocusedListNumber() const {
  if (!list_) return -1;
  // An empty row stands for the line of the row above it.
  for (int32_t row = platform::ui::listSelection(list_); row >= 0; --row) {
    const int32_t number = static_cast<int32_t>(platform::ui::reportRowData(list_, row));
    if (number >= 0) return number;
  }
  return -1;
}

void CRegView::ClearListCell(int32_t number, int32_t column) {
  const int32_t row = list_ ? RowOfNumber(number) : -1;
  if (row >= 0) platform::ui::setReportCell(list_, row, column, "");
}

void CRegView::Beep(uint32_t type) { platform::ui::messageBeep(type); }

void CRegView::RaiseDeviceRequest(uint32_t bits) {
  if (host_.raiseDeviceRequest) host_.raiseDeviceRequest(bits);
}

bool CRegView::RunCardPayment(int32_t business, int32_t kind, int32_t receipt, int32_t amount) {
  return host_.runCardPayment && host_.runCardPayment(business, kind, receipt, amount);
}

bool CRegView::RunCodePayment(int32_t kind, uint32_t receipt, int32_t amount, int32_t tenderNumber) {
  return host_.runCodePayment && host_.runCodePayment(kind, receipt, amount, tenderNumber);
}

void CRegView::RefreshCustomerDisplay(const void* line) {
  SaleDisplaysChanged(line, sale_ ? sale_->PolePending() : std::string());
}

void CRegView::AddEmptyListRow() {
  CreateList();
  if (!list_) return;
  const size_t columns = sale_->IsRegistrationView() || viewMode_ < 31 ? 4 : viewMode_ == 38 ? 1 : 3;
  const int32_t row = platform::ui::addReportRow(list_, std::vector<std::string>(columns));
  platform::ui::setReportRowData(list_, row, -1);
}

bool CRegView::FocusListNumber(int32_t number) {
  if (!list_) return false;
  const int32_t row = RowOfNumber(number);
  if (row < 0) return false;
  // The rows below come into view with it (the rest of a cash count).
  platform::ui::showReportRow(list_, platform::ui::listItemCount(list_) - 1);
  platform::ui::setListSelection(list_, row);
  platform::ui::showReportRow(list_, row);
  return true;
}

void CRegView::CloseFrame() {
  if (host_.closeFrame) {
    host_.closeFrame();
  } else if (platform::ui::ChildFrame* frame = parentFrame()) {
    platform::ui::postMessage(frame->handle(), platform::ui::kWmClose, 0, 0);
  }
}

}  // namespace varnex::reg
