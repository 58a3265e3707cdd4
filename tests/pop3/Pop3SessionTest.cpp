#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/File.h"
#include "pop3/Pop3Session.h"
#include "pop3/Pop3SessionLoop.h"
#include "Pop3TestAccount.h"
#include "ScriptedServer.h"
#include "support/TempDir.h"

namespace {

using pop3::MessageAnswer;
using testsupport::ScriptedServer;
using testsupport::ScriptStep;

using pop3::ListedMessage;
using pop3::MessagePlan;

struct RecordingHost : pop3::Pop3Host {
  std::vector<std::string> messages;
  std::vector<MessageAnswer> answers;  // per message; Delete when missing
  std::map<std::string, MessagePlan> plans;  // by id; Fetch for the others
  bool headerIds = false;
  int failures = 0;
  int ended = 0;
  std::vector<std::string> planned;  // "number id size" of each message asked about
  std::vector<std::string> unreceivable;  // "number id received"
  std::vector<std::string> done;  // the ids of the listing at the end
  int doneCalls = 0;
  bool doneWithIds = false;

  static std::string text(const ListedMessage& m) {
    return std::to_string(m.number) + " " + m.id + " " + std::to_string(m.size);
  }
  MessagePlan planMessage(const ListedMessage& m) override {
    planned.push_back(text(m));
    auto found = plans.find(m.id);
    return found == plans.end() ? MessagePlan::kFetch : found->second;
  }
  MessageAnswer onMessageComplete(const ListedMessage&, const char* data, size_t length) override {
    messages.emplace_back(data, length);
    return messages.size() <= answers.size() ? answers[messages.size() - 1] : MessageAnswer::kDelete;
  }
  void onUnreceivable(const ListedMessage& m, uint64_t received) override {
    unreceivable.push_back(std::to_string(m.number) + " " + m.id + " " + std::to_string(received));
  }
  bool wantsHeaderIds() const override { return headerIds; }
  // The header block's first line stands for its fingerprint.
  std::string headerId(const char* header, size_t length) override {
    std::string h(header, length);
    return "H:" + h.substr(0, h.find("\r\n"));
  }
  void onMailboxDone(const std::vector<ListedMessage>& listing, bool withIds) override {
    ++doneCalls;
    doneWithIds = withIds;
    for (const ListedMessage& m : listing) done.push_back(m.id);
  }
  void onSessionFailed() override { ++failures; }
  void onSessionEnded() override { ++ended; }
  int newMailCount() const override { return static_cast<int>(messages.size()); }
  bool requestNotifications(net::TcpSocket&, int*) override { return true; }
  bool cancelNotifications(net::TcpSocket&, int*) override { return true; }
};

class Pop3SessionTest : public ::testing::Test {
 protected:
  pop3::Pop3Account account(uint16_t port) { return testsupport::testAccount(port); }
  std::vector<std::string> logLines() {
    std::string tail;
    std::vector<std::string> lines = testsupport::commLogLines(log_, &tail);
    EXPECT_EQ(tail, "") << "log ends without a line end";
    return lines;
  }

