#include "app/shell/frames/main_frame.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/register/engine/reg_com.h"
#include "app/shell/app/reg_app.h"
#include "app/shell/frames/bottom_view.h"
#include "app/shell/frames/ctrl_bar.h"
#include "app/shell/frames/dpt_view.h"
#include "app/register/view/ten_key_dlg.h"
#include "app/register/view/top_view.h"
#include "app/shell/signon/manager_dialogs.h"
#include "platform/base/clock.h"
#include "platform/base/file.h"
#include "platform/base/message_box.h"
#include "platform/base/process.h"
#include "platform/base/profile.h"
#include "platform/ui/desktop.h"
#include "platform/ui/input.h"
#include "quorex/serial.h"
#include "zemta/keys.h"

namespace varnex::shell {

namespace ui = platform::ui;

namespace {

// Posted to the frame itself: rebuild the bars for the id in wParam. The
// rebuild runs outside the idle update that chose it, since it replaces the
// bar whose controls that update walks.
constexpr uint32_t kWmRebuildBars = 0x0400 + 0x1F0;

constexpr uint32_t kModeButtons[] = {ID_MODE_SETUP, ID_MODE_REFUND, ID_MODE_OFF, ID_MODE_REGISTER1,
                                     ID_MODE_REGISTER2, ID_MODE_XREAD, ID_MODE_ZREAD};
constexpr int32_t kModeOfButton[] = {4, 5, 6, 7, 8, 9, 10};

const platform::Profile& profile() { return platform::Profile::of(platform::ProfileScope::User); }

bool isRegisterMode(int32_t mode) { return mode == 5 || mode == 7 || mode == 8; }

std::string trimRight(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

// "%-*.*s" of a fixed-width field: at most width bytes, padded with blanks.
std::string field(const uint8_t* record, size_t offset, size_t size, int width) {
  std::string text(reinterpret_cast<const char*>(record + offset), size);
  text = text.substr(0, std::min(text.find('\0'), text.size()));
  char out[64];
  std::snprintf(out, sizeof out, "%-*.*s", width, width, text.c_str());
  return out;
}

}  // namespace

CMainFrame::CMainFrame(CREGApp& app) : m_app(app) {}

CMainFrame::~CMainFrame() {
  DestroyPanes();
  if (m_hAccountDlg && ui::isWindow(m_hAccountDlg)) ui::destroyWindow(m_hAccountDlg);
  if (m_frame && ui::isWindow(m_frame->handle())) {
    ui::killTimer(m_frame->handle(), kTimerIdle);
    platform::Profile& p = platform::Profile::of(platform::ProfileScope::User);
    p.setInt(reg::kSettingsSection, "IsToolBar", m_frame->isToolBarVisible() ? 1 : 0);
    p.setInt(reg::kSettingsSection, "IsStatusBar", m_frame->isStatusBarVisible() ? 1 : 0);
  }
}

HWND CMainFrame::GetSafeHwnd() const { return m_frame ? m_frame->handle() : nullptr; }

int32_t CMainFrame::TemplateOf(int32_t barId) const { return m_app.m_bBigDialog ? barId + 1 : barId; }

bool CMainFrame::Create(const ui::Rect& rect) {
  std::string title = "Varnex";
  ui::loadString(57344, title);
  m_frame = std::make_unique<ui::Frame>("VarnexMainFrame", title, rect, ui::FrameKind::Mdi);
  HWND h = m_frame->handle();
  if (!h) return false;
  m_defaultProc = ui::setWindowProc(h, [this](HWND w, uint32_t m, WPARAM wp, LPARAM lp) {
    return WindowProc(w, m, wp, lp);
  });
  // The command map comes first: making the bars runs idle updates.
  MapCommands();
  // 1-4: tool bar, dialog bar, status bar.
  m_frame->setMenu(120);
  m_frame->addToolButton(ID_HELP_INDEX, "マニュアル");
  m_frame->addToolButton(ID_APP_ABOUT, "バージョン情報");
  m_nBarId = 120;
  if (!m_frame->setDialogBar(TemplateOf(120))) return false;
  SetBarFonts(120);
  if (!m_frame->setStatusIndicators({ui::kIndicatorKana, ui::kIndicatorCaps, ui::kIndicatorNum, ui::kIndicatorScroll}))
    return false;
  // 5: bar visibility as the last run left it.
  m_frame->showToolBar(profile().getInt(reg::kSettingsSection, "IsToolBar", 0) != 0);
  m_frame->showStatusBar(profile().getInt(reg::kSettingsSection, "IsStatusBar", 1) != 0);
  // 6: the idle lock's tick.
  ui::setTimer(h, kTimerIdle, 200);
  // The registration screen's touch keys and department pane send their
  // keys to the view of the active mode frame.
  auto activeView = [this]() -> HWND {
    ui::ChildFrame* child = m_frame ? m_frame->activeChild() : nullptr;
    ui::View* view = child ? child->activeView() : nullptr;
    return view ? view->handle() : nullptr;
  };
  if (!m_fnMakeTopView)
    m_fnMakeTopView = [this, activeView]() -> std::unique_ptr<ui::View> {
      return std::make_unique<reg::CTopView>(m_app.m_pRegCom, &m_app, activeView);
    };
  if (!m_fnMakeRightView)
    m_fnMakeRightView = [this, activeView]() -> std::unique_ptr<ui::View> {
      auto view = std::make_unique<CDptView>(&m_app, m_app.m_pRegCom, 0, true, false);
      view->SetActiveView(activeView);
      return view;
    };
  return true;
}

CDptFrm* CMainFrame::OpenDptFrame(int32_t kind, int32_t displayOrder, HWND target) {
  return CDptFrm::Open(m_app, m_app.m_pRegCom, kind, displayOrder != 0, target, GetSafeHwnd());
}

LRESULT CMainFrame::WindowProc(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TENKEY_PAD: return OnTenKeyPad();
    case ui::kWmTimer: OnTimer(static_cast<uint32_t>(wParam)); return 0;
    case WM_COMM_SA: return OnCommSa(wParam);
    case WM_COMM_CD: return OnCommCd(wParam);
    case WM_COMM_JET: return OnCommJet(wParam);
    case kWmRebuildBars: RebuildModeLayout(static_cast<int32_t>(wParam)); return 0;
    case ui::kWmClose:
      // The close button: the screens are asked first; a refusal keeps the
      // program open.
      if (!m_app.SaveAllModified()) {
        m_app.m_bPowerOffAtExit = 0;  // the day goes on: no power-off later
        return 0;
      }
      m_defaultProc(window, message, wParam, lParam);
      ui::postQuitMessage(0);
      return 0;
    case ui::kWmSize: {
      m_bMinimized = ui::isMinimized(window) ? 1 : 0;
      break;
    }
    default: break;
  }
  return m_defaultProc ? m_defaultProc(window, message, wParam, lParam)
                       : ui::defaultWindowProc(window, message, wParam, lParam);
}

CModeFrameInfo* CMainFrame::ActiveModeFrame() const {
  if (!m_frame) return nullptr;
  return dynamic_cast<CModeFrameInfo*>(m_frame->activeChild());
}

CCtrlBar* CMainFrame::Pane(uint32_t id) const {
  switch (id) {
    case kTopPaneId: return m_pTopPane.get();
    case kBottomPaneId: return m_pBottomPane.get();
    case kRightPaneId: return m_pRightPane.get();
    default: return nullptr;
  }
}

// ---- commands ----------------------------------------------------------------------

void CMainFrame::MapCommands() {
  ui::Frame& f = *m_frame;
  for (size_t i = 0; i < std::size(kModeButtons); ++i) {
    const int32_t mode = kModeOfButton[i];
    f.mapCommand(kModeButtons[i], [this, mode](uint32_t) { m_app.OpenModeView(mode, 0); });
    f.mapUpdate(kModeButtons[i], [this, mode](uint32_t, ui::CommandState& s) {
      if (UpdateModeButton(s, mode)) m_app.OpenModeView(7, 0);
    });
  }
  f.mapCommandRange(ID_FKEY_FIRST, ID_FKEY_LAST, [this](uint32_t id) { SendKeyToActiveView(ui::kVkF1 + id - ID_FKEY_FIRST); });
  f.mapUpdateRange(ID_FKEY_FIRST, ID_FKEY_LAST, [this](uint32_t id, ui::CommandState& s) {
    s.hasText = true;
    s.text = FormatFunctionKeyButton(id, ui::kVkF1 + id - ID_FKEY_FIRST);
    s.enabled = ui::isWindowEnabled(s.control) || !s.control;
    SetFunctionKeyFont(s.control, s.text);
  });
  for (uint32_t id : {static_cast<uint32_t>(ID_FKEY11), static_cast<uint32_t>(ID_FKEY12)}) {
    const uint32_t vk = id == ID_FKEY11 ? ui::kVkF1 + 10 : ui::kVkF1 + 11;
    f.mapCommand(id, [this, vk](uint32_t) { SendKeyToActiveView(vk); });
    f.mapUpdate(id, [this, vk](uint32_t command, ui::CommandState& s) {
      s.hasText = true;
      if (m_app.m_bManagerSelected && isRegisterMode(m_app.m_nLastShownMode)) {
        s.enabled = true;
        s.text = FormatFunctionKeyButton(command, vk);
        SetFunctionKeyFont(s.control, s.text);
      } else {
        s.enabled = false;
        s.text.clear();
      }
    });
  }
  f.mapCommand(ID_BAR_RECEIPT, [this](uint32_t) { SendKeyToActiveView(ui::kVkF1 + 7); });
  f.mapCommand(ID_BAR_PRINT, [this](uint32_t) { SendKeyToActiveView(ui::kVkF1 + 8); });
  // A report prints once its cash count is done; the formal receipt is the
  // receipt journal's.
  f.mapUpdate(ID_BAR_PRINT, [this](uint32_t, ui::CommandState& s) {
    CModeFrameInfo* frame = ActiveModeFrame();
    s.enabled = frame && !frame->CashCountOpen() && frame->ViewMode() >= 31 && frame->ViewMode() <= 46;
  });
  f.mapUpdate(ID_BAR_RECEIPT, [this](uint32_t, ui::CommandState& s) {
    CModeFrameInfo* frame = ActiveModeFrame();
    s.enabled = frame && frame->ViewMode() == 38;
  });
  f.mapCommand(ID_BAR_CLOSE, [this](uint32_t) {
    if (ui::ChildFrame* child = m_frame->activeChild()) ui::postMessage(child->handle(), ui::kWmClose, 0, 0);
  });
  f.mapUpdate(ID_BAR_CLOSE, [this](uint32_t, ui::CommandState& s) {
    CModeFrameInfo* frame = ActiveModeFrame();
    s.enabled = !(frame && frame->CashCountOpen());
  });
  f.mapCommand(ID_TENKEY, [this](uint32_t) {
    CModeFrameInfo* frame = ActiveModeFrame();
    if (!m_app.m_bManagerSelected || !frame) return;
    m_app.m_bPadShown = m_app.m_bPadShown ? 0 : 1;
    // Switched off, the pad goes now; switched on, the screen opens it.
    if (!m_app.m_bPadShown && m_app.m_hTenKeyDlg && ui::isWindow(m_app.m_hTenKeyDlg)) {
      ui::destroyWindow(m_app.m_hTenKeyDlg);
      m_app.m_hTenKeyDlg = nullptr;
    }
    m_app.OpenModeView(frame->ViewMode(), 1);
  });
  f.mapUpdate(ID_TENKEY, [this](uint32_t, ui::CommandState& s) {
    CModeFrameInfo* frame = ActiveModeFrame();
    const int32_t mode = frame ? frame->ViewMode() : -1;
    s.enabled = m_app.m_bManagerSelected && frame && (isRegisterMode(mode) || (mode >= 31 && mode <= 46));
  });
  f.mapCommand(ID_BAR_STATUS, [](uint32_t) {});
  f.mapUpdate(ID_BAR_STATUS, [this](uint32_t, ui::CommandState& s) {
    s.hasText = true;
    s.text = m_strStatusText;
    s.enabled = ActiveModeFrame() && !m_strStatusText.empty();
    if (!m_bStatusFont && s.control) {
      SetBarFont(s.control, m_app.m_bBigDialog ? 2 : 1);
      m_bStatusFont = 1;
    }
  });
  f.mapCommand(ID_BAR_MANAGER, [](uint32_t) {});
  f.mapUpdate(ID_BAR_MANAGER, [this](uint32_t, ui::CommandState& s) {
    s.hasText = true;
    s.enabled = ActiveModeFrame() != nullptr;
    s.text.clear();
    if (s.enabled && m_app.m_pRegCom && m_app.m_pRegCom->Manager())
      s.text = trimRight(field(m_app.m_pRegCom->Manager(), 0, 16, 16));
    if (!m_bManagerFont && s.control) {
      SetBarFont(s.control, m_app.m_bBigDialog ? 2 : 1);
      m_bManagerFont = 1;
    }
  });
  f.mapCommand(ID_BAR_DATE, [](uint32_t) {});
  f.mapUpdate(ID_BAR_DATE, [this](uint32_t, ui::CommandState& s) { UpdateDateField(s); });
  f.mapCommand(ID_SIGN_OFF, [this](uint32_t) {
    if (!m_app.m_bManagerSelected) return;
    m_app.m_bManagerSelected = 0;
    m_nIdleTicks = 0;
    OnTenKeyPad();
  });
  f.mapCommand(ID_RECEIPT_ONOFF, [this](uint32_t) {
    m_app.m_bReceiptOn = m_app.m_bReceiptOn ? 0 : 1;
    UpdateReceiptOffText();
  });
  f.mapCommand(ID_MAKE_CLERK_CODE, [this](uint32_t) { MakeClerkCode(); });
  MapToolsCommands();
  for (uint32_t id : {ID_HELP_INDEX, ID_HELP_USING, ID_HELP, ID_DEFAULT_HELP})
    f.mapCommand(id, [this](uint32_t) { OpenManual(); });
  f.mapUpdate(ID_HELP, [this](uint32_t, ui::CommandState& s) { s.enabled = m_nBarId != 124 && m_nBarId != 126; });
  f.mapCommand(ID_APP_EXIT, [this](uint32_t) { ui::postMessage(m_frame->handle(), ui::kWmClose, 0, 0); });
}

// The Tools and File commands of the application, with their enable rules:
// a manager signed on whose 設定 bit is clear, and for the printer's settings
// no print job under way.
void CMainFrame::MapToolsCommands() {
  ui::Frame& f = *m_frame;
  auto allowed = [this]() {
    reg::CRegCom* engine = m_app.m_pRegCom;
    return m_app.m_bManagerSelected && engine && engine->Manager() &&
           !(reg::getU16(engine->Manager(), reg::clerk::kForbiddenModes) & reg::kForbidProgram);
  };
  // A receipt still printing keeps the printer's and the program's settings
  // as the job started with them.
  auto noPrintJob = [this]() { return !m_app.PrintJobOpen(); };
  auto always = [](uint32_t, ui::CommandState& s) { s.enabled = true; };
  f.mapCommand(ID_BACKUP_DATABASE, [this](uint32_t) { m_app.OnBackupDatabase(); });
  f.mapUpdate(ID_BACKUP_DATABASE, always);
  f.mapCommand(ID_RESTORE_DATABASE, [this](uint32_t) { m_app.OnRestoreDatabase(); });
  f.mapUpdate(ID_RESTORE_DATABASE, [allowed](uint32_t, ui::CommandState& s) { s.enabled = allowed(); });
  f.mapCommand(ID_CHECK_INDEXES, [this](uint32_t) { m_app.OnCheckIndexes(); });
  f.mapUpdate(ID_CHECK_INDEXES, always);
  f.mapCommand(ID_IMPORT_IMAGES, [this](uint32_t) { m_app.OnImportImages(); });
  f.mapUpdate(ID_IMPORT_IMAGES, always);
  f.mapCommand(ID_SALES_SLIP, [this](uint32_t) { m_app.OnSalesSlipProcessing(); });
  f.mapUpdate(ID_SALES_SLIP, always);
  f.mapCommand(ID_PRINT_FORMAT, [this](uint32_t) { m_app.OnPrintFormat(); });
  f.mapUpdate(ID_PRINT_FORMAT, [this, allowed, noPrintJob](uint32_t, ui::CommandState& s) {
    // The SA device prints the receipts itself: no printer to set up.
    s.enabled = allowed() && noPrintJob() && !(m_app.m_bUseSA && m_app.m_bPrnSA);
  });
  f.mapCommand(ID_OPTIONS, [this](uint32_t) { m_app.OnOptions(); });
  f.mapUpdate(ID_OPTIONS, [allowed, noPrintJob](uint32_t, ui::CommandState& s) { s.enabled = allowed() && noPrintJob(); });
  f.mapCommand(ID_PERIPHERALS, [this](uint32_t) { m_app.OnPeripherals(); });
  f.mapUpdate(ID_PERIPHERALS, [allowed, noPrintJob](uint32_t, ui::CommandState& s) {
    s.enabled = allowed() && noPrintJob();
  });
  f.mapCommand(ID_IMAGE_SIZE, [this](uint32_t) { m_app.OnImageSize(); });
  f.mapUpdate(ID_IMAGE_SIZE, [this](uint32_t, ui::CommandState& s) { s.enabled = m_app.m_bManagerSelected != 0; });
  f.mapCommand(ID_LOGO_FILE, [this](uint32_t) { m_app.OnLogoFile(); });
  f.mapUpdate(ID_LOGO_FILE, always);
  f.mapCommand(ID_SALES_SLIP_LINK, [this](uint32_t) { m_app.OnSalesSlipLink(); });
  f.mapUpdate(ID_SALES_SLIP_LINK, [allowed](uint32_t, ui::CommandState& s) { s.enabled = allowed(); });
}

// Longer labels take a smaller font: with "Big Dialog" font 1 up to 11
// characters and font 3 beyond, else font 3 up to 9 and font 5 beyond.
void CMainFrame::SetFunctionKeyFont(HWND control, const std::string& label) {
  if (!control) return;
  const size_t n = label.size();
  const int32_t font = m_app.m_bBigDialog ? (n <= 11 ? 1 : 3) : (n <= 9 ? 3 : 5);
  auto it = m_keyFonts.find(control);
  if (it != m_keyFonts.end() && it->second.first == font && it->second.second == label) return;
  m_keyFonts[control] = {font, label};
  FitBarFont(control, font, label);
}

void CMainFrame::SetBarFont(HWND control, int32_t font) {
  if (!control || font < 1 || font > 5) return;
  const CREGApp::ScreenFont& f = m_app.m_Fonts[font - 1];
  if (f.height > 0) ui::setWindowFont(control, f.face, f.height);
}

// A button shows its caption whole: the screen font asked for, made smaller a
// pixel at a time (not below kMinBarFontHeight) while the caption is wider
// than the room the button leaves for it.
void CMainFrame::FitBarFont(HWND control, int32_t font, const std::string& caption) {
  if (!control || font < 1 || font > 5) return;
  const CREGApp::ScreenFont& f = m_app.m_Fonts[font - 1];
  if (f.height <= 0) return;
  int32_t height = f.height;
  ui::setWindowFont(control, f.face, height);
  while (height > kMinBarFontHeight && ui::textWidth(control, caption) > ui::textRoom(control))
    ui::setWindowFont(control, f.face, --height);
}

int32_t CMainFrame::UpdateModeButton(ui::CommandState& s, int32_t mode) {
  s.enabled = m_app.m_bManagerSelected != 0;
  s.checked = false;
  if (!m_app.m_bManagerSelected) return 0;
  CModeFrameInfo* frame = ActiveModeFrame();
  if (frame && frame->ViewMode() == mode && (m_app.m_nLastShownMode != -1 || mode == 7)) {
    m_app.m_nLastShownMode = mode;
    s.checked = true;
  }
  return m_app.m_nLastShownMode == -1 && mode == 7 ? 1 : 0;
}

std::string CMainFrame::FormatFunctionKeyButton(uint32_t command, uint32_t vk) {
  (void)command;
  reg::CRegCom* engine = m_app.m_pRegCom;
  if (!engine || !engine->IsOpen()) return {};
  uint16_t word = static_cast<uint16_t>(reg::keylayout::kVirtual | vk);
  if (ui::isShiftDown()) word |= reg::keylayout::kShift;
  uint8_t layout[8] = {};
  if (engine->GetKeyByCode(word, layout) < 0) return {};
  const uint16_t keyCode = static_cast<uint16_t>(layout[0] | (layout[1] << 8));
  uint8_t record[64] = {};
  if (engine->GetTransKeyRecord(keyCode, record) < 0) return {};
  const unsigned number = vk - 0x6F;
  char text[96];
  std::snprintf(text, sizeof text, "F%u: %s", number, field(record, 0, 24, 24).c_str());
  std::string label = trimRight(text);
  if (label.size() > 16) {
    std::snprintf(text, sizeof text, "F%u:%s", number, field(record, 24, 12, 12).c_str());
    label = trimRight(text);
  } else if (label.size() > 8) {
    std::snprintf(text, sizeof text, "F%u:%s", number, field(record, 0, 24, 24).c_str());
    label = trimRight(text);
  }
  return label;
}

void CMainFrame::UpdateReceiptOffText() { m_strStatusText = m_app.m_bReceiptOn ? "" : "レシートＯＦＦ"; }

void CMainFrame::SendKeyToActiveView(uint32_t vk) {
  ui::ChildFrame* child = m_frame->activeChild();
  if (!child || !ActiveModeFrame() || !child->activeView()) return;
  HWND view = child->activeView()->handle();
  ui::setFocus(view);
  ui::sendMessage(view, ui::kWmKeyDown, vk, static_cast<LPARAM>((static_cast<int64_t>(vk) << 16) - 0x34FFFF));
}

void CMainFrame::OpenManual() {
  const std::string folder = m_app.WorkFolder();
  const std::string here = folder + "Varnex.pdf";
  platform::File probe = platform::File::open(here, platform::kFileRead, platform::kShareRead | platform::kShareWrite,
                                              platform::kOpenExisting);
  const bool present = probe.isOpen();
  probe.close();
  platform::openDocument(present ? here : folder + "hlp\\Varnex.pdf");
}

void CMainFrame::MakeClerkCode() {
  reg::CRegCom* engine = m_app.m_pRegCom;
  if (!engine || !engine->IsOpen()) {
    if (engine) engine->ReportError("CRegCom", 0x200000FFu);
    return;
  }
  // The rights of 設定 (forbidden-mode bit 0) and a programming level of at
  // least 1; the engine shows the refusal.
  if (!engine->CheckPermission(reg::kModeClerkCode, 1)) return;
  DialogOpen open(this);
  if (m_app.m_fnMakeClerkCode)
    m_app.m_fnMakeClerkCode(m_frame->handle());
  else
    ui::dialogBox(160, m_frame->handle(), [](HWND, uint32_t, WPARAM, LPARAM) -> LRESULT { return 0; });
}

// ---- bars -------------------------------------------------------------------------

void CMainFrame::SetBarFonts(int32_t barId) {
  HWND bar = m_frame->dialogBar();
  if (!bar) return;
  auto set = [&](uint32_t id) {
    if (HWND c = ui::dialogItem(bar, static_cast<int32_t>(id))) FitBarFont(c, 1, ui::windowText(c));
  };
  if (barId == 120 || barId == 122)
    for (uint32_t id : kModeButtons) set(id);
  if (barId == 128)
    for (uint32_t id : {ID_BAR_RECEIPT, ID_BAR_PRINT, ID_BAR_CLOSE}) set(id);
  if (barId == 124)
    for (uint32_t id = ID_PROG_FIRST; id < ID_PROG_EXTRA; ++id) set(id);
  if (barId == 122 || barId == 126 || barId == 128) set(ID_TENKEY);
}

void CMainFrame::RebuildBars(int32_t barId) {
  m_bStatusFont = m_bManagerFont = 0;
  m_hDateField = nullptr;
  m_keyFonts.clear();
  if (!m_frame->setDialogBar(TemplateOf(barId))) {
    // A bar that cannot be made leaves the register unusable: it closes.
    ui::postMessage(m_frame->handle(), ui::kWmClose, 0, 0);
    return;
  }
  SetBarFonts(barId);
  m_nBarId = barId;
  HWND bar = m_frame->dialogBar();
  CModeFrameInfo* frame = ActiveModeFrame();
  const int32_t mode = frame ? frame->ViewMode() : -1;
  auto hide = [&](uint32_t id) {
    if (HWND c = ui::dialogItem(bar, static_cast<int32_t>(id))) ui::showWindow(c, false);
  };
  if (barId == 128) {
    if (mode != 38) hide(ID_BAR_RECEIPT);
    if (mode < 31 || mode > 38) hide(ID_BAR_PRINT);
  }
  if (barId == 124 && mode != 103) hide(ID_PROG_EXTRA);
  // The extra button gets its caption from the department file's frame; its
  // font fits that caption like the other buttons'.
  if (barId == 124 && mode == 103)
    if (HWND c = ui::dialogItem(bar, static_cast<int32_t>(ID_PROG_EXTRA))) FitBarFont(c, 1, kProgPickerCaption);
  if (!m_app.m_bTenKey) hide(ID_TENKEY);
}

void CMainFrame::RebuildModeLayout(int32_t barId) {
  m_nPendingBar = 0;
  if (barId == -1 || barId != m_nBarId) RebuildBars(barId == -1 ? 120 : barId);
  if (ui::ChildFrame* child = m_frame->activeChild()) child->activate();
  UpdatePanes();
}

void CMainFrame::DestroyPanes() {
  // The views first: each keeps what it must (the totals pane its height).
  for (auto* view : {m_topView.get(), m_rightView.get(), m_bottomView.get()})
    if (view && view->handle()) {
      ui::sendMessage(view->handle(), ui::kWmDestroy, 0, 0);
      view->destroy();
    }
  if (m_pRightPane) m_pRightPane->Destroy();
  if (m_pBottomPane) m_pBottomPane->Destroy();
  if (m_pTopPane) m_pTopPane->Destroy();
  m_pRightPane.reset();
  m_pBottomPane.reset();
  m_pTopPane.reset();
  m_topView.reset();
  m_rightView.reset();
  m_bottomView.reset();
  m_pBottomView = nullptr;
  m_pTopView = nullptr;
  m_pRightView = nullptr;
}

void CMainFrame::UpdatePanes() {
  CModeFrameInfo* frame = ActiveModeFrame();
  const bool wanted = m_nBarId != 120 && frame && isRegisterMode(frame->ViewMode()) && frame->RegisterViewFlag();
  if (!wanted) {
    if (m_pBottomPane) DestroyPanes();
    return;
  }
  if (!m_pBottomPane) {
    const int32_t listWidth = frame->RegisterListWidth();
    if (m_fnMakeRightView) {
      auto right = std::make_unique<CCtrlBar>();
      const ui::Rect client = ui::windowRect(m_frame->client());
      if (right->Create(*m_frame, CCtrlBar::Align::Right, {0, 0, std::max(1, client.width() - listWidth), 0},
                        kRightPaneId)) {
        std::unique_ptr<ui::View> view = m_fnMakeRightView();
        if (view && view->create(right->GetSafeHwnd(), 0xE9FE)) {
          m_pRightView = view.get();
          m_rightView = std::move(view);
        }
        m_pRightPane = std::move(right);
      }
    }
    const int32_t height = static_cast<int32_t>(profile().getInt(reg::kSettingsSection, CBottomView::kHeightKey, 112));
    auto bottom = std::make_unique<CCtrlBar>();
    if (bottom->Create(*m_frame, CCtrlBar::Align::Bottom, {0, 0, 0, height}, kBottomPaneId)) {
      auto view = std::make_unique<CBottomView>();
      view->m_pRegCom = m_app.m_pRegCom;
      if (view->create(bottom->GetSafeHwnd(), 0xE9FF)) {
        m_pBottomView = view.get();
        m_bottomView = std::move(view);
      }
      m_pBottomPane = std::move(bottom);
    }
  }
  if (m_pTopPane && !m_app.m_bKeyDisplay) {
    m_pTopPane->Destroy();
    m_pTopPane.reset();
    m_topView.reset();
    m_pTopView = nullptr;
  } else if (!m_pTopPane && m_app.m_bKeyDisplay && m_fnMakeTopView) {
    const int32_t height = static_cast<int32_t>(profile().getInt(reg::kSettingsSection, "Top Height", 112));
    auto top = std::make_unique<CCtrlBar>();
    if (top->Create(*m_frame, CCtrlBar::Align::Top, {0, 0, 0, height}, kTopPaneId)) {
      std::unique_ptr<ui::View> view = m_fnMakeTopView();
      if (view && view->create(top->GetSafeHwnd(), 0xE9FD)) {
        view->onInitialUpdate();
        m_pTopView = view.get();
        m_topView = std::move(view);
      }
      m_pTopPane = std::move(top);
    }
  }
  int32_t count = 0, amount = 0;
  std::string message;
  if (frame->OpenSale(&count, &amount, &message)) {
    if (m_app.m_bRollbackView && frame->ViewMode() == 5) {
      count = -count;
      amount = -amount;
    }
    SetBottomTotals(count, amount, message);
  }
}

void CMainFrame::SetBottomTotals(int32_t count, int32_t amount, const std::string& caption) {
  CModeFrameInfo* frame = ActiveModeFrame();
  if (!frame) return;
  if (frame->RegisterViewFlag() && !m_pBottomView) RebuildModeLayout(126);
  UpdateBottomTotals(count, amount, caption);
}

void CMainFrame::UpdateBottomTotals(int32_t count, int32_t amount, const std::string& caption) {
  if (!m_pBottomView) return;
  m_pBottomView->m_nItemCount = count;
  m_pBottomView->m_nSubtotal = amount;
  m_pBottomView->m_strMessage = caption;
  if (m_pBottomView->handle()) {
    m_pBottomView->invalidate();
    m_pBottomView->updateNow();
  }
}

// The date field's update: keeps the field on the frame's date and chooses
// the bar for the active mode frame.
void CMainFrame::UpdateDateField(ui::CommandState& s) {
  CModeFrameInfo* frame = ActiveModeFrame();
  if (!s.control) {
    s.enabled = false;
    m_hDateField = nullptr;
    return;
  }
  if (s.control != m_hDateField) {
    m_hDateField = s.control;
    SetBarFont(s.control, m_app.m_bBigDialog ? 2 : 1);
    ui::setPickerFormat(s.control, "yyy'年'MM'月'dd'日 'ddd'曜日'");
    ui::Date date;
    if (frame) {
      date = frame->FrameDate();
    } else {
      const platform::LocalTime now = platform::localTime();
      date = {now.year, now.month, now.day};
    }
    ui::setPickerDate(s.control, date);
  } else if (frame) {
    const ui::Date shown = ui::pickerDate(s.control);
    const ui::Date own = frame->FrameDate();
    if (shown.year != own.year || shown.month != own.month || shown.day != own.day) {
      // Only the receipt reading of a chosen day follows the field.
      if (frame->ViewMode() == 38) frame->SetFrameDate(shown);
      else ui::setPickerDate(s.control, own);
    }
  }
  int32_t wanted = 0;
  if (!frame || !m_app.m_bManagerSelected) {
    s.enabled = false;
    if (m_nBarId != 120) wanted = 120;
  } else {
    s.enabled = true;
    const int32_t m = frame->ViewMode();
    const bool registerView = frame->RegisterViewFlag() != 0;
    if (m_nBarId != 128 && m >= 31 && m <= 46) wanted = 128;
    else if (m_nBarId != 124 && m >= 101 && m <= 116) wanted = 124;
    else if (m_nBarId != 126 && frame->ModalDialogFlag() && isRegisterMode(m)) wanted = 126;
    else if (m_nBarId == 122 && registerView != (m_pBottomPane != nullptr)) wanted = 122;
    else if (m_nBarId != 122 && !frame->ModalDialogFlag() && m < 31) wanted = 122;
  }
  if (wanted && wanted != m_nPendingBar) {
    m_nPendingBar = wanted;
    ui::postMessage(m_frame->handle(), kWmRebuildBars, static_cast<WPARAM>(wanted), 0);
  }
}

void CMainFrame::SelectBar() {
  m_frame->updateCommands();
  ui::processPendingMessages();
}

// ---- locks ------------------------------------------------------------------------

void CMainFrame::ShowModeFrames(bool show) {
  for (ui::ChildFrame* child : m_frame->childFrames()) {
    ui::showWindow(child->handle(), show);
    if (show) ui::updateWindow(child->handle());
  }
}

LRESULT CMainFrame::OnTenKeyPad() {
  HWND self = m_frame->handle();
  if (!m_app.m_bManagerSelected) {
    if (m_hAccountDlg || !m_app.m_pRegCom) return 1;
    ui::ChildFrame* front = m_frame->activeChild();
    m_hLockedFrame = front ? front->handle() : nullptr;
    ShowModeFrames(false);
    ui::enableWindow(self, false);
    HWND dialog = m_app.m_fnCreateAccountDialog ? m_app.m_fnCreateAccountDialog(self) : nullptr;
    if (!dialog && !m_app.m_fnCreateAccountDialog) {
      // Until the manager screens exist the lock shows the sign-on notice.
      // A window of its own (not inside the disabled frame).
      dialog = ui::createDialog(105, nullptr, [](HWND, uint32_t, WPARAM, LPARAM) -> LRESULT { return 0; });
    }
    if (dialog) {
      // The dialog is a window of its own: put it in the middle of the
      // locked register and above it, where the clerk looks.
      const ui::Rect outer = ui::windowRect(self), own = ui::windowRect(dialog);
      const int32_t left = outer.left + std::max(0, (outer.width() - own.width()) / 2);
      const int32_t top = outer.top + std::max(0, (outer.height() - own.height()) / 2);
      ui::moveWindow(dialog, {left, top, left + own.width(), top + own.height()});
      ui::bringToFront(dialog);
    }
    m_hAccountDlg = dialog;
    m_app.m_hAccountDlg = dialog;
    if (dialog && m_app.m_bTenKey) OpenSignOnPad(dialog);
    m_app.m_strSaText.clear();
    m_nDeviceStatus |= 0x80;
    return 1;
  }
  if (!m_hAccountDlg) return 1;
  ui::enableWindow(self, true);
  if (m_app.m_hTenKeyDlg && ui::isWindow(m_app.m_hTenKeyDlg)) ui::destroyWindow(m_app.m_hTenKeyDlg);
  m_app.m_hTenKeyDlg = nullptr;
  if (ui::isWindow(m_hAccountDlg)) ui::destroyWindow(m_hAccountDlg);
  m_hAccountDlg = nullptr;
  m_app.m_hAccountDlg = nullptr;
  ShowModeFrames(true);
  // Hiding the screens handed the front and the keyboard to another one: the
  // clerk comes back to the screen left, with its keys.
  for (ui::ChildFrame* child : m_frame->childFrames())
    if (child->handle() == m_hLockedFrame) child->activate();
  m_hLockedFrame = nullptr;
  if (ui::ChildFrame* child = m_frame->activeChild(); child && child->activeView()) child->activeView()->setFocus();
  return 1;
}

// A touch screen has no keyboard to type the PIN with: the pad stands beside
// the sign-on dialog and types into its PIN field (its ▲▼ move the names).
void CMainFrame::OpenSignOnPad(HWND dialog) {
  if (m_app.m_hTenKeyDlg && ui::isWindow(m_app.m_hTenKeyDlg)) ui::destroyWindow(m_app.m_hTenKeyDlg);
  m_app.m_hTenKeyDlg = reg::CTenKeyDlg::Create(dialog, dialog, reg::CTenKeyDlg::kDialog, IDC_MANAGER_PIN,
                                               IDC_MANAGER_NAME);
  if (!m_app.m_hTenKeyDlg) return;
  const ui::Rect beside = ui::windowRect(dialog), pad = ui::windowRect(m_app.m_hTenKeyDlg);
  const int32_t left = beside.right + 12;
  ui::moveWindow(m_app.m_hTenKeyDlg, {left, beside.top, left + pad.width(), beside.top + pad.height()});
  ui::showWindow(m_app.m_hTenKeyDlg, true);
  if (HWND entry = ui::dialogItem(dialog, IDC_MANAGER_PIN)) ui::setFocus(entry);
}

void CMainFrame::OnTimer(uint32_t id) {
  switch (id) {
    case kTimerIdle: {
      // The commit's files stay open only while sales follow one another.
      if (m_app.m_pRegCom) m_app.m_pRegCom->ReleaseIdleHolds();
      CModeFrameInfo* frame = ActiveModeFrame();
      if (!m_app.m_bManagerSelected || m_app.m_bCasNoTimeout || !ui::isWindowEnabled(m_frame->handle()) ||
          m_bDialogOpen || (frame && frame->ModalDialogFlag()))
        return;
      const uint32_t count = ZemtaGetCaptureCount();
      if (count != m_nLastCapture) {
        m_nLastCapture = count;
        m_nIdleTicks = 0;
        return;
      }
      ++m_nIdleTicks;
      const uint32_t limit = !frame || isRegisterMode(frame->ViewMode()) ? kIdleLimitRegister : kIdleLimitOther;
      if (m_nIdleTicks <= limit) return;
      if (m_bMinimized || ui::isMinimized(m_frame->handle())) {
        --m_nIdleTicks;  // waits at the limit while minimised
        return;
      }
      m_app.m_bManagerSelected = 0;
      m_nIdleTicks = 0;
      OnTenKeyPad();
      return;
    }
    case kTimerAck:
    case kTimerNak:
    case kTimerEot:
      m_jet.OnTimer(id);
      return;
    default:
      for (CSerial* port : {m_app.m_pSerialSA, m_app.m_pSerialJET, m_app.m_pSerialCD})
        if (port && port->TimerProc(id)) return;
      return;
  }
}

// ---- keys of the SA device --------------------------------------------------------

int32_t CMainFrame::SimulateKeyStroke(int32_t position, int32_t character) {
  reg::CRegCom* engine = m_app.m_pRegCom;
  uint16_t kw = 0;
  uint8_t layout[8] = {};
  bool found = true;
  static const struct {
    int32_t position;
    char digit;
  } kDigits[] = {{114, '0'}, {115, '0'}, {214, '1'}, {215, '2'}, {216, '3'}, {314, '4'},
                 {315, '5'}, {316, '6'}, {414, '7'}, {415, '8'}, {416, '9'}};
  if (position == 0 && character != 255) {
    kw = static_cast<uint16_t>(character & 0xFF);
  } else if (position == 0) {
    uint16_t code = 0x4042;
    found = engine && engine->FindKeyByCode(code, layout) >= 0;
    kw = static_cast<uint16_t>(layout[4] | (layout[5] << 8));
  } else {
    bool digit = false;
    for (const auto& d : kDigits)
      if (d.position == position) {
        kw = static_cast<uint16_t>(d.digit);
        digit = true;
      }
    if (!digit) {
      found = engine && engine->GetKeyByPosition(static_cast<uint16_t>(position), layout) >= 0;
      kw = static_cast<uint16_t>(layout[4] | (layout[5] << 8));
    }
  }
  if (!found || kw == 0) {
    ui::messageBeep();
    return 0;
  }
  uint32_t vk = 0;
  if (kw & 0x1000) {
    vk = kw & 0xFF;
  } else {
    int32_t shift = 0;
    vk = ZemtaCharToVKey(kw & 0xFF, &shift);
    if (shift) kw |= 0x2000;
    else kw &= static_cast<uint16_t>(~0x2000);
  }
  // The key goes to this register's own window: the focus when it lies in
  // the main frame (or one of its dialogs), else the active view, else the
  // frame. A window of another program never receives it.
  HWND self = m_frame->handle();
  HWND target = ui::focusWindow();
  if (!target || (target != self && !ui::isChildWindow(self, target) &&
                  !(m_hAccountDlg && (target == m_hAccountDlg || ui::isChildWindow(m_hAccountDlg, target))))) {
    ui::ChildFrame* child = m_frame->activeChild();
    target = child && child->activeView() ? child->activeView()->handle() : self;
  }
  const bool shift = kw & 0x2000, alt = kw & 0x4000, ctrl = kw & 0x8000;
  ui::sendKeyInput(target, vk, true, shift, ctrl, alt);
  ui::sendKeyInput(target, vk, false, shift, ctrl, alt);
  return 1;
}

int32_t CMainFrame::SimulateKeyStrokeAt(int32_t position) {
  const int32_t done = SimulateKeyStroke(position, 0);
  if (done) m_nIdleTicks = 0;
  return done;
}

int32_t CMainFrame::SimulateKeyStrokeChar(int32_t character) {
  if (!((character >= '0' && character <= '9') || character == 255)) return 0;
  const int32_t done = SimulateKeyStroke(0, character);
  if (done) m_nIdleTicks = 0;
  return done;
}

}  // namespace varnex::shell
