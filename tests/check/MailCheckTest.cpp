// The per-mail decisions of a check.
#include <unistd.h>

#include <cstring>
#include <string>

#include "store/StoreFixture.h"
#include "config/AppSettings.h"
#include "check/MailCheck.h"
#include "platform/Text.h"

namespace storetest {
namespace {

using pop3::MessageAnswer;

TEST_F(StoreTest, DownloadedMailDecisions) {
  const std::string spamMail = "From: s@example.com\r\nTo: user@example.jp\r\nSubject: cheap\r\n\r\nbuy\r\n.\r\n";
  const std::string commandMail = mailText(1, 300, "X-Mailer: M\r\n");
  std::string command = commandMail;
  command.replace(command.find("Subject: mail 1"), 15, "Subject: Vistrel");
  const std::string generalMail = mailText(2, 300);
  struct Case {
    const char* name;
    int filter, keepOnServer, commandMailsOnly;
    std::string mail;
    MessageAnswer answer;
    int32_t storedMark;  // 0: not stored
    int newMails, spam;
    std::string logged;
    bool logBlocked = false;  // the mail log cannot be written
  } cases[] = {
      {"spam deleted", 1, 0, 0, spamMail, MessageAnswer::kDelete, 0, 0, 1,
       "スパム該当：送信日付なし\r\n削除スパムの件名： cheap\r\n"},
      {"spam kept on server", 1, 1, 0, spamMail, MessageAnswer::kKeep, 0, 0, 0, "スパム該当：送信日付なし\r\n"},
      {"filter off", 0, 0, 0, spamMail, MessageAnswer::kDelete, 101, 1, 0, "非コマンドメールです\r\n"},
      {"command mail", 1, 0, 0, command, MessageAnswer::kDelete, 102, 1, 0, ""},
      {"command mail kept", 1, 1, 0, command, MessageAnswer::kKeep, 102, 1, 0, ""},
      {"general mail", 1, 0, 0, generalMail, MessageAnswer::kDelete, 101, 1, 0, "非コマンドメールです\r\n"},
      {"command mails only", 1, 0, 1, generalMail, MessageAnswer::kKeep, 0, 0, 0, "非コマンドメールです\r\n"},
      {"not whole", 1, 0, 0, generalMail.substr(0, generalMail.size() - 3), MessageAnswer::kKeep, 0, 0, 0, ""},
      // Neither stored nor new: no row, no record, kept for the next check.
      {"command mail the log cannot take", 1, 0, 0, command, MessageAnswer::kKeep, 0, 0, 0,
       "メールログ追記失敗\r\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    config::AppSettings s;
    std::memset(&s, 0, sizeof s);
    config::applyDefaults(s, "C:\\start");
    s.spamFilterEnabled = c.filter;
    s.spamRules[0] = 1;
    s.keepOnServer = c.keepOnServer;
    s.commandMailsOnly = c.commandMailsOnly;
    log_.clear();
    restartObject();
    platform::removeFile(st().logPath().c_str());
    ::rmdir(platform::nativePath(st().logPath().c_str()).c_str());
    if (c.logBlocked) platform::makeDirectory(st().logPath().c_str());
    st().createIndex();
    check::CheckCounts counts;
    mime::MimeMessage mail;
    EXPECT_EQ(check::handleDownloadedMail(s, mail, c.mail.data(), c.mail.size(), st(), counts, log_), c.answer);
    EXPECT_EQ(counts.newMailCount, c.newMails);
    // A stored command mail is listed for its commands.
    EXPECT_EQ(counts.commandMails.size(), c.storedMark == 102 ? 1u : 0u);
    if (c.storedMark == 102) {
      EXPECT_EQ(counts.commandMails[0], st().model().idAt(0));
    }
    EXPECT_EQ(counts.spamCount, c.spam);
    EXPECT_EQ(counts.storeFailureCount, c.logBlocked ? 1 : 0);
    EXPECT_EQ(commLog(), c.logged);
    ASSERT_EQ(entries().size(), c.storedMark ? 1u : 0u);
    EXPECT_EQ(indexFile().size(), store::kIndexHeaderSize + (c.storedMark ? store::kIndexRecordSize : 0));
    if (c.storedMark) {
      EXPECT_EQ(entries()[0].arrivalMark, c.storedMark);
      EXPECT_EQ(logFile(), c.mail);
    }
  }
}

// Rows deleted while a check runs (older mails, and one of the new ones)
// do not hide the other command mails it stored: they are found by id.
TEST_F(StoreTest, CommandMailsOfACheckAreFoundAfterRowsAreDeleted) {
  config::AppSettings s;
  std::memset(&s, 0, sizeof s);
  config::applyDefaults(s, "C:\\start");
  st().createIndex();
  store({mailText(0, 300), mailText(1, 300), mailText(2, 300)});  // before the check
  std::vector<std::string> downloaded;
  for (int n : {3, 4, 5, 6}) {
    std::string m = mailText(n, 300);
    if (n != 4) m.replace(m.find("Subject: mail " + std::to_string(n)), 15, "Subject: Vistrel");
    downloaded.push_back(m);
  }
  check::CheckCounts counts;
  mime::MimeMessage mail;
  for (size_t i = 0; i < downloaded.size(); ++i) {
    const std::string& m = downloaded[i];
    check::handleDownloadedMail(s, mail, m.data(), m.size(), st(), counts, log_);
    if (i == 1) {
      st().deleteMail(0);  // the user deletes rows meanwhile
      st().deleteMail(0);
    }
  }
  st().deleteMail(st().model().rowOf(counts.commandMails[1]));  // and one new command mail
  ASSERT_EQ(counts.commandMails.size(), 3u);
  std::vector<std::string> waiting;
  for (mime::MailId id : counts.commandMails)
    if (const mime::MailIndexEntry* e = st().model().find(id)) {
      EXPECT_EQ(e->arrivalMark, mime::kMarkWaiting);
      waiting.push_back(std::to_string(st().model().rowOf(id)) + " " + platform::fieldText(e->from));
    }
  EXPECT_EQ(waiting, (std::vector<std::string>{"1 sender3@example.jp", "3 sender6@example.jp"}));
  // An outcome reaches the mail wherever its row is now; a deleted one is told.
  EXPECT_TRUE(st().model().setArrivalMark(counts.commandMails[2], mime::kMarkDone));
  EXPECT_EQ(st().model().entryAt(3).arrivalMark, mime::kMarkDone);
  EXPECT_FALSE(st().model().setArrivalMark(counts.commandMails[1], mime::kMarkDone));
  EXPECT_EQ(view_.calls.back(), "change 3");
}

// A session that cannot even be opened is one failure, and ends once.
TEST_F(StoreTest, FailedSessionOpenCountsOneFailure) {
  struct Host : pop3::Pop3Host {
    pop3::MessageAnswer onMessageComplete(const pop3::ListedMessage&, const char*, size_t) override {
      return pop3::MessageAnswer::kKeep;
    }
    void onSessionFailed() override { ++failures; }
    void onSessionEnded() override { ++ends; }
    int newMailCount() const override { return 0; }
    bool requestNotifications(net::TcpSocket&, int*) override { return true; }
    bool cancelNotifications(net::TcpSocket&, int*) override { return true; }
    int failures = 0, ends = 0;
  } host;
  pop3::Pop3Session session(host, log_);
  pop3::Pop3Account account;
  account.server = "127.0.0.1";
  account.port = 1;  // nothing listens there
  account.accountName = "user";
  log_.clear();
  EXPECT_FALSE(check::openCheckSession(session, account, log_));
  EXPECT_EQ(host.failures, 1);
  EXPECT_EQ(host.ends, 1);
  EXPECT_NE(commLog().find("メール受信前初期化でエラー\r\n"), std::string::npos);
}

// A command mail the log cannot take stays on the server, unlisted and
// uncounted, so it is neither run now nor run twice later.
TEST_F(StoreTest, MailTheLogCannotTakeStaysOnTheServer) {
  std::string command = mailText(1, 300);
  command.replace(command.find("Subject: mail 1"), 15, "Subject: Vistrel");
  config::AppSettings s;
  std::memset(&s, 0, sizeof s);
  config::applyDefaults(s, "C:\\start");
  st().createIndex();
  platform::removeFile(st().logPath().c_str());
  platform::makeDirectory(st().logPath().c_str());  // the log cannot be opened for appending
  check::CheckCounts counts;
  mime::MimeMessage mail;
  EXPECT_EQ(check::handleDownloadedMail(s, mail, command.data(), command.size(), st(), counts, log_),
            MessageAnswer::kKeep);
  EXPECT_EQ(counts.newMailCount, 0);
  EXPECT_TRUE(entries().empty());
  EXPECT_EQ(platform::fileSize(st().indexPath().c_str()), store::kIndexHeaderSize);
  EXPECT_EQ(commLog(), "メールログ追記失敗\r\n");
  ::rmdir(platform::nativePath(st().logPath().c_str()).c_str());
}

}  // namespace
}  // namespace storetest

namespace {

TEST(Pop3AccountOfSettings, SecurityModeVerifyAndTrustFile) {
  struct Case { int32_t mode; int32_t noVerify; net::Security security; bool verify; } cases[] = {
      {config::kPopPlain, 0, net::Security::kPlain, true},  // a record from before TLS
      {config::kPopStls, 0, net::Security::kStartTls, true},
      {config::kPopTls, 1, net::Security::kTls, false},
      {7, 0, net::Security::kTls, true},  // unknown: never plaintext
  };
  for (const Case& c : cases) {
    config::AppSettings s;
    std::memset(&s, 0, sizeof s);
    config::applyDefaults(s, "/tmp");
    std::strcpy(s.pop3Server, "pop.example.jp");
    s.pop3Port = 995;
    std::strcpy(s.accountName, "user");
    std::strcpy(s.password, "pw");
    s.pop3Security = c.mode;
    s.tlsNoVerify = c.noVerify;
    std::strcpy(s.tlsTrustFile, "C:\\ca.pem");
    pop3::Pop3Account a = check::pop3Account(s);
    EXPECT_EQ(a.server, "pop.example.jp");
    EXPECT_EQ(a.port, 995);
    EXPECT_EQ(a.password, "pw");
    EXPECT_EQ(a.security, c.security) << c.mode;
    EXPECT_EQ(a.verifyCertificate, c.verify) << c.mode;
    EXPECT_EQ(a.trustFile, "C:\\ca.pem");
  }
}

}  // namespace
