// An identity provider as the settings name it, its presets, and the
// file beside quorvel.ini that holds these longer values.
#pragma once
#include <cstdint>
#include <string>

namespace oauth {

enum ProviderKind : int32_t { kProviderNone = 0, kProviderMicrosoft = 1, kProviderGoogle = 2, kProviderOther = 3 };

struct OAuthProvider {
  std::string authorizationEndpoint;  // for the loopback flow (authorization code + PKCE)
  std::string deviceEndpoint;         // for the device flow; empty: the provider has none
  std::string tokenEndpoint;
  std::string clientId;
  std::string clientSecret;           // optional; sent in the form when set
  std::string scopes;                 // blank-separated
  std::string userName;               // the mailbox the token is for
  std::string mechanism;              // SASL: "XOAUTH2" (empty) or "OAUTHBEARER", when both are offered
};

// The preset of a kind (Microsoft, Google); the other kinds give an empty one.
OAuthProvider providerPreset(int32_t kind);

// The file beside quorvel.ini.
extern const char kProviderFileName[];

// "key=value" lines; unknown keys are ignored. Values never hold a line end.
std::string formatProvider(const OAuthProvider& provider);
void parseProvider(const std::string& text, OAuthProvider* provider);
bool loadProvider(const char* path, OAuthProvider* provider);
bool saveProvider(const char* path, const OAuthProvider& provider);

}  // namespace oauth
