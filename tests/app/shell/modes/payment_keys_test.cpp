// Card and barcode tenders from the register's keys on the demo shop: the
// key opens the main frame's card-terminal dialog (a scripted terminal on a
// pseudo-terminal pair) or its barcode-payment dialog (the local HTTPS
// stand-in of the service), and the tender line is written only when the
// dialog says paid; a refused or cancelled payment leaves the sale open.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/register/devices/jet_link.h"
#include "app/register/engine/key_codes.h"
#include "app/register/engine/records.h"
#include "app/register/view/reg_view.h"
#include "app/shell/modes/mode_shell.h"
#include "peers/code_payment_server.h"
#include "peers/scripted_serial_device.h"
#include "platform/base/clock.h"
#include "support/wait_until.h"

namespace varnex_test {
namespace {

namespace reg = varnex::reg;

std::string withBcc(std::string frame) {
  frame += static_cast<char>(reg::JetBcc(frame));
  return frame;
}

// The older protocol's result reply: "00" in its outcome field is a payment made.
std::string resultReply(const std::string& outcome) {
  std::string text(50, '0');
  text.replace(1, 2, outcome);
  return withBcc("\x02" "20110 0001" + text + "\x03");
}

// Steps run from a timer while a modal dialog of the register is up: each is
// tried every 20 ms until it returns true, then the next. Past the patience
// every window of the given caption is ended, so a broken payment fails the
// test instead of hanging it.
class ModalScript {
 public:
  ModalScript(std::string caption, std::vector<std::function<bool(HWND)>> steps)
      : caption_(std::move(caption)), steps_(std::move(steps)) {
    deadline_ = platform::tickCount64() + testing_support::kPatienceMs;
    window_ = ui::createWindow({"PaymentScript", "", nullptr, {0, 0, 1, 1}, false},
                               [this](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
                                 if (m != ui::kWmTimer) return ui::defaultWindowProc(h, m, wp, lp);
                                 tick();
                                 return 0;
                               });
    ui::setTimer(window_, 1, 20);
  }
  ~ModalScript() { ui::destroyWindow(window_); }
  bool finished() const { return next_ == steps_.size(); }
  bool timedOut() const { return timedOut_; }
  size_t step() const { return next_; }

 private:
  HWND dialog() const {
    for (HWND t : ui::topLevelWindows())
      if (ui::isWindowVisible(t) && ui::windowText(t) == caption_) return t;
    return nullptr;
  }
  void tick() {
    if (busy_ || finished()) return;
    busy_ = true;  // a step may pump messages itself
    HWND d = dialog();
    if (platform::tickCount64() > deadline_) {
      timedOut_ = true;
      if (d) ui::endDialog(d, 2);
    } else if (d && steps_[next_](d)) {
      ++next_;
    }
    busy_ = false;
  }

  std::string caption_;
  std::vector<std::function<bool(HWND)>> steps_;
  HWND window_ = nullptr;
  size_t next_ = 0;
  uint64_t deadline_ = 0;
  bool busy_ = false, timedOut_ = false;
};

class PaymentKeysTest : public ModeShellTest {
 protected:
  void SetUp() override {
    ModeShellTest::SetUp();
    deviceFolder_ = testing_support::makeTestFolder();
  }
  void TearDown() override {
    ModeShellTest::TearDown();
    terminal_.reset();
    server_.reset();
    testing_support::removeTestFolder(deviceFolder_);
  }
  // Starts the register (with the card terminal on its port when asked) and
  // opens a sale of 1,000 yen on department 1 in 登録１.
  void startWithSale(bool withTerminal) {
    if (withTerminal) {
      terminal_ = std::make_unique<testing_support::ScriptedSerialDevice>(deviceFolder_);
      setSetting("Use JET", 1);
      setSetting("JET Interface", 0);
      setSetting("JET Port", terminal_->path());
    }
    ASSERT_TRUE(startShell()) << boxes->lastText();
    signOn();
    ui::processPendingMessages();
    press(0x76);
    view_ = modeFrame(7)->RegView();
    ASSERT_NE(view_, nullptr);
    type("1000", view_->handle());
    const std::string department = "1";
    ui::sendMessage(view_->handle(), reg::WM_REG_PANELKEY, reg::kKeyDepartment,
                    reinterpret_cast<LPARAM>(department.c_str()));
    ASSERT_TRUE(view_->Sale().SaleOpen());
  }
  // Presses a tender key; the payment dialog runs inside the key.
  void tender(uint32_t vk, bool shift, ModalScript& script) {
    press(vk, shift, false, false, view_->handle());
    EXPECT_TRUE(script.finished()) << "stopped at step " << script.step();
    EXPECT_FALSE(script.timedOut());
  }
  // The key codes of the sale's lines.
  std::vector<uint16_t> lineKeys() {
    std::vector<uint16_t> keys;
    uint8_t l[reg::line::kSize];
    for (int32_t n = 0; n < view_->Sale().LineCount(); ++n)
      if (view_->Sale().ReadLine(n, l)) keys.push_back(reg::getU16(l, reg::line::kKeyCode));
    return keys;
  }
  size_t countKey(uint16_t type, uint16_t number) {
    size_t n = 0;
    for (uint16_t k : lineKeys()) n += k == reg::makeKeyCode(type, number);
    return n;
  }
  static bool textStarts(HWND dialog, int32_t id, const std::string& start) {
    return ui::dialogItemText(dialog, id).rfind(start, 0) == 0;
  }

