#include "app/register/payment/code_payment.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/base/cp932.h"
#include "platform/base/profile.h"
#include "platform/ui/dialog.h"
#include "app/register/engine/records.h"
#include "app/register/print/receipt_printer.h"

namespace varnex::reg {

namespace ui = platform::ui;

namespace {

constexpr int32_t kIdOk = 1, kIdCancel = 2;

std::string trimBlanks(std::string text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

bool runByte(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '_';
}

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, pattern);
  std::vsnprintf(buffer, sizeof buffer, pattern, args);
  va_end(args);
  return buffer;
}

const char* failureLine(int32_t kind) {
  return kind == kCodeKindRefund ? "\n戻し（返品）処理は失敗しました。" : "\nバーコード決済は失敗しました。";
}

const platform::Profile& profile() { return platform::Profile::of(platform::ProfileScope::User); }

struct ResultText {
  const char* code;
  const char* text;
};
const ResultText kResultTexts[] = {
    {"01612013", "バーコードの有効期限が切れています。"},
    {"01612501", "ＰａｙＰａｙ残高不足です。"},
    {"01612502", "取引金額が上限を超えています。"},
    {"01612503", "利用不可能なユーザーです。"},
    {"01612504", "利用不可能な加盟店です。"},
    {"01612505", "ＰａｙＰａｙ残高その他のエラーです。"},
    {"01612601", "ヤフーウォレットの残高不足です。"},
    {"01612602", "ヤフーウォレットの１回の決済金額上限を超えています。"},
    {"01612603", "ヤフーウォレットの１日の決済金額上限を超えています。"},
    {"01612604", "ヤフーウォレットのステータスエラーです。"},
    {"01612605", "ヤフーウォレットその他のエラーです。"},
    {"01612701", "オーソリ有効期限エラーです。"},
    {"01612702", "オーソリ金額オーバーエラーです。"},
    {"01612703", "オーソリ残高不足エラーです。"},
    {"01612704", "オーソリカード無効エラーです。"},
    {"01612705", "オーソリその他のエラーです。"},
    {"01610000", "想定していないリクエスト異常です。"},
    {"01611000", "リクエストボディのフォーマット異常です。"},
    {"01612011", "ワンタイムコードのフォーマット異常です。"},
    {"01612012", "ワンタイムコードが存在しません。"},
    {"01612014", "同じワンタイムコードが利用されました。"},
    {"01612061", "加盟店ＩＤのフォーマット異常です。"},
    {"01612071", "オーダーＩＤのフォーマット異常です。"},
    {"01612081", "決済金額のフォーマット異常です。"},
    {"01612091", "ストア／マシン№のフォーマット異常です。"},
    {"01612101", "ストア／マシン№のフォーマット異常です。"},
    {"01612111", "レシート番号のフォーマット異常です。"},
    {"01612121", "決済事業者コードのフォーマット異常です。"},
    {"01612131", "取引日時のフォーマット異常です。"},
    {"01612141", "取引内容のフォーマット異常です。"},
    {"01612151", "オーダーＩＤのフォーマット異常です。"},
    {"01612161", "戻し（返品）処理を行うオーダーＩＤのフォーマット異常です。"},
    {"01612171", "戻し（返品）日時のフォーマット異常です。"},
    {"01613001", "アカウント（X-Auth）が設定されていません。"},
    {"01613002", "アカウント（X-Auth）が無効です。"},
    {"01614000", "サーバー障害です。"},
    {"01615000", "サーバーメンテナンス中です。"},
    {"01616000", "サーバー過負荷のため処理を中断しました。"},
    {"01612800", "指定されたオーダーＩＤによる決済がありません。"},
    {"01612902", "戻し（返品）処理が可能な期間を過ぎています。"},
    {"01612904", "戻し（返品）処理中のため受理できません。"},
};

}  // namespace

