// Barcode payment: the request bodies byte for byte, the reply handling, and
// the dialog against a local HTTPS stand-in of the service with its own test
// certificate authorities: an unknown authority and another host name are
// refused, a dropped connection leaves the payment unknown until the service
// is asked again with the same order ID.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "app/register/payment/code_payment.h"
#include "app/register/print/receipt_printer.h"
#include "app/resources/varnex_resources.h"
#include "peers/code_payment_server.h"
#include "peers/scripted_serial_device.h"
#include "platform/base/cp932.h"
#include "platform/base/profile.h"
#include "platform/ui/application.h"
#include "platform/ui/dialog.h"
#include "platform/ui/input.h"
#include "platform/ui/desktop.h"
#include "platform/ui/window.h"

namespace {

using namespace varnex::reg;
namespace ui = platform::ui;
namespace fs = std::filesystem;

std::string outputFolder() {
  fs::path folder = fs::path(VARNEX_TEST_OUTPUT_DIR) / "payment";
  fs::create_directories(folder);
  return folder.string();
}

platform::Profile& profile() { return platform::Profile::of(platform::ProfileScope::User); }

CodeRequest sampleRequest(int32_t kind) {
  CodeRequest r;
  r.kind = kind;
  r.merchantId = "M-1";
  r.ids = {"S01", "P2"};
  r.orderId = CodeOrderId(r.ids, 2026, 3, 4, 42);
  r.entry = kind == kCodeKindRefund ? "S01-P2-20260301-00007" : "1234567890";
  r.amount = 1500;
  r.receipt = 42;
  platform::LocalTime t;
  t.year = 2026, t.month = 3, t.day = 4, t.hour = 5, t.minute = 6, t.second = 7;
  r.requestTime = CodeRequestTime(t, 9 * 60);
  r.productName = "お買い物";
  return r;
}

TEST(CodeRequest, BodiesOfPaymentAndRefundKeepTheirFormAndEscapeStrings) {
  EXPECT_EQ(CodeRequestBody(sampleRequest(kCodeKindPayment)),
            "{\"merchant_id\": \"M-1\",\"merchant_order_id\": \"S01-P2-20260304-00042\",\"code\": \"1234567890\","
            "\"amount\": 1500,\"store_id\": \"S01\",\"pos_id\": \"P2\",\"receipt_number\": \"00042\","
            "\"created_at\": \"2026-03-04T05:06:07+09:00\",\"products\": [{\"product_id\": \"1\","
            "\"product_name\": \"お買い物\",\"quantity\": 1,\"price\": 1500}]}");
  EXPECT_EQ(CodeRequestBody(sampleRequest(kCodeKindRefund)),
            "{\"merchant_id\": \"M-1\",\"merchant_refund_id\": \"S01-P2-20260304-00042\","
            "\"refund_target_merchant_order_id\": \"S01-P2-20260301-00007\",\"store_id\": \"S01\",\"pos_id\": \"P2\","
            "\"receipt_number\": \"00042\",\"requested_at\": \"2026-03-04T05:06:07+09:00\"}");
  // A quote or backslash is escaped; the 5C trail byte of ソ is not.
  EXPECT_EQ(JsonQuoted("a\"b\\cソ\n"), "\"a\\\"b\\\\cソ\\u000a\"");
  platform::LocalTime t;
  t.year = 2026, t.month = 12, t.day = 31, t.hour = 23, t.minute = 59, t.second = 58;
  EXPECT_EQ(CodeRequestTime(t, -150), "2026-12-31T23:59:58-02:30");
  // The second barcode tender of a receipt has an order ID of its own.
  EXPECT_EQ(CodeOrderId({"S", "P"}, 2026, 1, 2, 3, 2), "S-P-20260102-00003-2");
}

TEST(CodeRequest, StoreAndPosIdsOfTheStoreMachineText) {
  const struct {
    const char* text;
    const char* store;
    const char* pos;
  } cases[] = {
      {"", "", "9"},
      {"   SHOP1 REG  ", "SHOP1", "9"},          // the last run is not used
      {"SHOP1 REG2 X", "SHOP1", "REG2"},
      {"A B C D", "A", "BC"},
      {"ONLYONE", "ONLYONE", "9"},
  };
  for (const auto& c : cases) {
    const CodeStoreIds ids = CodeStoreIdsOf(c.text, "9");
    EXPECT_EQ(ids.storeId, c.store) << c.text;
    EXPECT_EQ(ids.posId, c.pos) << c.text;
  }
}

TEST(CodeRequest, ResultCodeIsFoundWhereverItStands) {
  std::string code;
  EXPECT_TRUE(CodeResultOf("{\"status\": \"x\", \"result_code\": \"01600000\"}", &code));
  EXPECT_EQ(code, "01600000");
  EXPECT_FALSE(CodeResultOf("{\"result_code\": \"01600000\"} ", &code));
  EXPECT_FALSE(CodeResultOf("{\"status\": \"01600000\"}", &code));
  EXPECT_STREQ(CodeResultText("01612013"), "バーコードの有効期限が切れています。");
  EXPECT_EQ(CodeResultText("09999999"), nullptr);
}

// The dialog against the stand-in service.
class CodeDialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    certs_ = new std::string(testing_support::makeTestFolder());
    ASSERT_TRUE(testing_support::makePaymentCertificates(*certs_));
  }
  static void TearDownTestSuite() {
    testing_support::removeTestFolder(*certs_);
    delete certs_;
  }
  void SetUp() override {
    ui::ensureApplication();
    ASSERT_TRUE(varnex::LoadVarnexResources());
    folder_ = testing_support::makeTestFolder();
    for (const char* f : {"ca1.pem", "ca2.pem", "server1.pem", "server1.key", "server2.pem", "server2.key",
                          "other1.pem", "other1.key"})
      fs::copy_file(*certs_ + "/" + f, folder_ + "/" + f);
    std::memset(settings_, ' ', sizeof settings_);
    std::memcpy(settings_, "S01 P2 X", 8);
    std::memcpy(settings_ + 512, "token", 5);
    std::memcpy(settings_ + 640, "key", 3);
    std::memcpy(settings_ + 768, "M-1", 3);
    std::memcpy(settings_ + 896, "お買い物", 8);
    profile().setString(kSettingsSection, "Code Payment Host", "localhost");
    profile().setString(kSettingsSection, "Code Payment CA File", folder_ + "/ca1.pem");
  }
  void TearDown() override {
    if (dialog_ && dialog_->Handle()) ui::destroyWindow(dialog_->Handle());
    server_.reset();
    profile().deleteSection(kSettingsSection);
    testing_support::removeTestFolder(folder_);
  }
  void serve(const std::string& name) {
    server_ = std::make_unique<testing_support::CodePaymentServer>(folder_, name);
    ASSERT_GT(server_->port(), 0);
    profile().setInt(kSettingsSection, "Code Payment Port", server_->port());
  }
  void open(int32_t kind = kCodeKindPayment) {
    dialog_ = std::make_unique<CCodeDlg>();
    dialog_->m_nKind = kind;
    dialog_->m_nReceipt = 42;
    dialog_->m_nAmount = 1500;
    dialog_->m_pSettings = settings_;
    ASSERT_NE(dialog_->Create(nullptr), nullptr);
    ui::showWindow(dialog_->Handle(), true);
  }
  HWND item(int32_t id) const { return ui::dialogItem(dialog_->Handle(), id); }
  std::string text() const { return ui::windowText(item(CCodeDlg::kText)); }
  void key(HWND target, uint32_t vk) {
    ui::sendKeyInput(target, vk, true, false, false, false);
    ui::sendKeyInput(target, vk, false, false, false, false);
  }
  // Scans a code: the digits and Enter, as a scanner types them.
  void scan(const std::string& code) {
    HWND entry = item(CCodeDlg::kEntry);
    ui::setFocus(entry);
    for (char c : code) key(entry, static_cast<uint32_t>(c));
    key(entry, ui::kVkReturn);
    ui::processPendingMessages();
  }
  void grab(const std::string& name) {
    ui::processPendingMessages();
    EXPECT_TRUE(ui::grabWindowToPng(dialog_->Handle(), outputFolder() + "/" + name));
  }

  static std::string* certs_;
  std::string folder_;
  uint8_t settings_[1024];
  std::unique_ptr<testing_support::CodePaymentServer> server_;
  std::unique_ptr<CCodeDlg> dialog_;
};
std::string* CodeDialogTest::certs_ = nullptr;

