// The POP3 client of a mail check: connects and reads the greeting
// synchronously, then runs on socket notifications (WM_USER+2 on Windows,
// a poll loop natively). After STAT it asks once for the mailbox's unique
// ids (UIDL) and sizes (LIST); for each message the host then decides:
// fetch it (RETR, and DELE when the host has dealt with it), delete it
// without fetching, or leave it. Without UIDL the host may have messages
// known by a fingerprint of their header block (TOP n 0). A mail too large
// for the message buffer stays on the server; the host remembers it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Connection.h"
#include "commlog/CommLog.h"
#include "oauth/Sasl.h"

namespace pop3 {

// WinSock event bits, as they arrive in the low word of lParam.
enum SocketEvent : int { kFdRead = 1, kFdWrite = 2, kFdConnect = 16, kFdClose = 32 };

enum class MessageAnswer { kDelete, kKeep };

// The session's state; Pop3Session::setState is the only place that changes it.
enum SessionState : int {
  kAwaitGreeting = 0,
  kUserSent = 1,
  kPassSent = 2,
  kStatSent = 3,
  kRetrSent = 4,
  kReceiving = 5,
  kDeleSent = 6,
  kUidlSent = 7,    // the status line of UIDL (the whole listing)
  kListSent = 8,    // the status line of LIST
  kTopSent = 9,     // the status line of "TOP n 0"
  kListingData = 10,  // the lines of UIDL, LIST or TOP up to "."
  // Logging in with an access token (RFC 5034 AUTH, XOAUTH2 or OAUTHBEARER).
  kCapaSent = 11,          // CAPA: which of the two the server offers
  kAuthSent = 12,          // AUTH <mechanism>, awaiting "+"
  kAuthResponseSent = 13,  // the token sent
  kAuthErrorSent = 14,     // the answer to an error challenge, awaiting -ERR
};

// Step failure codes.
enum : int {
  kNoResponse = 2,
  kStartupFailed = 11,
  kResolveFailed = 12,
  kSocketFailed = 13,
  kConnectFailed = 14,
  kReadFailed = 15,
  kTimeoutSetFailed = 16,
  kStlsRefused = 17,     // STLS was asked for and not granted
  kTlsFailed = 18,       // the TLS handshake or the certificate check failed
  kRefused = 20,
  kUserSendFailed = 101,
  kSelectFailed = 102,
  kPassSendFailed = 103,
  kStatSendFailed = 104,
  kRetrSendFailed = 105,
  kDeleSendFailed = 106,
  kNotPositive = 108,
  kBufferAllocFailed = 109,
  kNoBuffer = 111,
  kUidlSendFailed = 112,
  kListSendFailed = 113,
  kTopSendFailed = 114,
  kCapaSendFailed = 115,
  kAuthSendFailed = 116,
};

constexpr int kGreetingTimeoutMs = 30000;
// An open session that hears nothing for this long is aborted.
constexpr int kSilenceLimitMs = 60000;
// Message buffer: twice the size the RETR status line announces, at most
// kMailCapacityLimit (far above any real mail, so that a false claim cannot
// exhaust memory); kNoSizeMailCapacity when it announces none.
constexpr size_t kMailCapacityLimit = 268435456;
constexpr size_t kNoSizeMailCapacity = 10485760;
constexpr size_t kReceiveBufferSize = 1024;
// A status line longer than this is taken as it is, without its line end.
constexpr size_t kMaxStatusLine = 8192;
// The UIDL and LIST listings are read up to this size (far above the
// listing of 100,000 messages); a header block for a fingerprint up to
// kMaxHeaderBlock, beyond which its bytes are not used.
constexpr size_t kMaxListing = 64u << 20;
constexpr size_t kMaxHeaderBlock = 1u << 20;

struct Pop3Account {
  std::string server;
  uint16_t port = 110;
  std::string accountName;
  std::string password;
  net::Security security = net::Security::kPlain;
  bool verifyCertificate = true;
  std::string trustFile;  // PEM, besides the system's trusted certificates
  // Not empty: log in with this OAuth 2.0 access token (SASL) instead of
  // USER and PASS, with `mechanism` when the server offers both.
  std::string bearerToken;
  oauth::SaslMechanism mechanism = oauth::SaslMechanism::kXoauth2;
};

// A message as the server lists it. `id` is its unique id (UIDL), or the
// host's fingerprint of its header block; empty when it has none that can
// be trusted (no UIDL, or an id the listing gives to several messages).
struct ListedMessage {
  int number = 0;
  std::string id;
  uint64_t size = 0;  // LIST
};

// What the session does with a listed message.
enum class MessagePlan { kFetch, kDeleteUnfetched, kLeave };

// What the session needs from the program around it.
class Pop3Host {
 public:
  virtual ~Pop3Host() = default;
  // Before RETR: fetch the message, delete it without fetching, or leave it.
  virtual MessagePlan planMessage(const ListedMessage&) { return MessagePlan::kFetch; }
  // A complete message, exactly as received (ending CR LF "." CR LF).
  virtual MessageAnswer onMessageComplete(const ListedMessage& message, const char* data, size_t length) = 0;
  // A message larger than the message buffer: left on the server.
  virtual void onUnreceivable(const ListedMessage&, uint64_t /*received*/) {}
  // Without UIDL: true to know messages by a fingerprint of their header
  // block, which headerId gives.
  virtual bool wantsHeaderIds() const { return false; }
  virtual std::string headerId(const char* /*header*/, size_t /*length*/) { return std::string(); }
  // The session went through every listed message (`listing`, with the
  // messages' ids; an empty mailbox gives none). Not called when it failed.
  virtual void onMailboxDone(const std::vector<ListedMessage>& /*listing*/, bool /*withIds*/) {}
  // The session failed (the check counts a failure).
  virtual void onSessionFailed() = 0;
  // The session has ended; called exactly once per session (WM_USER+3).
  virtual void onSessionEnded() = 0;
  // Mails stored by the check so far.
  virtual int newMailCount() const = 0;
  // Asks for socket notifications (read, connect, close) and cancels them.
  // Natively the poll loop needs none.
  virtual bool requestNotifications(net::TcpSocket& socket, int* error) = 0;
  virtual bool cancelNotifications(net::TcpSocket& socket, int* error) = 0;
};

class Pop3Session {
 public:
  Pop3Session(Pop3Host& host, const commlog::CommLog& log);
  ~Pop3Session();
  Pop3Session(const Pop3Session&) = delete;
  Pop3Session& operator=(const Pop3Session&) = delete;

