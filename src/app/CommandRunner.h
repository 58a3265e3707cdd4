// Command processing as the main window runs it: the command mails of a
// check queued by MailId, the timer steps between and within commands, the
// reply through Sendry and the outcome in the mail list.
#pragma once
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "command/CameraBridgeWin32.h"
#include "command/CommandProcessor.h"
#include "command/LocalActionsWin32.h"
#include "config/AppSettings.h"
#include "mime/MailId.h"
#include "mime/MailLogReader.h"
#include "store/MailList.h"

namespace app {

// What the runner needs of the main window; set once when it is created.
struct CommandRunnerServices {
  HWND window = nullptr;
  void* drawDib = nullptr;
  config::AppSettings* settings = nullptr;
  std::function<store::MailList&()> mailList;
  std::function<mime::MailLogReader&()> mailLog;
  std::function<void(int row, int outcome)> setRowStatus;
  std::function<void()> clearPreview;
  std::function<void()> saveSettings;
  std::function<void()> trimStore;
  std::function<void()> removeExtractedAttachment;
  // The check's unique id of the mail at a log offset; empty when none.
  std::function<std::string(int32_t logOffset)> uniqueIdOf;
  std::function<std::string()> guardFilePath;
  // Every queued mail has run: the check's processing has ended.
  std::function<void()> commandsFinished;
};

class CommandRunner : private command::CommandHost, private command::MailSender {
 public:
  // The WM_TIMER id of the command steps.
  static constexpr UINT_PTR kTimerId = 3;

  explicit CommandRunner(CommandRunnerServices services);

  // Queues the command mails of a check; they run one after another.
  void processNewCommandMails(const std::vector<mime::MailId>& mails) { processor_.runMails(mails); }
  // The MailIds of the command mails among the rows from `firstRow` on.
  std::vector<mime::MailId> commandMailsFrom(int firstRow);
  // WM_TIMER kTimerId: the next step of the mail that runs.
  void onTimer();
  // A mail runs or waits in the queue.
  bool busy() const { return processor_.busy(); }

 private:
  // command::CommandHost
  void startTimer(unsigned ms) override;
  bool mailRecord(mime::MailId mail, mime::MailIndexEntry* entry) override;
  mime::MailLogReader& mailLog() override { return services_.mailLog(); }
  std::string uniqueIdOf(mime::MailId mail) override;
  void setMailStatus(mime::MailId mail, int outcome) override;
  void commandsFinished() override;
  void clearPreview() override;
  void saveSettings() override;
  void trimStore() override;
  void removeExtractedAttachment() override;
  std::string computerName() override;
  std::string guardFilePath() override;
  // command::MailSender
  int sendMail(const SendMailRequest& request) override;

  // The list row of a mail, found by where its text lies in the log; -1
  // when it is gone. (Stands in for the mail model's lookup by MailId.)
  int rowOf(mime::MailId mail) const;

  struct LogPlace {
    int32_t logOffset, mailEnd, headerLength;
  };
  std::map<mime::MailId, LogPlace> places_;
  mime::MailId nextId_ = 1;

  CommandRunnerServices services_;
  command::CameraBridgeWin32 camera_;
  command::LocalActionsWin32 local_;
  command::CommandProcessor processor_;
};

}  // namespace app
