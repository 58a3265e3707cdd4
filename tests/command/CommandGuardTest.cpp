#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command/CommandGuard.h"
#include "support/TempDir.h"

namespace {

using namespace command;

TEST(CommandGuard, HeaderValuesAreTopmostFirstWithFoldedLinesJoined) {
  const std::string header =
      "Received: x\r\nAuthentication-Results: mx.example.jp;\r\n\tspf=pass\r\n smtp.mailfrom=a@b.jp\r\n"
      "authentication-results: other.jp; dkim=pass\r\nSubject: s\r\n\r\nAuthentication-Results: body\r\n";
  std::vector<std::string> v = headerValues(header, "Authentication-Results");
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0], "mx.example.jp;\tspf=pass smtp.mailfrom=a@b.jp");
  EXPECT_EQ(v[1], "other.jp; dkim=pass");
  EXPECT_TRUE(headerValues(header, "List-Id").empty());
}

TEST(CommandGuard, SenderMustBeAnAllowedBareAddress) {
  const char* allowed = "boss@example.jp, second@Example.NET;\r\nthird@example.org";
  struct Row {
    const char* from;
    bool allowed;
  } rows[] = {
      {"boss@example.jp", true},
      {"Boss <boss@example.jp>", true},
      {"\"Boss, the\" <boss@EXAMPLE.JP>", true},          // domain without regard to case
      {"second@example.net (home)", true},
      {"Boss@example.jp", false},                          // the local part exactly
      {"boss+cam@example.jp", false},                      // plus-addressing is another address
      {"boss@example.jp.evil.jp", false},
      {"\"boss@example.jp\" <evil@evil.jp>", false},       // the display name does not count
      {"Evil <evil@evil.jp>, Boss <boss@example.jp>", false},  // a second address
      {"boss@example.jp, evil@evil.jp", false},
      {"<evil@evil.jp> <boss@example.jp>", false},
      {"Boss <boss@example.jp", false},
      {"", false},
  };
  for (const Row& r : rows) EXPECT_EQ(senderAllowed(allowed, r.from), r.allowed) << r.from;
  EXPECT_EQ(bareAddress("Boss (x) <boss@example.jp>"), "boss@example.jp");
}

TEST(CommandGuard, SecretMustStandOnALineOfItsOwn) {
  struct Row {
    const char* body;
    bool present;
  } rows[] = {
      {"PIN: 4711\r\nスナップ返信\r\n", true},
      {"スナップ返信\r\n  PIN: 4711  \r\n", true},
      {"PIN: 4711\r\nPIN: 4711\r\n", true},             // twice
      {"スナップ返信\r\n", false},                        // absent
      {"PIN: 4712\r\n", false},                          // wrong
      {"PIN: 47111\r\n", false},
      {"> PIN: 4711\r\nスナップ返信\r\n", false},        // quoted from an older mail
      {"スナップ返信 PIN: 4711\r\n", false},
  };
  for (const Row& r : rows) EXPECT_EQ(hasSecretLine(r.body, "PIN: 4711"), r.present) << r.body;
  EXPECT_EQ(maskSecret("a\r\nPIN: 4711\r\n> PIN: 4711\r\nb", "PIN: 4711"), "a\r\n********\r\n********\r\nb");
}

TEST(CommandGuard, OnlyTheTopmostAuthenticationResultsOfTheOwnServerCounts) {
  const std::string tail = "From: Boss <boss@example.jp>\r\nSubject: s\r\n";
  struct Row {
    const char* name;
    std::string fields;
    bool passes;
  } rows[] = {
      {"dmarc pass", "Authentication-Results: mx.example.jp; dmarc=pass header.from=example.jp\r\n", true},
      {"spf aligned", "Authentication-Results: MX.example.jp 1; spf=pass smtp.mailfrom=boss@Example.jp\r\n", true},
      {"dkim aligned, folded",
       "Authentication-Results: mx.example.jp;\r\n  dkim=pass (good) header.d=example.jp;\r\n  spf=none\r\n", true},
      {"spf of another domain", "Authentication-Results: mx.example.jp; spf=pass smtp.mailfrom=x@evil.jp\r\n", false},
      {"dkim of another domain", "Authentication-Results: mx.example.jp; dkim=pass header.d=evil.jp\r\n", false},
      {"dmarc of another From", "Authentication-Results: mx.example.jp; dmarc=pass header.from=evil.jp\r\n", false},
      {"fail on top, forged pass below",
       "Authentication-Results: mx.example.jp; dmarc=fail header.from=example.jp\r\nReceived: x\r\n"
       "Authentication-Results: mx.example.jp; dmarc=pass header.from=example.jp\r\n", false},
      {"another host", "Authentication-Results: mx.evil.jp; dmarc=pass header.from=example.jp\r\n", false},
      {"host only in a comment", "Authentication-Results: (mx.example.jp) evil.jp; dmarc=pass\r\n", false},
      {"no header", "", false},
      {"pass only in a comment", "Authentication-Results: mx.example.jp; dmarc=none (dmarc=pass)\r\n", false},
  };
  for (const Row& r : rows)
    EXPECT_EQ(authenticationPasses(r.fields + tail, "mx.example.jp", "example.jp"), r.passes) << r.name;
}

