#include "ui/SettingsForm.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/AppMessages.h"
#include "platform/Hooks.h"

namespace {

struct Recorded {
  std::vector<std::string> boxes;
  std::vector<unsigned> posts;
  std::vector<int> answers;  // given to the boxes in turn (default Yes)
};
Recorded* g_rec = nullptr;

class FakeHost : public ui::SettingsFormHost {
 public:
  bool exists = true, creates = true, moves = true;
  std::vector<std::string> calls;
  bool pathExists(const char*) override { return exists; }
  bool createFolder(const char* p) override { calls.push_back(std::string("create ") + p); return creates; }
  bool moveStoreFolder(const char* p) override { calls.push_back(std::string("move ") + p); return moves; }
};

class SettingsFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_rec = &rec;
    platform::setMessageBoxHook([](const char* text, const char*, unsigned) {
      g_rec->boxes.push_back(text);
      if (g_rec->answers.empty()) return static_cast<int>(platform::kIdYes);
      int a = g_rec->answers.front();
      g_rec->answers.erase(g_rec->answers.begin());
      return a;
    });
    platform::setPostHook([](unsigned m, uintptr_t, intptr_t) { g_rec->posts.push_back(m); });
    config::applyDefaults(s, "C:\\q");
    form = ui::readSettingsForm(s);
  }
  void TearDown() override {
    platform::setMessageBoxHook(nullptr);
    platform::setPostHook(nullptr);
    g_rec = nullptr;
  }
  Recorded rec;
  FakeHost host;
  config::AppSettings s{};
  ui::SettingsForm form;
};

TEST(SettingsFormNumbers, ParsedFromLeadingDigitsAndBroughtIntoRange) {
  struct Case { const char* text; int low, high, expected; } cases[] = {
      {"42", 0, 100, 42}, {"", 0, 100, 0}, {"abc", 0, 100, 0}, {"12x7", 0, 100, 12},
      {"-5", 0, 100, 0}, {"101", 0, 100, 100}, {"99999999999999", 0, 65535, 65535}, {"65536", 0, 65535, 65535},
  };
  for (const Case& c : cases) EXPECT_EQ(ui::numberInRange(c.text, c.low, c.high), c.expected) << c.text;
}

TEST(SettingsFormText, CutNeverSplitsADoubleByteCharacter) {
  std::string kana = "あいう";  // six bytes in Shift_JIS
  EXPECT_EQ(ui::cutText(kana, 5), "あい");
  EXPECT_EQ(ui::cutText(kana, 6), kana);
  EXPECT_EQ(ui::cutText("a" + kana, 4), "aあ");
}

TEST_F(SettingsFormTest, ValidationMessagesKeepTheRecordUnchanged) {
  struct Case { void (*edit)(ui::SettingsForm&); const char* message; } cases[] = {
      {[](ui::SettingsForm& f) { f.playSound = true; f.soundFile.clear(); }, "音声ファイルを指定してください。"},
      {[](ui::SettingsForm& f) { f.panelPasswordRequired = true; f.panelPassword = "abc"; },
       "このダイアログボックス表示用のパスワードは\n４文字以上で指定してください。"},
      {[](ui::SettingsForm& f) { f.mailLogFolder = "C:\\" + std::string(257, 'x'); },
       "パス名が長過ぎます。\n259バイト以内で指定してください。"},
      {[](ui::SettingsForm& f) { f.imapFolder = std::string(98, 'x') + "監"; },
       "IMAPフォルダ名が長過ぎます。\n99バイト以内で指定してください。"},
      // A keep count out of range or not a number is refused, not cut to 100 or read as 0.
      {[](ui::SettingsForm& f) { f.mailLogKeepCount = "500"; }, "メールログ保存数は0から100までの数で指定してください。"},
      {[](ui::SettingsForm& f) { f.mailLogKeepCount = "101"; }, "メールログ保存数は0から100までの数で指定してください。"},
      {[](ui::SettingsForm& f) { f.mailLogKeepCount = ""; }, "メールログ保存数は0から100までの数で指定してください。"},
      {[](ui::SettingsForm& f) { f.mailLogKeepCount = "-1"; }, "メールログ保存数は0から100までの数で指定してください。"},
      {[](ui::SettingsForm& f) { f.mailLogKeepCount = "3x"; }, "メールログ保存数は0から100までの数で指定してください。"},
  };
  for (const Case& c : cases) {
    config::AppSettings before = s;
    ui::SettingsForm f = form;
    f.pop3Server = "changed";
    c.edit(f);
    rec = Recorded{};
    EXPECT_FALSE(ui::applySettingsForm(f, s, host));
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0], c.message);
    EXPECT_TRUE(rec.posts.empty());
    EXPECT_EQ(std::memcmp(&before, &s, sizeof s), 0);
  }
}

