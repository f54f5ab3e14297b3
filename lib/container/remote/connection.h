// The one connection of the process to the remote file server, and the frame
// that every request and reply travels in.
//
// Frame (request and reply alike; numbers little-endian):
//
//   offset  size  field
//   0       2     frame mark: 0x0016 in every request; not checked in replies
//   2       2     length: bytes after offset 3 (whole frame length - 4)
//   4       4     handle: the remote file, table or list the request acts on, or 0
//   8       1     request: command letter / reply: reply code
//   9       1     request: argument byte / reply: error number when refused
//   10      ...   payload (length - 6 bytes)
//
// Reply codes: 0x06 done (no data, or data of a fixed size), 0x42 'B' done with
// data; anything else is a refusal whose status is byte 9, OR 0x40000000 when
// the code has bit 7 set (a server status, mapped to a library code).
//
// TCP is a stream: a reply is read until its length field is satisfied (at
// most 4108 bytes), within the reply time-out. A reply that breaks off, runs
// late or overruns the frame leaves the stream out of step, so the connection
// is closed and forgotten; later requests fail with 10093 until the caller
// connects again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace zemta::remote {

constexpr size_t kHeaderSize = 10;
constexpr size_t kMaxFrame = 4108;  // header, fixed fields and 4096 data bytes
constexpr size_t kMaxData = 4096;   // data bytes one request carries
constexpr uint16_t kFrameMark = 0x0016;
constexpr uint8_t kReplyDone = 0x06;
constexpr uint8_t kReplyData = 0x42;

// Codes the client sets itself.
constexpr uint32_t kNoConnection = 10093;
constexpr uint32_t kConnectionAborted = 10053;
constexpr uint32_t kBadCommand = 22;
constexpr uint32_t kBadReplySize = 0x20000002;
constexpr uint32_t kBadArgument = 0x20000085;
constexpr uint32_t kOutOfMemory = 0x20001001;
constexpr uint32_t kTooManyIds = 0x20000081;
constexpr uint32_t kMissingList = 0x200000FF;

// A request frame under construction.
class Request {
 public:
  Request(uint8_t letter, uint8_t argument, uint32_t handle);
  Request& u16(uint16_t value);
  Request& u32(uint32_t value);
  Request& bytes(const void* data, size_t length);
  Request& zeros(size_t length);
  size_t size() const { return frame_.size(); }
  // The frame with its length field filled in.
  const std::vector<uint8_t>& frame();

 private:
  std::vector<uint8_t> frame_;
};

// A whole reply frame as received.
struct Reply {
  std::vector<uint8_t> frame;
  uint32_t handle() const;
  uint8_t code() const { return frame[8]; }
  uint8_t number() const { return frame[9]; }
  const uint8_t* payload() const { return frame.data() + kHeaderSize; }
  size_t payloadLength() const { return frame.size() - kHeaderSize; }
};

bool connected();

// Sends the request and reads its reply. False with the last error set when
// there is no connection (10093), the exchange failed (the socket's error;
// the connection is closed on 10053 and whenever the stream is out of step),
// the reply is malformed or its handle differs from expectHandle (when
// given), or its code is not one of the accepted ones (the refusal's mapped
// status).
bool exchange(Request& request, Reply* reply, std::optional<uint32_t> expectHandle,
              std::initializer_list<uint8_t> accepted);

// Sets the last error from a status and returns false: -1 stands for the
// socket's last error (10053 also drops the connection), a status with bit 30
// set is a server status mapped to a library code, any other is set as is.
bool fail(uint32_t status);
uint32_t mapServerStatus(uint32_t status);
// fail() for functions that answer -1, and for those that answer a handle (0).
inline int32_t failWith(uint32_t status) {
  fail(status);
  return -1;
}
inline uint32_t failHandle(uint32_t status) {
  fail(status);
  return 0;
}

// How long a reply (or the handshake line) may take; tests shorten it.
void setReplyTimeout(int32_t milliseconds);
int32_t replyTimeout();

}  // namespace zemta::remote
