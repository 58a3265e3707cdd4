// The session against scripted transcripts: each step is what the server
// sends and what the client must answer, the server's bytes fed in pieces
// of every size down to one byte.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "imap/ImapSession.h"
#include "imap/Sasl.h"
#include "oauth/Sasl.h"
#include "support/TempDir.h"

namespace {

using imap::ImapFailure;
using imap::ImapState;

struct Step {
  std::string server;  // bytes from the server
  std::string client;  // what the client sends in answer (all of it)
};

class Wire : public imap::ImapWire {
 public:
  bool send(const std::string& bytes) override {
    sent += bytes;
    return true;
  }
  bool startTls() override {
    ++handshakes;
    return tlsWorks;
  }
  void close() override { ++closes; }
  std::string sent;
  int handshakes = 0;
  int closes = 0;
  bool tlsWorks = true;
};

class Host : public imap::ImapHost {
 public:
  imap::MessageAnswer onMessage(const imap::MailRef& mail, const char* data, size_t length) override {
    mails.push_back(std::to_string(mail.uidValidity) + "/" + std::to_string(mail.uid) + ":" +
                    std::string(data, length));
    return keep ? imap::MessageAnswer::kKeep : imap::MessageAnswer::kDelete;
  }
  imap::MessagePlan planMessage(const imap::MailRef& mail) override {
    return known.count(mail.uid) ? imap::MessagePlan::kLeave
           : stored.count(mail.uid) ? imap::MessagePlan::kDeleteUnfetched
                                    : imap::MessagePlan::kFetch;
  }
  void onBatchEnded() override { ++batches; }
  void onWaiting() override { ++waits; }
  void onSessionFailed(ImapFailure f) override { failure = f; }
  void onSessionEnded() override { ++ended; }
  std::vector<std::string> mails;
  std::set<uint32_t> known;   // dealt with, kept on the server
  std::set<uint32_t> stored;  // dealt with, its deletion never happened
  bool keep = false;
  int batches = 0, waits = 0, ended = 0;
  ImapFailure failure = ImapFailure::kNone;
};

class ImapSessionTest : public ::testing::Test {
 protected:
  testsupport::TempDir dir_;
  commlog::CommLog log_{dir_.path() + "/comm.log"};

  imap::ImapAccount account(bool stay = false, net::Security security = net::Security::kPlain) {
    imap::ImapAccount a;
    a.endpoint.server = "localhost";
    a.endpoint.port = 143;
    a.endpoint.security = security;
    a.user = "quorvel";
    a.password = "pw \"x\"";
    a.stayConnected = stay;
    return a;
  }

  // Runs `steps` at every piece size; `check` looks at each run's end.
  template <class Check>
  void run(const imap::ImapAccount& acc, const std::vector<Step>& steps, Host prototype, Check check,
           size_t maxPiece = 0) {
    size_t longest = 0;
    for (const Step& s : steps) longest = std::max(longest, s.server.size());
    if (maxPiece == 0) maxPiece = longest;
    for (size_t piece = 1; piece <= maxPiece; ++piece) {
      Host host = prototype;
      Wire wire;
      imap::ImapSession session(host, wire, log_);
      session.begin(acc, 0);
      for (size_t i = 0; i < steps.size(); ++i) {
        wire.sent.clear();
        const std::string& in = steps[i].server;
        for (size_t at = 0; at < in.size(); at += piece)
          session.feed(in.data() + at, std::min(piece, in.size() - at));
        ASSERT_EQ(wire.sent, steps[i].client) << "step " << i << ", pieces of " << piece;
      }
      check(session, host, wire);
    }
  }

