// The code-payment service stand-in (code_payment_server.py) as a child
// process: its certificates made once into a folder, a server started with
// one of them on a loopback port, stopped with the object.
#pragma once

#include <string>

namespace testing_support {

// Makes ca1.pem, ca2.pem and the server certificates into folder; false when
// openssl or python3 failed.
bool makePaymentCertificates(const std::string& folder);

class CodePaymentServer {
 public:
  // name: "server1", "server2" or "other1".
  CodePaymentServer(const std::string& folder, const std::string& name);
  ~CodePaymentServer();
  CodePaymentServer(const CodePaymentServer&) = delete;
  CodePaymentServer& operator=(const CodePaymentServer&) = delete;
  int port() const { return port_; }
  // A log of the server (requests.log, charges.log): its lines.
  std::string log(const std::string& name) const;

 private:
  std::string folder_;
  int pid_ = -1;
  int port_ = 0;
};

}  // namespace testing_support
