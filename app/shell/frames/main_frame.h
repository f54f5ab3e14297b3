// CMainFrame: the register's one top-level window, an MDI frame. It carries
// the tool bar, a dialog bar of big buttons chosen by the active mode frame
// (with the status, manager and date fields), the status bar with its
// indicators, and the three resizable panes of the registration screen. Its
// 200 ms timer locks the shell after a while without input; while nobody is
// signed on the mode frames are hidden, the frame is disabled and the
// manager-selection dialog is up (the sign-on lock).
//
// Dialog bars (template id + 1 when "Big Dialog" is on):
//   120 no mode frame, or nobody signed on: the seven mode buttons, date
//   122 menu modes, register modes 5/7/8 without a sale: mode buttons, F11,
//       F12, テンキー, status, manager, date
//   124 programming modes 101-116: F1 登録 .. F10 終了, 1411
//   126 register modes 5/7/8 during a sale: F1 .. F12 from the key layout
//   128 readings 31-46: 領収証, 印刷, 閉じる
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "app/register/devices/comm_guard.h"
#include "app/register/devices/jet_link.h"
#include "app/register/devices/pole_display.h"
#include "app/register/devices/sa_device.h"
#include "platform/ui/dialog.h"
#include "platform/ui/frame.h"
#include "platform/ui/view.h"

namespace varnex::shell {

class CREGApp;
class CCtrlBar;
class CBottomView;
class CDptFrm;

// Program window messages.
inline constexpr uint32_t WM_TENKEY_PAD = 0x0400 + 0x65;
inline constexpr uint32_t WM_REG_DPTSELECT = 0x0400 + 0x66;
inline constexpr uint32_t WM_DPT_REFRESH = 0x0400 + 0x67;
inline constexpr uint32_t WM_REG_PANELKEY = 0x0400 + 0x68;
inline constexpr uint32_t WM_REG_CASTINPUT = 0x0400 + 0x69;
inline constexpr uint32_t WM_CD_UPDATE = 0x0400 + 0x6A;
inline constexpr uint32_t WM_COMM_SA = 0x0E00;
inline constexpr uint32_t WM_COMM_CD = 0x0E01;
inline constexpr uint32_t WM_COMM_JET = 0x0E02;

// Command ids of the main frame and its bars.
enum MainCommand : uint32_t {
  ID_MODE_SETUP = 1002, ID_MODE_REFUND = 1003, ID_MODE_OFF = 32777, ID_MODE_REGISTER1 = 1004,
  ID_MODE_REGISTER2 = 1005, ID_MODE_XREAD = 1006, ID_MODE_ZREAD = 1007,
  ID_BAR_STATUS = 1080, ID_BAR_MANAGER = 1081, ID_BAR_DATE = 1082,
  ID_BAR_CLOSE = 1083, ID_BAR_PRINT = 1085, ID_BAR_RECEIPT = 1086,
  ID_SIGN_OFF = 1164, ID_RECEIPT_ONOFF = 1169,
  ID_FKEY_FIRST = 1201, ID_FKEY_LAST = 1212,
  ID_PROG_FIRST = 1401, ID_PROG_EXTRA = 1411,
  ID_TENKEY = 1587, ID_FKEY11 = 1594, ID_FKEY12 = 1595,
  ID_MAKE_CLERK_CODE = 32820,
  ID_PERIPHERALS = 32774, ID_SALES_SLIP_LINK = 32778, ID_SALES_SLIP = 32779, ID_PRINT_FORMAT = 32780,
  ID_IMPORT_IMAGES = 32781, ID_CHECK_INDEXES = 32782, ID_BACKUP_DATABASE = 32787, ID_RESTORE_DATABASE = 32788,
  ID_IMAGE_SIZE = 32803, ID_LOGO_FILE = 32811, ID_OPTIONS = 32817,
  ID_FILE_NEW = 57600, ID_APP_ABOUT = 57664, ID_APP_EXIT = 57665,
  ID_HELP_INDEX = 57667, ID_HELP_USING = 57669, ID_HELP = 57670, ID_DEFAULT_HELP = 57671,
};

// The caption of the programming bar's extra button in the department file.
inline constexpr char kProgPickerCaption[] = "F11:ＰＬＵ";

// Ids of the bars, the panes and the views in them.
inline constexpr uint32_t kTopPaneId = 0xE8FD, kRightPaneId = 0xE8FE, kBottomPaneId = 0xE8FF;
inline constexpr int32_t kTimerIdle = 101, kTimerAck = 103, kTimerNak = 104, kTimerEot = 105;
// Idle limits in 200 ms ticks: register screens (or none) and the others.
inline constexpr uint32_t kIdleLimitRegister = 150, kIdleLimitOther = 900;
// The smallest pixel height a bar button's caption is shrunk to so that it
// fits its button.
inline constexpr int32_t kMinBarFontHeight = 9;

// What the main frame reads of a mode frame. The mode frames implement it.
class CModeFrameInfo {
 public:
  virtual ~CModeFrameInfo() = default;
  virtual int32_t ViewMode() const = 0;
  // Set while a modal dialog of the frame runs, and while a sale is open.
  virtual int32_t ModalDialogFlag() const = 0;
  // Set once a register view initialised in the frame.
  virtual int32_t RegisterViewFlag() const = 0;
  virtual platform::ui::Date FrameDate() const = 0;
  virtual void SetFrameDate(const platform::ui::Date& date) { (void)date; }
  // Width of the register view's list (the sum of its column widths).
  virtual int32_t RegisterListWidth() const { return 0; }
  // The open sale of the register view, for the totals pane: false when none.
  virtual bool OpenSale(int32_t* count, int32_t* amount, std::string* message) const {
    (void)count, (void)amount, (void)message;
    return false;
  }
  // Whether the register view has a cash count open (Close is disabled then).
  virtual int32_t CashCountOpen() const { return 0; }
};

class CMainFrame {
 public:
  explicit CMainFrame(CREGApp& app);
  ~CMainFrame();
  CMainFrame(const CMainFrame&) = delete;
  CMainFrame& operator=(const CMainFrame&) = delete;

