// The main frame's serial devices: the "SA" device, the customer display on
// a pole and the card-payment terminal. Their receive handlers share one
// guard, held only while a port's queue is drained.
#include "app/register/devices/jet_dialog.h"
#include "app/register/engine/reg_com.h"
#include "app/register/payment/code_payment.h"
#include "app/shell/app/reg_app.h"
#include "zemta/filedb.h"
#include "app/shell/frames/main_frame.h"
#include "platform/base/cp932.h"
#include "platform/base/profile.h"

namespace varnex::shell {

void CMainFrame::AttachDevices() {
  HWND self = GetSafeHwnd();
  m_sa.m_pPort = m_app.m_pSerialSA;
  m_sa.m_bOpen = m_app.m_bOpenSA;
  m_sa.m_pGuard = &m_commGuard;
  m_sa.m_pDisplayText = &m_app.m_strSaText;
  m_sa.m_pPrintText = &m_app.m_strSaPrintText;
  m_sa.m_fnKey = [this](int32_t position, int32_t character) {
    return position ? SimulateKeyStrokeAt(position) : SimulateKeyStrokeChar(character);
  };
  m_sa.m_fnCurrentMode = [this]() -> int32_t {
    if (!m_app.m_bManagerSelected) return -1;
    CModeFrameInfo* frame = ActiveModeFrame();
    return frame ? frame->ViewMode() : 0;
  };
  m_sa.m_fnOpenMode = [this](int32_t mode) { m_app.OpenModeView(mode, 0); };

  m_jet.m_pPort = m_app.m_pSerialJET;
  m_jet.m_bOpen = m_app.m_bOpenJET;
  m_jet.m_bUse = m_app.m_bUseJET;
  m_jet.m_nInterface = m_app.m_nJetInterface;
  m_jet.m_nSequence = m_app.m_nJetSequenceNumber;
  m_jet.m_hOwner = self;
  m_jet.m_pGuard = &m_commGuard;

  m_cd.m_pPort = m_app.m_pSerialCD;
  m_cd.m_bOpen = m_app.m_bOpenCD;
  m_cd.m_bPrinter = m_app.m_Display.dmd;
  m_cd.m_strPrinter = m_app.m_strCdPort;
  m_cd.m_pGuard = &m_commGuard;
}

void CMainFrame::UpdateCustomerDisplay(const std::string& pending) {
  std::string line = pending;
  m_cd.Update(m_app.m_bUseCD, line, m_app.m_strMsgCD);
}

int32_t CMainFrame::RunCardPayment(int32_t business, int32_t kind, int32_t receipt, int32_t amount) {
  // The application's number is the one a Z reading resets.
  m_jet.m_nSequence = m_app.m_nJetSequenceNumber;
  reg::CJetDlg dialog(m_jet);
  dialog.m_nBusiness = business;
  dialog.m_nKind = kind;
  dialog.m_nReceipt = receipt;
  dialog.m_nAmount = amount;
  const bool paid = dialog.DoModal(GetSafeHwnd()) == 1;
  m_jet.AfterDialog(paid);
  // A number the terminal handed over counts even when nothing was paid.
  m_app.m_nJetSequenceNumber = m_jet.m_nSequence;
  if (paid) {
    platform::Profile::of(platform::ProfileScope::User)
        .setInt(reg::kSettingsSection, "JET Sequence Number", m_jet.m_nSequence);
  }
  return paid ? 1 : 0;
}

int32_t CMainFrame::RunCodePayment(int32_t kind, uint32_t receipt, int32_t amount, int32_t tenderNumber) {
  reg::CCodeDlg dialog;
  dialog.m_nKind = kind;
  dialog.m_nReceipt = receipt;
  dialog.m_nAmount = amount;
  dialog.m_nTenderNumber = tenderNumber;
  if (reg::CRegCom* engine = m_app.m_pRegCom; engine && engine->Settings()) {
    dialog.m_pSettings = engine->Settings();
    const int32_t size = FileDBRecGetFieldSize(engine->Table(reg::kSettingsTable));
    dialog.m_nSettingsSize = size > 0 ? static_cast<size_t>(size) : 0;
  }
  return dialog.DoModal(GetSafeHwnd()) == 1 ? 1 : 0;
}

LRESULT CMainFrame::OnCommSa(WPARAM wParam) {
  m_sa.OnCommSa(wParam);
  return 1;
}

LRESULT CMainFrame::OnCommCd(WPARAM wParam) {
  m_cd.OnCommCd(wParam);
  return 1;
}

LRESULT CMainFrame::OnCommJet(WPARAM wParam) {
  m_jet.OnCommJet(wParam);
  return 1;
}

}  // namespace varnex::shell