  testsupport::TempDir dir_;
  commlog::CommLog log_{dir_.sjisFile("comm.txt")};
  RecordingHost host_;
};

const std::string kClosing = "POPサーバ通信を切断しました\r---------------------------";

TEST_F(Pop3SessionTest, AssemblesStatusLinesAndMessagesAcrossReadBoundaries) {
  const std::string mail1 = "Subject: one\r\n\r\n..dot\r\n.\r\n";
  const std::string mail2Head = "Subject: two\r\n\r\n";
  ScriptedServer server({
      {"", {"+OK rea", "dy\r\n"}},
      {"USER taro", {"+OK\r\n"}},
      {"PASS himitsu", {"+ok logged in\r\n"}},
      {"STAT", {"+OK 2 300\r\n"}},
      // A listing split across reads, its end sequence too.
      {"UIDL", {"+OK\r\n1 a\r\n2 ", "b\r\n.", "\r\n"}},
      {"LIST", {"+OK 2 messages\r\n1 30\r\n2 64\r\n.\r\n"}},
      // Status line and the whole message in one segment.
      {"RETR 1", {"+OK " + std::to_string(mail1.size()) + " octets\r\n" + mail1}},
      {"DELE 1", {"+OK deleted\r\n"}},
      // Status line split; data chunks that begin with "-ERR" or hold one
      // byte; the end sequence split after CR LF ".".
      {"RETR 2", {"+OK 6", "4 octets\r\n" + mail2Head, "-ERR is just text\r\n", "x",
                  "\r\n.", "\r\n"}},
  });
  host_.answers = {MessageAnswer::kDelete, MessageAnswer::kKeep};
  pop3::Pop3Session session(host_, log_);
  ASSERT_EQ(pop3::runSession(session, account(server.port())), 0);

  ASSERT_EQ(host_.messages.size(), 2u);
  EXPECT_EQ(host_.messages[0], mail1);
  EXPECT_EQ(host_.messages[1], mail2Head + "-ERR is just text\r\nx\r\n.\r\n");
  EXPECT_EQ(host_.failures, 0);
  EXPECT_EQ(host_.ended, 1);
  EXPECT_FALSE(server.mismatch());
  EXPECT_EQ(server.commands().back(), "QUIT");
  EXPECT_EQ(host_.planned, (std::vector<std::string>{"1 a 30", "2 b 64"}));
  EXPECT_EQ(host_.done, (std::vector<std::string>{"a", "b"}));

  std::vector<std::string> expected = {
      "POPサーバに接続しました", "+OK ready", "> USER taro", "+OK", "> PASS ********",
      "+ok logged in", "> STAT", "+OK 2 300", "2通のメールがあります", "> UIDL", "+OK", "> LIST",
      "+OK 2 messages", "> RETR 1",
      "+OK " + std::to_string(mail1.size()) + " octets", "ダウンロード完了", "> DELE 1",
      "+OK deleted", "> RETR 2", "+OK 64 octets", "ダウンロード完了", "> QUIT", kClosing};
  EXPECT_EQ(logLines(), expected);
  for (const std::string& line : logLines()) EXPECT_EQ(line.find("himitsu"), std::string::npos);
}

TEST_F(Pop3SessionTest, ErrAfterPassIsLoggedInOrderAndEndsTheSession) {
  ScriptedServer server({
      {"", {"+OK ready\r\n"}},
      {"USER", {"+OK\r\n"}},
      {"PASS", {"-ERR [AUTH] Authentication failed.\r\n"}},
  });
  pop3::Pop3Session session(host_, log_);
  ASSERT_EQ(pop3::runSession(session, account(server.port())), 0);
  EXPECT_EQ(host_.failures, 1);
  EXPECT_EQ(host_.ended, 1);
  std::vector<std::string> expected = {
      "POPサーバに接続しました", "+OK ready", "> USER taro", "+OK", "> PASS ********",
      "サーバが応答を拒否しました", "応答エラーでクローズ実行", "異常データ受信",
      "-ERR [AUTH] Authentication failed.", "> QUIT", kClosing};
  EXPECT_EQ(logLines(), expected);
}

TEST_F(Pop3SessionTest, EmptyMailboxQuitsWithoutRetr) {
  ScriptedServer server({{"", {"+OK\r\n"}}, {"USER", {"+OK\r\n"}}, {"PASS", {"+OK\r\n"}},
                         {"STAT", {"+OK 0 0\r\n"}}});
  pop3::Pop3Session session(host_, log_);
  ASSERT_EQ(pop3::runSession(session, account(server.port())), 0);
  EXPECT_TRUE(host_.messages.empty());
  EXPECT_EQ(host_.ended, 1);
  std::vector<std::string> commands = {"USER taro", "PASS himitsu", "STAT", "QUIT"};
  EXPECT_EQ(server.commands(), commands);
  std::vector<std::string> lines = logLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], "新着メールはありません");
}

TEST_F(Pop3SessionTest, BufferFollowsTheAnnouncedSize) {
  const std::string big = "Subject: big\r\n\r\n" + std::string(12 * 1000 * 1000, 'a') + "\r\n.\r\n";
  const std::string small = "Subject: small\r\n\r\n" + std::string(50000, 'b') + "\r\n.\r\n";
  ScriptedServer server({
      {"", {"+OK\r\n"}}, {"USER", {"+OK\r\n"}}, {"PASS", {"+OK\r\n"}}, {"STAT", {"+OK 2 9\r\n"}},
      {"UIDL", {"+OK\r\n1 a\r\n2 b\r\n.\r\n"}}, {"LIST", {"+OK\r\n1 9\r\n2 9\r\n.\r\n"}},
      {"RETR 1", {"+OK " + std::to_string(big.size()) + " octets\r\n", big}},  // over the no-size capacity
      {"DELE 1", {"+OK\r\n"}},
      {"RETR 2", {"+OK\r\n", small}},  // no size: the no-size capacity
      {"DELE 2", {"+OK\r\n"}},
  });
  pop3::Pop3Session session(host_, log_);
  ASSERT_EQ(pop3::runSession(session, account(server.port())), 0);
  ASSERT_EQ(host_.messages.size(), 2u);
  EXPECT_TRUE(host_.messages[0] == big);
  EXPECT_EQ(host_.messages[1], small);
  EXPECT_TRUE(host_.unreceivable.empty());
  EXPECT_FALSE(server.mismatch());
}

