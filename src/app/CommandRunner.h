// Command processing as the main window runs it: the command mails of a
// check queued by MailId, the timer steps between and within commands, the
// reply through Sendry and the outcome in the mail list.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "command/CameraBridgeWin32.h"
#include "command/CommandProcessor.h"
#include "command/LocalActionsWin32.h"
#include "config/AppSettings.h"
#include "mime/MailId.h"
#include "mime/MailLogReader.h"
#include "store/MailModel.h"

namespace app {

// What the runner needs of the main window; set once when it is created.
struct CommandRunnerServices {
  HWND window = nullptr;
  void* drawDib = nullptr;
  config::AppSettings* settings = nullptr;
  std::function<const store::MailModel&()> mailModel;
  std::function<mime::MailLogReader&()> mailLog;
  // Writes a command::Outcome into the mail's status (nothing when the
  // mail was deleted meanwhile).
  std::function<void(mime::MailId mail, int outcome)> setMailStatus;
  std::function<void()> clearPreview;
  std::function<void()> saveSettings;
  std::function<void()> trimStore;
  std::function<void()> removeExtractedAttachment;
  // The token endpoint refused the grant: the title asks for a new sign-in.
  std::function<void()> signInNeeded;
  std::function<std::string()> guardFilePath;
  // Every queued mail has run: the check's processing has ended.
  std::function<void()> commandsFinished;
};

class CommandRunner : private command::CommandHost, private command::MailSender {
 public:
  // The WM_TIMER id of the command steps.
  static constexpr UINT_PTR kTimerId = 3;

  explicit CommandRunner(CommandRunnerServices services);

  // Queues the command mails a check stored; they run in this order, one
  // after another, each to its end.
  void processNewCommandMails(const std::vector<mime::MailId>& mails) { processor_.runMails(mails); }
  // WM_TIMER kTimerId: the next step of the mail that runs.
  void onTimer();
  // A mail runs or waits in the queue.
  bool busy() const { return processor_.busy(); }

 private:
  // command::CommandHost
  void startTimer(unsigned ms) override;
  bool mailRecord(mime::MailId mail, mime::MailIndexEntry* entry) override;
  mime::MailLogReader& mailLog() override { return services_.mailLog(); }
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


  CommandRunnerServices services_;
  command::CameraBridgeWin32 camera_;
  command::LocalActionsWin32 local_;
  command::CommandProcessor processor_;
};

}  // namespace app
