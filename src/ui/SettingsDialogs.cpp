#include "ui/SettingsDialogs.h"

#include <commctrl.h>
#include <commdlg.h>

#include "config/StringTable.h"
#include "platform/AppMessages.h"
#include "platform/File.h"
#include "platform/Hooks.h"
#include "platform/Text.h"
#include "ui/FolderBrowser.h"
#include "ui/LogonStart.h"
#include "ui/SignInDialogs.h"
#include "ui/controls/DialogItem.h"
#include "ui/resource.h"

namespace ui {
namespace {

// The radio buttons of each security mode, in the modes' order.
constexpr int kPop3Modes[] = {IDC_POP3_PLAIN, IDC_POP3_STLS, IDC_POP3_TLS};
constexpr int kSmtpModes[] = {IDC_SMTP_PLAIN, IDC_SMTP_STARTTLS, IDC_SMTP_TLS};
constexpr int kProtocols[] = {IDC_RECEIVE_POP3, IDC_RECEIVE_IMAP};

template <size_t N>
int32_t checkedMode(HWND dialog, const int (&buttons)[N]) {
  for (int32_t mode = 0; mode < static_cast<int32_t>(N); ++mode)
    if (DialogItem(dialog, buttons[mode]).checked()) return mode;
  return 0;
}

// The product version from the program's own version information, the
// one place the build puts it; empty when it cannot be read.
std::wstring programVersion() {
  wchar_t path[MAX_PATH];
  if (!GetModuleFileNameW(nullptr, path, MAX_PATH)) return {};
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (!size) return {};
  std::string block(size, '\0');
  if (!GetFileVersionInfoW(path, 0, size, block.data())) return {};
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\StringFileInfo\\041104B0\\ProductVersion", &value, &length) || !length)
    return {};
  return std::wstring(static_cast<const wchar_t*>(value));
}

INT_PTR finish(HWND dialog, INT_PTR result) {
  EndDialog(dialog, result);
  return TRUE;
}

void setUpDown(HWND dialog, int id, int low, int high, int position) {
  HWND upDown = GetDlgItem(dialog, id);
  SendMessageW(upDown, UDM_SETRANGE32, low, high);
  SendMessageW(upDown, UDM_SETPOS32, 0, position);
}

}  // namespace

JapaneseDialogFont::~JapaneseDialogFont() {
  if (font_) DeleteObject(font_);
}

void JapaneseDialogFont::apply(HWND dialog) {
  LOGFONTW font{};
  HFONT current = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
  if (!current || !GetObjectW(current, sizeof font, &font)) return;
  font.lfCharSet = SHIFTJIS_CHARSET;
  if (font_) DeleteObject(font_);
  font_ = CreateFontIndirectW(&font);
  if (!font_) return;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
}

// ---- settings dialog ----

INT_PTR SettingsDialog::open(HINSTANCE instance, HWND owner) { return runModal(instance, IDD_SETTINGS, owner); }

LRESULT SettingsDialog::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      onInitDialog();
      return FALSE;  // the focus was given to the dialog
    case WM_COMMAND:
      onCommand(LOWORD(wParam));
      return TRUE;
    default:
      return WindowObject::handleMessage(window, message, wParam, lParam);
  }
}

