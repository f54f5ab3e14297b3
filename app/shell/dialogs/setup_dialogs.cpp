// The setup dialogs (see setup_dialogs.h).
#include "app/shell/dialogs/setup_dialogs.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "app/register/engine/reg_com.h"
#include "app/shell/app/reg_app.h"
#include "platform/base/clock.h"
#include "platform/base/message_box.h"
#include "platform/ui/common_dialogs.h"
#include "platform/ui/dialog.h"
#include "platform/ui/print_output.h"
#include "platform/ui/window.h"
#include "quorex/comm_set.h"
#include "zemta/winhelp.h"

namespace varnex::shell {

namespace ui = platform::ui;

namespace {

bool SameNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

const char* const kDisplayWindow = "サブディスプレイウインドウ";
const char* const kNormalPrinter = "通常使うプリンタ";

bool IsDmd(const std::string& device) { return device.size() >= 10 && SameNoCase(device.substr(0, 10), "EPSON DM-D"); }

// Selects the item equal to the text (without case), else puts the text into
// an editable combo box's field.
void ShowComboText(HWND combo, const std::string& text) {
  for (int32_t i = 0, n = ui::listItemCount(combo); i < n; ++i)
    if (SameNoCase(ui::listItemText(combo, i), text)) {
      ui::setListSelection(combo, i);
      return;
    }
  ui::setListSelection(combo, -1);
  ui::setWindowText(combo, text);
}

}  // namespace

// ---- the table-driven base ---------------------------------------------------------

CSettingsDlg::CSettingsDlg(int32_t templateId, HWND parent, CREGApp& app, std::vector<SettingControl> controls)
    : Dialog(templateId, parent), m_app(app), m_controls(std::move(controls)) {}

int32_t CSettingsDlg::Int(const std::string& key) const {
  auto it = values.find(key);
  return it == values.end() ? 0 : static_cast<int32_t>(std::strtol(it->second.c_str(), nullptr, 10));
}

void CSettingsDlg::SetItems(int32_t control, const std::vector<std::string>& items) {
  HWND c = item(control);
  ui::clearList(c);
  for (const std::string& text : items) ui::addListItem(c, text);
}

bool CSettingsDlg::onInitDialog() {
  FillLists();
  for (const SettingControl& c : m_controls) {
    HWND h = item(c.control);
    const std::string value = values[c.key];
    switch (c.binding) {
      case Binding::Check: ui::checkButton(h, Int(c.key) ? 1 : 0); break;
      case Binding::InverseCheck: ui::checkButton(h, Int(c.key) ? 0 : 1); break;
      case Binding::Index: ui::setListSelection(h, Int(c.key)); break;
      case Binding::ComboText: ShowComboText(h, value); break;
      case Binding::Text:
      case Binding::Number: ui::setWindowText(h, value); break;
    }
  }
  AfterShow();
  return true;
}

bool CSettingsDlg::CheckRights() {
  reg::CRegCom* engine = m_app.m_pRegCom;
  if (!engine) return false;
  if (!engine->IsOpen()) {
    engine->ReportError("CRegCom", 0x200000FFu);
    return false;
  }
  // The engine shows the rights message (設定, or 設定の更新保存).
  return engine->CheckPermission(reg::kModeProgram, reg::kSaveUpdate) != 0;
}

void CSettingsDlg::onOK() {
  std::map<std::string, std::string> taken = values;
  for (const SettingControl& c : m_controls) {
    HWND h = item(c.control);
    switch (c.binding) {
      case Binding::Check: taken[c.key] = ui::buttonState(h) == 1 ? "1" : "0"; break;
      case Binding::InverseCheck: taken[c.key] = ui::buttonState(h) == 1 ? "0" : "1"; break;
      case Binding::Index: taken[c.key] = std::to_string(std::max(0, ui::listSelection(h))); break;
      case Binding::ComboText: taken[c.key] = ui::windowText(h); break;
      case Binding::Text: {
        std::string text = ui::windowText(h);
        if (c.maximum > 0 && text.size() > static_cast<size_t>(c.maximum)) {
          char message[128];
          std::snprintf(message, sizeof message, "%d 文字以内で入力してください。", static_cast<int>(c.maximum));
          ui::messageBox(handle(), message, "", platform::kMbIconWarning);
          ui::setFocus(h);
          return;
        }
        taken[c.key] = text;
        break;
      }
      case Binding::Number: {
        const std::string text = ui::windowText(h);
        char* end = nullptr;
        const long n = std::strtol(text.c_str(), &end, 10);
        if (text.empty() || (end && *end != '\0') || n < c.minimum || n > c.maximum) {
          char message[128];
          std::snprintf(message, sizeof message, "%d から %d までの整数を入力してください。",
                        static_cast<int>(c.minimum), static_cast<int>(c.maximum));
          ui::messageBox(handle(), message, "", platform::kMbIconWarning);
          ui::setFocus(h);
          return;
        }
        taken[c.key] = std::to_string(n);
        break;
      }
    }
  }
  if (!CheckRights()) return;
  values = std::move(taken);
  endDialog(1);
}

// ---- 売上伝票処理リンク設定 -----------------------------------------------------------

CSmpLinkDlg::CSmpLinkDlg(HWND parent, CREGApp& app)
    : CSettingsDlg(136, parent, app,
                   {{1176, "Smp Link", Binding::Text, 0, 259},
                    {1179, "Smp Work", Binding::Text, 0, 259},
                    {1180, "Smp Action", Binding::Text, 0, 259}}) {
  mapCommand(1178, [this](uint32_t) {
    ui::FileDialogRequest request;
    request.kind = ui::FileDialogKind::Open;
    request.defaultExtension = "exe";
    request.filters = ui::parseFileFilter("Link Files (*.exe)|*.exe|All Files (*.*)|*.*||");
    request.fileName = ui::windowText(item(1176));
    std::string chosen;
    if (!ui::openFileDialog(handle(), request, chosen)) return;
    std::string target, work;
    SplitProgramPath(chosen, &target, &work);
    ui::setWindowText(item(1176), target);
    ui::setWindowText(item(1179), work);
  });
}

void CSmpLinkDlg::SplitProgramPath(const std::string& chosen, std::string* target, std::string* work) {
  size_t cut = chosen.find_last_of("\\/");
  std::string folder;
  if (cut != std::string::npos) {
    folder = chosen.substr(0, cut + 1);
  } else if ((cut = chosen.find(':')) != std::string::npos) {
    folder = chosen.substr(0, cut + 1);
  }
  auto quoted = [](const std::string& s) { return s.find(' ') != std::string::npos ? "\"" + s + "\"" : s; };
  *target = quoted(chosen);
  *work = quoted(folder);
}

// ---- 周辺機器設定 -----------------------------------------------------------------

CSetupPortDlg::CSetupPortDlg(HWND parent, CREGApp& app)
    : CSettingsDlg(145, parent, app,
                   {{1504, "Use CD", Binding::Check},
                    {1476, "CD Device", Binding::ComboText},
                    {1478, "CD Port", Binding::ComboText},
                    {1480, "Dsp CD", Binding::Check},
                    {1506, "Msg CD", Binding::Text, 0, 40},
                    {1538, "Use JET", Binding::Check},
                    {1542, "JET Interface", Binding::Index},
                    {1539, "JET Port", Binding::ComboText},
                    {1541, "JET Speed", Binding::ComboText},
                    {1471, "Use SA", Binding::Check},
                    {1472, "SA Port", Binding::ComboText},
                    {1474, "Prn SA", Binding::InverseCheck}}) {
  for (int32_t id : {1504, 1538, 1471}) mapCommand(static_cast<uint32_t>(id), [this](uint32_t) { ApplyEnables(); });
  mapNotify(1476, ui::kCbnSelChange, [this]() {
    ApplyDevice();
    ApplyEnables();
  });
  mapNotify(1478, ui::kCbnSelChange, [this]() { ApplyEnables(); });
}

std::vector<std::string> CSetupPortDlg::PortNames() {
  CCommSet set;
  char buffer[CCommSet::kPortListSize] = {};
  int32_t count = 0;
  std::vector<std::string> names;
  const int32_t bytes = set.GetPortList(&count, buffer, sizeof buffer);
  for (int32_t at = 0, i = 0; bytes > 0 && at < bytes && i < count; ++i) {
    const std::string name(buffer + at);
    names.push_back(name);
    at += static_cast<int32_t>(name.size()) + 1;
  }
  if (names.empty())
    for (int n = 1; n <= 5; ++n) names.push_back("COM" + std::to_string(n));
  return names;
}

void CSetupPortDlg::FillLists() {
  SetItems(1476, {kDisplayWindow, "Techno Veins VFD660", "EPSON DM-D30", "EPSON DM-D110"});
  SetItems(1542, {"Ａタイプ（ＰＯＳ接続レスポンス無し）", "Ａタイプ（ＰＯＳ接続レスポンス有り）", "Ｂタイプ",
                  "Ｂタイプ（ＩＮＦＯＸ）"});
  SetItems(1541, {"1200", "2400", "4800", "9600", "19200"});
  SetItems(1473, {"CASIO POS Device SA-7000"});
  ui::setListSelection(item(1473), 0);
  const std::vector<std::string> ports = PortNames();
  SetItems(1539, ports);
  SetItems(1472, ports);
  // The third list follows the stored device.
  ui::setWindowText(item(1476), values["CD Device"]);
  ShowComboText(item(1476), values["CD Device"]);
  ApplyDevice();
}

void CSetupPortDlg::ApplyDevice() {
  const std::string device = ui::windowText(item(1476));
  const std::string kept = ui::windowText(item(1478));
  if (device.empty() || SameNoCase(device, kDisplayWindow)) {
    ui::setWindowText(item(1525), "表示モード(&Q):");
    SetItems(1478, {"常に表示", "待機表示を隠す", "待機中は非表示"});
  } else if (IsDmd(device)) {
    ui::setWindowText(item(1525), "プリンタ(&Q):");
    SetItems(1478, ui::printerNames());
  } else {
    ui::setWindowText(item(1525), "通信ポート(&Q):");
    SetItems(1478, PortNames());
  }
  ShowComboText(item(1478), kept);
}

void CSetupPortDlg::AfterShow() {
  // The SA device is set up by the maker; its controls stay hidden.
  for (int32_t id : {1471, 1472, 1473, 1474, 1551, 1552}) ui::showWindow(item(id), false);
  ApplyEnables();
}

void CSetupPortDlg::ApplyEnables() {
  const bool sa = ui::buttonState(item(1471)) == 1;
  for (int32_t id : {1472, 1473, 1474}) ui::enableWindow(item(id), sa);
  const bool jet = ui::buttonState(item(1538)) == 1;
  for (int32_t id : {1542, 1539, 1541}) ui::enableWindow(item(id), jet);
  const bool cd = ui::buttonState(item(1504)) == 1;
  for (int32_t id : {1476, 1478, 1480, 1506}) ui::enableWindow(item(id), cd);
  // In the display-window mode the idle text shows only while "常に表示".
  const std::string device = ui::windowText(item(1476));
  if (cd && (device.empty() || SameNoCase(device, kDisplayWindow)))
    ui::enableWindow(item(1506), ui::listSelection(item(1478)) <= 0);
}

// ---- 印刷書式設定 -----------------------------------------------------------------

CPrnCtrlDlg::CPrnCtrlDlg(HWND parent, CREGApp& app)
    : CSettingsDlg(146, parent, app,
                   {{1477, "Prn Font", Binding::ComboText},
                    {1479, "Prn Font Dbl", Binding::ComboText},
                    {1481, "Prn Font Ctrl", Binding::ComboText},
                    {1482, "Prn Ctrl Cut", Binding::Text, 0, 255},
                    {1483, "Prn Ctrl Drawer", Binding::Text, 0, 255},
                    {1508, "Prn Blank", Binding::Number, 0, 9},
                    {1488, "Prn Pitch", Binding::Index},
                    {1492, "Prn Fncn", Binding::Check},
                    {1489, "Prn Feed", Binding::Check},
                    {1605, "Prn Under Line", Binding::Check},
                    {1613, "Prn Uchi Hen", Binding::Check}}) {}

void CPrnCtrlDlg::FillLists() {
  std::vector<std::string> printers{kNormalPrinter};
  for (const std::string& p : ui::printerNames()) printers.push_back(p);
  SetItems(1475, printers);
  const std::string chosen = values["Prn Name"];
  if (chosen.empty())
    ui::setListSelection(item(1475), 0);
  else
    ShowComboText(item(1475), chosen);
  std::vector<std::string> fonts{""};
  for (const std::string& f : ui::fontFamilies()) fonts.push_back(f);
  for (int32_t id : {1477, 1479, 1481}) SetItems(id, fonts);
  SetItems(1488, {"１／１改行", "６／５改行", "７／５改行"});
}

void CPrnCtrlDlg::AfterShow() {
  // "Prn Col" 1 (the default) is the fourth button, 46 characters.
  const int32_t button = std::min(3, std::max(0, Int("Prn Col") + 2));
  for (int32_t i = 0; i < 4; ++i) ui::checkButton(item(1484 + i), i == button ? 1 : 0);
  if (m_app.m_bHideHistory) {
    ui::enableWindow(item(1489), false);
    ui::enableWindow(item(1603), false);
  }
}

void CPrnCtrlDlg::onOK() {
  for (int32_t i = 0; i < 4; ++i)
    if (ui::buttonState(item(1484 + i)) == 1) values["Prn Col"] = std::to_string(i - 2);
  const int32_t printer = ui::listSelection(item(1475));
  values["Prn Name"] = printer <= 0 && ui::windowText(item(1475)) == kNormalPrinter ? "" : ui::windowText(item(1475));
  CSettingsDlg::onOK();
}

// ---- イメージサイズ設定 ----------------------------------------------------------

CSetupImageDlg::CSetupImageDlg(HWND parent, CREGApp& app)
    : CSettingsDlg(149, parent, app,
                   {{1495, "BMP Width", Binding::Number, 133, 640}, {1498, "BMP Height", Binding::Number, 100, 400}}) {
  mapCommand(1501, [this](uint32_t) {
    ui::setWindowText(item(1495), "133");
    ui::setWindowText(item(1498), "100");
  });
}

// ---- ロゴファイルの設定 ----------------------------------------------------------

CSetupLogoDlg::CSetupLogoDlg(HWND parent, CREGApp& app)
    : CSettingsDlg(150, parent, app,
                   {{1519, "Logo Path", Binding::Text, 0, 259},
                    {1521, "Logo Offset", Binding::Number, 0, 999},
                    {1524, "Logo Rate", Binding::Number, 1, 999}}) {
  mapCommand(1520, [this](uint32_t) {
    ui::FileDialogRequest request;
    request.kind = ui::FileDialogKind::Open;
    request.defaultExtension = "jpg";
    request.filters = ui::parseFileFilter("Link Files (*.jpg)|*.jpg|All Files (*.*)|*.*||");
    request.fileName = ui::windowText(item(1519));
    std::string chosen;
    if (ui::openFileDialog(handle(), request, chosen)) ui::setWindowText(item(1519), chosen);
  });
}

// ---- オプション設定 ---------------------------------------------------------------

COptionDlg::COptionDlg(HWND parent, CREGApp& app)
    : CSettingsDlg(152, parent, app,
                   {{1589, "Cast Code IMC", Binding::Check},
                    {1526, "Dpt Dialog Bar", Binding::Check},
                    {1535, "Hide Function FKey", Binding::Check},
                    {1546, "Tax Out", Binding::Text, 0, 4},
                    {1547, "Tax In", Binding::Text, 0, 4},
                    {1545, "Tax Detail", Binding::Check},
                    {1522, "Hide History", Binding::Check},
                    {1590, "Input Includ Price", Binding::Check},
                    {1527, "Key Display", Binding::Check},
                    {1528, "Key Number", Binding::Number, 1, 120},
                    {1529, "Key Height", Binding::Number, 22, 100},
                    {1536, "Hide Function Name", Binding::Check},
                    {1537, "Hide Function Key", Binding::Check},
                    {1550, "Ten Key", Binding::Check},
                    {1591, "Recipt Save CSV", Binding::Check},
                    {1604, "Recipt Save CSV Add Date", Binding::Check},
                    {1592, "CSV Save Path", Binding::Text, 0, 259},
                    {1599, "Reserve Name Class", Binding::Index},
                    {1600, "Reserve Trancate", Binding::Check},
                    {1601, "Reserve Path", Binding::Text, 0, 259},
                    {1606, "Rollback", Binding::Check},
                    {1607, "Rollback View", Binding::Check},
                    {1609, "Big Dialog", Binding::Check},
                    {1614, "Uchi Hen", Binding::Check}}) {
  for (int32_t id : {1527, 1591}) mapCommand(static_cast<uint32_t>(id), [this](uint32_t) { ApplyEnables(); });
  mapNotify(1599, ui::kCbnSelChange, [this]() {
    // A fixed class numbers its files: nothing is left behind to empty.
    if (ui::listSelection(item(1599)) > 0) ui::checkButton(item(1600), 0);
    ApplyEnables();
  });
  mapCommand(1593, [this](uint32_t) {
    ui::FileDialogRequest request;
    request.kind = ui::FileDialogKind::Save;
    request.defaultExtension = "csv";
    request.filters = ui::parseFileFilter("Text Files (*.csv;*.txt)|*.csv; *.txt|All Files (*.*)|*.*||");
    request.fileName = ui::windowText(item(1592));
    if (request.fileName.empty()) request.fileName = "TR%Y%m%d.csv";
    std::string chosen;
    if (ui::saveFileDialog(handle(), request, chosen)) ui::setWindowText(item(1592), chosen);
  });
  mapCommand(1602, [this](uint32_t) {
    char folder[260] = {};
    std::snprintf(folder, sizeof folder, "%s", ui::windowText(item(1601)).c_str());
    if (GetPathDlg(handle(), "予約ファイルの場所を選択して下さい", folder, sizeof folder) == 1)
      ui::setWindowText(item(1601), folder);
  });
}

void COptionDlg::FillLists() {
  std::vector<std::string> classes{"任意指定", "02..."};
  for (int n = 20; n <= 29; ++n) classes.push_back(std::to_string(n) + "...");
  SetItems(1599, classes);
}

void COptionDlg::AfterShow() {
  // A register that shows the history cannot be switched to tidying here.
  if (m_app.m_bHistory && ui::buttonState(item(1522)) != 1) ui::enableWindow(item(1522), false);
  ApplyEnables();
}

void COptionDlg::ApplyEnables() {
  const bool keys = ui::buttonState(item(1527)) == 1;
  ui::setEditReadOnly(item(1528), !keys);
  ui::setEditReadOnly(item(1529), !keys);
  for (int32_t id : {1536, 1537}) ui::enableWindow(item(id), keys);
  const bool csv = ui::buttonState(item(1591)) == 1;
  ui::setEditReadOnly(item(1592), !csv);
  for (int32_t id : {1604, 1593}) ui::enableWindow(item(id), csv);
  ui::enableWindow(item(1600), ui::listSelection(item(1599)) <= 0);
}

}  // namespace varnex::shell
