#include "imap/Sasl.h"

#include <utility>

#include "platform/Base64.h"
#include "platform/Text.h"

namespace imap {
namespace {

class SaslPlain : public SaslMechanism {
 public:
  SaslPlain(std::string user, std::string password) : user_(std::move(user)), password_(std::move(password)) {}
  std::string name() const override { return "PLAIN"; }
  bool initialResponse(std::string* response) override {
    *response = std::string(1, '\0') + user_ + std::string(1, '\0') + password_;
    return true;
  }
  bool respond(const std::string& challenge, std::string* response) override {
    // An empty challenge asks for the initial response; anything else is
    // not PLAIN.
    return challenge.empty() && initialResponse(response);
  }

 private:
  std::string user_;
  std::string password_;
};

}  // namespace

std::unique_ptr<SaslMechanism> makeSaslPlain(const std::string& user, const std::string& password) {
  return std::make_unique<SaslPlain>(user, password);
}

std::string mailboxNameUtf7(const std::string& sjis) {
  std::u16string wide = platform::cp932ToUtf16(sjis);
  std::string out;
  std::string run;  // UTF-16BE bytes waiting to be encoded
  auto flush = [&] {
    if (run.empty()) return;
    out += '&' + platform::base64Encode(run, platform::Base64Form::kImapMailbox) + '-';
    run.clear();
  };
  for (char16_t u : wide) {
    if (u >= 0x20 && u <= 0x7E) {
      flush();
      out += u == '&' ? std::string("&-") : std::string(1, static_cast<char>(u));
    } else {
      run += static_cast<char>(u >> 8);
      run += static_cast<char>(u & 0xFF);
    }
  }
  flush();
  return out;
}

namespace {

class SaslBearer : public SaslMechanism {
 public:
  SaslBearer(oauth::SaslMechanism mechanism, std::string user, std::string token, std::string host, uint16_t port)
      : mechanism_(mechanism), user_(std::move(user)), token_(std::move(token)), host_(std::move(host)), port_(port) {}
  std::string name() const override { return oauth::mechanismName(mechanism_); }
  bool initialResponse(std::string* response) override {
    return platform::base64Decode(oauth::saslInitialResponse(mechanism_, user_, token_, host_, port_), response);
  }
  void choose(const std::function<bool(const std::string&)>& offered) override {
    oauth::SaslMechanism other = mechanism_ == oauth::SaslMechanism::kXoauth2 ? oauth::SaslMechanism::kOauthBearer
                                                                               : oauth::SaslMechanism::kXoauth2;
    if (!offered(std::string("AUTH=") + oauth::mechanismName(mechanism_)) &&
        offered(std::string("AUTH=") + oauth::mechanismName(other)))
      mechanism_ = other;
  }
  bool respond(const std::string&, std::string* response) override {
    std::string answer = oauth::saslErrorResponse(mechanism_);
    response->clear();
    return answer.empty() || platform::base64Decode(answer, response);
  }

 private:
  oauth::SaslMechanism mechanism_;
  std::string user_, token_, host_;
  uint16_t port_;
};

}  // namespace

std::unique_ptr<SaslMechanism> makeSaslBearer(oauth::SaslMechanism mechanism, const std::string& user,
                                              const std::string& token, const std::string& host, uint16_t port) {
  return std::make_unique<SaslBearer>(mechanism, user, token, host, port);
}

}  // namespace imap
