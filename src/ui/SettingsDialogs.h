// The modal dialogs over the settings record: settings (2003) with its
// command-mail guards (2012), command keys (2007), spam rules (2008), the
// password prompt (2009) and the about box (2010). Each reads what it
// edits when it opens and writes it back only on OK.
#pragma once
#include <windows.h>

#include <string>

#include "config/AppSettings.h"
#include "ui/SettingsForm.h"
#include "ui/WindowObject.h"

namespace ui {

// The template's font again with the Shift_JIS character set, given to
// every control of a dialog: without it a system whose display language
// is not Japanese draws the texts with a font that has no Japanese.
class JapaneseDialogFont {
 public:
  JapaneseDialogFont() = default;
  JapaneseDialogFont(const JapaneseDialogFont&) = delete;
  JapaneseDialogFont& operator=(const JapaneseDialogFont&) = delete;
  ~JapaneseDialogFont();
  void apply(HWND dialog);

 private:
  HFONT font_ = nullptr;
};

class SettingsDialog : public WindowObject {
 public:
  SettingsDialog(config::AppSettings& settings, SettingsFormHost& host, HWND mainWindow,
                 const std::string& startupDirectory)
      : settings_(settings), host_(host), mainWindow_(mainWindow), startupDirectory_(startupDirectory) {}
  // 1 after OK, 2 after cancel.
  INT_PTR open(HINSTANCE instance, HWND owner);
  LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void onInitDialog();
  void onCommand(int id);
  void updateEnabling();
  void browseSoundFile();
  void browseMailLogFolder();
  void browseTrustFile();
  void onSecurityChanged();
  void openSignIn();
  SettingsForm readControls() const;

  config::AppSettings& settings_;
  SettingsFormHost& host_;
  JapaneseDialogFont font_;
  HWND mainWindow_;
  std::string startupDirectory_;
  // The modes the port fields were last suggested for.
  int32_t pop3Security_ = config::kPopPlain, smtpSecurity_ = config::kSmtpPlain;
  int32_t receiveProtocol_ = config::kReceivePop3;
  // What the guard dialog edits; stored with this dialog's OK.
  GuardForm guards_;
  // What the sign-in dialog chose; stored with this dialog's OK.
  int32_t receiveAuth_ = config::kAuthPassword, sendAuth_ = config::kAuthPassword, oauthProvider_ = 0;
};

// Edits a copy of the guards: `guards` changes only on OK.
class GuardDialog : public WindowObject {
 public:
  explicit GuardDialog(GuardForm& guards) : guards_(guards) {}
  INT_PTR open(HINSTANCE instance, HWND owner);
  LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void updateEnabling();
  GuardForm& guards_;
  JapaneseDialogFont font_;
};

class CommandKeyDialog : public WindowObject {
 public:
  explicit CommandKeyDialog(config::AppSettings& settings) : settings_(settings) {}
  INT_PTR open(HINSTANCE instance, HWND owner);
  LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  config::AppSettings& settings_;
  JapaneseDialogFont font_;
};

class SpamDialog : public WindowObject {
 public:
  explicit SpamDialog(config::AppSettings& settings) : settings_(settings) {}
  INT_PTR open(HINSTANCE instance, HWND owner);
  LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  config::AppSettings& settings_;
  JapaneseDialogFont font_;
};

class PasswordDialog : public WindowObject {
 public:
  PasswordDialog(const config::AppSettings& settings, HWND mainWindow)
      : settings_(settings), mainWindow_(mainWindow) {}
  INT_PTR open(HINSTANCE instance, HWND owner);
  LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  const config::AppSettings& settings_;
  JapaneseDialogFont font_;
  HWND mainWindow_;
};

class AboutDialog : public WindowObject {
 public:
  explicit AboutDialog(HWND mainWindow) : mainWindow_(mainWindow) {}
  INT_PTR open(HINSTANCE instance, HWND owner);
  LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  HWND mainWindow_;
  JapaneseDialogFont font_;
};

}  // namespace ui
