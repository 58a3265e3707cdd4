#include "oauth/Sasl.h"

#include <cctype>

#include "oauth/Json.h"
#include "platform/Base64.h"

namespace oauth {
namespace {

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// RFC 5801 saslname: "," and "=" escaped.
std::string saslName(const std::string& user) {
  std::string out;
  for (char c : user) {
    if (c == ',')
      out += "=2C";
    else if (c == '=')
      out += "=3D";
    else
      out += c;
  }
  return out;
}

bool offered(const std::string& advertised, const char* name) {
  std::string words = upper(advertised);
  std::string wanted = name;
  size_t at = 0;
  while ((at = words.find(wanted, at)) != std::string::npos) {
    bool startOk = at == 0 || words[at - 1] == ' ' || words[at - 1] == '=' || words[at - 1] == '-' ||
                   words[at - 1] == '\n';
    size_t end = at + wanted.size();
    bool endOk = end == words.size() || words[end] == ' ' || words[end] == '\r' || words[end] == '\n';
    if (startOk && endOk) return true;
    at = end;
  }
  return false;
}

}  // namespace

const char* mechanismName(SaslMechanism mechanism) {
  return mechanism == SaslMechanism::kOauthBearer ? "OAUTHBEARER" : "XOAUTH2";
}

bool parseMechanism(const std::string& name, SaslMechanism* mechanism) {
  std::string u = upper(name);
  if (u == "XOAUTH2") *mechanism = SaslMechanism::kXoauth2;
  else if (u == "OAUTHBEARER") *mechanism = SaslMechanism::kOauthBearer;
  else return false;
  return true;
}

std::string saslInitialResponse(SaslMechanism mechanism, const std::string& user, const std::string& token,
                                const std::string& host, uint16_t port) {
  std::string message;
  if (mechanism == SaslMechanism::kXoauth2) {
    message = "user=" + user + "\x01" "auth=Bearer " + token + "\x01\x01";
  } else {
    message = "n,a=" + saslName(user) + ",\x01";
    if (!host.empty()) message += "host=" + host + "\x01";
    if (port) message += "port=" + std::to_string(port) + "\x01";
    message += "auth=Bearer " + token + "\x01\x01";
  }
  return platform::base64Encode(message);
}

std::string saslErrorResponse(SaslMechanism mechanism) {
  return mechanism == SaslMechanism::kOauthBearer ? platform::base64Encode("\x01") : std::string();
}

bool chooseMechanism(const std::string& advertised, SaslMechanism preferred, SaslMechanism* chosen) {
  SaslMechanism other =
      preferred == SaslMechanism::kXoauth2 ? SaslMechanism::kOauthBearer : SaslMechanism::kXoauth2;
  if (offered(advertised, mechanismName(preferred))) {
    *chosen = preferred;
    return true;
  }
  if (offered(advertised, mechanismName(other))) {
    *chosen = other;
    return true;
  }
  return false;
}

std::string challengeStatus(const std::string& challenge) {
  std::string text;
  JsonObject object;
  if (!platform::base64Decode(challenge, &text) || !parseJsonObject(text, &object)) return std::string();
  return object.text("status");
}

}  // namespace oauth
