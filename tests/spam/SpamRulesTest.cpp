#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "config/AppSettings.h"
#include "mime/MimeMessage.h"
#include "platform/File.h"
#include "spam/SpamRules.h"
#include "support/TempDir.h"

namespace {

config::AppSettings settingsWith(std::initializer_list<int> flags, const char* account = "user@example.jp") {
  config::AppSettings s;
  std::memset(&s, 0, sizeof s);
  config::applyDefaults(s, "C:\\start");
  for (int& f : s.spamRules) f = 0;
  for (int f : flags) s.spamRules[f] = 1;
  std::strcpy(s.accountName, account);
  s.spamFilterEnabled = 1;
  return s;
}

mime::MailIndexEntry entry(const char* date, const char* to, const char* subject) {
  mime::MailIndexEntry e{};
  std::strcpy(e.date, date);
  std::strcpy(e.to, to);
  std::strcpy(e.subject, subject);
  return e;
}

const char* kDate = "Sun, 7 Dec 2008 09:05:03 +0900";
const char* kTo = "user@example.jp";

// Each row: the flags on, the mail's values, the two charsets, the reason.
TEST(SpamRules, CriteriaInTheirOrder) {
  struct Case {
    std::initializer_list<int> flags;
    const char *date, *to, *subject;
    int header, body;
    const char* reason;  // nullptr: not spam
  } cases[] = {
      {{}, "", "", "", 1, 8, nullptr},
      {{0, 3}, "", kTo, "hello", 0, 4, "スパム該当：送信日付なし"},
      {{1}, kDate, "", "x", 0, 0, "スパム該当：宛先なし"},
      {{2}, kDate, kTo, "", 0, 0, "スパム該当：件名なし"},
      {{23, 4}, kDate, "other@example.jp", "x", 8, 0, "スパム該当：宛先不正"},
      {{23}, kDate, "<user@example.jp>", "x", 0, 0, nullptr},
      {{4}, kDate, kTo, "x", 8, 3, "スパム該当：西欧諸語(ISO_8859_1) H"},
      {{22}, kDate, kTo, "x", 8, 3, nullptr},
      {{4, 17}, kDate, kTo, "x", 8, 21, "スパム該当：西欧諸語(ISO_8859_1) H"},
      {{17}, kDate, kTo, "x", 8, 21, "スパム該当：ロシア語(KOI8_R) B"},
      {{6}, kDate, kTo, "x", 10, 0, "スパム該当：中央欧州語(ISO_8859_3) H"},
      {{21}, kDate, kTo, "x", 0, 25, "スパム該当：繁字体中国語(Big5) B"},
      {{22}, kDate, kTo, "x", 1, 0, "スパム該当：項目以外の外国語 H"},
      {{3}, kDate, kTo, "x", 4, 0, "スパム該当：英語(US_ASCII) H"},
      {{3}, kDate, kTo, "plain ascii", 0, 0, "スパム該当：英語(US_ASCII)"},
      {{3}, kDate, kTo, "", 0, 0, "スパム該当：英語(US_ASCII)"},
      {{3}, kDate, kTo, "件名", 0, 0, nullptr},
      {{3}, kDate, kTo, "x", 0, 2, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.subject) + " / " + std::to_string(c.header) + "," + std::to_string(c.body));
    const char* reason = spam::spamReason(settingsWith(c.flags), entry(c.date, c.to, c.subject), c.header, c.body);
    EXPECT_STREQ(reason, c.reason);
  }
}

TEST(SpamRules, JapaneseCharsetsNeverMatch) {
  config::AppSettings s = settingsWith({3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22});
  for (int code : {2, 3, 5, 6, 7})
    EXPECT_EQ(spam::spamReason(s, entry(kDate, kTo, "x"), code, code), nullptr) << code;
  for (int code = 8; code <= 25; ++code)
    EXPECT_NE(spam::spamReason(s, entry(kDate, kTo, "x"), 0, code), nullptr) << code;
}

TEST(SpamRules, AccountNameMatch) {
  struct Case {
    const char* to;
    bool match;
  } cases[] = {
      {"user@example.jp", true},        {"<user@example.jp>", true},  {"user@exbmple.jp", true},
      {"<user@example.jp", true},       {"usEr@example.jp", true},    {"USer@example.jp", false},
      {"Taro <user@example.jp>", false}, {"user@example.jp, b@example.jp", false},
      {"user@example.j", false},        {"user@example.jpp", false},
  };
  for (const Case& c : cases) EXPECT_EQ(spam::matchesAccount(c.to, "user@example.jp"), c.match) << c.to;
}

// Parsed mails, as the check hands them over; the reason reaches the log.
TEST(SpamRules, ParsedMailsAndTheLog) {
  testsupport::TempDir dir;
  commlog::CommLog log(dir.sjisFile("comm.txt"));
  const std::string latinSubject =
      "Date: x\r\nTo: user@example.jp\r\nSubject: =?iso-8859-1?Q?caf=E9?=\r\n"
      "Content-Type: text/plain; charset=Shift_JIS\r\n\r\nbody\r\n.\r\n";
  const std::string plain = "Date: x\r\nTo: user@example.jp\r\nSubject: hello\r\n\r\nbody\r\n.\r\n";
  struct Case {
    std::string text;
    std::initializer_list<int> flags;
    int spam;
    std::string logged;
  } cases[] = {
      {latinSubject, {4}, 1, "スパム該当：西欧諸語(ISO_8859_1) H\r\n"},
      {latinSubject, {22}, 0, ""},
      {plain, {3}, 1, "スパム該当：英語(US_ASCII)\r\n"},
      {plain, {}, 0, ""},
  };
  for (const Case& c : cases) {
    log.clear();
    mime::MimeMessage m;
    m.parseMail(c.text.data(), c.text.size(), 0, 0);
    EXPECT_EQ(spam::isSpam(settingsWith(c.flags), m, m.bodyCharset(c.text.data(), c.text.size()), log), c.spam);
    std::string logged;
    platform::readWholeFile(log.path().c_str(), &logged);
    EXPECT_EQ(logged, c.logged);
  }
}

}  // namespace
