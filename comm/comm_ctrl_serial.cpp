// CCommCtrl: the serial port, its event thread and the delivery of its events.
#include <cstdlib>

#include "comm/settings_words.h"
#include "comm/sock/socket_port.h"
#include "comm/window_link.h"
#include "platform/base/clock.h"
#include "platform/base/last_error.h"
#include "platform/base/serial_line.h"
#include "platform/base/sync.h"
#include "quorex/comm_ctrl.h"

namespace {

// The line settings of the text settings; false when a word is not valid.
bool lineSettingsOf(const std::string& baud, const std::string& data, const std::string& parity,
                    const std::string& stop, const std::string& flow, platform::SerialSettings* out,
                    int32_t* frameBits) {
  // The baud text is read as a decimal number; text that is no number is 0,
  // and a speed of 0 is refused.
  unsigned long baudRate = std::strtoul(baud.c_str(), nullptr, 10);
  if (baudRate == 0 || baudRate > 0xFFFFFFFFul) return false;
  if (data.size() != 1 || data[0] < '4' || data[0] > '8') return false;
  int parityValue = quorex::parityValueOf(parity);
  if (parityValue < 0) return false;
  platform::SerialStopBits stopBits;
  if (stop == "1") stopBits = platform::kStopBitsOne;
  else if (stop == "1.5") stopBits = platform::kStopBitsOneAndHalf;
  else if (stop == "2") stopBits = platform::kStopBitsTwo;
  else return false;
  platform::SerialFlow flowValue;
  if (flow == "なし" || flow == "None") flowValue = platform::kFlowNone;
  else if (flow == "RTS/CTS") flowValue = platform::kFlowHardware;
  else if (flow == "XON/XOFF") flowValue = platform::kFlowSoftware;
  else if (flow == "both") flowValue = platform::kFlowBoth;
  else return false;
  out->baudRate = static_cast<uint32_t>(baudRate);
  out->dataBits = static_cast<uint8_t>(data[0] - '0');
  out->parity = static_cast<platform::SerialParity>(parityValue);
  out->stopBits = stopBits;
  out->flow = flowValue;
  // The standard DC1/DC3 pair: any other pair stalls every device that
  // speaks XON/XOFF.
  out->xonChar = 0x11;
  out->xoffChar = 0x13;
  // Data bits, plus one with parity, plus one when the stop bits are not 1.
  *frameBits = out->dataBits + (parityValue != 0 ? 1 : 0) + (stopBits != platform::kStopBitsOne ? 1 : 0);
  return true;
}

}  // namespace

int32_t CCommCtrl::CommOpen(HWND owner, CommCallback callback) {
  CommClose();
  if (!owner) return 0;
  const quorex::WindowLink& link = quorex::windowLink();
  if (!callback && !link.isWindow(owner)) return 0;
  if (socketMode_) return SockOpen(owner, callback);
  if (!RetireSocketPort()) return 0;

  if (logging_) {
    if (!OpenLog(false)) return 0;
  } else {
    CloseLog();
  }

  platform::SerialSettings settings;
  int32_t bits = 0;
  if (!lineSettingsOf(baudRate_, dataBits_, parity_, stopBits_, flow_, &settings, &bits)) {
    platform::setLastError(platform::kErrorInvalidParameter);
    CloseLog();
    return 0;
  }
  const std::string device = DevicePathOf(portName_);
  uint32_t perByte = 0;
  if (writeTotalTimeout_ != 0) {
    perByte = static_cast<uint32_t>(bits) * 1000u / settings.baudRate;
    if (perByte == 0) perByte = 1;
  }

  if (!line_->open(device)) {
    platform::sleepMilliseconds(100);
    if (!line_->open(device)) {
      CloseLog();
      return 0;
    }
  }
  line_->setEventMask(eventMask_);
  line_->setWriteTimeout(writeTotalTimeout_, perByte);
  if (!line_->purge() || !line_->configure(settings)) {
    line_->close();
    CloseLog();
    return 0;
  }
  frameBits_ = bits;
  const auto ended = std::make_shared<platform::Event>(true, false);
  threadEnded_ = ended;

  callback_ = callback;
  callbackOwner_ = reinterpret_cast<intptr_t>(owner);
  owner_ = owner;
  gatheredErrors_ = 0;
  open_ = 1;
  if (eventMask_ != 0) {
    threadRunning_ = true;
    const uint32_t generation = ++threadGeneration_;
    eventThread_ = std::thread([this, ended, generation] {
      EventThread(generation);
      ended->set();
    });
  }
  // Raise DTR. A line without modem lines (a pseudo-terminal) has no DTR to
  // raise, which is no reason to refuse the port.
  dtrOn_ = true;
  rtsOn_ = true;
  if (!line_->setDtr(true) && platform::lastError() != platform::kErrorNotSupported) {
    CommClose();
    return 0;
  }
  characterTime_ = (1.0 + bits) / settings.baudRate;
  return 1;
}

