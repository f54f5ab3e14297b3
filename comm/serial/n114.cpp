// CSerial: the N114 framing, an addressed and acknowledged protocol for a
// multi-drop line. Every multi-byte field is big-endian.
//
// L1 frame:
//   offset  size  content
//   0       2     destination address (0xFFFF broadcast)
//   2       2     source address
//   4       1     frame number (sequence counter A)
//   5       1     command
//   6       2     data length n (0xA5 and 0xAE: the low byte only counts)
//   8       n     data
//   8 + n   1     S: all bytes through S add to 0 modulo 256
//   9 + n   1     R: two's complement of r, where r starts at 0 and takes
//                 each byte through S as r := ror1(r + x)
//
// L2 frame: an L1 frame with command 2, 4 or 5 (length field = m + 6) whose
// data begins with L2 destination, L2 source, L2 sequence number (counter
// B), L2 command and the 16-bit L2 data length m; S and R close it.
//
// Answers have no check bytes: L1 ACK (6 bytes: the frame's source, the host
// address, its frame number, 0x06), L1 NAK (7: the same with 0x15 and a
// reason: 4 check error, 5 length or format, 7 not delivered), L2 ACK (12
// bytes, command 2, L2 command 0x06) and L2 NAK (13, L2 command 0x15 and a
// reason).
#include <cstring>

#include "comm/serial/locks.h"
#include "quorex/serial.h"

using quorex::Hold;

namespace {

constexpr uint32_t kOff = 0x10000000;
constexpr uint32_t kModeN114 = 0x10000000;
constexpr uint32_t kModeLayer2 = 0x00200000;
constexpr uint32_t kL1Mode = 0x50150000;
constexpr uint32_t kL1ModeImmediate = 0x501D0000;
constexpr uint32_t kL2Mode = 0x50250000;
constexpr uint32_t kL2ModeImmediate = 0x502D0000;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;


// One received command: its frame lengths (0: none), whether it is answered
// with an ACK and whether it pairs with a request.
struct Command {
  uint8_t code;
  int16_t length1;
  int16_t length2;
  bool ack;
  bool paired;
};

// Lengths of -1 mark the commands whose length is worked out by hand (L2
// frames, the answers, 0xA5 and 0xAE).
const Command kCommands[] = {
    {0x02, -1, -1, true, true},   {0x04, -1, -1, false, false}, {0x05, -1, -1, true, false},
    {0x06, 6, 6, false, true},    {0x15, 7, 7, false, true},    {0xA1, 14, 16, false, false},
    {0xA2, 26, 28, false, true},  {0xA5, -1, -1, false, false}, {0xA8, 10, 12, true, false},
    {0xA9, 10, 12, true, false},  {0xAA, 10, 12, true, false},  {0xAB, 10, 12, true, false},
    {0xAD, 10, 12, false, false}, {0xAE, -1, -1, false, false}, {0xB1, 10, 12, false, false},
    {0xB5, 14, 16, false, false}, {0xBE, 30, 32, false, false}, {0xFC, 10, 12, false, false},
};

const Command* commandOf(uint8_t code) {
  for (const Command& c : kCommands)
    if (c.code == code) return &c;
  return nullptr;
}

uint16_t word(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

void putWord(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v & 0xFF);
}

uint8_t rotateRight(uint8_t v) { return static_cast<uint8_t>((v >> 1) | ((v & 1) << 7)); }

// r over the bytes: r := ror1(r + x).
uint8_t rotateSum(const uint8_t* p, int32_t n) {
  uint8_t r = 0;
  for (int32_t i = 0; i < n; ++i) r = rotateRight(static_cast<uint8_t>(r + p[i]));
  return r;
}

bool isL2Answer(const uint8_t* b, int32_t held) {
  return held >= 12 && b[5] == 0x02 && (b[11] == kAck || b[11] == kNak);
}

}  // namespace

// --- frames out -----------------------------------------------------------------------

void CSerial::MakeN114L1Header(uint8_t* out, uint16_t destination, uint16_t source, uint8_t command,
                               uint16_t length) {
  putWord(out, destination);
  putWord(out + 2, source == 0xFFFF ? hostAddress_ : source);
  out[4] = sequenceA_++;
  out[5] = command;
  putWord(out + 6, length);
}

