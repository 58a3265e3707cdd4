// A check with the mailbox memory: what each listed message becomes, what
// a fetched mail leaves in the memory, and the checks after a crash at each
// point between the store and the DELE, against a scripted server.
#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "check/MailboxCheck.h"
#include "config/AppSettings.h"
#include "pop3/Pop3SessionLoop.h"
#include "pop3/Pop3TestAccount.h"
#include "pop3/ScriptedServer.h"
#include "store/StoreFixture.h"

namespace storetest {
namespace {

using pop3::ListedMessage;
using pop3::MessageAnswer;
using pop3::MessagePlan;
using store::Dealt;
using testsupport::ScriptStep;

class MailboxCheckTest : public StoreTest {
 protected:
  MailboxCheckTest() {
    std::memset(&s_, 0, sizeof s_);
    config::applyDefaults(s_, "C:\\start");
    std::strcpy(s_.pop3Server, "127.0.0.1");
    std::strcpy(s_.accountName, "taro");
    std::strcpy(s_.password, "himitsu");
    s_.pop3Port = 110;  // the mailbox's key; each scripted server has a port of its own
  }
  store::MailboxMemory memory() { return store::MailboxMemory(st().folder(), check::mailboxKey(s_), log_); }
  void remember(const std::string& id, Dealt dealt, uint64_t size) {
    store::MailboxMemory m = memory();
    m.load();
    store::RememberedMail r;
    r.dealt = dealt;
    r.size = size;
    r.received = 7;
    ASSERT_TRUE(m.remember(id, r, false));
  }
  // One check against a server that answers `afterLogin`; the commands it
  // received after PASS.
  std::vector<std::string> runCheck(std::vector<ScriptStep> afterLogin, pop3::Pop3Host* host = nullptr) {
    afterLogin.insert(afterLogin.begin(), {{"", {"+OK\r\n"}}, {"USER", {"+OK\r\n"}}, {"PASS", {"+OK\r\n"}}});
    testsupport::ScriptedServer server(afterLogin);
    check::PolledCheck check(s_, st(), log_);
    check.mailbox().begin();
    pop3::Pop3Session session(host ? *host : check, log_);
    try {
      pop3::runSession(session, testsupport::testAccount(server.port()));
    } catch (const std::runtime_error&) {  // the program was killed here
    }
    EXPECT_FALSE(server.mismatch());
    counts_ = check.mailbox().counts();
    std::vector<std::string> commands = server.commands();
    commands.erase(commands.begin(), commands.begin() + std::min<size_t>(2, commands.size()));
    return commands;
  }
  static ScriptStep listing(const char* command, const std::vector<std::string>& lines) {
    std::string reply = "+OK\r\n";
    for (size_t i = 0; i < lines.size(); ++i) reply += std::to_string(i + 1) + " " + lines[i] + "\r\n";
    return {command, {reply + ".\r\n"}};
  }
  static ScriptStep retr(int n, const std::string& mail) {
    return {"RETR " + std::to_string(n), {"+OK " + std::to_string(mail.size()) + " octets\r\n" + mail}};
  }
  static ScriptStep ok(const std::string& command) { return {command, {"+OK\r\n"}}; }
  size_t copiesInLog(const std::string& mail) {
    std::string log = logFile();
    size_t n = 0;
    for (size_t at = 0; (at = log.find(mail, at)) != std::string::npos; at += mail.size()) ++n;
    return n;
  }

