// CSerial: the framed-protocol engine over one CCommCtrl. It adds an output
// queue of frames with retries and time-outs, an input queue of received
// frames and notices for the owner, and the owner window's notices and timers.
//
// The owner window receives the object's message id (CommEventMessage):
//   wParam 1       an entry was added to the input queue (coalesced)
//   wParam 4       the output queue became empty (coalesced)
//   wParam 0x800   the port went away and was opened again by TimerProc
//   wParam 0x1000  a frame's transmission completed (lParam its tag; only
//                  while completion reporting is on)
// and must forward every WM_TIMER it gets to TimerProc.
//
// Two threads enter an open object: the owner's window thread and the port's
// event thread. Three locks, taken in the order receive, output, input, keep
// the receive buffer, the output queue and the input queue whole. Timers are
// window timers of the owner: a timer the event thread starts or stops is
// handed to the owner's thread by a WM_TIMER with the object's hand-off id,
// which TimerProc carries out there.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "quorex/comm_ctrl.h"
#include "quorex/comm_types.h"
#include "quorex/export.h"

namespace platform {
class Event;
}

// One frame waiting to be sent, sent and waiting for its reply, or done.
struct OutQueueEntry {
  uint32_t mode = 0;
  int32_t retryLimit = 0;
  int32_t sendCount = 0;
  uint32_t timeout = 0;
  int32_t length = 0;
  uint8_t* data = nullptr;  // owned frame buffer (see CSerial::Alloc)
  int32_t replyLength = 0;  // -1: a reply is awaited without a pattern
  uint8_t* reply = nullptr;  // owned expected reply, or null
  uint32_t error = 0;
  uint32_t timerId = 0;
  int32_t inProgress = 0;
  int32_t sent = 0;
  int32_t answered = 0;
  int32_t resendState = 0;
  int32_t waitCounter = 0;
  int32_t tag = 0;
  int32_t timerExpired = 0;
  uint64_t completionTime = ~0ull;  // FILETIME; all ones until completed
  int32_t fetched = 0;
  int32_t deleteOnFetch = 0;
  int32_t fixedDelay = 0;
  uint32_t minimumDelay = 0;  // N143: the least send delay a host NAK asked for (ms)
  int32_t combined = 0;       // N143: later data frames were combined into this one
  uint32_t readsAnswered = 0;  // N143: a bit for each read element answered so far
};

// One received frame or notice waiting for the owner.
struct InQueueEntry {
  uint32_t type = 0;
  int32_t readPosition = 0;
  int32_t length = 0;
  uint8_t* data = nullptr;    // owned, null for no data
  uint8_t* second = nullptr;  // owned, unused
  uint32_t status = 0;
  uint32_t timerId = 0;
  int32_t tag = 0;
  uint64_t arrivalTime = 0;  // FILETIME
};

class QUOREX_API CSerial {
 public:
  static constexpr int32_t kOutQueueSize = 4096;
  static constexpr int32_t kInQueueSize = 512;
  static constexpr int32_t kReceiveBufferSize = 4096;

  CSerial();
  virtual ~CSerial();
  CSerial(const CSerial&) = delete;
  CSerial& operator=(const CSerial&) = delete;

  // --- configuration (stores only; never touches an open port) ---------------
  void SetMsgIDEvent(uint32_t id);
  uint32_t GetMsgIDEvent() const { return messageId_; }
  void SetDefaultMode(uint32_t mode) { defaultMode_ = mode; }
  void SetDefaultTimeOut(uint32_t ms) { defaultTimeout_ = ms; }
  void SetReceiveTimeOut(uint32_t ms) { receiveTimeout_ = ms == 0 ? 1 : ms; }
  void SetRetry(int32_t retry) { retryCount_ = retry < 0 ? 0 : retry; }
  void SetMaxTimer(int32_t count) { maxTimers_ = count < 1 ? 1 : count; }
  // N114 is on when its mode word lacks 0x10000000 (the default 0x11000000
  // has it); N143 likewise. Off, their frames are still recognised but never
  // treated as errors.
  void SetN114Mode(uint32_t mode) { n114Mode_ = mode; }
  void SetN143Mode(uint32_t mode) { n143Mode_ = mode; }
  void SetBinMode(uint32_t mode, uint32_t header, uint32_t mask, int32_t seqPos, int32_t nakPos, int32_t lenPos,
                  int32_t lenAdjust, int32_t checkStart);
  int32_t SetN143Delay(int32_t value);
  int32_t SetN143Twe(int32_t value);
  int32_t SetOutRsvMbr(int32_t value);
  uint32_t SetPLinkID(uint32_t id);
  uint16_t SetHostAddress(uint16_t address);
  void SetHostID(uint32_t id, uint8_t number);
  uint32_t GetHostID() const { return hostId_; }
  CCommCtrl& GetCommCtrl() { return *commCtrl_; }

