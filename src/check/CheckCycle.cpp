#include "check/CheckCycle.h"

#include <algorithm>

#include "check/CheckSummary.h"
#include "platform/Text.h"

namespace check {
namespace {

// The cap of the reconnection pause when no check interval is set.
constexpr uint64_t kLongestReconnectMs = 600000;

}  // namespace

std::string checkWaitingTitle(const std::string& summary) { return summary + "  受信待機中"; }

CheckCycle::CheckCycle(const config::AppSettings& settings, MailboxCheck& mailbox, CheckCycleHost& host,
                       const commlog::CommLog& log, SourceFactory factory)
    : settings_(settings), mailbox_(mailbox), host_(host), log_(log), factory_(std::move(factory)) {}

CheckCycle::~CheckCycle() = default;

void CheckCycle::beginBatch() {
  failureCount_ = 0;
  signInNeeded_ = false;
  mailbox_.begin();
  busy_ = true;
  reported_ = false;
  host_.onBatchStarted();
  host_.setTitle(checkRunningTitle());
}

void CheckCycle::startCheck(uint64_t nowMs) {
  nowMs_ = nowMs;
  finished_.reset();
  stopping_ = false;
  beginBatch();
  if (source_ && source_->isOpen() && source_->staysConnected()) {
    source_->checkNow();
    return;
  }
  openSource(nowMs);
}

void CheckCycle::openSource(uint64_t nowMs) {
  nowMs_ = nowMs;
  reconnectAt_ = 0;
  waiting_ = false;
  if (tokenPending_) return;  // its answer opens the session
  sourceKey_ = accountKey();
  bearer_ = false;
  login_ = BearerLogin();
  if (settings_.receiveAuth != config::kAuthOAuth) return connect(TokenState::kReady);
  TokenState state = host_.sessionToken(&login_);
  if (state == TokenState::kPending) {
    tokenPending_ = true;
    return;
  }
  bearer_ = true;
  connect(state);
}

void CheckCycle::onSessionToken(TokenState state, const BearerLogin& login) {
  if (!tokenPending_) return;
  tokenPending_ = false;
  login_ = login;
  bearer_ = true;
  connect(state);
}

void CheckCycle::connect(TokenState state) {
  if (state != TokenState::kReady) {
    // Without a token there is no session; a refused grant waits for a new sign-in.
    bearer_ = false;
    ++failureCount_;
    signInNeeded_ = state == TokenState::kSignInNeeded;
    if (busy_ && !reported_) {
      reported_ = true;
      host_.postCheckFinished();
    } else if (!busy_) {
      host_.setTitle(signInNeeded_ ? signInNeededTitle() : checkSummaryTitle(1, 0, 0));
    }
    if (settings_.receiveProtocol == config::kReceiveImap && !signInNeeded_ && !stopping_)
      scheduleReconnect(nowMs_);
    return;
  }
  source_ = factory_(settings_, *this, log_);
  source_->open();
}

void CheckCycle::onSocketEvent(int event) {
  if (source_) source_->onSocketEvent(event);
}

void CheckCycle::onWatchTick(uint64_t nowMs) {
  nowMs_ = nowMs;
  finished_.reset();
  if (source_ && source_->isOpen()) source_->tick(nowMs);
  if (reconnectAt_ && nowMs >= reconnectAt_ && !busy_) openSource(nowMs);
}

uint64_t CheckCycle::nextWatchTickMs(uint64_t nowMs) const {
  uint64_t next = source_ && source_->isOpen() ? source_->nextTickMs(nowMs) : 0;
  // A reconnection waits for the batch's end (onProcessingFinished).
  if (reconnectAt_ && !busy_ && (next == 0 || reconnectAt_ < next)) next = reconnectAt_;
  return next;
}

uint64_t CheckCycle::intervalMs() const {
  unsigned period = receiveTimerPeriodMs(settings_.intervalMinutes, settings_.intervalSeconds);
  return period ? period : kLongestReconnectMs;
}

void CheckCycle::scheduleReconnect(uint64_t nowMs) {
  uint64_t delay = std::min(nextDelayMs_, std::max<uint64_t>(intervalMs(), kFirstReconnectMs));
  reconnectAt_ = nowMs + delay;
  nextDelayMs_ = std::min(delay * 2, std::max<uint64_t>(intervalMs(), kFirstReconnectMs));
  lastDelayMs_ = delay;
}

bool CheckCycle::onCheckFinished() {
  // A mail the log could not take is a failure: the title points to the log.
  const CheckCounts& counts = mailbox_.counts();
  summary_ = signInNeeded_ ? signInNeededTitle()
                           : checkSummaryTitle(failureCount_ + counts.storeFailureCount, counts.newMailCount,
                                               counts.spamCount, counts.unreceivableCount);
  host_.setTitle(summary_);
  return counts.newMailCount > 0;
}

void CheckCycle::onProcessingFinished() {
  busy_ = false;
  if (!source_ || !source_->staysConnected() || !source_->isOpen()) return;
  if (waiting_) showWaiting();
  source_->hold(false);  // mail that came meanwhile is fetched now
}

void CheckCycle::showWaiting() {
  host_.setTitle(checkWaitingTitle(summary_.empty() ? std::string(config::kProductName) : summary_));
}

void CheckCycle::onSettingsChanged(uint64_t nowMs) {
  if (busy_) return;
  bool imap = settings_.receiveProtocol == config::kReceiveImap && config::updateServerConfigured(settings_);
  bool live = source_ && source_->staysConnected() && (source_->isOpen() || reconnectAt_);
  if (live && imap && accountKey() == sourceKey_) return;
  if (live) {
    // Another server or protocol: the old session is cut.
    finished_ = std::move(source_);
    waiting_ = false;
    reconnectAt_ = 0;
    nextDelayMs_ = kFirstReconnectMs;
    if (imap) openSource(nowMs);
  }
}

void CheckCycle::stop() {
  stopping_ = true;
  tokenPending_ = false;
  reconnectAt_ = 0;
  if (source_) source_->stop();
}

std::string CheckCycle::accountKey() const {
  const config::AppSettings& s = settings_;
  return std::to_string(s.receiveProtocol) + "\n" + platform::fieldText(s.pop3Server) + "\n" +
         std::to_string(s.pop3Port) + "\n" + platform::fieldText(s.accountName) + "\n" +
         platform::fieldText(s.password) + "\n" + std::to_string(s.pop3Security) + "\n" +
         std::to_string(s.tlsNoVerify) + "\n" + platform::fieldText(s.tlsTrustFile) + "\n" +
         platform::fieldText(s.imapFolder);
}

// ---- MailSink ----

pop3::MessagePlan CheckCycle::planMessage(const pop3::ListedMessage& message) {
  return mailbox_.planMessage(message);
}

pop3::MessageAnswer CheckCycle::onMessage(const pop3::ListedMessage& message, const char* data, size_t length) {
  if (!busy_) beginBatch();  // pushed: new mail starts a batch of its own
  return mailbox_.onMessageComplete(message, data, length);
}

void CheckCycle::onUnreceivable(const pop3::ListedMessage& message, uint64_t received) {
  mailbox_.onUnreceivable(message, received);
}

void CheckCycle::onMailboxDone(const std::vector<pop3::ListedMessage>& listing, bool withIds) {
  mailbox_.onMailboxDone(listing, withIds);
}

void CheckCycle::onBatchEnded() {
  if (!busy_ || reported_) return;  // a pushed search that found nothing
  reported_ = true;
  if (source_ && source_->staysConnected()) source_->hold(true);  // until the commands have run
  host_.postCheckFinished();
}

void CheckCycle::onWaiting() {
  waiting_ = true;
  nextDelayMs_ = kFirstReconnectMs;  // connected again
  if (!busy_) showWaiting();
}

void CheckCycle::onFailure() {
  ++failureCount_;
  if (!busy_) host_.setTitle(checkSummaryTitle(1, 0, 0));
}

void CheckCycle::onSourceEnded() {
  waiting_ = false;
  if (busy_ && !reported_) {
    reported_ = true;
    host_.postCheckFinished();
  }
  if (source_ && source_->staysConnected() && !stopping_ && settings_.receiveProtocol == config::kReceiveImap)
    scheduleReconnect(nowMs_);
}

bool CheckCycle::requestNotifications(net::TcpSocket& socket, int* error) {
  return host_.requestNotifications(socket, error);
}

void CheckCycle::cancelNotifications(net::TcpSocket& socket) { host_.cancelNotifications(socket); }

}  // namespace check