TEST_F(SettingsFormTest, StoresTheFieldsCutToTheirWidthsAndAsksForASave) {
  form.pop3Server = std::string(100, 's');
  form.pop3Port = "995";
  form.accountName = std::string(78, 'a') + "あ";  // the last character does not fit
  form.cameraName = "カメラ名前一二三四五六";        // 22 bytes
  form.panelPasswordRequired = true;
  form.panelPassword = "abcd" + std::string(30, 'z');
  form.mailLogKeepCount = "100";
  form.subjectKeyword = "指令";
  ASSERT_TRUE(ui::applySettingsForm(form, s, host));
  EXPECT_EQ(std::string(s.pop3Server), std::string(79, 's'));
  EXPECT_EQ(s.pop3Port, 995);
  EXPECT_EQ(std::string(s.accountName), std::string(78, 'a'));
  EXPECT_EQ(std::string(s.cameraName), "カメラ名前一二三四五");
  EXPECT_EQ(config::panelPasswordForDisplay(s), "abcd" + std::string(16, 'z'));
  EXPECT_TRUE(config::panelPasswordMatches(s, ("abcd" + std::string(16, 'z')).c_str()));
  EXPECT_EQ(s.mailLogKeepCount, 100);
  EXPECT_EQ(std::string(s.subjectKeyword), "指令");
  EXPECT_EQ(rec.posts, std::vector<unsigned>{appmsg::kSaveSettings});
  EXPECT_TRUE(host.calls.empty());
}

TEST_F(SettingsFormTest, TimerResetOnlyWhenTheTotalIntervalChanges) {
  struct Case { int minutes, seconds; const char* newMinutes; const char* newSeconds; bool reset; int storedM, storedS; } cases[] = {
      {1, 0, "0", "60", false, 1, 0},
      {0, 0, "0", "30", true, 0, 30},
      {10, 0, "10", "0", false, 10, 0},
      {1, 0, "500", "0", true, 100, 59},
  };
  for (const Case& c : cases) {
    s.intervalMinutes = c.minutes;
    s.intervalSeconds = c.seconds;
    form.intervalMinutes = c.newMinutes;
    form.intervalSeconds = c.newSeconds;
    rec = Recorded{};
    ASSERT_TRUE(ui::applySettingsForm(form, s, host));
    std::vector<unsigned> expected;
    if (c.reset) expected.push_back(appmsg::kIntervalChanged);
    expected.push_back(appmsg::kSaveSettings);
    EXPECT_EQ(rec.posts, expected) << c.newMinutes << ":" << c.newSeconds;
    EXPECT_EQ(s.intervalMinutes, c.storedM);
    EXPECT_EQ(s.intervalSeconds, c.storedS);
  }
}