  // Read-only views of the configuration (for the framings and tests).
  uint32_t GetDefaultMode() const { return defaultMode_; }
  uint32_t GetDefaultTimeOut() const { return defaultTimeout_; }
  uint32_t GetReceiveTimeOut() const { return receiveTimeout_; }
  int32_t GetRetry() const { return retryCount_; }
  int32_t GetMaxTimer() const { return maxTimers_; }
  uint32_t GetTimerIdBase() const { return timerBase_; }
  // The WM_TIMER id by which timer requests of the event thread reach the owner's thread.
  uint32_t GetHandOffTimerId() const { return timerBase_ + 0x1300; }

  // --- opening and closing -------------------------------------------------------
  int32_t CommOpen(HWND owner);
  int32_t CommIsOpen() const { return commCtrl_->IsOpen(); }
  int32_t CommIsValid() const { return commCtrl_->IsPortValid(); }
  uint32_t CommGetStatus() { return commCtrl_->CommGetStatus(); }
  HWND CommGetMsgWnd() const;
  void CommClose();
  // 1 the id was this object's, 0 not (or the port is closed), -1 the
  // reopen notice could not be posted.
  int32_t TimerProc(uint32_t id);
  // Runs the port's event callback on this thread, as the event thread would.
  void SerialEventProc(uint32_t event);

  // --- the output queue ------------------------------------------------------------
  // 0 queued (or length 0), -1 refused; nothing is queued on refusal.
  int32_t CommWrite(uint32_t mode, int32_t length, const void* data, int32_t retry = 0, uint32_t timeout = 0,
                    int32_t tag = 0, int32_t replyLength = 0, const void* reply = nullptr);
  int32_t CommGetWrite(int32_t tag, uint32_t* mode, void* buffer, int32_t size, uint64_t* time,
                       int32_t skipFetched);
  int32_t CommCueDelete(int32_t tag);
  int32_t CommCueRetry(int32_t tag);
  void SetEvent2(int32_t on);

  // --- the input queue -----------------------------------------------------------------
  // Bytes copied; 0 when the queue is empty (then *tag = 0); -1 when the port
  // is closed, buffer is null or size is 0. A frame longer than the buffer is
  // read in pieces by successive calls.
  int32_t CommRead(uint32_t* type, void* buffer, int32_t size, uint32_t* status, int32_t* tag, uint64_t* time);
  int32_t InQueWrite(uint32_t type, int32_t length, const void* data, uint32_t status, int32_t tag);

  // --- frame buffers -------------------------------------------------------------------
  // A buffer of n bytes that the queues can own; null (after a message box)
  // when memory runs out.
  static uint8_t* Alloc(uint32_t n);
  static void Free(uint8_t* buffer);
  // Copies into a buffer of Alloc when src is given, n > 0 and n fits.
  static bool Memcpy(uint8_t* dst, const void* src, uint32_t n);
  // Room for a frame of n bytes and its HDLC form behind it.
  static uint8_t* CommWriteBufAlloc(uint32_t n);

  // --- internal steps, public for the framings -----------------------------------------
  void DeleteInQue(int32_t index);
  int32_t DeleteOutQue(int32_t index, int32_t force);
  void KillOutTimer(int32_t index);
  void OutQueCheck(int32_t txEmpty);
  void OnOutTimer(uint32_t id, int32_t index);
  int32_t EventRXProc();
  int32_t EventTXProc();
  void OnInTimer(uint32_t id);
  int32_t EncodeHDLC(uint32_t mode, uint8_t* out, const uint8_t* data, int32_t length);
  // Unescapes the HDLC frame that opens the receive buffer and closes at
  // count - 1 into out (which may be the buffer); the FCS is kept. Returns
  // the bytes written.
  int32_t DecodeHDLC(int32_t count, uint8_t* out);
  // 1 when the last two bytes (low first) are the FCS of the bytes before them.
  int32_t ChkCrc(const uint8_t* data, int32_t length) const;
  // 1 when the last four bytes (little-endian) are the CRC-32 of the bytes before them.
  int32_t ChkCrc32(const uint8_t* data, int32_t length) const;
  // Runs the receive pipeline on bytes as if the port had just read them
  // (status: the port's error word); 1 done, 0 nothing given.
  int32_t ReceiveBytes(const void* data, int32_t length, uint32_t status);

