// The check cycle against a scripted mail source: batches, push, holding
// new mail while commands run, the titles and the reconnection backoff.
#include <cstring>
#include <string>
#include <vector>

#include "check/CheckCycle.h"
#include "check/CheckSummary.h"
#include "store/StoreFixture.h"

namespace storetest {
namespace {

// A source whose behaviour the test plays: it records what the cycle asks.
struct FakeSource : check::MailSource {
  check::MailSink& sink;
  bool stays;
  bool opens;
  bool open_ = false;
  std::vector<std::string>* calls;
  FakeSource(check::MailSink& s, bool stay, bool opensOk, std::vector<std::string>* c)
      : sink(s), stays(stay), opens(opensOk), calls(c) {}
  bool open() override {
    calls->push_back("open");
    if (!opens) {
      sink.onFailure();
      sink.onSourceEnded();
      return false;
    }
    open_ = true;
    return true;
  }
  void onSocketEvent(int) override {}
  void tick(uint64_t) override {}
  void stop() override { calls->push_back("stop"); }
  bool isOpen() const override { return open_; }
  intptr_t socketHandle() const override { return -1; }
  bool staysConnected() const override { return stays; }
  void checkNow() override { calls->push_back("checkNow"); }
  void hold(bool held) override { calls->push_back(held ? "hold" : "release"); }
};

class CheckCycleTest : public StoreTest, public check::CheckCycleHost {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    std::memset(&settings_, 0, sizeof settings_);
    config::applyDefaults(settings_, "C:\\start");
    std::strcpy(settings_.pop3Server, "mail.example.jp");
    std::strcpy(settings_.accountName, "u");
    std::strcpy(settings_.password, "p");
    settings_.intervalMinutes = 0;
    settings_.intervalSeconds = 20;  // the backoff's cap
    st().createIndex();
  }
  // A message as a source lists it.
  static pop3::ListedMessage listed(const std::string& id) { return pop3::ListedMessage{1, id, 0}; }
  check::CheckCycle& cycle(bool stays, std::vector<bool> opens = {true}) {
    opens_ = opens;
    mailbox_ = std::make_unique<check::MailboxCheck>(settings_, st(), log_);
    cycle_ = std::make_unique<check::CheckCycle>(
        settings_, *mailbox_, *this, log_,
        [this, stays](const config::AppSettings&, check::MailSink& sink, const commlog::CommLog&) {
          bool ok = opened_ < opens_.size() ? opens_[opened_] : opens_.back();
          ++opened_;
          auto source = std::make_unique<FakeSource>(sink, stays, ok, &calls_);
          source_ = source.get();
          sink_ = &sink;
          return source;
        });
    return *cycle_;
  }
  void setTitle(const std::string& sjis) override { titles_.push_back(sjis); }
  void onBatchStarted() override { ++batches_; }
  void postCheckFinished() override { ++finished_; }
  bool requestNotifications(net::TcpSocket&, int*) override { return true; }
  void cancelNotifications(net::TcpSocket&) override {}
  check::TokenState sessionToken(check::BearerLogin* login) override {
    ++tokenRequests_;
    if (tokenLater_) return check::TokenState::kPending;
    login->token = "tok" + std::to_string(tokenRequests_);
    login->mechanism = oauth::SaslMechanism::kOauthBearer;
    return tokenState_;
  }

