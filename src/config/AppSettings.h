// The configuration record, stored raw as quorvel.ini (4620 bytes).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace config {

constexpr int kSpamRuleCount = 24;
constexpr int kCommandKeyCount = 26;
constexpr int kColumnCount = 8;
constexpr size_t kSettingsFileSize = 4620;
constexpr char kSettingsFileName[] = "quorvel.ini";
constexpr char kProductName[] = "Quorvel";

#pragma pack(push, 1)
// The main window's placement, laid out as the Windows WINDOWPLACEMENT.
struct StoredPlacement {
  uint32_t length;
  uint32_t flags;
  uint32_t showCommand;
  int32_t minX, minY;
  int32_t maxX, maxY;
  int32_t left, top, right, bottom;
};

struct AppSettings {
  char signature[20];
  char pop3Server[80];
  char smtpServer[80];
  char accountName[80];
  char password[80];
  char mailLogFolder[260];
  char soundFile[260];
  char panelPassword[26];
  char cameraName[22];
  uint16_t pop3Port;
  uint16_t smtpPort;
  int32_t intervalMinutes;
  int32_t intervalSeconds;
  int32_t mailLogKeepCount;
  int32_t splitterPosition;
  int32_t replyImageWidth;
  int32_t checkAtStartup;
  int32_t playSound;
  int32_t keepOnServer;
  int32_t smtpAuthRequired;
  int32_t commandMailsOnly;
  int32_t panelPasswordRequired;
  int32_t rotateReplyImage;
  int32_t spamFilterEnabled;
  int32_t spamToRecycleBin;
  int32_t spamRules[kSpamRuleCount];
  char subjectKeyword[80];
  char requiredSender[80];
  char requiredRecipient[80];
  char requiredMailer[80];
  char requiredSenderAddress[80];
  StoredPlacement windowPlacement;
  int32_t columnWidths[kColumnCount];
  char commandKeyNames[kCommandKeyCount][80];
  // Transport security. Zero in every field is a plaintext session as before.
  int32_t pop3Security;          // PopSecurity
  int32_t smtpSecurity;          // SmtpSecurity
  int32_t tlsNoVerify;           // 1 = the server's certificate is not checked
  char tlsTrustFile[260];        // PEM file trusted besides the system's; empty = none
  uint8_t tlsSpare[28];
  // Guards for command mails; zero or empty = off.
  char allowedSenders[256];    // addresses separated by blanks, commas, semicolons or line ends
  char commandSecret[80];      // must stand alone on a line of the body
  char authServerHost[80];     // trust Authentication-Results added by this host
  int32_t replayGuard;         // run a command mail at most once; refuse old and future-dated mails
  int32_t maxMailAgeMinutes;   // 0: kDefaultMaxMailAgeMinutes
  int32_t loopGuard;           // RFC 3834 headers, Auto-Submitted on replies, the hourly limit
  int32_t maxRepliesPerHour;   // per sender; 0: kDefaultMaxRepliesPerHour
  // The receive protocol; zero = POP3 as before. IMAP reuses the POP3
  // server, port, account, password and security fields.
  int32_t receiveProtocol;     // ReceiveProtocol
  char imapFolder[100];        // Shift_JIS (modified UTF-7 on the wire); empty = INBOX
  // OAuth 2.0 (the provider's endpoints, client and scopes in
  // quorvel-oauth.ini, the tokens in quorvel-token.dat); zero = password.
  int32_t receiveAuth;    // AuthMethod of the mail check
  int32_t sendAuth;       // AuthMethod of the reply (SMTP AUTH)
  int32_t oauthProvider;  // 0 none, 1 Microsoft, 2 Google, 3 other
  uint8_t reserved[152];
};
#pragma pack(pop)

