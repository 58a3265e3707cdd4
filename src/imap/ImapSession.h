// The IMAP client of a mail check (IMAP4rev1, also IMAP4rev2 servers): a
// named-state machine fed the server's bytes in pieces of any size. It
// logs in (LOGIN, or AUTHENTICATE with a SASL mechanism), selects the
// folder, finds new messages with UID SEARCH, fetches each with UID FETCH
// BODY.PEEK[] (nothing is marked read) and deletes what the program has
// dealt with: UID STORE +FLAGS.SILENT (\Deleted), then UID EXPUNGE of that
// message where UIDPLUS is offered, else one plain EXPUNGE when the batch
// ends (which also removes messages other clients marked \Deleted).
// After a batch it logs out, or stays: IDLE (re-issued every 25 minutes),
// or a NOOP poll when the server has no IDLE; new mail starts a fetch.
// The wire (ImapClient.h, or a test) moves the bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "commlog/CommLog.h"
#include "imap/ImapResponse.h"
#include "imap/Sasl.h"
#include "platform/Connection.h"

namespace imap {

enum class MessageAnswer { kDelete, kKeep };
// Before fetching: fetch it, delete it unfetched (dealt with before, its
// deletion never happened), or leave it (dealt with, kept on the server).
enum class MessagePlan { kFetch, kDeleteUnfetched, kLeave };

// A message in the mailbox: UIDVALIDITY and UID name it for good.
struct MailRef {
  uint32_t uidValidity = 0;
  uint32_t uid = 0;
  uint64_t size = 0;
};

enum class ImapState {
  kGreeting,        // waiting for "* OK", "* PREAUTH" or "* BYE"
  kCapability,      // CAPABILITY sent
  kStartTls,        // STARTTLS sent
  kAuthenticate,    // AUTHENTICATE sent, answering challenges
  kLogin,           // LOGIN sent
  kSelect,          // SELECT sent
  kSearch,          // UID SEARCH sent
  kFetch,           // UID FETCH BODY.PEEK[] sent
  kStore,           // UID STORE +FLAGS.SILENT (\Deleted) sent
  kExpunge,         // UID EXPUNGE or EXPUNGE sent
  kIdleRequested,   // IDLE sent, waiting for "+"
  kIdling,          // idling: waiting for EXISTS
  kIdleDone,        // DONE sent
  kPollWait,        // no IDLE: waiting for the next NOOP
  kNoop,            // NOOP sent
  kLogout,          // LOGOUT sent
  kEnded,
};
const char* stateName(ImapState state);

enum class ImapFailure {
  kNone,
  kGreeting,          // no greeting, or not OK/PREAUTH
  kStartTlsRefused,   // STARTTLS asked for, not offered or refused
  kTls,               // the handshake or the certificate check failed
  kNoLogin,           // neither AUTHENTICATE PLAIN nor LOGIN is possible
  kLoginRefused,
  kCommandFailed,     // NO or BAD to SELECT, SEARCH, FETCH, STORE, EXPUNGE
  kBye,               // the server said BYE
  kMalformed,         // a response the reader or a handler cannot take
  kUnexpected,        // a tagged reply to no command of ours, a stray "+"
  kTooManyUntagged,   // more untagged responses to one command than allowed
  kClosed,            // the connection ended
  kSilence,           // no answer within the silence limit
  kSendFailed,
};

struct ImapAccount {
  net::Endpoint endpoint;  // server, port (143 or 993), security, certificate checks
  std::string user;
  std::string password;
  std::string folder;           // Shift_JIS; empty = INBOX
  bool stayConnected = false;   // after a batch: IDLE (or NOOP poll) instead of LOGOUT
};

// The program around the session: a sink for messages and for the end of
// a batch (the session itself may go on).
class ImapHost {
 public:
  virtual ~ImapHost() = default;
  // A whole message, exactly as the server holds it.
  virtual MessageAnswer onMessage(const MailRef& mail, const char* data, size_t length) = 0;
  virtual MessagePlan planMessage(const MailRef& mail) { (void)mail; return MessagePlan::kFetch; }
  // Every new message so far has been handed on.
  virtual void onBatchEnded() = 0;
  // The session waits for new mail (IDLE or NOOP poll).
  virtual void onWaiting() {}
  virtual void onSessionFailed(ImapFailure failure) = 0;
  // Called once per session, after the connection is closed.
  virtual void onSessionEnded() = 0;
};

// The bytes' road: a socket with TLS (ImapClient) or a test's transcript.
class ImapWire {
 public:
  virtual ~ImapWire() = default;
  virtual bool send(const std::string& bytes) = 0;
  // The handshake after the server granted STARTTLS; false on failure
  // (the wire logs why).
  virtual bool startTls() = 0;
  virtual void close() = 0;
};

// Untagged responses allowed for one command (an EXISTS flood ends there).
constexpr int kMaxUntaggedPerCommand = 10000;
constexpr uint64_t kIdleReissueMs = 25ull * 60 * 1000;
constexpr uint64_t kNoopPollMs = 30000;

class ImapSession {
 public:
  ImapSession(ImapHost& host, ImapWire& wire, const commlog::CommLog& log);
  ~ImapSession();
  ImapSession(const ImapSession&) = delete;
  ImapSession& operator=(const ImapSession&) = delete;