// After STAT the session asks UIDL and LIST once; the host plans each
// message by its id and size: fetch (RETR, then DELE or keep), delete
// without fetching, or leave. Ids that are not RFC 1939 ids, or that the
// listing gives to several messages, reach the host empty.
TEST_F(Pop3SessionTest, ListingOnceThenEachMessageAsTheHostPlansIt) {
  const std::string mail = "Subject: a\r\n\r\nx\r\n.\r\n";
  const std::string longId(71, 'l');
  ScriptedServer server({
      {"", {"+OK\r\n"}}, {"USER", {"+OK\r\n"}}, {"PASS", {"+OK\r\n"}}, {"STAT", {"+OK 6 99\r\n"}},
      {"UIDL", {"+OK\r\n1 keep\r\n2 ..dot\r\n3 twice\r\n4 twice\r\n5 " + longId + "\r\n6 gone\r\n.\r\n"}},
      {"LIST", {"+OK\r\n1 11\r\n2 12\r\n3 13\r\n4 14\r\n5 15\r\n6 16\r\n.\r\n"}},
      {"RETR 1", {"+OK\r\n" + mail}},  // kept: no DELE
      {"DELE 2", {"+OK\r\n"}},         // deleted unfetched
      {"RETR 3", {"+OK\r\n" + mail}}, {"DELE 3", {"+OK\r\n"}},
      {"RETR 4", {"+OK\r\n" + mail}}, {"DELE 4", {"+OK\r\n"}},
      {"RETR 5", {"+OK\r\n" + mail}}, {"DELE 5", {"+OK\r\n"}},
  });
  host_.answers = {MessageAnswer::kKeep};
  host_.plans = {{"..dot", MessagePlan::kDeleteUnfetched}, {"gone", MessagePlan::kLeave}};
  pop3::Pop3Session session(host_, log_);
  ASSERT_EQ(pop3::runSession(session, account(server.port())), 0);
  EXPECT_FALSE(server.mismatch());
  EXPECT_EQ(server.commands().back(), "QUIT");
  EXPECT_EQ(host_.failures, 0);
  EXPECT_EQ(host_.planned, (std::vector<std::string>{"1 keep 11", "2 ..dot 12", "3  13", "4  14", "5  15", "6 gone 16"}));
  EXPECT_EQ(host_.messages.size(), 4u);
  EXPECT_EQ(host_.doneCalls, 1);
  EXPECT_TRUE(host_.doneWithIds);
  std::vector<std::string> lines = logLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "同じUIDLを持つメールが2通あります。これらは受信済みか見分けられません"), 1);
}

// Without UIDL the host may know messages by their header block (TOP n 0);
// a server without TOP leaves them without ids. A mail that does not fit
// reaches the host with its id (without UIDL, its header block's).
TEST_F(Pop3SessionTest, WithoutUidlHeaderBlocksAndMailsThatDoNotFit) {
  const std::string fits = "Subject: fits\r\n\r\nshort\r\n.\r\n";
  const std::string liar = "Subject: liar\r\n\r\n" + std::string(200, 'x') + "\r\n.\r\n";
  const std::string received = std::to_string(liar.size());
  const ScriptStep uidl = {"UIDL", {"+OK\r\n1 u1\r\n2 u2\r\n.\r\n"}};
  const ScriptStep noUidl = {"UIDL", {"-ERR unknown command\r\n"}};
  const ScriptStep list = {"LIST", {"+OK\r\n1 30\r\n2 50\r\n.\r\n"}};
  const ScriptStep top2 = {"TOP 2 0", {"+OK\r\n", "Subject: liar\r\n\r\n.\r\n"}};
  struct Case {
    const char* name;
    bool headerIds;
    std::vector<ScriptStep> listing, afterLiar;
    std::vector<std::string> planned, unreceivable;
    std::string logged;
  } cases[] = {
      {"UIDL", false, {uidl, list}, {}, {"1 u1 30", "2 u2 50"}, {"2 u2 " + received}, ""},
      {"no UIDL, no fingerprints", false, {noUidl, list}, {top2}, {"1  30", "2  50"},
       {"2 H:Subject: liar " + received}, "サーバがUIDLに対応していないため、受信済みのメールを見分けられません"},
      {"no UIDL, fingerprints", true,
       {noUidl, list, {"TOP 1 0", {"+OK\r\nSubject: fits\r\n\r\n.\r\n"}}, top2}, {},
       {"1 H:Subject: fits 30", "2 H:Subject: liar 50"}, {"2 H:Subject: liar " + received},
       "サーバがUIDLに対応していないため、メールをヘッダの指紋で見分けます"},
      {"no UIDL, no TOP", true, {noUidl, list, {"TOP 1 0", {"-ERR no TOP\r\n"}}},
       {}, {"1  30", "2  50"}, {"2  " + received},
       "サーバがTOPに対応していないため、メールをヘッダで見分けられません"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::removeFile(log_.path().c_str());
    std::vector<ScriptStep> script = {{"", {"+OK\r\n"}}, {"USER", {"+OK\r\n"}}, {"PASS", {"+OK\r\n"}},
                                      {"STAT", {"+OK 2 80\r\n"}}};
    script.insert(script.end(), c.listing.begin(), c.listing.end());
    script.push_back({"RETR 1", {"+OK 30 octets\r\n" + fits}});
    script.push_back({"DELE 1", {"+OK\r\n"}});
    script.push_back({"RETR 2", {"+OK 50 octets\r\n", liar}});  // sends more than it said
    script.insert(script.end(), c.afterLiar.begin(), c.afterLiar.end());
    ScriptedServer server(script);
    RecordingHost host;
    host.headerIds = c.headerIds;
    pop3::Pop3Session session(host, log_);
    ASSERT_EQ(pop3::runSession(session, account(server.port())), 0);
    EXPECT_FALSE(server.mismatch());
    EXPECT_EQ(server.commands().back(), "QUIT");
    EXPECT_EQ(host.failures, 0);
    EXPECT_EQ(host.planned, c.planned);
    EXPECT_EQ(host.messages, std::vector<std::string>{fits});
    EXPECT_EQ(host.unreceivable, c.unreceivable);
    std::vector<std::string> lines = logLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "メモリバッファオーバー発生"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "メール2は大きすぎて受信できません(" + received + "バイト)。サーバに残します"),
              1);
    if (!c.logged.empty()) {
      EXPECT_EQ(std::count(lines.begin(), lines.end(), c.logged), 1);
    }
  }
}

