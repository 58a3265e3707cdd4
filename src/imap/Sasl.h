// SASL for AUTHENTICATE: a mechanism gives its name, an optional initial
// response and an answer to each server challenge. PLAIN is here; other
// mechanisms (bearer tokens) plug in through the same interface.
#pragma once
#include <memory>
#include <cstdint>
#include <functional>
#include <string>

#include "oauth/Sasl.h"

namespace imap {

class SaslMechanism {
 public:
  virtual ~SaslMechanism() = default;
  virtual std::string name() const = 0;
  // The initial response (raw bytes); false when the mechanism has none.
  virtual bool initialResponse(std::string* response) = 0;
  // The answer to a decoded challenge; false cancels the exchange.
  virtual bool respond(const std::string& challenge, std::string* response) = 0;
  // Before AUTHENTICATE: `offered` tells whether the server names a
  // mechanism; one with an alternative may take it.
  virtual void choose(const std::function<bool(const std::string&)>& offered) { (void)offered; }
};

// RFC 4616: "\0user\0password" in one step.
std::unique_ptr<SaslMechanism> makeSaslPlain(const std::string& user, const std::string& password);

// XOAUTH2 or OAUTHBEARER with an OAuth 2.0 access token (the other one
// when the server offers only that); an error challenge is answered so
// that the server sends its final failure.
std::unique_ptr<SaslMechanism> makeSaslBearer(oauth::SaslMechanism mechanism, const std::string& user,
                                              const std::string& token, const std::string& host, uint16_t port);

// A mailbox name (Shift_JIS) in modified UTF-7 (RFC 3501 5.1.3).
std::string mailboxNameUtf7(const std::string& sjis);

}  // namespace imap
