// Requests between processes of one user over local (Unix domain) stream
// sockets: a request frame in, an answer frame out, then the connection
// closes. A frame is a 32-bit little-endian length and that many bytes.
//
// A channel is named by a path in the user's runtime folder ($XDG_RUNTIME_DIR,
// else /tmp/varnex-<uid>), one sub-folder per purpose. The path holds only a
// marker file (so the channels of a purpose can be listed); the socket itself
// is bound in Linux's abstract namespace under a name made from the user id
// and a hash of the path, so a runtime folder of any depth works (a socket
// file's path is limited to 107 bytes). The abstract namespace has no file
// permissions: both ends check the other's user id (SO_PEERCRED), and only
// the same user is served or believed.
//
// The runtime folder and its sub-folders are used only when they are real
// folders owned by the user and closed to everybody else (mode 0700):
// another user who made "/tmp/varnex-<uid>" first must not get to plant
// markers there.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The sub-folder of the runtime folder, made when missing. "" on failure, with
// the last error access denied when the folder (or the runtime folder) belongs
// to another user, is open to others or is not a real folder.
std::string runtimeFolder(const std::string& sub);
// The runtime folder itself as runtimeFolder would use it (not checked).
std::string runtimeFolderPath();

class LocalChannelServer {
 public:
  using Handler = std::function<std::string(const std::string& request)>;
  LocalChannelServer();
  ~LocalChannelServer();  // stops and removes the socket file
  LocalChannelServer(const LocalChannelServer&) = delete;
  LocalChannelServer& operator=(const LocalChannelServer&) = delete;

  // Listens on the channel of path (a stale marker there is replaced) and
  // answers each request of the same user with the handler on a thread of its
  // own. False with the last error (183 when a live server has the channel).
  bool start(const std::string& path, Handler handler);
  void stop();
  bool running() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Sends one request and waits for the answer. False with the last error
// (2 when nobody listens on the channel, 5 when a process of another user
// does, 1460 on time-out).
bool localChannelRequest(const std::string& path, const std::string& request, std::string& answer, int timeoutMs);

}  // namespace platform
