// The register's serial devices over pseudo-terminal pairs with scripted
// devices on the far end: the card terminal (requests, ACK/NAK, split
// replies, the dialog's retries), the SA device (its frames, print lines and
// key reports) and the pole display, and a card payment opened by an SA key
// while the SA device and the display go on talking.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/register/devices/jet_dialog.h"
#include "app/register/devices/jet_link.h"
#include "app/register/devices/pole_display.h"
#include "app/register/devices/sa_device.h"
#include "app/resources/varnex_resources.h"
#include "peers/sa_device_peer.h"
#include "peers/scripted_serial_device.h"
#include "platform/base/clock.h"
#include "platform/ui/application.h"
#include "platform/ui/dialog.h"
#include "platform/ui/window.h"
#include "quorex/comm_ctrl.h"
#include "quorex/serial.h"
#include "support/wait_until.h"

namespace {

using namespace varnex::reg;
namespace ui = platform::ui;
namespace fs = std::filesystem;

constexpr uint32_t kCommSa = 0x0E00, kCommCd = 0x0E01, kCommJet = 0x0E02;

std::string outputFolder() {
  fs::path folder = fs::path(VARNEX_TEST_OUTPUT_DIR) / "devices";
  fs::create_directories(folder);
  return folder.string();
}

std::string withBcc(std::string frame) {
  frame += static_cast<char>(JetBcc(frame));
  return frame;
}

// An older-protocol reply of the terminal: header, 50 characters of which
// 5 and 6 (of the text after the header) tell the outcome, ETX, BCC.
std::string olderReply(const std::string& outcome) {
  std::string body = "20110 0001";  // the header the receive check wants
  std::string text(50, '0');
  text.replace(1, 2, outcome);      // bytes 11 and 12 of the reply
  return withBcc("\x02" + body + text + "\x03");
}

class DevicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::ensureApplication();
    ASSERT_TRUE(varnex::LoadVarnexResources());
    folder_ = testing_support::makeTestFolder();
    for (const char* device : {"jet", "sa", "cd"}) fs::create_directories(folder_ + "/" + device);
    ui::WindowSpec window;
    window.className = "DeviceOwner";
    window.visible = false;
    owner_ = ui::createWindow(window, [this](HWND w, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
      if (m == kCommJet) jet_.OnCommJet(wp);
      if (m == kCommSa) sa_.OnCommSa(wp);
      if (m == kCommCd) cd_.OnCommCd(wp);
      if (m == ui::kWmTimer) {
        const uint32_t id = static_cast<uint32_t>(wp);
        if (id == kTestTimer && onTick) onTick();
        else if (!jet_.OnTimer(id))
          for (CSerial* port : {jetPort_.get(), saPort_.get(), cdPort_.get()})
            if (port && port->TimerProc(id)) break;
        return 0;
      }
      return ui::defaultWindowProc(w, m, wp, lp);
    });
    ASSERT_NE(owner_, nullptr);
  }
  void TearDown() override {
    for (auto* port : {&jetPort_, &saPort_, &cdPort_})
      if (*port) (*port)->CommClose();
    ui::destroyWindow(owner_);
    jetDevice_.reset();
    saPeer_.reset();
    cdDevice_.reset();
    testing_support::removeTestFolder(folder_);
  }
  std::unique_ptr<CSerial> openPort(const std::string& path, uint32_t message) {
    auto port = std::make_unique<CSerial>();
    port->SetMsgIDEvent(message);
    port->GetCommCtrl().SetSettings((path + ",9600,8,N,1,None").c_str());
    port->GetCommCtrl().SetCommLogging(0);
    EXPECT_EQ(port->CommOpen(owner_), 1);
    return port;
  }
  void openJet(int32_t jetInterface) {
    jetDevice_ = std::make_unique<testing_support::ScriptedSerialDevice>(folder_ + "/jet");
    jetPort_ = openPort(jetDevice_->path(), kCommJet);
    jet_.m_pPort = jetPort_.get();
    jet_.m_bOpen = 1;
    jet_.m_bUse = 1;
    jet_.m_nInterface = jetInterface;
    jet_.m_hOwner = owner_;
    jet_.m_pGuard = &guard_;
  }
  void openSa() {
    saPeer_ = std::make_unique<testing_support::SaDevicePeer>(folder_ + "/sa");
    saPort_ = std::make_unique<CSerial>();
    saPort_->SetMsgIDEvent(kCommSa);
    saPort_->GetCommCtrl().SetSettings((saPeer_->path() + ",9600,8,N,1,None").c_str());
    saPort_->GetCommCtrl().SetCommLogging(0);
    saPort_->SetDefaultMode(0x40000);
    saPort_->SetBinMode(0x11F0200, 2, 0xFF, 2, 1, 3, 4, 1);
    saPort_->SetRetry(8);
    saPort_->SetDefaultTimeOut(1000);
    ASSERT_EQ(saPort_->CommOpen(owner_), 1);
    sa_.m_pPort = saPort_.get();
    sa_.m_bOpen = 1;
    sa_.m_pGuard = &guard_;
    sa_.m_pDisplayText = &saText_;
    sa_.m_pPrintText = &printText_;
    sa_.m_fnKey = [this](int32_t position, int32_t character) {
      keys_.push_back(position ? position : 10000 + character);
      if (onKey) onKey(position);
      return 1;
    };
    sa_.m_fnCurrentMode = [this] { return mode_; };
    sa_.m_fnOpenMode = [this](int32_t mode) { opened_.push_back(mode); };
  }
  void openCd() {
    cdDevice_ = std::make_unique<testing_support::ScriptedSerialDevice>(folder_ + "/cd");
    cdPort_ = openPort(cdDevice_->path(), kCommCd);
    cd_.m_pPort = cdPort_.get();
    cd_.m_bOpen = 1;
    cd_.m_pGuard = &guard_;
  }
  bool pumpUntil(const std::function<bool()>& done) { return ui::pumpUntil(done, testing_support::kPatienceMs); }

  static constexpr uint32_t kTestTimer = 900;
  std::string folder_;
  HWND owner_ = nullptr;
  CCommGuard guard_;
  CJetLink jet_;
  CSaDevice sa_;
  CPoleDisplay cd_;
  std::unique_ptr<CSerial> jetPort_, saPort_, cdPort_;
  std::unique_ptr<testing_support::ScriptedSerialDevice> jetDevice_, cdDevice_;
  std::unique_ptr<testing_support::SaDevicePeer> saPeer_;
  std::string saText_, printText_;
  std::vector<int32_t> keys_, opened_;
  int32_t mode_ = 7;
  std::function<void()> onTick;
  std::function<void(int32_t)> onKey;
};

