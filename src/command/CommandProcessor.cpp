#include "command/CommandProcessor.h"

#include <cstdio>
#include <ctime>
#include <new>

#include "config/StringTable.h"
#include "platform/Hooks.h"
#include "platform/Text.h"

namespace command {
namespace {

enum class Procedure { kStart, kCamera, kLocal, kScreen, kKeyList, kShutdown };

constexpr int32_t kKeep = -2;  // the command leaves attachmentKind as it is
constexpr CameraVerb kNoVerb = CameraVerb::kQuit;  // rows other than kCamera

struct ProcedureRow {
  Procedure procedure;
  CameraVerb verb;    // of kCamera
  const char* logWord;
  const char* resultLine;
  int32_t kind;       // attachmentKind set before the procedure
};

// Row n-1 is action n.
const ProcedureRow kProcedures[kActionCount] = {
    {Procedure::kStart, kNoVerb, "VT起動発行", nullptr, kKeep},
    {Procedure::kCamera, CameraVerb::kQuit, "VT終了発行", "Vistrel終了しました。\n", kKeep},
    {Procedure::kCamera, CameraVerb::kMinimize, "VT最小化発行", "Vistrel最小化しました。\n", kKeep},
    {Procedure::kCamera, CameraVerb::kMaximize, "VT最大化発行", "Vistrel最大化しました。\n", kKeep},
    {Procedure::kCamera, CameraVerb::kRestore, "VT通常表示発行", "Vistrel通常表示にしました。\n", kKeep},
    {Procedure::kCamera, CameraVerb::kSnapshotSave, "スナップ(保存)発行", "スナップ(保存)しました。\n", kKeep},
    {Procedure::kCamera, CameraVerb::kSnapshotReply, "スナップ(返信)発行", "スナップ(返信)しました。\n", kAttachSnapshot},
    {Procedure::kLocal, kNoVerb, "録画返信発行", "録画返信しました。\n", kAttachRecording},
    {Procedure::kCamera, CameraVerb::kRecordingStart, "録画開始発行", "録画を開始しました。\n", kKeep},
    {Procedure::kCamera, CameraVerb::kRecordingStop, "録画停止発行", "録画を停止しました。\n", kKeep},
    {Procedure::kCamera, CameraVerb::kDetectionStart, "検知開始発行", "検知を開始しました。\n", kKeep},
    {Procedure::kCamera, CameraVerb::kDetectionStop, "検知停止発行", "検知を停止しました。\n", kKeep},
    {Procedure::kCamera, CameraVerb::kAlertMailOn, "アラートメールON発行", "アラートメールONしました。\n", kKeep},
    {Procedure::kCamera, CameraVerb::kAlertMailOff, "アラートメールOFF発行", "アラートメールOFFしました。\n", kKeep},
    {Procedure::kCamera, CameraVerb::kAlertRecipient, "アラートメール送信先発行", "アラートメール送信先設定しました。\n", kKeep},
    {Procedure::kCamera, CameraVerb::kDateDisplayOn, "日時表示ON発行", "日時表示ONしました。\n", kKeep},
    {Procedure::kCamera, CameraVerb::kDateDisplayOff, "日時表示OFF発行", "日時表示OFFしました。\n", kKeep},
    {Procedure::kCamera, CameraVerb::kTimerStart, "タイマ処理開始発行", "タイマ処理を開始しました。\n", kKeep},
    {Procedure::kCamera, CameraVerb::kTimerStop, "タイマ処理停止発行", "タイマ処理を停止しました。\n", kKeep},
    {Procedure::kCamera, CameraVerb::kMonitorStart, "モニタ開始発行", "モニタを開始しました。\n", kKeep},
    {Procedure::kCamera, CameraVerb::kMonitorStop, "モニタ停止発行", "モニタを停止しました。\n", kKeep},
    {Procedure::kScreen, kNoVerb, "PC画面返信発行", "PC画面返信しました。\n", kAttachSnapshot},
    {Procedure::kCamera, CameraVerb::kReplyWidth, "返信画像幅の設定発行", "返信画像幅を設定しました。\n", kKeep},
    {Procedure::kLocal, kNoVerb, "返信画像90度回転発行", "画像回転設定しました。\n", kKeep},
    {Procedure::kShutdown, kNoVerb, "シャットダウン発行", "シャットダウンしました。\n", kKeep},
    {Procedure::kKeyList, kNoVerb, "キー名返信発行", nullptr, kKeep},
};

const char kUnsupported[] = "このカメラでは使えません\n";
const char kCameraFailed[] = "カメラが応答しませんでした。\n";
const char kCameraFailedLog[] = "カメラ応答なし";
const char kNoScreen[] = "この機器では画面を取り込めません。\n";
const char kCameraAbsent[] = "Vistrelは稼動していません。\n";
const char kCameraAbsentLog[] = "VT起動していません";
const char kCameraRunning[] = "Vistrelは稼動しています。\n";
const char kCameraRunningLog[] = "VT起動済み";
const char kCameraStarted[] = "Vistrelを起動しました。\n";
const char kProgramMissingLog[] = "Vistrelが見つかりません";
const char kProgramMissingReply[] = "Vistrelが見つかりません。";
const char kLaunchFailedLog[] = "Vistrelの起動に失敗しました";
const char kLaunchFailedReply[] = "Vistrelの起動に失敗しました。";
const char kStartTimeOver[] = "タイムオーバーでVistrelの起動確認ができませんでした。";
const char kSnapshotTimeOut[] = "タイムアウトでスナップ画像取得に失敗しました。\n";
const char kRecordingTooLarge[] = "録画ファイルのサイズが制限値(5MB)を超えています。\n";
const char kNoRecording[] = "録画されていません。\n";
const char kReplySent[] = "返信しました\r---------------------------";
const char kReplyFailed[] = "返信に失敗しました\r---------------------";
const char kNoMemory[] = "SYSTEM ERROR:0101 メール展開メモリー不足";

}  // namespace

std::vector<std::string> keyListLines(const config::AppSettings& settings) {
  std::vector<std::string> lines;
  lines.emplace_back("== コマンド 一覧 ==\n");
  for (int n = 1; n <= kActionCount; ++n) {
    char label[kKeyNameSize];
    config::loadString(static_cast<unsigned>(n), label, sizeof label);
    const char* slot = settings.commandKeyNames[n - 1];
    std::string key = platform::fieldText(slot, kKeyNameSize);
    lines.push_back(std::string(label) + ": " + key + "\n");
  }
  lines.emplace_back("===================\n");
  return lines;
}

CommandProcessor::CommandProcessor(config::AppSettings& settings, CameraBridge& camera, LocalActions& local,
                                   MailSender& sender, CommandHost& host, const commlog::CommLog& log)
    : settings_(settings), camera_(camera), local_(local), sender_(sender), host_(host), log_(log) {
  decoder_.onAttachmentFound = [](const mime::AttachmentEntry&) {};
}

int64_t CommandHost::now() { return static_cast<int64_t>(std::time(nullptr)); }

Refusal CommandProcessor::judgeMail(mime::MailLogReader& log, std::string* key) {
  guardStore_.setPath(host_.guardFilePath());
  // The stored text: its header for the guards, all of it for the replay key.
  std::string text;
  if (mail_.mailEnd > 0 && mail_.headerLength > 0 && mail_.headerLength <= mail_.mailEnd) {
    text.resize(static_cast<size_t>(mail_.mailEnd) + 1);
    if (!log.readFromLog(&text[0], mail_.mailEnd, mail_.logOffset)) text.clear();
    else text.resize(static_cast<size_t>(mail_.mailEnd));
  }
  std::string_view header(text.data(), text.empty() ? 0 : static_cast<size_t>(mail_.headerLength));
  *key = replayKey(header, text);
  return guard_.judge(header, decoder_.body, *key, host_.now());
}

bool CommandProcessor::processCommandMail(const mime::MailIndexEntry& mail, mime::MailLogReader& log, int row) {
  currentMailRow_ = row;
  mail_ = mail;
  if (mail.partCount <= 0 && static_cast<int64_t>(mail.mailEnd) - mail.headerLength - 2 <= 0) {
    host_.clearPreview();
    return true;
  }
  if (decoder_.showMail(mail, log) == mime::PreviewResult::kOutOfMemory) {
    platform::messageBox(kNoMemory, nullptr, platform::kMbOk);
    return false;
  }
  found_.clear();
  std::string key;
  if (guard_.anyOn()) {
    Refusal refusal = judgeMail(log, &key);
    if (refusal != Refusal::none) {
      decoder_.attachments.clear();
      logLine(refusalLogLine(refusal).c_str());
      setOutcome(kOutcomeRefused);
      return true;
    }
    decoder_.body = guard_.visibleBody(decoder_.body);
  }
  try {
    std::vector<FoundCommand> found = findCommands(settings_, decoder_.body.data(), decoder_.body.size());
    found_.assign(found.begin(), found.end());
  } catch (const std::bad_alloc&) {
    found_.clear();
    platform::messageBox(kNoMemory, nullptr, platform::kMbOk);
    return false;
  }
  decoder_.attachments.clear();
  if (found_.empty()) {
    setOutcome(kOutcomeRejected);
    return true;
  }
  // Recorded before the first command, so that a crash in the middle does not run it again.
  if (!guard_.recordRun(key, host_.now())) {
    found_.clear();
    logLine(refusalLogLine(Refusal::guardFile).c_str());
    setOutcome(kOutcomeRefused);
    return true;
  }
  result_.start(decoder_.body.data(), decoder_.body.size());
  decoder_.body.clear();
  decoder_.body.shrink_to_fit();
  remaining_ = static_cast<int32_t>(found_.size());
  attachmentKind_ = kAttachNone;
  failed_ = false;
  runNextCommand();
  return true;
}

void CommandProcessor::runNextCommand() {
  if (chainDepth_ > 0) {
    runOne();
    return;
  }
  ++chainDepth_;
  runOne();
  while (handOverPending_) {
    handOverPending_ = false;
    host_.handOver();
  }
  --chainDepth_;
  while (!afterChain_.empty()) {
    logLine(afterChain_.back());
    afterChain_.pop_back();
  }
}

void CommandProcessor::runOne() {
  if (remaining_ <= 0 || found_.empty()) {
    remaining_ = 0;
    return;
  }
  FoundCommand command = found_.front();
  found_.pop_front();
  if (command.action < 1 || command.action > kActionCount) return;
  const ProcedureRow& row = kProcedures[command.action - 1];
  kindBefore_ = attachmentKind_;
  if (row.kind != kKeep) attachmentKind_ = row.kind;
  if (command.action == ReplyImageWidth) settings_.replyImageWidth = parseWidth(command.argument);
  if (command.action == RotateReplyImage) settings_.rotateReplyImage = settings_.rotateReplyImage ? 0 : 1;
  switch (row.procedure) {
    case Procedure::kStart: startCamera(); break;
    case Procedure::kCamera: runCameraCommand(command); break;
    case Procedure::kLocal:
    case Procedure::kScreen: runLocal(command); break;
    case Procedure::kKeyList: runKeyList(command); break;
    case Procedure::kShutdown: runShutdown(command); break;
  }
}

void CommandProcessor::runCameraCommand(const FoundCommand& command) {
  const ProcedureRow& row = kProcedures[command.action - 1];
  logLine(row.logWord);
  // A verb the camera did not carry out leaves no picture to wait for.
  if (!camera_.supports(row.verb)) {
    attachmentKind_ = kindBefore_;
    appendResult(kUnsupported);
    finishCommand();
    return;
  }
  if (!cameraPresent()) return;
  switch (camera_.perform(row.verb, command.argument)) {
    case CameraAnswer::kDone: appendResult(row.resultLine); break;
    case CameraAnswer::kUnsupported:
      attachmentKind_ = kindBefore_;
      appendResult(kUnsupported);
      break;
    case CameraAnswer::kFailed:
      attachmentKind_ = kindBefore_;
      appendResult(kCameraFailed);
      logLine(kCameraFailedLog);
      failed_ = true;
      break;
  }
  finishCommand();
}

// Commands without the camera: the screen picture, and those whose work is
// done before (rotation) or at the reply (the newest recording).
void CommandProcessor::runLocal(const FoundCommand& command) {
  const ProcedureRow& row = kProcedures[command.action - 1];
  logLine(row.logWord);
  if (row.procedure == Procedure::kScreen && !local_.captureScreen(settings_.replyImageWidth)) {
    attachmentKind_ = kindBefore_;
    appendResult(kNoScreen);
  } else {
    appendResult(row.resultLine);
  }
  finishCommand();
}

void CommandProcessor::runKeyList(const FoundCommand& command) {
  logLine(kProcedures[command.action - 1].logWord);
  for (const std::string& line : keyListLines(settings_)) appendResult(line.c_str());
  finishCommand();
}

void CommandProcessor::runShutdown(const FoundCommand& command) {
  const ProcedureRow& row = kProcedures[command.action - 1];
  logLine(row.logWord);
  appendResult(row.resultLine);
  sendReply(result_.text(), "", false);
  // No later command of this mail runs, whether or not the power-off happens.
  found_.clear();
  host_.saveSettings();
  host_.trimStore();
  host_.removeExtractedAttachment();
  local_.shutdownPc();
}

void CommandProcessor::startCamera() {
  logLine(kProcedures[CameraStart - 1].logWord);
  if (camera_.cameraRunning()) {
    appendResult(kCameraRunning);
    if (--remaining_ <= 0) {
      remaining_ = 0;
      sendReply(result_.text(), "", false);
      setOutcome(kOutcomeDone);
    } else {
      handOverPending_ = true;
    }
    afterChain_.push_back(kCameraRunningLog);
    return;
  }
  switch (camera_.launchCamera()) {
    case kProgramMissing: return failStart(kProgramMissingLog, kProgramMissingReply);
    case kLaunchFailed: return failStart(kLaunchFailedLog, kLaunchFailedReply);
    case kLaunchUnsupported:
      appendResult(kUnsupported);
      finishCommand();
      return;
    case kLaunched: break;
  }
  host_.pause(kCameraStartPauseMs);
  if (camera_.cameraRunning()) {
    appendResult(kCameraStarted);
    finishCommand();
    return;
  }
  failStart(kStartTimeOver, kStartTimeOver);
}

// The camera could not be started: the reply says only that, and no later
// command of the mail runs.
void CommandProcessor::failStart(const char* logText, const char* reply) {
  logLine(logText);
  sendReply(reply, "", false);
  setOutcome(kOutcomeFailed);
  remaining_ = 0;
}

bool CommandProcessor::cameraPresent() {
  if (camera_.cameraRunning()) return true;
  appendResult(kCameraAbsent);
  if (--remaining_ <= 0) {
    remaining_ = 0;
    sendReply(result_.text(), "", false);
    setOutcome(kOutcomeFailed);
  } else {
    logLine(kCameraAbsentLog);
    handOverPending_ = true;
  }
  return false;
}

void CommandProcessor::finishCommand() {
  if (--remaining_ > 0) {
    handOverPending_ = true;
    return;
  }
  remaining_ = 0;
  int outcome = failed_ ? kOutcomeFailed : kOutcomeDone;
  if (attachmentKind_ == kAttachSnapshot) {
    bool arrived = false;
    for (int check = 0; check < kSnapshotChecks; ++check) {
      if (camera_.snapshotExists()) {
        arrived = true;
        break;
      }
      host_.pause(kCommandPauseMs);
      host_.pumpOneMessage();
    }
    if (arrived) {
      if (settings_.rotateReplyImage == 1) local_.rotateSnapshot();
      sendReply(result_.text(), kSnapshotFile, true);
    } else {
      appendResult(kSnapshotTimeOut);
      sendReply(result_.text(), "", false);
      outcome = kOutcomeFailed;
    }
  } else if (attachmentKind_ == kAttachRecording) {
    std::string path;
    int found = camera_.newestRecording(settings_.cameraName, &path);
    if (found == 1) {
      sendReply(result_.text(), path.c_str(), false);
    } else {
      appendResult(found == 0 ? kRecordingTooLarge : kNoRecording);
      sendReply(result_.text(), "", false);
      outcome = kOutcomeFailed;
    }
  } else {
    sendReply(result_.text(), "", false);
  }
  setOutcome(outcome);
}

void CommandProcessor::sendReply(const char* body, const char* attachmentPath, bool deleteAttachment) {
  SendMailRequest request =
      buildReplyRequest(settings_, mail_, body, attachmentPath, deleteAttachment, host_.computerName());
  logLine(sender_.sendMail(request) == 0 ? kReplySent : kReplyFailed);
  guard_.recordReply(replyAddress(platform::fieldText(mail_.from).c_str()),
                     host_.now());
}

void CommandProcessor::setOutcome(int outcome) { host_.setRowStatus(currentMailRow_, outcome); }

}  // namespace command