TEST_F(Pop3SessionTest, ServerThatClosesOrFallsSilentEndsTheSession) {
  {
    ScriptedServer server({{"", {"+OK\r\n"}}, {"USER", {"+OK\r\n"}}, {"PASS", {"+OK\r\n"}},
                           {"STAT", {"+OK 1 9\r\n"}}, {"UIDL", {"+OK\r\n1 a\r\n.\r\n"}},
                           {"LIST", {"+OK\r\n1 9\r\n.\r\n"}}, {"RETR 1", {"+OK 9\r\nSubject"}}});
    pop3::Pop3Session session(host_, log_);
    ASSERT_EQ(pop3::runSession(session, account(server.port())), 0);
    EXPECT_TRUE(host_.messages.empty());
    EXPECT_EQ(host_.failures, 1);
    EXPECT_EQ(host_.ended, 1);
  }
  {
    ScriptedServer server({{"", {"+OK\r\n"}}, {"USER", {"+OK\r\n"}}}, ScriptedServer::Ending::kStall);
    RecordingHost host;
    pop3::Pop3Session session(host, log_);
    ASSERT_EQ(session.open(account(server.port())), 0);
    session.onSocketEvent(pop3::kFdRead);  // "+OK" to USER: PASS goes out
    EXPECT_EQ(session.state(), pop3::kPassSent);
    session.onIdleCheck(platform::monotonicMs() + 1000);
    EXPECT_TRUE(session.isOpen());
    session.onIdleCheck(platform::monotonicMs() + pop3::kSilenceLimitMs + 1);
    EXPECT_FALSE(session.isOpen());
    EXPECT_EQ(host.failures, 1);
    EXPECT_EQ(host.ended, 1);
  }
}

TEST_F(Pop3SessionTest, ConnectionFailuresReturnTheirCodes) {
  pop3::Pop3Session session(host_, log_);
  net::setResolver([](const char*, uint32_t*) { return false; });
  EXPECT_EQ(session.open(account(110)), pop3::kResolveFailed);
  net::setResolver(nullptr);
  uint16_t freePort;
  { ScriptedServer probe({}); freePort = probe.port(); }
  pop3::Pop3Session refused(host_, log_);
  EXPECT_EQ(refused.open(account(freePort)), pop3::kConnectFailed);
  std::vector<std::string> lines = logLines();
  std::vector<std::string> expected = {"POPサーバが見つかりません", "POPサーバに接続できません"};
  EXPECT_EQ(lines, expected);
}

TEST(Pop3Reply, NumbersAndPositiveReplies) {
  EXPECT_EQ(pop3::replyNumber("+OK 3 5120"), 3);
  EXPECT_EQ(pop3::replyNumber("+OK 5120 octets"), 5120);
  EXPECT_EQ(pop3::replyNumber("+OK"), 0);
  EXPECT_EQ(pop3::replyNumber("+OK message follows"), 0);
  EXPECT_TRUE(pop3::isPositive("+ok"));
  EXPECT_TRUE(pop3::isPositive("+Ok fine"));
  EXPECT_FALSE(pop3::isPositive("-ERR"));
  EXPECT_FALSE(pop3::isPositive("+O"));
}

}  // namespace
