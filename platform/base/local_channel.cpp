#include "platform/base/local_channel.h"

#include <poll.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/base/last_error.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// The channel's socket address: the abstract name "varnex/<uid>/<hash>" (no
// file, no length limit of the path). socklen receives the address length,
// which for an abstract name is part of the name.
bool makeAddress(const std::string& path, sockaddr_un& address, socklen_t& length) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.empty()) {
    setLastError(kErrorInvalidParameter);
    return false;
  }
  uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a, 64 bits
  for (unsigned char c : path) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  char name[64];
  int n = std::snprintf(name, sizeof name, "varnex/%u/%016llx", static_cast<unsigned>(::geteuid()),
                        static_cast<unsigned long long>(hash));
  std::memcpy(address.sun_path + 1, name, static_cast<size_t>(n));
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + static_cast<size_t>(n));
  return true;
}

// Whether the process at the other end of a connected socket is this user's.
bool sameUserPeer(int fd) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof peer) return false;
  return peer.uid == ::geteuid();
}

// A real folder (no link) of this user that nobody else may enter.
bool privateFolder(const std::string& folder) {
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) {
    setLastErrorFromErrno();
    return false;
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
    setLastError(kErrorAccessDenied);
    return false;
  }
  return true;
}

int remainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Moves all bytes one way before the deadline.
bool transfer(int fd, char* data, size_t size, bool sending, Clock::time_point deadline) {
  size_t done = 0;
  while (done < size) {
    pollfd p{fd, static_cast<short>(sending ? POLLOUT : POLLIN), 0};
    int ready = ::poll(&p, 1, remainingMs(deadline));
    if (ready == 0) {
      setLastError(kErrorTimeout);
      return false;
    }
    if (ready < 0) {
      if (errno == EINTR) continue;
      setLastErrorFromErrno();
      return false;
    }
    ssize_t n = sending ? ::send(fd, data + done, size - done, MSG_NOSIGNAL) : ::recv(fd, data + done, size - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) setLastError(kErrorBrokenPipe);
      else setLastErrorFromErrno();
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

constexpr uint32_t kMaxFrame = 1u << 20;

bool sendFrame(int fd, const std::string& bytes, Clock::time_point deadline) {
  uint32_t n = static_cast<uint32_t>(bytes.size());
  char header[4] = {static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16), static_cast<char>(n >> 24)};
  std::string copy = bytes;
  return transfer(fd, header, 4, true, deadline) && transfer(fd, copy.data(), copy.size(), true, deadline);
}

bool receiveFrame(int fd, std::string& bytes, Clock::time_point deadline) {
  unsigned char header[4];
  if (!transfer(fd, reinterpret_cast<char*>(header), 4, false, deadline)) return false;
  uint32_t n = header[0] | (header[1] << 8) | (header[2] << 16) | (static_cast<uint32_t>(header[3]) << 24);
  if (n > kMaxFrame) {
    setLastError(kErrorInvalidData);
    return false;
  }
  bytes.assign(n, '\0');
  return transfer(fd, bytes.data(), n, false, deadline);
}

}  // namespace

std::string runtimeFolderPath() {
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) return xdg;
  return "/tmp/varnex-" + std::to_string(::geteuid());
}

std::string runtimeFolder(const std::string& sub) {
  std::string base = runtimeFolderPath();
  if (::mkdir(base.c_str(), 0700) != 0 && errno != EEXIST) {
    setLastErrorFromErrno();
    return {};
  }
  if (!privateFolder(base)) return {};
  if (sub.empty()) return base;
  std::string folder = base + "/" + sub;
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    setLastErrorFromErrno();
    return {};
  }
  if (!privateFolder(folder)) return {};
  return folder;
}

struct LocalChannelServer::Impl {
  int listener = -1;
  int wake[2] = {-1, -1};
  std::string path;
  Handler handler;
  std::thread thread;
  std::atomic<bool> running{false};

  void serve() {
    for (;;) {
      pollfd p[2] = {{listener, POLLIN, 0}, {wake[0], POLLIN, 0}};
      if (::poll(p, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (p[1].revents) return;
      if (!(p[0].revents & POLLIN)) continue;
      int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      if (!sameUserPeer(fd)) {  // another user's process: not served
        ::close(fd);
        continue;
      }
      std::string request, answer;
      if (receiveFrame(fd, request, Clock::now() + std::chrono::seconds(2))) {
        answer = handler(request);
        sendFrame(fd, answer, Clock::now() + std::chrono::seconds(2));
      }
      ::close(fd);
    }
  }
};

LocalChannelServer::LocalChannelServer() : impl_(std::make_unique<Impl>()) {}

LocalChannelServer::~LocalChannelServer() { stop(); }

bool LocalChannelServer::running() const { return impl_->running; }

bool LocalChannelServer::start(const std::string& path, Handler handler) {
  if (impl_->running) return true;
  sockaddr_un address;
  socklen_t length = 0;
  if (!makeAddress(path, address, length)) return false;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    setLastErrorFromErrno();
    return false;
  }
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    setLastError(errno == EADDRINUSE ? kErrorAlreadyExists : errorFromErrno(errno));
    ::close(fd);
    return false;
  }
  if (::listen(fd, 8) != 0 || ::pipe2(impl_->wake, O_CLOEXEC) != 0) {
    setLastErrorFromErrno();
    ::close(fd);
    return false;
  }
  // The marker that lists the channel; a stale one of a process that ended
  // without removing it is replaced.
  ::unlink(path.c_str());
  int marker = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (marker < 0) {
    setLastErrorFromErrno();
    ::close(fd);
    ::close(impl_->wake[0]);
    ::close(impl_->wake[1]);
    return false;
  }
  ::close(marker);
  impl_->listener = fd;
  impl_->path = path;
  impl_->handler = std::move(handler);
  impl_->running = true;
  impl_->thread = std::thread([impl = impl_.get()] { impl->serve(); });
  return true;
}

void LocalChannelServer::stop() {
  if (!impl_ || !impl_->running) return;
  char byte = 1;
  (void)!::write(impl_->wake[1], &byte, 1);
  if (impl_->thread.joinable()) impl_->thread.join();
  ::close(impl_->listener);
  ::close(impl_->wake[0]);
  ::close(impl_->wake[1]);
  ::unlink(impl_->path.c_str());
  impl_->running = false;
}

bool localChannelRequest(const std::string& path, const std::string& request, std::string& answer, int timeoutMs) {
  sockaddr_un address;
  socklen_t length = 0;
  if (!makeAddress(path, address, length)) return false;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    setLastErrorFromErrno();
    return false;
  }
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    setLastError(errno == ECONNREFUSED ? kErrorFileNotFound : errorFromErrno(errno));
    ::close(fd);
    return false;
  }
  // Anybody may bind an abstract name: an answer counts only from this user.
  if (!sameUserPeer(fd)) {
    setLastError(kErrorAccessDenied);
    ::close(fd);
    return false;
  }
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  bool ok = sendFrame(fd, request, deadline) && receiveFrame(fd, answer, deadline);
  ::close(fd);
  return ok;
}

}  // namespace platform
