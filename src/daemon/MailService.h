// The engine of quorveld: the mail check on its interval (POP3 through the
// portable session, spam rules, the mail log under the state folder), the
// command mails of each check through the camera bridge, the replies
// through the SMTP code. Waits with poll() between checks, so it uses no
// processor time while idle.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "check/MailCheck.h"
#include "command/CommandProcessor.h"
#include "commlog/CommLog.h"
#include "config/AppSettings.h"
#include "mime/MimeMessage.h"
#include "pop3/Pop3Session.h"
#include "store/MailStore.h"

namespace service {

// Work that time brings besides the checks (the motion bridge's tick):
// returns the milliseconds until it wants to run again, -1 not at all.
using Ticker = int64_t (*)(void* context, int64_t nowMs);

class MailService : private pop3::Pop3Host, private command::CommandHost, private command::MailSender {
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
  // pop3::Pop3Host
  pop3::MessageAnswer onMessageComplete(const char* data, size_t length) override;
  void onSessionFailed() override { ++failures_; }
  void onSessionEnded() override {}
  int newMailCount() const override { return counts_.newMailCount; }
  bool requestNotifications(net::TcpSocket&, int*) override { return true; }
  bool cancelNotifications(net::TcpSocket&, int*) override { return true; }
  bool wantsUniqueIds() const override { return settings_.replayGuard && settings_.keepOnServer; }
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
  mime::MimeMessage mail_;
  check::CheckCounts counts_;
  int failures_ = 0;
  pop3::Pop3Session* session_ = nullptr;
  mime::MailId currentMail_ = mime::kNoMail;  // the command mail being processed
  command::CommandProcessor processor_;
};

}  // namespace service
