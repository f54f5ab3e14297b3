// The settings that start-up reads from section "Settings" of the user's
// profile, each with its default, in the order start-up reads them.
#include <cstdio>
#include <cstring>

#include "app/register/engine/reg_com.h"
#include "app/shell/app/reg_app.h"
#include "platform/base/profile.h"

namespace varnex::shell {

namespace {

const platform::Profile& profile() { return platform::Profile::of(platform::ProfileScope::User); }

int32_t readInt(const char* key, int32_t fallback) {
  return static_cast<int32_t>(profile().getInt(reg::kSettingsSection, key, fallback));
}

std::string readText(const char* key, const char* fallback = "") {
  return profile().getString(reg::kSettingsSection, key, fallback);
}

// Compares ASCII letters without regard to case; other bytes (code page 932
// lead and trail bytes included) must match exactly.
bool sameNoCase(const std::string& a, const std::string& b, size_t n = std::string::npos) {
  if (n == std::string::npos) {
    if (a.size() != b.size()) return false;
    n = a.size();
  } else if (a.size() < n || b.size() < n) {
    return false;
  }
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

std::string PadMark(const std::string& text) {
  std::string padded = text;
  while (padded.size() < 4) padded += ' ';
  return padded;
}

DisplayDevice SelectDisplayDevice(const std::string& device, const std::string& cdPort) {
  DisplayDevice d;
  if (sameNoCase(device, "サブディスプレイウインドウ")) {
    d.secondDisplay = 1;
    d.kanji = 1;
    if (cdPort == "待機表示を隠す") d.idleOption = 1;
    else if (cdPort == "待機中は非表示") d.idleOption = 2;
  } else if (sameNoCase(device, "EPSON DM-D", 10)) {
    d.dmd = 1;
    if (sameNoCase(device, "EPSON DM-D30")) d.kanji = 1;
  }
  return d;
}

std::string ReserveClassCode(int32_t reserveNameClass) {
  if (reserveNameClass < 1) return "";
  if (reserveNameClass == 1) return "02";
  char code[16];
  std::snprintf(code, sizeof code, "%02u", static_cast<unsigned>(reserveNameClass + 18));
  return code;
}

// "Big Dialog" to "Use SA" (and "Prn SA"), then the card terminal's keys.
void CREGApp::ReadDeviceSettings() {
  m_bBigDialog = readInt("Big Dialog", 0);
  m_bRollback = readInt("Rollback", 0);
  m_bRollbackView = readInt("Rollback View", 0);
  m_bInputIncludPrice = readInt("Input Includ Price", 0);
  m_bCastCodeIMC = readInt("Cast Code IMC", 0);
  m_bTenKey = readInt("Ten Key", 0);
  m_bTaxDetail = readInt("Tax Detail", 0);
  m_strTaxOut = PadMark(readText("Tax Out"));
  m_strTaxIn = PadMark(readText("Tax In", "xxxx"));
  m_bHideFunctionName = readInt("Hide Function Name", 0);
  m_bHideFunctionKey = readInt("Hide Function Key", 0);
  m_bHideFunctionFKey = readInt("Hide Function FKey", 0);
  m_bHideHistory = readInt("Hide History", 0);
  m_nKeyHeight = readInt("Key Height", 75);
  m_nKeyNumber = readInt("Key Number", 12);
  m_bKeyDisplay = readInt("Key Display", 0);
  m_bUseSA = readInt("Use SA", 0);
  // Without the device its print word stays 0, whatever is stored.
  m_bPrnSA = m_bUseSA ? readInt("Prn SA", 1) : 0;
  m_bUseJET = readInt("Use JET", 0);
  m_nJetInterface = readInt("JET Interface", 0);
  m_nJetSequenceNumber = readInt("JET Sequence Number", 1);
  m_bJetInterface = m_nJetInterface > 0 ? 1 : 0;
}

// "Use CD", "CD Device", then "BMP Width" to "Logo Rate".
void CREGApp::ReadDisplaySettings() {
  m_bUseCD = readInt("Use CD", 0);
  const std::string device = readText("CD Device");
  const std::string idle = sameNoCase(device, "サブディスプレイウインドウ") ? readText("CD Port") : std::string();
  m_Display = SelectDisplayDevice(device, idle);
  m_nBmpWidth = readInt("BMP Width", 133);
  m_nBmpHeight = readInt("BMP Height", 100);
  m_bDspCD = readInt("Dsp CD", 0);
  m_strMsgCD = readText("Msg CD");
  m_strLogoPath = readText("Logo Path");
  m_nLogoOffset = readInt("Logo Offset", 0);
  m_nLogoRate = readInt("Logo Rate", 100);
}

// The engine's file settings.
void CREGApp::ReadFileSettings() {
  if (!m_pRegCom) return;
  m_pRegCom->SetPointUpdateAtOnce(readInt("Point Update at once", 0));
  m_pRegCom->SetSaveReceiptCsv(readInt("Recipt Save CSV", 0));
  m_pRegCom->SetCsvTimeColumn(readInt("Recipt Save CSV Add Date", 0));
  m_pRegCom->SetReceiptCsvPathFormat(readText("CSV Save Path"));
}

void CREGApp::ReadReserveSettings() {
  m_nReserveNameClass = readInt("Reserve Name Class", 0);
  m_bReserveTrancate = readInt("Reserve Trancate", 0);
  m_strReservePath = readText("Reserve Path");
  MakeReserveClassCode();
  m_strReserveFile.clear();
}

void CREGApp::MakeReserveClassCode() { m_strReserveClassCode = ReserveClassCode(m_nReserveNameClass); }

}  // namespace varnex::shell
