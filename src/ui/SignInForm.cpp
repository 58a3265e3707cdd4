#include "ui/SignInForm.h"

#include "platform/Http.h"

namespace ui {

SignInForm readSignInForm(int32_t providerKind, bool receiveAuth, bool sendAuth, const oauth::OAuthProvider& stored) {
  SignInForm f;
  f.receiveAuth = receiveAuth;
  f.sendAuth = sendAuth;
  f.provider = stored;
  if (providerKind == oauth::kProviderNone) {
    applyPreset(f, oauth::kProviderMicrosoft);
  } else {
    f.providerKind = providerKind;
    f.deviceFlow = !f.provider.deviceEndpoint.empty();
  }
  return f;
}

void applyPreset(SignInForm& f, int32_t kind) {
  f.providerKind = kind;
  if (kind != oauth::kProviderMicrosoft && kind != oauth::kProviderGoogle) return;
  oauth::OAuthProvider preset = oauth::providerPreset(kind);
  preset.clientId = f.provider.clientId;
  preset.clientSecret = f.provider.clientSecret;
  preset.userName = f.provider.userName;
  preset.mechanism = f.provider.mechanism;
  f.provider = preset;
  f.deviceFlow = !preset.deviceEndpoint.empty();
}

std::string signInProblem(const SignInForm& f) {
  const oauth::OAuthProvider& p = f.provider;
  if (p.clientId.empty()) return "クライアントIDを指定してください。";
  if (!net::httpUrlAllowed(p.tokenEndpoint)) return "トークンエンドポイントは https:// で指定してください。";
  if (f.deviceFlow && !net::httpUrlAllowed(p.deviceEndpoint))
    return "デバイス認可エンドポイントを https:// で指定してください。";
  if (!f.deviceFlow && !net::httpUrlAllowed(p.authorizationEndpoint))
    return "認可エンドポイントを https:// で指定してください。";
  if (p.scopes.empty()) return "スコープを指定してください。";
  return std::string();
}

}  // namespace ui
