// The mail-check cycle: what starts a check, its counters, the end of a
// batch (WM_USER+3), the end of its processing (WM_USER+10), and for a
// source that stays connected (IMAP) the push: new mail starts a batch of
// its own, the title says that the program waits for mail, and a lost
// connection is made again after 2 s, 4 s, … up to the check interval.
// Portable; the main window gives it a window's services (CheckCycleHost).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "check/MailSource.h"
#include "check/MailboxCheck.h"
#include "oauth/Sasl.h"

namespace check {

// The OAuth 2.0 access token of a session (receiveAuth OAuth). kPending:
// the host fetches it off the window thread and answers through
// CheckCycle::onSessionToken.
enum class TokenState { kReady, kFailed, kSignInNeeded, kPending };

class CheckCycleHost {
 public:
  virtual ~CheckCycleHost() = default;
  virtual void setTitle(const std::string& sjis) = 0;
  // A batch begins (a check, or new mail pushed): the program is busy.
  virtual void onBatchStarted() = 0;
  // Posts WM_USER+3: the batch has ended.
  virtual void postCheckFinished() = 0;
  virtual bool requestNotifications(net::TcpSocket& socket, int* error) = 0;
  virtual void cancelNotifications(net::TcpSocket& socket) = 0;
  // Before each connection when the check signs in by OAuth: the access
  // token (refreshed when about to expire) and its mechanism; the host
  // logs a failure. kSignInNeeded: the grant was refused. kPending: the
  // answer comes later (onSessionToken); nothing is asked meanwhile.
  virtual TokenState sessionToken(BearerLogin* login) {
    (void)login;
    return TokenState::kFailed;
  }
};

// The first pause before connecting again; it doubles up to the interval.
constexpr uint64_t kFirstReconnectMs = 2000;

class CheckCycle : private MailSink {
 public:
  using SourceFactory =
      std::function<std::unique_ptr<MailSource>(const config::AppSettings&, MailSink&, const commlog::CommLog&)>;

  // `mailbox` decides on each message and counts; it outlives the cycle.
  CheckCycle(const config::AppSettings& settings, MailboxCheck& mailbox, CheckCycleHost& host,
             const commlog::CommLog& log, SourceFactory factory = makeMailSource);
  ~CheckCycle() override;

  // A check by the timer or the menu (the caller has checked `busy`): a
  // new session, or a connected one looks for new mail at once.
  void startCheck(uint64_t nowMs);
  void onSocketEvent(int event);
  // Every second: the session's clock and a reconnection when it is due.
  void onWatchTick(uint64_t nowMs);
  // When onWatchTick next has work (0: none): a host without a timer of
  // its own sleeps until then (a session waiting in IDLE asks for its
  // re-issue only).
  uint64_t nextWatchTickMs(uint64_t nowMs) const;
  // The answer to a pending sessionToken: the session connects, or the
  // failure is counted as if it had come at once. Ignored when none is pending.
  void onSessionToken(TokenState state, const BearerLogin& login);
  bool tokenPending() const { return tokenPending_; }
  // WM_USER+3: shows the summary; true when the batch stored mails (the
  // caller plays the sound and processes the command mails).
  bool onCheckFinished();
  // WM_USER+10.
  void onProcessingFinished();
  // The settings changed: a connected session that no longer matches them
  // logs out, and one for the new settings connects.
  void onSettingsChanged(uint64_t nowMs);
  // The program ends: a connected session logs out.
  void stop();

  bool busy() const { return busy_; }
  // The socket of the current session (-1: none).
  intptr_t socketHandle() const { return source_ ? source_->socketHandle() : -1; }
  bool waitingForMail() const { return waiting_; }
  CheckCounts& counts() { return mailbox_.counts(); }
  int failureCount() const { return failureCount_; }
  // The token endpoint refused the grant: the user must sign in again.
  bool signInNeeded() const { return signInNeeded_; }
  // The pause before the next connection attempt (0: none planned).
  uint64_t reconnectDelayMs() const { return reconnectAt_ ? lastDelayMs_ : 0; }

 private:
  void beginBatch();
  void openSource(uint64_t nowMs);
  void connect(TokenState state);
  void scheduleReconnect(uint64_t nowMs);
  void showWaiting();
  uint64_t intervalMs() const;
  std::string accountKey() const;

  // MailSink: the mailbox check decides.
  pop3::MessagePlan planMessage(const pop3::ListedMessage& message) override;
  pop3::MessageAnswer onMessage(const pop3::ListedMessage& message, const char* data, size_t length) override;
  void onUnreceivable(const pop3::ListedMessage& message, uint64_t received) override;
  bool wantsHeaderIds() const override { return mailbox_.wantsHeaderIds(); }
  std::string headerId(const char* header, size_t length) override { return mailbox_.headerId(header, length); }
  void onMailboxDone(const std::vector<pop3::ListedMessage>& listing, bool withIds) override;
  void onBatchEnded() override;
  void onWaiting() override;
  void onFailure() override;
  void onSourceEnded() override;
  const BearerLogin* bearerLogin() const override { return bearer_ ? &login_ : nullptr; }
  int newMailCount() const override { return mailbox_.counts().newMailCount; }
  bool requestNotifications(net::TcpSocket& socket, int* error) override;
  void cancelNotifications(net::TcpSocket& socket) override;

  const config::AppSettings& settings_;
  MailboxCheck& mailbox_;
  CheckCycleHost& host_;
  const commlog::CommLog& log_;
  SourceFactory factory_;
  std::unique_ptr<MailSource> source_;
  std::unique_ptr<MailSource> finished_;  // an ended source, freed outside its own calls
  std::string sourceKey_;

  bool busy_ = false;
  bool reported_ = false;  // WM_USER+3 posted for the current batch
  bool waiting_ = false;
  bool stopping_ = false;
  int failureCount_ = 0;
  bool signInNeeded_ = false;
  bool bearer_ = false;  // login_ holds the token of the current session
  bool tokenPending_ = false;
  BearerLogin login_;
  std::string summary_;
  uint64_t nowMs_ = 0;
  uint64_t reconnectAt_ = 0;
  uint64_t nextDelayMs_ = kFirstReconnectMs;
  uint64_t lastDelayMs_ = 0;
};

// The title while a connected session waits for new mail: the last
// summary and "受信待機中".
std::string checkWaitingTitle(const std::string& summary);

}  // namespace check
