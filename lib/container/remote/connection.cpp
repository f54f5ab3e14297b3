// The connection to the remote file server: connecting, the text handshake
// that binds it, and the request/reply exchange with its status mapping.
//
// Handshake lines (code page 932 text, no NUL sent):
//   client: "#FFFFFFFF#BIND=IFS;WSID=" host ";" ["APP=" app ";"] ["VER=" version ";"] "\r\n"
//   server: a line of 26 to 4095 bytes beginning "#FFFFFFFF#SERVER=REDIVIDI;" and
//           holding ";VER=" and the server version "%u.%u.%u.%u"; further items ignored.
#include "lib/container/remote/connection.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "lib/core/little_endian.h"
#include "lib/core/report.h"
#include "platform/base/last_error.h"
#include "platform/base/socket.h"
#include "platform/base/system_info.h"
#include "zemta/sockifs.h"

namespace zemta::remote {

namespace {

platform::Socket g_socket;
bool g_connected = false;
uint32_t g_version[4] = {0, 0, 0, 0};
int32_t g_replyTimeoutMs = 30000;

constexpr char kServerMark[] = "#FFFFFFFF#SERVER=REDIVIDI;";
constexpr size_t kServerMarkLength = sizeof kServerMark - 1;  // 26
constexpr size_t kHandshakeBuffer = 4096;

// Forgets the connection and closes its socket.
void drop() {
  g_socket.close();
  g_connected = false;
  reporterServerSocket() = -1;
}

// Reads until `wanted` bytes are in buffer[0..wanted), or fails: -1 with the
// last error set (10060 when the time-out passed, 10053 when the server
// closed the connection). *got holds what arrived either way.
bool receiveAll(uint8_t* buffer, size_t wanted, size_t* got) {
  while (*got < wanted) {
    int32_t n = g_socket.receive(buffer + *got, static_cast<int32_t>(wanted - *got), g_replyTimeoutMs);
    if (n < 0) return false;
    if (n == 0) {
      platform::setLastError(kConnectionAborted);
      return false;
    }
    *got += static_cast<size_t>(n);
  }
  return true;
}

// The status of a refused or malformed reply.
uint32_t refusalStatus(const uint8_t* header) {
  return ((header[8] & 0x80) ? 0x40000000u : 0u) | header[9];
}

}  // namespace

Request::Request(uint8_t letter, uint8_t argument, uint32_t handle) : frame_(kHeaderSize, 0) {
  put_u16le(frame_.data(), kFrameMark);
  put_u32le(frame_.data() + 4, handle);
  frame_[8] = letter;
  frame_[9] = argument;
}

Request& Request::u16(uint16_t value) {
  uint8_t b[2];
  put_u16le(b, value);
  return bytes(b, 2);
}

Request& Request::u32(uint32_t value) {
  uint8_t b[4];
  put_u32le(b, value);
  return bytes(b, 4);
}

Request& Request::bytes(const void* data, size_t length) {
  if (length) frame_.insert(frame_.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + length);
  return *this;
}

Request& Request::zeros(size_t length) {
  frame_.insert(frame_.end(), length, 0);
  return *this;
}

const std::vector<uint8_t>& Request::frame() {
  put_u16le(frame_.data() + 2, static_cast<uint16_t>(frame_.size() - 4));
  return frame_;
}

uint32_t Reply::handle() const { return get_u32le(frame.data() + 4); }

bool connected() { return g_connected; }

void setReplyTimeout(int32_t milliseconds) { g_replyTimeoutMs = milliseconds; }
int32_t replyTimeout() { return g_replyTimeoutMs; }

uint32_t mapServerStatus(uint32_t status) {
  const uint32_t k = status & ~0x40000000u;
  const uint32_t n = k % 32;
  switch (k / 32) {
    case 0: case 1: case 2: case 3: return 0x20000000u + k;
    case 4: return 0x20000000u + n;
    case 5: return 0x20000080u + n;
    case 6: return 0x20000100u + n;
    case 7: return 0x20001000u + n;
    default: return 0x20000000u;
  }
}

bool fail(uint32_t status) {
  if (status == 0xFFFFFFFFu) {
    status = platform::lastError();
    if (status == kConnectionAborted) drop();
  } else if (status & 0x40000000u) {
    status = mapServerStatus(status);
  }
  platform::setLastError(status);
  return false;
}

bool exchange(Request& request, Reply* reply, std::optional<uint32_t> expectHandle,
              std::initializer_list<uint8_t> accepted) {
  if (!g_connected) return fail(kNoConnection);
  const std::vector<uint8_t>& frame = request.frame();
  if (g_socket.send(frame.data(), static_cast<int32_t>(frame.size())) < 0) return fail(0xFFFFFFFFu);

  reply->frame.assign(kMaxFrame, 0);
  uint8_t* buffer = reply->frame.data();
  size_t got = 0;
  // The length field first, then the rest it announces.
  if (!receiveAll(buffer, 4, &got)) {
    uint32_t error = platform::lastError();
    drop();
    return fail(error);
  }
  const size_t total = static_cast<size_t>(get_u16le(buffer + 2)) + 4;
  if (total < kHeaderSize || total > kMaxFrame) {
    // Not a frame of this protocol: what follows cannot be told apart from
    // the next reply.
    drop();
    reply->frame.clear();
    return fail(kConnectionAborted);
  }
  if (!receiveAll(buffer, total, &got)) {
    uint32_t error = platform::lastError();
    drop();
    // A reply cut short is refused: with the server's status when its header
    // says it is a refusal, else with what cut it short (time-out, reset).
    const bool refusal = got >= kHeaderSize && buffer[8] != kReplyDone && buffer[8] != kReplyData;
    return fail(refusal ? refusalStatus(buffer) : error);
  }
  reply->frame.resize(total);
  if (expectHandle && reply->handle() != *expectHandle) return fail(refusalStatus(buffer));
  if (std::find(accepted.begin(), accepted.end(), reply->code()) == accepted.end())
    return fail(refusalStatus(buffer));
  return true;
}

}  // namespace zemta::remote

