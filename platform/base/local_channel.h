// Requests between processes of one user over local (Unix domain) stream
// sockets: a request frame in, an answer frame out, then the connection
// closes. A frame is a 32-bit little-endian length and that many bytes.
// Sockets live in the user's runtime folder ($XDG_RUNTIME_DIR, else
// /tmp/varnex-<uid>), one sub-folder per purpose, mode 0700.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The sub-folder of the runtime folder, made when missing ("" on failure).
std::string runtimeFolder(const std::string& sub);

class LocalChannelServer {
 public:
  using Handler = std::function<std::string(const std::string& request)>;
  LocalChannelServer();
  ~LocalChannelServer();  // stops and removes the socket file
  LocalChannelServer(const LocalChannelServer&) = delete;
  LocalChannelServer& operator=(const LocalChannelServer&) = delete;

  // Listens at path (a stale socket file there is replaced) and answers each
  // request with the handler on a thread of its own. False with the last error.
  bool start(const std::string& path, Handler handler);
  void stop();
  bool running() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Sends one request and waits for the answer. False with the last error
// (2 when nobody listens at path, 1460 on time-out).
bool localChannelRequest(const std::string& path, const std::string& request, std::string& answer, int timeoutMs);

}  // namespace platform
