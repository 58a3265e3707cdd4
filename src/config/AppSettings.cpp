#include "config/AppSettings.h"

#include <cstdio>
#include <cstring>

#include "config/StringTable.h"
#include "platform/File.h"
#include "platform/Text.h"

namespace config {
namespace {

const int32_t kDefaultColumnWidths[kColumnCount] = {50, 80, 200, 120, 120, 120, 120, 120};
constexpr int kShutdownKeyIndex = 24;

template <size_t N>
void setText(char (&field)[N], const char* text) {
  platform::copyField(field, text);
}

}  // namespace

void applyDefaults(AppSettings& s, const char* startupDir) {
  setText(s.signature, kProductName);
  setText(s.pop3Server, "");
  setText(s.smtpServer, "");
  setText(s.accountName, "");
  setText(s.password, "");
  setText(s.mailLogFolder, startupDir);
  setText(s.soundFile, "");
  setText(s.panelPassword, "");
  setText(s.cameraName, "");
  s.pop3Port = 110;
  s.smtpPort = 25;
  s.intervalMinutes = 10;
  s.intervalSeconds = 0;
  s.mailLogKeepCount = 30;
  s.splitterPosition = -1;
  s.replyImageWidth = -1;
  s.checkAtStartup = 0;
  s.playSound = 0;
  s.keepOnServer = 0;
  s.smtpAuthRequired = 0;
  s.commandMailsOnly = 0;
  s.panelPasswordRequired = 0;
  s.rotateReplyImage = 0;
  s.spamFilterEnabled = 0;
  s.spamToRecycleBin = 0;
  std::memset(s.spamRules, 0, sizeof s.spamRules);
  setText(s.subjectKeyword, "Vistrel");
  setText(s.requiredSender, "");
  setText(s.requiredRecipient, "");
  setText(s.requiredMailer, "");
  setText(s.requiredSenderAddress, "");
  s.windowPlacement.length = 0;
  s.windowPlacement.left = 0;
  s.windowPlacement.top = 0;
  std::memcpy(s.columnWidths, kDefaultColumnWidths, sizeof s.columnWidths);
  for (int i = 0; i < kCommandKeyCount; ++i) {
    char text[80];
    loadString(static_cast<unsigned>(i + 1), text, sizeof text);
    setText(s.commandKeyNames[i], text);
  }
  setText(s.commandKeyNames[kShutdownKeyIndex], "");
  s.pop3Security = kPopPlain;
  s.smtpSecurity = kSmtpPlain;
  s.tlsNoVerify = 0;
  setText(s.tlsTrustFile, "");
  // The command-mail guards are off; a foreign record's bytes must not switch them on.
  std::memset(s.allowedSenders, 0, sizeof s.allowedSenders);
  std::memset(s.commandSecret, 0, sizeof s.commandSecret);
  std::memset(s.authServerHost, 0, sizeof s.authServerHost);
  s.replayGuard = 0;
  s.maxMailAgeMinutes = 0;
  s.loopGuard = 0;
  s.maxRepliesPerHour = 0;
  s.receiveProtocol = kReceivePop3;
  std::memset(s.imapFolder, 0, sizeof s.imapFolder);
  s.receiveAuth = kAuthPassword;
  s.sendAuth = kAuthPassword;
  s.oauthProvider = 0;
}

uint16_t usualPop3Port(int32_t security) { return security == kPopTls ? 995 : 110; }

uint16_t usualImapPort(int32_t security) { return security == kPopTls ? 993 : 143; }

uint16_t usualSmtpPort(int32_t security) {
  return security == kSmtpTls ? 465 : security == kSmtpStartTls ? 587 : 25;
}

uint16_t suggestedPop3Port(uint16_t port, int32_t from, int32_t to) {
  return port == 0 || port == usualPop3Port(from) ? usualPop3Port(to) : port;
}

uint16_t suggestedSmtpPort(uint16_t port, int32_t from, int32_t to) {
  return port == 0 || port == usualSmtpPort(from) ? usualSmtpPort(to) : port;
}

void loadSettings(AppSettings& s, const char* startupDir) {
  if (platform::fileSize(kSettingsFileName) != static_cast<int64_t>(kSettingsFileSize)) {
    applyDefaults(s, startupDir);
    return;
  }
  FILE* f = platform::openFile(kSettingsFileName, "rb");
  if (!f) {
    applyDefaults(s, startupDir);
    return;
  }
  bool readOk = std::fread(&s, 1, sizeof s, f) == sizeof s;
  bool closeOk = std::fclose(f) == 0;
  if (!readOk || !closeOk) {
    applyDefaults(s, startupDir);
    return;
  }
  if (std::strncmp(s.signature, kProductName, sizeof s.signature) != 0)
    applyDefaults(s, startupDir);
}

bool saveSettings(const AppSettings& s, const char* startupDir) {
  char path[520];
  std::snprintf(path, sizeof path, "%s\\%s", startupDir, kSettingsFileName);
  FILE* f = platform::openFile(path, "wb");
  if (!f) return false;
  bool ok = std::fwrite(&s, 1, sizeof s, f) == sizeof s;
  return std::fclose(f) == 0 && ok;
}

bool updateServerConfigured(const AppSettings& s) {
  return s.pop3Server[0] != '\0' && s.accountName[0] != '\0' &&
         (s.password[0] != '\0' || s.receiveAuth == kAuthOAuth) && s.pop3Port != 0;
}

std::string rearrangePassword(const std::string& p) {
  std::string s = p;
  size_t n = p.size();
  if (n == 0) return s;
  s[0] = p[n - 1];
  if (n >= 2) {
    s[1] = p[n - 2];
    s[n - 2] = p[1];
  }
  s[n - 1] = p[0];
  return s;
}

void storePanelPassword(AppSettings& s, const char* text) {
  std::string p(text ? text : "");
  if (p.size() > sizeof s.panelPassword - 1) p.resize(sizeof s.panelPassword - 1);
  setText(s.panelPassword, rearrangePassword(p).c_str());
}

std::string panelPasswordForDisplay(const AppSettings& s) {
  return rearrangePassword(
      platform::fieldText(s.panelPassword));
}

bool panelPasswordMatches(const AppSettings& s, const char* entered) {
  std::string stored = platform::fieldText(s.panelPassword);
  std::string e(entered ? entered : "");
  return e.size() == stored.size() && rearrangePassword(e) == stored;
}

}  // namespace config
