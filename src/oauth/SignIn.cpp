#include "oauth/SignIn.h"

#include "oauth/Loopback.h"
#include "platform/Net.h"

namespace oauth {

OAuthResult signInWithDevice(const OAuthProvider& provider, const HttpSecurity& security,
                             const std::atomic<bool>* cancel,
                             const std::function<void(const DeviceAuthorization&)>& onUserCode, Tokens* tokens) {
  SystemClock clock(cancel);
  OAuthClient client(provider, security, clock, cancel);
  DeviceAuthorization device;
  OAuthResult r = client.startDevice(&device);
  if (!r.ok()) return r;
  onUserCode(device);
  return client.pollDevice(device, tokens);
}

OAuthResult signInWithBrowser(const OAuthProvider& provider, const HttpSecurity& security,
                              const std::atomic<bool>* cancel, int timeoutSeconds,
                              const std::function<void(const std::string& url)>& openBrowser, Tokens* tokens) {
  if (provider.authorizationEndpoint.empty() || provider.tokenEndpoint.empty() || provider.clientId.empty())
    return OAuthResult{OAuthError::kConfiguration, "OAuthの設定が不足しています (エンドポイント、クライアントID)"};
  int error = 0;
  net::startup(&error);
  net::TcpListener listener;
  AuthorizationRequest request;
  OAuthResult r;
  std::string code;
  if (!listener.listen(0)) {
    r = OAuthResult{OAuthError::kHttp, "127.0.0.1 で待ち受けできません"};
  } else if (!makeAuthorizationRequest(provider, listener.port(), &request)) {
    r = OAuthResult{OAuthError::kHttp, "乱数を得られません"};
  } else {
    openBrowser(request.url);
    r = awaitRedirect(listener, request.state, timeoutSeconds, cancel, &code);
  }
  listener.close();
  net::cleanup(&error);
  if (!r.ok()) return r;
  SystemClock clock(cancel);
  OAuthClient client(provider, security, clock, cancel);
  return client.exchangeCode(code, request.verifier, request.redirectUri, tokens);
}

}  // namespace oauth
