#include "app/shell/frames/child_frame.h"

#include <cstdlib>
#include <functional>
#include <memory>

#include "app/register/engine/reg_com.h"
#include "app/register/view/reg_view.h"
#include "app/shell/app/reg_app.h"
#include "app/shell/frames/dpt_view.h"
#include "app/shell/modes/menu_views.h"
#include "app/shell/modes/mode_screens.h"
#include "app/shell/modes/mode_table.h"
#include "app/shell/modes/prg_fkl_view.h"
#include "app/shell/modes/prg_odbc_view.h"
#include "platform/base/clock.h"
#include "platform/base/message_box.h"
#include "platform/ui/common_dialogs.h"
#include "platform/ui/window.h"
#include "zemta/fileproj.h"
#include "zemta/fileproj_resource.h"
#include "zemta/view.h"

namespace varnex::shell {

namespace ui = platform::ui;

namespace {

// What the department form's "一覧選択" cell shows for a department offered in
// the picker.
const char kListSelectOn[] = " ＯＮ ";

bool CsvMode(int32_t mode) { return mode == 103 || mode == 104 || mode == 116; }

// The window in the frame's client area that the record view of a
// programming file lives in: it hands its size and focus to the view.
class CLibraryViewHost : public ui::View {
 public:
  explicit CLibraryViewHost(const uintptr_t& view) : m_view(view) {}
  void onSize(int32_t width, int32_t height) override {
    if (m_view) ViewSize(static_cast<ViewHandle>(m_view), 0, width, height);
  }
  void onSetFocus() override {
    if (m_view) ViewSetFocus(static_cast<ViewHandle>(m_view));
  }

