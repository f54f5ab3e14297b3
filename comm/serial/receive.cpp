// CSerial: what the port's events do. Received bytes are gathered in the
// receive buffer (4096 bytes), HDLC framing is taken off, and the check chain
// (N143, binary, N114, text) cuts the buffer into frames for the input queue.
// What no check takes waits for the receive timer, which hands it to the
// owner as one time-out entry.
//
// HDLC frame on the wire (built by EncodeHDLC, read by HdlcStep):
//
//   offset  size  content
//   0       1     flag 0x7E
//   1       n     escaped body: [0xFF 0x03 0x00 with mode 0x02000000] + data + FCS
//   1 + n   1     flag 0x7E
//
// FCS: CRC-16 (reflected 0x8408, register 0xFFFF, complemented), low byte
// first, over the unescaped header and data. Bytes below 0x20, 0x7D and 0x7E
// are sent as 0x7D, byte XOR 0x20. With mode 0x08000000 the frame is the
// (header and) data only: no FCS, no escaping, no flags.
//
// A received frame opens with 0x7E 0xFF 0x7D 0x23 (flag, address, escaped
// control). Frames whose third decoded byte is not 0 are link control and
// are dropped.
#include <cstdlib>
#include <cstring>

#include "comm/serial/locks.h"
#include "quorex/serial.h"

using quorex::Hold;

namespace {

constexpr uint32_t kN114NoCarrier = 0x2000;
constexpr uint32_t kN114NoHdlc = 0x01000000;
constexpr uint32_t kHdlcIncompleteMs = 150;
const uint8_t kNoCarrier[] = {'N', 'O', ' ', 'C', 'A', 'R', 'R', 'I', 'E', 'R', '\r'};
const uint8_t kHdlcStart[] = {0x7E, 0xFF, 0x7D, 0x23};

uint32_t settleDelay() { return (static_cast<uint32_t>(std::rand()) & 31) + 1; }

bool contains(const uint8_t* data, int32_t count, const uint8_t* pattern, uint32_t length) {
  return count > 0 &&
         CCommCtrl::MemData(data, static_cast<uint32_t>(count), pattern, length) != nullptr;
}

}  // namespace

// --- check sequences ----------------------------------------------------------------------

void CSerial::BuildCheckTables() {
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0x8408u : c >> 1;
    crc16Table_[n] = static_cast<uint16_t>(c);
  }
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    crc32Table_[n] = c;
  }
}

// The complemented register: the FCS as it goes on the wire.
uint16_t CSerial::Crc16(const uint8_t* data, int32_t length) const {
  uint16_t reg = 0xFFFF;
  for (int32_t i = 0; i < length; ++i)
    reg = static_cast<uint16_t>((reg >> 8) ^ crc16Table_[(reg ^ data[i]) & 0xFF]);
  return static_cast<uint16_t>(~reg);
}

int32_t CSerial::ChkCrc(const uint8_t* data, int32_t length) const {
  if (!data || length < 3) return 0;
  const uint16_t fcs = Crc16(data, length - 2);
  return (data[length - 2] == (fcs & 0xFF) && data[length - 1] == (fcs >> 8)) ? 1 : 0;
}

int32_t CSerial::ChkCrc32(const uint8_t* data, int32_t length) const {
  if (!data || length < 5) return 0;
  uint32_t reg = 0xFFFFFFFFu;
  for (int32_t i = 0; i < length - 4; ++i) reg = (reg >> 8) ^ crc32Table_[(reg ^ data[i]) & 0xFF];
  reg = ~reg;
  const uint8_t* tail = data + length - 4;
  const uint32_t stored = static_cast<uint32_t>(tail[0]) | (static_cast<uint32_t>(tail[1]) << 8) |
                          (static_cast<uint32_t>(tail[2]) << 16) | (static_cast<uint32_t>(tail[3]) << 24);
  return stored == reg ? 1 : 0;
}

// --- HDLC framing -------------------------------------------------------------------------