  // A new session on a connection just made (after TLS when implicit).
  void begin(const ImapAccount& account, uint64_t nowMs);
  // Bytes from the server, in pieces of any size.
  void feed(const char* data, size_t length);
  // The clock: IDLE re-issue and the NOOP poll.
  void tick(uint64_t nowMs);
  // While waiting for mail: when tick() has the IDLE re-issue or the NOOP
  // to send (0: not waiting).
  uint64_t waitDueMs() const;
  // The connection closed under the session.
  void onClosed();
  // Silence beyond the limit while a reply is awaited.
  void onSilence(int limitMs);
  // Ends the session: DONE and LOGOUT when idle, else the connection is cut.
  void stop();
  // The next batch: a search for new messages at once (the check's timer).
  void checkNow();
  // While held, new mail is noted but fetched only when released.
  void setHeld(bool held);

  // Replaces another SASL mechanism for PLAIN/LOGIN (bearer tokens).
  void setMechanism(std::unique_ptr<SaslMechanism> mechanism) { mechanism_ = std::move(mechanism); }
  void setIdleReissueMs(uint64_t ms) { idleReissueMs_ = ms; }
  void setPollMs(uint64_t ms) { pollMs_ = ms; }

  ImapState state() const { return state_; }
  ImapFailure failure() const { return failure_; }
  bool ended() const { return state_ == ImapState::kEnded; }
  // A reply is awaited (the silence limit applies); not while idling.
  bool awaitingReply() const;
  bool hasCapability(const std::string& name) const;
  uint32_t uidValidity() const { return uidValidity_; }

 private:
  void setState(ImapState state);
  void onResponse(Response& response);
  void onUntagged(Response& response);
  void onTagged(const Response& response);
  void onContinuation(const Response& response);
  void onFetch(Response& response, uint32_t sequence);
  bool command(const std::string& text, ImapState next, const char* logText = nullptr);
  void afterCapability();
  void login();
  void select();
  void search();
  void fetchNext();
  void batchEnded();
  void waitForMail();
  void afterWait();
  void endIdle(const char* logText);
  void logout();
  void fail(ImapFailure failure, const std::string& text);
  void finish();

  ImapHost& host_;
  ImapWire& wire_;
  const commlog::CommLog& log_;
  ImapAccount account_;
  ResponseReader reader_;
  std::unique_ptr<SaslMechanism> mechanism_;
  ImapState state_ = ImapState::kEnded;
  ImapFailure failure_ = ImapFailure::kNone;
  uint64_t nowMs_ = 0;
  uint64_t idleReissueMs_ = kIdleReissueMs;
  uint64_t pollMs_ = kNoopPollMs;
  uint64_t waitStartedMs_ = 0;

  unsigned tagNumber_ = 0;
  std::string tag_;  // of the command awaiting its reply; empty when none
  int untagged_ = 0;
  std::vector<std::string> capabilities_;
  bool capabilitiesInReply_ = false;
  bool tlsDone_ = false;
  bool plaintextEnds_ = false;
  bool authenticated_ = false;
  bool selected_ = false;
  uint32_t uidValidity_ = 0;
  uint32_t exists_ = 0;
  uint32_t recent_ = 0;
  bool newMail_ = false;
  bool stopping_ = false;
  bool held_ = false;
  uint32_t lastUid_ = 0;  // the highest UID handed on or skipped
  std::vector<uint32_t> found_;
  struct Planned {
    uint32_t uid;
    bool deleteOnly;
  };
  std::vector<Planned> queue_;
  size_t queuePos_ = 0;
  MailRef current_;
  bool gotBody_ = false;
  std::string body_;
  bool expungeAtEnd_ = false;
  bool batchExpunge_ = false;
};

// A quoted string (RFC 3501 "quoted"); false when the text holds CR, LF or NUL.
bool quoted(const std::string& text, std::string* out);

}  // namespace imap
