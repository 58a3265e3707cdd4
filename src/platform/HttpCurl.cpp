// HTTP through libcurl (OpenSSL): the system's roots and the trusted file.
// libcurl is loaded for the request only (CurlLibrary).
#include "platform/CurlLibrary.h"
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

}  // namespace

bool platformHttpPost(const HttpRequest& request, HttpResponse* response) {
  std::string loadError;
  const CurlApi* lib = acquireCurl(&loadError);
  if (!lib) {
    response->failure = HttpFailure::kProtocol;
    response->detail = loadError;
    return false;
  }
  CURL* curl = lib->easyInit();
  if (!curl) {
    releaseCurl();
    response->failure = HttpFailure::kProtocol;
    response->detail = "curl_easy_init";
    return false;
  }
  Transfer transfer{&request, response};
  char error[CURL_ERROR_SIZE] = {};
  curl_slist* headers = lib->slistAppend(nullptr, "Accept: application/json");
  headers = lib->slistAppend(headers, "Content-Type: application/x-www-form-urlencoded");
  std::string authorization = "Authorization: " + request.authorization;
  if (!request.authorization.empty()) headers = lib->slistAppend(headers, authorization.c_str());
  auto set = lib->easySetopt;
  set(curl, CURLOPT_URL, request.url.c_str());
  set(curl, CURLOPT_PROTOCOLS_STR, "https,http");
  set(curl, CURLOPT_FOLLOWLOCATION, 0L);
  set(curl, CURLOPT_NOSIGNAL, 1L);
  set(curl, CURLOPT_HTTPHEADER, headers);
  set(curl, CURLOPT_POSTFIELDS, request.body.c_str());
  set(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.body.size()));
  set(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeoutMs));
  set(curl, CURLOPT_WRITEFUNCTION, onBody);
  set(curl, CURLOPT_WRITEDATA, &transfer);
  set(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
  set(curl, CURLOPT_XFERINFODATA, &transfer);
  set(curl, CURLOPT_NOPROGRESS, 0L);
  set(curl, CURLOPT_ERRORBUFFER, error);
  set(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  set(curl, CURLOPT_SSL_VERIFYPEER, request.verify ? 1L : 0L);
  set(curl, CURLOPT_SSL_VERIFYHOST, request.verify ? 2L : 0L);
  if (request.verify && !request.trustFile.empty()) {
    // The file besides the system's folder of roots.
    set(curl, CURLOPT_CAINFO, request.trustFile.c_str());
    set(curl, CURLOPT_CAPATH, "/etc/ssl/certs");
  }
  CURLcode rc = lib->easyPerform(curl);
  long status = 0;
  lib->easyGetinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  char* type = nullptr;
  lib->easyGetinfo(curl, CURLINFO_CONTENT_TYPE, &type);
  response->status = static_cast<int>(status);
  response->contentType = type ? type : "";
  lib->slistFreeAll(headers);
  lib->easyCleanup(curl);
  if (rc != CURLE_OK) response->detail = error[0] ? error : lib->easyStrerror(rc);
  releaseCurl();
  if (rc == CURLE_OK) return true;
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
