#include "motion/MotionHttp.h"

#include <curl/curl.h>

namespace motion {
namespace {

size_t collect(char* data, size_t size, size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

// Bodies of motion's answers are a few lines; more is not motion.
constexpr size_t kBodyLimit = 64 * 1024;

}  // namespace

CurlMotionHttp::CurlMotionHttp(std::string baseUrl, int camera, std::string user, std::string password, int timeoutMs) {
  configure(std::move(baseUrl), camera, std::move(user), std::move(password), timeoutMs);
  curl_global_init(CURL_GLOBAL_DEFAULT);
  curl_ = curl_easy_init();
}

void CurlMotionHttp::configure(std::string baseUrl, int camera, std::string user, std::string password,
                               int timeoutMs) {
  baseUrl_ = std::move(baseUrl);
  while (!baseUrl_.empty() && baseUrl_.back() == '/') baseUrl_.pop_back();
  camera_ = camera;
  user_ = std::move(user);
  password_ = std::move(password);
  timeoutMs_ = timeoutMs;
}

CurlMotionHttp::~CurlMotionHttp() {
  if (curl_) curl_easy_cleanup(static_cast<CURL*>(curl_));
}

bool CurlMotionHttp::get(const std::string& path, std::string* body, std::string* error) {
  body->clear();
  CURL* curl = static_cast<CURL*>(curl_);
  if (!curl) {
    *error = "libcurl could not start";
    return false;
  }
  std::string url = baseUrl_ + "/" + std::to_string(camera_) + "/" + path;
  curl_easy_reset(curl);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs_));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutMs_));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, body);
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE, static_cast<long>(kBodyLimit));
  if (!user_.empty()) {
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_DIGEST);
    curl_easy_setopt(curl, CURLOPT_USERNAME, user_.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, password_.c_str());
  }
  CURLcode rc = curl_easy_perform(curl);
  if (rc != CURLE_OK) {
    *error = curl_easy_strerror(rc);
    return false;
  }
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  if (status != 200) {
    *error = "HTTP " + std::to_string(status);
    return false;
  }
  // motion answers 200 to everything; a refusal says so in the body.
  if (body->find("Bad Request") != std::string::npos) {
    *error = "Bad Request";
    return false;
  }
  return true;
}

}  // namespace motion
