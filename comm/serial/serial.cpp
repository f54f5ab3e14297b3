// CSerial: the object, its configuration, opening and closing, the owner's
// notices and timers, and the timer dispatch.
#include <cstdlib>
#include <ctime>

#include "comm/serial/locks.h"
#include "comm/window_link.h"
#include "platform/base/sync.h"
#include "quorex/serial.h"

using quorex::Hold;

CSerial::CSerial()
    : receiveLock_(std::make_unique<platform::Event>(false, true)),
      inputLock_(std::make_unique<platform::Event>(false, true)),
      outputLock_(std::make_unique<platform::Event>(false, true)),
      commCtrl_(std::make_unique<CCommCtrl>()) {
  // Built again by CommOpen; built here too, so the frame and check helpers
  // give right answers on an object that was never opened.
  BuildCheckTables();
}

CSerial::~CSerial() {
  CommClose();
  commCtrl_.reset();
}

void CSerial::SetMsgIDEvent(uint32_t id) {
  messageId_ = id;
  timerBase_ = static_cast<uint32_t>(0xFF40E000u - id * 0x2000u);
}

void CSerial::SetBinMode(uint32_t mode, uint32_t header, uint32_t mask, int32_t seqPos, int32_t nakPos,
                         int32_t lenPos, int32_t lenAdjust, int32_t checkStart) {
  binMode_ = mode;
  binHeader_ = header;
  binMask_ = mask;
  binSequencePos_ = seqPos;
  binNakPos_ = nakPos;
  binLengthPos_ = lenPos;
  binLengthAdjust_ = lenAdjust;
  binCheckStart_ = checkStart;
}

int32_t CSerial::SetN143Delay(int32_t value) {
  int32_t old = n143Delay_;
  n143Delay_ = value;
  return old;
}

int32_t CSerial::SetN143Twe(int32_t value) {
  int32_t old = n143Twe_;
  n143Twe_ = value;
  return old;
}

int32_t CSerial::SetOutRsvMbr(int32_t value) {
  int32_t old = outReserve_;
  outReserve_ = value;
  return old;
}

uint32_t CSerial::SetPLinkID(uint32_t id) {
  uint32_t old = linkId_;
  linkId_ = id;
  hostId_ = 0;
  return old;
}

uint16_t CSerial::SetHostAddress(uint16_t address) {
  uint16_t old = hostAddress_;
  if (address != 0xFFFF && (address >> 8) >= 0x20) hostAddress_ = address;
  return old;
}

void CSerial::SetHostID(uint32_t id, uint8_t number) {
  hostId_ = id;
  hostNumber_ = number;
}

bool CSerial::OwnerExists() const { return owner_ && quorex::windowLink().isWindow(owner_); }

HWND CSerial::CommGetMsgWnd() const { return OwnerExists() ? owner_ : nullptr; }

uint64_t CSerial::FileTimeNow() {
  // 100-nanosecond steps since 1601-01-01, as stored and compared.
  std::timespec now{};
  std::timespec_get(&now, TIME_UTC);
  const uint64_t unix100ns = static_cast<uint64_t>(now.tv_sec) * 10000000ull + static_cast<uint64_t>(now.tv_nsec) / 100;
  return unix100ns + 116444736000000000ull;
}

int32_t CSerial::CommOpen(HWND owner) {
  if (!commCtrl_ || !owner || !quorex::windowLink().isWindow(owner)) return 0;
  BuildCheckTables();
  n143FrameCounter_ = 0;
  std::srand(static_cast<unsigned>(std::time(nullptr) + reinterpret_cast<uintptr_t>(this)));
  sequenceA_ = static_cast<uint8_t>(std::rand());
  sequenceB_ = static_cast<uint8_t>(std::rand());
  owner_ = owner;
  commCtrl_->SetEventMask(commCtrl_->GetEventMask() | kCommEventReceived | kCommEventTransmitEmpty);
  portLost_ = false;
  return commCtrl_->CommOpen(reinterpret_cast<HWND>(this), &CSerial::EventCallback) ? 1 : 0;
}

int32_t CSerial::EventCallback(uint32_t event, intptr_t owner) {
  auto* self = reinterpret_cast<CSerial*>(owner);
  if (!self || !self->IsOpenOrSocket()) return 0;
  if (event == kCommEventReceived) return self->EventRXProc() ? 0 : -1;
  if (event == kCommEventTransmitEmpty) return self->EventTXProc() ? 0 : -1;
  return self->PostNotice(event, 0, true) ? 0 : -1;
}

void CSerial::SerialEventProc(uint32_t event) { EventCallback(event, reinterpret_cast<intptr_t>(this)); }

bool CSerial::PostNotice(uint32_t wParam, intptr_t lParam, bool coalesce) {
  if (!OwnerExists()) return true;
  if (coalesce) return quorex::postCoalesced(owner_, messageId_, wParam) == 0;
  return quorex::windowLink().postMessage(owner_, messageId_, wParam, lParam);
}

