#include "peers/code_payment_server.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace testing_support {

namespace {

std::string script() { return std::string(VARNEX_PEERS_DIR) + "/code_payment_server.py"; }

}  // namespace

bool makePaymentCertificates(const std::string& folder) {
  const std::string command = "python3 '" + script() + "' certs '" + folder + "'";
  return std::system(command.c_str()) == 0;
}

CodePaymentServer::CodePaymentServer(const std::string& folder, const std::string& name) : folder_(folder) {
  int out[2];
  if (pipe(out) != 0) return;
  const std::string cert = folder + "/" + name + ".pem", key = folder + "/" + name + ".key";
  const std::string path = script();
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    execlp("python3", "python3", path.c_str(), "serve", cert.c_str(), key.c_str(), folder.c_str(),
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  FILE* in = fdopen(out[0], "r");
  if (in && std::fscanf(in, "%d", &port_) != 1) port_ = 0;
  if (in) std::fclose(in);
}

CodePaymentServer::~CodePaymentServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

std::string CodePaymentServer::log(const std::string& name) const {
  std::ifstream in(folder_ + "/" + name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace testing_support
