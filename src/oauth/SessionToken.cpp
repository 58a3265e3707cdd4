#include "oauth/SessionToken.h"

#include "oauth/OAuthProvider.h"
#include "oauth/TokenStore.h"
#include "platform/Text.h"

namespace oauth {

OAuthResult sessionAccessToken(const config::AppSettings& settings, std::string* token) {
  token->clear();
  OAuthProvider provider;
  if (!loadProvider(kProviderFileName, &provider))
    return OAuthResult{OAuthError::kConfiguration, "OAuthの設定(quorvel-oauth.ini)がありません。設定からサインインしてください"};
  HttpSecurity security;
  security.verify = settings.tlsNoVerify == 0;
  security.trustFile = platform::fieldText(settings.tlsTrustFile);
  SystemClock clock;
  OAuthClient client(provider, security, clock);
  return accessTokenForSession(client, clock, kTokenFileName, token);
}

SaslMechanism sessionMechanism() {
  OAuthProvider provider;
  SaslMechanism mechanism = SaslMechanism::kXoauth2;
  if (loadProvider(kProviderFileName, &provider)) parseMechanism(provider.mechanism, &mechanism);
  return mechanism;
}

std::string sessionFailureLine(const OAuthResult& result) { return "OAuth: " + result.message; }

}  // namespace oauth
