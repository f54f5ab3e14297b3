// CCodeDlg: one barcode (one-time code) payment, or its refund, through the
// code-payment web service over HTTPS (dialog template 157). The clerk scans
// the code shown on the customer's phone; the dialog posts the JSON request
// and shows the service's result. It ends with OK only once the service
// reported success and the clerk confirmed it.
//
// A request whose answer never came may have charged the customer: the
// dialog then says the result is unknown, keeps its order ID and offers to
// ask the service again with the same order ID (which cannot charge twice)
// or to cancel the payment by a refund. It never closes as unpaid then, and
// Escape or the close box never cancel it once a request went out.
//
// The service's host, port and CA file are profile values of the settings
// section ("Code Payment Host", "Code Payment Port", "Code Payment CA File");
// with no host set nothing is sent.
#pragma once

#include <cstdint>
#include <string>

#include "platform/base/clock.h"
#include "platform/base/https_client.h"
#include "platform/ui/window.h"

namespace varnex::reg {

struct FieldPlace;

inline constexpr int32_t kCodeKindPayment = 1, kCodeKindRefund = 3;

// The store id and POS id of the first 24 bytes of the general settings
// record (the store/machine number text).
struct CodeStoreIds {
  std::string storeId, posId;
};
CodeStoreIds CodeStoreIdsOf(const char* storeMachine24, const std::string& fallbackPosId);

// "store-pos-YYYYMMDD-rrrrr"; the second and later barcode tenders of one
// receipt add "-n" so that each payment has an order ID of its own.
std::string CodeOrderId(const CodeStoreIds& ids, int32_t year, int32_t month, int32_t day, uint32_t receipt,
                        int32_t tenderNumber = 1);

// "YYYY-MM-DDThh:mm:ss+hh:mm" of a local time and its offset from UTC.
std::string CodeRequestTime(const platform::LocalTime& time, int32_t offsetMinutes);

// A code page 932 text as a JSON string, quotes included (", \ and control
// characters escaped; the trail byte 5C of a double-byte character is not a
// backslash).
std::string JsonQuoted(const std::string& cp932);

struct CodeRequest {
  int32_t kind = kCodeKindPayment;
  std::string merchantId;
  std::string orderId;       // this dialog's order ID
  std::string entry;         // the scanned code, or the order ID being refunded
  int32_t amount = 0;
  CodeStoreIds ids;
  uint32_t receipt = 0;
  std::string requestTime;   // CodeRequestTime
  std::string productName;
};
// The request body in code page 932 (converted to UTF-8 when sent).
std::string CodeRequestBody(const CodeRequest& request);

// The text of an HTTP status for the no-answer message.
const char* CodeHttpStatusText(int32_t status);
// The result code of a reply line (code page 932): false when the line is
// no object holding "result_code".
bool CodeResultOf(const std::string& line, std::string* code);
// The message of a result code other than success; null when unknown.
const char* CodeResultText(const std::string& code);

inline constexpr char kCodeSuccess[] = "01600000";

class CCodeDlg {
 public:
  static constexpr int32_t kTemplate = 157;
  enum Control : int32_t {
    kText = 1608, kEntry = 1610, kComplete = 1611, kLabel = 1612, kAskAgain = 1613, kRefundCancel = 1614,
  };
  enum class State { Entry, Sending, Success, Unknown };

  // Inputs (set before the dialog opens).
  int32_t m_nKind = kCodeKindPayment;
  uint32_t m_nReceipt = 1;
  int32_t m_nAmount = 0;
  int32_t m_nTenderNumber = 1;       // which barcode tender of the receipt
  const uint8_t* m_pSettings = nullptr;  // general settings record 0
  size_t m_nSettingsSize = 1024;         // its length: fields beyond it read as empty
  std::string m_strFallbackPosId = "1";
  // The request time; unset: now, when the dialog opens.
  bool m_bTimeGiven = false;
  platform::LocalTime m_RequestTime;
  int32_t m_nOffsetMinutes = 0;

  // Runs it modally: 1 (OK) when paid or refunded, 2 (Cancel) when not.
  intptr_t DoModal(HWND parent);
  // The modeless form (tests): the window; the result lands in Result().
  HWND Create(HWND parent);

  intptr_t Result() const { return m_nResult; }
  State CurrentState() const { return m_state; }
  const std::string& OrderId() const { return m_strOrderId; }
  const CodeStoreIds& Ids() const { return m_ids; }
  // The request last sent (code page 932) and the service's reply.
  const std::string& LastBody() const { return m_strLastBody; }
  HWND Handle() const { return m_hWnd; }

  LRESULT Proc(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);

 private:
  void OnInitDialog();
  void OnOK();
  void Send(const std::string& body, int32_t kind);
  void ShowReply(const platform::HttpsReply& reply, int32_t kind);
  void ShowFailure(const std::string& text, int32_t kind);
  void SetUnknown(const std::string& reason);
  void RefundToCancel();
  void SetText(const std::string& text);
  void End(intptr_t result);
  HWND Item(int32_t id) const;
  std::string Setting(const FieldPlace& place) const;

  HWND m_hWnd = nullptr;
  State m_state = State::Entry;
  intptr_t m_nResult = 0;
  CodeStoreIds m_ids;
  std::string m_strOrderId, m_strRequestTime, m_strLastBody, m_strPaidBody;
  bool m_bRefundingUnknown = false;
  bool m_bUnknown = false;  // a payment request went out and its answer never came
};

}  // namespace varnex::reg