TEST(JetRequest, FramesOfBothProtocolsAndTheirRanges) {
  std::string frame, error;
  ASSERT_TRUE(BuildJetRequest(0, 1, 1, 1, 0, 1500, &frame, &error));
  EXPECT_EQ(frame, withBcc("\x02" "101" "10" " 0001" "00001500" "0000000" + std::string(35, ' ') + "\x03"));
  EXPECT_EQ(frame.size(), 63u);
  std::string practice;
  ASSERT_TRUE(BuildJetRequest(0, 0, 1, 1, 0, 1500, &practice, &error));
  EXPECT_EQ(practice[2], '1');
  EXPECT_EQ(practice.substr(3, 59), frame.substr(3, 59));
  ASSERT_TRUE(BuildJetRequest(2, 1, 3, 12, 0, -1, &frame, &error));
  EXPECT_EQ(frame, withBcc("\x02" "101" "21" "11" "0012" "001" "  " "1" "\x03"));
  ASSERT_TRUE(BuildJetRequest(2, 1, 1, 12, 34, 500, &frame, &error));
  EXPECT_EQ(frame, withBcc("\x02" "101" "10" "20" "0012" "02" "1" "  " "00000500" "00000000" "0034" "0" "\x03"));
  EXPECT_EQ(frame.size(), 40u);
  ASSERT_TRUE(BuildJetRequest(3, 1, 1, 12, 34, 500, &frame, &error));
  EXPECT_EQ(frame.size(), 39u);
  // Nothing that would not fit its field, nor an unknown kind, is framed.
  const struct {
    int32_t jetInterface, kind, sequence, reference, amount;
  } refused[] = {{0, 4, 1, 0, 1}, {0, 1, 1, 0, -1}, {0, 1, 10000, 0, 1}, {0, 1, 1, 0, 100000000},
                 {2, 1, 1, 10000, 1}, {2, 1, -1, 0, 1}};
  for (const auto& c : refused) {
    EXPECT_FALSE(BuildJetRequest(c.jetInterface, 1, c.kind, c.sequence, c.reference, c.amount, &frame, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(frame.empty());
  }
  EXPECT_EQ(NextJetSequence(9998), 9999);
  // A payment with sequence 9999 is followed by 1; one not made keeps it.
  CJetLink link;
  link.m_nSequence = 9999;
  link.m_nJetState = 0;
  link.AfterDialog(false);
  EXPECT_EQ(link.m_nSequence, 9999);
  link.AfterDialog(true);
  EXPECT_EQ(link.m_nSequence, 1);
  EXPECT_EQ(link.m_nJetState, -1);
}

TEST(JetReceive, RepliesAreCheckedAndAnswered) {
  CJetLink link;
  std::vector<std::string> written;
  link.m_fnWrite = [&](const std::string& b) { written.push_back(b); };
  link.m_nInterface = 2;
  link.m_nJetState = 0;
  // A newer reply whose length field is 042 is complete at 60 bytes after the STX.
  std::string reply = "2011100" "0000042" "  ";
  reply += std::string(42, '0') + "\x03";
  reply = withBcc("\x02" + reply);
  ASSERT_EQ(reply.size(), 61u);
  link.HandleFrame(reinterpret_cast<const uint8_t*>(reply.data()), 30);
  EXPECT_EQ(link.m_bJetReplyReady, 0);
  link.HandleFrame(reinterpret_cast<const uint8_t*>(reply.data()) + 30, 31);
  EXPECT_EQ(link.m_bJetReplyReady, 1);
  EXPECT_EQ(link.m_nJetExpected, 60);
  EXPECT_EQ(link.m_bJetBusy, 1);  // the ACK waits for its timer
  link.OnTimer(kJetTimerAck);
  EXPECT_EQ(written.back(), "\x06");
  // A second good reply while the first is unread gets no answer; a bad one after it a NAK.
  link.HandleFrame(reinterpret_cast<const uint8_t*>(reply.data()), 61);
  EXPECT_EQ(link.m_bJetBusy, 0);
  link.m_bJetReplyReady = 0;
  std::string bad = reply;
  bad.back() ^= 1;
  link.HandleFrame(reinterpret_cast<const uint8_t*>(bad.data()), 61);
  EXPECT_EQ(link.m_bJetReplyReady, 0);
  link.OnTimer(kJetTimerNak);
  EXPECT_EQ(written.back(), "\x15");
  // Older protocol: DLE ACK split over two one-byte frames.
  link.m_nInterface = 0;
  link.m_nJetState = 0;
  const uint8_t dle = 0x10, ack = 0x06;
  link.HandleFrame(&dle, 1);
  link.HandleFrame(&ack, 1);
  EXPECT_EQ(link.m_nJetState, 6);
}

TEST_F(DevicesTest, NakToEverySendGivesFourSendsThenTheRefusal) {
  openJet(1);
  std::string request, error;
  ASSERT_TRUE(BuildJetRequest(1, 1, 1, 1, 0, 1500, &request, &error));
  for (int i = 0; i < 4; ++i) jetDevice_->onReceive(request, "\x10\x15");
  CJetDlg dialog(jet_);
  dialog.m_nAmount = 1500;
  dialog.m_nTickMs = 20;
  ASSERT_NE(dialog.Create(owner_), nullptr);
  ui::showWindow(dialog.Handle(), true);
  const std::string refused =
      "売上の送信はカード決済端末に拒否されました。\n\nカード決済端末のモードを確認して下さい。";
  ASSERT_TRUE(pumpUntil([&] { return ui::dialogItemText(dialog.Handle(), CJetDlg::kText) == refused; }));
  EXPECT_EQ(jetDevice_->countOf(request), 4);
  EXPECT_TRUE(ui::isWindowEnabled(ui::dialogItem(dialog.Handle(), 2)));
  EXPECT_FALSE(ui::isWindowEnabled(ui::dialogItem(dialog.Handle(), 1)));
  EXPECT_TRUE(pumpUntil([&] { return jetDevice_->countOf("\x04") == 1; }));  // the link is closed by EOT
  ASSERT_TRUE(ui::grabWindowToPng(dialog.Handle(), outputFolder() + "/jet_refused.png"));
  ui::clickButton(ui::dialogItem(dialog.Handle(), 2));
  EXPECT_EQ(dialog.Result(), 2);
}

TEST_F(DevicesTest, ReplySplitAcrossThreeReadsIsPutTogetherAndEndsPaid) {
  openJet(0);
  std::string request, error;
  ASSERT_TRUE(BuildJetRequest(0, 1, 1, 1, 0, 1500, &request, &error));
  jetDevice_->onReceive(request, "\x10\x06");
  CJetDlg dialog(jet_);
  dialog.m_nAmount = 1500;
  dialog.m_nTickMs = 20;
  ASSERT_NE(dialog.Create(owner_), nullptr);
  ui::showWindow(dialog.Handle(), true);
  ASSERT_TRUE(ui::grabWindowToPng(dialog.Handle(), outputFolder() + "/jet_waiting.png"));
  ASSERT_TRUE(pumpUntil([&] {
    return ui::dialogItemText(dialog.Handle(), CJetDlg::kText).rfind("カード決済端末に売上金額を送信しました。", 0) == 0;
  }));
  // "JET Interface" 0: the operator may confirm by hand.
  EXPECT_TRUE(ui::isWindowEnabled(ui::dialogItem(dialog.Handle(), 1)));
  ASSERT_TRUE(ui::grabWindowToPng(dialog.Handle(), outputFolder() + "/jet_operate.png"));
  const std::string reply = olderReply("00");
  ASSERT_EQ(reply.size(), 63u);
  jetDevice_->send(reply.substr(0, 11));
  ASSERT_TRUE(pumpUntil([&] { return jet_.m_nJetPhase == 2; }));
  jetDevice_->send(reply.substr(11, 30));
  ASSERT_TRUE(pumpUntil([&] { return jet_.m_nJetLength == 40; }));
  jetDevice_->send(reply.substr(41));
  ASSERT_TRUE(pumpUntil([&] { return dialog.Result() != 0; }));
  EXPECT_EQ(dialog.Result(), 1);
  EXPECT_TRUE(pumpUntil([&] { return jetDevice_->countOf("\x10\x06") == 1; }));  // the reply was acknowledged
}

TEST_F(DevicesTest, ErrorReplyIsShownAndEscapeNeverCancelsAPaidOne) {
  openJet(0);
  std::string request, error;
  ASSERT_TRUE(BuildJetRequest(0, 1, 1, 1, 0, 800, &request, &error));
  jetDevice_->onReceive(request, "\x10\x06");
  CJetDlg dialog(jet_);
  dialog.m_nAmount = 800;
  dialog.m_nTickMs = 20;
  ASSERT_NE(dialog.Create(owner_), nullptr);
  ui::showWindow(dialog.Handle(), true);
  ASSERT_TRUE(pumpUntil([&] { return ui::isWindowEnabled(ui::dialogItem(dialog.Handle(), 2)); }));
  std::string reply = olderReply("01");
  reply.replace(1 + 54, 3, "E12");
  reply = withBcc(reply.substr(0, reply.size() - 1));
  jetDevice_->send(reply);
  ASSERT_TRUE(pumpUntil([&] {
    return ui::dialogItemText(dialog.Handle(), CJetDlg::kText) == "カード決済端末からエラーコード「E12」を受信しました。";
  }));
  ASSERT_TRUE(ui::grabWindowToPng(dialog.Handle(), outputFolder() + "/jet_error.png"));
  ui::sendMessage(dialog.Handle(), ui::kWmClose, 0, 0);
  EXPECT_EQ(dialog.Result(), 2);  // nothing out any more: the close box cancels
}

// A newer-protocol reply: the check header (status and result in bytes 5
// and 6, the sequence in 7-10, the data length in 11-13), the data, ETX, BCC.
std::string newerReply(char status, const std::string& sequence, const std::string& data) {
  char length[4];
  std::snprintf(length, sizeof length, "%03zu", data.size());
  return withBcc(std::string("\x02") + "20111" + status + "0" + sequence + length + "  " + data + "\x03");
}

// Two-step protocol: the status inquiry, the terminal's status with its
// sequence number taken over, the amount request, 取引成立, OK once the
// link is idle. A status "00" with no data ends unpaid without a message.
TEST_F(DevicesTest, TwoStepProtocolTakesTheSequenceAndEndsPaid) {
  openJet(2);
  jet_.m_nSequence = 7;
  std::string inquiry, amount, error;
  ASSERT_TRUE(BuildJetRequest(2, 1, 1, 7, 5, -1, &inquiry, &error));
  ASSERT_TRUE(BuildJetRequest(2, 1, 1, 42, 5, 3000, &amount, &error));
  jetDevice_->onReceive(inquiry, "\x06");
  jetDevice_->onReceive(amount, "\x06");
  CJetDlg dialog(jet_);
  dialog.m_nAmount = 3000;
  dialog.m_nReceipt = 5;
  dialog.m_nTickMs = 20;
  ASSERT_NE(dialog.Create(owner_), nullptr);
  ASSERT_TRUE(pumpUntil([&] { return jetDevice_->countOf("\x04") == 1 && jet_.m_nJetState == 0; }));
  jetDevice_->send(newerReply('1', "0042", ""));
  ASSERT_TRUE(pumpUntil([&] {
    return ui::dialogItemText(dialog.Handle(), CJetDlg::kText).rfind("カード決済端末に売上金額を送信しました。", 0) == 0;
  }));
  EXPECT_EQ(jet_.m_nSequence, 42);
  EXPECT_FALSE(ui::isWindowEnabled(ui::dialogItem(dialog.Handle(), 1)));  // interface 2: no confirming by hand
  jetDevice_->send(newerReply('3', "0042", "000010" + std::string(5, '0')));
  ASSERT_TRUE(pumpUntil([&] { return dialog.Result() != 0; }));
  EXPECT_EQ(dialog.Result(), 1);

  ASSERT_TRUE(BuildJetRequest(2, 1, 1, 42, 5, -1, &inquiry, &error));
  jetDevice_->onReceive(inquiry, "\x06");
  CJetDlg second(jet_);
  second.m_nTickMs = 20;
  ASSERT_NE(second.Create(owner_), nullptr);
  // Each bare ACK of the terminal is followed by an EOT: the third is this inquiry's.
  ASSERT_TRUE(pumpUntil([&] { return jetDevice_->countOf("\x04") == 3 && jet_.m_nJetState == 0; }));
  jetDevice_->send(newerReply('0', "0042", ""));
  ASSERT_TRUE(pumpUntil([&] { return second.Result() != 0; }));
  EXPECT_EQ(second.Result(), 2);
}

TEST_F(DevicesTest, SaFramesPrintLinesAndKeys) {
  openSa();
  // Nothing pending: a poll. The device's key report is answered.
  sa_.SendSaCommand();
  ASSERT_TRUE(pumpUntil([&] { return saPeer_->pollCount() == 1; }));
  saText_ = "TEXT";
  printText_ = std::string(50, 'x') + "\r\n\x0EＡ\x0F\r\n\f";
  sa_.m_nSaRequest = kSaDisplay | kSaPrint | kSaSaleOpened;
  // Key 1, key 7, key 0x72, the digits 1 2 and the mode key of 登録２ (8).
  saPeer_->pressKeys(std::string("\x01\x07\x72\x00" "12\xFF\xC2", 8));
  ASSERT_TRUE(pumpUntil([&] { return saPeer_->pollCount() >= 2 && sa_.m_nSaRequest == 0; }));
  EXPECT_EQ(keys_, (std::vector<int32_t>{119, 118, 601, 10000 + '1', 10000 + '2', 10000 + 0xFF}));
  EXPECT_EQ(opened_, (std::vector<int32_t>{8}));
  EXPECT_EQ(sa_.m_nLastModeKey, 0xC2);
  const std::vector<std::string> frames = saPeer_->frames();
  const std::vector<std::string> expected = {
      std::string("\x02\x80\0\0\0", 5),
      std::string("\x02\xC3\0\0\0", 5),
      std::string("\x02\xC0\0\0\0", 5) + "TEXT",
      std::string("\x02\xC1\0\0\0", 5) + "100" + std::string(46, 'x'),
      std::string("\x02\xC1\0\0\0", 5) + "100xxxx",
      std::string("\x02\xC1\0\0\0", 5) + "100\xFE\x82\x60 ",
      std::string("\x02\xC1\0\0\0", 5) + "3A0",
      std::string("\x02\x80\0\0\0", 5),
  };
  ASSERT_GE(frames.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(frames[i], expected[i]) << i;
  // An "=" from the device asks for the sale's end.
  saPeer_->reportEquals();
  ASSERT_TRUE(pumpUntil([&] {
                for (const auto& f : saPeer_->frames())
                  if (f == std::string("\x02\xC9\0\0\0" "0", 6)) return true;
                return false;
              }));
}

TEST(SaLine, EmptyLinesAndFormFeedsGiveTheirMarks) {
  std::string text = "\r\nA\x1BXB\f";
  char mark = 0;
  EXPECT_EQ(TakeSaLine(text, &mark), "");
  EXPECT_EQ(mark, '1');
  EXPECT_EQ(TakeSaLine(text, &mark), "AB");
  EXPECT_EQ(mark, 'A');
  EXPECT_TRUE(text.empty());
  // A last piece without its line end is taken once, not again and again.
  text = "tail";
  EXPECT_EQ(TakeSaLine(text, &mark), "tail");
  EXPECT_EQ(mark, 0);
  EXPECT_TRUE(text.empty());
}

TEST_F(DevicesTest, PoleDisplayShowsTheLineThenTheIdleText) {
  openCd();
  std::string pending = "ｼｮｳｹｲ   3ﾃﾝ      1500";
  ASSERT_TRUE(cd_.Update(1, pending, "ｲﾗｯｼｬｲﾏｾ"));
  EXPECT_TRUE(pending.empty());
  ASSERT_TRUE(cdDevice_->waitForBytes(22, testing_support::kPatienceMs));
  ASSERT_TRUE(cd_.Update(1, pending, "ｲﾗｯｼｬｲﾏｾ"));
  const std::string expected = "\x0Bｼｮｳｹｲ   3ﾃﾝ      1500" + std::string("\x0C\x1F\x43\x00", 4) + "\x0Bｲﾗｯｼｬｲﾏｾ";
  ASSERT_TRUE(cdDevice_->waitForBytes(expected.size(), testing_support::kPatienceMs));
  EXPECT_EQ(cdDevice_->received(), expected);
  // The printer form without a queue appends the same bytes to its file.
  CPoleDisplay printer;
  printer.m_bPrinter = 1;
  printer.m_strPrinter = folder_ + "/display.bin";
  pending = "ABC";
  ASSERT_TRUE(printer.Update(1, pending, ""));
  pending = "";
  EXPECT_TRUE(printer.Update(1, pending, ""));  // nothing to show: nothing written
  std::ifstream in(printer.m_strPrinter, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "\x0B" "ABC");
}

// A card payment opened by a key of the SA device: while its dialog is up the
// SA device reports keys and the display is written, and the payment ends.
// Each step waits with a time-out and fails rather than hanging.
TEST_F(DevicesTest, DevicesGoOnWhileTheCardDialogIsUp) {
  openJet(0);
  openSa();
  openCd();
  std::string request, error;
  ASSERT_TRUE(BuildJetRequest(0, 1, 1, 1, 0, 2000, &request, &error));
  jetDevice_->onReceive(request, "\x10\x06");
  intptr_t result = 0;
  bool timedOut = false;
  const uint64_t deadline = platform::tickCount64() + testing_support::kPatienceMs;
  CJetDlg dialog(jet_);
  dialog.m_nAmount = 2000;
  dialog.m_nTickMs = 20;
  int stage = 0;
  onKey = [&](int32_t position) {
    if (position == 119) result = dialog.DoModal(owner_);  // the key's dialog runs inside the SA handler
  };
  onTick = [&] {
    HWND d = dialog.Handle();
    if (platform::tickCount64() > deadline) {
      timedOut = true;
      if (d) ui::endDialog(d, 99);
      return;
    }
    if (!d) return;
    const bool operating =
        ui::dialogItemText(d, CJetDlg::kText).rfind("カード決済端末に売上金額を送信しました。", 0) == 0;
    if (stage == 0 && operating) {
      stage = 1;
      saPeer_->pressKeys("\x02");
    } else if (stage == 1 && keys_.size() >= 2) {
      stage = 2;
      std::string line = "ｵｱｽﾞｶﾘ";
      cd_.Update(1, line, "");
    } else if (stage == 2 && cdDevice_->received().size() >= 7) {
      stage = 3;
      jetDevice_->send(olderReply("00"));
    }
  };
  ASSERT_TRUE(ui::setTimer(owner_, kTestTimer, 20));
  sa_.SendSaCommand();
  ASSERT_TRUE(pumpUntil([&] { return saPeer_->pollCount() >= 1; }));
  saPeer_->pressKeys("\x01");
  ASSERT_TRUE(pumpUntil([&] { return result != 0 || timedOut; }));
  ui::killTimer(owner_, kTestTimer);
  EXPECT_FALSE(timedOut) << "stage " << stage;
  EXPECT_EQ(result, 1);
  EXPECT_EQ(keys_, (std::vector<int32_t>{119, 219}));
  EXPECT_EQ(cdDevice_->received(), "\x0Bｵｱｽﾞｶﾘ");
  EXPECT_FALSE(guard_.IsHeld());
}

}  // namespace
