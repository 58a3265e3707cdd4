// The loopback flow's own part (RFC 8252, RFC 7636 S256): the authorization
// address, and the one redirect the browser brings to 127.0.0.1 with the
// code, checked against our state.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "oauth/OAuthClient.h"
#include "platform/Net.h"

namespace oauth {

struct AuthorizationRequest {
  std::string verifier;     // PKCE code_verifier (43 characters)
  std::string state;
  std::string redirectUri;  // http://127.0.0.1:PORT/
  std::string url;          // to open in the browser
};

// The PKCE S256 challenge of a verifier.
std::string pkceChallenge(const std::string& verifier);
// A fresh verifier and state (random), for a listener on `port`; false when
// the system gives no random bytes.
bool makeAuthorizationRequest(const OAuthProvider& provider, uint16_t port, AuthorizationRequest* request);

enum class RedirectKind { kCode, kError, kWrongState, kOther };

struct Redirect {
  RedirectKind kind = RedirectKind::kOther;
  std::string code;
  std::string error;  // the provider's error (access_denied …)
};

// Judges the head of one HTTP request ("GET /?code=…&state=… HTTP/1.1 …").
// A request without code and error (a favicon, say) is kOther.
Redirect parseRedirect(const std::string& head, const std::string& expectedState);
// The whole HTTP answer to the browser: a short Japanese page (Shift_JIS).
std::string redirectAnswer(RedirectKind kind);

// Bounds of the wait for the browser.
constexpr int kMaxLoopbackSeconds = 600;
constexpr size_t kMaxRequestHead = 16384;

// Waits on `listener` for the redirect, answering every request; stops at
// the redirect with our state, a wrong one, an error, after timeoutSeconds
// or on *cancel.
OAuthResult awaitRedirect(net::TcpListener& listener, const std::string& expectedState, int timeoutSeconds,
                          const std::atomic<bool>* cancel, std::string* code);

// Percent-decoding of a query value ("+" is a blank).
std::string formDecode(const std::string& text);

}  // namespace oauth