  // Makes the window (the frame, its menu, bars, status bar and timer).
  bool Create(const platform::ui::Rect& rect);
  HWND GetSafeHwnd() const;
  platform::ui::Frame& Frame() { return *m_frame; }

  // ---- bars and panes ----
  void RebuildModeLayout(int32_t barId);
  // Gives the buttons of the bar shown the screen font (once the fonts are read).
  void ApplyBarFonts() { SetBarFonts(m_nBarId); }
  void SelectBar();
  int32_t CurrentBarId() const { return m_nBarId; }
  // The dialog bar template shown for a bar id.
  int32_t TemplateOf(int32_t barId) const;
  void SetBottomTotals(int32_t count, int32_t amount, const std::string& caption);
  void UpdateBottomTotals(int32_t count, int32_t amount, const std::string& caption);
  void UpdateReceiptOffText();
  CBottomView* BottomView() const { return m_pBottomView; }
  CCtrlBar* Pane(uint32_t id) const;
  platform::ui::View* TopView() const { return m_pTopView; }
  platform::ui::View* RightView() const { return m_pRightView; }
  // The department and PLU picker over the main frame (which it disables
  // while it is open), kind 0 the department list; null when it cannot open.
  CDptFrm* OpenDptFrame(int32_t kind, int32_t displayOrder, HWND target);
  // The label of a function-key button for a virtual key (F1 = 0x70).
  std::string FormatFunctionKeyButton(uint32_t command, uint32_t virtualKey);

  // ---- locks ----
  void OpenSignOnPad(HWND dialog);
  LRESULT OnTenKeyPad();
  void OnTimer(uint32_t id);
  bool IsLocked() const { return m_hAccountDlg != nullptr; }
  uint32_t IdleTicks() const { return m_nIdleTicks; }
  void ResetIdleTicks() { m_nIdleTicks = 0; }

  // ---- register keys of the SA device ----
  int32_t SimulateKeyStroke(int32_t position, int32_t character);
  int32_t SimulateKeyStrokeAt(int32_t position);
  int32_t SimulateKeyStrokeChar(int32_t character);