using namespace zemta::remote;

ZEMTA_API int32_t SockConnect(const char* server, int32_t port) {
  if (g_connected) drop();
  uint32_t address = 0;
  if (!server || !platform::Socket::resolve(server, &address)) {
    if (!server) platform::setLastError(platform::kWsaHostNotFound);
    return static_cast<int32_t>(platform::lastError());
  }
  if (!g_socket.open(platform::kSocketStream, 0) || !g_socket.connect(server, static_cast<uint16_t>(port))) {
    uint32_t error = platform::lastError();
    g_socket.close();
    return static_cast<int32_t>(error);
  }
  g_connected = true;
  zemta::reporterServerSocket() = 1;
  std::fill(std::begin(g_version), std::end(g_version), 0u);
  return 0;
}

ZEMTA_API int32_t SockDisconnect() {
  if (!g_connected) return static_cast<int32_t>(kNoConnection);
  drop();
  return 0;
}

ZEMTA_API int32_t SockIsConnect() { return g_connected ? 1 : 0; }

ZEMTA_API int32_t SockBindWVSrv(const char* application, const char* version) {
  if (!g_connected) return static_cast<int32_t>(kNoConnection);
  std::string host = platform::hostName();
  if (host.empty()) host = "Unknown";
  std::string line = "#FFFFFFFF#BIND=IFS;WSID=" + host + ";";
  if (application) line += std::string("APP=") + application + ";";
  if (version) line += std::string("VER=") + version + ";";
  line += "\r\n";
  if (g_socket.send(line.data(), static_cast<int32_t>(line.size())) < 0) {
    uint32_t error = platform::lastError();
    if (error == kConnectionAborted) drop();
    return static_cast<int32_t>(error);
  }

  // The server's line, read up to its end (or until it stops coming).
  std::vector<char> buffer(kHandshakeBuffer + 1, 0);
  size_t got = 0;
  while (got < kHandshakeBuffer && std::memchr(buffer.data(), '\n', got) == nullptr) {
    int32_t n = g_socket.receive(buffer.data() + got, static_cast<int32_t>(kHandshakeBuffer - got), g_replyTimeoutMs);
    if (n < 0 && platform::lastError() == platform::kWsaTimedOut && got > 0) break;
    if (n <= 0) {
      uint32_t error = n == 0 ? kConnectionAborted : platform::lastError();
      drop();
      return static_cast<int32_t>(error);
    }
    got += static_cast<size_t>(n);
  }
  buffer[got] = 0;
  const char* text = buffer.data();
  const char* versionItem = got >= kServerMarkLength ? std::strstr(text, ";VER=") : nullptr;
  if (got < kServerMarkLength || got >= kHandshakeBuffer || std::memcmp(text, kServerMark, kServerMarkLength) != 0 ||
      !versionItem) {
    // Not this server, or not a line of the protocol: nothing more can be
    // exchanged on this connection.
    drop();
    return static_cast<int32_t>(kConnectionAborted);
  }
  std::fill(std::begin(g_version), std::end(g_version), 0u);
  std::sscanf(versionItem + 5, "%u.%u.%u.%u", &g_version[0], &g_version[1], &g_version[2], &g_version[3]);
  return 0;
}

ZEMTA_API int32_t SockGetWVSrvVer(char* buffer, int32_t size) {
  if (!g_connected) return static_cast<int32_t>(kNoConnection);
  if (buffer && size > 0)
    std::snprintf(buffer, static_cast<size_t>(size), "%u.%u.%u.%u", g_version[0], g_version[1], g_version[2],
                  g_version[3]);
  return 0;
}
