// CSerial: the N143 framing, a link protocol with 32-bit link IDs, numbered
// frames and a host that acknowledges them. Every field is little-endian.
//
// L1 frame (n + 14 bytes, n at most 4095):
//   offset  size  content
//   0       1     0x16
//   1       4     link ID of the sender (0x7F000001 for command 0xC0)
//   5       1     command: 0x82 data; 0x80-0x9F and 0xC0-0xCF link commands
//   6       1     frame number (the N143 frame counter; 0xCB and 0xCD send 0
//                 and reset it, 0x95 and 0xCE leave it, others advance it)
//   7       1     a command-specific byte
//   8       1     data length, low 8 bits
//   9       1     bits 0-3: data length bits 8-11; bits 4-7: priority
//   10      n     data
//   10 + n  4     CRC-32 over offsets 1 to 9 + n
//
// A data frame (0x82) holds an element count and that many elements, each a
// type byte and a body whose size the type fixes (see N143ElementBodySize).
// Received sizes are checked against what the frame holds: a list that runs
// past its frame is refused as a format error.
//
// Frame numbers are 8 bits and wrap: the host's numbers are compared by
// their signed 8-bit difference, so 0x00 follows 0xFF.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "comm/serial/locks.h"
#include "quorex/serial.h"

using quorex::Hold;

