#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/Base64.h"
#include "pop3/Pop3Session.h"
#include "pop3/Pop3SessionLoop.h"
#include "Pop3TestAccount.h"
#include "ScriptedServer.h"
#include "support/TempDir.h"

namespace {

using testsupport::ScriptedServer;

struct Host : pop3::Pop3Host {
  int failures = 0;
  pop3::MessageAnswer onMessageComplete(const pop3::ListedMessage&, const char*, size_t) override {
    return pop3::MessageAnswer::kKeep;
  }
  void onSessionFailed() override { ++failures; }
  void onSessionEnded() override {}
  int newMailCount() const override { return 0; }
  bool requestNotifications(net::TcpSocket&, int*) override { return true; }
  bool cancelNotifications(net::TcpSocket&, int*) override { return true; }
};

TEST(Pop3OAuth, AuthWithWhatTheServerOffersAndEndsAnErrorChallenge) {
  const std::string challenge = "+ eyJzdGF0dXMiOiI0MDEifQ==\r\n";  // {"status":"401"}
  struct Row {
    const char* what;
    std::vector<testsupport::ScriptStep> script;
    oauth::SaslMechanism preferred;
    int failures;
    std::vector<std::string> logged;  // lines the log must hold
  } rows[] = {
      {"no CAPA: the preferred mechanism",
       {{"", {"+OK ready\r\n"}}, {"CAPA", {"-ERR unknown\r\n"}}, {"AUTH OAUTHBEARER", {"+ \r\n"}},
        {"bixhPXRhcm8s", {"+OK in\r\n"}}, {"STAT", {"+OK 0 0\r\n"}}, {"QUIT", {"+OK\r\n"}}},
       oauth::SaslMechanism::kOauthBearer, 0, {"> ********"}},
      {"only XOAUTH2 offered",
       {{"", {"+OK ready\r\n"}}, {"CAPA", {"+OK\r\nUSER\r\n", "SASL PLAIN XOAUTH2\r\n.\r\n"}},
        {"AUTH XOAUTH2", {"+\r\n"}}, {"dXNlcj10YXJv", {"+OK in\r\n"}}, {"STAT", {"+OK 0 0\r\n"}},
        {"QUIT", {"+OK\r\n"}}},
       oauth::SaslMechanism::kOauthBearer, 0, {"SASL PLAIN XOAUTH2"}},
      {"XOAUTH2 refused",
       {{"", {"+OK ready\r\n"}}, {"CAPA", {"+OK\r\nSASL XOAUTH2 OAUTHBEARER\r\n.\r\n"}}, {"AUTH XOAUTH2", {"+ \r\n"}},
        // The failure follows the empty answer to the challenge.
        {"dXNlcj10YXJv", {challenge, "-ERR [AUTH] Authentication failed.\r\n"}}},
       oauth::SaslMechanism::kXoauth2, 1,
       {"OAuth認証エラー (status 401)", "-ERR [AUTH] Authentication failed.",
        "OAuth認証に失敗しました (アクセストークンが無効か期限切れです)"}},
      {"OAUTHBEARER refused",
       {{"", {"+OK ready\r\n"}}, {"CAPA", {"+OK\r\nSASL XOAUTH2 OAUTHBEARER\r\n.\r\n"}},
        {"AUTH OAUTHBEARER", {"+ \r\n"}}, {"bixhPXRhcm8s", {challenge}},
        {"AQ==", {"-ERR [AUTH] Authentication failed.\r\n"}}},
       oauth::SaslMechanism::kOauthBearer, 1, {"> AQ==", "-ERR [AUTH] Authentication failed."}},
  };
  for (auto& r : rows) {
    testsupport::TempDir dir;
    commlog::CommLog log(dir.sjisFile("comm.txt"));
    Host host;
    ScriptedServer server(r.script);
    pop3::Pop3Account account = testsupport::testAccount(server.port());
    account.bearerToken = "tok.secret";
    account.mechanism = r.preferred;
    pop3::Pop3Session session(host, log);
    ASSERT_EQ(pop3::runSession(session, account), 0) << r.what;
    EXPECT_FALSE(server.mismatch()) << r.what;
    EXPECT_EQ(host.failures, r.failures) << r.what;
    std::vector<std::string> lines = testsupport::commLogLines(log);
    for (const std::string& l : r.logged)
      EXPECT_NE(std::find(lines.begin(), lines.end(), l), lines.end()) << r.what << ": " << l;
    for (const std::string& l : lines) {
      EXPECT_EQ(l.find("himitsu"), std::string::npos) << l;
      EXPECT_EQ(l.find("dXNlcj1"), std::string::npos) << l;
      EXPECT_EQ(l.find("bixhPX"), std::string::npos) << l;
    }
    // The token went out once; a refusal's challenge got its answer.
    const auto& commands = server.commands();
    auto token = std::find_if(commands.begin(), commands.end(), [](const std::string& c) {
      std::string text;
      return platform::base64Decode(c, &text) && text.find("auth=Bearer tok.secret\x01\x01") != std::string::npos;
    });
    ASSERT_NE(token, commands.end()) << r.what;
    ASSERT_NE(token + 1, commands.end()) << r.what;
    EXPECT_EQ(token[1], r.failures == 0 ? "STAT" : oauth::saslErrorResponse(r.preferred)) << r.what;
  }
}

}  // namespace