  // --- the framings of the receive check chain ------------------------------------------
  // Each looks at the receive buffer and answers 0 (not mine, or not
  // complete yet), -1 (broken: drop the buffer) or the bytes it consumed
  // after queueing what they carry.
  int32_t N143Check(uint32_t status);
  int32_t BinCheck(uint32_t status);
  int32_t N114Check(uint32_t status);
  int32_t TextCheck(uint32_t status);
  // Skipping leading line feeds: the position after the first other byte
  // when it equals value, else 0.
  int32_t TextCheckFind(uint8_t value);
  // 1 the received binary frame answers a request (its tag in *tag), 0 it
  // only matches one already answered, -1 it matches none.
  int32_t BinOutQueCheck(int32_t* tag);

  // --- binary frames ----------------------------------------------------------------------
  // Completes the frame (sequence byte, length field, check bytes) as
  // SetBinMode describes and queues it with the object's retry count and
  // default time-out; immediate sends it without waiting for a free line.
  // 0 queued, -1 refused (nothing queued).
  int32_t BinWrite(int32_t tag, uint16_t length, const void* data, int32_t immediate = 0);

  // --- N114 frames (big-endian; see n114.cpp) -------------------------------------------
  // Source 0xFFFF means the host address. 0 queued, -1 refused.
  int32_t N114L1Write(uint16_t destination, uint16_t source, uint8_t command, int32_t tag, uint16_t length,
                      const void* data, int32_t immediate = 0);
  // l2Destination 0xFF means the low byte of the L1 destination.
  int32_t N114L2Write(uint16_t destination, uint16_t source, uint8_t l1Command, uint8_t l2Command, int32_t tag,
                      uint16_t length, const void* data, uint8_t l2Destination = 0xFF, int32_t immediate = 0);
  // The 8-byte L1 header; raises sequence counter A.
  void MakeN114L1Header(uint8_t* out, uint16_t destination, uint16_t source, uint8_t command, uint16_t length);
  // Appends S and R (frame must have room for two more bytes) and adds 2 to *length.
  static void MakeCheck(uint8_t* frame, int32_t* length);
  // 1 when the last two bytes are S and R of the bytes before them.
  static int32_t CalCheck(const uint8_t* frame, int32_t length);
  // Answer the frame at the start of the receive buffer; result back, or -1
  // when the answer cannot be queued.
  int32_t N114L1Ack(int32_t result);
  int32_t N114L1Nak(uint8_t code, int32_t result);
  // 1 paired (its tag in *tag), 0 only an answered request matched, -1 none.
  int32_t N114OutQueCheck(int32_t* tag);

