#include <gtest/gtest.h>

#include <memory>

#include <cstring>
#include <map>
#include <string>

#include "command/CameraBridge.h"
#include "command/CommandProcessor.h"
#include "command/CommandReply.h"

namespace {

using command::kResultTextSize;
using command::ResultText;

TEST(ResultText, AppendsOnlyWhatFitsWithItsNul) {
  ResultText r;
  r.start("", 0);
  std::string fill(kResultTextSize - 1 - r.length() - 3, 'x');
  EXPECT_TRUE(r.append(fill.c_str()));
  EXPECT_FALSE(r.append("abcd"));  // would need 10241 bytes
  EXPECT_TRUE(r.append("abc"));    // exactly 10239 and the NUL
  EXPECT_EQ(r.length(), kResultTextSize - 1);
  EXPECT_FALSE(r.append("z"));
  EXPECT_EQ(std::strlen(r.text()), kResultTextSize - 1);
}

TEST(ResultText, StartsWithTheBodyAndTheSeparator) {
  const std::string separator = command::kResultSeparator;
  // A body that leaves the reserve free is kept whole.
  std::string small = "本文です\r\n";
  ResultText r;
  r.start(small.data(), small.size());
  EXPECT_EQ(std::string(r.text()), small + separator);
  // Longer bodies (also 10,240 bytes and more) are cut on a character
  // boundary, ended with a line end, and the results still have room.
  for (size_t size : {size_t{8200}, kResultTextSize - 1, kResultTextSize, size_t{20000}}) {
    std::string body;
    while (body.size() < size) body += "あ";  // two bytes each
    body.resize(size, 'x');
    r.start(body.data(), body.size());
    std::string text = r.text();
    ASSERT_LT(text.size(), kResultTextSize) << size;
    size_t cut = text.size() - separator.size() - 1;
    EXPECT_EQ(text.substr(cut), "\n" + separator) << size;
    EXPECT_EQ(cut % 2, 0u) << size;
    EXPECT_EQ(text.compare(0, cut, body, 0, cut), 0) << size;
    EXPECT_GE(kResultTextSize - 1 - text.size(), command::kResultReserve) << size;
  }
}

TEST(ReplyRecord, AddressInsideAngleBracketsElseTrimmedText) {
  const std::pair<const char*, const char*> cases[] = {
      {"a@b.jp", "a@b.jp"},
      {"  a@b.jp \t", "a@b.jp"},
      {"山田 <yamada@example.jp>", "yamada@example.jp"},
      {"\"x <y>\" < real@example.jp >", "real@example.jp"},
      {"Name <>", "Name <>"},
      {"Name <a@b", "Name <a@b"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(command::replyAddress(c.first), c.second) << c.first;
}

TEST(ReplyRecord, WidthArgument) {
  const std::pair<const char*, int32_t> cases[] = {
      {"400", 400}, {"  640px", 640}, {"-1", -1}, {"+12", 12}, {"", 0}, {"abc", 0},
      {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN},
  };
  for (const auto& c : cases) EXPECT_EQ(command::parseWidth(c.first), c.second) << c.first;
}

TEST(ReplyRecord, Fields) {
  config::AppSettings s;
  std::memset(&s, 0, sizeof s);
  config::applyDefaults(s, "/tmp");
  std::strcpy(s.smtpServer, "smtp.example.jp");
  std::strcpy(s.accountName, "user");
  std::strcpy(s.password, "secret");
  s.smtpPort = 2525;
  s.smtpAuthRequired = 1;
  mime::MailIndexEntry mail{};
  std::strcpy(mail.from, "Boss <boss@example.jp>");
  std::memset(mail.subject, 'S', sizeof mail.subject - 1);
  SendMailRequest r = command::buildReplyRequest(s, mail, "body", "snap.jpg", true, "");
  EXPECT_EQ(r.port, 2525);
  EXPECT_EQ(r.flags, 0);
  EXPECT_EQ(r.ccCount, 0);
  EXPECT_STREQ(r.server, "smtp.example.jp");
  EXPECT_STREQ(r.fromAddress, "smtp.example.jp");
  EXPECT_STREQ(r.toAddress, "boss@example.jp");
  EXPECT_STREQ(r.fromName, "Quorvel");
  EXPECT_EQ(std::string(r.subject), "Re:" + std::string(252, 'S'));
  EXPECT_STREQ(r.body, "body");
  EXPECT_STREQ(r.attachmentPath, "snap.jpg");
  EXPECT_STREQ(r.userName, "user");
  EXPECT_STREQ(r.password, "secret");
  EXPECT_STREQ(r.heloName, "NO NAME CLIENT");
  EXPECT_EQ(r.useAuth, 1);
  EXPECT_EQ(r.writeLog, 1);
  EXPECT_EQ(r.deleteAttachment, 1);
  r = command::buildReplyRequest(s, mail, "", "", false, std::string(40, 'H'));
  EXPECT_EQ(std::string(r.heloName), std::string(31, 'H'));
  EXPECT_EQ(r.deleteAttachment, 0);
  // Signed in with a token, the mailbox sends.
  s.sendAuth = config::kAuthOAuth;
  std::strcpy(s.accountName, "user@example.jp");
  r = command::buildReplyRequest(s, mail, "", "", false, "");
  EXPECT_STREQ(r.fromAddress, "user@example.jp");
}

TEST(ReplyRecord, BearerSecurityCarriesTheTokenBesideTheSmtpSettings) {
  config::AppSettings s;
  std::memset(&s, 0, sizeof s);
  config::applyDefaults(s, "/tmp");
  s.smtpSecurity = config::kSmtpStartTls;
  auto record = std::make_unique<SendSecurityBearer>();
  ASSERT_TRUE(command::replySecurityBearer(s, "tok.1", true, record.get()));
  EXPECT_EQ(record->security.mode, kSendStartTls | kSendAuthBearer);
  EXPECT_EQ(record->mechanism, kSendOauthBearer);
  EXPECT_STREQ(record->bearerToken, "tok.1");
  EXPECT_FALSE(command::replySecurityBearer(s, std::string(sizeof record->bearerToken, 'x'), false, record.get()));
  EXPECT_FALSE(command::replySecurityBearer(s, "", false, record.get()));
}

TEST(ReplyRecord, SecurityFromTheSmtpSettings) {
  struct Case { int32_t mode; int32_t noVerify; int32_t sent; } cases[] = {
      {config::kSmtpPlain, 0, kSendPlain},
      {config::kSmtpStartTls, 0, kSendStartTls},
      {config::kSmtpTls, 1, kSendTls},
      {9, 0, kSendTls},  // unknown: never plaintext
  };
  for (const Case& c : cases) {
    config::AppSettings s;
    std::memset(&s, 0, sizeof s);
    config::applyDefaults(s, "/tmp");
    s.smtpSecurity = c.mode;
    s.tlsNoVerify = c.noVerify;
    std::strcpy(s.tlsTrustFile, "C:\\ca.pem");
    SendSecurity sec = command::replySecurity(s);
    EXPECT_EQ(sec.mode, c.sent) << c.mode;
    EXPECT_EQ(sec.noVerify, c.noVerify) << c.mode;
    EXPECT_STREQ(sec.trustFile, "C:\\ca.pem");
  }
}

TEST(KeyList, LabelAndConfiguredKeyPerFunction) {
  config::AppSettings s;
  std::memset(&s, 0, sizeof s);
  config::applyDefaults(s, "/tmp");
  std::strcpy(s.commandKeyNames[22], "幅");
  auto lines = command::keyListLines(s);
  ASSERT_EQ(lines.size(), 28u);
  EXPECT_EQ(lines.front(), "== コマンド 一覧 ==\n");
  EXPECT_EQ(lines[1], "VT起動: VT起動\n");
  EXPECT_EQ(lines[23], "画像幅: 幅\n");
  EXPECT_EQ(lines[25], "PCシャットダウン: \n");
  EXPECT_EQ(lines.back(), "===================\n");
}

// Recording lookup over files held in memory.
struct MemoryFiles : command::CameraFiles {
  std::map<std::string, std::string> files;
  std::map<std::string, std::vector<command::FolderEntry>> listings;
  std::string lastPattern;
  bool readFileHead(const char* path, size_t maxBytes, std::string* data) override {
    auto it = files.find(path);
    if (it == files.end()) return false;
    *data = it->second.substr(0, maxBytes);
    return true;
  }
  std::vector<command::FolderEntry> listFolder(const char* pattern) override {
    lastPattern = pattern;
    return listings[pattern];
  }
  bool snapshotExists() override { return false; }
};

std::string settingsWithFolder(const std::string& folder) {
  std::string head(21, 'h');
  return head + folder + std::string(1, '\0') + "rest";
}

TEST(Recording, NewestIsTheLastListedWithinTheLimit) {
  struct Case {
    const char* cameraName;
    std::string settingsFile;  // name, contents
    std::string contents;
    std::vector<command::FolderEntry> listing;
    int result;
    std::string path;
  } cases[] = {
      {"", "Vistrel.ini", settingsWithFolder("C:\\rec"),
       {{"a.wmv", 0x20, 10}, {"b.wmv", 0x20, 10}, {"c.wmv", 0x20, 10}}, 1, "C:\\rec\\c.wmv"},
      {"Cam1", "VistrelCam1.ini", settingsWithFolder("D:\\v"), {{"x.wmv", 0x20, 5242880}}, 1, "D:\\v\\x.wmv"},
      {"", "Vistrel.ini", settingsWithFolder("D:\\v"), {{"x.wmv", 0x20, 5242881}}, 0, "D:\\v\\x.wmv"},
      {"", "Vistrel.ini", settingsWithFolder("D:\\v"), {{"x.wmv", 0x20, 1}, {"d.wmv", 0x10, 0}}, 1, "D:\\v\\x.wmv"},
      {"", "Vistrel.ini", settingsWithFolder("D:\\v"), {{"d.wmv", 0x10, 0}}, -1, ""},
      {"", "Vistrel.ini", settingsWithFolder("D:\\v"), {}, -1, ""},
      {"Cam1", "Vistrel.ini", settingsWithFolder("D:\\v"), {{"x.wmv", 0x20, 1}}, -1, ""},  // other camera's file
      {"", "Vistrel.ini", std::string(21, 'h'), {{"x.wmv", 0x20, 1}}, -1, ""},             // short file
      {"", "Vistrel.ini", std::string(300, 'h'), {{"x.wmv", 0x20, 1}}, -1, ""},            // no NUL within 281 bytes
  };
  for (const Case& c : cases) {
    MemoryFiles files;
    files.files[c.settingsFile] = c.contents;
    files.listings["D:\\v\\*.wmv"] = c.listing;
    files.listings["C:\\rec\\*.wmv"] = c.listing;
    char cameraName[22] = {};
    std::strcpy(cameraName, c.cameraName);
    std::string path = "old";
    EXPECT_EQ(command::findNewestRecording(files, cameraName, &path), c.result) << c.settingsFile << c.path;
    EXPECT_EQ(path, c.path);
  }
}

}  // namespace
