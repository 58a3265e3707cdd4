// Command processing as the main window runs it: the new command mails of a
// check, the hand-over between commands through WM_USER+9, the reply
// through Sendry and the outcome in the mail list.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "command/CameraBridgeWin32.h"
#include "command/CommandProcessor.h"
#include "command/LocalActionsWin32.h"
#include "config/AppSettings.h"
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
  // The token endpoint refused the grant: the title asks for a new sign-in.
  std::function<void()> signInNeeded;
  std::function<std::string()> guardFilePath;
};

class CommandRunner : private command::CommandHost, private command::MailSender {
 public:
  explicit CommandRunner(CommandRunnerServices services);

  // Runs the command mails among the rows from `firstRow` on, in row order,
  // each to its end. Stops at a mail whose text found no memory.
  void processNewCommandMails(int firstRow);
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
};

}  // namespace app