TEST(CommandGuard, DateWindow) {
  int64_t now = 0;
  ASSERT_TRUE(parseMailDate("Mon, 7 Dec 2026 14:00:00 +0000", &now));
  EXPECT_EQ(now, 1796652000);
  struct Row {
    const char* date;
    Refusal verdict;
  } rows[] = {
      {"Mon, 7 Dec 2026 23:00:00 +0900", Refusal::none},   // the same moment
      {"7 Dec 2026 13:00:01 GMT", Refusal::none},
      {"Mon, 7 Dec 2026 12:59:59 +0000", Refusal::tooOld}, // 60 min and a second
      {"Mon, 7 Dec 2026 14:10:00 +0000", Refusal::none},
      {"Mon, 7 Dec 2026 14:10:01 +0000", Refusal::future},
      {"Mon, 7 Dec 2026 09:05:00 -0500 (EST)", Refusal::none},
      {"Mon, 7 Dec 26 23:00:00 JST", Refusal::none},
      {"yesterday", Refusal::badDate},
      {"Mon, 7 Foo 2026 14:00:00 +0000", Refusal::badDate},
      {"", Refusal::badDate},
  };
  for (const Row& r : rows) EXPECT_EQ(judgeDate(r.date, now, 0), r.verdict) << r.date;
  EXPECT_EQ(judgeDate("Mon, 7 Dec 2026 13:50:00 +0000", now, 5), Refusal::tooOld);
}

TEST(CommandGuard, AutomaticMailsByRfc3834) {
  struct Row {
    const char* header;
    bool automatic;
  } rows[] = {
      {"Subject: s\r\n", false},
      {"Auto-Submitted: no\r\n", false},
      {"Auto-Submitted: No (a person)\r\n", false},
      {"Auto-Submitted: auto-replied\r\n", true},
      {"Auto-Submitted: auto-generated; owner-email=x@y\r\n", true},
      {"Precedence: bulk\r\n", true},
      {"Precedence: List\r\n", true},
      {"Precedence: junk\r\n", true},
      {"Precedence: first-class\r\n", false},
      {"List-Id: <cams.example.jp>\r\n", true},
  };
  for (const Row& r : rows) EXPECT_EQ(isAutomaticMail(r.header), r.automatic) << r.header;
}

TEST(CommandGuard, ReplayStoreRemembersAcrossARestart) {
  testsupport::TempDir dir;
  const std::string path = dir.sjisFile("QuorvelGuard.dat");
  const std::string header = "Message-ID: <1@example.jp>\r\n";
  EXPECT_NE(replayKey(header, "text one"), replayKey(header, "text two"));  // same id, other text
  EXPECT_EQ(replayKey(header, "text one"), replayKey(header, "text one"));
  {
    GuardStore store(path);
    EXPECT_FALSE(store.seen(replayKey(header, "text one")));
    ASSERT_TRUE(store.remember(replayKey(header, "text one"), 100));
  }
  GuardStore restarted(path);
  EXPECT_TRUE(restarted.seen(replayKey(header, "text one")));
  EXPECT_FALSE(restarted.seen(replayKey(header, "text two")));
  EXPECT_FALSE(GuardStore("").remember("U:x", 1));
}

TEST(CommandGuard, HourlyReplyLimitPerSender) {
  testsupport::TempDir dir;
  config::AppSettings s{};
  s.loopGuard = 1;
  s.maxRepliesPerHour = 2;
  GuardStore store(dir.sjisFile("g.dat"));
  CommandGuard guard(s, store);
  const std::string header = "From: boss@example.jp\r\n";
  EXPECT_EQ(guard.judge(header, "", "k", 1000), Refusal::none);
  guard.recordReply("boss@EXAMPLE.jp", 1000);
  guard.recordReply("other@example.jp", 1500);
  EXPECT_EQ(guard.judge(header, "", "k", 1500), Refusal::none);
  guard.recordReply("boss@example.jp", 2000);
  EXPECT_EQ(guard.judge(header, "", "k", 2000), Refusal::replyLimit);
  EXPECT_EQ(guard.judge(header, "", "k", 4600), Refusal::none);  // the first is an hour old
  s.maxRepliesPerHour = 0;                                        // the default, 10
  EXPECT_EQ(guard.judge(header, "", "k", 2000), Refusal::none);
}

TEST(CommandGuard, EveryGuardOffRefusesNothing) {
  config::AppSettings s{};
  GuardStore store;
  CommandGuard guard(s, store);
  EXPECT_FALSE(guard.anyOn());
  EXPECT_EQ(guard.judge("Auto-Submitted: auto-replied\r\nFrom: a, b\r\n", "", "k", 0), Refusal::none);
  EXPECT_EQ(guard.visibleBody("PIN\r\n"), "PIN\r\n");
}

}  // namespace