CodeStoreIds CodeStoreIdsOf(const char* storeMachine24, const std::string& fallbackPosId) {
  std::string text(24, ' ');
  for (size_t i = 0; i < 24 && storeMachine24 && storeMachine24[i]; ++i) text[i] = storeMachine24[i];
  text = trimBlanks(text);
  CodeStoreIds ids;
  bool separated = false;
  size_t runStart = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (runByte(static_cast<unsigned char>(text[i]))) continue;
    if (!separated) {
      ids.storeId = text.substr(0, i);
      separated = true;
    } else {
      ids.posId += text.substr(runStart, i - runStart);
    }
    runStart = i + 1;
  }
  if (ids.storeId.empty()) ids.storeId = text;
  if (ids.posId.empty()) ids.posId = fallbackPosId;
  return ids;
}

std::string CodeOrderId(const CodeStoreIds& ids, int32_t year, int32_t month, int32_t day, uint32_t receipt,
                        int32_t tenderNumber) {
  std::string id = format("%s-%s-%04u%02u%02u-%05u", ids.storeId.c_str(), ids.posId.c_str(),
                          static_cast<unsigned>(year), static_cast<unsigned>(month), static_cast<unsigned>(day),
                          static_cast<unsigned>(receipt));
  if (tenderNumber > 1) id += format("-%d", tenderNumber);
  return id;
}

