// Start-up, the close check and shut-down of the application object.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/register/engine/reg_com.h"
#include "app/resources/varnex_resources.h"
#include "app/shell/app/reg_app.h"
#include "app/shell/frames/main_frame.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"
#include "platform/base/local_channel.h"
#include "platform/base/message_box.h"
#include "platform/base/cp932.h"
#include "platform/base/path.h"
#include "platform/base/power.h"
#include "platform/base/profile.h"
#include "platform/base/system_info.h"
#include "platform/ui/instance_link.h"
#include "platform/ui/window.h"
#include "quorex/comm_ctrl.h"
#include "quorex/serial.h"
#include "zemta/combine.h"
#include "zemta/fileproj_upkeep.h"
#include "zemta/system.h"

namespace varnex::shell {

namespace ui = platform::ui;

namespace {

const char kThumbnailsFailed[] = "サムネイルを保存するためのフォルダが作成できません\nシステムの起動に失敗しました";
const char kSaOpenFailed[] = "通信ポートのオープンに失敗しました\nＰＯＳデバイスとの通信はできません";
const char kJetOpenFailed[] = "通信ポートのオープンに失敗しました\nカード決済端末との通信はできません";
const char kCdOpenFailed[] = "通信ポートのオープンに失敗しました\nカスタマーディスプレイとの通信はできません";
const char kAlreadyRunning[] = "Varnexはすでに起動しています\n起動中のVarnexを表示します";
const char kRuntimeFolderRefused[] =
    "作業用フォルダ %s は他のユーザーも使用できる状態のため使用できません\nシステムの起動に失敗しました";
const char kSerialDefaults[] = "COM1,9600,8,なし,1,なし";
const char kJetDefaults[] = "COM1,9600,8,偶数,1,なし";
constexpr const char* kTitlePrefix = "Varnex";

platform::Profile& profile() { return platform::Profile::of(platform::ProfileScope::User); }
int32_t readInt(const char* key, int32_t fallback) {
  return static_cast<int32_t>(profile().getInt(reg::kSettingsSection, key, fallback));
}
void writeInt(const char* key, int32_t value) { profile().setInt(reg::kSettingsSection, key, value); }

int showBox(HWND owner, const std::string& text, uint32_t style) {
  platform::MessageBoxRequest request;
  request.owner = owner;
  request.text = text;
  request.style = style;
  return platform::showMessageBox(request);
}

}  // namespace

int32_t CREGApp::OpenModeView(int32_t mode, int32_t flag) { return m_fnOpenModeView ? m_fnOpenModeView(mode, flag) : 0; }

// Two registers on one data folder would share the temporary transaction
// files, the journals and the serial ports: the second one stops and shows
// the first. True when this one must not go on.
bool CREGApp::RefuseSecondInstance() {
  HWND self = m_pMainFrame->GetSafeHwnd();
  if (!ui::publishWindows()) {
    char text[1200];
    std::snprintf(text, sizeof text, kRuntimeFolderRefused, platform::runtimeFolderPath().c_str());
    showBox(self, text, platform::kMbIconError);
    return true;
  }
  HWND other = ZemtaIsSameWindow(self, 21, kTitlePrefix);
  if (!other) return false;
  showBox(self, kAlreadyRunning, platform::kMbIconInformation);
  if (ui::isForeignWindow(other)) ui::activateForeignWindow(other);
  else ui::bringToFront(other);
  return true;
}

// The shipped data on a first run: the combined backup beside the program is
// split into "LocDat\" when its base data file is missing.
bool CREGApp::FirstRunRestore() {
  // The name's case may differ on disk ("POS_BAS.DBF").
  if (platform::fileExists(platform::mapPath(m_strWorkFolderInUse + "LocDat/POS_BAS.dbf"))) return true;
  std::string programFolder = m_strProgramFolder.empty() ? platform::programFolder() : m_strProgramFolder;
  m_strPicturePath = platform::withSeparator(programFolder, '/') + "Varnex.dbk";
  const std::string target = m_strWorkFolderInUse + "LocDat\\";
  platform::createDirectories(m_strWorkFolderInUse + "LocDat");
  // The library reports its own error (a missing backup among them).
  return ApartFile(m_strPicturePath.c_str(), target.c_str()) >= 0;
}

bool CREGApp::InitInstance() {
  ui::ensureApplication();
  if (!LoadVarnexResources()) return false;
  m_strWorkFolderInUse = platform::withSeparator(m_strWorkFolder.empty() ? reg::DefaultDataFolder() : m_strWorkFolder, '/');
  // 5-8: the devices' and the display's settings.
  m_pSerialSA = new CSerial;
  ReadDeviceSettings();
  m_pSerialJET = new CSerial;
  m_pSerialCD = new CSerial;
  ReadDisplaySettings();
  // 10: the main frame, at the place step 12 gives it.
  m_pMainFrame = new CMainFrame(*this);
  const bool iconic = readInt("IsIconic", 0) != 0;
  const bool zoomed = readInt("IsZoomed", 0) != 0;
  ui::Rect rect{0, 0, 640, 480};
  if (!m_pMainFrame->Create(rect)) return false;
  HWND frame = m_pMainFrame->GetSafeHwnd();
  if (RefuseSecondInstance()) return false;
  // 12: window placement; a missing corner defaults from the current place.
  if (iconic) {
    ui::showWindowState(frame, ui::WindowShow::Minimized);
  } else if (zoomed) {
    ui::showWindowState(frame, ui::WindowShow::Maximized);
  } else {
    const ui::Rect now = ui::windowRect(frame);
    ui::Rect placed;
    placed.left = readInt("LeftPt", now.left);
    placed.top = readInt("TopPt", now.top);
    placed.right = readInt("RightPt", now.left + 640);
    placed.bottom = readInt("BottomPt", now.top + 480);
    ui::showWindowState(frame, ui::WindowShow::Normal);
    ui::moveWindow(frame, placed);
  }
  // 13: version texts for the About box.
  char fileVersion[ZEMTA_VERINFO_TEXT_SIZE] = {}, product[ZEMTA_VERINFO_TEXT_SIZE] = {},
       legal[ZEMTA_VERINFO_TEXT_SIZE] = {};
  if (!ZemtaGetVerInfo("Varnex", fileVersion, product, legal)) return false;
  m_strProductVersion = product;
  m_strLegalNotice = legal;
  // 14: first-run restore.
  if (!platform::isDirectory(m_strWorkFolderInUse) && !platform::createDirectories(m_strWorkFolderInUse)) return false;
  if (!FirstRunRestore()) return false;
  // 15: the data engine and the names it is given.
  m_engine = std::make_unique<reg::CRegCom>();
  m_pRegCom = m_engine.get();
  SetPrintEngine(m_pRegCom);
  m_pRegCom->SetOwnerWnd(frame);
  m_pRegCom->SetDataFolder(m_strWorkFolderInUse);
  const std::string user = platform::userName();
  if (!user.empty()) m_pRegCom->SetUserName(user.c_str());
  m_pRegCom->SetHostName();
  // Empty when absent (a machine without the remote server has no key).
  char server[4096] = {};
  if (platform::Profile::of(platform::ProfileScope::Machine).hasSection(reg::kMachineKey))
    ZemtaRegKeyQueryString(ZEMTA_HKEY_LOCAL_MACHINE, reg::kMachineKey, "Server", server, "");
  m_pRegCom->SetServerName(server);
  // 16: the one-time upgrade of the base data file.
  if (readInt("PayPay support", 0) == 0) {
    UpgradeBaseDataFile();
    writeInt("PayPay support", 1);
  }
  // 17: the project; the engine shows why it cannot open it.
  if (!m_pRegCom->Open()) {
    UpgradeBaseDataFile();
    return false;
  }
  // 18: an abnormal end of the previous run (a second instance never gets
  // this far) rebuilds the indexes.
  if (readInt("Fault", 0) != 0) {
    if (FileProjIdxCheck(m_pRegCom->Project(), 0, 4) == -1) return false;
    writeInt("Fault", 0);
  }
  // 19-21.
  ReadFileSettings();
  ReadReserveSettings();
  if (m_fnBuildAccelerators && !m_fnBuildAccelerators()) return false;
  // 22: screen fonts.
  m_nListFontHeight = readInt("List Font Height", 16);
  const ScreenFont fonts[5] = {{"ＭＳ ゴシック", 16}, {"ＭＳ ゴシック", 24}, {"ＭＳ Ｐゴシック", 12},
                               {"ＭＳゴシック", m_nListFontHeight}, {"ＭＳ Ｐゴシック", 10}};
  for (int i = 0; i < 5; ++i) m_Fonts[i] = fonts[i];
  // The first bar was made before the fonts were known.
  m_pMainFrame->ApplyBarFonts();
  // 23: printer settings and fonts.
  LoadReceiptSettings();
  ReadDeviceSettings();  // the receipt settings share keys with the device words
  LoadPrinterSettings();
  if (!m_bUseSA) m_bPrnSA = 0;  // without the device its print word stays 0
  // 24.
  CreateDisplayFonts();
  // 25: the picture folder.
  m_strPicturePath = m_strWorkFolderInUse + "Thumbnails";
  if (!platform::isDirectory(m_strPicturePath) && !platform::createDirectories(m_strPicturePath)) {
    showBox(frame, kThumbnailsFailed, platform::kMbIconError);
    return false;
  }
  m_strPicturePath += "\\";
  // 26.
  m_bPrnUchiHen = readInt("Prn Uchi Hen", 0);
  m_bUchiHen = readInt("Uchi Hen", 0);
  // 27-29: the serial devices.
  OpenSerialPorts();
  // 30.
  OpenCustomerDisplay(0, 0, 0);
  // 31: the two registration screens, before anybody signs on.
  m_bStartupOpening = 1;
  m_nResumedMode = 0;
  OpenModeView(7, 0);
  OpenModeView(8, 0);
  // A sale taken up again is what the clerk goes on with: its frame in front.
  if (m_nResumedMode != 0) OpenModeView(m_nResumedMode, 1);
  m_nResumedMode = 0;
  m_bStartupOpening = 0;
  // 32: the sign-on lock.
  m_bCasNoTimeout = readInt("Cas No Timeout", 0);
  ui::postMessage(frame, WM_TENKEY_PAD, 0, 0);
  // 33-34.
  writeInt("Fault", readInt("Fault", 0) + 1);
  return LoadGeneralSettings() != 0;
}

void CREGApp::OpenSerialPorts() {
  HWND frame = m_pMainFrame->GetSafeHwnd();
  m_strSaPort = profile().getString(reg::kSettingsSection, "SA Port", "");
  m_strJetPort = profile().getString(reg::kSettingsSection, "JET Port", "");
  m_strJetSpeed = profile().getString(reg::kSettingsSection, "JET Speed", "9600");
  m_strCdPort = profile().getString(reg::kSettingsSection, "CD Port", "");
  // "SA": a missing device is reported and the register goes on without it.
  CCommCtrl& sa = m_pSerialSA->GetCommCtrl();
  sa.SetSettings(kSerialDefaults);
  sa.SetCommLogging(0);
  m_pSerialSA->SetDefaultMode(0x40000);
  m_pSerialSA->SetBinMode(0x11F0200, 2, 0xFF, 2, 1, 3, 4, 1);
  m_pSerialSA->SetRetry(8);
  m_pSerialSA->SetDefaultTimeOut(1000);
  if (m_bUseSA) {
    sa.SetPortName(m_strSaPort.c_str());
    m_bOpenSA = m_pSerialSA->CommOpen(frame) ? 1 : 0;
    if (!m_bOpenSA) showBox(frame, kSaOpenFailed, platform::kMbIconWarning);
  }
  // "JET": the card terminal.
  m_pSerialJET->SetMsgIDEvent(WM_COMM_JET);
  CCommCtrl& jet = m_pSerialJET->GetCommCtrl();
  jet.SetSettings(kJetDefaults);
  jet.SetCommLogging(0);
  if (m_bUseJET) {
    jet.SetPortName(m_strJetPort.c_str());
    jet.SetBoudRate(m_strJetSpeed.c_str());
    jet.SetParity(m_nJetInterface < 2 ? "偶数" : "なし");
    m_bOpenJET = m_pSerialJET->CommOpen(frame) ? 1 : 0;
    if (!m_bOpenJET) showBox(frame, kJetOpenFailed, platform::kMbIconWarning);
  }
  // "CD": a serial pole display (the sub-display window and DM-D displays
  // are driven otherwise).
  m_pSerialCD->SetMsgIDEvent(WM_COMM_CD);
  CCommCtrl& cd = m_pSerialCD->GetCommCtrl();
  cd.SetSettings(kSerialDefaults);
  cd.SetCommLogging(0);
  if (m_bUseCD && !m_Display.secondDisplay && !m_Display.dmd) {
    cd.SetPortName(m_strCdPort.c_str());
    m_bOpenCD = m_pSerialCD->CommOpen(frame) ? 1 : 0;
    if (!m_bOpenCD) showBox(frame, kCdOpenFailed, platform::kMbIconWarning);
  }
  m_pMainFrame->AttachDevices();
  m_pMainFrame->SendSaCommand();
  m_pMainFrame->UpdateCustomerDisplay("");
}

bool CREGApp::SaveAllModified() {
  // The mode frames are asked first (they come with the mode screens: a
  // frame refuses by its own close handler).
  if (m_pMainFrame) {
    for (ui::ChildFrame* child : m_pMainFrame->Frame().childFrames())
      if (!child->close()) return false;
    HWND frame = m_pMainFrame->GetSafeHwnd();
    const bool iconic = ui::isMinimized(frame), zoomed = ui::isMaximized(frame);
    writeInt("IsIconic", iconic ? 1 : 0);
    writeInt("IsZoomed", zoomed ? 1 : 0);
    if (!iconic && !zoomed) {
      const ui::Rect r = ui::windowRect(frame);
      writeInt("LeftPt", r.left);
      writeInt("TopPt", r.top);
      writeInt("RightPt", r.right);
      writeInt("BottomPt", r.bottom);
    }
  }
  const int32_t fault = readInt("Fault", 0) - 1;
  writeInt("Fault", fault < 0 ? 0 : fault);
  return true;
}

bool CREGApp::CloseMainWindow() {
  if (!m_pMainFrame) return true;
  if (!SaveAllModified()) return false;
  ui::showWindow(m_pMainFrame->GetSafeHwnd(), false);
  return true;
}

void CREGApp::CloseMainWindowLater(int32_t powerOff) {
  m_bPowerOffAtExit = powerOff ? 1 : 0;
  if (m_pMainFrame) ui::postMessage(m_pMainFrame->GetSafeHwnd(), ui::kWmClose, 0, 0);
}

int CREGApp::ExitInstance() {
  // 1: the customer display's pictures (and its window, before the main
  // frame that owns it goes).
  CloseCustomerDisplay();
  // 2: a print job still open.
  AbortPrintJob();
  // 3: the dialogs of the lock and the engine.
  if (m_hTenKeyDlg && ui::isWindow(m_hTenKeyDlg)) ui::destroyWindow(m_hTenKeyDlg);
  m_hTenKeyDlg = nullptr;
  delete m_pMainFrame;
  m_pMainFrame = nullptr;
  m_hAccountDlg = nullptr;
  SetPrintEngine(nullptr);
  m_pRegCom = nullptr;
  m_engine.reset();
  // 5: the ports, "CD", "JET", "SA"; only an opened one is closed.
  struct Port {
    CSerial** port;
    int32_t* open;
  };
  for (Port p : {Port{&m_pSerialCD, &m_bOpenCD}, Port{&m_pSerialJET, &m_bOpenJET}, Port{&m_pSerialSA, &m_bOpenSA}}) {
    if (*p.port && *p.open) (*p.port)->CommClose();
    delete *p.port;
    *p.port = nullptr;
    *p.open = 0;
  }
  // 6: the power-off the day's settlement asked for, now that every file
  // of the day is closed.
  if (m_bPowerOffAtExit) {
    m_bPowerOffAtExit = 0;
    std::string reason;
    if (!platform::powerOffSystem(&reason)) {
      std::string text = "システムをシャットダウンできませんでした\nＶａｒｎｅｘ は終了しています";
      if (!reason.empty()) text += "\n\n" + platform::toCp932Lossy(reason);
      ui::messageBox(nullptr, text, "", platform::kMbIconWarning);
    }
  }
  return 0;
}

}  // namespace varnex::shell
