// The access token for a session of the program (the mail check, the
// reply), from the files beside quorvel.ini: the provider in
// quorvel-oauth.ini, the tokens in quorvel-token.dat. Checked with the same
// certificate settings as the mail sessions.
#pragma once
#include <string>

#include "config/AppSettings.h"
#include "oauth/OAuthClient.h"
#include "oauth/Sasl.h"

namespace oauth {

// A token (refreshed first when it expires within five minutes), or the
// error. kInvalidGrant: the user must sign in again; no request was made
// when the grant was already known to be refused.
OAuthResult sessionAccessToken(const config::AppSettings& settings, std::string* token);

// The SASL mechanism the provider file prefers (XOAUTH2 unless it names OAUTHBEARER).
SaslMechanism sessionMechanism();

// The communication-log line of a failure.
std::string sessionFailureLine(const OAuthResult& result);

}  // namespace oauth
