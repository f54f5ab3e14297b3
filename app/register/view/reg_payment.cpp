// The payment steps of a tender: the card terminal (card tender and card
// paid-in with "Use JET" on) and the barcode payment (tenders 6 and up). Each
// runs before the tender line is built; only a payment made lets the key go
// on, so a refused or cancelled payment leaves the sale as it was.
#include <string>

#include "app/register/engine/reg_com.h"
#include "app/register/view/reg_sale.h"
#include "app/shell/app/reg_app.h"
#include "platform/base/message_box.h"
#include "platform/ui/window.h"
#include "zemta/filedb.h"

namespace varnex::reg {

namespace {

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

}  // namespace

bool CRegSale::CardTerminalStep(int32_t amount, const char* saleWord, const char* refundWord) {
  std::string question =
      "カード決済端末に%s金額を送信しますか？\n\nはい　：「業務」で%s金額を送信します。\nいいえ：「練習」→「業務」で%s"
      "金額を送信します。\n\n※カード決済端末のモード選択で「業務」／「練習」ボタンを押下し、\n　クレジット／デビットを表示"
      "させた後、\n　「はい(Y)」／「いいえ(N)」をボタンを押下してください。";
  // The newest terminals take credit cards only.
  if (app_->m_nJetInterface >= 3) question = replaceAll(question, "クレジット／デビット", "クレジット");
  question = replaceAll(question, "%s", refundView_ ? refundWord : saleWord);
  const int answer =
      platform::ui::messageBox(nullptr, question, "", platform::kMbYesNoCancel | platform::kMbIconQuestion);
  if (answer != platform::kIdYes && answer != platform::kIdNo) return false;
  const int32_t receipt = engine_->NextReceiptNumber();
  if (receipt < 0) return ShowRegError(kErrBadHandle) != 0;
  return screen_->RunCardPayment(answer == platform::kIdYes ? 1 : 0, refundView_ ? 3 : 1, receipt, amount);
}

bool CRegSale::CodePaymentStep(int32_t amount) {
  const uint8_t* settings = engine_->Settings();
  const FileDBHandle table = engine_->Table(kSettingsTable);
  const bool service = settings && table &&
                       FileDBRecGetFieldSize(table) >= settings::kPaymentService.offset + settings::kPaymentService.size &&
                       getBits(settings, settings::kPaymentService) != 0;
  if (!service) {
    // Paid by the customer's phone alone: the clerk checks it there.
    return platform::ui::messageBox(
               nullptr, "お客様のスマートフォンで、決済内容（名義、日時と金額）に誤りが無いことを確認して下さい。", "",
               platform::kMbOkCancel | platform::kMbIconQuestion) == platform::kIdOk;
  }
  const int32_t receipt = engine_->NextReceiptNumber();
  if (receipt < 0) return ShowRegError(kErrBadHandle) != 0;
  // Every barcode tender of a sale gets an order ID of its own: the service
  // takes a repeated order ID for the same payment.
  int32_t tender = 1;
  uint8_t l[line::kSize];
  for (int32_t n = 0; n < lineCount_; ++n) {
    if (!ReadLine(n, l)) return ShowRegError(kErrBadHandle) != 0;
    const uint16_t key = getU16(l, line::kKeyCode);
    if (keyType(key) == kKeyTrans1 && keyNumber(key) >= kTenderCodePayment) ++tender;
  }
  return screen_->RunCodePayment(refundView_ ? 3 : 1, static_cast<uint32_t>(receipt), amount, tender);
}

}  // namespace varnex::reg
