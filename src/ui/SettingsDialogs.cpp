#include "ui/SettingsDialogs.h"

#include <commctrl.h>
#include <commdlg.h>

#include "config/StringTable.h"
#include "platform/AppMessages.h"
#include "platform/File.h"
#include "platform/Hooks.h"
#include "platform/Text.h"
#include "ui/FolderBrowser.h"
#include "ui/controls/DialogItem.h"
#include "ui/resource.h"

namespace ui {
namespace {

// Settings dialog (2003).
enum : int {
  kPop3Server = 1000, kAccountName = 1001, kPassword = 1002, kPop3Port = 1003, kMinutes = 1004,
  kMinutesUpDown = 1005, kKeepCount = 1006, kKeepCountUpDown = 1007, kSpamFilter = 1008, kPlaySound = 1009,
  kCheckAtStartup = 1010, kSeconds = 1011, kSecondsUpDown = 1012, kSoundFile = 1013, kSmtpServer = 1014,
  kBrowseSound = 1015, kSubjectKeyword = 1016, kRequiredSender = 1017, kRequiredRecipient = 1018,
  kRequiredMailer = 1019, kRequiredSenderAddress = 1020, kSmtpPort = 1021, kSmtpAuth = 1022,
  kPanelPassword = 1023, kMailLogFolder = 1024, kCameraName = 1050, kPanelPasswordRequired = 1051,
  kCommandKeysButton = 1052, kSpamButton = 1053, kKeepOnServer = 1078, kCommandMailsOnly = 1084,
  kBrowseFolder = 1085, kPop3Plain = 1086, kPop3Stls = 1087, kPop3Tls = 1088, kSmtpPlain = 1089,
  kSmtpStartTls = 1090, kSmtpTls = 1091, kVerifyCertificate = 1092, kTrustFile = 1093, kBrowseTrustFile = 1094,
  kGuardsButton = 1095,
};
// Command-mail guards (2012).
enum : int {
  kAllowedSenders = 1100, kCommandSecret = 1101, kAuthServerHost = 1102, kReplayGuard = 1103,
  kMaxMailAge = 1104, kLoopGuard = 1105, kMaxReplies = 1106,
};
// The radio buttons of each security mode, in the modes' order.
constexpr int kPop3Modes[] = {kPop3Plain, kPop3Stls, kPop3Tls};
constexpr int kSmtpModes[] = {kSmtpPlain, kSmtpStartTls, kSmtpTls};

int32_t checkedMode(HWND dialog, const int (&buttons)[3]) {
  for (int32_t mode = 0; mode < 3; ++mode)
    if (DialogItem(dialog, buttons[mode]).checked()) return mode;
  return 0;
}
// Command-key dialog (2007): edits 1023 + i; the shutdown key's edit; reset.
constexpr int kFirstKeyEdit = 1023;
constexpr int kShutdownKeyEdit = 1047;
constexpr int kResetKeys = 1049;
// Spam dialog (2008): check boxes 1054 + i, the recycle-bin box.
constexpr int kFirstSpamBox = 1054;
constexpr int kRecycleBinBox = 1083;
// Password prompt (2009).
constexpr int kPromptEdit = 1079;
// About box (2010).
constexpr int kHomePageButton = 1053;
constexpr int kMirrorButton = 1054;

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
      {kPop3Server, f.pop3Server, kTextFieldLimit}, {kPop3Port, f.pop3Port, 5},
      {kSmtpServer, f.smtpServer, kTextFieldLimit}, {kSmtpPort, f.smtpPort, 5},
      {kAccountName, f.accountName, kTextFieldLimit}, {kPassword, f.password, kTextFieldLimit},
      {kMailLogFolder, f.mailLogFolder, kPathFieldLimit}, {kSoundFile, f.soundFile, kPathFieldLimit},
      {kSubjectKeyword, f.subjectKeyword, kTextFieldLimit}, {kRequiredSender, f.requiredSender, kTextFieldLimit},
      {kRequiredRecipient, f.requiredRecipient, kTextFieldLimit}, {kRequiredMailer, f.requiredMailer, kTextFieldLimit},
      {kRequiredSenderAddress, f.requiredSenderAddress, kTextFieldLimit}, {kCameraName, f.cameraName, kCameraNameLimit},
      {kPanelPassword, f.panelPassword, kPanelPasswordLimit}, {kTrustFile, f.tlsTrustFile, kPathFieldLimit},
  };
  for (const Text& t : texts) {
    DialogItem item(window_, t.id);
    item.limitText(t.limit);
    item.setText(t.value);
  }
  struct Check { int id; bool on; } checks[] = {
      {kSmtpAuth, f.smtpAuthRequired}, {kCheckAtStartup, f.checkAtStartup}, {kPlaySound, f.playSound},
      {kSpamFilter, f.spamFilterEnabled}, {kCommandMailsOnly, f.commandMailsOnly},
      {kPanelPasswordRequired, f.panelPasswordRequired}, {kKeepOnServer, f.keepOnServer},
      {kPop3Modes[f.pop3Security], true}, {kSmtpModes[f.smtpSecurity], true},
      {kVerifyCertificate, f.verifyCertificate},
  };
  for (const Check& c : checks) DialogItem(window_, c.id).setChecked(c.on);
  pop3Security_ = f.pop3Security;
  smtpSecurity_ = f.smtpSecurity;
  guards_ = f.guards;
  setUpDown(window_, kMinutesUpDown, 0, kMaxIntervalMinutes, settings_.intervalMinutes);
  setUpDown(window_, kSecondsUpDown, 0, kMaxIntervalSeconds, settings_.intervalSeconds);
  setUpDown(window_, kKeepCountUpDown, 0, kMaxKeepCount, settings_.mailLogKeepCount);
  // The up-downs write only values within their ranges; the record's own
  // value is shown as it is.
  DialogItem(window_, kMinutes).setText(f.intervalMinutes);
  DialogItem(window_, kSeconds).setText(f.intervalSeconds);
  DialogItem(window_, kKeepCount).setText(f.mailLogKeepCount);
  updateEnabling();
  SetFocus(window_);
}