TEST_F(SettingsFormTest, NewMailLogFolderIsCreatedWhenAskedAndTheStoreMoved) {
  struct Case { bool exists, creates, moves; int answer; bool closes; std::vector<std::string> calls; size_t boxes; } cases[] = {
      {true, true, true, platform::kIdYes, true, {"move D:\\log"}, 0},
      {false, true, true, platform::kIdNo, false, {}, 1},
      {false, true, true, platform::kIdYes, true, {"create D:\\log", "move D:\\log"}, 1},
      {false, false, true, platform::kIdYes, false, {"create D:\\log"}, 2},
      {true, true, false, platform::kIdYes, false, {"move D:\\log"}, 0},
  };
  for (const Case& c : cases) {
    config::applyDefaults(s, "C:\\q");
    host = FakeHost{};
    host.exists = c.exists;
    host.creates = c.creates;
    host.moves = c.moves;
    rec = Recorded{};
    rec.answers = {c.answer};
    form.mailLogFolder = "D:\\log";
    EXPECT_EQ(ui::applySettingsForm(form, s, host), c.closes);
    EXPECT_EQ(host.calls, c.calls);
    EXPECT_EQ(rec.boxes.size(), c.boxes);
    EXPECT_EQ(std::string(s.mailLogFolder), c.closes ? "D:\\log" : "C:\\q");
  }
}