void SettingsDialog::onInitDialog() {
  font_.apply(window_);
  SettingsForm f = readSettingsForm(settings_);
  struct Text { int id; const std::string& value; size_t limit; } texts[] = {
      {IDC_POP3_SERVER, f.pop3Server, kTextFieldLimit}, {IDC_POP3_PORT, f.pop3Port, 5},
      {IDC_SMTP_SERVER, f.smtpServer, kTextFieldLimit}, {IDC_SMTP_PORT, f.smtpPort, 5},
      {IDC_ACCOUNT_NAME, f.accountName, kTextFieldLimit}, {IDC_PASSWORD, f.password, kTextFieldLimit},
      {IDC_MAIL_LOG_FOLDER, f.mailLogFolder, kPathFieldLimit}, {IDC_SOUND_FILE, f.soundFile, kPathFieldLimit},
      {IDC_SUBJECT_KEYWORD, f.subjectKeyword, kTextFieldLimit}, {IDC_REQUIRED_SENDER, f.requiredSender, kTextFieldLimit},
      {IDC_REQUIRED_RECIPIENT, f.requiredRecipient, kTextFieldLimit}, {IDC_REQUIRED_MAILER, f.requiredMailer, kTextFieldLimit},
      {IDC_REQUIRED_SENDER_ADDRESS, f.requiredSenderAddress, kTextFieldLimit}, {IDC_CAMERA_NAME, f.cameraName, kCameraNameLimit},
      {IDC_PANEL_PASSWORD, f.panelPassword, kPanelPasswordLimit}, {IDC_TRUST_FILE, f.tlsTrustFile, kPathFieldLimit},
      {IDC_IMAP_FOLDER, f.imapFolder, kImapFolderLimit},
  };
  for (const Text& t : texts) {
    DialogItem item(window_, t.id);
    item.limitText(t.limit);
    item.setText(t.value);
  }
  struct Check { int id; bool on; } checks[] = {
      {IDC_SMTP_AUTH, f.smtpAuthRequired}, {IDC_CHECK_AT_STARTUP, f.checkAtStartup}, {IDC_PLAY_SOUND, f.playSound},
      {IDC_SPAM_FILTER, f.spamFilterEnabled}, {IDC_COMMAND_MAILS_ONLY, f.commandMailsOnly},
      {IDC_PANEL_PASSWORD_REQUIRED, f.panelPasswordRequired}, {IDC_KEEP_ON_SERVER, f.keepOnServer},
      {kPop3Modes[f.pop3Security], true}, {kSmtpModes[f.smtpSecurity], true},
      {kProtocols[f.receiveProtocol], true},
      {IDC_VERIFY_CERTIFICATE, f.verifyCertificate},
  };
  for (const Check& c : checks) DialogItem(window_, c.id).setChecked(c.on);
  DialogItem(window_, IDC_LOGON_START).setChecked(logonStartEnabled());
  pop3Security_ = f.pop3Security;
  receiveProtocol_ = f.receiveProtocol;
  smtpSecurity_ = f.smtpSecurity;
  guards_ = f.guards;
  receiveAuth_ = f.receiveAuth;
  sendAuth_ = f.sendAuth;
  oauthProvider_ = f.oauthProvider;
  setUpDown(window_, IDC_MINUTES_UPDOWN, 0, kMaxIntervalMinutes, settings_.intervalMinutes);
  setUpDown(window_, IDC_SECONDS_UPDOWN, 0, kMaxIntervalSeconds, settings_.intervalSeconds);
  setUpDown(window_, IDC_KEEP_COUNT_UPDOWN, 0, kMaxKeepCount, settings_.mailLogKeepCount);
  // The up-downs write only values within their ranges; the record's own
  // value is shown as it is.
  DialogItem(window_, IDC_MINUTES).setText(f.intervalMinutes);
  DialogItem(window_, IDC_SECONDS).setText(f.intervalSeconds);
  DialogItem(window_, IDC_KEEP_COUNT).setText(f.mailLogKeepCount);
  updateEnabling();
  SetFocus(window_);
}

void SettingsDialog::updateEnabling() {
  bool sound = DialogItem(window_, IDC_PLAY_SOUND).checked();
  DialogItem(window_, IDC_SOUND_FILE).enable(sound);
  DialogItem(window_, IDC_BROWSE_SOUND).enable(sound);
  DialogItem(window_, IDC_SPAM_BUTTON).enable(DialogItem(window_, IDC_SPAM_FILTER).checked());
  DialogItem(window_, IDC_PANEL_PASSWORD).enable(DialogItem(window_, IDC_PANEL_PASSWORD_REQUIRED).checked());
  bool tls = checkedMode(window_, kPop3Modes) != config::kPopPlain || checkedMode(window_, kSmtpModes) != config::kSmtpPlain;
  for (int id : {IDC_VERIFY_CERTIFICATE, IDC_TRUST_FILE, IDC_BROWSE_TRUST_FILE}) DialogItem(window_, id).enable(tls);
  DialogItem(window_, IDC_IMAP_FOLDER).enable(checkedMode(window_, kProtocols) == config::kReceiveImap);
}

