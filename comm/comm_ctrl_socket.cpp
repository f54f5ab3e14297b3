// CCommCtrl in socket mode: one UDP socket, TCP client or TCP server behind
// the port's open, close, read and write, with a receive thread that fills
// the packet ring and reports events as the serial event thread does.
#include <cstdio>

#include "comm/sock/socket_port.h"
#include "platform/base/clock.h"
#include "platform/base/last_error.h"
#include "platform/base/serial_line.h"
#include "quorex/comm_ctrl.h"

namespace {

constexpr uint32_t kReceiveIoError = 0x400;  // CE_IOE: a receive failed and the port goes on

// Errors after which a datagram socket goes on receiving: they concern one
// datagram or one earlier send, not the socket.
bool passingDatagramError(uint32_t code) {
  return code == platform::kWsaConnectionReset || code == platform::kWsaConnectionRefused ||
         code == platform::kWsaHostUnreachable || code == 10040 || code == platform::kWsaInterrupted ||
         code == platform::kWsaWouldBlock;
}

}  // namespace

bool CCommCtrl::RetireSocketPort() {
  if (!socketPort_) return true;
  SocketPort& p = *socketPort_;
  if (p.thread.joinable()) {
    // A receive thread left behind by a close from its own callback ends on
    // its own once that callback returns.
    if (p.thread.get_id() == std::this_thread::get_id()) return false;
    p.stop = true;
    p.socket.shutdown();
    p.thread.join();
  }
  socketPort_.reset();
  return true;
}

bool CCommCtrl::SocketReport(uint32_t event) { return (eventMask_ & event) && CommEvent(event) != 0; }

int32_t CCommCtrl::SockOpen(HWND owner, CommCallback callback) {
  SockClose();
  if (!owner) return 0;
  if (logging_) {
    if (!OpenLog(false)) return 0;
  } else {
    CloseLog();
  }
  if (!RetireSocketPort()) {
    platform::setLastError(platform::kErrorBusy);
    CloseLog();
    return 0;
  }
  socketPort_ = std::make_unique<SocketPort>();
  SocketPort& p = *socketPort_;
  const uint16_t receivePort = static_cast<uint16_t>(receivePort_);
  bool ok;
  if (udp_) {
    ok = p.socket.open(platform::kSocketDatagram, receivePort) &&
         (sendAddress_ != 0xFFFFFFFFu || p.socket.setBroadcast(true));
  } else if (connectRequest_) {
    ok = p.socket.open(platform::kSocketStream, receivePort) &&
         p.socket.connect(sendAddressText_, static_cast<uint16_t>(sendPort_));
  } else {
    ok = p.socket.open(platform::kSocketStream, receivePort) && p.socket.listen(1);
  }
  if (!ok) {
    const uint32_t error = platform::lastError();
    socketPort_.reset();
    CloseLog();
    platform::setLastError(error);
    return 0;
  }
  open_ = 1;
  gatheredErrors_ = 0;
  callback_ = callback;
  callbackOwner_ = reinterpret_cast<intptr_t>(owner);
  owner_ = owner;
  if (!udp_ && connectRequest_) {
    socketConnected_ = 1;
    if (SocketReport(kCommEventConnected)) {
      SockClose();
      return 0;
    }
  }
  p.threadRunning = true;
  p.thread = std::thread([this] { SocketThread(); });
  return 1;
}

