// The ODBC link screen (see prg_odbc_view.h).
#include "app/shell/modes/prg_odbc_view.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "app/register/engine/reg_com.h"
#include "app/register/engine/records.h"
#include "app/shell/app/reg_app.h"
#include "app/shell/frames/child_frame.h"
#include "app/shell/modes/menu_views.h"
#include "app/shell/modes/mode_screens.h"
#include "platform/base/message_box.h"
#include "platform/base/odbc.h"
#include "platform/ui/dialog.h"
#include "platform/ui/resources.h"
#include "platform/ui/window.h"
#include "zemta/filedb.h"
#include "zemta/typed.h"

namespace varnex::shell {

namespace ui = platform::ui;
namespace ol = reg::odbclink;

namespace {

constexpr uint32_t kShortHeader = 0x20000005u;
constexpr int16_t kNoColumn = 99;
constexpr int32_t kKinds = 5;
const char* const kKindNames[kKinds] = {"取引先", "商品", "受注", "単品収集", "精算"};
constexpr uint32_t kKindCodes[kKinds] = {ol::kCustomers, ol::kPlu, ol::kOrders, ol::kSalesLines, ol::kSettlement};

bool SameNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// A listed table is the stored one, also when the catalog names it with its
// schema ("public.plu") and the link without.
bool SameTable(const std::string& listed, const std::string& stored) {
  const size_t dot = listed.rfind('.');
  return SameNoCase(listed, stored) || (dot != std::string::npos && SameNoCase(listed.substr(dot + 1), stored));
}

std::string Trim(const std::string& s) {
  std::string out = s.substr(0, s.find('\0'));
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// The locator of a link record: offset + bit number x 65536.
uint32_t LocatorOf(const uint8_t* record) {
  const uint32_t offset = reg::getU16(record, ol::kFieldOffset.offset) & 0x7FFF;
  const uint32_t bit = reg::getU16(record, ol::kFieldWord.offset) & 0xFF;
  return bit * 65536u + offset;
}

// The SQL type text of the register field a link record describes.
std::string ProgramTypeText(const uint8_t* record) {
  ItemValue item{};
  item.offset = reg::getU16(record, ol::kFieldOffset.offset);
  item.size = reg::getU16(record, ol::kFieldSize.offset);
  item.position = reg::getU16(record, ol::kFieldWord.offset);
  item.type = reg::getU16(record, ol::kItemType.offset);
  int16_t type = 0;
  char name[16] = {};
  int32_t size = 0;
  ItemConvSqlType(&item, &type, name, &size);
  return std::string(name, strnlen(name, sizeof name));
}

std::string TypeName(int16_t sqlType) {
  if (sqlType == 0 || sqlType == kNoColumn) return {};
  ItemTypeInfoRow row{};
  if (ItemGetTypeInfo(&row, sqlType, 0) == 0 && row.typeName[0] == 0) return {};
  return std::string(row.typeName, strnlen(row.typeName, sizeof row.typeName));
}

// The records of a kind, in record order.
std::vector<int32_t> RecordsOfKind(FileDBHandle link, uint32_t kind) {
  std::vector<int32_t> out;
  const int32_t count = FileDBRecGetSize(link);
  uint8_t record[80];
  for (int32_t n = 0; n < count; ++n) {
    if (FileDBRecRead(link, n, record) != 0) break;
    if (reg::getU32(record, ol::kKind.offset) == kind) out.push_back(n);
  }
  return out;
}

}  // namespace

const std::vector<LinkField>& LinkFieldTable() {
  static const std::vector<LinkField> table = [] {
    std::vector<LinkField> t;
    auto add = [&](uint32_t kind, std::initializer_list<std::pair<const char*, uint32_t>> fields) {
      for (const auto& [name, locator] : fields) t.push_back({kind, name, locator});
    };
    constexpr uint32_t bit = 65536;
    add(ol::kCustomers, {{"コード（主キー）", 0}, {"取引先名", 32}, {"キーワード１", 64}, {"キーワード２", 96},
                         {"キーワード３", 128}, {"ポイント倍率", 168}, {"ポイント残高", 172}});
    add(ol::kPlu, {{"商品名（画面）", 0}, {"商品名（印刷）", 24}, {"コード（主キー）", 36}, {"部門リンク", 50},
                   {"入力桁制限", 52}, {"ポイント対象指定", 4 * bit + 52}, {"戻取引禁止指定", 5 * bit + 52},
                   {"登録１禁止指定", 6 * bit + 52}, {"登録２禁止指定", 7 * bit + 52},
                   {"売価変更禁止指定", 8 * bit + 52}, {"内税指定", 9 * bit + 52},
                   {"消費税非課税指定", 10 * bit + 52}, {"特地税非課税指定", 11 * bit + 52},
                   {"税率選択", 12 * bit + 52}, {"端数処理", 14 * bit + 52}, {"部門一覧表示順番", 54},
                   {"販売単価", 60}, {"売上個数合計", 64}, {"売上金額合計", 68}, {"仕入金額合計", 72},
                   {"粗利計算対象売上金額合計", 76}, {"仕入単価", 84}, {"販売単位個数", 92},
                   {"基準在庫個数", 96}, {"在庫個数", 100}, {"適正在庫個数", 104}, {"最低受注個数", 108},
                   {"受注個数", 112}, {"標準入荷日数", 116}, {"受注単位個数", 120}, {"在庫数異常発生", 124},
                   {"在庫数不足状態", 138}});
    add(ol::kOrders, {{"受注番号（主キー）", 0}, {"受注者番号", 4}, {"状況", 8}, {"受注日付", 12},
                      {"受注先コード", 28}, {"商品コード", 42}, {"商品名（画面）", 56}, {"商品名（印刷）", 80},
                      {"受注個数", 92}, {"販売単価", 96}, {"仕入単価", 104}, {"希望納期", 112},
                      {"部門リンク", 128}, {"文字型受注番号（主キー）", 140}});
    add(ol::kSalesLines, {{"取引日時", 0}, {"ストアＩＤ", 32}, {"担当者番号", 36}, {"部門番号", 38},
                          {"取引先コード", 40}, {"商品名", 72}, {"商品コード", 104}, {"商品サブコード", 118},
                          {"内税", 132}, {"消費税非課税", 133}, {"消費税免税", 134}, {"特別地方税非課税", 135},
                          {"売上個数", 136}, {"売上単価", 140}});
    add(ol::kSettlement, {{"精算日時", 0}, {"ストアＩＤ", 32}, {"担当者番号", 38}, {"純売上件数", 40},
                          {"純売上金額", 44}, {"総売上個数", 48}, {"総売上金額", 52}, {"入金", 56}, {"出金", 60},
                          {"現預", 64}, {"貸売", 68}, {"信売", 72}, {"券売", 76}, {"ポイント売", 80},
                          {"与ポイント", 84}, {"カード入金", 88}, {"コード売", 92}});
    return t;
  }();
  return table;
}

// ---- the data-source chooser -------------------------------------------------------

CDataSourceDlg::CDataSourceDlg(HWND parent, const std::string& connect) : Dialog(kTemplate, parent), connect_(connect) {
  mapNotify(IDC_SOURCE_LIST, ui::kLbnSelChange, [this]() {
    const int32_t row = ui::listSelection(item(IDC_SOURCE_LIST));
    if (row >= 0 && row < static_cast<int32_t>(choices_.size()))
      ui::setWindowText(item(IDC_SOURCE_TEXT), choices_[static_cast<size_t>(row)]);
  });
}

bool CDataSourceDlg::onInitDialog() {
  HWND list = item(IDC_SOURCE_LIST);
  for (const platform::odbc::DataSource& source : platform::odbc::dataSources()) {
    ui::addListItem(list, "データソース: " + source.name + (source.description.empty() ? "" : " (" + source.description + ")"));
    choices_.push_back("DSN=" + source.name + ";");
  }
  for (const std::string& driver : platform::odbc::drivers()) {
    ui::addListItem(list, "ドライバ: " + driver);
    choices_.push_back("DRIVER=" + driver + ";");
  }
  ui::setWindowText(item(IDC_SOURCE_TEXT), connect_);
  ui::setFocus(list);
  return false;
}

void CDataSourceDlg::onOK() {
  connect_ = ui::windowText(item(IDC_SOURCE_TEXT));
  if (connect_.empty()) {
    ui::messageBeep();
    return;
  }
  endDialog(1);
}

// ---- the view ----------------------------------------------------------------------

CPrgOdbcView::CPrgOdbcView(CModeScreens& screens) : m_screens(screens) {
  auto ticked = [this]() { return ui::buttonState(Control(IDC_ODBC_USE)) == 1; };
  mapCommand(kCmdProgSave, [this](uint32_t) { Save(); });
  mapUpdate(kCmdProgSave, [this](uint32_t, ui::CommandState& s) { s.enabled = m_bModified; });
  mapCommand(kCmdProgFilter, [this](uint32_t) {
    if (!DiscardCheck()) return;
    m_bQuiet = true;
    ui::setListSelection(Control(IDC_ODBC_KIND), (m_nListedKind + 1) % kKinds);
    m_bQuiet = false;
    FillList();
  });
  mapUpdate(kCmdProgFilter, [ticked](uint32_t, ui::CommandState& s) {
    s.enabled = ticked();
    s.hasText = s.control != nullptr;
    s.text = "F3: 切換";
  });
  mapCommand(kCmdProgPrevPage, [this](uint32_t) { Step(-1); });
  mapUpdate(kCmdProgPrevPage, [this, ticked](uint32_t, ui::CommandState& s) {
    s.enabled = ticked() && ui::listSelection(Control(IDC_ODBC_LIST)) > 0;
  });
  mapCommand(kCmdProgNextPage, [this](uint32_t) { Step(1); });
  mapUpdate(kCmdProgNextPage, [this, ticked](uint32_t, ui::CommandState& s) {
    HWND list = Control(IDC_ODBC_LIST);
    const int32_t row = ui::listSelection(list);
    s.enabled = ticked() && row >= 0 && row + 1 < ui::listItemCount(list);
  });
  mapCommand(kCmdProgGoto, [this](uint32_t) { ui::setFocus(Control(IDC_ODBC_FIELD)); });
  mapUpdate(kCmdProgGoto, [ticked](uint32_t, ui::CommandState& s) { s.enabled = ticked(); });

  OnNotice(IDC_ODBC_KIND, ui::kCbnSelChange, [this]() { OnKindChange(); });
  OnNotice(IDC_ODBC_FIELD, ui::kCbnSelChange, [this]() { OnFieldChange(); });
  OnNotice(IDC_ODBC_TABLE, ui::kCbnSelChange, [this]() { OnTableChange(); });
  OnNotice(IDC_ODBC_COLUMN, ui::kCbnSelChange, [this]() { OnColumnChange(); });
  OnNotice(IDC_ODBC_LIST, ui::kLvnItemChanged, [this]() { Sync(); });
  OnNotice(IDC_ODBC_USE, kAnyCode, [this]() { ApplyEnableState(); });
  OnNotice(IDC_ODBC_CONNECT, ui::kEnChange, [this]() { ModifyCheck(); });
  OnNotice(IDC_ODBC_SOURCE, kAnyCode, [this]() { ChooseDataSource(); });
}

CPrgOdbcView::~CPrgOdbcView() = default;

bool CPrgOdbcView::ReadHeader(char* header, const char* operation) {
  reg::CRegCom* engine = m_screens.App().m_pRegCom;
  std::memset(header, 0, reg::kOdbcHeaderLen + 1);
  if (!engine || FileDBRead(engine->Table(reg::kOdbcLinkTable), 0, header, reg::kOdbcHeaderLen) !=
                     static_cast<int32_t>(reg::kOdbcHeaderLen)) {
    if (engine) engine->ReportError(operation, kShortHeader);
    return false;
  }
  header[reg::kOdbcHeaderLen] = 0;
  return true;
}

bool CPrgOdbcView::Create() {
  char header[reg::kOdbcHeaderLen + 1];
  if (!ReadHeader(header, "CPrgOdbcView::Create")) return false;
  m_strConnectAtCreate = header;
  return true;
}

void CPrgOdbcView::onInitialUpdate() {
  if (!m_controls.empty()) return;
  CreateControls(kForm, IDC_ODBC_LIST);
  m_bQuiet = true;
  HWND kind = Control(IDC_ODBC_KIND);
  for (const char* name : kKindNames) ui::addListItem(kind, name);
  ui::setListSelection(kind, 0);
  HWND list = Control(IDC_ODBC_LIST);
  const int32_t dash = ui::textWidth(list, "－");
  ui::addReportColumn(list, "フィールド", dash * 12 + 12);
  ui::addReportColumn(list, "データ型", dash * 5 + 12);
  ui::addReportColumn(list, "リンクフィールド", dash * 12 + 12);
  ui::addReportColumn(list, "データ型", dash * 5 + 12);
  m_bQuiet = false;
  if (DatabaseOpen()) FillList();
}

bool CPrgOdbcView::OpenConnection(const std::string& connect) {
  reg::CRegCom* engine = m_screens.App().m_pRegCom;
  if (!m_pDatabase) m_pDatabase = std::make_unique<reg::CDatabase>();
  if (m_pDatabase->IsOpen()) m_pDatabase->Close();
  reg::OdbcConnectParams params;
  if (engine->ParseConnectString(-1, connect.c_str(), &params) != 0) return false;
  char built[reg::kOdbcHeaderLen];
  if (reg::CRegCom::BuildConnectString(built, params) != 0) return false;
  if (!m_pDatabase->OpenEx(built, 0)) {
    const std::string error = m_pDatabase->LastError();
    ui::messageBox(handle(), error.empty() ? "データソースに接続できません" : error, "", platform::kMbIconWarning);
    return false;
  }
  return true;
}

void CPrgOdbcView::FillTables() {
  reg::CRegCom* engine = m_screens.App().m_pRegCom;
  HWND tables = Control(IDC_ODBC_TABLE);
  m_bQuiet = true;
  ui::clearList(tables);
  ui::addListItem(tables, "");
  reg::OdbcStmt statement;
  if (m_pDatabase && m_pDatabase->IsOpen() && engine->OdbcOpenTables(m_pDatabase.get(), &statement) == 0) {
    std::string name;
    while (engine->OdbcFetchTable(&statement, &name) == 1) ui::addListItem(tables, name);
  }
  m_bQuiet = false;
}

void CPrgOdbcView::FillColumns(const std::string& table) {
  reg::CRegCom* engine = m_screens.App().m_pRegCom;
  HWND columns = Control(IDC_ODBC_COLUMN);
  m_bQuiet = true;
  ui::clearList(columns);
  m_columnTypes.clear();
  ui::addListItem(columns, "");
  m_columnTypes.push_back(kNoColumn);
  reg::OdbcStmt statement;
  if (m_pDatabase && m_pDatabase->IsOpen() && !table.empty() &&
      engine->OdbcOpenColumns(m_pDatabase.get(), &statement, table.c_str()) == 0) {
    std::string name;
    int16_t type = 0;
    while (engine->OdbcFetchColumn(&statement, &name, &type) == 1) {
      ui::addListItem(columns, name);
      m_columnTypes.push_back(type);
    }
  }
  m_bQuiet = false;
}

bool CPrgOdbcView::DatabaseOpen() {
  char header[reg::kOdbcHeaderLen + 1];
  if (!ReadHeader(header, "CPrgOdbcView::DatabaseOpen")) return false;
  m_bQuiet = true;
  ui::setWindowText(Control(IDC_ODBC_CONNECT), header);
  m_bQuiet = false;
  bool ok = true;
  if (header[0] == 0) {
    m_pDatabase.reset();
    ui::checkButton(Control(IDC_ODBC_USE), 0);
  } else {
    ok = OpenConnection(header);
    if (ok) FillTables();
    ui::checkButton(Control(IDC_ODBC_USE), 1);
  }
  ApplyEnableState();
  return ok;
}

void CPrgOdbcView::ApplyEnableState() {
  const bool on = ui::buttonState(Control(IDC_ODBC_USE)) == 1;
  HWND connect = Control(IDC_ODBC_CONNECT);
  if (!on) {
    m_bQuiet = true;
    ui::setWindowText(connect, "");
    m_bQuiet = false;
  }
  ui::setEditReadOnly(connect, !on);
  for (int32_t id : {IDC_ODBC_SOURCE, IDC_ODBC_KIND, IDC_ODBC_FIELD, IDC_ODBC_TABLE, IDC_ODBC_COLUMN, IDC_ODBC_LIST})
    ui::enableWindow(Control(id), on);
  ModifyCheck();
}

uint32_t CPrgOdbcView::KindCode() const {
  const int32_t k = ui::listSelection(Control(IDC_ODBC_KIND));
  return k >= 0 && k < kKinds ? kKindCodes[k] : 0;
}

void CPrgOdbcView::FillList() {
  reg::CRegCom* engine = m_screens.App().m_pRegCom;
  HWND field = Control(IDC_ODBC_FIELD), columns = Control(IDC_ODBC_COLUMN), list = Control(IDC_ODBC_LIST);
  m_nListedKind = std::max(0, ui::listSelection(Control(IDC_ODBC_KIND)));
  const uint32_t kind = KindCode();
  m_bQuiet = true;
  ui::clearList(field);
  ui::clearList(columns);
  m_columnTypes.clear();
  ui::clearList(list);
  m_fieldLocators.clear();
  for (const LinkField& f : LinkFieldTable())
    if (f.kind == kind) {
      ui::addListItem(field, f.name);
      m_fieldLocators.push_back(f.locator);
    }
  FileDBHandle link = engine->Table(reg::kOdbcLinkTable);
  if (FileDBOpenEx(link, FILEDB_MODE_READ_WRITE) == 0) {
    const std::vector<int32_t> records = RecordsOfKind(link, kind);
    uint8_t record[80];
    for (size_t i = 0; i < records.size(); ++i) {
      if (FileDBRecRead(link, records[i], record) != 0) break;
      if (i == 0) {
        const std::string table = Trim(reg::getText(record, ol::kOuterTable.offset, 32));
        HWND tables = Control(IDC_ODBC_TABLE);
        int32_t found = table.empty() ? 0 : -1;
        for (int32_t t = 0, n = ui::listItemCount(tables); t < n && found < 0; ++t)
          if (SameTable(ui::listItemText(tables, t), table)) found = t;
        ui::setListSelection(tables, found);
        if (m_pDatabase && m_pDatabase->IsOpen() && !table.empty()) {
          m_bQuiet = false;
          FillColumns(table);
          m_bQuiet = true;
        }
      }
      const uint32_t locator = LocatorOf(record);
      auto it = std::find(m_fieldLocators.begin(), m_fieldLocators.end(), locator);
      if (it == m_fieldLocators.end()) continue;
      const std::string column = Trim(reg::getText(record, ol::kOuterColumn.offset, 32));
      int16_t type = 0;
      for (int32_t c = 1, n = ui::listItemCount(columns); c < n; ++c)
        if (!column.empty() && SameNoCase(ui::listItemText(columns, c), column)) type = m_columnTypes[static_cast<size_t>(c)];
      const int32_t row = ui::addReportRow(
          list, {ui::listItemText(field, static_cast<int32_t>(it - m_fieldLocators.begin())), ProgramTypeText(record),
                 column, TypeName(type)});
      ui::setReportRowData(list, row, records[i]);
    }
    FileDBCloseEx(link);
  }
  if (ui::listItemCount(list) > 0) ui::setListSelection(list, 0);
  m_bQuiet = false;
  StretchList();
  Sync();
  ModifyCheck();
}

void CPrgOdbcView::Sync() {
  HWND list = Control(IDC_ODBC_LIST), field = Control(IDC_ODBC_FIELD), columns = Control(IDC_ODBC_COLUMN);
  const int32_t row = ui::listSelection(list);
  if (row < 0) return;
  m_bQuiet = true;
  const std::string name = ui::reportCell(list, row, 0), column = ui::reportCell(list, row, 2);
  for (int32_t i = 0, n = ui::listItemCount(field); i < n; ++i)
    if (ui::listItemText(field, i) == name) ui::setListSelection(field, i);
  int32_t found = -1;
  for (int32_t i = 1, n = ui::listItemCount(columns); i < n && found < 0 && !column.empty(); ++i)
    if (SameNoCase(ui::listItemText(columns, i), column)) found = i;
  ui::setListSelection(columns, found < 0 ? (ui::listItemCount(columns) > 0 ? 0 : -1) : found);
  m_bQuiet = false;
}

void CPrgOdbcView::ModifyCheck() {
  char header[reg::kOdbcHeaderLen + 1];
  if (!ReadHeader(header, "CPrgOdbcView::ModifyCheck")) {
    m_bModified = false;
    return;
  }
  if (!SameNoCase(ui::windowText(Control(IDC_ODBC_CONNECT)), header)) {
    m_bModified = true;
    return;
  }
  m_bModified = false;
  reg::CRegCom* engine = m_screens.App().m_pRegCom;
  FileDBHandle link = engine->Table(reg::kOdbcLinkTable);
  HWND list = Control(IDC_ODBC_LIST);
  uint8_t record[80];
  for (int32_t row = 0, n = ui::listItemCount(list); row < n && !m_bModified; ++row) {
    if (FileDBRecRead(link, static_cast<int32_t>(ui::reportRowData(list, row)), record) != 0) break;
    const std::string stored = Trim(reg::getText(record, ol::kOuterColumn.offset, 32));
    const std::string table = Trim(reg::getText(record, ol::kOuterTable.offset, 32));
    if (!SameNoCase(ui::reportCell(list, row, 2), stored)) m_bModified = true;
    if (!ui::reportCell(list, row, 3).empty() && table.empty()) m_bModified = true;
  }
  // Another outside table chosen for the kind changes its records too.
  if (!m_bModified && ui::listItemCount(list) > 0) {
    if (FileDBRecRead(link, static_cast<int32_t>(ui::reportRowData(list, 0)), record) == 0) {
      const std::string table = Trim(reg::getText(record, ol::kOuterTable.offset, 32));
      if (!SameTable(ui::windowText(Control(IDC_ODBC_TABLE)), table)) m_bModified = true;
    }
  }
}

bool CPrgOdbcView::DiscardCheck() {
  if (!m_bModified) return true;
  std::string text;
  if (!ui::loadString(204, text)) text = "閉じると変更が失われます。実行しますか？";
  if (ui::messageBox(handle(), text, "警告",
                     platform::kMbOkCancel | platform::kMbIconWarning | platform::kMbDefButton2) != platform::kIdOk)
    return false;
  // The stored state comes back into the controls.
  if (DatabaseOpen()) m_bModified = false;
  return true;
}

void CPrgOdbcView::OnKindChange() {
  HWND kind = Control(IDC_ODBC_KIND);
  if (DiscardCheck()) {
    FillList();
    return;
  }
  m_bQuiet = true;
  ui::setListSelection(kind, m_nListedKind);
  m_bQuiet = false;
}

void CPrgOdbcView::OnFieldChange() {
  HWND list = Control(IDC_ODBC_LIST);
  const std::string name = ui::windowText(Control(IDC_ODBC_FIELD));
  for (int32_t row = 0, n = ui::listItemCount(list); row < n; ++row)
    if (ui::reportCell(list, row, 0) == name) {
      ui::setListSelection(list, row);
      ui::showReportRow(list, row);
      break;
    }
}

void CPrgOdbcView::OnTableChange() {
  FillColumns(ui::windowText(Control(IDC_ODBC_TABLE)));
  // Linked columns the new table lacks are cleared.
  HWND list = Control(IDC_ODBC_LIST), columns = Control(IDC_ODBC_COLUMN);
  for (int32_t row = 0, n = ui::listItemCount(list); row < n; ++row) {
    const std::string column = ui::reportCell(list, row, 2);
    int16_t type = 0;
    bool present = false;
    for (int32_t c = 1, count = ui::listItemCount(columns); c < count && !present; ++c)
      if (SameNoCase(ui::listItemText(columns, c), column)) {
        present = true;
        type = m_columnTypes[static_cast<size_t>(c)];
      }
    if (!present) ui::setReportCell(list, row, 2, "");
    ui::setReportCell(list, row, 3, present ? TypeName(type) : "");
  }
  Sync();
  ModifyCheck();
}

void CPrgOdbcView::OnColumnChange() {
  HWND list = Control(IDC_ODBC_LIST), columns = Control(IDC_ODBC_COLUMN);
  const int32_t row = ui::listSelection(list), c = ui::listSelection(columns);
  if (row < 0 || c < 0 || c >= static_cast<int32_t>(m_columnTypes.size())) return;
  ui::setReportCell(list, row, 2, ui::listItemText(columns, c));
  ui::setReportCell(list, row, 3, TypeName(m_columnTypes[static_cast<size_t>(c)]));
  ModifyCheck();
}

void CPrgOdbcView::Step(int32_t delta) {
  HWND list = Control(IDC_ODBC_LIST);
  const int32_t row = ui::listSelection(list) + delta;
  if (row < 0 || row >= ui::listItemCount(list)) return;
  ui::setListSelection(list, row);
  ui::showReportRow(list, row);
}

void CPrgOdbcView::ChooseDataSource() {
  auto* frame = dynamic_cast<CChildFrame*>(parentFrame());
  if (!frame) return;
  m_pDatabase.reset();
  m_bQuiet = true;
  ui::clearList(Control(IDC_ODBC_TABLE));
  ui::clearList(Control(IDC_ODBC_COLUMN));
  m_columnTypes.clear();
  m_bQuiet = false;
  frame->m_bModalDialog = 1;
  CDataSourceDlg chooser(handle(), ui::windowText(Control(IDC_ODBC_CONNECT)));
  const bool chosen = chooser.doModal() == 1 && OpenConnection(chooser.Connect());
  frame->m_bModalDialog = 0;
  if (!chosen) {
    ModifyCheck();
    return;
  }
  // The string the driver completed, when the register can store it (a
  // driver may add more options than a link header holds); else the one
  // chosen.
  reg::OdbcConnectParams params;
  std::string completed = m_pDatabase->GetConnect();
  if (completed.size() >= reg::kOdbcHeaderLen ||
      m_screens.App().m_pRegCom->ParseConnectString(-1, completed.c_str(), &params) != 0)
    completed = chooser.Connect();
  m_bQuiet = true;
  ui::setWindowText(Control(IDC_ODBC_CONNECT), completed);
  m_bQuiet = false;
  FillTables();
  FillList();
}

void CPrgOdbcView::Save() {
  CREGApp& app = m_screens.App();
  reg::CRegCom* engine = app.m_pRegCom;
  if (!engine) return;
  if (!engine->IsOpen()) {
    engine->ReportError("CRegCom", 0x200000FFu);
    return;
  }
  if (!engine->CheckPermission(reg::kModeProgram, reg::kSaveUpdate)) return;
  FileDBHandle link = engine->Table(reg::kOdbcLinkTable);
  const std::string connect = ui::windowText(Control(IDC_ODBC_CONNECT));
  char header[reg::kOdbcHeaderLen] = {};
  std::memcpy(header, connect.data(), std::min(connect.size(), reg::kOdbcHeaderLen - 1));
  if (FileDBWrite(link, 0, header, sizeof header) != static_cast<int32_t>(sizeof header)) return;
  const std::string table = ui::windowText(Control(IDC_ODBC_TABLE));
  HWND list = Control(IDC_ODBC_LIST), columns = Control(IDC_ODBC_COLUMN);
  const std::vector<int32_t> records = RecordsOfKind(link, KindCode());
  if (!records.empty() && FileDBOpenEx(link, FILEDB_MODE_READ_WRITE) == 0) {
    uint8_t record[80];
    bool failed = false;
    for (int32_t n : records) {
      if (FileDBRecRead(link, n, record) != 0) {
        failed = true;
        break;
      }
      reg::putText(record, ol::kOuterTable.offset, 32, table.c_str());
      std::string column;
      int16_t type = 0;
      for (int32_t row = 0, count = ui::listItemCount(list); row < count; ++row)
        if (ui::reportRowData(list, row) == n) column = ui::reportCell(list, row, 2);
      for (int32_t c = 1, count = ui::listItemCount(columns); c < count && !column.empty() && type == 0; ++c)
        if (ui::listItemText(columns, c).rfind(column, 0) == 0) type = m_columnTypes[static_cast<size_t>(c)];
      reg::putText(record, ol::kOuterColumn.offset, 32, column.c_str());
      reg::putU16(record, ol::kSqlType.offset, static_cast<uint16_t>(type));
      if (FileDBRecWrite(link, n, record) != 0) {
        failed = true;
        break;
      }
    }
    FileDBCloseEx(link);
    if (failed) return;
  }
  m_bModified = false;
  if (connect.empty()) {
    engine->OdbcDropLink();
  } else if (engine->OdbcConnect() != 1 || engine->PrepareOdbcQueries() != 0) {
    // The engine links with the saved string. One that does not connect now
    // (a server down, a typing error) stays stored as the shop saved it: the
    // driver's message has said why, the register runs without the link and
    // the screen stays open to correct it.
    engine->OdbcDropLink();
  }
  // The setup menu offers the PLU and customer files only while the
  // register itself keeps them.
  if (CChildFrame* menu = m_screens.FindModeFrame(4, nullptr))
    if (auto* view = dynamic_cast<CMenuView*>(menu->activeView())) view->UpdateLinkedItems();
}

void CPrgOdbcView::Closing() {
  m_pDatabase.reset();
  m_screens.App().ODBCUpdate(m_strConnectAtCreate.c_str());
}

}  // namespace varnex::shell
