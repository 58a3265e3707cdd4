#include "ui/SettingsForm.h"

#include <climits>
#include <cstring>
#include <vector>

#include "oauth/OAuthProvider.h"
#include "platform/AppMessages.h"
#include "platform/Hooks.h"
#include "platform/Sjis.h"
#include "platform/Text.h"

namespace ui {
namespace {

constexpr unsigned kWarning = platform::kMbOk | platform::kMbIconExclamation | platform::kMbJapanese;

template <size_t N>
void storeText(char (&target)[N], const std::string& text) {
  std::string cut = cutText(text, N - 1);
  std::memcpy(target, cut.c_str(), cut.size() + 1);
}

void warn(const char* text) { platform::messageBox(text, "Quorvel", kWarning); }

// The entries of a sender list, split as the command guard splits them.
std::vector<std::string> senderEntries(const std::string& list) {
  std::vector<std::string> entries;
  std::string entry;
  for (char c : list + " ") {
    if (std::strchr(" \t\r\n,;", c)) {
      if (!entry.empty()) entries.push_back(entry);
      entry.clear();
    } else {
      entry += c;
    }
  }
  return entries;
}

std::string joinEntries(const std::vector<std::string>& entries, const char* separator) {
  std::string joined;
  for (const std::string& e : entries) joined += (joined.empty() ? "" : separator) + e;
  return joined;
}

bool isAddress(const std::string& entry) {
  size_t at = entry.find('@');
  return at != std::string::npos && at > 0 && at + 1 < entry.size() && entry.find('@', at + 1) == std::string::npos;
}

int32_t effective(int32_t stored, int32_t fallback) { return stored > 0 ? stored : fallback; }

// A guard number as typed: empty or 0 stores 0 (the default). A value the
// record already means (0 shown as its default) leaves the record as it is.
int32_t guardNumber(const std::string& text, int32_t stored, int32_t fallback, int limit) {
  int32_t typed = numberInRange(text, 0, limit);
  return effective(typed, fallback) == effective(stored, fallback) ? stored : typed;
}

// Digits only, within [low, high]: a number that would be brought into
// range on OK is refused instead.
bool wholeNumberIn(const std::string& text, int low, int high) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  int value = parseNumber(text);
  return value >= low && value <= high;
}

int32_t securityMode(int32_t mode) { return mode >= 0 && mode <= 2 ? mode : 0; }

}  // namespace

SettingsForm readSettingsForm(const config::AppSettings& s) {
  SettingsForm f;
  f.pop3Server = platform::fieldText(s.pop3Server);
  f.pop3Port = std::to_string(s.pop3Port);
  f.smtpServer = platform::fieldText(s.smtpServer);
  f.smtpPort = std::to_string(s.smtpPort);
  f.smtpAuthRequired = s.smtpAuthRequired != 0;
  f.accountName = platform::fieldText(s.accountName);
  f.password = platform::fieldText(s.password);
  f.receiveAuth = s.receiveAuth;
  f.sendAuth = s.sendAuth;
  f.oauthProvider = s.oauthProvider;
  f.mailLogFolder = platform::fieldText(s.mailLogFolder);
  f.intervalMinutes = std::to_string(s.intervalMinutes);
  f.intervalSeconds = std::to_string(s.intervalSeconds);
  f.mailLogKeepCount = std::to_string(s.mailLogKeepCount);
  f.checkAtStartup = s.checkAtStartup != 0;
  f.playSound = s.playSound != 0;
  f.soundFile = platform::fieldText(s.soundFile);
  f.spamFilterEnabled = s.spamFilterEnabled != 0;
  f.subjectKeyword = platform::fieldText(s.subjectKeyword);
  f.requiredSender = platform::fieldText(s.requiredSender);
  f.requiredRecipient = platform::fieldText(s.requiredRecipient);
  f.requiredMailer = platform::fieldText(s.requiredMailer);
  f.requiredSenderAddress = platform::fieldText(s.requiredSenderAddress);
  f.commandMailsOnly = s.commandMailsOnly != 0;
  f.cameraName = platform::fieldText(s.cameraName);
  f.panelPasswordRequired = s.panelPasswordRequired != 0;
  if (s.panelPassword[0]) f.panelPassword = config::panelPasswordForDisplay(s);
  f.keepOnServer = s.keepOnServer != 0;
  f.pop3Security = securityMode(s.pop3Security);
  f.smtpSecurity = securityMode(s.smtpSecurity);
  f.verifyCertificate = s.tlsNoVerify == 0;
  f.tlsTrustFile = platform::fieldText(s.tlsTrustFile);
  f.receiveProtocol = s.receiveProtocol == config::kReceiveImap ? config::kReceiveImap : config::kReceivePop3;
  f.imapFolder = platform::fieldText(s.imapFolder);
  f.guards = readGuardForm(s);
  return f;
}