TEST_F(CodeDialogTest, SuccessIsShownAndOnlyCompletionEndsIt) {
  serve("server1");
  open();
  EXPECT_EQ(dialog_->OrderId().substr(0, 7), "S01-P2-");
  grab("code_waiting.png");
  scan("111");
  EXPECT_EQ(dialog_->CurrentState(), CCodeDlg::State::Success);
  EXPECT_EQ(text(), "バーコード決済が成功しました\n\n結果コード: 01600000");
  EXPECT_TRUE(ui::isWindowEnabled(item(CCodeDlg::kComplete)));
  EXPECT_FALSE(ui::isWindowEnabled(item(2)));
  grab("code_success.png");
  // Escape does not cancel a paid sale.
  key(dialog_->Handle(), ui::kVkEscape);
  ui::processPendingMessages();
  EXPECT_EQ(dialog_->Result(), 0);
  // The body the service got is the dialog's, in UTF-8.
  std::string sent;
  platform::cp932ToUtf8(dialog_->LastBody(), sent);
  EXPECT_EQ(server_->log("requests.log"), sent + "\n");
  key(item(CCodeDlg::kComplete), ui::kVkReturn);
  ui::processPendingMessages();
  EXPECT_EQ(dialog_->Result(), 1);
}

TEST_F(CodeDialogTest, RefusalsAndRepliesWithoutResultGiveTheirTexts) {
  serve("server1");
  open();
  scan("222");
  EXPECT_EQ(text(), "バーコードの有効期限が切れています。\nバーコード決済は失敗しました。\n\n結果コード: 01612013");
  EXPECT_TRUE(ui::isWindowEnabled(item(2)));
  grab("code_refused.png");
  ui::setWindowText(item(CCodeDlg::kEntry), "");
  scan("333");
  EXPECT_EQ(text().rfind("サーバーからの結果コードを受け取れませんでした。\n\n", 0), 0u) << text();
  EXPECT_EQ(dialog_->CurrentState(), CCodeDlg::State::Entry);
  EXPECT_EQ(server_->log("charges.log"), "");
  // Back in the entry state, Escape cancels.
  key(dialog_->Handle(), ui::kVkEscape);
  ui::processPendingMessages();
  EXPECT_EQ(dialog_->Result(), 2);
}

