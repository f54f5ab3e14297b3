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
}

CRegView::~CRegView() {
  platform::ui::removeInputHook(keyHook_);
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
  if (sale_->IsReadingView()) sale_->SetUpReading(journalDate_);
}

void CRegView::OnListClick(int32_t row) {
  if (!list_ || row < 0) return;
  const int32_t number = static_cast<int32_t>(platform::ui::reportRowData(list_, row));
  if (sale_->CashCountOpen()) {
    sale_->ClickReadingRow(number);
    return;
  }
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
  if (viewMode != viewMode_) {
    viewMode_ = viewMode;
    sale_->SetViewMode(viewMode);
  }
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
  uint16_t key = 0;
  if (!sale_->TranslateKeyboardKey(virtualKey, character, Modifiers(), &key)) return 0;
  if (!sale_->IsRegistrationView()) {
    sale_->ReadingKey(key);
    return 1;
  }
  sale_->DispatchKey(key);
  return 1;
}

bool CRegView::onKeyDown(uint32_t virtualKey, LPARAM) {
  OnKeyDown(virtualKey, 0);
  return true;
}

LRESULT CRegView::OnPanelKey(WPARAM type, LPARAM codeText) {
  const char* text = reinterpret_cast<const char*>(codeText);
  const uint16_t code = static_cast<uint16_t>(text ? std::strtol(text, nullptr, 10) : 0);
  return sale_->EnterKeyCode(makeKeyCode(static_cast<uint16_t>(type), code));
}

LRESULT CRegView::OnDptSelect(WPARAM selector, LPARAM textParam) {
  const char* text = reinterpret_cast<const char*>(textParam);
  if (!text) return 0;
  if (!sale_->SaleOpen() && !sale_->OpenSale(makeKeyCode(kKeyEntry, 0))) return 0;
  const intptr_t s = static_cast<intptr_t>(selector);
  if (s == 0)
    return sale_->EnterKey(kKeyDepartment, static_cast<uint16_t>(std::strtol(text, nullptr, 10)));
  // The picked text goes into the entry, then (when asked) a key follows.
  for (int32_t i = 0; text[i]; ++i) {
    if (text[i] >= '0' && text[i] <= '9') sale_->DispatchKey(digitKey(text[i]));
  }
  if (s == -2) return 1;
  return sale_->EnterKey(kKeyFunction, s == -1 ? kFunctionQuantity : kFunctionPlu);
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
    case WM_REG_CASTINPUT:
      // Customer lines of a committed sale come with the customer entry.
      return 1;
    default:
      return View::onMessage(message, wParam, lParam);
  }
}

bool CRegView::handlesCommand(uint32_t command) const { return commandKey(command) != nullptr; }

bool CRegView::handleCommand(uint32_t command) {
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

void CRegView::Beep(uint32_t type) { platform::ui::messageBeep(type); }

void CRegView::RaiseDeviceRequest(uint32_t bits) {
  if (host_.raiseDeviceRequest) host_.raiseDeviceRequest(bits);
}

void CRegView::RefreshCustomerDisplay(const void* line) {
  if (host_.refreshCustomerDisplay) host_.refreshCustomerDisplay(line);
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