  // --- N143 frames (little-endian; see n143.cpp) -------------------------------------------
  // Each fails (-1) without a link ID.
  int32_t N143L1Write(int32_t tag, uint16_t length, const void* data, uint8_t command, uint8_t byte7,
                      uint8_t priority);
  int32_t N143L1Nak(uint16_t value);
  int32_t N143L2Write(uint8_t element, int32_t tag, uint16_t length, const void* data, uint32_t destination,
                      uint8_t priority, uint32_t value);
  // The 10-byte L1 header with the link ID; advances the frame counter as the command says.
  void MakeL1Header(uint8_t* out, uint16_t length, uint8_t command, uint8_t byte7, uint8_t priority);
  // Appends the CRC-32 of *length bytes from data and adds 4.
  void MakeCrc32(uint8_t* data, int32_t* length) const;
  // The element after a body of the type, or null for an unknown type. Only
  // for element lists already checked by N143ElementsValid.
  static uint8_t* N143L2NextFrame(uint8_t type, uint8_t* body);
  // Size of the element body at body (of the type) when it fits in the room
  // left, else -1 (unknown type, or a size the frame cannot hold).
  static int32_t N143ElementBodySize(uint8_t type, const uint8_t* body, int32_t room);
  // True when the data frame's element list lies wholly inside the frame.
  static bool N143ElementsValid(const uint8_t* frame, int32_t length);
  // Searching a data frame's element list. The list reads in parts: elements
  // before any 0x01 element go to the host when the frame is this link's own,
  // else to this link, and come from the frame's sender; each 0x01 (0x02)
  // element names the destination (source) of the elements from it on. An
  // ID of 0 stands for the host. Frame lengths are taken from their headers.
  //
  // Index of the first (with last, the final) element of the type (any type
  // for -1) after index after in the part addressed to id, its body in
  // *body; -1 when none, and for empty frames and the link commands 0x95,
  // 0x9C and 0xCA to 0xCC.
  int32_t N143L2Search(uint8_t* frame, int32_t after, int32_t type, uint32_t id, int32_t last, uint8_t** body);
  // Whether the reply answers a request for address of kind (the answer's
  // element type in the high 16 bits, the length in the low 16, 0 meaning
  // 0x10000) in its part addressed to this link from source: 1 fully (0x52
  // elements covering [address, address + length) exactly, a 0xA7 element,
  // or a 0xF6 element with the value address), 0 in part, -1 not at all.
  // *body: the first element of the answer.
  int32_t N143ReadFrameCheck(uint8_t* reply, uint32_t source, uint32_t address, int32_t kind, uint8_t** body);
  // 1 when a 0x01 element of the frame names id, 0 when a later 0x01 element
  // names another as well, -1 when none names id.
  int32_t N143SrcMultiFrameCheck(uint32_t id, uint8_t* frame);
  // Checks every read element (0x55, 0xAF, 0xFE) of a sent request against
  // the reply; *answered keeps a bit for each of the first 32 answered. 2
  // when all are answered now, 1 when this reply answers some, 0 none, -1
  // when the request holds no read element.
  int32_t N143ReadMultiFrameCheck(uint8_t* reply, uint8_t* request, uint32_t* answered);
  // Pairs the received frame with the newest sent N143 frame it answers: 1
  // paired (its tag in *tag), 2 paired and answered whole, -1 none.
  int32_t N143OutQueCheck(int32_t* tag);
  // 0 when an N143 frame with data waits unsent, else 1.
  int32_t N143IsEmpty();
  // Run on every new frame (output lock held): a new N143 frame is combined
  // into an earlier unsent data frame of its priority and tag, or moved in
  // front of the first less urgent unsent one.
  void OutQuePriorityCheck();
  // Appends the newest data frame's elements to the earlier one: 1, or 0
  // when either is no data frame or the result would pass 16 elements or
  // 270 bytes.
  int32_t OutQueCombineCheck(int32_t earlier, int32_t newest);

  // The queue state, for the framings and tests (read under the locks).
  const OutQueueEntry& OutEntry(int32_t index) const { return outQueue_[index & 0xFFF]; }
  int32_t OutHead() const { return outHead_; }
  int32_t OutTail() const { return outTail_; }
  int32_t RunningTimers() const { return runningTimers_; }

 protected:
  static int32_t EventCallback(uint32_t event, intptr_t owner);
  bool IsOpenOrSocket() const { return commCtrl_->IsOpen() != 0; }
  bool OwnerExists() const;
  // Window timers of the owner, handed to the owner's thread when asked from another.
  bool StartTimer(uint32_t id, uint32_t periodMs);
  void StopTimer(uint32_t id);
  void RunHandedTimers();
  void RestartSettleTimer(uint32_t periodMs);
  bool PostNotice(uint32_t wParam, intptr_t lParam, bool coalesce);
  void ResetQueues();
  void BuildCheckTables();
  uint16_t Crc16(const uint8_t* data, int32_t length) const;
  // The receive pipeline over what the buffer holds (receive lock held).
  void RunReceivePipeline(uint32_t status);
  // The HDLC step: true when the buffer (now the part before any set-aside
  // rest) goes on to the check chain, *frame telling whether it is the body
  // of an HDLC frame; false when an HDLC frame waits for its closing flag.
  bool HdlcStep(uint32_t status, bool* frame);
  // The check chain until the buffer is empty or every check waits.
  void RunCheckChain(uint32_t status, bool frame);
  void ConsumeReceived(int32_t count);
  void StartReceiveTimer(uint32_t periodMs);
  // Appends what the port read, handing over held bytes that can no longer
  // become a frame when the new ones do not fit behind them.
  void AppendReceived(const uint8_t* data, int32_t length, uint32_t status);
  struct PendingFlags {
    bool text, hdlc, n114, n143;
  };
  PendingFlags Pending();
  int32_t BinOutQueCheckFrame(int32_t length, int32_t* tag);
  int32_t N114OutQueCheckFrame(int32_t length, int32_t* tag);
  int32_t N114Answer(bool nak, uint8_t code, int32_t result);
  bool N114WaitTimer(int32_t index);
  int32_t N143OutQueCheckFrame(int32_t length, int32_t* tag);
  // The newest sent N143 frame addressed to the link: true with its tag.
  bool N143NewestSentTo(uint32_t link, int32_t* tag);
  // Stops the running N143 link timer and, while completion reporting is on
  // with N143 off, starts a new one (output lock held).
  void N143RestartLinkTimer();
  void N143Reseal(OutQueueEntry& e);
  uint32_t N143SendDelay(const OutQueueEntry& e) const;
  void N143KeepReserve();
  uint32_t Crc32(const uint8_t* data, int32_t length) const;
  void UpdatePendingFlags();
  static uint64_t FileTimeNow();