int32_t CSerial::EncodeHDLC(uint32_t mode, uint8_t* out, const uint8_t* data, int32_t length) {
  if (length < 0 || (!data && length > 0)) return 0;
  int32_t n = 0;
  const bool header = (mode & 0x02000000) && !(length >= 2 && data[0] == 0xFF && data[1] == 0x03);
  if (length > 0) std::memmove(out + (header ? 3 : 0), data, static_cast<size_t>(length));
  if (header) {
    out[n++] = 0xFF;
    out[n++] = 0x03;
    out[n++] = 0x00;
  }
  n += length;
  if (mode & 0x08000000) return n;
  const uint16_t fcs = Crc16(out, n);
  out[n++] = static_cast<uint8_t>(fcs & 0xFF);
  out[n++] = static_cast<uint8_t>(fcs >> 8);
  int32_t escaped = 0;
  for (int32_t i = 0; i < n; ++i) escaped += (out[i] < 0x20 || out[i] == 0x7D || out[i] == 0x7E) ? 2 : 1;
  // Escape from the end backwards, so the body can grow in place: the write
  // position always stays ahead of the bytes still to be read.
  int32_t w = escaped;  // the last body byte, behind the opening flag
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

int32_t CSerial::DecodeHDLC(int32_t count, uint8_t* out) {
  if (!out || count > receiveCount_ || count < 2) return 0;
  int32_t n = 0;
  const int32_t last = count - 2;  // the last body byte; the closing flag is at count - 1
  for (int32_t i = 1; i <= last; ++i) {
    const uint8_t b = receiveBuffer_[i];
    if (b == 0x7D && i < last) {
      const uint8_t next = receiveBuffer_[i + 1];
      if (next >= 0x20 && next <= 0x3F) {
        out[n++] = static_cast<uint8_t>(next - 0x20);
        ++i;
        continue;
      }
      if (next == 0x5D || next == 0x5E) {
        out[n++] = static_cast<uint8_t>(next + 0x20);
        ++i;
        continue;
      }
      // Not an escape this end writes: both bytes stay as they came.
      out[n++] = b;
      out[n++] = next;
      ++i;
      continue;
    }
    out[n++] = b;
  }
  return n;
}

// --- the events -------------------------------------------------------------------------------

CSerial::PendingFlags CSerial::Pending() {
  Hold output(*outputLock_);
  return PendingFlags{textPending_ != 0, hdlcPending_ != 0, n114Pending_ != 0, n143Pending_ != 0};
}

void CSerial::StartReceiveTimer(uint32_t periodMs) {
  if (receiveTimerId_) return;
  const uint32_t id = timerBase_ + 0x1000 + receiveTimerCounter_++;
  if (StartTimer(id, periodMs)) receiveTimerId_ = id;
}

void CSerial::ConsumeReceived(int32_t count) {
  if (count >= receiveCount_) {
    receiveCount_ = 0;
    return;
  }
  if (count <= 0) return;
  std::memmove(receiveBuffer_, receiveBuffer_ + count, static_cast<size_t>(receiveCount_ - count));
  receiveCount_ -= count;
}

void CSerial::AppendReceived(const uint8_t* data, int32_t length, uint32_t status) {
  if (length > kReceiveBufferSize) {
    data += length - kReceiveBufferSize;
    length = kReceiveBufferSize;
  }
  if (receiveCount_ + length > kReceiveBufferSize) {
    // What is held can never become a frame now: hand it over as the receive
    // timer would, rather than losing it unseen.
    if (receiveCount_ > 0) InQueWrite(0x8000, receiveCount_, receiveBuffer_, status, 0);
    receiveCount_ = 0;
  }
  std::memcpy(receiveBuffer_ + receiveCount_, data, static_cast<size_t>(length));
  receiveCount_ += length;
}

int32_t CSerial::EventRXProc() {
  lineActivity_ = 1;
  Hold receive(*receiveLock_);
  bool firstPass = true;
  for (;;) {
    const int32_t waiting = commCtrl_->GetInQue();
    if (waiting <= 0) break;
    if (receiveTimerId_) {
      StopTimer(receiveTimerId_);
      receiveTimerId_ = 0;
    }
    if (firstPass) {
      RestartSettleTimer(settleDelay());
      firstPass = false;
    }
    int32_t want = waiting;
    if (receiveCount_ + want > kReceiveBufferSize) {
      if (receiveCount_ > 0) InQueWrite(0x8000, receiveCount_, receiveBuffer_, 0, 0);
      receiveCount_ = 0;
      if (want > kReceiveBufferSize) want = kReceiveBufferSize;
    }
    uint32_t status = 0;
    const int32_t n = commCtrl_->CommRead(receiveBuffer_ + receiveCount_, want, &status);
    if (n <= 0) break;
    receiveCount_ += n;
    RunReceivePipeline(status);
  }
  return 1;
}

int32_t CSerial::ReceiveBytes(const void* data, int32_t length, uint32_t status) {
  if (!data || length <= 0) return 0;
  Hold receive(*receiveLock_);
  if (receiveTimerId_) {
    StopTimer(receiveTimerId_);
    receiveTimerId_ = 0;
  }
  AppendReceived(static_cast<const uint8_t*>(data), length, status);
  RunReceivePipeline(status);
  return 1;
}

void CSerial::RunReceivePipeline(uint32_t status) {
  for (;;) {
    bool frame = false;
    const PendingFlags pending = Pending();
    const bool hdlc = pending.hdlc || !(n114Mode_ & kN114NoHdlc);
    if (hdlc && receiveCount_ >= 5 && !HdlcStep(status, &frame)) return;
    RunCheckChain(status, frame);
    if (setAsideCount_ == 0) return;
    // What was set aside behind the unit moves to the front. Whatever the
    // checks left of the unit goes with it: an HDLC frame follows, so
    // nothing can complete it any more.
    std::memcpy(receiveBuffer_, setAside_, static_cast<size_t>(setAsideCount_));
    receiveCount_ = setAsideCount_;
    setAsideCount_ = 0;
  }
}

bool CSerial::HdlcStep(uint32_t status, bool* frame) {
  *frame = false;
  for (;;) {
    const uint8_t* found = CCommCtrl::MemData(receiveBuffer_, static_cast<uint32_t>(receiveCount_), kHdlcStart,
                                              sizeof kHdlcStart);
    if (!found) return true;
    int32_t start = static_cast<int32_t>(found - receiveBuffer_);
    if (start > 0 && receiveBuffer_[start - 1] != 0x7E) {
      // Bytes in front of the frame are a unit of their own; the frame waits.
      setAsideCount_ = receiveCount_ - start;
      std::memcpy(setAside_, receiveBuffer_ + start, static_cast<size_t>(setAsideCount_));
      receiveCount_ = start;
      return true;
    }
    if (start > 0) ConsumeReceived(start);  // behind a closing flag: nothing of a frame
    int32_t close = -1;
    for (int32_t i = 4; i < receiveCount_; ++i) {
      if (receiveBuffer_[i] == 0x7E) {
        close = i;
        break;
      }
    }
    if (close < 0) {
      StartReceiveTimer(kHdlcIncompleteMs);
      return false;
    }
    const int32_t n = DecodeHDLC(close + 1, receiveBuffer_);
    const int32_t rest = receiveCount_ - (close + 1);
    if (n < 3 || !ChkCrc(receiveBuffer_, n)) {
      InQueWrite(0x4000, n, receiveBuffer_, status, 0);
      commCtrl_->LogWrite("CRC Error");
    } else if (n >= 5 && receiveBuffer_[2] != 0) {
      commCtrl_->LogWrite("Link Control Protocol");
    } else {
      setAsideCount_ = rest;
      if (rest > 0) std::memcpy(setAside_, receiveBuffer_ + close + 1, static_cast<size_t>(rest));
      receiveCount_ = n - 2;
      if (receiveCount_ >= 3 && receiveBuffer_[0] == 0xFF && receiveBuffer_[1] == 0x03 && receiveBuffer_[2] == 0x00)
        ConsumeReceived(3);
      *frame = true;
      return true;
    }
    // The frame was dropped: go on with what came after it.
    std::memmove(receiveBuffer_, receiveBuffer_ + close + 1, static_cast<size_t>(rest));
    receiveCount_ = rest;
    if (receiveCount_ <= 4) return true;
  }
}

void CSerial::RunCheckChain(uint32_t status, bool frame) {
  while (receiveCount_ > 0) {
    if ((n114Mode_ & kN114NoCarrier) && !frame && receiveCount_ > 10 &&
        contains(receiveBuffer_, receiveCount_, kNoCarrier, sizeof kNoCarrier)) {
      InQueWrite(0x2000, receiveCount_, receiveBuffer_, status, 0);
      receiveCount_ = 0;
      return;
    }
    int32_t r = N143Check(status);
    if (r < 0) {
      InQueWrite(0x20004000, receiveCount_, receiveBuffer_, status, 0);
      receiveCount_ = 0;
      commCtrl_->LogWrite("N143 Check Error");
      return;
    }
    if (r == 0) {
      r = BinCheck(status);
      if (r < 0) {
        InQueWrite(0x4000, receiveCount_, receiveBuffer_, status, 0);
        receiveCount_ = 0;
        commCtrl_->LogWrite("Bin Check Error");
        return;
      }
    }
    if (r == 0) {
      r = N114Check(status);
      if (r < 0) {
        InQueWrite(0x10004000, receiveCount_, receiveBuffer_, status, 0);
        receiveCount_ = 0;
        commCtrl_->LogWrite("N114 Check Error");
        return;
      }
    }
    if (r == 0) {
      r = TextCheck(status);
      if (r < 0) {
        InQueWrite(0x4000, receiveCount_, receiveBuffer_, status, 0);
        receiveCount_ = 0;
        commCtrl_->LogWrite("Text Check Error");
        return;
      }
    }
    if (r > 0) {
      ConsumeReceived(r);
      continue;
    }
    if (status != 0 || frame) {
      InQueWrite(0x4000, receiveCount_, receiveBuffer_, status, 0);
      receiveCount_ = 0;
      if (status != 0) commCtrl_->LogWrite("Comm Error");
      if (frame) commCtrl_->LogWrite("HDLC Frame Error");
      return;
    }
    StartReceiveTimer(receiveTimeout_);
    return;
  }
}

void CSerial::OnInTimer(uint32_t id) {
  bool handed = false;
  {
    Hold receive(*receiveLock_);
    if (!receiveTimerId_ || id != receiveTimerId_) return;
    uint32_t type = 0x8000;
    if ((n114Mode_ & kN114NoCarrier) && contains(receiveBuffer_, receiveCount_, kNoCarrier, sizeof kNoCarrier))
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
  RestartSettleTimer(settleDelay());
  OutQueCheck(1);
  return 1;
}
