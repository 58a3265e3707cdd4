// The tokens at rest: a file beside quorvel.ini, sealed for the current
// user (DPAPI on Windows; natively a file only its owner can read), and the
// access token for a session, refreshed first when it is about to expire.
#pragma once
#include <string>

#include "oauth/OAuthClient.h"

namespace oauth {

extern const char kTokenFileName[];

struct TokenFile {
  Tokens tokens;
  // The grant was refused (invalid_grant): no more refreshes until the
  // user signs in again.
  bool signInNeeded = false;
};

std::string formatTokenFile(const TokenFile& file);
bool parseTokenFile(const std::string& text, TokenFile* file);
bool saveTokenFile(const char* path, const TokenFile& file);
// False when the file is missing, unreadable or not ours.
bool loadTokenFile(const char* path, TokenFile* file);

// An access token kept in a file of its own (the tools' --bearer-file):
// its first line, without blanks around it; false when empty or unreadable.
bool readBearerFile(const char* path, std::string* token);

// The access token for a session started now. A token valid for more than
// kRefreshMarginSeconds is used as it is; otherwise it is refreshed, and
// the new tokens (a rotated refresh token above all) are saved before the
// access token is handed out. invalid_grant marks the file "sign-in needed",
// and later calls fail at once without asking the token endpoint.
// *refreshed tells whether the token endpoint was asked; `force` refreshes
// a token that is still valid.
OAuthResult accessTokenForSession(OAuthClient& client, Clock& clock, const char* path, std::string* accessToken,
                                  bool* refreshed = nullptr, bool force = false);

}  // namespace oauth
