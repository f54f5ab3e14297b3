// The Tools commands that edit settings: each loads its keys of section
// "Settings" into its dialog, runs it, and on OK writes every key back and
// applies the values to the running program (printer, options, the serial
// ports, picture size, logo, the sales-slip link). Cancel changes nothing.
#include <cstdlib>
#include <string>
#include <vector>

#include "app/register/engine/reg_com.h"
#include "app/shell/app/reg_app.h"
#include "app/shell/dialogs/setup_dialogs.h"
#include "app/shell/frames/main_frame.h"
#include "platform/base/message_box.h"
#include "platform/base/profile.h"
#include "platform/ui/view.h"
#include "platform/ui/window.h"
#include "quorex/serial.h"

namespace varnex::shell {

namespace ui = platform::ui;

namespace {

constexpr const char* kSection = "Settings";

platform::Profile& Profile() { return platform::Profile::of(platform::ProfileScope::User); }

// A key with its default: a number, or a text when text is set.
struct Key {
  const char* name;
  int64_t number = 0;
  const char* text = nullptr;
};

void Load(CSettingsDlg& dialog, const std::vector<Key>& keys) {
  for (const Key& k : keys)
    dialog.values[k.name] = k.text ? Profile().getString(kSection, k.name, k.text)
                                   : std::to_string(Profile().getInt(kSection, k.name, k.number));
}

void Store(const CSettingsDlg& dialog, const std::vector<Key>& keys) {
  for (const Key& k : keys) {
    auto it = dialog.values.find(k.name);
    if (it == dialog.values.end()) continue;
    if (k.text)
      Profile().setString(kSection, k.name, it->second);
    else
      Profile().setInt(kSection, k.name, std::strtoll(it->second.c_str(), nullptr, 10));
  }
}

const std::vector<Key> kPrintKeys = {
    {"Prn Name", 0, ""},       {"Prn Font", 0, ""},      {"Prn Font Dbl", 0, ""}, {"Prn Font Ctrl", 0, ""},
    {"Prn Ctrl Cut", 0, ""},   {"Prn Ctrl Drawer", 0, ""}, {"Prn Col", 1},        {"Prn Pitch", 1},
    {"Prn Fncn", 0},           {"Prn Feed", 1},          {"Prn Blank", 0},        {"Prn Under Line", 0},
    {"Prn Uchi Hen", 0}};

const std::vector<Key> kOptionKeys = {
    {"Big Dialog", 0},          {"Rollback", 0},           {"Rollback View", 0},     {"Reserve Name Class", 0},
    {"Reserve Trancate", 0},    {"Reserve Path", 0, ""},   {"Recipt Save CSV", 0},   {"Recipt Save CSV Add Date", 0},
    {"CSV Save Path", 0, ""},   {"Input Includ Price", 0}, {"Cast Code IMC", 0},     {"Ten Key", 0},
    {"Tax Detail", 0},          {"Tax Out", 0, ""},        {"Tax In", 0, "xxxx"},    {"Hide Function Name", 0},
    {"Hide Function Key", 0},   {"Hide Function FKey", 0}, {"Key Height", 75},       {"Key Number", 12},
    {"Dpt Dialog Bar", 0},      {"Key Display", 0},        {"Hide History", 0},      {"Uchi Hen", 0}};

const std::vector<Key> kPortKeys = {
    {"Use SA", 0},     {"SA Port", 0, ""},       {"Prn SA", 0},        {"Use JET", 0},        {"JET Interface", 0},
    {"JET Port", 0, ""}, {"JET Speed", 0, "9600"}, {"Use CD", 0},       {"CD Device", 0, ""},  {"CD Port", 0, ""},
    {"Dsp CD", 0},     {"Msg CD", 0, ""}};

}  // namespace

void CREGApp::OnPrintFormat() {
  CMainFrame::DialogOpen open(m_pMainFrame);
  CPrnCtrlDlg dialog(MainWindow(), *this);
  Load(dialog, kPrintKeys);
  if (dialog.doModal() != 1) return;
  Store(dialog, kPrintKeys);
  LoadPrinterSettings();
  LoadGeneralSettings();
}

void CREGApp::OnOptions() {
  CMainFrame::DialogOpen open(m_pMainFrame);
  COptionDlg dialog(MainWindow(), *this);
  Load(dialog, kOptionKeys);
  if (dialog.doModal() != 1) return;
  Store(dialog, kOptionKeys);
  auto value = [&](const char* key) { return dialog.Int(key); };
  m_bUchiHen = value("Uchi Hen");
  m_bRollback = value("Rollback");
  m_bRollbackView = value("Rollback View");
  m_bInputIncludPrice = value("Input Includ Price");
  m_bCastCodeIMC = value("Cast Code IMC");
  m_bTaxDetail = value("Tax Detail");
  m_bHideHistory = value("Hide History");
  m_bTenKey = value("Ten Key");
  m_nReserveNameClass = value("Reserve Name Class");
  m_bReserveTrancate = value("Reserve Trancate");
  if (m_pRegCom) {
    m_pRegCom->SetSaveReceiptCsv(value("Recipt Save CSV"));
    m_pRegCom->SetCsvTimeColumn(value("Recipt Save CSV Add Date"));
    m_pRegCom->SetReceiptCsvPathFormat(dialog.values["CSV Save Path"]);
  }
  m_strTaxOut = PadMark(dialog.values["Tax Out"]);
  m_strTaxIn = PadMark(dialog.values["Tax In"]);
  m_strReservePath = dialog.values["Reserve Path"];
  MakeReserveClassCode();

  // The touch keys: a new size rebuilds the pane, a switch shows or hides it.
  bool rebuilt = false;
  const int32_t display = value("Key Display"), height = value("Key Height"), number = value("Key Number");
  if (m_pMainFrame) {
    const int32_t bar = m_pMainFrame->CurrentBarId();
    if (display && m_bKeyDisplay && (height != m_nKeyHeight || number != m_nKeyNumber)) {
      m_bKeyDisplay = 0;
      m_pMainFrame->RebuildModeLayout(bar);
      m_bKeyDisplay = 1;
      m_nKeyHeight = height;
      m_nKeyNumber = number;
      m_pMainFrame->RebuildModeLayout(bar);
      rebuilt = true;
    } else if (display != m_bKeyDisplay) {
      m_bKeyDisplay = display;
      m_nKeyHeight = height;
      m_nKeyNumber = number;
      m_pMainFrame->RebuildModeLayout(bar);
      rebuilt = true;
    }
    if (value("Big Dialog") != m_bBigDialog) {
      m_bBigDialog = value("Big Dialog");
      m_pMainFrame->RebuildModeLayout(-1);
      rebuilt = true;
    }
  } else {
    m_bKeyDisplay = display;
    m_nKeyHeight = height;
    m_nKeyNumber = number;
    m_bBigDialog = value("Big Dialog");
  }
  if (value("Hide Function Name") != m_bHideFunctionName || value("Hide Function Key") != m_bHideFunctionKey) {
    m_bHideFunctionName = value("Hide Function Name");
    m_bHideFunctionKey = value("Hide Function Key");
    if (m_bKeyDisplay && !rebuilt && m_pMainFrame && m_pMainFrame->TopView()) m_pMainFrame->TopView()->invalidate();
  }
  if (value("Hide Function FKey") != m_bHideFunctionFKey) {
    m_bHideFunctionFKey = value("Hide Function FKey");
    if (m_pMainFrame && m_pMainFrame->RightView()) m_pMainFrame->RightView()->invalidate();
  }
}

void CREGApp::OnPeripherals() {
  CMainFrame::DialogOpen open(m_pMainFrame);
  CSetupPortDlg dialog(MainWindow(), *this);
  Load(dialog, kPortKeys);
  // "Prn SA" falls back to "Use SA"; the dialog's box holds its inverse.
  dialog.values["Prn SA"] =
      std::to_string(Profile().getInt(kSection, "Prn SA", Profile().getInt(kSection, "Use SA", 0)));
  const intptr_t result = dialog.doModal();
  if (result == 3) {
    ui::messageBox(MainWindow(), "プリンタの一覧を取得できません", "", platform::kMbIconWarning);
    return;
  }
  if (result != 1) return;
  Store(dialog, kPortKeys);
  m_bUseSA = dialog.Int("Use SA");
  m_bPrnSA = m_bUseSA ? dialog.Int("Prn SA") : 0;
  m_bUseJET = dialog.Int("Use JET");
  m_nJetInterface = dialog.Int("JET Interface");
  m_bJetInterface = m_nJetInterface > 0 ? 1 : 0;
  m_bUseCD = dialog.Int("Use CD");
  ReadDisplaySettings();
  if (!(m_bUseCD && m_Display.secondDisplay))
    for (const char* key : {"Cd LeftPt", "Cd TopPt", "Cd RightPt", "Cd BottomPt"}) Profile().setInt(kSection, key, 0);
  LoadPrinterSettings();
  CreateDisplayFonts();
  if (!LoadGeneralSettings()) return;
  ReopenSerialPorts();
  OpenCustomerDisplay(0, 0, 0);
}

void CREGApp::ReopenSerialPorts() {
  if (!m_pMainFrame) return;
  m_bOpenSA = m_bOpenJET = m_bOpenCD = 0;
  {
    // The receive handlers share this guard and leave a notice for later
    // while it is held: none drains a port as it is closed under it.
    reg::CCommGuardHold hold(m_pMainFrame->CommGuard());
    m_pMainFrame->AttachDevices();  // the devices see their ports closed
    for (CSerial* port : {m_pSerialSA, m_pSerialJET, m_pSerialCD})
      if (port) port->CommClose();
  }
  // The ports open again with the stored names, each failure said.
  OpenSerialPorts();
}

void CREGApp::OnImageSize() {
  CSetupImageDlg dialog(MainWindow(), *this);
  dialog.values["BMP Width"] = std::to_string(m_nBmpWidth);
  dialog.values["BMP Height"] = std::to_string(m_nBmpHeight);
  {
    CMainFrame::DialogOpen open(m_pMainFrame);
    if (dialog.doModal() != 1) return;
  }
  m_nBmpWidth = dialog.Int("BMP Width");
  m_nBmpHeight = dialog.Int("BMP Height");
  Profile().setInt(kSection, "BMP Width", m_nBmpWidth);
  Profile().setInt(kSection, "BMP Height", m_nBmpHeight);
  if (m_pMainFrame) {
    const int32_t bar = m_pMainFrame->CurrentBarId();
    m_pMainFrame->RebuildModeLayout(120);
    m_pMainFrame->RebuildModeLayout(bar);
  }
  ui::messageBox(MainWindow(), "イメージサイズを変更しました\nイメージを最適化するには、イメージファイルのインポートを行います",
                 "", platform::kMbIconInformation);
}

void CREGApp::OnLogoFile() {
  CSetupLogoDlg dialog(MainWindow(), *this);
  dialog.values["Logo Path"] = m_strLogoPath;
  dialog.values["Logo Offset"] = std::to_string(m_nLogoOffset);
  dialog.values["Logo Rate"] = std::to_string(m_nLogoRate);
  if (dialog.doModal() != 1) return;
  m_strLogoPath = dialog.values["Logo Path"];
  m_nLogoOffset = dialog.Int("Logo Offset");
  m_nLogoRate = dialog.Int("Logo Rate");
  Profile().setString(kSection, "Logo Path", m_strLogoPath);
  Profile().setInt(kSection, "Logo Offset", m_nLogoOffset);
  Profile().setInt(kSection, "Logo Rate", m_nLogoRate);
}

void CREGApp::OnSalesSlipLink() {
  CMainFrame::DialogOpen open(m_pMainFrame);
  CSmpLinkDlg dialog(MainWindow(), *this);
  const std::vector<Key> keys = {{"Smp Link", 0, ""}, {"Smp Work", 0, ""}, {"Smp Action", 0, ""}};
  Load(dialog, keys);
  if (dialog.doModal() != 1) return;
  Store(dialog, keys);
}

}  // namespace varnex::shell
