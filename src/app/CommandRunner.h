// Command processing as the main window runs it: the new command mails of a
// check, the hand-over between commands through WM_USER+9, the reply
// through Sendry and the outcome in the mail list.
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
};

class CommandRunner : private command::CommandHost, private command::MailSender {
 public:
  explicit CommandRunner(CommandRunnerServices services);

  // Runs the command mails a check stored, in this order, each to its
  // end; a mail deleted meanwhile, or no longer waiting, is passed over.
  // Stops at a mail whose text found no memory.
  void processNewCommandMails(const std::vector<mime::MailId>& mails);
  // WM_USER+9: the next command of the current mail.
  void runNextCommand() { processor_.runNextCommand(); }

 private:
  // command::CommandHost
  void pause(unsigned ms) override { Sleep(ms); }
  void handOver() override;
  void pumpOneMessage() override;
  void setRowStatus(int row, int outcome) override;
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
  mime::MailId currentMail_ = mime::kNoMail;  // the mail being processed
};

}  // namespace app