  std::string logText() {
    std::string text;
    FILE* f = std::fopen(log_.path().c_str(), "rb");
    if (!f) return text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
    return text;
  }
};

const std::string kGreeting = "* OK [CAPABILITY IMAP4rev1 LOGIN-REFERRALS] Dovecot ready.\r\n";
const std::string kCaps =
    "* CAPABILITY IMAP4rev1 SASL-IR LITERAL+ IDLE UIDPLUS AUTH=PLAIN AUTH=LOGIN\r\nA0001 OK done\r\n";
std::string selectReply(const std::string& tag) {
  return "* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)\r\n* 2 EXISTS\r\n* 0 RECENT\r\n"
         "* OK [UIDVALIDITY 1700000001] UIDs valid\r\n* OK [UIDNEXT 9] next\r\n" +
         tag + " OK [READ-WRITE] Select done\r\n";
}
const std::string kSelect = selectReply("A0003");
const std::string kLoginPlain = "A0002 AUTHENTICATE PLAIN AHF1b3J2ZWwAcHcgIngi\r\n";

std::string fetchReply(int seq, int uid, const std::string& body, const std::string& tag) {
  return "* " + std::to_string(seq) + " FETCH (UID " + std::to_string(uid) + " RFC822.SIZE " +
         std::to_string(body.size()) + " BODY[] {" + std::to_string(body.size()) + "}\r\n" + body + ")\r\n" + tag +
         " OK Fetch completed.\r\n";
}

TEST_F(ImapSessionTest, CheckFetchesAndDeletesEachMessageWithUidExpunge) {
  const std::string mail1 = "Subject: one\r\n\r\nbody\r\n.\r\n";
  const std::string mail2 = "Subject: two\r\n\r\n)\r\n";
  std::vector<Step> steps = {
      {kGreeting, "A0001 CAPABILITY\r\n"},
      {kCaps, kLoginPlain},
      {"A0002 OK [CAPABILITY IMAP4rev1 IDLE UIDPLUS] Logged in\r\n", "A0003 SELECT \"INBOX\"\r\n"},
      {kSelect, "A0004 UID SEARCH UNDELETED\r\n"},
      {"* SEARCH 5 8\r\nA0004 OK Search completed\r\n", "A0005 UID FETCH 5 (UID RFC822.SIZE BODY.PEEK[])\r\n"},
      {fetchReply(1, 5, mail1, "A0005"), "A0006 UID STORE 5 +FLAGS.SILENT (\\Deleted)\r\n"},
      {"A0006 OK Store completed.\r\n", "A0007 UID EXPUNGE 5\r\n"},
      {"* 1 EXPUNGE\r\nA0007 OK Expunge completed.\r\n", "A0008 UID FETCH 8 (UID RFC822.SIZE BODY.PEEK[])\r\n"},
      {fetchReply(1, 8, mail2, "A0008"), "A0009 UID STORE 8 +FLAGS.SILENT (\\Deleted)\r\n"},
      {"A0009 OK Store completed.\r\n", "A0010 UID EXPUNGE 8\r\n"},
      {"* 1 EXPUNGE\r\nA0010 OK Expunge completed.\r\n", "A0011 LOGOUT\r\n"},
      {"* BYE Logging out\r\nA0011 OK Logout completed.\r\n", ""},
  };
  run(account(), steps, Host(), [&](imap::ImapSession& s, Host& h, Wire& w) {
    EXPECT_EQ(h.mails, (std::vector<std::string>{"1700000001/5:" + mail1, "1700000001/8:" + mail2}));
    EXPECT_EQ(h.batches, 1);
    EXPECT_EQ(h.ended, 1);
    EXPECT_EQ(h.failure, ImapFailure::kNone);
    EXPECT_EQ(w.closes, 1);
    EXPECT_EQ(s.state(), ImapState::kEnded);
  });
  std::string text = logText();
  EXPECT_NE(text.find("> A0002 AUTHENTICATE PLAIN ********"), std::string::npos);
  EXPECT_EQ(text.find("AHF1b3J2ZWwAcHcgIngi"), std::string::npos);  // the password is never logged
}

TEST_F(ImapSessionTest, BearerTokenLogsInWithTheOAuthMechanism) {
  const std::string initial = oauth::saslInitialResponse(oauth::SaslMechanism::kXoauth2, "quorvel", "tok-1");
  for (bool refused : {false, true}) {
    Host host;
    Wire wire;
    imap::ImapSession session(host, wire, log_);
    session.setMechanism(imap::makeSaslBearer(oauth::SaslMechanism::kXoauth2, "quorvel", "tok-1", "localhost", 143));
    session.begin(account(), 0);
    auto feed = [&](const std::string& in) {
      wire.sent.clear();
      session.feed(in.data(), in.size());
      return wire.sent;
    };
    EXPECT_EQ(feed(kGreeting), "A0001 CAPABILITY\r\n");
    EXPECT_EQ(feed("* CAPABILITY IMAP4rev1 SASL-IR IDLE AUTH=PLAIN AUTH=XOAUTH2\r\nA0001 OK done\r\n"),
              "A0002 AUTHENTICATE XOAUTH2 " + initial + "\r\n");
    if (refused) {
      // The error challenge is answered with an empty line; then the final NO.
      EXPECT_EQ(feed("+ eyJzdGF0dXMiOiI0MDEifQ==\r\n"), "\r\n");
      feed("A0002 NO [AUTHENTICATIONFAILED] Invalid credentials\r\n");
      EXPECT_EQ(host.failure, ImapFailure::kLoginRefused);
    } else {
      EXPECT_EQ(feed("A0002 OK [CAPABILITY IMAP4rev1 IDLE UIDPLUS] Logged in\r\n"), "A0003 SELECT \"INBOX\"\r\n");
      EXPECT_EQ(host.failure, ImapFailure::kNone);
    }
  }
  std::string text = logText();
  EXPECT_NE(text.find("AUTHENTICATE XOAUTH2 ********"), std::string::npos);
  EXPECT_EQ(text.find(initial), std::string::npos);  // the token is never logged
  EXPECT_NE(text.find("OAuth認証に失敗しました"), std::string::npos);  // the refusal says why
}

TEST_F(ImapSessionTest, BearerTokenTakesTheOtherMechanismWhenOnlyThatIsOffered) {
  Host host;
  Wire wire;
  imap::ImapSession session(host, wire, log_);
  session.setMechanism(imap::makeSaslBearer(oauth::SaslMechanism::kXoauth2, "quorvel", "tok-1", "localhost", 143));
  session.begin(account(), 0);
  session.feed(kGreeting.data(), kGreeting.size());
  wire.sent.clear();
  const std::string caps = "* CAPABILITY IMAP4rev1 SASL-IR AUTH=OAUTHBEARER\r\nA0001 OK done\r\n";
  session.feed(caps.data(), caps.size());
  EXPECT_EQ(wire.sent, "A0002 AUTHENTICATE OAUTHBEARER " +
                           oauth::saslInitialResponse(oauth::SaslMechanism::kOauthBearer, "quorvel", "tok-1",
                                                      "localhost", 143) +
                           "\r\n");
}

TEST_F(ImapSessionTest, WithoutUidplusOnePlainExpungeEndsTheBatchAndLoginIsQuoted) {
  std::vector<Step> steps = {
      {"* OK ready\r\n", "A0001 CAPABILITY\r\n"},
      {"* CAPABILITY IMAP4rev1\r\nA0001 OK done\r\n", "A0002 LOGIN \"quorvel\" \"pw \\\"x\\\"\"\r\n"},
      {"A0002 OK Logged in\r\n", "A0003 CAPABILITY\r\n"},
      {"* CAPABILITY IMAP4rev1\r\nA0003 OK done\r\n", "A0004 SELECT \"INBOX\"\r\n"},
      {"* OK [UIDVALIDITY 3] x\r\nA0004 OK done\r\n", "A0005 UID SEARCH UNDELETED\r\n"},
      {"* SEARCH 2 4\r\nA0005 OK done\r\n", "A0006 UID FETCH 2 (UID RFC822.SIZE BODY.PEEK[])\r\n"},
      {"* 1 FETCH (BODY[] \"x\" UID 2)\r\nA0006 OK done\r\n", "A0007 UID STORE 2 +FLAGS.SILENT (\\Deleted)\r\n"},
      // 4 was stored before but never deleted: deleted without fetching.
      {"A0007 OK done\r\n", "A0008 UID STORE 4 +FLAGS.SILENT (\\Deleted)\r\n"},
      {"A0008 OK done\r\n", "A0009 EXPUNGE\r\n"},
      {"A0009 OK done\r\n", "A0010 LOGOUT\r\n"},
  };
  Host prototype;
  prototype.stored = {4};
  run(account(), steps, prototype, [](imap::ImapSession&, Host& h, Wire&) {
    EXPECT_EQ(h.mails, std::vector<std::string>{"3/2:x"});
    EXPECT_EQ(h.batches, 1);
  });
}

TEST_F(ImapSessionTest, IdleFetchesNewMailAtOnceAndIsReissued) {
  std::vector<Step> steps = {
      {kGreeting, "A0001 CAPABILITY\r\n"},
      {kCaps, kLoginPlain},
      {"A0002 OK [CAPABILITY IMAP4rev1 IDLE UIDPLUS] Logged in\r\n", "A0003 SELECT \"INBOX\"\r\n"},
      {kSelect, "A0004 UID SEARCH UNDELETED\r\n"},
      // 5 was dealt with before: kept and known; nothing to fetch.
      {"* SEARCH 5\r\nA0004 OK done\r\n", "A0005 IDLE\r\n"},
      {"+ idling\r\n* OK Still here\r\n", ""},
      {"* 3 EXISTS\r\n", "DONE\r\n"},
      {"A0005 OK Idle completed.\r\n", "A0006 UID SEARCH UID 6:* UNDELETED\r\n"},
      {"* SEARCH 5 9\r\nA0006 OK done\r\n", "A0007 UID FETCH 9 (UID RFC822.SIZE BODY.PEEK[])\r\n"},
      {fetchReply(3, 9, "new", "A0007"), "A0008 IDLE\r\n"},
      // The server ends IDLE by itself: tolerated.
      {"+ idling\r\nA0008 OK Idle timed out\r\n", "A0009 IDLE\r\n"},
      {"+ idling\r\n", ""},
  };
  Host prototype;
  prototype.keep = true;
  prototype.known = {5};
  run(account(true), steps, prototype, [](imap::ImapSession& s, Host& h, Wire& w) {
    EXPECT_EQ(h.mails, std::vector<std::string>{"1700000001/9:new"});
    EXPECT_EQ(h.batches, 2);
    EXPECT_EQ(h.waits, 3);
    EXPECT_EQ(s.state(), ImapState::kIdling);
    EXPECT_FALSE(s.awaitingReply());
    // Re-issued after the interval; a stop ends IDLE and logs out.
    EXPECT_EQ(s.waitDueMs(), imap::kIdleReissueMs);
    w.sent.clear();
    s.tick(imap::kIdleReissueMs - 1);
    EXPECT_EQ(w.sent, "");
    s.tick(imap::kIdleReissueMs);
    EXPECT_EQ(w.sent, "DONE\r\n");
    s.feed("A0009 OK done\r\n", 15);
    EXPECT_EQ(w.sent, "DONE\r\nA0010 IDLE\r\n");
    s.stop();
    s.feed("+ idling\r\n", 10);
    s.feed("A0010 OK done\r\n", 15);
    EXPECT_EQ(w.sent, "DONE\r\nA0010 IDLE\r\nDONE\r\nA0011 LOGOUT\r\n");
  }, 40);
}

TEST_F(ImapSessionTest, WithoutIdleNoopPolls) {
  std::vector<Step> steps = {
      {"* PREAUTH ready\r\n", "A0001 CAPABILITY\r\n"},
      {"* CAPABILITY IMAP4rev1\r\nA0001 OK done\r\n", "A0002 SELECT \"INBOX\"\r\n"},
      {"* OK [UIDVALIDITY 3] x\r\nA0002 OK done\r\n", "A0003 UID SEARCH UNDELETED\r\n"},
      {"* SEARCH\r\nA0003 OK done\r\n", ""},
  };
  run(account(true), steps, Host(), [](imap::ImapSession& s, Host& h, Wire& w) {
    EXPECT_EQ(s.state(), ImapState::kPollWait);
    EXPECT_EQ(h.waits, 1);
    EXPECT_EQ(s.waitDueMs(), imap::kNoopPollMs);
    s.tick(imap::kNoopPollMs);
    EXPECT_EQ(w.sent, "A0004 NOOP\r\n");
    EXPECT_EQ(s.waitDueMs(), 0u);  // a reply is awaited
    s.feed("* 1 EXISTS\r\nA0004 OK done\r\n", 27);
    EXPECT_EQ(w.sent, "A0004 NOOP\r\nA0005 UID SEARCH UNDELETED\r\n");
  });
}

TEST_F(ImapSessionTest, StartTlsBeforeLoginAndNeverWithoutIt) {
  std::vector<Step> steps = {
      {"* OK ready\r\n", "A0001 CAPABILITY\r\n"},
      {"* CAPABILITY IMAP4rev1 STARTTLS LOGINDISABLED\r\nA0001 OK done\r\n", "A0002 STARTTLS\r\n"},
      {"A0002 OK Begin TLS\r\n", "A0003 CAPABILITY\r\n"},
      {"* CAPABILITY IMAP4rev1 AUTH=PLAIN\r\nA0003 OK done\r\n", "A0004 AUTHENTICATE PLAIN\r\n"},
      {"+ \r\n", "AHF1b3J2ZWwAcHcgIngi\r\n"},
      {"A0004 OK Logged in\r\n", "A0005 CAPABILITY\r\n"},
  };
  run(account(false, net::Security::kStartTls), steps, Host(), [](imap::ImapSession& s, Host&, Wire& w) {
    EXPECT_EQ(w.handshakes, 1);
    EXPECT_TRUE(s.hasCapability("auth=plain"));
  });

  // Not offered, refused, or the handshake fails: nothing more is sent.
  // Plaintext that came with the reply is dropped, not taken as a reply.
  struct Row {
    std::vector<Step> steps;
    bool tlsWorks;
    ImapFailure failure;
  };
  const Row rows[] = {
      {{{"* OK ready\r\n", "A0001 CAPABILITY\r\n"},
        {"* CAPABILITY IMAP4rev1 STARTTLS\r\nA0001 OK done\r\n", "A0002 STARTTLS\r\n"},
        {"A0002 OK go\r\n* CAPABILITY IMAP4rev1 AUTH=PLAIN\r\nA0003 OK done\r\n", "A0003 CAPABILITY\r\n"}},
       true, ImapFailure::kNone},
      {{{"* OK ready\r\n", "A0001 CAPABILITY\r\n"}, {"* CAPABILITY IMAP4rev1\r\nA0001 OK done\r\n", ""}},
       true, ImapFailure::kStartTlsRefused},
      {{{"* OK ready\r\n", "A0001 CAPABILITY\r\n"},
        {"* CAPABILITY IMAP4rev1 STARTTLS\r\nA0001 OK done\r\n", "A0002 STARTTLS\r\n"},
        {"A0002 NO no\r\n", ""}},
       true, ImapFailure::kStartTlsRefused},
      {{{"* OK ready\r\n", "A0001 CAPABILITY\r\n"},
        {"* CAPABILITY IMAP4rev1 STARTTLS\r\nA0001 OK done\r\n", "A0002 STARTTLS\r\n"},
        {"A0002 OK go\r\n", ""}},
       false, ImapFailure::kTls},
      {{{"* PREAUTH hi\r\n", ""}}, true, ImapFailure::kStartTlsRefused},
  };
  for (const Row& row : rows) {
    Host host;
    Wire wire;
    wire.tlsWorks = row.tlsWorks;
    imap::ImapSession session(host, wire, log_);
    session.begin(account(false, net::Security::kStartTls), 0);
    std::string expected;
    for (const Step& s : row.steps) {
      session.feed(s.server.data(), s.server.size());
      expected += s.client;
    }
    EXPECT_EQ(wire.sent, expected);
    EXPECT_EQ(host.failure, row.failure);
    EXPECT_EQ(host.ended, row.failure == ImapFailure::kNone ? 0 : 1);
  }
  EXPECT_NE(logText().find("STARTTLS応答の後の平文データ"), std::string::npos);
}

// A hostile server: every case ends the session with a log line, hands on
// no message and deletes nothing.
TEST_F(ImapSessionTest, HostileServerEndsTheSessionAndDeletesNothing) {
  const std::string toFetch = kGreeting + kCaps + "A0002 OK Logged in\r\n" +
                              "* CAPABILITY IMAP4rev1 UIDPLUS\r\nA0003 OK done\r\n" + selectReply("A0004") +
                              "* SEARCH 5\r\nA0005 OK done\r\n";
  std::string flood;
  for (int i = 0; i < imap::kMaxUntaggedPerCommand + 1; ++i) flood += "* 1 EXISTS\r\n";
  struct Row {
    const char* name;
    std::string server;
    bool closeAfter;
    ImapFailure failure;
    const char* logged;
  };
  const Row rows[] = {
      {"untagged data before the greeting", "* 1 EXISTS\r\n* OK ready\r\n", false, ImapFailure::kGreeting,
       "挨拶の前に不正なデータ"},
      {"literal longer than announced", toFetch + "* 1 FETCH (UID 5 BODY[] {3}\r\nabcdef)\r\nA0006 OK done\r\n", false,
       ImapFailure::kMalformed, "FETCH応答が不正です"},
      {"literal longer, with a line end", toFetch + "* 1 FETCH (UID 5 BODY[] {3}\r\nabc\r\nd)\r\nA0006 OK done\r\n",
       false, ImapFailure::kMalformed, "FETCH応答が不正です"},
      {"close inside a literal", toFetch + "* 1 FETCH (UID 5 BODY[] {30}\r\nabc", true, ImapFailure::kClosed,
       "リテラルの途中"},
      {"BYE in the middle of a FETCH", toFetch + "* BYE shutting down\r\n", false, ImapFailure::kBye, "BYE"},
      {"EXISTS flood", toFetch + flood, false, ImapFailure::kTooManyUntagged, "応答が多すぎます"},
      {"literal of 2^63", toFetch + "* 1 FETCH (UID 5 BODY[] {9223372036854775808}\r\n", false,
       ImapFailure::kMalformed, "リテラルが大きすぎます"},
      {"tagged reply with another tag", toFetch + "A0099 OK done\r\n", false, ImapFailure::kUnexpected,
       "別のタグの応答"},
      {"line without a line end", toFetch + "* 1 FETCH (" + std::string(imap::kMaxResponseText + 10, 'x'), false,
       ImapFailure::kMalformed, "応答行が長すぎます"},
  };
  for (const Row& row : rows) {
    for (size_t piece : {size_t{1}, size_t{3}, size_t{4096}, row.server.size()}) {
      if (piece < 4096 && row.server.size() > 200000) continue;
      std::remove(log_.path().c_str());
      Host host;
      Wire wire;
      imap::ImapSession session(host, wire, log_);
      session.begin(account(), 0);
      for (size_t at = 0; at < row.server.size() && !session.ended(); at += piece)
        session.feed(row.server.data() + at, std::min(piece, row.server.size() - at));
      if (row.closeAfter) session.onClosed();
      EXPECT_EQ(host.failure, row.failure) << row.name << ", pieces of " << piece;
      EXPECT_EQ(host.ended, 1) << row.name;
      EXPECT_TRUE(host.mails.empty()) << row.name;
      EXPECT_EQ(wire.sent.find("STORE"), std::string::npos) << row.name;
      EXPECT_NE(logText().find(row.logged), std::string::npos) << row.name << ", pieces of " << piece;
    }
  }
}

TEST_F(ImapSessionTest, LiteralShorterThanAnnouncedWaitsUntilTheSilenceLimit) {
  Host host;
  Wire wire;
  imap::ImapSession session(host, wire, log_);
  session.begin(account(), 0);
  std::string in = kGreeting + kCaps + "A0002 OK [CAPABILITY IMAP4rev1 UIDPLUS] Logged in\r\n" + kSelect +
                   "* SEARCH 5\r\nA0004 OK done\r\n* 1 FETCH (UID 5 BODY[] {300}\r\nshort)\r\nA0005 OK done\r\n";
  session.feed(in.data(), in.size());
  EXPECT_TRUE(session.awaitingReply());
  EXPECT_EQ(host.ended, 0);
  session.onSilence(60000);
  EXPECT_EQ(host.failure, ImapFailure::kSilence);
  EXPECT_TRUE(host.mails.empty());
  EXPECT_NE(logText().find("60秒間応答がありません"), std::string::npos);
}

}  // namespace
