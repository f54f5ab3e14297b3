#include "platform/base/https_client.h"

#include <curl/curl.h>

#include <mutex>

namespace platform {

namespace {

size_t collect(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

void globalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Failures that happen before a byte of the request can have reached the
// service: the payment cannot have been made.
bool failedBeforeSending(CURLcode code) {
  switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL: case CURLE_URL_MALFORMAT: case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: case CURLE_COULDNT_CONNECT: case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION: case CURLE_SSL_CACERT_BADFILE: case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER: case CURLE_SSL_ENGINE_NOTFOUND: case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ISSUER_ERROR: case CURLE_SSL_PINNEDPUBKEYNOTMATCH: case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE: case CURLE_OUT_OF_MEMORY: case CURLE_FAILED_INIT:
      return true;
    default:
      return false;
  }
}

}  // namespace

HttpsReply httpsSend(const HttpsRequest& request) {
  HttpsReply reply;
  globalInit();
  CURL* curl = curl_easy_init();
  if (!curl) {
    reply.error = "curl_easy_init failed";
    return reply;
  }
  const std::string url = "https://" + request.host + ":" + std::to_string(request.port) + request.path;
  curl_slist* headers = nullptr;
  for (const std::string& h : request.headers) headers = curl_slist_append(headers, h.c_str());
  headers = curl_slist_append(headers, "Expect:");  // no 100-continue round trip
  char message[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.body.size()));
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!request.caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, request.caFile.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectTimeoutMs));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeoutMs));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, message);
  const CURLcode code = curl_easy_perform(curl);
  if (code == CURLE_OK) {
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    reply.status = static_cast<int32_t>(status);
    reply.outcome = HttpsOutcome::Answered;
    const size_t end = reply.body.find_first_of("\r\n");
    reply.firstLine = reply.body.substr(0, end);
  } else {
    reply.outcome = failedBeforeSending(code) ? HttpsOutcome::NotSent : HttpsOutcome::Unknown;
    reply.error = message[0] ? message : curl_easy_strerror(code);
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return reply;
}

}  // namespace platform