void CCommCtrl::SocketThread() {
  SocketPort& p = *socketPort_;
  const bool udp = udp_ != 0;
  const bool server = !udp && !connectRequest_;
  static thread_local uint8_t buffer[quorex::PacketRing::kMaxPacket];
  for (;;) {
    if (p.stop.load()) break;
    if (server && !socketConnected_.load()) {
      platform::Socket client;
      std::string address;
      uint16_t port = 0;
      if (!p.socket.accept(&client, &address, &port) || p.stop.load()) break;
      {
        std::lock_guard<std::mutex> guard(p.connectionLock);
        p.connection = std::move(client);
      }
      {
        std::lock_guard<std::mutex> guard(p.peerLock);
        p.peerAddress = address;
        p.peerPort = port;
        p.peerChanged = true;
      }
      socketConnected_ = 1;
      if (SocketReport(kCommEventConnected)) break;
    }
    int32_t n;
    if (udp) {
      std::string address;
      uint16_t port = 0;
      n = p.socket.receiveFrom(buffer, sizeof buffer, &address, &port);
      if (p.stop.load()) break;
      if (n < 0) {
        const uint32_t error = platform::lastError();
        if (!passingDatagramError(error)) break;
        // One bad datagram or a refused earlier send: note it and go on, so
        // the port does not go deaf.
        gatheredErrors_ |= kReceiveIoError;
        char line[48];
        std::snprintf(line, sizeof line, "Receive Error %u", error);
        LogWrite(line);
        continue;
      }
      if (n == 0) continue;  // an empty datagram carries nothing
      std::lock_guard<std::mutex> guard(p.peerLock);
      p.peerAddress = address;
      p.peerPort = port;
      p.peerChanged = true;
    } else {
      n = server ? p.connection.receive(buffer, sizeof buffer) : p.socket.receive(buffer, sizeof buffer);
      if (p.stop.load()) break;
      if (n <= 0) {
        socketConnected_ = 0;
        if (SocketReport(kCommEventDisconnected) || !server) break;
        std::lock_guard<std::mutex> guard(p.connectionLock);
        p.connection.close();
        continue;
      }
    }
    if (p.ring.push(buffer, n)) {
      // The owner did not keep up: the oldest packet made room for this one.
      gatheredErrors_ |= platform::kLineErrorReceiveOverflow;
    }
    if (SocketReport(kCommEventReceived)) break;
  }
  if (server) {
    std::lock_guard<std::mutex> guard(p.connectionLock);
    p.connection.close();
  }
  p.threadRunning = false;
}

void CCommCtrl::SockClose() {
  {
    std::lock_guard<std::recursive_mutex> guard(logLock_);
    if (LogIsOpen()) {
      if (logTimeStamps_) WriteLogDate();
      lastDirection_ = kDirectionNone;
    }
  }
  CloseLog();
  if (!open_.load() || !socketPort_) return;
  SocketPort& p = *socketPort_;
  callback_ = nullptr;
  owner_ = nullptr;
  open_ = 0;
  socketConnected_ = 0;
  p.stop = true;
  // Shutting the sockets down wakes the thread from its receive or accept.
  {
    std::lock_guard<std::mutex> guard(p.connectionLock);
    p.connection.shutdown();
  }
  p.socket.shutdown();
  if (p.thread.joinable()) {
    if (p.thread.get_id() == std::this_thread::get_id()) {
      return;  // closed from its own callback: the thread ends by itself, SockOpen waits for it
    }
    p.thread.join();
  }
  {
    std::lock_guard<std::mutex> guard(p.connectionLock);
    p.connection.close();
  }
  socketPort_.reset();
  platform::sleepMilliseconds(100);
}

int32_t CCommCtrl::SockRead(void* buffer, int32_t size, uint32_t* errors) {
  if (!open_.load() || !socketPort_) {
    platform::setLastError(platform::kErrorInvalidHandle);
    return -1;
  }
  const uint32_t found = gatheredErrors_.exchange(0);
  if (errors) *errors = found;
  if (size <= 0 || !buffer) {
    platform::setLastError(platform::kErrorInvalidParameter);
    return -1;
  }
  const int32_t n = socketPort_->ring.read(buffer, size);
  if (n > 0) LogData(kDirectionReceived, buffer, n);
  return n;
}

int32_t CCommCtrl::SockWrite(const void* data, int32_t length, uint32_t* errors) {
  if (!open_.load() || !socketPort_) {
    platform::setLastError(platform::kErrorInvalidHandle);
    return -1;
  }
  const uint32_t found = gatheredErrors_.exchange(0);
  if (errors) *errors = found;
  if (!data || length <= 0) {
    platform::setLastError(platform::kErrorInvalidParameter);
    return -1;
  }
  SocketPort& p = *socketPort_;
  {
    // The next write answers the last sender (or the accepted client).
    std::lock_guard<std::mutex> guard(p.peerLock);
    if (p.peerChanged) {
      SetSendAdrsStr(p.peerAddress.c_str());
      sendPort_ = p.peerPort;
      p.peerChanged = false;
    }
  }
  std::lock_guard<std::recursive_mutex> log(logLock_);
  int32_t n;
  if (udp_) {
    n = p.socket.sendTo(data, length, sendAddressText_, static_cast<uint16_t>(sendPort_));
  } else if (connectRequest_) {
    n = p.socket.send(data, length);
  } else {
    std::lock_guard<std::mutex> guard(p.connectionLock);
    if (!p.connection.isOpen()) {
      platform::setLastError(platform::kWsaNotConnected);
      return -1;
    }
    n = p.connection.send(data, length);
  }
  if (n < 0) return -1;
  LogData(kDirectionSent, data, n);
  return n;
}

int32_t CCommCtrl::GetSockInQue() {
  if (!open_.load() || !socketPort_) return 0;
  return socketPort_->ring.frontUnread();
}