  config::AppSettings s_;
  check::CheckCounts counts_;
};

TEST_F(MailboxCheckTest, EachListedMessageByTheMemoryAndTheSettings) {
  remember("stored", Dealt::kStored, 100);
  remember("big", Dealt::kUnreceivable, 100);
  remember("spam", Dealt::kSpamKept, 100);
  remember("general", Dealt::kGeneralKept, 100);
  struct Row {
    const char* name;
    std::string id;
    uint64_t size;
    int keepOnServer, commandMailsOnly;
    MessagePlan plan;
  } rows[] = {
      {"unknown", "new", 100, 0, 0, MessagePlan::kFetch},
      {"no id", "", 100, 1, 0, MessagePlan::kFetch},
      {"stored, its DELE never happened", "stored", 100, 0, 0, MessagePlan::kDeleteUnfetched},
      {"stored, kept on the server", "stored", 100, 1, 0, MessagePlan::kLeave},
      {"the id of another mail now", "stored", 101, 0, 0, MessagePlan::kFetch},
      {"too large", "big", 100, 0, 0, MessagePlan::kLeave},
      {"spam kept", "spam", 100, 1, 0, MessagePlan::kLeave},
      {"spam kept, now deleted", "spam", 100, 0, 0, MessagePlan::kFetch},
      {"general left", "general", 100, 0, 1, MessagePlan::kLeave},
      {"general left, now wanted", "general", 100, 0, 0, MessagePlan::kFetch},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    s_.keepOnServer = r.keepOnServer;
    s_.commandMailsOnly = r.commandMailsOnly;
    s_.spamFilterEnabled = 1;
    check::MailboxCheck check(s_, st(), log_);
    check.begin();
    ListedMessage m;
    m.number = 3;
    m.id = r.id;
    m.size = r.size;
    EXPECT_EQ(check.planMessage(m), r.plan);
    EXPECT_EQ(check.counts().unreceivableCount, r.id == "big" ? 1 : 0);
  }
  EXPECT_NE(commLog().find("メール3は受信できないメールのため受信しません(7バイト)"), std::string::npos);
}

TEST_F(MailboxCheckTest, WhatAFetchedMailLeavesInTheMemory) {
  const std::string spam = "From: s@example.com\r\nTo: user@example.jp\r\nSubject: cheap\r\n\r\nbuy\r\n.\r\n";
  const std::string general = mailText(2, 300);
  struct Row {
    const char* name;
    int keepOnServer, commandMailsOnly;
    std::string mail;
    MessageAnswer answer;
    bool remembered;
    Dealt dealt;
  } rows[] = {
      {"stored", 0, 0, general, MessageAnswer::kDelete, true, Dealt::kStored},
      {"stored and kept", 1, 0, general, MessageAnswer::kKeep, true, Dealt::kStored},
      {"spam deleted", 0, 0, spam, MessageAnswer::kDelete, false, Dealt::kStored},
      {"spam kept", 1, 0, spam, MessageAnswer::kKeep, true, Dealt::kSpamKept},
      {"general left", 0, 1, general, MessageAnswer::kKeep, true, Dealt::kGeneralKept},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    platform::removeFile(memory().path().c_str());
    s_.keepOnServer = r.keepOnServer;
    s_.commandMailsOnly = r.commandMailsOnly;
    s_.spamFilterEnabled = 1;
    s_.spamRules[0] = 1;
    check::MailboxCheck check(s_, st(), log_);
    check.begin();
    ListedMessage m{1, "id-1", r.mail.size()};
    EXPECT_EQ(check.onMessageComplete(m, r.mail.data(), r.mail.size()), r.answer);
    store::MailboxMemory after = memory();
    after.load();
    ASSERT_EQ(after.find("id-1") != nullptr, r.remembered);
    if (r.remembered) {
      EXPECT_EQ(after.find("id-1")->dealt, r.dealt);
      EXPECT_EQ(after.find("id-1")->size, r.mail.size());
    }
  }
}

// The program is killed at each point between storing a mail and its
// DELE; the next check deletes it without RETR when the log holds it and
// fetches it once more when the log does not: never two copies, never a
// mail deleted that the log does not hold.
TEST_F(MailboxCheckTest, KilledBetweenStoreAndDele) {
  struct Killer : ViewRecorder {
    void rowAdded(int) override { throw std::runtime_error("killed after the log, before the memory's confirmation"); }
  };
  struct KillBeforeDele : check::PolledCheck {
    using PolledCheck::PolledCheck;
    MessageAnswer onMessageComplete(const ListedMessage& m, const char* data, size_t length) override {
      PolledCheck::onMessageComplete(m, data, length);
      throw std::runtime_error("killed before DELE");
    }
  };
  const std::string mail = mailText(1, 600);
  const std::string size = std::to_string(mail.size());
  enum Point { kBeforeLog, kBeforeConfirmation, kBeforeDele };
  for (Point point : {kBeforeLog, kBeforeConfirmation, kBeforeDele}) {
    SCOPED_TRACE(point);
    platform::removeFile(st().logPath().c_str());
    platform::removeFile(memory().path().c_str());
    restart();
    std::vector<ScriptStep> first = {{"STAT", {"+OK 1 " + size + "\r\n"}}, listing("UIDL", {"m1"}),
                                     listing("LIST", {size}), retr(1, mail)};
    if (point == kBeforeDele) {
      KillBeforeDele host(s_, st(), log_);
      host.mailbox().begin();
      runCheck(first, &host);
    } else {
      Killer killer;
      store::MailStore killed(log_);
      killed.setFolder(st().folder().c_str());
      killed.openStore();
      killed.model().setView(&killer);
      check::PolledCheck host(s_, killed, log_);
      host.mailbox().begin();
      runCheck(first, &host);
      // Killed inside the append, the log is cut back at the next start.
      if (point == kBeforeLog) {
        ASSERT_TRUE(platform::writeWholeFile(st().logPath().c_str(), ""));
      }
    }
    restart();
    std::vector<ScriptStep> second = {{"STAT", {"+OK 1 " + size + "\r\n"}}, listing("UIDL", {"m1"}),
                                      listing("LIST", {size})};
    std::vector<std::string> expected = {"STAT", "UIDL", "LIST"};
    if (point == kBeforeLog) {
      second.push_back(retr(1, mail));
      expected.push_back("RETR 1");
    }
    second.push_back(ok("DELE 1"));
    expected.insert(expected.end(), {"DELE 1", "QUIT"});
    EXPECT_EQ(runCheck(second), expected);
    EXPECT_EQ(copiesInLog(mail), 1u);
  }
}

// A damaged memory is not trusted: the check goes on as if it remembered
// nothing, so nothing is deleted that this log does not hold.
TEST_F(MailboxCheckTest, DamagedMemoryDeletesNothingUnfetched) {
  const std::string mail = mailText(1, 600), size = std::to_string(mail.size());
  remember("m1", Dealt::kStored, mail.size());
  std::string data;
  platform::readWholeFile(memory().path().c_str(), &data);
  data[data.size() / 2] ^= 0x20;
  platform::writeWholeFile(memory().path().c_str(), data);
  EXPECT_EQ(runCheck({{"STAT", {"+OK 1 " + size + "\r\n"}}, listing("UIDL", {"m1"}), listing("LIST", {size}),
                      retr(1, mail), ok("DELE 1")}),
            (std::vector<std::string>{"STAT", "UIDL", "LIST", "RETR 1", "DELE 1", "QUIT"}));
  EXPECT_EQ(copiesInLog(mail), 1u);
  EXPECT_NE(commLog().find("が壊れています。記録なしで受信します"), std::string::npos);
}

// Ids that the listing gives to several messages are never used: with
// keepOnServer off each mail is fetched, stored once and deleted after it;
// with it on they are fetched at every check (as without UIDL).
TEST_F(MailboxCheckTest, CollidingIdsAreNeverUsedToSkipOrDelete) {
  std::vector<std::string> mails, ids, sizes;
  for (int i = 1; i <= 5; ++i) {
    mails.push_back(mailText(i, 300));
    ids.push_back("same");
    sizes.push_back(std::to_string(mails.back().size()));
  }
  remember("same", Dealt::kStored, mails[0].size());  // as if one had been stored before
  for (int keep : {0, 1}) {
    SCOPED_TRACE(keep);
    s_.keepOnServer = keep;
    for (int round = 0; round < 2; ++round) {
      std::vector<ScriptStep> script = {{"STAT", {"+OK 5 1\r\n"}}, listing("UIDL", ids), listing("LIST", sizes)};
      std::vector<std::string> expected = {"STAT", "UIDL", "LIST"};
      for (int i = 1; i <= 5; ++i) {
        script.push_back(retr(i, mails[i - 1]));
        expected.push_back("RETR " + std::to_string(i));
        if (!keep) {
          script.push_back(ok("DELE " + std::to_string(i)));
          expected.push_back("DELE " + std::to_string(i));
        }
      }
      expected.push_back("QUIT");
      EXPECT_EQ(runCheck(script), expected);
      EXPECT_EQ(counts_.newMailCount, 5);
      if (!keep) break;  // they are gone from the server
    }
  }
  EXPECT_NE(commLog().find("同じUIDLを持つメールが5通あります。これらは受信済みか見分けられません"), std::string::npos);
}

// Without UIDL and with keepOnServer on, the header block's fingerprint
// holds across checks: the first check fetches, the next two only TOP.
TEST_F(MailboxCheckTest, WithoutUidlTheFingerprintHoldsAcrossChecks) {
  s_.keepOnServer = 1;
  const std::string a = mailText(1, 300), b = mailText(2, 300);
  auto header = [](const std::string& m) { return m.substr(0, m.find("\r\n\r\n") + 4); };
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    std::vector<ScriptStep> script = {{"STAT", {"+OK 2 1\r\n"}},
                                      {"UIDL", {"-ERR not supported\r\n"}},
                                      listing("LIST", {std::to_string(a.size()), std::to_string(b.size())}),
                                      {"TOP 1 0", {"+OK\r\n" + header(a) + ".\r\n"}},
                                      {"TOP 2 0", {"+OK\r\n" + header(b) + ".\r\n"}}};
    std::vector<std::string> expected = {"STAT", "UIDL", "LIST", "TOP 1 0", "TOP 2 0"};
    if (round == 0) {
      script.insert(script.end(), {retr(1, a), retr(2, b)});
      expected.insert(expected.end(), {"RETR 1", "RETR 2"});
    }
    expected.push_back("QUIT");
    EXPECT_EQ(runCheck(script), expected);
    EXPECT_EQ(counts_.newMailCount, round == 0 ? 2 : 0);
  }
  EXPECT_EQ(st().model().count(), 2);
}

}  // namespace
}  // namespace storetest