namespace {

constexpr uint32_t kOff = 0x10000000;
constexpr uint32_t kModeN143 = 0x20000000;
constexpr uint32_t kModeLayer2 = 0x00200000;
constexpr uint32_t kL1Mode = 0x60110000;
constexpr uint32_t kL2Mode = 0x60210000;
constexpr uint32_t kNeverCombine = 0x04000000;
constexpr uint8_t kStart = 0x16;
constexpr uint8_t kData = 0x82;
constexpr uint32_t kConfigurationLink = 0x7F000001;
constexpr int32_t kMaxData = 4095;

uint32_t dword(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

void putDword(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint16_t word(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

bool linkCommand(uint8_t c) { return (c >= 0x80 && c <= 0x9F) || (c >= 0xC0 && c <= 0xCF); }

int32_t dataLength(const uint8_t* frame) { return frame[8] | ((frame[9] & 0x0F) << 8); }

// The destination link of a data frame's first 0x01 element, or 0 when none.
uint32_t destinationOf(const uint8_t* frame, int32_t length) {
  if (length < 15 || frame[5] != kData || !CSerial::N143ElementsValid(frame, length)) return 0;
  const int32_t count = frame[10];
  const uint8_t* p = frame + 11;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t size = CSerial::N143ElementBodySize(p[0], p + 1, static_cast<int32_t>(frame + length - 4 - p - 1));
    if (p[0] == 0x01) return dword(p + 1);
    p += 1 + size;
  }
  return 0;
}

// A queued frame whose header length fits the bytes it holds.
bool wholeFrame(const OutQueueEntry& e) { return e.data && e.length >= 14 && dataLength(e.data) + 14 <= e.length; }

// True when the frame (of its header's length) holds an element list to walk.
bool hasElements(const uint8_t* frame) {
  if (!frame) return false;
  const uint8_t command = frame[5];
  if (command == 0x95 || command == 0x9C || (command >= 0xCA && command <= 0xCC)) return false;
  const int32_t n = dataLength(frame);
  return n > 0 && CSerial::N143ElementsValid(frame, n + 14);
}

// One element with the addressing in force where it stands.
struct Element {
  int32_t index;
  uint8_t type;
  uint8_t* body;
  uint32_t to;    // destination
  uint32_t from;  // source
};

// Calls visit for each element of a list that hasElements accepted, until it
// returns true. Before any 0x01 element a frame of this link goes to the
// host and another's to this link; ID 0 in an element is the host.
template <class Visit>
void walkElements(uint8_t* frame, uint32_t linkId, uint32_t hostId, Visit visit) {
  const uint32_t sender = dword(frame + 1);
  uint32_t to = sender == linkId ? hostId : linkId;
  uint32_t from = sender;
  uint8_t* p = frame + 11;
  for (int32_t i = 0; i < frame[10] && p; ++i) {
    const uint8_t type = p[0];
    uint8_t* body = p + 1;
    if (type == 0x01) to = dword(body) ? dword(body) : hostId;
    if (type == 0x02) from = dword(body) ? dword(body) : hostId;
    if (visit(Element{i, type, body, to, from})) return;
    p = CSerial::N143L2NextFrame(type, body);
  }
}

}  // namespace

uint32_t CSerial::Crc32(const uint8_t* data, int32_t length) const {
  uint32_t reg = 0xFFFFFFFFu;
  for (int32_t i = 0; i < length; ++i) reg = (reg >> 8) ^ crc32Table_[(reg ^ data[i]) & 0xFF];
  return ~reg;
}

void CSerial::MakeCrc32(uint8_t* data, int32_t* length) const {
  if (!data || !length || *length < 0) return;
  putDword(data + *length, Crc32(data, *length));
  *length += 4;
}

// --- elements ---------------------------------------------------------------------------

int32_t CSerial::N143ElementBodySize(uint8_t type, const uint8_t* body, int32_t room) {
  int32_t size;
  switch (type) {
    case 0x01:
    case 0x02:
    case 0xFE: size = 4; break;
    case 0x03: size = 8; break;
    case 0x52:
    case 0x5E:
      if (room < 6) return -1;
      size = 6 + word(body + 4);
      break;
    case 0x55:
    case 0xAE:
    case 0xF6: size = 6; break;
    case 0x56:
    case 0xA7: size = 12; break;
    case 0xA2:
      if (room < 10) return -1;
      size = body[9] == 0xFF ? 16 : 10 + 2 * body[9];
      break;
    case 0xAF: size = 24; break;
    case 0xFC: size = 0; break;
    default: return -1;
  }
  return size <= room ? size : -1;
}

uint8_t* CSerial::N143L2NextFrame(uint8_t type, uint8_t* body) {
  if (!body) return nullptr;
  // The list was bounded by N143ElementsValid; the size is the type's own.
  const int32_t size = N143ElementBodySize(type, body, 0x7FFFFFFF);
  return size < 0 ? nullptr : body + size;
}

bool CSerial::N143ElementsValid(const uint8_t* frame, int32_t length) {
  if (!frame || length < 15) return false;
  const uint8_t* end = frame + length - 4;  // the CRC-32 follows the data
  const uint8_t* p = frame + 11;
  for (int32_t i = 0; i < frame[10]; ++i) {
    if (p >= end) return false;
    const int32_t size = N143ElementBodySize(p[0], p + 1, static_cast<int32_t>(end - p - 1));
    if (size < 0) return false;
    p += 1 + size;
  }
  return true;
}

// --- frames out -----------------------------------------------------------------------

void CSerial::MakeL1Header(uint8_t* out, uint16_t length, uint8_t command, uint8_t byte7, uint8_t priority) {
  out[0] = kStart;
  putDword(out + 1, command == 0xC0 ? kConfigurationLink : linkId_);
  out[5] = command;
  if (command == 0xCB || command == 0xCD) {
    n143FrameCounter_ = 0;
    out[6] = 0;
  } else if (command == 0x95 || command == 0xCE) {
    out[6] = n143FrameCounter_;
  } else {
    out[6] = n143FrameCounter_++;
  }
  out[7] = byte7;
  out[8] = static_cast<uint8_t>(length & 0xFF);
  out[9] = static_cast<uint8_t>(((length >> 8) & 0x0F) | ((priority & 0x0F) << 4));
}

int32_t CSerial::N143L1Write(int32_t tag, uint16_t length, const void* data, uint8_t command, uint8_t byte7,
                             uint8_t priority) {
  if (!linkId_ || length > kMaxData || (!data && length > 0)) return -1;
  uint32_t timeout = defaultTimeout_;
  int32_t retry = 0;
  if (command == 0xCC) {
    timeout *= n143Delay_ ? 30 : (n143Twe_ ? 15 : 3);
    retry = 3;
  }
  if (timeout == 0) timeout = 1;
  uint8_t* frame = CommWriteBufAlloc(static_cast<uint32_t>(length + 14));
  if (!frame) return -1;
  MakeL1Header(frame, length, command, byte7, priority);
  if (length > 0) std::memcpy(frame + 10, data, length);
  int32_t crcLength = 9 + length;
  MakeCrc32(frame + 1, &crcLength);
  const int32_t result = CommWrite(kL1Mode, crcLength + 1, frame, retry, timeout, tag, -1, nullptr);
  if (result != 0) Free(frame);
  return result;
}

int32_t CSerial::N143L1Nak(uint16_t value) {
  uint8_t data[6];
  putDword(data, hostId_);
  data[4] = static_cast<uint8_t>(value & 0xFF);
  data[5] = static_cast<uint8_t>(value >> 8);
  if (!linkId_) return -1;
  uint8_t* frame = CommWriteBufAlloc(20);
  if (!frame) return -1;
  MakeL1Header(frame, 6, 0x95, static_cast<uint8_t>(hostNumber_ + 1), 0);
  std::memcpy(frame + 10, data, 6);
  int32_t crcLength = 15;
  MakeCrc32(frame + 1, &crcLength);
  const int32_t result = CommWrite(kL1Mode, 20, frame, 0, defaultTimeout_ ? defaultTimeout_ : 1, 0, -1, nullptr);
  if (result != 0) Free(frame);
  return result;
}

int32_t CSerial::N143L2Write(uint8_t element, int32_t tag, uint16_t length, const void* data, uint32_t destination,
                             uint8_t priority, uint32_t value) {
  if (!linkId_ || (!data && length > 0)) return -1;
  const int32_t n = 1 + (value ? 9 : 0) + (destination != 0xFFFFFFFFu ? 5 : 0) + 1 + length;
  if (n > kMaxData) return -1;
  uint8_t* frame = CommWriteBufAlloc(static_cast<uint32_t>(n + 14));
  if (!frame) return -1;
  MakeL1Header(frame, static_cast<uint16_t>(n), kData, 0, priority);
  uint8_t* p = frame + 10;
  uint8_t* count = p++;
  *count = 0;
  if (value) {
    *p++ = 0x03;
    putDword(p, value);
    putDword(p + 4, linkId_);
    p += 8;
    ++*count;
  }
  if (destination != 0xFFFFFFFFu) {
    *p++ = 0x01;
    putDword(p, destination ? destination : hostId_);
    p += 4;
    ++*count;
  }
  *p++ = element;
  if (length > 0) std::memcpy(p, data, length);
  ++*count;
  int32_t crcLength = 9 + n;
  MakeCrc32(frame + 1, &crcLength);
  uint32_t timeout = defaultTimeout_ * (n143Delay_ ? 15 : 1);
  if (timeout == 0) timeout = 1;
  const uint32_t mode = kL2Mode | ((priority & 0x80) ? kNeverCombine : 0);
  const int32_t result = CommWrite(mode, crcLength + 1, frame, 0, timeout, tag, -1, nullptr);
  if (result != 0) Free(frame);
  return result;
}

int32_t CSerial::N143IsEmpty() {
  Hold output(*outputLock_);
  for (int32_t i = outHead_; i != outTail_; i = (i + 1) & 0xFFF) {
    const OutQueueEntry& e = outQueue_[i];
    if (e.data && (e.mode & kModeN143) && e.length > 14 && !e.inProgress && !e.sent) return 0;
  }
  return 1;
}

// --- searching elements -----------------------------------------------------------------

int32_t CSerial::N143L2Search(uint8_t* frame, int32_t after, int32_t type, uint32_t id, int32_t last,
                              uint8_t** body) {
  if (!hasElements(frame)) return -1;
  if (id == 0) id = hostId_;
  int32_t found = -1;
  walkElements(frame, linkId_, hostId_, [&](const Element& e) {
    if (e.index <= after || e.to != id || (type != -1 && e.type != type)) return false;
    found = e.index;
    if (body) *body = e.body;
    return last == 0;
  });
  return found;
}

int32_t CSerial::N143SrcMultiFrameCheck(uint32_t id, uint8_t* frame) {
  if (!hasElements(frame)) return -1;
  if (id == 0) id = hostId_;
  bool named = false, another = false;
  walkElements(frame, linkId_, hostId_, [&](const Element& e) {
    if (e.type != 0x01) return false;
    if (e.to == id) named = true;
    else if (named) another = true;
    return false;
  });
  return !named ? -1 : (another ? 0 : 1);
}

int32_t CSerial::N143ReadFrameCheck(uint8_t* reply, uint32_t source, uint32_t address, int32_t kind,
                                    uint8_t** body) {
  if (!hasElements(reply)) return -1;
  if (source == 0) source = hostId_;
  const uint8_t wanted = static_cast<uint8_t>(static_cast<uint32_t>(kind) >> 16);
  const uint64_t begin = address;
  const uint64_t end = begin + ((kind & 0xFFFF) ? static_cast<uint64_t>(kind & 0xFFFF) : 0x10000u);
  bool whole = false, partial = false;
  uint8_t* first = nullptr;
  // Data elements wholly inside the range; together they may fill it.
  std::vector<std::pair<uint64_t, uint64_t>> pieces;
  walkElements(reply, linkId_, hostId_, [&](const Element& e) {
    if (e.to != linkId_ || e.from != source || e.type != wanted) return false;
    if (wanted == 0xA7 || (wanted == 0xF6 && dword(e.body) == address)) {
      whole = true;
      first = e.body;
      return true;
    }
    if (wanted != 0x52) return false;
    const uint64_t from = dword(e.body);
    const uint64_t to = from + word(e.body + 4);
    if (to <= begin || from >= end || from == to) return false;  // not of this range
    if (!first) first = e.body;
    if (from >= begin && to <= end) pieces.emplace_back(from, to);
    else partial = true;  // runs past the range: not the answer asked for
    return false;
  });
  if (!whole && !pieces.empty()) {
    std::sort(pieces.begin(), pieces.end());
    uint64_t covered = begin;
    for (const auto& [from, to] : pieces) {
      if (from > covered) break;
      if (to > covered) covered = to;
    }
    whole = covered >= end && !partial;
    partial = true;
  }
  if (body) *body = first;
  return whole ? 1 : (partial ? 0 : -1);
}

int32_t CSerial::N143ReadMultiFrameCheck(uint8_t* reply, uint8_t* request, uint32_t* answered) {
  if (!reply || !hasElements(request)) return -1;
  uint32_t bits = answered ? *answered : 0;
  int32_t reads = 0;
  bool all = true, some = false;
  walkElements(request, linkId_, hostId_, [&](const Element& e) {
    uint32_t address = 0;
    int32_t kind;
    switch (e.type) {
      case 0x55:
        address = dword(e.body);
        kind = (0x52 << 16) | word(e.body + 4);
        break;
      case 0xAF: kind = 0xA7 << 16; break;
      case 0xFE:
        address = dword(e.body);
        kind = 0xF6 << 16;
        break;
      default: return false;
    }
    // Answers to read elements past the 32nd are not remembered: they must
    // come with the reply that completes the request.
    const int32_t ordinal = reads++;
    const uint32_t bit = ordinal < 32 ? 1u << ordinal : 0u;
    if (bits & bit) return false;
    const int32_t r = N143ReadFrameCheck(reply, e.to, address, kind, nullptr);
    if (r == 1) {
      bits |= bit;
      some = true;
    } else {
      all = false;
      if (r == 0) some = true;
    }
    return false;
  });
  if (reads == 0) return -1;
  if (answered) *answered = bits;
  if (!some) return 0;
  return all ? 2 : 1;
}

// --- pairing --------------------------------------------------------------------------

int32_t CSerial::N143OutQueCheck(int32_t* tag) { return N143OutQueCheckFrame(receiveCount_, tag); }

// The newest sent, unanswered frame that the received one answers: a 0x9C
// or 0xCA frame answers a 0xCC. A data frame answers a read request sent to
// its sender element by element, the request being answered when all its
// read elements are; a data frame that answers no read request answers the
// newest other data frame sent to its sender.
int32_t CSerial::N143OutQueCheckFrame(int32_t length, int32_t* tag) {
  uint8_t* r = receiveBuffer_;
  if (length < 14) return -1;
  const uint32_t sender = dword(r + 1);
  const uint8_t command = r[5];
  if (command != 0x9C && command != 0xCA && command != kData) return -1;
  Hold output(*outputLock_);
  if (outHead_ == outTail_) return -1;
  int32_t other = -1;  // the newest data frame without read elements sent to the sender
  int32_t paired = -1, result = -1;
  for (int32_t i = (outTail_ - 1) & 0xFFF;; i = (i - 1) & 0xFFF) {
    OutQueueEntry& e = outQueue_[i];
    if ((e.mode & kModeN143) && e.sent && !e.answered && wholeFrame(e)) {
      if (command != kData) {
        if (e.data[5] == 0xCC) {
          paired = i;
          result = 2;
          break;
        }
      } else if (e.data[5] == kData && N143L2Search(e.data, -1, -1, sender, 0, nullptr) >= 0) {
        const int32_t check = N143ReadMultiFrameCheck(r, e.data, &e.readsAnswered);
        if (check > 0) {
          paired = i;
          result = check == 2 ? 2 : 1;
          break;
        }
        if (check < 0 && other < 0) other = i;
      }
    }
    if (i == outHead_) break;
  }
  if (paired < 0 && other >= 0) {
    paired = other;
    result = 2;
  }
  if (paired < 0) return -1;
  OutQueueEntry& e = outQueue_[paired];
  if (tag) *tag = e.tag;
  if (result == 2) {
    e.answered = 1;
    e.resendState = 0;
    if (e.timerId && runningTimers_ > 0) --runningTimers_;
  }
  return result;
}

bool CSerial::N143NewestSentTo(uint32_t link, int32_t* tag) {
  Hold output(*outputLock_);
  if (outHead_ == outTail_) return false;
  for (int32_t i = (outTail_ - 1) & 0xFFF;; i = (i - 1) & 0xFFF) {
    OutQueueEntry& e = outQueue_[i];
    if ((e.mode & kModeN143) && e.sent && wholeFrame(e) && N143L2Search(e.data, -1, -1, link, 0, nullptr) >= 0) {
      *tag = e.tag;
      return true;
    }
    if (i == outHead_) break;
  }
  return false;
}

void CSerial::N143RestartLinkTimer() {
  if (n143TimerId_) StopTimer(n143TimerId_);
  n143TimerId_ = 0;
  if (!completionReport_ || !(n143Mode_ & kOff)) return;
  uint64_t period = static_cast<uint64_t>(retryCount_) * defaultTimeout_ * 10;
  if (period == 0) period = 1;
  if (period > 0x7FFFFFFF) period = 0x7FFFFFFF;
  const uint32_t id = timerBase_ + 0x1200 + n143TimerCounter_++;
  if (StartTimer(id, static_cast<uint32_t>(period))) n143TimerId_ = id;
}

// --- receiving ------------------------------------------------------------------------

int32_t CSerial::N143Check(uint32_t status) {
  if (!(binMode_ & kOff) || !(n114Mode_ & kOff) || receiveCount_ <= 0) return 0;
  const PendingFlags pending = Pending();
  const bool strict = pending.n143 || (!(n143Mode_ & kOff) && !pending.text && !pending.n114);
  const uint8_t* b = receiveBuffer_;
  const int32_t held = receiveCount_;
  if (b[0] != kStart || (held > 5 && !linkCommand(b[5]) && b[5] != kData)) {
    if (!strict) return 0;
    int32_t next = -1;
    for (int32_t i = 1; i < held; ++i) {
      if (b[i] == kStart) {
        next = i;
        break;
      }
    }
    if (next < 0 || (next + 5 < held && !linkCommand(b[next + 5]) && b[next + 5] != kData)) return -1;
    InQueWrite(0x20004000, next, b, status, 0);
    commCtrl_->LogWrite("N143 Check Error");
    return next;
  }
  if (held < 10) return 0;
  const int32_t length = dataLength(b) + 14;
  if (length > kReceiveBufferSize) return strict ? -1 : 0;
  if (held < length) return 0;
  if (!ChkCrc32(b + 1, length - 1)) {
    if (!strict) return 0;  // not an N143 frame after all: the later framings may take it
    InQueWrite(0x20114000, length, b, status, 0);
    commCtrl_->LogWrite("N143 Check Error");
    return length;
  }
  const uint8_t command = b[5];
  uint32_t type = linkCommand(command) && command >= 0x90 ? 0x20110000 : (command == kData ? 0x20210000 : 0x20000000);
  if (command == kData && !N143ElementsValid(b, length)) {
    if (!strict) return 0;
    // Elements that run past the frame: a format error, handed over as such.
    InQueWrite(0x20004000, length, b, status, 0);
    commCtrl_->LogWrite("N143 Check Error");
    return length;
  }
  const uint32_t sender = dword(b + 1);
  const uint8_t number = b[6];
  int32_t tag = 0;
  if (command == 0xC0 && sender == kConfigurationLink && length == 30) {
    std::memcpy(linkConfiguration_, b + 10, sizeof linkConfiguration_);
    linkConfigurationReceived_ = 1;
  }
  if (command == 0xCA && length >= 16) {
    const uint32_t to = dword(b + 10);
    if (to == linkId_ || to == 0xFFFFFFFFu) {
      const uint16_t v = word(b + 14);
      if (v != 0xFFFF && (v & 1)) hostId_ = sender;
      else if (sender == hostId_) hostId_ = 0;
      hostNumber_ = number;
      if (N143OutQueCheckFrame(length, &tag) < 0) tag = 0;
      InQueWrite(type, length, b, status, tag);
      return length;
    }
  }
  if (!hostId_ || sender != hostId_) {
    if (N143OutQueCheckFrame(length, &tag) < 0) tag = 0;
    InQueWrite(type, length, b, status, tag);
    return length;
  }
  // From the host: its frame numbers run on from the host number.
  const int8_t ahead = static_cast<int8_t>(static_cast<uint8_t>(number - static_cast<uint8_t>(hostNumber_)));
  if (command == 0x95) {
    // The host asks again from frame byte 7 on.
    const int32_t n = dataLength(b);
    if (n == 0 || (n == 6 && dword(b + 10) == linkId_)) {
      const uint16_t v = n == 6 ? word(b + 14) : 0;
      bool found = false;
      {
        Hold output(*outputLock_);
        for (int32_t i = outHead_; i != outTail_; i = (i + 1) & 0xFFF) {
          OutQueueEntry& e = outQueue_[i];
          if (!e.data || !(e.mode & kModeN143)) continue;
          if (!found && e.sent && e.length > 6 && e.data[6] == b[7]) found = true;
          if (!found) continue;
          KillOutTimer(i);
          e.sendCount = 0;
          e.retryLimit = 0;
          e.sent = 0;
          e.inProgress = 0;
          e.answered = 0;
          e.readsAnswered = 0;
          e.timerExpired = 0;
          e.minimumDelay = (v & 0x80) ? ((v & 0x7F) + 8u) * 16u : (v & 0x7Fu);
          if (e.data[5] == 0x95 && wholeFrame(e)) {
            // A NAK of ours sent again asks for what is expected by then.
            e.data[7] = static_cast<uint8_t>(hostNumber_ + 1);
            N143Reseal(e);
          }
        }
      }
      if (!found && v != 0) {
        int32_t newest = 0;
        N143NewestSentTo(sender, &newest);
        InQueWrite(0x20, 0, nullptr, 0, newest);
        N143L1Write(0, 0, nullptr, 0xCE, b[7], 0);
      }
    }
    InQueWrite(type, length, b, status, 0);
    return length;
  }
  if (command == 0xCE) {
    if (dataLength(b) == 0 && ahead != 1) {
      InQueWrite(type, length, b, status, 0);
      return length;
    }
    hostNumber_ = static_cast<uint8_t>(number - 1);
    if (N143NewestSentTo(sender, &tag)) type |= 0x40;
    InQueWrite(type, length, b, status, tag);
    return length;
  }
  if (command == 0xCB || command == 0xCC || command == 0xCD || command == 0xCF || ahead == 1) {
    hostNumber_ = number;
    if (command == 0xCB || command == 0xCD) hostId_ = 0;
    if (N143OutQueCheckFrame(length, &tag) == 2) type |= 0x20;
    InQueWrite(type, length, b, status, tag);
    return length;
  }
  if (ahead <= 0) {  // a repeat of a frame already taken
    InQueWrite(type, length, b, status, 0);
    return length;
  }
  // Frames were lost between the host number and this one: ask again.
  N143L1Nak(0x800);
  InQueWrite(type, length, b, status, 0);
  return length;
}

// --- the output queue's N143 order ------------------------------------------------------

namespace {

int32_t priorityOf(const OutQueueEntry& e) { return e.length >= 10 ? (e.data[9] >> 4) : 0; }

bool waitingN143(const OutQueueEntry& e) {
  return e.data && (e.mode & kModeN143) && e.length >= 14 && !e.sent && !e.inProgress;
}

}  // namespace

// The CRC-32 of a queued frame after a change to it.
void CSerial::N143Reseal(OutQueueEntry& e) {
  int32_t crcLength = e.length - 5;
  MakeCrc32(e.data + 1, &crcLength);
}

int32_t CSerial::OutQueCombineCheck(int32_t earlier, int32_t newest) {
  OutQueueEntry& a = outQueue_[earlier & 0xFFF];
  const OutQueueEntry& b = outQueue_[newest & 0xFFF];
  if (!a.data || !b.data || a.length < 15 || b.length < 15 || a.data[5] != kData || b.data[5] != kData) return 0;
  if (!N143ElementsValid(a.data, a.length) || !N143ElementsValid(b.data, b.length)) return 0;
  const int32_t countA = a.data[10], countB = b.data[10];
  // The new frame's elements, without a destination the earlier frame already names.
  const uint8_t* from = b.data + 11;
  const uint8_t* end = b.data + b.length - 4;
  int32_t count = countB;
  const uint32_t destination = destinationOf(a.data, a.length);
  if (from < end && from[0] == 0x01 && destination != 0 && dword(from + 1) == destination) {
    from += 5;
    --count;
  }
  const int32_t added = static_cast<int32_t>(end - from);
  const int32_t length = a.length + added;
  if (countA + count > 16 || length > 270) return 0;
  uint8_t* frame = CommWriteBufAlloc(static_cast<uint32_t>(length));
  if (!frame) return 0;
  std::memcpy(frame, a.data, static_cast<size_t>(a.length - 4));
  std::memcpy(frame + a.length - 4, from, static_cast<size_t>(added));
  frame[10] = static_cast<uint8_t>(countA + count);
  const int32_t n = length - 14;
  frame[8] = static_cast<uint8_t>(n & 0xFF);
  frame[9] = static_cast<uint8_t>((frame[9] & 0xF0) | ((n >> 8) & 0x0F));
  Free(a.data);
  a.data = frame;
  a.length = length;
  N143Reseal(a);
  a.combined = 1;
  --n143FrameCounter_;  // the new frame's number is given back
  return 1;
}

void CSerial::OutQuePriorityCheck() {
  if (outHead_ == outTail_) return;
  const int32_t newest = (outTail_ - 1) & 0xFFF;
  OutQueueEntry& fresh = outQueue_[newest];
  if (!fresh.data || !(fresh.mode & kModeN143) || fresh.length < 14) return;
  const int32_t priority = priorityOf(fresh);
  int32_t lessUrgent = -1, sameKind = -1;
  for (int32_t i = outHead_; i != newest; i = (i + 1) & 0xFFF) {
    const OutQueueEntry& e = outQueue_[i];
    if (!waitingN143(e)) continue;
    if (lessUrgent < 0 && e.length > 14 && priorityOf(e) > priority) lessUrgent = i;
    if (priorityOf(e) == priority && e.tag == fresh.tag) sameKind = i;
  }
  if (!(fresh.mode & kNeverCombine) && sameKind >= 0 && OutQueCombineCheck(sameKind, newest)) {
    Free(fresh.data);
    Free(fresh.reply);
    fresh = OutQueueEntry{};
    outTail_ = newest;
    return;
  }
  if (lessUrgent < 0) return;
  // The urgent frame goes in front of the first less urgent one and takes its
  // number; those behind it move back one place and one number.
  OutQueueEntry moved = fresh;
  moved.data[6] = outQueue_[lessUrgent].data[6];
  N143Reseal(moved);
  for (int32_t i = newest; i != lessUrgent; i = (i - 1) & 0xFFF) {
    const int32_t previous = (i - 1) & 0xFFF;
    outQueue_[i] = outQueue_[previous];
    OutQueueEntry& e = outQueue_[i];
    if (e.timerId) KillOutTimer(i);
    if (e.data && (e.mode & kModeN143) && e.length >= 14) {
      ++e.data[6];
      N143Reseal(e);
    }
  }
  outQueue_[lessUrgent] = moved;
}

// How long a waiting N143 frame waits before it goes: a smaller priority
// value is more urgent and waits less.
uint32_t CSerial::N143SendDelay(const OutQueueEntry& e) const {
  const uint32_t base = e.fixedDelay ? 16u : static_cast<uint32_t>(e.length >= 10 ? (e.data[9] & 0xF0) : 0);
  uint32_t delay;
  if (n143Delay_) {
    uint32_t r = static_cast<uint32_t>(std::rand()) & 0x3F;
    if (r > 0x2F) r &= 0x2F;
    delay = r + 4 * base + 32;
  } else {
    delay = base + (static_cast<uint32_t>(std::rand()) & 0x0F);
  }
  return delay < e.minimumDelay ? e.minimumDelay : delay;
}

// At most the reserve of sent N143 frames are kept ahead of the first unsent
// one, for the host to ask for again; the oldest go first.
void CSerial::N143KeepReserve() {
  int32_t sent = 0;
  for (int32_t i = outHead_; i != outTail_; i = (i + 1) & 0xFFF) {
    const OutQueueEntry& e = outQueue_[i];
    if (!e.data) continue;
    if (!(e.mode & kModeN143) || !e.sent) break;
    ++sent;
  }
  for (int32_t i = outHead_; sent > outReserve_ && i != outTail_; i = (i + 1) & 0xFFF) {
    if (!outQueue_[i].data) continue;
    DeleteOutQue(i, 1);
    --sent;
  }
}
