#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/AppSettings.h"
#include "platform/File.h"
#include "support/TempDir.h"

namespace {

using config::AppSettings;

// Runs each test in a private current directory.
class AppSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = platform::currentDirectory();
    ASSERT_TRUE(platform::setCurrentDirectory(dir_.sjisPath().c_str()));
  }
  void TearDown() override { platform::setCurrentDirectory(old_.c_str()); }

  AppSettings defaults() {
    AppSettings s;
    std::memset(&s, 0, sizeof s);
    config::applyDefaults(s, "C:\\start");
    return s;
  }
  void writeIni(const std::string& bytes) { ASSERT_TRUE(platform::writeWholeFile("quorvel.ini", bytes)); }

  testsupport::TempDir dir_;
  std::string old_;
};

TEST_F(AppSettingsTest, DefaultsMatchTheTable) {
  AppSettings s = defaults();
  EXPECT_STREQ(s.signature, "Quorvel");
  EXPECT_STREQ(s.mailLogFolder, "C:\\start");
  EXPECT_EQ(s.pop3Port, 110);
  EXPECT_EQ(s.smtpPort, 25);
  EXPECT_EQ(s.intervalMinutes, 10);
  EXPECT_EQ(s.mailLogKeepCount, 30);
  EXPECT_EQ(s.splitterPosition, -1);
  EXPECT_EQ(s.replyImageWidth, -1);
  EXPECT_STREQ(s.subjectKeyword, "Vistrel");
  EXPECT_EQ(s.windowPlacement.length, 0u);
  const int widths[] = {50, 80, 200, 120, 120, 120, 120, 120};
  EXPECT_EQ(0, std::memcmp(s.columnWidths, widths, sizeof widths));
  EXPECT_STREQ(s.commandKeyNames[0], "VT起動");
  EXPECT_STREQ(s.commandKeyNames[21], "PC画面返信");
  EXPECT_STREQ(s.commandKeyNames[24], "");  // PC shutdown stays off until named
  EXPECT_STREQ(s.commandKeyNames[25], "キー返信");
  EXPECT_FALSE(config::updateServerConfigured(s));
}

TEST_F(AppSettingsTest, SavedRecordLoadsBackByteForByte) {
  AppSettings s = defaults();
  platform::copyField(s.pop3Server, "pop.example.jp");
  platform::copyField(s.password, "secret");
  s.intervalSeconds = 42;
  s.spamRules[23] = 1;
  s.windowPlacement.length = 44;
  s.windowPlacement.right = 800;
  s.reserved[151] = 0x5A;
  s.receiveProtocol = config::kReceiveImap;
  platform::copyField(s.imapFolder, "監視");
  s.receiveAuth = config::kAuthOAuth;
  s.oauthProvider = 2;
  s.pop3Security = config::kPopTls;
  platform::copyField(s.tlsTrustFile, "C:\\ca.pem");
  ASSERT_TRUE(config::saveSettings(s, "."));
  EXPECT_EQ(platform::fileSize("quorvel.ini"), 4620);
  AppSettings loaded;
  std::memset(&loaded, 0xEE, sizeof loaded);
  config::loadSettings(loaded, "C:\\other");
  EXPECT_EQ(0, std::memcmp(&s, &loaded, sizeof s));
}

// A file saved before the security fields existed held zeros there (a new
// record's reserved bytes): it loads as plaintext sessions and saves back
// byte for byte.
TEST_F(AppSettingsTest, FileFromBeforeTheSecurityFieldsSavesBackUnchanged) {
  AppSettings old = defaults();
  platform::copyField(old.pop3Server, "pop.example.jp");
  platform::copyField(old.password, "secret");
  old.pop3Port = 110;
  std::string bytes(reinterpret_cast<const char*>(&old), sizeof old);
  std::fill(bytes.begin() + 3620, bytes.end(), '\0');
  writeIni(bytes);
  AppSettings s;
  std::memset(&s, 0xEE, sizeof s);
  config::loadSettings(s, "C:\\start");
  EXPECT_EQ(s.pop3Security, config::kPopPlain);
  EXPECT_EQ(s.smtpSecurity, config::kSmtpPlain);
  EXPECT_EQ(s.tlsNoVerify, 0);
  EXPECT_EQ(s.tlsTrustFile[0], '\0');
  ASSERT_TRUE(config::saveSettings(s, "."));
  std::string saved;
  ASSERT_TRUE(platform::readWholeFile("quorvel.ini", &saved));
  EXPECT_TRUE(saved == bytes);
}

