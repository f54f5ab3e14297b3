// CJetDlg: one card payment (or card return) on the card-payment terminal
// (dialog template 154). A 200 ms timer drives a state machine over the
// link's state: it sends the request (in the two-step protocol a status
// inquiry first), sends it again after a NAK or silence (at most four sends),
// decodes the terminal's replies and shows the progress. It ends with OK
// (信売完了) only when the terminal reported success or the operator
// confirms; Escape and the close box never cancel it while a request is out
// or after the terminal reported success.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui/window.h"

namespace varnex::reg {

class CJetLink;

class CJetDlg {
 public:
  static constexpr int32_t kTemplate = 154, kText = 1540;
  static constexpr uint32_t kTimer = 102;

  explicit CJetDlg(CJetLink& link) : m_link(link) {}

  // Inputs, set by the caller.
  int32_t m_nBusiness = 1;  // 1 business, 0 practice
  int32_t m_nKind = 1;      // 1 sale, 3 return
  int32_t m_nReceipt = 1;   // the number of the next receipt
  int32_t m_nAmount = 0;
  uint32_t m_nTickMs = 200; // the timer period (tests shorten it)

  intptr_t DoModal(HWND parent);
  HWND Create(HWND parent);  // the modeless form (tests)
  // 1 OK (paid), 2 Cancel; 0 while it runs.
  intptr_t Result() const { return m_nResult; }
  HWND Handle() const { return m_hWnd; }
  int32_t Sends() const { return m_nSends; }

  LRESULT Proc(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);
  void OnTimer();

 private:
  void OnInitDialog();
  void SendRequest(bool amountStep);
  // 0 handled (message shown or dialog ended), 1 left to the caller.
  int32_t DecodeReply();
  void ShowFinal(const std::string& text);
  void StopTimer();
  void End(intptr_t result);
  HWND Item(int32_t id) const;
  const char* KindText() const;

  CJetLink& m_link;
  HWND m_hWnd = nullptr;
  intptr_t m_nResult = 0;
  bool m_bTimer = false;
  bool m_bAmountPhase = false, m_bAccepted = false, m_bResultOk = false;
  int32_t m_nTicks = 0, m_nRetries = 0, m_nSends = 0;
  // The terminal reported success: the payment is made whatever follows.
  bool m_bSucceeded = false;
};

}  // namespace varnex::reg