void CSerial::MakeCheck(uint8_t* frame, int32_t* length) {
  if (!frame || !length || *length < 0) return;
  const int32_t n = *length;
  uint8_t sum = 0;
  for (int32_t i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + frame[i]);
  frame[n] = static_cast<uint8_t>(0x100 - sum);
  frame[n + 1] = static_cast<uint8_t>(0x100 - rotateSum(frame, n + 1));
  *length = n + 2;
}

int32_t CSerial::CalCheck(const uint8_t* frame, int32_t length) {
  if (!frame || length <= 2) return 0;
  uint8_t sum = 0;
  for (int32_t i = 0; i < length - 1; ++i) sum = static_cast<uint8_t>(sum + frame[i]);
  if (sum != 0) return 0;
  return static_cast<uint8_t>(0x100 - rotateSum(frame, length - 1)) == frame[length - 1] ? 1 : 0;
}

int32_t CSerial::N114L1Write(uint16_t destination, uint16_t source, uint8_t command, int32_t tag, uint16_t length,
                             const void* data, int32_t immediate) {
  const int32_t n = (command == 0xA5 || command == 0xAE) ? (length & 0xFF) : length;
  if (!data && n > 0) return -1;
  uint32_t timeout;
  int32_t retry = 0;
  if (destination == 0xFFFF) {
    if (command == 0xA5 || command == 0xB5) timeout = defaultTimeout_ / 2;
    else if (command == 0xAE || command == 0xBE) timeout = defaultTimeout_;
    else timeout = 1500;
  } else {
    timeout = defaultTimeout_;
    retry = command == 0xAD ? retryCount_ / 2 : retryCount_;
  }
  if (timeout == 0) timeout = 1;  // an answer is always awaited
  uint8_t* frame = CommWriteBufAlloc(static_cast<uint32_t>(n + 10));
  if (!frame) return -1;
  MakeN114L1Header(frame, destination, source, command, length);
  if (n > 0) std::memcpy(frame + 8, data, static_cast<size_t>(n));
  int32_t total = 8 + n;
  MakeCheck(frame, &total);
  const int32_t result =
      CommWrite(immediate ? kL1ModeImmediate : kL1Mode, total, frame, retry, timeout, tag, -1, nullptr);
  if (result != 0) Free(frame);
  return result;
}

int32_t CSerial::N114L2Write(uint16_t destination, uint16_t source, uint8_t l1Command, uint8_t l2Command,
                             int32_t tag, uint16_t length, const void* data, uint8_t l2Destination,
                             int32_t immediate) {
  const int32_t m = length;
  if (!data && m > 0) return -1;
  // The L1 length field holds m + 6, which must fit its 16 bits.
  if (m > 0xFFFF - 6) return -1;
  uint32_t timeout;
  int32_t retry = 0;
  if (destination == 0xFFFF) {
    timeout = 3000;
  } else {
    timeout = defaultTimeout_;
    retry = (l2Command == 0x3C || l2Command == 0x3D) ? 2 : retryCount_;
  }
  if (timeout == 0) timeout = 1;
  uint8_t* frame = CommWriteBufAlloc(static_cast<uint32_t>(m + 16));
  if (!frame) return -1;
  const uint16_t from = source == 0xFFFF ? hostAddress_ : source;
  MakeN114L1Header(frame, destination, from, l1Command, static_cast<uint16_t>(m + 6));
  frame[8] = l2Destination == 0xFF ? static_cast<uint8_t>(destination & 0xFF) : l2Destination;
  frame[9] = static_cast<uint8_t>(from & 0xFF);
  frame[10] = sequenceB_++;
  frame[11] = l2Command;
  putWord(frame + 12, length);
  if (m > 0) std::memcpy(frame + 14, data, static_cast<size_t>(m));
  int32_t total = 14 + m;
  MakeCheck(frame, &total);
  const int32_t result =
      CommWrite(immediate ? kL2ModeImmediate : kL2Mode, total, frame, retry, timeout, tag, -1, nullptr);
  if (result != 0) Free(frame);
  return result;
}

// --- answers --------------------------------------------------------------------------

