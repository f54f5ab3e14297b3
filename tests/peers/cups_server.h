// A CUPS server for one test: cupsd in the foreground with its own
// configuration, spool and logs in a temporary folder, listening on a spare
// port of 127.0.0.1 only, with queues added through lpadmin that print to a
// file (no driver). Stopped (by its process id) and its folder removed when
// the object goes.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

class CupsServer {
 public:
  CupsServer() = default;
  ~CupsServer();
  CupsServer(const CupsServer&) = delete;
  CupsServer& operator=(const CupsServer&) = delete;

  // False with the reason when cupsd is not installed or does not start.
  bool start(std::string& why);
  // Adds a queue (name in UTF-8) printing into a file of the server's folder.
  bool addQueue(const std::string& name, std::string& why);
  // "127.0.0.1:<port>"
  std::string address() const;
  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
  int port_ = 0;
  int pid_ = -1;
};

}  // namespace testing_support
