// signin: signs in at an OAuth 2.0 identity provider and writes the tokens.
//
//   signin [--provider-file FILE] [--token-endpoint URL] [--device-endpoint URL]
//          [--authorization-endpoint URL] [--client-id ID] [--client-secret S]
//          [--scope "A B"] [--user NAME] [--flow device|loopback]
//          [--tokens FILE] [--access-token-out FILE] [--trust FILE] [--no-verify]
//          [--timeout SECONDS] [--http-timeout-ms N]
//   signin --refresh [--force] ... (the provider, --tokens, --access-token-out)
//
// The device flow prints "verification_uri: …" and "user_code: …" and polls
// until the code is approved; the loopback flow prints "authorize: URL" for
// a browser and waits on 127.0.0.1 for its redirect. The tokens go to the
// sealed token file (--tokens, default quorvel-token.dat); the access token
// alone, for the --bearer-file of pop3check and sendcheck, to
// --access-token-out. --refresh refreshes them (--force: even when the
// access token is still valid). No token is ever printed. --timeout bounds
// the wait for the browser (600 s), --http-timeout-ms each exchange with the
// token endpoint (30000).
// Exit code: 0 signed in, 1 failed (the message on standard error), 2 usage.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "oauth/Loopback.h"
#include "oauth/SignIn.h"
#include "oauth/OAuthClient.h"
#include "oauth/TokenStore.h"
#include "platform/Crypto.h"
#include "platform/Text.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: signin [--provider-file FILE] [--token-endpoint URL] [--device-endpoint URL]\n"
               "              [--authorization-endpoint URL] [--client-id ID] [--client-secret S]\n"
               "              [--scope \"A B\"] [--user NAME] [--flow device|loopback]\n"
               "              [--tokens FILE] [--access-token-out FILE] [--trust FILE] [--no-verify]\n"
               "              [--timeout SECONDS] [--http-timeout-ms N] [--refresh [--force]]\n");
  return 2;
}

// Messages are Shift_JIS: as they are on Windows, in UTF-8 elsewhere.
int failed(const oauth::OAuthResult& r) {
#ifdef _WIN32
  std::fprintf(stderr, "signin: %s\n", r.message.c_str());
#else
  std::fprintf(stderr, "signin: %s\n", platform::cp932ToUtf8(r.message).c_str());
#endif
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  oauth::OAuthProvider provider;
  oauth::HttpSecurity security;
  std::string flow = "device", tokensPath = "quorvel-token.dat", accessOut;
  bool refresh = false, force = false;
  int timeoutSeconds = oauth::kMaxLoopbackSeconds;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
    if (a == "--provider-file") {
      if (!oauth::loadProvider(value().c_str(), &provider)) {
        std::fprintf(stderr, "signin: cannot read the provider file\n");
        return 2;
      }
    } else if (a == "--token-endpoint") provider.tokenEndpoint = value();
    else if (a == "--device-endpoint") provider.deviceEndpoint = value();
    else if (a == "--authorization-endpoint") provider.authorizationEndpoint = value();
    else if (a == "--client-id") provider.clientId = value();
    else if (a == "--client-secret") provider.clientSecret = value();
    else if (a == "--scope") provider.scopes = value();
    else if (a == "--user") provider.userName = value();
    else if (a == "--flow") flow = value();
    else if (a == "--tokens") tokensPath = value();
    else if (a == "--access-token-out") accessOut = value();
    else if (a == "--trust") security.trustFile = value();
    else if (a == "--no-verify") security.verify = false;
    else if (a == "--timeout") timeoutSeconds = std::atoi(value().c_str());
    else if (a == "--http-timeout-ms") security.timeoutMs = std::atoi(value().c_str());
    else if (a == "--refresh") refresh = true;
    else if (a == "--force") force = true;
    else return usage();
  }
  if (flow != "device" && flow != "loopback") return usage();
  std::atomic<bool> cancel{false};
  oauth::SystemClock clock(&cancel);
  oauth::OAuthClient client(provider, security, clock, &cancel);
  oauth::Tokens tokens;

  if (refresh) {
    std::string access;
    bool asked = false;
    oauth::OAuthResult r =
        oauth::accessTokenForSession(client, clock, tokensPath.c_str(), &access, &asked, force);
    if (!r.ok()) return failed(r);
    std::printf(asked ? "refreshed\n" : "still valid\n");
    if (!accessOut.empty() && !platform::writePrivateFile(accessOut.c_str(), access + "\n")) {
      std::fprintf(stderr, "signin: cannot write %s\n", accessOut.c_str());
      return 1;
    }
    return 0;
  }

  oauth::OAuthResult r;
  if (flow == "device") {
    r = oauth::signInWithDevice(provider, security, &cancel, [](const oauth::DeviceAuthorization& device) {
      std::printf("verification_uri: %s\nuser_code: %s\n", device.verificationUri.c_str(), device.userCode.c_str());
      if (!device.verificationUriComplete.empty())
        std::printf("verification_uri_complete: %s\n", device.verificationUriComplete.c_str());
      std::fflush(stdout);
    }, &tokens);
  } else {
    r = oauth::signInWithBrowser(provider, security, &cancel, timeoutSeconds, [](const std::string& url) {
      std::printf("authorize: %s\n", url.c_str());
      std::fflush(stdout);
    }, &tokens);
  }
  if (!r.ok()) return failed(r);
  oauth::TokenFile file;
  file.tokens = tokens;
  if (!oauth::saveTokenFile(tokensPath.c_str(), file)) {
    std::fprintf(stderr, "signin: cannot write %s\n", tokensPath.c_str());
    return 1;
  }
  if (!accessOut.empty() && !platform::writePrivateFile(accessOut.c_str(), tokens.accessToken + "\n")) {
    std::fprintf(stderr, "signin: cannot write %s\n", accessOut.c_str());
    return 1;
  }
  std::printf("signed in%s\n", tokens.refreshToken.empty() ? " (no refresh token)" : "");
  return 0;
}
