// HTTPS requests to an identity provider (token and device-authorization
// endpoints): libcurl natively, WinHTTP on Windows. The certificate is
// checked as for the mail sessions (TlsOptions: the system's roots and the
// trusted file). Plain http is taken only for a loopback host.
#pragma once
#include <atomic>
#include <cstddef>
#include <string>

namespace net {

enum class HttpFailure {
  kNone,
  kBadUrl,       // not https (or http to a loopback host), or unreadable
  kConnect,      // name not found, connection refused or broken
  kTls,          // handshake or certificate check failed (detail says why)
  kTimedOut,     // the whole exchange took longer than timeoutMs
  kTooLarge,     // the body is longer than maxBody
  kCancelled,    // *cancel became true
  kProtocol,     // anything else the HTTP layer refused
};

struct HttpRequest {
  std::string url;
  std::string body;           // application/x-www-form-urlencoded, sent with POST
  std::string authorization;  // an Authorization header value; empty = none
  bool verify = true;
  std::string trustFile;      // PEM certificates trusted besides the system's
  int timeoutMs = 30000;      // bound on the whole exchange
  size_t maxBody = 1048576;   // a longer answer is refused, not read
  const std::atomic<bool>* cancel = nullptr;
};

struct HttpResponse {
  int status = 0;
  std::string contentType;
  std::string body;
  HttpFailure failure = HttpFailure::kNone;
  std::string detail;  // the HTTP library's words on a failure
};

// One POST; false with response->failure set when no whole answer came.
// An answer with any status code is true.
bool httpPost(const HttpRequest& request, HttpResponse* response);

// True for http://127.0.0.1..., http://localhost... and https://...
bool httpUrlAllowed(const std::string& url);

// Tests replace the client.
using HttpClient = bool (*)(const HttpRequest& request, HttpResponse* response);
void setHttpClient(HttpClient client);

}  // namespace net
