// CRegView: the sales-registration screen, the register's keyboard.
//
// A view of the window framework holding the sales list (a report list of
// the sale's lines: name, quantity, unit price, amount). Every key source
// ends here as one 16-bit register key code: the keyboard through the
// function-key layout (caught by the application-wide input filter while the
// view or its list has the focus, or sent as WM_KEYDOWN by the main frame and
// the ten-key pad), the touch keys (WM_REG_PANELKEY), the department and PLU
// picker (WM_REG_DPTSELECT) and the view's menu commands. The key path and
// the sale itself are CRegSale's; this class does the windowing: the list,
// the totals pane, the status text and the menu swap of its frame.
//
// The view is made for one view mode (5 戻し, 7 登録１, 8 登録２, and the
// readings 31 to 46); a mode frame hosts it with its mode, a test hosts it in
// a plain frame. A reading view sets itself up (builds its report, starts
// the settlement run, lists the receipt journal) in onInitialUpdate.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/register/view/reg_sale.h"
#include "platform/ui/dialog.h"
#include "platform/ui/menu.h"
#include "platform/ui/view.h"

namespace varnex::shell {
class CBottomView;
}

namespace varnex::reg {

// Window messages the view takes.
inline constexpr uint32_t WM_REG_DPTSELECT = 0x0400 + 0x66;
inline constexpr uint32_t WM_REG_PANELKEY = 0x0400 + 0x68;
inline constexpr uint32_t WM_REG_CASTINPUT = 0x0400 + 0x69;

// Menu commands of a registration frame and the keys they stand for.
enum RegCommand : uint32_t {
  kCmdReceiptOnOff = 32800,
  kCmdReprint = 57607,
  kCmdFormalReceipt = 32791,
  kCmdTenKeyPad = 32801,
  kCmdPriceChange = 32797,
  kCmdCancelLine = 32796,
  kCmdCorrection = 32790,
  kCmdRefundShownSale = 32798,
  kCmdCancelSale = 32792,
  kCmdSalesSlip = 32802,
  kCmdEditNames = 32795,
  kCmdExchange = 32799,
  kCmdDepartmentLink = 32794,
  kCmdExportReport = 32808,
};

class CRegView : public platform::ui::View, public SaleScreen {
 public:
  // What the frame around the view offers; every member may be empty.
  struct Host {
    std::function<void(int32_t menuAndAccelerators)> setMenus;
    std::function<void(const std::string&)> setStatusText;
    std::function<void(uint32_t)> raiseDeviceRequest;
    // The main frame's card-terminal and barcode-payment dialogs (see
    // SaleScreen): empty, no payment is ever made.
    std::function<bool(int32_t business, int32_t kind, int32_t receipt, int32_t amount)> runCardPayment;
    std::function<bool(int32_t kind, uint32_t receipt, int32_t amount, int32_t tenderNumber)> runCodePayment;
    // An interrupted sale of another mode: the frame of that mode takes the
    // open temporary file over; false when it could not (the file is then
    // closed and stays for a later start).
    std::function<bool(int32_t viewMode, FileDBHandle file)> resumeInMode;
    // The date the frame holds (readings, the receipt journal); today when
    // empty.
    std::function<platform::ui::Date()> frameDate;
    std::function<void()> closeFrame;
    // The frame's title: a held sale's file name, or (empty) the mode's own.
    std::function<void(const std::string& name)> setTitle;
  };

  CRegView(CRegCom* engine, shell::CREGApp* app, int32_t viewMode);
  ~CRegView() override;

  void SetHost(Host host) { host_ = std::move(host); }
  // The totals pane the view writes its count, amount and message to.
  void SetBottomView(shell::CBottomView* bottom) { bottom_ = bottom; }

  CRegSale& Sale() { return *sale_; }
  // The day the receipt journal (mode 38) shows: a DOS date, 0 today. Set
  // before the view is set up.
  // A left click on list row `row` (the list's click notification).
  void OnListClick(int32_t row);
  // The mouse wheel over the list: one row a notch, up for a positive delta.
  void OnListWheel(int32_t delta);
  HWND ListControl() const { return list_; }

  // The interrupted-sale scan of the engine: a sale the clerk chooses to
  // continue is taken over here when it is of this view's mode, else handed
  // to the frame of its own mode (a view's mode never changes). 1 when one
  // was resumed.
  int32_t ResumeInterruptedSale();
  // Takes over the open temporary file of an interrupted sale of this
  // view's mode; the file is closed (and kept) when that fails.
  int32_t TakeOverSale(FileDBHandle file);

  // The keyboard path of WM_KEYDOWN: 1 when the key was taken.
  int32_t OnKeyDown(uint32_t virtualKey, int32_t character);
  LRESULT OnPanelKey(WPARAM type, LPARAM codeText);
  LRESULT OnDptSelect(WPARAM selector, LPARAM text);
  // A PLU item chosen by its code (the picker): the code is the entry and
  // the PLU key follows, through the mode gate as a typed key.
  int32_t EnterPlu(const std::string& code);
  // What the picker leaves when it closes without having delivered by
  // message: "CLEAR" is the cancel key 4:79; any other text is the entry of
  // the PLU key (kind n) or of the department key 4:60 (kind 0).
  int32_t DeliverPickerResult(int32_t kind, const std::string& text);

