// IPv4 sockets: datagram and stream, bound to any local address and a port,
// listening, accepting, connecting, sending and receiving, with failures
// reported in the Winsock numbering (10053 connection aborted, 10061
// refused, ...) through the thread's last error.
//
// Receives block until data arrives, the peer closes or the socket is shut
// down from another thread by shutdown() or close(); that is how a thread
// waiting in recv or accept is told to stop.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace platform {

enum SocketKind : uint8_t {
  kSocketDatagram = 0,
  kSocketStream = 1,
};

class Socket {
 public:
  Socket() = default;
  ~Socket();
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  Socket(Socket&& other) noexcept;
  Socket& operator=(Socket&& other) noexcept;

  // A socket of the kind bound to any address and port (0: any free port).
  bool open(SocketKind kind, uint16_t port);
  bool isOpen() const { return fd_.load() >= 0; }
  // The port the socket is bound to (0 when not bound).
  uint16_t localPort() const;
  bool setBroadcast(bool on);
  bool listen(int backlog);
  // Blocks for one connection; peer address text and port of the caller.
  bool accept(Socket* connection, std::string* peerAddress, uint16_t* peerPort);
  // address: dotted IPv4 text or a host name.
  bool connect(const std::string& address, uint16_t port);
  // Bytes sent (all of them for a stream: it loops on partial sends), -1 on failure.
  int32_t send(const void* data, int32_t length);
  int32_t sendTo(const void* data, int32_t length, const std::string& address, uint16_t port);
  // Bytes received, 0 when the peer closed (stream) or the socket was shut
  // down, -1 on failure.
  int32_t receive(void* buffer, int32_t size);
  // As receive, but gives up after timeoutMs with nothing received: -1 and
  // last error 10060 (time-out).
  int32_t receive(void* buffer, int32_t size, int32_t timeoutMs);
  // A datagram larger than size is dropped and reported as 10040.
  int32_t receiveFrom(void* buffer, int32_t size, std::string* peerAddress, uint16_t* peerPort);
  // Stream: sends each write at once instead of gathering small ones.
  bool setNoDelay(bool on);
  // Stream: drops the connection with a reset instead of an orderly close.
  void reset();
  // Wakes a thread blocked in receive or accept; the socket stays allocated.
  void shutdown();
  void close();

  // 32-bit address (host order) of dotted text or a host name; false when unknown.
  static bool resolve(const std::string& address, uint32_t* out);

 private:
  std::atomic<int> fd_{-1};
  SocketKind kind_ = kSocketDatagram;
};

}  // namespace platform
