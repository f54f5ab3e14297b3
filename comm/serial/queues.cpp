// CSerial: the output queue (frames to send, their replies, retries and
// time-outs) and the input queue (what the owner reads with CommRead).
//
// Frame buffer (CSerial::Alloc), n bytes of room:
//
//   offset  size  content
//   0       8     address of offset 8 (marks a buffer of Alloc; Free checks it)
//   8       8     n, the room behind the header
//   16      n     the bytes
//
// Output ring: 4096 entries, head (oldest) and tail (next free), full when
// tail + 1 equals head, so at most 4095 frames wait. Input ring: 512 entries,
// at most 511 wait.
#include <cstdlib>
#include <cstring>

#include "comm/serial/locks.h"
#include "platform/base/message_box.h"
#include "platform/base/sync.h"
#include "quorex/serial.h"

using quorex::Hold;

namespace {

constexpr uint32_t kModeBinary = 0x00010000;
constexpr uint32_t kModeIndependent = 0x00040000;
constexpr uint32_t kModeStartExpired = 0x00080000;
constexpr uint32_t kModeHdlc = 0x01000000;
constexpr uint32_t kModeN114 = 0x10000000;
constexpr uint32_t kModeN143 = 0x20000000;
constexpr uint32_t kModeTakeOver = 0x40000000;
constexpr uint64_t kNotCompleted = ~0ull;
constexpr size_t kHeader = 16;

// Released when an allocation fails, so the message box itself has room.
void* g_reserve = std::malloc(128);

}  // namespace

uint8_t* CSerial::Alloc(uint32_t n) {
  auto* block = static_cast<uint8_t*>(std::malloc(kHeader + static_cast<size_t>(n)));
  if (!block) {
    std::free(g_reserve);
    g_reserve = nullptr;
    char text[160];
    std::snprintf(text, sizeof text, "メモリーの割り当てに失敗しました\n%u バイト分の割り当てができませんでした\n", n);
    platform::MessageBoxRequest request;
    request.text = text;
    request.style = platform::kMbOk | platform::kMbIconError;
    platform::showMessageBox(request);
    return nullptr;
  }
  uint8_t* second = block + 8;
  std::memcpy(block, &second, sizeof second);
  uint64_t room = n;
  std::memcpy(block + 8, &room, sizeof room);
  return block + kHeader;
}

namespace {
bool isOurs(const uint8_t* buffer) {
  if (!buffer) return false;
  const uint8_t* block = buffer - kHeader;
  const uint8_t* second;
  std::memcpy(&second, block, sizeof second);
  return second == block + 8;
}
}  // namespace

void CSerial::Free(uint8_t* buffer) {
  if (!isOurs(buffer)) return;
  uint8_t* block = buffer - kHeader;
  std::memset(block, 0, 8);  // a second Free of the same buffer is ignored
  std::free(block);
}

bool CSerial::Memcpy(uint8_t* dst, const void* src, uint32_t n) {
  if (!isOurs(dst) || !src || n == 0) return false;
  uint64_t room;
  std::memcpy(&room, dst - 8, sizeof room);
  if (n > room) return false;
  std::memcpy(dst, src, n);
  return true;
}

uint8_t* CSerial::CommWriteBufAlloc(uint32_t n) {
  uint64_t room = 3ull * n + 12;
  if (room > 0xFFFFFFFFull) return nullptr;
  return Alloc(static_cast<uint32_t>(room));
}

// --- the output queue ---------------------------------------------------------------------