static_assert(sizeof(StoredPlacement) == 44, "placement size");
static_assert(sizeof(AppSettings) == kSettingsFileSize, "record size");
static_assert(offsetof(AppSettings, signature) == 0);
static_assert(offsetof(AppSettings, pop3Server) == 20);
static_assert(offsetof(AppSettings, smtpServer) == 100);
static_assert(offsetof(AppSettings, accountName) == 180);
static_assert(offsetof(AppSettings, password) == 260);
static_assert(offsetof(AppSettings, mailLogFolder) == 340);
static_assert(offsetof(AppSettings, soundFile) == 600);
static_assert(offsetof(AppSettings, panelPassword) == 860);
static_assert(offsetof(AppSettings, cameraName) == 886);
static_assert(offsetof(AppSettings, pop3Port) == 908);
static_assert(offsetof(AppSettings, smtpPort) == 910);
static_assert(offsetof(AppSettings, intervalMinutes) == 912);
static_assert(offsetof(AppSettings, intervalSeconds) == 916);
static_assert(offsetof(AppSettings, mailLogKeepCount) == 920);
static_assert(offsetof(AppSettings, splitterPosition) == 924);
static_assert(offsetof(AppSettings, replyImageWidth) == 928);
static_assert(offsetof(AppSettings, checkAtStartup) == 932);
static_assert(offsetof(AppSettings, playSound) == 936);
static_assert(offsetof(AppSettings, keepOnServer) == 940);
static_assert(offsetof(AppSettings, smtpAuthRequired) == 944);
static_assert(offsetof(AppSettings, commandMailsOnly) == 948);
static_assert(offsetof(AppSettings, panelPasswordRequired) == 952);
static_assert(offsetof(AppSettings, rotateReplyImage) == 956);
static_assert(offsetof(AppSettings, spamFilterEnabled) == 960);
static_assert(offsetof(AppSettings, spamToRecycleBin) == 964);
static_assert(offsetof(AppSettings, spamRules) == 968);
static_assert(offsetof(AppSettings, subjectKeyword) == 1064);
static_assert(offsetof(AppSettings, requiredSender) == 1144);
static_assert(offsetof(AppSettings, requiredRecipient) == 1224);
static_assert(offsetof(AppSettings, requiredMailer) == 1304);
static_assert(offsetof(AppSettings, requiredSenderAddress) == 1384);
static_assert(offsetof(AppSettings, windowPlacement) == 1464);
static_assert(offsetof(AppSettings, columnWidths) == 1508);
static_assert(offsetof(AppSettings, commandKeyNames) == 1540);
static_assert(offsetof(AppSettings, pop3Security) == 3620);
static_assert(offsetof(AppSettings, smtpSecurity) == 3624);
static_assert(offsetof(AppSettings, tlsNoVerify) == 3628);
static_assert(offsetof(AppSettings, tlsTrustFile) == 3632);
static_assert(offsetof(AppSettings, tlsSpare) == 3892);
static_assert(offsetof(AppSettings, allowedSenders) == 3920);
static_assert(offsetof(AppSettings, commandSecret) == 4176);
static_assert(offsetof(AppSettings, authServerHost) == 4256);
static_assert(offsetof(AppSettings, replayGuard) == 4336);
static_assert(offsetof(AppSettings, maxMailAgeMinutes) == 4340);
static_assert(offsetof(AppSettings, loopGuard) == 4344);
static_assert(offsetof(AppSettings, maxRepliesPerHour) == 4348);
static_assert(offsetof(AppSettings, receiveProtocol) == 4352);
static_assert(offsetof(AppSettings, imapFolder) == 4356);
static_assert(offsetof(AppSettings, receiveAuth) == 4456);
static_assert(offsetof(AppSettings, sendAuth) == 4460);
static_assert(offsetof(AppSettings, oauthProvider) == 4464);
static_assert(offsetof(AppSettings, reserved) == 4468);

enum PopSecurity : int32_t { kPopPlain = 0, kPopStls = 1, kPopTls = 2 };
enum SmtpSecurity : int32_t { kSmtpPlain = 0, kSmtpStartTls = 1, kSmtpTls = 2 };
enum ReceiveProtocol : int32_t { kReceivePop3 = 0, kReceiveImap = 1 };
// The usual port of a security mode (110/995, 25/587/465; IMAP 143/993).
uint16_t usualPop3Port(int32_t security);
uint16_t usualImapPort(int32_t security);
uint16_t usualSmtpPort(int32_t security);
// The port to show after the security mode changed from `from` to `to`:
// the usual port of `to` when `port` is the usual port of `from` (or 0),
// else the port the user typed.
uint16_t suggestedPop3Port(uint16_t port, int32_t from, int32_t to);
uint16_t suggestedSmtpPort(uint16_t port, int32_t from, int32_t to);

enum AuthMethod : int32_t { kAuthPassword = 0, kAuthOAuth = 1 };

constexpr int32_t kDefaultMaxMailAgeMinutes = 60;
constexpr int32_t kDefaultMaxRepliesPerHour = 10;

// Sets every field to its default (plaintext sessions, the command-mail
// guards off, POP3, password logins); `tlsSpare`, `reserved` and the bytes
// behind string
// terminators keep what they hold. mailLogFolder defaults to startupDir.
void applyDefaults(AppSettings& s, const char* startupDir);
// Fills the record from "quorvel.ini" in the current directory, or with
// the defaults when the file is missing, not 4620 bytes, unreadable or foreign.
void loadSettings(AppSettings& s, const char* startupDir);
// Writes the whole record to startupDir\quorvel.ini. The caller refreshes
// windowPlacement first. Returns false on failure (not reported to the user).
bool saveSettings(const AppSettings& s, const char* startupDir);
// The derived value serverConfigured: POP3 server, account and password (or
// OAuth for the mail check) set and a port other than 0.
bool updateServerConfigured(const AppSettings& s);

// The panel password is stored with its first two and last two bytes
// exchanged; the same exchange gives it back.
void storePanelPassword(AppSettings& s, const char* text);
std::string panelPasswordForDisplay(const AppSettings& s);
bool panelPasswordMatches(const AppSettings& s, const char* entered);
std::string rearrangePassword(const std::string& p);

}  // namespace config
