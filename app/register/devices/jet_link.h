// The wire side of the card-payment terminal on the "JET" port: the request
// messages of both protocol generations with their BCC, the receive state
// machine that collects and checks the terminal's replies, and the ACK, NAK
// and EOT answers sent 40 ms later by the owner window's timers 103 to 105.
// The card-terminal dialog starts the exchange and polls this state.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/register/devices/comm_guard.h"
#include "platform/ui/window.h"

class CSerial;

namespace varnex::reg {

inline constexpr uint32_t kJetTimerAck = 103, kJetTimerNak = 104, kJetTimerEot = 105;
inline constexpr uint32_t kJetAnswerDelayMs = 40;

// Builds one request; false (with the reason in *error, code page 932) when
// the kind is unknown, the amount is negative in the older protocol, or a
// number does not fit its fixed-width field.
bool BuildJetRequest(int32_t jetInterface, int32_t business, int32_t kind, int32_t sequence, int32_t reference,
                     int32_t amount, std::string* frame, std::string* error);
// The XOR of the bytes after the STX up to and including the ETX.
uint8_t JetBcc(const std::string& frame);
// The sequence number after a completed payment (past 9999 it starts at 1).
inline int32_t NextJetSequence(int32_t sequence) { return sequence >= 9999 || sequence < 1 ? 1 : sequence + 1; }

class CJetLink {
 public:
  // What the link uses; set by the owner before the port is used.
  CSerial* m_pPort = nullptr;
  int32_t m_bOpen = 0;
  int32_t m_bUse = 0;
  int32_t m_nInterface = 0;       // "JET Interface"
  int32_t m_nSequence = 1;        // "JET Sequence Number"
  HWND m_hOwner = nullptr;        // receives timers 103-105
  CCommGuard* m_pGuard = nullptr; // shared with the other ports; null: its own

  // Receive state (see the class comment of the dialog for their use).
  int32_t m_nJetState = -1;
  int32_t m_nJetLength = 0;
  int32_t m_nJetPhase = 0;
  int32_t m_nJetExpected = 0;
  int32_t m_bJetAckSent = 0;
  int32_t m_bJetReplyReady = 0;
  int32_t m_bJetBusy = 0;   // an answer of ours (ACK, NAK, EOT) waits for its timer
  uint8_t m_abJetReceive[4096] = {};
  uint8_t m_abJetReply[4096] = {};
  // Why the last request was not sent (code page 932), empty when it was.
  std::string m_strError;

  // 1 sent, 0 not sent (no port in use, or refused: see m_strError).
  int32_t SendJetRequest(int32_t business, int32_t kind, int32_t reference, int32_t amount);
  // WM_COMM_JET: drains the port's input queue.
  void OnCommJet(WPARAM wParam);
  // One received frame, as the port hands it over.
  void HandleFrame(const uint8_t* data, int32_t length);
  // After the card-terminal dialog: the link ignores the terminal again, and
  // a payment made moves the sequence number on (past 9999 to 1).
  void AfterDialog(bool paid) {
    m_nJetState = -1;
    if (paid) m_nSequence = NextJetSequence(m_nSequence);
  }
  // Timers 103-105 of the owner: true when the id was one of them.
  bool OnTimer(uint32_t id);
  // Arms one of the answer timers.
  void StartAnswer(uint32_t id);

  // The reply text the dialog reads: the characters after the reply's
  // header (the check fields of the receive state machine) up to its ETX.
  const char* ReplyText() const;
  int32_t ReplyLength() const;

  // Writes bytes on the port (tests may watch); the port's CommWrite by default.
  std::function<void(const std::string&)> m_fnWrite;

 private:
  void StartReply(const uint8_t* rest, int32_t length);
  void Collect(const uint8_t* data, int32_t length);
  void Write(const std::string& bytes);
  CCommGuard m_ownGuard;
};

}  // namespace varnex::reg
