// Requests to motion's control port (webcontrol, plain-text interface):
// GET http://host:port/<camera>/<path> with Digest authentication.
#pragma once
#include <cstdint>
#include <string>

namespace net {
struct CurlApi;
}

namespace motion {

class MotionHttp {
 public:
  virtual ~MotionHttp() = default;
  // One request. True with the body when motion answered 200; false with a
  // description when it could not be reached, answered something else or
  // did not answer within the time-out.
  virtual bool get(const std::string& path, std::string* body, std::string* error) = 0;
  // Time passes without requests: what is kept for the next one may be let
  // go. Returns the milliseconds until it wants to be asked again (-1: not
  // before the next request).
  virtual int64_t idle(int64_t nowMs) {
    (void)nowMs;
    return -1;
  }
};

// Over libcurl, loaded with the first request and unloaded (connection and
// all) once no request came for kKeepMs.
class CurlMotionHttp : public MotionHttp {
 public:
  // `baseUrl` "http://127.0.0.1:8080", `camera` motion's camera_id; an empty
  // user sends no credentials.
  CurlMotionHttp(std::string baseUrl, int camera, std::string user, std::string password, int timeoutMs);
  ~CurlMotionHttp() override;
  CurlMotionHttp(const CurlMotionHttp&) = delete;
  CurlMotionHttp& operator=(const CurlMotionHttp&) = delete;

  // Another address, login or time-out (the settings were read again).
  void configure(std::string baseUrl, int camera, std::string user, std::string password, int timeoutMs);

  bool get(const std::string& path, std::string* body, std::string* error) override;
  int64_t idle(int64_t nowMs) override;

  // A command mail's requests, a second apart, share one load.
  static constexpr int64_t kKeepMs = 2000;

 private:
  void letGo();

  std::string baseUrl_;
  int camera_ = 1;
  std::string user_, password_;
  int timeoutMs_ = 3000;
  const net::CurlApi* lib_ = nullptr;
  void* curl_ = nullptr;  // CURL*, kept for its connection while libcurl is loaded
  int64_t lastUseMs_ = 0;
};

}  // namespace motion
