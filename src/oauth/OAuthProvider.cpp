#include "oauth/OAuthProvider.h"

#include "platform/File.h"

namespace oauth {

const char kProviderFileName[] = "quorvel-oauth.ini";

namespace {

struct Field {
  const char* key;
  std::string OAuthProvider::*member;
};

const Field kFields[] = {
    {"authorization_endpoint", &OAuthProvider::authorizationEndpoint},
    {"device_authorization_endpoint", &OAuthProvider::deviceEndpoint},
    {"token_endpoint", &OAuthProvider::tokenEndpoint},
    {"client_id", &OAuthProvider::clientId},
    {"client_secret", &OAuthProvider::clientSecret},
    {"scope", &OAuthProvider::scopes},
    {"user", &OAuthProvider::userName},
    {"sasl_mechanism", &OAuthProvider::mechanism},
};

std::string oneLine(const std::string& value) {
  std::string out;
  for (char c : value)
    if (c != '\r' && c != '\n') out += c;
  return out;
}

}  // namespace

OAuthProvider providerPreset(int32_t kind) {
  OAuthProvider p;
  if (kind == kProviderMicrosoft) {
    p.authorizationEndpoint = "https://login.microsoftonline.com/common/oauth2/v2.0/authorize";
    p.deviceEndpoint = "https://login.microsoftonline.com/common/oauth2/v2.0/devicecode";
    p.tokenEndpoint = "https://login.microsoftonline.com/common/oauth2/v2.0/token";
    p.scopes =
        "https://outlook.office.com/IMAP.AccessAsUser.All https://outlook.office.com/POP.AccessAsUser.All "
        "https://outlook.office.com/SMTP.Send offline_access";
  } else if (kind == kProviderGoogle) {
    // Google refuses Gmail scopes in its device flow: loopback only.
    p.authorizationEndpoint = "https://accounts.google.com/o/oauth2/v2/auth";
    p.tokenEndpoint = "https://oauth2.googleapis.com/token";
    p.scopes = "https://mail.google.com/";
  }
  return p;
}

std::string formatProvider(const OAuthProvider& provider) {
  std::string text;
  for (const Field& f : kFields) text += std::string(f.key) + "=" + oneLine(provider.*f.member) + "\r\n";
  return text;
}

void parseProvider(const std::string& text, OAuthProvider* provider) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    for (const Field& f : kFields)
      if (key == f.key) provider->*f.member = line.substr(eq + 1);
  }
}

bool loadProvider(const char* path, OAuthProvider* provider) {
  std::string text;
  if (!platform::readWholeFile(path, &text)) return false;
  *provider = OAuthProvider();
  parseProvider(text, provider);
  return true;
}

bool saveProvider(const char* path, const OAuthProvider& provider) {
  return platform::writeWholeFile(path, formatProvider(provider));
}

}  // namespace oauth