  // ---- the serial devices (main_frame_devices.cpp) ----
  // Hands the ports that start-up opened to the device objects.
  void AttachDevices();
  void SendSaCommand() { m_sa.SendSaCommand(); }
  void RaiseSaRequest(uint32_t bits) { m_sa.m_nSaRequest |= bits; }
  uint32_t SaRequest() const { return m_sa.m_nSaRequest; }
  // Shows the pending customer-display line, or the "Msg CD" idle text.
  void UpdateCustomerDisplay(const std::string& pending);
  // The card-terminal dialog for one card payment (kind 1) or return (3):
  // 1 paid, 0 not. The sequence number moves on and is stored when paid.
  int32_t RunCardPayment(int32_t business, int32_t kind, int32_t receipt, int32_t amount);
  // The barcode payment dialog (kind 1 payment, 3 refund; tenderNumber: the
  // how-manieth barcode tender of the receipt): 1 paid or refunded, 0 not.
  int32_t RunCodePayment(int32_t kind, uint32_t receipt, int32_t amount, int32_t tenderNumber);
  LRESULT OnCommSa(WPARAM wParam);
  LRESULT OnCommCd(WPARAM wParam);
  LRESULT OnCommJet(WPARAM wParam);
  reg::CJetLink& JetLink() { return m_jet; }
  reg::CSaDevice& SaDevice() { return m_sa; }
  reg::CPoleDisplay& PoleDisplay() { return m_cd; }
  reg::CCommGuard& CommGuard() { return m_commGuard; }

  // ---- state other screens set or read ----
  // 1 while a Tools or File command shows its dialog: the idle lock waits.
  int32_t m_bDialogOpen = 0;
  // Sets m_bDialogOpen of a frame (none: nothing) for as long as it lives,
  // so that every way out of a command clears it again.
  class DialogOpen {
   public:
    explicit DialogOpen(CMainFrame* frame) : frame_(frame) {
      if (frame_) frame_->m_bDialogOpen = 1;
    }
    ~DialogOpen() {
      if (frame_) frame_->m_bDialogOpen = 0;
    }
    DialogOpen(const DialogOpen&) = delete;
    DialogOpen& operator=(const DialogOpen&) = delete;

   private:
    CMainFrame* frame_;
  };
  int32_t m_bMinimized = 0;
  uint32_t m_nDeviceStatus = 0;
  std::string m_strStatusText;

  // The mode frame behind the active child frame, or null.
  CModeFrameInfo* ActiveModeFrame() const;

  // Makers of the views of the top pane (the touch keys) and the right pane
  // (the department list); Create sets them unless a test did.
  std::function<std::unique_ptr<platform::ui::View>()> m_fnMakeTopView;
  std::function<std::unique_ptr<platform::ui::View>()> m_fnMakeRightView;

 private:
  LRESULT WindowProc(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);
  void MapCommands();
  void MapToolsCommands();
  void RebuildBars(int32_t barId);
  void SetBarFonts(int32_t barId);
  void UpdatePanes();
  void DestroyPanes();
  int32_t UpdateModeButton(platform::ui::CommandState& state, int32_t mode);
  void UpdateDateField(platform::ui::CommandState& state);
  void SendKeyToActiveView(uint32_t virtualKey);
  void ShowModeFrames(bool show);
  void OpenManual();
  void MakeClerkCode();
  void SetBarFont(HWND control, int32_t font);
  void SetFunctionKeyFont(HWND control, const std::string& label);
  void FitBarFont(HWND control, int32_t font, const std::string& caption);

  CREGApp& m_app;
  std::unique_ptr<platform::ui::Frame> m_frame;
  platform::ui::WindowProc m_defaultProc;
  int32_t m_nBarId = 120;
  uint32_t m_nIdleTicks = 0;
  uint32_t m_nLastCapture = 0;
  int32_t m_bStatusFont = 0, m_bManagerFont = 0;
  HWND m_hDateField = nullptr;
  HWND m_hAccountDlg = nullptr;
  HWND m_hLockedFrame = nullptr;  // the screen in front when the lock came
  int32_t m_nPendingBar = 0;
  // The font and the label last fitted to each function-key button.
  std::map<HWND, std::pair<int32_t, std::string>> m_keyFonts;
  std::unique_ptr<CCtrlBar> m_pTopPane, m_pBottomPane, m_pRightPane;
  CBottomView* m_pBottomView = nullptr;
  platform::ui::View* m_pTopView = nullptr;
  platform::ui::View* m_pRightView = nullptr;
  // The three serial devices and the guard their receive handlers share.
  reg::CCommGuard m_commGuard;
  reg::CSaDevice m_sa;
  reg::CJetLink m_jet;
  reg::CPoleDisplay m_cd;
  // The pane views; their windows go with their panes.
  std::unique_ptr<platform::ui::View> m_topView, m_rightView, m_bottomView;
};

}  // namespace varnex::shell