void SettingsDialog::updateEnabling() {
  bool sound = DialogItem(window_, kPlaySound).checked();
  DialogItem(window_, kSoundFile).enable(sound);
  DialogItem(window_, kBrowseSound).enable(sound);
  DialogItem(window_, kSpamButton).enable(DialogItem(window_, kSpamFilter).checked());
  DialogItem(window_, kPanelPassword).enable(DialogItem(window_, kPanelPasswordRequired).checked());
  bool tls = checkedMode(window_, kPop3Modes) != config::kPopPlain || checkedMode(window_, kSmtpModes) != config::kSmtpPlain;
  for (int id : {kVerifyCertificate, kTrustFile, kBrowseTrustFile}) DialogItem(window_, id).enable(tls);
}

// A port the user typed stays; the usual port of the old mode becomes the
// usual port of the new one.
void SettingsDialog::onSecurityChanged() {
  struct Field { int port; const int (&buttons)[3]; int32_t& mode; bool pop3; } fields[] = {
      {kPop3Port, kPop3Modes, pop3Security_, true}, {kSmtpPort, kSmtpModes, smtpSecurity_, false},
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
    case kSpamFilter:
    case kPlaySound:
    case kPanelPasswordRequired: updateEnabling(); break;
    case kPop3Plain: case kPop3Stls: case kPop3Tls:
    case kSmtpPlain: case kSmtpStartTls: case kSmtpTls: onSecurityChanged(); break;
    case kBrowseTrustFile: browseTrustFile(); break;
    case kGuardsButton: {
      GuardDialog dialog(guards_);
      dialog.open(reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE)), window_);
      break;
    }
    case kBrowseSound: browseSoundFile(); break;
    case kBrowseFolder: browseMailLogFolder(); break;
    case kCommandKeysButton: PostMessageW(mainWindow_, WM_COMMAND, IDM_COMMAND_KEYS, 0); break;
    case kSpamButton: PostMessageW(mainWindow_, WM_COMMAND, IDM_SPAM_RULES, 0); break;
    case IDCANCEL: EndDialog(window_, IDCANCEL); break;
    case IDOK:
      if (applySettingsForm(readControls(), settings_, host_)) EndDialog(window_, IDOK);
      break;
    default: break;
  }
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
    DialogItem(window_, kSoundFile).setText(chosen);
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
  if (GetOpenFileNameW(&ofn)) DialogItem(window_, kTrustFile).setText(cutText(platform::fromWide(path), kPathFieldLimit));
  platform::setCurrentDirectory(startupDirectory_.c_str());
}

