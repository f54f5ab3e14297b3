// CSerial: the configurable binary framing. SetBinMode gives the mode word
// and seven values; BinWrite completes and queues a frame, BinCheck cuts
// received frames out of the receive buffer, checks them and pairs replies
// with their requests.
//
// Mode word:
//   0x00000F00  check: 0x000 none, 0x100 sum (two's complement of the byte
//               sum), 0x200 LRC (XOR), 0x300 CRC-16 (the HDLC FCS, low first)
//   0x00010000  header test on receive: first four bytes (little-endian) AND
//               mask equal the header value
//   0x00020000  sequence byte at its position: BinWrite writes sequence
//               counter A there; a reply answers the request whose byte there is equal
//   0x00040000  a reply with 0x15 at the NAK position does not complete its request
//   0x00080000  length field present (without it nothing is cut on receive)
//   0x00100000  add the length adjustment to the field to get the frame length
//   0x00200000  length field 16 bits, low byte first
//   0x00400000  length field 16 bits, high byte first
//   0x01000000  the check range starts at the check start (else at 0)
//   0x10000000  lenient: a frame with a wrong header or impossible length is
//               left to the later checks; alone it means the framing is off
//
// Frame: the length field holds (frame length) - (adjustment), check bytes
// included; the check covers the range up to the end of the frame, its bytes
// are the last one or two of the frame.
//
// The "SA" device (0x011F0200, header 2, mask 0xFF, sequence 2, NAK 1,
// length 3, adjustment 4, check start 1):
//
//   offset      size        content
//   0           1           0x02
//   1           1           message byte; 0x15 in a reply: negative acknowledgement
//   2           1           sequence byte (the reply carries the request's)
//   3           1           length: bytes after this one, the LRC included
//   4           length - 1  data
//   3 + length  1           LRC: XOR of the bytes from offset 1 to the last data byte
#include <cstring>

#include "comm/serial/locks.h"
#include "quorex/serial.h"

using quorex::Hold;

namespace {

constexpr uint32_t kOff = 0x10000000;
constexpr uint32_t kCheckKind = 0x00000F00;
constexpr uint32_t kCheckNone = 0x000;
constexpr uint32_t kCheckSum = 0x100;
constexpr uint32_t kCheckLrc = 0x200;
constexpr uint32_t kCheckCrc = 0x300;
constexpr uint32_t kHeaderTest = 0x00010000;
constexpr uint32_t kSequence = 0x00020000;
constexpr uint32_t kNakTest = 0x00040000;
constexpr uint32_t kLengthField = 0x00080000;
constexpr uint32_t kLengthAdjust = 0x00100000;
constexpr uint32_t kLength16Low = 0x00200000;
constexpr uint32_t kLength16High = 0x00400000;
constexpr uint32_t kCheckStart = 0x01000000;
constexpr uint32_t kModeBinaryFrame = 0x00010000;
constexpr uint8_t kNak = 0x15;

// Bytes the check takes: 0, 1 or 2; -1 for a kind that does not exist.
int32_t checkBytes(uint32_t mode) {
  switch (mode & kCheckKind) {
    case kCheckNone: return 0;
    case kCheckSum:
    case kCheckLrc: return 1;
    case kCheckCrc: return 2;
    default: return -1;
  }
}

// Width of the length field: 1 or 2; -1 when both 16-bit orders are asked for.
int32_t lengthWidth(uint32_t mode) {
  const bool low = (mode & kLength16Low) != 0, high = (mode & kLength16High) != 0;
  if (low && high) return -1;
  return (low || high) ? 2 : 1;
}

}  // namespace

int32_t CSerial::BinWrite(int32_t tag, uint16_t length, const void* data, int32_t immediate) {
  const uint32_t mode = binMode_;
  if (mode == 0 || (!data && length > 0)) return -1;
  const int32_t check = checkBytes(mode);
  if (check < 0) return -1;
  const int32_t n = length;
  const int32_t frameLength = n + check;
  const int32_t width = lengthWidth(mode);
  // Every position must lie inside the caller's data (both bytes of a 16-bit field).
  if ((mode & kSequence) && (binSequencePos_ < 0 || binSequencePos_ >= n)) return -1;
  int32_t field = 0;
  if (mode & kLengthField) {
    if (width < 0 || binLengthPos_ < 0 || binLengthPos_ + width > n) return -1;
    field = frameLength - ((mode & kLengthAdjust) ? binLengthAdjust_ : 0);
    if (field < 0 || field > (width == 2 ? 0xFFFF : 0xFF)) return -1;  // would not fit the field
  }
  if ((mode & kCheckStart) && (binCheckStart_ < 0 || binCheckStart_ >= n)) return -1;
  if (frameLength == 0) return CommWrite(0, 0, nullptr);

  uint8_t* frame = CommWriteBufAlloc(static_cast<uint32_t>(frameLength));
  if (!frame) return -1;
  std::memcpy(frame, data, static_cast<size_t>(n));
  if (mode & kSequence) frame[binSequencePos_] = sequenceA_++;
  if (mode & kLengthField) {
    if (mode & kLength16Low) {
      frame[binLengthPos_] = static_cast<uint8_t>(field & 0xFF);
      frame[binLengthPos_ + 1] = static_cast<uint8_t>(field >> 8);
    } else if (mode & kLength16High) {
      frame[binLengthPos_] = static_cast<uint8_t>(field >> 8);
      frame[binLengthPos_ + 1] = static_cast<uint8_t>(field & 0xFF);
    } else {
      frame[binLengthPos_] = static_cast<uint8_t>(field);
    }
  }
  const int32_t from = (mode & kCheckStart) ? binCheckStart_ : 0;
  switch (mode & kCheckKind) {
    case kCheckSum: {
      uint8_t sum = 0;
      for (int32_t i = from; i < n; ++i) sum = static_cast<uint8_t>(sum + frame[i]);
      frame[n] = static_cast<uint8_t>(0x100 - sum);
      break;
    }
    case kCheckLrc: {
      uint8_t lrc = 0;
      for (int32_t i = from; i < n; ++i) lrc ^= frame[i];
      frame[n] = lrc;
      break;
    }
    case kCheckCrc: {
      const uint16_t fcs = Crc16(frame + from, n - from);
      frame[n] = static_cast<uint8_t>(fcs & 0xFF);
      frame[n + 1] = static_cast<uint8_t>(fcs >> 8);
      break;
    }
    default: break;
  }
  // Without a time-out no reply is awaited, so there is nothing to retry.
  const uint32_t timeout = defaultTimeout_;
  const int32_t retry = timeout ? retryCount_ : 0;
  const int32_t result = CommWrite(immediate ? 0x40090000u : 0x40010000u, frameLength, frame, retry, timeout, tag,
                                   timeout ? -1 : 0, nullptr);
  if (result != 0) Free(frame);
  return result;
}

