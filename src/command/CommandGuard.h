// Guards a careful user can switch on for command mails: allowed senders, a
// secret line, the receiving server's Authentication-Results, a replay
// guard with a Date window, and a loop guard (RFC 3834 headers and an hourly
// reply limit per sender). With every guard off nothing is refused.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/AppSettings.h"

namespace command {

// The check that refused a command mail; none when it may run.
enum class Refusal {
  none,
  autoSubmitted,   // Auto-Submitted other than "no", Precedence bulk/list/junk, List-Id
  sender,          // From is not an allowed address
  authentication,  // the server's Authentication-Results does not pass
  secret,          // no line holding just the secret
  badDate,         // no readable Date
  tooOld,          // Date older than the window
  future,          // Date more than kFutureSlackSeconds ahead
  replay,          // it has run before
  replyLimit,      // the sender had the hourly number of replies
  guardFile,       // what ran could not be recorded
};

// The comm-log line of a refusal: "コマンド拒否: " and the check's text.
std::string refusalLogLine(Refusal refusal);

constexpr int64_t kFutureSlackSeconds = 10 * 60;
constexpr char kSecretMark[] = "********";
// The guard file beside the mail log.
extern const char kGuardFileName[];  // "QuorvelGuard.dat"

// ---- header fields ----

// Every instance of the header field `name` (without regard to case) in the
// raw header text, topmost first, folded lines joined, without the name
// and the colon, leading and trailing blanks removed.
std::vector<std::string> headerValues(std::string_view header, std::string_view name);

// ---- senders ----

// The bare address of a From value: what stands inside its angle brackets,
// else the value without blanks. Empty when the value holds more than one
// address (a comma outside quotes, brackets and comments).
std::string bareAddress(std::string_view from);
// The local part compared exactly, the domain without regard to case.
bool sameAddress(std::string_view a, std::string_view b);
// `allowed` holds addresses separated by blanks, commas, semicolons or line ends.
bool senderAllowed(std::string_view allowed, std::string_view fromValue);
// The domain of an address (after its last '@'), lower-cased; empty without one.
std::string addressDomain(std::string_view address);

// ---- the secret ----

// True when some line of `body`, without its surrounding blanks, is exactly `secret`.
bool hasSecretLine(std::string_view body, std::string_view secret);
// `body` with every line that holds `secret` anywhere replaced by kSecretMark.
std::string maskSecret(std::string_view body, std::string_view secret);

// ---- Authentication-Results ----

// True when the topmost Authentication-Results field of `header` was added
// by `host` (its authserv-id, without regard to case) and says dmarc=pass,
// or spf=pass or dkim=pass for exactly the domain of `fromDomain`.
bool authenticationPasses(std::string_view header, std::string_view host, std::string_view fromDomain);

// ---- dates ----

// Seconds since 1970 (UTC) of an RFC 5322 date; false when it cannot be read.
bool parseMailDate(std::string_view date, int64_t* seconds);
// none, badDate, tooOld or future for a mail dated `date` at time `now`.
Refusal judgeDate(std::string_view date, int64_t now, int64_t maxAgeMinutes);

// ---- loop guard ----

// True when the header asks for no automatic answer (RFC 3834).
bool isAutomaticMail(std::string_view header);

// ---- the guard file ----

// What ran (the replay keys) and when replies went to whom. Lines of text:
// "K <seconds> <key>" and "R <seconds> <address>"; written whole after each
// change, so a crash leaves the old file or the new one.
class GuardStore {
 public:
  explicit GuardStore(std::string path = std::string()) : path_(std::move(path)) {}
  void setPath(std::string path) { path_ = std::move(path); loaded_ = false; }
  bool seen(const std::string& key);
  // False when the file could not be written.
  bool remember(const std::string& key, int64_t now);
  int repliesSince(const std::string& address, int64_t since);
  bool recordReply(const std::string& address, int64_t now);

 private:
  struct Entry {
    char kind;
    int64_t time;
    std::string text;
  };
  void load();
  bool save();
  std::string path_;
  bool loaded_ = false;
  std::vector<Entry> entries_;
};

constexpr size_t kGuardStoreLimit = 2000;  // entries kept, newest last

// The replay key of a mail: "M:", the Message-ID and the MD5 of the whole
// text. (A mail kept on the server is not downloaded again at all: the
// mailbox memory knows its unique id.)
std::string replayKey(std::string_view header, std::string_view text);

// The settings' guards over one command mail.
class CommandGuard {
 public:
  CommandGuard(const config::AppSettings& settings, GuardStore& store) : settings_(settings), store_(store) {}
  bool anyOn() const;
  // The first check that fails, in the order of Refusal. `header` is the raw
  // header, `body` the decoded body, `text` the whole stored mail.
  Refusal judge(std::string_view header, std::string_view body, const std::string& replayKey, int64_t now);
  // Before the first command runs (replay guard on). False when it could not be stored.
  bool recordRun(const std::string& replayKey, int64_t now);
  // After a reply to `toAddress` (loop guard on).
  void recordReply(const std::string& toAddress, int64_t now);
  // The body as the reply, the log and the preview may show it.
  std::string visibleBody(std::string_view body) const;

 private:
  const config::AppSettings& settings_;
  GuardStore& store_;
};

}  // namespace command
