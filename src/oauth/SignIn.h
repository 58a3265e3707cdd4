// A whole sign-in, as the settings dialog and the signin tool run it:
// the device flow, or the browser with the loopback listener. Either ends
// with tokens, or with one message (cancelled, refused, expired, …).
#pragma once
#include <atomic>
#include <functional>
#include <string>

#include "oauth/OAuthClient.h"

namespace oauth {

// Device flow: `onUserCode` is told the code and the address to show,
// then the token endpoint is polled until the user approves.
OAuthResult signInWithDevice(const OAuthProvider& provider, const HttpSecurity& security,
                             const std::atomic<bool>* cancel,
                             const std::function<void(const DeviceAuthorization&)>& onUserCode, Tokens* tokens);

// Loopback flow: a listener on 127.0.0.1, `openBrowser` with the
// authorization address, the redirect within timeoutSeconds, the code
// exchanged with its PKCE verifier.
OAuthResult signInWithBrowser(const OAuthProvider& provider, const HttpSecurity& security,
                              const std::atomic<bool>* cancel, int timeoutSeconds,
                              const std::function<void(const std::string& url)>& openBrowser, Tokens* tokens);

}  // namespace oauth
