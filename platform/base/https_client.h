// A small HTTPS client for the payment service: one POST (or any method) with
// its header lines and body, the status, the first line of the reply body.
// The server's certificate and host name are always verified, against the
// system's certificate authorities or the CA file given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct HttpsRequest {
  std::string host;
  int32_t port = 443;
  std::string path;                  // "/v1/..."
  std::string method = "POST";
  std::vector<std::string> headers;  // "Name: value"
  std::string body;
  std::string caFile;                // empty: the system's authorities
  int32_t connectTimeoutMs = 10000;
  int32_t timeoutMs = 30000;
};

enum class HttpsOutcome {
  Answered,     // a reply came (whatever its status)
  NotSent,      // nothing reached the server (no connection, certificate refused, ...)
  Unknown,      // the request may have reached the server, but no reply came
};

struct HttpsReply {
  HttpsOutcome outcome = HttpsOutcome::NotSent;
  int32_t status = 0;       // HTTP status code when answered
  std::string body;         // the whole reply body
  std::string firstLine;    // its first line, without the line end
  std::string error;        // why, when not answered (UTF-8, from the library)
};

HttpsReply httpsSend(const HttpsRequest& request);

}  // namespace platform
