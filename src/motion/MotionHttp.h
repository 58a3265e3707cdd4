// Requests to motion's control port (webcontrol, plain-text interface):
// GET http://host:port/<camera>/<path> with Digest authentication.
#pragma once
#include <string>

namespace motion {

class MotionHttp {
 public:
  virtual ~MotionHttp() = default;
  // One request. True with the body when motion answered 200; false with a
  // description when it could not be reached, answered something else or
  // did not answer within the time-out.
  virtual bool get(const std::string& path, std::string* body, std::string* error) = 0;
};

// Over libcurl.
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

 private:
  std::string baseUrl_;
  int camera_ = 1;
  std::string user_, password_;
  int timeoutMs_ = 3000;
  void* curl_ = nullptr;  // CURL*, kept for its connection
};

}  // namespace motion
