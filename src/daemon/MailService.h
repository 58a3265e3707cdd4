// The engine of quorveld: the mail check on its interval (POP3 through the
// portable session and the mailbox memory, spam rules, the mail log under
// the state folder), the
// command mails of each check through the camera bridge, the replies
// through the SMTP code. Waits with poll() between checks, so it uses no
// processor time while idle.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "check/MailboxCheck.h"
#include "command/CommandProcessor.h"
#include "commlog/CommLog.h"
#include "config/AppSettings.h"
#include "store/MailStore.h"

namespace service {

// Work that time brings besides the checks (the motion bridge's tick):
// returns the milliseconds until it wants to run again, -1 not at all.
using Ticker = int64_t (*)(void* context, int64_t nowMs);

class MailService : private command::CommandHost, private command::MailSender {
 public:
  MailService(config::AppSettings& settings, command::CameraBridge& camera, command::LocalActions& local,
              const commlog::CommLog& log);

  // Opens the mail log in settings.mailLogFolder (the current directory).
  void openStore();
  // One mail check and the commands of its command mails. Returns the
  // number of failures (0: the session ended well).
  int checkOnce();
  // Checks at once and then on the interval until `stopFd` becomes
  // readable (a signal's self-pipe). Between checks it sleeps in poll(),
  // waking early only for `ticker`.
  void run(int stopFd, Ticker ticker = nullptr, void* tickerContext = nullptr);

 private:
  // command::CommandHost
  void pause(unsigned ms) override;
  void handOver() override;
  void pumpOneMessage() override {}
  void setRowStatus(int row, int outcome) override;
  void clearPreview() override {}
  void saveSettings() override {}
  void trimStore() override;
  void removeExtractedAttachment() override {}
  std::string computerName() override;
  std::string guardFilePath() override;
  // command::MailSender
  int sendMail(const SendMailRequest& request) override;

  config::AppSettings& settings_;
  const commlog::CommLog& log_;
  store::MailStore store_;
  mime::MailId currentMail_ = mime::kNoMail;  // the command mail being processed
  command::CommandProcessor processor_;
};

}  // namespace service