void CCommCtrl::EventThread(uint32_t generation) {
  uint32_t events = 0;
  while (open_.load() && threadGeneration_.load() == generation) {
    if ((events & kCommEventReceived) && CommEvent(kCommEventReceived) != 0) break;
    if ((events & kCommEventTransmitEmpty) && CommEvent(kCommEventTransmitEmpty) != 0) break;
    int32_t r = line_->waitEvents(&events);
    if (r < 0) break;
    if (r == 0) events = 0;
  }
  if (threadGeneration_.load() == generation) threadRunning_ = false;
}

void CCommCtrl::ReleasePort() {
  if (eventThread_.joinable()) {
    if (eventThread_.get_id() == std::this_thread::get_id()) {
      eventThread_.detach();  // closed from its own callback: it ends by itself
    } else if (threadEnded_->wait(3000)) {
      eventThread_.join();
    } else {
      eventThread_.detach();  // a callback that never returns; nothing else to do
    }
  }
  line_->close();
}

void CCommCtrl::CommClose() {
  {
    std::lock_guard<std::recursive_mutex> guard(logLock_);
    if (LogIsOpen()) {
      if (logTimeStamps_) WriteLogDate();
      lastDirection_ = kDirectionNone;
    }
  }
  CloseLog();
  if (!open_.load()) return;
  if (socketPort_) {
    SockClose();
    return;
  }
  callback_ = nullptr;
  owner_ = nullptr;
  open_ = 0;
  ++threadGeneration_;
  line_->purge();
  line_->setDtr(false);
  dtrOn_ = false;
  line_->setEventMask(0);  // ends the thread's wait
  ReleasePort();
  platform::sleepMilliseconds(100);
}

int32_t CCommCtrl::IsPortValid() const {
  if (socketPort_) return open_.load() ? 1 : 0;
  return open_.load() && line_->isUsable() ? 1 : 0;
}

uint32_t CCommCtrl::CommEvent(uint32_t event) {
  if (CommCallback callback = callback_.load()) return static_cast<uint32_t>(callback(event, callbackOwner_.load()));
  HWND owner = owner_.load();
  if (!owner) return 0;
  const quorex::WindowLink& link = quorex::windowLink();
  if (!link.isWindow(owner)) return static_cast<uint32_t>(-1);
  return static_cast<uint32_t>(quorex::postCoalesced(owner, messageId_, event));
}

int32_t CCommCtrl::CommRead(void* buffer, int32_t size, uint32_t* errors) {
  if (socketPort_) return SockRead(buffer, size, errors);
  if (!open_.load()) {
    platform::setLastError(platform::kErrorInvalidHandle);
    return -1;
  }
  uint32_t found = line_->takeLineErrors() | gatheredErrors_.exchange(0);
  if (errors) *errors = found;
  if (size <= 0) return 0;
  if (!buffer) {
    platform::setLastError(platform::kErrorInvalidParameter);
    return -1;
  }
  int32_t n = line_->read(buffer, static_cast<uint32_t>(size));
  if (n > 0) LogData(kDirectionReceived, buffer, n);
  return n;
}