void SettingsDialog::browseMailLogFolder() {
  if (auto folder = chooseFolder(window_, "メールログ保存先フォルダのパスを指定してください。"))
    DialogItem(window_, kMailLogFolder).setText(*folder);
}

SettingsForm SettingsDialog::readControls() const {
  auto text = [this](int id) { return DialogItem(window_, id).text(); };
  auto checked = [this](int id) { return DialogItem(window_, id).checked(); };
  SettingsForm f;
  f.pop3Server = text(kPop3Server);
  f.pop3Port = text(kPop3Port);
  f.smtpServer = text(kSmtpServer);
  f.smtpPort = text(kSmtpPort);
  f.smtpAuthRequired = checked(kSmtpAuth);
  f.accountName = text(kAccountName);
  f.password = text(kPassword);
  f.mailLogFolder = text(kMailLogFolder);
  f.intervalMinutes = text(kMinutes);
  f.intervalSeconds = text(kSeconds);
  f.mailLogKeepCount = text(kKeepCount);
  f.checkAtStartup = checked(kCheckAtStartup);
  f.playSound = checked(kPlaySound);
  f.soundFile = text(kSoundFile);
  f.spamFilterEnabled = checked(kSpamFilter);
  f.subjectKeyword = text(kSubjectKeyword);
  f.requiredSender = text(kRequiredSender);
  f.requiredRecipient = text(kRequiredRecipient);
  f.requiredMailer = text(kRequiredMailer);
  f.requiredSenderAddress = text(kRequiredSenderAddress);
  f.commandMailsOnly = checked(kCommandMailsOnly);
  f.cameraName = text(kCameraName);
  f.panelPasswordRequired = checked(kPanelPasswordRequired);
  f.panelPassword = text(kPanelPassword);
  f.keepOnServer = checked(kKeepOnServer);
  f.pop3Security = checkedMode(window_, kPop3Modes);
  f.smtpSecurity = checkedMode(window_, kSmtpModes);
  f.verifyCertificate = checked(kVerifyCertificate);
  f.tlsTrustFile = text(kTrustFile);
  f.guards = guards_;
  return f;
}

// ---- command-mail guards ----

INT_PTR GuardDialog::open(HINSTANCE instance, HWND owner) { return runModal(instance, IDD_COMMAND_GUARDS, owner); }

void GuardDialog::updateEnabling() {
  DialogItem(window_, kMaxMailAge).enable(DialogItem(window_, kReplayGuard).checked());
  DialogItem(window_, kMaxReplies).enable(DialogItem(window_, kLoopGuard).checked());
}

