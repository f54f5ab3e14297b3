#include "app/register/devices/jet_dialog.h"

#include <cstdio>
#include <cstring>

#include "app/register/devices/jet_link.h"
#include "platform/base/message_box.h"
#include "platform/ui/dialog.h"

namespace varnex::reg {

namespace ui = platform::ui;

namespace {

constexpr int32_t kIdOk = 1, kIdCancel = 2;
constexpr int32_t kSilenceTicks = 50, kUnreadableTicks = 15, kNoticeTicks = 1350;

}  // namespace

intptr_t CJetDlg::DoModal(HWND parent) {
  const intptr_t r = ui::dialogBox(kTemplate, parent, [this](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    return Proc(h, m, wp, lp);
  });
  return m_nResult ? m_nResult : r;
}

HWND CJetDlg::Create(HWND parent) {
  return ui::createDialog(kTemplate, parent, [this](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    return Proc(h, m, wp, lp);
  });
}

HWND CJetDlg::Item(int32_t id) const { return ui::dialogItem(m_hWnd, id); }

const char* CJetDlg::KindText() const { return m_nKind == 1 ? "売上" : "返品"; }

void CJetDlg::StopTimer() {
  if (m_bTimer && m_hWnd) ui::killTimer(m_hWnd, kTimer);
  m_bTimer = false;
}

void CJetDlg::End(intptr_t result) {
  StopTimer();
  m_nResult = result;
  HWND self = m_hWnd;
  m_hWnd = nullptr;
  ui::endDialog(self, result);
}

void CJetDlg::ShowFinal(const std::string& text) {
  StopTimer();
  ui::setDialogItemText(m_hWnd, kText, text);
  HWND cancel = Item(kIdCancel);
  ui::enableWindow(cancel, true);
  ui::setDefaultButton(Item(kIdOk), false);
  ui::setDefaultButton(cancel, true);
  ui::setFocus(cancel);
}

void CJetDlg::SendRequest(bool amountStep) {
  ++m_nSends;
  if (!m_link.SendJetRequest(m_nBusiness, m_nKind, m_nReceipt, amountStep ? m_nAmount : -1) &&
      !m_link.m_strError.empty()) {
    // A request that cannot be framed is never sent: say why.
    ShowFinal(m_link.m_strError + "\n\n「信売取消」ボタンを押して下さい。");
  }
}

void CJetDlg::OnInitDialog() {
  m_link.m_nJetState = -1;
  m_link.m_bJetReplyReady = 0;
  m_link.m_bJetBusy = 0;
  m_bAmountPhase = m_link.m_nInterface < 2;
  ui::setTimer(m_hWnd, kTimer, m_nTickMs);
  m_bTimer = true;
  ui::setDialogItemText(m_hWnd, kText, "カード決済端末からの応答を待機しています。");
  SendRequest(m_bAmountPhase);
}

int32_t CJetDlg::DecodeReply() {
  const char* r = m_link.ReplyText();
  const int32_t length = m_link.ReplyLength();
  char text[512];
  if (m_link.m_nInterface < 2) {
    if (length >= 51 && r[5] == '0' && (r[6] == '1' || r[6] == '2')) {
      std::snprintf(text, sizeof text, "カード決済端末からエラーコード「%3.3s」を受信しました。", r + 48);
      ShowFinal(text);
      return 0;
    }
    return 1;
  }
  if (length >= 9 && r[0] == '0' && r[1] == '0') {
    if (std::memcmp(r + 6, "000", 3) == 0) {
      End(kIdCancel);
      return 0;
    }
    if (length >= 31) {
      std::snprintf(text, sizeof text, "カード決済端末からエラーステータス「%4.4s: %16.16s」を受信しました。", r + 11,
                    r + 15);
      ShowFinal(text);
      return 0;
    }
    return 1;
  }
  if (r[0] == '3' && r[1] == '0' && length >= 22 && r[15] == '2') {
    const char* outcome = r[16] == '0'   ? "取引不成立（取引不可）"
                          : r[16] == '1' ? "取引不成立（自動取消）"
                          : r[16] == '2' ? "取引不成立（通信障害）"
                                         : nullptr;
    if (!outcome) return 1;
    std::snprintf(text, sizeof text, "カード決済端末から取引結果「%s」を受信しました。", outcome);
    ShowFinal(text);
    return 0;
  }
  return 1;
}

void CJetDlg::OnTimer() {
  if (!m_hWnd) return;
  ++m_nTicks;
  CJetLink& link = m_link;
  if (!m_bAccepted) {
    if (link.m_nJetState == 6) {
      link.m_bJetReplyReady = 0;
      link.m_nJetState = 0;
      m_nTicks = 0;
      if (!m_bAmountPhase) {
        m_nRetries = 0;
        m_bAccepted = true;
        return;
      }
      std::string text = std::string("カード決済端末に") + KindText() + "金額を送信しました。\n\nカード決済端末を操作して下さい。";
      if (m_nKind != 1 && link.m_nInterface < 3) text += "\n\n※デビットの場合、運用上利用できません。";
      ui::setDialogItemText(m_hWnd, kText, text);
      HWND ok = Item(kIdOk), cancel = Item(kIdCancel);
      ui::enableWindow(cancel, true);
      if (link.m_nInterface == 0) {
        ui::enableWindow(ok, true);
        ui::setDefaultButton(cancel, false);
        ui::setDefaultButton(ok, true);
        ui::setFocus(ok);
      } else {
        ui::setDefaultButton(ok, false);
        ui::setDefaultButton(cancel, true);
        ui::setFocus(cancel);
      }
      m_bAccepted = true;
      return;
    }
    const bool nak = link.m_nJetState == 21;
    if (nak || (link.m_nJetState == 0 && m_nTicks >= kUnreadableTicks) || m_nTicks >= kSilenceTicks) {
      m_nTicks = 0;
      if (m_nRetries++ < 3) {
        SendRequest(m_bAmountPhase);
        return;
      }
      StopTimer();
      link.StartAnswer(kJetTimerEot);
      if (nak)
        ShowFinal(std::string(KindText()) +
                  "の送信はカード決済端末に拒否されました。\n\nカード決済端末のモードを確認して下さい。");
      else
        ShowFinal("カード決済端末からの応答がありませんでした。\n\nカード決済端末の状態や接続ケーブルを点検して下さい。");
    }
    return;
  }
  if (!m_bAmountPhase) {
    if (link.m_bJetReplyReady) {
      if (DecodeReply() == 0) {
        link.m_bJetReplyReady = 0;
        return;
      }
      const char* r = link.ReplyText();
      if (r[0] == '1' && r[1] == '0') {
        int32_t sequence = 0;
        for (int i = 2; i <= 5; ++i) sequence = sequence * 10 + (r[i] >= '0' && r[i] <= '9' ? r[i] - '0' : 0);
        link.m_nSequence = sequence;
        link.m_bJetReplyReady = 0;
        m_bResultOk = true;
      }
    }
    if (m_bResultOk && !link.m_bJetBusy) {
      m_nTicks = 0;
      m_bAmountPhase = true;
      m_bAccepted = false;
      m_bResultOk = false;
      SendRequest(true);
    } else if (m_nTicks >= kSilenceTicks) {
      ShowFinal("カード決済端末からの要求がありませんでした。\n\nカード決済端末の状態や接続ケーブルを点検して下さい。");
    }
    return;
  }
  if (link.m_bJetReplyReady) {
    if (DecodeReply() == 0) {
      link.m_bJetReplyReady = 0;
      return;
    }
    const char* r = link.ReplyText();
    const int32_t length = link.ReplyLength();
    if (link.m_nInterface < 2) {
      link.m_bJetReplyReady = 0;
      const bool ok = length >= 12 && r[5] == '0' && r[6] == '0';
      m_bSucceeded = ok;
      End(ok ? kIdOk : kIdCancel);
      return;
    }
    if (length >= 22 && r[15] == '1' && r[16] == '0') {
      ui::setDialogItemText(m_hWnd, kText,
                            "カード決済端末から「取引成立」を受信しました。\n\nカード決済端末からの伝送終結を待機しています。");
      m_nTicks = 0;
      m_bResultOk = true;
      m_bSucceeded = true;
      ui::enableWindow(Item(kIdOk), true);
    } else if (length >= 22 && r[15] == '3' && r[16] == '0') {
      ui::setDialogItemText(m_hWnd, kText,
                            "カード決済端末から「話中（再実行）」を受信しました。\n\nカード決済端末からの通知を待機しています。");
      m_nTicks = 0;
    }
    link.m_bJetReplyReady = 0;
    return;
  }
  if (m_bResultOk && (!link.m_bJetBusy || m_nTicks >= kSilenceTicks)) {
    End(kIdOk);
  } else if (m_nTicks >= kNoticeTicks) {
    StopTimer();
    ui::setDialogItemText(m_hWnd, kText,
                          "カード決済端末からの通知がありませんでした。\n\n「信売完了」／「信売取消」ボタンを操作して下さい。");
    ui::enableWindow(Item(kIdOk), true);
    ui::enableWindow(Item(kIdCancel), true);
  }
}

LRESULT CJetDlg::Proc(HWND h, uint32_t m, WPARAM wp, LPARAM) {
  switch (m) {
    case ui::kWmInitDialog:
      m_hWnd = h;
      OnInitDialog();
      return 1;
    case ui::kWmTimer:
      if (wp != kTimer) return 0;
      OnTimer();
      return 1;
    case ui::kWmDestroy:
      StopTimer();
      return 0;
    case ui::kWmClose:
    case ui::kWmCommand: {
      const uint32_t id = m == ui::kWmClose ? kIdCancel : ui::lowWord(wp);
      if (id == kIdOk) {
        if (ui::isWindowEnabled(Item(kIdOk))) End(kIdOk);
        return 1;
      }
      if (id != kIdCancel) return 0;
      // A charged customer always gets the tender written: after success
      // there is no cancel, and while the terminal still works on the
      // request the operator confirms it first.
      if (m_bSucceeded || !ui::isWindowEnabled(Item(kIdCancel))) return 1;
      if (m_bTimer &&
          ui::messageBox(m_hWnd, "カード決済端末で取引中です。\n取引を取り消しますか？", "カード決済端末",
                         platform::kMbYesNo | platform::kMbIconQuestion) != platform::kIdYes)
        return 1;
      End(kIdCancel);
      return 1;
    }
    default:
      return 0;
  }
}

}  // namespace varnex::reg