std::string CodeRequestTime(const platform::LocalTime& t, int32_t offsetMinutes) {
  const int32_t offset = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
  return format("%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second,
                offsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
}

std::string JsonQuoted(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (platform::cp932::isLeadByte(c) && i + 1 < text.size()) {
      out += text.substr(i, 2);
      ++i;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      out += format("\\u%04x", c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string CodeRequestBody(const CodeRequest& r) {
  const std::string receipt = JsonQuoted(format("%05u", r.receipt));
  std::string body = "{\"merchant_id\": " + JsonQuoted(r.merchantId);
  if (r.kind == kCodeKindRefund) {
    body += ",\"merchant_refund_id\": " + JsonQuoted(r.orderId);
    body += ",\"refund_target_merchant_order_id\": " + JsonQuoted(r.entry);
    body += ",\"store_id\": " + JsonQuoted(r.ids.storeId);
    body += ",\"pos_id\": " + JsonQuoted(r.ids.posId);
    body += ",\"receipt_number\": " + receipt;
    body += ",\"requested_at\": " + JsonQuoted(r.requestTime);
  } else {
    body += ",\"merchant_order_id\": " + JsonQuoted(r.orderId);
    body += ",\"code\": " + JsonQuoted(r.entry);
    body += ",\"amount\": " + std::to_string(r.amount);
    body += ",\"store_id\": " + JsonQuoted(r.ids.storeId);
    body += ",\"pos_id\": " + JsonQuoted(r.ids.posId);
    body += ",\"receipt_number\": " + receipt;
    body += ",\"created_at\": " + JsonQuoted(r.requestTime);
    body += ",\"products\": [{\"product_id\": \"1\",\"product_name\": " + JsonQuoted(r.productName) +
            ",\"quantity\": 1,\"price\": " + std::to_string(r.amount) + "}]";
  }
  return body + "}";
}

const char* CodeHttpStatusText(int32_t status) {
  switch (status) {
    case 400: return "解釈できない要求";
    case 404: return "要求 URL が見つかりません";
    case 405: return "サーバーが要求されたメソッドをサポートしていません";
    case 500: return "不明なサーバー エラー";
    case 503: return "サーバーの容量に達しました";
    default: return "未定義のエラー";
  }
}

bool CodeResultOf(const std::string& line, std::string* code) {
  if (line.empty() || line.front() != '{' || line.back() != '}') return false;
  const size_t key = line.find("\"result_code\"");
  if (key == std::string::npos) return false;
  const size_t colon = line.find(':', key);
  if (colon == std::string::npos) return false;
  const size_t open = line.find('"', colon);
  if (open == std::string::npos) return false;
  const size_t close = line.find('"', open + 1);
  if (close == std::string::npos) return false;
  *code = line.substr(open + 1, close - open - 1);
  return true;
}

const char* CodeResultText(const std::string& code) {
  for (const ResultText& r : kResultTexts)
    if (code == r.code) return r.text;
  return nullptr;
}

// ---- the dialog --------------------------------------------------------------------------

intptr_t CCodeDlg::DoModal(HWND parent) {
  const intptr_t r = ui::dialogBox(kTemplate, parent, [this](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    return Proc(h, m, wp, lp);
  });
  return m_nResult ? m_nResult : r;
}

HWND CCodeDlg::Create(HWND parent) {
  return ui::createDialog(kTemplate, parent, [this](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    return Proc(h, m, wp, lp);
  });
}

HWND CCodeDlg::Item(int32_t id) const { return ui::dialogItem(m_hWnd, id); }

void CCodeDlg::SetText(const std::string& text) { ui::setWindowText(Item(kText), text); }

void CCodeDlg::End(intptr_t result) {
  m_nResult = result;
  HWND self = m_hWnd;
  m_hWnd = nullptr;
  ui::endDialog(self, result);
}

std::string CCodeDlg::Setting(const FieldPlace& place) const {
  if (!m_pSettings || static_cast<size_t>(place.offset) + place.size > m_nSettingsSize) return {};
  const char* field = reinterpret_cast<const char*>(m_pSettings) + place.offset;
  return trimBlanks(std::string(field, strnlen(field, place.size)));
}

void CCodeDlg::OnInitDialog() {
  char storeMachine[25] = {};
  if (m_pSettings && m_nSettingsSize >= settings::kStoreText.size)
    std::memcpy(storeMachine, m_pSettings + settings::kStoreText.offset, settings::kStoreText.size);
  m_ids = CodeStoreIdsOf(storeMachine, m_strFallbackPosId);
  if (!m_bTimeGiven) {
    m_RequestTime = platform::localTime();
    // The offset of local time from UTC, to the minute.
    const int64_t now = static_cast<int64_t>(platform::fileTimeUtcNow() / 10000000ULL) - 11644473600LL;
    const int64_t local = platform::unixSecondsOf(m_RequestTime);
    m_nOffsetMinutes = local < 0 ? 0 : static_cast<int32_t>((local - now + (local >= now ? 30 : -30)) / 60);
  }
  m_strRequestTime = CodeRequestTime(m_RequestTime, m_nOffsetMinutes);
  m_strOrderId = CodeOrderId(m_ids, m_RequestTime.year, m_RequestTime.month, m_RequestTime.day, m_nReceipt,
                             m_nTenderNumber);
  // Button 1 stays without a size, so that Enter (its default) sends.
  ui::showWindow(Item(kAskAgain), false);
  ui::showWindow(Item(kRefundCancel), false);
  ui::enableWindow(Item(kComplete), false);
  if (m_nKind == kCodeKindRefund) {
    ui::setWindowText(Item(kLabel), "オーダーＩＤ(&C):");
    const std::string prefill = m_strOrderId.substr(0, m_strOrderId.size() - 5);
    ui::setWindowText(Item(kEntry), prefill);
    ui::setCaretPosition(Item(kEntry), static_cast<int32_t>(prefill.size()));
    SetText(format("戻し（返品）処理を行います。\n戻し（返品）を行うオーダーＩＤを入力して、エンターキーを押して下さい。"
                   "\n\nオーダーID: %s",
                   m_strOrderId.c_str()));
    ui::setWindowText(Item(kComplete), "戻し完了");
  } else {
    SetText(format("バーコード決済処理を行います。\nお客様のスマートフォンに表示されているバーコードをスキャンして下さい。"
                   "\n\nオーダーID: %s",
                   m_strOrderId.c_str()));
  }
  ui::setFocus(Item(kEntry));
}

void CCodeDlg::OnOK() {
  if (m_state == State::Success) {
    End(kIdOk);
    return;
  }
  if (m_state != State::Entry) return;
  const std::string entry = ui::windowText(Item(kEntry));
  if (entry.empty()) return;
  CodeRequest request;
  request.kind = m_nKind;
  request.merchantId = Setting(settings::kMerchantId);
  request.orderId = m_strOrderId;
  request.entry = entry;
  request.amount = m_nAmount;
  request.ids = m_ids;
  request.receipt = m_nReceipt;
  request.requestTime = m_strRequestTime;
  request.productName = Setting(settings::kProductName);
  Send(CodeRequestBody(request), m_nKind);
}

void CCodeDlg::Send(const std::string& body, int32_t kind) {
  ui::setEditReadOnly(Item(kEntry), true);
  ui::enableWindow(Item(kIdCancel), false);
  ui::enableWindow(Item(kAskAgain), false);
  ui::enableWindow(Item(kRefundCancel), false);
  const State before = m_state;
  m_state = State::Sending;
  m_strLastBody = body;
  if (kind == m_nKind) m_strPaidBody = body;

  platform::HttpsRequest request;
  request.host = profile().getString(kSettingsSection, "Code Payment Host", "");
  request.port = static_cast<int32_t>(profile().getInt(kSettingsSection, "Code Payment Port", 443));
  request.caFile = profile().getString(kSettingsSection, "Code Payment CA File", "");
  request.path = kind == kCodeKindRefund ? "/v1/one_time_code/refund" : "/v1/one_time_code/pay";
  if (request.host.empty()) {
    m_state = before;
    if (before == State::Unknown) {
      SetUnknown("バーコード決済サービスが設定されていません。");
    } else {
      ShowFailure("バーコード決済サービスが設定されていません。\n（接続先の設定を確認して下さい）", kind);
    }
    return;
  }
  if (!platform::cp932ToUtf8(body, request.body)) {
    m_state = before;
    ShowFailure("送信できない文字が含まれています。", kind);
    return;
  }
  request.headers = {"X-Auth-Token: " + Setting(settings::kXAuthToken), "X-Auth-Key: " + Setting(settings::kXAuthKey),
                     "Content-Type: application/json;charset=UTF-8",
                     "Content-Length: " + std::to_string(request.body.size()), "Connection: close"};
  ShowReply(platform::httpsSend(request), kind);
}

void CCodeDlg::ShowFailure(const std::string& text, int32_t kind) {
  m_state = State::Entry;
  SetText(text + failureLine(kind));
  ui::setEditReadOnly(Item(kEntry), false);
  ui::enableWindow(Item(kIdCancel), true);
  ui::setFocus(Item(kEntry));
}

void CCodeDlg::SetUnknown(const std::string& reason) {
  m_state = State::Unknown;
  m_bUnknown = true;
  m_bRefundingUnknown = false;
  SetText(format("決済の結果を確認できませんでした。\n（%s）\nお客様に請求された可能性があります。\n\n"
                 "「再照会」：同じオーダーIDの結果をサーバーに問い合わせます。\n"
                 "「返金して取消」：決済を取り消します。\n\nオーダーID: %s",
                 reason.c_str(), m_strOrderId.c_str()));
  ui::setEditReadOnly(Item(kEntry), true);
  ui::enableWindow(Item(kIdCancel), false);
  ui::showWindow(Item(kAskAgain), true);
  ui::enableWindow(Item(kAskAgain), true);
  ui::showWindow(Item(kRefundCancel), m_nKind != kCodeKindRefund);
  ui::enableWindow(Item(kRefundCancel), m_nKind != kCodeKindRefund);
  ui::setFocus(Item(kAskAgain));
}

void CCodeDlg::RefundToCancel() {
  CodeRequest request;
  request.kind = kCodeKindRefund;
  request.merchantId = Setting(settings::kMerchantId);
  request.orderId = m_strOrderId + "-R";
  request.entry = m_strOrderId;
  request.ids = m_ids;
  request.receipt = m_nReceipt;
  request.requestTime = m_strRequestTime;
  m_bRefundingUnknown = true;
  m_state = State::Unknown;
  Send(CodeRequestBody(request), kCodeKindRefund);
}

void CCodeDlg::ShowReply(const platform::HttpsReply& reply, int32_t kind) {
  const bool refundOfUnknown = m_bRefundingUnknown;
  m_bRefundingUnknown = false;
  if (reply.outcome == platform::HttpsOutcome::Unknown) {
    SetUnknown(platform::toCp932Lossy(reply.error));
    return;
  }
  if (reply.outcome == platform::HttpsOutcome::NotSent) {
    if (m_bUnknown) {
      SetUnknown(platform::toCp932Lossy(reply.error));
      return;
    }
    ShowFailure("サーバーに接続できませんでした。\n（" + platform::toCp932Lossy(reply.error) + "）\n", kind);
    return;
  }
  std::string line;
  platform::utf8ToCp932(reply.firstLine, line);
  std::string code;
  std::string failure;
  if (reply.firstLine.size() < 25) {
    failure = format("サーバーからの応答がありませんでした。（%d: %s）\n\n", reply.status, CodeHttpStatusText(reply.status));
  } else if (!CodeResultOf(line, &code)) {
    failure = "サーバーからの結果コードを受け取れませんでした。\n\n";
  }
  if (refundOfUnknown) {
    // Cancelling a payment of unknown state: refunded, or never paid, both end unpaid.
    if (failure.empty() && (code == kCodeSuccess || code == "01612800")) {
      m_bUnknown = false;
      End(kIdCancel);
      return;
    }
    const char* text = CodeResultText(code);
    SetUnknown(failure.empty() ? code + (text ? std::string(" ") + text : std::string()) : failure.substr(0, failure.find('\n')));
    return;
  }
  if (!failure.empty()) {
    if (m_bUnknown) {
      SetUnknown(failure.substr(0, failure.find('\n')));
      return;
    }
    ShowFailure(failure.substr(0, failure.size() - 1), kind);
    return;
  }
  // A result: the state is known again.
  m_bUnknown = false;
  ui::showWindow(Item(kAskAgain), false);
  ui::showWindow(Item(kRefundCancel), false);
  if (code == kCodeSuccess) {
    m_state = State::Success;
    SetText(std::string(kind == kCodeKindRefund ? "戻し（返品）処理が成功しました" : "バーコード決済が成功しました") +
            "\n\n結果コード: " + code);
    ui::enableWindow(Item(kComplete), true);
    ui::setFocus(Item(kComplete));
    return;
  }
  const char* text = CodeResultText(code);
  ShowFailure(std::string(text ? text : "未対応の結果コードです。"), kind);
  SetText(ui::windowText(Item(kText)) + "\n\n結果コード: " + code);
}

LRESULT CCodeDlg::Proc(HWND h, uint32_t m, WPARAM wp, LPARAM) {
  if (m == ui::kWmInitDialog) {
    m_hWnd = h;
    OnInitDialog();
    return 0;  // the focus is set
  }
  if (m == ui::kWmClose) return m_state == State::Entry ? 0 : 1;  // the close box cancels only while nothing is out
  if (m != ui::kWmCommand) return 0;
  const uint32_t id = ui::lowWord(wp);
  switch (id) {
    case kIdOk:
      OnOK();
      return 1;
    case kIdCancel:
      if (m_state != State::Entry) return 1;  // a request out, paid, or unknown: never cancelled
      End(kIdCancel);
      return 1;
    case kComplete:
      if (m_state == State::Success) End(kIdOk);
      return 1;
    case kAskAgain:
      if (m_state == State::Unknown) Send(m_strPaidBody, m_nKind);
      return 1;
    case kRefundCancel:
      if (m_state == State::Unknown) RefundToCancel();
      return 1;
    default:
      return 0;
  }
}

}  // namespace varnex::reg