TEST_F(AppSettingsTest, SecurityModeSuggestsTheUsualPortUnlessOneWasTyped) {
  struct Case { uint16_t port; int32_t from, to; uint16_t pop3, smtp; } cases[] = {
      {110, config::kPopPlain, config::kPopTls, 995, 110},
      {0, config::kPopPlain, config::kPopTls, 995, 465},
      {995, config::kPopTls, config::kPopPlain, 110, 995},
      {2110, config::kPopPlain, config::kPopTls, 2110, 2110},
      {25, config::kSmtpPlain, config::kSmtpStartTls, 25, 587},
      {465, config::kSmtpTls, config::kSmtpStartTls, 465, 587},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(config::suggestedPop3Port(c.port, c.from, c.to), c.pop3) << c.port << " " << c.from << "->" << c.to;
    EXPECT_EQ(config::suggestedSmtpPort(c.port, c.from, c.to), c.smtp) << c.port << " " << c.from << "->" << c.to;
  }
}

TEST_F(AppSettingsTest, WrongSizeOrSignatureGivesTheDefaults) {
  AppSettings good = defaults();
  platform::copyField(good.pop3Server, "pop.example.jp");
  std::string raw(reinterpret_cast<const char*>(&good), sizeof good);
  std::string foreign = raw;
  foreign.replace(0, 8, "Quorvelx");
  foreign.replace(offsetof(AppSettings, allowedSenders), 4, "a@b");  // a guard switched on
  foreign[offsetof(AppSettings, loopGuard)] = 1;
  for (const std::string& bytes : {raw.substr(0, 4619), raw + "x", foreign, std::string()}) {
    writeIni(bytes);
    AppSettings s = defaults();
    platform::copyField(s.pop3Server, "left over");
    config::loadSettings(s, "C:\\start");
    EXPECT_STREQ(s.pop3Server, "") << bytes.size();
    EXPECT_STREQ(s.signature, "Quorvel");
    EXPECT_STREQ(s.allowedSenders, "");
    EXPECT_EQ(s.loopGuard, 0);
  }
  platform::removeFile("quorvel.ini");
  AppSettings s = defaults();
  s.pop3Port = 1;
  config::loadSettings(s, "C:\\start");
  EXPECT_EQ(s.pop3Port, 110);
}

TEST_F(AppSettingsTest, ServerConfiguredNeedsServerAccountPasswordAndPort) {
  AppSettings s = defaults();
  platform::copyField(s.pop3Server, "pop");
  platform::copyField(s.accountName, "user");
  EXPECT_FALSE(config::updateServerConfigured(s));
  s.receiveAuth = config::kAuthOAuth;  // signs in with a token: no password
  EXPECT_TRUE(config::updateServerConfigured(s));
  s.receiveAuth = config::kAuthPassword;
  platform::copyField(s.password, "pw");
  EXPECT_TRUE(config::updateServerConfigured(s));
  s.pop3Port = 0;
  EXPECT_FALSE(config::updateServerConfigured(s));
}

TEST_F(AppSettingsTest, PanelPasswordIsStoredRearrangedAndRoundTrips) {
  AppSettings s = defaults();
  config::storePanelPassword(s, "abcdef");
  EXPECT_STREQ(s.panelPassword, "fecdba");
  EXPECT_EQ(config::panelPasswordForDisplay(s), "abcdef");
  EXPECT_TRUE(config::panelPasswordMatches(s, "abcdef"));
  EXPECT_FALSE(config::panelPasswordMatches(s, "ABCDEF"));
  EXPECT_FALSE(config::panelPasswordMatches(s, "abcdefg"));
  // Double-byte characters at the ends are split like any bytes.
  const std::string kanji = "漢abc字";
  config::storePanelPassword(s, kanji.c_str());
  EXPECT_NE(std::string(s.panelPassword), kanji);
  EXPECT_EQ(config::panelPasswordForDisplay(s), kanji);
  for (const char* p : {"", "a", "ab", "abc", "abcd"})
    EXPECT_EQ(config::rearrangePassword(config::rearrangePassword(p)), p);
}

}  // namespace
