// Runs the commands of one command mail in body order, one second apart,
// and replies to its sender with the result text and at most one file.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "command/CameraBridge.h"
#include "command/CommandGuard.h"
#include "command/CommandKeys.h"
#include "command/CommandReply.h"
#include "command/LocalActions.h"
#include "commlog/CommLog.h"
#include "config/AppSettings.h"
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

// Sends one reply; returns EM_SendMail's result (0 sent).
class MailSender {
 public:
  virtual ~MailSender() = default;
  virtual int sendMail(const SendMailRequest& request) = 0;
};

// What the processing needs of the main window and the rest of the program.
class CommandHost {
 public:
  virtual ~CommandHost() = default;
  // Blocks the thread for `ms` milliseconds.
  virtual void pause(unsigned ms) = 0;
  // The hand-over to the next command: delivers WM_USER+9 to the main
  // window synchronously; its handler pauses 1000 ms, then calls
  // runNextCommand.
  virtual void handOver() = 0;
  // Dispatches at most one pending window message of the thread.
  virtual void pumpOneMessage() = 0;
  // Writes an Outcome into the status column of a mail-list row.
  virtual void setRowStatus(int row, int outcome) = 0;
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

class CommandProcessor {
 public:
  CommandProcessor(config::AppSettings& settings, CameraBridge& camera, LocalActions& local, MailSender& sender,
                   CommandHost& host, const commlog::CommLog& log = commlog::commLog());

  // Runs one stored command mail, `mail` being its record as the list row
  // `row` gives it back, to its end (reply and outcome included). False
  // only when no memory was available for its text (the user was told).
  bool processCommandMail(const mime::MailIndexEntry& mail, mime::MailLogReader& log, int row);

  // Runs the first command of the list. Called once per mail by
  // processCommandMail, and by the WM_USER+9 handler for every later command.
  void runNextCommand();

  // State, for the window and for tests.
  const std::deque<FoundCommand>& foundCommands() const { return found_; }
  int32_t remainingCommands() const { return remaining_; }
  int32_t attachmentKind() const { return attachmentKind_; }
  const char* resultText() const { return result_.text(); }
  int currentMailRow() const { return currentMailRow_; }

 private:
  void runOne();
  void runCameraCommand(const FoundCommand& command);
  void runLocal(const FoundCommand& command);
  void runKeyList(const FoundCommand& command);
  void runShutdown(const FoundCommand& command);
  void startCamera();
  void failStart(const char* logText, const char* reply);
  bool cameraPresent();
  void finishCommand();
  void appendResult(const char* text) { result_.append(text); }
  void sendReply(const char* body, const char* attachmentPath, bool deleteAttachment);
  void setOutcome(int outcome);
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
  int currentMailRow_ = -1;
  ResultText result_;
  GuardStore guardStore_;
  CommandGuard guard_{settings_, guardStore_};

  // The commands of a mail run as one chain: the outermost runNextCommand
  // makes the hand-overs one after the other instead of nesting them, and
  // writes the log lines that follow the rest of the chain once it ends.
  int chainDepth_ = 0;
  bool handOverPending_ = false;
  std::vector<const char*> afterChain_;
};

// The key list of KeyListReply: a head line, "label: key" for the 26
// functions (the default key name as the label), a closing line.
std::vector<std::string> keyListLines(const config::AppSettings& settings);

}  // namespace command