bool CSerial::StartTimer(uint32_t id, uint32_t periodMs) {
  if (!OwnerExists()) return false;
  const quorex::WindowLink& link = quorex::windowLink();
  if (link.isOwnerThread(owner_)) {
    RunHandedTimers();  // earlier requests first, so they cannot undo this one
    return link.setTimer(owner_, id, periodMs == 0 ? 1 : periodMs);
  }
  bool first;
  {
    std::lock_guard<std::mutex> guard(handOffLock_);
    first = handOff_.empty();
    handOff_.push_back({id, periodMs == 0 ? 1 : periodMs});
  }
  if (first) link.postMessage(owner_, quorex::kTimerMessage, GetHandOffTimerId(), 0);
  return true;
}

void CSerial::StopTimer(uint32_t id) {
  if (id == 0 || !OwnerExists()) return;
  const quorex::WindowLink& link = quorex::windowLink();
  if (link.isOwnerThread(owner_)) {
    RunHandedTimers();
    link.killTimer(owner_, id);
    return;
  }
  bool first;
  {
    std::lock_guard<std::mutex> guard(handOffLock_);
    first = handOff_.empty();
    handOff_.push_back({id, 0});
  }
  if (first) link.postMessage(owner_, quorex::kTimerMessage, GetHandOffTimerId(), 0);
}

void CSerial::RunHandedTimers() {
  std::vector<TimerRequest> requests;
  {
    std::lock_guard<std::mutex> guard(handOffLock_);
    requests.swap(handOff_);
  }
  if (requests.empty() || !OwnerExists()) return;
  const quorex::WindowLink& link = quorex::windowLink();
  for (const TimerRequest& r : requests) {
    if (r.periodMs) link.setTimer(owner_, r.id, r.periodMs);
    else link.killTimer(owner_, r.id);
  }
}

void CSerial::RestartSettleTimer(uint32_t periodMs) {
  Hold output(*outputLock_);
  if (settleTimerId_) StopTimer(settleTimerId_);
  uint32_t id = timerBase_ + 0x1100 + settleTimerCounter_++;
  settleTimerId_ = StartTimer(id, periodMs) ? id : 0;
}

void CSerial::ResetQueues() {
  for (InQueueEntry& e : inQueue_) {
    Free(e.data);
    Free(e.second);
    if (e.timerId) StopTimer(e.timerId);
    e = InQueueEntry{};
  }
  for (OutQueueEntry& e : outQueue_) {
    Free(e.data);
    Free(e.reply);
    if (e.timerId) StopTimer(e.timerId);
    e = OutQueueEntry{};
  }
  if (receiveTimerId_) StopTimer(receiveTimerId_);
  if (settleTimerId_) StopTimer(settleTimerId_);
  if (n143TimerId_) StopTimer(n143TimerId_);
  receiveTimerId_ = settleTimerId_ = n143TimerId_ = 0;
  textPending_ = hdlcPending_ = n114Pending_ = n143Pending_ = 0;
  inRead_ = inWrite_ = outHead_ = outTail_ = 0;
  receiveCount_ = 0;
  setAsideCount_ = 0;
  runningTimers_ = 0;
}

void CSerial::CommClose() {
  if (commCtrl_ && commCtrl_->IsOpen()) commCtrl_->CommClose();
  portLost_ = false;
  {
    Hold receive(*receiveLock_);
    Hold output(*outputLock_);
    Hold input(*inputLock_);
    ResetQueues();
  }
  // Timers that the event thread asked for and the owner has not started yet
  // belong to entries that are gone: stop them instead.
  std::lock_guard<std::mutex> guard(handOffLock_);
  for (TimerRequest& r : handOff_) r.periodMs = 0;
}

int32_t CSerial::TimerProc(uint32_t id) {
  if (id == GetHandOffTimerId()) {
    RunHandedTimers();
    return 1;
  }
  if (!IsOpenOrSocket() && !portLost_) return 0;
  if (!commCtrl_->IsPortValid()) {
    // The device went away (unplugged, the far end hung up): open it again
    // from its settings. Until it is back, later timers keep trying. No lock
    // of the queues is held: the close waits for the event thread, which
    // may itself be waiting for the receive lock in its receive step; the
    // queues stay as they are for the port that comes back.
    commCtrl_->CommClose();
    commCtrl_->CommOpen(reinterpret_cast<HWND>(this), &CSerial::EventCallback);
    portLost_ = !commCtrl_->IsOpen();
    if (portLost_) return 0;
    if (!PostNotice(0x800, 0, false)) return -1;
  }
  {
    Hold receive(*receiveLock_);
    if (receiveTimerId_ && id == receiveTimerId_) {
      receive.release();
      OnInTimer(id);
      return 1;
    }
  }
  Hold output(*outputLock_);
  if (n143TimerId_ && id == n143TimerId_) {
    StopTimer(n143TimerId_);
    n143TimerId_ = 0;
    n143Pending_ = 0;
    return 1;
  }
  if (settleTimerId_ && id == settleTimerId_) {
    StopTimer(settleTimerId_);
    settleTimerId_ = 0;
  } else {
    int32_t found = -1;
    for (int32_t i = outHead_; i != outTail_; i = (i + 1) & 0xFFF) {
      if (outQueue_[i].timerId == id && id != 0) {
        found = i;
        break;
      }
    }
    if (found < 0) return 0;
    OnOutTimer(id, found);
  }
  output.release();
  OutQueCheck(0);
  return 1;
}
