// CChildFrame: the one frame class of every view mode, a child frame of the
// main frame. It holds its view mode number from its creation, hosts the
// mode's view (menu screens, the black OFF view, the register view), is
// always maximised, turns system keys into plain keys for the sales modes,
// answers the programming commands and the CSV commands of the department,
// PLU and customer files, the project's change notification, and decides
// whether it may close.
//
// Programming files are record views of the record-view library placed in
// the frame. While the picker that F11 opens from the department file is up,
// every programming command of the frame is disabled.
#pragma once

#include <cstdint>
#include <string>

#include "app/shell/frames/main_frame.h"
#include "platform/ui/frame.h"
#include "zemta/fileproj.h"

namespace varnex::reg {
class CRegView;
}

namespace varnex::shell {

class CModeScreens;
class CDptFrm;

// Commands of the programming menu and bar (menu and accelerators 124).
enum ProgramCommand : uint32_t {
  kCmdProgSave = 1401, kCmdProgEdit = 1402, kCmdProgFilter = 1403, kCmdProgSaveNew = 1404,
  kCmdProgList = 1405, kCmdProgPrevPage = 1406, kCmdProgNextPage = 1407, kCmdProgGoto = 1408,
  kCmdProgPrint = 1409, kCmdProgClose = 1410, kCmdProgPicker = 1411,
  kCmdEditCut = 57635, kCmdEditCopy = 57634, kCmdEditPaste = 57637, kCmdEditUndo = 57643, kCmdEditFind = 57636,
  kCmdListSelect = 32773, kCmdRecordFirst = 59648, kCmdRecordPrevious = 59651, kCmdRecordNext = 59650,
  kCmdRecordLast = 59649, kCmdRecordAppend = 32775, kCmdCsvExport = 32815, kCmdCsvImport = 32816,
  kCmdFrameClose = 57602,
};

class CChildFrame : public platform::ui::ChildFrame, public CModeFrameInfo {
 public:
  CChildFrame(CModeScreens& screens, int32_t mode, const std::string& title);
  ~CChildFrame() override;

  // Makes the mode's view: false when it could not be made.
  bool CreateModeView();
  reg::CRegView* RegView() const;

  // ---- CModeFrameInfo ----
  int32_t ViewMode() const override { return m_nViewMode; }
  int32_t ModalDialogFlag() const override;
  int32_t RegisterViewFlag() const override { return m_bRegisterView; }
  platform::ui::Date FrameDate() const override { return m_FrameDate; }
  void SetFrameDate(const platform::ui::Date& date) override { m_FrameDate = date; }
  bool OpenSale(int32_t* count, int32_t* amount, std::string* message) const override;
  int32_t CashCountOpen() const override;

  // Saves the record view's current record (append: as a new record). The
  // project must be open and the manager allowed 設定 with programming level
  // 1 (update) or 2 (append); only then does the PLU file number its
  // in-store codes and the record go to the table. False when refused.
  bool SaveRecord(bool append);
  // Opens the mode's programming file as a record view of the library in
  // the frame; false when it cannot be opened.
  bool OpenLibraryView(FileProjHandle project);

  // The project's change notification (event, block): always 0.
  LRESULT OnRefExtern(WPARAM event, LPARAM block);
  // The key code a transaction-key row shows: the row's record number (the
  // table's record count for a row not stored yet) plus the table's first
  // code. -1 for another table.
  static int32_t TransKeyCodeOfRow(int32_t table, int32_t record, int32_t count);
  // Whether a department's "一覧選択" cell, as the form shows it, offers the
  // department in the picker.
  static bool ListSelectShown(const std::string& text);

  // Opens the picker over the current department in display-order mode (F11
  // of the department file); the picker is linked to this frame until it
  // closes. False when nothing was opened.
  bool OpenOrderPicker();
  // The picker, when it goes, drops its link.
  void PickerClosed(CDptFrm* picker);

  int32_t m_bModalDialog = 0;
  CDptFrm* m_pDptFrame = nullptr;  // the picker opened from this frame
  uintptr_t m_hLibraryView = 0;  // the record view of a programming file

 protected:
  bool onClose() override;
  // Frames are always shown maximised, however they are brought forward.
  // The totals pane belongs to the main frame, which makes and drops it as
  // modes change: an inactive register view holds none.
  void onActivate(bool active) override;

 private:
  void MapCommands();
  void MapRecordMoves();
  void MapViewCommands();
  uint32_t LibraryView() const { return static_cast<uint32_t>(m_hLibraryView); }
  void ExportCsv();
  void ImportCsv();
  // The cell of a table's field in the record view (-1: none), and the text
  // the current record shows in it (empty without the cell).
  int32_t FieldCell(const char* table, const char* field) const;
  std::string CurrentText(const char* table, const char* field) const;
  bool ProgramCommandEnabled() const { return m_hLibraryView != 0 && m_pDptFrame == nullptr; }

  CModeScreens& m_screens;
  int32_t m_nViewMode;
  int32_t m_bRegisterView = 0;
  platform::ui::Date m_FrameDate;
  reg::CRegView* m_pRegView = nullptr;
  platform::ui::WindowProc m_frameProc;
};

}  // namespace varnex::shell
