// The remote file server for tests, on a loopback TCP port: it answers the
// client's handshake line with a canned greeting, records every request
// frame, and answers each from a script (the next queued reply: bytes sent
// whole, in one-byte writes, cut short, or followed by a reset), or else
// from a folder of real files that it serves by name ('A' open or create,
// 'D', 'P', 'G', 'S', 'R', 'W', 'E', 'I' with the entry's descriptor), or
// from record stores. A hook may see each served request first, to stop the
// client there (a kill test) or cut the connection.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/file.h"
#include "platform/base/socket.h"

namespace testing_support {

class FileServicePeer {
 public:
  // A scripted answer to the next request.
  struct Answer {
    std::string bytes;        // sent as they are (a whole frame, or part of one)
    bool oneByteWrites = false;
    bool resetAfter = false;  // drop the connection with a reset once sent
    bool silentAfter = false; // send nothing more and read nothing more
  };

  FileServicePeer();
  ~FileServicePeer();
  FileServicePeer(const FileServicePeer&) = delete;
  FileServicePeer& operator=(const FileServicePeer&) = delete;

  uint16_t port() const { return port_; }

  // The line sent back for a handshake (default: this server, version 1.2.3.4).
  void setGreeting(const std::string& line);
  // Every frame, scripted or served, goes out in one-byte writes.
  void setOneByteWrites(bool on);
  void queue(const Answer& answer);
  void queue(const std::string& frame) { queue(Answer{frame}); }
  // Answers requests with no script left from this folder's files.
  void serveFolder(const std::string& folder);
  // Asks this first for requests with no script left (the record stores of
  // record_store_backend.h); what it leaves goes to the folder.
  using Backend = std::function<std::optional<std::string>(const std::string& request)>;
  void serveRecords(Backend backend);
  // Sees each request that no script answers before it is served, on the
  // server's thread; false drops the connection with the request unserved.
  using Hook = std::function<bool(const std::string& request)>;
  void setHook(Hook hook);
  // The times in the descriptors it gives run this far ahead of the files'
  // own (a server whose clock is not the client's).
  void setClockAhead(int64_t seconds);

  // The handshake line the client sent (empty until one came).
  std::string clientLine() const;
  std::vector<std::string> requests() const;
  bool waitForRequests(size_t count, int timeoutMs) const;

  // A frame: mark 22, length, handle, code, number, payload.
  static std::string frame(uint8_t code, uint8_t number, uint32_t handle, const std::string& payload = "");
  static std::string u16(uint16_t value);
  static std::string u32(uint32_t value);
  static uint16_t u16At(const std::string& bytes, size_t offset);
  static uint32_t u32At(const std::string& bytes, size_t offset);

 private:
  void run();
  void serveConnection(platform::Socket& connection);
  bool readExactly(platform::Socket& connection, std::string* into, size_t count);
  void sendAnswer(platform::Socket& connection, const Answer& answer, bool* keepGoing);
  std::string answerFromFolder(const std::string& request);

  platform::Socket listener_;
  uint16_t port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::string greeting_ = "#FFFFFFFF#SERVER=REDIVIDI;VER=1.2.3.4;\r\n";
  bool oneByteWrites_ = false;
  std::deque<Answer> script_;
  std::string folder_;
  Backend backend_;
  Hook hook_;
  int64_t clockAhead_ = 0;
  std::string clientLine_;
  std::vector<std::string> requests_;
  bool stopping_ = false;
  platform::Socket* current_ = nullptr;

  std::map<uint32_t, platform::File> files_;
  uint32_t nextHandle_ = 0x100;
};

}  // namespace testing_support
