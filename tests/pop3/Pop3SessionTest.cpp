#include <gtest/gtest.h>

#include <algorithm>
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

struct RecordingHost : pop3::Pop3Host {
  std::vector<std::string> messages;
  std::vector<MessageAnswer> answers;  // per message; Delete when missing
  int failures = 0;
  int ended = 0;
  MessageAnswer onMessageComplete(const char* data, size_t length) override {
    messages.emplace_back(data, length);
    if (session) ids.push_back(session->currentUniqueId());
    return messages.size() <= answers.size() ? answers[messages.size() - 1] : MessageAnswer::kDelete;
  }
  void onSessionFailed() override { ++failures; }
  void onSessionEnded() override { ++ended; }
  int newMailCount() const override { return static_cast<int>(messages.size()); }
  bool requestNotifications(net::TcpSocket&, int*) override { return true; }
  bool cancelNotifications(net::TcpSocket&, int*) override { return true; }
  bool uniqueIds = false;
  pop3::Pop3Session* session = nullptr;
  std::vector<std::string> ids;  // the session's id of each message as it completed
  bool wantsUniqueIds() const override { return uniqueIds; }
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

  std::vector<std::string> expected = {
      "POPサーバに接続しました", "+OK ready", "> USER taro", "+OK", "> PASS ********",
      "+ok logged in", "> STAT", "+OK 2 300", "2通のメールがあります", "> RETR 1",
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
      {"RETR 1", {"+OK " + std::to_string(big.size()) + " octets\r\n", big}},  // over the no-size capacity
      {"DELE 1", {"+OK\r\n"}},
      {"RETR 2", {"+OK\r\n", small}},  // no size: the no-size capacity
      {"DELE 2", {"+OK\r\n"}},
  });
  pop3::UnreceivableMails memory;
  pop3::Pop3Session session(host_, log_, memory);
  ASSERT_EQ(pop3::runSession(session, account(server.port())), 0);
  ASSERT_EQ(host_.messages.size(), 2u);
  EXPECT_TRUE(host_.messages[0] == big);
  EXPECT_EQ(host_.messages[1], small);
  EXPECT_EQ(session.unreceivableCount(), 0);
  EXPECT_FALSE(server.mismatch());
}