GuardForm readGuardForm(const config::AppSettings& s) {
  GuardForm g;
  g.allowedSenders = joinEntries(senderEntries(platform::fieldText(s.allowedSenders)), "\r\n");
  g.commandSecret = platform::fieldText(s.commandSecret);
  g.authServerHost = platform::fieldText(s.authServerHost);
  g.replayGuard = s.replayGuard != 0;
  g.maxMailAgeMinutes = std::to_string(effective(s.maxMailAgeMinutes, config::kDefaultMaxMailAgeMinutes));
  g.loopGuard = s.loopGuard != 0;
  g.maxRepliesPerHour = std::to_string(effective(s.maxRepliesPerHour, config::kDefaultMaxRepliesPerHour));
  return g;
}

bool checkGuardForm(const GuardForm& g) {
  std::vector<std::string> entries = senderEntries(g.allowedSenders);
  // A list cut to its field would end in a different address.
  if (joinEntries(entries, "\n").size() > kAllowedSendersLimit) {
    warn("コマンドメールを受け付ける送信者が多過ぎます。\n255バイト以内で指定してください。");
    return false;
  }
  for (const std::string& e : entries) {
    if (!isAddress(e)) {
      warn(("送信者のメールアドレスが正しくありません。\n" + e).c_str());
      return false;
    }
  }
  return true;
}

std::string suggestedPortText(const std::string& port, bool pop3, int32_t from, int32_t to) {
  auto number = static_cast<uint16_t>(numberInRange(port, 0, 65535));
  uint16_t suggested =
      pop3 ? config::suggestedPop3Port(number, from, to) : config::suggestedSmtpPort(number, from, to);
  return suggested == number ? port : std::to_string(suggested);
}

std::string suggestedReceivePortText(const std::string& port, int32_t fromProtocol, int32_t fromSecurity,
                                     int32_t toProtocol, int32_t toSecurity) {
  auto usual = [](int32_t protocol, int32_t security) {
    return protocol == config::kReceiveImap ? config::usualImapPort(security) : config::usualPop3Port(security);
  };
  auto number = static_cast<uint16_t>(numberInRange(port, 0, 65535));
  if (number != 0 && number != usual(fromProtocol, fromSecurity)) return port;
  uint16_t suggested = usual(toProtocol, toSecurity);
  return suggested == number ? port : std::to_string(suggested);
}

int parseNumber(const std::string& text) {
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > INT_MAX) return INT_MAX;
  }
  return static_cast<int>(value);
}

int numberInRange(const std::string& text, int low, int high) {
  int value = parseNumber(text);
  return value < low ? low : value > high ? high : value;
}

std::string cutText(const std::string& text, size_t limit) {
  return text.substr(0, platform::sjisCutLength(text.data(), text.size(), limit));
}

