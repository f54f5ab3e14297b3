// IPv4 sockets over POSIX sockets.
#include "platform/base/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/base/last_error.h"

namespace platform {

namespace {

// The Winsock number of a socket call's errno.
uint32_t socketError(int e) {
  switch (e) {
    case EINTR: return kWsaInterrupted;
    case EAGAIN: return kWsaWouldBlock;
    case ECONNABORTED: return kWsaConnectionAborted;
    case ECONNRESET:
    case EPIPE: return kWsaConnectionReset;
    case ENOTCONN: return kWsaNotConnected;
    case ETIMEDOUT: return kWsaTimedOut;
    case ECONNREFUSED: return kWsaConnectionRefused;
    case EHOSTUNREACH:
    case ENETUNREACH: return kWsaHostUnreachable;
    case EADDRINUSE: return 10048;      // WSAEADDRINUSE
    case EADDRNOTAVAIL: return 10049;   // WSAEADDRNOTAVAIL
    case EBADF:
    case ENOTSOCK: return 10038;        // WSAENOTSOCK
    case EMSGSIZE: return 10040;        // WSAEMSGSIZE
    case EACCES: return 10013;          // WSAEACCES
    case EINVAL: return 10022;          // WSAEINVAL
    default: return 10050;              // WSAENETDOWN
  }
}

bool fail() {
  setLastError(socketError(errno));
  return false;
}

bool addressOf(const std::string& address, uint16_t port, sockaddr_in* out) {
  uint32_t host = 0;
  if (!Socket::resolve(address, &host)) return false;
  std::memset(out, 0, sizeof *out);
  out->sin_family = AF_INET;
  out->sin_port = htons(port);
  out->sin_addr.s_addr = htonl(host);
  return true;
}

void textOf(const sockaddr_in& a, std::string* address, uint16_t* port) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
  if (address) *address = text;
  if (port) *port = ntohs(a.sin_port);
}

}  // namespace

Socket::~Socket() { close(); }

Socket::Socket(Socket&& other) noexcept : fd_(other.fd_.exchange(-1)), kind_(other.kind_) {}

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_.exchange(-1);
    kind_ = other.kind_;
  }
  return *this;
}

bool Socket::resolve(const std::string& address, uint32_t* out) {
  in_addr a{};
  if (inet_pton(AF_INET, address.c_str(), &a) == 1) {
    *out = ntohl(a.s_addr);
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  if (address.empty() || getaddrinfo(address.c_str(), nullptr, &hints, &found) != 0 || !found) {
    setLastError(kWsaHostNotFound);
    return false;
  }
  *out = ntohl(reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
  freeaddrinfo(found);
  return true;
}

bool Socket::open(SocketKind kind, uint16_t port) {
  close();
  int fd = ::socket(AF_INET, (kind == kSocketStream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
  if (fd < 0) return fail();
  int on = 1;
  // A listening port that was just closed can be bound again at once.
  if (kind == kSocketStream) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    const int e = errno;
    ::close(fd);
    setLastError(socketError(e));
    return false;
  }
  kind_ = kind;
  fd_ = fd;
  return true;
}

uint16_t Socket::localPort() const {
  sockaddr_in a{};
  socklen_t n = sizeof a;
  if (fd_.load() < 0 || getsockname(fd_.load(), reinterpret_cast<sockaddr*>(&a), &n) != 0) return 0;
  return ntohs(a.sin_port);
}

bool Socket::setBroadcast(bool on) {
  int value = on ? 1 : 0;
  if (setsockopt(fd_.load(), SOL_SOCKET, SO_BROADCAST, &value, sizeof value) != 0) return fail();
  return true;
}

bool Socket::listen(int backlog) {
  if (::listen(fd_.load(), backlog) != 0) return fail();
  return true;
}

bool Socket::accept(Socket* connection, std::string* peerAddress, uint16_t* peerPort) {
  sockaddr_in a{};
  socklen_t n = sizeof a;
  int fd;
  do {
    fd = ::accept4(fd_.load(), reinterpret_cast<sockaddr*>(&a), &n, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return fail();
  connection->close();
  connection->fd_ = fd;
  connection->kind_ = kSocketStream;
  textOf(a, peerAddress, peerPort);
  return true;
}

bool Socket::connect(const std::string& address, uint16_t port) {
  sockaddr_in a{};
  if (!addressOf(address, port, &a)) return false;
  if (::connect(fd_.load(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return fail();
  return true;
}

int32_t Socket::send(const void* data, int32_t length) {
  const char* p = static_cast<const char*>(data);
  int32_t done = 0;
  while (done < length) {
    ssize_t n = ::send(fd_.load(), p + done, static_cast<size_t>(length - done), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail();
      return -1;
    }
    done += static_cast<int32_t>(n);
  }
  return done;
}

int32_t Socket::sendTo(const void* data, int32_t length, const std::string& address, uint16_t port) {
  sockaddr_in a{};
  if (!addressOf(address, port, &a)) return -1;
  ssize_t n;
  do {
    n = ::sendto(fd_.load(), data, static_cast<size_t>(length), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&a),
                 sizeof a);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    fail();
    return -1;
  }
  return static_cast<int32_t>(n);
}

int32_t Socket::receive(void* buffer, int32_t size) {
  ssize_t n;
  do {
    n = ::recv(fd_.load(), buffer, static_cast<size_t>(size), 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    fail();
    return -1;
  }
  return static_cast<int32_t>(n);
}

int32_t Socket::receive(void* buffer, int32_t size, int32_t timeoutMs) {
  pollfd p{fd_.load(), POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&p, 1, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) {
    fail();
    return -1;
  }
  if (ready == 0) {
    setLastError(kWsaTimedOut);
    return -1;
  }
  return receive(buffer, size);
}

int32_t Socket::receiveFrom(void* buffer, int32_t size, std::string* peerAddress, uint16_t* peerPort) {
  sockaddr_in a{};
  ssize_t n;
  msghdr m{};
  iovec v{buffer, static_cast<size_t>(size)};
  do {
    m = msghdr{};
    m.msg_name = &a;
    m.msg_namelen = sizeof a;
    m.msg_iov = &v;
    m.msg_iovlen = 1;
    n = ::recvmsg(fd_.load(), &m, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    fail();
    return -1;
  }
  textOf(a, peerAddress, peerPort);
  if (m.msg_flags & MSG_TRUNC) {
    // As Winsock: a datagram larger than the buffer is an error, not data.
    setLastError(10040);  // WSAEMSGSIZE
    return -1;
  }
  return static_cast<int32_t>(n);
}

bool Socket::setNoDelay(bool on) {
  int value = on ? 1 : 0;
  if (setsockopt(fd_.load(), IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) != 0) return fail();
  return true;
}

void Socket::reset() {
  int fd = fd_.exchange(-1);
  if (fd < 0) return;
  linger l{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(fd);
}

void Socket::shutdown() {
  if (fd_.load() >= 0) ::shutdown(fd_.load(), SHUT_RDWR);
}

void Socket::close() {
  int fd = fd_.exchange(-1);
  if (fd >= 0) {
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
  }
}

}  // namespace platform