 private:
  const uintptr_t& m_view;
};

ui::FileDialogRequest CsvRequest(ui::FileDialogKind kind) {
  ui::FileDialogRequest request;
  request.kind = kind;
  request.filters = {{"Text Files (*.csv;*.txt)", "*.csv;*.txt"}, {"All Files (*.*)", "*.*"}};
  request.defaultExtension = "csv";
  return request;
}

}  // namespace

CChildFrame::CChildFrame(CModeScreens& screens, int32_t mode, const std::string& title)
    : ui::ChildFrame(screens.App().m_pMainFrame->Frame(), title, "CChildFrame"),
      m_screens(screens),
      m_nViewMode(mode) {
  const platform::LocalTime now = platform::localTime();
  m_FrameDate = {now.year, now.month, now.day};
  MapCommands();
  // The project's change notification comes to the frame's window.
  m_frameProc = ui::setWindowProc(handle(), [this](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (g_nMsgRefExt != 0 && m == g_nMsgRefExt) return OnRefExtern(wp, lp);
    return m_frameProc ? m_frameProc(h, m, wp, lp) : ui::defaultWindowProc(h, m, wp, lp);
  });
}

CChildFrame::~CChildFrame() {
  // A picker that outlives its frame keeps no link to it.
  if (m_pDptFrame) m_pDptFrame->SetOwningFrame(nullptr);
}

bool CChildFrame::CreateModeView() {
  CREGApp& app = m_screens.App();
  std::unique_ptr<ui::View> view;
  switch (m_nViewMode) {
    case 4: view = std::make_unique<CMenuView>(m_screens); break;
    case 6: view = std::make_unique<CBlankView>(); break;
    case 9: view = std::make_unique<CXMenuView>(m_screens); break;
    case 10: view = std::make_unique<CZMenuView>(m_screens); break;
    case 101: view = std::make_unique<CPrgFklView>(m_screens); break;
    case 114: {
      auto link = std::make_unique<CPrgOdbcView>(m_screens);
      if (!link->Create()) return false;
      view = std::move(link);
      break;
    }
    default:
      if (IsRegisterViewMode(m_nViewMode)) {
        auto reg = std::make_unique<reg::CRegView>(app.m_pRegCom, &app, m_nViewMode);
        reg::CRegView::Host host;
        host.setMenus = [this](int32_t id) { setHandles(id, id); };
        host.setStatusText = [&app](const std::string& text) {
          if (app.m_pMainFrame) app.m_pMainFrame->m_strStatusText = text;
        };
        host.frameDate = [this]() { return m_FrameDate; };
        host.resumeInMode = [this](int32_t mode, FileDBHandle file) {
          return m_screens.ResumeSaleInMode(mode, file);
        };
        host.closeFrame = [this]() { ui::postMessage(handle(), ui::kWmClose, 0, 0); };
        host.setTitle = [this, modeTitle = title()](const std::string& name) {
          setTitle(name.empty() ? modeTitle : name);
        };
        // The SA device of the main frame takes the view's requests.
        host.raiseDeviceRequest = [&app](uint32_t bits) {
          if (app.m_pMainFrame) app.m_pMainFrame->RaiseSaRequest(bits);
        };
        // Payments run the main frame's dialogs over its card terminal and
        // the payment service; without a main frame nothing is paid.
        host.runCardPayment = [&app](int32_t business, int32_t kind, int32_t receipt, int32_t amount) {
          return app.m_pMainFrame && app.m_pMainFrame->RunCardPayment(business, kind, receipt, amount) == 1;
        };
        host.runCodePayment = [&app](int32_t kind, uint32_t receipt, int32_t amount, int32_t tenderNumber) {
          return app.m_pMainFrame && app.m_pMainFrame->RunCodePayment(kind, receipt, amount, tenderNumber) == 1;
        };
        reg->SetHost(std::move(host));
        m_pRegView = reg.get();
        view = std::move(reg);
      }
      break;
  }
  // The programming files get their views from the record-view library.
  if (!view) return true;
  ui::View* made = setView(std::move(view));
  if (!made) {
    m_pRegView = nullptr;
    return false;
  }
  made->onInitialUpdate();
  if (m_pRegView) {
    m_bRegisterView = 1;
    if (IsSaleMode(m_nViewMode)) {
      // Alt combinations and F10 are register keys here, not the menu bar's:
      // system-key messages reach the sales view as plain key messages.
      ui::WindowProc viewProc = ui::setWindowProc(made->handle(), nullptr);
      ui::setWindowProc(made->handle(), [viewProc](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
        switch (m) {
          case ui::kWmSysKeyDown: m = ui::kWmKeyDown; break;
          case ui::kWmSysKeyUp: m = ui::kWmKeyUp; break;
          case ui::kWmSysChar: m = ui::kWmChar; break;
          default: break;
        }
        return viewProc ? viewProc(h, m, wp, lp) : ui::defaultWindowProc(h, m, wp, lp);
      });
      // A sale the last run left open is offered again, to one screen only,
      // and taken up in the frame of its own mode.
      if (FileDBHandle handed = m_screens.TakePendingResume(m_nViewMode)) {
        m_pRegView->TakeOverSale(handed);
      } else {
        bool taken = false;
        for (ui::ChildFrame* child : mainFrame().childFrames())
          if (auto* other = dynamic_cast<CChildFrame*>(child); other && other != this && other->RegView())
            taken = taken || other->RegView()->Sale().SaleOpen();
        if (!taken) m_pRegView->ResumeInterruptedSale();
      }
    }
  }
  made->setFocus();
  return true;
}

reg::CRegView* CChildFrame::RegView() const { return m_pRegView; }

int32_t CChildFrame::CashCountOpen() const { return m_pRegView && m_pRegView->Sale().CashCountOpen() ? 1 : 0; }

int32_t CChildFrame::ModalDialogFlag() const {
  if (m_bModalDialog) return 1;
  return m_pRegView && m_pRegView->Sale().SaleOpen() ? 1 : 0;
}

void CChildFrame::onActivate(bool active) {
  if (active)
    showMaximized();
  else if (m_pRegView)
    m_pRegView->SetBottomView(nullptr);
}

bool CChildFrame::OpenSale(int32_t* count, int32_t* amount, std::string* message) const {
  // The main frame asks while it keeps the totals pane of the active frame:
  // the view writes to the pane that exists now.
  if (m_pRegView) {
    CREGApp& app = m_screens.App();
    m_pRegView->SetBottomView(app.m_pMainFrame && isActive() ? app.m_pMainFrame->BottomView() : nullptr);
  }
  if (!m_pRegView || !m_pRegView->Sale().SaleOpen()) return false;
  if (count) *count = m_pRegView->PaneItems();
  if (amount) *amount = m_pRegView->PaneAmount();
  if (message) *message = m_pRegView->PaneMessage();
  return true;
}

void CChildFrame::MapCommands() {
  MapRecordMoves();
  MapViewCommands();
  mapCommand(kCmdProgSave, [this](uint32_t) { SaveRecord(false); });
  mapCommand(kCmdProgSaveNew, [this](uint32_t) { SaveRecord(true); });
  mapUpdate(kCmdProgClose, [this](uint32_t, ui::CommandState& s) { s.enabled = m_pDptFrame == nullptr; });
  mapCommand(kCmdProgClose, [this](uint32_t) { ui::postMessage(handle(), ui::kWmClose, 0, 0); });
  mapCommand(kCmdFrameClose, [this](uint32_t) { ui::postMessage(handle(), ui::kWmClose, 0, 0); });
  mapUpdate(kCmdCsvExport, [this](uint32_t, ui::CommandState& s) { s.enabled = CsvMode(m_nViewMode); });
  mapUpdate(kCmdCsvImport, [this](uint32_t, ui::CommandState& s) { s.enabled = CsvMode(m_nViewMode); });
  mapCommand(kCmdCsvExport, [this](uint32_t) { ExportCsv(); });
  mapCommand(kCmdCsvImport, [this](uint32_t) { ImportCsv(); });
}

// The record moves of the programming menu, bar and keys: enabled while the
// view can make the move.
void CChildFrame::MapRecordMoves() {
  struct Move {
    uint32_t command;
    int32_t kind;
  };
  static const Move kMoves[] = {
      {kCmdRecordFirst, 1}, {kCmdRecordPrevious, 2}, {kCmdProgPrevPage, 2}, {kCmdRecordNext, 3},
      {kCmdProgNextPage, 3}, {kCmdRecordLast, 4},    {kCmdRecordAppend, 5},
  };
  for (const Move& m : kMoves) {
    const int32_t kind = m.kind;
    mapUpdate(m.command, [this, kind](uint32_t, ui::CommandState& s) {
      s.enabled = ProgramCommandEnabled() && ViewIsRecMove(LibraryView(), kind) != 0;
    });
    mapCommand(m.command, [this, kind](uint32_t) {
      if (ProgramCommandEnabled()) ViewRecMove(LibraryView(), kind);
    });
  }
  mapUpdate(kCmdProgGoto, [this](uint32_t, ui::CommandState& s) {
    s.enabled = ProgramCommandEnabled() && ViewIsEditRecPos(LibraryView()) != 0;
  });
  mapCommand(kCmdProgGoto, [this](uint32_t) {
    if (ProgramCommandEnabled()) ViewEditRecPos(LibraryView());
  });
}

// Saving, the filter and list dialogs, the clipboard and undo of the record
// view, each enabled by what the view says it can do.
void CChildFrame::MapViewCommands() {
  auto rule = [this](uint32_t command, std::function<bool(ViewHandle)> can) {
    mapUpdate(command, [this, can](uint32_t, ui::CommandState& s) {
      s.enabled = ProgramCommandEnabled() && can(LibraryView());
    });
  };
  rule(kCmdProgSave, [](ViewHandle v) { return ViewIsModify(v, 1) != 0; });
  // F2 (入力): editing starts on the mode's key field.
  rule(kCmdProgEdit, [](ViewHandle v) { return ViewIsEdit(v) == 0; });
  mapCommand(kCmdProgEdit, [this](uint32_t) {
    static const struct {
      int32_t mode;
      const char* table;
      const char* field;
    } kKeyFields[] = {
        {102, "全体設定", "ｽﾄｱｰ/ﾏｼﾝ№"}, {103, "部門", "部門名"},     {104, "PLU", "商品名"},
        {105, "グループ", "グループ名"}, {106, "担当者", "名前"},    {107, "取引１", "取引名"},
        {108, "取引２", "取引名"},       {109, "取引３", "取引名"},   {110, "固定合計器", "合計器名"},
        {111, "全体設定", "ﾚｼｰﾄﾒｯｾｰｼﾞ"}, {112, "全体設定", "２段値札の設定"}, {113, "全体設定", "レポート種別1"},
        {115, "ODBCリンク", "受注売上コード"}, {116, "取引先", "コード"},
    };
    if (!ProgramCommandEnabled()) return;
    for (const auto& k : kKeyFields) {
      if (k.mode != m_nViewMode) continue;
      const int32_t cell = FieldCell(k.table, k.field);
      if (cell >= 0) ViewItemEdit(LibraryView(), static_cast<uint32_t>(cell), 0);
      return;
    }
  });
  // F9: the receipt message file prints its message.
  rule(kCmdProgPrint, [this](ViewHandle) { return m_nViewMode == 111; });
  mapCommand(kCmdProgPrint, [this](uint32_t) {
    if (ProgramCommandEnabled() && m_nViewMode == 111) m_screens.App().PrintSettingsFile(m_nViewMode);
  });
  // F11: the department file orders the PLU items of a department that the
  // picker offers.
  mapUpdate(kCmdProgPicker, [this](uint32_t, ui::CommandState& s) {
    s.enabled = ProgramCommandEnabled() && m_nViewMode == 103 && ListSelectShown(CurrentText("部門", "一覧選択"));
    if (m_nViewMode == 103) {
      s.hasText = true;
      s.text = kProgPickerCaption;
    }
  });
  mapCommand(kCmdProgPicker, [this](uint32_t) { OpenOrderPicker(); });
  rule(kCmdProgSaveNew, [](ViewHandle v) { return ViewIsRecMove(v, 5) != 0; });
  for (uint32_t c : {kCmdProgFilter, kCmdEditFind}) {
    rule(c, [](ViewHandle v) { return ViewFileIsFilterVisible(v) != 0; });
    mapCommand(c, [this](uint32_t) {
      if (ProgramCommandEnabled()) ViewFileSetFilterDlg(LibraryView(), ViewFileGetFdbID(LibraryView()), handle());
    });
  }
  for (uint32_t c : {kCmdProgList, kCmdListSelect}) {
    rule(c, [this](ViewHandle v) {
      reg::CRegCom* engine = m_screens.App().m_pRegCom;
      return ViewFileGetSelCount(v, nullptr) > 1 && engine &&
             FileProjGetResourceAtr(engine->Project(), 1000 + m_nViewMode) == 0;
    });
    mapCommand(c, [this](uint32_t) {
      if (!ProgramCommandEnabled()) return;
      m_bModalDialog = 1;
      ViewFileRecSelDlg(LibraryView(), ViewFileGetFdbID(LibraryView()), handle(), nullptr);
      m_bModalDialog = 0;
    });
  }
  rule(kCmdEditCut, [](ViewHandle v) { return ViewEditIsSelect(v) != 0; });
  rule(kCmdEditCopy, [](ViewHandle v) { return ViewEditIsSelect(v) != 0; });
  rule(kCmdEditPaste, [](ViewHandle v) { return ViewIsClipboardText(v) != 0; });
  rule(kCmdEditUndo, [](ViewHandle v) { return ViewEditIsModify(v) != 0; });
  mapCommand(kCmdEditCut, [this](uint32_t) { ViewEditCutClipboardText(LibraryView()); });
  mapCommand(kCmdEditCopy, [this](uint32_t) { ViewEditCopyClipboardText(LibraryView()); });
  mapCommand(kCmdEditPaste, [this](uint32_t) { ViewEditPasteClipboardText(LibraryView()); });
  mapCommand(kCmdEditUndo, [this](uint32_t) { ViewEditUndo(LibraryView()); });
}

bool CChildFrame::OpenLibraryView(FileProjHandle project) {
  ui::View* host = setView(std::make_unique<CLibraryViewHost>(m_hLibraryView));
  if (!host) return false;
  // The department, PLU and group files leave out record 0 (the grand total
  // of the file): they show what the record-number order holds from 1 on.
  const bool fromOne = m_nViewMode == 103 || m_nViewMode == 104 || m_nViewMode == 105;
  const uint32_t low = 1, high = 0xFFFFFFFFu;
  const ViewHandle view = ViewResourceOpen(project, m_nViewMode, host->handle(), nullptr, fromOne ? 0x270F : -1,
                                           fromOne ? &low : nullptr, fromOne ? &high : nullptr);
  if (!view) return false;
  m_hLibraryView = view;
  const ui::Rect client = host->clientRect();
  ViewSize(view, 0, client.width(), client.height());
  char title[256] = {};
  if (ViewGetTitle(view, title, 255) == 0) setTitle(title);
  host->setFocus();
  return true;
}

int32_t CChildFrame::FieldCell(const char* table, const char* field) const {
  reg::CRegCom* engine = m_screens.App().m_pRegCom;
  if (!m_hLibraryView || !engine) return -1;
  FileProjTypeInfo info{};
  const int32_t id = FileProjGetType(engine->Project(), 0, table, 0, field, &info, nullptr, 1);
  if (id == 0) return -1;
  const uint16_t key[4] = {info.offset, info.size, info.fieldWord, info.typeCode};
  return ViewItemGetID(LibraryView(), id, key);
}

std::string CChildFrame::CurrentText(const char* table, const char* field) const {
  const int32_t cell = FieldCell(table, field);
  char text[256] = {};
  if (cell < 0 || ViewItemGetText(LibraryView(), static_cast<uint32_t>(cell), text, sizeof text, -1) < 0) return {};
  return text;
}

bool CChildFrame::ListSelectShown(const std::string& text) { return text == kListSelectOn; }

bool CChildFrame::OpenOrderPicker() {
  CREGApp& app = m_screens.App();
  if (!ProgramCommandEnabled() || m_nViewMode != 103 || !app.m_pMainFrame) return false;
  if (!ListSelectShown(CurrentText("部門", "一覧選択"))) return false;
  const int32_t number = std::atoi(CurrentText("部門", "部門番号").c_str());
  CDptFrm* picker = app.m_pMainFrame->OpenDptFrame(number, 1, nullptr);
  if (!picker) return false;
  picker->SetOwningFrame(this);
  m_pDptFrame = picker;
  return true;
}

void CChildFrame::PickerClosed(CDptFrm* picker) {
  if (m_pDptFrame == picker) m_pDptFrame = nullptr;
}

void CChildFrame::ExportCsv() {
  reg::CRegCom* engine = m_screens.App().m_pRegCom;
  std::string path;
  if (!engine || !CsvMode(m_nViewMode) || !ui::saveFileDialog(handle(), CsvRequest(ui::FileDialogKind::Save), path))
    return;
  if (m_nViewMode == 103)
    engine->ExportDepartmentsCsv(path.c_str());
  else if (m_nViewMode == 104)
    engine->ExportPluCsv(path.c_str());
  else
    engine->ExportCustomersCsv(path.c_str());
}

void CChildFrame::ImportCsv() {
  reg::CRegCom* engine = m_screens.App().m_pRegCom;
  std::string path;
  if (!engine || !CsvMode(m_nViewMode) || !ui::openFileDialog(handle(), CsvRequest(ui::FileDialogKind::Open), path))
    return;
  // The engine shows its own messages; the import's result is its own.
  if (m_nViewMode == 103)
    engine->ImportDepartmentsCsv(path.c_str());
  else if (m_nViewMode == 104)
    engine->ImportPluCsv(path.c_str());
  else
    engine->ImportCustomersCsv(path.c_str());
}

bool CChildFrame::SaveRecord(bool append) {
  CREGApp& app = m_screens.App();
  // A new record is saved as one, with the rights of adding.
  if (!append && m_hLibraryView && ViewFileIsAppend(LibraryView())) append = true;
  reg::CRegCom* engine = app.m_pRegCom;
  if (!engine) return false;
  if (!engine->IsOpen()) {
    engine->ReportError("CRegCom", 0x200000FFu);
    return false;
  }
  // The rights come first: a manager who may not save changes nothing, not
  // even the PLU record's in-store code.
  if (!engine->CheckPermission(reg::kModeProgram, append ? reg::kSaveAppend : reg::kSaveUpdate)) return false;
  if (!m_hLibraryView) return false;
  // The view shows its own failures; a new record (the row after the last)
  // is stored as one, and the view goes back to where it stood.
  if (ViewFileSave(LibraryView(), 1) != 0) return false;
  // The general settings and tax rates follow their file at once.
  if (m_nViewMode == 102) app.LoadGeneralSettings();
  return true;
}

int32_t CChildFrame::TransKeyCodeOfRow(int32_t table, int32_t record, int32_t count) {
  int32_t base;
  switch (table) {
    case reg::kTrans1Table: base = reg::transkey::kTrans1Base; break;
    case reg::kTrans2Table: base = reg::transkey::kTrans2Base; break;
    case reg::kTrans3Table: base = reg::transkey::kTrans3Base; break;
    default: return -1;
  }
  return (record == -1 ? count : record) + base;
}

LRESULT CChildFrame::OnRefExtern(WPARAM event, LPARAM block) {
  (void)event;
  // Notifications are for the record view of a programming file (a row
  // read, a referenced field changed); a frame without one has nothing to
  // show them in.
  if (block == 0 || m_hLibraryView == 0) return 0;
  return 0;
}

bool CChildFrame::onClose() {
  // A programming file asks the view about unsaved changes.
  if (m_hLibraryView) return ViewIsClose(LibraryView()) != 0;
  // A programming screen with changes asks before they are lost.
  if (auto* screen = dynamic_cast<CProgramScreen*>(activeView())) {
    if (!screen->QueryClose()) return false;
    screen->Closing();
    return true;
  }
  if (!m_pRegView || !IsSaleMode(m_nViewMode)) return true;
  reg::CRegSale& sale = m_pRegView->Sale();
  if (sale.SaleOpen() && sale.LineCount() != 0) {
    reg::CRegCom* engine = m_screens.App().m_pRegCom;
    const uint8_t level = engine ? engine->Manager()[reg::clerk::kConfirmLevel.offset] : 0;
    if (level < 2) {
      std::string text;
      if (!ui::loadString(204, text)) text = "閉じると変更が失われます。実行しますか？";
      uint32_t style = platform::kMbOkCancel | platform::kMbIconWarning;
      if (level == 0) style |= platform::kMbDefButton2;
      if (ui::messageBox(handle(), text, "", style) != platform::kIdOk) return false;
    }
  }
  // The open sale keeps its temporary file when the view goes: the next
  // registration screen offers it again, so no sale is lost by a close.
  return true;
}

}  // namespace varnex::shell