  // Pending flags.
  int32_t textPending_ = 0;
  int32_t hdlcPending_ = 0;
  int32_t n114Pending_ = 0;
  int32_t n143Pending_ = 0;
  int32_t n143Delay_ = 0;
  int32_t n143Twe_ = 0;
  int32_t lineActivity_ = 1;
  int32_t completionReport_ = 0;
  int32_t socketWritable_ = 1;

  uint8_t receiveBuffer_[kReceiveBufferSize] = {};
  // Bytes behind an HDLC frame (or before one), kept aside while the check
  // chain works on the part in front of them.
  uint8_t setAside_[kReceiveBufferSize] = {};
  int32_t setAsideCount_ = 0;
  uint8_t receiveTimerCounter_ = 0;
  uint8_t settleTimerCounter_ = 0;
  uint8_t n143TimerCounter_ = 0;
  uint8_t n143FrameCounter_ = 0;
  uint8_t sequenceA_ = 0;
  uint8_t sequenceB_ = 0;
  uint16_t crc16Table_[256] = {};
  uint16_t hostAddress_ = 0xFFFE;
  uint16_t hostNumber_ = 0;
  uint32_t crc32Table_[256] = {};
  uint32_t linkId_ = 0;
  // The link configuration a 0xC0 frame from the configuration link gives.
  uint8_t linkConfiguration_[16] = {};
  int32_t linkConfigurationReceived_ = 0;
  uint32_t hostId_ = 0;
  uint32_t receiveTimerId_ = 0;
  uint32_t settleTimerId_ = 0;
  uint32_t n143TimerId_ = 0;
  uint32_t timerBase_ = 0xE000;
  uint32_t defaultMode_ = 0;
  uint32_t binMode_ = 0x10000000;
  uint32_t binHeader_ = 0;
  uint32_t binMask_ = 0;
  uint32_t n114Mode_ = 0x11000000;
  uint32_t n143Mode_ = 0x10000000;
  uint32_t defaultTimeout_ = 200;
  uint32_t receiveTimeout_ = 50;
  int32_t inRead_ = 0;
  int32_t inWrite_ = 0;
  int32_t outHead_ = 0;
  int32_t outTail_ = 0;
  int32_t receiveCount_ = 0;
  int32_t runningTimers_ = 0;
  int32_t binSequencePos_ = 0;
  int32_t binNakPos_ = 0;
  int32_t binLengthPos_ = 0;
  int32_t binLengthAdjust_ = 0;
  int32_t binCheckStart_ = 0;
  int32_t retryCount_ = 31;
  int32_t maxTimers_ = 5;
  int32_t outReserve_ = 16;

  std::unique_ptr<platform::Event> receiveLock_;
  std::unique_ptr<platform::Event> inputLock_;
  std::unique_ptr<platform::Event> outputLock_;
  InQueueEntry inQueue_[kInQueueSize];
  OutQueueEntry outQueue_[kOutQueueSize];
  std::unique_ptr<CCommCtrl> commCtrl_;
  HWND owner_ = nullptr;
  uint32_t messageId_ = 0x0E00;
  // The port went away and could not be opened again yet (owner's thread only).
  bool portLost_ = false;

  // Timer requests made off the owner's thread, carried out by TimerProc.
  struct TimerRequest {
    uint32_t id;
    uint32_t periodMs;  // 0: stop
  };
  std::mutex handOffLock_;
  std::vector<TimerRequest> handOff_;
};
