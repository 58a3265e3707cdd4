// Failures a user can meet before or between the steps of a session: a
// server that hangs up at once or refuses from the start, notifications
// that cannot be set up, a read notification with nothing to read, and a
// close notification with data still waiting.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/File.h"
#include "pop3/Pop3Session.h"
#include "Pop3TestAccount.h"
#include "ScriptedServer.h"
#include "support/TempDir.h"

namespace {

using testsupport::ScriptedServer;

// Like the main window: notifications make the socket non-blocking.
struct NotifyingHost : pop3::Pop3Host {
  int refuseWith = 0;  // error of a refused request for notifications
  int failures = 0, ended = 0;
  pop3::MessageAnswer onMessageComplete(const pop3::ListedMessage&, const char*, size_t) override {
    return pop3::MessageAnswer::kKeep;
  }
  void onSessionFailed() override { ++failures; }
  void onSessionEnded() override { ++ended; }
  int newMailCount() const override { return 0; }
  bool requestNotifications(net::TcpSocket& socket, int* error) override {
    if (refuseWith) {
      *error = refuseWith;
      return false;
    }
    int fd = static_cast<int>(socket.handle());
    return ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL, 0) | O_NONBLOCK) == 0;
  }
  bool cancelNotifications(net::TcpSocket&, int*) override { return true; }
};

class Pop3ErrorPaths : public ::testing::Test {
 protected:
  pop3::Pop3Account account(uint16_t port) { return testsupport::testAccount(port); }
  std::vector<std::string> logLines() { return testsupport::commLogLines(log_); }
  // expected, in this order, among the log's lines.
  void expectInOrder(const std::vector<std::string>& expected) {
    std::vector<std::string> lines = logLines();
    auto at = lines.begin();
    for (const std::string& want : expected) {
      at = std::find(at, lines.end(), want);
      ASSERT_NE(at, lines.end()) << want << " missing (in order)";
      ++at;
    }
  }

  testsupport::TempDir dir_;
  commlog::CommLog log_{dir_.sjisFile("comm.txt")};
  NotifyingHost host_;
  pop3::Pop3Session session_{host_, log_};
};

const std::string kClosing = "POPサーバ通信を切断しました\r---------------------------";

TEST_F(Pop3ErrorPaths, GreetingThatNeverComesOrRefuses) {
  struct Case {
    std::vector<testsupport::ScriptStep> script;
    int code;
    std::string line;
  } cases[] = {
      {{}, pop3::kNoResponse, "応答なし"},  // accepted, then closed
      {{{"", {"-ERR busy\r\n"}}}, pop3::kRefused, "サーバが応答を拒否しました"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ScriptedServer server(c.script);
    pop3::Pop3Session session(host_, log_);
    EXPECT_EQ(session.open(account(server.port())), c.code);
    EXPECT_EQ(logLines().back(), c.line);
    EXPECT_TRUE(server.commands().empty());  // not even USER
  }
}

TEST_F(Pop3ErrorPaths, RefusedNotificationsFailTheOpenAndTheAbortSaysGoodbye) {
  ScriptedServer server(std::vector<testsupport::ScriptStep>{{"", {"+OK\r\n"}}});
  host_.refuseWith = 10022;
  EXPECT_EQ(session_.open(account(server.port())), pop3::kSelectFailed);
  EXPECT_EQ(logLines().back(), "ERROR [10022] AsyncSelect失敗");
  session_.abort();  // as the main window does after a failed open
  EXPECT_FALSE(session_.isOpen());
  EXPECT_EQ(host_.failures, 1);
  EXPECT_EQ(host_.ended, 1);
  expectInOrder({"異常データ受信", "> QUIT", kClosing});
  std::vector<std::string> commands = {"USER taro", "QUIT"};
  EXPECT_EQ(server.commands(), commands);
}

TEST_F(Pop3ErrorPaths, ReadNotificationWithNothingToReadIsIgnored) {
  ScriptedServer server({{"", {"+OK\r\n"}}, {"USER", {"+OK\r\n"}}}, ScriptedServer::Ending::kStall);
  ASSERT_EQ(session_.open(account(server.port())), 0);
  ASSERT_EQ(session_.socket().waitReadable(5000), 1);
  session_.onSocketEvent(pop3::kFdRead);  // "+OK": PASS goes out
  ASSERT_EQ(session_.state(), pop3::kPassSent);
  const std::vector<std::string> before = logLines();
  session_.onSocketEvent(pop3::kFdRead);  // a stale notification: would block
  EXPECT_TRUE(session_.isOpen());
  EXPECT_EQ(session_.state(), pop3::kPassSent);
  EXPECT_EQ(logLines(), before);
  EXPECT_EQ(host_.failures, 0);
}

// Windows may tell of the close before the last data was read: that data
// is handled first, then the session fails.
TEST_F(Pop3ErrorPaths, CloseNotificationHandlesWaitingDataFirst) {
  ScriptedServer server({{"", {"+OK\r\n"}}, {"USER", {"+OK\r\n"}}});
  ASSERT_EQ(session_.open(account(server.port())), 0);
  server.commands();  // the server has answered and hung up
  session_.onSocketEvent(pop3::kFdClose);
  EXPECT_FALSE(session_.isOpen());
  EXPECT_EQ(host_.failures, 1);
  EXPECT_EQ(host_.ended, 1);
  expectInOrder({"FD_CLOSE Event受信", "+OK", "> PASS ********", "異常データ受信", kClosing});
}

}  // namespace
