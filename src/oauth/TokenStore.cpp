#include "oauth/TokenStore.h"

#include <cstdlib>

#include "platform/Crypto.h"
#include "platform/File.h"

namespace oauth {

const char kTokenFileName[] = "quorvel-token.dat";

namespace {

const char kMagic[] = "QVTOKEN1";
const size_t kMagicSize = sizeof kMagic - 1;

std::string line(const std::string& value) {
  std::string out;
  for (char c : value)
    if (c != '\r' && c != '\n') out += c;
  return out;
}

OAuthResult signInNeeded() {
  return OAuthResult{OAuthError::kInvalidGrant, "サインインが必要です。設定からサインインしてください"};
}

}  // namespace

std::string formatTokenFile(const TokenFile& f) {
  return "expires=" + std::to_string(f.tokens.expiresAt) + "\nsignin=" + (f.signInNeeded ? "1" : "0") +
         "\naccess=" + line(f.tokens.accessToken) + "\nrefresh=" + line(f.tokens.refreshToken) + "\n";
}

bool parseTokenFile(const std::string& text, TokenFile* f) {
  *f = TokenFile();
  bool any = false;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string l = text.substr(at, end - at);
    at = end + 1;
    size_t eq = l.find('=');
    if (eq == std::string::npos) continue;
    std::string key = l.substr(0, eq), value = l.substr(eq + 1);
    if (key == "expires") f->tokens.expiresAt = std::strtoll(value.c_str(), nullptr, 10);
    else if (key == "signin") f->signInNeeded = value == "1";
    else if (key == "access") f->tokens.accessToken = value;
    else if (key == "refresh") f->tokens.refreshToken = value;
    else continue;
    any = true;
  }
  return any;
}

bool saveTokenFile(const char* path, const TokenFile& f) {
  std::string sealed;
  if (!platform::protectData(formatTokenFile(f), &sealed)) return false;
  return platform::writePrivateFile(path, kMagic + sealed);
}

bool loadTokenFile(const char* path, TokenFile* f) {
  std::string data, plain;
  if (!platform::readWholeFile(path, &data) || data.compare(0, kMagicSize, kMagic) != 0) return false;
  if (!platform::unprotectData(data.substr(kMagicSize), &plain)) return false;
  return parseTokenFile(plain, f);
}

bool readBearerFile(const char* path, std::string* token) {
  std::string text;
  if (!platform::readWholeFile(path, &text)) return false;
  size_t end = text.find_first_of("\r\n");
  text = text.substr(0, end);
  size_t first = text.find_first_not_of(" \t");
  size_t last = text.find_last_not_of(" \t");
  *token = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
  return !token->empty();
}

OAuthResult accessTokenForSession(OAuthClient& client, Clock& clock, const char* path, std::string* accessToken,
                                  bool* refreshed, bool force) {
  if (refreshed) *refreshed = false;
  TokenFile file;
  if (!loadTokenFile(path, &file) || file.signInNeeded) return signInNeeded();
  const int64_t now = clock.now();
  if (!force && !file.tokens.accessToken.empty() &&
      (file.tokens.expiresAt == 0 || file.tokens.expiresAt - now > kRefreshMarginSeconds)) {
    *accessToken = file.tokens.accessToken;
    return OAuthResult();
  }
  if (file.tokens.refreshToken.empty()) return signInNeeded();
  if (refreshed) *refreshed = true;
  Tokens fresh;
  OAuthResult r = client.refresh(file.tokens.refreshToken, &fresh);
  if (r.error == OAuthError::kInvalidGrant) {
    TokenFile refused;
    refused.signInNeeded = true;
    saveTokenFile(path, refused);
    return r;
  }
  if (!r.ok()) return r;
  TokenFile updated;
  updated.tokens = fresh;
  // A rotated refresh token replaces the old one on disk before anything
  // uses the new access token: the old one is spent.
  if (!saveTokenFile(path, updated))
    return OAuthResult{OAuthError::kServer, "新しいトークンを保存できません"};
  *accessToken = fresh.accessToken;
  return OAuthResult();
}

}  // namespace oauth
