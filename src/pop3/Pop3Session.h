// The POP3 client of a mail check: connects and reads the greeting
// synchronously, then runs on socket notifications (WM_USER+2 on Windows,
// a poll loop natively), fetching every message with RETR and deleting
// what the program has dealt with.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Net.h"
#include "commlog/CommLog.h"

namespace pop3 {

// WinSock event bits, as they arrive in the low word of lParam.
enum SocketEvent : int { kFdRead = 1, kFdWrite = 2, kFdConnect = 16, kFdClose = 32 };

enum class MessageAnswer { Delete, Keep };

enum SessionState : int {
  AwaitGreeting = 0,
  UserSent = 1,
  PassSent = 2,
  StatSent = 3,
  RetrSent = 4,
  Receiving = 5,
  DeleSent = 6,
  UidlSent = 7,  // UIDL n before RETR n, when the host wants unique ids
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
  kRefused = 20,
  kUserSendFailed = 101,
  kSelectFailed = 102,
  kPassSendFailed = 103,
  kStatSendFailed = 104,
  kRetrSendFailed = 105,
  kDeleSendFailed = 106,
  kUidlSendFailed = 107,
  kNotPositive = 108,
  kBufferAllocFailed = 109,
  kNoBuffer = 111,
};

constexpr int kGreetingTimeoutMs = 30000;
// An open session that hears nothing for this long is aborted.
constexpr int kSilenceLimitMs = 60000;
// Message buffer: twice the announced size, at most this; also the size
// used when the RETR status line announces none.
constexpr size_t kMaxMailCapacity = 10485760;
constexpr size_t kReceiveBufferSize = 1024;

struct Pop3Account {
  std::string server;
  uint16_t port = 110;
  std::string accountName;
  std::string password;
};

// What the session needs from the program around it.
class Pop3Host {
 public:
  virtual ~Pop3Host() = default;
  // A complete message, exactly as received (ending CR LF "." CR LF).
  virtual MessageAnswer onMessageComplete(const char* data, size_t length) = 0;
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
  // True: ask the server for each message's unique id (UIDL n) before RETR n.
  virtual bool wantsUniqueIds() const { return false; }
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

  bool isOpen() const { return socket_.isOpen(); }
  net::TcpSocket& socket() { return socket_; }
  int state() const { return state_; }
  int messageCount() const { return messageCount_; }
  int currentMessage() const { return currentMessage_; }
  // The server's unique id of the current message; empty when none was asked
  // for or the server gave none.
  const std::string& currentUniqueId() const { return uniqueId_; }

 private:
  int readGreeting();
  // One read into receiveBuffer; 0, or a failure code. *nothing when the
  // socket had no data after all.
  int receive(bool* nothing);
  // Moves bytes up to and including the next LF into the pending status
  // line; *line receives the line once it is complete. Returns bytes used.
  size_t takeLine(const char* data, size_t length, std::string* line);
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
  int next(bool afterDelete);
  int sendRetr();
  int sendRetrCommand();
  int sendCommand(const char* command, int failureCode);
  void closeQuietly();
  void close();
  void end();

  Pop3Host& host_;
  const commlog::CommLog& log_;
  Pop3Account account_;
  net::TcpSocket socket_;
  bool winsockStarted_ = false;
  bool connected_ = false;
  bool closed_ = false;
  bool ended_ = false;

  int state_ = AwaitGreeting;
  int messageCount_ = 0;
  int currentMessage_ = 1;
  char receiveBuffer_[kReceiveBufferSize + 1] = {};
  int receivedLength_ = 0;
  std::string pendingLine_;  // a status line still waiting for its line end
  std::string lastData_;     // logged by abort()
  std::string uniqueId_;
  uint64_t lastActivityMs_ = 0;
  int silenceLimitMs_ = kSilenceLimitMs;

  std::unique_ptr<char[]> mailBuffer_;
  size_t mailCapacity_ = 0;
  size_t mailLength_ = 0;
  bool mailTruncated_ = false;
  // End-of-message scan across reads.
  bool atLineStart_ = true;
  int endMatched_ = 0;
  char previousByte_ = '\n';
};

// Number in a reply, from its fifth character up to the next space; 0 if none.
long replyNumber(const std::string& line);
// The unique id of a UIDL reply "+OK n id": its third word; empty if none.
std::string uniqueIdOf(const std::string& line);
// "+OK" at the start, without regard to case.
bool isPositive(const std::string& line);

}  // namespace pop3
