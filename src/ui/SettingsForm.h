// What the settings dialog edits, as plain values: read from the record
// when it opens, validated and written back in a fixed order on OK.
// Portable; the dialog only moves these values to and from its controls.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/AppSettings.h"

namespace ui {

// Longest texts the fields take, in bytes (Shift_JIS), without the NUL.
constexpr size_t kTextFieldLimit = 79;
constexpr size_t kPathFieldLimit = 259;
constexpr size_t kCameraNameLimit = 20;
// The settings password: the prompt reads 20 characters, so no longer
// password may be stored.
constexpr size_t kPanelPasswordLimit = 20;
constexpr size_t kPanelPasswordMinimum = 4;

constexpr int kMaxIntervalMinutes = 100;
constexpr int kMaxIntervalSeconds = 59;
constexpr int kMaxKeepCount = 100;
// The command-mail guards' numbers; 0 or empty stores 0 (the default).
constexpr int kMaxMailAgeLimit = 10080;  // a week
constexpr int kMaxRepliesLimit = 1000;
constexpr size_t kAllowedSendersLimit = 255;
constexpr size_t kImapFolderLimit = 99;

// The command-mail guards, edited in their own dialog opened from the
// settings dialog; stored with the settings' OK.
struct GuardForm {
  std::string allowedSenders;  // one address a line (CR LF)
  std::string commandSecret, authServerHost;
  bool replayGuard = false;
  std::string maxMailAgeMinutes;  // shown with the default when the record holds 0
  bool loopGuard = false;
  std::string maxRepliesPerHour;
};

struct SettingsForm {
  std::string pop3Server, pop3Port, smtpServer, smtpPort;
  bool smtpAuthRequired = false;
  std::string accountName, password, mailLogFolder;
  // The number boxes hold whatever was typed.
  std::string intervalMinutes, intervalSeconds, mailLogKeepCount;
  bool checkAtStartup = false, playSound = false;
  std::string soundFile;
  bool spamFilterEnabled = false;
  std::string subjectKeyword, requiredSender, requiredRecipient, requiredMailer, requiredSenderAddress;
  bool commandMailsOnly = false;
  std::string cameraName;
  bool panelPasswordRequired = false;
  std::string panelPassword;  // as shown: the stored password rearranged back
  bool keepOnServer = false;
  int32_t pop3Security = config::kPopPlain, smtpSecurity = config::kSmtpPlain;
  int32_t receiveProtocol = config::kReceivePop3;
  std::string imapFolder;  // empty = INBOX
  bool verifyCertificate = true;
  std::string tlsTrustFile;
  GuardForm guards;
  // Set by the sign-in dialog (AuthMethod, the provider's kind).
  int32_t receiveAuth = config::kAuthPassword, sendAuth = config::kAuthPassword, oauthProvider = 0;
};

// What the OK step needs from the file system and the mail store.
class SettingsFormHost {
 public:
  virtual ~SettingsFormHost() = default;
  virtual bool pathExists(const char* path) = 0;
  virtual bool createFolder(const char* path) = 0;
  // Moves (or switches) the mail log to `folder`; false when cancelled or failed.
  virtual bool moveStoreFolder(const char* folder) = 0;
};

SettingsForm readSettingsForm(const config::AppSettings& s);

// An unsigned decimal number from its leading digits (none: 0); a number
// too large for an int gives INT_MAX.
int parseNumber(const std::string& text);
// The number of `text` brought into [low, high].
int numberInRange(const std::string& text, int low, int high);

// The longest prefix of `text` of at most `limit` bytes that does not end
// inside a double-byte character.
std::string cutText(const std::string& text, size_t limit);

// The port text to show after a security mode changed from `from` to
// `to`: the usual port of `to` when the field is empty or holds the usual
// port of `from`, else the text as typed.
std::string suggestedPortText(const std::string& port, bool pop3, int32_t from, int32_t to);
// The same for the receive port when the protocol or its security mode
// changed: 110/995 for POP3, 143/993 for IMAP.
std::string suggestedReceivePortText(const std::string& port, int32_t fromProtocol, int32_t fromSecurity,
                                     int32_t toProtocol, int32_t toSecurity);

GuardForm readGuardForm(const config::AppSettings& s);
// The guard dialog's OK: false (after a message box) when the sender list
// does not fit its field or an entry is not an address.
bool checkGuardForm(const GuardForm& g);

// The OK step: validates (a message box keeps the dialog open), moves the
// mail log when its folder changed, stores the fields in order, posts
// WM_USER+8 when the total interval changed and WM_USER+12. True when the
// dialog may close; when false, `s` is unchanged.
bool applySettingsForm(const SettingsForm& form, config::AppSettings& s, SettingsFormHost& host);

}  // namespace ui