int32_t CSerial::N114Answer(bool nak, uint8_t code, int32_t result) {
  if (!n114Pending_ && (n114Mode_ & kOff)) return (nak && result == -1) ? 0 : result;
  if (nak && code == 0xFF) return result;
  if (receiveCount_ < 6 || word(receiveBuffer_) != hostAddress_) return result;
  const int32_t n = nak ? 7 : 6;
  uint8_t* answer = CommWriteBufAlloc(static_cast<uint32_t>(n));
  if (!answer) return -1;
  answer[0] = receiveBuffer_[2];
  answer[1] = receiveBuffer_[3];
  putWord(answer + 2, hostAddress_);
  answer[4] = receiveBuffer_[4];
  answer[5] = nak ? kNak : kAck;
  if (nak) answer[6] = code;
  RestartSettleTimer(1);
  if (CommWrite(kL1Mode, n, answer, 0, 0, 0) != 0) {
    Free(answer);
    return -1;
  }
  return result;
}

int32_t CSerial::N114L1Ack(int32_t result) { return N114Answer(false, 0, result); }

int32_t CSerial::N114L1Nak(uint8_t code, int32_t result) { return N114Answer(true, code, result); }

// --- pairing --------------------------------------------------------------------------

int32_t CSerial::N114OutQueCheck(int32_t* tag) { return N114OutQueCheckFrame(receiveCount_, tag); }

int32_t CSerial::N114OutQueCheckFrame(int32_t length, int32_t* tag) {
  const uint8_t* r = receiveBuffer_;
  if (length < 6) return -1;
  const uint16_t replyDestination = word(r), replySource = word(r + 2);
  const uint8_t command = r[5];
  const bool l1Answer = command == kAck || command == kNak;
  int32_t result = -1;
  Hold output(*outputLock_);
  for (int32_t i = outHead_; i != outTail_; i = (i + 1) & 0xFFF) {
    OutQueueEntry& e = outQueue_[i];
    if (!e.data || !(e.mode & kModeN114) || e.length < 8) continue;
    const uint8_t* q = e.data;
    const uint16_t requestDestination = word(q);
    if (requestDestination != replySource && requestDestination != 0xFFFF) continue;
    if (word(q + 2) != replyDestination) continue;
    const bool l2Request = (e.mode & kModeLayer2) && e.length >= 14;
    bool match;
    if (!l2Request || l1Answer) {
      match = q[4] == r[4];
    } else {
      match = length >= 10 && q[9] == r[8] && (q[8] == 0xFF || q[8] == r[9]) && (length < 12 || q[10] == r[10]);
    }
    if (!match) continue;
    if (e.answered) {
      result = 0;
      continue;
    }
    bool refused = command == kNak;
    if (l2Request && !l1Answer && length >= 12 && r[11] == kNak)
      refused = length < 13 || (r[12] > 0x86 && r[12] != 0x8E);
    const bool poll = requestDestination == 0xFFFF && q[5] == 0xA5;
    if (tag) *tag = e.tag;
    if (refused || poll) return 1;
    if (l2Request && command == kAck) {
      // The line took the frame; its L2 answer is still to come.
      e.resendState = 1;
      e.waitCounter = (q[11] == 0x5F && e.length > 14 && q[14] == 0 && e.timeout)
                          ? -static_cast<int32_t>(15000 / e.timeout)
                          : 0;
      return 1;
    }
    e.sendCount = e.retryLimit;
    e.resendState = 0;
    if (e.timerId && runningTimers_ > 0) --runningTimers_;
    e.answered = 1;
    return 1;
  }
  return result;
}

// --- receiving ------------------------------------------------------------------------

