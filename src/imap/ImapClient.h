// An IMAP session on a real connection: connects (TLS from the first byte
// on 993), hands the server's bytes to the ImapSession and runs the
// STARTTLS handshake it asks for. Driven by socket notifications in the
// program, by runClient() in tools and tests.
#pragma once
#include <cstdint>
#include <functional>

#include "imap/ImapSession.h"

namespace imap {

enum : int {
  kConnectOk = 0,
  kStartupFailed = 11,
  kResolveFailed = 12,
  kSocketFailed = 13,
  kConnectFailed = 14,
  kTimeoutSetFailed = 16,
  kTlsFailed = 18,
  kSelectFailed = 102,
};

constexpr int kConnectTimeoutMs = 30000;
// An open session awaiting a reply that hears nothing for this long is cut.
constexpr int kSilenceLimitMs = 60000;

// Socket notifications (WSAAsyncSelect in the program); none natively.
class SocketNotifier {
 public:
  virtual ~SocketNotifier() = default;
  virtual bool request(net::TcpSocket& socket, int* error) = 0;
  virtual void cancel(net::TcpSocket& socket) = 0;
};

class ImapClient : public ImapWire {
 public:
  ImapClient(ImapHost& host, const commlog::CommLog& log, SocketNotifier* notifier = nullptr);
  ~ImapClient() override;

  // Connects and starts the session; 0 or a failure code (logged). The
  // session ends through the host's onSessionEnded.
  int open(const ImapAccount& account);
  // The socket has data (or the server closed it).
  void onReadable();
  void onClosedNotification();
  // The clock: silence limit, IDLE re-issue, NOOP poll.
  void onIdleCheck(uint64_t nowMs);
  // When onIdleCheck next has work: each second while a reply is awaited,
  // the IDLE re-issue or NOOP while waiting for mail (0: ended).
  uint64_t nextCheckMs(uint64_t nowMs) const;
  void stop() { session_.stop(); }

  void setSilenceLimitMs(int ms) { silenceLimitMs_ = ms; }
  bool isOpen() const { return connection_.isOpen(); }
  net::TcpSocket& socket() { return connection_.socket(); }
  ImapSession& session() { return session_; }
  const ImapSession& session() const { return session_; }

  bool send(const std::string& bytes) override;
  bool startTls() override;
  void close() override;

 private:
  const commlog::CommLog& log_;
  SocketNotifier* notifier_;
  ImapSession session_;
  net::Connection connection_;
  net::Endpoint endpoint_;
  int silenceLimitMs_ = kSilenceLimitMs;
};

// Opens the client and runs it from a poll loop until the session ends or
// `keepGoing` says no more (then stops it and lets it log out). Returns
// open()'s code.
int runClient(ImapClient& client, const ImapAccount& account,
              const std::function<bool()>& keepGoing = nullptr);

}  // namespace imap
