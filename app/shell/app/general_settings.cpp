// The general settings record with the tax rates, the state of the ODBC link
// and the one-time upgrade of the local base data file.
#include <cstring>
#include <string>

#include "app/register/engine/reg_com.h"
#include "app/register/odbc/odbc_link.h"
#include "app/shell/app/reg_app.h"
#include "platform/base/file.h"
#include "platform/base/message_box.h"
#include "platform/base/path.h"
#include "platform/base/profile.h"
#include "zemta/filedb.h"

namespace varnex::shell {

namespace {

constexpr uint32_t kErrorNoProject = 0x200000FFu;
constexpr uint32_t kErrorShortHeader = 0x20000005u;
// Old base data files are exactly this long; the upgrade appends the
// barcode-payment fields as zero bytes.
constexpr int64_t kOldBaseDataLength = 352;
constexpr int64_t kPaymentFieldsLength = 1184;
constexpr const char* kBaseDataFile = "LocDat/POS_BAS.DBF";
// Offset of the mode number byte (bits 0-4) in the settings record.
constexpr size_t kSettingsModeByte = 0x1F;

const char kLinkKept[] =
    "外部データベースに接続できませんでした\nリンクの設定は保存されたまま、リンクなしで動作します";

// Appends the payment fields to a base data file of the old length; true
// when it grew.
bool upgradeFile(const std::string& path) {
  platform::File file = platform::File::open(path, platform::kFileRead | platform::kFileWrite,
                                             platform::kShareRead | platform::kShareWrite, platform::kOpenExisting);
  if (!file.isOpen()) return false;  // no file: nothing to upgrade
  if (file.seek(0, platform::kSeekEnd) != kOldBaseDataLength) return false;
  std::string zeros(static_cast<size_t>(kPaymentFieldsLength), '\0');
  uint32_t done = 0;
  return file.write(zeros.data(), static_cast<uint32_t>(zeros.size()), &done) && done == zeros.size();
}

}  // namespace

int32_t CREGApp::LoadGeneralSettings() {
  if (!m_pRegCom || !m_pRegCom->IsOpen()) {
    if (m_pRegCom) m_pRegCom->ReportError("CRegCom", kErrorNoProject);
    return 0;
  }
  // The record, the four tax rates and the order-sales link block.
  if (m_pRegCom->ReloadSettings() != 0) return 0;
  const uint8_t mode = m_pRegCom->Settings()[kSettingsModeByte] & 0x1F;
  m_bHistory = (m_bPrnSA != 0 || m_nPrnFeed == 0) && mode <= 2 && m_bHideHistory == 0 ? 1 : 0;
  return 1;
}

int32_t CREGApp::ODBCUpdate(const char* newConnect) {
  reg::CRegCom* engine = m_pRegCom;
  if (!engine || !engine->IsOpen()) {
    if (engine) engine->ReportError("CRegCom", kErrorNoProject);
    return 0;
  }
  char stored[reg::kOdbcHeaderLen + 1] = {};
  if (FileDBRead(engine->Table(reg::kOdbcLinkTable), 0, stored, reg::kOdbcHeaderLen) !=
      static_cast<int32_t>(reg::kOdbcHeaderLen)) {
    engine->ReportError("CREGApp::ODBCUpdate", kErrorShortHeader);
    return 0;
  }
  const bool storedEmpty = stored[0] == 0;
  const bool unchanged = newConnect && std::strncmp(newConnect, stored, reg::kOdbcHeaderLen) == 0;
  int32_t result = 1;
  if (storedEmpty) {
    // No link wanted: one still open (the string was just cleared) goes.
    if (!unchanged && engine->OdbcDatabase()) engine->OdbcDropLink();
  } else {
    bool linked = unchanged ? true : engine->OdbcConnect() == 1;
    if (linked) linked = engine->PrepareOdbcQueries() == 0;
    if (!linked) {
      // A link that cannot be reached now (a server restarting, a network
      // outage) keeps its stored connection string: the register runs
      // without it and the next start or link change tries again.
      engine->OdbcDropLink();
      platform::MessageBoxRequest box;
      box.owner = nullptr;
      box.text = kLinkKept;
      box.style = platform::kMbIconWarning;
      platform::showMessageBox(box);
      result = 0;
    }
  }
  // The setup menu's PLU and customer buttons follow the link; the menu
  // screen comes with the mode frames.
  return result;
}

void CREGApp::UpgradeBaseDataFile() {
  if (upgradeFile(m_strWorkFolderInUse + kBaseDataFile))
    platform::Profile::of(platform::ProfileScope::User).setInt(reg::kSettingsSection, "PayPay support", 1);
}

void CREGApp::UpgradeBaseDataFile(const char* folder) {
  upgradeFile(platform::withSeparator(folder ? folder : "") + kBaseDataFile);
}

}  // namespace varnex::shell