bool applySettingsForm(const SettingsForm& f, config::AppSettings& s, SettingsFormHost& host) {
  // 1-2: what keeps the dialog open before anything is touched.
  if (f.playSound && f.soundFile.empty()) {
    warn("音声ファイルを指定してください。");
    return false;
  }
  std::string panelPassword = cutText(f.panelPassword, kPanelPasswordLimit);
  if (f.panelPasswordRequired && panelPassword.size() < kPanelPasswordMinimum) {
    warn("このダイアログボックス表示用のパスワードは\n４文字以上で指定してください。");
    return false;
  }
  // A path that does not fit its field would name another file or folder.
  if (f.mailLogFolder.size() > kPathFieldLimit || (f.playSound && f.soundFile.size() > kPathFieldLimit) ||
      f.tlsTrustFile.size() > kPathFieldLimit) {
    warn("パス名が長過ぎます。\n259バイト以内で指定してください。");
    return false;
  }
  if (!f.tlsTrustFile.empty() && !host.pathExists(f.tlsTrustFile.c_str())) {
    warn("信頼する証明書ファイルがありません。");
    return false;
  }
  // The keep count decides how much of the mail log survives the exit: a
  // mistyped number is refused, never cut to the range.
  if (!wholeNumberIn(f.mailLogKeepCount, 0, kMaxKeepCount)) {
    warn("メールログ保存数は0から100までの数で指定してください。");
    return false;
  }
  if (!checkGuardForm(f.guards)) return false;
  if (f.imapFolder.size() > kImapFolderLimit) {
    warn("IMAPフォルダ名が長過ぎます。\n99バイト以内で指定してください。");
    return false;
  }

  // 3: a new mail-log folder, created when asked, and the store moved there.
  if (f.mailLogFolder != platform::fieldText(s.mailLogFolder)) {
    if (!host.pathExists(f.mailLogFolder.c_str())) {
      int answer = platform::messageBox("指定のメールログ保存先フォルダはありません。新規に作成しますか？", "Quorvel",
                                        platform::kMbYesNo | platform::kMbIconExclamation | platform::kMbJapanese);
      if (answer != platform::kIdYes) return false;
      if (!host.createFolder(f.mailLogFolder.c_str())) {
        warn("メールログ保存フォルダが作成できません。\nアクセス権を確認してください。");
        return false;
      }
    }
    if (!host.moveStoreFolder(f.mailLogFolder.c_str())) return false;
    storeText(s.mailLogFolder, f.mailLogFolder);
  }

  // 4
  s.playSound = f.playSound;
  if (f.playSound) storeText(s.soundFile, f.soundFile);
  s.panelPasswordRequired = f.panelPasswordRequired;
  if (f.panelPasswordRequired) config::storePanelPassword(s, panelPassword.c_str());
  storeText(s.pop3Server, f.pop3Server);
  storeText(s.smtpServer, f.smtpServer);
  s.pop3Port = static_cast<uint16_t>(numberInRange(f.pop3Port, 0, 65535));
  s.smtpPort = static_cast<uint16_t>(numberInRange(f.smtpPort, 0, 65535));
  s.smtpAuthRequired = f.smtpAuthRequired;
  s.commandMailsOnly = f.commandMailsOnly;
  storeText(s.accountName, f.accountName);
  storeText(s.password, f.password);

  // 5: seconds beyond 59 carry into the minutes, so 0 min 60 s is 1 min 0 s.
  long long total = static_cast<long long>(parseNumber(f.intervalMinutes)) * 60 + parseNumber(f.intervalSeconds);
  const long long maxTotal = kMaxIntervalMinutes * 60 + kMaxIntervalSeconds;
  if (total > maxTotal) total = maxTotal;
  if (total != static_cast<long long>(s.intervalMinutes) * 60 + s.intervalSeconds)
    platform::postToMainWindow(appmsg::kIntervalChanged);
  s.intervalMinutes = static_cast<int32_t>(total / 60);
  s.intervalSeconds = static_cast<int32_t>(total % 60);

  // 6
  s.mailLogKeepCount = parseNumber(f.mailLogKeepCount);
  s.checkAtStartup = f.checkAtStartup;
  s.spamFilterEnabled = f.spamFilterEnabled;
  s.keepOnServer = f.keepOnServer;
  storeText(s.subjectKeyword, f.subjectKeyword);
  storeText(s.requiredSender, f.requiredSender);
  storeText(s.requiredRecipient, f.requiredRecipient);
  storeText(s.requiredMailer, f.requiredMailer);
  storeText(s.requiredSenderAddress, f.requiredSenderAddress);

  // 7: the caller recomputes serverConfigured from the record.
  std::string camera = cutText(f.cameraName, kCameraNameLimit);
  std::memcpy(s.cameraName, camera.c_str(), camera.size() + 1);

  // Security and the command-mail guards.
  s.pop3Security = securityMode(f.pop3Security);
  s.smtpSecurity = securityMode(f.smtpSecurity);
  if (f.verifyCertificate != (s.tlsNoVerify == 0)) s.tlsNoVerify = f.verifyCertificate ? 0 : 1;
  storeText(s.tlsTrustFile, f.tlsTrustFile);
  s.receiveProtocol = f.receiveProtocol == config::kReceiveImap ? config::kReceiveImap : config::kReceivePop3;
  storeText(s.imapFolder, f.imapFolder);
  const GuardForm& g = f.guards;
  std::vector<std::string> senders = senderEntries(g.allowedSenders);
  if (senders != senderEntries(platform::fieldText(s.allowedSenders)))
    storeText(s.allowedSenders, joinEntries(senders, "\n"));
  storeText(s.commandSecret, g.commandSecret);
  storeText(s.authServerHost, g.authServerHost);
  s.replayGuard = g.replayGuard;
  s.maxMailAgeMinutes =
      guardNumber(g.maxMailAgeMinutes, s.maxMailAgeMinutes, config::kDefaultMaxMailAgeMinutes, kMaxMailAgeLimit);
  s.loopGuard = g.loopGuard;
  s.maxRepliesPerHour =
      guardNumber(g.maxRepliesPerHour, s.maxRepliesPerHour, config::kDefaultMaxRepliesPerHour, kMaxRepliesLimit);

  s.receiveAuth = f.receiveAuth == config::kAuthOAuth ? config::kAuthOAuth : config::kAuthPassword;
  s.sendAuth = f.sendAuth == config::kAuthOAuth ? config::kAuthOAuth : config::kAuthPassword;
  s.oauthProvider = f.oauthProvider >= 0 && f.oauthProvider <= oauth::kProviderOther ? f.oauthProvider : 0;

  // 8
  platform::postToMainWindow(appmsg::kSaveSettings);
  return true;
}

}  // namespace ui
