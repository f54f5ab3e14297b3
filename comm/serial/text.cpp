// CSerial: text framing, the last member of the receive check chain, in use
// while the binary, N114 and N143 framings are all off. Received bytes are
// cut into lines ended by a carriage return and compared with the command in
// progress, so that the device's echo of a command and its answer can be
// told apart and the answer completes the command.
//
// A line on the wire:
//
//   [0x0A...] message 0x0D [0x0A...]
//
// The entry holds the message (at most 4095 bytes) followed by a zero byte
// that its length counts. Valid message bytes (code page 932): TAB, 0x20 to
// 0x7E, 0xA0 to 0xDF, a double-byte character (a lead byte with a trail
// byte); ACK (0x06) with option 0x200; DLE (0x10) with
// option 0x100, followed by a byte 0x20 to 0x7E.
//
// Options (the object's default mode): 0x200 a lone ACK is a message of its
// own; 0x100 DLE and the byte after it are a message of their own.
//
// A command is a text frame's data up to its first carriage return; its
// reply pattern likewise. Patterns ignore letter case; '?' matches any one
// byte; a trailing '*' matches any rest, a leading '*' any start, '*' alone
// any message, and '*' at both ends a message that holds the middle.
#include <string>
#include <string_view>
#include <vector>

#include "comm/serial/locks.h"
#include "platform/base/cp932.h"
#include "quorex/serial.h"

using quorex::Hold;

namespace {

constexpr uint32_t kOff = 0x10000000;
constexpr uint32_t kOptionDle = 0x100;
constexpr uint32_t kOptionAck = 0x200;
constexpr uint32_t kModeIndependent = 0x00040000;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kDle = 0x10;
constexpr uint8_t kLineFeed = 0x0A;
constexpr uint8_t kReturn = 0x0D;
constexpr uint8_t kTab = 0x09;

// A control byte that a line may not hold (line feeds are cut off around it).
bool isJunk(uint8_t b, uint32_t options) {
  if (b >= 0x20 || b == kTab || b == kLineFeed) return false;
  if (b == kAck && (options & kOptionAck)) return false;
  if (b == kDle && (options & kOptionDle)) return false;
  return true;
}

bool validLine(const uint8_t* line, int32_t length, uint32_t options) {
  for (int32_t i = 0; i < length; ++i) {
    const uint8_t b = line[i];
    if (b == kTab || (b >= 0x20 && b <= 0x7E) || (b >= 0xA0 && b <= 0xDF)) continue;
    if (b == kAck && (options & kOptionAck)) continue;
    if (b == kDle && (options & kOptionDle)) {
      if (i + 1 >= length || line[i + 1] < 0x20 || line[i + 1] > 0x7E) return false;
      ++i;
      continue;
    }
    if (platform::cp932::isLeadByte(b)) {
      if (i + 1 >= length || !platform::cp932::isTrailByte(line[i + 1])) return false;
      ++i;
      continue;
    }
    return false;
  }
  return true;
}

std::string_view bytes(const uint8_t* data, int32_t n) {
  return std::string_view(reinterpret_cast<const char*>(data), static_cast<size_t>(n));
}

bool sameIgnoringCase(const uint8_t* a, const uint8_t* b, int32_t n) {
  return platform::cp932::equalNoCase(bytes(a, n), bytes(b, n));
}

// '?' stands for any one byte; ASCII letters match in either case, the bytes
// of a double-byte character of the message only themselves.
bool matchesAt(const uint8_t* message, const uint8_t* pattern, int32_t n) {
  const std::string_view text = bytes(message, n);
  for (size_t i = 0; i < text.size();) {
    const size_t length = platform::cp932::charLength(text, i);
    for (size_t k = i; k < i + length; ++k) {
      if (pattern[k] == '?') continue;
      const char p = static_cast<char>(pattern[k]);
      if (length == 2 ? p != text[k] : platform::cp932::upperAscii(p) != platform::cp932::upperAscii(text[k]))
        return false;
    }
    i += length;
  }
  return true;
}

// Bytes up to the first carriage return (or all of them).
int32_t untilReturn(const uint8_t* data, int32_t length) {
  for (int32_t i = 0; i < length; ++i)
    if (data[i] == kReturn) return i;
  return length;
}

bool matchesPattern(const uint8_t* message, int32_t n, const uint8_t* pattern, int32_t m) {
  if (m <= 0) return n == 0;
  const bool leading = pattern[0] == '*', trailing = pattern[m - 1] == '*';
  if (m == 1 && (leading || trailing)) return true;
  if (leading && trailing) {
    const int32_t k = m - 2;
    for (int32_t at = 0; at + k <= n; ++at)
      if (matchesAt(message + at, pattern + 1, k)) return true;
    return false;
  }
  if (trailing) return n >= m - 1 && matchesAt(message, pattern, m - 1);
  if (leading) return n >= m - 1 && matchesAt(message + n - (m - 1), pattern + 1, m - 1);
  return n == m && matchesAt(message, pattern, m);
}

}  // namespace

