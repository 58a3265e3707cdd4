// The per-mail decisions of a check.
#include <unistd.h>

#include <cstring>
#include <string>

#include "store/StoreFixture.h"
#include "config/AppSettings.h"
#include "check/MailCheck.h"

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
    EXPECT_EQ(counts.spamCount, c.spam);
    EXPECT_EQ(counts.storeFailureCount, c.logBlocked ? 1 : 0);
    EXPECT_EQ(commLog(), c.logged);
    ASSERT_EQ(list_.entries.size(), c.storedMark ? 1u : 0u);
    EXPECT_EQ(indexFile().size(), store::kIndexHeaderSize + (c.storedMark ? store::kIndexRecordSize : 0));
    if (c.storedMark) {
      EXPECT_EQ(list_.entries[0].arrivalMark, c.storedMark);
      EXPECT_EQ(logFile(), c.mail);
    }
  }
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
  EXPECT_TRUE(list_.entries.empty());
  EXPECT_EQ(platform::fileSize(st().indexPath().c_str()), store::kIndexHeaderSize);
  EXPECT_EQ(commLog(), "メールログ追記失敗\r\n");
  ::rmdir(platform::nativePath(st().logPath().c_str()).c_str());
}

}  // namespace
}  // namespace storetest

namespace {

TEST(Pop3AccountOfSettings, SecurityModeVerifyAndTrustFile) {
  struct Case { int32_t mode; int32_t noVerify; pop3::Pop3Security security; bool verify; } cases[] = {
      {config::kPopPlain, 0, pop3::Pop3Security::kPlain, true},  // a record from before TLS
      {config::kPopStls, 0, pop3::Pop3Security::kStls, true},
      {config::kPopTls, 1, pop3::Pop3Security::kTls, false},
      {7, 0, pop3::Pop3Security::kTls, true},  // unknown: never plaintext
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
