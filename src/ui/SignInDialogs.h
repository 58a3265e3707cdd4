// The sign-in dialog (2013), opened from the settings dialog, and the wait
// for the user (2014): the device flow's code with a copy button, or the
// browser with the loopback listener. The flow runs on its own thread;
// Cancel closes the wait at once and drops whatever the flow still brings.
#pragma once
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "oauth/OAuthClient.h"
#include "ui/SettingsDialogs.h"
#include "ui/SignInForm.h"
#include "ui/WindowObject.h"

namespace ui {

class SignInDialog : public WindowObject {
 public:
  // `form` changes only on OK; the tokens and quorvel-oauth.ini are written
  // in `folder` when a sign-in succeeds.
  SignInDialog(SignInForm& form, const oauth::HttpSecurity& security, const std::string& folder)
      : form_(form), security_(security), folder_(folder) {}
  INT_PTR open(HINSTANCE instance, HWND owner);
  LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void showForm(const SignInForm& f);
  SignInForm readControls() const;
  void signIn();

  SignInForm& form_;
  oauth::HttpSecurity security_;
  std::string folder_;
  JapaneseDialogFont font_;
};

// What the flow's thread and the wait dialog share.
struct SignInRun;

class SignInWaitDialog : public WindowObject {
 public:
  SignInWaitDialog(const SignInForm& form, const oauth::HttpSecurity& security, const std::string& folder);
  // IDOK signed in (tokens saved), IDCANCEL cancelled, IDABORT failed (message()).
  INT_PTR open(HINSTANCE instance, HWND owner);
  LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
  const std::string& message() const { return message_; }

 private:
  void start();
  void copyCode();

  std::shared_ptr<SignInRun> run_;
  std::string uri_;
  std::string message_;
  JapaneseDialogFont font_;
};

}  // namespace ui