int32_t CSerial::N114Check(uint32_t status) {
  if (!(binMode_ & kOff) || !(n143Mode_ & kOff) || receiveCount_ <= 5) return 0;
  const PendingFlags pending = Pending();
  const bool on = !(n114Mode_ & kOff);
  const bool strict = pending.n114 || (on && !pending.text && !pending.n143);
  const uint8_t* b = receiveBuffer_;
  const int32_t held = receiveCount_;
  const Command* command = commandOf(b[5]);
  if (!command) return strict ? -1 : 0;

  int32_t length = 0;
  bool checked = true;  // the answers carry no check bytes
  bool layer2 = false;
  bool lengthGood = true;
  switch (command->code) {
    case kAck:
      length = 6;
      checked = false;
      break;
    case kNak:
      length = 7;
      checked = false;
      break;
    default: {
      if (held < 8) return 0;
      const int32_t field = word(b + 6);
      if (command->code == 0x02 || command->code == 0x04 || command->code == 0x05) {
        layer2 = true;
        if (command->code == 0x02 && held < 12) return 0;
        if (isL2Answer(b, held)) {
          length = b[11] == kAck ? 12 : 13;
          checked = false;
        } else {
          length = field + 10;
          lengthGood = field > (command->code == 0x02 ? 3 : 5);
          if (lengthGood && command->code == 0x02) {
            if (held < 14) return 0;
            lengthGood = word(b + 12) + 16 == length;
          }
        }
      } else if (command->code == 0xA5 || command->code == 0xAE) {
        const int32_t low = field & 0xFF;
        const int32_t base = command->code == 0xA5 ? 0 : 16;
        length = low + 10;
        lengthGood = low == base || low == base + 2;
      } else {
        length = field + 10;
        lengthGood = length == command->length1 || length == command->length2;
      }
      // Never more than the receive buffer can hold.
      if (length > kReceiveBufferSize) lengthGood = false;
    }
  }
  if (!lengthGood) {
    if (!on && !pending.n114) return 0;
    N114L1Nak(5, -1);
    return -1;
  }
  if (held < length) return 0;
  // Off, with nothing of its own waiting, N114 takes only what is plainly
  // its frame: an answer (no check bytes) answers nothing here, and bytes
  // that fail the check belong to the text framing behind it.
  if (!on && !pending.n114 && (!checked || !CalCheck(b, length))) return 0;

  const uint32_t type = layer2 ? 0x10250000 : 0x10150000;
  if (checked && !CalCheck(b, length)) {
    InQueWrite(type | 0x4000, length, b, status, 0);
    N114L1Nak(4, 0);
    return length;
  }
  int32_t tag = 0;
  int32_t paired = -1;
  if (command->paired) {
    paired = N114OutQueCheckFrame(length, &tag);
    if (paired != 1) tag = 0;
  }
  const bool answer = !checked;  // an ACK or NAK is never answered
  if (InQueWrite(type, length, b, status, tag) != 0) {
    if (!answer) N114L1Nak(7, 0);
    return length;
  }
  if (answer) return length;
  if ((command->code == 0x02 || command->code == 0xA2) && paired == -1) {
    N114L1Nak(5, 0);
  } else if (command->ack) {
    N114L1Ack(0);
  }
  return length;
}

// An L2 request whose L1 frame the line acknowledged waits for its L2
// answer; the owner's timer counts the wait. True when the timer expiry was
// taken here.
bool CSerial::N114WaitTimer(int32_t index) {
  OutQueueEntry& e = outQueue_[index];
  if ((e.mode & kModeN114) && e.length >= 6 && word(e.data) == 0xFFFF && e.data[5] == 0xA5) {
    // A broadcast poll collects answers for ten periods; the owner hears at
    // the second that the poll is still open.
    if (!e.inProgress) {
      KillOutTimer(index);
      return true;
    }
    ++e.waitCounter;
    if (e.waitCounter == 2) InQueWrite(0x8000, 0, nullptr, 0, e.tag);
    if (e.waitCounter >= 10) DeleteOutQue(index, 1);
    return true;
  }
  if (!(e.mode & kModeN114) || !(e.mode & kModeLayer2) || !e.resendState || e.length < 16) return false;
  ++e.waitCounter;
  if (e.timeout == 0 || e.waitCounter <= static_cast<int32_t>(5000 / e.timeout)) return true;
  if (e.data[11] == 0x5F && e.length > 14 && e.data[14] == 0) {
    const int32_t tag = e.tag;
    DeleteOutQue(index, 1);
    InQueWrite(0x8000, 0, nullptr, 0, tag);
    return true;
  }
  // Asked again as a new frame: new frame number and L2 sequence number.
  e.resendState = 0;
  e.waitCounter = 0;
  e.data[4] = sequenceA_++;
  sequenceB_ = static_cast<uint8_t>(sequenceB_ + 31);
  e.data[10] = sequenceB_++;
  int32_t body = e.length - 2;
  MakeCheck(e.data, &body);
  KillOutTimer(index);
  e.inProgress = 0;
  e.timerExpired = 1;
  return true;
}