int32_t CSerial::CommWrite(uint32_t mode, int32_t length, const void* data, int32_t retry, uint32_t timeout,
                           int32_t tag, int32_t replyLength, const void* reply) {
  if (!IsOpenOrSocket() || length < 0 || (!data && length > 0)) return -1;
  if ((retry != 0 || replyLength != 0) && timeout == 0) return -1;
  if (length == 0) return 0;
  {
    Hold output(*outputLock_);
    const int32_t next = (outTail_ + 1) & 0xFFF;
    if (next == outHead_) return -1;
    uint8_t* frame;
    const bool takeOver = (mode & kModeTakeOver) != 0;
    if (takeOver) {
      frame = static_cast<uint8_t*>(const_cast<void*>(data));
      if (!isOurs(frame)) return -1;  // only a buffer of CommWriteBufAlloc can be taken over
    } else {
      frame = CommWriteBufAlloc(static_cast<uint32_t>(length));
      if (!frame) return -1;
      std::memcpy(frame, data, static_cast<size_t>(length));
    }
    uint8_t* pattern = nullptr;
    if (reply && replyLength > 0) {
      pattern = Alloc(static_cast<uint32_t>(replyLength));
      if (!pattern) {
        if (!takeOver) Free(frame);
        return -1;
      }
      std::memcpy(pattern, reply, static_cast<size_t>(replyLength));
    }
    mode |= defaultMode_;
    if (mode & kModeN114) n114Pending_ = 1;
    if (mode & kModeN143) {
      n143Pending_ = 1;
      N143RestartLinkTimer();
    }
    if (!(mode & kModeBinary)) textPending_ = 1;
    if (mode & kModeHdlc) hdlcPending_ = 1;

    OutQueueEntry& e = outQueue_[outTail_];
    e = OutQueueEntry{};
    e.mode = mode;
    e.retryLimit = retry;
    e.timeout = timeout;
    e.length = length;
    e.data = frame;
    e.replyLength = replyLength;
    e.reply = pattern;
    e.tag = tag;
    e.completionTime = kNotCompleted;
    e.timerExpired = (mode & kModeStartExpired) ? 1 : 0;
    outTail_ = next;
    OutQuePriorityCheck();
  }
  OutQueCheck(0);
  return 0;
}

void CSerial::OutQueCheck(int32_t txEmpty) {
  const uint64_t now = txEmpty ? FileTimeNow() : 0;
  // The line is busy while bytes wait in the driver (or when that cannot be told).
  bool busy = commCtrl_->GetOutQue() != 0;
  Hold output(*outputLock_);
  int32_t completed = -1;
  bool blocked = false;
  for (int32_t i = outHead_; i != outTail_; i = (i + 1) & 0xFFF) {
    OutQueueEntry& e = outQueue_[i];
    if (!e.data) continue;
    const bool n143 = (e.mode & kModeN143) != 0;
    const bool independent = (e.mode & kModeIndependent) != 0;
    if (e.inProgress) {
      if (txEmpty && e.completionTime == kNotCompleted) {
        if (completed < 0) completed = i;
      } else if (n143 && e.length >= 6 && (e.data[5] == 0x95 || e.data[5] == 0xCE)) {
        // A sent link frame of this kind needs no keeping. Only a link frame
        // that is long enough has such a byte to look at.
        DeleteOutQue(i, 0);
        continue;
      }
      if (!n143 && !independent) blocked = true;
      continue;
    }
    if (!n143 && (e.answered || (blocked && !independent))) continue;
    bool hold = busy;
    if (e.timerId) continue;
    if (independent && settleTimerId_) {
      hold = true;
      e.timerExpired = 0;
    }
    const bool awaitsReply = e.retryLimit != 0 || e.replyLength != 0;
    if (awaitsReply && OwnerExists()) {
      if (runningTimers_ >= maxTimers_) continue;
      uint32_t delay;
      if ((!n143 && !hold && runningTimers_ == 0) || e.timerExpired) {
        delay = e.timeout;
        if (independent && delay) delay += ((static_cast<uint32_t>(std::rand()) & 0xFFFF) % delay) / 2;
      } else if (n143) {
        // A frame that goes out now waits its time-out for the answer; one
        // held back waits its send delay first.
        const bool sendsNow = runningTimers_ + (e.answered ? 0 : 1) <= 1 && !busy;
        delay = sendsNow ? e.timeout : N143SendDelay(e);
      } else {
        delay = (static_cast<uint32_t>(std::rand()) & 0xFFFF) % 27 + 1;
      }
      const uint32_t id = timerBase_ | static_cast<uint32_t>(i);
      if (!StartTimer(id, delay)) continue;
      e.timerId = id;
      if (!e.answered) ++runningTimers_;
      if (!e.timerExpired && (runningTimers_ > 1 || busy)) continue;
    }
    if (hold) continue;

    e.inProgress = 1;
    const uint8_t* bytes = e.data;
    int32_t count = e.length;
    if (e.mode & kModeHdlc) {
      count = EncodeHDLC(e.mode, e.data + e.length, e.data, e.length);
      bytes = e.data + e.length;
    }
    uint32_t errors = 0;
    if (commCtrl_->CommWrite(bytes, count, &errors) < 0 && errors == 0) errors = 0xFFFFFFFF;
    e.error = errors;
    ++e.sendCount;
    e.sent = 1;
    if (!e.timerId && !n143) DeleteOutQue(i, 0);
    busy = true;
  }
  N143KeepReserve();
  if (completed >= 0 && outQueue_[completed].data) {
    outQueue_[completed].completionTime = now;
    if (completionReport_) PostNotice(0x1000, outQueue_[completed].tag, false);
  }
}

