// Runs the commands of one command mail in body order, one second apart,
// and replies to its sender with the result text and at most one file.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "command/AttachmentFile.h"
#include "command/CameraBridge.h"
#include "command/CommandGuard.h"
#include "command/CommandKeys.h"
#include "command/CommandReply.h"
#include "command/LocalActions.h"
#include "commlog/CommLog.h"
#include "config/AppSettings.h"
#include "mime/MailId.h"
#include "mime/MailLogReader.h"
#include "mime/MimeMessage.h"
#include "sendlib/SendMailRequest.h"

namespace command {

// Outcomes written to the status column of the mail's row.
// kOutcomeRefused: a guard refused the mail; nothing of it ran.
enum Outcome : int { kOutcomeRejected = 0, kOutcomeFailed = 1, kOutcomeDone = 2, kOutcomeRefused = 3 };
// attachmentKind values.
enum AttachmentKind : int32_t { kAttachNone = -1, kAttachSnapshot = 0, kAttachRecording = 1 };

constexpr unsigned kCommandPauseMs = 1000;
constexpr unsigned kCameraStartPauseMs = 10000;
constexpr int kSnapshotChecks = 20;
// The widths a mail may set for reply pictures; others are refused.
constexpr int32_t kMinReplyWidth = 16;
constexpr int32_t kMaxReplyWidth = 4096;

// Sends one reply; returns EM_SendMail's result (0 sent).
class MailSender {
 public:
  virtual ~MailSender() = default;
  virtual int sendMail(const SendMailRequest& request) = 0;
};

// What the processing needs of the main window and the mail model.
class CommandHost {
 public:
  virtual ~CommandHost() = default;
  // Calls CommandProcessor::onTimer once, `ms` milliseconds from now, from
  // the window's message loop (which goes on painting and answering).
  virtual void startTimer(unsigned ms) = 0;
  // The record of a queued mail as the mail model holds it now; false when
  // it is gone or no longer waits to run.
  virtual bool mailRecord(mime::MailId mail, mime::MailIndexEntry* entry) = 0;
  virtual mime::MailLogReader& mailLog() = 0;
  // Writes an Outcome into the mail's status; nothing when it is gone.
  virtual void setMailStatus(mime::MailId mail, int outcome) = 0;
  // The mails handed to runMails have all run (or the queue was abandoned).
  virtual void commandsFinished() {}
  virtual void clearPreview() = 0;
  // The steps before a power-off.
  virtual void saveSettings() = 0;
  virtual void trimStore() = 0;
  virtual void removeExtractedAttachment() = 0;
  // The name for HELO/EHLO; empty when it cannot be read.
  virtual std::string computerName() = 0;
  // The guard file beside the mail log; empty: none can be kept.
  virtual std::string guardFilePath() { return std::string(); }
  // Seconds since 1970 (UTC).
  virtual int64_t now();
};

// The commands of a mail run as a chain of steps on the window's thread:
// each wait (the second between commands, the ten seconds after starting
// the camera, each check for the snapshot) is a timer step, so nothing
// blocks the window and nothing runs nested. Mails run one after another
// from a plain queue of MailIds.
class CommandProcessor {
 public:
  CommandProcessor(config::AppSettings& settings, CameraBridge& camera, LocalActions& local, MailSender& sender,
                   CommandHost& host, const commlog::CommLog& log = commlog::commLog());

  // Queues the command mails of a check; they run in this order, each to its
  // end (reply and outcome included), after any mail still running.
  void runMails(const std::vector<mime::MailId>& mails);

  // Starts one stored command mail, `mail` being its record as the model
  // holds it. Its commands and reply follow in timer steps (onTimer). False
  // only when no memory was available for its text (noted in the log).
  bool processCommandMail(const mime::MailIndexEntry& mail, mime::MailLogReader& log, mime::MailId id);

  // The timer asked for by the last step has fired: the next step.
  void onTimer();

  // Whether a mail is running or queued.
  bool busy() const { return mailActive_ || !queue_.empty(); }

  // State, for the window and for tests.
  const std::deque<FoundCommand>& foundCommands() const { return found_; }
  int32_t remainingCommands() const { return remaining_; }
  int32_t attachmentKind() const { return attachmentKind_; }
  const char* resultText() const { return result_.text(); }
  mime::MailId currentMail() const { return currentMail_; }

 private:
  // What the pending timer continues with.
  enum class Step { kNone, kNextCommand, kCameraStarted, kSnapshotCheck };

  void runQueue();
  void runNextCommand();
  void runCameraCommand(const FoundCommand& command);
  void runLocal(const FoundCommand& command);
  void runKeyList(const FoundCommand& command);
  void runShutdown(const FoundCommand& command);
  void refuseWidth(const FoundCommand& command);
  void startCamera();
  void cameraStartChecked();
  void failStart(const char* logText, const char* reply);
  bool cameraPresent();
  void handOver();
  void wait(Step step, unsigned ms);
  void finishCommand();
  void checkSnapshot();
  void replyWithSnapshot();
  void replyWithRecording();
  // Replies with the file; when the library cannot read it, again without it.
  bool replyWithAttachment(const char* path, bool deleteAfter, const char* what);
  void appendResult(const char* text) { result_.append(text); }
  int sendReply(const char* body, const char* attachmentPath, bool deleteAttachment);
  void setOutcome(int outcome);
  void endMail();
  // The guards' verdict on the mail just decoded; none when it may run.
  Refusal judgeMail(mime::MailLogReader& log, std::string* key);
  void logLine(const char* text) { log_.logLine(text); }

  config::AppSettings& settings_;
  CameraBridge& camera_;
  LocalActions& local_;
  MailSender& sender_;
  CommandHost& host_;
  const commlog::CommLog& log_;

  mime::MimeMessage decoder_;
  mime::MailIndexEntry mail_{};
  std::deque<FoundCommand> found_;
  int32_t remaining_ = 0;
  int32_t attachmentKind_ = kAttachNone;
  int32_t kindBefore_ = kAttachNone;  // attachmentKind before the running command
  bool failed_ = false;  // a camera verb failed: the outcome is kOutcomeFailed
  mime::MailId currentMail_ = mime::kNoMail;
  ResultText result_;
  GuardStore guardStore_;
  CommandGuard guard_{settings_, guardStore_};

  std::deque<mime::MailId> queue_;
  bool queueRunning_ = false;  // runMails was called and commandsFinished is owed
  bool mailActive_ = false;    // a mail's chain of steps has not ended
  Step step_ = Step::kNone;
  int snapshotChecks_ = 0;
  // The snapshot cannot be trusted: the old file could not be removed, or
  // the screen could not be captured. The reply then goes without it.
  const char* snapshotFailure_ = nullptr;
  // Log lines that follow the rest of the mail's chain ("VT起動済み").
  std::vector<const char*> afterChain_;
};

// The key list of KeyListReply: a head line, "label: key" for the 26
// functions (the default key name as the label), a closing line.
std::vector<std::string> keyListLines(const config::AppSettings& settings);

}  // namespace command