int32_t CSerial::BinCheck(uint32_t status) {
  const uint32_t mode = binMode_;
  if (!(mode & ~kOff) || !(n114Mode_ & kOff) || !(n143Mode_ & kOff) || receiveCount_ <= 3) return 0;
  const PendingFlags pending = Pending();
  const bool strict = !(mode & kOff) && !pending.text && !pending.n114 && !pending.n143;
  const int32_t refuse = strict ? -1 : 0;
  const uint8_t* b = receiveBuffer_;
  const int32_t held = receiveCount_;

  if (mode & kHeaderTest) {
    const uint32_t word = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                          (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    if ((word & binMask_) != binHeader_) return refuse;
  }
  if ((mode & kSequence) && held < binSequencePos_) return 0;
  if (!(mode & kLengthField)) return 0;
  const int32_t width = lengthWidth(mode);
  if (width < 0 || binLengthPos_ < 0) return refuse;
  if (held < binLengthPos_ + width) return 0;
  int32_t field;
  if (mode & kLength16Low) field = b[binLengthPos_] | (b[binLengthPos_ + 1] << 8);
  else if (mode & kLength16High) field = (b[binLengthPos_] << 8) | b[binLengthPos_ + 1];
  else field = b[binLengthPos_];
  const int64_t frame64 = static_cast<int64_t>(field) + ((mode & kLengthAdjust) ? binLengthAdjust_ : 0);
  // A frame that ends inside its own length field, or that could never fit
  // the receive buffer, is impossible.
  if (frame64 < binLengthPos_ + width || frame64 > kReceiveBufferSize) return refuse;
  const int32_t frameLength = static_cast<int32_t>(frame64);
  if (held < frameLength) return 0;

  const uint32_t kind = mode & kCheckKind;
  if (kind != kCheckNone) {
    int32_t from = 0;
    if (mode & kCheckStart) {
      if (binCheckStart_ < 0 || frameLength - binCheckStart_ < 1) return -1;
      from = binCheckStart_;
    }
    const char* error = nullptr;
    if (kind == kCheckSum) {
      uint8_t sum = 0;
      for (int32_t i = from; i < frameLength; ++i) sum = static_cast<uint8_t>(sum + b[i]);
      if (sum != 0) error = "Sum Error";
    } else if (kind == kCheckLrc) {
      uint8_t lrc = 0;
      for (int32_t i = from; i < frameLength; ++i) lrc ^= b[i];
      if (lrc != 0) error = "LRC Error";
    } else if (kind == kCheckCrc) {
      if (frameLength - from <= 2 || !ChkCrc(b + from, frameLength - from)) error = "CRC Error";
    } else {
      return -1;
    }
    if (error) {
      commCtrl_->LogWrite(error);
      InQueWrite(0x14000, frameLength, b, status, 0);
      return frameLength;
    }
  }
  int32_t tag = 0;
  if (kind == kCheckNone || BinOutQueCheckFrame(frameLength, &tag) != 1) tag = 0;
  InQueWrite(0x10000, frameLength, b, status, tag);
  return frameLength;
}

int32_t CSerial::BinOutQueCheck(int32_t* tag) { return BinOutQueCheckFrame(receiveCount_, tag); }

int32_t CSerial::BinOutQueCheckFrame(int32_t length, int32_t* tag) {
  const uint8_t* received = receiveBuffer_;
  const bool pairing = (binMode_ & kSequence) != 0;
  // A received frame too short to carry a sequence byte answers nothing.
  if (pairing && (binSequencePos_ < 0 || binSequencePos_ >= length)) return -1;
  const bool nak = (binMode_ & kNakTest) && binNakPos_ >= 0 && binNakPos_ < length && received[binNakPos_] == kNak;
  int32_t result = -1;
  Hold output(*outputLock_);
  for (int32_t i = outHead_; i != outTail_; i = (i + 1) & 0xFFF) {
    OutQueueEntry& e = outQueue_[i];
    if (!e.data || !(e.mode & kModeBinaryFrame)) continue;
    if (pairing && (binSequencePos_ >= e.length || e.data[binSequencePos_] != received[binSequencePos_])) continue;
    if (e.answered) {
      result = 0;
      continue;
    }
    if (!nak) {
      // Answered: it leaves the queue silently at a later expiry of its timer.
      e.sendCount = e.retryLimit;
      e.resendState = 0;
      if (e.timerId && runningTimers_ > 0) --runningTimers_;
      e.answered = 1;
    }
    if (tag) *tag = e.tag;
    return 1;
  }
  return result;
}