void CSerial::OnOutTimer(uint32_t id, int32_t index) {
  OutQueueEntry& e = outQueue_[index];
  if (N114WaitTimer(index)) return;
  e.timerExpired = 1;
  if ((e.mode & kModeN143) && e.sendCount > e.retryLimit) {
    // Out of retries: the owner hears of it once, and the frame stays
    // queued (within the reserve) for the host to ask for again.
    KillOutTimer(index);
    if (!e.answered) {
      e.answered = 1;
      InQueWrite(0x8000, 0, nullptr, 0, e.tag);
    }
    return;
  }
  if (e.sendCount <= e.retryLimit) {
    if (e.answered) {
      ++e.sendCount;
      return;
    }
    if (commCtrl_->GetOutQue() == 0) KillOutTimer(index);
    else ++e.sendCount;
    if (e.inProgress) {
      e.inProgress = 0;
      e.fetched = 0;
      e.completionTime = kNotCompleted;
    }
    return;
  }
  const bool answered = e.answered != 0;
  const int32_t tag = e.tag;
  DeleteOutQue(index, 1);
  if (!answered) InQueWrite(0x8000, 0, nullptr, 0, tag);
}

void CSerial::KillOutTimer(int32_t index) {
  OutQueueEntry& e = outQueue_[index];
  if (!e.timerId) return;
  StopTimer(e.timerId);
  e.timerId = 0;
  if (!e.answered && runningTimers_ > 0) --runningTimers_;
}

void CSerial::UpdatePendingFlags() {
  bool text = false, hdlc = false, n114 = false, n143 = false;
  for (int32_t i = outHead_; i != outTail_; i = (i + 1) & 0xFFF) {
    const OutQueueEntry& e = outQueue_[i];
    if (!e.data) continue;
    if (e.mode & kModeHdlc) hdlc = true;
    if (e.mode & kModeBinary) {
      if (e.mode & kModeN114) n114 = true;
      if (e.mode & kModeN143) n143 = true;
    } else {
      text = true;
    }
  }
  hdlcPending_ = hdlc;
  if (!n114) n114Pending_ = 0;
  if (!n143) n143Pending_ = 0;
  if (!text) textPending_ = 0;
}

int32_t CSerial::DeleteOutQue(int32_t index, int32_t force) {
  OutQueueEntry& e = outQueue_[index];
  const int32_t tag = e.tag;
  if (completionReport_ && !force) {
    e.deleteOnFetch = 1;
    return tag;
  }
  if ((e.mode & kModeN143) && !e.answered && tag != 0) InQueWrite(0x8000, 0, nullptr, 0, tag);
  KillOutTimer(index);
  Free(e.data);
  Free(e.reply);
  e = OutQueueEntry{};
  if (index == outHead_) {
    while (outHead_ != outTail_ && !outQueue_[outHead_].data) outHead_ = (outHead_ + 1) & 0xFFF;
  }
  UpdatePendingFlags();
  if (outHead_ == outTail_) PostNotice(kCommEventTransmitEmpty, 0, true);
  return tag;
}

int32_t CSerial::CommCueDelete(int32_t tag) {
  Hold output(*outputLock_);
  for (int32_t i = outHead_; i != outTail_; i = (i + 1) & 0xFFF) {
    OutQueueEntry& e = outQueue_[i];
    if (!e.data || e.tag != tag) continue;
    if (!(e.mode & kModeN143)) {
      DeleteOutQue(i, 1);
      return 0;
    }
    if (!e.answered) {
      e.answered = 1;
      if (e.timerId && runningTimers_ > 0) --runningTimers_;
      return 0;
    }
  }
  return -1;
}