// The port table itself is config's; here the field's text: empty counts
// as no port, a typed one comes back as typed.
TEST(SettingsFormPorts, ModeChangeSuggestsTheUsualPortButKeepsATypedOne) {
  using namespace config;
  struct Case { const char* port; bool pop3; int32_t from, to; const char* expected; } cases[] = {
      {"110", true, kPopPlain, kPopTls, "995"},       {"", true, kPopPlain, kPopTls, "995"},
      {"0110", true, kPopStls, kPopTls, "995"},       {"1110", true, kPopPlain, kPopTls, "1110"},
      {"465", false, kSmtpTls, kSmtpStartTls, "587"}, {"99999", false, kSmtpPlain, kSmtpTls, "99999"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ui::suggestedPortText(c.port, c.pop3, c.from, c.to), c.expected) << c.port << " " << c.to;
  // The receive port follows the protocol too: POP3 110/995, IMAP 143/993.
  struct Receive { const char* port; int32_t fromProtocol, fromMode, toProtocol, toMode; const char* expected; }
  receives[] = {
      {"110", kReceivePop3, kPopPlain, kReceiveImap, kPopPlain, "143"},
      {"995", kReceivePop3, kPopTls, kReceiveImap, kPopTls, "993"},
      {"143", kReceiveImap, kPopStls, kReceiveImap, kPopTls, "993"},
      {"", kReceiveImap, kPopPlain, kReceivePop3, kPopPlain, "110"},
      {"10143", kReceivePop3, kPopPlain, kReceiveImap, kPopPlain, "10143"},
  };
  for (const Receive& r : receives)
    EXPECT_EQ(ui::suggestedReceivePortText(r.port, r.fromProtocol, r.fromMode, r.toProtocol, r.toMode), r.expected)
        << r.port << " " << r.toProtocol;
}

TEST_F(SettingsFormTest, SecurityAndGuardsStoredOnOk) {
  form.pop3Security = config::kPopTls;
  form.smtpSecurity = config::kSmtpStartTls;
  form.verifyCertificate = false;
  form.tlsTrustFile = "C:\\証明書\\ca.pem";
  form.receiveProtocol = config::kReceiveImap;
  form.imapFolder = "監視/受信";
  ui::GuardForm& g = form.guards;
  g.allowedSenders = "owner@example.jp\r\n\r\nMe@Example.NET, x@y.z";
  g.commandSecret = std::string(78, 'p') + "秘";  // the last character does not fit
  g.authServerHost = "mx.example.jp";
  g.replayGuard = true;
  g.maxMailAgeMinutes = "99999";
  g.loopGuard = true;
  g.maxRepliesPerHour = "5";
  ASSERT_TRUE(ui::applySettingsForm(form, s, host));
  EXPECT_EQ(s.pop3Security, config::kPopTls);
  EXPECT_EQ(s.smtpSecurity, config::kSmtpStartTls);
  EXPECT_EQ(s.tlsNoVerify, 1);
  EXPECT_EQ(std::string(s.tlsTrustFile), "C:\\証明書\\ca.pem");
  EXPECT_EQ(std::string(s.allowedSenders), "owner@example.jp\nMe@Example.NET\nx@y.z");
  EXPECT_EQ(std::string(s.commandSecret), std::string(78, 'p'));
  EXPECT_EQ(std::string(s.authServerHost), "mx.example.jp");
  EXPECT_EQ(s.replayGuard, 1);
  EXPECT_EQ(s.maxMailAgeMinutes, ui::kMaxMailAgeLimit);
  EXPECT_EQ(s.loopGuard, 1);
  EXPECT_EQ(s.maxRepliesPerHour, 5);
  EXPECT_EQ(s.receiveProtocol, config::kReceiveImap);
  EXPECT_EQ(std::string(s.imapFolder), "監視/受信");
  // Read back, the form shows what was stored, one sender a line.
  ui::SettingsForm again = ui::readSettingsForm(s);
  EXPECT_EQ(again.guards.allowedSenders, "owner@example.jp\r\nMe@Example.NET\r\nx@y.z");
  EXPECT_FALSE(again.verifyCertificate);
}

TEST_F(SettingsFormTest, UntouchedSecurityAndGuardsLeaveTheRecordAsItWas) {
  // Values an older or hand-made record may hold: a list with commas, the
  // numbers at 0 (their defaults), a non-standard "no verify" value.
  std::strcpy(s.allowedSenders, "a@b.c, d@e.f");
  s.tlsNoVerify = 7;
  s.replayGuard = 1;
  form = ui::readSettingsForm(s);
  EXPECT_EQ(form.guards.maxMailAgeMinutes, "60");
  EXPECT_EQ(form.guards.maxRepliesPerHour, "10");
  config::AppSettings before = s;
  ASSERT_TRUE(ui::applySettingsForm(form, s, host));
  EXPECT_EQ(std::memcmp(&before, &s, sizeof s), 0);
}

TEST_F(SettingsFormTest, GuardAndTrustFileMistakesKeepTheDialogOpen) {
  struct Case { void (*edit)(ui::SettingsForm&); bool fileExists; const char* message; } cases[] = {
      {[](ui::SettingsForm& f) { f.guards.allowedSenders = "Owner <owner@example.jp>"; }, true,
       "送信者のメールアドレスが正しくありません。\nOwner"},
      {[](ui::SettingsForm& f) { f.guards.allowedSenders = "a@b@c"; }, true,
       "送信者のメールアドレスが正しくありません。\na@b@c"},
      {[](ui::SettingsForm& f) {
         f.guards.allowedSenders.clear();
         for (int i = 0; i < 26; ++i) f.guards.allowedSenders += "abcde@fgh\r\n";  // 26 * 10 - 1 bytes stored
       }, true, "コマンドメールを受け付ける送信者が多過ぎます。\n255バイト以内で指定してください。"},
      {[](ui::SettingsForm& f) { f.tlsTrustFile = "C:\\none.pem"; }, false, "信頼する証明書ファイルがありません。"},
  };
  for (const Case& c : cases) {
    config::AppSettings before = s;
    ui::SettingsForm f = form;
    c.edit(f);
    host.exists = c.fileExists;
    rec = Recorded{};
    EXPECT_FALSE(ui::applySettingsForm(f, s, host));
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0], c.message);
    EXPECT_EQ(std::memcmp(&before, &s, sizeof s), 0);
  }
}

}  // namespace

namespace {

TEST_F(SettingsFormTest, AFolderOf259BytesIsStoredWhole) {
  std::string folder = "D:\\" + std::string(256, 'f');
  ASSERT_EQ(folder.size(), 259u);
  form.mailLogFolder = folder;
  EXPECT_TRUE(ui::applySettingsForm(form, s, host));
  EXPECT_EQ(std::string(s.mailLogFolder), folder);
  EXPECT_EQ(host.calls, std::vector<std::string>{"move " + folder});
}

}  // namespace
