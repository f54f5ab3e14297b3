// The card terminal's messages. ASCII digits and spaces unless stated; STX
// 02, ETX 03; BCC = XOR of the bytes after STX up to and including ETX.
//
// Request, bytes 0-5 common: STX, "1", "0" business / "1" practice, "1",
// the kind "10" sale, "20", "21" return.
//   older ("JET Interface" < 2), 63 bytes:
//     6 " " | 7-10 sequence %04d | 11-18 amount %08d | 19-25 "0000000" |
//     26-60 spaces | 61 ETX | 62 BCC
//   newer status inquiry (amount < 0), 20 bytes:
//     6-7 "11" | 8-11 sequence | 12-14 "001" | 15-16 "  " | 17 "1" | 18 ETX | 19 BCC
//   newer payment, 40 bytes (interface 2) / 39 (3 and up):
//     6-7 "20" | 8-11 sequence | 12-13 "02" | 14 "1" (2) / "0" | 15-16 "  " |
//     17-24 amount %08d | 25-32 "00000000" / 25-31 "0000000" | reference %04d |
//     "0" | ETX | BCC
//
// Reply (after its STX):
//   older: 0 "2" | 1 "0"-"1" | 2 "1"-"3" | 3 "1"-"4" | 4 "0"-"1" | 5 " " |
//     6-9 digits | ... | 60 ETX | 61 BCC (or 186 bytes when 60 is no ETX)
//   newer: 0 "2" | 1 "0"-"1" | 2 "1"-"3" | 3 "1"-"4" | 4 "0"-"1" | 5 "0"-"3" |
//     6 "0" | 7-13 digits (11-13 the data length n) | 14-15 " " or "0" |
//     16.. n data bytes | ETX | BCC
// The dialog reads the reply from byte 6 (older) or 5 (newer) on: the
// outcome fields after the check header.
//
// Answers: ACK 10 06 (older) / 06, NAK 10 15 / 15, EOT 04, each 40 ms after
// the event that asks for it.
#include "app/register/devices/jet_link.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "quorex/serial.h"

