#include "platform/base/serial_line.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/base/last_error.h"

// The kernel's modem control bits beyond those glibc names.
#ifndef TIOCM_OUT1
#define TIOCM_OUT1 0x2000
#define TIOCM_OUT2 0x4000
#define TIOCM_LOOP 0x8000
#endif

namespace platform {

namespace {

// While bytes sit unread or a write drains, the waiter looks again this often:
// a tty reports neither "more bytes came" nor "the send queue is empty" by poll.
constexpr int kRecheckMs = 2;

bool speedOf(uint32_t baud, speed_t* speed) {
  struct Pair { uint32_t baud; speed_t speed; };
  static const Pair kSpeeds[] = {
      {50, B50},         {75, B75},         {110, B110},       {134, B134},
      {150, B150},       {200, B200},       {300, B300},       {600, B600},
      {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
      {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
      {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
      {576000, B576000}, {921600, B921600}, {1000000, B1000000},
  };
  for (const Pair& p : kSpeeds) {
    if (p.baud == baud) {
      *speed = p.speed;
      return true;
    }
  }
  return false;
}

bool notSupported(int err) { return err == ENOTTY || err == EINVAL || err == ENOTSUP; }

uint64_t nowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

}  // namespace

SerialLine::~SerialLine() { close(); }

bool SerialLine::open(const std::string& devicePath) {
  close();
  int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    setLastErrorFromErrno();
    return false;
  }
  if (!isatty(fd)) {
    ::close(fd);
    setLastError(kErrorInvalidHandle);
    return false;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    setLastError(kErrorAccessDenied);
    return false;
  }
  int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake < 0) {
    setLastErrorFromErrno();
    ::close(fd);
    return false;
  }
  fd_ = fd;
  wakeFd_ = wake;
  broken_ = false;
  receivedReported_ = 0;
  transmitPending_ = false;
  countsKnown_ = false;
  takeLineErrors();  // start counting from now
  return true;
}

void SerialLine::close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (wakeFd_ >= 0) {
    ::close(wakeFd_);
    wakeFd_ = -1;
  }
  mask_ = 0;
}

bool SerialLine::isUsable() const {
  if (fd_ < 0 || broken_.load()) return false;
  // Look now rather than wait for the event thread to notice.
  pollfd p{fd_, 0, 0};
  if (poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) broken_ = true;
  return !broken_.load();
}

bool SerialLine::configure(const SerialSettings& s) {
  if (fd_ < 0) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  speed_t speed;
  if (s.dataBits < 5 || s.dataBits > 8 || s.parity > kParitySpace || s.stopBits > kStopBitsTwo ||
      s.flow > kFlowBoth || !speedOf(s.baudRate, &speed)) {
    setLastError(kErrorInvalidParameter);
    return false;
  }
  termios t{};
  if (tcgetattr(fd_, &t) != 0) {
    setLastErrorFromErrno();
    return false;
  }
  cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CREAD | CLOCAL;
  static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[s.dataBits - 5];
  switch (s.parity) {
    case kParityNone: break;
    case kParityOdd: t.c_cflag |= PARENB | PARODD; break;
    case kParityEven: t.c_cflag |= PARENB; break;
    case kParityMark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case kParitySpace: t.c_cflag |= PARENB | CMSPAR; break;
  }
  if (s.parity != kParityNone) t.c_iflag |= INPCK;
  if (s.stopBits != kStopBitsOne) t.c_cflag |= CSTOPB;
  t.c_iflag &= ~(IXON | IXOFF | IXANY);
  if (s.flow == kFlowHardware || s.flow == kFlowBoth) t.c_cflag |= CRTSCTS;
  if (s.flow == kFlowSoftware || s.flow == kFlowBoth) t.c_iflag |= IXON | IXOFF;
  t.c_cc[VSTART] = s.xonChar;
  t.c_cc[VSTOP] = s.xoffChar;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  if (tcsetattr(fd_, TCSANOW, &t) != 0) {
    setLastErrorFromErrno();
    return false;
  }
  return true;
}

bool SerialLine::setBaudRate(uint32_t baudRate) {
  speed_t speed;
  if (fd_ < 0) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  if (!speedOf(baudRate, &speed)) {
    setLastError(kErrorInvalidParameter);
    return false;
  }
  termios old{};
  if (tcgetattr(fd_, &old) != 0) {
    setLastErrorFromErrno();
    return false;
  }
  termios t = old;
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  if (tcsetattr(fd_, TCSANOW, &t) != 0) {
    setLastErrorFromErrno();
    tcsetattr(fd_, TCSANOW, &old);
    return false;
  }
  return true;
}

void SerialLine::setWriteTimeout(uint32_t writeTotalMs, uint32_t writePerByteMs) {
  writeTotalMs_ = writeTotalMs;
  writePerByteMs_ = writePerByteMs;
}

int32_t SerialLine::read(void* buffer, uint32_t size) {
  if (fd_ < 0) {
    setLastError(kErrorInvalidHandle);
    return -1;
  }
  if (size == 0) return 0;
  ssize_t n = ::read(fd_, buffer, size);
  if (n < 0) {
    if (errno == EAGAIN || errno == EINTR) return 0;
    if (errno == EIO) broken_ = true;
    setLastErrorFromErrno();
    return -1;
  }
  if (n > 0) receivedReported_ = 0;  // what is left (or comes) is reported again
  return static_cast<int32_t>(n);
}

int32_t SerialLine::write(const void* data, uint32_t count) {
  if (fd_ < 0) {
    setLastError(kErrorInvalidHandle);
    return -1;
  }
  uint64_t limit = static_cast<uint64_t>(writeTotalMs_.load()) +
                   static_cast<uint64_t>(writePerByteMs_.load()) * count;
  if (limit == 0) limit = kUnboundedWriteMs;
  const uint64_t deadline = nowMs() + limit;
  const auto* bytes = static_cast<const uint8_t*>(data);
  uint32_t done = 0;
  while (done < count) {
    ssize_t n = ::write(fd_, bytes + done, count - done);
    if (n > 0) {
      done += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      if (errno == EIO) broken_ = true;
      setLastErrorFromErrno();
      if (done > 0) break;
      return -1;
    }
    uint64_t now = nowMs();
    if (now >= deadline) break;
    pollfd p{fd_, POLLOUT, 0};
    poll(&p, 1, static_cast<int>(deadline - now));
  }
  if (done > 0) {
    transmitPending_ = true;
    wake();
  }
  return static_cast<int32_t>(done);
}

int32_t SerialLine::inQueue() const {
  int n = 0;
  if (fd_ < 0 || ioctl(fd_, FIONREAD, &n) != 0) {
    setLastError(fd_ < 0 ? kErrorInvalidHandle : errorFromErrno(errno));
    return -1;
  }
  return n;
}

int32_t SerialLine::outQueue() const {
  int n = 0;
  if (fd_ < 0 || ioctl(fd_, TIOCOUTQ, &n) != 0) {
    setLastError(fd_ < 0 ? kErrorInvalidHandle : errorFromErrno(errno));
    return -1;
  }
  return n;
}

uint32_t SerialLine::takeLineErrors() {
  if (fd_ < 0) return 0;
  serial_icounter_struct c{};
  if (ioctl(fd_, TIOCGICOUNT, &c) != 0) return 0;  // the device keeps no count
  const uint32_t now[5] = {static_cast<uint32_t>(c.buf_overrun), static_cast<uint32_t>(c.overrun),
                           static_cast<uint32_t>(c.parity), static_cast<uint32_t>(c.frame),
                           static_cast<uint32_t>(c.brk)};
  static const uint32_t kBits[5] = {kLineErrorReceiveOverflow, kLineErrorOverrun, kLineErrorParity,
                                    kLineErrorFrame, kLineErrorBreak};
  uint32_t errors = 0;
  for (int i = 0; i < 5; ++i) {
    if (countsKnown_ && now[i] != lastCounts_[i]) errors |= kBits[i];
    lastCounts_[i] = now[i];
  }
  countsKnown_ = true;
  return errors;
}

bool SerialLine::purge() {
  if (fd_ < 0) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  if (tcflush(fd_, TCIOFLUSH) != 0) {
    setLastErrorFromErrno();
    return false;
  }
  receivedReported_ = 0;
  transmitPending_ = false;
  return true;
}

void SerialLine::setEventMask(uint32_t mask) {
  mask_ = mask;
  wake();
}

void SerialLine::wake() {
  if (wakeFd_ < 0) return;
  uint64_t one = 1;
  ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
  (void)ignored;
}

int32_t SerialLine::waitEvents(uint32_t* events) {
  *events = 0;
  if (fd_ < 0 || wakeFd_ < 0) {
    setLastError(kErrorInvalidHandle);
    return -1;
  }
  for (;;) {
    if (broken_) {
      setLastError(kErrorGenFailure);
      return -1;
    }
    const uint32_t mask = mask_.load();
    uint32_t found = 0;
    int32_t waiting = 0;
    if (mask & kSerialEventReceived) {
      waiting = inQueue();
      if (waiting < 0) return -1;
      if (waiting > receivedReported_.load()) {
        receivedReported_ = waiting;
        found |= kSerialEventReceived;
      }
    }
    const bool draining = transmitPending_.load();
    if ((mask & kSerialEventTransmitEmpty) && draining) {
      int32_t queued = outQueue();
      if (queued == 0 && transmitPending_.exchange(false)) found |= kSerialEventTransmitEmpty;
    }
    if (found) {
      *events = found;
      return 1;
    }
    pollfd p[2] = {{wakeFd_, POLLIN, 0}, {fd_, 0, 0}};
    int timeout = -1;
    if (mask & kSerialEventReceived) {
      if (waiting == 0) p[1].events = POLLIN;
      else timeout = kRecheckMs;  // bytes wait unread: look for more now and then
    }
    if ((mask & kSerialEventTransmitEmpty) && draining) timeout = kRecheckMs;
    int r = poll(p, 2, timeout);
    if (r < 0) {
      if (errno == EINTR) continue;
      setLastErrorFromErrno();
      return -1;
    }
    if (p[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      broken_ = true;
      setLastError(kErrorGenFailure);
      return -1;
    }
    if (p[0].revents & POLLIN) {
      uint64_t count;
      ssize_t ignored = ::read(wakeFd_, &count, sizeof count);
      (void)ignored;
      return 0;
    }
  }
}

bool SerialLine::modemStatus(uint32_t* bits) {
  *bits = 0;
  int lines = 0;
  if (fd_ < 0) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  if (ioctl(fd_, TIOCMGET, &lines) != 0) {
    setLastError(notSupported(errno) ? kErrorNotSupported : errorFromErrno(errno));
    return false;
  }
  if (lines & TIOCM_CTS) *bits |= kModemCts;
  if (lines & TIOCM_DSR) *bits |= kModemDsr;
  if (lines & TIOCM_RNG) *bits |= kModemRing;
  if (lines & TIOCM_CAR) *bits |= kModemRlsd;
  return true;
}

bool SerialLine::modemLines(unsigned long request, int bits) {
  if (fd_ < 0) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  if (ioctl(fd_, request, &bits) != 0) {
    setLastError(notSupported(errno) ? kErrorNotSupported : errorFromErrno(errno));
    return false;
  }
  return true;
}

bool SerialLine::setDtr(bool on) { return modemLines(on ? TIOCMBIS : TIOCMBIC, TIOCM_DTR); }

bool SerialLine::setRts(bool on) { return modemLines(on ? TIOCMBIS : TIOCMBIC, TIOCM_RTS); }

bool SerialLine::setBreak(bool on) {
  if (fd_ < 0) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  if (ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) != 0) {
    setLastError(notSupported(errno) ? kErrorNotSupported : errorFromErrno(errno));
    return false;
  }
  return true;
}

namespace {
struct ControlBit { uint32_t ours; int tiocm; };
const ControlBit kControlBits[] = {
    {kModemControlDtr, TIOCM_DTR},   {kModemControlRts, TIOCM_RTS},
    {kModemControlOut1, TIOCM_OUT1}, {kModemControlOut2, TIOCM_OUT2},
    {kModemControlLoop, TIOCM_LOOP},
};
}  // namespace

bool SerialLine::modemControl(uint32_t* bits) {
  *bits = 0;
  int lines = 0;
  if (!modemLines(TIOCMGET, 0)) return false;
  ioctl(fd_, TIOCMGET, &lines);
  for (const ControlBit& b : kControlBits)
    if (lines & b.tiocm) *bits |= b.ours;
  return true;
}

bool SerialLine::setModemControl(uint32_t bits, bool on) {
  int lines = 0;
  for (const ControlBit& b : kControlBits)
    if (bits & b.ours) lines |= b.tiocm;
  return modemLines(on ? TIOCMBIS : TIOCMBIC, lines);
}

}  // namespace platform