// A port the user typed stays; the usual port of the old mode becomes the
// usual port of the new one.
void SettingsDialog::onSecurityChanged() {
  // The receive port follows the protocol and its security mode.
  int32_t protocol = checkedMode(window_, kProtocols);
  int32_t receiveMode = checkedMode(window_, kPop3Modes);
  if (protocol != receiveProtocol_ || receiveMode != pop3Security_) {
    DialogItem port(window_, IDC_POP3_PORT);
    std::string text = port.text();
    std::string suggested = suggestedReceivePortText(text, receiveProtocol_, pop3Security_, protocol, receiveMode);
    if (suggested != text) port.setText(suggested);
    receiveProtocol_ = protocol;
    pop3Security_ = receiveMode;
  }
  struct Field { int port; const int (&buttons)[3]; int32_t& mode; bool pop3; } fields[] = {
      {IDC_SMTP_PORT, kSmtpModes, smtpSecurity_, false},
  };
  for (Field& f : fields) {
    int32_t mode = checkedMode(window_, f.buttons);
    if (mode == f.mode) continue;
    DialogItem port(window_, f.port);
    std::string text = port.text();
    std::string suggested = suggestedPortText(text, f.pop3, f.mode, mode);
    if (suggested != text) port.setText(suggested);
    f.mode = mode;
  }
  updateEnabling();
}

void SettingsDialog::onCommand(int id) {
  switch (id) {
    case IDC_SPAM_FILTER:
    case IDC_PLAY_SOUND:
    case IDC_PANEL_PASSWORD_REQUIRED: updateEnabling(); break;
    case IDC_POP3_PLAIN: case IDC_POP3_STLS: case IDC_POP3_TLS:
    case IDC_SMTP_PLAIN: case IDC_SMTP_STARTTLS: case IDC_SMTP_TLS:
    case IDC_RECEIVE_POP3: case IDC_RECEIVE_IMAP: onSecurityChanged(); break;
    case IDC_BROWSE_TRUST_FILE: browseTrustFile(); break;
    case IDC_GUARDS_BUTTON: {
      GuardDialog dialog(guards_);
      dialog.open(reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE)), window_);
      break;
    }
    case IDC_SIGNIN_BUTTON: openSignIn(); break;
    case IDC_BROWSE_SOUND: browseSoundFile(); break;
    case IDC_BROWSE_FOLDER: browseMailLogFolder(); break;
    case IDC_COMMAND_KEYS_BUTTON: PostMessageW(mainWindow_, WM_COMMAND, IDM_COMMAND_KEYS, 0); break;
    case IDC_SPAM_BUTTON: PostMessageW(mainWindow_, WM_COMMAND, IDM_SPAM_RULES, 0); break;
    case IDCANCEL: EndDialog(window_, IDCANCEL); break;
    case IDOK:
      if (!applySettingsForm(readControls(), settings_, host_)) break;
      // The registry holds this choice; the record is already stored.
      if (!setLogonStart(DialogItem(window_, IDC_LOGON_START).checked(), startupDirectory_)) {
        platform::messageBox("ログオン時の起動を設定できません。", "Quorvel",
                             platform::kMbOk | platform::kMbIconExclamation | platform::kMbJapanese);
        break;
      }
      EndDialog(window_, IDOK);
      break;
    default: break;
  }
}

// The sign-in uses the certificate settings as the dialog shows them now.
void SettingsDialog::openSignIn() {
  SettingsForm now = readControls();
  oauth::HttpSecurity security;
  security.verify = now.verifyCertificate;
  security.trustFile = now.tlsTrustFile;
  oauth::OAuthProvider stored;
  oauth::loadProvider((startupDirectory_ + "\\" + oauth::kProviderFileName).c_str(), &stored);
  SignInForm form = readSignInForm(oauthProvider_, receiveAuth_ == config::kAuthOAuth,
                                   sendAuth_ == config::kAuthOAuth, stored);
  SignInDialog dialog(form, security, startupDirectory_);
  if (dialog.open(reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE)), window_) != IDOK) return;
  receiveAuth_ = form.receiveAuth ? config::kAuthOAuth : config::kAuthPassword;
  sendAuth_ = form.sendAuth ? config::kAuthOAuth : config::kAuthPassword;
  oauthProvider_ = form.providerKind;
}