namespace varnex::reg {

namespace ui = platform::ui;

namespace {

constexpr uint8_t kStx = 0x02, kEtx = 0x03, kEot = 0x04, kEnq = 0x05, kAck = 0x06, kDle = 0x10, kNak = 0x15;
constexpr int32_t kMaxReply = 256;

std::string digits(int32_t value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
  return buffer;
}

bool isDigit(uint8_t b) { return b >= '0' && b <= '9'; }
bool between(uint8_t b, char low, char high) { return b >= static_cast<uint8_t>(low) && b <= static_cast<uint8_t>(high); }

}  // namespace

uint8_t JetBcc(const std::string& frame) {
  uint8_t bcc = 0;
  for (size_t i = 1; i < frame.size(); ++i) bcc ^= static_cast<uint8_t>(frame[i]);
  return bcc;
}

bool BuildJetRequest(int32_t jetInterface, int32_t business, int32_t kind, int32_t sequence, int32_t reference,
                     int32_t amount, std::string* frame, std::string* error) {
  frame->clear();
  error->clear();
  const char* kindCode = kind == 1 ? "10" : kind == 2 ? "20" : kind == 3 ? "21" : nullptr;
  if (!kindCode) {
    *error = "カード決済端末に送信できない取引種別です。";
    return false;
  }
  // Every number has a fixed width on the wire: one that does not fit would
  // shift every field behind it.
  if (sequence < 0 || sequence > 9999) {
    *error = "カード決済端末の通番が範囲外です（0～9999）。";
    return false;
  }
  if (amount > 99999999) {
    *error = "カード決済端末に送信できる金額は 99,999,999 円までです。";
    return false;
  }
  const bool older = jetInterface < 2;
  if (amount < 0 && older) {
    *error = "カード決済端末に送信できない金額です。";
    return false;
  }
  if (!older && amount >= 0 && (reference < 0 || reference > 9999)) {
    *error = "カード決済端末のレシート番号が範囲外です（0～9999）。";
    return false;
  }
  std::string f;
  f += static_cast<char>(kStx);
  f += '1';
  f += business ? '0' : '1';
  f += '1';
  f += kindCode;
  if (older) {
    f += ' ' + digits(sequence, 4) + digits(amount, 8) + "0000000" + std::string(35, ' ');
  } else if (amount < 0) {
    f += "11" + digits(sequence, 4) + "001" + "  " + "1";
  } else {
    f += "20" + digits(sequence, 4) + "02" + (jetInterface == 2 ? "1" : "0") + "  " + digits(amount, 8) +
         (jetInterface == 2 ? "00000000" : "0000000") + digits(reference, 4) + "0";
  }
  f += static_cast<char>(kEtx);
  f += static_cast<char>(JetBcc(f));
  *frame = f;
  return true;
}

void CJetLink::Write(const std::string& bytes) {
  if (m_fnWrite) {
    m_fnWrite(bytes);
    return;
  }
  if (m_pPort && m_bOpen) m_pPort->CommWrite(0, static_cast<int32_t>(bytes.size()), bytes.data());
}

int32_t CJetLink::SendJetRequest(int32_t business, int32_t kind, int32_t reference, int32_t amount) {
  m_strError.clear();
  if (!m_bUse || !m_bOpen) return 0;
  std::string frame;
  if (!BuildJetRequest(m_nInterface, business, kind, m_nSequence, reference, amount, &frame, &m_strError)) return 0;
  m_nJetState = 0;
  Write(frame);
  return 1;
}

void CJetLink::StartAnswer(uint32_t id) {
  m_bJetBusy = 1;
  if (m_hOwner) ui::setTimer(m_hOwner, id, kJetAnswerDelayMs);
}

bool CJetLink::OnTimer(uint32_t id) {
  if (id != kJetTimerAck && id != kJetTimerNak && id != kJetTimerEot) return false;
  if (m_hOwner) ui::killTimer(m_hOwner, id);
  m_bJetBusy = 0;
  std::string bytes;
  if (id == kJetTimerEot) {
    bytes = std::string(1, static_cast<char>(kEot));
  } else {
    const char code = static_cast<char>(id == kJetTimerAck ? kAck : kNak);
    bytes = m_nInterface < 2 ? std::string{static_cast<char>(kDle), code} : std::string(1, code);
    m_bJetAckSent = id == kJetTimerAck ? 1 : 0;
  }
  Write(bytes);
  return true;
}

void CJetLink::OnCommJet(WPARAM wParam) {
  if (!m_pPort || !m_bOpen || wParam != 1) return;
  DrainCommPort(*m_pPort, m_pGuard ? *m_pGuard : m_ownGuard,
                [this](const CommMessage& m) { HandleFrame(m.data, m.length); });
}

void CJetLink::StartReply(const uint8_t* rest, int32_t length) {
  m_nJetState = 2;
  m_nJetLength = 0;
  if (m_nInterface < 2) {
    m_nJetPhase = 1;
    m_nJetExpected = 10;
  } else {
    m_nJetPhase = 11;
    m_nJetExpected = 16;
  }
  Collect(rest, length);
}

void CJetLink::HandleFrame(const uint8_t* f, int32_t n) {
  if (n <= 0) return;
  if (m_nJetState == 6 || m_nJetState == 21 || m_nJetState == -1) return;
  if (m_nJetState == 2) {
    Collect(f, n);
    return;
  }
  const bool older = m_nInterface < 2;
  if (n == 1) {
    const uint8_t b = f[0];
    if (b == kDle) {
      m_nJetState = 16;
    } else if (m_nJetState == 16) {
      m_nJetState = b == kAck ? 6 : b == kNak ? 21 : 0;
    } else if (b == kStx) {
      StartReply(f + 1, 0);
    } else if (!older) {
      if (b == kEot) {
        m_bJetAckSent = 0;
      } else if (b == kEnq) {
        StartAnswer(m_bJetAckSent ? kJetTimerAck : kJetTimerNak);  // the last answer again
      } else if (b == kAck) {
        m_nJetState = 6;
        StartAnswer(kJetTimerEot);
      } else if (b == kNak) {
        m_nJetState = 21;
      }
    }
    return;
  }
  for (int32_t i = 0; i < n; ++i) {
    if (f[i] == kStx) {
      StartReply(f + i + 1, n - i - 1);
      return;
    }
    if (f[i] == kDle && i + 1 < n && (f[i + 1] == kAck || f[i + 1] == kNak)) {
      m_nJetState = f[i + 1] == kAck ? 6 : 21;
      return;
    }
    m_nJetState = 0;
  }
}

void CJetLink::Collect(const uint8_t* data, int32_t length) {
  const int32_t room = static_cast<int32_t>(sizeof m_abJetReceive) - m_nJetLength;
  if (length > 0 && room > 0) std::memcpy(m_abJetReceive + m_nJetLength, data, static_cast<size_t>(std::min(length, room)));
  m_nJetLength += length;
  const uint8_t* r = m_abJetReceive;
  while (m_nJetState == 2 && m_nJetLength >= m_nJetExpected) {
    if (m_nJetLength > kMaxReply) {
      m_nJetState = 0;
      return;
    }
    switch (m_nJetPhase) {
      case 1: {
        bool ok = r[0] == '2' && between(r[1], '0', '1') && between(r[2], '1', '3') && between(r[3], '1', '4') &&
                  between(r[4], '0', '1') && r[5] == ' ';
        for (int i = 6; i <= 9; ++i) ok = ok && isDigit(r[i]);
        if (!ok) {
          m_nJetState = 0;
          return;
        }
        m_nJetPhase = 2;
        m_nJetExpected = 62;
        break;
      }
      case 2:
        m_nJetPhase = 21;
        if (r[60] != kEtx) m_nJetExpected = 186;
        break;
      case 11: {
        bool ok = r[0] == '2' && between(r[1], '0', '1') && between(r[2], '1', '3') && between(r[3], '1', '4') &&
                  between(r[4], '0', '1') && between(r[5], '0', '3') && r[6] == '0';
        for (int i = 7; i <= 13; ++i) ok = ok && isDigit(r[i]);
        ok = ok && (r[14] == ' ' || r[14] == '0') && (r[15] == ' ' || r[15] == '0');
        if (!ok) {
          m_nJetState = 0;
          return;
        }
        m_nJetPhase = 21;
        m_nJetExpected = (r[11] - '0') * 100 + (r[12] - '0') * 10 + (r[13] - '0') + 18;
        break;
      }
      default: {  // 21: the whole reply is here
        m_nJetState = 0;
        if (m_bJetReplyReady) return;  // the last one is still unread: no answer
        uint8_t check = 0;
        for (int32_t i = 0; i < m_nJetExpected; ++i) check ^= r[i];
        if (check == 0) {
          std::memcpy(m_abJetReply, r, static_cast<size_t>(m_nJetExpected));
          m_bJetReplyReady = 1;
          StartAnswer(kJetTimerAck);
        } else {
          StartAnswer(kJetTimerNak);
        }
        return;
      }
    }
  }
}

const char* CJetLink::ReplyText() const {
  return reinterpret_cast<const char*>(m_abJetReply) + (m_nInterface < 2 ? 6 : 5);
}

int32_t CJetLink::ReplyLength() const {
  const int32_t length = m_nJetExpected - 2 - (m_nInterface < 2 ? 6 : 5);
  return length < 0 ? 0 : length;
}

}  // namespace varnex::reg