TEST_F(CodeDialogTest, UnknownAuthorityAndOtherHostAreRefusedAndNothingIsPaid) {
  for (const char* name : {"server2", "other1"}) {
    serve(name);
    open();
    scan("111");
    EXPECT_EQ(dialog_->CurrentState(), CCodeDlg::State::Entry) << name;
    EXPECT_EQ(text().rfind("サーバーに接続できませんでした。", 0), 0u) << text();
    EXPECT_NE(text().find("バーコード決済は失敗しました。"), std::string::npos);
    EXPECT_EQ(server_->log("charges.log"), "") << name;
    EXPECT_EQ(server_->log("requests.log"), "") << name;
    ui::destroyWindow(dialog_->Handle());
  }
  // No service set up: nothing is sent.
  profile().setString(kSettingsSection, "Code Payment Host", "");
  open();
  scan("111");
  EXPECT_EQ(text().rfind("バーコード決済サービスが設定されていません。", 0), 0u) << text();
}

TEST_F(CodeDialogTest, DroppedConnectionLeavesTheStateUnknownUntilAskedAgain) {
  serve("server1");
  open();
  scan("444");
  EXPECT_EQ(dialog_->CurrentState(), CCodeDlg::State::Unknown);
  EXPECT_EQ(text().rfind("決済の結果を確認できませんでした。", 0), 0u) << text();
  EXPECT_NE(text().find(dialog_->OrderId()), std::string::npos);
  EXPECT_FALSE(ui::isWindowEnabled(item(2)));
  EXPECT_TRUE(ui::isWindowVisible(item(CCodeDlg::kAskAgain)));
  grab("code_unknown.png");
  // Neither Escape nor the close box closes it as unpaid.
  key(dialog_->Handle(), ui::kVkEscape);
  ui::sendMessage(dialog_->Handle(), ui::kWmClose, 0, 0);
  ui::processPendingMessages();
  EXPECT_EQ(dialog_->Result(), 0);
  // Asked again with the same order ID: paid, and charged once.
  ui::clickButton(item(CCodeDlg::kAskAgain));
  ui::processPendingMessages();
  EXPECT_EQ(dialog_->CurrentState(), CCodeDlg::State::Success) << text();
  EXPECT_EQ(server_->log("charges.log"), "pay " + dialog_->OrderId() + "\n");
  EXPECT_FALSE(ui::isWindowVisible(item(CCodeDlg::kAskAgain)));
}

TEST_F(CodeDialogTest, UnknownPaymentCancelledByRefund) {
  serve("server1");
  open();
  scan("444");
  ASSERT_EQ(dialog_->CurrentState(), CCodeDlg::State::Unknown);
  ui::clickButton(item(CCodeDlg::kRefundCancel));
  ui::processPendingMessages();
  EXPECT_EQ(dialog_->Result(), 2);
  EXPECT_EQ(server_->log("charges.log"), "pay " + dialog_->OrderId() + "\nrefund " + dialog_->OrderId() + "\n");
}

TEST_F(CodeDialogTest, RefundOpensWithTheOrderIdLessTheReceipt) {
  serve("server1");
  open(kCodeKindRefund);
  const std::string id = dialog_->OrderId();
  EXPECT_EQ(ui::windowText(item(CCodeDlg::kEntry)), id.substr(0, id.size() - 5));
  EXPECT_EQ(ui::windowText(item(CCodeDlg::kComplete)), "戻し完了");
  EXPECT_EQ(ui::windowText(item(CCodeDlg::kLabel)), "オーダーＩＤ(&C):");
  grab("code_refund_waiting.png");
}

}  // namespace