LRESULT GuardDialog::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    font_.apply(window);
    struct Text { int id; const std::string& value; size_t limit; } texts[] = {
        {kAllowedSenders, guards_.allowedSenders, kAllowedSendersLimit},
        {kCommandSecret, guards_.commandSecret, kTextFieldLimit},
        {kAuthServerHost, guards_.authServerHost, kTextFieldLimit},
        {kMaxMailAge, guards_.maxMailAgeMinutes, 5}, {kMaxReplies, guards_.maxRepliesPerHour, 4},
    };
    for (const Text& t : texts) {
      DialogItem item(window, t.id);
      item.limitText(t.limit);
      item.setText(t.value);
    }
    DialogItem(window, kReplayGuard).setChecked(guards_.replayGuard);
    DialogItem(window, kLoopGuard).setChecked(guards_.loopGuard);
    updateEnabling();
    return TRUE;  // the focus goes to the sender list
  }
  if (message != WM_COMMAND) return WindowObject::handleMessage(window, message, wParam, lParam);
  switch (LOWORD(wParam)) {
    case kReplayGuard:
    case kLoopGuard: updateEnabling(); return TRUE;
    case IDOK: {
      GuardForm g;
      g.allowedSenders = DialogItem(window, kAllowedSenders).text();
      g.commandSecret = cutText(DialogItem(window, kCommandSecret).text(), kTextFieldLimit);
      g.authServerHost = cutText(DialogItem(window, kAuthServerHost).text(), kTextFieldLimit);
      g.replayGuard = DialogItem(window, kReplayGuard).checked();
      g.maxMailAgeMinutes = DialogItem(window, kMaxMailAge).text();
      g.loopGuard = DialogItem(window, kLoopGuard).checked();
      g.maxRepliesPerHour = DialogItem(window, kMaxReplies).text();
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
      DialogItem item(window, kFirstKeyEdit + i);
      item.limitText(kTextFieldLimit);
      item.setText(std::string(settings_.commandKeyNames[i],
                               platform::fieldLength(settings_.commandKeyNames[i], sizeof settings_.commandKeyNames[i])));
    }
    SetFocus(window);
    return FALSE;
  }
  if (message != WM_COMMAND) return WindowObject::handleMessage(window, message, wParam, lParam);
  switch (LOWORD(wParam)) {
    case kResetKeys:
      // The defaults are shown; the record changes only with OK.
      for (int i = 0; i < config::kCommandKeyCount; ++i) {
        char text[80] = {};
        config::loadString(static_cast<unsigned>(i + 1), text, sizeof text);
        DialogItem(window, kFirstKeyEdit + i).setText(text);
      }
      DialogItem(window, kShutdownKeyEdit).setText("");
      return TRUE;
    case IDOK:
      for (int i = 0; i < config::kCommandKeyCount; ++i) {
        std::string name = cutText(DialogItem(window, kFirstKeyEdit + i).text(), kTextFieldLimit);
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
      DialogItem(window, kFirstSpamBox + i).setChecked(settings_.spamRules[i] != 0);
    DialogItem(window, kRecycleBinBox).setChecked(settings_.spamToRecycleBin != 0);
    SetFocus(window);
    return FALSE;
  }
  if (message != WM_COMMAND) return WindowObject::handleMessage(window, message, wParam, lParam);
  switch (LOWORD(wParam)) {
    case IDOK:
      for (int i = 0; i < config::kSpamRuleCount; ++i)
        settings_.spamRules[i] = DialogItem(window, kFirstSpamBox + i).checked() ? 1 : 0;
      settings_.spamToRecycleBin = DialogItem(window, kRecycleBinBox).checked() ? 1 : 0;
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
    DialogItem(window, kPromptEdit).limitText(kPanelPasswordLimit);
    return TRUE;  // the focus goes to the edit
  }
  if (message != WM_COMMAND) return WindowObject::handleMessage(window, message, wParam, lParam);
  switch (LOWORD(wParam)) {
    case IDOK: {
      std::string entered = cutText(DialogItem(window, kPromptEdit).text(), kPanelPasswordLimit);
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
    SetFocus(GetDlgItem(window, IDOK));
    return FALSE;
  }
  if (message != WM_COMMAND) return WindowObject::handleMessage(window, message, wParam, lParam);
  switch (LOWORD(wParam)) {
    case kHomePageButton:
    case kMirrorButton: {
      int button = LOWORD(wParam);
      PostMessageW(mainWindow_, appmsg::kOpenHomePage, button == kHomePageButton ? 0 : 1, 0);
      return finish(window, button);
    }
    case IDOK:
    case IDCANCEL: return finish(window, LOWORD(wParam));
    default: return TRUE;
  }
}

}  // namespace ui
