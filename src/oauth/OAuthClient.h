// The client side of OAuth 2.0 for a desktop program: the device flow
// (RFC 8628), the code exchange of the loopback flow (RFC 7636, RFC 8252)
// and token refresh, over net::httpPost. Every answer of the token
// endpoint is judged here; whatever goes wrong gives one clear message and
// nothing is stored.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "oauth/OAuthProvider.h"
#include "platform/Http.h"

namespace oauth {

struct JsonObject;

enum class OAuthError {
  kNone,
  kConfiguration,  // an endpoint or the client id is missing
  kHttp,           // no answer: connection, TLS, time-out, body too large
  kBadAnswer,      // not JSON, HTML, or a JSON object without what it must hold
  kInvalidGrant,   // the grant is revoked or expired: sign in again
  kDenied,         // the user refused
  kExpired,        // the device code expired before the user approved
  kServer,         // any other OAuth error the server named
  kCancelled,
  kWrongState,     // the loopback redirect did not carry our state
};

struct OAuthResult {
  OAuthError error = OAuthError::kNone;
  std::string message;  // Shift_JIS, for the user and the communication log
  bool ok() const { return error == OAuthError::kNone; }
};

struct Tokens {
  std::string accessToken;
  std::string refreshToken;  // empty when the server issued none
  int64_t expiresAt = 0;     // seconds since 1970; 0 = unknown
};

struct DeviceAuthorization {
  std::string deviceCode;
  std::string userCode;
  std::string verificationUri;
  std::string verificationUriComplete;  // may be empty
  int intervalSeconds = 5;
  int64_t expiresAt = 0;
};

// Time and waiting, replaced by tests.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t now() = 0;  // seconds since 1970
  // Waits; false when cancelled meanwhile.
  virtual bool wait(int milliseconds) = 0;
};

// The system clock; waiting ends early when *cancel becomes true.
class SystemClock : public Clock {
 public:
  explicit SystemClock(const std::atomic<bool>* cancel = nullptr) : cancel_(cancel) {}
  int64_t now() override;
  bool wait(int milliseconds) override;

 private:
  const std::atomic<bool>* cancel_;
};

// Limits of every exchange with the token endpoint.
constexpr int kHttpTimeoutMs = 30000;
constexpr size_t kMaxAnswerBytes = 1048576;
// A device code is polled for at most this long, whatever the server says.
constexpr int64_t kMaxDeviceSeconds = 1800;
// The default and the largest polling interval.
constexpr int kDefaultIntervalSeconds = 5;
constexpr int kMaxIntervalSeconds = 60;
// An access token expiring within this many seconds is refreshed first.
constexpr int64_t kRefreshMarginSeconds = 300;

struct HttpSecurity {
  bool verify = true;
  std::string trustFile;
  int timeoutMs = kHttpTimeoutMs;  // tests shorten it
};

class OAuthClient {
 public:
  OAuthClient(const OAuthProvider& provider, const HttpSecurity& security, Clock& clock,
              const std::atomic<bool>* cancel = nullptr);

  // Asks the device-authorization endpoint for a user code.
  OAuthResult startDevice(DeviceAuthorization* device);
  // Polls the token endpoint until the user approved, refused or the code
  // expired: the interval honoured, 5 s more after each slow_down.
  OAuthResult pollDevice(const DeviceAuthorization& device, Tokens* tokens);
  // The loopback flow's second half.
  OAuthResult exchangeCode(const std::string& code, const std::string& verifier, const std::string& redirectUri,
                           Tokens* tokens);
  // A new access token; tokens->refreshToken is the new one when the server
  // rotated it, else the one given.
  OAuthResult refresh(const std::string& refreshToken, Tokens* tokens);

 private:
  // One POST of `form` (client id and secret added) to `url`.
  OAuthResult post(const std::string& url, std::string form, JsonObject* answer, int* status);
  OAuthResult tokensFrom(const JsonObject& answer, Tokens* tokens);

  OAuthProvider provider_;
  HttpSecurity security_;
  Clock& clock_;
  const std::atomic<bool>* cancel_;
};

// application/x-www-form-urlencoded.
std::string formEncode(const std::string& text);
// The message of an HTTP failure.
std::string httpFailureText(const net::HttpResponse& response);

}  // namespace oauth
