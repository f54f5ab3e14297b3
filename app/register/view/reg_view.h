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

#include "app/register/view/reg_sale.h"
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
};

class CRegView : public platform::ui::View, public SaleScreen {
 public:
  // What the frame around the view offers; every member may be empty.
  struct Host {
    std::function<void(int32_t menuAndAccelerators)> setMenus;
    std::function<void(const std::string&)> setStatusText;
    std::function<void(uint32_t)> raiseDeviceRequest;
    std::function<void(const void* line)> refreshCustomerDisplay;
    std::function<void()> closeFrame;
  };

  CRegView(CRegCom* engine, shell::CREGApp* app, int32_t viewMode);
  ~CRegView() override;

  void SetHost(Host host) { host_ = std::move(host); }
  // The totals pane the view writes its count, amount and message to.
  void SetBottomView(shell::CBottomView* bottom) { bottom_ = bottom; }

  CRegSale& Sale() { return *sale_; }
  // The day the receipt journal (mode 38) shows: a DOS date, 0 today. Set
  // before the view is set up.
  void SetJournalDate(uint16_t date) { journalDate_ = date; }
  // A left click on list row `row` (the list's click notification).
  void OnListClick(int32_t row);
  HWND ListControl() const { return list_; }

  // The interrupted-sale scan of the engine: a sale the clerk chooses to
  // continue is taken over, and the view switches to its mode. 1 when one
  // was resumed.
  int32_t ResumeInterruptedSale();

  // The keyboard path of WM_KEYDOWN: 1 when the key was taken.
  int32_t OnKeyDown(uint32_t virtualKey, int32_t character);
  LRESULT OnPanelKey(WPARAM type, LPARAM codeText);
  LRESULT OnDptSelect(WPARAM selector, LPARAM text);

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
  void Beep(uint32_t type) override;
  void RaiseDeviceRequest(uint32_t bits) override;
  void RefreshCustomerDisplay(const void* line) override;
  void AddEmptyListRow() override;
  bool FocusListNumber(int32_t number) override;
  void CloseFrame() override;

  // ---- commands ----
  bool handleCommand(uint32_t command) override;
  bool handlesCommand(uint32_t command) const override;

 protected:
  void onInitialUpdate() override;
  void onSize(int32_t width, int32_t height) override;
  bool onKeyDown(uint32_t virtualKey, LPARAM flags) override;
  LRESULT onMessage(uint32_t message, WPARAM wParam, LPARAM lParam) override;
  platform::ui::Size sizeHint() const override { return {640, 360}; }

 private:
  void CreateList();
  int32_t RowOfNumber(int32_t number) const;
  uint16_t Modifiers() const;

  CRegCom* engine_;
  shell::CREGApp* app_;
  int32_t viewMode_;
  std::unique_ptr<CRegSale> sale_;
  Host host_;
  shell::CBottomView* bottom_ = nullptr;
  HWND list_ = nullptr;
  int keyHook_ = 0;
  int32_t paneItems_ = 0, paneAmount_ = 0;
  std::string paneMessage_;
  std::string status_;
  int32_t menu_ = kIdleMenu;
  uint16_t journalDate_ = 0;
};

}  // namespace varnex::reg
