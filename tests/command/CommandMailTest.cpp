#include <gtest/gtest.h>

#include <cstring>

#include "config/AppSettings.h"
#include "command/CommandMail.h"

namespace {

// Each row: the five required texts, the five header values, the answer.
TEST(CommandMail, FiveSubstringTests) {
  struct Case {
    const char *keyword, *sender, *recipient, *mailer, *senderAddress;
    const char *subject, *from, *to, *xMailer, *xSender;
    bool command;
  } cases[] = {
      {"", "", "", "", "", "", "", "", "", "", true},
      {"Vistrel", "", "", "", "", "Re: Vistrel snap", "", "", "", "", true},
      {"Vistrel", "", "", "", "", "vistrel", "", "", "", "", false},
      {"Vistrel", "", "", "", "", "Ｖｉｓｔｒｅｌ", "", "", "", "", false},
      {"監視", "", "", "", "", "カメラ監視です", "", "", "", "", true},
      {"Vistrel", "boss@", "", "", "", "Vistrel", "Boss <boss@example.jp>", "", "", "", true},
      {"Vistrel", "boss@", "", "", "", "Vistrel", "other@example.jp", "", "", "", false},
      {"", "", "cam@", "", "", "", "", "cam@example.jp", "", "", true},
      {"", "", "cam@", "", "", "", "", "Cam@example.jp", "", "", false},
      {"", "", "", "Mailer 2", "", "", "", "", "My Mailer 2.1", "", true},
      {"", "", "", "Mailer 2", "", "", "", "", "My Mailer 3", "", false},
      {"", "", "", "", "me@", "", "", "", "", "me@example.jp", true},
      {"", "", "", "", "me@", "", "", "", "", "", false},
      {"Vistrel", "a", "b", "c", "d", "Vistrel", "a", "b", "c", "x", false},
  };
  for (const Case& c : cases) {
    config::AppSettings s;
    std::memset(&s, 0, sizeof s);
    std::strcpy(s.subjectKeyword, c.keyword);
    std::strcpy(s.requiredSender, c.sender);
    std::strcpy(s.requiredRecipient, c.recipient);
    std::strcpy(s.requiredMailer, c.mailer);
    std::strcpy(s.requiredSenderAddress, c.senderAddress);
    mime::MailIndexEntry m{};
    std::strcpy(m.subject, c.subject);
    std::strcpy(m.from, c.from);
    std::strcpy(m.to, c.to);
    std::strcpy(m.mailer, c.xMailer);
    std::strcpy(m.sender, c.xSender);
    EXPECT_EQ(command::isCommandMail(s, m), c.command) << c.subject << "|" << c.from << "|" << c.to;
  }
}

}  // namespace
