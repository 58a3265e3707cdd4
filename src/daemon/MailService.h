// The engine of quorveld: the mail check of the Windows program (the check
// cycle: POP3 on the interval, or IMAP staying connected in IDLE, the
// mailbox memory, spam rules, the mail log under the state folder), the
// command mails of each batch through the camera bridge, the replies
// through the SMTP code. It sleeps in poll() until the session's socket,
// a signal or a deadline wakes it, so it uses no processor time while idle.
#pragma once
#include <cstdint>
#include <string>

#include "check/CheckCycle.h"
#include "check/MailboxCheck.h"
#include "command/CommandProcessor.h"
#include "commlog/CommLog.h"
#include "config/AppSettings.h"
#include "store/MailStore.h"

namespace service {

// What wakes the service besides mail. The signal pipe carries one byte a
// signal.
enum SignalByte : char { kSignalStop = 'T', kSignalReload = 'H' };

class ServiceEvents {
 public:
  virtual ~ServiceEvents() = default;
  // Work that time brings besides the checks (the motion bridge's tick):
  // the milliseconds until it wants to run again, -1 not before the next
  // command mail.
  virtual int64_t tick(int64_t nowMs) = 0;
  // SIGHUP, called when no check or command mail runs: reads the settings
  // again and applies them; false (logged) keeps the old ones.
  virtual bool reload() = 0;
};

class MailService : private check::CheckCycleHost, private command::CommandHost, private command::MailSender {
 public:
  MailService(config::AppSettings& settings, command::CameraBridge& camera, command::LocalActions& local,
              const commlog::CommLog& log);
  ~MailService() override;

  // Opens the mail log in settings.mailLogFolder (the current directory).
  void openStore();
  // Checks at once and then on the interval (a connected IMAP session
  // delivers new mail as it comes) until kSignalStop arrives on
  // `signalFd`. A check falls due only once the previous batch's commands
  // have all run; the connected session logs out at the end.
  void run(int signalFd, ServiceEvents& events);

 private:
  void startCheck(uint64_t nowMs);
  void onCheckFinished();
  void onProcessingFinished();
  void onSocketReady(short revents);
  // Reads the signal pipe: false once kSignalStop came.
  bool readSignals(int signalFd);
  uint64_t periodMs() const;

  // check::CheckCycleHost: the check's titles go to the log.
  void setTitle(const std::string& sjis) override;
  void onBatchStarted() override {}
  void postCheckFinished() override { checkFinishedPosted_ = true; }
  bool requestNotifications(net::TcpSocket& socket, int* error) override;
  void cancelNotifications(net::TcpSocket& socket) override;
  // command::CommandHost
  void startTimer(unsigned ms) override;
  bool mailRecord(mime::MailId mail, mime::MailIndexEntry* entry) override;
  mime::MailLogReader& mailLog() override { return store_; }
  void setMailStatus(mime::MailId mail, int outcome) override;
  void commandsFinished() override;
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
  check::MailboxCheck mailbox_;
  check::CheckCycle cycle_;
  command::CommandProcessor processor_;
  intptr_t socket_ = -1;                    // the session's socket, listened to in poll()
  bool checkFinishedPosted_ = false;        // the window's WM_USER+3
  bool processingFinishedPosted_ = false;   // WM_USER+10
  bool processingPending_ = false;          // a batch's command mails have not all run
  bool reloadWanted_ = false;
  bool stopWanted_ = false;
  int64_t timerDueMs_ = -1;                 // the command steps' timer; -1 none
  std::string lastTitle_;
};

}  // namespace service