  config::AppSettings settings_;
  check::TokenState tokenState_ = check::TokenState::kReady;
  bool tokenLater_ = false;  // the host answers through onSessionToken
  int tokenRequests_ = 0;
  std::unique_ptr<check::MailboxCheck> mailbox_;
  std::unique_ptr<check::CheckCycle> cycle_;
  int batches_ = 0;
  std::vector<bool> opens_;
  size_t opened_ = 0;
  FakeSource* source_ = nullptr;
  check::MailSink* sink_ = nullptr;
  std::vector<std::string> calls_;
  std::vector<std::string> titles_;
  int finished_ = 0;
};

TEST_F(CheckCycleTest, OneBatchPerPop3SessionAndItsSummary) {
  check::CheckCycle& c = cycle(false);
  c.startCheck(0);
  EXPECT_TRUE(c.busy());
  EXPECT_EQ(titles_.back(), check::checkRunningTitle());
  EXPECT_EQ(c.nextWatchTickMs(10), 1010u);  // the session's silence, each second
  std::string mail = mailText(1);
  EXPECT_EQ(sink_->onMessage(listed(""), mail.data(), mail.size()), pop3::MessageAnswer::kDelete);
  sink_->onBatchEnded();
  sink_->onSourceEnded();
  EXPECT_EQ(finished_, 1);  // once, though the session also ended
  EXPECT_TRUE(c.onCheckFinished());
  EXPECT_EQ(titles_.back(), check::checkSummaryTitle(0, 1, 0));
  c.onProcessingFinished();
  EXPECT_FALSE(c.busy());
  EXPECT_EQ(calls_, std::vector<std::string>{"open"});
  EXPECT_EQ(c.reconnectDelayMs(), 0u);  // POP3 never reconnects by itself
}

TEST_F(CheckCycleTest, PushedMailStartsABatchAndWaitsWhileCommandsRun) {
  settings_.receiveProtocol = config::kReceiveImap;
  settings_.keepOnServer = 1;
  check::CheckCycle& c = cycle(true);
  c.startCheck(0);
  sink_->onBatchEnded();  // nothing new
  EXPECT_EQ(finished_, 1);
  EXPECT_FALSE(c.onCheckFinished());
  sink_->onWaiting();
  c.onProcessingFinished();
  EXPECT_EQ(titles_.back(), check::checkWaitingTitle(check::checkSummaryTitle(0, 0, 0)));
  // New mail while idle: a batch of its own, held until its commands ran.
  std::string mail = mailText(2);
  EXPECT_EQ(batches_, 1);
  EXPECT_EQ(sink_->planMessage(listed("7.42")), pop3::MessagePlan::kFetch);
  EXPECT_EQ(sink_->onMessage(listed("7.42"), mail.data(), mail.size()), pop3::MessageAnswer::kKeep);
  EXPECT_TRUE(c.busy());
  EXPECT_EQ(batches_, 2);
  // Kept and remembered by the mailbox memory: left, not fetched again.
  EXPECT_EQ(sink_->planMessage(listed("7.42")), pop3::MessagePlan::kLeave);
  EXPECT_EQ(sink_->planMessage(listed("7.43")), pop3::MessagePlan::kFetch);
  sink_->onBatchEnded();
  EXPECT_EQ(finished_, 2);
  EXPECT_TRUE(c.onCheckFinished());
  sink_->onWaiting();
  EXPECT_EQ(titles_.back(), check::checkSummaryTitle(0, 1, 0));  // busy: no waiting title yet
  c.onProcessingFinished();
  EXPECT_EQ(titles_.back(), check::checkWaitingTitle(check::checkSummaryTitle(0, 1, 0)));
  // A push search that finds nothing changes nothing.
  sink_->onBatchEnded();
  EXPECT_EQ(finished_, 2);
  // The timer's check asks the connected session instead of a new one.
  c.startCheck(5000);
  EXPECT_EQ(calls_, (std::vector<std::string>{"open", "hold", "release", "hold", "release", "checkNow"}));
}

TEST_F(CheckCycleTest, LostConnectionIsMadeAgainWithBackoffUpToTheInterval) {
  settings_.receiveProtocol = config::kReceiveImap;
  check::CheckCycle& c = cycle(true, {true, false, false, false, false, true});
  c.startCheck(0);
  sink_->onBatchEnded();
  c.onCheckFinished();
  c.onProcessingFinished();
  sink_->onWaiting();
  // The server goes away.
  sink_->onFailure();
  sink_->onSourceEnded();
  source_->open_ = false;
  EXPECT_EQ(c.nextWatchTickMs(500), 2000u);  // the watch wakes for the reconnection only
  EXPECT_EQ(titles_.back(), check::checkSummaryTitle(1, 0, 0));
  std::vector<uint64_t> delays;
  uint64_t now = 0;
  for (int attempt = 0; attempt < 5; ++attempt) {
    delays.push_back(c.reconnectDelayMs());
    now += c.reconnectDelayMs() - 1;
    size_t before = opened_;
    c.onWatchTick(now);  // not yet due
    EXPECT_EQ(opened_, before);
    c.onWatchTick(++now);
    EXPECT_EQ(opened_, before + 1);
  }
  EXPECT_EQ(delays, (std::vector<uint64_t>{2000, 4000, 8000, 16000, 20000}));
  // Connected again: waiting, and the next loss starts from 2 s.
  sink_->onWaiting();
  EXPECT_EQ(titles_.back(), check::checkWaitingTitle(check::checkSummaryTitle(0, 0, 0)));
  EXPECT_FALSE(c.busy());
  sink_->onSourceEnded();
  EXPECT_EQ(c.reconnectDelayMs(), 2000u);
  // Stopped (the program ends): no more attempts.
  c.stop();
  c.onWatchTick(now + 100000);
  EXPECT_EQ(opened_, 6u);
}

TEST_F(CheckCycleTest, FailedFirstConnectionEndsTheCheckWithAFailure) {
  settings_.receiveProtocol = config::kReceiveImap;
  check::CheckCycle& c = cycle(true, {false});
  c.startCheck(0);
  EXPECT_EQ(finished_, 1);
  EXPECT_EQ(c.nextWatchTickMs(3000), 0u);  // due, but not before the batch has ended
  EXPECT_FALSE(c.onCheckFinished());
  EXPECT_EQ(titles_.back(), check::checkSummaryTitle(1, 0, 0));
  EXPECT_EQ(c.reconnectDelayMs(), 2000u);
  c.onProcessingFinished();
  EXPECT_EQ(c.nextWatchTickMs(3000), 2000u);
}

TEST_F(CheckCycleTest, ChangedAccountCutsTheSessionAndConnectsAnew) {
  settings_.receiveProtocol = config::kReceiveImap;
  check::CheckCycle& c = cycle(true);
  c.startCheck(0);
  sink_->onBatchEnded();
  c.onCheckFinished();
  c.onProcessingFinished();
  c.onSettingsChanged(100);  // nothing that matters changed
  EXPECT_EQ(opened_, 1u);
  std::strcpy(settings_.imapFolder, "監視");
  c.onSettingsChanged(200);
  EXPECT_EQ(opened_, 2u);
  settings_.receiveProtocol = config::kReceivePop3;  // back to POP3: no session stays
  c.onSettingsChanged(300);
  EXPECT_EQ(opened_, 2u);
}

TEST_F(CheckCycleTest, PasswordLoginAsksForNoToken) {
  check::CheckCycle& c = cycle(false);
  c.startCheck(0);
  EXPECT_EQ(tokenRequests_, 0);
  EXPECT_EQ(sink_->bearerLogin(), nullptr);
}

TEST_F(CheckCycleTest, OAuthLoginTakesAFreshTokenForEachConnection) {
  settings_.receiveAuth = config::kAuthOAuth;
  check::CheckCycle& c = cycle(false);
  c.startCheck(0);
  EXPECT_EQ(tokenRequests_, 1);
  ASSERT_NE(sink_->bearerLogin(), nullptr);
  EXPECT_EQ(sink_->bearerLogin()->token, "tok1");
  EXPECT_EQ(sink_->bearerLogin()->mechanism, oauth::SaslMechanism::kOauthBearer);
  sink_->onBatchEnded();
  sink_->onSourceEnded();
  c.onCheckFinished();
  c.onProcessingFinished();
  c.startCheck(1000);
  EXPECT_EQ(tokenRequests_, 2);
  EXPECT_EQ(sink_->bearerLogin()->token, "tok2");
}

TEST_F(CheckCycleTest, RefusedGrantEndsTheCheckAndAsksForSignIn) {
  settings_.receiveAuth = config::kAuthOAuth;
  settings_.receiveProtocol = config::kReceiveImap;
  tokenState_ = check::TokenState::kSignInNeeded;
  check::CheckCycle& c = cycle(true);
  c.startCheck(0);
  EXPECT_EQ(opened_, 0u);  // no session without a token
  EXPECT_EQ(finished_, 1);
  EXPECT_TRUE(c.signInNeeded());
  EXPECT_FALSE(c.onCheckFinished());
  EXPECT_EQ(titles_.back(), check::signInNeededTitle());
  EXPECT_EQ(c.reconnectDelayMs(), 0u);  // waits for a new sign-in
  c.onProcessingFinished();
  // Signed in again: the next check connects.
  tokenState_ = check::TokenState::kReady;
  c.startCheck(5000);
  EXPECT_EQ(opened_, 1u);
  EXPECT_FALSE(c.signInNeeded());
}

TEST_F(CheckCycleTest, TokenEndpointFailureIsAFailureAndImapTriesAgain) {
  settings_.receiveAuth = config::kAuthOAuth;
  settings_.receiveProtocol = config::kReceiveImap;
  tokenState_ = check::TokenState::kFailed;
  check::CheckCycle& c = cycle(true);
  c.startCheck(0);
  EXPECT_EQ(opened_, 0u);
  EXPECT_FALSE(c.onCheckFinished());
  EXPECT_EQ(titles_.back(), check::checkSummaryTitle(1, 0, 0));
  c.onProcessingFinished();
  EXPECT_EQ(c.reconnectDelayMs(), 2000u);
  tokenState_ = check::TokenState::kReady;
  c.onWatchTick(2000);
  EXPECT_EQ(opened_, 1u);
}

TEST_F(CheckCycleTest, TokenFetchedOffTheWindowThreadOpensOrFailsWhenItsAnswerComes) {
  settings_.receiveAuth = config::kAuthOAuth;
  settings_.receiveProtocol = config::kReceiveImap;
  tokenLater_ = true;
  struct Row {
    check::TokenState answer;
    size_t opened;
    int finished;
    bool signInNeeded;
    uint64_t reconnectMs;
  } rows[] = {
      {check::TokenState::kReady, 1, 0, false, 0},
      {check::TokenState::kFailed, 0, 1, false, 2000},
      {check::TokenState::kSignInNeeded, 0, 1, true, 0},
  };
  for (const Row& row : rows) {
    finished_ = 0;
    opened_ = 0;
    tokenRequests_ = 0;
    check::CheckCycle& c = cycle(true);
    c.startCheck(0);
    EXPECT_TRUE(c.busy() && c.tokenPending());
    EXPECT_EQ(opened_, 0u);
    c.onWatchTick(60000);  // waiting for the answer asks nothing again
    c.startCheck(61000);
    EXPECT_EQ(tokenRequests_, 1);
    check::BearerLogin login{"late-token", oauth::SaslMechanism::kXoauth2};
    c.onSessionToken(row.answer, login);
    EXPECT_FALSE(c.tokenPending());
    EXPECT_EQ(opened_, row.opened);
    EXPECT_EQ(finished_, row.finished);
    EXPECT_EQ(c.signInNeeded(), row.signInNeeded);
    if (row.opened) EXPECT_EQ(sink_->bearerLogin()->token, "late-token");
    c.onSessionToken(check::TokenState::kReady, login);  // an answer nobody waits for
    EXPECT_EQ(opened_, row.opened);
    if (!row.opened) {
      EXPECT_FALSE(c.onCheckFinished());
      EXPECT_EQ(titles_.back(), row.signInNeeded ? check::signInNeededTitle() : check::checkSummaryTitle(1, 0, 0));
      c.onProcessingFinished();
      EXPECT_EQ(c.reconnectDelayMs(), row.reconnectMs);
    }
  }
  // The program ends while the token is fetched: its answer opens nothing.
  opened_ = 0;
  check::CheckCycle& c = cycle(true);
  c.startCheck(0);
  c.stop();
  c.onSessionToken(check::TokenState::kReady, check::BearerLogin{"t", oauth::SaslMechanism::kXoauth2});
  EXPECT_EQ(opened_, 0u);
}

}  // namespace
}  // namespace storetest

namespace {

TEST(AsPop3Text, DotStuffsAndEndsWithTheFinalLine) {
  struct Row {
    std::string in, out;
  } rows[] = {
      {"Subject: a\r\n\r\nbody\r\n", "Subject: a\r\n\r\nbody\r\n.\r\n"},
      {"Subject: a\r\n\r\n.one\r\n..two\r\n.\r\n", "Subject: a\r\n\r\n..one\r\n...two\r\n..\r\n.\r\n"},
      {"Subject: a\r\n\r\nno line end", "Subject: a\r\n\r\nno line end\r\n.\r\n"},
      {".", "..\r\n.\r\n"},
      {"", "\r\n.\r\n"},
  };
  for (const Row& r : rows) EXPECT_EQ(check::asPop3Text(r.in.data(), r.in.size()), r.out) << r.in;
}

}  // namespace
