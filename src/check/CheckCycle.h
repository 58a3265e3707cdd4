// The mail-check cycle: what starts a check, its counters, the end of a
// batch (WM_USER+3), the end of its processing (WM_USER+10), and for a
// source that stays connected (IMAP) the push: new mail starts a batch of
// its own, the title says that the program waits for mail, and a lost
// connection is made again after 2 s, 4 s, … up to the check interval.
// Portable; the main window gives it a window's services (CheckCycleHost).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "check/MailCheck.h"
#include "check/MailSource.h"
#include "mime/MimeMessage.h"
#include "store/MailStore.h"

namespace check {

class CheckCycleHost {
 public:
  virtual ~CheckCycleHost() = default;
  virtual void setTitle(const std::string& sjis) = 0;
  // Posts WM_USER+3: the batch has ended.
  virtual void postCheckFinished() = 0;
  virtual int mailRowCount() = 0;
  virtual bool requestNotifications(net::TcpSocket& socket, int* error) = 0;
  virtual void cancelNotifications(net::TcpSocket& socket) = 0;
};

// The first pause before connecting again; it doubles up to the interval.
constexpr uint64_t kFirstReconnectMs = 2000;

class CheckCycle : private MailSink {
 public:
  using SourceFactory =
      std::function<std::unique_ptr<MailSource>(const config::AppSettings&, MailSink&, const commlog::CommLog&)>;

  CheckCycle(const config::AppSettings& settings, store::MailStore& store, mime::MimeMessage& mail,
             CheckCycleHost& host, const commlog::CommLog& log, SourceFactory factory = makeMailSource);
  ~CheckCycle() override;

  // A check by the timer or the menu (the caller has checked `busy`): a
  // new session, or a connected one looks for new mail at once.
  void startCheck(uint64_t nowMs);
  void onSocketEvent(int event);
  // Every second: the session's clock and a reconnection when it is due.
  void onWatchTick(uint64_t nowMs);
  // WM_USER+3: shows the summary; true when the batch stored mails (the
  // caller plays the sound and processes the command mails).
  bool onCheckFinished();
  // WM_USER+10.
  void onProcessingFinished();
  // The settings changed: a connected session that no longer matches them
  // logs out, and one for the new settings connects.
  void onSettingsChanged(uint64_t nowMs);
  // The program ends: a connected session logs out.
  void stop();

  bool busy() const { return busy_; }
  bool waitingForMail() const { return waiting_; }
  int checkStartIndex() const { return checkStartIndex_; }
  CheckCounts& counts() { return counts_; }
  int failureCount() const { return failureCount_; }
  // The pause before the next connection attempt (0: none planned).
  uint64_t reconnectDelayMs() const { return reconnectAt_ ? lastDelayMs_ : 0; }

 private:
  void beginBatch();
  void openSource(uint64_t nowMs);
  void scheduleReconnect(uint64_t nowMs);
  void showWaiting();
  uint64_t intervalMs() const;
  std::string accountKey() const;

  // MailSink
  pop3::MessageAnswer onMessage(const char* data, size_t length, const std::string& uniqueId) override;
  bool isKnown(const std::string& uniqueId) override;
  void onBatchEnded() override;
  void onWaiting() override;
  void onFailure() override;
  void onSourceEnded() override;
  int newMailCount() const override { return counts_.newMailCount; }
  bool requestNotifications(net::TcpSocket& socket, int* error) override;
  void cancelNotifications(net::TcpSocket& socket) override;

  const config::AppSettings& settings_;
  store::MailStore& store_;
  mime::MimeMessage& mail_;
  CheckCycleHost& host_;
  const commlog::CommLog& log_;
  SourceFactory factory_;
  std::unique_ptr<MailSource> source_;
  std::unique_ptr<MailSource> finished_;  // an ended source, freed outside its own calls
  std::string sourceKey_;

  bool busy_ = false;
  bool reported_ = false;  // WM_USER+3 posted for the current batch
  bool waiting_ = false;
  bool stopping_ = false;
  int checkStartIndex_ = 0;
  int failureCount_ = 0;
  int unreceivableCount_ = 0;
  CheckCounts counts_;
  std::string summary_;
  uint64_t nowMs_ = 0;
  uint64_t reconnectAt_ = 0;
  uint64_t nextDelayMs_ = kFirstReconnectMs;
  uint64_t lastDelayMs_ = 0;
  // Mails kept on the server and dealt with in this run (IMAP).
  std::set<std::string> seen_;
};

// The title while a connected session waits for new mail: the last
// summary and "受信待機中".
std::string checkWaitingTitle(const std::string& summary);

}  // namespace check
