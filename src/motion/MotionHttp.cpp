#include "motion/MotionHttp.h"

#include "platform/Clock.h"
#include "platform/CurlLibrary.h"

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
}

CurlMotionHttp::~CurlMotionHttp() { letGo(); }

void CurlMotionHttp::configure(std::string baseUrl, int camera, std::string user, std::string password,
                               int timeoutMs) {
  baseUrl_ = std::move(baseUrl);
  while (!baseUrl_.empty() && baseUrl_.back() == '/') baseUrl_.pop_back();
  camera_ = camera;
  user_ = std::move(user);
  password_ = std::move(password);
  timeoutMs_ = timeoutMs;
}

void CurlMotionHttp::letGo() {
  if (!curl_) return;
  lib_->easyCleanup(static_cast<CURL*>(curl_));
  curl_ = nullptr;
  lib_ = nullptr;
  net::releaseCurl();
}

int64_t CurlMotionHttp::idle(int64_t nowMs) {
  if (!curl_) return -1;
  if (nowMs - lastUseMs_ >= kKeepMs) {
    letGo();
    return -1;
  }
  return lastUseMs_ + kKeepMs - nowMs;
}

bool CurlMotionHttp::get(const std::string& path, std::string* body, std::string* error) {
  body->clear();
  lastUseMs_ = static_cast<int64_t>(platform::monotonicMs());
  if (!curl_) {
    lib_ = net::acquireCurl(error);
    if (!lib_) return false;
    curl_ = lib_->easyInit();
    if (!curl_) {
      lib_ = nullptr;
      net::releaseCurl();
      *error = "libcurl could not start";
      return false;
    }
  }
  CURL* curl = static_cast<CURL*>(curl_);
  auto set = lib_->easySetopt;
  std::string url = baseUrl_ + "/" + std::to_string(camera_) + "/" + path;
  lib_->easyReset(curl);
  set(curl, CURLOPT_URL, url.c_str());
  set(curl, CURLOPT_PROTOCOLS_STR, "http");
  set(curl, CURLOPT_NOSIGNAL, 1L);
  set(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs_));
  set(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutMs_));
  set(curl, CURLOPT_WRITEFUNCTION, collect);
  set(curl, CURLOPT_WRITEDATA, body);
  set(curl, CURLOPT_MAXFILESIZE, static_cast<long>(kBodyLimit));
  if (!user_.empty()) {
    set(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_DIGEST));
    set(curl, CURLOPT_USERNAME, user_.c_str());
    set(curl, CURLOPT_PASSWORD, password_.c_str());
  }
  CURLcode rc = lib_->easyPerform(curl);
  lastUseMs_ = static_cast<int64_t>(platform::monotonicMs());
  if (rc != CURLE_OK) {
    *error = lib_->easyStrerror(rc);
    return false;
  }
  long status = 0;
  lib_->easyGetinfo(curl, CURLINFO_RESPONSE_CODE, &status);
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