  // The department and PLU picker (department 0: its department list):
  // 1 opened, 0 failed (error line up), -1 no department may be listed.
  int32_t OpenDepartmentPicker(uint16_t department) override;
  // The floating ten-key pad, attached to this view, where the clerk left it.
  void OpenTenKeyPad() override;

  // What the view last gave its totals pane.
  int32_t PaneItems() const { return paneItems_; }
  int32_t PaneAmount() const { return paneAmount_; }
  const std::string& PaneMessage() const { return paneMessage_; }
  const std::string& StatusText() const { return status_; }
  int32_t CurrentMenu() const { return menu_; }

  // ---- SaleScreen ----
  int32_t FrameViewMode() const override { return viewMode_; }
  void SetBottomTotals(int32_t items, int32_t amount, const std::string& message) override;
  void SetStatusText(const std::string& text) override;
  void SetSaleMenus(bool saleOpen) override;
  int32_t SetListRow(const void* line, int32_t number) override;
  void DeleteListRows() override;
  void ShowLastListRow() override;
  bool MoveListFocus(int32_t step) override;
  int32_t FocusedListNumber() const override;
  void ClearListCell(int32_t number, int32_t column) override;
  void Beep(uint32_t type) override;
  void RaiseDeviceRequest(uint32_t bits) override;
  void RefreshCustomerDisplay(const void* line) override;
  void AddEmptyListRow() override;
  bool FocusListNumber(int32_t number) override;
  void CloseFrame() override;
  // ---- dialogs of the sale (reg_view_dialogs.cpp) ----
  bool ChooseCustomer(CustomerChoice* choice, bool insert) override;
  int32_t EditNames(std::string* displayName, std::string* printName, bool offerCustomer) override;
  bool AskFormalReceipt(int32_t* kind, std::string* note) override;
  bool ChooseHeldSaleFile(bool save, const std::string& initial, std::string* path) override;
  void BroadcastCustomerLine(int32_t receipt, const void* line) override;
  void ShowHeldSaleTitle(const std::string& path) override;
  bool RunCardPayment(int32_t business, int32_t kind, int32_t receipt, int32_t amount) override;
  bool RunCodePayment(int32_t kind, uint32_t receipt, int32_t amount, int32_t tenderNumber) override;

  // ---- commands ----
  bool handleCommand(uint32_t command) override;
  bool handlesCommand(uint32_t command) const override;
  bool updateCommand(uint32_t command, platform::ui::CommandState& state) override;
  // The right-button menu of a registration view, built for its state now;
  // rowHit: the click was on a row of the list.
  std::vector<platform::ui::PopupItem> BuildPopupMenu(bool rowHit) const;
  // Shows the right-button menu at a screen point and runs its command.
  void OnListRightClick(bool rowHit, int32_t x, int32_t y);

  // ---- report export (reg_export.cpp) ----
  // The CSV text of a line block (null: title and header rows only).
  static std::string BuildReportCsv(MemoryBlockHandle block, const platform::ui::Date& date);
  // Appends one field to a row: the separator before every field but the
  // first, the text in double quotes (inner quotes doubled) when asked.
  static void WriteCsvField(const std::string& text, bool* first, std::string* archive, char separator, bool quote);
  // Command 32808: asks for a file and writes the view's lines to it.
  void OnExportReport();
  platform::ui::Date ReportDate() const;

 protected:
  void onInitialUpdate() override;
  void onSize(int32_t width, int32_t height) override;
  bool onKeyDown(uint32_t virtualKey, LPARAM flags) override;
  void onSetFocus() override;
  LRESULT onMessage(uint32_t message, WPARAM wParam, LPARAM lParam) override;
  platform::ui::Size sizeHint() const override { return {640, 360}; }

 private:
  void CreateList();
  void SetEntry(const std::string& text);
  bool AnyListDepartment() const;
  HWND OwnerWindow() const;
  int32_t RowOfNumber(int32_t number) const;
  uint16_t Modifiers() const;
  bool IsScannedCodeEnd(uint32_t virtualKey, int32_t character);

  CRegCom* engine_;
  shell::CREGApp* app_;
  int32_t viewMode_;
  std::unique_ptr<CRegSale> sale_;
  Host host_;
  shell::CBottomView* bottom_ = nullptr;
  HWND list_ = nullptr;
  int keyHook_ = 0, mouseHook_ = 0;
  bool closing_ = false;  // the view is being destroyed: no new pad
  int32_t paneItems_ = 0, paneAmount_ = 0;
  std::string paneMessage_;
  std::string status_;
  int32_t menu_ = kIdleMenu;
  int32_t scannedDigits_ = 0;  // digits typed in a row on the keyboard
  std::string heldTitle_;      // the frame's title while a held sale's name shows
};

}  // namespace varnex::reg
