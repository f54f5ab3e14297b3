// The function-key layout screen (see prg_fkl_view.h).
#include "app/shell/modes/prg_fkl_view.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/register/engine/key_codes.h"
#include "app/register/engine/reg_com.h"
#include "app/register/engine/records.h"
#include "app/register/view/key_text.h"
#include "app/shell/app/reg_app.h"
#include "app/shell/frames/child_frame.h"
#include "app/shell/modes/mode_screens.h"
#include "platform/base/message_box.h"
#include "platform/ui/dialog.h"
#include "platform/ui/resources.h"
#include "platform/ui/window.h"
#include "zemta/filedb.h"

namespace varnex::shell {

namespace ui = platform::ui;
namespace kl = reg::keylayout;

namespace {

constexpr int32_t kTypeCount = 4;
constexpr size_t kNameWidth = 24;

// Key types of the type combo box: the type bits and the master table.
struct KeyType {
  uint16_t bits;
  reg::TableIndex table;
  uint16_t firstCode;  // 0: the department number of each record
};
constexpr KeyType kTypes[kTypeCount] = {
    {0x1000, reg::kDepartmentTable, 0},
    {0x2000, reg::kTrans1Table, reg::transkey::kTrans1Base},
    {0x3000, reg::kTrans2Table, reg::transkey::kTrans2Base},
    {0x4000, reg::kTrans3Table, reg::transkey::kTrans3Base},
};
const char* const kKeyTypeNames[5] = {"未定義", "部門キー", "取引１キー", "取引２キー", "取引３キー"};

std::string TrimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

std::string TrimLeft(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

// The first 24 bytes of a master record as text.
std::string NameOf(const uint8_t* record) {
  char text[kNameWidth + 1];
  std::snprintf(text, sizeof text, "%-*.*s", static_cast<int>(kNameWidth), static_cast<int>(kNameWidth),
                reinterpret_cast<const char*>(record));
  return TrimRight(text);
}

// A number typed into an edit; 0 for none.
long NumberIn(HWND edit) { return std::strtol(ui::windowText(edit).c_str(), nullptr, 10); }

// The layout table, held open for one piece of work.
class LayoutTable {
 public:
  LayoutTable(reg::CRegCom* engine, uint32_t mode) : table_(engine ? engine->Table(reg::kKeyLayoutTable) : 0) {
    open_ = table_ && FileDBOpenEx(table_, mode) == 0;
  }
  ~LayoutTable() {
    if (open_) FileDBCloseEx(table_);
  }
  bool IsOpen() const { return open_; }
  int32_t Count() const { return open_ ? FileDBRecGetSize(table_) : -1; }
  bool Read(int32_t n, uint8_t* record) const { return FileDBRecRead(table_, n, record) == 0; }
  bool Write(int32_t n, const uint8_t* record) const { return FileDBRecWrite(table_, n, record) == 0; }
  // The first record other than skip whose field at offset holds value.
  int32_t FindOther(size_t offset, uint16_t value, int32_t skip, uint8_t* record) const {
    const int32_t count = Count();
    for (int32_t n = 0; n < count; ++n) {
      if (!Read(n, record)) return -1;
      if (n != skip && reg::getU16(record, offset) == value) return n;
    }
    return -1;
  }

 private:
  FileDBHandle table_;
  bool open_ = false;
};

}  // namespace

// ---- the key-capture dialog --------------------------------------------------------

CPrgFklDlg::CPrgFklDlg(HWND parent) : Dialog(kTemplate, parent) {
  mapCommand(IDC_FKL_HIT, [this](uint32_t) { OnHit(); });
}

bool CPrgFklDlg::onInitDialog() {
  entry_ = {};
  entry_.command = IDC_FKL_HIT;
  ZemtaGetAccel(handle(), &entry_);
  ui::setFocus(item(IDC_FKL_HIT));
  return false;
}

void CPrgFklDlg::onCancel() {
  ZemtaGetAccel(nullptr, nullptr);
  endDialog(2);
}

void CPrgFklDlg::OnHit() {
  // A click of the button itself brings no key.
  if (!(entry_.flags & ZEMTA_KEY_VALID)) return;
  const uint32_t vk = entry_.virtualKey;
  if (vk == 16 || vk == 17 || vk == 18) return;  // a modifier alone: wait for the key
  ZemtaGetAccel(nullptr, nullptr);
  const bool keepVirtual = vk == 3 || vk == 9 || vk == 27 || vk == 8 || vk == 13;
  if (!keepVirtual) {
    if (const int32_t c = ZemtaVKeyToChar(vk)) {
      // A character key: the character is the key, not the key and Shift.
      entry_.flags = static_cast<uint8_t>(entry_.flags & ~ZEMTA_KEY_SHIFT);
      entry_.reserved = 1;  // marks a character
      entry_.virtualKey = static_cast<uint16_t>(c & 0xFF);
    }
  }
  endDialog(1);
}

// ---- the view ----------------------------------------------------------------------

CPrgFklView::CPrgFklView(CModeScreens& screens) : m_screens(screens) {
  mapCommand(kCmdProgSave, [this](uint32_t) { Save(); });
  mapUpdate(kCmdProgSave, [this](uint32_t, ui::CommandState& s) { s.enabled = m_bModified; });
  mapCommand(kCmdProgEdit, [this](uint32_t) { CaptureKey(); });
  mapUpdate(kCmdProgEdit, [](uint32_t, ui::CommandState& s) { s.enabled = true; });
  mapCommand(kCmdProgFilter, [this](uint32_t) {
    HWND type = Control(IDC_FKL_TYPE);
    if (!DiscardCheck()) return;
    ui::setListSelection(type, (ui::listSelection(type) + 1) % kTypeCount);
    FillList();
  });
  mapUpdate(kCmdProgFilter, [](uint32_t, ui::CommandState& s) {
    s.enabled = true;
    s.hasText = s.control != nullptr;
    s.text = "F3: 切換";
  });
  mapCommand(kCmdProgPrevPage, [this](uint32_t) { SelectRow(m_nSelectedRow - 1); });
  mapUpdate(kCmdProgPrevPage, [this](uint32_t, ui::CommandState& s) { s.enabled = m_nSelectedRow > 0; });
  mapCommand(kCmdProgNextPage, [this](uint32_t) { SelectRow(m_nSelectedRow + 1); });
  mapUpdate(kCmdProgNextPage, [this](uint32_t, ui::CommandState& s) {
    s.enabled = m_nSelectedRow >= 0 && m_nSelectedRow + 1 < ui::listItemCount(Control(IDC_FKL_LIST));
  });
  mapCommand(kCmdProgGoto, [this](uint32_t) {
    HWND code = Control(IDC_FKL_CODE);
    ui::setFocus(code);
    ui::selectAllText(code);
  });
  mapUpdate(kCmdProgGoto, [](uint32_t, ui::CommandState& s) { s.enabled = true; });

  OnNotice(IDC_FKL_TYPE, ui::kCbnSelChange, [this]() { OnTypeChange(); });
  OnNotice(IDC_FKL_LIST, ui::kLvnItemChanged, [this]() { OnListChange(); });
  OnNotice(IDC_FKL_OK, kAnyCode, [this]() { JumpToCode(true); });
  // Leaving the code edit jumps as OK does, and leaves the focus where it went.
  OnNotice(IDC_FKL_CODE, ui::kEnKillFocus, [this]() { JumpToCode(false); });
  OnNotice(IDC_FKL_CAPTURE, kAnyCode, [this]() { CaptureKey(); });
  OnNotice(IDC_FKL_POSITION, ui::kEnChange, [this]() { UpdateModified(); });
  OnNotice(IDC_FKL_KEY, ui::kCbnEditChange, [this]() { OnKeyEdit(); });
  OnNotice(IDC_FKL_KEY, ui::kCbnSelChange, [this]() { OnKeySelect(); });
  for (int32_t box : {IDC_FKL_CTRL, IDC_FKL_ALT, IDC_FKL_SHIFT}) OnNotice(box, kAnyCode, [this]() { UpdateModified(); });
}

CPrgFklView::~CPrgFklView() = default;

void CPrgFklView::onInitialUpdate() {
  if (!m_controls.empty()) return;
  CreateControls(kForm, IDC_FKL_LIST);
  CREGApp& app = m_screens.App();
  const CREGApp::ScreenFont& fixed = app.m_Fonts[0];
  const std::string face = fixed.face.empty() ? "ＭＳ ゴシック" : fixed.face;
  for (int32_t id : {IDC_FKL_TYPE, IDC_FKL_CODE, IDC_FKL_POSITION}) ui::setWindowFont(Control(id), face, 16);

  m_bQuiet = true;
  HWND type = Control(IDC_FKL_TYPE);
  for (int32_t t = 0; t < kTypeCount; ++t) ui::addListItem(type, kKeyTypeNames[t + 1]);
  HWND key = Control(IDC_FKL_KEY);
  for (uint32_t code = 0; code < 256; ++code) {
    const std::string name = reg::GetVirtualKeyName(code);
    if (name.empty()) continue;
    ui::addListItem(key, name);
    m_keyCodes.push_back(static_cast<uint16_t>(code));
  }
  ui::setListSelection(key, -1);
  HWND list = Control(IDC_FKL_LIST);
  ui::setListSelection(type, 0);
  const int32_t dash = ui::textWidth(list, "－");
  ui::addReportColumn(list, "コード", ui::textWidth(list, "コード") + 12);
  ui::addReportColumn(list, "ファンクション名", dash * 12 + 12);
  ui::addReportColumn(list, "キー", dash * 19 + 12);
  m_bQuiet = false;
  FillList();
}

void CPrgFklView::Closing() {
  CREGApp& app = m_screens.App();
  if (app.m_fnBuildAccelerators) app.m_fnBuildAccelerators();
}

uint16_t CPrgFklView::TypeBits() const {
  const int32_t t = m_nListedType;
  return t >= 0 && t < kTypeCount ? kTypes[t].bits : 0;
}

void CPrgFklView::FillList() {
  reg::CRegCom* engine = m_screens.App().m_pRegCom;
  HWND list = Control(IDC_FKL_LIST);
  const int32_t typeIndex = ui::listSelection(Control(IDC_FKL_TYPE));
  if (!engine || !list || typeIndex < 0 || typeIndex >= kTypeCount) return;
  m_nListedType = typeIndex;
  const KeyType& type = kTypes[typeIndex];
  m_bQuiet = true;
  ui::clearList(list);
  m_nSelectedRow = -1;
  FileDBHandle master = engine->Table(type.table);
  LayoutTable layout(engine, FILEDB_MODE_READ_WRITE);
  if (master && layout.IsOpen() && FileDBOpenEx(master, FILEDB_MODE_READ_WRITE) == 0) {
    const int32_t count = FileDBRecGetSize(master);
    std::vector<uint8_t> record(reg::kTables[type.table].recordLen);
    uint8_t key[8];
    for (int32_t i = 0; i < count; ++i) {
      if (FileDBRecRead(master, i, record.data()) != 0) break;
      const uint16_t code = type.firstCode ? static_cast<uint16_t>(type.firstCode + i)
                                           : reg::getU16(record.data(), reg::department::kNumber.offset);
      const uint16_t function = static_cast<uint16_t>(type.bits | (code & 0x0FFF));
      if (layout.FindOther(kl::kFunction.offset, function, -1, key) < 0) continue;
      char number[16];
      std::snprintf(number, sizeof number, "%6ld", static_cast<long>(code));
      const int32_t row = ui::addReportRow(list, {number, NameOf(record.data()), reg::GetKeyCodeText(key)});
      ui::setReportRowData(list, row, i);
    }
    FileDBCloseEx(master);
  }
  m_bQuiet = false;
  if (ui::listItemCount(list) > 0) {
    m_bQuiet = true;
    ui::setListSelection(list, 0);
    m_bQuiet = false;
    m_nSelectedRow = 0;
    ui::showReportRow(list, 0);
  }
  StretchList();
  ShowSelection();
}

uint16_t CPrgFklView::ShownFunction() const {
  return static_cast<uint16_t>(TypeBits() | (NumberIn(Control(IDC_FKL_CODE)) & 0x0FFF));
}

int32_t CPrgFklView::FindLayoutRecord(uint8_t* record) const {
  std::memset(record, 0, 8);
  LayoutTable layout(m_screens.App().m_pRegCom, FILEDB_MODE_READ);
  if (!layout.IsOpen()) return -1;
  const int32_t n = layout.FindOther(kl::kFunction.offset, ShownFunction(), -1, record);
  if (n < 0) std::memset(record, 0, 8);
  return n;
}

void CPrgFklView::ShowSelection() {
  HWND list = Control(IDC_FKL_LIST);
  const int32_t row = ui::listSelection(list);
  if (row < 0) return;
  m_bQuiet = true;
  ui::setWindowText(Control(IDC_FKL_CODE), TrimLeft(ui::reportCell(list, row, 0)));
  uint8_t record[8];
  FindLayoutRecord(record);
  ui::setWindowText(Control(IDC_FKL_POSITION), std::to_string(reg::getU16(record, kl::kPosition.offset)));
  const uint16_t word = reg::getU16(record, kl::kKeyWord.offset);
  ui::checkButton(Control(IDC_FKL_CTRL), (word & kl::kCtrl) ? 1 : 0);
  ui::checkButton(Control(IDC_FKL_ALT), (word & kl::kAlt) ? 1 : 0);
  ui::checkButton(Control(IDC_FKL_SHIFT), (word & kl::kShift) ? 1 : 0);
  HWND key = Control(IDC_FKL_KEY);
  if (word & kl::kVirtual) {
    for (size_t i = 0; i < m_keyCodes.size(); ++i)
      if (m_keyCodes[i] == (word & 0xFF)) ui::setListSelection(key, static_cast<int32_t>(i));
  } else {
    ui::setListSelection(key, -1);
    const char c = static_cast<char>(word & 0xFF);
    ui::setWindowText(key, c ? std::string(1, c) : std::string());
  }
  m_bQuiet = false;
  m_bModified = false;
}

bool CPrgFklView::BuildRecord(uint8_t* record) const {
  std::memset(record, 0, 8);
  reg::putU16(record, kl::kFunction.offset, ShownFunction());
  reg::putU16(record, kl::kPosition.offset, static_cast<uint16_t>(NumberIn(Control(IDC_FKL_POSITION))));
  HWND key = Control(IDC_FKL_KEY);
  const std::string text = ui::windowText(key);
  uint16_t word = 0;
  bool named = false;
  for (size_t i = 0; i < m_keyCodes.size() && !named; ++i)
    if (ui::listItemText(key, static_cast<int32_t>(i)) == text) {
      word = static_cast<uint16_t>(kl::kVirtual | (m_keyCodes[i] & 0xFF));
      named = true;
    }
  if (!named) {
    if (text.size() >= 2) return false;
    word = text.empty() ? 0 : static_cast<uint8_t>(text[0]);
  }
  if (ui::buttonState(Control(IDC_FKL_CTRL)) == 1) word |= kl::kCtrl;
  if (ui::buttonState(Control(IDC_FKL_ALT)) == 1) word |= kl::kAlt;
  if (ui::buttonState(Control(IDC_FKL_SHIFT)) == 1) word |= kl::kShift;
  reg::putU16(record, kl::kKeyWord.offset, word);
  return true;
}

void CPrgFklView::UpdateModified() {
  uint8_t stored[8], built[8];
  if (FindLayoutRecord(stored) < 0) {
    m_bModified = false;
    return;
  }
  // A text that is no key differs from every stored record.
  m_bModified = !BuildRecord(built) || std::memcmp(stored, built, 8) != 0;
}

bool CPrgFklView::DiscardCheck() {
  if (!m_bModified) return true;
  std::string text;
  if (!ui::loadString(204, text)) text = "閉じると変更が失われます。実行しますか？";
  if (ui::messageBox(handle(), text, "警告", platform::kMbOkCancel | platform::kMbIconWarning |
                                                 platform::kMbDefButton2) != platform::kIdOk)
    return false;
  m_bModified = false;
  return true;
}

void CPrgFklView::OnTypeChange() {
  HWND type = Control(IDC_FKL_TYPE);
  if (ui::listSelection(type) == m_nListedType || DiscardCheck()) {
    FillList();
    return;
  }
  m_bQuiet = true;
  ui::setListSelection(type, m_nListedType);
  m_bQuiet = false;
}

void CPrgFklView::OnListChange() {
  HWND list = Control(IDC_FKL_LIST);
  const int32_t row = ui::listSelection(list);
  if (row < 0 || row == m_nSelectedRow) return;
  if (DiscardCheck()) {
    m_nSelectedRow = row;
    ShowSelection();
    return;
  }
  m_bQuiet = true;
  ui::setListSelection(list, m_nSelectedRow);
  m_bQuiet = false;
  ui::setFocus(list);
}

void CPrgFklView::SelectRow(int32_t row) {
  HWND list = Control(IDC_FKL_LIST);
  if (row < 0 || row >= ui::listItemCount(list) || row == m_nSelectedRow || !DiscardCheck()) return;
  m_bQuiet = true;
  ui::setListSelection(list, row);
  m_bQuiet = false;
  m_nSelectedRow = row;
  ui::showReportRow(list, row);
  ShowSelection();
}

void CPrgFklView::JumpToCode(bool focusEdit) {
  if (m_bJumping) return;
  m_bJumping = true;
  HWND list = Control(IDC_FKL_LIST);
  HWND edit = Control(IDC_FKL_CODE);
  const long typed = NumberIn(edit);
  int32_t found = -1;
  for (int32_t r = 0, n = ui::listItemCount(list); r < n && found < 0; ++r)
    if (std::strtol(ui::reportCell(list, r, 0).c_str(), nullptr, 10) == typed) found = r;
  if (found < 0) {
    ui::messageBeep();
    ShowSelection();
  } else if (found != m_nSelectedRow) {
    if (DiscardCheck()) {
      m_bQuiet = true;
      ui::setListSelection(list, found);
      m_bQuiet = false;
      m_nSelectedRow = found;
      ui::showReportRow(list, found);
      ShowSelection();
    } else if (m_nSelectedRow >= 0) {
      m_bQuiet = true;
      ui::setWindowText(edit, TrimLeft(ui::reportCell(list, m_nSelectedRow, 0)));
      m_bQuiet = false;
    }
  }
  if (focusEdit) ui::setFocus(edit);
  ui::selectAllText(edit);
  m_bJumping = false;
}

void CPrgFklView::OnKeyEdit() {
  HWND key = Control(IDC_FKL_KEY);
  const std::string text = ui::windowText(key);
  int32_t match = -1;
  for (int32_t i = 0, n = ui::listItemCount(key); i < n && match < 0; ++i)
    if (ui::listItemText(key, i) == text) match = i;
  m_bQuiet = true;
  if (match >= 0) {
    ui::setListSelection(key, match);
  } else if (ui::listSelection(key) >= 0) {
    // Clearing the selection empties the edit field: keep what was typed.
    ui::setListSelection(key, -1);
    ui::setWindowText(key, text);
  }
  m_bQuiet = false;
  UpdateModified();
}

void CPrgFklView::OnKeySelect() {
  HWND key = Control(IDC_FKL_KEY);
  m_bQuiet = true;
  ui::setWindowText(key, ui::listItemText(key, ui::listSelection(key)));
  m_bQuiet = false;
  UpdateModified();
}

void CPrgFklView::CaptureKey() {
  auto* frame = dynamic_cast<CChildFrame*>(parentFrame());
  if (!frame) return;
  // The frame leaves function keys alone while the key is captured.
  frame->m_bModalDialog = 1;
  CPrgFklDlg dialog(handle());
  const intptr_t result = dialog.doModal();
  frame->m_bModalDialog = 0;
  if (result != 1) return;
  const ZemtaKeyRecord& entry = dialog.Entry();
  m_bQuiet = true;
  ui::checkButton(Control(IDC_FKL_CTRL), (entry.flags & ZEMTA_KEY_CTRL) ? 1 : 0);
  ui::checkButton(Control(IDC_FKL_ALT), (entry.flags & ZEMTA_KEY_ALT) ? 1 : 0);
  ui::checkButton(Control(IDC_FKL_SHIFT), (entry.flags & ZEMTA_KEY_SHIFT) ? 1 : 0);
  HWND key = Control(IDC_FKL_KEY);
  if (entry.reserved == 0) {
    int32_t match = -1;
    for (size_t i = 0; i < m_keyCodes.size(); ++i)
      if (m_keyCodes[i] == entry.virtualKey) match = static_cast<int32_t>(i);
    if (match < 0)
      ui::messageBeep();
    else
      ui::setListSelection(key, match);
  } else {
    const char c = static_cast<char>(entry.virtualKey & 0xFF);
    if (std::isprint(static_cast<unsigned char>(c))) {
      ui::setListSelection(key, -1);
      ui::setWindowText(key, std::string(1, c));
    } else {
      ui::messageBeep();
    }
  }
  m_bQuiet = false;
  UpdateModified();
}

std::string CPrgFklView::FunctionName(uint16_t function) const {
  reg::CRegCom* engine = m_screens.App().m_pRegCom;
  uint8_t record[256] = {};
  if (reg::keyType(function) == reg::kKeyDepartment) {
    if (engine->GetDepartmentRecord(reg::keyNumber(function), record) < 0) return {};
  } else if (engine->GetTransKeyRecord(function, record) < 0) {
    return {};
  }
  return NameOf(record);
}

void CPrgFklView::Save() {
  CREGApp& app = m_screens.App();
  reg::CRegCom* engine = app.m_pRegCom;
  if (!engine) return;
  if (!engine->IsOpen()) {
    engine->ReportError("CRegCom", 0x200000FFu);
    return;
  }
  // The engine shows the rights message (設定, or 設定の更新保存).
  if (!engine->CheckPermission(reg::kModeProgram, reg::kSaveUpdate)) return;
  uint8_t stored[8];
  const int32_t own = FindLayoutRecord(stored);
  if (own < 0) return;
  uint8_t built[8];
  if (!BuildRecord(built)) {
    ui::messageBox(handle(), "キーの指定が不適切です\n登録は失敗しました", "", platform::kMbIconWarning);
    ui::setFocus(Control(IDC_FKL_KEY));
    return;
  }
  LayoutTable layout(engine, FILEDB_MODE_READ_WRITE);
  if (!layout.IsOpen()) return;
  uint8_t other[8];
  char text[512];
  // One keyboard key runs one function: a key another function holds is
  // refused, or the register would find only the first of the two.
  const uint16_t word = reg::getU16(built, kl::kKeyWord.offset);
  if (word != 0 && layout.FindOther(kl::kKeyWord.offset, word, own, other) >= 0) {
    const uint16_t function = reg::getU16(other, kl::kFunction.offset);
    const std::string name = FunctionName(function);
    std::snprintf(text, sizeof text, "キーが、%sの%s（コード：%d）と重複しています\n登録は失敗しました",
                  kKeyTypeNames[std::min<uint16_t>(reg::keyType(function), 4)], name.c_str(),
                  reg::keyNumber(function));
    ui::messageBox(handle(), text, "", platform::kMbIconWarning);
    ui::setFocus(Control(IDC_FKL_KEY));
    return;
  }
  // A touch position another function holds is taken over after asking; the
  // function's own position and "no position" ask nothing.
  const uint16_t position = reg::getU16(built, kl::kPosition.offset);
  const int32_t holder = position ? layout.FindOther(kl::kPosition.offset, position, own, other) : -1;
  if (holder >= 0) {
    const uint16_t function = reg::getU16(other, kl::kFunction.offset);
    const std::string name = FunctionName(function);
    const int code = reg::keyNumber(function);
    std::snprintf(text, sizeof text,
                  "キーの位置が、%sの%s（コード：%d）と重複しています\n\n※保存すると、%s（コード：%d）"
                  "のキーの位置を消去します",
                  kKeyTypeNames[std::min<uint16_t>(reg::keyType(function), 4)], name.c_str(), code, name.c_str(),
                  code);
    if (ui::messageBox(handle(), text, "", platform::kMbOkCancel | platform::kMbIconInformation) != platform::kIdOk)
      return;
    reg::putU16(other, kl::kPosition.offset, 0);
    if (!layout.Write(holder, other)) return;
  }
  if (!layout.Write(own, built)) return;
  m_bModified = false;
  HWND list = Control(IDC_FKL_LIST);
  if (m_nSelectedRow >= 0) ui::setReportCell(list, m_nSelectedRow, 2, reg::GetKeyCodeText(built));
}

}  // namespace varnex::shell