int32_t CSerial::CommCueRetry(int32_t tag) {
  {
    Hold output(*outputLock_);
    int32_t found = -1;
    if (outHead_ != outTail_) {
      for (int32_t i = (outTail_ - 1) & 0xFFF;; i = (i - 1) & 0xFFF) {
        if (outQueue_[i].data && outQueue_[i].tag == tag) {
          found = i;
          break;
        }
        if (i == outHead_) break;
      }
    }
    if (found < 0) return -1;
    for (int32_t i = found; i != outTail_; i = (i + 1) & 0xFFF) {
      OutQueueEntry& e = outQueue_[i];
      if (!e.data) continue;
      e.sendCount = 0;
      e.inProgress = 0;
      e.timerExpired = 0;
      e.fetched = 0;
      e.completionTime = kNotCompleted;
    }
  }
  OutQueCheck(0);
  return 0;
}

int32_t CSerial::CommGetWrite(int32_t tag, uint32_t* mode, void* buffer, int32_t size, uint64_t* time,
                              int32_t skipFetched) {
  Hold output(*outputLock_);
  for (int32_t i = outHead_; i != outTail_; i = (i + 1) & 0xFFF) {
    OutQueueEntry& e = outQueue_[i];
    if (!e.data || e.tag != tag || (skipFetched && e.fetched)) continue;
    if (mode) *mode = e.mode | 0x10;
    if (time) *time = e.completionTime;
    const int32_t n = size < e.length ? (size > 0 ? size : 0) : e.length;
    if (buffer && n > 0) std::memcpy(buffer, e.data, static_cast<size_t>(n));
    if (e.length > size) return 0;
    if (e.deleteOnFetch) DeleteOutQue(i, 1);
    else e.fetched = 1;
    return n;
  }
  return 0;
}

void CSerial::SetEvent2(int32_t on) {
  if (completionReport_ && !on) {
    Hold output(*outputLock_);
    for (int32_t i = outHead_; i != outTail_; i = (i + 1) & 0xFFF)
      if (outQueue_[i].data && outQueue_[i].deleteOnFetch) DeleteOutQue(i, 1);
  }
  completionReport_ = on;
}

// --- the input queue -------------------------------------------------------------------------

int32_t CSerial::InQueWrite(uint32_t type, int32_t length, const void* data, uint32_t status, int32_t tag) {
  const uint64_t now = FileTimeNow();
  {
    Hold input(*inputLock_);
    const int32_t next = (inWrite_ + 1) & 0x1FF;
    if (next == inRead_ || length < 0 || (length > 0 && !data)) return -1;
    uint8_t* copy = nullptr;
    if (length > 0) {
      copy = Alloc(static_cast<uint32_t>(length));
      if (!copy) return -1;
      std::memcpy(copy, data, static_cast<size_t>(length));
    }
    InQueueEntry& e = inQueue_[inWrite_];
    e = InQueueEntry{};
    e.type = type;
    e.length = length;
    e.data = copy;
    e.status = status;
    e.tag = tag;
    e.arrivalTime = now;
    inWrite_ = next;
  }
  return PostNotice(kCommEventReceived, 0, true) ? 0 : -1;
}

void CSerial::DeleteInQue(int32_t index) {
  InQueueEntry& e = inQueue_[index & 0x1FF];
  Free(e.data);
  Free(e.second);
  if (e.timerId) StopTimer(e.timerId);
  e = InQueueEntry{};
  if ((index & 0x1FF) == inRead_ && inRead_ != inWrite_) inRead_ = (inRead_ + 1) & 0x1FF;
}

int32_t CSerial::CommRead(uint32_t* type, void* buffer, int32_t size, uint32_t* status, int32_t* tag,
                          uint64_t* time) {
  if (!IsOpenOrSocket() || !buffer || size <= 0) return -1;
  Hold input(*inputLock_);
  if (inRead_ == inWrite_) {
    if (tag) *tag = 0;
    return 0;
  }
  InQueueEntry& e = inQueue_[inRead_];
  int32_t n = e.length - e.readPosition;
  if (n > size) n = size;
  if (n > 0) std::memcpy(buffer, e.data + e.readPosition, static_cast<size_t>(n));
  e.readPosition += n;
  if (type) *type = e.type;
  if (status) *status = e.status;
  e.status = 0;
  if (tag) *tag = e.tag;
  if (time) *time = e.arrivalTime;
  if (e.readPosition >= e.length) DeleteInQue(inRead_);
  return n;
}
