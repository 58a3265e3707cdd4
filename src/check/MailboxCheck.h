// The mailbox side of a mail check: for each message the server lists, the
// mailbox memory and the settings decide whether it is fetched, deleted
// without fetching (stored before, its DELE never happened) or left on the
// server; each fetched mail is decided by handleDownloadedMail and
// remembered; after a complete pass the memory forgets what has left the
// server.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "check/MailCheck.h"
#include "commlog/CommLog.h"
#include "config/AppSettings.h"
#include "mime/MimeMessage.h"
#include "pop3/Pop3Session.h"
#include "store/MailStore.h"
#include "store/MailboxMemory.h"

namespace check {

class MailboxCheck {
 public:
  MailboxCheck(const config::AppSettings& settings, store::MailStore& mailStore,
               const commlog::CommLog& log = commlog::commLog());

  // A check begins: the counts start at 0 and the memory of the settings'
  // mailbox is read from the mail-log folder, announced stores resolved
  // against the mail log.
  void begin();
  // Off: nothing is remembered or looked up (every mail is fetched, as
  // before the memory; benchmarks compare the two).
  void setMemoryEnabled(bool on) { memoryEnabled_ = on; }

  pop3::MessagePlan planMessage(const pop3::ListedMessage& message);
  pop3::MessageAnswer onMessageComplete(const pop3::ListedMessage& message, const char* data, size_t length);
  void onUnreceivable(const pop3::ListedMessage& message, uint64_t received);
  bool wantsHeaderIds() const;
  std::string headerId(const char* header, size_t length) const;
  void onMailboxDone(const std::vector<pop3::ListedMessage>& listing, bool withIds);

  CheckCounts& counts() { return counts_; }
  const CheckCounts& counts() const { return counts_; }
  store::MailboxMemory* memory() { return memory_.get(); }

 private:
  bool inLog(int64_t offset, uint64_t length, const std::string& digest);

  const config::AppSettings& settings_;
  store::MailStore& store_;
  const commlog::CommLog& log_;
  bool memoryEnabled_ = true;
  std::unique_ptr<store::MailboxMemory> memory_;
  CheckCounts counts_;
  mime::MimeMessage mail_;  // the mail being decided
};

// A whole check over a session driven by a poll loop (tools, tests,
// benchmarks): the host's decisions are the MailboxCheck's.
class PolledCheck : public pop3::Pop3Host {
 public:
  PolledCheck(const config::AppSettings& settings, store::MailStore& mailStore,
              const commlog::CommLog& log = commlog::commLog())
      : mailbox_(settings, mailStore, log) {}
  MailboxCheck& mailbox() { return mailbox_; }
  int failures() const { return failures_; }

  pop3::MessagePlan planMessage(const pop3::ListedMessage& m) override { return mailbox_.planMessage(m); }
  pop3::MessageAnswer onMessageComplete(const pop3::ListedMessage& m, const char* data, size_t length) override {
    return mailbox_.onMessageComplete(m, data, length);
  }
  void onUnreceivable(const pop3::ListedMessage& m, uint64_t received) override { mailbox_.onUnreceivable(m, received); }
  bool wantsHeaderIds() const override { return mailbox_.wantsHeaderIds(); }
  std::string headerId(const char* header, size_t length) override { return mailbox_.headerId(header, length); }
  void onMailboxDone(const std::vector<pop3::ListedMessage>& listing, bool withIds) override {
    mailbox_.onMailboxDone(listing, withIds);
  }
  void onSessionFailed() override { ++failures_; }
  void onSessionEnded() override {}
  int newMailCount() const override { return mailbox_.counts().newMailCount; }
  bool requestNotifications(net::TcpSocket&, int*) override { return true; }
  bool cancelNotifications(net::TcpSocket&, int*) override { return true; }

 private:
  MailboxCheck mailbox_;
  int failures_ = 0;
};

}  // namespace check