int32_t CCommCtrl::CommWrite(const void* data, int32_t length, uint32_t* errors) {
  if (socketPort_) return SockWrite(data, length, errors);
  if (!open_.load()) {
    platform::setLastError(platform::kErrorInvalidHandle);
    return -1;
  }
  uint32_t found = line_->takeLineErrors() | gatheredErrors_.exchange(0);
  if (errors) *errors = found;
  int32_t queued = line_->outQueue();
  if (queued < 0) return -1;
  int32_t count = length;
  if (outputBufferSize_ - queued < count) count = outputBufferSize_ - queued;
  if (count <= 0) return 0;
  if (!data) {
    platform::setLastError(platform::kErrorInvalidParameter);
    return -1;
  }
  // The log shows the traffic in the order it crossed the line: a reply that
  // the event thread reads meanwhile is logged after the bytes that asked for
  // it. The log lock is taken last everywhere, so holding it here is safe.
  std::lock_guard<std::recursive_mutex> guard(logLock_);
  int32_t n = line_->write(data, static_cast<uint32_t>(count));
  if (n > 0) LogData(kDirectionSent, data, n);
  return n;
}

int32_t CCommCtrl::GetInQue() {
  if (!open_.load()) return -1;
  if (socketPort_) return GetSockInQue();
  int32_t n = line_->inQueue();
  if (n < 0) return -1;
  gatheredErrors_ |= line_->takeLineErrors();
  return n;
}

int32_t CCommCtrl::GetOutQue() {
  if (socketMode_) return 0;
  if (!open_.load()) return -1;
  int32_t n = line_->outQueue();
  if (n < 0) return -1;
  gatheredErrors_ |= line_->takeLineErrors();
  return n;
}

uint32_t CCommCtrl::CommGetStatus() {
  uint32_t bits = 0;
  if (socketMode_ || !open_.load() || !line_->modemStatus(&bits)) return 0;
  return bits;
}

int32_t CCommCtrl::CommCtrlBaudRate(uint32_t baud) {
  if (socketMode_ || !open_.load()) return 0;
  // A speed of 0 would divide by zero below; a refused speed leaves the old one.
  if (baud == 0 || !line_->setBaudRate(baud)) return 0;
  if (writeTotalTimeout_ != 0) line_->setWriteTimeout(writeTotalTimeout_, 19200u / baud);
  characterTime_ = (1.0 + frameBits_) / baud;
  return 1;
}

int32_t CCommCtrl::CommCtrlBreak(int32_t on) {
  if (socketMode_ || !open_.load()) return 0;
  return line_->setBreak(on != 0) ? 1 : 0;
}

int32_t CCommCtrl::CommCtrlDtr(int32_t on) {
  if (socketMode_ || !open_.load()) return 0;
  if (dtrOn_ == (on != 0)) return 1;
  if (!line_->setDtr(on != 0)) return 0;
  dtrOn_ = on != 0;
  return 1;
}

int32_t CCommCtrl::CommCtrlRts(int32_t on) {
  if (socketMode_ || !open_.load()) return 0;
  if (rtsOn_ == (on != 0)) return 1;
  if (!line_->setRts(on != 0)) return 0;
  rtsOn_ = on != 0;
  return 1;
}

int32_t CCommCtrl::ModemControlBit(uint32_t bit, int32_t on) {
  if (socketMode_ || !open_.load()) return 0;
  uint32_t bits = 0;
  if (!line_->modemControl(&bits)) return 0;
  if (((bits & bit) != 0) == (on != 0)) return 1;
  return line_->setModemControl(bit, on != 0) ? 1 : 0;
}

int32_t CCommCtrl::CommCtrlOut1(int32_t on) { return ModemControlBit(platform::kModemControlOut1, on); }

int32_t CCommCtrl::CommCtrlLoop(int32_t on) { return ModemControlBit(platform::kModemControlLoop, on); }

int32_t CCommCtrl::CommFunction(uint32_t function) {
  if (socketMode_ || !open_.load()) return 0;
  switch (function) {
    case 3: return line_->setRts(true) ? 1 : 0;
    case 4: return line_->setRts(false) ? 1 : 0;
    case 5: return line_->setDtr(true) ? 1 : 0;
    case 6: return line_->setDtr(false) ? 1 : 0;
    case 8: return line_->setBreak(true) ? 1 : 0;
    case 9: return line_->setBreak(false) ? 1 : 0;
    default:
      platform::setLastError(platform::kErrorNotSupported);
      return 0;
  }
}