  std::string deviceFolder_;
  std::unique_ptr<testing_support::ScriptedSerialDevice> terminal_;
  std::unique_ptr<testing_support::CodePaymentServer> server_;
  reg::CRegView* view_ = nullptr;
};

constexpr char kCardCaption[] = "カード決済端末 － ＰＯＳ連動";
constexpr int32_t kCardText = 1540;

// The terminal takes the amount and reports the payment made: the card line
// is written and completes the sale, and the sequence number moves on.
TEST_F(PaymentKeysTest, CardTenderPaidByTheTerminalCommitsTheSale) {
  startWithSale(true);
  terminal_->setResponder([](const std::string& burst) {
    return burst.find('\x02') != std::string::npos ? std::string("\x10\x06") : std::string();
  });
  const int32_t due = app->m_pRegCom->RoundUnit(view_->Sale().Amount());
  boxes->answer(platform::kIdYes);  // business mode
  ModalScript script(kCardCaption, {
      [&](HWND d) {
        if (!textStarts(d, kCardText, "カード決済端末に売上金額を送信しました。")) return false;
        screenshot(d, "card_tender_operate");
        terminal_->send(resultReply("00"));
        return true;
      },
  });
  tender(ui::kVkF1 + 1, false, script);
  EXPECT_EQ(boxes->lastText().rfind("カード決済端末に売上金額を送信しますか？", 0), 0u) << boxes->lastText();
  EXPECT_FALSE(view_->Sale().SaleOpen()) << view_->PaneMessage();
  EXPECT_EQ(countKey(reg::kKeyTrans1, reg::kTenderCard), 1u);
  EXPECT_EQ(app->m_nJetSequenceNumber, 2);
  EXPECT_EQ(setting("JET Sequence Number"), 2);
  // The terminal was asked for the amount due, in business mode.
  std::string request, error;
  ASSERT_TRUE(reg::BuildJetRequest(0, 1, 1, 1, 0, due, &request, &error));
  EXPECT_EQ(terminal_->received().find(request), 0u);
  idle();
  screenshot(frame().GetSafeHwnd(), "register_after_card_tender");
}

// The terminal refuses every send: after the refusal the clerk cancels, and
// the sale stays open with no tender; a cancelled question sends nothing.
TEST_F(PaymentKeysTest, RefusedCardTenderLeavesTheSaleOpen) {
  startWithSale(true);
  terminal_->setResponder([](const std::string& burst) {
    return burst.find('\x02') != std::string::npos ? std::string("\x10\x15") : std::string();
  });
  const std::vector<uint16_t> before = lineKeys();
  boxes->answer(platform::kIdCancel);
  press(ui::kVkF1 + 1, false, false, false, view_->handle());
  EXPECT_TRUE(terminal_->received().empty());
  EXPECT_EQ(lineKeys(), before);

  boxes->answer(platform::kIdNo);  // practice mode
  ModalScript script(kCardCaption, {
      [&](HWND d) {
        if (!textStarts(d, kCardText, "売上の送信はカード決済端末に拒否されました。")) return false;
        ui::clickButton(ui::dialogItem(d, 2));
        return true;
      },
  });
  tender(ui::kVkF1 + 1, false, script);
  EXPECT_TRUE(view_->Sale().SaleOpen());
  EXPECT_EQ(lineKeys(), before);
  EXPECT_EQ(countKey(reg::kKeyTrans1, reg::kTenderCard), 0u);
  EXPECT_EQ(app->m_nJetSequenceNumber, 1);
  // Cash still closes the sale.
  press(ui::kVkReturn, false, false, false, view_->handle());
  EXPECT_FALSE(view_->Sale().SaleOpen()) << view_->PaneMessage();
}

// Two barcode tenders in one sale, each paid through the service under an
// order ID of its own; a code the service refuses writes nothing.
TEST_F(PaymentKeysTest, BarcodeTendersArePaidEachUnderItsOwnOrderId) {
  ASSERT_TRUE(testing_support::makePaymentCertificates(deviceFolder_));
  server_ = std::make_unique<testing_support::CodePaymentServer>(deviceFolder_, "server1");
  ASSERT_GT(server_->port(), 0);
  setSetting("Code Payment Host", std::string("localhost"));
  setSetting("Code Payment Port", server_->port());
  setSetting("Code Payment CA File", deviceFolder_ + "/ca1.pem");
  startWithSale(false);
  // The shop takes barcode payments through the service.
  FileDBHandle table = app->m_pRegCom->Table(reg::kSettingsTable);
  std::vector<uint8_t> record(static_cast<size_t>(FileDBRecGetFieldSize(table)));
  ASSERT_EQ(FileDBRecRead(table, 0, record.data()), 0);
  reg::putText(record.data(), 512, 128, "token");
  reg::putText(record.data(), 640, 128, "key");
  reg::putText(record.data(), 768, 128, "M-1");
  reg::putU16(record.data(), reg::settings::kPaymentService.offset, 1);
  ASSERT_EQ(FileDBRecWrite(table, 0, record.data()), 0);
  ASSERT_EQ(app->m_pRegCom->ReloadSettings(), 0);

  constexpr char kCaption[] = "バーコード決済";
  auto scan = [](const std::string& code) {
    return [code](HWND d) {
      HWND entry = ui::dialogItem(d, 1610);
      ui::setWindowText(entry, "");
      ui::setFocus(entry);
      for (char c : code) {
        ui::sendKeyInput(entry, static_cast<uint32_t>(c), true, false, false, false);
        ui::sendKeyInput(entry, static_cast<uint32_t>(c), false, false, false, false);
      }
      ui::sendKeyInput(entry, ui::kVkReturn, true, false, false, false);
      ui::sendKeyInput(entry, ui::kVkReturn, false, false, false, false);
      return true;
    };
  };
  auto complete = [](HWND d) {
    if (!ui::isWindowEnabled(ui::dialogItem(d, 1611))) return false;
    ui::clickButton(ui::dialogItem(d, 1611));
    return true;
  };
  // Refused (an expired code), then cancelled: nothing is written.
  const std::vector<uint16_t> before = lineKeys();
  {
    ModalScript script(kCaption, {scan("222"), [](HWND d) {
                                    if (!textStarts(d, 1608, "バーコードの有効期限が切れています。")) return false;
                                    ui::clickButton(ui::dialogItem(d, 2));
                                    return true;
                                  }});
    tender(ui::kVkF1 + 5, true, script);
  }
  EXPECT_TRUE(view_->Sale().SaleOpen());
  EXPECT_EQ(lineKeys(), before);

  // 400 yen by one phone, the rest by another.
  type("400", view_->handle());
  {
    ModalScript script(kCaption, {scan("111"), complete});
    tender(ui::kVkF1 + 5, true, script);
  }
  EXPECT_TRUE(view_->Sale().SaleOpen());
  EXPECT_EQ(countKey(reg::kKeyTrans1, reg::kTenderCodePayment), 1u);
  {
    ModalScript script(kCaption, {scan("111"), complete});
    tender(ui::kVkF1 + 5, true, script);
  }
  EXPECT_FALSE(view_->Sale().SaleOpen()) << view_->PaneMessage();
  EXPECT_EQ(countKey(reg::kKeyTrans1, reg::kTenderCodePayment), 2u);
  // Two charges, under two order IDs: the second adds its tender number.
  const std::string charges = server_->log("charges.log");
  EXPECT_EQ(std::count(charges.begin(), charges.end(), '\n'), 2) << charges;
  const std::string requests = server_->log("requests.log");
  const size_t first = requests.find("\"merchant_order_id\": \"");
  ASSERT_NE(first, std::string::npos);
  const size_t firstEnd = requests.find('"', first + 22);
  const std::string id = requests.substr(first + 22, firstEnd - first - 22);
  EXPECT_NE(requests.find("\"merchant_order_id\": \"" + id + "-2\""), std::string::npos) << requests;
  EXPECT_NE(requests.find("\"amount\": 400,"), std::string::npos) << requests;
  // The order ID names the receipt the sale was committed under.
  uint8_t closing[reg::line::kSize];
  ASSERT_TRUE(view_->Sale().ReadLine(view_->Sale().LineCount() - 1, closing));
  ASSERT_EQ(reg::keyType(reg::getU16(closing, reg::line::kKeyCode)), reg::kKeyClosing);
  char receipt[8];
  std::snprintf(receipt, sizeof receipt, "-%05u", static_cast<unsigned>(reg::getU16(closing, reg::line::kPrice)));
  EXPECT_EQ(id.substr(id.size() - 6), receipt) << id;
}

}  // namespace
}  // namespace varnex_test
