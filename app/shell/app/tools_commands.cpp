// The Tools and File commands that keep the project safe and reach outside
// the register: backup, restore and index check of the project database,
// the import of pictures as thumbnails, and the start of the sales-slip
// program for the manager signed on.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include "app/register/engine/reg_com.h"
#include "app/register/engine/records.h"
#include "app/shell/app/reg_app.h"
#include "app/shell/frames/main_frame.h"
#include "platform/base/clock.h"
#include "platform/base/file.h"
#include "platform/base/message_box.h"
#include "platform/base/path.h"
#include "platform/base/profile.h"
#include "platform/ui/common_dialogs.h"
#include "platform/ui/draw.h"
#include "platform/ui/window.h"
#include "zemta/fileproj_upkeep.h"
#include "zemta/system.h"
#include "zemta/winhelp.h"

namespace varnex::shell {

namespace ui = platform::ui;

namespace {

constexpr const char* kSection = "Settings";
constexpr uint32_t kErrorNoProject = 0x200000FFu;

platform::Profile& Profile() { return platform::Profile::of(platform::ProfileScope::User); }

int Box(HWND owner, const std::string& text, uint32_t style) { return ui::messageBox(owner, text, "", style); }

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

HWND CREGApp::MainWindow() const { return m_pMainFrame ? m_pMainFrame->GetSafeHwnd() : nullptr; }

// ---- backup, restore, index check ---------------------------------------------------

void CREGApp::OnBackupDatabase() {
  if (!m_pRegCom || !m_pRegCom->IsOpen()) {
    if (m_pRegCom) m_pRegCom->ReportError("CRegCom", kErrorNoProject);
    return;
  }
  const platform::LocalTime now = platform::localTime();
  char name[32];
  std::snprintf(name, sizeof name, "Varnex%02u%02u%02u", static_cast<unsigned>(now.year % 100),
                static_cast<unsigned>(now.month), static_cast<unsigned>(now.day));
  ui::FileDialogRequest request;
  request.kind = ui::FileDialogKind::Save;
  request.fileName = std::string(name) + ".dbk";
  request.defaultExtension = "dbk";
  request.filters = ui::parseFileFilter("Backup Files (*.dbk)|*.dbk|All Files (*.*)|*.*||");
  std::string path;
  CMainFrame::DialogOpen open(m_pMainFrame);
  if (!ui::saveFileDialog(MainWindow(), request, path)) return;
  if (FileProjBackup(m_pRegCom->Project(), path.c_str()) != 0) {
    Box(MainWindow(), "ファイルを作成できません\nデータベースのバックアップに失敗しました", platform::kMbIconWarning);
    return;
  }
  Profile().setString(kSection, "Last Backup Path", path);
}

void CREGApp::OnRestoreDatabase() {
  reg::CRegCom* engine = m_pRegCom;
  if (!engine) return;
  if (!engine->IsOpen()) {
    engine->ReportError("CRegCom", kErrorNoProject);
    return;
  }
  // The engine shows the rights message (設定, or 設定の更新保存).
  if (!engine->CheckPermission(reg::kModeProgram, reg::kSaveUpdate)) return;
  CMainFrame::DialogOpen open(m_pMainFrame);
  const uint8_t level = engine->Manager()[reg::clerk::kConfirmLevel.offset];
  if (level < 2) {
    uint32_t style = platform::kMbOkCancel | platform::kMbIconWarning;
    if (level == 0) style |= platform::kMbDefButton2;
    if (Box(MainWindow(),
            "データベースのリストアを行うと、\n現在の設定や精算データが失われます\nデータベースのリストアを行いますか?"
            "\n\n※レシートファイルやイメージファイルは変更されません",
            style) != platform::kIdOk)
      return;
  }
  const std::string last = Profile().getString(kSection, "Last Backup Path", "");
  const int32_t restored =
      FileProjRestore(engine->Project(), last.c_str(), 1,
                      static_cast<FileProjRestoreFunc>(&CREGApp::UpgradeBaseDataFile));
  if (restored == 0) return;  // the file dialog was cancelled: nothing changed
  if (restored < 0) {
    // The restore checks the whole backup before it replaces a file: a
    // failed one has left the project as it was, and the register goes on.
    Box(MainWindow(), "データベースのリストアに失敗しました\n現在のデータは変更されていません",
        platform::kMbIconWarning);
  } else {
    // The restored project is brought up to this program's keys and link
    // records, as at start-up, and the layout and link read again.
    const bool upkept = engine->AddPointAndTaxKeys() == 1 && engine->AddPaymentKeys() == 1 &&
                        engine->CheckOdbcLinkRecords() == 0;
    const bool ready = upkept && (!m_fnBuildAccelerators || m_fnBuildAccelerators()) && ODBCUpdate(nullptr) != 0;
    if (!ready) {
      Box(MainWindow(), "プロジェクトデータベースが壊れています\nアプリケーションの起動に失敗しました",
          platform::kMbIconError);
      if (MainWindow()) ui::postMessage(MainWindow(), ui::kWmClose, 0, 0);
    }
  }
  // A manager signs on again to the data now in place.
  m_bManagerSelected = 0;
  if (m_pMainFrame) {
    m_pMainFrame->ResetIdleTicks();
    ui::postMessage(MainWindow(), WM_TENKEY_PAD, 0, 0);
  }
}

void CREGApp::OnCheckIndexes() {
  if (!m_pRegCom || !m_pRegCom->IsOpen()) {
    if (m_pRegCom) m_pRegCom->ReportError("CRegCom", kErrorNoProject);
    return;
  }
  CMainFrame::DialogOpen open(m_pMainFrame);
  if (Box(MainWindow(), "インデックスファイルの検査と修復には時間がかかります\n実行しますか？",
          platform::kMbOkCancel | platform::kMbIconWarning | platform::kMbDefButton2) != platform::kIdOk)
    return;
  const int32_t repaired = FileProjIdxCheck(m_pRegCom->Project(), 0, FILEIDX_CHECK_REBUILD);
  if (repaired < 0) return;  // the library has said why
  if (repaired == 0) {
    Box(MainWindow(), "インデックスファイルの検査は正常に終了しました", platform::kMbIconWarning);
  } else {
    char text[96];
    std::snprintf(text, sizeof text, "%d個のインデックスファイルを修復しました", static_cast<int>(repaired));
    Box(MainWindow(), text, platform::kMbIconWarning);
  }
}

// ---- image import -------------------------------------------------------------------

ImportResult CREGApp::ImportImages(const std::string& folder) {
  ImportResult result;
  static const char* const kTypes[] = {"gif", "jpeg", "png", "tiff", "emf", "jpg", "tif"};
  // Pictures that share a file title would all become one "<title>.jpg":
  // the newest of them is imported, the others are skipped.
  struct Candidate {
    std::string path;
    int64_t time = 0;
  };
  std::map<std::string, Candidate> newest;
  for (const std::string& name : platform::listFolder(folder, "*")) {
    const std::string path = platform::joinPath(folder, name);
    if (name.empty() || name[0] == '.' || platform::isDirectory(platform::mapPath(path))) continue;  // hidden or a folder
    ++result.candidates;
    const size_t dot = name.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : Lower(name.substr(dot + 1));
    const bool known = std::find_if(std::begin(kTypes), std::end(kTypes),
                                    [&](const char* t) { return extension == t; }) != std::end(kTypes);
    if (!known || path.size() >= 260) continue;
    const std::string title = name.substr(0, dot);
    const int64_t time = platform::fileWriteTime(platform::mapPath(path));
    auto it = newest.find(Lower(title));
    if (it == newest.end() || time > it->second.time) newest[Lower(title)] = {path, time};
  }
  for (const auto& [key, candidate] : newest) {
    ui::Image picture;
    if (!picture.load(platform::mapPath(candidate.path))) continue;
    const std::string name = platform::fileNameOf(candidate.path);
    const std::string title = name.substr(0, name.rfind('.'));
    const std::string target = platform::mapPath(m_strPicturePath + title + ".jpg");
    // Customer-display pictures keep their size; the buttons' are shrunk.
    const bool display = title.size() >= 2 && Lower(title.substr(0, 2)) == "cd";
    const ui::Image out = display ? picture : picture.scaled(m_nBmpWidth, m_nBmpHeight, false);
    if (out.saveJpeg(target)) ++result.imported;
  }
  return result;
}

void CREGApp::OnImportImages() {
  {
    CMainFrame::DialogOpen open(m_pMainFrame);
    char folder[260] = {};
    std::snprintf(folder, sizeof folder, "%s", Profile().getString(kSection, "Image Folder", "").c_str());
    if (GetPathDlg(MainWindow(), "インポートするイメージファイルの場所を選択して下さい", folder, sizeof folder) != 1)
      return;
    Profile().setString(kSection, "Image Folder", folder);
    if (platform::listFolder(folder, "*").empty()) {
      Box(MainWindow(), "ファイルが見つかりません\nイメージファイルのインポートに失敗しました",
          platform::kMbIconWarning);
      return;
    }
    PushCursor(reinterpret_cast<const char*>(uintptr_t{32514}));  // IDC_WAIT
    const ImportResult result = ImportImages(folder);
    PopCursor();
    char text[160];
    int n = std::snprintf(text, sizeof text, "%ld 個のイメージファイルを正常にインポートしました",
                          static_cast<long>(result.imported));
    if (result.candidates != result.imported)
      std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "が、%ld 個のファイルは除外されました",
                    static_cast<long>(result.candidates - result.imported));
    Box(MainWindow(), text, platform::kMbIconInformation);
  }
  // The picture buttons and the customer display read the folder again.
  if (HWND main = MainWindow()) {
    std::vector<HWND> pending{main};
    while (!pending.empty()) {
      HWND w = pending.back();
      pending.pop_back();
      for (HWND child : ui::childWindows(w)) {
        ui::sendMessage(child, WM_DPT_REFRESH, 0, 0);
        pending.push_back(child);
      }
    }
  }
  OpenCustomerDisplay(0, 0, 0);
}

// ---- sales-slip program -------------------------------------------------------------

std::string CREGApp::SalesSlipToken(uint16_t managerNumber, uint16_t pin) {
  const uint32_t v = ~((static_cast<uint32_t>(managerNumber) << 16) | pin);
  const uint32_t w = v + 0x3E7B5D21u;
  std::string token;
  for (int i = 0; i < 8; ++i) token += static_cast<char>('A' + ((w >> (4 * i)) & 0xF) + (i % 2 ? 10 : 0));
  return token;
}

std::string CREGApp::SalesSlipCommandLine(const std::string& link, const std::string& action) const {
  // The program's file name: after the last separator, else after the
  // first colon (a drive), else the whole text; quotes are not part of it.
  std::string unquoted;
  for (char c : link)
    if (c != '"') unquoted += c;
  const size_t slash = unquoted.find_last_of("\\/");
  const size_t colon = unquoted.find(':');
  const std::string name = slash != std::string::npos   ? unquoted.substr(slash + 1)
                           : colon != std::string::npos ? unquoted.substr(colon + 1)
                                                        : unquoted;
  std::string line = link;
  if (Lower(name) == "orvane.exe" && m_pRegCom) {
    const uint8_t* manager = m_pRegCom->Manager();
    line += " " + SalesSlipToken(reg::getU16(manager, reg::clerk::kNumber.offset),
                                 reg::getU16(manager, reg::clerk::kPin.offset));
  }
  if (!action.empty()) line += " " + action;
  return line;
}

void CREGApp::OnSalesSlipProcessing() {
  const std::string link = Profile().getString(kSection, "Smp Link", "");
  const std::string work = Profile().getString(kSection, "Smp Work", "");
  const std::string action = Profile().getString(kSection, "Smp Action", "");
  const std::string text = "売上伝票処理を実行することができません\n売上伝票処理リンクの設定を確認して下さい";
  if (link.empty()) {
    Box(MainWindow(), text, platform::kMbIconWarning);
    return;
  }
  const std::string line = SalesSlipCommandLine(link, action);
  ZemtaProcessInfo info{};
  if (ExecProcess(line.c_str(), 0x20, work.c_str(), &info) == 0) Box(MainWindow(), text, platform::kMbIconWarning);
}

}  // namespace varnex::shell