void SettingsDialog::browseSoundFile() {
  wchar_t path[MAX_PATH] = {};
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = window_;
  ofn.lpstrFilter = L"wav file {*.wav}\0*.wav\0";
  ofn.lpstrFile = path;
  ofn.nMaxFile = MAX_PATH;
  std::wstring title = platform::toWide("メール受信時に鳴らす音声ファイルを指定してください。");
  ofn.lpstrTitle = title.c_str();
  ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
  if (GetOpenFileNameW(&ofn)) {
    // The chosen file is kept at once, also when the dialog is cancelled.
    std::string chosen = cutText(platform::fromWide(path), kPathFieldLimit);
    platform::copyField(settings_.soundFile, sizeof settings_.soundFile, chosen.c_str());
    DialogItem(window_, IDC_SOUND_FILE).setText(chosen);
  }
  platform::setCurrentDirectory(startupDirectory_.c_str());
}

void SettingsDialog::browseTrustFile() {
  wchar_t path[MAX_PATH] = {};
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = window_;
  ofn.lpstrFilter = L"PEM (*.pem;*.crt;*.cer)\0*.pem;*.crt;*.cer\0* (*.*)\0*.*\0";
  ofn.lpstrFile = path;
  ofn.nMaxFile = MAX_PATH;
  std::wstring title = platform::toWide("信頼する証明書ファイル(PEM)を指定してください。");
  ofn.lpstrTitle = title.c_str();
  ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
  // Unlike the sound file, the choice is kept only with OK.
  if (GetOpenFileNameW(&ofn)) DialogItem(window_, IDC_TRUST_FILE).setText(cutText(platform::fromWide(path), kPathFieldLimit));
  platform::setCurrentDirectory(startupDirectory_.c_str());
}

void SettingsDialog::browseMailLogFolder() {
  if (auto folder = chooseFolder(window_, "メールログ保存先フォルダのパスを指定してください。"))
    DialogItem(window_, IDC_MAIL_LOG_FOLDER).setText(*folder);
}

SettingsForm SettingsDialog::readControls() const {
  auto text = [this](int id) { return DialogItem(window_, id).text(); };
  auto checked = [this](int id) { return DialogItem(window_, id).checked(); };
  SettingsForm f;
  f.pop3Server = text(IDC_POP3_SERVER);
  f.pop3Port = text(IDC_POP3_PORT);
  f.smtpServer = text(IDC_SMTP_SERVER);
  f.smtpPort = text(IDC_SMTP_PORT);
  f.smtpAuthRequired = checked(IDC_SMTP_AUTH);
  f.accountName = text(IDC_ACCOUNT_NAME);
  f.password = text(IDC_PASSWORD);
  f.mailLogFolder = text(IDC_MAIL_LOG_FOLDER);
  f.intervalMinutes = text(IDC_MINUTES);
  f.intervalSeconds = text(IDC_SECONDS);
  f.mailLogKeepCount = text(IDC_KEEP_COUNT);
  f.checkAtStartup = checked(IDC_CHECK_AT_STARTUP);
  f.playSound = checked(IDC_PLAY_SOUND);
  f.soundFile = text(IDC_SOUND_FILE);
  f.spamFilterEnabled = checked(IDC_SPAM_FILTER);
  f.subjectKeyword = text(IDC_SUBJECT_KEYWORD);
  f.requiredSender = text(IDC_REQUIRED_SENDER);
  f.requiredRecipient = text(IDC_REQUIRED_RECIPIENT);
  f.requiredMailer = text(IDC_REQUIRED_MAILER);
  f.requiredSenderAddress = text(IDC_REQUIRED_SENDER_ADDRESS);
  f.commandMailsOnly = checked(IDC_COMMAND_MAILS_ONLY);
  f.cameraName = text(IDC_CAMERA_NAME);
  f.panelPasswordRequired = checked(IDC_PANEL_PASSWORD_REQUIRED);
  f.panelPassword = text(IDC_PANEL_PASSWORD);
  f.keepOnServer = checked(IDC_KEEP_ON_SERVER);
  f.pop3Security = checkedMode(window_, kPop3Modes);
  f.smtpSecurity = checkedMode(window_, kSmtpModes);
  f.verifyCertificate = checked(IDC_VERIFY_CERTIFICATE);
  f.tlsTrustFile = text(IDC_TRUST_FILE);
  f.receiveProtocol = checkedMode(window_, kProtocols);
  f.imapFolder = text(IDC_IMAP_FOLDER);
  f.guards = guards_;
  f.receiveAuth = receiveAuth_;
  f.sendAuth = sendAuth_;
  f.oauthProvider = oauthProvider_;
  return f;
}