// A mail that does not fit stays on the server and is remembered by its
// UIDL, or by number and LIST size without UIDL (renumbered past deleted
// messages); the next check skips it without RETR; once it has left the
// server it is forgotten.
TEST_F(Pop3SessionTest, MailThatDoesNotFitIsRememberedAndSkipped) {
  const std::string fits = "Subject: fits\r\n\r\nshort\r\n.\r\n";
  const std::string liar = "Subject: liar\r\n\r\n" + std::string(200, 'x') + "\r\n.\r\n";
  const std::vector<ScriptStep> login = {{"", {"+OK\r\n"}}, {"USER", {"+OK\r\n"}}, {"PASS", {"+OK\r\n"}}};
  auto script = [&](std::vector<ScriptStep> steps) {
    steps.insert(steps.begin(), login.begin(), login.end());
    return steps;
  };
  struct Case {
    const char* name;
    ScriptStep identifyFirst, identifyLater, identifyOther;
    std::vector<std::string> laterCommands, otherCommands;
  } cases[] = {
      {"UIDL", {"UIDL 2", {"+OK 2 uid-liar\r\n"}}, {"UIDL 1", {"+OK 1 uid-liar\r\n"}},
       {"UIDL 1", {"+OK 1 uid-other\r\n"}}, {"STAT", "UIDL 1", "QUIT"}, {"STAT", "UIDL 1", "RETR 1", "DELE 1", "QUIT"}},
      {"no UIDL", {"UIDL 2", {"-ERR unknown command\r\n"}}, {"LIST 1", {"+OK 1 50\r\n"}},
       {"LIST 1", {"+OK 1 51\r\n"}}, {"STAT", "LIST 1", "QUIT"}, {"STAT", "LIST 1", "RETR 1", "DELE 1", "QUIT"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    pop3::UnreceivableMails memory;
    std::vector<ScriptStep> first = script({{"STAT", {"+OK 2 80\r\n"}},
                                            {"RETR 1", {"+OK 30 octets\r\n" + fits}},
                                            {"DELE 1", {"+OK\r\n"}},
                                            {"RETR 2", {"+OK 50 octets\r\n", liar}},  // sends more than it said
                                            c.identifyFirst});
    if (c.identifyFirst.chunks[0][0] == '-') first.push_back({"LIST 2", {"+OK 2 50\r\n"}});
    const std::vector<ScriptStep> sessions[] = {
        first,
        script({{"STAT", {"+OK 1 50\r\n"}}, c.identifyLater}),
        script({{"STAT", {"+OK 1 51\r\n"}}, c.identifyOther, {"RETR 1", {"+OK 30\r\n" + fits}}, {"DELE 1", {"+OK\r\n"}}}),
    };
    const int unreceivable[] = {1, 1, 0};
    const size_t remembered[] = {1, 1, 0};
    for (int i = 0; i < 3; ++i) {
      SCOPED_TRACE(i);
      platform::removeFile(log_.path().c_str());
      ScriptedServer server(sessions[i]);
      RecordingHost host;
      pop3::Pop3Session session(host, log_, memory);
      ASSERT_EQ(pop3::runSession(session, account(server.port())), 0);
      EXPECT_FALSE(server.mismatch());
      EXPECT_EQ(host.failures, 0);
      EXPECT_EQ(session.unreceivableCount(), unreceivable[i]);
      EXPECT_EQ(memory.size(), remembered[i]);
      std::vector<std::string> lines = logLines();
      std::vector<std::string> afterLogin(server.commands().begin() + 2, server.commands().end());
      if (i == 0) {
        EXPECT_EQ(host.messages, std::vector<std::string>{fits});
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "メモリバッファオーバー発生"), 1);
        EXPECT_NE(std::find(lines.begin(), lines.end(),
                            "メール2は大きすぎて受信できません(" + std::to_string(liar.size()) + "バイト)。サーバに残します"),
                  lines.end());
      } else if (i == 1) {
        EXPECT_EQ(afterLogin, c.laterCommands);
        EXPECT_NE(std::find(lines.begin(), lines.end(),
                            "メール1は受信できないメールのため受信しません(" + std::to_string(liar.size()) + "バイト)"),
                  lines.end());
      } else {
        EXPECT_EQ(afterLogin, c.otherCommands);
      }
    }
  }
}

TEST_F(Pop3SessionTest, UniqueIdBeforeEachRetrWhenTheHostWantsIt) {
  std::string mail = "Subject: a\r\n\r\nx\r\n.\r\n";
  ScriptedServer server({
      {"", {"+OK\r\n"}}, {"USER", {"+OK\r\n"}}, {"PASS", {"+OK\r\n"}}, {"STAT", {"+OK 2 9\r\n"}},
      {"UIDL 1", {"+OK 1 AbC.17\r\n"}}, {"RETR 1", {"+OK\r\n", mail}},
      {"UIDL 2", {"-ERR no such command\r\n"}}, {"RETR 2", {"+OK\r\n", mail}},
  });
  host_.uniqueIds = true;
  host_.answers = {MessageAnswer::kKeep, MessageAnswer::kKeep};
  pop3::Pop3Session session(host_, log_);
  host_.session = &session;
  ASSERT_EQ(pop3::runSession(session, account(server.port())), 0);
  EXPECT_EQ(server.commands(),
            (std::vector<std::string>{"USER taro", "PASS himitsu", "STAT", "UIDL 1", "RETR 1", "UIDL 2", "RETR 2", "QUIT"}));
  EXPECT_EQ(host_.ids, (std::vector<std::string>{"AbC.17", ""}));
  EXPECT_EQ(host_.failures, 0);
  EXPECT_EQ(pop3::replyWord("+OK 3 id-3\r\n", 2), "id-3");
  EXPECT_EQ(pop3::replyWord("+OK 3", 2), "");
}

TEST_F(Pop3SessionTest, ServerThatClosesOrFallsSilentEndsTheSession) {
  {
    ScriptedServer server({{"", {"+OK\r\n"}}, {"USER", {"+OK\r\n"}}, {"PASS", {"+OK\r\n"}},
                           {"STAT", {"+OK 1 9\r\n"}}, {"RETR 1", {"+OK 9\r\nSubject"}}});
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
