// The SASL mechanisms that log in with an OAuth 2.0 access token, for the
// POP3, IMAP and SMTP sessions: XOAUTH2 and OAUTHBEARER (RFC 7628).
// Every message here is already base64, ready for the wire.
#pragma once
#include <cstdint>
#include <string>

namespace oauth {

enum class SaslMechanism { kXoauth2, kOauthBearer };

// "XOAUTH2" or "OAUTHBEARER".
const char* mechanismName(SaslMechanism mechanism);
// Parses a name (any case); false for any other.
bool parseMechanism(const std::string& name, SaslMechanism* mechanism);

// The client's first message for `user` with `token`. OAUTHBEARER names
// the server's host and port when given (host empty or port 0: left out).
std::string saslInitialResponse(SaslMechanism mechanism, const std::string& user, const std::string& token,
                                const std::string& host = std::string(), uint16_t port = 0);

// The answer to an error challenge, after which the server sends its final
// failure: empty for XOAUTH2, %x01 ("AQ==") for OAUTHBEARER.
std::string saslErrorResponse(SaslMechanism mechanism);

// The mechanism to use from those a server advertises (words separated by
// blanks, e.g. the SASL capability or an EHLO AUTH line): `preferred` when
// offered, else the other one; false when neither is.
bool chooseMechanism(const std::string& advertised, SaslMechanism preferred, SaslMechanism* chosen);

// The "status" of a base64 error challenge ({"status":"401",...}), for the
// log; empty when there is none.
std::string challengeStatus(const std::string& challenge);

}  // namespace oauth