  // Connects, reads the greeting and sends USER. 0 or a failure code.
  int open(const Pop3Account& account);
  // A socket notification (FD_READ, FD_WRITE, FD_CONNECT, FD_CLOSE).
  void onSocketEvent(int event);
  // Aborts a session that has heard nothing for kSilenceLimitMs.
  void onIdleCheck(uint64_t nowMs);
  // The failure path of a session: counts, logs, closes, ends.
  void abort();

  // Replaces kSilenceLimitMs (tests and tools).
  void setSilenceLimitMs(int ms) { silenceLimitMs_ = ms; }

  bool isOpen() const { return connection_.isOpen(); }
  // The stream the protocol runs on: the socket, or TLS over it.
  net::Stream& stream() { return connection_.stream(); }
  net::TcpSocket& socket() { return connection_.socket(); }
  int state() const { return state_; }
  int messageCount() const { return messageCount_; }
  int currentMessage() const { return currentMessage_; }
  const std::vector<ListedMessage>& listing() const { return listing_; }

 private:
  int readGreeting();
  // Reads one status line synchronously (greeting, STLS reply).
  int readStatusLine(std::string* line);
  // STLS when asked for, then the handshake; implicit TLS before the greeting.
  int startStls();
  int startTls();
  // One read into receiveBuffer; 0, or a failure code. *nothing when the
  // socket had no data after all.
  int receive(bool* nothing);
  // Moves bytes up to and including the next LF into the pending status
  // line; *line receives the line once it is complete. Returns bytes used.
  size_t takeLine(const char* data, size_t length, std::string* line) {
    return lineReader_.take(data, length, line);
  }
  int checkStatusLine(const std::string& line);
  void onReadable();
  int process(const char* data, size_t length);
  int dispatch(const std::string& line);
  int onRetrStatus(const std::string& line);
  // Bytes of data up to and including CR LF "." CR LF, recognised also
  // when reads split it; all of them when the end has not arrived.
  size_t scanForEnd(const char* data, size_t length, bool* complete);
  int collect(const char* data, size_t length, size_t* used, bool* complete);
  int finishMessage();
  // Starts reading the lines of a listing (UIDL, LIST, TOP) up to ".".
  void beginListingData();
  int finishListingData();
  int onUidlListing();
  int onListListing();
  int sendTop();
  int onHeaderBlock(const std::string& header);
  // After the listings: ids given to several messages are dropped.
  void dropRepeatedIds();
  int next(bool afterDelete);
  // The current message as the host plans it.
  int planCurrent();
  void mailboxDone(bool withIds);
  int sendNumbered(const char* command, int failureCode, const char* suffix = "");
  // `logged` replaces the command in the communication log.
  int sendCommand(const char* command, int failureCode, const char* logged = nullptr);
  int onCapaLine(const std::string& line);
  int startAuth();
  int onAuthLine(const std::string& line);
  void setState(SessionState next) { state_ = next; }
  void closeQuietly();
  void close();
  void end();

  Pop3Host& host_;
  const commlog::CommLog& log_;
  Pop3Account account_;
  net::Connection connection_;
  bool connected_ = false;
  bool closed_ = false;
  bool ended_ = false;

  SessionState state_ = kAwaitGreeting;
  int messageCount_ = 0;
  int currentMessage_ = 1;
  char receiveBuffer_[kReceiveBufferSize + 1] = {};
  int receivedLength_ = 0;
  net::LineReader lineReader_;  // a status line still waiting for its line end
  std::string lastData_;     // logged by abort()
  bool capaAnswered_ = false;
  std::string saslOffered_;  // the SASL line of CAPA
  oauth::SaslMechanism mechanism_ = oauth::SaslMechanism::kXoauth2;
  int silenceLimitMs_ = kSilenceLimitMs;

  std::unique_ptr<char[]> mailBuffer_;
  size_t mailCapacity_ = 0;
  size_t mailLength_ = 0;
  uint64_t messageBytes_ = 0;  // all bytes of the message, also those dropped
  bool mailTruncated_ = false;

  // The listing: message n at listing_[n - 1].
  std::vector<ListedMessage> listing_;
  bool uidlOffered_ = false;
  bool headerIds_ = false;        // fingerprints from TOP n 0
  bool topForUnreceivable_ = false;  // TOP for a mail that did not fit
  bool topRefused_ = false;
  SessionState listingKind_ = kAwaitGreeting;  // the state whose lines are being read
  std::string listingData_;
  size_t listingLimit_ = 0;
  bool listingCut_ = false;
  // End-of-message scan across reads.
  bool atLineStart_ = true;
  int endMatched_ = 0;
  char previousByte_ = '\n';
};

// Number in a reply, from its fifth character up to the next space; 0 if none.
long replyNumber(const std::string& line);
// "+OK" at the start, without regard to case.
bool isPositive(const std::string& line);

}  // namespace pop3
