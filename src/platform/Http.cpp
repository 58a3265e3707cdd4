#include "platform/Http.h"

#include <cctype>

namespace net {

bool platformHttpPost(const HttpRequest& request, HttpResponse* response);

namespace {

HttpClient g_client = nullptr;

bool startsWith(const std::string& text, const char* prefix) {
  size_t i = 0;
  for (; prefix[i]; ++i)
    if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  return true;
}

// The host part ends the name: ":", "/", "?" or the end.
bool hostIs(const std::string& url, size_t at, const char* host) {
  std::string rest = url.substr(at);
  if (!startsWith(rest, host)) return false;
  size_t n = std::char_traits<char>::length(host);
  return rest.size() == n || rest[n] == ':' || rest[n] == '/' || rest[n] == '?';
}

}  // namespace

bool httpUrlAllowed(const std::string& url) {
  for (char c : url)
    if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7F) return false;
  if (startsWith(url, "https://")) return url.size() > 8;
  if (startsWith(url, "http://")) return hostIs(url, 7, "127.0.0.1") || hostIs(url, 7, "localhost");
  return false;
}

void setHttpClient(HttpClient client) { g_client = client; }

bool httpPost(const HttpRequest& request, HttpResponse* response) {
  *response = HttpResponse();
  if (!httpUrlAllowed(request.url)) {
    response->failure = HttpFailure::kBadUrl;
    response->detail = "https only";
    return false;
  }
  return g_client ? g_client(request, response) : platformHttpPost(request, response);
}

}  // namespace net
