#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "command/CommandProcessor.h"
#include "mime/MimeMessage.h"
#include "platform/File.h"
#include "platform/Hooks.h"
#include "support/CommLogLines.h"
#include "support/TempDir.h"

namespace {

using namespace command;

// Every fake writes what happens to one shared list, in order.
struct Events {
  std::vector<std::string> list;
  void add(const std::string& e) { list.push_back(e); }
};

struct FakeCamera : CameraBridge {
  Events& events;
  bool running = true;
  LaunchResult launch = kLaunched;
  bool appearsAfterLaunch = true;
  int snapshotAtCheck = 1;  // the check that finds snap.jpg ready; 0 never
  AttachmentState before = AttachmentState::kMissing;  // snap.jpg until then
  AttachmentState recording = AttachmentState::kReady;
  bool removable = true;
  int checks = 0;
  std::string settingsHead;
  std::vector<FolderEntry> recordings;
  explicit FakeCamera(Events& e) : events(e) {}

  std::vector<CameraVerb> unsupported;
  CameraAnswer answer = CameraAnswer::kDone;
  bool cameraRunning() override { return running; }
  bool supports(CameraVerb verb) override {
    return std::find(unsupported.begin(), unsupported.end(), verb) == unsupported.end();
  }
  CameraAnswer perform(CameraVerb verb, const char* argument) override {
    static const char* const names[] = {
        "quit", "minimize", "maximize", "restore", "snapshotSave", "snapshotReply", "recordingStart",
        "recordingStop", "detectionStart", "detectionStop", "alertMailOn", "alertMailOff", "alertRecipient",
        "dateDisplayOn", "dateDisplayOff", "timerStart", "timerStop", "monitorStart", "monitorStop", "replyWidth"};
    std::string e = names[static_cast<int>(verb)];
    if (argument && *argument) e += std::string(" ") + argument;
    events.add(e);
    return answer;
  }
  LaunchResult launchCamera() override {
    events.add("launch");
    if (launch == kLaunched && appearsAfterLaunch) running = true;
    return launch;
  }
  bool readFileHead(const char*, size_t maxBytes, std::string* data) override {
    if (settingsHead.empty()) return false;
    *data = settingsHead.substr(0, maxBytes);
    return true;
  }
  std::vector<FolderEntry> listFolder(const char*) override { return recordings; }
  AttachmentState snapshotState() override {
    return snapshotAtCheck != 0 && ++checks >= snapshotAtCheck ? AttachmentState::kReady : before;
  }
  AttachmentState recordingState(const char*) override { return recording; }
  bool removeSnapshot() override {
    events.add("remove snap.jpg");
    return removable;
  }
};

struct FakeLocal : LocalActions {
  Events& events;
  explicit FakeLocal(Events& e) : events(e) {}
  bool captureWorks = true;  // a picture is written
  bool screen = true;        // the machine has a screen at all
  bool shutdownPc(std::string* error) override {
    events.add("shutdown");
    *error = "denied";
    return false;
  }
  bool captureScreen(int32_t width) override {
    events.add("capture " + std::to_string(width));
    return screen && captureWorks;
  }
  bool canCaptureScreen() override { return screen; }
  bool rotateSnapshot() override { events.add("rotate"); return true; }
};

struct Reply {
  std::string to, subject, body, attachment;
  int deleteAttachment;
};

struct FakeSender : MailSender {
  Events& events;
  std::vector<Reply> replies;
  int attachmentResult = 0;  // EM_SendMail's result for a reply with a file
  explicit FakeSender(Events& e) : events(e) {}
  int sendMail(const SendMailRequest& r) override {
    replies.push_back({r.toAddress, r.subject, r.body, r.attachmentPath, r.deleteAttachment});
    events.add(std::string("reply ") + r.attachmentPath);
    return r.attachmentPath[0] ? attachmentResult : 0;
  }
};

// The window's side: a timer that the test fires, and a mail model of
// records by MailId over one log text.
struct FakeHost : CommandHost {
  Events& events;
  CommandProcessor* processor = nullptr;
  bool timerPending = false;
  int depth = 0, maxDepth = 0, finished = 0;
  std::vector<std::pair<mime::MailId, int>> statuses;
  std::map<mime::MailId, mime::MailIndexEntry> mails;
  std::unique_ptr<mime::MemoryLogReader> reader;
  explicit FakeHost(Events& e) : events(e) {}
  void startTimer(unsigned ms) override {
    EXPECT_FALSE(timerPending);
    timerPending = true;
    events.add("pause " + std::to_string(ms));
  }
  // Fires the timers as the message loop would, one at a time, until none is asked for.
  void drain() {
    while (timerPending) {
      timerPending = false;
      maxDepth = std::max(maxDepth, ++depth);
      processor->onTimer();
      --depth;
    }
  }
  bool mailRecord(mime::MailId id, mime::MailIndexEntry* entry) override {
    auto found = mails.find(id);
    if (found == mails.end()) return false;
    *entry = found->second;
    return true;
  }
  mime::MailLogReader& mailLog() override { return *reader; }
  void setMailStatus(mime::MailId id, int outcome) override {
    statuses.emplace_back(id, outcome);
    events.add("status " + std::to_string(outcome));
  }
  void commandsFinished() override {
    ++finished;
    events.add("finished");
  }
  void clearPreview() override { events.add("clear preview"); }
  void saveSettings() override { events.add("save settings"); }
  void trimStore() override { events.add("trim store"); }
  void removeExtractedAttachment() override { events.add("remove attachment"); }
  std::string computerName() override { return "PC"; }
  std::string guardPath;
  int64_t clock = 0;
  std::string guardFilePath() override { return guardPath; }
  int64_t now() override { return clock; }
};

struct Fixture {
  testsupport::TempDir dir;
  commlog::CommLog log{dir.sjisFile("comm.txt")};
  Events events;
  config::AppSettings settings{};
  FakeCamera camera{events};
  FakeLocal local{events};
  FakeSender sender{events};
  FakeHost host{events};
  CommandProcessor processor{settings, camera, local, sender, host, log};
  Fixture() {
    config::applyDefaults(settings, "/tmp");
    host.processor = &processor;
    host.guardPath = dir.sjisFile("QuorvelGuard.dat");
  }
  // Stores a mail given with its whole header in a log of its own and runs it as row 3.
  bool runMail(const std::string& header, const std::string& body) {
    std::string text = header + "\r\n" + body + "\r\n.\r\n";
    mime::MimeMessage mail;
    mail.parseMail(text.data(), text.size(), 0, 0);
    mime::MemoryLogReader reader(text);
    bool ran = processor.processCommandMail(mail.entry(), reader, 3);
    host.drain();
    return ran;
  }
  // Runs a plain mail from this sender with this subject as row 3.
  bool run(const std::string& body, const std::string& from = "Boss <boss@example.jp>",
           const std::string& subject = "Vistrel") {
    return runMail("From: " + from + "\r\nSubject: " + subject + "\r\n", body);
  }
  std::vector<std::string> logLines() const { return testsupport::commLogLines(log); }
  std::string results() const {
    const std::string& body = sender.replies.back().body;
    size_t at = body.find(kResultSeparator);
    return at == std::string::npos ? body : body.substr(at + std::strlen(kResultSeparator));
  }
};

using Lines = std::vector<std::string>;

TEST(CommandProcessor, CameraMessagesInBodyOrderOneSecondApart) {
  Fixture f;
  ASSERT_TRUE(f.run("録画開始 検知開始\r\nスナップ保存"));
  EXPECT_EQ(f.events.list, (Lines{"recordingStart", "pause 1000", "detectionStart", "pause 1000", "snapshotSave",
                                  "reply ", "status 2"}));
  EXPECT_EQ(f.results(), "録画を開始しました。\n検知を開始しました。\nスナップ(保存)しました。\n");
  EXPECT_EQ(f.logLines(), (Lines{"録画開始発行", "検知開始発行", "スナップ(保存)発行",
                                 "返信しました\r---------------------------"}));
  const Reply& r = f.sender.replies.at(0);
  EXPECT_EQ(r.to, "boss@example.jp");
  EXPECT_EQ(r.subject, "Re:Vistrel");
  EXPECT_EQ(r.body.find("録画開始 検知開始\r\nスナップ保存"), 0u);
  EXPECT_EQ(f.host.statuses, (std::vector<std::pair<mime::MailId, int>>{{3, kOutcomeDone}}));
}

TEST(CommandProcessor, EveryCameraCommandOfTheTable) {
  struct Case {
    const char* key;
    const char* event;
    const char* logWord;
    const char* result;
  } cases[] = {
      {"VT終了", "quit", "VT終了発行", "Vistrel終了しました。\n"},
      {"VT最小化", "minimize", "VT最小化発行", "Vistrel最小化しました。\n"},
      {"VT最大化", "maximize", "VT最大化発行", "Vistrel最大化しました。\n"},
      {"VT通常表示", "restore", "VT通常表示発行", "Vistrel通常表示にしました。\n"},
      {"録画停止", "recordingStop", "録画停止発行", "録画を停止しました。\n"},
      {"検知停止", "detectionStop", "検知停止発行", "検知を停止しました。\n"},
      {"メールON", "alertMailOn", "アラートメールON発行", "アラートメールONしました。\n"},
      {"メールOFF", "alertMailOff", "アラートメールOFF発行", "アラートメールOFFしました。\n"},
      {"アラート送信先\"a@b.jp\"", "alertRecipient a@b.jp", "アラートメール送信先発行", "アラートメール送信先設定しました。\n"},
      {"日時表示ON", "dateDisplayOn", "日時表示ON発行", "日時表示ONしました。\n"},
      {"日時表示OFF", "dateDisplayOff", "日時表示OFF発行", "日時表示OFFしました。\n"},
      {"タイマ開始", "timerStart", "タイマ処理開始発行", "タイマ処理を開始しました。\n"},
      {"タイマ停止", "timerStop", "タイマ処理停止発行", "タイマ処理を停止しました。\n"},
      {"モニタ開始", "monitorStart", "モニタ開始発行", "モニタを開始しました。\n"},
      {"モニタ停止", "monitorStop", "モニタ停止発行", "モニタを停止しました。\n"},
      {"画像幅\"320\"", "replyWidth 320", "返信画像幅の設定発行", "返信画像幅を設定しました。\n"},
  };
  for (const Case& c : cases) {
    Fixture f;
    ASSERT_TRUE(f.run(c.key));
    EXPECT_EQ(f.events.list, (Lines{c.event, "reply ", "status 2"})) << c.key;
    EXPECT_EQ(f.logLines().at(0), c.logWord);
    EXPECT_EQ(f.results(), c.result);
  }
}

TEST(CommandProcessor, SnapshotWaitAndAttachment) {
  struct Case {
    const char* body;
    int snapshotAtCheck;
    int rotate;
    int pauses;  // of the wait
    const char* attachment;
    int outcome;
  } cases[] = {
      {"スナップ返信", 1, 0, 0, "snap.jpg", kOutcomeDone},
      {"スナップ返信", 3, 1, 2, "snap.jpg", kOutcomeDone},
      {"スナップ返信", 20, 0, 19, "snap.jpg", kOutcomeDone},
      {"スナップ返信", 0, 1, 20, "", kOutcomeFailed},
  };
  for (const Case& c : cases) {
    Fixture f;
    f.camera.snapshotAtCheck = c.snapshotAtCheck;
    f.settings.rotateReplyImage = c.rotate;
    ASSERT_TRUE(f.run(c.body));
    int pauses = 0, rotations = 0;
    for (const std::string& e : f.events.list) {
      pauses += e == "pause 1000";
      rotations += e == "rotate";
    }
    EXPECT_EQ(pauses, c.pauses);
    EXPECT_EQ(rotations, c.outcome == kOutcomeDone && c.rotate ? 1 : 0);
    ASSERT_EQ(f.sender.replies.size(), 1u);
    EXPECT_EQ(f.sender.replies[0].attachment, c.attachment);
    EXPECT_EQ(f.sender.replies[0].deleteAttachment, c.attachment[0] ? 1 : 0);
    EXPECT_EQ(f.host.statuses.at(0).second, c.outcome);
    if (c.outcome == kOutcomeFailed) {
      EXPECT_EQ(f.results(), "スナップ(返信)しました。\nタイムアウトでスナップ画像取得に失敗しました。\n");
    }
  }
}

TEST(CommandProcessor, ScreenAndRecordingAttachments) {
  std::string settingsHead = std::string(21, 'h') + "C:\\rec" + std::string(1, '\0');
  struct Case {
    const char* body;
    int64_t recordingSize;  // -1 none
    const char* lastEvents;
    const char* tail;
    int outcome;
  } cases[] = {
      {"PC画面返信", -1, "reply snap.jpg", "PC画面返信しました。\n", kOutcomeDone},
      {"スナップ返信 録画返信", 5242880, "reply C:\\rec\\b.wmv", "録画返信しました。\n", kOutcomeDone},
      {"録画返信", 5242881, "reply ", "録画返信しました。\n録画ファイルのサイズが制限値(5MB)を超えています。\n",
       kOutcomeFailed},
      {"録画返信", -1, "reply ", "録画返信しました。\n録画されていません。\n", kOutcomeFailed},
      {"録画返信 PC画面返信", -1, "reply snap.jpg", "PC画面返信しました。\n", kOutcomeDone},
  };
  for (const Case& c : cases) {
    Fixture f;
    f.settings.replyImageWidth = 400;
    f.camera.settingsHead = settingsHead;
    if (c.recordingSize >= 0) f.camera.recordings = {{"a.wmv", 0x20, 1}, {"b.wmv", 0x20, c.recordingSize}};
    ASSERT_TRUE(f.run(c.body));
    ASSERT_GE(f.events.list.size(), 2u);
    EXPECT_EQ(f.events.list[f.events.list.size() - 2], c.lastEvents) << c.body;
    const std::string results = f.results();
    EXPECT_EQ(results.substr(results.size() - std::strlen(c.tail)), c.tail) << c.body;
    EXPECT_EQ(f.host.statuses.at(0).second, c.outcome) << c.body;
    if (std::string(c.body).find("PC画面") != std::string::npos) {
      EXPECT_NE(std::find(f.events.list.begin(), f.events.list.end(), "capture 400"), f.events.list.end());
    }
  }
}

TEST(CommandProcessor, CameraAbsent) {
  {
    Fixture f;
    f.camera.running = false;
    ASSERT_TRUE(f.run("メールON"));
    EXPECT_EQ(f.events.list, (Lines{"reply ", "status 1"}));
    EXPECT_EQ(f.results(), "Vistrelは稼動していません。\n");
    EXPECT_EQ(f.logLines(), (Lines{"アラートメールON発行", "返信しました\r---------------------------"}));
  }
  {
    Fixture f;
    f.camera.running = false;
    ASSERT_TRUE(f.run("録画開始 キー返信"));
    EXPECT_EQ(f.events.list, (Lines{"pause 1000", "reply ", "status 2"}));
    EXPECT_EQ(f.results().find("Vistrelは稼動していません。\n== コマンド 一覧 ==\nVT起動: VT起動\n"), 0u);
    EXPECT_EQ(f.logLines(), (Lines{"録画開始発行", "VT起動していません", "キー名返信発行",
                                   "返信しました\r---------------------------"}));
  }
}

// A camera without a function, one that fails, and a machine without a
// screen: each says so in its result line instead of the usual one.
TEST(CommandProcessor, CameraThatCannot) {
  struct Case {
    const char* body;
    bool running;
    bool unsupportedMinimize;
    CameraAnswer answer;
    LaunchResult launch;
    bool screen;
    Lines events;
    const char* results;
    int outcome;
  } cases[] = {
      {"VT最小化 検知開始", false, true, CameraAnswer::kDone, kLaunched, true,
       {"pause 1000", "reply ", "status 1"},
       "このカメラでは使えません\nVistrelは稼動していません。\n", kOutcomeFailed},
      {"VT最小化 検知開始", true, true, CameraAnswer::kDone, kLaunched, true,
       {"pause 1000", "detectionStart", "reply ", "status 2"},
       "このカメラでは使えません\n検知を開始しました。\n", kOutcomeDone},
      {"検知開始 スナップ保存", true, false, CameraAnswer::kFailed, kLaunched, true,
       {"detectionStart", "pause 1000", "snapshotSave", "reply ", "status 1"},
       "カメラが応答しませんでした。\nカメラが応答しませんでした。\n", kOutcomeFailed},
      {"VT最大化", true, false, CameraAnswer::kUnsupported, kLaunched, true, {"maximize", "reply ", "status 2"},
       "このカメラでは使えません\n", kOutcomeDone},
      {"スナップ返信", true, false, CameraAnswer::kFailed, kLaunched, true, {"remove snap.jpg", "snapshotReply", "reply ", "status 1"},
       "カメラが応答しませんでした。\n", kOutcomeFailed},
      {"VT起動 キー返信", false, false, CameraAnswer::kDone, kLaunchUnsupported, true,
       {"launch", "pause 1000", "reply ", "status 2"}, "このカメラでは使えません\n== コマンド 一覧 ==\n", kOutcomeDone},
      {"PC画面返信", true, false, CameraAnswer::kDone, kLaunched, false, {"capture -1", "reply ", "status 2"},
       "この機器では画面を取り込めません。\n", kOutcomeDone},
      {"スナップ返信 PC画面返信", true, false, CameraAnswer::kDone, kLaunched, false,
       {"remove snap.jpg", "snapshotReply", "pause 1000", "capture -1", "reply snap.jpg", "status 2"},
       "スナップ(返信)しました。\nこの機器では画面を取り込めません。\n", kOutcomeDone},
  };
  for (const Case& c : cases) {
    Fixture f;
    f.camera.running = c.running;
    if (c.unsupportedMinimize) f.camera.unsupported = {CameraVerb::kMinimize};
    f.camera.answer = c.answer;
    f.camera.launch = c.launch;
    f.camera.appearsAfterLaunch = false;
    f.local.screen = c.screen;
    ASSERT_TRUE(f.run(c.body));
    EXPECT_EQ(f.events.list, c.events) << c.body;
    EXPECT_EQ(f.results().substr(0, std::strlen(c.results)), c.results) << c.body;
    EXPECT_EQ(f.host.statuses.at(0).second, c.outcome) << c.body;
  }
}

TEST(CommandProcessor, CameraStart) {
  struct Case {
    const char* body;
    bool running;
    LaunchResult launch;
    bool appears;
    Lines events;
    Lines log;
    const char* replyBody;  // whole body, or nullptr to check the results
    const char* results;
    int outcome;
  } cases[] = {
      {"VT起動", true, kLaunched, true, {"reply ", "status 2"},
       {"VT起動発行", "返信しました\r---------------------------", "VT起動済み"}, nullptr,
       "Vistrelは稼動しています。\n", kOutcomeDone},
      {"VT起動 検知開始", true, kLaunched, true, {"pause 1000", "detectionStart", "reply ", "status 2"},
       {"VT起動発行", "検知開始発行", "返信しました\r---------------------------", "VT起動済み"}, nullptr,
       "Vistrelは稼動しています。\n検知を開始しました。\n", kOutcomeDone},
      {"VT起動 検知開始", false, kProgramMissing, false, {"launch", "reply ", "status 1"},
       {"VT起動発行", "Vistrelが見つかりません", "返信しました\r---------------------------"},
       "Vistrelが見つかりません。", nullptr, kOutcomeFailed},
      {"VT起動", false, kLaunchFailed, false, {"launch", "reply ", "status 1"},
       {"VT起動発行", "Vistrelの起動に失敗しました", "返信しました\r---------------------------"},
       "Vistrelの起動に失敗しました。", nullptr, kOutcomeFailed},
      {"VT起動 検知開始", false, kLaunched, true,
       {"launch", "pause 10000", "pause 1000", "detectionStart", "reply ", "status 2"},
       {"VT起動発行", "検知開始発行", "返信しました\r---------------------------"}, nullptr,
       "Vistrelを起動しました。\n検知を開始しました。\n", kOutcomeDone},
      {"VT起動 検知開始", false, kLaunched, false, {"launch", "pause 10000", "reply ", "status 1"},
       {"VT起動発行", "タイムオーバーでVistrelの起動確認ができませんでした。",
        "返信しました\r---------------------------"},
       "タイムオーバーでVistrelの起動確認ができませんでした。", nullptr, kOutcomeFailed},
  };
  for (const Case& c : cases) {
    Fixture f;
    f.camera.running = c.running;
    f.camera.launch = c.launch;
    f.camera.appearsAfterLaunch = c.appears;
    ASSERT_TRUE(f.run(c.body));
    EXPECT_EQ(f.events.list, c.events) << c.body;
    EXPECT_EQ(f.logLines(), c.log) << c.body;
    if (c.replyBody) {
      EXPECT_EQ(f.sender.replies.at(0).body, c.replyBody);
    } else {
      EXPECT_EQ(f.results(), c.results);
    }
    EXPECT_EQ(f.host.statuses.at(0).second, c.outcome);
  }
}

TEST(CommandProcessor, SettingsChangesOfWidthAndRotation) {
  Fixture f;
  f.camera.running = false;
  ASSERT_TRUE(f.run("画像幅\"  640\" 回転 回転 回転"));
  EXPECT_EQ(f.settings.replyImageWidth, 640);  // also when the camera program is absent
  EXPECT_EQ(f.settings.rotateReplyImage, 1);
  EXPECT_EQ(f.results(), "Vistrelは稼動していません。\n画像回転設定しました。\n画像回転設定しました。\n"
                         "画像回転設定しました。\n");
}

// The power-off fails here: its error goes to the log and the mail's
// status, never to a box.
TEST(CommandProcessor, ShutdownRepliesFirstAndRunsNothingAfter) {
  Fixture f;
  std::strcpy(f.settings.commandKeyNames[PcShutdown - 1], "電源断");
  ASSERT_TRUE(f.run("検知開始 電源断 スナップ保存"));
  EXPECT_EQ(f.events.list, (Lines{"detectionStart", "pause 1000", "reply ", "save settings", "trim store",
                                  "remove attachment", "shutdown", "status 1"}));
  EXPECT_EQ(f.results(), "検知を開始しました。\nシャットダウンしました。\n");
  EXPECT_EQ(f.logLines().back(), "シャットダウンに失敗しました: denied");
}

TEST(CommandProcessor, NoKeyAndEmptyBody) {
  {
    Fixture f;
    ASSERT_TRUE(f.run("こんにちは"));
    EXPECT_EQ(f.events.list, (Lines{"status 0"}));
  }
  {
    Fixture f;
    std::string text = "From: a@b\r\nSubject: Vistrel\r\n\r\n.\r\n";
    mime::MimeMessage mail;
    mail.parseMail(text.data(), text.size(), 0, 0);
    mime::MemoryLogReader reader(text);
    ASSERT_TRUE(f.processor.processCommandMail(mail.entry(), reader, 0));
    EXPECT_EQ(f.events.list, (Lines{"clear preview"}));
  }
}

TEST(CommandProcessor, BadInputStillGetsItsReply) {
  std::string longBody;
  while (longBody.size() < 12000) longBody += "検知開始 ";
  std::string thousand;
  for (int i = 0; i < 1000; ++i) thousand += "回転 ";
  struct Case {
    std::string body, subject;
    size_t commands;
  } cases[] = {
      {longBody, std::string(1024, 's'), longBody.size() / 9 + (longBody.size() % 9 != 0)},
      {thousand, std::string(1000, 's') + "Vistrel", 1000},
      {"画像幅\"" + std::string(80, '9') + "\" アラート送信先\"a@b\r\nc\" キー返信", "Vistrel", 3},
  };
  for (const Case& c : cases) {
    Fixture f;
    ASSERT_TRUE(f.run(c.body, "a@b.jp", c.subject));
    ASSERT_EQ(f.sender.replies.size(), 1u);
    EXPECT_LT(f.sender.replies[0].body.size(), kResultTextSize);
    EXPECT_NE(f.sender.replies[0].body.find(kResultSeparator), std::string::npos);
    EXPECT_EQ(f.sender.replies[0].subject.size(), std::min<size_t>(255, 3 + std::min<size_t>(c.subject.size(), 1023)));
    EXPECT_EQ(f.host.statuses.at(0).second, kOutcomeDone);
    int pauses = 0;
    for (const std::string& e : f.events.list) pauses += e == "pause 1000";
    EXPECT_EQ(static_cast<size_t>(pauses), c.commands - 1);
    EXPECT_LE(f.host.maxDepth, 1);  // the steps do not nest
  }
}

// The queue: mails run one after another, each to its end, in the order
// handed over; a mail deleted meanwhile is skipped; the window hears once,
// after the last one, that all have run.
TEST(CommandProcessor, QueueOfMailsByIdentity) {
  Fixture f;
  std::string log;
  const char* bodies[] = {"録画開始 検知開始", "こんにちは", "録画停止", "モニタ開始"};
  for (int n = 0; n < 4; ++n) {
    std::string text = "From: a@b.jp\r\nSubject: Vistrel\r\n\r\n" + std::string(bodies[n]) + "\r\n.\r\n";
    mime::MimeMessage mail;
    mail.parseMail(text.data(), text.size(), static_cast<int32_t>(log.size()), n);
    f.host.mails[100 + n] = mail.entry();
    log += text;
  }
  f.host.reader = std::make_unique<mime::MemoryLogReader>(log);
  f.host.mails.erase(102);  // deleted after the check stored it
  f.processor.runMails({100, 101, 102});
  f.processor.runMails({103});  // another check's mail waits its turn
  EXPECT_TRUE(f.processor.busy());
  f.host.drain();
  EXPECT_FALSE(f.processor.busy());
  EXPECT_EQ(f.events.list, (Lines{"recordingStart", "pause 1000", "detectionStart", "reply ", "status 2", "status 0",
                                  "monitorStart", "reply ", "status 2", "finished"}));
  EXPECT_EQ(f.host.statuses, (std::vector<std::pair<mime::MailId, int>>{
                                 {100, kOutcomeDone}, {101, kOutcomeRejected}, {103, kOutcomeDone}}));
  EXPECT_EQ(f.host.maxDepth, 1);
}

// A mailed width outside 16 to 4096 pixels is refused: not kept, not sent
// to the camera, and the reply says so.
TEST(CommandProcessor, MailedWidthOutsideTheRangeIsRefused) {
  struct Case {
    const char* width;
    int32_t kept;
  } cases[] = {{"100000", 400}, {"4097", 400}, {"15", 400}, {"-1", 400}, {"", 400}, {"abc", 400},
               {"16", 16},       {"4096", 4096}};
  for (const Case& c : cases) {
    Fixture f;
    f.settings.replyImageWidth = 400;
    ASSERT_TRUE(f.run(std::string("画像幅\"") + c.width + "\" PC画面返信"));
    EXPECT_EQ(f.settings.replyImageWidth, c.kept) << c.width;
    bool refused = c.kept == 400;
    EXPECT_EQ(f.events.list.at(0), refused ? "pause 1000" : "replyWidth " + std::string(c.width)) << c.width;
    EXPECT_EQ(f.results().find("返信画像幅は16から4096までの数で指定してください。設定は変えていません。\n"),
              refused ? 0u : std::string::npos)
        << c.width;
    EXPECT_EQ(f.host.statuses.at(0).second, kOutcomeDone) << c.width;
  }
}

// A snapshot or recording that cannot be sent still gets its reply, without
// the file and with a line naming the failure; the status is "失 敗".
TEST(CommandProcessor, UnusableAttachmentStillGetsItsReply) {
  std::string settingsHead = std::string(21, 'h') + "C:\\rec" + std::string(1, '\0');
  struct Case {
    const char* name;
    const char* body;
    AttachmentState snapshotUntil;  // what snap.jpg is while it is not ready
    AttachmentState recording;
    bool removable, captureWorks;
    int attachmentResult;
    int pauses;
    const char* tail;
  } cases[] = {
      {"empty snapshot", "スナップ返信", AttachmentState::kEmpty, AttachmentState::kReady, true, true, 0, 20,
       "スナップ画像ファイルが空のため添付できませんでした。\n"},
      {"locked snapshot", "スナップ返信", AttachmentState::kUnreadable, AttachmentState::kReady, true, true, 0, 20,
       "スナップ画像ファイルを読めないため添付できませんでした。\n"},
      {"half-written snapshot", "スナップ返信", AttachmentState::kIncomplete, AttachmentState::kReady, true, true, 0,
       20, "スナップ画像ファイルが壊れているため添付できませんでした。\n"},
      {"stale snapshot", "スナップ返信", AttachmentState::kReady, AttachmentState::kReady, false, true, 0, 0,
       "古いスナップ画像ファイルを削除できないため添付できませんでした。\n"},
      {"no screen", "PC画面返信", AttachmentState::kMissing, AttachmentState::kReady, true, false, 0, 0,
       "PC画面を取得できませんでした。\n"},
      {"empty recording", "録画返信", AttachmentState::kMissing, AttachmentState::kEmpty, true, true, 0, 0,
       "録画ファイルが空のため添付できませんでした。\n"},
      {"locked recording", "録画返信", AttachmentState::kMissing, AttachmentState::kUnreadable, true, true, 0, 0,
       "録画ファイルを読めないため添付できませんでした。\n"},
      {"unreadable to the library", "スナップ返信", AttachmentState::kMissing, AttachmentState::kReady, true, true, 1,
       0, "スナップ画像ファイルを読めないため添付できませんでした。\n"},
  };
  for (const Case& c : cases) {
    Fixture f;
    f.camera.snapshotAtCheck = c.snapshotUntil == AttachmentState::kMissing ? 1 : 0;
    f.camera.before = c.snapshotUntil;
    f.camera.recording = c.recording;
    f.camera.removable = c.removable;
    f.camera.settingsHead = settingsHead;
    f.camera.recordings = {{"a.wmv", 0x20, 10}};
    f.local.captureWorks = c.captureWorks;
    f.sender.attachmentResult = c.attachmentResult;
    ASSERT_TRUE(f.run(c.body)) << c.name;
    ASSERT_FALSE(f.sender.replies.empty()) << c.name;
    EXPECT_STREQ(f.sender.replies.back().attachment.c_str(), "") << c.name;
    const std::string results = f.results();
    ASSERT_GE(results.size(), std::strlen(c.tail)) << c.name;
    EXPECT_EQ(results.substr(results.size() - std::strlen(c.tail)), c.tail) << c.name;
    EXPECT_EQ(f.host.statuses, (std::vector<std::pair<mime::MailId, int>>{{3, kOutcomeFailed}})) << c.name;
    int pauses = 0;
    for (const std::string& e : f.events.list) pauses += e == "pause 1000";
    EXPECT_EQ(pauses, c.pauses) << c.name;
  }
}

// A snapshot request removes an old snap.jpg before the camera is asked.
TEST(CommandProcessor, SnapshotRequestRemovesTheOldFileFirst) {
  Fixture f;
  ASSERT_TRUE(f.run("スナップ返信"));
  EXPECT_EQ(f.events.list, (Lines{"remove snap.jpg", "snapshotReply", "reply snap.jpg", "status 2"}));
}

// ---- guards ----

const char kGuardedHeader[] =
    "Authentication-Results: mx.example.jp; dmarc=pass header.from=example.jp\r\n"
    "From: Boss <boss@example.jp>\r\nSubject: Vistrel\r\nMessage-ID: <1@example.jp>\r\n"
    "Date: Mon, 7 Dec 2026 14:00:00 +0000\r\n";

void guardAll(Fixture& f) {
  std::strcpy(f.settings.allowedSenders, "boss@example.jp");
  std::strcpy(f.settings.commandSecret, "PIN: 4711");
  std::strcpy(f.settings.authServerHost, "mx.example.jp");
  f.settings.replayGuard = 1;
  f.settings.loopGuard = 1;
  f.host.clock = 1796652000 + 60;
}

TEST(CommandProcessor, RefusedMailRunsNothingAndGetsNoReply) {
  struct Case {
    const char* name;
    std::string header;
    const char* body;
    const char* logLine;
  } cases[] = {
      {"forged sender", std::string(kGuardedHeader).replace(std::string(kGuardedHeader).find("boss@"), 4, "evil"),
       "PIN: 4711\r\n録画開始", "コマンド拒否: 許可されていない送信者です"},
      {"no secret", kGuardedHeader, "> PIN: 4711\r\n録画開始", "コマンド拒否: 合言葉の行がありません"},
      {"auto-submitted", std::string("Auto-Submitted: auto-replied\r\n") + kGuardedHeader, "PIN: 4711\r\n録画開始",
       "コマンド拒否: 自動送信メールです(ループ防止)"},
      {"old", std::string(kGuardedHeader).replace(std::string(kGuardedHeader).find("14:00"), 5, "12:00"),
       "PIN: 4711\r\n録画開始", "コマンド拒否: 日付(Date)が古すぎます"},
      {"not authenticated", std::string(kGuardedHeader).replace(24, 13, "mx.evil.jp"),
       "PIN: 4711\r\n録画開始", "コマンド拒否: 受信サーバの認証結果が合格ではありません"},
  };
  for (const Case& c : cases) {
    Fixture f;
    guardAll(f);
    ASSERT_TRUE(f.runMail(c.header, c.body));
    EXPECT_EQ(f.events.list, (Lines{"status 3"})) << c.name;
    EXPECT_EQ(f.logLines(), (Lines{c.logLine})) << c.name;
    EXPECT_FALSE(platform::fileExists(f.host.guardPath.c_str())) << c.name;
  }
}

TEST(CommandProcessor, GuardedMailRunsOnceAndItsReplyHidesTheSecret) {
  Fixture f;
  guardAll(f);
  ASSERT_TRUE(f.runMail(kGuardedHeader, "PIN: 4711\r\n録画開始"));
  EXPECT_EQ(f.events.list, (Lines{"recordingStart", "reply ", "status 2"}));
  const Reply& r = f.sender.replies.at(0);
  EXPECT_EQ(r.body.find("********\r\n録画開始"), 0u);
  EXPECT_EQ(r.body.find("4711"), std::string::npos);
  // Recorded before the command ran; the same mail again (another copy, same text) is refused.
  std::string data;
  ASSERT_TRUE(platform::readWholeFile(f.host.guardPath.c_str(), &data));
  EXPECT_EQ(data.compare(0, 13, "K 1796652060 "), 0) << data;
  f.events.list.clear();
  ASSERT_TRUE(f.runMail(kGuardedHeader, "PIN: 4711\r\n録画開始"));
  EXPECT_EQ(f.events.list, (Lines{"status 3"}));
  EXPECT_EQ(f.logLines().back(), "コマンド拒否: 実行済みのメールです(再実行防止)");
}

TEST(CommandProcessor, ReplayOfTheSameTextAndTheAutoRepliedFlag) {
  struct FlagSender : FakeSender {
    using FakeSender::FakeSender;
    uint16_t flags = 0xFFFF;
    int sendMail(const SendMailRequest& r) override {
      flags = r.flags;
      return FakeSender::sendMail(r);
    }
  };
  Fixture f;
  f.settings.replayGuard = 1;
  f.host.clock = 1796652000;
  FlagSender sender(f.events);
  CommandProcessor processor(f.settings, f.camera, f.local, sender, f.host, f.log);
  f.host.processor = &processor;
  std::string header = std::string(kGuardedHeader).substr(74);
  mime::MimeMessage mail;
  auto run = [&](const std::string& body) {
    std::string text = header + "\r\n" + body + "\r\n.\r\n";
    mail.parseMail(text.data(), text.size(), 0, 0);
    mime::MemoryLogReader reader(text);
    processor.processCommandMail(mail.entry(), reader, 3);
    f.host.drain();
  };
  run("録画開始");
  EXPECT_EQ(sender.flags, 0);  // loop guard off: a plain reply
  run("録画開始");   // the same Message-ID and text
  run("録画開始 ");  // the same Message-ID, another text
  f.settings.loopGuard = 1;
  run("録画開始  ");
  EXPECT_EQ(sender.flags, kSendFlagAutoReplied);
  EXPECT_EQ(sender.replies.size(), 3u);
  EXPECT_EQ(f.host.statuses, (std::vector<std::pair<mime::MailId, int>>{
                                 {3, kOutcomeDone}, {3, kOutcomeRefused}, {3, kOutcomeDone}, {3, kOutcomeDone}}));
}

TEST(CommandProcessor, UnwritableGuardFileRefusesTheMail) {
  Fixture f;
  f.settings.replayGuard = 1;
  f.host.clock = 1796652000;
  f.host.guardPath = f.dir.sjisFile("missing/QuorvelGuard.dat");
  ASSERT_TRUE(f.runMail(std::string(kGuardedHeader).substr(74), "録画開始"));
  EXPECT_EQ(f.events.list, (Lines{"status 3"}));
  EXPECT_EQ(f.logLines(), (Lines{"コマンド拒否: 実行記録ファイルに書き込めません"}));
}

}  // namespace