// ---- command-mail guards ----

INT_PTR GuardDialog::open(HINSTANCE instance, HWND owner) { return runModal(instance, IDD_COMMAND_GUARDS, owner); }

void GuardDialog::updateEnabling() {
  DialogItem(window_, IDC_MAX_MAIL_AGE).enable(DialogItem(window_, IDC_REPLAY_GUARD).checked());
  DialogItem(window_, IDC_MAX_REPLIES).enable(DialogItem(window_, IDC_LOOP_GUARD).checked());
}

LRESULT GuardDialog::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    font_.apply(window);
    struct Text { int id; const std::string& value; size_t limit; } texts[] = {
        {IDC_ALLOWED_SENDERS, guards_.allowedSenders, kAllowedSendersLimit},
        {IDC_COMMAND_SECRET, guards_.commandSecret, kTextFieldLimit},
        {IDC_AUTH_SERVER_HOST, guards_.authServerHost, kTextFieldLimit},
        {IDC_MAX_MAIL_AGE, guards_.maxMailAgeMinutes, 5}, {IDC_MAX_REPLIES, guards_.maxRepliesPerHour, 4},
    };
    for (const Text& t : texts) {
      DialogItem item(window, t.id);
      item.limitText(t.limit);
      item.setText(t.value);
    }
    DialogItem(window, IDC_REPLAY_GUARD).setChecked(guards_.replayGuard);
    DialogItem(window, IDC_LOOP_GUARD).setChecked(guards_.loopGuard);
    updateEnabling();
    return TRUE;  // the focus goes to the sender list
  }
  if (message != WM_COMMAND) return WindowObject::handleMessage(window, message, wParam, lParam);
  switch (LOWORD(wParam)) {
    case IDC_REPLAY_GUARD:
    case IDC_LOOP_GUARD: updateEnabling(); return TRUE;
    case IDOK: {
      GuardForm g;
      g.allowedSenders = DialogItem(window, IDC_ALLOWED_SENDERS).text();
      g.commandSecret = cutText(DialogItem(window, IDC_COMMAND_SECRET).text(), kTextFieldLimit);
      g.authServerHost = cutText(DialogItem(window, IDC_AUTH_SERVER_HOST).text(), kTextFieldLimit);
      g.replayGuard = DialogItem(window, IDC_REPLAY_GUARD).checked();
      g.maxMailAgeMinutes = DialogItem(window, IDC_MAX_MAIL_AGE).text();
      g.loopGuard = DialogItem(window, IDC_LOOP_GUARD).checked();
      g.maxRepliesPerHour = DialogItem(window, IDC_MAX_REPLIES).text();
      if (!checkGuardForm(g)) return TRUE;
      guards_ = g;
      return finish(window, IDOK);
    }
    case IDCANCEL: return finish(window, IDCANCEL);
    default: return TRUE;
  }
}

// ---- command-key dialog ----

INT_PTR CommandKeyDialog::open(HINSTANCE instance, HWND owner) { return runModal(instance, IDD_COMMAND_KEYS, owner); }

LRESULT CommandKeyDialog::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    font_.apply(window);
    for (int i = 0; i < config::kCommandKeyCount; ++i) {
      DialogItem item(window, IDC_FIRST_KEY_EDIT + i);
      item.limitText(kTextFieldLimit);
      item.setText(platform::fieldText(settings_.commandKeyNames[i]));
    }
    SetFocus(window);
    return FALSE;
  }
  if (message != WM_COMMAND) return WindowObject::handleMessage(window, message, wParam, lParam);
  switch (LOWORD(wParam)) {
    case IDC_RESET_KEYS:
      // The defaults are shown; the record changes only with OK.
      for (int i = 0; i < config::kCommandKeyCount; ++i) {
        char text[80] = {};
        config::loadString(static_cast<unsigned>(i + 1), text, sizeof text);
        DialogItem(window, IDC_FIRST_KEY_EDIT + i).setText(text);
      }
      DialogItem(window, IDC_SHUTDOWN_KEY_EDIT).setText("");
      return TRUE;
    case IDOK:
      for (int i = 0; i < config::kCommandKeyCount; ++i) {
        std::string name = cutText(DialogItem(window, IDC_FIRST_KEY_EDIT + i).text(), kTextFieldLimit);
        platform::copyField(settings_.commandKeyNames[i], sizeof settings_.commandKeyNames[i], name.c_str());
      }
      return finish(window, IDOK);
    case IDCANCEL: return finish(window, IDCANCEL);
    default: return TRUE;
  }
}

