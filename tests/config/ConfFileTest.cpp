#include <gtest/gtest.h>

#include <string>

#include "config/ConfFile.h"
#include "platform/Text.h"

namespace {

using config::ConfError;

const char kMinimal[] =
    "pop3_server = mail.example.jp\n"
    "account = camera\n"
    "password_file = /etc/quorvel/password\n";

// Narrow literals are Shift_JIS here; the file is UTF-8.
std::string utf8(const char* sjis) { return platform::cp932ToUtf8(sjis); }

std::vector<std::string> errorsOf(const std::string& text) {
  config::AppSettings s{};
  config::ServiceSettings service;
  std::vector<std::string> out;
  for (const ConfError& e : config::parseConf(text, s, service)) out.push_back(config::describe("q.conf", e));
  return out;
}

TEST(ConfFile, EverySettingReachesTheRecord) {
  std::string text = std::string("# a comment\n\n") + kMinimal +
                     "pop3_port = 995\npop3_security = tls\nsmtp_server = smtp.example.jp\nsmtp_port = 587\n"
                     "smtp_security = starttls\nsmtp_auth = yes\ntls_verify = no\ncheck_interval = 90\n"
                     "keep_on_server = on\ncommand_mails_only = true\nmail_log_keep = 5\n" +
                     utf8("subject_keyword = \"カメラ 指令\"\nrequired_from = boss@example.jp\n"
                          "key.snapshot_reply = 写真\nkey.pc_shutdown = 電源断\nkey.camera_minimize =\n") +
                     "spam_filter = yes\nspam_rules = no-date, koi8-r ,wrong-to\nreplay_guard = 1\n"
                     "max_replies_per_hour = 3\nreply_image_width = 320\nstate_dir = /srv/q\n"
                     "motion_url = http://127.0.0.1:7999\nmotion_camera = 2\nmax_recording_seconds = 30\n"
                     "poweroff_allowed = yes\nreceive_protocol = imap\n" + utf8("imap_folder = カメラ/指令\n");
  config::AppSettings s{};
  config::ServiceSettings service;
  ASSERT_TRUE(config::parseConf(text, s, service).empty());
  EXPECT_STREQ(s.signature, "Quorvel");
  EXPECT_STREQ(s.pop3Server, "mail.example.jp");
  EXPECT_EQ(s.pop3Port, 995);
  EXPECT_EQ(s.pop3Security, config::kPopTls);
  EXPECT_EQ(s.smtpPort, 587);
  EXPECT_EQ(s.smtpSecurity, config::kSmtpStartTls);
  EXPECT_EQ(s.smtpAuthRequired, 1);
  EXPECT_EQ(s.tlsNoVerify, 1);
  EXPECT_EQ(s.receiveProtocol, config::kReceiveImap);
  EXPECT_EQ(std::string(s.imapFolder), "カメラ/指令");
  EXPECT_EQ(s.intervalMinutes, 1);
  EXPECT_EQ(s.intervalSeconds, 30);
  EXPECT_EQ(s.keepOnServer, 1);
  EXPECT_EQ(s.commandMailsOnly, 1);
  EXPECT_EQ(s.mailLogKeepCount, 5);
  EXPECT_EQ(std::string(s.subjectKeyword), "カメラ 指令");
  EXPECT_STREQ(s.requiredSender, "boss@example.jp");
  EXPECT_EQ(std::string(s.commandKeyNames[6]), "写真");
  EXPECT_EQ(std::string(s.commandKeyNames[24]), "電源断");
  EXPECT_STREQ(s.commandKeyNames[2], "");
  EXPECT_EQ(std::string(s.commandKeyNames[0]), "VT起動");  // default kept
  EXPECT_EQ(s.spamFilterEnabled, 1);
  for (int i = 0; i < config::kSpamRuleCount; ++i) EXPECT_EQ(s.spamRules[i], i == 0 || i == 17 || i == 23) << i;
  EXPECT_EQ(s.replayGuard, 1);
  EXPECT_EQ(s.maxRepliesPerHour, 3);
  EXPECT_EQ(s.replyImageWidth, 320);
  EXPECT_STREQ(s.mailLogFolder, "/srv/q");
  EXPECT_STREQ(s.password, "");
  EXPECT_EQ(service.passwordFile, "/etc/quorvel/password");
  EXPECT_EQ(service.stateDir, "/srv/q");
  EXPECT_EQ(service.motionUrl, "http://127.0.0.1:7999");
  EXPECT_EQ(service.motionCamera, 2);
  EXPECT_EQ(service.maxRecordingSeconds, 30);
  EXPECT_TRUE(service.poweroffAllowed);
}

TEST(ConfFile, DefaultsWhereTheFileIsSilent) {
  config::AppSettings s{};
  config::ServiceSettings service;
  ASSERT_TRUE(config::parseConf(kMinimal, s, service).empty());
  EXPECT_EQ(s.pop3Port, 110);
  EXPECT_EQ(s.receiveProtocol, config::kReceivePop3);
  EXPECT_STREQ(s.imapFolder, "");
  EXPECT_EQ(s.intervalMinutes, 10);
  EXPECT_STREQ(s.subjectKeyword, "Vistrel");
  EXPECT_STREQ(s.commandKeyNames[24], "");  // power-off stays off until named
  EXPECT_STREQ(s.mailLogFolder, "/var/lib/quorvel");
  EXPECT_FALSE(service.poweroffAllowed);
}

TEST(ConfFile, FaultsByLine) {
  struct Case {
    std::string text;
    std::vector<std::string> errors;
  } cases[] = {
      {std::string(kMinimal) + "colour = blue\n", {"q.conf:4: unknown key \"colour\""}},
      {std::string(kMinimal) + "password = secret\n",
       {"q.conf:4: unknown key \"password\" (the password belongs in the file that password_file names)"}},
      {std::string(kMinimal) + "pop3_port = 11O\n", {"q.conf:4: pop3_port: expected a number, not \"11O\""}},
      {std::string(kMinimal) + "smtp_port = 70000\n",
       {"q.conf:4: smtp_port: expected a number from 1 to 65535, not 70000"}},
      {std::string(kMinimal) + "keep_on_server = maybe\n",
       {"q.conf:4: keep_on_server: expected yes or no, not \"maybe\""}},
      {std::string(kMinimal) + "pop3_security = ssl\n",
       {"q.conf:4: pop3_security: expected one of none, stls, tls, not \"ssl\""}},
      {std::string(kMinimal) + "spam_rules = no-date, spam\n", {"q.conf:4: spam_rules: unknown spam rule \"spam\""}},
      {std::string(kMinimal) + "subject_keyword = " + std::string(80, 'x') + "\n",
       {"q.conf:4: subject_keyword: the text is 80 bytes in Shift_JIS; at most 79 fit"}},
      {std::string(kMinimal) + "subject_keyword = \xF0\x9F\x98\x80\n",
       {"q.conf:4: subject_keyword: the text has characters that Shift_JIS cannot hold"}},
      {std::string(kMinimal) + "subject_keyword = \xFF\n", {"q.conf:4: subject_keyword: the text is not UTF-8"}},
      {std::string(kMinimal) + "account = again\n", {"q.conf:4: \"account\" is set twice"}},
      {std::string(kMinimal) + "just words\n", {"q.conf:4: expected \"key = value\""}},
      {std::string(kMinimal) + "state_dir = var/lib\n", {"q.conf:4: state_dir: expected an absolute path"}},
      {std::string(kMinimal) + "motion_url = 127.0.0.1:8080\n",
       {"q.conf:4: motion_url: expected an http:// address of motion's control port"}},
      {"pop3_server = m\naccount = a\n", {"q.conf: \"password_file\" is missing"}},
      {"x = 1\npop3_port = -1\n",
       {"q.conf:1: unknown key \"x\"", "q.conf:2: pop3_port: expected a number from 1 to 65535, not -1",
        "q.conf: \"pop3_server\" is missing", "q.conf: \"account\" is missing",
        "q.conf: \"password_file\" is missing"}},
  };
  for (const Case& c : cases) EXPECT_EQ(errorsOf(c.text), c.errors) << c.text;
}

TEST(ConfFile, ByteOrderMarkAndCarriageReturns) {
  config::AppSettings s{};
  config::ServiceSettings service;
  std::string text = "\xEF\xBB\xBFpop3_server = m\r\naccount = a\r\npassword_file = /p\r\n";
  EXPECT_TRUE(config::parseConf(text, s, service).empty());
  EXPECT_STREQ(s.pop3Server, "m");
}

}  // namespace
