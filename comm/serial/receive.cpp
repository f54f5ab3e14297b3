// CSerial: what the port's events do. Received bytes are gathered in the
// receive buffer; what no framing takes waits for the receive timer, which
// hands it to the owner as one time-out entry. The framings (HDLC, binary,
// text, N114, N143) cut frames out of the buffer before that happens.
//
// HDLC frame on the wire (EncodeHDLC):
//
//   offset  size  content
//   0       1     flag 0x7E
//   1       n     escaped body: [0xFF 0x03 0x00 with mode 0x02000000] + data + FCS
//   1 + n   1     flag 0x7E
//
// FCS: CRC-16 (reflected 0x8408, register 0xFFFF, complemented), low byte
// first. Bytes below 0x20, 0x7D and 0x7E are sent as 0x7D, byte XOR 0x20.
// With mode 0x08000000 the frame is the (header and) data only.
#include <cstdlib>
#include <cstring>

#include "comm/serial/locks.h"
#include "quorex/serial.h"

using quorex::Hold;

int32_t CSerial::EventRXProc() {
  lineActivity_ = 1;
  Hold receive(*receiveLock_);
  uint32_t status = 0;
  bool firstPass = true;
  for (;;) {
    const int32_t waiting = commCtrl_->GetInQue();
    if (waiting <= 0) break;
    if (receiveTimerId_) {
      StopTimer(receiveTimerId_);
      receiveTimerId_ = 0;
    }
    if (firstPass) {
      RestartSettleTimer((static_cast<uint32_t>(std::rand()) & 31) + 1);
      firstPass = false;
    }
    int32_t want = waiting;
    if (receiveCount_ + want > kReceiveBufferSize) {
      receiveCount_ = 0;  // what was held can never become a frame now
      if (want > kReceiveBufferSize) want = kReceiveBufferSize;
    }
    uint32_t errors = 0;
    const int32_t n = commCtrl_->CommRead(receiveBuffer_ + receiveCount_, want, &errors);
    status |= errors;
    if (n <= 0) break;
    receiveCount_ += n;
  }
  if (receiveCount_ > 0 && status != 0) {
    // A line error spoils what is held: hand it over as broken data.
    InQueWrite(0x4000, receiveCount_, receiveBuffer_, status, 0);
    receiveCount_ = 0;
    commCtrl_->LogWrite("Comm Error");
  } else if (receiveCount_ > 0 && !receiveTimerId_) {
    const uint32_t id = timerBase_ + 0x1000 + receiveTimerCounter_++;
    if (StartTimer(id, receiveTimeout_)) receiveTimerId_ = id;
  }
  return 1;
}

void CSerial::OnInTimer(uint32_t id) {
  bool handed = false;
  {
    Hold receive(*receiveLock_);
    if (!receiveTimerId_ || id != receiveTimerId_) return;
    static const char kNoCarrier[] = "NO CARRIER\r";
    uint32_t type = 0x8000;
    if ((n114Mode_ & 0x2000) &&
        CCommCtrl::MemData(receiveBuffer_, static_cast<uint32_t>(receiveCount_),
                           reinterpret_cast<const uint8_t*>(kNoCarrier), sizeof kNoCarrier - 1))
      type = 0x2000;
    bool onlyLineFeeds = true;
    for (int32_t i = 0; i < receiveCount_; ++i)
      if (receiveBuffer_[i] != 0x0A) onlyLineFeeds = false;
    if (receiveCount_ > 0 && !onlyLineFeeds) {
      InQueWrite(type, receiveCount_, receiveBuffer_, 0, 0);
      handed = true;
    }
    receiveCount_ = 0;
    StopTimer(receiveTimerId_);
    receiveTimerId_ = 0;
  }
  if (handed) commCtrl_->LogWrite("Receive Time Out");
}

int32_t CSerial::EventTXProc() {
  lineActivity_ = 1;
  socketWritable_ = 1;
  RestartSettleTimer((static_cast<uint32_t>(std::rand()) & 31) + 1);
  OutQueCheck(1);
  return 1;
}

int32_t CSerial::EncodeHDLC(uint32_t mode, uint8_t* out, const uint8_t* data, int32_t length) {
  int32_t n = 0;
  if ((mode & 0x02000000) && !(length >= 2 && data[0] == 0xFF && data[1] == 0x03)) {
    out[n++] = 0xFF;
    out[n++] = 0x03;
    out[n++] = 0x00;
  }
  std::memmove(out + n, data, static_cast<size_t>(length));
  n += length;
  if (mode & 0x08000000) return n;
  uint16_t reg = 0xFFFF;
  for (int32_t i = 0; i < n; ++i) reg = static_cast<uint16_t>((reg >> 8) ^ crc16Table_[(reg ^ out[i]) & 0xFF]);
  reg = static_cast<uint16_t>(~reg);
  out[n++] = static_cast<uint8_t>(reg & 0xFF);
  out[n++] = static_cast<uint8_t>(reg >> 8);
  int32_t escaped = 0;
  for (int32_t i = 0; i < n; ++i)
    escaped += (out[i] < 0x20 || out[i] == 0x7D || out[i] == 0x7E) ? 2 : 1;
  // Escape from the end backwards, so the body can grow in place.
  int32_t w = escaped;  // one past the last body byte, after the opening flag
  for (int32_t i = n - 1; i >= 0; --i) {
    const uint8_t b = out[i];
    if (b < 0x20 || b == 0x7D || b == 0x7E) {
      out[w--] = static_cast<uint8_t>(b ^ 0x20);
      out[w--] = 0x7D;
    } else {
      out[w--] = b;
    }
  }
  out[0] = 0x7E;
  out[escaped + 1] = 0x7E;
  return escaped + 2;
}
