#include "oauth/OAuthClient.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "oauth/Json.h"

namespace oauth {
namespace {

OAuthResult failure(OAuthError error, const std::string& message) { return OAuthResult{error, message}; }

// Server words for a message: printable ASCII only, at most 200 bytes.
std::string clean(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (out.size() >= 200) {
      out += "...";
      break;
    }
    out += c >= 0x20 && c < 0x7F ? c : '?';
  }
  return out;
}

std::string withStatus(const char* text, int status) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "%s (HTTP %d)", text, status);
  return buf;
}

bool looksLikeHtml(const net::HttpResponse& r) {
  size_t at = r.body.find_first_not_of(" \t\r\n");
  return r.contentType.find("html") != std::string::npos || (at != std::string::npos && r.body[at] == '<');
}

}  // namespace

int64_t SystemClock::now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool SystemClock::wait(int milliseconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (std::chrono::steady_clock::now() < end) {
    if (cancel_ && cancel_->load()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return !(cancel_ && cancel_->load());
}

std::string formEncode(const std::string& text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string httpFailureText(const net::HttpResponse& r) {
  switch (r.failure) {
    case net::HttpFailure::kBadUrl: return "トークンサーバのアドレスが不正です (https のみ)";
    case net::HttpFailure::kConnect: return "トークンサーバに接続できません: " + clean(r.detail);
    case net::HttpFailure::kTls: return "トークンサーバとのTLS接続に失敗しました: " + clean(r.detail);
    case net::HttpFailure::kTimedOut: return "トークンサーバが時間内(30秒)に応答しません";
    case net::HttpFailure::kTooLarge: return "トークンサーバの応答が1MBを超えています";
    case net::HttpFailure::kCancelled: return "キャンセルしました";
    default: return "トークンサーバとの通信に失敗しました: " + clean(r.detail);
  }
}

OAuthClient::OAuthClient(const OAuthProvider& provider, const HttpSecurity& security, Clock& clock,
                         const std::atomic<bool>* cancel)
    : provider_(provider), security_(security), clock_(clock), cancel_(cancel) {}

OAuthResult OAuthClient::post(const std::string& url, std::string form, JsonObject* answer, int* status) {
  if (url.empty() || provider_.clientId.empty())
    return failure(OAuthError::kConfiguration, "OAuthの設定が不足しています (エンドポイント、クライアントID)");
  form += "&client_id=" + formEncode(provider_.clientId);
  if (!provider_.clientSecret.empty()) form += "&client_secret=" + formEncode(provider_.clientSecret);
  net::HttpRequest request;
  request.url = url;
  request.body = form;
  request.verify = security_.verify;
  request.trustFile = security_.trustFile;
  request.timeoutMs = security_.timeoutMs;
  request.maxBody = kMaxAnswerBytes;
  request.cancel = cancel_;
  net::HttpResponse response;
  bool answered = net::httpPost(request, &response);
  std::fill(request.body.begin(), request.body.end(), '\0');
  if (!answered) {
    return failure(response.failure == net::HttpFailure::kCancelled ? OAuthError::kCancelled : OAuthError::kHttp,
                   httpFailureText(response));
  }
  *status = response.status;
  if (looksLikeHtml(response))
    return failure(OAuthError::kBadAnswer, withStatus("トークンサーバがJSONではなくHTMLを返しました", response.status));
  if (!parseJsonObject(response.body, answer))
    return failure(OAuthError::kBadAnswer, withStatus("トークンサーバの応答がJSONではありません", response.status));
  return OAuthResult();
}

namespace {

// The OAuth error of an answer, judged; kNone when it has none.
OAuthResult answerError(const JsonObject& answer, int status) {
  std::string error = answer.text("error");
  if (error.empty()) {
    if (status >= 200 && status < 300) return OAuthResult();
    return failure(OAuthError::kBadAnswer, withStatus("トークンサーバがエラーを返しました", status));
  }
  std::string description = answer.text("error_description");
  std::string words = clean(error) + (description.empty() ? "" : ": " + clean(description));
  if (error == "invalid_grant")
    return failure(OAuthError::kInvalidGrant,
                   "サインインの許可が取り消されたか期限切れです。設定からサインインし直してください (" + words + ")");
  if (error == "access_denied") return failure(OAuthError::kDenied, "サインインが拒否されました (" + words + ")");
  if (error == "expired_token")
    return failure(OAuthError::kExpired, "コードの有効期限が切れました。もう一度サインインしてください");
  return failure(OAuthError::kServer, "トークンサーバがエラーを返しました: " + words);
}

}  // namespace

OAuthResult OAuthClient::tokensFrom(const JsonObject& answer, Tokens* tokens) {
  Tokens t;
  t.accessToken = answer.text("access_token");
  if (t.accessToken.empty())
    return failure(OAuthError::kBadAnswer, "トークンサーバの応答に access_token がありません");
  for (char c : t.accessToken)
    if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7F)
      return failure(OAuthError::kBadAnswer, "トークンサーバの access_token に使えない文字があります");
  t.refreshToken = answer.text("refresh_token");
  int64_t expiresIn = 0;
  if (answer.integer("expires_in", &expiresIn) && expiresIn > 0) t.expiresAt = clock_.now() + expiresIn;
  *tokens = t;
  return OAuthResult();
}

OAuthResult OAuthClient::startDevice(DeviceAuthorization* device) {
  if (provider_.deviceEndpoint.empty())
    return failure(OAuthError::kConfiguration, "このプロバイダにはデバイスコードのエンドポイントがありません");
  JsonObject answer;
  int status = 0;
  OAuthResult r = post(provider_.deviceEndpoint, "scope=" + formEncode(provider_.scopes), &answer, &status);
  if (!r.ok()) return r;
  r = answerError(answer, status);
  if (!r.ok()) return r;
  DeviceAuthorization d;
  d.deviceCode = answer.text("device_code");
  d.userCode = answer.text("user_code");
  d.verificationUri = answer.text("verification_uri");
  if (d.verificationUri.empty()) d.verificationUri = answer.text("verification_url");  // older Google
  d.verificationUriComplete = answer.text("verification_uri_complete");
  if (d.deviceCode.empty() || d.userCode.empty() || d.verificationUri.empty())
    return failure(OAuthError::kBadAnswer, "デバイスコードの応答に必要な項目がありません");
  int64_t interval = 0;
  if (answer.integer("interval", &interval) && interval > 0)
    d.intervalSeconds = static_cast<int>(interval < kMaxIntervalSeconds ? interval : kMaxIntervalSeconds);
  int64_t expiresIn = 0;
  if (!answer.integer("expires_in", &expiresIn) || expiresIn <= 0 || expiresIn > kMaxDeviceSeconds)
    expiresIn = kMaxDeviceSeconds;
  d.expiresAt = clock_.now() + expiresIn;
  *device = d;
  return OAuthResult();
}

OAuthResult OAuthClient::pollDevice(const DeviceAuthorization& device, Tokens* tokens) {
  int interval = device.intervalSeconds > 0 ? device.intervalSeconds : kDefaultIntervalSeconds;
  const std::string form = "grant_type=urn%3Aietf%3Aparams%3Aoauth%3Agrant-type%3Adevice_code&device_code=" +
                           formEncode(device.deviceCode);
  for (;;) {
    if (clock_.now() >= device.expiresAt)
      return failure(OAuthError::kExpired, "コードの有効期限が切れました。もう一度サインインしてください");
    if (!clock_.wait(interval * 1000)) return failure(OAuthError::kCancelled, "キャンセルしました");
    JsonObject answer;
    int status = 0;
    OAuthResult r = post(provider_.tokenEndpoint, form, &answer, &status);
    if (!r.ok()) return r;
    std::string error = answer.text("error");
    if (error == "authorization_pending") continue;
    if (error == "slow_down") {
      interval = interval + 5 < kMaxIntervalSeconds ? interval + 5 : kMaxIntervalSeconds;
      continue;
    }
    r = answerError(answer, status);
    if (!r.ok()) return r;
    return tokensFrom(answer, tokens);
  }
}

OAuthResult OAuthClient::exchangeCode(const std::string& code, const std::string& verifier,
                                      const std::string& redirectUri, Tokens* tokens) {
  JsonObject answer;
  int status = 0;
  OAuthResult r = post(provider_.tokenEndpoint,
                       "grant_type=authorization_code&code=" + formEncode(code) + "&code_verifier=" +
                           formEncode(verifier) + "&redirect_uri=" + formEncode(redirectUri),
                       &answer, &status);
  if (!r.ok()) return r;
  r = answerError(answer, status);
  if (!r.ok()) return r;
  return tokensFrom(answer, tokens);
}

OAuthResult OAuthClient::refresh(const std::string& refreshToken, Tokens* tokens) {
  if (refreshToken.empty())
    return failure(OAuthError::kInvalidGrant, "サインインが必要です (リフレッシュトークンがありません)");
  JsonObject answer;
  int status = 0;
  OAuthResult r =
      post(provider_.tokenEndpoint, "grant_type=refresh_token&refresh_token=" + formEncode(refreshToken), &answer,
           &status);
  if (!r.ok()) return r;
  r = answerError(answer, status);
  if (!r.ok()) return r;
  r = tokensFrom(answer, tokens);
  if (r.ok() && tokens->refreshToken.empty()) tokens->refreshToken = refreshToken;
  return r;
}

}  // namespace oauth
