// CSock: sixteen socket slots with their receive threads.
#include "quorex/sock.h"

#include <cstdio>
#include <cstring>

#include "comm/sock/packet_ring.h"
#include "comm/window_link.h"
#include "platform/base/last_error.h"
#include "platform/base/socket.h"

namespace {

bool passingDatagramError(uint32_t code) {
  return code == platform::kWsaConnectionReset || code == platform::kWsaConnectionRefused ||
         code == platform::kWsaHostUnreachable || code == 10040 || code == platform::kWsaInterrupted ||
         code == platform::kWsaWouldBlock;
}

void setPeer(tagQX_SOCK_FIELD* slot, const std::string& address, uint16_t port) {
  std::lock_guard<std::mutex> guard(slot->peerLock);
  std::snprintf(slot->peerAddress, sizeof slot->peerAddress, "%s", address.c_str());
  slot->peerPort = port;
}

}  // namespace

tagQX_SOCK_FIELD::tagQX_SOCK_FIELD()
    : socket(std::make_unique<platform::Socket>()),
      ring(std::make_unique<quorex::PacketRing>()),
      accepted(std::make_unique<platform::Socket>()) {}

tagQX_SOCK_FIELD::~tagQX_SOCK_FIELD() = default;

CSock::CSock(HWND owner) : owner_(owner) {}

CSock::~CSock() {
  for (tagQX_SOCK_FIELD*& slot : slots_)
    if (slot) Close(slot, 0);
}

tagQX_SOCK_FIELD* CSock::Open(uint16_t kind, uint16_t port, int32_t messageId, HWND owner, int32_t startup) {
  int32_t index = 0;
  while (index < kSlots && slots_[index]) ++index;
  if (index == kSlots) return nullptr;
  if (startup && !started_) started_ = 1;  // POSIX sockets need no start-up
  auto slot = std::make_unique<tagQX_SOCK_FIELD>();
  slot->owner = owner ? owner : owner_;
  slot->messageId = messageId ? static_cast<uint32_t>(messageId) : 0x0E5Bu + static_cast<uint32_t>(index);
  slot->kind = kind;
  slot->localPort = port;
  std::snprintf(slot->peerAddress, sizeof slot->peerAddress, "255.255.255.255");
  slot->index = index;
  bool ok;
  if (kind & kTcpServer) {
    ok = slot->socket->open(platform::kSocketStream, port) && slot->socket->listen(1) && StartThread(slot.get());
  } else if (kind & kTcpClient) {
    ok = slot->socket->open(platform::kSocketStream, port);
  } else if (kind & kUdp) {
    ok = slot->socket->open(platform::kSocketDatagram, port) &&
         (!(kind & kBroadcast) || slot->socket->setBroadcast(true)) && StartThread(slot.get());
  } else {
    platform::setLastError(platform::kErrorInvalidParameter);
    ok = false;
  }
  if (!ok) return nullptr;  // the slot's socket closes with it
  slots_[index] = slot.release();
  return slots_[index];
}

bool CSock::StartThread(tagQX_SOCK_FIELD* slot) {
  slot->threadEnded = 0;
  slot->stop = false;
  slot->thread = std::thread([this, slot] { ReceiveThread(slot); });
  return true;
}

void CSock::ReceiveThread(tagQX_SOCK_FIELD* slot) {
  const bool server = (slot->kind & kTcpServer) != 0;
  const bool udp = !(slot->kind & (kTcpServer | kTcpClient));
  uint8_t buffer[quorex::PacketRing::kMaxPacket];
  if (server) {
    std::string address;
    uint16_t port = 0;
    if (!slot->socket->accept(slot->accepted.get(), &address, &port) || slot->stop.load()) {
      slot->threadEnded = 1;
      return;
    }
    setPeer(slot, address, port);
  }
  while (!slot->stop.load()) {
    int32_t n;
    if (udp) {
      std::string address;
      uint16_t port = 0;
      n = slot->socket->receiveFrom(buffer, sizeof buffer, &address, &port);
      if (slot->stop.load()) break;
      if (n < 0) {
        if (passingDatagramError(platform::lastError())) continue;  // the slot stays open to the next datagram
        break;
      }
      if (n == 0) continue;
      setPeer(slot, address, port);
    } else {
      n = server ? slot->accepted->receive(buffer, sizeof buffer) : slot->socket->receive(buffer, sizeof buffer);
      if (n <= 0 || slot->stop.load()) break;
    }
    const bool dropped = slot->ring->push(buffer, n);
    quorex::windowLink().postMessage(slot->owner, slot->messageId, 1, dropped ? 1 : 0);
  }
  slot->threadEnded = 1;
  if (!udp) slot->accepted->close();
}

int32_t CSock::Connect(tagQX_SOCK_FIELD* slot, uint16_t port, const char* address) {
  if (!slot || port == 0 || !address || !(slot->kind & kTcpClient) || slot->thread.joinable()) return -1;
  setPeer(slot, address, port);
  if (!slot->socket->connect(address, port)) return -1;
  return StartThread(slot) ? 0 : -1;
}

int32_t CSock::Send(tagQX_SOCK_FIELD* slot, uint16_t length, const void* data, uint16_t port, const char* address) {
  if (!slot || length == 0 || !data) return -1;
  int32_t n;
  if (slot->kind & kTcpServer) {
    n = slot->accepted->send(data, length);
  } else if (slot->kind & kTcpClient) {
    n = slot->socket->send(data, length);
  } else {
    std::string to;
    uint16_t toPort;
    {
      std::lock_guard<std::mutex> guard(slot->peerLock);
      if (port) slot->peerPort = port;
      if (address) std::snprintf(slot->peerAddress, sizeof slot->peerAddress, "%s", address);
      to = slot->peerAddress;
      toPort = slot->peerPort;
    }
    n = slot->socket->sendTo(data, length, to, toPort);
  }
  return n == length ? 0 : -1;
}

int32_t CSock::Read(tagQX_SOCK_FIELD* slot, void* buffer, uint16_t size) {
  if (!slot || !buffer || size == 0) return -1;
  return slot->ring->read(buffer, size);
}

int32_t CSock::Close(tagQX_SOCK_FIELD* slot, int32_t cleanup) {
  if (!slot) return 0;
  int32_t index = -1;
  for (int32_t i = 0; i < kSlots; ++i)
    if (slots_[i] == slot) index = i;
  if (index < 0) return 0;  // not one of this object's slots
  slot->stop = true;
  slot->accepted->shutdown();
  slot->socket->shutdown();
  if (slot->thread.joinable()) slot->thread.join();
  slots_[index] = nullptr;
  delete slot;
  if (cleanup && started_) started_ = 0;
  return 0;
}