// ---- spam dialog ----

INT_PTR SpamDialog::open(HINSTANCE instance, HWND owner) { return runModal(instance, IDD_SPAM, owner); }

LRESULT SpamDialog::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    font_.apply(window);
    for (int i = 0; i < config::kSpamRuleCount; ++i)
      DialogItem(window, IDC_FIRST_SPAM_BOX + i).setChecked(settings_.spamRules[i] != 0);
    DialogItem(window, IDC_RECYCLE_BIN_BOX).setChecked(settings_.spamToRecycleBin != 0);
    SetFocus(window);
    return FALSE;
  }
  if (message != WM_COMMAND) return WindowObject::handleMessage(window, message, wParam, lParam);
  switch (LOWORD(wParam)) {
    case IDOK:
      for (int i = 0; i < config::kSpamRuleCount; ++i)
        settings_.spamRules[i] = DialogItem(window, IDC_FIRST_SPAM_BOX + i).checked() ? 1 : 0;
      settings_.spamToRecycleBin = DialogItem(window, IDC_RECYCLE_BIN_BOX).checked() ? 1 : 0;
      return finish(window, IDOK);
    case IDCANCEL: return finish(window, IDCANCEL);
    default: return TRUE;
  }
}

// ---- password prompt ----

INT_PTR PasswordDialog::open(HINSTANCE instance, HWND owner) { return runModal(instance, IDD_PASSWORD, owner); }

LRESULT PasswordDialog::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    font_.apply(window);
    DialogItem(window, IDC_PROMPT_EDIT).limitText(kPanelPasswordLimit);
    return TRUE;  // the focus goes to the edit
  }
  if (message != WM_COMMAND) return WindowObject::handleMessage(window, message, wParam, lParam);
  switch (LOWORD(wParam)) {
    case IDOK: {
      std::string entered = cutText(DialogItem(window, IDC_PROMPT_EDIT).text(), kPanelPasswordLimit);
      if (config::panelPasswordMatches(settings_, entered.c_str())) {
        PostMessageW(mainWindow_, WM_COMMAND, IDM_OPEN_SETTINGS, 0);
        return finish(window, IDOK);
      }
      platform::messageBox("パスワードが一致しません。パスワードは大文字・小文字を区別します。", "QUORVEL_TORVANE",
                           platform::kMbOk);
      return TRUE;
    }
    case IDCANCEL: return finish(window, IDCANCEL);
    default: return TRUE;
  }
}

// ---- about box ----

INT_PTR AboutDialog::open(HINSTANCE instance, HWND owner) { return runModal(instance, IDD_ABOUT, owner); }

LRESULT AboutDialog::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    font_.apply(window);
    std::wstring version = programVersion();
    if (!version.empty())
      SetDlgItemTextW(window, IDC_ABOUT_VERSION, (L"Quorvel  " + platform::toWide("バージョン ") + version).c_str());
    SetFocus(GetDlgItem(window, IDOK));
    return FALSE;
  }
  if (message != WM_COMMAND) return WindowObject::handleMessage(window, message, wParam, lParam);
  switch (LOWORD(wParam)) {
    case IDC_HOME_PAGE_BUTTON:
    case IDC_MIRROR_BUTTON: {
      int button = LOWORD(wParam);
      PostMessageW(mainWindow_, appmsg::kOpenHomePage, button == IDC_HOME_PAGE_BUTTON ? 0 : 1, 0);
      return finish(window, button);
    }
    case IDOK:
    case IDCANCEL: return finish(window, LOWORD(wParam));
    default: return TRUE;
  }
}

}  // namespace ui
