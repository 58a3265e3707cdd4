#include "oauth/Loopback.h"

#include <chrono>

#include "platform/Base64.h"
#include "platform/Crypto.h"

namespace oauth {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string queryValue(const std::string& query, const char* name, bool* present) {
  std::string key = std::string(name) + "=";
  size_t at = 0;
  while (at <= query.size()) {
    size_t end = query.find('&', at);
    if (end == std::string::npos) end = query.size();
    if (query.compare(at, key.size(), key) == 0) {
      *present = true;
      return formDecode(query.substr(at + key.size(), end - at - key.size()));
    }
    at = end + 1;
  }
  *present = false;
  return std::string();
}

}  // namespace

std::string formDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() + 0 && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string pkceChallenge(const std::string& verifier) {
  return platform::base64Encode(platform::sha256(verifier), platform::Base64Form::kUrl);
}

bool makeAuthorizationRequest(const OAuthProvider& provider, uint16_t port, AuthorizationRequest* request) {
  std::string verifierBytes, stateBytes;
  if (!platform::randomBytes(32, &verifierBytes) || !platform::randomBytes(16, &stateBytes)) return false;
  AuthorizationRequest r;
  r.verifier = platform::base64Encode(verifierBytes, platform::Base64Form::kUrl);
  r.state = platform::base64Encode(stateBytes, platform::Base64Form::kUrl);
  r.redirectUri = "http://127.0.0.1:" + std::to_string(port) + "/";
  const std::string& base = provider.authorizationEndpoint;
  r.url = base + (base.find('?') == std::string::npos ? "?" : "&") + "response_type=code&client_id=" +
          formEncode(provider.clientId) + "&redirect_uri=" + formEncode(r.redirectUri) + "&scope=" +
          formEncode(provider.scopes) + "&state=" + r.state + "&code_challenge=" + pkceChallenge(r.verifier) +
          "&code_challenge_method=S256&prompt=consent&access_type=offline";
  if (!provider.userName.empty()) r.url += "&login_hint=" + formEncode(provider.userName);
  *request = r;
  return true;
}

Redirect parseRedirect(const std::string& head, const std::string& expectedState) {
  Redirect r;
  if (head.compare(0, 4, "GET ") != 0) return r;
  size_t end = head.find(' ', 4);
  if (end == std::string::npos) return r;
  std::string target = head.substr(4, end - 4);
  size_t q = target.find('?');
  if (q == std::string::npos) return r;
  std::string query = target.substr(q + 1);
  bool hasCode = false, hasError = false, hasState = false;
  std::string code = queryValue(query, "code", &hasCode);
  std::string error = queryValue(query, "error", &hasError);
  std::string state = queryValue(query, "state", &hasState);
  if (!hasCode && !hasError) return r;
  if (!hasState || state != expectedState) {
    r.kind = RedirectKind::kWrongState;
    return r;
  }
  if (hasError || code.empty()) {
    r.kind = RedirectKind::kError;
    r.error = error.empty() ? "no code" : error;
    return r;
  }
  r.kind = RedirectKind::kCode;
  r.code = code;
  return r;
}

std::string redirectAnswer(RedirectKind kind) {
  const char* status = "200 OK";
  const char* text = "サインインしました。このページを閉じて Quorvel に戻ってください。";
  if (kind == RedirectKind::kError) {
    text = "サインインできませんでした。Quorvel に戻ってください。";
  } else if (kind == RedirectKind::kWrongState) {
    status = "400 Bad Request";
    text = "この応答は Quorvel のサインインのものではありません。";
  } else if (kind == RedirectKind::kOther) {
    status = "404 Not Found";
    text = "Quorvel のサインイン待ちです。";
  }
  std::string body = std::string("<!DOCTYPE html><html lang=\"ja\"><head><meta charset=\"Shift_JIS\">"
                                 "<title>Quorvel</title></head><body><p>") +
                     text + "</p></body></html>";
  return std::string("HTTP/1.1 ") + status +
         "\r\nContent-Type: text/html; charset=Shift_JIS\r\nCache-Control: no-store\r\nConnection: close\r\n"
         "Content-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

OAuthResult awaitRedirect(net::TcpListener& listener, const std::string& expectedState, int timeoutSeconds,
                          const std::atomic<bool>* cancel, std::string* code) {
  using Steady = std::chrono::steady_clock;
  const auto deadline = Steady::now() + std::chrono::seconds(timeoutSeconds);
  while (Steady::now() < deadline) {
    if (cancel && cancel->load()) return OAuthResult{OAuthError::kCancelled, "キャンセルしました"};
    net::TcpSocket browser;
    int accepted = listener.accept(&browser, 200);
    if (accepted < 0) return OAuthResult{OAuthError::kHttp, "ブラウザからの接続を待てません"};
    if (accepted == 0) continue;
    // The request head, read within 10 s; a body is not expected.
    std::string head;
    const auto readUntil = Steady::now() + std::chrono::seconds(10);
    char buf[2048];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxRequestHead &&
           Steady::now() < readUntil) {
      if (browser.waitReadable(200) != 1) continue;
      int n = browser.receive(buf, sizeof buf);
      if (n <= 0) break;
      head.append(buf, static_cast<size_t>(n));
    }
    Redirect r = parseRedirect(head, expectedState);
    std::string answer = redirectAnswer(r.kind);
    browser.sendAll(answer.data(), static_cast<int>(answer.size()));
    browser.close();
    switch (r.kind) {
      case RedirectKind::kCode:
        *code = r.code;
        return OAuthResult();
      case RedirectKind::kError:
        return OAuthResult{r.error == "access_denied" ? OAuthError::kDenied : OAuthError::kServer,
                           "サインインできませんでした (" + r.error.substr(0, 100) + ")"};
      case RedirectKind::kWrongState:
        return OAuthResult{OAuthError::kWrongState,
                           "ブラウザからの応答の state が一致しません。サインインを中止しました"};
      case RedirectKind::kOther:
        break;
    }
  }
  return OAuthResult{OAuthError::kExpired, "ブラウザでのサインインが時間内に終わりませんでした"};
}

}  // namespace oauth
