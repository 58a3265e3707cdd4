// What the sign-in dialog edits, as plain values: the identity provider
// (quorvel-oauth.ini), whether receiving and sending sign in with it, and
// the flow to sign in with. Portable.
#pragma once
#include <cstdint>
#include <string>

#include "oauth/OAuthProvider.h"

namespace ui {

struct SignInForm {
  int32_t providerKind = oauth::kProviderMicrosoft;
  oauth::OAuthProvider provider;
  bool receiveAuth = false, sendAuth = false;
  bool deviceFlow = true;  // else the browser with the loopback listener
};

// The form for a record's choices and the stored provider; a provider not
// yet chosen starts as the Microsoft preset.
SignInForm readSignInForm(int32_t providerKind, bool receiveAuth, bool sendAuth, const oauth::OAuthProvider& stored);

// Switches to a provider: Microsoft and Google put their endpoints and
// scopes in place (Google has no device flow for mail: the browser);
// "other" keeps what was typed. The client id and secret stay.
void applyPreset(SignInForm& form, int32_t kind);

// Why the form cannot sign in (Shift_JIS), or empty when it can.
std::string signInProblem(const SignInForm& form);

}  // namespace ui