int32_t CSerial::TextCheckFind(uint8_t value) {
  int32_t i = 0;
  while (i < receiveCount_ && receiveBuffer_[i] == kLineFeed) ++i;
  return (i < receiveCount_ && receiveBuffer_[i] == value) ? i + 1 : 0;
}

int32_t CSerial::TextCheck(uint32_t status) {
  if (!(binMode_ & kOff) || !(n114Mode_ & kOff) || !(n143Mode_ & kOff)) return 0;
  const PendingFlags pending = Pending();
  // Junk while a text command waits for its answer is an error; otherwise it
  // waits (for a later framing, or for the receive timer).
  const int32_t junk = pending.text ? -1 : 0;
  const uint32_t options = defaultMode_;
  const uint8_t* b = receiveBuffer_;
  const int32_t held = receiveCount_;
  int32_t start = 0;
  while (start < held && b[start] == kLineFeed) ++start;

  int32_t messageStart = start, messageEnd, consumed;
  if ((options & kOptionAck) && TextCheckFind(kAck)) {
    consumed = messageEnd = start + 1;
  } else if ((options & kOptionDle) && TextCheckFind(kDle)) {
    if (start + 1 >= held) return 0;
    consumed = messageEnd = start + 2;
  } else {
    int32_t cr = -1;
    for (int32_t i = start; i < held; ++i) {
      if (b[i] == kReturn) {
        cr = i;
        break;
      }
    }
    if (cr < 0) {
      for (int32_t i = start; i < held; ++i)
        if (isJunk(b[i], options)) return junk;
      return 0;  // the receive timer hands over what never gets its carriage return
    }
    messageEnd = cr;
    while (messageEnd > start && b[messageEnd - 1] == kLineFeed) --messageEnd;
    consumed = cr + 1;
    while (consumed < held && b[consumed] == kLineFeed) ++consumed;
    if (messageEnd == messageStart) return consumed;
    if (!validLine(b + messageStart, messageEnd - messageStart, options)) {
      if (pending.text) return -1;
      // No command waits for this line, so nothing will ever take it: left
      // where it is it would hold back every line behind it until the line
      // goes quiet. Hand it over as broken data and go on.
      InQueWrite(0x4000, consumed, b, status, 0);
      commCtrl_->LogWrite("Text Check Error");
      return consumed;
    }
  }

  const int32_t length = messageEnd - messageStart;
  const uint8_t* message = b + messageStart;
  uint32_t type = 0;
  int32_t tag = 0;
  bool response = false;
  {
    Hold output(*outputLock_);
    for (int32_t i = outHead_; i != outTail_; i = (i + 1) & 0xFFF) {
      OutQueueEntry& e = outQueue_[i];
      if (!e.data || !e.inProgress || (e.mode & kModeIndependent)) continue;
      const int32_t command = untilReturn(e.data, e.length);
      const std::string text(reinterpret_cast<const char*>(message), static_cast<size_t>(length));
      if (command == length && sameIgnoringCase(e.data, message, length)) {
        commCtrl_->LogWrite("Echo Detect: " + text);
        type = 0x1000;
        tag = e.tag;
      } else if (e.reply && e.replyLength > 0 &&
                 matchesPattern(message, length, e.reply, untilReturn(e.reply, e.replyLength))) {
        commCtrl_->LogWrite("Response Detect: " + text);
        tag = e.tag;
        DeleteOutQue(i, 1);
        response = true;
      }
      break;  // only the first command in progress is looked at
    }
  }
  std::vector<uint8_t> entry(message, message + length);
  entry.push_back(0);
  InQueWrite(type, static_cast<int32_t>(entry.size()), entry.data(), status, tag);
  if (response) OutQueCheck(0);
  return consumed;
}
