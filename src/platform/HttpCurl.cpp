// HTTP through libcurl (OpenSSL): the system's roots and the trusted file.
#include <curl/curl.h>

#include <mutex>

#include "platform/Http.h"

namespace net {
namespace {

struct Transfer {
  const HttpRequest* request;
  HttpResponse* response;
  bool tooLarge = false;
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
  Transfer* t = static_cast<Transfer*>(user);
  size_t n = size * count;
  if (t->response->body.size() + n > t->request->maxBody) {
    t->tooLarge = true;
    return 0;  // curl stops with CURLE_WRITE_ERROR
  }
  t->response->body.append(data, n);
  return n;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  Transfer* t = static_cast<Transfer*>(user);
  return t->request->cancel && t->request->cancel->load() ? 1 : 0;
}

void initialiseOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

bool platformHttpPost(const HttpRequest& request, HttpResponse* response) {
  initialiseOnce();
  CURL* curl = curl_easy_init();
  if (!curl) {
    response->failure = HttpFailure::kProtocol;
    response->detail = "curl_easy_init";
    return false;
  }
  Transfer transfer{&request, response};
  char error[CURL_ERROR_SIZE] = {};
  curl_slist* headers = curl_slist_append(nullptr, "Accept: application/json");
  headers = curl_slist_append(headers, "Content-Type: application/x-www-form-urlencoded");
  std::string authorization = "Authorization: " + request.authorization;
  if (!request.authorization.empty()) headers = curl_slist_append(headers, authorization.c_str());
  curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https,http");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.body.size()));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeoutMs));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, request.verify ? 1L : 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, request.verify ? 2L : 0L);
  if (request.verify && !request.trustFile.empty()) {
    // The file besides the system's folder of roots.
    curl_easy_setopt(curl, CURLOPT_CAINFO, request.trustFile.c_str());
    curl_easy_setopt(curl, CURLOPT_CAPATH, "/etc/ssl/certs");
  }
  CURLcode rc = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  char* type = nullptr;
  curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type);
  response->status = static_cast<int>(status);
  response->contentType = type ? type : "";
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  if (rc == CURLE_OK) return true;
  response->detail = error[0] ? error : curl_easy_strerror(rc);
  switch (rc) {
    case CURLE_WRITE_ERROR:
      response->failure = transfer.tooLarge ? HttpFailure::kTooLarge : HttpFailure::kProtocol;
      break;
    case CURLE_ABORTED_BY_CALLBACK: response->failure = HttpFailure::kCancelled; break;
    case CURLE_OPERATION_TIMEDOUT: response->failure = HttpFailure::kTimedOut; break;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING: response->failure = HttpFailure::kConnect; break;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM: response->failure = HttpFailure::kTls; break;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT: response->failure = HttpFailure::kBadUrl; break;
    default: response->failure = HttpFailure::kProtocol; break;
  }
  response->body.clear();
  return false;
}

}  // namespace net
