#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>

#include "ScriptedStream.h"
#include "sendlib/SendMail.h"
#include "sendlib/SmtpDialogue.h"

namespace sendlib {
namespace {

struct Outcome {
  SendStep step;
  std::string sent;
  std::vector<std::string> log;
};

Outcome run(std::deque<std::string> replies, oauth::SaslMechanism preferred) {
  ScriptedStream stream(std::move(replies));
  MemoryLog log;
  SmtpDialogue d(stream, log);
  SmtpAccount a;
  a.fromAddress = "bot@example.jp";
  a.toAddress = "user@example.jp";
  a.userName = "bot@example.jp";
  a.password = "unused";
  a.heloName = "PC01";
  a.useAuth = true;
  a.bearerToken = "tok.secret";
  a.mechanism = preferred;
  a.serverHost = "smtp.example.jp";
  a.serverPort = 587;
  OutgoingMessage message;
  message.compose = [] { return std::vector<MessageLine>{{SendStep::kBodyLine, "TWFu"}}; };
  SendStep step = d.run(a, message);
  return {step, stream.sent, log.entries};
}

TEST(BearerDialogue, AuthWithTheTokenOrTheFinalFailure) {
  const std::string ok = "250 ok\r\n";
  const std::string both = "250-mx\r\n250 AUTH PLAIN XOAUTH2 OAUTHBEARER\r\n";
  const std::string challenge = "334 eyJzdGF0dXMiOiI0MDEifQ==\r\n";  // {"status":"401"}
  struct Row {
    const char* what;
    std::deque<std::string> replies;
    oauth::SaslMechanism preferred;
    SendStep step;
    std::string sentAuth;  // the AUTH command's start
    std::string afterAuth;  // what follows the AUTH line
    std::string logged;     // a log entry
  } rows[] = {
      {"XOAUTH2 accepted", {"220 hi\r\n", both, "235 ok\r\n", ok, ok, "354 go\r\n", ok, "221 bye\r\n"},
       oauth::SaslMechanism::kXoauth2, SendStep::kNone, "AUTH XOAUTH2 dXNlcj1ib3RAZXhhbXBsZS5qcAFhdXRo",
       "Mail From: ", "AUTH XOAUTH2 ********"},
      {"OAUTHBEARER when it is all that is offered",
       {"220 hi\r\n", "250-mx\r\n250 AUTH OAUTHBEARER\r\n", "235 ok\r\n", ok, ok, "354 go\r\n", ok, "221 bye\r\n"},
       oauth::SaslMechanism::kXoauth2, SendStep::kNone, "AUTH OAUTHBEARER bixhPWJvdEBleGFtcGxlLmpwLAFob3N0P",
       "Mail From: ", "AUTH OAUTHBEARER ********"},
      {"XOAUTH2 error challenge", {"220 hi\r\n", both, challenge, "535 5.7.8 failed\r\n", "221 bye\r\n"},
       oauth::SaslMechanism::kXoauth2, SendStep::kHello, "AUTH XOAUTH2 ", "\r\nQUIT\r\n",
       "OAuth認証エラー (status 401)"},
      {"OAUTHBEARER error challenge", {"220 hi\r\n", both, challenge, "535 5.7.8 failed\r\n", "221 bye\r\n"},
       oauth::SaslMechanism::kOauthBearer, SendStep::kHello, "AUTH OAUTHBEARER ", "AQ==\r\nQUIT\r\n",
       "OAuth認証に失敗しました (アクセストークンが無効か期限切れです)"},
      {"neither offered", {"220 hi\r\n", "250-mx\r\n250 AUTH PLAIN LOGIN\r\n"}, oauth::SaslMechanism::kXoauth2,
       SendStep::kHello, "", "", "サーバがOAuth認証(XOAUTH2/OAUTHBEARER)に対応していません。"},
  };
  for (const Row& r : rows) {
    Outcome o = run(r.replies, r.preferred);
    EXPECT_EQ(o.step, r.step) << r.what;
    size_t auth = o.sent.find("AUTH ");
    if (r.sentAuth.empty()) {
      EXPECT_EQ(auth, std::string::npos) << r.what;
    } else {
      ASSERT_NE(auth, std::string::npos) << r.what;
      EXPECT_EQ(o.sent.compare(auth, r.sentAuth.size(), r.sentAuth), 0) << o.sent;
      size_t lineEnd = o.sent.find("\r\n", auth) + 2;
      EXPECT_EQ(o.sent.compare(lineEnd, r.afterAuth.size(), r.afterAuth), 0) << r.what << ": " << o.sent;
    }
    EXPECT_NE(std::find(o.log.begin(), o.log.end(), r.logged), o.log.end()) << r.what;
    for (const std::string& entry : o.log) EXPECT_EQ(entry.find("dXNlcj1"), std::string::npos) << entry;
    EXPECT_EQ(o.sent.find("unused"), std::string::npos);
  }
}

TEST(BearerDialogue, SecurityRecordCarriesTheToken) {
  SendSecurityBearer record{};
  record.security.mode = kSendStartTls | kSendAuthBearer;
  record.mechanism = kSendOauthBearer;
  std::strcpy(record.bearerToken, "tok.1");
  SendJob job;
  job.server = "smtp.example.jp";
  job.port = 587;
  ASSERT_TRUE(securityOf(&record.security, &job));
  EXPECT_EQ(job.tls.mode, kSendStartTls);
  EXPECT_TRUE(job.account.useAuth);
  EXPECT_EQ(job.account.bearerToken, "tok.1");
  EXPECT_EQ(job.account.mechanism, oauth::SaslMechanism::kOauthBearer);
  EXPECT_EQ(job.account.serverHost, "smtp.example.jp");

  // Without the flag the rest is not read; a flagged record needs a token
  // and a known mechanism.
  SendSecurity plain{};
  plain.mode = kSendTls;
  SendJob other;
  ASSERT_TRUE(securityOf(&plain, &other));
  EXPECT_EQ(other.account.bearerToken, "");
  record.bearerToken[0] = '\0';
  EXPECT_FALSE(securityOf(&record.security, &job));
  std::strcpy(record.bearerToken, "tok.1");
  record.mechanism = 7;
  EXPECT_FALSE(securityOf(&record.security, &job));
}

}  // namespace
}  // namespace sendlib
