#include <gtest/gtest.h>

#include "ui/SignInForm.h"

namespace ui {
namespace {

TEST(SignInForm, PresetsFillEndpointsAndKeepTheClient) {
  oauth::OAuthProvider stored;
  stored.clientId = "my-app";
  stored.clientSecret = "not-secret";
  // No provider chosen yet: Microsoft, by the device flow.
  SignInForm f = readSignInForm(oauth::kProviderNone, false, true, stored);
  EXPECT_EQ(f.providerKind, oauth::kProviderMicrosoft);
  EXPECT_TRUE(f.deviceFlow);
  EXPECT_TRUE(f.sendAuth);
  EXPECT_NE(f.provider.scopes.find("https://outlook.office.com/POP.AccessAsUser.All"), std::string::npos);
  EXPECT_NE(f.provider.scopes.find("offline_access"), std::string::npos);
  // Google: the browser (no device flow for mail), its one scope.
  applyPreset(f, oauth::kProviderGoogle);
  EXPECT_FALSE(f.deviceFlow);
  EXPECT_EQ(f.provider.scopes, "https://mail.google.com/");
  EXPECT_EQ(f.provider.deviceEndpoint, "");
  EXPECT_EQ(f.provider.clientId, "my-app");
  EXPECT_EQ(f.provider.clientSecret, "not-secret");
  // Other keeps what is there for the user to edit.
  f.provider.tokenEndpoint = "https://id.example/token";
  applyPreset(f, oauth::kProviderOther);
  EXPECT_EQ(f.provider.tokenEndpoint, "https://id.example/token");
}

TEST(SignInForm, ProblemsNameTheMissingField) {
  SignInForm ok;
  ok.provider.clientId = "app";
  ok.provider.tokenEndpoint = "https://id.example/token";
  ok.provider.deviceEndpoint = "https://id.example/device";
  ok.provider.authorizationEndpoint = "http://127.0.0.1:8080/auth";
  ok.provider.scopes = "mail";
  EXPECT_EQ(signInProblem(ok), "");
  struct Row {
    void (*change)(SignInForm&);
    const char* words;
  } rows[] = {
      {[](SignInForm& f) { f.provider.clientId.clear(); }, "クライアントID"},
      {[](SignInForm& f) { f.provider.tokenEndpoint = "http://id.example/token"; }, "トークン"},
      {[](SignInForm& f) { f.provider.deviceEndpoint.clear(); }, "デバイス"},
      {[](SignInForm& f) {
         f.deviceFlow = false;
         f.provider.authorizationEndpoint = "ftp://x";
       },
       "認可"},
      {[](SignInForm& f) { f.provider.scopes.clear(); }, "スコープ"},
  };
  for (const Row& r : rows) {
    SignInForm f = ok;
    r.change(f);
    EXPECT_NE(signInProblem(f).find(r.words), std::string::npos) << r.words;
  }
}

}  // namespace
}  // namespace ui
