#include "peers/cups_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/wait_until.h"

namespace testing_support {
namespace {

int sparePort() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(s);
  return port;
}

bool answers(int port) {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(s);
  return ok;
}

}  // namespace

bool CupsServer::start(std::string& why) {
  const char* cupsd = "/usr/sbin/cupsd";
  if (::access(cupsd, X_OK) != 0 || ::access("/usr/sbin/lpadmin", X_OK) != 0) {
    why = "cupsd or lpadmin is not installed (packages cups-daemon, cups-client)";
    return false;
  }
  char pattern[] = "/tmp/varnex_cups_XXXXXX";
  if (!::mkdtemp(pattern)) {
    why = "no temporary folder";
    return false;
  }
  folder_ = pattern;
  for (const char* sub : {"spool", "tmp", "cache", "state", "out"}) std::filesystem::create_directories(folder_ + "/" + sub);
  std::filesystem::permissions(folder_, std::filesystem::perms::all, std::filesystem::perm_options::add);
  std::filesystem::permissions(folder_ + "/out", std::filesystem::perms::all, std::filesystem::perm_options::add);
  port_ = sparePort();
  {
    std::ofstream conf(folder_ + "/cupsd.conf");
    conf << "Listen 127.0.0.1:" << port_ << "\nLogLevel warn\nBrowsing Off\nWebInterface No\n"
         << "DefaultAuthType None\n<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
         << "<Location /admin>\n  Order allow,deny\n  Allow all\n</Location>\n"
         << "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
    std::ofstream files(folder_ + "/cups-files.conf");
    files << "ServerRoot " << folder_ << "\nRequestRoot " << folder_ << "/spool\nTempDir " << folder_
          << "/tmp\nCacheDir " << folder_ << "/cache\nStateDir " << folder_ << "/state\nErrorLog " << folder_
          << "/error_log\nAccessLog " << folder_ << "/access_log\nPageLog " << folder_
          << "/page_log\nFileDevice Yes\nPrintcap /dev/null\n";
  }
  const std::string conf = folder_ + "/cupsd.conf", files = folder_ + "/cups-files.conf";
  pid_ = ::fork();
  if (pid_ == 0) {
    ::execl(cupsd, cupsd, "-f", "-c", conf.c_str(), "-s", files.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (pid_ < 0 || !waitUntil([this] {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
          pid_ = -1;
          return true;
        }
        return answers(port_);
      }) ||
      pid_ < 0) {
    why = "cupsd did not start (see " + folder_ + "/error_log)";
    return false;
  }
  return true;
}

bool CupsServer::addQueue(const std::string& name, std::string& why) {
  const std::string command = "/usr/sbin/lpadmin -h " + address() + " -p '" + name + "' -v 'file://" + folder_ +
                              "/out/" + std::to_string(std::hash<std::string>{}(name)) + "' -E 2>/dev/null";
  if (std::system(command.c_str()) != 0) {
    why = "lpadmin could not add " + name;
    return false;
  }
  return true;
}

std::string CupsServer::address() const { return "127.0.0.1:" + std::to_string(port_); }

CupsServer::~CupsServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

}  // namespace testing_support
